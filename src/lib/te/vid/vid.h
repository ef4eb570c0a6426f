// Screen operations of the character-mode engine: cell access and the
// changed rectangle, the drawn cursor, screen block, resize and reflow,
// scrollback, pages, and the editing operations every emulation uses.
// Coordinates are 0-based, x = column, y = row.
#pragma once

#include "te/terec.h"

// ---- cells and the changed rectangle (vscreen.cpp)
CHATTR get_vscreen(te* t, int x, int y);
void set_vscreen(te* t, int x, int y, CHATTR cell);
void update_vscreen_region(te* t, int x, int y);
CHATTR* get_vscreen_ptr(te* t, int y);
void set_vscreen_ptr(te* t, int y, CHATTR* row);
void fill_vscreen(te* t, CHATTR cell);
void vscreen_invalidate(te* t);
CHATTR get_vscreen_relative(te* t, int x, int y, int offset);
void set_vscreen_relative(te* t, int x, int y, CHATTR cell, int offset);
// Widen the changed rectangle by columns x0..x1 of row y (bulk writers).
void vid_touch_row(te* t, int y, int x0, int x1);
// Mark whole rows top..bottom (clipped to the emulated screen) changed.
void vid_touch_rows(te* t, int top, int bottom);

// Internal character code of a cell as shown; 0 for a cell drawn from its
// own Unicode code point.
int get_tcs(te* t, CHATTR cell);
// Unicode code point shown for a cell (0 when none is known).
uint32_t vid_cell_unicode(te* t, CHATTR cell);
// A cell as it is shown: an embedded attribute cell is a blank in the
// default attribute (in its own attribute where the emulation draws them in
// colour), and a protected cell also takes the protected-field attribute.
CHATTR vid_shown_cell(te* t, CHATTR cell);

// ---- drawn cursor and drawing seam (vscreen.cpp)
void VidPos(te* t, int row, int col);
void vidcurtype(te* t, int type);
void vbell(te* t);

// ---- screen block, size, status line (vsize.cpp)
int eminit(te* t);
void vsetsize(te* t, int rows, int cols, int force);
void _vsetsize(te* t, int rows, int cols, int force, int wraplines);
void set132col(te* t, int flag);
void vidstatline(te* t, int type, int column);
// Layout for a drawing surface of (height << 16 | width) pixels, 0 for the
// last one: with extended sizing the surface decides rows and columns.
void vidcalc(te* t, int size);
void vidsetlog(te* t, int lines, int cols, int status);
void vid_freescreen(te* t);

// ---- scrollback (vsback.cpp)
int sbinit(te* t, int max);
void sbaddline(te* t, int y);
int sbresize(te* t, int cols);
void sbdisplay(te* t, int n);
void sbnext(te* t);
void sbprev(te* t);
void sbreset(te* t);
void sbfree(te* t);
// Row `back` rows above the live screen (1 = newest), or null.
CHATTR* sb_row(te* t, int back);

// ---- pages (vpage.cpp)
int crpages(te* t, int n);
void selpage(te* t, int n, int refresh);
void selnext(te* t);
void selprev(te* t);
void freepages(te* t);

// ---- editing (vedit.cpp)
// Usable width of a row: half the screen on a double-width or double-height
// row, the right margin + 1 while a scrolling region is on, else the width.
inline int vid_fvcols(te* t, int row) {
  if (row >= 0 && row < TE_MAXLINES && (t->vlattr[row] & LA_WIDTH))
    return t->vcols / 2 > 0 ? t->vcols / 2 : 1;
  if (t->_vscregion) return t->_vscregright + 1 < t->vcols ? t->_vscregright + 1 : t->vcols;
  return t->vcols;
}
void cpos(te* t, int y, int x);
void cgoto(te* t);
void dowrap(te* t, int newlflag);
void newline(te* t);
void vcuradv(te* t);  // advance after a stored character
void vuscroll(te* t, int top, int draw);
void vdscroll(te* t, int top);
void vsline(te* t, int top, int bottom, int left, int right);
void vdline(te* t, int row);
void viline(te* t, int row);
int vinsert(te* t, CHATTR cell, int advance);  // 0 when the bell rang instead
void vdelete(te* t, int count);
void verasech(te* t, int y, int x, int count);
void vclreol(te* t, int y, int x);
void _vclreol(te* t, int y, int x, int clrattr);
void vclrbol(te* t, int y, int x);
void _vclrbol(te* t, int y, int x, int clrattr);
void vclreos(te* t, int y, int x);
void vclear(te* t);
void vclear2(te* t, int sbflag);
void vredraw(te* t);
void _vredraw(te* t, int uy, int ux, int ly, int lx, int clearRegion, int clearScreen);
void _vreline(te* t, int row, int first, int last);
void _vrechar(te* t, int row, int col, CHATTR cell);
void attroff(te* t, EMSAVE* save);
void attron(te* t, const EMSAVE* save);
void testdisp(te* t, int c);
// Scrolling region off: whole screen, origins 0.
void vid_region_off(te* t);
