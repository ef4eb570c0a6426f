// The session broker through the real binary: session processes, their
// reports, listing, relaying over loopback HTTP(S), reaping and the limits
// on children that never report or are never used.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <future>
#include <regex>
#include <sstream>
#include <string>

#include "kvx_test.h"

using namespace kvxtest;

namespace {

struct Session {
  std::string id;
  int port = 0;
  std::string body;
};

Session NewSession(int serverPort, const std::string& device, const TlsOptions& tls = {}) {
  HttpResponse r = PostJson(serverPort, "/new_session", "{\"deviceId\":\"" + device + "\"}", tls);
  return {JsonText(r.body, "content.sessionId"), JsonInt(r.body, "content.port", 0), r.body};
}

std::string List(int serverPort, const std::string& device, const TlsOptions& tls = {}) {
  return PostJson(serverPort, "/list_sessions", "{\"deviceId\":\"" + device + "\"}", tls).body;
}

bool IsHexId(const std::string& id) {
  return std::regex_match(id, std::regex("[0-9a-f]{40}"));
}

TEST(Broker, SessionsStartReportListAndShutDown) {
  KavrixServer s;
  Session a = NewSession(s.port(), "dev-1");
  Session b = NewSession(s.port(), "dev-1");
  Session other = NewSession(s.port(), "dev-2");
  ASSERT_TRUE(IsHexId(a.id)) << a.body;
  ASSERT_TRUE(IsHexId(b.id)) << b.body;
  EXPECT_NE(a.id, b.id);
  EXPECT_EQ(a.body, "{\"code\":0,\"content\":{\"port\":" + std::to_string(a.port) + ",\"sessionId\":\"" +
                        a.id + "\"},\"message\":\"success\"}");
  int pidA = s.ChildPid(a.port), pidB = s.ChildPid(b.port);
  ASSERT_GT(pidA, 0);
  ASSERT_GT(pidB, 0);
  EXPECT_TRUE(ProcessAlive(pidA));
  EXPECT_TRUE(ProcessAlive(pidB));
  EXPECT_EQ(List(s.port(), "dev-1"), "{\"code\":0,\"content\":[{\"kvxPort\":" + std::to_string(a.port) +
                                         ",\"sessionId\":\"" + a.id +
                                         "\"},{\"kvxPort\":" + std::to_string(b.port) + ",\"sessionId\":\"" +
                                         b.id + "\"}],\"message\":\"success\"}");

  HttpResponse down = PostJson(s.port(), "/shutdown_session?session=" + a.id, "");
  EXPECT_EQ(down.status, 200);
  EXPECT_EQ(down.body, "{\"code\":0,\"content\":{\"sessionId\":\"" + a.id + "\"},\"message\":\"success\"}");
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(pidA); }));
  EXPECT_TRUE(
      s.WaitForOutput("Child process [" + std::to_string(pidA) + "] stopped with exit status [0].\n"));
  EXPECT_TRUE(WaitFor([&] { return List(s.port(), "dev-1").find(a.id) == std::string::npos; }));
  EXPECT_NE(List(s.port(), "dev-1").find(b.id), std::string::npos);
  EXPECT_TRUE(ProcessAlive(pidB));
  EXPECT_NE(List(s.port(), "dev-2").find(other.id), std::string::npos);
}

TEST(Broker, ErrorsOfRelayedAndReportedRequests) {
  KavrixServer s;
  struct Case {
    std::string path;
    int status;
    std::string body;
  };
  const Case cases[] = {
      {"/shutdown_session", 500, "{\"code\":5,\"message\":\"Missing argument [session].\"}"},
      {"/shutdown_session?other=1", 500, "{\"code\":5,\"message\":\"Missing argument [session].\"}"},
      {"/shutdown_session?session=abc", 200, "{\"code\":7,\"message\":\"Session with id [abc] not found.\"}"},
      {"/get_config_values?session=abc", 200,
       "{\"code\":7,\"message\":\"Session with id [abc] not found.\"}"},
      {"/load_capture?session=abc", 200, "{\"code\":7,\"message\":\"Session with id [abc] not found.\"}"},
  };
  for (const Case& c : cases) {
    HttpResponse r = PostJson(s.port(), c.path, "{}");
    EXPECT_EQ(r.status, c.status) << c.path;
    EXPECT_EQ(r.body, c.body) << c.path;
  }
  HttpResponse update = PostJson(s.port(), "/update_session", "{\"sessionId\":\"nope\",\"port\":5}");
  EXPECT_EQ(update.status, 200);
  EXPECT_EQ(update.body, "{\"code\":7,\"message\":\"Session with id [nope] not found.\"}");
  // "/load_config" is checked before it is relayed.
  HttpResponse media =
      HttpRequest(s.port(), "POST", "/load_config?session=abc", "{}", {{"Content-Type", "text/plain"}});
  EXPECT_EQ(media.status, 415);
}

TEST(Broker, RelayedAnswersKeepTheirMeaning) {
  KavrixServer s;
  Session a = NewSession(s.port(), "relay");
  ASSERT_TRUE(IsHexId(a.id)) << a.body;
  // The session answers that it holds no configuration; the server passes
  // the answer on with the HTTP status of its code.
  HttpResponse r = PostJson(s.port(), "/get_config_values?session=" + a.id, "[\"lines\"]");
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.body, "{\"code\":11,\"message\":\"No KCF configuration loaded.\"}");
  EXPECT_EQ(r.header("Content-Type"), "application/json; charset=utf-8");
  // A chunked body is relayed with a length: the session reads the whole
  // object and finds no "kcf" in it.
  HttpResponse chunked =
      HttpRequest(s.port(), "POST", "/load_config?session=" + a.id, "2\r\n{}\r\n0\r\n\r\n",
                  {{"Content-Type", "application/json"}, {"Transfer-Encoding", "chunked"}});
  EXPECT_EQ(EnvelopeCode(chunked.body), 10) << chunked.raw;
}

// A stand-in for the session program: records its command line and
// environment, then waits without ever reporting.
const char kSilentChild[] =
    "#!/bin/sh\n"
    "echo \"$@\" > child-args.txt\n"
    "tr '\\0' '\\n' < /proc/$$/environ > child-env.txt\n"
    "exec /bin/sleep 300\n";

TEST(Broker, ChildThatNeverReports) {
  ServerOptions o;
  o.fakeChild = kSilentChild;
  KavrixServer s(o);
  auto pending = std::async(std::launch::async,
                            [&] { return PostJson(s.port(), "/new_session", "{\"deviceId\":\"quiet\"}"); });
  // Listed with port 0 before it reports.
  std::string id;
  ASSERT_TRUE(WaitFor([&] {
    std::string l = List(s.port(), "quiet");
    std::smatch m;
    if (!std::regex_search(l, m, std::regex("\\{\"kvxPort\":0,\"sessionId\":\"([0-9a-f]{40})\"\\}")))
      return false;
    id = m[1];
    return true;
  }));
  // The shell creates the file before `tr` has written it: wait for a whole line.
  std::string env;
  ASSERT_TRUE(WaitFor([&] {
    std::ifstream in(s.dir() + "/child-env.txt");
    std::stringstream ss;
    ss << in.rdbuf();
    env = ss.str();
    return !env.empty() && env.back() == '\n';
  }));
  EXPECT_EQ(env, "HOME=" + std::string(getenv("HOME") ? getenv("HOME") : "/") + "\n");

  // The test reports a port where nothing listens: the held request is
  // answered with the report, and relaying to it fails without harm.
  HttpResponse upd = PostJson(s.port(), "/update_session", "{\"sessionId\":\"" + id + "\",\"port\":1}");
  EXPECT_EQ(upd.body, "{\"code\":0,\"message\":\"success\"}");
  HttpResponse created = pending.get();
  EXPECT_EQ(created.body,
            "{\"code\":0,\"content\":{\"port\":1,\"sessionId\":\"" + id + "\"},\"message\":\"success\"}");
  // A second report only updates the port.
  EXPECT_EQ(
      EnvelopeCode(PostJson(s.port(), "/update_session", "{\"sessionId\":\"" + id + "\",\"port\":2}").body),
      0);
  EXPECT_NE(List(s.port(), "quiet").find("{\"kvxPort\":2,"), std::string::npos);

  HttpResponse relay = PostJson(s.port(), "/shutdown_session?session=" + id, "");
  EXPECT_EQ(relay.status, 500);
  EXPECT_EQ(relay.body,
            "{\"code\":8,\"message\":\"Could not establish connection to host for session [2].\"}");
  EXPECT_TRUE(s.running());
  EXPECT_EQ(HttpRequest(s.port(), "GET", "/").status, 200);
}

TEST(Broker, ReportDeadlineEndsTheChild) {
  ServerOptions o;
  o.fakeChild = kSilentChild;
  KavrixServer s(o);
  HttpResponse r = PostJson(s.port(), "/new_session", "{\"deviceId\":\"late\"}");
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.body, "{\"code\":6,\"message\":\"Error creating session [session process did not report].\"}");
  EXPECT_TRUE(WaitFor(
      [&] { return List(s.port(), "late") == "{\"code\":0,\"content\":[],\"message\":\"success\"}"; }));
  EXPECT_TRUE(s.WaitForOutput("stopped with exit status [9]"));
}

// A session program in the working directory that cannot run fails the
// session at once; without one, sessions start from the server's own
// program.
TEST(Broker, UnrunnableExecutableFailsAtOnce) {
  ServerOptions o;
  o.linkExecutable = false;
  KavrixServer s(o);
  std::ofstream(s.dir() + "/Kavrix") << "not a program\n";  // and not executable
  HttpResponse r = PostJson(s.port(), "/new_session", "{\"deviceId\":\"x\"}");
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.body,
            "{\"code\":6,\"message\":\"Error creating session [session process ended before reporting].\"}");
  EXPECT_NE(s.err().find("Failed to overlay process: Permission denied\n"), std::string::npos) << s.err();
  EXPECT_TRUE(s.WaitForOutput("stopped with exit status [256].\n"));
  EXPECT_EQ(List(s.port(), "x"), "{\"code\":0,\"content\":[],\"message\":\"success\"}");

  unlink((s.dir() + "/Kavrix").c_str());
  Session a = NewSession(s.port(), "x");
  EXPECT_TRUE(IsHexId(a.id)) << a.body << s.err();
  EXPECT_GT(s.ChildPid(a.port), 0);
}

TEST(Broker, ChildCommandLineCarriesTheTlsOptions) {
  ServerOptions o;
  o.tls = true;
  o.fakeChild = kSilentChild;
  o.args = {"-p", "0", "-c", "server-only", "-k", "server-key", "-C"};
  KavrixServer s(o);
  ASSERT_GT(s.port(), 0) << s.err();
  TlsOptions tls;
  tls.enabled = true;
  auto pending =
      std::async(std::launch::async, [&] { return PostJson(s.port(), "/new_session", "{}", tls); });
  ASSERT_TRUE(WaitFor([&] {
    std::ifstream in(s.dir() + "/child-args.txt");
    return in.good() && in.peek() != EOF;
  }));
  std::ifstream in(s.dir() + "/child-args.txt");
  std::string args;
  std::getline(in, args);
  EXPECT_TRUE(std::regex_match(args, std::regex("-a - -p " + std::to_string(s.port()) +
                                                " -b 0.0.0.0 -c server-only -k server-key -C"
                                                " --stats-fd 3 --shell-limits [0-9a-z]+:[0-9a-z]+( --shell-locale [^ ]+)?")))
      << args;
  s.Stop(SIGKILL);
  pending.wait();
}

TEST(Broker, SessionsOverTls) {
  ServerOptions o;
  o.tls = true;
  o.args = {"-p", "0", "-c", "server"};
  KavrixServer s(o);
  ASSERT_GT(s.port(), 0) << s.err();
  TlsOptions tls;
  tls.enabled = true;
  Session a = NewSession(s.port(), "tls", tls);
  ASSERT_TRUE(IsHexId(a.id)) << a.body << s.err();
  EXPECT_EQ(HttpRequest(a.port, "GET", "/", "", {}, tls).status, 200);
  // The browser channel over TLS.
  WsClient ws;
  ASSERT_EQ(ws.Handshake(a.port, "teCtrl", tls).status, 101);
  ASSERT_TRUE(ws.Send(9, "tls ping"));
  auto pong = ws.ReceiveOp(10);
  ASSERT_TRUE(pong);
  EXPECT_EQ(pong->payload, "tls ping");
  HttpResponse down = PostJson(s.port(), "/shutdown_session?session=" + a.id, "", tls);
  EXPECT_EQ(EnvelopeCode(down.body), 0) << down.body;
  EXPECT_TRUE(WaitFor([&] { return List(s.port(), "tls", tls).find(a.id) == std::string::npos; }));
}

TEST(Broker, SigtermWithSessionsShutsThemDownFirst) {
  KavrixServer s;
  Session a = NewSession(s.port(), "t"), b = NewSession(s.port(), "t");
  ASSERT_TRUE(IsHexId(a.id) && IsHexId(b.id));
  EXPECT_EQ(s.Stop(SIGTERM), 0);
  std::string err = s.err();
  EXPECT_NE(err.find("Recived signal [15], waiting for child processes.\n"), std::string::npos);
  EXPECT_NE(err.find("Child processes have been stopped, stoping...\n"), std::string::npos) << err;
  EXPECT_FALSE(ProcessAlive(s.ChildPid(a.port)));
  EXPECT_FALSE(ProcessAlive(s.ChildPid(b.port)));
}

TEST(Broker, SigintWithSessionsWaitsForThem) {
  KavrixServer s;
  Session a = NewSession(s.port(), "i");
  ASSERT_TRUE(IsHexId(a.id));
  kill(s.pid(), SIGINT);
  ASSERT_TRUE(s.WaitForOutput("Recived signal [2], waiting for child processes.\n"));
  // Still serving while the session lives; it ends when the session does.
  EXPECT_EQ(HttpRequest(s.port(), "GET", "/").status, 200);
  EXPECT_TRUE(s.running());
  EXPECT_EQ(EnvelopeCode(PostJson(s.port(), "/shutdown_session?session=" + a.id, "").body), 0);
  EXPECT_EQ(s.Wait(), 0);
  EXPECT_NE(s.err().find("Child processes have been stopped, stoping...\n"), std::string::npos);
}

TEST(Broker, UnusedSessionEndsAfterTheAttachDeadline) {
  KavrixServer s;
  Session a = NewSession(s.port(), "idle");
  ASSERT_TRUE(IsHexId(a.id));
  int pid = s.ChildPid(a.port);
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(ProcessAlive(pid));
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(pid); }, 120));
  EXPECT_TRUE(s.WaitForOutput("No browser attached within 60 seconds, ending the session.\n"));
  EXPECT_TRUE(WaitFor([&] { return List(s.port(), "idle").find(a.id) == std::string::npos; }));
}

}  // namespace
