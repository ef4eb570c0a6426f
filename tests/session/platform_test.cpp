// Platform operations of the session role: the fixed answers, the warning
// line of each unimplemented operation, the drawing back end and the
// browser prompts through the platform hooks.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "settings_fixture.h"

namespace {

struct Unimplemented {
  const char* name;
  std::function<void()> call;
};

// Each operation writes exactly its own warning line and answers neutrally.
TEST(PlatformOperations, UnimplementedOnesWarnAndAnswerNeutrally) {
  app_s app;
  const Unimplemented ops[] = {
      {"app_get_banner_line", [] { EXPECT_EQ(Taken(app_get_banner_line()), ""); }},
      {"app_get_user_default_int", [] { EXPECT_EQ(app_get_user_default_int("x"), 0); }},
      {"app_create_frame", [&] { EXPECT_EQ(app_create_frame(&app, 0, 0, 10, 10), nullptr); }},
      {"app_get_widget", [&] { EXPECT_EQ(app_get_widget(&app), nullptr); }},
      {"app_use_frame", [&] { app_use_frame(&app, nullptr); }},
      {"app_do_save", [&] { app_do_save(&app); }},
      {"app_do_save_as", [&] { app_do_save_as(&app); }},
      {"app_do_edit", [&] { app_do_edit(&app); }},
      {"app_get_config_directory", [] { EXPECT_EQ(Taken(app_get_config_directory()), ""); }},
      {"app_create_unique_filename", [] { EXPECT_EQ(Taken(app_create_unique_filename("a")), ""); }},
      {"app_cacerts_file_path", [] { EXPECT_EQ(Taken(app_cacerts_file_path()), ""); }},
      {"app_privkey_file_path", [] { EXPECT_EQ(Taken(app_privkey_file_path("privkey.p12")), ""); }},
      {"app_external_keyboard_path", [] { EXPECT_EQ(Taken(app_external_keyboard_path()), ""); }},
      {"app_user_keyboard_path", [] { EXPECT_EQ(Taken(app_user_keyboard_path()), ""); }},
      {"app_set_title", [&] { app_set_title(&app, "Ostrovia - Connecting to host"); }},
      {"app_load_keymap", [&] { app_load_keymap(&app); }},
      {"app_set_safe_before", [&] { app_set_safe_before(&app); }},
      {"app_set_safe_after", [&] { app_set_safe_after(&app); }},
      {"app_update_scrollbar", [&] { app_update_scrollbar(&app); }},
      {"app_set_debug_options", [&] { app_set_debug_options(&app); }},
      {"app_move", [&] { app_move(&app, 1, 2); }},
      {"app_close", [&] { app_close(&app); }},
      {"app_get_device_name", [] { EXPECT_EQ(app_get_device_name(), ""); }},
      {"app_get_socket_to_host", [] { EXPECT_EQ(app_get_socket_to_host(nullptr, "h", 23), -1); }},
      {"app_set_default_features", [] { app_set_default_features(); }},
      {"app_load_default_config", [] { EXPECT_EQ(app_load_default_config(), nullptr); }},
      {"app_macro_will_start_recording", [&] { app_macro_will_start_recording(&app); }},
      {"app_macro_will_start_playback", [&] { app_macro_will_start_playback(&app); }},
      {"app_macro_did_finish_playback", [&] { app_macro_did_finish_playback(&app); }},
      {"app_macro_did_finish_recording", [&] { app_macro_did_finish_recording(&app); }},
      {"app_macro_delete_secure", [&] { app_macro_delete_secure(&app, "key_x"); }},
      {"app_macro_write_secure", [&] { app_macro_write_secure(&app, "key_x", "v"); }},
      {"app_print_start", [&] { EXPECT_EQ(app_print_start(&app, 66, 80), 0); }},
      {"app_print_screen_image", [&] { app_print_screen_image(&app); }},
      {"app_print_addline_unicode", [&] { app_print_addline_unicode(&app, nullptr, 0); }},
      {"app_print_addline_chattr", [&] { app_print_addline_chattr(&app, nullptr, 0); }},
      {"app_print_add_chattr", [&] { app_print_add_chattr(&app, 0x41); }},
      {"app_print_newpage", [&] { app_print_newpage(&app); }},
      {"app_print_end", [&] { EXPECT_EQ(app_print_end(&app), 0); }},
      {"WritePrintJob", [&] { EXPECT_EQ(WritePrintJob(&app, "x", 1), 0); }},
      {"app_print_get_font_height", [&] { EXPECT_EQ(app_print_get_font_height(&app), 0); }},
  };
  TraceCapture trace(TRACE_ALL);
  for (const auto& op : ops) {
    trace.clear();
    op.call();
    std::vector<std::string> lines = trace.lines();
    ASSERT_EQ(lines.size(), 1u) << op.name;
    EXPECT_EQ(lines[0], std::string("Warning (") + op.name + ") unimplemented in Kavrix!") << op.name;
  }
  // Only the "print" category carries the warnings.
  TraceCapture failOnly(TRACE_FAIL);
  app_set_title(&app, "x");
  EXPECT_TRUE(failOnly.lines().empty());
}

TEST(PlatformOperations, SilentOnesAnswerTheirFixedValues) {
  TraceCapture trace(TRACE_ALL);
  EXPECT_STREQ(app_codepage_file_path(0), "codepage.dat");
  EXPECT_STREQ(app_codepage_file_path(1), "codepage.dat");
  windowSizeChanged(nullptr, 80, 24);
  EXPECT_EQ(pmopen(nullptr), 0);
  ClosePrintJob(nullptr);
  EXPECT_EQ(wingetkeystate(16), 0);
  EXPECT_EQ(winopenpty(), 1);
  EXPECT_EQ(Taken(wingetcopytext(nullptr)), "Some TexT");
  EXPECT_EQ(app_resource_path(), nullptr);
  EXPECT_EQ(Taken(app_get_macro_directory()), "") << "no macro directory unless one is configured";
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(wingettickcount(nullptr), 10);
    EXPECT_EQ(PGL_GetTickCount(nullptr), 10);
  }
  int x = -1, y = -1, w = 0, h = 0;
  wingetclientrect(nullptr, &x, &y, &w, &h);
  EXPECT_EQ(std::make_tuple(x, y, w, h), std::make_tuple(0, 0, 800, 600));
  EXPECT_TRUE(trace.lines().empty());
}

// The device name is asked for only when a host name has a placeholder.
TEST(PlatformOperations, DeviceNameIsAskedForOnlyByPlaceholders) {
  TraceCapture trace(TRACE_ALL);
  EXPECT_EQ(app_preprocess_hostname("plain.example"), "plain.example");
  EXPECT_TRUE(trace.lines().empty());
  EXPECT_EQ(app_preprocess_hostname("term-<devname:-3>.lan"), "term-.lan");
  EXPECT_EQ(trace.lines(),
            std::vector<std::string>{"Warning (app_get_device_name) unimplemented in Kavrix!"});
}

TEST(PlatformOperations, StandardErrorLinesAndFatalError) {
  testing::internal::CaptureStderr();
  wincursor();
  windocopy();
  winwarn(nullptr, "careful");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "wincursor called, not implemented\nwindocopy called, not implemented\ncareful\n");
  EXPECT_EXIT(winerror("no font"), testing::ExitedWithCode(1), "Error: no font");
}

using DrawingLayer = SessionFixture;

TEST_F(DrawingLayer, HandlePointsBackAndOnlyTheFirstResizeCounts) {
  PGL* pgl = wininit(&app);
  EXPECT_EQ(pgl->app, &app);
  EXPECT_EQ(pgl->width, 0);
  winopen(pgl, nullptr, 768, 600);
  EXPECT_EQ(pgl->width, 768);
  winsetsize(pgl, 640, 480);
  EXPECT_EQ(std::make_pair(pgl->width, pgl->height), std::make_pair(640, 480));
  winfreepgl(pgl);

  // The fixture's creation already ran the first resize: 800 x 600.
  EXPECT_EQ(std::make_pair(app.winw, app.winh), std::make_pair(800, 600));
  EXPECT_EQ(std::make_pair(app_pgl(&app)->width, app_pgl(&app)->height), std::make_pair(800, 600));
  winresize(app.pgl, 1024, 768);
  EXPECT_EQ(std::make_pair(app.winw, app.winh), std::make_pair(800, 600));
  EXPECT_EQ(app_pgl(&app)->width, 800);
}

TEST_F(DrawingLayer, TimerGoesToTheSession) {
  winontimer(app.pgl);
  winontimer(app.pgl);
  EXPECT_EQ(calls.timers, 2);
}

TEST(PlatformPrompts, FailSafeWithoutHooksAndForwardWithThem) {
  app_set_platform_hooks(nullptr);
  int ret = -1;
  EXPECT_EQ(Taken(wingetentry(nullptr, "Password", true, "Password for bob:", "", &ret)), std::nullopt);
  EXPECT_EQ(ret, 0);
  EXPECT_EQ(winshowyesno(nullptr, "Host key", "Accept?"), 0);
  {
    TraceCapture trace(TRACE_FAIL);
    winshowfatalerror(nullptr, true, "Connection timed out.");
    ASSERT_EQ(trace.lines().size(), 1u);
    EXPECT_NE(trace.lines()[0].find("Connection timed out."), std::string::npos);
  }

  static std::string seen;
  app_platform_hooks hooks;
  hooks.entry = [](void*, const char* title, bool isPassword, const char* msg, const char*,
                   std::string* text) {
    seen = std::string(title) + "|" + (isPassword ? "pw" : "text") + "|" + msg;
    *text = "hunter2";
    return 3;
  };
  hooks.yesno = [](void*, const char*, const char* text) { return std::string(text) == "Accept?" ? 1 : 0; };
  hooks.fatal = [](void*, bool fatal, const char* text) { seen = std::string(fatal ? "F:" : "E:") + text; };
  app_set_platform_hooks(&hooks);
  EXPECT_EQ(Taken(wingetentry(nullptr, "Password", true, "Password for bob:", "Save", &ret)), "hunter2");
  EXPECT_EQ(ret, 3);
  EXPECT_EQ(seen, "Password|pw|Password for bob:");
  EXPECT_EQ(winshowyesno(nullptr, "Host key", "Accept?"), 1);
  winshowfatalerror(nullptr, false, "Connection Refused");
  EXPECT_EQ(seen, "E:Connection Refused");

  // A cancelled entry gives no text even if the hook left some.
  hooks.entry = [](void*, const char*, bool, const char*, const char*, std::string* text) {
    *text = "partial";
    return 0;
  };
  app_set_platform_hooks(&hooks);
  EXPECT_EQ(Taken(wingetentry(nullptr, "t", false, "m", "", &ret)), std::nullopt);
  app_set_platform_hooks(nullptr);
}

}  // namespace
