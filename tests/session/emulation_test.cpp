// Emulation selection and the sizing of the character-mode screen and of
// the drawing surface.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "emulation_ids.h"
#include "settings_fixture.h"
#include "tcs.h"

namespace {

using Emulation = SessionFixture;

// Every setting with the engine number it must select.
TEST_F(Emulation, SettingSelectsItsEngineNumberOrStaysPut) {
  const int engine[kKvxEmLast + 1] = {17, 7,  8,  18, 12, 9,  21, 16, 15, 13, 5, 32, 3,  4,  1, 2,
                                      31, 14, 10, 11, 19, 20, 0,  0,  0,  0,  0, 0,  34, 33, 35, 36};
  for (int setting = kKvxEmFirst; setting <= kKvxEmLast; setting++) {
    SCOPED_TRACE(setting);
    app_set_emulation(&app, KVX_EM_VT320);  // VT320 first
    ASSERT_EQ(t()->teloaded, 1);
    TraceCapture trace(TRACE_FAIL | TRACE_5250);
    app_set_emulation(&app, setting);
    std::vector<std::string> lines = trace.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "app_set_emulation: Setting emulation to " + std::to_string(setting));
    bool available = engine[setting] && EmFindProcs(engine[setting]);
    EXPECT_EQ(app.emlib, EM_UNIX);
    if (available) {
      EXPECT_EQ(t()->emode, engine[setting]);
      EXPECT_EQ(t()->teloaded, engine[setting]);
      EXPECT_EQ(lines.size(), 1u);
    } else {
      // One error line, and the terminal keeps running VT320.
      EXPECT_EQ(lines.size(), 2u);
      EXPECT_EQ(t()->teloaded, 1);
      EXPECT_EQ(t()->emode, 1);
    }
  }
  // The two numbers the engine names: VT100 and ADM1.
  EXPECT_EQ(EmSettingToEmulation(KVX_EM_VT100), 5);
  EXPECT_EQ(EmSettingToEmulation(KVX_EM_ADM1), 17);
  app_set_emulation(&app, KVX_EM_VT100);
  EXPECT_EQ(t()->emode, 5);
}

TEST_F(Emulation, UnavailableEmulationKeepsTheTerminalWorking) {
  app_set_emulation(&app, KVX_EM_XTERM);  // MAC
  ASSERT_EQ(t()->teloaded, 35);
  TraceCapture trace(TRACE_FAIL);
  app_set_emulation(&app, 40);  // no such setting
  ASSERT_EQ(trace.lines().size(), 1u);
  EXPECT_NE(trace.lines()[0].find("MAC"), std::string::npos) << trace.lines()[0];
  app_set_emulation(&app, -1);
  app_set_emulation(&app, kKvxEmLast + 1);
  EXPECT_EQ(trace.lines().size(), 3u);
  EXPECT_EQ(t()->teloaded, 35);
  TEemwrite(t(), "\rok\x1b[1mB", 8);
  EXPECT_EQ(get_vscreen(t(), 0, t()->vdestline) & CA_CHAR, (CHATTR)'o');
  EXPECT_EQ(get_vscreen(t(), 2, t()->vdestline) & (CA_CHAR | CA_BOLD), (CHATTR)'B' | CA_BOLD);
}

TEST_F(Emulation, BlockModeSettingsAreRefusedUntilTheirEmulatorsExist) {
  for (int setting : {KVX_EM_IBM5250, KVX_EM_IBM5250_3477, KVX_EM_IBM3270_MODEL2, KVX_EM_IBM3270_MODEL5}) {
    TraceCapture trace(TRACE_FAIL);
    app_set_emulation(&app, setting);
    EXPECT_EQ(app.emlib, EM_UNIX);
    EXPECT_EQ(trace.lines().size(), 1u) << setting;
  }
}

TEST_F(Emulation, LeavingBlockModeMakesTheTerminalActiveAndResizes) {
  app.emlib = EM_TN3270;
  TraceCapture trace(TRACE_SESSION);
  app_set_emulation(&app, KVX_EM_ANSI);
  EXPECT_EQ(app.emlib, EM_UNIX);
  EXPECT_EQ(t()->teloaded, 7);
  ASSERT_EQ(trace.lines().size(), 1u);
  EXPECT_EQ(trace.lines()[0], "app_onresize called for w=800, h=600, force=1");
}

TEST_F(Emulation, EngineTakesNumbersAndRefusesOthers) {
  std::vector<int> errors;
  static std::vector<int>* sink;
  sink = &errors;
  t()->hooks.error = [](te*, int code) { sink->push_back(code); };
  EXPECT_EQ(sl_emulate(t(), 23), 0);  // 23 is taken as IBM 3101
  EXPECT_EQ(t()->emode, 18);
  EXPECT_EQ(sl_emulate(t(), 22), 0);
  EXPECT_EQ(t()->emode, 5);
  for (int n : {27, 37, -1}) {  // 37: one past the highest engine number
    EXPECT_EQ(sl_emulate(t(), n), -1) << n;
    EXPECT_EQ(t()->emode, 5);
  }
  EXPECT_EQ(errors, std::vector<int>(3, 2088));
  errors.clear();
  EXPECT_EQ(sl_charset(t(), 14), -1);
  EXPECT_EQ(sl_charset(t(), -1), -1);
  EXPECT_EQ(errors, std::vector<int>(2, 2087));
  EXPECT_EQ(sl_charset(t(), 13), 0);
  EXPECT_EQ(t()->defcset, 13);
}

using ScreenSize = SessionFixture;

TEST_F(ScreenSize, SameSizeOnlyLeavesScrollback) {
  ASSERT_EQ(t()->vlines, 24);
  for (int i = 0; i < 40; i++) TEemwrite(t(), "line\r\n", 6);
  sbdisplay(t(), 5);
  ASSERT_EQ(t()->_sb->sbcurline, 5);
  vscreen_invalidate(t());
  t()->jumpscroll = 7;
  app_set_rowscols(&app, 24, 80);
  EXPECT_EQ(t()->_sb->sbcurline, 0);
  EXPECT_EQ(std::make_pair(t()->vlines, t()->vcols), std::make_pair(24, 80));
  EXPECT_EQ(t()->jumpscroll, 7);
}

TEST_F(ScreenSize, NewSizeTakesTheDefaultAttributeForNewCells) {
  TEemwrite(t(), "\x1b[7;31mX", 8);  // reverse red is current
  CHATTR current = t()->_vcurattr;
  t()->jumplines = 3;
  app_set_rowscols(&app, 30, 100);
  EXPECT_EQ(std::make_pair(t()->vlines, t()->vcols), std::make_pair(30, 100));
  EXPECT_EQ(t()->jumpscroll, 29);
  EXPECT_EQ(t()->jumplines, 0);
  EXPECT_EQ(t()->_vcurattr, current);
  CHATTR fresh = get_vscreen(t(), 99, 29);
  EXPECT_EQ(fresh & CA_CHARPART, CA_BLANK);
  EXPECT_EQ(fresh & CA_REV, 0u);
}

TEST_F(ScreenSize, RowsColsTellTheHostWhatTheTerminalHas) {
  app._rows = 30;
  app._cols = 100;
  app_set_rows_cols(&app);
  ASSERT_EQ(calls.remoteRows.size(), 1u);
  EXPECT_EQ(calls.remoteRows[0], std::make_pair(30, 100));
  app._rows = 400;
  app._cols = 300;
  app_set_rows_cols(&app);
  EXPECT_EQ(calls.remoteRows.back(), std::make_pair(250, 132));
  // Not in character mode: nothing.
  app.emlib = EM_TN5250;
  app._rows = 24;
  app_set_rows_cols(&app);
  EXPECT_EQ(t()->vlines, 250);
  EXPECT_EQ(calls.remoteRows.size(), 2u);
}

TEST_F(ScreenSize, SurfaceHasAMinimumAndIgnoresRepeats) {
  TraceCapture trace(TRACE_SESSION);
  app_onresize(&app, 50, -5, 0);
  EXPECT_EQ(std::make_pair(app.winw, app.winh), std::make_pair(100, 100));
  EXPECT_EQ(std::make_pair(app_pgl(&app)->width, app_pgl(&app)->height), std::make_pair(100, 100));
  ASSERT_EQ(trace.lines().size(), 1u);
  EXPECT_EQ(trace.lines()[0], "app_onresize called for w=50, h=1, force=0");
  // Without extended sizing the terminal keeps its size.
  EXPECT_EQ(std::make_pair(t()->vlines, t()->vcols), std::make_pair(24, 80));
  EXPECT_EQ(t()->vscaling, 1);
  EXPECT_EQ(app_pgl(&app)->xChar, APP_STD_CHAR_WIDTH);
  EXPECT_TRUE(calls.remoteRows.empty());
}

TEST_F(ScreenSize, ExtendedSizingFitsTheScreenToTheSurface) {
  t()->vextend = 1;
  t()->nFixedFontSize = 10;
  app_onresize(&app, 800, 600, 1);
  EXPECT_EQ(std::make_pair(t()->vlines, t()->vcols), std::make_pair(40, 80));
  EXPECT_EQ(std::make_pair(app_pgl(&app)->xChar, app_pgl(&app)->yChar), std::make_pair(10, 15));
  EXPECT_EQ(t()->vscaling, 0);
  ASSERT_EQ(calls.remoteRows.size(), 1u);
  EXPECT_EQ(calls.remoteRows[0], std::make_pair(40, 80));
  app_onresize(&app, 800, 600, 1);  // same layout: the host hears nothing new
  EXPECT_EQ(calls.remoteRows.size(), 1u);
  t()->nFixedFontSize = 20;
  app_onresize(&app, 800, 600, 1);
  EXPECT_EQ(std::make_pair(t()->vlines, t()->vcols), std::make_pair(20, 40));
  EXPECT_EQ(calls.remoteRows.back(), std::make_pair(20, 40));
}

}  // namespace

namespace {

// The values a new terminal record starts with, before any settings apply.
TEST(TerminalRecord, InitialValues) {
  te* t = TEInit(nullptr, nullptr);
  ASSERT_NE(t, nullptr);
  const std::pair<const char*, std::pair<long long, long long>> values[] = {
      {"scrollback setting", {t->vscrollback, 1000}},
      {"scaling", {t->vscaling, 1}},
      {"extended sizing", {t->vextend, 0}},
      {"answer-back trigger", {t->wruchar, 5}},
      {"pages", {t->vpages, 6}},
      {"parity masking", {t->maskpar, 0}},
      {"revdim", {t->revdim, 1}},
      {"turnaround character", {t->turnchar, 13}},
      {"jump scroll", {t->jumpscroll, 19}},
      {"protection", {t->protection, 1}},
      {"XON", {t->xonchar, 17}},
      {"XOFF", {t->xoffchar, 19}},
      {"foreground 0", {t->fgcolor[0], 15}},
      {"background 0", {t->bgcolor[0], 2}},
      {"baud", {t->aux_baud, 9600}},
      {"parity", {t->aux_parity, 0}},
      {"data bits", {t->aux_wdlen, 8}},
      {"stop bits", {t->aux_stopbits, 1}},
      {"emulation", {t->emode, 7}},
      {"national set", {t->defcset, 0}},
      {"duplex", {t->dupmode, 0}},
      {"wrap", {t->wrap, 1}},
      {"backspace deletes", {t->bsdel, 1}},
      {"blink attribute", {(long long)t->BlinkAttr, 0x400000}},
      {"cursor shape", {t->vcurshape, 3}},
      {"scrollback ring", {t->_sb ? t->_sb->sblinemax : -1, 10000}},
      {"scrollback lines", {t->_sb ? t->_sb->sbfirstline : 0, -1}},
  };
  for (const auto& [what, v] : values) EXPECT_EQ(v.first, v.second) << what;
  for (int i = 1; i < 17; i++)
    EXPECT_EQ(std::make_pair(t->fgcolor[i], t->bgcolor[i]), std::make_pair(0, 0)) << i;
  EXPECT_STREQ(t->prfilename, "pr#.fil");
  EXPECT_STREQ(t->capfilename, "capt#.fil");
  EXPECT_EQ(std::vector<int>(t->prmargins, t->prmargins + 4), (std::vector<int>{5, 2, 5, 2}));
  for (const PRDATA& pr : t->pr_data) EXPECT_EQ(pr.prmode, 0);

  // Code page "1250" and the DEC tables from no file: each the built-in
  // table of its kind; no Unicode table yet.
  const size_t in = TCS_CPTOTCS_SIZE * sizeof(TCS);
  ASSERT_TRUE(t->EmCPtoTCS && t->KbdCPtoTCS && t->EmTCStoCP && t->VidTCStoCP);
  EXPECT_EQ(memcmp(t->EmCPtoTCS, TCSDefaultCPtoTCS.data(), in), 0);
  EXPECT_EQ(memcmp(t->KbdCPtoTCS, TCSDefaultCPtoTCS.data(), in), 0);
  EXPECT_EQ(memcmp(t->EmTCStoCP, TCSDefaultTCStoCP.data(), TCS_TCSTOCP_SIZE), 0);
  EXPECT_EQ(memcmp(t->VidTCStoCP, TCSDefaultTCStoCP.data(), TCS_TCSTOCP_SIZE), 0);
  ASSERT_TRUE(t->pVT200DSG && t->pVT200DMN && t->pVT100SG);
  EXPECT_EQ(memcmp(t->pVT200DSG, TCSDefaultVT200DSG.data(), in), 0);
  EXPECT_EQ(memcmp(t->pVT200DMN, TCSDefaultVT200DMN.data(), in), 0);
  EXPECT_EQ(memcmp(t->pVT100SG, TCSDefaultVT100SG.data(), in), 0);
  EXPECT_EQ(t->Unicode2TCS, nullptr);
  EXPECT_EQ(t->TCS2Unicode, nullptr);
  TEDestroy(t);

  // The session's terminal: ANSI loaded, colours 10 on 11, UTF-8 host data,
  // a blinking block cursor and line drawing.
  t = TESimpleInit(nullptr, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->teloaded, 7);
  EXPECT_EQ(std::make_pair(t->fgcolor[0], t->bgcolor[0]), std::make_pair(10, 11));
  EXPECT_EQ(t->MBMode, 1);
  EXPECT_EQ(t->tCaret, 1);
  EXPECT_EQ(t->linedraw, 1);
  EXPECT_EQ(std::make_pair(t->vlines, t->vcols), std::make_pair(24, 80));
  TEDestroy(t);

  // A record the caller owns is reset, not allocated.
  te own;
  std::memset(&own, 0x5A, sizeof own);
  ASSERT_EQ(TEInit(&own, nullptr), &own);
  EXPECT_EQ(own.vpages, 6);
  EXPECT_EQ(own.Unicode2TCS, nullptr);
  TEDestroy(&own);
}

// Each code-page setter replaces one table of the record; the DEC tables
// need both names, and only an output table from a file brings the Unicode
// tables, once.
TEST(TerminalRecord, CodePageSetters) {
  const std::string file = std::string(KVX_SOURCE_DIR) + "/codepage.dat";
  te* t = TEInit(nullptr, nullptr);
  ASSERT_NE(t, nullptr);
  const size_t in = TCS_CPTOTCS_SIZE * sizeof(TCS);

  SetEmInCP(t, file.c_str(), "ISO 8859-1 Latin 1");
  SetKbdCP(t, file.c_str(), "ISO 8859-1 Latin 1");
  SetVidCP(t, file.c_str(), "ISO 8859-1 Latin 1");
  EXPECT_EQ(t->EmCPtoTCS[0xE9], 0x282);  // e acute is PC byte 0x82
  EXPECT_EQ(t->KbdCPtoTCS[0xE9], 0x282);
  EXPECT_EQ(t->VidTCStoCP[0x82], 0xE9);
  SetEmInCP(t, file.c_str(), "no such code page");
  EXPECT_EQ(memcmp(t->EmCPtoTCS, TCSDefaultCPtoTCS.data(), in), 0);

  SetEmOutCP(t, "", "ISO 8859-1 Latin 1");  // no file: default table, no Unicode
  EXPECT_EQ(memcmp(t->EmTCStoCP, TCSDefaultTCStoCP.data(), TCS_TCSTOCP_SIZE), 0);
  EXPECT_EQ(t->Unicode2TCS, nullptr);
  SetEmOutCP(t, file.c_str(), "ISO 8859-1 Latin 1");
  EXPECT_EQ(t->EmTCStoCP[0x82], 0xE9);
  ASSERT_NE(t->Unicode2TCS, nullptr);
  ASSERT_NE(t->TCS2Unicode, nullptr);
  EXPECT_EQ(t->Unicode2TCS[0xE9], 0x282);
  EXPECT_EQ(t->TCS2Unicode[0x82], 0xE9);
  // The file has no double-byte tables: none is made.
  for (unsigned short* table : {t->Unicode2GB2312, t->GB23122Unicode, t->Unicode2Big5, t->Big52Unicode,
                                t->Unicode2SJIS, t->SJIS2Unicode})
    EXPECT_EQ(table, nullptr);
  unsigned short* unicode = t->Unicode2TCS;
  SetEmOutCP(t, file.c_str(), "1252");
  EXPECT_EQ(t->Unicode2TCS, unicode) << "the Unicode table is loaded once";
  EXPECT_EQ(t->EmTCStoCP[t->Unicode2TCS[0x20AC] - TCS_FIRST], 0x80);  // euro sign in 1252

  struct Dec {
    TCS*& table;
    void (*set)(te*, const char*, const char*);
  };
  const Dec decs[] = {{t->pVT200DSG, SetDECSGCP}, {t->pVT200DMN, SetDECMNCP}, {t->pVT100SG, SetVT100SGCP}};
  for (const Dec& d : decs) {
    d.set(t, file.c_str(), TCS_VT100SG_NAME);
    ASSERT_NE(d.table, nullptr);
    EXPECT_EQ(memcmp(d.table, TCSDefaultVT100SG.data(), in), 0);
    d.set(t, file.c_str(), nullptr);
    EXPECT_EQ(d.table, nullptr);
    d.set(t, "", TCS_VT200DMN_NAME);  // a name without a file: the kind's default
    ASSERT_NE(d.table, nullptr);
    d.set(t, nullptr, TCS_VT200DMN_NAME);
    EXPECT_EQ(d.table, nullptr);
  }
  TEDestroy(t);
}

// A file with a double-byte table brings that table, and only that one.
TEST(TerminalRecord, DoubleByteTablesComeOnlyFromTheFile) {
  const std::string file = ::testing::TempDir() + "kvx_dbcs_codepage.dat";
  {
    std::ofstream out(file);
    out << "[Unicode2TCS.uni]\n65=577\n[Unicode To Big5.uni]\n20013=42052\n";
  }
  te* t = TEInit(nullptr, nullptr);
  ASSERT_NE(t, nullptr);
  SetEmOutCP(t, file.c_str(), "none");
  ASSERT_NE(t->Unicode2Big5, nullptr);
  EXPECT_EQ(t->Unicode2Big5[20013], 42052);
  for (unsigned short* table : {t->Unicode2GB2312, t->GB23122Unicode, t->Big52Unicode, t->Unicode2SJIS,
                                t->SJIS2Unicode})
    EXPECT_EQ(table, nullptr);
  TEDestroy(t);
  std::remove(file.c_str());
}

}  // namespace
