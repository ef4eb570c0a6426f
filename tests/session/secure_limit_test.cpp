// The store stops taking new values once it holds its maximum number of
// entries (a process of its own: the store lives as long as the process).
#include <gtest/gtest.h>

#include <string>

#include "secure.h"
#include "settings_fixture.h"

namespace {

TEST(SecureStoreLimit, FullStoreRefusesNewValuesButKeepsOldOnes) {
  std::optional<std::string> first = Taken(kvx_set_secure("value-0"));
  ASSERT_TRUE(first);
  for (size_t i = 1; kvx_secure_count() < KVX_SECURE_MAX_ENTRIES; i++)
    ASSERT_TRUE(Taken(kvx_set_secure(("value-" + std::to_string(i)).c_str())));
  EXPECT_EQ(Taken(kvx_set_secure("one too many")), std::nullopt);
  EXPECT_EQ(kvx_secure_count(), KVX_SECURE_MAX_ENTRIES);
  EXPECT_EQ(Taken(kvx_set_secure("value-0")), first);  // known values still resolve
  EXPECT_EQ(Taken(kvx_get_secure(first->c_str())), "value-0");
}

}  // namespace
