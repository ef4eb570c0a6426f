// The IBM 5250 display station as its owner sees it: one control that owns
// the session state, the data-stream interpreter and the keyboard handler,
// collects host records until end of record, sends records back through a
// hook its owner fills, and shows the screen through a view (the formatted
// text window; tests may give their own).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "te5250_color.h"
#include "te5250_defs.h"

struct te3270;

// What the view shows of the keyboard and the station.
struct C5250Status {
  int state = STATE_LOCKED;  // States
  bool systemLock = true;    // locked by the system ("X SYSTEM") rather than inhibited ("X II")
  int errorCode = 0;         // operator error code on the error line, 0 when none
  bool insert = false;
  bool messageWaiting = false;
  int typeahead = 0;  // keys waiting for the keyboard to unlock
  // "X SYSTEM", "X II" or "" as the status line shows it.
  const char* Indicator() const;
};

// The screen behind the station.  Rows and columns are 1-based.
class C5250View {
 public:
  virtual ~C5250View() = default;
  // One run of characters (Unicode) at a cell, with its colours and flags.
  virtual void OnData(const EVENTDATA& run) = 0;
  // The end of a display pass: the caret goes back to the cursor.
  virtual void OnRefresh() = 0;
  virtual void OnEraseScreen() = 0;
  virtual void OnResizeTE(int cols, int rows) = 0;
  virtual void OnMoveCursor(int row, int col) = 0;
  virtual void OnBeep() = 0;
  virtual void OnStatus(const C5250Status& status) = 0;
  // The window's own text and background colours.
  virtual void OnWindowColors(COLORREF fg, COLORREF bg) = 0;
  // The 19-entry colour table the colours above are taken from.
  virtual void OnColorTable(const COLORREF* /*table*/) {}
};

// Sends one record to the host (the owner ends it with IAC EOR); returns the
// bytes written.
typedef int (*C5250SendHook)(void* owner, const uint8_t* bytes, int length);

class CTe5250Ctrl {
 public:
  CTe5250Ctrl();
  ~CTe5250Ctrl();
  CTe5250Ctrl(const CTe5250Ctrl&) = delete;
  CTe5250Ctrl& operator=(const CTe5250Ctrl&) = delete;

  void SetView(C5250View* view);
  C5250View* View() const { return m_pView; }
  void SetSendHook(C5250SendHook hook, void* owner);

  // ---- the session's operations ----
  // Buffers sized for the model, a fresh session state, the read position
  // made ready, the window erased and sized.
  void OnConnect();
  // The connection ended: bytes collected towards a record are dropped and
  // host bytes are no longer taken until the next OnConnect.
  void OnDisconnect();
  // Host bytes (telnet commands removed); at end of record the record is
  // interpreted.  Bytes before OnConnect are dropped.
  void GotData(const uint8_t* bytes, size_t length, bool haveEOR);
  // A key: a key code of the 5250 keyboard (te5250_defs.h), or a typed
  // character as the session's internal code (512 and up, converted through
  // the table given with SetTCS2Unicode) or as a byte 32..255.
  int ProcessKey(int key);
  // A typed character as Unicode.
  int ProcessChar(uint16_t ch);
  // A click on window column x, window row y (counted from the bottom).
  void MoveCursor(int x, int y);
  // Loads "<name>.unicode" (Unicode -> host code page) from the code-page
  // file and builds its inverse; -1 when the name has another ending or the
  // table does not load.
  int SetEmInCP(const char* file, const char* codepage);
  // The internal-code-to-Unicode table (768 entries, from code 512) used for
  // typed characters; null for none.
  void SetTCS2Unicode(const uint16_t* table) { m_TCS2Unicode = table; }
  void SetEmulatorSize(int nLines, int nColumns);

  // ---- properties ----
  void SetEmulation(int nNewValue);
  int GetEmulation() const;
  // The model by its index (the `em5250idx` setting: 0 3179, 1 3477,
  // 2 5555); an index outside 0..2 gives the default model.
  void SetModel(int index);
  int Model() const { return m_Emulation; }
  void SetRGBEntry(int nEntry, COLORREF nRGBValue);
  COLORREF GetRGBEntry(int nEntry) const;
  int SetFGColorWithColor(int nColor, int nNewColor);
  int SetBGColorWithColor(int nNewColor);
  int SetFGColor(int nType, int nValue);
  int SetBGColor(int nType, int nValue);
  int GetFGColor(int nType) const;
  int GetBGColor(int nType) const;
  int GetTextAttribute(int nType) const;
  int SetTextAttribute(int nType, int nValue);
  void SetShowAttributes(bool bNewValue);
  bool GetShowAttributes() const { return m_bShowAttributes; }
  void SetFieldDots(int val);
  int GetFieldDots() const { return m_showFieldDots; }
  // Screen identity for macros: MD5 over the attribute positions.
  std::string ScreenHash() const;
  // Terminal-type name of a model index ("IBM-5555-C01", "IBM-3477-FC",
  // "IBM-3179-2", else "UNKNOWN").
  static const char* GetNameByIndex(int index);
  // Screen text of a row (1-based) as the station shows it (attributes,
  // nulls and hidden fields as blanks), UTF-8.
  std::string RowText(int row) const;

  // ---- used by the session, data stream and keyboard ----
  // Sends a record; false when fewer bytes went out (the write-error event).
  bool SendRecord(const uint8_t* bytes, size_t length);
  void FireEWriteError();
  bool IsNotAnEmulator() const { return m_bNotAnEmulator; }
  void SetNotAnEmulator(bool flag) { m_bNotAnEmulator = flag; }
  // Redisplays the whole buffer and ends the pass.
  void Redisplay();
  void NotifyStatus();
  void NotifyCursor();
  C5250Status Status() const;
  // The window's own text and background colours went to the view.
  void WindowColorsChanged();
  void Beep();
  void EraseAndResize();

  CSesStruct* m_pSession;
  CDataStream* m_pDataStream;
  CInput* m_pInput;
  CColor m_Color;
  int m_Emulation = EMU_5555;
  bool m_bShowAttributes = false;
  bool m_bNotAnEmulator = false;
  bool m_bEORReceived = false;
  int m_nLastError = 0;
  int m_showFieldDots = 1;
  int m_WriteErrors = 0;           // records the hook took only in part
  int m_WinFg = -1, m_WinBg = -1;  // window text and background: colour indexes, -1 = not set

 private:
  std::unique_ptr<CSesStruct> m_Session;
  std::unique_ptr<CDataStream> m_DataStream;
  std::unique_ptr<CInput> m_Input;
  C5250View* m_pView = nullptr;
  C5250SendHook m_Send = nullptr;
  void* m_SendOwner = nullptr;
  const uint16_t* m_TCS2Unicode = nullptr;
  // Tables loaded by SetEmInCP (owned).
  uint16_t* m_OwnCP2Unicode = nullptr;
  uint16_t* m_OwnDBCS2Unicode = nullptr;
  uint16_t* m_OwnUnicode2CP = nullptr;
};
