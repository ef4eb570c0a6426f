// Records the 5250 station sends: read replies with their field data, the
// whole-screen reply, the query reply, and the Save Screen image with its
// restoration.
#include <algorithm>

#include "te5250.h"
#include "te5250_input.h"
#include "te5250_session.h"
#include "te5250_stream.h"
#include "tetrace.h"

namespace {

// Save Screen image layout (all multi-byte values big-endian), after the
// escape, the Restore Screen command and the 2-byte length of the rest:
//   columns(2) rows(2) current address(2) home address(2) pending AID key(2)
//   pending read(2) CC1 CC2 state previous-state flags error-row
//   resequence-start command-key-mask(3) field-count(2)
//   per field: start(2) length(2) FFW(2) next(2) flags(1)
//   error line: length(2) and its compressed bytes (length 0: none)
//   buffer: length(2) and its compressed bytes
// Addresses of -1 are written as 0xFFFF.  Only this station reads it back.
enum : uint8_t {
  IMG_MODIFIED = 0x01,
  IMG_INPUT_ONLY = 0x02,
  IMG_INVITED = 0x04,
  IMG_INSERT = 0x08,
};
enum : uint8_t { IMGF_TRANSPARENT = 0x01, IMGF_EDGE = 0x02, IMGF_SELECTABLE = 0x04 };
constexpr uint8_t kCompressEscape = 0x11;

void put16(std::vector<uint8_t>& out, int v) {
  out.push_back(static_cast<uint8_t>(static_cast<unsigned>(v) >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

// Reads big-endian values from a bounded span.
struct Reader {
  const uint8_t* p;
  const uint8_t* end;
  bool ok = true;
  bool Has(size_t n) const { return ok && static_cast<size_t>(end - p) >= n; }
  int U8() {
    if (!Has(1)) return ok = false, 0;
    return *p++;
  }
  int U16() {
    if (!Has(2)) return ok = false, 0;
    int v = p[0] << 8 | p[1];
    p += 2;
    return v;
  }
  int Addr() {
    int v = U16();
    return v == 0xFFFF ? -1 : v;
  }
};

bool valid_size(int cols, int rows) {
  return (cols == 80 && (rows == 24 || rows == 25)) || (cols == 132 && (rows == 27 || rows == 28));
}

}  // namespace

void CDataStream::Compress(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
  size_t i = 0;
  while (i < n) {
    const uint8_t b = in[i];
    size_t run = 1;
    while (i + run < n && in[i + run] == b && run < 255) run++;
    if (b == kCompressEscape || run >= 4) {
      out.push_back(kCompressEscape);
      out.push_back(b);
      out.push_back(static_cast<uint8_t>(run));
    } else {
      out.insert(out.end(), run, b);
    }
    i += run;
  }
}

bool CDataStream::Decompress(const uint8_t* in, size_t n, std::vector<uint8_t>& out, size_t cap) {
  size_t i = 0;
  while (i < n) {
    if (in[i] != kCompressEscape) {
      if (out.size() >= cap) return false;
      out.push_back(in[i++]);
      continue;
    }
    if (n - i < 3 || in[i + 2] == 0) return false;
    const size_t run = in[i + 2];
    if (out.size() + run > cap) return false;
    out.insert(out.end(), run, in[i + 1]);
    i += 3;
  }
  return true;
}

void CDataStream::AppendField(std::vector<uint8_t>& out, int index, bool mdtRead, bool alternate) {
  CSesStruct* s = m_Session;
  CFieldTable& t = *s->m_Fields;
  const FieldDescriptor f = t.Field(index);
  t.SetMDT(index, false);
  const uint8_t* cells = s->m_CharBuffer.data() + f.m_StartAddress;
  if (mdtRead) {
    out.push_back(ORDER_SBA);
    out.push_back(static_cast<uint8_t>(s->Row(f.m_StartAddress)));
    out.push_back(static_cast<uint8_t>(s->Col(f.m_StartAddress)));
  }
  if (f.m_Transparent) {
    if (mdtRead) {
      out.push_back(ORDER_TD);
      put16(out, f.m_length);
    }
    out.insert(out.end(), cells, cells + f.m_length);
    return;
  }
  int n = f.m_length;
  if (mdtRead)
    while (n > 0 && cells[n - 1] == EB_NULL) n--;
  const size_t at = out.size();
  out.insert(out.end(), cells, cells + n);
  if (!alternate)
    for (size_t k = at; k < out.size(); k++)
      if (out[k] == EB_NULL) out[k] = EB_BLANK;
  // A negative signed-numeric field: the sign goes into the zone of the
  // last digit.
  if (f.Signed() && out.size() > at && out.back() == EB_MINUS) {
    out.pop_back();
    if (out.size() > at) out.back() = static_cast<uint8_t>((out.back() & 0x0F) | 0xD0);
  }
}

void CDataStream::DoRead() {
  CSesStruct* s = m_Session;
  const int read = s->m_Read;
  const int aid = s->m_AID;
  const uint8_t row = static_cast<uint8_t>(s->Row(s->m_CursorAddress));
  const uint8_t col = static_cast<uint8_t>(s->Col(s->m_CursorAddress));
  if (read == 0) {
    // No read pending: the host learns of the key; the AID waits for a read.
    if (aid) {
      const uint8_t data[3] = {row, col, CInput::AidByte(aid)};
      WriteTelapi(0, OPCODE_PUTGET, 3, data);
    }
    return;
  }
  const bool immediate = read == COMMAND_READIMMEDIATE || read == COMMAND_READMDT_IMMEDIATE_ALT;
  const bool mdtRead =
      read == COMMAND_READMDT || read == COMMAND_READMDT_ALT || read == COMMAND_READMDT_IMMEDIATE_ALT;
  const bool alternate = read == COMMAND_READMDT_ALT || read == COMMAND_READMDT_IMMEDIATE_ALT;
  CFieldTable& t = *s->m_Fields;
  std::vector<uint8_t> out;
  out.reserve(3 + static_cast<size_t>(s->m_MaxAddress) + 1);
  bool data = immediate;
  if (!immediate) {
    out.push_back(row);
    out.push_back(col);
    out.push_back(CInput::AidByte(aid));
    if (aid == K5250_ENTER || aid == K5250_ROLLUP || aid == K5250_ROLLDOWN) data = true;
    if (aid >= K5250_PF1 && aid <= K5250_PF24 && !t.IgnoresKey(aid - K5250_PF1 + 1)) data = true;
    if ((read == COMMAND_READINPUT || read == COMMAND_READMDT) &&
        (aid == K5250_AUTOENTER_SELECT || aid == K5250_AUTOENTER_EDGE))
      data = true;
  }
  if (data) {
    t.InitReseqGetNext();
    for (int i = t.ReseqGetNextField(false, false); i >= 0; i = t.ReseqGetNextField(false, false))
      if (!mdtRead || t.Field(i).Modified()) AppendField(out, i, mdtRead, alternate);
  }
  WriteTelapi(0, immediate ? OPCODE_READIMMEDIATE : OPCODE_PUTGET, out.size(), out.data());
  if (!immediate) {
    ProcessCC1(s->m_CC1);
    ProcessCC2(s->m_CC2);
    s->m_AID = 0;
    s->m_CC1 = s->m_CC2 = 0;
  }
  s->m_Read = 0;
}

void CDataStream::ReadScreenReply() {
  const std::vector<uint8_t>& b = m_Session->m_CharBuffer;
  WriteTelapi(0, OPCODE_READSCREEN, b.size(), b.data());
}

std::vector<uint8_t> CDataStream::QueryReply() const {
  const CSesStruct* s = m_Session;
  const bool big = m_pParent->Model() == EMU_3477;
  std::vector<uint8_t> r(61, 0);
  r[0] = static_cast<uint8_t>(s->Row(s->m_CursorAddress));
  r[1] = static_cast<uint8_t>(s->Col(s->m_CursorAddress));
  r[2] = AID5250_INBOUND_WSF;
  r[3] = 0x00;
  r[4] = 0x3A;
  r[5] = 0xD9;
  r[6] = 0x70;
  r[7] = 0x80;
  r[8] = 0x06;
  r[9] = 0x00;
  r[29] = 0x01;
  // Device type and model as the EBCDIC characters a station sends:
  // "3179" "002", or "3477" "0FC".
  static const uint8_t k3179[7] = {0xF3, 0xF1, 0xF7, 0xF9, 0xF0, 0xF0, 0xF2};
  static const uint8_t k3477[7] = {0xF3, 0xF4, 0xF7, 0xF7, 0xF0, 0xC6, 0xC3};
  std::copy_n(big ? k3477 : k3179, 7, r.begin() + 30);
  r[37] = 0x02;
  r[44] = 0x01;
  r[45] = 0x00;
  r[49] = 0x7F;
  r[50] = big ? 0x51 : 0x11;
  return r;
}

std::vector<uint8_t> CDataStream::BuildSaveImage() const {
  const CSesStruct* s = m_Session;
  const CFieldTable& t = *s->m_Fields;
  std::vector<uint8_t> img;
  img.reserve(64 + static_cast<size_t>(t.Count()) * 9 + s->m_CharBuffer.size());
  img.push_back(ORDER_COMMAND);
  img.push_back(COMMAND_RESTORESCREEN);
  put16(img, 0);  // length, filled in below
  put16(img, s->m_CurSize.cx);
  put16(img, s->m_CurSize.cy);
  put16(img, s->m_CursorAddress);
  put16(img, s->m_HomeAddress);
  put16(img, s->m_AID);
  put16(img, s->m_Read);
  img.push_back(s->m_CC1);
  img.push_back(s->m_CC2);
  img.push_back(static_cast<uint8_t>(s->m_State));
  img.push_back(static_cast<uint8_t>(s->m_PrevState));
  img.push_back(static_cast<uint8_t>((s->m_DataModified ? IMG_MODIFIED : 0) |
                                     (t.m_InputCapableOnly ? IMG_INPUT_ONLY : 0) |
                                     (s->m_Invited ? IMG_INVITED : 0) | (s->m_Insert ? IMG_INSERT : 0)));
  img.push_back(static_cast<uint8_t>(t.m_ErrorRow));
  img.push_back(static_cast<uint8_t>(t.m_ReseqStart));
  img.push_back(static_cast<uint8_t>(t.m_IgnoreKeys >> 16));
  img.push_back(static_cast<uint8_t>(t.m_IgnoreKeys >> 8));
  img.push_back(static_cast<uint8_t>(t.m_IgnoreKeys));
  put16(img, t.Count());
  for (int i = 0; i < t.Count(); i++) {
    const FieldDescriptor& f = t.Field(i);
    put16(img, f.m_StartAddress);
    put16(img, f.m_length);
    put16(img, f.m_ffw);
    put16(img, f.m_next);
    img.push_back(static_cast<uint8_t>((f.m_Transparent ? IMGF_TRANSPARENT : 0) |
                                       (f.m_EdgeTriggered ? IMGF_EDGE : 0) |
                                       (f.m_Selectable ? IMGF_SELECTABLE : 0)));
  }
  std::vector<uint8_t> packed;
  if (s->m_HaveErrorLine) Compress(s->m_ErrorLine.data(), s->m_ErrorLine.size(), packed);
  put16(img, static_cast<int>(packed.size()));
  img.insert(img.end(), packed.begin(), packed.end());
  packed.clear();
  Compress(s->m_CharBuffer.data(), s->m_CharBuffer.size(), packed);
  put16(img, static_cast<int>(packed.size()));
  img.insert(img.end(), packed.begin(), packed.end());
  const size_t rest = img.size() - 4;
  img[2] = static_cast<uint8_t>(rest >> 8);
  img[3] = static_cast<uint8_t>(rest);
  return img;
}

bool CDataStream::RestoreImage(const uint8_t* data, size_t length, Error5250& error) {
  CSesStruct* s = m_Session;
  auto fail = [&](ParamErrorCode code) {
    error = code;
    return false;
  };
  Reader r{data, data + length};
  const int rest = r.U16();
  if (!r.ok || static_cast<size_t>(rest) != length - 2) return fail(PERR_PREMATURE_END);
  const int cols = r.U16(), rows = r.U16();
  if (!r.ok) return fail(PERR_PREMATURE_END);
  if (!valid_size(cols, rows)) return fail(PERR_ADDRESS);
  const int maxAddress = cols * rows - 1;
  const int cursor = r.Addr(), home = r.Addr(), aid = r.U16(), read = r.U16();
  const int cc1 = r.U8(), cc2 = r.U8(), state = r.U8(), prevState = r.U8(), flags = r.U8();
  const int errorRow = r.U8(), reseqStart = r.U8();
  const int m1 = r.U8(), m2 = r.U8(), m3 = r.U8();
  const int count = r.U16();
  if (!r.ok) return fail(PERR_PREMATURE_END);
  auto inScreen = [&](int a) { return a >= -1 && a <= maxAddress; };
  if (cursor < 0 || !inScreen(cursor) || !inScreen(home) || errorRow < 1 || errorRow > rows ||
      state > STATE_SYSREQ || prevState > STATE_SYSREQ || count > CFieldTable::kMaxFields ||
      (read != 0 && read != COMMAND_READINPUT && read != COMMAND_READMDT && read != COMMAND_READMDT_ALT) ||
      (aid != 0 && !CInput::IsAidKey(aid)))
    return fail(PERR_ADDRESS);
  std::vector<FieldDescriptor> fields(static_cast<size_t>(count));
  for (FieldDescriptor& f : fields) {
    f.m_StartAddress = r.U16();
    f.m_length = r.U16();
    f.m_ffw = static_cast<uint16_t>(r.U16());
    int next = r.U16();
    f.m_next = next == 0xFFFF ? -1 : next;
    const int ff = r.U8();
    f.m_Transparent = (ff & IMGF_TRANSPARENT) != 0;
    f.m_EdgeTriggered = (ff & IMGF_EDGE) != 0;
    f.m_Selectable = (ff & IMGF_SELECTABLE) != 0;
  }
  if (!r.ok) return fail(PERR_PREMATURE_END);
  const int errLen = r.U16();
  if (!r.Has(static_cast<size_t>(errLen))) return fail(PERR_PREMATURE_END);
  std::vector<uint8_t> errorLine;
  if (errLen > 0 && !Decompress(r.p, static_cast<size_t>(errLen), errorLine, static_cast<size_t>(cols)))
    return fail(PERR_PREMATURE_END);
  r.p += errLen;
  const int bufLen = r.U16();
  if (!r.Has(static_cast<size_t>(bufLen))) return fail(PERR_PREMATURE_END);
  std::vector<uint8_t> buffer;
  buffer.reserve(static_cast<size_t>(maxAddress + 1));
  if (!Decompress(r.p, static_cast<size_t>(bufLen), buffer, static_cast<size_t>(maxAddress + 1)))
    return fail(PERR_PREMATURE_END);
  r.p += bufLen;
  if (r.p != r.end) return fail(PERR_PREMATURE_END);
  buffer.resize(static_cast<size_t>(maxAddress + 1), EB_NULL);

  // The fields must fit the screen and one another before anything changes.
  CFieldTable check(nullptr);
  for (const FieldDescriptor& f : fields)
    if (!check.RestoreField(f, maxAddress)) return fail(PERR_ADDRESS);

  if (s->m_CurSize.cx != cols || s->m_CurSize.cy != rows) {
    s->InitSession(cols, rows);
    m_pParent->EraseAndResize();
  }
  CFieldTable& t = *s->m_Fields;
  t.ClearTable(rows);
  for (const FieldDescriptor& f : fields) t.RestoreField(f, maxAddress);
  t.ChangeErrorLine(errorRow, cols);
  t.m_ReseqStart = reseqStart;
  t.m_IgnoreKeys = static_cast<uint32_t>(m1 << 16 | m2 << 8 | m3);
  t.m_InputCapableOnly = (flags & IMG_INPUT_ONLY) != 0;
  s->m_CharBuffer = std::move(buffer);
  s->m_HaveErrorLine = errLen > 0;
  s->m_ErrorLine = std::move(errorLine);
  if (s->m_HaveErrorLine) s->m_ErrorLine.resize(static_cast<size_t>(cols), EB_NULL);
  s->m_HomeAddress = home;
  s->m_TmpCursorAddress = -1;
  s->m_AID = aid;
  s->m_Read = read;
  s->m_CC1 = static_cast<uint8_t>(cc1);
  s->m_CC2 = static_cast<uint8_t>(cc2);
  s->m_State = state;
  s->m_PrevState = prevState;
  s->m_Invited = (flags & IMG_INVITED) != 0 || s->m_Invited;
  s->m_Insert = (flags & IMG_INSERT) != 0;
  s->m_DataModified = true;
  s->SetCursor(cursor);
  s->StatusChanged();
  return true;
}
