// Emulation selection and the sizing of the character-mode screen and of
// the drawing surface.
#include <gtest/gtest.h>

#include "settings_fixture.h"

namespace {

using Emulation = SessionFixture;

// Every setting with the engine number it must select.
TEST_F(Emulation, SettingSelectsItsEngineNumberOrStaysPut) {
  const int engine[31] = {17, 7,  8,  18, 12, 9,  21, 16, 15, 13, 5, 32, 3,  4,  1, 2,
                          31, 14, 10, 11, 19, 20, 0,  0,  0,  0,  0, 0,  34, 33, 35};
  for (int setting = 0; setting <= 30; setting++) {
    SCOPED_TRACE(setting);
    app_set_emulation(&app, 14);  // VT320 first
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
  EXPECT_EQ(EmSettingToEmulation(10), 5);
  EXPECT_EQ(EmSettingToEmulation(0), 17);
  app_set_emulation(&app, 10);
  EXPECT_EQ(t()->emode, 5);
}

TEST_F(Emulation, UnavailableEmulationKeepsTheTerminalWorking) {
  app_set_emulation(&app, 30);  // MAC
  ASSERT_EQ(t()->teloaded, 35);
  TraceCapture trace(TRACE_FAIL);
  app_set_emulation(&app, 17);  // Wyse 50
  ASSERT_EQ(trace.lines().size(), 1u);
  EXPECT_NE(trace.lines()[0].find("MAC"), std::string::npos) << trace.lines()[0];
  app_set_emulation(&app, -1);
  app_set_emulation(&app, 31);
  EXPECT_EQ(trace.lines().size(), 3u);
  EXPECT_EQ(t()->teloaded, 35);
  TEemwrite(t(), "\rok\x1b[1mB", 8);
  EXPECT_EQ(get_vscreen(t(), 0, t()->vdestline) & CA_CHAR, (CHATTR)'o');
  EXPECT_EQ(get_vscreen(t(), 2, t()->vdestline) & (CA_CHAR | CA_BOLD), (CHATTR)'B' | CA_BOLD);
}

TEST_F(Emulation, BlockModeSettingsAreRefusedUntilTheirEmulatorsExist) {
  for (int setting : {22, 23, 24, 27}) {
    TraceCapture trace(TRACE_FAIL);
    app_set_emulation(&app, setting);
    EXPECT_EQ(app.emlib, EM_UNIX);
    EXPECT_EQ(trace.lines().size(), 1u) << setting;
  }
}

TEST_F(Emulation, LeavingBlockModeMakesTheTerminalActiveAndResizes) {
  app.emlib = EM_TN3270;
  TraceCapture trace(TRACE_SESSION);
  app_set_emulation(&app, 1);
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
  EXPECT_EQ(sl_emulate(t(), 22), 0);
  EXPECT_EQ(t()->emode, 5);
  for (int n : {23, 27, 36, -1}) {  // 23 is IBM 3101, not built yet
    EXPECT_EQ(sl_emulate(t(), n), -1) << n;
    EXPECT_EQ(t()->emode, 5);
  }
  EXPECT_EQ(errors, std::vector<int>(4, 2088));
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
