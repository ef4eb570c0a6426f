// Display width of a Unicode character in terminal cells, after Markus
// Kuhn's wcwidth: 0 for NUL and combining characters, -1 for other control
// characters, 2 for East Asian wide and full-width characters, 1 otherwise.
#pragma once

#include <cstdint>

int mk_wcwidth(uint32_t ucs);
bool wc_combining_char(uint32_t ucs);
bool wc_wide_char(uint32_t ucs);

// One bit per character of the Basic Multilingual Plane: set when wide.
struct wc_bitset {
  uint64_t w[1024];
};
extern const wc_bitset wc_widebits;

// True when the character takes two cells; the print path's test.
inline bool wc_wide(uint32_t u) {
  if (u < 0x1100) return false;
  if (u < 0x10000) return (wc_widebits.w[u >> 6] >> (u & 63)) & 1;
  return wc_wide_char(u);
}
