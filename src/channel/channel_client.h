// One browser connection of a session process: its socket, the frame being
// read, what it was sent (cursor, screen, its view of the scrollback), the
// capabilities it named, and the connection list of the session.
#pragma once

#include <event2/bufferevent.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "capabilities.h"
#include "channel_frame.h"
#include "channel_websocket.h"

struct app_s;

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
  app_s* app = nullptr;  // the session this browser is attached to
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
  bool init = false;            // the first writable event has been handled
  bool failed = false;          // broke a limit: to be closed
  bool screenSent = false;      // screen cells have gone to this browser (refresh or update)
  bool needScreen = false;      // fell behind: updates skipped, the whole screen is owed
  char peerAddr[16] = {};       // the browser's address and port, read while it is
  int peerPort = 0;             // connected, for the line written when it leaves
  kvx_capabilities_t caps = 0;  // the capabilities it named (KVX_CLIENT_ACTION_CAPABILITIES)
  kvx_view_t view;
};

struct bufev_conn_info {
  int fd;
  struct {
    char addr[16];
    int port;
  } peer_info;
};

// A browser connection of `app` on a socket it takes over (not yet in the
// session's list: kvx_add_client).
kvx_client_t* kvx_client_new(app_s* app, bufferevent* bev);
void kvx_client_free(kvx_client_t* client);
// Into its session's list, and out of it (freed); a session whose last
// browser leaves while no host is connected ends.
void kvx_add_client(kvx_client_t* client);
void kvx_remove_client(kvx_client_t* client);
bool bufferevent_get_info(bufferevent* bev, bufev_conn_info* info);

// Whether this browser named the capability when it attached: the one
// question the channel asks before it sends a form of a frame that a
// browser without the capability would not understand.
bool kvx_client_has(const kvx_client_t* client, KVX_CAPABILITY capability);