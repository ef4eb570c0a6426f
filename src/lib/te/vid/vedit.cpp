// Screen editing operations shared by every emulation: cursor addressing,
// wrap and line feed, scrolling (row pointers; cell by cell only inside
// left/right margins), insert/delete, the erase family with its protection
// and selective rules, clear and redraw.  Each operation leaves the cells,
// line attributes, cursor and changed rectangle consistent.
#include <algorithm>
#include <cstring>

#include "em/em.h"
#include "em/wcwidth.h"
#include "vid/vid.h"

static inline bool ve_double(te* t, int row) {
  return row >= 0 && row < TE_MAXLINES && (t->vlattr[row] & LA_WIDTH) != 0;
}

static inline CHATTR ve_blank(te* t) {
  return EmGetDefaultAttr(t) | CA_BLANK;
}

static inline void ve_fill(CHATTR* p, int n, CHATTR v) {
  int i = 0;
  for (; i + 8 <= n; i += 8)
    for (int k = 0; k < 8; k++) p[i + k] = v;
  for (; i < n; i++) p[i] = v;
}

static inline bool ve_wide(CHATTR c) {
  return (c & CA_UNI) && wc_wide(ca_unicode(c));
}

// An edit of row y moved or erased cells up to column x (from either
// side).  A double-width character it cut in two is blanked around x: a
// left half not followed by its right half (a 0 cell), which would be
// drawn two columns wide over its neighbour, and a 0 cell not preceded by a
// left half.
static void ve_wholewide_cut(te* t, int y, int x) {
  CHATTR* row = t->_vscreen[y];
  int fv = vid_fvcols(t, y);
  int c = std::max(x - 1, 0);
  if (c > 0 && row[c] == 0 && ve_wide(row[c - 1])) c--;
  int last = std::min(x + 1, t->vcols - 1);
  for (; c <= last; c++) {
    CHATTR v = row[c];
    if (ve_wide(v)) {
      if (c + 1 < fv && row[c + 1] == 0) {
        c++;
        continue;
      }
      row[c] = (v & CA_ATTRPART) | CA_BLANK;
    } else if (v == 0) {
      row[c] = t->_vcurattr | CA_BLANK;
    } else {
      continue;
    }
    vid_touch_row(t, y, c, c);
  }
}

// Whether a cell survives an erase that spares cells with `mask`: a right
// half (0) goes with its left half, which survived when `leftKept`.
static inline bool ve_survives(CHATTR c, bool leftKept, CHATTR mask) {
  return (c & mask) || (c == 0 && leftKept);
}

// Most rows hold no double-width character: nothing to look at then.
static inline bool ve_plain(CHATTR c) {
  return c != 0 && !(c & CA_UNI);
}
static inline void ve_wholewide(te* t, int y, int x) {
  const CHATTR* row = t->_vscreen[y];
  if (ve_plain(row[x]) && (x == 0 || ve_plain(row[x - 1])) && (x + 1 >= t->vcols || ve_plain(row[x + 1])))
    return;
  ve_wholewide_cut(t, y, x);
}

// Cursor placed without origin offsets or clamping to a region.
static void ve_setcur(te* t, int y, int x) {
  t->vdestline = y;
  t->vdestcol = x;
  VidPos(t, y, x);
}

void vid_region_off(te* t) {
  t->_vscregion = 0;
  t->_vscregtop = 0;
  t->_vscregbot = t->vlines - 1;
  t->_vorigin = 0;
  t->_horigin = 0;
}

void cpos(te* t, int y, int x) {
  t->XNwrap = 0;
  long long ymin, ymax, xmin, xmax;
  if (t->_vorigin || t->_horigin) {
    ymin = t->_vscregtop;
    ymax = t->_vscregbot;
    xmin = t->_vscregleft;
    xmax = t->_vscregright;
  } else {
    ymin = 0;
    ymax = t->Lines - 1;
    xmin = 0;
    xmax = t->vcols - 1;
  }
  long long yy = (long long)y + t->_vorigin;
  long long xx = (long long)x + t->_horigin;
  if (yy > ymax) yy = ymax;
  if (yy < ymin) yy = ymin;
  if (xx > xmax) xx = xmax;
  if (xx < xmin) xx = xmin;
  if (ve_double(t, (int)yy) && xx >= vid_fvcols(t, (int)yy)) xx /= 2;
  ve_setcur(t, (int)yy, (int)xx);
}

void cgoto(te* t) {
  VidPos(t, t->vdestline, t->vdestcol);
  t->XNwrap = 0;
}

void dowrap(te* t, int newlflag) {
  if (!newlflag) {
    t->vdestcol = (t->_vscregion && t->_horigin) ? t->_horigin : 0;
    if (t->vdestline >= 0 && t->vdestline < TE_MAXLINES) t->vlattr[t->vdestline] |= LA_WRAPPED;
  }
  if (t->_vscregion && t->vdestline == t->_vscregbot) {
    newline(t);
    return;
  }
  if (t->vdestline >= t->vlines) {
    // On the status row: there is nothing below to move to.
    cgoto(t);
    return;
  }
  t->vdestline++;
  if (t->vdestline > t->vlines - 1) {
    if (t->_vnoscroll || t->_protect) {
      t->vdestline = 0;
    } else {
      sbaddline(t, 0);
      vuscroll(t, 0, 1);
      t->vdestline = t->vlines - 1;
    }
  }
  cgoto(t);
}

void newline(te* t) {
  if (t->_prauto && t->hooks.printer) t->hooks.printer(t, TE_PRINT_LINE, nullptr, t->vdestline);
  if (!t->_vscregion) {
    dowrap(t, 1);
    return;
  }
  if (t->vdestline == t->_vscregbot) {
    int col = t->vdestcol;
    vsline(t, t->_vscregtop, t->_vscregbot, t->_vscregleft, t->_vscregright);
    t->vdestline = t->_vscregbot;
    t->vdestcol = col;
  } else if (t->vdestline < t->vlines - 1) {
    t->vdestline++;
  }
  cgoto(t);
}

void vcuradv(te* t) {
  int fv = vid_fvcols(t, t->vdestline);
  if (t->vdestcol + 1 >= fv) {
    if ((t->teflags & TF_DEFERWRAP) || !t->_AMon) {
      ve_setcur(t, t->vdestline, fv - 1);
      if (t->_AMon) t->XNwrap = 1;
    } else {
      dowrap(t, 0);
    }
  } else {
    ve_setcur(t, t->vdestline, t->vdestcol + 1);
  }
}

void vuscroll(te* t, int top, int /*draw*/) {
  int last = t->vlines - 1;
  if (top < 0 || top > last) return;
  CHATTR* r = t->_vscreen[top];
  std::memmove(&t->_vscreen[top], &t->_vscreen[top + 1], (size_t)(last - top) * sizeof(CHATTR*));
  std::memmove(&t->vlattr[top], &t->vlattr[top + 1], (size_t)(last - top));
  t->_vscreen[last] = r;
  t->vlattr[last] = 0;
  ve_fill(r, t->vcols, ve_blank(t));
  vid_touch_rows(t, top, last);
  if (t->draw.scroll) t->draw.scroll(t, top, last, 1);
}

void vdscroll(te* t, int top) {
  int last = t->vlines - 1;
  if (top < 0 || top > last) return;
  CHATTR* r = t->_vscreen[last];
  std::memmove(&t->_vscreen[top + 1], &t->_vscreen[top], (size_t)(last - top) * sizeof(CHATTR*));
  std::memmove(&t->vlattr[top + 1], &t->vlattr[top], (size_t)(last - top));
  t->_vscreen[top] = r;
  t->vlattr[top] = 0;
  ve_fill(r, t->vcols, ve_blank(t));
  vid_touch_rows(t, top, last);
  if (t->draw.scroll) t->draw.scroll(t, top, last, 0);
}

void vsline(te* t, int top, int bottom, int left, int right) {
  int last = t->vlines - 1;
  top = std::clamp(top, 0, last);
  bottom = std::clamp(bottom, 0, last);
  left = std::clamp(left, 0, t->vcols - 1);
  right = std::clamp(right, 0, t->vcols - 1);
  t->vdestline = top;
  t->vdestcol = 0;
  bool complex = left > 0 || (right != t->vcols - 1 && right != 0);
  CHATTR blank = ve_blank(t);
  int lo = std::min(top, bottom), hi = std::max(top, bottom);
  if (!complex) {
    if (top <= bottom) {
      CHATTR* r = t->_vscreen[top];
      std::memmove(&t->_vscreen[top], &t->_vscreen[top + 1], (size_t)(bottom - top) * sizeof(CHATTR*));
      std::memmove(&t->vlattr[top], &t->vlattr[top + 1], (size_t)(bottom - top));
      t->_vscreen[bottom] = r;
    } else {
      CHATTR* r = t->_vscreen[top];
      std::memmove(&t->_vscreen[bottom + 1], &t->_vscreen[bottom], (size_t)(top - bottom) * sizeof(CHATTR*));
      std::memmove(&t->vlattr[bottom + 1], &t->vlattr[bottom], (size_t)(top - bottom));
      t->_vscreen[bottom] = r;
    }
    ve_fill(t->_vscreen[bottom], t->vcols, blank);
    vid_touch_rows(t, lo, hi);
    if (t->draw.scroll) t->draw.scroll(t, lo, hi, top <= bottom);
  } else {
    int n = right - left + 1;
    if (top <= bottom) {
      for (int y = top; y < bottom; y++)
        std::memmove(t->_vscreen[y] + left, t->_vscreen[y + 1] + left, (size_t)n * sizeof(CHATTR));
    } else {
      for (int y = top; y > bottom; y--)
        std::memmove(t->_vscreen[y] + left, t->_vscreen[y - 1] + left, (size_t)n * sizeof(CHATTR));
    }
    ve_fill(t->_vscreen[bottom] + left, n, blank);
    for (int y = lo; y <= hi; y++) vid_touch_row(t, y, left, right);
  }
  t->vlattr[bottom] = 0;
  if (t->vdestline != bottom) {
    t->vdestline = bottom;
    t->vdestcol = 0;
  }
  VidPos(t, t->vdestline, t->vdestcol);
}

void vdline(te* t, int row) {
  if (row < 0 || row >= t->vlines) return;
  vuscroll(t, row, 1);
  ve_setcur(t, row, 0);
}

void viline(te* t, int row) {
  if (row < 0 || row >= t->vlines) return;
  vdscroll(t, row);
  ve_setcur(t, row, 0);
}

// End (exclusive) of the stretch that insert/delete shift on the cursor
// row: the usable width, or in protect mode the first protected cell right
// of the cursor.  -1 when that cell is immediately right of the cursor.
static int ve_stretch(te* t, const CHATTR* row, int x, int fv) {
  if (!t->_protect) return fv;
  for (int p = x + 1; p < fv; p++) {
    if (row[p] & CA_PROT) return p == x + 1 ? -1 : p;
  }
  return fv;
}

int vinsert(te* t, CHATTR cell, int advance) {
  int y = t->vdestline;
  if (y < 0 || y >= t->vlines) return 0;
  int fv = vid_fvcols(t, y);
  int x = std::min(t->vdestcol, fv - 1);
  CHATTR* row = t->_vscreen[y];
  int end = ve_stretch(t, row, x, fv);
  if (end < 0) {
    vbell(t);
    return 0;
  }
  if (end - 1 > x) std::memmove(row + x + 1, row + x, (size_t)(end - 1 - x) * sizeof(CHATTR));
  row[x] = t->_vcurattr | (cell & (CA_CHARPART | CA_UNI));
  vid_touch_row(t, y, x, end - 1);
  ve_wholewide(t, y, x);
  ve_wholewide(t, y, end - 1);
  ve_setcur(t, y, std::min(x + advance, fv - 1));
  return 1;
}

void vdelete(te* t, int count) {
  int y = t->vdestline;
  if (y < 0 || y >= t->vlines || count <= 0) return;
  int fv = vid_fvcols(t, y);
  int x = t->vdestcol;
  if (x >= fv) return;
  CHATTR* row = t->_vscreen[y];
  int end = ve_stretch(t, row, x, fv);
  if (end < 0) {
    vbell(t);
    return;
  }
  int len = end - x;
  int n = std::min(count, len);
  if (len - n > 0) std::memmove(row + x, row + x + n, (size_t)(len - n) * sizeof(CHATTR));
  ve_fill(row + end - n, n, t->_vcurattr | CA_BLANK);
  vid_touch_row(t, y, x, end - 1);
  ve_wholewide(t, y, x);
  ve_wholewide(t, y, end - n);
}

void verasech(te* t, int y, int x, int count) {
  if (y < 0 || y >= t->Lines) return;
  if (y < t->vlines) {
    int fv = vid_fvcols(t, y);
    long long stop = std::min((long long)x + std::max(count, 0), (long long)fv);
    CHATTR* row = t->_vscreen[y];
    CHATTR v = t->_vcurattr | CA_BLANK;
    int first = std::max(x, 0);
    bool kept = first > 0 && t->_protect && (row[first - 1] & CA_PROT);
    for (int c = first; c < stop; c++) {
      kept = t->_protect && ve_survives(row[c], kept, CA_PROT);
      if (!kept) row[c] = v;
    }
    if (stop > x) {
      vid_touch_row(t, y, x, (int)stop - 1);
      ve_wholewide(t, y, std::max(x, 0));
      ve_wholewide(t, y, (int)stop - 1);
    }
  }
  ve_setcur(t, y, x);
}

// Erases columns x0..x1 of a row by the normal or selective rule.
static void ve_erase(te* t, int y, int x0, int x1, bool honourprot) {
  if (y < 0 || y >= t->vlines || x1 < x0) return;
  CHATTR* row = t->_vscreen[y];
  if (t->erasemode) {
    bool kept = x0 > 0 && (row[x0 - 1] & CA_SELPROT);
    for (int c = x0; c <= x1; c++) {
      kept = ve_survives(row[c], kept, CA_SELPROT);
      if (!kept) row[c] = (row[c] & CA_ATTRPART) | CA_BLANK;
    }
  } else {
    CHATTR v = t->_vcurattr | CA_BLANK;
    if (honourprot && t->_protect) {
      bool kept = x0 > 0 && (row[x0 - 1] & CA_PROT);
      for (int c = x0; c <= x1; c++) {
        kept = ve_survives(row[c], kept, CA_PROT);
        if (!kept) row[c] = v;
      }
    } else {
      ve_fill(row + x0, x1 - x0 + 1, v);
    }
  }
  vid_touch_row(t, y, x0, x1);
  ve_wholewide(t, y, x0);
  ve_wholewide(t, y, x1);
}

void _vclreol(te* t, int y, int x, int clrattr) {
  if (y < 0 || y >= t->Lines) return;
  if (x < 0) x = 0;
  ve_setcur(t, y, x);
  if (x == 0 && clrattr) t->vlattr[y] = 0;
  t->vlattr[y] &= (unsigned char)~LA_WRAPPED;
  ve_erase(t, y, x, vid_fvcols(t, y) - 1, true);
}

void vclreol(te* t, int y, int x) {
  _vclreol(t, y, x, 1);
}

void _vclrbol(te* t, int y, int x, int clrattr) {
  if (y < 0 || y >= t->Lines) return;
  int fv = vid_fvcols(t, y);
  if (x >= fv) x = fv - 1;
  if (x < 0) x = 0;
  ve_setcur(t, y, 0);
  if (x == fv - 1 && clrattr) t->vlattr[y] = 0;
  ve_erase(t, y, 0, x, false);
  ve_setcur(t, y, x);
}

void vclrbol(te* t, int y, int x) {
  _vclrbol(t, y, x, 1);
}

void vclreos(te* t, int y, int x) {
  if (t->_cleartosb)
    for (int r = 0; r < t->vlines; r++) sbaddline(t, r);
  _vclreol(t, y, x, 1);
  for (int r = y + 1; r < t->vlines; r++) _vclreol(t, r, 0, 1);
  ve_setcur(t, y, x);
}

void vclear(te* t) {
  vclear2(t, t->_cleartosb);
}

void vclear2(te* t, int sbflag) {
  if (sbflag)
    for (int r = 0; r < t->vlines; r++) sbaddline(t, r);
  t->XNwrap = 0;
  EmSetAttr(t, EmGetDefaultAttr(t));
  if (!t->erasemode) {
    std::memset(t->vlattr, 0, (size_t)t->vlines);
    CHATTR v = t->_vcurattr | t->_dimattr | CA_BLANK;
    for (int r = 0; r < t->vlines; r++) ve_fill(t->_vscreen[r], t->vcols, v);
    vid_touch_rows(t, 0, t->vlines - 1);
    if (t->draw.clear) t->draw.clear(t);
  } else {
    for (int r = 0; r < t->vlines; r++) ve_erase(t, r, 0, t->vcols - 1, false);
  }
  ve_setcur(t, 0, 0);
}

void vredraw(te* t) {
  _vredraw(t, 0, 0, t->Lines, t->vcols, 0, 0);
}

// Nothing draws in this engine: a redraw changes neither cells nor state.
void _vredraw(te*, int, int, int, int, int, int) {}

void _vreline(te* t, int row, int first, int last) {
  if (row < 0 || row >= t->vlines) return;
  first = std::max(first, 0);
  last = std::min(last, t->vcols - 1);
  for (int c = first; c <= last; c++) set_vscreen(t, c, row, t->_vscreen[row][c]);
}

void _vrechar(te* t, int row, int col, CHATTR cell) {
  set_vscreen(t, col, row, cell);
}

void attroff(te* t, EMSAVE* s) {
  s->emsavattr = t->_vcurattr;
  s->emsavdim = t->_dimattr;
  s->emsavprot = t->_protect;
  s->emsavgraph = t->vt;
  s->emsavins = t->_vinsmode;
  s->emGLsav = t->vt.GL;
  s->emGRsav = t->vt.GR;
  t->_dimattr = 0;
  t->_protect = 0;
  t->_vinsmode = 0;
  t->vt.GL = 0;
  t->vt.SShift = 0;
  EmSetAttr(t, EmGetDefaultAttr(t));
}

void attron(te* t, const EMSAVE* s) {
  t->_dimattr = s->emsavdim;
  t->_protect = s->emsavprot;
  t->vt = s->emsavgraph;
  t->vt.GL = s->emGLsav;
  t->vt.GR = s->emGRsav;
  t->_vinsmode = s->emsavins;
  EmSetAttr(t, s->emsavattr);
}

void testdisp(te* t, int c) {
  vclear(t);
  CHATTR v = ((CHATTR)c & CA_CHARPART) | t->_vcurattr;
  for (int r = 0; r < t->vlines; r++) ve_fill(t->_vscreen[r], t->vcols, v);
  vid_touch_rows(t, 0, t->vlines - 1);
}
