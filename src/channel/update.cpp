// Screen and cursor updates: the changed rectangle of the character-mode
// screen as one update frame of 64-bit cells (with the Unicode value the
// browser draws), the whole screen, the cursor with its per-browser memory,
// the flow control that keeps a browser that stops reading from growing this
// process, and the seam through which the session core sends all of these.
#include <endian.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app.h"
#include "blockmode.h"
#include "channel.h"
#include "fws/fws_cell.h"
#include "tcs.h"
#include "te/te.h"
#include "tetrace.h"

char* fstr_create(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  char* text = nullptr;
  int n = vasprintf(&text, format, ap);
  va_end(ap);
  return n < 0 ? nullptr : text;
}

// ---- cells ----

static bool g_unicodeMissingReported = false;

uint64_t get_unicode_chattr(te* t, uint64_t cell) {
  if (!t->TCS2Unicode) {
    // One line per session, not one per cell.
    if (!g_unicodeMissingReported) {
      g_unicodeMissingReported = true;
      TE_Trace(TRACE_FAIL, "TCS to Unicode codepage not loaded.\n");
    }
    return cell;
  }
  uint64_t cp = (cell & CA_UNI) >> CA_UNI_SHIFT;
  int tcs = get_tcs(t, cell);
  if (tcs >= 0x200 && tcs < 0x200 + static_cast<int>(TCS_TCS2UNI_SIZE)) cp |= t->TCS2Unicode[tcs - 0x200];
  return (cell & ~CA_UNI) | ((cp << CA_UNI_SHIFT) & CA_UNI) | CA_CHANNEL;
}

// Appends one update frame for the rectangle (inclusive) to `out`; false
// when the memory for it cannot be had.
static bool update_build(te* t, int top, int left, int bottom, int right, evbuffer* out) {
  const size_t width = static_cast<size_t>(right - left + 1);
  const size_t count = width * static_cast<size_t>(bottom - top + 1);
  static std::vector<uint64_t> cells;
  try {
    cells.resize(count);
  } catch (...) {
    return false;
  }
  const bool colorRule = !(t->teflags & TF_HOSTCOLOR);
  const uint64_t normalColor = static_cast<uint64_t>(t->inuseCAT[0].color) & CA_COLOR;
  uint64_t* p = cells.data();
  for (int y = top; y <= bottom; y++) {
    const CHATTR* row = t->_vscreen[y];
    for (int x = left; x <= right; x++) {
      uint64_t cell = row ? get_unicode_chattr(t, vid_shown_cell(t, row[x])) : 0;
      if (colorRule) cell = (cell & ~CA_COLOR) | normalColor;
      *p++ = htole64(cell);
    }
  }
  char header[64];
  snprintf(header, sizeof header, "%d:%d:%d:%d", left, bottom, right, top);
  const char* fields[] = {header, nullptr};
  kvx_build_frame(out, KVX_HOST_ACTION_UPDATE, fields, cells.data(), count * sizeof(uint64_t));
  if (cells.capacity() > (64u << 10)) std::vector<uint64_t>().swap(cells);
  return true;
}

// ---- flow control ----

static size_t update_pending(const kvx_client_t* client) {
  return client->bev ? evbuffer_get_length(bufferevent_get_output(client->bev)) : 0;
}

// True when the browser is (now) behind: it is skipped and owed the screen.
static bool update_client_behind(kvx_client_t* client) {
  if (client->needScreen) return true;
  if (gApp->blockingMode || update_pending(client) <= kKvxOutputHighWater) return false;
  client->needScreen = true;
  // The write callback fires again once the output has drained this far.
  bufferevent_setwatermark(client->bev, EV_WRITE, kKvxOutputLowWater, 0);
  return true;
}

bool kvx_all_clients_behind(app_s* app) {
  if (app->kvx_clients.empty()) return false;
  for (kvx_client_t* client : app->kvx_clients)
    if (!client->needScreen) return false;
  return true;
}

static void update_check_pressure(app_s* app) {
  app_pause_host_reads(app, kvx_all_clients_behind(app));
}

// ---- block mode ----
// The active block-mode engine's window: whole rows of cells (fws_cell.h)
// for the range of buffer offsets the engine marked changed.

// The screen size the window shows (rows, columns), 0 when there is none.
static bool block_size(const fws_window* w, int* rows, int* cols) {
  *cols = std::min(w->NumberColumns, w->wndsize.x);
  *rows = std::min(w->NumberLines, w->wndsize.y);
  return w->screenchars && *rows > 0 && *cols > 0;
}

// One update frame of rows top..bottom (counted from the top) to `out`.
static bool block_build(const fws_window* w, int top, int bottom, evbuffer* out) {
  int rows, cols;
  if (!block_size(w, &rows, &cols)) return false;
  const size_t count = static_cast<size_t>(cols) * static_cast<size_t>(bottom - top + 1);
  static std::vector<uint64_t> cells;
  try {
    cells.resize(count);
  } catch (...) {
    return false;
  }
  const int fgDefault = fws_colorindex16(w, w->sys_fgc, 7);
  const int bgDefault = fws_colorindex16(w, w->sys_bgc, 0);
  uint64_t* p = cells.data();
  for (int r = top; r <= bottom; r++, p += cols) {
    blk_row_cells(w, w->wndsize.y - r - 1, cols, fgDefault, bgDefault, p);
    for (int c = 0; c < cols; c++) p[c] = htole64(p[c]);
  }
  char header[64];
  snprintf(header, sizeof header, "%d:%d:%d:%d", 0, bottom, cols - 1, top);
  const char* fields[] = {header, nullptr};
  kvx_build_frame(out, KVX_HOST_ACTION_UPDATE, fields, cells.data(), count * sizeof(uint64_t));
  return true;
}

static void block_send_status(kvx_client_t* client) {
  const std::vector<std::string>& status = app_block_status(gApp);
  if (status.empty()) return;
  std::vector<const char*> fields;
  for (const std::string& f : status) fields.push_back(f.c_str());
  fields.push_back(nullptr);
  kvx_send(client, KVX_HOST_ACTION_STATUS, fields.data(), nullptr, 0);
}

static bool update_client_behind(kvx_client_t* client);
static void update_check_pressure(app_s* app);

static void block_send_region(app_s* app, kvx_client_t* client) {
  BlockEngine* e = app_block_engine(app);
  fws_window* w = e ? e->window() : nullptr;
  int rows, cols;
  if (!w || !block_size(w, &rows, &cols)) return;
  // The range is clamped to the screen: whole rows from the first changed
  // one to the last.
  int low = w->lowestUpdate, high = std::min(w->highestUpdate, rows * cols - 1);
  if (low < 0 || high < low) {
    w->lowestUpdate = w->highestUpdate = -1;
    return;
  }
  evbuffer* frame = evbuffer_new();
  if (!frame) return;
  if (!block_build(w, low / cols, high / cols, frame)) {
    evbuffer_free(frame);
    return;
  }
  w->lowestUpdate = w->highestUpdate = -1;
  for (kvx_client_t* c : app->kvx_clients) {
    if (client && c != client) continue;
    if (update_client_behind(c)) continue;
    c->screenSent = true;
    kvx_send_buffer(c, frame);
  }
  evbuffer_free(frame);
  update_check_pressure(app);
}

static void block_send_screen(app_s* app, kvx_client_t* client) {
  BlockEngine* e = app_block_engine(app);
  fws_window* w = e ? e->window() : nullptr;
  int rows, cols;
  if (!w || !block_size(w, &rows, &cols)) return;
  if (!client) {
    w->lowestUpdate = 0;
    w->highestUpdate = rows * cols - 1;
    block_send_region(app, nullptr);
    app_block_send_status(app, true);
    return;
  }
  // One browser: built apart, the others keep their pending changes.
  if (update_client_behind(client)) return;
  evbuffer* frame = evbuffer_new();
  if (!frame) return;
  block_send_status(client);
  if (block_build(w, 0, rows - 1, frame)) {
    client->screenSent = true;
    kvx_send_buffer(client, frame);
  }
  evbuffer_free(frame);
}

// ---- region and screen ----

static bool update_region_valid(te* t, VREGION& r) {
  if (r.top < 0 || r.left < 0 || r.bottom < 0 || r.right < 0) return false;
  if (r.bottom >= t->vlines) r.bottom = t->vlines - 1;
  if (r.right >= t->vcols) r.right = t->vcols - 1;
  return r.top <= r.bottom && r.left <= r.right;
}

void kvx_send_region(app_s* app, kvx_client_t* client) {
  if (app && app->emlib != EM_UNIX) {
    block_send_region(app, client);
    return;
  }
  te* t = app ? app->lpte : nullptr;
  if (!t || app->emlib != EM_UNIX) return;
  kvx_send_labels(app, client, true);
  VREGION r = t->vscreen_region;
  if (!update_region_valid(t, r)) {
    if (r.top >= 0) vscreen_invalidate(t);
    return;
  }
  evbuffer* frame = evbuffer_new();
  if (!frame) return;
  if (!update_build(t, r.top, r.left, r.bottom, r.right, frame)) {
    evbuffer_free(frame);
    return;
  }
  vscreen_invalidate(t);
  if (client) {
    if (!update_client_behind(client)) {
      client->screenSent = true;
      kvx_send_buffer(client, frame);
    }
  } else {
    for (kvx_client_t* c : app->kvx_clients) {
      if (update_client_behind(c)) continue;
      c->screenSent = true;
      kvx_send_buffer(c, frame);
    }
  }
  evbuffer_free(frame);
  update_check_pressure(app);
}

void kvx_send_screen(app_s* app, kvx_client_t* client) {
  if (app && app->emlib != EM_UNIX) {
    block_send_screen(app, client);
    return;
  }
  te* t = app ? app->lpte : nullptr;
  if (!t || app->emlib != EM_UNIX || t->vlines < 1 || t->vcols < 1) return;
  if (!client) {
    t->vscreen_region = VREGION{0, 0, t->vlines - 1, t->vcols - 1};
    kvx_send_region(app, nullptr);
    return;
  }
  // One browser: its screen is built apart, so the changes the others have
  // not received yet stay recorded for them.  A browser that is behind (say
  // one that asks for the screen again and again without reading) gets it
  // once it has caught up.
  if (update_client_behind(client)) return;
  kvx_send_labels(app, client, false);
  evbuffer* frame = evbuffer_new();
  if (!frame) return;
  if (update_build(t, 0, 0, t->vlines - 1, t->vcols - 1, frame)) {
    client->screenSent = true;
    kvx_send_buffer(client, frame);
  }
  evbuffer_free(frame);
}

// ---- cursor ----

void _kvx_send_cursor_state(kvx_client_t* client, int x, int y, int visible) {
  if (!client) return;
  if (x == client->lastCursorX && y == client->lastCursorY) return;
  const int lastVisible = client->cursorVisbile < 0 ? 1 : client->cursorVisbile;
  if (lastVisible == visible && !visible) return;
  char position[32];
  snprintf(position, sizeof position, "%d:%d", x, y);
  const char* fields[] = {position, visible ? "1" : "0", nullptr};
  kvx_send(client, KVX_HOST_ACTION_SET_CURSOR, fields, nullptr, 0);
  client->lastCursorX = x;
  client->lastCursorY = y;
  client->cursorVisbile = visible;
}

void kvx_send_cursor_state(kvx_client_t* client) {
  app_s* app = gApp;
  int x = 0, y = 0, visible = 1;
  if (BlockEngine* e = app_block_engine(app)) {
    // The block-mode cursor is always shown.
    e->cursor(y, x);
  } else {
    te* t = app ? app->lpte : nullptr;
    if (!t || app->emlib != EM_UNIX) return;
    visible = t->vCaret ? 1 : 0;
    x = t->xPOS;
    y = t->yPOS;
  }
  if (client) {
    _kvx_send_cursor_state(client, x, y, visible);
    return;
  }
  // A browser that has no screen yet, or is owed one, has no use for it.
  for (kvx_client_t* c : app->kvx_clients)
    if (c->screenSent && !c->needScreen) _kvx_send_cursor_state(c, x, y, visible);
}

void kvx_update_client_writable(kvx_client_t* client) {
  app_s* app = gApp;
  if (!client->needScreen || update_pending(client) > kKvxOutputLowWater) return;
  client->needScreen = false;
  bufferevent_setwatermark(client->bev, EV_WRITE, 0, 0);
  // Whatever it was last told, it gets the cursor again with the screen.
  client->lastCursorX = -1;
  client->lastCursorY = -1;
  client->cursorVisbile = -1;
  kvx_send_cursor_state(client);
  kvx_send_screen(app, client);
  update_check_pressure(app);
}

// ---- the session's seam ----

static void update_send_connected(app_s* app, bool connected) {
  const char* fields[] = {connected ? "1" : "0", nullptr};
  kvx_send_all(KVX_HOST_ACTION_CONNECTED, fields, nullptr, 0);
  if (!connected) kvx_arm_attach_deadline(app);
}
static void update_send_region(app_s* app) {
  kvx_send_region(app, nullptr);
}
static void update_send_screen(app_s* app) {
  kvx_send_screen(app, nullptr);
}
static void update_send_cursor(app_s*) {
  kvx_send_cursor_state(nullptr);
}
static void update_send_action(app_s*, int action, const char* const* fields) {
  kvx_send_all(action, fields, nullptr, 0);
}

static void update_send_notice(app_s*, const char* kind, const char* text) {
  kvx_send_notice(nullptr, kind, text);
}

void kvx_update_attach(app_s*) {
  static const app_channel_ops ops = {update_send_connected, update_send_region, update_send_screen,
                                      update_send_cursor,    kvx_all_clients_behind, update_send_notice,
                                      update_send_action};
  app_set_channel_ops(&ops);
}
