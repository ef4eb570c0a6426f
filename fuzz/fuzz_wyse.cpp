// Fuzz target of the Wyse 50 family, the Wyse 60, the IBM 3151 family,
// PC-term and TTY: arbitrary bytes into every member, at 24x80 and 250x132, cut into reads of varying size
// with resizes between them.  Each input goes to two terminals, one fed in bulk and one in small pieces (a
// byte at a time on some reads): their cells, cursors, replies and status lines must agree (the bulk paths
// and the lazy attribute propagation keep every rule of one byte), and after every read the engine's
// invariants must hold: the cursor on the screen, the changed rectangle inside it or empty, distinct rows, no
// attribute still pending, the status-line writer inside its line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "te/te.h"

namespace {

const int kMembers[] = {10, 11, 13, 14, 15, 16, 17, 33, 34, 12, 18, 19, 20, 21};

struct Sink {
  std::string sent, printed;
};

void check(te* t) {
  bool ok = t->vdestline >= 0 && t->vdestline < t->vlines && t->vdestcol >= 0 && t->vdestcol < t->vcols &&
            t->vlines >= 1 && t->vlines <= TE_MAXLINES && t->vcols >= 1 && t->vcols <= TE_MAXCOLS;
  const VREGION& r = t->vscreen_region;
  if (r.top < 0)
    ok = ok && r.left < 0 && r.bottom < 0 && r.right < 0;
  else
    ok = ok && r.top <= r.bottom && r.left <= r.right && r.bottom < t->vlines && r.right < t->vcols &&
         r.left >= 0;
  for (int a = 0; ok && a < t->Lines; a++)
    for (int b = a + 1; b < t->Lines; b++) ok = ok && t->_vscreen[a] != t->_vscreen[b] && t->_vscreen[b];
  ok = ok && t->fam.ntint == 0 && t->fam.statcol < t->vcols && t->fam.textlen <= TE_FAMTEXT;
  if (!ok) std::abort();
}

void same(te* a, te* b, const Sink& sa, const Sink& sb) {
  bool ok = a->vlines == b->vlines && a->vcols == b->vcols && a->vdestline == b->vdestline &&
            a->vdestcol == b->vdestcol && sa.sent == sb.sent && sa.printed == sb.printed &&
            a->labels.on == b->labels.on &&
            std::memcmp(a->labels.status, b->labels.status, sizeof a->labels.status) == 0;
  for (int y = 0; ok && y < a->vlines; y++)
    ok = std::memcmp(a->_vscreen[y], b->_vscreen[y], sizeof(CHATTR) * (size_t)a->vcols) == 0;
  if (!ok) std::abort();
}

te* make(int member, bool big, bool utf8, bool printer, bool readback, Sink* sink) {
  te* t = TEInit(nullptr, nullptr);
  sbfree(t);
  sbinit(t, 64);
  t->emode = member;
  t->Lines = big ? 250 : 24;
  t->Cols = big ? 132 : 80;
  t->vextend = 1;
  t->MBMode = utf8;
  t->readback = readback;
  t->fgcolor[0] = 8;
  t->bgcolor[0] = 1;
  t->app = sink;
  t->hooks.bcomout = [](te* t, const char* b, int n) { ((Sink*)t->app)->sent.append(b, (size_t)n); };
  if (printer)
    t->hooks.printer = [](te* t, int request, const char* b, int n) {
      if (request == TE_PRINT_BYTES) ((Sink*)t->app)->printed.append(b, (size_t)n);
    };
  if (!TeNew(t)) {
    TEDestroy(t);
    return nullptr;
  }
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  int member = kMembers[(data[0] & 0x7F) % (sizeof kMembers / sizeof kMembers[0])];
  bool big = data[0] & 0x80;
  bool utf8 = data[1] & 1;
  Sink sa, sb;
  te* a = make(member, big, utf8, data[1] & 2, data[1] & 4, &sa);
  te* b = make(member, big, utf8, data[1] & 2, data[1] & 4, &sb);
  if (!a || !b) std::abort();
  size_t i = 2;
  unsigned step = data[1] >> 3;
  while (i < size) {
    size_t n = 1 + (step * 37 + i) % 700;
    if (n > size - i) n = size - i;
    vscreen_invalidate(a);
    TEemwrite(a, data + i, n);
    // The twin takes the same bytes in small pieces (one byte at a time
    // every few reads), so that every rule the bulk paths and the lazy
    // propagation keep is checked against a different cut.
    for (size_t k = 0; k < n;) {
      size_t piece = (step & 3) == 0 ? 1 : 1 + (k * 7 + step) % 13;
      if (piece > n - k) piece = n - k;
      if (piece == 1)
        TEemout(b, data[i + k]);
      else
        TEemwrite(b, data + i + k, piece);
      k += piece;
    }
    check(a);
    check(b);
    same(a, b, sa, sb);
    i += n;
    step = step * 5 + 3;
    if (step % 11 == 0) {
      int rows = 1 + (int)(step % 260), cols = 1 + (int)((step >> 3) % 140);
      vsetsize(a, rows, cols, 0);
      vsetsize(b, rows, cols, 0);
      check(a);
      same(a, b, sa, sb);
    }
  }
  TEDestroy(a);
  TEDestroy(b);
  return 0;
}
