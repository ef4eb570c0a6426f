// The screen model: cell access and the changed rectangle, pages,
// scrollback, resize with reflow, the status line and 132 columns.
#include <gtest/gtest.h>

#include <string>

#include "em/wcwidth.h"
#include "term.h"

namespace {

bool rectIs(te* t, int top, int left, int bottom, int right) {
  const VREGION& r = t->vscreen_region;
  return r.top == top && r.left == left && r.bottom == bottom && r.right == right;
}

TEST(ScreenCells, WritesOutsideTheEmulatedScreenAreDropped) {
  Term term(35, 24, 80);
  te* t = term.t;
  vidstatline(t, 0, 0);  // a status row below the emulated rows
  ASSERT_EQ(t->vstatus, 1);
  ASSERT_EQ(t->vlines, 24);
  ASSERT_EQ(t->Lines, 25);
  CHATTR statusBefore = get_vscreen(t, 3, 24);
  vscreen_invalidate(t);

  struct Case {
    int x, y;
  } cases[] = {{80, 0}, {3, 24}, {-1, 0}, {0, -1}, {200, 300}};
  for (const Case& c : cases) {
    set_vscreen(t, c.x, c.y, 'X' | t->_vcurattr);
    EXPECT_TRUE(rectIs(t, -1, -1, -1, -1)) << c.x << "," << c.y;
  }
  EXPECT_EQ(get_vscreen(t, 3, 24), statusBefore);
  EXPECT_EQ(get_vscreen(t, 80, 0), 0u);  // outside: reads as 0
}

TEST(ScreenCells, RectangleGrowsFromInvalidatedByEachWrite) {
  Term term;
  te* t = term.t;
  vscreen_invalidate(t);
  set_vscreen(t, 3, 5, 'a');
  EXPECT_TRUE(rectIs(t, 5, 3, 5, 3));
  set_vscreen(t, 10, 2, 'b');
  EXPECT_TRUE(rectIs(t, 2, 3, 5, 10));
  set_vscreen(t, 0, 7, 'c');
  EXPECT_TRUE(rectIs(t, 2, 0, 7, 10));
  EXPECT_EQ(get_vscreen(t, 10, 2), (CHATTR)'b');

  vscreen_invalidate(t);
  set_vscreen_ptr(t, 4, t->_vscreen[4]);  // a replaced row is a whole row
  EXPECT_TRUE(rectIs(t, 4, 0, 4, 79));
}

TEST(ScreenCells, RelativeAccessClampsToTheScreen) {
  Term term(35, 3, 4);
  te* t = term.t;
  set_vscreen_relative(t, 3, 0, 'z', 1);  // wraps to the next row
  EXPECT_EQ(get_vscreen(t, 0, 1), (CHATTR)'z');
  set_vscreen_relative(t, 0, 0, 'y', -100);
  EXPECT_EQ(get_vscreen(t, 0, 0), (CHATTR)'y');
  set_vscreen_relative(t, 0, 0, 'w', 1000);
  EXPECT_EQ(get_vscreen(t, 3, 2), (CHATTR)'w');
  EXPECT_EQ(get_vscreen_relative(t, 2, 2, 1), (CHATTR)'w');
}

TEST(ScreenPages, OutOfRangeOrMissingPagesChangeNothing) {
  Term::Options o;
  o.pages = 2;  // pages 0 and 1 only
  Term term(o);
  te* t = term.t;
  CHATTR* row0 = t->_vscreen[0];
  for (int n : {7, -1, 3, 6, 0}) {
    vscreen_invalidate(t);
    selpage(t, n, 1);
    EXPECT_EQ(t->_vcurpage, 0) << n;
    EXPECT_EQ(t->_vscreen[0], row0) << n;
    EXPECT_TRUE(rectIs(t, -1, -1, -1, -1)) << n;
  }
}

TEST(ScreenPages, SwitchingSwapsRowsCursorAndAttribute) {
  Term term;
  te* t = term.t;
  term.feed("main page");
  cpos(t, 3, 4);
  vscreen_invalidate(t);
  selpage(t, 1, 0);
  EXPECT_EQ(t->_vcurpage, 1);
  EXPECT_EQ(term.row(0), "");
  EXPECT_EQ(t->vdestline, 0);
  EXPECT_TRUE(rectIs(t, 0, 0, 23, 79));  // every row replaced
  term.feed("alternate");
  selpage(t, 0, 0);
  EXPECT_EQ(term.row(0), "main page");
  EXPECT_EQ(t->vdestline, 3);
  EXPECT_EQ(t->vdestcol, 4);
  selpage(t, 1, 0);
  EXPECT_EQ(term.row(0), "alternate");
}

TEST(ScreenPages, OnePageConfiguredCreatesNone) {
  Term::Options o;
  o.pages = 1;
  Term term(o);
  for (ALTSCREEN* p : term.t->_pages) EXPECT_EQ(p, nullptr);
  selpage(term.t, 1, 1);
  EXPECT_EQ(term.t->_vcurpage, 0);
}

TEST(Scrollback, NoRingMeansNothingIsSavedOrShown) {
  Term::Options o;
  o.scrollback = 0;
  o.rows = 3;
  Term term(o);
  te* t = term.t;
  ASSERT_EQ(t->_sb, nullptr);
  term.feed("1\r\n2\r\n3\r\n4");
  sbaddline(t, 0);
  sbdisplay(t, 2);
  EXPECT_EQ(term.screen(), "2\n3\n4\n");
  EXPECT_EQ(sb_row(t, 1), nullptr);
}

TEST(Scrollback, RingKeepsTheNewestRowsUpToItsCapacity) {
  Term::Options o;
  o.scrollback = 3;
  o.rows = 2;
  o.cols = 10;
  Term term(o);
  te* t = term.t;
  term.feed("a\r\nb\r\nc\r\nd\r\ne\r\nf");  // a..d leave the top
  ASSERT_EQ(t->_sb->sblastline, 3);
  EXPECT_EQ(vid_rowtext(t, sb_row(t, 1), 10), "d");
  EXPECT_EQ(vid_rowtext(t, sb_row(t, 3), 10), "b");
  EXPECT_EQ(sb_row(t, 4), nullptr);
}

TEST(Scrollback, ViewShowsSavedRowsAndReturnsToLive) {
  Term::Options o;
  o.scrollback = 10;
  o.rows = 3;
  o.cols = 10;
  Term term(o);
  te* t = term.t;
  term.feed("a\r\nb\r\nc\r\nd\r\ne");
  cpos(t, 2, 1);
  ASSERT_EQ(term.screen(), "c\nd\ne\n");
  sbdisplay(t, 2);  // two rows back: a b | c
  EXPECT_EQ(term.screen(), "a\nb\nc\n");
  sbdisplay(t, 99);  // clamped to the rows held
  EXPECT_EQ(t->_sb->sbcurline, 2);
  sbnext(t);
  EXPECT_EQ(term.screen(), "b\nc\nd\n");
  sbdisplay(t, 0);
  EXPECT_EQ(term.screen(), "c\nd\ne\n");
  EXPECT_EQ(t->vdestline, 2);
  EXPECT_EQ(t->vdestcol, 1);

  sbdisplay(t, 1);
  term.feed("X");  // host output returns to the live screen first
  EXPECT_EQ(t->_sb->sbcurline, 0);
  EXPECT_EQ(term.row(2), "eX");
}

TEST(Resize, ClampsToTheEngineLimits) {
  Term term;
  te* t = term.t;
  struct Case {
    int rows, cols, wantRows, wantCols;
  } cases[] = {{300, 200, 250, 132}, {0, 0, 1, 1}, {-5, 40, 1, 40}, {30, 100, 30, 100}};
  for (const Case& c : cases) {
    int before = term.sizeChanges;
    set_vscreen(t, t->vcols - 1, t->vlines - 1, 'x');  // a change at the old corner
    vsetsize(t, c.rows, c.cols, 0);
    EXPECT_TRUE(rectIs(t, 0, 0, c.wantRows - 1, c.wantCols - 1));
    EXPECT_EQ(t->vlines, c.wantRows);
    EXPECT_EQ(t->vcols, c.wantCols);
    EXPECT_EQ(t->Lines, c.wantRows);
    EXPECT_EQ(t->Cols, c.wantCols);
    EXPECT_EQ(term.sizeChanges, before + 1);
    EXPECT_LT(t->vdestline, t->vlines);
    EXPECT_LT(t->vdestcol, t->vcols);
  }
  int before = term.sizeChanges;
  vsetsize(t, 20, 50, 0);
  vsetsize(t, 20, 50, 0);  // same size without force: nothing
  EXPECT_EQ(term.sizeChanges, before + 1);
}

// A 100-character logical line, wrapped once at 80 columns, and a prompt
// below it with the cursor after "$ ".
void wrappedLine(Term& term) {
  std::string line;
  for (int i = 0; i < 100; i++) line += (char)('a' + i % 26);
  term.feed(line + "\r\n$ ");
}

TEST(Resize, ReflowsAWrappedLineMarkingTheRowsThatContinue) {
  const std::string alpha = "abcdefghijklmnopqrstuvwxyz";
  const std::string line = alpha + alpha + alpha + alpha.substr(0, 22);
  struct Case {
    int cols;
    std::vector<std::string> screen;  // 4 rows
    std::vector<int> marks;
    std::vector<std::string> saved;  // newest first
    int cursorRow;
  } cases[] = {
      {60, {line.substr(0, 60), line.substr(60), "$", ""}, {LA_WRAPPED, 0, 0, 0}, {}, 2},
      // The line takes a row more: the blank row below the prompt goes, not
      // the line's first row.
      {40, {line.substr(0, 40), line.substr(40, 40), line.substr(80), "$"}, {LA_WRAPPED, LA_WRAPPED, 0, 0}, {}, 3},
  };
  for (const Case& c : cases) {
    Term::Options o;
    o.rows = 4;
    o.scrollback = 10;
    Term term(o);
    te* t = term.t;
    wrappedLine(term);
    ASSERT_EQ(t->vlattr[0], LA_WRAPPED);
    ASSERT_EQ(t->vlattr[1], 0);
    vsetsize(t, 4, c.cols, 0);
    for (int y = 0; y < 4; y++) {
      EXPECT_EQ(term.row(y), c.screen[y]) << c.cols << " row " << y;
      EXPECT_EQ(t->vlattr[y], c.marks[y]) << c.cols << " row " << y;
    }
    ASSERT_EQ(t->_sb->sblastline, (int)c.saved.size()) << c.cols;
    for (size_t i = 0; i < c.saved.size(); i++) {
      EXPECT_EQ(vid_rowtext(t, sb_row(t, (int)i + 1), c.cols), c.saved[i]);
      EXPECT_EQ(t->_sb->sbvlattr[t->_sb->sbfirstline], LA_WRAPPED);
    }
    // The cursor stays after the prompt.
    EXPECT_EQ(t->vdestline, c.cursorRow);
    EXPECT_EQ(t->vdestcol, 2);
    // Back to 80 columns: one logical line again, nothing joined wrongly.
    vsetsize(t, 4, 80, 0);
    EXPECT_EQ(term.row(0), line.substr(0, 80)) << c.cols;
    EXPECT_EQ(term.row(1), line.substr(80)) << c.cols;
    EXPECT_EQ(term.row(2), "$") << c.cols;
    EXPECT_EQ(t->vlattr[0], LA_WRAPPED);
    EXPECT_EQ(t->vlattr[1], 0);
    EXPECT_EQ(t->_sb->sblastline, 0);
  }
}

// Rows of a reflowed screen and scrollback never hold half of a
// double-width character: no right half (0) starts a row, and no left half
// sits in the last column.
void expectWholeWideCharacters(te* t, const char* where) {
  auto check = [&](const CHATTR* row, const char* what, int y) {
    EXPECT_NE(row[0], 0u) << where << " " << what << " " << y;
    EXPECT_FALSE(row[t->vcols - 1] & CA_UNI && wc_wide(ca_unicode(row[t->vcols - 1])))
        << where << " " << what << " " << y;
  };
  for (int y = 0; y < t->vlines; y++) check(t->_vscreen[y], "row", y);
  for (int i = 1; i <= t->_sb->sblastline; i++) check(sb_row(t, i), "saved row", i);
}

TEST(Resize, ReflowNeverCutsADoubleWidthCharacter) {
  const std::string wide = "\xe4\xb8\xad";  // U+4E2D, two columns
  struct Case {
    const char* name;
    std::string line;  // written at 10 columns, then a prompt below it
    int cols;
    std::vector<std::string> rows;  // saved rows, oldest first, then the screen
  } cases[] = {
      // The character straddles the new last column: it starts the next row.
      {"straddling", "12345678" + wide, 9, {"12345678", wide, "$"}},
      {"ending a row exactly", "1234567" + wide + "9", 9, {"1234567" + wide, "9", "$"}},
      {"several rows", "a" + wide + wide + wide + wide, 4, {"a" + wide, wide + wide, wide, "$"}},
  };
  for (const Case& c : cases) {
    Term::Options o;
    o.rows = 2;
    o.cols = 10;
    o.scrollback = 10;
    Term term(o);
    te* t = term.t;
    term.feed(c.line + "\r\n$");
    vsetsize(t, 2, c.cols, 0);
    std::vector<std::string> rows;
    for (int i = t->_sb->sblastline; i >= 1; i--) rows.push_back(vid_rowtext(t, sb_row(t, i), c.cols));
    for (int y = 0; y < 2; y++) rows.push_back(term.row(y));
    EXPECT_EQ(rows, c.rows) << c.name;
    // Every row of the line but its last continues on the next one.
    EXPECT_EQ(t->_sb->sbvlattr[t->_sb->sbfirstline], LA_WRAPPED) << c.name;
    EXPECT_EQ(t->vlattr[0], 0) << c.name;
    EXPECT_EQ(t->vlattr[1], 0) << c.name;
    EXPECT_EQ(t->vdestline, 1) << c.name;
    EXPECT_EQ(t->vdestcol, 1) << c.name;
    expectWholeWideCharacters(t, c.name);
    // Narrower still and back: the characters stay whole at every width,
    // and none is lost (a row cut short before a wide character keeps a
    // blank in its last column, as when the host's output wraps there).
    for (int cols : {3, 2, 7, 10}) {
      vsetsize(t, 2, cols, 0);
      expectWholeWideCharacters(t, c.name);
      std::string text;
      for (int i = t->_sb->sblastline; i >= 1; i--) text += vid_rowtext(t, sb_row(t, i), cols);
      text += term.row(0) + term.row(1);
      std::erase(text, ' ');
      EXPECT_EQ(text, c.line + "$") << c.name << " at " << cols;
    }
  }
}

TEST(Resize, ReflowPushesRowsIntoTheScrollbackAndPullsThemBack) {
  Term::Options o;
  o.rows = 3;
  o.cols = 10;
  o.scrollback = 50;
  Term term(o);
  te* t = term.t;
  term.feed("one\r\nabcdefghijklmno\r\nxyz");
  EXPECT_EQ(term.screen(), "abcdefghij\nklmno\nxyz\n");
  EXPECT_EQ(vid_rowtext(t, sb_row(t, 1), 10), "one");

  vsetsize(t, 3, 5, 0);
  EXPECT_EQ(term.screen(), "fghij\nklmno\nxyz\n");
  EXPECT_EQ(vid_rowtext(t, sb_row(t, 1), 5), "abcde");
  EXPECT_EQ(vid_rowtext(t, sb_row(t, 2), 5), "one");
  EXPECT_EQ(t->vdestline, 2);
  EXPECT_EQ(t->vdestcol, 3);

  // Taller and wider: the saved rows come back; with none left the rows
  // stay at the top and the new ones are blank below them.
  vsetsize(t, 5, 20, 0);
  EXPECT_EQ(term.screen(), "one\nabcdefghijklmno\nxyz\n");
  EXPECT_EQ(t->vlines, 5);
  EXPECT_EQ(t->_sb->sblastline, 0);
  EXPECT_EQ(t->vdestline, 2);
  EXPECT_EQ(t->vdestcol, 3);
}

// A screen that gets fewer rows (larger text in the page) loses its blank
// rows below the cursor before any written row leaves at its top; once
// those are gone, rows go from the top (to the scrollback when reflowed),
// and a taller screen brings them back.  Reflowed and plain alike.
TEST(Resize, FewerRowsLoseTheBlankRowsBelowTheCursorFirst) {
  for (bool plain : {false, true}) {
    Term::Options o;
    o.rows = 8;
    o.cols = 10;
    o.scrollback = 20;
    Term term(o);
    te* t = term.t;
    term.feed("one\r\ntwo\r\n$ ");
    t->_appcur = plain ? 1 : 0;
    vsetsize(t, 4, 10, 0);
    EXPECT_EQ(term.screen(), "one\ntwo\n$\n") << plain;
    EXPECT_EQ(t->vlines, 4) << plain;
    EXPECT_EQ(t->_sb->sblastline, 0) << plain;
    EXPECT_EQ(t->vdestline, 2) << plain;
    EXPECT_EQ(t->vdestcol, 2) << plain;
    vsetsize(t, 2, 10, 0);  // no blank row left: "one" leaves the top
    EXPECT_EQ(term.screen(), "two\n$\n") << plain;
    EXPECT_EQ(t->vdestline, 1) << plain;
    if (plain) continue;  // a plain copy keeps no rows
    EXPECT_EQ(vid_rowtext(t, sb_row(t, 1), 10), "one");
    vsetsize(t, 8, 10, 0);
    EXPECT_EQ(term.screen(), "one\ntwo\n$\n");
    EXPECT_EQ(t->vlines, 8);
    EXPECT_EQ(t->vdestline, 2);
    EXPECT_EQ(t->vdestcol, 2);
  }
}

TEST(Resize, ApplicationCursorModeDropsTopRowsInsteadOfReflowing) {
  Term::Options o;
  o.rows = 6;
  o.cols = 10;
  Term term(o);
  te* t = term.t;
  term.feed("r0\r\nr1\r\nr2\r\nr3\r\nr4\r\nr5-long");
  t->_appcur = 1;
  vsetsize(t, 4, 5, 0);
  EXPECT_EQ(term.screen(), "r2\nr3\nr4\nr5-lo\n");
  EXPECT_EQ(t->_sb->sblastline, 0);  // dropped, not saved
  // A double-width character cut by the new last column goes whole.
  term.feed("\x1b[4;4H\xe4\xb8\xad");
  vsetsize(t, 4, 4, 0);
  EXPECT_EQ(term.row(3), "r5-");
  expectWholeWideCharacters(t, "cut by the last column");
}

TEST(Resize, StatusLineAddsAndRemovesARowBelowTheScreen) {
  Term::Options o;
  o.rows = 4;
  o.cols = 10;
  Term term(o);
  te* t = term.t;
  term.feed("a\r\nb\r\nc\r\nd");
  vidstatline(t, 1, 2);  // to the status row, column 2
  EXPECT_EQ(t->vdestline, 4);
  term.feed("zz");  // writes there are dropped
  EXPECT_EQ(term.row(4), "");
  vidstatline(t, 2, 0);
  EXPECT_EQ(t->vdestline, 3);
  EXPECT_EQ(term.screen(), "a\nb\nc\nd\n");
  vidstatline(t, 3, 0);
  EXPECT_EQ(t->vstatus, 0);
  EXPECT_EQ(t->Lines, 4);
  EXPECT_EQ(term.screen(), "a\nb\nc\nd\n");
}

TEST(Resize, Switching132ColumnsSavesTheScreenAndClearsIt) {
  Term::Options o;
  o.vextend = false;
  o.rows = 24;
  Term term(o);
  te* t = term.t;
  term.feed("keep me");
  set132col(t, 1);
  EXPECT_EQ(t->vcols, 132);
  EXPECT_EQ(t->col132, 1);
  EXPECT_EQ(term.screen(), "");
  EXPECT_EQ(t->_sb->sblastline, 24);
  EXPECT_EQ(vid_rowtext(t, sb_row(t, 24), t->_sb->sbcols), "keep me");
  set132col(t, 0);
  EXPECT_EQ(t->vcols, 80);
  EXPECT_EQ(t->col132, 0);
}

TEST(Cursor, DrawnCursorFollowsOnlyWhileOutputIsOn) {
  Term term;
  te* t = term.t;
  cpos(t, 2, 3);
  EXPECT_EQ(t->yPOS, 2);
  EXPECT_EQ(t->xPOS, 3);
  t->outflag = 0;
  cpos(t, 5, 6);
  EXPECT_EQ(t->yPOS, 2);
  vidcurtype(t, 0);  // ignored while output is off
  EXPECT_EQ(t->vCaret, 1);
  t->outflag = 1;
  vidcurtype(t, 0);
  EXPECT_EQ(t->vCaret, 0);
  t->outflag = 0;
  vidcurtype(t, -1);  // shown even while output is off
  EXPECT_EQ(t->vCaret, 1);
}

TEST(Scrollback, AllocationFailuresLeaveTheTerminalUsable) {
  Term term;
  te* t = term.t;
  sbfree(t);
  EmAllocFailAt(1);
  EXPECT_EQ(sbinit(t, 100), -1);
  EXPECT_EQ(t->_sb, nullptr);
  ASSERT_FALSE(term.errors.empty());
  EXPECT_EQ(term.errors.back(), EMERR_SCROLLBACK);
  term.feed("still\r\nworks");
  EXPECT_EQ(term.row(1), "works");

  EmAllocFailAt(1);  // the new screen block of a resize
  vsetsize(t, 10, 40, 0);
  EXPECT_EQ(term.errors.back(), EMERR_SCREEN);
  EXPECT_EQ(t->vlines, 24);
  EXPECT_EQ(term.row(1), "works");
  EmAllocFailAt(0);
}

}  // namespace

namespace {

TEST(Resize, SurfaceDecidesTheSizeOnlyWithExtendedSizing) {
  Term::Options o;
  o.vextend = false;
  Term fixed(o);
  vidcalc(fixed.t, (600 << 16) | 800);
  EXPECT_EQ(fixed.t->vlines, 24);
  EXPECT_EQ(fixed.t->vcols, 80);
  Term ext;  // extended sizing: 10 x 15 pixel cells, margins 5/2/5/2
  vidcalc(ext.t, (600 << 16) | 800);
  EXPECT_EQ(ext.t->vcols, 79);
  EXPECT_EQ(ext.t->vlines, 39);
  vidcalc(ext.t, (4000 << 16) | 4000);  // capped
  EXPECT_EQ(ext.t->vcols, 132);
  EXPECT_EQ(ext.t->vlines, 250);
}

}  // namespace

namespace {

TEST(Resize, AVeryLongWrappedLineReflowsThroughTheWholeScrollback) {
  Term::Options o;
  o.scrollback = 3000;
  Term term(o);
  te* t = term.t;
  const long len = 500L * 80 + 10;
  std::string line;
  for (long i = 0; i < len; i++) line += (char)('0' + i % 10);
  term.feed(line);
  ASSERT_EQ(t->_sb->sblastline, 477);
  for (int cols : {33, 80, 7}) {
    vsetsize(t, 24, cols, 0);
    long rows = (len + cols - 1) / cols;
    long saved = std::min(rows - 24, 3000L);  // the rest is cut at the capacity
    ASSERT_EQ(t->_sb->sblastline, saved) << cols;
    // Row r of the line starts with character r * cols.
    long first = rows - 24 - saved;
    for (long r : {first, first + 1, rows / 2, rows - 25, rows - 2}) {
      const CHATTR* row = r < rows - 24 ? sb_row(t, (int)(rows - 24 - r)) : t->_vscreen[r - (rows - 24)];
      EXPECT_EQ((char)(row[0] & CA_CHAR), (char)('0' + (r * cols) % 10)) << cols << " row " << r;
    }
    EXPECT_EQ(term.row(23), line.substr((rows - 1) * cols)) << cols;
    EXPECT_EQ(t->vdestline, 23) << cols;
    EXPECT_EQ(t->vdestcol, (int)(len - (rows - 1) * cols)) << cols;
  }
}

}  // namespace
