// Redaction of log text: secrets masked in every form a line carries them,
// tokens masked where they stand, session and device identifiers cut to
// their first 8 characters, and everything else left exactly as it was.
#include "redact.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kHex40 = "0123456789abcdef0123456789abcdef01234567";
const std::string kHex32 = "89abcdef0123456789abcdef01234567";
const std::string kToken = "key_" + kHex40 + "0123456789abcdef01234567";  // 64 digits

TEST(Redact, MasksSecretsAndShortensIdentifiers) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      // Secrets by name, in query, JSON and prose form; names without regard to case.
      {"password=hunter2&user=me", "password=***&user=me"},
      {R"({"kcf":{"user":"me","password":"p \"q\" }","port":23}})",
       R"({"kcf":{"user":"me","password":"***","port":23}})"},
      {"PassWord: two words", "PassWord: *** words"},
      {"sshPassphrase = abc;def", "sshPassphrase = ***;def"},
      {"sslPrivateKeyPassword='a b' next", "sslPrivateKeyPassword='***' next"},
      {"\"passwordHash\": \"pw\"", "\"passwordHash\": \"***\""},
      {"sshPassphraseHash=" + kToken, "sshPassphraseHash=***"},
      {"token:abc secret=xyz", "token:*** secret=***"},
      {"password=\"unterminated", "password=\"***"},
      // The secret map whole, quoted texts inside it skipped.
      {R"({"secureKeys":{"pw":"}{","x":[1]},"node":"h"})", R"({"secureKeys":"***","node":"h"})"},
      {R"("secureKeys": ["a", "b"] , "n": 1)", R"("secureKeys": "***" , "n": 1)"},
      // Secure-store tokens wherever they stand.
      {"s " + kToken + "\n", "s key_***\n"},
      {"typing secret " + kToken + ".", "typing secret key_***."},
      // Session identifiers: named, bare, with an instance name.
      {"/load_config?session=" + kHex40 + "&x=1", "/load_config?session=01234567...&x=1"},
      {"/x?session=east-" + kHex40, "/x?session=east-01234567..."},
      {R"({"sessionId":")" + kHex40 + R"("})", R"({"sessionId":"01234567..."})"},
      {"session " + kHex40 + " ended", "session 01234567... ended"},
      {"[lab2-" + kHex40 + "] started", "[lab2-01234567...] started"},
      // Device identifiers, whatever a browser chose.
      {R"({"deviceId":")" + kHex32 + R"("})", R"({"deviceId":"89abcdef..."})"},
      {"deviceId=my-own-phone-name", "deviceId=my-own-p..."},
      // Left alone: empty values, short identifiers, look-alikes, other words.
      {R"({"password":"","user":"me"})", R"({"password":"","user":"me"})"},
      {"password=&user=me", "password=&user=me"},
      {"Password:\nlogin ok", "Password:\nlogin ok"},
      {"w Password", "w Password"},
      {"session=abc", "session=abc"},
      {"passwordless=1 mypassword=x password_file=y", "passwordless=1 mypassword=x password_file=y"},
      {kHex40.substr(1) + " " + kHex40 + "9", kHex40.substr(1) + " " + kHex40 + "9"},
      {"key_" + kHex40, "key_" + kHex40},
      {"x" + kToken, "x" + kToken},
      {"screen hash " + kHex32, "screen hash " + kHex32},
      {"", ""},
      {"plain text, 100% ordinary: a=b", "plain text, 100% ordinary: a=b"},
  };
  for (const Case& c : cases) EXPECT_EQ(kvx_redact(c.in), c.out) << c.in;
}

TEST(Redact, IdentifierHelpers) {
  EXPECT_EQ(kvx_redact_session_id(kHex40), "01234567...");
  EXPECT_EQ(kvx_redact_session_id("east-" + kHex40), "east-01234567...");
  EXPECT_EQ(kvx_redact_session_id("01234567"), "01234567");
  EXPECT_EQ(kvx_redact_session_id(""), "");
  EXPECT_EQ(kvx_redact_device_id(kHex32), "89abcdef...");
  EXPECT_EQ(kvx_redact_device_id("a-b-c-d-e-f"), "a-b-c-d-...");
  EXPECT_EQ(kvx_redact_device_id("short"), "short");
  for (const char* name : {"password", "PASSWORD", "passwordHash", "secureKeys", "sslPrivateKeyPassword"})
    EXPECT_TRUE(kvx_redact_is_secret_name(name)) << name;
  for (const char* name : {"user", "node", "passwords", "", "pass"})
    EXPECT_FALSE(kvx_redact_is_secret_name(name)) << name;
}

}  // namespace
