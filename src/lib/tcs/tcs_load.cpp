// Code-page file reader and table loader: keeps each code-page file in
// memory once read, finds a table's section, parses its entries and fills a
// new table of the requested kind, falling back to the built-in defaults.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

#include "tcs.h"
#include "tetrace.h"

namespace {

constexpr size_t kMaxFileBytes = 4u << 20;   // a code-page file is read up to 4 MiB
constexpr size_t kMaxLine = 254;             // longer lines are cut there
constexpr size_t kMaxSectionBytes = 527072;  // entries of one section, a terminator per line

struct Entry {
  std::string_view key;
  std::string_view value;
};

// The files read so far, by name; they stay for the life of the process.
std::map<std::string, std::string>& tcs_files() {
  static std::map<std::string, std::string> files;
  return files;
}

bool tcs_is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Last path component of `name` contains a '.'.
bool tcs_file_has_extension(std::string_view name) {
  size_t slash = name.rfind('/');
  std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
  return base.find('.') != std::string_view::npos;
}

// A scheme "has an extension" when a '.' is followed by a non-empty run
// without blanks ("latin.map"); "US English" has none.
bool tcs_scheme_has_extension(std::string_view scheme) {
  size_t dot = scheme.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == scheme.size()) return false;
  for (char c : scheme.substr(dot + 1)) {
    if (tcs_is_blank(c)) return false;
  }
  return true;
}

const char* tcs_suffix(int kind) {
  switch (kind) {
    case TCS_TBL_CPTOTCS:
    case TCS_TBL_VT200DSG:
    case TCS_TBL_VT200DMN:
    case TCS_TBL_VT100SG:
      return ".cpi";
    case TCS_TBL_TCSTOCP:
      return ".cpo";
    case TCS_TBL_UNICODE:
      return ".uni";
    case TCS_TBL_FONT:
      return ".unf";
  }
  return nullptr;
}

// The file's text, read on first use; null when it cannot be read.
const std::string* tcs_file_text(const std::string& name) {
  auto& files = tcs_files();
  auto it = files.find(name);
  if (it != files.end()) return &it->second;
  FILE* f = fopen(name.c_str(), "rb");
  if (f == nullptr) {
    TE_Trace(TRACE_FAIL, "TCSLoadTbl: cannot open code-page file %s\n", name.c_str());
    return nullptr;
  }
  std::string text;
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && st.st_size > 0)
    text.reserve(std::min(static_cast<size_t>(st.st_size), kMaxFileBytes));
  char chunk[4096];  // small: a session process keeps every stack page it ever touched
  size_t n;
  while (text.size() < kMaxFileBytes && (n = fread(chunk, 1, sizeof chunk, f)) > 0) {
    text.append(chunk, std::min(n, kMaxFileBytes - text.size()));
  }
  fclose(f);
  return &files.emplace(name, std::move(text)).first->second;
}

// Next line of `text` from `pos`: without its LF and CR bytes at its end,
// cut at kMaxLine characters.
std::string_view tcs_next_line(std::string_view text, size_t& pos) {
  size_t end = text.find('\n', pos);
  if (end == std::string_view::npos) end = text.size();
  std::string_view line = text.substr(pos, end - pos);
  pos = end < text.size() ? end + 1 : end;
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() > kMaxLine) line = line.substr(0, kMaxLine);
  return line;
}

bool tcs_same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// Entries of section `name` in `text`: from its header to the next line
// that begins with '['; blank and ';' lines skipped.
std::vector<Entry> tcs_section_entries(std::string_view text, std::string_view name) {
  std::vector<Entry> entries;
  size_t pos = 0;
  bool inside = false;
  size_t used = 0;
  while (pos < text.size()) {
    std::string_view line = tcs_next_line(text, pos);
    if (!line.empty() && line[0] == '[') {
      if (inside) break;
      std::string_view header = line.substr(1);
      size_t close = header.find(']');
      if (close != std::string_view::npos) header = header.substr(0, close);
      inside = tcs_same_name(header, name);
      continue;
    }
    if (!inside) continue;
    size_t i = 0;
    while (i < line.size() && tcs_is_blank(line[i])) i++;
    if (i == line.size() || line[i] == ';') continue;
    used += line.size() + 1;
    if (used > kMaxSectionBytes) break;
    size_t key_start = i;
    while (i < line.size() && line[i] != '=' && !tcs_is_blank(line[i])) i++;
    Entry e;
    e.key = line.substr(key_start, i - key_start);
    if (i < line.size() && line[i] == '=') i++;
    while (i < line.size() && tcs_is_blank(line[i])) i++;
    e.value = line.substr(i);
    entries.push_back(e);
  }
  return entries;
}

constexpr long long kNumberCap = 1LL << 40;  // numbers saturate here, far beyond any index

int tcs_hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Number form of the code-page tables: a first digit, then decimal digits;
// an 'x' switches to hexadecimal for the digits that follow ("0x41" is 65);
// a hexadecimal letter before that makes the value 0; anything else ends it.
long long tcs_cp_number(std::string_view s) {
  if (s.empty() || !isdigit(static_cast<unsigned char>(s[0]))) return 0;
  long long v = 0;
  bool hex = false;
  for (char c : s) {
    int d = tcs_hex_digit(c);
    if (d >= 0 && d < 10) {
      v = v * (hex ? 16 : 10) + d;
    } else if (!hex && (c == 'x' || c == 'X')) {
      hex = true;
      v = 0;
    } else if (d >= 0) {
      if (!hex) return 0;
      v = v * 16 + d;
    } else {
      break;
    }
    if (v > kNumberCap) v = kNumberCap;
  }
  return v;
}

// Signed decimal: leading blanks, optional '-', digits.
long long tcs_decimal(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && tcs_is_blank(s[i])) i++;
  bool neg = i < s.size() && s[i] == '-';
  if (neg) i++;
  long long v = 0;
  for (; i < s.size() && isdigit(static_cast<unsigned char>(s[i])); i++) {
    v = v * 10 + (s[i] - '0');
    if (v > kNumberCap) v = kNumberCap;
  }
  return neg ? -v : v;
}

void tcs_fill_defaults(int kind, void* table) {
  switch (kind) {
    case TCS_TBL_CPTOTCS:
      memcpy(table, TCSDefaultCPtoTCS.data(), sizeof TCSDefaultCPtoTCS);
      break;
    case TCS_TBL_TCSTOCP:
      memcpy(table, TCSDefaultTCStoCP.data(), sizeof TCSDefaultTCStoCP);
      break;
    case TCS_TBL_VT200DSG:
      memcpy(table, TCSDefaultVT200DSG.data(), sizeof TCSDefaultVT200DSG);
      break;
    case TCS_TBL_VT200DMN:
      memcpy(table, TCSDefaultVT200DMN.data(), sizeof TCSDefaultVT200DMN);
      break;
    case TCS_TBL_VT100SG:
      memcpy(table, TCSDefaultVT100SG.data(), sizeof TCSDefaultVT100SG);
      break;
    default:
      break;  // the table comes zeroed
  }
}

void tcs_apply(int kind, void* table, const std::vector<Entry>& entries) {
  switch (kind) {
    case TCS_TBL_TCSTOCP: {
      auto* t = static_cast<uint8_t*>(table);
      memset(t, 255, TCS_TCSTOCP_SIZE);
      for (const Entry& e : entries) {
        long long k = tcs_cp_number(e.key) - TCS_FIRST;
        if (k >= 0 && k < static_cast<long long>(TCS_TCSTOCP_SIZE)) {
          t[k] = static_cast<uint8_t>(tcs_cp_number(e.value) & 0xFF);
        }
      }
      break;
    }
    case TCS_TBL_UNICODE: {
      auto* t = static_cast<uint16_t*>(table);
      for (const Entry& e : entries) {
        long long k = tcs_decimal(e.key);
        if (k >= 0 && k < static_cast<long long>(TCS_UNICODE_SIZE)) {
          t[k] = static_cast<uint16_t>(tcs_decimal(e.value) & 0xFFFF);
        }
      }
      break;
    }
    case TCS_TBL_FONT: {
      auto* t = static_cast<uint8_t*>(table);
      for (const Entry& e : entries) {
        long long glyph = 0;
        size_t i = 0;
        for (; i < e.key.size() && tcs_hex_digit(e.key[i]) >= 0; i++) {
          glyph = std::min(glyph * 16 + tcs_hex_digit(e.key[i]), kNumberCap);
        }
        if (i == 0 || glyph > 255) continue;
        uint8_t* out = t + glyph * 32;
        int n = 0, high = -1;
        for (char c : e.value) {
          int d = tcs_hex_digit(c);
          if (d < 0) continue;
          if (high < 0) {
            high = d;
            continue;
          }
          out[n++] = static_cast<uint8_t>(high << 4 | d);
          high = -1;
          if (n == 32) break;
        }
      }
      break;
    }
    default: {  // kinds 0, 2, 3, 4
      auto* t = static_cast<TCS*>(table);
      for (size_t i = 0; i < TCS_CPTOTCS_SIZE; i++) t[i] = -1;
      for (const Entry& e : entries) {
        long long k = tcs_cp_number(e.key);
        if (k >= 0 && k < static_cast<long long>(TCS_CPTOTCS_SIZE)) {
          t[k] = static_cast<TCS>(tcs_cp_number(e.value) & 0xFFFF);
        }
      }
      break;
    }
  }
}

}  // namespace

size_t TCSTblSize(int kind) {
  switch (kind) {
    case TCS_TBL_CPTOTCS:
    case TCS_TBL_VT200DSG:
    case TCS_TBL_VT200DMN:
    case TCS_TBL_VT100SG:
      return TCS_CPTOTCS_SIZE * sizeof(TCS);
    case TCS_TBL_TCSTOCP:
      return TCS_TCSTOCP_SIZE;
    case TCS_TBL_UNICODE:
      return TCS_UNICODE_SIZE * sizeof(uint16_t);
    case TCS_TBL_FONT:
      return TCS_FONT_BYTES;
  }
  return 0;
}

// A new table of `kind` from the text of a code-page file (null: none).
static void* tcs_load_from(int kind, const std::string_view* text, const char* scheme, const char* file) {
  size_t size = TCSTblSize(kind);
  if (size == 0) return nullptr;
  // Zeroed by calloc: the large Unicode tables are mostly empty (the
  // double-byte ones entirely so without their sections), and fresh zero
  // pages cost no memory until something is written to them.
  void* table = calloc(1, size);
  if (table == nullptr) return nullptr;
  std::vector<Entry> entries;
  if (text != nullptr && scheme != nullptr && *scheme != 0) {
    std::string section = scheme;
    if (!tcs_scheme_has_extension(section)) section += tcs_suffix(kind);
    entries = tcs_section_entries(*text, section);
    if (entries.empty()) TE_Trace(TRACE_SESSION, "TCSLoadTbl: no table [%s] in %s\n", section.c_str(), file);
  }
  if (entries.empty()) {
    tcs_fill_defaults(kind, table);
  } else {
    tcs_apply(kind, table, entries);
  }
  return table;
}

void* TCSLoadTbl(int kind, const char* file, const char* scheme) {
  if (TCSTblSize(kind) == 0) return nullptr;
  const std::string* text = nullptr;
  if (file != nullptr && *file != 0 && scheme != nullptr && *scheme != 0) {
    std::string name = file;
    if (!tcs_file_has_extension(name)) name += ".dat";
    text = tcs_file_text(name);
  }
  std::string_view view = text ? std::string_view(*text) : std::string_view();
  return tcs_load_from(kind, text ? &view : nullptr, scheme, file);
}

void* TCSLoadTblIfPresent(int kind, const char* file, const char* scheme) {
  if (TCSTblSize(kind) == 0 || file == nullptr || *file == 0 || scheme == nullptr || *scheme == 0) return nullptr;
  std::string name = file;
  if (!tcs_file_has_extension(name)) name += ".dat";
  const std::string* text = tcs_file_text(name);
  if (text == nullptr) return nullptr;
  std::string section = scheme;
  if (!tcs_scheme_has_extension(section)) section += tcs_suffix(kind);
  if (tcs_section_entries(*text, section).empty()) return nullptr;
  std::string_view view(*text);
  return tcs_load_from(kind, &view, scheme, file);
}

void* TCSLoadTblText(int kind, const char* text, size_t length, const char* scheme) {
  std::string_view view(text ? text : "", text ? std::min(length, kMaxFileBytes) : 0);
  return tcs_load_from(kind, &view, scheme, "(text)");
}

void TCSFreeTbl(void* table) {
  free(table);
}
