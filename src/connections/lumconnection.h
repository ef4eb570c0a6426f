// LumConnection: the one interface every host connection (local shell,
// telnet, SSH) offers the session, and the prompt seam through which a
// connection asks the browser user for a text, a yes/no answer or an
// acknowledgement of an error.
#pragma once

#include <string>
#include <vector>

#include "emulation_ids.h"

class LumDict;

// Prompt hooks, filled by the session/channel layer at start-up.  Each call
// blocks until the browser answers.  A missing member (or no hooks at all)
// fails safe: entry answers "cancelled", yes/no answers no, fatal only traces.
struct LumPromptHooks {
  // Asks for a text.  Sets *text and returns the result code: 0 cancelled,
  // non-zero accepted, with bit value 2 when the user asked to save it.
  int (*entry)(void* window, const char* title, bool isPassword, const char* msg, const char* saveMsg,
               std::string* text) = nullptr;
  // Asks a yes/no question; the button number, non-zero for yes.
  int (*yesno)(void* window, const char* title, const char* text) = nullptr;
  // Shows an error until the browser acknowledges it.
  void (*fatal)(void* window, bool fatal, const char* text) = nullptr;
};

// Installs the hooks (copied); null restores the fail-safe defaults.
void LumSetPromptHooks(const LumPromptHooks* hooks);

// Connection results of MakeConnection / ContinueConnection.
enum : int {
  LUM_CONNECT_FAILED = -1,
  LUM_CONNECT_PENDING = -2,
};

// Longest prompt or error text, in characters.
constexpr int kLumMaxMessage = 1023;

class LumConnection {
 public:
  LumConnection();
  virtual ~LumConnection();
  LumConnection(const LumConnection&) = delete;
  LumConnection& operator=(const LumConnection&) = delete;

  virtual void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  virtual void ShowError(bool fatal, const char* format, ...) __attribute__((format(printf, 3, 4)));
  virtual std::string Entry(const char* title, bool isPassword, const char* saveEntry, const char* msg, ...)
      __attribute__((format(printf, 5, 6)));
  virtual bool AlertYesNo(const char* title, const char* format, ...) __attribute__((format(printf, 3, 4)));
  virtual std::string GetPasswordForUsername(const char* key, const char* user);
  // Starts connecting: the descriptor to watch, -2 while still connecting,
  // -1 or 0 after a failure already reported through ShowError.
  virtual int MakeConnection() = 0;
  virtual int gotFileDescriptor(int fd);
  // Advances a pending connection; same results as MakeConnection.
  virtual int ContinueConnection();
  virtual void ChangePtySize(int rows, int cols);
  virtual void Comout(const char* buffer, int length);
  // Bytes that must not be encoded again.
  virtual void ComoutRaw(const char* buffer, int length);
  // Count of bytes read (at most size), 0 when nothing is available now, -1
  // when the connection is closed or failed.
  virtual int Read(char* buffer, int size);
  virtual void Disconnect();
  virtual void UseDictionary(LumDict* dict);
  virtual void Comout(unsigned char byte);
  virtual bool IsConnected();
  virtual bool IsReady();
  virtual void setDelegate(void* delegate);
  // Above 0 when data already read from the descriptor waits for delivery.
  virtual int HasData();
  // The terminal-type name announced to the host.
  virtual std::string GetEmName();
  // Called on every tick of the session's update timer.
  virtual int KeepAliveCheck();
  // Block-mode records: where the data of the last Read had an end of
  // record, as counts of its bytes before each mark (ascending); none for
  // connections without records.
  virtual const std::vector<int>& RecordEnds();
  // TN3270E: the functions agreed (bits), or -1 when the session does not
  // use TN3270E framing.
  virtual int Tn3270eFunctions();
  // Whether the host sends records (end of record agreed both ways, or
  // TN3270E); before that its data is line-mode text.
  virtual bool RecordsAgreed();
  // The device (LU) name the host assigned or confirmed during negotiation;
  // empty when it named none.
  virtual std::string AssignedDeviceName();

  int fd() const { return _fd; }
  void setWindow(void* window) { _pgl = window; }

  std::string _username;
  std::string _hostname;
  std::string _password;
  std::string _teltermtype;
  std::string _language;
  // The IPv4 address to dial instead of resolving _hostname again: set by
  // the session's host policy to the address it checked.  Empty = resolve.
  std::string _dialAddress;
  int _emulation = KVX_EM_ANSI;  // the `emulate` setting (KVX_EMULATION)
  // The `emulate` setting announced instead of the dictionary's (the one
  // that runs when the one asked for is not available); -1 for none.  Set
  // before UseDictionary.
  int _announceEmulation = -1;
  int _rows = 0;
  int _cols = 0;
  int _port = 0;
  int _fd = 0;
  void* _pgl = nullptr;
  LumDict* _dict = nullptr;
  bool entryWasCanceled = false;
  bool entryRequestingSave = false;
  bool entryWaiting = false;

 protected:
  // ShowError with an already formatted message.
  void ShowErrorText(bool fatal, const char* text);
};

// The terminal-name table entry for an `emulate` setting, in lower case, or
// "unknown" when the setting has none.
std::string LumTerminalNameForEmulation(int emulation);
