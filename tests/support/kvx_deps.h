// What the tests use from outside the project, as tests/deps.list names it:
// programs, files, terminfo entries and npm packages with the package that
// brings each.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace kvxtest {

struct TestDep {
  std::string kind;     // program, file, terminfo or npm
  std::string name;     // program name or path, file path, entry name, npm package
  std::string package;  // the Debian package (npm: the npm package)
  int line = 0;
};

// Every entry of tests/deps.list.
const std::vector<TestDep>& TestDeps();
// Whether the entry is present on this machine.
bool DepPresent(const TestDep& dep);
// Empty when every one of `names` (as tests/deps.list names them) is
// present; otherwise why not, naming the package to install.  A name the
// list does not hold is reported too, so that the list stays complete.
std::string Need(std::initializer_list<std::string> names);

}  // namespace kvxtest
