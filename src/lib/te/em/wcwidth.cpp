// Character widths for the print path (see wcwidth.h).
#include "em/wcwidth.h"

#include "em/wcwidth_tab.h"

bool wc_combining_char(uint32_t ucs) {
  if (ucs < wc_combining[0].first) return false;
  int lo = 0, hi = (int)(sizeof wc_combining / sizeof wc_combining[0]) - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    if (ucs > wc_combining[mid].last)
      lo = mid + 1;
    else if (ucs < wc_combining[mid].first)
      hi = mid - 1;
    else
      return true;
  }
  return false;
}

int mk_wcwidth(uint32_t ucs) {
  if (ucs == 0) return 0;
  if (ucs < 32 || (ucs >= 0x7F && ucs < 0xA0)) return -1;
  if (wc_combining_char(ucs)) return 0;
  return wc_wide(ucs) ? 2 : 1;
}
