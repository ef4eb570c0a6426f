// The Wyse 50 family (attribute cells) and the Wyse 60 (per-character
// attributes): a table of (member, input, expected screen, attributes,
// cursor), then the behaviours that need more than the screen: replies and
// read-back, block transmission, programmed keys and labels, the printer,
// pages and page sizes, personality switching and the lazy attribute
// propagation against feeding one byte at a time.
#include "em/wyse.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "corpus.h"
#include "keyname.h"
#include "term.h"

namespace {

enum : int {
  WYSE60 = 10,
  WYSE60_25 = 11,
  TVI950 = 13,
  WYSE50 = 14,
  TVI925 = 15,
  TVI912 = 16,
  ADM1 = 17,
  WYCOL = 33,
  ADDSVP = 34,
};

// Spans "first-last:XX" of equal attribute bits 16-23 of a row (the
// combination nibble: reverse 8, blink 4, underline 2, bold 1; then the
// protection nibble: protected 8, embedded 4, invisible 1); colours left
// out.
std::string Marks(Term& term, int y) {
  std::string out;
  const CHATTR* row = term.t->_vscreen[y];
  int start = 0;
  for (int x = 1; x <= term.t->vcols; x++) {
    if (x < term.t->vcols && ((row[x] >> 16) & 0xFF) == ((row[start] >> 16) & 0xFF)) continue;
    char span[32];
    snprintf(span, sizeof span, "%s%d-%d:%02X", out.empty() ? "" : " ", start, x - 1,
             (unsigned)((row[start] >> 16) & 0xFF));
    out += span;
    start = x;
  }
  return out;
}

// Expected rows: the given ones, blank elsewhere (up to the last given).
std::vector<std::string> Rows(const std::vector<std::pair<int, std::string>>& given) {
  std::vector<std::string> rows;
  for (const auto& [y, text] : given) {
    if ((int)rows.size() <= y) rows.resize((size_t)y + 1);
    rows[(size_t)y] = text;
  }
  return rows;
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; i++) out += s;
  return out;
}

Term::Options Opts(int emode, int rows = 24, int cols = 80) {
  Term::Options o = Term::make(emode, rows, cols);
  o.pages = 4;
  return o;
}

struct Case {
  const char* name;
  int emode;
  std::string input;
  std::vector<std::string> rows;
  int curY, curX;
  std::vector<std::pair<int, std::string>> marks;
};

const Case kCases[] = {
    {"cursor address", WYSE50, "\x1b=%(x", {"", "", "", "", "", "        x"}, 5, 9, {}},
    {"ADDS Viewpoint addresses with ESC Y", ADDSVP, "\x1bY!#x", {"", "   x"}, 1, 4, {}},
    {"negative address values are 0", TVI925, "\x1b=\x10\x05x", {"x"}, 0, 1, {}},
    {"attribute cell colours the rest of the screen on the Wyse 50",
     WYSE50,
     "\x1b=%(\x1bG4ab",
     {"", "", "", "", "", "         ab"},
     5,
     11,
     {{5, "0-7:00 8-8:8C 9-79:80"}, {6, "0-79:80"}, {23, "0-79:80"}}},
    {"attribute cell colours the rest of the row on the Televideo 925",
     TVI925,
     "\x1b=%(\x1bG4ab",
     {"", "", "", "", "", "         ab"},
     5,
     11,
     {{5, "0-7:00 8-8:8C 9-79:80"}, {6, "0-79:00"}}},
    {"the next attribute cell ends the run",
     WYSE50,
     "\x1bG8ab\x1bG0cd",
     {" ab cd"},
     0,
     6,
     {{0, "0-0:2C 1-2:20 3-3:0C 4-79:00"}, {1, "0-79:00"}}},
    {"a character over an attribute cell removes it",
     WYSE50,
     "\x1bG4ab\x1b=  X",
     {"Xab"},
     0,
     1,
     {{0, "0-79:00"}, {5, "0-79:00"}}},
    {"the Televideo 912 adds attributes on a cell and ends them one by one",
     TVI912,
     "\x1bj\x1b=  \x1bl"
     "ab\x1bk"
     "cd",
     {" ab cd"},
     0,
     6,
     {{0, "0-0:AC 1-2:A0 3-3:2C 4-79:20"}}},
    {"invisible and dim codes",
     WYSE50,
     "\x1bG1ab\x1bGpcd",
     {"    cd"},
     0,
     6,
     {{0, "0-0:0D 1-2:01 3-3:1C 4-79:10"}}},
    {"Wyse 50 line graphics",
     WYSE50,
     "\x1bH\x02"
     "2::3\x1bH\x03"
     "2",
     {"\xe2\x94\x8c\xe2\x94\x80\xe2\x94\x80\xe2\x94\x90"
      "2"},
     0,
     5,
     {}},
    {"graphics code without a glyph is a blank", WYSE50, "\x1bHa|", {" |"}, 0, 2, {}},
    {"Televideo 950 line graphics",
     TVI950,
     "\x1b$FKKG\x1b%F",
     {"\xe2\x94\x8c\xe2\x94\x80\xe2\x94\x80\xe2\x94\x90"
      "F"},
     0,
     5,
     {}},
    {"Televideo 925 graphics code 0 is a blank", TVI925, "\x1b$@A\x1b%", {" \xe2\x94\x94"}, 0, 2, {}},
    {"ADM-1: SUB shows a dot, SO and SI switch graphics",
     ADM1,
     "a\x1a"
     "b",
     {"a.b"},
     0,
     3,
     {}},
    {"SUB clears on the Televideo 925",
     TVI925,
     "abc\x1a"
     "d",
     {"d"},
     0,
     1,
     {}},
    {"ADDS Viewpoint: SUB goes up, NAK left, ACK right",
     ADDSVP,
     "abc\r\n\x06\x06\x06\x1a\x15\x15X\x06Y",
     {"aXcY"},
     0,
     4,
     {}},
    {"ADDS Viewpoint: FF clears",
     ADDSVP,
     "abc\r\nd\x0c"
     "e",
     {"e"},
     0,
     1,
     {}},
    {"up from the top row goes to the bottom row", WYSE50, "\x0bX", {}, 23, 1, {}},
    {"down from the bottom row goes to the top", WYSE50, "\x1b=7 \x16X", {"X"}, 0, 1, {}},
    {"left from home goes to the end of the last row", WYSE50, "\b", {}, 23, 79, {}},
    {"FF moves right, wrapping to the next row", WYSE50, "\x1b= o\x0cX", {"", "X"}, 1, 1, {}},
    {"line feed at the bottom scrolls", WYSE50, "a\x1b=7 b\n", Rows({{22, "b"}}), 23, 1, {}},
    {"no-scroll mode wraps to the top", WYSE50, "a\x1bN\x1b=7 b\nc", Rows({{0, "ac"}, {23, "b"}}), 0, 2, {}},
    {"US is CR LF",
     WYSE50,
     "ab\x1f"
     "c",
     {"ab", "c"},
     1,
     1,
     {}},
    {"ADM-1 tab goes home", ADM1, "ab\tc", {"cb"}, 0, 1, {}},
    {"tab stops every 8 columns", WYSE50, "a\tb\tc", {"a       b       c"}, 0, 17, {}},
    {"set and clear tab stops",
     WYSE50,
     "\x1b=  \x1b"
     "0\x1b= #\x1b"
     "1\r\tX",
     {"   X"},
     0,
     4,
     {}},
    {"back tab", WYSE50, "\x1b= 2\x1bIX", {"                X"}, 0, 17, {}},
    {"erase to end of line", WYSE50, "abcdef\x1b=  \x1b= \"\x1bT", {"ab"}, 0, 2, {}},
    {"erase to end of screen", TVI925, "ab\r\ncd\x1b= !\x1bY", {"a"}, 0, 1, {}},
    {"ADDS Viewpoint erases with ESC K and ESC k", ADDSVP, "abc\r\ndef\x1bY  \x1bKx\x1bk", {"x"}, 0, 1, {}},
    {"insert and delete line",
     WYSE50,
     "1\r\n2\r\n3\x1b=! \x1b"
     "E\x1b=# \x1bR",
     {"1", "", "2"},
     3,
     0,
     {}},
    {"insert and delete character", WYSE50, "abcd\x1b= !\x1bQX\x1b= #\x1bW", {"aXbd"}, 0, 3, {}},
    {"ESC ] sets the column", TVI925, "\x1b]%x", {"     x"}, 0, 6, {}},
    {"decimal cursor address",
     WYSE50,
     "\x1b"
     "a 3R 12Cx",
     {"", "", "           x"},
     2,
     12,
     {}},
    {"decimal address digits beyond three are ignored",
     WYSE50,
     "\x1b"
     "a2R0000000000099Cx",
     {"", "x"},
     1,
     1,
     {}},
    {"write protect makes protected characters",
     WYSE50,
     "a\x1b)bc\x1b(d",
     {"abcd"},
     0,
     4,
     {{0, "0-0:00 1-2:08 3-79:00"}}},
    {"protect mode skips protected cells", WYSE50, "\x1b)PP\x1b(\x1b&ab", {"PPab"}, 0, 4, {}},
    {"protect-aware backspace skips protected cells backward",
     WYSE50,
     "a\x1b)PP\x1b(c\x1b&\x1b= #\bX",
     {"XPPc"},
     0,
     3,
     {}},
    {"nothing unprotected: text rings the bell and the cursor goes home",
     WYSE50,
     "\x1b,\x1b&abc\x1b'd",
     {"d"},
     0,
     1,
     {}},
    {"clear unprotected keeps protected text", WYSE50, "\x1b)PP\x1b(xy\x1b&\x1b;z", {"PPz"}, 0, 3, {}},
    {"clear all leaves protect mode", WYSE50, "\x1b)PP\x1b(xy\x1b&\x1b*z", {"z"}, 0, 1, {}},
    {"clear to protected blanks", WYSE50, "ab\x1b,", {}, 0, 0, {{0, "0-79:08"}}},
    {"Wyse 50 clear with a fill character",
     WYSE50,
     "ab\x1b.*",
     std::vector<std::string>(24, std::string(80, '*')),
     0,
     0,
     {}},
    {"line lock keeps a row from being written",
     TVI925,
     "\x1b!1ab\r\n"
     "c",
     {"", "c"},
     1,
     1,
     {}},
    {"line lock off",
     TVI925,
     "\x1b!1\x1b!2"
     "ab",
     {"ab"},
     0,
     2,
     {}},
    {"monitor mode shows controls until ESC u",
     WYSE50,
     "\x1bUa\rb\x1bu\rc",
     {"c\xe2\x99\xaa"
      "b"},
     0,
     1,
     {}},
    {"ESC and a control draws its graphics glyph", WYSE50, "\x1b\x11", {"\xe2\x94\x94"}, 0, 1, {}},
    {"ESC F writes the status line, not the screen",
     WYSE50,
     "\x1b"
     "Fhello\rab",
     {"ab"},
     0,
     2,
     {}},
    {"WYCOL alpha-control text is swallowed",
     WYCOL,
     "\x1b\x1b~+oxyz\x1f\x1f"
     "ab",
     {"ab"},
     0,
     2,
     {}},
    {"WYCOL attribute codes are colours", WYCOL, "\x1bG4a", {" a"}, 0, 2, {{0, "0-0:8C 1-79:80"}}},
    {"personality switch to the Viewpoint", WYSE50, "\x1b~%\x1bY!!x", {"", " x"}, 1, 2, {}},
    // Wyse 60.
    {"Wyse 60 attributes are per character",
     WYSE60,
     "\x1bG4ab\x1bG0cd",
     {"abcd"},
     0,
     4,
     {{0, "0-1:80 2-79:00"}}},
    {"Wyse 60 standout and underline from terminfo",
     WYSE60,
     "\x1bGta\x1bG8b\x1bG0c",
     {"abc"},
     0,
     3,
     {{0, "0-0:90 1-1:20 2-79:00"}}},
    {"Wyse 60 line graphics through the secondary bank",
     WYSE60,
     "\x1b"
     "cB0\x1b"
     "cC1\x1b"
     "cEZDDD?\x1b"
     "cD"
     "D",
     {"\xe2\x94\x8c\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80\xe2\x94\x90"
      "D"},
     0,
     6,
     {}},
    {"Wyse 60 box outline",
     WYSE60,
     "\x1b=!!\x1b"
     "cG#%",
     {"", " \xe2\x94\x8c\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80\xe2\x94\x90", " \xe2\x94\x82   \xe2\x94\x82",
      " \xe2\x94\x94\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80\xe2\x94\x98"},
     1,
     1,
     {}},
    {"Wyse 60 box corners beyond the screen are clamped",
     WYSE60,
     "\x1b=4f\x1b"
     "cN\x7f\x7f",
     Rows({{20, std::string(70, ' ') + "\xe2\x94\x8c" + Repeat("\xe2\x94\x80", 8) + "\xe2\x94\x90"},
           {21, std::string(70, ' ') + "\xe2\x94\x82" + std::string(8, ' ') + "\xe2\x94\x82"},
           {22, std::string(70, ' ') + "\xe2\x94\x82" + std::string(8, ' ') + "\xe2\x94\x82"},
           {23, std::string(70, ' ') + "\xe2\x94\x94" + Repeat("\xe2\x94\x80", 8) + "\xe2\x94\x98"}}),
     20,
     70,
     {}},
    {"Wyse 60 fill box (the fill character comes as value + 32)",
     WYSE60,
     "\x1b"
     "cF!\"C",
     {"###", "###"},
     0,
     0,
     {}},
    {"Wyse 60 tab wraps to the next row", WYSE60, "\x1b=!w\tx", {"", "", "x"}, 2, 1, {}},
    {"Wyse 60 page-row-column address", WYSE60, "\x1b-0\"%x", {"", "", "     x"}, 2, 6, {}},
    // ESC w @: page, row and column follow; the Wyse 50 moves only when
    // both are on the screen, the Wyse 60 applies each on its own.
    {"Wyse 50 page-row-column address after ESC w @", WYSE50, "p0\x1bw@1\"%x", {"", "", "     x"}, 2, 6, {}},
    {"Wyse 50 ESC w @ with the column off the screen", WYSE50, "p0\x1bw@1\"\x7fx", {"x"}, 0, 1, {}},
    {"Wyse 60 ESC w @ with the column off the screen", WYSE60, "p0\x1bw@1\"\x7fx", {"", "", "x"}, 2, 1, {}},
    {"Televideo 925 ESC + in protect mode clears unprotected cells",
     TVI925,
     "\x1b)PP\x1b(xy\x1b&\x1b+z",
     {"PPz"},
     0,
     3,
     {}},
    {"Wyse 50 ESC + clears everything and leaves protect mode",
     WYSE50,
     "\x1b)PP\x1b(xy\x1b&\x1b+z",
     {"z"},
     0,
     1,
     {}},
    {"Wyse 60 ESC c ? returns a bank to the normal set",
     WYSE60,
     "\x1b"
     "cE2\x1b"
     "c?1\x1b"
     "cE2",
     {"\xe2\x96\x93"
      "2"},
     0,
     2,
     {}},
    {"Wyse 60 autowrap off",
     WYSE60,
     "\x1b"
     "d.\x1b= nabcd",
     {std::string(78, ' ') + "ad"},
     0,
     79,
     {}},
    {"Wyse 60 ESC c A ignores up to EM",
     WYSE60,
     "\x1b"
     "cAxyz\x19"
     "a",
     {"a"},
     0,
     1,
     {}},
};

class Screen : public testing::TestWithParam<Case> {};

TEST_P(Screen, ShowsWhatTheHostWrote) {
  const Case& c = GetParam();
  for (bool bytewise : {false, true}) {
    Term term(Opts(c.emode));
    if (bytewise)
      term.feedBytewise(c.input);
    else
      term.feed(c.input);
    for (size_t y = 0; y < c.rows.size(); y++)
      EXPECT_EQ(term.row((int)y), c.rows[y]) << c.name << " row " << y;
    for (size_t y = c.rows.size(); y < (size_t)term.t->vlines && !c.rows.empty(); y++)
      EXPECT_EQ(term.row((int)y), "") << c.name << " row " << y;
    EXPECT_EQ(term.t->vdestline, c.curY) << c.name;
    EXPECT_EQ(term.t->vdestcol, c.curX) << c.name;
    for (const auto& [y, marks] : c.marks) EXPECT_EQ(Marks(term, y), marks) << c.name << " row " << y;
  }
}

INSTANTIATE_TEST_SUITE_P(Wyse, Screen, testing::ValuesIn(kCases), [](const auto& info) {
  std::string n;
  for (char ch : std::string(info.param.name)) n += isalnum((unsigned char)ch) ? ch : '_';
  return n;
});

// ---- replies and read-back

TEST(WyseReplies, IdentityAndCursorReports) {
  Term w50(Opts(WYSE50));
  w50.feed("\x1b \x1b=$'\x1b?\x1b/");
  EXPECT_EQ(w50.sent, std::string("50\r") + "$'\r" + "0$'\r");
  Term w60(Opts(WYSE60));
  w60.feed("\x1b ");
  EXPECT_EQ(w60.sent, "60\r");
  Term tvi(Opts(TVI925));
  tvi.feed("\x1b ");
  EXPECT_EQ(tvi.sent, "") << "ESC SP is a Wyse 50 reply only";
}

// Text a file could make the terminal type into the shell: nothing is read
// back unless the terminal is in block mode or the setting allows it.
TEST(WyseReplies, ScreenReadBackOnlyInBlockModeOrWhenAllowed) {
  for (int emode : {WYSE50, WYSE60, TVI925}) {
    for (const char* ask : {"\x1b"
                            "4",
                            "\x1b"
                            "5",
                            "\x1b"
                            "6",
                            "\x1b"
                            "7",
                            "\x1bS", "\x1bs", "\x1bM"}) {
      Term term(Opts(emode));
      term.feed(std::string("rm -rf ~") + "\x1b= !" + ask);
      EXPECT_EQ(term.sent, "") << emode << " " << ask + 1;
      term.t->readback = 1;
      term.feed(std::string("\x1b= !") + ask);
      EXPECT_NE(term.sent.find("m"), std::string::npos) << emode << " " << ask + 1 << ": " << term.sent;
    }
  }
  Term block(Opts(WYSE50));
  block.feed(
      "abc\x1b"
      "B\x1b= \"\x1b"
      "6");
  EXPECT_EQ(block.sent, "abc\r");
}

TEST(WyseReplies, PageSendOfUnprotectedCellsOmitsProtectedText) {
  Term term(Opts(WYSE50));
  term.t->readback = 1;
  term.t->turnchar = '\r';
  term.feed(
      "ab\x1b)PR\x1b(cd\r\nef\x1b&\x1b=!!\x1b"
      "5");
  EXPECT_EQ(term.sent,
            "ab\x1c"
            "cd" +
                std::string(74, ' ') +
                "\x1f"
                "ef\r");
  term.sent.clear();
  term.feed(
      "\x1b=!!\x1b"
      "7");
  EXPECT_EQ(term.sent, "ab\x1b)PR\x1b(cd" + std::string(74, ' ') +
                           "\x1f"
                           "ef\r");
  term.sent.clear();
  term.feed(
      "\x1b'\x1b=  \x1b"
      "6");
  EXPECT_EQ(term.sent, "a\r") << "a line send ends at the cursor";
  EXPECT_EQ(term.t->vdestline, 1) << "and moves to the next row";
}

TEST(WyseReplies, AttributeCellsAreSentAsTheirCode) {
  Term term(Opts(WYSE50));
  term.t->readback = 1;
  term.feed(
      "a\x1bG4"
      "b\x1bG0\b\x1b"
      "6");
  EXPECT_EQ(term.sent,
            "a\x1bG4"
            "b\x1bG0\r");
}

// ---- keys, labels and the status line

TEST(WyseProgramming, HostProgrammedKeysAndLabels) {
  Term term(Opts(WYSE50));
  term.feed("\x1bz@hello\r\x7f\x1bz`shifted\x7f\x1bz+up\x7f");
  EXPECT_STREQ(TEemkey(term.t, TK_F1), "hello\r");
  EXPECT_STREQ(TEemkey(term.t, TK_SF1), "shifted");
  EXPECT_STREQ(TEemkey(term.t, TK_UP), "up");
  EXPECT_STREQ(TEemkey(term.t, TK_F1 + 1),
               "\x01"
               "A\r");
  // A key text is bounded; the rest up to DEL is dropped.
  term.feed("\x1bzA" + std::string(200, 'x') + "\x7fok");
  EXPECT_EQ(std::string(TEemkey(term.t, TK_F1 + 1)), std::string(63, 'x'));
  EXPECT_EQ(term.row(0), "ok");

  term.feed("\x1bz0Edit\r\x1bz1Save\r\x1bz8Shift1\r");
  const TELABELS& L = term.t->labels;
  EXPECT_TRUE(L.on);
  EXPECT_EQ(vid_rowtext(term.t, L.status, 80), " Edit      Save");
  EXPECT_EQ(vid_rowtext(term.t, L.shifted, 80), " Shift1");
  term.feed("\x1bz(Host status text\r");
  EXPECT_EQ(vid_rowtext(term.t, L.status, 80), "Host status text");
  term.feed(
      "\x1b"
      "A11");
  EXPECT_EQ(vid_rowtext(term.t, L.status, 80), "") << "an invisible status line";

  Term w60(Opts(WYSE60));
  w60.feed(
      "\x1bZ1@wy60\x7f\x1bz0Label\r\x1b"
      "fStatus\r");
  EXPECT_STREQ(TEemkey(w60.t, TK_F1), "wy60");
  EXPECT_EQ(vid_rowtext(w60.t, w60.t->labels.status, 80), "Status");
  w60.feed("\x1bz0Label\r");
  EXPECT_EQ(vid_rowtext(w60.t, w60.t->labels.status, 80), "Label");
  w60.feed(
      "\x1b"
      "A11");
  EXPECT_EQ(vid_rowtext(w60.t, w60.t->labels.status, 80), "") << "an invisible status line";
  w60.feed("\x1bh");
  EXPECT_FALSE(w60.t->labels.on);

  Term w25(Opts(WYSE60_25, 25));
  w25.feed(
      "\x1b"
      "fswallowed\rab");
  EXPECT_FALSE(w25.t->labels.on);
  EXPECT_EQ(w25.row(0), "ab");
  w25.feed(
      "\x1b"
      "A11\x1b"
      "A04cd");
  EXPECT_EQ(w25.t->fam.statattr, 0u) << "no status-line area on the Wyse 60-25";
  EXPECT_EQ(Marks(w25, 0), "0-1:00 2-3:80 4-79:00") << "the main area takes the attribute";
}

// Keys the terminfo entries do not name (their strings against the
// entries are checked in terminfo_test.cpp).
TEST(WyseKeys, MembersStringsModesAndProgrammedSlots) {
  struct K {
    int emode;
    int code;
    int app;
    const char* sent;
  } keys[] = {
      {WYCOL, TK_F1, 0,
       "\x1b"
       "1"},
      {WYCOL, TK_F1 + 10, 0, "\x07;"},
      {WYCOL, TK_F1 + 12, 0, "\x01\x0c\r"},
      {WYCOL, TK_ALTA, 0,
       "\x01"
       "a\r"},
      {WYCOL, TK_PGDN, 0, "\x14"},
      {WYCOL, TK_DOWN, 0, "\x16"},
      {ADDSVP, TK_F1, 0,
       "\x02"
       "1"},
      {ADDSVP, TK_F1 + 5, 0, "\x1b]R"},
      {ADDSVP, TK_PGDN, 0, "\x1b|"},
      {ADDSVP, TK_HOME, 0, "\x01"},
      {TVI925, TK_DOWN, 0, "\x16"},
      {WYSE50, TK_DOWN, 0, "\n"},
      {WYSE50, TK_CF1, 0, "\x01J\r"},
      {WYSE50, TK_CSF1, 0, "\x01j\r"},
      {WYSE50, TK_C_BACKSPACE, 0, "\x7f"},
      {WYSE50, TK_END, 0, "\x1br"},
      {WYSE60, TK_END, 0, "\x1bT"},
      {WYSE60, TK_UP, 1, "\xd3"},
      {WYSE60, TK_KP0 + 5, 1, "\xb5"},
      {WYSE60, TK_SF1, 1, "\x90"},
      {WYSE60, TK_CF1, 1, "\x8a"},
      {WYSE60, TK_CF1, 0, "\x01J\r"},
      {WYSE60, TK_DEL, 0, "\x1bW"},
      {WYSE60, TK_KPSLASH, 1, "/"},
  };
  for (const K& k : keys) {
    Term term(Opts(k.emode));
    term.t->_appkey = k.app;
    const char* s = TEemkey(term.t, k.code);
    EXPECT_EQ(std::string(s ? s : "<none>"), k.sent) << k.emode << " " << keyname(k.code);
  }
  Term w60(Opts(WYSE60));
  w60.feed(
      "\x1b"
      "e&\x1bz\"bs\x7f");
  EXPECT_STREQ(TEemkey(w60.t, 0x200 + 'a'), "A") << "caps lock";
  EXPECT_STREQ(TEemkey(w60.t, TK_BACKSPACE), "bs") << "programmed backspace";
  w60.feed(
      "\x1b"
      "cU");
  EXPECT_STREQ(TEemkey(w60.t, TK_BACKSPACE), "\b") << "programmed keys cleared";
}

// ---- printer

TEST(WysePrinter, ControllerModeNeedsAPrinter) {
  // No printer: CAN, ESC ` and ESC d # change nothing and text shows.
  const std::vector<std::pair<int, std::string>> starts = {
      {WYSE50, "\x18"},
      {TVI925, "\x1b`"},
      {WYSE60,
       "\x1b"
       "d#"},
      {WYSE60, "\x18"},
      {35, "\x1b[5i"},
      {35, "\x1b[7i"},
  };
  for (const auto& [emode, start] : starts) {
    Term term(Opts(emode));
    term.t->hooks.printer = nullptr;
    term.t->_venhanced = 0;
    term.feed(start + "shown");
    EXPECT_EQ(term.row(0), "shown") << emode;
  }
  // With one, the bytes go to the printer until the end of the mode.
  Term term(Opts(WYSE50));
  term.feed(
      "\x18"
      "to printer\x1b=!!\x14"
      "back");
  EXPECT_EQ(term.printed, "to printer\x1b=!!");
  EXPECT_EQ(term.row(0), "back");
  Term tvi(Opts(TVI925));
  tvi.feed(
      "\x1b`abc\x1bxyz\x1b"
      "adef");
  EXPECT_EQ(tvi.printed, "abc\x1bxyz");
  EXPECT_EQ(tvi.row(0), "def");
  Term disp(Opts(TVI950));
  disp.feed(
      "\x1b@both\x1b"
      "Aafter");
  EXPECT_EQ(disp.printed, "both");
  EXPECT_EQ(disp.row(0), "bothafter");
}

TEST(WysePrinter, PrintScreenSendsThePrintCharacter) {
  Term term(Opts(TVI925));
  term.feed("\x1bpZ\x1bP");
  EXPECT_EQ(term.sent, "Z");
}

// ---- pages, sizes, personalities

TEST(WyseScreen, PagesKeepTheirText) {
  Term term(Opts(WYSE50));
  term.feed("page0\x1bw1page1");
  EXPECT_EQ(term.row(0), "page1");
  term.feed("\x1bw0");
  EXPECT_EQ(term.row(0), "page0");
  term.feed("\x1bwC");
  EXPECT_EQ(term.row(0), "page1");
}

TEST(WyseScreen, Wyse60PageSizesClearTheScreen) {
  Term term(Opts(WYSE60));
  term.feed(
      "text\x1b"
      "e*");
  EXPECT_EQ(term.t->vlines, 42);
  EXPECT_EQ(term.row(0), "");
  term.feed(
      "\x1b"
      "e+");
  EXPECT_EQ(term.t->vlines, 43);
  term.feed("\x1b=J x");
  EXPECT_EQ(term.row(42), "x");
  term.feed(
      "\x1b"
      "e(");
  EXPECT_EQ(term.t->vlines, 24);
}

TEST(WyseScreen, ColumnModesKeepTheText) {
  Term::Options o = Opts(WYSE50);
  o.vextend = false;
  Term term(o);
  term.feed("abc\x1b`;");
  EXPECT_EQ(term.t->vcols, 132);
  EXPECT_EQ(term.row(0), "abc");
  term.feed("\x1b`:");
  EXPECT_EQ(term.t->vcols, 80);
}

TEST(WyseScreen, PersonalitySwitchRecordsTheRequest) {
  Term term(Opts(WYSE60, 25));
  term.feed("\x1b~4");
  EXPECT_EQ(term.t->emode, WYSE60_25);
  EXPECT_EQ(term.t->tereload, 1);
  term.feed("\x1b~5");
  EXPECT_EQ(term.t->emode, 12);
  term.feed("\x1b~3");
  EXPECT_EQ(term.t->_appkey, 1);
  EXPECT_EQ(std::string(TEemkey(term.t, TK_F1)), "\x80");
}

TEST(WyseScreen, StartsInBlockModeWhenConfigured) {
  Term::Options o = Opts(WYSE50);
  Term term(o);
  term.t->sblockmode = 1;
  EmReset(term.t, WYSE50);
  EXPECT_EQ(term.t->_blokmode, 1);
  EXPECT_EQ(term.t->_protect, 1);
  term.t->sblockmode = 1;
  EmReset(term.t, ADM1);
  EXPECT_EQ(term.t->_blokmode, 0) << "the ADM-1 has no block mode";
}

// ---- lazy propagation

// Attribute changes streamed anywhere on the screen give, fed in bulk, the
// cells that one byte at a time (each byte's propagation done before the
// next) gives.
TEST(WyseAttributes, BulkPropagationMatchesByteByByte) {
  Corpus gen(7);
  for (int round = 0; round < 200; round++) {
    std::string s;
    int emode = round % 3 == 0 ? WYSE50 : round % 3 == 1 ? WYCOL : TVI925;
    for (int k = 0; k < 60; k++) {
      switch (gen.pick(9)) {
        case 0:
        case 1:
          s += "\x1bG" + std::string(1, "0248p1<4?"[gen.pick(9)]);
          break;
        case 2:
          s +=
              "\x1b=" + std::string(1, (char)(32 + gen.pick(24))) + std::string(1, (char)(32 + gen.pick(80)));
          break;
        case 3:
          s += "\n";
          break;
        case 4:
          s += "\x1b" + std::string(1, "ERWQTY"[gen.pick(6)]);
          break;
        case 5:
          s += "\x1b"
               "A0" +
               std::string(1, "048"[gen.pick(3)]);
          break;
        default:
          s += std::string(1 + gen.pick(30), (char)('a' + gen.pick(26)));
          break;
      }
    }
    Term bulk(Opts(emode)), bytes(Opts(emode));
    bulk.feed(s);
    bytes.feedBytewise(s);
    for (int y = 0; y < 24; y++)
      for (int x = 0; x < 80; x++)
        ASSERT_EQ(bulk.cell(x, y), bytes.cell(x, y)) << "round " << round << " at " << y << "," << x;
  }
}

// Every cell a propagation changed is inside the changed rectangle the
// browsers are sent.
TEST(WyseAttributes, PropagatedCellsAreReported) {
  Term term(Opts(WYSE50));
  term.feed("\x1b=5 ");
  vscreen_invalidate(term.t);
  term.feed("\x1b=\" \x1bG4");
  const VREGION& r = term.t->vscreen_region;
  EXPECT_EQ(r.top, 2);
  EXPECT_EQ(r.bottom, 23);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.right, 79);
}

}  // namespace
