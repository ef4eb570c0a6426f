// The secure value store: one process-wide map from token to value.  A
// token is "key_" followed by the hexadecimal HMAC-SHA256 of the value
// under a key drawn at random once per process, so equal values share a
// token while the token itself gives nothing of the value away (tokens end
// up in the settings dictionary, which browsers can read back).
#include "secure.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <cstring>
#include <string>
#include <unordered_map>

#include "tetrace.h"

namespace {

struct SecureStore {
  std::unordered_map<std::string, std::string> values;  // token -> value
  unsigned char key[32];
  bool keyed = false;
};

SecureStore& sec_store() {
  static SecureStore store;
  return store;
}

bool sec_token(SecureStore& s, const char* value, size_t length, std::string* token) {
  if (!s.keyed) {
    if (RAND_bytes(s.key, sizeof s.key) != 1) return false;
    s.keyed = true;
  }
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int macLength = 0;
  if (!HMAC(EVP_sha256(), s.key, (int)sizeof s.key, (const unsigned char*)value, length, mac, &macLength))
    return false;
  static const char hex[] = "0123456789abcdef";
  token->assign("key_");
  for (unsigned int i = 0; i < macLength; i++) {
    *token += hex[mac[i] >> 4];
    *token += hex[mac[i] & 0xF];
  }
  return true;
}

}  // namespace

char* kvx_set_secure(const char* value) {
  if (!value) return nullptr;
  size_t length = std::strlen(value);
  if (length > KVX_SECURE_MAX_VALUE) {
    TE_Trace(TRACE_FAIL, "%s: value of %zu bytes refused\n", "kvx_set_secure", length);
    return nullptr;
  }
  SecureStore& s = sec_store();
  std::string token;
  if (!sec_token(s, value, length, &token)) {
    TE_Trace(TRACE_FAIL, "%s: no token could be made\n", "kvx_set_secure");
    return nullptr;
  }
  if (!s.values.count(token)) {
    if (s.values.size() >= KVX_SECURE_MAX_ENTRIES) {
      TE_Trace(TRACE_FAIL, "%s: store full (%zu entries)\n", "kvx_set_secure", s.values.size());
      return nullptr;
    }
    s.values.emplace(token, std::string(value, length));
  }
  return strdup(token.c_str());
}

char* kvx_get_secure(const char* token) {
  if (!token) return nullptr;
  SecureStore& s = sec_store();
  auto it = s.values.find(token);
  if (it == s.values.end() || it->second.empty()) return nullptr;
  return strdup(it->second.c_str());
}

size_t kvx_secure_count() {
  return sec_store().values.size();
}
