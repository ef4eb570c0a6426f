// The telnet connection against real peers on 127.0.0.1: inetutils telnetd
// behind socat (logging in as a throwaway user), the same behind stunnel as
// telnet over TLS from the first byte with the server verified, and a socat
// TLS listener that demands a PKCS#12 client certificate.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "conn_test_util.h"
#include "emulation_ids.h"
#include "lumdict.h"
#include "telnetconnection.h"

namespace {

using kvxtest::Background;
using kvxtest::PromptRecorder;
using kvxtest::Pump;

std::string g_user, g_password, g_skip;
int g_telnetPort = 0;
Background* g_telnetd = nullptr;
kvxtest::TestCert* g_cert = nullptr;

class RealPeers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (getuid() != 0) {
      g_skip = "needs root to create the throwaway login user";
      return;
    }
    g_skip = kvxtest::Need({"/usr/sbin/telnetd", "socat"});
    if (!g_skip.empty()) return;
    g_user = "kvxtn" + std::to_string(getpid() % 100000);
    g_password = "Kvx-" + std::to_string(getpid()) + "-pw";
    kvxtest::Run("userdel -r " + g_user + " >/dev/null 2>&1");
    if (kvxtest::Run("useradd -m -s /bin/sh " + g_user) != 0 ||
        kvxtest::Run("echo '" + g_user + ":" + g_password + "' | chpasswd") != 0) {
      g_skip = "could not create the login user";
      return;
    }
    g_telnetPort = kvxtest::FreePort();
    g_telnetd = new Background("exec socat TCP-LISTEN:" + std::to_string(g_telnetPort) +
                               ",bind=127.0.0.1,reuseaddr,fork EXEC:\"/usr/sbin/telnetd -h\",nofork");
    if (!kvxtest::WaitListening(g_telnetPort)) g_skip = "socat did not start listening";
    g_cert = new kvxtest::TestCert(kvxtest::TestCert::Make("localhost", "DNS:localhost,IP:127.0.0.1"));
  }
  static void TearDownTestSuite() {
    delete g_telnetd;
    g_telnetd = nullptr;
    if (!g_user.empty()) kvxtest::Run("userdel -r " + g_user + " >/dev/null 2>&1");
    if (g_cert) kvxtest::Run("rm -rf " + g_cert->dir);
    delete g_cert;
    g_cert = nullptr;
  }
  void SetUp() override {
    if (!g_skip.empty()) GTEST_SKIP() << g_skip;
  }
};

void Send(LumConnection& conn, const std::string& s) {
  conn.Comout(s.data(), static_cast<int>(s.size()));
}

// Logs in through the prompts of login(1) and runs a command.
void LoginAndRun(LumConnection& conn, Pump& pump) {
  ASSERT_TRUE(pump.WaitFor("login: ")) << pump.data();
  Send(conn, g_user + "\r\n");
  ASSERT_TRUE(pump.WaitFor("assword")) << pump.data();
  Send(conn, g_password + "\r\n");
  // Typed-ahead input is flushed by login: wait for the shell's prompt.
  ASSERT_TRUE(pump.WaitFor("$ ")) << pump.data();
  Send(conn, "echo telnet-$((6*7))\r\n");
  ASSERT_TRUE(pump.WaitFor("telnet-42")) << pump.data();
  Send(conn, "exit\r\n");
  EXPECT_TRUE(pump.WaitClosed());
}

TEST_F(RealPeers, PlainTelnetLogin) {
  PromptRecorder prompts;
  LumDict dict;
  dict.setStringForKey("node", "127.0.0.1");
  dict.setIntForKey("port", g_telnetPort);
  dict.setIntForKey("emulate", KVX_EM_VT100);
  LumTelnetConnection conn;
  conn.UseDictionary(&dict);
  Pump pump(&conn);
  ASSERT_GT(pump.Connect(), 0);
  LoginAndRun(conn, pump);
  EXPECT_TRUE(conn.parser().local(24));  // telnetd asked for the terminal type
  EXPECT_TRUE(prompts.errors.empty()) << prompts.AllErrors();
}

TEST_F(RealPeers, TelnetOverTlsThroughStunnel) {
  if (std::string why = kvxtest::Need({"stunnel4"}); !why.empty()) GTEST_SKIP() << why;
  int tlsPort = kvxtest::FreePort();
  std::string conf = g_cert->dir + "/stunnel.conf";
  std::ofstream(conf) << "foreground = yes\npid =\n[telnets]\naccept = 127.0.0.1:" << tlsPort
                      << "\nconnect = 127.0.0.1:" << g_telnetPort << "\ncert = " << g_cert->cert
                      << "\nkey = " << g_cert->key << "\n";
  Background stunnel("exec stunnel4 " + conf + " >/dev/null 2>&1");
  ASSERT_TRUE(kvxtest::WaitListening(tlsPort));

  PromptRecorder prompts;
  LumDict dict;
  dict.setStringForKey("node", "localhost");
  dict.setIntForKey("port", tlsPort);
  dict.setIntForKey("emulate", KVX_EM_VT100);
  dict.setIntForKey("commtype", 8);
  dict.setStringForKey("useStartTLS", "0");
  dict.setIntForKey("sslVerifyServer", 1);
  dict.setStringForKey("sslCAFile", g_cert->cert.c_str());
  LumTelnetConnection conn;
  conn.UseDictionary(&dict);
  Pump pump(&conn);
  ASSERT_GT(pump.Connect(), 0) << prompts.AllErrors();
  EXPECT_TRUE(conn.tlsActive());
  LoginAndRun(conn, pump);
  for (const auto& e : prompts.errors) EXPECT_EQ(e, "E:SSL: Remote disconnected");  // stunnel closes politely
}

class ClientCertificate : public RealPeers {
 protected:
  void SetUp() override {
    RealPeers::SetUp();
    if (IsSkipped()) return;
    dir = g_cert->dir;
    ASSERT_EQ(kvxtest::Run("cd " + dir +
                           " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=kvx-client"
                           " -keyout client.key -out client.crt >/dev/null 2>&1"
                           " && openssl pkcs12 -export -in client.crt -inkey client.key -out client.p12"
                           " -passout pass:p12-secret >/dev/null 2>&1"),
              0);
    port = kvxtest::FreePort();
    socat = std::make_unique<Background>(
        "exec socat OPENSSL-LISTEN:" + std::to_string(port) +
        ",bind=127.0.0.1,reuseaddr,fork,cert=" + g_cert->cert + ",key=" + g_cert->key + ",cafile=" + dir +
        "/client.crt,verify=1 SYSTEM:'echo client-cert-ok; sleep 3'" + " 2>/dev/null");
    ASSERT_TRUE(kvxtest::WaitListening(port));
  }
  void Configure(LumDict& dict, const char* password) {
    dict.setStringForKey("node", "127.0.0.1");
    dict.setIntForKey("port", port);
    dict.setIntForKey("commtype", 8);
    dict.setStringForKey("sslPrivateKey", (dir + "/client.p12").c_str());
    dict.setStringForKey("sslPrivateKeyPassword", password);
    dict.setStringForKey("sslCAFile", g_cert->cert.c_str());  // a client certificate turns verification on
  }
  std::string dir;
  int port = 0;
  std::unique_ptr<Background> socat;
};

TEST_F(ClientCertificate, WrongPasswordIsAskedForAgain) {
  PromptRecorder prompts;
  prompts.entryAnswers = {"still-wrong", "p12-secret"};
  LumDict dict;
  Configure(dict, "wrong");
  LumTelnetConnection conn;
  conn.UseDictionary(&dict);
  Pump pump(&conn);
  ASSERT_GT(pump.Connect(), 0) << prompts.AllErrors();
  EXPECT_EQ(prompts.entries, (std::vector<std::string>{"Private Key Password", "Private Key Password"}));
  ASSERT_TRUE(pump.WaitFor("client-cert-ok")) << pump.data() << prompts.AllErrors();
}

TEST_F(ClientCertificate, CancelledPasswordConnectsWithoutCertificateAndIsRejected) {
  PromptRecorder prompts;  // no answers: the prompt is cancelled
  LumDict dict;
  Configure(dict, "wrong");
  LumTelnetConnection conn;
  conn.UseDictionary(&dict);
  Pump pump(&conn);
  int r = pump.Connect();
  EXPECT_EQ(prompts.entries.size(), 1u);
  if (r > 0) {
    EXPECT_TRUE(pump.WaitClosed());
  }
  EXPECT_EQ(pump.data().find("client-cert-ok"), std::string::npos);
  // The server's fatal alert (TLS 1.3: certificate required) reaches the person.
  EXPECT_TRUE(prompts.HasError("F:SSL: Unknown Error (116, ")) << prompts.AllErrors();
}

}  // namespace
