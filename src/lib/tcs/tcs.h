// Translation character sets: the internal 16-bit character and key code
// (TCS) shared by every emulation, the translation tables between host code
// pages, TCS and Unicode, their loader from the code-page file
// ("codepage.dat") with built-in defaults, and the conversion helpers.
//
// TCS code space (0 ends a TCS string):
//     1 ..   31  control keys                               isCK
//    32 ..  255  host bytes carried untranslated            isHW
//   256 ..  454  terminal keys (names: keyname.h)           isTK
//   455 ..  486  virtual keys (session functions)           isVK
//   487 ..  511  unassigned
//   512 .. 1119  characters; 512 + n is byte n of the PC    isTCS
//                character set (code page 437), 768 and up
//                are further characters named by the
//                code-page file's Unicode table
//   544 ..  638  printable ASCII, code = 512 + ASCII         isTCSAscii
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "tcs_utf8.h"  // UTF-8, also for the users of the tables

typedef int16_t TCS;

enum : int {
  TCS_CK_FIRST = 1,
  TCS_CK_LAST = 31,
  TCS_HW_FIRST = 32,
  TCS_HW_LAST = 255,
  TCS_TK_FIRST = 256,
  TCS_TK_LAST = 454,
  TCS_VK_FIRST = 455,
  TCS_VK_LAST = 486,
  TCS_FIRST = 512,  // first character code; the TCS of PC byte n is TCS_FIRST + n
  TCS_LAST = 1119,
  TCS_BLANK = 544,  // the blank, 512 + ' '
};

constexpr bool isCK(int c) {
  return c >= TCS_CK_FIRST && c <= TCS_CK_LAST;
}
constexpr bool isHW(int c) {
  return c >= TCS_HW_FIRST && c <= TCS_HW_LAST;
}
constexpr bool isTK(int c) {
  return c >= TCS_TK_FIRST && c <= TCS_TK_LAST;
}
constexpr bool isVK(int c) {
  return c >= TCS_VK_FIRST && c <= TCS_VK_LAST;
}
constexpr bool isTCS(int c) {
  return c >= TCS_FIRST && c <= TCS_LAST;
}
constexpr bool isTCSAscii(int c) {
  return c >= TCS_FIRST + 0x20 && c <= TCS_FIRST + 0x7E;
}
constexpr bool isCTK(int c) {
  return isCK(c) || isTK(c);
}
constexpr bool isCTVK(int c) {
  return isCK(c) || isTK(c) || isVK(c);
}

// Table kinds: the first argument of TCSLoadTbl.
//   kind              maps                            entries  entry     cleared  section suffix
//   TCS_TBL_CPTOTCS   host byte -> TCS (input)        256      TCS       -1       ".cpi"
//   TCS_TBL_TCSTOCP   TCS 512..1119 -> host byte      608      uint8_t   255      ".cpo"
//   TCS_TBL_VT200DSG  DEC special graphics (input)    as CPTOTCS                  ".cpi"
//   TCS_TBL_VT200DMN  DEC multinational (input)       as CPTOTCS                  ".cpi"
//   TCS_TBL_VT100SG   VT100 special graphics (input)  as CPTOTCS                  ".cpi"
//   TCS_TBL_UNICODE   Unicode code point -> value     65536    uint16_t  0        ".uni"
//   TCS_TBL_FONT      glyph bitmaps of the drawing    256      32 bytes  0        ".unf"
//                     layer
enum : int {
  TCS_TBL_CPTOTCS = 0,
  TCS_TBL_TCSTOCP = 1,
  TCS_TBL_VT200DSG = 2,
  TCS_TBL_VT200DMN = 3,
  TCS_TBL_VT100SG = 4,
  TCS_TBL_UNICODE = 8,
  TCS_TBL_FONT = 16,
};

constexpr size_t TCS_CPTOTCS_SIZE = 256;    // entries of a kind 0, 2, 3 or 4 table
constexpr size_t TCS_TCSTOCP_SIZE = 608;    // entries of a kind 1 table (TCS 512..1119)
constexpr size_t TCS_UNICODE_SIZE = 65536;  // entries of a kind 8 table
constexpr size_t TCS_TCS2UNI_SIZE = 768;    // entries of the derived TCS-to-Unicode table
constexpr size_t TCS_FONT_BYTES = 8192;     // bytes of a kind 16 table (256 glyphs x 32)

// Default code-page file, read from the working directory.
#define TCS_CODEPAGE_FILE "codepage.dat"

// Table name of the Unicode-to-TCS table in the code-page file.
#define TCS_UNICODE2TCS_NAME "Unicode2TCS"

// Names of the DEC tables in the code-page file (the same content as the
// built-in defaults below).
#define TCS_VT200DSG_NAME "VT200 Special Graphics Mapping"
#define TCS_VT200DMN_NAME "VT200 Multinational Mapping"
#define TCS_VT100SG_NAME "VT100 Special Graphics Mapping"

// Private-use block through which the browser sends terminal keys: key code k
// (256..486, and the block-mode keys 1120..1178) arrives as the code point
// TCS_KEY_UNICODE_BASE + (k - 256).  The code-page file's Unicode table maps
// them back to k; the reverse table never shows them.
constexpr int TCS_KEY_UNICODE_BASE = 0xE000;

// Size in bytes of a table of this kind; 0 for a kind that does not exist.
size_t TCSTblSize(int kind);

// Loads table `scheme` of `kind` from the code-page file `file` (an empty or
// null file gives the defaults; a name without an extension gets ".dat").
// The scheme gets the kind's suffix unless it already has an extension.  A
// missing file, section or a section without entries gives the kind's
// defaults.  Returns a new block of TCSTblSize(kind) bytes, owned by the
// caller and released with TCSFreeTbl, or null for an unknown kind or when
// memory runs out.  The file is read once per process and kept.
void* TCSLoadTbl(int kind, const char* file, const char* scheme);
// The same, but null where the file has no such table or no entries in it:
// for optional tables, which then cost nothing.
void* TCSLoadTblIfPresent(int kind, const char* file, const char* scheme);
// The same from the text of a code-page file already in memory (at most its
// first 4 MiB count, as of a file).
void* TCSLoadTblText(int kind, const char* text, size_t length, const char* scheme);
void TCSFreeTbl(void* table);

// Built-in defaults of kinds 0 to 4 (index them directly, or take .data()).
extern const std::array<TCS, TCS_CPTOTCS_SIZE> TCSDefaultCPtoTCS;
extern const std::array<uint8_t, TCS_TCSTOCP_SIZE> TCSDefaultTCStoCP;
extern const std::array<TCS, TCS_CPTOTCS_SIZE> TCSDefaultVT200DSG;  // DEC special graphics
extern const std::array<TCS, TCS_CPTOTCS_SIZE> TCSDefaultVT200DMN;  // DEC multinational
extern const std::array<TCS, TCS_CPTOTCS_SIZE> TCSDefaultVT100SG;   // VT100 special graphics

// TCS to host byte: with a table, a TCS character gives the table's byte
// (result 1); otherwise the low byte of the code, with result 2 for a host
// byte (32..255) and 0 for anything else.
int TCStoCP(int tcs, uint8_t* out, const uint8_t* table);

// Host byte to TCS: a host byte (32..255) with a table gives the table's TCS
// (result 1); anything else, control bytes included, keeps its value
// (result 0).
int CPtoTCS(int byte, TCS* out, const TCS* table);

// Text to TCS: bytes 32..255 become 512 + byte, others are copied; the
// result ends with 0.  At most outCap codes are written, the 0 included.
// Returns the number of codes before the 0.
size_t CPAtoTCSA(const char* text, TCS* out, size_t outCap);

// TCS to text: the low byte of each code; false at the first code that is
// neither a TCS character, a host byte nor a control key (the text written
// so far is kept and terminated).  At most outCap bytes, the 0 included.
bool TCSAtoCPA(const TCS* tcs, char* out, size_t outCap);

// Number of codes before the terminating 0.
size_t TCSlen(const TCS* tcs);

// Key notation <-> TCS string.
//   mode >= 2: reads the 0-terminated `text` and writes TCS codes to `tcs`
//     (at most tcsCap codes, the final 0 included); returns the number of
//     codes.  "<" opens a token up to ">": a decimal TCS code, "^X" for a
//     control code, "ESC", or a key name (keyname.h).  Outside tokens a
//     printable ASCII byte becomes 512 + byte, any other byte keeps its value.
//   mode 0 or 1: reads the 0-terminated `tcs` and writes the notation to
//     `text` (at most textCap bytes, the final 0 included; a code whose
//     notation does not fit ends the text); returns the length of the text.
int TCSConvert(TCS* tcs, size_t tcsCap, char* text, size_t textCap, int mode);

// Fills the derived TCS-to-Unicode table (TCS_TCS2UNI_SIZE entries, indexed
// by TCS - 512) from a Unicode-to-TCS table: for each code point in
// ascending order whose entry lies in 512..1279, the entry's slot gets the
// code point (so the highest code point wins); 0xE000..0xFBFF are skipped.
void TCSBuildTCS2Unicode(const uint16_t* unicode2tcs, uint16_t* tcs2unicode);

// TCS of a typed Unicode key: the table's entry, or, when it is 0 (or there
// is no table), 512 + the key's low byte for keys from 32 to 255 and the
// key's low byte otherwise.
int TCSFromUnicodeKey(const uint16_t* unicode2tcs, int key);

// Built-in EBCDIC tables, generated from the IBM code pages of the locale
// table below (037, 273, 277, 278, 280, 284, 285, 297, 500, 871, 1047 and
// the euro pages 1140 to 1149): EBCDIC byte to Unicode code point, 0 for
// control and unassigned positions.  Null for any other code page.
const uint16_t* TCSEbcdicToUnicode(int ibmCodePage);

// The host code pages of the IBM 3270 and 5250 stations, one row each: the
// locale number the 3270 station keeps, the `cptrxin` name that selects it
// (the code page's number as "CPnnn" selects it too), the IBM code page of
// its EBCDIC table, the graphic character set the host is told (697, or 695
// for the euro pages) and the IBM keyboard type a 5250 station announces
// unless told another.  The first row (US English, 037) stands for every
// number and name not in the table.
struct TCSEbcdicLocale {
  int locale;
  const char* name;
  int codePage;
  int charSet;
  const char* kbdType;
};
constexpr size_t TCS_EBCDIC_LOCALES = 21;
extern const std::array<TCSEbcdicLocale, TCS_EBCDIC_LOCALES> TCSEbcdicLocales;
// Index of a locale number's row (0 for a number not in the table).
size_t TCSEbcdicLocaleIndex(int locale);
// The row of a locale number.
const TCSEbcdicLocale& TCSEbcdicLocaleOf(int locale);
// The row a `cptrxin` name selects: a row's name or "CP" and its code page
// in at least three digits ("CP037", "CP1141"), exactly.
const TCSEbcdicLocale& TCSEbcdicLocaleNamed(const char* name);
// Whether a `cptrxin` name selects a row of its own (not the fallback).
bool TCSEbcdicLocaleKnown(const char* name);

// Installs the US EBCDIC table (code page 037) as the EBCDIC-to-ASCII column
// of the trace facility's EBCDIC dumps.
void TCSSetTraceEbcdicTable();
