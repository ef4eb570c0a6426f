// The session's keyboard path with the shipped code-page file and a
// recording connection: characters as UTF-8 or as host code-page bytes,
// national replacements, key strings of the emulation in each mode,
// backspace, keys without a string, codes outside the key space, surrogate
// pairs, local echo, and texts in key notation.
#include "keyboard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "app.h"
#include "emulation_ids.h"
#include "keyname.h"
#include "lumconnection.h"
#include "lumdict.h"
#include "platform.h"
#include "settings.h"
#include "tcs.h"
#include "te/te.h"
#include "vid/vtext.h"

namespace {

class RecordingConnection : public LumConnection {
 public:
  using LumConnection::Comout;
  std::string written;
  int MakeConnection() override { return 1; }
  bool IsConnected() override { return true; }
  int Read(char*, int) override { return 0; }  // the host says nothing
  void Comout(const char* bytes, int length) override { written.append(bytes, static_cast<size_t>(length)); }
};

// A browser's code point for a terminal key.
int Browser(int keyCode) {
  return TCS_KEY_UNICODE_BASE + (keyCode - 256);
}

class Keyboard : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(chdir(KVX_SOURCE_DIR), 0);
    app = app_main_initialize();
    set_app(app);
    ASSERT_NE(app->lpte, nullptr);
    conn = new RecordingConnection();
    app->_conn = conn;
  }
  void TearDown() override {
    app->_conn = nullptr;
    delete conn;
  }

  // Applies session settings on top of a shell's defaults.
  void Configure(std::initializer_list<std::pair<const char*, const char*>> entries) {
    LumDict dict;
    dict.setIntForKey("emulate", KVX_EM_XTERM);
    dict.setStringForKey("MBMode", "1");
    dict.setStringForKey("cptrxin", "ISO 8859-1 Latin 1");
    for (const auto& [k, v] : entries) dict.setStringForKey(k, v);
    app_set_te_safe_values(app, &dict);
    ASSERT_NE(app->lpte->Unicode2TCS, nullptr);
  }

  // What one key sends to the host.
  std::string Press(int key) {
    conn->written.clear();
    app_onkey(app, key);
    return conn->written;
  }

  te* t() { return app->lpte; }

  app_s* app = nullptr;
  RecordingConnection* conn = nullptr;
};

TEST_F(Keyboard, CharactersGoAsUtf8WhenTheHostSpeaksIt) {
  Configure({});
  EXPECT_EQ(Press(0x41), "A");
  EXPECT_EQ(Press(0xE9), "\xC3\xA9");
  EXPECT_EQ(Press(0x20AC), "\xE2\x82\xAC");
  EXPECT_EQ(Press(0x4E2D), "\xE4\xB8\xAD");
  EXPECT_EQ(Press(13), "\r");
  EXPECT_EQ(Press(3), "\x03");  // Ctrl+C
  EXPECT_EQ(Press(0), std::string(1, '\0'));
  EXPECT_EQ(Press(9), "\t");
  EXPECT_EQ(Press(27), "\033");
}

TEST_F(Keyboard, CharactersGoAsTheHostCodePageByteWithoutUtf8) {
  Configure({{"MBMode", "0"}});
  EXPECT_EQ(Press(0x41), "A");
  EXPECT_EQ(Press(0xE9), "\xE9");
  EXPECT_EQ(Press(13), "\r");
  EXPECT_EQ(Press(3), "\x03");
  Configure({{"MBMode", "0"}, {"cptrxin", "STD 437 MS-DOS Latin US"}});
  EXPECT_EQ(Press(0xE9), "\x82");
  EXPECT_EQ(Press(0x2500), "\xC4");  // a line-drawing character of the PC set
  EXPECT_EQ(Press(0x7A), "z");
}

TEST_F(Keyboard, NationalCharacterSetReplacesTheCharacter) {
  Configure(
      {{"MBMode", "0"}, {"charset", "6"}, {"emulate", std::to_string(KVX_EM_VT220).c_str()}});  // German
  ASSERT_TRUE(t()->_nrcsmode);
  EXPECT_EQ(Press(0xE4), "{");  // a-umlaut stands where '{' is
  EXPECT_EQ(Press(0xDF), "~");  // sharp s
  EXPECT_EQ(Press(0x41), "A");
  EXPECT_EQ(Press(0xE9), "\xE9");  // not in the national set: the code page
}

TEST_F(Keyboard, KeysSendTheEmulationsStringAndNothingElse) {
  Configure({});
  EXPECT_EQ(Press(Browser(TK_F1)), "\033OP");
  EXPECT_EQ(Press(Browser(TK_F1 + 4)), "\033[15~");
  EXPECT_EQ(Press(Browser(TK_HOME)), "\033[H");
  EXPECT_EQ(Press(Browser(TK_DEL)), "\033[3~");
  EXPECT_EQ(Press(Browser(TK_PGUP)), "\033[5~");
  EXPECT_EQ(Press(Browser(TK_UP)), "\033[A");
  EXPECT_EQ(Press(Browser(TK_LEFT)), "\033[D");
  t()->_appcur = 1;
  EXPECT_EQ(Press(Browser(TK_UP)), "\033OA");
  EXPECT_EQ(Press(Browser(TK_LEFT)), "\033OD");
  // The same with UTF-8 off: the string is not a character of the code page.
  Configure({{"MBMode", "0"}});
  EXPECT_EQ(Press(Browser(TK_F1)), "\033OP");
}

TEST_F(Keyboard, BackspaceFollowsTheSetting) {
  Configure({{"bsdel", "1"}});
  EXPECT_EQ(Press(Browser(TK_BACKSPACE)), "\177");
  Configure({{"bsdel", "0"}});
  EXPECT_EQ(Press(Browser(TK_BACKSPACE)), "\b");
  EXPECT_EQ(Press(Browser(TK_C_BACKSPACE)), "\177");
  // Keys with modifiers travel through the code-page file's key table.
  EXPECT_EQ(Press(Browser(TK_C_UP)), "\x1b[1;5A");
  EXPECT_EQ(Press(Browser(TK_MODKEY + 13)), "\x1b[1;3D");
  EXPECT_EQ(Press(Browser(TK_CASF1 + 11)), "\x1b[24;8~");
}

TEST_F(Keyboard, KeysWithoutAStringAndCodesOutsideTheKeySpaceSendNothing) {
  Configure({});
  for (int mb : {0, 1}) {
    t()->MBMode = mb;
    EXPECT_EQ(Press(Browser(TK_MENU)), "") << mb;
    EXPECT_EQ(Press(Browser(TK_NUMLOCK)), "") << mb;
    EXPECT_EQ(Press(Browser(TK_PF1)), "") << mb;  // a 3270 key
    EXPECT_EQ(Press(Browser(TK_F1 + 19)), "") << mb;
    for (int key : {-1, -0x41, 0x10000, 0x10041, 0x7FFFFFFF, static_cast<int>(0x80000000u)})
      EXPECT_EQ(Press(key), "") << mb << " " << key;
  }
}

TEST_F(Keyboard, SurrogatePairsMakeOneCharacter) {
  Configure({});
  EXPECT_EQ(Press(0xD83D), "");
  EXPECT_EQ(Press(0xDE00), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Press(0xDE00), "");  // a second half alone is no character
  EXPECT_EQ(Press(0xD83D), "");  // a first half followed by something else
  EXPECT_EQ(Press(0x41), "A");   // is dropped
  EXPECT_EQ(Press(0xDE00), "");
  Configure({{"MBMode", "0"}});
  EXPECT_EQ(Press(0xD83D), "");
  EXPECT_EQ(Press(0xDE00), "");
}

TEST_F(Keyboard, LocalEchoShowsWhatIsSent) {
  Configure({{"mode", "1"}});
  TEemwrite(t(), "\033[H\033[2J", 7);
  std::string sent = Press('h');
  sent += Press('i');
  EXPECT_EQ(sent, "hi");
  EXPECT_EQ(vid_screenrow(t(), 0), "hi");
  // Without a host, keys still echo.
  app->_conn = nullptr;
  app_onkey(app, '!');
  app->_conn = conn;
  EXPECT_EQ(vid_screenrow(t(), 0), "hi!");
}

TEST_F(Keyboard, KeyNotationTextGoesAsKeys) {
  Configure({});
  conn->written.clear();
  app_send_translated_string(app, "ls <F1><UP>x<^C><13>");
  EXPECT_EQ(conn->written, "ls \033OP\033[Ax\x03\r");
}

TEST_F(Keyboard, WithoutATranslationTableTheKeyIsDropped) {
  Configure({});
  unsigned short* table = t()->Unicode2TCS;
  t()->Unicode2TCS = nullptr;
  EXPECT_EQ(Press('a'), "");
  t()->Unicode2TCS = table;
  EXPECT_EQ(Press('a'), "a");
}

}  // namespace
