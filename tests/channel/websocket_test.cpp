// The browser channel through the real binary: the "/get_te_channel"
// handshake, WebSocket framing, control frames, limits per connection, the
// keep-alive ping and the end of a session when its last browser leaves.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>

#include "kvx_test.h"

using namespace kvxtest;

namespace {

// One server for the suite; every test gets a session process of its own.
class Channel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new KavrixServer(); }
  static void TearDownTestSuite() { delete server_; }
  void SetUp() override {
    HttpResponse r = PostJson(server_->port(), "/new_session", "{\"deviceId\":\"ws\"}");
    id_ = JsonText(r.body, "content.sessionId");
    port_ = JsonInt(r.body, "content.port", 0);
    ASSERT_GT(port_, 0) << r.body;
  }
  // Opens a teCtrl browser connection.
  void Attach(WsClient& ws, const std::string& protocol = "teCtrl") {
    HttpResponse r = ws.Handshake(port_, protocol);
    ASSERT_EQ(r.status, 101) << r.raw;
  }
  bool Listed() {
    return PostJson(server_->port(), "/list_sessions", "{\"deviceId\":\"ws\"}").body.find(id_) !=
           std::string::npos;
  }
  static KavrixServer* server_;
  std::string id_;
  int port_ = 0;
};
KavrixServer* Channel::server_ = nullptr;

TEST_F(Channel, Handshakes) {
  WsClient anchor;  // keeps the session alive while the cases come and go
  Attach(anchor);
  const std::string sample = "dGhlIHNhbXBsZSBub25jZQ==";
  struct Case {
    std::string upgrade, protocol, key;
    int status;
    std::string answer;  // selected protocol, or the 400 body
  };
  const Case cases[] = {
      {"websocket", "teCtrl", sample, 101, "teCtrl"},
      {"Websocket", "", sample, 101, "teCtrl"},
      {"websocket", "teCtrlRaw, teCtrl", sample, 101, "teCtrlRaw"},
      {"websocket", "teCtrl, teCtrlRaw", sample, 101, "teCtrl"},
      {"websocket", "teCtrlRaw teCtrl", sample, 101, "teCtrlRaw"},
      {"websocket", "teCtrl", "  \t" + sample, 101, "teCtrl"},
      {"WebSocket", "teCtrl", sample, 400, "Invalid request for WebSocket resource."},
      {"h2c", "teCtrl", sample, 400, "Invalid request for WebSocket resource."},
      {"websocket", "chat", sample, 400, "Unsupported WebSocket protocol, use teCtrl or teCtrlRaw."},
  };
  for (const Case& c : cases) {
    WsClient ws;
    HttpResponse r = ws.Handshake(port_, c.protocol, {}, c.key, c.upgrade);
    ASSERT_EQ(r.status, c.status) << c.upgrade << " / " << c.protocol << "\n" << r.raw;
    if (c.status == 101) {
      EXPECT_EQ(r.header("Upgrade"), "websocket");
      EXPECT_EQ(r.header("Connection"), "Upgrade");
      EXPECT_EQ(r.header("Sec-WebSocket-Accept"), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
      EXPECT_EQ(r.header("Sec-WebSocket-Protocol"), c.answer);
      EXPECT_FALSE(r.header("Content-Length"));
    } else {
      EXPECT_EQ(r.body, c.answer);
      EXPECT_FALSE(r.header("Content-Type"));
    }
  }
  // A missing key, and a method other than GET.
  const std::string path = "/get_te_channel?session=" + id_;
  HttpResponse noKey = HttpRequest(port_, "GET", path, "", {{"Upgrade", "websocket"}});
  EXPECT_EQ(noKey.status, 400);
  HttpResponse post = HttpRequest(port_, "POST", path);
  EXPECT_EQ(post.status, 405);
  EXPECT_EQ(post.header("Accept"), "GET");
  // The log keeps the identifier's first digits only: it is the session's secret.
  EXPECT_TRUE(
      server_->WaitForOutput("\"GET /get_te_channel?session=" + id_.substr(0, 8) + "... HTTP/1.1\" 101 0 "));
  EXPECT_EQ(server_->err().find(id_), std::string::npos);
}

TEST_F(Channel, ControlFramesAndSplitDelivery) {
  WsClient ws;
  Attach(ws);
  ASSERT_TRUE(ws.Send(9, "abc"));
  auto pong = ws.ReceiveOp(10);
  ASSERT_TRUE(pong);
  EXPECT_EQ(pong->op, 10);
  EXPECT_TRUE(pong->fin);
  EXPECT_FALSE(pong->masked);
  EXPECT_EQ(pong->payload, "abc");

  // A 126-form key frame and a ping, every byte in a write of its own.
  std::string key =
      ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, std::string("A\0\0\0", 4)) + std::string(180, '\n');
  ASSERT_TRUE(ws.SendSplit(WsEncode(2, key, true, 126) + WsEncode(9, "split")));
  pong = ws.ReceiveOp(10);
  ASSERT_TRUE(pong);
  EXPECT_EQ(pong->payload, "split");

  // The 64-bit length form, then frames that arrive together in one write.
  std::string big = ChannelEncode(KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE, {"x"}, std::string(70000, 'z'));
  ASSERT_TRUE(ws.conn.Write(WsEncode(2, big, true, 127) + WsEncode(1, "text is ignored") + WsEncode(10, "") +
                            WsEncode(9, "one") + WsEncode(9, "two")));
  EXPECT_EQ(ws.ReceiveOp(10)->payload, "one");
  EXPECT_EQ(ws.ReceiveOp(10)->payload, "two");

  ASSERT_TRUE(ws.Send(8, ""));
  auto closing = ws.ReceiveOp(8);
  ASSERT_TRUE(closing);
  EXPECT_EQ(closing->op, 8);
  EXPECT_EQ(closing->payload, "");
}

TEST_F(Channel, OversizedInputClosesOnlyThatBrowser) {
  WsClient good, bad, badHead, badData;
  Attach(good);
  Attach(bad);
  Attach(badHead);
  Attach(badData);
  // More than 1 MiB announced in one WebSocket frame.
  ASSERT_TRUE(bad.conn.Write(std::string("\x82\xFF\0\0\0\0\0\x20\0\0", 10)));
  EXPECT_TRUE(bad.conn.WaitClosed(30));
  // A channel head line longer than a head may be, and a head announcing too much data.
  ASSERT_TRUE(badHead.Send(2, "KVX 1.0\n" + std::to_string(KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE) + "\n" +
                                  std::string(70000, 'h')));
  EXPECT_TRUE(badHead.conn.WaitClosed(30));
  ASSERT_TRUE(badData.Send(2, "KVX 1.0\n" + std::to_string(KVX_CLIENT_ACTION_ONKEY) + "\n\n9999999\n"));
  EXPECT_TRUE(badData.conn.WaitClosed(30));
  // A head that is not a number is dropped; the connection stays.
  ASSERT_TRUE(good.Send(2, "KVX 1.0\nnope\n\n0\n"));
  ASSERT_TRUE(good.Send(9, "still here"));
  auto pong = good.ReceiveOp(10);
  ASSERT_TRUE(pong);
  EXPECT_EQ(pong->payload, "still here");
  EXPECT_TRUE(Listed());
}

TEST_F(Channel, PingsOfABrowserThatDoesNotReadAreNotQueuedWithoutBound) {
  WsClient ws;
  Attach(ws);
  // 64 MB of pings sent without reading a byte: answered only while the
  // session's output to this browser is small.
  const std::string payload(1000000, 'p');
  const std::string ping = WsEncode(9, payload);
  const int sent = 64;
  for (int i = 0; i < sent; i++) ASSERT_TRUE(ws.conn.Write(ping));
  int pongs = 0;
  while (auto f = ws.Receive(5)) {
    if (f->op != 10) continue;
    EXPECT_EQ(f->payload.size(), payload.size());
    pongs++;
  }
  // Once the browser has read, its pings are answered again (pongs of the
  // flood that were still on their way come first).
  ASSERT_TRUE(ws.Send(9, "again"));
  std::optional<WsFrame> pong;
  while ((pong = ws.ReceiveOp(10)) && pong->payload != "again") pongs++;
  ASSERT_TRUE(pong);
  EXPECT_GT(pongs, 0);
  EXPECT_LT(pongs, sent / 2);
  EXPECT_TRUE(Listed());
}

TEST_F(Channel, RawConnectionsCarryFramesWithoutWebSocketFraming) {
  WsClient raw;
  Attach(raw, "teCtrlRaw");
  std::string frames = ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {}) +
                       ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, std::string("\x0d\0\0\0", 4));
  ASSERT_TRUE(raw.SendSplit(frames));
  ASSERT_TRUE(
      raw.conn.Write(ChannelEncode(KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE, {"a", "", "50%", "\t"}, "")));
  // The refresh is answered with the cursor and the whole screen as bare
  // frames; the key (no host) and the stray prompt answer get nothing, and
  // the connection stays open.
  std::string bytes;
  std::vector<ChannelFrame> got;
  ASSERT_TRUE(WaitFor([&] {
    bytes += raw.conn.ReadSome(1 << 16, 0.2);
    while (auto f = ChannelDecode(bytes)) got.push_back(*f);
    return !got.empty() && got.back().action == KVX_HOST_ACTION_UPDATE;
  }));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].action, KVX_HOST_ACTION_SET_CURSOR);
  ASSERT_EQ(got[1].fields.size(), 1u);
  EXPECT_EQ(got[1].fields[0].rfind("0:", 0), 0u) << got[1].fields[0];
  EXPECT_EQ(bytes + raw.conn.ReadSome(1, 1), "");
  EXPECT_FALSE(raw.conn.closed());
  EXPECT_TRUE(Listed());
}

TEST_F(Channel, LastBrowserLeavingEndsTheSession) {
  WsClient first, second;
  Attach(first);
  Attach(second);
  first.conn.Close();
  ASSERT_TRUE(server_->WaitForOutput("] - Lost connection ["));
  EXPECT_TRUE(std::regex_search(
      server_->err(), std::regex(R"(\[\d+\] - Lost connection \[\d+\], SRC \[127\.0\.0\.1:\d+\]\.\n)")));
  // One browser is left: the session lives on.
  ASSERT_TRUE(second.Send(9, "alive"));
  EXPECT_EQ(second.ReceiveOp(10)->payload, "alive");
  EXPECT_TRUE(Listed());
  second.conn.Close();
  EXPECT_TRUE(WaitFor([&] { return !Listed(); }));
  EXPECT_TRUE(server_->WaitForOutput("stopped with exit status [0]"));
}

TEST_F(Channel, SilentBrowserIsPingedAfterTwentyFiveSeconds) {
  WsClient ws;
  Attach(ws);
  auto start = std::chrono::steady_clock::now();
  auto ping = ws.Receive(60);
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_TRUE(ping);
  EXPECT_EQ(ping->op, 9);
  EXPECT_EQ(ping->payload, "");
  EXPECT_GE(waited, 24.0);
}

}  // namespace
