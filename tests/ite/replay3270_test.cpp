// Recorded 3270 sessions replayed through te-replay: after every host
// record the screen, its size, the cursor and the keyboard state must be
// those the reference client showed; the records the engine sends when the
// operator's keys are typed again must be the recorded ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <regex>

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
