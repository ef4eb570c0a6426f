// The 5250 station's screen in the formatted text window: display runs
// become window text with attribute bits, field flags and colour runs; the
// cursor becomes the caret; the keyboard state becomes the status text.
#pragma once

#include "fws/fws.h"
#include "te5250.h"

class CFwsCtrl : public C5250View {
 public:
  // Works on a window that StdInit has set up (done here when it has not).
  explicit CFwsCtrl(fws_window* window);

  void OnData(const EVENTDATA& run) override;
  void OnRefresh() override;
  void OnEraseScreen() override;
  void OnResizeTE(int cols, int rows) override;
  void OnMoveCursor(int row, int col) override;
  void OnBeep() override;
  void OnStatus(const C5250Status& status) override;
  void OnWindowColors(COLORREF fg, COLORREF bg) override;
  void OnColorTable(const COLORREF* table) override;

  void SetFieldDots(bool on) { m_FieldDots = on; }
  fws_window* Window() const { return m_pTE; }
  const C5250Status& Status() const { return m_Status; }
  // Bumped whenever the status changes, so the owner can tell the browsers.
  unsigned StatusVersion() const { return m_StatusVersion; }

 private:
  fws_window* m_pTE;
  int m_CursorRow = 1, m_CursorCol = 1;  // m_CursorAddress of the window, as row and column
  bool m_FieldDots = true;
  C5250Status m_Status;
  unsigned m_StatusVersion = 0;
};
