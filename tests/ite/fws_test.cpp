// The formatted text window: sizing, the writer's wrapping and controls,
// reading back, colour runs and their node marks, and inputs outside the
// window.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "fws/fws.h"
#include "fws/fws_cell.h"

namespace {

struct Win {
  fws_window w;
  Win(int cols = 80, int rows = 24) {
    EXPECT_EQ(StdInit(&w, nullptr), 0);
    EXPECT_EQ(fws_setsize(&w, cols, rows), 1);
  }
  std::string row(int r) {
    std::vector<char> buf(w.wndsize.x + 1);
    int n = fws_readwin(&w, r, 0, w.wndsize.x, buf.data());
    return std::string(buf.data(), n);
  }
  void put(const std::string& s) { fws_puts(&w, s.data(), (int)s.size(), 1); }
};

// Colour runs of a row as "first-last:fg" (fg low byte in hex).
std::string runs(const fws_window& w, int row) {
  std::string out;
  for (const Ext_Attribute* n = w.screen_extattrs[row].head; n; n = n->next) {
    if (!(n->ext_attr & FWS_EA_COLOR)) continue;
    char b[32];
    snprintf(b, sizeof b, "%s%d-%d:%02x", out.empty() ? "" : " ", n->col, n->col + n->nclrcols - 1,
             n->fgc & 0xFF);
    out += b;
  }
  return out;
}

// Invariants: sorted lists, one node per column, tail last, node marks
// exactly where nodes start, runs inside the row.
void checkNodes(const fws_window& w) {
  for (int r = 0; r < w.scrbuffer.y; r++) {
    std::vector<bool> at(FWS_MAXCOLS, false);
    const Ext_Attribute* last = nullptr;
    for (const Ext_Attribute* n = w.screen_extattrs[r].head; n; n = n->next) {
      if (last) {
        ASSERT_LT(last->col, n->col) << "row " << r;
      }
      at[n->col] = true;
      if (n->ext_attr & FWS_EA_COLOR) {
        ASSERT_LE(n->col + n->nclrcols - 1, w.lscreen.x);
      }
      last = n;
    }
    ASSERT_EQ(w.screen_extattrs[r].tail, last) << "row " << r;
    for (int c = 0; c < FWS_MAXCOLS; c++)
      ASSERT_EQ((w.screenattrs[r * FWS_MAXCOLS + c] & FWS_A_NODE) != 0, at[c]) << r << "," << c;
  }
}

TEST(FwsWindow, InitAndClearLeaveBlankCellsAndTheDefaultNodeOnTop) {
  Win t;
  EXPECT_EQ(t.w.wndsize.x, 80);
  EXPECT_EQ(t.w.wndsize.y, 24);
  EXPECT_EQ(t.w.scrbuffer.x, FWS_MAXCOLS);
  t.put("hello");
  fws_setcolor(&t.w, 3, 0, 10, 0xFF0000FF, 0xFF000000);
  fws_clearscreen(&t.w);
  for (int r = 0; r < 24; r++)
    for (int c = 0; c < FWS_MAXCOLS; c++) {
      ASSERT_EQ(fws_charat(&t.w, r, c), 0x20);
      ASSERT_EQ(fws_xgetattr(&t.w, r, c) & ~FWS_A_NODE, 0);
    }
  EXPECT_EQ(runs(t.w, 3), "");
  ASSERT_NE(t.w.screen_extattrs[23].head, nullptr);
  EXPECT_EQ(t.w.screen_extattrs[23].head->col, 0);
  EXPECT_EQ(fws_getextattr(&t.w, 23, 0) & FWS_EA_FONT, FWS_EA_FONT);
  checkNodes(t.w);
}

TEST(FwsWindow, ReadwinReadsRightThenDownAndStopsAfterRowZero) {
  Win t;
  fws_caretpos(&t.w, 0, 23, 1);
  t.put(std::string(80, 'a') + std::string(80, 'b'));
  fws_caretpos(&t.w, 0, 0, 1);
  t.put("zz");
  char buf[400];
  EXPECT_EQ(fws_readwin(&t.w, 23, 0, 80, buf), 80);
  EXPECT_EQ(std::string(buf), std::string(80, 'a'));
  EXPECT_EQ(fws_readwin(&t.w, 23, 0, 160, buf), 160);
  EXPECT_EQ(std::string(buf), std::string(80, 'a') + std::string(80, 'b'));
  EXPECT_EQ(fws_readwin(&t.w, 0, 70, 300, buf), 10);  // only what is left of row 0
  EXPECT_EQ(std::string(buf), std::string(10, ' '));
}

TEST(FwsWindow, ReadwinIgnoresPositionsOutsideTheWindow) {
  Win t;
  char buf[8] = "xxxxxxx";
  struct Case {
    int row, col, len;
  } cases[] = {{24, 0, 5}, {-1, 0, 5}, {0, 80, 5}, {0, -1, 5}, {0, 0, -3}, {9999, 9999, 5}};
  for (const Case& c : cases) {
    EXPECT_EQ(fws_readwin(&t.w, c.row, c.col, c.len, buf), 0) << c.row << "," << c.col;
    EXPECT_EQ(buf[0], 0);
  }
}

TEST(FwsWindow, WritingPastTheLastColumnWrapsOrOverwrites) {
  std::string text;
  for (int i = 1; i <= 81; i++) text += (char)('!' + i % 90);
  {
    Win t;
    fws_caretpos(&t.w, 0, 10, 1);
    EXPECT_EQ(fws_puts(&t.w, text.data(), 81, 1), 2);  // one wrapped row
    EXPECT_EQ(t.row(10), text.substr(0, 80));
    EXPECT_EQ(t.row(9)[0], text[80]);
    EXPECT_EQ(t.w.caret.x, 1);
    EXPECT_EQ(t.w.caret.y, 9);
  }
  {
    Win t;
    fws_setwrapline(&t.w, 0);
    fws_caretpos(&t.w, 0, 10, 1);
    EXPECT_EQ(fws_puts(&t.w, text.data(), 81, 1), 1);
    EXPECT_EQ(t.row(10), text.substr(0, 79) + text[80]);
    EXPECT_EQ(t.row(9), std::string(80, ' '));
  }
}

TEST(FwsWindow, ExactlyAFullRowLeavesAPendingWrapThatACaretMoveDiscards) {
  Win t;
  fws_caretpos(&t.w, 0, 10, 1);
  t.put(std::string(80, 'x'));
  EXPECT_EQ(t.w.caret.x, 79);
  EXPECT_EQ(t.w.needtowrap, 1);
  fws_caretpos(&t.w, 79, 10, 1);
  t.put("y");  // the pending wrap is gone: y replaces the last x
  EXPECT_EQ(t.row(10), std::string(79, 'x') + "y");
  EXPECT_EQ(t.row(9), std::string(80, ' '));
}

TEST(FwsWindow, ControlsActOnlyWithInterpretationOn) {
  Win t;
  fws_caretpos(&t.w, 5, 3, 1);
  t.put("\t|");
  EXPECT_EQ(t.row(3).substr(5, 4), "   |");  // spaces in 5, 6, 7
  fws_caretpos(&t.w, 4, 2, 1);
  t.put("ab\bc\r\x07");
  EXPECT_EQ(t.row(2).substr(4, 3), "ac ");
  EXPECT_EQ(t.w.caret.x, 0);
  EXPECT_EQ(t.w.bells, 1);
  EXPECT_EQ(fws_puts(&t.w, "\r\n", 2, 1), 0);  // line ends only

  EXPECT_EQ(fws_interpret_chars(&t.w, 0), 1);
  fws_caretpos(&t.w, 0, 1, 1);
  t.put(std::string("a\nb\tc\x07", 6));
  EXPECT_EQ(fws_charat(&t.w, 1, 1), '\n');
  EXPECT_EQ(fws_charat(&t.w, 1, 3), '\t');
  EXPECT_EQ(fws_charat(&t.w, 1, 5), 0x07);
  EXPECT_EQ(t.w.caret.x, 6);
}

TEST(FwsWindow, LineFeedOnTheBottomRowScrollsTheRegion) {
  Win t(80, 4);
  for (int r = 3; r >= 0; r--) {
    fws_caretpos(&t.w, 0, r, 1);
    t.put(std::string(1, (char)('A' + 3 - r)));
  }
  fws_setcolor(&t.w, 3, 0, 5, 1, 2);  // leaves with the top row
  fws_setcolor(&t.w, 0, 0, 5, 3, 4);  // moves up with the bottom row
  fws_caretpos(&t.w, 0, 0, 1);
  t.put("\n");
  EXPECT_EQ(t.row(3)[0], 'B');
  EXPECT_EQ(t.row(1)[0], 'D');
  EXPECT_EQ(t.row(0)[0], ' ');
  EXPECT_EQ(runs(t.w, 1), "0-4:03");
  EXPECT_EQ(runs(t.w, 0), "");
  checkNodes(t.w);
}

TEST(FwsWindow, ShiftOutTextIsStoredInPairsAndALoneShiftOutStaysInside) {
  Win t;
  fws_caretpos(&t.w, 0, 5, 1);
  // A line feed inside double-byte text is data; the odd tail is stored alone.
  const char text[] = {'\x0e', '\x0a', 'x', 'y'};
  EXPECT_EQ(fws_puts(&t.w, text, 4, 1), 1);
  EXPECT_EQ(fws_charat(&t.w, 5, 1), 0x0a);
  EXPECT_EQ(fws_charat(&t.w, 5, 3), 'y');
  EXPECT_EQ(t.w.caret.x, 4);
  const char lone[] = {'\x0e'};
  fws_caretpos(&t.w, 79, 0, 1);
  EXPECT_EQ(fws_puts(&t.w, lone, 1, 1), 1);
  EXPECT_EQ(fws_charat(&t.w, 0, 79), 0x0e);
}

TEST(FwsColors, SetColorSplitsAndReplacesRuns) {
  struct Case {
    const char* name;
    std::vector<std::array<int, 3>> ops;  // col, ncols, fg (0 = reset)
    std::string want;
  } cases[] = {
      {"inside", {{5, 25, 0x11}, {10, 10, 0x22}}, "5-9:11 10-19:22 20-29:11"},
      {"overlap left", {{5, 10, 0x11}, {0, 8, 0x22}}, "0-7:22 8-14:11"},
      {"same start", {{5, 10, 0x11}, {5, 3, 0x22}}, "5-7:22 8-14:11"},
      {"cover", {{5, 3, 0x11}, {9, 3, 0x33}, {0, 20, 0x22}}, "0-19:22"},
      {"cut at the row end", {{70, 50, 0x11}}, "70-79:11"},
      {"reset middle", {{0, 30, 0x11}, {10, 5, 0}}, "0-9:11 15-29:11"},
      {"reset all", {{0, 10, 0x11}, {20, 10, 0x22}, {0, 80, 0}}, ""},
      {"negative start clipped", {{-5, 10, 0x11}}, "0-4:11"},
  };
  for (const Case& c : cases) {
    Win t;
    for (auto& op : c.ops) {
      if (op[2])
        fws_setcolor(&t.w, 7, op[0], op[1], 0xFF000000u | op[2], 0xFF000000);
      else
        fws_resetcolor(&t.w, 7, op[0], op[1]);
    }
    EXPECT_EQ(runs(t.w, 7), c.want) << c.name;
    checkNodes(t.w);
  }
}

TEST(FwsColors, RowColorsFollowTheRunsAndIgnoreOutsideRows) {
  Win t;
  fws_newfgc(&t.w, 0xFF00FF00);
  fws_newbgc(&t.w, 0xFF000000);
  fws_setcolor(&t.w, 2, 3, 2, 0xFF0000FF, 0xFFFFFFFF);
  COLORREF fg[80], bg[80];
  fws_rowcolors(&t.w, 2, fg, bg, 80);
  EXPECT_EQ(fg[2], 0xFF00FF00u);
  EXPECT_EQ(fg[3], 0xFF0000FFu);
  EXPECT_EQ(bg[4], 0xFFFFFFFFu);
  EXPECT_EQ(fg[5], 0xFF00FF00u);
  EXPECT_EQ(fws_setcolor(&t.w, 2, 0, 0, 1, 1), 0);
  for (int row : {-1, 24, 1000}) {
    EXPECT_EQ(fws_setcolor(&t.w, row, 0, 5, 1, 1), 0);
    fws_resetcolor(&t.w, row, 0, 5);
  }
  EXPECT_EQ(fws_setcolor(&t.w, 2, 80, 5, 1, 1), 0);
  EXPECT_EQ(fws_setcolor(&t.w, 2, 0, 1 << 30, 0xFF0000FF, 0), 1);
  EXPECT_EQ(runs(t.w, 2), "0-79:ff");
  checkNodes(t.w);
}

TEST(FwsColors, StyleNodesSurviveColourRemovalAndFlowToLaterCells) {
  Win t;
  fws_setextattr(&t.w, 5, 10, 0x0004);
  fws_setcolor(&t.w, 5, 10, 5, 0xFF0000FF, 0);
  fws_resetcolor(&t.w, 5, 0, 80);
  EXPECT_EQ(fws_getextattr(&t.w, 5, 10), 0x0004u);
  EXPECT_EQ(fws_get_posattr(&t.w, 5, 40)->col, 10);
  EXPECT_EQ(fws_get_posattr(&t.w, 4, 0)->col, 10);  // flows down from the row above
  EXPECT_EQ(fws_get_posattr(&t.w, 23, 0)->ext_attr & FWS_EA_FONT, FWS_EA_FONT);
  checkNodes(t.w);
}

TEST(FwsColors, PaletteAndEmulationColourIndexes) {
  Win t;
  EXPECT_EQ(colorToIndex(0xFF0000FF), 9);
  EXPECT_EQ(colorToIndex(0xFF123456), 0);
  EXPECT_EQ(indexToColor(16), 0xFF000000u);
  EXPECT_EQ(indexToColor(-1), 0xFF000000u);
  EXPECT_EQ(ColorToIndex(&t.w, 0xFF0000FF), 12);
  EXPECT_EQ(ColorToIndex(&t.w, 0xFF800000), 1);
  EXPECT_EQ(ColorToIndex(&t.w, 0xFF123456), -1);
  // Cells carry four bits: entries 16-18 and unknown colours fall back.
  EXPECT_EQ(fws_colorindex16(&t.w, 0xFF0000FF, 7), 12);
  EXPECT_EQ(fws_colorindex16(&t.w, 0xFF123456, 7), 7);
  t.w.TNRGBMap[0] = 0xFF010101;  // black now only at 16..18
  EXPECT_EQ(ColorToIndex(&t.w, 0xFF000000), 16);
  EXPECT_EQ(fws_colorindex16(&t.w, 0xFF000000, 3), 3);
}

TEST(FwsWindow, ScrollbackResizeKeepsLowerRowsAndSizesClamp) {
  Win t;
  fws_caretpos(&t.w, 0, 0, 1);
  t.put("bottom");
  EXPECT_EQ(fws_set_scrollbacklines(&t.w, -1), 0);
  EXPECT_EQ(fws_set_scrollbacklines(&t.w, 19), 1);
  EXPECT_EQ(t.w.scrbuffer.y, 43);
  EXPECT_EQ(t.w.sblines, 19u);
  fws_scrsize(&t.w, {80, 43});
  EXPECT_EQ(t.w.wndsize.y, 43);
  EXPECT_EQ(t.w.sblines, 0u);
  EXPECT_EQ(t.row(0).substr(0, 6), "bottom");
  fws_scrsize(&t.w, {500, 500});
  EXPECT_EQ(t.w.wndsize.x, FWS_MAXCOLS);
  EXPECT_EQ(t.w.wndsize.y, 43);
  fws_caretpos(&t.w, 999, -5, 1);
  EXPECT_EQ(t.w.caret.x, FWS_MAXCOLS - 1);
  EXPECT_EQ(t.w.caret.y, 0);
  EXPECT_EQ(fws_setsize(&t.w, 80, 24), 1);
  EXPECT_EQ(t.w.scrbuffer.y, 24);
  EXPECT_EQ(t.row(0).substr(0, 6), "bottom");
  checkNodes(t.w);
}

TEST(FwsWindow, InsertAndDeleteCharsMoveTextWithinTheRow) {
  Win t;
  fws_caretpos(&t.w, 0, 4, 1);
  t.put("abcdef");
  fws_caretpos(&t.w, 2, 4, 1);
  EXPECT_EQ(fws_insertchars(&t.w, 2), 2);
  EXPECT_EQ(t.row(4).substr(0, 8), "ab  cdef");
  EXPECT_EQ(fws_deletechars(&t.w, 3), 3);
  EXPECT_EQ(t.row(4).substr(0, 8), "abdef   ");
  fws_caretpos(&t.w, 0, 4, 1);
  EXPECT_EQ(fws_deletelines(&t.w, 1), 1);
  EXPECT_EQ(t.row(4).substr(0, 3), "   ");
}

TEST(FwsWindow, PutcellsStoresPerCellAttributesKeepsNodeMarksAndClips) {
  Win t;
  fws_setcolor(&t.w, 3, 78, 2, 1, 2);  // a node at column 78
  const uint16_t ch[4] = {'a', 'b', 'c', 'd'};
  const uint8_t at[4] = {FWS_A_BOLD, 0, FWS_A_REVERSE | FWS_A_NODE, FWS_A_UNDERLINE};
  const uint8_t fl[4] = {FWS_CF_PROTECTED, 0, FWS_CF_NONDISPLAY, 0};
  EXPECT_EQ(fws_putcells(&t.w, 3, 77, 4, ch, at, fl), 3);  // cut at the row's end
  EXPECT_EQ(t.row(3).substr(77), "abc");
  EXPECT_EQ(fws_xgetattr(&t.w, 3, 77), FWS_A_BOLD);
  EXPECT_EQ(fws_xgetattr(&t.w, 3, 78), FWS_A_NODE);  // the node mark stays
  EXPECT_EQ(fws_xgetattr(&t.w, 3, 79), FWS_A_REVERSE);
  EXPECT_EQ(fws_xgetflags(&t.w, 3, 77), FWS_CF_PROTECTED);
  EXPECT_EQ(fws_putcells(&t.w, 24, 0, 4, ch, at, fl), 0);
  EXPECT_EQ(fws_putcells(&t.w, 3, 80, 4, ch, at, fl), 0);
  checkNodes(t.w);
}

TEST(FwsWindow, NarrowedCharactersReadBackAsBytes) {
  Win t;
  const uint16_t text[] = {0x250C, 0x2500, 0x2502, 0x00E9, 0x2364, 0};
  fws_caretpos(&t.w, 0, 0, 1);
  wputs(&t.w, text, 1);
  EXPECT_EQ(t.row(0).substr(0, 5), "+-|\xe9?");
  EXPECT_EQ(fws_charat(&t.w, 0, 0), 0x250C);
}

// The browser's cells of a row: highlighting bits from the attribute byte
// and field flags, colour indexes through the emulation table (four bits,
// with a fallback), the Unicode character beside its byte.
TEST(FwsCells, RowCellsCarryHighlightingColoursAndUnicode) {
  Win t;
  t.w.sys_fgc = 0xFF00FF00;  // green: index 10
  t.w.sys_bgc = 0xFF000000;
  const uint16_t ch[4] = {'A', 0x2500, 0xE9, ' '};
  const uint8_t at[4] = {FWS_A_UNDERLINE | FWS_A_BOLD, FWS_A_GRAPHIC, FWS_A_REVERSE | FWS_A_BLINK, 0};
  const uint8_t fl[4] = {FWS_CF_PROTECTED, 0, FWS_CF_NONDISPLAY, FWS_CF_FIELDATTR | FWS_CF_PROTECTED};
  fws_putcells(&t.w, 5, 0, 4, ch, at, fl);
  fws_setcolor(&t.w, 5, 1, 1, 0xFF0000FF, 0xFFFFFFFF);  // red on white: 12, 15
  fws_setcolor(&t.w, 5, 2, 1, 0xFF123456, 0xFF000000);  // no index: the fallback
  uint64_t cells[4];
  blk_row_cells(&t.w, 5, 4, 7, 0, cells);
  auto fg = [](uint64_t c) { return (int)((c & BLK_CELL_FG) >> BLK_CELL_FG_SHIFT); };
  auto bg = [](uint64_t c) { return (int)((c & BLK_CELL_BG) >> BLK_CELL_BG_SHIFT); };
  EXPECT_EQ(cells[0] & BLK_CELL_CHAR, (uint64_t)'A');
  EXPECT_EQ(cells[0] & 0xFFFF00, BLK_CELL_UNDERLINE | BLK_CELL_INTENSE | BLK_CELL_PROTECTED);
  EXPECT_EQ(fg(cells[0]), 10);
  EXPECT_EQ(bg(cells[0]), 0);
  EXPECT_EQ(cells[1] & 0xFFFF00, BLK_CELL_GRAPHIC);
  EXPECT_EQ((cells[1] & BLK_CELL_UNI) >> BLK_CELL_UNI_SHIFT, 0x2500u);
  EXPECT_EQ(cells[1] & BLK_CELL_CHAR, (uint64_t)'-');
  EXPECT_EQ(fg(cells[1]), 12);
  EXPECT_EQ(bg(cells[1]), 15);
  EXPECT_EQ(cells[2] & 0xFFFF00, BLK_CELL_REVERSE | BLK_CELL_BLINK | BLK_CELL_NONDISPLAY);
  EXPECT_EQ(cells[2] & BLK_CELL_CHAR, 0xE9u);
  EXPECT_EQ(fg(cells[2]), 7);
  EXPECT_EQ(cells[3] & 0xFFFF00, BLK_CELL_FIELDATTR | BLK_CELL_PROTECTED);
  for (uint64_t c : cells) EXPECT_TRUE(c & BLK_CELL_HASUNI);
}

}  // namespace
