// The session object: the one process-wide record of both roles, reached
// through gApp.  The server role keeps its listener, TLS set-up and table of
// session processes here; a session process keeps its terminal session: the
// emulator records, the settings dictionary and configuration, the host
// connection, the update timer and its browser connections.
//
// The session reaches the browsers through a narrow seam it owns
// (app_channel_ops), which the channel fills at start-up, so this library
// builds and runs without the channel.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct event;
struct event_base;
struct evhtp;
struct evhtp_ssl_cfg;
struct ssl_ctx_st;
struct kvx_session_t;  // the server's record of a session process
struct kvx_client_t;   // one browser connection of a session process
struct te;             // the character-mode terminal record
struct te3270;         // the block-mode record of the 3270 and 5250 emulators
struct js_value_s;
struct app_block_state;  // block-mode binding (blockmode.h)
void app_block_free(app_block_state* state);
struct app_block_deleter {
  void operator()(app_block_state* state) const { app_block_free(state); }
};
struct app_aux_port;  // the auxiliary port (auxport.h)
void app_aux_free(app_aux_port* port);
struct app_aux_deleter {
  void operator()(app_aux_port* port) const { app_aux_free(port); }
};
struct app_file_store;  // the files browsers may fetch (file_store.h)
void app_files_free(app_file_store* store);
struct app_files_deleter {
  void operator()(app_file_store* store) const { app_files_free(store); }
};
struct app_print_jobs;  // host printing (print_jobs.h)
void app_print_free(app_print_jobs* jobs);
struct app_print_deleter {
  void operator()(app_print_jobs* jobs) const { app_print_free(jobs); }
};
class LumDict;
class LumConnection;
class CTe5250Ctrl;

// Which emulator receives host data and keys.
typedef enum tagEmlib { EM_UNIX = 0, EM_TN3270 = 1, EM_TN5250 = 2 } APP_EM_LIB;

// Descriptor results of a connection as kept in _readFD.
enum : int {
  APP_FD_CONNECTING = -2,      // still being established
  APP_FD_NO_DESCRIPTOR = -10,  // connected without a descriptor to watch
};

// The screen text a paused macro waits for: `matchString` at column `x`,
// row `y` (both from 0).
struct MacroWait {
  int x = 0, y = 0;
  std::string matchString;
};

// Where macro playback is (macro.h).
enum MAC_STATE : unsigned char {
  MAC_IDLE = 0,   // no macro plays
  MAC_READING,    // its lines are read and acted on
  MAC_WAITING,    // it waits for a block-mode screen (macroWaitingForHash) or for screen text (macroWait)
  MAC_IN_DIALOG,  // a dialog script made of its lines runs; the lines after them go on when it ends
};

// Title texts.
#define APP_TITLE_PRODUCT "Ostrovia"

struct app_s {
  // ---- drawing layer (no visible output in a session process) ----
  void* pgl = nullptr;   // drawing handle
  void* font = nullptr;  // font handle
  int x = 0, y = 0, w = 0, h = 0;
  int winw = 0, winh = 0;  // drawing surface in pixels

  // ---- emulators ----
  te* lpte = nullptr;          // the character-mode terminal (owned)
  te3270* lptn = nullptr;      // the active block-mode record: lptn3270 or lptn5250
  te3270* lptn3270 = nullptr;  // owned
  te3270* lptn5250 = nullptr;  // owned (through _te5250)
  APP_EM_LIB emlib = EM_UNIX;

  // ---- host as first configured ----
  std::string hostname;
  int port = 0;
  bool autoReconnect = false;

  // ---- view state of the drawing layer (no behaviour here) ----
  int panx = 0, pany = 0;
  bool shrinkToFit = false;
  bool antialias = false;
  int selx = 0, sely = 0, selw = 0, selh = 0;
  bool selr = false;

  // ---- macro playback (macro.h) ----
  std::string macroFile;        // the macro file being played (empty: the macro came as text)
  std::string macroString;      // the macro text being played (a file is read whole)
  size_t macroLinePtr = 0;      // read position in macroString
  MAC_STATE macroState = MAC_IDLE;  // where playback is
  bool macroDialog = false;     // a line has made this a dialog macro (u, p and s join the dialog text)
  char macroWaitingForHash[37] = {};  // the screen hash awaited (empty: none)
  std::optional<MacroWait> macroWait;  // the screen text awaited
  event* macroTimer = nullptr;         // the dialog script's tick

  // ---- dialog scripts (dialog.h) ----
  std::string dialogString;      // the script (owned copy)
  size_t dialogPtr = 0;          // position of the next command
  int dialogState = 5;           // DLG_STATE (DLG_IDLE)
  std::string dialogOutbuf;      // output not yet sent, in the escape notation
  size_t dialogOutCut = static_cast<size_t>(-1);  // output beyond this is not sent (a cut); npos: none
  std::string matchBuf;          // the awaited text, its escapes expanded
  std::vector<uint32_t> matchNext;  // for each length matched, the length still matched after a miss
  size_t dialogMatchPtr = 0;     // bytes of matchBuf matched by the latest host output
  size_t jtab = 0;               // script position to continue at once the text has been seen
  size_t dialogLabel = 0;        // position after the last label; 0: no label
  int dialogTimeout = 60;        // seconds allowed for a wait; 0: no limit
  int64_t dialogStopTime = 0;    // the script's overall deadline (monotonic milliseconds)
  int64_t comwaitTimeout = 0;    // deadline of the current wait (0: none)
  int dialogEnd = 0;             // DLG_END: how the last script ended
  int dialogResult = 0;          // its result code or error number

  bool insideComEvent = false;  // re-entry guard of the host-data handler

  // ---- printing (produces nothing in this system) ----
  int printLines = 0;
  int printCols = 0;
  bool printScreen = false;
  // Host printing into print jobs (print_jobs.h), and the files browsers may
  // fetch, the finished jobs among them (file_store.h); both owned.
  std::unique_ptr<app_print_jobs, app_print_deleter> print;
  std::unique_ptr<app_file_store, app_files_deleter> files;

  CTe5250Ctrl* _te5250 = nullptr;  // owns lptn5250
  // The block-mode engines and their record collector (blockmode.h), owned.
  std::unique_ptr<app_block_state, app_block_deleter> block;

  // ---- drawing-layer hooks (no behaviour here) ----
  void* _frame = nullptr;
  void* _widget = nullptr;
  bool waitingToDraw = false;

  // ---- process and listener (both roles) ----
  event_base* evbase = nullptr;         // the process's only event loop
  evhtp* htp = nullptr;                 // the HTTP listener
  int host_mode = 0;                    // 0 = server role, 1 = session role ("-a")
  std::string bindPortStr = "8080";     // the port as typed after "-p"; passed to children unchanged
  int bindPort = 8080;                  // server role: port to bind; session role: the server's port
  std::string bindAddress = "0.0.0.0";  // IPv4 address the listener binds
  int listenPort = 0;                   // the port actually bound
  std::string sessionId;                // "-a" (session role only)
  std::string certificateName;          // "-c": certs/<name>.pem; empty = no TLS
  std::string privateKeyName;           // "-k": certs/<name>.pem; empty = key inside the certificate file
  bool shutdown = false;                // server: draining; session: "/shutdown_session" answered
  bool sslEnabled = false;              // TLS on the listener and on loopback requests
  bool sslClientAuthEnabled = false;    // "-C"
  std::vector<kvx_session_t*> kvx_sessions;  // server role: live session processes, in creation order
  std::vector<kvx_client_t*> kvx_clients;    // session role: browser channels, in order of arrival
  ssl_ctx_st* ssl_host_ctx = nullptr;        // listener context (owned by the evhtp instance)
  ssl_ctx_st* ssl_client_ctx = nullptr;      // context for loopback requests to the other role
  evhtp_ssl_cfg* ssl_host_cfg = nullptr;     // listener TLS configuration (owned)
  int loopbackInFlight = 0;                  // loopback requests not yet finished

  // ---- browser channel (session role) ----
  bool blockingMode = false;    // a prompt waits: channel I/O reads and writes sockets directly
  int fdMax = 0;                // largest channel socket while in blocking mode
  event* pingTimer = nullptr;   // the channel keep-alive timer
  event* idleTimer = nullptr;   // ends a session that no browser attaches to in time
  time_t startTime = 0;         // when the session process started listening
  bool clientAttached = false;  // a browser has attached at least once
  bool unattended = false;      // the host went while no browser was attached

  // ---- configuration ----
  js_value_s* _config = nullptr;  // the object last posted to "/load_config" (owned)
  LumDict* _dict = nullptr;       // the settings dictionary (owned)

  // ---- host connection ----
  int _readFD = 0;              // > 0 descriptor; -2 connecting; -10 no descriptor; else failed
  time_t _connectionStart = 0;  // when the current attempt began
  int _mode = 0;                // not read in this system
  int _rows = 25, _cols = 80;   // requested screen size
  bool _autologin = false;      // play _autologinMacroHash on the first host data
  std::string _autologinMacroHash;
  std::string teTitle;                        // title set by the host (cleared by a connect)
  int64_t lastBellMs = 0;                     // monotonic time of the last bell passed on; 0 none yet
  std::string emulationNotice;                // why another emulation runs than the one asked for
  bool _haveFirstData = false;                // block mode: first host record since the connect
  int _conntype = 0;                          // "commtype": 7 local shell, 5 SSH, else telnet
  LumConnection* _conn = nullptr;             // the current connection (owned)
  LumConnection* _staleConnection = nullptr;  // disconnected, destroyed on the next tick (owned)
  uint32_t _cursorColor = 0;
  bool _macroContinue = false;
  bool needToClose = false;    // close the session after the current host-data pass
  bool inConnect = false;      // a connect is in progress
  bool inUpdateTimer = false;  // re-entry guard of the update timer
  int borderDetect = 0;        // turn '*' drawings into line-drawing characters
  void* ctrl = nullptr;        // not read in this system

  // ---- settings state kept between applications ----
  int _emulation = -1;           // the "emulate" setting in force
  std::string _currentCodepage;  // the "cptrxin" code page loaded

  // ---- session-core timers and watches ----
  event* updateTimer = nullptr;      // the 100 ms update timer
  event* readEvent = nullptr;        // the host read watch
  int readWatchFd = 0;               // descriptor of readEvent
  bool hostReadsPaused = false;      // host reads wait: every browser is behind, or the auxiliary port
  bool browsersBehind = false;       // every browser is behind
  bool auxBehind = false;            // the auxiliary port's queue is full
  std::unique_ptr<app_aux_port, app_aux_deleter> aux;  // the auxiliary port (auxport.cpp), owned
  bool unicodeTableMissing = false;  // the missing TCS-to-Unicode table was reported

  // ---- keyboard ----
  int keyHighSurrogate = 0;  // first half of a character beyond U+FFFF, waiting for its second
};

extern app_s* gApp;

// ---- the seam to the browser channel ----
// Filled by the channel at start-up; a null member does nothing, so the
// session runs without browsers (tests, the server role).
struct app_channel_ops {
  void (*send_connected)(app_s* app, bool connected);  // KVX_HOST_ACTION_CONNECTED to every browser
  void (*send_region)(app_s* app);                     // the changed region to every browser
  void (*send_screen)(app_s* app);                     // the whole screen to every browser
  void (*send_cursor)(app_s* app);                     // the cursor state to every browser
  // True while every browser is too far behind to take more screen output.
  bool (*output_blocked)(app_s* app);
  // KVX_HOST_ACTION_NOTICE to every browser (an empty text withdraws it).
  void (*send_notice)(app_s* app, const char* kind, const char* text);
  // Any other action to every browser (channel_actions.h, KVX_ACTION); `fields`
  // ends with a null entry.
  void (*send_action)(app_s* app, int action, const char* const* fields);
  void (*send_title)(app_s* app);  // the host's title (teTitle) to every browser
  void (*send_bell)(app_s* app);   // the host rang the bell
  // An action to every browser that named `capability` (capabilities.h).
  void (*send_capable)(app_s* app, int capability, int action, const char* const* fields);
};
void app_set_channel_ops(const app_channel_ops* ops);
const app_channel_ops& app_channel();

// ---- creation ----
// A new session object: the character-mode terminal and the 800 x 600
// surface; no connection is made.
app_s* app_main_initialize();
app_s* app_create(void* frame, int x, int y);
void set_app(app_s* app);

// ---- settings ----
// Applying a dictionary, emulation selection and sizing are in settings.h and
// emulation.h; the platform operations and the secure store in platform.h
// and secure.h.
// Makes `dict` the session's dictionary, freeing a different previous one;
// a connection still being made with the previous one is ended first.
void app_replace_dictionary(app_s* app, LumDict* dict);
// app_replace_dictionary, then connects with it; a missing dictionary does
// nothing.
void app_connect_using_dictionary(app_s* app, LumDict* dict);
// The dictionary while connected, else null.
LumDict* app_get_connected_dict(app_s* app);

// ---- connection ----
void app_connect(app_s* app);
void app_connection_made(app_s* app);
void app_disconnect(app_s* app, int error);
void app_disconnect_ex(app_s* app, int error, bool autoReconnect, bool closeDisconnect);
bool app_should_close_on_disconnect(app_s* app);
// At the end of the session process: the host connection is closed (a local
// shell hung up and reaped) and the update timer stopped.
void app_end_session(app_s* app);
// True while the session's host connection is established.
bool app_is_connected(const app_s* app);
void app_use_read_socket(app_s* app, int fd, bool autoReconnect);
// Tells the host the screen size and takes in its answer.
void app_update_remote_rows(app_s* app, int rows, int cols);
// Host reads wait while every browser is behind, and resume when one catches up.
void app_pause_host_reads(app_s* app, bool pause);
// The same for the auxiliary port's queue; reads wait while either asks.
void app_pause_host_reads_for_aux(app_s* app, bool pause);

// ---- host data and the update timer ----
void app_oncom(app_s* app, int fd);
void app_start_update_timer(app_s* app);
void app_stop_update_timer(app_s* app);
void app_update_timer(app_s* app);
bool app_is_holding_data(app_s* app);
void app_set_holding_data(app_s* app, bool flag);

// Bytes read per host read, and the most one host-data pass takes in before
// it lets the event loop run (the rest is taken on the next pass).
constexpr int kAppReadBlock = 1024;
constexpr size_t kAppPassBudget = 1u << 20;
// A connect still pending after this many seconds fails.
constexpr int kAppConnectTimeout = 20;
constexpr int kAppUpdateIntervalMs = 100;

// ---- bytes to the host ----
void app_comout(app_s* app, int byte);
void app_bcomout(app_s* app, const char* bytes, int length);
void app_bcomout_raw(app_s* app, const char* bytes, int length);

// ---- screen ----
void app_clear_emulator(app_s* app);
void app_draw_banner(app_s* app);
void app_onpaint(app_s* app);
void app_onsync(app_s* app);
void app_ontimer(app_s* app);
void app_process_borders(app_s* app);
void app_set_te_title(app_s* app, const char* text);
// The host rang the bell: passed on to the browsers, at most once per
// kAppBellIntervalMs.
void app_bell(app_s* app);
constexpr int kAppBellIntervalMs = 200;
void _app_update_title(app_s* app);
// The host as the title names it, newly allocated (free()).
char* app_get_display_name(app_s* app);
// The title last given to app_set_title (for inspection).
const std::string& app_current_title();
