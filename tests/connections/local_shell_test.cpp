// The local shell on a pseudo-terminal: its terminal settings, window size,
// environment and shell rule, reads, and that no shell is ever left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "conn_test_util.h"
#include "emulation_ids.h"
#include "localconnection.h"
#include "lumdict.h"

namespace {

using kvxtest::Pump;

// Sets SHELL for one test (or unsets it) and restores it afterwards.
class ShellEnv {
 public:
  explicit ShellEnv(const char* shell) {
    const char* old = getenv("SHELL");
    _had = old != nullptr;
    if (old) _old = old;
    if (shell)
      setenv("SHELL", shell, 1);
    else
      unsetenv("SHELL");
  }
  ~ShellEnv() {
    if (_had)
      setenv("SHELL", _old.c_str(), 1);
    else
      unsetenv("SHELL");
  }

 private:
  bool _had = false;
  std::string _old;
};

std::string WriteScript(const std::string& body) {
  std::string path = kvxtest::TempDir() + "/shell.sh";
  std::ofstream(path) << "#!/bin/sh\n" << body;
  chmod(path.c_str(), 0755);
  return path;
}

void Configure(LumLocalConnection& conn, LumDict& dict, int emulate, int rows = 24, int cols = 80) {
  dict.setIntForKey("commtype", 7);
  dict.setIntForKey("emulate", emulate);
  dict.setIntForKey("lines", rows);
  dict.setIntForKey("col", cols);
  conn.UseDictionary(&dict);
}

void Send(LumConnection& conn, const std::string& text) {
  conn.Comout(text.data(), static_cast<int>(text.size()));
}

bool Reaped(pid_t pid) {
  return kill(pid, 0) != 0 && errno == ESRCH;
}

TEST(LocalShell, TerminalSettingsEnvironmentAndResize) {
  std::string script = WriteScript(
      "echo \"ENV:TERM=$TERM:LANG=$LANG:HOME=$HOME:ARG0=$0:PATHSET=${PATH:+y}:END\"\n"
      "stty size | sed 's/^/SIZE1:/'\n"
      "read line\n"
      "stty size | sed 's/^/SIZE2:/'\n"
      "exec sleep 30\n");
  ShellEnv env(script.c_str());
  LumSetShellLocale("");  // a server without a locale of its own
  LumDict dict;
  LumLocalConnection conn;
  Configure(conn, dict, KVX_EM_WYSE60_25, 25, 81);
  Pump pump(&conn);
  int fd = conn.MakeConnection();
  ASSERT_GT(fd, 0);
  EXPECT_TRUE(conn.IsConnected());
  EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
  ASSERT_TRUE(pump.WaitFor("SIZE1:")) << pump.data();
  // The script sees its own path as $0; the bare-name rule shows with bash below.
  std::string expected = std::string("ENV:TERM=wy60-25:LANG=C.UTF-8:HOME=") +
                         (getenv("HOME") ? getenv("HOME") : "") + ":ARG0=" + script + ":PATHSET=y:END";
  EXPECT_NE(pump.data().find(expected), std::string::npos) << pump.data();
  ASSERT_TRUE(pump.WaitFor("SIZE1:25 81")) << pump.data();

  // The slave side's settings, exactly.
  struct termios t;
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(BRKINT | ICRNL | IXON | IXANY | IMAXBEL));
  EXPECT_EQ(t.c_oflag, static_cast<tcflag_t>(OPOST | ONLCR));
  EXPECT_EQ(t.c_cflag & ~CBAUD, static_cast<tcflag_t>(CS8 | CREAD | HUPCL));
  EXPECT_EQ(t.c_lflag,
            static_cast<tcflag_t>(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHOCTL | ECHOKE | IEXTEN));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
  const struct {
    int index;
    int value;
  } cc[] = {{VINTR, 3},      {VQUIT, 28},   {VERASE, 127}, {VKILL, 21}, {VEOF, 4},   {VTIME, 0},
            {VMIN, 1},       {VSTART, 17},  {VSTOP, 19},   {VSUSP, 26}, {VEOL, 255}, {VREPRINT, 18},
            {VDISCARD, 255}, {VWERASE, 23}, {VLNEXT, 255}, {VEOL2, 255}};
  for (const auto& c : cc) EXPECT_EQ(t.c_cc[c.index], c.value) << "control character " << c.index;

  conn.ChangePtySize(30, 100);
  EXPECT_EQ(conn._rows, 30);
  EXPECT_EQ(conn._cols, 100);
  Send(conn, "go\n");
  ASSERT_TRUE(pump.WaitFor("SIZE2:30 100")) << pump.data();

  pid_t pid = conn.shellPid();
  ASSERT_GT(pid, 0);
  conn.Disconnect();
  EXPECT_FALSE(conn.IsConnected());
  EXPECT_EQ(conn.shellPid(), 0);
  EXPECT_TRUE(Reaped(pid));
  EXPECT_EQ(conn.Read(nullptr, 0), -1);
}

TEST(LocalShell, DefaultShellIsBashAndIdleReadsGiveZero) {
  ShellEnv env(nullptr);
  LumDict dict;
  dict.setStringForKey("teltermtype", "vt220");
  LumLocalConnection conn;
  Configure(conn, dict, KVX_EM_VT100);
  Pump pump(&conn);
  ASSERT_GT(conn.MakeConnection(), 0);
  Send(conn, "echo \"A-$0-$TERM-$((6*7))-Z\"\n");
  ASSERT_TRUE(pump.WaitFor("A-bash-vt220-42-Z")) << pump.data();
  // Once the output is drained, a read finds nothing and says so with 0.
  pump.WaitFor("never-printed", std::chrono::milliseconds(300));
  char buf[64];
  EXPECT_EQ(conn.Read(buf, sizeof buf), 0);

  // exit: the next reads report -1 and the shell has been collected.
  pid_t pid = conn.shellPid();
  Send(conn, "exit\n");
  ASSERT_TRUE(pump.WaitClosed()) << pump.data();
  auto end = kvxtest::Clock::now() + std::chrono::seconds(10);
  while (conn.shellPid() != 0 && kvxtest::Clock::now() < end) {
    conn.Read(buf, sizeof buf);  // the session would disconnect; reading again must stay -1
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(conn.Read(buf, sizeof buf), -1);
  conn.Disconnect();
  EXPECT_TRUE(Reaped(pid));
  int status;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), -1);
}

TEST(LocalShell, ShellIgnoringHangupIsKilledAndReaped) {
  std::string script = WriteScript("trap '' HUP TERM\necho ready\nexec tail -f /dev/null\n");
  ShellEnv env(script.c_str());
  LumDict dict;
  LumLocalConnection conn;
  Configure(conn, dict, KVX_EM_VT100);
  Pump pump(&conn);
  ASSERT_GT(conn.MakeConnection(), 0);
  ASSERT_TRUE(pump.WaitFor("ready"));
  pid_t pid = conn.shellPid();
  auto start = kvxtest::Clock::now();
  conn.Disconnect();
  EXPECT_LT(kvxtest::Clock::now() - start, std::chrono::seconds(5));  // bounded, never a hang
  EXPECT_TRUE(Reaped(pid));
}

TEST(LocalShell, DestroyingAConnectedShellLeavesNoChild) {
  pid_t pid;
  {
    ShellEnv env("/bin/sh");
    LumDict dict;
    LumLocalConnection conn;
    Configure(conn, dict, KVX_EM_VT100);
    ASSERT_GT(conn.MakeConnection(), 0);
    pid = conn.shellPid();
  }
  EXPECT_TRUE(Reaped(pid));
}

TEST(LocalShell, MissingShellEndsTheConnection) {
  ShellEnv env("/nonexistent/shell");
  LumDict dict;
  LumLocalConnection conn;
  Configure(conn, dict, KVX_EM_VT100);
  Pump pump(&conn);
  ASSERT_GT(conn.MakeConnection(), 0);
  EXPECT_TRUE(pump.WaitClosed());
  conn.Disconnect();
  EXPECT_EQ(conn.shellPid(), 0);
}

}  // namespace

namespace {

// A paste far larger than the pseudo-terminal's buffer reaches a shell that
// reads slowly, byte for byte, in order.
TEST(LocalShell, LargePasteIsQueuedNotLost) {
  std::string out = kvxtest::TempDir() + "/paste.txt";
  std::string script = WriteScript("stty raw -echo\nhead -c 300000 > '" + out +
                                   "'\nprintf 'DONE\\n'\nexec sleep 30\n");
  ShellEnv env(script.c_str());
  LumDict dict;
  LumLocalConnection conn;
  Configure(conn, dict, KVX_EM_XTERM);
  Pump pump(&conn);
  ASSERT_GT(conn.MakeConnection(), 0);
  std::string paste;
  for (int i = 0; paste.size() < 300000; i++) paste += "line " + std::to_string(i) + "\r";
  paste.resize(300000);
  // The paste goes out once the script has switched the terminal to raw mode.
  auto rawModeBy = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  struct termios t;
  while (tcgetattr(conn._fd, &t) == 0 && (t.c_lflag & ICANON) && std::chrono::steady_clock::now() < rawModeBy)
    usleep(10000);
  ASSERT_FALSE(t.c_lflag & ICANON);
  Send(conn, paste);
  ASSERT_TRUE(pump.WaitFor("DONE", std::chrono::seconds(30))) << "queued input never fully arrived";
  std::ifstream in(out, std::ios::binary);
  std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(got.size(), paste.size());
  EXPECT_TRUE(got == paste);
}

// Where en_US.UTF-8 is not installed, the shell still handles UTF-8.
TEST(LocalShell, ShellCharacterHandlingIsUtf8) {
  std::string script = WriteScript("echo \"CT:$(locale charmap 2>/dev/null):END\"\nexec sleep 30\n");
  ShellEnv env(script.c_str());
  LumDict dict;
  LumLocalConnection conn;
  Configure(conn, dict, KVX_EM_XTERM);
  Pump pump(&conn);
  ASSERT_GT(conn.MakeConnection(), 0);
  ASSERT_TRUE(pump.WaitFor(":END")) << pump.data();
  EXPECT_NE(pump.data().find("CT:UTF-8:END"), std::string::npos) << pump.data();
}

// The xterm members name their terminal; the one of 256 colours also says
// that 24-bit colours are kept.
TEST(LocalShell, XtermMembersNameTheirTerminalAndColours) {
  struct Case {
    int emulate;
    const char* want;
  } cases[] = {
      {KVX_EM_XTERM256, "TERM=xterm-256color:COLORTERM=truecolor:END"},
      {KVX_EM_XTERM, "TERM=xterm-color:COLORTERM=:END"},
  };
  const char* had = getenv("COLORTERM");
  const std::string old = had ? had : "";
  unsetenv("COLORTERM");
  for (const Case& c : cases) {
    std::string script = WriteScript("echo \"TERM=$TERM:COLORTERM=$COLORTERM:END\"\nexec sleep 30\n");
    ShellEnv env(script.c_str());
    LumDict dict;
    LumLocalConnection conn;
    Configure(conn, dict, c.emulate);
    Pump pump(&conn);
    ASSERT_GT(conn.MakeConnection(), 0);
    ASSERT_TRUE(pump.WaitFor(":END")) << pump.data();
    EXPECT_NE(pump.data().find(c.want), std::string::npos) << pump.data();
  }
  if (had) setenv("COLORTERM", old.c_str(), 1);
}

// The shell gets the server's locale variables that name a locale this
// machine has, none that it lacks, and C.UTF-8 when that leaves its
// character handling unset.
TEST(LocalShell, ShellLocaleIsOneTheMachineHas) {
  // What the server passes on from its environment.
  char lang[] = "LANG=xx_NO.UTF-8";
  char time[] = "LC_TIME=C.UTF-8";
  char all[] = "LC_ALL=";
  char other[] = "LANGUAGE=fr";
  char odd[] = "LC_CTYPE=C.UTF-8,LANG=C";
  char* environment[] = {lang, time, all, other, odd, nullptr};
  EXPECT_EQ(LumShellLocaleOf(environment), "LC_TIME=C.UTF-8");
  char ctype[] = "LC_CTYPE=C.UTF-8";
  char posix[] = "LANG=POSIX";
  char* second[] = {posix, ctype, nullptr};
  EXPECT_EQ(LumShellLocaleOf(second), "LANG=POSIX,LC_CTYPE=C.UTF-8");

  struct Case {
    const char* given;
    const char* shown;
  } cases[] = {
      {"", "L:C.UTF-8:::"},
      {"LC_TIME=C.UTF-8", "L:C.UTF-8::C.UTF-8:"},
      {"LANG=xx_NO.UTF-8,LC_TIME=xx_NO.UTF-8", "L:C.UTF-8:::"},
      {"LC_CTYPE=C.UTF-8", "L::C.UTF-8::"},
      {"LANG=POSIX", "L:POSIX:::"},
  };
  for (const Case& c : cases) {
    setenv("LC_ALL", "xx_NO.UTF-8", 1);  // the session process's own never reaches the shell
    std::string script =
        WriteScript("echo \"L:$LANG:$LC_CTYPE:$LC_TIME:$LC_ALL\" | tr -d '\\r'\necho END\nexec sleep 30\n");
    ShellEnv env(script.c_str());
    LumSetShellLocale(c.given);
    LumDict dict;
    LumLocalConnection conn;
    Configure(conn, dict, KVX_EM_XTERM);
    Pump pump(&conn);
    ASSERT_GT(conn.MakeConnection(), 0);
    ASSERT_TRUE(pump.WaitFor("END")) << pump.data();
    EXPECT_NE(pump.data().find(std::string(c.shown) + "\r\n"), std::string::npos) << c.given << ": " << pump.data();
    unsetenv("LC_ALL");
  }
  LumSetShellLocale("");
}

}  // namespace
