// Display width of a Unicode character in terminal cells, as the C library
// counts it for programs on the host (bash, less): 0 for NUL and for the
// zero-width characters (combining marks, format characters, Hangul medial
// vowels and finals), -1 for other control characters, 2 for wide and
// full-width characters (CJK, emoji with their own presentation), 1
// otherwise.  The table is generated from the Unicode data by
// scripts/gen_wcwidth.py.
#pragma once

#include <cstdint>

int mk_wcwidth(uint32_t ucs);
bool wc_zero_char(uint32_t ucs);
bool wc_wide_char(uint32_t ucs);
// The character a zero-width mark makes with the character before it (its
// canonical composition, or a Hangul syllable), 0 when they do not compose.
uint32_t wc_compose(uint32_t base, uint32_t mark);

// One bit per character of the Basic Multilingual Plane.
struct wc_bitset {
  uint64_t w[1024];
};
extern const wc_bitset wc_widebits;
extern const wc_bitset wc_zerobits;

constexpr bool wc_bit(const wc_bitset& b, uint32_t u) {
  return (b.w[u >> 6] >> (u & 63)) & 1;
}

// Width class of every character of the Basic Multilingual Plane, two bits
// each: WC_NARROW, WC_WIDE or WC_ZERO.
enum : int { WC_NARROW = 0, WC_WIDE = 1, WC_ZERO = 2 };
struct wc_classes {
  uint64_t w[2048];
};
extern const wc_classes wc_classbits;

// The print path's one test per character.
inline int wc_class(uint32_t u) {
  if (u < 0x300) return WC_NARROW;
  if (u < 0x10000) return (int)((wc_classbits.w[u >> 5] >> ((u & 31) * 2)) & 3);
  return wc_zero_char(u) ? WC_ZERO : wc_wide_char(u) ? WC_WIDE : WC_NARROW;
}

// True when the character takes two cells.
inline bool wc_wide(uint32_t u) {
  if (u < 0x1100) return false;
  if (u < 0x10000) return wc_bit(wc_widebits, u);
  return wc_wide_char(u);
}

// True when the character takes no cell of its own.
inline bool wc_zero(uint32_t u) {
  if (u < 0x300) return false;
  if (u < 0x10000) return wc_bit(wc_zerobits, u);
  return wc_zero_char(u);
}
