// TCS conversions: the code classes, byte <-> TCS through tables, the text
// helpers, key notation both ways, the reverse Unicode table and typed keys.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keyname.h"
#include "tcs.h"
#include "tetrace.h"

namespace {

TEST(TcsClasses, Ranges) {
  struct Case {
    int code;
    bool ck, hw, tk, vk, tcs, ascii;
  };
  const Case cases[] = {
      {0, false, false, false, false, false, false},    {1, true, false, false, false, false, false},
      {31, true, false, false, false, false, false},    {32, false, true, false, false, false, false},
      {255, false, true, false, false, false, false},   {256, false, false, true, false, false, false},
      {454, false, false, true, false, false, false},   {455, false, false, false, true, false, false},
      {486, false, false, false, true, false, false},   {487, false, false, false, false, false, false},
      {511, false, false, false, false, false, false},  {512, false, false, false, false, true, false},
      {543, false, false, false, false, true, false},   {544, false, false, false, false, true, true},
      {637, false, false, false, false, true, true},    {638, false, false, false, false, true, true},
      {639, false, false, false, false, true, false},   {1119, false, false, false, false, true, false},
      {1120, false, false, false, false, false, false}, {-1, false, false, false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(isCK(c.code), c.ck);
    EXPECT_EQ(isHW(c.code), c.hw);
    EXPECT_EQ(isTK(c.code), c.tk);
    EXPECT_EQ(isVK(c.code), c.vk);
    EXPECT_EQ(isTCS(c.code), c.tcs);
    EXPECT_EQ(isTCSAscii(c.code), c.ascii);
    EXPECT_EQ(isCTK(c.code), c.ck || c.tk);
    EXPECT_EQ(isCTVK(c.code), c.ck || c.tk || c.vk);
  }
}

TEST(TcsConvert, BytesThroughTables) {
  TCS in[256];
  for (int i = 0; i < 256; i++) in[i] = static_cast<TCS>(900 + i);
  TCS t = 0;
  EXPECT_EQ(CPtoTCS(65, &t, in), 1);
  EXPECT_EQ(t, 965);
  EXPECT_EQ(CPtoTCS(10, &t, in), 0);  // control bytes are never translated
  EXPECT_EQ(t, 10);
  EXPECT_EQ(CPtoTCS(31, &t, in), 0);
  EXPECT_EQ(t, 31);
  EXPECT_EQ(CPtoTCS(65, &t, nullptr), 0);
  EXPECT_EQ(t, 65);

  uint8_t out[608];
  for (int i = 0; i < 608; i++) out[i] = static_cast<uint8_t>(i * 7);
  uint8_t b = 0;
  EXPECT_EQ(TCStoCP(577, &b, out), 1);
  EXPECT_EQ(b, static_cast<uint8_t>(65 * 7));
  EXPECT_EQ(TCStoCP(1119, &b, out), 1);
  EXPECT_EQ(b, static_cast<uint8_t>(607 * 7));
  EXPECT_EQ(TCStoCP(65, &b, out), 2);  // a host byte goes as it is
  EXPECT_EQ(b, 65);
  EXPECT_EQ(TCStoCP(577, &b, nullptr), 0);
  EXPECT_EQ(b, 65);
  EXPECT_EQ(TCStoCP(300, &b, out), 0);  // a key
  EXPECT_EQ(b, 300 & 0xFF);
  EXPECT_EQ(TCStoCP(13, &b, out), 0);
  EXPECT_EQ(b, 13);
}

TEST(TcsConvert, TextHelpers) {
  TCS tcs[8];
  EXPECT_EQ(CPAtoTCSA("A\x1b\xe9", tcs, 8), 3u);
  EXPECT_EQ(tcs[0], 577);
  EXPECT_EQ(tcs[1], 27);
  EXPECT_EQ(tcs[2], 512 + 0xE9);
  EXPECT_EQ(tcs[3], 0);
  EXPECT_EQ(TCSlen(tcs), 3u);
  EXPECT_EQ(CPAtoTCSA("abcdef", tcs, 4), 3u);  // cut to the capacity, still terminated
  EXPECT_EQ(tcs[3], 0);

  char text[8];
  const TCS ok[] = {577, 66, 13, 700, 0};
  EXPECT_TRUE(TCSAtoCPA(ok, text, sizeof text));
  EXPECT_EQ(std::string(text), std::string("AB\r") + static_cast<char>(700 & 0xFF));
  const TCS key[] = {577, 276, 578, 0};
  EXPECT_FALSE(TCSAtoCPA(key, text, sizeof text));
  EXPECT_STREQ(text, "A");
  const TCS longer[] = {577, 578, 579, 0};
  EXPECT_FALSE(TCSAtoCPA(longer, text, 3));
  EXPECT_STREQ(text, "AB");
}

std::vector<int> to_tcs(const char* text) {
  TCS buf[64];
  int n = TCSConvert(buf, 64, const_cast<char*>(text), 0, 2);
  EXPECT_EQ(buf[n], 0);
  return std::vector<int>(buf, buf + n);
}

std::string to_text(std::vector<int> codes, size_t cap = 256) {
  std::vector<TCS> tcs(codes.begin(), codes.end());
  tcs.push_back(0);
  std::string text(cap, '#');
  int n = TCSConvert(tcs.data(), 0, text.data(), cap, 0);
  EXPECT_EQ(static_cast<size_t>(n), strlen(text.c_str()));
  return text.c_str();
}

TEST(TcsConvert, KeyNotationToTcs) {
  struct Case {
    const char* text;
    std::vector<int> codes;
  };
  const Case cases[] = {
      {"ab", {609, 610}},
      {"<ESC><esc><^M><^[>", {27, 27, 13, 27}},
      {"<65><1120>", {65, 1120}},
      {"<up><C-UP><F1><pf3><alta>", {276, 320, 256, 1122, 409}},
      {"<enter>", {13}},
      {"x<nosuchkey>y<>z<0>", {632, 633, 634}},  // names that say nothing are left out
      {"\x01\xe9~", {1, 0xE9, 638}},
      {"a<F2", {609, 257}},  // a token may end with the text
      {"<99999>", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(to_tcs(c.text), c.codes) << c.text;

  TCS small[3];
  EXPECT_EQ(TCSConvert(small, 3, const_cast<char*>("abcd"), 0, 2), 2);
  EXPECT_EQ(small[2], 0);
}

TEST(TcsConvert, TcsToKeyNotation) {
  struct Case {
    std::vector<int> codes;
    const char* text;
  };
  const Case cases[] = {
      {{27, 1, 13, 31}, "<ESC><^A><^M><^_>"},
      {{65, 60, 62, 200}, "A<60>>\xc8"},
      {{276, 320, 256, 275, 456}, "<UP><C-UP><F1><F20><MENU>"},
      {{544, 577, 571, 573, 635, 637, 638}, " A;={}~"},
      {{572, 636, 639, 700, 512, 543}, "<572><636><639><700><512><543>"},
      {{453, 473, 487, 1120, -5}, "<453><473><487><1120><-5>"},  // codes without a usable name
  };
  for (const Case& c : cases) EXPECT_EQ(to_text(c.codes), c.text);
  EXPECT_EQ(to_text({577, 578, 276, 579}, 7), "AB<UP>");  // a code that does not fit ends the text
  EXPECT_EQ(to_text({276}, 4), "");
}

TEST(TcsConvert, KeyNotationRoundTrip) {
  // Every terminal and virtual key code written as text reads back as itself.
  for (int code = 256; code <= 486; code++) {
    std::string text = to_text({code});
    EXPECT_EQ(to_tcs(text.c_str()), std::vector<int>{code}) << text;
  }
}

TEST(TcsUnicode, ReverseTableHighestCodePointWins) {
  std::vector<uint16_t> u2t(TCS_UNICODE_SIZE, 0);
  u2t[0x41] = 577;
  u2t[0xE9] = 700;
  u2t[0x2000] = 700;  // the higher code point wins
  u2t[0xE001] = 701;  // private use: skipped
  u2t[0xFB00] = 702;  // skipped up to 0xFBFF
  u2t[0xFBFF] = 702;
  u2t[0xFC00] = 703;  // first one taken again
  u2t[0xDFFF] = 704;
  u2t[0xFFFF] = 704;
  u2t[0x100] = 300;   // a key: not a character
  u2t[0x101] = 1279;  // last slot
  u2t[0x102] = 1280;  // beyond the table
  std::vector<uint16_t> t2u(TCS_TCS2UNI_SIZE, 0xAAAA);
  TCSBuildTCS2Unicode(u2t.data(), t2u.data());
  EXPECT_EQ(t2u[577 - 512], 0x41);
  EXPECT_EQ(t2u[700 - 512], 0x2000);
  EXPECT_EQ(t2u[701 - 512], 0);
  EXPECT_EQ(t2u[702 - 512], 0);
  EXPECT_EQ(t2u[703 - 512], 0xFC00);
  EXPECT_EQ(t2u[704 - 512], 0xFFFF);
  EXPECT_EQ(t2u[767], 0x101);
  int filled = 0;
  for (uint16_t v : t2u) filled += v != 0;
  EXPECT_EQ(filled, 5);

  TCSBuildTCS2Unicode(nullptr, t2u.data());
  for (uint16_t v : t2u) ASSERT_EQ(v, 0);
}

TEST(TcsUnicode, TypedKeys) {
  std::vector<uint16_t> u2t(TCS_UNICODE_SIZE, 0);
  u2t[0xE9] = 642;
  u2t[0xE000] = 256;
  EXPECT_EQ(TCSFromUnicodeKey(u2t.data(), 0xE9), 642);
  EXPECT_EQ(TCSFromUnicodeKey(u2t.data(), 0xE000), 256);
  EXPECT_EQ(TCSFromUnicodeKey(u2t.data(), 0x41), 512 + 0x41);  // no entry: 512 + low byte
  EXPECT_EQ(TCSFromUnicodeKey(u2t.data(), 13), 13);
  EXPECT_EQ(TCSFromUnicodeKey(u2t.data(), 0x20AC), 0xAC);  // outside 32..255: the low byte
  EXPECT_EQ(TCSFromUnicodeKey(nullptr, 0x41), 577);
}

TEST(TcsEbcdic, BuiltInTablesAndTraceColumn) {
  struct Case {
    int cp, byte, code_point;
  };
  const Case cases[] = {
      {37, 0xC1, 'A'},   {37, 0x40, ' '},   {37, 0x4A, 0xA2},  {37, 0x5A, '!'},   {37, 0x15, 0},
      {37, 0xFF, 0},     {273, 0x4A, 0xC4}, {273, 0xBC, 0xAF}, {285, 0x5B, 0xA3}, {285, 0x4A, '$'},
      {297, 0x7C, 0xE0}, {297, 0x44, '@'},  {500, 0x4A, '['},  {500, 0xC1, 'A'},
  };
  for (const Case& c : cases) {
    ASSERT_NE(TCSEbcdicToUnicode(c.cp), nullptr);
    EXPECT_EQ(TCSEbcdicToUnicode(c.cp)[c.byte], c.code_point) << c.cp << " " << c.byte;
  }
  EXPECT_EQ(TCSEbcdicToUnicode(437), nullptr);

  TCSSetTraceEbcdicTable();
  TE_Trace_SetRoute(TRACE_ROUTE_STDERR2);
  TE_Trace_SetMask(TRACE_PRINT);
  testing::internal::CaptureStderr();
  TE_Trace_Data_EBC(TRACE_PRINT, "rx", "\xc8\x89\x40\x4a\x15", 5);
  std::string out = testing::internal::GetCapturedStderr();
  TE_Trace_SetRoute(0);
  TE_Trace_SetEbcdicTable(nullptr);
  EXPECT_NE(out.find("  Hi ..\n"), std::string::npos) << out;
}

TEST(KeyName, CodesAndNames) {
  struct Case {
    int code;
    const char* name;
  };
  const Case both_ways[] = {
      {256, "F1"},
      {275, "F20"},
      {276, "UP"},
      {320, "C-UP"},
      {297, "C-HOME"},
      {300, "INS"},
      {301, "DELETE"},
      {313, "C-KP*"},
      {292, "KP,"},
      {304, "C-PRINT"},
      {305, "S-TAB"},
      {309, "C-ENTER"},
      {319, "BACKSPACE"},
      {329, "SF1"},
      {348, "SF20"},
      {349, "CF1"},
      {369, "AF1"},
      {389, "CSF1"},
      {408, "CSF20"},
      {409, "ALTa"},
      {434, "ALTz"},
      {435, "ALT1"},
      {443, "ALT9"},
      {444, "ALT0"},
      {445, "ALT-"},
      {446, "ALT="},
      {447, "LTCTRL"},
      {456, "MENU"},
      {486, "PASTE"},
      {1120, "PF1"},
      {1143, "PF24"},
      {1144, "PA1"},
      {1146, "PA3"},
      {1149, "EINP"},
      {1152, "REDISPLAYSCREEN"},
      {1177, "LASTFIELDPOSITION"},
      {1178, "AIDPRINT"},
      {1200, "S-UP"},
      {1213, "A-LEFT"},
      {1229, "AS-DELETE"},
      {1234, "CS-HOME"},
      {1247, "CA-PGDN"},
      {1258, "CAS-INS"},
      {1260, "ASF1"},
      {1283, "CAF12"},
      {1295, "CASF12"},
      {1, "^A"},
      {0, "^@"},
      {27, "^["},
      {127, "^?"},
      {65, "A"},
      {233, "\xe9"},
  };
  for (const Case& c : both_ways) {
    EXPECT_STREQ(keyname(c.code), c.name) << c.code;
    EXPECT_EQ(keyid(c.name), c.code) << c.name;
  }
  const Case names_only[] = {{577, "A"},     {767, "\xff"},  {800, "<320>"}, {453, "<1c5>"}, {1118, "<45e>"},
                             {1119, "NONE"}, {1155, "NONE"}, {1199, "NONE"}, {1296, "NONE"}, {-1, "NONE"}};
  for (const Case& c : names_only) EXPECT_STREQ(keyname(c.code), c.name) << c.code;
  const Case ids_only[] = {
      {-1, "none"},     {-1, "NONE"},     {-2, "bogus"},    {-2, ""},
      {300, "Insert"},  {301, "del"},     {323, "c-del"},   {319, "bs"},
      {13, "enter"},    {27, "Esc"},      {9, "tab"},       {326, "c-tab"},
      {324, "five"},    {260, "f5"},      {391, "CSF3"},    {-2, "f21"},
      {-2, "f0"},       {-2, "f01"},      {-2, "pf25"},     {-2, "pa4"},
      {1144, "@x"},     {1146, "@Z"},     {275, "pse"},     {1161, "fieldexit"},
      {1161, "FLDEX"},  {13, "^m"},       {-2, "c-kp."},    {-2, "f1x"},
      {-2, "altctrlx"}, {449, "altctrl"}, {1229, "as-del"}, {1238, "cs-insert"},
      {-2, "s-kp0"},    {-2, "asf13"},    {-2, "sc-up"},
  };
  for (const Case& c : ids_only) EXPECT_EQ(keyid(c.name), c.code) << c.name;
  EXPECT_EQ(keyid(nullptr), -2);
}

// The xterm modifier number and the plain key of every modified key code.
TEST(KeyNames, ModifiersOfKeys) {
  struct Case {
    int code, modifier, base;
  } cases[] = {
      {TK_C_UP, 5, TK_UP},
      {TK_C_RIGHT, 5, TK_RIGHT},
      {TK_C_DEL, 5, TK_DEL},
      {TK_C_PGDN, 5, TK_PGDN},
      {TK_SF1, 2, TK_F1},
      {TK_CF1 + 4, 5, TK_F1 + 4},
      {TK_AF1 + 11, 3, TK_F1 + 11},
      {TK_CSF1 + 2, 6, TK_F1 + 2},
      {TK_MODKEY, 2, TK_UP},
      {TK_MODKEY + 13, 3, TK_LEFT},
      {TK_MODKEY + 29, 4, TK_DEL},
      {TK_MODKEY + 34, 6, TK_HOME},
      {TK_MODKEY + 47, 7, TK_PGDN},
      {TK_MODKEY + 58, 8, TK_INS},
      {TK_ASF1, 4, TK_F1},
      {TK_CAF1 + 11, 7, TK_F1 + 11},
      {TK_CASF1 + 5, 8, TK_F1 + 5},
      {TK_UP, 0, 0},
      {'a', 0, 0},
      {TK_ALTA, 0, 0},
      {TK_C_ENTER, 0, 0},
  };
  for (const Case& c : cases) {
    int base = -1;
    EXPECT_EQ(keymodifier(c.code, &base), c.modifier) << keyname(c.code);
    EXPECT_EQ(base, c.base) << keyname(c.code);
  }
}

}  // namespace
