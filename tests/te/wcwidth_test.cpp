// Character widths: the committed table is what scripts/gen_wcwidth.py
// writes from the machine's Unicode data, every width agrees with the C
// library's wcwidth (which bash and less count columns with) wherever the
// library knows the character, and zero-width marks join the character
// before them on the screen.
#include "em/wcwidth.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <sstream>
#include <string>

#include "term.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(CharacterWidths, CommittedTableMatchesTheGenerator) {
  char dir[] = "/tmp/kvx_wcwidth_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string source = KVX_SOURCE_DIR;
  std::string cmd = "python3 '" + source + "/scripts/gen_wcwidth.py' --out-dir '" + dir + "'";
  ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
  const std::string rel = "src/lib/te/em/wcwidth_tab.h";
  std::string fresh = read_file(std::string(dir) + "/" + rel);
  EXPECT_FALSE(fresh.empty());
  EXPECT_TRUE(fresh == read_file(source + "/" + rel))
      << rel << " differs from what scripts/gen_wcwidth.py writes; run it and commit the result";
  std::string rm = std::string("rm -rf '") + dir + "'";
  EXPECT_EQ(system(rm.c_str()), 0);
}

TEST(CharacterWidths, AgreeWithTheCLibrary) {
  const char* old = std::setlocale(LC_CTYPE, nullptr);
  std::string saved = old ? old : "C";
  if (!std::setlocale(LC_CTYPE, "C.UTF-8")) GTEST_SKIP() << "no C.UTF-8 locale";
  int checked = 0, differ = 0;
  std::string examples;
  for (uint32_t cp = 0; cp <= 0x10FFFF; cp++) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    int libc = ::wcwidth(static_cast<wchar_t>(cp));
    if (libc < 0) continue;  // a character the library does not know
    checked++;
    if (mk_wcwidth(cp) != libc) {
      if (differ++ < 20) {
        char b[48];
        std::snprintf(b, sizeof b, " U+%04X (%d, C library %d)", cp, mk_wcwidth(cp), libc);
        examples += b;
      }
    }
  }
  std::setlocale(LC_CTYPE, saved.c_str());
  EXPECT_GT(checked, 100000);
  EXPECT_EQ(differ, 0) << "widths that differ from the C library's:" << examples;
}

TEST(CharacterWidths, AnchorsAndControls) {
  struct Case {
    uint32_t cp;
    int width;
  } cases[] = {
      {0, 0},       {'A', 1},    {0x7F, -1},   {0x9B, -1},   {0x00AD, 1},  {0x0301, 0},
      {0x0487, 0},  {0x1AB0, 0}, {0x200B, 0},  {0x200D, 0},  {0xFE0F, 0},  {0xFEFF, 0},
      {0x1160, 0},  {0xD7B0, 0}, {0x0600, 1},  {0x1100, 2},  {0x4E2D, 2},  {0x303F, 1},
      {0xAC00, 2},  {0xFF01, 2}, {0xFF61, 1},  {0x2329, 2},  {0x1F600, 2}, {0x1F680, 2},
      {0x1F1E6, 1}, {0x2764, 1}, {0x20000, 2}, {0x30000, 2}, {0x2FFFE, 1}, {0x4DC0, 2},
  };
  for (const Case& c : cases) EXPECT_EQ(mk_wcwidth(c.cp), c.width) << std::hex << c.cp;
}

TEST(CharacterWidths, MarksComposeWithTheCharacterBefore) {
  struct Case {
    uint32_t base, mark, composed;
  } cases[] = {
      {'e', 0x0301, 0x00E9},     // é
      {'A', 0x030A, 0x00C5},     // Å
      {0x00C5, 0x0301, 0x01FA},  // Ǻ: a composed base composes further
      {0x1100, 0x1161, 0xAC00},  // Hangul initial and vowel: 가
      {0xAC00, 0x11A8, 0xAC01},  // and a final: 각
      {'x', 0x0301, 0},          // no such character
      {0x0915, 0x093C, 0},       // excluded from composition
  };
  for (const Case& c : cases) EXPECT_EQ(wc_compose(c.base, c.mark), c.composed) << std::hex << c.base;
}

// On the screen: a mark takes no cell, composes where it can, and is not
// kept where it cannot; emoji and wide characters take two cells, so a
// prompt with an emoji leaves the cursor where the shell counts it.
TEST(CharacterWidths, ScreenFollowsTheWidths) {
  struct Case {
    const char* name;
    std::string input;
    std::string row;
    int x;
  } cases[] = {
      {"decomposed accent", "cafe\xcc\x81!", "caf\xc3\xa9!", 5},
      {"mark with nothing to compose", "x\xcc\x81y", "xy", 2},
      {"mark at the start of a row", "\xcc\x81z", "z", 1},
      {"emoji prompt", "\xf0\x9f\x98\x80 $ ", "\xf0\x9f\x98\x80 $", 5},
      {"emoji with a variation selector", "\xe2\x9d\xa4\xef\xb8\x8f!", "\xe2\x9d\xa4!", 2},
      {"joined emoji take their own cells", "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9.",
       "\xf0\x9f\x91\xa8\xf0\x9f\x91\xa9.", 5},
      {"Hangul jamo compose", "\xe1\x84\x80\xe1\x85\xa1\xe1\x86\xa8.", "\xea\xb0\x81.", 3},
      {"CJK extension G is wide", "\xf0\xb0\x80\x80x", "\xf0\xb0\x80\x80x", 3},
  };
  for (const Case& c : cases) {
    for (bool bytewise : {false, true}) {
      Term term(35, 24, 80);
      if (bytewise)
        term.feedBytewise(c.input);
      else
        term.feed(c.input);
      EXPECT_EQ(term.row(0), c.row) << c.name << (bytewise ? " (bytewise)" : "");
      EXPECT_EQ(term.t->vdestcol, c.x) << c.name << (bytewise ? " (bytewise)" : "");
    }
  }
  // A mark after a character written in the last column (wrap pending)
  // joins that character and does not wrap.
  Term term(35, 24, 10);
  term.feed("123456789e\xcc\x81");
  EXPECT_EQ(term.row(0), "123456789\xc3\xa9");
  EXPECT_EQ(term.row(1), "");
  EXPECT_EQ(term.t->vdestline, 0);
}

}  // namespace
