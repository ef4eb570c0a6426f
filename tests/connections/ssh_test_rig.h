// Test rig for the SSH connection: prompt hooks that record every question
// with its texts and answer from a script, a secure-store stand-in, a
// throwaway login user with its keys, and OpenSSH's sshd on 127.0.0.1 with
// its own configuration, host key and log.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "conn_test_util.h"

namespace sshtest {

struct EntryAsked {
  std::string title, msg, saveMsg;
  bool isPassword = false;
};

struct YesNoAsked {
  std::string title, text;
};

// Installs itself as the prompt hooks for its lifetime.
struct Prompts {
  struct Answer {
    int code;  // 0 cancel, 1 accept, 3 accept and save
    std::string text;
  };
  std::vector<EntryAsked> entries;
  std::vector<YesNoAsked> yesnos;
  std::vector<std::string> errors;  // "F:" or "E:" followed by the text
  std::deque<Answer> answers;       // none left: the entry is cancelled
  int yesno = 1;                    // the button for every yes/no question
  std::function<void()> onYesNo;    // runs before a yes/no question is answered

  Prompts();
  ~Prompts();
  std::string All() const;  // everything shown, for failure messages
};

// The secure-store stand-in: tokens "tok-N" for the secrets it was given.
struct SecretStore {
  std::vector<std::string> secrets;
  SecretStore();  // installs itself as the connection library's store
  ~SecretStore();
};

// The login user shared by all tests of a program: a password, a plain
// ed25519 key and one protected by a passphrase (both authorized), and a
// third key the server does not know.
struct Account {
  std::string user, password, keys;  // keys: directory holding the key files
  std::string passphrase = "kvx key passphrase";
  std::string plainKey() const { return keys + "/plain"; }
  std::string secretKey() const { return keys + "/secret"; }
  std::string strangerKey() const { return keys + "/stranger"; }
  // Empty when it could be made, otherwise why not.
  std::string Create();
  void Remove();
};

// sshd -D -e on 127.0.0.1 with `extraConfig` appended to the base
// configuration (password, public-key and keyboard-interactive through PAM,
// LANG accepted); its stderr goes to a log file.
class Sshd {
 public:
  // Empty when it listens, otherwise why not.
  std::string Start(const std::string& extraConfig, const std::string& hostKeyType = "ed25519");
  ~Sshd();
  int port() const { return _port; }
  const std::string& dir() const { return _dir; }
  std::string hostKeyLine() const;  // "<type> <base64>" of the host key
  std::string Log() const;
  // Polls the log, from byte `from` on, for `needle` (sshd writes it a
  // moment after the event).
  bool LogHas(const std::string& needle, size_t from = 0) const;
  // Stops (SIGSTOP) the processes serving the current connections, so the
  // server falls silent; Thaw ends them.
  void Freeze();
  void Thaw();

 private:
  std::string _dir;
  int _port = 0;
  std::unique_ptr<kvxtest::Background> _process;
  std::vector<int> _frozen;
};

// The SHA-1 of a public-key line's blob as lower-case hex pairs joined by ':'.
std::string Sha1Hex(const std::string& keyLine);
// What ssh-keygen prints as the key's SHA-256 fingerprint ("SHA256:...").
std::string Sha256Fingerprint(const std::string& pubFile);
std::string ReadFile(const std::string& path);

// Points HOME at a fresh directory for one test and puts it back after.
class TempHome {
 public:
  TempHome();
  ~TempHome();
  const std::string& path() const { return _path; }
  std::string sshDir() const { return _path + "/.ssh"; }
  std::string knownHosts() const { return sshDir() + "/known_hosts"; }
  // Writes a known_hosts line for 127.0.0.1 at `port`.
  void Trust(int port, const std::string& keyLine);

 private:
  std::string _path, _old;
  bool _had = false;
};

}  // namespace sshtest
