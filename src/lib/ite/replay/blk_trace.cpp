// Trace notation reader: byte lines, telnet unframing, records.
#include "blk_trace.h"

#include <cstdio>
#include <sstream>

namespace {

enum : uint8_t {
  IAC = 0xFF,
  SB = 0xFA,
  SE = 0xF0,
  EOR = 0xEF,
  WILL = 0xFB,
  WONT = 0xFC,
  DO = 0xFD,
  DONT = 0xFE
};

// Telnet unframing of one direction.
struct Unframer {
  enum State { DATA, GOT_IAC, VERB, SUB, SUB_IAC } state = DATA;
  std::vector<uint8_t> record;

  // Feeds one byte; true when it ended a record.
  bool Feed(uint8_t b) {
    switch (state) {
      case DATA:
        if (b == IAC)
          state = GOT_IAC;
        else
          record.push_back(b);
        return false;
      case GOT_IAC:
        state = DATA;
        if (b == IAC) {
          record.push_back(IAC);
        } else if (b == EOR) {
          return true;
        } else if (b == SB) {
          state = SUB;
        } else if (b >= WILL) {
          state = VERB;
        }
        return false;
      case VERB:
        state = DATA;
        return false;
      case SUB:
        if (b == IAC) state = SUB_IAC;
        return false;
      case SUB_IAC:
        state = b == SE ? DATA : SUB;
        return false;
    }
    return false;
  }
};

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool blk_trace_parse(const std::string& text, std::vector<blk_record>& records, std::string* error) {
  Unframer dir[2];  // 0 = from the host, 1 = from the terminal
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    number++;
    if (line.size() < 5 || (line[0] != '<' && line[0] != '>') || line[1] != ' ') continue;
    size_t p = 2;
    while (p < line.size() && line[p] == ' ') p++;
    if (line.compare(p, 2, "0x") != 0) continue;
    while (p < line.size() && line[p] != ' ') p++;  // the offset
    while (p < line.size() && line[p] == ' ') p++;
    size_t end = line.size();
    while (end > p && (line[end - 1] == ' ' || line[end - 1] == '\r')) end--;
    if ((end - p) % 2 != 0) {
      if (error) *error = "line " + std::to_string(number) + ": odd number of hex digits";
      return false;
    }
    const int d = line[0] == '<' ? 0 : 1;
    for (size_t k = p; k < end; k += 2) {
      const int hi = hex_value(line[k]), lo = hex_value(line[k + 1]);
      if (hi < 0 || lo < 0) {
        if (error) *error = "line " + std::to_string(number) + ": not a hex byte";
        return false;
      }
      if (dir[d].Feed(static_cast<uint8_t>(hi << 4 | lo))) {
        blk_record r;
        r.fromHost = d == 0;
        r.bytes.swap(dir[d].record);
        r.line = number;
        records.push_back(std::move(r));
      }
    }
  }
  for (int d = 0; d < 2; d++) {
    if (dir[d].record.empty()) continue;
    blk_record r;
    r.fromHost = d == 0;
    r.bytes.swap(dir[d].record);
    r.complete = false;
    r.line = number;
    records.push_back(std::move(r));
  }
  return true;
}

bool blk_read_file(const char* path, std::string& text) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  text.clear();
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  const bool ok = !ferror(f);
  fclose(f);
  return ok;
}
