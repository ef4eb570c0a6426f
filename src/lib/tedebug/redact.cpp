// Redaction of log and trace text (redact.h): one pass over the text, word
// by word; a word that names a secret or an identifier has the value after
// it masked or shortened, and words shaped like secure-store tokens or
// session identifiers are replaced where they stand.
#include "redact.h"

#include <strings.h>

#include <cctype>
#include <cstring>

namespace {

// Keys whose values are secrets: passwords and pass phrases, the tokens
// that stand in for them in the settings, the secret map of a settings
// object, and secrets and tokens by their plain names.
constexpr std::string_view kSecretNames[] = {
    "password",          "passwd",     "passwordHash",          "passphrase", "sshPassphrase",
    "sshPassphraseHash", "secureKeys", "sslPrivateKeyPassword", "secret",     "token",
};

enum class Named { None, Secret, Session, Device };

bool word_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool space(char c) {
  return c == ' ' || c == '\t';
}

bool all_hex(std::string_view s) {
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

Named named(std::string_view word) {
  if (kvx_redact_is_secret_name(word)) return Named::Secret;
  if (same_name(word, "session") || same_name(word, "sessionId")) return Named::Session;
  if (same_name(word, "deviceId")) return Named::Device;
  return Named::None;
}

// A secure-store token: "key_" and 64 hexadecimal digits.
bool secure_token(std::string_view word) {
  return word.size() == 68 && word.substr(0, 4) == "key_" && all_hex(word.substr(4));
}

// The 40 hexadecimal digits of a session identifier.
bool session_digits(std::string_view word) {
  return word.size() == 40 && all_hex(word);
}

// An instance name: 1 to 16 lower-case letters and digits.
bool instance_name(std::string_view word) {
  if (word.empty() || word.size() > 16) return false;
  for (char c : word)
    if (!(std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c))))
      return false;
  return true;
}

// End of the word that starts at `at`.
size_t word_end(std::string_view t, size_t at) {
  while (at < t.size() && word_char(t[at])) at++;
  return at;
}

// End of the quoted text that opens at `at` (after its closing quote, or
// the end of the text); a backslash escapes the next character.
size_t quoted_end(std::string_view t, size_t at) {
  const char quote = t[at];
  for (size_t i = at + 1; i < t.size(); i++) {
    if (t[i] == '\\')
      i++;
    else if (t[i] == quote)
      return i + 1;
  }
  return t.size();
}

// End of the value that starts at `at`: a quoted text, a bracketed JSON
// object or array (quoted texts inside skipped), or a plain word.
size_t value_end(std::string_view t, size_t at) {
  const char c = t[at];
  if (c == '"' || c == '\'') return quoted_end(t, at);
  if (c == '{' || c == '[') {
    int depth = 0;
    for (size_t i = at; i < t.size(); i++) {
      if (t[i] == '"') {
        i = quoted_end(t, i) - 1;
      } else if (t[i] == '{' || t[i] == '[') {
        depth++;
      } else if ((t[i] == '}' || t[i] == ']') && --depth == 0) {
        return i + 1;
      }
    }
    return t.size();
  }
  size_t i = at;
  while (i < t.size() && !std::isspace(static_cast<unsigned char>(t[i])) && !std::strchr("&,;}])\"", t[i]))
    i++;
  return i;
}

std::string shortened(Named kind, std::string_view id) {
  return kind == Named::Session ? kvx_redact_session_id(id) : kvx_redact_device_id(id);
}

// The value [at, end) of a named key as the log shows it.
std::string redacted_value(Named kind, std::string_view value) {
  const bool quoted = !value.empty() && (value[0] == '"' || value[0] == '\'');
  if (quoted) {
    const char quote = value[0];
    const bool closed = value.size() >= 2 && value.back() == quote;
    std::string_view inner = value.substr(1, value.size() - (closed ? 2 : 1));
    if (inner.empty()) return std::string(value);
    std::string out(1, quote);
    out += kind == Named::Secret ? std::string(KVX_REDACTED) : shortened(kind, inner);
    if (closed) out += quote;
    return out;
  }
  if (kind == Named::Secret) {
    if (value.empty()) return std::string();
    // A JSON object or array keeps the line JSON: a masked text.
    if (value[0] == '{' || value[0] == '[') return std::string("\"") + KVX_REDACTED + "\"";
    return KVX_REDACTED;
  }
  return shortened(kind, value);
}

}  // namespace

bool kvx_redact_is_secret_name(std::string_view name) {
  for (std::string_view secret : kSecretNames)
    if (same_name(name, secret)) return true;
  return false;
}

std::string kvx_redact_session_id(std::string_view id) {
  const size_t dash = id.find('-');
  const size_t keep = (dash == std::string_view::npos ? 0 : dash + 1) + 8;
  std::string out(id.substr(0, keep));
  if (id.size() > keep) out += "...";
  return out;
}

std::string kvx_redact_device_id(std::string_view id) {
  std::string out(id.substr(0, 8));
  if (id.size() > 8) out += "...";
  return out;
}

std::string kvx_redact(std::string_view t) {
  std::string out;
  out.reserve(t.size());
  size_t i = 0;
  while (i < t.size()) {
    if (!word_char(t[i])) {
      out += t[i++];
      continue;
    }
    const size_t j = word_end(t, i);
    const std::string_view word = t.substr(i, j - i);
    if (secure_token(word)) {
      out += "key_";
      out += KVX_REDACTED;
      i = j;
      continue;
    }
    if (session_digits(word)) {
      out += kvx_redact_session_id(word);
      i = j;
      continue;
    }
    if (j < t.size() && t[j] == '-' && instance_name(word)) {
      const size_t k = word_end(t, j + 1);
      if (session_digits(t.substr(j + 1, k - j - 1))) {
        out += kvx_redact_session_id(t.substr(i, k - i));
        i = k;
        continue;
      }
    }
    const Named kind = named(word);
    if (kind != Named::None) {
      // name=value, name: value, "name": value
      size_t k = j;
      if (i > 0 && t[i - 1] == '"' && k < t.size() && t[k] == '"') k++;
      while (k < t.size() && space(t[k])) k++;
      if (k < t.size() && (t[k] == '=' || t[k] == ':')) {
        k++;
        while (k < t.size() && space(t[k])) k++;
        const size_t end = k < t.size() ? value_end(t, k) : k;
        out.append(t.substr(i, k - i));
        out += redacted_value(kind, t.substr(k, end - k));
        i = end;
        continue;
      }
    }
    out.append(word);
    i = j;
  }
  return out;
}
