// Select graphic rendition for the ANSI/VT family: the character-by-
// character reading of the parameter text used by every member outside the
// SCO family, the numeric SCO form, and the ANSI colours, which re-map the
// colour map rather than the attribute.
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
  } else if ((n >= 40 && n <= 47) || n == 49) {
    unsigned bg = n == 49 ? 0u : (unsigned)ISOmap[n - 40];
    sg_remap(t, (normal & 0x87) | (bg << 4), SG_BOLDNOREV, permanent);
  }
}

static void sg_resetmap(te* t) {
  std::memcpy(t->inuseCAT, t->userCAT, sizeof(CATMAP));
  EmSetAttr(t, EmGetDefaultAttr(t));
}

// Reads a number as the C library does (blanks, sign, digits); *len gets
// the characters it spans, at least 1.
static int sg_number(const char* s, size_t* len) {
  const char* p = s;
  while (*p == ' ' || *p == '\t') p++;
  bool neg = false;
  if (*p == '-' || *p == '+') neg = *p++ == '-';
  unsigned v = 0;
  while (*p >= '0' && *p <= '9') v = v * 10u + (unsigned)(*p++ - '0');
  if (len) *len = p > s ? (size_t)(p - s) : 1;
  return (int)(neg ? 0u - v : v);
}

static void sg_apply(te* t) {
  if (t->_vtmpattr == t->_vcurattr) return;
  CHATTR a = EmGetColorBits(t, t->_vtmpattr);
  if (t->teflags & TF_KEEPSELPROT) a = (a & ~CA_SELPROT) | (t->_vcurattr & CA_SELPROT);
  EmSetAttr(t, a);
}

void ansisgr(te* t) {
  const char* s = t->_vtbuf;
  t->_vtmpattr = t->_vcurattr;
  if (s[0] == '<' || s[0] == '=' || s[0] == '>') {
    // One number names a colour; a list is something else (xterm's key
    // modifier setting CSI > 4 ; 2 m) and changes nothing.
    if (std::strchr(s, ';')) return;
    int n = sg_number(s + 1, nullptr);
    if (n >= 40 && n <= 49)
      n -= 40;
    else if (n >= 30 && n <= 39)
      n -= 30;
    if (n <= 9) ansicolor(t, (s[0] == '<' ? 30 : 40) + n, 1);
    return;
  }
  if (s[0] == 0 || s[0] == ';') {
    sg_resetmap(t);
    t->_vtmpattr = t->_vcurattr;
  }
  bool vt100 = t->_vemode & VM_VT100;
  for (size_t i = 0; s[i];) {
    char c = s[i];
    switch (c) {
      case '0':
        sg_resetmap(t);
        t->_vtmpattr = 0;
        i++;
        continue;
      case '1':
        t->_vtmpattr |= CA_BOLD;
        i++;
        continue;
      case '4':
        if (!vt100 && std::isdigit((unsigned char)s[i + 1])) break;
        t->_vtmpattr |= CA_UNDER;
        i++;
        continue;
      case '5':
        t->_vtmpattr |= CA_BLINK;
        i++;
        continue;
      case '7':
        t->_vtmpattr |= CA_REV;
        i++;
        continue;
      case '2':
        switch (s[i + 1]) {
          case 0:
            sg_apply(t);
            return;
          case '2':
            t->_vtmpattr &= ~CA_BOLD;
            break;
          case '4':
            t->_vtmpattr &= ~CA_UNDER;
            break;
          case '5':
            t->_vtmpattr &= ~CA_BLINK;
            break;
          case '7':
            t->_vtmpattr &= ~CA_REV;
            break;
          default:
            break;
        }
        i += 2;
        continue;
      default:
        break;
    }
    // Any other character starts a number: a colour from 30 on, its digits
    // then skipped; below 30 only the character itself is skipped.
    size_t len;
    int n = sg_number(s + i, &len);
    if (n >= 30) {
      ansicolor(t, n, 0);
      i += len;
    } else {
      i++;
    }
  }
  sg_apply(t);
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
