// Applying a settings dictionary to the session: colour text and colour
// maps, printers, code pages, the safe and unsafe values and the
// dictionary's ownership.
#include <gtest/gtest.h>

#include <cstring>

#include "emulation_ids.h"
#include "settings_fixture.h"
#include "tcs.h"

namespace {

struct ColorCase {
  const char* text;
  COLORREF expected;
};

TEST(ColorText, Table) {
  const ColorCase cases[] = {
      {"FF8000", 0x0080FF},
      {"00FF8000", 0x0080FF},
      {"0x00FF8000", 0x0080FF},
      {"#FF8000", 0x00F80F},
      {"ffffff", 0xFFFFFF},
      {"zz8000", 0x008000},
      {"0xFF8000", 0x80FF00},
      {"FF", 0x0000FF},
      {"", 0},
      {"1", 0x10},
      {"0x", 0},
      {"0x00FF80", 0xFF0000},
  };
  for (const auto& c : cases) EXPECT_EQ(app_colorref_from_string(c.text), c.expected) << c.text;
  EXPECT_EQ(app_colorref_from_string(nullptr), 0u);
}

using Colors = SessionFixture;

TEST_F(Colors, RGBMapKeysFillTheTerminalMap) {
  std::unique_ptr<LumDict> none(Dict({{"colorfg0", "8"}}));
  EXPECT_FALSE(app_set_rgb_colors(&app, none.get()));
  std::unique_ptr<LumDict> d(
      Dict({{"RGBMap3", "0x00FF8000"}, {"rgbmap15", "123456"}, {"RGBMap18", "FFFFFF"}}));
  COLORREF before[16];
  std::memcpy(before, t()->RGBMap, sizeof before);
  EXPECT_TRUE(app_set_rgb_colors(&app, d.get()));
  for (int i = 0; i < 16; i++) {
    COLORREF expected = i == 3 ? 0x0080FF : i == 15 ? 0x563412 : before[i];
    EXPECT_EQ(t()->RGBMap[i], expected) << i;
  }
}

// Colour byte of every attribute combination in the user's map.
static std::vector<uint32_t> CombinationColors(te* t) {
  std::vector<uint32_t> out;
  for (int i = 0; i < 16; i++) out.push_back(t->userCAT[i].color);
  return out;
}

TEST_F(Colors, PairMapsEveryCombinationAndBoldTakesItsOwn) {
  std::unique_ptr<LumDict> d(Dict({{"colorfg4", "15"}, {"CursorColor", "5"}}));
  app_set_color(&app, 8, 2, d.get(), false);
  const uint32_t pair = (uint32_t)((2 - 1) << 4 | (8 - 1)) << 24;
  const uint32_t bold = (uint32_t)((2 - 1) << 4 | (15 - 1)) << 24;
  // Bits 20-23 of the attribute give the combination (bold 1, underline 2,
  // blink 4, reverse 8); each of the 16 is one of the configured pairs.
  const uint32_t attrs[17] = {0,        0x800000, 0x400000, 0x200000, 0x100000, 0x100000,
                              0xC00000, 0xA00000, 0x900000, 0x600000, 0x500000, 0x300000,
                              0xE00000, 0xD00000, 0xB00000, 0x700000, 0xF00000};
  for (uint32_t a : attrs) {
    int combo = (int)(a >> 20);
    EXPECT_EQ(t()->userCAT[combo].color, combo == 1 ? bold : pair) << std::hex << a;
    EXPECT_EQ(t()->inuseCAT[combo].color, t()->userCAT[combo].color) << std::hex << a;
  }
  for (int i = 0; i < 17; i++)
    EXPECT_EQ(std::make_pair(t()->fgcolor[i], t()->bgcolor[i]), std::make_pair(8, 2));
  EXPECT_EQ(app._cursorColor, t()->RGBMap[4]);
  EXPECT_EQ(app_pgl(&app)->cursorColor, t()->RGBMap[4]);

  // Either colour unset: the emulator's defaults everywhere, bold included.
  std::unique_ptr<LumDict> bare(Dict({{"colorfg4", "15"}}));
  app_set_color(&app, 8, 0, bare.get(), false);
  EXPECT_EQ(CombinationColors(t()), std::vector<uint32_t>(16, 0xFF000000u));
  // Indexes beyond the 16-colour map count as unset; bold still has both
  // of its colours.
  app_set_color(&app, 17, 2, bare.get(), false);
  std::vector<uint32_t> expected(16, 0xFF000000u);
  expected[1] = bold;
  EXPECT_EQ(CombinationColors(t()), expected);
}

TEST_F(Colors, RedrawOnlyWhenAskedAndSomethingChanged) {
  std::unique_ptr<LumDict> d(Dict({}));
  auto marked = [&] { return t()->vscreen_region.top == 0 && t()->vscreen_region.bottom == t()->vlines - 1; };
  vscreen_invalidate(t());
  app_set_color(&app, 3, 5, d.get(), false);
  EXPECT_FALSE(marked());
  app_set_color(&app, 4, 5, d.get(), true);
  EXPECT_TRUE(marked());
  vscreen_invalidate(t());
  app_set_color(&app, 4, 5, d.get(), true);  // nothing changed
  EXPECT_FALSE(marked());
  std::unique_ptr<LumDict> rgb(Dict({{"RGBMap0", "000000"}}));
  app_set_color(&app, 4, 5, rgb.get(), true);  // a colour-map key always counts
  EXPECT_TRUE(marked());
}

using Printers = SessionFixture;

TEST_F(Printers, SuffixedKeysConfigureTheirOwnPrinter) {
  t()->pr_data[1].prflags = 0x5;
  std::unique_ptr<LumDict> d(Dict({{"prnopt2", "1"},
                                   {"printcols2", "132"},
                                   {"PrintStop2", "2"},
                                   {"prnopt", "1"},
                                   {"IgnorePrintStop", "1"},
                                   {"printcols", "100"},
                                   {"printlines", "50"},
                                   {"printpause", "3"}}));
  for (int p = 1; p <= 6; p++) app_set_printer(&app, d.get(), p);
  const PRDATA& p1 = t()->pr_data[0];
  EXPECT_EQ(p1.prmode, 4);
  EXPECT_EQ(p1.m_bIgnorePrintStop, 1);
  EXPECT_EQ(std::make_pair(p1.m_nColsPage, p1.m_nLinesPage), std::make_pair(100, 50));
  EXPECT_EQ(p1.prpause, 3);
  EXPECT_EQ(p1.m_nPrintStopFlags, 1);
  const PRDATA& p2 = t()->pr_data[1];
  EXPECT_EQ(p2.prmode, 4);
  EXPECT_EQ(p2.m_bIgnorePrintStop, 0);
  EXPECT_EQ(std::make_pair(p2.m_nColsPage, p2.m_nLinesPage), std::make_pair(80, 65));
  EXPECT_EQ(p2.m_nPrintStopFlags, 3);
  for (int p = 3; p <= 6; p++) EXPECT_EQ(t()->pr_data[p - 1].prmode, 4) << p;
}

struct PrnOptCase {
  const char* prnopt;
  int prmode;
  int prsettype;
};

TEST_F(Printers, OptionTable) {
  // Option 2 (a file on the server) is refused: it prints as 0 and 1 do.
  const PrnOptCase cases[] = {{"0", 4, 0}, {"1", 4, 0},      {"2", 4, 0},
                              {"3", 3, 0}, {"-1", 3, 0xFF0}, {"18", 3, 0x10}};
  for (const auto& c : cases) {
    std::unique_ptr<LumDict> d(Dict({{"prnopt3", c.prnopt}, {"prnftype3", "0"}}));
    app_set_printer(&app, d.get(), 3);
    EXPECT_EQ(t()->pr_data[2].prmode, c.prmode) << c.prnopt;
    EXPECT_EQ(t()->pr_data[2].prsettype, c.prsettype) << c.prnopt;
  }
}

// A browser names no file on the server: the printer's output file is
// refused whatever the path, with a log line, and the printer prints into
// the session's jobs.
TEST_F(Printers, OutputFilesOnTheServerAreRefusedForAnyPath) {
  const std::string paths[] = {"/var/spool/p2.txt", "out.txt", "../../etc/passwd", "/tmp/print",
                               std::string(sizeof(PRDATA::prfile) - 1, 'f')};
  for (const std::string& path : paths) {
    std::unique_ptr<LumDict> d(Dict({{"prnopt2", "2"}, {"prnfllst2", path.c_str()}, {"prnftype2", "1"}}));
    t()->pr_data[1].prflags = 0;
    TraceCapture trace(TRACE_FAIL);
    app_set_printer(&app, d.get(), 2);
    const PRDATA& p2 = t()->pr_data[1];
    EXPECT_STREQ(p2.prfile, "") << path;
    EXPECT_EQ(p2.prmode, 4) << path;
    EXPECT_EQ(p2.prflags, 0) << path;
    ASSERT_EQ(trace.lines().size(), 1u) << path;
    EXPECT_NE(trace.lines()[0].find("refused"), std::string::npos) << trace.lines()[0];
  }
}

// Device paths that do not fit are refused rather than cut to another name.
TEST_F(Printers, OverlongDevicePathsAreRefused) {
  std::unique_ptr<LumDict> ok(Dict({{"aux_devport", "/dev/ttyUSB0"}}));
  app_set_te_safe_values(&app, ok.get());
  EXPECT_STREQ(t()->aux_devport, "/dev/ttyUSB0");
  std::string device = "/dev/" + std::string(TE_AUXDEVMAX, 'x');
  std::unique_ptr<LumDict> bad(Dict({{"aux_devport", device.c_str()}}));
  TraceCapture trace(TRACE_FAIL);
  app_set_te_safe_values(&app, bad.get());
  EXPECT_STREQ(t()->aux_devport, "");
  EXPECT_EQ(trace.lines().size(), 1u);
}

using CodePages = SessionFixture;

TEST_F(CodePages, HostCodePageLoadsOnceAndDECTablesEveryTime) {
  std::unique_ptr<LumDict> d(Dict({{"cptrxin", "ISO 8859-1 Latin 1"}}));
  app_load_codepages(&app, d.get());
  EXPECT_EQ(app._currentCodepage, "ISO 8859-1 Latin 1");
  ASSERT_NE(t()->EmCPtoTCS, nullptr);
  EXPECT_EQ(t()->EmCPtoTCS[0xE9], 0x282);  // e acute: PC byte 0x82
  ASSERT_NE(t()->EmTCStoCP, nullptr);
  EXPECT_EQ(t()->EmTCStoCP[0x82], 0xE9);
  ASSERT_NE(t()->Unicode2TCS, nullptr);
  ASSERT_NE(t()->TCS2Unicode, nullptr);
  EXPECT_EQ(t()->TCS2Unicode[0x82], 0xE9);
  ASSERT_NE(t()->Alt1CPtoTCS, nullptr);
  ASSERT_NE(t()->Alt2CPtoTCS, nullptr);
  EXPECT_EQ(t()->Alt2CPtoTCS[0xE9], 0x282);
  ASSERT_NE(t()->pVT200DSG, nullptr);
  EXPECT_EQ(std::memcmp(t()->pVT200DSG, TCSDefaultVT200DSG.data(), TCS_CPTOTCS_SIZE * sizeof(TCS)), 0);

  short* in = t()->EmCPtoTCS;
  app_load_codepages(&app, d.get());
  EXPECT_EQ(t()->EmCPtoTCS, in) << "the same host code page is not loaded again";

  std::unique_ptr<LumDict> other(Dict({{"cptrxin", "1252"}, {"cpdecsg", "VT100 Special Graphics Mapping"}}));
  app_load_codepages(&app, other.get());
  EXPECT_EQ(app._currentCodepage, "1252");
  EXPECT_NE(t()->EmCPtoTCS, in);
  EXPECT_EQ(t()->TCS2Unicode[t()->EmCPtoTCS[0x80] - 0x200], 0x20AC) << "1252 has the euro sign at 0x80";
  EXPECT_EQ(std::memcmp(t()->pVT200DSG, TCSDefaultVT100SG.data(), TCS_CPTOTCS_SIZE * sizeof(TCS)), 0);
}

using Apply = SessionFixture;

TEST_F(Apply, SafeValuesReachTheTerminal) {
  LumDict* d = Dict({{"lines", "30"},
                     {"col", "100"},
                     {"borderDetect", "1"},
                     {"wruchar", "5"},
                     {"wru", "id\\r"},
                     {"maskpar", "1"},
                     {"cleartosb", "1"},
                     {"vt4207mode", "1"},
                     {"cursor", "2"},
                     {"mode", "1"},
                     {"charset", "3"},
                     {"emulate", std::to_string(KVX_EM_VT100).c_str()},
                     {"MBMode", "1"},
                     {"bsdel", "0"},
                     {"colorfg0", "8"},
                     {"colorbg0", "2"},
                     {"aux_devport", "/dev/ttyS1"},
                     {"aux_baud", "19200"},
                     {"aux_wordlen", "7"},
                     {"aux_dsrdtr", "1"},
                     {"aux_xon", "1"},
                     {"aux_rtscts", "1"},
                     {"aux_port", "2"},
                     {"aux_parity", "1"},
                     {"aux_stopbits", "2"},
                     {"clearEmulator", "1"},
                     {"commtype", "7"}});
  app.autoReconnect = true;
  TraceCapture trace(TRACE_PRINT);
  app_set_te_safe_values(&app, d);
  std::vector<std::string> lines = trace.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Warning (app_set_safe_before) unimplemented in Kavrix!");
  EXPECT_EQ(lines[1], "Warning (app_set_safe_after) unimplemented in Kavrix!");

  EXPECT_EQ(std::make_pair(app._rows, app._cols), std::make_pair(30, 100));
  EXPECT_EQ(std::make_pair(t()->vlines, t()->vcols), std::make_pair(30, 100));
  ASSERT_FALSE(calls.remoteRows.empty());
  EXPECT_EQ(calls.remoteRows.back(), std::make_pair(30, 100));
  EXPECT_FALSE(app.autoReconnect);
  EXPECT_EQ(app.borderDetect, 1);
  EXPECT_EQ(t()->wruchar, 5);
  EXPECT_STREQ(t()->wrustr, "id\r");
  EXPECT_EQ(std::make_pair(t()->maskpar, t()->_vmaskpar), std::make_pair(1, 1));
  EXPECT_EQ(t()->_cleartosb, 1);
  EXPECT_EQ(t()->_vt4207mode, 1);
  EXPECT_EQ(t()->_conf_cursor, 2);
  EXPECT_EQ(t()->tCaret, 3);
  EXPECT_EQ(t()->vcurshape, 3);
  EXPECT_EQ(t()->dupmode, 1);
  EXPECT_EQ(t()->defcset, 3);
  EXPECT_EQ(app._emulation, KVX_EM_VT100);
  EXPECT_EQ(t()->emode, 5);  // VT100
  EXPECT_EQ(t()->MBMode, 1);
  EXPECT_EQ(t()->bsdel, 0);
  EXPECT_EQ(t()->userCAT[0].color, 0x17000000u);
  EXPECT_STREQ(t()->aux_devport, "/dev/ttyS1");
  EXPECT_EQ(t()->aux_baud, 19200);
  EXPECT_EQ(t()->aux_wdlen, 7);
  EXPECT_EQ(t()->aux_dtr, 1);
  EXPECT_EQ(t()->aux_xonmode, 1);
  EXPECT_EQ(t()->aux_rts, 1);
  EXPECT_EQ(t()->aux_port, 2);
  EXPECT_EQ(t()->aux_parity, 1);
  EXPECT_EQ(t()->aux_stopbits, 2);
  EXPECT_EQ(calls.clears, 1);
  EXPECT_EQ(app._conntype, 0) << "connection keys are not safe values";
  EXPECT_EQ(app._currentCodepage, "");
  EXPECT_NE(t()->Unicode2TCS, nullptr);
  // MBMode: UTF-8 as a flag; the double-byte modes pass.
  for (auto [text, mode] : {std::pair{"0", 0}, {"3", 3}, {"7", 1}, {"-2", 1}}) {
    d->setStringForKey("MBMode", text);
    app_set_te_safe_values(&app, d);
    EXPECT_EQ(t()->MBMode, mode) << text;
  }
  delete d;
}

TEST_F(Apply, EmulationSwitchesOnlyWhenTheSettingChanges) {
  std::unique_ptr<LumDict> d(Dict({{"emulate", std::to_string(KVX_EM_XTERM).c_str()}}));
  app_set_te_safe_values(&app, d.get());
  ASSERT_EQ(t()->emode, 35);
  TEemwrite(t(), "\x1b[2;10r", 7);  // the host sets a scrolling region
  ASSERT_EQ(t()->_vscregion, 1);
  app_set_te_safe_values(&app, d.get());
  EXPECT_EQ(t()->_vscregion, 1) << "re-applying the same emulation must not reset the terminal";
}

// Screen read-back by the host stays off unless the setting allows it; a
// block-capable emulation starts in block mode when told to.
TEST_F(Apply, ReadBackAndBlockModeStart) {
  std::unique_ptr<LumDict> d(Dict({{"emulate", std::to_string(KVX_EM_WYSE50).c_str()}}));
  app_set_te_safe_values(&app, d.get());
  ASSERT_EQ(t()->emode, 14);  // Wyse 50
  EXPECT_EQ(t()->readback, 0);
  EXPECT_EQ(t()->_blokmode, 0);
  d.reset(Dict({{"emulate", std::to_string(KVX_EM_WYSE60).c_str()},
                {"screenReadBack", "1"},
                {"sblockmode", "1"},
                {"addlf", "1"}}));
  app_set_te_safe_values(&app, d.get());
  ASSERT_EQ(t()->emode, 10);  // Wyse 60, started in block mode
  EXPECT_EQ(t()->readback, 1);
  EXPECT_EQ(t()->_blokmode, 1);
  EXPECT_EQ(t()->_protect, 1);
  EXPECT_EQ(t()->addlf, 1);
}

TEST_F(Apply, EmptyDictionaryKeepsAUsableScreen) {
  std::unique_ptr<LumDict> d(Dict({}));
  TraceCapture trace(TRACE_FAIL);
  app_set_te_safe_values(&app, d.get());
  EXPECT_EQ(std::make_pair(app._rows, app._cols), std::make_pair(25, 80));
  EXPECT_EQ(std::make_pair(t()->vlines, t()->vcols), std::make_pair(25, 80));
  // emulate 0 (ADM1) is the default and runs.
  EXPECT_EQ(app._emulation, KVX_EM_ADM1);
  EXPECT_EQ(t()->emode, 17);
  EXPECT_EQ(t()->teloaded, 17);
  EXPECT_EQ(trace.lines().size(), 0u);
  EXPECT_EQ(CombinationColors(t()), std::vector<uint32_t>(16, 0xFF000000u));
  EXPECT_EQ(t()->MBMode, 0);
  EXPECT_EQ(t()->tCaret, 1);
}

TEST_F(Apply, ExtendedScreenTakesItsSizeFromTheSurface) {
  std::unique_ptr<LumDict> d(Dict({{"vextend", "1"}, {"lines", "30"}, {"col", "100"}}));
  t()->nFixedFontSize = 12;
  app_set_te_safe_values(&app, d.get());
  EXPECT_EQ(t()->vextend, 1);
  EXPECT_EQ(t()->nPrevFixedFontSize, 12);
  EXPECT_EQ(t()->nFixedFontSize, 10);
  EXPECT_EQ(std::make_pair(app._rows, app._cols), std::make_pair(40, 80));
  EXPECT_EQ(std::make_pair(t()->vlines, t()->vcols), std::make_pair(40, 80));
  EXPECT_EQ(calls.remoteRows.front(), std::make_pair(40, 80));
  // A huge font size is held to the largest one.
  std::unique_ptr<LumDict> huge(Dict({{"vextend", "1"}, {"vextendFontSize", "2147483647"}}));
  app_set_te_safe_values(&app, huge.get());
  EXPECT_EQ(t()->nFixedFontSize, APP_MAX_FONT_SIZE);
  EXPECT_EQ(std::make_pair(t()->vlines, t()->vcols), std::make_pair(600 / 300, 800 / 200));
}

TEST_F(Apply, UnsafeValuesAndTheDictionaryItself) {
  t()->_vcapslock = 1;
  LumDict* first = Dict({{"commtype", "7"}, {"autologin", "1"}, {"autologinMacroHash", "login.mac"}});
  app_set_te_using_dictionary(&app, first);
  EXPECT_EQ(app._dict, first);
  EXPECT_EQ(app._conntype, 7);
  EXPECT_TRUE(app._autologin);
  EXPECT_EQ(app._autologinMacroHash, "login.mac");
  EXPECT_EQ(t()->_vcapslock, 0);
  app_set_te_using_dictionary(&app, first);  // the same one again stays
  EXPECT_EQ(app._dict, first);
  EXPECT_EQ(first->intValueForKey("commtype"), 7);
  LumDict* second = Dict({{"commtype", "5"}});
  app_set_te_using_dictionary(&app, second);  // the first one is freed
  EXPECT_EQ(app._dict, second);
  EXPECT_EQ(app._conntype, 5);
  EXPECT_FALSE(app._autologin);
  app_set_te_using_dictionary(&app, nullptr);
  EXPECT_EQ(app._dict, second);
}

}  // namespace
