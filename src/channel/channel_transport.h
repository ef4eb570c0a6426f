// Channel transport: sending frames to one browser or to every browser of
// a session, receiving them, and the switch between the event loop's
// buffers and the blocking socket I/O that a prompt uses while it waits.
#pragma once

#include <event2/buffer.h>

#include <cstddef>

struct app_s;
struct kvx_client_t;

size_t kvx_read_full_block(kvx_client_t* client, void* buffer, size_t size);
size_t kvx_write_full_block(kvx_client_t* client, const void* buffer, size_t size);
// Writes a whole buffer without emptying it: by reference into the event
// loop's output, or copied to the socket in blocking mode.
void kvx_write_buffer(kvx_client_t* client, evbuffer* data);
void kvx_set_blocking_mode(app_s* app);
void kvx_unset_blocking_mode(app_s* app);
// A fatal error frame for every browser, written straight to the sockets
// without allocating: for a process about to end that has no memory left.
// Browsers with output still queued (a frame may be half written) and
// browsers over TLS are left out.
void kvx_channel_last_words(app_s* app, const char* text);

// A built frame to one browser, or to every browser of the session.
void kvx_send_buffer(kvx_client_t* client, evbuffer* frame);
void kvx_sendall_buffer(app_s* app, evbuffer* frame);
// One frame to one browser (none when `client` is null), or to every
// browser of the session; `fields` ends with a null entry (or is null).
void kvx_send(kvx_client_t* client, int action, const char* const* fields, const void* data, size_t dataSize);
void kvx_send_all(app_s* app, int action, const char* const* fields, const void* data, size_t dataSize);
// KVX_HOST_ACTION_CONNECTED (whether the host is connected) and
// KVX_HOST_ACTION_NOTICE to one browser, or to every browser when `client`
// is null.
void kvx_send_connected(app_s* app, kvx_client_t* client);
void kvx_send_notice(app_s* app, kvx_client_t* client, const char* kind, const char* text);

// Reads what is available; true when it consumed input.
bool kvx_recv(kvx_client_t* client);
