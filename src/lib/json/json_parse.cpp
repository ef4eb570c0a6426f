// JSON parser: tokens, the lenient literal classification, string
// unescaping, containers, the first-error text with line and column, the
// chunked json_start/json_add/json_end input and the stand-alone string
// escape helpers.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "json.h"
#include "tcs_utf8.h"

static char g_jsonError[1024];
static int g_jsonLine = 1;
static const char* g_jsonText = nullptr;  // start of the document being parsed
static size_t g_jsonLineStart = 0;
static strbuf_s* g_jsonPending = nullptr;

// Containers nest at most this deep; deeper input is refused rather than
// exhausting the stack.
static const int kJsonMaxDepth = 512;

static const char* const kJsonErrorTexts[] = {
    "Illegal Input: JSON text must be stored in a properly escaped string.",
    "Syntax error [%d:%d]: Illegal token \"%c\".",
    "Syntax error [%d:%d]: Illegal literal [%s].",
    "Syntax error [%d:%d]: Unexpected token \"%c\", expected \"%c\".",
    "Syntax error [%d:%d]: Unexpected token \"%c\", expected \"%c\" or \"%c\".",
    "Syntax error [%d:%d]: Object member names must be strings.",
    "Syntax error [%d:%d]: Malformed UTF-16 character escape sequence.",
    "Decode Error [%d:%d]: Illegal character specified in UTF-16 character escape sequence.",
    "Syntax error [%d:%d]: Expected data structure member, possible trailing comma.",
    "Syntax error [%d:%d]: Illegal trailing characters at token \"%c\".",
    "Syntax error [%d:%d]: Unexpected EOF.",
    "Error: Illegal call to function [%s] without calling [json_begin] first.",
    "Error: %s",
};

const char* get_json_error() {
  return g_jsonError;
}

void reset_json_error() {
  g_jsonError[0] = 0;
}

void set_json_error(JSON_ERROR error, ...) {
  if (g_jsonError[0] || error < ERROR_ILLEGAL_INPUT || error > ERROR_LIBC) return;
  va_list args;
  va_start(args, error);
  vsnprintf(g_jsonError, sizeof g_jsonError, kJsonErrorTexts[error], args);
  va_end(args);
}

static int json_line() {
  return g_jsonLine;
}
static int json_column(const char* at) {
  return static_cast<int>((at - g_jsonText) - g_jsonLineStart) + 1;
}

// Errors that carry a position and one byte (or nothing) after it.
static void json_error_at(JSON_ERROR error, const char* at) {
  set_json_error(error, json_line(), json_column(at), *at);
}

static const char* json_skip_ws(const char* p) {
  for (;; p++) {
    if (*p == '\n') {
      g_jsonLine++;
      g_jsonLineStart = static_cast<size_t>(p + 1 - g_jsonText);
    } else if (*p != ' ' && *p != '\t' && *p != '\r') {
      return p;
    }
  }
}

static bool json_is_digit(unsigned char c) {
  return c >= '0' && c <= '9';
}
static bool json_is_alnum(unsigned char c) {
  return json_is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
static bool json_literal_byte(unsigned char c) {
  return json_is_alnum(c) || c == '+' || c == '-' || c == '.' || c >= 0x80;
}
static int json_hex(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
static int json_hex4(const char* p) {
  int v = 0;
  for (int i = 0; i < 4; i++) {
    int h = json_hex(static_cast<unsigned char>(p[i]));
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  return v;
}

// A lone surrogate escape keeps its three-byte form.
static bool json_put_utf8(strbuf_s* sb, unsigned cp) {
  char out[4];
  return strbuf_append_bytes(sb, out, TCSUtf8Encode(cp, out));
}

// Unescapes [p, end) into a new text.  Errors name the backslash; with
// `report` false they are only signalled by the null result.
static char* json_unescape(const char* p, const char* end, bool report) {
  strbuf_s* sb = strbuf_new(static_cast<size_t>(end - p) + 1);
  if (!sb) {
    if (report) set_json_error(ERROR_LIBC, strerror(errno));
    return nullptr;
  }
  while (p < end) {
    if (*p != '\\') {
      const char* run = p;
      while (p < end && *p != '\\') p++;
      strbuf_append_bytes(sb, run, static_cast<size_t>(p - run));
      continue;
    }
    const char* backslash = p;
    if (p + 1 >= end) {  // a lone trailing backslash keeps nothing
      p++;
      continue;
    }
    char c = p[1];
    p += 2;
    switch (c) {
      case 'b':
        strbuf_appendc(sb, '\b');
        break;
      case 'f':
        strbuf_appendc(sb, '\f');
        break;
      case 'n':
        strbuf_appendc(sb, '\n');
        break;
      case 'r':
        strbuf_appendc(sb, '\r');
        break;
      case 't':
        strbuf_appendc(sb, '\t');
        break;
      case 'u': {
        int unit = end - p >= 4 ? json_hex4(p) : -1;
        if (unit < 0) {
          if (report) set_json_error(ERROR_ILLEGAL_UTF16, json_line(), json_column(backslash));
          strbuf_free(sb);
          return nullptr;
        }
        p += 4;
        unsigned cp = static_cast<unsigned>(unit);
        if (cp >= 0xD800 && cp <= 0xDBFF && end - p >= 6 && p[0] == '\\' && p[1] == 'u') {
          int low = json_hex4(p + 2);
          if (low >= 0xDC00 && low <= 0xDFFF) {
            cp = (((cp - 0xD800) << 10) | (static_cast<unsigned>(low) - 0xDC00)) + 0x10000;
            p += 6;
          }
        }
        if (cp < 0x20 && cp != 0x08 && cp != 0x09 && cp != 0x0A && cp != 0x0C && cp != 0x0D) {
          if (report) set_json_error(ERROR_ILLEGAL_UNICODE, json_line(), json_column(backslash));
          strbuf_free(sb);
          return nullptr;
        }
        json_put_utf8(sb, cp);
        break;
      }
      default:
        strbuf_appendc(sb, c);
        break;
    }
  }
  return strbuf_detach(sb);
}

static js_value_s* json_parse_value(const char** pp, int depth);

// Classifies the literal [start, end); `closedString` tells whether the
// scan left string mode at its last byte.
static js_value_s* json_literal_value(const char* start, const char* end, bool closedString) {
  size_t n = static_cast<size_t>(end - start);
  const char* p = start;
  // Integer: optional sign (with at least one byte after it), then digits only.
  {
    const char* q = p;
    if ((*q == '+' || *q == '-') && n > 1) q++;
    const char* digits = q;
    while (q < end && json_is_digit(static_cast<unsigned char>(*q))) q++;
    if (q == end && q > digits) {
      long long v = 0;
      for (const char* d = digits; d < end; d++) {
        v = v * 10 + (*d - '0');
        if (v > 2147483648LL) v = 2147483648LL;  // saturate; out-of-range values clamp below
      }
      if (*p == '-') v = -v;
      if (v > INT32_MAX) v = INT32_MAX;
      return js_value_new_int(static_cast<int32_t>(v));
    }
  }
  // Float: [sign] (.digits | digits[.[digits]]) [e|E [sign] digits] [f|F].
  {
    const char* q = p;
    if (q < end && (*q == '+' || *q == '-')) q++;
    bool ok = false;
    if (q < end && *q == '.') {
      q++;
      const char* d = q;
      while (q < end && json_is_digit(static_cast<unsigned char>(*q))) q++;
      ok = q > d;
    } else {
      const char* d = q;
      while (q < end && json_is_digit(static_cast<unsigned char>(*q))) q++;
      ok = q > d;
      if (ok && q < end && *q == '.') {
        q++;
        while (q < end && json_is_digit(static_cast<unsigned char>(*q))) q++;
      }
    }
    if (ok && q < end && (*q == 'e' || *q == 'E')) {
      q++;
      if (q < end && (*q == '+' || *q == '-')) q++;
      const char* d = q;
      while (q < end && json_is_digit(static_cast<unsigned char>(*q))) q++;
      ok = q > d;
    }
    const char* numberEnd = q;
    if (ok && q < end && (*q == 'f' || *q == 'F')) q++;
    if (ok && q == end) {
      char tmp[128];
      size_t len = static_cast<size_t>(numberEnd - p);
      if (len < sizeof tmp) {
        memcpy(tmp, p, len);
        tmp[len] = 0;
        return js_value_new_float(strtof(tmp, nullptr));
      }
      // Very long digit strings: convert from a heap copy.
      char* big = strndup(p, len);
      if (!big) return nullptr;
      float f = strtof(big, nullptr);
      free(big);
      return js_value_new_float(f);
    }
  }
  auto is = [&](const char* word) { return n == strlen(word) && memcmp(start, word, n) == 0; };
  if (is("\xCF\x80")) {
    uint32_t bits = 0x40490FD0u;
    float f;
    memcpy(&f, &bits, sizeof f);
    return js_value_new_float(f);
  }
  if (is("e")) {
    uint32_t bits = 0x402DF84Du;
    float f;
    memcpy(&f, &bits, sizeof f);
    return js_value_new_float(f);
  }
  if (is("\xF0\x9F\x8D\xBA")) return js_value_new_string("Stay thirsty my friend \xF0\x9F\x8D\xBB");
  if (is("true")) return js_value_new_bool(true);
  if (is("false")) return js_value_new_bool(false);
  if (is("null")) return js_value_null();
  if (n >= 2 && start[0] == '"' && end[-1] == '"' && closedString) {
    char* text = json_unescape(start + 1, end - 1, true);
    if (!text) return nullptr;
    js_value_s* v = js_value_new_string("");
    if (!v) {
      free(text);
      return nullptr;
    }
    free(v->value.vv);
    v->value.vv = text;
    return v;
  }
  char* copy = strndup(start, n);
  set_json_error(ERROR_ILLEGAL_LITERAL, json_line(), json_column(start), copy ? copy : "");
  free(copy);
  return nullptr;
}

static js_value_s* json_parse_literal(const char** pp) {
  const char* start = *pp;
  const char* p = start;
  bool inString = false;
  bool closedAtEnd = false;
  for (;;) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20) break;
    if (!inString && c != '"' && !json_literal_byte(c)) break;
    closedAtEnd = false;
    if (inString) {
      if (c == '\\') {
        p++;
        if (static_cast<unsigned char>(*p) < 0x20) break;
      } else if (c == '"') {
        inString = false;
        closedAtEnd = true;
      }
      p++;
      continue;
    }
    if (c == '"') {
      inString = true;
      p++;
      continue;
    }
    p++;
  }
  *pp = p;
  return json_literal_value(start, p, closedAtEnd && !inString);
}

static js_value_s* json_parse_array(const char** pp, int depth) {
  const char* p = json_skip_ws(*pp + 1);
  js_value_s* array = js_value_new_array(10);
  if (!array) {
    set_json_error(ERROR_LIBC, strerror(errno));
    return nullptr;
  }
  if (*p == ']') {
    *pp = p + 1;
    return array;
  }
  for (;;) {
    js_value_s* element = json_parse_value(&p, depth + 1);
    if (!element) {
      js_free_value(array);
      return nullptr;
    }
    if (!js_value_append_array(array, element)) {
      js_free_value(element);
      js_free_value(array);
      set_json_error(ERROR_LIBC, strerror(errno));
      return nullptr;
    }
    p = json_skip_ws(p);
    if (*p != ',') break;
    p = json_skip_ws(p + 1);
  }
  if (*p != ']') {
    if (*p == 0)
      json_error_at(ERROR_UNEXPECTED_EOF, p);
    else
      set_json_error(ERROR_ILLEGAL_DELIMITER2, json_line(), json_column(p), *p, ',', ']');
    js_free_value(array);
    return nullptr;
  }
  *pp = p + 1;
  return array;
}

static js_value_s* json_parse_object(const char** pp, int depth) {
  const char* p = json_skip_ws(*pp + 1);
  js_value_s* object = js_value_new_object();
  if (!object) {
    set_json_error(ERROR_LIBC, strerror(errno));
    return nullptr;
  }
  if (*p == '}') {
    *pp = p + 1;
    return object;
  }
  for (;;) {
    if (*p != '"') {
      set_json_error(*p == '}' ? ERROR_EXPECTED_MEMBER : ERROR_ILLEGAL_MEMBER_NAME, json_line(),
                     json_column(p));
      js_free_value(object);
      return nullptr;
    }
    const char* nameStart = p + 1;
    const char* q = nameStart;
    while (*q && *q != '"') q += (*q == '\\' && q[1]) ? 2 : 1;
    if (*q != '"') {
      set_json_error(ERROR_ILLEGAL_MEMBER_NAME, json_line(), json_column(p));
      js_free_value(object);
      return nullptr;
    }
    char* name = json_unescape(nameStart, q, true);
    if (!name) {
      js_free_value(object);
      return nullptr;
    }
    p = json_skip_ws(q + 1);
    if (*p != ':') {
      set_json_error(ERROR_ILLEGAL_DELIMITER1, json_line(), json_column(p), *p, ':');
      free(name);
      js_free_value(object);
      return nullptr;
    }
    p = json_skip_ws(p + 1);
    js_value_s* value = json_parse_value(&p, depth + 1);
    if (!value) {
      free(name);
      js_free_value(object);
      return nullptr;
    }
    bool stored = js_value_put(object, name, value);
    free(name);
    if (!stored) {
      set_json_error(ERROR_ILLEGAL_MEMBER_NAME, json_line(), json_column(nameStart - 1));
      js_free_value(object);
      return nullptr;
    }
    p = json_skip_ws(p);
    if (*p != ',') break;
    p = json_skip_ws(p + 1);
  }
  if (*p != '}') {
    if (*p == 0)
      json_error_at(ERROR_UNEXPECTED_EOF, p);
    else
      set_json_error(ERROR_ILLEGAL_DELIMITER2, json_line(), json_column(p), *p, ',', '}');
    js_free_value(object);
    return nullptr;
  }
  *pp = p + 1;
  return object;
}

static js_value_s* json_parse_value(const char** pp, int depth) {
  const char* p = *pp;
  unsigned char c = static_cast<unsigned char>(*p);
  if (c == '[' || c == '{') {
    if (depth >= kJsonMaxDepth) {
      json_error_at(ERROR_ILLEGAL_TOKEN, p);
      return nullptr;
    }
    return c == '[' ? json_parse_array(pp, depth) : json_parse_object(pp, depth);
  }
  if (json_literal_byte(c) || c == '"') return json_parse_literal(pp);
  if (c == 0)
    json_error_at(ERROR_UNEXPECTED_EOF, p);
  else
    json_error_at(ERROR_ILLEGAL_TOKEN, p);
  return nullptr;
}

js_value_s* parse_json(const char* text) {
  reset_json_error();
  g_jsonLine = 1;
  g_jsonLineStart = 0;
  if (!text) text = "";
  g_jsonText = text;
  const char* p = json_skip_ws(text);
  js_value_s* v = json_parse_value(&p, 0);
  if (v) {
    p = json_skip_ws(p);
    if (*p) {
      json_error_at(ERROR_UNEXPECTED_CHARACTERS, p);
      js_free_value(v);
      v = nullptr;
    }
  }
  g_jsonText = nullptr;
  return v;
}

bool json_start() {
  strbuf_free(g_jsonPending);
  g_jsonPending = strbuf_new(1024);
  if (!g_jsonPending) {
    reset_json_error();
    set_json_error(ERROR_LIBC, strerror(errno));
    return false;
  }
  return true;
}

bool json_add_bytes(const char* bytes, size_t length) {
  if (!g_jsonPending) {
    reset_json_error();
    set_json_error(ERROR_ILLEGAL_CALL, "json_add");
    return false;
  }
  if (!strbuf_append_bytes(g_jsonPending, bytes, length)) {
    reset_json_error();
    set_json_error(ERROR_LIBC, strerror(ENOMEM));
    return false;
  }
  return true;
}

bool json_add(const char* text) {
  return json_add_bytes(text, text ? strlen(text) : 0);
}

js_value_s* json_end() {
  if (!g_jsonPending) {
    reset_json_error();
    set_json_error(ERROR_ILLEGAL_CALL, "json_end");
    return nullptr;
  }
  js_value_s* v = parse_json(strbuf_get_chars(g_jsonPending));
  strbuf_free(g_jsonPending);
  g_jsonPending = nullptr;
  return v;
}

char* unescape_json_string(const char* text) {
  if (!text) return nullptr;
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') p++;
  const char* q = p + 1;
  if (*p == '"') {
    while (*q && *q != '"') q += (*q == '\\' && q[1]) ? 2 : 1;
  }
  char* out = (*p == '"' && *q == '"') ? json_unescape(p + 1, q, false) : nullptr;
  if (!out) set_json_error(ERROR_ILLEGAL_INPUT);
  return out;
}
