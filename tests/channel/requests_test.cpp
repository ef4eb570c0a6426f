// Client requests end to end: the real binary with a real shell on a
// pseudo-terminal and WebSocket browsers written here.  Keys typed as key
// frames reach the shell (ASCII, UTF-8, control keys, cursor keys), broken
// key frames are ignored, a refresh answers only the browser that asked, a
// reconnect without settings does nothing, and a failed connect is shown to
// every browser as an error that one of them acknowledges.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "emulation_ids.h"
#include "kvx_screen.h"
#include "kvx_test.h"

using namespace kvxtest;

namespace {

// A HOME whose interactive bash shows the prompt "kvx$ ".
struct TestHome {
  std::string dir;
  TestHome() {
    char tmpl[] = "/tmp/kvxkeys.XXXXXX";
    dir = mkdtemp(tmpl);
    // The session passes on no locale: the shell is given a UTF-8 one so
    // that its line editor takes characters beyond ASCII as they come.
    std::ofstream(dir + "/.bashrc") << "export LC_ALL=C.UTF-8\nPS1='kvx$ '\nunset PROMPT_COMMAND\n";
  }
  ~TestHome() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

struct Session {
  std::string id;
  int port = 0;
};

Session NewSession(int serverPort) {
  HttpResponse r = PostJson(serverPort, "/new_session", "{\"deviceId\":\"dev-keys\"}");
  return {JsonText(r.body, "content.sessionId"), JsonInt(r.body, "content.port", 0)};
}

int LoadConfig(int serverPort, const Session& s, const std::string& body) {
  return EnvelopeCode(PostJson(serverPort, "/load_config?session=" + s.id, body).body);
}

const std::string kShell =
    "{\"kcf\":{\"commtype\":7,\"lines\":24,\"col\":80,\"emulate\":" + std::to_string(KVX_EM_XTERM) +
    ",\"teltermtype\":\"xterm-color\","
    "\"MBMode\":1,\"clearEmulator\":1},\"connectToHost\":true}";

std::string KeyFrame(int key) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; i++) data[static_cast<size_t>(i)] = static_cast<char>((key >> (8 * i)) & 0xFF);
  return ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, data);
}

// Private-use code points of terminal keys, as the page sends them.
constexpr int kUp = 0xE000 + (276 - 256);

// Sends a text as keys, one frame per character (UTF-8 decoded).
bool Type(WsClient& ws, const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int cp = c, n = 1;
    if (c >= 0xF0) {
      cp = c & 0x07, n = 4;
    } else if (c >= 0xE0) {
      cp = c & 0x0F, n = 3;
    } else if (c >= 0xC0) {
      cp = c & 0x1F, n = 2;
    }
    for (int k = 1; k < n; k++) cp = cp << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    if (!ws.Send(2, KeyFrame(cp))) return false;
    i += static_cast<size_t>(n);
  }
  return true;
}

bool Pump(WsClient& ws, ScreenModel& screen, const std::function<bool()>& done, double seconds = 30) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    double left = std::chrono::duration<double>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    auto f = ReceiveChannelFrame(ws, left);
    if (!f || !screen.Apply(*f)) return false;
  }
  return true;
}

// A loopback port that nothing listens on.
int ClosedPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

class Requests : public testing::Test {
 protected:
  void SetUp() override {
    ServerOptions options;
    options.home = home.dir;
    server = std::make_unique<KavrixServer>(options);
    session = NewSession(server->port());
    ASSERT_GT(session.port, 0);
  }
  // A browser attached to a shell session, its prompt on the screen.
  void StartShell(WsClient& ws, ScreenModel& screen) {
    ASSERT_EQ(LoadConfig(server->port(), session, kShell), 0);
    ASSERT_EQ(ws.Handshake(session.port).status, 101);
    ASSERT_TRUE(Pump(ws, screen, [&] { return screen.Find("kvx$") >= 0 && screen.cursorX == 5; }))
        << screen.error << screen.Text();
  }

  TestHome home;
  std::unique_ptr<KavrixServer> server;
  Session session;
};

TEST_F(Requests, KeysReachTheShell) {
  WsClient ws;
  ScreenModel screen(24, 80);
  StartShell(ws, screen);

  ASSERT_TRUE(Type(ws, "echo kavrix-$((6*7))\r"));
  ASSERT_TRUE(Pump(ws, screen, [&] { return screen.Find("kavrix-42") > screen.Find("echo kavrix"); }))
      << screen.Text();

  // A character beyond ASCII goes as UTF-8; Up recalls the line.
  ASSERT_TRUE(Type(ws, "printf %s \xC3\xA9 | od -An -tx1\r"));
  ASSERT_TRUE(Pump(ws, screen, [&] { return screen.Find(" c3 a9") >= 0; })) << screen.Text();
  ASSERT_TRUE(ws.Send(2, KeyFrame(kUp)));
  ASSERT_TRUE(ws.Send(2, KeyFrame(kUp)));
  ASSERT_TRUE(ws.Send(2, KeyFrame('\r')));
  ASSERT_TRUE(Pump(ws, screen, [&] {
    int first = screen.Find("kavrix-42");
    for (int y = first + 1; y < 24; y++)
      if (screen.Row(y) == "kavrix-42") return true;
    return false;
  })) << screen.Text();

  // Ctrl+C interrupts a command.
  ASSERT_TRUE(Type(ws, "sh -c 'echo sleep-$((1+1)); exec sleep 30'; echo not-$((2+3))\r"));
  ASSERT_TRUE(Pump(ws, screen, [&] { return screen.Find("sleep-2") > screen.Find("exec sleep"); }));
  ASSERT_TRUE(ws.Send(2, KeyFrame(3)));
  ASSERT_TRUE(Type(ws, "echo after-$((1+1))\r"));
  ASSERT_TRUE(Pump(ws, screen, [&] { return screen.Find("after-2") > screen.Find("echo after"); }))
      << screen.Text();
  EXPECT_LT(screen.Find("not-5"), 0) << screen.Text();
}

TEST_F(Requests, BrokenKeyFramesAreIgnored) {
  WsClient ws;
  ScreenModel screen(24, 80);
  StartShell(ws, screen);
  ASSERT_TRUE(ws.Send(2, ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, std::string("A\0\0", 3))));
  ASSERT_TRUE(ws.Send(2, ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, std::string("B\0\0\0\0\0\0\0", 8))));
  ASSERT_TRUE(ws.Send(2, ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {})));
  ASSERT_TRUE(ws.Send(2, KeyFrame(0x10043)));  // 'C' beyond the key space
  ASSERT_TRUE(ws.Send(2, KeyFrame(-0x44)));
  ASSERT_TRUE(ws.Send(2, KeyFrame(0xE000 + 200)));  // a session function: no string
  ASSERT_TRUE(Type(ws, "echo ok\r"));
  ASSERT_TRUE(Pump(ws, screen, [&] { return screen.Find("kvx$ echo ok") >= 0 && screen.Find("ok") >= 0; }))
      << screen.Text();
  int typed = screen.Find("kvx$ echo ok");
  EXPECT_EQ(screen.Row(typed), "kvx$ echo ok");
  ASSERT_TRUE(Pump(ws, screen, [&] { return screen.Row(typed + 1) == "ok"; })) << screen.Text();
}

TEST_F(Requests, RefreshAnswersOnlyTheBrowserThatAsked) {
  WsClient a, b;
  ScreenModel screenA(24, 80), screenB(24, 80);
  StartShell(a, screenA);
  ASSERT_EQ(b.Handshake(session.port).status, 101);
  ASSERT_TRUE(Pump(b, screenB, [&] { return screenB.connected == 1; }));
  ASSERT_TRUE(b.Send(2, ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {})));
  ASSERT_TRUE(Pump(b, screenB, [&] { return screenB.updates > 0; }));
  ASSERT_EQ(screenB.Text(), screenA.Text());

  // Echoes go to both.
  ASSERT_TRUE(Type(a, "echo both\r"));
  ASSERT_TRUE(Pump(a, screenA, [&] { return screenA.Find("kvx$ echo both") >= 0 && screenA.cursorY > 1; }));
  ASSERT_TRUE(Pump(b, screenB, [&] { return screenB.Text() == screenA.Text(); }));
  // Let the shell settle: nothing more arrives for a while.
  while (ReceiveChannelFrame(b, 1.0)) {
  }
  while (auto f = ReceiveChannelFrame(a, 0.2)) screenA.Apply(*f);

  int before = screenA.updates;
  ASSERT_TRUE(a.Send(2, ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {})));
  ASSERT_TRUE(Pump(a, screenA, [&] { return screenA.updates > before; }));
  EXPECT_EQ(screenA.lastHeader, "0:23:79:0");
  EXPECT_FALSE(ReceiveChannelFrame(b, 1.5)) << "the other browser received the refresh";
}

// Frames of one browser, encoded again, until `done` holds for the screen
// they build and then nothing more comes for a second.
std::vector<std::string> FramesUntil(WsClient& ws, ScreenModel& screen,
                                     const std::function<bool(const ChannelFrame&)>& done) {
  std::vector<std::string> frames;
  bool met = false;
  while (auto f = ReceiveChannelFrame(ws, met ? 1.0 : 30)) {
    if (!screen.Apply(*f)) break;
    frames.push_back(ChannelEncode(f->action, f->fields, f->data));
    met = met || done(*f);
  }
  if (!met) frames.push_back("(never done)");
  return frames;
}

// A browser that names capabilities this session does not know (a newer
// page's, and an empty name) gets exactly the frames of a browser that
// names none: when it attaches and asks for the screen and its view, and
// as the screen changes afterwards.
TEST_F(Requests, UnknownCapabilitiesChangeNoFrame) {
  WsClient typist;
  ScreenModel typed(24, 80);
  StartShell(typist, typed);
  while (auto f = ReceiveChannelFrame(typist, 1.0)) typed.Apply(*f);

  WsClient plain, naming;
  ScreenModel plainScreen(24, 80), namingScreen(24, 80);
  ASSERT_EQ(plain.Handshake(session.port).status, 101);
  ASSERT_EQ(naming.Handshake(session.port).status, 101);
  ASSERT_TRUE(naming.Send(
      2, ChannelEncode(KVX_CLIENT_ACTION_CAPABILITIES, {"no-such-capability", "colour-forms-v9", ""})));
  for (WsClient* ws : {&plain, &naming}) {
    ASSERT_TRUE(ws->Send(2, ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {})));
    ASSERT_TRUE(ws->Send(2, ChannelEncode(KVX_CLIENT_ACTION_SCROLLBACK, {"0"})));
  }
  auto toldView = [](const ChannelFrame& f) { return f.action == KVX_HOST_ACTION_SCROLLBACK; };
  const std::vector<std::string> plainFrames = FramesUntil(plain, plainScreen, toldView);
  EXPECT_GT(plainScreen.updates, 0);
  EXPECT_GE(plainScreen.Find("kvx$"), 0) << plainScreen.Text();
  EXPECT_EQ(FramesUntil(naming, namingScreen, toldView), plainFrames);

  ASSERT_TRUE(Type(typist, "echo caps-$((6*7))\r"));
  auto answered = [](ScreenModel& screen) {
    return [&screen](const ChannelFrame&) {
      const int row = screen.Find("caps-42");
      return row >= 0 && screen.Row(row + 1) == "kvx$" && screen.cursorX == 5;
    };
  };
  const std::vector<std::string> plainAfter = FramesUntil(plain, plainScreen, answered(plainScreen));
  EXPECT_EQ(FramesUntil(naming, namingScreen, answered(namingScreen)), plainAfter);
  EXPECT_EQ(namingScreen.Text(), plainScreen.Text());
}

TEST_F(Requests, ReconnectWithoutSettingsDoesNothing) {
  WsClient ws;
  ASSERT_EQ(ws.Handshake(session.port).status, 101);
  ASSERT_TRUE(ws.Send(2, ChannelEncode(KVX_CLIENT_ACTION_CONNECT_HOST, {})));
  EXPECT_FALSE(ReceiveChannelFrame(ws, 1.5)) << "a connect without settings answered";
  ASSERT_TRUE(ws.Send(2, ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {})));
  ScreenModel screen(25, 80);
  ASSERT_TRUE(Pump(ws, screen, [&] { return screen.updates > 0; })) << screen.error;
  EXPECT_EQ(screen.connected, -1);
}

TEST_F(Requests, FailedConnectIsShownToEveryBrowserAndOneAcknowledges) {
  WsClient a, b;
  ASSERT_EQ(a.Handshake(session.port).status, 101);
  ASSERT_EQ(b.Handshake(session.port).status, 101);
  // Both are attached before the connect starts (the answer to the post may
  // wait for the acknowledgement).
  ASSERT_TRUE(WaitFor([&] {
    a.Send(2, ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {}));
    return ReceiveChannelFrame(a, 1).has_value();
  }));
  ASSERT_TRUE(b.Send(2, ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {})));
  ASSERT_TRUE(ReceiveChannelFrame(b, 30));
  const std::string telnet =
      "{\"kcf\":{\"commtype\":1,\"node\":\"127.0.0.1\",\"port\":" + std::to_string(ClosedPort()) +
      "},\"connectToHost\":true}";
  int posted = -1;
  std::thread post([&] { posted = LoadConfig(server->port(), session, telnet); });

  auto nextPrompt = [](WsClient& ws) -> std::optional<ChannelFrame> {
    while (auto f = ReceiveChannelFrame(ws, 30))
      if (f->action == KVX_HOST_ACTION_SHOW_FATAL_ERROR) return f;
    return std::nullopt;
  };
  auto shownA = nextPrompt(a);
  auto shownB = nextPrompt(b);
  ASSERT_TRUE(shownA && shownB);
  EXPECT_EQ(shownA->fields, (std::vector<std::string>{"1", "Connection to 127.0.0.1 failed"}));
  EXPECT_EQ(shownB->fields, shownA->fields);
  ASSERT_TRUE(b.Send(2, ChannelEncode(KVX_CLIENT_ACTION_ACK_FATAL_ERROR, {})));
  // The session goes on: both hear that no host is connected; the other
  // browser's late acknowledgement changes nothing.
  for (WsClient* ws : {&a, &b}) {
    ScreenModel screen(25, 80);
    ASSERT_TRUE(Pump(*ws, screen, [&] { return screen.connected == 0; }));
  }
  post.join();
  EXPECT_EQ(posted, 0);
  ASSERT_TRUE(a.Send(2, ChannelEncode(KVX_CLIENT_ACTION_ACK_FATAL_ERROR, {})));
  ASSERT_TRUE(a.Send(2, ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {})));
  ScreenModel screen(25, 80);
  ASSERT_TRUE(Pump(a, screen, [&] { return screen.updates > 0; }));
}

}  // namespace
