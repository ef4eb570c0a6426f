// Growable NUL-terminated text builder and the bounded string copies.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "json.h"

strbuf_s* strbuf_new(size_t capacity) {
  if (capacity == 0) capacity = 16;
  strbuf_s* sb = static_cast<strbuf_s*>(malloc(sizeof(strbuf_s)));
  if (!sb) return nullptr;
  sb->buf = static_cast<char*>(malloc(capacity));
  if (!sb->buf) {
    free(sb);
    return nullptr;
  }
  sb->buf[0] = 0;
  sb->cap = capacity;
  sb->len = 0;
  return sb;
}

// Doubles the capacity until `extra` more bytes and the terminator fit.
static bool strbuf_reserve(strbuf_s* sb, size_t extra) {
  size_t need = sb->len + extra + 1;
  if (need <= sb->cap) return true;
  size_t cap = sb->cap;
  while (cap < need) {
    if (cap > SIZE_MAX / 2) return false;
    cap *= 2;
  }
  char* grown = static_cast<char*>(realloc(sb->buf, cap));
  if (!grown) return false;
  sb->buf = grown;
  sb->cap = cap;
  return true;
}

bool strbuf_append_bytes(strbuf_s* sb, const char* bytes, size_t length) {
  if (!sb || (!bytes && length)) return false;
  if (!strbuf_reserve(sb, length)) return false;
  if (length) memcpy(sb->buf + sb->len, bytes, length);
  sb->len += length;
  sb->buf[sb->len] = 0;
  return true;
}

bool strbuf_append(strbuf_s* sb, const char* text) {
  if (!sb || !text) return false;
  return strbuf_append_bytes(sb, text, strlen(text));
}

bool strbuf_appendc(strbuf_s* sb, char ch) {
  if (!sb || !strbuf_reserve(sb, 1)) return false;
  sb->buf[sb->len++] = ch;
  sb->buf[sb->len] = 0;
  return true;
}

bool strbuf_appendf(strbuf_s* sb, const char* format, ...) {
  if (!sb || !format) return false;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  bool ok = n >= 0 && strbuf_reserve(sb, static_cast<size_t>(n));
  if (ok) {
    vsnprintf(sb->buf + sb->len, static_cast<size_t>(n) + 1, format, again);
    sb->len += static_cast<size_t>(n);
  }
  va_end(again);
  return ok;
}

void strbuf_chomp(strbuf_s* sb, char ch) {
  if (sb && sb->len > 0 && sb->buf[sb->len - 1] == ch) sb->buf[--sb->len] = 0;
}

const char* strbuf_get_chars(const strbuf_s* sb) {
  return sb ? sb->buf : nullptr;
}

char* strbuf_detach(strbuf_s* sb) {
  if (!sb) return nullptr;
  char* text = sb->buf;
  free(sb);
  return text;
}

void strbuf_free(strbuf_s* sb) {
  if (!sb) return;
  free(sb->buf);
  free(sb);
}

size_t _lum_strlcpy(char* dst, const char* src, size_t size) {
  size_t n = strlen(src);
  if (size) {
    size_t copy = n < size - 1 ? n : size - 1;
    memcpy(dst, src, copy);
    dst[copy] = 0;
  }
  return n;
}

size_t _lum_strlcat(char* dst, const char* src, size_t size) {
  size_t used = strnlen(dst, size);
  if (used == size) return size + strlen(src);
  return used + _lum_strlcpy(dst + used, src, size - used);
}
