// What the Wyse 50 family's byte machine (wy50.cpp) and its escape
// sequences (wy50esc.cpp) share; private to those two files.
#pragma once

#include "em/wyse.h"

// Escape states (fam.st) of the Wyse 50 family.
enum : int {
  W5_GROUND = 0,
  W5_ESC,      // after ESC
  W5_ARGS,     // collecting fam.need argument bytes for fam.cmd
  W5_MESSAGE,  // text ignored up to CR
  W5_STATUS,   // text for the status line
  W5_PROGSEL,  // ESC z: the selector byte
  W5_PROG,     // ESC z: programmed text
  W5_ALPHA,    // WYCOL ESC ESC
  W5_MONITOR,  // monitor mode
  W5_MONESC,   // monitor mode after ESC
  W5_DECADDR,  // ESC a: decimal address
};

// Runs the escape command fam.cmd with its collected arguments.
void w5_command(te* t, int cmd);
void w5_clrall(te* t, int resetmodes);
CHATTR w5_keepmask(te* t);
int w5_wide(te* t);
CHATTR w5_prevattr(te* t, int y, int x);
void w5_repaint(te* t, int y, int x);
void w5_advance(te* t);

// The line-graphics set of the Wyse 50 members other than the Televideo
// 925/950 and WYCOL, and of the Wyse 60.
extern const short wy_wygrset[16];
// A code-page byte as an internal character (a control shows as a blank).
int wy_cptotcs(te* t, int b);
