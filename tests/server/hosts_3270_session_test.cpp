// IBM 3270 sessions on host sessions as real hosts run them, through the
// real binary with a host written here: the sizes binds name (and writes
// that do not fit them, with their negative responses), a custom 40x132
// session announced as IBM-DYNAMIC, SSCP-LU mode typed through the channel,
// System Request, Test Request and Attention on the wire in TN3270E and
// TN3270, a BID held until SEND-DATA, and keys typed without a host.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "browser3270.h"
#include "host3270.h"
#include "te3270/te3270.h"

namespace {

class Session3270 : public ::testing::Test {
 protected:
  void SetUp() override { server = std::make_unique<kvxtest::KavrixServer>(); }
  // A session of `model` on `host`, TN3270E with the host's `offer` of
  // functions (empty: what the terminal asks for), or plain TN3270.
  void Open(Host3270& host, Browser3270& b, int model, bool tn3270e, const std::string& offer = "",
            const std::string& extra = "") {
    ASSERT_TRUE(b.NewSession(server->port()));
    ASSERT_EQ(kvxtest::EnvelopeCode(b.PostConfig(Config3270(host.port(), model, true, extra)).body), 0);
    ASSERT_TRUE(b.Attach());
    ASSERT_TRUE(host.Accept());
    ASSERT_TRUE(tn3270e ? host.NegotiateTn3270e(nullptr, offer) : host.NegotiateTn3270());
    ASSERT_TRUE(b.WaitConnected()) << b.Show();
  }
  std::unique_ptr<kvxtest::KavrixServer> server;
};

// A TN3270E record: header (type, request, response, sequence) and body.
std::vector<uint8_t> Rec(uint8_t type, uint16_t seq, const std::vector<uint8_t>& body, uint8_t request = 0,
                         uint8_t response = 0) {
  std::vector<uint8_t> r = {type, request, response, static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq)};
  r.insert(r.end(), body.begin(), body.end());
  return r;
}

std::vector<uint8_t> Ebc(const std::string& s) {
  std::vector<uint8_t> out;
  for (unsigned char c : s) out.push_back(static_cast<uint8_t>(te3270_unicode_to_ebcdic(0, c)));
  return out;
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// SBA to an address: the 12-bit code, or 14 bits beyond 4095.
std::vector<uint8_t> Sba(int a) {
  static const uint8_t code[64] = {
      0x40, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
      0x50, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
      0x60, 0x61, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
      0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F};
  if (a > 4095) return {0x11, static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a)};
  return {0x11, code[(a >> 6) & 0x3F], code[a & 0x3F]};
}

// A bind image naming sizes in its PSERVIC (byte 24, rows/columns 20-23).
std::vector<uint8_t> Bind(uint8_t sizeByte, int r0 = 0, int c0 = 0, int r1 = 0, int c1 = 0) {
  std::vector<uint8_t> b = {0x31, 0x01, 0x03, 0x03, 0xB1, 0x90, 0x30, 0x80, 0x00, 0x87, 0x87, 0xF8, 0x87,
                            0x00, 0x02, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  b[20] = static_cast<uint8_t>(r0);
  b[21] = static_cast<uint8_t>(c0);
  b[22] = static_cast<uint8_t>(r1);
  b[23] = static_cast<uint8_t>(c1);
  b[24] = sizeByte;
  return b;
}

const std::vector<uint8_t> kEWA = {0x7E, 0xC3};

// Binds name the sizes of Erase/Write Alternate: a smaller alternate than
// the model, the terminal's maximum (0x03), explicit sizes (0x7F).  A write
// that fits gets a positive response; one that addresses a row the bound
// size does not have stops where it is and gets OPERATION-CHECK, an unknown
// command COMMAND-REJECT.
TEST_F(Session3270, BindSizesAndWritesThatDoNotFit) {
  Host3270 host;
  Browser3270 b;
  Open(host, b, 4, true);
  size_t got = 0;
  std::vector<uint8_t> r;
  auto response = [&](uint16_t seq) {
    EXPECT_TRUE(host.WaitRecord(got, &r)) << "no response to " << seq << "\n" << b.Show();
    got++;
    return Hex(r);
  };
  struct Step {
    const char* name;
    std::vector<uint8_t> bind;
    int row;  // row (from 1) written after an SBA at column 1
    bool fits;
    int rows, cols;  // the screen after it
  } steps[] = {
      {"an alternate of 24x80 on a 43x80 model, row 24", Bind(0x7F, 24, 80, 24, 80), 24, true, 24, 80},
      {"an alternate of 24x80 on a 43x80 model, row 43", {}, 43, false, 24, 80},
      {"0x03: the maximum, row 43", Bind(0x03), 43, true, 43, 80},
      {"0x7F: 32x80, row 32", Bind(0x7F, 24, 80, 32, 80), 32, true, 32, 80},
      {"0x7F: 32x80, row 33", {}, 33, false, 32, 80},
  };
  uint16_t seq = 1;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    if (!s.bind.empty()) {
      ASSERT_TRUE(host.SendRecord(Rec(TN3270E_BIND_IMAGE, 0, s.bind)));
    }
    std::string mark = "ROW" + std::to_string(s.row);
    ASSERT_TRUE(host.SendRecord(Rec(TN3270E_3270_DATA, seq,
                                    Cat({kEWA, Ebc("TOP"), Sba((s.row - 1) * 80), Ebc(mark)}), 0,
                                    TN3270E_RSF_ALWAYS_RESPONSE)));
    char want[16];
    snprintf(want, sizeof want, "02000%d%04x%02x", s.fits ? 0 : 1, seq, s.fits ? 0 : 2);
    EXPECT_EQ(response(seq), want);
    ASSERT_TRUE(b.Pump([&] { return b.rows() == s.rows && b.cols() == s.cols && b.screen.Find("TOP") == 0; }, 10))
        << b.Show();
    EXPECT_EQ(b.screen.Find(mark) >= 0, s.fits) << b.Show();
    seq++;
  }
  // An unknown command, where the host asked for a response on error.
  ASSERT_TRUE(host.SendRecord(Rec(TN3270E_3270_DATA, seq, {0x99, 0xC3}, 0, TN3270E_RSF_ERROR_RESPONSE)));
  EXPECT_EQ(response(seq), "020001000600");
  // UNBIND: the terminal's own sizes again.
  ASSERT_TRUE(host.SendRecord(Rec(TN3270E_UNBIND, 0, {0x01})));
  ASSERT_TRUE(host.SendRecord(Rec(TN3270E_3270_DATA, 7, Cat({kEWA, Sba(42 * 80), Ebc("LAST")}))));
  ASSERT_TRUE(b.Pump([&] { return b.rows() == 43 && b.screen.Find("LAST") == 42; }, 10)) << b.Show();
}

// A custom size, as z/OS runs one: IBM-DYNAMIC, the query's usable area
// 132x40, a bind of 0x7F with 40x132 as alternate, writes and replies that
// address row 40 column 132 in the 14-bit form.
TEST_F(Session3270, Custom40x132SessionAsIbmDynamic) {
  Host3270 host;
  Browser3270 b;
  Open(host, b, 2, true, "", ",\"em3270rows\":40,\"em3270cols\":132");
  EXPECT_NE(host.inbound().find("IBM-DYNAMIC"), std::string::npos) << "the device type asked for";
  // Read Partition Query: the usable area is the custom size.
  ASSERT_TRUE(host.SendRecord(Rec(TN3270E_3270_DATA, 1, {0xF3, 0x00, 0x05, 0x01, 0xFF, 0x02})));
  std::vector<uint8_t> q;
  ASSERT_TRUE(host.WaitRecord(0, &q));
  ASSERT_GT(q.size(), 5u + 1 + 12 + 10);
  EXPECT_EQ(Hex(std::vector<uint8_t>(q.begin() + 5 + 1 + 12, q.begin() + 5 + 1 + 12 + 10)), "00178181030000840028");
  ASSERT_TRUE(host.SendRecord(Rec(TN3270E_BIND_IMAGE, 0, Bind(0x7F, 24, 80, 40, 132))));
  const int last = 40 * 132 - 1;
  ASSERT_TRUE(host.SendRecord(Rec(TN3270E_3270_DATA, 2,
                                  Cat({kEWA, {0x1D, 0x60}, Ebc("LOGON"), Sba(39 * 132), Ebc("BOTTOM"), Sba(last - 6),
                                       {0x1D, 0x40}, {0x13}, Sba(last - 2), Ebc("END")}),
                                  0, TN3270E_RSF_ALWAYS_RESPONSE)));
  std::vector<uint8_t> r;
  ASSERT_TRUE(host.WaitRecord(1, &r));
  EXPECT_EQ(Hex(r), "020000000200");
  ASSERT_TRUE(b.Pump([&] { return b.rows() == 40 && b.cols() == 132 && b.screen.Find("BOTTOM") == 39; }, 10))
      << b.Show();
  EXPECT_EQ(b.Status(1), "IBM-DYNAMIC");
  EXPECT_EQ(b.screen.Row(39).substr(126), "   END");
  EXPECT_TRUE(b.Pump([&] { return b.cursorRow() == 39 && b.cursorCol() == 126; }, 10)) << b.Show();
  b.Key('Z');
  b.Key(13);
  ASSERT_TRUE(host.WaitRecord(2, &r));
  // Enter, the cursor and the field's address in 14 bits, its text.
  auto a14 = [](int a) { return Hex({static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a)}); };
  EXPECT_EQ(Hex(r), "00000000007d" + a14(last - 4) + "11" + a14(last - 5) + "e9" + Hex(Ebc("END")));
}

// SSCP-LU mode typed through the channel: the host's lines, the operator's
// line sent as SSCP-LU data with Enter, then a bind and 3270 data.
TEST_F(Session3270, SscpLuExchangeThroughTheChannel) {
  Host3270 host;
  Browser3270 b;
  Open(host, b, 2, true);
  ASSERT_TRUE(host.SendRecord(Rec(TN3270E_SSCP_LU_DATA, 0, Cat({Ebc("USS MSG10 READY"), {0x15}}))));
  ASSERT_TRUE(b.Pump([&] { return b.Status(9) == "SSCP-LU" && b.Status(4).empty(); }, 10)) << b.Show();
  EXPECT_EQ(b.screen.Find("USS MSG10 READY"), 0);
  for (char c : std::string("LOGON TSO")) b.Key(c);
  b.Key(13);
  std::vector<uint8_t> r;
  ASSERT_TRUE(host.WaitRecord(0, &r)) << b.Show();
  EXPECT_EQ(Hex(r), "0700000000" + Hex(Ebc("LOGON TSO")));
  ASSERT_TRUE(host.SendRecord(Rec(TN3270E_SSCP_LU_DATA, 0, Cat({{0x15}, Ebc("LOGON IN PROGRESS"), {0x15}}))));
  ASSERT_TRUE(b.Pump([&] { return b.screen.Find("LOGON IN PROGRESS") == 2; }, 10)) << b.Show();
  ASSERT_TRUE(host.SendRecord(Rec(TN3270E_BIND_IMAGE, 0, Bind(0x02))));
  ASSERT_TRUE(host.SendRecord(Rec(TN3270E_3270_DATA, 1, Cat({{0xF5, 0xC3}, Ebc("TSO READY")}))));
  ASSERT_TRUE(b.Pump([&] { return b.Status(9) == "TN3270E" && b.screen.Find("TSO READY") == 0; }, 10))
      << b.Show();
}

// System Request, Test Request and Attention on the wire: with SYSREQ
// agreed SysReq is IAC AO; on plain TN3270 it is a Test Request read, as
// the Test Request key is everywhere; Attention is IAC IP in a bound
// TN3270E session and IAC BREAK otherwise.
TEST_F(Session3270, SysReqTestRequestAndAttentionOnTheWire) {
  const std::string testRead = "016c6102" "114050" + Hex(Ebc("AB"));
  {
    SCOPED_TRACE("TN3270E with SYSREQ");
    Host3270 host;
    Browser3270 b;
    Open(host, b, 2, true, std::string("\x00\x02\x04", 3));
    ASSERT_TRUE(host.SendRecord(Rec(TN3270E_BIND_IMAGE, 0, Bind(0x02))));
    ASSERT_TRUE(host.SendRecord(Rec(TN3270E_3270_DATA, 1,
                                    Cat({{0xF5, 0xC3}, Sba(15), {0x1D, 0x40}, {0x13}, Sba(79), {0x1D, 0x60}}))));
    ASSERT_TRUE(b.Pump([&] { return b.Status(9) == "TN3270E" && b.Status(4).empty(); }, 10)) << b.Show();
    b.Key('A');
    b.Key('B');
    b.TerminalKey(TK_SYSREQ);
    ASSERT_TRUE(host.Expect("\xff\xf5")) << "no IAC AO";
    b.TerminalKey(TK_ATTN);
    ASSERT_TRUE(host.Expect("\xff\xf4")) << "no IAC IP";
    b.TerminalKey(TK_TSTREQ);
    std::vector<uint8_t> r;
    ASSERT_TRUE(host.WaitRecord(0, &r)) << b.Show();
    EXPECT_EQ(Hex(r), "0000000000" + testRead);
    EXPECT_EQ(host.inbound().find("\xff\xf3"), std::string::npos) << "no BREAK in a bound TN3270E session";
  }
  for (bool sysreq : {true, false}) {
    SCOPED_TRACE(sysreq ? "TN3270: SysReq" : "TN3270: Test Request");
    Host3270 host;
    Browser3270 b;
    Open(host, b, 2, false);
    ASSERT_TRUE(host.SendRecord(Cat({{0xF5, 0xC3}, Sba(15), {0x1D, 0x40}, {0x13}, Sba(79), {0x1D, 0x60}})));
    ASSERT_TRUE(b.Pump([&] { return b.Status(9) == "TN3270" && b.Status(4).empty(); }, 10)) << b.Show();
    b.Key('A');
    b.Key('B');
    b.TerminalKey(sysreq ? TK_SYSREQ : TK_TSTREQ);
    std::vector<uint8_t> r;
    ASSERT_TRUE(host.WaitRecord(0, &r)) << b.Show();
    EXPECT_EQ(Hex(r), testRead);
    b.TerminalKey(TK_ATTN);
    ASSERT_TRUE(host.Expect("\xff\xf3")) << "no IAC BREAK";
    EXPECT_EQ(host.inbound().find("\xff\xf5"), std::string::npos) << "no IAC AO without SYSREQ";
  }
}

// Contention resolution: a BID (answered) holds the keyboard; the keys
// typed meanwhile wait, the status line counting them, until the host's
// data says SEND-DATA; Attention does not wait behind them.
TEST_F(Session3270, BidHoldsKeysUntilSendData) {
  Host3270 host;
  Browser3270 b;
  Open(host, b, 2, true, std::string("\x00\x02\x05", 3));
  ASSERT_TRUE(host.SendRecord(Rec(TN3270E_3270_DATA, 1, {0xF5, 0xC3, 0x1D, 0x40, 0x13, 0x11, 0x40, 0x4A, 0x1D, 0x60})));
  ASSERT_TRUE(b.Pump([&] { return b.Status(9) == "TN3270E" && b.Status(4).empty(); }, 10)) << b.Show();
  ASSERT_TRUE(host.SendRecord(Rec(TN3270E_BID, 2, {}, 0, TN3270E_RSF_ALWAYS_RESPONSE)));
  std::vector<uint8_t> r;
  ASSERT_TRUE(host.WaitRecord(0, &r));
  EXPECT_EQ(Hex(r), "020000000200") << "the BID answered";
  ASSERT_TRUE(b.Pump([&] { return b.Status(4) == "X SYSTEM"; }, 10)) << b.Show();
  b.Key('K');
  b.Key(13);
  ASSERT_TRUE(b.Pump([&] { return b.Status(12) == "2"; }, 10)) << b.Show();
  b.TerminalKey(TK_ATTN);  // does not wait: IAC BREAK, the session not bound
  ASSERT_TRUE(host.Expect("\xff\xf3")) << "Attention passes the waiting keys";
  host.ReadUntil([] { return false; }, 0.5);
  EXPECT_EQ(host.Records().size(), 1u) << "nothing sent while the host holds the keyboard";
  EXPECT_EQ(b.Status(12), "2");
  ASSERT_TRUE(host.SendRecord(
      Rec(TN3270E_3270_DATA, 3, Cat({{0xF1, 0x00}, Sba(80), Ebc("DONE")}), TN3270E_RQF_SEND_DATA)));
  ASSERT_TRUE(host.WaitRecord(1, &r)) << b.Show();
  EXPECT_EQ(Hex(r), "00000000007d40c21140c1d2");  // Enter, the cursor after K, the field with K
  EXPECT_TRUE(b.Pump([&] { return b.screen.Find("DONE") == 1; }, 10)) << b.Show();
  EXPECT_TRUE(b.Pump([&] { return b.Status(12) == "0"; }, 10)) << b.Show();
}

// Keys typed while no host is connected wait in the typeahead ring (the
// status line counts them) and go when the next host first unlocks the
// keyboard; a disconnect drops what waited.
TEST_F(Session3270, KeysWithoutAHostGoAfterTheFirstUnlock) {
  Browser3270 b;
  ASSERT_TRUE(b.NewSession(server->port()));
  {
    Host3270 first;
    ASSERT_EQ(kvxtest::EnvelopeCode(b.PostConfig(Config3270(first.port(), 2)).body), 0);
    ASSERT_TRUE(b.Attach());
    ASSERT_TRUE(first.Accept());
    ASSERT_TRUE(first.NegotiateTn3270e());
    ASSERT_TRUE(first.SendRecord({0x00, 0x00, 0x00, 0x00, 0x00, 0xF5, 0xC3, 0x1D, 0x40, 0x13}));
    ASSERT_TRUE(b.Pump([&] { return b.Status(9) == "TN3270E" && b.Status(4).empty(); }, 10)) << b.Show();
    b.Key('x');
    b.Key(13);
    ASSERT_TRUE(first.WaitRecord(0, nullptr));
    b.Key('w');  // waits for an answer that never comes
    ASSERT_TRUE(b.Pump([&] { return b.Status(12) == "1"; }, 10)) << b.Show();
  }  // the host goes away without answering
  ASSERT_TRUE(b.Pump([&] { return b.Status(8) == "DISCONNECTED" && b.Status(12) == "0"; }, 10)) << b.Show();
  int bells = b.bells;
  b.Key('y');
  b.Key(13);
  ASSERT_TRUE(b.Pump([&] { return b.Status(12) == "2"; }, 10)) << b.Show();
  EXPECT_EQ(b.bells, bells) << "keys without a host wait, they do not ring";

  Host3270 second;
  auto posted = b.PostConfigAsync(Config3270(second.port(), 2));
  ASSERT_TRUE(second.Accept());
  ASSERT_TRUE(second.NegotiateTn3270());
  ASSERT_EQ(kvxtest::EnvelopeCode(posted.get().body), 0);
  second.ReadUntil([] { return false; }, 0.5);
  EXPECT_TRUE(second.Records().empty()) << "nothing before the host unlocks";
  ASSERT_TRUE(second.SendRecord({0xF5, 0xC3, 0x1D, 0x40, 0x13}));
  std::vector<uint8_t> r;
  ASSERT_TRUE(second.WaitRecord(0, &r)) << b.Show();
  EXPECT_EQ(Hex(r), "7d40c21140c1a8");  // y typed in the field, then Enter; no header on plain TN3270
  ASSERT_TRUE(b.Pump([&] { return b.Status(12) == "0"; }, 10)) << b.Show();
  second.ReadUntil([] { return false; }, 0.5);
  EXPECT_EQ(second.Records().size(), 1u);
}

// Traces an administrator turns on: --trace and --trace-file for the server
// and every session, one session's own categories and file from its
// settings; no trace shows the password a session was given or a whole
// session identifier.
TEST(Traces3270, ServerAndSessionTracesGoWhereTheyAreAskedTo) {
  kvxtest::ServerOptions o;
  o.args = {"-p", "0", "--trace", "telnet,3270", "--trace-file", "trace.log"};
  kvxtest::KavrixServer server(o);
  const std::string secret = ",\"password\":\"hunter2x\"";
  auto read = [&](const std::string& name) { return ref3270_read(server.dir() + "/" + name); };
  std::string ids;
  {
    SCOPED_TRACE("the server's categories and file");
    Host3270 host;
    Browser3270 b;
    ASSERT_TRUE(b.NewSession(server.port()));
    ids += b.sessionId + " ";
    ASSERT_EQ(kvxtest::EnvelopeCode(b.PostConfig(Config3270(host.port(), 2, true, secret)).body), 0);
    ASSERT_TRUE(b.Attach());
    ASSERT_TRUE(host.Accept());
    ASSERT_TRUE(host.NegotiateTn3270e());
    ASSERT_TRUE(b.WaitConnected()) << b.Show();
    ASSERT_TRUE(host.SendRecord(Rec(TN3270E_BIND_IMAGE, 0, Bind(0x7F, 24, 80, 32, 80))));  // beyond model 2
    ASSERT_TRUE(host.SendRecord(Rec(TN3270E_BIND_IMAGE, 0, Bind(0x02))));
    ASSERT_TRUE(host.SendRecord(Rec(TN3270E_3270_DATA, 1, Cat({{0xF5, 0xC3}, Ebc("FIRST")}))));
    ASSERT_TRUE(b.Pump([&] { return b.screen.Find("FIRST") == 0; }, 10)) << b.Show();
    ASSERT_TRUE(kvxtest::WaitFor([&] { return read("trace.log").find("alternate 24x80") != std::string::npos; }, 10))
        << read("trace.log");
    std::string log = read("trace.log");
    EXPECT_NE(log.find("RECV: do"), std::string::npos) << "telnet options";
    EXPECT_NE(log.find("3270: BIND screen size 0x7f names"), std::string::npos) << "the bind that does not fit";
    EXPECT_NE(log.find("3270: BIND: default size 24x80, alternate 24x80"), std::string::npos);
    EXPECT_EQ(log.find("From host"), std::string::npos) << "comm is not among the server's categories";
    // What is typed (a password in a hidden field, say) is counted, never shown.
    for (char c : std::string("PW7ZQ")) b.Key(c);
    b.Key(13);
    std::vector<uint8_t> r;
    ASSERT_TRUE(host.WaitRecord(0, &r)) << b.Show();
    ASSERT_NE(Hex(r).find(Hex(Ebc("PW7ZQ"))), std::string::npos) << "the host got the typed text";
    ASSERT_TRUE(kvxtest::WaitFor([&] { return read("trace.log").find("field data, not shown") != std::string::npos; }, 10))
        << read("trace.log");
    log = read("trace.log");
    EXPECT_NE(log.find("TN3270_tx_send_attempt: (2)"), std::string::npos);
    EXPECT_EQ(log.find(Hex(Ebc("PW7")).insert(4, " ").insert(2, " ")), std::string::npos) << "typed text traced";
  }
  {
    SCOPED_TRACE("one session's categories and file");
    Host3270 host;
    Browser3270 b;
    ASSERT_TRUE(b.NewSession(server.port()));
    ids += b.sessionId;
    ASSERT_EQ(kvxtest::EnvelopeCode(
                  b.PostConfig(Config3270(host.port(), 2, true,
                                          secret + ",\"trace\":\"comm\",\"traceFile\":\"one.log\""))
                      .body),
              0);
    ASSERT_TRUE(b.Attach());
    ASSERT_TRUE(host.Accept());
    ASSERT_TRUE(host.NegotiateTn3270e());
    ASSERT_TRUE(b.WaitConnected()) << b.Show();
    ASSERT_TRUE(host.SendRecord(Rec(TN3270E_3270_DATA, 1, Cat({{0xF5, 0xC3}, Ebc("SECOND")}))));
    ASSERT_TRUE(b.Pump([&] { return b.screen.Find("SECOND") == 0; }, 10)) << b.Show();
    b.Key(13);
    ASSERT_TRUE(host.WaitRecord(0, nullptr));
    ASSERT_TRUE(kvxtest::WaitFor([&] { return read("one.log").find("To host") != std::string::npos; }, 10))
        << read("one.log");
    std::string one = read("one.log");
    EXPECT_NE(one.find("From host"), std::string::npos);
    EXPECT_NE(one.find(Hex(Ebc("SEC")).insert(4, " ").insert(2, " ")), std::string::npos) << "the host's bytes";
    EXPECT_NE(one.find("RECV: do"), std::string::npos) << "and the server's categories";
    EXPECT_EQ(read("trace.log").find("From host"), std::string::npos) << "the session's trace is its own";
  }
  for (const std::string& out : {read("trace.log"), read("one.log"), server.err()}) {
    EXPECT_EQ(out.find("hunter2x"), std::string::npos);
    for (size_t at = 0, sp; at < ids.size(); at = sp + 1) {
      sp = ids.find(' ', at);
      if (sp == std::string::npos) sp = ids.size();
      std::string id = ids.substr(at, sp - at);
      EXPECT_EQ(out.find(id), std::string::npos) << "a whole session identifier";
      EXPECT_EQ(out.find(id.substr(0, 16)), std::string::npos) << "more than 8 characters of one";
    }
  }
}

}  // namespace
