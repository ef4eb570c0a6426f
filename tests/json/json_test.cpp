// JSON library: accepted language, error texts and positions, output form,
// member order, templates and the string builder.
#include "json.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct JsFree {
  void operator()(js_value_s* v) const { js_free_value(v); }
};
using Js = std::unique_ptr<js_value_s, JsFree>;

std::string Text(char* owned) {
  std::string s = owned ? owned : "<null>";
  free(owned);
  return s;
}

// Parses and writes back; an error yields "ERR " and the error text.
std::string RoundTrip(const char* in) {
  Js v(parse_json(in));
  if (!v) return std::string("ERR ") + get_json_error();
  return Text(to_json(v.get()));
}

struct Case {
  const char* in;
  const char* out;
};

TEST(JsonParse, AcceptedLanguageRoundTrips) {
  const Case cases[] = {
      {"[]", "[]"},
      {"{ }", "{}"},
      {" [ ] ", "[]"},
      {"{}", "{}"},
      {"+5", "5"},
      {"007", "7"},
      {"-12", "-12"},
      {"1.5f", "1.5"},
      {"1f", "1"},
      {".5", "0.5"},
      {"5.", "5"},
      {"1e5", "100000"},
      {"-2.5E-3", "-0.0025"},
      {"1e10", "1e+10"},
      {"0.1", "0.1"},
      {"\xCF\x80", "3.14159"},
      {"e", "2.71828"},
      {"\xF0\x9F\x8D\xBA", "\"Stay thirsty my friend \xF0\x9F\x8D\xBB\""},
      {"true", "true"},
      {"[false,null]", "[false,null]"},
      {"\"a\\u00e9\"", "\"a\xC3\xA9\""},
      {"\"\\ud83d\\ude00\"", "\"\xF0\x9F\x98\x80\""},
      {"\"\\q\\/\\\"\\\\\"", "\"q/\\\"\\\\\""},
      {"\"\\b\\f\\n\\r\\t\"", "\"\\b\\f\\n\\r\\t\""},
      {"\"\\u001f\"",
       "ERR Decode Error [1:2]: Illegal character specified in UTF-16 character escape sequence."},
      {"\"\\u0009\x7f/\"", "\"\\t\x7f/\""},
      {"{\"a\":1,\"a\":2}", "{\"a\":2}"},
      {"{\"b\":1,\"a\":2,\"ab\":3}", "{\"ab\":3,\"a\":2,\"b\":1}"},
      {"{\"\":1,\"x\":{}}", "{\"x\":{},\"\":1}"},
      {"{\"a\nb\":1}", "{\"a\\nb\":1}"},
      {"[1,[2,[3]],{\"k\":\"v\"}]", "[1,[2,[3]],{\"k\":\"v\"}]"},
      {"2147483647", "2147483647"},
      // Beyond the float range: infinity, which JSON cannot carry.
      {"[1e40,-1e39]", "[null,null]"},
  };
  for (const Case& c : cases) EXPECT_EQ(RoundTrip(c.in), c.out) << "input: " << c.in;
}

TEST(JsonParse, ErrorsNameKindAndPosition) {
  const Case cases[] = {
      {"", "Syntax error [1:1]: Unexpected EOF."},
      {"   ", "Syntax error [1:4]: Unexpected EOF."},
      {"-", "Syntax error [1:1]: Illegal literal [-]."},
      {"\xCF\x80x", "Syntax error [1:1]: Illegal literal [\xCF\x80x]."},
      {"True", "Syntax error [1:1]: Illegal literal [True]."},
      {"NULL", "Syntax error [1:1]: Illegal literal [NULL]."},
      {"E", "Syntax error [1:1]: Illegal literal [E]."},
      {"[1 2]", "Syntax error [1:4]: Unexpected token \"2\", expected \",\" or \"]\"."},
      {"{\"a\":1 \"b\"}", "Syntax error [1:8]: Unexpected token \"\"\", expected \",\" or \"}\"."},
      {"{\"a\":1,}", "Syntax error [1:8]: Expected data structure member, possible trailing comma."},
      {"[1,]", "Syntax error [1:4]: Illegal token \"]\"."},
      {"{a:1}", "Syntax error [1:2]: Object member names must be strings."},
      {"{\"a\" 1}", "Syntax error [1:6]: Unexpected token \"1\", expected \":\"."},
      {"{\"abc", "Syntax error [1:2]: Object member names must be strings."},
      {"1 x", "Syntax error [1:3]: Illegal trailing characters at token \"x\"."},
      {"[1,\n  2,\n  @]", "Syntax error [3:3]: Illegal token \"@\"."},
      {"[\"a\nb\"]", "Syntax error [1:2]: Illegal literal [\"a]."},
      {"[1", "Syntax error [1:3]: Unexpected EOF."},
      {"\"\\u12\"", "Syntax error [1:2]: Malformed UTF-16 character escape sequence."},
      {"[\"ok\", \"\\u0000\"]",
       "Decode Error [1:9]: Illegal character specified in UTF-16 character escape sequence."},
      {"\"x\\u001b\"",
       "Decode Error [1:3]: Illegal character specified in UTF-16 character escape sequence."},
  };
  for (const Case& c : cases) {
    Js v(parse_json(c.in));
    EXPECT_EQ(v, nullptr) << c.in;
    EXPECT_STREQ(get_json_error(), c.out) << "input: " << c.in;
  }
}

TEST(JsonParse, FirstErrorStaysUntilReset) {
  EXPECT_EQ(parse_json("[1 2]"), nullptr);
  std::string first = get_json_error();
  set_json_error(ERROR_ILLEGAL_INPUT);
  EXPECT_EQ(first, get_json_error());
  reset_json_error();
  EXPECT_STREQ(get_json_error(), "");
  set_json_error(ERROR_ILLEGAL_INPUT);
  EXPECT_STREQ(get_json_error(), "Illegal Input: JSON text must be stored in a properly escaped string.");
  // A successful parse clears the text.
  Js ok(parse_json("1"));
  EXPECT_STREQ(get_json_error(), "");
}

TEST(JsonParse, HostileNestingIsRefusedNotOverflowed) {
  std::string deep(200000, '[');
  EXPECT_EQ(parse_json(deep.c_str()), nullptr);
  EXPECT_NE(std::string(get_json_error()).find("Illegal token \"[\""), std::string::npos);
  std::string ok = std::string(100, '[') + std::string(100, ']');
  Js v(parse_json(ok.c_str()));
  EXPECT_NE(v, nullptr);
  // A very long member name: trie walks must not recurse per byte.
  std::string longName = "{\"" + std::string(300000, 'n') + "\":1}";
  Js big(parse_json(longName.c_str()));
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(Text(to_json(big.get())).size(), longName.size());
}

TEST(JsonChunks, StartAddEnd) {
  EXPECT_EQ(json_end(), nullptr);
  EXPECT_STREQ(get_json_error(),
               "Error: Illegal call to function [json_end] without calling [json_begin] first.");
  EXPECT_FALSE(json_add("x"));
  EXPECT_STREQ(get_json_error(),
               "Error: Illegal call to function [json_add] without calling [json_begin] first.");
  ASSERT_TRUE(json_start());
  std::string body = "{\"deviceId\":\"" + std::string(3000, 'd') + "\"}";
  for (size_t i = 0; i < body.size(); i += 1023) ASSERT_TRUE(json_add(body.substr(i, 1023).c_str()));
  Js v(json_end());
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(strlen(js_value_get_string(v.get(), "deviceId")), 3000u);
  EXPECT_EQ(json_end(), nullptr);  // the buffer is gone after json_end
}

TEST(JsonValues, ConstructionAccessAndDefaults) {
  Js o(js_value_new_object());
  js_value_put_int(o.get(), "i", 42);
  js_value_put_float(o.get(), "f", 0.1f);
  js_value_put_bool(o.get(), "b", true);
  js_value_put_string(o.get(), "s", "t\"x");
  js_value_put(o.get(), "n", js_value_null());
  EXPECT_EQ(js_value_get_int(o.get(), "i"), 42);
  EXPECT_FLOAT_EQ(js_value_get_float(o.get(), "f"), 0.1f);
  EXPECT_TRUE(js_value_get_bool(o.get(), "b"));
  EXPECT_STREQ(js_value_get_string(o.get(), "s"), "t\"x");
  // Wrong types and missing members read as neutral values.
  EXPECT_EQ(js_value_get_int(o.get(), "s"), 0);
  EXPECT_STREQ(js_value_get_string(o.get(), "i"), "");
  EXPECT_STREQ(js_value_get_string(nullptr, "x"), "");
  EXPECT_FALSE(js_value_get_bool(o.get(), "missing"));
  EXPECT_EQ(js_value_get(o.get(), "\xFE"), nullptr);
  EXPECT_FALSE(js_value_put(o.get(), "\xFF", js_value_new_int(1)));  // freed, not leaked
  EXPECT_EQ(Text(to_json(o.get())), "{\"b\":true,\"f\":0.1,\"i\":42,\"n\":null,\"s\":\"t\\\"x\"}");

  EXPECT_EQ(js_value_new_array(0), nullptr);
  Js a(js_value_new_array(1));
  for (int i = 0; i < 5; i++) EXPECT_TRUE(js_value_append_array(a.get(), js_value_new_int(i)));
  EXPECT_EQ(js_value_array_length(a.get()), 5);
  EXPECT_GT(a->cap, a->len);  // one slot always free
  EXPECT_EQ(js_value_int(js_value_get_element(a.get(), 4)), 4);
  EXPECT_EQ(js_value_get_element(a.get(), 5), nullptr);
  EXPECT_EQ(js_value_get_element(a.get(), -1), nullptr);
  EXPECT_EQ(js_value_array_length(o.get()), -1);
  EXPECT_FALSE(js_value_append_array(o.get(), nullptr));
  js_free_value(js_value_null());  // the shared null is never freed
  EXPECT_EQ(js_value_null()->type, JS_VALUE_NULL);
}

TEST(JsonValues, MemberIterationIsTriePostOrder) {
  Js o(parse_json("{\"b\":1,\"ab\":2,\"a\":3,\"abc\":4,\"\":5}"));
  std::string seen;
  js_value_iterate_members(
      o.get(),
      [](const char* name, js_value_s*, void* ctx) {
        *static_cast<std::string*>(ctx) += std::string(name) + ";";
      },
      &seen);
  EXPECT_EQ(seen, "abc;ab;a;b;;");
}

TEST(JsonValues, EscapeAndUnescapeHelpers) {
  EXPECT_EQ(Text(escape_json_string("a\"b\\c\n\x01/")), "\"a\\\"b\\\\c\\n\\u0001/\"");
  EXPECT_EQ(Text(unescape_json_string("  \"x\\u0041\\n\"")), "xA\n");
  reset_json_error();
  EXPECT_EQ(unescape_json_string("nope"), nullptr);
  EXPECT_STREQ(get_json_error(), "Illegal Input: JSON text must be stored in a properly escaped string.");
  reset_json_error();
}

TEST(JsonTemplate, Expansion) {
  Js o(parse_json("{\"code\":404,\"flag\":true,\"msg\":\"File Not Found.\"}"));
  const Case cases[] = {
      {"Code ${code}: ${missing} ${flag}", "Code 404: ${missing} "},
      {"<p>${msg}</p>}", "<p>File Not Found.</p>}"},
      {"${a${b}c}!", "${a${b}c}!"},
      {"open ${code", "open "},
      {"$${code}$", "$404$"},
  };
  for (const Case& c : cases) EXPECT_EQ(Text(js_value_process_string(c.in, o.get())), c.out) << c.in;
  Js arr(js_value_new_array(2));
  EXPECT_EQ(js_value_process_string("x", arr.get()), nullptr);
}

TEST(StringBuilder, GrowthAndHelpers) {
  strbuf_s* sb = strbuf_new(0);
  ASSERT_NE(sb, nullptr);
  EXPECT_EQ(sb->cap, 16u);
  EXPECT_TRUE(strbuf_append(sb, "0123456789abcdef"));  // 16 bytes + terminator: doubles
  EXPECT_EQ(sb->cap, 32u);
  EXPECT_TRUE(strbuf_appendc(sb, ','));
  EXPECT_TRUE(strbuf_appendf(sb, "%d-%s", 7, std::string(100, 'z').c_str()));
  EXPECT_EQ(sb->cap, 128u);
  EXPECT_EQ(sb->len, 16u + 1 + 2 + 100);
  strbuf_chomp(sb, 'y');
  EXPECT_EQ(sb->len, 119u);
  strbuf_chomp(sb, 'z');
  EXPECT_EQ(sb->len, 118u);
  EXPECT_FALSE(strbuf_append(sb, nullptr));
  EXPECT_FALSE(strbuf_append(nullptr, "x"));
  EXPECT_EQ(strlen(strbuf_get_chars(sb)), 118u);
  strbuf_free(sb);

  char small[4];
  EXPECT_EQ(_lum_strlcpy(small, "abcdef", sizeof small), 6u);
  EXPECT_STREQ(small, "abc");
  char cat[6] = "ab";
  EXPECT_EQ(_lum_strlcat(cat, "cdefg", sizeof cat), 7u);
  EXPECT_STREQ(cat, "abcde");
}

}  // namespace
