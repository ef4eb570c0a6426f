// Server metrics: counters of the broker, totals of the session processes
// that have ended, the live ones read from their counter pages, the
// Prometheus text answer of "/metrics" and the "/healthz" answer.
#include "metrics.h"

#include <sys/wait.h>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "app.h"
#include "broker.h"
#include "http.h"
#include "server.h"
#include "stats.h"

namespace {

enum : int {
  kExitKilled = static_cast<int>(KVX_EXIT_REASONS),  // by a signal the process did not choose
  kExitFailed,                                       // a non-zero status without a reason of its own
  kExitEnded,                                        // a zero status without a reason of its own
  kExitCount,
};

struct Totals {
  uint64_t started = 0;
  uint64_t startFailures[KVX_START_FAILURES] = {};
  uint64_t exits[kExitCount] = {};
  kvx_stats_t ended = {};  // the counters of every session that has ended
};

Totals g_totals;

const char* const kStartFailureNames[KVX_START_FAILURES] = {
    "too_many_sessions", "too_many_sessions_of_client", "spawn", "exited", "no_report", "stopping"};
const char* const kExitNames[kExitCount] = {"unknown",       "shutdown",      "idle_timeout", "unattached",
                                            "browsers_left", "out_of_memory", "signal",       "killed",
                                            "failed",        "ended"};
const char* const kKindNames[kKvxStatsKinds] = {"shell", "telnet", "telnet-tls", "telnet-starttls", "ssh"};

// A live session's page, or null when it is not one (never written).
const kvx_stats_t* metrics_page(const kvx_session_t* s) {
  return s->stats && kvx_stats_get(&s->stats->magic) == kKvxStatsMagic ? s->stats : nullptr;
}

void metrics_add(kvx_stats_t& into, const kvx_stats_t& from) {
  into.hostBytes += kvx_stats_get(&from.hostBytes);
  into.browserBytes += kvx_stats_get(&from.browserBytes);
  into.attaches += kvx_stats_get(&from.attaches);
  for (int i = 0; i < kKvxStatsKinds; i++) into.connects[i] += kvx_stats_get(&from.connects[i]);
  into.refusedKind += kvx_stats_get(&from.refusedKind);
  into.refusedHost += kvx_stats_get(&from.refusedHost);
}

struct Writer {
  std::string text;
  void head(const char* name, const char* type, const char* help) {
    text += "# HELP ";
    text += name;
    text += ' ';
    text += help;
    text += "\n# TYPE ";
    text += name;
    text += ' ';
    text += type;
    text += '\n';
  }
  void value(const char* name, uint64_t v, const char* label = nullptr, const char* labelValue = nullptr) {
    char line[256];
    if (label)
      snprintf(line, sizeof line, "%s{%s=\"%s\"} %" PRIu64 "\n", name, label, labelValue, v);
    else
      snprintf(line, sizeof line, "%s %" PRIu64 "\n", name, v);
    text += line;
  }
};

void metrics_reply(evhtp_request_t* req, int status, const char* type, const std::string& body) {
  evbuffer_add(req->buffer_out, body.data(), body.size());
  evhtp_headers_add_header(req->headers_out, evhtp_header_new("Content-Type", type, 0, 0));
  evhtp_headers_add_header(req->headers_out,
                           evhtp_header_new("Content-Length", std::to_string(body.size()).c_str(), 0, 1));
  evhtp_headers_add_header(req->headers_out, evhtp_header_new("Cache-Control", "no-store", 0, 0));
  log_request_info(req, status);
  kvx_send_reply(req, status);
}

bool metrics_method_ok(evhtp_request_t* req) {
  if (req->method == htp_method_GET) return true;
  send_method_not_allowed(req, "GET", true);
  return false;
}

}  // namespace

void kvx_metrics_start_failed(KVX_START_FAILURE reason) {
  g_totals.startFailures[reason]++;
}

void kvx_metrics_session_started() {
  g_totals.started++;
}

void kvx_metrics_session_ended(kvx_session_t* s, int status) {
  const kvx_stats_t* page = metrics_page(s);
  int reason = kExitEnded;
  uint64_t own = page ? kvx_stats_get(&page->exitReason) : 0;
  if (WIFSIGNALED(status)) {
    reason = kExitKilled;
  } else if (own > KVX_EXIT_UNKNOWN && own < static_cast<uint64_t>(KVX_EXIT_REASONS)) {
    reason = static_cast<int>(own);
  } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    reason = kExitFailed;
  }
  g_totals.exits[reason]++;
  if (page) metrics_add(g_totals.ended, *page);
}

void metrics(evhtp_request_t* req, void*) {
  if (!metrics_method_ok(req)) return;
  kvx_stats_t sum = g_totals.ended;
  uint64_t browsers = 0;
  for (const kvx_session_t* s : gApp->kvx_sessions) {
    const kvx_stats_t* page = metrics_page(s);
    if (!page) continue;
    metrics_add(sum, *page);
    browsers += kvx_stats_get(&page->browsers);
  }
  Writer w;
  w.head("kavrix_sessions_live", "gauge", "Session processes running now.");
  w.value("kavrix_sessions_live", gApp->kvx_sessions.size());
  w.head("kavrix_sessions_started_total", "counter", "Session processes started and reported.");
  w.value("kavrix_sessions_started_total", g_totals.started);
  w.head("kavrix_session_start_failures_total", "counter",
         "Session requests that started no session, by reason.");
  for (int i = 0; i < KVX_START_FAILURES; i++)
    w.value("kavrix_session_start_failures_total", g_totals.startFailures[i], "reason",
            kStartFailureNames[i]);
  w.head("kavrix_connect_refusals_total", "counter",
         "Host connects refused by the connection policy, by reason.");
  w.value("kavrix_connect_refusals_total", sum.refusedKind, "reason", "kind");
  w.value("kavrix_connect_refusals_total", sum.refusedHost, "reason", "host");
  w.head("kavrix_connections_total", "counter", "Host connects made, by connection kind.");
  for (int i = 0; i < kKvxStatsKinds; i++)
    w.value("kavrix_connections_total", sum.connects[i], "kind", kKindNames[i]);
  w.head("kavrix_browsers_attached", "gauge", "Browsers attached to sessions now.");
  w.value("kavrix_browsers_attached", browsers);
  w.head("kavrix_browser_attaches_total", "counter", "Browsers that attached to a session.");
  w.value("kavrix_browser_attaches_total", sum.attaches);
  w.head("kavrix_host_bytes_total", "counter", "Bytes received from hosts.");
  w.value("kavrix_host_bytes_total", sum.hostBytes);
  w.head("kavrix_browser_bytes_total", "counter", "Bytes sent to browsers on session channels.");
  w.value("kavrix_browser_bytes_total", sum.browserBytes);
  w.head("kavrix_session_exits_total", "counter", "Session processes that ended, by reason.");
  for (int i = 1; i < kExitCount; i++)
    w.value("kavrix_session_exits_total", g_totals.exits[i], "reason", kExitNames[i]);
  metrics_reply(req, 200, "text/plain; version=0.0.4; charset=utf-8", w.text);
}

void healthz(evhtp_request_t* req, void*) {
  if (!metrics_method_ok(req)) return;
  const char* state = "ok\n";
  int status = 200;
  if (gApp->shutdown) {
    state = "stopping\n";
    status = 503;
  } else if (static_cast<int>(gApp->kvx_sessions.size()) >= kvx_options().maxSessions) {
    state = "full\n";
    status = 503;
  }
  metrics_reply(req, status, "text/plain; charset=utf-8", state);
}
