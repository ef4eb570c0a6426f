// What the Wyse 50 family's byte machine (wy50.cpp) and its escape
// sequences (wy50esc.cpp) share, and the pieces of it the Wyse 60 family
// uses too (the cursor advance, the line-graphics set).
#pragma once

#include "em/wycmd.h"
#include "em/wyse.h"

// An argument byte of the escape command being collected (state WY_ARGS).
void w5_escarg(te* t, int c);
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
