// The SSH connection: settings, key paths, the non-blocking connect and its
// completion, host-key verification against known_hosts, the shell channel
// and its non-blocking reads and writes.  Authentication lives in
// sshauth.cpp.
#include "sshconnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "lumdict.h"
#include "tetrace.h"

static LumSecretStoreFn g_sshSecretStore = nullptr;

void LumSetSecretStore(LumSecretStoreFn store) {
  g_sshSecretStore = store;
}

// No passphrase is ever read from a terminal: the library asks this when a
// key it loads on its own turns out to be encrypted.
static int ssh_no_passphrase(const char*, char*, size_t, int, int, void*) {
  return -1;
}

static bool ssh_file_exists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

static void ssh_wipe(std::string& secret) {
  volatile char* p = secret.data();
  for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
  secret.clear();
}

LumSSHConnection::LumSSHConnection() {
  ssh_callbacks_init(&_callbacks);
  _callbacks.auth_function = ssh_no_passphrase;
}

LumSSHConnection::~LumSSHConnection() {
  Disconnect();
  ssh_wipe(_password);
  ssh_wipe(_passphrase);
}

void LumSSHConnection::UseDictionary(LumDict* dict) {
  LumConnection::UseDictionary(dict);
  if (!dict) return;
  _port = dict->intValueForKey("sshport");
  _usePub = dict->boolValueForKey("usePub");
  _useAuth = dict->boolValueForKey("useAuth");
  _publicKey = dict->stringValueForKey("sshPublicKey");
  _passphrase = dict->stringValueForKey("sshPassphrase");
  _storePassword = dict->boolValueForKey("storePassword");
  _password = dict->stringValueForKey("password");
  _acceptSSHFingerprints = dict->boolValueForKey("AcceptSSHFingerprints");
  _ssh_timeout = dict->intValueForKey("sshTimeout");
}

std::string LumSSHConnection::KeyDirectory() {
  const char* home = getenv("HOME");
  return std::string(home ? home : "") + "/.ssh";
}

std::string LumSSHConnection::PublicKeyPath() {
  if (!_publicKey.empty()) return _publicKey;
  std::string dir = KeyDirectory();
  if (ssh_file_exists(dir + "/id_dsa.pub")) return dir + "/id_dsa.pub";
  return dir + "/id_rsa.pub";
}

std::string LumSSHConnection::PrivateKeyPath() {
  if (_publicKey.size() > 4) {
    std::string key = _publicKey.substr(0, _publicKey.size() - 4);
    if (ssh_file_exists(key)) return key;
  }
  std::string dir = KeyDirectory();
  if (ssh_file_exists(dir + "/id_dsa")) return dir + "/id_dsa";
  if (ssh_file_exists(dir + "/id_rsa")) return dir + "/id_rsa";
  return std::string();
}

void LumSSHConnection::SaveSecret(const char* tokenKey, const std::string& secret) {
  if (!_dict || !g_sshSecretStore || secret.empty()) return;
  std::string token = g_sshSecretStore(secret.c_str());
  if (!token.empty()) _dict->setStringForKey(tokenKey, token.c_str());
}

int LumSSHConnection::MakeConnection() {
  Disconnect();
  _pending.clear();
  Log("Starting ssh session\n");
  _ssh_session = ssh_new();
  if (!_ssh_session) return 0;
  ssh_set_callbacks(_ssh_session, &_callbacks);

  if (_username.empty()) {
    std::string name = Entry("Username required", false, "Save Username", "                ");
    if (entryRequestingSave && _dict && !name.empty()) _dict->setStringForKey("user", name.c_str());
    _username = name;
    if (_username.empty()) {
      ShowError(true, "Unable to continue without a username.");
      ReleaseSession();
      return 0;
    }
  }

  // The settings are all there is: no ssh_config is read, as the browser's
  // configuration names host, port, user and keys.
  int no = 0;
  int ssh2 = 1;
  ssh_options_set(_ssh_session, SSH_OPTIONS_PROCESS_CONFIG, &no);
  ssh_options_set(_ssh_session, SSH_OPTIONS_SSH_DIR, KeyDirectory().c_str());
  ssh_options_set(_ssh_session, SSH_OPTIONS_HOST, _hostname.c_str());
  if (_port > 0) {
    unsigned int port = static_cast<unsigned int>(_port);
    ssh_options_set(_ssh_session, SSH_OPTIONS_PORT, &port);
  }
  ssh_options_set(_ssh_session, SSH_OPTIONS_USER, _username.c_str());
  ssh_options_set(_ssh_session, SSH_OPTIONS_SSH2, &ssh2);
  // The library alone would wait for a silent server forever, and with it
  // the whole session process; without a setting, wait as long as sshd
  // gives a client to log in.
  long timeout = _ssh_timeout > 0 ? _ssh_timeout : kSshDefaultTimeout;
  ssh_options_set(_ssh_session, SSH_OPTIONS_TIMEOUT, &timeout);

  Log("Connecting...\n");
  if (!_dialAddress.empty()) return Dial();
  ssh_set_blocking(_ssh_session, 0);
  _phase = Phase::kConnecting;
  int rc = ssh_connect(_ssh_session);
  _fd = ssh_get_fd(_ssh_session);
  if (rc == SSH_AGAIN) return LUM_CONNECT_PENDING;
  if (rc == SSH_OK) return ContinueConnection();
  ShowError(true, "Error connecting to %s: %s", _hostname.c_str(), ssh_get_error(_ssh_session));
  ReleaseSession();
  return 0;
}

// Connects to the address the session's host policy checked, without
// blocking; the library takes the socket over once it is connected.
int LumSSHConnection::Dial() {
  sockaddr_in sin = {};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(static_cast<uint16_t>(_port > 0 ? _port : 22));
  int s = inet_pton(AF_INET, _dialAddress.c_str(), &sin.sin_addr) == 1
              ? socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)
              : -1;
  if (s < 0 || (connect(s, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 && errno != EINPROGRESS)) {
    const int err = errno;
    if (s >= 0) close(s);
    ShowError(true, "Error connecting to %s: %s", _hostname.c_str(), strerror(err));
    ReleaseSession();
    return 0;
  }
  _dialFd = s;
  _fd = s;
  _phase = Phase::kDialing;
  return LUM_CONNECT_PENDING;
}

// The pinned connect has completed (true) or is still on its way (false,
// *result pending) or failed (false, *result 0, reported).
bool LumSSHConnection::DialDone(int* result) {
  pollfd p = {_dialFd, POLLOUT, 0};
  *result = LUM_CONNECT_PENDING;
  if (poll(&p, 1, 0) == 0) return false;
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(_dialFd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  if (err) {
    ShowError(true, "Error connecting to %s: %s", _hostname.c_str(), strerror(err));
    ReleaseSession();
    *result = 0;
    return false;
  }
  socket_t fd = _dialFd;
  _dialFd = -1;
  ssh_options_set(_ssh_session, SSH_OPTIONS_FD, &fd);
  ssh_set_blocking(_ssh_session, 0);
  _phase = Phase::kConnecting;
  return true;
}

int LumSSHConnection::gotFileDescriptor(int fd) {
  _fd = fd;
  if (!_ssh_session || fd < 1) return LUM_CONNECT_PENDING;
  socket_t s = fd;
  ssh_options_set(_ssh_session, SSH_OPTIONS_FD, &s);
  return ContinueConnection();
}

int LumSSHConnection::ContinueConnection() {
  if (entryWaiting) return LUM_CONNECT_PENDING;
  if (!_ssh_session) return 0;
  if (_phase == Phase::kConnected) return _fd;
  if (_phase == Phase::kDialing) {
    int result = 0;
    if (!DialDone(&result)) return result;
  }
  if (_fd < 0) {
    ShowError(true, "Error connecting to %s", _hostname.c_str());
    ReleaseSession();
    return 0;
  }
  if (!ssh_is_blocking(_ssh_session)) {
    int rc = ssh_connect(_ssh_session);
    if (rc == SSH_AGAIN) return LUM_CONNECT_PENDING;
    if (rc != SSH_OK) {
      ShowError(true, "Error connecting to %s: %s", _hostname.c_str(), ssh_get_error(_ssh_session));
      ReleaseSession();
      return 0;
    }
    _fd = ssh_get_fd(_ssh_session);
  }

  if (!VerifyKnownHost()) {
    ReleaseSession();
    return 0;
  }

  ssh_set_blocking(_ssh_session, 1);
  Log("Authing...\n");
  if (!Authenticate()) {
    ShowError(true, "All authentication methods rejected.");
    ReleaseSession();
    return 0;
  }
  return OpenShell();
}

int LumSSHConnection::OpenShell() {
  _channel = ssh_channel_new(_ssh_session);
  if (!_channel) return Fail("channel_new failed\n");
  if (ssh_channel_open_session(_channel) != SSH_OK) return Fail("channel_open_session failed\n");
  std::string term = GetEmName();
  if (ssh_channel_request_pty_size(_channel, term.c_str(), _cols, _rows) != SSH_OK)
    return Fail("channel_request_pty failed\n");
  if (!_language.empty() && ssh_channel_request_env(_channel, "LANG", _language.c_str()) != SSH_OK)
    Log("ssh_channel_request_env failed\n");
  if (ssh_channel_request_shell(_channel) != SSH_OK) return Fail("channel_request_shell failed\n");
  // From here on nothing may block the session's loop.
  ssh_set_blocking(_ssh_session, 0);
  _phase = Phase::kConnected;
  _fd = ssh_get_fd(_ssh_session);
  Log("Beginning read\n");
  return _fd;
}

int LumSSHConnection::Fail(const char* what) {
  Log("%s", what);
  ReleaseSession();
  return 0;
}

void LumSSHConnection::ReleaseSession() {
  if (_channel) {
    if (ssh_channel_is_open(_channel)) {
      ssh_channel_send_eof(_channel);
      ssh_channel_close(_channel);
    }
    ssh_channel_free(_channel);
    _channel = nullptr;
  }
  if (_dialFd >= 0) close(_dialFd);
  _dialFd = -1;
  if (_ssh_session) {
    ssh_disconnect(_ssh_session);
    ssh_free(_ssh_session);
    _ssh_session = nullptr;
  }
  _phase = Phase::kIdle;
  _fd = 0;
  _pending.clear();
}

void LumSSHConnection::Disconnect() {
  ReleaseSession();
}

// ---- host key -------------------------------------------------------------

// The key's hash as text: SHA-1 in hexadecimal pairs joined by ':' (what
// known_hosts users of this system have always compared), then the SHA-256
// fingerprint as OpenSSH prints it today.
static bool ssh_host_key_text(ssh_key key, std::string* text) {
  unsigned char* hash = nullptr;
  size_t length = 0;
  if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA1, &hash, &length) != 0 || !hash) return false;
  char* hex = ssh_get_hexa(hash, length);
  ssh_clean_pubkey_hash(&hash);
  if (!hex) return false;
  *text = hex;
  ssh_string_free_char(hex);
  if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) == 0 && hash) {
    char* fingerprint = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
    ssh_clean_pubkey_hash(&hash);
    if (fingerprint) {
      *text += "\n";
      *text += fingerprint;
      ssh_string_free_char(fingerprint);
    }
  }
  return true;
}

bool LumSSHConnection::VerifyKnownHost() {
  enum ssh_known_hosts_e state = ssh_session_is_known_server(_ssh_session);
  ssh_key key = nullptr;
  if (ssh_get_server_publickey(_ssh_session, &key) != SSH_OK || !key) return false;
  std::string hash;
  bool haveHash = ssh_host_key_text(key, &hash);
  ssh_key_free(key);
  if (!haveHash) return false;

  bool ask = false;
  switch (state) {
    case SSH_KNOWN_HOSTS_OK:
      TE_Trace(TRACE_SSH, "SSH::VerifyKnownHost: SSH_SERVER_KNOWN_OK\n");
      return true;
    case SSH_KNOWN_HOSTS_CHANGED:
      TE_Trace(TRACE_SSH, "SSH::VerifyKnownHost: SSH_SERVER_KNOWN_CHANGED\n");
      if (!_acceptSSHFingerprints &&
          !AlertYesNo("Unknown server",
                      "The key to this server has changed. It is now\n\n%s\n\nContinue connecting?",
                      hash.c_str())) {
        TE_Trace(TRACE_SSH, "SSH::VerifyKnownHost: User cancelled\n");
        return false;
      }
      break;
    case SSH_KNOWN_HOSTS_ERROR:
      TE_Trace(TRACE_SSH, "SSH Error %s\n", ssh_get_error(_ssh_session));
      return false;
    case SSH_KNOWN_HOSTS_OTHER:
    case SSH_KNOWN_HOSTS_UNKNOWN:
    case SSH_KNOWN_HOSTS_NOT_FOUND:
      TE_Trace(TRACE_SSH, "SSH::VerifyKnownHost: SSH_SERVER_NOT_KNOWN (%d) \n", static_cast<int>(state));
      ask = true;
      break;
  }
  if (ask && !AlertYesNo("", "The server is unknown. Do you trust the host key\n\n%s", hash.c_str())) {
    TE_Trace(TRACE_SSH, "SSH::VerifyKnownHost: User cancelled\n");
    return false;
  }
  TE_Trace(TRACE_SSH, "SSH::VerifyKnownHost: Writing known host\n");
  if (ssh_session_update_known_hosts(_ssh_session) != SSH_OK)
    TE_Trace(TRACE_SSH | TRACE_FAIL, "SSH::VerifyKnownHost: cannot write known hosts: %s\n",
             ssh_get_error(_ssh_session));
  return true;
}

// ---- the open channel ---------------------------------------------------------

bool LumSSHConnection::IsConnected() {
  return _channel && ssh_channel_is_open(_channel);
}

// Writes what the channel's window takes now: the count taken, or -1 on
// failure.  A write is never asked to wait for the window to open.
static long ssh_write_some(ssh_channel channel, const char* data, size_t length) {
  size_t taken = 0;
  while (taken < length) {
    uint32_t window = ssh_channel_window_size(channel);
    if (window == 0) break;
    uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(length - taken, window));
    int n = ssh_channel_write(channel, data + taken, chunk);
    if (n == SSH_ERROR) return -1;
    if (n <= 0) break;
    taken += static_cast<size_t>(n);
  }
  return static_cast<long>(taken);
}

bool LumSSHConnection::FlushOutput() {
  if (_pending.empty() || !IsConnected()) return true;
  long n = ssh_write_some(_channel, _pending.data(), _pending.size());
  if (n < 0) {
    Log("SSH: write failed: %s\n", ssh_get_error(_ssh_session));
    _pending.clear();
    return false;
  }
  _pending.erase(0, static_cast<size_t>(n));
  return true;
}

void LumSSHConnection::Comout(const char* buffer, int length) {
  if (IsConnected() && buffer && length > 0) {
    size_t left = static_cast<size_t>(length);
    // Queued bytes go first; new ones join the queue behind them.
    if (FlushOutput() && _pending.empty()) {
      long n = ssh_write_some(_channel, buffer, left);
      if (n < 0) {
        Log("SSH: write failed: %s\n", ssh_get_error(_ssh_session));
        left = 0;
      } else {
        buffer += n;
        left -= static_cast<size_t>(n);
      }
    }
    size_t room = kSshMaxPendingOutput - _pending.size();
    if (left > room) {
      Log("SSH: output waiting for the host is full; %zu bytes dropped\n", left - room);
      left = room;
    }
    _pending.append(buffer, left);
  }
  if (_channel) ssh_channel_poll(_channel, 0);
}

int LumSSHConnection::Read(char* buffer, int size) {
  if (!_channel) return -1;
  if (size <= 0) return 0;
  FlushOutput();
  uint32_t count = static_cast<uint32_t>(size);
  int n = ssh_channel_read_nonblocking(_channel, buffer, count, 0);
  if (n > 0) return n;
  // With a pty everything comes as standard output; a server may still send
  // error output on its own stream.
  int e = ssh_channel_read_nonblocking(_channel, buffer, count, 1);
  if (e > 0) return e;
  if (n == SSH_ERROR || e == SSH_ERROR || !ssh_channel_is_open(_channel) || ssh_channel_is_eof(_channel)) {
    if (n == SSH_ERROR || e == SSH_ERROR) Log("SSH: read failed: %s\n", ssh_get_error(_ssh_session));
    return -1;
  }
  return 0;
}

int LumSSHConnection::HasData() {
  if (!_channel || !ssh_channel_is_open(_channel) || ssh_channel_is_eof(_channel)) return -1;
  int n = ssh_channel_poll(_channel, 0);
  if (n == SSH_ERROR) return -1;
  int e = ssh_channel_poll(_channel, 1);
  if (n == SSH_EOF) n = 0;
  if (e > 0) n += e;
  if (n == 0 && ssh_channel_is_eof(_channel)) return -1;
  return n;
}

int LumSSHConnection::KeepAliveCheck() {
  // Bytes held back by a shut window go out as soon as it opens.
  if (!_pending.empty()) {
    FlushOutput();
    if (_channel) ssh_channel_poll(_channel, 0);
  }
  return 0;
}

void LumSSHConnection::ChangePtySize(int rows, int cols) {
  _rows = rows;
  _cols = cols;
  if (!IsConnected()) return;
  TE_Trace(TRACE_SSH, "SSH::ChangePtySize: rows=%d cols=%d\n", rows, cols);
  ssh_channel_change_pty_size(_channel, cols, rows);
}
