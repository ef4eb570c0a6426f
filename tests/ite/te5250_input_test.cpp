// The 5250 format table and the operator's keys: field rules, field exit,
// editing, AID keys, the system request line and the operator errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "station5250.h"
#include "tcs.h"

namespace {

// ---- the format table ----

TEST(Te5250Fields, FieldWithoutAddressFollowsThePreviousOne) {
  Station st;
  st.Screen("11 01 0A 1D 40 00 24 00 0A 1D 40 00 24 00 05");
  ASSERT_EQ(st.fields().Count(), 2);
  EXPECT_EQ(st.fields().Field(0).m_StartAddress, 10);
  EXPECT_EQ(st.fields().Field(0).End(), 19);
  EXPECT_EQ(st.fields().Field(1).m_StartAddress, 21);
  EXPECT_EQ(st.s().m_CharBuffer[20], 0x24) << "its attribute sits between the two";
}

TEST(Te5250Fields, ResequenceWalkVisitsEachFieldOnceAndEndsOnBadIndexes) {
  struct Case {
    const char* name;
    const char* reseq;  // FCW resequence values of fields 1..3
    int start;
    std::vector<int> order;
  };
  const Case cases[] = {
      {"a chain", "03 00 02", 1, {0, 2, 1}},       {"a loop", "02 01 01", 1, {0, 1}},
      {"a zero index", "00 02 03", 1, {0}},        {"an index past the table", "09 01 01", 1, {0}},
      {"start past the table", "02 03 01", 7, {}},
  };
  for (const Case& c : cases) {
    Station st;
    std::vector<uint8_t> r = Hex(c.reseq);
    char soh[64];
    snprintf(soh, sizeof soh, "01 03 00 00 %02X ", c.start);
    std::string orders = soh;
    for (int i = 0; i < 3; i++) {
      char f[64];
      snprintf(f, sizeof f, "11 %02X 02 1D 40 00 80 %02X 24 00 03 ", i + 2, r[static_cast<size_t>(i)]);
      orders += f;
    }
    st.Screen(orders);
    ASSERT_EQ(st.fields().Count(), 3) << c.name;
    std::vector<int> seen;
    st.fields().InitReseqGetNext();
    for (int i = st.fields().ReseqGetNextField(false, false); i >= 0 && seen.size() < 10;
         i = st.fields().ReseqGetNextField(false, false))
      seen.push_back(i);
    EXPECT_EQ(seen, c.order) << c.name;
  }
}

TEST(Te5250Fields, TableGrowsToItsLimitKeepingEveryField) {
  Station st;
  std::vector<uint8_t> data = Hex("04 20 00 04 11 00 08");
  for (int f = 0; f < 257; f++) {
    data.push_back(0x11);
    data.push_back(static_cast<uint8_t>(1 + f / 10));
    data.push_back(static_cast<uint8_t>(2 + (f % 10) * 12));
    // Every third field transparent, every fifth selectable.
    for (uint8_t b : Hex("1D 41 20")) data.push_back(b);
    if (f % 3 == 0) data.insert(data.end(), {0x84, 0x01});
    if (f % 5 == 0) data.insert(data.end(), {0x81, 0x02});
    for (uint8_t b : Hex("24 00 0A")) data.push_back(b);
  }
  st.Host(OPCODE_PUTGET, data);
  ASSERT_EQ(st.fields().Count(), 256);
  for (int f = 0; f < 256; f++) {
    const FieldDescriptor& d = st.fields().Field(f);
    EXPECT_EQ(d.m_ffw, 0x4120);
    EXPECT_EQ(d.m_length, 10);
    EXPECT_EQ(d.m_Transparent, f % 3 == 0) << f;
    EXPECT_EQ(d.m_Selectable, f % 5 == 0) << f;
  }
  ASSERT_EQ(st.sent.size(), 1u);
  EXPECT_EQ(HexOf(st.LastData()), "10 05 01 29") << "the 257th field is refused";
}

// ---- data entry ----

TEST(Te5250Keys, ShiftTypesAcceptOnlyTheirCharacters) {
  struct Case {
    uint16_t ffw;
    const char* good;
    char bad;
    int error;
  };
  const Case cases[] = {
      {0x4100, "Ab ,.-", '5', 8},   // alphabetic only
      {0x4300, "12 +,.-", 'A', 9},  // numeric only
      {0x4500, "0123", '-', 10},    // digits only
      {0x4700, "42", 'A', 10},      // signed numeric
      {0x4600, "", 'A', 4},         // I/O
  };
  for (const Case& c : cases) {
    Station st;
    char orders[64];
    snprintf(orders, sizeof orders, "11 02 02 1D %02X %02X 24 00 0A", c.ffw >> 8, c.ffw & 0xFF);
    st.Screen(orders);
    st.Type(c.good);
    EXPECT_EQ(st.ErrorCode(), 0) << std::hex << c.ffw;
    EXPECT_EQ(st.CursorCol(), 3 + static_cast<int>(strlen(c.good))) << std::hex << c.ffw;
    const std::vector<uint8_t> before = st.Cells(2, 3, 10);
    st.Type(std::string(1, c.bad));
    EXPECT_EQ(st.ErrorCode(), c.error) << std::hex << c.ffw;
    EXPECT_EQ(st.s().m_State, STATE_ERROR);
    EXPECT_EQ(st.Cells(2, 3, 10), before) << "the field is left as it was";
    EXPECT_EQ(st.Row(25).substr(0, 6),
              " 00" + std::to_string(c.error / 10) + std::to_string(c.error % 10) + " ");
    EXPECT_EQ(st.view.beeps, 1);
    st.Type("1");
    EXPECT_EQ(st.Cells(2, 3, 10), before) << "keys wait for Reset";
    st.Key(K5250_RESET);
    EXPECT_EQ(st.s().m_State, STATE_UNLOCKED);
    EXPECT_EQ(st.ErrorCode(), 0);
  }
}

TEST(Te5250Keys, MonocaseAndTypedCharactersReachTheHostCodePage) {
  Station st;
  st.Screen("11 02 02 1D 40 20 24 00 05 11 03 02 1D 40 00 24 00 05");
  st.Type("ab");
  EXPECT_EQ(HexOf(st.Cells(2, 3, 2)), "C1 C2");
  st.Key(K5250_TAB);
  // Internal codes (512 + character) are characters, not key codes.
  st.ctrl.ProcessKey(TCS_FIRST + 'x');
  uint16_t table[TCS_TCS2UNI_SIZE] = {};
  table[0x82] = 0x00E9;  // the internal code of é
  st.ctrl.SetTCS2Unicode(table);
  st.ctrl.ProcessKey(TCS_FIRST + 0x82);
  EXPECT_EQ(HexOf(st.Cells(3, 3, 2)), "A7 51");
}

TEST(Te5250Keys, FillingAFieldMovesOnOrStaysAsTheFieldSays) {
  struct Case {
    const char* name;
    const char* ffw;
    int row, col;  // where the cursor ends
    bool sends;
  };
  const Case cases[] = {
      {"plain field goes to the next field", "40 00", 3, 3, false},
      {"field exit required stays on the last cell", "40 40", 2, 5, false},
      {"right adjust stays on the last cell", "40 05", 2, 5, false},
      {"auto-enter sends Enter from the last cell", "40 80", 2, 5, true},
  };
  for (const Case& c : cases) {
    Station st;
    st.Screen(std::string("11 02 02 1D ") + c.ffw + " 24 00 03 11 03 02 1D 40 00 24 00 03 04 52 00 00");
    st.Type("ABC");
    EXPECT_EQ(st.CursorRow(), c.row) << c.name;
    EXPECT_EQ(st.CursorCol(), c.col) << c.name;
    EXPECT_EQ(st.sent.size(), c.sends ? 1u : 0u) << c.name;
    if (c.sends) {
      EXPECT_EQ(HexOf(st.LastData()), "02 05 F1 11 02 03 C1 C2 C3") << c.name;
    }
  }
  Station fer;
  fer.Screen("11 02 02 1D 40 40 24 00 03");
  fer.Type("ABCD");
  EXPECT_EQ(fer.ErrorCode(), 18) << "one more data key needs Field Exit";
  EXPECT_EQ(HexOf(fer.Cells(2, 3, 3)), "C1 C2 C3");
}

TEST(Te5250Keys, InsertModeNeedsRoomAtTheEnd) {
  Station st;
  st.Screen("11 02 02 1D 40 00 24 00 04");
  st.Type("ABC");
  st.Key(K5250_HOME);
  st.Key(K5250_INSERT);
  EXPECT_TRUE(st.view.status.insert);
  st.Type("X");
  EXPECT_EQ(HexOf(st.Cells(2, 3, 4)), "E7 C1 C2 C3");
  st.Type("Y");
  EXPECT_EQ(st.ErrorCode(), 12);
  EXPECT_EQ(HexOf(st.Cells(2, 3, 4)), "E7 C1 C2 C3");
}

TEST(Te5250Keys, DoubleByteCharacterNeedsFourCells) {
  // A code page whose table gives one character a double-byte code.
  char path[] = "/tmp/kvx5250cpXXXXXX.dat";
  const int fd = mkstemps(path, 4);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    std::ofstream f(path);
    f << "[DB.unicode]\n32=64\n65=193\n12354=17025\n";  // U+3042 -> 0x4281
  }
  for (int room : {5, 3}) {
    Station st;
    ASSERT_EQ(st.ctrl.SetEmInCP(path, "DB.unicode"), 0);
    char orders[64];
    snprintf(orders, sizeof orders, "11 02 02 1D 40 00 24 00 %02X", room);
    st.Screen(orders);
    st.Type("A");
    st.ctrl.ProcessChar(0x3042);
    if (room == 5) {
      EXPECT_EQ(st.ErrorCode(), 0);
      EXPECT_EQ(HexOf(st.Cells(2, 3, 5)), "C1 0E 42 81 0F");
    } else {
      EXPECT_EQ(st.ErrorCode(), 12);
      EXPECT_EQ(HexOf(st.Cells(2, 3, 3)), "C1 00 00");
    }
  }
  EXPECT_EQ(CTe5250Ctrl().SetEmInCP(path, "DB.cpi"), -1);
  EXPECT_EQ(CTe5250Ctrl().SetEmInCP(path, "Missing.unicode"), -1);
  unlink(path);
}

// ---- field exit ----

TEST(Te5250Keys, FieldMinusInASignedNumericField) {
  Station st;
  st.Screen("11 02 02 1D 47 00 24 00 05 11 03 02 1D 40 00 24 00 03");
  st.Type("12");
  st.Key(K5250_FIELDMINUS);
  EXPECT_EQ(HexOf(st.Cells(2, 3, 5)), "40 40 F1 F2 60");
  EXPECT_EQ(st.CursorRow(), 3);
  EXPECT_TRUE(st.fields().Field(0).Modified());
  st.Key(K5250_BACKTAB);
  st.Type("7");
  st.Key(K5250_FIELDPLUS);
  EXPECT_EQ(HexOf(st.Cells(2, 3, 5)), "40 40 40 F7 40");
}

TEST(Te5250Keys, FieldMinusInANumericFieldSignsTheLastDigitAfterAdjusting) {
  struct Case {
    const char* name;
    const char* ffw;
    int typedThenLeft;  // cursor moves left this many cells before Field-
    const char* cells;
  };
  const Case cases[] = {
      {"numeric only, cursor after the digits", "43 00", 0, "F1 F2 D3 00 00"},
      {"numeric only, cursor inside: the erase keeps the sign", "43 00", 1, "F1 D2 00 00 00"},
      {"digits only, zero fill", "45 05", 0, "F0 F0 F1 F2 D3"},
      {"numeric only, blank fill, cursor inside", "43 06", 1, "40 40 40 F1 D2"},
  };
  for (const Case& c : cases) {
    Station st;
    st.Screen(std::string("11 02 02 1D ") + c.ffw + " 24 00 05 11 03 02 1D 40 00 24 00 03");
    st.Type("123");
    for (int i = 0; i < c.typedThenLeft; i++) st.Key(K5250_LEFT);
    st.Key(K5250_FIELDMINUS);
    EXPECT_EQ(st.ErrorCode(), 0) << c.name;
    EXPECT_EQ(HexOf(st.Cells(2, 3, 5)), c.cells) << c.name;
  }
  Station bad;
  bad.Screen("11 02 02 1D 43 00 24 00 05");
  bad.Type("12.");
  bad.Key(K5250_FIELDMINUS);
  EXPECT_EQ(bad.ErrorCode(), 26);
  EXPECT_EQ(HexOf(bad.Cells(2, 3, 5)), "F1 F2 4B 00 00");
  Station alpha;
  alpha.Screen("11 02 02 1D 40 00 24 00 05");
  alpha.Key(K5250_FIELDMINUS);
  EXPECT_EQ(alpha.ErrorCode(), 16);
}

TEST(Te5250Keys, MandatoryFieldsAreCheckedBeforeTheHostSeesAnything) {
  Station st;
  // Field 1 mandatory entry, field 2 mandatory fill.
  st.Screen("11 02 02 1D 40 08 24 00 03 11 03 02 1D 40 07 24 00 03 13 03 03 04 52 00 00");
  st.Type("A");
  st.Key(K5250_TAB);
  EXPECT_EQ(st.ErrorCode(), 14) << "leaving a mandatory-fill field half full";
  st.Key(K5250_RESET);
  st.Type("BC");
  st.Key(K5250_ENTER);
  EXPECT_EQ(st.ErrorCode(), 21);
  EXPECT_EQ(st.CursorRow(), 2) << "the cursor goes to the empty mandatory-entry field";
  EXPECT_EQ(st.CursorCol(), 3);
  EXPECT_TRUE(st.sent.empty());
  st.Key(K5250_RESET);
  st.Type("Z");
  st.Key(K5250_ENTER);
  ASSERT_EQ(st.sent.size(), 1u);
}

TEST(Te5250Keys, MaskedCommandKeyPassesEmptyMandatoryFields) {
  Station st;
  st.Screen("01 07 00 00 00 00 00 00 04 11 02 02 1D 40 08 24 00 03 04 52 00 00");
  st.Key(K5250_PF1 + 2);
  EXPECT_EQ(st.ErrorCode(), 0);
  ASSERT_EQ(st.sent.size(), 1u);
  EXPECT_EQ(HexOf(st.LastData()), "02 03 33");
}

// ---- editing keys ----

TEST(Te5250Keys, EditingKeysWorkInsideTheField) {
  Station st;
  st.Screen("11 02 02 1D 50 00 24 00 05 11 03 02 1D 40 00 24 00 05");
  st.Type("ABCDE");  // moves on to the next field
  st.Key(K5250_BACKTAB);
  st.Key(K5250_RIGHT);
  st.Key(K5250_DELETE);
  EXPECT_EQ(HexOf(st.Cells(2, 3, 5)), "C1 C3 C4 C5 00");
  st.Key(K5250_RIGHT);
  st.Key(K5250_BACKSPACE);
  EXPECT_EQ(HexOf(st.Cells(2, 3, 5)), "C1 C4 C5 00 00");
  st.Key(K5250_ERASEEOF);
  EXPECT_EQ(HexOf(st.Cells(2, 3, 5)), "C1 00 00 00 00");
  st.Key(K5250_DUP);
  EXPECT_EQ(HexOf(st.Cells(2, 3, 5)), "C1 1C 1C 1C 1C");
  EXPECT_EQ(st.CursorRow(), 3) << "Dup moves on to the next field";
  st.Key(K5250_FIELDMARK);
  EXPECT_EQ(st.ErrorCode(), 19) << "the second field does not allow Dup or Field Mark";
  st.Key(K5250_RESET);
  st.Key(K5250_BACKTAB);
  st.Key(K5250_END);
  EXPECT_EQ(st.CursorCol(), 7);
  st.Key(K5250_ERASEINPUT);
  EXPECT_EQ(HexOf(st.Cells(2, 3, 5)), "00 00 00 00 00");
  EXPECT_TRUE(st.fields().Field(0).Modified()) << "Erase Input keeps the MDT";
}

// Delete, Erase to end of field and Dup stop short of a signed-numeric
// field's sign cell.
TEST(Te5250Keys, EditingKeysLeaveTheSignCell) {
  Station st;
  st.Screen("11 02 02 1D 57 00 24 00 05");  // signed numeric, Dup allowed
  st.Type("12");
  st.Key(K5250_FIELDMINUS);
  ASSERT_EQ(HexOf(st.Cells(2, 3, 5)), "40 40 F1 F2 60");
  ASSERT_EQ(st.CursorCol(), 3);
  st.Key(K5250_DELETE);
  EXPECT_EQ(HexOf(st.Cells(2, 3, 5)), "40 F1 F2 00 60");
  st.Key(K5250_RIGHT);
  st.Key(K5250_ERASEEOF);
  EXPECT_EQ(HexOf(st.Cells(2, 3, 5)), "40 00 00 00 60");
  st.Key(K5250_DUP);
  EXPECT_EQ(HexOf(st.Cells(2, 3, 5)), "40 1C 1C 1C 60");
  EXPECT_EQ(st.ErrorCode(), 0);
}

TEST(Te5250Keys, KeysThatNeedAFieldOutsideOne) {
  for (int key : {K5250_DELETE, K5250_ERASEEOF, K5250_FIELDEXIT, K5250_DUP, K5250_CURSORSELECT, K5250_END}) {
    Station st;
    st.Screen("11 02 02 1D 60 00 24 00 05 11 03 02 1D 40 00 24 00 05");
    st.ctrl.MoveCursor(40, 25 - 10);
    st.Key(key);
    EXPECT_EQ(st.ErrorCode(), 5) << key;
  }
  Station st;
  st.Screen("11 02 02 1D 40 00 24 00 05");
  st.ctrl.MoveCursor(40, 25 - 10);
  st.Type("A");
  EXPECT_EQ(st.ErrorCode(), 5);
}

TEST(Te5250Keys, CursorSelectTogglesTheMarkOfSelectableFields) {
  Station st;
  st.Screen("11 02 02 1D 40 00 81 02 24 00 01 11 03 02 1D 40 00 24 00 01 11 04 02 1D 40 40 81 02 24 00 01");
  st.Key(K5250_CURSORSELECT);
  EXPECT_EQ(st.Cell(2, 3), 0x6E);
  st.Key(K5250_CURSORSELECT);
  EXPECT_EQ(st.Cell(2, 3), 0x6F);
  EXPECT_FALSE(st.fields().Field(0).Modified());
  st.Key(K5250_TAB);
  st.Key(K5250_CURSORSELECT);
  EXPECT_EQ(st.ErrorCode(), 37);
  st.Key(K5250_RESET);
  st.Key(K5250_TAB);
  st.Key(K5250_CURSORSELECT);
  EXPECT_EQ(st.ErrorCode(), 36);
}

TEST(Te5250Keys, ArrowsWrapAndInputCapableOnlyStopsInFields) {
  Station st;
  st.Screen("11 05 0A 1D 40 00 24 00 05");
  st.ctrl.MoveCursor(0, 25 - 1);  // row 1, column 1
  st.Key(K5250_LEFT);
  EXPECT_EQ(st.CursorRow(), 24) << "the message row is not a cursor row";
  EXPECT_EQ(st.CursorCol(), 80);
  st.Key(K5250_DOWN);
  EXPECT_EQ(st.CursorRow(), 1);
  Station only;
  only.Screen("01 01 10 11 05 0A 1D 40 00 24 00 05");
  only.ctrl.MoveCursor(0, 25 - 1);
  only.Key(K5250_RIGHT);
  EXPECT_EQ(only.CursorRow(), 5);
  EXPECT_EQ(only.CursorCol(), 11);
}

TEST(Te5250Keys, BackspaceOutsideAFieldMovesLeftAndWraps) {
  Station st;
  st.Screen("11 05 0A 1D 40 00 24 00 05");
  st.ctrl.MoveCursor(1, 25 - 3);  // row 3, column 2
  st.Key(K5250_BACKSPACE);
  EXPECT_EQ(st.CursorCol(), 1);
  st.Key(K5250_BACKSPACE);
  EXPECT_EQ(st.CursorRow(), 2);
  EXPECT_EQ(st.CursorCol(), 80);
  st.ctrl.MoveCursor(0, 25 - 1);
  st.Key(K5250_BACKSPACE);
  EXPECT_EQ(st.CursorRow(), 24) << "the message row is not a cursor row";
  EXPECT_EQ(st.CursorCol(), 80);
  EXPECT_EQ(st.ErrorCode(), 0);
}

// ---- AID keys, errors, system request ----

TEST(Te5250Keys, HelpAfterAnOperatorErrorAsksTheHost) {
  Station st;
  st.Screen("11 02 02 1D 40 00 24 00 02 04 52 00 00");
  st.Type("AB");
  st.Key(K5250_BACKTAB);
  st.Key(K5250_INSERT);
  st.Type("C");
  EXPECT_EQ(st.ErrorCode(), 12);
  st.Key(K5250_HELP);
  ASSERT_EQ(st.sent.size(), 1u);
  EXPECT_EQ(st.LastFlags(), FLAG_HLP);
  EXPECT_EQ(st.LastOpcode(), OPCODE_NOOP);
  EXPECT_EQ(HexOf(st.LastData()), "00 12");
  EXPECT_EQ(st.s().m_State, STATE_ERROR_WAITING_FOR_HELP);
  st.Key(K5250_RESET);
  EXPECT_EQ(st.s().m_State, STATE_ERROR_WAITING_FOR_HELP) << "only the host ends the wait";
  st.Screen("11 02 02 1D 40 00 24 00 02");
  EXPECT_EQ(st.s().m_State, STATE_UNLOCKED) << "the host's answer unlocks the keyboard";
}

TEST(Te5250Keys, SystemRequestLine) {
  Station st;
  st.Screen("11 02 02 1D 40 00 24 00 02 11 19 01 C1 C2");
  st.Key(K5250_SYSREQ);
  EXPECT_EQ(st.s().m_State, STATE_SYSREQ);
  EXPECT_EQ(st.CursorRow(), 25);
  EXPECT_EQ(st.CursorCol(), 2);
  EXPECT_EQ(st.Cell(25, 1), 0x34);
  st.Type("3");
  st.Key(K5250_ENTER);
  ASSERT_EQ(st.sent.size(), 1u);
  EXPECT_EQ(st.LastFlags(), FLAG_SRQ);
  EXPECT_EQ(st.LastOpcode(), OPCODE_NOOP);
  EXPECT_EQ(HexOf(st.LastData()), "F3");
  EXPECT_EQ(st.s().m_State, STATE_UNLOCKED);
  EXPECT_EQ(st.Row(25).substr(0, 2), "AB") << "the message row comes back";
  EXPECT_EQ(st.CursorRow(), 2);
  st.Key(K5250_SYSREQ);
  st.Key(K5250_PF1);
  EXPECT_EQ(st.ErrorCode(), 6);
}

TEST(Te5250Keys, SystemRequestLineEditsOnlyTheMessageRow) {
  Station st;
  st.Screen("11 02 02 1D 40 00 24 00 05");
  st.Key(K5250_SYSREQ);
  st.Type("ABC");
  st.Key(K5250_LEFT);
  st.Key(K5250_LEFT);
  st.Key(K5250_DELETE);
  EXPECT_EQ(st.Row(25).substr(1, 3), "AC ");
  st.Key(K5250_ERASEEOF);
  EXPECT_EQ(st.Row(25).substr(1, 3), "A  ");
  st.Key(K5250_ENTER);
  EXPECT_EQ(HexOf(st.LastData()), "C1");
  EXPECT_FALSE(st.fields().Field(0).Modified()) << "no input field was edited";
}

// Without a home address from the host, Home, Erase Input and the end of a
// system request go to the first input field.
TEST(Te5250Keys, WithoutAHostHomeTheFirstInputFieldIsHome) {
  Station st;
  st.Host(
      OPCODE_PUTGET,
      "04 40 04 11 00 00 11 02 02 1D 60 00 24 00 05 11 05 0A 1D 40 00 24 00 05 11 07 0A 1D 40 00 24 00 05");
  st.Host(OPCODE_INVITE, "");
  ASSERT_EQ(st.s().m_State, STATE_UNLOCKED);
  ASSERT_EQ(st.s().m_HomeAddress, -1);
  auto home = [&](const char* what) {
    EXPECT_EQ(st.CursorRow(), 5) << what;
    EXPECT_EQ(st.CursorCol(), 11) << what;
  };
  st.ctrl.MoveCursor(12, 25 - 7);
  st.Key(K5250_HOME);
  home("Home");
  st.Key(K5250_TAB);
  st.Type("X");
  st.Key(K5250_ERASEINPUT);
  EXPECT_EQ(st.Cell(7, 11), 0x00);
  home("Erase Input");
  st.Key(K5250_TAB);
  st.Key(K5250_SYSREQ);
  st.Key(K5250_RESET);
  home("the end of a system request");
}

TEST(Te5250Keys, AttentionAndTestRequestRecords) {
  Station st;
  st.Screen("");
  for (int key : {K5250_ATTN, K5250_TESTREQ}) {
    st.Key(key);
    EXPECT_EQ(st.LastFlags(), key == K5250_ATTN ? FLAG_ATN : FLAG_TRQ);
    EXPECT_EQ(st.LastOpcode(), OPCODE_NOOP);
    EXPECT_TRUE(st.LastData().empty());
  }
  st.Key(K5250_ENTER);  // locks
  st.Key(K5250_ATTN);
  EXPECT_EQ(st.LastFlags(), FLAG_ATN) << "Attention works while locked";
}

// Keys typed while the keyboard is locked wait in the typeahead ring (no
// bell) and go, in order, when the host unlocks it; Attention does not
// wait, Reset empties the ring, Clear drops the keys ahead of it, a
// disconnect drops them all, and the ring is bounded.
TEST(Te5250Keys, LockedKeyboardTypesAhead) {
  Station st;
  st.Host(OPCODE_PUTGET, "04 40 04 11 00 00 11 02 02 1D 40 00 24 00 05");
  ASSERT_EQ(st.s().m_State, STATE_LOCKED);
  st.Type("A");
  st.Key(K5250_TAB);
  st.Type("B");
  EXPECT_EQ(st.view.beeps, 0);
  EXPECT_EQ(st.ctrl.Status().typeahead, 3);
  EXPECT_EQ(st.Cell(2, 3), 0x00);
  st.Key(K5250_ATTN);
  EXPECT_EQ(st.LastFlags(), FLAG_ATN) << "Attention does not wait";
  st.Host(OPCODE_PUTGET, "04 11 00 08");  // unlocks
  EXPECT_EQ(st.ctrl.Status().typeahead, 0);
  EXPECT_EQ(st.Cell(2, 3), 0xC2) << "A, then Tab back to the start of the only field, then B over it";
  EXPECT_EQ(st.Cell(2, 4), 0x00);
  st.Key(K5250_ENTER);  // locks until the host answers
  ASSERT_EQ(st.s().m_State, STATE_LOCKED);
  st.Type("CD");
  st.Key(K5250_RESET);
  EXPECT_EQ(st.ctrl.Status().typeahead, 0) << "Reset empties the ring";
  st.Type("EF");
  st.Key(K5250_CLEAR);
  EXPECT_EQ(st.ctrl.Status().typeahead, 1) << "Clear drops the keys ahead of it";
  st.ctrl.OnDisconnect();
  EXPECT_EQ(st.ctrl.Status().typeahead, 0) << "a disconnect drops them";
  st.view.beeps = 0;
  for (size_t i = 0; i < k5250Typeahead + 1; i++) st.Key(K5250_RIGHT);
  EXPECT_EQ(st.ctrl.Status().typeahead, static_cast<int>(k5250Typeahead));
  EXPECT_EQ(st.view.beeps, 1);
}

}  // namespace
