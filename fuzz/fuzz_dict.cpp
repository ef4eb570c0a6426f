// Fuzz target of the settings dictionary: an arbitrary text, then a series
// of arbitrary stores, removals and reads, both on the raw text store (with
// a small capacity, so that stores run into it) and through LumDict loaded
// from a file.  After every operation the text stays within its capacity
// and a plain value just stored reads back as itself whenever the text has
// room for it and holds no braced value that could take it in.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dictionary.h"
#include "lumdict.h"

namespace {

void require(bool ok) {
  if (!ok) abort();
}

bool plain(const std::string& s, size_t max) {
  if (s.empty() || s.size() > max) return false;
  for (unsigned char c : s)
    if (!isalnum(c) && c != '_' && c != '.' && c != '-') return false;
  return true;
}

std::string text_of(const dictionary* d) {
  return std::string(d->rb.buf, d->rb.size);
}

const std::string& temp_path() {
  static std::string path = "/tmp/kvx-fuzz-dict-" + std::to_string(getpid()) + ".ini";
  return path;
}

struct Op {
  uint8_t kind;
  std::string key, value;
};

// Records after the text: NUL-separated, each an operation byte, the key,
// a 0x01 byte and the value.
std::vector<Op> parse_ops(const std::string& rest) {
  std::vector<Op> ops;
  size_t pos = 0;
  while (pos < rest.size() && ops.size() < 64) {
    size_t end = rest.find('\0', pos);
    if (end == std::string::npos) end = rest.size();
    std::string rec = rest.substr(pos, end - pos);
    pos = end + 1;
    if (rec.empty()) continue;
    Op op{static_cast<uint8_t>(rec[0]), "", ""};
    size_t sep = rec.find('\x01', 1);
    op.key = rec.substr(1, sep == std::string::npos ? std::string::npos : sep - 1);
    if (sep != std::string::npos) op.value = rec.substr(sep + 1);
    ops.push_back(std::move(op));
  }
  return ops;
}

void raw_op(dictionary* d, const Op& op) {
  const char* section = (op.kind & 8) ? "Sect" : nullptr;
  const uint32_t before = d->rb.size;
  const bool braces = text_of(d).find('{') != std::string::npos;
  char buf[DICT_MAX_ENTRY];
  switch (op.kind % 3) {
    case 0: {
      bool stored = DictSetValue(d, section, op.key.c_str(), op.value.c_str());
      const bool room = before + op.key.size() + op.value.size() + 16 < d->rb.maxsize;
      if (stored && room && !braces && plain(op.key, 64) && plain(op.value, 200)) {
        require(DictGetValue(d, section, op.key.c_str(), nullptr, buf, sizeof buf) ==
                static_cast<int>(op.value.size()));
        require(op.value == buf);
      }
      break;
    }
    case 1:
      DictSetValue(d, section, op.key.c_str(), nullptr);
      break;
    default: {
      size_t size = 1 + (op.kind >> 4) * 64;
      std::vector<char> small(size);
      int n = DictGetValue(d, section, op.key.c_str(), "def", small.data(), size);
      require(n >= 0 && small[size - 1] == 0);
      require(static_cast<size_t>(n) < size || (size == 1 && n == 1));
      if (n == 0) require(strncmp(small.data(), "def", size - 1) == 0);
      break;
    }
  }
  require(d->rb.size <= d->rb.maxsize && d->rb.curpos <= d->rb.size);
}

void lum_op(LumDict& dict, const Op& op) {
  const std::string& k = op.key;
  const bool braces = dict.text().find('{') != std::string::npos;
  const bool checkable =
      !braces && plain(k, 64) && dict.text().size() + k.size() + 240 < DICT_DEFAULT_CAPACITY;
  switch (op.kind % 5) {
    case 0:
      dict.setStringForKey(k.c_str(), op.value.c_str());
      if (checkable && plain(op.value, 200)) require(dict.stringValueForKey(k.c_str()) == op.value);
      break;
    case 1: {
      int v = static_cast<int>(strtol(op.value.c_str(), nullptr, 10));
      dict.setIntForKey(k.c_str(), v);
      if (checkable) require(dict.intValueForKey(k.c_str()) == v);
      break;
    }
    case 2:
      dict.setBoolForKey(k.c_str(), op.value.size() & 1);
      if (checkable) require(dict.boolValueForKey(k.c_str()) == (op.value.size() & 1));
      break;
    case 3:
      dict.setStringForKey(k.c_str(), nullptr);
      break;
    default: {
      const char* v = dict.charValueForKey(k.c_str());
      require(v == nullptr || strlen(v) < DICT_MAX_ENTRY);
      require(dict.stringValueForKey(k.c_str()).size() < DICT_MAX_ENTRY);
      (void)dict.floatValueForKey(k.c_str());
      break;
    }
  }
  require(dict.text().size() <= DICT_DEFAULT_CAPACITY);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint32_t capacity = 64 + 64u * (data[0] % 32);
  std::string all(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t nul = all.find('\0');
  std::string text = all.substr(0, nul);
  std::vector<Op> ops = parse_ops(nul == std::string::npos ? "" : all.substr(nul + 1));

  dictionary* d = DictCreate(capacity);
  require(d != nullptr);
  RAMfputs(&d->rb, text.data(), text.size());
  require(d->rb.size == std::min<size_t>(text.size(), capacity));
  RAMrewind(&d->rb);

  FILE* f = fopen(temp_path().c_str(), "wb");
  require(f != nullptr);
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  LumDict dict(temp_path().c_str());
  require(dict.isValid() && dict.text() == text.substr(0, DICT_DEFAULT_CAPACITY));

  for (const Op& op : ops) {
    raw_op(d, op);
    lum_op(dict, op);
  }
  dictionary* copy = DictCopy(d);
  require(copy && text_of(copy) == text_of(d));
  DictClose(copy);
  DictClose(d);
  return 0;
}
