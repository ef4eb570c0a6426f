// Session settings: applying a settings dictionary (LumDict) to the
// terminal, the colour tables, the code-page tables and the session fields.
// Connection parameters (the unsafe values) are applied only while the
// session is not connected; everything else (the safe values) at any time.
#pragma once

#include <cstdint>

#include "app.h"
#include "hostname.h"  // app_preprocess_hostname, app_get_dictionary_hostname
#include "te/terec.h"

class LumDict;

// Makes `dict` the session's dictionary (deleting a different previous one;
// the session owns it), applies the unsafe values when not connected, then
// the safe values.  A null dictionary does nothing.
void app_set_te_using_dictionary(app_s* app, LumDict* dict);
// Screen, terminal, emulation, colours, code pages, printers, auxiliary port.
void app_set_te_safe_values(app_s* app, LumDict* dict);
// Connection kind, autologin and its macro; caps lock off.
void app_set_te_unsafe_values(app_s* app, LumDict* dict);

// Extended-screen mode and the requested screen size.
void app_set_vextend(app_s* app, LumDict* dict);

// Colour maps from the RGBMap keys, the normal colours fg/bg (1-based
// colour indexes, 0 = not set) and the bold and cursor colours.  With
// `redraw` the screen is redrawn when anything changed.
void app_set_color(app_s* app, int fg, int bg, LumDict* dict, bool redraw);
// The "RGBMap%d" keys; true when any was present.
bool app_set_rgb_colors(app_s* app, LumDict* dict);
// Hexadecimal RGB text ("FF8000", "00FF8000", "0x00FF8000") to a COLORREF
// (red in the low byte); empty or null text gives 0.
COLORREF app_colorref_from_string(const char* text);

// Code pages: the host code page (cptrxin) and the DEC tables.
void app_load_codepages(app_s* app, LumDict* dict);
void app_setemoutcp(app_s* app, const char* file, const char* name);
void app_setemincp(app_s* app, const char* file, const char* name);
void app_setvidcp(app_s* app, const char* file, const char* name);
// which: 1 or 2.  Loads only with a file name.
void app_setaltcp(app_s* app, const char* file, const char* name, int which);
void app_setdecmncp(app_s* app, const char* file, const char* name);
void app_setdecsgcp(app_s* app, const char* file, const char* name);
void app_setvt100sgcp(app_s* app, const char* file, const char* name);

// Printer p (1-6) from its keys (suffix "" for printer 1, else the digit).
void app_set_printer(app_s* app, LumDict* dict, int p);

// The block-mode rows of the settings (3270/5250 models, their colours, code
// page, blank character, backspace rule), applied to the active block-mode
// engine (blockmode.cpp).
void app_set_block_mode_values(app_s* app, LumDict* dict);
