// One port and the session's secret, through the real binary: every
// session-role request and channel attach needs the session's identifier
// (403 and a log line otherwise), on the session's own port and on the
// server's, which relays the channel both ways with the session's frame
// limits and flow control; "/list_sessions" answers a device for its own
// sessions only; instance names lead the identifiers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "emulation_ids.h"
#include "kvx_browser.h"
#include "kvx_screen.h"
#include "kvx_test.h"

using namespace kvxtest;

namespace {

const char kForbidden[] = "{\"code\":15,\"message\":\"Session identifier missing or wrong.\"}";
const char kChannelForbidden[] = "Forbidden: the session identifier is missing or wrong.";

struct Session {
  std::string id;
  int port = 0;
};

Session NewSession(int serverPort, const std::string& device = "relay") {
  HttpResponse r = PostJson(serverPort, "/new_session", "{\"deviceId\":\"" + device + "\"}");
  return {JsonText(r.body, "content.sessionId"), JsonInt(r.body, "content.port", 0)};
}

long RssKiB(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// The next update frame on a raw channel (cursor frames are skipped).
std::optional<ChannelFrame> NextUpdate(WsClient& ws, std::string& bytes) {
  for (int i = 0; i < 100; i++) {
    while (auto f = ChannelDecode(bytes))
      if (f->action == KVX_HOST_ACTION_UPDATE) return f;
    bytes += ws.conn.ReadSome(65536, 0.3);
  }
  return std::nullopt;
}

// Requests straight to a session's port without its identifier, with a
// wrong one, or with another session's, are refused and logged; with its
// own they are served.
TEST(Secrets, SessionRequestsNeedTheSessionsIdentifier) {
  KavrixServer s;
  Session a = NewSession(s.port()), b = NewSession(s.port());
  ASSERT_GT(a.port, 0);
  ASSERT_GT(b.port, 0);
  WsClient anchor;  // keeps the session alive while requests come and go
  ASSERT_EQ(anchor.HandshakePath(a.port, "/get_te_channel?session=" + a.id).status, 101);
  for (const std::string& query :
       std::vector<std::string>{"", "?session=", "?session=" + b.id, "?session=" + a.id + "0",
                                "?other=" + a.id, "?session=" + a.id.substr(0, 39)}) {
    SCOPED_TRACE(query);
    for (const char* path : {"/load_config", "/get_config_values", "/load_capture", "/shutdown_session"}) {
      HttpResponse r = PostJson(a.port, path + query, "{\"kcf\":{}}");
      EXPECT_EQ(r.status, 403) << path;
      EXPECT_EQ(r.body, kForbidden) << path;
    }
    WsClient ws;
    HttpResponse r = ws.HandshakePath(a.port, "/get_te_channel" + query);
    EXPECT_EQ(r.status, 403);
    EXPECT_EQ(r.body, kChannelForbidden);
  }
  EXPECT_TRUE(s.WaitForOutput(
      "Refused /load_config from [127.0.0.1]: the session identifier is missing or wrong.\n"));
  EXPECT_TRUE(s.WaitForOutput("Refused /get_te_channel from [127.0.0.1]"));
  EXPECT_EQ(s.err().find(b.id), std::string::npos) << "a refusal logged an identifier";
  EXPECT_EQ(EnvelopeCode(PostJson(a.port, "/get_config_values?session=" + a.id, "[\"node\"]").body), 11);
  EXPECT_EQ(EnvelopeCode(PostJson(a.port, "/shutdown_session?session=" + a.id, "{}").body), 0);
}

// The channel on the server's port: refused without a live session's
// identifier; otherwise the session itself answers the upgrade (its
// subprotocol choice and its own refusals included) and frames pass both
// ways.
TEST(Relay, TheServersPortCarriesTheChannel) {
  KavrixServer s;
  Session a = NewSession(s.port());
  ASSERT_GT(a.port, 0);
  for (const std::string& path :
       std::vector<std::string>{"/get_te_channel", "/get_te_channel?session=", "/get_te_channel?session=nope",
                                "/get_te_channel?session=" + a.id.substr(1)}) {
    WsClient ws;
    HttpResponse r = ws.HandshakePath(s.port(), path);
    EXPECT_EQ(r.status, 403) << path;
    EXPECT_EQ(r.body, kChannelForbidden) << path;
  }
  EXPECT_TRUE(s.WaitForOutput("Refused /get_te_channel from [127.0.0.1]: no such session.\n"));
  EXPECT_EQ(HttpRequest(s.port(), "POST", "/get_te_channel?session=" + a.id).status, 405);

  const std::string path = "/get_te_channel?session=" + a.id;
  WsClient bad;
  HttpResponse refused = bad.HandshakePath(s.port(), path, "chat");
  EXPECT_EQ(refused.status, 400);
  EXPECT_EQ(refused.body, "Unsupported WebSocket protocol, use teCtrl or teCtrlRaw.");

  WsClient ws;
  HttpResponse r = ws.HandshakePath(s.port(), path, "teCtrlRaw, teCtrl");
  ASSERT_EQ(r.status, 101) << r.raw;
  EXPECT_EQ(r.header("Sec-WebSocket-Accept"), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
  EXPECT_EQ(r.header("Sec-WebSocket-Protocol"), "teCtrlRaw");
  // A raw channel: a refresh goes in, the screen comes out.
  ASSERT_TRUE(ws.conn.Write(ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {})));
  std::string bytes;
  std::optional<ChannelFrame> f = NextUpdate(ws, bytes);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->fields.at(0), "0:23:79:0");

  WsClient ctl;
  ASSERT_EQ(ctl.HandshakePath(s.port(), path).status, 101);
  ASSERT_TRUE(ctl.Send(9, "through the relay"));
  auto pong = ctl.ReceiveOp(10);
  ASSERT_TRUE(pong);
  EXPECT_EQ(pong->payload, "through the relay");
  // The session's frame limit holds through the relay: a message over a
  // mebibyte ends that browser's channel (and only that one).
  ASSERT_TRUE(ctl.conn.Write(WsEncode(2, std::string((1 << 20) + 1, 'x'))));
  EXPECT_TRUE(ctl.conn.WaitClosed(30));
  ASSERT_TRUE(ws.conn.Write(ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {})));
  EXPECT_TRUE(NextUpdate(ws, bytes)) << "the other browser lost its channel";
}

// A browser that stops reading through the relay: neither the server nor
// the session grows; reading again, it gets the whole screen and the
// updates after it.
TEST(Relay, BrowserThatStopsReadingHoldsTheSessionBack) {
  char tmpl[] = "/tmp/kvxhome.XXXXXX";
  const std::string home = mkdtemp(tmpl);
  std::ofstream(home + "/.bashrc") << "PS1='kvx$ '\nunset PROMPT_COMMAND\nline=$(printf "
                                      "'\\e[3%dmcolumns%.0s' 1 2 3 4 5 6 7 8 9 10 11 12); "
                                      "while :; do i=$((i+1)); printf '%s %d\\n' \"$line\" $i; done\n";
  ServerOptions options;
  options.home = home;
  KavrixServer server(options);
  Session s = NewSession(server.port());
  ASSERT_GT(s.port, 0);
  const int child = server.ChildPid(s.port);
  ASSERT_EQ(EnvelopeCode(PostJson(server.port(), "/load_config?session=" + s.id,
                                  "{\"kcf\":{\"commtype\":7,\"lines\":250,\"col\":132,\"emulate\":" +
                                      std::to_string(KVX_EM_XTERM) +
                                      ","
                                      "\"MBMode\":1},\"connectToHost\":true}")
                             .body),
            0);
  const long serverBefore = RssKiB(server.pid());
  WsClient ws;
  ASSERT_EQ(ws.HandshakePath(server.port(), "/get_te_channel?session=" + s.id).status, 101);
  long peakServer = 0, peakSession = 0;
  for (int i = 0; i < 8; i++) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    peakServer = std::max(peakServer, RssKiB(server.pid()));
    peakSession = std::max(peakSession, RssKiB(child));
  }
  EXPECT_LT(peakServer - serverBefore, 8 * 1024) << "the server grew to " << peakServer << " KiB";
  EXPECT_LT(peakSession, 48 * 1024) << "the session grew to " << peakSession << " KiB";

  ScreenModel screen(250, 132);
  bool sawWhole = false;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  int afterWhole = 0;
  while (afterWhole < 3 && std::chrono::steady_clock::now() < end) {
    auto f = ReceiveChannelFrame(ws, 30);
    ASSERT_TRUE(f);
    ASSERT_TRUE(screen.Apply(*f)) << screen.error;
    if (sawWhole && f->action == KVX_HOST_ACTION_UPDATE) afterWhole++;
    if (screen.lastHeader == "0:249:131:0") sawWhole = true;
  }
  EXPECT_TRUE(sawWhole);
  EXPECT_NE(screen.Find("columns"), -1);
  ws.conn.Close();
  std::error_code ec;
  std::filesystem::remove_all(home, ec);
}

// "/list_sessions" answers a device that names itself, with its own
// sessions alone.
TEST(Secrets, ListingNeedsADeviceAndShowsOnlyItsSessions) {
  KavrixServer s;
  Session mine = NewSession(s.port(), "mine"), theirs = NewSession(s.port(), "theirs");
  ASSERT_GT(mine.port, 0);
  ASSERT_GT(theirs.port, 0);
  for (const char* body : {"{}", "{\"deviceId\":\"\"}", "{\"deviceId\":5}"}) {
    HttpResponse r = PostJson(s.port(), "/list_sessions", body);
    EXPECT_EQ(r.body, "{\"code\":10,\"message\":\"Request data missing, expected [deviceId].\"}") << body;
  }
  std::string list = PostJson(s.port(), "/list_sessions?session=" + mine.id, "{\"deviceId\":\"mine\"}").body;
  EXPECT_NE(list.find(mine.id), std::string::npos);
  EXPECT_EQ(list.find(theirs.id), std::string::npos);
}

// A named instance's identifiers carry its name; every request of such a
// session works as with a plain one.
TEST(Instances, IdentifiersCarryTheInstanceName) {
  ServerOptions o;
  o.args = {"-p", "0", "--instance", "east2"};
  KavrixServer s(o);
  TestBrowser b;
  ASSERT_TRUE(b.NewSession(s.port()));
  EXPECT_TRUE(std::regex_match(b.sessionId, std::regex("east2-[0-9a-f]{40}"))) << b.sessionId;
  ASSERT_EQ(EnvelopeCode(b.PostConfig("{\"kcf\":{\"lines\":24,\"col\":80},\"connectToHost\":false}").body),
            0);
  ASSERT_TRUE(b.Attach());
  ASSERT_TRUE(b.Send(KVX_CLIENT_ACTION_REFRESH));
  ASSERT_TRUE(b.Pump([&] { return b.screen.updates > 0; })) << b.Describe();
  for (const char* bad : {"East", "a-b", "seventeen-chars-x", ""}) {
    ServerOptions w;
    w.args = {"-p", "0", "--instance", bad};
    w.waitForStartup = false;
    KavrixServer refused(w);
    EXPECT_EQ(refused.Wait(), 1) << bad;
    EXPECT_NE(refused.out().find("Illegal value [" + std::string(bad) + "] for option [--instance]"),
              std::string::npos);
  }
}

}  // namespace
