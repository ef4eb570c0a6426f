// Settings text storage under LumDict: an INI-style text held in a
// fixed-capacity buffer, searched line by line on every access and rebuilt
// into a new buffer on every store.
//
// Text rules: lines end with LF and CR bytes are dropped when a line is
// read.  Without a section, the first line that begins with '[' is the
// header and every later line is a candidate entry "key = value" (blanks
// around the key and after '=' are skipped; keys compare without regard to
// ASCII case; the first matching line counts).  A '{' in a value opens a
// braced value that runs, across lines, to the next '}'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct rambuffer {
  uint32_t size;     // bytes of text held
  uint32_t maxsize;  // capacity
  uint32_t curpos;   // read/write position
  int modified;      // set by every write, cleared when written to a file
  char* buf;         // maxsize bytes, not NUL-terminated
};

struct dictionary {
  rambuffer rb;
};

constexpr uint32_t DICT_DEFAULT_CAPACITY = 32768;
// Longest entry line a store writes (key, '=', value, LF), and the size of
// the value buffer of LumDict.
constexpr size_t DICT_MAX_ENTRY = 1024;

// A new empty dictionary; a capacity of 0 means DICT_DEFAULT_CAPACITY.
// Null when memory runs out.
dictionary* DictCreate(uint32_t capacity);
void DictClose(dictionary* d);
// Copy of the text and capacity; null for a null dictionary.
dictionary* DictCopy(const dictionary* d);
// Replaces the text with the file's bytes (up to the capacity).
bool DictReadFile(dictionary* d, const char* path);
// Writes the text byte for byte and clears `modified`.
bool DictWriteFile(dictionary* d, const char* path);

// Looks `key` up (in `section`, or with a null section as described above)
// and copies its value into `buf` (at most bufsize - 1 bytes examined; each
// byte of the text examined, dropped or not, uses one).  Returns 0 when the
// key is missing, after copying `def` into `buf`; otherwise the number of
// value bytes, or 1 for an empty value.
int DictGetValue(const dictionary* d, const char* section, const char* key, const char* def, char* buf,
                 size_t bufsize);

// Stores `value` under `key`, or removes the key for a null value.  A found
// entry keeps its place; a new one goes to the end of the section, ahead of
// one final blank line, after a "[(null)]" header when the text has none.
// Only the first line of a value is stored, and a '{' left open is closed,
// so that a value never spills into other entries; a value that makes the
// entry line longer than DICT_MAX_ENTRY is stored empty.  Text beyond the
// capacity is dropped at a line boundary.  False only for a key that cannot
// be stored (empty, too long, or holding '=', CR or LF) or without storage.
bool DictSetValue(dictionary* d, const char* section, const char* key, const char* value);

// Buffer primitives.
void RAMrewind(rambuffer* rb);
// Reads the line at the position (LF included, CR bytes dropped) into
// `line`; false at the end of the text.
bool RAMfgets(rambuffer* rb, std::string& line);
// Writes at the position, extending `size`; what does not fit is dropped.
// Returns the number of bytes written.
size_t RAMfputs(rambuffer* rb, const char* text, size_t len);
size_t RAMfprintf(rambuffer* rb, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Copies `count` lines (CR bytes dropped) from one buffer's position to the
// other's; returns the number copied.
int linecopy(rambuffer* to, rambuffer* from, int count);
