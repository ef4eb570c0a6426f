// The session broker: the server's table of session processes, session
// identifiers, starting children, their port reports, listing, relaying
// per-session requests over loopback HTTP(S), and the session role's own
// endpoints that the server relays to.
#pragma once

#include <evhtp/evhtp.h>

#include <string>

#include "json.h"

struct app_s;

struct kvx_session_t {
  int pid = 0;
  int port = 0;                    // 0 until the child has reported
  std::string deviceId;            // from the "/new_session" body; empty when none was given
  std::string sessionId;           // 40 lowercase hexadecimal digits
  evhtp_request_t* req = nullptr;  // the "/new_session" request still waiting for its answer
  event* reportTimer = nullptr;    // limits the wait for the child's report
  std::string client;              // the client address it counts against (see --max-sessions-per-client)
  struct kvx_stats_t* stats = nullptr;  // the counters page shared with the child (owned mapping)
  bool killedUnreported = false;        // ended by the server for not reporting in time
};

// Seconds a child has to report its port before "/new_session" fails.
constexpr int kKvxReportTimeout = 15;

kvx_session_t* kvx_session_new();
void kvx_session_free(kvx_session_t* session);
kvx_session_t* kvx_session_find(const char* sessionId);
// A child has been reaped: answers a still-held "/new_session" and drops the record.
void kvx_session_reaped(int pid, int waitStatus);
// Frees every record (process teardown).
void broker_teardown(app_s* app);

char* gen_session_id();

// ---- endpoints, server role ----
void new_session(evhtp_request_t* req, void* arg);
void update_session(evhtp_request_t* req, void* arg);
void list_sessions(evhtp_request_t* req, void* arg);
// "/shutdown_session", "/get_config_values", "/load_capture": relayed as they are.
void relay_request(evhtp_request_t* req, void* arg);
// "/load_config": a JSON request, then relayed.
void relay_load_config(evhtp_request_t* req, void* arg);
// "/get_file": relayed, the session's answer (a file's bytes) passed back.
void relay_file(evhtp_request_t* req, void* arg);

// ---- endpoints, session role ----
void shutdown_session(evhtp_request_t* req, void* arg);
void load_config(evhtp_request_t* req, void* arg);
void get_config_values(evhtp_request_t* req, void* arg);
void load_capture(evhtp_request_t* req, void* arg);
// A file of the session, and the print jobs it keeps (file_routes.cpp).
void get_file(evhtp_request_t* req, void* arg);
void list_print_jobs(evhtp_request_t* req, void* arg);

// ---- loopback requests ----
typedef void (*kvx_response_cb)(evhtp_request_t* response, void* arg);
bool post_json_request(const char* path, int port, const js_value_s* object, kvx_response_cb callback);
void repost_request(evhtp_request_t* req);
void handle_post_response(evhtp_request_t* response, void* incoming);
bool post_update_session(const char* sessionId, int port);
void post_http_chld_shutdown_events();
int get_socket_port(int fd);
// Frees the loopback exchanges still in flight when the process ends.
void kvx_loopback_teardown();
// Where the two roles reach each other: 127.0.0.1 while every interface is
// bound, otherwise the bound address itself.
const char* kvx_loopback_address();
// Where session processes listen and the server reaches them: 127.0.0.1,
// or with --expose-sessions the server's own address as above.
const char* kvx_session_address();
const char* _get_kavrix_exe_path();
