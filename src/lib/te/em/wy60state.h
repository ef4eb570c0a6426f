// What the Wyse 60 family's byte machine (wy60.cpp) and its escape
// sequences (wy60esc.cpp) share; private to those two files.
#pragma once

#include "em/wy50state.h"
#include "em/wycmd.h"
#include "em/wyse.h"

// Writes one character at the cursor (set bits included) and advances.
void w6_put(te* t, CHATTR ch);
// The byte after ESC (state WY_ESC), an argument byte of the command being
// collected (WY_ARGS) and the byte after ESC c (WY_ESCC).
void w6_escape(te* t, int c);
void w6_escarg(te* t, int c);
void w6_escc(te* t, int c);
