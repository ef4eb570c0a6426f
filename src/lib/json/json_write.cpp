// JSON text output: the compact serializer, string escaping and the
// ${name} template expander.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "json.h"

// A quoted string: quote, backslash and BS, TAB, LF, FF, CR take their
// short escapes; any other control byte, which cannot stand raw in JSON
// text, is written as \u00XX (this library's parser refuses that escape as
// it refuses the raw byte, but the text stays JSON for every other reader).
static bool json_write_string(strbuf_s* sb, const char* text) {
  bool ok = strbuf_appendc(sb, '"');
  for (const char* p = text; ok && *p;) {
    const char* run = p;
    while (*p && static_cast<unsigned char>(*p) >= 0x20 && *p != '"' && *p != '\\') p++;
    if (p > run) ok = strbuf_append_bytes(sb, run, static_cast<size_t>(p - run));
    if (!*p || !ok) break;
    switch (*p) {
      case '"':
        ok = strbuf_append(sb, "\\\"");
        break;
      case '\\':
        ok = strbuf_append(sb, "\\\\");
        break;
      case '\b':
        ok = strbuf_append(sb, "\\b");
        break;
      case '\t':
        ok = strbuf_append(sb, "\\t");
        break;
      case '\n':
        ok = strbuf_append(sb, "\\n");
        break;
      case '\f':
        ok = strbuf_append(sb, "\\f");
        break;
      case '\r':
        ok = strbuf_append(sb, "\\r");
        break;
      default:
        ok = strbuf_appendf(sb, "\\u%04x", static_cast<unsigned char>(*p));
        break;
    }
    p++;
  }
  return ok && strbuf_appendc(sb, '"');
}

struct json_write_ctx {
  strbuf_s* sb;
  bool ok;
};

static bool json_write_value(strbuf_s* sb, const js_value_s* v);

static void json_write_member(const char* name, js_value_s* value, void* arg) {
  json_write_ctx* ctx = static_cast<json_write_ctx*>(arg);
  if (!ctx->ok) return;
  ctx->ok = json_write_string(ctx->sb, name) && strbuf_appendc(ctx->sb, ':') &&
            json_write_value(ctx->sb, value) && strbuf_appendc(ctx->sb, ',');
}

static bool json_write_value(strbuf_s* sb, const js_value_s* v) {
  if (!v) return strbuf_append(sb, "null");
  switch (v->type) {
    case JS_VALUE_INTEGER:
      return strbuf_appendf(sb, "%d", v->value.iv);
    case JS_VALUE_FLOAT:
      // JSON has no infinity or NaN (a literal beyond the float range
      // parses as infinity): they are written as null, as browsers do.
      if (!std::isfinite(v->value.fv)) return strbuf_append(sb, "null");
      return strbuf_appendf(sb, "%g", static_cast<double>(v->value.fv));
    case JS_VALUE_BOOL:
      return strbuf_append(sb, v->value.iv ? "true" : "false");
    case JS_VALUE_STRING:
      return json_write_string(sb, static_cast<const char*>(v->value.vv));
    case JS_VALUE_ARRAY: {
      bool ok = strbuf_appendc(sb, '[');
      for (int i = 0; ok && i < v->len; i++) {
        if (i) ok = strbuf_appendc(sb, ',');
        if (ok) ok = json_write_value(sb, static_cast<const js_value_s*>(v->value.vvv[i]));
      }
      return ok && strbuf_appendc(sb, ']');
    }
    case JS_VALUE_OBJECT: {
      json_write_ctx ctx = {sb, strbuf_appendc(sb, '{')};
      js_value_iterate_members(v, json_write_member, &ctx);
      strbuf_chomp(sb, ',');
      return ctx.ok && strbuf_appendc(sb, '}');
    }
    default:
      // Null, and undefined values that only the API can produce.
      return strbuf_append(sb, "null");
  }
}

char* to_json(const js_value_s* value) {
  if (!value) return nullptr;
  strbuf_s* sb = strbuf_new(1024);
  if (!sb) return nullptr;
  if (!json_write_value(sb, value)) {
    strbuf_free(sb);
    return nullptr;
  }
  return strbuf_detach(sb);
}

char* escape_json_string(const char* text) {
  if (!text) return nullptr;
  strbuf_s* sb = strbuf_new(strlen(text) + 3);
  if (!sb || !json_write_string(sb, text)) {
    strbuf_free(sb);
    return nullptr;
  }
  return strbuf_detach(sb);
}

char* js_value_process_string(const char* tmpl, const js_value_s* object) {
  if (!tmpl || !object || object->type != JS_VALUE_OBJECT) return nullptr;
  strbuf_s* sb = strbuf_new(1024);
  if (!sb) return nullptr;
  const char* p = tmpl;
  bool ok = true;
  while (ok && *p) {
    if (p[0] != '$' || p[1] != '{') {
      const char* run = p;
      while (*p && !(p[0] == '$' && p[1] == '{')) p++;
      ok = strbuf_append_bytes(sb, run, static_cast<size_t>(p - run));
      continue;
    }
    // A placeholder: find the "}" that closes the outermost "${".
    const char* open = p;
    const char* q = p + 2;
    int depth = 1;
    while (*q && depth) {
      if (q[0] == '$' && q[1] == '{') {
        depth++;
        q += 2;
      } else if (*q == '}') {
        if (--depth == 0) break;
        q++;
      } else {
        q++;
      }
    }
    if (depth) break;  // still open at the end: dropped
    char* name = strndup(open + 2, static_cast<size_t>(q - open - 2));
    const js_value_s* member = name ? js_value_get(object, name) : nullptr;
    free(name);
    if (!member) {
      ok = strbuf_append_bytes(sb, open, static_cast<size_t>(q + 1 - open));
    } else if (member->type == JS_VALUE_STRING) {
      ok = strbuf_append(sb, static_cast<const char*>(member->value.vv));
    } else if (member->type == JS_VALUE_INTEGER) {
      ok = strbuf_appendf(sb, "%d", member->value.iv);
    }
    p = q + 1;
  }
  if (!ok) {
    strbuf_free(sb);
    return nullptr;
  }
  return strbuf_detach(sb);
}
