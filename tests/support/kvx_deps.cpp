// Reads tests/deps.list and tells whether what it names is on the machine.
#include "kvx_deps.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kvxtest {

namespace {

std::string SourcePath(const std::string& rel) { return std::string(KVX_SOURCE_DIR) + "/" + rel; }

bool Executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

// A program by path, or by name on PATH (and the system directories, which
// a root PATH usually holds but a test's may not).
bool ProgramPresent(const std::string& name) {
  if (name.find('/') != std::string::npos) return Executable(name);
  std::string path = getenv("PATH") ? getenv("PATH") : "";
  path += ":/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin";
  std::stringstream dirs(path);
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && Executable(dir + "/" + name)) return true;
  return false;
}

// Resolved through the terminfo search path as curses programs do.
bool TerminfoPresent(const std::string& name) {
  if (name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789.+-_") != std::string::npos) return false;
  return system(("infocmp -x '" + name + "' >/dev/null 2>&1").c_str()) == 0;
}

bool NpmPresent(const std::string& name) {
  std::ifstream manifest(SourcePath("tests/browser/node_modules/" + name + "/package.json"));
  return manifest.good();
}

}  // namespace

const std::vector<TestDep>& TestDeps() {
  static const std::vector<TestDep> deps = [] {
    std::vector<TestDep> out;
    std::ifstream in(SourcePath("tests/deps.list"));
    std::string text;
    for (int n = 1; std::getline(in, text); n++) {
      if (text.empty() || text[0] == '#') continue;
      std::istringstream words(text);
      TestDep d;
      d.line = n;
      if (words >> d.kind >> d.name >> d.package) out.push_back(d);
    }
    return out;
  }();
  return deps;
}

bool DepPresent(const TestDep& dep) {
  if (dep.kind == "program") return ProgramPresent(dep.name);
  if (dep.kind == "file") return access(dep.name.c_str(), R_OK) == 0;
  if (dep.kind == "terminfo") return TerminfoPresent(dep.name);
  if (dep.kind == "npm") return NpmPresent(dep.name);
  return false;
}

std::string Need(std::initializer_list<std::string> names) {
  for (const std::string& name : names) {
    const TestDep* found = nullptr;
    for (const TestDep& d : TestDeps())
      if (d.name == name) found = &d;
    if (!found) return name + " is not listed in tests/deps.list";
    if (!DepPresent(*found)) {
      if (found->kind == "npm") return "needs npm package " + found->package + " (scripts/browser-deps.sh)";
      return "needs " + found->package + " for " + found->kind + " " + name + " (scripts/install-deps.sh test)";
    }
  }
  return "";
}

}  // namespace kvxtest
