// Counters of a session process for the server's metrics.  The server gives
// each session process a page of memory shared with it (a memory file
// passed as a descriptor at start); the session writes its counters there
// as they change, and the server reads them when asked for its metrics and
// once more when the process has ended.  Nothing is locked: every counter
// has one writer, and a reader only ever loads whole 64-bit words.
#pragma once

#include <cstdint>

// Why a session process ended, written by the process just before.
enum KVX_EXIT_REASON : uint64_t {
  KVX_EXIT_UNKNOWN = 0,
  KVX_EXIT_SHUTDOWN = 1,       // "/shutdown_session"
  KVX_EXIT_IDLE = 2,           // no browser for the idle time-out
  KVX_EXIT_UNATTACHED = 3,     // no browser came within the attach deadline
  KVX_EXIT_BROWSERS_LEFT = 4,  // the last browser left while no host was connected
  KVX_EXIT_OUT_OF_MEMORY = 5,  // the address-space bound was reached
  KVX_EXIT_SIGNAL = 6,         // a stop signal
  KVX_EXIT_REASONS = 7,
};

// Connection kinds counted, in the order of the kind bits of policy.h.
constexpr int kKvxStatsKinds = 5;

struct kvx_stats_t {
  uint64_t magic;
  uint64_t hostBytes;     // bytes read from hosts
  uint64_t browserBytes;  // bytes sent to browsers
  uint64_t browsers;      // browsers attached now
  uint64_t attaches;      // browsers that attached
  uint64_t connects[kKvxStatsKinds];
  uint64_t refusedKind;  // connects refused: kind not allowed
  uint64_t refusedHost;  // connects refused: host or port not allowed
  uint64_t exitReason;   // KVX_EXIT_REASON
  // Written by the server before the session starts: the session's
  // identifier, which is its secret and so stays off its command line
  // (anyone on the machine can read that).
  char sessionId[64];
};

constexpr uint64_t kKvxStatsMagic = 0x4b56585354415431ull;  // "KVXSTAT1"
constexpr int kKvxStatsSize = 4096;

// The counters of this process: the shared page once attached, otherwise
// a private record, so that writers never need to check.
kvx_stats_t* kvx_stats();
// Session role: maps the page behind `fd` (and closes it); false when it
// cannot be mapped (the private record stays in use).
bool kvx_stats_attach(int fd);

inline void kvx_stats_add(uint64_t* counter, uint64_t n) {
  __atomic_fetch_add(counter, n, __ATOMIC_RELAXED);
}
inline void kvx_stats_set(uint64_t* counter, uint64_t v) {
  __atomic_store_n(counter, v, __ATOMIC_RELAXED);
}
inline uint64_t kvx_stats_get(const uint64_t* counter) {
  return __atomic_load_n(counter, __ATOMIC_RELAXED);
}
// A connect of the given kind bit (policy.h) is made.
void kvx_stats_count_connect(uint32_t kind);

// Server role: a new page for one session process, its descriptor in
// `*fd` (close-on-exec; the caller closes it once the child has it);
// null when none can be made.  kvx_stats_release unmaps it.
kvx_stats_t* kvx_stats_create(int* fd);
void kvx_stats_release(kvx_stats_t* stats);
