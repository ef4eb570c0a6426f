// Host data and the update timer: the host-data handler that reads the
// connection in 1024-byte blocks and feeds the character-mode terminal
// (answer-back, border detection, output holding, a playing macro), and the
// 100 ms timer that completes pending connects, releases held output and
// sends the cursor.
#include <event2/event.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "app.h"
#include "blockmode.h"
#include "lumconnection.h"
#include "macro.h"
#include "recording.h"
#include "stats.h"
#include "te/te.h"
#include "tetrace.h"

bool app_is_holding_data(app_s* app) {
  return app && app->lpte && !app->lpte->outflag;
}

void app_set_holding_data(app_s* app, bool flag) {
  if (app && app->lpte) app->lpte->outflag = flag ? 0 : 1;
}

// One read's bytes to the terminal: the answer-back trigger sends the
// answer-back text to the host instead of being shown; runs between triggers
// go to the emulation in one call.
static void hd_feed(app_s* app, const unsigned char* bytes, size_t n) {
  te* t = app->lpte;
  if (!t || !n) return;
  const bool answerBack = t->wrustr && *t->wrustr && t->wruchar >= 0 && t->wruchar <= 0xFF;
  size_t i = 0;
  while (i < n) {
    const void* hit = answerBack ? memchr(bytes + i, t->wruchar, n - i) : nullptr;
    size_t end = hit ? static_cast<size_t>(static_cast<const unsigned char*>(hit) - bytes) : n;
    if (end > i) TEemwrite(t, bytes + i, end - i);
    if (!hit) break;
    if (app_is_connected(app)) app->_conn->Comout(t->wrustr, static_cast<int>(strlen(t->wrustr)));
    i = end + 1;
  }
}

void app_oncom(app_s* app, int) {
  if (!app || app->insideComEvent) return;
  app->insideComEvent = true;
  LumConnection* conn = app->_conn;
  if (!conn || !conn->IsConnected() || !conn->IsReady() || app->hostReadsPaused) {
    app->insideComEvent = false;
    return;
  }
  te* t = app->lpte;
  if (t && t->_sb && t->_sb->sbcurline) sbreset(t);
  app->_macroContinue = false;

  unsigned char buffer[kAppReadBlock];
  size_t total = 0;
  int n = 0;
  int readError = 0;
  bool starSeen = false;
  bool records = false;  // block mode: a read ended a record
  for (;;) {
    n = conn->Read(reinterpret_cast<char*>(buffer), kAppReadBlock);
    if (n > 0) {
      total += static_cast<size_t>(n);
      kvx_record_host(app, buffer, static_cast<size_t>(n));
      if (TE_Trace_Enabled(TRACE_COMM_IN)) TE_Trace_Data(TRACE_COMM_IN, "From host", buffer, n);
    }
    if (n == -1) {
      readError = errno;
      TE_Trace(TRACE_CONNECT, "app_oncom Disconnected with %d %s!\n", readError, strerror(readError));
      app_disconnect(app, readError);
      break;
    }
    if (app->emlib == EM_UNIX || n == 0) {
      if (n == kAppReadBlock) app_set_holding_data(app, true);
      // The log-in macro starts with the host's first bytes.
      if (app->_autologin && n > 0) {
        app->_autologin = false;
        app_macro_playback(app, app->_autologinMacroHash.c_str());
      }
      if (n > 0) {
        if (app->borderDetect && !starSeen && total > 1 && memchr(buffer, '*', static_cast<size_t>(n)))
          starSeen = true;
        hd_feed(app, buffer, static_cast<size_t>(n));
        // A playing macro sees the bytes after the screen has them: every
        // host byte is shown, and what the macro answers follows it.
        if (app_macro_playing(app)) app_macro_host_data(app, buffer, static_cast<size_t>(n));
      }
    }
    if (app->emlib != EM_UNIX && n >= 0) {
      // Records end where the connection saw IAC EOR, reported beside the
      // data (a read of nothing but the mark has no data at all).
      const std::vector<int>& ends = conn->RecordEnds();
      if (n > 0 || !ends.empty()) app_block_host_data(app, buffer, n, ends);
      records = records || !ends.empty();
    }
    if (!((n >= 1 || conn->HasData() > 0) && !app->needToClose)) break;
    // A host that never pauses must not keep the loop from the browsers and
    // the timer: the rest waits for the next pass, output stays held.
    if (total >= kAppPassBudget) {
      app_set_holding_data(app, true);
      break;
    }
    // The auxiliary port cannot take more now: the rest waits until it has.
    if (app->auxBehind) break;
  }

  if (total) kvx_stats_add(&kvx_stats()->hostBytes, total);
  if (starSeen) app_process_borders(app);
  if (!app->needToClose) {
    if (n < 0 && app->_conn) app_disconnect(app, readError);
    if ((total > 0 || records) && app->emlib != EM_UNIX) app_block_after_host_data(app);
    if (total > 0 && app->emlib == EM_UNIX && !app_is_holding_data(app)) {
      app_onsync(app);
      if (app_channel().send_region) app_channel().send_region(app);
      // The cursor follows its echo at once rather than on the next tick.
      if (app_channel().send_cursor) app_channel().send_cursor(app);
    }
  }
  app->insideComEvent = false;
}

// ---- the update timer ----

void app_update_timer(app_s* app) {
  if (!app || app->inUpdateTimer) return;
  app->inUpdateTimer = true;
  LumConnection* conn = app->_conn;
  if (app->_readFD == APP_FD_CONNECTING) {
    if (time(nullptr) - app->_connectionStart > kAppConnectTimeout) {
      if (conn) conn->ShowError(true, "Connection timed out.");
      app_disconnect(app, -1);
    } else if (conn) {
      app->_readFD = conn->ContinueConnection();
      if (app->_readFD != APP_FD_CONNECTING) app_connection_made(app);
    } else {
      app->_readFD = 0;
    }
    app->inUpdateTimer = false;
    return;
  }
  if (app->_staleConnection) {
    LumConnection* stale = app->_staleConnection;
    app->_staleConnection = nullptr;
    delete stale;
  }
  bool held = false;
  if (app->emlib == EM_UNIX && app_is_holding_data(app)) {
    app_set_holding_data(app, false);
    app_onpaint(app);
    app_onsync(app);
    if (app_channel().send_region) app_channel().send_region(app);
    held = true;
  }
  if (app->_conn) app->_conn->KeepAliveCheck();
  // Data a connection already took off its descriptor (TLS records, SSH
  // packets pulled in while writing) never wakes the read watch: the tick
  // reads it, and so notices a host that ended that way too.
  if (held || (app->_conn && app->_conn->HasData() != 0)) app_oncom(app, app->_readFD);
  app->inUpdateTimer = false;
}

static void hd_update_timer_cb(evutil_socket_t, short, void*) {
  app_s* app = gApp;
  app_update_timer(app);
  if (app_channel().send_cursor) app_channel().send_cursor(app);
}

void app_start_update_timer(app_s* app) {
  if (!app || app->updateTimer) return;
  if (!app->evbase) {
    TE_Trace(TRACE_PRINT, "Event-base not defined in function (%s)\n", "app_start_update_timer");
    return;
  }
  app->updateTimer = event_new(app->evbase, -1, EV_PERSIST, hd_update_timer_cb, nullptr);
  timeval interval = {0, kAppUpdateIntervalMs * 1000};
  if (app->updateTimer) event_add(app->updateTimer, &interval);
}

void app_stop_update_timer(app_s* app) {
  if (!app || !app->updateTimer) return;
  event_free(app->updateTimer);
  app->updateTimer = nullptr;
}
