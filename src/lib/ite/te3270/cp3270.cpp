// EBCDIC code pages of the 3270 locales (the locale table of tcs.h) in both
// directions, and the graphic
// character set reached through a Graphic Escape (code page 310: box
// drawing, APL symbols).
#include <cstring>

#include "tcs.h"
#include "te3270.h"

namespace {

const uint16_t* table(int locale) {
  const uint16_t* t = TCSEbcdicToUnicode(TCSEbcdicLocaleOf(locale).codePage);
  return t ? t : TCSEbcdicToUnicode(37);
}

// Code page 310, 0x40..0xFF; 0 where the set has no character.
constexpr uint16_t kGraphic[192] = {
    // 0x40: blank, underscored A-I
    0x0020, 0x24B6, 0x24B7, 0x24B8, 0x24B9, 0x24BA, 0x24BB, 0x24BC,
    0x24BD, 0x24BE, 0, 0, 0, 0, 0, 0,
    // 0x50: underscored J-R
    0, 0x24BF, 0x24C0, 0x24C1, 0x24C2, 0x24C3, 0x24C4, 0x24C5,
    0x24C6, 0x24C7, 0, 0, 0, 0, 0, 0,
    // 0x60: underscored S-Z
    0, 0, 0x24C8, 0x24C9, 0x24CA, 0x24CB, 0x24CC, 0x24CD,
    0x24CE, 0x24CF, 0, 0, 0, 0, 0, 0,
    // 0x70
    0x22C4, 0x2227, 0x00A8, 0x233B, 0x2378, 0x2377, 0x22A2, 0x22A3,
    0x2228, 0, 0, 0, 0, 0, 0, 0,
    // 0x80
    0x223C, 0x2551, 0x2550, 0x23B8, 0x23B9, 0x2502, 0, 0,
    0, 0, 0x2191, 0x2193, 0x2264, 0x2308, 0x230A, 0x2192,
    // 0x90
    0x2395, 0x258C, 0x2590, 0x2580, 0x2584, 0x2588, 0, 0,
    0, 0, 0x2283, 0x2282, 0x00A4, 0x25CB, 0x00B1, 0x2190,
    // 0xA0
    0x00AF, 0x00B0, 0x2500, 0x2022, 0x2099, 0, 0, 0,
    0, 0, 0x2229, 0x222A, 0x22A5, 0x005B, 0x2265, 0x2218,
    // 0xB0
    0x237A, 0x220A, 0x2373, 0x2374, 0x2375, 0, 0x00D7, 0x2216,
    0x00F7, 0, 0x2207, 0x2206, 0x22A4, 0x005D, 0x2260, 0x2223,
    // 0xC0
    0x007B, 0x207D, 0x207A, 0x220E, 0x2514, 0x250C, 0x251C, 0x2534,
    0x00A7, 0, 0x2372, 0x2371, 0x2337, 0x233D, 0x2342, 0x2349,
    // 0xD0
    0x007D, 0x207E, 0x207B, 0x253C, 0x2518, 0x2510, 0x2524, 0x252C,
    0x00B6, 0, 0x2336, 0x0021, 0x2352, 0x234B, 0x235E, 0x235D,
    // 0xE0
    0x2261, 0x2081, 0x2082, 0x2083, 0x2364, 0x2365, 0x236A, 0x20AC,
    0, 0, 0x2340, 0x233F, 0x2363, 0x236D, 0x2355, 0x234E,
    // 0xF0
    0x2070, 0x00B9, 0x00B2, 0x00B3, 0x2074, 0x2075, 0x2076, 0x2077,
    0x2078, 0x2079, 0, 0x236B, 0x2359, 0x235F, 0x234E, 0,
};

// Typed characters that have no code of their own: the ASCII character
// that stands in for them.
int stand_in(uint32_t cp) {
  switch (cp) {
    case 0x00A0:
      return ' ';
    case 0x00AD:
    case 0x2010:
    case 0x2011:
    case 0x2012:
    case 0x2013:
    case 0x2014:
    case 0x2212:
      return '-';
    case 0x2018:
    case 0x2019:
    case 0x201B:
    case 0x2032:
      return '\'';
    case 0x201C:
    case 0x201D:
    case 0x201E:
    case 0x2033:
      return '"';
    case 0x201A:
      return ',';
    case 0x02DC:
      return '~';
    case 0x02C6:
      return '^';
  }
  return -1;
}

}  // namespace

namespace {

uint16_t shown(int locale, uint8_t e) {
  switch (e) {
    case 0x1C:
      return '*';  // DUP
    case 0x1E:
      return ';';  // field mark
    case 0x41:
    case 0xFF:
      return ' ';
    case 0xCA:
      return '-';  // soft hyphen, shown
  }
  if (e < 0x40) return ' ';
  uint16_t u = table(locale)[e];
  return u ? u : ' ';
}

// The character shown for each EBCDIC code, per row of the locale table
// (built once).
struct Shown {
  uint16_t code[TCS_EBCDIC_LOCALES][256];
  Shown() {
    for (size_t l = 0; l < TCS_EBCDIC_LOCALES; l++)
      for (int e = 0; e < 256; e++) code[l][e] = shown(TCSEbcdicLocales[l].locale, (uint8_t)e);
  }
};

}  // namespace

const uint16_t* te3270_display_table(int locale) {
  static const Shown tables;
  return tables.code[TCSEbcdicLocaleIndex(locale)];
}

uint16_t te3270_ebcdic_to_unicode(int locale, uint8_t e) {
  return te3270_display_table(locale)[e];
}

uint16_t te3270_ge_to_unicode(uint8_t code) {
  if (code < 0x40) return ' ';
  uint16_t u = kGraphic[code - 0x40];
  return u ? u : te3270_display_table(0)[code];
}

int te3270_unicode_to_ebcdic(int locale, uint32_t cp) {
  if (cp == ' ') return 0x40;
  if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return -1;
  const uint16_t* t = table(locale);
  for (int e = 0x42; e < 0xFF; e++)
    if (t[e] == cp && e != 0xCA) return e;
  int s = stand_in(cp);
  return s >= 0 ? te3270_unicode_to_ebcdic(locale, (uint32_t)s) : -1;
}

void te3270_set_locale(te3270* t, int locale) {
  t->locale = TCSEbcdicLocaleOf(locale).locale;
  te3270_mark_all(t);
}
