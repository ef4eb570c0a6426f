// Browser cells of a block-mode window row (bit layout: fws_cell.h).
#include "fws_cell.h"

#include <algorithm>

void blk_row_cells(const fws_window* w, int row, int cols, int fgDefault, int bgDefault, uint64_t* out) {
  cols = std::clamp(cols, 0, FWS_MAXCOLS);
  if (!w->screenchars || row < 0 || row >= w->scrbuffer.y) {
    std::fill_n(out, cols, blk_cell(' ', 0, 0, fgDefault, bgDefault));
    return;
  }
  COLORREF fg[FWS_MAXCOLS], bg[FWS_MAXCOLS];
  fws_rowcolors(w, row, fg, bg, cols);
  const uint16_t* ch = w->screenchars + (size_t)row * FWS_MAXCOLS;
  const uint8_t* at = w->screenattrs + (size_t)row * FWS_MAXCOLS;
  const uint8_t* fl = w->screenflags + (size_t)row * FWS_MAXCOLS;
  // Runs of one colour are common: look each colour up once per run.
  COLORREF lastFg = ~fg[0], lastBg = ~bg[0];
  int fgIndex = fgDefault, bgIndex = bgDefault;
  for (int c = 0; c < cols; c++) {
    if (fg[c] != lastFg) fgIndex = fws_colorindex16(w, lastFg = fg[c], fgDefault);
    if (bg[c] != lastBg) bgIndex = fws_colorindex16(w, lastBg = bg[c], bgDefault);
    out[c] = blk_cell(ch[c], at[c], fl[c], fgIndex, bgIndex);
  }
}
