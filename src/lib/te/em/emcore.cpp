// Creation, reset and destruction of an emulator instance, allocation and
// error reporting, the configured colours and the answer-back text.
#include <cstdlib>
#include <cstring>
#include <string>

#include "em/em.h"
#include "em/teaux.h"
#include "tcs.h"
#include "vid/vid.h"

static int em_failat;  // test seam: countdown to a failing EmAlloc

void EmAllocFailAt(int n) {
  em_failat = n;
}

void* EmAlloc(size_t bytes) {
  if (em_failat > 0 && --em_failat == 0) return nullptr;
  return std::calloc(1, bytes ? bytes : 1);
}

void EmFree(void* p) {
  std::free(p);
}

void EmError(te* t, int code) {
  if (t->hooks.error) t->hooks.error(t, code);
}

void vblink(te* t, int on) {
  t->_blmode = on ? 1 : 0;
  if (t->hooks.blink_timer) t->hooks.blink_timer(t, t->_blmode);
}

static const CHATTR em_numattr[17] = {0,        0x800000, 0x400000, 0x200000, 0x100000, 0x100000,
                                      0xC00000, 0xA00000, 0x900000, 0x600000, 0x500000, 0x300000,
                                      0xE00000, 0xD00000, 0xB00000, 0x700000, 0xF00000};

// Cells of the pages not shown that are in the default attribute `from`
// (never given another by the host) take `to`: the blank alternate screen a
// program switches to without clearing it shows the configured colours,
// not the ones in force when the pages were made.  The page shown is the
// caller's to redraw.
static void em_recolor(te* t, CHATTR from, CHATTR to) {
  from &= CA_ATTRPART;
  to &= CA_ATTRPART;
  if (from == to) return;
  for (int i = 0; i < TE_MAXPAGES; i++) {
    ALTSCREEN* p = t->_pages[i];
    if (!p || i == t->_vcurpage) continue;
    for (CHATTR* c = p->a_vbegscr; c && c < p->a_vendscr; c++)
      if ((*c & CA_ATTRPART) == from && *c) *c = (*c & ~CA_ATTRPART) | to;
  }
}

void initcolors(te* t) {
  const CHATTR before = EmGetDefDefaultAttr(t);
  for (int i = 0; i < 17; i++) {
    if (t->fgcolor[i] && t->bgcolor[i])
      _EmMapColor(t, em_numattr[i], (((t->bgcolor[i] - 1) << 4) | (t->fgcolor[i] - 1)) & 0xFF, 1);
    else if (i != 5)
      _EmMapColor(t, em_numattr[i], -1, 1);
  }
  if (t->teflags & TF_HOSTCOLOR) em_recolor(t, before, EmGetDefDefaultAttr(t));
  if (t->vpages >= 2)
    for (int i = 0; i < TE_MAXPAGES; i++)
      if (t->_pages[i]) t->_pages[i]->a_vcurattr = t->_vcurattr;
}

int EmNew(te* t, int emode) {
  if (t->Lines < 1) t->Lines = 24;
  if (t->Cols < 1) t->Cols = 80;
  t->vlines = t->Lines - t->vstatus;
  if (t->_conf_col132) t->Cols = 132;
  t->vcols = t->Cols;
  std::memcpy(t->userCAT, gstartupCAT, sizeof(CATMAP));
  std::memcpy(t->inuseCAT, gstartupCAT, sizeof(CATMAP));
  t->unicodeContext = UTF8CTX{};
  if (!eminit(t)) return 0;
  crpages(t, t->vpages);
  EmReset(t, emode);
  sbinit(t, t->vscrollback);
  initcolors(t);
  if (t->vpages >= 2) {
    CHATTR v = t->_vcurattr | t->_dimattr | CA_BLANK;
    for (int i = 0; i < TE_MAXPAGES; i++) {
      ALTSCREEN* p = t->_pages[i];
      if (!p || !p->a_vbegscr || i == t->_vcurpage) continue;
      for (CHATTR* c = p->a_vbegscr; c < p->a_vendscr; c++) *c = v;
    }
    for (CHATTR* c = t->_vbegscr; c < t->_vendscr; c++) *c = v;
    vid_touch_rows(t, 0, t->vlines - 1);
  }
  return 1;
}

static void em_freekeys(te* t) {
  for (int i = 0; i < TE_PRGKEYS; i++) {
    EmFree(t->_prgkeys[i]);
    t->_prgkeys[i] = nullptr;
  }
}

void EmReset(te* t, int emode) {
  t->tereload = 0;
  t->XNwrap = 0;
  t->_AMon = t->wrap;
  t->vtabex = 1;
  t->_appcur = t->_appkey = 0;
  t->_bracketpaste = 0;
  t->_cursorstyle = 0;
  t->_kdisable = 0;
  t->_protect = 0;
  t->_dimattr = 0;
  t->_decom = 0;
  t->_vorigin = t->_horigin = 0;
  t->_vinsmode = 0;
  t->_statsupp = 0;
  t->_nrcsmode = 0;
  t->vt = VTCHARSET{};
  t->vt.GR = 1;
  t->_vcharset = 0;
  t->_vbank1 = 4;
  t->_vbank2 = 1;
  t->_prctrl = t->_prdisp = 0;
  t->_prfstate = t->_prfheld = 0;
  t->_prauto = 0;
  t->_ptype = 0;
  t->_prtchar = 256;
  t->_prextent = 1;
  t->_prformfd = 1;
  t->_emstate = 0;
  t->_blokmode = 0;
  t->_vt200mode = 0;
  t->_vtc18out = 0;
  t->_vtfkeyl = 0;
  t->_vtdcson = 0;
  t->_vt52y = 0;
  t->_vnlmode = 0;
  t->revdim = (int)CA_REV;
  t->_protrev = CA_REV;
  t->_vbufline = -1;
  t->_vmaskpar = t->maskpar;
  set132col(t, (t->_conf_col132 ? 1 : 0) | 0x100);
  if (t->col132) vredraw(t);
  t->vbegcol = 0;
  t->vendcol = t->Cols - 1;
  t->_vcurattr = t->_vtsavattr = EmGetDefDefaultAttr(t);
  t->_clearto = CA_BLANK;
  t->_ibmode = 0;
  t->_marky = 99;
  t->_vmonitor = 0;
  t->_venhanced = 1;
  selpage(t, 0, 0);
  t->_vcapslock = 0;
  t->_scanmode = 0;
  t->_vnoscroll = t->noscroll;
  t->_vkbmode = 0;
  if (t->pfnEmProcs && t->pfnEmProcs->eminit) t->pfnEmProcs->eminit(t, emode ? EmName(emode) : nullptr);
  vblink(t, 1);

  if (!t->vextend) {
    int rows = (t->teflags & TF_25ROWS) ? 25 : (t->teflags & TF_24ROWS) ? 24 : t->vlines;
    int cols = t->col132 ? 132 : 80;
    if (rows != t->vlines || cols != t->vcols) _vsetsize(t, rows + t->vstatus, cols, 0, 1);
  }
  vid_region_off(t);
  t->_vscregleft = 0;
  t->_vscregright = t->vcols - 1;
  em_freekeys(t);
  std::memset(t->vlattr, 0, sizeof t->vlattr);
  t->unicodeContext = UTF8CTX{};
  std::memcpy(t->inuseCAT, t->userCAT, sizeof(CATMAP));
  t->_hostfg = t->_hostbg = 0;
  EmSetAttr(t, EmGetDefaultAttr(t));
  std::memset(t->_tabs, 0, sizeof t->_tabs);
  for (int c = 0; c < TE_MAXCOLS; c += 8) t->_tabs[c] = 1;
}

void EmClose(te* t) {
  vblink(t, 0);
  te_aux_close_port(t);
  freepages(t);
  vid_freescreen(t);
  sbfree(t);
  em_freekeys(t);
  void** tables[] = {(void**)&t->EmCPtoTCS,    (void**)&t->EmTCStoCP,      (void**)&t->KbdCPtoTCS,
                     (void**)&t->VidTCStoCP,   (void**)&t->Alt1CPtoTCS,    (void**)&t->Alt2CPtoTCS,
                     (void**)&t->pVT100SG,     (void**)&t->pVT200DSG,      (void**)&t->pVT200DMN,
                     (void**)&t->Unicode2TCS,  (void**)&t->Unicode2GB2312, (void**)&t->GB23122Unicode,
                     (void**)&t->Unicode2Big5, (void**)&t->Big52Unicode,   (void**)&t->Unicode2SJIS,
                     (void**)&t->SJIS2Unicode};
  for (void** tb : tables) {
    TCSFreeTbl(*tb);
    *tb = nullptr;
  }
  EmFree(t->TCS2Unicode);
  t->TCS2Unicode = nullptr;
  EmFree(t->titleText);
  t->titleText = nullptr;
  t->titleTextLength = t->titleTextSize = 0;
  EmFree(t->wrustr);
  t->wrustr = nullptr;
  t->vlines = 0;
  t->vcols = 0;
  vscreen_invalidate(t);
  // Unloaded: host bytes and keys do nothing until the next TeNew.
  t->pfnEmProcs = nullptr;
  t->teloaded = 0;
}

// ---- answer-back text

static int em_digit(char c, int base) {
  if (c >= '0' && c <= '9') return c - '0' < base ? c - '0' : -1;
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int sl_wru(te* t, const char* text) {
  if (!text) return -1;
  std::string out;
  size_t n = std::strlen(text);
  size_t i = 0;
  while (i < n) {
    char c = text[i];
    if (c != '\\' || i + 1 >= n) {
      out += c;
      i++;
      continue;
    }
    char d = text[i + 1];
    switch (d) {
      case 'r':
        out += '\r';
        i += 2;
        continue;
      case 'n':
        out += '\n';
        i += 2;
        continue;
      case 't':
        out += '\t';
        i += 2;
        continue;
      case 'v':
        out += '\v';
        i += 2;
        continue;
      case 'f':
        out += '\f';
        i += 2;
        continue;
      case 'b':
        out += '\b';
        i += 2;
        continue;
      case 'e':
        out += '\x1b';
        i += 2;
        continue;
      case '$':
      case '^':
      case '"':
      case '\'':
      case '-':
        out += d;
        i += 2;
        continue;
      case '\\':
        if (i + 2 < n && text[i + 2] == '@') {
          out += '@';
          i += 3;
        } else {
          out += '\\';
          i += 2;
        }
        continue;
      default:
        break;
    }
    if (d == 'x' || d == 'X' || (d >= '0' && d <= '9')) {
      // A numeric escape is always the backslash and the next three
      // characters; any non-digit among its digits, or a value above 255,
      // gives the byte 0.
      int base = (d == 'x' || d == 'X') ? 16 : 8;
      size_t first = base == 16 ? i + 2 : i + 1;
      int value = 0;
      bool ok = true;
      for (size_t k = first; k < i + 4; k++) {
        int v = k < n ? em_digit(text[k], base) : -1;
        if (v < 0) {
          ok = false;
          break;
        }
        value = value * base + v;
      }
      if (!ok || value > 255) value = 0;
      out += (char)value;
      i = std::min(i + 4, n);
      continue;
    }
    out += '\\';
    out += d;
    i += 2;
  }
  size_t nul = out.find('\0');
  if (nul != std::string::npos) out.resize(nul);
  char* s = (char*)EmAlloc(out.size() + 1);
  if (!s) return -1;
  std::memcpy(s, out.data(), out.size());
  EmFree(t->wrustr);
  t->wrustr = s;
  return (int)out.size();
}
