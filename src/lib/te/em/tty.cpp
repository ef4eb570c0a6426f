// TTY: a plain teletype.  No escape sequences: BS, HT, LF and CR move the
// cursor, BEL rings, every other byte is a character (controls show as
// their glyphs), and the line wraps and the screen scrolls (without
// scrollback) or, in no-scroll mode, wraps to the top.
#include <algorithm>
#include <cstring>

#include "em/em.h"
#include "em/pcterm.h"
#include "em/wyse.h"
#include "vid/vid.h"

const TEPROC tty_procs = {ttyemout, ttyemkey, ttyemblk, ttyeminit, ttyemwrite};

int ttyeminit(te* t, const char* name) {
  if (name && !EmSelectMember(t, tty_emlist, name)) return -1;
  t->GetCharSet = nullptr;
  t->GetTCSChar = nullptr;
  std::memset(&t->fam, 0, sizeof t->fam);
  t->fam.statcol = -1;
  return 0;
}

void ttyemblk(te* t, int c) {
  ttyemout(t, c);
}

// Down one row: past the last, to the top in no-scroll mode, else the
// screen scrolls up (the top row is not kept).
static void tty_lf(te* t) {
  int y = t->vdestline + 1;
  if (y >= t->vlines) {
    if (t->_vnoscroll) {
      y = 0;
    } else {
      vuscroll(t, 0, 1);
      y = t->vlines - 1;
    }
  }
  wy_setcur(t, y, t->vdestcol);
}

static void tty_store(te* t, CHATTR ch) {
  int y = t->vdestline, x = t->vdestcol;
  if (y < t->vlines && x < t->vcols) {
    t->_vscreen[y][x] = t->_vcurattr | ch;
    vid_touch_row(t, y, x, x);
  }
  if (x + 1 < t->vcols) {
    wy_setcur(t, y, x + 1);
  } else {
    wy_setcur(t, y, 0);
    tty_lf(t);
  }
}

static void tty_byte(te* t, int c) {
  if (c >= 0x80 && t->MBMode == 1) {
    uint32_t cp[2];
    int n = wy_utf8(t, (unsigned)c, cp);
    for (int i = 0; i < n; i++) tty_store(t, ca_from_unicode(cp[i]));
    return;
  }
  if (c < 0x80 && wy_utf8_break(t)) tty_store(t, ca_from_unicode(0xFFFD));
  switch (c) {
    case 0x07:
      vbell(t);
      return;
    case 0x08:
      if (t->vdestcol > 0) wy_setcur(t, t->vdestline, t->vdestcol - 1);
      return;
    case 0x09: {
      // Blanks to the next multiple of 8, at most to the last column.
      int y = t->vdestline, x = t->vdestcol;
      int stop = std::min((x / 8 + 1) * 8, t->vcols - 1);
      for (int c2 = x; c2 < stop; c2++) t->_vscreen[y][c2] = t->_vcurattr | CA_BLANK;
      if (stop > x) vid_touch_row(t, y, x, stop - 1);
      wy_setcur(t, y, std::max(stop, x));
      return;
    }
    case 0x0A:
      tty_lf(t);
      return;
    case 0x0D:
      wy_setcur(t, t->vdestline, 0);
      return;
    default:
      break;
  }
  if (c < 0x20 || c == 0x7F) {
    // Drawn as its glyph, and stored: the browser sees only stored cells.
    tty_store(t, CA_TCS | (CHATTR)(0x200 + c));
    return;
  }
  if (t->pdisptab) c = t->pdisptab[c];
  tty_store(t, (CHATTR)c);
}

void ttyemout(te* t, int c) {
  tty_byte(t, c & 0xFF);
}

// Printable ASCII up to the cell before the last column, stored at once
// (the last column wraps, which the byte path does).
static size_t tty_bulk(te* t, const unsigned char* p, size_t n) {
  int y = t->vdestline, x = t->vdestcol;
  if (t->unicodeContext.need || y >= t->vlines || x >= t->vcols - 1) return 0;
  int run = wy_ascii_run(p, (int)std::min<size_t>(n, (size_t)(t->vcols - 1 - x)));
  if (run == 0) return 0;
  CHATTR* row = t->_vscreen[y];
  const CHATTR attr = t->_vcurattr;
  if (t->pdisptab)
    for (int i = 0; i < run; i++) row[x + i] = attr | (CHATTR)t->pdisptab[p[i]];
  else
    for (int i = 0; i < run; i++) row[x + i] = attr | p[i];
  vid_touch_row(t, y, x, x + run - 1);
  wy_setcur(t, y, x + run);
  return (size_t)run;
}

void ttyemwrite(te* t, const unsigned char* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    if ((unsigned)p[i] - 0x20u < 0x5Fu) {
      size_t done = tty_bulk(t, p + i, n - i);
      if (done) {
        i += done;
        continue;
      }
    }
    tty_byte(t, p[i++]);
  }
}
