// Replay of recorded block-mode sessions (te-replay --emulation 22..27):
// every host record of a trace goes to the emulator in order, and every
// recorded operator action (an AID with its modified fields) is typed again
// through the emulator's keyboard, as an operator would.
//
// An emulation plugs in as a br_engine; the trace reading, telnet framing,
// TN3270E headers and the command line are shared.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "emulation_ids.h"
#include "tracefile.h"

class br_engine {
 public:
  virtual ~br_engine() = default;
  // A host record (TN3270E header still in front when `tn3270e`).
  virtual void host_record(const std::vector<uint8_t>& bytes, bool tn3270e) = 0;
  // Line-mode text the host sent outside records.
  virtual void host_text(const std::vector<uint8_t>& /*bytes*/) {}
  // A record the terminal sent in the recording; the engine types it again
  // when it carries an operator action.
  virtual void terminal_record(const std::vector<uint8_t>& bytes, bool tn3270e) = 0;
  // The screen as the display shows it, one line per row.
  virtual std::string screen() const = 0;
  // "row col" of the cursor (from 0) and the keyboard state ("U" unlocked,
  // "L" locked).
  virtual std::string cursor() const = 0;
  // The records the engine sent to the host, in order (3270 data only, no
  // headers), oldest first; taken from the engine.
  virtual std::vector<std::vector<uint8_t>> take_sent() = 0;
};

// The 3270 engine at model 2..5, with a custom size (rows x cols, 0 x 0 for
// the model's own) as its maximum.
std::unique_ptr<br_engine> br_engine_3270(int model, int oversizeRows = 0, int oversizeCols = 0);

struct br_options {
  int emulation = 0;  // a block-mode setting (KVX_EMULATION): 3270 or 5250
  int model = 2;
  int oversizeRows = 0, oversizeCols = 0;  // --oversize COLSxROWS
  std::string trace;
  bool everyRecord = false;
  bool showCursor = false;
};

// The engine for an emulation setting, or null.
std::unique_ptr<br_engine> br_engine_for(const br_options& o);

// Plays the events; calls `after` after each host record that ended in
// IAC EOR (n from 1).
template <typename F>
void br_play(br_engine& e, const std::vector<trc_event>& events, F after) {
  int n = 0;
  for (const trc_event& ev : events) {
    if (ev.kind == TRC_NVT && ev.fromHost) {
      e.host_text(ev.bytes);
    } else if (ev.kind == TRC_RECORD && ev.fromHost) {
      e.host_record(ev.bytes, ev.tn3270e);
      after(++n);
    } else if (ev.kind == TRC_RECORD) {
      e.terminal_record(ev.bytes, ev.tn3270e);
    }
  }
}

// The command line of the block-mode replay: true when argv asks for it
// (--trace, or --emulation 22..27).
bool br_wanted(int argc, char** argv);
int br_main(int argc, char** argv);
// Lines for the replay tool's usage text.
extern const char* const br_usage;
