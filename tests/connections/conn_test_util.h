// Test rig for the host connections: prompt hooks that record what a
// connection shows, a scripted peer on 127.0.0.1 (plain or TLS) run on a
// thread, a pump that drives a connection the way the session's update
// timer and read watch do, and throwaway certificates.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kvx_deps.h"
#include "lumconnection.h"

namespace kvxtest {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(20);

// Records the prompts a connection raises and answers them from a script.
struct PromptRecorder {
  std::vector<std::string> errors;        // "F:" or "E:" followed by the text
  std::vector<std::string> entries;       // titles of the entry prompts
  std::vector<std::string> entryAnswers;  // answers, in order; none left = cancel
  int yesnoAnswer = 0;

  PromptRecorder();   // installs itself as the prompt hooks
  ~PromptRecorder();  // restores the fail-safe defaults
  bool HasError(const std::string& needle) const;
  std::string AllErrors() const;
};

// One accepted connection of a scripted peer.
class PeerLink {
 public:
  explicit PeerLink(int fd) : _fd(fd) {}
  ~PeerLink();
  void Send(const std::string& bytes);
  // Reads until `needle` has arrived (in all bytes received so far, from
  // `from` on); false at the deadline or on end of stream.
  bool Expect(const std::string& needle, std::chrono::milliseconds wait = std::chrono::seconds(15));
  // Reads whatever arrives within `wait`.
  void Drain(std::chrono::milliseconds wait);
  // Switches the link to TLS as the server side.
  bool StartTlsServer(const std::string& certFile, const std::string& keyFile);
  const std::string& received() const { return _in; }
  size_t mark() const { return _mark; }
  void setMark() { _mark = _in.size(); }
  void Close();
  // Drops the connection without ending TLS first (no close notify).
  void Abort();

 private:
  int ReadSome(int timeoutMs);
  int _fd;
  SSL_CTX* _ctx = nullptr;
  SSL* _ssl = nullptr;
  std::string _in;
  size_t _mark = 0;
};

// A listener on 127.0.0.1 with a system-chosen port; the script runs on its
// own thread with the first accepted connection.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(std::function<void(PeerLink&)> script, bool tlsFromStart = false,
                        std::string cert = "", std::string key = "");
  ~ScriptedPeer();
  int port() const { return _port; }
  // Waits for the script to finish; true when it ran to its end.
  bool Join();
  bool ok() const { return _ok; }

 private:
  int _listen = -1;
  int _port = 0;
  std::thread _thread;
  bool _ok = false;
  bool _joined = false;
};

// Drives a connection like the session does.  Collects the data read.
class Pump {
 public:
  explicit Pump(LumConnection* conn) : _conn(conn) {}
  // Connects: MakeConnection, then ContinueConnection on 20 ms ticks while
  // pending.  Returns the final descriptor result.
  int Connect(std::chrono::milliseconds limit = std::chrono::seconds(15));
  // Reads until `needle` is in the data or the connection closes.
  bool WaitFor(const std::string& needle, std::chrono::milliseconds limit = std::chrono::seconds(15));
  // Reads until the connection reports -1.
  bool WaitClosed(std::chrono::milliseconds limit = std::chrono::seconds(15));
  const std::string& data() const { return _data; }
  // Where ends of record fell in data().
  const std::vector<size_t>& recordEnds() const { return _recordEnds; }
  bool closed() const { return _closed; }
  int result() const { return _result; }

 private:
  // One read pass as the session does when the descriptor is readable.
  void Pass(int waitMs);
  LumConnection* _conn;
  std::string _data;
  std::vector<size_t> _recordEnds;
  bool _closed = false;
  int _result = 0;
};

// A self-signed certificate and key in a temporary directory.
struct TestCert {
  std::string dir, cert, key;
  // `sans` for subjectAltName, e.g. "DNS:localhost,IP:127.0.0.1".
  static TestCert Make(const std::string& name, const std::string& sans);
};

std::string TempDir();
// A port nothing listens on (bound and released).
int FreePort();
// Runs a shell command; its exit status.
int Run(const std::string& command);
// Polls until something accepts connections on 127.0.0.1:port.
bool WaitListening(int port, std::chrono::milliseconds limit = std::chrono::seconds(15));

// A listener on 127.0.0.1 that never accepts, with its queue filled, so
// that a further connect hangs in its handshake (the SYN is dropped).
class BacklogFullListener {
 public:
  BacklogFullListener();
  ~BacklogFullListener();
  BacklogFullListener(const BacklogFullListener&) = delete;
  BacklogFullListener& operator=(const BacklogFullListener&) = delete;
  int port() const { return port_; }
  // Whether a further connect really stays pending (within `limit`).
  bool DropsConnects(std::chrono::milliseconds limit = std::chrono::milliseconds(1500)) const;

 private:
  int listener_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

// A background process group started with /bin/sh -c, killed on destruction.
class Background {
 public:
  explicit Background(const std::string& command);
  ~Background();

 private:
  int _pid = -1;
};

}  // namespace kvxtest
