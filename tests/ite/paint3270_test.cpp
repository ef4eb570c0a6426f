// Painting the 3270 screen into the window: field colours by kind,
// extended field and character attributes, graphic escapes, field flags,
// the caret and the browser range; the screen hash.
#include <gtest/gtest.h>

#include "t3270.h"

namespace {

const std::vector<uint8_t> kEW = {0xF5, 0xC3};
const std::vector<uint8_t> kW = {0xF1, 0xC2};
std::vector<uint8_t> SBA(int a) {
  return cat({{0x11}, addr12(a)});
}

TEST(Paint3270, FieldKindsGiveTheirColoursAndAttributeBits) {
  T3270 s;
  s.host(cat({kEW, {0x1D, 0xE8}, ebc("PH"), {0x1D, 0x60}, ebc("P"), {0x1D, 0xC8}, ebc("UH"), {0x1D, 0x40},
              ebc("U")}));
  struct Case {
    int col, kind, attr, flags;
  } cases[] = {
      {1, TNF_PROTHIGH, FWS_A_BOLD, FWS_CF_PROTECTED},
      {4, TNF_PROTUNHIGH, 0, FWS_CF_PROTECTED},
      {6, TNF_UNPROTHIGH, FWS_A_BOLD, 0},
      {9, TNF_UNPROTUNHIGH, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(s.wfg(0, c.col), GetFGColor(s.t, c.kind)) << c.col;
    EXPECT_EQ(s.wattr(0, c.col), c.attr) << c.col;
    EXPECT_EQ(s.wflags(0, c.col), c.flags) << c.col;
    EXPECT_EQ(get_field_type(s.t, c.col), c.kind) << c.col;
  }
  EXPECT_EQ(GetFGColor(s.t, TNF_PROTHIGH), 0xFFFFFFFFu);    // white
  EXPECT_EQ(GetFGColor(s.t, TNF_UNPROTUNHIGH), 0xFF00FFFFu);  // yellow
  EXPECT_EQ(s.wflags(0, 0), FWS_CF_FIELDATTR | FWS_CF_PROTECTED);
  EXPECT_EQ(s.row(0).substr(0, 10), " PH P UH U");
}

TEST(Paint3270, ExtendedAndCharacterAttributes) {
  T3270 s;
  s.t->underlineFields = true;
  s.host(cat({kEW, {0x29, 0x02, 0x42, 0xF2, 0x45, 0xF1}, ebc("RED"), {0x28, 0x42, 0xF6, 0x28, 0x41, 0xF2},
              ebc("Y"), {0x28, 0x00, 0x00}, ebc("Z")}));
  EXPECT_EQ(s.wfg(0, 1), GetFGColor(s.t, TNF_RED));
  COLORREF bg[FWS_MAXCOLS];
  fws_rowcolors(s.t, 23, nullptr, bg, FWS_MAXCOLS);
  EXPECT_EQ(bg[1], GetFGColor(s.t, TNF_BLUE));
  EXPECT_EQ(s.wattr(0, 1), FWS_A_UNDERLINE);  // unprotected, underlined fields on
  EXPECT_EQ(s.wfg(0, 4), GetFGColor(s.t, TNF_YELLOW));
  EXPECT_EQ(s.wattr(0, 4), FWS_A_UNDERLINE | FWS_A_REVERSE);
  EXPECT_EQ(s.wfg(0, 5), GetFGColor(s.t, TNF_RED));
  EXPECT_EQ(get_field_type(s.t, 1), TNF_UNPROTUNHIGH);  // the field kind stays
}

TEST(Paint3270, GraphicEscapeShowsItsGraphicNeverAControl) {
  T3270 s;
  // Box corners, lines, and GE codes that are controls in the text set.
  s.host(cat({kEW, {0x08, 0xC5, 0x08, 0xA2, 0x08, 0xD5, 0x08, 0x85, 0x08, 0x25, 0x08, 0x0D, 0x08, 0x15}, ebc("X")}));
  EXPECT_EQ(fws_charat(s.t, 23, 0), 0x250C);
  EXPECT_EQ(fws_charat(s.t, 23, 1), 0x2500);
  EXPECT_EQ(fws_charat(s.t, 23, 2), 0x2510);
  EXPECT_EQ(fws_charat(s.t, 23, 3), 0x2502);
  for (int c = 4; c <= 6; c++) EXPECT_GE(fws_charat(s.t, 23, c), 0x20) << c;
  EXPECT_EQ(fws_charat(s.t, 23, 7), 'X');  // nothing moved or ended the row
  EXPECT_EQ(s.wattr(0, 0) & FWS_A_GRAPHIC, FWS_A_GRAPHIC);
  char buf[8];
  fws_readwin(s.t, 23, 0, 4, buf);
  EXPECT_STREQ(buf, "+-+|");
}

TEST(Paint3270, ShowattrMarksAttributePositions) {
  T3270 s;
  s.t->showattr = 1;
  s.host(cat({kEW, {0x1D, 0x60, 0x1D, 0xE8, 0x1D, 0x40, 0x1D, 0xC8}}));
  EXPECT_EQ(s.row(0).substr(0, 4), "pPuU");
}

TEST(Paint3270, OnlyChangedRowsWidenTheBrowserRange) {
  T3270 s;
  s.host(cat({kEW, ebc("top")}));
  s.t->lowestUpdate = s.t->highestUpdate = -1;
  s.host(cat({kW, SBA(85), ebc("a"), SBA(170), ebc("b")}));
  EXPECT_EQ(s.t->lowestUpdate, 80);
  EXPECT_EQ(s.t->highestUpdate, 239);
  s.t->lowestUpdate = s.t->highestUpdate = -1;
  s.host(cat({kW, SBA(85), ebc("a")}));  // the same again: nothing to send
  EXPECT_EQ(s.t->lowestUpdate, -1);
  s.key(FCN_CURSOR, 500);
  EXPECT_EQ(s.t->caret.x, 500 % 80);
  EXPECT_EQ(s.t->caret.y, 23 - 500 / 80);
}

TEST(Paint3270, ColourChangesReachEveryCellOfTheWindow) {
  T3270 s;
  // Protected text shares its colour with the default text: the window keeps
  // it without a colour run until the default colour moves away from it.
  s.host(cat({kEW, {0x1D, 0x60}, ebc("P"), {0x1D, 0x40}, ebc("U")}));
  ASSERT_EQ(GetFGColor(s.t, TNF_PROTUNHIGH), GetFGColor(s.t, TNF_DEFAULT));
  const int kinds[] = {TNF_DEFAULT, TNF_PROTUNHIGH, TNF_UNPROTUNHIGH};
  const COLORREF colours[] = {0xFF0000FF, 0xFF123456, 0xFFFFFF00};
  for (int k : kinds) {
    for (COLORREF c : colours) {
      SetFGColor(s.t, k, c);
      RefreshScreen(s.t);
      EXPECT_EQ(s.wfg(0, 1), GetFGColor(s.t, TNF_PROTUNHIGH)) << k << " " << c;
      EXPECT_EQ(s.wfg(0, 3), GetFGColor(s.t, TNF_UNPROTUNHIGH)) << k << " " << c;
    }
  }
  SetBGColor(s.t, TNF_DEFAULT, 0xFF202020);
  RefreshScreen(s.t);
  COLORREF bg[FWS_MAXCOLS];
  fws_rowcolors(s.t, 23, nullptr, bg, FWS_MAXCOLS);
  EXPECT_EQ(bg[1], GetBGColor(s.t, TNF_PROTUNHIGH));  // field backgrounds keep their kind's colour
  EXPECT_EQ(bg[3], GetBGColor(s.t, TNF_UNPROTUNHIGH));
  EXPECT_NE(bg[1], 0xFF202020u);
}

TEST(Paint3270, SizeChangesRepaintEverything) {
  T3270 s(3);
  s.host(cat({{0x7E, 0xC2}, SBA(3000), ebc("low")}));
  s.t->lowestUpdate = s.t->highestUpdate = -1;
  s.host(cat({kEW, ebc("small")}));
  EXPECT_EQ(s.t->wndsize.y, 24);
  EXPECT_EQ(s.row(0).substr(0, 5), "small");
  EXPECT_EQ(s.t->lowestUpdate, 0);
  EXPECT_GE(s.t->highestUpdate, 1919);
}

TEST(Paint3270, ScreenHashFollowsTheFieldLayoutNotTheText) {
  T3270 a, b;
  a.host(cat({kEW, {0x1D, 0x60}, ebc("one"), SBA(100), {0x1D, 0x40}, ebc("text")}));
  b.host(cat({kEW, {0x1D, 0x60}, ebc("two"), SBA(100), {0x1D, 0x40}, ebc("other")}));
  std::string h = ScreenHash(a.t);
  EXPECT_EQ(h.size(), 32u);
  EXPECT_EQ(h, ScreenHash(b.t));
  b.host(cat({kEW, {0x1D, 0x60}, ebc("two"), SBA(101), {0x1D, 0x40}}));
  EXPECT_NE(h, ScreenHash(b.t));
  EXPECT_EQ(ScreenHash(nullptr), "");
  T3270 empty;
  EXPECT_EQ(ScreenHash(empty.t), "d41d8cd98f00b204e9800998ecf8427e");  // nothing hashed
}

TEST(Paint3270, LocalesShowTheirCodePage) {
  struct Case {
    int locale;
    uint8_t ebcdic;
    uint16_t shown;
  } cases[] = {{0, 0x5B, '$'}, {7, 0x5B, 0xA3}, {3, 0x4A, 0xC4}, {2, 0x7B, 0xA3}, {0, 0xC1, 'A'}};
  for (const Case& c : cases) {
    EXPECT_EQ(te3270_ebcdic_to_unicode(c.locale, c.ebcdic), c.shown) << c.locale;
    EXPECT_EQ(te3270_unicode_to_ebcdic(c.locale, c.shown), c.ebcdic) << c.locale;
  }
  EXPECT_EQ(te3270_unicode_to_ebcdic(0, 0xE9), 0x51);  // é
  EXPECT_EQ(te3270_unicode_to_ebcdic(0, 0x201C), 0x7F);  // a curly quote types as "
  EXPECT_EQ(te3270_unicode_to_ebcdic(0, 0x4E00), -1);
}

}  // namespace
