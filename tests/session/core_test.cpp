// The session core with a scripted connection: output holding by full
// reads and its release by the update timer, the answer-back, border
// processing, disconnect messages and the stale-connection slot, the connect
// timeout, half-duplex echo, titles, the re-entry guards and the cap on one
// host-data pass.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app.h"
#include "emulation.h"
#include "lumconnection.h"
#include "lumdict.h"
#include "platform.h"
#include "te/te.h"

namespace {

class FakeConnection : public LumConnection {
 public:
  using LumConnection::Comout;
  std::deque<std::string> reads;  // each Read hands out the front chunk; "<errno N>" fails with N
  std::string written;
  std::vector<std::pair<bool, std::string>> errors;
  std::function<void()> onRead;
  bool connected = true;
  int readCalls = 0;
  int continueResult = LUM_CONNECT_PENDING;
  bool* destroyed = nullptr;

  ~FakeConnection() override {
    if (destroyed) *destroyed = true;
  }
  int MakeConnection() override { return LUM_CONNECT_PENDING; }
  int ContinueConnection() override { return continueResult; }
  bool IsConnected() override { return connected; }
  void Disconnect() override { connected = false; }
  void Comout(const char* bytes, int length) override { written.append(bytes, static_cast<size_t>(length)); }
  void ShowError(bool fatal, const char* format, ...) override {
    char text[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    errors.emplace_back(fatal, text);
  }
  int Read(char* buffer, int size) override {
    readCalls++;
    if (onRead) onRead();
    if (reads.empty()) return 0;
    std::string& chunk = reads.front();
    int err = 0;
    if (sscanf(chunk.c_str(), "<errno %d>", &err) == 1) {
      reads.pop_front();
      errno = err;
      return -1;
    }
    int n = std::min<int>(size, static_cast<int>(chunk.size()));
    memcpy(buffer, chunk.data(), static_cast<size_t>(n));
    chunk.erase(0, static_cast<size_t>(n));
    if (chunk.empty()) reads.pop_front();
    return n;
  }
};

struct Sent {
  int regions = 0, screens = 0, cursors = 0;
  std::vector<bool> connected;
};
Sent* g_sent = nullptr;

class Core : public testing::Test {
 protected:
  void SetUp() override {
    app = app_main_initialize();
    set_app(app);
    g_sent = &sent;
    static const app_channel_ops ops = {[](app_s*, bool c) { g_sent->connected.push_back(c); },
                                        [](app_s*) { g_sent->regions++; },
                                        [](app_s*) { g_sent->screens++; },
                                        [](app_s*) { g_sent->cursors++; },
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    app_set_channel_ops(&ops);
    t = app->lpte;
    ASSERT_NE(t, nullptr);
    app_set_rowscols(app, 24, 80);
    app_clear_emulator(app);
    conn = new FakeConnection;
    conn->destroyed = &destroyed;
    app->_conn = conn;
    app->_readFD = 42;
  }
  void TearDown() override {
    app_set_channel_ops(nullptr);
    delete app->_conn;
    delete app->_staleConnection;
    delete app->_dict;
    if (!destroyed && conn && app->_conn != conn && app->_staleConnection != conn) delete conn;
    TEDestroy(app->lpte);
    winfreepgl(app->pgl);
    delete app;
    gApp = nullptr;
  }

  std::string Row(int y) {
    std::string s;
    for (int x = 0; x < t->vcols; x++) {
      CHATTR c = get_vscreen(t, x, y);
      uint32_t cp = ca_unicode(c);
      s.push_back(static_cast<char>(cp ? cp : (c & 0xFF)));
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == 0)) s.pop_back();
    return s;
  }
  void Feed(const std::string& bytes) {
    conn->reads.push_back(bytes);
    app_oncom(app, app->_readFD);
  }

  app_s* app = nullptr;
  te* t = nullptr;
  FakeConnection* conn = nullptr;
  bool destroyed = false;
  Sent sent;
};

TEST_F(Core, FullReadHoldsOutputUntilTheTickWhichSendsAndReadsOn) {
  Feed("hello");
  EXPECT_EQ(sent.regions, 1);
  EXPECT_EQ(sent.cursors, 1) << "the cursor goes with the update";
  EXPECT_FALSE(app_is_holding_data(app));

  Feed(std::string(kAppReadBlock, 'a'));
  EXPECT_EQ(sent.regions, 1) << "a full read must hold the update";
  EXPECT_EQ(sent.cursors, 1);
  EXPECT_TRUE(app_is_holding_data(app));

  conn->reads.push_back("XYZ");
  app_update_timer(app);
  EXPECT_EQ(sent.regions, 3) << "the tick sends what was held, then the new data";
  EXPECT_FALSE(app_is_holding_data(app));
  EXPECT_TRUE(conn->reads.empty());
  EXPECT_NE(Row(t->vdestline).find("XYZ"), std::string::npos);
  // The cursor fields follow the terminal again once output flows.
  EXPECT_EQ(t->xPOS, t->vdestcol);
  EXPECT_EQ(t->yPOS, t->vdestline);
}

TEST_F(Core, OutputHeldWhenTheHostEndsIsSentWithTheDisconnect) {
  // The host's last full read and its end in one pass, or a disconnect asked
  // for while output is held: the update timer stops with the connection, so
  // the disconnect itself must send what was held, before the browsers hear
  // that the host is gone.
  const std::function<void()> ends[] = {[&] {
                                          conn->reads.push_back(std::string(kAppReadBlock - 4, '.') + "last");
                                          conn->reads.push_back("<errno 5>");
                                          app_oncom(app, app->_readFD);
                                        },
                                        [&] {
                                          Feed(std::string(kAppReadBlock - 4, '.') + "last");
                                          ASSERT_TRUE(app_is_holding_data(app));
                                          ASSERT_EQ(sent.regions, 0);
                                          app_disconnect(app, 0);
                                        }};
  for (size_t i = 0; i < std::size(ends); i++) {
    SCOPED_TRACE(i);
    if (!app->_conn) {
      conn = new FakeConnection;
      app->_conn = conn;
      app->_readFD = 42;
    }
    app_clear_emulator(app);
    vscreen_invalidate(t);
    sent = Sent{};
    int regionsWhenDisconnected = -1;
    static int* s_regionsWhenDisconnected;
    s_regionsWhenDisconnected = &regionsWhenDisconnected;
    static const app_channel_ops ops = {[](app_s*, bool c) {
                                          g_sent->connected.push_back(c);
                                          if (!c) *s_regionsWhenDisconnected = g_sent->regions;
                                        },
                                        // Like the channel: a region is sent when there is one, and cleared.
                                        [](app_s* a) {
                                          if (a->lpte->vscreen_region.top < 0) return;
                                          g_sent->regions++;
                                          vscreen_invalidate(a->lpte);
                                        },
                                        [](app_s*) { g_sent->screens++; }, [](app_s*) { g_sent->cursors++; },
                                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    app_set_channel_ops(&ops);
    ends[i]();
    EXPECT_EQ(app->_conn, nullptr);
    EXPECT_FALSE(app_is_holding_data(app));
    EXPECT_EQ(sent.regions, 1);
    EXPECT_EQ(regionsWhenDisconnected, 1) << "the output goes before the news of the disconnect";
    EXPECT_NE(Row(t->vdestline).find("last"), std::string::npos);
    EXPECT_EQ(t->xPOS, t->vdestcol) << "the cursor fields follow the terminal again";
    delete app->_staleConnection;
    app->_staleConnection = nullptr;
  }
  conn = nullptr;
}

TEST_F(Core, OnePassTakesABoundedAmountAndLeavesTheRestForTheNext) {
  const size_t total = kAppPassBudget + 64 * kAppReadBlock;
  for (size_t n = 0; n < total; n += kAppReadBlock) conn->reads.push_back(std::string(kAppReadBlock, '.'));
  app_oncom(app, app->_readFD);
  EXPECT_EQ(static_cast<size_t>(conn->readCalls), kAppPassBudget / kAppReadBlock);
  EXPECT_EQ(conn->reads.size(), 64u);
  EXPECT_TRUE(app_is_holding_data(app));
  app_update_timer(app);
  EXPECT_TRUE(conn->reads.empty());
}

TEST_F(Core, AnswerBackGoesToTheHostInsteadOfTheScreen) {
  sl_wru(t, "ID42");
  Feed(
      "a\x05"
      "b\x05");
  EXPECT_EQ(conn->written, "ID42ID42");
  EXPECT_EQ(Row(0), "ab");
  // Without an answer-back text the byte is the emulation's.
  sl_wru(t, "");
  conn->written.clear();
  Feed("c\x05");
  EXPECT_EQ(conn->written, "");
}

TEST_F(Core, BorderDetectionTurnsStarDrawingsIntoLines) {
  app->borderDetect = 1;
  Feed("***\r\n* *\r\n***\r\n\r\n      *");
  auto code = [&](int x, int y) { return static_cast<unsigned>(get_vscreen(t, x, y) & 0xFFFF); };
  const unsigned expected[3][3] = {{0x12DA, 0x12C4, 0x12BF}, {0x12B3, ' ', 0x12B3}, {0x12C0, 0x12C4, 0x12D9}};
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 3; x++) EXPECT_EQ(code(x, y), expected[y][x]) << x << "," << y;
  EXPECT_EQ(code(6, 4), static_cast<unsigned>('*')) << "a lone star stays";

  app->borderDetect = 0;
  app_clear_emulator(app);
  Feed("**");
  EXPECT_EQ(code(0, 0), static_cast<unsigned>('*'));
}

TEST_F(Core, ReadErrorsDisconnectWithTheirMessageAndTheConnectionIsDestroyedOnTheNextTick) {
  struct Case {
    int err;
    const char* message;
  } cases[] = {
      {ECONNREFUSED, "Connection Refused"}, {ECONNRESET, "Connection Reset by Peer"}, {EIO, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    if (!app->_conn) {
      destroyed = false;
      conn = new FakeConnection;
      conn->destroyed = &destroyed;
      app->_conn = conn;
    }
    sent.connected.clear();
    Feed("<errno " + std::to_string(c.err) + ">");
    EXPECT_EQ(app->_conn, nullptr);
    EXPECT_EQ(app->_staleConnection, conn);
    EXPECT_FALSE(destroyed);
    if (c.message) {
      ASSERT_EQ(conn->errors.size(), 1u);
      EXPECT_FALSE(conn->errors[0].first) << "not fatal";
      EXPECT_EQ(conn->errors[0].second, c.message);
    } else {
      EXPECT_TRUE(conn->errors.empty());
    }
    EXPECT_EQ(app_current_title(), "Ostrovia - Disconnected");
    EXPECT_EQ(sent.connected, std::vector<bool>{false});
    app_update_timer(app);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(app->_staleConnection, nullptr);
  }
}

TEST_F(Core, PendingConnectIsPolledAndTimesOut) {
  app->_readFD = APP_FD_CONNECTING;
  app->_connectionStart = time(nullptr);
  app_update_timer(app);
  EXPECT_EQ(app->_conn, conn) << "still connecting";

  conn->continueResult = 9;
  app_update_timer(app);
  EXPECT_EQ(app->_readFD, 9);
  EXPECT_EQ(app_current_title(), "Ostrovia - Connected to None");
  EXPECT_EQ(sent.connected, std::vector<bool>{true});

  app->_readFD = APP_FD_CONNECTING;
  conn->continueResult = LUM_CONNECT_PENDING;
  app->_connectionStart = time(nullptr) - kAppConnectTimeout - 1;
  app_update_timer(app);
  ASSERT_EQ(conn->errors.size(), 1u);
  EXPECT_TRUE(conn->errors[0].first) << "fatal";
  EXPECT_EQ(conn->errors[0].second, "Connection timed out.");
  EXPECT_EQ(app->_conn, nullptr);
  EXPECT_EQ(app_current_title(), "Ostrovia - Disconnected");
}

TEST_F(Core, AConnectionWithoutADescriptorIsDisconnectedAtOnce) {
  app->_readFD = -1;
  app_connection_made(app);
  EXPECT_EQ(app->_conn, nullptr);
  EXPECT_EQ(app->_staleConnection, conn);
}

TEST_F(Core, HalfDuplexEchoesWhatIsSent) {
  t->dupmode = 1;
  app_bcomout(app, "hi", 2);
  app_comout(app, '!');
  EXPECT_EQ(conn->written, "hi!");
  EXPECT_EQ(Row(0), "hi!");
  EXPECT_GE(sent.regions, 1);
  t->dupmode = 0;
  app_bcomout(app, "xx", 2);
  EXPECT_EQ(conn->written, "hi!xx");
  EXPECT_EQ(Row(0), "hi!");
  // Not connected: nothing goes out, the echo still shows.
  conn->connected = false;
  t->dupmode = 1;
  app_bcomout(app, "yy", 2);
  EXPECT_EQ(conn->written, "hi!xx");
}

TEST_F(Core, TitlesNameTheHost) {
  _app_update_title(app);
  EXPECT_EQ(app_current_title(), "Ostrovia - Connected to None");
  app->_dict = new LumDict();
  app->_dict->setStringForKey("node", "mainframe.example");
  _app_update_title(app);
  EXPECT_EQ(app_current_title(), "Ostrovia - Connected to mainframe.example");
  app->_conntype = 7;
  _app_update_title(app);
  EXPECT_EQ(app_current_title(), "Ostrovia - Connected to Local Shell");
  // The host's own title wins while connected; the engine reports it too.
  Feed("\x1b]2;editor\x07");
  EXPECT_EQ(app_current_title(), "Ostrovia - editor");
  conn->connected = false;
  _app_update_title(app);
  EXPECT_EQ(app_current_title(), "Ostrovia - Disconnected");
}

TEST_F(Core, NestedCallsFromAPromptReturnAtOnce) {
  int nestedReads = -1;
  conn->onRead = [&] {
    if (nestedReads >= 0) return;
    int before = conn->readCalls;
    app_oncom(app, app->_readFD);
    app_update_timer(app);
    nestedReads = conn->readCalls - before;
  };
  app_set_holding_data(app, true);
  app->inUpdateTimer = false;
  Feed("abc");
  EXPECT_EQ(nestedReads, 0);
  EXPECT_EQ(Row(0), "abc");
}

TEST_F(Core, CloseOnDisconnectIsSetByTheSettingButNotDuringAConnect) {
  app->_dict = new LumDict();
  app->_dict->setBoolForKey("closedisc", true);
  EXPECT_TRUE(app_should_close_on_disconnect(app));
  app->inConnect = true;
  EXPECT_FALSE(app_should_close_on_disconnect(app));
  app->inConnect = false;
  app_disconnect(app, 0);
  EXPECT_TRUE(app->needToClose);
}

TEST_F(Core, PromptsNeverWaitWithoutABrowser) {
  std::string answer = conn->Entry("Password", true, "", "for %s", "user");
  EXPECT_EQ(answer, "");
  EXPECT_TRUE(conn->entryWasCanceled);
  EXPECT_FALSE(conn->entryWaiting);
  EXPECT_FALSE(conn->AlertYesNo("Host key", "Accept %d?", 1));
}

}  // namespace
