// Colour and attribute maps: the start-up map, permanent and temporary
// re-mapping of an attribute combination, and the helpers that resolve the
// colour bits of a cell attribute from the map in force.
#include "em/em.h"
#include "vid/xattr.h"

const CATMAP gstartupCAT = {
    {0, 0xFF000000u},
    {PA_BOLD, 0xFF000000u},
    {PA_UNDERLINE, 0xFF000000u},
    {PA_BOLD | PA_UNDERLINE, 0xFF000000u},
    {PA_BLINK, 0xFF000000u},
    {PA_BOLD | PA_BLINK, 0xFF000000u},
    {PA_UNDERLINE | PA_BLINK, 0xFF000000u},
    {PA_BOLD | PA_UNDERLINE | PA_BLINK, 0xFF000000u},
    {PA_SWAP, 0xFF000000u},
    {PA_BOLD | PA_SWAP, 0xFF000000u},
    {PA_UNDERLINE | PA_SWAP, 0xFF000000u},
    {PA_BOLD | PA_UNDERLINE | PA_SWAP, 0xFF000000u},
    {PA_BLINK | PA_SWAP, 0xFF000000u},
    {PA_BOLD | PA_BLINK | PA_SWAP, 0xFF000000u},
    {PA_UNDERLINE | PA_BLINK | PA_SWAP, 0xFF000000u},
    {PA_BOLD | PA_UNDERLINE | PA_BLINK | PA_SWAP, 0xFF000000u},
};

// The current attribute takes a new colour when it has the combination
// that was re-mapped.
static bool em_samecombo(te* t, CHATTR attr) {
  const CHATTR mask = CA_COMBO | 0x8000;
  return (t->_vcurattr & mask) == (attr & mask);
}

void _EmMapColor(te* t, CHATTR attr, int bgfg, int permflag) {
  int idx = ca_combo(attr);
  uint32_t c;
  if (bgfg != -1)
    c = ((uint32_t)bgfg & 0xFF) << 24;
  else
    c = permflag ? gstartupCAT[idx].color : t->userCAT[idx].color;
  t->inuseCAT[idx].color = c;
  if (permflag) t->userCAT[idx].color = c;
  if (em_samecombo(t, attr)) EmSetColorAndAttr(t, (t->_vcurattr & ~CA_COLOR) | c);
}

void EmMapColor(te* t, CHATTR attr, int bgfg, int permflag) {
  if (t->m_bIgnoreHostColor) return;
  _EmMapColor(t, attr, bgfg, permflag);
}

void EmMapTextAttr(te* t, CHATTR attr, int pattr, int permflag) {
  int idx = ca_combo(attr);
  uint32_t p;
  if (pattr != -1)
    p = (uint32_t)pattr & 0xFFFFE000u;
  else
    p = permflag ? gstartupCAT[idx].pattr : t->userCAT[idx].pattr;
  t->inuseCAT[idx].pattr = p;
  if (permflag) t->userCAT[idx].pattr = p;
  if (em_samecombo(t, attr)) EmSetColorAndAttr(t, t->_vcurattr);
}

uint32_t EmGetTextAttr(te* t, CHATTR attr) {
  return t->inuseCAT[ca_combo(attr)].pattr;
}

static CHATTR em_colorbits(te* t, const CATMAP& map, CHATTR attr) {
  if (!(t->teflags & TF_HOSTCOLOR)) return attr | CA_COLOR;
  uint32_t c = map[ca_combo(attr)].color;
  if (c == 0xFF000000u) c = map[0].color;
  return (attr & ~CA_COLOR) | c;
}

CHATTR EmGetColorBits(te* t, CHATTR attr) {
  return em_colorbits(t, t->inuseCAT, attr);
}

CHATTR EmGetDefColorBits(te* t, CHATTR attr) {
  return em_colorbits(t, t->userCAT, attr);
}

CHATTR EmCurrentColors(te* t) {
  const int i = ca_xattr(t->_vcurattr);
  if (!i) return 0;
  if (i != t->_xcolorsof) {
    const XATTR* x = xa_get(t, i);
    XATTR colors;
    if (x) {
      colors.fg = x->fg;
      colors.bg = x->bg;
    }
    t->_xcolors = ca_xattr_bits(xa_intern(t, colors));
    t->_xcolorsof = i;
  }
  return t->_xcolors;
}

CHATTR EmGetDefaultAttr(te* t) {
  CHATTR a = EmGetColorBits(t, 0) | EmCurrentColors(t);
  if (t->teflags & TF_KEEPSELPROT) a |= t->_vcurattr & CA_SELPROT;
  return a;
}

CHATTR EmGetDefDefaultAttr(te* t) {
  return EmGetDefColorBits(t, 0);
}

void EmSetAttr(te* t, CHATTR attr) {
  if (!(t->teflags & TF_HOSTCOLOR)) attr |= CA_COLOR;
  EmSetColorAndAttr(t, attr);
}

void EmSetColorAndAttr(te* t, CHATTR attr) {
  int idx = ca_combo(attr);
  if (attr & CA_PROT) idx |= ca_combo(t->_protrev);
  uint32_t p = t->inuseCAT[idx].pattr;
  if ((p & 0xFFFFF000u) == 0xFFFFF000u) p = t->userCAT[idx].pattr;
  t->_vphysattr = p;
  t->_vcurattr = attr & CA_ATTRPART;
}
