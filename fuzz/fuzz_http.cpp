// Fuzz target of the HTTP endpoints of both roles, without sockets: a
// request record is filled with a method, a Content-Type and an arbitrary
// body (or an arbitrary path for the static files) and handed to the real
// route handler, as the HTTP library would after parsing.  Checked after
// every input: a JSON endpoint answers exactly one well-formed envelope
// (or an empty 405), its Content-Length matches the body, a held
// "/new_session" request gets the reported object back, and a static-file
// answer is a file of the document tree or the error page, never a file
// outside it.
#include <event2/buffer.h>
#include <event2/event.h>
#include <evhtp/evhtp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app.h"
#include "broker.h"
#include "channel.h"
#include "http.h"
#include "json.h"
#include "json_check.h"
#include "tetrace.h"

namespace {

void require(bool ok) {
  if (!ok) abort();
}

const char kSessionId[] = "0123456789abcdef0123456789abcdef01234567";
const char kOutsideMarker[] = "outside-the-document-tree";
const char kIndexText[] = "<html>index</html>";
const char kSharedText[] = "shared();";

void write_file(const std::string& path, const char* text) {
  FILE* f = fopen(path.c_str(), "w");
  require(f != nullptr);
  fputs(text, f);
  fclose(f);
}

// A working directory with a small document tree and a file beside it that
// no request may reach.
void setup_once() {
  static bool done = false;
  if (done) return;
  done = true;
  TE_Trace_SetMask(0);
  char tmpl[] = "/tmp/kvx-fuzz-http-XXXXXX";
  require(mkdtemp(tmpl) != nullptr);
  std::string root = tmpl;
  for (const char* d : {"/html", "/html/ui", "/html/console", "/html/shared", "/html/ui/sub"})
    require(mkdir((root + d).c_str(), 0700) == 0);
  write_file(root + "/html/ui/index.html", kIndexText);
  write_file(root + "/html/console/index.html", kIndexText);
  write_file(root + "/html/ui/sub/page.css", kIndexText);
  write_file(root + "/html/shared/lib.js", kSharedText);
  write_file(root + "/secret.txt", kOutsideMarker);
  write_file(root + "/html/secret.txt", kOutsideMarker);
  // The handlers resolve paths against the working directory captured at
  // start; the process's own stays where it was (libFuzzer writes there).
  char* here = getcwd(nullptr, 0);
  require(here && chdir(root.c_str()) == 0 && kvx_set_working_dir() && chdir(here) == 0);
  free(here);
  app_s* app = app_main_initialize();
  set_app(app);
  app->evbase = event_base_new();
  app->sessionId = kSessionId;
}

std::string body_of(evhtp_request_t* req) {
  size_t n = evbuffer_get_length(req->buffer_out);
  std::string s(n, '\0');
  evbuffer_copyout(req->buffer_out, s.data(), n);
  return s;
}

// The answer of a JSON endpoint: an empty 405 with the allowed method, or
// one envelope {"code", "message"[, "content"]} with its length.
js_value_s* check_json_answer(evhtp_request_t* req) {
  std::string body = body_of(req);
  const char* length = evhtp_header_find(req->headers_out, "Content-Length");
  require(length != nullptr && std::to_string(body.size()) == length);
  if (evhtp_header_find(req->headers_out, "Accept")) {
    require(body.empty());
    return nullptr;
  }
  const char* type = evhtp_header_find(req->headers_out, "Content-Type");
  require(type != nullptr && strcmp(type, lumMediaTypes[MEDIA_TYPE_JSON]) == 0);
  js_value_s* envelope = kvx_fuzz_parse_written(body);
  require(envelope != nullptr && envelope->type == JS_VALUE_OBJECT);
  const js_value_s* code = js_value_get(envelope, "code");
  require(code && code->type == JS_VALUE_INTEGER && code->value.iv >= 0 &&
          code->value.iv < KVX_STATUS_SENTRY);
  const js_value_s* message = js_value_get(envelope, "message");
  require(message && message->type == JS_VALUE_STRING);
  return envelope;
}

evhtp_request_t* new_request(htp_method method, const std::string& type, const std::string& body) {
  evhtp_request_t* req = evhtp_request_new(nullptr, nullptr);
  require(req != nullptr);
  req->method = method;
  req->proto = EVHTP_PROTO_11;
  if (!type.empty())
    evhtp_headers_add_header(req->headers_in, evhtp_header_new("Content-Type", type.c_str(), 0, 1));
  evbuffer_add(req->buffer_in, body.data(), body.size());
  return req;
}

void fuzz_endpoint(uint8_t selector, const std::string& type, const std::string& body) {
  app_s* app = gApp;
  static const htp_method kMethods[] = {htp_method_POST, htp_method_POST, htp_method_POST,
                                        htp_method_GET,  htp_method_PUT,  htp_method_UNKNOWN};
  htp_method method = kMethods[(selector >> 4) % 6];
  evhtp_request_t* req = new_request(method, type, body);
  evhtp_request_t* held = nullptr;
  switch (selector % 8) {
    case 0:
    case 1: {  // server role: a child reports its port; the held request gets the report
      app->host_mode = 0;
      kvx_session_t* s = kvx_session_new();
      s->sessionId = kSessionId;
      s->pid = 1;
      if (selector & 1) s->req = held = new_request(htp_method_POST, "application/json", "{}");
      update_session(req, nullptr);
      if (held && s->req == nullptr) {
        js_value_s* answer = check_json_answer(held);
        js_value_s* report = js_value_get(answer, "content");
        require(report && report->type == JS_VALUE_OBJECT &&
                strcmp(js_value_get_string(report, "sessionId"), kSessionId) == 0);
        require(js_value_get_int(report, "port") == s->port);
        js_free_value(answer);
      }
      kvx_session_free(s);
      break;
    }
    case 2:
      app->host_mode = 0;
      list_sessions(req, nullptr);
      break;
    case 3:
      app->host_mode = 1;
      shutdown_session(req, nullptr);
      break;
    case 4:
      app->host_mode = 1;
      load_config(req, nullptr);
      break;
    case 5:
      app->host_mode = 1;
      get_config_values(req, nullptr);
      break;
    case 6:
      app->host_mode = 1;
      load_capture(req, nullptr);
      break;
    case 7:  // the session role reads the server's answer to its report
      app->host_mode = 1;
      update_session(req, nullptr);
      evhtp_request_free(req);
      return;
  }
  js_free_value(check_json_answer(req));
  evhtp_request_free(req);
  if (held) evhtp_request_free(held);
}

void fuzz_static(uint8_t selector, const std::string& path) {
  bool safe = kvx_path_is_safe(path.c_str());
  if (safe) {
    // Taken literally, as the file system takes it: no segment leaves the tree.
    require(path[0] == '/' && path.find('\\') == std::string::npos);
    size_t start = 0;
    while (start <= path.size()) {
      size_t end = path.find('/', start);
      if (end == std::string::npos) end = path.size();
      require(path.compare(start, end - start, "..") != 0);
      start = end + 1;
    }
  }
  evhtp_request_t* req = new_request((selector & 1) ? htp_method_HEAD : htp_method_GET, "", "");
  if (selector & 2) req->method = htp_method_GET;
  evhtp_path_t p = {};
  p.full = const_cast<char*>(path.c_str());
  evhtp_uri_t uri = {};
  uri.path = &p;
  req->uri = &uri;
  handle_get_request(req, const_cast<char*>((selector & 4) ? "console" : "ui"));
  std::string body = body_of(req);
  require(body.find(kOutsideMarker) == std::string::npos);
  if (req->method != htp_method_GET) {
    require(body.empty());
  } else {
    require(body == kIndexText || body == kSharedText || body.find("Server Error") != std::string::npos);
    require(safe || body.find("Server Error") != std::string::npos);
  }
  req->uri = nullptr;
  evhtp_request_free(req);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  setup_once();
  uint8_t selector = data[0], typeSelector = data[1];
  std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
  if (typeSelector == 0xFF) {
    fuzz_static(selector, rest.substr(0, strlen(rest.c_str())));
    return 0;
  }
  if (typeSelector == 0xFE) {
    // A handshake key of any shape: the accept value is always a SHA-1 in Base64.
    require(kvx_ws_accept_key(rest.substr(0, strlen(rest.c_str())).c_str()).size() == 28);
    return 0;
  }
  std::string type;
  switch (typeSelector % 5) {
    case 0:
      type = "application/json";
      break;
    case 1:
      type = "application/json; charset=utf-8";
      break;
    case 2:
      type = "text/plain";
      break;
    case 3: {  // a Content-Type of the input's own: its first line
      size_t eol = rest.find('\n');
      type = rest.substr(0, eol);
      type.resize(strlen(type.c_str()));
      rest = eol == std::string::npos ? "" : rest.substr(eol + 1);
      break;
    }
    default:
      break;  // none
  }
  fuzz_endpoint(selector, type, rest);
  gApp->shutdown = false;
  return 0;
}
