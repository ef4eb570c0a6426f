// The local shell connection: forkpty with fixed terminal settings, the
// shell's environment, non-blocking reads and writes, window size changes,
// and hanging up and reaping the shell.
#include "localconnection.h"

#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tetrace.h"

// How long a hung-up shell may take to end before it is killed.
static constexpr int kLocalGraceMs = 250;
static constexpr int kLocalPollMs = 5;

static void local_sleep_ms(int ms) {
  struct timespec ts = {0, ms * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

static void local_fill_termios(struct termios* t) {
  memset(t, 0, sizeof *t);
  t->c_iflag = BRKINT | ICRNL | IXON | IXANY | IMAXBEL;
  t->c_oflag = OPOST | ONLCR;
  t->c_cflag = CS8 | CREAD | HUPCL;
  t->c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHOCTL | ECHOKE | IEXTEN;
  t->c_cc[VINTR] = 3;
  t->c_cc[VQUIT] = 28;
  t->c_cc[VERASE] = 127;
  t->c_cc[VKILL] = 21;
  t->c_cc[VEOF] = 4;
  t->c_cc[VTIME] = 0;
  t->c_cc[VMIN] = 1;
  t->c_cc[VSTART] = 17;
  t->c_cc[VSTOP] = 19;
  t->c_cc[VSUSP] = 26;
  t->c_cc[VEOL] = 255;
  t->c_cc[VREPRINT] = 18;
  t->c_cc[VDISCARD] = 255;
  t->c_cc[VWERASE] = 23;
  t->c_cc[VLNEXT] = 255;
  t->c_cc[VEOL2] = 255;
  cfsetispeed(t, B115200);
  cfsetospeed(t, B115200);
}

static bool local_locale_exists(const char* name) {
  locale_t loc = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
  if (!loc) return false;
  freelocale(loc);
  return true;
}

// The locale categories a shell may be given besides LANG and LC_ALL.
static const char* const kLocaleVariables[] = {
    "LANG",          "LC_ALL",         "LC_CTYPE",     "LC_NUMERIC",     "LC_TIME",
    "LC_COLLATE",    "LC_MONETARY",    "LC_MESSAGES",  "LC_PAPER",       "LC_NAME",
    "LC_ADDRESS",    "LC_TELEPHONE",   "LC_MEASUREMENT", "LC_IDENTIFICATION"};

static bool local_is_locale_variable(const std::string& name) {
  for (const char* v : kLocaleVariables)
    if (name == v) return true;
  return false;
}

std::string LumShellLocaleOf(char* const* environment) {
  std::string out;
  for (char* const* e = environment; e && *e; ++e) {
    const char* eq = strchr(*e, '=');
    if (!eq || !eq[1]) continue;
    const std::string name(*e, static_cast<size_t>(eq - *e));
    const char* value = eq + 1;
    // A list entry can hold no ',' (nor any name the machine could not have).
    if (!local_is_locale_variable(name) || strchr(value, ',') || !local_locale_exists(value)) continue;
    if (!out.empty()) out += ',';
    out += name + "=" + value;
  }
  return out;
}

static bool g_shellLocaleSet = false;
static std::string g_shellLocale;

void LumSetShellLocale(const std::string& variables) {
  g_shellLocaleSet = true;
  g_shellLocale = variables;
}

// The locale entries for the next shell, checked again against the
// machine's locales.
static std::vector<std::string> local_shell_locale() {
  extern char** environ;
  std::string list = g_shellLocaleSet ? g_shellLocale : LumShellLocaleOf(environ);
  std::vector<std::string> entries;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string entry = list.substr(start, end - start);
    size_t eq = entry.find('=');
    if (eq != std::string::npos && eq + 1 < entry.size() && local_is_locale_variable(entry.substr(0, eq)) &&
        local_locale_exists(entry.c_str() + eq + 1))
      entries.push_back(entry);
    start = end + 1;
  }
  bool ctype = false;
  for (const std::string& e : entries)
    if (e.rfind("LANG=", 0) == 0 || e.rfind("LC_ALL=", 0) == 0 || e.rfind("LC_CTYPE=", 0) == 0) ctype = true;
  if (!ctype) entries.insert(entries.begin(), "LANG=C.UTF-8");
  return entries;
}

static bool g_shellLimitsSet = false;
static rlim_t g_shellAddressSpace = RLIM_INFINITY;
static rlim_t g_shellFiles = RLIM_INFINITY;

void LumSetShellLimits(rlim_t addressSpace, rlim_t files) {
  g_shellLimitsSet = true;
  g_shellAddressSpace = addressSpace;
  g_shellFiles = files;
}

// Raises a soft limit back to `soft` (never above the hard limit).
static void local_restore_limit(int resource, rlim_t soft) {
  struct rlimit r;
  if (getrlimit(resource, &r) != 0) return;
  r.rlim_cur =
      (r.rlim_max != RLIM_INFINITY && (soft == RLIM_INFINITY || soft > r.rlim_max)) ? r.rlim_max : soft;
  setrlimit(resource, &r);
}

// In the child: a clean signal state, no descriptors of the session process,
// the terminal environment, then the shell.  Never returns.
[[noreturn]] static void local_exec_shell(const char* term, bool truecolor,
                                         const std::vector<std::string>& locale) {
  static const int kResetSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGPIPE,
                                      SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2};
  for (int sig : kResetSignals) signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  closefrom(3);
  if (g_shellLimitsSet) {
    local_restore_limit(RLIMIT_AS, g_shellAddressSpace);
    local_restore_limit(RLIMIT_NOFILE, g_shellFiles);
  }

  setenv("TERM", term, 1);
  // Programs that can draw 24-bit colours look here for a terminal that
  // keeps them.
  if (truecolor) setenv("COLORTERM", "truecolor", 1);
  for (const char* v : kLocaleVariables) unsetenv(v);
  for (const std::string& entry : locale) putenv(const_cast<char*>(entry.c_str()));
  // A session process receives only HOME; give the shell a usable search path.
  setenv("PATH", "/usr/local/bin:/usr/bin:/bin", 0);
  const char* shell = getenv("SHELL");
  if (!shell || !*shell) shell = "/bin/bash";
  const char* slash = strrchr(shell, '/');
  const char* name = slash ? slash + 1 : shell;
  execl(shell, name, static_cast<char*>(nullptr));
  _exit(255);
}

LumLocalConnection::~LumLocalConnection() {
  Disconnect();
}

int LumLocalConnection::MakeConnection() {
  _fd = 0;
  local_fill_termios(&_term);
  _win = {};
  _win.ws_row = static_cast<unsigned short>(_rows);
  _win.ws_col = static_cast<unsigned short>(_cols);
  std::string term = GetEmName();  // before the fork: no allocation in the child
  // The shell's locale: the server's where this machine has it, else
  // C.UTF-8 (never a name the machine lacks: programs would fall back to
  // plain ASCII and mangle UTF-8).
  const std::vector<std::string> locale = local_shell_locale();
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, &_term, &_win);
  if (pid < 0) {
    Log("LumLocalConnection: forkpty failed errno = %d (%s)\n", errno, strerror(errno));
    return 0;
  }
  if (pid == 0) local_exec_shell(term.c_str(), _emulation == KVX_EM_XTERM256, locale);
  _pid = pid;
  int flags = fcntl(master, F_GETFL);
  fcntl(master, F_SETFL, flags | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  _fd = master;
  Log("LumLocalConnection: shell pid %d on fd %d\n", static_cast<int>(pid), master);
  return _fd;
}

void LumLocalConnection::ChangePtySize(int rows, int cols) {
  _rows = rows;
  _cols = cols;
  _win.ws_row = static_cast<unsigned short>(rows);
  _win.ws_col = static_cast<unsigned short>(cols);
  _win.ws_xpixel = 0;
  _win.ws_ypixel = 0;
  if (_fd > 0) ioctl(_fd, TIOCSWINSZ, &_win);
}

void LumLocalConnection::Comout(const char* buffer, int length) {
  if (_fd <= 0 || length <= 0) return;
  size_t done = 0;
  if (_out.empty()) {
    ssize_t n = write(_fd, buffer, static_cast<size_t>(length));
    if (n > 0) done = static_cast<size_t>(n);
  }
  size_t rest = static_cast<size_t>(length) - done;
  if (rest == 0) return;
  if (_out.size() + rest > kOutputLimit) {
    Log("LumLocalConnection: input queue full, %zu bytes dropped\n", rest);
    return;
  }
  _out.append(buffer + done, rest);
  FlushOutput();
}

void LumLocalConnection::FlushOutput() {
  while (_fd > 0 && !_out.empty()) {
    ssize_t n = write(_fd, _out.data(), _out.size());
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) _out.clear();  // the shell is gone
      return;
    }
    _out.erase(0, static_cast<size_t>(n));
  }
}

int LumLocalConnection::KeepAliveCheck() {
  FlushOutput();
  return 0;
}

bool LumLocalConnection::IsConnected() {
  return _fd > 0;
}

int LumLocalConnection::Read(char* buffer, int size) {
  if (_fd <= 0) return -1;
  if (size <= 0) return 0;
  if (!_out.empty()) FlushOutput();
  if (_inStart == _inEnd) {
    _inStart = _inEnd = 0;
    ssize_t n = read(_fd, _in, sizeof _in);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    if (n <= 0) {
      // End of file, or EIO once the shell has gone: collect it now if it has.
      ReapShell(false);
      return -1;
    }
    _inEnd = static_cast<int>(n);
  }
  int n = _inEnd - _inStart < size ? _inEnd - _inStart : size;
  memcpy(buffer, _in + _inStart, static_cast<size_t>(n));
  _inStart += n;
  return n;
}

int LumLocalConnection::HasData() {
  return _inEnd - _inStart;
}

// Collects the shell's exit status.  With force, a shell still running is
// hung up, given a short grace and then killed, so none is left behind.
void LumLocalConnection::ReapShell(bool force) {
  if (_pid <= 0) return;
  int status = 0;
  pid_t r = waitpid(_pid, &status, WNOHANG);
  if (r == _pid || (r < 0 && errno == ECHILD)) {
    if (r == _pid) Log("LumLocalConnection: shell %d ended, status 0x%x\n", static_cast<int>(_pid), status);
    _pid = 0;
    return;
  }
  if (!force) return;
  kill(_pid, SIGHUP);
  kill(_pid, SIGCONT);
  for (int waited = 0; waited < kLocalGraceMs; waited += kLocalPollMs) {
    r = waitpid(_pid, &status, WNOHANG);
    if (r == _pid || (r < 0 && errno == ECHILD)) {
      _pid = 0;
      return;
    }
    local_sleep_ms(kLocalPollMs);
  }
  Log("LumLocalConnection: shell %d ignores the hang-up, killing it\n", static_cast<int>(_pid));
  kill(_pid, SIGKILL);
  while (waitpid(_pid, &status, 0) < 0 && errno == EINTR) {
  }
  _pid = 0;
}

void LumLocalConnection::Disconnect() {
  _inStart = _inEnd = 0;
  _out.clear();
  if (_fd > 0) {
    close(_fd);
    _fd = 0;
  }
  ReapShell(true);
}
