// UTF-8 host data in the ground state of the Wyse families: the decoder
// that turns bytes into code points (U+FFFD for a broken sequence).
#include "em/wyse.h"

int wy_utf8(te* t, unsigned b, uint32_t* out) { return TCSUtf8Feed(t->unicodeContext, b, out); }

bool wy_utf8_break(te* t) { return TCSUtf8Break(t->unicodeContext); }
