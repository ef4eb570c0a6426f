// What an IBM station tells the host about itself besides its terminal
// type: the keyboard type, code page and character set of a 5250 station
// (NEW-ENVIRON), taken from the session's settings.
#pragma once

#include "lumdict.h"
#include "telnetparser.h"

// Fills the keyboard type, code page and character set of `settings` from
// `cptrxin` (the host code page, tcs.h's locale table) and `ibmkbdtype`
// (empty: the code page's usual keyboard).
void LumStationIdentity(LumDict* dict, LumTelnetSettings* settings);
