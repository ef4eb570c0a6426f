// tn-replay-host: plays the host side of a recorded telnet block-mode
// session (trace notation: '<' lines host to terminal, '>' lines terminal to
// host, one block per socket read or write) to one terminal that connects.
//
//   tn-replay-host --trace FILE [--port N] [--wait SECONDS] [--hold SECONDS]
//                  [--log FILE]
//
// It listens on 127.0.0.1 (port 0: the system chooses), prints "port N" on
// standard output, accepts one connection and walks the trace: host blocks
// are sent as recorded; before each host block that follows terminal blocks
// carrying records, it waits (at most --wait seconds, default 20) until the
// terminal has sent as many records and compares them with the recorded
// ones.  Records compare on their data after the 10-byte 5250 header and
// their flags byte; a query reply (AID 0x88) compares only on its
// structured-field head and its length, since it describes the terminal.
// Telnet negotiation is answered by the terminal as it likes; everything
// the terminal sent is written to --log (hex, one record or negotiation
// run per line) for the test to read.  After the trace the connection stays
// open until the terminal closes it, or --hold seconds (default 0.3) pass
// with nothing from the terminal.  Exit status: 0 when every record
// matched and the trace ended, 3 on a mismatch, 4 on a timeout, 2 on usage.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Block {
  bool fromHost;
  std::vector<uint8_t> bytes;
};

int hexval(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Blocks of the trace: a new block starts where the direction changes or
// the offset goes back to 0.
std::vector<Block> read_blocks(const std::string& path) {
  std::ifstream in(path);
  std::vector<Block> blocks;
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 5 || (line[0] != '<' && line[0] != '>') || line[1] != ' ') continue;
    std::istringstream fields(line.substr(2));
    std::string offset, hex;
    fields >> offset >> hex;
    if (offset.rfind("0x", 0) != 0) continue;
    const bool host = line[0] == '<';
    if (blocks.empty() || blocks.back().fromHost != host || std::strtol(offset.c_str(), nullptr, 16) == 0)
      blocks.push_back({host, {}});
    for (size_t k = 0; k + 1 < hex.size(); k += 2) {
      const int hi = hexval(hex[k]), lo = hexval(hex[k + 1]);
      if (hi < 0 || lo < 0) break;
      blocks.back().bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
  }
  return blocks;
}

// Telnet unframing of what the terminal sends: data records (ended by
// IAC EOR) and the negotiation around them.
struct Unframer {
  enum { DATA, IAC, VERB, SB, SB_IAC } state = DATA;
  std::vector<uint8_t> record, negotiation;
  std::vector<std::vector<uint8_t>> records;
  std::vector<std::vector<uint8_t>> log;  // records and negotiation runs in order

  void FlushNegotiation() {
    if (!negotiation.empty()) log.push_back(negotiation);
    negotiation.clear();
  }
  void Feed(uint8_t b) {
    switch (state) {
      case DATA:
        if (b == 0xFF)
          state = IAC;
        else
          record.push_back(b);
        break;
      case IAC:
        state = DATA;
        if (b == 0xFF) {
          record.push_back(0xFF);
        } else if (b == 0xEF) {
          FlushNegotiation();
          records.push_back(record);
          log.push_back(record);
          record.clear();
        } else if (b == 0xFA) {
          negotiation.insert(negotiation.end(), {0xFF, 0xFA});
          state = SB;
        } else if (b >= 0xFB) {
          negotiation.insert(negotiation.end(), {0xFF, b});
          state = VERB;
        }
        break;
      case VERB:
        negotiation.push_back(b);
        state = DATA;
        break;
      case SB:
        negotiation.push_back(b);
        if (b == 0xFF) state = SB_IAC;
        break;
      case SB_IAC:
        negotiation.push_back(b);
        state = b == 0xF0 ? DATA : SB;
        if (b == 0xF0) FlushNegotiation();
        break;
    }
  }
};

std::string hex_of(const std::vector<uint8_t>& v, size_t from = 0) {
  std::string s;
  char b[4];
  for (size_t i = from; i < v.size(); i++) {
    snprintf(b, sizeof b, "%02x", v[i]);
    s += b;
  }
  return s;
}

bool same_record(const std::vector<uint8_t>& want, const std::vector<uint8_t>& got) {
  if (want.size() < 10 || got.size() < 10) return want == got;
  if (want[7] != got[7]) return false;
  if (want.size() > 12 && want[12] == 0x88)  // query reply: its head and size
    return got.size() == want.size() && got.size() > 16 &&
           std::equal(want.begin() + 12, want.begin() + 17, got.begin() + 12);
  return std::equal(want.begin() + 10, want.end(), got.begin() + 10, got.end());
}

int write_all(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return -1;
    done += static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string trace, logPath;
  int port = 0;
  double wait = 20, hold = 0.3;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    if (i + 1 >= argc) {
      fprintf(stderr, "tn-replay-host: %s needs a value\n", a.c_str());
      return 2;
    }
    if (a == "--trace")
      trace = argv[++i];
    else if (a == "--port")
      port = atoi(argv[++i]);
    else if (a == "--wait")
      wait = atof(argv[++i]);
    else if (a == "--hold")
      hold = atof(argv[++i]);
    else if (a == "--log")
      logPath = argv[++i];
    else {
      fprintf(stderr, "tn-replay-host: unknown option %s\n", a.c_str());
      return 2;
    }
  }
  const std::vector<Block> blocks = read_blocks(trace);
  if (blocks.empty()) {
    fprintf(stderr, "tn-replay-host: no byte lines in %s\n", trace.c_str());
    return 2;
  }
  const int ls = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(ls, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(ls, 1) != 0 ||
      getsockname(ls, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    perror("tn-replay-host");
    return 2;
  }
  printf("port %d\n", ntohs(addr.sin_port));
  fflush(stdout);
  const int fd = accept(ls, nullptr, nullptr);
  close(ls);
  if (fd < 0) return 2;

  // The recorded terminal records, in order, and how many precede each block.
  Unframer recorded;
  Unframer seen;
  size_t expected = 0;
  int status = 0;
  auto flushLog = [&]() {
    if (logPath.empty()) return;
    std::ofstream out(logPath, std::ios::trunc);
    for (const auto& r : seen.log) out << hex_of(r) << "\n";
  };
  auto readUntil = [&](size_t records) -> bool {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(wait);
    while (seen.records.size() < records) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      uint8_t buf[4096];
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return false;
      for (ssize_t k = 0; k < n; k++) seen.Feed(buf[k]);
      flushLog();
    }
    return true;
  };
  for (const Block& b : blocks) {
    if (!b.fromHost) {
      for (uint8_t x : b.bytes) recorded.Feed(x);
      continue;
    }
    if (recorded.records.size() > expected) {
      if (!readUntil(recorded.records.size())) {
        fprintf(stderr, "tn-replay-host: timeout waiting for terminal record %zu\n", recorded.records.size());
        status = 4;
        break;
      }
      for (; expected < recorded.records.size(); expected++) {
        if (!same_record(recorded.records[expected], seen.records[expected])) {
          fprintf(stderr, "tn-replay-host: terminal record %zu differs\n  recorded %s\n  received %s\n",
                  expected + 1, hex_of(recorded.records[expected]).c_str(),
                  hex_of(seen.records[expected]).c_str());
          status = 3;
          break;
        }
      }
      if (status) break;
    }
    if (write_all(fd, b.bytes) != 0) {
      fprintf(stderr, "tn-replay-host: the terminal went away\n");
      status = 4;
      break;
    }
  }
  if (status == 0 && recorded.records.size() > expected) {
    if (!readUntil(recorded.records.size())) {
      status = 4;
    } else {
      for (; expected < recorded.records.size() && status == 0; expected++)
        if (!same_record(recorded.records[expected], seen.records[expected])) status = 3;
    }
  }
  // Whatever else the terminal says is logged until it closes or goes quiet.
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(hold * 1000)) <= 0) break;
    uint8_t buf[4096];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    for (ssize_t k = 0; k < n; k++) seen.Feed(buf[k]);
  }
  flushLog();
  printf("%s\n", status == 0 ? "done" : "failed");
  fflush(stdout);
  close(fd);
  return status;
}
