// The session's keyboard path: a key code from a browser or a macro becomes
// the active emulation's key string, a host code-page byte, or UTF-8.
#pragma once

struct app_s;

// A key from a browser (key frame).
void app_onkey(app_s* app, int key);
// The general key entry.  `key` is a Unicode code point for a character or
// a private-use code point for a terminal key (keycodes.js); codes outside
// 0..65535 are dropped.  In character mode: the emulation's key string when
// it has one; otherwise one host byte (national replacement or the host
// code page), or the UTF-8 form when the host speaks UTF-8.  A key code
// without a string of its own sends nothing.  A surrogate pair arriving as
// two keys is sent as the one character it encodes.
void _app_onkey(app_s* app, int key, bool fromMacro);
// Feeds a text in key notation (TCSConvert: "<F1>", "^C", characters) as
// keys, characters by their Unicode values.
void app_send_translated_string(app_s* app, const char* text);
// The emulation's key string for a TCS code, or null.
const char* app_translate_key(app_s* app, int tcs);
