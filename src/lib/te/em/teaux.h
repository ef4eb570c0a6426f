// Auxiliary port of the character-mode engine: the diversion of host
// output to a serial device beside the terminal (ANSI media copy, Wyse
// ESC d), the routing of host bytes between the diversion and the
// emulation, and the filter that finds the end of a diversion.  The device
// itself belongs to the owner: the engine reaches it through the aux_*
// hooks of te_hooks and never opens anything itself.
#pragma once

#include <cstddef>

#include "te/terec.h"

// A device or port number, a speed and a word length are configured.
bool te_useaux(te* t);

// Diversion bits: status 0x1 sets bit 0x1 and 0x2 clears it, 0x4 sets bit
// 0x4 and 0x8 clears it; each change is reported through the capture
// notification (kind 6 for bit 0x1, 5 for bit 0x4).  Returns auxmode.
int setaux(te* t, int status);
