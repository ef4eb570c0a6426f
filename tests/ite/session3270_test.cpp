// The 3270 station on a host session: the screen sizes a bind names and a
// custom size, SSCP-LU mode, the Test Request read, Cursor Select, BID and
// the contention-resolution request flags, and the typeahead ring around
// connect, disconnect, Reset and Clear.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "t3270.h"
#include "tetrace.h"

namespace {

const std::vector<uint8_t> kEW = {0xF5, 0xC3};
const std::vector<uint8_t> kEWA = {0x7E, 0xC3};

// A bind image (no TN3270E header) whose PSERVIC names these sizes.
std::vector<uint8_t> BindImage(uint8_t sizeByte, int r0 = 0, int c0 = 0, int r1 = 0, int c1 = 0) {
  std::vector<uint8_t> b = {0x31, 0x01, 0x03, 0x03, 0xB1, 0x90, 0x30, 0x80, 0x00, 0x87, 0x87, 0xF8, 0x87,
                            0x00, 0x02, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  b[20] = (uint8_t)r0;
  b[21] = (uint8_t)c0;
  b[22] = (uint8_t)r1;
  b[23] = (uint8_t)c1;
  b[24] = sizeByte;
  return b;
}

void Record(T3270& s, uint8_t type, const std::vector<uint8_t>& body, uint8_t request = 0, uint8_t response = 0) {
  std::vector<uint8_t> rec = cat({{type, request, response, 0x00, 0x01}, body});
  te3270_tn3270e_record(s.t, rec.data(), (int)rec.size());
}

TEST(Session3270, BindImagesNameTheScreenSizes) {
  const std::vector<uint8_t> full = BindImage(0x7F, 24, 80, 43, 80);
  const std::vector<uint8_t> kShortBind(full.begin(), full.begin() + 24);
  struct Case {
    const char* name;
    std::vector<uint8_t> bind;
    int maxRows, maxCols;
    bool named;
    te3270_bind_sizes want;
  } cases[] = {
      {"0x00: 24x80 both", BindImage(0x00, 43, 80, 43, 80), 43, 80, true, {24, 80, 24, 80}},
      {"0x02: 24x80 both", BindImage(0x02), 43, 80, true, {24, 80, 24, 80}},
      {"0x03: the terminal's maximum as alternate", BindImage(0x03), 27, 132, true, {24, 80, 27, 132}},
      {"0x7E: bytes 20/21 for both", BindImage(0x7E, 32, 80, 43, 80), 43, 80, true, {32, 80, 32, 80}},
      {"0x7F: default 20/21, alternate 22/23", BindImage(0x7F, 24, 80, 43, 80), 43, 80, true, {24, 80, 43, 80}},
      {"0x7F: an alternate smaller than the model", BindImage(0x7F, 24, 80, 24, 80), 43, 80, true,
       {24, 80, 24, 80}},
      {"0x7F: 40x132 on a terminal that large", BindImage(0x7F, 24, 80, 40, 132), 40, 132, true,
       {24, 80, 40, 132}},
      {"0x7F: an alternate wider than the terminal", BindImage(0x7F, 24, 80, 27, 132), 43, 80, false, {}},
      {"0x7F: an alternate below 24 rows", BindImage(0x7F, 24, 80, 20, 80), 43, 80, false, {}},
      {"0x7E: rows above the terminal's", BindImage(0x7E, 44, 80), 43, 80, false, {}},
      {"another value keeps the terminal's", BindImage(0x01, 24, 80, 24, 80), 43, 80, false, {}},
      {"no size byte", kShortBind, 43, 80, false, {}},
  };
  for (const Case& c : cases) {
    te3270_bind_sizes got{-1, -1, -1, -1};
    bool named = te3270_bind_decode(c.bind.data(), (int)c.bind.size(), c.maxRows, c.maxCols, &got);
    EXPECT_EQ(named, c.named) << c.name;
    if (!c.named || !named) continue;
    EXPECT_EQ(got.defRows, c.want.defRows) << c.name;
    EXPECT_EQ(got.defCols, c.want.defCols) << c.name;
    EXPECT_EQ(got.altRows, c.want.altRows) << c.name;
    EXPECT_EQ(got.altCols, c.want.altCols) << c.name;
  }
}

// A model 4 terminal bound with a 24x80 alternate: Erase/Write Alternate is
// 24x80, an address on row 43 stops the write after what it wrote, the
// query still announces 43x80, and UNBIND brings the model's size back.
TEST(Session3270, ASmallerAlternateBoundsTheWrites) {
  T3270 s(3);
  Record(s, TN3270E_BIND_IMAGE, BindImage(0x7F, 24, 80, 24, 80));
  EXPECT_TRUE(s.t->bound);
  Record(s, TN3270E_3270_DATA, cat({kEWA, ebc("FIT")}));
  EXPECT_EQ(s.t->NumberLines, 24);
  EXPECT_EQ(s.t->dsError, DS_OK);
  Record(s, TN3270E_3270_DATA, cat({kEWA, ebc("OK"), {0x11}, addr12(42 * 80), ebc("LOST")}));
  EXPECT_EQ(s.t->NumberLines, 24);
  EXPECT_EQ(s.t->dsError, DS_OPERATION_CHECK);
  EXPECT_EQ(s.row(0).substr(0, 3), "OK ");
  EXPECT_EQ(te3270_screen_text(s.t).find("LOST"), std::string::npos);
  s.host({0xF3, 0x00, 0x05, 0x01, 0xFF, 0x02});  // Read Partition Query
  std::vector<uint8_t> q = s.reply();
  ASSERT_GT(q.size(), 1u + 12 + 10);
  EXPECT_EQ(std::vector<uint8_t>(q.begin() + 13 + 6, q.begin() + 13 + 10), (std::vector<uint8_t>{0, 80, 0, 43}));
  Record(s, TN3270E_UNBIND, {0x01});
  EXPECT_FALSE(s.t->bound);
  Record(s, TN3270E_3270_DATA, cat({kEWA, ebc("BIG")}));
  EXPECT_EQ(s.t->NumberLines, 43);
}

// A bind whose sizes the terminal cannot show keeps its own and says so in
// the trace.
TEST(Session3270, AnInvalidBindSizeKeepsTheTerminalsSizesAndIsTraced) {
  char path[] = "/tmp/kvx-bind-trace-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  int route = TE_Trace_SetRoute(TRACE_ROUTE_FILE);
  uint32_t mask = TE_Trace_SetMask(TRACE_3270);
  TE_Trace_SetOutputFile(path);
  T3270 s(3);
  Record(s, TN3270E_BIND_IMAGE, BindImage(0x7F, 24, 80, 27, 132));
  TE_Trace_SetRoute(route);
  TE_Trace_SetMask(mask);
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  std::remove(path);
  EXPECT_NE(text.str().find("BIND screen size 0x7f"), std::string::npos) << text.str();
  Record(s, TN3270E_3270_DATA, cat({kEWA, ebc("X")}));
  EXPECT_EQ(s.t->NumberLines, 43);
  EXPECT_EQ(s.t->NumberColumns, 80);
}

// A custom size: IBM-DYNAMIC, the size as maximum in the query, 14-bit
// addresses in both directions on a screen of more than 4096 cells.
TEST(Session3270, CustomSizeIsTheTerminalsMaximum) {
  T3270 s(2);
  EXPECT_FALSE(te3270_set_custom_size(s.t, 20, 132));
  EXPECT_FALSE(te3270_set_custom_size(s.t, 63, 80));
  EXPECT_FALSE(te3270_set_custom_size(s.t, 40, 161));
  ASSERT_TRUE(te3270_set_custom_size(s.t, 40, 132));
  emu_changeto(s.t, 2);
  EXPECT_STREQ(te3270_terminal_type(s.t, true), "IBM-DYNAMIC");
  EXPECT_STREQ(te3270_terminal_type(s.t, false), "IBM-DYNAMIC");
  EXPECT_EQ(s.t->NumberLines, 40);
  EXPECT_EQ(s.t->NumberColumns, 132);
  const int last = 40 * 132 - 1;
  s.host(cat({kEWA, {0x11}, addr14(last - 2), {0x1D, 0x40}, ebc("Z"), {0x13}}));
  EXPECT_EQ(s.t->dsError, DS_OK);
  EXPECT_EQ(s.row(39).substr(130), "Z ");
  s.type("Y");
  s.key(FCN_AID, AID_ENTER);
  // 7D, cursor (14-bit, wrapped to 0), SBA, field address (14-bit), the
  // field's text.
  EXPECT_EQ(s.reply(), cat({{0x7D}, addr14(0), {0x11}, addr14(last - 1), ebc("ZY")}));
  s.host({0xF3, 0x00, 0x05, 0x01, 0xFF, 0x02});
  std::vector<uint8_t> q = s.reply();
  EXPECT_EQ(std::vector<uint8_t>(q.begin() + 13 + 6, q.begin() + 13 + 10), (std::vector<uint8_t>{0, 132, 0, 40}));
  // The model's own size again.
  ASSERT_TRUE(te3270_set_custom_size(s.t, 0, 0));
  emu_changeto(s.t, 2);
  EXPECT_STREQ(te3270_terminal_type(s.t, true), "IBM-3278-3-E");
  EXPECT_EQ(s.t->NumberLines, 32);
}

// SSCP-LU data is written line after line; Enter sends the typed line.
TEST(Session3270, SscpLuModeWritesLinesAndScrolls) {
  T3270 s(2);
  s.t->bTN3270E = true;
  s.host(cat({kEW, ebc("OLD SCREEN")}));
  Record(s, TN3270E_SSCP_LU_DATA, cat({ebc("ONE"), {0x15}, ebc("TW"), {0x1D, 0x60}, ebc("O"), {0x11, 0x40, 0x40, 0x13},
                                      ebc("!"), {0x15}}));
  EXPECT_TRUE(s.t->sscpMode);
  EXPECT_EQ(s.row(0).substr(0, 12), "ONE         ");  // NL blanked the rest of the line
  EXPECT_EQ(s.row(1).substr(0, 6), "TW O! ");       // SF a blank, SBA and IC ignored
  EXPECT_EQ(s.t->CursorAddress, 2 * 80);
  EXPECT_FALSE(te3270_input_inhibited(s.t));
  // Lines past the bottom (row 23: Erase/Write made it 24x80) scroll the
  // screen up instead of wrapping to the top.
  std::vector<uint8_t> many;
  for (int i = 0; i < 31; i++) many = cat({many, ebc("L" + std::to_string(i)), {0x15}});
  Record(s, TN3270E_SSCP_LU_DATA, many);
  ASSERT_EQ(s.t->NumberLines, 24);
  EXPECT_EQ(s.row(0).substr(0, 3), "L8 ");
  EXPECT_EQ(s.row(22).substr(0, 4), "L30 ");
  EXPECT_EQ(s.row(23), std::string(80, ' '));
  EXPECT_EQ(s.t->CursorAddress, 23 * 80);
  s.type("LOGON");
  s.key(FCN_AID, AID_ENTER);
  uint8_t type = 0;
  std::vector<uint8_t> r;
  ASSERT_TRUE(te3270_take_reply(s.t, r, &type));
  EXPECT_EQ(type, TN3270E_SSCP_LU_DATA);
  EXPECT_EQ(r, ebc("LOGON"));
  // A bind: 3270 data takes over.
  Record(s, TN3270E_BIND_IMAGE, BindImage(0x02));
  EXPECT_FALSE(s.t->sscpMode);
  Record(s, TN3270E_3270_DATA, cat({kEW, {0x1D, 0x40}, {0x13}}));
  s.type("A");
  s.key(FCN_AID, AID_ENTER);
  ASSERT_TRUE(te3270_take_reply(s.t, r, &type));
  EXPECT_EQ(type, TN3270E_3270_DATA);
  EXPECT_EQ(r[0], AID_ENTER);
}

// Test Request read: SOH % / STX, then the modified fields (SBA, address,
// text), no AID and no cursor address; input waits for the host.
TEST(Session3270, TestRequestRead) {
  T3270 s;
  s.host(cat({kEW, {0x1D, 0x60}, ebc("ID"), {0x1D, 0x40}, {0x13}}));
  s.type("AB");
  s.key(FCN_TESTREQ);
  EXPECT_EQ(s.reply(), cat({{0x01, 0x6C, 0x61, 0x02, 0x11}, addr12(4), ebc("AB")}));
  EXPECT_TRUE(te3270_input_inhibited(s.t));
}

// Cursor Select by designator, on detectable fields only.
TEST(Session3270, CursorSelectActsByTheDesignator) {
  struct Case {
    const char* name;
    uint8_t attr, designator;
    uint8_t wantDesignator;
    bool wantMdt, wantAid, wantBell;
  } cases[] = {
      {"? selects: > and modified", 0x24, 0x6F, 0x6E, true, false, false},
      {"> deselects: ? and not modified", 0x25, 0x6E, 0x6F, false, false, false},
      {"& modifies and sends the AID", 0x24, 0x50, 0x50, true, true, false},
      {"a blank sends the AID at once", 0x28, 0x40, 0x40, false, true, false},
      {"not detectable: the bell", 0x20, 0x6F, 0x6F, false, false, true},
      {"another designator: the bell", 0x24, 0xC1, 0xC1, false, false, true},
  };
  for (const Case& c : cases) {
    T3270 s;
    s.host(cat({kEW, {0x11}, addr12(80), {0x1D, c.attr, c.designator}, ebc("OPTION"), {0x1D, 0x60}, {0x11},
                addr12(83), {0x13}}));
    s.t->bells = 0;
    s.key(FCN_CURSEL);
    EXPECT_EQ(s.t->Host[81], c.wantDesignator) << c.name;
    EXPECT_EQ((s.t->Host[80] & FA_MDT) != 0, c.wantMdt) << c.name;
    EXPECT_EQ(s.t->bells > 0, c.wantBell) << c.name;
    std::vector<uint8_t> r = s.reply();
    if (c.wantAid) {
      // 7E, the cursor, and for a modified field only its address.
      std::vector<uint8_t> want = cat({{AID_CURSOR_SELECT}, addr12(83)});
      if (c.wantMdt) want = cat({want, {0x11}, addr12(81)});
      EXPECT_EQ(r, want) << c.name;
      EXPECT_TRUE(te3270_input_inhibited(s.t)) << c.name;
    } else {
      EXPECT_TRUE(r.empty()) << c.name;
    }
  }
}

// Contention resolution: a BID holds the keyboard until the host's 3270
// data carries SEND-DATA or KEYBOARD-RESTORE; without the function agreed
// the flags mean nothing.
TEST(Session3270, BidLocksUntilSendDataOrKeyboardRestore) {
  T3270 s;
  s.t->contention = true;
  Record(s, TN3270E_3270_DATA, cat({kEW, {0x1D, 0x40}, {0x13}}));
  Record(s, TN3270E_BID, {});
  EXPECT_TRUE(te3270_input_inhibited(s.t));
  s.type("Q");
  EXPECT_EQ(te3270_typeahead(s.t), 1);
  Record(s, TN3270E_3270_DATA, {0xF1, 0x00}, 0x00);  // no flag: still the host's turn
  EXPECT_TRUE(te3270_input_inhibited(s.t));
  Record(s, TN3270E_3270_DATA, {0xF1, 0x00}, TN3270E_RQF_SEND_DATA);
  EXPECT_FALSE(te3270_input_inhibited(s.t));
  EXPECT_EQ(s.t->Host[1], 0xD8);  // Q, typed at the unlock
  EXPECT_EQ(te3270_typeahead(s.t), 0);
  // KEYBOARD-RESTORE unlocks an AID's lock like the WCC's restore bit.
  s.key(FCN_AID, AID_ENTER);
  s.reply();
  Record(s, TN3270E_BID, {});
  Record(s, TN3270E_3270_DATA, {0xF1, 0x00}, TN3270E_RQF_KEYBOARD_RESTORE);
  EXPECT_FALSE(te3270_input_inhibited(s.t));
  // Without contention resolution a BID does not lock.
  s.t->contention = false;
  Record(s, TN3270E_BID, {});
  EXPECT_FALSE(te3270_input_inhibited(s.t));
}

// Keys typed with no host wait for the first unlock; a disconnect drops
// them, Reset empties the ring, Clear drops the keys ahead of it.
TEST(Session3270, TypeaheadAroundTheConnection) {
  T3270 s;
  te3270_disconnected(s.t);
  s.type("AB");
  EXPECT_EQ(te3270_typeahead(s.t), 2);
  te3270_disconnected(s.t);
  EXPECT_EQ(te3270_typeahead(s.t), 0);
  s.type("HI");
  s.key(FCN_AID, AID_ENTER);
  EXPECT_EQ(te3270_typeahead(s.t), 3);
  te3270_connected(s.t);
  EXPECT_EQ(te3270_typeahead(s.t), 3);
  EXPECT_TRUE(s.reply().empty());
  s.host(cat({kEW, {0x1D, 0x40}, {0x13}}));  // the first unlock
  EXPECT_EQ(s.reply(), cat({{0x7D}, addr12(3), {0x11}, addr12(1), ebc("HI")}));
  EXPECT_EQ(te3270_typeahead(s.t), 0);
  // Locked by that Enter: Reset empties the ring.
  s.type("XY");
  EXPECT_EQ(te3270_typeahead(s.t), 2);
  s.key(FCN_RESET);
  EXPECT_EQ(te3270_typeahead(s.t), 0);
  // Clear drops what waits ahead of it and waits itself.
  s.type("XY");
  s.key(FCN_AID, AID_CLEAR);
  EXPECT_EQ(te3270_typeahead(s.t), 1);
  s.host({0xF1, 0xC2});
  EXPECT_EQ(s.reply(), (std::vector<uint8_t>{AID_CLEAR}));
  // The ring is bounded: the key past it rings the bell.
  s.t->bells = 0;
  for (int i = 0; i < TE3270_TYPEAHEAD + 1; i++) s.key(FCN_RIGHT);
  EXPECT_EQ(te3270_typeahead(s.t), TE3270_TYPEAHEAD);
  EXPECT_EQ(s.t->bells, 1);
}

}  // namespace
