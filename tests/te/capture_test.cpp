// Real programs recorded at 80x24 under TERM=xterm-color (vim scrolling
// and searching, less searching, nano editing, a coloured ls, and vim, less
// and nano started from a shell and quit, which must give the shell's
// screen back from the alternate screen): te-replay's
// screen, attributes and cursor must match the screens kept beside the
// captures, which were checked by eye once.  See
// tests/fixtures/te/record.py for how the captures were made.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string fixture(const std::string& name) {
  return std::string(KVX_SOURCE_DIR) + "/tests/fixtures/te/" + name;
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// te-replay with these arguments; `feed` is a command whose output is
// piped into it.
std::string run(const std::string& args, const std::string& feed = "") {
  std::string cmd = (feed.empty() ? "" : feed + " | ") + std::string(KVX_BINARY_DIR) + "/te-replay " + args;
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

TEST(Captures, ScreensOfRealProgramsMatchTheCheckedScreens) {
  for (const char* name :
       {"vi_scroll", "less_search", "nano_edit", "ls_color", "vi_quit", "less_quit", "nano_quit"}) {
    std::string raw = fixture(std::string(name) + ".raw");
    std::string want = readFile(fixture(std::string(name) + ".screen"));
    ASSERT_FALSE(want.empty()) << name;
    std::string opts = "--emulation mac --rows 24 --cols 80 --attrs --cursor ";
    EXPECT_EQ(run(opts + "'" + raw + "'"), want) << name;
    EXPECT_EQ(run(opts + "--bytewise '" + raw + "'"), want) << name << " byte at a time";
  }
}

TEST(Captures, ReplayToolExplainsItselfAndRejectsBadInput) {
  std::string help = run("--help");
  EXPECT_NE(help.find("Usage: te-replay"), std::string::npos);
  EXPECT_NE(run("--emulation nonesuch /dev/null 2>&1").find("unknown or unsupported emulation"),
            std::string::npos);
  EXPECT_NE(run("/nonexistent/capture 2>&1").find("exit status"), std::string::npos);
  EXPECT_EQ(run("--rows 2 --cols 5 --cursor /dev/null"), "\n\ncursor: row 0, col 0, shown\n");
}

// A file is mapped, a pipe read in growing pieces: the same bytes give the
// same screen either way, also past the first buffer's size.
TEST(Captures, ReplayReadsFilesAndPipesAlike) {
  std::string big = readFile(fixture("nano_edit.raw"));
  ASSERT_FALSE(big.empty());
  while (big.size() < (3u << 20)) big += big;
  char path[] = "/tmp/kvx_replay_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, big.data(), big.size()), (ssize_t)big.size());
  close(fd);
  std::string fromFile = run("--cursor " + std::string(path));
  std::string fromPipe = run("--cursor", "cat " + std::string(path));
  std::string fromCat = run("--cursor -", "cat " + std::string(path));
  std::string fromRedirect = run("--cursor < " + std::string(path));
  unlink(path);
  EXPECT_NE(fromFile.find("cursor: row"), std::string::npos);
  EXPECT_EQ(fromPipe, fromFile);
  EXPECT_EQ(fromCat, fromFile);
  EXPECT_EQ(fromRedirect, fromFile);
  EXPECT_EQ(run("--cursor /dev/null"), run("--cursor < /dev/null"));
}

TEST(Captures, EveryReadPrintsTheScreenAfterEachChunk) {
  std::string out = run("--rows 1 --cols 10 --every-read 3 '" + fixture("ls_color.raw") + "' | head -4");
  EXPECT_EQ(out, "--- after 3 bytes\ntot\n--- after 6 bytes\ntotal\n");
}

}  // namespace
