// The 64-bit screen cell (CHATTR) shared by every character-mode emulation,
// the scrollback and the browser channel.  Every module reads and builds
// cells through the names below, never through literals.
//
//  bits   mask                 meaning
//  0-7    0x00000000000000FF   character byte as received (after pdisptab)
//  8-11   0x0000000000000F00   character-set number in force when stored
//  12     0x0000000000001000   bits 0-11 already hold an internal (TCS) code
//  13-15  0x000000000000E000   extended attribute, low 3 bits of its index
//  16     0x0000000000010000   invisible (shown as a blank)
//  17     0x0000000000020000   selectively erasable protection (DECSCA)
//  18     0x0000000000040000   embedded attribute cell (Wyse/Televideo)
//  19     0x0000000000080000   protected field
//  20     0x0000000000100000   bold
//  21     0x0000000000200000   underline
//  22     0x0000000000400000   blink
//  23     0x0000000000800000   reverse
//  24-27  0x000000000F000000   foreground colour index (PC order)
//  28-31  0x00000000F0000000   background colour index
//  32-52  0x001FFFFF00000000   Unicode code point of a UTF-8 character
//  53-62  0x7FE0000000000000   extended attribute, high 10 bits of its index
//  63     0x8000000000000000   reserved for the channel (Unicode filled in)
//
// A cell of value 0 is the right half of a double-width character stored
// to its left.  A blank cell is an attribute ORed with 0x20.
//
// The extended attribute (13 bits of index, 0 = none) names an entry of the
// terminal's table of exact colours and text styles (vid/xattr.h): a colour
// of 256 or a 24-bit one for the foreground, background and underline, dim,
// italic, strike-through and the underline's form.  The colour fields of
// the cell keep the nearest of the sixteen and the bits above keep what
// they can say (an underline of any form sets CA_UNDER), so whatever reads
// only those goes on as before; the channel never passes the index on.
#pragma once

#include <cstdint>

typedef uint64_t CHATTR;

enum : CHATTR {
  CA_CHAR = 0xFFull,            // character byte
  CA_CSET = 0xF00ull,           // character-set number
  CA_TCS = 0x1000ull,           // low 12 bits are a TCS code
  CA_CHARPART = 0x1FFFull,      // everything that says which character
  CA_XLO = 0xE000ull,           // extended attribute index, bits 0-2
  CA_INVIS = 0x10000ull,        // invisible
  CA_SELPROT = 0x20000ull,      // selective-erase protection
  CA_EMBED = 0x40000ull,        // embedded attribute cell
  CA_PROT = 0x80000ull,         // protected
  CA_BOLD = 0x100000ull,        // bold
  CA_UNDER = 0x200000ull,       // underline
  CA_BLINK = 0x400000ull,       // blink
  CA_REV = 0x800000ull,         // reverse
  CA_COMBO = 0xF00000ull,       // bold|underline|blink|reverse
  CA_FG = 0x0F000000ull,        // foreground colour index
  CA_BG = 0xF0000000ull,        // background colour index
  CA_COLOR = 0xFF000000ull,     // colour byte; 0xFF = no explicit colour
  CA_XHI = 0x7FE0000000000000ull,  // extended attribute index, bits 3-12
  CA_XATTR = CA_XLO | CA_XHI,
  // Attribute part: bits 13-31 and the high bits of the extended attribute.
  CA_ATTRPART = 0xFFFFE000ull | CA_XHI,
  CA_UNI = 0x001FFFFF00000000ull,
  CA_CHANNEL = 0x8000000000000000ull,
  CA_BLANK = 0x20ull,
};

constexpr int CA_CSET_SHIFT = 8;
constexpr int CA_COMBO_SHIFT = 20;
constexpr int CA_COLOR_SHIFT = 24;
constexpr int CA_UNI_SHIFT = 32;

// Attribute-combination index 0-15 (bold 1, underline 2, blink 4, reverse 8).
inline int ca_combo(CHATTR a) {
  return (int)((a >> CA_COMBO_SHIFT) & 0xF);
}
inline unsigned ca_colorbyte(CHATTR a) {
  return (unsigned)((a >> CA_COLOR_SHIFT) & 0xFF);
}
inline uint32_t ca_unicode(CHATTR c) {
  return (uint32_t)((c & CA_UNI) >> CA_UNI_SHIFT);
}
inline CHATTR ca_from_unicode(uint32_t cp) {
  return ((CHATTR)cp << CA_UNI_SHIFT) & CA_UNI;
}

// The extended attribute index of a cell (0: none), and the cell bits of an
// index (1 .. CA_XATTR_MAX).
constexpr int CA_XLO_SHIFT = 13;
constexpr int CA_XHI_SHIFT = 53;
constexpr int CA_XATTR_MAX = 0x1FFF;
inline int ca_xattr(CHATTR c) {
  return (int)(((c & CA_XHI) >> (CA_XHI_SHIFT - 3)) | ((c & CA_XLO) >> CA_XLO_SHIFT));
}
inline CHATTR ca_xattr_bits(int index) {
  return (((CHATTR)index << CA_XLO_SHIFT) & CA_XLO) | (((CHATTR)index << (CA_XHI_SHIFT - 3)) & CA_XHI);
}

// Line attribute (vlattr) bits.
enum : unsigned char {
  LA_WIDTH = 0x0F,  // 0 single, 1 double width, 2/3 double height top/bottom
  LA_DOUBLEW = 0x01,
  LA_DHTOP = 0x02,
  LA_DHBOT = 0x03,
  LA_WRAPPED = 0x40,  // the row ended by automatic wrap and continues below
  LA_LOCKED = 0x80,   // row locked against writing
};

// Screen limits of the engine.
constexpr int TE_MAXLINES = 250;
constexpr int TE_MAXCOLS = 132;
