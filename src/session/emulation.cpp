// Emulation selection and screen sizing: the active emulator, the
// emulation the character-mode terminal runs, its screen size, and the
// layout of the drawing surface.
#include "emulation.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform.h"
#include "tetrace.h"

// Name of what the session runs now, for the error lines.
static const char* emu_current_name(app_s* app) {
  if (app->emlib == EM_TN3270) return "IBM 3270";
  if (app->emlib == EM_TN5250) return "IBM 5250";
  const char* name = app->lpte ? EmName(app->lpte->teloaded) : nullptr;
  return name ? name : "no emulation";
}

// The browsers learn why another emulation runs than the one asked for (an
// empty text: the one asked for runs).
static void emu_notice(app_s* app, const std::string& text) {
  if (app->emulationNotice == text) return;
  app->emulationNotice = text;
  if (app_channel().send_notice) app_channel().send_notice(app, "emulation", text.c_str());
}

static void emu_unavailable(app_s* app, int emulation, int number) {
  const char* asked = number > 0 && EmName(number) ? EmName(number) : nullptr;
  TE_Trace(TRACE_FAIL, "%s: emulation setting %d (%s) is not available; the session stays on %s\n",
           "app_set_emulation", emulation, asked ? asked : "no emulator", emu_current_name(app));
  char text[160];
  if (asked)
    snprintf(text, sizeof text, "Emulation %s is not available here; the session runs %s.", asked,
             emu_current_name(app));
  else
    snprintf(text, sizeof text, "Emulation setting %d is not available here; the session runs %s.", emulation,
             emu_current_name(app));
  emu_notice(app, text);
}

int app_running_emulation(app_s* app) {
  if (!app) return -1;
  if (app->emlib != EM_UNIX) return app->_emulation;
  return app->lpte ? EmEmulationToSetting(app->lpte->teloaded) : -1;
}

void app_set_emulation(app_s* app, int emulation) {
  if (!app) return;
  TE_Trace(TRACE_5250, "%s: Setting emulation to %d\n", "app_set_emulation", emulation);
  if (kvx_em_is_block(emulation)) {
    if (app_set_block_mode_emulation(app, emulation))
      emu_notice(app, "");
    else
      emu_unavailable(app, emulation, -1);
    return;
  }
  te* t = app->lpte;
  int number = EmSettingToEmulation(emulation);
  // Only an emulation whose family is built may replace the running one.
  if (!t || number <= 0 || !EmFindProcs(number)) {
    emu_unavailable(app, emulation, number);
    return;
  }
  if (app->emlib != EM_UNIX) {
    app->emlib = EM_UNIX;
    app_onresize(app, app->winw, app->winh, 1);
  }
  if (sl_emulate(t, number) != 0) {
    emu_unavailable(app, emulation, number);
    return;
  }
  emu_notice(app, "");
  app_vidcalc(app);
}

void app_set_rowscols(app_s* app, int rows, int cols) {
  te* t = app ? app->lpte : nullptr;
  if (!t || app->emlib != EM_UNIX) return;
  sbreset(t);
  if (t->vlines == rows && t->vcols == cols) return;
  // New cells take the default attribute, whatever the host left current.
  CHATTR current = t->_vcurattr;
  t->_vcurattr = EmGetDefaultAttr(t);
  vsetsize(t, rows, cols, 0);
  t->_vcurattr = current;
  vredraw(t);
  vidcurtype(t, t->vcurshape);
  t->jumplines = 0;
  t->jumpscroll = t->vlines - 1;
}

void app_set_rows_cols(app_s* app) {
  if (!app) return;
  app_set_rowscols(app, app->_rows, app->_cols);
  // The host learns the size the terminal really has (the engine clamps
  // what it cannot show).
  te* t = app->lpte;
  if (t && app->emlib == EM_UNIX && app_get_platform_hooks().update_remote_rows)
    app_get_platform_hooks().update_remote_rows(app, t->vlines, t->vcols);
}

void app_vidcalc(app_s* app) {
  te* t = app ? app->lpte : nullptr;
  if (!t) return;
  int saved = t->outflag;
  t->outflag = 1;
  if (t->vextend) {
    PGL* pgl = app_pgl(app);
    int xc = pgl && pgl->xChar > 0 ? pgl->xChar : APP_STD_CHAR_WIDTH;
    int yc = pgl && pgl->yChar > 0 ? pgl->yChar : APP_STD_CHAR_HEIGHT;
    int cols = std::clamp(app->winw / xc, 1, TE_MAXCOLS);
    int rows = std::clamp(app->winh / yc, 1, TE_MAXLINES);
    vsetsize(t, rows, cols, 0);
  } else {
    // The font is scaled to the surface, so every row and column fits.
    t->scols = 0;
    t->slines = 0;
  }
  t->outflag = saved;
}

void app_onresize(app_s* app, int width, int height, int force) {
  if (!app) return;
  if (height < 0) height = 1;
  TE_Trace(TRACE_SESSION, "app_onresize called for w=%d, h=%d, force=%d\n", width, height, force);
  width = std::max(width, 100);
  height = std::max(height, 100);
  winsetsize(app->pgl, width, height);
  if (width == app->winw && height == app->winh && !force) return;
  app->winw = width;
  app->winh = height;
  if (app->emlib != EM_UNIX) {
    app_resize_block_mode(app);
    return;
  }
  te* t = app->lpte;
  if (!t) return;
  int bg = t->bgcolor[0];
  winfill(app->pgl, bg >= 1 && bg <= 16 ? t->RGBMap[bg - 1] : 0);
  if (t->vextend) {
    int size = t->nFixedFontSize > 0 ? std::min(t->nFixedFontSize, APP_MAX_FONT_SIZE) : 10;
    if (app_pgl(app) && app_pgl(app)->xChar != size) winsetfont(app->pgl, size, size * 3 / 2);
  } else {
    winsetfont(app->pgl, APP_STD_CHAR_WIDTH, APP_STD_CHAR_HEIGHT);
  }
  t->vscaling = !t->vextend;
  int rows = t->vlines, cols = t->vcols;
  app_vidcalc(app);
  vidcurtype(t, t->vcurshape);
  sbreset(t);
  if (t->vextend && (rows != t->vlines || cols != t->vcols)) {
    if (app_get_platform_hooks().update_remote_rows)
      app_get_platform_hooks().update_remote_rows(app, t->vlines, t->vcols);
    return;
  }
  vredraw(t);
}

