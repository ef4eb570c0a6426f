// The prompts end to end: the real binary connects to OpenSSH's sshd on
// 127.0.0.1 with a throwaway login user, and its questions (the unknown
// host key, the password) reach two WebSocket browsers written here; one
// answers each question, the other's late answer is ignored, and the login
// completes into a shell that takes keys.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "emulation_ids.h"
#include "kvx_screen.h"
#include "kvx_test.h"
#include "ssh_test_rig.h"

using namespace kvxtest;

namespace {

sshtest::Account g_account;
std::string g_skip;

class SshPrompts : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_skip = g_account.Create();
    if (!g_skip.empty()) return;
    sshd = new sshtest::Sshd;
    g_skip = sshd->Start("");
  }
  static void TearDownTestSuite() {
    delete sshd;
    sshd = nullptr;
    g_account.Remove();
  }
  void SetUp() override {
    if (!g_skip.empty()) GTEST_SKIP() << g_skip;
  }
  static sshtest::Sshd* sshd;
};
sshtest::Sshd* SshPrompts::sshd = nullptr;

// The next prompt frame (actions 4 to 6) a browser receives.
std::optional<ChannelFrame> NextPrompt(WsClient& ws, double seconds = 30) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    double left = std::chrono::duration<double>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) return std::nullopt;
    auto f = ReceiveChannelFrame(ws, left);
    if (!f) return std::nullopt;
    if (f->action >= KVX_HOST_ACTION_GET_ENTRY && f->action <= KVX_HOST_ACTION_SHOW_FATAL_ERROR) return f;
  }
}

std::string KeyFrame(int key) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; i++) data[static_cast<size_t>(i)] = static_cast<char>((key >> (8 * i)) & 0xFF);
  return ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, data);
}

TEST_F(SshPrompts, HostKeyAndPasswordAreAskedOfTheBrowsers) {
  std::string home = TempDir();
  ServerOptions options;
  options.home = home;
  KavrixServer server(options);
  HttpResponse r = PostJson(server.port(), "/new_session", "{\"deviceId\":\"dev-ssh\"}");
  std::string id = JsonText(r.body, "content.sessionId");
  int port = JsonInt(r.body, "content.port", 0);
  ASSERT_GT(port, 0);
  WsClient a, b;
  ASSERT_EQ(a.Handshake(port).status, 101);
  ASSERT_EQ(b.Handshake(port).status, 101);
  // Both are attached (each answers a refresh) before the connect starts.
  for (WsClient* ws : {&a, &b}) {
    ASSERT_TRUE(ws->Send(2, ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {})));
    ASSERT_TRUE(ReceiveChannelFrame(*ws, 30));
  }
  const std::string config =
      "{\"kcf\":{\"commtype\":5,\"node\":\"127.0.0.1\",\"sshport\":" + std::to_string(sshd->port()) +
      ",\"user\":\"" + g_account.user +
      "\",\"lines\":24,\"col\":80,\"emulate\":" + std::to_string(KVX_EM_XTERM) +
      ",\"MBMode\":1},\"connectToHost\":true}";
  ASSERT_EQ(EnvelopeCode(PostJson(server.port(), "/load_config?session=" + id, config).body), 0);

  // The host key is unknown: both are asked, the second browser says yes.
  auto askedA = NextPrompt(a), askedB = NextPrompt(b);
  ASSERT_TRUE(askedA && askedB);
  EXPECT_EQ(askedA->action, KVX_HOST_ACTION_GET_YESNO);
  EXPECT_EQ(askedA->fields, askedB->fields);
  ASSERT_EQ(askedA->fields.size(), 2u);
  EXPECT_NE(askedA->fields[1].find("Do you trust the host key"), std::string::npos) << askedA->fields[1];
  ASSERT_TRUE(b.Send(2, ChannelEncode(KVX_CLIENT_ACTION_GET_YESNO_RESPONSE, {"1"})));

  // Then the password: the first browser types a key meanwhile (dropped)
  // and answers.
  askedA = NextPrompt(a);
  askedB = NextPrompt(b);
  ASSERT_TRUE(askedA && askedB);
  EXPECT_EQ(askedA->action, KVX_HOST_ACTION_GET_ENTRY);
  EXPECT_EQ(askedA->fields, (std::vector<std::string>{"Password entry", "Please enter your password", "1"}));
  ASSERT_TRUE(a.Send(2, KeyFrame('z')));
  ASSERT_TRUE(a.Send(2, ChannelEncode(KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE, {g_account.password, "1"})));

  // Logged in: the shell takes keys and both browsers see its answer.
  ScreenModel screen(24, 80);
  auto pump = [&](WsClient& ws, ScreenModel& s, const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
      double left = std::chrono::duration<double>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) return false;
      auto f = ReceiveChannelFrame(ws, left);
      if (!f || !s.Apply(*f)) return false;
      if (f->action >= KVX_HOST_ACTION_GET_ENTRY && f->action <= KVX_HOST_ACTION_SHOW_FATAL_ERROR) {
        s.error = "unexpected prompt " + std::to_string(f->action) + ": " + f->fields.back();
        return false;
      }
    }
    return true;
  };
  ASSERT_TRUE(pump(a, screen, [&] { return screen.connected == 1; })) << screen.error;
  // The second browser's answer comes too late and changes nothing.
  ASSERT_TRUE(b.Send(2, ChannelEncode(KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE, {"wrong", "1"})));
  for (char c : std::string("echo ssh-$((6*7))\r"))
    ASSERT_TRUE(a.Send(2, KeyFrame(static_cast<unsigned char>(c))));
  ASSERT_TRUE(pump(a, screen, [&] { return screen.Find("ssh-42") > screen.Find("echo ssh"); }))
      << screen.Text();
  EXPECT_LT(screen.Find("zecho"), 0) << "the key sent while asking reached the host\n" << screen.Text();
  EXPECT_TRUE(sshd->LogHas("Accepted password for " + g_account.user)) << sshd->Log();

  // The host key was trusted for the next time.
  std::error_code ec;
  EXPECT_GT(std::filesystem::file_size(home + "/.ssh/known_hosts", ec), 0u);
  a.conn.Close();
  b.conn.Close();
  PostJson(server.port(), "/shutdown_session?session=" + id, "{}");
  std::filesystem::remove_all(home, ec);
}

}  // namespace
