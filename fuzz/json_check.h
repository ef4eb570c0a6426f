// Shared by the fuzz targets: whether a text the JSON writer produced is
// JSON.  No raw control byte may stand in it; the \u00XX escapes the writer
// uses for control bytes that this library's parser refuses are read as
// '?', and the text must then parse.
#pragma once

#include <cstdio>
#include <string>

#include "json.h"

// The parsed value, or null when the text is not JSON.
inline js_value_s* kvx_fuzz_parse_written(const std::string& text) {
  std::string mapped;
  mapped.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20) return nullptr;
    if (c == '\\' && i + 1 < text.size() && text[i + 1] == 'u' && i + 5 < text.size() &&
        text.compare(i + 2, 2, "00") == 0) {
      unsigned v = 0;
      if (sscanf(text.substr(i + 4, 2).c_str(), "%2x", &v) == 1 && v < 0x20 && v != 0x08 && v != 0x09 &&
          v != 0x0A && v != 0x0C && v != 0x0D) {
        mapped += "?";
        i += 5;
        continue;
      }
    }
    if (c == '\\' && i + 1 < text.size()) {  // an escape pair stays whole
      mapped += text.substr(i, 2);
      i++;
      continue;
    }
    mapped += static_cast<char>(c);
  }
  return parse_json(mapped.c_str());
}
