// Fuzz target of the browser channel's readers, without sockets: arbitrary
// bytes go into the input buffer of a browser connection and are worked
// off frame by frame as a readable socket would be.  Built twice: as
// fuzz-websocket (teCtrl: WebSocket frames carrying channel frames, with
// the pings, pongs and closes they cause) and as fuzz-channel-frame
// (teCtrlRaw: channel frames straight on the stream).
//
// The input is fed once whole and once cut into reads of varying sizes;
// both runs must see the same frames, write the same bytes and fail (break
// a limit) alike.  After every read the reader's state stays within its
// limits.
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app.h"
#include "channel.h"
#include "tetrace.h"

#ifndef KVX_FUZZ_RAW
#define KVX_FUZZ_RAW 0
#endif

namespace {

void require(bool ok) {
  if (!ok) abort();
}

struct Frame {
  int action;
  bool invalid;
  std::vector<std::string> fields;
  std::vector<uint8_t> data;
  bool operator==(const Frame& o) const {
    return action == o.action && invalid == o.invalid && fields == o.fields && data == o.data;
  }
};

struct Run {
  std::vector<Frame> frames;
  std::string written;
  bool failed = false;
};

event_base* fuzz_base() {
  static event_base* base = [] {
    TE_Trace_SetMask(0);
    app_s* app = app_main_initialize();
    set_app(app);
    app->host_mode = 1;
    app->evbase = event_base_new();
    return app->evbase;
  }();
  return base;
}

void check(const kvx_client_t* c) {
  const kvx_frame_t& hf = c->hf;
  require(hf.headBytes <= kKvxMaxHeadBytes);
  require(hf.data.size() <= kKvxMaxFrameData);
  if (hf.parsedHeaders) {
    require(hf.hdr.dataSize <= kKvxMaxFrameData && hf.dataSize <= hf.hdr.dataSize);
    require(hf.hdr.fields.size() >= 2 || hf.invalid);
  } else {
    require(hf.dataSize == 0);
  }
  size_t text = 0;
  for (const std::string& f : hf.hdr.fields) text += f.size() + 1;
  require(text <= kKvxMaxHeadBytes);
  const ws_state_t& w = c->wss;
  require(w.frameStage >= WS_FRAME_STAGE_INITIALIZED && w.frameStage <= WS_FRAME_STAGE_COMPLETE);
  require(w.lengthFieldSize == 0 || w.lengthFieldSize == 1 || w.lengthFieldSize == 2 ||
          w.lengthFieldSize == 8);
  require(w.bytes <= 8);
  require(c->failed || w.pendingData <= kKvxMaxWsPayload);
  require(evbuffer_get_length(w.buf) <= kKvxMaxWsPayload);
}

// What a readable socket causes: every complete frame is taken and
// cleared, until the reader has nothing more to take or the connection
// broke a limit.
void work_off(kvx_client_t* c, Run& run) {
  while (kvx_recv(c)) {
    check(c);
    if (c->failed) break;
    if (kvx_has_data(c)) {
      const kvx_frame_t& hf = c->hf;
      Frame f{hf.hdr.action, hf.invalid, hf.hdr.fields, hf.data};
      if (!f.invalid) require(f.fields.size() >= 3 && f.data.size() == hf.hdr.dataSize);
      run.frames.push_back(std::move(f));
      require(run.frames.size() <= 1 + 4 * (size_t)kKvxMaxHeadBytes);
      kvx_frame_clear(c);
    }
  }
  check(c);
  run.failed = c->failed;
  evbuffer* out = bufferevent_get_output(c->bev);
  size_t n = evbuffer_get_length(out);
  std::string bytes(n, '\0');
  require(evbuffer_remove(out, bytes.data(), n) == static_cast<int>(n));
  run.written += bytes;
}

Run feed(const uint8_t* data, size_t size, size_t step) {
  bufferevent* bev = bufferevent_socket_new(fuzz_base(), -1, 0);
  require(bev != nullptr);
  bufferevent_disable(bev, EV_READ | EV_WRITE);
  kvx_client_t* c = kvx_client_new(gApp, bev);
  c->proto = KVX_FUZZ_RAW ? TE_CTRL_RAW : TE_CTRL;
  Run run;
  // The ends of a buffered socket's buffers that face the socket are closed
  // to everyone else; here the input takes what a read would have brought
  // and the output gives up what a write would have sent.
  evbuffer* in = bufferevent_get_input(bev);
  evbuffer_unfreeze(in, 0);
  evbuffer_unfreeze(bufferevent_get_output(bev), 1);
  for (size_t pos = 0; pos < size && !run.failed; pos += step) {
    require(evbuffer_add(in, data + pos, std::min(step, size - pos)) == 0);
    work_off(c, run);
    // Output stays proportionate to input: pongs echo what pings carried.
    require(run.written.size() <= 2 * (pos + step) + 16);
  }
  kvx_client_free(c);
  // The event library releases a freed buffered socket from its loop.
  event_base_loop(fuzz_base(), EVLOOP_NONBLOCK);
  return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t step = 1 + data[0] % 97;
  Run whole = feed(data + 1, size - 1, size);
  Run split = feed(data + 1, size - 1, step);
  require(whole.failed == split.failed && whole.frames == split.frames && whole.written == split.written);
  return 0;
}
