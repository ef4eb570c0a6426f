// The browser channel of a session process: browser connections upgraded
// from "/get_te_channel" to WebSocket (or raw channel frames), the frame
// reader and writer of both, the channel frames with their field encoding,
// sending to one or all browsers, the connection list, the keep-alive and
// the blocking mode that prompts switch on while they wait.
#pragma once

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <evhtp/evhtp.h>
#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "channel_actions.h"

struct app_s;

// ---- WebSocket ----

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

// Limits on what a browser may make this process buffer.  A connection that
// exceeds one is closed; the others carry on.
constexpr uint64_t kKvxMaxWsPayload = 1u << 20;
constexpr size_t kKvxMaxHeadBytes = 64u << 10;
constexpr uint64_t kKvxMaxFrameData = 1u << 20;
// Keep-alive: every tick, a WebSocket browser silent for this long is pinged.
constexpr int kKvxPingInterval = 10;
constexpr int kKvxPingAfter = 25;
// A session process that no browser attached to within this time, and that
// has no host connection, ends itself.
constexpr int kKvxAttachTimeout = 60;

// ---- channel frames ----
// Action numbers and their fields: channel_actions.h.


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

// What one browser shows beyond the cells it was sent: where its view of
// the scrollback stands, its rows' line attributes and the terminal state it
// was told.  Rows are numbered as the engine counts rows added to its
// scrollback: the saved row b rows above the live screen is number
// added - b, live row y is number added + y.
struct kvx_view_t {
  int told = 0;            // rows back as last told (0 = live)
  int64_t top = 0;         // number of the row shown at the top
  int64_t liveFrom = 0;    // rows from this number on were live-screen rows when sent
  bool stale = false;      // live rows changed while the view stood back
  int rows = 0, cols = 0;  // the screen size of what is shown
  bool stateTold = false;  // asked where its view stands: told of state changes from then on
  int keptTold = -1;       // rows kept, as last told
  bool wanted = false;     // asked to move while behind: to `wantTop` once caught up
  int64_t wantTop = 0;
  std::string modesTold;             // MODES fields as last sent
  std::vector<unsigned char> lines;  // line attributes as last sent, one per row
};

struct kvx_client_t {
  bufferevent* bev = nullptr;
  evbuffer* buf = nullptr;  // input of the frame reader: a WebSocket payload or the socket's input
  SSL* ssl = nullptr;       // blocking mode on a TLS listener
  int fd = 0;               // blocking mode only
  TE_CTRL_PROTOCOL proto = TE_CTRL;
  kvx_frame_t hf;
  ws_state_t wss;
  time_t lastReceivedData = 0;
  int lastCursorX = 0, lastCursorY = 0;
  int cursorVisbile = -1;
  bool init = false;        // the first writable event has been handled
  bool failed = false;      // broke a limit: to be closed
  bool screenSent = false;  // screen cells have gone to this browser (refresh or update)
  bool needScreen = false;  // fell behind: updates skipped, the whole screen is owed
  char peerAddr[16] = {};   // the browser's address and port, read while it is
  int peerPort = 0;         // connected, for the line written when it leaves
  kvx_view_t view;
};

struct bufev_conn_info {
  int fd;
  struct {
    char addr[16];
    int port;
  } peer_info;
};

// ---- handshake and WebSocket frames ----
void get_te_channel(evhtp_request_t* req, void* arg);
void kvx_read_ws_frame(kvx_client_t* client);
void kvx_write_ws_frame(int op, kvx_client_t* client, evbuffer* payload);
void kvx_start_ping_timer();
void kvx_stop_ping_timer();
void handle_ping_timer(evutil_socket_t fd, short events, void* arg);
char* lum_base64(const unsigned char* bytes, size_t length);
time_t kvx_get_time();
// The Sec-WebSocket-Accept value for a Sec-WebSocket-Key header value.
std::string kvx_ws_accept_key(const char* key);

// ---- channel frames ----
std::string kvx_encode_string(std::string_view text);
std::string kvx_decode_string(std::string_view text);
// Builds one frame; `fields` ends with a null entry (or is null).
void kvx_build_frame(evbuffer* out, int action, const char* const* fields, const void* data, size_t dataSize);
void kvx_send(kvx_client_t* client, int action, const char* const* fields, const void* data, size_t dataSize);
void kvx_send_all(int action, const char* const* fields, const void* data, size_t dataSize);
void kvx_send_buffer(kvx_client_t* client, evbuffer* frame);
void kvx_sendall_buffer(evbuffer* frame);
void kvx_send_connected(kvx_client_t* client);
// KVX_HOST_ACTION_NOTICE to one browser (null: every browser).
void kvx_send_notice(kvx_client_t* client, const char* kind, const char* text);

// Reads what is available; true when it consumed input.
bool kvx_recv(kvx_client_t* client);
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

// ---- connections ----
kvx_client_t* kvx_client_new(bufferevent* bev);
void kvx_client_free(kvx_client_t* client);
void kvx_add_client(kvx_client_t* client);
void kvx_remove_client(kvx_client_t* client);
bool bufferevent_get_info(bufferevent* bev, bufev_conn_info* info);

// ---- transport ----
size_t kvx_read_full_block(kvx_client_t* client, void* buffer, size_t size);
size_t kvx_write_full_block(kvx_client_t* client, const void* buffer, size_t size);
// Writes a whole buffer without emptying it: by reference into the event
// loop's output, or copied to the socket in blocking mode.
void kvx_write_buffer(kvx_client_t* client, evbuffer* data);
void kvx_set_blocking_mode();
void kvx_unset_blocking_mode();
// A fatal error frame for every browser, written straight to the sockets
// without allocating: for a process about to end that has no memory left.
// Browsers with output still queued (a frame may be half written) and
// browsers over TLS are left out.
void kvx_channel_last_words(const char* text);

// ---- connection events and client requests (requests.cpp) ----
void handle_socket_read(bufferevent* bev, void* client);
void handle_socket_write(bufferevent* bev, void* client);
void handle_socket_event(bufferevent* bev, short events, void* client);
// Acts on a connection's complete frame: refresh (the cursor, then the
// whole screen, to this browser), reconnect with the session's dictionary,
// a key to the active emulator (KVX_CLIENT_ACTION_ONKEY, the key code in 4
// data bytes, little-endian, keycodes.js); anything else is ignored.
void kvx_handle_client_requests(kvx_client_t* client);

// ---- prompts (prompts.cpp) ----
// The question goes to every browser; the first answer counts, whichever
// browser sends it.  What the browser answers:
//   entry   KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE, fields: the text (an empty
//           text travels as the single space of an empty field) and the
//           result: 0 cancelled, 1 accepted, 3 accepted with its save box
//           ticked (bit value 2 is the save flag).
//   yes/no  KVX_CLIENT_ACTION_GET_YESNO_RESPONSE, field: 1 yes, 0 no.
//   error   KVX_CLIENT_ACTION_ACK_FATAL_ERROR, no fields.
enum : int {
  KVX_ENTRY_CANCELLED = 0,
  KVX_ENTRY_ACCEPTED = 1,
  KVX_ENTRY_SAVE = 2,  // added to KVX_ENTRY_ACCEPTED
  KVX_YESNO_NO = 0,
  KVX_YESNO_YES = 1,
};
// A prompt that no browser answers within this many seconds ends as if
// every browser had left.
constexpr int kKvxPromptTimeLimit = 300;
// Tests shorten the limit (milliseconds; 0 or less restores the default).
void kvx_set_prompt_time_limit(int milliseconds);
// The entered text (the caller frees it) with *ret set to the result, or
// null without an answer (*ret untouched).
char* kvx_wingetentry(void* pgl, const char* title, bool isPassword, const char* msg, const char* saveMsg,
                      int* ret);
// The button number, 0 without an answer.
int kvx_showyesno(void* pgl, const char* title, const char* msg);
void kvx_showfatalerror(void* pgl, bool fatal, const char* msg);
// Makes the drawing layer's prompts (wingetentry, winshowyesno,
// winshowfatalerror) these.
void kvx_prompts_attach();

// ---- screen and cursor updates ----
// Pending output above which a browser gets no more updates until it has
// caught up below the low-water mark; it then gets the cursor and the whole
// screen.
constexpr size_t kKvxOutputHighWater = 4u << 20;
constexpr size_t kKvxOutputLowWater = 1u << 20;

struct te;
// The changed cells to one browser, or to all when `client` is null; clears
// the change record.
void kvx_send_region(app_s* app, kvx_client_t* client);
// The whole screen to one browser (the change record is left for the
// others), or to all when `client` is null.
void kvx_send_screen(app_s* app, kvx_client_t* client);
// The status and label lines (KVX_HOST_ACTION_LABELS) to one browser or,
// with a null client, every browser that is not behind; `onlyChanged`:
// only when they changed since they were last sent to all.
void kvx_send_labels(app_s* app, kvx_client_t* client, bool onlyChanged);
// The cursor of the active emulator to one browser, or to all.
void kvx_send_cursor_state(kvx_client_t* client);
void _kvx_send_cursor_state(kvx_client_t* client, int x, int y, int visible);
// Appends one update frame for the rectangle (inclusive) of `rows`, the
// row pointers by screen row, to `out`; false when the memory for it
// cannot be had.
bool kvx_build_update(te* t, const uint64_t* const* rows, int top, int left, int bottom, int right,
                      evbuffer* out);
// A cell as the browser draws it: the Unicode value in bits 32-62 and bit 63
// set (unchanged, bit 63 clear, without a TCS-to-Unicode table).
uint64_t get_unicode_chattr(te* t, uint64_t cell);
// printf into newly allocated text (free()).
char* fstr_create(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A browser's output has drained: owed screens go out, host reads resume.
void kvx_update_client_writable(kvx_client_t* client);
// Whether every browser is behind (and there is at least one).
bool kvx_all_clients_behind(app_s* app);
// Whether this browser is behind (now marked so when its output passed the
// high-water mark): it gets nothing more until it has caught up.
bool kvx_client_behind(kvx_client_t* client);
// Fills the session's channel seam with the operations above.
void kvx_update_attach(app_s* app);

// ---- this browser's view, title and bell (view.cpp) ----
// Moves this browser's view to n rows back (KVX_CLIENT_ACTION_SCROLLBACK).
void kvx_view_scroll(app_s* app, kvx_client_t* client, int n);
// True while the browser looks back at the scrollback.
bool kvx_view_is_back(const kvx_client_t* client);
// The whole view of a browser that looks back, or that asked to move while
// it was behind (after a refresh or when it caught up); false when it is
// live and asked for nothing.
bool kvx_view_send_whole(app_s* app, kvx_client_t* client);
// Live rows went to this browser (`whole`: the whole screen): its view
// stands at the live screen.
void kvx_view_live_sent(app_s* app, kvx_client_t* client, bool whole);
// Before a pass of screen updates: a new size (and the other modes) goes
// ahead of the cells drawn at it.
void kvx_view_before_update(app_s* app);
// After a pass of screen updates: views that look back learn how far back
// they now stand (the screen size or page changed: back to live); every
// browser that is not behind gets what changed of its line attributes,
// rows kept and modes.
void kvx_view_after_update(app_s* app);
// Line attributes, rows kept and modes that changed, to one browser.
void kvx_view_sync(app_s* app, kvx_client_t* client);
// A block-mode screen goes to this browser: a view that looked back is told
// it is live (there is no scrollback), and what it was told is forgotten so
// that character mode, should it come back, starts the view anew.
void kvx_view_block_mode(kvx_client_t* client);
void kvx_send_title(app_s* app, kvx_client_t* client);
void kvx_send_bell(app_s* app);

// A session no browser has been attached to for this long ends (0: never).
// Set before kvx_channel_start.
void kvx_set_idle_timeout(double seconds);
// Starts the idle clock when the last browser has gone, stops it when one
// attaches.
void kvx_idle_clock(app_s* app);

// Session-role start and end of the channel: the attach deadline.
void kvx_channel_start(app_s* app);
void kvx_channel_stop(app_s* app);
// Gives a session whose host has gone while no browser is attached the
// attach deadline again: it ends unless a browser comes within that time.
void kvx_arm_attach_deadline(app_s* app);
