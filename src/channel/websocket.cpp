// WebSocket side of the channel: the "/get_te_channel" handshake with its
// two subprotocols, the resumable frame reader, the frame writer, the
// keep-alive ping and the deadline for a first browser.
#include <event2/bufferevent_ssl.h>
#include <openssl/evp.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "app.h"
#include "channel.h"
#include "http.h"
#include "stats.h"
#include "tetrace.h"

static const char kWsGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

time_t kvx_get_time() {
  timeval tv;
  if (gettimeofday(&tv, nullptr) != 0) return -1;
  return tv.tv_sec;
}

char* lum_base64(const unsigned char* bytes, size_t length) {
  size_t outLen = 4 * ((length + 2) / 3);
  char* out = static_cast<char*>(malloc(outLen + 1));
  if (!out) return nullptr;
  EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out), bytes, static_cast<int>(length));
  out[outLen] = 0;
  return out;
}

std::string kvx_ws_accept_key(const char* key) {
  const char* p = key ? key : "";
  while (*p == ' ' || *p == '\t') p++;
  std::string text(p, strcspn(p, " "));
  text += kWsGuid;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(text.data(), text.size(), digest, &len, EVP_sha1(), nullptr);
  char* b64 = lum_base64(digest, len);
  std::string accept = b64 ? b64 : "";
  free(b64);
  return accept;
}

// ---- handshake ----

static void ws_bad_request(evhtp_request_t* req, const char* text) {
  evbuffer_add(req->buffer_out, text, strlen(text));
  char length[32];
  snprintf(length, sizeof length, "%zu", strlen(text));
  evhtp_headers_add_header(req->headers_out, evhtp_header_new("Content-Length", length, 0, 1));
  log_request_info(req, EVHTP_RES_BADREQ);
  kvx_send_reply(req, EVHTP_RES_BADREQ);
}

void get_te_channel(evhtp_request_t* req, void*) {
  if (req->method != htp_method_GET) {
    send_method_not_allowed(req, "GET", true);
    return;
  }
  const char* upgrade = evhtp_header_find(req->headers_in, "Upgrade");
  const char* protocol = evhtp_header_find(req->headers_in, "Sec-WebSocket-Protocol");
  const char* key = evhtp_header_find(req->headers_in, "Sec-WebSocket-Key");
  if (!upgrade || !key || (strcmp(upgrade, "websocket") != 0 && strcmp(upgrade, "Websocket") != 0)) {
    ws_bad_request(req, "Invalid request for WebSocket resource.");
    return;
  }
  TE_CTRL_PROTOCOL proto = TE_CTRL;
  if (protocol) {
    // Only the first name offered counts.
    std::string first(protocol, strcspn(protocol, ","));
    first.resize(strcspn(first.c_str(), " "));
    if (first.empty() || first == "teCtrl") {
      proto = TE_CTRL;
    } else if (first == "teCtrlRaw") {
      proto = TE_CTRL_RAW;
    } else {
      ws_bad_request(req, "Unsupported WebSocket protocol, use teCtrl or teCtrlRaw.");
      return;
    }
  }
  std::string accept = kvx_ws_accept_key(key);
  const lum_hdr headers[] = {{"Upgrade", "websocket"},
                             {"Connection", "Upgrade"},
                             {"Sec-WebSocket-Accept", accept.c_str()},
                             {"Sec-WebSocket-Protocol", proto == TE_CTRL_RAW ? "teCtrlRaw" : "teCtrl"},
                             {nullptr, nullptr}};
  lum_add_evhtp_hdrs(req->headers_out, headers);
  log_request_info(req, EVHTP_RES_SWITCH_PROTO);
  kvx_send_reply(req, EVHTP_RES_SWITCH_PROTO);

  // From here on the connection is the channel's: the HTTP layer lets go of
  // its buffered socket and frees its own connection record.
  bufferevent* bev = kvx_http_take_socket(req);
  if (!bev) return;
  // The route belongs to the process's one session.
  kvx_client_t* client = kvx_client_new(gApp, bev);
  client->proto = proto;
  kvx_add_client(client);
  bufferevent_set_timeouts(bev, nullptr, nullptr);
  bufferevent_setcb(bev, handle_socket_read, handle_socket_write, handle_socket_event, client);
  bufferevent_enable(bev, EV_READ | EV_WRITE);
  // Bytes that came right behind the request are read once the HTTP layer
  // has consumed the request itself.
  bufferevent_trigger(bev, EV_READ, BEV_TRIG_IGNORE_WATERMARKS | BEV_TRIG_DEFER_CALLBACKS);
}

// ---- frames ----

void kvx_read_ws_frame(kvx_client_t* client) {
  ws_state_t& w = client->wss;
  w.eof = false;
  const bool blocking = client->app && client->app->blockingMode;
  auto readSome = [&](void* into, size_t size) {
    size_t n = kvx_read_full_block(client, into, size);
    if (n == 0 && blocking) w.eof = true;
    return n;
  };
  for (;;) {
    switch (w.frameStage) {
      case WS_FRAME_STAGE_INITIALIZED: {
        uint8_t b;
        if (readSome(&b, 1) != 1) return;
        w.finBit = (b & 0x80) != 0;
        w.op = b & 0x0F;
        w.frameStage = WS_FRAME_STAGE_READ_BITFIELD;
        break;
      }
      case WS_FRAME_STAGE_READ_BITFIELD: {
        uint8_t b;
        if (readSome(&b, 1) != 1) return;
        uint8_t len = b & 0x7F;
        w.bytes = 0;
        if (len <= 125) {
          w.pendingData = len;
          w.lengthFieldSize = 1;
          w.frameStage = WS_FRAME_STAGE_READ_FULL_LENGTH_FIELD;
        } else {
          w.lengthFieldSize = len == 126 ? 2 : 8;
          w.frameStage = WS_FRAME_STAGE_READ_PARTIAL_LENGTH_FIELD;
        }
        break;
      }
      case WS_FRAME_STAGE_READ_PARTIAL_LENGTH_FIELD: {
        size_t n = readSome(w.lengthField + w.bytes, w.lengthFieldSize - w.bytes);
        w.bytes += n;
        if (w.bytes < w.lengthFieldSize) return;
        uint64_t v = 0;
        for (size_t i = 0; i < w.lengthFieldSize; i++) v = (v << 8) | w.lengthField[i];
        w.pendingData = v;
        w.bytes = 0;
        if (w.pendingData > kKvxMaxWsPayload) {
          client->failed = true;
          return;
        }
        w.frameStage = WS_FRAME_STAGE_READ_FULL_LENGTH_FIELD;
        break;
      }
      case WS_FRAME_STAGE_READ_FULL_LENGTH_FIELD: {
        size_t n = readSome(w.mask + w.bytes, 4 - w.bytes);
        w.bytes += n;
        if (w.bytes < 4) return;
        evbuffer_drain(w.buf, evbuffer_get_length(w.buf));
        w.maskIndex = 0;
        w.bytes = 0;
        w.frameStage = WS_FRAME_STAGE_READ_HEADERS;
        break;
      }
      case WS_FRAME_STAGE_READ_HEADERS: {
        uint8_t chunk[16384];
        while (w.pendingData > 0) {
          size_t want = w.pendingData < sizeof chunk ? static_cast<size_t>(w.pendingData) : sizeof chunk;
          size_t n = readSome(chunk, want);
          if (n == 0) return;
          for (size_t i = 0; i < n; i++) chunk[i] ^= w.mask[(w.maskIndex++) & 3];
          evbuffer_add(w.buf, chunk, n);
          w.pendingData -= n;
          if (n < want && !blocking) return;
        }
        w.frameStage = WS_FRAME_STAGE_COMPLETE;
        return;
      }
      case WS_FRAME_STAGE_COMPLETE:
        return;
    }
  }
}

void kvx_write_ws_frame(int op, kvx_client_t* client, evbuffer* payload) {
  size_t n = payload ? evbuffer_get_length(payload) : 0;
  uint8_t head[10];
  size_t headLen = 2;
  head[0] = static_cast<uint8_t>(0x80 | (op & 0x0F));
  if (n <= 125) {
    head[1] = static_cast<uint8_t>(n);
  } else if (n <= 65535) {
    head[1] = 126;
    head[2] = static_cast<uint8_t>(n >> 8);
    head[3] = static_cast<uint8_t>(n);
    headLen = 4;
  } else {
    head[1] = 127;
    for (int i = 0; i < 8; i++) head[2 + i] = static_cast<uint8_t>(static_cast<uint64_t>(n) >> (56 - 8 * i));
    headLen = 10;
  }
  kvx_write_full_block(client, head, headLen);
  kvx_write_buffer(client, payload);
}

// ---- keep-alive and attach deadline ----

void handle_ping_timer(evutil_socket_t, short, void* arg) {
  app_s* app = static_cast<app_s*>(arg);
  time_t now = kvx_get_time();
  for (kvx_client_t* client : app->kvx_clients)
    if (client->proto == TE_CTRL && now - client->lastReceivedData >= kKvxPingAfter)
      kvx_write_ws_frame(WS_OP_PING, client, nullptr);
}

void kvx_start_ping_timer(app_s* app) {
  if (app->pingTimer) return;
  app->pingTimer = event_new(app->evbase, -1, EV_PERSIST, handle_ping_timer, app);
  timeval interval = {kKvxPingInterval, 0};
  event_add(app->pingTimer, &interval);
}

void kvx_stop_ping_timer(app_s* app) {
  if (!app->pingTimer) return;
  event_free(app->pingTimer);
  app->pingTimer = nullptr;
}

static void channel_attach_deadline(evutil_socket_t, short, void* arg) {
  app_s* app = static_cast<app_s*>(arg);
  if ((app->clientAttached && !app->unattended) || !app->kvx_clients.empty() || app_is_connected(app) ||
      app->inConnect)
    return;
  TE_Trace(TRACE_PRINT, "[%d] - No browser attached within %d seconds, ending the session.\n",
           static_cast<int>(getpid()), kKvxAttachTimeout);
  kvx_stats_set(&kvx_stats()->exitReason, KVX_EXIT_UNATTACHED);
  event_base_loopexit(app->evbase, nullptr);
}

// ---- idle time-out ----

static double g_idleSeconds = 0;
static event* g_idleTimer = nullptr;

void kvx_set_idle_timeout(double seconds) {
  g_idleSeconds = seconds > 0 ? seconds : 0;
}

static void channel_idle_timeout(evutil_socket_t, short, void* arg) {
  app_s* app = static_cast<app_s*>(arg);
  if (!app->kvx_clients.empty()) return;
  TE_Trace(TRACE_PRINT, "[%d] - No browser attached for %g minutes, ending the session.\n",
           static_cast<int>(getpid()), g_idleSeconds / 60);
  kvx_stats_set(&kvx_stats()->exitReason, KVX_EXIT_IDLE);
  event_base_loopexit(app->evbase, nullptr);
}

void kvx_idle_clock(app_s* app) {
  if (!g_idleTimer) return;
  if (!app->kvx_clients.empty()) {
    evtimer_del(g_idleTimer);
    return;
  }
  if (evtimer_pending(g_idleTimer, nullptr)) return;
  const double whole = static_cast<double>(static_cast<long>(g_idleSeconds));
  timeval limit = {static_cast<time_t>(whole), static_cast<suseconds_t>((g_idleSeconds - whole) * 1e6)};
  evtimer_add(g_idleTimer, &limit);
}

void kvx_channel_start(app_s* app) {
  kvx_update_attach(app);
  kvx_prompts_attach();
  app->startTime = kvx_get_time();
  app->idleTimer = evtimer_new(app->evbase, channel_attach_deadline, app);
  timeval limit = {kKvxAttachTimeout, 0};
  evtimer_add(app->idleTimer, &limit);
  if (g_idleSeconds > 0) g_idleTimer = evtimer_new(app->evbase, channel_idle_timeout, app);
  kvx_idle_clock(app);
}

// The host has gone while no browser is attached: nobody can see the
// session any more unless a browser comes back, so it gets the same time to
// come as a new session has.
void kvx_arm_attach_deadline(app_s* app) {
  if (!app->idleTimer || !app->kvx_clients.empty()) return;
  app->unattended = true;
  timeval limit = {kKvxAttachTimeout, 0};
  evtimer_add(app->idleTimer, &limit);
}

void kvx_channel_stop(app_s* app) {
  if (app->idleTimer) event_free(app->idleTimer);
  app->idleTimer = nullptr;
  if (g_idleTimer) event_free(g_idleTimer);
  g_idleTimer = nullptr;
  while (!app->kvx_clients.empty()) {
    kvx_client_t* client = app->kvx_clients.back();
    app->kvx_clients.pop_back();
    // What is still queued (a last message) gets one more chance to leave.
    if (client->bev && !app->sslEnabled) {
      evbuffer* out = bufferevent_get_output(client->bev);
      if (evbuffer_get_length(out) > 0) evbuffer_write(out, bufferevent_getfd(client->bev));
    }
    kvx_client_free(client);
  }
}
