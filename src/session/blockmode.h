// The block-mode session binding: how a block-mode emulator (IBM 3270,
// IBM 5250) runs inside the session.  One implementation for both: host
// bytes collected into records until each IAC EOR, the records the engine
// sends going out with IAC EOR behind them, keys from browsers and macros,
// the status line and the bell for the browsers, connect and disconnect,
// click-to-position and the replay of a recorded capture.  Each emulator
// plugs in as a BlockEngine; the browser channel reads what to draw from
// the engine's formatted text window (fws_cell.h for the cells).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app.h"
#include "emulation_ids.h"
#include "status_line.h"

struct fws_window;
class LumDict;

// A block-mode emulator as the session drives it.
class BlockEngine {
 public:
  virtual ~BlockEngine() = default;

  // The window the engine paints into; the browsers are sent its cells.
  virtual fws_window* window() = 0;
  // Makes the engine active for an emulation setting (KVX_EMULATION, one of
  // its family's); false when it does not run that setting.
  virtual bool select(int emulation) = 0;
  // Settings of the engine (model, colours, code page, options), applied
  // with the session's safe values.
  virtual void applySettings(LumDict* dict) = 0;

  // The connection to the host: being made, made, gone.  `tn3270e` is the
  // connection's TN3270E state (Tn3270eFunctions: -1 for plain records).
  virtual void connecting() = 0;
  virtual void connected() = 0;
  virtual void disconnected() = 0;

  // One complete host record, telnet framing undone (IAC EOR removed, IAC
  // IAC one byte).  `tn3270eFunctions` as the connection reports it now.
  virtual void hostRecord(const uint8_t* bytes, size_t n, int tn3270eFunctions) = 0;
  // Host data outside records (line-mode text before the session turns to
  // records); most engines ignore it.
  virtual void hostText(const uint8_t* /*bytes*/, size_t /*n*/) {}
  // The next record for the host (headers included, IAC EOR not); false
  // when none waits.
  virtual bool takeRecord(std::vector<uint8_t>& out) = 0;
  // How many leading bytes of such a record carry no typed text (headers,
  // the AID, the cursor address): the trace shows those and only counts the
  // rest, which may hold a password typed into a hidden field.
  virtual size_t recordHead(const std::vector<uint8_t>& /*record*/) const { return 0; }

  // A key from a browser (fromMacro false) or a macro: a Unicode character
  // or a key code of keycodes.js (private-use block).  False when the key
  // has no function (the binding rings the bell).
  virtual bool key(int code, bool fromMacro) = 0;
  // The cursor, row and column counted from 0 at the top left.
  virtual void cursor(int& row, int& col) const = 0;
  // Moves the cursor to a cell; false when it lies outside the screen.
  virtual bool moveCursor(int row, int col) = 0;
  // The status line (KVX_HOST_ACTION_STATUS) as the engine shows it now.
  virtual kvx_status_line statusLine() const = 0;
  // The device name the host confirmed in the station's own records (the
  // 5250 startup response); empty when it sent none.
  virtual std::string confirmedDevice() const { return {}; }
  // Its fields as the STATUS frame carries them.
  std::vector<std::string> status() const { return kvx_status_line_fields(statusLine()); }

  // Capture replay: host records without a host; replies are not sent.
  virtual void replayBegin() = 0;
  virtual void replayEnd() = 0;

  // The screen's hash, which macros wait for (`h` lines); empty when the
  // engine has none.
  virtual std::string screenHash() const { return {}; }

  // Paints a text into the screen as a field (TN3270_WriteToEmulator);
  // engines without such a path ignore it.
  virtual void writeText(int /*type*/, int /*row*/, int /*col*/, const char* /*text*/) {}
};

// Registers the engine for APP_EM_LIB slot `lib` (EM_TN3270, EM_TN5250); the
// session owns it from then on.
void app_block_register(app_s* app, APP_EM_LIB lib, BlockEngine* engine);
// The engine of the active emulator, or null in character mode.
BlockEngine* app_block_engine(const app_s* app);
// Prepares the block-mode state (at session creation; the engines built
// into this program are made when a session first selects their emulator)
// and frees it with the engines (at the end of the process).
void app_block_create(app_s* app);
void app_block_destroy(app_s* app);

// ---- the session core's calls ----
// Host bytes of one read in block mode: `ends` are the ends of record the
// connection found in them (offsets, ascending).
void app_block_host_data(app_s* app, const uint8_t* bytes, int n, const std::vector<int>& ends);
// After a host-data pass that read anything: changes, status and bell to
// the browsers.
void app_block_after_host_data(app_s* app);
void app_block_connecting(app_s* app);
void app_block_connected(app_s* app);
void app_block_disconnected(app_s* app, bool autoReconnect);
// A key frame from a browser, or a key from a macro (only while connected).
void app_block_key(app_s* app, int key, bool fromMacro);
// Click-to-position (KVX_CLIENT_ACTION_MOUSE): row and column from the top.
void app_block_mouse(app_s* app, int row, int col);
// app_mouse_press: button -1 takes x, y as a cell as macros give it: a column
// and a row from 0, counted from the top in 3270 and from the bottom in 5250.
void app_mouse_press(app_s* app, int button, int x, int y);

// ---- sending ----
// Sends what the active engine has queued for the host, each record
// followed by IAC EOR.
void TN3270_tx_send_attempt(app_s* app, int ack);
// IAC EOR, raw, when connected.
void app_sendeor(app_s* app);

// ---- the status line, the bell ----
// The fields of the last status sent; a client that attaches gets them.
const std::vector<std::string>& app_block_status(const app_s* app);
// Sends the status line when it changed (force: always), and the bell when
// the engine rang it.
void app_block_send_status(app_s* app, bool force);

// ---- records and captures ----
// Largest record collected; a host that never sends IAC EOR cannot grow the
// collector beyond it (the record is dropped).
constexpr size_t kBlockMaxRecord = 64 * 1024;

// Replays a recorded host data stream (telnet framing included) into the
// active block-mode emulator: records one by one, no replies.  Returns 0
// when it was replayed, 1 when the session is connected (refused), 2 when
// no block-mode emulator is active (nothing done).
int app_load_capture(app_s* app, const uint8_t* bytes, size_t n);

// Paints a text into the 3270 screen as a field of `type` at (row, col),
// both from 1 (the banner).
void TN3270_WriteToEmulator(app_s* app, int type, int row, int col, const char* text);
