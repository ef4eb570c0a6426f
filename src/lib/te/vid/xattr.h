// Extended attributes of character-mode cells: the exact colours a host set
// (one of 256 or a 24-bit one, for the foreground, the background and the
// underline) and the text styles the sixteen-colour cell has no room for
// (dim, italic, strike-through, the underline's form).  A cell names its
// entry by the index in its CA_XATTR bits (chattr.h), 0 for none; its own
// colour fields keep the nearest of the sixteen.
//
// Entries live in one table per terminal, made on first use and interned,
// so that a cell costs nothing more than its index and equal attributes
// share an entry.  When the table is full, the entries no cell (screen,
// pages, scrollback) and no kept attribute names any more are taken back;
// should the rows still name nearly all of them, the scrollback's rows give
// theirs up (they keep the nearest of the sixteen), and past that a new
// attribute is kept as its sixteen-colour form alone.
#pragma once

#include <cstdint>

#include "te/terec.h"

// A colour of an entry: the kind in the top byte, the value below it.
enum : uint32_t {
  XC_NONE = 0,                // the cell's own (sixteen-colour or default) colour
  XC_INDEXED = 0x01000000u,   // xterm's palette entry 0-255 in the low byte
  XC_RGB = 0x02000000u,       // 0xRRGGBB in the low 24 bits
  XC_KIND = 0xFF000000u,
  XC_VALUE = 0x00FFFFFFu,
};

inline uint32_t xc_indexed(int n) {
  return XC_INDEXED | ((uint32_t)n & 0xFF);
}
inline uint32_t xc_rgb(int r, int g, int b) {
  return XC_RGB | ((uint32_t)(r & 0xFF) << 16) | ((uint32_t)(g & 0xFF) << 8) | (uint32_t)(b & 0xFF);
}

// Styles of an entry.
enum : uint32_t {
  XS_DIM = 0x01,
  XS_ITALIC = 0x02,
  XS_STRIKE = 0x04,
  XS_OVERLINE = 0x08,
  // The underline's form (bits 4-6), with CA_UNDER set in the cell: 0 the
  // plain line, or one of the forms below.
  XS_UL_SHIFT = 4,
  XS_UL = 0x70,
  XS_UL_DOUBLE = 0x20,
  XS_UL_CURLY = 0x30,
  XS_UL_DOTTED = 0x40,
  XS_UL_DASHED = 0x50,
};

struct XATTR {
  uint32_t fg = XC_NONE, bg = XC_NONE, ul = XC_NONE;  // ul: the underline's colour
  uint32_t style = 0;
  bool empty() const { return !(fg | bg | ul | style); }
  bool operator==(const XATTR& o) const { return fg == o.fg && bg == o.bg && ul == o.ul && style == o.style; }
};

// The entry of an index, or null for 0, an index out of the table, or a
// terminal without one.
const XATTR* xa_get(const te* t, int index);
// The index of an entry (added when new), 0 for an empty entry or when no
// room can be made.
int xa_intern(te* t, const XATTR& x);
// Entries in use (for tests and the benchmarks).
int xa_count(const te* t);
// Takes back the entries nothing names (normally done when the table is
// full).
void xa_collect(te* t);
void xa_free(te* t);
