// The WebSocket side of the channel: the "/get_te_channel" handshake and
// its two subprotocols, the resumable frame reader, the frame writer and the
// keep-alive ping.
#pragma once

#include <event2/buffer.h>
#include <evhtp/evhtp.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

struct app_s;
struct kvx_client_t;

enum TE_CTRL_PROTOCOL { TE_CTRL = 0, TE_CTRL_RAW = 1 };

enum WS_OP {
  WS_OP_CONTINUATION = 0,
  WS_OP_UTF8 = 1,
  WS_OP_BINARY = 2,
  WS_OP_CLOSE = 8,
  WS_OP_PING = 9,
  WS_OP_PONG = 10
};

enum WS_FRAME_STAGE {
  WS_FRAME_STAGE_INITIALIZED = 0,
  WS_FRAME_STAGE_READ_BITFIELD = 1,
  WS_FRAME_STAGE_READ_PARTIAL_LENGTH_FIELD = 2,
  WS_FRAME_STAGE_READ_FULL_LENGTH_FIELD = 3,
  WS_FRAME_STAGE_READ_HEADERS = 4,
  WS_FRAME_STAGE_COMPLETE = 5,
};

struct ws_state_t {
  WS_FRAME_STAGE frameStage = WS_FRAME_STAGE_INITIALIZED;
  size_t lengthFieldSize = 0;  // 1 for the 7-bit form, 2 or 8 for the extended forms
  size_t bytes = 0;            // bytes collected of the extended length or of the masking key
  bool eof = false;            // end of stream seen (blocking mode)
  bool finBit = false;
  int op = 0;
  evbuffer* buf = nullptr;  // unmasked payload of the current frame (owned)
  uint8_t mask[4] = {};
  int maskIndex = 0;
  uint64_t pendingData = 0;  // payload bytes still owed by the current frame
  uint8_t lengthField[8] = {};
};

// Largest WebSocket payload a browser may send; a connection that sends a
// larger one is closed, the others carry on.
constexpr uint64_t kKvxMaxWsPayload = 1u << 20;
// Keep-alive: every tick, a WebSocket browser silent for this long is pinged.
constexpr int kKvxPingInterval = 10;
constexpr int kKvxPingAfter = 25;

// The "/get_te_channel" route of the session role: upgrades the request and
// makes it a browser connection of the process's session.
void get_te_channel(evhtp_request_t* req, void* arg);
void kvx_read_ws_frame(kvx_client_t* client);
void kvx_write_ws_frame(int op, kvx_client_t* client, evbuffer* payload);
void kvx_start_ping_timer(app_s* app);
void kvx_stop_ping_timer(app_s* app);
// The ping timer's callback; `arg` is the session.
void handle_ping_timer(evutil_socket_t fd, short events, void* arg);
char* lum_base64(const unsigned char* bytes, size_t length);
time_t kvx_get_time();
// The Sec-WebSocket-Accept value for a Sec-WebSocket-Key header value.
std::string kvx_ws_accept_key(const char* key);
