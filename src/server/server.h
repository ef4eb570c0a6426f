// The program of both roles: command line, listener, TLS set-up, routes,
// signals and child reaping.
#pragma once

#include <evhtp/evhtp.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "policy.h"

struct app_s;

// Smallest open-file bound a session process may be given: its listener,
// the host, a few browsers and the libraries' own descriptors.
constexpr long kKvxMinSessionFiles = 32;

// The command line beyond the options every role reads into the session
// object (port, address, certificates).
struct kvx_options_t {
  int maxSessions = 1000;                        // live session processes of the server
  int maxSessionsPerClient = 64;                 // live session processes started by one client address
  std::vector<kvx_policy_range> trustedProxies;  // whose X-Forwarded-For names the client
  double idleSeconds = 60 * 60;                  // a session without a browser this long ends; 0 never
  long sessionMemoryMiB = 1024;                  // address-space bound of a session process; 0 none
  long sessionFiles = 256;                       // open-file bound of a session process; 0 none
  rlim_t shellFiles = RLIM_INFINITY;             // the open-file limit the server was started with
  int stopSeconds = 10;                          // a clean stop ends within this bound
  std::string recordDir;               // recordings of the sessions go here (absolute); empty = none
  std::string instance;                // this instance's name, carried by its session identifiers
  bool exposeSessions = false;         // session processes listen on the bind address, not on 127.0.0.1
  int statsFd = -1;                    // session role: the server's counters page
  std::vector<std::string> childArgs;  // options passed on to session processes as given
  uint32_t traceMask = 0;              // --trace: categories traced besides "print" and "fail"
  std::string traceFile;               // --trace-file: the trace goes to this file too (absolute)
};
kvx_options_t& kvx_options();

int winmainloop(void* pgl, int argc, char** argv);
// Builds the event base and listener of the role, runs the loop, tears down.
// Returns the process exit status.
int listen();
[[noreturn]] void print_help(const char* programPath);
void setup_te_trace();
void handle_shutdown(evutil_socket_t signal, short events, void* arg);
void handle_child_shutdown(evutil_socket_t signal, short events, void* arg);
evhtp_res post_accept(evhtp_connection_t* connection, void* arg);
int kvx_getpid();
// Stops a draining server once no session and no loopback request is left.
void kvx_stop_when_drained(app_s* app);
