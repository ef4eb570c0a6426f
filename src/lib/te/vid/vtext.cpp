// Rows as text and attribute spans (see vtext.h).
#include "vid/vtext.h"

#include <cstdio>

#include "tcs_utf8.h"
#include "vid/vid.h"

std::string vid_rowtext(te* t, const CHATTR* row, int cols) {
  std::string out;
  if (!row) return out;
  size_t keep = 0;
  for (int x = 0; x < cols; x++) {
    CHATTR c = row[x];
    if (c == 0) continue;
    uint32_t u = (c & CA_INVIS) ? ' ' : vid_cell_unicode(t, c);
    if (!u) {
      // Without a Unicode table only ASCII is known.
      int tcs = get_tcs(t, c);
      u = (tcs >= 0x220 && tcs < 0x27F) ? (uint32_t)(tcs - 0x200) : '?';
    }
    if (u < 0x20 || (u >= 0x7F && u < 0xA0) || u > 0x10FFFF || (u >= 0xD800 && u < 0xE000)) u = '?';
    TCSUtf8Append(out, u);
    if (u != ' ') keep = out.size();
  }
  out.resize(keep);
  return out;
}

std::string vid_screenrow(te* t, int y) {
  if (y < 0 || y >= t->Lines) return std::string();
  return vid_rowtext(t, t->_vscreen[y], t->vcols);
}

std::string vid_rowattrs(const CHATTR* row, int cols) {
  std::string out;
  int start = 0;
  for (int x = 1; x <= cols; x++) {
    bool differ = x == cols || ((row[x] ^ row[start]) & 0xFFFF0000u);
    if (x < cols && row[x] == 0) differ = false;  // right half of a wide character
    if (!differ) continue;
    char span[48];
    std::snprintf(span, sizeof span, "%s%d-%d:%04X", out.empty() ? "" : " ", start, x - 1,
                  (unsigned)((row[start] >> 16) & 0xFFFF));
    out += span;
    start = x;
  }
  return out;
}
