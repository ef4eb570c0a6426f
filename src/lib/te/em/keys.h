// Keyboard side of the character-mode engine: the key strings every family
// falls back to, the host-programmed key slots, and sending a key string to
// the host with the local echo of half-duplex mode.  The family handlers
// (ansiemkey, ...) turn a key code (keyname.h) or a TCS character into the
// bytes that terminal sends; TEemkey (te.h) dispatches to the loaded one.
//
// A returned key string is either a constant or points into the record
// (its programmed slots or its key buffer): it stays valid until the next
// key is translated or the slot is reprogrammed.
#pragma once

#include "te/terec.h"

// Key strings shared by the families that have none of their own: F1-F12
// ESC ] M..X, the cursor keys and home ESC ] A/B/C/D/H, the keypad's
// characters, delete and Ctrl+Backspace DEL, Backspace BS; null otherwise.
const char* defkey(te* t, int code);

// Translates a key through the loaded family and sends what results with
// skey; 1 when something was sent.
int fnkey(te* t, int code);

// Sends a key string to the host; with local echo on (dupmode 1) the bytes
// are first shown as if the host had sent them.
void skey(te* t, const char* text);

// Host-programmed key slots (0..TE_PRGKEYS-1): a copy of `text` replaces the
// slot's string (an empty or null text leaves it empty); out-of-range slots
// are ignored.
void setprgkey(te* t, int slot, const char* text);
void clrprgkeys(te* t);
// The programmed string of a slot, or null when it is empty.
const char* prgkey(const te* t, int slot);

// Scan-code keyboard mode on (1), off (0) or unchanged (-1); returns whether
// it is on.  No key string depends on it.
int setscan(te* t, int on);
