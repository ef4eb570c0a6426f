// A 3270 display station for the engine's tests: host records in, screen
// text, cells and replies out.
#pragma once

#include <string>
#include <vector>

#include "te3270/te3270.h"

struct T3270 {
  te3270* t;
  explicit T3270(int emode = 1) {
    t = TE3270Init(nullptr, nullptr, emode);
    t->online = true;
  }
  ~T3270() { TE3270Destroy(t); }
  T3270(const T3270&) = delete;
  T3270& operator=(const T3270&) = delete;

  void host(const std::vector<uint8_t>& rec) { DataFromNetwork(t, rec.data(), (int)rec.size(), 1); }
  void key(int fcn, int code = 0) { te3270_key(t, fcn, code); }
  void type(const std::string& s) {
    for (unsigned char c : s) key(FCN_CHARACTER, te3270_unicode_to_ebcdic(0, c));
  }

  // Row r of the screen as shown (from the window).
  std::string row(int r) const {
    std::string all = te3270_screen_text(t);
    size_t pos = 0;
    for (int i = 0; i < r; i++) pos = all.find('\n', pos) + 1;
    return all.substr(pos, all.find('\n', pos) - pos);
  }
  // Window attribute byte, flags and colours of screen cell (r, c).
  int wattr(int r, int c) const { return fws_xgetattr(t, t->NumberLines - r - 1, c) & 0x7F; }
  int wflags(int r, int c) const { return fws_xgetflags(t, t->NumberLines - r - 1, c); }
  COLORREF wfg(int r, int c) const {
    COLORREF fg[FWS_MAXCOLS];
    fws_rowcolors(t, t->NumberLines - r - 1, fg, nullptr, FWS_MAXCOLS);
    return fg[c];
  }

  std::vector<uint8_t> reply() {
    std::vector<uint8_t> r;
    te3270_take_reply(t, r);
    return r;
  }
};

// EBCDIC (code page 037) of an ASCII text.
inline std::vector<uint8_t> ebc(const std::string& s) {
  std::vector<uint8_t> out;
  for (unsigned char c : s) out.push_back((uint8_t)te3270_unicode_to_ebcdic(0, c));
  return out;
}

inline std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The 12-bit code of an address (as a host would send it after SBA).
inline std::vector<uint8_t> addr12(int a) {
  static const uint8_t code[64] = {
      0x40, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0x4A, 0x4B, 0x4C,
      0x4D, 0x4E, 0x4F, 0x50, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9,
      0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x60, 0x61, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6,
      0xE7, 0xE8, 0xE9, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0xF0, 0xF1, 0xF2, 0xF3,
      0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F};
  return {code[(a >> 6) & 0x3F], code[a & 0x3F]};
}
// The 14-bit form.
inline std::vector<uint8_t> addr14(int a) {
  return {(uint8_t)((a >> 8) & 0x3F), (uint8_t)(a & 0xFF)};
}
