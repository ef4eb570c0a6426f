// The server process through its real binary: command line, listener,
// HTTP answers, static files, TLS and signals.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "kvx_test.h"

namespace fs = std::filesystem;
using namespace kvxtest;

namespace {

const char kUsage[] =
    "usage: Kavrix\nOptions:\n   -h          : Display this help message.\n   -p <int>    : Bind port (defaults: "
    "8080)\n   -b <string> : Bind address (defaults: 0.0.0.0)\n   -c <string> : Name of PEM certificate "
    "containing public (without extension).\n   -k <string> "
    ": "
    "Name of PEM private key file (without extension).\n   -C          : Enable client authentication.\n"
    "   --max-sessions <int>            : Most session processes at once (defaults: 1000).\n"
    "   --max-sessions-per-client <int> : Most session processes of one client address (defaults: 64).\n"
    "   --trusted-proxies <list>        : Proxy addresses whose X-Forwarded-For names the client.\n"
    "   --idle-timeout <minutes>        : End a session no browser has watched for this long, 0 never "
    "(defaults: 60).\n"
    "   --allow-kinds <list>            : Connection kinds sessions may use: shell, telnet, telnet-tls, "
    "telnet-starttls, ssh (defaults: all).\n"
    "   --allow-hosts <list>            : Hosts, addresses and CIDR ranges, with optional :port, that telnet "
    "and SSH may reach (defaults: any).\n"
    "   --session-memory <MiB>          : Address-space bound of a session process, 0 none (defaults: "
    "1024).\n"
    "   --session-files <int>           : Open-file bound of a session process, 0 none (defaults: 256).\n"
    "   --record-dir <dir>              : Record every session into this directory (asciicast v2).\n"
    "   --stop-timeout <seconds>        : How long a clean stop (SIGTERM) waits for the sessions (defaults: "
    "10).\n"
    "   --expose-sessions               : Session processes listen on the bind address, not on 127.0.0.1.\n"
    "   --instance <name>               : Name of this instance, carried by its session identifiers "
    "([a-z0-9], 1 to 16).\n"
    "   --macro-directory <path>        : Directory of the macro files sessions may play (defaults: none, "
    "macros only as text).\n"
    "   --aux-devices <list>            : Serial devices sessions may use as the auxiliary port "
    "(defaults: none).\n"
    "   --aux-devices-file <file>       : The same, one device per line.\n"
    "   --trace <categories>            : Trace these categories, for the server and all its sessions, "
    "comma-separated: comm, telnet, tls, ssh, 3270, 5250, macro, dialog, channel, keyboard, capture, "
    "session, script, print, fail, all.\n"
    "   --trace-file <path>             : Write the trace to this file as well as to standard error.\n";

ServerOptions Args(std::vector<std::string> args, bool waitForStartup = true) {
  ServerOptions o;
  o.args = std::move(args);
  o.waitForStartup = waitForStartup;
  return o;
}

TEST(CommandLine, UsageAndIllegalOptions) {
  struct Case {
    std::vector<std::string> args;
    std::string before;  // printed ahead of the usage text
  };
  const Case cases[] = {
      {{"-h"}, ""},
      {{"-p", "0", "-C", "-h"}, ""},
      {{"-p"}, ""},
      {{"-p", "0", "-c"}, ""},
      {{"-x", "value"}, "Illegal option [-x].\n"},
      {{"-p", "0", "--port", "1"}, "Illegal option [--port].\n"},
      {{"-p", "0", "--trace", "comm,bogus"},
       "Illegal value [comm,bogus] for option [--trace]: unknown category \"bogus\" (known: comm, telnet, tls, ssh, "
       "3270, 5250, macro, dialog, channel, keyboard, capture, session, script, print, fail, all).\n"},
      {{"-p", "0", "--trace-file", ""}, "Illegal value [] for option [--trace-file]: expected a file name.\n"},
  };
  for (const Case& c : cases) {
    KavrixServer s(Args(c.args, false));
    EXPECT_EQ(s.Wait(), 1) << c.args[0];
    EXPECT_EQ(s.out(), c.before + kUsage);
  }
}

TEST(CommandLine, NoArgumentsServePlainHttpOn8080) {
  KavrixServer s(Args({}, true));
  if (s.port() == 0) {
    // Port 8080 is taken on this machine: the one error line and status 1.
    EXPECT_EQ(s.Wait(), 1);
    EXPECT_NE(s.err().find("[0.0.0.0:8080]"), std::string::npos) << s.err();
    return;
  }
  EXPECT_EQ(s.port(), 8080);
  EXPECT_NE(s.err().find("for connections (SSL Not Enabled).\n"), std::string::npos);
  EXPECT_EQ(HttpRequest(8080, "GET", "/").status, 200);
  EXPECT_EQ(s.Stop(SIGTERM), 0);
}

TEST(CommandLine, PortZeroOrTextLetsTheSystemChoose) {
  for (const char* port : {"0", "abc"}) {
    KavrixServer s(Args({"-p", port}));
    ASSERT_GT(s.port(), 0) << s.err();
    EXPECT_TRUE(std::regex_search(
        s.err(), std::regex(R"(^\[\d+\] - Kavrix startup, listening on \[[^:\]]+:)" +
                            std::to_string(s.port()) + R"(\] for connections \(SSL Not Enabled\)\.\n)")))
        << s.err();
    EXPECT_EQ(HttpRequest(s.port(), "GET", "/").status, 200);
  }
}

TEST(CommandLine, ClientAuthWithoutCertificateRunsPlainHttp) {
  KavrixServer s(Args({"-p", "0", "-C"}));
  ASSERT_GT(s.port(), 0);
  EXPECT_NE(s.err().find("ERROR: SSL not enabled because no server certificate is loaded (--clientAuthEnable "
                         "ignored).\n"),
            std::string::npos);
  EXPECT_NE(s.err().find("(SSL Not Enabled)"), std::string::npos);
  EXPECT_EQ(HttpRequest(s.port(), "GET", "/").status, 200);
}

TEST(CommandLine, PortInUseIsOneErrorLineAndStatusOne) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0);
  ASSERT_EQ(::listen(fd, 1), 0);
  socklen_t len = sizeof sin;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
  std::string port = std::to_string(ntohs(sin.sin_port));
  KavrixServer s(Args({"-p", port}, false));
  EXPECT_EQ(s.Wait(), 1);
  EXPECT_EQ(s.err(), "ERROR: Unable to listen on [0.0.0.0:" + port + "]: Address already in use\n");
  close(fd);
}

TEST(CommandLine, MissingCertificateEndsWithoutListening) {
  KavrixServer s(Args({"-p", "0", "-c", "nothere"}, false));
  EXPECT_EQ(s.Wait(), 0);
  EXPECT_NE(s.err().find("SSL ERROR (SRV-CXT): "), std::string::npos) << s.err();
  EXPECT_EQ(s.err().find("listening"), std::string::npos);
}

// How often a text occurs in the server's standard error.
size_t CountInErr(const KavrixServer& s, const std::string& text) {
  std::string err = s.err();
  size_t n = 0;
  for (size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + 1)) n++;
  return n;
}

TEST(Listener, RunningOutOfDescriptorsPausesInsteadOfSpinning) {
  KavrixServer s;
  ASSERT_GT(s.port(), 0) << s.err();
  // The server takes all of its hard limit at start: both limits are
  // lowered on the running server.
  const rlimit low = {48, 48};
  ASSERT_EQ(prlimit(s.pid(), RLIMIT_NOFILE, &low, nullptr), 0) << strerror(errno);
  // More connections than the server has descriptors for, held open.
  std::vector<std::unique_ptr<Connection>> held;
  for (int i = 0; i < 80; i++) {
    held.push_back(std::make_unique<Connection>());
    ASSERT_TRUE(held.back()->Open(s.port()));
  }
  ASSERT_TRUE(WaitFor([&] { return CountInErr(s, "accept") > 0; }));
  std::this_thread::sleep_for(std::chrono::seconds(3));
  // About one line a second, not one per failed try.
  EXPECT_LT(CountInErr(s, "accept"), 30u);
  EXPECT_NE(s.err().find("ERROR: Unable to accept connections: Too many open files; pausing for a second.\n"),
            std::string::npos);
  held.clear();
  EXPECT_TRUE(WaitFor([&] { return HttpRequest(s.port(), "GET", "/").status == 200; }));
  EXPECT_TRUE(s.running());
}

// A document tree of its own, so that every case of the handler is present.
class StaticFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new std::string(fs::temp_directory_path() / ("kvxhtml." + std::to_string(getpid())));
    std::string h = *root_ + "/html";
    fs::create_directories(h + "/ui/sub");
    fs::create_directories(h + "/console");
    fs::create_directories(h + "/shared");
    std::ofstream(h + "/ui/index.html") << "<p>ui index</p>";
    std::ofstream(h + "/console/index.html") << "<p>console index</p>";
    std::ofstream(h + "/shared/app.js") << "var shared = 1;";
    std::ofstream(h + "/shared/style.css") << "body{}";
    std::ofstream(h + "/ui/readme.txt") << "plain words";
    std::ofstream(h + "/ui/font.ttf") << "ttf";
    std::ofstream(*root_ + "/secret.txt") << "TOP SECRET";
    ServerOptions o;
    o.html = h;
    server_ = new KavrixServer(o);
  }
  static void TearDownTestSuite() {
    delete server_;
    fs::remove_all(*root_);
    delete root_;
  }
  static int port() { return server_->port(); }
  static std::string* root_;
  static KavrixServer* server_;
};
std::string* StaticFiles::root_ = nullptr;
KavrixServer* StaticFiles::server_ = nullptr;

const char kNotFoundPage[] =
    "<!DOCTYPE html><html><title>Server Error: 404</title><h2>Server Error 404</h2><p>KVX Status: 12<br "
    "/>Description: File Not Found.</p></html>";

TEST_F(StaticFiles, RootsFallbackAndMediaTypes) {
  struct Case {
    const char* path;
    const char* body;
    const char* type;  // null: no Content-Type header
  };
  const Case cases[] = {
      {"/", "<p>ui index</p>", "text/html; charset=utf-8"},
      {"/index.html", "<p>ui index</p>", "text/html; charset=utf-8"},
      {"/app.js", "var shared = 1;", "application/javascript"},
      {"/style.css", "body{}", "text/css"},
      {"/font.ttf", "ttf", "application/x-font-truetype"},
      {"/readme.txt", "plain words", nullptr},
      {"/app.js?v=3", "var shared = 1;", "application/javascript"},
  };
  for (const Case& c : cases) {
    HttpResponse r = HttpRequest(port(), "GET", c.path);
    EXPECT_EQ(r.status, 200) << c.path;
    EXPECT_EQ(r.body, c.body) << c.path;
    EXPECT_EQ(r.header("Content-Length"), std::to_string(strlen(c.body))) << c.path;
    if (c.type)
      EXPECT_EQ(r.header("Content-Type"), c.type) << c.path;
    else
      EXPECT_FALSE(r.header("Content-Type")) << c.path << "\n" << r.raw;
  }
}

TEST_F(StaticFiles, MissingFilesAndDirectoriesAreTheNotFoundPage) {
  for (const char* path : {"/missing.css", "/sub", "/sub/", "/shared/app.js"}) {
    HttpResponse r = HttpRequest(port(), "GET", path);
    EXPECT_EQ(r.status, 404) << path;
    EXPECT_EQ(r.header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(r.body, kNotFoundPage) << path;
  }
}

TEST_F(StaticFiles, PathsLeavingTheTreeAreRefused) {
  const char* paths[] = {
      "/../secret.txt",     "/../../secret.txt",   "/%2e%2e/secret.txt",    "/%2E%2E/%2e%2e/secret.txt",
      "/..%2fsecret.txt",   "/..%2Fsecret.txt",    "/.%2e/.%2e/secret.txt", "/shared/../../secret.txt",
      "//../../secret.txt", "/..\\..\\secret.txt", "/%2e%2e%5csecret.txt",  "/ui/../..",
      "/app.js%00.html",
  };
  for (const char* path : paths) {
    HttpResponse r = HttpRequest(port(), "GET", path);
    EXPECT_TRUE(r.status == 404 || r.status == 400) << path << " -> " << r.statusLine;
    EXPECT_EQ(r.body.find("TOP SECRET"), std::string::npos) << path;
    if (r.status == 404) {
      EXPECT_EQ(r.body, kNotFoundPage) << path;
    }
  }
  // The server is still serving afterwards.
  EXPECT_EQ(HttpRequest(port(), "GET", "/").status, 200);
}

TEST_F(StaticFiles, MethodsOtherThanGetAre405) {
  for (const char* method : {"POST", "PUT", "DELETE", "HEAD"}) {
    HttpResponse r = HttpRequest(port(), method, "/index.html");
    EXPECT_EQ(r.status, 405) << method;
    EXPECT_EQ(r.header("Accept"), "GET");
    EXPECT_EQ(r.header("Content-Length"), "0");
    EXPECT_EQ(r.body, "");
  }
}

TEST_F(StaticFiles, JsonEndpointChecksAndAccessLog) {
  HttpResponse get = HttpRequest(port(), "GET", "/list_sessions?x=1");
  EXPECT_EQ(get.status, 405);
  EXPECT_EQ(get.header("Accept"), "POST");
  EXPECT_EQ(get.header("Content-Length"), "0");
  EXPECT_TRUE(server_->WaitForOutput("\"GET /list_sessions?x=1 HTTP/1.1\" 405 0 " +
                                     std::to_string(server_->pid()) + "\n"));
  EXPECT_TRUE(std::regex_search(
      server_->err(),
      std::regex(
          R"(127\.0\.0\.1 - - \[\d\d/[A-Z][a-z]{2}/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\] "GET /list_sessions\?x=1 HTTP/1\.1" 405 0 )")));

  HttpResponse media = HttpRequest(port(), "POST", "/list_sessions", "{}", {{"Content-Type", "text/plain"}});
  EXPECT_EQ(media.status, 415);
  EXPECT_EQ(media.header("Content-Type"), "application/json; charset=utf-8");
  EXPECT_EQ(media.body, "{\"code\":2,\"message\":\"Invalid media type, expected [application/json].\"}");

  HttpResponse bad = HttpRequest(port(), "POST", "/list_sessions", "{\"deviceId\" 1}",
                                 {{"Content-Type", "application/json; charset=utf-8"}});
  EXPECT_EQ(bad.status, 500);
  EXPECT_EQ(bad.body,
            "{\"code\":3,\"message\":\"JSON Parse Error: [Syntax error [1:13]: Unexpected token \\\"1\\\", "
            "expected "
            "\\\":\\\".]\"}");

  HttpResponse ok = PostJson(port(), "/list_sessions", "{\"deviceId\":\"nobody\"}");
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.body, "{\"code\":0,\"content\":[],\"message\":\"success\"}");
  EXPECT_TRUE(server_->WaitForOutput("\"POST /list_sessions HTTP/1.1\" 200 43 "));
}

TEST_F(StaticFiles, SessionRoleServesTheConsoleRoot) {
  HttpResponse created = PostJson(port(), "/new_session", "{\"deviceId\":\"console-root\"}");
  ASSERT_EQ(EnvelopeCode(created.body), 0) << created.body;
  int childPort = JsonInt(created.body, "content.port");
  ASSERT_GT(childPort, 0) << created.body;
  HttpResponse r = HttpRequest(childPort, "GET", "/");
  EXPECT_EQ(r.body, "<p>console index</p>");
  EXPECT_EQ(HttpRequest(childPort, "GET", "/app.js").body, "var shared = 1;");
  EXPECT_EQ(HttpRequest(childPort, "GET", "/../secret.txt").status, 404);
}

TEST(Https, GeneratedCertificateServesAndRefusesPlainText) {
  ServerOptions o;
  o.tls = true;
  o.args = {"-p", "0", "-c", "server-only", "-k", "server-key"};
  KavrixServer s(o);
  ASSERT_GT(s.port(), 0) << s.err();
  EXPECT_NE(s.err().find("(SSL Enabled)"), std::string::npos);
  TlsOptions tls;
  tls.enabled = true;
  HttpResponse r = HttpRequest(s.port(), "GET", "/", "", {}, tls);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_FALSE(HttpRequest(s.port(), "GET", "/").ok);
  EXPECT_EQ(EnvelopeCode(PostJson(s.port(), "/list_sessions", "{\"deviceId\":\"d\"}", tls).body), 0);
}

TEST(Https, ClientCertificatesAreRequiredExceptOnLoopback) {
  for (bool exposed : {false, true}) {
    SCOPED_TRACE(exposed ? "sessions exposed" : "sessions on loopback");
    ServerOptions o;
    o.tls = true;
    o.args = {"-p", "0", "-c", "server", "-C"};  // key inside the certificate file
    if (exposed) o.args.push_back("--expose-sessions");
    KavrixServer s(o);
    ASSERT_GT(s.port(), 0) << s.err();
    TlsOptions tls;
    tls.enabled = true;
    EXPECT_EQ(HttpRequest(s.port(), "GET", "/", "", {}, tls, "127.0.0.1").status, 200);
    // 127.0.0.2 reaches the same listener through a local address other than 127.0.0.1.
    EXPECT_FALSE(HttpRequest(s.port(), "GET", "/", "", {}, tls, "127.0.0.2").ok);
    TlsOptions withCert = tls;
    withCert.certFile = s.dir() + "/certs/client.pem";
    withCert.keyFile = s.dir() + "/certs/client-key.pem";
    EXPECT_EQ(HttpRequest(s.port(), "GET", "/", "", {}, withCert, "127.0.0.2").status, 200);

    // A session process listens on 127.0.0.1 alone, where the server's own
    // requests to it (the report, relayed requests) need no certificate.
    // Exposed, it listens where the server does, and the same rule as on
    // the server's port holds there.
    HttpResponse created = PostJson(s.port(), "/new_session", "{\"deviceId\":\"cert\"}", tls);
    ASSERT_EQ(EnvelopeCode(created.body), 0) << created.body << s.err();
    int childPort = JsonInt(created.body, "content.port");
    std::string id = JsonText(created.body, "content.sessionId");
    EXPECT_EQ(HttpRequest(childPort, "GET", "/", "", {}, tls, "127.0.0.1").status, 200);
    EXPECT_FALSE(HttpRequest(childPort, "GET", "/", "", {}, tls, "127.0.0.2").ok);
    EXPECT_EQ(HttpRequest(childPort, "GET", "/", "", {}, withCert, "127.0.0.2").status, exposed ? 200 : 0);
    // The channel through the server's port.
    WsClient ws;
    EXPECT_EQ(ws.HandshakePath(s.port(), "/get_te_channel?session=" + id, "teCtrl", tls).status, 101);
    HttpResponse down = PostJson(s.port(), "/shutdown_session?session=" + id, "", tls);
    EXPECT_EQ(EnvelopeCode(down.body), 0) << down.body;
  }
}

TEST(Signals, StopWithoutSessions) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    KavrixServer s;
    ASSERT_GT(s.port(), 0);
    EXPECT_EQ(s.Stop(sig), 0);
    EXPECT_NE(
        s.err().find("Recieved signal [" + std::to_string(sig) + "], no active TE sessions, stopping.\n"),
        std::string::npos)
        << s.err();
  }
}

}  // namespace
