// The terminal's table of extended attributes (xattr.h): interning, and
// taking back the entries no cell names any more.
#include "vid/xattr.h"

#include <cstring>
#include <new>

#include "em/em.h"

// Room grows from kFirst entries to the CA_XATTR_MAX that cells can name.
static constexpr int kFirst = 64;
static constexpr int kLimit = CA_XATTR_MAX + 1;
// Once even a collection leaves fewer free entries than this (part of the
// room), rows of the scrollback give up theirs; when the screen alone holds
// that many, new attributes are refused for a while (kRetry of them) before
// the next collection is tried.
static constexpr int kLowWater = kLimit / 8;
static constexpr int kRetry = 1024;

struct XATTRTAB {
  XATTR* e = nullptr;         // e[0] is never used
  uint16_t* slot = nullptr;   // open-addressed hash of the entries in use: index or 0
  uint16_t* freed = nullptr;  // indexes taken back, to be used again
  int cap = 0;                // entries e can hold
  int next = 1;               // the lowest index never used
  int nfree = 0;
  int nslot = 0;  // a power of two, at least twice cap
  int live = 0;   // entries in use
  int last = 0;   // the index interned last (a rendition repeats)
  int refuse = 0;  // new attributes still refused before the next collection
};

static inline uint32_t xa_hash(const XATTR& x) {
  uint64_t h = (uint64_t)x.fg * 0x9E3779B97F4A7C15ull;
  h ^= ((uint64_t)x.bg + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
  h ^= ((uint64_t)x.ul << 7 | x.style) * 0x165667B19E3779F9ull;
  return (uint32_t)(h ^ (h >> 29));
}

const XATTR* xa_get(const te* t, int index) {
  const XATTRTAB* a = t ? t->_xa : nullptr;
  if (!a || index <= 0 || index >= a->next) return nullptr;
  return &a->e[index];
}

int xa_count(const te* t) {
  return t && t->_xa ? t->_xa->live : 0;
}

static void xa_release(XATTRTAB* a) {
  if (!a) return;
  EmFree(a->e);
  EmFree(a->slot);
  EmFree(a->freed);
  delete a;
}

void xa_free(te* t) {
  xa_release(t->_xa);
  t->_xa = nullptr;
  t->_xcolors = 0;
  t->_xcolorsof = 0;
}

// Puts every entry in use (marked, or all below `next` without a mark) into
// a fresh hash.
static void xa_rehash(XATTRTAB* a, const unsigned char* used) {
  std::memset(a->slot, 0, (size_t)a->nslot * sizeof *a->slot);
  const uint32_t mask = (uint32_t)a->nslot - 1;
  for (int i = 1; i < a->next; i++) {
    if (used && !used[i]) continue;
    uint32_t s = xa_hash(a->e[i]) & mask;
    while (a->slot[s]) s = (s + 1) & mask;
    a->slot[s] = (uint16_t)i;
  }
}

// More room (up to kLimit entries); false when there is none to be had.
// Only a table with nothing taken back grows (collections start once it
// cannot grow any more).
static bool xa_grow(XATTRTAB* a) {
  if (a->cap >= kLimit || a->nfree) return false;
  const int cap = a->cap ? a->cap * 2 : kFirst;
  const int nslot = cap * 2;
  XATTR* e = (XATTR*)EmAlloc((size_t)cap * sizeof(XATTR));
  uint16_t* slot = (uint16_t*)EmAlloc((size_t)nslot * sizeof(uint16_t));
  uint16_t* freed = (uint16_t*)EmAlloc((size_t)cap * sizeof(uint16_t));
  if (!e || !slot || !freed) {
    EmFree(e);
    EmFree(slot);
    EmFree(freed);
    return false;
  }
  if (a->e) std::memcpy(e, a->e, (size_t)a->cap * sizeof(XATTR));
  EmFree(a->e);
  EmFree(a->slot);
  EmFree(a->freed);
  a->e = e;
  a->slot = slot;
  a->freed = freed;
  a->cap = cap;
  a->nslot = nslot;
  xa_rehash(a, nullptr);
  return true;
}

// ---- taking entries back

static inline void xa_mark(unsigned char* used, int cap, CHATTR c) {
  const int i = ca_xattr(c);
  if (i > 0 && i < cap) used[i] = 1;
}

static void xa_mark_block(unsigned char* used, int cap, const CHATTR* from, const CHATTR* to) {
  for (const CHATTR* c = from; c && c < to; c++)
    if (*c & CA_XATTR) xa_mark(used, cap, *c);
}

static void xa_mark_all(te* t, unsigned char* used, int cap, bool withScrollback) {
  xa_mark_block(used, cap, t->_vbegscr, t->_vendscr);
  for (int i = 0; i < TE_MAXPAGES; i++) {
    const ALTSCREEN* p = t->_pages[i];
    if (!p) continue;
    xa_mark(used, cap, p->a_vcurattr);
    if (i != t->_vcurpage) xa_mark_block(used, cap, p->a_vbegscr, p->a_vendscr);
  }
  const scrollback* sb = t->_sb;
  if (sb && sb->sbbegscr) {
    xa_mark(used, cap, sb->sbsavattr);
    if (withScrollback)
      xa_mark_block(used, cap, sb->sbbegscr, sb->sbbegscr + (size_t)sb->sblinemax * (size_t)sb->sbcolmax);
  }
  const CHATTR kept[] = {t->_vcurattr, t->_vtsavattr, t->_dimattr, t->_protrev, t->_clearto, t->_vtmpattr,
                         t->_vflgattr, t->BlinkAttr,  t->savmattr, t->savsattr, t->_xcolors};
  for (CHATTR c : kept) xa_mark(used, cap, c);
}

// The scrollback's rows keep their sixteen colours only.
static void xa_strip_scrollback(te* t) {
  scrollback* sb = t->_sb;
  if (!sb || !sb->sbbegscr) return;
  CHATTR* end = sb->sbbegscr + (size_t)sb->sblinemax * (size_t)sb->sbcolmax;
  for (CHATTR* c = sb->sbbegscr; c < end; c++) *c &= ~CA_XATTR;
}

static void xa_sweep(XATTRTAB* a, const unsigned char* used) {
  a->nfree = 0;
  a->live = 0;
  for (int i = 1; i < a->next; i++) {
    if (used[i]) {
      a->live++;
      continue;
    }
    a->e[i] = XATTR{};
    a->freed[a->nfree++] = (uint16_t)i;
  }
  xa_rehash(a, used);
  a->last = 0;
}

static void xa_collect_now(te* t, bool withScrollback) {
  XATTRTAB* a = t->_xa;
  unsigned char* used = (unsigned char*)EmAlloc((size_t)a->cap);
  if (!used) return;
  xa_mark_all(t, used, a->cap, withScrollback);
  xa_sweep(a, used);
  EmFree(used);
  t->_xcolorsof = 0;  // an index may name another entry from now on
}

void xa_collect(te* t) {
  if (t->_xa) xa_collect_now(t, true);
}

// Room for one more entry: grown, taken back, or (past the low water) made
// by the scrollback.  False when the attribute is to be refused.
static bool xa_room(te* t) {
  XATTRTAB* a = t->_xa;
  if (a->nfree > 0 || a->next < a->cap) return true;
  if (xa_grow(a)) return true;
  if (a->refuse > 0) {
    a->refuse--;
    return false;
  }
  xa_collect_now(t, true);
  if (a->nfree < kLowWater) {
    xa_strip_scrollback(t);
    xa_collect_now(t, false);
  }
  if (a->nfree == 0) {
    a->refuse = kRetry;
    return false;
  }
  if (a->nfree < kLowWater) a->refuse = kRetry;
  return true;
}

int xa_intern(te* t, const XATTR& x) {
  if (x.empty()) return 0;
  XATTRTAB* a = t->_xa;
  if (!a) {
    a = t->_xa = new (std::nothrow) XATTRTAB;
    if (!a) return 0;
    if (!xa_grow(a)) {
      xa_free(t);
      return 0;
    }
  }
  if (a->last && a->e[a->last] == x) return a->last;
  const uint32_t mask = (uint32_t)a->nslot - 1;
  uint32_t s = xa_hash(x) & mask;
  for (; a->slot[s]; s = (s + 1) & mask)
    if (a->e[a->slot[s]] == x) return a->last = a->slot[s];
  if (!xa_room(t)) return 0;
  // Growing or collecting rebuilt the hash: find the free slot again.
  s = xa_hash(x) & ((uint32_t)a->nslot - 1);
  while (a->slot[s]) s = (s + 1) & ((uint32_t)a->nslot - 1);
  const int i = a->nfree > 0 ? a->freed[--a->nfree] : a->next++;
  a->e[i] = x;
  a->slot[s] = (uint16_t)i;
  a->live++;
  return a->last = i;
}
