// 5250 session replay: host records in, operator input typed again.
#include "replay5250.h"

#include <algorithm>
#include <string>

#include "blk_trace.h"
#include "te5250.h"
#include "te5250_session.h"

int te5250_key_of_aid(uint8_t aid) {
  if (aid >= AID_PF1 && aid <= AID_PF1 + 11) return K5250_PF1 + (aid - AID_PF1);
  if (aid >= AID_PF13 && aid <= AID_PF13 + 11) return K5250_PF1 + 12 + (aid - AID_PF13);
  switch (aid) {
    case AID_ENTER:
      return K5250_ENTER;
    case AID_HELP:
      return K5250_HELP;
    case AID_ROLLUP:
      return K5250_ROLLUP;
    case AID_ROLLDOWN:
      return K5250_ROLLDOWN;
    case AID_PRINT:
      return K5250_PRINT;
    case AID_RECORDBACKSPACE:
      return K5250_RECORDBACKSPACE;
    case AID_CLEAR:
      return K5250_CLEAR;
    case AID_PA1:
      return K5250_PA1;
    case AID_PA2:
      return K5250_PA1 + 1;
    case AID_PA3:
      return K5250_PA3;
    default:
      return 0;
  }
}

// Moves the cursor to a 1-based row and column.
static void rp_cursor(CTe5250Ctrl* ctrl, int row, int col) {
  const CSesStruct* s = ctrl->m_pSession;
  ctrl->MoveCursor(col - 1, s->m_CurSize.cy - row);
}

static void rp_type_field(CTe5250Ctrl* ctrl, int row, int col, const uint8_t* data, size_t n) {
  rp_cursor(ctrl, row, col);
  ctrl->ProcessKey(K5250_ERASEEOF);
  for (size_t k = 0; k < n; k++) ctrl->ProcessChar(ctrl->m_pSession->cp_uni(data[k]));
}

bool te5250_type_reply(CTe5250Ctrl* ctrl, const std::vector<uint8_t>& record) {
  if (record.size() < 13 || record[7] != 0) return false;  // flags: error, attention, system request, help
  const uint8_t* d = record.data() + 10;
  const size_t n = record.size() - 10;
  const int key = te5250_key_of_aid(d[2]);
  if (!key) return false;
  CSesStruct* s = ctrl->m_pSession;
  size_t p = 3;
  if (p < n && d[p] == 0x11) {
    // Fields of a Read MDT reply, each after its address.
    while (p + 3 <= n && d[p] == 0x11) {
      const int row = d[p + 1], col = d[p + 2];
      p += 3;
      size_t e = p;
      while (e < n && d[e] != 0x11) e++;
      rp_type_field(ctrl, row, col, d + p, e - p);
      p = e;
    }
  } else if (p < n) {
    // Fields of a Read Input Fields reply, one after another in field order.
    CFieldTable& t = *s->m_Fields;
    t.InitReseqGetNext();
    for (int i = t.ReseqGetNextField(false, false); i >= 0 && p < n; i = t.ReseqGetNextField(false, false)) {
      const FieldDescriptor f = t.Field(i);
      const size_t len = std::min(static_cast<size_t>(f.m_length), n - p);
      if (!f.Bypass()) rp_type_field(ctrl, s->Row(f.m_StartAddress), s->Col(f.m_StartAddress), d + p, len);
      p += len;
    }
    t.InitReseqGetNext();
  }
  rp_cursor(ctrl, d[0], d[1]);
  ctrl->ProcessKey(key);
  return true;
}

static void rp_print(CTe5250Ctrl* ctrl, bool cursor, FILE* out) {
  const CSesStruct* s = ctrl->m_pSession;
  for (int row = 1; row <= s->m_CurSize.cy; row++) {
    std::string text = ctrl->RowText(row);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    fprintf(out, "%s\n", text.c_str());
  }
  if (cursor) {
    const char* indicator = ctrl->Status().Indicator();
    fprintf(out, "cursor %d %d%s%s\n", s->Row(s->m_CursorAddress), s->Col(s->m_CursorAddress),
            *indicator ? " " : "", indicator);
  }
}

static int rp_send(void*, const uint8_t*, int length) {
  return length;
}

int te5250_replay(int emulation, const char* traceFile, bool everyRecord, bool cursor, FILE* out) {
  std::string text, error;
  if (!blk_read_file(traceFile, text)) {
    fprintf(stderr, "te-replay: cannot read %s\n", traceFile);
    return 1;
  }
  std::vector<blk_record> records;
  if (!blk_trace_parse(text, records, &error)) {
    fprintf(stderr, "te-replay: %s: %s\n", traceFile, error.c_str());
    return 1;
  }
  CTe5250Ctrl ctrl;
  ctrl.SetSendHook(rp_send, nullptr);
  ctrl.SetEmulation(emulation);
  ctrl.OnConnect();
  int number = 0;
  for (const blk_record& r : records) {
    if (r.fromHost) {
      if (!r.complete) continue;
      ctrl.GotData(r.bytes.data(), r.bytes.size(), true);
      number++;
      if (everyRecord) {
        fprintf(out, "--- record %d\n", number);
        rp_print(&ctrl, cursor, out);
      }
    } else if (r.complete) {
      te5250_type_reply(&ctrl, r.bytes);
    }
  }
  if (!everyRecord) rp_print(&ctrl, cursor, out);
  return 0;
}
