// 5250 session replay: host records in, operator input typed again, the
// screen read back from the window.
#include "replay5250.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "tcs_utf8.h"
#include "te5250/te5250.h"
#include "te5250/te5250_session.h"
#include "te5250/te5250_window.h"

int te5250_key_of_aid(uint8_t aid) {
  if (aid >= AID5250_PF1 && aid <= AID5250_PF1 + 11) return K5250_PF1 + (aid - AID5250_PF1);
  if (aid >= AID5250_PF13 && aid <= AID5250_PF13 + 11) return K5250_PF1 + 12 + (aid - AID5250_PF13);
  switch (aid) {
    case AID5250_ENTER:
      return K5250_ENTER;
    case AID5250_HELP:
      return K5250_HELP;
    case AID5250_ROLLUP:
      return K5250_ROLLUP;
    case AID5250_ROLLDOWN:
      return K5250_ROLLDOWN;
    case AID5250_PRINT:
      return K5250_PRINT;
    case AID5250_RECORDBACKSPACE:
      return K5250_RECORDBACKSPACE;
    case AID5250_CLEAR:
      return K5250_CLEAR;
    case AID5250_PA1:
      return K5250_PA1;
    case AID5250_PA2:
      return K5250_PA1 + 1;
    case AID5250_PA3:
      return K5250_PA3;
    default:
      return 0;
  }
}

// Moves the cursor to a 1-based row and column.
static void rp_cursor(CTe5250Ctrl* ctrl, int row, int col) {
  ctrl->MoveCursor(col - 1, ctrl->m_pSession->m_CurSize.cy - row);
}

static void rp_type_field(CTe5250Ctrl* ctrl, int row, int col, const uint8_t* data, size_t n) {
  rp_cursor(ctrl, row, col);
  ctrl->ProcessKey(K5250_ERASEEOF);
  for (size_t k = 0; k < n; k++) ctrl->ProcessChar(ctrl->m_pSession->cp_uni(data[k]));
}

bool te5250_type_reply(CTe5250Ctrl* ctrl, const std::vector<uint8_t>& record) {
  // Operator records: no flags (error, attention, system request, help),
  // opcode No-op or Put/Get, cursor, a known AID.
  if (record.size() < 13 || record[7] != 0 || (record[9] != OPCODE_NOOP && record[9] != OPCODE_PUTGET))
    return false;
  const uint8_t* d = record.data() + 10;
  const size_t n = record.size() - 10;
  const int key = te5250_key_of_aid(d[2]);
  if (!key) return false;
  CSesStruct* s = ctrl->m_pSession;
  size_t p = 3;
  if (p < n && d[p] == ORDER_SBA) {
    // Fields of a Read MDT reply, each after its address.
    while (p + 3 <= n && d[p] == ORDER_SBA) {
      const int row = d[p + 1], col = d[p + 2];
      p += 3;
      size_t e = p;
      while (e < n && d[e] != ORDER_SBA) e++;
      rp_type_field(ctrl, row, col, d + p, e - p);
      p = e;
    }
  } else if (p < n) {
    // Fields of a Read Input Fields reply, one after another in field order.
    CFieldTable& t = *s->m_Fields;
    std::vector<FieldDescriptor> fields;
    t.InitReseqGetNext();
    for (int i = t.ReseqGetNextField(false, false); i >= 0; i = t.ReseqGetNextField(false, false))
      fields.push_back(t.Field(i));
    for (const FieldDescriptor& f : fields) {
      if (p >= n) break;
      const size_t len = std::min(static_cast<size_t>(f.m_length), n - p);
      if (!f.Bypass()) rp_type_field(ctrl, s->Row(f.m_StartAddress), s->Col(f.m_StartAddress), d + p, len);
      p += len;
    }
  }
  rp_cursor(ctrl, d[0], d[1]);
  ctrl->ProcessKey(key);
  return true;
}

namespace {

class Engine5250 : public br_engine {
 public:
  explicit Engine5250(int emulation) : view_(&window_) {
    ctrl_.SetView(&view_);
    ctrl_.SetSendHook(&Engine5250::Sent, this);
    ctrl_.SetEmulation(emulation);
    ctrl_.OnConnect();
  }

  void host_record(const std::vector<uint8_t>& bytes, bool) override {
    ctrl_.GotData(bytes.data(), bytes.size(), true);
  }

  void terminal_record(const std::vector<uint8_t>& bytes, bool) override { te5250_type_reply(&ctrl_, bytes); }

  // The rows as the window shows them.
  std::string screen() const override {
    std::string out;
    const int rows = window_.NumberLines, cols = window_.NumberColumns;
    for (int r = 0; r < rows; r++) {
      const int wr = rows - r - 1;
      for (int c = 0; c < cols; c++) {
        TCSUtf8Append(out, fws_charat(&window_, wr, c));
      }
      out += '\n';
    }
    return out;
  }

  std::string cursor() const override {
    const CSesStruct* s = ctrl_.m_pSession;
    char line[64];
    std::snprintf(line, sizeof line, "cursor %d %d keyboard %s\n", s->Row(s->m_CursorAddress) - 1,
                  s->Col(s->m_CursorAddress) - 1, s->m_State == STATE_UNLOCKED ? "U" : "L");
    return line;
  }

  std::vector<std::vector<uint8_t>> take_sent() override { return std::move(sent_); }

 private:
  static int Sent(void* owner, const uint8_t* bytes, int length) {
    static_cast<Engine5250*>(owner)->sent_.emplace_back(bytes, bytes + length);
    return length;
  }

  fws_window window_;
  CFwsCtrl view_;
  CTe5250Ctrl ctrl_;
  std::vector<std::vector<uint8_t>> sent_;
};

}  // namespace

std::unique_ptr<br_engine> br_engine_5250(int emulation) {
  if (!kvx_em_is_5250(emulation)) return nullptr;
  return std::make_unique<Engine5250>(emulation);
}
