// The session object: the one process-wide record of both roles, reached
// through gApp.  The server role keeps its listener, TLS set-up and table of
// session processes here; a session process keeps its browser connections
// and, as the session core grows, its terminal session.
#pragma once

#include <cstdint>
#include <ctime>
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
class LumDict;         // the settings dictionary

// ---- BEGIN settings block: declared by the settings / emulation / platform
// ---- layer until the session core declares its full field set.
// Which emulator receives host data and keys.
typedef enum tagEmlib { EM_UNIX = 0, EM_TN3270 = 1, EM_TN5250 = 2 } APP_EM_LIB;
// ---- END settings block

struct app_s {
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
  event* idleTimer = nullptr;   // ends a session that no browser ever attached to
  time_t startTime = 0;         // when the session process started listening
  bool clientAttached = false;  // a browser has attached at least once

  // ---- BEGIN settings block: terminal session fields read and written by
  // ---- the settings, the emulation selection and the platform layer.
  void* pgl = nullptr;         // drawing handle (PGL, platform.h)
  int winw = 0, winh = 0;      // drawing surface in pixels
  te* lpte = nullptr;          // the character-mode terminal, owned
  APP_EM_LIB emlib = EM_UNIX;  // the active emulator
  bool autoReconnect = false;  // never enabled in this system
  LumDict* _dict = nullptr;    // the settings dictionary, owned
  int _rows = 25, _cols = 80;  // requested screen size
  bool _autologin = false;     // play _autologinMacroHash once the host is reached
  std::string _autologinMacroHash;
  int _conntype = 0;             // the commtype setting
  uint32_t _cursorColor = 0;     // cursor colour (COLORREF)
  int borderDetect = 0;          // turn '*' drawings into line drawing
  int _emulation = -1;           // the emulate setting last applied (none yet)
  std::string _currentCodepage;  // the cptrxin setting last loaded
  // ---- END settings block
};

extern app_s* gApp;

// A new session object with every field at its default; no connection is made.
app_s* app_main_initialize();
void set_app(app_s* app);

// True while the session's host connection is established.
bool app_is_connected(const app_s* app);
