// Macro playback through the session's host-data pass: keys, screen-hash
// and screen-text waits, the dialog macros compiled from send-and-wait
// lines and run in the macro's order, credentials and secrets, the line
// reader (line ends, over-long lines), the macro directory's rules, and the
// automatic log-in on the first host data with every host byte shown, and
// block-mode macros through the binding with an engine in the 5250 slot.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "blockmode.h"
#include "emulation_ids.h"
#include "fws/fws.h"
#include "json.h"
#include "macro_fixture.h"
#include "settings_fixture.h"

namespace {

using Macro = MacroSession;

TEST_F(Macro, KeysAreTypedAndPlaybackFinishes) {
  app_macro_playback(app, "k 65 (A)\nk 13 (?)");
  EXPECT_EQ(Sent(), "A\r");
  EXPECT_FALSE(app_macro_playing(app));

  app_macro_playback(app, "e");
  EXPECT_FALSE(app_macro_playing(app));
  EXPECT_EQ(Sent(), "");
}

TEST_F(Macro, LineEndsAndRecordsWithoutArguments) {
  struct Case {
    std::string macro;
    std::string sent;
  };
  const Case cases[] = {
      {"k 65\r\nk 66", "AB"},
      {"k 65\n\rk 66\r", "AB"},
      {"k 65\n\nk 66\n", "AB"},
      {"k 65\rk 66", "AB"},
      {"k    67   (C)\nk", std::string("C") + '\0'},  // a missing number reads as 0
      {"T title\nH host\nL label\nK key\nX unknown\nk 68", "D"},
      {"k 65\n\n\n\nk 66", "AB"},  // blank lines are ignored
      {"h\nh   \nk 65", "A"},       // no hash: nothing to wait for
  };
  for (const Case& c : cases) {
    app_macro_playback(app, c.macro.c_str());
    EXPECT_EQ(Sent(), c.sent) << c.macro;
    EXPECT_FALSE(app_macro_playing(app)) << c.macro;
  }
}

TEST_F(Macro, AnOverlongLineEndsTheMacro) {
  // A line of 1022 characters and its LF fits; 1023 and the LF do not.
  const std::string fits = "k 65 " + std::string(1017, 'x') + "\nk 66\n";
  app_macro_playback(app, fits.c_str());
  EXPECT_EQ(Sent(), "AB");
  const std::string tooLong = "k 65\nk 66 " + std::string(1018, 'x') + "\nk 67\n";
  app_macro_playback(app, tooLong.c_str());
  EXPECT_EQ(Sent(), "A") << "the long line and everything after it are refused";
  EXPECT_FALSE(app_macro_playing(app));
}

TEST_F(Macro, ScreenHashWaits) {
  app_macro_playback(app, "k 65\nh 0123456789abcdef0123456789abcdef\nk 66");
  EXPECT_EQ(Sent(), "A");
  EXPECT_TRUE(app_macro_waiting(app));
  app_macro_playback_continue_with_hash(app, "0123456789abcdef0123456789abcdee");
  EXPECT_TRUE(app_macro_waiting(app));
  EXPECT_EQ(Sent(), "");
  app_macro_playback_continue_with_hash(app, "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(Sent(), "B");
  EXPECT_FALSE(app_macro_playing(app));

  // A pending log-in macro starts with the first complete block-mode
  // record, and that record's screen may already be the one it waits for.
  app->_autologin = true;
  app->_autologinMacroHash = "h 00112233445566778899aabbccddeeff\nk 67\nh ffeeddccbbaa99887766554433221100\nk 68";
  app_macro_block_record(app, "00112233445566778899aabbccddeeff");
  EXPECT_FALSE(app->_autologin);
  EXPECT_EQ(Sent(), "C");
  app_macro_block_record(app, "00112233445566778899aabbccddeeff");
  EXPECT_EQ(Sent(), "");
  app_macro_block_record(app, "ffeeddccbbaa99887766554433221100");
  EXPECT_EQ(Sent(), "D");
  EXPECT_FALSE(app_macro_playing(app));
}

TEST_F(Macro, ScreenTextWaitsLookAtTheScreen) {
  app_macro_playback(app, "a 2 1 Ready \xe2\x86\x92 go\nk 65");
  EXPECT_TRUE(app_macro_waiting(app));
  Host("\r\n  Ready \xe2\x86\x92");
  EXPECT_EQ(Sent(), "") << "only part of the text is there";
  Host(" go");
  EXPECT_EQ(Sent(), "A");
  EXPECT_FALSE(app_macro_playing(app));

  // Text already on the screen does not wait.
  app_macro_playback(app, "a 2 1 Ready\nk 66");
  EXPECT_EQ(Sent(), "B");
  // Elsewhere on the screen is not there.
  app_macro_playback(app, "a 0 1 Ready\nk 67");
  EXPECT_TRUE(app_macro_waiting(app));
  EXPECT_EQ(app_macro_match_string(app, 2, 1, "Ready"), 1);
  EXPECT_EQ(app_macro_match_string(app, 80, 1, "R"), 0);
  EXPECT_EQ(app_macro_match_string(app, 0, 24, ""), 0);
}

// The compiled dialog script of a log-in macro, and its run against the
// host's output through the session: each answer goes only after its
// prompt, and every prompt byte is on the screen.
TEST_F(Macro, LoginMacroRunsAsADialog) {
  dict->setStringForKey("user", "alice");
  dict->setStringForKey("passwordHash", Secret("pw-of-alice").c_str());
  TraceCapture trace(TRACE_ALL);
  app_macro_playback(app, "E 1\nw login:\nu\nw Password:\np");
  const std::string script = "\x13login:\x13\x15\x13Password:\x13\x10";
  EXPECT_EQ(app->dialogString, script);
  EXPECT_TRUE(app_macro_playing(app));
  Host("Welcome\r\nlog");
  Host("in");
  EXPECT_EQ(Sent(), "");
  Host(": ");
  EXPECT_EQ(Sent(), "alice\r");
  Host("\r\nPassword: ");
  EXPECT_EQ(Sent(), "pw-of-alice\r");
  EXPECT_FALSE(app_macro_playing(app)) << "the dialog's end is the macro's end";
  EXPECT_EQ(Row(0), "Welcome");
  EXPECT_EQ(Row(1), "login:");
  EXPECT_EQ(Row(2), "Password:");
  for (const std::string& line : trace.lines()) EXPECT_EQ(line.find("pw-of-alice"), std::string::npos) << line;
}

// Secrets, keys and text in a dialog macro go in the macro's order, each
// after the wait before it.
TEST_F(Macro, DialogMacrosKeepTheirOrder) {
  const std::string token = Secret("stored value");
  const std::string macro = "E 1\nw first:\ns " + token + "\nk 13\nw second:\nt typed^M\nk 66\nw third:\nk 67";
  app_macro_playback(app, macro.c_str());
  EXPECT_EQ(Sent(), "");
  Host("first:");
  EXPECT_EQ(Sent(), "stored value\r");
  Host("second:");
  EXPECT_EQ(Sent(), "typed\rB");
  Host("third:");
  EXPECT_EQ(Sent(), "C");
  EXPECT_FALSE(app_macro_playing(app));

  // All prompts in one read: each script takes the bytes after the one
  // before it ended.
  app_macro_playback(app, macro.c_str());
  Host("first:second:third:");
  EXPECT_EQ(Sent(), "stored value\rtyped\rBC");
  EXPECT_FALSE(app_macro_playing(app));

  // Outside a dialog macro, `s`, `u` and `p` type at once.
  dict->setStringForKey("user", "bob");
  dict->setStringForKey("passwordHash", Secret("pw").c_str());
  app_macro_playback(app, ("s " + token + "\nu\np").c_str());
  EXPECT_EQ(Sent(), "stored valuebobpw");
}

TEST_F(Macro, PausesAndTimeOutsRunOnTheTimer) {
  app_macro_playback(app, "n 1\nt x\nk 66");
  EXPECT_EQ(Sent(), "");
  ASSERT_TRUE(Loop([&] { return !app_macro_playing(app); }));
  EXPECT_EQ(Sent(), "xB");

  // Control bytes in a text are text, not commands.
  app_macro_playback(app, "t \x14" "01\nw never\nk 65");
  EXPECT_EQ(app->dialogString.substr(0, 3), "^T0");
  EXPECT_EQ(Sent(), "\x14" "01");

  // A wait that times out stops the macro: nothing after it is typed.
  app_macro_playback(app, "E 1\nw never\nk 65");
  app->comwaitTimeout = dlg_now_ms() + 1000;  // one second instead of a minute
  ASSERT_TRUE(Loop([&] { return !app_macro_playing(app); }));
  EXPECT_EQ(app->dialogEnd, DLG_END_TIMEOUT);
  EXPECT_EQ(Sent(), "");
}

TEST_F(Macro, ADisconnectStopsPlayback) {
  app_macro_playback(app, "E 1\nw never\nk 65");
  ASSERT_TRUE(app_macro_playing(app));
  app_disconnect(app, 0);
  EXPECT_FALSE(app_macro_playing(app));
  EXPECT_EQ(app->dialogState, DLG_IDLE);
  EXPECT_EQ(app->_staleConnection, host);
  app->_staleConnection = nullptr;  // the fixture deletes it
}

TEST_F(Macro, AutologinStartsOnTheFirstHostData) {
  dict->setStringForKey("user", "carol");
  app->_autologin = true;
  app->_autologinMacroHash = "E 1\nw login: \nu";
  Host("login: ");
  EXPECT_EQ(Sent(), "carol\r") << "the first bytes already hold the prompt";
  EXPECT_FALSE(app->_autologin);
  EXPECT_EQ(Row(0), "login:");
  Host("login: ");
  EXPECT_EQ(Sent(), "") << "once per connect";
}

// The log-in macro comes whole from the posted settings object, although
// the dictionary keeps only one line of a value.
TEST_F(Macro, AutologinMacroTextComesWholeFromTheSettings) {
  app->_config = parse_json(
      "{\"kcf\":{\"autologin\":1,\"autologinMacroHash\":\"E 1\\nw login:\\nu\\n\",\"user\":\"dave\"}}");
  ASSERT_NE(app->_config, nullptr);
  delete app->_dict;
  LumDict* posted = new LumDict();
  posted->setStringForKey("autologin", "1");
  posted->setStringForKey("autologinMacroHash", "E 1\nw login:\nu\n");
  posted->setStringForKey("user", "dave");
  app->_dict = posted;
  dict = posted;
  app_set_te_unsafe_values(app, posted);
  EXPECT_EQ(app->_autologinMacroHash, "E 1\nw login:\nu\n");
  js_free_value(app->_config);
  app->_config = nullptr;
}

class MacroFiles : public MacroSession {
 protected:
  void SetUp() override {
    MacroSession::SetUp();
    char tmpl[] = "/tmp/kvx-macros-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    Write(dir + "/login.mac", "k 65\nk 66\n");
    outside = dir + "-outside.mac";
    Write(outside, "k 88\n");
    ASSERT_EQ(symlink(outside.c_str(), (dir + "/link.mac").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo.mac").c_str(), 0600), 0);
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0700), 0);
    Write(dir + "/sub/inner.mac", "k 89\n");
    Write(dir + "/big.mac", std::string(MAC_MAX_TEXT + 1, '\n'));
    Write(dir + "/long.mac", "k 65\n" + std::string(2000, 'k') + "\nk 66\n");
  }
  void TearDown() override {
    std::system(("rm -rf '" + dir + "' '" + outside + "'").c_str());
    MacroSession::TearDown();
  }
  static void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
  std::string dir, outside;
};

TEST_F(MacroFiles, OnlyRegularFilesInsideTheMacroDirectory) {
  // Without a macro directory every name is macro text.
  app_macro_playback(app, "login.mac");
  EXPECT_EQ(Sent(), "");
  app_set_macro_directory(dir.c_str());
  struct Case {
    std::string name;
    std::string sent;
  };
  const Case cases[] = {
      {"login.mac", "AB"},
      {"link.mac", ""},            // a link, even to a macro
      {"fifo.mac", ""},            // not a regular file: refused without waiting for a writer
      {"sub", ""},                 // a directory
      {"sub/inner.mac", ""},       // names with a slash are text
      {"../" + dir.substr(5) + "-outside.mac", ""},
      {outside, ""},               // a full path is text as well
      {"/dev/zero", ""},
      {"big.mac", ""},             // too large
      {"long.mac", "A"},           // an over-long line ends it
      {"k 67", "C"},               // no such file: the name is macro text
  };
  for (const Case& c : cases) {
    app_macro_playback(app, c.name.c_str());
    EXPECT_EQ(Sent(), c.sent) << c.name;
    EXPECT_FALSE(app_macro_playing(app)) << c.name;
  }
  std::string text;
  EXPECT_EQ(mac_read_file(dir, "fifo.mac", &text), -2);
  EXPECT_EQ(mac_read_file(dir, "missing.mac", &text), -1);
  EXPECT_EQ(mac_read_file(dir, "..", &text), -1);
  EXPECT_EQ(mac_read_file(dir, "login.mac", &text), 0);
  EXPECT_EQ(text, "k 65\nk 66\n");
}


// Block-mode macros go through the binding, whichever emulator it runs:
// here a small engine in the 5250 slot, whose records are text for its
// first row and whose screen hash names that text.  The session starts a
// pending log-in macro at the first complete record, resumes it at the
// screen it waits for (by hash, by text at a place, or as a conversation),
// and its keys and cursor moves reach the engine as macro keys.
class Stub5250 : public BlockEngine {
 public:
  Stub5250() { StdInit(&w_, nullptr); }
  ~Stub5250() override { freestdio(&w_); }
  fws_window* window() override { return &w_; }
  bool select(int emulation) override { return kvx_em_is_5250(emulation); }
  void applySettings(LumDict*) override {}
  void connecting() override {}
  void connected() override {}
  void disconnected() override {}
  void hostRecord(const uint8_t* bytes, size_t n, int) override {
    fws_clearbuffer(&w_);
    std::vector<uint16_t> text(bytes, bytes + n);
    std::vector<uint8_t> attrs(n, 0), flags(n, 0);
    fws_putcells(&w_, w_.wndsize.y - 1, 0, static_cast<int>(n), text.data(), attrs.data(), flags.data());
    hash_ = Hash(std::string(reinterpret_cast<const char*>(bytes), n));
  }
  bool takeRecord(std::vector<uint8_t>& out) override {
    if (out_.empty()) return false;
    out.assign(out_.begin(), out_.end());
    out_.clear();
    return true;
  }
  bool key(int code, bool fromMacro) override {
    if (!fromMacro) return false;
    if (code == 13) {
      out_ = at_ + typed_;
      typed_.clear();
      at_.clear();
    } else {
      typed_.push_back(static_cast<char>(code));
    }
    return true;
  }
  void cursor(int& row, int& col) const override { row = row_, col = col_; }
  bool moveCursor(int row, int col) override {
    if (row < 0 || row >= w_.wndsize.y || col < 0 || col >= w_.wndsize.x) return false;
    row_ = row, col_ = col;
    at_ = "@" + std::to_string(col) + "," + std::to_string(row) + ":";
    return true;
  }
  kvx_status_line statusLine() const override { return {}; }
  void replayBegin() override {}
  void replayEnd() override {}
  std::string screenHash() const override { return hash_; }

  // 32 hex digits from a screen's text.
  static std::string Hash(const std::string& text) {
    std::string h;
    char d[3];
    for (size_t i = 0; i < 16; i++) {
      snprintf(d, sizeof d, "%02x", i < text.size() ? static_cast<unsigned char>(text[i]) : 0);
      h += d;
    }
    return h;
  }

 private:
  fws_window w_;
  std::string hash_, typed_, out_, at_;
  int row_ = 0, col_ = 0;
};

class Block5250Macro : public MacroSession {
 protected:
  void SetUp() override {
    MacroSession::SetUp();
    app_block_register(app, EM_TN5250, new Stub5250());
    ASSERT_TRUE(app_set_block_mode_emulation(app, KVX_EM_IBM5250));
    ASSERT_EQ(app->emlib, EM_TN5250);
  }
  // One complete host record.
  void Record(const std::string& text) {
    app_block_host_data(app, reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()),
                        {static_cast<int>(text.size())});
  }
};

TEST_F(Block5250Macro, SignOnByMacroOnly) {
  dict->setStringForKey("user", "QUSER");
  const std::string eor = "\xff\xef";
  const struct {
    std::string macro, expected;
  } cases[] = {
      // A 5250 cursor row counts from the bottom: 5 is row 18 of 24, and
      // a cell past the screen is clamped to it.
      {"h " + Stub5250::Hash("Sign On") + "\nc 53 5\nu\nk 13\n", "@53,18:QUSER"},
      {"a 0 0 Sign On\nc 200 30\nc -1 3\nu\nk 13\n", "@79,0:QUSER"},
      {"E 1\nw Sign On\nt \\x40\nu\n", "@QUSER"},  // a conversation: its output typed, CR as Enter
  };
  for (const auto& [macro, expected] : cases) {
    SCOPED_TRACE(macro);
    app_macro_stop_playback(app);
    app->_autologin = true;
    app->_autologinMacroHash = macro;
    Record("Please wait");
    EXPECT_FALSE(app->_autologin) << "the first record starts the log-in macro";
    EXPECT_TRUE(app_macro_playing(app));
    EXPECT_EQ(Sent(), "") << "nothing before the sign-on screen";
    Record("Sign On");
    EXPECT_EQ(Sent(), expected + eor);
    EXPECT_FALSE(app_macro_playing(app));
  }
}

}  // namespace
