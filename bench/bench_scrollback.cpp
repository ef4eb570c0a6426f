// Looking back through the real binary: a shell prints 5000 lines, then a
// WebSocket client moves its view of the scrollback.  A page of scrollback
// is timed from the request to the last cell of the page arriving (p50 and
// p99 over 400 pages, back and forth across the ring); a one-row step is
// timed the same way and its bytes on the wire counted, beside the bytes of
// the whole screen it would cost without the move.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_util.h"
#include "emulation_ids.h"
#include "kvx_test.h"

using namespace kvxtest;
namespace fs = std::filesystem;

static constexpr int kRows = 24, kCols = 80;
static constexpr int kPages = 400;
static constexpr int kSteps = 1000;

static double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

static bool cells_contain(const std::string& data, const char* text) {
  const size_t n = strlen(text), cells = data.size() / 8;
  for (size_t i = 0; i + n <= cells; i++) {
    size_t k = 0;
    while (k < n && data[(i + k) * 8] == text[k]) k++;
    if (k == n) return true;
  }
  return false;
}

// Rows of cells in an update frame.
static int update_rows(const ChannelFrame& f) {
  int l, b, r, t;
  if (f.action != KVX_HOST_ACTION_UPDATE || sscanf(f.fields[0].c_str(), "%d:%d:%d:%d", &l, &b, &r, &t) != 4)
    return 0;
  return b - t + 1;
}

struct Move {
  double ms = 0;
  size_t bytes = 0;  // channel frames of the move, heads and cells
  int rows = 0;      // rows of cells sent
  int back = -1;     // where the session says the view stands
};

// Asks for the view n rows back and reads the frames of the move: the
// SCROLLBACK frame, then update frames until `expectRows` rows came.
static Move move_to(WsClient& ws, int n, int expectRows) {
  Move m;
  const double start = bench::now();
  ws.Send(2, ChannelEncode(KVX_CLIENT_ACTION_SCROLLBACK, {std::to_string(n)}));
  while (m.back < 0 || m.rows < expectRows) {
    auto f = ReceiveChannelFrame(ws, 10);
    if (!f) break;
    m.bytes += ChannelEncode(f->action, f->fields, f->data).size();
    if (f->action == KVX_HOST_ACTION_SCROLLBACK) m.back = std::atoi(f->fields[0].c_str());
    m.rows += update_rows(*f);
  }
  m.ms = (bench::now() - start) * 1000;
  return m;
}

int main() {
  char tmpl[] = "/tmp/kvxsb.XXXXXX";
  std::string home = mkdtemp(tmpl);
  std::ofstream(home + "/.bashrc") << "PS1='kvx$ '\nunset PROMPT_COMMAND\nseq -f 'row %g' 1 5000; echo SB''DONE\n";
  {
    ServerOptions options;
    options.home = home;
    KavrixServer server(options);
    HttpResponse r = PostJson(server.port(), "/new_session", "{\"deviceId\":\"bench-sb\"}");
    const std::string id = JsonText(r.body, "content.sessionId");
    const int port = JsonInt(r.body, "content.port", 0);
    const std::string shell = "{\"kcf\":{\"commtype\":7,\"lines\":" + std::to_string(kRows) +
                              ",\"col\":" + std::to_string(kCols) +
                              ",\"emulate\":" + std::to_string(KVX_EM_XTERM) +
                              ",\"MBMode\":1,\"clearEmulator\":1},\"connectToHost\":true}";
    if (port <= 0 || EnvelopeCode(PostJson(server.port(), "/load_config?session=" + id, shell).body) != 0) {
      fprintf(stderr, "bench-scrollback: no session\n");
      return 1;
    }
    WsClient ws;
    ws.Handshake(port);
    ws.Send(2, ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {}));
    ws.Send(2, ChannelEncode(KVX_CLIENT_ACTION_SCROLLBACK, {"0"}));  // and be told where the view stands
    // The output is all there and the shell waits: nothing moves for a while.
    int kept = 0;
    bool done = false;
    double quiet = bench::now();
    while (bench::now() - quiet < 1.0 || !done) {
      auto f = ReceiveChannelFrame(ws, 2.0);
      if (!f) {
        if (bench::now() - quiet > 30) break;
        continue;
      }
      quiet = bench::now();
      if (f->action == KVX_HOST_ACTION_SCROLLBACK) kept = std::atoi(f->fields[1].c_str());
      if (f->action == KVX_HOST_ACTION_UPDATE && cells_contain(f->data, "SBDONE")) done = true;
    }
    if (!done || kept < 4000) {
      fprintf(stderr, "bench-scrollback: the output did not come (%d rows kept)\n", kept);
      return 1;
    }

    // Pages: back and forth across the ring, a whole screen each.
    std::vector<double> pages;
    int back = 0;
    for (int i = 0; i < kPages; i++) {
      const int k = i % 98;  // 0..48 further back, then 49..97 nearer again
      back = (kRows + 1) * (1 + (k < 49 ? k : 98 - k));
      Move m = move_to(ws, back, kRows);
      if (m.back != back || m.rows != kRows) {
        fprintf(stderr, "bench-scrollback: page to %d gave %d rows at %d\n", back, m.rows, m.back);
        return 1;
      }
      pages.push_back(m.ms);
    }

    // One row at a time, up and down.
    std::vector<double> steps;
    size_t stepBytes = 0;
    for (int i = 0; i < kSteps; i++) {
      back += (i / 100) % 2 ? -1 : 1;
      Move m = move_to(ws, back, 1);
      if (m.back != back || m.rows != 1) {
        fprintf(stderr, "bench-scrollback: step to %d gave %d rows\n", back, m.rows);
        return 1;
      }
      steps.push_back(m.ms);
      stepBytes += m.bytes;
    }
    const double screenBytes =
        ChannelEncode(KVX_HOST_ACTION_UPDATE, {"0:23:79:0"}, std::string(kRows * kCols * 8, 'x')).size();

    bench::line("scrollback: a page (24 x 80) end to end, p50", percentile(pages, 0.5), "ms");
    bench::line("scrollback: a page (24 x 80) end to end, p99", percentile(pages, 0.99), "ms");
    bench::line("scrollback: one-row step end to end, p50", percentile(steps, 0.5), "ms");
    bench::line("scrollback: one-row step on the wire (whole screen: " + std::to_string(int(screenBytes)) + ")",
                static_cast<double>(stepBytes) / kSteps, "bytes");
    PostJson(server.port(), "/shutdown_session?session=" + id, "{}");
  }
  fs::remove_all(home);
  return 0;
}
