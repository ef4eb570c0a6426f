// The telnet connection: settings, the non-blocking connect and its
// completion, reading through the telnet parser, sending with IAC doubling,
// keep-alives.  TLS set-up lives in telnettls.cpp.
#include "telnetconnection.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "emulation_ids.h"
#include "lumdict.h"
#include "station_identity.h"
#include "tetrace.h"

// Consecutive TLS reads that would block before the socket's own state is
// consulted.
static constexpr int kTelnetMaxSslReadFailures = 999999;

LumTelnetConnection::LumTelnetConnection() = default;

LumTelnetConnection::~LumTelnetConnection() {
  Disconnect();
  FreeTls();
}

void LumTelnetConnection::UseDictionary(LumDict* dict) {
  LumConnection::UseDictionary(dict);
  if (!dict) return;
  int commtype = dict->intValueForKey("commtype");
  _useSSL = commtype == 4 || commtype == 8;
  _useStartTLS = false;
  if (_useSSL) {
    std::string startTls = dict->stringValueForKey("useStartTLS");
    _useStartTLS = startTls.empty() ? commtype == 4 : dict->boolValueForKey("useStartTLS");
  }
  _tn3270Mode = kvx_em_is_3270(_emulation);
  _tn5250Mode = kvx_em_is_5250(_emulation);
  _sslPrivateKey = dict->stringValueForKey("sslPrivateKey");
  _sslPrivateKeyPassword = dict->stringValueForKey("sslPrivateKeyPassword");
  _ibmTerminalName = dict->stringValueForKey("ibmterminalname");
  _keepAliveInterval = dict->intValueForKey("telnetkeepalive");
  _useSystemConnection = dict->boolValueForKey("useSystemConnection");
  _sslVerifyServer = dict->boolValueForKey("sslVerifyServer");
  _sslCAFile = dict->stringValueForKey("sslCAFile");
}

std::string LumTelnetConnection::GetEmName() {
  if (_tn3270Mode || _tn5250Mode) return _ibmTerminalName;
  return LumConnection::GetEmName();
}

int LumTelnetConnection::MakeConnection() {
  if (_useSystemConnection) {
    Log("LumTelnetConnection: no system-provided connection on this platform\n");
    return -1;
  }
  return MakeDirectConnection();
}

int LumTelnetConnection::MakeDirectConnection() {
  _parser.Reset();
  LumTelnetSettings settings;
  settings.emName = GetEmName();
  settings.devName = _teltermtype;
  settings.tn3270Mode = _tn3270Mode;
  settings.tn5250Mode = _tn5250Mode;
  settings.useSSL = _useSSL;
  LumStationIdentity(_dict, &settings);
  _parser.Configure(settings);
  _haveEOR = false;
  _established = false;
  _tlsErrorShown = false;
  _nextKeepAliveTime = 0;

  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(_port));
  if (!_dialAddress.empty()) {
    if (inet_pton(AF_INET, _dialAddress.c_str(), &addr.sin_addr) != 1) {
      ShowError(true, "Could not resolve the hostname %s", _hostname.c_str());
      return -1;
    }
  } else if (inet_pton(AF_INET, _hostname.c_str(), &addr.sin_addr) != 1) {
    struct addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* res = nullptr;
    if (_hostname.empty() || getaddrinfo(_hostname.c_str(), nullptr, &hints, &res) != 0 || !res) {
      ShowError(true, "Could not resolve the hostname %s", _hostname.c_str());
      return -1;
    }
    addr.sin_addr = reinterpret_cast<struct sockaddr_in*>(res->ai_addr)->sin_addr;
    freeaddrinfo(res);
  }

  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    ShowError(true, "Networking failure");
    return -1;
  }
  int on = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(s, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on);
  fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);

  _fd = s;
  if (connect(s, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) == 0) {
    // Connected at once; TLS from the first byte still has its handshake.
    return ContinueConnection();
  }
  if (errno == EINPROGRESS || errno == EALREADY || errno == EINTR) {
    Log("MakeConnection (4) errno = %d (%s)\n", errno, strerror(errno));
    return -2;
  }
  Log("MakeConnection errno = %d (%s)\n", errno, strerror(errno));
  close(s);
  _fd = 0;
  ShowError(true, "Connection to %s failed", _hostname.c_str());
  return -1;
}

int LumTelnetConnection::gotFileDescriptor(int fd) {
  _fd = fd;
  if (fd <= 0) return -2;
  return ContinueConnection();
}

int LumTelnetConnection::ContinueConnection() {
  if (_fd < 0) {
    ShowError(true, "Error connecting to %s", _hostname.c_str());
    return 0;
  }
  if (_fd == 0) return -2;
  if (!_established) {
    struct pollfd p = {_fd, POLLOUT, 0};
    if (poll(&p, 1, 0) <= 0) return -2;
    // A refused or unreachable connect also wakes the poll: tell it apart.
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(_fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err != 0) {
      Log("ContinueConnection errno = %d (%s)\n", err, strerror(err));
      Disconnect();
      ShowError(true, "Connection to %s failed", _hostname.c_str());
      return -1;
    }
  }
  if (_useSSL && !_useStartTLS) {
    if (!ssl_con && StartTls() < 0) {
      Disconnect();
      return -1;
    }
    int step = HandshakeStep();
    if (step < 0) {
      Disconnect();
      return -1;
    }
    if (step == 0) return -2;
  }
  _established = true;
  return _fd;
}

void LumTelnetConnection::ChangePtySize(int, int) {}

bool LumTelnetConnection::IsConnected() {
  return _fd != 0;
}

void LumTelnetConnection::Disconnect() {
  if (_fd > 0) close(_fd);
  _fd = 0;
  _out.clear();
  _established = false;
  if (ssl_con) {
    SSL_free(ssl_con);
    ssl_con = nullptr;
  }
}

int LumTelnetConnection::HasData() {
  if (!IsConnected()) return -1;
  if (ssl_con) return SSL_pending(ssl_con);
  return 0;
}

bool LumTelnetConnection::haveEOR() {
  return _haveEOR;
}
void LumTelnetConnection::setEOR(bool flag) {
  _haveEOR = flag;
}

// Output goes through a queue: what the socket cannot take now (a paste to
// a host that reads slowly) waits there, in order, for the next write, read
// or timer tick instead of being lost.  Over TLS a write that would block
// is repeated from the same queued bytes, as the library requires.
void LumTelnetConnection::ComoutRaw(const char* buffer, int length) {
  if (_fd <= 0 || length <= 0) return;
  if (!_out.empty()) FlushOutput();
  if (_out.size() + static_cast<size_t>(length) > kTelnetMaxPendingOutput) {
    Log("Telnet: output waiting for the host is full; %d bytes dropped\n", length);
    return;
  }
  _out.append(buffer, static_cast<size_t>(length));
  FlushOutput();
}

void LumTelnetConnection::FlushOutput() {
  while (_fd > 0 && !_out.empty()) {
    if (ssl_con) {
      ERR_clear_error();
      int chunk = static_cast<int>(std::min<size_t>(_out.size(), 1 << 30));
      int n = SSL_write(ssl_con, _out.data(), chunk);
      if (n > 0) {
        _out.erase(0, static_cast<size_t>(n));
        continue;
      }
      int err = SSL_get_error(ssl_con, n);
      if (err == SSL_ERROR_WANT_WRITE || err == SSL_ERROR_WANT_READ) return;
      Log("Telnet: TLS write failed (%d); %zu bytes dropped\n", err, _out.size());
      ERR_clear_error();
    } else {
      ssize_t n = send(_fd, _out.data(), _out.size(), MSG_NOSIGNAL);
      if (n > 0) {
        _out.erase(0, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      Log("Telnet: write failed (%s); %zu bytes dropped\n", n < 0 ? strerror(errno) : "nothing taken",
          _out.size());
    }
    // The host is gone: the next read reports it.
    _out.clear();
  }
}

void LumTelnetConnection::Comout(const char* buffer, int length) {
  if (length <= 0) return;
  size_t need = static_cast<size_t>(length) * 2;
  if (_telnetBuffer.size() < need) _telnetBuffer.resize(need);
  char* out = _telnetBuffer.data();
  int o = 0;
  for (int i = 0; i < length; ++i) {
    out[o++] = buffer[i];
    if (static_cast<unsigned char>(buffer[i]) == TN_IAC) out[o++] = static_cast<char>(TN_IAC);
  }
  ComoutRaw(out, o);
}

void LumTelnetConnection::SendNOP() {
  static const char nop[2] = {static_cast<char>(TN_IAC), static_cast<char>(TN_NOP)};
  ComoutRaw(nop, 2);
}

int LumTelnetConnection::KeepAliveCheck() {
  if (!_out.empty()) FlushOutput();
  if (_keepAliveInterval == 0 || !_established || !IsConnected()) return 0;
  time_t now = time(nullptr);
  if (now < _nextKeepAliveTime) return 0;
  _nextKeepAliveTime = now + _keepAliveInterval;
  SendNOP();
  return 1;
}

int LumTelnetConnection::Read(char* buffer, int size) {
  _parser.clearRecordEnds();
  if (!IsConnected()) return -1;
  if (!_out.empty()) FlushOutput();
  // The bytes are parsed in place: data never outgrows what was read, and
  // ends of record are reported beside it (RecordEnds).
  if (size < 1 || !buffer) return 0;
  char* raw = buffer;
  const int room = size;
  int n;
  if (ssl_con) {
    n = SSL_read(ssl_con, raw, room);
    if (n > 0) {
      sslReadFailures = 0;
    } else {
      int err = SSL_get_error(ssl_con, n);
      if ((err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) &&
          ++sslReadFailures <= kTelnetMaxSslReadFailures)
        return 0;
      if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE)
        return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS) ? 0 : -1;
      if (err != SSL_ERROR_ZERO_RETURN) ReportTlsFailure(err);
      return -1;
    }
  } else {
    ssize_t r = recv(_fd, raw, static_cast<size_t>(room), 0);
    if (r == 0) return -1;
    if (r < 0)
      return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS || errno == EINTR) ? 0 : -1;
    n = static_cast<int>(r);
  }

  int consumed = 0;
  int data = _parser.Feed(reinterpret_cast<unsigned char*>(raw), n, reinterpret_cast<unsigned char*>(buffer),
                          &consumed);
  if (_parser.takeEOR()) setEOR(true);
  if (!_parser.replies().empty()) {
    ComoutRaw(_parser.replies().data(), static_cast<int>(_parser.replies().size()));
    _parser.clearReplies();
  }
  if (_parser.startTlsRequested()) {
    if (consumed < n) Log("START_TLS: %d bytes after FOLLOWS dropped\n", n - consumed);
    // What was said in plain must not go out through TLS.
    if (!_out.empty()) {
      Log("START_TLS: %zu plain bytes the host did not take dropped\n", _out.size());
      _out.clear();
    }
    if (StartTls() < 0 || HandshakeStep() < 0) {
      _parser.setTlsActive(false);
      Disconnect();
      return -1;
    }
  }
  return data;
}
