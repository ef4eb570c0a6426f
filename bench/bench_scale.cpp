// Scale: N sessions live at once (N = 1000 unless KVX_SCALE_N says
// otherwise) on one server, each with one browser attached through the
// server's port and a telnet host (a local peer that serves every
// connection), measured as:
//   - session start time while they are being started, and with all N live;
//   - resident and proportional memory per session process, idle and after
//     the streaming below, and the server's own;
//   - every session's output reaching its browser intact while all N stream
//     at once: each host streams numbered lines tagged with its session, and
//     each browser checks that every line it is shown is its own, whole and
//     in order, and that its final screen is the last lines exactly.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "emulation_ids.h"
#include "kvx_screen.h"
#include "kvx_test.h"

using namespace kvxtest;

namespace {

constexpr int kLines = 600;  // lines each host streams
const char kPad[] = "abcdefghijklmnopqrstuvwxyz0123456789";

std::string Tag(int i) {
  char t[16];
  snprintf(t, sizeof t, "S%04d", i);
  return t;
}

std::string Line(const std::string& tag, int k) {
  char l[96];
  snprintf(l, sizeof l, "%s %06d %s", tag.c_str(), k, kPad);
  return l;
}

// ---- the telnet host: one thread, every connection ----
//
// It says nothing until it is sent "g<tag>\r"; then it streams kLines
// numbered lines and "<tag> END".  Telnet negotiation from the client is
// read and ignored.

class Host {
 public:
  Host() {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sin = {};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
    ::listen(listen_, 4096);
    socklen_t len = sizeof sin;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&sin), &len);
    port_ = ntohs(sin.sin_port);
    ep_ = epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.fd = listen_;
    epoll_ctl(ep_, EPOLL_CTL_ADD, listen_, &ev);
    thread_ = std::thread([this] { Run(); });
  }
  ~Host() {
    stop_ = true;
    thread_.join();
    for (auto& [fd, c] : conns_) close(fd);
    close(listen_);
    close(ep_);
  }
  int port() const { return port_; }
  int connections() const { return count_; }

 private:
  struct Conn {
    std::string in, out;
    std::string tag;
    int next = -1;  // next line to queue; -1 before the trigger
  };

  void Run() {
    epoll_event events[256];
    while (!stop_) {
      int n = epoll_wait(ep_, events, 256, 100);
      for (int i = 0; i < n; i++) {
        const int fd = events[i].data.fd;
        if (fd == listen_) {
          for (;;) {
            int c = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (c < 0) break;
            conns_[c];
            count_++;
            epoll_event ev = {};
            ev.events = EPOLLIN;
            ev.data.fd = c;
            epoll_ctl(ep_, EPOLL_CTL_ADD, c, &ev);
          }
          continue;
        }
        auto it = conns_.find(fd);
        if (it == conns_.end()) continue;
        if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) Read(fd, it->second);
        if (conns_.count(fd)) Write(fd, conns_[fd]);
      }
    }
  }

  void Read(int fd, Conn& c) {
    char buf[4096];
    for (;;) {
      ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0) {
        c.in.append(buf, static_cast<size_t>(n));
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        close(fd);
        conns_.erase(fd);
        return;
      }
      break;
    }
    // Telnet commands (IAC ...) are skipped; "g<tag>\r" starts the stream.
    std::string plain;
    for (size_t i = 0; i < c.in.size(); i++) {
      unsigned char b = static_cast<unsigned char>(c.in[i]);
      if (b == 255 && i + 1 < c.in.size()) {
        unsigned char cmd = static_cast<unsigned char>(c.in[i + 1]);
        if (cmd >= 251 && cmd <= 254) {
          i += 2;
        } else if (cmd == 250) {
          size_t se = c.in.find("\xff\xf0", i);
          i = se == std::string::npos ? c.in.size() : se + 1;
        } else {
          i += 1;
        }
        continue;
      }
      plain.push_back(static_cast<char>(b));
    }
    size_t g = plain.find('g'), cr = plain.find('\r', g == std::string::npos ? 0 : g);
    if (c.next < 0 && g != std::string::npos && cr != std::string::npos) {
      c.tag = plain.substr(g + 1, cr - g - 1);
      c.next = 0;
      epoll_event ev = {};
      ev.events = EPOLLIN | EPOLLOUT;
      ev.data.fd = fd;
      epoll_ctl(ep_, EPOLL_CTL_MOD, fd, &ev);
    }
    if (c.in.size() > 65536) c.in.clear();
  }

  void Write(int fd, Conn& c) {
    while (c.next >= 0) {
      while (c.out.size() < 16384 && c.next >= 0 && c.next <= kLines) {
        c.out += c.next < kLines ? Line(c.tag, c.next) : c.tag + " END";
        c.out += "\r\n";
        c.next = c.next < kLines ? c.next + 1 : kLines + 1;
      }
      if (c.out.empty()) break;
      ssize_t n = write(fd, c.out.data(), c.out.size());
      if (n <= 0) return;  // EPOLLOUT comes back
      c.out.erase(0, static_cast<size_t>(n));
      if (c.next > kLines && c.out.empty()) {
        epoll_event ev = {};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        epoll_ctl(ep_, EPOLL_CTL_MOD, fd, &ev);
        break;
      }
    }
  }

  int listen_ = -1, ep_ = -1, port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> count_{0};
  std::map<int, Conn> conns_;
  std::thread thread_;
};

// ---- the browsers ----

struct Browser {
  int index = 0;
  std::string tag, id;
  int sessionPort = 0, pid = 0;
  int fd = -1;
  std::string in, frames;
  ScreenModel screen{24, 80};
  int lastLine = -1;    // highest line number shown so far
  bool done = false;    // the final screen has been checked
  std::string failure;  // what went wrong, if anything
  uint64_t bytes = 0;

  void Fail(const std::string& why) {
    if (failure.empty()) failure = why;
  }

  // Every line on the screen is this session's own, whole, consecutive,
  // and never older than what was shown before; the end is checked whole.
  void Check() {
    int expectNext = -1;
    bool sawEnd = false;
    int endRow = -1;
    for (int y = 0; y < screen.rows; y++) {
      const std::string row = screen.Row(y);
      if (row.empty()) continue;
      if (row == tag + " END") {
        sawEnd = true;
        endRow = y;
        continue;
      }
      if (row.compare(0, tag.size() + 1, tag + " ") != 0) {
        Fail("row " + std::to_string(y) + " is not this session's: [" + row + "]");
        return;
      }
      int k = atoi(row.c_str() + tag.size() + 1);
      if (row != Line(tag, k)) {
        Fail("row " + std::to_string(y) + " is damaged: [" + row + "]");
        return;
      }
      if (expectNext >= 0 && k != expectNext) {
        Fail("line " + std::to_string(expectNext) + " missing before [" + row + "]");
        return;
      }
      if (sawEnd) {
        Fail("a line after the end");
        return;
      }
      expectNext = k + 1;
      if (k > lastLine) lastLine = k;
    }
    if (sawEnd) {
      if (expectNext != kLines || endRow < 1) {
        Fail("the end came after line " + std::to_string(expectNext - 1));
        return;
      }
      done = true;
    }
  }
};

// A browser's WebSocket, opened by hand so that it can join the epoll loop.
int OpenChannel(int serverPort, const std::string& id) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin = {};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(static_cast<uint16_t>(serverPort));
  inet_pton(AF_INET, "127.0.0.1", &sin.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
    close(fd);
    return -1;
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const std::string req = "GET /get_te_channel?session=" + id +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                          "Sec-WebSocket-Protocol: teCtrl\r\n\r\n";
  if (write(fd, req.data(), req.size()) != static_cast<ssize_t>(req.size())) {
    close(fd);
    return -1;
  }
  // The answer, byte by byte, up to its blank line.
  std::string answer;
  char c;
  while (answer.size() < 4096 && read(fd, &c, 1) == 1) {
    answer += c;
    if (answer.size() >= 4 && answer.compare(answer.size() - 4, 4, "\r\n\r\n") == 0) break;
  }
  if (answer.rfind("HTTP/1.1 101", 0) != 0) {
    close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      usleep(1000);
    } else {
      return false;
    }
  }
  return true;
}

// Takes whole WebSocket frames off `in`; every binary one is a channel frame.
void TakeFrames(Browser& b) {
  for (;;) {
    if (b.in.size() < 2) return;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(b.in.data());
    uint64_t len = p[1] & 0x7F;
    size_t head = 2;
    if (len == 126) {
      if (b.in.size() < 4) return;
      len = (static_cast<uint64_t>(p[2]) << 8) | p[3];
      head = 4;
    } else if (len == 127) {
      if (b.in.size() < 10) return;
      len = 0;
      for (int i = 0; i < 8; i++) len = (len << 8) | p[2 + i];
      head = 10;
    }
    if (b.in.size() < head + len) return;
    const int op = p[0] & 0x0F;
    if (op == 2) {
      std::string payload = b.in.substr(head, static_cast<size_t>(len));
      auto f = ChannelDecode(payload);
      if (f) {
        if (!b.screen.Apply(*f)) b.Fail("malformed frame: " + b.screen.error);
        if (f->action == KVX_HOST_ACTION_UPDATE) b.Check();
      }
    }
    b.in.erase(0, head + static_cast<size_t>(len));
  }
}

long ProcKiB(int pid, const char* file, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
  return -1;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

struct Memory {
  double pss = 0, rss = 0;  // MiB per session process
};

Memory SessionMemory(const std::vector<std::unique_ptr<Browser>>& browsers) {
  Memory m;
  int n = 0;
  for (const auto& b : browsers) {
    long pss = ProcKiB(b->pid, "smaps_rollup", "Pss"), rss = ProcKiB(b->pid, "status", "VmRSS");
    if (pss < 0 || rss < 0) continue;
    m.pss += pss;
    m.rss += rss;
    n++;
  }
  if (n) {
    m.pss /= n * 1024.0;
    m.rss /= n * 1024.0;
  }
  return m;
}

}  // namespace

int main() {
  const char* envN = getenv("KVX_SCALE_N");
  const int N = envN && atoi(envN) > 0 ? atoi(envN) : 1000;
  // Every browser is a socket here and two in the server.
  rlimit files;
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);

  Host host;
  ServerOptions options;
  const std::string cap = std::to_string(N + 100);
  options.args = {"-p", "0", "-b", "127.0.0.1", "--max-sessions", cap, "--max-sessions-per-client", cap};
  KavrixServer server(options);
  if (server.port() <= 0) {
    fprintf(stderr, "bench-scale: the server did not start\n%s", server.err().c_str());
    return 1;
  }
  const std::string config =
      "{\"kcf\":{\"commtype\":0,\"node\":\"127.0.0.1\",\"port\":" + std::to_string(host.port()) +
      ",\"emulate\":" + std::to_string(KVX_EM_XTERM) +
      ",\"MBMode\":1,\"lines\":24,\"col\":80},\"connectToHost\":true}";

  // Ramp up: start, configure and attach N sessions, one after the other.
  std::vector<std::unique_ptr<Browser>> browsers;
  std::vector<double> ramp;
  int ep = epoll_create1(EPOLL_CLOEXEC);
  const double t0 = bench::now();
  for (int i = 0; i < N; i++) {
    auto b = std::make_unique<Browser>();
    b->index = i;
    b->tag = Tag(i);
    const double s0 = bench::now();
    HttpResponse r = PostJson(server.port(), "/new_session", "{\"deviceId\":\"scale\"}");
    ramp.push_back(bench::now() - s0);
    b->id = JsonText(r.body, "content.sessionId");
    b->sessionPort = JsonInt(r.body, "content.port", 0);
    if (b->id.empty() ||
        EnvelopeCode(PostJson(server.port(), "/load_config?session=" + b->id, config).body) != 0 ||
        (b->fd = OpenChannel(server.port(), b->id)) < 0) {
      fprintf(stderr, "bench-scale: session %d did not start: %s\n%s", i, r.body.c_str(),
              server.err().substr(server.err().size() > 2000 ? server.err().size() - 2000 : 0).c_str());
      return 1;
    }
    epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.u32 = static_cast<uint32_t>(i);
    epoll_ctl(ep, EPOLL_CTL_ADD, b->fd, &ev);
    browsers.push_back(std::move(b));
  }
  const double rampSeconds = bench::now() - t0;

  // Reads whatever the browsers were sent, until `done` or the deadline.
  auto pump = [&](const std::function<bool()>& done, double seconds) {
    const double end = bench::now() + seconds;
    epoll_event events[512];
    char buf[65536];
    while (!done() && bench::now() < end) {
      int n = epoll_wait(ep, events, 512, 100);
      for (int e = 0; e < n; e++) {
        Browser& b = *browsers[events[e].data.u32];
        for (;;) {
          ssize_t got = read(b.fd, buf, sizeof buf);
          if (got > 0) {
            b.in.append(buf, static_cast<size_t>(got));
            b.bytes += static_cast<uint64_t>(got);
            continue;
          }
          if (got == 0) b.Fail("channel closed");
          break;
        }
        TakeFrames(b);
      }
    }
    return done();
  };
  const bool allConnected = pump(
      [&] {
        for (auto& b : browsers)
          if (b->screen.connected != 1) return false;
        return true;
      },
      120);
  for (auto& b : browsers) b->pid = server.ChildPid(b->sessionPort, 5);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const Memory idle = SessionMemory(browsers);

  // Starts with N live: 50 more, each ended again.
  std::vector<double> live;
  for (int i = 0; i < 50; i++) {
    const double s0 = bench::now();
    HttpResponse r = PostJson(server.port(), "/new_session", "{\"deviceId\":\"extra\"}");
    live.push_back(bench::now() - s0);
    const std::string id = JsonText(r.body, "content.sessionId");
    if (!id.empty()) PostJson(server.port(), "/shutdown_session?session=" + id, "{}");
  }

  // Every host streams at once.
  const double s0 = bench::now();
  for (auto& b : browsers) {
    for (char c : "g" + b->tag + "\r") {
      std::string data(4, '\0');
      data[0] = c;
      if (!SendAll(b->fd, WsEncode(2, ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, data))))
        b->Fail("could not type");
    }
  }
  uint64_t before = 0;
  for (auto& b : browsers) before += b->bytes;
  pump(
      [&] {
        for (auto& b : browsers)
          if (!b->done && b->failure.empty()) return false;
        return true;
      },
      600);
  const double streamSeconds = bench::now() - s0;
  uint64_t after = 0;
  int intact = 0;
  std::string firstFailure;
  for (auto& b : browsers) {
    after += b->bytes;
    if (b->done && b->failure.empty()) {
      intact++;
    } else if (firstFailure.empty()) {
      firstFailure =
          b->tag + ": " +
          (b->failure.empty() ? "did not finish, last line " + std::to_string(b->lastLine) : b->failure);
    }
  }
  const Memory streamed = SessionMemory(browsers);
  const long serverRss = ProcKiB(server.pid(), "status", "VmRSS");

  printf("BENCH\tscale: sessions live at once\t%d\tsessions\n", N);
  printf("BENCH\tscale: session start while ramping to %d live, p50\t%.2f\tms\n", N,
         Percentile(ramp, 0.5) * 1000);
  printf("BENCH\tscale: session start with %d live, p50 (target < 25)\t%.2f\tms\n", N,
         Percentile(live, 0.5) * 1000);
  printf("BENCH\tscale: session start with %d live, p95\t%.2f\tms\n", N, Percentile(live, 0.95) * 1000);
  printf("BENCH\tscale: proportional memory per session, connected and idle (target < 2)\t%.2f\tMiB\n",
         idle.pss);
  printf("BENCH\tscale: proportional memory per session, after streaming (target < 2)\t%.2f\tMiB\n",
         streamed.pss);
  printf("BENCH\tscale: resident memory per session, after streaming\t%.2f\tMiB\n", streamed.rss);
  printf("BENCH\tscale: server resident memory with %d browsers relayed\t%.2f\tMiB\n", N, serverRss / 1024.0);
  printf("BENCH\tscale: sessions whose output arrived intact (of %d)\t%d\tsessions\n", N, intact);
  printf("BENCH\tscale: output to %d browsers at once\t%.2f\tMB/s\n", N,
         (after - before) / 1e6 / streamSeconds);
  fflush(stdout);
  fprintf(stderr,
          "bench-scale: %d sessions started, configured and attached in %.1f s (all connected: %s); "
          "%d lines each streamed in %.1f s; %d of %d intact%s%s\n",
          N, rampSeconds, allConnected ? "yes" : "no", kLines, streamSeconds, intact, N,
          firstFailure.empty() ? "" : "; first failure: ", firstFailure.c_str());
  for (auto& b : browsers) close(b->fd);
  close(ep);
  return 0;
}
