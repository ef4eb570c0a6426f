// UTF-8: the encoder's forms and limits, the scanner's answers (a whole
// sequence, more bytes needed, an ill-formed piece) under the strict and
// the loose rule, the byte-by-byte decoder against the scanner, and the
// locale table of the IBM host code pages.
#include "tcs_utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tcs.h"

namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char piece[4];
  for (unsigned char b : bytes) {
    snprintf(piece, sizeof piece, "%02X ", b);
    out += piece;
  }
  return out;
}

TEST(TcsUtf8, EncodesEachLengthAndItsLimits) {
  struct Case {
    uint32_t cp;
    unsigned rule;
    std::string bytes;
  };
  const Case cases[] = {
      {0x00, TCS_UTF8_KEEP_SURROGATES, std::string(1, '\0')},
      {0x41, TCS_UTF8_KEEP_SURROGATES, "A"},
      {0x7F, TCS_UTF8_KEEP_SURROGATES, "\x7F"},
      {0x80, TCS_UTF8_KEEP_SURROGATES, "\xC2\x80"},
      {0xE9, TCS_UTF8_KEEP_SURROGATES, "\xC3\xA9"},
      {0x7FF, TCS_UTF8_KEEP_SURROGATES, "\xDF\xBF"},
      {0x800, TCS_UTF8_KEEP_SURROGATES, "\xE0\xA0\x80"},
      {0x20AC, TCS_UTF8_KEEP_SURROGATES, "\xE2\x82\xAC"},
      {0xFFFF, TCS_UTF8_KEEP_SURROGATES, "\xEF\xBF\xBF"},
      {0x10000, TCS_UTF8_KEEP_SURROGATES, "\xF0\x90\x80\x80"},
      {0x1F600, TCS_UTF8_KEEP_SURROGATES, "\xF0\x9F\x98\x80"},
      {0x10FFFF, TCS_UTF8_KEEP_SURROGATES, "\xF4\x8F\xBF\xBF"},
      // Beyond Unicode: the replacement character, whatever the rule.
      {0x110000, TCS_UTF8_KEEP_SURROGATES, "\xEF\xBF\xBD"},
      {0xFFFFFFFF, TCS_UTF8_REPLACE_SURROGATES, "\xEF\xBF\xBD"},
      // Surrogates: three bytes (a lone UTF-16 half kept), or replaced.
      {0xD800, TCS_UTF8_KEEP_SURROGATES, "\xED\xA0\x80"},
      {0xDFFF, TCS_UTF8_KEEP_SURROGATES, "\xED\xBF\xBF"},
      {0xD800, TCS_UTF8_REPLACE_SURROGATES, "\xEF\xBF\xBD"},
      {0xDFFF, TCS_UTF8_REPLACE_SURROGATES, "\xEF\xBF\xBD"},
      {0xD7FF, TCS_UTF8_REPLACE_SURROGATES, "\xED\x9F\xBF"},
      {0xE000, TCS_UTF8_REPLACE_SURROGATES, "\xEE\x80\x80"},
  };
  for (const Case& c : cases) {
    char out[4];
    const size_t n = TCSUtf8Encode(c.cp, out, c.rule);
    EXPECT_EQ(Hex(std::string(out, n)), Hex(c.bytes)) << std::hex << c.cp;
    std::string appended = "x";
    TCSUtf8Append(appended, c.cp, c.rule);
    EXPECT_EQ(Hex(appended), Hex("x" + c.bytes)) << std::hex << c.cp;
  }
}

TEST(TcsUtf8, ScansOneSequence) {
  struct Case {
    std::string bytes;
    int strictN;  // answer of the strict rule
    int looseN;   // answer of the loose rule
    uint32_t cp;  // code point of a positive answer (the loose one when only it is positive)
  };
  const Case cases[] = {
      {"A", 1, 1, 'A'},
      {"\xC3\xA9z", 2, 2, 0xE9},
      {"\xE2\x82\xAC", 3, 3, 0x20AC},
      {"\xF0\x9F\x98\x80", 4, 4, 0x1F600},
      {"\xF4\x8F\xBF\xBF", 4, 4, 0x10FFFF},
      {"\xE0\xA0\x80", 3, 3, 0x800},
      {"\xED\x9F\xBF", 3, 3, 0xD7FF},
      // Bytes that start nothing: one replacement character each.
      {"\x80", -1, -1, 0},
      {"\xBF\x80", -1, -1, 0},
      {"\xC0\x80", -1, -1, 0},
      {"\xC1\xBF", -1, -1, 0},
      {"\xF5\x80\x80\x80", -1, -1, 0},
      {"\xFF", -1, -1, 0},
      // Overlong forms, surrogates, values above U+10FFFF: refused at the
      // second byte by the strict rule, taken by the loose one.
      {"\xE0\x80\x80", -1, 3, 0},
      {"\xE0\x9F\xBF", -1, 3, 0x7FF},
      {"\xED\xA0\x80", -1, 3, 0xD800},
      {"\xF0\x80\x80\x80", -1, 4, 0},
      {"\xF0\x8F\xBF\xBF", -1, 4, 0xFFFF},
      {"\xF4\x90\x80\x80", -1, 4, 0x110000},
      // A byte that does not continue: the well-formed piece before it is
      // one replacement character, under both rules.
      {"\xC3"
       "A",
       -1, -1, 0},
      {"\xE2\x82"
       "A",
       -2, -2, 0},
      {"\xF0\x9F\x98"
       "A",
       -3, -3, 0},
      {"\xE2\xC3\xA9", -1, -1, 0},
      // Cut short by the end of the buffer: more bytes are needed.
      {"", 0, 0, 0},
      {"\xC3", 0, 0, 0},
      {"\xE2\x82", 0, 0, 0},
      {"\xF0\x9F\x98", 0, 0, 0},
      {"\xE0", 0, 0, 0},
      {"\xED\xA0", -1, 0, 0},
  };
  for (const Case& c : cases) {
    const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
    const auto* end = p + c.bytes.size();
    for (unsigned rule : {TCS_UTF8_STRICT, TCS_UTF8_LOOSE}) {
      const int want = rule == TCS_UTF8_STRICT ? c.strictN : c.looseN;
      uint32_t cp = 0xDEAD;
      EXPECT_EQ(TCSUtf8Scan(p, end, &cp, rule), want) << Hex(c.bytes) << " rule " << rule;
      if (want > 0) {
        EXPECT_EQ(cp, c.cp) << Hex(c.bytes) << " rule " << rule;
      }
    }
  }
}

// The code points of a whole input by the strict rule: scanned, and fed
// byte by byte; a sequence left open at the end counts as U+FFFD.
std::vector<uint32_t> Scanned(const std::string& bytes) {
  std::vector<uint32_t> out;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    uint32_t cp;
    const int n = TCSUtf8Scan(p, end, &cp);
    if (n > 0) {
      out.push_back(cp);
      p += n;
    } else {
      out.push_back(TCS_UTF8_REPLACEMENT);
      p += n < 0 ? -n : end - p;
    }
  }
  return out;
}

std::vector<uint32_t> Fed(const std::string& bytes) {
  std::vector<uint32_t> out;
  TCSUtf8Decoder d{};
  for (unsigned char b : bytes) {
    uint32_t cp[2];
    const int n = TCSUtf8Feed(d, b, cp);
    EXPECT_GE(n, 0);
    EXPECT_LE(n, 2);
    out.insert(out.end(), cp, cp + n);
  }
  if (TCSUtf8Break(d)) out.push_back(TCS_UTF8_REPLACEMENT);
  EXPECT_FALSE(TCSUtf8Break(d)) << "closed once";
  return out;
}

TEST(TcsUtf8, DecoderFedByteByByteAgreesWithTheScanner) {
  constexpr uint32_t R = TCS_UTF8_REPLACEMENT;
  struct Case {
    std::string bytes;
    std::vector<uint32_t> cps;
  };
  const Case cases[] = {
      {"a\xC3\xA9"
       "b",
       {'a', 0xE9, 'b'}},
      {"\xE2\x82\xAC\xF0\x9F\x98\x80", {0x20AC, 0x1F600}},
      {"\xE2\x82"
       "A",
       {R, 'A'}},
      {"\xC0\xAF", {R, R}},
      {"\xED\xA0\x80", {R, R, R}},
      {"\xF4\x90\x80\x80", {R, R, R, R}},
      {"\xF0\x9F\x98", {R}},
      {"\xC3\xC3\xA9", {R, 0xE9}},
      {"\xE2\x82\xF5", {R, R}},
      {"\x80\x80x", {R, R, 'x'}},
      {std::string("\xC3\0", 2), {R, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Scanned(c.bytes), c.cps) << Hex(c.bytes);
    EXPECT_EQ(Fed(c.bytes), c.cps) << Hex(c.bytes);
  }
}

TEST(TcsUtf8, EveryScalarValueSurvivesEncodingAndDecoding) {
  for (uint32_t cp = 0; cp <= TCS_UTF8_MAX; cp++) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    char out[4];
    const size_t n = TCSUtf8Encode(cp, out, TCS_UTF8_REPLACE_SURROGATES);
    const auto* p = reinterpret_cast<const unsigned char*>(out);
    uint32_t back = ~0u;
    ASSERT_EQ(TCSUtf8Scan(p, p + n, &back), static_cast<int>(n)) << std::hex << cp;
    ASSERT_EQ(back, cp);
    TCSUtf8Decoder d{};
    uint32_t fed[2];
    int got = 0;
    for (size_t i = 0; i < n; i++) {
      got = TCSUtf8Feed(d, p[i], fed);
      if (i + 1 < n) {
        ASSERT_EQ(got, 0) << std::hex << cp;
      }
    }
    ASSERT_EQ(got, 1) << std::hex << cp;
    ASSERT_EQ(fed[0], cp);
  }
}

TEST(TcsLocales, NamesNumbersAndCodePagesOfTheIbmHostCodePages) {
  struct Case {
    const char* name;
    int locale;
    int codePage;
  };
  const Case cases[] = {
      {"US English", 0, 37},
      {"UK English", 7, 285},
      {"German", 3, 273},
      {"French", 2, 297},
  };
  for (const Case& c : cases) {
    const TCSEbcdicLocale& byName = TCSEbcdicLocaleNamed(c.name);
    EXPECT_EQ(byName.locale, c.locale) << c.name;
    EXPECT_EQ(byName.codePage, c.codePage) << c.name;
    EXPECT_EQ(&TCSEbcdicLocaleOf(c.locale), &byName) << c.name;
    EXPECT_EQ(&TCSEbcdicLocales[TCSEbcdicLocaleIndex(c.locale)], &byName) << c.name;
    EXPECT_NE(TCSEbcdicToUnicode(c.codePage), nullptr) << "a built-in table for " << c.name;
  }
  // Anything else is US English, code page 037.
  for (const char* other : {"", "german", "ISO 8859-1 Latin 1", "UK English "}) {
    EXPECT_EQ(TCSEbcdicLocaleNamed(other).codePage, 37) << other;
  }
  EXPECT_EQ(TCSEbcdicLocaleNamed(nullptr).codePage, 37);
  for (int other : {-1, 1, 4, 37, 285}) {
    EXPECT_EQ(TCSEbcdicLocaleIndex(other), 0u) << other;
    EXPECT_EQ(TCSEbcdicLocaleOf(other).codePage, 37) << other;
  }
}

// The national and euro pages by their number names; the older names and
// the number names of their pages select the same row.
TEST(TcsLocales, NumberNamesOfTheNationalAndEuroPages) {
  struct Case {
    const char* name;
    int codePage;
    int charSet;
    const char* kbdType;
  };
  const Case cases[] = {
      {"CP037", 37, 697, "USB"},     {"CP273", 273, 697, "AGB"},   {"CP277", 277, 697, "DMB"},
      {"CP278", 278, 697, "FNB"},    {"CP280", 280, 697, "ITB"},   {"CP284", 284, 697, "SPB"},
      {"CP285", 285, 697, "UKB"},    {"CP297", 297, 697, "FAB"},   {"CP500", 500, 697, "BLI"},
      {"CP871", 871, 697, "ICB"},    {"CP1047", 1047, 697, "USB"}, {"CP1140", 1140, 695, "USB"},
      {"CP1141", 1141, 695, "AGB"},  {"CP1145", 1145, 695, "SPB"}, {"CP1148", 1148, 695, "BLI"},
      {"CP1149", 1149, 695, "ICB"},
  };
  for (const Case& c : cases) {
    const TCSEbcdicLocale& row = TCSEbcdicLocaleNamed(c.name);
    EXPECT_TRUE(TCSEbcdicLocaleKnown(c.name)) << c.name;
    EXPECT_EQ(row.codePage, c.codePage) << c.name;
    EXPECT_EQ(row.charSet, c.charSet) << c.name;
    EXPECT_STREQ(row.kbdType, c.kbdType) << c.name;
    // The locale number leads back to the same row.
    EXPECT_EQ(&TCSEbcdicLocaleOf(row.locale), &row) << c.name;
  }
  EXPECT_EQ(&TCSEbcdicLocaleNamed("German"), &TCSEbcdicLocaleNamed("CP273"));
  EXPECT_EQ(&TCSEbcdicLocaleNamed("US English"), &TCSEbcdicLocaleNamed("CP037"));
  for (const char* other : {"CP37", "cp273", "CP1150", "CP 273", "273"}) {
    EXPECT_FALSE(TCSEbcdicLocaleKnown(other)) << other;
    EXPECT_EQ(TCSEbcdicLocaleNamed(other).codePage, 37) << other;
  }
}

}  // namespace
