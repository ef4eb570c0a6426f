// The ANSI/VT parser: a table of (member, input, expected screen, attributes,
// cursor), then the behaviours that need more than the screen to check
// (replies, title, regions, character sets, line attributes).
#include "em/ansi.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "term.h"

namespace {

enum : int {
  VT320 = 1,
  VT220 = 3,
  VT100 = 5,
  VT52 = 6,
  ANSI = 7,
  AT386 = 8,
  SCOANSI = 9,
  VT420 = 31,
  LINUX = 32,
  MAC = 35
};

struct Case {
  const char* name;
  int emode;
  std::string input;
  std::vector<std::string> rows;                   // expected rows from the top
  int curY, curX;                                  // expected cursor
  std::vector<std::pair<int, std::string>> attrs;  // row -> attribute spans
  int cols = 80;
  bool utf8 = true;
  int lines = 24;
};

// Colours: the configured normal colours are white (7) on black (0), so a
// plain cell reads 0700: colour byte 07, then the combination nibble
// (reverse 8, blink 4, underline 2, bold 1), then the protection nibble.
const Case kCases[] = {
    {"plain text and CR LF", MAC, "ab\r\ncd", {"ab", "cd"}, 1, 2, {}},
    {"SGR bold and underline", VT220, "\x1b[1;4mA\x1b[0mB", {"AB"}, 0, 2, {{0, "0-0:0730 1-79:0700"}}},
    {"SGR 42 is a background on VT220", VT220, "\x1b[42mA", {"A"}, 0, 1, {{0, "0-0:2700 1-79:0700"}}},
    {"SGR 42 is a background on VT100 too", VT100, "\x1b[42mA", {"A"}, 0, 1, {{0, "0-0:2700 1-79:0700"}}},
    {"SGR 10 (primary font) changes nothing",
     VT220,
     "\x1b[7m\x1b[10mA",
     {"A"},
     0,
     1,
     {{0, "0-0:0780 1-79:0700"}}},
    {"SGR 22 24 25 27 clear",
     MAC,
     "\x1b[1;4;5;7mA\x1b[22;24mB\x1b[25;27mC",
     {"ABC"},
     0,
     3,
     {{0, "0-0:07F0 1-1:07C0 2-79:0700"}}},
    {"empty SGR restores the colour map",
     MAC,
     "\x1b[31mA\x1b[mB\x1b[44mC",
     {"ABC"},
     0,
     3,
     {{0, "0-0:0400 1-1:0700 2-2:1700 3-79:0700"}}},
    {"foreground of bold is bright", MAC, "\x1b[32;1mA", {"A"}, 0, 1, {{0, "0-0:0A10 1-79:0700"}}},
    {"256-colour red is the nearest of the sixteen",
     MAC,
     "\x1b[38;5;196mA",
     {"A"},
     0,
     1,
     {{0, "0-0:0C00 1-79:0700"}}},
    {"SCO 2;1;4 maps every combination",
     SCOANSI,
     "\x1b[2;1;4mA\x1b[1mB",
     {"AB"},
     0,
     2,
     {{0, "0-0:4100 1-1:4910 2-79:0700"}}},
    {"SCO 7;f;b maps reverse",
     SCOANSI,
     "\x1b[7;2;6mA\x1b[7mB",
     {"AB"},
     0,
     2,
     {{0, "0-0:0700 1-1:6280 2-79:0700"}}},
    {"SCO tab at column 75 goes to the next row", SCOANSI, "\x1b[1;76H\tX", {"", "X"}, 1, 1, {}},
    {"VT100 tab at column 75 stops in the last column",
     VT100,
     "\x1b[1;76H\tX",
     {std::string(79, ' ') + "X"},
     0,
     79,
     {}},
    {"tab stops and back tab", MAC, "\tA\tB\x1b[ZC", {"        A       C"}, 0, 17, {}},
    {"wide character in the last column wraps",
     MAC,
     "123456789\xe4\xb8\xad!",
     {"123456789", "\xe4\xb8\xad!"},
     1,
     3,
     {},
     10},
    // Overwriting one half of a double-width character blanks the other
    // half; a left half in reverse stays a reverse blank.
    {"narrow over a right half",
     MAC,
     "\x1b[7m\xe4\xb8\xad\x1b[m!\x1b[1;2HX",
     {" X!"},
     0,
     2,
     {{0, "0-0:0780 1-79:0700"}}},
    {"narrow over a left half",
     MAC,
     "ab\xe4\xb8\xad"
     "cd\x1b[1;3HX",
     {"abX cd"},
     0,
     3,
     {}},
    {"wide over two halves",
     MAC,
     "\xe4\xb8\xad\xe6\x96\x87!\x1b[1;2H\xe5\xad\x97",
     {" \xe5\xad\x97 !"},
     0,
     3,
     {}},
    // Edits that cut a double-width character in two blank both halves.
    {"ICH at a right half",
     MAC,
     "ab\xe4\xb8\xad"
     "cd\x1b[1;4H\x1b[@",
     {"ab   cd"},
     0,
     3,
     {}},
    {"DCH at a left half",
     MAC,
     "ab\xe4\xb8\xad"
     "cd\x1b[1;3H\x1b[P",
     {"ab cd"},
     0,
     2,
     {}},
    {"ECH over a right half",
     MAC,
     "ab\xe4\xb8\xad"
     "cd\x1b[1;4H\x1b[X",
     {"ab  cd"},
     0,
     3,
     {}},
    {"EL 1 through a left half",
     MAC,
     "ab\xe4\xb8\xad"
     "cd\x1b[1;3H\x1b[1K",
     {"    cd"},
     0,
     2,
     {}},
    {"insert mode opens two cells for a wide character",
     MAC,
     "abc\x1b[1;2H\x1b[4h\xe4\xb8\xad\x1b[4l",
     {"a\xe4\xb8\xad"
      "bc"},
     0,
     3,
     {}},
    {"SCO ANSI: ESC abandons a sequence", SCOANSI, "\x1b[1\x1b[2Jab", {"[2Jab"}, 0, 5, {}},
    {"VT100: ESC starts a new sequence", VT100, "xy\x1b[1\x1b[2Jab", {"  ab"}, 0, 4, {}},
    {"CAN abandons a sequence", MAC, "\x1b[1\x18m", {"m"}, 0, 1, {}},
    {"SUB shows the shade block",
     MAC,
     "a\x1b[\x1a"
     "b",
     {"a\xe2\x96\x91"
      "b"},
     0,
     3,
     {}},
    {"ESC ( 0 on VT100 draws lines",
     VT100,
     "\x1b(0lqk\x1b(Bq",
     {"\xe2\x94\x8c\xe2\x94\x80\xe2\x94\x90q"},
     0,
     4,
     {}},
    {"ESC ( 0 on VT220 draws lines",
     VT220,
     "\x1b(0lqk\x1b(Bq",
     {"\xe2\x94\x8c\xe2\x94\x80\xe2\x94\x90q"},
     0,
     4,
     {}},
    {"SO and SI switch G1 in", VT100, "\x0eq\x0fq", {"\xe2\x94\x80q"}, 0, 2, {}},
    {"cursor movement",
     MAC,
     "\x1b[5;10Hx\x1b[2Ay\x1b[3Cz\x1b[10Dw\x1b[Bv",
     {"", "", "     w    y   z", "      v", "         x"},
     3,
     7,
     {}},
    {"CHA HPA VPA and CNL",
     MAC,
     "\x1b[3Gx\x1b[6`y\x1b[3dz\x1b[2Ew",
     {"  x  y", "", "      z", "", "w"},
     4,
     1,
     {}},
    {"EL 0 1 2",
     MAC,
     "abcdef\x1b[3D\x1b[Kxy\r\nabcdef\x1b[3D\x1b[1K\r\nabcdef\x1b[2K",
     {"abcxy", "    ef", ""},
     2,
     6,
     {}},
    {"ED 0 and 1", MAC, "1111\r\n2222\r\n3333\x1b[2;2H\x1b[J", {"1111", "2"}, 1, 1, {}},
    {"ED 1", MAC, "1111\r\n2222\r\n3333\x1b[2;2H\x1b[1J", {"", "  22", "3333"}, 1, 1, {}},
    {"ICH DCH ECH", MAC, "abcdef\x1b[1;2H\x1b[2@\x1b[3C\x1b[P\x1b[2X", {"a  b  f"}, 0, 4, {}},
    {"IL and DL", MAC, "1\r\n2\r\n3\x1b[2;1H\x1b[L\x1b[3;1H\x1b[2M", {"1", ""}, 2, 0, {}},
    {"IND NEL RI",
     MAC,
     "a\x1b"
     "Db\x1b"
     "Ec\x1bMd",
     {"a", " d", "c"},
     1,
     2,
     {}},
    {"reverse index at the top scrolls down", MAC, "a\x1b[H\x1bMb", {"b", "a"}, 0, 1, {}},
    {"save and restore cursor with the character sets",
     VT220,
     "\x1b(0\x1b" "7\x1b(Bq\x1b" "8\x1b[Cq",
     {"q\u2500"},
     0,
     2,
     {}},
    {"save and restore cursor with attribute",
     MAC,
     "\x1b[2;3H\x1b[7m\x1b"
     "7\x1b[m\x1b[5;5Hx\x1b"
     "8y",
     {"", "  y", "", "", "    x"},
     1,
     3,
     {{1, "0-1:0700 2-2:0780 3-79:0700"}}},
    {"double width blanks a wide character across the middle",
     MAC,
     "abc\xe4\xb8\xad\x1b#6",
     {"abc"},
     0,
     3,
     {},
     8},
    {"DECALN fills the screen", MAC, "\x1b#8", {"EEEE", "EEEE"}, 0, 0, {}, 4, true, 2},
    {"double width halves the row", MAC, "abcdefgh\x1b#6", {"abcd"}, 0, 3, {}, 8},
    {"hard reset clears",
     MAC,
     "junk\x1b[1m\x1b"
     "cA",
     {"A"},
     0,
     1,
     {{0, "0-79:0700"}}},
    {"soft reset clears", MAC, "junk\x1b[!pA", {"A"}, 0, 1, {}},
    {"malformed UTF-8 shows the replacement",
     MAC,
     "\xc3(\xe2\x82x\xff",
     {"\xef\xbf\xbd(\xef\xbf\xbdx\xef\xbf\xbd"},
     0,
     5,
     {}},
    {"BOM and NUL are dropped",
     MAC,
     std::string("a\xef\xbb\xbf"
                 "b\0c",
                 7),
     {"abc"},
     0,
     3,
     {}},
    {"title bytes do not reach the screen", MAC, "\x1b]0;caf\xc3\xa9\x07ok", {"ok"}, 0, 2, {}},
    {"ignored string after ESC R", MAC, "\x1bRhidden\x1b\\shown", {"shown"}, 0, 5, {}},
    {"device-control string is skipped", VT220, "\x1bP1;1|17/414243\x1b\\ok", {"ok"}, 0, 2, {}},
    {"8-bit CSI on VT220",
     VT220,
     "\x9b"
     "1mA",
     {"A"},
     0,
     1,
     {{0, "0-0:0710 1-79:0700"}},
     80,
     false},
    {"VT52 addressing and movement",
     VT52,
     "\x1bY%*X\x1b"
     "A\x1b"
     "DY\x1bHZ",
     {"Z", "", "", "", "          Y", "          X"},
     0,
     1,
     {}},
    {"VT52 has no CSI", VT52, "\x1b[1mA", {"1mA"}, 0, 3, {}},
    {"DEL is ignored",
     MAC,
     "a\x7f"
     "b",
     {"ab"},
     0,
     2,
     {}},
    {"backspace keeps the cell", MAC, "ab\bc\b\b\b\bd", {"dc"}, 0, 1, {}},
    {"line feed keeps the column", ANSI, "ab\nc", {"ab", "  c"}, 1, 3, {}},
    {"AT386 GS is a back tab", AT386, "\x1b[1;12H\x1dX", {"        X"}, 0, 9, {}},
    {"FF clears on the SCO console",
     SCOANSI,
     "abc\x0c"
     "d",
     {"d"},
     0,
     1,
     {}},
    // What today's hosts send: renditions as lists with xterm's colours
    // (mapped to the nearest of the sixteen; never blink, reverse or
    // invisible), DEC line drawing, key-mode requests that are no rendition.
    {"bold and 256-colour red", MAC, "\x1b[1;38;5;196mA", {"A"}, 0, 1, {{0, "0-0:0C10 1-79:0700"}}},
    {"256 colours never blink, reverse or hide",
     VT220,
     "\x1b[38;5;5mA\x1b[48;5;7mB\x1b[38;5;8mC",
     {"ABC"},
     0,
     3,
     {{0, "0-0:0500 1-1:7500 2-2:7800 3-79:0700"}}},
    {"true colour",
     MAC,
     "\x1b[38;2;255;0;0mA\x1b[48;2;0;0;238mB\x1b[38;2;5;7;8mC",
     {"ABC"},
     0,
     3,
     {{0, "0-0:0C00 1-1:1C00 2-2:1000 3-79:0700"}}},
    {"colon forms",
     MAC,
     "\x1b[38:5:196mA\x1b[38:2::0:255:0mB\x1b[48:2:0:0:238mC",
     {"ABC"},
     0,
     3,
     {{0, "0-0:0C00 1-1:0A00 2-2:1A00 3-79:0700"}}},
    {"default foreground and background",
     LINUX,
     "\x1b[31;44mA\x1b[39mB\x1b[49mC",
     {"ABC"},
     0,
     3,
     {{0, "0-0:1400 1-1:1700 2-79:0700"}}},
    {"bright colours", MAC, "\x1b[91;102mA\x1b[97;100mB", {"AB"}, 0, 2, {{0, "0-0:AC00 1-1:8F00 2-79:0700"}}},
    {"bold brightens the first eight",
     VT100,
     "\x1b[1;31mA\x1b[22mB",
     {"AB"},
     0,
     2,
     {{0, "0-0:0C10 1-1:0400 2-79:0700"}}},
    {"invisible and visible", MAC, "\x1b[8mA\x1b[28mB", {" B"}, 0, 2, {{0, "0-0:0701 1-79:0700"}}},
    {"underline styles",
     MAC,
     "\x1b[4:3mA\x1b[4:0mB\x1b[21mC\x1b[24mD",
     {"ABCD"},
     0,
     4,
     {{0, "0-0:0720 1-1:0700 2-2:0720 3-79:0700"}}},
    {"empty parameters are 0",
     MAC,
     "\x1b[1mA\x1b[;4mB\x1b[1;mC",
     {"ABC"},
     0,
     3,
     {{0, "0-0:0710 1-1:0720 2-79:0700"}}},
    {"underline colour is consumed",
     MAC,
     "\x1b[58;5;5;1mA\x1b[58:2::1:2:3mB\x1b[38;2;1mC",
     {"ABC"},
     0,
     3,
     {{0, "0-2:0710 3-79:0700"}}},
    {"key-mode requests change nothing",
     MAC,
     "\x1b[44mA\x1b[>4;2mB\x1b[>4mC\x1b[>4;mD\x1b[mE",
     {"ABCDE"},
     0,
     5,
     {{0, "0-3:1700 4-79:0700"}}},
    {"DEC line drawing on VT220",
     VT220,
     "\x1b(0`afgjklmnopqrstuvwxyz{|}~ 0@P^_\x1b(B_",
     {"\u2666\u2592\u00b0\u00b1\u2518\u2510\u250c\u2514\u253c\u23ba\u23bb\u2500\u23bc\u23bd\u251c\u2524"
      "\u2534\u252c\u2502\u2264\u2265\u03c0\u2260\u00a3\u00b7 0@P^ _"},
     0,
     32,
     {}},
    {"DEC line drawing on the xterm-like member",
     MAC,
     "\x1b)0\x0e`pq|\x0f`",
     {"\u2666\u23bb\u2500\u2260`"},
     0,
     5,
     {}},
    {"line drawing on the Linux console",
     LINUX,
     "\x1b(0lqk\x1b(Bq\x1b)0\x0ex\x0f",
     {"\u250c\u2500\u2510q\u2502"},
     0,
     5,
     {}},
    {"CSI s and u save and restore the cursor",
     VT220,
     "\x1b[5;5H\x1b[s\x1b[Hx\x1b[uy",
     {"x", "", "", "", "    y"},
     4,
     5,
     {}},
    {"CSI > 1 u is no restore",
     MAC,
     "\x1b[2;2H\x1b[s\x1b[5;5H\x1b[>1uz",
     {"", "", "", "", "    z"},
     4,
     5,
     {}},
    {"CSI r homes the cursor", MAC, "\x1b[5;5H\x1b[rx", {"x"}, 0, 1, {}},
    {"FF is a line feed elsewhere",
     VT100,
     "abc\x0c"
     "d",
     {"abc", "   d"},
     1,
     4,
     {}},
};

std::string show(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c >= 0x7F) {
      char b[8];
      snprintf(b, sizeof b, "\\x%02x", c);
      out += b;
    } else {
      out += (char)c;
    }
  }
  return out;
}

void checkCase(const Case& c, bool bytewise) {
  Term::Options o;
  o.emode = c.emode;
  o.cols = c.cols;
  o.utf8 = c.utf8;
  o.rows = c.lines;
  Term term(o);
  if (bytewise)
    term.feedBytewise(c.input);
  else
    term.feed(c.input);
  std::string where = std::string(c.name) + (bytewise ? " (bytewise)" : "") + " input " + show(c.input);
  for (size_t y = 0; y < c.rows.size(); y++) EXPECT_EQ(term.row((int)y), c.rows[y]) << where << " row " << y;
  EXPECT_EQ(term.row((int)c.rows.size()), "") << where << " row after";
  EXPECT_EQ(term.t->vdestline, c.curY) << where;
  EXPECT_EQ(term.t->vdestcol, c.curX) << where;
  EXPECT_EQ(term.t->yPOS, c.curY) << where;
  EXPECT_EQ(term.t->xPOS, c.curX) << where;
  for (const auto& [row, spans] : c.attrs) EXPECT_EQ(term.attrs(row), spans) << where << " attrs row " << row;
}

TEST(AnsiParser, TableOfMembersInputsAndScreens) {
  for (const Case& c : kCases) {
    checkCase(c, false);
    checkCase(c, true);
  }
}

// Erases that spare protected cells spare a protected double-width
// character whole: its right half stays 0 beside it.
TEST(AnsiParser, ProtectedWideCharacterSurvivesErasesWhole) {
  for (const char* erase : {"\x1b[?2K", "\x1b[1;1H\x1b[?J", "\x1b[1;80H\x1b[?1K"}) {
    Term term(VT220, 24, 80);
    term.feed(
        "ab\x1b[1\"q\xe4\xb8\xad\x1b[0\"q"
        "cd");
    term.feed(erase);
    EXPECT_EQ(term.row(0), "  \xe4\xb8\xad") << show(erase);
    EXPECT_EQ(term.cell(3, 0), 0u) << show(erase);
  }
}

TEST(AnsiParser, PermanentColourFormsTakeOneNumberOnly) {
  Term term(MAC, 24, 80);
  term.feed("\x1b[=44mB\x1b[mC");  // a permanent background: it survives a reset
  EXPECT_EQ(term.t->userCAT[0].color, 0x17000000u);
  EXPECT_EQ(term.attrs(0), "0-1:1700 2-79:0700");
  term.feed("\x1b[<1mD\x1b[mE");  // permanent foreground red
  EXPECT_EQ(term.t->userCAT[0].color, 0x14000000u);
  term.feed("\x1b[=4;2mF");  // a list is no permanent colour
  EXPECT_EQ(term.t->userCAT[0].color, 0x14000000u);
}

// CSI s saves the cursor on every member but a VT420 using left and right
// margins, and never turns the scrolling region off.
TEST(AnsiParser, SaveCursorKeepsTheScrollingRegion) {
  for (int emode : {MAC, VT100, VT220, VT320, VT420, LINUX, ANSI, SCOANSI, AT386}) {
    Term term(emode, 6, 10);
    term.feed("0\r\n1\r\n2\r\n3\r\n4\r\n5\x1b[2;4r\x1b[4;1H\x1b[s\n\nx\x1b[u");
    EXPECT_EQ(term.t->_vscregion, emode == SCOANSI || emode == AT386 ? 0 : 1) << emode;
    if (emode != SCOANSI && emode != AT386) {
      EXPECT_EQ(term.screen(), "0\n3\n\nx\n4\n5\n") << emode;
    }
    EXPECT_EQ(term.t->vdestline, 3) << emode;
    EXPECT_EQ(term.t->vdestcol, 0) << emode;
  }
  Term vt420(VT420, 24, 80);  // with left/right margins in use: DECSLRM
  vt420.feed("\x1b[?69h\x1b[5;10s");
  EXPECT_EQ(vt420.t->_vscregion, 1);
  EXPECT_EQ(vt420.t->_vscregleft, 4);
  EXPECT_EQ(vt420.t->_vscregright, 9);
}

TEST(AnsiParser, NewLineModeReturnsToTheLeftMargin) {
  Term term(ANSI, 24, 80);
  term.t->_vnlmode = 1;
  term.feed("ab\nc");
  EXPECT_EQ(term.row(1), "c");
}

TEST(AnsiParser, C1ControlsArePrintableOnVT420AndControlsOnVT220) {
  for (int emode : {VT420, VT220}) {
    Term::Options o;
    o.emode = emode;
    o.utf8 = false;
    Term term(o);
    term.feed(
        "\x9b"
        "1mx");
    if (emode == VT420) {
      EXPECT_EQ(term.cell(0, 0) & CA_CHAR, 0x9Bu);
      EXPECT_EQ(term.row(0).substr(1), "1mx");
    } else {
      EXPECT_EQ(term.row(0), "x");
      EXPECT_EQ(term.cell(0, 0) & CA_BOLD, CA_BOLD);
    }
  }
}

TEST(AnsiParser, TitleIsTheTextAfterItsSelector) {
  Term term;
  term.feed("\x1b]0;title\x07");
  EXPECT_EQ(term.title, "title");
  term.feed("\x1b]2;caf\xc3\xa9\x07");
  EXPECT_EQ(term.title, "caf\xc3\xa9");
  term.feed("\x1b]\x07");  // no selector at all
  EXPECT_EQ(term.title, "");
  // The string terminator ESC \\ ends a title as BEL does; an ESC followed
  // by anything else abandons the title and starts a sequence.
  term.feed("\x1b]0;by ST\x1b\\");
  EXPECT_EQ(term.title, "by ST");
  term.feed("\x1b]2;lost\x1b[1mX\x1b[m");
  EXPECT_EQ(term.title, "by ST");
  EXPECT_EQ(term.row(0), "X");
  EXPECT_EQ(term.cell(0, 0) & CA_BOLD, CA_BOLD);
  term.feed("\r\x1b[K");
  Term::Options o;  // the 8-bit terminator where C1 controls are read
  o.emode = VT220;
  o.utf8 = false;
  Term vt220(o);
  vt220.feed("\x1b]2;eight\x9cok");
  EXPECT_EQ(vt220.title, "eight");
  EXPECT_EQ(vt220.row(0), "ok");
  // Numbered commands other than 0 and 2 are not titles: the title stays.
  term.feed("\x1b]2;kept\x07");
  for (const char* other : {"\x1b]7;file://host/home\x07", "\x1b]133;A\x07", "\x1b]1;icon\x07",
                            "\x1b]8;;http://x/\x07", "\x1b]4;1;rgb:ff/00/00\x07", "\x1b]22\x07"}) {
    term.feed(other);
    EXPECT_EQ(term.title, "kept") << show(other);
  }
  EXPECT_EQ(term.screen(), "");
  std::string huge = "\x1b]0;" + std::string(100000, 'x') + "\x07";
  term.feed(huge);  // capped, not grown without bound
  EXPECT_LT(term.title.size(), (size_t)TE_TITLEMAX);
  EXPECT_EQ(term.screen(), "");
}

TEST(AnsiParser, StatusRepliesUseTheIntroducerInForce) {
  Term mac;
  mac.feed("\x1b[3;7H\x1b[6n\x1b[5n");
  EXPECT_EQ(mac.sent, "\x1b[3;7R\x1b[0n");
  Term vt220(VT220, 24, 80);  // 7-bit replies, 8-bit between ESC SP G and ESC SP F
  vt220.feed("\x1b[6n\x1b G\x1b[6n\x1b F\x1b[6n");
  EXPECT_EQ(vt220.sent,
            "\x1b[1;1R\x9b"
            "1;1R\x1b[1;1R");
  Term vt52(VT52, 24, 80);
  vt52.feed("\x1bZ");
  EXPECT_EQ(vt52.sent, "\x1b/Z");
}

TEST(AnsiParser, ScrollingMarginsFromDECSTBM) {
  struct Case {
    const char* seq;
    bool on;
    int top, bottom;
  } cases[] = {
      {"\x1b[r", false, 0, 23},     {"\x1b[5;3r", false, 0, 23}, {"\x1b[1;24r", false, 0, 23},
      {"\x1b[2;30r", false, 0, 23}, {"\x1b[30r", false, 0, 23},  {"\x1b[0;5r", true, 0, 4},
      {"\x1b[5r", true, 4, 23},     {"\x1b[3;20r", true, 2, 19},
  };
  for (const Case& c : cases) {
    Term term(VT100, 24, 80);
    term.feed("\x1b[10;10H");
    term.feed(c.seq);
    EXPECT_EQ(term.t->_vscregion, c.on ? 1 : 0) << show(c.seq);
    EXPECT_EQ(term.t->_vscregtop, c.top) << show(c.seq);
    EXPECT_EQ(term.t->_vscregbot, c.bottom) << show(c.seq);
    // The cursor goes home whether the margins are set or reset.
    EXPECT_EQ(term.t->vdestline, 0) << show(c.seq);
    EXPECT_EQ(term.t->vdestcol, 0) << show(c.seq);
  }
  Term sco(SCOANSI, 24, 80);
  sco.feed("\x1b[10;10H\x1b[3;20r");
  EXPECT_EQ(sco.t->_vscregion, 0);
  EXPECT_EQ(sco.t->vdestline, 0);
}

TEST(AnsiParser, RegionScrollingThroughSequences) {
  Term term(MAC, 6, 10);
  term.feed("0\r\n1\r\n2\r\n3\r\n4\r\n5\x1b[2;4r\x1b[4;1H\n\nx");
  EXPECT_EQ(term.screen(), "0\n3\n\nx\n4\n5\n");
  term.feed("\x1b[2;1H\x1bM");  // reverse index at the region top
  EXPECT_EQ(term.screen(), "0\n\n3\n\n4\n5\n");
  term.feed("\x1b[2S");  // scroll up inside the region
  EXPECT_EQ(term.screen(), "0\n\n\n\n4\n5\n");
  EXPECT_EQ(term.t->_sb->sblastline, 0);
}

TEST(AnsiParser, EraseDisplayCursorRulesPerMember) {
  struct Case {
    int emode;
    int y, x;
    bool keepsAttr;
  } cases[] = {{VT100, 4, 9, false}, {VT220, 4, 9, false},  {LINUX, 4, 9, false},
               {ANSI, 0, 0, false},  {SCOANSI, 0, 0, true}, {AT386, 4, 9, true}};
  for (const Case& c : cases) {
    Term term(c.emode, 24, 80);
    term.feed("text\x1b[5;10H\x1b[7m\x1b[2J");
    EXPECT_EQ(term.screen(), "") << c.emode;
    EXPECT_EQ(term.t->vdestline, c.y) << c.emode;
    EXPECT_EQ(term.t->vdestcol, c.x) << c.emode;
    EXPECT_EQ((term.t->_vcurattr & CA_REV) != 0, c.keepsAttr) << c.emode;
  }
  // With a region in origin mode, VT100 erases only the region's rows.
  Term term(VT100, 6, 10);
  term.feed("0\r\n1\r\n2\r\n3\r\n4\r\n5");
  term.t->_decom = 1;
  term.feed("\x1b[2;4r\x1b[2J");
  EXPECT_EQ(term.screen(), "0\n\n\n\n4\n5\n");
}

TEST(AnsiParser, NationalReplacementSets) {
  struct Case {
    int set;
    const char* designate;
    std::string in, out;
  } cases[] = {
      {6, "\x1b(K", "[@{~", "\xc3\x84\xc2\xa7\xc3\xa4\xc3\x9f"},  // German: Ä § ä ß
      {1, "\x1b(A", "#a",
       "\xc2\xa3"
       "a"},                                     // British: £
      {10, "\x1b(Z", "[]", "\xc2\xa1\xc2\xbf"},  // Spanish: ¡ ¿
      {0, "\x1b(K", "[", "["},                   // national sets off: K names nothing
  };
  for (const Case& c : cases) {
    Term term(VT220, 24, 80);
    sl_charset(term.t, c.set);
    EmReset(term.t, 0);  // national sets follow the default set
    term.feed(c.designate);
    term.feed(c.in);
    EXPECT_EQ(term.row(0), c.out) << c.set;
    if (c.set) {
      EXPECT_EQ((int)((term.cell(0, 0) & CA_CSET) >> CA_CSET_SHIFT), c.set);
      // Keyboard input maps the replacement back to the ASCII position.
      EXPECT_EQ(VTxxxNRCFromTCS(term.t, NRCSSets[c.set - 1][2]), '[');
    }
  }
}

TEST(AnsiParser, LineDrawingIsSetTwoOnVT100AndFifteenOnVT220) {
  for (int emode : {VT100, VT220}) {
    Term term(emode, 24, 80);
    term.feed("\x1b(0q");
    int set = (int)((term.cell(0, 0) & CA_CSET) >> CA_CSET_SHIFT);
    EXPECT_EQ(set, emode == VT100 ? 2 : 15);
    EXPECT_EQ(term.cell(0, 0) & CA_CHAR, (CHATTR)'q');
    EXPECT_EQ(get_tcs(term.t, term.cell(0, 0)), 0x2C4);  // the horizontal line
  }
}

TEST(AnsiParser, SingleShiftsAndLockingShifts) {
  Term term(VT220, 24, 80);
  term.feed(
      "\x1b*0\x1bNq"
      "q");  // G2 = special graphics, one shifted char
  EXPECT_EQ(term.row(0), "\xe2\x94\x80q");
  term.feed("\x1bnq\x0fq");  // LS2 locks G2 into GL until SI
  EXPECT_EQ(term.row(0), "\xe2\x94\x80q\xe2\x94\x80q");
}

TEST(AnsiParser, HugeParametersAreClampedAndCheap) {
  Term term(MAC, 24, 80);
  term.feed("ab\x1b[2147483647L\x1b[99999999999@\x1b[99999;99999H\x1b[-5Ax");
  EXPECT_EQ(term.row(0), "");  // the inserted lines pushed "ab" off
  EXPECT_EQ(term.t->vdestline, 22);
  EXPECT_EQ(term.t->vdestcol, 79);  // x stored in the last column
  EXPECT_EQ(term.row(22), std::string(79, ' ') + "x");
  std::string longParams = "\x1b[" + std::string(500, '1') + ";" + std::string(500, '2') + "m";
  term.feed(longParams + "y");
  EXPECT_EQ(term.t->_vtptr, TE_VTBUF - 1);
}

TEST(AnsiParser, PrinterControllerHidesBytesUntilItsTerminator) {
  Term term(MAC, 24, 80);
  term.feed("a\x1b[5ihidden\x1b[5i\x1b[4xy\x1b[4ib");
  EXPECT_EQ(term.row(0), "ab");
  EXPECT_EQ(term.printed, "hidden\x1b[5i\x1b[4xy");
  EXPECT_EQ(term.t->_prctrl, 0);

  Term::Options o;  // 8-bit CSI: held bytes are printed as received
  o.emode = VT220;
  o.utf8 = false;
  Term vt220(o);
  vt220.feed(
      "\x1b[5i\x9b"
      "5x\x9b"
      "4i");
  EXPECT_EQ(vt220.printed,
            "\x9b"
            "5x");
  EXPECT_EQ(vt220.t->_prctrl, 0);

  Term utf8(MAC, 24, 80);  // UTF-8 text goes to the printer too
  utf8.feed("\x1b[5icaf\xc3\xa9\x1b[4ix");
  EXPECT_EQ(utf8.printed, "caf\xc3\xa9");
  EXPECT_EQ(utf8.row(0), "x");
}

TEST(AnsiParser, SCOFunctionKeyDefinition) {
  Term term(SCOANSI, 24, 80);
  term.feed("\x1bQ0'abc'\x1bQ1\"x^@y\"ok");
  ASSERT_NE(term.t->_prgkeys[0], nullptr);
  EXPECT_STREQ(term.t->_prgkeys[0], "abc");
  EXPECT_STREQ(term.t->_prgkeys[1], "x y");
  EXPECT_EQ(term.row(0), "ok");
}

}  // namespace
