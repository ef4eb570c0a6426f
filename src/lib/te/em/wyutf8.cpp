// UTF-8 host data in the ground state of the Wyse families: the decoder
// that turns bytes into code points (U+FFFD for a broken sequence).
#include "em/wyse.h"

int wy_utf8(te* t, unsigned b, uint32_t* out) {
  UTF8CTX& u = t->unicodeContext;
  int n = 0;
  if (u.need) {
    if (b >= u.lo && b <= u.hi) {
      u.cp = (u.cp << 6) | (b & 0x3F);
      u.lo = 0x80;
      u.hi = 0xBF;
      if (--u.need) return 0;
      out[0] = u.cp;
      return 1;
    }
    u.need = 0;
    out[n++] = 0xFFFD;
  }
  u.lo = 0x80;
  u.hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    u.need = 1;
    u.cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    u.need = 2;
    u.cp = b & 0x0F;
    if (b == 0xE0) u.lo = 0xA0;
    if (b == 0xED) u.hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    u.need = 3;
    u.cp = b & 0x07;
    if (b == 0xF0) u.lo = 0x90;
    if (b == 0xF4) u.hi = 0x8F;
  } else {
    out[n++] = 0xFFFD;
  }
  return n;
}

bool wy_utf8_break(te* t) {
  if (!t->unicodeContext.need) return false;
  t->unicodeContext.need = 0;
  return true;
}
