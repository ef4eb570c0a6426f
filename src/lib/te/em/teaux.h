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

// The port through the owner's hooks: open (resetting the filter; the
// descriptor or -1), close, one byte (true when taken).
int te_aux_open_port(te* t);
void te_aux_close_port(te* t);
bool te_aux_write_char(te* t, int byte);

// A host byte through the diversion filter: 1 when the diversion took it, 0
// when there is no diversion (or it could not start: the port did not
// open, which ends the diversion) and the byte is the emulation's.
int te_aux_send_char(te* t, int byte);
// Bytes through the filter until the diversion ends; how many it took.
size_t te_aux_send_buffer(te* t, const unsigned char* bytes, size_t n);

// A host byte to the diversion or to the emulation (ttyout), and bytes the
// same way, one at a time while a port is configured.
void ttyout(te* t, int byte);
void te_aux_route(te* t, const unsigned char* bytes, size_t n);

// A byte passed on by the dialog engine's wait: the answer-back trigger
// sends the answer-back text instead; otherwise parity is stripped when set
// and the byte goes to ttyout.
void dispcapt(te* t, int byte);
