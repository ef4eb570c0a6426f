// The 5250 control: record collection, keys in, records out, the model,
// code pages, colours and the screen hash.
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "emulation_ids.h"
#include "tcs.h"
#include "te5250.h"
#include "te5250_input.h"
#include "te5250_session.h"
#include "te5250_stream.h"
#include "tetrace.h"

const char* C5250Status::Indicator() const {
  switch (state) {
    case STATE_UNLOCKED:
    case STATE_SYSREQ:
      return "";
    case STATE_LOCKED:
      return systemLock ? "X SYSTEM" : "X II";
    default:
      return "X II";
  }
}

CTe5250Ctrl::CTe5250Ctrl() {
  m_Session = std::make_unique<CSesStruct>(this);
  m_DataStream = std::make_unique<CDataStream>(m_Session.get(), this);
  m_Input = std::make_unique<CInput>(m_Session.get(), m_DataStream.get(), this);
  m_pSession = m_Session.get();
  m_pDataStream = m_DataStream.get();
  m_pInput = m_Input.get();
  m_pSession->ChangeEmulation(m_Emulation);
}

CTe5250Ctrl::~CTe5250Ctrl() {
  delete[] m_OwnCP2Unicode;
  delete[] m_OwnDBCS2Unicode;
  TCSFreeTbl(m_OwnUnicode2CP);
}

void CTe5250Ctrl::SetView(C5250View* view) {
  m_pView = view;
}

void CTe5250Ctrl::SetSendHook(C5250SendHook hook, void* owner) {
  m_Send = hook;
  m_SendOwner = owner;
}

// ---- host side ----

void CTe5250Ctrl::OnConnect() {
  m_pSession->ChangeEmulation(m_Emulation);
  m_pSession->m_CurBufLoc = 0;
  m_pSession->m_ReadOverflow = false;
  m_pSession->m_ReadReady = true;
  m_bEORReceived = false;
  EraseAndResize();
  Redisplay();
}

void CTe5250Ctrl::OnDisconnect() {
  m_pInput->DropTypeahead();
  m_pSession->m_ReadReady = false;
  m_pSession->m_CurBufLoc = 0;
  m_pSession->m_ReadOverflow = false;
  m_pSession->m_ReadBuffer.clear();
  m_pSession->m_ReadBuffer.shrink_to_fit();
}

void CTe5250Ctrl::GotData(const uint8_t* bytes, size_t length, bool haveEOR) {
  CSesStruct* s = m_pSession;
  if (!s->m_ReadReady) {
    if (length) TE_Trace(TRACE_5250, "5250: %zu host bytes before the connection was made dropped\n", length);
    return;
  }
  if (length && !s->m_ReadOverflow) {
    if (s->m_CurBufLoc + length > k5250MaxRecord) {
      TE_Trace(TRACE_5250, "5250: record grows past %zu bytes; dropping it\n", k5250MaxRecord);
      s->m_ReadOverflow = true;
      s->m_CurBufLoc = 0;
    } else {
      if (s->m_ReadBuffer.size() < s->m_CurBufLoc + length) s->m_ReadBuffer.resize(s->m_CurBufLoc + length);
      std::memcpy(s->m_ReadBuffer.data() + s->m_CurBufLoc, bytes, length);
      s->m_CurBufLoc += length;
    }
  }
  if (haveEOR) {
    m_bEORReceived = true;
    m_pDataStream->DoReadMessage(true);
    // Keys typed while the keyboard was locked go once the record freed it.
    if (m_pInput->Typeahead() > 0) {
      m_pInput->RunTypeahead();
      NotifyStatus();
    }
  }
}

bool CTe5250Ctrl::SendRecord(const uint8_t* bytes, size_t length) {
  if (TE_Trace_Enabled(TRACE_5250)) TE_Trace(TRACE_5250, "5250: sending a record of %zu bytes\n", length);
  const int sent = m_Send ? m_Send(m_SendOwner, bytes, static_cast<int>(length)) : 0;
  if (sent < static_cast<int>(length)) {
    FireEWriteError();
    return false;
  }
  return true;
}

void CTe5250Ctrl::FireEWriteError() {
  m_WriteErrors++;
  TE_Trace(TRACE_5250, "5250: a record did not reach the host\n");
}

// ---- keys ----

int CTe5250Ctrl::ProcessKey(int key) {
  // Characters in the session's internal code (the 5250 keys lie above).
  if (isTCS(key)) {
    uint16_t u = m_TCS2Unicode ? m_TCS2Unicode[key - TCS_FIRST] : 0;
    if (!u && key - TCS_FIRST < 0x80) u = static_cast<uint16_t>(key - TCS_FIRST);
    if (!u) {
      Beep();
      return 1;
    }
    return m_pInput->ProcessChar(u);
  }
  if (key >= 0x20 && key <= 0xFF) return m_pInput->ProcessChar(static_cast<uint16_t>(key));
  switch (key) {
    case '\r':
    case '\n':
      key = K5250_ENTER;
      break;
    case '\b':
      key = K5250_BACKSPACE;
      break;
    case 298:  // End
      key = K5250_END;
      break;
    case 305:  // Shift+Tab
      key = K5250_BACKTAB;
      break;
    case 457:  // the session's Help key
      key = K5250_HELP;
      break;
    case 1174:  // the shared key names' "reset" (the 5250 Reset is 1175)
      key = K5250_RESET;
      break;
    case 295:  // Page Down
      key = K5250_ROLLUP;
      break;
    case 296:  // Page Up
      key = K5250_ROLLDOWN;
      break;
    default:
      break;
  }
  return m_pInput->ProcessKey(key);
}

int CTe5250Ctrl::ProcessChar(uint16_t ch) {
  return m_pInput->ProcessChar(ch);
}

void CTe5250Ctrl::MoveCursor(int x, int y) {
  CSesStruct* s = m_pSession;
  const int row = std::clamp(s->m_CurSize.cy - y, 1, s->m_CurSize.cy);
  const int col = std::clamp(x + 1, 1, s->m_CurSize.cx);
  s->SetCursor(s->Address(row, col));
}

// ---- code pages ----

int CTe5250Ctrl::SetEmInCP(const char* file, const char* codepage) {
  static const char kSuffix[] = ".unicode";
  const size_t n = codepage ? strlen(codepage) : 0;
  if (n <= sizeof kSuffix - 1 || strcmp(codepage + n - (sizeof kSuffix - 1), kSuffix) != 0) return -1;
  uint16_t* table = static_cast<uint16_t*>(TCSLoadTbl(TCS_TBL_UNICODE, file, codepage));
  if (!table) return -1;
  bool any = false, dbcs = false;
  for (size_t i = 0; i < TCS_UNICODE_SIZE; i++) {
    if (table[i]) any = true;
    if (table[i] > 0xFF) dbcs = true;
  }
  if (!any) {
    TCSFreeTbl(table);
    TE_Trace(TRACE_5250, "5250: code page \"%s\" not found\n", codepage);
    return -1;
  }
  uint16_t* inverse = new uint16_t[256]();
  uint16_t* dbcsInverse = dbcs ? new uint16_t[0x10000]() : nullptr;
  for (size_t u = TCS_UNICODE_SIZE; u-- > 0;) {
    const uint16_t c = table[u];
    if (!c) continue;
    if (c <= 0xFF)
      inverse[c] = static_cast<uint16_t>(u);
    else if (dbcsInverse)
      dbcsInverse[c] = static_cast<uint16_t>(u);
  }
  delete[] m_OwnCP2Unicode;
  delete[] m_OwnDBCS2Unicode;
  TCSFreeTbl(m_OwnUnicode2CP);
  m_OwnCP2Unicode = inverse;
  m_OwnDBCS2Unicode = dbcsInverse;
  m_OwnUnicode2CP = table;
  m_pSession->_CP2Unicode = inverse;
  m_pSession->_Unicode2CP = table;
  m_pSession->_DBCS2Unicode = dbcsInverse;
  Redisplay();
  return 0;
}

void CTe5250Ctrl::SetEmulatorSize(int nLines, int nColumns) {
  nLines = std::clamp(nLines, 1, 28);
  nColumns = std::clamp(nColumns, 1, 132);
  m_pSession->InitSession(nColumns, nLines);
  EraseAndResize();
  Redisplay();
}

// ---- model ----

const char* CTe5250Ctrl::GetNameByIndex(int index) {
  switch (index) {
    case 0:
      return "IBM-5555-C01";
    case 1:
      return "IBM-3477-FC";
    case 2:
      return "IBM-3179-2";
    default:
      return "UNKNOWN";
  }
}

void CTe5250Ctrl::SetEmulation(int nNewValue) {
  int model;
  switch (nNewValue) {
    case KVX_EM_IBM3270_MODEL2:  // the setting that stands for a 3179 here
      model = EMU_3179;
      break;
    case KVX_EM_IBM5250_3477:
      model = EMU_3477;
      break;
    case KVX_EM_IBM5250:
      model = EMU_5555;
      break;
    default:
      return;
  }
  SetModel(model);
}

void CTe5250Ctrl::SetModel(int index) {
  const int model = (index >= EMU_3179 && index <= EMU_5555) ? index : EMU_5555;
  if (model == m_Emulation) return;
  m_Emulation = model;
  m_bEORReceived = false;
  m_pSession->ChangeEmulation(model);
  EraseAndResize();
  Redisplay();
}

int CTe5250Ctrl::GetEmulation() const {
  if (m_Emulation == EMU_3477) return KVX_EM_IBM5250_3477;
  if (m_Emulation == EMU_5555) return KVX_EM_IBM5250;
  return KVX_EM_IBM3270_MODEL2;
}

// ---- colours ----

void CTe5250Ctrl::SetRGBEntry(int nEntry, COLORREF nRGBValue) {
  if (!CColor::ValidColor(nEntry)) return;
  m_Color.m_RGBMap[nEntry] = nRGBValue;
  WindowColorsChanged();
  Redisplay();
}

COLORREF CTe5250Ctrl::GetRGBEntry(int nEntry) const {
  return CColor::ValidColor(nEntry) ? m_Color.m_RGBMap[nEntry] : 0;
}

int CTe5250Ctrl::SetFGColorWithColor(int nColor, int nNewColor) {
  if (!CColor::ValidColor(nNewColor)) return 0;  // no colour given: the default stays
  for (int a = CColor::kFirstAttr; a < CColor::kFirstAttr + CColor::kAttrs; a++)
    if (CColor::DefaultFg(a) == nColor) m_Color.m_ColorArray[a - CColor::kFirstAttr][0] = nNewColor;
  if (nColor == 10) {
    m_WinFg = nNewColor;
    WindowColorsChanged();
  }
  Redisplay();
  return 0;
}

int CTe5250Ctrl::SetBGColorWithColor(int nNewColor) {
  if (!CColor::ValidColor(nNewColor)) return 0;
  for (int i = 0; i < CColor::kAttrs; i++) m_Color.m_ColorArray[i][1] = nNewColor;
  m_WinBg = nNewColor;
  WindowColorsChanged();
  Redisplay();
  return 0;
}

int CTe5250Ctrl::SetFGColor(int nType, int nValue) {
  if (!CColor::ValidAttr(nType) || !CColor::ValidColor(nValue)) return -1;
  m_Color.m_ColorArray[nType - CColor::kFirstAttr][0] = nValue;
  m_WinFg = -1;
  WindowColorsChanged();
  Redisplay();
  return 0;
}

int CTe5250Ctrl::SetBGColor(int nType, int nValue) {
  if (!CColor::ValidAttr(nType) || !CColor::ValidColor(nValue)) return -1;
  auto& bg = m_Color.m_ColorArray;
  bg[nType - CColor::kFirstAttr][1] = nValue;
  if (nType == 0x20) bg[0][1] = nValue;
  if (m_bNotAnEmulator && nType != 0x20 && nType != CColor::kFirstAttr) {
    const bool reverse = (m_Color.m_AttribArray[nType - CColor::kFirstAttr] & ATTR_REVERSE) != 0;
    bg[0][1] = reverse ? bg[nType - CColor::kFirstAttr][0] : nValue;
  }
  m_WinBg = -1;
  WindowColorsChanged();
  Redisplay();
  return 0;
}

int CTe5250Ctrl::GetFGColor(int nType) const {
  return CColor::ValidAttr(nType) ? m_Color.Fg(nType) : -1;
}

int CTe5250Ctrl::GetBGColor(int nType) const {
  return CColor::ValidAttr(nType) ? m_Color.Bg(nType) : -1;
}

int CTe5250Ctrl::GetTextAttribute(int nType) const {
  return CColor::ValidAttr(nType) ? static_cast<int>(m_Color.Flags(nType)) : -1;
}

int CTe5250Ctrl::SetTextAttribute(int nType, int nValue) {
  if (!CColor::ValidAttr(nType)) return -1;
  m_Color.m_AttribArray[nType - CColor::kFirstAttr] = static_cast<unsigned>(nValue) & 0x1F;
  Redisplay();
  return 0;
}

void CTe5250Ctrl::SetShowAttributes(bool bNewValue) {
  if (bNewValue == m_bShowAttributes) return;
  m_bShowAttributes = bNewValue;
  Redisplay();
}

void CTe5250Ctrl::SetFieldDots(int val) {
  m_showFieldDots = val ? 1 : 0;
  Redisplay();
}

void CTe5250Ctrl::WindowColorsChanged() {
  if (!m_pView) return;
  m_pView->OnColorTable(m_Color.m_RGBMap);
  const COLORREF fg = CColor::ValidColor(m_WinFg) ? m_Color.m_RGBMap[m_WinFg] : 0xFFFFFFFF;
  const COLORREF bg = CColor::ValidColor(m_WinBg) ? m_Color.m_RGBMap[m_WinBg] : 0xFF000000;
  m_pView->OnWindowColors(fg, bg);
}

// ---- screen ----

std::string CTe5250Ctrl::ScreenHash() const {
  const CSesStruct* s = m_pSession;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (!ctx) return std::string();
  EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
  int number = 0;
  char text[32];
  for (int a = 0; a <= s->m_MaxAddress; a++) {
    if (!is5250Attribute(s->m_CharBuffer[static_cast<size_t>(a)])) continue;
    const int n = snprintf(text, sizeof text, "%d %d", number++, a);
    EVP_DigestUpdate(ctx, text, static_cast<size_t>(n));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  EVP_DigestFinal_ex(ctx, digest, &len);
  EVP_MD_CTX_free(ctx);
  std::string hex;
  for (unsigned i = 0; i < len; i++) {
    snprintf(text, sizeof text, "%02x", digest[i]);
    hex += text;
  }
  return hex;
}

static void ctrl_utf8(std::string& out, uint16_t u) {
  TCSUtf8Append(out, u);
}

std::string CTe5250Ctrl::RowText(int row) const {
  const CSesStruct* s = m_pSession;
  std::string out;
  if (row < 1 || row > s->m_CurSize.cy) return out;
  const int start = (row - 1) * s->m_CurSize.cx;
  int attr = k5250NormalAttr;
  for (int a = start; a >= 0; a--)
    if (is5250Attribute(s->m_CharBuffer[static_cast<size_t>(a)])) {
      attr = s->m_CharBuffer[static_cast<size_t>(a)];
      break;
    }
  bool dbcs = false;
  for (int c = 0; c < s->m_CurSize.cx; c++) {
    const uint8_t b = s->m_CharBuffer[static_cast<size_t>(start + c)];
    if (is5250Attribute(b) && !dbcs) {
      attr = b;
      out += ' ';
    } else if (b == EB_SO || b == EB_SI) {
      dbcs = b == EB_SO;
      out += ' ';
    } else if (dbcs && c + 1 < s->m_CurSize.cx) {
      const uint16_t code =
          static_cast<uint16_t>(b << 8 | s->m_CharBuffer[static_cast<size_t>(start + c + 1)]);
      const uint16_t u = (!CColor::Hidden(attr) && s->_DBCS2Unicode) ? s->_DBCS2Unicode[code] : 0;
      ctrl_utf8(out, u ? u : 0x20);
      out += ' ';
      c++;
    } else if (b == EB_NULL || CColor::Hidden(attr) || dbcs) {
      out += ' ';
    } else {
      ctrl_utf8(out, b == EB_DUP ? '*' : b == EB_FIELDMARK ? ';' : s->cp_uni(b));
    }
  }
  return out;
}

void CTe5250Ctrl::Redisplay() {
  // Every cell is painted again: the window starts empty, so that the new
  // colour runs need not be cut into old ones.
  if (m_pView) m_pView->OnEraseScreen();
  m_pSession->ProcessCharBuffer(0, m_pSession->m_MaxAddress);
  NotifyCursor();
}

C5250Status CTe5250Ctrl::Status() const {
  C5250Status st;
  st.state = m_pSession->m_State;
  st.systemLock = m_pSession->m_SystemLock;
  st.errorCode = m_pSession->m_ErrorCode;
  st.insert = m_pSession->m_Insert;
  st.messageWaiting = m_pSession->m_MessageWaiting;
  st.typeahead = m_pInput ? m_pInput->Typeahead() : 0;
  return st;
}

void CTe5250Ctrl::NotifyStatus() {
  if (m_pView && m_pSession) m_pView->OnStatus(Status());
}

void CTe5250Ctrl::NotifyCursor() {
  if (!m_pView) return;
  const CSesStruct* s = m_pSession;
  m_pView->OnMoveCursor(s->Row(s->m_CursorAddress), s->Col(s->m_CursorAddress));
  m_pView->OnRefresh();
}

void CTe5250Ctrl::Beep() {
  if (m_pView) m_pView->OnBeep();
}

void CTe5250Ctrl::EraseAndResize() {
  if (!m_pView) return;
  m_pView->OnEraseScreen();
  m_pView->OnResizeTE(m_pSession->m_CurSize.cx, m_pSession->m_CurSize.cy);
  WindowColorsChanged();
}
