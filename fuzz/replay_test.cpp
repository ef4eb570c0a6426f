// Replays a fuzz target's seed corpus (fuzz/corpus/<target>) and the inputs
// of the crashes it found (tests/regress/<target>) in the normal test run.
// A harness checks its invariants with abort(): the input being replayed is
// named on standard error first, so a failing run shows which one broke.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

int ReplayDirectory(const fs::path& dir) {
  if (!fs::is_directory(dir)) return 0;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fprintf(stderr, "replaying %s\n", file.c_str());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  return static_cast<int>(files.size());
}

}  // namespace

TEST(FuzzReplay, KVX_FUZZ_TEST) {
  const fs::path root = KVX_SOURCE_DIR;
  int seeds = ReplayDirectory(root / "fuzz" / "corpus" / KVX_FUZZ_TARGET);
  int regressions = ReplayDirectory(root / "tests" / "regress" / KVX_FUZZ_TARGET);
  // A target without committed inputs of its own runs one empty input.
  if (seeds + regressions == 0) LLVMFuzzerTestOneInput(nullptr, 0);
  SUCCEED() << seeds << " seeds, " << regressions << " regression inputs";
}
