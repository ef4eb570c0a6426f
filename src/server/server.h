// The program of both roles: command line, listener, TLS set-up, routes,
// signals and child reaping.
#pragma once

#include <evhtp/evhtp.h>

struct app_s;

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
