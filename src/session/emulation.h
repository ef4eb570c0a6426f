// Emulation selection and screen sizing of the session: which emulator is
// active, which emulation the character-mode terminal runs, the size of the
// character-mode screen and the size of the drawing surface.  The terminal
// record itself (TEInit, TESimpleInit, TEDestroy, the code-page setters,
// sl_emulate, sl_charset) is the engine's: te/te.h.
#pragma once

#include "app.h"
#include "emulation_ids.h"
#include "te/te.h"

// Selects the active emulator and emulation for an `emulate` setting
// (KVX_EMULATION): the 3270 and 5250 settings the block-mode emulators,
// every other one a character-mode emulation.  A setting whose emulation is not available here (no such
// number, or its family or emulator is not built) leaves the session on its
// current emulation, writes one error trace line and tells the browsers
// (KVX_HOST_ACTION_NOTICE, kind "emulation").
void app_set_emulation(app_s* app, int emulation);
// The `emulate` setting of what runs now (the one asked for, or the one
// the session stayed on when that was not available); -1 when no setting
// names it.  Connections announce its terminal name to the host.
int app_running_emulation(app_s* app);

// Resizes the character-mode screen to rows x cols (character mode only):
// new cells take the default attribute, jump scrolling restarts.
void app_set_rowscols(app_s* app, int rows, int cols);
// app_set_rowscols with _rows x _cols, then tells the host the size the
// terminal has.
void app_set_rows_cols(app_s* app);

// A new drawing-surface size (at least 100 x 100).  Unless forced, the same
// size changes nothing.  In character mode the layout is recomputed: with
// extended sizing the screen takes as many rows and columns as fit (and the
// host is told when they change), otherwise only the font is fitted.
void app_onresize(app_s* app, int width, int height, int force);

// Recomputes the character-mode layout for the surface (the size the
// drawing handle holds).
void app_vidcalc(app_s* app);

// Character cell of the standard font, and of the extended screen for a
// font size n (n x 1.5n).
constexpr int APP_STD_CHAR_WIDTH = 8;
constexpr int APP_STD_CHAR_HEIGHT = 16;
// Largest font size of the extended screen.
constexpr int APP_MAX_FONT_SIZE = 200;

// ---- block-mode seams (the block-mode binding, blockmode.cpp) ----
// Makes the 3270 or 5250 emulator active for a block-mode setting
// (kvx_em_is_block); false when that emulator is not built.
bool app_set_block_mode_emulation(app_s* app, int emulation);
// The block-mode step of a surface resize.
void app_resize_block_mode(app_s* app);
