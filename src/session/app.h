// The session object: the one process-wide record of both roles, reached
// through gApp.  The server role keeps its listener, TLS set-up and table of
// session processes here; a session process keeps its browser connections
// and, as the session core grows, its terminal session.
#pragma once

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
};

extern app_s* gApp;

// A new session object with every field at its default; no connection is made.
app_s* app_main_initialize();
void set_app(app_s* app);

// True while the session's host connection is established.
bool app_is_connected(const app_s* app);
