// The secure value store: tokens, lookups and the store's limits, directly
// and through the platform layer.
#include "secure.h"

#include <gtest/gtest.h>

#include <string>

#include "platform.h"

namespace {

TEST(SecureStore, TokenResolvesToItsValueAndHidesIt) {
  std::string token = kvx_set_secure("s3cr3t-pass");
  ASSERT_EQ(token.rfind("key_", 0), 0u) << token;
  EXPECT_EQ(token.size(), 4u + 64u);
  EXPECT_EQ(token.find("s3cr3t"), std::string::npos);
  EXPECT_EQ(kvx_get_secure(token.c_str()), "s3cr3t-pass");
}

TEST(SecureStore, EqualValuesShareOneTokenAndOneEntry) {
  size_t before = kvx_secure_count();
  std::string a = kvx_set_secure("same value");
  std::string b = kvx_set_secure("same value");
  EXPECT_EQ(a, b);
  EXPECT_EQ(kvx_secure_count(), before + 1);
  EXPECT_NE(kvx_set_secure("Same value"), a);  // exact, case-sensitive
}

TEST(SecureStore, LookupsThatFindNothing) {
  size_t before = kvx_secure_count();
  const char* tokens[] = {"key_never-stored", "", "key_", nullptr};
  for (const char* token : tokens) EXPECT_EQ(kvx_get_secure(token), "") << (token ? token : "(null)");
  EXPECT_EQ(kvx_secure_count(), before) << "a lookup must not add entries";
  // The plain "key_" + value form of a stored value is not a token.
  kvx_set_secure("visible");
  EXPECT_EQ(kvx_get_secure("key_visible"), "");
  // An empty value is stored but reads as nothing.
  std::string empty = kvx_set_secure("");
  ASSERT_FALSE(empty.empty());
  EXPECT_EQ(kvx_get_secure(empty.c_str()), "");
}

TEST(SecureStore, RefusesOversizedValues) {
  std::string big(KVX_SECURE_MAX_VALUE + 1, 'x');
  EXPECT_EQ(kvx_set_secure(big.c_str()), "");
  EXPECT_EQ(kvx_set_secure(nullptr), "");
  std::string largest(KVX_SECURE_MAX_VALUE, 'y');
  std::string token = kvx_set_secure(largest.c_str());
  EXPECT_EQ(kvx_get_secure(token.c_str()), largest);
}

TEST(SecureStore, PlatformLayerUsesTheSameStore) {
  std::string token = app_macro_store_secure(nullptr, "macro secret");
  EXPECT_EQ(token, kvx_set_secure("macro secret"));
  EXPECT_EQ(app_macro_get_secure(nullptr, token.c_str()), "macro secret");
  EXPECT_EQ(app_macro_get_secure(nullptr, "key_unknown"), "");
}

}  // namespace
