// Channel transport: the connection list, sending frames to one or all
// browsers, receiving them, and the switch between the event loop's buffers
// and blocking socket I/O that a prompt uses while it waits.  The
// connection's event callbacks and the client actions are in requests.cpp.
#include <arpa/inet.h>
#include <event2/bufferevent_ssl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app.h"
#include "channel.h"
#include "json.h"
#include "stats.h"
#include "tetrace.h"

// ---- connections ----

kvx_client_t* kvx_client_new(app_s* app, bufferevent* bev) {
  kvx_client_t* client = new kvx_client_t;
  client->app = app;
  client->bev = bev;
  client->cursorVisbile = -1;
  client->lastReceivedData = kvx_get_time();
  client->wss.buf = evbuffer_new();
  kvx_frame_init(&client->hf);
  bufev_conn_info info;
  if (bufferevent_get_info(bev, &info)) {
    memcpy(client->peerAddr, info.peer_info.addr, sizeof client->peerAddr);
    client->peerPort = info.peer_info.port;
  }
  return client;
}

void kvx_client_free(kvx_client_t* client) {
  if (!client) return;
  if (client->bev) bufferevent_free(client->bev);
  if (client->wss.buf) evbuffer_free(client->wss.buf);
  kvx_frame_free(&client->hf);
  delete client;
}

void kvx_add_client(kvx_client_t* client) {
  app_s* app = client->app;
  app->kvx_clients.push_back(client);
  app->clientAttached = true;
  app->unattended = false;
  kvx_stats_set(&kvx_stats()->browsers, app->kvx_clients.size());
  kvx_stats_add(&kvx_stats()->attaches, 1);
  kvx_idle_clock(app);
}

bool kvx_client_has(const kvx_client_t* client, KVX_CAPABILITY capability) {
  return client && kvx_caps_has(client->caps, capability);
}

bool bufferevent_get_info(bufferevent* bev, bufev_conn_info* info) {
  memset(info, 0, sizeof *info);
  info->fd = bev ? static_cast<int>(bufferevent_getfd(bev)) : -1;
  sockaddr_in sin;
  socklen_t len = sizeof sin;
  if (info->fd < 0 || getpeername(info->fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0 ||
      sin.sin_family != AF_INET)
    return false;
  inet_ntop(AF_INET, &sin.sin_addr, info->peer_info.addr, sizeof info->peer_info.addr);
  info->peer_info.port = ntohs(sin.sin_port);
  return true;
}

void kvx_remove_client(kvx_client_t* client) {
  app_s* app = client->app;
  bufev_conn_info info;
  // A browser that has gone has no peer address any more: the one read
  // while it was connected stands in.
  if (!bufferevent_get_info(client->bev, &info)) {
    memcpy(info.peer_info.addr, client->peerAddr, sizeof info.peer_info.addr);
    info.peer_info.port = client->peerPort;
  }
  TE_Trace(TRACE_PRINT, "[%d] - Lost connection [%d], SRC [%s:%d].\n", static_cast<int>(getpid()), info.fd,
           info.peer_info.addr, info.peer_info.port);
  auto& list = app->kvx_clients;
  auto it = std::find(list.begin(), list.end(), client);
  if (it != list.end()) list.erase(it);
  kvx_client_free(client);
  kvx_stats_set(&kvx_stats()->browsers, list.size());
  // The browsers left may all be able to take output again.
  app_pause_host_reads(app, kvx_all_clients_behind(app));
  if (list.empty() && !app_is_connected(app) && app->evbase) {
    kvx_stats_set(&kvx_stats()->exitReason, KVX_EXIT_BROWSERS_LEFT);
    event_base_loopexit(app->evbase, nullptr);
  }
  kvx_idle_clock(app);
}

// ---- transport ----

// A prompt waits: this browser's socket is read and written directly.
static bool transport_blocking(const kvx_client_t* client) {
  return client->app && client->app->blockingMode;
}

size_t kvx_read_full_block(kvx_client_t* client, void* buffer, size_t size) {
  if (!transport_blocking(client)) {
    int n = evbuffer_remove(bufferevent_get_input(client->bev), buffer, size);
    return n > 0 ? static_cast<size_t>(n) : 0;
  }
  size_t done = 0;
  char* p = static_cast<char*>(buffer);
  // Bytes the event loop had already taken in come first, so that nothing
  // is skipped or read out of order.
  if (client->bev) {
    int n = evbuffer_remove(bufferevent_get_input(client->bev), p, size);
    if (n > 0) done = static_cast<size_t>(n);
  }
  while (done < size) {
    if (client->ssl) {
      errno = 0;
      int n = SSL_read(client->ssl, p + done, static_cast<int>(std::min<size_t>(size - done, 1 << 30)));
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      int err = SSL_get_error(client->ssl, n);
      // A blocking socket asks for a repeat only after its receive time
      // limit ran out: that ends the read like any other failure.
      if ((err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) && errno != EAGAIN &&
          errno != EWOULDBLOCK)
        continue;
      if (err != SSL_ERROR_ZERO_RETURN) client->hf.err = errno ? errno : EIO;
      break;
    }
    ssize_t n = read(client->fd, p + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) client->hf.err = errno;
    break;
  }
  return done;
}

size_t kvx_write_full_block(kvx_client_t* client, const void* buffer, size_t size) {
  if (!size) return 0;
  kvx_stats_add(&kvx_stats()->browserBytes, size);
  if (!transport_blocking(client)) {
    return bufferevent_write(client->bev, buffer, size) == 0 ? size : 0;
  }
  if (client->ssl) {
    // Partial writes are possible when the event layer enabled them on the
    // TLS object: the rest follows until all is out.
    size_t done = 0;
    const char* p = static_cast<const char*>(buffer);
    while (done < size) {
      errno = 0;
      int n = SSL_write(client->ssl, p + done, static_cast<int>(std::min<size_t>(size - done, 1 << 30)));
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      int err = SSL_get_error(client->ssl, n);
      if ((err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) || errno == EAGAIN ||
          errno == EWOULDBLOCK)
        break;
    }
    return done;
  }
  size_t done = 0;
  const char* p = static_cast<const char*>(buffer);
  while (done < size) {
    ssize_t n = write(client->fd, p + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  return done;
}

void kvx_write_buffer(kvx_client_t* client, evbuffer* data) {
  size_t n = data ? evbuffer_get_length(data) : 0;
  if (!n) return;
  if (!transport_blocking(client)) {
    evbuffer* out = bufferevent_get_output(client->bev);
    if (evbuffer_add_buffer_reference(out, data) == 0) {
      kvx_stats_add(&kvx_stats()->browserBytes, n);
      return;
    }
  }
  const unsigned char* bytes = evbuffer_pullup(data, -1);
  if (bytes) kvx_write_full_block(client, bytes, n);
}

void kvx_set_blocking_mode(app_s* app) {
  if (app->blockingMode) return;
  for (kvx_client_t* client : app->kvx_clients) {
    int fd = static_cast<int>(bufferevent_getfd(client->bev));
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (fd > app->fdMax) app->fdMax = fd;
    client->fd = fd;
    if (app->sslEnabled) client->ssl = bufferevent_openssl_get_ssl(client->bev);
  }
  app->blockingMode = true;
}

void kvx_unset_blocking_mode(app_s* app) {
  if (!app->blockingMode) return;
  for (kvx_client_t* client : app->kvx_clients) {
    int flags = fcntl(client->fd, F_GETFL);
    if (flags >= 0) fcntl(client->fd, F_SETFL, flags | O_NONBLOCK);
    client->fd = 0;
    client->ssl = nullptr;
  }
  app->blockingMode = false;
}

void kvx_channel_last_words(app_s* app, const char* text) {
  // The frame: head lines, no data; the text must need no escapes.
  char frame[400];
  int n = snprintf(frame + 4, sizeof frame - 4, "KVX 1.0\n%d\n1\n%s\n\n0\n", KVX_HOST_ACTION_SHOW_FATAL_ERROR,
                   text);
  if (n <= 0 || n > 300) return;
  for (kvx_client_t* client : app->kvx_clients) {
    if (!client->bev || app->sslEnabled || evbuffer_get_length(bufferevent_get_output(client->bev)) > 0)
      continue;
    const int fd = static_cast<int>(bufferevent_getfd(client->bev));
    const char* out = frame + 4;
    size_t length = static_cast<size_t>(n);
    if (client->proto == TE_CTRL) {
      // One unmasked binary WebSocket frame, its length in the shortest form.
      const size_t head = n <= 125 ? 2 : 4;
      char* h = frame + 4 - head;
      h[0] = static_cast<char>(0x80 | WS_OP_BINARY);
      if (head == 2) {
        h[1] = static_cast<char>(n);
      } else {
        h[1] = 126;
        h[2] = static_cast<char>(n >> 8);
        h[3] = static_cast<char>(n & 0xFF);
      }
      out = h;
      length += head;
    }
    if (send(fd, out, length, MSG_DONTWAIT | MSG_NOSIGNAL) < 0) continue;
  }
}

// ---- sending ----

void kvx_send_buffer(kvx_client_t* client, evbuffer* frame) {
  if (!client || !frame) return;
  if (client->proto == TE_CTRL_RAW)
    kvx_write_buffer(client, frame);
  else
    kvx_write_ws_frame(WS_OP_BINARY, client, frame);
}

void kvx_sendall_buffer(app_s* app, evbuffer* frame) {
  for (kvx_client_t* client : app->kvx_clients) kvx_send_buffer(client, frame);
}

// One frame to `client`, or to every browser of `app` when it is null.
static void transport_send(app_s* app, kvx_client_t* client, int action, const char* const* fields,
                           const void* data, size_t dataSize) {
  if (!app && !client) return;
  evbuffer* frame = evbuffer_new();
  if (!frame) return;
  kvx_build_frame(app, frame, action, fields, data, dataSize);
  if (client)
    kvx_send_buffer(client, frame);
  else
    kvx_sendall_buffer(app, frame);
  evbuffer_free(frame);
}

void kvx_send(kvx_client_t* client, int action, const char* const* fields, const void* data,
              size_t dataSize) {
  if (client) transport_send(client->app, client, action, fields, data, dataSize);
}

void kvx_send_all(app_s* app, int action, const char* const* fields, const void* data, size_t dataSize) {
  transport_send(app, nullptr, action, fields, data, dataSize);
}

void kvx_send_connected(app_s* app, kvx_client_t* client) {
  const char* fields[] = {app_is_connected(app) ? "1" : "0", nullptr};
  transport_send(app, client, KVX_HOST_ACTION_CONNECTED, fields, nullptr, 0);
}

void kvx_send_notice(app_s* app, kvx_client_t* client, const char* kind, const char* text) {
  const char* fields[] = {kind, text, nullptr};
  transport_send(app, client, KVX_HOST_ACTION_NOTICE, fields, nullptr, 0);
}

// ---- receiving ----

// A browser that keeps sending pings (or closes) without reading what it is
// sent gets no further answers while its output is backed up, so that it
// cannot grow the process without bound; a pong may be left out, and one
// close answer is all a browser needs.
static bool transport_output_backed_up(const kvx_client_t* client) {
  return !transport_blocking(client) && client->bev &&
         evbuffer_get_length(bufferevent_get_output(client->bev)) > kKvxOutputHighWater;
}

bool kvx_recv(kvx_client_t* client) {
  if (client->failed) return false;
  evbuffer* input = transport_blocking(client) ? nullptr : bufferevent_get_input(client->bev);
  size_t before = input ? evbuffer_get_length(input) : 0;
  bool completed = false;
  if (client->proto == TE_CTRL_RAW) {
    client->buf = input;
    completed = kvx_read_frame(client);
    client->buf = nullptr;
  } else {
    kvx_read_ws_frame(client);
    if (client->wss.frameStage == WS_FRAME_STAGE_COMPLETE) {
      completed = true;
      client->wss.frameStage = WS_FRAME_STAGE_INITIALIZED;
      client->wss.bytes = 0;
      client->lastReceivedData = kvx_get_time();
      switch (client->wss.op) {
        case WS_OP_BINARY:
          client->buf = client->wss.buf;
          kvx_read_frame(client);
          client->buf = nullptr;
          break;
        case WS_OP_CLOSE:
          if (!transport_output_backed_up(client)) kvx_write_ws_frame(WS_OP_CLOSE, client, nullptr);
          break;
        case WS_OP_PING:
          if (!transport_output_backed_up(client)) kvx_write_ws_frame(WS_OP_PONG, client, client->wss.buf);
          break;
        default:
          break;
      }
    }
  }
  size_t after = input ? evbuffer_get_length(input) : 0;
  return completed || after < before;
}
