// Fuzz target of the 5250 station: host records of any content, cut into
// reads anywhere, with the operator's keys between them.
//
// Input: byte 0 picks the model (and whether the station shows attributes);
// then steps, each a control byte and its operands:
//   0x00-0x3F  host bytes: the next (c & 0x3F) + 1 bytes, no end of record
//   0x40-0x7F  host bytes and then the end of record, (c & 0x3F) bytes
//   0x80-0xBF  one key from the key table (index c & 0x3F)
//   0xC0-0xDF  one typed character (the next byte; 0xDF: two bytes, UTF-16)
//   0xE0-0xFF  a whole host record: the next byte gives the data length n,
//              the opcode is c & 0x0F; the header is built, then n bytes
// Checked after every step: the buffer has the screen's size, the cursor
// and the current address lie inside it, every field lies inside the screen
// and no two overlap, the keyboard state is one of the five, and every
// record sent has a well-formed header whose length is its size.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "emulation_ids.h"
#include "te5250.h"
#include "te5250_session.h"
#include "tetrace.h"

namespace {

void require(bool ok) {
  if (!ok) abort();
}

const int kKeys[64] = {
    K5250_TAB,
    K5250_UP,
    K5250_DOWN,
    K5250_RIGHT,
    K5250_LEFT,
    K5250_HOME,
    K5250_KPMINUS,
    K5250_INSERT,
    K5250_DELETE,
    K5250_KPSTAR,
    K5250_KPPLUS,
    K5250_KPSLASH,
    K5250_BACKSPACE,
    K5250_HELP,
    K5250_PF1,
    K5250_PF1 + 2,
    K5250_PF1 + 4,
    K5250_PF1 + 11,
    K5250_PF1 + 12,
    K5250_PF24,
    K5250_PA1,
    K5250_PA3,
    K5250_BACKTAB,
    K5250_CLEAR,
    K5250_ERASEINPUT,
    K5250_ERASEEOF,
    K5250_ATTN,
    K5250_TESTREQ,
    K5250_SYSREQ,
    K5250_CURSORSELECT,
    K5250_FIELDEXIT,
    K5250_FIELDMINUS,
    K5250_FIELDPLUS,
    K5250_FIELDMARK,
    K5250_DUP,
    K5250_ENTER,
    K5250_ROLLUP,
    K5250_ROLLDOWN,
    K5250_RESET,
    K5250_RECORDBACKSPACE,
    K5250_END,
    K5250_PRINT,
    '\r',
    '\b',
    298,
    305,
    457,
    295,
    296,
    512 + 'a',
    512 + '5',
    512 + 0x82,
    512 + 0x1FF,
    1119,
    1120 + 59,
    0,
    -1,
    70000,
    K5250_AUTOENTER_SELECT,
    K5250_AUTOENTER_EDGE,
    '-',
    '0',
    ' ',
    0xE9,
};

struct Checker {
  CTe5250Ctrl* ctrl = nullptr;
  size_t checked = 0;
  std::vector<std::vector<uint8_t>> sent;

  static int Send(void* owner, const uint8_t* bytes, int length) {
    Checker* c = static_cast<Checker*>(owner);
    if (c->sent.size() < 16) c->sent.emplace_back(bytes, bytes + length);
    // Some sends go out short, as a stalled connection would take them.
    return (length % 7 == 3) ? length - 1 : length;
  }

  void Check() {
    const CSesStruct* s = ctrl->m_pSession;
    const int cols = s->m_CurSize.cx, rows = s->m_CurSize.cy;
    require(cols >= 1 && cols <= 132 && rows >= 1 && rows <= 28);
    require(s->m_MaxAddress == cols * rows - 1);
    require(s->m_CharBuffer.size() == static_cast<size_t>(cols * rows));
    require(s->m_CursorAddress >= 0 && s->m_CursorAddress <= s->m_MaxAddress);
    require(s->m_CurrentAddress >= 0 && s->m_CurrentAddress <= s->m_MaxAddress);
    require(s->m_HomeAddress >= -1 && s->m_HomeAddress <= s->m_MaxAddress);
    require(s->m_State >= STATE_LOCKED && s->m_State <= STATE_SYSREQ);
    require(s->m_CurBufLoc <= k5250MaxRecord);
    const CFieldTable& t = *s->m_Fields;
    require(t.Count() <= CFieldTable::kMaxFields);
    int dirty = 0;
    std::vector<std::pair<int, int>> spans;
    for (int i = 0; i < t.Count(); i++) {
      const FieldDescriptor& f = t.Field(i);
      require(f.m_length >= 1 && f.m_StartAddress >= 0 && f.End() <= s->m_MaxAddress);
      spans.emplace_back(f.m_StartAddress, f.End());
      if (f.Modified()) dirty++;
    }
    require(dirty == t.m_Dirty);
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); i++) require(spans[i].first > spans[i - 1].second);
    for (; checked < sent.size(); checked++) {
      const std::vector<uint8_t>& r = sent[checked];
      require(r.size() >= 10 && r.size() <= k5250MaxRecord);
      require((static_cast<size_t>(r[0]) << 8 | r[1]) == r.size());
      require(r[2] == 0x12 && r[3] == 0xA0 && r[6] == 4);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_nTraceRoute = 0;
  if (size == 0) return 0;
  CTe5250Ctrl ctrl;
  Checker checker;
  checker.ctrl = &ctrl;
  ctrl.SetSendHook(&Checker::Send, &checker);
  // The station settings SetEmulation takes: the two 5250 ones and the first 3270 one.
  ctrl.SetEmulation(KVX_EM_IBM5250 + (data[0] % 3));
  ctrl.SetShowAttributes((data[0] & 0x80) != 0);
  ctrl.OnConnect();
  checker.Check();
  size_t p = 1;
  while (p < size) {
    const uint8_t c = data[p++];
    if (c < 0x80) {
      const size_t n = std::min(static_cast<size_t>(c < 0x40 ? (c & 0x3F) + 1 : (c & 0x3F)), size - p);
      ctrl.GotData(data + p, n, c >= 0x40);
      p += n;
    } else if (c < 0xC0) {
      ctrl.ProcessKey(kKeys[c & 0x3F]);
    } else if (c < 0xE0) {
      if (p >= size) break;
      uint16_t ch = data[p++];
      if (c == 0xDF && p < size) ch = static_cast<uint16_t>(ch << 8 | data[p++]);
      ctrl.ProcessChar(ch);
    } else {
      if (p >= size) break;
      const size_t want = data[p++];
      const size_t n = std::min(want, size - p);
      std::vector<uint8_t> rec = {0, 0, 0x12, 0xA0, 0, 0, 4, 0, 0, static_cast<uint8_t>(c & 0x0F)};
      rec.insert(rec.end(), data + p, data + p + n);
      rec[0] = static_cast<uint8_t>(rec.size() >> 8);
      rec[1] = static_cast<uint8_t>(rec.size());
      ctrl.GotData(rec.data(), rec.size(), true);
      p += n;
    }
    checker.Check();
  }
  (void)ctrl.ScreenHash();
  return 0;
}
