// Macro playback: a short line-oriented text that drives the session the way
// a user would.  Each line starts with its record letter:
//
//   k <code> [(form)]   type the key code (a Unicode value or a terminal key)
//   c <col> <row>       move the block-mode cursor there (rows from 0, counted
//                       from the top in 3270, from the bottom in 5250)
//   h <hash>            wait for the block-mode screen with this hash
//   a <col> <row> text  wait until the screen shows the text there
//   s <token>           type the secret stored under the secure-store token
//   u / p               the user name / the password (below)
//   w text / t text     dialog: wait for the text / send it (escape notation)
//   n <count>           dialog: pause that many seconds
//   E <digit>           a non-zero digit makes this a dialog macro
//   T H L K e           title, host, labels and end: ignored
//
// `w`, `t` and `n` lines, and `u`, `p` and `s` lines once the macro is a
// dialog macro, are compiled into a dialog script (dialog.h) that runs
// against the host's output.  Everything happens in the macro's order: a
// line that acts on the session directly (a key, a cursor move, a screen
// wait) first lets the dialog text before it run to its end.  `u` is the
// `user` setting, `p` the secret behind the `passwordHash` token.  In a
// 3270 or 5250 session a dialog's output is typed as keys (a carriage
// return is Enter) and its waits look for the text on the screen.
//
// A macro comes as text (a setting) or, when the server has a macro
// directory, as the name of a regular file in it.
#pragma once

#include <cstddef>
#include <string>

struct app_s;

// Longest macro text or file, and longest line with its line end.
constexpr size_t MAC_MAX_TEXT = 65536;
constexpr size_t MAC_MAX_LINE = 1023;
// Most one-second pauses one `n` line adds.
constexpr int MAC_MAX_PAUSE = 3600;

// Plays `macro`: the name of a file in the macro directory, or else the
// macro text itself.  Any playback in progress stops first; an empty
// macro, or a file that cannot be played, ends playback at once.
void app_macro_playback(app_s* app, const char* macro);
// Reads and plays lines until the macro pauses, hands over to a dialog
// script, or ends.
void app_macro_continue(app_s* app);
// A new block-mode screen: resumes a macro that waits for this hash, or for
// a text the screen now shows.
void app_macro_playback_continue_with_hash(app_s* app, const char* hash);
// Stops playback and any dialog script it runs.
void app_macro_stop_playback(app_s* app);
// Whether a macro plays (in any state of MAC_STATE but MAC_IDLE), and
// whether it waits for a screen.
bool app_macro_playing(const app_s* app);
bool app_macro_waiting(const app_s* app);

// The session's host-data pass hands every byte it has given the screen
// here while a macro plays: a running dialog script sees each byte, and a
// macro waiting for screen text looks at the screen again.
void app_macro_host_data(app_s* app, const unsigned char* bytes, size_t length);

// Block mode: a complete host record has reached the emulator and `hash`
// is the screen's hash now.  Starts a pending log-in macro, then lets a
// macro waiting for this screen (its hash, or a text it now shows) go on.
void app_macro_block_record(app_s* app, const char* hash);

// Types UTF-8 text key by key (a dialog script's output in block mode).
void app_macro_type_bytes(app_s* app, const char* bytes, size_t length);
// Whether a row of the block-mode screen shows `text` (UTF-8).
bool app_macro_screen_shows(app_s* app, const std::string& text);

// Whether the screen shows `text` (UTF-8) from column `x` of row `y` on
// (both from 0).
int app_macro_match_string(app_s* app, int x, int y, const char* text);

// The macro file `name` inside `directory`: only a plain name (no '/', no
// "." or ".."), only a regular file, at most MAC_MAX_TEXT bytes.  0 with
// the text in *text; -1 when no such file exists (the name may be macro
// text); -2 when a file exists but may not be played (the reason traced).
int mac_read_file(const std::string& directory, const std::string& name, std::string* text);
