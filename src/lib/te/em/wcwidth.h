// Display width of a Unicode character in terminal cells, after Markus
// Kuhn's wcwidth: 0 for NUL and combining characters, -1 for other control
// characters, 2 for East Asian wide and full-width characters, 1 otherwise.
#pragma once

#include <cstdint>

int mk_wcwidth(uint32_t ucs);
bool wc_combining_char(uint32_t ucs);

// True when the character takes two cells; the print path's fast test.
inline bool wc_wide(uint32_t u) {
  if (u < 0x1100) return false;
  bool wide = u <= 0x115F || u == 0x2329 || u == 0x232A || (u >= 0x2E80 && u <= 0xA4CF && u != 0x303F) ||
              (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFE10 && u <= 0xFE19) ||
              (u >= 0xFE30 && u <= 0xFE6F) || (u >= 0xFF00 && u <= 0xFF60) || (u >= 0xFFE0 && u <= 0xFFE6) ||
              (u >= 0x20000 && u <= 0x2FFFD) || (u >= 0x30000 && u <= 0x3FFFD);
  return wide && !wc_combining_char(u);
}
