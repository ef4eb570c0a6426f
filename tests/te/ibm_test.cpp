// The IBM 3151 family, PC-term and TTY: a table of (member, input, expected
// screen, cursor, attributes), then replies and read-back, field editing,
// buffer addressing and the keys.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "keyname.h"
#include "term.h"

namespace {

// Spans of attribute bits 16-23 (combination and protection nibbles).
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

Term::Options Opts(int emode, int rows = 24) {
  Term::Options o = Term::make(emode, rows, 80);
  o.utf8 = emode != EMODE_IBM3151 && emode != EMODE_IBM3101 && emode != EMODE_IBM3151_25;
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
    // IBM 3151.
    {"cursor address and moves that wrap",
     EMODE_IBM3151,
     "\x1bY\"%x\x1b"
     "A\x1b"
     "A\x1b"
     "A\x1b"
     "Dy",
     {"", "", "     x", "", "", "", "", "", "", "", "", "",
      "", "", "",       "", "", "", "", "", "", "", "", "     y"},
     23,
     6,
     {}},
    {"out-of-screen addresses are ignored",
     EMODE_IBM3151,
     "ab\x1bY\x7f\x7f"
     "c\x1bX\x7f!d",
     {"abcd"},
     0,
     4,
     {}},
    {"132-column address form", EMODE_IBM3151, "\x1by ! &x", {"", "      x"}, 1, 7, {}},
    {"132-column address form out of range is ignored", EMODE_IBM3151, "a\x1by!!  b", {"ab"}, 0, 2, {}},
    {"buffer address: text goes there and the cursor stays",
     EMODE_IBM3151,
     "ab\x1bX!!xyz",
     {"ab", " xyz"},
     0,
     2,
     {}},
    {"ESC Z moves the cursor to the buffer address",
     EMODE_IBM3151,
     "ab\x1bX!!xyz\x1bZ!",
     {"ab", " xyz!"},
     1,
     5,
     {}},
    {"a cursor move ends buffer addressing",
     EMODE_IBM3151,
     "ab\x1bX!!x\x1b"
     "Cq",
     {"ab q", " x"},
     0,
     4,
     {}},
    {"ESC 3 0x48: a protected attribute cell, field mode on",
     EMODE_IBM3151,
     "\x1b"
     "3\x48"
     "ab",
     {" ab"},
     0,
     3,
     {{0, "0-0:1C 1-79:10"}, {23, "0-79:10"}}},
    {"a protected field",
     EMODE_IBM3151,
     "\x1b"
     "3\x20\x42"
     "ab",
     {" ab"},
     0,
     3,
     {{0, "0-0:0C 1-79:08"}}},
    {"the field runs around the screen to its own cell",
     EMODE_IBM3151,
     "\x1bY\" \x1b"
     "3\x41\x1bY  x",
     {"x", "", ""},
     0,
     1,
     {{0, "0-79:80"}, {2, "0-0:8C 1-79:80"}}},
    {"the next field ends a field",
     EMODE_IBM3151,
     "\x1b"
     "3\x41"
     "ab\x1b"
     "3\x40"
     "cd",
     {" ab cd"},
     0,
     6,
     {{0, "0-0:8C 1-2:80 3-3:0C 4-79:00"}}},
    {"text over attribute cells removes them and the fields merge",
     EMODE_IBM3151,
     "\x1b"
     "3\x41"
     "ab\x1b"
     "3\x40"
     "cd\x1bHwxyz",
     {"wxyzcd"},
     0,
     4,
     {{0, "0-79:00"}}},
    {"a character attribute for the following characters",
     EMODE_IBM3151,
     "a\x1b"
     "4!ab\x1b"
     "4>bc",
     {"abc"},
     0,
     3,
     {{0, "0-0:00 1-1:80 2-79:00"}}},
    {"graphics set G1 by bit 7",
     EMODE_IBM3151,
     "\x1b>A\xea\xf1\xeb"
     "a",
     {"\xe2\x94\x98\xe2\x94\x80\xe2\x94\x90"
      "a"},
     0,
     4,
     {}},
    {"graphics code without a glyph is a blank", EMODE_IBM3151, "\x1b>A\xe0\xa1!", {"0 !"}, 0, 3, {}},
    {"SUB writes a question mark",
     EMODE_IBM3151,
     "a\x1a"
     "b",
     {"a?b"},
     0,
     3,
     {}},
    {"DLE STX text is stored up to DLE ETX",
     EMODE_IBM3151,
     "\x10\x02"
     "a\x07"
     "b\x10\x10\x10\x03"
     "c",
     {"a\xe2\x80\xa2"
      "b\xe2\x96\xba"
      "c"},
     0,
     5,
     {}},
    {"erase to end of line and screen",
     EMODE_IBM3151,
     "abc\r\ndef\x1bY !\x1bI\x1bY!!\x1bJ",
     {"a", "d"},
     1,
     1,
     {}},
    {"field-aware erase keeps protected cells",
     EMODE_IBM3151,
     "\x1b"
     "3\x20\x42PP\x1b"
     "3\x40"
     "ab\x1bY $\x1bJ",
     {" PP"},
     0,
     4,
     {}},
    {"clear all", EMODE_IBM3151, "ab\x1bL", {""}, 0, 0, {}},
    {"reset", EMODE_IBM3151, "ab\x1b>B\x1b S", {""}, 0, 0, {}},
    {"insert and delete character", EMODE_IBM3151, "abcd\x1bY !\x1bPX\x1bY #\x1bQ", {"aXbd"}, 0, 3, {}},
    {"insert and delete line without fields",
     EMODE_IBM3151,
     "1\r\n2\r\n3\x1bY! \x1bN\x1bY# \x1bO",
     {"1", "", "2"},
     3,
     0,
     {}},
    {"line deletion in field mode without a boundary row is a plain delete",
     EMODE_IBM3151,
     "\x1b"
     "3\x48\x1bY  x\x1bY\" 2\r\n3\x1bY\" \x1bO",
     {"x", "", "3"},
     2,
     0,
     {}},
    {"line insertion within the field rows",
     EMODE_IBM3151,
     "\x1bY  a\x1bY! b\x1bY\" c\x1bY# \x1b"
     "3\x40\x1bY! \x1bN",
     {"a", "", "b", ""},
     1,
     0,
     {}},
    {"the mark",
     EMODE_IBM3151,
     "ab\x1b"
     "E\x1bY #\x1b"
     "E",
     {"ab >"},
     0,
     3,
     {}},
    {"IBM 3101: no character attributes, graphics from the code page",
     EMODE_IBM3101,
     "\x1b"
     "4!a\x1b>A\xea",
     {"!a\xce\xa9"},
     0,
     3,
     {}},
    // PC-term.
    {"PC-term: ESC G4 reverse, ESC G0 normal",
     EMODE_PCTERM,
     "\x1bG4ab\x1bG0"
     "c",
     {"abc"},
     0,
     3,
     {{0, "0-1:80 2-79:00"}}},
    {"PC-term: bold combinations", EMODE_PCTERM, "\x1bGta\x1bG b", {"ab"}, 0, 2, {{0, "0-0:90 1-79:00"}}},
    {"PC-term: an unknown byte ends the sequence",
     EMODE_PCTERM,
     "\x1bqabc\x1b"
     "7x",
     {"abcx"},
     0,
     4,
     {}},
    {"PC-term: cursor address", EMODE_PCTERM, "\x1b=\"%x", {"", "", "     x"}, 2, 6, {}},
    {"PC-term: the 25th row erase needs 25 rows",
     EMODE_PCTERM,
     "ab\x1b"
     "e",
     {"ab"},
     0,
     2,
     {}},
    {"PC-term: monitor mode",
     EMODE_PCTERM,
     "\x1bU\r\x1bX"
     "a",
     {"\xe2\x99\xaa"
      "a"},
     0,
     2,
     {}},
    {"PC-term: ESC and a control writes it", EMODE_PCTERM, "\x1b\x07", {"\xe2\x80\xa2"}, 0, 1, {}},
    {"PC-term: graphics are the code page's upper half",
     EMODE_PCTERM,
     "\x1b$\x44\x1b%D",
     {"\xe2\x94\x80"
      "D"},
     0,
     2,
     {}},
    {"PC-term: text ignored up to CR", EMODE_PCTERM, "\x1b]ignored\rshown", {"shown"}, 0, 5, {}},
    // TTY.
    {"TTY: no escape sequences", EMODE_TTY, "\x1b[2Ja", {"\xe2\x86\x90[2Ja"}, 0, 5, {}},
    {"TTY: BS, CR, LF, tabs and a bell", EMODE_TTY, "ab\bc\tx\r\n\n\x07y", {"ac      x", "", "y"}, 2, 1, {}},
    {"TTY: a tab stops at the last column",
     EMODE_TTY,
     "\r" + std::string(78, 'a') + "\tb\tc",
     {std::string(78, 'a') + " b", "        c"},
     1,
     9,
     {}},
    {"TTY: the line wraps", EMODE_TTY, std::string(85, 'a'), {std::string(80, 'a'), "aaaaa"}, 1, 5, {}},
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
    EXPECT_EQ(term.t->vdestline, c.curY) << c.name;
    EXPECT_EQ(term.t->vdestcol, c.curX) << c.name;
    for (const auto& [y, marks] : c.marks) EXPECT_EQ(Marks(term, y), marks) << c.name << " row " << y;
  }
}

INSTANTIATE_TEST_SUITE_P(Ibm, Screen, testing::ValuesIn(kCases), [](const auto& info) {
  std::string n;
  for (char ch : std::string(info.param.name)) n += isalnum((unsigned char)ch) ? ch : '_';
  return n;
});

TEST(IbmReplies, CursorAndStatusReports) {
  Term ib3101(Opts(EMODE_IBM3101));
  ib3101.t->turnchar = '\r';
  ib3101.feed(
      "\x1bY#%\x1b"
      "5\x1b"
      "7");
  EXPECT_EQ(ib3101.sent,
            "\x1bY#%\r\x1b"
            "7I*\r");
  Term::Options o = Opts(EMODE_IBM3151);
  o.vextend = false;
  Term ib3151(o);
  ib3151.t->turnchar = '\r';
  ib3151.feed(
      "\x1b r!! 8$D\x1by !!'\x1b"
      "5");
  EXPECT_EQ(ib3151.t->vcols, 132);
  EXPECT_EQ(ib3151.sent, "\x1by !!'\r") << "132 columns: the long form";
  Term pc(Opts(EMODE_PCTERM));
  pc.feed("\x1b=\"%\x1b?\x1b/\x1b[");
  EXPECT_EQ(pc.sent, std::string("\"%\r0\"%\r") + std::string(1, '\0') + "a");
}

TEST(IbmReplies, ReadBackOnlyInBlockModeOrWhenAllowed) {
  struct Ask {
    int emode;
    const char* ask;
  } asks[] = {{EMODE_IBM3151,
               "\x1b"
               "8"},
              {EMODE_IBM3151, "\x1b!8"},
              {EMODE_IBM3151, "\x1b 8"},
              {EMODE_PCTERM,
               "\x1b"
               "6"},
              {EMODE_PCTERM,
               "\x1b"
               "7"},
              {EMODE_PCTERM, "\x1bs"}};
  for (const Ask& a : asks) {
    Term term(Opts(a.emode));
    term.feed(std::string("secret") + a.ask);
    EXPECT_EQ(term.sent, "") << a.emode << " " << a.ask + 1;
    term.t->readback = 1;
    term.feed(a.ask);
    EXPECT_NE(term.sent.find("secret"), std::string::npos) << a.emode << " " << a.ask + 1;
  }
  // The 3151 page send of fields: unprotected fields with their attribute.
  Term term(Opts(EMODE_IBM3151));
  term.t->readback = 1;
  term.t->turnchar = '\r';
  term.feed(
      "\x1b"
      "3\x20\x42Name:\x1b"
      "3\x41"
      "Ada\x1b 8");
  EXPECT_EQ(term.sent,
            "\x1b"
            "3!@Ada\x1e\r");
}

TEST(IbmKeys, FunctionSendAndEditingKeys) {
  Term term(Opts(EMODE_IBM3151));
  term.t->turnchar = '\r';
  auto key = [&](int code) {
    const char* s = TEemkey(term.t, code);
    return std::string(s ? s : "<none>");
  };
  EXPECT_EQ(key(TK_F1),
            "\x1b"
            "a\r");
  EXPECT_EQ(key(TK_SF1 + 11), "\x1b!l\r");
  EXPECT_EQ(key(TK_CSF1), "\x1b\"a\r");
  EXPECT_EQ(key(TK_KPSTAR), "\x1b!8\r");
  EXPECT_EQ(key(TK_C_PRINT), "\x1b 8\r");
  EXPECT_EQ(key(TK_PGUP), "\x1bL\r");
  EXPECT_EQ(key(TK_KPPLUS), "\r");
  EXPECT_EQ(key('\r'), "<none>") << "Enter is the character itself outside field mode";
  term.feed(
      "\x1b"
      "3\x48");
  EXPECT_EQ(key('\r'), "\x1bM");
  Term ib3101(Opts(EMODE_IBM3101));
  EXPECT_STREQ(TEemkey(ib3101.t, TK_KPSTAR), "*") << "no send key on the 3101: the keypad's own character";
  Term pc(Opts(EMODE_PCTERM));
  EXPECT_EQ(TEemkey(pc.t, TK_F1), nullptr) << "PC-term sends no key strings";
  EXPECT_EQ(TEemkey(pc.t, TK_UP), nullptr);
  Term tty(Opts(EMODE_TTY));
  EXPECT_STREQ(TEemkey(tty.t, TK_BACKSPACE), "\b");
  EXPECT_STREQ(TEemkey(tty.t, TK_F1), "\x1b]M");
}

TEST(IbmScreen, PcTermRequestsItsPersonalitiesAndErasesThe25thRow) {
  Term term(Opts(EMODE_PCTERM, 25));
  term.feed(
      "\x1b=8 bottom\x1b=  \x1b"
      "e");
  EXPECT_EQ(term.row(24), "");
  EXPECT_EQ(term.t->vdestline, 0);
  term.feed("\x1bv4");
  EXPECT_EQ(term.t->emode, EMODE_WYSE60_25);
  EXPECT_EQ(term.t->tereload, 1);
  term.feed("\x1bv\"");
  EXPECT_EQ(term.t->emode, EMODE_WYSE50);
}

TEST(IbmScreen, TtyScrollsFromTheLastCell) {
  Term term(Opts(EMODE_TTY));
  term.feed("top\r\n");
  for (int i = 0; i < 22; i++) term.feed("\n");
  term.feed(std::string(80, 'z'));
  EXPECT_EQ(term.row(0), "") << "the top row scrolled off";
  EXPECT_EQ(term.row(22), std::string(80, 'z'));
  EXPECT_EQ(term.t->vdestline, 23);
}

TEST(IbmScreen, ProtectedTargetsRingTheBell) {
  Term term(Opts(EMODE_IBM3151));
  term.t->_protect = 1;
  term.feed(
      "\x1b"
      "3\x20\x42PPP\x1bY  x");
  EXPECT_EQ(term.bells, 4) << "no unprotected cell: each of the four characters rings the bell";
  EXPECT_EQ(term.row(0), "") << "and none is written";
}

}  // namespace
