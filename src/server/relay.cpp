// The channel relay: a browser's "/get_te_channel?session=<id>" on the
// server's port is passed, upgrade request and all, to the session's own
// port over loopback, and from then on every byte goes both ways
// unchanged, so that a browser needs to reach only the server's port.  The
// session process answers the upgrade, checks the identifier and keeps its
// own frame limits; the relay holds at most a bounded amount in each
// direction and otherwise stops reading the side that sends, so that a
// browser that stops reading slows its session exactly as on a direct
// attach.
#include "relay.h"

#include <arpa/inet.h>
#include <event2/bufferevent_ssl.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app.h"
#include "broker.h"
#include "http.h"
#include "server.h"
#include "tetrace.h"

namespace {

struct Relay;

// One direction of a relay: what `from` sends goes out on `to`.
struct Side {
  Relay* relay = nullptr;
  bufferevent* bev = nullptr;
  Side* other = nullptr;
  bool closed = false;  // end of stream or error: nothing more to read
};

struct Relay {
  Side browser, session;
  bool connected = false;  // the session's port has accepted the connection
  std::string client;      // the browser's address, for the log
  int port = 0;
  event* drainTimer = nullptr;
};

std::vector<Relay*> g_relays;

void relay_free(Relay* r) {
  auto it = std::find(g_relays.begin(), g_relays.end(), r);
  if (it != g_relays.end()) g_relays.erase(it);
  if (r->browser.bev) bufferevent_free(r->browser.bev);
  if (r->session.bev) bufferevent_free(r->session.bev);
  if (r->drainTimer) event_free(r->drainTimer);
  delete r;
  kvx_stop_when_drained(gApp);
}

size_t relay_pending(const Side* s) {
  return s->bev ? evbuffer_get_length(bufferevent_get_output(s->bev)) : 0;
}

void relay_drain_timeout(evutil_socket_t, short, void* arg) {
  relay_free(static_cast<Relay*>(arg));
}

// Once one side has ended, the other gets what is still on its way and is
// then closed; one that does not take it within the bound is dropped.
void relay_finish(Relay* r) {
  if (relay_pending(&r->browser) == 0 && relay_pending(&r->session) == 0) {
    relay_free(r);
    return;
  }
  if (!r->drainTimer) {
    r->drainTimer = evtimer_new(gApp->evbase, relay_drain_timeout, r);
    timeval bound = {kKvxRelayDrainSeconds, 0};
    if (r->drainTimer) evtimer_add(r->drainTimer, &bound);
  }
}

void relay_move(Side* from) {
  Side* to = from->other;
  evbuffer* in = bufferevent_get_input(from->bev);
  if (to->closed || !to->bev) {
    evbuffer_drain(in, evbuffer_get_length(in));
    return;
  }
  bufferevent_write_buffer(to->bev, in);
  if (relay_pending(to) > kKvxRelayHighWater) {
    // Held back until the other side has taken most of it.
    bufferevent_disable(from->bev, EV_READ);
    bufferevent_setwatermark(to->bev, EV_WRITE, kKvxRelayLowWater, 0);
  }
}

void relay_read(bufferevent*, void* arg) {
  relay_move(static_cast<Side*>(arg));
}

void relay_write(bufferevent*, void* arg) {
  Side* s = static_cast<Side*>(arg);
  Relay* r = s->relay;
  if (s->other->closed || s->closed) {
    if (relay_pending(s) == 0) relay_finish(r);
    return;
  }
  if (relay_pending(s) <= kKvxRelayLowWater && s->other->bev) {
    bufferevent_setwatermark(s->bev, EV_WRITE, 0, 0);
    bufferevent_enable(s->other->bev, EV_READ);
  }
}

void relay_event(bufferevent*, short events, void* arg) {
  Side* s = static_cast<Side*>(arg);
  Relay* r = s->relay;
  if (events & BEV_EVENT_CONNECTED) {
    r->connected = true;
    return;
  }
  if (!(events & (BEV_EVENT_EOF | BEV_EVENT_ERROR))) return;
  if (s == &r->session && !r->connected && !r->browser.closed) {
    // The session's port did not answer: the browser hears so.
    TE_Trace(TRACE_FAIL, "[%d] - Channel relay for [%s]: session port [%d] does not answer.\n", kvx_getpid(),
             r->client.c_str(), r->port);
    static const char kAnswer[] =
        "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    bufferevent_write(r->browser.bev, kAnswer, sizeof kAnswer - 1);
  } else if (!s->closed) {
    relay_move(s);  // what came with the end still goes out
  }
  s->closed = true;
  bufferevent_disable(s->bev, EV_READ);
  // Nothing more can be sent this way; what the other side sends is dropped.
  bufferevent_setcb(s->bev, nullptr, relay_write, relay_event, s);
  if (s->other->bev) bufferevent_setwatermark(s->other->bev, EV_WRITE, 0, 0);
  if (events & BEV_EVENT_ERROR) {
    bufferevent_free(s->bev);
    s->bev = nullptr;
  }
  relay_finish(r);
}

void relay_start(evutil_socket_t, short, void* arg) {
  Relay* r = static_cast<Relay*>(arg);
  if (std::find(g_relays.begin(), g_relays.end(), r) == g_relays.end() || !r->browser.bev) return;
  bufferevent_setcb(r->browser.bev, relay_read, relay_write, relay_event, &r->browser);
  bufferevent_enable(r->browser.bev, EV_READ | EV_WRITE);
  if (evbuffer_get_length(bufferevent_get_input(r->browser.bev)) > 0) relay_move(&r->browser);
}

void relay_refuse(evhtp_request_t* req, const char* peer, const char* why) {
  TE_Trace(TRACE_FAIL, "[%d] - Refused /get_te_channel from [%s]: %s.\n", kvx_getpid(), peer, why);
  static const char kText[] = "Forbidden: the session identifier is missing or wrong.";
  evbuffer_add(req->buffer_out, kText, sizeof kText - 1);
  evhtp_headers_add_header(
      req->headers_out, evhtp_header_new("Content-Length", std::to_string(sizeof kText - 1).c_str(), 0, 1));
  log_request_info(req, EVHTP_RES_FORBIDDEN);
  kvx_send_reply(req, EVHTP_RES_FORBIDDEN);
}

std::string relay_peer(evhtp_request_t* req) {
  char text[INET6_ADDRSTRLEN] = "unknown";
  evhtp_connection_t* conn = evhtp_request_get_connection(req);
  if (conn && conn->saddr && conn->saddr->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(conn->saddr)->sin_addr, text, sizeof text);
  return text;
}

// The upgrade request as the session gets it: its path with the query, and
// the handshake's own headers, nothing else.
std::string relay_request_text(evhtp_request_t* req, const kvx_session_t* s, const std::string& client) {
  std::string text = "GET /get_te_channel?" +
                     std::string(reinterpret_cast<const char*>(req->uri->query_raw)) +
                     " HTTP/1.1\r\nHost: " + kvx_session_address() + ":" + std::to_string(s->port) + "\r\n";
  static const char* const kHeaders[] = {"Upgrade", "Connection", "Sec-WebSocket-Key",
                                         "Sec-WebSocket-Version", "Sec-WebSocket-Protocol"};
  for (const char* name : kHeaders) {
    const char* value = evhtp_header_find(req->headers_in, name);
    if (value) text += std::string(name) + ": " + value + "\r\n";
  }
  return text + "X-Forwarded-For: " + client + "\r\n\r\n";
}

}  // namespace

void relay_channel(evhtp_request_t* req, void*) {
  if (req->method != htp_method_GET) {
    send_method_not_allowed(req, "GET", true);
    return;
  }
  const std::string peer = relay_peer(req);
  const char* id = req->uri && req->uri->query ? evhtp_kv_find(req->uri->query, "session") : nullptr;
  kvx_session_t* s = id ? kvx_session_find(id) : nullptr;
  if (!s || s->port <= 0) {
    relay_refuse(req, peer.c_str(), id ? "no such session" : "no session identifier");
    return;
  }
  app_s* app = gApp;
  Relay* r = new Relay;
  r->client = peer;
  r->port = s->port;
  const std::string request = relay_request_text(req, s, peer);

  SSL* ssl = app->sslEnabled ? SSL_new(app->ssl_client_ctx) : nullptr;
  bufferevent* toSession =
      ssl ? bufferevent_openssl_socket_new(app->evbase, -1, ssl, BUFFEREVENT_SSL_CONNECTING,
                                           BEV_OPT_CLOSE_ON_FREE | BEV_OPT_DEFER_CALLBACKS)
          : bufferevent_socket_new(app->evbase, -1, BEV_OPT_CLOSE_ON_FREE | BEV_OPT_DEFER_CALLBACKS);
  sockaddr_in sin = {};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(static_cast<uint16_t>(s->port));
  inet_pton(AF_INET, kvx_session_address(), &sin.sin_addr);
  if (!toSession ||
      bufferevent_socket_connect(toSession, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
    if (toSession)
      bufferevent_free(toSession);
    else if (ssl)
      SSL_free(ssl);
    delete r;
    send_json_response(req, nullptr, KVX_STATUS_CONN_ATT_FAIL, s->port);
    return;
  }
  kvx_socket_no_delay(bufferevent_getfd(toSession));
  // From here on the browser's connection is the relay's; the HTTP layer
  // frees its own records of it.
  bufferevent* fromBrowser = kvx_http_take_socket(req);
  if (!fromBrowser) {
    bufferevent_free(toSession);
    delete r;
    return;
  }
  r->browser = {r, fromBrowser, &r->session, false};
  r->session = {r, toSession, &r->browser, false};
  g_relays.push_back(r);
  for (Side* side : {&r->browser, &r->session}) {
    bufferevent_set_timeouts(side->bev, nullptr, nullptr);
    bufferevent_setcb(side->bev, relay_read, relay_write, relay_event, side);
    bufferevent_enable(side->bev, EV_READ | EV_WRITE);
  }
  bufferevent_write(toSession, request.data(), request.size());
  // The HTTP layer lets go of the browser's connection only once this
  // callback has returned; reading starts after that, with whatever came
  // right behind the request.
  timeval now = {0, 0};
  event_base_once(app->evbase, -1, EV_TIMEOUT, relay_start, r, &now);
}

size_t kvx_relay_count() {
  return g_relays.size();
}

void kvx_relay_teardown() {
  while (!g_relays.empty()) relay_free(g_relays.back());
}
