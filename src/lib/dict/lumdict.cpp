// LumDict: typed access to the settings text.
#include "lumdict.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kNumberBuffer = 20;  // 19 bytes of a value are considered for numbers

}  // namespace

LumDict::LumDict() : _dict(DictCreate(DICT_DEFAULT_CAPACITY)) {}

LumDict::LumDict(const char* path) : _dict(DictCreate(DICT_DEFAULT_CAPACITY)) {
  if (!DictReadFile(_dict, path)) {
    DictClose(_dict);
    _dict = nullptr;
  }
}

LumDict::LumDict(const LumDict& other) : _dict(DictCopy(other._dict)) {}

LumDict::~LumDict() {
  DictClose(_dict);
  free(_dupString);
}

bool LumDict::isValid() const {
  return _dict != nullptr;
}

bool LumDict::saveDict(const char* path) {
  return DictWriteFile(_dict, path);
}

int LumDict::intValueForKey(const char* key) const {
  char buf[kNumberBuffer];
  if (DictGetValue(_dict, nullptr, key, "", buf, sizeof buf) == 0) return 0;
  errno = 0;
  long long v = strtoll(buf, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

std::string LumDict::stringValueForKey(const char* key) const {
  char buf[DICT_MAX_ENTRY];
  DictGetValue(_dict, nullptr, key, "", buf, sizeof buf);
  return buf;
}

const char* LumDict::charValueForKey(const char* key) {
  free(_dupString);
  _dupString = nullptr;
  char buf[DICT_MAX_ENTRY];
  if (DictGetValue(_dict, nullptr, key, nullptr, buf, sizeof buf) == 0) return nullptr;
  _dupString = strdup(buf);
  return _dupString;
}

bool LumDict::boolValueForKey(const char* key) const {
  return intValueForKey(key) != 0;
}

double LumDict::floatValueForKey(const char* key) const {
  char buf[kNumberBuffer];
  if (DictGetValue(_dict, nullptr, key, "", buf, sizeof buf) == 0) return 0;
  // Decimal only: sign, digits, a fraction and an exponent (no hexadecimal,
  // infinity or NaN forms).
  const char* p = buf;
  while (*p == ' ' || *p == '\t') p++;
  const char* start = p;
  if (*p == '+' || *p == '-') p++;
  if (!isdigit(static_cast<unsigned char>(*p)) && !(*p == '.' && isdigit(static_cast<unsigned char>(p[1])))) {
    return 0;
  }
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return 0;
  return strtod(start, nullptr);
}

void LumDict::setStringForKey(const char* key, const char* value) {
  DictSetValue(_dict, nullptr, key, value);
}

void LumDict::setIntForKey(const char* key, int value) {
  char text[16];
  snprintf(text, sizeof text, "%d", value);
  setStringForKey(key, text);
}

void LumDict::setFloatForKey(const char* key, double value) {
  char text[32];
  snprintf(text, sizeof text, "%g", value);
  setStringForKey(key, text);
}

void LumDict::setBoolForKey(const char* key, bool value) {
  setStringForKey(key, value ? "1" : "0");
}

std::string LumDict::text() const {
  if (_dict == nullptr) return std::string();
  return std::string(_dict->rb.buf, _dict->rb.size);
}
