// Redaction of log and trace text: what a line may show of the secrets it
// could carry.  Values of secret keys (passwords, pass phrases, their
// secure-store tokens standing in for them, the secret map "secureKeys",
// tokens and secrets by name) are masked; secure-store tokens ("key_" and
// 64 hexadecimal digits) are masked wherever they stand; session and device
// identifiers are cut to their first 8 characters, enough to tell them
// apart, whether named (session=, "sessionId", "deviceId") or, for session
// identifiers, by their shape.
//
// Recognised forms of a named value, the name matched without regard to
// case as the settings keys are:
//   name=value   name: value   "name": "value"   "name": {...} / [...]
// A plain value ends at white space or at one of & , ; } ] ) ".  A value
// that is empty stays empty.
#pragma once

#include <string>
#include <string_view>

// What takes the place of a masked value.
constexpr const char* KVX_REDACTED = "***";

// `text` with every secret masked and every identifier shortened.
std::string kvx_redact(std::string_view text);

// Whether a key names a secret whose value a log line must not show.
bool kvx_redact_is_secret_name(std::string_view name);

// A session identifier as a log shows it: its instance name ("name-") and
// the first 8 characters after it, then "..." when anything was cut.
std::string kvx_redact_session_id(std::string_view id);
// A device identifier (any text a browser chose) as a log shows it: its
// first 8 characters, then "..." when anything was cut.
std::string kvx_redact_device_id(std::string_view id);
