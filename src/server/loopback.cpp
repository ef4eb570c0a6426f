// Loopback HTTP(S) requests between the server and its session processes:
// posting JSON, relaying a browser's request to the session it names and
// passing the answer back (JSON, or a file's bytes for "/get_file").  Every request in flight keeps a small record
// that follows the lifetimes of the client connection and of the browser's
// request, so that neither is touched after the HTTP layer has freed it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "app.h"
#include "broker.h"
#include "http.h"
#include "server.h"
#include "tetrace.h"

namespace {

struct loopback_s {
  evhtp_connection_t* conn = nullptr;
  kvx_response_cb callback = nullptr;
  evhtp_request_t* incoming = nullptr;  // the browser's request being relayed, while alive
  int port = 0;
  bool answered = false;    // the response callback has run
  bool freeQueued = false;  // a deferred release of the connection is scheduled
};

}  // namespace

// Every exchange in flight, so that a process ending in the middle of one
// can still free it.
static std::unordered_set<loopback_s*>& loopbacks() {
  static std::unordered_set<loopback_s*> all;
  return all;
}

static loopback_s* loopback_new() {
  gApp->loopbackInFlight++;
  loopback_s* lb = new loopback_s;
  loopbacks().insert(lb);
  return lb;
}

static void loopback_delete(loopback_s* lb) {
  loopbacks().erase(lb);
  delete lb;
  gApp->loopbackInFlight--;
  kvx_stop_when_drained(gApp);
}

int get_socket_port(int fd) {
  sockaddr_in sin;
  socklen_t len = sizeof sin;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) return 0;
  return ntohs(sin.sin_port);
}

static evhtp_res loopback_incoming_fini(evhtp_request_t*, void* arg) {
  static_cast<loopback_s*>(arg)->incoming = nullptr;
  return EVHTP_RES_OK;
}

static evhtp_res loopback_answer_sent(evhtp_request_t*, void*) {
  gApp->loopbackInFlight--;
  kvx_stop_when_drained(gApp);
  return EVHTP_RES_OK;
}

// Stops following the browser's request and hands it to the caller, who
// answers it.  Until that answer is out, a draining server keeps running.
static evhtp_request_t* loopback_take_incoming(loopback_s* lb) {
  evhtp_request_t* req = lb->incoming;
  lb->incoming = nullptr;
  if (req) {
    gApp->loopbackInFlight++;
    evhtp_request_set_hook(req, evhtp_hook_on_request_fini, kvx_hook(loopback_answer_sent), nullptr);
  }
  return req;
}

static evhtp_res loopback_conn_fini(evhtp_connection_t*, void* arg) {
  loopback_s* lb = static_cast<loopback_s*>(arg);
  lb->conn = nullptr;
  if (!lb->freeQueued) {
    // The exchange ended without an answer: the browser learns of it.
    if (evhtp_request_t* incoming = loopback_take_incoming(lb))
      send_json_response(incoming, nullptr, KVX_STATUS_CONN_ATT_FAIL, lb->port);
    loopback_delete(lb);
  }
  return EVHTP_RES_OK;
}

static void loopback_release(evutil_socket_t, short, void* arg) {
  loopback_s* lb = static_cast<loopback_s*>(arg);
  if (lb->conn) evhtp_connection_free(lb->conn);  // runs loopback_conn_fini
  if (evhtp_request_t* incoming = loopback_take_incoming(lb))
    send_json_response(incoming, nullptr, KVX_STATUS_UNEXPECTED_RESPONSE);
  loopback_delete(lb);
}

static void loopback_queue_release(loopback_s* lb) {
  if (lb->freeQueued) return;
  lb->freeQueued = true;
  timeval now = {0, 0};
  event_base_once(gApp->evbase, -1, EV_TIMEOUT, loopback_release, lb, &now);
}

// The peer could not be reached or the exchange broke off.  The error is
// logged and the process carries on; a relayed browser request learns of it.
static evhtp_res loopback_conn_error(evhtp_connection_t*, evhtp_error_flags, void* arg) {
  loopback_s* lb = static_cast<loopback_s*>(arg);
  if (lb->answered) return EVHTP_RES_OK;
  unsigned long err = ERR_peek_last_error();
  const char* reason = err ? ERR_reason_error_string(err) : nullptr;
  TE_Trace(TRACE_FAIL, "SSL ERROR: %s\n", reason ? reason : strerror(errno ? errno : ECONNREFUSED));
  ERR_clear_error();
  lb->answered = true;
  if (evhtp_request_t* incoming = loopback_take_incoming(lb))
    send_json_response(incoming, nullptr, KVX_STATUS_CONN_ATT_FAIL, lb->port);
  return EVHTP_RES_OK;
}

// A failed connect reaches the request rather than the connection.
static void loopback_request_error(evhtp_request_t*, evhtp_error_flags flags, void* arg) {
  loopback_conn_error(nullptr, flags, arg);
}

static void loopback_response(evhtp_request_t* response, void* arg) {
  loopback_s* lb = static_cast<loopback_s*>(arg);
  if (lb->answered) return;
  lb->answered = true;
  if (lb->callback) lb->callback(response, lb);
  loopback_queue_release(lb);
}

void kvx_loopback_teardown() {
  std::vector<loopback_s*> left(loopbacks().begin(), loopbacks().end());
  for (loopback_s* lb : left) {
    // The browser's request goes with the server's own connections; it
    // must not report its end to this record any more.
    if (lb->incoming) evhtp_request_unset_hook(lb->incoming, evhtp_hook_on_request_fini);
    lb->incoming = nullptr;
    lb->freeQueued = true;  // the connection's end must not free the record
    if (evhtp_connection_t* conn = lb->conn) {
      lb->conn = nullptr;
      evhtp_connection_free(conn);
    }
    loopbacks().erase(lb);
    delete lb;
    gApp->loopbackInFlight--;
  }
}

const char* kvx_loopback_address() {
  const std::string& bound = gApp->bindAddress;
  return bound.empty() || bound == "0.0.0.0" ? "127.0.0.1" : bound.c_str();
}

const char* kvx_session_address() {
  return kvx_options().exposeSessions ? kvx_loopback_address() : "127.0.0.1";
}

// A client connection to the other role's port with its request; null when
// the connection object (`*connected` false) or the request cannot be made.
static loopback_s* loopback_open(int port, evhtp_request_t** request, bool* connected = nullptr) {
  app_s* app = gApp;
  if (connected) *connected = false;
  // The server reaches its sessions, a session reaches its server.
  const char* address = app->host_mode == 0 ? kvx_session_address() : kvx_loopback_address();
  evhtp_connection_t* conn =
      app->sslEnabled
          ? evhtp_connection_ssl_new(app->evbase, address, static_cast<uint16_t>(port), app->ssl_client_ctx)
          : evhtp_connection_new(app->evbase, address, static_cast<uint16_t>(port));
  if (!conn) return nullptr;
  if (connected) *connected = true;
  loopback_s* lb = loopback_new();
  lb->conn = conn;
  lb->port = port;
  evhtp_connection_set_hook(conn, evhtp_hook_on_conn_error, kvx_hook(loopback_conn_error), lb);
  evhtp_connection_set_hook(conn, evhtp_hook_on_connection_fini, kvx_hook(loopback_conn_fini), lb);
  *request = evhtp_request_new(loopback_response, lb);
  if (*request) evhtp_request_set_hook(*request, evhtp_hook_on_error, kvx_hook(loopback_request_error), lb);
  if (!*request) {
    lb->freeQueued = true;
    evhtp_connection_free(conn);
    loopback_delete(lb);
    return nullptr;
  }
  return lb;
}

bool post_json_request(const char* path, int port, const js_value_s* object, kvx_response_cb callback) {
  if (!path) {
    TE_Trace(TRACE_FAIL, "Invalid argument passed.\n");
    return false;
  }
  char* json = nullptr;
  if (object) {
    json = to_json(object);
    if (!json) {
      TE_Trace(TRACE_FAIL, "JSON error during serialization: %s\n", get_json_error());
      return false;
    }
  }
  evhtp_request_t* request = nullptr;
  bool connected = false;
  loopback_s* lb = loopback_open(port, &request, &connected);
  if (!lb) {
    if (connected)
      TE_Trace(TRACE_FAIL, "Couldn't initialize request object.\n");
    else
      TE_Trace(TRACE_FAIL, "Couldn't establish connection to host.\n");
    free(json);
    return false;
  }
  lb->callback = callback;
  char length[32];
  snprintf(length, sizeof length, "%zu", json ? strlen(json) : 0u);
  evhtp_headers_add_header(request->headers_out,
                           evhtp_header_new("Content-Type", "application/json; charset=utf-8", 0, 0));
  evhtp_headers_add_header(request->headers_out, evhtp_header_new("Content-Length", length, 0, 1));
  evhtp_headers_add_header(request->headers_out, evhtp_header_new("Host", kvx_loopback_address(), 0, 0));
  if (json) evbuffer_add(request->buffer_out, json, strlen(json));
  free(json);
  evhtp_make_request(lb->conn, request, htp_method_POST, path);
  return true;
}

void handle_post_response(evhtp_request_t* response, void* arg) {
  loopback_s* lb = static_cast<loopback_s*>(arg);
  evhtp_request_t* incoming = lb ? loopback_take_incoming(lb) : nullptr;
  if (!response || !incoming) return;
  const char* type = evhtp_header_find(response->headers_in, "Content-Type");
  js_value_s* body = nullptr;
  if (type && strstr(type, "application/json")) {
    size_t n = evbuffer_get_length(response->buffer_in);
    char* text = static_cast<char*>(malloc(n + 1));
    if (text) {
      evbuffer_copyout(response->buffer_in, text, n);
      text[n] = 0;
      body = parse_json(text);
      free(text);
    }
  }
  if (!body) {
    send_json_response(incoming, nullptr, KVX_STATUS_UNEXPECTED_RESPONSE);
    return;
  }
  int code = js_value_get_int(body, "code");
  char* out = to_json(body);
  js_free_value(body);
  if (out) evbuffer_add(incoming->buffer_out, out, strlen(out));
  free(out);
  kvx_send_buffered(incoming, MEDIA_TYPE_JSON, code);
}

// Copies a header of the browser's request when it has a real value.
static bool relay_copy_header(evhtp_request_t* from, evhtp_request_t* to, const char* key) {
  const char* value = evhtp_header_find(from->headers_in, key);
  if (!value || !*value || strcmp(value, " ") == 0) return false;
  evhtp_headers_add_header(to->headers_out, evhtp_header_new(key, value, 0, 1));
  return true;
}

void repost_request(evhtp_request_t* req) {
  const char* id = req->uri && req->uri->query ? evhtp_kv_find(req->uri->query, "session") : nullptr;
  if (!id) {
    send_json_response(req, nullptr, KVX_STATUS_MISSING_ARGUMENT, "session");
    return;
  }
  kvx_session_t* session = kvx_session_find(id);
  if (!session) {
    send_json_response(req, nullptr, KVX_STATUS_SESSION_NOT_FOUND, id);
    return;
  }
  evhtp_request_t* request = nullptr;
  loopback_s* lb = loopback_open(session->port, &request);
  if (!lb) {
    send_json_response(req, nullptr, KVX_STATUS_CONN_ATT_FAIL, session->port);
    return;
  }
  lb->callback = handle_post_response;
  lb->incoming = req;
  evhtp_request_set_hook(req, evhtp_hook_on_request_fini, kvx_hook(loopback_incoming_fini), lb);
  relay_copy_header(req, request, "Content-Type");
  bool hasLength = relay_copy_header(req, request, "Content-Length");
  size_t bodyLength = evbuffer_get_length(req->buffer_in);
  // A body that came without a length (chunked) still needs one on the way on.
  if (!hasLength && bodyLength) {
    char length[32];
    snprintf(length, sizeof length, "%zu", bodyLength);
    evhtp_headers_add_header(request->headers_out, evhtp_header_new("Content-Length", length, 0, 1));
  }
  evhtp_headers_add_header(request->headers_out, evhtp_header_new("Host", kvx_loopback_address(), 0, 0));
  evbuffer_add_buffer(request->buffer_out, req->buffer_in);
  // The query goes along: it names the session, whose process checks it.
  std::string path = req->uri && req->uri->path && req->uri->path->full ? req->uri->path->full : "/";
  if (req->uri && req->uri->query_raw && *req->uri->query_raw)
    path.append(1, '?').append(reinterpret_cast<const char*>(req->uri->query_raw));
  evhtp_make_request(lb->conn, request, htp_method_POST, path.c_str());
}

void relay_request(evhtp_request_t* req, void*) {
  repost_request(req);
}

// The session's answer to a file request goes back as it came: status,
// the headers that describe the file, and the bytes.
static void handle_file_response(evhtp_request_t* response, void* arg) {
  loopback_s* lb = static_cast<loopback_s*>(arg);
  evhtp_request_t* incoming = lb ? loopback_take_incoming(lb) : nullptr;
  if (!incoming) return;
  if (!response) {
    send_json_response(incoming, nullptr, KVX_STATUS_UNEXPECTED_RESPONSE);
    return;
  }
  for (const char* key : {"Content-Type", "Content-Disposition", "Cache-Control", "X-Content-Type-Options"}) {
    const char* value = evhtp_header_find(response->headers_in, key);
    if (value) evhtp_headers_add_header(incoming->headers_out, evhtp_header_new(key, value, 0, 1));
  }
  const size_t n = evbuffer_get_length(response->buffer_in);
  evhtp_headers_add_header(incoming->headers_out,
                           evhtp_header_new("Content-Length", std::to_string(n).c_str(), 0, 1));
  if (incoming->method != htp_method_HEAD) evbuffer_add_buffer(incoming->buffer_out, response->buffer_in);
  const evhtp_res code = static_cast<evhtp_res>(evhtp_request_status(response));
  log_request_info(incoming, code);
  kvx_send_reply(incoming, code);
}

void relay_file(evhtp_request_t* req, void*) {
  const char* id = req->uri && req->uri->query ? evhtp_kv_find(req->uri->query, "session") : nullptr;
  kvx_session_t* session = id ? kvx_session_find(id) : nullptr;
  if (!session) {
    static const char kText[] = "No such session.";
    evbuffer_add(req->buffer_out, kText, sizeof kText - 1);
    evhtp_headers_add_header(req->headers_out, evhtp_header_new("Content-Type", "text/plain; charset=utf-8", 0, 0));
    evhtp_headers_add_header(req->headers_out,
                             evhtp_header_new("Content-Length", std::to_string(sizeof kText - 1).c_str(), 0, 1));
    log_request_info(req, EVHTP_RES_NOTFOUND);
    kvx_send_reply(req, EVHTP_RES_NOTFOUND);
    return;
  }
  evhtp_request_t* request = nullptr;
  loopback_s* lb = loopback_open(session->port, &request);
  if (!lb) {
    send_json_response(req, nullptr, KVX_STATUS_CONN_ATT_FAIL, session->port);
    return;
  }
  lb->callback = handle_file_response;
  lb->incoming = req;
  evhtp_request_set_hook(req, evhtp_hook_on_request_fini, kvx_hook(loopback_incoming_fini), lb);
  evhtp_headers_add_header(request->headers_out, evhtp_header_new("Host", kvx_loopback_address(), 0, 0));
  std::string path = req->uri && req->uri->path && req->uri->path->full ? req->uri->path->full : "/";
  if (req->uri && req->uri->query_raw && *req->uri->query_raw)
    path.append(1, '?').append(reinterpret_cast<const char*>(req->uri->query_raw));
  evhtp_make_request(lb->conn, request, req->method == htp_method_HEAD ? htp_method_HEAD : htp_method_GET,
                     path.c_str());
}

void relay_load_config(evhtp_request_t* req, void*) {
  if (is_json_request(req)) repost_request(req);
}
