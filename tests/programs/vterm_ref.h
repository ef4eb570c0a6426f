// A reference terminal for tests: libvterm (Debian's libvterm) fed the same
// bytes a session's host sent, read back as rows of text, one attribute
// description per cell and the cursor, in the same terms as the cells a
// browser receives from Kavrix (see ScreenCells), so that the two compare
// directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvxtest {

// A screen in comparable terms.  Text: each cell's character as UTF-8,
// the right half of a wide character left out, trailing blanks trimmed.
// Attributes: per row, spans "first-last:FBflags" of equal cells (right
// halves left out), F and B the foreground and background colour in the PC
// order the cells carry (hex digit), flags b (bold) u (underline) k (blink)
// r (reverse) in that order.
struct ComparableScreen {
  std::vector<std::string> text;
  std::vector<std::string> attrs;
  int cursorX = 0, cursorY = 0;
  // The rows that differ from `other`, as readable lines ("" when equal).
  std::string Diff(const ComparableScreen& other, bool withAttrs = true) const;
  std::string Show() const;
};

class VtermRef {
 public:
  VtermRef(int rows, int cols);
  ~VtermRef();
  VtermRef(const VtermRef&) = delete;
  VtermRef& operator=(const VtermRef&) = delete;
  void Feed(const std::string& bytes);
  // With the session's normal colours: default foreground and background
  // as these indexes.
  ComparableScreen Screen(int defaultFg = 7, int defaultBg = 0) const;
  // The exact colours and text styles of each row in te-replay's --colors
  // terms (vid_rowxattrs): spans "first-last:desc" of cells that have any,
  // desc listing fg= and bg= (a palette index 16-255, or #rrggbb; the first
  // sixteen are the cells' own colours), italic, strike, ul-double and
  // ul-curly.  libvterm keeps no dim and no underline colour.
  std::vector<std::string> Colors() const;

 private:
  struct Impl;
  Impl* impl_;
};

// The cells a browser received (Kavrix's 64-bit cells with their Unicode
// value, bit 63 set), in the same terms.
ComparableScreen ScreenCells(const std::vector<uint64_t>& cells, int rows, int cols, int cursorX,
                             int cursorY);

}  // namespace kvxtest
