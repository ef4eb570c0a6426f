// Session-role configuration endpoints: "/load_config" installs a settings
// object (secrets replaced by secure-store tokens before they reach the
// dictionary) and connects or disconnects the host; "/get_config_values"
// reads settings back.  The server role relays both (broker).
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "app.h"
#include "blockmode.h"
#include "broker.h"
#include "channel.h"
#include "http.h"
#include "lumdict.h"
#include "platform.h"
#include "settings.h"
#include "settings_keys.h"
#include "tetrace.h"

// Secret names to their tokens in the secure store; lives as long as the
// process and only grows.
static std::map<std::string, std::string>& secure_key_map() {
  static std::map<std::string, std::string> map;
  return map;
}

static void add_secure(const char* name, js_value_s* value, void* context) {
  app_s* app = static_cast<app_s*>(context);
  if (!name || !value) return;
  const char* text = value->type == JS_VALUE_STRING ? js_value_string(value) : nullptr;
  std::string owned;
  if (!text) {
    char* json = to_json(value);
    owned = json ? json : "";
    free(json);
    text = owned.c_str();
  }
  char* token = app_macro_store_secure(app, text);
  if (!token) return;
  secure_key_map()[name] = token;
  free(token);
}

void add_secure_keys(const js_value_s* config) {
  js_value_s* keys = config && config->type == JS_VALUE_OBJECT ? js_value_get(config, "secureKeys") : nullptr;
  if (!keys || keys->type != JS_VALUE_OBJECT) return;
  js_value_iterate_members(keys, add_secure, gApp);
}

static void add_kcf_keys(const char* name, js_value_s* value, void* context) {
  LumDict* dict = static_cast<LumDict*>(context);
  if (!name || !value) return;
  switch (value->type) {
    case JS_VALUE_STRING: {
      auto it = secure_key_map().find(js_value_string(value) ? js_value_string(value) : "");
      dict->setStringForKey(name, it != secure_key_map().end() ? it->second.c_str() : js_value_string(value));
      break;
    }
    case JS_VALUE_INTEGER:
      dict->setIntForKey(name, js_value_int(value));
      break;
    case JS_VALUE_FLOAT:
      dict->setFloatForKey(name, js_value_float(value));
      break;
    case JS_VALUE_BOOL:
      dict->setBoolForKey(name, js_value_bool(value));
      break;
    default:
      break;
  }
}

LumDict* dict_from_js_value(const js_value_s* config) {
  if (!config || config->type != JS_VALUE_OBJECT) return nullptr;
  LumDict* dict = new LumDict();
  js_value_iterate_members(config, add_kcf_keys, dict);
  return dict;
}

void load_config(evhtp_request_t* req, void*) {
  app_s* app = gApp;
  if (!is_json_request(req)) return;
  js_value_s* body = get_json_body(req);
  if (!body) return;
  if (body->type != JS_VALUE_OBJECT) {
    js_free_value(body);
    send_json_response(req, nullptr, KVX_STATUS_INVALID_REQ_DATA, "associative array");
    return;
  }
  js_value_s* kcf = js_value_get(body, "kcf");
  if (!kcf) {
    js_free_value(body);
    send_json_response(req, nullptr, KVX_STATUS_MISSING_REQ_DATA, "kcf property");
    return;
  }
  const bool disconnect = js_value_get_bool(body, "disconnectFromHost");
  const bool connect = js_value_get_bool(body, "connectToHost");
  add_secure_keys(kcf);
  LumDict* dict = dict_from_js_value(kcf);
  if (!dict) {
    js_free_value(body);
    send_json_response(req, nullptr, KVX_STATUS_INVALID_REQ_DATA, "kcf property as associative array");
    return;
  }
  // Keys the session does not know are kept as they are; only counted.
  if (const size_t unknown = kvx_settings_count_unknown(kcf))
    TE_Trace(TRACE_SESSION, "load_config: %zu settings keys not known to the session\n", unknown);
  // A configuration without a screen size keeps the one in force (a size of
  // 0 would leave the terminal without a screen).
  if (dict->intValueForKey("lines") > 0) app->_rows = dict->intValueForKey("lines");
  if (dict->intValueForKey("col") > 0) app->_cols = dict->intValueForKey("col");
  if (disconnect) app_disconnect(app, 0);
  if (app_is_connected(app)) {
    // A running session takes only the values that are safe to change; the
    // dictionary of its connection stays.
    app_set_te_safe_values(app, dict);
    kvx_send_screen(app, nullptr);
    delete dict;
    js_free_value(body);
  } else {
    js_free_value(app->_config);
    app->_config = body;
    app_replace_dictionary(app, dict);
    if (connect && !app->kvx_clients.empty()) app_connect_using_dictionary(app, dict);
  }
  send_json_response(req, nullptr, KVX_STATUS_OK);
}

void get_config_values(evhtp_request_t* req, void*) {
  app_s* app = gApp;
  if (!is_json_request(req)) return;
  js_value_s* body = get_json_body(req);
  if (!body) return;
  if (body->type != JS_VALUE_ARRAY) {
    js_free_value(body);
    send_json_response(req, nullptr, KVX_STATUS_INVALID_REQ_DATA, "array of strings");
    return;
  }
  if (!app->_dict) {
    js_free_value(body);
    send_json_response(req, nullptr, KVX_STATUS_NO_CONFIG);
    return;
  }
  js_value_s* answer = js_value_new_object();
  const int n = js_value_array_length(body);
  size_t unknown = 0;
  for (int i = 0; i < n; i++) {
    js_value_s* key = js_value_get_element(body, i);
    if (!key || key->type != JS_VALUE_STRING || !js_value_string(key)) continue;
    const char* name = js_value_string(key);
    // A key the session does not know is answered as any other (its text, or "").
    if (!kvx_setting_is_session_key(name)) unknown++;
    js_value_put_string(answer, name, app->_dict->stringValueForKey(name).c_str());
  }
  if (unknown) TE_Trace(TRACE_SESSION, "get_config_values: %zu keys not known to the session\n", unknown);
  js_free_value(body);
  send_json_response(req, answer, KVX_STATUS_OK);
}

// A recorded block-mode host data stream (raw bytes, telnet framing
// included, any content type) replayed into the session while it is not
// connected; in character mode it is dropped.
void load_capture(evhtp_request_t* req, void*) {
  evbuffer* in = req->buffer_in;
  const size_t n = evbuffer_get_length(in);
  const uint8_t* bytes = n ? evbuffer_pullup(in, static_cast<ev_ssize_t>(n)) : nullptr;
  int result = app_load_capture(gApp, bytes, bytes ? n : 0);
  evbuffer_drain(in, n);
  if (result == 1) {
    send_json_response(req, nullptr, KVX_STATUS_INVALID_REQ_DATA, "no capture while connected to a host");
    return;
  }
  send_json_response(req, nullptr, KVX_STATUS_OK);
}
