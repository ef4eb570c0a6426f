// Keystroke echo latency through the real binary: a WebSocket client sends
// one key frame to a local-shell session whose shell runs `stty raw -echo;
// cat` and waits for the update frame that shows the character; p50 and
// p99 over 500 keys, beside the same round trip on a bare pseudo-terminal.
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

static constexpr int kKeys = 500;
static constexpr int kWarmUp = 50;

static std::string key_frame(int key) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; i++) data[static_cast<size_t>(i)] = static_cast<char>((key >> (8 * i)) & 0xFF);
  return ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, data);
}

// Whether an update frame's cells hold the character.
static bool update_shows(const ChannelFrame& f, char c) {
  if (f.action != KVX_HOST_ACTION_UPDATE) return false;
  for (size_t i = 0; i + 8 <= f.data.size(); i += 8)
    if (f.data[i] == c) return true;
  return false;
}

static double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// Milliseconds from each key frame to the update that shows its echo.
static std::vector<double> through_session() {
  char tmpl[] = "/tmp/kvxecho.XXXXXX";
  std::string home = mkdtemp(tmpl);
  std::ofstream(home + "/.bashrc") << "stty raw -echo; printf 'READY%s' 'ECHO'; exec cat\n";
  std::vector<double> times;
  {
    ServerOptions options;
    options.home = home;
    KavrixServer server(options);
    HttpResponse r = PostJson(server.port(), "/new_session", "{\"deviceId\":\"bench-echo\"}");
    std::string id = JsonText(r.body, "content.sessionId");
    int port = JsonInt(r.body, "content.port", 0);
    std::string shell =
        "{\"kcf\":{\"commtype\":7,\"lines\":24,\"col\":80,\"emulate\":" + std::to_string(KVX_EM_XTERM) +
        ",\"teltermtype\":\"xterm-color\","
        "\"MBMode\":1},\"connectToHost\":true}";
    WsClient ws;
    if (port <= 0 || EnvelopeCode(PostJson(server.port(), "/load_config?session=" + id, shell).body) != 0 ||
        ws.Handshake(port).status != 101) {
      fprintf(stderr, "bench-echo: no session\n");
      return times;
    }
    // The shell is ready once its marker shows.
    for (;;) {
      auto f = ReceiveChannelFrame(ws, 30);
      if (!f) return times;
      if (f->action == KVX_HOST_ACTION_UPDATE && update_shows(*f, 'E')) break;
    }
    for (int i = 0; i < kWarmUp + kKeys; i++) {
      const char c = static_cast<char>('a' + i % 26);
      const double t0 = bench::now();
      ws.Send(2, key_frame(c));
      for (;;) {
        auto f = ReceiveChannelFrame(ws, 10);
        if (!f) {
          fprintf(stderr, "bench-echo: no echo of key %d\n", i);
          return {};
        }
        if (update_shows(*f, c)) break;
      }
      if (i >= kWarmUp) times.push_back((bench::now() - t0) * 1000);
    }
    ws.conn.Close();
    PostJson(server.port(), "/shutdown_session?session=" + id, "{}");
  }
  fs::remove_all(home);
  return times;
}

// The same round trip on a pseudo-terminal alone.
static std::vector<double> pty_alone() {
  std::vector<double> times;
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", "stty raw -echo; printf R; exec cat", static_cast<char*>(nullptr));
    _exit(127);
  }
  char c = 0;
  while (read(master, &c, 1) == 1 && c != 'R') {
  }
  for (int i = 0; i < kWarmUp + kKeys; i++) {
    const char key = static_cast<char>('a' + i % 26);
    const double t0 = bench::now();
    if (write(master, &key, 1) != 1) break;
    char got = 0;
    while (read(master, &got, 1) == 1 && got != key) {
    }
    if (i >= kWarmUp) times.push_back((bench::now() - t0) * 1000);
  }
  close(master);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  return times;
}

int main() {
  std::vector<double> ours = through_session();
  std::vector<double> pty = pty_alone();
  if (ours.empty()) return 1;
  bench::line("keystroke echo to a browser, p50 (500 keys)", percentile(ours, 0.5), "ms", "pty alone",
              percentile(pty, 0.5));
  bench::line("keystroke echo to a browser, p99 (500 keys)", percentile(ours, 0.99), "ms", "pty alone",
              percentile(pty, 0.99));
  return 0;
}
