// The local shell as the session reads it: a burst of output larger than
// one session read arrives whole and in order, never more than the size
// asked for at a time, with HasData announcing what is already taken from
// the pseudo-terminal; the shell's end reads as -1.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "localconnection.h"

namespace {

TEST(CoreLocalShell, BurstArrivesWholeInSessionSizedReads) {
  char dir[] = "/tmp/kvxshell.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string script = std::string(dir) + "/burst.sh";
  // 200 000 numbered bytes (lines of 10), then the end.
  std::ofstream(script) << "#!/bin/sh\nstty -onlcr\nseq -w 100000 119999\nprintf END\n";
  chmod(script.c_str(), 0755);
  const char* oldShell = getenv("SHELL");
  std::string saved = oldShell ? oldShell : "";
  setenv("SHELL", script.c_str(), 1);

  LumLocalConnection conn;
  conn._rows = 24;
  conn._cols = 80;
  int fd = conn.MakeConnection();
  if (oldShell)
    setenv("SHELL", saved.c_str(), 1);
  else
    unsetenv("SHELL");
  ASSERT_GT(fd, 0);

  std::string got;
  bool sawPending = false;
  int largest = 0;
  for (int spins = 0; spins < 200000; spins++) {
    char buffer[1024];
    int n = conn.Read(buffer, sizeof buffer);
    if (n < 0) break;
    if (n == 0) {
      ASSERT_EQ(conn.HasData(), 0);
      pollfd p = {fd, POLLIN, 0};
      poll(&p, 1, 5000);
      continue;
    }
    largest = std::max(largest, n);
    got.append(buffer, static_cast<size_t>(n));
    if (conn.HasData() > 0) sawPending = true;
  }
  conn.Disconnect();
  EXPECT_EQ(conn.shellPid(), 0);
  std::string expected;
  for (int i = 100000; i <= 119999; i++) expected += std::to_string(i) + "\n";
  expected += "END";
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected) << "output lost or reordered";
  EXPECT_LE(largest, 1024);
  EXPECT_TRUE(sawPending);
  unlink(script.c_str());
  rmdir(dir);
}

}  // namespace
