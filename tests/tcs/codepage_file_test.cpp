// The shipped code-page file: it is what the generator writes, its Unicode
// table round-trips the PC character set, its host, DEC and EBCDIC tables
// agree with each other, and the browser's key table maps back to the keys.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "keyname.h"
#include "tcs.h"

namespace {

const std::string kSource = KVX_SOURCE_DIR;
const std::string kFile = kSource + "/codepage.dat";

struct TableDeleter {
  void operator()(void* t) const { TCSFreeTbl(t); }
};
using Table = std::unique_ptr<void, TableDeleter>;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class CodepageFile : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    unicode_.reset(TCSLoadTbl(TCS_TBL_UNICODE, kFile.c_str(), TCS_UNICODE2TCS_NAME));
    reverse_.assign(TCS_TCS2UNI_SIZE, 0);
    TCSBuildTCS2Unicode(u2t(), reverse_.data());
  }
  static const uint16_t* u2t() { return static_cast<const uint16_t*>(unicode_.get()); }
  static uint16_t t2u(int tcs) { return reverse_[tcs - TCS_FIRST]; }
  static Table load(int kind, const char* scheme) { return Table(TCSLoadTbl(kind, kFile.c_str(), scheme)); }

  static Table unicode_;
  static std::vector<uint16_t> reverse_;
};

Table CodepageFile::unicode_;
std::vector<uint16_t> CodepageFile::reverse_;

TEST(CodepageGenerator, CommittedFilesMatchTheGenerator) {
  char dir[] = "/tmp/kvx_gen_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string cmd = "python3 '" + kSource + "/scripts/gen_codepage.py' --out-dir '" + dir + "'";
  ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
  for (const char* rel : {"codepage.dat", "html/shared/keycodes.js", "src/lib/tcs/tcs_ebcdic.cpp"}) {
    std::string fresh = read_file(std::string(dir) + "/" + rel);
    EXPECT_FALSE(fresh.empty()) << rel;
    EXPECT_TRUE(fresh == read_file(kSource + "/" + rel))
        << rel << " differs from what scripts/gen_codepage.py writes; run it and commit the result";
  }
  std::string rm = std::string("rm -rf '") + dir + "'";
  EXPECT_EQ(system(rm.c_str()), 0);
}

TEST_F(CodepageFile, PcCharacterSetRoundTrips) {
  ASSERT_NE(unicode_, nullptr);
  // Anchors: a few glyphs whose code points are well known.
  const std::pair<int, int> anchors[] = {{'A', 577},         {' ', 544},           {0x263A, 513},
                                         {0x25BA, 528},      {0x2302, 639},        {0xC7, 640},
                                         {0xE9, 512 + 0x82}, {0x2591, 512 + 0xB0}, {0x2500, 708},
                                         {0x2518, 729},      {0x03C0, 512 + 0xE3}, {0xA0, 767}};
  for (auto [u, tcs] : anchors) {
    EXPECT_EQ(u2t()[u], tcs) << std::hex << u;
    EXPECT_EQ(t2u(tcs), u) << tcs;
  }
  // Every glyph of the PC character set: TCS -> Unicode -> the same TCS.
  for (int b = 1; b < 256; b++) {
    uint16_t u = t2u(TCS_FIRST + b);
    ASSERT_NE(u, 0) << "PC byte " << b << " has no code point";
    EXPECT_EQ(u2t()[u], TCS_FIRST + b) << "PC byte " << b;
  }
  EXPECT_EQ(t2u(TCS_FIRST), 0);  // byte 0 has no glyph
  // Control code points are not characters: typed controls stay controls.
  for (int u : {0, 8, 9, 10, 13, 27, 127}) EXPECT_EQ(u2t()[u], 0) << u;
}

TEST_F(CodepageFile, EveryCharacterCodeHasOneCodePoint) {
  for (int tcs = TCS_FIRST + 1; tcs < TCS_FIRST + static_cast<int>(TCS_TCS2UNI_SIZE); tcs++) {
    uint16_t u = t2u(tcs);
    if (u == 0) continue;
    EXPECT_FALSE(u >= 0xE000 && u <= 0xFBFF) << tcs;
    EXPECT_EQ(u2t()[u], tcs) << tcs;
  }
}

TEST_F(CodepageFile, DecSectionsAreTheBuiltInTables) {
  struct Case {
    const char* name;
    int kind;
    const std::array<TCS, 256>* builtin;
  };
  const Case cases[] = {{TCS_VT200DSG_NAME, TCS_TBL_VT200DSG, &TCSDefaultVT200DSG},
                        {TCS_VT200DMN_NAME, TCS_TBL_VT200DMN, &TCSDefaultVT200DMN},
                        {TCS_VT100SG_NAME, TCS_TBL_VT100SG, &TCSDefaultVT100SG}};
  for (const Case& c : cases) {
    Table t = load(c.kind, c.name);
    EXPECT_EQ(memcmp(t.get(), c.builtin->data(), 512), 0) << c.name;
    // Each character the table yields can be drawn.
    for (TCS tcs : *c.builtin) {
      if (isTCS(tcs)) {
        EXPECT_NE(t2u(tcs), 0) << c.name << " TCS " << tcs;
      }
    }
  }
  const std::pair<int, int> dec[] = {{768, 0xC0},  {787, 0xD0},   {801, 0xF0},   {804, 0xA4},   {805, 0x152},
                                     {806, 0x178}, {811, 0x2409}, {817, 0x23BA}, {822, 0x2260}, {1098, 0xB8}};
  for (auto [tcs, u] : dec) EXPECT_EQ(t2u(tcs), u) << tcs;
}

TEST_F(CodepageFile, HostCodePages) {
  struct Case {
    const char* scheme;
    int byte;
    int code_point;  // 0: the byte shows as a blank and nothing is sent as it
  };
  const Case cases[] = {
      {"STD 437 MS-DOS Latin US", 'A', 'A'},
      {"STD 437 MS-DOS Latin US", 0x82, 0xE9},
      {"STD 437 MS-DOS Latin US", 0xB3, 0x2502},
      {"STD 437 MS-DOS Latin US", 0xFF, 0xA0},
      {"ISO 8859-1 Latin 1", 0xE9, 0xE9},
      {"ISO 8859-1 Latin 1", 0xC0, 0xC0},
      {"ISO 8859-1 Latin 1", 0xD7, 0xD7},
      {"ISO 8859-1 Latin 1", 0x85, 0},
      {"1250", 0x8A, 0x160},
      {"1250", 0x9A, 0x161},
      {"1250", 0xB9, 0x105},
      {"1250", 0xE8, 0x10D},
      {"1250", 0x80, 0x20AC},
      {"1250", 0xA0, 0xA0},
      {"1250", 0x81, 0},
      {"1252", 0x9F, 0x178},
      {"1252", 0x80, 0x20AC},
      {"STD 850 MS-DOS Latin 1", 0xB5, 0xC1},
      {"STD 850 MS-DOS Latin 1", 0x9B, 0xF8},
      {"ISO 8859-2 Latin 2", 0xA1, 0x104},
      {"ISO 8859-15 Latin 9", 0xA4, 0x20AC},
      {"ISO 8859-15 Latin 9", 0xBC, 0x152},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.scheme) + " byte " + std::to_string(c.byte));
    Table in = load(TCS_TBL_CPTOTCS, c.scheme);
    Table out = load(TCS_TBL_TCSTOCP, c.scheme);
    TCS tcs = 0;
    ASSERT_EQ(CPtoTCS(c.byte, &tcs, static_cast<const TCS*>(in.get())), 1);
    if (c.code_point == 0) {
      EXPECT_EQ(tcs, TCS_BLANK);
      continue;
    }
    EXPECT_EQ(t2u(tcs), c.code_point);
    // A typed character reaches the host as the same byte.
    int typed = TCSFromUnicodeKey(u2t(), c.code_point);
    EXPECT_EQ(typed, tcs);
    uint8_t b = 0;
    EXPECT_EQ(TCStoCP(typed, &b, static_cast<const uint8_t*>(out.get())), 1);
    EXPECT_EQ(b, c.byte);
  }
  // Code page 437 itself: every byte is its own PC glyph; control bytes are
  // shown but never sent for a character.
  Table in = load(TCS_TBL_CPTOTCS, "STD 437 MS-DOS Latin US");
  Table out = load(TCS_TBL_TCSTOCP, "STD 437 MS-DOS Latin US");
  for (int b = 0; b < 256; b++) {
    EXPECT_EQ(static_cast<const TCS*>(in.get())[b], TCS_FIRST + b) << b;
    uint8_t sent = static_cast<const uint8_t*>(out.get())[b];
    EXPECT_EQ(sent, b < 32 || b == 127 ? 0 : b) << b;
  }
  // A character the host lacks is not sent as a wrong byte.
  Table latin1 = load(TCS_TBL_TCSTOCP, "ISO 8859-1 Latin 1");
  EXPECT_EQ(static_cast<const uint8_t*>(latin1.get())[u2t()[0x2502] - TCS_FIRST], 0);
}

TEST_F(CodepageFile, EbcdicTablesOfTheBlockModes) {
  struct Case {
    const char* scheme;
    int ibm;
  };
  const Case cases[] = {{"US English.unicode", 37},
                        {"UK English.unicode", 285},
                        {"German.unicode", 273},
                        {"French.unicode", 297}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scheme);
    Table t = load(TCS_TBL_UNICODE, c.scheme);
    const auto* to_ebcdic = static_cast<const uint16_t*>(t.get());
    EXPECT_EQ(to_ebcdic['A'], 0xC1);
    EXPECT_EQ(to_ebcdic[' '], 0x40);
    EXPECT_EQ(to_ebcdic['0'], 0xF0);
    const uint16_t* builtin = TCSEbcdicToUnicode(c.ibm);
    ASSERT_NE(builtin, nullptr);
    for (int b = 0; b < 256; b++) {
      if (builtin[b] == 0) continue;
      EXPECT_EQ(to_ebcdic[builtin[b]], b) << "EBCDIC " << b;
      // Every character a block-mode screen shows has a TCS code.
      EXPECT_TRUE(isTCS(u2t()[builtin[b]])) << "EBCDIC " << b;
    }
  }
  auto national = [&](const char* scheme, int u) {
    return static_cast<const uint16_t*>(load(8, scheme).get())[u];
  };
  EXPECT_EQ(national("US English.unicode", 0xA2), 0x4A);
  EXPECT_EQ(national("UK English.unicode", 0xA3), 0x5B);
  EXPECT_EQ(national("German.unicode", 0xC4), 0x4A);
  EXPECT_EQ(national("French.unicode", 0xE0), 0x7C);
}

// Every EBCDIC page of the locale table has its built-in table and its
// section "CPnnn.unicode" (the older national names too), which agree; the
// euro pages hold the euro sign where the classic page had the currency
// sign, and the national letters sit where each country's page puts them.
TEST_F(CodepageFile, EveryEbcdicPageOfTheLocaleTable) {
  for (const TCSEbcdicLocale& row : TCSEbcdicLocales) {
    char number[16];
    snprintf(number, sizeof number, "CP%03d.unicode", row.codePage);
    SCOPED_TRACE(number);
    const uint16_t* builtin = TCSEbcdicToUnicode(row.codePage);
    ASSERT_NE(builtin, nullptr);
    for (const std::string& scheme : {std::string(number), std::string(row.name) + ".unicode"}) {
      Table t = load(TCS_TBL_UNICODE, scheme.c_str());
      const auto* to_ebcdic = static_cast<const uint16_t*>(t.get());
      int graphic = 0;
      for (int b = 0; b < 256; b++) {
        if (builtin[b] == 0) continue;
        graphic++;
        EXPECT_EQ(to_ebcdic[builtin[b]], b) << scheme << " EBCDIC " << b;
        EXPECT_TRUE(isTCS(u2t()[builtin[b]])) << "EBCDIC " << b;
      }
      EXPECT_GE(graphic, 190) << scheme;
    }
    EXPECT_EQ(row.charSet, row.codePage >= 1140 && row.codePage <= 1149 ? 695 : 697);
  }
  struct National {
    int cp, byte, code_point;
  } cases[] = {
      {1141, 0x9F, 0x20AC}, {273, 0x9F, 0x00A4}, {1140, 0x9F, 0x20AC}, {1148, 0x9F, 0x20AC},
      {273, 0x4A, 0x00C4},  {1141, 0x4A, 0x00C4}, {500, 0x4A, '['},     {500, 0x5A, ']'},
      {1047, 0xAD, '['},    {1047, 0xBD, ']'},    {37, 0xBA, '['},  {1047, 0x5F, 0x005E},
      {277, 0x5B, 0x00C5},  {278, 0x7B, 0x00C4},  {280, 0xC0, 0x00E0},  {284, 0x7B, 0x00D1},
      {871, 0x7C, 0x00D0},  {1149, 0x9F, 0x20AC},
  };
  for (const National& c : cases)
    EXPECT_EQ(TCSEbcdicToUnicode(c.cp)[c.byte], c.code_point) << c.cp << " " << std::hex << c.byte;
}

// The tables come from the C library's iconv; Python's own codecs, an
// independent source, agree for every page Python has.
TEST(CodepageGenerator, EbcdicTablesAgreeWithPythonsCodecs) {
  for (int cp : {37, 273, 500, 1140}) {
    SCOPED_TRACE(cp);
    char codec[16];
    snprintf(codec, sizeof codec, "cp%03d", cp);
    std::string cmd = "python3 -c \"import sys\nfor b in range(256):\n  print(ord(bytes([b]).decode('" +
                      std::string(codec) + "')))\"";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    const uint16_t* builtin = TCSEbcdicToUnicode(cp);
    ASSERT_NE(builtin, nullptr);
    int b = 0, u = 0, graphic = 0;
    while (fscanf(p, "%d", &u) == 1 && b < 256) {
      // Control positions are 0 in the built-in tables.
      if (cp == 273 && b == 0xBC) {
        // The one byte the sources name differently: the C library gives
        // the macron U+00AF (as in 037 and 1141), Python the overline
        // U+203E, for the same glyph.  The table keeps the C library's.
        EXPECT_EQ(builtin[b], 0x00AF);
        EXPECT_EQ(u, 0x203E);
      } else if (builtin[b] != 0) {
        EXPECT_EQ(builtin[b], u) << "EBCDIC " << b;
        graphic++;
      } else {
        EXPECT_TRUE(u < 0x20 || (u >= 0x7F && u < 0xA0)) << "EBCDIC " << b << " is U+" << std::hex << u;
      }
      b++;
    }
    EXPECT_EQ(pclose(p), 0);
    EXPECT_EQ(b, 256);
    EXPECT_GE(graphic, 190);
  }
}

TEST_F(CodepageFile, BrowserKeyTableMapsBackToTheKeys) {
  // Every terminal, session and block-mode key has its private-use code point.
  for (int k = TCS_TK_FIRST; k <= TCS_VK_LAST; k++) EXPECT_EQ(u2t()[TCS_KEY_UNICODE_BASE + k - 256], k) << k;
  for (int k = TK_BLOCK_FIRST; k <= TK_BLOCK_LAST; k++)
    EXPECT_EQ(u2t()[TCS_KEY_UNICODE_BASE + k - 256], k) << k;
  for (int k = TK_MODKEY; k <= TK_MODFKEY_LAST; k++) EXPECT_EQ(u2t()[TCS_KEY_UNICODE_BASE + k - 256], k) << k;

  std::string js = read_file(kSource + "/html/shared/keycodes.js");
  // Entries are lines "    'NAME': 0xXXXX,".
  std::istringstream lines(js);
  std::string line;
  int seen = 0;
  while (std::getline(lines, line)) {
    size_t sep = line.find("': 0x");
    if (line.rfind("    '", 0) != 0 || sep == std::string::npos) continue;
    seen++;
    std::string name = line.substr(5, sep - 5);
    int cp = std::stoi(line.substr(sep + 5), nullptr, 16);
    int code = keyid(name.c_str());
    EXPECT_EQ(cp, TCS_KEY_UNICODE_BASE + code - 256) << name;
    EXPECT_EQ(u2t()[cp], code) << name;
  }
  EXPECT_NE(js.find("'F1': 0xE000,"), std::string::npos);
  EXPECT_NE(js.find("'UP': 0xE014,"), std::string::npos);
  EXPECT_NE(js.find("'PF1': 0xE360,"), std::string::npos);
  EXPECT_GT(seen, 0);
}

}  // namespace
