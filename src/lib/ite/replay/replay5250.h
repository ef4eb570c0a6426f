// Replay of recorded 5250 sessions (te-replay --emulation 22 or 23): the
// 5250 station behind the block-mode replay.  Host records are fed as they
// came; each recorded reply of the operator is typed again as an operator
// would (cursor to each field, erase to its end, the text, the cursor to
// where it was, the AID key).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "blockreplay.h"

class CTe5250Ctrl;

// The station for emulation setting 22 (80 columns) or 23 (27 x 132).
std::unique_ptr<br_engine> br_engine_5250(int emulation);

// Types the operator's part of a recorded station record (header
// included).  False, with nothing typed, for a record that carries no
// operator AID (a query reply, a reply to an immediate or screen read, an
// error, attention or system-request record).
bool te5250_type_reply(CTe5250Ctrl* ctrl, const std::vector<uint8_t>& record);

// Key code of an AID byte (0 for none).
int te5250_key_of_aid(uint8_t aid);
