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
