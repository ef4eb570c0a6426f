// UTF-8, the one encoder and decoder of the project: a code point into its
// bytes, a decoder fed byte by byte (host data arriving in pieces), and a
// scanner of one sequence in a buffer (bulk paths, whole texts).
//
// The strict rule, Unicode's: a sequence is well formed when its lead is
// C2..DF, E0..EF or F0..F4 and each further byte is 80..BF, except that the
// second byte after E0 is A0..BF (no overlong form), after ED 80..9F (no
// surrogate), after F0 90..BF (no overlong form) and after F4 80..8F (not
// above U+10FFFF).  An ill-formed piece stands for one U+FFFD: a byte that
// starts nothing, or a lead with the well-formed bytes after it up to the
// first byte that does not fit; that byte then starts anew.
//
// The loose rule (TCS_UTF8_LOOSE) takes any continuation bytes after a lead
// of C2..F4, so overlong three- and four-byte forms, surrogates and values
// up to 0x13FFFF pass; the macro player reads its texts so.
//
// The decoding functions are inline: the terminal engines call them per
// byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint32_t TCS_UTF8_REPLACEMENT = 0xFFFD;
constexpr uint32_t TCS_UTF8_MAX = 0x10FFFF;

// Rules of TCSUtf8Scan.
enum : unsigned {
  TCS_UTF8_STRICT = 0,
  TCS_UTF8_LOOSE = 1,
};

// Rules of TCSUtf8Encode and TCSUtf8Append.
enum : unsigned {
  TCS_UTF8_KEEP_SURROGATES = 0,     // D800..DFFF encoded as three bytes (lone UTF-16 halves)
  TCS_UTF8_REPLACE_SURROGATES = 1,  // D800..DFFF become U+FFFD
};

// The bytes of `cp` into `out`; returns their count (1 to 4).  A value above
// U+10FFFF is written as U+FFFD; surrogates as `rule` says.
size_t TCSUtf8Encode(uint32_t cp, char out[4], unsigned rule = TCS_UTF8_KEEP_SURROGATES);
// The same, appended to `out`.
void TCSUtf8Append(std::string& out, uint32_t cp, unsigned rule = TCS_UTF8_KEEP_SURROGATES);

// ---- decoding

// State of a byte-by-byte decoder; zero-initialised it expects a lead byte.
struct TCSUtf8Decoder {
  uint32_t cp;       // bits collected so far
  int need;          // continuation bytes still expected (0: none open)
  unsigned char lo;  // range of the next continuation byte
  unsigned char hi;
};

// Second-byte range after lead `b`, and the number of bytes after it; 0 for
// a byte that starts no sequence (ASCII included).
inline int tcs_utf8_lead(unsigned b, unsigned char* lo, unsigned char* hi) {
  *lo = 0x80;
  *hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) return 1;
  if (b >= 0xE0 && b <= 0xEF) {
    if (b == 0xE0) *lo = 0xA0;
    if (b == 0xED) *hi = 0x9F;
    return 2;
  }
  if (b >= 0xF0 && b <= 0xF4) {
    if (b == 0xF0) *lo = 0x90;
    if (b == 0xF4) *hi = 0x8F;
    return 3;
  }
  return 0;
}

// Feeds one byte (0..255).  Writes what it completes into `out` and returns
// how many code points that is: 0 while a sequence is open, 1 for a
// character, an ASCII byte or a piece that stands for U+FFFD, 2 when an
// open sequence is cut short (U+FFFD) by a byte that is a character or
// ill-formed itself.
inline int TCSUtf8Feed(TCSUtf8Decoder& d, unsigned b, uint32_t out[2]) {
  int n = 0;
  if (d.need) {
    if (b >= d.lo && b <= d.hi) {
      d.cp = (d.cp << 6) | (b & 0x3F);
      d.lo = 0x80;
      d.hi = 0xBF;
      if (--d.need) return 0;
      out[0] = d.cp;
      return 1;
    }
    d.need = 0;
    out[n++] = TCS_UTF8_REPLACEMENT;
  }
  if (b < 0x80) {
    out[n++] = b;
    return n;
  }
  d.need = tcs_utf8_lead(b, &d.lo, &d.hi);
  if (d.need)
    d.cp = b & (0x3Fu >> d.need);
  else
    out[n++] = TCS_UTF8_REPLACEMENT;
  return n;
}

// Closes a sequence left open (the input ends, or something other than
// UTF-8 text comes); true when one was open: its bytes stand for U+FFFD.
inline bool TCSUtf8Break(TCSUtf8Decoder& d) {
  if (!d.need) return false;
  d.need = 0;
  return true;
}

// The answer of TCSUtf8Scan for a sequence of `more` bytes after its lead
// that is not whole and well formed in the `left` bytes from `p`: 0 when
// the buffer ends first, else minus the bytes before the first that does
// not fit.
inline int tcs_utf8_short(const unsigned char* p, ptrdiff_t left, unsigned lo, unsigned hi, int more) {
  for (int k = 1; k <= more; k++) {
    if (k >= left) return 0;
    if (k == 1 ? (p[1] < lo || p[1] > hi) : (p[k] & 0xC0) != 0x80) return -k;
  }
  return 0;  // not reached: the sequence was whole
}

// One sequence at `p` (before `end`):
//   > 0  a whole sequence of that many bytes, its code point in *cp (an
//        ASCII byte is a sequence of 1);
//   = 0  `p` is `end`, or the sequence is well formed so far but `end` cuts
//        it short: more bytes are needed;
//   < 0  ill-formed: the -n bytes from `p` stand for one U+FFFD.
inline int TCSUtf8Scan(const unsigned char* p, const unsigned char* end, uint32_t* cp,
                       unsigned rule = TCS_UTF8_STRICT) {
  // Written out per length, the whole and well-formed case first: the
  // terminal engines' bulk path runs here.
  if (p >= end) return 0;
  const unsigned b = p[0];
  if (b < 0x80) {
    *cp = b;
    return 1;
  }
  const ptrdiff_t left = end - p;
  const bool strict = rule != TCS_UTF8_LOOSE;
  if (b >= 0xC2 && b <= 0xDF) {
    if (left >= 2 && (p[1] & 0xC0) == 0x80) {
      *cp = ((b & 0x1Fu) << 6) | (p[1] & 0x3Fu);
      return 2;
    }
    return tcs_utf8_short(p, left, 0x80, 0xBF, 1);
  }
  if (b >= 0xE0 && b <= 0xEF) {
    const unsigned lo = strict && b == 0xE0 ? 0xA0 : 0x80, hi = strict && b == 0xED ? 0x9F : 0xBF;
    if (left >= 3 && p[1] >= lo && p[1] <= hi && (p[2] & 0xC0) == 0x80) {
      *cp = ((b & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
      return 3;
    }
    return tcs_utf8_short(p, left, lo, hi, 2);
  }
  if (b >= 0xF0 && b <= 0xF4) {
    const unsigned lo = strict && b == 0xF0 ? 0x90 : 0x80, hi = strict && b == 0xF4 ? 0x8F : 0xBF;
    if (left >= 4 && p[1] >= lo && p[1] <= hi && (p[2] & 0xC0) == 0x80 && (p[3] & 0xC0) == 0x80) {
      *cp = ((b & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
      return 4;
    }
    return tcs_utf8_short(p, left, lo, hi, 3);
  }
  return -1;
}
