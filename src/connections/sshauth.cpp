// SSH user authentication: "none" first, then public key (the library's
// default keys, then the configured key pair with its passphrase),
// password and keyboard-interactive, asking the browser user for what the
// settings do not hold.  Secrets the user asks to keep go to the secure
// store; only their tokens reach the settings.
#include <cstring>
#include <string>

#include "lumdict.h"
#include "sshconnection.h"
#include "tetrace.h"

// Keyboard-interactive rounds before a server that never finishes asking is
// given up on.
static constexpr int kSshMaxKbdintRounds = 32;

static constexpr int kSshMethodsTried =
    SSH_AUTH_METHOD_PUBLICKEY | SSH_AUTH_METHOD_PASSWORD | SSH_AUTH_METHOD_INTERACTIVE;

bool LumSSHConnection::Authenticate() {
  int rc = ssh_userauth_none(_ssh_session, nullptr);
  if (rc == SSH_AUTH_SUCCESS) return true;
  int methods = ssh_userauth_list(_ssh_session, nullptr);
  int tried = 0;
  while (methods & kSshMethodsTried) {
    Auth result = Auth::kFailed;
    if (methods & SSH_AUTH_METHOD_PUBLICKEY) {
      methods &= ~SSH_AUTH_METHOD_PUBLICKEY;
      tried |= SSH_AUTH_METHOD_PUBLICKEY;
      if (_usePub || _useAuth) result = TryPublicKey();
    }
    if (result == Auth::kFailed && (methods & SSH_AUTH_METHOD_PASSWORD)) {
      methods &= ~SSH_AUTH_METHOD_PASSWORD;
      tried |= SSH_AUTH_METHOD_PASSWORD;
      result = TryPassword();
    }
    if (result == Auth::kFailed && (methods & SSH_AUTH_METHOD_INTERACTIVE)) {
      methods &= ~SSH_AUTH_METHOD_INTERACTIVE;
      tried |= SSH_AUTH_METHOD_INTERACTIVE;
      result = TryKeyboardInteractive();
    }
    switch (result) {
      case Auth::kSucceeded:
        return true;
      case Auth::kAbandoned:
        return false;
      case Auth::kPartial:
        // The server wants a further method; each is offered once.
        methods = ssh_userauth_list(_ssh_session, nullptr) & ~tried;
        break;
      case Auth::kFailed:
        break;
    }
  }
  return false;
}

static LumSSHConnection::Auth ssh_auth_result(int rc) {
  if (rc == SSH_AUTH_SUCCESS) return LumSSHConnection::Auth::kSucceeded;
  if (rc == SSH_AUTH_PARTIAL) return LumSSHConnection::Auth::kPartial;
  return LumSSHConnection::Auth::kFailed;
}

LumSSHConnection::Auth LumSSHConnection::TryPublicKey() {
  int rc = ssh_userauth_publickey_auto(_ssh_session, nullptr, nullptr);
  if (rc == SSH_AUTH_SUCCESS || rc == SSH_AUTH_PARTIAL) return ssh_auth_result(rc);

  std::string publicPath = PublicKeyPath();
  ssh_key publicKey = nullptr;
  if (ssh_pki_import_pubkey_file(publicPath.c_str(), &publicKey) != SSH_OK) {
    TE_Trace(TRACE_SSH, "%s: Error reading public key at path %s\n", "SSH::TryPublicKey", publicPath.c_str());
    return Auth::kFailed;
  }

  // The passphrase stays apart from the login password, so a key that the
  // server refuses never sends its passphrase as a password.
  std::string passphrase = _passphrase;
  if (passphrase.empty()) {
    passphrase = Entry("Private key passphrase", true, "Save Passphrase",
                       "Please enter your passphrase for your private key");
    if (entryWasCanceled) {
      ssh_key_free(publicKey);
      return Auth::kFailed;
    }
    if (entryRequestingSave) _storePassword = true;
  }

  std::string privatePath = PrivateKeyPath();
  ssh_key privateKey = nullptr;
  if (privatePath.empty() || ssh_pki_import_privkey_file(privatePath.c_str(), passphrase.c_str(), nullptr,
                                                         nullptr, &privateKey) != SSH_OK) {
    ssh_key_free(publicKey);
    ShowError(false, "Error reading private key.");
    return Auth::kFailed;
  }
  _passphrase = passphrase;
  if (_storePassword) SaveSecret("sshPassphraseHash", passphrase);

  Auth result = Auth::kFailed;
  if (ssh_userauth_try_publickey(_ssh_session, nullptr, publicKey) != SSH_AUTH_SUCCESS) {
    ShowError(false, "Error connecting to %s: Public key rejected.", _hostname.c_str());
  } else {
    result = ssh_auth_result(ssh_userauth_publickey(_ssh_session, nullptr, privateKey));
    if (result == Auth::kFailed) Log("Public key authorization failed\n");
  }
  ssh_key_free(publicKey);
  ssh_key_free(privateKey);
  return result;
}

LumSSHConnection::Auth LumSSHConnection::TryPassword() {
  if (_password.empty()) {
    std::string typed = Entry("Password entry", true, "Save Password:", "Please enter your password");
    if (entryWasCanceled) return Auth::kFailed;
    if (entryRequestingSave) SaveSecret("passwordHash", typed);
    _password = typed;
  }
  if (_username.empty() || _password.empty()) return Auth::kFailed;
  int rc = ssh_userauth_password(_ssh_session, nullptr, _password.c_str());
  Auth result = ssh_auth_result(rc);
  if (result == Auth::kFailed) {
    Log("Error authenticating with password: %s\n", ssh_get_error(_ssh_session));
    ShowError(false, "Unable to authenticate using password.");
  }
  return result;
}

LumSSHConnection::Auth LumSSHConnection::TryKeyboardInteractive() {
  int rc = ssh_userauth_kbdint(_ssh_session, nullptr, nullptr);
  for (int round = 0; rc == SSH_AUTH_INFO; ++round) {
    if (round == kSshMaxKbdintRounds) {
      Log("Keyboard interactive: the server kept asking; giving up\n");
      return Auth::kFailed;
    }
    int prompts = ssh_userauth_kbdint_getnprompts(_ssh_session);
    const char* instruction = ssh_userauth_kbdint_getinstruction(_ssh_session);
    const char* name = ssh_userauth_kbdint_getname(_ssh_session);
    Log("Prompts = %d\n", prompts);
    Log("  Instruction = %s\n", instruction ? instruction : "");
    Log("  Name = %s\n", name ? name : "");
    for (int i = 0; i < prompts; ++i) {
      char echo = 0;
      const char* question = ssh_userauth_kbdint_getprompt(_ssh_session, static_cast<unsigned>(i), &echo);
      if (!question) question = "";
      Log("  Question #%d = (%s) %s\n", i + 1, echo ? "Yes" : "No", question);
      // The server writes the question; it reaches the browser no longer
      // than any other prompt text.
      std::string title(question, strnlen(question, kLumMaxMessage));
      std::string answer = Entry(title.c_str(), !echo, nullptr, "Keyboard interactive: %s", title.c_str());
      if (entryWasCanceled) return Auth::kAbandoned;
      ssh_userauth_kbdint_setanswer(_ssh_session, static_cast<unsigned>(i), answer.c_str());
    }
    rc = ssh_userauth_kbdint(_ssh_session, nullptr, nullptr);
  }
  return ssh_auth_result(rc);
}
