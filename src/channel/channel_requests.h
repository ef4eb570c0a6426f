// A browser connection's event callbacks and the client actions of normal
// operation.
#pragma once

#include <event2/bufferevent.h>

struct kvx_client_t;

void handle_socket_read(bufferevent* bev, void* client);
void handle_socket_write(bufferevent* bev, void* client);
void handle_socket_event(bufferevent* bev, short events, void* client);
// Acts on a connection's complete frame: refresh (the cursor, then the
// whole screen, to this browser), reconnect with the session's dictionary,
// a key to the active emulator (KVX_CLIENT_ACTION_ONKEY, the key code in 4
// data bytes, little-endian, keycodes.js), the capabilities the browser
// names; anything else is ignored.
void kvx_handle_client_requests(kvx_client_t* client);
