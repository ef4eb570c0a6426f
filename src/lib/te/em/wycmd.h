// The escape commands of the Wyse families as rows: the code that selects
// a command, how many argument bytes follow it, the members it applies to
// and what it does.  The rows both families share are here; each family
// adds its own (wy50esc.cpp, wy60esc.cpp), and an index built from both at
// compile time finds the row of a member and a code.  Also the escape
// states of the two byte machines.  Private to the Wyse families.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "em/wyse.h"

// Escape states (fam.st) of the Wyse 50 and Wyse 60 byte machines.
enum : int {
  WY_GROUND = 0,
  WY_ESC,      // after ESC
  WY_ARGS,     // collecting fam.need argument bytes for the command fam.cmd
  WY_STATUS,   // status-line text (Wyse 60-25 label mode: swallowed up to CR)
  WY_PROGDIR,  // Wyse 60 ESC Z: an optional 0/1/2 before the key selector
  WY_PROGSEL,  // ESC z: the selector byte
  WY_PROG,     // ESC z: programmed text
  WY_ALPHA,    // WYCOL ESC ESC
  WY_MONITOR,  // monitor mode
  WY_MONESC,   // monitor mode after ESC
  WY_DECADDR,  // ESC a: decimal address
  WY_ESCC,     // Wyse 60 ESC c: the extended command byte
  WY_TOEM,     // Wyse 60 ESC c A: bytes ignored up to EM
};

// The members column: the Wyse 50 family's sub-mode bits as they are, the
// Wyse 60 family's above them.  A member's number is its bit's position.
enum : unsigned {
  WM_ADM1 = W5_ADM1,
  WM_TVI912 = W5_TVI912,
  WM_TVI925 = W5_TVI925,
  WM_TVI950 = W5_TVI950,
  WM_WYSE50 = W5_WYSE50,
  WM_ADDSVP = W5_ADDSVP,
  WM_WYCOL = W5_WYCOL,
  WM_WYSE60 = W6_WYSE60 << 7,
  WM_WYSE60_25 = W6_WYSE60_25 << 7,
  WM_W5 = W5_ALL,
  WM_W6 = WM_WYSE60 | WM_WYSE60_25,
  WM_ALL = WM_W5 | WM_W6,
};
constexpr int WM_COUNT = 9;

// Codes of the rows: the byte after ESC, or WY_SUB and a byte for a
// command's second level (the byte after the Wyse 60's ESC c, the page
// address after the Wyse 50's ESC w @).
constexpr int WY_SUB = 0x80;

// What a command does; `c` is the byte that selected it (without WY_SUB),
// its argument bytes are in t->fam.args.
using WyRun = void (*)(te* t, int c);

struct WyCmd {
  uint8_t code;
  uint8_t nargs;
  uint16_t members;
  WyRun run;
  uint8_t through = 0;  // last code of a range of codes that act alike
};

// A family's rows and, per member number and code, 1 + the row (0: not a
// command).
template <size_t N>
struct WyTable {
  std::array<WyCmd, N> rows;
  uint8_t at[WM_COUNT][256];
};

// The table of a family (`family`: its WM_ bits) from the shared rows and
// its own.  A member with two rows for one code, or an own row naming a
// member of the other family, stops the compilation.
template <size_t S, size_t F>
constexpr WyTable<S + F> wy_table(const WyCmd (&shared)[S], const WyCmd (&own)[F], unsigned family) {
  static_assert(S + F < 256);
  WyTable<S + F> tab{};
  size_t n = 0;
  for (const WyCmd& r : shared) tab.rows[n++] = r;
  for (const WyCmd& r : own) {
    if (r.members & ~family) throw "a family's own row names a member of the other family";
    tab.rows[n++] = r;
  }
  for (size_t i = 0; i < n; i++) {
    const WyCmd& r = tab.rows[i];
    const int last = r.through ? r.through : r.code;
    for (int m = 0; m < WM_COUNT; m++) {
      if (!((r.members & family) >> m & 1)) continue;
      for (int code = r.code; code <= last; code++) {
        if (tab.at[m][code]) throw "two rows for one member and code";
        tab.at[m][code] = (uint8_t)(i + 1);
      }
    }
  }
  return tab;
}

// Starts the command of `code` for member `member`: it runs at once, or
// once its argument bytes are in (state WY_ARGS; fam.cmd then holds the
// code and, from bit 8 on, its row).  Nothing when the member has no such
// command.
template <size_t N>
inline void wy_start(te* t, const WyTable<N>& tab, int member, int code) {
  const unsigned i = tab.at[member][code];
  if (!i) return;
  const WyCmd& r = tab.rows[i - 1];
  if (r.nargs) {
    TEFAM& f = t->fam;
    f.cmd = code | (int)(i - 1) << 8;
    f.nargs = 0;
    f.need = r.nargs;
    f.st = WY_ARGS;
    return;
  }
  r.run(t, code & ~WY_SUB);
}

// An argument byte of the command being collected.
template <size_t N>
inline void wy_arg(te* t, const WyTable<N>& tab, int c) {
  TEFAM& f = t->fam;
  f.args[f.nargs++] = c;
  if (f.nargs < f.need) return;
  f.st = WY_GROUND;
  tab.rows[(unsigned)f.cmd >> 8].run(t, f.cmd & 0x7F);
}

// ---- handlers more than one row uses

// Cursor address: row and column bytes (value - 32).
inline void wy_cmd_address(te* t, int) {
  wy_address(t, t->fam.args[0], t->fam.args[1]);
}

// Clear unprotected cells in protect mode, else everything.
inline void wy_cmd_clear(te* t, int) {
  if (t->_protect)
    wy_clrunprot(t);
  else
    wy_clrall(t, 0);
}

inline void wy_cmd_clrall(te* t, int) {
  wy_clrall(t, 0);
}

// Status-line text follows (Wyse 60-25 label mode: ESC f text is
// swallowed).
inline void wy_cmd_status(te* t, int c) {
  TEFAM& f = t->fam;
  if (c == 'f' && f.labelmode)
    f.statcol = -1;
  else
    wy_status_open(t, 0, 1);
  f.st = WY_STATUS;
}

// Block transmission of a message: ESC S unprotected cells, ESC s all.
inline void wy_cmd_send_message(te* t, int c) {
  wy_send(t, c);
}

inline void wy_cmd_print_screen(te* t, int) {
  wy_print_screen(t);
}

// A command whose bytes are taken and which has no effect.
inline void wy_cmd_nothing(te*, int) {}

// ---- the rows both families share

inline constexpr WyCmd kWyShared[] = {
    {0x1B, 2, WM_ALL & ~WM_WYCOL, wy_cmd_address},
    {'=', 2, WM_ALL, wy_cmd_address},
    // Keyboard unlocked; graphics off.
    {'"', 0, WM_ALL, [](te* t, int) { t->_kdisable = 0; }},
    {'%', 0, WM_ALL, [](te* t, int) { t->_vcharset = 0; }},
    // Protect mode on (to the next unprotected cell) and off; write protect
    // off and on.
    {'&', 0, WM_ALL,
     [](te* t, int) {
       t->_protect = 1;
       wy_protmove(t, 1, 0, 1);
     }},
    {'\'', 0, WM_ALL, [](te* t, int) { t->_protect = 0; }},
    {'(', 0, WM_ALL, [](te* t, int) { t->_dimattr = 0; }},
    {')', 0, WM_ALL & ~WM_WYCOL, [](te* t, int) { t->_dimattr = CA_PROT; }},
    // Clears: all with protect and write protect off; all keeping the modes;
    // to protected blanks with protect mode off; unprotected or all.
    {'*', 0, WM_ALL, [](te* t, int) { wy_clrall(t, 1); }},
    {'+', 0, WM_TVI912 | WM_ADDSVP | WM_W6, wy_cmd_clrall},
    {',', 0, WM_WYSE50 | WM_W6,
     [](te* t, int) {
       wy_clrprotblank(t);
       t->_protect = 0;
     }},
    {':', 0, WM_ALL & ~WM_ADM1, wy_cmd_clear},
    {';', 0, WM_ALL, wy_cmd_clear},
    // Clear with the fill character that follows (unprotected cells in
    // protect mode), protect mode off.
    {'.', 1, WM_WYSE50 | WM_W6,
     [](te* t, int) {
       const int fill = t->fam.args[0];
       if (fill >= 0x20 && fill < 0x7F) wy_clrfill(t, fill, t->_protect);
       t->_protect = 0;
     }},
    // Cursor reports with and without the page.
    {'/', 0, WM_ALL, [](te* t, int) { wy_replycursor(t, 1); }},
    {'?', 0, WM_ALL, [](te* t, int) { wy_replycursor(t, 0); }},
    // Tab stops: clear all (ESC 0 and 3), set, clear.
    {'0', 0, WM_WYSE50 | WM_W6, [](te* t, int) { std::fill(t->_tabs, t->_tabs + TE_MAXCOLS, 0); }},
    {'1', 0, WM_ALL,
     [](te* t, int) {
       if (t->vdestcol < TE_MAXCOLS) t->_tabs[t->vdestcol] = 1;
     }},
    {'2', 0, WM_ALL,
     [](te* t, int) {
       if (t->vdestcol < TE_MAXCOLS) t->_tabs[t->vdestcol] = 0;
     }},
    {'3', 0, WM_ALL, [](te* t, int) { std::fill(t->_tabs, t->_tabs + TE_MAXCOLS, 0); }},
    // Block transmission: ESC 4-7 line or page, unprotected or all cells;
    // message; the character at the cursor.
    {'4', 0, WM_ALL, [](te* t, int c) { wy_send(t, c - '0'); }, '7'},
    {'S', 0, WM_ALL, wy_cmd_send_message},
    {'s', 0, WM_ALL, wy_cmd_send_message},
    {'M', 0, WM_ALL, [](te* t, int) { wy_sendchar(t); }},
    // Block mode on and off.
    {'B', 0, WM_ALL & ~WM_ADM1, [](te* t, int) { t->_blokmode = 1; }},
    {'C', 0, WM_ALL, [](te* t, int) { t->_blokmode = 0; }},
    {'F', 0, WM_ALL, wy_cmd_status},
    {'f', 0, WM_ALL, wy_cmd_status},
    {'h', 0, WM_ALL & ~(WM_WYSE50 | WM_WYSE60_25), [](te* t, int) { wy_status_remove(t); }},
    {'I', 0, WM_WYSE50 | WM_W6, [](te* t, int) { wy_backtab(t); }},
    // Pages.
    {'J', 0, WM_TVI925 | WM_TVI950 | WM_WYSE50 | WM_WYCOL | WM_W6, [](te* t, int) { wy_pagestep(t, -1); }},
    {'K', 0, WM_TVI925 | WM_TVI950 | WM_WYCOL | WM_W6, [](te* t, int) { wy_pagestep(t, 1); }},
    {'L', 0, WM_ALL, wy_cmd_print_screen},
    {'P', 0, WM_ALL, wy_cmd_print_screen},
    {'p', 0, WM_ALL & ~(WM_TVI912 | WM_TVI925), wy_cmd_print_screen},
    // No-scroll on and off.
    {'N', 0, WM_WYSE50 | WM_W6, [](te* t, int) { t->_vnoscroll = 1; }},
    {'O', 0, WM_WYSE50 | WM_W6, [](te* t, int) { t->_vnoscroll = 0; }},
    // Monitor mode up to ESC X or ESC u.
    {'U', 0, WM_ALL,
     [](te* t, int) {
       t->_vmonitor = 1;
       t->fam.st = WY_MONITOR;
     }},
    {'`', 1, WM_WYSE50 | WM_ADDSVP | WM_W6, [](te* t, int) { wy_feature(t, t->fam.args[0]); }},
    // Decimal cursor address.
    {'a', 0, WM_WYSE50 | WM_W6,
     [](te* t, int) {
       TEFAM& f = t->fam;
       f.decrow = f.deccol = f.decpart = f.decdigits = 0;
       f.st = WY_DECADDR;
     }},
    {'j', 0, WM_ALL & ~WM_TVI912, [](te* t, int) { wy_revlinefeed(t); }},
    // Insert mode on and off.
    {'q', 0, WM_TVI925 | WM_WYSE50 | WM_W6, [](te* t, int) { t->_vinsmode = 1; }},
    {'r', 0, WM_TVI950 | WM_WYSE50 | WM_WYCOL | WM_W6, [](te* t, int) { t->_vinsmode = 0; }},
    {'x', 1, WM_ALL, wy_cmd_nothing},
    // Function-key and label programming.
    {'z', 0, WM_WYSE50 | WM_ADDSVP | WM_W6, [](te* t, int) { t->fam.st = WY_PROGSEL; }},
    {'{', 0, WM_WYSE50 | WM_W6, [](te* t, int) { wy_home(t, 0); }},
};
