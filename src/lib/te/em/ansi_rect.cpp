// Rectangular area operations of the VT420: copy between pages, fill and
// erase.  Coordinates are 1-based and relative to the origin in force;
// bottom and right are clamped to the screen.
#include <algorithm>
#include <cstring>

#include "em/ansi.h"
#include "em/em.h"
#include "vid/vid.h"

struct RcArea {
  int top, left, bottom, right;  // 0-based, inclusive
};

// A 1-based coordinate parameter as a 0-based screen position: 0 or
// missing gives `dflt`, the origin is added, the result is kept in 0..max.
static int rc_coord(te* t, int n, int origin, int dflt, int max) {
  long long v = vtgetpn(t, n);
  v = v <= 0 ? dflt : v - 1 + origin;
  return (int)std::clamp<long long>(v, 0, max);
}

// The area of parameters n..n+3; false when it is empty.
static bool rc_area(te* t, int n, RcArea* a) {
  int rows = t->vlines - 1, cols = t->vcols - 1;
  a->top = rc_coord(t, n, t->_vorigin, t->_vorigin, rows);
  a->left = rc_coord(t, n + 1, t->_horigin, t->_horigin, cols);
  a->bottom = rc_coord(t, n + 2, t->_vorigin, rows, rows);
  a->right = rc_coord(t, n + 3, t->_horigin, cols, cols);
  return a->top <= a->bottom && a->left <= a->right;
}

// Page number parameter (1-6) as a page index.
static int rc_page(te* t, int n) {
  return std::clamp(vtgetpn(t, n), 1, 6) - 1;
}

// Rows of a page: the live screen for the page shown, the saved rows of a
// page record otherwise; null when the page does not exist.
static CHATTR* const* rc_rows(te* t, int page, int* width) {
  if (page == t->_vcurpage) {
    *width = t->vcols;
    return t->_vscreen;
  }
  ALTSCREEN* p = t->_pages[page];
  if (!p || !p->a_vbegscr) return nullptr;
  *width = std::min(p->a_vcolmax, t->vcols);
  return p->a_vscreen;
}

static void rc_copy(te* t) {
  RcArea s;
  if (!rc_area(t, 1, &s)) return;
  int sp = rc_page(t, 5), dp = rc_page(t, 8);
  int dtop = rc_coord(t, 6, t->_vorigin, t->_vorigin, t->vlines - 1);
  int dleft = rc_coord(t, 7, t->_horigin, t->_horigin, t->vcols - 1);
  int sw, dw;
  CHATTR* const* src = rc_rows(t, sp, &sw);
  CHATTR* const* dst = rc_rows(t, dp, &dw);
  if (!src || !dst) return;
  s.right = std::min(s.right, sw - 1);
  int h = std::min(s.bottom - s.top + 1, t->vlines - dtop);
  int w = std::min({s.right - s.left + 1, dw - dleft});
  if (h <= 0 || w <= 0) return;
  // Rows are walked away from the overlap so that a copy within one page
  // moves the source as it was; memmove does the same within a row.
  bool up = src == dst && dtop > s.top;
  for (int i = 0; i < h; i++) {
    int k = up ? h - 1 - i : i;
    CHATTR* from = src[s.top + k];
    CHATTR* to = dst[dtop + k];
    if (!from || !to) continue;
    std::memmove(to + dleft, from + s.left, (size_t)w * sizeof(CHATTR));
    if (dp == t->_vcurpage) vid_touch_row(t, dtop + k, dleft, dleft + w - 1);
  }
}

static void rc_fill(te* t, const RcArea& a, CHATTR cell) {
  for (int y = a.top; y <= a.bottom; y++) {
    CHATTR* row = t->_vscreen[y];
    for (int x = a.left; x <= a.right; x++) row[x] = cell;
    vid_touch_row(t, y, a.left, a.right);
  }
}

void ansi_rect(te* t, int c) {
  RcArea a;
  switch (c) {
    case 'v':
      rc_copy(t);
      break;
    case 'x': {
      int ch = vtgetpn(t, 1);
      if (!((ch >= 32 && ch <= 126) || (ch >= 160 && ch <= 255))) break;
      if (rc_area(t, 2, &a)) rc_fill(t, a, EmGetDefaultAttr(t) | (CHATTR)ch);
      break;
    }
    case 'z':
      if (rc_area(t, 1, &a)) rc_fill(t, a, EmGetDefaultAttr(t) | CA_BLANK);
      break;
    default:  // `{`, selective erase of an area: nothing
      break;
  }
}
