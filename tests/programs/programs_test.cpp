// Real programs on the local shell through the real binary and a browser
// written here: vim (open with colour syntax, move, quit), less (page,
// search, quit), top, and a shell whose prompt holds an emoji and CJK
// characters while a line is edited.  Each runs under `script`, which keeps
// the bytes it writes; at every step the screen the browser got from Kavrix
// (text, colours and attributes of every cell, the cursor) equals libvterm's
// rendering of those bytes.  Under TERM=xterm-color (the xterm-like
// emulation) and TERM=vt220.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "emulation_ids.h"
#include "kvx_browser.h"
#include "kvx_test.h"
#include "vterm_ref.h"

using kvxtest::TestBrowser;

namespace {

constexpr int kRows = 24, kCols = 80;

// Key codes of the browser's terminal keys (U+E000 + key code - 256).
constexpr int kLeft = 0xE000 + 279 - 256;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A C file for vim's syntax colours: comments, strings, numbers, keywords.
std::string CSource() {
  std::string s = "/* A file for the screen tests. */\n#include <stdio.h>\n\n";
  for (int i = 0; i < 6; i++) {
    s += "static int counter_" + std::to_string(i) + " = " + std::to_string(i * 17) + ";  // counter\n";
    s += "static const char* name_" + std::to_string(i) + " = \"value " + std::to_string(i) + "\";\n";
  }
  s += "\nint main(void) {\n";
  for (int i = 0; i < 30; i++)
    s += "  if (counter_" + std::to_string(i % 6) + " > " + std::to_string(i) + ") printf(\"%d\\n\", " +
         std::to_string(i) + ");\n";
  s += "  return 0;\n}\n/* end of file */\n";
  return s;
}

std::string TextFile() {
  std::string s;
  for (int i = 1; i <= 90; i++) {
    s += "line " + std::to_string(i) + ": the terminal keeps a screen of cells";
    if (i == 57) s += " and a needle";
    s += "\n";
  }
  return s;
}

class Programs : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ASSERT_EQ(kvxtest::Need({"vim", "less"}), "");
    char tmpl[] = "/tmp/kvxprog.XXXXXX";
    home_ = mkdtemp(tmpl);
    // No prompt at all: what the shell writes between the programs is
    // nothing that shows.
    std::ofstream(home_ + "/.bashrc") << "PS1=''\nunset PROMPT_COMMAND\nexport LC_ALL=C.UTF-8\n";
    std::ofstream(home_ + "/file.c") << CSource();
    std::ofstream(home_ + "/text.txt") << TextFile();
    std::ofstream(home_ + "/vim.sh")
        << "clear\nvim -u NONE -i NONE -N -n -c 'syntax on' -c 'set laststatus=2 ruler' file.c\n"
           "printf 'vim-done\\n'\n";
    std::ofstream(home_ + "/less.sh") << "clear\nless text.txt\nprintf 'less-done\\n'\n";
    std::ofstream(home_ + "/top.sh") << "clear\ntop -d 0.3 -n 3\nprintf 'top-done\\n'\n";
    std::ofstream(home_ + "/prompt.sh") << "clear\nPS1='\xf0\x9f\x98\x80 \xe2\x9c\x93 "
                                           "\xe4\xb8\xad\xe6\x96\x87> ' bash --norc --noprofile -i\n"
                                           "printf 'prompt-done\\n'\n";
    kvxtest::ServerOptions options;
    options.home = home_;
    server_ = std::make_unique<kvxtest::KavrixServer>(options);
    ASSERT_TRUE(browser_.NewSession(server_->port())) << server_->err();
    const std::string config =
        "{\"kcf\":{\"commtype\":7,\"lines\":24,\"col\":80,\"emulate\":" + std::to_string(GetParam()) +
        ",\"MBMode\":1,\"colorfg0\":8,\"colorbg0\":1},\"connectToHost\":true}";
    ASSERT_EQ(kvxtest::EnvelopeCode(browser_.PostConfig(config).body), 0);
    ASSERT_TRUE(browser_.Attach());
    ASSERT_TRUE(browser_.WaitConnected()) << browser_.Describe();
    ASSERT_TRUE(browser_.Type("cd; echo ready-$((6*7))\r"));
    ASSERT_TRUE(browser_.WaitText("ready-42")) << browser_.Describe();
  }
  void TearDown() override {
    browser_.ws.conn.Close();
    server_.reset();
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
  }

  // Runs one of the scripts above under `script`, keeping its bytes.
  void Run(const std::string& name) {
    log_ = home_ + "/" + name + ".log";
    ASSERT_TRUE(browser_.Type("script -qfc 'sh " + name + ".sh' " + name + ".log\r"));
  }
  bool Key(int code) {
    std::string data(4, '\0');
    for (int i = 0; i < 4; i++) data[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
    return browser_.ws.Send(2, kvxtest::ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, data));
  }
  // Waits until `ready` holds and no frame has come for a while.
  bool Settle(const std::function<bool()>& ready) {
    if (!browser_.Pump(ready, 30)) return false;
    for (int i = 0; i < 100; i++) {
      int seen = browser_.screen.updates + browser_.screen.cursors;
      browser_.Pump([] { return false; }, 0.4);
      if (browser_.screen.updates + browser_.screen.cursors == seen) return ready();
    }
    return false;
  }
  bool SettleOn(const std::string& text) {
    return Settle([&] { return browser_.screen.Find(text) >= 0; });
  }
  // The browser's screen against libvterm's rendering of the bytes the
  // program wrote (script's own first and last lines left out).
  void Compare(const std::string& step) {
    std::string bytes = ReadFile(log_);
    size_t first = bytes.find('\n');
    bytes = first == std::string::npos ? "" : bytes.substr(first + 1);
    size_t done = bytes.rfind("\nScript done");
    if (done != std::string::npos) bytes.resize(done);
    kvxtest::VtermRef ref(kRows, kCols);
    ref.Feed(bytes);
    kvxtest::ComparableScreen want = ref.Screen();
    const kvxtest::ScreenModel& m = browser_.screen;
    kvxtest::ComparableScreen got = kvxtest::ScreenCells(m.cells, m.rows, m.cols, m.cursorX, m.cursorY);
    EXPECT_EQ(got.Diff(want), "") << "TERM of emulation " << GetParam() << ", " << step << "\nKavrix:\n"
                                  << got.Show() << "libvterm:\n"
                                  << want.Show();
  }

  std::string home_, log_;
  std::unique_ptr<kvxtest::KavrixServer> server_;
  TestBrowser browser_{kRows, kCols};
};

TEST_P(Programs, VimOpensWithColourSyntaxMovesAndQuits) {
  Run("vim");
  ASSERT_TRUE(Settle([&] {
    return browser_.screen.Find("int main(void)") >= 0 && browser_.screen.Find("file.c") == kRows - 2;
  })) << browser_.Describe();
  Compare("vim open");
  ASSERT_TRUE(browser_.Type("G"));
  ASSERT_TRUE(SettleOn("/* end of file */")) << browser_.Describe();
  Compare("vim at the end");
  ASSERT_TRUE(browser_.Type("5kx"));
  ASSERT_TRUE(SettleOn("[+]")) << browser_.Describe();
  Compare("vim after an edit");
  ASSERT_TRUE(browser_.Type(":q!\r"));
  ASSERT_TRUE(SettleOn("vim-done")) << browser_.Describe();
  Compare("after vim");
}

TEST_P(Programs, LessPagesSearchesAndQuits) {
  Run("less");
  ASSERT_TRUE(SettleOn("line 23:")) << browser_.Describe();
  Compare("less first page");
  ASSERT_TRUE(browser_.Type(" "));
  ASSERT_TRUE(SettleOn("line 46:")) << browser_.Describe();
  Compare("less second page");
  ASSERT_TRUE(browser_.Type("/needle\r"));
  ASSERT_TRUE(SettleOn("line 57:")) << browser_.Describe();
  Compare("less search");
  ASSERT_TRUE(browser_.Type("q"));
  ASSERT_TRUE(SettleOn("less-done")) << browser_.Describe();
  Compare("after less");
}

TEST_P(Programs, TopShowsItsFrames) {
  Run("top");
  ASSERT_TRUE(SettleOn("top-done")) << browser_.Describe();
  Compare("after top");
}

TEST_P(Programs, PromptWithEmojiKeepsTheCursorWhereTheShellCountsIt) {
  Run("prompt");
  // The prompt takes 2 + 1 + 1 + 1 + 2 + 2 + 1 + 1 cells.
  ASSERT_TRUE(Settle([&] { return browser_.screen.Find(">") >= 0 && browser_.screen.cursorX == 11; }))
      << browser_.Describe();
  Compare("prompt");
  ASSERT_TRUE(browser_.Type("echo 12345"));
  for (int i = 0; i < 3; i++) ASSERT_TRUE(Key(kLeft));
  ASSERT_TRUE(browser_.Type("X"));
  ASSERT_TRUE(SettleOn("echo 12X345")) << browser_.Describe();
  Compare("prompt line edited");
  EXPECT_EQ(browser_.screen.cursorX, 11 + 8) << browser_.Describe();  // after "echo 12X"
  ASSERT_TRUE(browser_.Type("\rexit\r"));
  ASSERT_TRUE(SettleOn("prompt-done")) << browser_.Describe();
  Compare("after the shell");
}

INSTANTIATE_TEST_SUITE_P(Terminals, Programs, ::testing::Values(KVX_EM_XTERM, KVX_EM_VT220),
                         [](const ::testing::TestParamInfo<int>& p) {
                           return p.param == KVX_EM_XTERM ? std::string("XtermColor") : std::string("Vt220");
                         });

}  // namespace
