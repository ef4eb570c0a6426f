// The block-mode session binding, the part both block-mode emulators share:
// engines by emulator slot, records collected from host reads until IAC
// EOR (capped), records sent with IAC EOR, keys (the bell for keys without
// a host), click-to-position, the status line and the bell for the
// browsers, connect and disconnect, the emulation and settings seams of the
// session, and the replay of a recorded capture.
#include "blockmode.h"

#include <algorithm>
#include <memory>

#include "block3270.h"
#include "block5250.h"
#include "channel_actions.h"
#include "emulation.h"
#include "fws/fws.h"
#include "lumconnection.h"
#include "lumdict.h"
#include "macro.h"
#include "replay/tracefile.h"
#include "settings.h"
#include "tetrace.h"

// The block-mode state of a session.
struct app_block_state {
  std::unique_ptr<BlockEngine> engines[3];
  std::vector<uint8_t> record;  // host bytes of the record being collected
  bool overflow = false;        // the record outgrew kBlockMaxRecord: dropped at its end
  bool delivered = false;       // a record went to the engine in this pass
  std::vector<std::string> status;  // last status line sent
};

namespace {

app_block_state* state(const app_s* app) {
  return app ? app->block.get() : nullptr;
}

void send_all(app_s* app, int action, const std::vector<std::string>& fields) {
  if (!app_channel().send_action) return;
  std::vector<const char*> list;
  for (const std::string& f : fields) list.push_back(f.c_str());
  list.push_back(nullptr);
  app_channel().send_action(app, action, list.data());
}

void bell(app_s* app) {
  send_all(app, KVX_HOST_ACTION_BELL, {});
}

// Changes, cursor and status line after anything that may have painted.
void show(app_s* app) {
  if (app_channel().send_region) app_channel().send_region(app);
  if (app_channel().send_cursor) app_channel().send_cursor(app);
  app_block_send_status(app, false);
}

void deliver(app_s* app, BlockEngine* e, app_block_state* s) {
  if (s->overflow) {
    TE_Trace(TRACE_3270_DS | TRACE_FAIL, "Block mode: a host record longer than %zu bytes was dropped\n",
             kBlockMaxRecord);
    s->overflow = false;
  } else {
    int tn3270e = app->_conn ? app->_conn->Tn3270eFunctions() : -1;
    e->hostRecord(s->record.data(), s->record.size(), tn3270e);
    s->delivered = true;
  }
  s->record.clear();
  // A complete record lets a paused macro or a pending log-in go on, once
  // the engine's answers to it are on their way.
  app->_macroContinue = app_macro_waiting(app) || app->_autologin;
  TN3270_tx_send_attempt(app, 0);
  if (app_macro_playing(app) || app->_autologin) app_macro_block_record(app, e->screenHash().c_str());
}

void collect(app_block_state* s, const uint8_t* bytes, size_t n) {
  if (!n || s->overflow) return;
  if (s->record.size() + n > kBlockMaxRecord) {
    s->overflow = true;
    std::vector<uint8_t>().swap(s->record);
    return;
  }
  s->record.insert(s->record.end(), bytes, bytes + n);
}

}  // namespace

void app_block_register(app_s* app, APP_EM_LIB lib, BlockEngine* engine) {
  if (!app || lib == EM_UNIX) {
    delete engine;
    return;
  }
  if (!app->block) app->block.reset(new app_block_state());
  app->block->engines[lib].reset(engine);
}

BlockEngine* app_block_engine(const app_s* app) {
  app_block_state* s = state(app);
  if (!s || app->emlib == EM_UNIX) return nullptr;
  return s->engines[app->emlib].get();
}

void app_block_create(app_s* app) {
  if (!app) return;
  if (!app->block) app->block.reset(new app_block_state());
}

namespace {

// The engine of slot `lib`, made the first time a session selects it: a
// character-mode session never pays for the block-mode screens.
BlockEngine* engine_for(app_s* app, APP_EM_LIB lib) {
  app_block_create(app);
  app_block_state* s = state(app);
  if (!s) return nullptr;
  if (BlockEngine* e = s->engines[lib].get()) return e;
  if (lib == EM_TN3270) {
    BlockEngine* e3270 = blk3270_new(app);
    if (!e3270) {
      TE_Trace(TRACE_FAIL, "Unable to create the 3270 record.\n");
      return nullptr;
    }
    app->lptn3270 = blk3270_record(e3270);
    app_block_register(app, EM_TN3270, e3270);
  } else if (lib == EM_TN5250) {
    BlockEngine* e5250 = blk5250_new(app);
    if (!e5250) {
      TE_Trace(TRACE_FAIL, "Unable to create the 5250 record.\n");
      return nullptr;
    }
    app->lptn5250 = blk5250_record(e5250);
    app->_te5250 = blk5250_control(e5250);
    app_block_register(app, EM_TN5250, e5250);
  }
  return s->engines[lib].get();
}

}  // namespace

void app_block_destroy(app_s* app) {
  if (!app || !app->block) return;
  app->block.reset();
  app->lptn = app->lptn3270 = app->lptn5250 = nullptr;
  app->_te5250 = nullptr;
}

void app_block_free(app_block_state* s) {
  delete s;
}

// ---- the session's seams ----

bool app_set_block_mode_emulation(app_s* app, int emulation) {
  app_block_state* s = state(app);
  APP_EM_LIB lib = kvx_em_is_3270(emulation) ? EM_TN3270 : EM_TN5250;
  BlockEngine* e = s ? engine_for(app, lib) : nullptr;
  if (!e || !e->select(emulation)) return false;
  app->lptn = lib == EM_TN3270 ? app->lptn3270 : app->lptn5250;
  if (app->emlib != lib) {
    app->emlib = lib;
    app_onresize(app, app->winw, app->winh, 1);
  }
  return true;
}

void app_resize_block_mode(app_s* app) {
  // The screen size is the model's; the surface only frames it.  The
  // browsers get the screen again.
  if (app_block_engine(app) && app_channel().send_screen) app_channel().send_screen(app);
}

void app_set_block_mode_values(app_s* app, LumDict* dict) {
  if (BlockEngine* e = app_block_engine(app)) e->applySettings(dict);
}

// ---- host data ----

void app_block_host_data(app_s* app, const uint8_t* bytes, int n, const std::vector<int>& ends) {
  BlockEngine* e = app_block_engine(app);
  app_block_state* s = state(app);
  if (!e || !s || n < 0) return;
  if (!app->_haveFirstData && (n > 0 || !ends.empty())) {
    app->_haveFirstData = true;
    e->window()->status_msg[0] = 0;
  }
  // Before the host has agreed to records, what it sends is line-mode text.
  if (ends.empty() && s->record.empty() && app->_conn && !app->_conn->RecordsAgreed()) {
    e->hostText(bytes, static_cast<size_t>(n));
    return;
  }
  int from = 0;
  for (int end : ends) {
    end = std::clamp(end, from, n);
    collect(s, bytes + from, static_cast<size_t>(end - from));
    deliver(app, e, s);
    from = end;
  }
  collect(s, bytes + from, static_cast<size_t>(n - from));
}

void app_block_after_host_data(app_s* app) {
  app_block_state* s = state(app);
  if (!s || !app_block_engine(app)) return;
  s->delivered = false;
  show(app);
}

void app_block_connecting(app_s* app) {
  BlockEngine* e = app_block_engine(app);
  if (!e) return;
  std::snprintf(e->window()->status_msg, FWS_STATUS_SIZE, "CONNECTING");
  e->connecting();
  app_block_send_status(app, false);
}

void app_block_connected(app_s* app) {
  BlockEngine* e = app_block_engine(app);
  app_block_state* s = state(app);
  if (!e || !s) return;
  s->record.clear();
  s->overflow = false;
  e->connected();
  show(app);
}

void app_block_disconnected(app_s* app, bool autoReconnect) {
  BlockEngine* e = app_block_engine(app);
  app_block_state* s = state(app);
  if (!e || !s) return;
  s->record.clear();
  s->overflow = false;
  e->disconnected();
  if (!autoReconnect) std::snprintf(e->window()->status_msg, FWS_STATUS_SIZE, "DISCONNECTED");
  show(app);
}

// ---- keys and the cursor ----

void app_block_key(app_s* app, int key, bool fromMacro) {
  BlockEngine* e = app_block_engine(app);
  if (!e) return;
  if (!app_is_connected(app) && fromMacro) return;  // a macro's key waits for no host
  // A person's key without a host waits in the station's typeahead ring
  // for the host's first unlock.
  if (!e->key(key, fromMacro)) bell(app);
  TN3270_tx_send_attempt(app, 0);
  show(app);
}

void app_block_mouse(app_s* app, int row, int col) {
  BlockEngine* e = app_block_engine(app);
  if (!e || !e->moveCursor(row, col)) return;
  show(app);
}

void app_mouse_press(app_s* app, int button, int x, int y) {
  // Pixel positions need the drawing layer, which nobody sees here.
  if (button != -1) return;
  BlockEngine* e = app_block_engine(app);
  if (e && app->emlib == EM_TN5250) {
    // A 5250 macro's cell is a column and a row counted from the bottom
    // (0 is the last row), clamped to the screen; negative ones do nothing.
    const fws_window* w = e->window();
    if (x < 0 || y < 0 || !w || w->wndsize.x <= 0 || w->wndsize.y <= 0) return;
    x = std::min(x, w->wndsize.x - 1);
    y = std::max(w->wndsize.y - 1 - y, 0);
  }
  app_block_mouse(app, y, x);
}

// ---- sending ----

void app_sendeor(app_s* app) {
  static const char eor[2] = {static_cast<char>(0xFF), static_cast<char>(0xEF)};
  if (app_is_connected(app)) app_bcomout_raw(app, eor, 2);
}

void TN3270_tx_send_attempt(app_s* app, int) {
  BlockEngine* e = app_block_engine(app);
  if (!e) return;
  std::vector<uint8_t> record;
  while (e->takeRecord(record)) {
    if (!app_is_connected(app)) continue;  // no host: dropped
    const size_t head = std::min(e->recordHead(record), record.size());
    TE_Trace_Data(TRACE_3270_DS, "TN3270_tx_send_attempt: (2)", record.data(), static_cast<int>(head));
    if (head < record.size())
      TE_Trace(TRACE_3270_DS, "TN3270_tx_send_attempt: and %zu bytes of field data, not shown\n", record.size() - head);
    app_bcomout(app, reinterpret_cast<const char*>(record.data()), static_cast<int>(record.size()));
    app_sendeor(app);
  }
}

// ---- the status line and the bell ----

const std::vector<std::string>& app_block_status(const app_s* app) {
  static const std::vector<std::string> none;
  app_block_state* s = state(app);
  return s ? s->status : none;
}

// The device (LU) name and host name of the status line while connected:
// the device the station's records confirmed, else the one the telnet
// negotiation assigned.
static void app_block_identity(app_s* app, const BlockEngine& e, kvx_status_line& line) {
  if (!app_is_connected(app) || !app->_conn) return;
  line.device = e.confirmedDevice();
  if (line.device.empty()) line.device = app->_conn->AssignedDeviceName();
  line.host = app->_conn->_hostname;
}

void app_block_send_status(app_s* app, bool force) {
  BlockEngine* e = app_block_engine(app);
  app_block_state* s = state(app);
  if (!e || !s) return;
  kvx_status_line line = e->statusLine();
  app_block_identity(app, *e, line);
  std::vector<std::string> fields = kvx_status_line_fields(line);
  if (force || fields != s->status) {
    s->status = fields;
    send_all(app, KVX_HOST_ACTION_STATUS, fields);
  }
  fws_window* w = e->window();
  if (w->bells > 0) {
    w->bells = 0;
    bell(app);
  }
}

// ---- captures ----

int app_load_capture(app_s* app, const uint8_t* bytes, size_t n) {
  if (!app) return 2;
  if (app_is_connected(app)) return 1;
  // A session configured for a block-mode emulation but never connected
  // has not applied its settings yet: they take effect now.
  if (app->emlib == EM_UNIX && app->_dict) {
    int emulation = app->_dict->intValueForKey("emulate");
    if (kvx_em_is_block(emulation)) app_set_te_using_dictionary(app, app->_dict);
  }
  BlockEngine* e = app_block_engine(app);
  if (!e) return 2;
  // The capture is what a host sent: its telnet framing is undone here, and
  // its own negotiation says whether its records carry TN3270E headers.
  std::vector<trc_chunk> chunks(1);
  chunks[0].fromHost = true;
  chunks[0].bytes.assign(bytes, bytes + n);
  std::vector<trc_event> events = trc_events(chunks);
  e->replayBegin();
  for (const trc_event& ev : events) {
    if (ev.kind == TRC_RECORD)
      e->hostRecord(ev.bytes.data(), ev.bytes.size(), ev.tn3270e ? (1 << 0 | 1 << 2) : -1);
    else if (ev.kind == TRC_NVT)
      e->hostText(ev.bytes.data(), ev.bytes.size());
  }
  e->replayEnd();
  std::vector<uint8_t> dropped;
  while (e->takeRecord(dropped)) {
  }
  if (app_channel().send_screen) app_channel().send_screen(app);
  if (app_channel().send_cursor) app_channel().send_cursor(app);
  app_block_send_status(app, false);
  return 0;
}

void TN3270_WriteToEmulator(app_s* app, int type, int row, int col, const char* text) {
  app_block_state* s = state(app);
  BlockEngine* e = s ? s->engines[EM_TN3270].get() : nullptr;
  if (e) e->writeText(type, row, col, text);
}
