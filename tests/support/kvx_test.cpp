// Test support: server process control, raw HTTP(S), WebSocket and channel
// frames for end-to-end tests.
#include "kvx_test.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "json.h"

namespace fs = std::filesystem;

namespace kvxtest {

using Clock = std::chrono::steady_clock;

bool WaitFor(const std::function<bool()>& done, double seconds) {
  auto end = Clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (done()) return true;
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

static std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

static void Run(const std::string& command) {
  if (system(command.c_str()) != 0) throw std::runtime_error("command failed: " + command);
}

void GenerateCerts(const std::string& d) {
  fs::create_directories(d);
  const std::string q = " >/dev/null 2>&1";
  Run("cd '" + d +
      "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca-key.pem -out ca.pem -days 2 -subj "
      "'/CN=Kavrix Test CA'" +
      q);
  Run("cd '" + d +
      "' && openssl req -newkey rsa:2048 -nodes -keyout server-key.pem -out server.csr -subj "
      "'/CN=localhost'" +
      q);
  Run("cd '" + d +
      "' && printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > san.ext && openssl x509 -req -in "
      "server.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial -out server-only.pem -days 2 -extfile "
      "san.ext" +
      q);
  Run("cd '" + d + "' && cat server-only.pem server-key.pem > server.pem && cp ca.pem cacerts.pem");
  Run("cd '" + d +
      "' && openssl req -newkey rsa:2048 -nodes -keyout client-key.pem -out client.csr -subj '/CN=browser'" +
      q);
  Run("cd '" + d +
      "' && openssl x509 -req -in client.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial -out client.pem "
      "-days 2" +
      q);
}

// ---- nginx in front ----

// A TCP port of 127.0.0.1 that was free a moment ago.
static int NginxFreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sin;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) == 0)
    port = ntohs(sin.sin_port);
  close(fd);
  return port;
}

static std::string ReadWhole(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

NginxProxy::NginxProxy(const std::string& example, const std::map<int, int>& ports,
                       const std::string& certsDir) {
  if (std::string why = Need({"/usr/sbin/nginx"}); !why.empty()) {
    error = why;
    return;
  }
  char tmpl[] = "/tmp/kvxnginx.XXXXXX";
  if (!mkdtemp(tmpl)) {
    error = "mkdtemp failed";
    return;
  }
  dir_ = tmpl;
  // Run as root, nginx's workers take another user, who must reach the
  // temporary directories below.
  chmod(dir_.c_str(), 0755);
  std::string conf = ReadWhole(example);
  if (conf.empty()) {
    error = "no example configuration at " + example;
    return;
  }
  for (auto [from, to] : ports)
    conf = std::regex_replace(conf, std::regex("127\\.0\\.0\\.1:" + std::to_string(from) + "\\b"),
                              "127.0.0.1:" + std::to_string(to));
  port_ = NginxFreePort();
  conf = std::regex_replace(conf, std::regex("listen 443 ssl;"),
                            "listen 127.0.0.1:" + std::to_string(port_) + " ssl;");
  conf = std::regex_replace(conf, std::regex("/etc/kavrix/certs/"), certsDir + "/");
  std::ofstream(dir_ + "/kavrix.conf") << conf;
  std::ofstream(dir_ + "/nginx.conf")
      << "worker_processes 1;\npid " << dir_ << "/nginx.pid;\nerror_log " << dir_
      << "/error.log info;\nevents { worker_connections 1024; }\nhttp {\n  access_log " << dir_
      << "/access.log;\n  client_body_temp_path " << dir_ << "/body;\n  proxy_temp_path " << dir_
      << "/proxy;\n  fastcgi_temp_path " << dir_ << "/fastcgi;\n  uwsgi_temp_path " << dir_
      << "/uwsgi;\n  scgi_temp_path " << dir_ << "/scgi;\n  include " << dir_ << "/kavrix.conf;\n}\n";
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    int out = open((dir_ + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(out, 2);
    execl("/usr/sbin/nginx", "nginx", "-p", (dir_ + "/").c_str(), "-e", (dir_ + "/error.log").c_str(), "-c",
          (dir_ + "/nginx.conf").c_str(), "-g", "daemon off;", static_cast<char*>(nullptr));
    _exit(127);
  }
  bool up = WaitFor(
      [&] {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
          pid_ = -1;
          return true;
        }
        Connection probe;
        return probe.Open(port_);
      },
      30);
  if (!up || pid_ < 0) {
    error = "nginx did not start:\n" + ReadWhole(dir_ + "/stderr.txt") + Log();
    port_ = 0;
  }
}

NginxProxy::~NginxProxy() {
  if (pid_ > 0) {
    kill(pid_, SIGQUIT);
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 10)) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }
  if (!dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

std::string NginxProxy::Log() const {
  return ReadWhole(dir_ + "/error.log") + ReadWhole(dir_ + "/access.log");
}

// ---- the server process ----

KavrixServer::KavrixServer(ServerOptions options) {
  char tmpl[] = "/tmp/kvxtest.XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  const std::string src = KVX_SOURCE_DIR, bin = KVX_BINARY_DIR;
  if (options.linkData) {
    fs::create_symlink(options.html.empty() ? src + "/html" : options.html, dir_ + "/html");
    if (fs::exists(src + "/codepage.dat")) fs::create_symlink(src + "/codepage.dat", dir_ + "/codepage.dat");
  }
  fs::create_directories(dir_ + "/certs");
  if (options.tls) GenerateCerts(dir_ + "/certs");
  if (!options.fakeChild.empty()) {
    std::ofstream(dir_ + "/Kavrix") << options.fakeChild;
    chmod((dir_ + "/Kavrix").c_str(), 0755);
  } else if (options.linkExecutable) {
    fs::create_symlink(bin + "/Kavrix", dir_ + "/Kavrix");
  }
  std::string exe = options.program.empty() ? bin + "/Kavrix" : options.program;
  std::vector<std::string> args = {"Kavrix"};
  args.insert(args.end(), options.args.begin(), options.args.end());
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    setpgid(0, 0);  // the server and its session processes form one group
    if (chdir(dir_.c_str()) != 0) _exit(127);
    if (!options.home.empty()) setenv("HOME", options.home.c_str(), 1);
    int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  setpgid(pid_, pid_);
  if (options.waitForStartup) {
    std::regex re(R"(listening on \[[^\]]*:(\d+)\])");
    std::smatch m;
    WaitFor([&] {
      std::string e = err();
      if (std::regex_search(e, m, re)) {
        port_ = std::stoi(m[1]);
        return true;
      }
      return !running();
    });
  }
}

KavrixServer::~KavrixServer() {
  if (pid_ > 0) {
    kill(-pid_, SIGKILL);
    if (!reaped_) waitpid(pid_, nullptr, 0);
  }
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string KavrixServer::out() const {
  return ReadFile(dir_ + "/stdout.txt");
}
std::string KavrixServer::err() const {
  return ReadFile(dir_ + "/stderr.txt");
}

bool KavrixServer::running() {
  if (reaped_) return false;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  return true;
}

int KavrixServer::Wait(double seconds) {
  if (!WaitFor([&] { return !running(); }, seconds)) return -1;
  return status_;
}

int KavrixServer::Stop(int sig, double seconds) {
  if (running()) kill(pid_, sig);
  int status = Wait(seconds);
  if (status < 0) {
    kill(pid_, SIGKILL);
    Wait(10);
  }
  return status;
}

bool KavrixServer::WaitForOutput(const std::string& text, double seconds, bool inStderr) {
  return WaitFor([&] { return (inStderr ? err() : out()).find(text) != std::string::npos; }, seconds);
}

int KavrixServer::ChildPid(int port, double seconds) {
  std::regex re(R"(Child process \[(\d+)\] starting HTTP service, listening on port \[)" +
                std::to_string(port) + R"(\])");
  int pid = -1;
  WaitFor(
      [&] {
        std::smatch m;
        std::string text = out();
        if (std::regex_search(text, m, re)) pid = std::stoi(m[1]);
        return pid > 0;
      },
      seconds);
  return pid;
}

bool ProcessAlive(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return false;
  std::string line;
  std::getline(stat, line);
  size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

// ---- connections ----

Connection::~Connection() {
  Close();
}

void Connection::Close() {
  if (ssl_) {
    SSL_free(static_cast<SSL*>(ssl_));
    ssl_ = nullptr;
  }
  if (ctx_) {
    SSL_CTX_free(static_cast<SSL_CTX*>(ctx_));
    ctx_ = nullptr;
  }
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool Connection::Open(int port, const TlsOptions& tls, const std::string& host) {
  Close();
  closed_ = false;
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, host.c_str(), &sin.sin_addr);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) return false;
  int one = 1;
  setsockopt(fd_, IPPROTO_TCP, 1 /* TCP_NODELAY */, &one, sizeof one);
  if (!tls.enabled) return true;
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  ctx_ = ctx;
  if (!tls.certFile.empty()) {
    SSL_CTX_use_certificate_file(ctx, tls.certFile.c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(ctx, tls.keyFile.c_str(), SSL_FILETYPE_PEM);
  }
  SSL* ssl = SSL_new(ctx);
  ssl_ = ssl;
  SSL_set_fd(ssl, fd_);
  return SSL_connect(ssl) == 1;
}

bool Connection::Write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        ssl_ ? SSL_write(static_cast<SSL*>(ssl_), bytes.data() + done, static_cast<int>(bytes.size() - done))
             : send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string Connection::ReadSome(size_t max, double seconds) {
  if (!pending_.empty()) {
    std::string out = pending_.substr(0, max);
    pending_.erase(0, out.size());
    return out;
  }
  if (fd_ < 0 || closed_) return "";
  if (!(ssl_ && SSL_pending(static_cast<SSL*>(ssl_)) > 0)) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0) return "";
  }
  std::string buf(max, '\0');
  ssize_t n = ssl_ ? SSL_read(static_cast<SSL*>(ssl_), buf.data(), static_cast<int>(max))
                   : recv(fd_, buf.data(), max, 0);
  if (n <= 0) {
    closed_ = true;
    return "";
  }
  buf.resize(static_cast<size_t>(n));
  return buf;
}

void Connection::Unread(const std::string& bytes) {
  pending_.insert(0, bytes);
}

std::string Connection::ReadExact(size_t n, double seconds) {
  std::string out;
  auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (out.size() < n && !closed_) {
    double left = std::chrono::duration<double>(end - Clock::now()).count();
    if (left <= 0) break;
    out += ReadSome(n - out.size(), left);
  }
  return out;
}

bool Connection::WaitClosed(double seconds) {
  auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (!closed_) {
    double left = std::chrono::duration<double>(end - Clock::now()).count();
    if (left <= 0) return false;
    std::string got = ReadSome(65536, left);
    (void)got;
  }
  return true;
}

// ---- HTTP ----

std::optional<std::string> HttpResponse::header(const std::string& name) const {
  for (auto& [k, v] : headers)
    if (strcasecmp(k.c_str(), name.c_str()) == 0) return v;
  return std::nullopt;
}

static bool ParseResponse(const std::string& raw, HttpResponse* r, bool requireEnd) {
  size_t headEnd = raw.find("\r\n\r\n");
  if (headEnd == std::string::npos) return false;
  std::istringstream head(raw.substr(0, headEnd));
  std::string line;
  std::getline(head, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  r->statusLine = line;
  r->status = line.size() > 12 ? atoi(line.c_str() + 9) : 0;
  r->headers.clear();
  while (std::getline(head, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string v = line.substr(colon + 1);
    while (!v.empty() && v[0] == ' ') v.erase(0, 1);
    r->headers.emplace_back(line.substr(0, colon), v);
  }
  r->body = raw.substr(headEnd + 4);
  if (auto len = r->header("Content-Length")) {
    size_t n = std::stoul(*len);
    if (r->body.size() < n) return false;
    r->body.resize(n);
    return true;
  }
  return !requireEnd || r->status == 101;
}

HttpResponse HttpRequest(int port, const std::string& method, const std::string& path,
                         const std::string& body, const std::map<std::string, std::string>& headers,
                         const TlsOptions& tls, const std::string& host) {
  HttpResponse r;
  Connection c;
  if (!c.Open(port, tls, host)) return r;
  std::string req = method + " " + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n";
  bool hasLength = false;
  for (auto& [k, v] : headers) {
    req += k + ": " + v + "\r\n";
    if (strcasecmp(k.c_str(), "Content-Length") == 0 || strcasecmp(k.c_str(), "Transfer-Encoding") == 0)
      hasLength = true;
  }
  if (!hasLength && (!body.empty() || method == "POST"))
    req += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  req += "\r\n" + body;
  if (!c.Write(req)) return r;
  auto end = Clock::now() + std::chrono::seconds(60);
  while (!c.closed() && Clock::now() < end) {
    std::string got = c.ReadSome(65536, 1);
    r.raw += got;
    if (ParseResponse(r.raw, &r, true)) break;
  }
  r.ok = ParseResponse(r.raw, &r, false);
  if (path.rfind("/new_session", 0) == 0 && r.status == 200) {
    const std::string id = JsonText(r.body, "content.sessionId");
    const int sessionPort = JsonInt(r.body, "content.port", 0);
    if (!id.empty() && sessionPort > 0) RememberSession(sessionPort, id);
  }
  return r;
}

namespace {
std::mutex g_sessionsLock;
std::map<int, std::string> g_sessionIds;
}  // namespace

void RememberSession(int sessionPort, const std::string& id) {
  std::lock_guard<std::mutex> lock(g_sessionsLock);
  g_sessionIds[sessionPort] = id;
}

std::string SessionIdOfPort(int sessionPort) {
  std::lock_guard<std::mutex> lock(g_sessionsLock);
  auto it = g_sessionIds.find(sessionPort);
  return it == g_sessionIds.end() ? std::string() : it->second;
}

HttpResponse PostJson(int port, const std::string& path, const std::string& json, const TlsOptions& tls) {
  return HttpRequest(port, "POST", path, json, {{"Content-Type", "application/json"}}, tls);
}

// ---- WebSocket ----

std::string WsEncode(int op, const std::string& payload, bool mask, int lengthForm) {
  std::string out;
  out.push_back(static_cast<char>(0x80 | op));
  uint64_t n = payload.size();
  int form = lengthForm >= 0 ? lengthForm : (n <= 125 ? 0 : n <= 65535 ? 126 : 127);
  uint8_t m = mask ? 0x80 : 0;
  if (form == 0) {
    out.push_back(static_cast<char>(m | n));
  } else if (form == 126) {
    out.push_back(static_cast<char>(m | 126));
    out.push_back(static_cast<char>(n >> 8));
    out.push_back(static_cast<char>(n));
  } else {
    out.push_back(static_cast<char>(m | 127));
    for (int i = 7; i >= 0; i--) out.push_back(static_cast<char>(n >> (8 * i)));
  }
  if (!mask) return out + payload;
  static std::mt19937 rng(12345);
  char key[4];
  for (char& k : key) k = static_cast<char>(rng());
  out.append(key, 4);
  for (size_t i = 0; i < payload.size(); i++) out.push_back(static_cast<char>(payload[i] ^ key[i % 4]));
  return out;
}

HttpResponse WsClient::Handshake(int port, const std::string& protocol, const TlsOptions& tls,
                                 const std::string& key, const std::string& upgrade) {
  const std::string id = SessionIdOfPort(port);
  return HandshakePath(port, id.empty() ? "/get_te_channel" : "/get_te_channel?session=" + id, protocol, tls,
                       key, upgrade);
}

HttpResponse WsClient::HandshakePath(int port, const std::string& path, const std::string& protocol,
                                     const TlsOptions& tls, const std::string& key,
                                     const std::string& upgrade) {
  HttpResponse r;
  if (!conn.Open(port, tls)) return r;
  std::string req = "GET " + path +
                    " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: " + upgrade +
                    "\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Key: " + key + "\r\n";
  if (!protocol.empty()) req += "Sec-WebSocket-Protocol: " + protocol + "\r\n";
  req += "\r\n";
  conn.Write(req);
  std::string raw;
  auto end = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < end && !conn.closed()) {
    raw += conn.ReadSome(1, 1);  // byte by byte: nothing past the answer is taken
    if (raw.size() >= 4 && raw.compare(raw.size() - 4, 4, "\r\n\r\n") == 0) {
      ParseResponse(raw, &r, false);  // the status and headers; the body may follow
      if (r.status != 101) {
        if (auto len = r.header("Content-Length")) raw += conn.ReadExact(std::stoul(*len), 10);
      }
      break;
    }
  }
  r.raw = raw;
  r.ok = ParseResponse(raw, &r, false);
  return r;
}

bool WsClient::SendSplit(const std::string& bytes) {
  for (char c : bytes) {
    if (!conn.Write(std::string(1, c))) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::optional<WsFrame> WsClient::ReceiveOp(int op, double seconds) {
  auto end = Clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    double left = std::chrono::duration<double>(end - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    auto f = Receive(left);
    if (!f || f->op == op) return f;
  }
}

std::optional<WsFrame> WsClient::Receive(double seconds) {
  // A frame that is not whole by the deadline goes back to the connection,
  // so that the next call reads it from its start.
  std::string taken;
  auto part = [&](size_t n) {
    std::string got = conn.ReadExact(n, seconds);
    taken += got;
    return got.size() == n ? std::optional<std::string>(got) : std::nullopt;
  };
  auto h = part(2);
  if (!h) {
    conn.Unread(taken);
    return std::nullopt;
  }
  WsFrame f;
  f.fin = ((*h)[0] & 0x80) != 0;
  f.op = (*h)[0] & 0x0F;
  f.masked = ((*h)[1] & 0x80) != 0;
  uint64_t n = (*h)[1] & 0x7F;
  if (n == 126 || n == 127) {
    auto ext = part(n == 126 ? 2 : 8);
    if (!ext) {
      conn.Unread(taken);
      return std::nullopt;
    }
    n = 0;
    for (unsigned char c : *ext) n = (n << 8) | c;
  }
  auto key = f.masked ? part(4) : std::optional<std::string>("");
  auto payload = key ? part(n) : std::nullopt;
  if (!payload) {
    conn.Unread(taken);
    return std::nullopt;
  }
  f.payload = *payload;
  if (f.masked)
    for (size_t i = 0; i < n; i++) f.payload[i] ^= (*key)[i % 4];
  return f;
}

// ---- channel frames ----

std::string ChannelEncodeField(const std::string& field) {
  if (field.empty()) return " ";
  std::string out;
  char hex[4];
  for (unsigned char c : field) {
    if (c == '%' || c < 0x20 || c >= 0x7F) {
      snprintf(hex, sizeof hex, "%%%02x", c);
      out += hex;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string ChannelEncode(int action, const std::vector<std::string>& fields, const std::string& data) {
  std::string out = "KVX 1.0\n" + std::to_string(action) + "\n";
  for (auto& f : fields) out += ChannelEncodeField(f) + "\n";
  return out + "\n" + std::to_string(data.size()) + "\n" + data;
}

static std::string ChannelDecodeField(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::optional<ChannelFrame> ChannelDecode(std::string& bytes) {
  std::vector<std::string> lines;
  size_t pos = 0;
  for (;;) {
    size_t nl = bytes.find('\n', pos);
    if (nl == std::string::npos) return std::nullopt;
    lines.push_back(bytes.substr(pos, nl - pos));
    pos = nl + 1;
    if (lines.size() >= 3 && lines[lines.size() - 2].empty()) break;
  }
  size_t n = std::stoul(lines.back());
  if (bytes.size() < pos + n) return std::nullopt;
  ChannelFrame f;
  f.action = std::stoi(lines[1]);
  for (size_t i = 2; i + 2 < lines.size(); i++) f.fields.push_back(ChannelDecodeField(lines[i]));
  f.data = bytes.substr(pos, n);
  bytes.erase(0, pos + n);
  return f;
}

std::optional<ChannelFrame> ReceiveChannelFrame(WsClient& ws, double seconds) {
  auto end = Clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    double left = std::chrono::duration<double>(end - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    auto f = ws.Receive(left);
    if (!f) return std::nullopt;
    if (f->op != 2) continue;
    std::string bytes = f->payload;
    return ChannelDecode(bytes);
  }
}

// ---- JSON answers ----

int EnvelopeCode(const std::string& body) {
  return JsonInt(body, "code");
}

// Follows a dotted member path ("content.port") from the document root.
static js_value_s* JsonLookup(js_value_s* root, const std::string& path) {
  js_value_s* v = root;
  size_t start = 0;
  while (v) {
    size_t dot = path.find('.', start);
    v = js_value_get(v, path.substr(start, dot - start).c_str());
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return v;
}

std::string JsonText(const std::string& body, const std::string& name) {
  js_value_s* v = parse_json(body.c_str());
  std::string out = js_value_string(JsonLookup(v, name));
  js_free_value(v);
  return out;
}

int JsonInt(const std::string& body, const std::string& name, int otherwise) {
  js_value_s* v = parse_json(body.c_str());
  js_value_s* m = JsonLookup(v, name);
  int out = m && m->type == JS_VALUE_INTEGER ? js_value_int(m) : otherwise;
  js_free_value(v);
  return out;
}

}  // namespace kvxtest
