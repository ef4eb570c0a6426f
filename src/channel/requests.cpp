// Client requests: a browser connection's event callbacks (frames read,
// first writable event, end of stream) and the client actions of normal
// operation: refresh, reconnect, keys to the active emulator, the
// capabilities a browser names, print screen and dropping a print job.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "app.h"
#include "blockmode.h"
#include "channel.h"
#include "json.h"
#include "file_store.h"
#include "keyboard.h"
#include "print_jobs.h"
#include "tetrace.h"

// Whether the connection is still in the list: a request can start a
// prompt, and a browser may leave while it waits.
static bool rq_alive(app_s* app, const kvx_client_t* client) {
  const auto& list = app->kvx_clients;
  return std::find(list.begin(), list.end(), client) != list.end();
}

// A key frame: the key code in 4 data bytes, little-endian.
static void rq_onkey(app_s* app, kvx_client_t* client) {
  const kvx_frame_t& hf = client->hf;
  if (hf.hdr.dataSize != 4 || hf.data.size() < 4) {
    TE_Trace(TRACE_FAIL, "[%d] - Key frame with %zu data bytes ignored.\n", static_cast<int>(getpid()),
             hf.hdr.dataSize);
    return;
  }
  const uint8_t* d = hf.data.data();
  const uint32_t raw = static_cast<uint32_t>(d[0]) | static_cast<uint32_t>(d[1]) << 8 |
                       static_cast<uint32_t>(d[2]) << 16 | static_cast<uint32_t>(d[3]) << 24;
  const int key = static_cast<int32_t>(raw);
  switch (app->emlib) {
    case EM_UNIX:
      // Typing goes to the live screen, and so does the view of whoever types.
      if (kvx_view_is_back(client)) kvx_view_scroll(app, client, 0);
      app_onkey(app, key);
      break;
    default:
      if (key < 0 || key > 0xFFFF) {
        TE_Trace(TRACE_KEYBOARD, "Key 0x%x out of range, ignored.\n", raw);
        break;
      }
      app_block_key(app, key, false);
      break;
  }
}

// Click-to-position: fields row and column (from 0 at the top left), each a
// decimal number; anything else is ignored.
static void rq_mouse(app_s* app, const kvx_client_t* client) {
  const char* row = kvx_frame_get_hdr(client, 2);
  const char* col = kvx_frame_get_hdr(client, 3);
  auto number = [](const char* s, int* out) {
    if (!s || !*s) return false;
    char* end;
    long v = strtol(s, &end, 10);
    if (*end || v < 0 || v > 10000) return false;
    *out = static_cast<int>(v);
    return true;
  };
  int r, c;
  if (number(row, &r) && number(col, &c)) app_block_mouse(app, r, c);
}

// The capabilities the browser names, one a field; names this session does
// not know (a newer page's) are ignored.
static void rq_capabilities(kvx_client_t* client) {
  // The head: version, action, the fields, an empty line and the length.
  const std::vector<std::string>& head = client->hf.hdr.fields;
  kvx_capabilities_t caps = 0;
  for (size_t i = 2; i + 2 < head.size(); i++) caps = kvx_caps_add(caps, kvx_capability_from_name(head[i]));
  client->caps = caps;
  // A browser that understands printing hears of the jobs kept so far.
  if (kvx_client_has(client, KVX_CAPABILITY_PRINT)) {
    for (const app_file& f : app_files_list(client->app)) {
      if (f.kind != "print") continue;
      const std::vector<std::string> fields = app_print_job_fields(f);
      std::vector<const char*> ptrs;
      for (const std::string& s : fields) ptrs.push_back(s.c_str());
      ptrs.push_back(nullptr);
      kvx_send(client, KVX_HOST_ACTION_PRINT_JOB, ptrs.data(), nullptr, 0);
    }
  }
}

// Drops a kept print job; field: its id.
static void rq_print_drop(app_s* app, const kvx_client_t* client) {
  const char* id = kvx_frame_get_hdr(client, 2);
  char* end = nullptr;
  const unsigned long long n = id && *id ? strtoull(id, &end, 10) : 0;
  const app_file* f = n && end && !*end ? app_files_find(app, n) : nullptr;
  if (f && f->kind == "print") app_files_drop(app, n);
}

void kvx_handle_client_requests(kvx_client_t* client) {
  app_s* app = client->app;
  switch (kvx_frame_get_action(client)) {
    case KVX_CLIENT_ACTION_REFRESH:
      client->screenSent = true;
      kvx_send_cursor_state(app, client);
      kvx_send_screen(app, client);
      break;
    case KVX_CLIENT_ACTION_SCROLLBACK: {
      const char* n = kvx_frame_get_hdr(client, 2);
      // Beyond any ring, and the arithmetic stays far from overflow.
      const long back = n ? std::clamp(strtol(n, nullptr, 10), 0L, 1L << 24) : 0;
      kvx_view_scroll(app, client, static_cast<int>(back));
      break;
    }
    case KVX_CLIENT_ACTION_CONNECT_HOST:
      if (!app->_dict) break;
      kvx_frame_clear(client);
      if (app_is_connected(app)) app_disconnect(app, 0);
      app_connect_using_dictionary(app, app->_dict);
      break;
    case KVX_CLIENT_ACTION_ONKEY:
      rq_onkey(app, client);
      break;
    case KVX_CLIENT_ACTION_MOUSE:
      rq_mouse(app, client);
      break;
    case KVX_CLIENT_ACTION_CAPABILITIES:
      rq_capabilities(client);
      break;
    case KVX_CLIENT_ACTION_PRINT_SCREEN:
      app_print_screen(app);
      break;
    case KVX_CLIENT_ACTION_PRINT_DROP:
      rq_print_drop(app, client);
      break;
    default:
      // Answers to prompts arriving outside a prompt, and unknown actions.
      break;
  }
}

void handle_socket_read(bufferevent*, void* arg) {
  kvx_client_t* client = static_cast<kvx_client_t*>(arg);
  app_s* app = client->app;
  // Everything that has arrived is worked off, frame by frame.
  while (kvx_recv(client)) {
    if (client->failed) break;
    if (kvx_has_data(client)) {
      if (!client->hf.invalid) kvx_handle_client_requests(client);
      if (!rq_alive(app, client)) return;
      kvx_frame_clear(client);
    }
  }
  if (client->failed) {
    TE_Trace(TRACE_FAIL, "[%d] - Browser connection sent more than the channel accepts, closing it.\n",
             static_cast<int>(getpid()));
    kvx_remove_client(client);
  }
}

void handle_socket_write(bufferevent*, void* arg) {
  kvx_client_t* client = static_cast<kvx_client_t*>(arg);
  if (client->init) {
    kvx_update_client_writable(client);
    return;
  }
  // Marked before the connect, which may prompt and outlive this browser.
  client->init = true;
  app_s* app = client->app;
  if (!app->emulationNotice.empty()) kvx_send_notice(app, client, "emulation", app->emulationNotice.c_str());
  if (app_is_connected(app)) {
    kvx_send_connected(app, client);
  } else if (app->_config && app->_dict && js_value_get_bool(app->_config, "connectToHost")) {
    app_connect_using_dictionary(app, app->_dict);
  }
}

void handle_socket_event(bufferevent*, short events, void* arg) {
  if (events & (BEV_EVENT_EOF | BEV_EVENT_ERROR)) kvx_remove_client(static_cast<kvx_client_t*>(arg));
}
