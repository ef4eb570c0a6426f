// The channel relay on the server's port (see relay.cpp).
#pragma once

#include <evhtp/evhtp.h>

#include <cstddef>

// What the relay holds for one side before it stops reading the other, and
// how far that must drain before it reads again.
constexpr size_t kKvxRelayHighWater = 256u << 10;
constexpr size_t kKvxRelayLowWater = 64u << 10;
// Seconds a side has to take what is still on its way once the other has
// ended.
constexpr int kKvxRelayDrainSeconds = 10;

// "/get_te_channel" in the server role.
void relay_channel(evhtp_request_t* req, void* arg);
// Relays open now.
size_t kvx_relay_count();
// Closes every relay (process teardown).
void kvx_relay_teardown();
