// The 3270 keyboard and replies: AID records, Read Buffer and Read
// Modified, the keyboard functions with protected and numeric fields and
// insert mode, the keyboard states and typeahead, the reply queue.
#include <gtest/gtest.h>

#include "t3270.h"

namespace {

const std::vector<uint8_t> kEW = {0xF5, 0xC3};
const std::vector<uint8_t> kW = {0xF1, 0xC2};
std::vector<uint8_t> SBA(int a) {
  return cat({{0x11}, addr12(a)});
}

// A logon-like screen: protected label 0, unprotected field at 10 (9
// cells), protected label at 20, numeric field at 30, non-display field at
// 40, protected skip field at 50, unprotected field at 60 up to the end.
struct Form : T3270 {
  Form() {
    host(cat({kEW, {0x1D, 0x60}, ebc("USER"), SBA(10), {0x1D, 0x40}, SBA(20), {0x1D, 0x60}, ebc("NUM"), SBA(30),
              {0x1D, 0x50}, SBA(40), {0x1D, 0x4C}, SBA(50), {0x1D, 0xF0}, SBA(60), {0x1D, 0x40}, SBA(11),
              {0x13}}));
  }
};

TEST(Kbd3270, EnterSendsTheModifiedFieldsWithoutNulls) {
  T3270 s;
  s.host(cat({kEW, SBA(80), {0x1D, 0x40}, SBA(90), {0x1D, 0x60}, SBA(81), {0x13}}));
  s.type("A");
  s.key(FCN_RIGHT);
  s.type("B");
  s.key(FCN_AID, AID_ENTER);
  // 0x7D, cursor 84, SBA 81 (0xC1 0xD1), A, B (the null between them left out).
  std::vector<uint8_t> want = cat({{0x7D}, addr12(84), {0x11, 0xC1, 0xD1}, ebc("AB")});
  EXPECT_EQ(s.reply(), want);
  EXPECT_EQ(s.t->StatTermWait, 1);
  EXPECT_EQ(s.t->StatSysLocked, 1);
}

TEST(Kbd3270, ShortReadKeysAndReadModifiedAll) {
  Form s;
  s.type("JOE");
  s.key(FCN_AID, AID_PA2);
  EXPECT_EQ(s.reply(), std::vector<uint8_t>{0x6E});
  s.host({0x6E});  // Read Modified All: the AID, the cursor and the fields
  EXPECT_EQ(s.reply(), cat({{0x6E}, addr12(14), {0x11}, addr12(11), ebc("JOE")}));
  s.host({0xF6});  // Read Modified: the same fields, the AID still PA2
  EXPECT_EQ(s.reply(), std::vector<uint8_t>{0x6E});
}

TEST(Kbd3270, ReadBufferOfAnEmptyScreen) {
  T3270 s;
  s.host({0xF5, 0xC2});
  s.host({0xF2});
  std::vector<uint8_t> r = s.reply();
  ASSERT_EQ(r.size(), 3u + 1920);
  EXPECT_EQ(r[0], 0x60);
  EXPECT_EQ(r[1], 0x40);
  EXPECT_EQ(r[2], 0x40);
  for (size_t i = 3; i < r.size(); i++) ASSERT_EQ(r[i], 0);
  s.host(cat({kEW, {0x1D, 0xE8}, {0x08, 0xC5}}));
  s.host({0xF2});
  r = s.reply();
  EXPECT_EQ(r[3], 0x1D);
  EXPECT_EQ(r[4], 0xE8);  // attribute in its six-bit code
  EXPECT_EQ(r[5], 0x08);  // graphic escape kept
  EXPECT_EQ(r[6], 0xC5);
}

TEST(Kbd3270, ProtectedAndNumericFieldsRefuseInput) {
  Form s;
  s.key(FCN_CURSOR, 2);
  s.type("x");
  EXPECT_EQ(s.t->Host[2], 0xE2);  // 'S' of USER untouched
  EXPECT_EQ(s.t->OperatorError, OERR_PROTECTED);
  EXPECT_EQ(s.t->Host[0] & FA_MDT, 0);
  s.type("y");  // inhibited until Reset
  EXPECT_EQ(s.t->bells, 2);
  s.key(FCN_RESET);
  s.key(FCN_CURSOR, 31);
  s.type("a");
  EXPECT_EQ(s.t->OperatorError, OERR_NUMERIC);
  EXPECT_EQ(s.t->Host[31], 0);
  s.key(FCN_RESET);
  s.type("5-");
  EXPECT_EQ(s.row(0).substr(31, 2), "5-");
  EXPECT_EQ(s.t->Host[30] & FA_MDT, FA_MDT);
}

TEST(Kbd3270, TypingAdvancesOverAttributesAndSkipsSkipFields) {
  Form s;
  s.key(FCN_CURSOR, 48);
  s.type("ab");  // 49 is the last position; 50 is a skip field: on to 61
  EXPECT_EQ(s.t->CursorAddress, 61);
  s.key(FCN_CURSOR, 19);
  s.type("z");  // next cell is the protected label's attribute: onto its first position
  EXPECT_EQ(s.t->CursorAddress, 21);
}

TEST(Kbd3270, NonDisplayFieldsTakeInputButShowBlanks) {
  Form s;
  s.key(FCN_CURSOR, 41);
  s.type("secret");
  EXPECT_EQ(s.row(0).substr(41, 6), "      ");
  EXPECT_EQ(s.wflags(0, 41) & FWS_CF_NONDISPLAY, FWS_CF_NONDISPLAY);
  s.t->passwordBlank = '*';
  InvalidateScreen(s.t);
  DoTerminalOutput(s.t);
  EXPECT_EQ(s.row(0).substr(40, 8), " ****** ");
}

TEST(Kbd3270, InsertModeNeedsRoomAtTheFieldEnd) {
  Form s;
  s.type("ABCDEFGH");  // 11..18; 19 left null
  s.key(FCN_CURSOR, 12);
  s.key(FCN_INSRT);
  s.type("x");
  EXPECT_EQ(s.row(0).substr(11, 9), "AxBCDEFGH");
  s.type("y");  // the field is full now
  EXPECT_EQ(s.t->OperatorError, OERR_OVERFLOW);
  EXPECT_EQ(s.row(0).substr(11, 9), "AxBCDEFGH");
  s.key(FCN_RESET);
  EXPECT_EQ(s.t->InsertMode, 0);
}

TEST(Kbd3270, DeleteEraseAndEraseToEndOfField) {
  Form s;
  s.type("ABCDEF");
  s.key(FCN_CURSOR, 12);
  s.key(FCN_DELETE);
  EXPECT_EQ(s.row(0).substr(11, 9), "ACDEF    ");
  s.key(FCN_ERASE);  // left of 12 is 11: deletes 'A'
  EXPECT_EQ(s.row(0).substr(11, 9), "CDEF     ");
  EXPECT_EQ(s.t->CursorAddress, 11);
  s.key(FCN_ERASE);  // left of 11 is the attribute
  EXPECT_EQ(s.t->OperatorError, OERR_PROTECTED);
  s.key(FCN_RESET);
  s.key(FCN_CURSOR, 13);
  s.key(FCN_EEOF);
  EXPECT_EQ(s.row(0).substr(11, 9), "CD       ");
  EXPECT_EQ(s.t->Host[10] & FA_MDT, FA_MDT);
}

TEST(Kbd3270, EraseEofOnAnUnformattedScreenAtTheLastAddress) {
  T3270 s;
  s.host(cat({kEW, {0x3C}, addr12(0), ebc("x")}));
  s.key(FCN_CURSOR, 1919);
  s.key(FCN_EEOF);
  EXPECT_EQ(s.t->Host[1919], 0);
  EXPECT_EQ(s.t->Host[1918], 0xA7);
}

TEST(Kbd3270, CursorMovesBetweenFields) {
  Form s;
  struct Case {
    int from, fcn, want;
  } cases[] = {
      {11, FCN_TAB, 31},   {31, FCN_TAB, 41},   {41, FCN_TAB, 61},  {70, FCN_TAB, 11},
      {15, FCN_BTAB, 11},  {11, FCN_BTAB, 61},  {31, FCN_BTAB, 11}, {25, FCN_BTAB, 11},
      {500, FCN_HOME, 11}, {5, FCN_NL, 80},     {1919, FCN_NL, 11}, {0, FCN_LEFT, 1919},
      {1919, FCN_RIGHT, 0}, {5, FCN_UP, 1845}, {1900, FCN_DOWN, 60},
  };
  for (const Case& c : cases) {
    s.key(FCN_CURSOR, c.from);
    s.key(c.fcn);
    EXPECT_EQ(s.t->CursorAddress, c.want) << "from " << c.from << " fcn " << c.fcn;
  }
}

TEST(Kbd3270, EraseInputClearsUnprotectedFieldsAndGoesHome) {
  Form s;
  s.type("JOE");
  s.key(FCN_CURSOR, 31);
  s.type("42");
  s.key(FCN_EINP);
  EXPECT_EQ(s.row(0).substr(11, 3), "   ");
  EXPECT_EQ(s.row(0).substr(1, 4), "USER");
  EXPECT_EQ(s.t->Host[10] & FA_MDT, 0);
  EXPECT_EQ(s.t->Host[30] & FA_MDT, 0);
  EXPECT_EQ(s.t->CursorAddress, 11);
}

TEST(Kbd3270, DupAndFieldMark) {
  Form s;
  s.key(FCN_DP);
  EXPECT_EQ(s.t->Host[11], 0x1C);
  EXPECT_EQ(s.t->CursorAddress, 31);
  s.key(FCN_FM);
  EXPECT_EQ(s.t->Host[31], 0x1E);
  EXPECT_EQ(s.row(0).substr(11, 1), "*");
  EXPECT_EQ(s.row(0).substr(31, 1), ";");
}

// Keys typed while the host inhibits input wait and run, in order, only
// after the host restores the keyboard: a second AID never overtakes the
// host's answer to the first.
TEST(Kbd3270, TypeaheadWaitsForTheKeyboardRestore) {
  Form s;
  s.type("A");
  s.key(FCN_AID, AID_ENTER);
  ASSERT_FALSE(s.reply().empty());
  s.type("B");
  s.key(FCN_AID, AID_ENTER);
  EXPECT_FALSE(te3270_reply_pending(s.t));
  EXPECT_EQ(s.t->typeCount, 2);
  s.host(cat({{0xF1, 0x00}, SBA(0)}));  // X WAIT off, but no restore: X SYSTEM stays
  EXPECT_EQ(s.t->StatTermWait, 0);
  EXPECT_FALSE(te3270_reply_pending(s.t));
  s.host({0xF1, 0x02});  // restore: B is typed, then Enter goes out
  EXPECT_EQ(s.t->Host[12], 0xC2);
  std::vector<uint8_t> r = s.reply();
  ASSERT_FALSE(r.empty());
  EXPECT_EQ(r[0], 0x7D);
  EXPECT_EQ(s.t->StatSysLocked, 1);
}

TEST(Kbd3270, TypeaheadIsBounded) {
  Form s;
  s.key(FCN_AID, AID_ENTER);
  s.reply();
  for (int i = 0; i < TE3270_TYPEAHEAD + 5; i++) s.type("a");
  EXPECT_EQ(s.t->typeCount, TE3270_TYPEAHEAD);
  EXPECT_EQ(s.t->bells, 5);
}

TEST(Kbd3270, ClearKeyClearsTheScreenAndSendsItsAidAlone) {
  T3270 s(3);
  s.host(cat({{0x7E, 0xC2}, ebc("BIG"), {0x1D, 0x40}}));
  s.key(FCN_AID, AID_CLEAR);
  EXPECT_EQ(s.reply(), std::vector<uint8_t>{0x6D});
  EXPECT_EQ(s.t->NumberLines, 43);
  EXPECT_EQ(s.t->faCount, 0);
  EXPECT_EQ(s.row(0), std::string(80, ' '));
}

TEST(Kbd3270, PfKeyAidsAndPa) {
  struct Case {
    int pf;
    uint8_t aid;
  } cases[] = {{1, 0xF1}, {6, 0xF6}, {10, 0x7A}, {12, 0x7C}, {13, 0xC1}, {22, 0x4A}, {24, 0x4C}, {25, 0}};
  for (const Case& c : cases) EXPECT_EQ(te3270_pf_aid(c.pf), c.aid) << c.pf;
}

TEST(Kbd3270, RepliesWaitInABoundedQueueAndAreDroppedOffline) {
  T3270 s;
  int sent = 0;
  s.t->owner = &sent;
  s.t->tx_send = [](void* o) { ++*static_cast<int*>(o); };
  for (int i = 0; i < TE3270_REPLY_QUEUE + 3; i++) s.host({0xF2});
  EXPECT_EQ(sent, TE3270_REPLY_QUEUE);
  EXPECT_EQ((int)s.t->replies.size(), TE3270_REPLY_QUEUE);
  te3270_drop_replies(s.t);
  s.t->online = false;
  s.host({0xF2});
  EXPECT_FALSE(te3270_reply_pending(s.t));
}

TEST(Kbd3270, CharacterReplyModeSendsAttributeChanges) {
  T3270 s;
  s.host(cat({kEW, {0x1D, 0x40}, {0x28, 0x42, 0xF2}, ebc("R"), {0x28, 0x00, 0x00}, ebc("N"), {0x13}}));
  s.host({0xF3, 0x00, 0x06, 0x09, 0x00, 0x02, 0x42});  // character mode, colour
  s.host({0xF2});
  std::vector<uint8_t> r = s.reply();
  std::vector<uint8_t> head(r.begin() + 3, r.begin() + 3 + 10);
  // SFE for the attribute, SA red, R, SA default, N.
  EXPECT_EQ(head, (std::vector<uint8_t>{0x29, 0x01, 0xC0, 0x40, 0x28, 0x42, 0xF2, 0xD9, 0x28, 0x42}));
}

}  // namespace
