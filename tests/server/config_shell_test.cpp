// Configuration endpoints and the terminal session end to end: the real
// binary starts a session process, "/load_config" configures a local shell
// on a real pseudo-terminal, WebSocket browsers written here receive the
// shell's screen, settings read back, secrets stay out of the log, the
// session ends with its last browser once the host is gone, and a browser
// that stops reading cannot make the session grow.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <thread>

#include "emulation_ids.h"
#include "kvx_screen.h"
#include "kvx_test.h"

using namespace kvxtest;
namespace fs = std::filesystem;

namespace {

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

struct Session {
  std::string id;
  int port = 0;
};

Session NewSession(int serverPort) {
  HttpResponse r = PostJson(serverPort, "/new_session", "{\"deviceId\":\"dev-test\"}");
  return {JsonText(r.body, "content.sessionId"), JsonInt(r.body, "content.port", 0)};
}

HttpResponse Post(int serverPort, const std::string& path, const Session& s, const std::string& body) {
  return PostJson(serverPort, path + "?session=" + s.id, body);
}

std::string ShellConfig(int rows, int cols, const std::string& extra = "", bool connect = true) {
  return "{\"kcf\":{\"commtype\":7,\"lines\":" + std::to_string(rows) + ",\"col\":" + std::to_string(cols) +
         ",\"emulate\":" + std::to_string(KVX_EM_XTERM) +
         ",\"teltermtype\":\"xterm-color\",\"MBMode\":1,\"clearEmulator\":1" + extra +
         "},\"connectToHost\":" + (connect ? "true" : "false") + "}";
}

// Applies frames until `done` holds; false on timeout or a malformed frame.
bool Pump(WsClient& ws, ScreenModel& screen, const std::function<bool()>& done, double seconds = 30) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    double left = std::chrono::duration<double>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    auto f = ReceiveChannelFrame(ws, left);
    if (!f) return false;
    if (!screen.Apply(*f)) return false;
  }
  return true;
}

long RssKiB(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

TEST(ConfigShell, PromptReachesBrowsersSettingsReadBackAndSessionEndsWithLastBrowser) {
  TestHome home;
  ServerOptions options;
  options.home = home.dir;
  KavrixServer server(options);
  Session s = NewSession(server.port());
  ASSERT_GT(s.port, 0);
  int child = server.ChildPid(s.port);
  ASSERT_GT(child, 0);

  // Before any configuration there is nothing to read.
  HttpResponse none = Post(server.port(), "/get_config_values", s, "[\"lines\"]");
  EXPECT_EQ(none.status, 500);
  EXPECT_EQ(EnvelopeCode(none.body), 11) << none.body;

  // No browser yet: the configuration is kept and the connect waits.
  HttpResponse load = Post(server.port(), "/load_config", s, ShellConfig(30, 100));
  ASSERT_EQ(EnvelopeCode(load.body), 0) << load.body;
  HttpResponse values =
      Post(server.port(), "/get_config_values", s, "[\"lines\", 5, \"col\", \"teltermtype\", \"unset\"]");
  EXPECT_EQ(values.body,
            "{\"code\":0,\"content\":{\"col\":\"100\",\"lines\":\"30\",\"teltermtype\":\"xterm-color\","
            "\"unset\":\"\"},\"message\":\"success\"}");

  // The first browser starts the connect and sees the shell's prompt.
  WsClient first;
  ASSERT_EQ(first.Handshake(s.port).status, 101);
  ScreenModel screen(30, 100);
  ASSERT_TRUE(Pump(first, screen, [&] { return screen.connected == 1; })) << screen.error;
  ASSERT_TRUE(Pump(first, screen, [&] { return screen.Find("kvx$") >= 0 && screen.cursors > 0; }))
      << screen.error << "\n"
      << screen.Text();
  int promptRow = screen.Find("kvx$");
  EXPECT_EQ(screen.Row(promptRow), "kvx$");
  EXPECT_EQ(screen.cursorX, 5);
  EXPECT_EQ(screen.cursorY, promptRow);
  EXPECT_TRUE(screen.cursorVisible);
  // Every cell carries its Unicode value.
  EXPECT_EQ(screen.Cell(0, promptRow) >> 63, 1u);
  EXPECT_EQ((screen.Cell(0, promptRow) >> 32) & 0x7FFFFFFF, static_cast<uint64_t>('k'));

  // A second browser hears that the host is connected, then nothing until it
  // asks for the screen.
  WsClient second;
  ASSERT_EQ(second.Handshake(s.port).status, 101);
  auto hello = ReceiveChannelFrame(second, 30);
  ASSERT_TRUE(hello);
  EXPECT_EQ(hello->action, KVX_HOST_ACTION_CONNECTED);
  EXPECT_EQ(hello->fields, std::vector<std::string>{"1"});
  EXPECT_FALSE(ReceiveChannelFrame(second, 1.5)) << "a new browser got more than the connected state";
  ASSERT_TRUE(second.Send(2, ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {})));
  ScreenModel copy(30, 100);
  ASSERT_TRUE(Pump(second, copy, [&] { return copy.updates > 0; })) << copy.error;
  EXPECT_EQ(copy.lastHeader, "0:29:99:0");
  EXPECT_EQ(copy.cursors, 1);
  EXPECT_EQ(copy.Text(), screen.Text());
  EXPECT_EQ(copy.cursorX, 5);

  // While connected a new configuration changes only the running session's
  // safe values; the connection's dictionary stays.
  load = Post(server.port(), "/load_config", s, ShellConfig(30, 100, ",\"node\":\"elsewhere\""));
  ASSERT_EQ(EnvelopeCode(load.body), 0) << load.body;
  values = Post(server.port(), "/get_config_values", s, "[\"node\"]");
  EXPECT_EQ(JsonText(values.body, "content.node"), "");

  // Disconnecting tells the browsers; with the host gone the session ends
  // when its last browser leaves.
  load = Post(server.port(), "/load_config", s,
              "{\"kcf\":{\"commtype\":7},\"disconnectFromHost\":true,\"connectToHost\":false}");
  ASSERT_EQ(EnvelopeCode(load.body), 0) << load.body;
  ASSERT_TRUE(Pump(first, screen, [&] { return screen.connected == 0; })) << screen.error;
  first.conn.Close();
  EXPECT_TRUE(ProcessAlive(child));
  second.conn.Close();
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(child); }, 30));
  EXPECT_TRUE(server.WaitForOutput("Child process [" + std::to_string(child) + "] stopped"));
  // Each leaving browser is named by the address it came from.
  const std::regex lost("\\[" + std::to_string(child) +
                        "\\] - Lost connection \\[\\d+\\], SRC \\[127\\.0\\.0\\.1:[1-9]\\d*\\]");
  const std::string log = server.err() + server.out();
  EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), lost), std::sregex_iterator()), 2)
      << log;
}

// The shell of a session that is shut down while connected does not outlive
// it, even one that ignores the hang-up and never reads its terminal.
// A setting whose emulation is not available leaves the session on the one
// that runs: the browsers are told, a browser that comes later too, and the
// host is given the terminal name of the emulation that runs.
TEST(ConfigShell, UnavailableEmulationIsNoticedAndTheRunningOneAnnounced) {
  TestHome home;
  ServerOptions options;
  options.home = home.dir;
  KavrixServer server(options);
  Session s = NewSession(server.port());
  ASSERT_GT(s.port, 0);
  const std::string config =
      "{\"kcf\":{\"commtype\":7,\"lines\":24,\"col\":80,\"emulate\":42,\"MBMode\":1},\"connectToHost\":true}";
  ASSERT_EQ(EnvelopeCode(Post(server.port(), "/load_config", s, config).body), 0);
  const std::vector<std::string> expected = {
      "emulation", "Emulation setting 42 is not available here; the session runs ANSI."};

  // Frames until `done`, keeping the last notice.
  auto pump = [](WsClient& ws, ScreenModel& screen, std::vector<std::string>& notice,
                 const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
      double left = std::chrono::duration<double>(end - std::chrono::steady_clock::now()).count();
      auto f = left > 0 ? ReceiveChannelFrame(ws, left) : std::nullopt;
      if (!f || !screen.Apply(*f)) return false;
      if (f->action == KVX_HOST_ACTION_NOTICE) notice = f->fields;
    }
    return true;
  };
  WsClient first;
  ASSERT_EQ(first.Handshake(s.port).status, 101);
  ScreenModel screen(24, 80);
  std::vector<std::string> notice;
  ASSERT_TRUE(pump(first, screen, notice, [&] { return !notice.empty() && screen.Find("kvx$") >= 0; }))
      << screen.error << "\n"
      << screen.Text();
  EXPECT_EQ(notice, expected);
  for (char c : std::string("echo term=$TERM\r"))
    ASSERT_TRUE(
        first.Send(2, ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, std::string(1, c) + std::string(3, '\0'))));
  EXPECT_TRUE(pump(first, screen, notice, [&] { return screen.Find("term=ansi") >= 0; })) << screen.Text();

  WsClient later;
  ASSERT_EQ(later.Handshake(s.port).status, 101);
  ScreenModel other(24, 80);
  std::vector<std::string> told;
  EXPECT_TRUE(pump(later, other, told, [&] { return !told.empty(); }));
  EXPECT_EQ(told, expected);
}

TEST(ConfigShell, ShutdownTakesTheShellAlong) {
  TestHome home("exec sh -c 'trap \"\" HUP; echo kvx\\$; while :; do sleep 1; done'\n");
  ServerOptions options;
  options.home = home.dir;
  KavrixServer server(options);
  Session s = NewSession(server.port());
  ASSERT_GT(s.port, 0);
  int child = server.ChildPid(s.port);
  ASSERT_EQ(EnvelopeCode(Post(server.port(), "/load_config", s, ShellConfig(24, 80)).body), 0);
  WsClient ws;
  ASSERT_EQ(ws.Handshake(s.port).status, 101);
  ScreenModel screen(24, 80);
  ASSERT_TRUE(Pump(ws, screen, [&] { return screen.Find("kvx$") >= 0; })) << screen.error;
  std::string path = "/proc/" + std::to_string(child) + "/task/" + std::to_string(child) + "/children";
  int shell = 0;
  std::ifstream(path) >> shell;
  ASSERT_GT(shell, 0);
  ASSERT_TRUE(ProcessAlive(shell));
  EXPECT_EQ(EnvelopeCode(Post(server.port(), "/shutdown_session", s, "{}").body), 0);
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(child); }, 30));
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(shell); }, 30)) << "the shell outlived its session";
}

// A browser may leave while the host is connected and come back later; once
// the host has gone too, the session waits for a browser as long as a new
// one does, then ends instead of lingering.
TEST(ConfigShell, SessionWhoseHostEndsWithNoBrowserAttachedEndsAfterTheAttachDeadline) {
  TestHome home;
  ServerOptions options;
  options.home = home.dir;
  KavrixServer server(options);
  Session s = NewSession(server.port());
  ASSERT_GT(s.port, 0);
  int child = server.ChildPid(s.port);
  ASSERT_GT(child, 0);
  ASSERT_EQ(EnvelopeCode(Post(server.port(), "/load_config", s, ShellConfig(24, 80)).body), 0);
  int shell = 0;
  {
    WsClient ws;
    ASSERT_EQ(ws.Handshake(s.port).status, 101);
    ScreenModel screen(24, 80);
    ASSERT_TRUE(Pump(ws, screen, [&] { return screen.Find("kvx$") >= 0; })) << screen.error;
    std::ifstream("/proc/" + std::to_string(child) + "/task/" + std::to_string(child) + "/children") >> shell;
    ASSERT_GT(shell, 0);
    ws.conn.Close();
  }
  ASSERT_TRUE(
      WaitFor([&] { return (server.err() + server.out()).find("Lost connection") != std::string::npos; }));
  EXPECT_TRUE(ProcessAlive(child)) << "the host is still connected";
  kill(shell, SIGKILL);
  ASSERT_TRUE(WaitFor([&] { return !ProcessAlive(shell); }, 30));
  sleep(2);
  EXPECT_TRUE(ProcessAlive(child)) << "a browser must have time to come back";
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(child); }, 120));
  EXPECT_TRUE(WaitFor([&] {
    return (server.err() + server.out())
               .find("No browser attached within 60 seconds, ending the session.\n") != std::string::npos;
  }));
}

// Keys the session has no row for (a made-up one, a browser preference, a
// member beyond a family) are kept as they are and read back, as any key.
TEST(ConfigShell, KeysTheSessionDoesNotKnowAreKeptAndReadBack) {
  KavrixServer server;
  Session s = NewSession(server.port());
  ASSERT_GT(s.port, 0);
  HttpResponse load = Post(server.port(), "/load_config", s,
                           "{\"kcf\":{\"commtype\":7,\"madeUpKey\":\"kept\",\"fontSize\":12,"
                           "\"RGBMap30\":\"FF0000\"},\"connectToHost\":false}");
  ASSERT_EQ(EnvelopeCode(load.body), 0) << load.body;
  HttpResponse values = Post(server.port(), "/get_config_values", s,
                             "[\"madeUpKey\", \"MADEUPKEY\", \"fontSize\", \"RGBMap30\", \"commtype\"]");
  ASSERT_EQ(EnvelopeCode(values.body), 0) << values.body;
  EXPECT_EQ(JsonText(values.body, "content.madeUpKey"), "kept");
  EXPECT_EQ(JsonText(values.body, "content.MADEUPKEY"), "kept");
  EXPECT_EQ(JsonText(values.body, "content.fontSize"), "12");
  EXPECT_EQ(JsonText(values.body, "content.RGBMap30"), "FF0000");
  EXPECT_EQ(JsonText(values.body, "content.commtype"), "7");
}

TEST(ConfigShell, RefusedRequests) {
  KavrixServer server;
  Session s = NewSession(server.port());
  ASSERT_GT(s.port, 0);
  struct Case {
    const char* path;
    const char* body;
    int code;
    const char* message;
  } cases[] = {
      {"/load_config", "[1,2]", 9, "associative array"},
      {"/load_config", "{\"connectToHost\":true}", 10, "kcf property"},
      {"/load_config", "{\"kcf\":[1]}", 9, "kcf property as associative array"},
      {"/load_config", "{\"kcf\":", 3, ""},
      {"/get_config_values", "{\"lines\":1}", 9, "array of strings"},
  };
  for (const Case& c : cases) {
    HttpResponse r = Post(server.port(), c.path, s, c.body);
    EXPECT_EQ(EnvelopeCode(r.body), c.code) << c.path << " " << c.body << " -> " << r.body;
    EXPECT_NE(JsonText(r.body, "message").find(c.message), std::string::npos) << r.body;
  }
  // A refused body left no configuration behind.
  EXPECT_EQ(EnvelopeCode(Post(server.port(), "/get_config_values", s, "[\"lines\"]").body), 11);
  // The server role insists on JSON before relaying.
  HttpResponse plain = HttpRequest(server.port(), "POST", "/load_config?session=" + s.id, "{}",
                                   {{"Content-Type", "text/plain"}});
  EXPECT_EQ(EnvelopeCode(plain.body), 2) << plain.body;
}

TEST(ConfigShell, SecretsBecomeTokensAndStayOutOfTheLog) {
  KavrixServer server;
  Session s = NewSession(server.port());
  ASSERT_GT(s.port, 0);
  const std::string body =
      "{\"kcf\":{\"node\":\"host.example\",\"passwordHash\":\"pw\",\"password\":\"hunter2\","
      "\"sshPassphrase\":\"open-sesame\",\"SSLPRIVATEKEYPASSWORD\":\"loud-secret\",\"secureKeys\":{\"pw\":"
      "\"s3cr3t-value\",\"other\":\"zebra-42\"}},"
      "\"connectToHost\":false}";
  HttpResponse r = Post(server.port(), "/load_config", s, body);
  ASSERT_EQ(EnvelopeCode(r.body), 0) << r.body;
  HttpResponse values = Post(server.port(), "/get_config_values", s, "[\"passwordHash\", \"node\"]");
  std::string token = JsonText(values.body, "content.passwordHash");
  EXPECT_FALSE(token.empty());
  EXPECT_NE(token, "pw");
  EXPECT_EQ(token.find("s3cr3t"), std::string::npos) << "the token gives the secret away";
  EXPECT_EQ(JsonText(values.body, "content.node"), "host.example");

  // The same name later gets a new secret: a new token.
  r = Post(server.port(), "/load_config", s,
           "{\"kcf\":{\"passwordHash\":\"pw\",\"secureKeys\":{\"pw\":\"another-one\"}}}");
  ASSERT_EQ(EnvelopeCode(r.body), 0) << r.body;
  values = Post(server.port(), "/get_config_values", s, "[\"passwordHash\"]");
  EXPECT_NE(JsonText(values.body, "content.passwordHash"), token);

  // The request was logged, without a single secret in it; an unparsable
  // body that names secrets is not shown at all.
  r = Post(server.port(), "/load_config", s, "{\"kcf\":{\"password\":\"broken-secret\"");
  EXPECT_EQ(EnvelopeCode(r.body), 3);
  ASSERT_TRUE(server.WaitForOutput("host.example"));
  std::string log = server.err();
  EXPECT_NE(log.find("\"secureKeys\":\"***\""), std::string::npos) << log;  // the whole map masked
  EXPECT_NE(log.find("\"***\""), std::string::npos) << log;
  for (const char* secret :
       {"hunter2", "open-sesame", "loud-secret", "s3cr3t-value", "zebra-42", "another-one", "broken-secret"})
    EXPECT_EQ(log.find(secret), std::string::npos) << secret << " appears in the log:\n" << log;
}

// A browser that stops reading while the host streams: the session stops
// queueing updates for it and, with no other browser, stops reading the
// host; once it reads again it gets the cursor and the whole screen.
TEST(ConfigShell, BrowserThatStopsReadingDoesNotGrowTheSession) {
  TestHome home(
      "if [ -f ~/stream ]; then rm -f ~/stream; i=0; line=$(printf '\\e[3%dmcolumns%.0s' 1 2 3 4 5 6 7 8 9 "
      "10 11 "
      "12); while :; do i=$((i+1)); printf '%s %d\\n' \"$line\" $i; done; fi\n");
  std::ofstream(home.dir + "/stream") << "";
  ServerOptions options;
  options.home = home.dir;
  KavrixServer server(options);
  Session s = NewSession(server.port());
  ASSERT_GT(s.port, 0);
  int child = server.ChildPid(s.port);
  ASSERT_EQ(EnvelopeCode(Post(server.port(), "/load_config", s, ShellConfig(250, 132)).body), 0);

  WsClient ws;
  ASSERT_EQ(ws.Handshake(s.port).status, 101);
  // Never reads for a while: without a limit every update would pile up in
  // the session process (about a quarter of a megabyte each, ten a second).
  long peak = 0;
  for (int i = 0; i < 25; i++) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    peak = std::max(peak, RssKiB(child));
  }
  EXPECT_GT(peak, 0);
  EXPECT_LT(peak, 48 * 1024) << "session process grew to " << peak << " KiB";

  // Reading again: the owed cursor and whole screen arrive, then updates go on.
  ScreenModel screen(250, 132);
  bool sawWhole = false;
  ASSERT_TRUE(Pump(
      ws, screen,
      [&] {
        if (screen.lastHeader == "0:249:131:0" && screen.cursors > 0) sawWhole = true;
        return sawWhole;
      },
      120))
      << screen.error;
  int before = screen.updates;
  ASSERT_TRUE(Pump(
      ws, screen, [&] { return screen.updates > before + 3; }, 60))
      << screen.error;
  EXPECT_NE(screen.Find("columns"), -1);
}

}  // namespace
