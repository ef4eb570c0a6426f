// The emulator core: answer-back decoding, colour maps, reset defaults,
// emulation numbers and bindings, and allocation failures.
#include <gtest/gtest.h>

#include <string>

#include "em/ansi.h"
#include "emulation_ids.h"
#include "term.h"

namespace {

TEST(AnswerBack, EscapesDecode) {
  struct Case {
    const char* in;
    std::string out;
  } cases[] = {
      {"plain", "plain"},   {"a\\r\\n\\t\\v\\f\\b", "a\r\n\t\v\f\b"},
      {"\\e[c", "\x1b[c"},  {"\\$\\^\\\"\\'\\-", "$^\"'-"},
      {"x\\\\@y", "x@y"},   {"x\\\\y", "x\\y"},
      {"\\x41\\X4a", "AJ"}, {"\\101\\060", "A0"},
      {"\\x4", ""},        // too few digits: the byte 0 ends the text
      {"a\\x4gb", "a"},    // a non-digit among the digits
      {"a\\477b", "a"},    // above 255
      {"a\\18b", "a"},     // 8 is not an octal digit
      {"\\q\\", "\\q\\"},  // unknown escapes and a trailing backslash stay
  };
  for (const Case& c : cases) {
    Term term;
    ASSERT_GE(sl_wru(term.t, c.in), 0) << c.in;
    EXPECT_EQ(std::string(term.t->wrustr), c.out) << c.in;
  }
  Term term;
  sl_wru(term.t, "kept");
  EXPECT_EQ(sl_wru(term.t, nullptr), -1);
  EXPECT_STREQ(term.t->wrustr, "kept");
}

TEST(Colours, MapsResolveTheColourOfACombination) {
  Term term;
  te* t = term.t;
  // Normal colours white on black (configured 8 on 1).
  EXPECT_EQ(t->userCAT[0].color, 0x07000000u);
  EXPECT_EQ(EmGetDefaultAttr(t), 0x07000000u);
  // A temporary map for reverse leaves the user map alone.
  EmMapColor(t, CA_REV, 0x70, 0);
  EXPECT_EQ(EmGetColorBits(t, CA_REV), CA_REV | 0x70000000u);
  EXPECT_EQ(EmGetDefColorBits(t, CA_REV), CA_REV | 0x07000000u);
  // The current attribute follows a re-map of its own combination.
  EmSetAttr(t, EmGetColorBits(t, CA_BOLD));
  EmMapColor(t, CA_BOLD, 0x1E, 1);
  EXPECT_EQ(t->_vcurattr, CA_BOLD | 0x1E000000u);
  EXPECT_EQ(t->userCAT[1].color, 0x1E000000u);
  t->m_bIgnoreHostColor = 1;
  EmMapColor(t, CA_BOLD, 0x22, 1);
  EXPECT_EQ(t->userCAT[1].color, 0x1E000000u);
  // An unmapped combination takes the normal colours.
  t->inuseCAT[4].color = 0xFF000000u;
  EXPECT_EQ(EmGetColorBits(t, CA_BLINK), CA_BLINK | 0x07000000u);
}

// Colours configured after the terminal was made (as a session's settings
// do) reach the cells of the pages not shown that still hold the old
// default: the alternate screen a program switches to without clearing
// (xterm-color's ESC [ ? 47 h) is blank in the configured colours.  The
// page shown keeps its cells for the caller to redraw.
TEST(Colours, ConfiguredColoursReachCellsInTheOldDefault) {
  Term::Options o;
  o.fg = 11;  // light cyan on light green at first
  o.bg = 10;
  Term term(o);
  term.feed("ab\x1b[31mc");
  for (int i = 0; i < 17; i++) {
    term.t->fgcolor[i] = 8;  // then light grey on black
    term.t->bgcolor[i] = 1;
  }
  initcolors(term.t);
  EXPECT_EQ(term.attrs(0), "0-1:9A00 2-2:9400 3-79:9A00");
  term.feed("\x1b[m\x1b[?47h\x1b[Hx");
  EXPECT_EQ(term.row(0), "x");
  EXPECT_EQ(term.attrs(0), "0-79:0700");
  EXPECT_EQ(term.attrs(23), "0-79:0700");
}

TEST(Colours, StartupMapHasNoColourAndPhysicalBitsByIndex) {
  EXPECT_EQ(gstartupCAT[0].pattr, 0u);
  EXPECT_EQ(gstartupCAT[15].pattr, (uint32_t)(0x10000 | 0x40000 | 0x80000 | 0x200000));
  for (const CAT& c : gstartupCAT) EXPECT_EQ(c.color, 0xFF000000u);
  Term::Options o;
  o.fg = o.bg = 0;  // nothing configured
  Term term(o);
  EXPECT_EQ(EmGetDefaultAttr(term.t), 0xFF000000u);
}

TEST(Reset, TabStopsEveryEightColumnsAndDefaultModes) {
  Term term;
  te* t = term.t;
  t->_tabs[5] = 1;
  t->_tabs[8] = 0;
  t->_vinsmode = 1;
  t->_vscregion = 1;
  EmReset(t, 0);
  for (int c = 0; c < TE_MAXCOLS; c++) EXPECT_EQ(t->_tabs[c], c % 8 == 0 ? 1 : 0) << c;
  EXPECT_EQ(t->_vinsmode, 0);
  EXPECT_EQ(t->_vscregion, 0);
  EXPECT_EQ(t->_AMon, t->wrap);
  EXPECT_EQ(t->_protrev, CA_REV);
  EXPECT_EQ(t->revdim, (int)CA_REV);
  EXPECT_EQ(t->_vemode, 0xA00);  // the member stays without a name
}

TEST(Reset, EmulationForcesItsRowsUnlessTheWindowDecides) {
  Term::Options o;
  o.rows = 30;
  o.vextend = false;
  Term term(o);  // VT220-class members force 24 rows
  EXPECT_EQ(term.t->vlines, 24);
  o.vextend = true;
  Term kept(o);
  EXPECT_EQ(kept.t->vlines, 30);
}

TEST(Emulations, NumbersNamesAndBindings) {
  EXPECT_EQ(EmSettingToEmulation(KVX_EM_VT100), 5);
  EXPECT_EQ(EmSettingToEmulation(KVX_EM_ADM1), 17);
  EXPECT_EQ(EmSettingToEmulation(KVX_EM_XTERM), 35);
  EXPECT_EQ(EmSettingToEmulation(KVX_EM_IBM3270_MODEL3), -1);
  EXPECT_EQ(EmSettingToEmulation(kKvxEmLast + 1), -1);
  EXPECT_STREQ(EmName(35), "MAC");
  EXPECT_STREQ(EmName(9), "SCOANSI");
  EXPECT_EQ(EmName(26), nullptr);
  EXPECT_EQ(EmNumberOfName("vt220"), 3);
  const int ansi[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 31, 32, 35};
  for (int n : ansi) EXPECT_EQ(EmFindProcs(n), &ansi_procs) << n;
  EXPECT_EQ(EmFindProcs(24), nullptr);

  te* t = TEInit(nullptr, nullptr);
  t->emode = 26;
  EXPECT_FALSE(TeNew(t));
  EXPECT_EQ(t->pfnEmProcs, nullptr);
  TEDestroy(t);
}

TEST(Emulations, MembersTakeTheirSubModeAndFlags) {
  struct Case {
    int emode;
    int vemode, flags;
    const char* telname;
  } cases[] = {{1, 0x001, 0x436, "vt320"},       {3, 0x004, 0x436, "vt220"},  {5, 0x010, 0x412, "vt100"},
               {6, 0x020, 0x412, "vt52"},        {7, 0x040, 0x402, "ansi"},   {9, 0x080, 0x445, "ansi"},
               {8, 0x100, 0x445, "AT386"},       {31, 0x200, 0xC36, "vt420"}, {32, 0x400, 0x436, "linux"},
               {35, 0xA00, 0xC36, "xterm-color"}};
  for (const Case& c : cases) {
    Term term(c.emode, 24, 80);
    EXPECT_EQ(term.t->_vemode, c.vemode) << c.emode;
    EXPECT_EQ(term.t->teflags, c.flags) << c.emode;
    EXPECT_STREQ(term.t->_telname, c.telname) << c.emode;
  }
  Term term;
  EXPECT_EQ(TEeminit(term.t, "nonesuch"), -1);
  EXPECT_EQ(term.t->_vemode, 0);
}

TEST(Emulations, SelectionRefusesNumbersOutOfRange) {
  Term term;
  EXPECT_EQ(sl_emulate(term.t, 22), 0);  // VT102 runs as VT100
  EXPECT_EQ(term.t->emode, 5);
  EXPECT_EQ(term.t->_vemode, 0x010);
  EXPECT_EQ(sl_emulate(term.t, 27), -1);
  EXPECT_EQ(term.errors.back(), EMERR_EMULATION);
  EXPECT_EQ(term.t->emode, 5);
  EXPECT_EQ(sl_charset(term.t, 14), -1);
  EXPECT_EQ(term.errors.back(), EMERR_CHARSET);
}

TEST(Emulations, AClosedTerminalIgnoresInputUntilLoadedAgain) {
  Term term;
  te* t = term.t;
  EmClose(t);
  term.feed("ignored\x1b[5;5H");
  EXPECT_EQ(get_vscreen(t, 0, 0), 0u);
  t->emode = 3;
  ASSERT_TRUE(TeNew(t));
  term.feed("back");
  EXPECT_EQ(term.row(t->vdestline), "back");
}

TEST(Emulations, FailedScreenBlockLeavesNoSubMode) {
  te* t = TEInit(nullptr, nullptr);
  std::vector<int> errors;
  t->app = &errors;
  t->hooks.error = [](te* t, int code) { ((std::vector<int>*)t->app)->push_back(code); };
  t->emode = 3;
  EmAllocFailAt(1);
  TeNew(t);
  EmAllocFailAt(0);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors[0], EMERR_SCREEN);
  EXPECT_EQ(t->_vemode, 0);
  TEDestroy(t);
}

}  // namespace
