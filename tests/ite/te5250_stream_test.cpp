// The 5250 data stream: record collection, orders, commands, control
// characters, read replies, the query reply and the saved screen image.
#include <gtest/gtest.h>

#include "emulation_ids.h"
#include "station5250.h"
#include "te5250_window.h"

namespace {

const std::vector<uint8_t> kParamBase = {0x10, 0x05, 0x01};

// ---- records ----

TEST(Te5250Records, SplitRecordIsInterpretedOnceAtItsEnd) {
  Station st;
  std::vector<uint8_t> r = HostRecord(OPCODE_PUTGET, Hex("04 40 04 11 00 08 11 02 05 C1 C2 C3"));
  st.ctrl.GotData(r.data(), 5, false);
  st.ctrl.GotData(r.data() + 5, 7, false);
  EXPECT_EQ(st.s().m_CurSize.cy, 24) << "nothing is interpreted before the end of record";
  st.ctrl.GotData(r.data() + 12, r.size() - 12, true);
  EXPECT_EQ(st.s().m_CurSize.cy, 25);
  EXPECT_EQ(st.Row(2).substr(4, 3), "ABC");
  EXPECT_TRUE(st.sent.empty());
}

TEST(Te5250Records, MalformedFramingIsDroppedWithoutEffect) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<uint8_t> ok = HostRecord(OPCODE_PUTGET, Hex("04 40 04 11 00 08 C1"));
  std::vector<uint8_t> longer = ok;
  longer[1] = static_cast<uint8_t>(longer[1] + 4);  // says more than arrived
  std::vector<uint8_t> shorter = ok;
  shorter[1] = static_cast<uint8_t>(shorter[1] - 1);  // says less than arrived
  const Case cases[] = {
      {"length above what arrived", longer},
      {"length below what arrived", shorter},
      {"shorter than a header", Hex("00 05 12 A0 00")},
      {"empty record", {}},
  };
  for (const Case& c : cases) {
    Station st;
    st.ctrl.GotData(c.bytes.data(), c.bytes.size(), true);
    EXPECT_EQ(st.s().m_CurSize.cy, 24) << c.name;
    EXPECT_TRUE(st.sent.empty()) << c.name;
    // The next good record is read normally.
    st.ctrl.GotData(ok.data(), ok.size(), true);
    EXPECT_EQ(st.s().m_CurSize.cy, 25) << c.name;
  }
}

TEST(Te5250Records, BytesBeforeConnectAreDropped) {
  CTe5250Ctrl ctrl;
  std::vector<uint8_t> r = HostRecord(OPCODE_PUTGET, Hex("04 40"));
  ctrl.GotData(r.data(), 3, false);
  ctrl.GotData(r.data() + 3, r.size() - 3, true);
  EXPECT_EQ(ctrl.m_pSession->m_CurSize.cy, 24);
  ctrl.OnConnect();
  ctrl.GotData(r.data(), r.size(), true);
  EXPECT_EQ(ctrl.m_pSession->m_CurSize.cy, 25);
}

TEST(Te5250Records, RecordPastTheCapIsDroppedAndMemoryStaysBounded) {
  Station st;
  std::vector<uint8_t> chunk(4096, 0x40);
  for (int i = 0; i < 64; i++) st.ctrl.GotData(chunk.data(), chunk.size(), false);  // a host that never ends
  EXPECT_LE(st.s().m_ReadBuffer.capacity(), k5250MaxRecord + 4096);
  EXPECT_TRUE(st.s().m_ReadOverflow);
  st.ctrl.GotData(nullptr, 0, true);
  EXPECT_EQ(st.s().m_CurSize.cy, 24) << "the oversized record is not interpreted";
  st.Screen("11 01 02 C1");
  EXPECT_EQ(st.Cell(1, 2), 0xC1);
}

TEST(Te5250Records, LargeRecordBelowTheCapIsRead) {
  Station st;
  // 27 x 132 via Clear Unit Alternate, then every cell written with TD and
  // 256 fields: far beyond the old fixed buffer.
  std::string orders = "04 20 00 04 11 00 08 ";
  std::vector<uint8_t> data = Hex(orders);
  for (int f = 0; f < 256; f++) {
    const int row = 1 + f / 10, col = 2 + (f % 10) * 12;
    for (uint8_t b : Hex("11")) data.push_back(b);
    data.push_back(static_cast<uint8_t>(row));
    data.push_back(static_cast<uint8_t>(col));
    for (uint8_t b : Hex("1D 40 00 24 00 0A")) data.push_back(b);
    for (int k = 0; k < 10; k++) data.push_back(0xC1);
  }
  st.Host(OPCODE_PUTGET, data);
  EXPECT_EQ(st.fields().Count(), 256);
  EXPECT_EQ(st.s().m_CurSize.cx, 132);
  EXPECT_EQ(st.s().m_CurSize.cy, 28);
}

// ---- orders and commands ----

struct ErrorCase {
  const char* name;
  const char* data;  // after Clear Unit and WTD 00 08 unless it starts with "04"
  std::vector<uint8_t> error;
  bool atEnd = false;  // the fault is the end of the record
};

TEST(Te5250Stream, MalformedInputSendsOneParameterErrorAndStops) {
  const ErrorCase cases[] = {
      {"SBA row past the screen", "11 1A 01 C1", Hex("10 05 01 22")},
      {"SBA column past the screen", "11 01 51 C1", Hex("10 05 01 22")},
      {"unknown order", "05 C1", Hex("10 03 01 01")},
      {"record ends inside SBA", "11 05", Hex("10 05 01 21"), true},
      {"record ends after the escape", "04", Hex("10 05 01 21"), true},
      {"record ends inside SF", "11 02 01 1D 40 00 24 00", Hex("10 05 01 21"), true},
      {"record ends inside TD", "11 02 01 10 00 05 C1 C2", Hex("10 05 01 21"), true},
      {"SOH length 0", "01 00", Hex("10 05 01 2B")},
      {"SOH length 8", "01 08 00 00 00 00 00 00 00 00", Hex("10 05 01 2B")},
      {"SF attribute without 0x20", "11 02 01 1D 40 00 10 00 05", Hex("10 05 01 30")},
      {"SF length 0", "11 02 01 1D 40 00 24 00 00", Hex("10 05 01 25")},
      {"SF past the last cell", "11 19 4F 1D 40 00 24 00 05", Hex("10 05 01 28")},
      {"SF signed numeric of length 1", "11 02 01 1D 47 00 24 00 01", Hex("10 05 01 25")},
      {"SF inside a field", "11 02 01 1D 40 00 24 00 0A 11 02 05 1D 40 00 24 00 02", Hex("10 05 01 26")},
      {"RA stop before the current address", "11 05 05 02 05 01 C1", Hex("10 05 01 23")},
      {"EA stop before the current address", "11 05 05 03 05 01 02 00", Hex("10 05 01 23")},
      {"EA length out of range", "11 05 05 03 05 09 01", Hex("10 05 01 21")},
      {"data at row 1 column 0", "11 01 00 C1", Hex("10 05 01 22")},
      {"RA at row 1 column 0", "11 01 00 02 01 05 C1", Hex("10 05 01 22")},
      {"EA at row 1 column 0", "11 01 00 03 01 05 02 00", Hex("10 05 01 22")},
      {"TD at row 1 column 0", "11 01 00 10 00 01 C1", Hex("10 05 01 22")},
      {"MC row past the screen", "14 1A 01", Hex("10 05 01 22")},
      {"output-only field past the last cell", "11 19 4F 1D 24 00 05", Hex("10 05 01 25")},
      {"TD past the last cell", "11 19 50 10 00 02 C1 C2", Hex("10 05 01 2A")},
      {"character past the last cell", "11 19 50 C1 C2", Hex("10 05 01 28")},
      {"Write Error Code with nothing", "04 21", Hex("10 05 01 21")},
      {"IC in Write Error Code out of range", "04 21 C1 13 1A 01", Hex("10 05 01 22")},
      {"Clear Unit Alternate parameter", "04 20 01", Hex("10 03 01 05")},
      {"Write Structured Field other than query", "04 F3 00 05 D9 71 00", Hex("10 05 01 11")},
      {"Roll with top not above bottom", "04 23 01 05 05", Hex("10 05 01 2C")},
      {"Roll by more than its range", "04 23 05 02 05", Hex("10 05 01 2C")},
      {"unsupported command", "04 99", Hex("10 03 01 01")},
  };
  for (const ErrorCase& c : cases) {
    Station st;
    std::string data = c.data;
    if (data.rfind("04", 0) != 0)
      data = "04 40 04 11 00 08 " + data;
    else
      data = "04 40 " + data;
    // A character after the fault shows whether interpretation stopped.
    st.Host(OPCODE_PUTGET, c.atEnd ? data : data + " 04 11 00 00 11 03 03 C9");
    ASSERT_EQ(st.sent.size(), 1u) << c.name;
    EXPECT_EQ(st.LastFlags(), FLAG_ERR) << c.name;
    EXPECT_EQ(st.LastOpcode(), OPCODE_NOOP) << c.name;
    EXPECT_EQ(HexOf(st.LastData()), HexOf(c.error)) << c.name;
    EXPECT_NE(st.Cell(3, 3), 0xC9) << c.name << ": the rest of the record is not interpreted";
  }
}

TEST(Te5250Stream, AddressesAtTheScreenEdgesAreAccepted) {
  Station st;
  st.Screen("11 19 50 C1 11 01 00 1D 40 00 24 00 05");
  EXPECT_TRUE(st.sent.empty());
  EXPECT_EQ(st.Cell(25, 80), 0xC1);
  ASSERT_EQ(st.fields().Count(), 1);
  EXPECT_EQ(st.fields().Field(0).m_StartAddress, 0)
      << "a field after row 1 column 0 starts at the first cell";
  EXPECT_EQ(st.Cell(1, 6), k5250NormalAttr);
}

TEST(Te5250Stream, RepeatEraseAndTransparentData) {
  Station st;
  st.Screen("11 01 01 02 01 50 40 11 02 01 02 02 05 C1 11 02 03 03 02 04 02 00 11 03 01 10 00 03 C1 FF C3");
  EXPECT_EQ(st.Cells(1, 1, 80), std::vector<uint8_t>(80, 0x40));
  EXPECT_EQ(HexOf(st.Cells(2, 1, 6)), "C1 C1 00 00 C1 00");
  EXPECT_EQ(HexOf(st.Cells(3, 1, 3)), "C1 00 C3") << "0xFF in transparent data is skipped but takes its cell";
}

// Shift-out without its shift-in: at the last cell of the screen, with one
// byte of a pair at the end of a row, and inside a field.  Text, painting
// and editing stop at the row, the screen and the field.
TEST(Te5250Stream, ShiftOutWithoutShiftInStopsAtTheRowScreenAndField) {
  Station st;
  st.Screen("11 03 4F 0E 42 11 05 01 1D 40 00 24 00 05 0E 42 81 42 11 19 50 0E");
  EXPECT_TRUE(st.sent.empty());
  EXPECT_EQ(st.Cell(25, 80), 0x0E);
  for (int row : {3, 5, 25}) EXPECT_EQ(st.Row(row).size(), 80u) << "row " << row;
  st.view.runs.clear();
  st.ctrl.Redisplay();
  for (const ViewRun& run : st.view.runs)  // columns from 1
    EXPECT_LE(run.col - 1 + static_cast<int>(run.text.size()), 80) << "row " << run.row;
  // Editing in the field: its cells change, the cell after it does not.
  const uint8_t after = st.Cell(5, 7);
  st.ctrl.MoveCursor(5, st.s().m_CurSize.cy - 5);  // row 5, column 6: the last cell of the field
  for (int k : {K5250_BACKSPACE, K5250_DELETE}) {
    st.Key(k);
    st.Key(K5250_RESET);
  }
  st.Type("A");
  EXPECT_EQ(st.Cell(5, 7), after);
  EXPECT_EQ(st.Row(5).size(), 80u);
}

TEST(Te5250Stream, WriteToDisplayWithAFieldUnlocksAndPlacesTheCursor) {
  Station st;
  st.Host(OPCODE_PUTGET, "04 40 04 11 00 08 11 02 0A 1D 40 00 24 00 05");
  EXPECT_EQ(st.s().m_State, STATE_UNLOCKED);
  EXPECT_EQ(st.CursorRow(), 2);
  EXPECT_EQ(st.CursorCol(), 11);
  EXPECT_STREQ(st.view.status.Indicator(), "");
  EXPECT_EQ(st.Cell(2, 10), 0x24);
  EXPECT_EQ(st.Cell(2, 16), k5250NormalAttr);
}

TEST(Te5250Stream, RecordsLockTheKeyboardUntilTheHostUnlocks) {
  Station st;
  EXPECT_EQ(st.s().m_State, STATE_LOCKED);
  EXPECT_STREQ(st.view.status.Indicator(), "X SYSTEM");
  st.Host(OPCODE_PUTGET, "04 40 04 11 00 00 11 02 0A 1D 40 00 24 00 05");
  EXPECT_EQ(st.s().m_State, STATE_LOCKED) << "a field locks; without CC2 0x08 nothing unlocks";
}

TEST(Te5250Stream, ControlCharacterOneLocksAndEditsFieldsByItsTopBits) {
  // Field 1 non-bypass modified, field 2 bypass modified.
  struct Case {
    uint8_t cc1;
    bool mdt1, mdt2;
    bool null1, null2;
  };
  const Case cases[] = {
      {0x20, true, true, false, false},   {0x40, false, true, false, false},
      {0x60, false, false, false, false}, {0x80, true, true, true, false},
      {0xA0, false, true, true, false},   {0xC0, false, true, true, false},
      {0xE0, false, false, true, false},
  };
  for (const Case& c : cases) {
    Station st;
    st.Screen("11 02 01 1D 48 00 24 00 03 C1 C2 C3 11 03 01 1D 68 00 24 00 03 C4 C5 C6");
    ASSERT_TRUE(st.fields().Field(0).Modified() && st.fields().Field(1).Modified());
    st.s().m_AID = K5250_ENTER;
    char hex[64];
    snprintf(hex, sizeof hex, "04 11 %02X 00", c.cc1);
    st.Host(OPCODE_OUTPUT, hex);
    EXPECT_EQ(st.s().m_State, STATE_LOCKED) << std::hex << int(c.cc1);
    EXPECT_EQ(st.s().m_AID, 0);
    EXPECT_EQ(st.fields().Field(0).Modified(), c.mdt1) << std::hex << int(c.cc1);
    EXPECT_EQ(st.fields().Field(1).Modified(), c.mdt2) << std::hex << int(c.cc1);
    EXPECT_EQ(st.Cell(2, 2) == 0, c.null1) << std::hex << int(c.cc1);
    EXPECT_EQ(st.Cell(3, 2) == 0, c.null2) << std::hex << int(c.cc1);
  }
}

TEST(Te5250Stream, InsertCursorSetsHomeAndHomeKeyReturnsThere) {
  Station st;
  st.Screen("11 02 01 1D 40 00 24 00 0A 13 03 05");
  EXPECT_EQ(st.CursorRow(), 3);
  EXPECT_EQ(st.CursorCol(), 5);
  st.Key(K5250_RIGHT);
  st.Key(K5250_DOWN);
  EXPECT_EQ(st.CursorCol(), 6);
  st.Key(K5250_HOME);
  EXPECT_EQ(st.CursorRow(), 3);
  EXPECT_EQ(st.CursorCol(), 5);
}

TEST(Te5250Stream, StartOfHeaderSetsMaskErrorRowAndClearsTheFormatTable) {
  Station st;
  st.Screen("11 02 01 1D 40 00 24 00 05 01 07 00 00 00 18 00 00 10");
  EXPECT_EQ(st.fields().Count(), 0);
  EXPECT_EQ(st.fields().m_ErrorRow, 24);
  EXPECT_TRUE(st.fields().IgnoresKey(5));
  EXPECT_FALSE(st.fields().IgnoresKey(4));
  // An error row outside the screen leaves the message row alone.
  st.Screen("01 04 00 00 00 40");
  EXPECT_EQ(st.fields().m_ErrorRow, 25);
}

TEST(Te5250Stream, RollMovesRowsInsideItsRange) {
  Station st;
  st.Screen("11 02 01 C1 11 03 01 C2 11 04 01 C3 11 05 01 C4");
  st.Host(OPCODE_OUTPUT, "04 23 01 02 05");  // up by one within rows 2..5
  EXPECT_EQ(st.Cell(2, 1), 0xC2);
  EXPECT_EQ(st.Cell(4, 1), 0xC4);
  EXPECT_EQ(st.Cell(5, 1), 0xC4) << "the row left behind keeps its content";
  st.Host(OPCODE_OUTPUT, "04 23 82 02 05");  // down by two
  EXPECT_EQ(st.Cell(4, 1), 0xC2);
  EXPECT_EQ(st.Cell(5, 1), 0xC3);
}

TEST(Te5250Stream, WriteErrorCodeShowsOnTheMessageRowUntilReset) {
  Station st;
  st.Screen("11 02 01 1D 40 00 24 00 05 11 19 01 C1 C2");
  st.Host(OPCODE_PUTGET, "04 21 22 C5 99 99 96 99 13 02 04");
  EXPECT_EQ(st.s().m_State, STATE_ERROR);
  EXPECT_STREQ(st.view.status.Indicator(), "X II");
  EXPECT_EQ(st.Row(25).substr(0, 6), " Error");
  EXPECT_EQ(st.CursorRow(), 2);
  EXPECT_EQ(st.CursorCol(), 4);
  st.Key(K5250_RESET);
  EXPECT_EQ(st.s().m_State, STATE_UNLOCKED);
  EXPECT_EQ(st.Row(25).substr(0, 3), "AB ") << "the saved message row comes back";
}

TEST(Te5250Stream, ClearUnitAlternateGives27x132AndClearUnitGoesBack) {
  Station st;
  st.Host(OPCODE_PUTGET, "04 20 00 04 11 00 08 11 1B 84 C1");
  EXPECT_EQ(st.s().m_CurSize.cx, 132);
  EXPECT_EQ(st.s().m_CurSize.cy, 28);
  EXPECT_EQ(st.view.cols, 132);
  EXPECT_EQ(st.view.rows, 28);
  EXPECT_EQ(st.Cell(27, 132), 0xC1);
  st.Screen("");
  EXPECT_EQ(st.s().m_CurSize.cx, 80);
  EXPECT_EQ(st.s().m_CurSize.cy, 25);
}

TEST(Te5250Stream, CancelInviteAnswersAndStopsReplies) {
  Station st;
  st.Screen("11 02 01 1D 40 00 24 00 05 04 52 00 00");
  st.Host(OPCODE_CANCELINVITE, "");
  ASSERT_EQ(st.sent.size(), 1u);
  EXPECT_EQ(st.LastOpcode(), OPCODE_CANCELINVITE);
  EXPECT_EQ(st.LastData().size(), 0u);
  st.Key(K5250_ENTER);
  EXPECT_EQ(st.sent.size(), 1u) << "nothing goes out while not invited";
}

// ---- replies ----

TEST(Te5250Replies, ReadMdtSendsModifiedFieldsWithoutTrailingNulls) {
  Station st;
  st.Screen("11 05 02 1D 40 00 24 00 0A 11 06 02 1D 40 00 24 00 05 04 52 00 00");
  st.ctrl.MoveCursor(2, 25 - 5);  // row 5, column 3
  st.Type("AB");
  st.Key(K5250_ENTER);
  ASSERT_EQ(st.sent.size(), 1u);
  EXPECT_EQ(st.LastOpcode(), OPCODE_PUTGET);
  EXPECT_EQ(HexOf(st.LastData()), "05 05 F1 11 05 03 C1 C2");
  EXPECT_FALSE(st.fields().Field(0).Modified()) << "a field sent has its MDT reset";
}

TEST(Te5250Replies, ReadInputFieldsSendsEveryFieldWithNullsAsBlanks) {
  Station st;
  st.Screen("11 05 02 1D 40 00 24 00 03 11 06 02 1D 40 00 24 00 02 04 42 00 00");
  st.Type("A");
  st.Key(K5250_ENTER);
  EXPECT_EQ(HexOf(st.LastData()), "05 04 F1 C1 40 40 40 40");
}

TEST(Te5250Replies, ReadMdtAlternateKeepsEmbeddedNulls) {
  Station st;
  st.Screen("11 05 02 1D 40 00 24 00 05 04 82 00 00");
  st.Type("A");
  st.Key(K5250_RIGHT);
  st.Type("B");
  st.Key(K5250_ENTER);
  EXPECT_EQ(HexOf(st.LastData()), "05 06 F1 11 05 03 C1 00 C2");
}

TEST(Te5250Replies, MaskedCommandKeyReturnsNoData) {
  Station st;
  st.Screen("01 07 00 00 00 00 00 00 10 11 05 02 1D 40 00 24 00 05 04 42 00 00");
  st.Type("X");
  st.Key(K5250_PF1 + 4);  // PF5, masked
  EXPECT_EQ(HexOf(st.LastData()), "05 04 35");
  st.Host(OPCODE_PUTGET, "04 11 00 08 04 42 00 00");
  st.Key(K5250_PF1 + 5);  // PF6 returns data
  EXPECT_EQ(HexOf(st.LastData()), "05 03 36 E7 40 40 40 40");
}

TEST(Te5250Replies, AidBeforeTheReadIsAnsweredWhenTheReadArrives) {
  Station st;
  st.Screen("11 05 02 1D 40 00 24 00 02");
  st.Type("Q");
  st.Key(K5250_ENTER);
  ASSERT_EQ(st.sent.size(), 1u);
  EXPECT_EQ(HexOf(st.LastData()), "05 04 F1") << "with no read pending only the cursor and AID go";
  st.Host(OPCODE_PUTGET, "04 52 00 00");
  ASSERT_EQ(st.sent.size(), 2u);
  EXPECT_EQ(HexOf(st.LastData()), "05 04 F1 11 05 03 D8");
}

TEST(Te5250Replies, ImmediateAndScreenReads) {
  Station st;
  st.Screen("11 05 02 1D 40 00 24 00 02 11 01 01 C1");
  st.Type("Q");
  st.Host(OPCODE_READIMMEDIATE, "04 72");
  EXPECT_EQ(st.LastOpcode(), OPCODE_READIMMEDIATE);
  EXPECT_EQ(HexOf(st.LastData()), "D8 40");
  st.Host(OPCODE_READSCREEN, "04 62");
  EXPECT_EQ(st.LastOpcode(), OPCODE_READSCREEN);
  ASSERT_EQ(st.LastData().size(), 2000u);
  EXPECT_EQ(st.LastData()[0], 0xC1);
}

TEST(Te5250Replies, QueryReplyGivesTheModelInEbcdicDigits) {
  struct Case {
    int emulation;
    const char* device;
    uint8_t capability;
  };
  const Case cases[] = {{KVX_EM_IBM5250, "F3 F1 F7 F9 F0 F0 F2", 0x11},
                        {KVX_EM_IBM3270_MODEL2, "F3 F1 F7 F9 F0 F0 F2", 0x11},
                        {KVX_EM_IBM5250_3477, "F3 F4 F7 F7 F0 C6 C3", 0x51}};
  for (const Case& c : cases) {
    Station st(c.emulation);
    st.Host(OPCODE_PUTGET, "04 F3 00 05 D9 70 00");
    ASSERT_EQ(st.sent.size(), 1u);
    std::vector<uint8_t> d = st.LastData();
    ASSERT_EQ(d.size(), 61u);
    EXPECT_EQ(HexOf(std::vector<uint8_t>(d.begin(), d.begin() + 10)), "01 01 88 00 3A D9 70 80 06 00");
    EXPECT_EQ(HexOf(std::vector<uint8_t>(d.begin() + 30, d.begin() + 37)), c.device) << c.emulation;
    EXPECT_EQ(d[29], 0x01);
    EXPECT_EQ(d[37], 0x02);
    EXPECT_EQ(d[44], 0x01);
    EXPECT_EQ(d[49], 0x7F);
    EXPECT_EQ(d[50], c.capability);
  }
}

// ---- saved screens ----

TEST(Te5250Image, CompressionRules) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"11 41", "11 11 01 41"},
      {"40 40 40", "40 40 40"},
      {"40 40 40 40", "11 40 04"},
      {"11 11", "11 11 02"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> in = Hex(c.in), out;
    CDataStream::Compress(in.data(), in.size(), out);
    EXPECT_EQ(HexOf(out), HexOf(Hex(c.out))) << c.in;
    std::vector<uint8_t> back;
    ASSERT_TRUE(CDataStream::Decompress(out.data(), out.size(), back, 100));
    EXPECT_EQ(back, in);
  }
  std::vector<uint8_t> runs(1000, 0x00), out, back;
  CDataStream::Compress(runs.data(), runs.size(), out);
  EXPECT_FALSE(CDataStream::Decompress(out.data(), out.size(), back, 999)) << "output is capped";
  std::vector<uint8_t> cut = Hex("11 40");
  EXPECT_FALSE(CDataStream::Decompress(cut.data(), cut.size(), back, 100));
}

// Everything a restore must bring back.
struct Snapshot {
  std::vector<uint8_t> buffer;
  std::vector<std::string> fields;
  int cursor, home, cols, rows, errorRow;
  uint32_t mask;
  bool operator==(const Snapshot&) const = default;
};

static Snapshot Snap(Station& st) {
  Snapshot s{st.s().m_CharBuffer,    {},
             st.s().m_CursorAddress, st.s().m_HomeAddress,
             st.s().m_CurSize.cx,    st.s().m_CurSize.cy,
             st.fields().m_ErrorRow, st.fields().m_IgnoreKeys};
  for (int i = 0; i < st.fields().Count(); i++) {
    const FieldDescriptor& f = st.fields().Field(i);
    char b[96];
    snprintf(b, sizeof b, "%d/%d/%04x/%d/%d%d%d", f.m_StartAddress, f.m_length, f.m_ffw, f.m_next,
             f.m_Transparent, f.m_EdgeTriggered, f.m_Selectable);
    s.fields.push_back(b);
  }
  return s;
}

TEST(Te5250Image, SaveThenRestoreGivesBackBufferFieldsAndCursor) {
  Station st;
  st.Screen(
      "01 07 00 00 00 18 00 00 04 11 04 01 20 C1 C2 11 05 01 1D 47 00 24 00 06 11 06 01 1D 40 00 81 02 24 00 "
      "04 11 "
      "07 01 1D 48 20 84 01 24 00 04 11 11 11 11 11 11 40 40 40 40 40 40");
  st.Type("12");
  const Snapshot before = Snap(st);
  st.Host(OPCODE_SAVE, "04 02 04 40");
  ASSERT_EQ(st.sent.size(), 1u);
  EXPECT_EQ(st.LastOpcode(), OPCODE_SAVE);
  std::vector<uint8_t> image = st.LastData();
  ASSERT_GE(image.size(), 4u);
  EXPECT_EQ(HexOf(std::vector<uint8_t>(image.begin(), image.begin() + 2)), "04 12");
  EXPECT_EQ(st.s().m_CurSize.cy, 25) << "the rest of a Save Screen record is ignored";

  st.Host(OPCODE_PUTGET, "04 20 00 04 11 00 08 11 02 02 1D 40 00 24 00 03");  // something else entirely
  st.Host(OPCODE_RESTORE, image);
  EXPECT_EQ(st.sent.size(), 1u) << "no error";
  EXPECT_TRUE(Snap(st) == before);
}

TEST(Te5250Image, FullFieldTablesAndLongErrorLinesSurvive) {
  Station st;
  std::string orders = "04 20 00 04 11 00 08 ";
  std::vector<uint8_t> data = Hex(orders);
  for (int f = 0; f < 256; f++) {
    data.push_back(0x11);
    data.push_back(static_cast<uint8_t>(1 + f / 10));
    data.push_back(static_cast<uint8_t>(2 + (f % 10) * 12));
    for (uint8_t b : Hex("1D 40 00 24 00 0A")) data.push_back(b);
  }
  st.Host(OPCODE_PUTGET, data);
  ASSERT_EQ(st.fields().Count(), 256);
  // A message row of 0x11 bytes compresses to more than 255 bytes.
  std::vector<uint8_t> wec = Hex("04 21");
  wec.insert(wec.end(), 132, 0x11);
  st.Host(OPCODE_PUTGET, wec);
  const Snapshot before = Snap(st);
  std::vector<uint8_t> savedLine = st.s().m_ErrorLine;
  st.Host(OPCODE_SAVE, "04 02");
  std::vector<uint8_t> image = st.LastData();
  st.Screen("");
  st.Host(OPCODE_RESTORE, image);
  EXPECT_TRUE(Snap(st) == before);
  EXPECT_EQ(st.fields().Count(), 256);
  EXPECT_EQ(st.s().m_ErrorLine, savedLine);
}

TEST(Te5250Image, RestoreRefusesImagesNoStationCouldHaveMade) {
  Station st;
  st.Screen("11 02 02 1D 40 00 24 00 05");
  st.Host(OPCODE_SAVE, "04 02");
  const std::vector<uint8_t> good = st.LastData();
  auto patched = [&](size_t at, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> v = good;
    std::copy(bytes.begin(), bytes.end(), v.begin() + static_cast<long>(at));
    return v;
  };
  // Offsets in the image: 4 columns, 6 rows, 8 cursor, 10 home.
  struct Case {
    const char* name;
    std::vector<uint8_t> image;
  };
  std::vector<uint8_t> truncated(good.begin(), good.end() - 1);
  truncated[3] = static_cast<uint8_t>(truncated[3] - 1);
  std::vector<uint8_t> trailing = good;
  trailing.push_back(0x40);
  trailing[3] = static_cast<uint8_t>(trailing[3] + 1);
  const Case cases[] = {
      {"a size no 5250 has", patched(4, {0x00, 0x50, 0x00, 0x1E})},
      {"a huge size", patched(4, {0x7F, 0xFF, 0x7F, 0xFF})},
      {"cursor outside the screen", patched(8, {0x07, 0xD0})},
      {"home outside the screen", patched(10, {0x07, 0xD0})},
      {"image cut short", truncated},
      {"bytes after the image", trailing},
  };
  for (const Case& c : cases) {
    Station other;
    other.Screen("11 03 03 C1");
    const std::vector<uint8_t> buffer = other.s().m_CharBuffer;
    other.Host(OPCODE_RESTORE, c.image);
    ASSERT_EQ(other.sent.size(), 1u) << c.name;
    EXPECT_EQ(other.LastFlags(), FLAG_ERR) << c.name;
    EXPECT_EQ(other.s().m_CharBuffer, buffer) << c.name << ": nothing changes";
    EXPECT_EQ(other.s().m_CurSize.cx, 80) << c.name;
  }
}

TEST(Te5250Image, RestoreErrorSaysWhatIsWrongWithTheImage) {
  Station st;
  st.Host(OPCODE_SAVE, "04 02");
  const std::vector<uint8_t> good = st.LastData();
  std::vector<uint8_t> badSize = good;
  badSize[7] = 0x1E;  // 30 rows
  std::vector<uint8_t> cut(good.begin(), good.end() - 1);
  cut[3] = static_cast<uint8_t>(cut[3] - 1);
  const struct {
    const char* name;
    std::vector<uint8_t> image;
    const char* error;
  } cases[] = {{"a size no 5250 has", badSize, "10 05 01 22"}, {"image cut short", cut, "10 05 01 21"}};
  for (const auto& c : cases) {
    Station other;
    other.Host(OPCODE_RESTORE, c.image);
    ASSERT_EQ(other.sent.size(), 1u) << c.name;
    EXPECT_EQ(HexOf(other.LastData()), c.error) << c.name;
  }
}

TEST(Te5250Image, RestoreDecompressesIntoTheScreenOnly) {
  Station st;
  st.Host(OPCODE_SAVE, "04 02");
  std::vector<uint8_t> image = st.LastData();
  // No fields and no saved message row: the buffer's length is at offset 30.
  ASSERT_EQ(HexOf(std::vector<uint8_t>(image.begin() + 26, image.begin() + 30)), "00 00 00 00");
  image.resize(30);
  std::vector<uint8_t> runs;
  for (int i = 0; i < 10; i++) runs.insert(runs.end(), {0x11, 0x40, 0xFF});  // 2550 cells
  image.push_back(static_cast<uint8_t>(runs.size() >> 8));
  image.push_back(static_cast<uint8_t>(runs.size()));
  image.insert(image.end(), runs.begin(), runs.end());
  const size_t rest = image.size() - 4;
  image[2] = static_cast<uint8_t>(rest >> 8);
  image[3] = static_cast<uint8_t>(rest);
  st.Host(OPCODE_RESTORE, image);
  ASSERT_EQ(st.sent.size(), 2u);
  EXPECT_EQ(st.LastFlags(), FLAG_ERR);
  EXPECT_EQ(st.s().m_CharBuffer.size(), 80u * 24u);
}

// ---- screen hash and display ----

TEST(Te5250Screen, HashFollowsAttributePositions) {
  CTe5250Ctrl ctrl;
  ctrl.m_pSession->m_CharBuffer.assign(ctrl.m_pSession->m_CharBuffer.size(), 0);
  EXPECT_EQ(ctrl.ScreenHash(), "d41d8cd98f00b204e9800998ecf8427e");
  Station a, b;
  a.Screen("11 02 01 22 C1 11 03 01 24");
  b.Screen("11 02 01 22 C2 11 03 01 24");
  EXPECT_EQ(a.ctrl.ScreenHash(), b.ctrl.ScreenHash()) << "text does not count";
  b.Screen("11 02 02 22 C2 11 03 01 24");
  EXPECT_NE(a.ctrl.ScreenHash(), b.ctrl.ScreenHash());
  EXPECT_EQ(a.ctrl.ScreenHash().size(), 32u);
}

TEST(Te5250Screen, AttributesShowAsBlankCellsAndColourTheirRun) {
  Station st;
  st.Screen("11 01 01 22 C1 C2 C3 27 C4 C5 20 C6");
  EXPECT_EQ(st.Row(1).substr(0, 10), " ABC    F ");
  st.view.runs.clear();
  st.ctrl.Redisplay();
  ASSERT_GE(st.view.runs.size(), 3u);
  EXPECT_EQ(st.view.runs[0].text, u" ");
  EXPECT_EQ(st.view.runs[0].col, 1);
  EXPECT_EQ(st.view.runs[1].text.substr(0, 3), u"ABC");
  EXPECT_EQ(st.view.runs[1].col, 2);
  EXPECT_EQ(st.view.runs[1].data.m_Foreground, 0xFFFFFFFFu) << "0x22 is white";
  // Characters under a non-display attribute are blanks.
  bool hiddenBlank = false;
  for (const ViewRun& r : st.view.runs)
    if (r.row == 1 && r.col == 6) hiddenBlank = r.text.substr(0, 2) == u"  ";
  EXPECT_TRUE(hiddenBlank);
  st.ctrl.SetShowAttributes(true);
  bool shown = false;
  for (const ViewRun& r : st.view.runs)
    if (r.row == 1 && r.col == 1 && r.text == u"\x62") shown = true;
  EXPECT_TRUE(shown) << "with show-attributes the attribute cell shows its byte + 0x40";
}

TEST(Te5250Screen, ColourSettingsIgnoreMissingColours) {
  Station st;
  EXPECT_EQ(st.ctrl.SetFGColorWithColor(10, -1), 0);  // a colour key of 0, minus one
  EXPECT_EQ(st.ctrl.GetFGColor(0x20), 10);
  EXPECT_EQ(st.ctrl.SetFGColorWithColor(10, 14), 0);
  EXPECT_EQ(st.ctrl.GetFGColor(0x20), 14);
  EXPECT_EQ(st.ctrl.GetFGColor(0x24), 14);
  EXPECT_EQ(st.ctrl.GetFGColor(0x22), 15);
  EXPECT_EQ(st.ctrl.SetBGColorWithColor(-1), 0);
  EXPECT_EQ(st.ctrl.GetBGColor(0x22), 0);
  EXPECT_EQ(st.ctrl.SetFGColor(0x40, 3), -1);
  EXPECT_EQ(st.ctrl.SetFGColor(0x22, 19), -1);
  EXPECT_EQ(st.ctrl.GetFGColor(0x1E), -1);
}

TEST(Te5250Screen, ModelsAndTheirNames) {
  EXPECT_STREQ(CTe5250Ctrl::GetNameByIndex(0), "IBM-5555-C01");
  EXPECT_STREQ(CTe5250Ctrl::GetNameByIndex(1), "IBM-3477-FC");
  EXPECT_STREQ(CTe5250Ctrl::GetNameByIndex(2), "IBM-3179-2");
  EXPECT_STREQ(CTe5250Ctrl::GetNameByIndex(3), "UNKNOWN");
  Station big(KVX_EM_IBM5250_3477);
  EXPECT_EQ(big.s().m_CurSize.cx, 132);
  EXPECT_EQ(big.s().m_CurSize.cy, 27);
  EXPECT_EQ(big.ctrl.GetEmulation(), KVX_EM_IBM5250_3477);
  Station small(KVX_EM_IBM3270_MODEL2);
  EXPECT_EQ(small.s().m_CurSize.cy, 24);
  EXPECT_EQ(small.view.rows, 24);
  EXPECT_EQ(small.ctrl.GetEmulation(), KVX_EM_IBM3270_MODEL2);
  EXPECT_STREQ(small.view.status.Indicator(), "X SYSTEM");
  small.ctrl.SetEmulation(99);
  EXPECT_EQ(small.ctrl.GetEmulation(), KVX_EM_IBM3270_MODEL2);
  // Model indexes as the settings give them; anything else is the default.
  small.ctrl.SetModel(1);
  EXPECT_EQ(small.s().m_CurSize.cx, 132);
  small.ctrl.SetModel(-1);
  EXPECT_EQ(small.ctrl.Model(), EMU_5555);
  EXPECT_EQ(small.s().m_CurSize.cx, 80);
}

}  // namespace

// ---- the formatted text window as the station's screen ----


namespace {

struct WindowStation {
  WindowStation() : view(&window) {
    ctrl.SetView(&view);
    ctrl.SetEmulation(KVX_EM_IBM5250);
    ctrl.OnConnect();
  }
  void Host(const std::string& hex) {
    std::vector<uint8_t> r = HostRecord(OPCODE_PUTGET, Hex(hex));
    ctrl.GotData(r.data(), r.size(), true);
  }
  // Window row of a 1-based screen row.
  int WinRow(int row) { return window.NumberLines - row; }
  std::string Text(int row, int col, int n) {
    std::string s;
    for (int c = col - 1; c < col - 1 + n; c++) s += static_cast<char>(fws_charat(&window, WinRow(row), c));
    return s;
  }
  fws_window window;
  CFwsCtrl view;
  CTe5250Ctrl ctrl;
};

TEST(Te5250Window, ScreenSizeFollowsTheModelAndClearUnit) {
  WindowStation ws;
  EXPECT_EQ(ws.window.NumberLines, 24);
  EXPECT_EQ(ws.window.NumberColumns, 80);
  EXPECT_TRUE(ws.window.is5250);
  EXPECT_STREQ(ws.window.status_msg, "X SYSTEM");
  ws.Host("04 40 04 11 00 08");
  EXPECT_EQ(ws.window.NumberLines, 25);
  EXPECT_EQ(ws.window.wndsize.y, 25);
  EXPECT_STREQ(ws.window.status_msg, "");
  ws.Host("04 20 00 04 11 00 08");
  EXPECT_EQ(ws.window.NumberLines, 28);
  EXPECT_EQ(ws.window.NumberColumns, 132);
  EXPECT_EQ(ws.window.wndsize.x, 132);
  // A screen smaller than 24 rows keeps a window of its own size.
  ws.ctrl.SetEmulatorSize(10, 40);
  EXPECT_EQ(ws.window.wndsize.y, 10);
  EXPECT_EQ(ws.window.wndsize.x, 40);
  EXPECT_EQ(ws.window.sblines, 0u);
  EXPECT_EQ(ws.ctrl.m_pSession->m_CharBuffer.size(), 400u);
}

TEST(Te5250Window, AttributeCellsTextColoursAndFlags) {
  WindowStation ws;
  ws.Host(
      "04 40 04 11 00 08 11 01 01 22 C1 C2 C3 28 C4 27 C5 C6 20 11 02 05 1D 40 00 25 00 03 C7 11 03 01 3A");
  EXPECT_EQ(ws.Text(1, 1, 11), " ABC D     ") << "attribute cells and hidden text show blanks";
  EXPECT_EQ(ws.Text(1, 1, 4), " ABC");
  COLORREF fg[80];
  fws_rowcolors(&ws.window, ws.WinRow(1), fg, nullptr, 80);
  EXPECT_EQ(fg[1], 0xFFFFFFFFu) << "0x22 white";
  EXPECT_EQ(fg[5], 0xFF0000FFu) << "0x28 red";
  EXPECT_EQ(ColorToIndex(&ws.window, fg[5]), 12);
  EXPECT_EQ(fws_xgetflags(&ws.window, ws.WinRow(1), 0) & FWS_CF_FIELDATTR, FWS_CF_FIELDATTR);
  EXPECT_EQ(fws_xgetflags(&ws.window, ws.WinRow(1), 7) & FWS_CF_NONDISPLAY, FWS_CF_NONDISPLAY);
  EXPECT_EQ(fws_xgetflags(&ws.window, ws.WinRow(1), 1) & FWS_CF_PROTECTED, FWS_CF_PROTECTED);
  // The input field: reverse and underline, not protected.
  EXPECT_EQ(fws_xgetattr(&ws.window, ws.WinRow(2), 5) & (FWS_A_REVERSE | FWS_A_UNDERLINE),
            FWS_A_REVERSE | FWS_A_UNDERLINE);
  EXPECT_EQ(fws_xgetflags(&ws.window, ws.WinRow(2), 5) & FWS_CF_PROTECTED, 0);
  EXPECT_EQ(ws.window.caret.x, 5) << "the caret is the cursor: row 2, column 6";
  EXPECT_EQ(ws.window.caret.y, ws.WinRow(2));
  ws.ctrl.ProcessChar('x');
  EXPECT_EQ(ws.Text(2, 6, 3), "x  ");
  EXPECT_EQ(ws.window.caret.x, 6);
  EXPECT_EQ(fws_xgetflags(&ws.window, ws.WinRow(2), 5) & FWS_CF_MODIFIED, FWS_CF_MODIFIED);
  EXPECT_GE(ws.window.highestUpdate, ws.window.lowestUpdate);
}

TEST(Te5250Window, ErrorsRingAndShowInTheStatus) {
  WindowStation ws;
  ws.Host("04 40 04 11 00 08 11 02 05 1D 45 00 24 00 03");
  const int bells = ws.window.bells;
  ws.ctrl.ProcessChar('A');
  EXPECT_EQ(ws.window.bells, bells + 1);
  EXPECT_STREQ(ws.window.status_msg, "X II");
  EXPECT_EQ(ws.view.Status().errorCode, 10);
  EXPECT_EQ(ws.Text(25, 1, 6), " 0010 ");
  ws.ctrl.ProcessKey(K5250_RESET);
  EXPECT_STREQ(ws.window.status_msg, "");
  EXPECT_EQ(ws.Text(25, 1, 6), "      ");
}

}  // namespace
