// The parser's fuzz target over its seeds (the recorded captures) and over
// generated noise, so its invariant checks run in every test build.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "corpus.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

TEST(FuzzTarget, SeedsAndNoiseKeepTheInvariants) {
  for (const char* name : {"vi_scroll", "less_search", "nano_edit", "ls_color"}) {
    std::ifstream f(std::string(KVX_SOURCE_DIR) + "/tests/fixtures/te/" + name + ".raw", std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    std::string data = s.str();
    ASSERT_FALSE(data.empty()) << name;
    for (int head = 0; head < 256; head += 37) {
      std::string input = std::string(1, (char)head) + std::string(1, (char)(head * 3)) + data;
      LLVMFuzzerTestOneInput((const uint8_t*)input.data(), input.size());
    }
  }
  Corpus gen(99);
  for (int round = 0; round < 300; round++) {
    std::string input = gen.hostile(200 + gen.pick(3000));
    LLVMFuzzerTestOneInput((const uint8_t*)input.data(), input.size());
  }
}

}  // namespace
