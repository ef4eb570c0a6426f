// The 3270 host data stream: commands and WCC, orders and their
// parameters, addresses in both forms, records stopped by bad input,
// structured fields and the TN3270E data types.
#include <gtest/gtest.h>

#include "t3270.h"

namespace {

const std::vector<uint8_t> kEW = {0xF5, 0xC3};  // Erase/Write: reset, restore, reset MDT
const std::vector<uint8_t> kW = {0xF1, 0xC2};
std::vector<uint8_t> SBA(int a) {
  return cat({{0x11}, addr12(a)});
}

TEST(Ds3270, EraseWriteFieldTextCursorAndRestore) {
  T3270 s;
  s.t->StatSysLocked = 1;
  s.host({0xF5, 0xC3, 0x11, 0x40, 0x40, 0x1D, 0x60, 0xC8, 0xC9, 0x13});
  EXPECT_EQ(s.t->ScreenSize, 1920);
  EXPECT_EQ(s.t->FA[0] & FA_IS_ATTR, FA_IS_ATTR);
  EXPECT_EQ(s.t->Host[0], 0xE0);  // 0x60 | 0xC0: protected
  EXPECT_EQ(s.t->Host[1], 0xC8);
  EXPECT_EQ(s.t->Host[2], 0xC9);
  EXPECT_EQ(s.t->CursorAddress, 3);
  EXPECT_EQ(s.t->StatSysLocked, 0);
  EXPECT_EQ(s.row(0).substr(0, 4), " HI ");
  EXPECT_EQ(s.t->dsError, DS_OK);
}

TEST(Ds3270, AddressesDecodeInBothForms) {
  struct Case {
    uint8_t b1, b2;
    int want;
  } cases[] = {{0x5D, 0x7F, 1919}, {0x07, 0x7F, 1919}, {0x40, 0x40, 0}, {0xC1, 0x50, 80},
               {0x00, 0x50, 80},   {0x3F, 0xFF, 16383}, {0x7F, 0x7F, 4095}};
  for (const Case& c : cases) EXPECT_EQ(te3270_decode_address(c.b1, c.b2), c.want) << (int)c.b1;
}

TEST(Ds3270, EncoderTakesOnlyAddressesInsideTheScreen) {
  T3270 s;
  uint8_t e[2];
  EXPECT_TRUE(te3270_encode_address(s.t, 81, e));
  EXPECT_EQ(e[0], 0xC1);
  EXPECT_EQ(e[1], 0xD1);
  for (int a : {-1, 1920, 4095, 5000}) EXPECT_FALSE(te3270_encode_address(s.t, a, e)) << a;
}

// An address at or past the screen size stops the record: nothing after it
// is done, nothing outside the screen is touched, the error is reported.
TEST(Ds3270, AddressOutsideTheScreenStopsTheRecord) {
  struct Case {
    const char* name;
    std::vector<uint8_t> order;
  } cases[] = {
      {"SBA 12-bit 1920", cat({{0x11}, addr12(1920)})},
      {"SBA 14-bit 16383", cat({{0x11}, addr14(16383)})},
      {"SBA 12-bit 4095", {0x11, 0x7F, 0x7F}},
      {"RA past the end", cat({{0x3C}, addr14(3000), {0xC1}})},
      {"EUA past the end", cat({{0x12}, addr14(2000)})},
  };
  for (const Case& c : cases) {
    T3270 s;
    s.host(cat({kEW, ebc("AB"), c.order, ebc("CD"), {0x13}}));
    EXPECT_EQ(s.t->dsError, DS_OPERATION_CHECK) << c.name;
    EXPECT_EQ(s.row(0).substr(0, 4), "AB  ") << c.name;
    EXPECT_EQ(s.t->CursorAddress, 0) << c.name;  // the IC after it never ran
    for (int a = s.t->ScreenSize; a < TE3270_MAXSCREEN; a++) ASSERT_EQ(s.t->Host[a], 0) << c.name;
    // The next record is painted as usual.
    s.host(cat({kW, SBA(10), ebc("OK")}));
    EXPECT_EQ(s.t->dsError, DS_OK);
    EXPECT_EQ(s.row(0).substr(10, 2), "OK") << c.name;
  }
}

TEST(Ds3270, OrdersCutAtTheEndOfTheRecordStopItCleanly) {
  const std::vector<uint8_t> cuts[] = {{0x1D}, {0x29}, {0x29, 0x02, 0xC0}, {0x11, 0x40}, {0x28, 0x42},
                                       {0x2C, 0x01}, {0x3C, 0x40, 0x50}, {0x3C, 0x40, 0x50, 0x08},
                                       {0x12, 0x40}, {0x08}};
  for (const auto& cut : cuts) {
    T3270 s;
    s.host(cat({kEW, ebc("XY"), cut}));
    EXPECT_EQ(s.row(0).substr(0, 2), "XY");
    EXPECT_EQ(s.t->dsError, DS_OPERATION_CHECK) << (int)cut[0] << " len " << cut.size();
    EXPECT_EQ(s.t->BufferAddress, 2);
  }
}

TEST(Ds3270, UnknownCommandSkipsOnlyItsRecord) {
  T3270 s;
  s.host(cat({kEW, ebc("ONE")}));
  s.host(cat({{0x42, 0xC3}, ebc("BAD")}));
  EXPECT_EQ(s.t->dsError, DS_COMMAND_REJECT);
  EXPECT_EQ(s.row(0).substr(0, 3), "ONE");
  s.host(cat({kW, SBA(0), ebc("TWO")}));
  EXPECT_EQ(s.row(0).substr(0, 3), "TWO");
}

TEST(Ds3270, RepeatToAddress) {
  T3270 s;
  s.host(cat({kEW, SBA(5), {0x3C}, addr12(5), ebc("*")}));  // stop = start: the whole screen
  EXPECT_EQ(s.row(0), std::string(80, '*'));
  EXPECT_EQ(s.row(23), std::string(80, '*'));
  EXPECT_EQ(s.t->BufferAddress, 5);
  s.host(cat({kEW, SBA(78), {0x3C}, addr12(82), ebc("-")}));  // wraps a row, not the buffer
  EXPECT_EQ(s.row(0).substr(78), "--");
  EXPECT_EQ(s.row(1).substr(0, 3), "-- ");
  s.host(cat({kEW, SBA(1918), {0x3C}, addr12(2), {0x08, 0xC5}}));  // wraps the buffer, GE character
  EXPECT_EQ(s.t->FA[1919], FA_IS_GE);
  EXPECT_EQ(s.t->Host[1], 0xC5);
  EXPECT_EQ(s.t->Host[2], 0);
}

TEST(Ds3270, EraseUnprotectedToAddressSparesProtectedFields) {
  T3270 s;
  // Unprotected field at 0, protected at 10, unprotected at 20; all filled.
  s.host(cat({kEW, {0x1D, 0x40}, ebc("aaaaaaaaa"), {0x1D, 0x60}, ebc("ppppppppp"), {0x1D, 0x40},
              ebc("bbbbbbbbb")}));
  s.host(cat({kW, SBA(3), {0x12}, addr12(25)}));
  const std::string p9(9, 'p');
  EXPECT_EQ(s.row(0).substr(0, 30), " aa" + std::string(8, ' ') + p9 + std::string(5, ' ') + "bbbbb");
  EXPECT_EQ(s.t->BufferAddress, 25);
  s.host(cat({kW, SBA(12), {0x12}, addr12(12)}));  // equal: the whole buffer, and it ends
  EXPECT_EQ(s.row(0).substr(0, 30), std::string(11, ' ') + p9 + std::string(10, ' '));
}

TEST(Ds3270, ProgramTabAfterDataNullsTheRestOfTheField) {
  T3270 s;
  s.host(cat({kEW, {0x1D, 0x40}, ebc("aaaaaaaaa"), {0x1D, 0x60}, ebc("pp"), {0x1D, 0x40}, ebc("bbbb")}));
  // After data: the rest of field 1 becomes nulls, then to field 3's first position.
  s.host(cat({kW, SBA(1), ebc("XY"), {0x05}, ebc("Z")}));
  EXPECT_EQ(s.row(0).substr(0, 18), " XY" + std::string(8, ' ') + "pp Zbbb");
  // Right after an order: nothing is nulled.
  s.host(cat({kW, SBA(2), {0x05}, ebc("Q")}));
  EXPECT_EQ(s.row(0).substr(0, 18), " XY" + std::string(8, ' ') + "pp Qbbb");
  // No unprotected field after the address: buffer address 0.
  s.host(cat({kW, SBA(15), {0x05}}));
  EXPECT_EQ(s.t->BufferAddress, 0);
}

TEST(Ds3270, DataOverAFieldAttributeRemovesTheField) {
  T3270 s;
  s.host(cat({kEW, SBA(10), {0x1D, 0x60}, ebc("X")}));
  EXPECT_EQ(s.t->faCount, 1);
  s.host(cat({kW, SBA(10), ebc("Y")}));
  EXPECT_EQ(s.t->faCount, 0);
  EXPECT_EQ(s.t->FA[10], 0);
  EXPECT_EQ(s.row(0).substr(10, 2), "YX");
}

TEST(Ds3270, StartFieldExtendedAndModifyField) {
  T3270 s;
  s.host(cat({kEW, SBA(0), {0x29, 0x03, 0xC0, 0x60, 0x42, 0xF2, 0x41, 0xF4}, ebc("RED")}));
  EXPECT_EQ(s.t->Host[0], 0xE0);
  EXPECT_EQ((s.t->HostAttrs[0] & XA_FG) >> XA_FG_SHIFT, 0xF2u);
  EXPECT_EQ(s.t->HostAttrs[0] & XA_HILITE, 0xF4u);
  // MF changes only the listed types, only at an attribute, and repaints.
  s.host(cat({kW, SBA(0), {0x2C, 0x01, 0x42, 0xF1}}));
  EXPECT_EQ(s.t->Host[0], 0xE0);
  EXPECT_EQ((s.t->HostAttrs[0] & XA_FG) >> XA_FG_SHIFT, 0xF1u);
  EXPECT_EQ(s.t->HostAttrs[0] & XA_HILITE, 0xF4u);
  EXPECT_EQ(s.wfg(0, 1), GetFGColor(s.t, TNF_BLUE));
  EXPECT_EQ(s.t->BufferAddress, 1);
  s.host(cat({kW, SBA(2), {0x2C, 0x01, 0xC0, 0x40}}));  // not an attribute: nothing
  EXPECT_EQ(s.t->faCount, 1);
  EXPECT_EQ(s.t->Host[2], 0xC5);
  EXPECT_EQ(s.t->BufferAddress, 2);
}

TEST(Ds3270, EraseWriteAlternateUsesTheModelsSize) {
  struct Case {
    int emode, rows, cols;
  } cases[] = {{1, 24, 80}, {2, 32, 80}, {3, 43, 80}, {4, 27, 132}};
  for (const Case& c : cases) {
    T3270 s(c.emode);
    EXPECT_EQ(s.t->NumberLines, c.rows);  // the screen starts at the alternate size
    s.host({0xF5, 0xC2});
    EXPECT_EQ(s.t->ScreenSize, 1920);
    EXPECT_EQ(s.t->wndsize.y, 24);
    s.host({0x7E, 0xC2});
    EXPECT_EQ(s.t->NumberLines, c.rows);
    EXPECT_EQ(s.t->NumberColumns, c.cols);
    EXPECT_EQ(s.t->ScreenSize, c.rows * c.cols);
    EXPECT_EQ(s.t->wndsize.x, c.cols);
    EXPECT_EQ(s.t->wndsize.y, c.rows);
  }
}

TEST(Ds3270, EraseAllUnprotected) {
  T3270 s;
  s.host(cat({kEW, {0x1D, 0x60}, ebc("prot"), {0x1D, 0x61}, ebc("more")}));
  s.t->StatSysLocked = 1;
  s.host({0x6F});
  EXPECT_EQ(s.row(0).substr(0, 10), " prot more");
  EXPECT_EQ(s.t->CursorAddress, 0);
  EXPECT_EQ(s.t->StatSysLocked, 0);
  EXPECT_EQ(s.t->Host[5] & FA_MDT, FA_MDT);  // protected fields keep their tag
  s.host(cat({kEW, ebc("free text")}));
  s.host({0x6F});
  EXPECT_EQ(s.row(0).substr(0, 10), std::string(10, ' '));
  s.host(cat({kEW, {0x1D, 0x60}, ebc("p"), {0x1D, 0x41}, ebc("in")}));
  s.host({0x6F});
  EXPECT_EQ(s.row(0).substr(0, 6), " p    ");
  EXPECT_EQ(s.t->CursorAddress, 3);
  EXPECT_EQ(s.t->Host[2] & FA_MDT, 0);
}

TEST(Ds3270, CharacterAttributesLastOneWriteAndWritesStartAtTheCursor) {
  T3270 s;
  s.host(cat({kEW, {0x28, 0x42, 0xF2}, ebc("AB"), SBA(40), {0x13}}));
  EXPECT_EQ((s.t->HostAttrs[1] & XA_FG) >> XA_FG_SHIFT, 0xF2u);
  s.host(cat({kW, ebc("C")}));  // no SBA: at the cursor, default attributes
  EXPECT_EQ(s.t->Host[40], 0xC3);
  EXPECT_EQ(s.t->HostAttrs[40], 0u);
}

TEST(Ds3270, WriteWithoutWccAndResetMdt) {
  T3270 s;
  s.host(cat({kEW, {0x1D, 0x41}, ebc("x")}));
  s.host({0xF1});  // no WCC: nothing else happens
  EXPECT_EQ(s.t->Host[0] & FA_MDT, FA_MDT);
  s.host({0xF1, 0x01});
  EXPECT_EQ(s.t->Host[0] & FA_MDT, 0);
}

TEST(Ds3270, StructuredFieldsAreBoundedByTheirLengths) {
  // An outbound write followed by a query in the same record: both happen.
  T3270 s(3);
  s.host(cat({{0xF3, 0x00, 0x08, 0x40, 0x00, 0xF1, 0xC2}, ebc("HI"), {0x00, 0x05, 0x01, 0xFF, 0x02}}));
  EXPECT_EQ(s.row(0).substr(0, 2), "HI");
  std::vector<uint8_t> r = s.reply();
  ASSERT_FALSE(r.empty());
  EXPECT_EQ(r[0], 0x88);
  // Length 0: the rest of the record.
  s.host(cat({{0xF3, 0x00, 0x00, 0x40, 0x00, 0xF1, 0xC2}, ebc("ZERO")}));
  EXPECT_EQ(s.row(0).substr(0, 4), "ZERO");
  // Below 3 or past the record: the record stops.
  for (auto bad : {std::vector<uint8_t>{0xF3, 0x00, 0x02, 0x01}, std::vector<uint8_t>{0xF3, 0x00, 0x40, 0x40, 0x00},
                   std::vector<uint8_t>{0xF3, 0x00}}) {
    s.host(bad);
    EXPECT_EQ(s.t->dsError, DS_OPERATION_CHECK);
  }
  EXPECT_FALSE(te3270_reply_pending(s.t));
}

TEST(Ds3270, QueryListAnswersWhatItNames) {
  T3270 s;
  s.host({0xF3, 0x00, 0x07, 0x01, 0xFF, 0x03, 0x00, 0x81});
  std::vector<uint8_t> r = s.reply();
  ASSERT_EQ(r.size(), 24u);
  EXPECT_EQ(r[0], 0x88);
  EXPECT_EQ(r[1], 0x00);
  EXPECT_EQ(r[2], 0x17);
  EXPECT_EQ(r[4], 0x81);
  s.host({0xF3, 0x00, 0x07, 0x01, 0xFF, 0x03, 0x00, 0xA1});  // nothing we have: the null reply
  EXPECT_EQ(s.reply(), (std::vector<uint8_t>{0x88, 0x00, 0x04, 0x81, 0xFF}));
  s.host({0xF3, 0x00, 0x06, 0x01, 0xFF, 0x03, 0x80});  // all
  r = s.reply();
  // Summary, usable area, partitions, character sets, colour, highlighting, modes, implicit partition.
  EXPECT_EQ(r.size(), 1u + 12 + 23 + 8 + 27 + 38 + 13 + 7 + 17);
}

TEST(Ds3270, Tn3270eDataTypes) {
  T3270 s(3);
  // 3270 data behind its header.
  std::vector<uint8_t> rec = cat({{0x00, 0x00, 0x00, 0x00, 0x01}, kEW, ebc("LOGON")});
  te3270_tn3270e_record(s.t, rec.data(), (int)rec.size());
  EXPECT_TRUE(s.t->bTN3270E);
  EXPECT_EQ(s.t->NumberLines, 24);
  EXPECT_EQ(s.row(0).substr(0, 5), "LOGON");
  // BIND: blank, unformatted, alternate size, locked until the host writes.
  std::vector<uint8_t> bind = {0x03, 0x00, 0x00, 0x00, 0x00, 0x31, 0x01, 0x03};
  te3270_tn3270e_record(s.t, bind.data(), (int)bind.size());
  EXPECT_EQ(s.t->NumberLines, 43);
  EXPECT_EQ(s.row(0), std::string(80, ' '));
  EXPECT_TRUE(te3270_input_inhibited(s.t));
  s.type("x");
  EXPECT_EQ(s.t->typeCount, 1);
  // A response or request changes nothing.
  std::vector<uint8_t> resp = {0x02, 0x00, 0x00, 0x00, 0x05, 0x00};
  te3270_tn3270e_record(s.t, resp.data(), (int)resp.size());
  EXPECT_EQ(s.t->NumberLines, 43);
  // SSCP-LU data: unformatted text, input allowed.
  std::vector<uint8_t> sscp = cat({{0x07, 0x00, 0x00, 0x00, 0x00}, ebc("READY"), {0x15}});
  te3270_tn3270e_record(s.t, sscp.data(), (int)sscp.size());
  EXPECT_EQ(s.row(0).substr(0, 5), "READY");
  EXPECT_FALSE(te3270_input_inhibited(s.t));
  EXPECT_EQ(s.row(1)[0], 'x');  // the key typed while bound ran at the unlock
  EXPECT_EQ(s.t->CursorAddress, 81);
  // A header cut short is ignored.
  std::vector<uint8_t> cut = {0x00, 0x00};
  te3270_tn3270e_record(s.t, cut.data(), 2);
  EXPECT_EQ(s.row(0).substr(0, 5), "READY");
}

TEST(Ds3270, ControlCodesInDataAreStoredAsNulls) {
  T3270 s;
  s.host({0xF5, 0xC2, 0xC1, 0x15, 0xC2, 0x1C, 0x1E, 0xFF, 0x0E, 0xC3});
  EXPECT_EQ(s.t->Host[1], 0);
  EXPECT_EQ(s.t->Host[3], 0x1C);
  EXPECT_EQ(s.t->Host[4], 0x1E);
  EXPECT_EQ(s.t->Host[5], 0);
  EXPECT_EQ(s.t->Host[6], 0x0E);
  EXPECT_EQ(s.row(0).substr(0, 8), "A B*;  C");
}

}  // namespace
