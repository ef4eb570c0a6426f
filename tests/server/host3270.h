// A 3270 host for the end-to-end tests: a listener on 127.0.0.1 that takes
// one terminal connection, negotiates TN3270 or TN3270E with it, sends host
// records (telnet framing added) and reads the terminal's records (telnet
// framing undone).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "replay/tracefile.h"

class Host3270 {
 public:
  Host3270() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener_, 4);
    socklen_t len = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Host3270() {
    if (fd_ >= 0) close(fd_);
    if (listener_ >= 0) close(listener_);
  }
  Host3270(const Host3270&) = delete;
  Host3270& operator=(const Host3270&) = delete;

  int port() const { return port_; }
  int fd() const { return fd_; }

  bool Accept(double seconds = 20) {
    pollfd p = {listener_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0) return false;
    fd_ = accept(listener_, nullptr, nullptr);
    return fd_ >= 0;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  bool SendRaw(const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
      ssize_t n = send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
      if (n <= 0) return false;
      off += static_cast<size_t>(n);
    }
    return true;
  }
  // A record: 255 doubled, IAC EOR behind.
  bool SendRecord(const std::vector<uint8_t>& rec) {
    std::string out;
    for (uint8_t b : rec) {
      out += static_cast<char>(b);
      if (b == 0xFF) out += static_cast<char>(0xFF);
    }
    out += "\xff\xef";
    return SendRaw(out);
  }

  // Reads what the terminal sent, for up to `seconds`, until `done` holds.
  template <typename F>
  bool ReadUntil(F done, double seconds = 10) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
      int left = static_cast<int>(
          std::chrono::duration<double, std::milli>(end - std::chrono::steady_clock::now()).count());
      if (left <= 0 || fd_ < 0) return false;
      pollfd p = {fd_, POLLIN, 0};
      if (poll(&p, 1, std::min(left, 100)) <= 0) continue;
      char buf[4096];
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return done();
      inbound_.append(buf, static_cast<size_t>(n));
    }
    return true;
  }
  bool Expect(const std::string& needle, double seconds = 10) {
    return ReadUntil([&] { return inbound_.find(needle) != std::string::npos; }, seconds);
  }
  // The terminal's records so far (telnet framing undone).
  std::vector<std::vector<uint8_t>> Records() const {
    std::vector<trc_chunk> chunks(1);
    chunks[0].fromHost = false;
    chunks[0].bytes.assign(inbound_.begin(), inbound_.end());
    std::vector<std::vector<uint8_t>> out;
    for (const trc_event& e : trc_events(chunks))
      if (e.kind == TRC_RECORD) out.push_back(e.bytes);
    return out;
  }
  // Waits for record number k (from 0) and returns it.
  bool WaitRecord(size_t k, std::vector<uint8_t>* rec, double seconds = 10) {
    bool ok = ReadUntil([&] { return Records().size() > k; }, seconds);
    if (ok && rec) *rec = Records()[k];
    return ok;
  }
  const std::string& inbound() const { return inbound_; }

  // The subnegotiation of `option` with `verb` the terminal sent last: its
  // bytes between IAC SB option verb and IAC SE.
  std::string Sub(int option, int verb) const {
    std::string head = {'\xff', '\xfa', static_cast<char>(option), static_cast<char>(verb)};
    size_t at = inbound_.rfind(head);
    if (at == std::string::npos) return "";
    size_t end = inbound_.find("\xff\xf0", at);
    return end == std::string::npos ? "" : inbound_.substr(at + 4, end - at - 4);
  }

  // TN3270: terminal type, end of record and binary both ways.
  bool NegotiateTn3270() {
    return SendRaw("\xff\xfd\x18") && Expect("\xff\xfb\x18") && SendRaw("\xff\xfa\x18\x01\xff\xf0") &&
           Expect(std::string("\xff\xfa\x18\x00", 4)) &&
           SendRaw(std::string("\xff\xfd\x19\xff\xfb\x19\xff\xfd\x00\xff\xfb\x00", 12)) &&
           Expect("\xff\xfb\x19") && Expect("\xff\xfd\x19") && Expect(std::string("\xff\xfb\x00", 3)) &&
           Expect(std::string("\xff\xfd\x00", 3));
  }
  // TN3270E: device type accepted, the functions the terminal asks for
  // agreed; their list is left in *functions.  With `offer`, the host asks
  // for those functions instead and the terminal must agree to them.
  bool NegotiateTn3270e(std::string* functions = nullptr, const std::string& offer = "") {
    if (!SendRaw("\xff\xfd\x28") || !Expect("\xff\xfb\x28")) return false;
    if (!SendRaw(std::string("\xff\xfa\x28\x08\x02\xff\xf0", 7)) || !Expect("\xff\xfa\x28\x02\x07")) return false;
    if (!ReadUntil([&] { return !Sub(0x28, 0x02).empty() && inbound_.find("\xff\xf0", inbound_.rfind("\xff\xfa\x28\x02")) != std::string::npos; }))
      return false;
    std::string request = Sub(0x28, 0x02);  // 07 name [01 device]
    std::string name = request.substr(1, request.find('\x01') == std::string::npos ? std::string::npos
                                                                                     : request.find('\x01') - 1);
    if (!SendRaw("\xff\xfa\x28\x02\x04" + name + "\x01LU00001\xff\xf0")) return false;
    if (!Expect("\xff\xfa\x28\x03\x07")) return false;
    if (!ReadUntil([&] { return inbound_.find("\xff\xf0", inbound_.rfind("\xff\xfa\x28\x03\x07")) != std::string::npos; }))
      return false;
    std::string list = Sub(0x28, 0x03).substr(1);
    if (functions) *functions = list;
    if (!offer.empty()) {
      return SendRaw("\xff\xfa\x28\x03\x07" + offer + "\xff\xf0") &&
             Expect("\xff\xfa\x28\x03\x04" + offer + "\xff\xf0");
    }
    return SendRaw("\xff\xfa\x28\x03\x04" + list + "\xff\xf0");
  }

 private:
  int listener_ = -1;
  int fd_ = -1;
  int port_ = 0;
  std::string inbound_;
};
