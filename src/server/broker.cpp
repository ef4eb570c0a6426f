// Session broker: the server's table of session processes, session
// identifiers, starting a child per "/new_session" and holding the request
// until the child reports its port, listing sessions, and the session
// role's "/shutdown_session" and report.
#include "broker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "app.h"
#include "channel.h"
#include "http.h"
#include "localconnection.h"
#include "metrics.h"
#include "policy.h"
#include "server.h"
#include "stats.h"
#include "tetrace.h"

// "Kavrix" in the working directory when it is there (a development tree),
// else the program that runs now, wherever it was installed.
const char* _get_kavrix_exe_path() {
  return access("Kavrix", F_OK) == 0 ? "Kavrix" : "/proc/self/exe";
}

// ---- the session table ----

kvx_session_t* kvx_session_new() {
  kvx_session_t* s = new kvx_session_t;
  gApp->kvx_sessions.push_back(s);
  return s;
}

static evhtp_res broker_held_request_fini(evhtp_request_t*, void* arg) {
  static_cast<kvx_session_t*>(arg)->req = nullptr;
  return EVHTP_RES_OK;
}

// Hands the held "/new_session" request to the caller, who answers it.
static evhtp_request_t* broker_take_request(kvx_session_t* s) {
  evhtp_request_t* req = s->req;
  if (req) evhtp_request_unset_hook(req, evhtp_hook_on_request_fini);
  s->req = nullptr;
  if (s->reportTimer) {
    event_free(s->reportTimer);
    s->reportTimer = nullptr;
  }
  return req;
}

void kvx_session_free(kvx_session_t* s) {
  if (!s) return;
  broker_take_request(s);
  kvx_stats_release(s->stats);
  auto& list = gApp->kvx_sessions;
  auto it = std::find(list.begin(), list.end(), s);
  if (it != list.end()) list.erase(it);
  delete s;
}

kvx_session_t* kvx_session_find(const char* sessionId) {
  if (!sessionId) return nullptr;
  for (kvx_session_t* s : gApp->kvx_sessions)
    if (s->sessionId == sessionId) return s;
  return nullptr;
}

void kvx_session_reaped(int pid, int waitStatus) {
  auto& list = gApp->kvx_sessions;
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    kvx_session_t* s = *it;
    if (s->pid != pid) continue;
    if (evhtp_request_t* req = broker_take_request(s)) {
      if (!s->killedUnreported) kvx_metrics_start_failed(KVX_START_EXITED);
      send_json_response(req, nullptr, KVX_STATUS_SESSION_INIT_FAIL,
                         "session process ended before reporting");
    }
    kvx_metrics_session_ended(s, waitStatus);
    kvx_session_free(s);
    return;
  }
}

void broker_teardown(app_s* app) {
  while (!app->kvx_sessions.empty()) {
    kvx_session_t* s = app->kvx_sessions.back();
    // A "/new_session" still waiting for its session's report when the
    // server ends (a stop whose bound ran out) gets no answer any more: its
    // connection goes with the process, freed rather than left behind.
    if (evhtp_request_t* req = broker_take_request(s))
      if (evhtp_connection_t* conn = evhtp_request_get_connection(req)) evhtp_connection_free(conn);
    kvx_session_free(s);
  }
}

// ---- identifiers ----

static int counter = 0;

// SHA-1 over a text that holds the time, 16 bytes from the cryptographic
// generator and a process-wide counter, as 40 lowercase hexadecimal digits,
// after the instance name and a '-' when the server has a name.
char* gen_session_id() {
  unsigned char noise[16];
  // The kernel's generator stands in when the library's is unavailable.
  if (RAND_bytes(noise, sizeof noise) != 1 &&
      getrandom(noise, sizeof noise, 0) != static_cast<ssize_t>(sizeof noise))
    return nullptr;
  char hexNoise[33];
  for (int i = 0; i < 16; i++) snprintf(hexNoise + 2 * i, 3, "%02x", noise[i]);
  char text[128];
  int n =
      snprintf(text, sizeof text, "q7wplank%ld%s%d", static_cast<long>(time(nullptr)), hexNoise, counter++);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(text, static_cast<size_t>(n), digest, &len, EVP_sha1(), nullptr) != 1 || len != 20)
    return nullptr;
  // "<instance>-" ahead of the digits, so that a proxy can route every
  // request of a session to the instance that owns it.
  const std::string& instance = kvx_options().instance;
  const size_t prefix = instance.empty() ? 0 : instance.size() + 1;
  char* id = static_cast<char*>(malloc(prefix + 41));
  if (!id) return nullptr;
  if (prefix) snprintf(id, prefix + 1, "%s-", instance.c_str());
  for (int i = 0; i < 20; i++) snprintf(id + prefix + 2 * i, 3, "%02x", digest[i]);
  return id;
}

// ---- "/new_session" ----

static void broker_report_timeout(evutil_socket_t, short, void* arg) {
  kvx_session_t* s = static_cast<kvx_session_t*>(arg);
  evhtp_request_t* req = broker_take_request(s);
  if (req) {
    TE_Trace(TRACE_FAIL, "Session process [%d] did not report within %d seconds, ending it.\n", s->pid,
             kKvxReportTimeout);
    kvx_metrics_start_failed(KVX_START_NO_REPORT);
    send_json_response(req, nullptr, KVX_STATUS_SESSION_INIT_FAIL, "session process did not report");
  }
  s->killedUnreported = true;
  // The record goes when the child is reaped.
  kill(s->pid, SIGKILL);
}

// ---- caps ----

// The client a "/new_session" counts against: the connection's peer, or,
// when the peer is a trusted proxy, the client named in X-Forwarded-For:
// walking it from the right, the first address that is not itself a
// trusted proxy.  IPv6 clients count by their /64 network, which one
// machine usually has whole.
static std::string broker_client_of(evhtp_request_t* req) {
  kvx_policy_range peer;
  bool havePeer = false;
  evhtp_connection_t* conn = evhtp_request_get_connection(req);
  if (conn && conn->saddr) {
    char text[INET6_ADDRSTRLEN] = "";
    if (conn->saddr->sa_family == AF_INET)
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(conn->saddr)->sin_addr, text, sizeof text);
    else if (conn->saddr->sa_family == AF_INET6)
      inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(conn->saddr)->sin6_addr, text, sizeof text);
    havePeer = kvx_policy_parse_address(text, &peer);
  }
  const auto& proxies = kvx_options().trustedProxies;
  kvx_policy_range client = peer;
  if (havePeer && kvx_policy_ranges_contain(proxies, peer)) {
    const char* forwarded = evhtp_header_find(req->headers_in, "X-Forwarded-For");
    std::string list = forwarded ? forwarded : "";
    while (!list.empty()) {
      size_t comma = list.rfind(',');
      std::string item = list.substr(comma == std::string::npos ? 0 : comma + 1);
      list.resize(comma == std::string::npos ? 0 : comma);
      item.erase(0, item.find_first_not_of(" \t"));
      item.erase(item.find_last_not_of(" \t") + 1);
      kvx_policy_range a;
      if (!kvx_policy_parse_address(item, &a)) break;
      client = a;
      if (!kvx_policy_ranges_contain(proxies, a)) break;
    }
  }
  if (!havePeer) return "unknown";
  if (client.family == AF_INET6) {
    client.prefix = 64;
    memset(client.addr + 8, 0, 8);
    return kvx_policy_address_text(client) + "/64";
  }
  return kvx_policy_address_text(client);
}

// Refusals are logged once per client and minute, not once per request.
static void broker_log_refusal(const std::string& client, int live, int ofClient) {
  static std::map<std::string, time_t> lastLogged;
  const time_t now = time(nullptr);
  if (lastLogged.size() > 4096) {
    for (auto it = lastLogged.begin(); it != lastLogged.end();)
      it = now - it->second >= 60 ? lastLogged.erase(it) : std::next(it);
  }
  auto it = lastLogged.find(client);
  if (it != lastLogged.end() && now - it->second < 60) return;
  lastLogged[client] = now;
  const kvx_options_t& o = kvx_options();
  TE_Trace(
      TRACE_FAIL,
      "[%d] - Too many sessions: refusing new sessions of [%s] (%d live of at most %d, %d of this client "
      "of at most %d).\n",
      kvx_getpid(), client.c_str(), live, o.maxSessions, ofClient, o.maxSessionsPerClient);
}

// True (the request answered) when a cap refuses the session.
static bool broker_over_cap(evhtp_request_t* req, const std::string& client) {
  const kvx_options_t& o = kvx_options();
  const int live = static_cast<int>(gApp->kvx_sessions.size());
  int ofClient = 0;
  for (const kvx_session_t* s : gApp->kvx_sessions) ofClient += s->client == client;
  if (live < o.maxSessions && ofClient < o.maxSessionsPerClient) return false;
  kvx_metrics_start_failed(live >= o.maxSessions ? KVX_START_TOO_MANY : KVX_START_TOO_MANY_CLIENT);
  broker_log_refusal(client, live, ofClient);
  send_json_response(req, nullptr, KVX_STATUS_TOO_MANY_SESSIONS);
  return true;
}

// ---- "/new_session" ----

// In the child before the exec: the counters page becomes descriptor 3 and
// every other descriptor above standard error is closed, so that no socket
// of the server leaks into the session process.
static void broker_close_inherited(int statsFd) {
  int first = 3;
  if (statsFd >= 0) {
    if (statsFd != 3) dup2(statsFd, 3);
    fcntl(3, F_SETFD, 0);
    first = 4;
  }
#ifdef SYS_close_range
  if (syscall(SYS_close_range, static_cast<unsigned>(first), ~0u, 0u) == 0) return;
#endif
  long max = sysconf(_SC_OPEN_MAX);
  for (long fd = first; fd < (max > 0 ? max : 1024); fd++) close(static_cast<int>(fd));
}

// In the child before the exec: the session process's own bounds (soft
// limits only, so that its shell can be given the server's back).  The
// sanitizers reserve terabytes of address space: no address-space bound
// there.
static void broker_limit_child() {
  const kvx_options_t& o = kvx_options();
  struct rlimit r;
#if !defined(__SANITIZE_ADDRESS__)
  if (o.sessionMemoryMiB > 0 && getrlimit(RLIMIT_AS, &r) == 0) {
    rlim_t cap = static_cast<rlim_t>(o.sessionMemoryMiB) << 20;
    if (r.rlim_max == RLIM_INFINITY || cap < r.rlim_max) r.rlim_cur = cap;
    setrlimit(RLIMIT_AS, &r);
  }
#endif
  if (o.sessionFiles > 0 && getrlimit(RLIMIT_NOFILE, &r) == 0) {
    rlim_t cap = static_cast<rlim_t>(o.sessionFiles);
    if (r.rlim_max == RLIM_INFINITY || cap < r.rlim_max) r.rlim_cur = cap;
    setrlimit(RLIMIT_NOFILE, &r);
  }
}

static std::string broker_rlim_text(int resource) {
  struct rlimit r;
  if (getrlimit(resource, &r) != 0 || r.rlim_cur == RLIM_INFINITY) return "unlimited";
  return std::to_string(static_cast<unsigned long long>(r.rlim_cur));
}

void new_session(evhtp_request_t* req, void*) {
  if (!is_json_request(req)) return;
  js_value_s* body = get_json_body(req);
  if (!body) return;
  app_s* app = gApp;
  if (app->shutdown) {
    js_free_value(body);
    kvx_metrics_start_failed(KVX_START_STOPPING);
    send_json_response(req, nullptr, KVX_STATUS_SESSION_INIT_FAIL, "the server is stopping");
    return;
  }
  const std::string client = broker_client_of(req);
  if (broker_over_cap(req, client)) {
    js_free_value(body);
    return;
  }
  char* id = gen_session_id();
  if (!id) {
    js_free_value(body);
    kvx_metrics_start_failed(KVX_START_SPAWN);
    send_json_response(req, nullptr, KVX_STATUS_SESSION_INIT_FAIL, "no session identifier");
    return;
  }
  // The port as typed, unless the system chose it ("-p 0"): the child must
  // reach the port actually bound.
  std::string port = app->bindPortStr;
  if (atoi(port.c_str()) != app->listenPort) port = std::to_string(app->listenPort);
  int statsFd = -1;
  kvx_stats_t* stats = kvx_stats_create(&statsFd);
  // The limits the shell of the session gets back: the server's own.
  const rlim_t files = kvx_options().shellFiles;
  const std::string shellLimits =
      broker_rlim_text(RLIMIT_AS) + ":" +
      (files == RLIM_INFINITY ? std::string("unlimited")
                              : std::to_string(static_cast<unsigned long long>(files)));
  extern char** environ;
  const std::string shellLocale = LumShellLocaleOf(environ);
  // The identifier goes by the counters page when there is one ("-a -").
  if (stats) snprintf(stats->sessionId, sizeof stats->sessionId, "%s", id);
  const char* program = _get_kavrix_exe_path();
  std::vector<const char*> argv = {"Kavrix",     "-a", stats ? "-" : id,        "-p",
                                   port.c_str(), "-b", app->bindAddress.c_str()};
  if (!app->certificateName.empty()) {
    argv.push_back("-c");
    argv.push_back(app->certificateName.c_str());
    if (!app->privateKeyName.empty()) {
      argv.push_back("-k");
      argv.push_back(app->privateKeyName.c_str());
    }
    if (app->sslClientAuthEnabled) argv.push_back("-C");
  }
  for (const std::string& arg : kvx_options().childArgs) argv.push_back(arg.c_str());
  if (stats) {
    argv.push_back("--stats-fd");
    argv.push_back("3");
  }
  argv.push_back("--shell-limits");
  argv.push_back(shellLimits.c_str());
  // The shell's locale: the server's own, where this machine has it.
  if (!shellLocale.empty()) {
    argv.push_back("--shell-locale");
    argv.push_back(shellLocale.c_str());
  }
  argv.push_back(nullptr);
  const char* home = getenv("HOME");
  std::string homeEntry = std::string("HOME=") + (home ? home : "/");
  const char* envp[] = {homeEntry.c_str(), nullptr};

  pid_t pid = fork();
  if (pid < 0) {
    int err = errno;
    free(id);
    js_free_value(body);
    if (statsFd >= 0) close(statsFd);
    kvx_stats_release(stats);
    kvx_metrics_start_failed(KVX_START_SPAWN);
    send_json_response(req, nullptr, KVX_STATUS_SESSION_INIT_FAIL, strerror(err));
    return;
  }
  if (pid == 0) {
    broker_close_inherited(statsFd);
    broker_limit_child();
    execve(program, const_cast<char* const*>(argv.data()), const_cast<char* const*>(envp));
    fprintf(stderr, "Failed to overlay process: %s\n", strerror(errno));
    _exit(1);
  }
  if (statsFd >= 0) close(statsFd);
  kvx_session_t* s = kvx_session_new();
  s->pid = static_cast<int>(pid);
  s->sessionId = id;
  s->deviceId = js_value_get_string(body, "deviceId");
  s->client = client;
  s->stats = stats;
  s->req = req;
  evhtp_request_set_hook(req, evhtp_hook_on_request_fini, kvx_hook(broker_held_request_fini), s);
  s->reportTimer = evtimer_new(app->evbase, broker_report_timeout, s);
  timeval limit = {kKvxReportTimeout, 0};
  evtimer_add(s->reportTimer, &limit);
  free(id);
  js_free_value(body);
}

// ---- "/update_session" ----

// The session role's view: the server's answer to its report.
static void update_session_answer(evhtp_request_t* response) {
  if (!response) return;
  size_t n = evbuffer_get_length(response->buffer_in);
  std::string text(n, '\0');
  evbuffer_copyout(response->buffer_in, text.data(), n);
  js_value_s* answer = parse_json(text.c_str());
  int code = answer ? js_value_get_int(answer, "code") : KVX_STATUS_UNEXPECTED_RESPONSE;
  if (code != 0)
    TE_Trace(TRACE_FAIL, "Error - Session update failed with response [%d:%s].\n", code,
             answer ? js_value_get_string(answer, "message") : get_json_error());
  js_free_value(answer);
}

void update_session(evhtp_request_t* req, void*) {
  if (gApp->host_mode == 1) {
    update_session_answer(req);
    return;
  }
  if (!is_json_request(req)) return;
  js_value_s* body = get_json_body(req);
  if (!body) return;
  const char* id = js_value_get_string(body, "sessionId");
  kvx_session_t* s = kvx_session_find(id);
  if (!s) {
    send_json_response(req, nullptr, KVX_STATUS_SESSION_NOT_FOUND, id);
    js_free_value(body);
    return;
  }
  s->port = js_value_get_int(body, "port");
  if (evhtp_request_t* held = broker_take_request(s)) {
    kvx_metrics_session_started();
    send_json_response(held, body, KVX_STATUS_OK);
  } else
    js_free_value(body);
  send_json_response(req, nullptr, KVX_STATUS_OK);
}

bool post_update_session(const char* sessionId, int port) {
  js_value_s* report = js_value_new_object();
  js_value_put_string(report, "sessionId", sessionId);
  js_value_put_int(report, "port", port);
  if (!report) {
    TE_Trace(TRACE_FAIL, "%s\n", get_json_error());
    return false;
  }
  bool sent = post_json_request("/update_session", gApp->bindPort, report,
                                [](evhtp_request_t* r, void*) { update_session(r, nullptr); });
  js_free_value(report);
  return sent;
}

// ---- "/list_sessions" ----

void list_sessions(evhtp_request_t* req, void*) {
  if (!is_json_request(req)) return;
  js_value_s* body = get_json_body(req);
  if (!body) return;
  // Only a device's own sessions, and only for a device that names itself:
  // the identifiers are the sessions' secrets.
  const char* deviceId = js_value_get_string(body, "deviceId");
  if (!deviceId || !*deviceId) {
    js_free_value(body);
    send_json_response(req, nullptr, KVX_STATUS_MISSING_REQ_DATA, "deviceId");
    return;
  }
  js_value_s* list = js_value_new_array(10);
  for (kvx_session_t* s : gApp->kvx_sessions) {
    if (s->deviceId != deviceId) continue;
    js_value_s* item = js_value_new_object();
    js_value_put_string(item, "sessionId", s->sessionId.c_str());
    js_value_put_int(item, "kvxPort", s->port);
    if (!js_value_append_array(list, item)) js_free_value(item);
  }
  js_free_value(body);
  send_json_response(req, list, KVX_STATUS_OK);
}

// ---- shutdown ----

void post_http_chld_shutdown_events() {
  js_value_s* why = js_value_new_object();
  js_value_put_string(why, "reason", "stop");
  for (kvx_session_t* s : gApp->kvx_sessions) {
    // A child that has not reported has no port to post to; it gets the signal.
    if (s->port == 0)
      kill(s->pid, SIGTERM);
    else
      post_json_request(("/shutdown_session?session=" + s->sessionId).c_str(), s->port, why, nullptr);
  }
  js_free_value(why);
}

// The loop ends once the connection that carried "/shutdown_session" is
// gone: the HTTP library frees it only after the answer has been written,
// a loop turn after the request itself, and a loop that stopped at the
// request would leave it behind.  Should it linger, the loop ends anyway.
static evhtp_res shutdown_session_closed(evhtp_connection_t*, void*) {
  event_base_loopexit(gApp->evbase, nullptr);
  return EVHTP_RES_OK;
}

static evhtp_res shutdown_session_sent(evhtp_request_t*, void*) {
  timeval grace = {2, 0};
  event_base_loopexit(gApp->evbase, &grace);
  return EVHTP_RES_OK;
}

void shutdown_session(evhtp_request_t* req, void*) {
  if (!is_json_request(req)) return;
  // The browsers learn why their session ends: the server's stop says so.
  js_value_s* body = get_json(req);
  const char* reason = body ? js_value_get_string(body, "reason") : nullptr;
  const bool serverStop = reason && strcmp(reason, "stop") == 0;
  js_free_value(body);
  const char* fields[] = {
      "1", serverStop ? "The server is shutting down; the session has ended." : "The session has been ended.",
      nullptr};
  kvx_send_all(gApp, KVX_HOST_ACTION_SHOW_FATAL_ERROR, fields, nullptr, 0);
  js_value_s* content = js_value_new_object();
  js_value_put_string(content, "sessionId", gApp->sessionId.c_str());
  gApp->shutdown = true;
  kvx_stats_set(&kvx_stats()->exitReason, KVX_EXIT_SHUTDOWN);
  evhtp_request_set_hook(req, evhtp_hook_on_request_fini, kvx_hook(shutdown_session_sent), nullptr);
  if (evhtp_connection_t* conn = evhtp_request_get_connection(req)) {
    kvx_http_release_connection(conn);  // it closes with the answer
    evhtp_connection_set_hook(conn, evhtp_hook_on_connection_fini, kvx_hook(shutdown_session_closed),
                              nullptr);
  }
  // The connection ends with the answer, so that nothing is left open when the process ends.
  evhtp_headers_add_header(req->headers_out, evhtp_header_new("Connection", "close", 0, 0));
  evhtp_request_set_keepalive(req, 0);
  send_json_response(req, content, KVX_STATUS_OK);
}
