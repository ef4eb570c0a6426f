// Code-page file loader: entry forms, number forms, section lookup, scheme
// suffixes, defaults and the built-in DEC tables.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tcs.h"

namespace {

struct TableDeleter {
  void operator()(void* t) const { TCSFreeTbl(t); }
};
using Table = std::unique_ptr<void, TableDeleter>;

// Writes `text` to a file of its own (the loader keeps a file once read, so
// every test gets a fresh name) and returns the name.
std::string write_codepage(const std::string& text) {
  static int serial = 0;
  std::string name =
      testing::TempDir() + "tcs_" + std::to_string(getpid()) + "_" + std::to_string(serial++) + ".dat";
  FILE* f = fopen(name.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  return name;
}

Table load(int kind, const std::string& file, const char* scheme) {
  return Table(TCSLoadTbl(kind, file.c_str(), scheme));
}

const TCS* cpi(const Table& t) {
  return static_cast<const TCS*>(t.get());
}
const uint8_t* cpo(const Table& t) {
  return static_cast<const uint8_t*>(t.get());
}
const uint16_t* uni(const Table& t) {
  return static_cast<const uint16_t*>(t.get());
}

struct Expect {
  int index;  // element of the table (TCS - 512 for kind 1)
  int value;
};

struct LoadCase {
  const char* what;
  const char* file;  // content of the code-page file
  int kind;
  const char* scheme;
  std::vector<Expect> expect;
};

int element(int kind, const Table& t, int i) {
  switch (kind) {
    case TCS_TBL_TCSTOCP:
      return cpo(t)[i];
    case TCS_TBL_UNICODE:
      return uni(t)[i];
    default:
      return cpi(t)[i];
  }
}

const LoadCase kLoadCases[] = {
    {"decimal entry; others cleared", "[cp.cpi]\n65=577\n", 0, "cp", {{65, 577}, {66, -1}, {0, -1}}},
    {"hexadecimal entry", "[cp.cpi]\n0x41=0x241\n", 0, "cp", {{65, 577}}},
    {"X in upper case", "[cp.cpi]\n0X42=0X242\n", 0, "cp", {{66, 578}}},
    {"hex letter before the x makes 0", "[cp.cpi]\n6A=5\n", 0, "cp", {{0, 5}, {6, -1}}},
    {"blank before '=' leaves '=' in the value", "[cp.cpi]\n66 =577\n", 0, "cp", {{66, 0}}},
    {"key out of range ignored", "[cp.cpi]\n256=600\n300=1\n65=577\n", 0, "cp", {{65, 577}, {0, -1}}},
    {"comments, blank lines and CR LF", "[cp.cpi]\r\n; note\r\n\r\n68=580\r\n", 0, "cp", {{68, 580}}},
    {"section ends at the next header",
     "[cp.cpi]\n69=581\n[other.cpi]\n70=582\n",
     0,
     "cp",
     {{69, 581}, {70, -1}}},
    {"section name without regard to case", "[US ENGLISH.CPI]\n71=583\n", 0, "us english", {{71, 583}}},
    {"output table entry", "[cp.cpo]\n577=65\n1200=1\n", 1, "cp", {{577 - 512, 65}, {0, 255}, {607, 255}}},
    {"output value keeps its low byte", "[cp.cpo]\n600=0x141\n", 1, "cp", {{600 - 512, 0x41}}},
    {"output table for a missing scheme: defaults",
     "[cp.cpo]\n577=1\n",
     1,
     "nosuch",
     {{200, 200}, {533 - 512, 245}, {800 - 512, 0}, {577 - 512, 65}}},
    {"input table for a missing scheme: defaults", "", 0, "nosuch", {{21, 757}, {65, 577}, {0, 512}}},
    {"section without entries: defaults", "[cp.cpi]\n; nothing\n\n[next.cpi]\n1=2\n", 0, "cp", {{65, 577}}},
    {"suffix .cpo for kind 1",
     "[US English.cpi]\n577=1\n[US English.cpo]\n577=66\n",
     1,
     "US English",
     {{577 - 512, 66}}},
    {"a scheme with its own extension keeps it",
     "[latin.map]\n72=584\n[latin.map.cpi]\n72=1\n",
     0,
     "latin.map",
     {{72, 584}}},
    {"DEC kinds read .cpi sections", "[dec.cpi]\n97=810\n", 2, "dec", {{97, 810}, {98, -1}}},
    {"Unicode entries are signed decimal",
     "[u.uni]\n233=700\n -5=3\n70000=1\n 66= -1\n0x41=9\n",
     8,
     "u",
     {{233, 700}, {66, 0xFFFF}, {0, 9}, {65, 0}}},
    {"a Unicode scheme with its own extension",
     "[French.unicode]\n224=124\n",
     8,
     "French.unicode",
     {{224, 124}}},
};

TEST(TcsLoad, EntriesAndSections) {
  for (const LoadCase& c : kLoadCases) {
    SCOPED_TRACE(c.what);
    Table t = load(c.kind, write_codepage(c.file), c.scheme);
    ASSERT_NE(t, nullptr);
    for (const Expect& e : c.expect) EXPECT_EQ(element(c.kind, t, e.index), e.value) << "element " << e.index;
  }
  // Blanks before the key and after the '='.
  Table t = load(0, write_codepage("[cp.cpi]\n  67=  579\n\t68=\t580\n"), "cp");
  EXPECT_EQ(cpi(t)[67], 579);
  EXPECT_EQ(cpi(t)[68], 580);
}

TEST(TcsLoad, FontGlyphs) {
  Table t = load(TCS_TBL_FONT, write_codepage("[f.unf]\n41=00 11-22:ff\n1ff=01\nzz=02\n"), "f");
  const auto* glyphs = static_cast<const uint8_t*>(t.get());
  EXPECT_EQ(glyphs[0x41 * 32 + 0], 0x00);
  EXPECT_EQ(glyphs[0x41 * 32 + 1], 0x11);
  EXPECT_EQ(glyphs[0x41 * 32 + 2], 0x22);
  EXPECT_EQ(glyphs[0x41 * 32 + 3], 0xFF);
  EXPECT_EQ(glyphs[0x41 * 32 + 4], 0x00);
  for (size_t i = 0; i < TCS_FONT_BYTES; i++) {
    if (i / 32 != 0x41) {
      ASSERT_EQ(glyphs[i], 0) << i;  // 0x1ff is out of range, "zz" is no number
    }
  }
}

TEST(TcsLoad, MissingFileEmptyNameAndUnknownKind) {
  Table missing = load(TCS_TBL_TCSTOCP, testing::TempDir() + "no_such_codepage.dat", "cp");
  Table empty = load(TCS_TBL_TCSTOCP, "", "cp");
  Table null_file(TCSLoadTbl(TCS_TBL_TCSTOCP, nullptr, "cp"));
  for (const Table* t : {&missing, &empty, &null_file}) {
    ASSERT_NE(*t, nullptr);
    EXPECT_EQ(memcmp(t->get(), TCSDefaultTCStoCP.data(), TCS_TCSTOCP_SIZE), 0);
  }
  Table unicode = load(TCS_TBL_UNICODE, "", "Unicode2TCS");
  for (size_t i = 0; i < TCS_UNICODE_SIZE; i++) ASSERT_EQ(uni(unicode)[i], 0);
  EXPECT_EQ(TCSLoadTbl(5, "", "cp"), nullptr);
  EXPECT_EQ(TCSTblSize(5), 0u);
  EXPECT_EQ(TCSTblSize(TCS_TBL_UNICODE), 65536u * 2);
}

TEST(TcsLoad, FileNameWithoutExtensionGetsDat) {
  std::string name = write_codepage("[cp.cpi]\n65=600\n");
  std::string stem = name.substr(0, name.size() - 4);
  Table t = load(0, stem, "cp");
  EXPECT_EQ(cpi(t)[65], 600);
}

TEST(TcsLoad, FileIsReadOncePerProcess) {
  std::string name = write_codepage("[cp.cpi]\n65=600\n");
  EXPECT_EQ(cpi(load(0, name, "cp"))[65], 600);
  FILE* f = fopen(name.c_str(), "wb");
  fputs("[cp.cpi]\n65=601\n", f);
  fclose(f);
  EXPECT_EQ(cpi(load(0, name, "cp"))[65], 600);
}

TEST(TcsLoad, OverlongLineIsCutNotSplit) {
  // The part after 254 characters must not be read as an entry of its own.
  std::string line = ";" + std::string(253, 'x') + "71=600";
  Table t = load(0, write_codepage("[cp.cpi]\n" + line + "\n65=577\n"), "cp");
  EXPECT_EQ(cpi(t)[65], 577);
  EXPECT_EQ(cpi(t)[71], -1);
}

TEST(TcsDefaults, DecTables) {
  struct Row {
    const std::array<TCS, 256>* table;
    int index;
    int value;
  };
  const Row rows[] = {
      // DEC special graphics: ASCII up to 0x5E, then the VT100's graphics.
      {&TCSDefaultVT200DSG, 0, 0},
      {&TCSDefaultVT200DSG, 31, 0},
      {&TCSDefaultVT200DSG, 32, 544},
      {&TCSDefaultVT200DSG, 47, 559},
      {&TCSDefaultVT200DSG, 48, 560},
      {&TCSDefaultVT200DSG, 49, 561},
      {&TCSDefaultVT200DSG, 64, 576},
      {&TCSDefaultVT200DSG, 65, 577},
      {&TCSDefaultVT200DSG, 80, 592},
      {&TCSDefaultVT200DSG, 94, 606},
      {&TCSDefaultVT200DSG, 95, 544},
      {&TCSDefaultVT200DSG, 96, 516},
      {&TCSDefaultVT200DSG, 97, 689},
      {&TCSDefaultVT200DSG, 106, 729},
      {&TCSDefaultVT200DSG, 111, 817},
      {&TCSDefaultVT200DSG, 112, 818},
      {&TCSDefaultVT200DSG, 113, 708},
      {&TCSDefaultVT200DSG, 124, 822},
      {&TCSDefaultVT200DSG, 127, 544},
      {&TCSDefaultVT200DSG, 128, 0},
      {&TCSDefaultVT200DSG, 255, 0},
      // DEC multinational.
      {&TCSDefaultVT200DMN, 31, 0},
      {&TCSDefaultVT200DMN, 32, 544},
      {&TCSDefaultVT200DMN, 33, 685},
      {&TCSDefaultVT200DMN, 40, 804},
      {&TCSDefaultVT200DMN, 56, 1098},
      {&TCSDefaultVT200DMN, 55, 762},  // the middle dot
      {&TCSDefaultVT200DMN, 63, 680},
      {&TCSDefaultVT200DMN, 64, 768},
      {&TCSDefaultVT200DMN, 87, 805},
      {&TCSDefaultVT200DMN, 95, 737},
      {&TCSDefaultVT200DMN, 96, 645},
      {&TCSDefaultVT200DMN, 120, 834},
      {&TCSDefaultVT200DMN, 125, 664},
      {&TCSDefaultVT200DMN, 127, 544},
      {&TCSDefaultVT200DMN, 128, 0},
      // VT100 special graphics: nothing below 95.
      {&TCSDefaultVT100SG, 32, 0},
      {&TCSDefaultVT100SG, 65, 0},
      {&TCSDefaultVT100SG, 94, 0},
      {&TCSDefaultVT100SG, 95, 544},
      {&TCSDefaultVT100SG, 96, 516},
      {&TCSDefaultVT100SG, 97, 689},
      {&TCSDefaultVT100SG, 112, 818},
      {&TCSDefaultVT100SG, 124, 822},
      {&TCSDefaultVT100SG, 126, 762},  // the middle dot
      {&TCSDefaultVT100SG, 127, 544},
  };
  for (const Row& r : rows) EXPECT_EQ((*r.table)[r.index], r.value) << "element " << r.index;

  // The three load as their kind's default.
  EXPECT_EQ(memcmp(load(TCS_TBL_VT200DSG, "", "x").get(), TCSDefaultVT200DSG.data(), 512), 0);
  EXPECT_EQ(memcmp(load(TCS_TBL_VT200DMN, "", "x").get(), TCSDefaultVT200DMN.data(), 512), 0);
  EXPECT_EQ(memcmp(load(TCS_TBL_VT100SG, "", "x").get(), TCSDefaultVT100SG.data(), 512), 0);
}

TEST(TcsDefaults, HostTables) {
  for (int i = 0; i < 256; i++) EXPECT_EQ(TCSDefaultCPtoTCS[i], i == 21 ? 757 : 512 + i) << i;
  for (int i = 0; i < 608; i++) EXPECT_EQ(TCSDefaultTCStoCP[i], i == 21 ? 245 : i < 256 ? i : 0) << i;
}

}  // namespace
