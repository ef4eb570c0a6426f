// Platform operations of the session role and the drawing layer's back end.
// Operations without meaning in a session process write the warning line
// on every call and answer a neutral value.
#include "platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "emulation.h"
#include "lumdict.h"
#include "secure.h"
#include "tetrace.h"

static app_platform_hooks g_platformHooks;

void app_set_platform_hooks(const app_platform_hooks* hooks) {
  g_platformHooks = hooks ? *hooks : app_platform_hooks{};
}

const app_platform_hooks& app_get_platform_hooks() {
  return g_platformHooks;
}

// An empty text the caller frees.
static char* pf_empty() {
  return strdup("");
}

static void pf_unimplemented(const char* name) {
  TE_Trace(TRACE_PRINT, "Warning (%s) unimplemented in Kavrix!\n", name);
}

// ---- session operations

char* app_get_banner_line() {
  pf_unimplemented("app_get_banner_line");
  return pf_empty();
}

int app_get_user_default_int(const char*) {
  pf_unimplemented("app_get_user_default_int");
  return 0;
}

void* app_create_frame(app_s*, int, int, int, int) {
  pf_unimplemented("app_create_frame");
  return nullptr;
}

void* app_get_widget(app_s*) {
  pf_unimplemented("app_get_widget");
  return nullptr;
}

void app_use_frame(app_s*, void*) {
  pf_unimplemented("app_use_frame");
}

void app_do_save(app_s*) {
  pf_unimplemented("app_do_save");
}

void app_do_save_as(app_s*) {
  pf_unimplemented("app_do_save_as");
}

void app_do_edit(app_s*) {
  pf_unimplemented("app_do_edit");
}

char* app_get_config_directory() {
  pf_unimplemented("app_get_config_directory");
  return pf_empty();
}

static std::string g_macroDirectory;

void app_set_macro_directory(const char* directory) {
  g_macroDirectory = directory ? directory : "";
}

char* app_get_macro_directory() {
  return strdup(g_macroDirectory.c_str());
}

char* app_create_unique_filename(const char*) {
  pf_unimplemented("app_create_unique_filename");
  return pf_empty();
}

static std::string g_codepagePath = "codepage.dat";

void app_set_codepage_file_path(const char* path) {
  g_codepagePath = path && *path ? path : "codepage.dat";
}

const char* app_codepage_file_path(int) {
  return g_codepagePath.c_str();
}

char* app_cacerts_file_path() {
  pf_unimplemented("app_cacerts_file_path");
  return pf_empty();
}

char* app_privkey_file_path(const char*) {
  pf_unimplemented("app_privkey_file_path");
  return pf_empty();
}

char* app_external_keyboard_path() {
  pf_unimplemented("app_external_keyboard_path");
  return pf_empty();
}

char* app_user_keyboard_path() {
  pf_unimplemented("app_user_keyboard_path");
  return pf_empty();
}

void app_set_title(app_s*, const char*) {
  pf_unimplemented("app_set_title");
}

void app_load_keymap(app_s*) {
  pf_unimplemented("app_load_keymap");
}

void app_set_safe_before(app_s*) {
  pf_unimplemented("app_set_safe_before");
}

void app_set_safe_after(app_s*) {
  pf_unimplemented("app_set_safe_after");
}

void app_update_scrollbar(app_s*) {
  pf_unimplemented("app_update_scrollbar");
}

void app_set_debug_options(app_s*) {
  pf_unimplemented("app_set_debug_options");
}

void app_move(app_s*, int, int) {
  pf_unimplemented("app_move");
}

void app_close(app_s*) {
  pf_unimplemented("app_close");
}

void windowSizeChanged(te*, int, int) {}

int app_get_socket_to_host(void*, const char*, int) {
  pf_unimplemented("app_get_socket_to_host");
  return -1;
}

void app_set_default_features() {
  pf_unimplemented("app_set_default_features");
}

LumDict* app_load_default_config() {
  pf_unimplemented("app_load_default_config");
  return nullptr;
}

void app_macro_will_start_recording(app_s*) {
  pf_unimplemented("app_macro_will_start_recording");
}

void app_macro_will_start_playback(app_s*) {
  pf_unimplemented("app_macro_will_start_playback");
}

void app_macro_did_finish_playback(app_s*) {
  pf_unimplemented("app_macro_did_finish_playback");
}

void app_macro_did_finish_recording(app_s*) {
  pf_unimplemented("app_macro_did_finish_recording");
}

void app_macro_delete_secure(app_s*, const char*) {
  pf_unimplemented("app_macro_delete_secure");
}

void app_macro_write_secure(app_s*, const char*, const char*) {
  pf_unimplemented("app_macro_write_secure");
}

char* app_macro_get_username(app_s* app) {
  if (!app || !app->_dict) return nullptr;
  std::string user = app->_dict->stringValueForKey("user");
  return user.empty() ? nullptr : strdup(user.c_str());
}

char* app_macro_get_password(app_s* app) {
  if (!app || !app->_dict) return nullptr;
  std::string token = app->_dict->stringValueForKey("passwordHash");
  return token.empty() ? nullptr : kvx_get_secure(token.c_str());
}

char* app_macro_store_secure(app_s*, const char* value) {
  return kvx_set_secure(value);
}

char* app_macro_get_secure(app_s*, const char* token) {
  return kvx_get_secure(token);
}

int app_print_start(app_s*, int, int) {
  pf_unimplemented("app_print_start");
  return 0;
}

void app_print_screen_image(app_s*) {
  pf_unimplemented("app_print_screen_image");
}

void app_print_addline_unicode(app_s*, const uint16_t*, int) {
  pf_unimplemented("app_print_addline_unicode");
}

void app_print_addline_chattr(app_s*, const CHATTR*, int) {
  pf_unimplemented("app_print_addline_chattr");
}

void app_print_add_chattr(app_s*, CHATTR) {
  pf_unimplemented("app_print_add_chattr");
}

void app_print_newpage(app_s*) {
  pf_unimplemented("app_print_newpage");
}

int app_print_end(app_s*) {
  pf_unimplemented("app_print_end");
  return 0;
}

int WritePrintJob(app_s*, const char*, int) {
  pf_unimplemented("WritePrintJob");
  return 0;
}

int app_print_get_font_height(app_s*) {
  pf_unimplemented("app_print_get_font_height");
  return 0;
}

// Screen printing and transparent printing are features this system never
// turns on, so no job ever starts.
int pmopen(te*) {
  return 0;
}

void ClosePrintJob(app_s*) {}

// ---- drawing layer

static PGL* pf_pgl(void* pgl) {
  return static_cast<PGL*>(pgl);
}

PGL* app_pgl(const app_s* app) {
  return app ? static_cast<PGL*>(app->pgl) : nullptr;
}

PGL* wininit(app_s* app) {
  PGL* pgl = new PGL{};
  pgl->app = app;
  return pgl;
}

void winopen(void* handle, void*, int width, int height) {
  PGL* pgl = pf_pgl(handle);
  if (!pgl) return;
  pgl->width = width;
  pgl->height = height;
  pgl->opened = true;
}

void winresize(void* handle, int width, int height) {
  PGL* pgl = pf_pgl(handle);
  if (!pgl || pgl->resized) return;
  pgl->resized = true;
  pgl->width = width;
  pgl->height = height;
  if (pgl->app) app_onresize(pgl->app, width, height, 1);
}

void winsetsize(void* handle, int width, int height) {
  PGL* pgl = pf_pgl(handle);
  if (!pgl || (pgl->opened && pgl->width == width && pgl->height == height)) return;
  pgl->width = width;
  pgl->height = height;
  pgl->opened = true;
}

void wingetclientrect(void*, int* x, int* y, int* width, int* height) {
  if (x) *x = 0;
  if (y) *y = 0;
  if (width) *width = PGL_CLIENT_WIDTH;
  if (height) *height = PGL_CLIENT_HEIGHT;
}

int wingettickcount(void*) {
  return PGL_TICKS;
}

int PGL_GetTickCount(void* pgl) {
  return wingettickcount(pgl);
}

void winontimer(void* handle) {
  PGL* pgl = pf_pgl(handle);
  if (pgl && pgl->app && g_platformHooks.ontimer) g_platformHooks.ontimer(pgl->app);
}

char* wingetentry(void* pgl, const char* title, bool isPassword, const char* msg, const char* saveMsg,
                  int* ret) {
  std::string text;
  int result = 0;
  if (g_platformHooks.entry)
    result = g_platformHooks.entry(pgl, title ? title : "", isPassword, msg ? msg : "",
                                   saveMsg ? saveMsg : "", &text);
  if (ret) *ret = result;
  char* answer = result ? strdup(text.c_str()) : nullptr;
  explicit_bzero(text.data(), text.size());  // it may be a password
  return answer;
}

int winshowyesno(void* pgl, const char* title, const char* text) {
  return g_platformHooks.yesno ? g_platformHooks.yesno(pgl, title ? title : "", text ? text : "") : 0;
}

void winshowfatalerror(void* pgl, bool fatal, const char* text) {
  if (g_platformHooks.fatal)
    g_platformHooks.fatal(pgl, fatal, text ? text : "");
  else
    TE_Trace(TRACE_FAIL, "%s ERROR: %s\n", fatal ? "FATAL" : "", text ? text : "");
}

void winsettitle(void*, const char*) {}
void winsetrepaint(void*, int) {}
void winblit(void*) {}
void winmessagebeep(void*) {}
void wincopytext(void*, const char*) {}
void writepty(void*, const char*, int) {}

int wingetkeystate(int) {
  return 0;
}

int winopenpty() {
  return 1;
}

char* wingetcopytext(void*) {
  return strdup("Some TexT");
}

void wincursor() {
  fputs("wincursor called, not implemented\n", stderr);
}

void windocopy() {
  fputs("windocopy called, not implemented\n", stderr);
}

void winwarn(void*, const char* text) {
  fprintf(stderr, "%s\n", text ? text : "");
}

void winerror(const char* text) {
  fprintf(stderr, "Error: %s\n", text ? text : "");
  fflush(stderr);
  exit(1);
}

void winfreepgl(void* pgl) {
  delete pf_pgl(pgl);
}

const char* app_resource_path() {
  return nullptr;
}

void winsetcursorcolor(void* pgl, COLORREF color) {
  if (pf_pgl(pgl)) pf_pgl(pgl)->cursorColor = color;
}

void winfill(void* pgl, COLORREF color) {
  if (pf_pgl(pgl)) pf_pgl(pgl)->background = color;
}

void winsetfont(void* handle, int xChar, int yChar) {
  PGL* pgl = pf_pgl(handle);
  if (!pgl) return;
  pgl->xChar = xChar;
  pgl->yChar = yChar;
}
