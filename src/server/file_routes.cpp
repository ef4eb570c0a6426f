// The one way a file of a session reaches a browser.  The session role
// answers "/get_file?session=<id>&file=<n>[&form=<form>][&download=1]"
// with the file's bytes (a print job: form "pdf" or "text"), shown inline
// or offered for download, and "/print_jobs?session=<id>" with the print
// jobs it keeps; both need the session's identifier (the guard of the
// session's routes checks it).  The server role passes both on to the
// session named by the identifier.
#include <cstdlib>
#include <cstring>
#include <string>

#include "app.h"
#include "broker.h"
#include "file_store.h"
#include "http.h"
#include "json.h"
#include "print_jobs.h"
#include "server.h"

namespace {

// A name for the Content-Disposition header: the characters a file name
// may safely carry, others replaced.
std::string fr_header_name(const std::string& name) {
  std::string out;
  for (char c : name) out += (isalnum(static_cast<unsigned char>(c)) || strchr("._-", c)) ? c : '_';
  return out.empty() ? "file" : out;
}

void fr_text_answer(evhtp_request_t* req, evhtp_res code, const char* text) {
  evbuffer_add(req->buffer_out, text, strlen(text));
  evhtp_headers_add_header(req->headers_out, evhtp_header_new("Content-Type", "text/plain; charset=utf-8", 0, 0));
  evhtp_headers_add_header(req->headers_out,
                           evhtp_header_new("Content-Length", std::to_string(strlen(text)).c_str(), 0, 1));
  log_request_info(req, code);
  kvx_send_reply(req, code);
}

const char* fr_query(evhtp_request_t* req, const char* name) {
  return req->uri && req->uri->query ? evhtp_kv_find(req->uri->query, name) : nullptr;
}

}  // namespace

void get_file(evhtp_request_t* req, void*) {
  if (req->method != htp_method_GET && req->method != htp_method_HEAD) {
    fr_text_answer(req, EVHTP_RES_METHNALLOWED, "Only GET fetches a file.");
    return;
  }
  const char* id = fr_query(req, "file");
  const char* form = fr_query(req, "form");
  const char* download = fr_query(req, "download");
  char* end = nullptr;
  const unsigned long long n = id && *id ? strtoull(id, &end, 10) : 0;
  app_file_form out;
  const app_file* f = n && end && !*end ? app_files_find(gApp, n) : nullptr;
  if (!f) {
    fr_text_answer(req, EVHTP_RES_NOTFOUND, "No such file in this session.");
    return;
  }
  if (!app_files_fetch(gApp, n, form ? form : "", &out)) {
    fr_text_answer(req, EVHTP_RES_NOTFOUND, "The file is not offered in that form.");
    return;
  }
  std::string name = f->name;
  if (!out.extension.empty()) {
    size_t dot = name.rfind('.');
    name = (dot == std::string::npos ? name : name.substr(0, dot)) + out.extension;
  }
  const bool attach = download && strcmp(download, "1") == 0;
  const std::string disposition =
      std::string(attach ? "attachment" : "inline") + "; filename=\"" + fr_header_name(name) + "\"";
  evhtp_headers_add_header(req->headers_out, evhtp_header_new("Content-Type", out.type.c_str(), 0, 1));
  evhtp_headers_add_header(req->headers_out, evhtp_header_new("Content-Disposition", disposition.c_str(), 0, 1));
  evhtp_headers_add_header(req->headers_out, evhtp_header_new("Cache-Control", "no-store", 0, 0));
  evhtp_headers_add_header(req->headers_out, evhtp_header_new("X-Content-Type-Options", "nosniff", 0, 0));
  evhtp_headers_add_header(req->headers_out,
                           evhtp_header_new("Content-Length", std::to_string(out.bytes.size()).c_str(), 0, 1));
  if (req->method == htp_method_GET) evbuffer_add(req->buffer_out, out.bytes.data(), out.bytes.size());
  log_request_info(req, EVHTP_RES_OK);
  kvx_send_reply(req, EVHTP_RES_OK);
}

void list_print_jobs(evhtp_request_t* req, void*) {
  evbuffer_drain(req->buffer_in, evbuffer_get_length(req->buffer_in));
  js_value_s* jobs = js_value_new_array(4);
  for (const app_file& f : app_files_list(gApp)) {
    if (f.kind != "print") continue;
    const std::vector<std::string> fields = app_print_job_fields(f);
    js_value_s* job = js_value_new_object();
    js_value_put_int(job, "id", static_cast<int32_t>(f.id));
    js_value_put_string(job, "name", f.name.c_str());
    js_value_put_int(job, "pages", atoi(fields[2].c_str()));
    js_value_put_int(job, "bytes", static_cast<int32_t>(f.bytes.size()));
    js_value_put_int(job, "created", static_cast<int32_t>(f.created));
    js_value_append_array(jobs, job);
  }
  send_json_response(req, jobs, KVX_STATUS_OK);
}
