// Applying a settings dictionary to the session: the safe values (screen,
// terminal modes, emulation, colours, code pages, printers, auxiliary port)
// and the unsafe values (the connection kind and autologin).  Every key is
// read without regard to case; a missing key reads as 0, false or "".
#include "settings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "emulation.h"
#include "json.h"
#include "lumdict.h"
#include "platform.h"
#include "tcs.h"
#include "te/te.h"
#include "tetrace.h"
#include "trace_settings.h"

// Copies a path into a fixed field.  A path that does not fit is refused
// (the field is emptied): cut short it could name another file or device.
template <size_t N>
static void st_copy_path(char (&field)[N], const std::string& text, const char* key) {
  if (text.size() >= N) {
    TE_Trace(TRACE_FAIL, "%s: %s of %zu bytes is too long, ignored\n", "app_set_te_safe_values", key,
             text.size());
    field[0] = 0;
    return;
  }
  std::memcpy(field, text.c_str(), text.size() + 1);
}

// A 1-based colour index of the 16-colour map, or 0 (not set).
static int st_colorindex(int value) {
  return value >= 1 && value <= 16 ? value : 0;
}

static bool st_charmode(const app_s* app) {
  return app->emlib == EM_UNIX && app->lpte;
}

void app_set_vextend(app_s* app, LumDict* dict) {
  te* t = app->lpte;
  bool vextend = dict->boolValueForKey("vextend");
  if (t) t->vextend = vextend ? 1 : 0;
  if (vextend && t) {
    t->nPrevFixedFontSize = t->nFixedFontSize;
    int size = dict->intValueForKey("vextendFontSize");
    t->nFixedFontSize = size > 0 ? std::min(size, APP_MAX_FONT_SIZE) : 10;
    app_onresize(app, app->winw, app->winh, 1);
    app->_rows = t->vlines;
    app->_cols = t->vcols;
    return;
  }
  // A size the terminal cannot have keeps the one requested before (25 x 80
  // at creation); larger sizes are cut to what the terminal can show.
  int rows = dict->intValueForKey("lines");
  int cols = dict->intValueForKey("col");
  if (rows > 0) app->_rows = std::min(rows, TE_MAXLINES);
  if (cols > 0) app->_cols = std::min(cols, TE_MAXCOLS);
  if (st_charmode(app)) app_onresize(app, app->winw, app->winh, 1);
}

// ---- colours

COLORREF app_colorref_from_string(const char* text) {
  if (!text || !*text) return 0;
  size_t len = std::strlen(text);
  bool x = len > 1 && text[1] == 'x';
  size_t off = (x && len > 9) ? 4 : (x || len < 8) ? 0 : 2;
  auto digit = [&](size_t i) -> unsigned {
    if (i >= len) return 0;
    char c = text[i];
    if (c >= '0' && c <= '9') return (unsigned)(c - '0');
    if (c >= 'a' && c <= 'f') return (unsigned)(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return (unsigned)(c - 'A' + 10);
    return 0;
  };
  auto byte = [&](size_t i) { return digit(i) << 4 | digit(i + 1); };
  return byte(off) | byte(off + 2) << 8 | byte(off + 4) << 16;
}

bool app_set_rgb_colors(app_s* app, LumDict* dict) {
  bool any = false;
  for (int n = 0; n <= 18; n++) {
    char key[16];
    snprintf(key, sizeof key, "RGBMap%d", n);
    const char* value = dict->charValueForKey(key);
    if (!value) continue;
    any = true;
    COLORREF color = app_colorref_from_string(value);
    if (st_charmode(app) && n <= 15) app->lpte->RGBMap[n] = color;
  }
  return any;
}

void app_set_color(app_s* app, int fg, int bg, LumDict* dict, bool redraw) {
  bool necessary = app_set_rgb_colors(app, dict);
  te* t = app->lpte;
  if (st_charmode(app)) {
    fg = st_colorindex(fg);
    bg = st_colorindex(bg);
    if (fg != t->fgcolor[0] || bg != t->bgcolor[0]) necessary = true;
    for (int i = 0; i < 17; i++) {
      t->fgcolor[i] = fg;
      t->bgcolor[i] = bg;
    }
    // Every attribute combination takes the pair (or the emulator's
    // default when either colour is unset); then bold takes its own colour.
    initcolors(t);
    int bold = st_colorindex(dict->intValueForKey("colorfg4"));
    _EmMapColor(t, CA_BOLD, bg && bold ? ((bg - 1) << 4 | (bold - 1)) : -1, 1);
    int cursor = st_colorindex(dict->intValueForKey("CursorColor"));
    app->_cursorColor = cursor ? t->RGBMap[cursor - 1] : fg ? t->RGBMap[fg - 1] : 0xFFFFFF;
  }
  winsetcursorcolor(app->pgl, app->_cursorColor);
  if (redraw && necessary && st_charmode(app)) {
    winfill(app->pgl, bg ? t->RGBMap[bg - 1] : 0);
    // The cells keep their values; the browsers receive them again with
    // the new colours.
    vid_touch_rows(t, 0, t->vlines - 1);
    vredraw(t);
  }
}

// ---- code pages

void app_setemoutcp(app_s* app, const char* file, const char* name) {
  if (st_charmode(app)) SetEmOutCP(app->lpte, file, name);
}

void app_setemincp(app_s* app, const char* file, const char* name) {
  if (app->lpte) SetEmInCP(app->lpte, file, name);
}

void app_setvidcp(app_s* app, const char* file, const char* name) {
  if (app->lpte) SetVidCP(app->lpte, file, name);
}

void app_setaltcp(app_s* app, const char* file, const char* name, int which) {
  te* t = app->lpte;
  if (!t || !file || !*file || (which != 1 && which != 2)) return;
  short*& field = which == 1 ? t->Alt1CPtoTCS : t->Alt2CPtoTCS;
  short* table = (short*)TCSLoadTbl(TCS_TBL_CPTOTCS, file, name ? name : "");
  TCSFreeTbl(field);
  field = table;
}

// An empty name gives the built-in table of the kind.
static const char* st_decfile(const char* file, const char* name) {
  return name && *name ? file : "";
}

void app_setdecmncp(app_s* app, const char* file, const char* name) {
  if (app->lpte) SetDECMNCP(app->lpte, st_decfile(file, name), name ? name : "");
}

void app_setdecsgcp(app_s* app, const char* file, const char* name) {
  if (app->lpte) SetDECSGCP(app->lpte, st_decfile(file, name), name ? name : "");
}

void app_setvt100sgcp(app_s* app, const char* file, const char* name) {
  if (app->lpte) SetVT100SGCP(app->lpte, st_decfile(file, name), name ? name : "");
}

void app_load_codepages(app_s* app, LumDict* dict) {
  std::string file = app_codepage_file_path(app->emlib != EM_UNIX);
  std::string cp = dict->stringValueForKey("cptrxin");
  if (cp != app->_currentCodepage || app->_currentCodepage.empty()) {
    app_setemoutcp(app, file.c_str(), cp.c_str());
    if (st_charmode(app)) {
      app_setemincp(app, file.c_str(), cp.c_str());
      app_setvidcp(app, file.c_str(), cp.c_str());
      app_setaltcp(app, file.c_str(), cp.c_str(), 1);
      app_setaltcp(app, file.c_str(), cp.c_str(), 2);
    }
    app->_currentCodepage = cp;
  }
  app_setdecmncp(app, file.c_str(), dict->stringValueForKey("cpdecmn").c_str());
  app_setdecsgcp(app, file.c_str(), dict->stringValueForKey("cpdecsg").c_str());
  app_setvt100sgcp(app, file.c_str(), dict->stringValueForKey("cpdecvt").c_str());
}

// ---- printers and the auxiliary port

void app_set_printer(app_s* app, LumDict* dict, int p) {
  te* t = app->lpte;
  if (!t || p < 1 || p > TE_PRINTERS) return;
  PRDATA& pr = t->pr_data[p - 1];
  auto value = [&](const char* base) {
    std::string key = base;
    if (p > 1) key += (char)('0' + p);
    return key;
  };
  auto num = [&](const char* base) { return dict->intValueForKey(value(base).c_str()); };
  pr.m_nPrintStopFlags = num("PrintStop") + 1;
  pr.prpause = num("printpause");
  pr.m_nColsPage = num("printcols");
  pr.m_nLinesPage = num("printlines");
  if (!pr.m_nColsPage || !pr.m_nLinesPage) {
    pr.m_nColsPage = 80;
    pr.m_nLinesPage = 65;
  }
  int option = num("prnopt");
  pr.prsettype = option & 0xFF0;
  if (option == 0 || option == 1) {
    pr.prmode = 4;
    pr.m_bIgnorePrintStop = num("IgnorePrintStop");
  } else if (option == 2) {
    pr.prmode = 1;
    pr.m_bIgnorePrintStop = 0;
    st_copy_path(pr.prfile, dict->stringValueForKey(value("prnfllst").c_str()), "prnfllst");
    if (num("prnftype") == 0)
      pr.prflags = (pr.prflags | 1) & ~2;
    else
      pr.prflags = (pr.prflags | 2) & ~1;
  } else {
    pr.prmode = 3;
  }
}

static void st_set_aux(te* t, LumDict* dict) {
  st_copy_path(t->aux_devport, dict->stringValueForKey("aux_devport"), "aux_devport");
  t->aux_port = dict->intValueForKey("aux_port");
  t->aux_baud = dict->intValueForKey("aux_baud");
  t->aux_wdlen = dict->intValueForKey("aux_wordlen");
  t->aux_stopbits = dict->intValueForKey("aux_stopbits");
  t->aux_parity = dict->intValueForKey("aux_parity");
  t->aux_dtr = dict->intValueForKey("aux_dsrdtr");
  t->aux_xonmode = dict->intValueForKey("aux_xon");
  t->aux_rts = dict->intValueForKey("aux_rtscts");
}

// ---- applying

void app_set_te_safe_values(app_s* app, LumDict* dict) {
  if (!app || !dict) return;
  te* t = app->lpte;
  app_set_safe_before(app);
  app_set_vextend(app, dict);

  app->autoReconnect = false;
  app->borderDetect = dict->intValueForKey("borderDetect");
  if (t) {
    t->wruchar = dict->intValueForKey("wruchar");
    sl_wru(t, dict->stringValueForKey("wru").c_str());
    t->maskpar = t->_vmaskpar = dict->intValueForKey("maskpar");
    t->_cleartosb = dict->intValueForKey("cleartosb");
    t->_vt4207mode = dict->intValueForKey("vt4207mode");
    // Shapes 1-4: blinking block, steady block, blinking underline, steady
    // underline; anything else configured is a blinking block.
    int cursor = dict->intValueForKey("cursor");
    t->_conf_cursor = cursor >= 0 && cursor <= 3 ? cursor : 0;
    t->tCaret = t->_conf_cursor + 1;
    vidcurtype(t, t->tCaret);
    t->dupmode = dict->boolValueForKey("mode") ? 1 : 0;
    // The host may read the screen back only when allowed; block-capable
    // terminals may start in block mode.
    t->readback = dict->boolValueForKey("screenReadBack") ? 1 : 0;
    t->sblockmode = dict->boolValueForKey("sblockmode") ? 1 : 0;
    t->addlf = dict->boolValueForKey("addlf") ? 1 : 0;
    sl_charset(t, dict->intValueForKey("charset"));
  }

  int emulation = dict->intValueForKey("emulate");
  if (emulation != app->_emulation) {
    app->_emulation = emulation;
    app_set_emulation(app, emulation);
  }

  app_set_block_mode_values(app, dict);

  app_set_color(app, dict->intValueForKey("colorfg0"), dict->intValueForKey("colorbg0"), dict,
                !app_is_connected(app));
  app_set_rows_cols(app);

  if (t) {
    // 1 is UTF-8; the engine also knows the double-byte modes 2 to 4, so
    // those pass as they are and any other non-zero value means UTF-8.
    int mb = dict->intValueForKey("MBMode");
    t->MBMode = mb >= 0 && mb <= 4 ? mb : 1;
  }
  app_load_codepages(app, dict);
  if (t) t->bsdel = dict->boolValueForKey("bsdel") ? 1 : 0;

  for (int p = 1; p <= TE_PRINTERS; p++) app_set_printer(app, dict, p);
  if (t) st_set_aux(t, dict);

  if (dict->boolValueForKey("clearEmulator") && app_get_platform_hooks().clear_emulator)
    app_get_platform_hooks().clear_emulator(app);
  app_set_safe_after(app);
  if (st_charmode(app)) {
    vidcurtype(t, t->tCaret);
    vredraw(t);
  }
}

// The log-in macro.  The dictionary keeps one line of at most 1023 bytes
// of a value, so a macro text comes whole from the settings object it was
// posted in, when that object belongs to this dictionary.
static std::string st_autologin_macro(app_s* app, LumDict* dict) {
  const js_value_s* kcf = app->_config && dict == app->_dict ? js_value_get(app->_config, "kcf") : nullptr;
  const js_value_s* macro = kcf && kcf->type == JS_VALUE_OBJECT ? js_value_get(kcf, "autologinMacroHash") : nullptr;
  if (macro && macro->type == JS_VALUE_STRING && js_value_string(macro)) return js_value_string(macro);
  return dict->stringValueForKey("autologinMacroHash");
}

void app_set_te_unsafe_values(app_s* app, LumDict* dict) {
  if (!app || !dict) return;
  app->_conntype = dict->intValueForKey("commtype");
  app->_autologin = dict->boolValueForKey("autologin");
  app->_autologinMacroHash = st_autologin_macro(app, dict);
  if (st_charmode(app)) app->lpte->_vcapslock = 0;
}

void app_set_te_using_dictionary(app_s* app, LumDict* dict) {
  if (!app || !dict) return;
  app_replace_dictionary(app, dict);
  app_apply_trace_settings(dict);
  if (!app_is_connected(app)) app_set_te_unsafe_values(app, dict);
  app_set_te_safe_values(app, dict);
}
