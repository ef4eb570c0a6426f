// vttest (Debian's vttest) on the local shell through the real binary, as a
// VT220 (TERM=vt220): menus 1 (cursor movements), 2 (screen features), 3
// (character sets) and 6 (terminal reports).  Every screen that says what it
// should show is checked against what it says, and the reports vttest
// prints are what a VT220 answers.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "emulation_ids.h"
#include "kvx_browser.h"
#include "kvx_test.h"
#include "vterm_ref.h"

using kvxtest::TestBrowser;

namespace {

constexpr int kRows = 24, kCols = 80;

class Vttest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(kvxtest::Need({"vttest"}), "");
    char tmpl[] = "/tmp/kvxvtt.XXXXXX";
    home_ = mkdtemp(tmpl);
    std::ofstream(home_ + "/.bashrc") << "PS1=''\nunset PROMPT_COMMAND\n";
    kvxtest::ServerOptions options;
    options.home = home_;
    server_ = std::make_unique<kvxtest::KavrixServer>(options);
    ASSERT_TRUE(browser_.NewSession(server_->port())) << server_->err();
    const std::string config =
        "{\"kcf\":{\"commtype\":7,\"lines\":24,\"col\":80,\"emulate\":" + std::to_string(KVX_EM_VT220) +
        ",\"MBMode\":0,\"colorfg0\":8,"
        "\"colorbg0\":1},\"connectToHost\":true}";
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

  // Waits until no frame has come for a while.
  void Settle() {
    for (int i = 0; i < 100; i++) {
      int seen = browser_.screen.updates + browser_.screen.cursors;
      browser_.Pump([] { return false; }, 0.5);
      if (browser_.screen.updates + browser_.screen.cursors == seen) return;
    }
  }
  // The screen's first `width_` columns: the model is 132 wide, for
  // vttest's 132-column passes; back at 80 columns, what lay beyond is no
  // longer the screen.
  std::vector<std::string> Screen() {
    const kvxtest::ScreenModel& m = browser_.screen;
    std::vector<uint64_t> cells;
    for (int y = 0; y < kRows; y++)
      cells.insert(cells.end(), m.cells.begin() + y * m.cols, m.cells.begin() + y * m.cols + width_);
    return kvxtest::ScreenCells(cells, kRows, width_, m.cursorX, m.cursorY).text;
  }
  // Types `keys`, waits for a new screen holding `marker` to settle, and
  // gives its rows (empty when it does not come).
  std::vector<std::string> Next(const std::string& keys, const std::string& marker) {
    int before = browser_.screen.updates;
    if (!browser_.Type(keys)) return {};
    bool came = browser_.Pump(
        [&] {
          if (browser_.screen.updates == before) return false;
          for (const std::string& row : Screen())
            if (row.find(marker) != std::string::npos) return true;
          return false;
        },
        30);
    Settle();
    EXPECT_TRUE(came) << "no screen with \"" << marker << "\" after " << keys << "\n" << browser_.Describe();
    return came ? Screen() : std::vector<std::string>(kRows);
  }

  std::string home_;
  std::unique_ptr<kvxtest::KavrixServer> server_;
  TestBrowser browser_{kRows, 132};
  int width_ = kCols;
};

std::string Describe(const std::vector<std::string>& screen) {
  std::string out;
  for (const std::string& row : screen) out += "|" + row + "\n";
  return out;
}

// The cells of a row from column x, as UTF-8 text, n cells long.
std::string Cells(const std::vector<std::string>& screen, int y, size_t from, size_t n) {
  // Rows are UTF-8; walk them by characters.
  const std::string& row = screen[static_cast<size_t>(y)];
  std::vector<std::string> chars;
  for (size_t i = 0; i < row.size();) {
    size_t len = 1;
    unsigned char c = static_cast<unsigned char>(row[i]);
    if (c >= 0xF0)
      len = 4;
    else if (c >= 0xE0)
      len = 3;
    else if (c >= 0xC0)
      len = 2;
    chars.push_back(row.substr(i, len));
    i += len;
  }
  std::string out;
  for (size_t k = from; k < from + n; k++) out += k < chars.size() ? chars[k] : " ";
  return out;
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; i++) out += s;
  return out;
}

std::string Ascii(int first, int last) {
  std::string out;
  for (int c = first; c <= last; c++) out += static_cast<char>(c);
  return out;
}

// The DEC special graphics from 0x5F to 0x7E as this system shows them.
const std::string kDecGraphics =
    " \u2666\u2592\u2409\u240c\u240d\u240a\u00b0\u00b1\u2424\u240b\u2518\u2510\u250c\u2514\u253c\u23ba\u23bb"
    "\u2500\u23bc\u23bd\u251c\u2524\u2534\u252c\u2502\u2264\u2265\u03c0\u2260\u00a3\u00b7";

// The DEC supplemental set (a VT220's G1-G3) from 0xA0 to 0xFF, by code
// point; 0 where DEC reserves the position.
const uint32_t kDecSupplemental[96] = {
    0x20, 0xA1, 0xA2, 0xA3, 0,    0xA5, 0,    0xA7,  0xA4, 0xA9, 0xAA, 0xAB, 0,    0,     0,    0,
    0xB0, 0xB1, 0xB2, 0xB3, 0,    0xB5, 0xB6, 0xB7,  0,    0xB9, 0xBA, 0xBB, 0xBC, 0xBD,  0,    0xBF,
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7,  0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD,  0xCE, 0xCF,
    0,    0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0x152, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0x178, 0,    0xDF,
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7,  0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED,  0xEE, 0xEF,
    0,    0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0x153, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFF,  0,    0,
};

std::string Utf8(uint32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

TEST_F(Vttest, CursorMovements) {
  Next("vttest\r", "Enter choice number");
  // The box, at 80 and at 132 columns.
  for (int w : {80, 132}) {
    auto s = Next(w == 80 ? "1\r" : "\r", "free position around it");
    width_ = w;
    s = Screen();
    EXPECT_EQ(s[0], std::string(w, '*'));
    EXPECT_EQ(s[23], std::string(w, '*'));
    EXPECT_EQ(s[1], "*" + std::string(w - 2, '+') + "*");
    EXPECT_EQ(s[22], "*" + std::string(w - 2, '+') + "*");
    for (int y = 2; y < 22; y++) {
      EXPECT_EQ(Cells(s, y, 0, 2), "*+") << y;
      EXPECT_EQ(Cells(s, y, static_cast<size_t>(w) - 2, 2), "+*") << y;
    }
    const size_t left = static_cast<size_t>(w - 60) / 2;  // exactly in the middle
    EXPECT_EQ(Cells(s, 7, left - 1, 62), std::string(62, ' '));
    EXPECT_EQ(Cells(s, 8, left - 1, 62), " " + std::string(60, 'E') + " ");
    EXPECT_EQ(Cells(s, 15, left - 1, 62), " " + std::string(60, 'E') + " ");
    EXPECT_EQ(Cells(s, 16, left - 1, 62), std::string(62, ' '));
    const char* text[4] = {" The screen should be cleared,  and have an unbroken bor- ",
                           " der of *'s and +'s around the edge,   and exactly in the ",
                           " middle  there should be a frame of E's around this  text ",
                           " with  one (1) free position around it.    Push <RETURN>  "};
    EXPECT_EQ(Cells(s, 9, left - 1, 62), " E" + std::string(58, ' ') + "E ");
    for (int i = 0; i < 4; i++) EXPECT_EQ(Cells(s, 10 + i, left - 1, 62), " E" + std::string(text[i]) + "E ");
    EXPECT_EQ(Cells(s, 14, left - 1, 62), " E" + std::string(58, ' ') + "E ");
  }
  // Autowrap mixed with controls: the margins hold the letters in order.
  for (int w : {80, 132}) {
    width_ = w;
    auto s = Next("\r", "should have letters in order");
    for (int y = 2; y <= 19; y++) {
      char upper = static_cast<char>('I' + y - 2);
      EXPECT_EQ(s[y], std::string(1, upper) + std::string(w - 2, ' ') + static_cast<char>(upper + 32)) << y;
    }
  }
  width_ = kCols;
  auto s = Next("\r", "four identical lines");
  for (int y = 3; y <= 6; y++) EXPECT_EQ(s[y], "A B C D E F G H I") << y;
  s = Next("\r", "correct sentence\".");
  EXPECT_EQ(s[3], "This is a correct sentence");
  Next("\r", "Enter choice number");
}

TEST_F(Vttest, ScreenFeatures) {
  Next("vttest\r", "Enter choice number");
  auto s = Next("2\r", "WRAP AROUND");
  for (int y = 0; y < 3; y++) EXPECT_EQ(s[y], std::string(80, '*')) << y;
  s = Next("\r", "TAB setting");
  EXPECT_FALSE(s[0].empty());
  EXPECT_EQ(s[1], s[0]);
  // Each column mode with each background: a ruler and a staircase of the
  // sentence that names them.
  std::set<std::string> modes;
  for (int i = 0; i < 4; i++) {
    width_ = 132;
    s = Next("\r", "column mode, ");
    int columns = 0;
    char background[8] = "";
    ASSERT_EQ(sscanf(s[2].c_str(), "  This is %d column mode, %7s background.", &columns, background), 2)
        << s[2];
    modes.insert(std::to_string(columns) + " " + background);
    width_ = columns;
    s = Screen();
    std::string ruler;
    while (ruler.size() < static_cast<size_t>(columns)) ruler += "1234567890";
    EXPECT_EQ(s[0], ruler.substr(0, columns - 1));
    for (int y = 2; y <= 18; y++)
      EXPECT_EQ(s[y], std::string(y, ' ') + "This is " + std::to_string(columns) + " column mode, " +
                          background + " background.")
          << y;
  }
  EXPECT_EQ(modes, (std::set<std::string>{"132 light", "80 light", "132 dark", "80 dark"}));
  width_ = kCols;
  // The scrolling screens say nothing of what they should show.
  for (const char* what : {"Soft scroll down region [12..13]", "Soft scroll down region [1..24]",
                           "Jump scroll down region [12..13]", "Jump scroll down region [1..24]"})
    Next("\r", what);
  s = Next("\r", "one above the bottom");
  EXPECT_EQ(s[22], "This line should be the one above the bottom of the screen. Push <RETURN>");
  EXPECT_EQ(s[23], "Origin mode test. This line should be at the bottom of the screen.");
  s = Next("\r", "at the top of the screen");
  EXPECT_EQ(s[0], "This line should be at the top of the screen. Push <RETURN>");
  EXPECT_EQ(s[23], "Origin mode test. This line should be at the bottom of the screen.");
  // The graphic rendition pattern: each label in the rendition it names.
  for (const char* background : {"Dark background", "Light background"}) {
    s = Next("\r", background);
    int labels = 0;
    for (int y = 3; y <= 17; y += 2) {
      for (int x : {0, 39}) {
        size_t at = s[y].find_first_not_of(' ', static_cast<size_t>(x));
        ASSERT_NE(at, std::string::npos) << y;
        std::string label = s[y].substr(at, s[y].find("  ", at) - at);
        uint64_t cell = browser_.screen.Cell(static_cast<int>(at), y);
        bool bold = label.find("bold") != std::string::npos,
             under = label.find("underline") != std::string::npos,
             blink = label.find("blink") != std::string::npos,
             rev = label.find("negative") != std::string::npos;
        EXPECT_EQ((cell & 0x100000) != 0, bold) << label;
        EXPECT_EQ((cell & 0x200000) != 0, under) << label;
        EXPECT_EQ((cell & 0x400000) != 0, blink) << label;
        EXPECT_EQ((cell & 0x800000) != 0, rev) << label;
        labels++;
      }
    }
    EXPECT_EQ(labels, 16);
  }
  // Save and restore the cursor: ten characters of each flavour and a
  // rectangle of 5 x 4 A's in the top left.
  s = Next("\r", "SAVE/RESTORE CURSOR");
  for (int y = 0; y < 4; y++) EXPECT_EQ(s[y], "AAAAA") << y;
  const std::pair<int, std::string> rows[] = {{9, "*"}, {11, "\u2500"}, {13, "x"}, {15, "\u2666"}};
  for (const auto& [y, c] : rows) {
    for (int flavour = 0; flavour < 5; flavour++) {
      int x = 11 + 12 * flavour;
      EXPECT_EQ(Cells(s, y, static_cast<size_t>(x), 10), Repeat(c, 10))
          << "row " << y << " flavour " << flavour;
      uint64_t cell = browser_.screen.Cell(x, y);
      uint64_t want = flavour == 0   ? 0
                      : flavour == 1 ? 0x100000
                      : flavour == 2 ? 0x200000
                      : flavour == 3 ? 0x400000
                                     : 0x800000;
      EXPECT_EQ(cell & 0xF00000, want) << "row " << y << " flavour " << flavour;
    }
  }
  Next("\r", "Enter choice number");
}

TEST_F(Vttest, CharacterSets) {
  Next("vttest\r", "Enter choice number");
  Next("3\r", "Character-Set Tests");
  // The VT100 sets, each in G0 (shown with SI) and G1 (with SO).
  auto s = Next("8\r", "installed character sets");
  const std::string row1 = " " + Ascii(0x21, 0x3F), row2 = Ascii(0x40, 0x5F), row3 = Ascii(0x60, 0x7E);
  const std::string british = " !\"\u00a3" + Ascii(0x24, 0x3F);
  struct SetRows {
    int y;
    std::string a, b, c;
  } sets[] = {{2, row1, row2, row3},
              {6, british, row2, row3},
              {10, row1, Ascii(0x40, 0x5E) + " ", kDecGraphics.substr(kDecGraphics.find("\u2666"))},
              {14, row1, row2, row3},
              {18, row1, Ascii(0x40, 0x5E) + " ", kDecGraphics.substr(kDecGraphics.find("\u2666"))}};
  for (const SetRows& set : sets) {
    for (int column : {9, 47}) {
      EXPECT_EQ(Cells(s, set.y + 1, static_cast<size_t>(column), 32), set.a) << set.y << " " << column;
      EXPECT_EQ(Cells(s, set.y + 2, static_cast<size_t>(column), 32), set.b) << set.y << " " << column;
      EXPECT_EQ(Cells(s, set.y + 3, static_cast<size_t>(column), 31), set.c) << set.y << " " << column;
    }
  }
  Next("\r", "Character-Set Tests");
  // The single shifts: each code shows the character of G2 (then G3), a
  // VT220's DEC supplemental set.
  Next("11\r", "single-shift G2");
  for (const char* shift : {"single-shift G2", "single-shift G3"}) {
    s = Screen();
    EXPECT_NE(s[0].find(shift), std::string::npos) << s[0];
    int top = 0;  // the row of code 32
    while (top < kRows - 16 && s[top].find("32: (") == std::string::npos) top++;
    int checked = 0;
    for (int code = 33; code <= 126; code++) {
      uint32_t want = kDecSupplemental[code - 32];
      if (!want) continue;
      int y = top + (code - 32) % 16, x = 4 + 12 * ((code - 32) / 16);
      char entry[8];
      snprintf(entry, sizeof entry, "%3d: (", code);
      EXPECT_EQ(Cells(s, y, static_cast<size_t>(x), 8), entry + Utf8(want) + ")") << code;
      checked++;
    }
    EXPECT_GT(checked, 80);
    Next("\r", shift == std::string("single-shift G2") ? "single-shift G3" : "Character-Set Tests");
  }
  Next("0\r", "Enter choice number");
}

// How many rows of the screen read `text`.
int Rows(const std::vector<std::string>& screen, const std::string& text) {
  int n = 0;
  for (const std::string& row : screen) n += row == text;
  return n;
}

TEST_F(Vttest, TerminalReportsAreAVT220s) {
  Next("vttest\r", "Enter choice number");
  Next("6\r", "Terminal Reports");
  // No answerback message: what vttest reads is only the RETURN typed.
  Next("1\r", "ANSWERBACK MESSAGE");
  auto s = Next("\r", "Push <RETURN>");
  EXPECT_EQ(Rows(s, " <13>"), 1) << Describe(s);
  Next("\r", "Terminal Reports");
  // Return sends CR LF in new-line mode, CR otherwise.
  Next("2\r", "Push the RETURN key");
  Next("\r", "NewLine mode reset");
  s = Next("\r", "Push <RETURN>");
  EXPECT_EQ(Rows(s, " <13> <10>  -- OK"), 1) << Describe(s);
  EXPECT_EQ(Rows(s, " <13>  -- OK"), 1) << Describe(s);
  Next("\r", "Terminal Reports");
  // Status and the cursor position, the second in origin mode (counted
  // from the margins).
  s = Next("3\r", "Push <RETURN>");
  EXPECT_EQ(Rows(s, "Report is: <27> [ 0 n  -- means \"TERMINAL OK\""), 1) << Describe(s);
  EXPECT_EQ(Rows(s, "Report is: <27> [ 5 ; 1 R  -- OK"), 2) << Describe(s);
  Next("\r", "Terminal Reports");
  s = Next("4\r", "Push <RETURN>");
  EXPECT_EQ(Rows(s, "Report is: <27> [ ? 6 2 ; 1 ; 2 ; 6 ; 8 ; 9 c  VT200 family"), 1) << Describe(s);
  Next("\r", "Terminal Reports");
  s = Next("5\r", "Push <RETURN>");
  EXPECT_EQ(Rows(s, "          <27> [ > 1 ; 1 0 ; 0 c"), 1) << Describe(s);
  EXPECT_EQ(Rows(s, "         Pp=1 (VT220)"), 1) << Describe(s);
  Next("\r", "Terminal Reports");
}

}  // namespace
