// The automatic log-in through the real binary, as a browser sets it up:
// the log-in macro in the settings object, the password in "secureKeys"
// with the macro referring to it.  Against a small log-in host written
// here, which checks that each answer comes only after its whole prompt
// and that nothing comes early; against a macro file of the server's macro
// directory; and against a real telnetd (behind socat) as a throwaway user.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include "conn_test_util.h"
#include "emulation_ids.h"
#include "kvx_browser.h"
#include "kvx_test.h"

using kvxtest::PeerLink;
using kvxtest::ScriptedPeer;
using kvxtest::TestBrowser;

namespace {

// What a telnet peer received, without the telnet commands.
std::string Data(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); i++) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    if (c != 255) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (i + 1 >= in.size()) break;
    const unsigned char cmd = static_cast<unsigned char>(in[i + 1]);
    if (cmd == 255) {
      out.push_back(static_cast<char>(255));
      i++;
    } else if (cmd == 250) {  // a subnegotiation, to IAC SE
      size_t se = in.find("\xff\xf0", i + 2);
      i = se == std::string::npos ? in.size() : se + 1;
    } else {
      i += cmd >= 251 ? 2 : 1;
    }
  }
  return out;
}

// The settings of a telnet host with automatic log-in.  The password
// travels as a secret named "pw"; the macro's `p` sends it.
std::string LoginConfig(int port, const std::string& user, const std::string& password,
                        const std::string& macro) {
  return "{\"kcf\":{\"commtype\":0,\"node\":\"127.0.0.1\",\"port\":" + std::to_string(port) +
         ",\"emulate\":" + std::to_string(KVX_EM_XTERM) +
         ",\"MBMode\":1,\"lines\":24,\"col\":80,\"user\":" + kvxtest::JsonString(user) +
         ",\"passwordHash\":\"pw\",\"secureKeys\":{\"pw\":" + kvxtest::JsonString(password) +
         "},\"autologin\":1,\"autologinMacroHash\":" + kvxtest::JsonString(macro) +
         "},\"connectToHost\":true}";
}

const char kLoginMacro[] = "E 1\nw login: \nu\nw Password: \np\nw $ \nt whoami^M\n";

// A log-in host: its prompts come in pieces with pauses, and whatever
// arrives before a prompt is complete fails the log-in.
struct LoginHost {
  std::string user = "tester";
  std::string password;
  std::string early;  // what arrived too soon, for the failure message
  std::unique_ptr<ScriptedPeer> peer;

  explicit LoginHost(std::string secret) : password(std::move(secret)) {
    peer = std::make_unique<ScriptedPeer>([this](PeerLink& link) { Run(link); });
  }
  // Sends `prompt` in two pieces; nothing may arrive before the whole of it.
  bool Prompt(PeerLink& link, const std::string& first, const std::string& rest) {
    link.setMark();
    link.Send(first);
    link.Drain(std::chrono::milliseconds(300));
    std::string got = Data(link.received().substr(link.mark()));
    if (!got.empty()) {
      early = "after \"" + first + "\": " + got;
      return false;
    }
    link.Send(rest);
    return true;
  }
  void Run(PeerLink& link) {
    link.Send("Welcome to the test host\r\n");
    if (!Prompt(link, "log", "in: ")) return;
    ASSERT_TRUE(link.Expect("\r"));
    ASSERT_EQ(Data(link.received().substr(link.mark())), user + "\r");
    if (!Prompt(link, "\r\nPass", "word: ")) return;
    ASSERT_TRUE(link.Expect("\r"));
    ASSERT_EQ(Data(link.received().substr(link.mark())), password + "\r");
    if (!Prompt(link, "\r\nLast login: never\r\n", "$ ")) return;
    ASSERT_TRUE(link.Expect("whoami\r"));
    link.Send("whoami\r\n" + user + " is logged in\r\n$ ");
    link.Expect("bye");  // the test is done
  }
  // Ends the host once the test has seen what it needed.
  void Done(TestBrowser& browser) {
    browser.Type("bye");
    peer->Join();
  }
};

class Autologin : public ::testing::Test {
 protected:
  void Start(kvxtest::ServerOptions options = {}) {
    server = std::make_unique<kvxtest::KavrixServer>(std::move(options));
    ASSERT_TRUE(browser.NewSession(server->port())) << server->err();
  }
  std::unique_ptr<kvxtest::KavrixServer> server;
  TestBrowser browser;
};

TEST_F(Autologin, AnswersEachPromptOnlyOnceItIsThere) {
  Start();
  const std::string secret = "Secret-" + std::to_string(getpid()) + "-pw";
  LoginHost host(secret);
  ASSERT_EQ(kvxtest::EnvelopeCode(browser.PostConfig(LoginConfig(host.peer->port(), host.user, secret,
                                                                 kLoginMacro)).body),
            0);
  ASSERT_TRUE(browser.Attach());
  ASSERT_TRUE(browser.WaitText("tester is logged in")) << host.early << "\n" << browser.Describe();
  EXPECT_EQ(host.early, "");
  // Every host byte reached the screen while the macro played.
  const int login = browser.screen.Find("login:");
  ASSERT_GE(login, 0) << browser.Describe();
  EXPECT_EQ(browser.screen.Row(login), "login:");
  EXPECT_GE(browser.screen.Find("Welcome to the test host"), 0);
  EXPECT_EQ(browser.screen.Row(login + 1), "Password:");
  EXPECT_GE(browser.screen.Find("Last login: never"), 0);

  // The password is nowhere but in the session's memory: not in an answer,
  // not in the trace, not on the screen.
  std::string values = browser.GetConfigValues(
      "[\"passwordHash\",\"password\",\"secureKeys\",\"pw\",\"autologinMacroHash\",\"user\"]").body;
  EXPECT_EQ(values.find(secret), std::string::npos) << values;
  EXPECT_NE(kvxtest::JsonText(values, "content.passwordHash").rfind("key_", 0), std::string::npos) << values;
  EXPECT_EQ(server->err().find(secret), std::string::npos);
  EXPECT_EQ(server->out().find(secret), std::string::npos);
  EXPECT_EQ(browser.screen.Text().find(secret), std::string::npos);
  host.Done(browser);
}

// A macro file of the macro directory by its name; a name outside it is
// never read.
TEST(AutologinFiles, MacroFilesComeOnlyFromTheMacroDirectory) {
  const std::string dir = kvxtest::TempDir();
  std::ofstream(dir + "/login.mac") << kLoginMacro;
  kvxtest::ServerOptions options;
  options.args = {"-p", "0", "--macro-directory", dir};
  kvxtest::KavrixServer server(options);
  {
    TestBrowser browser;
    ASSERT_TRUE(browser.NewSession(server.port())) << server.err();
    LoginHost host("from-a-file");
    ASSERT_EQ(kvxtest::EnvelopeCode(
                  browser.PostConfig(LoginConfig(host.peer->port(), host.user, "from-a-file", "login.mac")).body),
              0);
    ASSERT_TRUE(browser.Attach());
    ASSERT_TRUE(browser.WaitText("tester is logged in")) << host.early << "\n" << browser.Describe();
    host.Done(browser);
  }
  {
    // The same macro outside the directory, named by its path: that is
    // macro text, which does nothing, so nothing comes after the prompt.
    const std::string outside = dir + "-outside.mac";
    std::ofstream(outside) << kLoginMacro;
    TestBrowser browser;
    ASSERT_TRUE(browser.NewSession(server.port())) << server.err();
    std::string got = "(the host never ran)";
    ScriptedPeer host([&](PeerLink& link) {
      link.Send("login: ");
      link.Drain(std::chrono::seconds(2));
      got = Data(link.received());
    });
    ASSERT_EQ(kvxtest::EnvelopeCode(browser.PostConfig(LoginConfig(host.port(), "tester", "unused", outside)).body),
              0);
    ASSERT_TRUE(browser.Attach());
    ASSERT_TRUE(browser.WaitText("login:")) << browser.Describe();
    EXPECT_TRUE(host.Join());
    EXPECT_EQ(got, "");
    kvxtest::Run("rm -f '" + outside + "'");
  }
  kvxtest::Run("rm -rf '" + dir + "'");
}

TEST(AutologinFiles, AMacroDirectoryMustExist) {
  kvxtest::ServerOptions options;
  options.args = {"-p", "0", "--macro-directory", "/nonexistent/macros"};
  options.waitForStartup = false;
  kvxtest::KavrixServer server(options);
  EXPECT_EQ(server.Wait(), 1);
  EXPECT_EQ(server.out().rfind("Illegal value [/nonexistent/macros] for option [--macro-directory]: No such file "
                               "or directory.\nusage: ", 0),
            0u)
      << server.out();
}

// A real telnetd: login(1) asks for the user and the password, the shell
// then runs what the macro types.
TEST(AutologinTelnetd, LogsInAsTheThrowawayUser) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to create the throwaway login user";
  if (std::string why = kvxtest::Need({"/usr/sbin/telnetd", "socat"}); !why.empty()) GTEST_SKIP() << why;
  const std::string user = "kvxal" + std::to_string(getpid() % 100000);
  const std::string password = "Al-" + std::to_string(getpid()) + "-pw";
  kvxtest::Run("userdel -r " + user + " >/dev/null 2>&1");
  ASSERT_EQ(kvxtest::Run("useradd -m -s /bin/sh " + user), 0);
  ASSERT_EQ(kvxtest::Run("echo '" + user + ":" + password + "' | chpasswd"), 0);
  {
    const int port = kvxtest::FreePort();
    kvxtest::Background telnetd("exec socat TCP-LISTEN:" + std::to_string(port) +
                                ",bind=127.0.0.1,reuseaddr,fork EXEC:\"/usr/sbin/telnetd -h\",nofork");
    ASSERT_TRUE(kvxtest::WaitListening(port));
    kvxtest::KavrixServer server;
    TestBrowser browser;
    ASSERT_TRUE(browser.NewSession(server.port())) << server.err();
    const std::string macro = "E 1\nw login: \nu\nw Password: \np\nw $ \nt echo autologin-$((6*7))^M\n";
    ASSERT_EQ(kvxtest::EnvelopeCode(browser.PostConfig(LoginConfig(port, user, password, macro)).body), 0);
    ASSERT_TRUE(browser.Attach());
    EXPECT_TRUE(browser.WaitText("autologin-42")) << browser.Describe();
    EXPECT_EQ(browser.screen.Text().find(password), std::string::npos);
    EXPECT_EQ(server.err().find(password), std::string::npos);
    browser.Type("exit\r");
  }
  kvxtest::Run("userdel -r " + user + " >/dev/null 2>&1");
}

}  // namespace
