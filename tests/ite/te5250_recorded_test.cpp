// Recorded IBM i sessions through the 5250 station: the sign-on and main
// menu screens as the recording's reference shows them, the operator's
// replies as they were recorded, the query reply, and the two single records
// of an IBM i 7.6 host.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "emulation_ids.h"
#include "replay/replay5250.h"
#include "replay/tracefile.h"
#include "station5250.h"

namespace {

std::string Fixture(const std::string& name) {
  std::ifstream in(std::string(KVX_SOURCE_DIR) + "/tests/fixtures/5250/" + name);
  EXPECT_TRUE(in.good()) << name;
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// The records of the recorded session, both directions, in trace order.
struct Rec {
  bool fromHost;
  std::vector<uint8_t> bytes;
};
std::vector<Rec> Trace() {
  std::vector<trc_chunk> chunks;
  std::string error;
  EXPECT_TRUE(trc_load(std::string(KVX_SOURCE_DIR) + "/tests/fixtures/5250/blazemeter-tn5250-login.trc",
                       chunks, &error))
      << error;
  std::vector<Rec> records;
  for (const trc_event& ev : trc_events(chunks))
    if (ev.kind == TRC_RECORD) records.push_back({ev.fromHost, ev.bytes});
  return records;
}

std::vector<uint8_t> DataOf(const std::vector<uint8_t>& record) {
  return std::vector<uint8_t>(record.begin() + 10, record.end());
}

void ExpectScreen(Station& st, const char* expectedFile) {
  const std::vector<std::string> expected = Lines(Fixture(expectedFile));
  ASSERT_EQ(expected.size(), 24u);
  for (int row = 1; row <= 24; row++)
    EXPECT_EQ(st.Row(row), expected[static_cast<size_t>(row - 1)]) << "row " << row;
}

TEST(Te5250Recorded, SignOnMainMenuAndTheOperatorsReplies) {
  const std::vector<Rec> records = Trace();
  std::vector<const Rec*> host, station;
  for (const Rec& r : records) (r.fromHost ? host : station).push_back(&r);
  ASSERT_EQ(host.size(), 5u);
  ASSERT_EQ(station.size(), 3u);

  Station st(KVX_EM_IBM5250_3477);  // the recording announced IBM-3477-FC
  st.ctrl.GotData(host[0]->bytes.data(), host[0]->bytes.size(), true);
  ExpectScreen(st, "blazemeter-tn5250-login.expected-signon-screen.txt");
  EXPECT_EQ(st.s().m_State, STATE_UNLOCKED);
  EXPECT_EQ(st.CursorRow(), 6) << "the cursor starts in the first input field";
  EXPECT_EQ(st.CursorCol(), 53);
  EXPECT_TRUE(st.sent.empty());

  // The operator types the user and the password and presses Enter.
  st.Type("TESTUSR");
  st.Key(K5250_TAB);
  st.Type("TESTPSW");
  EXPECT_EQ(st.Row(7).substr(52, 10), std::string(10, ' ')) << "the password field does not show";
  st.Key(K5250_ENTER);
  ASSERT_EQ(st.sent.size(), 1u);
  EXPECT_EQ(st.LastFlags(), 0);
  EXPECT_EQ(HexOf(st.LastData()), HexOf(DataOf(station[0]->bytes))) << "fields in the recorded order";
  EXPECT_STREQ(st.view.status.Indicator(), "X SYSTEM");

  // The 5250 query is answered at once, without the operator.
  st.ctrl.GotData(host[1]->bytes.data(), host[1]->bytes.size(), true);
  ASSERT_EQ(st.sent.size(), 2u);
  const std::vector<uint8_t> reply = st.LastData(), recorded = DataOf(station[1]->bytes);
  ASSERT_EQ(reply.size(), recorded.size());
  EXPECT_EQ(HexOf(std::vector<uint8_t>(reply.begin() + 2, reply.begin() + 10)),
            HexOf(std::vector<uint8_t>(recorded.begin() + 2, recorded.begin() + 10)));
  EXPECT_EQ(HexOf(std::vector<uint8_t>(reply.begin() + 30, reply.begin() + 37)), "F3 F4 F7 F7 F0 C6 C3");

  st.ctrl.GotData(host[2]->bytes.data(), host[2]->bytes.size(), true);
  st.ctrl.GotData(host[3]->bytes.data(), host[3]->bytes.size(), true);
  ExpectScreen(st, "blazemeter-tn5250-login.expected-main-menu-screen.txt");
  EXPECT_EQ(st.CursorRow(), 20) << "the cursor lands where the host put it";
  EXPECT_EQ(st.CursorCol(), 7);
  EXPECT_EQ(st.s().m_State, STATE_UNLOCKED);

  st.Type("1");
  st.Key(K5250_ENTER);
  ASSERT_EQ(st.sent.size(), 3u);
  EXPECT_EQ(HexOf(st.LastData()), HexOf(DataOf(station[2]->bytes)));

  st.ctrl.GotData(host[4]->bytes.data(), host[4]->bytes.size(), true);
  EXPECT_EQ(st.Row(1).substr(0, 6), " USER ");
  EXPECT_TRUE(st.sent.size() == 3u) << "no parameter errors";
}

TEST(Te5250Recorded, ReplayTypesTheRecordedRepliesAgain) {
  const std::vector<Rec> records = Trace();
  Station st(KVX_EM_IBM5250_3477);
  size_t stationRecords = 0;
  for (const Rec& r : records) {
    if (r.fromHost) {
      st.ctrl.GotData(r.bytes.data(), r.bytes.size(), true);
      continue;
    }
    const size_t before = st.sent.size();
    if (te5250_type_reply(&st.ctrl, r.bytes)) {
      ASSERT_EQ(st.sent.size(), before + 1);
      EXPECT_EQ(HexOf(st.LastData()), HexOf(DataOf(r.bytes)));
    }
    stationRecords++;
  }
  EXPECT_EQ(stationRecords, 3u);
  EXPECT_EQ(st.sent.size(), 3u) << "two typed replies and the automatic query reply";
}

TEST(Te5250Recorded, SignedNumericFieldWithCommandKeyMask) {
  const std::vector<uint8_t> record = Hex(Fixture("ibmi-mcp-nexus-cakeyp-wtd.hex"));
  ASSERT_EQ(record.size(), 84u);
  Station st;
  st.ctrl.GotData(record.data(), record.size(), true);
  EXPECT_TRUE(st.sent.empty());
  ASSERT_EQ(st.fields().Count(), 1);
  const FieldDescriptor f = st.fields().Field(0);
  EXPECT_TRUE(f.Signed());
  EXPECT_EQ(f.m_length, 6);
  EXPECT_EQ(st.fields().m_ErrorRow, 24);
  EXPECT_EQ(st.Row(4).substr(0, 9), " Numeric:");
  EXPECT_EQ(st.Row(8).substr(0, 23), " F3=CA exit  F5=CF test");
  EXPECT_EQ(st.CursorRow(), 5);
  EXPECT_EQ(st.CursorCol(), 2);

  st.Type("12");
  st.Key(K5250_PF1 + 2);  // F3: masked
  ASSERT_EQ(st.sent.size(), 1u);
  EXPECT_EQ(HexOf(st.LastData()), "05 04 33") << "F3 returns no data";

  st.ctrl.GotData(record.data(), record.size(), true);
  st.Type("345");
  st.Key(K5250_FIELDMINUS);
  EXPECT_EQ(HexOf(st.Cells(5, 2, 6)), "40 40 F3 F4 F5 60");
  st.Key(K5250_ENTER);
  ASSERT_EQ(st.sent.size(), 2u);
  EXPECT_EQ(HexOf(st.LastData()), "05 02 F1 11 05 02 40 40 F3 F4 D5") << "the sign in the last digit's zone";
  st.ctrl.GotData(record.data(), record.size(), true);
  st.Type("9");
  st.Key(K5250_PF1 + 4);  // F5 returns data
  EXPECT_EQ(HexOf(st.LastData()), "05 03 35 11 05 02 F9");
}

TEST(Te5250Recorded, SaveScreenAnsweredWithAnImageThatRestoresTheScreen) {
  const std::vector<uint8_t> wtd = Hex(Fixture("ibmi-mcp-nexus-cakeyp-wtd.hex"));
  const std::vector<uint8_t> save = Hex(Fixture("ibmi-mcp-nexus-save-screen.hex"));
  ASSERT_EQ(save.size(), 12u);
  Station st;
  st.ctrl.GotData(wtd.data(), wtd.size(), true);
  st.Type("77");
  const std::vector<uint8_t> buffer = st.s().m_CharBuffer;
  const int cursor = st.s().m_CursorAddress;
  const FieldDescriptor field = st.fields().Field(0);
  const uint32_t mask = st.fields().m_IgnoreKeys;

  st.ctrl.GotData(save.data(), save.size(), true);
  ASSERT_EQ(st.sent.size(), 1u);
  EXPECT_EQ(st.LastOpcode(), OPCODE_SAVE);
  const std::vector<uint8_t> image = st.LastData();

  st.Screen("11 0A 0A C1 C2 C3");  // the host shows something else
  EXPECT_EQ(st.fields().Count(), 0);
  st.Host(OPCODE_RESTORE, image);
  EXPECT_EQ(st.sent.size(), 1u);
  EXPECT_EQ(st.s().m_CharBuffer, buffer);
  EXPECT_EQ(st.s().m_CursorAddress, cursor);
  ASSERT_EQ(st.fields().Count(), 1);
  EXPECT_EQ(st.fields().Field(0).m_StartAddress, field.m_StartAddress);
  EXPECT_EQ(st.fields().Field(0).m_length, field.m_length);
  EXPECT_EQ(st.fields().Field(0).m_ffw, field.m_ffw);
  EXPECT_EQ(st.fields().m_IgnoreKeys, mask);
  st.Type("8");
  EXPECT_EQ(HexOf(st.Cells(5, 2, 3)), "F7 F7 F8") << "typing continues where it was";
}

}  // namespace

namespace {

TEST(Te5250Replay, ToolPrintsTheScreenAfterEveryHostRecord) {
  const std::string cmd = std::string(KVX_BINARY_DIR) + "/te-replay --emulation " +
                          std::to_string(KVX_EM_IBM5250) + " --trace " + KVX_SOURCE_DIR +
                          "/tests/fixtures/5250/blazemeter-tn5250-login.trc --every-record";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  EXPECT_EQ(pclose(p), 0);
  // Screens by record number: 25 rows each.
  std::map<int, std::vector<std::string>> screens;
  int record = 0;
  for (const std::string& line : Lines(out)) {
    if (line.rfind("--- record ", 0) == 0) {
      record = std::stoi(line.substr(11));
      continue;
    }
    screens[record].push_back(line);
  }
  ASSERT_EQ(screens.size(), 5u);
  auto expect = [&](int rec, const char* file) {
    const std::vector<std::string> expected = Lines(Fixture(file));
    ASSERT_EQ(screens[rec].size(), 25u) << rec;
    for (size_t r = 0; r < 24; r++)
      EXPECT_EQ(screens[rec][r], expected[r]) << "record " << rec << " row " << r + 1;
  };
  expect(1, "blazemeter-tn5250-login.expected-signon-screen.txt");
  expect(4, "blazemeter-tn5250-login.expected-main-menu-screen.txt");
  EXPECT_NE(screens[2][5].find("TESTUSR"), std::string::npos)
      << "the operator's typing shows on the next screens";
}

}  // namespace
