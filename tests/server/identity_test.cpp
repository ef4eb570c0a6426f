// Host identity and characters through the real binary, as a browser sees
// them: 8-bit hosts in their code page through each character-mode family;
// 3270 and 5250 records in national and euro EBCDIC pages; the device (LU)
// name sent in every negotiation and the one the host assigned or
// confirmed in the status line with the host's name; the 3270 query reply's
// character set and the 5250 station's NEW-ENVIRON.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "emulation_ids.h"
#include "host3270.h"
#include "kvx_browser.h"
#include "kvx_test.h"

using kvxtest::ChannelFrame;
using kvxtest::TestBrowser;

namespace {

// A browser that keeps the status line and reads cells as UTF-8.
struct Browser : TestBrowser {
  Browser() : TestBrowser(28, 132) {
    onFrame = [this](const ChannelFrame& f) {
      if (f.action == KVX_HOST_ACTION_STATUS) status = f.fields;
    };
  }
  std::vector<std::string> status;
  std::string Status(size_t i) const { return i < status.size() && status[i] != " " ? status[i] : ""; }
  // Row y as UTF-8 (cells without a character as blanks).
  std::string Utf8Row(int y) const {
    std::string s;
    for (int x = 0; x < screen.cols; x++) {
      uint64_t v = screen.Cell(x, y);
      uint32_t cp = (v >> 63) ? static_cast<uint32_t>((v >> 32) & 0x7FFFFFFF) : ' ';
      if (cp < 0x80) {
        s += static_cast<char>(cp ? cp : ' ');
      } else if (cp < 0x800) {
        s += {static_cast<char>(0xC0 | cp >> 6), static_cast<char>(0x80 | (cp & 0x3F))};
      } else {
        s += {static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
              static_cast<char>(0x80 | (cp & 0x3F))};
      }
    }
    return s;
  }
  bool Key(int code) {
    std::string data(4, '\0');
    for (int i = 0; i < 4; i++) data[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
    return ws.Send(2, kvxtest::ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, data));
  }
  bool ShowsText(const std::string& text) const {
    for (int y = 0; y < screen.rows; y++)
      if (Utf8Row(y).find(text) != std::string::npos) return true;
    return false;
  }
  std::string Show() const {
    std::string s = "status:";
    for (const std::string& f : status) s += " [" + f + "]";
    s += "\n";
    for (int y = 0; y < 6; y++) s += Utf8Row(y) + "\n";
    return s + error;
  }
};

std::string Hex(const std::vector<uint8_t>& b) {
  std::string s;
  char h[4];
  for (uint8_t c : b) {
    snprintf(h, sizeof h, "%02x", c);
    s += h;
  }
  return s;
}

std::string Kcf(int port, int emulate, const std::string& extra) {
  return "{\"kcf\":{\"commtype\":0,\"node\":\"127.0.0.1\",\"port\":" + std::to_string(port) +
         ",\"emulate\":" + std::to_string(emulate) + extra + "},\"connectToHost\":true}";
}

class Identity : public ::testing::Test {
 protected:
  void SetUp() override { server = std::make_unique<kvxtest::KavrixServer>(); }
  void Open(Host3270& host, Browser& b, const std::string& config) {
    ASSERT_TRUE(b.NewSession(server->port())) << server->err();
    ASSERT_EQ(kvxtest::EnvelopeCode(b.PostConfig(config).body), 0);
    ASSERT_TRUE(b.Attach());
    ASSERT_TRUE(host.Accept());
  }
  std::unique_ptr<kvxtest::KavrixServer> server;
};

// The same text in each 8-bit code page, through each character-mode
// family: box drawing from 437 on PC-term and SCO ANSI, accented letters
// from ISO 8859-1 and 850 on Wyse and from ISO 8859-1 on a VT220 whose host
// sends 8-bit characters (MBMode 0; a VT takes its upper half as its own
// supplemental set, which holds Latin 1's letters).
TEST_F(Identity, EightBitHostsInTheirCodePage) {
  struct Case {
    const char* name;
    int emulate;
    const char* cptrxin;
    std::string bytes;
    const char* shown;
  } cases[] = {
      {"437 on PC-term", KVX_EM_PCTERM, "STD 437 MS-DOS Latin US", "\xDA\xC4\xBF \xB3x\xB3 \xC0\xC4\xD9",
       "┌─┐ │x│ └─┘"},
      {"437 on SCO ANSI", KVX_EM_SCOANSI, "STD 437 MS-DOS Latin US", "\xC4\xB3 \xC9\xCD\xBB", "─│ ╔═╗"},
      {"8859-1 on Wyse 60", KVX_EM_WYSE60, "ISO 8859-1 Latin 1", "caf\xE9 \xFC\xDF\xF1", "café üßñ"},
      {"850 on Wyse 50", KVX_EM_WYSE50, "STD 850 MS-DOS Latin 1", "caf\x82 \x81\xE1\xA4", "café üßñ"},
      {"8859-1 on VT220", KVX_EM_VT220, "ISO 8859-1 Latin 1", "caf\xE9 \xFC\xDF\xF1", "café üßñ"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Host3270 host;
    Browser b;
    Open(host, b, Kcf(host.port(), c.emulate, std::string(",\"MBMode\":0,\"cptrxin\":\"") + c.cptrxin + "\""));
    ASSERT_TRUE(b.WaitConnected()) << b.Show();
    ASSERT_TRUE(host.SendRaw(std::string("\r\n") + c.bytes + "\r\n"));
    EXPECT_TRUE(b.Pump([&] { return b.ShowsText(c.shown); }, 10)) << b.Show();
    // A typed character goes back in the host's code page.
    if (std::string(c.shown).find("café") != std::string::npos) {
      ASSERT_TRUE(b.Key(0xE9));
      const char* e = std::string(c.cptrxin).find("850") != std::string::npos ? "\x82" : "\xE9";
      EXPECT_TRUE(host.Expect(e)) << "é sent as the host's byte";
    }
  }
}

// 3270 records in national and euro pages: the screen shows each page's
// characters, the query reply names the page and its character set, the
// device asked for goes in DEVICE-TYPE REQUEST and the one the host
// assigned shows in the status line with the host's name.
TEST_F(Identity, Tn3270NationalPagesAndDeviceName) {
  struct Case {
    const char* cptrxin;
    const char* shown;  // EBCDIC 4A 5A 9F AD C0 E0
    const char* cgcsgid;
  } cases[] = {
      {"CP273", "ÄÜ¤ÝäÖ", "02b90111"},
      {"CP500", "[]¤Ý{\\", "02b901f4"},
      {"CP1141", "ÄÜ€ÝäÖ", "02b70475"},
      {"CP1047", "¢!¤[{\\", "02b90417"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cptrxin);
    Host3270 host;
    Browser b;
    Open(host, b,
         Kcf(host.port(), KVX_EM_IBM3270_MODEL2,
             std::string(",\"em3270idx\":0,\"TE3270EnExAtt\":1,\"teltermtype\":\"LUREQ01\",\"cptrxin\":\"") +
                 c.cptrxin + "\""));
    ASSERT_TRUE(host.NegotiateTn3270e());
    EXPECT_EQ(host.Sub(0x28, 0x02), "\x07IBM-3278-2-E\x01LUREQ01") << "the device asked for";
    ASSERT_TRUE(b.WaitConnected()) << b.Show();
    // Header, Erase/Write, WCC, Set Buffer Address row 1 column 1, text.
    ASSERT_TRUE(host.SendRecord({0, 0, 0, 0, 0, 0xF5, 0xC3, 0x11, 0x40, 0x40, 0xC1, 0x4A, 0x5A, 0x9F, 0xAD,
                                 0xC0, 0xE0, 0xC1}));
    EXPECT_TRUE(b.Pump([&] { return b.ShowsText(std::string("A") + c.shown + "A"); }, 10)) << b.Show();
    EXPECT_TRUE(b.Pump([&] { return b.Status(13) == "LU00001" && b.Status(14) == "127.0.0.1"; }, 10))
        << b.Show();
    // Read Partition Query: the Character Sets reply names the page.
    ASSERT_TRUE(host.SendRecord({0, 0, 0, 0, 0, 0xF3, 0x00, 0x05, 0x01, 0xFF, 0x02}));
    std::vector<uint8_t> reply;
    ASSERT_TRUE(host.WaitRecord(0, &reply)) << b.Show();
    EXPECT_NE(Hex(reply).find(std::string("81858200090c0000000007001000") + c.cgcsgid),
              std::string::npos)
        << Hex(reply);
  }
}

// The host's side of the 5250 negotiation; the station's NEW-ENVIRON
// answer is left in the host's inbound bytes.
bool Negotiate5250(Host3270& host) {
  return host.SendRaw("\xff\xfd\x27\xff\xfd\x18") && host.Expect("\xff\xfb\x27") &&
         host.Expect("\xff\xfb\x18") &&
         host.SendRaw(std::string("\xff\xfa\x27\x01\x00\x03\xff\xf0\xff\xfa\x18\x01\xff\xf0", 14)) &&
         host.Expect(std::string("\xff\xfa\x18\x00", 4)) &&
         host.SendRaw(std::string("\xff\xfd\x19\xff\xfb\x19\xff\xfd\x00\xff\xfb\x00", 12)) &&
         host.Expect("\xff\xfb\x19") && host.Expect("\xff\xfd\x19") &&
         host.Expect(std::string("\xff\xfb\x00", 3)) && host.Expect(std::string("\xff\xfd\x00", 3));
}

std::string Var(const std::string& name, const std::string& value) {
  return "\x03" + name + "\x01" + value;
}

// 5250: the station tells the host its device, keyboard, code page and
// character set; the device the startup response record confirms shows in
// the status line; records in national and euro pages show their
// characters.
TEST_F(Identity, Tn5250NationalPagesDeviceAndEnvironment) {
  struct Case {
    const char* cptrxin;
    const char* kbd;
    std::string environ;
    const char* shown;
  } cases[] = {
      {"CP273", "", Var("DEVNAME", "DSP01") + Var("KBDTYPE", "AGB") + Var("CODEPAGE", "273") +
                        Var("CHARSET", "697") + Var("IBMSENDCONFREC", "YES"),
       "ÄÜ¤ÝäÖ"},
      {"CP500", "SFI", Var("DEVNAME", "DSP01") + Var("KBDTYPE", "SFI") + Var("CODEPAGE", "500") +
                           Var("CHARSET", "697") + Var("IBMSENDCONFREC", "YES"),
       "[]¤Ý{\\"},
      {"CP1141", "", Var("DEVNAME", "DSP01") + Var("KBDTYPE", "AGB") + Var("CODEPAGE", "1141") +
                         Var("CHARSET", "695") + Var("IBMSENDCONFREC", "YES"),
       "ÄÜ€ÝäÖ"},
      {"CP1047", "", Var("DEVNAME", "DSP01") + Var("KBDTYPE", "USB") + Var("CODEPAGE", "1047") +
                         Var("CHARSET", "697") + Var("IBMSENDCONFREC", "YES"),
       "¢!¤[{\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cptrxin);
    Host3270 host;
    Browser b;
    Open(host, b,
         Kcf(host.port(), KVX_EM_IBM5250,
             std::string(",\"em5250idx\":2,\"teltermtype\":\"DSP01\",\"cptrxin\":\"") + c.cptrxin +
                 "\",\"ibmkbdtype\":\"" + c.kbd + "\""));
    ASSERT_TRUE(Negotiate5250(host));
    EXPECT_EQ(host.Sub(0x27, 0x00), c.environ);
    ASSERT_TRUE(b.WaitConnected()) << b.Show();
    // The startup response record: I902, system name, device name.
    std::vector<uint8_t> startup = {0, 0x49, 0x12, 0xA0, 0x90, 0x00, 0x05, 0x60, 0x06, 0x00, 0x20, 0xC0,
                                    0x00, 0x3D, 0x00, 0x00, 0xC9, 0xF9, 0xF0, 0xF2};
    for (uint8_t e : {0xE2, 0xE8, 0xE2, 0xE3, 0xC5, 0xD4, 0xF1, 0x40}) startup.push_back(e);  // SYSTEM1
    for (uint8_t e : {0xC4, 0xE2, 0xD7, 0xF0, 0xF1, 0x40, 0x40, 0x40, 0x40, 0x40}) startup.push_back(e);
    startup.resize(0x49, 0);
    ASSERT_TRUE(host.SendRecord(startup));
    // Clear Unit, Write To Display at row 2 column 2.
    std::vector<uint8_t> wtd = {0,    0,    0x12, 0xA0, 0,    0,    4,    0,    0,    3,    0x04, 0x40, 0x04,
                                0x11, 0x00, 0x08, 0x11, 0x02, 0x02, 0xC1, 0x4A, 0x5A, 0x9F, 0xAD, 0xC0, 0xE0, 0xC1};
    wtd[1] = static_cast<uint8_t>(wtd.size());
    ASSERT_TRUE(host.SendRecord(wtd));
    EXPECT_TRUE(b.Pump([&] { return b.ShowsText(std::string("A") + c.shown + "A"); }, 10)) << b.Show();
    EXPECT_TRUE(b.Pump([&] { return b.Status(13) == "DSP01" && b.Status(14) == "127.0.0.1"; }, 10))
        << b.Show();
    EXPECT_EQ(host.Records().size(), 0u) << "the startup record is no screen: no error answer";
  }
}

// The local shell of a server started with a locale the machine lacks gets
// C.UTF-8 instead (and the server's other variables that name one it has):
// vim and less show "…" and "é" as they are.
TEST(IdentityShell, VimAndLessShowUtf8UnderALocaleThatExists) {
  ASSERT_EQ(kvxtest::Need({"vim", "less"}), "");
  char tmpl[] = "/tmp/kvxlocale.XXXXXX";
  const std::string home = mkdtemp(tmpl);
  std::ofstream(home + "/.bashrc") << "PS1='kvx$ '\nunset PROMPT_COMMAND\n";
  std::ofstream(home + "/text.txt") << "Host\xE2\x80\xA6 caf\xC3\xA9 done\n";
  setenv("LANG", "xx_NO.UTF-8", 1);
  setenv("LC_TIME", "C.UTF-8", 1);
  unsetenv("LC_ALL");
  unsetenv("LC_CTYPE");
  kvxtest::ServerOptions options;
  options.home = home;
  auto server = std::make_unique<kvxtest::KavrixServer>(options);
  unsetenv("LANG");
  unsetenv("LC_TIME");
  Browser b;
  ASSERT_TRUE(b.NewSession(server->port())) << server->err();
  const std::string config = "{\"kcf\":{\"commtype\":7,\"lines\":24,\"col\":80,\"emulate\":" +
                             std::to_string(KVX_EM_XTERM) + ",\"MBMode\":1},\"connectToHost\":true}";
  ASSERT_EQ(kvxtest::EnvelopeCode(b.PostConfig(config).body), 0);
  ASSERT_TRUE(b.Attach());
  ASSERT_TRUE(b.WaitConnected()) << b.Show();
  ASSERT_TRUE(b.Type("cd; echo \"L=$LANG,$LC_TIME,$(locale charmap)=\"\r"));
  EXPECT_TRUE(b.Pump([&] { return b.ShowsText("L=C.UTF-8,C.UTF-8,UTF-8="); }, 30)) << b.Show();
  ASSERT_TRUE(b.Type("clear; less text.txt\r"));
  EXPECT_TRUE(b.Pump([&] { return b.ShowsText("Host… café done"); }, 30)) << b.Show();
  ASSERT_TRUE(b.Type("q"));
  ASSERT_TRUE(b.Type("clear; vim -u NONE -i NONE -N -n text.txt; echo vim-$((6*7))\r"));
  EXPECT_TRUE(b.Pump([&] { return b.ShowsText("Host… café done"); }, 30)) << b.Show();
  ASSERT_TRUE(b.Type(":q!\r"));
  EXPECT_TRUE(b.Pump([&] { return b.ShowsText("vim-42"); }, 30)) << b.Show();
  b.ws.conn.Close();
  server.reset();
  std::error_code ec;
  std::filesystem::remove_all(home, ec);
}

}  // namespace
