// Settings text storage: the buffer primitives, key lookup and the store
// that rebuilds the text around one entry.
#include "dictionary.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

bool dict_is_blank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view dict_trim(std::string_view s) {
  while (!s.empty() && dict_is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && dict_is_blank(s.back())) s.remove_suffix(1);
  return s;
}

bool dict_same(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

bool dict_is_blank_line(const std::string& line) {
  return line == "\n";
}

// Name of a header line "[name]..." (to the first ']' or the line end).
std::string_view dict_header_name(const std::string& line) {
  std::string_view name(line);
  name.remove_prefix(1);
  size_t end = name.find_first_of("]\n");
  return end == std::string_view::npos ? name : name.substr(0, end);
}

// Entry line: the key (blanks around removed) before the first '=', and
// the offset of the value (after '=' and the blanks that follow).  False
// for a line without '='.
bool dict_entry(const std::string& line, std::string_view& key, size_t& value_at) {
  size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = dict_trim(std::string_view(line).substr(0, eq));
  value_at = eq + 1;
  while (value_at < line.size() && dict_is_blank(line[value_at])) value_at++;
  return true;
}

struct DictLookup {
  bool header = false;  // the header (or the wanted section) was seen
  bool found = false;
  int key_line = -1;    // index of the key's line
  int span = 1;         // lines the entry occupies: more for a braced value closed on a later line
  int insert_line = 0;  // lines to copy before a new entry
  std::string value;
  size_t examined = 0;  // bytes of the value examined
};

// Copies the value that starts at `at` in `line`, reading further lines
// from `r`, and counts the lines a braced value spans.
void dict_read_value(rambuffer* r, std::string& line, size_t at, size_t allowance, DictLookup& out) {
  char term = '\n';
  bool copying = true;
  int lines = 1;
  for (;;) {
    for (size_t i = at; i < line.size(); i++) {
      char c = line[i];
      if (copying && out.examined == allowance) copying = false;
      if (copying) out.examined++;
      if (c == term) {
        if (term == '}' && lines > 1) out.span = lines;
        return;
      }
      if (c == '{') {
        term = '}';
        continue;
      }
      if (c != '\n' && copying) out.value += c;
    }
    // The line ends: a plain value is complete unless it lacked its LF at
    // the end of the text; a braced one goes on with the next line.
    if (term == '\n' || !RAMfgets(r, line)) return;
    at = 0;
    lines++;
  }
}

DictLookup dict_lookup(const dictionary* d, const char* section, std::string_view key, size_t allowance) {
  DictLookup out;
  rambuffer r = d->rb;
  RAMrewind(&r);
  std::string line;
  int index = 0;
  bool last_blank = false;
  while (RAMfgets(&r, line)) {
    index++;
    last_blank = dict_is_blank_line(line);
    if (line[0] == '[' && (section == nullptr || dict_same(dict_header_name(line), section))) {
      out.header = true;
      break;
    }
  }
  if (!out.header) {
    out.insert_line = index;
    return out;
  }
  int header_line = index;
  last_blank = false;
  while (RAMfgets(&r, line)) {
    if (section != nullptr && line[0] == '[') break;  // a named section ends at the next header
    index++;
    std::string_view line_key;
    size_t value_at;
    if (!key.empty() && dict_entry(line, line_key, value_at) && dict_same(line_key, key)) {
      out.found = true;
      out.key_line = index - 1;
      dict_read_value(&r, line, value_at, allowance, out);
      return out;
    }
    last_blank = dict_is_blank_line(line);
  }
  // New keys go to the end of the section, ahead of one final blank line.
  out.insert_line = last_blank && index > header_line ? index - 1 : index;
  return out;
}

// Writer of a rebuilt text that remembers whether anything was dropped.
struct DictWriter {
  rambuffer* rb;
  bool dropped = false;

  void put(const char* text, size_t len) {
    if (RAMfputs(rb, text, len) < len) dropped = true;
  }
  void put(std::string_view s) { put(s.data(), s.size()); }
  // Ends an unterminated last line before more lines follow.
  void end_line() {
    if (rb->size > 0 && rb->buf[rb->size - 1] != '\n') put("\n", 1);
  }
  bool ends_with_blank_line() const {
    return (rb->size == 1 && rb->buf[0] == '\n') ||
           (rb->size >= 2 && rb->buf[rb->size - 1] == '\n' && rb->buf[rb->size - 2] == '\n');
  }
  int copy_lines(rambuffer* from, int count) {
    std::string line;
    int n = 0;
    while (n < count && RAMfgets(from, line)) {
      put(line);
      n++;
    }
    return n;
  }
};

bool dict_alloc(rambuffer* rb, uint32_t capacity) {
  rb->buf = static_cast<char*>(malloc(capacity));
  if (rb->buf == nullptr) return false;
  rb->size = 0;
  rb->maxsize = capacity;
  rb->curpos = 0;
  rb->modified = 0;
  return true;
}

// The value as it is stored: its first line only, with CR bytes dropped
// and a '{' left open closed, so that it reads back as itself and never
// takes in the lines after it.
std::string dict_stored_value(const char* value) {
  std::string v;
  for (const char* p = value; *p && *p != '\n'; p++) {
    if (*p != '\r') v += *p;
  }
  size_t open = v.find('{');
  if (open != std::string::npos && v.find('}', open) == std::string::npos) v += '}';
  return v;
}

}  // namespace

void RAMrewind(rambuffer* rb) {
  rb->curpos = 0;
}

bool RAMfgets(rambuffer* rb, std::string& line) {
  line.clear();
  if (rb->curpos >= rb->size) return false;
  while (rb->curpos < rb->size) {
    char c = rb->buf[rb->curpos++];
    if (c == '\r') continue;
    line += c;
    if (c == '\n') break;
  }
  return true;
}

size_t RAMfputs(rambuffer* rb, const char* text, size_t len) {
  size_t room = rb->curpos < rb->maxsize ? rb->maxsize - rb->curpos : 0;
  size_t n = len < room ? len : room;
  memcpy(rb->buf + rb->curpos, text, n);
  rb->curpos += static_cast<uint32_t>(n);
  if (rb->curpos > rb->size) rb->size = rb->curpos;
  rb->modified = 1;
  return n;
}

size_t RAMfprintf(rambuffer* rb, const char* format, ...) {
  va_list args;
  va_start(args, format);
  char small[256];
  va_list copy;
  va_copy(copy, args);
  int len = vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  size_t written = 0;
  if (len >= 0 && static_cast<size_t>(len) < sizeof small) {
    written = RAMfputs(rb, small, static_cast<size_t>(len));
  } else if (len >= 0) {
    std::string big(static_cast<size_t>(len) + 1, '\0');
    vsnprintf(big.data(), big.size(), format, args);
    written = RAMfputs(rb, big.data(), static_cast<size_t>(len));
  }
  va_end(args);
  return written;
}

int linecopy(rambuffer* to, rambuffer* from, int count) {
  DictWriter w{to};
  return w.copy_lines(from, count);
}

dictionary* DictCreate(uint32_t capacity) {
  auto* d = static_cast<dictionary*>(calloc(1, sizeof(dictionary)));
  if (d == nullptr) return nullptr;
  if (!dict_alloc(&d->rb, capacity == 0 ? DICT_DEFAULT_CAPACITY : capacity)) {
    free(d);
    return nullptr;
  }
  return d;
}

void DictClose(dictionary* d) {
  if (d == nullptr) return;
  free(d->rb.buf);
  free(d);
}

dictionary* DictCopy(const dictionary* d) {
  if (d == nullptr) return nullptr;
  dictionary* copy = DictCreate(d->rb.maxsize);
  if (copy == nullptr) return nullptr;
  memcpy(copy->rb.buf, d->rb.buf, d->rb.size);
  copy->rb.size = d->rb.size;
  return copy;
}

bool DictReadFile(dictionary* d, const char* path) {
  if (d == nullptr || path == nullptr) return false;
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  d->rb.size = static_cast<uint32_t>(fread(d->rb.buf, 1, d->rb.maxsize, f));
  fclose(f);
  d->rb.curpos = 0;
  d->rb.modified = 0;
  return true;
}

bool DictWriteFile(dictionary* d, const char* path) {
  if (d == nullptr || path == nullptr) return false;
  FILE* f = fopen(path, "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(d->rb.buf, 1, d->rb.size, f) == d->rb.size;
  ok = fclose(f) == 0 && ok;
  if (ok) d->rb.modified = 0;
  return ok;
}

int DictGetValue(const dictionary* d, const char* section, const char* key, const char* def, char* buf,
                 size_t bufsize) {
  if (buf == nullptr || bufsize == 0) return 0;
  buf[0] = 0;
  DictLookup found;
  if (d != nullptr && key != nullptr) found = dict_lookup(d, section, dict_trim(key), bufsize - 1);
  if (!found.found) {
    if (def != nullptr) {
      strncpy(buf, def, bufsize - 1);
      buf[bufsize - 1] = 0;
    }
    return 0;
  }
  memcpy(buf, found.value.data(), found.value.size());
  buf[found.value.size()] = 0;
  return found.value.empty() ? 1 : static_cast<int>(found.value.size());
}

bool DictSetValue(dictionary* d, const char* section, const char* key, const char* value) {
  if (d == nullptr || key == nullptr) return false;
  std::string_view k = dict_trim(key);
  if (k.empty() || k.find_first_of("=\r\n") != std::string_view::npos || k.size() + 2 > DICT_MAX_ENTRY) {
    return false;
  }
  std::string v = value != nullptr ? dict_stored_value(value) : std::string();
  if (k.size() + v.size() + 2 > DICT_MAX_ENTRY) v.clear();

  DictLookup at = dict_lookup(d, section, k, 0);
  rambuffer next;
  if (!dict_alloc(&next, d->rb.maxsize)) return false;
  DictWriter w{&next};
  rambuffer src = d->rb;
  RAMrewind(&src);
  std::string entry = std::string(k) + "=" + v + "\n";
  if (at.found) {
    w.copy_lines(&src, at.key_line);
    std::string skipped;
    for (int i = 0; i < at.span; i++) RAMfgets(&src, skipped);
    if (value != nullptr) {
      w.end_line();
      w.put(entry);
    }
  } else {
    w.copy_lines(&src, at.insert_line);
    if (!at.header && value != nullptr) {
      w.end_line();
      if (next.size > 0 && !w.ends_with_blank_line()) w.put("\n", 1);
      w.put(section == nullptr ? std::string("[(null)]\n") : "[" + std::string(section) + "]\n");
    }
    if (value != nullptr) {
      w.end_line();
      w.put(entry);
    }
  }
  w.copy_lines(&src, INT_MAX);
  if (w.dropped) {
    // Keep whole lines only: a cut entry would read back as a wrong value.
    while (next.size > 0 && next.buf[next.size - 1] != '\n') next.size--;
  }
  free(d->rb.buf);
  d->rb = next;
  d->rb.curpos = 0;
  d->rb.modified = 1;
  return true;
}
