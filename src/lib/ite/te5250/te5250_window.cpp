// The 5250 view over the formatted text window.
#include "te5250_window.h"

#include <algorithm>
#include <cstring>

static_assert(int{CELL_PROTECTED} == int{FWS_CF_PROTECTED} &&
                  int{CELL_NONDISPLAY} == int{FWS_CF_NONDISPLAY} &&
                  int{CELL_FIELDATTR} == int{FWS_CF_FIELDATTR} && int{CELL_MODIFIED} == int{FWS_CF_MODIFIED},
              "the 5250 cell flags are the window's");
static_assert(CColor::kColors == FWS_RGBMAP_SIZE, "one colour table");

CFwsCtrl::CFwsCtrl(fws_window* window) : m_pTE(window) {
  fws_window* w = m_pTE;
  if (!w->screenchars) StdInit(w, nullptr);
  w->is5250 = true;
  tnRGBFillDefault(w);
  fws_setcolormode(w, 1);
  // Painters store what they are given: no control characters act, no
  // run wraps on to the next row.
  fws_interpret_chars(w, 0);
  fws_setwrapline(w, 0);
  fws_newfgc(w, 0xFFFFFFFF);
  fws_newbgc(w, 0xFF000000);
  w->lowestUpdate = w->highestUpdate = -1;
}

void CFwsCtrl::OnData(const EVENTDATA& run) {
  fws_window* w = m_pTE;
  const int rows = w->NumberLines > 0 ? w->NumberLines : w->wndsize.y;
  const int cols = w->NumberColumns > 0 ? w->NumberColumns : w->wndsize.x;
  if (run.m_StartRow < 1 || run.m_StartRow > rows || run.m_StartCol < 1 || run.m_StartCol > cols) return;
  const int n = std::min(run.m_DataLength, cols - run.m_StartCol + 1);
  if (n <= 0) return;
  const unsigned flags = run.m_DisplayData.m_Attributes;
  int attr = 0;
  if (flags & ATTR_REVERSE) attr |= FWS_A_REVERSE;
  if (flags & ATTR_UNDERSCORE) attr |= FWS_A_UNDERLINE;
  if (flags & ATTR_BLINK) attr |= FWS_A_BLINK;
  if ((flags & ATTR_COLUMN_SEP) && m_FieldDots) attr |= FWS_A_PLACEHOLDER;
  const int row = rows - run.m_StartRow;
  fws_caretpos(w, run.m_StartCol - 1, row, 0);
  fws_setattr(w, attr);
  fws_setflags(w, run.m_CellFlags);
  fws_puts_uc16(w, run.m_Data, n * 2, FWS_UPD_FOLLOW | FWS_UPD_NOPAINT);
  fws_setcolor(w, row, run.m_StartCol - 1, n, run.m_DisplayData.m_Foreground, run.m_DisplayData.m_Background);
  const int first = (run.m_StartRow - 1) * cols + run.m_StartCol - 1;
  fws_mark_update(w, first, first + n - 1);
}

void CFwsCtrl::OnRefresh() {
  fws_window* w = m_pTE;
  const int rows = w->NumberLines > 0 ? w->NumberLines : w->wndsize.y;
  fws_caretpos(w, m_CursorCol - 1, rows - m_CursorRow, 1);
}

void CFwsCtrl::OnEraseScreen() {
  fws_clearscreen(m_pTE);
}

void CFwsCtrl::OnResizeTE(int cols, int rows) {
  fws_window* w = m_pTE;
  w->NumberLines = rows;
  w->NumberColumns = cols;
  if (w->wndsize.x != cols || w->wndsize.y != rows) fws_setsize(w, cols, rows);
  // A new size: the browsers need every row again.
  w->lowestUpdate = 0;
  w->highestUpdate = rows * cols - 1;
}

void CFwsCtrl::OnMoveCursor(int row, int col) {
  m_CursorRow = row;
  m_CursorCol = col;
}

void CFwsCtrl::OnBeep() {
  m_pTE->bells++;
}

void CFwsCtrl::OnStatus(const C5250Status& status) {
  m_Status = status;
  m_StatusVersion++;
  char* msg = m_pTE->status_msg;
  std::strncpy(msg, status.Indicator(), FWS_STATUS_SIZE - 1);
  msg[FWS_STATUS_SIZE - 1] = 0;
}

void CFwsCtrl::OnWindowColors(COLORREF fg, COLORREF bg) {
  fws_newfgc(m_pTE, fg);
  fws_newbgc(m_pTE, bg);
}

void CFwsCtrl::OnColorTable(const COLORREF* table) {
  std::memcpy(m_pTE->TNRGBMap, table, sizeof m_pTE->TNRGBMap);
}
