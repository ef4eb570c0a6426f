// Cell access, the changed rectangle the channel reads, the display-time
// character rule, and the drawn cursor.
#include <cstring>

#include "em/em.h"
#include "vid/vid.h"

CHATTR get_vscreen(te* t, int x, int y) {
  if (!t || x < 0 || y < 0 || y >= t->Lines || x >= t->_vcolmax || !t->_vscreen[y]) return 0;
  return t->_vscreen[y][x];
}

void update_vscreen_region(te* t, int x, int y) {
  VREGION& r = t->vscreen_region;
  if (r.top < 0 || y < r.top) r.top = y;
  if (r.bottom < 0 || y > r.bottom) r.bottom = y;
  if (r.left < 0 || x < r.left) r.left = x;
  if (r.right < 0 || x > r.right) r.right = x;
}

void set_vscreen(te* t, int x, int y, CHATTR cell) {
  if (!t || x < 0 || y < 0 || x >= t->vcols || y >= t->vlines) return;
  t->_vscreen[y][x] = cell;
  update_vscreen_region(t, x, y);
}

void vid_touch_row(te* t, int y, int x0, int x1) {
  if (y < 0 || y >= t->vlines) return;
  if (x0 < 0) x0 = 0;
  if (x1 >= t->vcols) x1 = t->vcols - 1;
  if (x1 < x0) return;
  VREGION& r = t->vscreen_region;
  if (r.top < 0 || y < r.top) r.top = y;
  if (r.bottom < 0 || y > r.bottom) r.bottom = y;
  if (r.left < 0 || x0 < r.left) r.left = x0;
  if (r.right < 0 || x1 > r.right) r.right = x1;
}

void vid_touch_rows(te* t, int top, int bottom) {
  if (top < 0) top = 0;
  if (bottom >= t->vlines) bottom = t->vlines - 1;
  if (bottom < top) return;
  vid_touch_row(t, top, 0, t->vcols - 1);
  vid_touch_row(t, bottom, 0, t->vcols - 1);
}

CHATTR* get_vscreen_ptr(te* t, int y) {
  if (!t || y < 0 || y >= TE_MAXLINES) return nullptr;
  return t->_vscreen[y];
}

void set_vscreen_ptr(te* t, int y, CHATTR* row) {
  if (!t || y < 0 || y >= TE_MAXLINES) return;
  t->_vscreen[y] = row;
  if (y < t->vlines) vid_touch_row(t, y, 0, t->vcols - 1);
}

void fill_vscreen(te* t, CHATTR cell) {
  if (!t) return;
  for (int y = 0; y < t->vlines; y++) {
    CHATTR* row = t->_vscreen[y];
    for (int x = 0; x < t->vcols; x++) row[x] = cell;
  }
  vid_touch_rows(t, 0, t->vlines - 1);
}

void vscreen_invalidate(te* t) {
  if (!t) return;
  t->vscreen_region = VREGION{-1, -1, -1, -1};
}

// Moves (x, y) by a signed offset in reading order, clamped to the screen.
static void vs_relative(te* t, int& x, int& y, int offset) {
  long long cols = t->vcols > 0 ? t->vcols : 1;
  long long pos = (long long)y * cols + x + offset;
  long long last = (long long)t->vlines * cols - 1;
  if (pos > last) pos = last;
  if (pos < 0) pos = 0;
  y = (int)(pos / cols);
  x = (int)(pos % cols);
}

CHATTR get_vscreen_relative(te* t, int x, int y, int offset) {
  if (!t) return 0;
  vs_relative(t, x, y, offset);
  return get_vscreen(t, x, y);
}

void set_vscreen_relative(te* t, int x, int y, CHATTR cell, int offset) {
  if (!t) return;
  vs_relative(t, x, y, offset);
  set_vscreen(t, x, y, cell);
}

int get_tcs(te* t, CHATTR cell) {
  if (cell & CA_INVIS) return 0x220;
  if ((cell & 0x7FF) == 0 && (cell & CA_UNI)) return 0;
  if (t->MBMode >= 2 && (cell & 0x80) && !(cell & (CA_TCS | CA_CSET))) return (int)((cell & 0xFFF) | 0x200);
  if (cell & CA_TCS) return (int)(cell & 0xFFF);
  if (t->GetTCSChar) return t->GetTCSChar(t, (int)(cell & 0xFFF));
  if (cell & 0x600) return (int)(cell & 0xFFF);
  int b = (int)(cell & CA_CHAR);
  if (t->EmCPtoTCS) return t->EmCPtoTCS[b];
  return b == 21 ? 757 : 0x200 + b;
}

uint32_t vid_cell_unicode(te* t, CHATTR cell) {
  uint32_t cp = ca_unicode(cell);
  if (cp && (cell & 0x7FF) == 0) return cp;
  int tcs = get_tcs(t, cell);
  if (tcs >= 0x200 && tcs < 0x200 + 768 && t->TCS2Unicode) return cp | t->TCS2Unicode[tcs - 0x200];
  return cp;
}

CHATTR vid_shown_cell(te* t, CHATTR cell) {
  if (cell & CA_EMBED) {
    if (t->teflags & TF_EMBEDCOLOR) return (cell & CA_ATTRPART & ~(CA_EMBED | CA_PROT)) | CA_BLANK;
    return (EmGetDefaultAttr(t) & CA_ATTRPART) | CA_BLANK;
  }
  if ((cell & CA_PROT) && t->protection) cell |= t->_protrev & CA_COMBO;
  return cell;
}

void VidPos(te* t, int row, int col) {
  if (!t->outflag) return;
  t->yPOS = row;
  t->xPOS = col;
  if (t->draw.cursor) t->draw.cursor(t, row, col);
}

void vidcurtype(te* t, int type) {
  if (type == -1) {
    t->vCaret = 1;
    if (t->draw.caret) t->draw.caret(t, 1, t->vcurshape);
    return;
  }
  if (!t->outflag) return;
  switch (type) {
    case 0:
      t->vCaret = 0;
      if (t->draw.caret) t->draw.caret(t, 0, t->vcurshape);
      break;
    case 1:
    case 2:
    case 3:
    case 4:
      t->vcurshape = type;
      if (t->draw.caret) t->draw.caret(t, t->vCaret, type);
      break;
    case 5:
      t->vCaret = 1;
      if (t->draw.caret) t->draw.caret(t, 1, t->vcurshape);
      break;
    default:
      break;
  }
}

void vbell(te* t) {
  if (t->hooks.bell) t->hooks.bell(t);
}
