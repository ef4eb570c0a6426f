// Platform operations of the session role.  A session process has no
// window, no local user and no printer: most operations write one warning
// line ("Warning (<name>) unimplemented in Kavrix!", trace class "print")
// and return an empty or neutral value (texts are newly allocated and freed
// by the caller with free(); "none" is null); a few carry real behaviour (prompts
// go to the browser, the first resize reaches the session, the code-page
// file has a fixed name, secrets go to the secure store).  Also the drawing
// layer's back end, which keeps an invisible screen and draws nothing.
#pragma once

#include <cstdint>
#include <string>  // the entry hook's answer

#include "app.h"
#include "hostname.h"  // app_get_device_name()
#include "te/terec.h"  // CHATTR, COLORREF

struct te;

// ---- seam to the session core and the browser channel ----
// Filled at start-up by the layers above; a missing member does nothing,
// and a missing prompt fails safe (entry cancelled, yes/no answered no,
// error only traced).
struct app_platform_hooks {
  // Browser prompts.  entry sets *text and returns 0 when cancelled,
  // non-zero when accepted (bit value 2: the user asked to save it).
  int (*entry)(void* pgl, const char* title, bool isPassword, const char* msg, const char* saveMsg,
               std::string* text) = nullptr;
  int (*yesno)(void* pgl, const char* title, const char* text) = nullptr;
  void (*fatal)(void* pgl, bool fatal, const char* text) = nullptr;
  // Session core operations the settings and the drawing layer call.
  void (*ontimer)(app_s* app) = nullptr;                                 // app_ontimer
  void (*update_remote_rows)(app_s* app, int rows, int cols) = nullptr;  // app_update_remote_rows
  void (*clear_emulator)(app_s* app) = nullptr;                          // app_clear_emulator
};
// Installs the hooks (copied); null restores the defaults.
void app_set_platform_hooks(const app_platform_hooks* hooks);
const app_platform_hooks& app_get_platform_hooks();

// ---- session operations ----
char* app_get_banner_line();
int app_get_user_default_int(const char* key);
void* app_create_frame(app_s* app, int x, int y, int width, int height);
void* app_get_widget(app_s* app);
void app_use_frame(app_s* app, void* frame);
void app_do_save(app_s* app);
void app_do_save_as(app_s* app);
void app_do_edit(app_s* app);
char* app_get_config_directory();
// The directory macro files are read from (empty: macros only as text);
// set once at start-up from the command line.
char* app_get_macro_directory();
void app_set_macro_directory(const char* directory);
char* app_create_unique_filename(const char* name);
// The code-page file, for both kinds of host (not freed): "codepage.dat"
// in the working directory, or the installation's.
const char* app_codepage_file_path(int ibm);
// Where the code-page file is (set at start; "codepage.dat" in the working
// directory until then).
void app_set_codepage_file_path(const char* path);
char* app_cacerts_file_path();
char* app_privkey_file_path(const char* file);
char* app_external_keyboard_path();
char* app_user_keyboard_path();
void app_set_title(app_s* app, const char* title);
void app_load_keymap(app_s* app);
void app_set_safe_before(app_s* app);
void app_set_safe_after(app_s* app);
void app_update_scrollbar(app_s* app);
void app_set_debug_options(app_s* app);
void app_move(app_s* app, int x, int y);
void app_close(app_s* app);
// Called by the engine after every resize; nothing to do here.
void windowSizeChanged(te* t, int cols, int lines);
int app_get_socket_to_host(void* connection, const char* host, int port);
void app_set_default_features();
// No default configuration in this system: always null.
LumDict* app_load_default_config();
// The dialog script's tick: app_dialog_run(app, DLG_TICK) after `ms`
// milliseconds on the event loop (replacing a tick still pending); and the
// pending tick dropped.  Both in macro.cpp.
void app_dialog_schedule_timeout(app_s* app, int ms);
void app_dialog_cancel_timeout(app_s* app);
// Whether the screen shows `text` at column x, row y (macro.h).
int app_macro_match_string(app_s* app, int x, int y, const char* text);
void app_macro_will_start_recording(app_s* app);
void app_macro_will_start_playback(app_s* app);
void app_macro_did_finish_playback(app_s* app);
void app_macro_did_finish_recording(app_s* app);
void app_macro_delete_secure(app_s* app, const char* token);
void app_macro_write_secure(app_s* app, const char* token, const char* value);
// What a macro's `u` and `p` send: the `user` setting and the secret behind
// the `passwordHash` token (null when there is none; freed by the caller).
char* app_macro_get_username(app_s* app);
char* app_macro_get_password(app_s* app);
// The secure store (secure.h), without warnings.
char* app_macro_store_secure(app_s* app, const char* value);
char* app_macro_get_secure(app_s* app, const char* token);
// Printing: every job is refused and nothing is printed.
int app_print_start(app_s* app, int lines, int cols);
void app_print_screen_image(app_s* app);
void app_print_addline_unicode(app_s* app, const uint16_t* text, int length);
void app_print_addline_chattr(app_s* app, const CHATTR* cells, int length);
void app_print_add_chattr(app_s* app, CHATTR cell);
void app_print_newpage(app_s* app);
int app_print_end(app_s* app);
int WritePrintJob(app_s* app, const char* bytes, int length);
int app_print_get_font_height(app_s* app);
// The engine's print-job entry points.
int pmopen(te* t);
void ClosePrintJob(app_s* app);

// ---- drawing layer back end ----
// The drawing handle: an invisible screen that nothing is drawn on.
struct PGL {
  app_s* app = nullptr;  // the session the handle belongs to
  int width = 0;         // the invisible screen, in pixels
  int height = 0;
  bool opened = false;
  bool resized = false;      // winresize has run once
  int xChar = 0, yChar = 0;  // character cell of the current font, pixels
  COLORREF cursorColor = 0;  // cursor colour set by the settings
  COLORREF background = 0;   // colour the surface was last filled with
};

constexpr int PGL_CLIENT_WIDTH = 800;  // the client rectangle every session reports
constexpr int PGL_CLIENT_HEIGHT = 600;
constexpr int PGL_TICKS = 10;  // the tick counter stands still here

PGL* wininit(app_s* app);
// The session's drawing handle.
PGL* app_pgl(const app_s* app);
void winopen(void* pgl, void* frame, int width, int height);
// Drawing operations take the handle as the engine and the connections
// hold it (void*).
// Only the first call sets the size and resizes the session
// (app_onresize, forced); later calls change nothing.
void winresize(void* pgl, int width, int height);
// Re-creates the invisible screen at width x height unless it has that size.
void winsetsize(void* pgl, int width, int height);
void wingetclientrect(void* pgl, int* x, int* y, int* width, int* height);
int wingettickcount(void* pgl);
int PGL_GetTickCount(void* pgl);
void winontimer(void* pgl);
// Browser prompts (through app_platform_hooks, which the channel fills with
// its blocking prompts at start-up).
// The entered text (freed by the caller), or null when cancelled; *ret gets
// the answer's result code.
char* wingetentry(void* pgl, const char* title, bool isPassword, const char* msg, const char* saveMsg,
                  int* ret);
int winshowyesno(void* pgl, const char* title, const char* text);
void winshowfatalerror(void* pgl, bool fatal, const char* text);
void winsettitle(void* pgl, const char* title);
void winsetrepaint(void* pgl, int on);
void winblit(void* pgl);
void winmessagebeep(void* pgl);
void wincopytext(void* pgl, const char* text);
void writepty(void* pgl, const char* bytes, int length);
int wingetkeystate(int key);
int winopenpty();
char* wingetcopytext(void* pgl);  // the fixed text "Some TexT" (freed by the caller)
void wincursor();                 // not implemented: says so on standard error
void windocopy();
void winwarn(void* pgl, const char* text);  // the text and a newline on standard error
// "Error: <text>" on standard error, then the process ends with status 1.
[[noreturn]] void winerror(const char* text);
void winfreepgl(void* pgl);
const char* app_resource_path();  // none
// Cursor colour of the drawing layer and the fill of its surface.
void winsetcursorcolor(void* pgl, COLORREF color);
void winfill(void* pgl, COLORREF color);
// Sets the font's character cell (width x height pixels).
void winsetfont(void* pgl, int xChar, int yChar);
