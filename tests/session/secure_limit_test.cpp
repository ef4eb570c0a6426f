// The store stops taking new values once it holds its maximum number of
// entries (a process of its own: the store lives as long as the process).
#include <gtest/gtest.h>

#include <string>

#include "secure.h"

namespace {

TEST(SecureStoreLimit, FullStoreRefusesNewValuesButKeepsOldOnes) {
  std::string first = kvx_set_secure("value-0");
  for (size_t i = 1; kvx_secure_count() < KVX_SECURE_MAX_ENTRIES; i++)
    ASSERT_FALSE(kvx_set_secure(("value-" + std::to_string(i)).c_str()).empty());
  EXPECT_EQ(kvx_set_secure("one too many"), "");
  EXPECT_EQ(kvx_secure_count(), KVX_SECURE_MAX_ENTRIES);
  EXPECT_EQ(kvx_set_secure("value-0"), first);  // known values still resolve
  EXPECT_EQ(kvx_get_secure(first.c_str()), "value-0");
}

}  // namespace
