// Alternate pages: page records, and showing a page by swapping the row
// pointers, block, cursor and attribute of the live screen with it.
#include <cstring>

#include "em/em.h"
#include "vid/vid.h"

// Gives a page a fresh block of Lines rows of _vcolmax cells, blank, with
// its cursor at row 0.
static bool pg_newblock(te* t, ALTSCREEN* p) {
  int rows = t->Lines;
  size_t cells = (size_t)rows * (size_t)t->_vcolmax;
  CHATTR* block = (CHATTR*)EmAlloc(cells * sizeof(CHATTR));
  if (!block) return false;
  CHATTR blank = t->_vcurattr | CA_BLANK;
  for (size_t i = 0; i < cells; i++) block[i] = blank;
  std::memset(p->a_vscreen, 0, sizeof p->a_vscreen);
  for (int r = 0; r < rows; r++) p->a_vscreen[r] = block + (size_t)r * t->_vcolmax;
  std::memset(p->a_vlattr, 0, sizeof p->a_vlattr);
  p->a_vbegscr = block;
  p->a_vendscr = block + cells;
  p->a_vcolmax = t->_vcolmax;
  p->a_vscrsize = cells * sizeof(CHATTR);
  p->a_vdestline = 0;
  p->a_vdestcol = 0;
  p->a_vcurattr = t->_vcurattr;
  p->a_vbegcol = 0;
  p->a_vendcol = t->Cols - 1;
  return true;
}

int crpages(te* t, int n) {
  if (n <= 1) return 0;
  if (n > TE_MAXPAGES) n = TE_MAXPAGES;
  int made = 0;
  for (int i = 0; i < n; i++) {
    if (t->_pages[i]) {
      made++;
      continue;
    }
    t->_pages[i] = (ALTSCREEN*)EmAlloc(sizeof(ALTSCREEN));
    if (!t->_pages[i]) {
      EmError(t, EMERR_PAGE);
      break;
    }
    made++;
  }
  for (int i = made - 1; i >= 1; i--) {
    if (i == t->_vcurpage || t->_pages[i]->a_vbegscr) continue;
    if (!pg_newblock(t, t->_pages[i])) {
      EmError(t, EMERR_PAGE);
      EmFree(t->_pages[i]);
      t->_pages[i] = nullptr;
    }
  }
  selpage(t, 0, 0);
  return made;
}

void freepages(te* t) {
  for (int i = 0; i < TE_MAXPAGES; i++) {
    ALTSCREEN* p = t->_pages[i];
    if (!p) continue;
    // The shown page's block is the live one; it is freed with the screen.
    if (i != t->_vcurpage) EmFree(p->a_vbegscr);
    EmFree(p);
    t->_pages[i] = nullptr;
  }
}

void selpage(te* t, int n, int refresh) {
  if (n == t->_vcurpage || n < 0 || n >= TE_MAXPAGES) return;
  ALTSCREEN* cur = t->_pages[t->_vcurpage];
  ALTSCREEN* next = t->_pages[n];
  if (!cur || !next || !next->a_vbegscr) return;
  if (t->_sb && t->_sb->sbcurline) sbdisplay(t, 0);
  std::memcpy(cur->a_vscreen, t->_vscreen, sizeof cur->a_vscreen);
  std::memcpy(cur->a_vlattr, t->vlattr, sizeof cur->a_vlattr);
  cur->a_vbegscr = t->_vbegscr;
  cur->a_vendscr = t->_vendscr;
  cur->a_vcolmax = t->_vcolmax;
  cur->a_vscrsize = t->_vscrsize;
  cur->a_vdestline = t->vdestline;
  cur->a_vdestcol = t->vdestcol;
  cur->a_vcurattr = t->_vcurattr;
  cur->a_vbegcol = t->vbegcol;
  cur->a_vendcol = t->vendcol;
  for (int y = 0; y < TE_MAXLINES; y++) set_vscreen_ptr(t, y, next->a_vscreen[y]);
  std::memcpy(t->vlattr, next->a_vlattr, sizeof t->vlattr);
  t->_vbegscr = next->a_vbegscr;
  t->_vendscr = next->a_vendscr;
  t->_vcolmax = next->a_vcolmax;
  t->_vscrsize = next->a_vscrsize;
  t->vdestline = next->a_vdestline;
  t->vdestcol = next->a_vdestcol;
  t->_vcurattr = next->a_vcurattr;
  t->vbegcol = next->a_vbegcol;
  t->vendcol = next->a_vendcol;
  t->_vcurpage = n;
  t->XNwrap = 0;
  VidPos(t, t->vdestline, t->vdestcol);
  if (refresh) vredraw(t);
}

void selnext(te* t) {
  if (t->vpages < 2) return;
  selpage(t, (t->_vcurpage + 1) % t->vpages, 1);
}

void selprev(te* t) {
  if (t->vpages < 2) return;
  selpage(t, (t->_vcurpage + t->vpages - 1) % t->vpages, 1);
}
