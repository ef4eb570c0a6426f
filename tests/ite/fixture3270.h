// The recorded 3270 sessions in tests/fixtures/3270 and their reference
// screens: which traces there are, their model, and per host record the
// screen, size, cursor and keyboard state the reference client showed.
#pragma once

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "json.h"

struct ref3270_screen {
  std::string kind;  // "host" or "operator-typed"
  int recordNo = 0;  // host records: the record it follows, from 1
  int rows = 0, cols = 0;
  int cursorRow = 0, cursorCol = 0;
  std::string keyboard;  // "U" or "L"
  std::vector<std::string> text;  // one line per row, trailing blanks trimmed
};

struct ref3270_trace {
  std::string name;
  int model = 2;  // 2..5
  std::string tracePath;
  std::vector<ref3270_screen> screens;
};

inline std::string ref3270_dir() {
  return std::string(KVX_SOURCE_DIR) + "/tests/fixtures/3270";
}

inline std::string ref3270_read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Lines with trailing blanks trimmed and trailing empty lines dropped.
inline std::vector<std::string> ref3270_lines(const std::string& text) {
  std::vector<std::string> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    rows.push_back(line);
  }
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  return rows;
}

inline ref3270_trace ref3270_load(const std::string& name) {
  ref3270_trace t;
  t.name = name;
  t.tracePath = ref3270_dir() + "/" + name + ".trc";
  std::string dir = ref3270_dir() + "/expected/" + name + "/";
  js_value_s* m = parse_json(ref3270_read(dir + "manifest.json").c_str());
  if (!m) return t;
  const char* model = js_value_get_string(m, "model");  // "3279-4-E"
  if (model && std::strlen(model) > 5) t.model = model[5] - '0';
  js_value_s* screens = js_value_get(m, "screens");
  for (int i = 0; i < js_value_array_length(screens); i++) {
    js_value_s* s = js_value_get_element(screens, i);
    ref3270_screen r;
    r.kind = js_value_get_string(s, "kind");
    js_value_s* rec = js_value_get(s, "record_no");
    r.recordNo = rec && rec->type == JS_VALUE_INTEGER ? js_value_int(rec) : 0;
    r.rows = js_value_get_int(s, "rows");
    r.cols = js_value_get_int(s, "cols");
    r.cursorRow = js_value_get_int(s, "cursor_row0");
    r.cursorCol = js_value_get_int(s, "cursor_col0");
    r.keyboard = js_value_get_string(s, "keyboard");
    r.text = ref3270_lines(ref3270_read(dir + js_value_get_string(s, "file")));
    t.screens.push_back(r);
  }
  js_free_value(m);
  return t;
}

inline std::vector<std::string> ref3270_names() {
  return {"s3270-ibmlink", "s3270-rpqnames", "s3270-sruvm", "s3270-wrap", "tn3270-login"};
}
