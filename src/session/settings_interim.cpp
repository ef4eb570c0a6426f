// Interim settings and platform operations of the session: enough of the
// settings keys to run a local shell (screen size, emulation fixed to the
// xterm-colour member, UTF-8 host data, code pages, answer-back, echo mode,
// border detection), the surface resize, the window title and an in-memory
// secure store.  The full settings module replaces this file.
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "app.h"
#include "lumdict.h"
#include "te/te.h"
#include "tetrace.h"

// ---- secure store ----

static std::map<std::string, std::string>& interim_secure_store() {
  static std::map<std::string, std::string> store;
  return store;
}

char* kvx_set_secure(const char* value) {
  static unsigned long next = 0;
  std::string token = "key_" + std::to_string(++next);
  interim_secure_store()[token] = value ? value : "";
  return strdup(token.c_str());
}

char* kvx_get_secure(const char* token) {
  if (!token) return nullptr;
  auto it = interim_secure_store().find(token);
  if (it == interim_secure_store().end() || it->second.empty()) return nullptr;
  return strdup(it->second.c_str());
}

char* app_macro_store_secure(app_s*, const char* value) {
  return kvx_set_secure(value);
}

char* app_macro_get_secure(app_s*, const char* token) {
  return kvx_get_secure(token);
}

// ---- platform ----

void app_set_title(app_s*, const char*) {
  TE_Trace(TRACE_PRINT, "Warning (%s) unimplemented in Kavrix!\n", "app_set_title");
}

const char* app_codepage_file_path(int) {
  return "codepage.dat";
}

char* app_privkey_file_path(const char*) {
  return strdup("");
}

// ---- resize ----

void app_onresize(app_s* app, int width, int height, int force) {
  if (!app) return;
  if (height < 0) height = 1;
  TE_Trace(TRACE_SESSION, "app_onresize called for w=%d, h=%d, force=%d\n", width, height, force);
  if (width < 100) width = 100;
  if (height < 100) height = 100;
  if (width == app->winw && height == app->winh && !force) return;
  app->winw = width;
  app->winh = height;
}

void app_set_rowscols(app_s* app, int rows, int cols) {
  te* t = app ? app->lpte : nullptr;
  if (!t || app->emlib != EM_UNIX) return;
  if (t->_sb && t->_sb->sbcurline) sbreset(t);
  if (rows < 1 || cols < 1) return;
  if (rows > TE_MAXLINES) rows = TE_MAXLINES;
  if (cols > TE_MAXCOLS) cols = TE_MAXCOLS;
  if (rows == t->vlines && cols == t->vcols) return;
  CHATTR keep = t->_vcurattr;
  t->_vcurattr = EmGetDefaultAttr(t);
  vsetsize(t, rows, cols, 1);
  t->_vcurattr = keep;
  vid_touch_rows(t, 0, t->vlines - 1);
  app_onsync(app);
}

void app_set_rows_cols(app_s* app) {
  if (!app) return;
  app_set_rowscols(app, app->_rows, app->_cols);
  if (app->lpte) app_update_remote_rows(app, app->lpte->vlines, app->lpte->vcols);
}

// ---- emulation ----

// Every character-mode setting runs the xterm-colour member for now.
void app_set_emulation(app_s* app, int emulation) {
  te* t = app ? app->lpte : nullptr;
  if (!t) return;
  TE_Trace(TRACE_5250, "%s: Setting emulation to %d\n", "app_set_emulation", emulation);
  app->emlib = EM_UNIX;
  const int engine = EmSettingToEmulation(30);
  if (t->emode != engine || !t->teloaded) sl_emulate(t, engine);
}

// ---- applying a dictionary ----

static bool interim_has(LumDict* dict, const char* key) {
  return !dict->stringValueForKey(key).empty();
}

void app_set_te_unsafe_values(app_s* app, LumDict* dict) {
  if (!app || !dict) return;
  app->_conntype = dict->intValueForKey("commtype");
  app->_autologin = dict->boolValueForKey("autologin");
  app->_autologinMacroHash = dict->stringValueForKey("autologinMacroHash");
}

static void interim_load_codepages(app_s* app, LumDict* dict) {
  te* t = app->lpte;
  std::string cp = dict->stringValueForKey("cptrxin");
  const char* file = app_codepage_file_path(0);
  if (app->_currentCodepage.empty() || cp != app->_currentCodepage) {
    SetEmOutCP(t, file, cp.c_str());
    SetEmInCP(t, file, cp.c_str());
    SetVidCP(t, file, cp.c_str());
    app->_currentCodepage = cp.empty() ? std::string(" ") : cp;
  }
}

// Normal colours (1-based PC colour indexes) for every attribute combination.
static void interim_set_colors(app_s* app, LumDict* dict) {
  te* t = app->lpte;
  int fg = dict->intValueForKey("colorfg0"), bg = dict->intValueForKey("colorbg0");
  if (fg < 1 || fg > 16 || bg < 1 || bg > 16) return;
  for (int i = 0; i < 17; i++) {
    t->fgcolor[i] = fg;
    t->bgcolor[i] = bg;
  }
  initcolors(t);
  int bold = dict->intValueForKey("colorfg4");
  if (bold >= 1 && bold <= 16) EmMapColor(t, CA_BOLD, ((bg - 1) << 4) | (bold - 1), 1);
  EmSetAttr(t, EmGetDefaultAttr(t));
}

void app_set_te_safe_values(app_s* app, LumDict* dict) {
  te* t = app ? app->lpte : nullptr;
  if (!t || !dict) return;
  if (dict->intValueForKey("lines") > 0) app->_rows = dict->intValueForKey("lines");
  if (dict->intValueForKey("col") > 0) app->_cols = dict->intValueForKey("col");
  app->autoReconnect = false;
  app->borderDetect = dict->intValueForKey("borderDetect");
  if (interim_has(dict, "wruchar")) t->wruchar = dict->intValueForKey("wruchar");
  sl_wru(t, dict->stringValueForKey("wru").c_str());
  t->dupmode = dict->boolValueForKey("mode") ? 1 : 0;
  int emulate = dict->intValueForKey("emulate");
  if (emulate != app->_emulation || !t->teloaded) {
    app->_emulation = emulate;
    app_set_emulation(app, emulate);
  }
  interim_set_colors(app, dict);
  app_set_rows_cols(app);
  if (interim_has(dict, "MBMode")) t->MBMode = dict->intValueForKey("MBMode");
  interim_load_codepages(app, dict);
  if (dict->boolValueForKey("clearEmulator")) app_clear_emulator(app);
  app_onsync(app);
}

void app_set_te_using_dictionary(app_s* app, LumDict* dict) {
  if (!app || !dict) return;
  if (dict != app->_dict) {
    delete app->_dict;
    app->_dict = dict;
  }
  if (!app_is_connected(app)) app_set_te_unsafe_values(app, dict);
  app_set_te_safe_values(app, dict);
}
