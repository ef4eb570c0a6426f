// Deterministic byte streams of the kinds a terminal sees: prose, a coloured
// listing, a full-screen editor repainting, UTF-8 heavy text, and hostile
// noise built from sequence fragments.
#pragma once

#include <cstdint>
#include <string>

// Appends pieces (text or numbers) to a string.
inline void corpus_put(std::string&) {}
template <typename... Rest>
void corpus_put(std::string& out, const char* s, const Rest&... rest);
template <typename... Rest>
void corpus_put(std::string& out, int v, const Rest&... rest);
template <typename... Rest>
void corpus_put(std::string& out, const std::string& s, const Rest&... rest) {
  out += s;
  corpus_put(out, rest...);
}
template <typename... Rest>
void corpus_put(std::string& out, const char* s, const Rest&... rest) {
  out += s;
  corpus_put(out, rest...);
}
template <typename... Rest>
void corpus_put(std::string& out, int v, const Rest&... rest) {
  out += std::to_string(v);
  corpus_put(out, rest...);
}

class Corpus {
 public:
  explicit Corpus(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}

  uint32_t next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return (uint32_t)(s_ >> 11);
  }
  int pick(int n) { return (int)(next() % (uint32_t)n); }

  std::string prose(size_t size) {
    static const char* words[] = {"the",  "terminal", "screen", "of",  "cells",   "host",
                                  "line", "scrolls",  "and",    "a",   "printer", "wraps",
                                  "at",   "column",   "eighty", "text"};
    std::string out;
    while (out.size() < size) {
      size_t len = 0, want = 20 + pick(70);
      while (len < want) {
        std::string w = words[pick(16)];
        corpus_put(out, w, " ");
        len += w.size() + 1;
      }
      out += "\r\n";
    }
    return out;
  }

  std::string listing(size_t size) {
    static const char* colours[] = {"01;34", "01;32", "01;36", "00", "01;35", "40;33;01"};
    std::string out;
    while (out.size() < size) {
      out += pick(2) ? "drwxr-xr-x" : "-rw-r--r--";
      corpus_put(out, " ", 1 + pick(9), " user group ", pick(100000), " Jan ", 1 + pick(28),
                 " 12:", 10 + pick(50), " ");
      corpus_put(out, "\x1b[", colours[pick(6)], "m", "file", pick(1000), "\x1b[0m");
      if (pick(4) == 0) out += " -> \x1b[01;36mtarget\x1b[0m";
      out += "\r\n";
    }
    return out;
  }

  std::string editor(size_t size, int rows = 24) {
    std::string out = "\x1b[H\x1b[2J";
    while (out.size() < size) {
      switch (pick(6)) {
        case 0:  // scroll the text area by one line
          corpus_put(out, "\x1b[1;", rows - 1, "r\x1b[", rows - 1, ";1H\n\x1b[r");
          break;
        case 1:  // reverse scroll
          corpus_put(out, "\x1b[1;", rows - 1, "r\x1b[H\x1bM\x1b[r");
          break;
        case 2:  // status line
          corpus_put(out, "\x1b[", rows, ";1H\x1b[7m -- INSERT -- line ", pick(999), "\x1b[m\x1b[K");
          break;
        default: {  // repaint a line
          corpus_put(out, "\x1b[", 1 + pick(rows - 1), ";1H\x1b[K");
          out += pick(2) ? "\x1b[1mint\x1b[m " : "    ";
          out += prose(1).substr(0, 10 + pick(60));
          while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
          if (pick(3) == 0) out += "\x1b[33m/* note */\x1b[m";
        }
      }
    }
    return out;
  }

  std::string utf8(size_t size) {
    static const char* pieces[] = {"caf\xc3\xa9 ",
                                   "na\xc3\xafve ",
                                   "\xe4\xb8\xad\xe6\x96\x87",
                                   "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e ",
                                   "e\xcc\x81",
                                   "\xe2\x94\x80\xe2\x94\x82",
                                   "\xf0\x9f\x98\x80",
                                   "\xed\x95\x9c\xea\xb8\x80",
                                   "\xc3\x9f\xc3\xb8 ",
                                   "\xef\xbc\xa1\xef\xbc\xa2"};
    std::string out;
    while (out.size() < size) {
      int n = 5 + pick(25);
      for (int i = 0; i < n; i++) out += pieces[pick(10)];
      out += "\r\n";
    }
    return out;
  }

  std::string hostile(size_t size) {
    static const char* frags[] = {"\x1b",
                                  "[",
                                  "?",
                                  ";",
                                  "1",
                                  "9",
                                  "m",
                                  "H",
                                  "J",
                                  "K",
                                  "r",
                                  "L",
                                  "M",
                                  "@",
                                  "P",
                                  "\x1b[",
                                  "\x1b]0;",
                                  "\x07",
                                  "\x18",
                                  "\x1a",
                                  "\x9b",
                                  "\x90",
                                  "\x9c",
                                  "\x1bP",
                                  "\x1b\\",
                                  "\x1b(0",
                                  "\x1b#6",
                                  "\x1b#8",
                                  "\r",
                                  "\n",
                                  "\t",
                                  "\b",
                                  "\x1bY",
                                  "\x1b"
                                  "c",
                                  "\x1bQ0'",
                                  "\xe4\xb8",
                                  "\xad",
                                  "\xc3",
                                  "\xff",
                                  "\x1b[2J",
                                  "\x1b[5;3r",
                                  "\x1b[3;20r",
                                  "\x1b[99L",
                                  "\x1b[4i",
                                  "\x1b[5i",
                                  "\x1bR",
                                  "\x0e",
                                  "\x0f",
                                  "\x1bN",
                                  "\x1b"
                                  "D",
                                  "\x1bM",
                                  "\x1b"
                                  "7",
                                  "\x1b"
                                  "8",
                                  "wide\xe4\xb8\xad",
                                  "x",
                                  " ",
                                  "\x1b[1;4;7m",
                                  "\x1b[?25l",
                                  "\x1b[=1C",
                                  "\x1b[!p",
                                  "\x1b[2;1;4m",
                                  "\x1b[200C",
                                  "\x1b[300B",
                                  "\x1b[6n",
                                  "\x1b[S",
                                  "\x1b[T",
                                  "\x1b[X",
                                  "\x1b[Z",
                                  "\x1b[g",
                                  "\x1b[3g",
                                  "\x1bH",
                                  "\x1b[z"};
    const int n = (int)(sizeof frags / sizeof frags[0]);
    std::string out;
    while (out.size() < size) {
      if (pick(8) == 0)
        out += (char)pick(256);
      else
        out += frags[pick(n)];
    }
    return out;
  }

  std::string kind(int k, size_t size) {
    switch (k) {
      case 0:
        return prose(size);
      case 1:
        return listing(size);
      case 2:
        return editor(size);
      case 3:
        return utf8(size);
      default:
        return hostile(size);
    }
  }

 private:
  uint64_t s_;
};
