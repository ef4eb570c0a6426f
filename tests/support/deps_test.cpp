// Everything the tests use from outside the project is on this machine and
// is installed by scripts/install-deps.sh, so that a fresh machine's
// `make test` fails here, naming the package, rather than in a puzzling
// screen comparison.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "kvx_deps.h"

namespace {

std::string ReadSource(const std::string& rel) {
  std::ifstream in(std::string(KVX_SOURCE_DIR) + "/" + rel);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The packages of the groups a test run installs (build and test).
std::set<std::string> InstalledPackages() {
  const std::string script = ReadSource("scripts/install-deps.sh");
  std::set<std::string> out;
  for (const char* group : {"BUILD_PKGS", "TEST_PKGS"}) {
    std::smatch m;
    if (!std::regex_search(script, m, std::regex(std::string(group) + "=\"([^\"]*)\""))) continue;
    std::istringstream words(std::regex_replace(m[1].str(), std::regex("\\\\\n"), " "));
    for (std::string w; words >> w;) out.insert(w);
  }
  // Node and npm are installed when the machine has none of its own.
  out.insert({"nodejs", "npm"});
  return out;
}

TEST(Deps, EveryProgramEntryAndPackageTheTestsUseIsInstalled) {
  const auto& deps = kvxtest::TestDeps();
  ASSERT_GT(deps.size(), 20u) << "tests/deps.list was not read";
  const std::set<std::string> installed = InstalledPackages();
  const std::string npmManifest = ReadSource("tests/browser/package.json");
  for (const auto& d : deps) {
    SCOPED_TRACE("tests/deps.list line " + std::to_string(d.line));
    EXPECT_TRUE(d.kind == "program" || d.kind == "file" || d.kind == "terminfo" || d.kind == "npm")
        << "unknown kind " << d.kind;
    if (d.kind == "npm") {
      EXPECT_NE(npmManifest.find("\"" + d.package + "\""), std::string::npos)
          << "npm package " << d.package << " is not in tests/browser/package.json";
    } else {
      EXPECT_TRUE(installed.count(d.package))
          << "Debian package " << d.package << " (for " << d.kind << " " << d.name
          << ") is not installed by scripts/install-deps.sh: add it to TEST_PKGS";
    }
    EXPECT_TRUE(kvxtest::DepPresent(d)) << kvxtest::Need({d.name});
  }
}

TEST(Deps, NeedNamesThePackageOrTheMissingListEntry) {
  EXPECT_EQ(kvxtest::Need({"socat", "vt220"}), "");
  EXPECT_EQ(kvxtest::Need({"no-such-program-kvx"}), "no-such-program-kvx is not listed in tests/deps.list");
}

}  // namespace
