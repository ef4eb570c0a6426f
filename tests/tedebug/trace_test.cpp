// Trace facility: routes, masks, time stamps once per line, hex dumps.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>

#include "tetrace.h"

namespace {

struct TraceFixture : ::testing::Test {
  void SetUp() override {
    TE_Trace_SetRoute(TRACE_ROUTE_STDERR2);
    TE_Trace_SetMask(TRACE_PRINT | TRACE_FAIL);
    TE_Trace_SetShowTraceTime(false);
    g_bRequireTime = true;
  }
  void TearDown() override {
    TE_Trace_SetRoute(0);
    TE_Trace_SetMask(0);
    TE_Trace_SetShowTraceTime(false);
  }
  template <class F>
  std::string capture(F f) {
    ::testing::internal::CaptureStderr();
    f();
    return ::testing::internal::GetCapturedStderr();
  }
};

TEST_F(TraceFixture, RouteAndMaskGateOutput) {
  EXPECT_EQ(capture([] { TE_Trace(TRACE_PRINT, "a%d\n", 1); }), "a1\n");
  EXPECT_EQ(capture([] { TE_Trace(TRACE_SSH, "hidden\n"); }), "");
  TE_Trace_SetRoute(0);
  TE_Trace_SetMask(TRACE_ALL);
  EXPECT_EQ(capture([] { TE_Trace(TRACE_ALL, "nothing\n"); }), "");
  EXPECT_EQ(TE_Trace_SetRoute(TRACE_ROUTE_STDERR), 0);
  EXPECT_EQ(TE_Trace_Route(), TRACE_ROUTE_STDERR);
  EXPECT_EQ(TE_Trace_SetMask(TRACE_FAIL), (uint32_t)TRACE_ALL);
  EXPECT_EQ(TE_Trace_Mask(), (uint32_t)TRACE_FAIL);
}

TEST_F(TraceFixture, LongTextIsCutAt4095) {
  std::string big(5000, 'x');
  std::string out = capture([&] { TE_Trace(TRACE_PRINT, "%s", big.c_str()); });
  EXPECT_EQ(out.size(), 4095u);
}

TEST_F(TraceFixture, TimeStampOncePerLine) {
  TE_Trace_SetShowTraceTime(true);
  std::string out = capture([] {
    TE_Trace(TRACE_PRINT, "abc");
    TE_Trace(TRACE_PRINT, "def\n");
    TE_Trace(TRACE_PRINT, "ghi\n");
  });
  std::regex re(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d abcdef\n\d{4}-\d\d-\d\d \d\d:\d\d:\d\d ghi\n$)");
  EXPECT_TRUE(std::regex_match(out, re)) << out;
}

TEST_F(TraceFixture, DumpLayouts) {
  std::string empty = capture([] { TE_Trace_Data(TRACE_PRINT, "rx", "", 0); });
  // The header always carries a time stamp; a dump of nothing is just the header.
  EXPECT_TRUE(std::regex_match(empty, std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d rx: 0 Bytes\n$)")))
      << empty;

  const char bytes[] = "ABCDEFGHIJKLMNO\x01Z";  // 17 bytes
  std::string out = capture([&] { TE_Trace_Data(TRACE_PRINT, "rx", bytes, 17); });
  std::istringstream in(out);
  std::string header, l1, l2, rest;
  std::getline(in, header);
  std::getline(in, l1);
  std::getline(in, l2);
  EXPECT_TRUE(std::regex_match(header, std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d rx: 17 Bytes$)")))
      << header;
  EXPECT_EQ(l1, "41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 01  ABCDEFGHIJKLMNO.");
  EXPECT_EQ(l2, "5a " + std::string(15 * 3, ' ') + " Z");
  EXPECT_FALSE(std::getline(in, rest));
  // The dump leaves the caller's time-stamp setting as it was.
  EXPECT_FALSE(TE_Trace_ShowTraceTime());
  // Bytes of 0x80 and above never show in the column.
  std::string high = capture([] { TE_Trace_Data(TRACE_PRINT, "h", "\xc1", 1); });
  EXPECT_NE(high.find("c1 " + std::string(45, ' ') + " .\n"), std::string::npos) << high;
}

TEST_F(TraceFixture, EbcdicDumpTranslatesColumnOnly) {
  unsigned char table[256];
  for (int i = 0; i < 256; i++) table[i] = '.';
  table[0xC1] = 'A';
  TE_Trace_SetEbcdicTable(table);
  std::string out = capture([] { TE_Trace_Data_EBC(TRACE_PRINT, "e", "\xc1\x41", 2); });
  TE_Trace_SetEbcdicTable(nullptr);
  EXPECT_NE(out.find("c1 41 " + std::string(14 * 3, ' ') + " A.\n"), std::string::npos) << out;
}

TEST_F(TraceFixture, FileRouteAppendsAndReopensAfterSettingChange) {
  char path[] = "/tmp/kvxtraceXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  TE_Trace_SetOutputFile(path);
  TE_Trace_SetRoute(TRACE_ROUTE_FILE);
  TE_Trace(TRACE_PRINT, "one\n");
  TE_Trace_SetMask(TRACE_PRINT);  // closes the file
  TE_Trace(TRACE_PRINT, "two\n");
  TE_Trace_SetRoute(0);
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  EXPECT_EQ(ss.str(), "one\ntwo\n");
  unlink(path);
}

// What a trace shows passes the redaction on every route, text and dumps:
// passwords and secure-store tokens masked, session and device identifiers
// cut to 8 characters; other text stays as it was.
TEST_F(TraceFixture, LinesAreRedactedOnEveryRoute) {
  const std::string id = "0123456789abcdef0123456789abcdef01234567";
  const std::string token = "key_" + id + "0123456789abcdef01234567";
  char path[] = "/tmp/kvxtraceXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  TE_Trace_SetOutputFile(path);
  TE_Trace_SetRoute(TRACE_ROUTE_STDERR2 | TRACE_ROUTE_FILE);
  std::string err = capture([&] {
    TE_Trace(TRACE_PRINT, "load {\"kcf\":{\"node\":\"h\",\"password\":\"hunter2\"}} for session=%s\n", id.c_str());
    TE_Trace(TRACE_FAIL, "deviceId=%s typed %s\n", "station-0042-abcdef", token.c_str());
    TE_Trace_Data(TRACE_PRINT, "tx", "password=hunter2", 16);
  });
  TE_Trace_SetRoute(0);
  std::ifstream f(path);
  std::stringstream file;
  file << f.rdbuf();
  unlink(path);
  for (const std::string& out : {err, file.str()}) {
    EXPECT_NE(out.find("load {\"kcf\":{\"node\":\"h\",\"password\":\"***\"}} for session=01234567...\n"),
              std::string::npos) << out;
    EXPECT_NE(out.find("deviceId=station-... typed key_***\n"), std::string::npos) << out;
    EXPECT_NE(out.find("password=***"), std::string::npos) << out;
    EXPECT_EQ(out.find("hunter2"), std::string::npos) << out;
    EXPECT_EQ(out.find(id), std::string::npos) << out;
    EXPECT_EQ(out.find("0042"), std::string::npos) << out;
  }
}

}  // namespace
