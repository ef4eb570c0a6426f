// Character widths and compositions for the print path (see wcwidth.h).
#include "em/wcwidth.h"

#include "em/wcwidth_tab.h"

template <int N>
static constexpr bool wc_in(const wc_range (&table)[N], uint32_t ucs) {
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

bool wc_zero_char(uint32_t ucs) {
  return wc_in(wc_zero_ranges, ucs);
}

bool wc_wide_char(uint32_t ucs) {
  return wc_in(wc_wide_ranges, ucs);
}

template <int N>
static constexpr wc_bitset wc_buildbits(const wc_range (&table)[N]) {
  wc_bitset bits{};
  for (const auto& r : table)
    for (uint32_t u = r.first; u <= r.last && u < 0x10000; u++) bits.w[u >> 6] |= 1ull << (u & 63);
  return bits;
}

constexpr wc_bitset wc_widebits = wc_buildbits(wc_wide_ranges);
constexpr wc_bitset wc_zerobits = wc_buildbits(wc_zero_ranges);

static constexpr wc_classes wc_buildclasses() {
  wc_classes c{};
  for (uint32_t u = 0; u < 0x10000; u++) {
    uint64_t cls = wc_bit(wc_zerobits, u) ? WC_ZERO : wc_bit(wc_widebits, u) ? WC_WIDE : WC_NARROW;
    c.w[u >> 5] |= cls << ((u & 31) * 2);
  }
  return c;
}
constexpr wc_classes wc_classbits = wc_buildclasses();

int mk_wcwidth(uint32_t ucs) {
  if (ucs == 0) return 0;
  if (ucs < 32 || (ucs >= 0x7F && ucs < 0xA0)) return -1;
  if (wc_zero(ucs)) return 0;
  return wc_wide(ucs) ? 2 : 1;
}

uint32_t wc_compose(uint32_t base, uint32_t mark) {
  // Hangul: an initial and a medial vowel, or a syllable without a final
  // and a final consonant.
  if (base >= 0x1100 && base <= 0x1112 && mark >= 0x1161 && mark <= 0x1175)
    return 0xAC00 + ((base - 0x1100) * 21 + (mark - 0x1161)) * 28;
  if (base >= 0xAC00 && base <= 0xD7A3 && (base - 0xAC00) % 28 == 0 && mark >= 0x11A8 && mark <= 0x11C2)
    return base + (mark - 0x11A7);
  int lo = 0, hi = (int)(sizeof wc_compose_pairs / sizeof wc_compose_pairs[0]) - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    const wc_pair& p = wc_compose_pairs[mid];
    if (p.base == base && p.mark == mark) return p.composed;
    if (p.base < base || (p.base == base && p.mark < mark))
      lo = mid + 1;
    else
      hi = mid - 1;
  }
  return 0;
}
