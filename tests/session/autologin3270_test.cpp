// A 3270 log-in by macro only, through the real binary: a host written
// here plays the recorded TSO logon of tests/fixtures/3270/tn3270-login.trc
// after a screen of another layout, and the session's log-in macro waits
// for the logon screen (by its hash, by the text it shows at its place, or
// as a conversation by the text anywhere), puts the cursor in the user id
// field, types the user id and presses Enter.  The host must receive exactly the record the recorded
// operator sent, and nothing before the logon screen is there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../ite/fixture3270.h"
#include "../server/host3270.h"
#include "emulation_ids.h"
#include "kvx_browser.h"
#include "kvx_test.h"
#include "replay/tracefile.h"
#include "te3270/te3270.h"

using kvxtest::TestBrowser;

namespace {

std::string Hex(const std::vector<uint8_t>& b) {
  std::string s;
  char h[4];
  for (uint8_t c : b) {
    snprintf(h, sizeof h, "%02x", c);
    s += h;
  }
  return s;
}

// The recorded session: its host records and the operator's first record.
struct Recording {
  std::vector<std::vector<uint8_t>> host;
  std::vector<uint8_t> logon;  // what the operator sent at the logon screen
};

Recording Load() {
  Recording r;
  std::vector<trc_chunk> chunks;
  EXPECT_TRUE(trc_load(ref3270_dir() + "/tn3270-login.trc", chunks));
  for (const trc_event& e : trc_events(chunks)) {
    if (e.kind != TRC_RECORD) continue;
    if (e.fromHost && r.logon.empty()) r.host.push_back(e.bytes);
    if (!e.fromHost && r.logon.empty()) r.logon = e.bytes;
  }
  return r;
}

// The hash of the screen a model 2 terminal shows after `records`.
std::string HashAfter(const std::vector<std::vector<uint8_t>>& records) {
  te3270* t = TE3270Init(nullptr, nullptr);
  for (const auto& rec : records) DataFromNetwork(t, rec.data(), static_cast<int>(rec.size()), 1);
  std::string hash = ScreenHash(t);
  TE3270Destroy(t);
  return hash;
}

std::string Config(int port, const std::string& macro) {
  return "{\"kcf\":{\"commtype\":0,\"node\":\"127.0.0.1\",\"port\":" + std::to_string(port) +
         ",\"emulate\":" + std::to_string(KVX_EM_IBM3270_MODEL2) +
         ",\"em3270idx\":0,\"user\":\"testusr\",\"autologin\":1,\"autologinMacroHash\":" +
         kvxtest::JsonString(macro) + "},\"connectToHost\":true}";
}

TEST(Autologin3270, LogsOnByMacroOnly) {
  const Recording rec = Load();
  ASSERT_GE(rec.host.size(), 2u);
  ASSERT_EQ(Hex(rec.logon), "7d406111405aa385a2a3a4a299");  // Enter, "testusr" in the field at column 26
  // A first screen of another layout: one protected field at the top left.
  const std::vector<uint8_t> other = {0xF5, 0xC3, 0x11, 0x40, 0x40, 0x1D, 0x60, 0xC8, 0xC9};
  const std::string logonHash = HashAfter({rec.host[0]});
  ASSERT_EQ(logonHash.size(), 32u);
  ASSERT_NE(HashAfter({other}), logonHash);

  // By the screen's hash, by the text at its place, and as a conversation
  // (waiting for the text anywhere, sending text typed with Enter).
  const std::string macros[] = {
      "h " + logonHash + "\nc 26 0\nu\nk 13\n",
      "a 1 0 AAAAAAAAA ENTER USERID -\nc 26 0\nu\nk 13\n",
      "E 1\nw ENTER USERID\nc 26 0\nt testusr^M\n",
  };
  kvxtest::KavrixServer server;
  for (const std::string& macro : macros) {
    SCOPED_TRACE(macro);
    Host3270 host;
    TestBrowser browser(24, 80);
    ASSERT_TRUE(browser.NewSession(server.port())) << server.err();
    ASSERT_EQ(kvxtest::EnvelopeCode(browser.PostConfig(Config(host.port(), macro)).body), 0);
    ASSERT_TRUE(browser.Attach());
    ASSERT_TRUE(host.Accept());
    ASSERT_TRUE(host.NegotiateTn3270());
    ASSERT_TRUE(host.SendRecord(other));
    EXPECT_FALSE(host.WaitRecord(0, nullptr, 1)) << "typed before the logon screen: " << host.inbound();
    for (const auto& r : rec.host) ASSERT_TRUE(host.SendRecord(r));
    std::vector<uint8_t> got;
    ASSERT_TRUE(host.WaitRecord(0, &got)) << "no log-on came";
    EXPECT_EQ(Hex(got), Hex(rec.logon));
  }
}

}  // namespace
