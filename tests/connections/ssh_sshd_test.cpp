// The SSH connection against OpenSSH's sshd on 127.0.0.1, driven the way
// the session drives it: password, public-key and keyboard-interactive
// logins with and without prompts, what the user asks to save, host-key
// trust and the known-hosts file, the shell's environment and window size,
// bulk input and the end of the shell.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "conn_test_util.h"
#include "emulation_ids.h"
#include "lumdict.h"
#include "ssh_test_rig.h"
#include "sshconnection.h"

namespace {

using kvxtest::Pump;
using sshtest::Prompts;
using sshtest::TempHome;

sshtest::Account g_account;
std::string g_accountSkip;

class AccountEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { g_accountSkip = g_account.Create(); }
  void TearDown() override { g_account.Remove(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new AccountEnvironment);

// One connection with its settings, pointed at 127.0.0.1.
struct Client {
  LumDict dict;
  LumSSHConnection conn;
  Pump pump{&conn};

  explicit Client(int port, bool withPassword = true) {
    dict.setIntForKey("commtype", 5);
    dict.setStringForKey("node", "127.0.0.1");
    dict.setIntForKey("port", 23);  // the telnet port plays no part
    dict.setIntForKey("sshport", port);
    dict.setStringForKey("user", g_account.user.c_str());
    if (withPassword) dict.setStringForKey("password", g_account.password.c_str());
    dict.setIntForKey("emulate", KVX_EM_VT100);
    dict.setIntForKey("lines", 24);
    dict.setIntForKey("col", 80);
  }
  int Connect() {
    conn.UseDictionary(&dict);
    return pump.Connect(std::chrono::seconds(30));
  }
  void Send(const std::string& s) { conn.Comout(s.data(), static_cast<int>(s.size())); }
  // Runs a shell command whose output holds `expect` (the typed line, as
  // echoed, must not: write it with an arithmetic expansion).
  ::testing::AssertionResult Shell(const std::string& command, const std::string& expect) {
    if (!pump.WaitFor("$ ")) return ::testing::AssertionFailure() << "no shell prompt: " << pump.data();
    Send(command + "\n");
    if (!pump.WaitFor(expect))
      return ::testing::AssertionFailure() << "no \"" << expect << "\": " << pump.data();
    return ::testing::AssertionSuccess();
  }
  void ExitShell() {
    Send("exit\n");
    EXPECT_TRUE(pump.WaitClosed()) << pump.data();
    char buf[64];
    EXPECT_EQ(conn.Read(buf, sizeof buf), -1);
    EXPECT_EQ(conn.HasData(), -1);
  }
};

// sshd offering password, public key and keyboard-interactive; a second
// listening port demands a public key and then a password.
class SshAllMethods : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!g_accountSkip.empty()) return;
    twoStepPort = kvxtest::FreePort();
    std::string extra = "ListenAddress 127.0.0.1:" + std::to_string(twoStepPort) + "\nMatch LocalPort " +
                        std::to_string(twoStepPort) + "\n  AuthenticationMethods publickey,password\n";
    sshd = new sshtest::Sshd;
    skip = sshd->Start(extra);
  }
  static void TearDownTestSuite() {
    delete sshd;
    sshd = nullptr;
  }
  void SetUp() override {
    if (!g_accountSkip.empty()) GTEST_SKIP() << g_accountSkip;
    if (!skip.empty()) GTEST_SKIP() << skip;
  }
  // A HOME whose known_hosts already trusts the server.
  void TrustServer() { home.Trust(sshd->port(), sshd->hostKeyLine()); }
  // The default key of the session's own SSH directory.
  void InstallDefaultKey() {
    mkdir(home.sshDir().c_str(), 0700);
    ASSERT_EQ(kvxtest::Run("cp " + g_account.plainKey() + " " + home.sshDir() + "/id_ed25519 && cp " +
                           g_account.plainKey() + ".pub " + home.sshDir() + "/id_ed25519.pub"),
              0);
  }

  static sshtest::Sshd* sshd;
  static std::string skip;
  static int twoStepPort;
  TempHome home;
  Prompts prompts;
};
sshtest::Sshd* SshAllMethods::sshd = nullptr;
std::string SshAllMethods::skip;
int SshAllMethods::twoStepPort = 0;

TEST_F(SshAllMethods, SuppliedPasswordLogsInWithoutPromptsAndTheShellSeesLangAndTerm) {
  TrustServer();
  Client c(sshd->port());
  c.dict.setStringForKey("language", "de_DE.UTF-8");
  ASSERT_GT(c.Connect(), 0) << prompts.All();
  EXPECT_TRUE(c.conn.IsConnected());
  EXPECT_TRUE(c.Shell("echo \"L=$LANG T=$TERM N=$((6*7))\"", "L=de_DE.UTF-8 T=vt100 N=42"));
  EXPECT_TRUE(prompts.entries.empty() && prompts.yesnos.empty() && prompts.errors.empty()) << prompts.All();
  EXPECT_TRUE(sshd->LogHas("Accepted password for " + g_account.user));
  c.ExitShell();
}

TEST_F(SshAllMethods, PasswordAskedThroughThePromptAndSavedOnlyAsAToken) {
  struct Case {
    int code;
    bool withStore;
    bool expectToken;
  } cases[] = {{1, true, false}, {3, true, true}, {3, false, false}};
  TrustServer();
  for (const auto& k : cases) {
    SCOPED_TRACE("answer code " + std::to_string(k.code) + (k.withStore ? " with" : " without") + " a store");
    std::unique_ptr<sshtest::SecretStore> store;
    if (k.withStore) store = std::make_unique<sshtest::SecretStore>();
    prompts.entries.clear();
    prompts.answers = {{k.code, g_account.password}};
    Client c(sshd->port(), false);
    ASSERT_GT(c.Connect(), 0) << prompts.All();
    ASSERT_EQ(prompts.entries.size(), 1u) << prompts.All();
    EXPECT_EQ(prompts.entries[0].title, "Password entry");
    EXPECT_EQ(prompts.entries[0].msg, "Please enter your password");
    EXPECT_EQ(prompts.entries[0].saveMsg, "Save Password:");
    EXPECT_TRUE(prompts.entries[0].isPassword);
    EXPECT_TRUE(c.Shell("echo P-$((6*7))", "P-42"));
    // The typed password never sits in the settings in clear.
    EXPECT_EQ(c.dict.text().find(g_account.password), std::string::npos) << c.dict.text();
    if (k.expectToken) {
      EXPECT_EQ(store->secrets, std::vector<std::string>{g_account.password});
      EXPECT_EQ(c.dict.stringValueForKey("passwordHash"), "tok-1");
    } else {
      EXPECT_EQ(c.dict.stringValueForKey("passwordHash"), "");
      if (store) {
        EXPECT_TRUE(store->secrets.empty());
      }
    }
  }
}

TEST_F(SshAllMethods, WrongPasswordThenCancelledQuestionRejectsEverything) {
  TrustServer();
  Client c(sshd->port());
  c.dict.setStringForKey("password", "not-the-password");
  EXPECT_EQ(c.Connect(), 0);
  EXPECT_FALSE(c.conn.IsConnected());
  // The server then asks through keyboard-interactive; nobody answers.
  ASSERT_EQ(prompts.entries.size(), 1u) << prompts.All();
  EXPECT_EQ(prompts.entries[0].msg, "Keyboard interactive: " + prompts.entries[0].title);
  EXPECT_EQ(prompts.errors, (std::vector<std::string>{"E:Unable to authenticate using password.",
                                                      "F:All authentication methods rejected."}));
}

TEST_F(SshAllMethods, UserNameAskedWhenMissing) {
  TrustServer();
  {
    Client c(sshd->port());
    c.dict.setStringForKey("user", "");
    EXPECT_EQ(c.Connect(), 0);
    ASSERT_EQ(prompts.entries.size(), 1u);
    EXPECT_EQ(prompts.entries[0].title, "Username required");
    EXPECT_FALSE(prompts.entries[0].isPassword);
    EXPECT_EQ(prompts.entries[0].saveMsg, "Save Username");
    EXPECT_EQ(prompts.errors, std::vector<std::string>{"F:Unable to continue without a username."});
  }
  prompts.entries.clear();
  prompts.errors.clear();
  prompts.answers = {{3, g_account.user}};
  Client c(sshd->port());
  c.dict.setStringForKey("user", "");
  ASSERT_GT(c.Connect(), 0) << prompts.All();
  EXPECT_EQ(c.dict.stringValueForKey("user"), g_account.user);
  EXPECT_TRUE(c.Shell("echo U-$((6*7))", "U-42"));
}

TEST_F(SshAllMethods, DefaultKeyIsUsedOnlyWhenPublicKeysAreEnabled) {
  struct Case {
    int usePub, useAuth;
    const char* accepted;
  } cases[] = {
      {1, 0, "Accepted publickey for "}, {0, 1, "Accepted publickey for "}, {0, 0, "Accepted password for "}};
  TrustServer();
  InstallDefaultKey();
  for (const auto& k : cases) {
    SCOPED_TRACE("usePub " + std::to_string(k.usePub) + " useAuth " + std::to_string(k.useAuth));
    size_t logged = sshd->Log().size();
    Client c(sshd->port());
    c.dict.setIntForKey("usePub", k.usePub);
    c.dict.setIntForKey("useAuth", k.useAuth);
    ASSERT_GT(c.Connect(), 0) << prompts.All();
    EXPECT_TRUE(c.Shell("echo K-$((6*7))", "K-42"));
    EXPECT_TRUE(sshd->LogHas(k.accepted + g_account.user, logged));
    EXPECT_TRUE(prompts.entries.empty() && prompts.errors.empty()) << prompts.All();
  }
}

TEST_F(SshAllMethods, ProtectedKeyWithItsPassphrase) {
  TrustServer();
  size_t logged = sshd->Log().size();
  std::string pub = g_account.secretKey() + ".pub";
  {
    SCOPED_TRACE("passphrase in the settings: no prompt");
    Client c(sshd->port(), false);
    c.dict.setIntForKey("usePub", 1);
    c.dict.setStringForKey("sshPublicKey", pub.c_str());
    c.dict.setStringForKey("sshPassphrase", g_account.passphrase.c_str());
    ASSERT_GT(c.Connect(), 0) << prompts.All();
    EXPECT_TRUE(c.Shell("echo S-$((6*7))", "S-42"));
    EXPECT_TRUE(prompts.entries.empty() && prompts.errors.empty()) << prompts.All();
  }
  {
    SCOPED_TRACE("passphrase typed and saved");
    sshtest::SecretStore store;
    prompts.answers = {{3, g_account.passphrase}};
    Client c(sshd->port(), false);
    c.dict.setIntForKey("usePub", 1);
    c.dict.setStringForKey("sshPublicKey", pub.c_str());
    ASSERT_GT(c.Connect(), 0) << prompts.All();
    ASSERT_EQ(prompts.entries.size(), 1u) << prompts.All();
    EXPECT_EQ(prompts.entries[0].title, "Private key passphrase");
    EXPECT_EQ(prompts.entries[0].msg, "Please enter your passphrase for your private key");
    EXPECT_EQ(prompts.entries[0].saveMsg, "Save Passphrase");
    EXPECT_TRUE(prompts.entries[0].isPassword);
    EXPECT_EQ(store.secrets, std::vector<std::string>{g_account.passphrase});
    EXPECT_EQ(c.dict.stringValueForKey("sshPassphraseHash"), "tok-1");
    EXPECT_EQ(c.dict.text().find(g_account.passphrase), std::string::npos) << c.dict.text();
    EXPECT_TRUE(c.Shell("echo T-$((6*7))", "T-42"));
  }
  EXPECT_TRUE(sshd->LogHas("Accepted publickey for " + g_account.user, logged));
  EXPECT_EQ(sshd->Log().find("Accepted password for", logged), std::string::npos);
}

TEST_F(SshAllMethods, KeyProblemsFallBackToTheConfiguredPassword) {
  TrustServer();
  struct Case {
    const char* name;
    std::string key, passphrase, error;
  } cases[] = {
      {"wrong passphrase", g_account.secretKey(), "wrong", "E:Error reading private key."},
      // The refused key's passphrase must not be sent as the password.
      {"key the server does not know", g_account.strangerKey(), "stranger-passphrase",
       "E:Error connecting to 127.0.0.1: Public key rejected."},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    prompts.errors.clear();
    Client c(sshd->port());
    c.dict.setIntForKey("usePub", 1);
    c.dict.setStringForKey("sshPublicKey", (k.key + ".pub").c_str());
    c.dict.setStringForKey("sshPassphrase", k.passphrase.c_str());
    ASSERT_GT(c.Connect(), 0) << prompts.All();
    EXPECT_EQ(prompts.errors, std::vector<std::string>{k.error});
    EXPECT_TRUE(prompts.entries.empty()) << prompts.All();
    EXPECT_TRUE(c.Shell("echo F-$((6*7))", "F-42"));
  }
}

TEST_F(SshAllMethods, ServerDemandingKeyAndPasswordGetsBoth) {
  TrustServer();
  home.Trust(twoStepPort, sshd->hostKeyLine());
  InstallDefaultKey();
  Client c(twoStepPort);
  c.dict.setIntForKey("usePub", 1);
  ASSERT_GT(c.Connect(), 0) << prompts.All();
  EXPECT_TRUE(c.Shell("echo B-$((6*7))", "B-42"));
  EXPECT_TRUE(sshd->LogHas("Partial publickey for " + g_account.user));
  EXPECT_TRUE(sshd->LogHas("Accepted password for " + g_account.user));
}

TEST_F(SshAllMethods, UnknownHostKeyIsShownAndWrittenToKnownHosts) {
  std::string expectedHash = sshtest::Sha1Hex(sshd->hostKeyLine()) + "\n" +
                             sshtest::Sha256Fingerprint(sshd->dir() + "/host_key.pub");
  ASSERT_EQ(expectedHash.find("SHA256:"), 60u) << expectedHash;  // 20 pairs, then the fingerprint
  {
    SCOPED_TRACE("refused");
    prompts.yesno = 0;
    Client c(sshd->port());
    EXPECT_EQ(c.Connect(), 0);
    ASSERT_EQ(prompts.yesnos.size(), 1u);
    EXPECT_EQ(prompts.yesnos[0].title, "");
    EXPECT_EQ(prompts.yesnos[0].text, "The server is unknown. Do you trust the host key\n\n" + expectedHash);
    EXPECT_TRUE(prompts.errors.empty()) << prompts.All();
    EXPECT_EQ(access(home.knownHosts().c_str(), F_OK), -1);
  }
  prompts.yesnos.clear();
  prompts.yesno = 1;
  {
    SCOPED_TRACE("trusted");
    Client c(sshd->port());
    ASSERT_GT(c.Connect(), 0) << prompts.All();
    EXPECT_EQ(prompts.yesnos.size(), 1u);
    std::string blob = sshd->hostKeyLine().substr(sshd->hostKeyLine().find(' ') + 1);
    EXPECT_NE(sshtest::ReadFile(home.knownHosts()).find(blob), std::string::npos)
        << sshtest::ReadFile(home.knownHosts());
  }
  prompts.yesnos.clear();
  {
    SCOPED_TRACE("known from now on");
    Client c(sshd->port());
    ASSERT_GT(c.Connect(), 0) << prompts.All();
    EXPECT_TRUE(prompts.yesnos.empty()) << prompts.All();
  }
}

TEST_F(SshAllMethods, ChangedHostKeyAsksUnlessFingerprintsAreAccepted) {
  std::string stranger = sshtest::ReadFile(g_account.strangerKey() + ".pub");
  stranger = stranger.substr(0, stranger.find(" stranger"));
  std::string blob = sshd->hostKeyLine().substr(sshd->hostKeyLine().find(' ') + 1);
  std::string expectedHash = sshtest::Sha1Hex(sshd->hostKeyLine()) + "\n" +
                             sshtest::Sha256Fingerprint(sshd->dir() + "/host_key.pub");
  struct Case {
    int accept, answer;
    size_t asked;
    bool connects;
  } cases[] = {{0, 0, 1, false}, {0, 1, 1, true}, {1, 0, 0, true}};
  for (const auto& k : cases) {
    SCOPED_TRACE("AcceptSSHFingerprints " + std::to_string(k.accept) + " answer " + std::to_string(k.answer));
    TempHome fresh;
    fresh.Trust(sshd->port(), stranger);
    prompts.yesnos.clear();
    prompts.yesno = k.answer;
    Client c(sshd->port());
    c.dict.setIntForKey("AcceptSSHFingerprints", k.accept);
    int fd = c.Connect();
    EXPECT_EQ(fd > 0, k.connects) << prompts.All();
    ASSERT_EQ(prompts.yesnos.size(), k.asked);
    if (k.asked) {
      EXPECT_EQ(prompts.yesnos[0].title, "Unknown server");
      EXPECT_EQ(prompts.yesnos[0].text, "The key to this server has changed. It is now\n\n" + expectedHash +
                                            "\n\nContinue connecting?");
    }
    EXPECT_EQ(sshtest::ReadFile(fresh.knownHosts()).find(blob) != std::string::npos, k.connects);
    if (!k.connects) continue;
    // The key accepted is known from now on, though the old line stays.
    prompts.yesnos.clear();
    prompts.yesno = 0;
    Client again(sshd->port());
    EXPECT_GT(again.Connect(), 0) << prompts.All();
    EXPECT_TRUE(prompts.yesnos.empty()) << prompts.All();
  }
}

TEST_F(SshAllMethods, WindowSizeAtStartAndOnResize) {
  TrustServer();
  Client c(sshd->port());
  c.dict.setIntForKey("lines", 33);
  c.dict.setIntForKey("col", 91);
  ASSERT_GT(c.Connect(), 0) << prompts.All();
  // The doubled space is not in the echoed command line.
  EXPECT_TRUE(c.Shell("stty size | sed 's/ /  /'", "33  91"));
  c.conn.ChangePtySize(30, 100);
  EXPECT_TRUE(c.Shell("stty size | sed 's/ /  /'", "30  100"));
  c.conn.ChangePtySize(40, 120);
  EXPECT_TRUE(c.Shell("stty size | sed 's/ /  /'", "40  120"));
}

// More than the server's channel window while the shell does not read:
// what the window cannot take waits and goes out as it opens.  (The
// terminal is raw: with echo off in line mode sshd answers each write to
// the pty with an equally long "ignore" message, beyond what a client may
// accept once the pty takes a large chunk.)
TEST_F(SshAllMethods, LargeInputArrivesWhole) {
  TrustServer();
  Client c(sshd->port());
  ASSERT_GT(c.Connect(), 0) << prompts.All();
  ASSERT_TRUE(c.Shell("stty raw -echo; echo R-$((6*7)); sleep 2; head -c $((2500 * 1000)) | wc -c", "R-42"));
  std::string line(99, 'x');
  line += '\n';
  std::string bulk;
  for (int i = 0; i < 25000; ++i) bulk += line;
  c.Send(bulk);
  EXPECT_TRUE(c.pump.WaitFor("2500000", std::chrono::seconds(60)))
      << c.pump.data().substr(c.pump.data().size() > 2000 ? c.pump.data().size() - 2000 : 0);
}

// A server that falls silent while the login blocks ends the attempt after
// `sshTimeout` instead of holding the session forever.
TEST_F(SshAllMethods, SilentServerEndsTheLoginAtTheTimeout) {
  prompts.onYesNo = [] { sshd->Freeze(); };  // the host-key question comes first
  Client c(sshd->port());
  c.dict.setIntForKey("sshTimeout", 2);
  auto start = kvxtest::Clock::now();
  EXPECT_EQ(c.Connect(), 0);
  // The setting, not the default, ended it (a wide margin for a loaded machine).
  EXPECT_LT(kvxtest::Clock::now() - start, std::chrono::seconds(kSshDefaultTimeout / 2));
  sshd->Thaw();
  EXPECT_EQ(prompts.yesnos.size(), 1u);
  EXPECT_EQ(prompts.errors, std::vector<std::string>{"F:All authentication methods rejected."});
  EXPECT_FALSE(c.conn.IsConnected());
}

TEST_F(SshAllMethods, NothingListeningIsAFatalConnectError) {
  Client c(kvxtest::FreePort());
  EXPECT_EQ(c.Connect(), 0);
  ASSERT_EQ(prompts.errors.size(), 1u) << prompts.All();
  EXPECT_EQ(prompts.errors[0].rfind("F:Error connecting to 127.0.0.1: ", 0), 0u) << prompts.All();
  EXPECT_FALSE(c.conn.IsConnected());
  char buf[64];
  EXPECT_EQ(c.conn.Read(buf, sizeof buf), -1);
  EXPECT_EQ(c.conn.HasData(), -1);
}

// sshd that accepts keyboard-interactive only.
class SshKeyboardInteractive : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!g_accountSkip.empty()) return;
    sshd = new sshtest::Sshd;
    skip = sshd->Start("AuthenticationMethods keyboard-interactive\n");
  }
  static void TearDownTestSuite() {
    delete sshd;
    sshd = nullptr;
  }
  void SetUp() override {
    if (!g_accountSkip.empty()) GTEST_SKIP() << g_accountSkip;
    if (!skip.empty()) GTEST_SKIP() << skip;
    home.Trust(sshd->port(), sshd->hostKeyLine());
  }
  static sshtest::Sshd* sshd;
  static std::string skip;
  TempHome home;
  Prompts prompts;
};
sshtest::Sshd* SshKeyboardInteractive::sshd = nullptr;
std::string SshKeyboardInteractive::skip;

TEST_F(SshKeyboardInteractive, QuestionsAreAnsweredThroughThePrompts) {
  prompts.answers = {{1, g_account.password}};
  Client c(sshd->port());  // the supplied password is no use here
  ASSERT_GT(c.Connect(), 0) << prompts.All();
  ASSERT_EQ(prompts.entries.size(), 1u) << prompts.All();
  EXPECT_EQ(prompts.entries[0].title, "Password: ");
  EXPECT_EQ(prompts.entries[0].msg, "Keyboard interactive: Password: ");
  EXPECT_EQ(prompts.entries[0].saveMsg, "");
  EXPECT_TRUE(prompts.entries[0].isPassword);
  EXPECT_TRUE(c.Shell("echo I-$((6*7))", "I-42"));
  EXPECT_TRUE(sshd->LogHas("Accepted keyboard-interactive/pam for " + g_account.user));
  EXPECT_TRUE(prompts.errors.empty()) << prompts.All();
}

TEST_F(SshKeyboardInteractive, CancelledQuestionRejectsEverything) {
  Client c(sshd->port());
  EXPECT_EQ(c.Connect(), 0);
  EXPECT_EQ(prompts.entries.size(), 1u) << prompts.All();
  EXPECT_EQ(prompts.errors, std::vector<std::string>{"F:All authentication methods rejected."});
  EXPECT_FALSE(c.conn.IsConnected());
}

}  // namespace
