// Trace files of recorded block-mode sessions: byte lines in, telnet
// framing undone, records out.
#include "tracefile.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace {

constexpr uint8_t IAC = 0xFF, SB = 0xFA, SE = 0xF0, EOR = 0xEF, WILL = 0xFB, WONT = 0xFC, DO = 0xFD,
                  DONT = 0xFE;
constexpr uint8_t OPT_BINARY = 0x00, OPT_TTYPE = 0x18, OPT_EOR = 0x19, OPT_TN3270E = 0x28;

int hexval(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = (char)std::tolower((unsigned char)c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "< 0x20  0a0b..." -> the bytes; false for any other line.
bool byte_line(const std::string& line, bool& fromHost, std::vector<uint8_t>& bytes) {
  if (line.size() < 5 || (line[0] != '<' && line[0] != '>') || line[1] != ' ') return false;
  size_t i = 2;
  while (i < line.size() && line[i] == ' ') i++;
  if (line.compare(i, 2, "0x") != 0) return false;
  i += 2;
  size_t digits = 0;
  while (i < line.size() && hexval(line[i]) >= 0) i++, digits++;
  if (!digits || i >= line.size() || line[i] != ' ') return false;
  while (i < line.size() && line[i] == ' ') i++;
  size_t start = i;
  std::vector<uint8_t> out;
  for (; i + 1 < line.size() && hexval(line[i]) >= 0 && hexval(line[i + 1]) >= 0; i += 2)
    out.push_back((uint8_t)(hexval(line[i]) << 4 | hexval(line[i + 1])));
  while (i < line.size() && std::isspace((unsigned char)line[i])) i++;
  if (i != line.size() || i == start) return false;
  fromHost = line[0] == '<';
  bytes = std::move(out);
  return true;
}

// One direction's telnet parser.
class Unframer {
 public:
  explicit Unframer(bool fromHost) : fromHost_(fromHost) {}

  void feed(const std::vector<uint8_t>& in, bool& tn3270e, std::vector<trc_event>& out) {
    for (uint8_t b : in) {
      switch (state_) {
        case DATA:
          if (b == IAC)
            state_ = GOT_IAC;
          else
            data_.push_back(b);
          break;
        case GOT_IAC:
          state_ = DATA;
          if (b == IAC) {
            data_.push_back(IAC);
          } else if (b == EOR) {
            out.push_back({TRC_RECORD, fromHost_, tn3270e, std::move(data_)});
            data_.clear();
          } else if (b == WILL || b == WONT || b == DO || b == DONT) {
            verb_ = b;
            state_ = OPTION;
          } else if (b == SB) {
            sub_.clear();
            state_ = SUB;
          }
          break;
        case OPTION:
          state_ = DATA;
          option(verb_, b, tn3270e, out);
          break;
        case SUB:
          if (b == IAC)
            state_ = SUB_IAC;
          else if (sub_.size() < 4096)
            sub_.push_back(b);
          break;
        case SUB_IAC:
          if (b == SE) {
            state_ = DATA;
            subnegotiation(tn3270e, out);
          } else {
            if (sub_.size() < 4096) sub_.push_back(b);
            state_ = SUB;
          }
          break;
      }
    }
  }

 private:
  enum State { DATA, GOT_IAC, OPTION, SUB, SUB_IAC };

  // Data sent before the session turns to records is line-mode text.
  void flush_text(std::vector<trc_event>& out) {
    if (data_.empty()) return;
    out.push_back({TRC_NVT, fromHost_, false, std::move(data_)});
    data_.clear();
  }

  void option(uint8_t verb, uint8_t opt, bool& tn3270e, std::vector<trc_event>& out) {
    if (opt == OPT_BINARY || opt == OPT_EOR || opt == OPT_TTYPE || opt == OPT_TN3270E) flush_text(out);
    if (opt == OPT_TN3270E && (verb == WONT || verb == DONT)) tn3270e = false;
    out.push_back({TRC_NEGOTIATE, fromHost_, tn3270e, {IAC, verb, opt}});
  }

  void subnegotiation(bool& tn3270e, std::vector<trc_event>& out) {
    // TN3270E: DEVICE-TYPE (2) or FUNCTIONS (3) IS (4) from the host.
    if (fromHost_ && sub_.size() >= 3 && sub_[0] == OPT_TN3270E && (sub_[1] == 0x02 || sub_[1] == 0x03) &&
        sub_[2] == 0x04) {
      flush_text(out);
      tn3270e = true;
    }
    std::vector<uint8_t> bytes = {IAC, SB};
    bytes.insert(bytes.end(), sub_.begin(), sub_.end());
    bytes.push_back(IAC);
    bytes.push_back(SE);
    out.push_back({TRC_NEGOTIATE, fromHost_, tn3270e, std::move(bytes)});
  }

  bool fromHost_;
  State state_ = DATA;
  uint8_t verb_ = 0;
  std::vector<uint8_t> data_;
  std::vector<uint8_t> sub_;
};

}  // namespace

bool trc_parse(const std::string& text, std::vector<trc_chunk>& out) {
  out.clear();
  std::istringstream in(text);
  std::string line;
  bool any = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    bool fromHost;
    std::vector<uint8_t> bytes;
    if (!byte_line(line, fromHost, bytes)) continue;
    any = true;
    if (!out.empty() && out.back().fromHost == fromHost)
      out.back().bytes.insert(out.back().bytes.end(), bytes.begin(), bytes.end());
    else
      out.push_back({fromHost, std::move(bytes)});
  }
  return any;
}

bool trc_load(const std::string& path, std::vector<trc_chunk>& out, std::string* error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    if (error) *error = "cannot read " + path;
    return false;
  }
  std::stringstream ss;
  ss << f.rdbuf();
  if (!trc_parse(ss.str(), out)) {
    if (error) *error = path + " holds no byte lines";
    return false;
  }
  return true;
}

std::vector<trc_event> trc_events(const std::vector<trc_chunk>& chunks) {
  std::vector<trc_event> out;
  Unframer host(true), term(false);
  bool tn3270e = false;
  for (const trc_chunk& c : chunks) (c.fromHost ? host : term).feed(c.bytes, tn3270e, out);
  return out;
}
