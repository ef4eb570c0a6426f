// The installation: "cmake --install" (what make install runs) into a
// staging directory puts the program, the browser application, the
// code-page file, an example configuration and the systemd unit in place;
// the installed program, started in an empty working directory, finds its
// files beside itself and starts sessions from itself.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "emulation_ids.h"
#include "kvx_browser.h"
#include "kvx_test.h"

using namespace kvxtest;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string CacheValue(const std::string& name) {
  std::ifstream in(std::string(KVX_BINARY_DIR) + "/CMakeCache.txt");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(name + ":", 0) == 0) return line.substr(line.find('=') + 1);
  return "";
}

class Installed : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kvxinstall.XXXXXX";
    stage = mkdtemp(tmpl);
    prefix = CacheValue("CMAKE_INSTALL_PREFIX");
    ASSERT_FALSE(prefix.empty());
    const std::string cmd =
        "DESTDIR=" + stage + " cmake --install " + KVX_BINARY_DIR + " > " + stage + "/install.log 2>&1";
    ASSERT_EQ(system(cmd.c_str()), 0) << ReadFile(stage + "/install.log");
    root = stage + prefix;
    // The configuration directory is where the unit runs the program.
    std::smatch m;
    const std::string unit = ReadFile(root + "/lib/systemd/system/kavrix.service");
    ASSERT_TRUE(std::regex_search(unit, m, std::regex("\nWorkingDirectory=([^\n]+)\n"))) << unit;
    sysconf = stage + m[1].str();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(stage, ec);
  }
  std::string stage, prefix, root, sysconf;
};

TEST_F(Installed, FilesLandInTheirPlaces) {
  struct stat st;
  ASSERT_EQ(stat((root + "/bin/kavrix").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  EXPECT_EQ(ReadFile(root + "/share/kavrix/html/ui/index.html"),
            ReadFile(std::string(KVX_SOURCE_DIR) + "/html/ui/index.html"));
  EXPECT_TRUE(fs::exists(root + "/share/kavrix/html/shared/kvx-channel.js"));
  EXPECT_EQ(ReadFile(root + "/share/kavrix/codepage.dat"),
            ReadFile(std::string(KVX_SOURCE_DIR) + "/codepage.dat"));
  EXPECT_TRUE(fs::exists(sysconf + "/kavrix.conf"));
  EXPECT_TRUE(fs::exists(sysconf + "/kavrix.conf.example"));
  EXPECT_TRUE(fs::is_directory(sysconf + "/certs"));

  // The unit: its own user, the usual hardening, the installed program.
  const std::string unit = ReadFile(root + "/lib/systemd/system/kavrix.service");
  for (const char* line : {"User=kavrix\n", "NoNewPrivileges=yes\n", "ProtectSystem=strict\n",
                           "PrivateTmp=yes\n", "KillMode=mixed\n"})
    EXPECT_NE(unit.find(line), std::string::npos) << line;
  EXPECT_NE(unit.find("ExecStart=" + prefix + "/bin/kavrix $KAVRIX_OPTIONS\n"), std::string::npos) << unit;

  // An existing configuration is kept by a second install.
  std::ofstream(sysconf + "/kavrix.conf") << "KAVRIX_OPTIONS=\"-p 9999\"\n";
  const std::string again = "DESTDIR=" + stage + " cmake --install " + KVX_BINARY_DIR + " > /dev/null 2>&1";
  ASSERT_EQ(system(again.c_str()), 0);
  EXPECT_EQ(ReadFile(sysconf + "/kavrix.conf"), "KAVRIX_OPTIONS=\"-p 9999\"\n");

  // systemd reads the unit without complaint (pointed at the staged files).
  if (system("command -v systemd-analyze > /dev/null") == 0) {
    std::string staged = std::regex_replace(unit, std::regex(prefix + "/"), root + "/");
    staged =
        std::regex_replace(staged, std::regex("=-?/[^ \n]*/kavrix(\n|/kavrix.conf\n)"), "=" + sysconf + "$1");
    std::ofstream(stage + "/kavrix.service") << staged;
    const std::string verify =
        "systemd-analyze verify " + stage + "/kavrix.service > " + stage + "/verify.log 2>&1";
    EXPECT_EQ(system(verify.c_str()), 0) << ReadFile(stage + "/verify.log") << staged;
  }
}

// Run from an empty directory, the installed program serves its page and
// runs a local shell whose screen carries Unicode (the code-page file was
// found), from a session process started from itself.
TEST_F(Installed, TheProgramFindsItsFilesBesideItself) {
  char tmpl[] = "/tmp/kvxhome.XXXXXX";
  const std::string home = mkdtemp(tmpl);
  std::ofstream(home + "/.bashrc") << "PS1='kvx$ '\nunset PROMPT_COMMAND\n";
  ServerOptions o;
  o.program = root + "/bin/kavrix";
  o.linkExecutable = false;
  o.linkData = false;
  o.home = home;
  KavrixServer s(o);
  ASSERT_GT(s.port(), 0) << s.err();
  EXPECT_FALSE(fs::exists(s.dir() + "/html"));
  HttpResponse page = HttpRequest(s.port(), "GET", "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body, ReadFile(std::string(KVX_SOURCE_DIR) + "/html/ui/index.html"));
  EXPECT_EQ(HttpRequest(s.port(), "GET", "/kvx-channel.js").status, 200);

  TestBrowser b;
  ASSERT_TRUE(b.NewSession(s.port())) << s.err();
  ASSERT_EQ(EnvelopeCode(b.PostConfig("{\"kcf\":{\"commtype\":7,\"lines\":24,\"col\":80,\"emulate\":" +
                                      std::to_string(KVX_EM_XTERM) +
                                      ","
                                      "\"MBMode\":1},\"connectToHost\":true}")
                             .body),
            0);
  ASSERT_TRUE(b.Attach());
  ASSERT_TRUE(b.WaitText("kvx$")) << b.Describe() << s.err();
  const int row = b.screen.Find("kvx$");
  EXPECT_EQ(b.screen.Cell(0, row) >> 63, 1u) << "no Unicode in the cells: the code-page file was not found";
  EXPECT_EQ(s.err().find("TCS to Unicode codepage not loaded"), std::string::npos);
  std::error_code ec;
  fs::remove_all(home, ec);
}

}  // namespace
