// The bind address (-b) through the real binary: the server and the
// session processes it starts listen on that address only, their requests
// to each other go there, and with client certificates required their own
// requests still pass while other clients must present one.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "kvx_test.h"

using namespace kvxtest;

namespace {

// True when a TCP connection to address:port is accepted.
bool Reachable(const std::string& address, int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address.c_str(), &sin.sin_addr);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0;
  close(fd);
  return ok;
}

HttpResponse Post(int port, const std::string& host, const std::string& path, const std::string& json,
                  const TlsOptions& tls = {}) {
  return HttpRequest(port, "POST", path, json, {{"Content-Type", "application/json"}}, tls, host);
}

// One HTTPS request from a chosen source address (a client elsewhere on
// the network, as far as the server can tell); the raw answer, empty when
// the exchange fails.
std::string TlsFrom(const std::string& source, const std::string& address, int port,
                    const std::string& request, const std::string& certDir = "") {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!certDir.empty()) {
    SSL_CTX_use_certificate_file(ctx, (certDir + "/client.pem").c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(ctx, (certDir + "/client-key.pem").c_str(), SSL_FILETYPE_PEM);
  }
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in from{}, to{};
  from.sin_family = to.sin_family = AF_INET;
  inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  inet_pton(AF_INET, address.c_str(), &to.sin_addr);
  to.sin_port = htons(static_cast<uint16_t>(port));
  timeval limit = {20, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string answer;
  SSL* ssl = nullptr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
    ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    if (SSL_connect(ssl) == 1 && SSL_write(ssl, request.data(), static_cast<int>(request.size())) > 0) {
      char buf[4096];
      int n;
      while ((n = SSL_read(ssl, buf, sizeof buf)) > 0) answer.append(buf, static_cast<size_t>(n));
    }
  }
  if (ssl) SSL_free(ssl);
  close(fd);
  SSL_CTX_free(ctx);
  return answer;
}

std::string PostText(const std::string& host, const std::string& path, const std::string& json) {
  return "POST " + path + " HTTP/1.1\r\nHost: " + host +
         "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
         std::to_string(json.size()) + "\r\n\r\n" + json;
}

// The session process's port from its start-up line.
bool ChildListening(KavrixServer& s, int port) {
  return s.out().find("listening on port [" + std::to_string(port) + "]") != std::string::npos;
}

TEST(BindAddress, BadAddressIsOneErrorLineAndStatusOne) {
  ServerOptions o;
  o.args = {"-p", "0", "-b", "not-an-address"};
  o.waitForStartup = false;
  KavrixServer s(o);
  EXPECT_EQ(s.Wait(), 1);
  EXPECT_NE(s.err().find("ERROR: Unable to listen on [not-an-address:0]"), std::string::npos) << s.err();
}

// The server on one loopback address: nothing answers on the others, and
// sessions start, report, list and end through that address.  Session
// processes listen on 127.0.0.1 alone, or with --expose-sessions on the
// server's address; either way their requests need the session's
// identifier.
TEST(BindAddress, RolesListenAndMeetOnTheBoundAddress) {
  for (const std::string address : {"127.0.0.1", "127.0.0.2"}) {
    for (bool exposed : {false, true}) {
      SCOPED_TRACE(address + (exposed ? " exposed" : ""));
      ServerOptions o;
      o.args = {"-p", "0", "-b", address};
      if (exposed) o.args.push_back("--expose-sessions");
      KavrixServer s(o);
      ASSERT_GT(s.port(), 0) << s.err();
      const std::string other = address == "127.0.0.1" ? "127.0.0.2" : "127.0.0.1";
      EXPECT_TRUE(Reachable(address, s.port()));
      EXPECT_FALSE(Reachable(other, s.port()));

      HttpResponse r = Post(s.port(), address, "/new_session", "{\"deviceId\":\"d\"}");
      std::string id = JsonText(r.body, "content.sessionId");
      int port = JsonInt(r.body, "content.port", 0);
      ASSERT_EQ(EnvelopeCode(r.body), 0) << r.body << s.err();
      ASSERT_TRUE(ChildListening(s, port));
      const std::string sessionAddress = exposed ? address : "127.0.0.1";
      const std::string notSession = sessionAddress == "127.0.0.1" ? "127.0.0.2" : "127.0.0.1";
      EXPECT_TRUE(Reachable(sessionAddress, port));
      EXPECT_FALSE(Reachable(notSession, port));
      EXPECT_EQ(
          JsonInt(Post(port, sessionAddress, "/get_config_values?session=" + id, "[\"node\"]").body, "code"),
          11);
      HttpResponse refused = Post(port, sessionAddress, "/get_config_values", "[\"node\"]");
      EXPECT_EQ(refused.status, 403);
      EXPECT_EQ(JsonInt(refused.body, "code"), 15);
      // Relayed by the server, the identifier goes along.
      EXPECT_EQ(
          JsonInt(Post(s.port(), address, "/get_config_values?session=" + id, "[\"node\"]").body, "code"),
          11);

      r = Post(s.port(), address, "/shutdown_session?session=" + id, "{}");
      EXPECT_EQ(EnvelopeCode(r.body), 0) << r.body;
      EXPECT_TRUE(WaitFor([&] { return !Reachable(sessionAddress, port); }));
      EXPECT_EQ(s.Stop(SIGTERM), 0);
    }
  }
}

// A network of its own (when this process may make one): the server bound
// to an address that is not a loopback one, client certificates required.
// Its session processes' reports and the relayed requests pass without a
// certificate; a client from another address needs one.
TEST(BindAddress, OwnRequestsPassClientCertificateCheckOnOtherAddress) {
  if (unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "no network namespace: " << strerror(errno);
  ASSERT_EQ(system("ip link set lo up && ip addr add 10.77.0.1/32 dev lo && ip addr add 10.77.0.2/32 dev lo"),
            0);
  const std::string address = "10.77.0.1", client = "10.77.0.2";
  ServerOptions o;
  o.tls = true;
  o.args = {"-p", "0", "-b", address, "-c", "server", "-C"};
  KavrixServer s(o);
  ASSERT_GT(s.port(), 0) << s.err();
  const std::string certs = s.dir() + "/certs";
  const std::string list = PostText(address, "/list_sessions", "{\"deviceId\":\"d\"}");
  EXPECT_EQ(TlsFrom(client, address, s.port(), list), "");
  EXPECT_NE(TlsFrom(client, address, s.port(), list, certs).find("\"code\":0"), std::string::npos);

  std::string answer =
      TlsFrom(client, address, s.port(), PostText(address, "/new_session", "{\"deviceId\":\"d\"}"), certs);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(answer, m, std::regex("\"sessionId\":\"([0-9a-f]{40})\"")))
      << answer << s.err();
  const std::string id = m[1];
  EXPECT_NE(TlsFrom(client, address, s.port(), list, certs).find(id), std::string::npos);
  // Relayed by the server to the session process.
  answer = TlsFrom(client, address, s.port(),
                   PostText(address, "/get_config_values?session=" + id, "[\"node\"]"), certs);
  EXPECT_NE(answer.find("\"code\":11"), std::string::npos) << answer;
  answer =
      TlsFrom(client, address, s.port(), PostText(address, "/shutdown_session?session=" + id, "{}"), certs);
  EXPECT_NE(answer.find("\"code\":0"), std::string::npos) << answer;
  EXPECT_EQ(s.Stop(SIGTERM), 0);
}

}  // namespace
