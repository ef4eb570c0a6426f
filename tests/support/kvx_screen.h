// A browser's view of a session for end-to-end tests: the screen cells and
// cursor rebuilt from the channel's update and cursor frames, read as text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kvx_test.h"

namespace kvxtest {

struct ScreenModel {
  int rows = 0, cols = 0;
  std::vector<uint64_t> cells;
  int cursorX = -1, cursorY = -1;
  bool cursorVisible = false;
  int updates = 0, cursors = 0, connected = -1;
  std::string lastHeader;
  std::string error;  // first malformed frame

  ScreenModel(int r, int c) : rows(r), cols(c), cells(static_cast<size_t>(r) * c, 0) {}

  // Takes one frame; false (with `error` set) when it does not fit the screen.
  bool Apply(const ChannelFrame& f) {
    if (f.action == KVX_HOST_ACTION_CONNECTED && !f.fields.empty()) connected = f.fields[0] == "1";
    if (f.action == KVX_HOST_ACTION_SET_CURSOR && f.fields.size() == 2) {
      cursors++;
      if (sscanf(f.fields[0].c_str(), "%d:%d", &cursorX, &cursorY) != 2) return Fail("cursor " + f.fields[0]);
      cursorVisible = f.fields[1] == "1";
    }
    if (f.action != KVX_HOST_ACTION_UPDATE) return true;
    updates++;
    if (f.fields.size() != 1) return Fail("update without one field");
    lastHeader = f.fields[0];
    int l, b, r, t;
    if (sscanf(lastHeader.c_str(), "%d:%d:%d:%d", &l, &b, &r, &t) != 4) return Fail("header " + lastHeader);
    if (l < 0 || t < 0 || r < l || b < t || r >= cols || b >= rows) return Fail("region " + lastHeader);
    size_t n = static_cast<size_t>(r - l + 1) * (b - t + 1);
    if (f.data.size() != n * 8) return Fail("data size for " + lastHeader);
    size_t i = 0;
    for (int y = t; y <= b; y++)
      for (int x = l; x <= r; x++, i++) {
        uint64_t v = 0;
        for (int k = 7; k >= 0; k--) v = (v << 8) | static_cast<unsigned char>(f.data[i * 8 + k]);
        cells[static_cast<size_t>(y) * cols + x] = v;
      }
    return true;
  }

  uint64_t Cell(int x, int y) const { return cells[static_cast<size_t>(y) * cols + x]; }

  // Row text: the Unicode value of each cell (ASCII only; others as '?').
  std::string Row(int y) const {
    std::string s;
    for (int x = 0; x < cols; x++) {
      uint64_t v = Cell(x, y);
      uint32_t cp = (v >> 63) ? static_cast<uint32_t>((v >> 32) & 0x7FFFFFFF) : 0;
      s.push_back(cp == 0 ? ' ' : (cp < 0x80 ? static_cast<char>(cp) : '?'));
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }
  std::string Text() const {
    std::string s;
    for (int y = 0; y < rows; y++) s += Row(y) + "\n";
    return s;
  }
  // The row holding `text`, or -1.
  int Find(const std::string& text) const {
    for (int y = 0; y < rows; y++)
      if (Row(y).find(text) != std::string::npos) return y;
    return -1;
  }

 private:
  bool Fail(const std::string& what) {
    if (error.empty()) error = what;
    return false;
  }
};

}  // namespace kvxtest
