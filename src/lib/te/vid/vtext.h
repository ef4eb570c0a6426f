// Screen rows as UTF-8 text and as attribute spans: what te-replay prints
// and what tests compare.
#pragma once

#include <string>

#include "te/terec.h"

// Text of a row of cells: the character each cell shows (a blank for
// invisible cells, nothing for the right half of a wide character, '?' for
// a control or unknown character), trailing blanks trimmed.
std::string vid_rowtext(te* t, const CHATTR* row, int cols);
// Text of screen row y.
std::string vid_screenrow(te* t, int y);
// Spans "first-last:XXXX" of equal attribute bits 16-31 (hex) of a row.
std::string vid_rowattrs(const CHATTR* row, int cols);
// Spans "first-last:desc" of equal extended attributes (exact colours and
// text styles) of a row, the spans without any left out.  desc lists
// fg=, bg=, ul= (the underline colour: a palette index, or #rrggbb) and the
// styles dim, italic, strike, ul-double, ul-curly, ul-dotted, ul-dashed,
// comma-separated; right halves of wide characters go with their left.
std::string vid_rowxattrs(te* t, const CHATTR* row, int cols);
// The description of one cell's extended attribute ("" for none).
std::string vid_xattrtext(te* t, CHATTR cell);
