// Running the server as a service, through the real binary: a clean stop
// (SIGTERM) that stops accepting, tells every browser, ends the sessions and
// exits within its bound; "/healthz" and "/metrics".
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "kvx_browser.h"
#include "kvx_test.h"

using namespace kvxtest;

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
    ASSERT_TRUE(t->Send(4000));
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
  o.fakeChild = "#!/bin/sh\ntrap '' TERM\nexec /bin/sleep 300\n";
  KavrixServer s(o);
  std::thread pending([&] { PostJson(s.port(), "/new_session", "{\"deviceId\":\"stuck\"}"); });
  ASSERT_TRUE(WaitFor([&] {
    return PostJson(s.port(), "/list_sessions", "{\"deviceId\":\"stuck\"}").body.find("kvxPort") !=
           std::string::npos;
  }));
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
  ASSERT_TRUE(b.Send(4000));
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

}  // namespace
