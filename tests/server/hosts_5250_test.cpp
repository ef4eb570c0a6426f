// IBM 5250 sessions through the real binary, as a browser sees them: the
// recorded IBM i session of tests/fixtures/5250 played by a host written
// here (each host record sent, each recorded operator record typed again
// through the channel and checked as the host receives it), its Sign On and
// Main Menu screens equal to the reference row for row; the station's
// telnet negotiation; the operator error in the status line; Save and
// Restore Screen through the host; the model and colour settings.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "emulation_ids.h"
#include "fws/fws_cell.h"
#include "host3270.h"
#include "keyname.h"
#include "kvx_browser.h"
#include "kvx_test.h"
#include "tcs.h"
#include "te3270/te3270.h"

using kvxtest::ChannelFrame;
using kvxtest::TestBrowser;

namespace {

const std::string kFixtures = std::string(KVX_SOURCE_DIR) + "/tests/fixtures/5250/";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> out;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

std::vector<uint8_t> HexBytes(const std::string& text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < text.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return out;
}

std::string Hex(const std::vector<uint8_t>& b, size_t from = 0) {
  std::string s;
  char h[4];
  for (size_t i = from; i < b.size(); i++) {
    snprintf(h, sizeof h, "%02x", b[i]);
    s += h;
  }
  return s;
}

// The settings of a 5250 host, as the page posts them.
std::string Config5250(int port, int model, const std::string& extra = "") {
  return "{\"kcf\":{\"commtype\":0,\"node\":\"127.0.0.1\",\"port\":" + std::to_string(port) +
         ",\"emulate\":" + std::to_string(KVX_EM_IBM5250) + ",\"em5250idx\":" + std::to_string(model) +
         extra + "},\"connectToHost\":true}";
}

// A browser of 5250 sessions: the screen as large as any model, the status
// line and the bells it was sent.
struct Browser5250 : TestBrowser {
  Browser5250() : TestBrowser(28, 132) {
    onFrame = [this](const ChannelFrame& f) {
      if (f.action == KVX_HOST_ACTION_STATUS) status = f.fields;
      if (f.action == KVX_HOST_ACTION_BELL) bells++;
    };
  }
  std::vector<std::string> status;
  int bells = 0;

  std::string Status(size_t i) const { return i < status.size() && status[i] != " " ? status[i] : ""; }
  int rows() const { return status.size() > 3 ? std::stoi(status[2]) : 0; }
  int cols() const { return status.size() > 3 ? std::stoi(status[3]) : 0; }
  // Row r (from 0) as the browser shows it: cols() characters.
  std::string Line(int r) const {
    std::string row;
    for (int c = 0; c < cols(); c++) {
      uint64_t v = screen.Cell(c, r);
      uint32_t cp =
          (v & BLK_CELL_HASUNI) ? static_cast<uint32_t>((v & BLK_CELL_UNI) >> BLK_CELL_UNI_SHIFT) : 0;
      row += cp >= 0x20 && cp < 0x80 ? static_cast<char>(cp) : ' ';
    }
    return row;
  }
  bool Key(int code) {
    std::string data(4, '\0');
    for (int i = 0; i < 4; i++) data[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
    return ws.Send(2, kvxtest::ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, data));
  }
  bool TerminalKey(int k) { return Key(TCS_KEY_UNICODE_BASE + (k - TCS_TK_FIRST)); }
  bool Text(const std::string& s) {
    for (unsigned char c : s)
      if (!Key(c)) return false;
    return true;
  }
  bool Click(int row, int col) {
    return ws.Send(
        2, kvxtest::ChannelEncode(KVX_CLIENT_ACTION_MOUSE, {std::to_string(row), std::to_string(col)}));
  }
  // The first 24 rows equal a reference file.
  bool ShowsScreen(const std::string& file) const {
    const std::vector<std::string> want = FileLines(kFixtures + file);
    if (want.size() != 24 || cols() != 80) return false;
    for (int r = 0; r < 24; r++)
      if (Line(r) != want[static_cast<size_t>(r)]) return false;
    return true;
  }
  std::string Show() const {
    std::string s = "status:";
    for (const std::string& f : status) s += " [" + f + "]";
    s += "\ncursor " + std::to_string(screen.cursorY) + "," + std::to_string(screen.cursorX) + "\n";
    for (int r = 0; r < rows(); r++) s += Line(r) + "\n";
    return s + error;
  }
};

// The host's side of the 5250 telnet negotiation, as the recording has it:
// NEW-ENVIRON and terminal type, then end of record and binary both ways.
bool Negotiate5250(Host3270& host, const std::string& terminalType) {
  return host.SendRaw("\xff\xfd\x27\xff\xfd\x18") && host.Expect("\xff\xfb\x27") &&
         host.Expect("\xff\xfb\x18") &&
         host.SendRaw(std::string("\xff\xfa\x27\x01\x00\x03\xff\xf0\xff\xfa\x18\x01\xff\xf0", 14)) &&
         host.Expect(std::string("\xff\xfa\x18\x00", 4) + terminalType + "\xff\xf0") &&
         host.SendRaw(std::string("\xff\xfd\x19\xff\xfb\x19\xff\xfd\x00\xff\xfb\x00", 12)) &&
         host.Expect("\xff\xfb\x19") && host.Expect("\xff\xfd\x19") &&
         host.Expect(std::string("\xff\xfb\x00", 3)) && host.Expect(std::string("\xff\xfd\x00", 3));
}

// A recorded station record typed again through the channel as an operator
// would: each field clicked, erased to its end and typed; the cursor
// clicked where it was; the AID key.
void TypeRecord(Browser5250& b, const std::vector<uint8_t>& rec) {
  const uint8_t* d = rec.data() + 10;
  const size_t n = rec.size() - 10;
  for (size_t i = 3; i + 2 < n && d[i] == 0x11;) {
    b.Click(d[i + 1] - 1, d[i + 2] - 1);
    b.TerminalKey(TK_ERASEEOF);
    for (i += 3; i < n && d[i] != 0x11; i++) b.Key(te3270_ebcdic_to_unicode(0, d[i]));
  }
  b.Click(d[0] - 1, d[1] - 1);
  if (d[2] == 0xF1)
    b.Key(13);
  else if (d[2] >= 0x31 && d[2] <= 0x3C)
    b.TerminalKey(TK_PF1 + d[2] - 0x31);
}

class Hosts5250 : public ::testing::Test {
 protected:
  void SetUp() override { server = std::make_unique<kvxtest::KavrixServer>(); }
  // A session on a new host, negotiated; the browser waits for the host.
  void Open(Host3270& host, Browser5250& b, int model, const std::string& name,
            const std::string& extra = "") {
    ASSERT_TRUE(b.NewSession(server->port()));
    ASSERT_EQ(kvxtest::EnvelopeCode(b.PostConfig(Config5250(host.port(), model, extra)).body), 0);
    ASSERT_TRUE(b.Attach());
    ASSERT_TRUE(host.Accept());
    ASSERT_TRUE(Negotiate5250(host, name))
        << Hex(std::vector<uint8_t>(host.inbound().begin(), host.inbound().end()));
    ASSERT_TRUE(b.WaitConnected()) << b.Show();
  }
  std::unique_ptr<kvxtest::KavrixServer> server;
};

// The recorded session, its host played here: the Sign On and Main Menu
// screens as the reference shows them, the user and password in the
// recorded field order, the query reply sent by the station itself, the
// cursor where the host put it.
TEST_F(Hosts5250, RecordedSignOnThroughTheChannel) {
  std::vector<trc_chunk> chunks;
  ASSERT_TRUE(trc_load(kFixtures + "blazemeter-tn5250-login.trc", chunks));
  Host3270 host;
  Browser5250 b;
  Open(host, b, 1, "IBM-3477-FC");
  int record = 0;
  size_t received = 0;
  for (const trc_event& e : trc_events(chunks)) {
    if (e.kind != TRC_RECORD) continue;
    if (e.fromHost) {
      ASSERT_TRUE(host.SendRecord(e.bytes));
      record++;
      if (record == 1) {
        ASSERT_TRUE(
            b.Pump([&] { return b.ShowsScreen("blazemeter-tn5250-login.expected-signon-screen.txt"); }, 10))
            << b.Show();
        ASSERT_TRUE(b.Pump(
            [&] { return b.screen.cursorY == 5 && b.screen.cursorX == 52 && b.Status(4).empty(); }, 10))
            << "the cursor starts in the user field, the keyboard free\n"
            << b.Show();
        EXPECT_EQ(b.Status(0), "5250");
        EXPECT_EQ(b.Status(1), "IBM-3477-FC");
        EXPECT_EQ(b.rows(), 25);
        EXPECT_EQ(b.Status(9), "TN5250");
      }
      if (record == 4) {
        ASSERT_TRUE(b.Pump(
            [&] { return b.ShowsScreen("blazemeter-tn5250-login.expected-main-menu-screen.txt"); }, 10))
            << b.Show();
        ASSERT_TRUE(b.Pump([&] { return b.screen.cursorY == 19 && b.screen.cursorX == 6; }, 10))
            << "the cursor lands where the host put it\n"
            << b.Show();
      }
      continue;
    }
    const uint8_t aid = e.bytes.size() > 12 ? e.bytes[12] : 0;
    if (aid != 0x88) TypeRecord(b, e.bytes);
    std::vector<uint8_t> got;
    ASSERT_TRUE(host.WaitRecord(received, &got)) << "station record " << received << " never came\n"
                                                 << b.Show();
    received++;
    ASSERT_GE(got.size(), 13u);
    EXPECT_EQ(got[7], e.bytes[7]) << "flags of station record " << received;
    if (aid == 0x88) {
      // The query reply: this station's own, sent without the operator.
      EXPECT_EQ(got.size(), e.bytes.size());
      EXPECT_EQ(Hex(got, 12).substr(0, 10), "88003ad970");
      EXPECT_EQ(Hex(got, 40).substr(0, 14), "f3f4f7f7f0c6c3") << "3477 model FC in EBCDIC digits";
      continue;
    }
    EXPECT_EQ(Hex(got, 10), Hex(e.bytes, 10)) << "station record " << received;
    if (received == 1) {
      EXPECT_TRUE(b.Pump([&] { return b.Status(4) == "X SYSTEM"; }, 10)) << b.Show();
    }
  }
  EXPECT_EQ(received, 3u);
  EXPECT_TRUE(b.Pump([&] { return b.Line(0).find("User Tasks") != std::string::npos; }, 10)) << b.Show();
}

// Keys in an input field: a wrong character is an operator error that the
// status line shows with its code until Reset; the bell rings.
TEST_F(Hosts5250, OperatorErrorInTheStatusLine) {
  Host3270 host;
  Browser5250 b;
  Open(host, b, 2, "IBM-3179-2");
  ASSERT_TRUE(host.SendRecord(HexBytes(ReadFile(kFixtures + "ibmi-mcp-nexus-cakeyp-wtd.hex"))));
  ASSERT_TRUE(
      b.Pump([&] { return b.Line(3).find("Numeric:") != std::string::npos && b.Status(4).empty(); }, 10))
      << b.Show();
  ASSERT_TRUE(b.Text("4A"));
  ASSERT_TRUE(b.Pump([&] { return b.Status(4) == "X II" && b.Status(10) == "0010" && b.bells > 0; }, 10))
      << b.Show();
  EXPECT_EQ(b.Line(23).substr(0, 6), " 0010 ") << "the code on the message row";
  ASSERT_TRUE(b.Key(27));  // Escape: Reset
  ASSERT_TRUE(b.Pump([&] { return b.Status(4).empty() && b.Status(10).empty(); }, 10)) << b.Show();
  // F3 is masked: only the cursor and the AID reach the host.
  ASSERT_TRUE(b.TerminalKey(TK_F1 + 2));
  std::vector<uint8_t> got;
  ASSERT_TRUE(host.WaitRecord(0, &got)) << b.Show();
  EXPECT_EQ(Hex(got, 10), "050333");
}

// Keys typed under X SYSTEM wait in the typeahead ring, the status line
// counting them, and reach the field when the host unlocks the keyboard.
TEST_F(Hosts5250, TypeaheadUnderXSystem) {
  Host3270 host;
  Browser5250 b;
  Open(host, b, 2, "IBM-3179-2");
  const std::vector<uint8_t> screen = HexBytes(ReadFile(kFixtures + "ibmi-mcp-nexus-cakeyp-wtd.hex"));
  ASSERT_TRUE(host.SendRecord(screen));
  ASSERT_TRUE(
      b.Pump([&] { return b.Line(3).find("Numeric:") != std::string::npos && b.Status(4).empty(); }, 10))
      << b.Show();
  ASSERT_TRUE(b.TerminalKey(TK_F1 + 2));  // F3: locked until the host answers
  std::vector<uint8_t> got;
  ASSERT_TRUE(host.WaitRecord(0, &got)) << b.Show();
  ASSERT_TRUE(b.Pump([&] { return b.Status(4) == "X SYSTEM"; }, 10)) << b.Show();
  const int bells = b.bells;
  ASSERT_TRUE(b.Text("42"));
  ASSERT_TRUE(b.Pump([&] { return b.Status(12) == "2"; }, 10)) << b.Show();
  EXPECT_EQ(b.bells, bells) << "no bell for keys typed ahead";
  EXPECT_NE(b.Line(4).substr(1, 2), "42");
  ASSERT_TRUE(host.SendRecord(screen));  // the answer unlocks the keyboard
  ASSERT_TRUE(b.Pump([&] { return b.Line(4).substr(1, 2) == "42" && b.Status(12) == "0"; }, 10)) << b.Show();
  EXPECT_EQ(b.Status(4), "");
}

// Save Screen answered with an image the host gives back in Restore Screen:
// the same screen comes back after the host showed another.
TEST_F(Hosts5250, SaveAndRestoreScreenThroughTheHost) {
  Host3270 host;
  Browser5250 b;
  Open(host, b, 2, "IBM-3179-2");
  ASSERT_TRUE(host.SendRecord(HexBytes(ReadFile(kFixtures + "ibmi-mcp-nexus-cakeyp-wtd.hex"))));
  ASSERT_TRUE(b.Pump([&] { return b.Line(3).find("Numeric:") != std::string::npos; }, 10)) << b.Show();
  ASSERT_TRUE(b.Text("77"));
  ASSERT_TRUE(b.Pump([&] { return b.Line(4).substr(1, 2) == "77"; }, 10)) << b.Show();
  ASSERT_TRUE(host.SendRecord(HexBytes(ReadFile(kFixtures + "ibmi-mcp-nexus-save-screen.hex"))));
  std::vector<uint8_t> image;
  ASSERT_TRUE(host.WaitRecord(0, &image)) << b.Show();
  ASSERT_EQ(image[9], 4) << "the Save Screen answer";
  // Another screen, then the saved one again.
  std::vector<uint8_t> other = {0,    0,    0x12, 0xA0, 0,    0,    4,    0,    0,    3,    0x04, 0x40,
                                0x04, 0x11, 0x00, 0x08, 0x11, 0x02, 0x02, 0xC5, 0xD3, 0xE2, 0xC5};
  other[1] = static_cast<uint8_t>(other.size());
  ASSERT_TRUE(host.SendRecord(other));
  ASSERT_TRUE(b.Pump([&] { return b.Line(1).substr(1, 4) == "ELSE"; }, 10)) << b.Show();
  std::vector<uint8_t> restore = {0, 0, 0x12, 0xA0, 0, 0, 4, 0, 0, 5};
  restore.insert(restore.end(), image.begin() + 10, image.end());
  restore[0] = static_cast<uint8_t>(restore.size() >> 8);
  restore[1] = static_cast<uint8_t>(restore.size());
  ASSERT_TRUE(host.SendRecord(restore));
  ASSERT_TRUE(b.Pump(
      [&] { return b.Line(4).substr(1, 2) == "77" && b.Line(3).find("Numeric:") != std::string::npos; }, 10))
      << b.Show();
  EXPECT_TRUE(b.Pump([&] { return b.screen.cursorY == 4 && b.screen.cursorX == 3; }, 10)) << b.Show();
  EXPECT_EQ(host.Records().size(), 1u) << "no parameter error";
}

// Settings: an unknown model index is the default model (its terminal type
// announced), a colour key of 0 leaves the default colour, a colour key
// names a colour of the emulation table.
TEST_F(Hosts5250, ModelAndColourSettings) {
  {
    Host3270 host;
    Browser5250 b;
    Open(host, b, 7, "IBM-5555-C01", ",\"5250colfg0\":0");
    ASSERT_TRUE(host.SendRecord(
        {0, 20, 0x12, 0xA0, 0, 0, 4, 0, 0, 3, 0x04, 0x40, 0x04, 0x11, 0x00, 0x08, 0x11, 0x02, 0x02, 0xC1}));
    ASSERT_TRUE(b.Pump([&] { return b.Line(1).substr(1, 1) == "A"; }, 10)) << b.Show();
    EXPECT_EQ((b.screen.Cell(1, 1) & BLK_CELL_FG) >> BLK_CELL_FG_SHIFT, 10u) << "green";
    EXPECT_EQ(b.cols(), 80);
  }
  {
    Host3270 host;
    Browser5250 b;
    Open(host, b, 1, "IBM-3477-FC", ",\"5250colfg0\":15");
    ASSERT_TRUE(host.SendRecord(
        {0, 20, 0x12, 0xA0, 0, 0, 4, 0, 0, 3, 0x04, 0x40, 0x04, 0x11, 0x00, 0x08, 0x11, 0x02, 0x02, 0xC1}));
    ASSERT_TRUE(b.Pump([&] { return b.Line(1).substr(1, 1) == "A"; }, 10)) << b.Show();
    EXPECT_EQ((b.screen.Cell(1, 1) & BLK_CELL_FG) >> BLK_CELL_FG_SHIFT, 14u) << "the 15th colour: yellow";
  }
}

}  // namespace
