// A 5250 sign-on by macro only, through the real binary: a host written here
// plays the recorded IBM i session of tests/fixtures/5250 (its Sign On
// screen), and the session's log-in macro waits for the screen (by the text
// at its place, or as a conversation by the text anywhere), puts the cursor
// in the user and password fields (5250 rows counted from the bottom), types
// the user and the stored password and presses Enter.  The host must receive
// exactly the record the recorded operator sent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../server/host3270.h"
#include "emulation_ids.h"
#include "kvx_browser.h"
#include "kvx_test.h"
#include "replay/tracefile.h"

using kvxtest::TestBrowser;

namespace {

const std::string kTrace = std::string(KVX_SOURCE_DIR) + "/tests/fixtures/5250/blazemeter-tn5250-login.trc";

std::string Hex(const std::vector<uint8_t>& b, size_t from = 0) {
  std::string s;
  char h[4];
  for (size_t i = from; i < b.size(); i++) {
    snprintf(h, sizeof h, "%02x", b[i]);
    s += h;
  }
  return s;
}

// The host's side of the 5250 telnet negotiation, as the recording has it.
bool Negotiate5250(Host3270& host, const std::string& terminalType) {
  return host.SendRaw("\xff\xfd\x27\xff\xfd\x18") && host.Expect("\xff\xfb\x27") &&
         host.Expect("\xff\xfb\x18") &&
         host.SendRaw(std::string("\xff\xfa\x27\x01\x00\x03\xff\xf0\xff\xfa\x18\x01\xff\xf0", 14)) &&
         host.Expect(std::string("\xff\xfa\x18\x00", 4) + terminalType + "\xff\xf0") &&
         host.SendRaw(std::string("\xff\xfd\x19\xff\xfb\x19\xff\xfd\x00\xff\xfb\x00", 12)) &&
         host.Expect("\xff\xfb\x19") && host.Expect("\xff\xfd\x19") &&
         host.Expect(std::string("\xff\xfb\x00", 3)) && host.Expect(std::string("\xff\xfd\x00", 3));
}

std::string Config(int port, const std::string& macro) {
  return "{\"kcf\":{\"commtype\":0,\"node\":\"127.0.0.1\",\"port\":" + std::to_string(port) +
         ",\"emulate\":" + std::to_string(KVX_EM_IBM5250) +
         ",\"em5250idx\":1,\"user\":\"TESTUSR\",\"passwordHash\":\"pw\","
         "\"secureKeys\":{\"pw\":\"TESTPSW\"},\"autologin\":1,\"autologinMacroHash\":" +
         kvxtest::JsonString(macro) + "},\"connectToHost\":true}";
}

TEST(Autologin5250, SignsOnByMacroOnly) {
  std::vector<trc_chunk> chunks;
  ASSERT_TRUE(trc_load(kTrace, chunks));
  std::vector<uint8_t> signOnScreen, signOn;
  for (const trc_event& e : trc_events(chunks)) {
    if (e.kind != TRC_RECORD) continue;
    if (e.fromHost && signOnScreen.empty()) signOnScreen = e.bytes;
    if (!e.fromHost && signOn.empty()) signOn = e.bytes;
  }
  // Enter with the cursor at row 7 column 60; TESTUSR at row 6 column 53,
  // TESTPSW at row 7 column 53 (rows and columns from 1).
  ASSERT_EQ(Hex(signOn, 10), "073cf1110635e3c5e2e3e4e2d9110735e3c5e2e3d7e2e6");

  // The 3477 screen has 25 rows: rows 6 and 7 are 19 and 18 from the bottom.
  const std::string macros[] = {
      "a 35 0 Sign On\nc 52 19\nu\nc 52 18\np\nk 13\n",
      "E 1\nw Sign On\nc 52 19\nt TESTUSR\nc 52 18\np\n",
  };
  kvxtest::KavrixServer server;
  for (const std::string& macro : macros) {
    SCOPED_TRACE(macro);
    Host3270 host;
    TestBrowser browser(25, 80);
    ASSERT_TRUE(browser.NewSession(server.port())) << server.err();
    ASSERT_EQ(kvxtest::EnvelopeCode(browser.PostConfig(Config(host.port(), macro)).body), 0);
    ASSERT_TRUE(browser.Attach());
    ASSERT_TRUE(host.Accept());
    ASSERT_TRUE(Negotiate5250(host, "IBM-3477-FC"));
    ASSERT_TRUE(host.SendRecord(signOnScreen));
    std::vector<uint8_t> got;
    ASSERT_TRUE(host.WaitRecord(0, &got)) << "no sign-on came";
    EXPECT_EQ(Hex(got, 10), Hex(signOn, 10));
    EXPECT_EQ(server.err().find("TESTPSW"), std::string::npos);
  }
}

}  // namespace
