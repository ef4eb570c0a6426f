// The IBM 3151 family (IBM 3101, IBM 3151 and its 25-row form): field and
// character attributes, a buffer address apart from the cursor, a mark,
// DLE sequences, edit and send functions that respect fields, the two
// character sets G0 and G1.
#pragma once

#include <cstddef>

#include "te/terec.h"

// Sub-mode bits (_vemode).
enum : int {
  IB_3101 = 0x1,
  IB_3151 = 0x2,
  IB_3151_25 = 0x4,
};

extern const TEPROC ib31_procs;

// Attribute bits of a field: what a field attribute gives its cells.
constexpr CHATTR IB_KEEP = 0xF98000ull;

// ---- byte machine (ib31.cpp)
int ib31eminit(te* t, const char* name);
void ib31emout(te* t, int byte);
void ib31emwrite(te* t, const unsigned char* bytes, size_t length);
void ib31emblk(te* t, int c);
int IbmGetCharSet(te* t, int c);
int IbmGetTCSChar(te* t, int c);
const char* ib31emkey(te* t, int code);
// Writes one character (set bits included) at the cursor and advances.
void ib_put(te* t, CHATTR ch);

// ---- attributes, editing and sending (ib31edit.cpp)
// A field attribute (ESC 3) or a character attribute (ESC 4) from its
// bytes (1-3).
void ib_fieldattr(te* t, const int* bytes, int n);
void ib_charattr(te* t, const int* bytes, int n);
// The attribute bits of attribute byte a (IBM 3101 or 3151 rules).
CHATTR ib_attrbits(te* t, int a);
// Protect or IBM field mode: editing and sending respect fields.
bool ib_fields(te* t);
// The field attribute in effect just before (y, x), and its propagation
// from (y, x) up to the next attribute cell, around the screen once.
CHATTR ib_before(te* t, int y, int x);
void ib_propagate(te* t, int y, int x, CHATTR attr);
void ib_erase_eol(te* t);
void ib_erase_eos(te* t);
void ib_erase_unprot(te* t);
void ib_insline(te* t);
void ib_delline(te* t);
void ib_inschar(te* t);
void ib_delchar(te* t);
void ib_clearall(te* t);
// Line send (ESC 8, ESC ! 8) and page send (ESC SP 8).
void ib_sendline(te* t);
void ib_sendpage(te* t);
// The mark at the cursor (ESC E).
void ib_setmark(te* t);
