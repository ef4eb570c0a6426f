// Channel frames: the field encoding, building a frame (whole, or with its
// data written in place) and the resumable reader of a frame's head and
// data.  Action numbers and their fields: channel_actions.h.
#pragma once

#include <event2/buffer.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "channel_actions.h"

struct app_s;
struct kvx_client_t;

// Limits on what a browser may make this process buffer.  A connection that
// exceeds one is closed; the others carry on.
constexpr size_t kKvxMaxHeadBytes = 64u << 10;
constexpr uint64_t kKvxMaxFrameData = 1u << 20;

// The parsed head: every decoded line in order, including the version line
// (fields[0]), the action line (fields[1]), the empty line and the length
// line (last).
struct kvx_hdrs_t {
  int action = KVX_ACTION_UNDEF;
  std::vector<std::string> fields;
  size_t dataSize = 0;
};

struct kvx_frame_t {
  bool init = false;
  bool parsedHeaders = false;
  bool invalid = false;  // action or length is not a number: the frame is discarded
  kvx_hdrs_t hdr;
  std::vector<uint8_t> data;  // sized to the announced length once the head is in
  size_t dataSize = 0;        // data bytes received so far
  size_t headBytes = 0;       // bytes of the head taken so far
  int err = 0;
  bool eof = false;
};

std::string kvx_encode_string(std::string_view text);
std::string kvx_decode_string(std::string_view text);

// Appends one frame to `out`; `fields` ends with a null entry (or is null).
// Update and cursor frames are what the session's recording (recording.h)
// shows: `app` is the session they go to (null: not recorded).
void kvx_build_frame(app_s* app, evbuffer* out, int action, const char* const* fields, const void* data,
                     size_t dataSize);
// A frame whose data the caller writes in place: appends the head for
// `dataSize` bytes (at least one) and returns room for them at the end of
// `out` (unaligned), or null when the memory cannot be had (`out` then holds
// the head alone).  kvx_frame_commit completes the frame; between the two
// nothing else may touch `out`.
uint8_t* kvx_frame_reserve(evbuffer* out, int action, const char* const* fields, size_t dataSize,
                           evbuffer_iovec* room);
void kvx_frame_commit(app_s* app, evbuffer* out, int action, const char* const* fields, size_t dataSize,
                      evbuffer_iovec* room);

// The reader, on the connection's input (a WebSocket payload or the
// socket's input, or the socket itself in blocking mode on a raw
// connection).
bool kvx_read_headers(kvx_client_t* client);
bool kvx_read_frame(kvx_client_t* client);
bool kvx_has_data(const kvx_client_t* client);
bool kvx_eof(const kvx_client_t* client);
int kvx_frame_get_action(const kvx_client_t* client);
const char* kvx_frame_get_hdr(const kvx_client_t* client, size_t i);
void kvx_frame_init(kvx_frame_t* frame);
void kvx_frame_free(kvx_frame_t* frame);
void kvx_frame_add_hdr(kvx_frame_t* frame, std::string line);
void kvx_frame_clear(kvx_client_t* client);
