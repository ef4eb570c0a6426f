// LumDict: the settings dictionary of a session, typed getters and setters
// over the INI-style text of dictionary.h.  Getters of a missing key return
// 0, false, an empty string or null; without storage every getter returns
// its default and every setter does nothing.  Values read back through a
// buffer of DICT_MAX_ENTRY bytes, so at most 1023 bytes of a value.
#pragma once

#include <string>

#include "dictionary.h"

class LumDict {
 public:
  LumDict();                           // empty, capacity 32768
  explicit LumDict(const char* path);  // the file's bytes; no storage if it cannot be opened
  LumDict(const LumDict& other);       // copy of the text and capacity
  LumDict& operator=(const LumDict&) = delete;
  virtual ~LumDict();

  virtual bool isValid() const;
  // Writes the text byte for byte to the file (created or truncated).
  virtual bool saveDict(const char* path);

  // Leading decimal integer of the value (at most 19 bytes considered).
  virtual int intValueForKey(const char* key) const;
  virtual std::string stringValueForKey(const char* key) const;
  // The value, held by the dictionary until the next charValueForKey; null
  // when the key is missing.
  virtual const char* charValueForKey(const char* key);
  // intValueForKey(key) != 0: "1" is true, "yes" and "true" are false.
  virtual bool boolValueForKey(const char* key) const;
  // Leading decimal number of the value (at most 19 bytes considered).
  virtual double floatValueForKey(const char* key) const;

  // Stores the value; a null value removes the key.
  virtual void setStringForKey(const char* key, const char* value);
  virtual void setIntForKey(const char* key, int value);       // "%d"
  virtual void setFloatForKey(const char* key, double value);  // "%g"
  virtual void setBoolForKey(const char* key, bool value);     // "1" or "0"

  // The text as it stands (empty without storage).
  std::string text() const;

 private:
  dictionary* _dict;
  char* _dupString = nullptr;
};
