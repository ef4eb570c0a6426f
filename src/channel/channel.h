// The browser channel of a session process: browser connections upgraded
// from "/get_te_channel" to WebSocket (or raw channel frames), the channel
// frames, sending them to one or all browsers, screen and cursor updates,
// each browser's view, prompts, and the channel's life in the session
// process (attach deadline, idle time-out).  This header gathers the
// channel's headers and declares that life; each part has its own:
//   channel_websocket.h  handshake, WebSocket frames, keep-alive
//   channel_frame.h      channel frames: encoding, building, reading
//   channel_client.h     a browser connection and the connection list
//   channel_transport.h  sending and receiving, blocking mode
//   channel_requests.h   connection callbacks and client actions
//   channel_prompts.h    the blocking prompts
//   channel_update.h     screen and cursor updates, flow control
//   channel_view.h       each browser's view, title and bell
#pragma once

#include "channel_actions.h"
#include "channel_client.h"
#include "channel_frame.h"
#include "channel_prompts.h"
#include "channel_requests.h"
#include "channel_transport.h"
#include "channel_update.h"
#include "channel_view.h"
#include "channel_websocket.h"

struct app_s;

// A session process that no browser attached to within this time, and that
// has no host connection, ends itself.
constexpr int kKvxAttachTimeout = 60;

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
