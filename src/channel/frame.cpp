// Channel frames: field encoding, building a frame (whole, or with its data
// written in place), and the resumable reader of a frame's head and data
// from a buffer or, in blocking mode on a raw connection, straight from the
// socket.
#include <cstdlib>
#include <cstring>

#include "app.h"
#include "channel.h"
#include "recording.h"

static bool frame_needs_escape(unsigned char c) {
  return c == '%' || c < 0x20 || c >= 0x7F;
}

std::string kvx_encode_string(std::string_view text) {
  if (text.empty()) return " ";
  static const char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (frame_needs_escape(c)) {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

static int frame_hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A "%" without two hexadecimal digits after it is kept as it is.
std::string kvx_decode_string(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int hi = frame_hex(text[i + 1]), lo = frame_hex(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// What the browsers are shown, the recording shows too.
static void frame_record(app_s* app, int action, const char* const* fields, const void* data,
                         size_t dataSize) {
  if (!app) return;
  if (action == KVX_HOST_ACTION_UPDATE && fields && fields[0])
    kvx_record_update(app, fields[0], data, data ? dataSize : 0);
  else if (action == KVX_HOST_ACTION_SET_CURSOR && fields && fields[0] && fields[1])
    kvx_record_cursor(app, fields[0], strcmp(fields[1], "1") == 0);
}

// Everything of a frame up to its data.
static void frame_head(evbuffer* out, int action, const char* const* fields, size_t dataSize) {
  evbuffer_add_printf(out, "KVX 1.0\n%d\n", action);
  for (const char* const* f = fields; f && *f; f++) {
    std::string line = kvx_encode_string(*f);
    line.push_back('\n');
    evbuffer_add(out, line.data(), line.size());
  }
  evbuffer_add_printf(out, "\n%zu\n", dataSize);
}

void kvx_build_frame(app_s* app, evbuffer* out, int action, const char* const* fields, const void* data,
                     size_t dataSize) {
  frame_record(app, action, fields, data, dataSize);
  if (!data) dataSize = 0;
  frame_head(out, action, fields, dataSize);
  if (dataSize) evbuffer_add(out, data, dataSize);
}

uint8_t* kvx_frame_reserve(evbuffer* out, int action, const char* const* fields, size_t dataSize,
                           evbuffer_iovec* room) {
  frame_head(out, action, fields, dataSize);
  if (evbuffer_reserve_space(out, static_cast<ev_ssize_t>(dataSize), room, 1) != 1 ||
      room->iov_len < dataSize)
    return nullptr;
  return static_cast<uint8_t*>(room->iov_base);
}

void kvx_frame_commit(app_s* app, evbuffer* out, int action, const char* const* fields, size_t dataSize,
                      evbuffer_iovec* room) {
  frame_record(app, action, fields, room->iov_base, dataSize);
  room->iov_len = dataSize;
  evbuffer_commit_space(out, room, 1);
}

void kvx_frame_init(kvx_frame_t* frame) {
  *frame = kvx_frame_t{};
  frame->hdr.fields.reserve(10);
  frame->init = true;
}

void kvx_frame_free(kvx_frame_t* frame) {
  *frame = kvx_frame_t{};
}

void kvx_frame_add_hdr(kvx_frame_t* frame, std::string line) {
  if (!frame->init) return;
  frame->hdr.fields.push_back(std::move(line));
}

void kvx_frame_clear(kvx_client_t* client) {
  kvx_frame_free(&client->hf);
  kvx_frame_init(&client->hf);
}

bool kvx_has_data(const kvx_client_t* client) {
  return client->hf.parsedHeaders && client->hf.dataSize == client->hf.hdr.dataSize;
}

bool kvx_eof(const kvx_client_t* client) {
  return client->wss.eof || client->hf.eof;
}

int kvx_frame_get_action(const kvx_client_t* client) {
  return client->hf.parsedHeaders ? client->hf.hdr.action : KVX_ACTION_UNDEF;
}

const char* kvx_frame_get_hdr(const kvx_client_t* client, size_t i) {
  const auto& f = client->hf.hdr.fields;
  return i < f.size() ? f[i].c_str() : nullptr;
}

// A decimal number made of digits only; false for anything else.
static bool frame_number(const std::string& text, uint64_t limit, uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > limit) {
      *value = v;
      return true;
    }
  }
  *value = v;
  return true;
}

// Takes one LF-terminated line from the buffer input; false while none is
// complete.  Breaks the head limit by marking the connection failed.
static bool frame_take_line(kvx_client_t* client, std::string* line) {
  kvx_frame_t& hf = client->hf;
  evbuffer_ptr eol = evbuffer_search_eol(client->buf, nullptr, nullptr, EVBUFFER_EOL_LF);
  size_t available = evbuffer_get_length(client->buf);
  size_t needed = eol.pos < 0 ? available : static_cast<size_t>(eol.pos) + 1;
  if (hf.headBytes + needed > kKvxMaxHeadBytes) {
    client->failed = true;
    return false;
  }
  if (eol.pos < 0) return false;
  line->resize(static_cast<size_t>(eol.pos));
  evbuffer_remove(client->buf, line->data(), line->size());
  evbuffer_drain(client->buf, 1);
  hf.headBytes += needed;
  return true;
}

// Blocking mode on a raw connection: one line straight from the socket, a
// byte at a time so that nothing past the line is taken.
static bool frame_read_socket_line(kvx_client_t* client, std::string* line) {
  kvx_frame_t& hf = client->hf;
  line->clear();
  for (;;) {
    char c;
    if (kvx_read_full_block(client, &c, 1) != 1) {
      if (hf.err == 0) hf.eof = true;
      return false;
    }
    if (c == '\n') return true;
    if (hf.headBytes++ >= kKvxMaxHeadBytes) {
      client->failed = true;
      return false;
    }
    line->push_back(c);
  }
}

bool kvx_read_headers(kvx_client_t* client) {
  kvx_frame_t& hf = client->hf;
  if (!hf.init) kvx_frame_init(&hf);
  if (hf.parsedHeaders) return true;
  if (client->failed) return false;
  auto& fields = hf.hdr.fields;
  std::string line;
  auto take = [&](std::string* out) {
    return client->buf ? frame_take_line(client, out) : frame_read_socket_line(client, out);
  };
  // Head lines up to and including the empty line, then the length line.
  if (fields.empty() || !fields.back().empty()) {
    for (;;) {
      if (!take(&line)) return false;
      kvx_frame_add_hdr(&hf, kvx_decode_string(line));
      if (fields.back().empty()) break;
    }
  }
  if (!take(&line)) return false;
  kvx_frame_add_hdr(&hf, kvx_decode_string(line));
  hf.parsedHeaders = true;
  uint64_t action = 0, length = 0;
  bool ok = fields.size() >= 3 && frame_number(fields[1], 1000000, &action) && action <= 1000000 &&
            frame_number(fields.back(), kKvxMaxFrameData, &length);
  if (!ok) {
    // Discarded: the frame completes at once with no action and no data.
    hf.invalid = true;
    hf.hdr.action = KVX_ACTION_UNDEF;
    hf.hdr.dataSize = 0;
    return true;
  }
  if (length > kKvxMaxFrameData) {
    client->failed = true;
    hf.hdr.action = KVX_ACTION_UNDEF;
    hf.hdr.dataSize = 0;
    return true;
  }
  hf.hdr.action = static_cast<int>(action);
  hf.hdr.dataSize = static_cast<size_t>(length);
  return true;
}

bool kvx_read_frame(kvx_client_t* client) {
  kvx_frame_t& hf = client->hf;
  if (!kvx_read_headers(client)) return false;
  if (hf.dataSize < hf.hdr.dataSize) {
    if (hf.data.size() != hf.hdr.dataSize) hf.data.resize(hf.hdr.dataSize);
    size_t missing = hf.hdr.dataSize - hf.dataSize;
    if (client->buf) {
      int n = evbuffer_remove(client->buf, hf.data.data() + hf.dataSize, missing);
      if (n > 0) hf.dataSize += static_cast<size_t>(n);
    } else {
      size_t n = kvx_read_full_block(client, hf.data.data(), hf.hdr.dataSize);
      hf.dataSize = n;
      if (n < hf.hdr.dataSize && hf.err == 0) hf.eof = true;
    }
  }
  return hf.dataSize == hf.hdr.dataSize;
}
