// Test support for end-to-end tests: run the real Kavrix binary in a fresh
// working directory, talk raw HTTP/1.1 (optionally over TLS) and WebSocket
// to it, and encode/decode channel frames independently of the server code.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "channel_actions.h"
#include "kvx_deps.h"

namespace kvxtest {

// Polls `done` until it holds or `seconds` pass; true when it held.
bool WaitFor(const std::function<bool()>& done, double seconds = 30);

// ---- the server process ----

struct ServerOptions {
  std::vector<std::string> args = {"-p", "0"};  // command line after the program name
  bool tls = false;  // generate certs/ (ca.pem, cacerts.pem, server.pem, server-key.pem, client*.pem)
  bool linkExecutable = true;  // ./Kavrix in the working directory (children are started from it)
  std::string fakeChild;       // when set: ./Kavrix is this shell script instead of the real program
  bool waitForStartup = true;  // wait for the start-up line and read the port from it
  std::string html;            // document tree to link as html/ (default: the repository's)
  std::string home;            // HOME of the server (and so of its shells); empty = inherited
  std::string program;         // the executable to run; empty = the build's Kavrix
  bool linkData = true;        // html/ and codepage.dat in the working directory
};

class KavrixServer {
 public:
  explicit KavrixServer(ServerOptions options = {});
  ~KavrixServer();
  KavrixServer(const KavrixServer&) = delete;
  KavrixServer& operator=(const KavrixServer&) = delete;

  int port() const { return port_; }
  int pid() const { return pid_; }
  const std::string& dir() const { return dir_; }
  std::string out() const;  // everything written to standard output so far
  std::string err() const;  // everything written to standard error so far
  bool running();
  // Sends a signal and waits for the exit; returns the exit status (or -1
  // when the process did not end within `seconds`; it is then killed).
  int Stop(int signal, double seconds = 30);
  // Waits for the process to end by itself; -1 on timeout.
  int Wait(double seconds = 30);
  bool WaitForOutput(const std::string& text, double seconds = 30, bool inStderr = true);
  // The process id of the session process listening on `port`, read from
  // its start-up line (which may reach us after the session's answer); -1
  // when the line does not come within `seconds`.
  int ChildPid(int port, double seconds = 30);

 private:
  std::string dir_;
  int pid_ = -1;
  int port_ = 0;
  int status_ = -1;
  bool reaped_ = false;
};

// Generates a CA and certificates signed by it into `certsDir` with the
// openssl command line: ca.pem (+ ca-key.pem), cacerts.pem (the CA),
// server.pem with its key inside, server-only.pem + server-key.pem, and a
// client certificate client.pem + client-key.pem.
void GenerateCerts(const std::string& certsDir);

// ---- nginx in front ----

// Debian's nginx on 127.0.0.1 as a TLS-terminating proxy, run as a plain
// process (no service) with one of the repository's example configurations
// (dist/nginx/*.conf): its upstream ports (8080, 8081, ...) are replaced by
// the given ones, its "listen 443" by a free port of 127.0.0.1, and the
// certificate directory by `certsDir` (as GenerateCerts fills it).
class NginxProxy {
 public:
  NginxProxy(const std::string& example, const std::map<int, int>& ports, const std::string& certsDir);
  ~NginxProxy();
  NginxProxy(const NginxProxy&) = delete;
  NginxProxy& operator=(const NginxProxy&) = delete;
  int port() const { return port_; }  // 0 when it did not start (see error)
  std::string error;
  std::string Log() const;  // its error and access logs

 private:
  std::string dir_;
  int pid_ = -1;
  int port_ = 0;
};

// ---- HTTP ----

struct TlsOptions {
  bool enabled = false;
  std::string certFile, keyFile;  // client certificate, optional
};

struct HttpResponse {
  bool ok = false;  // a complete answer was read
  int status = 0;
  std::string statusLine;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string raw;
  std::optional<std::string> header(const std::string& name) const;  // case-insensitive
};

// One request on a fresh connection ("Connection: close").  The path is sent
// as given, without normalisation.
HttpResponse HttpRequest(int port, const std::string& method, const std::string& path,
                         const std::string& body = "", const std::map<std::string, std::string>& headers = {},
                         const TlsOptions& tls = {}, const std::string& host = "127.0.0.1");
HttpResponse PostJson(int port, const std::string& path, const std::string& json, const TlsOptions& tls = {});
// Session identifiers by the port of their session process, as "/new_session"
// answered them to HttpRequest (which remembers them).
void RememberSession(int sessionPort, const std::string& id);
std::string SessionIdOfPort(int sessionPort);

// ---- a connected socket (plain or TLS) ----

class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  bool Open(int port, const TlsOptions& tls = {}, const std::string& host = "127.0.0.1");
  bool Write(const std::string& bytes);
  // Reads up to `max` bytes, waiting up to `seconds`; empty on timeout or end.
  std::string ReadSome(size_t max, double seconds);
  // Reads exactly n bytes (or fewer on end of stream or timeout).
  std::string ReadExact(size_t n, double seconds);
  // Puts bytes back in front of what is still to be read.
  void Unread(const std::string& bytes);
  // True when the peer closes the connection within `seconds`.
  bool WaitClosed(double seconds);
  void Close();
  bool closed() const { return closed_; }

 private:
  int fd_ = -1;
  void* ssl_ = nullptr;
  void* ctx_ = nullptr;
  bool closed_ = false;
  std::string pending_;
};

// ---- WebSocket ----

struct WsFrame {
  bool fin = true;
  int op = 0;
  std::string payload;
  bool masked = false;
};

// The masked client frame for `payload`; `lengthForm` forces 7-bit (0),
// 16-bit (126) or 64-bit (127) length encoding.
std::string WsEncode(int op, const std::string& payload, bool mask = true, int lengthForm = -1);

class WsClient {
 public:
  // The upgrade request of the channel of the session listening on `port`,
  // naming the session's identifier as its browser does (the one
  // "/new_session" answered for that port, when this process asked);
  // `protocol` empty = no Sec-WebSocket-Protocol header.
  HttpResponse Handshake(int port, const std::string& protocol = "teCtrl", const TlsOptions& tls = {},
                         const std::string& key = "dGhlIHNhbXBsZSBub25jZQ==",
                         const std::string& upgrade = "websocket");
  // The upgrade request for any path ("/get_te_channel?session=<id>" on the
  // server's port is the relayed channel).
  HttpResponse HandshakePath(int port, const std::string& path, const std::string& protocol = "teCtrl",
                             const TlsOptions& tls = {}, const std::string& key = "dGhlIHNhbXBsZSBub25jZQ==",
                             const std::string& upgrade = "websocket");
  bool Send(int op, const std::string& payload) { return conn.Write(WsEncode(op, payload)); }
  // Sends the bytes one write per byte.
  bool SendSplit(const std::string& bytes);
  std::optional<WsFrame> Receive(double seconds = 30);
  // The next frame with this opcode; frames of other kinds (keep-alive pings) are skipped.
  std::optional<WsFrame> ReceiveOp(int op, double seconds = 30);
  Connection conn;
};

// ---- channel frames ----

struct ChannelFrame {
  int action = 0;
  std::vector<std::string> fields;  // decoded, without version, action, empty and length lines
  std::string data;
};

std::string ChannelEncodeField(const std::string& field);
std::string ChannelEncode(int action, const std::vector<std::string>& fields, const std::string& data = "");
// Decodes one frame from the front of `bytes`; the rest stays in `bytes`.
std::optional<ChannelFrame> ChannelDecode(std::string& bytes);

// Reads the next channel frame a teCtrl connection sends, answering nothing
// and skipping pings; nullopt on timeout.
std::optional<ChannelFrame> ReceiveChannelFrame(WsClient& ws, double seconds = 30);

// ---- JSON answers ----

// The integer member "code" of a JSON envelope, or -1.
int EnvelopeCode(const std::string& body);
// Members by dotted path ("content.port"): the text, or "" when absent.
std::string JsonText(const std::string& body, const std::string& name);
int JsonInt(const std::string& body, const std::string& name, int otherwise = -1);

// Whether a process with this id exists (and is not a zombie).
bool ProcessAlive(int pid);

}  // namespace kvxtest
