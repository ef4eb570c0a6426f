// The screen a stream leaves does not depend on how the stream is cut into
// reads: one large write, random cuts and one byte at a time (the path
// without the bulk print) give the same cells, cursor, modes, scrollback and
// changed rectangle.
#include <gtest/gtest.h>

#include <string>

#include "corpus.h"
#include "term.h"

namespace {

// Everything observable of a terminal, as text for a readable diff.
std::string snapshot(const Term& term) {
  te* t = term.t;
  std::string s;
  char buf[160];
  for (int y = 0; y < t->Lines; y++) {
    std::snprintf(buf, sizeof buf, "%d la=%02x:", y, t->vlattr[y]);
    s += buf;
    for (int x = 0; x < t->vcols; x++) {
      std::snprintf(buf, sizeof buf, " %llx", (unsigned long long)t->_vscreen[y][x]);
      s += buf;
    }
    s += "\n";
  }
  if (t->_sb) {
    for (int back = 1; back <= t->_sb->sblastline; back++) {
      const CHATTR* r = sb_row(t, back);
      s += "sb";
      s += std::to_string(back);
      s += ":";
      for (int x = 0; x < t->_sb->sbcols; x++) {
        std::snprintf(buf, sizeof buf, " %llx", (unsigned long long)r[x]);
        s += buf;
      }
      s += "\n";
    }
  }
  const VREGION& r = t->vscreen_region;
  std::snprintf(buf, sizeof buf,
                "cur %d,%d drawn %d,%d wrap %d attr %llx state %d dcs %d page %d region %d %d-%d "
                "changed %d,%d,%d,%d GL %d GR %d sets %d%d%d%d ss %d vemode %x size %dx%d\n",
                t->vdestline, t->vdestcol, t->yPOS, t->xPOS, t->XNwrap, (unsigned long long)t->_vcurattr,
                t->_emstate, t->_vtdcson, t->_vcurpage, t->_vscregion, t->_vscregtop, t->_vscregbot, r.top,
                r.left, r.bottom, r.right, t->vt.GL, t->vt.GR, t->vt.CharSet[0], t->vt.CharSet[1],
                t->vt.CharSet[2], t->vt.CharSet[3], t->vt.SShift, t->_vemode, t->vlines, t->vcols);
  s += buf;
  corpus_put(s, "title ", term.title, " sent ", term.sent, " printed ", term.printed, "\n");
  return s;
}

Term::Options opts(int emode, int rows, int cols, bool utf8) {
  Term::Options o;
  o.emode = emode;
  o.rows = rows;
  o.cols = cols;
  o.utf8 = utf8;
  o.scrollback = 50;
  return o;
}

struct Config {
  int emode, rows, cols;
  bool utf8;
};

const Config kConfigs[] = {{35, 24, 80, true}, {3, 24, 80, true}, {5, 24, 80, false}, {9, 25, 80, false},
                           {6, 24, 80, true},  {7, 24, 80, true}, {32, 24, 80, true}, {31, 24, 80, false},
                           {35, 7, 10, true},  {3, 5, 13, false}, {8, 6, 9, false},   {1, 4, 132, true}};

TEST(SplitInvariance, RandomCutsGiveTheSameScreenAsOneWrite) {
  for (int kind = 0; kind < 5; kind++) {
    for (const Config& su : kConfigs) {
      Corpus gen(1000 + kind * 31 + su.emode);
      const std::string data = gen.kind(kind, kind == 4 ? 12000 : 24000);
      Term whole(opts(su.emode, su.rows, su.cols, su.utf8));
      whole.feed(data);
      const std::string want = snapshot(whole);

      Term bytes(opts(su.emode, su.rows, su.cols, su.utf8));
      bytes.feedBytewise(data);
      ASSERT_EQ(snapshot(bytes), want) << "kind " << kind << " emulation " << su.emode << " byte at a time";

      for (int round = 0; round < 3; round++) {
        Term cut(opts(su.emode, su.rows, su.cols, su.utf8));
        Corpus cuts(77 + round);
        size_t i = 0;
        while (i < data.size()) {
          size_t n = 1 + cuts.pick(round == 0 ? 3 : round == 1 ? 40 : 5000);
          n = std::min(n, data.size() - i);
          cut.feed(std::string_view(data).substr(i, n));
          i += n;
        }
        ASSERT_EQ(snapshot(cut), want) << "kind " << kind << " emulation " << su.emode << " round " << round;
      }
    }
  }
}

// Invariants that hold after any input: cursor on the screen, changed
// rectangle inside it or empty, distinct row pointers.
TEST(SplitInvariance, HostileInputKeepsTheScreenConsistent) {
  for (const Config& su : kConfigs) {
    Term term(opts(su.emode, su.rows, su.cols, su.utf8));
    Corpus gen(5 + su.emode);
    for (int round = 0; round < 40; round++) {
      vscreen_invalidate(term.t);
      term.feed(gen.hostile(600));
      te* t = term.t;
      ASSERT_GE(t->vdestline, 0);
      ASSERT_LT(t->vdestline, t->Lines);
      ASSERT_GE(t->vdestcol, 0);
      ASSERT_LT(t->vdestcol, t->vcols);
      const VREGION& r = t->vscreen_region;
      if (r.top < 0) {
        ASSERT_TRUE(r.left < 0 && r.bottom < 0 && r.right < 0);
      } else {
        ASSERT_LE(r.top, r.bottom);
        ASSERT_LE(r.left, r.right);
        ASSERT_LT(r.bottom, t->vlines);
        ASSERT_LT(r.right, t->vcols);
      }
      for (int a = 0; a < t->Lines; a++)
        for (int b = a + 1; b < t->Lines; b++) ASSERT_NE(t->_vscreen[a], t->_vscreen[b]);
      if (round % 10 == 9) vsetsize(t, 3 + gen.pick(40), 2 + gen.pick(140), 0);
    }
  }
}

}  // namespace
