// Response builders of both roles: status table, media types, the JSON
// envelope, the HTML error page, the access-log line and the request checks
// of the JSON endpoints.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "http.h"
#include "redact.h"
#include "tetrace.h"

const evhtp_res evHttpStatusForKvxStatus[KVX_STATUS_SENTRY] = {
    200,  // OK
    500,  // (unused)
    415,  // INVALID_MEDIA
    500,  // JSON_PARSE_ERROR
    500,  // UNEXPECTED_RESPONSE
    500,  // MISSING_ARGUMENT
    500,  // SESSION_INIT_FAIL
    200,  // SESSION_NOT_FOUND
    500,  // CONN_ATT_FAIL
    500,  // INVALID_REQ_DATA
    500,  // MISSING_REQ_DATA
    500,  // NO_CONFIG
    404,  // FILE_NOT_FOUND
    500,  // SYSTEM_ERROR
    503,  // TOO_MANY_SESSIONS
    403,  // FORBIDDEN
};

const char* const lumStatusMessages[KVX_STATUS_SENTRY] = {
    "success",
    "",
    "Invalid media type, expected [%s].",
    "JSON Parse Error: [%s]",
    "Did not recieve expected response type from host.",
    "Missing argument [%s].",
    "Error creating session [%s].",
    "Session with id [%s] not found.",
    "Could not establish connection to host for session [%d].",
    "Request data is invalid, expected [%s].",
    "Request data missing, expected [%s].",
    "No KCF configuration loaded.",
    "File Not Found.",
    "System Error [%s].",
    "Too many sessions",
    "Session identifier missing or wrong.",
};

const char* const lumMediaTypes[MEDIA_TYPE_SENTRY] = {
    "text/html; charset=utf-8",
    "application/json; charset=utf-8",
    "application/javascript",
    "text/css",
    "image/x-icon",
    "application/x-font-truetype",
};

const lum_media_ext extensionToMediaType[] = {
    {"html", MEDIA_TYPE_HTML}, {"js", MEDIA_TYPE_JS},   {"css", MEDIA_TYPE_CSS},
    {"ico", MEDIA_TYPE_ICON},  {"ttf", MEDIA_TYPE_TTF}, {nullptr, MEDIA_TYPE_UNDEF},
};

const char* const httpMethodNames[] = {"GET",    "HEAD",  "POST",    "PUT",      "DELETE",    "MKCOL",
                                       "COPY",   "MOVE",  "OPTIONS", "PROPFIND", "PROPPATCH", "LOCK",
                                       "UNLOCK", "TRACE", "CONNECT", "PATCH",    "UNKNOWN"};
const char* const httpProtocolVersions[] = {"INVALID", "HTTP/1.0", "HTTP/1.1"};

static const char kHtmlErrorTemplate[] =
    "<!DOCTYPE html><html><title>Server Error: ${code}</title><h2>Server Error ${code}</h2><p>KVX Status: "
    "${kvxCode}<br />Description: ${message}</p></html>";

evhtp_res kvx_http_status(int status) {
  return status >= 0 && status < KVX_STATUS_SENTRY ? evHttpStatusForKvxStatus[status] : 500;
}

static const char* http_status_template(KVX_STATUS status) {
  return status >= 0 && status < KVX_STATUS_SENTRY ? lumStatusMessages[status] : "";
}

// Fills a message template; the result is malloc'ed.
static char* http_format_message(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  int n = vsnprintf(nullptr, 0, format, args);
  char* text = static_cast<char*>(malloc(n > 0 ? static_cast<size_t>(n) + 1 : 1));
  if (text) {
    if (n > 0)
      vsnprintf(text, static_cast<size_t>(n) + 1, format, again);
    else
      text[0] = 0;
  }
  va_end(again);
  return text;
}

void lum_add_evhtp_hdrs(evhtp_headers_t* headers, const lum_hdr* list) {
  if (!headers || !list) return;
  for (; list->key; list++) evhtp_headers_add_header(headers, evhtp_header_new(list->key, list->value, 1, 1));
}

// Dotted text of a socket's peer; "0.0.0.0" when it cannot be read.
static void http_peer_address(evutil_socket_t fd, char* out, size_t size) {
  snprintf(out, size, "0.0.0.0");
  sockaddr_storage ss;
  socklen_t len = sizeof ss;
  if (fd < 0 || getpeername(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return;
  if (ss.ss_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&ss)->sin_addr, out, static_cast<socklen_t>(size));
  else if (ss.ss_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&ss)->sin6_addr, out, static_cast<socklen_t>(size));
}

// A session identifier is the session's secret: the log keeps its instance
// name and its first 8 digits, enough to tell sessions apart.
std::string kvx_log_short_id(std::string_view id) {
  return kvx_redact_session_id(id);
}

std::string kvx_log_query(const char* raw) {
  std::string out;
  std::string_view rest = raw ? raw : "";
  if (rest.empty()) return out;
  for (;;) {
    size_t amp = rest.find('&');
    std::string_view item = rest.substr(0, amp);
    if (item.rfind("session=", 0) == 0) {
      out += "session=" + kvx_log_short_id(item.substr(8));
    } else {
      out += item;
    }
    if (amp == std::string_view::npos) break;
    out += '&';
    rest = rest.substr(amp + 1);
  }
  return out;
}

void log_request_info(evhtp_request_t* req, evhtp_res status) {
  if (!req || !TE_Trace_Enabled(TRACE_PRINT)) return;
  char peer[INET6_ADDRSTRLEN] = "0.0.0.0";
  if (req->conn) http_peer_address(req->conn->sock, peer, sizeof peer);
  char stamp[64];
  time_t now = time(nullptr);
  struct tm tmv;
  localtime_r(&now, &tmv);
  strftime(stamp, sizeof stamp, "%d/%b/%Y:%H:%M:%S %z", &tmv);
  int method = req->method;
  if (method < 0 || method > htp_method_UNKNOWN) method = htp_method_UNKNOWN;
  int proto = req->proto <= EVHTP_PROTO_11 ? req->proto : EVHTP_PROTO_INVALID;
  const char* path = req->uri && req->uri->path && req->uri->path->full ? req->uri->path->full : "";
  const std::string query = kvx_log_query(
      req->uri && req->uri->query_raw ? reinterpret_cast<const char*>(req->uri->query_raw) : "");
  TE_Trace(TRACE_PRINT, "%s - - [%s] \"%s %s%s%s %s\" %d %d %d\n", peer, stamp, httpMethodNames[method], path,
           query.empty() ? "" : "?", query.c_str(), httpProtocolVersions[proto], status,
           static_cast<int>(evbuffer_get_length(req->buffer_out)), static_cast<int>(getpid()));
}

static const char* http_reason(evhtp_res code) {
  switch (code) {
    case 101:
      return "Switching Protocols";
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Payload Too Large";
    case 415:
      return "Unsupported Media Type";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return code >= 500 ? "Internal Server Error" : "Unknown";
  }
}

static int http_add_header_line(evhtp_header_t* header, void* arg) {
  evbuffer_add_printf(static_cast<evbuffer*>(arg), "%s: %s\r\n", header->key, header->val ? header->val : "");
  return 0;
}

// Writes the status line, exactly the headers the handler set (the HTTP
// library would add a Content-Type of its own to every answer) and the body,
// then leaves the connection to the library as its own reply would.
void kvx_send_reply(evhtp_request_t* req, evhtp_res code) {
  if (!req || !req->conn) return;
  bufferevent* bev = evhtp_request_get_bev(req);
  if (!bev) return;
  bool keepAlive = (req->flags & EVHTP_REQ_FLAG_KEEPALIVE) != 0;
  if (!evhtp_header_find(req->headers_out, "Connection")) {
    if (req->proto == EVHTP_PROTO_11 && !keepAlive)
      evhtp_headers_add_header(req->headers_out, evhtp_header_new("Connection", "close", 0, 0));
    else if (req->proto == EVHTP_PROTO_10 && keepAlive)
      evhtp_headers_add_header(req->headers_out, evhtp_header_new("Connection", "keep-alive", 0, 0));
  }
  evbuffer* out = evbuffer_new();
  evbuffer_add_printf(out, "HTTP/1.%d %d %s\r\n", req->proto == EVHTP_PROTO_10 ? 0 : 1, code,
                      http_reason(code));
  evhtp_headers_for_each(req->headers_out, http_add_header_line, out);
  evbuffer_add(out, "\r\n", 2);
  evbuffer_add_buffer(out, req->buffer_out);
  req->status = code;
  req->flags |= EVHTP_REQ_FLAG_FINISHED;
  bufferevent_write_buffer(bev, out);
  evbuffer_free(out);
}

void send_buffered_response(evhtp_request_t* req, LUM_MEDIA_TYPE mediaType, KVX_STATUS status) {
  kvx_send_buffered(req, mediaType, status);
}

void kvx_send_buffered(evhtp_request_t* req, LUM_MEDIA_TYPE mediaType, int status) {
  if (!req) return;
  if (mediaType > MEDIA_TYPE_UNDEF && mediaType < MEDIA_TYPE_SENTRY)
    evhtp_headers_add_header(req->headers_out,
                             evhtp_header_new("Content-Type", lumMediaTypes[mediaType], 0, 0));
  char length[32];
  snprintf(length, sizeof length, "%zu", evbuffer_get_length(req->buffer_out));
  evhtp_headers_add_header(req->headers_out, evhtp_header_new("Content-Length", length, 0, 1));
  evhtp_res code = kvx_http_status(status);
  log_request_info(req, code);
  kvx_send_reply(req, code);
}

void send_json_response(evhtp_request_t* req, js_value_s* content, KVX_STATUS status, ...) {
  if (!req) {
    js_free_value(content);
    return;
  }
  va_list args;
  va_start(args, status);
  char* message = http_format_message(http_status_template(status), args);
  va_end(args);
  js_value_s* envelope = js_value_new_object();
  js_value_put_int(envelope, "code", status);
  js_value_put_string(envelope, "message", message ? message : "");
  if (content) {
    if (envelope)
      js_value_put(envelope, "content", content);
    else
      js_free_value(content);
  }
  free(message);
  char* text = to_json(envelope);
  if (text) evbuffer_add(req->buffer_out, text, strlen(text));
  free(text);
  js_free_value(envelope);
  send_buffered_response(req, MEDIA_TYPE_JSON, status);
}

void send_html_error_page(evhtp_request_t* req, KVX_STATUS status, ...) {
  if (!req) return;
  va_list args;
  va_start(args, status);
  char* message = http_format_message(http_status_template(status), args);
  va_end(args);
  js_value_s* page = js_value_new_object();
  LUM_MEDIA_TYPE type = MEDIA_TYPE_UNDEF;
  if (page) {
    js_value_put_int(page, "code", kvx_http_status(status));
    js_value_put_int(page, "kvxCode", status);
    js_value_put_string(page, "message", message ? message : "");
    char* html = js_value_process_string(kHtmlErrorTemplate, page);
    if (html) {
      evbuffer_add(req->buffer_out, html, strlen(html));
      type = MEDIA_TYPE_HTML;
    }
    free(html);
    js_free_value(page);
  }
  free(message);
  send_buffered_response(req, type, status);
}

void send_method_not_allowed(evhtp_request_t* req, const char* allowed, bool log) {
  static const lum_hdr kEmpty[] = {{"Content-Length", "0"}, {nullptr, nullptr}};
  evhtp_headers_add_header(req->headers_out, evhtp_header_new("Accept", allowed, 0, 1));
  lum_add_evhtp_hdrs(req->headers_out, kEmpty);
  evbuffer_drain(req->buffer_out, evbuffer_get_length(req->buffer_out));
  if (log) log_request_info(req, EVHTP_RES_METHNALLOWED);
  kvx_send_reply(req, EVHTP_RES_METHNALLOWED);
}

bool is_json_request(evhtp_request_t* req) {
  if (!req) return false;
  if (req->method != htp_method_POST) {
    send_method_not_allowed(req, "POST", true);
    return false;
  }
  const char* type = evhtp_header_find(req->headers_in, "Content-Type");
  if (!type || strncmp(type, "application/json", 16) != 0) {
    send_json_response(req, nullptr, KVX_STATUS_INVALID_MEDIA, "application/json");
    return false;
  }
  return true;
}

// ---- the logged copy of a request body ----

// Members whose values are secrets: shown as "***" in the log.
// Setting keys are read without regard to case, so the names are matched
// the same way.
static bool json_log_secret_name(const char* name) {
  return strcasecmp(name, "password") == 0 || strcasecmp(name, "sshPassphrase") == 0 ||
         strcasecmp(name, "sslPrivateKeyPassword") == 0;
}

static js_value_s* json_log_copy(const js_value_s* v, bool secret);

struct json_log_ctx {
  js_value_s* out;
  bool secretMembers;  // every member is a secret (inside "secureKeys")
};

static void json_log_member(const char* name, js_value_s* value, void* arg) {
  json_log_ctx* ctx = static_cast<json_log_ctx*>(arg);
  if (ctx->secretMembers || json_log_secret_name(name)) {
    js_value_put(ctx->out, name, js_value_new_string("***"));
  } else if (strcasecmp(name, "sessionId") == 0 && value && value->type == JS_VALUE_STRING) {
    const char* id = js_value_string(value);
    js_value_put(ctx->out, name, js_value_new_string(kvx_log_short_id(id ? id : "").c_str()));
  } else if (strcasecmp(name, "secureKeys") == 0 && value && value->type == JS_VALUE_OBJECT) {
    json_log_ctx inner = {js_value_new_object(), true};
    js_value_iterate_members(value, json_log_member, &inner);
    js_value_put(ctx->out, name, inner.out);
  } else {
    js_value_put(ctx->out, name, json_log_copy(value, false));
  }
}

// A deep copy with the secrets replaced.
static js_value_s* json_log_copy(const js_value_s* v, bool secret) {
  if (secret) return js_value_new_string("***");
  if (!v) return js_value_null();
  switch (v->type) {
    case JS_VALUE_BOOL:
      return js_value_new_bool(js_value_bool(v));
    case JS_VALUE_INTEGER:
      return js_value_new_int(js_value_int(v));
    case JS_VALUE_FLOAT:
      return js_value_new_float(js_value_float(v));
    case JS_VALUE_STRING:
      return js_value_new_string(js_value_string(v));
    case JS_VALUE_ARRAY: {
      int n = js_value_array_length(v);
      js_value_s* out = js_value_new_array(n > 0 ? n : 1);
      for (int i = 0; i < n; i++)
        js_value_append_array(out, json_log_copy(js_value_get_element(v, i), false));
      return out;
    }
    case JS_VALUE_OBJECT: {
      json_log_ctx ctx = {js_value_new_object(), false};
      js_value_iterate_members(v, json_log_member, &ctx);
      return ctx.out;
    }
    default:
      return js_value_null();
  }
}

// Writes the request body to the log: parsed bodies as their JSON text with
// secret values masked; a body that does not parse is shown only when it
// names no secret.
static void json_log_body(const js_value_s* parsed, const char* raw, size_t length) {
  if (!TE_Trace_Enabled(TRACE_PRINT) || !length) return;
  if (parsed) {
    js_value_s* copy = json_log_copy(parsed, false);
    char* text = to_json(copy);
    js_free_value(copy);
    if (text) TE_Trace(TRACE_PRINT, "%s\n", text);
    free(text);
    return;
  }
  static const char* const kSecretWords[] = {"secureKeys", "password", "Passphrase", "PrivateKeyPassword"};
  std::string_view body(raw, length);
  for (const char* word : kSecretWords) {
    if (body.find(word) != std::string_view::npos) {
      TE_Trace(TRACE_PRINT, "[request body of %zu bytes not shown]\n", length);
      return;
    }
  }
  TE_Trace(TRACE_PRINT, "%.*s\n", static_cast<int>(length), raw);
}

js_value_s* get_json(evhtp_request_t* req) {
  if (!req || !json_start()) return nullptr;
  size_t length = evbuffer_get_length(req->buffer_in);
  std::string raw(length, '\0');
  if (length) evbuffer_remove(req->buffer_in, raw.data(), length);
  if (length && !json_add_bytes(raw.data(), length)) {
    js_free_value(json_end());
    reset_json_error();
    set_json_error(ERROR_LIBC, strerror(ENOMEM));
    json_log_body(nullptr, raw.data(), length);
    return nullptr;
  }
  js_value_s* value = json_end();
  json_log_body(value, raw.data(), length);
  return value;
}

js_value_s* get_json_body(evhtp_request_t* req) {
  js_value_s* v = get_json(req);
  if (!v) send_json_response(req, nullptr, KVX_STATUS_JSON_PARSE_ERROR, get_json_error());
  return v;
}

// ---- accepted connections ----

static std::unordered_set<evhtp_connection_t*> g_openConnections;

static evhtp_res http_connection_closed(evhtp_connection_t* conn, void*) {
  g_openConnections.erase(conn);
  return EVHTP_RES_OK;
}

void kvx_http_track_connection(evhtp_connection_t* conn) {
  if (!conn) return;
  g_openConnections.insert(conn);
  evhtp_connection_set_hook(conn, evhtp_hook_on_connection_fini, kvx_hook(http_connection_closed), nullptr);
}

void kvx_http_release_connection(evhtp_connection_t* conn) {
  if (conn && g_openConnections.erase(conn)) evhtp_connection_unset_hook(conn, evhtp_hook_on_connection_fini);
}

void kvx_socket_no_delay(int fd) {
  int on = 1;
  if (fd >= 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bufferevent* kvx_http_take_socket(evhtp_request_t* req) {
  evhtp_connection_t* conn = evhtp_request_get_connection(req);
  if (!conn) return nullptr;
  kvx_http_release_connection(conn);
  // A socket taken over carries a stream of small frames: each goes out at
  // once instead of waiting for the peer to acknowledge the one before.
  kvx_socket_no_delay(conn->sock);
  return evhtp_connection_take_ownership(conn);
}

void kvx_http_free_connections() {
  // Each free runs the fini hook, which takes the connection off the set.
  const std::vector<evhtp_connection_t*> open(g_openConnections.begin(), g_openConnections.end());
  for (evhtp_connection_t* conn : open)
    if (g_openConnections.count(conn)) evhtp_connection_free(conn);
  g_openConnections.clear();
}
