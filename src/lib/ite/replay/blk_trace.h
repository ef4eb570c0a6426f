// Recorded block-mode host sessions (3270, 5250) in the trace notation: the
// lines "< 0x<offset> <hex>" (host to terminal) and "> 0x<offset> <hex>"
// (terminal to host) carry bytes, every other line is commentary.  Each
// direction is joined, undone from telnet framing (negotiation dropped,
// IAC IAC one data byte) and cut into records at IAC EOR.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct blk_record {
  bool fromHost = true;
  std::vector<uint8_t> bytes;
  bool complete = true;  // ended with IAC EOR
  int line = 0;          // trace line that completed it (1-based)
};

// Records of both directions in the order their ends appear in the trace;
// bytes left without an end of record come last as incomplete records.
// False with a message when a byte line is malformed.
bool blk_trace_parse(const std::string& text, std::vector<blk_record>& records, std::string* error);

// Reads a whole file; false when it cannot be read.
bool blk_read_file(const char* path, std::string& text);
