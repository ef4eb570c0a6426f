// LumLocalConnection: the user's shell on a pseudo-terminal of the server
// machine.  The connection owns the shell process and always reaps it.
#pragma once

#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <termios.h>

#include <string>

#include "lumconnection.h"

// The resource limits a shell starts with: those the session process itself
// was started with, not the tighter bounds the server puts on the session
// process.  Set once at start; until then the shell inherits the session
// process's own.
void LumSetShellLimits(rlim_t addressSpace, rlim_t files);

// The locale a shell starts with: the LANG, LC_ALL and LC_<category>
// variables of an environment whose value names a locale this machine has,
// as "NAME=value" entries joined by ','.  Variables naming a missing locale
// are left out.
std::string LumShellLocaleOf(char* const* environment);
// Sets the locale variables shells start with (LumShellLocaleOf's form);
// until it is called, shells get those of the session process's own
// environment.  Whatever the list, a shell whose character handling it
// leaves unset gets LANG=C.UTF-8, and never a locale the machine lacks.
void LumSetShellLocale(const std::string& variables);

class LumLocalConnection : public LumConnection {
 public:
  LumLocalConnection() = default;
  ~LumLocalConnection() override;

  int MakeConnection() override;
  void ChangePtySize(int rows, int cols) override;
  // Writes what the pseudo-terminal takes now and queues the rest (up to
  // kOutputLimit), so a paste into a busy shell loses nothing; the queue
  // drains on every later write, read and update tick.
  void Comout(const char* buffer, int length) override;
  bool IsConnected() override;
  // Hands out the shell's output in pieces of at most `size`, taken from
  // the pseudo-terminal in larger blocks: each read of the terminal wakes
  // the shell's side of it, so few large reads carry output much faster
  // than many small ones.
  int Read(char* buffer, int size) override;
  // Output already taken from the pseudo-terminal and not yet handed out.
  int HasData() override;
  // Sends queued input the pseudo-terminal could not take before.
  int KeepAliveCheck() override;
  // Closes the pseudo-terminal, hangs the shell up and reaps it; a shell that
  // outlives a short grace is killed.
  void Disconnect() override;

  // The shell's process id while it has not been reaped, else 0.
  pid_t shellPid() const { return _pid; }

  struct termios _term = {};
  struct winsize _win = {};

 private:
  void ReapShell(bool force);
  void FlushOutput();
  static constexpr size_t kOutputLimit = 1 << 20;
  std::string _out;  // input for the shell that the pseudo-terminal has not taken yet
  pid_t _pid = 0;
  static constexpr int kInputBlock = 16384;
  char _in[kInputBlock];
  int _inStart = 0, _inEnd = 0;  // undelivered output is _in[_inStart, _inEnd)
};
