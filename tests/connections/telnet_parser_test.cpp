// The telnet byte machine on its own: data and commands, the negotiation
// table, the subnegotiation answers, the caps, and that the way host bytes
// are split across reads never changes the outcome.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "lumdict.h"
#include "station_identity.h"
#include "telnetparser.h"

namespace {

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

struct Result {
  std::string data, replies;
  bool eor = false;
  std::vector<int> ends;  // record ends, as offsets into data
};

// Feeds the bytes the way Read does: read one byte into the buffer, parsed
// down to its start.  A parser that overtakes its input corrupts the data.
Result Feed(LumTelnetParser& p, const std::string& in) {
  std::string buf = "?" + in;
  unsigned char* bytes = reinterpret_cast<unsigned char*>(buf.data());
  int consumed = 0;
  int n = p.Feed(bytes + 1, static_cast<int>(in.size()), bytes, &consumed);
  EXPECT_LE(n, static_cast<int>(in.size()) + 1);
  Result r;
  r.data.assign(buf.data(), static_cast<size_t>(n));
  r.replies = p.replies();
  r.eor = p.takeEOR();
  r.ends = p.recordEnds();
  p.clearReplies();
  return r;
}

LumTelnetSettings Vt() {
  LumTelnetSettings s;
  s.emName = "vt220";
  return s;
}
LumTelnetSettings Ibm3270() {
  LumTelnetSettings s;
  s.emName = "IBM-3278-2-E";
  s.devName = "LU01";
  s.tn3270Mode = true;
  return s;
}
LumTelnetSettings Ibm5250() {
  LumTelnetSettings s;
  s.emName = "IBM-3179-2";
  s.devName = "QPADEV0001";
  s.tn5250Mode = true;
  return s;
}
LumTelnetSettings Ibm5250NoDevice() {
  LumTelnetSettings s = Ibm5250();
  s.devName.clear();
  return s;
}
LumTelnetSettings Tls(LumTelnetSettings s) {
  s.useSSL = true;
  return s;
}

constexpr int IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240, NOP = 241,
              EOR = 239;

struct Case {
  const char* name;
  LumTelnetSettings settings;
  std::string in;
  std::string data;
  std::string replies;
};

TEST(TelnetParser, Table) {
  const std::string ttypeAnswer = B({IAC, SB, 24, 0}) + "vt220" + B({IAC, SE});
  const Case cases[] = {
      {"plain data", Vt(), "hello", "hello", ""},
      {"IAC IAC is one 255", Vt(), B({'a', IAC, IAC, 'b'}), B({'a', IAC, 'b'}), ""},
      {"NOP and GA vanish", Vt(), B({'a', IAC, NOP, 'b', IAC, 249}), "ab", ""},
      {"WILL ECHO accepted", Vt(), B({IAC, WILL, 1}), "", B({IAC, DO, 1})},
      {"WILL NAWS refused", Vt(), B({IAC, WILL, 31}), "", B({IAC, DONT, 31})},
      {"DO NAWS refused", Vt(), B({IAC, DO, 31}), "", B({IAC, WONT, 31})},
      {"DO ECHO refused", Vt(), B({IAC, DO, 1}), "", B({IAC, WONT, 1})},
      {"DO TTYPE accepted", Vt(), B({IAC, DO, 24}), "", B({IAC, WILL, 24})},
      {"DO NEW-ENVIRON refused outside 5250", Vt(), B({IAC, DO, 39}), "", B({IAC, WONT, 39})},
      {"DO NEW-ENVIRON accepted in 5250", Ibm5250(), B({IAC, DO, 39}), "", B({IAC, WILL, 39})},
      {"DO START_TLS without TLS wanted", Vt(), B({IAC, DO, 46}), "", B({IAC, WONT, 46})},
      {"DO START_TLS with TLS wanted", Tls(Vt()), B({IAC, DO, 46}), "",
       B({IAC, WILL, 46, IAC, SB, 46, 1, IAC, SE})},
      {"DO TN3270E volunteers START_TLS", Tls(Ibm3270()), B({IAC, DO, 40}), "",
       B({IAC, WILL, 46, IAC, WILL, 40})},
      {"DO TN3270E plain", Ibm3270(), B({IAC, DO, 40}), "", B({IAC, WILL, 40})},
      {"DO TN3270E refused outside 3270", Vt(), B({IAC, DO, 40}), "", B({IAC, WONT, 40})},
      {"WONT for an option that is off", Vt(), B({IAC, WONT, 1}), "", ""},
      {"DONT for an option that is off", Vt(), B({IAC, DONT, 24}), "", ""},
      {"WONT/DONT above 46 need no answer", Vt(), B({IAC, WONT, 200, IAC, DONT, 200}), "", ""},
      {"WONT after WILL turns it off", Vt(), B({IAC, WILL, 3, IAC, WONT, 3}), "",
       B({IAC, DO, 3, IAC, DONT, 3})},
      {"DONT after DO turns it off", Vt(), B({IAC, DO, 0, IAC, DONT, 0}), "",
       B({IAC, WILL, 0, IAC, WONT, 0})},
      {"repeated DO TTYPE answered once", Vt(), B({IAC, DO, 24, IAC, DO, 24, IAC, DO, 24}), "",
       B({IAC, WILL, 24})},
      {"terminal type", Vt(), B({IAC, DO, 24, IAC, SB, 24, 1, IAC, SE}), "",
       B({IAC, WILL, 24}) + ttypeAnswer},
      {"terminal type not agreed: no answer", Vt(), B({IAC, SB, 24, 1, IAC, SE}), "", ""},
      {"terminal type with device name", Ibm3270(), B({IAC, DO, 24, IAC, SB, 24, 1, IAC, SE}), "",
       B({IAC, WILL, 24, IAC, SB, 24, 0}) + "IBM-3278-2-E@LU01" + B({IAC, SE})},
      {"no device name outside 3270", Ibm5250(), B({IAC, DO, 24, IAC, SB, 24, 1, IAC, SE}), "",
       B({IAC, WILL, 24, IAC, SB, 24, 0}) + "IBM-3179-2" + B({IAC, SE})},
      {"NEW-ENVIRON: device, keyboard, code page, character set, startup record", Ibm5250(),
       B({IAC, DO, 39, IAC, SB, 39, 1, 0, 3, IAC, SE}), "",
       B({IAC, WILL, 39, IAC, SB, 39, 0, 3}) + "DEVNAME" + B({1}) + "QPADEV0001" + B({3}) + "KBDTYPE" +
           B({1}) + "USB" + B({3}) + "CODEPAGE" + B({1}) + "37" + B({3}) + "CHARSET" + B({1}) + "697" +
           B({3}) + "IBMSENDCONFREC" + B({1}) + "YES" + B({IAC, SE})},
      {"NEW-ENVIRON without a device name names none", Ibm5250NoDevice(),
       B({IAC, DO, 39, IAC, SB, 39, 1, 0, 3, IAC, SE}), "",
       B({IAC, WILL, 39, IAC, SB, 39, 0, 3}) + "KBDTYPE" + B({1}) + "USB" + B({3}) + "CODEPAGE" + B({1}) +
           "37" + B({3}) + "CHARSET" + B({1}) + "697" + B({3}) + "IBMSENDCONFREC" + B({1}) + "YES" +
           B({IAC, SE})},
      {"TN3270E device type", Ibm3270(), B({IAC, DO, 40, IAC, SB, 40, 8, 2, IAC, SE}), "",
       B({IAC, WILL, 40, IAC, SB, 40, 2, 7}) + "IBM-3278-2-E" + B({1}) + "LU01" + B({IAC, SE})},
      {"TN3270E device type IS asks for the functions built: BIND-IMAGE, RESPONSES", Ibm3270(),
       B({IAC, DO, 40, IAC, SB, 40, 2, 4}) + "IBM-3278-2-E" + B({1}) + "LU01" + B({IAC, SE}), "",
       B({IAC, WILL, 40, IAC, SB, 40, 3, 7, 0, 2, IAC, SE})},
      {"TN3270E functions request with more: the host is asked for what is built", Ibm3270(),
       B({IAC, DO, 40, IAC, SB, 40, 3, 7, 0, 1, 2, 3, 4, IAC, SE}), "",
       B({IAC, WILL, 40, IAC, SB, 40, 3, 7, 0, 2, 4, IAC, SE})},
      {"TN3270E functions the host offers: SYSREQ and CONTENTION-RESOLUTION accepted", Ibm3270(),
       B({IAC, DO, 40, IAC, SB, 40, 3, 7, 0, 2, 4, 5, IAC, SE}), "",
       B({IAC, WILL, 40, IAC, SB, 40, 3, 4, 0, 2, 4, 5, IAC, SE})},
      {"TN3270E functions request of built ones accepted", Ibm3270(),
       B({IAC, DO, 40, IAC, SB, 40, 3, 7, 2, IAC, SE}), "", B({IAC, WILL, 40, IAC, SB, 40, 3, 4, 2, IAC, SE})},
      {"TN3270E device type rejected: plain TN3270", Ibm3270(),
       B({IAC, DO, 40, IAC, SB, 40, 2, 6, 1, IAC, SE}), "", B({IAC, WILL, 40, IAC, WONT, 40})},
      {"TN3270E other messages unanswered", Ibm3270(), B({IAC, DO, 40, IAC, SB, 40, 8, 3, IAC, SE}), "",
       B({IAC, WILL, 40})},
      {"junk between IAC and SE is dropped", Vt(), B({IAC, DO, 24, IAC, SB, 24, 1, IAC, 'q', SE, 'z'}), "z",
       B({IAC, WILL, 24}) + ttypeAnswer},
      {"data around negotiation kept in order", Vt(),
       B({'a', IAC, WILL, 3, 'b', IAC, SB, 99, 1, 2, IAC, SE, 'c'}), "abc", B({IAC, DO, 3})},
  };
  for (const auto& c : cases) {
    LumTelnetParser p;
    p.Configure(c.settings);
    Result r = Feed(p, c.in);
    EXPECT_EQ(r.data, c.data) << c.name;
    EXPECT_EQ(r.replies, c.replies) << c.name;
  }
}

// An end of record is reported beside the data, never as bytes in it: the
// data bytes 255 239 (IAC IAC 239) are data.
TEST(TelnetParser, EndOfRecordIsReportedBesideTheData) {
  struct Ends {
    const char* name;
    std::vector<std::string> feeds;
    std::string data;
    std::vector<std::vector<int>> ends;  // per feed
  } cases[] = {
      {"one record", {B({'x', IAC, EOR, 'y'})}, "xy", {{1}}},
      {"255 239 as data", {B({IAC, IAC, EOR})}, B({IAC, EOR}), {{}}},
      {"two empty records", {B({IAC, EOR, IAC, EOR})}, "", {{0, 0}}},
      {"IAC and EOR in two reads", {B({'a', IAC}), B({EOR, 'b'})}, "ab", {{}, {0}}},
      {"escaped 255 before the end", {B({'a', IAC, IAC, IAC, EOR})}, B({'a', IAC}), {{2}}},
  };
  for (const Ends& c : cases) {
    LumTelnetParser p;
    p.Configure(Ibm3270());
    std::string data;
    for (size_t i = 0; i < c.feeds.size(); i++) {
      Result r = Feed(p, c.feeds[i]);
      data += r.data;
      EXPECT_EQ(r.ends, c.ends[i]) << c.name << " feed " << i;
      EXPECT_EQ(r.eor, !c.ends[i].empty()) << c.name;
    }
    EXPECT_EQ(data, c.data) << c.name;
  }
}

// TN3270E framing starts when the functions are agreed and ends with the
// option.
TEST(TelnetParser, Tn3270eFramingFollowsTheNegotiation) {
  LumTelnetParser p;
  p.Configure(Ibm3270());
  Feed(p, B({IAC, DO, 40, IAC, SB, 40, 8, 2, IAC, SE}));
  EXPECT_EQ(p.tn3270eFunctions(), -1);
  Feed(p, B({IAC, SB, 40, 2, 4}) + "IBM-3278-2-E" + B({IAC, SE}));
  EXPECT_EQ(p.tn3270eFunctions(), -1);
  Feed(p, B({IAC, SB, 40, 3, 4, 0, 2, 4, 6, IAC, SE}));  // the host's IS: what it names beyond ours is ignored
  EXPECT_EQ(p.tn3270eFunctions(), 1 << 0 | 1 << 2 | 1 << 4);
  Feed(p, B({IAC, DONT, 40}));
  EXPECT_EQ(p.tn3270eFunctions(), -1);
  Feed(p, B({IAC, DO, 40, IAC, SB, 40, 3, 7, 2, IAC, SE}));
  EXPECT_EQ(p.tn3270eFunctions(), 1 << 2);
  p.Reset();  // a new connection starts without framing
  EXPECT_EQ(p.tn3270eFunctions(), -1);
}

// The device (LU) name the host assigns in DEVICE-TYPE IS ... CONNECT,
// whatever the station asked for; none when the host names none.
TEST(TelnetParser, Tn3270eAssignedDeviceName) {
  struct Case {
    const char* name;
    std::string is;
    const char* device;
  } cases[] = {
      {"assigned", B({IAC, SB, 40, 2, 4}) + "IBM-3278-2-E" + B({1}) + "TCP00042" + B({IAC, SE}), "TCP00042"},
      {"none named", B({IAC, SB, 40, 2, 4}) + "IBM-3278-2-E" + B({IAC, SE}), ""},
      {"empty name", B({IAC, SB, 40, 2, 4}) + "IBM-3278-2-E" + B({1, IAC, SE}), ""},
  };
  for (const Case& c : cases) {
    LumTelnetParser p;
    p.Configure(Ibm3270());
    Feed(p, B({IAC, DO, 40, IAC, SB, 40, 8, 2, IAC, SE}) + c.is);
    EXPECT_EQ(p.assignedDevice(), c.device) << c.name;
    p.Reset();
    EXPECT_EQ(p.assignedDevice(), "") << c.name;
  }
}

// What a 5250 station tells the host follows the code page and keyboard
// settings: the page's number and character set, the keyboard set by hand
// or the page's usual one.
TEST(TelnetParser, StationIdentityFromTheSettings) {
  struct Case {
    const char* cptrxin;
    const char* kbd;
    const char* wantKbd;
    int codePage, charSet;
  } cases[] = {
      {"", "", "USB", 37, 697},          {"German", "", "AGB", 273, 697},
      {"CP1141", "", "AGB", 1141, 695},  {"CP1141", "age", "AGE", 1141, 695},
      {"CP500", "BLI", "BLI", 500, 697}, {"CP1047", "US", "USB", 1047, 697},
      {"CP1149", "IC1", "ICB", 1149, 695}, {"no such page", "", "USB", 37, 697},
  };
  for (const Case& c : cases) {
    LumDict dict;
    dict.setStringForKey("cptrxin", c.cptrxin);
    dict.setStringForKey("ibmkbdtype", c.kbd);
    LumTelnetSettings s = Ibm5250();
    LumStationIdentity(&dict, &s);
    EXPECT_EQ(s.kbdType, c.wantKbd) << c.cptrxin << " " << c.kbd;
    EXPECT_EQ(s.codePage, c.codePage) << c.cptrxin;
    EXPECT_EQ(s.charSet, c.charSet) << c.cptrxin;
    LumTelnetParser p;
    p.Configure(s);
    std::string sent = Feed(p, B({IAC, DO, 39, IAC, SB, 39, 1, 0, 3, IAC, SE})).replies;
    EXPECT_NE(sent.find(B({3}) + "CODEPAGE" + B({1}) + std::to_string(c.codePage) + B({3})), std::string::npos)
        << c.cptrxin;
    EXPECT_NE(sent.find(B({3}) + "KBDTYPE" + B({1}) + c.wantKbd + B({3})), std::string::npos) << c.cptrxin;
  }
}

TEST(TelnetParser, EndOfRecordIsFlagged) {
  LumTelnetParser p;
  p.Configure(Vt());
  EXPECT_FALSE(Feed(p, "abc").eor);
  EXPECT_TRUE(Feed(p, B({'a', IAC, EOR})).eor);
  EXPECT_FALSE(Feed(p, B({IAC, IAC})).eor);
}

TEST(TelnetParser, LongSubnegotiationKeepsItsFirst128Bytes) {
  LumTelnetParser p;
  p.Configure(Ibm3270());
  Feed(p, B({IAC, DO, 40}));
  // A FUNCTIONS REQUEST with 198 function codes (200 parameter bytes): 126
  // times RESPONSES, then BIND-IMAGE.  Only the first 128 parameter bytes
  // count, so the host asked for RESPONSES alone, which is agreed.
  std::string sb = B({IAC, SB, 40, 3, 7});
  for (int i = 0; i < 198; ++i) sb += static_cast<char>(i < 126 ? 2 : 0);
  sb += B({IAC, SE}) + "after";
  Result r = Feed(p, sb);
  EXPECT_EQ(r.data, "after");
  EXPECT_EQ(r.replies, B({IAC, SB, 40, 3, 4, 2, IAC, SE}));
  EXPECT_EQ(p.tn3270eFunctions(), 1 << 2);
}

TEST(TelnetParser, StartTlsFollowsStopsParsing) {
  LumTelnetParser p;
  p.Configure(Tls(Vt()));
  Feed(p, B({IAC, DO, 46}));
  std::string in = B({'d', IAC, SB, 46, 1, IAC, SE, 0x16, 0x03});  // TLS bytes follow
  int consumed = 0;
  unsigned char out[16];
  int n =
      p.Feed(reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size()), out, &consumed);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(consumed, 7);
  EXPECT_TRUE(p.startTlsRequested());
  p.setTlsActive(true);
  EXPECT_FALSE(p.startTlsRequested());
  // Once TLS runs, a second FOLLOWS or DO START_TLS changes nothing.
  Result r = Feed(p, B({IAC, SB, 46, 1, IAC, SE, IAC, DO, 46}));
  EXPECT_FALSE(p.startTlsRequested());
  EXPECT_EQ(r.replies, "");
}

TEST(TelnetParser, FollowsWithoutAgreementIsIgnored) {
  LumTelnetParser p;
  p.Configure(Tls(Vt()));
  Feed(p, B({IAC, SB, 46, 1, IAC, SE}));
  EXPECT_FALSE(p.startTlsRequested());
}

// An endless stream of requests: every answer is bounded by the request
// that caused it, nothing grows, and a peer answering the same way is never
// drawn into an exchange that feeds itself.
TEST(TelnetParser, RequestFloodStaysBounded) {
  LumTelnetParser p;
  p.Configure(Vt());
  std::string flood;
  for (int i = 0; i < 2000; ++i)
    flood += B({IAC, (i % 2) ? WONT : DONT, 47 + i % 209, IAC, DO, 24, IAC, WILL, 1});
  Result r = Feed(p, flood);
  EXPECT_EQ(r.replies, B({IAC, WILL, 24, IAC, DO, 1}));

  // Two of our parsers wired back to back settle after a few rounds.
  LumTelnetParser a, b;
  a.Configure(Vt());
  b.Configure(Vt());
  std::string toA = B({IAC, DO, 24, IAC, WILL, 3, IAC, DO, 31, IAC, WONT, 24, IAC, DONT, 99});
  int rounds = 0;
  while (!toA.empty() && rounds < 20) {
    std::string toB = Feed(a, toA).replies;
    toA = Feed(b, toB).replies;
    ++rounds;
  }
  EXPECT_TRUE(toA.empty());
  EXPECT_LT(rounds, 5);
}

// Any split of the host bytes gives the same data, answers and end state.
TEST(TelnetParser, SplittingNeverChangesTheOutcome) {
  std::mt19937 rng(1234);
  std::string stream = B({'L', 'o', 'g', IAC, DO,  24, IAC, WILL, 1,   IAC, IAC, 'x', IAC, SB,  24,  1,
                          IAC, SE,  IAC, EOR, IAC, DO, 40,  IAC,  SB,  40,  8,   2,   IAC, SE,  'e', 'n',
                          'd', IAC, SB,  40,  3,   7,  1,   2,    IAC, IAC, 3,   IAC, SE,  IAC, NOP, 'z'});
  for (int i = 0; i < 300; ++i) stream += static_cast<char>(rng() % 256);  // noise, IACs included
  LumTelnetParser whole;
  whole.Configure(Ibm3270());
  Result all = Feed(whole, stream);
  for (int trial = 0; trial < 200; ++trial) {
    LumTelnetParser p;
    p.Configure(Ibm3270());
    std::string data, replies;
    std::vector<int> ends;
    size_t pos = 0;
    while (pos < stream.size()) {
      size_t len = 1 + rng() % 7;
      Result r = Feed(p, stream.substr(pos, len));
      for (int e : r.ends) ends.push_back(static_cast<int>(data.size()) + e);
      data += r.data;
      replies += r.replies;
      pos += len;
    }
    ASSERT_EQ(data, all.data) << "trial " << trial;
    ASSERT_EQ(ends, all.ends) << "trial " << trial;
    ASSERT_EQ(replies, all.replies) << "trial " << trial;
  }
}

}  // namespace
