// Dialog scripts: compact byte strings that hold a conversation with a
// character-mode host.  Control bytes are commands (send the user name or
// the password, wait for a text in the host's output, pause a second, end);
// every other byte is output, written in an escape notation ("^M", "\r",
// "\x1b", ...) and expanded just before it is sent.  The session runs a
// script once when it starts, then with every byte of host output and with
// the ticks of the script's timer, which the macro player asks for with
// app_dialog_schedule_timeout.
//
// A run reports only whether the script goes on or has ended; how it ended
// (end of script, an end command and its result digit, a time-out, an
// error) is kept apart in dialogEnd and dialogResult.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct app_s;

// Command bytes.
enum : unsigned char {
  DLG_CMD_END = 0,
  DLG_CMD_FLUSH = 2,
  DLG_CMD_PORT = 3,
  DLG_CMD_SECRET = 5,  // 5, a secure-store token, 5: the stored value, sent as it is
  DLG_CMD_FLUSH2 = 6,
  DLG_CMD_HOST = 8,
  DLG_CMD_LITERAL = 11,
  DLG_CMD_LABEL = 12,
  DLG_CMD_NOP = 14,
  DLG_CMD_PASSWORD = 16,
  DLG_CMD_EXIT = 18,
  DLG_CMD_WAIT = 19,
  DLG_CMD_TIMEOUT = 20,
  DLG_CMD_USER = 21,
  DLG_CMD_PAUSE = 23,
  DLG_CMD_CUT = 26,
};

// dialogState.
enum DLG_STATE : int {
  DLG_RUNNING = 0,
  DLG_WAITING = 1,   // for a text in the host's output
  DLG_PAUSING = 2,   // until the next tick
  DLG_FOUND = 3,     // the awaited text has been seen
  DLG_FETCHING = 4,  // the platform supplies a credential
  DLG_IDLE = 5,      // no script, or it has ended
};

// What a run returns.
enum DLG_RUN : int {
  DLG_RUN_ENDED = 0,
  DLG_RUN_GOING = 1,  // waiting or pausing: more host output or ticks to come
};

// dialogEnd: how the last script ended; dialogResult holds its value.
enum DLG_END : int {
  DLG_END_NONE = 0,     // no script was running
  DLG_END_SCRIPT = 1,   // the end of the script or its end command 0 (result 0)
  DLG_END_EXIT = 2,     // an end command 18 (result: its digit, 1 without one)
  DLG_END_TIMEOUT = 3,  // a wait or the whole script ran out of time (result 2)
  DLG_END_ERROR = 4,    // the script is malformed (result: the error number)
  DLG_END_STOPPED = 5,  // stopped from outside
};

// Inputs of app_dialog_run besides host bytes 1 to 255.
constexpr int DLG_NO_CHAR = 0;
constexpr int DLG_TICK = -1;

// Error numbers (traced as "Error #%d (no strings file)").
constexpr int DLG_ERR_SECRET = 816;      // the token of a secret is not in the store
constexpr int DLG_ERR_UNCLOSED = 1119;   // a secret runs past the end of the script
constexpr int DLG_ERR_OPERAND = 1120;    // a command's operands run past the end of the script
constexpr int DLG_ERR_TIMEOUT_ARG = 1121;  // a time-out command without two digits
constexpr int DLG_ERR_TOO_LONG = 1122;   // the script is longer than DLG_MAX_SCRIPT

// Longest script accepted, and the seconds a script may take in all.
constexpr size_t DLG_MAX_SCRIPT = 65536;
constexpr int DLG_SCRIPT_SECONDS = 60;
constexpr int DLG_DEFAULT_TIMEOUT = 60;
constexpr int DLG_TICK_MS = 1000;

// Replaces the session's script with a copy of `script` and runs it once
// without a character.  DLG_RUN_ENDED when that run already ended it.
int app_dialog_start(app_s* app, std::string_view script);
// Feeds one host byte (1 to 255), DLG_TICK or DLG_NO_CHAR.
int app_dialog_run(app_s* app, int c);
// Feeds host bytes as app_dialog_run does one by one, checking the wait's
// deadline once; *used is the count taken: all of them while the script
// goes on, up to the byte after which it ended otherwise.
int app_dialog_feed(app_s* app, const unsigned char* bytes, size_t n, size_t* used);
// A 3270 or 5250 session has a new screen: a waiting script goes on when
// the screen shows the awaited text (anywhere on one row).
int app_dialog_screen(app_s* app);
// Drops the script (dialogEnd DLG_END_STOPPED when one was running).
void app_dialog_stop(app_s* app);

// Expands the escape notation: "^X" is X AND 0x1F; "\b" "\e" "\f" "\n" "\r"
// "\t" "\v" (either case), "\x" with one or two hexadecimal digits, up to
// three octal digits, or one of " $ ' - \ ^ after a backslash.  False (and
// `out` empty) for a text with an invalid escape.
bool dlg_expand(std::string_view text, std::string* out);

// Milliseconds of the monotonic clock the scripts' deadlines use.
int64_t dlg_now_ms();
