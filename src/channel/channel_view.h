// Each browser's own view: where it looks back in the scrollback, the line
// attributes of the rows it shows, the terminal state it must know, the
// host's title and the bell.
#pragma once

struct app_s;
struct kvx_client_t;

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
// The host's title to one browser, or to every browser when `client` is null.
void kvx_send_title(app_s* app, kvx_client_t* client);
void kvx_send_bell(app_s* app);
