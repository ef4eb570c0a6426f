// Scrollback ring of rows that left the top of the screen, and the view
// that shows it by pointing screen rows at saved rows.
#include <algorithm>
#include <cstring>

#include "em/em.h"
#include "vid/vid.h"

static void sb_release(scrollback* sb) {
  if (!sb) return;
  EmFree(sb->sbbegscr);
  EmFree(sb->sbscreen);
  EmFree(sb->sbvlattr);
  EmFree(sb);
}

// Allocates the ring storage of a scrollback record: max rows of cols cells.
static bool sb_alloc(scrollback* sb, int max, int cols) {
  sb->sbbegscr = (CHATTR*)EmAlloc((size_t)max * (size_t)cols * sizeof(CHATTR));
  sb->sbscreen = (CHATTR**)EmAlloc((size_t)max * sizeof(CHATTR*));
  sb->sbvlattr = (unsigned char*)EmAlloc((size_t)max);
  if (!sb->sbbegscr || !sb->sbscreen || !sb->sbvlattr) return false;
  for (int i = 0; i < max; i++) sb->sbscreen[i] = sb->sbbegscr + (size_t)i * cols;
  return true;
}

int sbinit(te* t, int max) {
  if (t->_sb || max <= 0) return 0;
  scrollback* sb = (scrollback*)EmAlloc(sizeof(scrollback));
  if (!sb || !sb_alloc(sb, max, 80)) {
    sb_release(sb);
    EmError(t, EMERR_SCROLLBACK);
    return -1;
  }
  sb->sbcols = sb->sbcolmax = 80;
  sb->sbcurline = 0;
  sb->sbfirstline = -1;
  sb->sblastline = 0;
  sb->sblinemax = max;
  t->_sb = sb;
  return 0;
}

void sbfree(te* t) {
  sb_release(t->_sb);
  t->_sb = nullptr;
}

void sbaddline(te* t, int y) {
  scrollback* sb = t->_sb;
  if (!sb || sb->sblinemax <= 0 || t->_vcurpage != 0 || y < 0 || y >= t->Lines) return;
  sb->sbfirstline = (sb->sbfirstline + 1) % sb->sblinemax;
  if (sb->sblastline < sb->sblinemax) sb->sblastline++;
  CHATTR* dst = sb->sbscreen[sb->sbfirstline];
  int n = std::min(sb->sbcols, t->vcols);
  std::memcpy(dst, t->_vscreen[y], (size_t)n * sizeof(CHATTR));
  if (n < sb->sbcolmax) {
    CHATTR blank = EmGetDefaultAttr(t) | CA_BLANK;
    for (int i = n; i < sb->sbcolmax; i++) dst[i] = blank;
  }
  sb->sbvlattr[sb->sbfirstline] = t->vlattr[y];
  t->sbadded++;
}

int sbresize(te* t, int cols) {
  scrollback* sb = t->_sb;
  if (!sb || sb->sblinemax <= 0) return 0;
  if (sb->sbcurline) sbdisplay(t, 0);  // screen rows may point into the ring
  if (cols > sb->sbcolmax) {
    scrollback fresh{};
    if (!sb_alloc(&fresh, sb->sblinemax, cols)) {
      EmFree(fresh.sbbegscr);
      EmFree(fresh.sbscreen);
      EmFree(fresh.sbvlattr);
      EmError(t, EMERR_SBWIDEN);
      // The old ring stays; never copy more than it holds.
      sb->sbcols = std::min(cols, sb->sbcolmax);
      return -1;
    }
    CHATTR blank = t->_vcurattr | CA_BLANK;
    for (int i = 0; i < sb->sblinemax; i++) {
      std::memcpy(fresh.sbscreen[i], sb->sbscreen[i], (size_t)sb->sbcolmax * sizeof(CHATTR));
      for (int c = sb->sbcolmax; c < cols; c++) fresh.sbscreen[i][c] = blank;
    }
    std::memcpy(fresh.sbvlattr, sb->sbvlattr, (size_t)sb->sblinemax);
    EmFree(sb->sbbegscr);
    EmFree(sb->sbscreen);
    EmFree(sb->sbvlattr);
    sb->sbbegscr = fresh.sbbegscr;
    sb->sbscreen = fresh.sbscreen;
    sb->sbvlattr = fresh.sbvlattr;
    sb->sbcolmax = cols;
    sb->sblastline = std::min(sb->sblastline, sb->sblinemax);
    if (sb->sbfirstline >= sb->sblinemax) sb->sbfirstline = sb->sblinemax - 1;
  }
  sb->sbcols = cols;
  return 0;
}

// Ring index of the row `back` rows above the live screen (1 = newest).
static int sb_index(const scrollback* sb, int back) {
  int i = (sb->sbfirstline - (back - 1)) % sb->sblinemax;
  return i < 0 ? i + sb->sblinemax : i;
}

CHATTR* sb_row(te* t, int back, unsigned char* lattr) {
  scrollback* sb = t->_sb;
  if (!sb || back < 1 || back > sb->sblastline) return nullptr;
  const int i = sb_index(sb, back);
  if (lattr) *lattr = sb->sbvlattr[i];
  return sb->sbscreen[i];
}

void sbdisplay(te* t, int n) {
  scrollback* sb = t->_sb;
  if (!sb || sb->sblinemax <= 0 || t->_vcurpage != 0) return;
  n = std::clamp(n, 0, sb->sblastline);
  if (n == sb->sbcurline) return;
  if (n == 0) {
    for (int y = 0; y < t->vlines; y++) {
      set_vscreen_ptr(t, y, sb->sbsavescreen[y]);
      t->vlattr[y] = sb->sbsavevlattr[y];
    }
    sb->sbcurline = 0;
    t->vdestline = sb->sbsavy;
    t->vdestcol = sb->sbsavx;
    VidPos(t, t->vdestline, t->vdestcol);
    EmSetAttr(t, sb->sbsavattr);
    vredraw(t);
    return;
  }
  if (sb->sbcurline == 0) {
    // The view must be at least as wide as the screen it stands in for.
    if (sb->sbcolmax < t->vcols && sbresize(t, t->vcols) < 0) return;
    for (int y = 0; y < t->vlines; y++) {
      sb->sbsavescreen[y] = t->_vscreen[y];
      sb->sbsavevlattr[y] = t->vlattr[y];
    }
    sb->sbsavx = t->vdestcol;
    sb->sbsavy = t->vdestline;
    sb->sbsavattr = t->_vcurattr;
    EmSetAttr(t, EmGetDefaultAttr(t));
  }
  for (int r = 0; r < t->vlines; r++) {
    int src = r - n;
    if (src >= 0) {
      set_vscreen_ptr(t, r, sb->sbsavescreen[src]);
      t->vlattr[r] = sb->sbsavevlattr[src];
    } else {
      int i = sb_index(sb, -src);
      set_vscreen_ptr(t, r, sb->sbscreen[i]);
      t->vlattr[r] = sb->sbvlattr[i];
    }
  }
  sb->sbcurline = n;
  sb->sblastdisp = n;
  vredraw(t);
}

void sbprev(te* t) {
  if (t->_vcurpage != 0) {
    vbell(t);
    return;
  }
  if (t->_sb) sbdisplay(t, t->_sb->sbcurline + 1);
}

void sbnext(te* t) {
  if (t->_vcurpage != 0) {
    vbell(t);
    return;
  }
  if (t->_sb) sbdisplay(t, t->_sb->sbcurline - 1);
}

void sbreset(te* t) {
  sbdisplay(t, 0);
}
