// Clears of the Wyse, IBM 3151 and PC-term families (everything,
// unprotected cells, protected blanks, with a fill character), the erases
// to the end of the line and of the screen, and line and character
// insertion and deletion.
#include <algorithm>

#include "em/em.h"
#include "em/wyse.h"
#include "vid/vid.h"

namespace {
// Insert mode, graphics and autowrap are left as they were by a clear.
struct WySaved {
  int ins, graph, am;
  explicit WySaved(te* t) : ins(t->_vinsmode), graph(t->_vcharset), am(t->_AMon), t_(t) {}
  ~WySaved() {
    t_->_vinsmode = ins;
    t_->_vcharset = graph;
    t_->_AMon = am;
  }
  te* t_;
};
}  // namespace

void wy_clrall(te* t, int resetmodes) {
  WySaved saved(t);
  wa_flush(t);
  if (resetmodes) {
    t->_dimattr = 0;
    t->_protect = 0;
  }
  vclear(t);
  if ((t->_clearto & CA_CHAR) != CA_BLANK) {
    CHATTR v = t->_vcurattr | t->_dimattr | (t->_clearto & CA_CHARPART);
    fill_vscreen(t, v);
  }
  wy_setcur(t, 0, 0);
}

void wy_clrunprot(te* t) {
  WySaved saved(t);
  wa_flush(t);
  const bool fill = (t->_clearto & CA_CHAR) != CA_BLANK;
  for (int y = 0; y < t->vlines; y++) {
    CHATTR* row = t->_vscreen[y];
    int x = 0;
    bool any = false;
    while (x < t->vcols) {
      if (row[x] & CA_PROT) {
        x++;
        continue;
      }
      CHATTR a = row[x] & CA_ATTRPART & ~CA_EMBED;
      CHATTR ch = fill ? (t->_clearto & CA_CHARPART) : CA_BLANK;
      for (; x < t->vcols && !(row[x] & CA_PROT); x++) row[x] = (fill ? (row[x] & CA_ATTRPART) : a) | ch;
      any = true;
    }
    if (any) vid_touch_row(t, y, 0, t->vcols - 1);
  }
  wy_home(t, 1);
}

void wy_clrprotblank(te* t) {
  WySaved saved(t);
  wa_flush(t);
  vclear(t);
  fill_vscreen(t, t->_vcurattr | CA_PROT | CA_BLANK);
  wy_setcur(t, 0, 0);
}

void wy_clrfill(te* t, int fill, int unprot) {
  CHATTR saved = t->_clearto;
  t->_clearto = (CHATTR)(fill & 0xFF);
  if (unprot)
    wy_clrunprot(t);
  else
    wy_clrall(t, 0);
  t->_clearto = saved;
}

void wy_eraseeol(te* t) {
  int y = t->vdestline, x = t->vdestcol;
  wa_row(t, y);
  CHATTR* row = t->_vscreen[y];
  int end = t->vcols;
  if (t->_protect)
    for (int c = x; c < t->vcols; c++)
      if (row[c] & CA_PROT) {
        end = c;
        break;
      }
  CHATTR v = t->_vcurattr | CA_BLANK;
  for (int c = x; c < end; c++) row[c] = v;
  if (end > x) vid_touch_row(t, y, x, end - 1);
  wy_setcur(t, y, x);
}

void wy_eraseeos(te* t) {
  int y = t->vdestline, x = t->vdestcol;
  wa_flush(t);
  vclreos(t, y, x);
  wy_setcur(t, y, x);
}

void wy_insline(te* t) {
  int y = t->vdestline;
  if (y >= t->vlines) return;
  wa_row(t, t->vlines - 1);
  viline(t, y);
}

void wy_delline(te* t) {
  int y = t->vdestline;
  if (y >= t->vlines) return;
  wa_row(t, y);
  vdline(t, y);
}

void wy_inschar(te* t) {
  wa_row(t, t->vdestline);
  int x = t->vdestcol;
  vinsert(t, CA_BLANK, 0);
  wy_setcur(t, t->vdestline, x);
}

void wy_delchar(te* t) {
  wa_row(t, t->vdestline);
  vdelete(t, 1);
}
