// Fuzz target of the ANSI/VT parser: arbitrary bytes into every member, at
// 24x80 and 250x132, cut into reads of varying size with resizes between
// them.  After every read the engine's invariants must hold: the cursor on
// the screen, the changed rectangle inside it or empty, distinct rows.
// Built as a libFuzzer target with KVX_FUZZ; the unit tests run it too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "te/te.h"

namespace {

const int kMembers[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 31, 32, 35};

void check(te* t) {
  bool ok = t->vdestline >= 0 && t->vdestline < t->Lines && t->vdestcol >= 0 && t->vdestcol < t->vcols &&
            t->vlines >= 1 && t->vlines <= TE_MAXLINES && t->vcols >= 1 && t->vcols <= TE_MAXCOLS;
  const VREGION& r = t->vscreen_region;
  if (r.top < 0)
    ok = ok && r.left < 0 && r.bottom < 0 && r.right < 0;
  else
    ok = ok && r.top <= r.bottom && r.left <= r.right && r.bottom < t->vlines && r.right < t->vcols &&
         r.left >= 0;
  for (int a = 0; ok && a < t->Lines; a++)
    for (int b = a + 1; b < t->Lines; b++) ok = ok && t->_vscreen[a] != t->_vscreen[b] && t->_vscreen[b];
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  int member = kMembers[data[0] % (sizeof kMembers / sizeof kMembers[0])];
  bool big = data[0] & 0x80;
  bool utf8 = data[1] & 1;
  te* t = TEInit(nullptr, nullptr);
  sbfree(t);
  sbinit(t, 64);
  t->emode = member;
  t->Lines = big ? 250 : 24;
  t->Cols = big ? 132 : 80;
  t->vextend = 1;
  t->MBMode = utf8;
  t->fgcolor[0] = 8;
  t->bgcolor[0] = 1;
  if (!TeNew(t)) {
    TEDestroy(t);
    return 0;
  }
  size_t i = 2;
  unsigned step = data[1] >> 1;
  while (i < size) {
    size_t n = 1 + (step * 37 + i) % 700;
    if (n > size - i) n = size - i;
    vscreen_invalidate(t);
    if (step & 1)
      TEemwrite(t, data + i, n);
    else
      for (size_t k = 0; k < n; k++) TEemout(t, data[i + k]);
    check(t);
    i += n;
    step = step * 5 + 3;
    if (step % 11 == 0) {
      vsetsize(t, 1 + (int)(step % 260), 1 + (int)((step >> 3) % 140), 0);
      check(t);
    }
  }
  TEDestroy(t);
  return 0;
}
