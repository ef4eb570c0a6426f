// Limits and policy through the real binary: the session caps (server-wide
// and per client, behind a trusted proxy too) with their answer, log line
// and metrics; the idle time-out; the resource bounds of session processes
// and of their shells; and the connection policy, which refuses a kind or a
// host with a message in the browser and dials nothing.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "emulation_ids.h"
#include "kvx_browser.h"
#include "kvx_test.h"

using namespace kvxtest;
namespace fs = std::filesystem;

namespace {

const char kTooMany[] = "{\"code\":14,\"message\":\"Too many sessions\"}";

// A HOME whose interactive bash shows the prompt "kvx$ " (and runs `extra`).
struct TestHome {
  std::string dir;
  explicit TestHome(const std::string& extra = "") {
    char tmpl[] = "/tmp/kvxhome.XXXXXX";
    dir = mkdtemp(tmpl);
    std::ofstream(dir + "/.bashrc") << "PS1='kvx$ '\nunset PROMPT_COMMAND\n" << extra;
  }
  ~TestHome() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

const std::string kShellConfig =
    "{\"kcf\":{\"commtype\":7,\"lines\":24,\"col\":80,\"emulate\":" + std::to_string(KVX_EM_XTERM) +
    ",\"teltermtype\":\"xterm-color\","
    "\"MBMode\":1},\"connectToHost\":true}";

std::string TelnetConfig(const std::string& node, int port) {
  return "{\"kcf\":{\"commtype\":0,\"node\":" + JsonString(node) + ",\"port\":" + std::to_string(port) +
         ",\"emulate\":" + std::to_string(KVX_EM_XTERM) +
         ",\"MBMode\":1,\"lines\":24,\"col\":80},\"connectToHost\":true}";
}

HttpResponse NewSessionFrom(int port, const std::string& forwardedFor = "") {
  std::map<std::string, std::string> headers = {{"Content-Type", "application/json"}};
  if (!forwardedFor.empty()) headers["X-Forwarded-For"] = forwardedFor;
  return HttpRequest(port, "POST", "/new_session", "{\"deviceId\":\"caps\"}", headers);
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

// One line of the server's metrics, by its name and labels.
long Metric(int port, const std::string& series) {
  std::string text = HttpRequest(port, "GET", "/metrics").body;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(series + " ", 0) == 0) return std::stol(line.substr(series.size() + 1));
  return -1;
}

bool EndSession(int serverPort, const std::string& id) {
  return EnvelopeCode(PostJson(serverPort, "/shutdown_session?session=" + id, "{}").body) == 0;
}

// A limit's line of /proc/<pid>/limits without its name: "soft hard unit".
std::string Limit(int pid, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/limits");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(name, 0) == 0) return std::regex_replace(line.substr(name.size()), std::regex(" +"), " ");
  return "";
}
std::string Soft(int pid, const std::string& name) {
  std::istringstream in(Limit(pid, name));
  std::string soft;
  in >> soft;
  return soft;
}
std::string Hard(int pid, const std::string& name) {
  std::istringstream in(Limit(pid, name));
  std::string soft, hard;
  in >> soft >> hard;
  return hard;
}

int ShellOf(int sessionPid) {
  int shell = 0;
  std::ifstream("/proc/" + std::to_string(sessionPid) + "/task/" + std::to_string(sessionPid) +
                "/children") >>
      shell;
  return shell;
}

long StatusKiB(int pid, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
  return -1;
}

TEST(Limits, BadValuesAreRefusedWithTheirReason) {
  struct Case {
    std::vector<std::string> args;
    std::string line;
  };
  const Case cases[] = {
      {{"--max-sessions", "0"}, "Illegal value [0] for option [--max-sessions]"},
      {{"--max-sessions-per-client", "many"}, "Illegal value [many] for option [--max-sessions-per-client]"},
      {{"--idle-timeout", "-1"}, "Illegal value [-1] for option [--idle-timeout]"},
      {{"--allow-kinds", "shell,rlogin"}, "unknown connection kind [rlogin]"},
      {{"--allow-hosts", "10.0.0.0/33"}, "cannot read host entry [10.0.0.0/33]"},
      {{"--trusted-proxies", "proxy.example"}, "cannot read address [proxy.example]"},
      {{"--session-files", "8"}, "Illegal value [8] for option [--session-files]: expected 0 or at least 32"},
      {{"--session-memory"}, ""},
  };
  for (const Case& c : cases) {
    ServerOptions o;
    o.args = c.args;
    o.waitForStartup = false;
    KavrixServer s(o);
    EXPECT_EQ(s.Wait(), 1) << c.args[0];
    EXPECT_NE(s.out().find(c.line), std::string::npos) << s.out();
    EXPECT_NE(s.out().find("usage: Kavrix\n"), std::string::npos);
  }
}

// Each client address may have so many sessions; one that ends frees its
// place at once.  Refusals start nothing, are logged once a minute per
// client and are counted.
TEST(Limits, PerClientCapRefusesWith503UntilASessionEnds) {
  ServerOptions o;
  o.args = {"-p", "0", "--max-sessions-per-client", "2"};
  KavrixServer s(o);
  HttpResponse a = NewSessionFrom(s.port()), b = NewSessionFrom(s.port());
  ASSERT_EQ(EnvelopeCode(a.body), 0) << a.body;
  ASSERT_EQ(EnvelopeCode(b.body), 0) << b.body;
  ASSERT_TRUE(WaitFor([&] { return Count(s.out(), "starting HTTP service") == 2; }));
  for (int i = 0; i < 4; i++) {
    HttpResponse r = NewSessionFrom(s.port());
    EXPECT_EQ(r.status, 503);
    EXPECT_EQ(r.body, kTooMany);
    EXPECT_EQ(r.header("Content-Type"), "application/json; charset=utf-8");
  }
  // Without a trusted proxy, a forwarded address changes nothing.
  EXPECT_EQ(NewSessionFrom(s.port(), "198.51.100.7").status, 503);
  EXPECT_EQ(Count(s.err(), "Too many sessions: refusing new sessions of [127.0.0.1]"), 1) << s.err();
  EXPECT_EQ(Metric(s.port(), "kavrix_session_start_failures_total{reason=\"too_many_sessions_of_client\"}"),
            5);
  EXPECT_EQ(Metric(s.port(), "kavrix_sessions_live"), 2);

  ASSERT_TRUE(EndSession(s.port(), JsonText(a.body, "content.sessionId")));
  HttpResponse c;
  ASSERT_TRUE(WaitFor([&] {
    c = NewSessionFrom(s.port());
    return c.status == 200;
  })) << c.body;
  EXPECT_EQ(EnvelopeCode(c.body), 0) << c.body;
  EXPECT_EQ(Count(s.out(), "starting HTTP service"), 3) << "a refused request started a session process";
}

// Behind a trusted proxy each forwarded client has a cap of its own, and
// the server's cap holds for all of them together.
TEST(Limits, TrustedProxyNamesTheClientAndTheTotalCapHolds) {
  ServerOptions o;
  o.args = {"-p", "0", "--trusted-proxies", "127.0.0.0/8", "--max-sessions-per-client", "1", "--max-sessions",
            "4"};
  KavrixServer s(o);
  // The right-most address a trusted proxy did not add is the client.
  HttpResponse a = NewSessionFrom(s.port(), "198.51.100.1");
  HttpResponse a2 = NewSessionFrom(s.port(), "203.0.113.5, 198.51.100.1");
  HttpResponse b = NewSessionFrom(s.port(), "198.51.100.2, 127.0.0.9");
  HttpResponse c = NewSessionFrom(s.port(), "2001:db8:1:2::7");
  HttpResponse c2 = NewSessionFrom(s.port(), "2001:db8:1:2::8");
  EXPECT_EQ(EnvelopeCode(a.body), 0) << a.body;
  EXPECT_EQ(a2.status, 503) << "same client as the first";
  EXPECT_EQ(EnvelopeCode(b.body), 0) << b.body;
  EXPECT_EQ(EnvelopeCode(c.body), 0) << c.body;
  EXPECT_EQ(c2.status, 503) << "an IPv6 client counts by its /64";
  EXPECT_EQ(EnvelopeCode(NewSessionFrom(s.port(), "198.51.100.3").body), 0);
  HttpResponse d = NewSessionFrom(s.port(), "198.51.100.4");
  EXPECT_EQ(d.status, 503);
  EXPECT_EQ(d.body, kTooMany);
  EXPECT_NE(s.err().find("refusing new sessions of [198.51.100.4] (4 live of at most 4"), std::string::npos)
      << s.err();
  EXPECT_NE(s.err().find("refusing new sessions of [2001:db8:1:2::/64]"), std::string::npos) << s.err();
  EXPECT_EQ(HttpRequest(s.port(), "GET", "/healthz").status, 503);
  EXPECT_EQ(Metric(s.port(), "kavrix_session_start_failures_total{reason=\"too_many_sessions\"}"), 1);
  EXPECT_EQ(Metric(s.port(), "kavrix_session_start_failures_total{reason=\"too_many_sessions_of_client\"}"),
            2);

  ASSERT_TRUE(EndSession(s.port(), JsonText(b.body, "content.sessionId")));
  ASSERT_TRUE(WaitFor([&] { return HttpRequest(s.port(), "GET", "/healthz").status == 200; }));
  EXPECT_EQ(EnvelopeCode(NewSessionFrom(s.port(), "198.51.100.4").body), 0);
}

// A session no browser watches ends after the idle time-out, with a line
// in the log; a watched one stays, and its clock starts when its browser
// leaves.
TEST(Limits, IdleTimeoutEndsAnAbandonedSessionAndSparesAWatchedOne) {
  TestHome home;
  ServerOptions o;
  o.home = home.dir;
  o.args = {"-p", "0", "--idle-timeout", "0.05"};  // 3 seconds
  KavrixServer s(o);
  TestBrowser abandoned, watched;
  ASSERT_TRUE(abandoned.NewSession(s.port()));
  ASSERT_TRUE(watched.NewSession(s.port()));
  const int abandonedPid = s.ChildPid(abandoned.sessionPort), watchedPid = s.ChildPid(watched.sessionPort);
  for (TestBrowser* b : {&abandoned, &watched}) {
    ASSERT_EQ(EnvelopeCode(b->PostConfig(kShellConfig).body), 0);
    ASSERT_TRUE(b->Attach());
    ASSERT_TRUE(b->WaitText("kvx$")) << b->Describe();
  }
  abandoned.ws.conn.Close();
  const auto left = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitFor([&] { return !ProcessAlive(abandonedPid); }, 30));
  const double after = std::chrono::duration<double>(std::chrono::steady_clock::now() - left).count();
  EXPECT_GE(after, 2.5) << "ended before its time-out";
  EXPECT_TRUE(s.WaitForOutput("No browser attached for 0.05 minutes, ending the session.\n"));
  EXPECT_EQ(Metric(s.port(), "kavrix_session_exits_total{reason=\"idle_timeout\"}"), 1);

  // The watched session has outlived the time-out; without its browser it
  // ends a time-out later.
  EXPECT_TRUE(ProcessAlive(watchedPid));
  ASSERT_TRUE(watched.Type("echo still here\r"));
  EXPECT_TRUE(watched.WaitText("still here"));
  watched.ws.conn.Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_TRUE(ProcessAlive(watchedPid));
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(watchedPid); }, 30));
  EXPECT_EQ(Count(s.err(), "No browser attached for 0.05 minutes"), 2) << s.err();
}

// A browser that comes back within the time-out stops the clock.
TEST(Limits, ReattachingInTimeResetsTheIdleClock) {
  TestHome home;
  ServerOptions o;
  o.home = home.dir;
  o.args = {"-p", "0", "--idle-timeout", "0.05"};
  KavrixServer s(o);
  TestBrowser b;
  ASSERT_TRUE(b.NewSession(s.port()));
  const int pid = s.ChildPid(b.sessionPort);
  ASSERT_EQ(EnvelopeCode(b.PostConfig(kShellConfig).body), 0);
  for (int round = 0; round < 3; round++) {
    ASSERT_TRUE(b.Attach());
    const std::string mark = "round" + std::to_string(round) + "done";
    ASSERT_TRUE(b.Type("echo round" + std::to_string(round) + "done\r"));
    ASSERT_TRUE(b.WaitText(mark)) << b.Describe();
    b.ws.conn.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    ASSERT_TRUE(ProcessAlive(pid)) << "round " << round;
  }
  EXPECT_EQ(Count(s.err(), "No browser attached for"), 0);
}

// Session processes run under bounds of their own; their shells get the
// server's limits back.  A host that floods output keeps the session within
// its bound, and the session keeps working.
TEST(Limits, SessionBoundsHoldAndAreNotPassedToTheShell) {
  TestHome home("if [ -f ~/flood ]; then rm -f ~/flood; yes 'flooding the session with output'; fi\n");
  std::ofstream(home.dir + "/flood") << "";
  ServerOptions o;
  o.home = home.dir;
  o.args = {"-p", "0", "--session-memory", "256", "--session-files", "64"};
  KavrixServer s(o);
  TestBrowser b;
  ASSERT_TRUE(b.NewSession(s.port()));
  const int pid = s.ChildPid(b.sessionPort);
  ASSERT_GT(pid, 0);
  // Soft limits only: the hard ones stay the server's.
  EXPECT_EQ(Soft(pid, "Max open files"), "64");
  EXPECT_EQ(Hard(pid, "Max open files"), Hard(s.pid(), "Max open files"));
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_EQ(Soft(pid, "Max address space"), "268435456");
  EXPECT_EQ(Hard(pid, "Max address space"), Hard(s.pid(), "Max address space"));
#endif
  ASSERT_EQ(EnvelopeCode(b.PostConfig(kShellConfig).body), 0);
  ASSERT_TRUE(b.Attach());
  ASSERT_TRUE(b.WaitText("flooding the session")) << b.Describe();
  const int shell = ShellOf(pid);
  ASSERT_GT(shell, 0);
  EXPECT_EQ(Limit(shell, "Max open files"), Limit(s.pid(), "Max open files"));
  EXPECT_EQ(Limit(shell, "Max address space"), Limit(s.pid(), "Max address space"));
  // Seconds of flooding, the browser reading all the while.
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < until)
    ASSERT_TRUE(b.Pump([] { return false; }, 0.2) || b.error.empty());
  EXPECT_TRUE(ProcessAlive(pid));
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(StatusKiB(pid, "VmPeak"), 256 * 1024);
#endif
  EXPECT_GT(Metric(s.port(), "kavrix_host_bytes_total"), 100000);
  EXPECT_GT(Metric(s.port(), "kavrix_browser_bytes_total"), 10000);
  EXPECT_EQ(Metric(s.port(), "kavrix_browsers_attached"), 1);
  EXPECT_EQ(Metric(s.port(), "kavrix_connections_total{kind=\"shell\"}"), 1);
  kill(shell, SIGKILL);
}

// A bound the session cannot even start under ends that session, never
// the server.
TEST(Limits, ASessionThatHitsItsBoundEndsAloneNeverTheServer) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "no address-space bound under the address sanitizer";
#endif
  ServerOptions o;
  o.args = {"-p", "0", "--session-memory", "4"};
  KavrixServer s(o);
  HttpResponse r = NewSessionFrom(s.port());
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(EnvelopeCode(r.body), 6) << r.body;
  EXPECT_TRUE(s.running());
  EXPECT_EQ(HttpRequest(s.port(), "GET", "/healthz").status, 200);
  EXPECT_EQ(Metric(s.port(), "kavrix_session_start_failures_total{reason=\"exited\"}"), 1);
}

// A session that runs out of memory under its bound (here: a settings
// object of 15 MB against a bound of 48 MiB) tells its browser and ends
// alone; the server and its other sessions carry on.
TEST(Limits, ASessionOutOfMemoryTellsItsBrowserAndEndsAlone) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "no address-space bound under the address sanitizer";
#endif
  ServerOptions o;
  o.args = {"-p", "0", "--session-memory", "48"};
  KavrixServer s(o);
  TestBrowser victim, bystander;
  ASSERT_TRUE(victim.NewSession(s.port()));
  ASSERT_TRUE(bystander.NewSession(s.port()));
  const int pid = s.ChildPid(victim.sessionPort), other = s.ChildPid(bystander.sessionPort);
  ASSERT_TRUE(victim.Attach());
  ASSERT_TRUE(bystander.Attach());
  std::string kcf = "{";
  for (int i = 0; i < 15000; i++)
    kcf += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":\"" + std::string(1000, 'v') + "\"";
  auto post = victim.PostConfigAsync("{\"kcf\":" + kcf + "}}");
  ASSERT_TRUE(victim.Pump([&] { return !victim.Errors().empty(); }, 30)) << victim.Describe();
  EXPECT_EQ(victim.Errors().back(), "The session reached its memory bound and has ended.");
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(pid); }, 30));
  post.wait();
  EXPECT_NE(s.err().find("Session out of memory"), std::string::npos) << s.err();
  EXPECT_TRUE(s.running());
  EXPECT_TRUE(ProcessAlive(other));
  EXPECT_EQ(Metric(s.port(), "kavrix_session_exits_total{reason=\"out_of_memory\"}"), 1);
  EXPECT_EQ(EnvelopeCode(bystander.PostConfig(kShellConfig).body), 0);
}

// A listener for the hosts a session must not reach: it counts the
// connections that arrive.
struct Listener {
  int fd = -1;
  int port = 0;
  Listener() {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in sin = {};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
    listen(fd, 8);
    socklen_t len = sizeof sin;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    port = ntohs(sin.sin_port);
  }
  ~Listener() { close(fd); }
  // Connections accepted within `seconds` (each closed at once).
  int Accepted(double seconds) {
    int n = 0;
    pollfd p = {fd, POLLIN, 0};
    while (poll(&p, 1, static_cast<int>(seconds * 1000)) > 0) {
      int c = accept(fd, nullptr, nullptr);
      if (c < 0) break;
      close(c);
      n++;
      seconds = 0.2;
    }
    return n;
  }
};

// A telnet host outside --allow-hosts, by its resolved address or its
// port, is refused with a message and never dialled; inside, by name or
// address, it is dialled.
TEST(Limits, HostsOutsideTheAllowListAreRefusedAndNotDialled) {
  Listener host;
  const std::string p = std::to_string(host.port);
  struct Case {
    std::string allow;
    std::string node;
    bool allowed;
  };
  const Case cases[] = {
      {"10.0.0.0/8", "localhost", false},
      {"127.0.0.0/8:" + std::to_string(host.port + 1), "127.0.0.1", false},
      {"host.example", "127.0.0.1", false},
      {"127.0.0.1", "localhost", true},
      {"LOCALHOST:" + p, "localhost", true},
      {"*.example, 127.0.0.0/8:" + p, "127.0.0.1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.allow + " / " + c.node);
    ServerOptions o;
    o.args = {"-p", "0", "--allow-hosts", c.allow};
    KavrixServer s(o);
    TestBrowser b;
    ASSERT_TRUE(b.NewSession(s.port()));
    ASSERT_EQ(EnvelopeCode(b.PostConfig(TelnetConfig(c.node, host.port)).body), 0);
    ASSERT_TRUE(b.Attach());
    if (c.allowed) {
      EXPECT_EQ(host.Accepted(10), 1);
      EXPECT_EQ(Metric(s.port(), "kavrix_connect_refusals_total{reason=\"host\"}"), 0);
      continue;
    }
    ASSERT_TRUE(b.WaitError()) << b.Describe();
    EXPECT_EQ(b.Errors().back(),
              "Connections to " + c.node + " port " + p + " are not allowed on this server.");
    EXPECT_EQ(host.Accepted(0.5), 0);
    EXPECT_NE(s.err().find("Connect refused: host [" + c.node + "] port [" + p + "] is not allowed."),
              std::string::npos)
        << s.err();
    EXPECT_EQ(Metric(s.port(), "kavrix_connect_refusals_total{reason=\"host\"}"), 1);
    EXPECT_EQ(Metric(s.port(), "kavrix_connections_total{kind=\"telnet\"}"), 0);
  }
}

// A local shell outside --allow-kinds is refused with a message and no
// shell starts; telnet, which the list names, still connects.
TEST(Limits, KindsOutsideTheAllowListAreRefused) {
  Listener host;
  ServerOptions o;
  o.args = {"-p", "0", "--allow-kinds", "telnet,ssh"};
  KavrixServer s(o);
  TestBrowser b;
  ASSERT_TRUE(b.NewSession(s.port()));
  const int pid = s.ChildPid(b.sessionPort);
  ASSERT_EQ(EnvelopeCode(b.PostConfig(kShellConfig).body), 0);
  ASSERT_TRUE(b.Attach());
  ASSERT_TRUE(b.WaitError()) << b.Describe();
  EXPECT_EQ(b.Errors().back(), "Local shell sessions are not allowed on this server.");
  EXPECT_EQ(ShellOf(pid), 0) << "a shell was started";
  EXPECT_NE(s.err().find("Connect refused: shell sessions are not allowed."), std::string::npos) << s.err();
  EXPECT_EQ(Metric(s.port(), "kavrix_connect_refusals_total{reason=\"kind\"}"), 1);

  HttpResponse r = b.PostConfig(TelnetConfig("127.0.0.1", host.port));
  ASSERT_EQ(EnvelopeCode(r.body), 0) << r.body;
  EXPECT_EQ(host.Accepted(10), 1);
}

}  // namespace
