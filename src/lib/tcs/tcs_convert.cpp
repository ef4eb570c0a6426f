// Conversions between host bytes, TCS codes, key notation and Unicode: the
// one-lookup translations, the text helpers and the derived TCS-to-Unicode
// table.
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "keyname.h"
#include "tcs.h"
#include "tetrace.h"

int TCStoCP(int tcs, uint8_t* out, const uint8_t* table) {
  if (table != nullptr && isTCS(tcs)) {
    *out = table[tcs - TCS_FIRST];
    return 1;
  }
  *out = static_cast<uint8_t>(tcs & 0xFF);
  return isHW(tcs) ? 2 : 0;
}

int CPtoTCS(int byte, TCS* out, const TCS* table) {
  if (table != nullptr && isHW(byte)) {
    *out = table[byte];
    return 1;
  }
  *out = static_cast<TCS>(byte);
  return 0;
}

size_t CPAtoTCSA(const char* text, TCS* out, size_t outCap) {
  if (outCap == 0) return 0;
  size_t n = 0;
  for (const char* p = text; p != nullptr && *p && n + 1 < outCap; p++) {
    auto b = static_cast<unsigned char>(*p);
    out[n++] = static_cast<TCS>(isHW(b) ? TCS_FIRST + b : b);
  }
  out[n] = 0;
  return n;
}

bool TCSAtoCPA(const TCS* tcs, char* out, size_t outCap) {
  if (outCap == 0) return false;
  size_t n = 0;
  bool ok = true;
  for (const TCS* p = tcs; p != nullptr && *p; p++) {
    if (!isTCS(*p) && !isHW(*p) && !isCK(*p)) {
      ok = false;
      break;
    }
    if (n + 1 >= outCap) {
      ok = false;
      break;
    }
    out[n++] = static_cast<char>(*p & 0xFF);
  }
  out[n] = 0;
  return ok;
}

size_t TCSlen(const TCS* tcs) {
  size_t n = 0;
  while (tcs != nullptr && tcs[n] != 0) n++;
  return n;
}

namespace {

// Code of one "<...>" token; 0 when it names nothing.
int tcs_token_code(const char* token, size_t len) {
  if (len == 0) return 0;
  if (isdigit(static_cast<unsigned char>(token[0]))) {
    long v = 0;
    for (size_t i = 0; i < len && isdigit(static_cast<unsigned char>(token[i])) && v <= 0x7FFF; i++) {
      v = v * 10 + (token[i] - '0');
    }
    return v <= 0x7FFF ? static_cast<int>(v) : 0;
  }
  if (token[0] == '^') return len > 1 ? token[1] & 0x1F : 0;
  if (len == 3 && strncasecmp(token, "ESC", 3) == 0) return 27;
  int code = keyid(std::string(token, len).c_str());
  return code > 0 && code <= 0x7FFF ? code : 0;
}

int tcs_text_to_tcs(const char* text, TCS* tcs, size_t tcsCap) {
  if (tcsCap == 0) return 0;
  size_t n = 0;
  const char* p = text;
  while (p != nullptr && *p && n + 1 < tcsCap) {
    int code;
    if (*p == '<') {
      const char* start = ++p;
      while (*p && *p != '>') p++;
      code = tcs_token_code(start, static_cast<size_t>(p - start));
      if (*p == '>') p++;
    } else {
      auto b = static_cast<unsigned char>(*p++);
      code = b >= 0x20 && b <= 0x7E ? TCS_FIRST + b : b;
    }
    if (code != 0) tcs[n++] = static_cast<TCS>(code);
  }
  tcs[n] = 0;
  return static_cast<int>(n);
}

// Notation of one code into `piece` (at least 48 bytes).
void tcs_code_text(int c, char* piece, size_t size) {
  if (c == 27) {
    snprintf(piece, size, "<ESC>");
  } else if (isCK(c)) {
    snprintf(piece, size, "<^%c>", c + 64);
  } else if (isHW(c) && c != '<') {
    piece[0] = static_cast<char>(c);
    piece[1] = 0;
  } else if (c >= TCS_TK_FIRST && c <= TCS_VK_LAST && keyid(keyname(c)) == c) {
    snprintf(piece, size, "<%s>", keyname(c));
  } else if (isTCSAscii(c) && c != TCS_FIRST + '<' && c != TCS_FIRST + '|') {
    piece[0] = static_cast<char>(c - TCS_FIRST);
    piece[1] = 0;
  } else {
    snprintf(piece, size, "<%d>", c);
  }
}

int tcs_tcs_to_text(const TCS* tcs, char* text, size_t textCap) {
  if (textCap == 0) return 0;
  size_t len = 0;
  char piece[48];
  for (const TCS* p = tcs; p != nullptr && *p; p++) {
    tcs_code_text(*p, piece, sizeof piece);
    size_t plen = strlen(piece);
    if (len + plen + 1 > textCap) break;
    memcpy(text + len, piece, plen);
    len += plen;
  }
  text[len] = 0;
  return static_cast<int>(len);
}

}  // namespace

int TCSConvert(TCS* tcs, size_t tcsCap, char* text, size_t textCap, int mode) {
  if (mode >= 2) return tcs_text_to_tcs(text, tcs, tcsCap);
  return tcs_tcs_to_text(tcs, text, textCap);
}

void TCSBuildTCS2Unicode(const uint16_t* unicode2tcs, uint16_t* tcs2unicode) {
  memset(tcs2unicode, 0, TCS_TCS2UNI_SIZE * sizeof(uint16_t));
  if (unicode2tcs == nullptr) return;
  for (uint32_t u = 0; u < TCS_UNICODE_SIZE; u++) {
    if (u >= 0xE000 && u <= 0xFBFF) continue;
    uint16_t t = unicode2tcs[u];
    if (t >= TCS_FIRST && t < TCS_FIRST + TCS_TCS2UNI_SIZE)
      tcs2unicode[t - TCS_FIRST] = static_cast<uint16_t>(u);
  }
}

int TCSFromUnicodeKey(const uint16_t* unicode2tcs, int key) {
  int k = key & 0xFFFF;
  if (unicode2tcs != nullptr && unicode2tcs[k] != 0) return unicode2tcs[k];
  return k >= 32 && k <= 255 ? TCS_FIRST + (k & 0xFF) : k & 0xFF;
}

void TCSSetTraceEbcdicTable() {
  static unsigned char table[256];
  const uint16_t* us = TCSEbcdicToUnicode(37);
  for (int i = 0; i < 256; i++)
    table[i] = us[i] >= 0x20 && us[i] < 0x7F ? static_cast<unsigned char>(us[i]) : 0;
  TE_Trace_SetEbcdicTable(table);
}
