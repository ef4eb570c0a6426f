// Interpreting 5250 host records: the opcode, the commands after each
// escape, the Write To Display orders and the control characters.  Every
// malformed order or command sends one parameter error record and ends the
// record; what was stored before it stays.
#include "te5250_stream.h"

#include <algorithm>

#include "te5250.h"
#include "te5250_session.h"
#include "tetrace.h"

CDataStream::CDataStream(CSesStruct* session, CTe5250Ctrl* parent) : m_Session(session), m_pParent(parent) {}

static uint16_t ds_be16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void CDataStream::DoReadMessage(bool gotEOR) {
  if (!gotEOR) return;
  CSesStruct* s = m_Session;
  const size_t n = s->m_CurBufLoc;
  const bool overflow = s->m_ReadOverflow;
  s->m_CurBufLoc = 0;
  s->m_ReadOverflow = false;
  if (overflow) {
    TE_Trace(TRACE_5250, "5250: record longer than %zu bytes dropped\n", k5250MaxRecord);
    return;
  }
  if (n < k5250HeaderSize) {
    TE_Trace(TRACE_5250, "5250: record of %zu bytes is shorter than its header; dropped\n", n);
    return;
  }
  const uint8_t* rec = s->m_ReadBuffer.data();
  const size_t length = ds_be16(rec);
  if (length != n) {
    TE_Trace(TRACE_5250, "5250: record length %zu does not match the %zu bytes received; dropped\n", length,
             n);
    return;
  }
  const uint8_t opcode = rec[9];
  m_p = rec + k5250HeaderSize;
  m_end = rec + n;
  s->m_endptr = m_end;
  m_Stopped = false;

  // The host answered: a help request no longer waits.
  if (s->m_State == STATE_ERROR_WAITING_FOR_HELP) s->m_State = STATE_LOCKED;
  s->Lock(true);
  switch (opcode) {
    case OPCODE_NOOP:
      break;
    case OPCODE_INVITE:
    case OPCODE_PUTGET:
    case OPCODE_SAVE:
    case OPCODE_RESTORE:
    case OPCODE_READIMMEDIATE:
    case OPCODE_READSCREEN:
      s->m_Invited = true;
      s->Unlock();
      ProcessData(false);
      break;
    case OPCODE_OUTPUT:
      s->Lock(true);
      if (m_p < m_end && *m_p == ORDER_COMMAND)
        ProcessData(false);
      else
        TE_Trace(TRACE_5250, "Received OPCODE_OUTPUT with no following ORDER_COMMAND. Ignoring.\n");
      break;
    case OPCODE_CANCELINVITE:
      WriteTelapi(0, OPCODE_CANCELINVITE, 0, nullptr);
      s->m_Invited = false;
      s->m_Read = 0;
      s->m_CC1 = s->m_CC2 = 0;
      s->Lock(true);
      break;
    case OPCODE_MSGON:
    case OPCODE_MSGOFF:
      s->m_MessageWaiting = opcode == OPCODE_MSGON;
      s->StatusChanged();
      ProcessData(false);
      break;
    default:
      TE_Trace(TRACE_5250, "Got Unsupported Opcode: %d\n", opcode);
      break;
  }
  s->m_LastOrder = ORDER_NOTHING;
  s->m_endptr = nullptr;
  m_p = m_end = nullptr;
  // Typing continues where the cursor is shown.
  s->m_CurrentAddress = s->m_CursorAddress;
  s->UpdateCurrentField();
  if (s->m_DataModified) {
    s->m_DataModified = false;
    m_pParent->Redisplay();
  } else {
    m_pParent->NotifyCursor();
  }
}

bool CDataStream::WriteTelapi(uint8_t dataflags, uint8_t opcode, size_t datalength, const uint8_t* data) {
  if (m_pParent->IsNotAnEmulator() || !m_Session->m_Invited) return false;
  const size_t total = k5250HeaderSize + datalength;
  if (total > k5250MaxRecord) {
    TE_Trace(TRACE_5250, "5250: reply of %zu bytes exceeds the largest record; not sent\n", total);
    return false;
  }
  std::vector<uint8_t> rec(total);
  rec[0] = static_cast<uint8_t>(total >> 8);
  rec[1] = static_cast<uint8_t>(total);
  rec[2] = k5250RecordType >> 8;
  rec[3] = k5250RecordType & 0xFF;
  rec[4] = rec[5] = 0;
  rec[6] = 4;
  rec[7] = dataflags;
  rec[8] = 0;
  rec[9] = opcode;
  if (datalength) std::copy_n(data, datalength, rec.begin() + k5250HeaderSize);
  return m_pParent->SendRecord(rec.data(), rec.size());
}

void CDataStream::ParamError(const Error5250& e) {
  TE_Trace(TRACE_5250, "5250: parameter error %02X %02X %02X %02X\n", e.b[0], e.b[1], e.b[2], e.b[3]);
  WriteTelapi(FLAG_ERR, OPCODE_NOOP, sizeof e.b, e.b);
  m_Stopped = true;
}

bool CDataStream::Need(size_t n) {
  if (static_cast<size_t>(m_end - m_p) >= n) return true;
  ParamError(PERR_PREMATURE_END);
  return false;
}

bool CDataStream::ReadAddress(int* address) {
  if (!Need(2)) return false;
  const int row = m_p[0], col = m_p[1];
  m_p += 2;
  if (row < 1 || row > m_Session->m_CurSize.cy || col < 1 || col > m_Session->m_CurSize.cx) {
    ParamError(PERR_ADDRESS);
    return false;
  }
  *address = m_Session->Address(row, col);
  return true;
}

bool CDataStream::CheckStopAddress(int stop) {
  const CSesStruct* s = m_Session;
  if (s->m_CurrentAddress < 0) {
    ParamError(PERR_ADDRESS);
    return false;
  }
  if (stop < s->m_CurrentAddress) {
    ParamError(PERR_STOP_BEFORE_START);
    return false;
  }
  if (s->m_CurrentAddress > s->m_MaxAddress) {
    ParamError(PERR_WRITE_PAST_END);
    return false;
  }
  return true;
}

void CDataStream::StoreChar(uint8_t ch) {
  CSesStruct* s = m_Session;
  if (s->m_CurrentAddress < 0) {
    ParamError(PERR_ADDRESS);
    return;
  }
  if (s->m_CurrentAddress > s->m_MaxAddress) {
    ParamError(PERR_DATA_PAST_END);
    return;
  }
  s->m_CharBuffer[static_cast<size_t>(s->m_CurrentAddress++)] = ch;
  s->m_DataModified = true;
}

bool CDataStream::ProcessData(bool stopAtEscape) {
  CSesStruct* s = m_Session;
  while (m_p < m_end && !m_Stopped) {
    const uint8_t b = *m_p;
    if (b == ORDER_COMMAND) {
      if (stopAtEscape) return true;
      m_p++;
      if (!DoCommand()) return false;
      s->m_LastOrder = ORDER_COMMAND;
      continue;
    }
    if (b < 0x20 && b != 0x00 && b != EB_SO && b != EB_SI && b != EB_DUP && b != EB_FIELDMARK) {
      m_p++;
      if (!DoOrder(b)) return false;
      s->m_LastOrder = b;
      continue;
    }
    m_p++;
    if (b == 0xFF) continue;
    // A run of plain characters is stored in one go.
    const uint8_t* run = m_p - 1;
    const uint8_t* stop = run + 1;
    while (stop < m_end && *stop >= 0x20 && *stop != 0xFF) stop++;
    const int len = static_cast<int>(stop - run);
    if (len > 1 && s->m_CurrentAddress >= 0 && s->m_CurrentAddress + len - 1 <= s->m_MaxAddress) {
      std::copy(run, stop, s->m_CharBuffer.begin() + s->m_CurrentAddress);
      s->m_CurrentAddress += len;
      s->m_DataModified = true;
      m_p = stop;
      continue;
    }
    StoreChar(b);
  }
  return !m_Stopped;
}

bool CDataStream::DoOrder(uint8_t order) {
  switch (order) {
    case ORDER_SOH:
      return DoSOH();
    case ORDER_RA:
      return DoRA();
    case ORDER_EA:
      return DoEA();
    case ORDER_TD:
      return DoTD();
    case ORDER_SBA:
      return DoSBA();
    case ORDER_IC:
      return DoICMC(true);
    case ORDER_MC:
      return DoICMC(false);
    case ORDER_SF:
      return DoSF();
    default:
      TE_Trace(TRACE_5250, "5250: unsupported order %02X\n", order);
      ParamError(PERR_UNSUPPORTED_COMMAND);
      return false;
  }
}

bool CDataStream::DoSOH() {
  CSesStruct* s = m_Session;
  if (!Need(1)) return false;
  const int len = *m_p++;
  if (len == 0 || len > 7) {
    ParamError(PERR_SOH_LENGTH);
    return false;
  }
  if (!Need(static_cast<size_t>(len))) return false;
  const uint8_t* p = m_p;
  m_p += len;
  DoClearFormatTable();
  s->m_CurrentAddress = 0;
  CFieldTable& t = *s->m_Fields;
  t.m_InputCapableOnly = (p[0] & 0x10) != 0;
  if (len >= 3) t.m_ReseqStart = p[2];
  if (len >= 4 && p[3] != 0) {
    // An error row outside the screen leaves the message row where it is.
    if (p[3] <= s->m_CurSize.cy)
      t.ChangeErrorLine(p[3], s->m_CurSize.cx);
    else
      TE_Trace(TRACE_5250, "5250: SOH error row %d outside the screen ignored\n", p[3]);
  }
  uint32_t mask = 0;
  for (int i = 4; i < 7; i++) mask = mask << 8 | (i < len ? p[i] : 0);
  t.m_IgnoreKeys = mask;
  return true;
}

bool CDataStream::DoRA() {
  CSesStruct* s = m_Session;
  int stop;
  if (!ReadAddress(&stop)) return false;
  if (!Need(1)) return false;
  const uint8_t ch = *m_p++;
  if (!CheckStopAddress(stop)) return false;
  std::fill(s->m_CharBuffer.begin() + s->m_CurrentAddress, s->m_CharBuffer.begin() + stop + 1, ch);
  s->m_CurrentAddress = stop + 1;
  s->m_DataModified = true;
  return true;
}

bool CDataStream::DoEA() {
  CSesStruct* s = m_Session;
  int stop;
  if (!ReadAddress(&stop)) return false;
  if (!Need(1)) return false;
  const int len = *m_p++;
  if (len < 2 || len > 5) {
    ParamError(PERR_PREMATURE_END);
    return false;
  }
  if (!Need(static_cast<size_t>(len - 1))) return false;
  m_p += len - 1;  // attribute types: every cell is erased
  if (!CheckStopAddress(stop)) return false;
  std::fill(s->m_CharBuffer.begin() + s->m_CurrentAddress, s->m_CharBuffer.begin() + stop + 1, EB_NULL);
  s->m_CurrentAddress = stop + 1;
  s->m_DataModified = true;
  return true;
}

bool CDataStream::DoTD() {
  CSesStruct* s = m_Session;
  if (!Need(2)) return false;
  const int len = ds_be16(m_p);
  m_p += 2;
  if (!Need(static_cast<size_t>(len))) return false;
  if (s->m_CurrentAddress < 0) {
    ParamError(PERR_ADDRESS);
    return false;
  }
  if (s->m_CurrentAddress + len - 1 > s->m_MaxAddress) {
    ParamError(PERR_WRITE_PAST_END);
    return false;
  }
  for (int i = 0; i < len; i++) {
    const uint8_t b = m_p[i];
    if (b != 0xFF) s->m_CharBuffer[static_cast<size_t>(s->m_CurrentAddress)] = b;
    s->m_CurrentAddress++;
  }
  m_p += len;
  s->m_DataModified = true;
  return true;
}

bool CDataStream::DoSBA() {
  CSesStruct* s = m_Session;
  if (!Need(2)) return false;
  // Row 1, column 0 names the cell before the first: only a field
  // attribute may go there (checked where something is stored).
  if (m_p[0] == 1 && m_p[1] == 0) {
    m_p += 2;
    s->m_CurrentAddress = -1;
    return true;
  }
  return ReadAddress(&s->m_CurrentAddress);
}

bool CDataStream::DoICMC(bool insertCursor) {
  CSesStruct* s = m_Session;
  int address;
  if (!ReadAddress(&address)) return false;
  s->m_CurrentAddress = address;
  s->m_TmpCursorAddress = address;
  if (insertCursor) s->m_HomeAddress = address;
  return true;
}

bool CDataStream::DoSF() {
  CSesStruct* s = m_Session;
  s->Lock(true);
  if (!Need(1)) return false;
  bool hasFfw = false;
  uint16_t ffw = 0;
  int reseq = CFieldTable::kNoReseq;
  bool transparent = false, edge = false, selectable = false;
  if (*m_p & 0x40) {
    if (!Need(2)) return false;
    hasFfw = true;
    ffw = ds_be16(m_p);
    m_p += 2;
    while (m_p < m_end && (*m_p & 0x80)) {
      if (!Need(2)) return false;
      const uint8_t kind = m_p[0], value = m_p[1];
      m_p += 2;
      if (kind == 0x80)
        reseq = value;
      else if (kind == 0x84)
        transparent = true;
      else if (kind == 0x85 && value == 0x01)
        edge = true;
      else if (kind == 0x81 && (value == 0x02 || value == 0x03))
        selectable = true;
    }
  }
  if (!Need(3)) return false;
  const uint8_t attr = m_p[0];
  const int length = ds_be16(m_p + 1);
  m_p += 3;
  if (!is5250Attribute(attr)) {
    ParamError(PERR_SF_ATTRIBUTE);
    return false;
  }
  Error5250 err;
  int start = 0;
  const int result =
      s->m_Fields->AddField(err, hasFfw, ffw, length, reseq, transparent, edge, selectable, &start);
  if (result == FIELD_REJECTED) {
    ParamError(err);
    return false;
  }
  if ((result == FIELD_ADDED || result == FIELD_NO_TRAILER) && s->ValidAddress(start - 1))
    s->m_CharBuffer[static_cast<size_t>(start - 1)] = attr;
  const int trailer = start + length;
  if ((result == FIELD_ADDED || result == FIELD_AT_ORIGIN) && s->ValidAddress(trailer))
    s->m_CharBuffer[static_cast<size_t>(trailer)] = k5250NormalAttr;
  s->m_CurrentAddress = start;
  s->m_DataModified = true;
  return true;
}

bool CDataStream::DoCommand() {
  CSesStruct* s = m_Session;
  if (!Need(1)) return false;
  const uint8_t cmd = *m_p++;
  switch (cmd) {
    case COMMAND_CU:
      DoClearUnit(80, 25);
      return true;
    case COMMAND_CU_ALT:
      if (!Need(1)) return false;
      if (*m_p++ != 0x00) {
        ParamError(PERR_CLEAR_UNIT_ALT_PARAM);
        return false;
      }
      DoClearUnit(132, 28);
      return true;
    case COMMAND_CFT:
      DoClearFormatTable();
      return true;
    case COMMAND_WTD: {
      if (!Need(2)) return false;
      const uint8_t cc1 = m_p[0], cc2 = m_p[1];
      m_p += 2;
      ProcessCC1(cc1);
      s->m_DataModified = true;
      if (!ProcessData(true)) return false;
      ProcessCC2(cc2);
      return true;
    }
    case COMMAND_WRITEERROR:
      return DoWriteError();
    case COMMAND_ROLL:
      return DoRoll();
    case COMMAND_READINPUT:
    case COMMAND_READMDT:
    case COMMAND_READMDT_ALT: {
      if (!Need(2)) return false;
      const uint8_t cc1 = m_p[0], cc2 = m_p[1];
      m_p += 2;
      DoReadCommand(cmd, cc1, cc2);
      return true;
    }
    case COMMAND_READIMMEDIATE:
    case COMMAND_READMDT_IMMEDIATE_ALT:
      s->m_Read = cmd;
      DoRead();
      return true;
    case COMMAND_READSCREEN:
    case COMMAND_READSCREENPRINT:
      ReadScreenReply();
      return true;
    case COMMAND_SAVESCREEN: {
      std::vector<uint8_t> image = BuildSaveImage();
      WriteTelapi(0, OPCODE_SAVE, image.size(), image.data());
      m_p = m_end;  // the rest of the record is ignored
      return true;
    }
    case COMMAND_RESTORESCREEN: {
      Error5250 err;
      if (!Need(2)) return false;
      const size_t len = ds_be16(m_p);
      if (!Need(2 + len)) return false;
      if (!RestoreImage(m_p, 2 + len, err)) {
        ParamError(err);
        return false;
      }
      m_p += 2 + len;
      return true;
    }
    case COMMAND_WSF:
      return DoWSF();
    default:
      TE_Trace(TRACE_5250, "Got unsupported command %x\n", cmd);
      ParamError(PERR_UNSUPPORTED_COMMAND);
      return false;
  }
}

void CDataStream::DoClearUnit(int cols, int rows) {
  CSesStruct* s = m_Session;
  const bool sizeRight = s->m_CurSize.cx == cols && s->m_CurSize.cy == rows;
  const bool mayResize = cols == 132 || !m_pParent->IsNotAnEmulator();
  if (!sizeRight && mayResize) {
    s->InitSession(cols, rows);
    m_pParent->EraseAndResize();
  } else {
    s->InitCharBuffer();
    DoClearFormatTable();
  }
  s->m_CurrentAddress = 0;
  s->m_TmpCursorAddress = -1;
  s->m_HomeAddress = -1;
  s->m_CurField = -1;
  s->m_DataModified = true;
  s->SetCursor(0);
}

void CDataStream::DoClearFormatTable() {
  CSesStruct* s = m_Session;
  s->Lock(true);
  if (s->m_Insert) {
    s->m_Insert = false;
    s->StatusChanged();
  }
  s->m_LastOrder = ORDER_NOTHING;
  s->m_AID = 0;
  s->m_Read = 0;
  s->m_CC1 = s->m_CC2 = 0;
  s->m_ErrorLine.clear();
  s->m_HaveErrorLine = false;
  s->m_Fields->ClearTable(s->m_CurSize.cy);
  s->m_TmpCursorAddress = -1;
  s->m_HomeAddress = -1;
  s->m_CurField = -1;
  s->m_DataModified = true;
}

bool CDataStream::DoWriteError() {
  CSesStruct* s = m_Session;
  if (m_p >= m_end || *m_p == ORDER_COMMAND) {
    ParamError(PERR_PREMATURE_END);
    return false;
  }
  const int cols = s->m_CurSize.cx;
  std::vector<uint8_t> line(static_cast<size_t>(cols), EB_NULL);
  int pos = 0, cursor = -1;
  while (m_p < m_end && *m_p != ORDER_COMMAND) {
    if (*m_p == ORDER_IC) {
      m_p++;
      if (!ReadAddress(&cursor)) return false;
      pos++;  // the cursor's cell keeps its null
      continue;
    }
    if (pos < cols) line[static_cast<size_t>(pos)] = *m_p;
    pos++;
    m_p++;
  }
  s->SaveErrorLine();
  s->WriteErrorLine(line.data(), cols);
  s->m_State = STATE_ERROR;
  s->m_SystemLock = false;
  s->m_ErrorCode = 0;
  s->m_AID = 0;
  s->m_DataModified = true;
  if (cursor >= 0) s->SetCursor(cursor);
  s->StatusChanged();
  return true;
}

bool CDataStream::DoRoll() {
  CSesStruct* s = m_Session;
  if (!Need(3)) return false;
  const uint8_t dir = m_p[0];
  const int top = m_p[1], bottom = m_p[2];
  m_p += 3;
  const int count = dir & 0x1F;
  const bool down = (dir & 0x80) != 0;
  if (top < 1 || top >= bottom || bottom > s->m_CurSize.cy || bottom - top < count) {
    ParamError(PERR_ROLL);
    return false;
  }
  if (count > 0) {
    const int cols = s->m_CurSize.cx;
    auto row = [&](int r) { return s->m_CharBuffer.begin() + (r - 1) * cols; };
    if (down) {
      for (int r = bottom; r - count >= top; r--) std::copy_n(row(r - count), cols, row(r));
    } else {
      for (int r = top; r + count <= bottom; r++) std::copy_n(row(r + count), cols, row(r));
    }
  }
  s->m_DataModified = true;
  return true;
}

bool CDataStream::DoWSF() {
  static const uint8_t kQuery[5] = {0x00, 0x05, 0xD9, 0x70, 0x00};
  if (m_end - m_p < 5 || !std::equal(kQuery, kQuery + 5, m_p)) {
    ParamError(PERR_STRUCTURED_FIELD);
    return false;
  }
  m_p += 5;
  std::vector<uint8_t> reply = QueryReply();
  WriteTelapi(0, OPCODE_PUTGET, reply.size(), reply.data());
  return true;
}

void CDataStream::DoReadCommand(uint8_t command, uint8_t cc1, uint8_t cc2) {
  CSesStruct* s = m_Session;
  s->m_Read = command;
  s->m_CC1 = cc1;
  s->m_CC2 = cc2;
  if (s->m_AID != 0) DoRead();
}

void CDataStream::NullFields(bool onlyModified) {
  CFieldTable& t = *m_Session->m_Fields;
  for (int i = 0; i < t.Count(); i++) {
    const FieldDescriptor& f = t.Field(i);
    if (f.Bypass() || (onlyModified && !f.Modified())) continue;
    std::fill_n(m_Session->m_CharBuffer.begin() + f.m_StartAddress, f.m_length, EB_NULL);
    m_Session->m_DataModified = true;
  }
}

void CDataStream::ProcessCC1(uint8_t cc1) {
  CSesStruct* s = m_Session;
  if (cc1 == 0) return;
  s->m_AID = 0;
  s->Lock(true);
  CFieldTable& t = *s->m_Fields;
  auto resetMdt = [&](bool all) {
    for (int i = 0; i < t.Count(); i++)
      if (all || !t.Field(i).Bypass()) t.SetMDT(i, false);
  };
  switch (cc1 & 0xE0) {
    case 0x40:
      resetMdt(false);
      break;
    case 0x60:
      resetMdt(true);
      break;
    case 0x80:
      NullFields(true);
      break;
    case 0xA0:
      resetMdt(false);
      NullFields(false);
      break;
    case 0xC0:
      // Null the fields whose MDT was set, then reset their MDT.
      NullFields(true);
      resetMdt(false);
      break;
    case 0xE0:
      resetMdt(true);
      NullFields(false);
      break;
    default:
      break;
  }
}

void CDataStream::ProcessCC2(uint8_t cc2) {
  CSesStruct* s = m_Session;
  if ((cc2 & 0x08) && !(cc2 & 0x40)) {
    const int first = s->m_Fields->FirstInputAddress();
    int address;
    if (s->m_TmpCursorAddress >= 0) {
      address = s->m_TmpCursorAddress;
    } else {
      address = first;
      s->m_HomeAddress = first;
    }
    if (s->m_HomeAddress < 0) s->m_HomeAddress = first;
    s->m_TmpCursorAddress = -1;
    s->SetCursor(address);
  }
  if (cc2 & 0x04) m_pParent->Beep();
  if (cc2 & 0x08) {
    s->m_AID = 0;
    s->Unlock();
  }
  if (cc2 & 0x02) {
    s->m_MessageWaiting = (cc2 & 0x01) != 0;
    s->StatusChanged();
  }
}
