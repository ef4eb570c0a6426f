// The settings keys table: its look-up (case, numbered families, printer
// suffixes, homes), the count of keys the session does not know, and that
// it stays true to what it describes: every key the sources read has a row,
// the secrets are the ones the log redaction masks, the page's preferences
// are the page's, and README.md lists exactly the table.
#include "settings_keys.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "json.h"
#include "redact.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(SettingsKeys, LookUpByNameFamilyAndHome) {
  struct Case {
    const char* name;
    const char* entry;  // the entry's name, or null when none
    bool session;       // a session key
  };
  const Case cases[] = {
      {"lines", "lines", true},
      {"LINES", "lines", true},
      {"autologinmacrohash", "autologinMacroHash", true},
      {"RGBMap0", "RGBMap", true},
      {"rgbmap18", "RGBMap", true},
      {"RGBMap19", nullptr, false},
      {"RGBMap01", nullptr, false},
      {"RGBMap", nullptr, false},
      {"RGBMap-1", nullptr, false},
      {"prnopt", "prnopt", true},
      {"prnopt2", "prnopt", true},
      {"PrnFlLst6", "prnfllst", true},
      {"prnopt1", nullptr, false},
      {"prnopt7", nullptr, false},
      {"colorfg0", "colorfg0", true},
      {"colorfg4", "colorfg4", true},
      {"colorfg5", "colorfg", true},
      {"colorfg8", "colorfg", true},
      {"colorfg9", nullptr, false},
      {"3270colfg3", "3270colfg", true},
      {"3270colfg4", nullptr, false},
      {"5250colfg16", "5250colfg16", true},
      {"5250colfg1", nullptr, false},
      {"secureKeys", "secureKeys", true},
      {"fontSize", "fontSize", false},
      {"copyonselect", "copyOnSelect", false},
      {"madeUpKey", nullptr, false},
      {"", nullptr, false},
  };
  for (const Case& c : cases) {
    const kvx_setting_key* key = kvx_setting_find(c.name);
    if (!c.entry) {
      EXPECT_EQ(key, nullptr) << c.name << " found as " << key->name;
    } else {
      ASSERT_NE(key, nullptr) << c.name;
      EXPECT_STREQ(key->name, c.entry) << c.name;
    }
    EXPECT_EQ(kvx_setting_is_session_key(c.name), c.session) << c.name;
  }
}

TEST(SettingsKeys, RowsAreWellFormedAndNamedOnce) {
  std::set<std::string> cells;
  for (const kvx_setting_key& key : kvx_settings_keys()) {
    EXPECT_TRUE(key.name && *key.name && key.area && *key.area && key.meaning && *key.meaning);
    EXPECT_TRUE(cells.insert(kvx_setting_display_name(key)).second) << key.name << " twice";
    EXPECT_TRUE(key.first == -1 ? key.last == -1 && !key.bare : key.first >= 0 && key.first <= key.last)
        << key.name;
    if (key.type == KVX_SETTING_TEXT) {
      EXPECT_GT(key.max, 0) << key.name;
    }
    if (key.type == KVX_SETTING_FLAG) {
      EXPECT_TRUE(key.min == 0 && key.max == 1) << key.name;
    }
    // A family's members and a single key's name lead back to its row.
    const std::string first = key.first == -1 ? key.name : key.name + std::to_string(key.first);
    EXPECT_EQ(kvx_setting_find(first), &key) << first;
    if (key.first != -1) {
      EXPECT_EQ(kvx_setting_find(key.name + std::to_string(key.last)), &key) << key.name;
    }
  }
}

TEST(SettingsKeys, UnknownKeysOfASettingsObjectAreCounted) {
  js_value_s* kcf =
      parse_json(R"({"lines":30,"LINES":1,"RGBMap3":"FF0000","prnopt4":2,"secureKeys":{"pw":"x"},)"
                 R"("fontSize":15,"madeUp":1,"RGBMap30":"0"})");
  ASSERT_NE(kcf, nullptr);
  std::vector<std::string> names;
  EXPECT_EQ(kvx_settings_count_unknown(kcf, &names), 3u);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
            (std::set<std::string>{"fontSize", "madeUp", "RGBMap30"}));
  EXPECT_EQ(kvx_settings_count_unknown(kcf), 3u);
  js_free_value(kcf);

  js_value_s* array = parse_json("[\"lines\", \"madeUp\"]");
  EXPECT_EQ(kvx_settings_count_unknown(array), 0u);
  js_free_value(array);
  EXPECT_EQ(kvx_settings_count_unknown(nullptr), 0u);
}

// Every key name the sources read or write through the settings dictionary,
// with the file that names it.
std::map<std::string, std::string> KeysTheSourcesName() {
  // A dictionary access, a printf-style family, the printer keys' stems,
  // the colour-key tables, the secrets resolved at connect.
  const std::regex patterns[] = {
      std::regex(R"re(ForKey\("([A-Za-z0-9_]+)")re"),
      std::regex(R"re("([A-Za-z0-9_]+)%d")re"),
      std::regex(R"re((?:num|value)\("([A-Za-z0-9_]+)"\))re"),
      std::regex(R"re("((?:5250)?colfg\d+|colorfg\d)")re"),
      std::regex(R"re(core_resolve_secret\(app, dict, "([A-Za-z0-9_]+)", "([A-Za-z0-9_]+)")re"),
      std::regex(R"re(SaveSecret\("([A-Za-z0-9_]+)")re"),
  };
  std::map<std::string, std::string> found;
  const fs::path src = fs::path(KVX_SOURCE_DIR) / "src";
  for (const char* dir : {"session", "connections", "server", "lib/dict"}) {
    for (const auto& entry : fs::directory_iterator(src / dir)) {
      if (entry.path().extension() != ".cpp") continue;
      const std::string text = ReadFile(entry.path());
      for (size_t p = 0; p < std::size(patterns); p++) {
        for (std::sregex_iterator m(text.begin(), text.end(), patterns[p]), end; m != end; ++m) {
          for (size_t g = 1; g < m->size(); g++) {
            std::string name = (*m)[g];
            if (p == 1) name += "0";  // a family's first member
            found.emplace(name, entry.path().filename().string());
          }
        }
      }
    }
  }
  return found;
}

TEST(SettingsKeys, EveryKeyTheSourcesNameHasARow) {
  const std::map<std::string, std::string> names = KeysTheSourcesName();
  ASSERT_GT(names.size(), 60u) << "the sources were not found under " << KVX_SOURCE_DIR;
  for (const auto& [name, file] : names)
    EXPECT_TRUE(kvx_setting_is_session_key(name))
        << file << " names the key " << name << ", which has no session row in settings_keys.cpp";
  // The printer keys of printers 2-6 too.
  for (const char* stem : {"prnopt", "prnfllst", "prnftype", "IgnorePrintStop", "PrintStop", "printpause",
                           "printlines", "printcols"})
    EXPECT_TRUE(kvx_setting_is_session_key(std::string(stem) + "6")) << stem;
}

TEST(SettingsKeys, SecretsAreTheOnesLogRedactionMasks) {
  for (const kvx_setting_key& key : kvx_settings_keys()) {
    const bool secret = key.flags & KVX_SETTING_SECRET;
    EXPECT_EQ(kvx_redact_is_secret_name(key.name), secret)
        << key.name << (secret ? " is a secret the redaction does not mask" : " would be masked in logs");
    if (secret) {
      EXPECT_EQ(key.home, KVX_SETTING_SESSION) << key.name;
    }
  }
}

TEST(SettingsKeys, BrowserPreferencesAreThePagesOwn) {
  const std::string prefs = ReadFile(fs::path(KVX_SOURCE_DIR) / "html/shared/kvx-prefs.js");
  std::smatch block;
  ASSERT_TRUE(
      std::regex_search(prefs, block, std::regex(R"(const DEFAULTS = Object\.freeze\(\{([^}]*)\}\))")))
      << "html/shared/kvx-prefs.js has no DEFAULTS object";
  std::set<std::string> page;
  // Members only: a comment's "0: as large as fits" is no preference.
  const std::string body = std::regex_replace(std::string(block[1]), std::regex(R"(//[^\n]*)"), "");
  const std::regex member(R"((\w+)\s*:)");
  for (std::sregex_iterator m(body.begin(), body.end(), member), end; m != end; ++m) page.insert((*m)[1]);
  std::set<std::string> table;
  for (const kvx_setting_key& key : kvx_settings_keys())
    if (key.home == KVX_SETTING_BROWSER) table.insert(key.name);
  EXPECT_EQ(page, table) << "the page's preferences (html/shared/kvx-prefs.js) and the browser rows differ";
}

TEST(SettingsKeys, ReadmeListsExactlyTheTable) {
  const std::string readme = ReadFile(fs::path(KVX_SOURCE_DIR) / "README.md");
  const size_t start = readme.find("\n## Settings\n");
  std::string expected;
  for (const kvx_setting_key& key : kvx_settings_keys()) expected += kvx_setting_readme_row(key) + "\n";
  ASSERT_NE(start, std::string::npos) << "README.md has no \"## Settings\" section; its table rows:\n"
                                      << expected;
  const size_t stop = readme.find("\n## ", start + 1);
  std::istringstream section(
      readme.substr(start, stop == std::string::npos ? std::string::npos : stop - start));

  // Rows of the README by their key cell.
  std::map<std::string, std::string> listed;
  std::string line;
  while (std::getline(section, line)) {
    if (line.rfind("| `", 0) != 0) continue;
    listed[line.substr(2, line.find(" |", 2) - 2)] = line;
  }
  for (const kvx_setting_key& key : kvx_settings_keys()) {
    const std::string cell = kvx_setting_display_name(key);
    auto it = listed.find(cell);
    if (it == listed.end()) {
      ADD_FAILURE() << "README.md lacks " << cell << "; its row:\n" << kvx_setting_readme_row(key);
      continue;
    }
    EXPECT_EQ(it->second, kvx_setting_readme_row(key)) << "README.md's row of " << cell << " differs";
    listed.erase(it);
  }
  for (const auto& [cell, row] : listed)
    ADD_FAILURE() << "README.md lists " << cell << ", which the table has not";
  if (HasFailure()) std::cout << "The table's rows, in order:\n" << expected;
}

}  // namespace
