// 5250 session state: buffers and their sizes, keyboard lock and its
// indicator, the error line, display runs and code-page conversion.
#include "te5250_session.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "tcs.h"
#include "te5250.h"

namespace {

// Model screens before the host sizes the buffer.
struct ModelSize {
  int cols, rows;
};
constexpr ModelSize kModelSize[3] = {{80, 24}, {132, 27}, {80, 24}};

// Initial size of the read buffer; it grows to the largest record.
constexpr size_t kReadBufferStart = 8192;

}  // namespace

CSesStruct::CSesStruct(CTe5250Ctrl* host) : m_Host(host) {
  m_ReadBuffer.reserve(kReadBufferStart);
  InitSession(80, 24);
}

void CSesStruct::InitSession(int cols, int rows) {
  m_CurSize.cx = cols;
  m_CurSize.cy = rows;
  m_MaxAddress = cols * rows - 1;
  InitCharBuffer();
  if (!m_Fields) m_Fields = std::make_unique<CFieldTable>(this);
  m_Fields->ClearTable(rows);
  m_CurrentAddress = 0;
  m_CursorAddress = 0;
  m_HomeAddress = -1;
  m_TmpCursorAddress = -1;
  m_AID = 0;
  m_Read = 0;
  m_CC1 = m_CC2 = 0;
  m_Insert = false;
  m_Invited = true;
  m_CurField = -1;
  m_DataModified = false;
  m_LastOrder = ORDER_NOTHING;
  m_ErrorLine.clear();
  m_HaveErrorLine = false;
  m_ErrorCode = 0;
  m_State = STATE_LOCKED;
  m_PrevState = STATE_LOCKED;
  m_SystemLock = true;
  StatusChanged();
}

void CSesStruct::ChangeEmulation(int model) {
  if (model < 0 || model > 2) model = EMU_5555;
  InitSession(kModelSize[model].cols, kModelSize[model].rows);
}

void CSesStruct::InitCharBuffer() {
  m_CharBuffer.assign(static_cast<size_t>(m_MaxAddress + 1), EB_NULL);
  m_CharBuffer[0] = k5250NormalAttr;
}

void CSesStruct::StatusChanged() {
  if (m_Host) m_Host->NotifyStatus();
}

void CSesStruct::Lock(bool system) {
  if (m_State == STATE_UNLOCKED || m_State == STATE_LOCKED) {
    m_State = STATE_LOCKED;
    m_SystemLock = system;
    StatusChanged();
  }
}

void CSesStruct::Unlock() {
  if (m_State != STATE_LOCKED) return;
  m_State = STATE_UNLOCKED;
  StatusChanged();
}

int CSesStruct::ErrorRowStart() const {
  int row = std::clamp(m_Fields->m_ErrorRow, 1, m_CurSize.cy);
  return (row - 1) * m_CurSize.cx;
}

void CSesStruct::SaveErrorLine() {
  const int start = ErrorRowStart();
  if (!m_HaveErrorLine) {
    m_ErrorLine.assign(m_CharBuffer.begin() + start, m_CharBuffer.begin() + start + m_CurSize.cx);
    m_HaveErrorLine = true;
  }
  std::fill_n(m_CharBuffer.begin() + start, m_CurSize.cx, EB_NULL);
  ProcessCharBuffer(start, start + m_CurSize.cx - 1);
}

void CSesStruct::RestoreErrorLine() {
  if (!m_HaveErrorLine) return;
  const int start = ErrorRowStart();
  const size_t n = std::min(m_ErrorLine.size(), static_cast<size_t>(m_CurSize.cx));
  std::copy_n(m_ErrorLine.begin(), n, m_CharBuffer.begin() + start);
  m_ErrorLine.clear();
  m_HaveErrorLine = false;
  ProcessCharBuffer(start, start + m_CurSize.cx - 1);
}

void CSesStruct::WriteErrorLine(const uint8_t* bytes, int length) {
  const int start = ErrorRowStart();
  const int n = std::clamp(length, 0, m_CurSize.cx);
  std::copy_n(bytes, n, m_CharBuffer.begin() + start);
  ProcessCharBuffer(start, start + m_CurSize.cx - 1);
}

void CSesStruct::UpdateCurrentField() {
  m_CurField = m_Fields->GetField(m_CurrentAddress);
}

void CSesStruct::SetCursor(int address) {
  if (!ValidAddress(address)) address = 0;
  m_CursorAddress = address;
  m_CurrentAddress = address;
  UpdateCurrentField();
  if (m_Host) m_Host->NotifyCursor();
}

uint16_t CSesStruct::cp_uni(uint8_t code) const {
  static const uint16_t* us = TCSEbcdicToUnicode(37);
  const uint16_t* table = _CP2Unicode ? _CP2Unicode : us;
  uint16_t u = table ? table[code] : 0;
  return u ? u : 0x20;
}

uint16_t CSesStruct::uni_cp(uint16_t ch) const {
  if (_Unicode2CP) {
    const uint16_t c = _Unicode2CP[ch];
    return c ? c : uint16_t{EB_BLANK};
  }
  // The built-in US table (Latin-1 only), inverted once.
  static const std::array<uint8_t, 256> inverse = [] {
    std::array<uint8_t, 256> inv{};
    const uint16_t* us = TCSEbcdicToUnicode(37);
    if (us)
      for (int b = 255; b >= 0x40; b--)
        if (us[b] && us[b] < 256) inv[us[b]] = static_cast<uint8_t>(b);
    return inv;
  }();
  const uint8_t c = ch < 256 ? inverse[ch] : 0;
  return c ? c : uint16_t{EB_BLANK};
}

// Display: runs of cells with one attribute go to the view as Unicode text.
void CSesStruct::ProcessCharBuffer(int first, int last) {
  C5250View* view = m_Host ? m_Host->View() : nullptr;
  if (!view) return;
  first = std::max(first, 0);
  last = std::min(last, m_MaxAddress);
  if (first > last) return;
  const CColor& color = m_Host->m_Color;
  const bool showAttrs = m_Host->m_bShowAttributes;
  const int cols = m_CurSize.cx;

  // The attribute in force at the first cell.
  int attr = k5250NormalAttr;
  for (int a = first; a >= 0; a--) {
    if (is5250Attribute(m_CharBuffer[static_cast<size_t>(a)])) {
      attr = m_CharBuffer[static_cast<size_t>(a)];
      break;
    }
  }
  uint16_t text[132];
  int n = 0, runStart = first;
  bool dbcs = false;
  ATTRIBDATA data = color.Data(attr);
  bool hidden = CColor::Hidden(attr);

  auto flush = [&](uint8_t cellFlags) {
    if (n > 0) {
      EVENTDATA ev;
      ev.m_StartRow = runStart / cols + 1;
      ev.m_StartCol = runStart % cols + 1;
      ev.m_DisplayData = data;
      ev.m_DataLength = n;
      ev.m_Data = text;
      ev.m_CellFlags = cellFlags;
      if (!(cellFlags & CELL_FIELDATTR)) {
        const int f = m_Fields->GetField(runStart);
        if (f < 0 || m_Fields->Field(f).Bypass())
          ev.m_CellFlags |= CELL_PROTECTED;
        else if (m_Fields->Field(f).Modified())
          ev.m_CellFlags |= CELL_MODIFIED;
        if (hidden) ev.m_CellFlags |= CELL_NONDISPLAY;
      }
      view->OnData(ev);
    }
    n = 0;
  };
  for (int a = first; a <= last; a++) {
    // Runs never cross a row, so the view writes them without wrapping.
    if (a % cols == 0 && a != first) {
      flush(0);
      runStart = a;
    }
    const uint8_t b = m_CharBuffer[static_cast<size_t>(a)];
    if (is5250Attribute(b) && !dbcs) {
      flush(0);
      // The attribute cell itself: a blank in the normal colours.
      ATTRIBDATA normal = color.Data(k5250NormalAttr);
      normal.m_Attributes &=
          ~static_cast<unsigned>(ATTR_UNDERSCORE | ATTR_REVERSE | ATTR_BLINK | ATTR_COLUMN_SEP);
      std::swap(data, normal);
      text[0] = showAttrs ? static_cast<uint16_t>(b + 0x40) : 0x20;
      n = 1;
      runStart = a;
      flush(CELL_FIELDATTR | CELL_PROTECTED);
      attr = b;
      data = color.Data(attr);
      hidden = CColor::Hidden(attr);
      runStart = a + 1;
      continue;
    }
    uint16_t ch;
    if (b == EB_SO) {
      dbcs = true;
      ch = 0x20;
    } else if (b == EB_SI) {
      dbcs = false;
      ch = 0x20;
    } else if (dbcs) {
      // A double-byte character takes two cells: shown in the first, the
      // second blank.  A pair cut by the end of the row shows blanks.
      ch = 0x20;
      if (a + 1 <= last && (a + 1) % cols != 0 && m_CharBuffer[static_cast<size_t>(a + 1)] != EB_SI) {
        const uint16_t code = static_cast<uint16_t>(b << 8 | m_CharBuffer[static_cast<size_t>(a + 1)]);
        const uint16_t u = (!hidden && _DBCS2Unicode) ? _DBCS2Unicode[code] : 0;
        text[n++] = u ? u : 0x20;
        a++;
      }
    } else if (hidden || b == EB_NULL) {
      ch = 0x20;
    } else if (b == EB_DUP) {
      ch = '*';
    } else if (b == EB_FIELDMARK) {
      ch = ';';
    } else {
      ch = cp_uni(b);
    }
    text[n++] = ch;
  }
  flush(0);
}
