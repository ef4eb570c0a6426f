// Character widths for the print path (see wcwidth.h).
#include "em/wcwidth.h"

#include "em/wcwidth_tab.h"

template <typename Table, int N>
static constexpr bool wc_in(const Table (&table)[N], uint32_t ucs) {
  if (ucs < table[0].first || ucs > table[N - 1].last) return false;
  int lo = 0, hi = N - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    if (ucs > table[mid].last)
      lo = mid + 1;
    else if (ucs < table[mid].first)
      hi = mid - 1;
    else
      return true;
  }
  return false;
}

bool wc_combining_char(uint32_t ucs) {
  return wc_in(wc_combining, ucs);
}

bool wc_wide_char(uint32_t ucs) {
  return wc_in(wc_wide_ranges, ucs) && !wc_in(wc_wide_zero, ucs);
}

static constexpr wc_bitset wc_buildbits() {
  wc_bitset bits{};
  for (const auto& r : wc_wide_ranges)
    for (uint32_t u = r.first; u <= r.last && u < 0x10000; u++) bits.w[u >> 6] |= 1ull << (u & 63);
  for (const auto& z : wc_wide_zero)
    for (uint32_t u = z.first; u <= z.last && u < 0x10000; u++) bits.w[u >> 6] &= ~(1ull << (u & 63));
  return bits;
}

constexpr wc_bitset wc_widebits = wc_buildbits();

int mk_wcwidth(uint32_t ucs) {
  if (ucs == 0) return 0;
  if (ucs < 32 || (ucs >= 0x7F && ucs < 0xA0)) return -1;
  if (wc_combining_char(ucs)) return 0;
  return wc_wide(ucs) ? 2 : 1;
}
