// The 64-bit cell a browser receives for a block-mode screen (IBM 3270 and
// IBM 5250), built from the formatted text window.  One definition for
// both block modes and the page (html/shared/kvx-block.js reads the same
// bits).
//
//  bits   mask                 meaning
//  0-7    0x00000000000000FF   character byte (the low byte of the window's
//                              character; fws_narrow for characters above
//                              0xFF)
//  8      0x0000000000000100   underline (underscore highlighting, or an
//                              unprotected field shown underlined)
//  9      0x0000000000000200   reverse video
//  10     0x0000000000000400   blink
//  11     0x0000000000000800   intensified
//  12     0x0000000000001000   non-display (the character is a blank or the
//                              configured password character)
//  13     0x0000000000002000   protected position (protected field or field
//                              attribute)
//  14     0x0000000000004000   field attribute position (shown blank)
//  15     0x0000000000008000   graphic character (line drawing, APL)
//  16     0x0000000000010000   field placeholder: a blank shows as a dot
//  17-23  0x0000000000FE0000   0 (reserved)
//  24-27  0x000000000F000000   foreground colour index (emulation colour
//                              table TNRGBMap, 0-15)
//  28-31  0x00000000F0000000   background colour index
//  32-62  0x7FFFFFFF00000000   Unicode code point of the character
//  63     0x8000000000000000   set: bits 32-62 hold the Unicode value
#pragma once

#include <cstdint>

#include "fws.h"

constexpr uint64_t BLK_CELL_CHAR = 0xFFull;
constexpr uint64_t BLK_CELL_UNDERLINE = 0x100ull;
constexpr uint64_t BLK_CELL_REVERSE = 0x200ull;
constexpr uint64_t BLK_CELL_BLINK = 0x400ull;
constexpr uint64_t BLK_CELL_INTENSE = 0x800ull;
constexpr uint64_t BLK_CELL_NONDISPLAY = 0x1000ull;
constexpr uint64_t BLK_CELL_PROTECTED = 0x2000ull;
constexpr uint64_t BLK_CELL_FIELDATTR = 0x4000ull;
constexpr uint64_t BLK_CELL_GRAPHIC = 0x8000ull;
constexpr uint64_t BLK_CELL_PLACEHOLDER = 0x10000ull;
constexpr uint64_t BLK_CELL_FG = 0x0F000000ull;
constexpr uint64_t BLK_CELL_BG = 0xF0000000ull;
constexpr uint64_t BLK_CELL_UNI = 0x7FFFFFFF00000000ull;
constexpr uint64_t BLK_CELL_HASUNI = 0x8000000000000000ull;
constexpr int BLK_CELL_FG_SHIFT = 24;
constexpr int BLK_CELL_BG_SHIFT = 28;
constexpr int BLK_CELL_UNI_SHIFT = 32;

// The highlighting bits (8-16) of a window cell's attribute byte and field
// flags.
constexpr uint64_t blk_cell_bits(uint8_t attr, uint8_t flags) {
  return ((attr & FWS_A_UNDERLINE) ? BLK_CELL_UNDERLINE : 0) | ((attr & FWS_A_REVERSE) ? BLK_CELL_REVERSE : 0) |
         ((attr & FWS_A_BLINK) ? BLK_CELL_BLINK : 0) | ((attr & FWS_A_BOLD) ? BLK_CELL_INTENSE : 0) |
         ((attr & FWS_A_GRAPHIC) ? BLK_CELL_GRAPHIC : 0) | ((attr & FWS_A_PLACEHOLDER) ? BLK_CELL_PLACEHOLDER : 0) |
         ((flags & FWS_CF_NONDISPLAY) ? BLK_CELL_NONDISPLAY : 0) |
         ((flags & FWS_CF_PROTECTED) ? BLK_CELL_PROTECTED : 0) | ((flags & FWS_CF_FIELDATTR) ? BLK_CELL_FIELDATTR : 0);
}

// One cell: character (16-bit window character), highlighting, colour
// indexes (each 0-15).
inline uint64_t blk_cell(uint16_t ch, uint8_t attr, uint8_t flags, int fg, int bg) {
  return (uint64_t)fws_narrow(ch) | blk_cell_bits(attr, flags) | ((uint64_t)(fg & 0xF) << BLK_CELL_FG_SHIFT) |
         ((uint64_t)(bg & 0xF) << BLK_CELL_BG_SHIFT) | ((uint64_t)ch << BLK_CELL_UNI_SHIFT) | BLK_CELL_HASUNI;
}

// The cells of one window row (cols of them, at most FWS_MAXCOLS) into out;
// colours through the emulation colour table, falling back to fgDefault
// and bgDefault where a colour has no index 0-15.
void blk_row_cells(const fws_window* w, int row, int cols, int fgDefault, int bgDefault, uint64_t* out);
