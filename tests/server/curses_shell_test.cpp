// A real curses program (dialog) on the local shell through the real
// binary, once per emulation of the Wyse family and the IBM 3151 family
// with TERM set to that terminal, shows what it shows under TERM=vt220 through the VT220
// emulation.  The shell's TERM is the name the emulation announces where
// terminfo knows it; the Televideo settings announce "tv912", "tv925" and
// "tv950", which terminfo does not know, so their test names the entries
// "tvi912", "tvi925" and "tvi950", and the 3151's 25-row form, announced
// as "ibm3151-25", the 3151's.  (PC-term, announced as "pcterm", has no
// entry; TTY's stand-in, "dumb", cannot address the cursor, so no curses
// program runs on it.)  Those three entries declare that an
// attribute change takes a screen position (xmc#1): there curses leaves a
// blank where the VT220 shows a character (and moves what follows on the
// row), so there the rows' text must be the same without the blanks.
// Entries without line graphics get boxes of + - | from curses, which also
// draws them so on the Televideo 950 (whose attributes take positions).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulation_ids.h"
#include "kvx_browser.h"
#include "kvx_test.h"

using kvxtest::TestBrowser;

namespace {

struct Case {
  int emulate;
  const char* termtype;  // TERM for the shell; empty: the name the emulation announces
  const char* term;      // the TERM the shell must see
  int rows;
  bool cookies;  // attribute changes take a position
  bool lines;    // the entry has line graphics (else curses draws with + - |)
};

const Case kCases[] = {
    {KVX_EM_ADM1, "", "adm1", 24, false, false},
    {KVX_EM_WYSE50, "", "wy50", 24, false, true},
    {KVX_EM_WYSE60, "", "wy60", 24, false, true},
    {KVX_EM_WYSE60_25, "", "wy60-25", 25, false, true},
    {KVX_EM_ADDSVP, "", "viewpoint", 24, false, false},
    {KVX_EM_TVI912, "tvi912", "tvi912", 24, true, false},
    {KVX_EM_TVI925, "tvi925", "tvi925", 24, true, false},
    {KVX_EM_TVI950, "tvi950", "tvi950", 24, true, false},
    {KVX_EM_IBM3151, "", "ibm3151", 24, false, true},
    {KVX_EM_IBM3151_25, "ibm3151", "ibm3151", 25, false, true},
    {KVX_EM_IBM3101, "", "ibm3101", 24, false, false},
};

// The ASCII that curses draws lines with on a terminal without line
// graphics.
std::u32string AsciiLines(std::u32string s) {
  for (char32_t& c : s) {
    if (c == U'─') c = U'-';
    if (c == U'│') c = U'|';
    if (c == U'┌' || c == U'┐' || c == U'└' || c == U'┘' || c == U'├' || c == U'┤' || c == U'┬' ||
        c == U'┴' || c == U'┼')
      c = U'+';
  }
  return s;
}

std::u32string NoBlanks(const std::u32string& s) {
  std::u32string out;
  for (char32_t c : s)
    if (c != U' ') out += c;
  return out;
}

// A HOME whose bash shows "kvx$ " and leaves readline's bracketed paste
// (an ANSI sequence it sends whatever the terminal) off.  These terminals
// are 8-bit ones: curses runs in the C locale, as a site runs them (in a
// UTF-8 locale curses would draw Unicode lines where an entry has none).
struct Home {
  std::string dir;
  Home() {
    char tmpl[] = "/tmp/kvxcurses.XXXXXX";
    dir = mkdtemp(tmpl);
    std::ofstream(dir + "/.bashrc")
        << "PS1='kvx$ '\nunset PROMPT_COMMAND\nbind 'set enable-bracketed-paste off'\nexport LC_ALL=C\n";
  }
  ~Home() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

// The screen as rows of code points.
std::vector<std::u32string> Rows(const kvxtest::ScreenModel& s) {
  std::vector<std::u32string> rows;
  for (int y = 0; y < s.rows; y++) {
    std::u32string r;
    for (int x = 0; x < s.cols; x++) {
      uint64_t v = s.Cell(x, y);
      char32_t cp = (v >> 63) ? static_cast<char32_t>((v >> 32) & 0x7FFFFFFF) : 0;
      r.push_back(cp == 0 ? U' ' : cp);
    }
    rows.push_back(r);
  }
  return rows;
}

std::string Utf8(const std::u32string& s) {
  std::string out;
  for (char32_t c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Runs the program in a new session and returns the screen while it waits
// for Enter.
std::vector<std::u32string> DialogScreen(kvxtest::KavrixServer& server, int emulate,
                                         const std::string& termtype, const std::string& term, int rows,
                                         std::string* failure) {
  TestBrowser b(rows, 80);
  if (!b.NewSession(server.port())) {
    *failure = "no session";
    return {};
  }
  std::string kcf = "{\"kcf\":{\"commtype\":7,\"lines\":" + std::to_string(rows) +
                    ",\"col\":80,\"emulate\":" + std::to_string(emulate) +
                    ",\"MBMode\":1,\"clearEmulator\":1" +
                    (termtype.empty() ? "" : ",\"teltermtype\":" + kvxtest::JsonString(termtype)) +
                    "},\"connectToHost\":true}";
  b.PostConfig(kcf);
  if (!b.Attach() || !b.WaitText("kvx$")) {
    *failure = "no prompt: " + b.Describe();
    return {};
  }
  if (!b.Type("clear; echo \"TERM=$TERM\"\r") || !b.WaitText("TERM=" + term)) {
    *failure = "TERM is not " + term + ": " + b.Describe();
    return {};
  }
  b.Type("dialog --title Kavrix --msgbox 'Hello from a curses program' 8 40\r");
  auto button = [&] {
    int y = b.screen.Find("<");
    return y >= 0 && b.screen.Row(y).find('>') != std::string::npos;
  };
  if (!b.Pump([&] { return b.screen.Find("Hello from a curses") >= 0 && button(); })) {
    *failure = "no dialog: " + b.Describe();
    return {};
  }
  // Whatever else arrives within a moment belongs to the same drawing.
  b.Pump([] { return false; }, 1.0);
  std::vector<std::u32string> screen = Rows(b.screen);
  return screen;
}

TEST(CursesOnTheLocalShell, DialogShowsWhatItShowsOnTheVT220) {
  ASSERT_EQ(kvxtest::Need({"dialog", "vt220"}), "");
  Home home;
  kvxtest::ServerOptions options;
  options.home = home.dir;
  kvxtest::KavrixServer server(options);
  std::map<int, std::vector<std::u32string>> reference;  // by rows
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.term);
    std::string failure;
    if (!reference.count(c.rows)) {
      reference[c.rows] = DialogScreen(server, 12, "", "vt220", c.rows, &failure);
      ASSERT_TRUE(failure.empty()) << "vt220: " << failure;
    }
    std::vector<std::u32string> ours = DialogScreen(server, c.emulate, c.termtype, c.term, c.rows, &failure);
    ASSERT_TRUE(failure.empty()) << failure;
    const std::vector<std::u32string>& vt = reference[c.rows];
    ASSERT_EQ(ours.size(), vt.size());
    for (size_t y = 0; y < vt.size(); y++) {
      std::u32string want = c.lines ? vt[y] : AsciiLines(vt[y]);
      // Where attributes take positions, curses leaves blanks (and moves
      // what follows on the row): the text must be the same in order.
      bool same = c.cookies ? NoBlanks(ours[y]) == NoBlanks(want) : ours[y] == want;
      EXPECT_TRUE(same) << "row " << y << "\n ours: " << Utf8(ours[y]) << "\nvt220: " << Utf8(want);
    }
  }
}

}  // namespace
