// Fuzz target of the JSON text layer: the parser (whole and through the
// chunked interface), the serializer, string escaping and the ${name}
// template expander.  After every input: the serialized text parses and
// stays as it is from its first round trip on, the chunked parse agrees
// with the whole one, any string is written as JSON and reads back, and a
// template without placeholders expands to itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "json.h"
#include "json_check.h"

namespace {

void require(bool ok) {
  if (!ok) abort();
}

std::string take(char* text) {
  require(text != nullptr);
  std::string s(text);
  free(text);
  return s;
}

// Serializes, parses the text again and serializes once more: the text is
// always JSON, and after that one round it stays as it is (a float that
// prints like an integer comes back as that integer, a control byte in a
// member name, which the parser takes raw, as '?').
std::string round_trip(const js_value_s* v) {
  std::string first = take(to_json(v));
  js_value_s* again = kvx_fuzz_parse_written(first);
  require(again != nullptr);
  std::string second = take(to_json(again));
  js_free_value(again);
  again = kvx_fuzz_parse_written(second);
  require(again != nullptr);
  require(take(to_json(again)) == second);
  js_free_value(again);
  return first;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const unsigned step = 1 + data[0] % 64;
  // The parser reads C strings: the document ends at the first NUL.
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  text.resize(strlen(text.c_str()));

  js_value_s* whole = parse_json(text.c_str());
  const std::string error = whole ? "" : get_json_error();
  require(whole != nullptr || (!error.empty() && error.size() < 1024));

  // The same bytes in pieces.
  require(json_start());
  for (size_t pos = 0; pos < text.size(); pos += step)
    require(json_add_bytes(text.data() + pos, std::min<size_t>(step, text.size() - pos)));
  js_value_s* chunked = json_end();
  require((whole == nullptr) == (chunked == nullptr));
  if (whole) {
    require(round_trip(whole) == round_trip(chunked));
  } else {
    require(error == get_json_error());
  }

  // Strings: any text is written as JSON and reads back as itself, the
  // control bytes the parser refuses as '?'.
  std::string readable;
  bool refused = false;
  for (unsigned char c : text) {
    bool bad = c < 0x20 && c != '\b' && c != '\t' && c != '\n' && c != '\f' && c != '\r';
    refused = refused || bad;
    readable += bad ? '?' : static_cast<char>(c);
  }
  js_value_s* str = js_value_new_string(text.c_str());
  js_value_s* back = kvx_fuzz_parse_written(take(to_json(str)));
  require(back && back->type == JS_VALUE_STRING && readable == js_value_string(back));
  js_free_value(back);
  js_free_value(str);
  std::string escaped = take(escape_json_string(text.c_str()));
  char* unescaped = unescape_json_string(escaped.c_str());
  require(refused ? unescaped == nullptr : unescaped && text == unescaped);
  free(unescaped);
  free(unescape_json_string(text.c_str()));

  // The text as a template, over the parsed object or a small fixed one.
  js_value_s* fixed = js_value_new_object();
  js_value_put_string(fixed, "name", "value");
  js_value_put_int(fixed, "code", -7);
  js_value_put_string(fixed, "", "empty");
  const js_value_s* object = whole && whole->type == JS_VALUE_OBJECT ? whole : fixed;
  char* expanded = js_value_process_string(text.c_str(), object);
  require(expanded != nullptr);
  if (text.find("${") == std::string::npos) require(text == expanded);
  free(expanded);
  js_free_value(fixed);

  // Every member of a parsed object reachable by its name.
  if (whole && whole->type == JS_VALUE_OBJECT) {
    js_value_iterate_members(
        whole,
        [](const char* name, js_value_s* value, void* object) {
          require(js_value_get(static_cast<const js_value_s*>(object), name) == value);
        },
        whole);
  }
  js_free_value(whole);
  js_free_value(chunked);
  return 0;
}
