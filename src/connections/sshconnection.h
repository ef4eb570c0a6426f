// LumSSHConnection: an SSH-2 client session (libssh) with one interactive
// shell channel on a pseudo-terminal.  The TCP connect and key exchange run
// without blocking, driven by the session's update timer; host-key
// verification, authentication and the channel set-up then run in one
// blocking step that asks the browser user for whatever is missing.  Once
// the shell is open, reads and writes never block: bytes the channel cannot
// take yet wait in a bounded queue.
#pragma once

#include <libssh/callbacks.h>
#include <libssh/libssh.h>

#include <string>

#include "lumconnection.h"

// The secure-store seam.  Stores a secret the user asked to keep and
// returns the token that stands for it in the settings (empty when it was
// not stored).  Filled by the session at start-up; without it nothing typed
// by the user is saved.
using LumSecretStoreFn = std::string (*)(const char* secret);
void LumSetSecretStore(LumSecretStoreFn store);

// Seconds any one wait for the server may last while logging in, when the
// settings name no time-out (`sshTimeout` 0).
constexpr long kSshDefaultTimeout = 120;

// Most bytes waiting for the channel's window; keys beyond it are dropped.
constexpr size_t kSshMaxPendingOutput = 1 << 20;

class LumSSHConnection : public LumConnection {
 public:
  LumSSHConnection();
  ~LumSSHConnection() override;

  int MakeConnection() override;
  int gotFileDescriptor(int fd) override;
  int ContinueConnection() override;
  void ChangePtySize(int rows, int cols) override;
  void Comout(const char* buffer, int length) override;
  int Read(char* buffer, int size) override;
  void Disconnect() override;
  void UseDictionary(LumDict* dict) override;
  bool IsConnected() override;
  int HasData() override;
  int KeepAliveCheck() override;

  // The SSH directory: $HOME/.ssh.  Holds the default keys and known_hosts.
  virtual std::string KeyDirectory();

  std::string PublicKeyPath();
  std::string PrivateKeyPath();
  // Checks the server's key against the known-hosts file, asking the user
  // when it is unknown or changed.  True when the key is accepted.
  bool VerifyKnownHost();

  // Outcome of one authentication method: kPartial when the server accepted
  // it but wants another; kAbandoned when the user cancelled everything.
  enum class Auth { kFailed, kSucceeded, kPartial, kAbandoned };

  bool _useAuth = false;
  bool _usePub = false;
  bool _acceptSSHFingerprints = false;
  bool _storePassword = false;
  ssh_channel _channel = nullptr;
  ssh_session _ssh_session = nullptr;
  int _ssh_timeout = 0;
  std::string _publicKey;
  std::string _passphrase;

 private:
  enum class Phase { kIdle, kDialing, kConnecting, kConnected };

  int Dial();
  bool DialDone(int* result);
  int Fail(const char* what);  // releases channel and session; result 0
  void ReleaseSession();
  bool Authenticate();
  Auth TryPublicKey();
  Auth TryPassword();
  Auth TryKeyboardInteractive();
  int OpenShell();
  void SaveSecret(const char* tokenKey, const std::string& secret);
  bool FlushOutput();  // false when the channel failed

  Phase _phase = Phase::kIdle;
  int _dialFd = -1;      // the pinned connect while it is on its way
  std::string _pending;  // bytes the channel has not taken yet
  struct ssh_callbacks_struct _callbacks = {};
};
