// Session benchmarks through the real binary: the time to start a session
// ("/new_session" to its answer, median of 50 in a row), the resident memory
// of an idle session process with a local shell attached, and host output
// end to end: a shell prints a 20 MB coloured listing and a WebSocket client
// takes the update frames, beside a pseudo-terminal read directly.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "bench_util.h"
#include "emulation_ids.h"
#include "kvx_test.h"

using namespace kvxtest;
namespace fs = std::filesystem;

static const char kMarker[] = "KVXEND";

static std::string make_home(const std::string& bashrc) {
  char tmpl[] = "/tmp/kvxbench.XXXXXX";
  std::string dir = mkdtemp(tmpl);
  std::ofstream(dir + "/.bashrc") << "PS1='kvx$ '\nunset PROMPT_COMMAND\n" << bashrc;
  return dir;
}

// A "Name:  value kB" line of a /proc file of the process, in KiB.
static long proc_kib(int pid, const char* file, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
  return -1;
}

struct Started {
  std::string id;
  int port = 0;
};

static Started new_session(int port) {
  HttpResponse r = PostJson(port, "/new_session", "{\"deviceId\":\"bench\"}");
  return {JsonText(r.body, "content.sessionId"), JsonInt(r.body, "content.port", 0)};
}

static bool load_shell(int port, const Started& s, int rows, int cols) {
  std::string body = "{\"kcf\":{\"commtype\":7,\"lines\":" + std::to_string(rows) +
                     ",\"col\":" + std::to_string(cols) + ",\"emulate\":" + std::to_string(KVX_EM_XTERM) +
                     ",\"teltermtype\":\"xterm-color\",\"MBMode\":1,\"colorfg0\":8,"
                     "\"colorbg0\":1,\"clearEmulator\":1},\"connectToHost\":true}";
  return EnvelopeCode(PostJson(port, "/load_config?session=" + s.id, body).body) == 0;
}

// True when the update data holds `text` as consecutive cells.
static bool cells_contain(const std::string& data, const char* text) {
  const size_t n = strlen(text), cells = data.size() / 8;
  for (size_t i = 0; i + n <= cells; i++) {
    size_t k = 0;
    while (k < n && data[(i + k) * 8] == text[k]) k++;
    if (k == n) return true;
  }
  return false;
}

static void bench_start_and_idle() {
  std::string home = make_home("");
  ServerOptions options;
  options.home = home;
  KavrixServer server(options);
  std::vector<double> times;
  for (int i = 0; i < 50; i++) {
    double t0 = bench::now();
    Started s = new_session(server.port());
    times.push_back(bench::now() - t0);
    if (s.port > 0) PostJson(server.port(), "/shutdown_session?session=" + s.id, "{}");
  }
  std::sort(times.begin(), times.end());
  printf("BENCH\tsession start (median of 50)\t%.2f\tms\n", times[times.size() / 2] * 1000);

  Started s = new_session(server.port());
  int pid = server.ChildPid(s.port);
  if (pid > 0 && load_shell(server.port(), s, 24, 80)) {
    WsClient ws;
    ws.Handshake(s.port);
    ws.Send(2, ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {}));
    // Settle: the shell's prompt has come, nothing moves for a second.
    double quiet = bench::now();
    while (bench::now() - quiet < 1.0) {
      if (ReceiveChannelFrame(ws, 1.0)) quiet = bench::now();
    }
    printf("BENCH\tidle session with a local shell, resident\t%.2f\tMiB\n",
           proc_kib(pid, "status", "VmRSS") / 1024.0);
    // Most of the resident pages are shared libraries; the process's own share:
    printf("BENCH\tidle session with a local shell, proportional\t%.2f\tMiB\n",
           proc_kib(pid, "smaps_rollup", "Pss") / 1024.0);
  }
  fs::remove_all(home);
}

// Reads everything `cat file` writes to a pseudo-terminal; MB/s.
static double pty_alone(const std::string& file, size_t bytes) {
  int master = -1;
  struct winsize ws = {};
  ws.ws_row = 24;
  ws.ws_col = 80;
  double t0 = bench::now();
  pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
  if (pid == 0) {
    execl("/bin/cat", "cat", file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  char buf[1 << 16];
  while (read(master, buf, sizeof buf) > 0) {
  }
  double t = bench::now() - t0;
  close(master);
  waitpid(pid, nullptr, 0);
  return bytes / 1e6 / t;
}

// One session: a shell prints the corpus; MB/s from the first update frame
// to the one that shows the end marker, and the frames it took.
static double shell_output_once(KavrixServer& server, size_t bytes, long* frames) {
  Started s = new_session(server.port());
  if (s.port <= 0 || !load_shell(server.port(), s, 24, 80)) return 0;
  WsClient ws;
  ws.Handshake(s.port);
  double first = 0, last = 0;
  *frames = 0;
  bool done = false;
  while (!done) {
    auto f = ReceiveChannelFrame(ws, 60);
    if (!f) break;
    if (f->action != KVX_HOST_ACTION_UPDATE) continue;
    double t = bench::now();
    if (!first) first = t;
    last = t;
    (*frames)++;
    done = cells_contain(f->data, kMarker);
  }
  ws.conn.Close();
  PostJson(server.port(), "/shutdown_session?session=" + s.id, "{}");
  return done && last > first ? bytes / 1e6 / (last - first) : 0;
}

static double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

static void bench_throughput() {
  std::string corpus = bench::corpus_dir() + "/ls.txt";
  std::error_code ec;
  size_t bytes = fs::file_size(corpus, ec);
  if (ec || bytes == 0) {
    fprintf(stderr, "bench-session: no corpus at %s\n", corpus.c_str());
    return;
  }
  std::string home = make_home("cat ~/corpus.txt; printf '\\n%s%s\\n' KVX END\n");
  fs::create_symlink(fs::absolute(corpus), home + "/corpus.txt");
  ServerOptions options;
  options.home = home;
  KavrixServer server(options);
  std::vector<double> ours, pty;
  long frames = 0;
  for (int i = 0; i < 5; i++) {
    ours.push_back(shell_output_once(server, bytes, &frames));
    pty.push_back(pty_alone(corpus, bytes));
  }
  printf("BENCH\tshell output to a browser (%.0f MB, median of 5)\t%.2f\tMB/s\tpty alone\t%.2f\n",
         bytes / 1e6, median(ours), median(pty));
  fs::remove_all(home);
}

int main() {
  bench_start_and_idle();
  bench_throughput();
  return 0;
}
