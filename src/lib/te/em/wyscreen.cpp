// Cursor shapes, the screen features of ESC ` (how protected cells show,
// 80 and 132 columns) and page selection of the Wyse families.
#include "em/em.h"
#include "em/wyse.h"
#include "vid/vid.h"

void wy_cursorshape(te* t, int shape) {
  if (shape == 0) {
    vidcurtype(t, 0);
  } else if (shape >= 1 && shape <= 4) {
    vidcurtype(t, -1);
    vidcurtype(t, shape);
  } else if (shape == 5) {
    vidcurtype(t, 5);
  }
}

void wy_feature(te* t, int c) {
  switch (c) {
    case '0':
    case '2':
    case '3':
    case '4':
      wy_cursorshape(t, c - '0');
      break;
    case '1':
      wy_cursorshape(t, 5);
      break;
    case '5':
      wy_cursorshape(t, 1);
      break;
    case '6':
      t->_protrev = CA_REV;
      vid_touch_rows(t, 0, t->vlines - 1);
      break;
    case '7':
      t->_protrev = CA_BOLD;
      vid_touch_rows(t, 0, t->vlines - 1);
      break;
    case 'A':
      t->_protrev = 0;
      vid_touch_rows(t, 0, t->vlines - 1);
      break;
    case ':':
    case ';':
      wa_flush(t);
      set132col(t, (c == ';' ? 1 : 0) | 0x100);
      wa_sync(t);
      break;
    default:
      break;
  }
}

void wy_page(te* t, int n) {
  if (n < 0 || n >= t->vpages || n == t->_vcurpage) return;
  wa_flush(t);
  selpage(t, n, 1);
  wa_sync(t);
  vid_touch_rows(t, 0, t->vlines - 1);
}

void wy_pagestep(te* t, int dir) {
  if (t->vpages < 2) return;
  wy_page(t, (t->_vcurpage + dir + t->vpages) % t->vpages);
}
