// Cursor moves of the Wyse, IBM 3151 and PC-term families: moves that wrap
// around the screen edges (protect-aware ones skip protected cells), the
// cursor addresses, tab stops, the scan for the next unprotected (or
// protected) cell with the knowledge that there is none (fam.fullprot),
// and the field tabs.
#include <algorithm>

#include "em/em.h"
#include "em/wyse.h"
#include "vid/vid.h"

void wy_setcur(te* t, int y, int x) {
  t->XNwrap = 0;
  t->vdestline = std::clamp(y, 0, std::max(t->vlines - 1, 0));
  t->vdestcol = std::clamp(x, 0, std::max(t->vcols - 1, 0));
  VidPos(t, t->vdestline, t->vdestcol);
}

bool wy_decaddr(te* t, int c) {
  TEFAM& f = t->fam;
  if (c == ' ') return false;
  if (c >= '0' && c <= '9') {
    int& v = f.decpart ? f.deccol : f.decrow;
    if (f.decdigits < 3) v = v * 10 + (c - '0');
    f.decdigits++;
    return false;
  }
  if (c == 'R' && !f.decpart) {
    f.decpart = 1;
    f.decdigits = 0;
    return false;
  }
  if (c == 'C' && f.decpart) cpos(t, std::max(f.decrow - 1, 0), std::max(f.deccol - 1, 0));
  if (t->vdestline >= t->vlines) wy_setcur(t, t->vlines - 1, t->vdestcol);
  return true;
}

// (A row's pending attribute may carry protection: it is taken first.)
static inline bool wy_prot(te* t, int y, int x) {
  wa_row(t, y);
  return (t->_vscreen[y][x] & CA_PROT) != 0;
}

void wy_up(te* t) {
  int y = t->vdestline - 1;
  wy_setcur(t, y < 0 ? t->vlines - 1 : y, t->vdestcol);
}

void wy_down(te* t) {
  int y = t->vdestline + 1;
  wy_setcur(t, y >= t->vlines ? 0 : y, t->vdestcol);
}

void wy_left(te* t, int protaware) {
  int y = t->vdestline, x = t->vdestcol - 1;
  if (x < 0) {
    x = t->vcols - 1;
    if (--y < 0) y = t->vlines - 1;
  }
  wy_setcur(t, y, x);
  if (protaware && t->_protect && wy_prot(t, y, x)) wy_protmove(t, -1, 0, 1);
}

void wy_right(te* t, int protaware) {
  int y = t->vdestline, x = t->vdestcol + 1;
  if (x >= t->vcols) {
    x = 0;
    if (++y >= t->vlines) y = 0;
  }
  wy_setcur(t, y, x);
  if (protaware && t->_protect && wy_prot(t, y, x)) wy_protmove(t, 1, 0, 1);
}

void wy_home(te* t, int protaware) {
  wy_setcur(t, 0, 0);
  if (protaware && t->_protect) wy_protmove(t, 1, 0, 1);
}

void wy_linefeed(te* t, int protaware) {
  // At the bottom the top row leaves the screen: it takes its pending
  // attribute first.
  if (t->vdestline >= t->vlines - 1) wa_row(t, 0);
  newline(t);
  if (protaware && t->_protect) wy_protmove(t, 1, 0, 1);
}

void wy_cr(te* t, int protaware) {
  wy_setcur(t, t->vdestline, 0);
  if (t->_vnlmode) {
    wy_linefeed(t, protaware);
    return;
  }
  if (protaware && t->_protect) wy_protmove(t, 1, 0, 1);
}

void wy_revlinefeed(te* t) {
  if (t->vdestline > 0) {
    wy_setcur(t, t->vdestline - 1, t->vdestcol);
    return;
  }
  int col = t->vdestcol;
  wa_row(t, t->vlines - 1);
  vdscroll(t, 0);
  wy_setcur(t, 0, col);
}

void wy_address(te* t, int row, int col) {
  cpos(t, std::max(row - 32, 0), std::max(col - 32, 0));
  if (t->vdestline >= t->vlines) wy_setcur(t, t->vlines - 1, t->vdestcol);
}

int wy_protmove(te* t, int dir, int wantprot, int self) {
  if (!wantprot && t->fam.fullprot) {
    wy_setcur(t, 0, 0);
    return 0;
  }
  // Row by row from the cursor, at most one screen (the cursor's row is
  // looked at again at the end, before the cursor).
  const CHATTR want = wantprot ? (CHATTR)CA_PROT : (CHATTR)0;
  const int cols = t->vcols, rows = t->vlines, y0 = t->vdestline, x0 = t->vdestcol;
  for (int k = 0; k <= rows; k++) {
    int y = ((y0 + dir * k) % rows + rows) % rows;
    wa_row(t, y);
    const CHATTR* row = t->_vscreen[y];
    int from, to;  // columns of this row to look at, in the direction of travel
    if (dir > 0) {
      from = k == 0 ? x0 + (self ? 0 : 1) : 0;
      to = k == rows ? x0 - 1 + (self ? 0 : 1) : cols - 1;
      for (int x = from; x <= to && x < cols; x++)
        if ((row[x] & CA_PROT) == want) {
          wy_setcur(t, y, x);
          return 1;
        }
    } else {
      from = k == 0 ? x0 - (self ? 0 : 1) : cols - 1;
      to = k == rows ? x0 + 1 - (self ? 0 : 1) : 0;
      for (int x = from; x >= to && x >= 0; x--)
        if ((row[x] & CA_PROT) == want) {
          wy_setcur(t, y, x);
          return 1;
        }
    }
  }
  if (!wantprot) t->fam.fullprot = 1;
  wy_setcur(t, 0, 0);
  return 0;
}

// Whether the cell at reading position p starts an unprotected field: it
// is unprotected and the cell before it (if any) is protected.
static bool wy_fieldstart(te* t, long p) {
  const long cols = t->vcols;
  if (wy_prot(t, (int)(p / cols), (int)(p % cols))) return false;
  if (p == 0) return true;
  return wy_prot(t, (int)((p - 1) / cols), (int)((p - 1) % cols));
}

static void wy_field(te* t, int dir) {
  if (t->fam.fullprot) {
    wy_setcur(t, 0, 0);
    return;
  }
  const long cols = t->vcols, total = (long)t->vlines * cols;
  const long pos = (long)t->vdestline * cols + t->vdestcol;
  for (long i = 1; i <= total; i++) {
    long p = ((pos + dir * i) % total + total) % total;
    if (wy_fieldstart(t, p)) {
      wy_setcur(t, (int)(p / cols), (int)(p % cols));
      return;
    }
  }
  // No field starts: no unprotected cell.
  t->fam.fullprot = 1;
  wy_setcur(t, 0, 0);
}

void wy_fieldfwd(te* t) {
  wy_field(t, 1);
}

void wy_fieldrev(te* t) {
  wy_field(t, -1);
}

void wy_tab(te* t, int wrap) {
  if (t->_protect) {
    wy_fieldfwd(t);
    return;
  }
  int y = t->vdestline, last = t->vcols - 1;
  for (int c = t->vdestcol + 1; c <= last && c < TE_MAXCOLS; c++)
    if (t->_tabs[c]) {
      wy_setcur(t, y, c);
      return;
    }
  if (!wrap) {
    wy_setcur(t, y, last);
    return;
  }
  wy_setcur(t, y, 0);
  wy_linefeed(t, 0);
}

void wy_backtab(te* t) {
  if (t->_protect) {
    wy_fieldrev(t);
    return;
  }
  int c = t->vdestcol - 1;
  while (c > 0 && !(c < TE_MAXCOLS && t->_tabs[c])) c--;
  wy_setcur(t, t->vdestline, std::max(c, 0));
}

void wy_keep_fullprot(te* t, int c) {
  // Bell and the cursor movements change no cell in protect mode.
  if (c != 0x07 && c != 0x08 && c != 0x09 && c != 0x0A && c != 0x0B && c != 0x0D && c != 0x16 && c != 0x1E &&
      c != 0x1F)
    t->fam.fullprot = 0;
}
