// Screen editing operations: line feed and wrap, regions with and without
// left/right margins, insert/delete around protected cells, the erase
// family with its selective rule, clear into the scrollback.
#include <gtest/gtest.h>

#include <string>

#include "term.h"

namespace {

Term::Options small(int rows, int cols) {
  Term::Options o;
  o.rows = rows;
  o.cols = cols;
  return o;
}

// Fills every row with a distinct letter pattern: row y is "y0y1y2...".
void fillRows(Term& term) {
  te* t = term.t;
  for (int y = 0; y < t->vlines; y++)
    for (int x = 0; x < t->vcols; x++) set_vscreen(t, x, y, t->_vcurattr | (CHATTR)('A' + y));
}

void region(te* t, int top, int bottom, int left, int right) {
  t->_vscregion = 1;
  t->_vscregtop = top;
  t->_vscregbot = bottom;
  t->_vscregleft = left;
  t->_vscregright = right;
}

TEST(LineFeed, AtTheBottomScrollsIntoTheScrollbackOrWrapsToTheTop) {
  struct Case {
    bool noscroll;
    std::string screen;
    int row, saved;
  } cases[] = {
      {false, "BBBB\nCCCC\n", 2, 1},
      {true, "AAAA\nBBBB\nCCCC\n", 0, 0},
  };
  for (const Case& c : cases) {
    Term term(small(3, 4));
    te* t = term.t;
    fillRows(term);
    t->_vnoscroll = c.noscroll;
    cpos(t, 2, 1);
    vscreen_invalidate(t);
    newline(t);
    EXPECT_EQ(term.screen(), c.screen) << c.noscroll;
    EXPECT_EQ(t->vdestline, c.row);
    EXPECT_EQ(t->vdestcol, 1);
    EXPECT_EQ(t->_sb->sblastline, c.saved);
    if (c.saved) {
      EXPECT_EQ(vid_rowtext(t, sb_row(t, 1), 4), "AAAA");
      const VREGION& r = t->vscreen_region;  // every row moved
      EXPECT_EQ(r.top, 0);
      EXPECT_EQ(r.bottom, 2);
    }
  }
}

TEST(LineFeed, RegionScrollsOnlyItsRowsAndColumns) {
  struct Case {
    const char* name;
    int top, bottom, left, right, row;
    std::string screen;
  } cases[] = {
      // Full width: rows 1..3 move up, row 3 becomes blank.
      {"rows", 1, 3, 0, 5, 3, "AAAAAA\nCCCCCC\nDDDDDD\n\nEEEEEE\n"},
      // Margins 2..4: only those columns move.
      {"margins", 1, 3, 2, 4, 3, "AAAAAA\nBBCCCB\nCCDDDC\nDD   D\nEEEEEE\n"},
      // Cursor below the region on the last row: nothing moves.
      {"below", 1, 3, 0, 5, 4, "AAAAAA\nBBBBBB\nCCCCCC\nDDDDDD\nEEEEEE\n"},
  };
  for (const Case& c : cases) {
    Term term(small(5, 6));
    te* t = term.t;
    fillRows(term);
    region(t, c.top, c.bottom, c.left, c.right);
    t->vdestline = c.row;
    t->vdestcol = 2;
    vscreen_invalidate(t);
    newline(t);
    EXPECT_EQ(term.screen(), c.screen) << c.name;
    EXPECT_EQ(t->vdestline, c.row) << c.name;
    EXPECT_EQ(t->vdestcol, 2) << c.name;
    EXPECT_EQ(t->_sb->sblastline, 0) << c.name;
    const VREGION& r = t->vscreen_region;
    if (c.row == c.bottom) {
      EXPECT_EQ(r.top, c.top) << c.name;
      EXPECT_EQ(r.bottom, c.bottom) << c.name;
      EXPECT_EQ(r.left, c.left) << c.name;
      EXPECT_EQ(r.right, c.right) << c.name;
    } else {
      EXPECT_EQ(r.top, -1) << c.name;
    }
  }
}

TEST(Scroll, RowOperationsMovePointersNotCells) {
  Term term(small(4, 5));
  te* t = term.t;
  fillRows(term);
  CHATTR* rowA = t->_vscreen[0];
  CHATTR* rowB = t->_vscreen[1];
  vuscroll(t, 0, 1);
  EXPECT_EQ(t->_vscreen[0], rowB);
  EXPECT_EQ(t->_vscreen[3], rowA);  // the top row is recycled as the new bottom
  EXPECT_EQ(term.screen(), "BBBBB\nCCCCC\nDDDDD\n");
  vdscroll(t, 1);
  EXPECT_EQ(t->_vscreen[1], rowA);
  EXPECT_EQ(term.screen(), "BBBBB\n\nCCCCC\nDDDDD\n");
  viline(t, 0);
  EXPECT_EQ(term.screen(), "\nBBBBB\n\nCCCCC\n");
  vdline(t, 1);
  EXPECT_EQ(term.screen(), "\n\nCCCCC\n");
  EXPECT_EQ(t->vdestline, 1);
  EXPECT_EQ(t->vdestcol, 0);
}

// Row 0 of a 1x8 screen from a pattern: 'P' marks a protected cell.
void row0(Term& term, const std::string& pattern) {
  te* t = term.t;
  for (size_t i = 0; i < pattern.size(); i++) {
    CHATTR a = t->_vcurattr;
    char c = pattern[i];
    if (c == 'P') a |= CA_PROT;
    set_vscreen(t, (int)i, 0, a | (unsigned char)c);
  }
}

TEST(InsertDelete, ProtectedNeighbourRingsTheBellAndChangesNothing) {
  struct Case {
    const char* name;
    bool insert;
    int count;
    int col;
    bool protect;
    std::string after;
    int bells;
  } cases[] = {
      {"insert, protected right of cursor", true, 1, 2, true, "abcPefgh", 1},
      {"delete, protected right of cursor", false, 1, 2, true, "abcPefgh", 1},
      {"insert stops before protected", true, 1, 0, true, "xabPefgh", 0},
      {"delete stops before protected", false, 2, 0, true, "c  Pefgh", 0},
      {"insert without protect mode", true, 1, 2, false, "abxcPefg", 0},
      {"delete three from B", false, 3, 1, false, "aefgh   ", 0},
  };
  for (const Case& c : cases) {
    Term term(small(1, 8));
    te* t = term.t;
    row0(term, c.name[0] == 'd' && c.count == 3 ? "abcdefgh" : "abcPefgh");
    t->_protect = c.protect;
    t->vdestline = 0;
    t->vdestcol = c.col;
    vscreen_invalidate(t);
    if (c.insert)
      vinsert(t, 'x', 0);
    else
      vdelete(t, c.count);
    std::string got;
    for (int x = 0; x < 8; x++) got += (char)(term.cell(x, 0) & CA_CHAR);
    EXPECT_EQ(got, c.after) << c.name;
    EXPECT_EQ(term.bells, c.bells) << c.name;
    if (c.bells) {
      EXPECT_EQ(t->vscreen_region.top, -1) << c.name;
    }
    EXPECT_EQ(t->vdestcol, c.col) << c.name;
  }
}

TEST(InsertDelete, DeletedCellsTakeTheCurrentAttribute) {
  Term term(small(1, 6));
  te* t = term.t;
  row0(term, "ABCDEF");
  EmSetAttr(t, EmGetColorBits(t, CA_REV));
  t->vdestcol = 1;
  vdelete(t, 3);
  EXPECT_EQ(term.row(0), "AEF");
  for (int x = 3; x < 6; x++) EXPECT_EQ(term.cell(x, 0), t->_vcurattr | CA_BLANK);
}

TEST(InsertDelete, TypingInInsertModeKeepsUnicodeCharacters) {
  Term term(small(1, 6));
  te* t = term.t;
  term.feed("abc\r");
  t->_vinsmode = 1;
  term.feed("\xc3\xa9");  // é
  EXPECT_EQ(term.row(0),
            "\xc3\xa9"
            "abc");
  EXPECT_EQ(t->vdestcol, 1);
}

TEST(Erase, SelectiveEraseKeepsProtectedCellsAndEachAttribute) {
  Term term(small(1, 6));
  te* t = term.t;
  CHATTR plain = t->_vcurattr, bold = EmGetColorBits(t, CA_BOLD);
  CHATTR cells[6] = {plain | 'a', bold | 'b', plain | CA_SELPROT | 'c', bold | 'd', plain | CA_SELPROT | 'e',
                     bold | 'f'};
  for (int x = 0; x < 6; x++) set_vscreen(t, x, 0, cells[x]);
  t->erasemode = 1;
  _vclreol(t, 0, 0, 1);
  t->erasemode = 0;
  EXPECT_EQ(term.cell(0, 0), plain | ' ');
  EXPECT_EQ(term.cell(1, 0), bold | ' ');
  EXPECT_EQ(term.cell(2, 0), cells[2]);
  EXPECT_EQ(term.cell(3, 0), bold | ' ');
  EXPECT_EQ(term.cell(4, 0), cells[4]);
  EXPECT_EQ(term.cell(5, 0), bold | ' ');
}

TEST(Erase, LineAttributeAndRangeRules) {
  struct Case {
    const char* name;
    int op;  // 0 erase to end, 1 erase from start, 2 erase characters
    int col;
    bool protect;
    std::string after;
    int lattr;
  } cases[] = {
      {"eol from 0 resets double width", 0, 0, false, "", 0},
      {"eol from 5 keeps it", 0, 5, false, "abcde", LA_DOUBLEW},
      {"bol at column 0 erases exactly one cell", 1, 0, false, " bcdefgh", LA_DOUBLEW},
      {"bol ignores protect mode", 1, 3, true, "    efgh", LA_DOUBLEW},
      {"ech skips protected cells in protect mode", 2, 1, true, "a  Pefgh", LA_DOUBLEW},
      {"ech stops at the usable width", 2, 6, false, "abcdef", LA_DOUBLEW},
  };
  for (const Case& c : cases) {
    Term term(small(1, 16));
    te* t = term.t;
    row0(term, c.op == 2 && c.protect ? "abcPefgh" : "abcdefgh");
    if (c.op == 1 && c.protect) {
      CHATTR p = term.cell(2, 0) | CA_PROT;
      set_vscreen(t, 2, 0, p);
    }
    t->vlattr[0] = LA_DOUBLEW;  // 8 usable columns
    t->_protect = c.protect;
    if (c.op == 0) vclreol(t, 0, c.col);
    if (c.op == 1) vclrbol(t, 0, c.col);
    if (c.op == 2) verasech(t, 0, c.col, 2 + (c.col == 6 ? 98 : 0));
    EXPECT_EQ(term.row(0), c.after) << c.name;
    EXPECT_EQ(t->vlattr[0] & LA_WIDTH, c.lattr) << c.name;
    EXPECT_EQ(t->vdestcol, c.col) << c.name;
  }
}

TEST(Erase, ClearAndEraseToEndCopyTheScreenToTheScrollbackWhenAsked) {
  for (int op = 0; op < 2; op++) {
    Term term(small(3, 4));
    te* t = term.t;
    fillRows(term);
    t->_cleartosb = 1;
    if (op == 0)
      vclear(t);
    else
      vclreos(t, 1, 2);
    EXPECT_EQ(t->_sb->sblastline, 3) << op;
    EXPECT_EQ(vid_rowtext(t, sb_row(t, 3), 4), "AAAA") << op;
    EXPECT_EQ(vid_rowtext(t, sb_row(t, 1), 4), "CCCC") << op;
    EXPECT_EQ(term.screen(), op == 0 ? "" : "AAAA\nBB\n") << op;
  }
  Term term(small(3, 4));
  fillRows(term);
  vclear(term.t);  // without the flag nothing is saved
  EXPECT_EQ(term.t->_sb->sblastline, 0);
  EXPECT_EQ(term.t->vdestline, 0);
}

TEST(Cursor, AbsoluteMovesClampAndHonourTheOrigin) {
  Term term(small(10, 20));
  te* t = term.t;
  struct Case {
    int y, x, wantY, wantX;
  } plain[] = {{3, 4, 3, 4}, {50, 50, 9, 19}, {-3, -3, 0, 0}};
  for (const Case& c : plain) {
    t->XNwrap = 1;
    cpos(t, c.y, c.x);
    EXPECT_EQ(t->vdestline, c.wantY);
    EXPECT_EQ(t->vdestcol, c.wantX);
    EXPECT_EQ(t->XNwrap, 0);
  }
  region(t, 2, 6, 3, 12);
  t->_vorigin = 2;
  t->_horigin = 3;
  Case origin[] = {{0, 0, 2, 3}, {1, 1, 3, 4}, {20, 20, 6, 12}};
  for (const Case& c : origin) {
    cpos(t, c.y, c.x);
    EXPECT_EQ(t->vdestline, c.wantY);
    EXPECT_EQ(t->vdestcol, c.wantX);
  }
}

TEST(Cursor, CharactersAdvanceWithDeferredOrImmediateWrap) {
  // "mac" wraps late (pending wrap), ANSI wraps at once.
  Term late(small(3, 4));
  late.feed("abcd");
  EXPECT_EQ(late.t->vdestline, 0);
  EXPECT_EQ(late.t->vdestcol, 3);
  EXPECT_EQ(late.t->XNwrap, 1);
  late.feed("e");
  EXPECT_EQ(late.screen(), "abcd\ne\n");
  EXPECT_EQ(late.t->vlattr[0], LA_WRAPPED);

  Term::Options o = small(3, 4);
  o.emode = 7;
  Term early(o);
  early.feed("abcd");
  EXPECT_EQ(early.t->vdestline, 1);
  EXPECT_EQ(early.t->vdestcol, 0);
  EXPECT_EQ(early.t->vlattr[0], LA_WRAPPED);

  Term nowrap(small(3, 4));
  nowrap.t->_AMon = 0;
  nowrap.feed("abcdef");
  EXPECT_EQ(nowrap.screen(), "abcf\n");
  EXPECT_EQ(nowrap.t->XNwrap, 0);
}

TEST(Redraw, ChangesNeitherCellsNorTheRectangle) {
  Term term(small(3, 4));
  fillRows(term);
  vscreen_invalidate(term.t);
  vredraw(term.t);
  EXPECT_EQ(term.t->vscreen_region.top, -1);
  EXPECT_EQ(term.screen(), "AAAA\nBBBB\nCCCC\n");
  testdisp(term.t, 'E');
  EXPECT_EQ(term.screen(), "EEEE\nEEEE\nEEEE\n");
}

}  // namespace
