// Replaying a recorded 5250 session into the station: host records are fed
// as they came, and each recorded reply of the operator is typed again as an
// operator would (cursor to each field, erase to its end, the text, cursor
// to where it was, the AID key).
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

class CTe5250Ctrl;

// Types the operator's part of a recorded station record (header included).
// False, with nothing typed, for a record that carries no operator AID (a
// query reply, an error or system-request record, a bare header).
bool te5250_type_reply(CTe5250Ctrl* ctrl, const std::vector<uint8_t>& record);

// Key code of an AID byte (0 for none).
int te5250_key_of_aid(uint8_t aid);

// te-replay for settings 22 and 23: replays the trace file and prints the
// screen after each host record (everyRecord) or once at the end.  Returns
// the process exit status.
int te5250_replay(int emulation, const char* traceFile, bool everyRecord, bool cursor, FILE* out);
