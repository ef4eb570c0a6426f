// SSH hosts through the real binary: OpenSSH's sshd on 127.0.0.1 (one per
// suite) with a throwaway login user, and a browser written here that
// answers the session's prompts.  A supplied password logs in without a
// question; a typed one is asked for, and when saved comes back only as a
// secure-store token; keys under the session's HOME log in with and without
// a passphrase; keyboard-interactive questions are answered or cancelled;
// unknown and changed host keys are asked about (or accepted silently when
// configured) and written to the session's known-hosts file; the language
// reaches the shell as LANG and a new screen size reaches its terminal.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "emulation_ids.h"
#include "kvx_browser.h"
#include "kvx_test.h"
#include "ssh_test_rig.h"

using kvxtest::TestBrowser;

namespace {

sshtest::Account g_account;

// A session whose server runs with its own HOME (so the session's
// ~/.ssh is the test's).
struct SshSession {
  explicit SshSession(int rows = 24, int cols = 80, std::vector<std::string> args = {})
      : browser(rows, cols) {
    home = kvxtest::TempDir();
    chmod(home.c_str(), 0700);
    kvxtest::ServerOptions options;
    options.home = home;
    if (!args.empty()) options.args.insert(options.args.end(), args.begin(), args.end());
    server = std::make_unique<kvxtest::KavrixServer>(options);
  }
  ~SshSession() {
    browser.ws.conn.Close();
    kvxtest::Run("rm -rf " + home);
  }
  std::string sshDir() const { return home + "/.ssh"; }
  std::string knownHosts() const { return sshDir() + "/known_hosts"; }
  void WriteKnownHost(int port, const std::string& keyLine, const std::string& name = "127.0.0.1") {
    mkdir(sshDir().c_str(), 0700);
    std::ofstream(knownHosts(), std::ios::app) << "[" << name << "]:" << port << " " << keyLine << "\n";
  }
  std::string home;
  std::unique_ptr<kvxtest::KavrixServer> server;
  TestBrowser browser;
};

// The settings object of an SSH host; `extra` adds members.
std::string SshConfig(int port, const std::string& extra = "", int rows = 24, int cols = 80,
                      bool connect = true, const std::string& node = "127.0.0.1") {
  return "{\"kcf\":{\"commtype\":5,\"node\":\"" + node + "\",\"sshport\":" + std::to_string(port) +
         ",\"user\":" + kvxtest::JsonString(g_account.user) + ",\"emulate\":" + std::to_string(KVX_EM_XTERM) +
         ",\"MBMode\":1,\"lines\":" + std::to_string(rows) + ",\"col\":" + std::to_string(cols) + extra +
         "},\"connectToHost\":" + (connect ? "true" : "false") + "}";
}

// The password as the page sends it: a secret named in passwordHash.
std::string SuppliedPassword() {
  return ",\"passwordHash\":\"pw\",\"secureKeys\":{\"pw\":" + kvxtest::JsonString(g_account.password) + "}";
}

// Runs `command` in the shell and waits for `answer`. The command is typed
// while the login banner may still be arriving, so its echo can be split by
// the banner; callers pick commands whose text does not contain the answer.
bool RunInShell(TestBrowser& b, const std::string& command, const std::string& answer) {
  if (command.find(answer) != std::string::npos) return false;
  if (!b.Type(command + "\r")) return false;
  return b.Pump([&] { return b.screen.Find(answer) >= 0; });
}

// Configures the session (before the browser attaches, so that the connect
// starts with the browser) and logs in.
void Login(SshSession& s, const std::string& config) {
  ASSERT_TRUE(s.browser.NewSession(s.server->port())) << s.server->err();
  ASSERT_EQ(kvxtest::EnvelopeCode(s.browser.PostConfig(config).body), 0);
  ASSERT_TRUE(s.browser.Attach());
  ASSERT_TRUE(s.browser.WaitConnected()) << s.browser.Describe();
  ASSERT_TRUE(RunInShell(s.browser, "echo ssh-$((6*7))", "ssh-42")) << s.browser.Describe();
}

class SshHosts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    skip = g_account.Create();
    if (!skip.empty()) return;
    sshd = new sshtest::Sshd;
    skip = sshd->Start("");
  }
  static void TearDownTestSuite() {
    delete sshd;
    sshd = nullptr;
    g_account.Remove();
  }
  void SetUp() override {
    if (!skip.empty()) GTEST_SKIP() << skip;
  }
  static sshtest::Sshd* sshd;
  static std::string skip;
};
sshtest::Sshd* SshHosts::sshd = nullptr;
std::string SshHosts::skip;

TEST_F(SshHosts, SuppliedPasswordLanguageAndResize) {
  SshSession s;
  s.WriteKnownHost(sshd->port(), sshd->hostKeyLine());
  const std::string extra = SuppliedPassword() + ",\"language\":\"de_DE.UTF-8\"";
  Login(s, SshConfig(sshd->port(), extra));
  EXPECT_TRUE(s.browser.prompts.empty()) << s.browser.Describe();
  EXPECT_TRUE(sshd->LogHas("Accepted password for " + g_account.user)) << sshd->Log();
  EXPECT_TRUE(RunInShell(s.browser, "echo lang=$LANG", "lang=de_DE.UTF-8")) << s.browser.Describe();

  // The page posts its new size while connected: the host's terminal follows.
  s.browser.screen = kvxtest::ScreenModel(30, 100);
  ASSERT_EQ(kvxtest::EnvelopeCode(s.browser.PostConfig(SshConfig(sshd->port(), extra, 30, 100, false)).body),
            0);
  EXPECT_TRUE(RunInShell(s.browser, "stty size", "30 100")) << s.browser.Describe();
  EXPECT_TRUE(s.browser.prompts.empty()) << s.browser.Describe();
}

TEST_F(SshHosts, UnknownHostKeyAndTypedPasswordSavedAsToken) {
  SshSession s;
  s.browser.answers = {TestBrowser::YesNo(1), TestBrowser::Entry(g_account.password, 3)};
  Login(s, SshConfig(sshd->port()));
  ASSERT_EQ(s.browser.prompts.size(), 2u) << s.browser.Describe();
  const auto& hostKey = s.browser.prompts[0];
  ASSERT_EQ(hostKey.action, KVX_HOST_ACTION_GET_YESNO);
  EXPECT_NE(hostKey.fields[1].find("The server is unknown. Do you trust the host key"), std::string::npos)
      << hostKey.fields[1];
  EXPECT_NE(hostKey.fields[1].find(sshtest::Sha1Hex(sshd->hostKeyLine())), std::string::npos)
      << hostKey.fields[1];
  EXPECT_NE(hostKey.fields[1].find(sshtest::Sha256Fingerprint(sshd->dir() + "/host_key.pub")),
            std::string::npos)
      << hostKey.fields[1];
  EXPECT_EQ(s.browser.prompts[1].fields,
            (std::vector<std::string>{"Password entry", "Please enter your password", "1"}));

  // The trusted key is in the session's known-hosts file.
  std::string blob = sshd->hostKeyLine().substr(sshd->hostKeyLine().find(' ') + 1);
  EXPECT_NE(sshtest::ReadFile(s.knownHosts()).find(blob), std::string::npos)
      << sshtest::ReadFile(s.knownHosts());

  // The saved password comes back only as a token of the secure store.
  kvxtest::HttpResponse values = s.browser.GetConfigValues("[\"password\",\"passwordHash\"]");
  ASSERT_EQ(kvxtest::EnvelopeCode(values.body), 0) << values.body;
  EXPECT_EQ(kvxtest::JsonText(values.body, "content.password"), "");
  EXPECT_EQ(kvxtest::JsonText(values.body, "content.passwordHash").rfind("key_", 0), 0u) << values.body;
  EXPECT_EQ(values.body.find(g_account.password), std::string::npos) << values.body;

  // Connecting again (the page's button) uses the saved password and the
  // known key: no question at all.
  ASSERT_TRUE(s.browser.Send(KVX_CLIENT_ACTION_CONNECT_HOST));
  ASSERT_TRUE(s.browser.Pump([&] {
    return s.browser.events.find("connected 0\nconnected 1\n") != std::string::npos;
  })) << s.browser.Describe();
  EXPECT_TRUE(RunInShell(s.browser, "echo again-$((7*8))", "again-56")) << s.browser.Describe();
  EXPECT_EQ(s.browser.prompts.size(), 2u) << s.browser.Describe();
}

struct KeyCase {
  const char* name;
  std::string (*source)();  // the private key file to install
  const char* file;         // its name under ~/.ssh
  bool explicitKey;         // named by sshPublicKey (else found as a default key)
  bool passphrase;          // asked for and answered
};

TEST_F(SshHosts, KeyLogins) {
  const KeyCase cases[] = {
      {"default key without a passphrase", [] { return g_account.plainKey(); }, "id_ed25519", false, false},
      {"named key with a passphrase", [] { return g_account.secretKey(); }, "kvx_secret", true, true},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    SshSession s;
    s.WriteKnownHost(sshd->port(), sshd->hostKeyLine());
    std::string key = s.sshDir() + "/" + c.file;
    ASSERT_EQ(kvxtest::Run("cp " + c.source() + " " + key + " && cp " + c.source() + ".pub " + key +
                           ".pub && chmod 600 " + key),
              0);
    std::string extra = ",\"usePub\":1";
    if (c.explicitKey) extra += ",\"sshPublicKey\":" + kvxtest::JsonString(key + ".pub");
    if (c.passphrase) s.browser.answers = {TestBrowser::Entry(g_account.passphrase)};
    size_t logFrom = sshd->Log().size();
    Login(s, SshConfig(sshd->port(), extra));
    EXPECT_TRUE(sshd->LogHas("Accepted publickey for " + g_account.user, logFrom)) << sshd->Log();
    if (c.passphrase) {
      ASSERT_EQ(s.browser.prompts.size(), 1u) << s.browser.Describe();
      EXPECT_EQ(s.browser.prompts[0].fields,
                (std::vector<std::string>{"Private key passphrase",
                                          "Please enter your passphrase for your private key", "1"}));
    } else {
      EXPECT_TRUE(s.browser.prompts.empty()) << s.browser.Describe();
    }
  }
}

TEST_F(SshHosts, ChangedHostKey) {
  struct {
    const char* name;
    bool acceptFingerprints;
  } cases[] = {{"asked and accepted", false}, {"accepted silently", true}};
  std::string stranger = sshtest::ReadFile(g_account.strangerKey() + ".pub");
  stranger = stranger.substr(0, stranger.rfind(' '));  // "<type> <base64>" without the comment
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SshSession s;
    s.WriteKnownHost(sshd->port(), stranger);
    std::string extra = SuppliedPassword();
    if (c.acceptFingerprints)
      extra += ",\"AcceptSSHFingerprints\":1";
    else
      s.browser.answers = {TestBrowser::YesNo(1)};
    Login(s, SshConfig(sshd->port(), extra));
    if (c.acceptFingerprints) {
      EXPECT_TRUE(s.browser.prompts.empty()) << s.browser.Describe();
    } else {
      ASSERT_EQ(s.browser.prompts.size(), 1u) << s.browser.Describe();
      EXPECT_NE(s.browser.prompts[0].fields[1].find("The key to this server has changed"), std::string::npos)
          << s.browser.Describe();
    }
    std::string blob = sshd->hostKeyLine().substr(sshd->hostKeyLine().find(' ') + 1);
    EXPECT_NE(sshtest::ReadFile(s.knownHosts()).find(blob), std::string::npos)
        << sshtest::ReadFile(s.knownHosts());
  }
}

// A relay on 127.0.0.1 to a real server that holds everything back until it
// is opened: a connection made through it stays in its key exchange.  It
// notices when the client end closes.
class GatedRelay {
 public:
  explicit GatedRelay(int upstreamPort) : upstream_(upstreamPort) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(listen_, 1) == 0 &&
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~GatedRelay() {
    stop_ = true;
    thread_.join();
    close(listen_);
  }
  int port() const { return port_; }
  void Open() { open_ = true; }
  bool WaitAccepted() { return WaitFor(accepted_); }
  bool WaitClientClosed() { return WaitFor(clientClosed_); }

 private:
  static bool WaitFor(const std::atomic<bool>& flag) {
    for (int i = 0; i < 1000 && !flag; i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return flag;
  }
  void Run() {
    pollfd l{listen_, POLLIN, 0};
    while (!stop_ && poll(&l, 1, 50) <= 0) {
    }
    if (stop_) return;
    int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    accepted_ = true;
    std::string held;
    int server = -1;
    char buf[65536];
    while (!stop_) {
      if (open_ && server < 0) {
        server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(upstream_));
        if (connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) break;
        if (!held.empty() && write(server, held.data(), held.size()) < 0) break;
      }
      pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      if (poll(fds, server >= 0 ? 2 : 1, 50) <= 0) continue;
      if (fds[0].revents) {
        ssize_t n = read(client, buf, sizeof buf);
        if (n <= 0) {
          clientClosed_ = true;
          break;
        }
        if (server >= 0) {
          if (write(server, buf, static_cast<size_t>(n)) < 0) break;
        } else {
          held.append(buf, static_cast<size_t>(n));
        }
      }
      if (server >= 0 && fds[1].revents) {
        ssize_t n = read(server, buf, sizeof buf);
        if (n <= 0 || write(client, buf, static_cast<size_t>(n)) < 0) break;
      }
    }
    close(client);
    if (server >= 0) close(server);
  }

  int upstream_;
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false}, open_{false}, accepted_{false}, clientClosed_{false};
};

// A configuration posted while the connection is still being made (the
// key exchange waits) replaces the dictionary that connection was made
// with: the connection ends first, so that nothing it does later (asking for
// a password and saving it) reaches the dictionary that is gone, and the new
// configuration is the session's.
TEST_F(SshHosts, ConfigurationPostedWhileConnectingEndsThatConnection) {
  SshSession s;
  GatedRelay relay(sshd->port());
  s.browser.answers = {TestBrowser::YesNo(1), TestBrowser::Entry(g_account.password, 3)};
  ASSERT_TRUE(s.browser.NewSession(s.server->port())) << s.server->err();
  ASSERT_EQ(kvxtest::EnvelopeCode(s.browser.PostConfig(SshConfig(relay.port())).body), 0);
  ASSERT_TRUE(s.browser.Attach());
  ASSERT_TRUE(relay.WaitAccepted());
  const std::string next = SshConfig(relay.port(), ",\"language\":\"C.UTF-8\"", 24, 80, false);
  ASSERT_EQ(kvxtest::EnvelopeCode(s.browser.PostConfig(next).body), 0);
  EXPECT_TRUE(relay.WaitClientClosed()) << "the connection in progress goes on";
  // Were it still there, it would now log in, ask for the password and
  // keep it in the configuration it was made with.
  relay.Open();
  s.browser.Pump([] { return false; }, 2);
  EXPECT_TRUE(s.browser.prompts.empty()) << s.browser.Describe();
  kvxtest::HttpResponse values = s.browser.GetConfigValues("[\"language\",\"passwordHash\"]");
  EXPECT_EQ(kvxtest::JsonText(values.body, "content.language"), "C.UTF-8") << values.body;
  EXPECT_EQ(kvxtest::JsonText(values.body, "content.passwordHash"), "") << values.body;
}

// A server that allows keyboard-interactive authentication only.
class SshKeyboardInteractive : public SshHosts {
 protected:
  static void SetUpTestSuite() {
    skip = g_account.Create();
    if (!skip.empty()) return;
    sshd = new sshtest::Sshd;
    skip = sshd->Start("AuthenticationMethods keyboard-interactive\n");
  }
};

TEST_F(SshKeyboardInteractive, QuestionsAnsweredThroughThePrompts) {
  SshSession s;
  s.WriteKnownHost(sshd->port(), sshd->hostKeyLine());
  s.browser.answers = {TestBrowser::Entry(g_account.password)};
  Login(s, SshConfig(sshd->port()));
  ASSERT_EQ(s.browser.prompts.size(), 1u) << s.browser.Describe();
  const auto& asked = s.browser.prompts[0].fields;
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_NE(asked[0].find("assword"), std::string::npos) << asked[0];
  EXPECT_EQ(asked[1], "Keyboard interactive: " + asked[0]);
  EXPECT_EQ(asked[2], "1");  // the answer is hidden
  EXPECT_TRUE(sshd->LogHas("Accepted keyboard-interactive/pam for " + g_account.user)) << sshd->Log();
}

TEST_F(SshKeyboardInteractive, CancelledQuestionRejectsTheLogin) {
  SshSession s;
  s.WriteKnownHost(sshd->port(), sshd->hostKeyLine());
  s.browser.answers = {TestBrowser::Cancel()};
  ASSERT_TRUE(s.browser.NewSession(s.server->port()));
  ASSERT_EQ(kvxtest::EnvelopeCode(s.browser.PostConfig(SshConfig(sshd->port())).body), 0);
  ASSERT_TRUE(s.browser.Attach());
  ASSERT_TRUE(s.browser.WaitError()) << s.browser.Describe();
  EXPECT_EQ(s.browser.Errors(), (std::vector<std::string>{"All authentication methods rejected."}));
  EXPECT_EQ(s.browser.prompts.back().fields[0], "1") << "fatal";
  EXPECT_EQ(s.browser.Count(KVX_HOST_ACTION_GET_ENTRY), 1) << s.browser.Describe();
}

// Under --allow-hosts the session dials the address it checked itself,
// while the host key is still looked up under the name the user gave; a
// host outside the list is refused before any connection.
TEST_F(SshHosts, AllowListDialsTheCheckedAddressAndRefusesOthers) {
  const std::string port = std::to_string(sshd->port());
  {
    SshSession s(24, 80, {"--allow-hosts", "127.0.0.0/8:" + port});
    s.WriteKnownHost(sshd->port(), sshd->hostKeyLine(), "localhost");
    Login(s, SshConfig(sshd->port(), SuppliedPassword(), 24, 80, true, "localhost"));
    EXPECT_TRUE(s.browser.prompts.empty())
        << "the known key of localhost was not found: " << s.browser.Describe();
  }
  {
    SshSession s(24, 80, {"--allow-hosts", "10.0.0.0/8"});
    const size_t logged = sshd->Log().size();
    ASSERT_TRUE(s.browser.NewSession(s.server->port()));
    ASSERT_EQ(kvxtest::EnvelopeCode(
                  s.browser.PostConfig(SshConfig(sshd->port(), SuppliedPassword(), 24, 80, true, "localhost"))
                      .body),
              0);
    ASSERT_TRUE(s.browser.Attach());
    ASSERT_TRUE(s.browser.WaitError()) << s.browser.Describe();
    EXPECT_EQ(s.browser.Errors().back(),
              "Connections to localhost port " + port + " are not allowed on this server.");
    // sshd logs a connection a moment after it arrives.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(sshd->Log().find("Connection from", logged), std::string::npos) << sshd->Log();
  }
}

}  // namespace
