// ANSI and DEC private modes of the ANSI/VT family: a table of (member,
// input, fields expected), then the modes whose effect shows on the screen
// (insert, autowrap, origin, alternate screen, 132 columns, selective
// erase, margins) and the modes real programs leave behind in their
// recordings.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "em/ansi.h"
#include "term.h"

namespace {

enum : int { VT320 = 1, VT220 = 3, VT100 = 5, VT52 = 6, ANSI = 7, SCOANSI = 9, VT420 = 31, MAC = 35 };

struct ModeCase {
  const char* name;
  int emode;
  std::string input;
  std::vector<std::pair<int te::*, int>> want;
};

const ModeCase kModes[] = {
    {"IRM set", MAC, "\x1b[4h", {{&te::_vinsmode, 1}}},
    {"IRM reset", MAC, "\x1b[4h\x1b[4l", {{&te::_vinsmode, 0}}},
    {"KAM locks the keyboard", MAC, "\x1b[2h", {{&te::_kdisable, 1}}},
    {"SRM set turns local echo off", MAC, "\x1b[12l\x1b[12h", {{&te::dupmode, 0}}},
    {"SRM reset turns local echo on", MAC, "\x1b[12l", {{&te::dupmode, 1}}},
    {"LNM", MAC, "\x1b[20h", {{&te::_vnlmode, 1}}},
    {"ANSI list stops at 0", MAC, "\x1b[4;0;20h", {{&te::_vinsmode, 1}, {&te::_vnlmode, 0}}},
    {"ANSI empty list changes nothing", MAC, "\x1b[h", {{&te::_vinsmode, 0}}},
    {"DECCKM", MAC, "\x1b[?1h", {{&te::_appcur, 1}}},
    {"DECCKM reset", MAC, "\x1b[?1h\x1b[?1l", {{&te::_appcur, 0}}},
    {"DECNKM", MAC, "\x1b[?66h", {{&te::_appkey, 1}}},
    {"DECKPAM and DECKPNM", MAC, "\x1b=", {{&te::_appkey, 1}}},
    {"DECKPNM", MAC, "\x1b=\x1b>", {{&te::_appkey, 0}}},
    {"several private modes",
     MAC,
     "\x1b[?1;66;7l\x1b[?1;66h",
     {{&te::_appcur, 1}, {&te::_appkey, 1}, {&te::_AMon, 0}}},
    {"private list stops at 0", MAC, "\x1b[?0;7l", {{&te::_AMon, 1}}},
    {"private list stops at the first 0", MAC, "\x1b[?1;0;66h", {{&te::_appcur, 1}, {&te::_appkey, 0}}},
    {"DECAWM reset", MAC, "\x1b[?7l", {{&te::_AMon, 0}}},
    {"DECTCEM hides the drawn cursor", MAC, "\x1b[?25l", {{&te::_cursmode, 0}, {&te::vCaret, 0}}},
    {"DECTCEM shows it again", MAC, "\x1b[?25l\x1b[?25h", {{&te::_cursmode, 1}, {&te::vCaret, 1}}},
    {"DECSCNM", MAC, "\x1b[?5h", {{&te::_revvideo, 1}}},
    {"print form feed and extent", MAC, "\x1b[?18;19l", {{&te::_prformfd, 0}, {&te::_prextent, 0}}},
    {"DECNRCM", VT220, "\x1b[?42h", {{&te::_nrcsmode, 1}}},
    {"DECNRCM reset", VT220, "\x1b[?42h\x1b[?42l", {{&te::_nrcsmode, 0}}},
    {"DECLRMM on VT420", VT420, "\x1b[?69h", {{&te::_decvssm, 1}}},
    {"DECLRMM is VT420 only", VT220, "\x1b[?69h", {{&te::_decvssm, 0}}},
    {"DECANM reset enters VT52",
     VT220,
     "\x1b[?2l",
     {{&te::_vemode, VM_VT52}, {&te::_vtc18out, 0}, {&te::_vt200mode, 0}}},
    {"VT52 ESC < leaves it", VT220, "\x1b[?2l\x1b<", {{&te::_vemode, VM_VT100}}},
    {"unknown private modes are ignored", MAC, "\x1b[?1000;1006;2004h", {{&te::_appcur, 0}}},
    // DECSCUSR: the cursor style the host asks for, 0 its terminal's own.
    {"DECSCUSR steady bar", MAC, "\x1b[6 q", {{&te::_cursorstyle, 6}}},
    {"DECSCUSR 0 gives the default back", MAC, "\x1b[4 q\x1b[0 q", {{&te::_cursorstyle, 0}}},
    {"DECSCUSR without a number is 0", MAC, "\x1b[3 q\x1b[ q", {{&te::_cursorstyle, 0}}},
    {"DECSCUSR above 6 or with a marker changes nothing", MAC, "\x1b[2 q\x1b[7 q\x1b[?5 q\x1b[1;5 q",
     {{&te::_cursorstyle, 2}}},
    {"a blank intermediate is not ESC SP F", VT220, "\x1b G\x1b[ F\x1b[5 q", {{&te::_vtc18out, 1}, {&te::_cursorstyle, 5}}},
    {"the final after a blank is no other control", MAC, "\x1b[5;5H\x1b[3 A\x1b[2 @", {{&te::vdestline, 4}, {&te::vdestcol, 4}}},
    {"DECSCUSR on a VT100", VT100, "\x1b[1 q", {{&te::_cursorstyle, 1}}},
    {"hard reset forgets the cursor style", MAC, "\x1b[5 q\x1b""c", {{&te::_cursorstyle, 0}}},
    {"hard reset returns the modes",
     MAC,
     "\x1b[?25l\x1b[?1;66h\x1b[4h\x1b[?5h\x1b"
     "c",
     {{&te::_cursmode, 1},
      {&te::vCaret, 1},
      {&te::_appcur, 0},
      {&te::_appkey, 0},
      {&te::_vinsmode, 0},
      {&te::_revvideo, 0}}},
};

TEST(Modes, TableOfMembersInputsAndFields) {
  for (const ModeCase& c : kModes) {
    Term term(c.emode, 24, 80);
    term.t->dupmode = 0;
    term.feed(c.input);
    for (auto [field, value] : c.want) EXPECT_EQ(term.t->*field, value) << c.name;
    EXPECT_EQ(term.sent, "") << c.name;
  }
}

TEST(Modes, InsertAndAutowrapChangeWhatPrintingDoes) {
  Term term(MAC, 24, 80);
  // Insert mode switched on and off inside one write.
  term.feed("abcdef\r\x1b[4hXY\x1b[4lZ");
  EXPECT_EQ(term.row(0), "XYZbcdef");
  term.feed("\x1b[2;1H\x1b[?7l" + std::string(85, 'x') + "END");
  EXPECT_EQ(term.row(1), std::string(79, 'x') + "D");
  EXPECT_EQ(term.row(2), "");
  term.feed("\x1b[?7h\x1b[3;1H" + std::string(81, 'y'));
  EXPECT_EQ(term.row(3), "y");
}

TEST(Modes, OriginModeAddressesInsideTheRegion) {
  Term term(MAC, 24, 80);
  term.feed("\x1b[5;10r\x1b[?6h");
  EXPECT_EQ(term.t->vdestline, 4);  // setting origin mode homes the cursor
  term.feed("\x1b[1;1HX\x1b[99;1HY\x1b[6n");
  EXPECT_EQ(term.row(4), "X");
  EXPECT_EQ(term.row(9), "Y");
  EXPECT_EQ(term.sent, "\x1b[6;2R");  // cursor reports count from the margins, as a VT220's do
  term.feed("\x1b[?6l");
  EXPECT_EQ(term.t->vdestline, 0);
  EXPECT_EQ(term.t->_vorigin, 0);
}

TEST(Modes, SaveAndRestoreCursorMode) {
  Term term(MAC, 24, 80);
  term.feed("\x1b[5;7H\x1b[?1048h\x1b[1;1H\x1b[?1048lX");
  EXPECT_EQ(term.row(4), "      X");
}

// Alternate screen with pages (page 1) and without (only clear and home).
TEST(Modes, AlternateScreenShowsPageOneAndGivesPageZeroBack) {
  struct Case {
    int mode;
    int pages;
    std::string afterSet;   // row 0 right after the set
    std::string afterBack;  // row 0 after writing "alt" and the reset
    int backY, backX;       // cursor after the reset
  } cases[] = {
      {47, 6, "old", "main", 1, 3},                                 // 47 keeps what the alternate page had
      {1047, 6, "old", "main", 1, 3}, {1049, 6, "", "main", 1, 3},  // 1049 clears the alternate page first
      {47, 1, "main", "altn", 0, 3},                                // one page: homes only
      {1049, 1, "", "alt", 0, 3},                                   // one page: clears and homes
  };
  for (const Case& c : cases) {
    Term::Options o;
    o.pages = c.pages;
    Term term(o);
    if (c.pages > 1) {
      term.feed("\x1b[?47hold\x1b[?47l");
      ASSERT_EQ(term.row(0), "");
    }
    term.feed("main\r\n   ");
    std::string m = "\x1b[?" + std::to_string(c.mode);
    term.feed(m + "h");
    SCOPED_TRACE(c.mode);
    SCOPED_TRACE(c.pages);
    EXPECT_EQ(term.row(0), c.afterSet);
    EXPECT_EQ(term.t->vdestline, 0);
    EXPECT_EQ(term.t->vdestcol, 0);
    EXPECT_EQ(term.t->_vcurpage, c.pages > 1 ? 1 : 0);
    term.feed("alt" + m + "l");
    EXPECT_EQ(term.row(0), c.afterBack);
    EXPECT_EQ(term.t->_vcurpage, 0);
    EXPECT_EQ(term.t->vdestline, c.backY);
    EXPECT_EQ(term.t->vdestcol, c.backX);
  }
  // 1047 reset clears the alternate page before leaving it.
  Term term(MAC, 24, 80);
  term.feed("\x1b[?1047hgone\x1b[?1047l\x1b[?47h");
  EXPECT_EQ(term.row(0), "");
}

TEST(Modes, AlternateScreenKeepsScrollbackForTheMainScreen) {
  Term term(MAC, 24, 80);
  term.feed("\x1b[?1049h");
  for (int i = 0; i < 40; i++) term.feed("line\r\n");
  EXPECT_EQ(term.t->_sb->sblastline, 0);
  term.feed("\x1b[?1049l");
  for (int i = 0; i < 30; i++) term.feed("main\r\n");
  EXPECT_GT(term.t->_sb->sblastline, 0);
}

TEST(Modes, ColumnModeClearsTheScreenAndTurnsTheRegionOff) {
  Term::Options o;
  o.emode = VT220;
  o.vextend = false;
  Term term(o);
  term.feed("text\x1b[5;10r\x1b[3;4H\x1b[?3h");
  EXPECT_EQ(term.t->vcols, 132);
  EXPECT_EQ(term.screen(), "");
  EXPECT_EQ(term.t->_vscregion, 0);
  EXPECT_EQ(term.t->_vscregright, 131);
  EXPECT_EQ(term.t->vdestline, 0);
  EXPECT_EQ(term.t->vdestcol, 0);
  term.feed(std::string(100, 'x'));
  EXPECT_EQ(term.row(0), std::string(100, 'x'));
  term.feed("\x1b[?3l");
  EXPECT_EQ(term.t->vcols, 80);
  EXPECT_EQ(term.screen(), "");
}

TEST(Modes, SelectiveEraseSparesProtectedCells) {
  Term term(VT220, 24, 80);
  term.feed("\x1b[1\"qAB\x1b[0\"q\x1b[1mCD\x1b[0m\r\x1b[?K");
  EXPECT_EQ(term.row(0), "AB");
  // Erased cells keep their attribute; protected ones keep everything.
  EXPECT_TRUE(term.cell(2, 0) & CA_BOLD);
  EXPECT_EQ(term.cell(2, 0) & CA_CHARPART, CA_BLANK);
  EXPECT_TRUE(term.cell(0, 0) & CA_SELPROT);
  term.feed("\x1b[2;1HEF\x1b[1\"qG\x1b[0\"q\x1b[?2J");
  EXPECT_EQ(term.screen(), "AB\n  G\n");
  EXPECT_EQ(term.t->erasemode, 0);
  term.feed("\x1b[2J");  // a normal erase takes everything
  EXPECT_EQ(term.screen(), "");
}

TEST(Modes, LeftRightMarginModeOnVT420) {
  Term term(VT420, 24, 80);
  term.feed("\x1b#6wide\x1b[?69h");
  EXPECT_EQ(term.t->vlattr[0] & LA_WIDTH, 0);  // double-width rows become single
  term.feed("\x1b[10;20s");
  EXPECT_EQ(term.t->_vscregleft, 9);
  EXPECT_EQ(term.t->_vscregright, 19);
  term.feed("\x1b[?69l");
  EXPECT_EQ(term.t->_vscregleft, 0);
  EXPECT_EQ(term.t->_vscregright, 79);
}

TEST(Modes, VT52SubModeFromTheAnsiModeReset) {
  Term term(VT100, 24, 80);
  term.feed("\x1b[?2l\x1bY%(X\x1bZ");
  EXPECT_EQ(term.row(5), "        X");
  EXPECT_EQ(term.sent, "\x1b/Z");
  term.feed("\x1b<\x1b[1;1HY");
  EXPECT_EQ(term.row(0), "Y");
}

std::string readFixture(const char* name) {
  std::ifstream f(std::string(KVX_SOURCE_DIR) + "/tests/fixtures/te/" + name, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// vim under TERM=xterm-color: while it runs, cursor and keypad keys are in
// application mode on the alternate page; after it quits, everything is
// back.  Its queries (cursor position twice, secondary attributes) are
// answered; its probe string is not.
TEST(Modes, RecordedProgramsLeaveTheirModesBehindOnlyWhileRunning) {
  std::string running = readFixture("vi_scroll.raw"), quit = readFixture("vi_quit.raw");
  ASSERT_FALSE(running.empty());
  ASSERT_FALSE(quit.empty());
  Term vi(MAC, 24, 80);
  vi.feed(running);
  EXPECT_EQ(vi.t->_appcur, 1);
  EXPECT_EQ(vi.t->_appkey, 1);
  EXPECT_EQ(vi.t->_vcurpage, 1);
  EXPECT_EQ(vi.sent, "\x1b[2;2R\x1b[3;1R\x1b[>24;14;0c");

  Term done(MAC, 24, 80);
  done.feed(quit);
  EXPECT_EQ(done.t->_appcur, 0);
  EXPECT_EQ(done.t->_appkey, 0);
  EXPECT_EQ(done.t->_vcurpage, 0);
  EXPECT_EQ(done.t->vCaret, 1);
  EXPECT_EQ(done.screen(), "shell line one\nshell line two\nback at the shell\n");
  for (const char* name : {"less_quit.raw", "nano_quit.raw"}) {
    Term other(MAC, 24, 80);
    other.feed(readFixture(name));
    EXPECT_EQ(other.t->_appcur, 0) << name;
    EXPECT_EQ(other.t->_vcurpage, 0) << name;
    EXPECT_EQ(other.screen(), "shell line one\nshell line two\nback at the shell\n") << name;
  }
}

}  // namespace
