// Select graphic rendition for the ANSI/VT family: the list of parameters
// read by every member outside the SCO family (xterm's indexed and direct
// colours kept exactly, with the nearest of the sixteen in the cell's own
// colour fields; dim, italic, strike-through, the underline's forms and
// colour), the numeric SCO form, and the colours, which re-map the colour
// map rather than the attribute.
#include <cctype>
#include <cstring>

#include "em/ansi.h"
#include "em/em.h"
#include "vid/vid.h"
#include "vid/xattr.h"

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

// Every attribute combination takes the host's colours where it chose them
// and the user's elsewhere; bold brightens a host foreground of the first
// eight.  Without host colours the user's map is back whole.
static void sg_hostmap(te* t) {
  if (!t->_hostfg && !t->_hostbg) {
    std::memcpy(t->inuseCAT, t->userCAT, sizeof(CATMAP));
    return;
  }
  // Each entry is (user colour & keep) | set, set differing for bold.
  uint32_t keep = 0, set = 0, setBold = 0;
  if (t->_hostfg) {
    const uint32_t fg = (uint32_t)t->_hostfg - 1;
    set = fg << 24;
    setBold = (fg < 8 ? fg | 8 : fg) << 24;
  } else {
    keep = 0x0F000000u;
  }
  if (t->_hostbg) {
    const uint32_t bg = (uint32_t)(t->_hostbg - 1) << 28;
    set |= bg;
    setBold |= bg;
  } else {
    keep |= 0xF0000000u;
  }
  const uint32_t plain = t->userCAT[0].color != 0xFF000000u ? t->userCAT[0].color : 0x07000000u;
  for (int i = 0; i < 16; i += 2) {
    uint32_t u0 = t->userCAT[i].color, u1 = t->userCAT[i + 1].color;
    t->inuseCAT[i].color = ((u0 != 0xFF000000u ? u0 : plain) & keep) | set;
    t->inuseCAT[i + 1].color = ((u1 != 0xFF000000u ? u1 : plain) & keep) | setBold;
  }
}

// The number at *p (-1 when there is none), moving *p past it.
static inline int sg_param(const char** p) {
  const char* q = *p;
  if (*q < '0' || *q > '9') return -1;
  int v = 0;
  for (; *q >= '0' && *q <= '9'; q++)
    if (v < 100000) v = v * 10 + (*q - '0');
  *p = q;
  return v;
}

// The exact colour of 38/48/58 in the colon form from its sub-parameters
// (kind, then an index or r:g:b, the latter perhaps after a colour-space
// identifier), or XC_NONE.
static uint32_t sg_colonform(const int* sub, int n) {
  auto value = [](int v) { return v < 0 ? 0 : v; };
  int kind = n > 0 ? value(sub[0]) : -1;
  if (kind == 5 && n >= 2 && value(sub[1]) < 256) return xc_indexed(value(sub[1]));
  if (kind == 2 && n >= 4) {
    int k = n >= 5 ? 2 : 1;
    int r = value(sub[k]), g = value(sub[k + 1]), b = value(sub[k + 2]);
    if (r <= 255 && g <= 255 && b <= 255) return xc_rgb(r, g, b);
  }
  return XC_NONE;
}

// The nearest of the sixteen (PC index) to an exact colour; -1 for none.
static int sg_nearest16(uint32_t c) {
  if ((c & XC_KIND) == XC_INDEXED) return ansi_color256((int)(c & 0xFF));
  if ((c & XC_KIND) == XC_RGB) return ansi_colorrgb((int)(c >> 16 & 0xFF), (int)(c >> 8 & 0xFF), (int)(c & 0xFF));
  return -1;
}

// The underline form of 4:n (1 plain, 2 double, 3 curly, 4 dotted, 5
// dashed).
static uint32_t sg_ulform(int n) {
  switch (n) {
    case 2:
      return XS_UL_DOUBLE;
    case 3:
      return XS_UL_CURLY;
    case 4:
      return XS_UL_DOTTED;
    case 5:
      return XS_UL_DASHED;
    default:
      return 0;
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
  // Only numbers, semicolons and colons: an intermediate makes it another
  // sequence.
  for (const char* q = s; *q; q++)
    if ((*q < '0' || *q > '9') && *q != ';' && *q != ':') return;

  CHATTR a = t->_vcurattr;
  const int fg0 = t->_hostfg, bg0 = t->_hostbg;
  const bool colors = !t->m_bIgnoreHostColor;
  // The exact colours and the styles: those of the current attribute, to
  // be changed below.  A member without host colours keeps the styles only.
  const XATTR* cur = xa_get(t, ca_xattr(a));
  const XATTR x0 = cur ? *cur : XATTR{};
  XATTR x = x0;
  const bool exact = colors && (t->teflags & TF_HOSTCOLOR);
  bool reset = false;
  // 38, 48 or 58 in the semicolon form takes the parameters after it: the
  // kind (5 or 2), then an index or r;g;b.
  int ext = 0, extn = 0, extv[4] = {0, 0, 0, 0};
  for (const char* p = s;;) {
    const int v = sg_param(&p);
    int sub[8], nsub = 0;
    while (*p == ':') {
      p++;
      int w = sg_param(&p);
      if (nsub < 8) sub[nsub++] = w;
    }
    const int n = v < 0 ? 0 : v;
    uint32_t color = XC_NONE;
    int target = 0;
    if (ext) {
      extv[extn++] = n;
      const int kind = extv[0], need = kind == 5 ? 2 : kind == 2 ? 4 : 1;
      if (extn == need) {
        if (kind == 5 && extv[1] < 256) color = xc_indexed(extv[1]);
        if (kind == 2 && extv[1] <= 255 && extv[2] <= 255 && extv[3] <= 255)
          color = xc_rgb(extv[1], extv[2], extv[3]);
        target = ext;
        ext = 0;
      }
    } else {
      switch (n) {
        case 0:
          reset = true;
          a = 0;
          t->_hostfg = t->_hostbg = 0;
          x = XATTR{};
          break;
        case 1:
          a |= CA_BOLD;
          break;
        case 2:
          x.style |= XS_DIM;
          break;
        case 3:
          x.style |= XS_ITALIC;
          break;
        case 4:
          // 4:0 is no underline; 4:1 to 4:5 its forms.
          x.style &= ~XS_UL;
          if (nsub > 0 && sub[0] <= 0) {
            a &= ~CA_UNDER;
          } else {
            a |= CA_UNDER;
            if (nsub > 0) x.style |= sg_ulform(sub[0]);
          }
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
        case 9:
          x.style |= XS_STRIKE;
          break;
        case 21:
          // Double underline; the Linux console's own meaning is the plain one.
          a |= CA_UNDER;
          x.style = (x.style & ~XS_UL) | ((t->_vemode & VM_LINUX) ? 0u : (uint32_t)XS_UL_DOUBLE);
          break;
        case 22:
          a &= ~CA_BOLD;
          x.style &= ~XS_DIM;
          break;
        case 23:
          x.style &= ~XS_ITALIC;
          break;
        case 24:
          a &= ~CA_UNDER;
          x.style &= ~XS_UL;
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
        case 29:
          x.style &= ~XS_STRIKE;
          break;
        case 38:
        case 48:
        case 58:
          if (nsub > 0) {
            color = sg_colonform(sub, nsub);
            target = n;
          } else {
            ext = n;
            extn = 0;
          }
          break;
        case 39:
          if (colors) t->_hostfg = 0;
          x.fg = XC_NONE;
          break;
        case 49:
          if (colors) t->_hostbg = 0;
          x.bg = XC_NONE;
          break;
        case 59:
          x.ul = XC_NONE;
          break;
        default:
          if (!colors) break;
          if ((n >= 30 && n <= 37) || (n >= 90 && n <= 97)) {
            t->_hostfg = sg_pc(n < 90 ? n - 30 : n - 90 + 8) + 1;
            x.fg = XC_NONE;
          }
          if ((n >= 40 && n <= 47) || (n >= 100 && n <= 107)) {
            t->_hostbg = sg_pc(n < 100 ? n - 40 : n - 100 + 8) + 1;
            x.bg = XC_NONE;
          }
          break;
      }
    }
    if (color != XC_NONE && colors) {
      if (target == 58) {
        x.ul = color;
      } else {
        // The cell's own field takes the nearest of the sixteen; the exact
        // colour goes with it, unless it is one of the sixteen.
        const bool sixteen = (color & XC_KIND) == XC_INDEXED && (color & 0xFF) < 16;
        (target == 38 ? t->_hostfg : t->_hostbg) = sg_nearest16(color) + 1;
        (target == 38 ? x.fg : x.bg) = sixteen ? XC_NONE : color;
      }
    }
    if (*p != ';') break;
    p++;
  }
  if (!exact) x.fg = x.bg = x.ul = XC_NONE;
  const bool recolor = reset || t->_hostfg != fg0 || t->_hostbg != bg0;
  if (recolor) sg_hostmap(t);
  if (!(x == x0)) a = (a & ~CA_XATTR) | ca_xattr_bits(t->xattrs ? xa_intern(t, x) : 0);
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
