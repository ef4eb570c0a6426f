// UTF-8 encoding (tcs_utf8.h); the decoders are inline in the header.
#include "tcs_utf8.h"

size_t TCSUtf8Encode(uint32_t cp, char out[4], unsigned rule) {
  if (cp > TCS_UTF8_MAX || (rule == TCS_UTF8_REPLACE_SURROGATES && cp >= 0xD800 && cp <= 0xDFFF))
    cp = TCS_UTF8_REPLACEMENT;
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

void TCSUtf8Append(std::string& out, uint32_t cp, unsigned rule) {
  char bytes[4];
  out.append(bytes, TCSUtf8Encode(cp, bytes, rule));
}
