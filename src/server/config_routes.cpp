// Session-role configuration endpoints.  Until the terminal session can
// take a configuration, each answers that none is loaded.
#include "broker.h"
#include "http.h"

static void config_not_available(evhtp_request_t* req) {
  if (!is_json_request(req)) return;
  evbuffer_drain(req->buffer_in, evbuffer_get_length(req->buffer_in));
  send_json_response(req, nullptr, KVX_STATUS_NO_CONFIG);
}

void load_config(evhtp_request_t* req, void*) {
  config_not_available(req);
}
void get_config_values(evhtp_request_t* req, void*) {
  config_not_available(req);
}
void load_capture(evhtp_request_t* req, void*) {
  config_not_available(req);
}
