// The Wyse 50 family (ADM-1, Televideo 912/925/950, Wyse 50, ADDS
// Viewpoint, Wyse colour) with its attribute cells, the Wyse 60 family with
// per-character attributes, and the pieces they share with each other and
// with the IBM 3151 and PC-term families: cursor movement that wraps around
// the screen, protect-aware moves, the clears, the status and label lines,
// function-key and label programming, block transmission, the printer
// filter and the replies that read the screen back.
#pragma once

#include <cstddef>
#include <cstring>

#include "te/terec.h"

// Sub-mode bits (_vemode) of the Wyse 50 family.
enum : int {
  W5_ADM1 = 0x01,
  W5_TVI912 = 0x02,
  W5_TVI925 = 0x04,
  W5_TVI950 = 0x08,
  W5_WYSE50 = 0x10,
  W5_ADDSVP = 0x20,
  W5_WYCOL = 0x40,
  W5_ALL = 0x7F,
};

// Sub-mode bits of the Wyse 60 family.
enum : int {
  W6_WYSE60 = 0x1,
  W6_WYSE60_25 = 0x2,
};

// Stored character sets (cell bits 8-11) of these families.
enum : int {
  WY_SET_GRAPHICS = 1,  // the family's line-graphics set
  WY_SET_PC = 4,        // Wyse 60 bank set: the PC character with bit 7 set
};

// Attribute bits an attribute cell carries to the following cells.
constexpr CHATTR WY_KEEP = 0xF18000ull;
constexpr CHATTR WY_KEEP_COLOR = 0xFFF18000ull;

extern const TEPROC wy50_procs;
extern const TEPROC wy60_procs;

// ---- Wyse 50 family (wy50.cpp, wy50esc.cpp)
int wy50eminit(te* t, const char* name);
void wy50emout(te* t, int byte);
void wy50emwrite(te* t, const unsigned char* bytes, size_t length);
void wy50emblk(te* t, int c);
int Wyse50GetTCSChar(te* t, int c);
// The byte after ESC on the Wyse 50 family (its argument bytes go to
// w5_escarg).
void w5_escape(te* t, int c);
// The attribute code after ESC G (tvcalcattr / wycolcalcattr).
CHATTR w5_calcattr(te* t, int code);
// Writes an attribute cell at the cursor and propagates it.
void w5_attrcell(te* t, CHATTR attr, int remove);
// Writes one character at the cursor (set bits included) and advances.
void w5_put(te* t, CHATTR ch);
// An erase of columns x0..x1 of row y that keeps each cell's attribute;
// removed attribute cells hand the run to the attribute before them.
void w5_erase(te* t, int y, int x0, int x1, int honourprot);

// ---- Wyse 60 family (wy60.cpp, wy60esc.cpp)
int wy60eminit(te* t, const char* name);
void wy60emout(te* t, int byte);
void wy60emwrite(te* t, const unsigned char* bytes, size_t length);
void wy60emblk(te* t, int c);
int Wyse60GetTCSChar(te* t, int c);

// ---- keyboard maps (wysekey.cpp)
const char* wy50emkey(te* t, int code);
const char* wy60emkey(te* t, int code);

// ---- lazy attribute propagation of the Wyse 50 family (wyattr.cpp)
// Every pass over host bytes starts with wa_sync and ends with wa_flush;
// whoever reads or writes cells of a row calls wa_row first.
void wa_sync(te* t);
void wa_flush(te* t);
void wa_row_slow(te* t, int y);
inline void wa_row(te* t, int y) {
  if (t->fam.ntint) wa_row_slow(t, y);
}
// Row y holds (or may hold) an attribute cell.
void wa_mark(te* t, int y);
// Cells from (y, x) on take `attr` (the bits of `keep`, which must be the
// family's fam.keep) up to the next attribute cell: to the end of the row,
// or of the screen when `wide`.  True when an attribute cell ended it.
bool wa_prop(te* t, int y, int x, CHATTR attr, CHATTR keep, int wide);

// ---- cursor moves (wycursor.cpp)
// Cursor moves that wrap around the screen edges; protect-aware ones skip
// protected cells in the direction of travel.
void wy_setcur(te* t, int y, int x);
// ESC a: decimal row and column, 1-based, each up to three digits (spaces
// allowed), row ended by R and column by C.  True once the sequence has
// ended (the cursor moved when it was whole).
bool wy_decaddr(te* t, int c);
void wy_up(te* t);
void wy_down(te* t);
void wy_left(te* t, int protaware);
void wy_right(te* t, int protaware);
void wy_home(te* t, int protaware);
void wy_cr(te* t, int protaware);
void wy_linefeed(te* t, int protaware);
void wy_revlinefeed(te* t);
// Cursor address from row/column bytes (value - 32), clamped.
void wy_address(te* t, int row, int col);
// Tab to the next stop (to the last column; `wrap`: on to the next row,
// scrolling at the bottom); in protect mode the next unprotected field.
void wy_tab(te* t, int wrap);
void wy_backtab(te* t);
// Scans from the cursor (dir +1 forward, -1 backward, wrapping around the
// screen, at most one screen) for a cell that is unprotected (or protected
// when `wantprot`); `self` includes the cursor cell.  The cursor moves
// there; home when nothing is found (result 0).
int wy_protmove(te* t, int dir, int wantprot, int self);
// Next / previous start of an unprotected field.
void wy_fieldfwd(te* t);
void wy_fieldrev(te* t);
// A control in ground state: whether the "no unprotected cell" knowledge
// (fam.fullprot) survives it.
void wy_keep_fullprot(te* t, int c);

// ---- clears and line editing (wyclear.cpp)
// Clears: all (optionally leaving protect and write protect), unprotected
// cells, to protected blanks; erase unprotected to end of line; erase to
// end of screen.
void wy_clrall(te* t, int resetmodes);
void wy_clrunprot(te* t);
void wy_clrprotblank(te* t);
void wy_eraseeol(te* t);
void wy_eraseeos(te* t);
// Clear with a fill character (one clear, then blanks again).
void wy_clrfill(te* t, int fill, int unprot);
void wy_insline(te* t);
void wy_delline(te* t);
void wy_inschar(te* t);
void wy_delchar(te* t);

// ---- status line, labels and programming (wylabels.cpp)
// Status line: open for writing at `col` (clearing it first when `clear`);
// bytes then go to wy_status_byte until it returns 0 (line done).
void wy_status_open(te* t, int col, int clear);
int wy_status_byte(te* t, int c);
void wy_status_remove(te* t);
void wy_status_attr(te* t, CHATTR attr);
// Writes a label into the status line (unshifted) or the shifted line.
void wy_label(te* t, int n, const char* text, int len, int wyse60);

// Function-key and label programming after ESC z (Wyse 60: also ESC Z):
// wy_prog_begin takes the selector byte; wy_prog_byte the following text,
// returning 0 once the sequence is over.
void wy_prog_begin(te* t, int c, int wyse60);
int wy_prog_byte(te* t, int c);

// ---- replies and block transmission (wysend.cpp)
// Replies to the host.
void wy_reply(te* t, const char* bytes, int n);
void wy_replycursor(te* t, int withpage);
// Whether the host may read the screen back: in block mode or when the
// setting allows it.
bool wy_readback_ok(te* t);
// Block transmission: kind 4 line unprotected, 5 page unprotected, 6 line
// all, 7 page all, 'S' message unprotected, 's' message all.
void wy_send(te* t, int kind);
// The character at the cursor to the host.
void wy_sendchar(te* t);

// ---- printer and auxiliary diversion (wyprint.cpp)
// Printing modes (_ptype): while one is on, host bytes go to the printer
// (and, with `display`, to the screen as well) until the mode's end.
enum WY_PRINT_MODE : int {
  WY_PRINT_UNTIL_DC4 = 1,    // DC2, CAN, ESC d #
  WY_PRINT_UNTIL_ESC_a = 2,  // ESC ` (Televideo, WYCOL, PC-term)
  WY_PRINT_UNTIL_ESC_A = 3,  // ESC @
  WY_PRINT_UNTIL_ESC_B = 4,  // ADM-1 ESC A
  WY_PRINT_IBM3151 = 5,      // IBM 3151 DLE DC2 to DLE DC4 (its own filter)
};

// What the printer filter did with a host byte.
enum WY_PRINT_RESULT : int {
  WY_PRINT_TAKEN,     // printed without display, or an ESC held back until
                      // the next byte shows whether it ends the mode: the
                      // screen gets nothing
  WY_PRINT_SHOW,      // printed with display: the screen gets the byte too
  WY_PRINT_SHOW_ESC,  // a held ESC and this byte printed with display: the
                      // screen gets the ESC, then the byte
  WY_PRINT_ENDED,     // the byte (with the ESC held before it) ended the
                      // mode: it is neither printed nor shown
};

// Whether a printer method exists.  A printing mode starts only when one
// does; without it the screen keeps showing the bytes.
bool wy_have_printer(te* t);
void wy_print_start(te* t, WY_PRINT_MODE mode, int display);
// One byte while a printing mode is on (_prctrl).  The modes that end on
// ESC and a letter hold an ESC back; the DC4 mode passes ESC on at once.
WY_PRINT_RESULT wy_print_filter(te* t, int c);
// Print screen (when a printer method exists), then the print character
// (_prtchar) to the host when it is a byte.
void wy_print_screen(te* t);

// One host byte of the Wyse and PC-term families: while a printing mode is
// on the printer filter takes it first and `Machine` gets only what the
// screen is to show; otherwise `Machine` gets it.
template <void (*Machine)(te*, int)>
inline void wy_through_printer(te* t, int c) {
  if (t->_prctrl) {
    switch (wy_print_filter(t, c)) {
      case WY_PRINT_TAKEN:
      case WY_PRINT_ENDED:
        return;
      case WY_PRINT_SHOW_ESC:
        Machine(t, 0x1B);
        break;
      case WY_PRINT_SHOW:
        break;
    }
  }
  Machine(t, c);
}

// Auxiliary diversion bits from ESC d (SP, !, #, $, %): returns false when
// ESC d # has no auxiliary port (the caller then starts the printer).
bool wy_aux(te* t, int c);

// ---- cursor shapes, screen features, pages (wyscreen.cpp)
// Cursor shape from ESC . (0 hidden, 1-4 shapes, 5 shown again) or the
// screen-feature form ESC ` (1 and 5 swapped).
void wy_cursorshape(te* t, int shape);
// Screen features after ESC ` (Wyse 50 W and D, Wyse 60).
void wy_feature(te* t, int c);
// Page commands.
void wy_page(te* t, int n);
void wy_pagestep(te* t, int dir);

// ---- UTF-8 intake (wyutf8.cpp)
// UTF-8 host data in ground state: feeds a byte of 0x80 or above; puts up
// to two code points in `out` (U+FFFD for a broken sequence) and returns
// how many.  A byte below 0x80 while a sequence is open is preceded by
// wy_utf8_break.
int wy_utf8(te* t, unsigned b, uint32_t* out);
// Ends an open sequence: true (the caller shows U+FFFD) when one was open.
bool wy_utf8_break(te* t);

// Number of leading bytes of p[0..max) that are printable ASCII (0x20-0x7E),
// eight at a time: the borrow of the subtractions can only mark bytes after
// the first one that is not printable, so the lowest mark is exact.
inline int wy_ascii_run(const unsigned char* p, int max) {
  const uint64_t ones = 0x0101010101010101ull, high = 0x8080808080808080ull;
  int n = 0;
  while (max - n >= 8) {
    uint64_t w;
    std::memcpy(&w, p + n, 8);
    uint64_t below = (w - 0x20 * ones) & ~w & high;
    uint64_t del = w ^ (0x7F * ones);
    uint64_t bad = (w & high) | below | ((del - ones) & ~del & high);
    if (bad) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      return n + (__builtin_ctzll(bad) >> 3);
#else
      break;
#endif
    }
    n += 8;
  }
  while (n < max && (unsigned)p[n] - 0x20u < 0x5Fu) n++;
  return n;
}
