// The connection test rig (see conn_test_util.h).
#include "conn_test_util.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace kvxtest {

static PromptRecorder* g_recorder = nullptr;

static int rec_entry(void*, const char* title, bool, const char*, const char*, std::string* text) {
  if (!g_recorder) return 0;
  g_recorder->entries.push_back(title);
  if (g_recorder->entryAnswers.empty()) return 0;
  *text = g_recorder->entryAnswers.front();
  g_recorder->entryAnswers.erase(g_recorder->entryAnswers.begin());
  return 1;
}
static int rec_yesno(void*, const char*, const char*) {
  return g_recorder ? g_recorder->yesnoAnswer : 0;
}
static void rec_fatal(void*, bool fatal, const char* text) {
  if (g_recorder) g_recorder->errors.push_back(std::string(fatal ? "F:" : "E:") + text);
}

PromptRecorder::PromptRecorder() {
  g_recorder = this;
  LumPromptHooks hooks;
  hooks.entry = rec_entry;
  hooks.yesno = rec_yesno;
  hooks.fatal = rec_fatal;
  LumSetPromptHooks(&hooks);
}

PromptRecorder::~PromptRecorder() {
  LumSetPromptHooks(nullptr);
  g_recorder = nullptr;
}

bool PromptRecorder::HasError(const std::string& needle) const {
  for (const auto& e : errors)
    if (e.find(needle) != std::string::npos) return true;
  return false;
}

std::string PromptRecorder::AllErrors() const {
  std::string all;
  for (const auto& e : errors) all += "[" + e + "]";
  return all;
}

// ---- peer link ------------------------------------------------------------

PeerLink::~PeerLink() {
  Close();
}

void PeerLink::Close() {
  if (_ssl) {
    SSL_shutdown(_ssl);
    SSL_free(_ssl);
    _ssl = nullptr;
  }
  if (_ctx) {
    SSL_CTX_free(_ctx);
    _ctx = nullptr;
  }
  if (_fd >= 0) close(_fd);
  _fd = -1;
}

void PeerLink::Abort() {
  if (_ssl) {
    SSL_free(_ssl);  // without SSL_shutdown: nothing more is sent
    _ssl = nullptr;
  }
  Close();
}

void PeerLink::Send(const std::string& bytes) {
  if (_fd < 0) return;
  if (_ssl) {
    SSL_write(_ssl, bytes.data(), static_cast<int>(bytes.size()));
    return;
  }
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = send(_fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    off += static_cast<size_t>(n);
  }
}

// >0 bytes appended, 0 nothing within the timeout, -1 end of stream/error.
int PeerLink::ReadSome(int timeoutMs) {
  if (_fd < 0) return -1;
  char buf[4096];
  if (!_ssl || SSL_pending(_ssl) == 0) {
    struct pollfd p = {_fd, POLLIN, 0};
    int r = poll(&p, 1, timeoutMs);
    if (r == 0) return 0;
    if (r < 0) return errno == EINTR ? 0 : -1;
  }
  int n;
  if (_ssl) {
    n = SSL_read(_ssl, buf, sizeof buf);
    if (n <= 0) {
      int err = SSL_get_error(_ssl, n);
      return (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) ? 0 : -1;
    }
  } else {
    n = static_cast<int>(recv(_fd, buf, sizeof buf, 0));
    if (n <= 0) return (n < 0 && errno == EINTR) ? 0 : -1;
  }
  _in.append(buf, static_cast<size_t>(n));
  return n;
}

bool PeerLink::Expect(const std::string& needle, std::chrono::milliseconds wait) {
  auto end = Clock::now() + wait;
  while (_in.find(needle, _mark) == std::string::npos) {
    if (Clock::now() >= end) return false;
    if (ReadSome(50) < 0) return _in.find(needle, _mark) != std::string::npos;
  }
  return true;
}

void PeerLink::Drain(std::chrono::milliseconds wait) {
  auto end = Clock::now() + wait;
  while (Clock::now() < end)
    if (ReadSome(20) < 0) return;
}

bool PeerLink::StartTlsServer(const std::string& certFile, const std::string& keyFile) {
  _ctx = SSL_CTX_new(TLS_server_method());
  if (!_ctx || SSL_CTX_use_certificate_chain_file(_ctx, certFile.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(_ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
    return false;
  _ssl = SSL_new(_ctx);
  SSL_set_fd(_ssl, _fd);
  // The link is blocking with a receive timeout, so the handshake cannot hang.
  struct timeval tv = {15, 0};
  setsockopt(_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  int r = SSL_accept(_ssl);
  if (r != 1) {
    ERR_clear_error();
    SSL_free(_ssl);
    _ssl = nullptr;
    return false;
  }
  return true;
}

// ---- scripted peer ----------------------------------------------------------

ScriptedPeer::ScriptedPeer(std::function<void(PeerLink&)> script, bool tlsFromStart, std::string cert,
                           std::string key) {
  _listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(_listen, 4);
  socklen_t len = sizeof a;
  getsockname(_listen, reinterpret_cast<sockaddr*>(&a), &len);
  _port = ntohs(a.sin_port);
  int lfd = _listen;
  _thread = std::thread([this, lfd, script, tlsFromStart, cert, key] {
    struct pollfd p = {lfd, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) return;
    int fd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    PeerLink link(fd);
    if (tlsFromStart && !link.StartTlsServer(cert, key)) {
      link.Close();
      return;
    }
    script(link);
    _ok = true;
  });
}

bool ScriptedPeer::Join() {
  if (!_joined && _thread.joinable()) _thread.join();
  _joined = true;
  return _ok;
}

ScriptedPeer::~ScriptedPeer() {
  if (_listen >= 0) shutdown(_listen, SHUT_RDWR);
  Join();
  if (_listen >= 0) close(_listen);
}

// ---- pump ---------------------------------------------------------------------

int Pump::Connect(std::chrono::milliseconds limit) {
  _result = _conn->MakeConnection();
  auto end = Clock::now() + limit;
  while (_result == LUM_CONNECT_PENDING && Clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    _result = _conn->ContinueConnection();
  }
  return _result;
}

void Pump::Pass(int waitMs) {
  if (_closed || _conn->fd() <= 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    return;
  }
  struct pollfd p = {_conn->fd(), POLLIN, 0};
  if (poll(&p, 1, waitMs) <= 0 && _conn->HasData() <= 0) return;
  if (!_conn->IsConnected() || !_conn->IsReady()) return;
  char buf[1024];
  for (;;) {
    int n = _conn->Read(buf, sizeof buf);
    if (n < 0) {
      _closed = true;
      return;
    }
    for (int end : _conn->RecordEnds()) _recordEnds.push_back(_data.size() + static_cast<size_t>(end));
    if (n > 0) _data.append(buf, static_cast<size_t>(n));
    if (n == 0 && _conn->HasData() <= 0) return;
  }
}

bool Pump::WaitFor(const std::string& needle, std::chrono::milliseconds limit) {
  auto end = Clock::now() + limit;
  while (_data.find(needle) == std::string::npos) {
    if (_closed || Clock::now() >= end) return false;
    _conn->KeepAliveCheck();
    Pass(50);
  }
  return true;
}

bool Pump::WaitClosed(std::chrono::milliseconds limit) {
  auto end = Clock::now() + limit;
  while (!_closed && Clock::now() < end) Pass(50);
  return _closed;
}

// ---- processes, ports, certificates ------------------------------------------

std::string TempDir() {
  char tmpl[] = "/tmp/kvx-conn-XXXXXX";
  const char* d = mkdtemp(tmpl);
  return d ? d : "/tmp";
}

int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

int Run(const std::string& command) {
  int status = system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WaitListening(int port, std::chrono::milliseconds limit) {
  auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int r = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    close(s);
    if (r == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TestCert TestCert::Make(const std::string& name, const std::string& sans) {
  TestCert c;
  c.dir = TempDir();
  c.cert = c.dir + "/" + name + ".crt";
  c.key = c.dir + "/" + name + ".key";
  Run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=" + name +
      " -addext subjectAltName=" + sans + " -keyout " + c.key + " -out " + c.cert + " >/dev/null 2>&1");
  return c;
}

Background::Background(const std::string& command) {
  _pid = fork();
  if (_pid == 0) {
    setpgid(0, 0);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (_pid > 0) setpgid(_pid, _pid);
}

Background::~Background() {
  if (_pid <= 0) return;
  kill(-_pid, SIGTERM);
  int status;
  for (int i = 0; i < 100; ++i) {
    if (waitpid(_pid, &status, WNOHANG) == _pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(-_pid, SIGKILL);
  waitpid(_pid, &status, 0);
}

BacklogFullListener::BacklogFullListener() {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 0) != 0)
    return;
  socklen_t len = sizeof a;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  for (int i = 0; i < 4; ++i) {
    int f = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers_.push_back(f);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

BacklogFullListener::~BacklogFullListener() {
  for (int f : fillers_) close(f);
  if (listener_ >= 0) close(listener_);
}

bool BacklogFullListener::DropsConnects(std::chrono::milliseconds limit) const {
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port_));
  int probe = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  connect(probe, reinterpret_cast<sockaddr*>(&a), sizeof a);
  pollfd p = {probe, POLLOUT, 0};
  bool pending = poll(&p, 1, static_cast<int>(limit.count())) == 0;
  close(probe);
  return pending;
}

}  // namespace kvxtest
