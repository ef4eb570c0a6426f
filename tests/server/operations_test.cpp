// Running the server as a service, through the real binary: a clean stop
// (SIGTERM) that stops accepting, tells every browser, ends the sessions and
// exits within its bound; "/healthz" and "/metrics"; session recordings
// that asciinema plays back.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "emulation_ids.h"
#include "kvx_browser.h"
#include "kvx_test.h"

using namespace kvxtest;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

bool Reachable(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &sin.sin_addr);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0;
  close(fd);
  return ok;
}

// SIGTERM with browsers attached through the server: each is told why its
// session ends, its channel closes, and the server is gone soon after.
TEST(Stop, SigtermTellsEveryBrowserAndEndsTheSessions) {
  KavrixServer s;
  TestBrowser a, b;
  ASSERT_TRUE(a.NewSession(s.port()));
  ASSERT_TRUE(b.NewSession(s.port()));
  const int pidA = s.ChildPid(a.sessionPort), pidB = s.ChildPid(b.sessionPort);
  for (TestBrowser* t : {&a, &b}) {
    ASSERT_EQ(EnvelopeCode(t->PostConfig("{\"kcf\":{\"lines\":24,\"col\":80},\"connectToHost\":false}").body),
              0);
    ASSERT_TRUE(t->Attach());
    ASSERT_TRUE(t->Send(KVX_CLIENT_ACTION_REFRESH));
    ASSERT_TRUE(t->Pump([&] { return t->screen.updates > 0; })) << t->Describe();
  }
  const auto start = Clock::now();
  kill(s.pid(), SIGTERM);
  for (TestBrowser* t : {&a, &b}) {
    EXPECT_TRUE(t->Pump([&] { return !t->Errors().empty(); }, 10)) << t->Describe();
    ASSERT_FALSE(t->Errors().empty());
    EXPECT_EQ(t->Errors().back(), "The server is shutting down; the session has ended.");
    EXPECT_TRUE(t->ws.conn.WaitClosed(10));
  }
  EXPECT_EQ(s.Wait(10), 0);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 10);
  EXPECT_FALSE(ProcessAlive(pidA));
  EXPECT_FALSE(ProcessAlive(pidB));
  EXPECT_NE(s.err().find("Child processes have been stopped, stoping...\n"), std::string::npos) << s.err();
}

// A session that will not end: new connections are refused at once, and
// the session is killed when the stop bound has passed.
TEST(Stop, TheStopBoundHoldsAgainstASessionThatWillNotEnd) {
  ServerOptions o;
  o.args = {"-p", "0", "--stop-timeout", "2"};
  // The session says when it ignores TERM: a stop sent before would end it.
  o.fakeChild = "#!/bin/sh\ntrap '' TERM\necho 'stuck session ready' >&2\nexec /bin/sleep 300\n";
  KavrixServer s(o);
  std::thread pending([&] { PostJson(s.port(), "/new_session", "{\"deviceId\":\"stuck\"}"); });
  ASSERT_TRUE(WaitFor([&] {
    return PostJson(s.port(), "/list_sessions", "{\"deviceId\":\"stuck\"}").body.find("kvxPort") !=
           std::string::npos;
  }));
  ASSERT_TRUE(s.WaitForOutput("stuck session ready"));
  const auto start = Clock::now();
  kill(s.pid(), SIGTERM);
  ASSERT_TRUE(s.WaitForOutput("waiting for child processes"));
  EXPECT_FALSE(Reachable(s.port())) << "still accepting while stopping";
  EXPECT_EQ(s.Wait(15), 0);
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(took, 1.5);
  EXPECT_LT(took, 6);
  EXPECT_NE(s.err().find("Stop bound of 2 seconds reached: ending 1 session processes.\n"), std::string::npos)
      << s.err();
  pending.join();
}

// Connections to `port` on 127.0.0.1 that the kernel counts as established
// (a stopped process's listener still completes them).
int EstablishedTo(int port) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  std::getline(in, line);
  int n = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (state == "01" && remote.size() > 5 && std::stoi(remote.substr(remote.size() - 4), nullptr, 16) == port) n++;
  }
  return n;
}

// A stop while a request relayed to a session that no longer answers is on
// its way: the server still ends within its bound and frees the exchange
// it was in (the sanitizer run holds it to the latter).
TEST(Stop, ARequestToAStuckSessionDoesNotHoldTheStop) {
  ServerOptions o;
  o.args = {"-p", "0", "--stop-timeout", "1"};
  KavrixServer s(o);
  TestBrowser a;
  ASSERT_TRUE(a.NewSession(s.port()));
  const int pid = s.ChildPid(a.sessionPort);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  auto pending = a.PostConfigAsync("{\"kcf\":{\"lines\":24,\"col\":80},\"connectToHost\":false}");
  ASSERT_TRUE(WaitFor([&] { return EstablishedTo(a.sessionPort) > 0; })) << "the request never reached the session";
  const auto start = Clock::now();
  kill(s.pid(), SIGTERM);
  EXPECT_EQ(s.Wait(15), 0) << s.err();
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 6);
  EXPECT_FALSE(ProcessAlive(pid));
  pending.wait();
}

// "/healthz" answers 200 while sessions can be had; "/metrics" answers in
// the Prometheus text format, every series with its HELP and TYPE.
TEST(Observe, HealthAndMetricsFormat) {
  KavrixServer s;
  HttpResponse h = HttpRequest(s.port(), "GET", "/healthz");
  EXPECT_EQ(h.status, 200);
  EXPECT_EQ(h.body, "ok\n");
  EXPECT_EQ(HttpRequest(s.port(), "POST", "/healthz").status, 405);
  TestBrowser b;
  ASSERT_TRUE(b.NewSession(s.port()));
  ASSERT_EQ(EnvelopeCode(b.PostConfig("{\"kcf\":{\"lines\":24,\"col\":80},\"connectToHost\":false}").body),
            0);
  ASSERT_TRUE(b.Attach());
  ASSERT_TRUE(b.Send(KVX_CLIENT_ACTION_REFRESH));
  ASSERT_TRUE(b.Pump([&] { return b.screen.updates > 0; })) << b.Describe();

  HttpResponse m = HttpRequest(s.port(), "GET", "/metrics");
  EXPECT_EQ(m.status, 200);
  EXPECT_EQ(m.header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  // Every sample line is "name{label="value"} number" or "name number", and
  // every family has HELP and TYPE lines before its samples.
  std::istringstream in(m.body);
  std::string line, family;
  std::map<std::string, std::string> types;
  std::map<std::string, long> samples;
  const std::regex sample("([a-z_]+)(\\{[a-z]+=\"[a-z_-]+\"\\})? ([0-9]+)");
  while (std::getline(in, line)) {
    std::smatch mm;
    if (line.rfind("# HELP ", 0) == 0) {
      family = line.substr(7, line.find(' ', 7) - 7);
    } else if (line.rfind("# TYPE ", 0) == 0) {
      EXPECT_EQ(line.substr(7, family.size() + 1), family + " ") << line;
      types[family] = line.substr(8 + family.size());
    } else if (std::regex_match(line, mm, sample)) {
      EXPECT_EQ(mm[1], family) << line;
      samples[mm[1].str() + mm[2].str()] = std::stol(mm[3]);
    } else {
      ADD_FAILURE() << "not a metrics line: [" << line << "]";
    }
  }
  EXPECT_EQ(types["kavrix_sessions_live"], "gauge");
  EXPECT_EQ(types["kavrix_sessions_started_total"], "counter");
  EXPECT_EQ(samples["kavrix_sessions_live"], 1);
  EXPECT_EQ(samples["kavrix_sessions_started_total"], 1);
  EXPECT_EQ(samples["kavrix_browsers_attached"], 1);
  EXPECT_EQ(samples["kavrix_browser_attaches_total"], 1);
  EXPECT_GT(samples["kavrix_browser_bytes_total"], 24 * 80 * 8);
  for (const char* family :
       {"kavrix_session_start_failures_total", "kavrix_connect_refusals_total", "kavrix_connections_total",
        "kavrix_host_bytes_total", "kavrix_session_exits_total"})
    EXPECT_EQ(types[family], "counter") << family;

  // The session ends: the live gauge drops, its counters stay in the totals
  // and its exit is counted by reason.
  const long bytes = samples["kavrix_browser_bytes_total"];
  ASSERT_EQ(EnvelopeCode(PostJson(s.port(), "/shutdown_session?session=" + b.sessionId, "{}").body), 0);
  b.sessionId.clear();
  ASSERT_TRUE(WaitFor([&] {
    return HttpRequest(s.port(), "GET", "/metrics").body.find("\nkavrix_sessions_live 0\n") !=
           std::string::npos;
  }));
  std::string after = HttpRequest(s.port(), "GET", "/metrics").body;
  EXPECT_NE(after.find("kavrix_session_exits_total{reason=\"shutdown\"} 1\n"), std::string::npos) << after;
  std::smatch mm;
  ASSERT_TRUE(std::regex_search(after, mm, std::regex("\nkavrix_browser_bytes_total ([0-9]+)\n")));
  EXPECT_GE(std::stol(mm[1]), bytes);
}

// ---- recordings ----

struct Recorded {
  std::string dir, home;
  Recorded() {
    char a[] = "/tmp/kvxrec.XXXXXX", b[] = "/tmp/kvxhome.XXXXXX";
    dir = mkdtemp(a);
    home = mkdtemp(b);
    std::ofstream(home + "/.bashrc") << "PS1='kvx$ '\nunset PROMPT_COMMAND\n";
  }
  ~Recorded() {
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::remove_all(home, ec);
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().string());
    return out;
  }
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// What a command writes to its standard output (and its exit status).
std::string Output(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  char buf[4096];
  size_t n;
  while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = p ? pclose(p) : -1;
  if (status) *status = rc;
  return out;
}

// A shell session recorded end to end; returns the recording's path.
std::string RecordShellSession(Recorded& r, int emulate, TestBrowser& b, KavrixServer& s,
                               const std::function<void()>& body) {
  if (!b.NewSession(s.port())) return "";
  const int pid = s.ChildPid(b.sessionPort);
  const std::string config =
      "{\"kcf\":{\"commtype\":7,\"lines\":24,\"col\":80,\"emulate\":" + std::to_string(emulate) +
      ",\"MBMode\":1},\"connectToHost\":true}";
  if (EnvelopeCode(b.PostConfig(config).body) != 0 || !b.Attach() || !b.WaitText("kvx$")) return "";
  body();
  if (EnvelopeCode(PostJson(s.port(), "/shutdown_session?session=" + b.sessionId, "{}").body) != 0) return "";
  b.sessionId.clear();
  if (!WaitFor([&] { return !ProcessAlive(pid); })) return "";
  std::vector<std::string> files = r.Files();
  return files.size() == 1 ? files[0] : "";
}

// A VT session's recording: the host's own output with its timing, which
// asciinema plays back; what was typed at a password prompt is nowhere in
// it.
TEST(Record, AsciinemaPlaysAVtSessionBackWithoutItsPasswords) {
  if (std::string why = kvxtest::Need({"asciinema"}); !why.empty()) GTEST_SKIP() << why;
  Recorded r;
  ServerOptions o;
  o.home = r.home;
  o.args = {"-p", "0", "--record-dir", r.dir};
  KavrixServer s(o);
  TestBrowser b;
  std::string id;
  const std::string file = RecordShellSession(r, KVX_EM_XTERM, b, s, [&] {
    id = b.sessionId;
    ASSERT_TRUE(b.Type("read -s -p 'Pass''word: ' pw; echo \"length ${#pw}\"\r"));
    ASSERT_TRUE(b.WaitText("Password:")) << b.Describe();
    ASSERT_TRUE(b.Type("hunter2secret\r"));
    ASSERT_TRUE(b.WaitText("length 13")) << b.Describe();
    ASSERT_TRUE(b.Type("echo rec-$((6*7))-done\r"));
    ASSERT_TRUE(b.WaitText("rec-42-done")) << b.Describe();
  });
  ASSERT_FALSE(file.empty()) << s.err();
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string cast = Slurp(file);
  EXPECT_EQ(file.find(id), std::string::npos) << "the session's secret names its recording";
  EXPECT_EQ(cast.find(id), std::string::npos);
  const std::string header = cast.substr(0, cast.find('\n'));
  EXPECT_TRUE(
      std::regex_match(header, std::regex("\\{\"version\": 2, \"width\": 80, \"height\": 24, \"timestamp\": "
                                          "[0-9]+, \"title\": \"Kavrix session [0-9a-f]{8}\", .*\\}")))
      << header;
  EXPECT_EQ(cast.find("hunter2secret"), std::string::npos) << "a typed password is in the recording";
  int status = 0;
  const std::string played =
      Output("script -qefc \"stty -opost; asciinema cat '" + file + "'\" /dev/null", &status);
  EXPECT_EQ(status, 0) << played;
  EXPECT_NE(played.find("rec-42-done"), std::string::npos) << played;
  EXPECT_NE(played.find("length 13"), std::string::npos) << played;
  EXPECT_EQ(played.find("hunter2secret"), std::string::npos);
  // Events have rising times.
  std::istringstream lines(cast.substr(cast.find('\n') + 1));
  std::string line;
  double last = -1;
  int events = 0;
  while (std::getline(lines, line)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, std::regex("\\[([0-9]+\\.[0-9]{6}), \"o\", \".*\"\\]"))) << line;
    EXPECT_GE(std::stod(m[1]), last);
    last = std::stod(m[1]);
    events++;
  }
  EXPECT_GT(events, 3);
}

// Another emulation (Wyse 50) is recorded as ANSI redraws of the screen
// the browser sees: played back into a VT terminal, the recording ends on
// that very screen.
TEST(Record, OtherEmulationsAreRedrawnAsTheBrowserSawThem) {
  if (std::string why = kvxtest::Need({"asciinema"}); !why.empty()) GTEST_SKIP() << why;
  Recorded r;
  ServerOptions o;
  o.home = r.home;
  o.args = {"-p", "0", "--record-dir", r.dir};
  KavrixServer s(o);
  TestBrowser b;
  std::string seen;
  const std::string file = RecordShellSession(r, KVX_EM_WYSE50, b, s, [&] {
    ASSERT_TRUE(b.Type("echo wyse-$((6*7))-text; echo second line\r"));
    ASSERT_TRUE(b.WaitText("second line")) << b.Describe();
    // The prompt after the output (the Wyse 50 shows bash's mode sequences
    // as text).
    ASSERT_TRUE(b.Pump([&] {
      const int row = b.screen.Find("wyse-42-text");
      return row >= 0 && row + 2 < 24 && b.screen.Row(row + 2).find("kvx$") != std::string::npos;
    })) << b.Describe();
    seen = b.screen.Text();
  });
  ASSERT_FALSE(file.empty()) << s.err();
  const std::string played = Output("script -qefc \"stty -opost; asciinema cat '" + file +
                                    "'\" /dev/null > '" + r.dir + "/played.raw'");
  const std::string replayed = Output(std::string(KVX_BINARY_DIR) +
                                      "/te-replay --emulation vt220 --rows 24 "
                                      "--cols 80 '" +
                                      r.dir + "/played.raw'");
  // te-replay trims trailing blank rows; the browser's text has every row.
  std::string expected = seen;
  while (expected.size() >= 2 && expected.compare(expected.size() - 2, 2, "\n\n") == 0) expected.pop_back();
  std::string got = replayed;
  while (got.size() >= 2 && got.compare(got.size() - 2, 2, "\n\n") == 0) got.pop_back();
  EXPECT_EQ(got, expected) << Slurp(file);
  EXPECT_NE(got.find("wyse-42-text"), std::string::npos);
}

// Block mode (3270) is recorded as redraws too: a screen loaded from a
// capture plays back with its text.
TEST(Record, BlockModeScreensAreRedrawn) {
  if (std::string why = kvxtest::Need({"asciinema"}); !why.empty()) GTEST_SKIP() << why;
  Recorded r;
  ServerOptions o;
  o.args = {"-p", "0", "--record-dir", r.dir};
  KavrixServer s(o);
  TestBrowser b(24, 80);
  ASSERT_TRUE(b.NewSession(s.port()));
  const int pid = s.ChildPid(b.sessionPort);
  ASSERT_EQ(
      EnvelopeCode(b.PostConfig("{\"kcf\":{\"commtype\":0,\"node\":\"127.0.0.1\",\"port\":1,\"emulate\":" +
                                std::to_string(KVX_EM_IBM3270_MODEL2) +
                                ","
                                "\"em3270idx\":0},\"connectToHost\":false}")
                       .body),
      0);
  ASSERT_TRUE(b.Attach());
  // Erase/Write, a write control character, "REC3270" in EBCDIC, IAC EOR.
  const std::string capture = "\xf5\xc3\xd9\xc5\xc3\xf3\xf2\xf7\xf0\xff\xef";
  HttpResponse answer = HttpRequest(s.port(), "POST", "/load_capture?session=" + b.sessionId, capture,
                                    {{"Content-Type", "application/octet-stream"}});
  ASSERT_EQ(EnvelopeCode(answer.body), 0) << answer.body;
  ASSERT_TRUE(b.WaitText("REC3270", 10)) << b.Describe();
  ASSERT_EQ(EnvelopeCode(PostJson(s.port(), "/shutdown_session?session=" + b.sessionId, "{}").body), 0);
  b.sessionId.clear();
  ASSERT_TRUE(WaitFor([&] { return !ProcessAlive(pid); }));
  std::vector<std::string> files = r.Files();
  ASSERT_EQ(files.size(), 1u);
  const std::string played =
      Output("script -qefc \"stty -opost; asciinema cat '" + files[0] + "'\" /dev/null");
  EXPECT_NE(played.find("REC3270"), std::string::npos) << played;
}

}  // namespace
