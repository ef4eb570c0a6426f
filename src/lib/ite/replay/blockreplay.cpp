// Replay of recorded block-mode sessions: the 3270 engine adapter and the
// command line.
#include "blockreplay.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "replay5250.h"
#include "te3270/te3270.h"

const char* const br_usage =
    "Block-mode replay (IBM 3270, IBM 5250):\n"
    "  te-replay --emulation 24 --model M [--oversize COLSxROWS] --trace FILE [--every-record] [--cursor]\n"
    "  te-replay --emulation 22|23 --trace FILE [--every-record] [--cursor]\n"
    "  --emulation 24-27  IBM 3270 (the default)\n"
    "  --emulation 22, 23 IBM 5250: 80 columns (a 3179), or the 27x132 3477\n"
    "  --model M          3270 model 2-5 (alternate size 24x80, 32x80, 43x80,\n"
    "                     27x132); default 2\n"
    "  --oversize CxR     3270: a screen of C columns and R rows, larger than the\n"
    "                     model (IBM-DYNAMIC), as the terminal's maximum\n"
    "  --trace FILE       a recorded session: lines '< 0x<offset> <hex>' from the\n"
    "                     host, '> 0x<offset> <hex>' from the terminal\n"
    "  --every-record     print '--- record N' and the screen after each host\n"
    "                     record (N from 1); otherwise the last screen only\n"
    "  --cursor           also print 'cursor ROW COL keyboard U|L' after a screen\n";

namespace {

bool operator_aid(uint8_t aid) {
  if (aid == AID_ENTER || aid == AID_CLEAR || aid == AID_PA1 || aid == AID_PA2 || aid == AID_PA3) return true;
  for (int n = 1; n <= 24; n++)
    if (te3270_pf_aid(n) == aid) return true;
  return false;
}

class Engine3270 : public br_engine {
 public:
  Engine3270(int model, int rows, int cols) {
    t_ = TE3270Init(nullptr, nullptr, model - 1);
    if (t_ && (rows || cols)) {
      if (!te3270_set_custom_size(t_, rows, cols)) {
        TE3270Destroy(t_);
        t_ = nullptr;
        return;
      }
      emu_changeto(t_, model - 1);
    }
    if (t_) te3270_connected(t_);
  }
  ~Engine3270() override { TE3270Destroy(t_); }

  bool ok() const { return t_ != nullptr; }

  void host_record(const std::vector<uint8_t>& b, bool tn3270e) override {
    if (tn3270e)
      te3270_tn3270e_record(t_, b.data(), (int)b.size());
    else
      DataFromNetwork(t_, b.data(), (int)b.size(), 1);
    // Replies the host asked for (reads, queries) answer it; the trace
    // holds them too, and they are not operator actions.
    std::vector<uint8_t> r;
    while (te3270_take_reply(t_, r)) {
      if (!r.empty() && r[0] != AID_STRUCTURED) readReplies_++;
      sent_.push_back(std::move(r));
    }
  }

  void host_text(const std::vector<uint8_t>& b) override {
    te3270_line_text(t_, b.data(), (int)b.size(), true);
    DoTerminalOutput(t_);
  }

  void terminal_record(const std::vector<uint8_t>& rec, bool tn3270e) override {
    const uint8_t* p = rec.data();
    int n = (int)rec.size();
    if (tn3270e) {
      if (n < 5) return;
      uint8_t type = p[0];
      p += 5;
      n -= 5;
      if (type == TN3270E_SSCP_LU_DATA) {
        // Input on the SSCP-LU session: the text typed, then Enter.
        for (int i = 0; i < n; i++) te3270_key(t_, FCN_CHARACTER, p[i]);
        te3270_key(t_, FCN_AID, AID_ENTER);
        take();
        return;
      }
      if (type != TN3270E_3270_DATA) return;  // responses and the like
    }
    if (n < 1 || p[0] == AID_STRUCTURED) return;
    if (readReplies_ > 0) {
      readReplies_--;
      return;
    }
    if (operator_aid(p[0])) type(p, n);
  }

  std::string screen() const override { return te3270_screen_text(t_); }

  std::string cursor() const override {
    char line[64];
    int cols = t_->NumberColumns;
    std::snprintf(line, sizeof line, "cursor %d %d keyboard %s\n", t_->CursorAddress / cols,
                  t_->CursorAddress % cols, te3270_input_inhibited(t_) ? "L" : "U");
    return line;
  }

  std::vector<std::vector<uint8_t>> take_sent() override {
    take();
    return std::move(sent_);
  }

 private:
  // An AID record typed again: each modified field erased and typed, the
  // cursor put where it was, the AID key pressed.
  void type(const uint8_t* p, int n) {
    uint8_t aid = p[0];
    te3270_key(t_, FCN_RESET);
    if (n >= 3 && aid != AID_CLEAR) {
      int i = 3;
      while (i < n) {
        if (p[i] != 0x11 || i + 2 >= n) {
          i++;
          continue;
        }
        int field = te3270_decode_address(p[i + 1], p[i + 2]);
        i += 3;
        bool typing = field < t_->ScreenSize && !te3270_is_protected(t_, field);
        if (typing) {
          te3270_key(t_, FCN_CURSOR, field);
          te3270_key(t_, FCN_EEOF);
        }
        while (i < n && p[i] != 0x11) {
          if (p[i] == 0x28 && i + 2 < n) {  // an attribute order of character reply mode
            i += 3;
            continue;
          }
          if (p[i] == 0x08 && i + 1 < n) i++;  // a graphic escape: the character only
          if (typing) te3270_key(t_, FCN_CHARACTER, p[i]);
          i++;
        }
      }
      te3270_key(t_, FCN_CURSOR, te3270_decode_address(p[1], p[2]));
    }
    te3270_key(t_, FCN_AID, aid);
    take();
  }

  void take() {
    std::vector<uint8_t> r;
    while (te3270_take_reply(t_, r)) sent_.push_back(std::move(r));
  }

  te3270* t_ = nullptr;
  int readReplies_ = 0;
  std::vector<std::vector<uint8_t>> sent_;
};

int parse_int(const char* s, int fallback) {
  char* end;
  long v = std::strtol(s, &end, 10);
  return (*s && !*end) ? (int)v : fallback;
}

}  // namespace

std::unique_ptr<br_engine> br_engine_3270(int model, int rows, int cols) {
  if (model < 2 || model > 5) return nullptr;
  auto e = std::make_unique<Engine3270>(model, rows, cols);
  if (!e->ok()) return nullptr;
  return e;
}

std::unique_ptr<br_engine> br_engine_for(const br_options& o) {
  if (kvx_em_is_3270(o.emulation)) return br_engine_3270(o.model, o.oversizeRows, o.oversizeCols);
  if (kvx_em_is_5250(o.emulation)) return br_engine_5250(o.emulation);
  return nullptr;
}

bool br_wanted(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--trace") == 0) return true;
    if (std::strcmp(argv[i], "--emulation") == 0 && i + 1 < argc &&
        kvx_em_is_block(parse_int(argv[i + 1], 0)))
      return true;
  }
  return false;
}

int br_main(int argc, char** argv) {
  br_options o;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "te-replay: %s needs a value\n", a);
        std::exit(2);
      }
      return argv[++i];
    };
    if (!std::strcmp(a, "--emulation")) {
      o.emulation = parse_int(value(), 0);
    } else if (!std::strcmp(a, "--model")) {
      o.model = parse_int(value(), 0);
    } else if (!std::strcmp(a, "--oversize")) {
      const char* v = value();
      int cols = 0, rows = 0;
      char x = 0, extra = 0;
      if (std::sscanf(v, "%d%c%d%c", &cols, &x, &rows, &extra) != 3 || (x != 'x' && x != 'X') || rows < 24 ||
          cols < 80 || rows > TE3270_MAXROWS || cols > TE3270_MAXCOLS) {
        std::fprintf(stderr, "te-replay: --oversize %s: expected COLSxROWS from 80x24 to %dx%d\n", v,
                     TE3270_MAXCOLS, TE3270_MAXROWS);
        return 2;
      }
      o.oversizeCols = cols;
      o.oversizeRows = rows;
    } else if (!std::strcmp(a, "--trace")) {
      o.trace = value();
    } else if (!std::strcmp(a, "--every-record")) {
      o.everyRecord = true;
    } else if (!std::strcmp(a, "--cursor")) {
      o.showCursor = true;
    } else if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) {
      std::fputs(br_usage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "te-replay: %s is not an option of the block-mode replay (see --help)\n", a);
      return 2;
    }
  }
  if (o.emulation == 0) o.emulation = KVX_EM_IBM3270_MODEL2;
  if (!kvx_em_is_block(o.emulation)) {
    std::fprintf(stderr, "te-replay: --trace needs a block-mode emulation (22-27)\n");
    return 2;
  }
  if (o.trace.empty()) {
    std::fprintf(stderr, "te-replay: --trace FILE is needed\n");
    return 2;
  }
  std::unique_ptr<br_engine> e = br_engine_for(o);
  if (!e) {
    std::fprintf(stderr, "te-replay: emulation %d model %d is not available\n", o.emulation, o.model);
    return 2;
  }
  std::vector<trc_chunk> chunks;
  std::string error;
  if (!trc_load(o.trace, chunks, &error)) {
    std::fprintf(stderr, "te-replay: %s\n", error.c_str());
    return 1;
  }
  std::vector<trc_event> events = trc_events(chunks);
  br_play(*e, events, [&](int n) {
    if (!o.everyRecord) return;
    std::printf("--- record %d\n%s%s", n, e->screen().c_str(), o.showCursor ? e->cursor().c_str() : "");
  });
  if (!o.everyRecord) std::printf("%s%s", e->screen().c_str(), o.showCursor ? e->cursor().c_str() : "");
  return 0;
}
