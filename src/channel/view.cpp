// Each browser's own view: where it looks back in the scrollback (read from
// the ring for that browser alone, so the shared screen never moves and the
// other browsers stay live), the line attributes of the rows it shows, the
// terminal state it must know (modes, size, rows kept), the host's title
// and the bell.
//
// A view that moves sends only the rows the browser does not show already:
// the SCROLLBACK frame says how far the cells it shows move, the update
// frames after it fill the rest.  A view anchored in the scrollback stays on
// its rows while the host writes on; the live screen keeps changing
// underneath and is sent again, where it changed, on the way back.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app.h"
#include "channel.h"
#include "te/te.h"

static bool view_char_mode(const app_s* app) {
  return app && app->lpte && app->emlib == EM_UNIX;
}

// Rows a browser can look back over: none while another page than the
// first is shown (the alternate screen keeps no scrollback).
static int view_kept(const te* t) {
  if (!t->_sb || t->_sb->sblinemax <= 0 || t->_vcurpage != 0) return 0;
  return t->_sb->sblastline;
}

static int64_t view_serial(const te* t) {
  return static_cast<int64_t>(t->sbadded);
}

bool kvx_view_is_back(const kvx_client_t* client) {
  return client->view.told > 0;
}

// ---- the rows of a view ----

struct view_rows {
  const CHATTR* row[TE_MAXLINES];
  unsigned char lattr[TE_MAXLINES];
  std::vector<CHATTR> padded;  // rows copied out of a narrower ring (rarely any)
};

// The rows of the view whose top row is number `top`: pointers into the
// ring and the live screen.  Saved rows narrower than the screen (a ring
// that could not be widened) are copied out and padded with blanks.
static void view_collect(te* t, int64_t top, view_rows* v) {
  std::vector<CHATTR>& scratch = v->padded;
  const int rows = t->vlines, cols = t->vcols;
  const int64_t serial = view_serial(t);
  const scrollback* sb = t->_sb;
  const bool narrow = top < serial && sb && sb->sbcolmax < cols;
  if (narrow || top < serial - view_kept(t)) scratch.resize(static_cast<size_t>(rows) * cols);
  const CHATTR blank = EmGetDefaultAttr(t) | CA_BLANK;
  for (int r = 0; r < rows; r++) {
    const int64_t number = top + r;
    if (number >= serial) {
      const int y = static_cast<int>(number - serial);
      v->row[r] = t->_vscreen[y];
      v->lattr[r] = t->vlattr[y];
      continue;
    }
    unsigned char lattr = 0;
    const CHATTR* saved = sb_row(t, static_cast<int>(serial - number), &lattr);
    v->lattr[r] = saved ? lattr : 0;
    if (saved && !narrow) {
      v->row[r] = saved;
      continue;
    }
    CHATTR* out = scratch.data() + static_cast<size_t>(r) * cols;
    const int have = saved ? std::min(cols, sb->sbcolmax) : 0;
    std::copy(saved, saved + have, out);
    std::fill(out + have, out + cols, blank);
    v->row[r] = out;
  }
}

// ---- what the browser was told ----

static void view_send_state(kvx_client_t* client, int back, int kept, int shift) {
  char f0[16], f1[16], f2[16];
  snprintf(f0, sizeof f0, "%d", back);
  snprintf(f1, sizeof f1, "%d", kept);
  snprintf(f2, sizeof f2, "%d", shift);
  const char* fields[] = {f0, f1, f2, nullptr};
  kvx_send(client, KVX_HOST_ACTION_SCROLLBACK, fields, nullptr, 0);
  client->view.told = back;
  client->view.keptTold = kept;
}

// The line attributes of the rows shown that differ from what the browser
// has, as one LINES frame from the first to the last that differs.
static void view_sync_lines(te* t, kvx_client_t* client, const unsigned char* lattr) {
  std::vector<unsigned char>& told = client->view.lines;
  const int rows = t->vlines;
  told.resize(static_cast<size_t>(rows), 0);
  int first = -1, last = -1;
  for (int r = 0; r < rows; r++) {
    // Line lock is the host's business, not the page's.
    const unsigned char a = lattr[r] & (LA_WIDTH | LA_WRAPPED);
    if (a == told[static_cast<size_t>(r)]) continue;
    if (first < 0) first = r;
    last = r;
  }
  if (first < 0) return;
  unsigned char data[TE_MAXLINES];
  for (int r = first; r <= last; r++) {
    data[r - first] = lattr[r] & (LA_WIDTH | LA_WRAPPED);
    told[static_cast<size_t>(r)] = data[r - first];
  }
  char row[16];
  snprintf(row, sizeof row, "%d", first);
  const char* fields[] = {row, nullptr};
  kvx_send(client, KVX_HOST_ACTION_LINES, fields, data, static_cast<size_t>(last - first + 1));
}

static void view_sync_modes(te* t, kvx_client_t* client) {
  char modes[64];
  const int alternate = t->_vcurpage != 0 ? 1 : 0;
  const int style = t->_cursorstyle >= 1 && t->_cursorstyle <= 6 ? t->_cursorstyle : 0;
  snprintf(modes, sizeof modes, "%d:%d:%d:%d:%d", t->_bracketpaste ? 1 : 0, alternate, t->vlines, t->vcols, style);
  if (client->view.modesTold == modes) return;
  client->view.modesTold = modes;
  char rows[16], cols[16];
  snprintf(rows, sizeof rows, "%d", t->vlines);
  snprintf(cols, sizeof cols, "%d", t->vcols);
  const char cursor[2] = {static_cast<char>('0' + style), 0};
  const char* fields[] = {t->_bracketpaste ? "1" : "0", alternate ? "1" : "0", rows, cols, cursor, nullptr};
  kvx_send(client, KVX_HOST_ACTION_MODES, fields, nullptr, 0);
}

void kvx_view_before_update(app_s* app) {
  if (!view_char_mode(app)) return;
  for (kvx_client_t* c : app->kvx_clients)
    if (c->view.stateTold && c->screenSent && !c->needScreen && !kvx_view_is_back(c))
      view_sync_modes(app->lpte, c);
}

void kvx_view_sync(app_s* app, kvx_client_t* client) {
  if (!view_char_mode(app)) return;
  te* t = app->lpte;
  const int kept = view_kept(t);
  if (!kvx_view_is_back(client)) {
    if (kept != client->view.keptTold) view_send_state(client, 0, kept, 0);
    view_sync_lines(t, client, t->vlattr);
  }
  view_sync_modes(t, client);
}

// ---- moving a view ----

// Moves the view of `client` to the one whose top row is number `top` and
// sends what it does not show yet (with `whole`, every row).
static void view_move(app_s* app, kvx_client_t* client, int64_t top, bool whole) {
  te* t = app->lpte;
  kvx_view_t& v = client->view;
  const int64_t serial = view_serial(t);
  const int kept = view_kept(t);
  const int rows = t->vlines, cols = t->vcols;
  top = std::clamp(top, serial - kept, serial);
  // Rows the browser shows now, by number: the view it was sent, whose live
  // rows are still good unless the live screen changed since (for a live
  // browser: changes recorded and not yet sent).
  const bool had = !whole && client->screenSent && !client->needScreen && v.rows == rows && v.cols == cols;
  const bool stale = v.stale || (v.told == 0 && t->vscreen_region.top >= 0);
  int64_t shift = had ? v.top - top : 0;
  const bool keep = had && std::llabs(shift) < rows;
  if (!keep) {
    // Every row comes anew.  A browser that shows rows of this size is told
    // they all move out (a whole height), so that it waits for the new ones
    // instead of taking the old ones for the view it asked for.
    const bool sized = client->screenSent && !client->needScreen && v.rows == rows && v.cols == cols;
    shift = sized && top != v.top ? (top < v.top ? rows : -rows) : 0;
  }
  auto shown = [&](int r) {
    const int64_t number = top + r;
    return keep && number >= v.top && number < v.top + rows && (number < v.liveFrom || !stale);
  };

  const bool wasBack = v.told > 0;
  view_send_state(client, static_cast<int>(serial - top), kept, static_cast<int>(shift));
  view_rows vr;
  view_collect(t, top, &vr);
  for (int r = 0; r < rows;) {
    if (shown(r)) {
      r++;
      continue;
    }
    int end = r;
    while (end + 1 < rows && !shown(end + 1)) end++;
    evbuffer* frame = evbuffer_new();
    if (frame && kvx_build_update(app, t, vr.row, r, 0, end, cols - 1, frame)) kvx_send_buffer(client, frame);
    if (frame) evbuffer_free(frame);
    r = end + 1;
  }

  // The browser moves its line attributes with its cells; rows it did not
  // have start plain.
  std::vector<unsigned char>& lines = v.lines;
  if (v.rows != rows) lines.assign(static_cast<size_t>(rows), 0);
  if (shift > 0) {
    lines.insert(lines.begin(), static_cast<size_t>(shift), 0);
    lines.resize(static_cast<size_t>(rows));
  } else if (shift < 0) {
    lines.erase(lines.begin(), lines.begin() + (-shift));
    lines.resize(static_cast<size_t>(rows), 0);
  }
  v.top = top;
  v.liveFrom = serial;
  v.stale = false;
  v.rows = rows;
  v.cols = cols;
  client->screenSent = true;
  view_sync_lines(t, client, vr.lattr);
  view_sync_modes(t, client);
  // The first answer introduces the browser to what it is told from now on.
  if (!v.stateTold && !app->teTitle.empty()) kvx_send_title(app, client);
  v.stateTold = true;
  if (v.told == 0 && (wasBack || whole)) {
    // Back at the live screen: the cursor is told again, wherever it is.
    client->lastCursorX = client->lastCursorY = -1;
    client->cursorVisbile = -1;
    kvx_send_cursor_state(app, client);
  }
}

void kvx_view_scroll(app_s* app, kvx_client_t* client, int n) {
  if (!view_char_mode(app)) {
    // Nothing to look back at; the answer says so.
    if (!kvx_client_behind(client)) view_send_state(client, 0, 0, 0);
    return;
  }
  te* t = app->lpte;
  kvx_view_t& v = client->view;
  const int64_t serial = view_serial(t);
  int64_t top = serial;
  if (n > 0 && view_kept(t) > 0) {
    // n counts from where the browser was last told its view stands.
    const int64_t from = client->screenSent ? v.top + v.told : serial;
    top = std::min(from - n, serial - 1);
  }
  if (kvx_client_behind(client)) {
    // Behind: it gets this view whole once it has caught up.
    v.wanted = true;
    v.wantTop = top;
    return;
  }
  v.wanted = false;
  view_move(app, client, top, false);
}

bool kvx_view_send_whole(app_s* app, kvx_client_t* client) {
  if (!view_char_mode(app)) return false;
  kvx_view_t& v = client->view;
  if (!v.wanted && !kvx_view_is_back(client)) return false;
  const int64_t top = v.wanted ? v.wantTop : v.top;
  v.wanted = false;
  view_move(app, client, top, true);
  return true;
}

void kvx_view_live_sent(app_s* app, kvx_client_t* client, bool whole) {
  if (!view_char_mode(app)) return;
  te* t = app->lpte;
  kvx_view_t& v = client->view;
  // Part of a screen makes a view only on top of a whole one of that size.
  if (!whole && (v.rows != t->vlines || v.cols != t->vcols)) return;
  v.told = 0;
  v.top = v.liveFrom = view_serial(t);
  v.stale = false;
  v.rows = t->vlines;
  v.cols = t->vcols;
}

void kvx_view_after_update(app_s* app) {
  if (!view_char_mode(app)) return;
  te* t = app->lpte;
  const int64_t serial = view_serial(t);
  const int kept = view_kept(t);
  for (kvx_client_t* c : app->kvx_clients) {
    if (c->needScreen || !c->screenSent || !c->view.stateTold) continue;
    kvx_view_t& v = c->view;
    if (kvx_view_is_back(c)) {
      // A new size or another page ends the look back.
      if (v.rows != t->vlines || v.cols != t->vcols || kept == 0) {
        view_move(app, c, serial, true);
        continue;
      }
      // The view stays on its rows: they now stand further back.
      const int back = static_cast<int>(std::clamp<int64_t>(serial - v.top, 1, std::max(kept, 1)));
      if (back != v.told || kept != v.keptTold) view_send_state(c, back, kept, 0);
      continue;
    }
    kvx_view_sync(app, c);
  }
}

void kvx_view_block_mode(kvx_client_t* client) {
  kvx_view_t& v = client->view;
  if (v.told > 0 || v.keptTold > 0) view_send_state(client, 0, 0, 0);
  const bool asked = v.stateTold;
  v = kvx_view_t{};
  v.stateTold = asked;
}

// ---- title and bell ----

void kvx_send_title(app_s* app, kvx_client_t* client) {
  if (!app) return;
  const char* fields[] = {app->teTitle.c_str(), nullptr};
  if (client)
    kvx_send(client, KVX_HOST_ACTION_TITLE, fields, nullptr, 0);
  else
    kvx_send_all(app, KVX_HOST_ACTION_TITLE, fields, nullptr, 0);
}

void kvx_send_bell(app_s* app) {
  kvx_send_all(app, KVX_HOST_ACTION_BELL, nullptr, nullptr, 0);
}
