// The 5250 keyboard: key dispatch by keyboard state, data entry with the
// field rules, field exit, cursor movement, editing keys, the system request
// line and the operator errors.  A refused key rings the bell or raises an
// operator error and leaves the fields as they were.
#include "te5250_input.h"

#include <algorithm>
#include <vector>

#include "te5250.h"
#include "te5250_session.h"
#include "te5250_stream.h"

CInput::CInput(CSesStruct* session, CDataStream* dataStream, CTe5250Ctrl* parent)
    : m_Session(session), m_DataStr(dataStream), m_pParent(parent) {}

static bool in_is_digit(uint16_t ch) {
  return ch >= '0' && ch <= '9';
}

static bool in_is_letter(uint16_t ch) {
  if ((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z')) return true;
  // Latin-1 letters (the multiplication and division signs are not).
  return ch >= 0xC0 && ch <= 0xFF && ch != 0xD7 && ch != 0xF7;
}

static uint16_t in_upper(uint16_t ch) {
  if (ch >= 'a' && ch <= 'z') return static_cast<uint16_t>(ch - 32);
  if (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7) return static_cast<uint16_t>(ch - 32);
  return ch;
}

static bool in_is_eb_digit(uint8_t b) {
  return b >= EB_ZERO && b <= EB_NINE;
}

uint8_t CInput::AidByte(int key) {
  if (key >= K5250_PF1 && key <= K5250_PF1 + 11) return static_cast<uint8_t>(AID5250_PF1 + (key - K5250_PF1));
  if (key >= K5250_PF1 + 12 && key <= K5250_PF24)
    return static_cast<uint8_t>(AID5250_PF13 + (key - K5250_PF1 - 12));
  switch (key) {
    case K5250_PA1:
      return AID5250_PA1;
    case K5250_PA1 + 1:
      return AID5250_PA2;
    case K5250_PA3:
      return AID5250_PA3;
    case K5250_ENTER:
      return AID5250_ENTER;
    case K5250_HELP:
      return AID5250_HELP;
    case K5250_ROLLUP:
      return AID5250_ROLLUP;
    case K5250_ROLLDOWN:
      return AID5250_ROLLDOWN;
    case K5250_PRINT:
      return AID5250_PRINT;
    case K5250_RECORDBACKSPACE:
      return AID5250_RECORDBACKSPACE;
    case K5250_CLEAR:
      return AID5250_CLEAR;
    case K5250_AUTOENTER_SELECT:
      return AID5250_AUTOENTER_SELECT;
    case K5250_AUTOENTER_EDGE:
      return AID5250_AUTOENTER_EDGE;
    default:
      return 0;
  }
}

bool CInput::IsAidKey(int key) {
  return AidByte(key) != 0;
}

void CInput::Beep() {
  m_pParent->Beep();
}

void CInput::Redisplay(int first, int last) {
  m_Session->ProcessCharBuffer(first, last);
  m_pParent->NotifyCursor();
}

void CInput::MoveTo(int address) {
  m_AtFieldEnd = false;
  m_Session->SetCursor(address);
}

void CInput::OperatorError(int d1, int d2, int d3, int d4) {
  CSesStruct* s = m_Session;
  s->m_State = STATE_ERROR;
  s->m_SystemLock = false;
  s->m_ErrorCode = d1 * 1000 + d2 * 100 + d3 * 10 + d4;
  s->SaveErrorLine();
  const uint8_t line[6] = {k5250ErrorAttr,
                           static_cast<uint8_t>(EB_ZERO + d1),
                           static_cast<uint8_t>(EB_ZERO + d2),
                           static_cast<uint8_t>(EB_ZERO + d3),
                           static_cast<uint8_t>(EB_ZERO + d4),
                           k5250NormalAttr};
  s->WriteErrorLine(line, 6);
  Beep();
  s->StatusChanged();
  m_pParent->NotifyCursor();
}

// ---- dispatch ----

bool CInput::TypeAhead(int code, bool isChar) {
  CSesStruct* s = m_Session;
  if (!m_Draining && !m_Typeahead.empty() && s->m_State == STATE_UNLOCKED) RunTypeahead();
  if (s->m_State != STATE_LOCKED && (m_Draining || m_Typeahead.empty())) return false;
  if (s->m_State != STATE_LOCKED && s->m_State != STATE_UNLOCKED) return false;  // an error: the bell
  if (!isChar && code == K5250_CLEAR) m_Typeahead.clear();  // Clear erases what they typed
  if (m_Typeahead.size() >= k5250Typeahead) {
    Beep();
    return true;
  }
  m_Typeahead.push_back({code, isChar});
  return true;
}

void CInput::RunTypeahead() {
  if (m_Draining) return;
  m_Draining = true;
  while (!m_Typeahead.empty() && m_Session->m_State == STATE_UNLOCKED) {
    Typed k = m_Typeahead.front();
    m_Typeahead.pop_front();
    if (k.isChar)
      ProcessChar(static_cast<uint16_t>(k.code));
    else
      ProcessKey(k.code);
  }
  m_Draining = false;
}

int CInput::ProcessKey(int key) {
  CSesStruct* s = m_Session;
  if (s->m_CharBuffer.empty()) return 0;
  if (s->m_State == STATE_SYSREQ) {
    KeySysReq(key);
    return 1;
  }
  if (key == K5250_RESET) m_Typeahead.clear();
  if (key != K5250_SYSREQ && key != K5250_ATTN && key != K5250_TESTREQ && key != K5250_RESET && TypeAhead(key, false))
    return 1;
  if (key == K5250_SYSREQ) {
    if (s->m_State == STATE_LOCKED || s->m_State == STATE_UNLOCKED)
      EnterSysReq();
    else
      Beep();
    return 1;
  }
  if (key == K5250_ATTN || key == K5250_TESTREQ) {
    m_DataStr->WriteTelapi(key == K5250_ATTN ? FLAG_ATN : FLAG_TRQ, OPCODE_NOOP, 0, nullptr);
    return 1;
  }
  switch (s->m_State) {
    case STATE_UNLOCKED:
      KeyUnlocked(key);
      break;
    case STATE_ERROR: {
      if (key == K5250_RESET) {
        s->m_State = STATE_UNLOCKED;
        s->m_ErrorCode = 0;
        s->RestoreErrorLine();
        LeaveInsert();
        s->StatusChanged();
        m_pParent->NotifyCursor();
      } else if (key == K5250_HELP) {
        const int start = s->ErrorRowStart();
        uint8_t* row = s->m_CharBuffer.data() + start;
        if (is5250Attribute(row[0])) row[0] = k5250HelpAttr;
        s->ProcessCharBuffer(start, start + s->m_CurSize.cx - 1);
        if (s->m_CurSize.cx > 4 && in_is_eb_digit(row[1]) && in_is_eb_digit(row[2]) &&
            in_is_eb_digit(row[3]) && in_is_eb_digit(row[4])) {
          const uint8_t bcd[2] = {static_cast<uint8_t>((row[1] & 0x0F) << 4 | (row[2] & 0x0F)),
                                  static_cast<uint8_t>((row[3] & 0x0F) << 4 | (row[4] & 0x0F))};
          s->m_State = STATE_ERROR_WAITING_FOR_HELP;
          m_DataStr->WriteTelapi(FLAG_HLP, OPCODE_NOOP, 2, bcd);
          s->StatusChanged();
        }
        m_pParent->NotifyCursor();
      } else {
        Beep();
      }
      break;
    }
    default:  // locked, or waiting for help
      Beep();
      break;
  }
  return 1;
}

int CInput::ProcessChar(uint16_t ch) {
  CSesStruct* s = m_Session;
  if (s->m_CharBuffer.empty()) return 0;
  if (ch >= 0x20 && s->m_State != STATE_SYSREQ && TypeAhead(ch, true)) return 1;
  if (s->m_State != STATE_UNLOCKED && s->m_State != STATE_SYSREQ) {
    Beep();
    return 1;
  }
  if (ch < 0x20) {
    Beep();
    return 1;
  }
  DoTextKey(ch);
  return 1;
}

void CInput::KeyUnlocked(int key) {
  const bool fieldExit = key == K5250_FIELDEXIT || key == K5250_FIELDPLUS || key == K5250_FIELDMINUS;
  if (m_Session->m_Insert && (IsAidKey(key) || fieldExit)) LeaveInsert();
  if (IsAidKey(key)) {
    DoAid(key);
    return;
  }
  switch (key) {
    case K5250_KPMINUS:
      DoTextKey('-');
      break;
    case K5250_KPSTAR:
      DoTextKey('*');
      break;
    case K5250_KPPLUS:
      DoTextKey('+');
      break;
    case K5250_KPSLASH:
      DoTextKey('/');
      break;
    case K5250_TAB:
      DoTab(false);
      break;
    case K5250_BACKTAB:
      DoTab(true);
      break;
    case K5250_UP:
    case K5250_DOWN:
    case K5250_LEFT:
    case K5250_RIGHT:
      DoArrow(key);
      break;
    case K5250_HOME:
      DoHome();
      break;
    case K5250_INSERT:
      ToggleInsert();
      break;
    case K5250_DELETE:
      DoDelete();
      break;
    case K5250_BACKSPACE:
      DoBackspace();
      break;
    case K5250_ERASEINPUT:
      DoEraseInput();
      break;
    case K5250_ERASEEOF:
      DoEraseEOF();
      break;
    case K5250_CURSORSELECT:
      DoCursorSelect();
      break;
    case K5250_FIELDEXIT:
    case K5250_FIELDPLUS:
    case K5250_FIELDMINUS:
      DoFieldExit(key);
      break;
    case K5250_FIELDMARK:
      DoDupMark(EB_FIELDMARK);
      break;
    case K5250_DUP:
      DoDupMark(EB_DUP);
      break;
    case K5250_RESET:
      LeaveInsert();
      break;
    case K5250_END:
      DoEnd();
      break;
    default:
      Beep();
      break;
  }
}

// ---- fields ----

FieldDescriptor* CInput::InputField() {
  CSesStruct* s = m_Session;
  s->UpdateCurrentField();
  if (s->m_CurField < 0 || s->m_Fields->Field(s->m_CurField).Bypass()) {
    OperatorError(OPERR_NOT_IN_INPUT_FIELD);
    return nullptr;
  }
  return &s->m_Fields->Field(s->m_CurField);
}

FieldDescriptor* CInput::EditField() {
  CSesStruct* s = m_Session;
  return s->m_State == STATE_SYSREQ ? &s->m_Fields->m_ErrorField : InputField();
}

void CInput::FieldChanged(int first, int last) {
  CSesStruct* s = m_Session;
  if (s->m_State != STATE_SYSREQ) s->m_Fields->SetMDT(s->m_CurField, true);
  s->ProcessCharBuffer(first, last);
}

void CInput::FillToFieldEnd(const FieldDescriptor& f, uint8_t byte) {
  CSesStruct* s = m_Session;
  const int cur = s->m_CurrentAddress;
  const int end = f.DataEnd();
  if (cur <= end) std::fill(s->m_CharBuffer.begin() + cur, s->m_CharBuffer.begin() + end + 1, byte);
  FieldChanged(cur, end);
}

// A mandatory-fill field is complete when it is empty or every cell holds
// data.
bool CInput::FieldFull(const FieldDescriptor& f) const {
  const uint8_t* cells = m_Session->m_CharBuffer.data() + f.m_StartAddress;
  const int nulls = static_cast<int>(std::count(cells, cells + f.m_length, EB_NULL));
  return nulls == 0 || nulls == f.m_length;
}

bool CInput::LeavesUnfilled(int target) {
  CSesStruct* s = m_Session;
  s->UpdateCurrentField();
  if (s->m_CurField < 0) return false;
  const FieldDescriptor& f = s->m_Fields->Field(s->m_CurField);
  if (f.Bypass() || !f.MandatoryFill() || f.Contains(target) || FieldFull(f)) return false;
  OperatorError(OPERR_MANDATORY_FILL);
  return true;
}

void CInput::NextField(int from) {
  CFieldTable& t = *m_Session->m_Fields;
  MoveTo(t.FieldStart(t.GetNextField(from, false, true)));
}

void CInput::DoAid(int key) {
  CSesStruct* s = m_Session;
  CFieldTable& t = *s->m_Fields;
  // Keys that send field data check the fields first; a command key the
  // host asked to return no data is let through.
  const bool sendsData =
      key == K5250_ENTER || (key >= K5250_PF1 && key <= K5250_PF24 && !t.IgnoresKey(key - K5250_PF1 + 1));
  if (sendsData) {
    if (LeavesUnfilled(-1)) return;
    t.InitReseqGetNext();
    for (int i = t.ReseqGetNextField(false, true); i >= 0; i = t.ReseqGetNextField(false, true)) {
      const FieldDescriptor& f = t.Field(i);
      if ((f.m_ffw & FFW_MANDATORY) && !f.Modified()) {
        MoveTo(f.m_StartAddress);
        OperatorError(OPERR_MANDATORY_ENTRY);
        return;
      }
    }
  }
  m_AtFieldEnd = false;
  s->Lock(true);
  s->m_AID = key;
  m_DataStr->DoRead();
}

bool CInput::DoTextKey(int chIn) {
  CSesStruct* s = m_Session;
  uint16_t ch = static_cast<uint16_t>(chIn);
  const bool sysreq = s->m_State == STATE_SYSREQ;
  FieldDescriptor* f = EditField();
  if (!f) return false;
  const int cur = s->m_CurrentAddress;
  if (!f->Contains(cur)) {
    OperatorError(OPERR_NOT_IN_INPUT_FIELD);
    return false;
  }
  if (m_AtFieldEnd && !sysreq && ((f->m_ffw & FFW_FER) || f->RightAdjust())) {
    OperatorError(OPERR_FIELD_EXIT_REQUIRED);
    return false;
  }
  switch (f->ShiftType()) {
    case FFW_SHIFT_IO:
      OperatorError(OPERR_IO_FIELD);
      return false;
    case FFW_SHIFT_ALPHA_ONLY:
      if (!in_is_letter(ch) && ch != ' ' && ch != ',' && ch != '.' && ch != '-') {
        OperatorError(OPERR_ALPHA_ONLY);
        return false;
      }
      break;
    case FFW_SHIFT_NUMERIC_ONLY:
      if (!in_is_digit(ch) && ch != ' ' && ch != '+' && ch != ',' && ch != '.' && ch != '-') {
        OperatorError(OPERR_NUMERIC_ONLY);
        return false;
      }
      break;
    case FFW_SHIFT_DIGITS_ONLY:
      if (!in_is_digit(ch)) {
        OperatorError(OPERR_DIGITS_ONLY);
        return false;
      }
      break;
    case FFW_SHIFT_SIGNED:
      if (cur == f->End()) {
        OperatorError(OPERR_SIGN_POSITION);
        return false;
      }
      if (!in_is_digit(ch)) {
        OperatorError(OPERR_DIGITS_ONLY);
        return false;
      }
      break;
    default:
      break;
  }
  if (f->m_ffw & FFW_UPPER) ch = in_upper(ch);
  const uint16_t code = s->uni_cp(ch);
  uint8_t bytes[4];
  int cells;
  if (code > 0xFF) {
    bytes[0] = EB_SO;
    bytes[1] = static_cast<uint8_t>(code >> 8);
    bytes[2] = static_cast<uint8_t>(code);
    bytes[3] = EB_SI;
    cells = 4;
  } else {
    bytes[0] = static_cast<uint8_t>(code);
    cells = 1;
  }
  const int dataEnd = f->DataEnd();
  if (dataEnd - cur + 1 < cells) {
    OperatorError(OPERR_NO_ROOM_TO_INSERT);
    return false;
  }
  uint8_t* buf = s->m_CharBuffer.data();
  if (s->m_Insert) {
    for (int k = 0; k < cells; k++)
      if (buf[dataEnd - k] != EB_NULL) {
        OperatorError(OPERR_NO_ROOM_TO_INSERT);
        return false;
      }
    std::copy_backward(buf + cur, buf + dataEnd + 1 - cells, buf + dataEnd + 1);
  }
  std::copy_n(bytes, cells, buf + cur);
  FieldChanged(cur, s->m_Insert ? dataEnd : cur + cells - 1);

  const int next = cur + cells;
  if (next <= dataEnd) {
    MoveTo(next);
    return true;
  }
  // The field is filled up to its last data cell.
  if (sysreq) {
    MoveTo(dataEnd);
    return true;
  }
  if (f->m_ffw & FFW_AUTO) {
    MoveTo(dataEnd);
    DoAid(f->m_Selectable ? K5250_AUTOENTER_SELECT : K5250_ENTER);
  } else if (f->m_EdgeTriggered) {
    MoveTo(dataEnd);
    DoAid(K5250_AUTOENTER_EDGE);
  } else if (f->Signed()) {
    MoveTo(f->End());
  } else if ((f->m_ffw & FFW_FER) || f->RightAdjust()) {
    MoveTo(dataEnd);
    m_AtFieldEnd = true;
  } else {
    NextField(f->End());
  }
  return true;
}

bool CInput::DoFieldExit(int key) {
  CSesStruct* s = m_Session;
  FieldDescriptor* f = InputField();
  if (!f) return false;
  const uint16_t shift = f->ShiftType();
  const bool numeric =
      shift == FFW_SHIFT_NUMERIC_ONLY || shift == FFW_SHIFT_DIGITS_ONLY || shift == FFW_SHIFT_SIGNED;
  if (key == K5250_FIELDMINUS && !numeric) {
    OperatorError(OPERR_FIELD_MINUS);
    return false;
  }
  if ((f->m_ffw & FFW_MANDATORY) && !f->Modified()) {
    MoveTo(f->m_StartAddress);
    OperatorError(OPERR_MANDATORY_ENTRY);
    return false;
  }
  const int cur = s->m_CurrentAddress;
  if (f->MandatoryFill() && cur != f->m_StartAddress) {
    OperatorError(OPERR_FIELD_EXIT_NOT_AT_START);
    return false;
  }
  // The new content is built aside, so that a refused key changes nothing.
  uint8_t* buf = s->m_CharBuffer.data() + f->m_StartAddress;
  std::vector<uint8_t> cells(buf, buf + f->m_length);
  const int dataLen = f->DataEnd() - f->m_StartAddress + 1;
  const int from = cur - f->m_StartAddress;
  if (!f->MandatoryFill() || from == 0)
    for (int k = from; k < f->m_length; k++) cells[static_cast<size_t>(k)] = EB_NULL;
  auto rightAdjust = [&](int n, uint8_t fill) {
    std::vector<uint8_t> sig;
    for (int k = 0; k < n; k++)
      if (cells[static_cast<size_t>(k)] != EB_NULL) sig.push_back(cells[static_cast<size_t>(k)]);
    std::fill_n(cells.begin(), n - static_cast<int>(sig.size()), fill);
    std::copy(sig.begin(), sig.end(), cells.begin() + (n - static_cast<int>(sig.size())));
  };
  if (f->Signed()) {
    rightAdjust(dataLen, EB_BLANK);
    cells[static_cast<size_t>(f->m_length - 1)] = key == K5250_FIELDMINUS ? EB_MINUS : EB_BLANK;
  } else {
    if (f->FillType() == FFW_FILL_RIGHT_ZERO) rightAdjust(dataLen, EB_ZERO);
    if (f->FillType() == FFW_FILL_RIGHT_BLANK) rightAdjust(dataLen, EB_BLANK);
    if (key == K5250_FIELDMINUS) {
      // The sign goes into the zone of the last digit, once the field has
      // its final shape.
      int last = dataLen - 1;
      while (last >= 0 && cells[static_cast<size_t>(last)] == EB_NULL) last--;
      if (last >= 0) {
        const uint8_t b = cells[static_cast<size_t>(last)];
        if (!in_is_eb_digit(b)) {
          OperatorError(OPERR_FIELD_MINUS_LAST_CHAR);
          return false;
        }
        cells[static_cast<size_t>(last)] = static_cast<uint8_t>((b & 0x0F) | 0xD0);
      }
    }
  }
  std::copy(cells.begin(), cells.end(), buf);
  FieldChanged(f->m_StartAddress, f->End());
  if (f->m_ffw & FFW_AUTO)
    DoAid(f->m_Selectable ? K5250_AUTOENTER_SELECT : K5250_ENTER);
  else if (f->m_EdgeTriggered)
    DoAid(K5250_AUTOENTER_EDGE);
  else
    NextField(f->End());
  return true;
}

// ---- cursor movement ----

// Rows the cursor moves on: the message row added by the host is not one.
static int in_screen_rows(const CSesStruct* s) {
  return (s->m_CurSize.cy == 25 || s->m_CurSize.cy == 28) ? s->m_CurSize.cy - 1 : s->m_CurSize.cy;
}

// Where an arrow key takes the cursor: one cell or row on, wrapping at the
// screen's edges.
static int in_arrow_target(const CSesStruct* s, int key) {
  const int cols = s->m_CurSize.cx;
  const int size = cols * in_screen_rows(s);
  const int cur = std::clamp(s->m_CurrentAddress, 0, size - 1);
  switch (key) {
    case K5250_LEFT:
      return (cur + size - 1) % size;
    case K5250_RIGHT:
      return (cur + 1) % size;
    case K5250_UP:
      return (cur + size - cols) % size;
    default:
      return (cur + cols) % size;
  }
}

void CInput::DoTab(bool back) {
  CSesStruct* s = m_Session;
  const int cur = s->m_CurrentAddress;
  const int i = back ? s->m_Fields->GetPreviousField(cur, true) : s->m_Fields->GetNextField(cur, false, true);
  const int target = s->m_Fields->FieldStart(i);
  if (LeavesUnfilled(target)) return;
  MoveTo(target);
}

void CInput::DoHome() {
  CSesStruct* s = m_Session;
  const int home = s->Home();
  if (s->m_CurrentAddress == home) {
    DoAid(K5250_RECORDBACKSPACE);
    return;
  }
  if (LeavesUnfilled(home)) return;
  MoveTo(home);
}

void CInput::DoArrow(int key) {
  CSesStruct* s = m_Session;
  int target = in_arrow_target(s, key);
  if (LeavesUnfilled(target)) return;
  if (s->m_Fields->m_InputCapableOnly) {
    const int i = s->m_Fields->GetField(target);
    if (i < 0 || s->m_Fields->Field(i).Bypass()) {
      const int n = s->m_Fields->GetNextField(target, false, true);
      if (n >= 0) target = s->m_Fields->Field(n).m_StartAddress;
    }
  }
  MoveTo(target);
}

// Start of the double-byte pair holding `address` in the field, or -1.
static int in_dbcs_pair(const CSesStruct* s, const FieldDescriptor& f, int address) {
  bool dbcs = false;
  for (int a = f.m_StartAddress; a <= f.End(); a++) {
    const uint8_t b = s->m_CharBuffer[static_cast<size_t>(a)];
    if (b == EB_SO) {
      dbcs = true;
    } else if (b == EB_SI) {
      dbcs = false;
    } else if (dbcs) {
      if (address == a || address == a + 1) return a + 1 <= f.End() ? a : -1;
      a++;
    }
  }
  return -1;
}

void CInput::DoBackspace() {
  CSesStruct* s = m_Session;
  s->UpdateCurrentField();
  const int cur = s->m_CurrentAddress;
  if (s->m_CurField < 0 || s->m_Fields->Field(s->m_CurField).Bypass()) {
    MoveTo(in_arrow_target(s, K5250_LEFT));
    return;
  }
  const FieldDescriptor f = s->m_Fields->Field(s->m_CurField);
  if (cur == f.m_StartAddress && f.MandatoryFill() && !FieldFull(f)) {
    OperatorError(OPERR_MANDATORY_FILL);
    return;
  }
  int target;
  if (cur > f.m_StartAddress) {
    target = cur - 1;
    const int pair = in_dbcs_pair(s, f, target);
    if (pair >= 0) target = pair;
  } else {
    const int i = s->m_Fields->GetPreviousField(f.m_StartAddress, true);
    if (i < 0) return;
    target = s->m_Fields->Field(i).End();
  }
  MoveTo(target);
  DoDelete();
}

bool CInput::DoDelete() {
  CSesStruct* s = m_Session;
  FieldDescriptor* f = EditField();
  if (!f) return false;
  const int cur = s->m_CurrentAddress;
  const int dataEnd = f->DataEnd();
  if (!f->ContainsData(cur)) return true;
  uint8_t* buf = s->m_CharBuffer.data();
  if (buf[cur] == EB_SO || buf[cur] == EB_SI) return true;
  const int pair = in_dbcs_pair(s, *f, cur);
  const int at = pair >= 0 ? pair : cur;
  const int n = pair >= 0 ? 2 : 1;
  std::copy(buf + at + n, buf + dataEnd + 1, buf + at);
  std::fill(buf + dataEnd + 1 - n, buf + dataEnd + 1, EB_NULL);
  FieldChanged(at, dataEnd);
  m_pParent->NotifyCursor();
  return true;
}

void CInput::DoEraseInput() {
  CSesStruct* s = m_Session;
  CFieldTable& t = *s->m_Fields;
  t.InitReseqGetNext();
  for (int i = t.ReseqGetNextField(false, true); i >= 0; i = t.ReseqGetNextField(false, true)) {
    const FieldDescriptor& f = t.Field(i);
    if (!f.Modified()) continue;
    std::fill_n(s->m_CharBuffer.begin() + f.m_StartAddress, f.m_length, EB_NULL);
    s->ProcessCharBuffer(f.m_StartAddress, f.End());
  }
  MoveTo(s->Home());
}

void CInput::DoEraseEOF() {
  FieldDescriptor* f = EditField();
  if (!f || !f->ContainsData(m_Session->m_CurrentAddress)) return;
  FillToFieldEnd(*f, EB_NULL);
  m_pParent->NotifyCursor();
}

void CInput::DoDupMark(uint8_t fill) {
  FieldDescriptor* f = InputField();
  if (!f) return;
  if (!(f->m_ffw & FFW_DUP)) {
    OperatorError(OPERR_DUP_NOT_ALLOWED);
    return;
  }
  FillToFieldEnd(*f, fill);
  DoTab(false);
}

void CInput::DoCursorSelect() {
  CSesStruct* s = m_Session;
  FieldDescriptor* f = InputField();
  if (!f) return;
  if (f->m_ffw & FFW_FER) {
    OperatorError(OPERR_SELECT_EXIT_REQUIRED);
    return;
  }
  if (!f->m_Selectable) {
    OperatorError(OPERR_NOT_SELECTABLE);
    return;
  }
  uint8_t& cell = s->m_CharBuffer[static_cast<size_t>(f->m_StartAddress)];
  cell = cell == EB_GREATER ? EB_QUESTION : EB_GREATER;
  Redisplay(f->m_StartAddress, f->m_StartAddress);
}

void CInput::DoEnd() {
  FieldDescriptor* f = InputField();
  if (!f) return;
  MoveTo(f->End());
}

void CInput::ToggleInsert() {
  m_Session->m_Insert = !m_Session->m_Insert;
  m_Session->StatusChanged();
}

void CInput::LeaveInsert() {
  if (!m_Session->m_Insert) return;
  m_Session->m_Insert = false;
  m_Session->StatusChanged();
}

// ---- system request ----

void CInput::EnterSysReq() {
  CSesStruct* s = m_Session;
  s->m_PrevState = s->m_State;
  s->m_State = STATE_SYSREQ;
  s->SaveErrorLine();
  const int start = s->ErrorRowStart();
  s->m_CharBuffer[static_cast<size_t>(start)] = k5250SysReqAttr;
  s->ProcessCharBuffer(start, start + s->m_CurSize.cx - 1);
  s->StatusChanged();
  MoveTo(s->m_Fields->m_ErrorField.m_StartAddress);
}

void CInput::LeaveSysReq() {
  CSesStruct* s = m_Session;
  s->m_State = s->m_PrevState == STATE_LOCKED ? STATE_LOCKED : STATE_UNLOCKED;
  s->RestoreErrorLine();
  const int home = s->Home();
  LeaveInsert();
  s->StatusChanged();
  MoveTo(home);
}

void CInput::KeySysReq(int key) {
  CSesStruct* s = m_Session;
  const FieldDescriptor& ef = s->m_Fields->m_ErrorField;
  const int cur = s->m_CurrentAddress;
  switch (key) {
    case K5250_TAB:
    case K5250_BACKTAB:
    case K5250_HOME:
      MoveTo(ef.m_StartAddress);
      break;
    case K5250_LEFT:
      if (cur > ef.m_StartAddress) MoveTo(cur - 1);
      break;
    case K5250_RIGHT:
      if (cur < ef.End()) MoveTo(cur + 1);
      break;
    case K5250_UP:
    case K5250_DOWN:
      break;
    case K5250_INSERT:
      ToggleInsert();
      break;
    case K5250_DELETE:
      DoDelete();
      break;
    case K5250_BACKSPACE:
      if (cur > ef.m_StartAddress) {
        MoveTo(cur - 1);
        DoDelete();
      }
      break;
    case K5250_ERASEEOF:
      DoEraseEOF();
      break;
    case K5250_ENTER: {
      const uint8_t* cells = s->m_CharBuffer.data() + ef.m_StartAddress;
      int n = ef.m_length;
      while (n > 0 && cells[n - 1] == EB_NULL) n--;
      std::vector<uint8_t> data(cells, cells + n);
      for (uint8_t& b : data)
        if (b == EB_NULL) b = EB_BLANK;
      m_DataStr->WriteTelapi(FLAG_SRQ, OPCODE_NOOP, data.size(), data.data());
      LeaveSysReq();
      break;
    }
    case K5250_RESET:
      LeaveSysReq();
      break;
    case K5250_ATTN:
    case K5250_TESTREQ:
    case K5250_SYSREQ:
    case K5250_FIELDEXIT:
    case K5250_FIELDPLUS:
    case K5250_FIELDMINUS:
      OperatorError(OPERR_SYSREQ_KEY);
      break;
    default:
      if (IsAidKey(key))
        OperatorError(OPERR_SYSREQ_KEY);
      else
        Beep();
      break;
  }
}
