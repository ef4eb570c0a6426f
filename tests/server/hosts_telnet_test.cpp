// Telnet hosts through the real binary, as a browser sees them: a host that
// cannot be resolved, a refused connection, a connect that never completes
// (the session gives up after 20 seconds), a TLS handshake that fails and a
// server certificate that fails verification each reach the browser as an
// error prompt, and the same session then connects to a working host.  A
// START_TLS host switches to TLS in-band and the screen shows what it sends
// through TLS.
//
// The tests run in a private network namespace when they can (as root), so
// that a name lookup never leaves the machine; everything else is on
// 127.0.0.1.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "conn_test_util.h"
#include "emulation_ids.h"
#include "kvx_browser.h"
#include "kvx_test.h"

using kvxtest::HttpResponse;
using kvxtest::PeerLink;
using kvxtest::ScriptedPeer;
using kvxtest::TestBrowser;

namespace {

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}
constexpr int IAC = 255, SB = 250, SE = 240, WILL = 251, DO = 253;

// The settings object of a telnet host, as the page posts it.
std::string TelnetConfig(int commtype, const std::string& node, int port, const std::string& extra = "",
                         bool disconnect = false) {
  return "{\"kcf\":{\"commtype\":" + std::to_string(commtype) + ",\"node\":" + kvxtest::JsonString(node) +
         ",\"port\":" + std::to_string(port) + ",\"emulate\":" + std::to_string(KVX_EM_XTERM) +
         ",\"MBMode\":1,\"lines\":24,\"col\":80" + extra + "},\"connectToHost\":true" +
         (disconnect ? ",\"disconnectFromHost\":true" : "") + "}";
}

// Moves this process (and so the server and sessions it starts) into a
// network namespace of its own with only a loopback interface.
std::string EnterPrivateNetwork() {
  if (unshare(CLONE_NEWNET) != 0) return std::string("no private network namespace: ") + strerror(errno);
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  struct ifreq ifr = {};
  strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = s >= 0 && ioctl(s, SIOCGIFFLAGS, &ifr) == 0 && (ifr.ifr_flags |= IFF_UP, true) &&
            ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
  if (s >= 0) close(s);
  return up ? std::string() : std::string("loopback of the private namespace stays down: ") + strerror(errno);
}

std::string g_noPrivateNetwork;  // why the tests run in the machine's own namespace

class TelnetHosts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { g_noPrivateNetwork = EnterPrivateNetwork(); }
  void SetUp() override {
    server = std::make_unique<kvxtest::KavrixServer>();
    ASSERT_TRUE(browser.NewSession(server->port())) << server->err();
  }
  // Posts a failing host before the browser attaches (the connect starts
  // when it does), expects one error prompt with `expected` at its start and
  // a disconnected host, then connects the same session to a working host.
  void ExpectErrorThenRecover(const std::string& config, const std::string& expected, double seconds = 40) {
    ASSERT_EQ(kvxtest::EnvelopeCode(browser.PostConfig(config).body), 0);
    ASSERT_TRUE(browser.Attach());
    ASSERT_TRUE(browser.WaitError(seconds)) << browser.Describe();
    auto errors = browser.Errors();
    ASSERT_EQ(errors.size(), 1u) << browser.Describe();
    EXPECT_EQ(errors[0].substr(0, expected.size()), expected) << browser.Describe();
    EXPECT_EQ(browser.Count(KVX_HOST_ACTION_SHOW_FATAL_ERROR), 1);
    EXPECT_EQ(browser.prompts[0].fields[0], "1") << "fatal";

    ScriptedPeer peer([](PeerLink& link) {
      link.Send("welcome-back\r\n");
      link.Expect("bye", std::chrono::seconds(15));
    });
    auto posted = browser.PostConfigAsync(TelnetConfig(0, "127.0.0.1", peer.port(), "", true));
    // The host's first bytes may be on the screen before the browser is told
    // that it is connected.
    ASSERT_TRUE(browser.WaitText("welcome-back")) << browser.Describe();
    ASSERT_TRUE(browser.WaitConnected()) << browser.Describe();
    EXPECT_EQ(kvxtest::EnvelopeCode(posted.get().body), 0);
    EXPECT_EQ(browser.Errors().size(), 1u) << browser.Describe();
    browser.Type("bye");
    EXPECT_TRUE(peer.Join());
  }
  std::unique_ptr<kvxtest::KavrixServer> server;
  TestBrowser browser;
};

TEST_F(TelnetHosts, UnresolvableHost) {
  if (!g_noPrivateNetwork.empty())
    GTEST_SKIP() << g_noPrivateNetwork << "; a name lookup could leave the machine";
  ExpectErrorThenRecover(TelnetConfig(0, "no-such-host.invalid", 23),
                         "Could not resolve the hostname no-such-host.invalid");
}

TEST_F(TelnetHosts, RefusedConnection) {
  ExpectErrorThenRecover(TelnetConfig(0, "127.0.0.1", kvxtest::FreePort()), "Connection to 127.0.0.1 failed");
}

// A listener that never accepts and whose queue is full drops the SYN of
// every further connect, so the connect stays pending until the session's
// 20 seconds run out.
TEST_F(TelnetHosts, ConnectThatNeverCompletesTimesOut) {
  kvxtest::BacklogFullListener full;
  ASSERT_GT(full.port(), 0);
  if (!full.DropsConnects()) GTEST_SKIP() << "a listener with a full queue still completes connects here";
  auto start = kvxtest::Clock::now();
  ExpectErrorThenRecover(TelnetConfig(0, "127.0.0.1", full.port()), "Connection timed out.", 60);
  EXPECT_GE(kvxtest::Clock::now() - start, std::chrono::seconds(20));
}

TEST_F(TelnetHosts, TlsHandshakeFailure) {
  // A plain host where TLS from the first byte is expected.
  ScriptedPeer plain([](PeerLink& link) {
    link.Send("this is no TLS server\r\n");
    link.Expect("never sent", std::chrono::seconds(15));
  });
  ExpectErrorThenRecover(TelnetConfig(8, "127.0.0.1", plain.port()), "SSL: Handshake failed (");
}

TEST_F(TelnetHosts, TlsVerificationFailure) {
  kvxtest::TestCert cert = kvxtest::TestCert::Make("localhost", "DNS:localhost,IP:127.0.0.1");
  ScriptedPeer tls([](PeerLink& link) { link.Expect("never sent", std::chrono::seconds(5)); }, true,
                   cert.cert, cert.key);
  ExpectErrorThenRecover(TelnetConfig(8, "127.0.0.1", tls.port(), ",\"sslVerifyServer\":1"),
                         "SSL: Certificate verification failed (self-signed certificate)");
  kvxtest::Run("rm -rf " + cert.dir);
}

TEST_F(TelnetHosts, StartTlsSwitchesInBand) {
  kvxtest::TestCert cert = kvxtest::TestCert::Make("localhost", "DNS:localhost,IP:127.0.0.1");
  ScriptedPeer peer([&](PeerLink& link) {
    link.Send(B({IAC, DO, 46}));
    ASSERT_TRUE(link.Expect(B({IAC, WILL, 46, IAC, SB, 46, 1, IAC, SE})));
    link.Send(B({IAC, SB, 46, 1, IAC, SE}));
    ASSERT_TRUE(link.StartTlsServer(cert.cert, cert.key));
    link.setMark();
    link.Send(B({IAC, DO, 24}) + "secure-hello\r\n");
    ASSERT_TRUE(link.Expect(B({IAC, WILL, 24})));
    ASSERT_TRUE(link.Expect("typed-through-tls"));
    link.Send("\r\nhost-got-it\r\n");
    link.Expect("bye", std::chrono::seconds(15));
  });
  ASSERT_EQ(kvxtest::EnvelopeCode(browser.PostConfig(TelnetConfig(4, "127.0.0.1", peer.port())).body), 0);
  ASSERT_TRUE(browser.Attach());
  ASSERT_TRUE(browser.WaitText("secure-hello")) << browser.Describe();
  ASSERT_TRUE(browser.WaitConnected()) << browser.Describe();
  browser.Type("typed-through-tls");
  ASSERT_TRUE(browser.WaitText("host-got-it")) << browser.Describe();
  EXPECT_TRUE(browser.prompts.empty()) << browser.Describe();
  browser.Type("bye");
  EXPECT_TRUE(peer.Join());
  kvxtest::Run("rm -rf " + cert.dir);
}

}  // namespace
