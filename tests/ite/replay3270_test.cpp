// Recorded 3270 sessions replayed through te-replay: after every host
// record the screen, its size, the cursor and the keyboard state must be
// those the reference client showed; the records the engine sends when the
// operator's keys are typed again must be the recorded ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <unistd.h>

#include "emulation_ids.h"
#include "fixture3270.h"
#include "replay/blockreplay.h"

namespace {

std::string run(const std::string& args) {
  std::string cmd = std::string(KVX_BINARY_DIR) + "/te-replay " + args;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return "popen failed";
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  if (status != 0) out += "\n(exit status " + std::to_string(status) + ")";
  return out;
}

struct Shown {
  std::vector<std::string> text;
  int cursorRow = -1, cursorCol = -1;
  std::string keyboard;
};

// te-replay --every-record --cursor output, by record number.
std::map<int, Shown> parse(const std::string& out) {
  std::map<int, Shown> screens;
  std::istringstream in(out);
  std::string line;
  Shown* cur = nullptr;
  std::string rows;
  std::regex marker(R"(^--- record (\d+)$)"), cursor(R"(^cursor (\d+) (\d+) keyboard ([UL])$)");
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, marker)) {
      cur = &screens[std::stoi(m[1])];
      rows.clear();
    } else if (cur && std::regex_match(line, m, cursor)) {
      cur->text = ref3270_lines(rows);
      cur->cursorRow = std::stoi(m[1]);
      cur->cursorCol = std::stoi(m[2]);
      cur->keyboard = m[3];
    } else if (cur) {
      rows += line + "\n";
    }
  }
  return screens;
}

TEST(Replay3270, EveryHostRecordShowsTheReferenceScreen) {
  for (const std::string& name : ref3270_names()) {
    ref3270_trace t = ref3270_load(name);
    ASSERT_FALSE(t.screens.empty()) << name;
    std::string out = run("--emulation " + std::to_string(KVX_EM_IBM3270_MODEL2) + " --model " +
                          std::to_string(t.model) + " --trace '" + t.tracePath + "' --every-record --cursor");
    std::map<int, Shown> got = parse(out);
    int hostScreens = 0;
    for (const ref3270_screen& want : t.screens) {
      if (want.kind != "host") continue;
      hostScreens++;
      ASSERT_TRUE(got.count(want.recordNo)) << name << " record " << want.recordNo << "\n" << out.substr(0, 300);
      const Shown& have = got[want.recordNo];
      std::string where = name + " record " + std::to_string(want.recordNo);
      EXPECT_EQ(have.text, want.text) << where;
      EXPECT_EQ(have.cursorRow, want.cursorRow) << where;
      EXPECT_EQ(have.cursorCol, want.cursorCol) << where;
      EXPECT_EQ(have.keyboard, want.keyboard) << where;
    }
    EXPECT_EQ((int)got.size(), hostScreens) << name << ": one screen per host record";
  }
}

// The operator's records typed again go out as they were recorded (with
// fields the host had marked modified, and the cursor where it was).
TEST(Replay3270, TypedOperatorRecordsMatchTheRecordedOnes) {
  size_t compared = 0;
  for (const std::string& name : ref3270_names()) {
    ref3270_trace t = ref3270_load(name);
    std::vector<trc_chunk> chunks;
    ASSERT_TRUE(trc_load(t.tracePath, chunks)) << name;
    std::vector<trc_event> events = trc_events(chunks);
    std::vector<std::vector<uint8_t>> recorded;
    for (const trc_event& e : events) {
      if (e.kind != TRC_RECORD || e.fromHost) continue;
      std::vector<uint8_t> r = e.bytes;
      if (e.tn3270e) r.erase(r.begin(), r.begin() + std::min<size_t>(5, r.size()));
      recorded.push_back(r);
    }
    auto engine = br_engine_3270(t.model);
    br_play(*engine, events, [](int) {});
    std::vector<std::vector<uint8_t>> sent = engine->take_sent();
    // Query replies differ between clients by design; everything else is
    // the operator's (and the reads') data.
    auto notQuery = [](const std::vector<uint8_t>& r) { return !r.empty() && r[0] != 0x88; };
    std::vector<std::vector<uint8_t>> want, have;
    std::copy_if(recorded.begin(), recorded.end(), std::back_inserter(want), notQuery);
    std::copy_if(sent.begin(), sent.end(), std::back_inserter(have), notQuery);
    EXPECT_EQ(have, want) << name;
    compared += want.size();
  }
  EXPECT_GE(compared, 4u);  // PF3, Enter and the log-on keys of three traces
}

// A z/OS session at 40x132 as IBM-DYNAMIC, written from the data-stream
// rules (no such recording is published): TN3270E negotiation, a query, a
// bind naming 40x132 as alternate, Erase/Write Alternate addressing row 40
// column 132 in 14 bits, then an Erase/Write of 24x80.  With --oversize
// 132x40 every screen is as the host drew it; on a plain model 2 the bind's
// sizes do not fit, the terminal keeps 24x80 and the write stops at the
// address it cannot show.
TEST(Replay3270, OversizeSessionReplaysAsTheHostDrewIt) {
  auto hex = [](const std::vector<uint8_t>& b) {
    std::string s;
    char h[4];
    for (uint8_t c : b) {
      snprintf(h, sizeof h, "%02x", c);
      s += h;
    }
    return s;
  };
  auto text = [](const std::string& t) {
    std::vector<uint8_t> e;
    for (char c : t) e.push_back(c == ' ' ? 0x40 : c >= 'A' && c <= 'I' ? 0xC1 + (c - 'A') : c >= 'J' && c <= 'R' ? 0xD1 + (c - 'J') : 0xE2 + (c - 'S'));
    return e;
  };
  auto rec = [&](std::vector<uint8_t> b) {
    b.push_back(0xFF);
    b.push_back(0xEF);
    return b;
  };
  std::vector<uint8_t> bind = {0x03, 0, 0, 0, 0, 0x31, 0x01, 0x03, 0x03, 0xB1, 0x90, 0x30, 0x80, 0x00, 0x87, 0x87,
                               0xF8, 0x87, 0x00, 0x02, 0x80, 0x00, 0x00, 0x00, 0x00, 24, 80, 40, 132, 0x7F};
  const int last = 40 * 132 - 1;
  std::vector<uint8_t> ewa = {0x00, 0, 0, 0, 1, 0x7E, 0xC3, 0x1D, 0x60};
  for (uint8_t b : text("ISPF PRIMARY OPTION MENU")) ewa.push_back(b);
  ewa.insert(ewa.end(), {0x11, (uint8_t)((39 * 132) >> 8), (uint8_t)(39 * 132)});
  for (uint8_t b : text("COMMAND")) ewa.push_back(b);
  ewa.insert(ewa.end(), {0x11, (uint8_t)((last - 4) >> 8), (uint8_t)(last - 4), 0x1D, 0x40, 0x13});
  for (uint8_t b : text("END")) ewa.push_back(b);
  std::vector<uint8_t> ew = {0x00, 0, 0, 0, 2, 0xF5, 0xC3};
  for (uint8_t b : text("READY")) ew.push_back(b);
  std::vector<std::pair<char, std::vector<uint8_t>>> lines = {
      {'<', {0xFF, 0xFD, 0x28}},
      {'>', {0xFF, 0xFB, 0x28}},
      {'<', {0xFF, 0xFA, 0x28, 0x08, 0x02, 0xFF, 0xF0}},
      {'<', {0xFF, 0xFA, 0x28, 0x02, 0x04, 'I', 'B', 'M', '-', 'D', 'Y', 'N', 'A', 'M', 'I', 'C', 0x01, 'L', 'U', 0xFF,
             0xF0}},
      {'<', {0xFF, 0xFA, 0x28, 0x03, 0x04, 0x00, 0x02, 0xFF, 0xF0}},
      {'<', rec({0x00, 0, 0, 0, 0, 0xF3, 0x00, 0x05, 0x01, 0xFF, 0x02})},
      {'<', rec(bind)},
      {'<', rec(ewa)},
      {'<', rec(ew)},
  };
  char path[] = "/tmp/kvx-oversize-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string trace;
  for (const auto& [dir, bytes] : lines) trace += std::string(1, dir) + " 0x0   " + hex(bytes) + "\n";
  ASSERT_EQ(write(fd, trace.data(), trace.size()), (ssize_t)trace.size());
  close(fd);
  const std::string args = "--emulation " + std::to_string(KVX_EM_IBM3270_MODEL2) + " --model 2 ";
  std::map<int, Shown> big = parse(run(args + "--oversize 132x40 --trace " + path + " --every-record --cursor"));
  std::map<int, Shown> plain = parse(run(args + "--trace " + path + " --every-record --cursor"));
  std::remove(path);
  ASSERT_EQ(big.size(), 4u);
  const Shown& wide = big[3];
  ASSERT_EQ(wide.text.size(), 40u);
  EXPECT_EQ(wide.text[0], " ISPF PRIMARY OPTION MENU");
  EXPECT_EQ(wide.text[39], "COMMAND" + std::string(121, ' ') + "END");
  EXPECT_EQ(wide.cursorRow, 39);
  EXPECT_EQ(wide.cursorCol, 128);
  EXPECT_EQ(wide.keyboard, "U");
  ASSERT_FALSE(big[4].text.empty());
  EXPECT_EQ(big[4].text[0], "READY");
  EXPECT_LE(big[4].text.size(), 24u);
  // A model 2 cannot show 40x132: its own 24x80, the write stopped at the
  // address outside it.
  ASSERT_EQ(plain.size(), 4u);
  ASSERT_FALSE(plain[3].text.empty());
  EXPECT_LE(plain[3].text.size(), 24u);
  EXPECT_EQ(plain[3].text[0], " ISPF PRIMARY OPTION MENU");
  EXPECT_EQ(plain[3].cursorRow, 0);
  for (const std::string& row : plain[3].text) EXPECT_EQ(row.find("COMMAND"), std::string::npos);
  EXPECT_NE(run("--emulation 24 --oversize 132x70 --trace /dev/null 2>&1").find("COLSxROWS"), std::string::npos);
}

TEST(Replay3270, ToolRejectsBadArguments) {
  EXPECT_NE(run("--help").find("--trace"), std::string::npos);
  EXPECT_NE(run("--emulation " + std::to_string(KVX_EM_IBM3270_MODEL2) + " --trace /nonexistent 2>&1")
                .find("cannot read"),
            std::string::npos);
  EXPECT_NE(run("--emulation " + std::to_string(KVX_EM_IBM3270_MODEL2) + " --model 9 --trace /dev/null 2>&1")
                .find("not available"),
            std::string::npos);
  EXPECT_NE(
      run("--emulation " + std::to_string(KVX_EM_IBM3270_MODEL2) + " 2>&1").find("--trace FILE is needed"),
      std::string::npos);
}

}  // namespace
