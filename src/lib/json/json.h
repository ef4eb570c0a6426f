// JSON values and text: the tagged value model (objects are byte tries),
// the lenient parser with line/column error texts, the compact serializer,
// the ${name} template expander and the growable string builder.
//
// Ownership: every value returned by a constructor or by the parser belongs
// to the caller and is freed with js_free_value; containers own what is put
// into them.  Texts returned as char* are malloc'ed and freed with free().
// Process-wide state (error text, line counter, pending input buffer) is not
// guarded: the library is used from one thread.
#pragma once

#include <cstddef>
#include <cstdint>

enum JS_VALUE_TYPE {
  JS_VALUE_UNDEFINED = 0,
  JS_VALUE_NULL = 1,
  JS_VALUE_BOOL = 2,
  JS_VALUE_INTEGER = 3,
  JS_VALUE_FLOAT = 4,
  JS_VALUE_STRING = 5,
  JS_VALUE_ARRAY = 6,
  JS_VALUE_OBJECT = 7,
};

struct js_value_s {
  JS_VALUE_TYPE type;
  union {
    int32_t iv;  // integers and booleans (0/1)
    float fv;    // floats, always single precision
    void* vv;    // string text (owned) or an object's root trie node
    void** vvv;  // array element table
  } value;
  int cap;  // arrays: slots allocated
  int len;  // arrays: slots in use
};

// One node of an object's member trie; the root stands for the empty name.
enum { JS_TRIE_SLOTS = 254 };
struct js_trie_s {
  unsigned char key;
  js_value_s* value;
  js_trie_s* parentNode;
  js_trie_s* childNodes[JS_TRIE_SLOTS];
};

enum JSON_ERROR {
  ERROR_ILLEGAL_INPUT = 0,
  ERROR_ILLEGAL_TOKEN = 1,
  ERROR_ILLEGAL_LITERAL = 2,
  ERROR_ILLEGAL_DELIMITER1 = 3,
  ERROR_ILLEGAL_DELIMITER2 = 4,
  ERROR_ILLEGAL_MEMBER_NAME = 5,
  ERROR_ILLEGAL_UTF16 = 6,
  ERROR_ILLEGAL_UNICODE = 7,
  ERROR_EXPECTED_MEMBER = 8,
  ERROR_UNEXPECTED_CHARACTERS = 9,
  ERROR_UNEXPECTED_EOF = 10,
  ERROR_ILLEGAL_CALL = 11,
  ERROR_LIBC = 12,
};

// ---- parsing and errors ----
js_value_s* parse_json(const char* text);
bool json_start();
bool json_add(const char* text);
bool json_add_bytes(const char* bytes, size_t length);
js_value_s* json_end();
const char* get_json_error();
void reset_json_error();
// Sets the error text from the template of `error` filled with the further
// arguments, unless an error is already recorded.
void set_json_error(JSON_ERROR error, ...);
char* escape_json_string(const char* text);
char* unescape_json_string(const char* text);

// ---- serialisation ----
char* to_json(const js_value_s* value);

// ---- construction and access ----
js_value_s* js_value_new_int(int32_t v);
js_value_s* js_value_new_float(float v);
js_value_s* js_value_new_bool(bool v);
js_value_s* js_value_new_string(const char* text);
js_value_s* js_value_new_array(int capacity);
js_value_s* js_value_new_object();
js_value_s* js_value_null();

int32_t js_value_int(const js_value_s* v);
float js_value_float(const js_value_s* v);
bool js_value_bool(const js_value_s* v);
const char* js_value_string(const js_value_s* v);

bool js_value_append_array(js_value_s* array, js_value_s* value);
js_value_s* js_value_get_element(const js_value_s* array, int i);
int js_value_array_length(const js_value_s* array);

// Stores `value` under `name`, freeing what was stored there before.  The
// object takes ownership in every case: when the value cannot be stored (not
// an object, no name, a name byte without a trie slot) it is freed.
bool js_value_put(js_value_s* object, const char* name, js_value_s* value);
js_value_s* js_value_get(const js_value_s* object, const char* name);
void js_value_put_int(js_value_s* object, const char* name, int32_t v);
void js_value_put_float(js_value_s* object, const char* name, float v);
void js_value_put_bool(js_value_s* object, const char* name, bool v);
void js_value_put_string(js_value_s* object, const char* name, const char* text);
int32_t js_value_get_int(const js_value_s* object, const char* name);
float js_value_get_float(const js_value_s* object, const char* name);
bool js_value_get_bool(const js_value_s* object, const char* name);
const char* js_value_get_string(const js_value_s* object, const char* name);

typedef void (*js_member_cb)(const char* name, js_value_s* value, void* context);
void js_value_iterate_members(const js_value_s* object, js_member_cb callback, void* context);

void js_free_value(js_value_s* value);

// Expands ${name} placeholders from the members of `object`.
char* js_value_process_string(const char* tmpl, const js_value_s* object);

// ---- string builder ----
struct strbuf_s {
  char* buf;
  size_t cap;
  size_t len;
};

strbuf_s* strbuf_new(size_t capacity);
bool strbuf_append(strbuf_s* sb, const char* text);
bool strbuf_append_bytes(strbuf_s* sb, const char* bytes, size_t length);
bool strbuf_appendc(strbuf_s* sb, char ch);
bool strbuf_appendf(strbuf_s* sb, const char* format, ...) __attribute__((format(printf, 2, 3)));
void strbuf_chomp(strbuf_s* sb, char ch);
const char* strbuf_get_chars(const strbuf_s* sb);
// Hands the text over to the caller (to be freed with free()) and frees the builder.
char* strbuf_detach(strbuf_s* sb);
void strbuf_free(strbuf_s* sb);

// BSD strlcpy/strlcat contract.
size_t _lum_strlcpy(char* dst, const char* src, size_t size);
size_t _lum_strlcat(char* dst, const char* src, size_t size);
