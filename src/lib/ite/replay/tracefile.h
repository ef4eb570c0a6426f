// Recorded block-mode sessions: the trace file format and the records in
// it.  Only lines "< 0x<offset> <hex>" (host to terminal) and
// "> 0x<offset> <hex>" (terminal to host) carry bytes; every other line is
// commentary.  The bytes are what crossed the telnet layer: option
// negotiation, doubled 0xFF data bytes, IAC EOR after every record.  Reads
// are not records: each direction is joined and cut at IAC EOR here.
//
// Shared by the replay tool and the tests that play a recorded host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A run of bytes in one direction, as the trace lists it.
struct trc_chunk {
  bool fromHost;
  std::vector<uint8_t> bytes;
};

// Reads the byte lines of a trace, joining consecutive lines of the same
// direction; false (with a message in *error) when the file cannot be read.
bool trc_load(const std::string& path, std::vector<trc_chunk>& out, std::string* error = nullptr);
bool trc_parse(const std::string& text, std::vector<trc_chunk>& out);

enum trc_kind : int {
  TRC_RECORD,    // a record ended by IAC EOR (telnet framing undone)
  TRC_NVT,       // data sent outside records (line-mode text) before a negotiation
  TRC_NEGOTIATE,  // a telnet command or subnegotiation (bytes: as sent)
};

struct trc_event {
  trc_kind kind;
  bool fromHost;
  bool tn3270e;  // records: the session used TN3270E framing when it ended
  std::vector<uint8_t> bytes;
};

// Undoes the telnet framing of both directions in trace order.  TN3270E
// framing starts when the host sends DEVICE-TYPE IS or FUNCTIONS IS and
// ends at WONT or DONT TN3270E.  Data left without IAC EOR at the end of
// the trace is not a record.
std::vector<trc_event> trc_events(const std::vector<trc_chunk>& chunks);
