// Select graphic rendition for the ANSI/VT family: the list of parameters
// (with xterm's indexed and direct colours, mapped to the nearest of the
// sixteen colours a cell carries) read by every member outside the SCO
// family, the numeric SCO form, and the colours, which re-map the colour
// map rather than the attribute.
#include <cctype>
#include <cstring>

#include "em/ansi.h"
#include "em/em.h"
#include "vid/vid.h"

const int ISOmap[8] = {0, 4, 2, 6, 1, 5, 3, 7};

static void sg_setcolor(te* t, int i, unsigned byte, int permanent) {
  uint32_t c = (uint32_t)(byte & 0xFF) << 24;
  t->inuseCAT[i].color = c;
  if (permanent) t->userCAT[i].color = c;
}

// Every attribute combination gets a colour byte from one base; the bright
// bit is added for the combinations listed in `brightmask` (bit per index).
static void sg_remap(te* t, unsigned base, unsigned brightmask, int permanent) {
  for (int i = 0; i < 16; i++) sg_setcolor(t, i, (brightmask >> i) & 1 ? base | 0x08 : base, permanent);
  EmSetColorAndAttr(t, EmGetColorBits(t, t->_vcurattr));
}

static constexpr unsigned SG_BOLDANY = 0xAAAA;    // every combination with bold
static constexpr unsigned SG_BOLDNOREV = 0x00AA;  // bold, bold+underline/blink, not reverse

void ansicolor(te* t, int n, int permanent) {
  if (t->m_bIgnoreHostColor || n < 30) return;
  unsigned normal = t->inuseCAT[0].color >> 24;
  if ((n >= 30 && n <= 37) || n == 39) {
    unsigned fg = n == 39 ? 7u : (unsigned)ISOmap[n - 30];
    sg_remap(t, (normal & 0xF8) | fg, SG_BOLDANY, permanent);
    if (permanent) t->_hostfg = 0;
  } else if ((n >= 40 && n <= 47) || n == 49) {
    unsigned bg = n == 49 ? 0u : (unsigned)ISOmap[n - 40];
    sg_remap(t, (normal & 0x87) | (bg << 4), SG_BOLDNOREV, permanent);
    if (permanent) t->_hostbg = 0;
  }
}

// Reads a number as the C library does (blanks, sign, digits).
static int sg_number(const char* s) {
  const char* p = s;
  while (*p == ' ' || *p == '\t') p++;
  bool neg = false;
  if (*p == '-' || *p == '+') neg = *p++ == '-';
  unsigned v = 0;
  while (*p >= '0' && *p <= '9') v = v * 10u + (unsigned)(*p++ - '0');
  return (int)(neg ? 0u - v : v);
}

// ---- colours beyond the sixteen

// The sixteen colours as xterm shows them, in ANSI order: what a host that
// sends an indexed or direct colour means by each.
struct sg_rgb {
  int r, g, b;
};
static constexpr sg_rgb kAnsi16[16] = {
    {0, 0, 0},     {205, 0, 0},     {0, 205, 0},     {205, 205, 0},   {0, 0, 238}, {205, 0, 205},
    {0, 205, 205}, {229, 229, 229}, {127, 127, 127}, {255, 0, 0},     {0, 255, 0}, {255, 255, 0},
    {92, 92, 255}, {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

// PC colour index (the cells' order) of ANSI colour 0-15.
static constexpr int sg_pc(int ansi) {
  constexpr int iso[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  return ansi < 8 ? iso[ansi] : iso[ansi - 8] | 8;
}

// PC colour index of the one of the sixteen nearest to an RGB colour.
static constexpr int sg_nearest(int r, int g, int b) {
  int best = 0;
  long bestd = -1;
  for (int i = 0; i < 16; i++) {
    long dr = r - kAnsi16[i].r, dg = g - kAnsi16[i].g, db = b - kAnsi16[i].b;
    long d = dr * dr + dg * dg + db * db;
    if (bestd < 0 || d < bestd) {
      bestd = d;
      best = i;
    }
  }
  return sg_pc(best);
}

// xterm's 256-colour palette (the sixteen, a 6x6x6 cube, 24 greys) mapped
// to the nearest of the sixteen, once at compile time.
struct sg_table256 {
  unsigned char pc[256];
};
static constexpr sg_table256 sg_build256() {
  sg_table256 t{};
  constexpr int level[6] = {0, 95, 135, 175, 215, 255};
  for (int i = 0; i < 16; i++) t.pc[i] = (unsigned char)sg_pc(i);
  for (int i = 16; i < 232; i++) {
    int c = i - 16;
    t.pc[i] = (unsigned char)sg_nearest(level[c / 36], level[(c / 6) % 6], level[c % 6]);
  }
  for (int i = 232; i < 256; i++) {
    int v = 8 + 10 * (i - 232);
    t.pc[i] = (unsigned char)sg_nearest(v, v, v);
  }
  return t;
}
static constexpr sg_table256 kIndexed = sg_build256();

int ansi_color256(int index) {
  return index >= 0 && index < 256 ? kIndexed.pc[index] : -1;
}

int ansi_colorrgb(int r, int g, int b) {
  if (r < 0 || g < 0 || b < 0 || r > 255 || g > 255 || b > 255) return -1;
  return sg_nearest(r, g, b);
}

// ---- the rendition as a list of parameters

// One parameter with its colon-separated sub-parameters; -1 stands for an
// empty one.
struct sg_param {
  int v[8];
  int n;
};
static constexpr int SG_MAXPARAMS = TE_VTBUF / 2 + 1;

// Splits the parameter text; false when it holds anything but digits,
// semicolons and colons (an intermediate makes it another sequence).
static bool sg_parse(const char* s, sg_param* out, int* count) {
  int n = 0;
  sg_param* p = &out[0];
  p->n = 1;
  p->v[0] = -1;
  for (; *s; s++) {
    char c = *s;
    if (c >= '0' && c <= '9') {
      int& v = p->v[p->n - 1];
      if (v < 0) v = 0;
      if (v < 100000) v = v * 10 + (c - '0');
    } else if (c == ';') {
      if (n + 1 >= SG_MAXPARAMS) break;
      p = &out[++n];
      p->n = 1;
      p->v[0] = -1;
    } else if (c == ':') {
      if (p->n < 8) p->v[p->n++] = -1;
    } else {
      return false;
    }
  }
  *count = n + 1;
  return true;
}

static inline int sg_value(int v) {
  return v < 0 ? 0 : v;
}

// Colour of 38/48/58 (a PC colour index, or -1 for none): the colon form
// from the parameter's own sub-parameters, the semicolon form from the
// parameters after it, which it consumes (*i moves onto the last of them).
static int sg_extended(const sg_param* ps, int count, int* i) {
  const sg_param& p = ps[*i];
  if (p.n > 1) {
    int kind = sg_value(p.v[1]);
    if (kind == 5 && p.n >= 3) return ansi_color256(sg_value(p.v[2]));
    if (kind == 2 && p.n >= 5) {
      // 38:2:r:g:b, or 38:2:space:r:g:b with a colour-space identifier.
      int k = p.n >= 6 ? 3 : 2;
      return ansi_colorrgb(sg_value(p.v[k]), sg_value(p.v[k + 1]), sg_value(p.v[k + 2]));
    }
    return -1;
  }
  if (*i + 1 >= count) return -1;
  int kind = sg_value(ps[*i + 1].v[0]);
  int need = kind == 5 ? 2 : kind == 2 ? 4 : 1;
  if (*i + need >= count) {
    *i = count - 1;
    return -1;
  }
  *i += need;
  if (kind == 5) return ansi_color256(sg_value(ps[*i].v[0]));
  if (kind == 2)
    return ansi_colorrgb(sg_value(ps[*i - 2].v[0]), sg_value(ps[*i - 1].v[0]), sg_value(ps[*i].v[0]));
  return -1;
}

// Every attribute combination takes the host's colours where it chose them
// and the user's elsewhere; bold brightens a host foreground of the first
// eight.  Without host colours the user's map is back whole.
static void sg_hostmap(te* t) {
  if (!t->_hostfg && !t->_hostbg) {
    std::memcpy(t->inuseCAT, t->userCAT, sizeof(CATMAP));
    return;
  }
  const uint32_t plain = t->userCAT[0].color != 0xFF000000u ? t->userCAT[0].color : 0x07000000u;
  for (int i = 0; i < 16; i++) {
    const uint32_t user = t->userCAT[i].color != 0xFF000000u ? t->userCAT[i].color : plain;
    unsigned fg = (user >> 24) & 0xF, bg = (user >> 28) & 0xF;
    if (t->_hostfg) {
      fg = (unsigned)t->_hostfg - 1;
      if ((i & 1) && fg < 8) fg |= 8;
    }
    if (t->_hostbg) bg = (unsigned)t->_hostbg - 1;
    t->inuseCAT[i].color = ((bg << 4) | fg) << 24;
  }
}

void ansisgr(te* t) {
  const char* s = t->_vtbuf;
  if (s[0] == '>') return;  // xterm's key modifier options, not a rendition
  if (s[0] == '<' || s[0] == '=') {
    // A permanent colour: one number only.
    if (std::strchr(s, ';')) return;
    int n = sg_number(s + 1);
    if (n >= 40 && n <= 49)
      n -= 40;
    else if (n >= 30 && n <= 39)
      n -= 30;
    if (n <= 9) ansicolor(t, (s[0] == '<' ? 30 : 40) + n, 1);
    return;
  }
  sg_param ps[SG_MAXPARAMS];
  int count = 0;
  if (!sg_parse(s, ps, &count)) return;
  CHATTR a = t->_vcurattr;
  const int fg0 = t->_hostfg, bg0 = t->_hostbg;
  const bool colors = !t->m_bIgnoreHostColor;
  bool reset = false;
  for (int i = 0; i < count; i++) {
    const sg_param& p = ps[i];
    const int v = sg_value(p.v[0]);
    switch (v) {
      case 0:
        reset = true;
        a = 0;
        t->_hostfg = t->_hostbg = 0;
        break;
      case 1:
        a |= CA_BOLD;
        break;
      case 4:
        // 4:0 is no underline; the other styles are drawn as one.
        if (p.n > 1 && sg_value(p.v[1]) == 0)
          a &= ~CA_UNDER;
        else
          a |= CA_UNDER;
        break;
      case 5:
      case 6:
        a |= CA_BLINK;
        break;
      case 7:
        a |= CA_REV;
        break;
      case 8:
        a |= CA_INVIS;
        break;
      case 21:
        a |= CA_UNDER;
        break;
      case 22:
        a &= ~CA_BOLD;
        break;
      case 24:
        a &= ~CA_UNDER;
        break;
      case 25:
        a &= ~CA_BLINK;
        break;
      case 27:
        a &= ~CA_REV;
        break;
      case 28:
        a &= ~CA_INVIS;
        break;
      case 38:
      case 48:
      case 58: {
        int c = sg_extended(ps, count, &i);
        if (c >= 0 && colors && v != 58) (v == 38 ? t->_hostfg : t->_hostbg) = c + 1;
        break;
      }
      case 39:
        if (colors) t->_hostfg = 0;
        break;
      case 49:
        if (colors) t->_hostbg = 0;
        break;
      default:
        if (!colors) break;
        if (v >= 30 && v <= 37) t->_hostfg = sg_pc(v - 30) + 1;
        if (v >= 40 && v <= 47) t->_hostbg = sg_pc(v - 40) + 1;
        if (v >= 90 && v <= 97) t->_hostfg = sg_pc(v - 90 + 8) + 1;
        if (v >= 100 && v <= 107) t->_hostbg = sg_pc(v - 100 + 8) + 1;
        break;
    }
  }
  const bool recolor = reset || t->_hostfg != fg0 || t->_hostbg != bg0;
  if (recolor) sg_hostmap(t);
  if (!recolor && a == t->_vcurattr) return;
  CHATTR next = EmGetColorBits(t, a);
  if (t->teflags & TF_KEEPSELPROT) next = (next & ~CA_SELPROT) | (t->_vcurattr & CA_SELPROT);
  EmSetAttr(t, next);
}

void ansiscosgr(te* t) {
  int np = vtnparms(t);
  CHATTR tmp = 0;
  bool sco = t->_vemode & VM_SCOANSI;
  for (int i = 1; i <= np; i++) {
    int p = vtgetpn(t, i);
    switch (p) {
      case 0:
        EmSetAttr(t, EmGetDefaultAttr(t));
        break;
      case 1:
        tmp |= CA_BOLD;
        break;
      case 2:
        if (sco) {
          unsigned f = (unsigned)vtgetpn(t, i + 1) & 0xF, b = (unsigned)vtgetpn(t, i + 2) & 0xF;
          for (int k = 0; k < 16; k++) sg_setcolor(t, k, (b << 4) | ((k & 1) ? (f | 8) : f), 0);
          EmSetAttr(t, EmGetDefaultAttr(t));
          return;
        }
        ansicolor(t, p, 0);
        break;
      case 3:
        vblink(t, vtgetpn(t, i + 1) != 0);
        return;
      case 4:
        tmp |= CA_UNDER;
        break;
      case 5:
        vblink(t, 1);
        tmp |= CA_BLINK;
        break;
      case 7:
        if (!sco) {
          tmp |= CA_REV;
          break;
        }
        if (i > 1) {
          tmp |= CA_REV;
          break;
        }
        EmSetAttr(t, EmGetDefDefaultAttr(t));
        if (np == 1) {
          tmp |= CA_REV;
          break;
        } else {
          unsigned f = (unsigned)vtgetpn(t, 2) & 0xF;
          unsigned b = np >= 3 ? (unsigned)vtgetpn(t, 3) & 0xF : (t->inuseCAT[0].color >> 28) & 0xF;
          sg_setcolor(t, 8, (b << 4) | f, 0);
          EmSetAttr(t, EmGetDefaultAttr(t));
          return;
        }
      case 8:
        tmp |= CA_INVIS;
        break;
      case 10:
        t->vt.GL = 0;
        break;
      case 11:
        t->vt.GL = 4;
        break;
      case 12:
        t->vt.GL = 5;
        break;
      default:
        ansicolor(t, p, 0);
        break;
    }
  }
  if (tmp) EmSetAttr(t, EmGetColorBits(t, t->_vcurattr | tmp));
}
