// The secure value store: tokens, lookups and the store's limits, directly
// and through the platform layer.
#include "secure.h"

#include <gtest/gtest.h>

#include <string>

#include "platform.h"
#include "settings_fixture.h"

namespace {

std::string Set(const char* value) {
  return Taken(kvx_set_secure(value)).value_or("(null)");
}

std::optional<std::string> Get(const char* token) {
  return Taken(kvx_get_secure(token));
}

TEST(SecureStore, TokenResolvesToItsValueAndHidesIt) {
  std::string token = Set("s3cr3t-pass");
  ASSERT_EQ(token.rfind("key_", 0), 0u) << token;
  EXPECT_EQ(token.size(), 4u + 64u);
  EXPECT_EQ(token.find("s3cr3t"), std::string::npos);
  EXPECT_EQ(Get(token.c_str()), "s3cr3t-pass");
}

TEST(SecureStore, EqualValuesShareOneTokenAndOneEntry) {
  size_t before = kvx_secure_count();
  std::string a = Set("same value");
  std::string b = Set("same value");
  EXPECT_EQ(a, b);
  EXPECT_EQ(kvx_secure_count(), before + 1);
  EXPECT_NE(Set("Same value"), a);  // exact, case-sensitive
}

TEST(SecureStore, LookupsThatFindNothing) {
  size_t before = kvx_secure_count();
  const char* tokens[] = {"key_never-stored", "", "key_", nullptr};
  for (const char* token : tokens) EXPECT_EQ(Get(token), std::nullopt) << (token ? token : "(null)");
  EXPECT_EQ(kvx_secure_count(), before) << "a lookup must not add entries";
  // The plain "key_" + value form of a stored value is not a token.
  Set("visible");
  EXPECT_EQ(Get("key_visible"), std::nullopt);
  // An empty value is stored but reads as nothing.
  std::string empty = Set("");
  ASSERT_EQ(empty.rfind("key_", 0), 0u);
  EXPECT_EQ(Get(empty.c_str()), std::nullopt);
}

TEST(SecureStore, RefusesOversizedValues) {
  std::string big(KVX_SECURE_MAX_VALUE + 1, 'x');
  EXPECT_EQ(Set(big.c_str()), "(null)");
  EXPECT_EQ(Set(nullptr), "(null)");
  std::string largest(KVX_SECURE_MAX_VALUE, 'y');
  std::string token = Set(largest.c_str());
  EXPECT_EQ(Get(token.c_str()), largest);
}

TEST(SecureStore, PlatformLayerUsesTheSameStore) {
  std::string token = Taken(app_macro_store_secure(nullptr, "macro secret")).value_or("");
  EXPECT_EQ(token, Set("macro secret"));
  EXPECT_EQ(Taken(app_macro_get_secure(nullptr, token.c_str())), "macro secret");
  EXPECT_EQ(Taken(app_macro_get_secure(nullptr, "key_unknown")), std::nullopt);
}

}  // namespace
