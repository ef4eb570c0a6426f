// Character sets of the ANSI/VT family: the byte-plus-set stored for a
// printable byte (G0-G3, single shifts, SCO fonts), the internal code shown
// for a stored cell on VT100-class and VT200-class members, and the national
// replacement sets.
#include "em/ansi.h"

// The twelve positions a national set replaces.
const unsigned char NRCSChar[12] = {'#', '@', '[', '\\', ']', '^', '_', '`', '{', '|', '}', '~'};

// Replacement bytes (PC character set) of sets 1-13, in NRCSChar order; a
// value equal to the position means no change.
const unsigned char NRCSSets[13][12] = {
    {0x9C, 0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x60, 0x7B, 0x7C, 0x7D, 0x7E},  // 1 British
    {0x9C, 0x25, 0x98, 0xAB, 0xB3, 0x5E, 0x5F, 0x60, 0x22, 0x9F, 0xAC, 0x27},  // 2 Dutch
    {0x23, 0x40, 0x8E, 0x99, 0x8F, 0x9A, 0x5F, 0x82, 0x84, 0x94, 0x86, 0x81},  // 3 Finnish
    {0x9C, 0x85, 0xF8, 0x87, 0x15, 0x5E, 0x5F, 0x60, 0x82, 0x97, 0x8A, 0x22},  // 4 French
    {0x23, 0x85, 0x83, 0x87, 0x88, 0x8C, 0x5F, 0x93, 0x82, 0x97, 0x8A, 0x96},  // 5 French Canadian
    {0x23, 0x15, 0x8E, 0x99, 0x9A, 0x5E, 0x5F, 0x60, 0x84, 0x94, 0x81, 0xE1},  // 6 German
    {0x9C, 0x15, 0xF8, 0x87, 0x82, 0x5E, 0x5F, 0x97, 0x85, 0x95, 0x8A, 0x8D},  // 7 Italian
    {0x23, 0x40, 0x92, 0xED, 0x8F, 0x5E, 0x5F, 0x60, 0x91, 0xED, 0x86, 0x7E},  // 8 Norwegian/Danish
    {0x23, 0x40, 0x41, 0x80, 0x4F, 0x5E, 0x5F, 0x60, 0x61, 0x87, 0x6F, 0x7E},  // 9 Portuguese
    {0x9C, 0x15, 0xAD, 0xA5, 0xA8, 0x5E, 0x5F, 0x60, 0x60, 0xF8, 0xA4, 0x87},  // 10 Spanish
    {0x23, 0x90, 0x8E, 0x99, 0x8F, 0x9A, 0x5F, 0x82, 0x84, 0x94, 0x86, 0x81},  // 11 Swedish
    {0x97, 0x85, 0x82, 0x87, 0x88, 0x8C, 0x8A, 0x93, 0x84, 0x94, 0x81, 0x96},  // 12 Swiss
    {0x23, 0x40, 0x92, 0xED, 0x8F, 0x5E, 0x5F, 0x60, 0x22, 0x9F, 0xAC, 0x27},  // 13 Portuguese
};

static int cs_nrcpos(int b) {
  for (int i = 0; i < 12; i++)
    if (NRCSChar[i] == b) return i;
  return -1;
}

int AnsiGetCharSet(te* t, int c) {
  if (c & (int)CA_TCS) return c;
  int b = c & 0xFF;
  if (t->pdisptab) b = t->pdisptab[b];
  int g;
  if (t->vt.SShift) {
    g = t->vt.SShift == 3 ? 2 : 3;
    t->vt.SShift = 0;
  } else if ((b & 0x80) && (t->teflags & TF_G2G3)) {
    g = t->vt.GR;
  } else {
    g = t->vt.GL;
  }
  int set = (g == 4 || g == 5) ? g : t->vt.CharSet[g & 3];
  return b | ((set & 0xF) << CA_CSET_SHIFT);
}

// Code-page byte to internal code without a table: the built-in mapping.
static int cs_cptotcs(te* t, int b) {
  if (t->EmCPtoTCS) return t->EmCPtoTCS[b & 0xFF];
  return b == 21 ? 757 : 0x200 + b;
}

int Vt100GetTCSChar(te* t, int c) {
  int b = c & 0xFF;
  int set = (c >> CA_CSET_SHIFT) & 0xF;
  if (set == 1 && b == '#') return t->pVT100SG ? t->pVT100SG[125] : 0x23F;
  // Set 2 is line drawing on these members; 15 is what the Linux console
  // (G2/G3 designations, VT100 glyphs) stores for ESC ( 0.
  if ((set == 2 || set == 15) && b >= 0x5F && b <= 0x7F) return t->pVT100SG ? t->pVT100SG[b] : 0x23F;
  if (set == 4 && t->Alt1CPtoTCS) return t->Alt1CPtoTCS[b];
  if (set == 5) {
    // The second SCO font shows the upper half of its table for a byte.
    int i = (b - 0x80) & 0xFF;
    return t->Alt2CPtoTCS ? t->Alt2CPtoTCS[i] : cs_cptotcs(t, i);
  }
  return cs_cptotcs(t, b);
}

int Vt200GetTCSChar(te* t, int c) {
  int b = c & 0xFF;
  int set = (c >> CA_CSET_SHIFT) & 0xF;
  if (b & 0x80) return t->pVT200DMN ? t->pVT200DMN[b & 0x7F] : 0x23F;
  if (b < 0x20) return 0x23F;
  if (set == 0) return 0x200 + b;
  if (set == 14) return t->pVT200DMN ? t->pVT200DMN[b] : 0x23F;
  if (set == 15) return t->pVT200DSG ? t->pVT200DSG[b] : 0x23F;
  if (set >= 1 && set <= 13) {
    int i = cs_nrcpos(b);
    if (i >= 0) return 0x200 + NRCSSets[set - 1][i];
  }
  return 0x200 + b;
}

int VTxxxNRCFromTCS(te* t, int c) {
  int set = t->vt.CharSet[0];
  if (!t->_nrcsmode || set < 1 || set > 13) return c;
  for (int i = 0; i < 12; i++) {
    int r = NRCSSets[set - 1][i];
    if (r != NRCSChar[i] && r == c) return NRCSChar[i];
  }
  return c;
}
