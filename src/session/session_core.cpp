// The terminal session's life: creation of the session object with its
// character-mode terminal, connect / poll / connection made / disconnect with
// the stale-connection slot, the host read watch, bytes to the host with the
// half-duplex echo, the screen helpers (banner, sync, border processing) and
// the window titles.  The host-data handler and the update timer are in
// host_data.cpp.
#include <event2/event.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "app.h"
#include "auxport.h"
#include "blockmode.h"
#include "emulation.h"
#include "hostname.h"
#include "localconnection.h"
#include "lumconnection.h"
#include "lumdict.h"
#include "macro.h"
#include "platform.h"
#include "policy.h"
#include "secure.h"
#include "settings.h"
#include "sshconnection.h"
#include "stats.h"
#include "te/te.h"
#include "telnetconnection.h"
#include "tetrace.h"

app_s* gApp = nullptr;

static app_channel_ops g_channelOps = {};
static std::string g_title;

void app_set_channel_ops(const app_channel_ops* ops) {
  g_channelOps = ops ? *ops : app_channel_ops{};
}

const app_channel_ops& app_channel() {
  return g_channelOps;
}

const std::string& app_current_title() {
  return g_title;
}

void set_app(app_s* app) {
  gApp = app;
}

// ---- the engine's outward calls ----

static app_s* core_owner(te* t) {
  return t ? static_cast<app_s*>(t->app) : nullptr;
}
static void core_hook_comout(te* t, int byte) {
  if (app_s* app = core_owner(t)) app_comout(app, byte);
}
static void core_hook_bcomout(te* t, const char* bytes, int length) {
  if (app_s* app = core_owner(t)) app_bcomout(app, bytes, length);
}
static void core_hook_title(te* t, const char* text) {
  if (app_s* app = core_owner(t)) app_set_te_title(app, text);
}
static void core_hook_bell(te* t) {
  if (app_s* app = core_owner(t)) app_bell(app);
}
static void core_hook_error(te*, int code) {
  TE_Trace(TRACE_FAIL, "Terminal engine error %d\n", code);
}

// ---- prompts of the connections ----
// A connection's questions go through the drawing layer's prompts, which
// reach the browser once its prompts are attached and until then never
// wait (entry cancelled, question answered no, error only traced).

static int core_prompt_entry(void* pgl, const char* title, bool isPassword, const char* msg,
                             const char* saveMsg, std::string* text) {
  int result = 0;
  char* answer = wingetentry(pgl, title, isPassword, msg, saveMsg, &result);
  text->assign(answer ? answer : "");
  if (answer) {
    explicit_bzero(answer, strlen(answer));
    free(answer);
  } else {
    result = 0;
  }
  return result;
}
static int core_prompt_yesno(void* pgl, const char* title, const char* text) {
  return winshowyesno(pgl, title, text);
}
static void core_prompt_fatal(void* pgl, bool fatal, const char* text) {
  winshowfatalerror(pgl, fatal, text);
}

// ---- creation ----

// Secrets a connection was asked to keep (a typed password or passphrase)
// go to the secure store; the connection keeps only the token.
static std::string core_store_secret(const char* secret) {
  char* token = kvx_set_secure(secret);
  std::string result = token ? token : "";
  free(token);
  return result;
}

static app_s* app_create_initialize(void* frame, int x, int y) {
  app_s* app = new app_s{};
  app->_frame = frame;
  app->x = x;
  app->y = y;
  app->_rows = 25;
  app->_cols = 80;
  app->emlib = EM_UNIX;

  // The session core's operations that the settings and the drawing layer
  // call, and the connections' prompts.
  app_platform_hooks hooks;
  hooks.ontimer = app_ontimer;
  hooks.update_remote_rows = app_update_remote_rows;
  hooks.clear_emulator = app_clear_emulator;
  app_set_platform_hooks(&hooks);
  static const LumPromptHooks prompts = {core_prompt_entry, core_prompt_yesno, core_prompt_fatal};
  LumSetPromptHooks(&prompts);
  LumSetSecretStore(core_store_secret);

  // The drawing handle and its invisible screen; nothing is ever shown.
  app->pgl = wininit(app);
  winopen(app->pgl, frame, 768, 600);
  app->lpte = TESimpleInit(nullptr, app->pgl, 7);
  if (app->lpte) {
    te* t = app->lpte;
    t->app = app;
    t->pgl = app->pgl;
    t->hooks.comout = core_hook_comout;
    t->hooks.bcomout = core_hook_bcomout;
    t->hooks.set_title = core_hook_title;
    t->hooks.bell = core_hook_bell;
    t->hooks.windowSizeChanged = windowSizeChanged;
    t->hooks.error = core_hook_error;
    app_aux_attach(app, t);
  } else {
    TE_Trace(TRACE_FAIL, "Unable to create the terminal record.\n");
  }
  app_block_create(app);
  wingetclientrect(app->pgl, nullptr, nullptr, &app->winw, &app->winh);
  return app;
}

static void app_create_initialize_continue(app_s* app) {
  g_title = APP_TITLE_PRODUCT " - Disconnected";
  app_set_title(app, g_title.c_str());
  app_set_te_using_dictionary(app, app->_dict);
  app_connect_using_dictionary(app, app->_dict);
  // The drawing layer's first resize reaches the session (app_onresize).
  winresize(app->pgl, app->winw, app->winh);
  app_draw_banner(app);
}

app_s* app_create(void* frame, int x, int y) {
  app_s* app = app_create_initialize(frame, x, y);
  app->_dict = nullptr;  // no default configuration
  app_create_initialize_continue(app);
  return app;
}

app_s* app_main_initialize() {
  return app_create(nullptr, 0, 0);
}

LumDict* app_get_connected_dict(app_s* app) {
  return app && app_is_connected(app) ? app->_dict : nullptr;
}

void app_replace_dictionary(app_s* app, LumDict* dict) {
  if (!app || dict == app->_dict) return;
  // A connection still being made reads the dictionary it was made with and
  // writes into it what the user asks to keep (a typed user name or a
  // password's token): it ends first, and no connection, the one still
  // open or the one waiting to be destroyed, keeps a pointer to the old
  // dictionary.
  if (app->_conn && !app_is_connected(app)) {
    TE_Trace(TRACE_SESSION, "%s: a new configuration ends the connection in progress\n",
             "app_replace_dictionary");
    app_disconnect(app, 0);
  }
  for (LumConnection* conn : {app->_conn, app->_staleConnection})
    if (conn && conn->_dict == app->_dict) conn->_dict = nullptr;
  delete app->_dict;
  app->_dict = dict;
}

void app_connect_using_dictionary(app_s* app, LumDict* dict) {
  if (!app || !dict) return;
  app_replace_dictionary(app, dict);
  app_connect(app);
}

// ---- connection kinds ----

static LumConnection* core_new_connection(int conntype) {
  switch (conntype) {
    case 7:
      return new LumLocalConnection();
    case 5:
      return new LumSSHConnection();
    default:
      return new LumTelnetConnection();
  }
}

static void core_destroy_stale(app_s* app) {
  LumConnection* stale = app->_staleConnection;
  app->_staleConnection = nullptr;
  delete stale;
}

// ---- connect ----

// Puts the secret behind the token stored under `tokenKey` into `key` (the
// empty text when the store has none).  Without a token, `key` is emptied
// when `clearWithoutToken` is set and left as configured otherwise.
static void core_resolve_secret(app_s* app, LumDict* dict, const char* tokenKey, const char* key,
                                bool clearWithoutToken) {
  std::string token = dict->stringValueForKey(tokenKey);
  if (token.empty() && !clearWithoutToken) return;
  char* secret = token.empty() ? nullptr : app_macro_get_secure(app, token.c_str());
  dict->setStringForKey(key, secret ? secret : "");
  if (secret) {
    explicit_bzero(secret, strlen(secret));
    free(secret);
  }
}

// The server's connection policy for the connection about to be made: its
// kind, and for telnet and SSH the host and port, checked by name and by
// resolved address.  A refused connect shows why and dials nothing; an
// admitted one dials the address that was checked.
static bool core_policy_admits(app_s* app, LumConnection* conn) {
  const kvx_policy_t& policy = kvx_policy();
  const uint32_t kind = kvx_policy_kind_of(app->_conntype);
  if (!(policy.kinds & kind)) {
    TE_Trace(TRACE_PRINT, "[%d] - Connect refused: %s sessions are not allowed.\n",
             static_cast<int>(getpid()), kvx_policy_kind_name(kind));
    kvx_stats_add(&kvx_stats()->refusedKind, 1);
    conn->ShowError(true, "%s sessions are not allowed on this server.", kvx_policy_kind_label(kind));
    return false;
  }
  if (kind == KVX_KIND_SHELL || policy.anyHost) return true;
  const int port = conn->_port > 0 ? conn->_port : (kind == KVX_KIND_SSH ? 22 : 23);
  kvx_policy_verdict v = kvx_policy_check_host(policy.hosts, conn->_hostname, port);
  if (v.allowed) {
    conn->_dialAddress = v.dial;
    return true;
  }
  if (!v.resolved) {
    conn->ShowError(true, "Could not resolve the hostname %s", conn->_hostname.c_str());
    return false;
  }
  TE_Trace(TRACE_PRINT, "[%d] - Connect refused: host [%s] port [%d] is not allowed.\n",
           static_cast<int>(getpid()), conn->_hostname.c_str(), port);
  kvx_stats_add(&kvx_stats()->refusedHost, 1);
  conn->ShowError(true, "Connections to %s port %d are not allowed on this server.", conn->_hostname.c_str(),
                  port);
  return false;
}

void app_connect(app_s* app) {
  if (!app || !app->_dict) return;
  LumDict* dict = app->_dict;
  app->needToClose = false;
  app->inConnect = true;
  std::string host = app_get_dictionary_hostname(*dict);
  g_title = std::string(APP_TITLE_PRODUCT " - Connecting to ") + host;
  app_set_title(app, g_title.c_str());
  app->_haveFirstData = false;
  // A title belongs to the host that set it: a new connect starts without.
  if (!app->teTitle.empty()) app_set_te_title(app, "");

  // A connection that is still there (connected or still connecting) is
  // ended first, so that no descriptor or shell is left behind.
  if (app->_conn) app_disconnect(app, 0);
  core_destroy_stale(app);

  app_set_te_using_dictionary(app, dict);
  app_block_connecting(app);
  app_start_update_timer(app);

  LumConnection* conn = core_new_connection(app->_conntype);
  if (!conn) {
    app->inConnect = false;
    app->_readFD = 0;
    app_stop_update_timer(app);
    _app_update_title(app);
    if (g_channelOps.send_connected) g_channelOps.send_connected(app, false);
    return;
  }
  conn->setWindow(app->pgl);
  app->_conn = conn;

  // The secret behind the password token is in the dictionary only for as
  // long as the connection takes to read it.
  core_resolve_secret(app, dict, "passwordHash", "password", true);
  core_resolve_secret(app, dict, "sshPassphraseHash", "sshPassphrase", false);
  if (app->_conntype == 4) dict->setStringForKey("useStartTLS", "1");
  if (app->_conntype == 8) dict->setStringForKey("useStartTLS", "0");
  char* keyPath = app_privkey_file_path("privkey.p12");
  dict->setStringForKey("sslPrivateKey", keyPath ? keyPath : "");
  free(keyPath);
  // The host is told the terminal that really runs.
  conn->_announceEmulation = app_running_emulation(app);
  conn->UseDictionary(dict);
  dict->setStringForKey("sslPrivateKeyPassword", "");
  dict->setStringForKey("password", "");
  dict->setStringForKey("sshPassphrase", "");

  app->_connectionStart = time(nullptr);
  if (!core_policy_admits(app, conn)) {
    app->_readFD = LUM_CONNECT_FAILED;
    app->inConnect = false;
    app_connection_made(app);
    return;
  }
  kvx_stats_count_connect(kvx_policy_kind_of(app->_conntype));
  app->_readFD = conn->MakeConnection();
  app->inConnect = false;
  if (app->_readFD != APP_FD_CONNECTING) app_connection_made(app);
}

void app_connection_made(app_s* app) {
  if (!app) return;
  if (app->_conn && (app->_readFD > 0 || app->_readFD == APP_FD_NO_DESCRIPTOR)) {
    app_use_read_socket(app, app->_readFD, app->autoReconnect);
    _app_update_title(app);
    if (app->lpte) app_update_remote_rows(app, app->lpte->vlines, app->lpte->vcols);
    app_block_connected(app);
    if (g_channelOps.send_connected) g_channelOps.send_connected(app, true);
    return;
  }
  app_stop_update_timer(app);
  app_disconnect(app, 0);
}

bool app_should_close_on_disconnect(app_s* app) {
  return app && app->_dict && app->_dict->boolValueForKey("closedisc") && !app->inConnect;
}

void app_disconnect(app_s* app, int error) {
  if (!app) return;
  app_disconnect_ex(app, error, app->autoReconnect, app_should_close_on_disconnect(app));
}

void app_disconnect_ex(app_s* app, int error, bool autoReconnect, bool closeDisconnect) {
  if (!app || !app->_conn) return;
  LumConnection* conn = app->_conn;
  app_use_read_socket(app, (error == ECONNRESET || error == ECONNREFUSED) ? -1 : 0, autoReconnect);
  // A macro of this connection types nothing into the next one.
  app_macro_stop_playback(app);
  conn->Disconnect();
  app->_conn = nullptr;
  // A connection still waiting in the slot from an earlier disconnect is
  // released now rather than lost.
  if (app->_staleConnection && app->_staleConnection != conn) core_destroy_stale(app);
  app->_staleConnection = nullptr;
  app_stop_update_timer(app);
  // Output held for the next tick would never be released once the timer
  // stops: a host that ends right after a full read still shows its last
  // words.
  if (app->emlib == EM_UNIX && app_is_holding_data(app)) {
    app_set_holding_data(app, false);
    app_onsync(app);
    if (g_channelOps.send_region) g_channelOps.send_region(app);
  }
  if (error == ECONNRESET) conn->ShowError(false, "Connection Reset by Peer");
  if (error == ECONNREFUSED) conn->ShowError(false, "Connection Refused");
  app->_staleConnection = conn;
  app_block_disconnected(app, autoReconnect);
  if (!autoReconnect) _app_update_title(app);
  // Browsers learn that the host is gone, as they learnt that it came.
  if (g_channelOps.send_connected) g_channelOps.send_connected(app, false);
  if (closeDisconnect) app->needToClose = true;
}

void app_end_session(app_s* app) {
  if (!app) return;
  app_disconnect_ex(app, 0, false, false);
  core_destroy_stale(app);
  app_stop_update_timer(app);
}

bool app_is_connected(const app_s* app) {
  return app && app->_conn && app->_conn->IsConnected();
}

// ---- the host read watch ----

static void core_oncom_cb(evutil_socket_t fd, short, void*) {
  app_oncom(gApp, static_cast<int>(fd));
}

void app_use_read_socket(app_s* app, int fd, bool) {
  if (!app) return;
  if (app->readEvent) {
    event_free(app->readEvent);
    app->readEvent = nullptr;
  }
  app->readWatchFd = 0;
  // Only a real descriptor can be watched: the -1 left after a reset or a
  // refused connection, and the -10 of a connection without a descriptor,
  // would never fire.
  if (fd <= 0 || !app->evbase) return;
  app->readEvent = event_new(app->evbase, fd, EV_READ | EV_PERSIST, core_oncom_cb, nullptr);
  app->readWatchFd = fd;
  if (app->readEvent && !app->hostReadsPaused) event_add(app->readEvent, nullptr);
}

static void core_pause_host_reads(app_s* app) {
  bool pause = app->browsersBehind || app->auxBehind;
  if (app->hostReadsPaused == pause) return;
  app->hostReadsPaused = pause;
  if (!app->readEvent) return;
  if (pause) {
    event_del(app->readEvent);
  } else {
    event_add(app->readEvent, nullptr);
    event_active(app->readEvent, EV_READ, 0);
  }
}

void app_pause_host_reads(app_s* app, bool pause) {
  if (!app) return;
  app->browsersBehind = pause;
  core_pause_host_reads(app);
}

void app_pause_host_reads_for_aux(app_s* app, bool pause) {
  if (!app) return;
  app->auxBehind = pause;
  core_pause_host_reads(app);
}

void app_update_remote_rows(app_s* app, int rows, int cols) {
  if (!app || app->emlib == EM_TN3270 || !app_is_connected(app)) return;
  TE_Trace(TRACE_5250, "app_update_remote_rows to %d %d\n", rows, cols);
  app->_conn->ChangePtySize(rows, cols);
  app_oncom(app, app->_readFD);
}

// ---- bytes to the host ----

static void core_handle_dupmode(app_s* app, const char* bytes, int length) {
  te* t = app->lpte;
  if (app->emlib != EM_UNIX || !t || t->dupmode != 1 || length <= 0) return;
  TEemwrite(t, bytes, static_cast<size_t>(length));
  app_onsync(app);
  if (!app_is_holding_data(app) && g_channelOps.send_region) g_channelOps.send_region(app);
}

// What goes to the host, for the "comm" trace: how much, never the bytes
// themselves, which carry what the operator or a macro types, passwords too.
static void core_trace_out(const void*, int length) {
  if (TE_Trace_Enabled(TRACE_COMM_OUT)) TE_Trace(TRACE_COMM_OUT, "To host: %d Bytes\n", length);
}

void app_comout(app_s* app, int byte) {
  if (!app) return;
  char c = static_cast<char>(byte);
  if (app_is_connected(app)) {
    core_trace_out(&c, 1);
    app->_conn->Comout(static_cast<unsigned char>(byte));
  }
  core_handle_dupmode(app, &c, 1);
}

void app_bcomout(app_s* app, const char* bytes, int length) {
  if (!app || !bytes || length <= 0) return;
  if (app_is_connected(app)) {
    core_trace_out(bytes, length);
    app->_conn->Comout(bytes, length);
  }
  core_handle_dupmode(app, bytes, length);
}

void app_bcomout_raw(app_s* app, const char* bytes, int length) {
  if (!app || !bytes || length <= 0) return;
  if (app_is_connected(app)) {
    core_trace_out(bytes, length);
    app->_conn->ComoutRaw(bytes, length);
  }
  core_handle_dupmode(app, bytes, length);
}

// ---- screen ----

void app_clear_emulator(app_s* app) {
  te* t = app ? app->lpte : nullptr;
  if (!t || app->emlib != EM_UNIX) return;
  vclear2(t, 0);
  cpos(t, 0, 0);
  app_onsync(app);
}

void app_draw_banner(app_s* app) {
  te* t = app ? app->lpte : nullptr;
  if (!t || app->emlib != EM_UNIX) return;
  vclear2(t, 0);
  cpos(t, 0, 0);
  if (t->vlines >= 5) {
    for (int i = 0; i < t->vlines - 4; i++) TEemwrite(t, "\r\n", 2);
    char* line = app_get_banner_line();
    if (line) TEemwrite(t, line, strlen(line));
    free(line);
    TEemwrite(t, "\r\n", 2);
  }
  app_onsync(app);
}

// Nothing is drawn in a session process; the browsers draw from the cells.
void app_onpaint(app_s*) {}

// The cursor fields follow the terminal's cursor again (they stand still
// while output is held).
void app_onsync(app_s* app) {
  te* t = app ? app->lpte : nullptr;
  if (!t || !t->outflag) return;
  VidPos(t, t->vdestline, t->vdestcol);
}

void app_ontimer(app_s*) {}

// Line-drawing code by neighbour mask: bit 1 right, 2 up, 4 left, 8 down.
static const uint16_t kBorderCodes[16] = {'*',    0x12C4, 0x12B3, 0x12C0, 0x12C4, 0x12C4, 0x12D9, 0x12C1,
                                          0x12B3, 0x12DA, 0x12B3, 0x12C3, 0x12BF, 0x12C2, 0x12B4, 0x12C5};

static bool core_is_border_char(CHATTR cell) {
  unsigned c = static_cast<unsigned>(cell & 0xFFFF);
  if (c == '*') return true;
  return c == 0x12B3 || c == 0x12B4 || (c >= 0x12BF && c <= 0x12C5) || c == 0x12D9 || c == 0x12DA;
}

void app_process_borders(app_s* app) {
  te* t = app ? app->lpte : nullptr;
  if (!t || app->emlib != EM_UNIX) return;
  const int rows = t->vlines, cols = t->vcols;
  auto border = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < cols && y < rows && core_is_border_char(t->_vscreen[y][x]);
  };
  for (int y = 0; y < rows; y++) {
    for (int x = 0; x < cols; x++) {
      CHATTR cell = t->_vscreen[y][x];
      if (!core_is_border_char(cell)) continue;
      int mask = (border(x + 1, y) ? 1 : 0) | (border(x, y - 1) ? 2 : 0) | (border(x - 1, y) ? 4 : 0) |
                 (border(x, y + 1) ? 8 : 0);
      CHATTR next = (cell & 0xFFFF0000ull) | kBorderCodes[mask];
      if (next != cell) set_vscreen(t, x, y, next);
    }
  }
}

// ---- titles ----

char* app_get_display_name(app_s* app) {
  if (!app || !app->_dict) return strdup("None");
  if (app->_conntype == 7) return strdup("Local Shell");
  return strdup(app_get_dictionary_hostname(*app->_dict).c_str());
}

void _app_update_title(app_s* app) {
  if (!app) return;
  if (!app_is_connected(app)) {
    g_title = APP_TITLE_PRODUCT " - Disconnected";
  } else if (!app->teTitle.empty()) {
    g_title = APP_TITLE_PRODUCT " - " + app->teTitle;
  } else {
    char* name = app_get_display_name(app);
    g_title = std::string(APP_TITLE_PRODUCT " - Connected to ") + (name ? name : "");
    free(name);
  }
  app_set_title(app, g_title.c_str());
}

void app_set_te_title(app_s* app, const char* text) {
  if (!app) return;
  app->teTitle = text ? text : "";
  _app_update_title(app);
  if (g_channelOps.send_title) g_channelOps.send_title(app);
}

void app_bell(app_s* app) {
  if (!app) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const int64_t ms = static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  // A host that rings in a loop is heard once per interval, not once per byte.
  if (app->lastBellMs != 0 && ms - app->lastBellMs < kAppBellIntervalMs) return;
  app->lastBellMs = ms;
  if (g_channelOps.send_bell) g_channelOps.send_bell(app);
}
