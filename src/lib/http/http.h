// HTTP answers shared by both roles: the request outcome codes and their
// HTTP statuses, media types, the JSON envelope, the HTML error page, the
// access-log line, the checks every JSON endpoint makes, the static-file
// handler, and paths under the working directory.
#pragma once

#include <evhtp/evhtp.h>

#include <string>
#include <string_view>

#include "json.h"

enum KVX_STATUS {
  KVX_STATUS_OK = 0,
  KVX_STATUS_INVALID_MEDIA = 2,
  KVX_STATUS_JSON_PARSE_ERROR = 3,
  KVX_STATUS_UNEXPECTED_RESPONSE = 4,
  KVX_STATUS_MISSING_ARGUMENT = 5,
  KVX_STATUS_SESSION_INIT_FAIL = 6,
  KVX_STATUS_SESSION_NOT_FOUND = 7,
  KVX_STATUS_CONN_ATT_FAIL = 8,
  KVX_STATUS_INVALID_REQ_DATA = 9,
  KVX_STATUS_MISSING_REQ_DATA = 10,
  KVX_STATUS_NO_CONFIG = 11,
  KVX_STATUS_FILE_NOT_FOUND = 12,
  KVX_STATUS_SYSTEM_ERROR = 13,
  // Added beyond the original set.
  KVX_STATUS_TOO_MANY_SESSIONS = 14,  // a session cap is reached (HTTP 503)
  KVX_STATUS_FORBIDDEN = 15,          // a session request without the session's identifier (HTTP 403)
  KVX_STATUS_SENTRY = 16,
};

enum LUM_MEDIA_TYPE {
  MEDIA_TYPE_UNDEF = -1,
  MEDIA_TYPE_HTML = 0,
  MEDIA_TYPE_JSON = 1,
  MEDIA_TYPE_JS = 2,
  MEDIA_TYPE_CSS = 3,
  MEDIA_TYPE_ICON = 4,
  MEDIA_TYPE_TTF = 5,
  MEDIA_TYPE_SENTRY = 6,
};

extern const evhtp_res evHttpStatusForKvxStatus[KVX_STATUS_SENTRY];
extern const char* const lumStatusMessages[KVX_STATUS_SENTRY];
extern const char* const lumMediaTypes[MEDIA_TYPE_SENTRY];
extern const char* const httpMethodNames[];
extern const char* const httpProtocolVersions[];

struct lum_media_ext {
  const char* extension;
  LUM_MEDIA_TYPE type;
};
extern const lum_media_ext extensionToMediaType[];

// A header for lum_add_evhtp_hdrs; a list ends with an entry whose key is null.
struct lum_hdr {
  const char* key;
  const char* value;
};

// The HTTP status that belongs to a request outcome (500 for unknown values).
evhtp_res kvx_http_status(int status);

// Sends the status, exactly the headers in headers_out and the body.
void kvx_send_reply(evhtp_request_t* req, evhtp_res code);
void send_buffered_response(evhtp_request_t* req, LUM_MEDIA_TYPE mediaType, KVX_STATUS status);
// The same for a status code that came from elsewhere (a session process's
// answer): codes outside the known ones answer HTTP 500.
void kvx_send_buffered(evhtp_request_t* req, LUM_MEDIA_TYPE mediaType, int status);
// Takes ownership of `content`.
void send_json_response(evhtp_request_t* req, js_value_s* content, KVX_STATUS status, ...);
void send_html_error_page(evhtp_request_t* req, KVX_STATUS status, ...);
// Answers a method other than `allowed` with 405, "Accept" and an empty body.
void send_method_not_allowed(evhtp_request_t* req, const char* allowed, bool log);

// Accepted connections still open.  A process whose loop ends with a peer
// still connected (a keep-alive browser, a request that never got its
// answer) frees them before the HTTP layer goes, since that layer does not.
// Keeping count uses the connection's fini hook: whoever takes the socket
// over, or sets a fini hook of its own, lets go of the connection first.
void kvx_http_track_connection(evhtp_connection_t* conn);
void kvx_http_release_connection(evhtp_connection_t* conn);
// The request's socket, taken over from the HTTP layer (which frees its own
// record of the connection); null when there is none.
bufferevent* kvx_http_take_socket(evhtp_request_t* req);
void kvx_http_free_connections();
// Small writes on a TCP socket go out at once (Nagle's delay off).
void kvx_socket_no_delay(int fd);

bool is_json_request(evhtp_request_t* req);
js_value_s* get_json(evhtp_request_t* req);
js_value_s* get_json_body(evhtp_request_t* req);

void lum_add_evhtp_hdrs(evhtp_headers_t* headers, const lum_hdr* list);
void log_request_info(evhtp_request_t* req, evhtp_res status);
// A raw query as the access log shows it: session identifiers cut short.
std::string kvx_log_query(const char* raw);
// A session identifier as logs show it: the instance name and the first 8
// digits, followed by "..." (the identifier is the session's secret).
std::string kvx_log_short_id(std::string_view id);

// Static files under html/<root>, falling back to html/shared; `root` is a
// const char* ("ui" or "console").
void handle_get_request(evhtp_request_t* req, void* root);
// True when a request path stays inside the document tree.
bool kvx_path_is_safe(const char* path);

// ---- the working directory ----
// Captures the working directory once at start; false when it cannot be read.
bool kvx_set_working_dir();
void kvx_free_working_dir();
const char* kvx_working_dir();
// The data directory of the installation the program runs from, or null.
const char* kvx_data_dir();
// "<working directory>/<relative path>", or the same path under the data
// directory when only that exists; newly allocated (free()).
char* get_path(const char* format, ...) __attribute__((format(printf, 1, 2)));
char* get_path_for_cert(const char* name);

// The HTTP library takes every hook as one generic function type; the real
// signature is the one its hook type documents.
template <class F>
inline evhtp_hook kvx_hook(F* fn) {
  return reinterpret_cast<evhtp_hook>(reinterpret_cast<void (*)()>(fn));
}
