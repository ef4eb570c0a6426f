// The process of both roles: command line and usage text, the listener with
// its TLS set-up, the routes of each role, signal handling, child reaping
// and the shutdown order.
#include <arpa/inet.h>
#include <event2/listener.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "app.h"
#include "auxport.h"
#include "broker.h"
#include "channel.h"
#include "http.h"
#include "localconnection.h"
#include "metrics.h"
#include "platform.h"
#include "policy.h"
#include "print_jobs.h"
#include "recording.h"
#include "relay.h"
#include "server.h"
#include "stats.h"
#include "tetrace.h"

static const char kUsage[] =
    "usage: %s\nOptions:\n   -h          : Display this help message.\n   -p <int>    : Bind port (defaults: "
    "8080)\n   -b <string> : Bind address (defaults: 0.0.0.0)\n   -c <string> : Name of PEM certificate "
    "containing public (without extension).\n   -k <string> "
    ": "
    "Name of PEM private key file (without extension).\n   -C          : Enable client authentication.\n"
    "   --max-sessions <int>            : Most session processes at once (defaults: 1000).\n"
    "   --max-sessions-per-client <int> : Most session processes of one client address (defaults: 64).\n"
    "   --trusted-proxies <list>        : Proxy addresses whose X-Forwarded-For names the client.\n"
    "   --idle-timeout <minutes>        : End a session no browser has watched for this long, 0 never "
    "(defaults: 60).\n"
    "   --allow-kinds <list>            : Connection kinds sessions may use: shell, telnet, telnet-tls, "
    "telnet-starttls, ssh (defaults: all).\n"
    "   --allow-hosts <list>            : Hosts, addresses and CIDR ranges, with optional :port, that telnet "
    "and SSH may reach (defaults: any).\n"
    "   --session-memory <MiB>          : Address-space bound of a session process, 0 none (defaults: "
    "1024).\n"
    "   --session-files <int>           : Open-file bound of a session process, 0 none (defaults: 256).\n"
    "   --record-dir <dir>              : Record every session into this directory (asciicast v2).\n"
    "   --print-dir <dir>               : Keep every print job as PDF in this directory as well.\n"
    "   --stop-timeout <seconds>        : How long a clean stop (SIGTERM) waits for the sessions (defaults: "
    "10).\n"
    "   --expose-sessions               : Session processes listen on the bind address, not on 127.0.0.1.\n"
    "   --instance <name>               : Name of this instance, carried by its session identifiers "
    "([a-z0-9], 1 to 16).\n"
    "   --macro-directory <path>        : Directory of the macro files sessions may play (defaults: none, "
    "macros only as text).\n"
    "   --aux-devices <list>            : Serial devices sessions may use as the auxiliary port "
    "(defaults: none).\n"
    "   --aux-devices-file <file>       : The same, one device per line.\n"
    "   --trace <categories>            : Trace these categories, for the server and all its sessions, "
    "comma-separated: comm, telnet, tls, ssh, 3270, 5250, macro, dialog, channel, keyboard, capture, "
    "session, script, print, fail, all.\n"
    "   --trace-file <path>             : Write the trace to this file as well as to standard error.\n";

int kvx_getpid() {
  return static_cast<int>(getpid());
}

void print_help(const char* programPath) {
  const char* slash = programPath ? strrchr(programPath, '/') : nullptr;
  printf(kUsage, slash ? slash + 1 : (programPath ? programPath : "Kavrix"));
  fflush(stdout);
  exit(1);
}

void setup_te_trace() {
  const kvx_options_t& o = kvx_options();
  if (!o.traceFile.empty()) TE_Trace_SetOutputFile(o.traceFile.c_str());
  TE_Trace_SetRoute(TRACE_ROUTE_STDERR2 | (o.traceFile.empty() ? 0 : TRACE_ROUTE_FILE));
  TE_Trace_SetMask(TRACE_PRINT | TRACE_FAIL | o.traceMask);
}

kvx_options_t& kvx_options() {
  static kvx_options_t options;
  return options;
}

// ---- long options ----

namespace {

// A whole decimal number within [min, max].
bool opt_int(const char* text, long min, long max, long* out, std::string* error) {
  char* end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (!*text || *end || errno || v < min || v > max) {
    *error = "expected a whole number from " + std::to_string(min) + " to " + std::to_string(max);
    return false;
  }
  *out = v;
  return true;
}

// A limit of the session processes: "unlimited" or a number.
bool opt_rlim(const std::string& text, rlim_t* out) {
  if (text == "unlimited") {
    *out = RLIM_INFINITY;
    return true;
  }
  char* end = nullptr;
  errno = 0;
  unsigned long long v = strtoull(text.c_str(), &end, 10);
  if (text.empty() || *end || errno) return false;
  *out = static_cast<rlim_t>(v);
  return true;
}

struct LongOption {
  const char* name;
  bool takesValue;
  bool forward;  // passed on to session processes as given
  bool (*apply)(const char* value, std::string* error);
};

const LongOption kLongOptions[] = {
    {"--max-sessions", true, false,
     [](const char* v, std::string* e) {
       long n;
       if (!opt_int(v, 1, 1000000, &n, e)) return false;
       kvx_options().maxSessions = static_cast<int>(n);
       return true;
     }},
    {"--max-sessions-per-client", true, false,
     [](const char* v, std::string* e) {
       long n;
       if (!opt_int(v, 1, 1000000, &n, e)) return false;
       kvx_options().maxSessionsPerClient = static_cast<int>(n);
       return true;
     }},
    {"--trusted-proxies", true, false,
     [](const char* v, std::string* e) {
       return kvx_policy_parse_ranges(v, &kvx_options().trustedProxies, e);
     }},
    {"--idle-timeout", true, true,
     [](const char* v, std::string* e) {
       char* end = nullptr;
       errno = 0;
       double minutes = strtod(v, &end);
       if (!*v || *end || errno || !(minutes >= 0) || minutes > 525600) {
         *e = "expected minutes from 0 to 525600";
         return false;
       }
       kvx_options().idleSeconds = minutes * 60;
       return true;
     }},
    {"--allow-kinds", true, true,
     [](const char* v, std::string* e) { return kvx_policy_parse_kinds(v, &kvx_policy().kinds, e); }},
    {"--aux-devices", true, true,
     [](const char* v, std::string*) {
       std::string list = v;
       for (size_t a = 0; a <= list.size();) {
         size_t b = list.find(',', a);
         if (b == std::string::npos) b = list.size();
         app_aux_allow(list.substr(a, b - a));
         a = b + 1;
       }
       return true;
     }},
    {"--aux-devices-file", true, true, [](const char* v, std::string* e) { return app_aux_allow_file(v, e); }},
    {"--allow-hosts", true, true,
     [](const char* v, std::string* e) {
       if (!kvx_policy_parse_hosts(v, &kvx_policy().hosts, e)) return false;
       kvx_policy().anyHost = false;
       return true;
     }},
    {"--session-memory", true, false,
     [](const char* v, std::string* e) {
       long n;
       if (!opt_int(v, 0, 1 << 30, &n, e)) return false;
       kvx_options().sessionMemoryMiB = n;
       return true;
     }},
    {"--session-files", true, false,
     [](const char* v, std::string* e) {
       long n;
       if (!opt_int(v, 0, 1 << 30, &n, e)) return false;
       if (n != 0 && n < kKvxMinSessionFiles) {
         *e = "expected 0 or at least " + std::to_string(kKvxMinSessionFiles);
         return false;
       }
       kvx_options().sessionFiles = n;
       return true;
     }},
    {"--instance", true, false,
     [](const char* v, std::string* e) {
       const size_t n = strlen(v);
       if (n < 1 || n > 16 || strspn(v, "abcdefghijklmnopqrstuvwxyz0123456789") != n) {
         *e = "expected 1 to 16 lower-case letters and digits";
         return false;
       }
       kvx_options().instance = v;
       return true;
     }},
    {"--record-dir", true, true,
     [](const char* v, std::string* e) {
       char* dir = realpath(v, nullptr);
       struct stat st;
       const bool ok = dir && stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && access(dir, W_OK | X_OK) == 0;
       if (ok) kvx_options().recordDir = dir;
       free(dir);
       if (!ok) *e = "expected a directory this user may write to";
       return ok;
     }},
    {"--print-dir", true, true,
     [](const char* v, std::string* e) {
       char* dir = realpath(v, nullptr);
       struct stat st;
       const bool ok = dir && stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && access(dir, W_OK | X_OK) == 0;
       if (ok) kvx_options().printDir = dir;
       free(dir);
       if (!ok) *e = "expected a directory this user may write to";
       return ok;
     }},
    {"--stop-timeout", true, false,
     [](const char* v, std::string* e) {
       long n;
       if (!opt_int(v, 1, 3600, &n, e)) return false;
       kvx_options().stopSeconds = static_cast<int>(n);
       return true;
     }},
    // Traces an administrator turns on, in the server and every session.
    {"--trace", true, true,
     [](const char* v, std::string* e) {
       const char* bad = nullptr;
       uint32_t mask = 0;
       if (!TE_Trace_ParseCategories(v, &mask, &bad)) {
         *e = std::string("unknown category \"") + (bad ? bad : "") + "\" (known: " + TE_Trace_CategoryNames() + ")";
         return false;
       }
       kvx_options().traceMask = mask;
       return true;
     }},
    {"--trace-file", true, false,
     [](const char* v, std::string* e) {
       std::string path = v;
       if (path.empty()) {
         *e = "expected a file name";
         return false;
       }
       if (path[0] != '/') {
         char* cwd = getcwd(nullptr, 0);
         if (!cwd) {
           *e = strerror(errno);
           return false;
         }
         path = std::string(cwd) + "/" + path;
         free(cwd);
       }
       kvx_options().traceFile = path;
       // Sessions run elsewhere: they get the absolute path.
       kvx_options().childArgs.push_back("--trace-file");
       kvx_options().childArgs.push_back(path);
       return true;
     }},
    {"--expose-sessions", false, true,
     [](const char*, std::string*) {
       kvx_options().exposeSessions = true;
       return true;
     }},
    // Macro files are read only from this directory (sessions resolve the
    // same path: they run in the server's working directory).
    {"--macro-directory", true, true,
     [](const char* v, std::string* e) {
       char* real = realpath(v, nullptr);
       struct stat st;
       if (!real || stat(real, &st) != 0 || !S_ISDIR(st.st_mode)) {
         *e = real ? "not a directory" : strerror(errno);
         free(real);
         return false;
       }
       app_set_macro_directory(real);
       free(real);
       return true;
     }},
    // For the server's own use: the session's counters page, and the limits
    // and locale its shell gets.
    {"--stats-fd", true, false,
     [](const char* v, std::string* e) {
       long n;
       if (!opt_int(v, 0, 1 << 20, &n, e)) return false;
       kvx_options().statsFd = static_cast<int>(n);
       return true;
     }},
    {"--shell-limits", true, false,
     [](const char* v, std::string* e) {
       std::string text = v;
       size_t colon = text.find(':');
       rlim_t as, files;
       if (colon == std::string::npos || !opt_rlim(text.substr(0, colon), &as) ||
           !opt_rlim(text.substr(colon + 1), &files)) {
         *e = "expected <address space>:<files>";
         return false;
       }
       LumSetShellLimits(as, files);
       return true;
     }},
    {"--shell-locale", true, false,
     [](const char* v, std::string*) {
       LumSetShellLocale(v);
       return true;
     }},
};

const LongOption* opt_find(const char* name) {
  for (const LongOption& o : kLongOptions)
    if (strcmp(o.name, name) == 0) return &o;
  return nullptr;
}

}  // namespace

// Every browser channel the server relays holds two descriptors: the
// server takes all its hard limit allows.  The limit it was started with
// is what session shells get.
static void server_raise_file_limit() {
  struct rlimit r;
  if (getrlimit(RLIMIT_NOFILE, &r) != 0) return;
  kvx_options().shellFiles = r.rlim_cur;
  if (r.rlim_cur == r.rlim_max) return;
  r.rlim_cur = r.rlim_max;
  setrlimit(RLIMIT_NOFILE, &r);
}

int winmainloop(void*, int argc, char** argv) {
  app_s* app = gApp;
  app->bindPort = 8080;
  app->bindPortStr = "8080";
  kvx_options_t& options = kvx_options();
  for (int i = 1; i < argc; i++) {
    const char* opt = argv[i];
    if (strcmp(opt, "-h") == 0) print_help(argv[0]);
    if (strcmp(opt, "-C") == 0) {
      app->sslClientAuthEnabled = true;
      continue;
    }
    const LongOption* lo = opt_find(opt);
    if (lo && !lo->takesValue) {
      std::string error;
      lo->apply(nullptr, &error);
      if (lo->forward) options.childArgs.push_back(opt);
      continue;
    }
    if (i + 1 >= argc) print_help(argv[0]);
    const char* value = argv[i + 1];
    if (lo) {
      std::string error;
      if (!lo->apply(value, &error)) {
        printf("Illegal value [%s] for option [%s]: %s.\n", value, opt, error.c_str());
        print_help(argv[0]);
      }
      if (lo->forward) {
        options.childArgs.push_back(opt);
        options.childArgs.push_back(value);
      }
    } else if (strcmp(opt, "-p") == 0) {
      app->bindPort = atoi(value);
      app->bindPortStr = value;
    } else if (strcmp(opt, "-b") == 0) {
      app->bindAddress = value;
    } else if (strcmp(opt, "-c") == 0) {
      app->certificateName = value;
    } else if (strcmp(opt, "-k") == 0) {
      app->privateKeyName = value;
    } else if (strcmp(opt, "-a") == 0) {
      app->sessionId = value;
      app->host_mode = 1;
    } else {
      printf("Illegal option [%s].\n", opt);
      print_help(argv[0]);
    }
    i++;
  }
  setup_te_trace();
  if (!kvx_set_working_dir()) {
    TE_Trace(TRACE_FAIL, "ERROR: Unable to read the working directory: %s\n", strerror(errno));
    return 1;
  }
  if (app->host_mode == 0) server_raise_file_limit();
  char* codepage = get_path("codepage.dat");
  app_set_codepage_file_path(codepage);
  free(codepage);
  if (app->host_mode == 1 && options.statsFd >= 0) kvx_stats_attach(options.statsFd);
  if (app->host_mode == 1 && app->sessionId == "-") {
    const char* id = kvx_stats()->sessionId;
    app->sessionId.assign(id, strnlen(id, sizeof kvx_stats()->sessionId));
    if (app->sessionId.empty()) {
      TE_Trace(TRACE_FAIL, "ERROR: No session identifier.\n");
      return 1;
    }
  }
  int status = listen();
  kvx_free_working_dir();
  return status;
}

// ---- TLS ----

static const char* tls_reason() {
  unsigned long err = ERR_peek_last_error();
  const char* reason = err ? ERR_reason_error_string(err) : nullptr;
  return reason ? reason : "unknown error";
}

static void tls_free_cfg(evhtp_ssl_cfg_t* cfg) {
  if (!cfg) return;
  free(cfg->pemfile);
  free(cfg->privfile);
  free(cfg->cafile);
  free(cfg);
}

// The listener's server context and the client context of loopback
// requests.  False after one error line when either cannot be built.
static bool tls_setup(app_s* app) {
  ERR_clear_error();
  evhtp_ssl_cfg_t* cfg = static_cast<evhtp_ssl_cfg_t*>(calloc(1, sizeof(evhtp_ssl_cfg_t)));
  cfg->pemfile = get_path_for_cert(app->certificateName.c_str());
  if (!app->privateKeyName.empty()) cfg->privfile = get_path_for_cert(app->privateKeyName.c_str());
  if (app->sslClientAuthEnabled) cfg->cafile = get_path("certs/ca.pem");
  // TLS 1.2 or later with the library's secure default cipher suites.
  cfg->ssl_opts = SSL_OP_NO_SSLv2 | SSL_OP_NO_SSLv3 | SSL_OP_NO_TLSv1 | SSL_OP_NO_TLSv1_1;
  cfg->ciphers = nullptr;
  cfg->ssl_ctx_timeout = 172800;
  cfg->verify_peer = SSL_VERIFY_NONE;
  cfg->scache_type = evhtp_ssl_scache_type_disabled;
  app->ssl_host_cfg = cfg;

  int rc = evhtp_ssl_init(app->htp, cfg);
  SSL_CTX* ctx = app->htp->ssl_ctx;
  bool ok = rc == 0 && ctx && SSL_CTX_get0_certificate(ctx) && SSL_CTX_check_private_key(ctx) == 1;
  if (ok) {
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    if (cfg->cafile) {
      ok = SSL_CTX_load_verify_locations(ctx, cfg->cafile, nullptr) == 1;
      STACK_OF(X509_NAME)* names = ok ? SSL_load_client_CA_file(cfg->cafile) : nullptr;
      if (names) SSL_CTX_set_client_CA_list(ctx, names);
    }
  }
  if (!ok) {
    TE_Trace(TRACE_FAIL, "SSL ERROR (SRV-CXT): %s\n", tls_reason());
    return false;
  }
  ERR_clear_error();
  SSL_CTX* client = SSL_CTX_new(TLS_client_method());
  char* caPath = get_path("certs/cacerts.pem");
  ok = client && SSL_CTX_set_min_proto_version(client, TLS1_2_VERSION) == 1 &&
       SSL_CTX_load_verify_locations(client, caPath, nullptr) == 1;
  free(caPath);
  if (!ok) {
    TE_Trace(TRACE_FAIL, "SSL ERROR (CLI-CTX): %s\n", tls_reason());
    SSL_CTX_free(client);
    return false;
  }
  SSL_CTX_set_verify(client, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  app->ssl_host_ctx = ctx;
  app->ssl_client_ctx = client;
  app->sslEnabled = true;
  return true;
}

// ---- listener ----

// Binds a non-blocking IPv4 listening socket; -1 with errno set on failure.
static int listener_bind(const char* address, int port) {
  sockaddr_in sin;
  memset(&sin, 0, sizeof sin);
  sin.sin_family = AF_INET;
  sin.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address, &sin.sin_addr) != 1) {
    errno = EINVAL;
    return -1;
  }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
    int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

// Out of descriptors, the listening socket stays readable and every accept
// fails at once: rather than spin (with a warning per try), the listener
// rests for a second and then takes connections again.
static event* g_acceptPause = nullptr;
// The bound of a clean stop, once one has begun.
static event* g_stopTimer = nullptr;

static void listener_resume(evutil_socket_t, short, void* arg) {
  evconnlistener_enable(static_cast<evconnlistener*>(arg));
}

static void listener_error(evconnlistener* listener, void*) {
  int err = EVUTIL_SOCKET_ERROR();
  if (err != EMFILE && err != ENFILE && err != ENOBUFS && err != ENOMEM) return;
  if (!g_acceptPause)
    g_acceptPause = evtimer_new(evconnlistener_get_base(listener), listener_resume, listener);
  if (!g_acceptPause || evtimer_pending(g_acceptPause, nullptr)) return;
  TE_Trace(TRACE_FAIL, "ERROR: Unable to accept connections: %s; pausing for a second.\n", strerror(err));
  evconnlistener_disable(listener);
  timeval pause = {1, 0};
  evtimer_add(g_acceptPause, &pause);
}

static void listener_stop(app_s* app) {
  if (g_acceptPause) event_free(g_acceptPause);
  g_acceptPause = nullptr;
  if (app->htp && app->htp->server) evhtp_unbind_socket(app->htp);
}

// Binds and starts accepting; logs one error line and returns false when the
// port cannot be had.
static bool listener_start(app_s* app, const char* address, int port) {
  if (port < 0 || port > 65535) {
    TE_Trace(TRACE_FAIL, "ERROR: Unable to listen on [%s:%d]: %s\n", address, port, strerror(EINVAL));
    return false;
  }
  int fd = listener_bind(address, port);
  if (fd < 0 || evhtp_accept_socket(app->htp, fd, 1024) != 0) {
    int err = errno ? errno : EINVAL;
    if (fd >= 0) close(fd);
    TE_Trace(TRACE_FAIL, "ERROR: Unable to listen on [%s:%d]: %s\n", address, port, strerror(err));
    return false;
  }
  app->listenPort = get_socket_port(fd);
  if (app->htp->server) evconnlistener_set_error_cb(app->htp->server, listener_error);
  return true;
}

static void register_server_routes(app_s* app) {
  evhtp_set_cb(app->htp, "/new_session", new_session, nullptr);
  evhtp_set_cb(app->htp, "/shutdown_session", relay_request, nullptr);
  evhtp_set_cb(app->htp, "/update_session", update_session, nullptr);
  evhtp_set_cb(app->htp, "/list_sessions", list_sessions, nullptr);
  evhtp_set_cb(app->htp, "/load_config", relay_load_config, nullptr);
  evhtp_set_cb(app->htp, "/get_config_values", relay_request, nullptr);
  evhtp_set_cb(app->htp, "/load_capture", relay_request, nullptr);
  evhtp_set_cb(app->htp, "/get_te_channel", relay_channel, nullptr);
  evhtp_set_cb(app->htp, "/print_jobs", relay_request, nullptr);
  evhtp_set_cb(app->htp, "/get_file", relay_file, nullptr);
  evhtp_set_cb(app->htp, "/metrics", metrics, nullptr);
  evhtp_set_cb(app->htp, "/healthz", healthz, nullptr);
  evhtp_set_gencb(app->htp, handle_get_request, const_cast<char*>("ui"));
}

// The session's own requests need the session's identifier, the secret
// its browsers hold, as the query argument "session"; without it they are
// refused with 403 and a log line.
static bool session_secret_ok(evhtp_request_t* req) {
  const char* given = req->uri && req->uri->query ? evhtp_kv_find(req->uri->query, "session") : nullptr;
  const std::string& own = gApp->sessionId;
  if (!given || strlen(given) != own.size()) return false;
  return CRYPTO_memcmp(given, own.data(), own.size()) == 0;
}

static void session_refuse(evhtp_request_t* req, bool channel) {
  char peer[64] = "unknown";
  evhtp_connection_t* conn = evhtp_request_get_connection(req);
  if (conn && conn->saddr && conn->saddr->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(conn->saddr)->sin_addr, peer, sizeof peer);
  const char* path = req->uri && req->uri->path && req->uri->path->full ? req->uri->path->full : "";
  TE_Trace(TRACE_FAIL, "[%d] - Refused %s from [%s]: the session identifier is missing or wrong.\n",
           kvx_getpid(), path, peer);
  if (!channel) {
    evbuffer_drain(req->buffer_in, evbuffer_get_length(req->buffer_in));
    send_json_response(req, nullptr, KVX_STATUS_FORBIDDEN);
    return;
  }
  static const char kText[] = "Forbidden: the session identifier is missing or wrong.";
  evbuffer_add(req->buffer_out, kText, sizeof kText - 1);
  evhtp_headers_add_header(
      req->headers_out, evhtp_header_new("Content-Length", std::to_string(sizeof kText - 1).c_str(), 0, 1));
  log_request_info(req, EVHTP_RES_FORBIDDEN);
  kvx_send_reply(req, EVHTP_RES_FORBIDDEN);
}

template <evhtp_callback_cb handler, bool channel>
static void session_guarded(evhtp_request_t* req, void* arg) {
  if (!session_secret_ok(req)) {
    session_refuse(req, channel);
    return;
  }
  handler(req, arg);
}

static void register_session_routes(app_s* app) {
  evhtp_set_cb(app->htp, "/shutdown_session", session_guarded<shutdown_session, false>, nullptr);
  evhtp_set_cb(app->htp, "/load_config", session_guarded<load_config, false>, nullptr);
  evhtp_set_cb(app->htp, "/get_config_values", session_guarded<get_config_values, false>, nullptr);
  evhtp_set_cb(app->htp, "/load_capture", session_guarded<load_capture, false>, nullptr);
  evhtp_set_cb(app->htp, "/get_te_channel", session_guarded<get_te_channel, true>, nullptr);
  evhtp_set_cb(app->htp, "/print_jobs", session_guarded<list_print_jobs, false>, nullptr);
  evhtp_set_cb(app->htp, "/get_file", session_guarded<get_file, true>, nullptr);
  evhtp_set_gencb(app->htp, handle_get_request, const_cast<char*>("console"));
}

// ---- the session's address-space bound ----

// Memory held back for the way out: when an allocation fails under the
// session's address-space bound, it is given back so that the session can
// tell its browsers and end in order, on the next turn of its loop.  A
// second failure before that ends the process at once.
static char* g_memoryReserve = nullptr;
static event* g_memoryExhausted = nullptr;
constexpr size_t kMemoryReserve = 1u << 20;

static const char kOutOfMemory[] = "The session reached its memory bound and has ended.";

static void session_memory_exhausted(evutil_socket_t, short, void* arg) {
  app_s* app = static_cast<app_s*>(arg);
  app_pause_host_reads(app, true);
  const char* fields[] = {"1", kOutOfMemory, nullptr};
  kvx_send_all(app, KVX_HOST_ACTION_SHOW_FATAL_ERROR, fields, nullptr, 0);
  // A second out the door for the message to reach the browsers.
  timeval flush = {1, 0};
  event_base_loopexit(app->evbase, &flush);
}

static void session_out_of_memory() {
  if (!g_memoryReserve) {
    // No room left for an orderly end: the browsers are told as far as
    // that is possible without memory, and the process ends.
    static const char kLine[] = "Session out of memory again, ending it at once.\n";
    if (write(2, kLine, sizeof kLine - 1) < 0) {
    }
    kvx_channel_last_words(gApp, kOutOfMemory);
    _exit(3);
  }
  free(g_memoryReserve);
  g_memoryReserve = nullptr;
  struct rlimit bound = {};
  getrlimit(RLIMIT_AS, &bound);
  TE_Trace(TRACE_FAIL, "[%d] - Session out of memory (bound %llu MiB), ending it.\n", kvx_getpid(),
           static_cast<unsigned long long>(bound.rlim_cur) >> 20);
  kvx_stats_set(&kvx_stats()->exitReason, KVX_EXIT_OUT_OF_MEMORY);
  if (g_memoryExhausted) event_active(g_memoryExhausted, EV_TIMEOUT, 0);
}

static void session_memory_guard(app_s* app) {
  g_memoryReserve = static_cast<char*>(malloc(kMemoryReserve));
  if (!g_memoryReserve) return;
  g_memoryExhausted = evtimer_new(app->evbase, session_memory_exhausted, app);
  std::set_new_handler(session_out_of_memory);
}

int listen() {
  app_s* app = gApp;
  int status = 0;
  event* signals[5] = {};
  signal(SIGPIPE, SIG_IGN);
  app->evbase = event_base_new();
  app->htp = app->evbase ? evhtp_new(app->evbase, nullptr) : nullptr;
  if (!app->htp) {
    TE_Trace(TRACE_FAIL, "ERROR: Unable to create the event loop.\n");
    if (app->evbase) event_base_free(app->evbase);
    app->evbase = nullptr;
    return 1;
  }
  // Request bodies are JSON documents; anything larger is refused.
  evhtp_set_max_body_size(app->htp, 16u << 20);
  const int stopSignals[] = {SIGINT, SIGHUP, SIGQUIT, SIGTERM};
  for (int i = 0; i < 4; i++) {
    signals[i] = evsignal_new(app->evbase, stopSignals[i], handle_shutdown, app);
    event_add(signals[i], nullptr);
  }

  bool ready = true;
  if (!app->certificateName.empty()) {
    ready = tls_setup(app);
  } else if (app->sslClientAuthEnabled) {
    app->sslClientAuthEnabled = false;
    TE_Trace(
        TRACE_FAIL,
        "ERROR: SSL not enabled because no server certificate is loaded (--clientAuthEnable ignored).\n");
  }

  if (ready && app->host_mode == 0) {
    signals[4] = evsignal_new(app->evbase, SIGCHLD, handle_child_shutdown, app);
    event_add(signals[4], nullptr);
    if (listener_start(app, app->bindAddress.c_str(), app->bindPort)) {
      char host[256] = "localhost";
      gethostname(host, sizeof host - 1);
      TE_Trace(TRACE_PRINT, "[%d] - Kavrix startup, listening on [%s:%d] for connections (SSL %s).\n",
               kvx_getpid(), host, app->listenPort, app->sslEnabled ? "Enabled" : "Not Enabled");
      evhtp_set_post_accept_cb(app->htp, post_accept, app);
      register_server_routes(app);
      event_base_dispatch(app->evbase);
    } else {
      status = 1;
    }
  } else if (ready) {
    // Loopback alone, unless the sessions are exposed as they once were.
    const char* address = kvx_options().exposeSessions ? app->bindAddress.c_str() : "127.0.0.1";
    if (listener_start(app, address, 0)) {
      printf("Child process [%d] starting HTTP service, listening on port [%d].\n", kvx_getpid(),
             app->listenPort);
      fflush(stdout);
      // The session port carries the channel, a shell included: it asks for
      // client certificates exactly as the server's port does.
      evhtp_set_post_accept_cb(app->htp, post_accept, app);
      register_session_routes(app);
      kvx_set_idle_timeout(kvx_options().idleSeconds);
      // Recordings and kept print jobs are named by the session's short
      // identifier (not the secret whole).
      std::string label = kvx_log_short_id(app->sessionId);
      if (label.size() > 3 && label.compare(label.size() - 3, 3, "...") == 0) label.resize(label.size() - 3);
      if (!kvx_options().recordDir.empty()) kvx_record_start(kvx_options().recordDir, label);
      if (!kvx_options().printDir.empty()) app_print_set_dir(kvx_options().printDir, label);
      session_memory_guard(app);
      kvx_channel_start(app);
      post_update_session(app->sessionId.c_str(), app->listenPort);
      kvx_start_ping_timer(app);
      event_base_dispatch(app->evbase);
      kvx_stop_ping_timer(app);
      if (g_memoryExhausted) event_free(g_memoryExhausted);
      g_memoryExhausted = nullptr;
      kvx_channel_stop(app);
      app_end_session(app);
      kvx_record_stop();
    } else {
      status = 1;
    }
  }

  // Teardown.
  if (g_stopTimer) event_free(g_stopTimer);
  g_stopTimer = nullptr;
  kvx_relay_teardown();
  kvx_loopback_teardown();
  broker_teardown(app);
  listener_stop(app);
  kvx_http_free_connections();
  for (event* ev : signals)
    if (ev) event_free(ev);
  if (app->ssl_client_ctx) SSL_CTX_free(app->ssl_client_ctx);
  app->ssl_client_ctx = nullptr;
  evhtp_free(app->htp);  // frees the listener's TLS context
  app->htp = nullptr;
  app->ssl_host_ctx = nullptr;
  tls_free_cfg(app->ssl_host_cfg);
  app->ssl_host_cfg = nullptr;
  event_base_free(app->evbase);
  app->evbase = nullptr;
  return status;
}

// ---- signals ----

static void server_stop(app_s* app);

void handle_shutdown(evutil_socket_t sig, short, void* arg) {
  app_s* app = static_cast<app_s*>(arg);
  if (app->host_mode == 1) {
    kvx_stats_set(&kvx_stats()->exitReason, KVX_EXIT_SIGNAL);
    event_base_loopbreak(app->evbase);
    return;
  }
  if (!app->kvx_sessions.empty() || (sig == SIGTERM && kvx_relay_count() > 0)) {
    TE_Trace(TRACE_PRINT, "Recived signal [%d], waiting for child processes.\n", static_cast<int>(sig));
    if (sig == SIGTERM) server_stop(app);
    app->shutdown = true;
    return;
  }
  TE_Trace(TRACE_PRINT, "Recieved signal [%d], no active TE sessions, stopping.\n", static_cast<int>(sig));
  event_base_loopbreak(app->evbase);
}

// A clean stop (SIGTERM): no new connections, every session is asked to
// end (it tells its browsers), and whatever is still there when the stop
// bound has passed is killed, so that the server is gone within it.
static void server_stop_bound(evutil_socket_t, short, void* arg) {
  app_s* app = static_cast<app_s*>(arg);
  TE_Trace(TRACE_FAIL, "[%d] - Stop bound of %d seconds reached: ending %zu session processes.\n",
           kvx_getpid(), kvx_options().stopSeconds, app->kvx_sessions.size());
  for (kvx_session_t* s : app->kvx_sessions) kill(s->pid, SIGKILL);
  event_base_loopbreak(app->evbase);
}

static void server_stop(app_s* app) {
  // The listening socket goes: new connections are refused at once, the
  // ones already open carry on.
  if (g_acceptPause) evtimer_del(g_acceptPause);
  if (app->htp && app->htp->server) evhtp_unbind_socket(app->htp);
  post_http_chld_shutdown_events();
  if (g_stopTimer) return;
  g_stopTimer = evtimer_new(app->evbase, server_stop_bound, app);
  timeval bound = {kvx_options().stopSeconds, 0};
  if (g_stopTimer) evtimer_add(g_stopTimer, &bound);
}

void handle_child_shutdown(evutil_socket_t, short, void* arg) {
  app_s* app = static_cast<app_s*>(arg);
  for (;;) {
    int status = 0;
    pid_t pid = waitpid(-1, &status, WNOHANG);
    if (pid <= 0) break;
    TE_Trace(TRACE_PRINT, "Child process [%d] stopped with exit status [%d].\n", static_cast<int>(pid),
             status);
    kvx_session_reaped(static_cast<int>(pid), status);
  }
  kvx_stop_when_drained(app);
}

// Answers relayed from a session that has just ended are still passed on
// before the loop stops.
void kvx_stop_when_drained(app_s* app) {
  if (app->host_mode != 0 || !app->shutdown || !app->kvx_sessions.empty() || app->loopbackInFlight > 0 ||
      kvx_relay_count() > 0)
    return;
  TE_Trace(TRACE_PRINT, "Child processes have been stopped, stoping...\n");
  event_base_loopbreak(app->evbase);
}

// Client certificates are not asked of the two roles' own requests: those
// that reach the address the roles use for each other (127.0.0.1, or the
// bound address when one is given) from this machine itself, that is from
// a loopback address or from that very address (the kernel gives a
// connection to a local address that address as its source, and drops
// packets from outside that claim one of its own).
static bool post_accept_is_own(int fd) {
  sockaddr_in local, peer;
  socklen_t len = sizeof local, peerLen = sizeof peer;
  in_addr own;
  const char* ownAddress = gApp->host_mode == 1 ? kvx_session_address() : kvx_loopback_address();
  if (inet_pton(AF_INET, ownAddress, &own) != 1 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 || local.sin_family != AF_INET ||
      getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0 || peer.sin_family != AF_INET)
    return false;
  if (local.sin_addr.s_addr != own.s_addr) return false;
  return (ntohl(peer.sin_addr.s_addr) >> 24) == 127 || peer.sin_addr.s_addr == local.sin_addr.s_addr;
}

evhtp_res post_accept(evhtp_connection_t* connection, void* arg) {
  app_s* app = static_cast<app_s*>(arg);
  kvx_http_track_connection(connection);
  if (!app->sslClientAuthEnabled || !connection || !connection->ssl) return EVHTP_RES_OK;
  if (!post_accept_is_own(connection->sock))
    SSL_set_verify(connection->ssl, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  return EVHTP_RES_OK;
}
