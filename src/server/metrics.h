// The server's own counters and what it adds up from its session
// processes' counter pages: "/metrics" in the Prometheus text format and
// "/healthz".
#pragma once

#include <evhtp/evhtp.h>

#include <cstdint>

struct kvx_session_t;

// Why a "/new_session" started no session.
enum KVX_START_FAILURE {
  KVX_START_TOO_MANY = 0,         // the server's cap
  KVX_START_TOO_MANY_CLIENT = 1,  // the client's cap
  KVX_START_SPAWN = 2,            // no process could be started
  KVX_START_EXITED = 3,           // the process ended before it reported
  KVX_START_NO_REPORT = 4,        // the process did not report in time
  KVX_START_STOPPING = 5,         // the server is stopping
  KVX_START_FAILURES = 6,
};

void kvx_metrics_start_failed(KVX_START_FAILURE reason);
void kvx_metrics_session_started();
// A session process has been reaped with this wait status: its counters
// join the totals and its exit is counted by reason.
void kvx_metrics_session_ended(kvx_session_t* session, int waitStatus);

void metrics(evhtp_request_t* req, void* arg);
void healthz(evhtp_request_t* req, void* arg);
