// Lazy attribute propagation of the Wyse 50 family.  An attribute cell
// colours every following cell up to the next attribute cell, on some
// members to the end of the screen.  Done eagerly, a host that streams
// attribute changes would make every one of them rewrite the rest of the
// screen.  Here a propagation rewrites its own row at once and only marks
// each following row that holds no attribute cell with the attribute it is
// to take (a tint); the row takes it when anything touches it, and at the
// latest when the pass over the host's bytes ends.  A propagation thus
// costs rows + columns, not rows x columns.
//
// Rows are identified by their slot in the cell block: row pointers move
// on scrolling and line insertion, and a row's marks move with it.
#include <cstring>

#include "em/wyse.h"
#include "vid/vid.h"

static inline int wa_slot(te* t, int y) {
  const CHATTR* r = t->_vscreen[y];
  if (!r || r < t->_vbegscr || r >= t->_vendscr || t->_vcolmax < 1) return -1;
  // A block holds at most 250 rows of 132 cells: 32-bit division.
  unsigned s = (unsigned)(r - t->_vbegscr) / (unsigned)t->_vcolmax;
  return s < (unsigned)TE_MAXLINES ? (int)s : -1;
}

void wa_sync(te* t) {
  TEFAM& f = t->fam;
  if (f.pblock == t->_vbegscr && f.pcolmax == t->_vcolmax && f.plines == t->Lines) return;
  // A new block (resize, page): nothing is known about its rows.
  f.pblock = t->_vbegscr;
  f.pcolmax = t->_vcolmax;
  f.plines = t->Lines;
  std::memset(f.hint, 1, sizeof f.hint);
  std::memset(f.tinted, 0, sizeof f.tinted);
  f.ntint = 0;
}

static inline CHATTR wa_keep(te* t) {
  return t->fam.keep ? t->fam.keep : WY_KEEP;
}

static void wa_paint(te* t, int y, int x0, int x1, CHATTR a, CHATTR keep) {
  if (x1 < x0) return;
  CHATTR* row = t->_vscreen[y];
  for (int c = x0; c <= x1; c++) row[c] = (row[c] & ~keep) | a;
  vid_touch_row(t, y, x0, x1);
}

void wa_row_slow(te* t, int y) {
  if (y < 0 || y >= t->vlines) return;
  TEFAM& f = t->fam;
  int s = wa_slot(t, y);
  if (s < 0 || !f.tinted[s]) return;
  f.tinted[s] = 0;
  f.ntint--;
  wa_paint(t, y, 0, t->vcols - 1, f.tint[s], wa_keep(t));
}

void wa_flush(te* t) {
  for (int y = 0; y < t->vlines && t->fam.ntint > 0; y++) wa_row_slow(t, y);
  t->fam.ntint = 0;
}

void wa_mark(te* t, int y) {
  if (y < 0 || y >= t->vlines) return;
  wa_row(t, y);
  int s = wa_slot(t, y);
  if (s >= 0) t->fam.hint[s] = 1;
}

// First attribute cell of a row at or after x, or `cols` (four cells a
// step while none is among them).
static inline int wa_findcell(const CHATTR* row, int x, int cols) {
  int c = x;
  for (; c + 4 <= cols; c += 4)
    if ((row[c] | row[c + 1] | row[c + 2] | row[c + 3]) & CA_EMBED) break;
  for (; c < cols; c++)
    if (row[c] & CA_EMBED) return c;
  return cols;
}

bool wa_prop(te* t, int y, int x, CHATTR attr, CHATTR keep, int wide) {
  if (y < 0 || y >= t->vlines) return false;
  TEFAM& f = t->fam;
  const int cols = t->vcols;
  const CHATTR a = attr & keep;
  if (x < cols) {
    wa_row(t, y);
    int e = wa_findcell(t->_vscreen[y], x, cols);
    wa_paint(t, y, x, e - 1, a, keep);
    if (e < cols) return true;
  }
  if (!wide) return false;
  for (int r = y + 1; r < t->vlines; r++) {
    int s = wa_slot(t, r);
    if (s >= 0 && f.hint[s]) {
      // The row may hold an attribute cell: look.
      int e = wa_findcell(t->_vscreen[r], 0, cols);
      if (e < cols) {
        wa_paint(t, r, 0, e - 1, a, keep);
        return true;
      }
      f.hint[s] = 0;
    }
    if (s < 0) {
      wa_paint(t, r, 0, cols - 1, a, keep);
      continue;
    }
    if (!f.tinted[s]) {
      f.tinted[s] = 1;
      f.ntint++;
    }
    f.tint[s] = a;
  }
  return false;
}
