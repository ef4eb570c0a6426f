// The Wyse 60 family (Wyse 60 and its 25-row form), which keeps
// attributes per character: member selection, the display of its character
// sets, the store of one character, the controls, the byte machine and the
// bulk path for plain text.  Its escape commands are in wy60esc.cpp.
#include <algorithm>
#include <cstring>

#include "em/em.h"
#include "em/keys.h"
#include "em/wy60state.h"
#include "vid/vid.h"

const TEPROC wy60_procs = {wy60emout, wy60emkey, wy60emblk, wy60eminit, wy60emwrite};

// ---- member selection

int wy60eminit(te* t, const char* name) {
  TEFAM& f = t->fam;
  if (name && !EmSelectMember(t, wy60_emlist, name)) return -1;
  t->GetCharSet = nullptr;
  t->GetTCSChar = Wyse60GetTCSChar;
  t->_prformfd = 1;
  t->_vmaskpar = 0;
  t->_vcharset = 0;
  t->_vmonitor = 0;
  std::memset(&f, 0, sizeof f);
  f.statcol = -1;
  f.labelmode = (t->_vemode & W6_WYSE60_25) ? 1 : 0;
  f.bank[1] = WY_SET_PC;
  f.banks = 1;
  t->labels = TELABELS{};
  t->labels.changed = 1;
  if (t->sblockmode) {
    t->_blokmode = 1;
    t->_vnoscroll = 1;
    t->_protect = 1;
  }
  wa_sync(t);
  return 0;
}

void wy60emblk(te* t, int c) {
  wy60emout(t, c);
}

int Wyse60GetTCSChar(te* t, int c) {
  int set = (c >> CA_CSET_SHIFT) & 0xF;
  int b = c & 0xFF;
  if (b & 0x80 || set == 0) return t->EmCPtoTCS ? t->EmCPtoTCS[b] : 0x200 + b;
  if (set == WY_SET_PC) return 0x280 | b;
  if (set == WY_SET_GRAPHICS) return (b & 0x10) ? wy_wygrset[b & 0xF] : 0x220;
  return wy_cptotcs(t, b);
}

// ---- characters

void w6_put(te* t, CHATTR ch) {
  int y = t->vdestline, x = t->vdestcol;
  if (y >= t->vlines) return;
  if (t->_protect && (t->_vscreen[y][x] & CA_PROT)) {
    if (!wy_protmove(t, 1, 0, 1)) {
      vbell(t);
      return;
    }
    y = t->vdestline;
    x = t->vdestcol;
  }
  if (t->pdisptab && !(ch & (CA_TCS | CA_UNI | CA_CSET))) ch = t->pdisptab[ch & 0xFF];
  CHATTR attr = t->_vcurattr | t->_dimattr;
  if (t->_vinsmode) {
    CHATTR saved = t->_vcurattr;
    t->_vcurattr = attr;
    vinsert(t, ch, 1);
    t->_vcurattr = saved;
    if (t->_protect) wy_protmove(t, 1, 0, 1);
    return;
  }
  t->_vscreen[y][x] = attr | ch;
  vid_touch_row(t, y, x, x);
  w5_advance(t);
}

static inline int w6_set(te* t) {
  if (t->_vcharset) return WY_SET_GRAPHICS;
  return t->fam.gset;
}

static void w6_text(te* t, int c) {
  if (c >= 0x80 && t->MBMode == 1 && !t->_vmaskpar) {
    uint32_t cp[2];
    int n = wy_utf8(t, (unsigned)c, cp);
    for (int i = 0; i < n; i++) w6_put(t, ca_from_unicode(cp[i]));
    return;
  }
  if (t->MBMode >= 2) {
    // Double-byte code pages: a lead byte and its trail are stored as
    // they are.
    int lead = t->MBMode == 4 ? 0x80 : 0xA0;
    if (t->_dbcstrail || c > lead) {
      t->_dbcstrail = !t->_dbcstrail;
      w6_put(t, (CHATTR)c);
      return;
    }
  }
  int set = w6_set(t);
  if (t->_vcharset == 2) t->_vcharset = 0;
  w6_put(t, (CHATTR)c | ((CHATTR)set << CA_CSET_SHIFT));
}

static void w6_monitor(te* t, int c) {
  if (c < 0x20 || c == 0x7F)
    w6_put(t, CA_TCS | (CHATTR)(0x200 + c));
  else
    w6_text(t, c);
}

// ---- controls

static void w6_control(te* t, int c) {
  switch (c) {
    case 0x07:
      vbell(t);
      break;
    case 0x08:
      wy_left(t, 1);
      break;
    case 0x09:
      wy_tab(t, 1);
      break;
    case 0x0A:
      wy_linefeed(t, 1);
      break;
    case 0x0B:
      wy_up(t);
      break;
    case 0x0C:
      wy_right(t, 0);
      break;
    case 0x0D:
      wy_cr(t, 1);
      break;
    case 0x12:
      wy_print_start(t, WY_PRINT_UNTIL_DC4, 1);
      break;
    case 0x16:
      wy_down(t);
      break;
    case 0x18:
      if (!t->_venhanced) wy_print_start(t, WY_PRINT_UNTIL_DC4, 0);
      break;
    case 0x1A:
      if (t->_protect)
        wy_clrunprot(t);
      else
        wy_clrall(t, 0);
      break;
    case 0x1B:
      t->fam.st = WY_ESC;
      break;
    case 0x1E:
      wy_home(t, 1);
      break;
    case 0x1F:
      wy_setcur(t, t->vdestline, 0);
      wy_linefeed(t, 0);
      break;
    default:
      break;
  }
}

static void w6_decaddr(te* t, int c) {
  if (wy_decaddr(t, c)) t->fam.st = WY_GROUND;
}

static void w6_byte(te* t, int c) {
  TEFAM& f = t->fam;
  if (f.st != WY_GROUND) f.fullprot = 0;
  switch (f.st) {
    case WY_GROUND:
      if (c < 0x20 || c == 0x7F) {
        if (wy_utf8_break(t)) w6_put(t, ca_from_unicode(0xFFFD));
        wy_keep_fullprot(t, c);
        w6_control(t, c);
        return;
      }
      if (c < 0x80 && wy_utf8_break(t)) w6_put(t, ca_from_unicode(0xFFFD));
      w6_text(t, c);
      return;
    case WY_ESC:
      f.st = WY_GROUND;
      w6_escape(t, c);
      return;
    case WY_ARGS:
      w6_escarg(t, c);
      return;
    case WY_STATUS:
      if (c == 0x1B) {
        f.statcol = -1;
        f.st = WY_ESC;
      } else if (f.statcol < 0) {
        // Label mode swallows the text up to CR.
        if (c == '\r') f.st = WY_GROUND;
      } else if (!wy_status_byte(t, c)) {
        f.st = WY_GROUND;
      }
      return;
    case WY_PROGDIR:
      f.st = WY_PROGSEL;
      if (c == '0' || c == '1' || c == '2') return;
      [[fallthrough]];
    case WY_PROGSEL:
      wy_prog_begin(t, c, 1);
      f.st = c == 0x7F ? WY_GROUND : WY_PROG;
      return;
    case WY_PROG:
      if (!wy_prog_byte(t, c)) f.st = WY_GROUND;
      return;
    case WY_MONITOR:
      if (c == 0x1B)
        f.st = WY_MONESC;
      else
        w6_monitor(t, c);
      return;
    case WY_MONESC:
      if (c == 'X' || c == 'u') {
        f.st = WY_GROUND;
        t->_vmonitor = 0;
        return;
      }
      w6_monitor(t, 0x1B);
      if (c == 0x1B) return;
      f.st = WY_MONITOR;
      w6_monitor(t, c);
      return;
    case WY_DECADDR:
      w6_decaddr(t, c);
      return;
    case WY_ESCC:
      f.st = WY_GROUND;
      w6_escc(t, c);
      return;
    case WY_TOEM:
      if (c == 0x19) f.st = WY_GROUND;
      return;
    default:
      f.st = WY_GROUND;
      return;
  }
}

static inline void w6_in(te* t, int c) {
  c &= 0xFF;
  if (!t->_blokmode && t->_vmaskpar) c &= 0x7F;
  wy_through_printer<w6_byte>(t, c);
}

void wy60emout(te* t, int c) {
  t->fam.fullprot = 0;
  w6_in(t, c);
}

// ---- bulk path

static inline bool w6_fastok(te* t) {
  return t->fam.st == WY_GROUND && !t->_vcharset && !t->_protect && !t->_vinsmode && !t->_prctrl &&
         !t->_vmaskpar && !t->pdisptab && !t->unicodeContext.need && t->MBMode <= 1;
}

static const unsigned char* w6_bulk(te* t, const unsigned char* p, const unsigned char* end) {
  const int y = t->vdestline;
  if (y >= t->vlines) return p;
  CHATTR* row = t->_vscreen[y];
  const CHATTR base = t->_vcurattr | t->_dimattr | ((CHATTR)t->fam.gset << CA_CSET_SHIFT);
  int x = t->vdestcol;
  const int x0 = x;
  int n = wy_ascii_run(p, (int)std::min<ptrdiff_t>(end - p, t->vcols - 1 - x));
  for (int i = 0; i < n; i++) row[x + i] = base | p[i];
  x += n;
  p += n;
  if (x > x0) {
    vid_touch_row(t, y, x0, x - 1);
    wy_setcur(t, y, x);
  }
  return p;
}

void wy60emwrite(te* t, const unsigned char* p, size_t n) {
  t->fam.fullprot = 0;
  const unsigned char* end = p + n;
  while (p < end) {
    if ((unsigned)*p - 0x20u < 0x5Fu && w6_fastok(t)) {
      const unsigned char* q = w6_bulk(t, p, end);
      if (q != p) {
        p = q;
        continue;
      }
    }
    // CR and LF between runs of text, as the byte machine takes them.
    if ((*p == '\r' || *p == '\n') && w6_fastok(t) && !t->_vnlmode) {
      if (*p == '\r') {
        wy_setcur(t, t->vdestline, 0);
      } else {
        if (t->vdestline >= t->vlines - 1) wa_row(t, 0);
        newline(t);
      }
      p++;
      continue;
    }
    w6_in(t, *p++);
  }
}
