// The telnet connection against scripted peers on 127.0.0.1: negotiation as
// the host sees it, data and record marks as the session sees them, IAC
// doubling, keep-alives, START_TLS, TLS from the first byte with and
// without server verification, and the connect errors.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "conn_test_util.h"
#include "emulation_ids.h"
#include "lumdict.h"
#include "telnetconnection.h"

namespace {

using kvxtest::PeerLink;
using kvxtest::PromptRecorder;
using kvxtest::Pump;
using kvxtest::ScriptedPeer;

constexpr int IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240, NOP = 241,
              EOR = 239;

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

struct Telnet {
  LumDict dict;
  LumTelnetConnection conn;
  Telnet(int port, std::initializer_list<std::pair<const char*, const char*>> settings) {
    dict.setStringForKey("node", "127.0.0.1");
    dict.setIntForKey("port", port);
    dict.setIntForKey("emulate", KVX_EM_VT100);
    for (const auto& kv : settings) dict.setStringForKey(kv.first, kv.second);
    conn.UseDictionary(&dict);
  }
  void Send(const std::string& s) { conn.Comout(s.data(), static_cast<int>(s.size())); }
};

TEST(TelnetConnection, NegotiationDataAndRecordMarks) {
  std::string subneg200 = B({IAC, SB, 99});
  for (int i = 0; i < 200; ++i) subneg200 += static_cast<char>('a' + i % 26);
  subneg200 += B({IAC, SE});
  ScriptedPeer peer([&](PeerLink& link) {
    link.Send(B({IAC, DO, 31, IAC, DO, 24, IAC, WILL, 1, IAC, WILL, 3, IAC, DO, 24}));
    ASSERT_TRUE(link.Expect(B({IAC, WONT, 31})));
    ASSERT_TRUE(link.Expect(B({IAC, WILL, 24})));
    ASSERT_TRUE(link.Expect(B({IAC, DO, 1, IAC, DO, 3})));
    link.Send(B({IAC, SB, 24, 1, IAC, SE}));
    ASSERT_TRUE(link.Expect(B({IAC, SB, 24, 0}) + "vt220" + B({IAC, SE})));
    link.Send(subneg200 + "rec1" + B({IAC, EOR}) + "x" + B({IAC, IAC}) + "y" + B({IAC, NOP}) + "|end|");
    ASSERT_TRUE(link.Expect("k\xff\xffz|keys|"));
    // Exactly one WILL TERMINAL-TYPE for the two requests.
    const std::string& got = link.received();
    EXPECT_EQ(got.find(B({IAC, WILL, 24})), got.rfind(B({IAC, WILL, 24})));
  });
  Telnet t(peer.port(), {{"teltermtype", "vt220"}});
  Pump pump(&t.conn);
  int fd = pump.Connect();
  ASSERT_GT(fd, 0);
  EXPECT_TRUE(t.conn.IsConnected());
  EXPECT_EQ(t.conn.HasData(), 0);
  ASSERT_TRUE(pump.WaitFor("|end|")) << pump.data();
  EXPECT_EQ(pump.data(), "rec1x" + B({IAC}) + "y|end|");
  EXPECT_EQ(pump.recordEnds(), std::vector<size_t>{4});
  EXPECT_TRUE(t.conn.haveEOR());
  EXPECT_TRUE(t.conn.parser().remote(1));
  EXPECT_FALSE(t.conn.parser().local(31));
  t.Send("k\xffz|keys|");
  EXPECT_TRUE(peer.Join());
  t.conn.Disconnect();
  EXPECT_FALSE(t.conn.IsConnected());
  EXPECT_EQ(t.conn.HasData(), -1);
  EXPECT_EQ(t.conn.Read(nullptr, 0), -1);
}

TEST(TelnetConnection, Tn3270eDeviceTypeExchange) {
  const std::string list = B({0, 1, 2, 4});
  ScriptedPeer peer([&](PeerLink& link) {
    link.Send(B({IAC, DO, 24, IAC, SB, 24, 1, IAC, SE}));
    ASSERT_TRUE(link.Expect(B({IAC, SB, 24, 0}) + "IBM-3278-2-E@LU01" + B({IAC, SE})));
    link.Send(B({IAC, DO, 40}));
    ASSERT_TRUE(link.Expect(B({IAC, WILL, 40})));
    link.Send(B({IAC, SB, 40, 8, 2, IAC, SE}));
    ASSERT_TRUE(link.Expect(B({IAC, SB, 40, 2, 7}) + "IBM-3278-2-E" + B({1}) + "LU01" + B({IAC, SE})));
    link.Send(B({IAC, SB, 40, 2, 4}) + "IBM-3278-2-E" + B({1}) + "LU01" + B({IAC, SE}));
    const std::string ours = B({IAC, SB, 40, 3, 7, 0, 2, IAC, SE});
    ASSERT_TRUE(link.Expect(ours));
    // DATA-STREAM-CTL is not built: asked away; SYSREQ, offered, is taken.
    link.Send(B({IAC, SB, 40, 3, 7}) + list + B({IAC, SE}));
    const std::string counter = B({IAC, SB, 40, 3, 7, 0, 2, 4, IAC, SE});
    auto askedAgain = [&] { return link.received().find(counter) != std::string::npos; };
    for (int i = 0; i < 100 && !askedAgain(); i++) link.Drain(std::chrono::milliseconds(20));
    ASSERT_TRUE(askedAgain());
    link.Send(B({IAC, SB, 40, 3, 4, 0, 2, 4, IAC, SE}));
    EXPECT_EQ(link.received().find(B({IAC, WILL, 46})), std::string::npos);  // plain telnet: no TLS offer
    link.Send("ready");
  });
  Telnet t(peer.port(), {{"emulate", std::to_string(KVX_EM_IBM3270_MODEL2).c_str()},
                         {"ibmterminalname", "IBM-3278-2-E"},
                         {"teltermtype", "LU01"}});
  EXPECT_EQ(t.conn.GetEmName(), "IBM-3278-2-E");
  Pump pump(&t.conn);
  ASSERT_GT(pump.Connect(), 0);
  ASSERT_TRUE(pump.WaitFor("ready")) << pump.data();
  EXPECT_EQ(t.conn.Tn3270eFunctions(), 1 << 0 | 1 << 2 | 1 << 4);
  EXPECT_TRUE(peer.Join());
}

TEST(TelnetConnection, NewEnvironDeviceNameIn5250Mode) {
  ScriptedPeer peer([&](PeerLink& link) {
    link.Send(B({IAC, DO, 39, IAC, DO, 24}));
    ASSERT_TRUE(link.Expect(B({IAC, WILL, 39})));
    link.Send(B({IAC, SB, 39, 1, 0, 3}) + "DEVNAME" + B({IAC, SE, IAC, SB, 24, 1, IAC, SE}));
    ASSERT_TRUE(link.Expect(B({IAC, SB, 39, 0, 3}) + "DEVNAME" + B({1}) + "QPADEV0001" + B({3}) + "KBDTYPE" +
                            B({1}) + "FNB" + B({3}) + "CODEPAGE" + B({1}) + "1143" + B({3}) + "CHARSET" + B({1}) +
                            "695" + B({3}) + "IBMSENDCONFREC" + B({1}) + "YES" + B({IAC, SE})));
    ASSERT_TRUE(link.Expect(B({IAC, SB, 24, 0}) + "IBM-3179-2" + B({IAC, SE})));
    link.Send("ready");
  });
  Telnet t(peer.port(), {{"emulate", std::to_string(KVX_EM_IBM5250).c_str()},
                         {"ibmterminalname", "IBM-3179-2"},
                         {"teltermtype", "QPADEV0001"},
                         {"cptrxin", "CP1143"}});
  Pump pump(&t.conn);
  ASSERT_GT(pump.Connect(), 0);
  ASSERT_TRUE(pump.WaitFor("ready")) << pump.data();
  EXPECT_TRUE(peer.Join());
}

TEST(TelnetConnection, EndlessOptionRequestsAreAnsweredWithoutLoops) {
  constexpr int kRequests = 20000;
  ScriptedPeer peer([&](PeerLink& link) {
    std::string flood;
    for (int i = 0; i < kRequests; ++i) flood += B({IAC, DO, 24, IAC, WONT, 47 + i % 200, IAC, WILL, 1});
    // A refused option is refused each time it is asked; it comes before the
    // end mark, so the client has read it by the time it sees the mark.
    link.Send(flood + B({IAC, DO, 31}) + "|end|");
    ASSERT_TRUE(link.Expect(B({IAC, WONT, 31})));
    std::string expected = B({IAC, WILL, 24, IAC, DO, 1, IAC, WONT, 31});
    EXPECT_EQ(link.received(), expected);
  });
  Telnet t(peer.port(), {});
  Pump pump(&t.conn);
  ASSERT_GT(pump.Connect(), 0);
  ASSERT_TRUE(pump.WaitFor("|end|"));
  EXPECT_EQ(pump.data(), "|end|");
  EXPECT_TRUE(peer.Join());
}

TEST(TelnetConnection, KeepAliveSendsNop) {
  ScriptedPeer peer([&](PeerLink& link) {
    ASSERT_TRUE(link.Expect(B({IAC, NOP})));
    link.setMark();
    ASSERT_TRUE(link.Expect(B({IAC, NOP})));  // the next one, once the interval has passed
  });
  Telnet t(peer.port(), {{"telnetkeepalive", "1"}});
  EXPECT_EQ(t.conn.KeepAliveCheck(), 0);  // not connected yet
  Pump pump(&t.conn);
  ASSERT_GT(pump.Connect(), 0);
  EXPECT_EQ(t.conn.KeepAliveCheck(), 1);  // first tick after connecting
  EXPECT_EQ(t.conn.KeepAliveCheck(), 0);  // not again within the interval
  auto end = kvxtest::Clock::now() + std::chrono::seconds(10);
  int sent = 0;
  while (sent == 0 && kvxtest::Clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sent = t.conn.KeepAliveCheck();
  }
  EXPECT_EQ(sent, 1);
  EXPECT_TRUE(peer.Join());

  Telnet off(1, {});
  EXPECT_EQ(off.conn.KeepAliveCheck(), 0);
}

// ---- TLS ---------------------------------------------------------------------

class TelnetTls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    good = new kvxtest::TestCert(kvxtest::TestCert::Make("localhost", "DNS:localhost,IP:127.0.0.1"));
    wrongName = new kvxtest::TestCert(kvxtest::TestCert::Make("other.example", "DNS:other.example"));
  }
  static void TearDownTestSuite() {
    kvxtest::Run("rm -rf " + good->dir + " " + wrongName->dir);
    delete good;
    delete wrongName;
  }
  static kvxtest::TestCert* good;
  static kvxtest::TestCert* wrongName;
};
kvxtest::TestCert* TelnetTls::good = nullptr;
kvxtest::TestCert* TelnetTls::wrongName = nullptr;

TEST_F(TelnetTls, StartTlsSwitchesInBand) {
  ASSERT_FALSE(good->cert.empty());
  ScriptedPeer peer([&](PeerLink& link) {
    link.Send(B({IAC, DO, 24, IAC, DO, 46}));
    ASSERT_TRUE(link.Expect(B({IAC, WILL, 46, IAC, SB, 46, 1, IAC, SE})));
    link.Send(B({IAC, SB, 46, 1, IAC, SE}));
    ASSERT_TRUE(link.StartTlsServer(good->cert, good->key));
    link.setMark();
    link.Send(B({IAC, SB, 24, 1, IAC, SE}) + "secure-" + B({IAC, IAC}) + "hello");
    ASSERT_TRUE(link.Expect(B({IAC, SB, 24, 0}) + "vt100" + B({IAC, SE})));
    ASSERT_TRUE(link.Expect("typed" + B({IAC, IAC})));
  });
  PromptRecorder prompts;
  Telnet t(peer.port(), {{"commtype", "4"}});
  EXPECT_TRUE(t.conn._useSSL);
  EXPECT_TRUE(t.conn._useStartTLS);
  Pump pump(&t.conn);
  ASSERT_GT(pump.Connect(), 0);
  ASSERT_TRUE(pump.WaitFor("secure-\xffhello")) << pump.data() << prompts.AllErrors();
  EXPECT_TRUE(t.conn.tlsActive());
  t.Send("typed\xff");
  EXPECT_TRUE(peer.Join());
  EXPECT_TRUE(prompts.errors.empty()) << prompts.AllErrors();
}

// The in-band handshake checks the server as the first-byte one does: a
// certificate nobody vouches for ends the connection with its reason.
TEST_F(TelnetTls, StartTlsVerificationFailureIsShownWithItsReason) {
  ScriptedPeer peer([&](PeerLink& link) {
    link.Send(B({IAC, DO, 46}));
    ASSERT_TRUE(link.Expect(B({IAC, SB, 46, 1, IAC, SE})));
    link.Send(B({IAC, SB, 46, 1, IAC, SE}));
    EXPECT_FALSE(link.StartTlsServer(good->cert, good->key));  // the client gives up on it
  });
  PromptRecorder prompts;
  Telnet t(peer.port(), {{"commtype", "4"}, {"sslVerifyServer", "1"}});
  Pump pump(&t.conn);
  ASSERT_GT(pump.Connect(), 0);
  EXPECT_TRUE(pump.WaitClosed()) << pump.data();
  EXPECT_EQ(prompts.AllErrors(), "[F:SSL: Certificate verification failed (self-signed certificate)]");
  EXPECT_TRUE(peer.Join());
}

TEST_F(TelnetTls, StartTlsRefusedWhenTelnetIsPlain) {
  ScriptedPeer peer([&](PeerLink& link) {
    link.Send(B({IAC, DO, 46}));
    ASSERT_TRUE(link.Expect(B({IAC, WONT, 46})));
    link.Send(B({IAC, SB, 46, 1, IAC, SE}) + "still-plain");
  });
  Telnet t(peer.port(), {{"commtype", "0"}});
  Pump pump(&t.conn);
  ASSERT_GT(pump.Connect(), 0);
  ASSERT_TRUE(pump.WaitFor("still-plain"));
  EXPECT_FALSE(t.conn.tlsActive());
  EXPECT_TRUE(peer.Join());
}

struct VerifyCase {
  const char* name;
  const char* verify;  // sslVerifyServer
  int caFile;          // 0 none, 1 the server's certificate, 2 a certificate for another name
  const char* error;   // expected fatal prompt, or null for success
};

TEST_F(TelnetTls, TlsFromTheFirstByteAndServerVerification) {
  const VerifyCase cases[] = {
      {"default accepts any certificate", "", 0, nullptr},
      {"verification without the CA", "1", 0,
       "SSL: Certificate verification failed (self-signed certificate)"},
      {"verification with the CA", "1", 1, nullptr},
      {"certificate for another name", "1", 2, "SSL: Certificate verification failed (IP address mismatch)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const kvxtest::TestCert* served = c.caFile == 2 ? wrongName : good;
    ScriptedPeer peer(
        [&](PeerLink& link) {
          link.Send("tls-" + B({IAC, DO, 24}) + "data");
          link.Expect(B({IAC, WILL, 24}), std::chrono::seconds(5));
          link.Expect("bye", std::chrono::seconds(5));  // the close must not race the checks
        },
        true, served->cert, served->key);
    PromptRecorder prompts;
    Telnet t(peer.port(), {{"commtype", "8"}, {"sslVerifyServer", c.verify}});
    if (c.caFile) {
      t.dict.setStringForKey("sslCAFile", served->cert.c_str());
      t.conn.UseDictionary(&t.dict);
    }
    EXPECT_FALSE(t.conn._useStartTLS);
    Pump pump(&t.conn);
    int r = pump.Connect();
    if (!c.error) {
      ASSERT_GT(r, 0) << prompts.AllErrors();
      ASSERT_TRUE(pump.WaitFor("tls-data")) << pump.data();
      EXPECT_TRUE(t.conn.tlsActive());
      EXPECT_TRUE(prompts.errors.empty()) << prompts.AllErrors();
      t.Send("bye");
    } else {
      EXPECT_EQ(r, -1);
      EXPECT_FALSE(t.conn.IsConnected());
      ASSERT_EQ(prompts.errors.size(), 1u) << prompts.AllErrors();
      EXPECT_EQ(prompts.errors[0].rfind(std::string("F:") + c.error, 0), 0u) << prompts.AllErrors();
    }
    t.conn.Disconnect();
    peer.Join();
  }
}

// A TLS host that drops the connection without a close notify ends it like
// a plain host that closes: the session learns it from the read, and the
// person is not told of a handshake that had long succeeded.
TEST_F(TelnetTls, HostDroppingTheConnectionAfterTheHandshake) {
  for (const char* commtype : {"8", "4"}) {
    SCOPED_TRACE(std::string("commtype ") + commtype);
    ScriptedPeer peer(
        [&](PeerLink& link) {
          if (commtype[0] == '4') {
            link.Send(B({IAC, DO, 46}));
            ASSERT_TRUE(link.Expect(B({IAC, SB, 46, 1, IAC, SE})));
            link.Send(B({IAC, SB, 46, 1, IAC, SE}));
            ASSERT_TRUE(link.StartTlsServer(good->cert, good->key));
          }
          link.Send("session-data");
          ASSERT_TRUE(link.Expect("ack"));
          link.Abort();
        },
        commtype[0] == '8', good->cert, good->key);
    PromptRecorder prompts;
    Telnet t(peer.port(), {{"commtype", commtype}});
    Pump pump(&t.conn);
    ASSERT_GT(pump.Connect(), 0) << prompts.AllErrors();
    ASSERT_TRUE(pump.WaitFor("session-data")) << pump.data() << prompts.AllErrors();
    t.Send("ack");
    EXPECT_TRUE(pump.WaitClosed());
    EXPECT_TRUE(peer.Join());
    EXPECT_TRUE(prompts.errors.empty()) << prompts.AllErrors();
  }
}

// A paste larger than the socket takes at once, to a host that reads it only
// later, arrives whole and in order (255 doubled), plain and over TLS.
TEST_F(TelnetTls, PasteLargerThanTheSocketArrivesWhole) {
  std::string paste;
  for (int i = 0; paste.size() < 600000; ++i)
    paste += (i % 61 == 0) ? '\xff' : static_cast<char>('a' + i % 26);
  std::string wire;
  for (char c : paste) {
    wire += c;
    if (static_cast<unsigned char>(c) == IAC) wire += c;
  }
  wire += "|end|";
  for (bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "plain");
    std::atomic<bool> typed{false};
    ScriptedPeer peer(
        [&](PeerLink& link) {
          link.Send("hello");
          // Nothing is read until everything has been typed.
          auto end = kvxtest::Clock::now() + std::chrono::seconds(30);
          while (!typed && kvxtest::Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          ASSERT_TRUE(link.Expect("|end|", std::chrono::seconds(60))) << link.received().size();
          EXPECT_EQ(link.received().size(), wire.size());
          EXPECT_TRUE(link.received() == wire) << "the bytes differ";
          link.Send("got-it");
          link.Expect("bye", std::chrono::seconds(15));
        },
        tls, good->cert, good->key);
    PromptRecorder prompts;
    Telnet t(peer.port(), {{"commtype", tls ? "8" : "0"}});
    Pump pump(&t.conn);
    ASSERT_GT(pump.Connect(), 0) << prompts.AllErrors();
    int small = 4096;
    setsockopt(t.conn.fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ASSERT_TRUE(pump.WaitFor("hello")) << pump.data();
    for (size_t pos = 0; pos < paste.size(); pos += 16384) t.Send(paste.substr(pos, 16384));
    t.Send("|end|");
    typed = true;
    EXPECT_TRUE(pump.WaitFor("got-it", std::chrono::seconds(90))) << pump.data();
    t.Send("bye");
    EXPECT_TRUE(peer.Join());
    EXPECT_TRUE(prompts.errors.empty()) << prompts.AllErrors();
    t.conn.Disconnect();
  }
}

// ---- connect errors ----------------------------------------------------------

TEST(TelnetErrors, RefusedConnection) {
  PromptRecorder prompts;
  Telnet t(kvxtest::FreePort(), {});
  Pump pump(&t.conn);
  EXPECT_EQ(pump.Connect(), -1);
  EXPECT_FALSE(t.conn.IsConnected());
  EXPECT_EQ(prompts.AllErrors(), "[F:Connection to 127.0.0.1 failed]");
}

TEST(TelnetErrors, PendingConnectStaysPendingWithoutComplaint) {
  // A listener that never accepts and whose queue is full leaves the next
  // connect hanging in its handshake.
  kvxtest::BacklogFullListener full;
  ASSERT_GT(full.port(), 0);
  PromptRecorder prompts;
  Telnet t(full.port(), {});
  EXPECT_EQ(t.conn.MakeConnection(), -2);
  for (int i = 0; i < 10; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(t.conn.ContinueConnection(), -2);
  }
  EXPECT_TRUE(prompts.errors.empty()) << prompts.AllErrors();
  t.conn.Disconnect();  // what the session does when its 20 s run out
  EXPECT_FALSE(t.conn.IsConnected());
}

TEST(TelnetErrors, NoSystemConnectionAndBadDescriptors) {
  PromptRecorder prompts;
  Telnet sys(23, {{"useSystemConnection", "1"}});
  EXPECT_EQ(sys.conn.MakeConnection(), -1);

  Telnet t(23, {});
  t.dict.setStringForKey("node", "");
  t.conn.UseDictionary(&t.dict);
  EXPECT_EQ(t.conn.MakeConnection(), -1);
  EXPECT_EQ(t.conn.gotFileDescriptor(0), -2);
  EXPECT_EQ(t.conn.ContinueConnection(), -2);
  EXPECT_EQ(t.conn.gotFileDescriptor(-3), -2);
  EXPECT_EQ(t.conn.ContinueConnection(), 0);
  EXPECT_EQ(prompts.AllErrors(), "[F:Could not resolve the hostname ][F:Error connecting to ]");
  t.conn._fd = 0;
}

// Name resolution runs in a private network namespace, so that the lookup
// of a name that does not exist never leaves the machine.
TEST(TelnetErrors, UnresolvableHost) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (unshare(CLONE_NEWNET) != 0) _exit(77);
    PromptRecorder prompts;
    Telnet t(23, {{"node", "no-such-host.invalid"}});
    int r = t.conn.MakeConnection();
    bool ok = r == -1 && prompts.AllErrors() == "[F:Could not resolve the hostname no-such-host.invalid]";
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "needs root to make a private network namespace";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
