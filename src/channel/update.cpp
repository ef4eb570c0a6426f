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

uint64_t get_unicode_chattr(app_s* app, te* t, uint64_t cell) {
  if (!t->TCS2Unicode) {
    // One line per session, not one per cell.
    if (app && !app->unicodeTableMissing) {
      app->unicodeTableMissing = true;
      TE_Trace(TRACE_FAIL, "TCS to Unicode codepage not loaded.\n");
    }
    return cell;
  }
  uint64_t cp = (cell & CA_UNI) >> CA_UNI_SHIFT;
  int tcs = get_tcs(t, cell);
  if (tcs >= 0x200 && tcs < 0x200 + static_cast<int>(TCS_TCS2UNI_SIZE)) cp |= t->TCS2Unicode[tcs - 0x200];
  return (cell & ~CA_UNI) | ((cp << CA_UNI_SHIFT) & CA_UNI) | CA_CHANNEL;
}

// One cell into the frame's data, little-endian (the room is not aligned).
static inline uint8_t* update_put_cell(uint8_t* p, uint64_t cell) {
  const uint64_t le = htole64(cell);
  std::memcpy(p, &le, sizeof le);
  return p + sizeof le;
}

bool kvx_build_update(app_s* app, te* t, const uint64_t* const* rows, int top, int left, int bottom,
                      int right, evbuffer* out) {
  const size_t width = static_cast<size_t>(right - left + 1);
  const size_t count = width * static_cast<size_t>(bottom - top + 1);
  char header[64];
  snprintf(header, sizeof header, "%d:%d:%d:%d", left, bottom, right, top);
  const char* fields[] = {header, nullptr};
  // The cells are written straight into the frame.
  evbuffer_iovec room;
  uint8_t* p = kvx_frame_reserve(out, KVX_HOST_ACTION_UPDATE, fields, count * sizeof(uint64_t), &room);
  if (!p) return false;
  const bool colorRule = !(t->teflags & TF_HOSTCOLOR);
  const uint64_t normalColor = static_cast<uint64_t>(t->inuseCAT[0].color) & CA_COLOR;
  for (int y = top; y <= bottom; y++) {
    const CHATTR* row = rows[y];
    for (int x = left; x <= right; x++) {
      // The extended attribute's index is the engine's own: COLORS frames
      // say what it holds.
      uint64_t cell = row ? get_unicode_chattr(app, t, vid_shown_cell(t, row[x]) & ~CA_XATTR) : 0;
      if (colorRule) cell = (cell & ~CA_COLOR) | normalColor;
      p = update_put_cell(p, cell);
    }
  }
  kvx_frame_commit(app, out, KVX_HOST_ACTION_UPDATE, fields, count * sizeof(uint64_t), &room);
  return true;
}

// ---- flow control ----

static size_t update_pending(const kvx_client_t* client) {
  return client->bev ? evbuffer_get_length(bufferevent_get_output(client->bev)) : 0;
}

// True when the browser is (now) behind: it is skipped and owed the screen.
static bool update_client_behind(kvx_client_t* client) {
  if (client->needScreen) return true;
  if (client->app->blockingMode || update_pending(client) <= kKvxOutputHighWater) return false;
  client->needScreen = true;
  // The write callback fires again once the output has drained this far.
  bufferevent_setwatermark(client->bev, EV_WRITE, kKvxOutputLowWater, 0);
  return true;
}

bool kvx_client_behind(kvx_client_t* client) {
  return update_client_behind(client);
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
static bool block_build(app_s* app, const fws_window* w, int top, int bottom, evbuffer* out) {
  int rows, cols;
  if (!block_size(w, &rows, &cols) || cols > FWS_MAXCOLS) return false;  // no window row is wider
  const size_t count = static_cast<size_t>(cols) * static_cast<size_t>(bottom - top + 1);
  char header[64];
  snprintf(header, sizeof header, "%d:%d:%d:%d", 0, bottom, cols - 1, top);
  const char* fields[] = {header, nullptr};
  evbuffer_iovec room;
  uint8_t* p = kvx_frame_reserve(out, KVX_HOST_ACTION_UPDATE, fields, count * sizeof(uint64_t), &room);
  if (!p) return false;
  const int fgDefault = fws_colorindex16(w, w->sys_fgc, 7);
  const int bgDefault = fws_colorindex16(w, w->sys_bgc, 0);
  uint64_t row[FWS_MAXCOLS];
  for (int r = top; r <= bottom; r++) {
    blk_row_cells(w, w->wndsize.y - r - 1, cols, fgDefault, bgDefault, row);
    for (int c = 0; c < cols; c++) p = update_put_cell(p, row[c]);
  }
  kvx_frame_commit(app, out, KVX_HOST_ACTION_UPDATE, fields, count * sizeof(uint64_t), &room);
  return true;
}

static void block_send_status(app_s* app, kvx_client_t* client) {
  const std::vector<std::string>& status = app_block_status(app);
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
  if (!block_build(app, w, low / cols, high / cols, frame)) {
    evbuffer_free(frame);
    return;
  }
  w->lowestUpdate = w->highestUpdate = -1;
  for (kvx_client_t* c : app->kvx_clients) {
    if (client && c != client) continue;
    if (update_client_behind(c)) continue;
    kvx_view_block_mode(c);
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
  kvx_view_block_mode(client);
  block_send_status(app, client);
  if (block_build(app, w, 0, rows - 1, frame)) {
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
    kvx_view_after_update(app);
    return;
  }
  evbuffer* frame = evbuffer_new();
  if (!frame) return;
  if (!kvx_build_update(app, t, t->_vscreen, r.top, r.left, r.bottom, r.right, frame)) {
    evbuffer_free(frame);
    return;
  }
  // The colour form, built once for the browsers that take it.
  evbuffer* colors = nullptr;
  bool colorsBuilt = false;
  auto colorsFrame = [&]() {
    if (!colorsBuilt) {
      colorsBuilt = true;
      colors = evbuffer_new();
      if (colors && !kvx_build_colors(t, t->_vscreen, r.top, r.left, r.bottom, r.right, colors)) {
        evbuffer_free(colors);
        colors = nullptr;
      }
    }
    return colors;
  };
  vscreen_invalidate(t);
  kvx_view_before_update(app);
  const bool whole = r.top == 0 && r.left == 0 && r.bottom == t->vlines - 1 && r.right == t->vcols - 1;
  // A browser that looks back at the scrollback keeps its view; the live
  // screen it will return to has changed.
  auto deliver = [&](kvx_client_t* c) {
    if (update_client_behind(c)) return;
    if (kvx_view_is_back(c)) {
      c->view.stale = true;
      return;
    }
    c->screenSent = true;
    kvx_send_buffer(c, frame);
    if (kvx_client_has(c, KVX_CAPABILITY_TRUECOLOR) && colorsFrame()) kvx_send_buffer(c, colors);
    kvx_view_live_sent(app, c, whole);
  };
  if (client) {
    deliver(client);
  } else {
    for (kvx_client_t* c : app->kvx_clients) deliver(c);
  }
  evbuffer_free(frame);
  if (colors) evbuffer_free(colors);
  kvx_view_after_update(app);
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
  if (kvx_view_send_whole(app, client)) return;
  evbuffer* frame = evbuffer_new();
  if (!frame) return;
  if (kvx_build_update(app, t, t->_vscreen, 0, 0, t->vlines - 1, t->vcols - 1, frame)) {
    client->screenSent = true;
    kvx_send_buffer(client, frame);
    kvx_send_colors(client, t, t->_vscreen, 0, 0, t->vlines - 1, t->vcols - 1);
    kvx_view_live_sent(app, client, true);
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

void kvx_send_cursor_state(app_s* app, kvx_client_t* client) {
  if (!app) return;
  int x = 0, y = 0, visible = 1;
  if (BlockEngine* e = app_block_engine(app)) {
    // The block-mode cursor is always shown.
    e->cursor(y, x);
  } else {
    te* t = app->lpte;
    if (!t || app->emlib != EM_UNIX) return;
    visible = t->vCaret ? 1 : 0;
    x = t->xPOS;
    y = t->yPOS;
  }
  // A browser that looks back at the scrollback is told the cursor on its return.
  if (client) {
    if (!kvx_view_is_back(client)) _kvx_send_cursor_state(client, x, y, visible);
    return;
  }
  // A browser that has no screen yet, or is owed one, has no use for it.
  for (kvx_client_t* c : app->kvx_clients)
    if (c->screenSent && !c->needScreen && !kvx_view_is_back(c)) _kvx_send_cursor_state(c, x, y, visible);
}

void kvx_update_client_writable(kvx_client_t* client) {
  app_s* app = client->app;
  if (!client->needScreen || update_pending(client) > kKvxOutputLowWater) return;
  client->needScreen = false;
  bufferevent_setwatermark(client->bev, EV_WRITE, 0, 0);
  // Whatever it was last told, it gets the cursor again with the screen.
  client->lastCursorX = -1;
  client->lastCursorY = -1;
  client->cursorVisbile = -1;
  kvx_send_cursor_state(app, client);
  kvx_send_screen(app, client);
  update_check_pressure(app);
}

// ---- the session's seam ----

static void update_send_connected(app_s* app, bool connected) {
  const char* fields[] = {connected ? "1" : "0", nullptr};
  kvx_send_all(app, KVX_HOST_ACTION_CONNECTED, fields, nullptr, 0);
  if (!connected) kvx_arm_attach_deadline(app);
}
static void update_send_region(app_s* app) {
  kvx_send_region(app, nullptr);
}
static void update_send_screen(app_s* app) {
  kvx_send_screen(app, nullptr);
}
static void update_send_cursor(app_s* app) {
  kvx_send_cursor_state(app, nullptr);
}
static void update_send_action(app_s* app, int action, const char* const* fields) {
  kvx_send_all(app, action, fields, nullptr, 0);
}
static void update_send_title(app_s* app) {
  kvx_send_title(app, nullptr);
}

static void update_send_notice(app_s* app, const char* kind, const char* text) {
  kvx_send_notice(app, nullptr, kind, text);
}

static void update_send_capable(app_s* app, int capability, int action, const char* const* fields) {
  for (kvx_client_t* c : app->kvx_clients)
    if (kvx_client_has(c, static_cast<KVX_CAPABILITY>(capability))) kvx_send(c, action, fields, nullptr, 0);
}

void kvx_update_attach(app_s*) {
  static const app_channel_ops ops = {update_send_connected, update_send_region,     update_send_screen,
                                      update_send_cursor,    kvx_all_clients_behind, update_send_notice,
                                      update_send_action,    update_send_title,      kvx_send_bell,
                                      update_send_capable};
  app_set_channel_ops(&ops);
}
