// The Wyse 50 family's byte machine: member selection, the controls, the
// states that collect escape arguments, status text, programmed keys and
// monitor-mode bytes, the store of one character into a screen whose
// attributes live in attribute cells, the bulk path for runs of plain
// text, and the display of the line-graphics sets.
#include <algorithm>
#include <cstring>

#include "em/em.h"
#include "em/wy50state.h"
#include "em/wyse.h"
#include "vid/vid.h"

const TEPROC wy50_procs = {wy50emout, wy50emkey, wy50emblk, wy50eminit, wy50emwrite};

// ---- member selection

int wy50eminit(te* t, const char* name) {
  TEFAM& f = t->fam;
  if (name && !EmSelectMember(t, wy50_emlist, name)) return -1;
  t->GetCharSet = nullptr;
  t->GetTCSChar = Wyse50GetTCSChar;
  t->_prformfd = 1;
  t->_vcharset = 0;
  t->_vmonitor = 0;
  std::memset(&f, 0, sizeof f);
  f.statcol = -1;
  f.keep = w5_keepmask(t);
  t->labels = TELABELS{};
  t->labels.changed = 1;
  // Start in block mode when configured: no-scroll and protect on (not on
  // the ADM-1, which has no block mode).
  if (t->sblockmode && !(t->_vemode & W5_ADM1)) {
    t->_blokmode = 1;
    t->_vnoscroll = 1;
    t->_protect = 1;
  }
  wa_sync(t);
  return 0;
}

void wy50emblk(te* t, int c) {
  wy50emout(t, c);
}

// ---- display of the graphics sets

// TVI925, TVI950 and WYCOL: by the low nibble (code 0 has no glyph).
static const short w5_tvgrset[16] = {0x220, 0x2C0, 0x2DA, 0x2BF, 0x2D9, 0x2C0, 0x2DA, 0x2BF,
                                     0x2D9, 0x2C5, 0x2B3, 0x2C4, 0x2B4, 0x2C3, 0x2C2, 0x2C1};
// Other members (and the Wyse 60): bytes with bit 4 set, by the low nibble.
const short wy_wygrset[16] = {0x2C2, 0x2C0, 0x2DA, 0x2BF, 0x2C3, 0x2D9, 0x2B3, 0x2DB,
                              0x2C5, 0x2B4, 0x2C4, 0x2B0, 0x2CD, 0x2C1, 0x2BA, 0x2B0};

// A code-page byte as an internal character; what maps to a control shows
// as a blank.
int wy_cptotcs(te* t, int b) {
  int v = t->EmCPtoTCS ? t->EmCPtoTCS[b & 0xFF] : 0x200 + (b & 0xFF);
  return (v >= 0x200 && v < 0x220) || v < 0x200 ? 0x220 : v;
}

int Wyse50GetTCSChar(te* t, int c) {
  int set = (c >> CA_CSET_SHIFT) & 0xF;
  int b = c & 0xFF;
  if (set != WY_SET_GRAPHICS || (b & 0x80))
    return set ? wy_cptotcs(t, b) : (t->EmCPtoTCS ? t->EmCPtoTCS[b] : 0x200 + b);
  int vm = t->_vemode;
  if (vm & (W5_TVI925 | W5_TVI950 | W5_WYCOL)) return w5_tvgrset[b & 0xF];
  if (vm & W5_ADM1) return wy_cptotcs(t, b | 0x80);
  return (b & 0x10) ? wy_wygrset[b & 0xF] : 0x220;
}

// ---- attributes

static const int w5_wycolors[16] = {10, 11, 14, 15, 10, 11, 14, 15, 0, 9, 12, 13, 0, 9, 12, 13};

CHATTR w5_calcattr(te* t, int code) {
  if (t->_vemode & W5_WYCOL) {
    if (code < '0' || code > '?') return EmGetDefaultAttr(t) & CA_COLOR;
    CHATTR a = (CHATTR)w5_wycolors[code & 0xF] << CA_COLOR_SHIFT;
    if (code & 0x4) a |= CA_REV;
    return a;
  }
  if (code & 0x1) return CA_INVIS;
  CHATTR a = 0;
  if (code & 0x2) a |= CA_BLINK;
  if (code & 0x4) a |= CA_REV;
  if (code & 0x8) a |= CA_UNDER;
  if (code & 0x40) a |= CA_BOLD;
  return a;
}

CHATTR w5_keepmask(te* t) {
  return (t->_vemode & W5_WYCOL) ? WY_KEEP_COLOR : WY_KEEP;
}

int w5_wide(te* t) {
  return (t->_vemode & (W5_WYSE50 | W5_WYCOL)) && !t->labels.on;
}

// The attribute in effect just before (y, x): the previous cell's, the
// last cell of the row above at column 0, the default at the top left.
CHATTR w5_prevattr(te* t, int y, int x) {
  if (x > 0) {
    wa_row(t, y);
    return t->_vscreen[y][x - 1] & w5_keepmask(t);
  }
  if (y > 0) {
    wa_row(t, y - 1);
    return t->_vscreen[y - 1][t->vcols - 1] & w5_keepmask(t);
  }
  return EmGetDefaultAttr(t) & w5_keepmask(t);
}

// The run from (y, x) on takes the attribute in effect before it.
void w5_repaint(te* t, int y, int x) {
  wa_prop(t, y, x, w5_prevattr(t, y, x), w5_keepmask(t), w5_wide(t));
}

// Cursor past a stored character: wrap with autowrap (scrolling at the
// bottom), else stay in the last column; in protect mode on to the next
// unprotected cell.
void w5_advance(te* t) {
  int y = t->vdestline, x = t->vdestcol;
  if (x + 1 < t->vcols) {
    wy_setcur(t, y, x + 1);
  } else if (t->_AMon) {
    if (y >= t->vlines - 1) wa_row(t, 0);
    dowrap(t, 0);
  } else {
    wy_setcur(t, y, t->vcols - 1);
  }
  if (t->_protect) wy_protmove(t, 1, 0, 1);
}

void w5_attrcell(te* t, CHATTR attr, int remove) {
  int y = t->vdestline, x = t->vdestcol;
  if (y >= t->vlines) return;
  if (t->vlattr[y] & LA_LOCKED) return;
  wa_mark(t, y);
  CHATTR* row = t->_vscreen[y];
  const CHATTR keep = w5_keepmask(t);
  CHATTR a = attr & keep;
  if (remove)
    a = row[x] & keep & ~attr;
  else if ((t->_vemode & W5_TVI912) && (row[x] & CA_EMBED))
    a |= row[x] & keep;
  CHATTR full = (EmGetDefaultAttr(t) & CA_ATTRPART & ~keep) | a;
  row[x] = full | CA_EMBED | CA_PROT | CA_BLANK;
  vid_touch_row(t, y, x, x);
  wa_prop(t, y, x + 1, full, keep, w5_wide(t));
  w5_advance(t);
}

void w5_put(te* t, CHATTR ch) {
  int y = t->vdestline, x = t->vdestcol;
  if (y >= t->vlines) return;
  if (t->vlattr[y] & LA_LOCKED) return;
  if (t->_protect && (t->_vscreen[y][x] & CA_PROT)) {
    if (!wy_protmove(t, 1, 0, 1)) {
      vbell(t);
      return;
    }
    y = t->vdestline;
    x = t->vdestcol;
  }
  wa_row(t, y);
  CHATTR* row = t->_vscreen[y];
  if (row[x] & CA_EMBED) {
    // Writing over an attribute cell removes it: the run takes the
    // attribute before it.
    row[x] &= ~(CA_EMBED | CA_PROT);
    w5_repaint(t, y, x);
  }
  CHATTR attr = (row[x] & CA_ATTRPART & ~(CA_PROT | CA_EMBED)) | t->_dimattr;
  if ((t->_vemode & W5_WYCOL) && ((ch >> CA_CSET_SHIFT) & 0xF) == WY_SET_GRAPHICS) attr |= CA_PROT;
  if (t->pdisptab && !(ch & (CA_TCS | CA_UNI | CA_CSET))) ch = t->pdisptab[ch & 0xFF];
  if (t->_vinsmode && t->fam.statcol < 0) {
    CHATTR saved = t->_vcurattr;
    t->_vcurattr = attr;
    vinsert(t, ch, 1);
    t->_vcurattr = saved;
    if (t->_protect) wy_protmove(t, 1, 0, 1);
    return;
  }
  row[x] = attr | ch;
  vid_touch_row(t, y, x, x);
  w5_advance(t);
}

void w5_erase(te* t, int y, int x0, int x1, int honourprot) {
  if (y < 0 || y >= t->vlines || x1 < x0) return;
  wa_row(t, y);
  CHATTR* row = t->_vscreen[y];
  bool removed = false;
  for (int c = x0; c <= x1; c++) {
    if (honourprot && t->_protect && (row[c] & CA_PROT)) continue;
    if (row[c] & CA_EMBED) removed = true;
    row[c] = (row[c] & CA_ATTRPART & ~(CA_EMBED | CA_PROT)) | CA_BLANK;
  }
  vid_touch_row(t, y, x0, x1);
  if (removed) w5_repaint(t, y, x0);
}

// ---- controls

static void w5_clear_screen(te* t) {
  if (t->_protect)
    wy_clrunprot(t);
  else
    w5_clrall(t, 0);
}

void w5_clrall(te* t, int resetmodes) {
  wy_clrall(t, resetmodes);
  if (t->_vemode & (W5_ADM1 | W5_WYSE50)) t->_protect = 0;
}

static void w5_control(te* t, int c) {
  const int vm = t->_vemode;
  switch (c) {
    case 0x06:
      if (vm & W5_ADDSVP) wy_right(t, 0);
      break;
    case 0x07:
      vbell(t);
      break;
    case 0x08:
      wy_left(t, 1);
      break;
    case 0x09:
      if (vm & W5_ADM1)
        wy_home(t, 0);
      else
        wy_tab(t, 0);
      break;
    case 0x0A:
      wy_linefeed(t, 1);
      break;
    case 0x0B:
      wy_up(t);
      break;
    case 0x0C:
      if (vm & W5_ADDSVP)
        w5_clrall(t, 0);
      else
        wy_right(t, 0);
      break;
    case 0x0D:
      wy_cr(t, 1);
      break;
    case 0x0E:
      if (vm & W5_TVI925) t->_protect = 0;
      if (vm & W5_ADM1) t->_vcharset = 1;
      if (vm & W5_ADDSVP) t->_dimattr = CA_PROT;
      break;
    case 0x0F:
      if (vm & W5_TVI925) t->_protect = 1;
      if (vm & W5_ADM1) t->_vcharset = 0;
      if (vm & W5_ADDSVP) t->_dimattr = 0;
      break;
    case 0x12:
      if (vm & (W5_TVI912 | W5_TVI925 | W5_TVI950 | W5_WYSE50 | W5_WYCOL))
        wy_print_start(t, WY_PRINT_UNTIL_DC4, 1);
      break;
    case 0x15:
      // ADDS Viewpoint: cursor left (its terminal description and its
      // left-arrow key both say so).
      if (vm & W5_ADDSVP) wy_left(t, 0);
      break;
    case 0x16:
      wy_down(t);
      break;
    case 0x18:
      if (vm & W5_WYSE50) wy_print_start(t, WY_PRINT_UNTIL_DC4, 0);
      break;
    case 0x1A:
      if (vm & W5_ADM1)
        w5_put(t, '.');
      else if (vm & W5_ADDSVP)
        wy_up(t);  // ADDS Viewpoint: cursor up, as its up-arrow key sends
      else
        w5_clear_screen(t);
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

// ---- the byte machine

// A character of ground state: UTF-8 or a code-page byte.
static void w5_text(te* t, int c) {
  if (c >= 0x80 && t->MBMode == 1 && !(t->_vemode & W5_WYCOL) && !t->_vmaskpar) {
    uint32_t cp[2];
    int n = wy_utf8(t, (unsigned)c, cp);
    for (int i = 0; i < n; i++) w5_put(t, ca_from_unicode(cp[i]));
    return;
  }
  int set = t->_vcharset ? WY_SET_GRAPHICS : 0;
  if (t->_vcharset == 2) t->_vcharset = 0;
  w5_put(t, (CHATTR)c | ((CHATTR)set << CA_CSET_SHIFT));
}

// Monitor mode: every byte is shown, controls as their PC glyphs.
static void w5_monitor(te* t, int c) {
  if (c < 0x20 || c == 0x7F)
    w5_put(t, CA_TCS | (CHATTR)(0x200 + c));
  else
    w5_text(t, c);
}

// WYCOL ESC ESC: "~+o" then text up to two US in a row is swallowed; a
// byte that breaks the prefix ends the sequence.
static void w5_alpha(te* t, int c) {
  TEFAM& f = t->fam;
  c &= 0x7F;
  static const char prefix[] = "~+o";
  if (f.nargs < 3) {
    if (c == prefix[f.nargs])
      f.nargs++;
    else
      f.st = WY_GROUND;
    return;
  }
  if (c == 0x1F) {
    if (++f.need >= 2) f.st = WY_GROUND;
  } else {
    f.need = 0;
  }
}

static void w5_decaddr(te* t, int c) {
  if (wy_decaddr(t, c)) t->fam.st = WY_GROUND;
}

static void w5_byte(te* t, int c) {
  TEFAM& f = t->fam;
  if (f.st != WY_GROUND) f.fullprot = 0;
  switch (f.st) {
    case WY_GROUND:
      if (c < 0x20 || c == 0x7F) {
        if (wy_utf8_break(t)) w5_put(t, ca_from_unicode(0xFFFD));
        wy_keep_fullprot(t, c);
        w5_control(t, c);
        return;
      }
      if (c < 0x80 && wy_utf8_break(t)) w5_put(t, ca_from_unicode(0xFFFD));
      w5_text(t, c);
      return;
    case WY_ESC:
      f.st = WY_GROUND;
      w5_escape(t, c);
      return;
    case WY_ARGS:
      w5_escarg(t, c);
      return;
    case WY_STATUS:
      if (c == 0x1B) {
        f.statcol = -1;
        f.st = WY_ESC;
      } else if (!wy_status_byte(t, c)) {
        f.st = WY_GROUND;
      }
      return;
    case WY_PROGSEL:
      wy_prog_begin(t, c, 0);
      f.st = c == 0x7F ? WY_GROUND : WY_PROG;
      return;
    case WY_PROG:
      if (!wy_prog_byte(t, c)) f.st = WY_GROUND;
      return;
    case WY_ALPHA:
      w5_alpha(t, c);
      return;
    case WY_MONITOR:
      if (c == 0x1B)
        f.st = WY_MONESC;
      else
        w5_monitor(t, c);
      return;
    case WY_MONESC:
      if (c == 'X' || c == 'u') {
        f.st = WY_GROUND;
        t->_vmonitor = 0;
        return;
      }
      w5_monitor(t, 0x1B);
      if (c == 0x1B) return;
      f.st = WY_MONITOR;
      w5_monitor(t, c);
      return;
    case WY_DECADDR:
      w5_decaddr(t, c);
      return;
    default:
      f.st = WY_GROUND;
      return;
  }
}

// One host byte: bit 7 and parity, the printer, then the machine.
static inline void w5_in(te* t, int c) {
  c &= 0xFF;
  if (t->_vemode & W5_WYCOL)
    c &= 0x7F;
  else if (!t->_blokmode && t->_vmaskpar)
    c &= 0x7F;
  wy_through_printer<w5_byte>(t, c);
}

void wy50emout(te* t, int c) {
  wa_sync(t);
  t->fam.fullprot = 0;
  w5_in(t, c);
  wa_flush(t);
}

// ---- bulk path

// Nothing makes a printable byte special: ground state, plain characters,
// no protect or insert mode, no printer, no parity stripping.
static inline bool w5_fastok(te* t) {
  return t->fam.st == WY_GROUND && !t->_vcharset && !t->_protect && !t->_vinsmode && !t->_prctrl &&
         !t->_vmaskpar && !t->pdisptab && !t->unicodeContext.need;
}

// Stores the printable ASCII run at p on the cursor row up to the cell
// before the last column, stopping at an attribute cell or a locked row;
// returns where it stopped.
static const unsigned char* w5_bulk(te* t, const unsigned char* p, const unsigned char* end) {
  const int y = t->vdestline;
  if (y >= t->vlines || (t->vlattr[y] & LA_LOCKED)) return p;
  wa_row(t, y);
  CHATTR* row = t->_vscreen[y];
  const CHATTR mask = CA_ATTRPART & ~(CA_PROT | CA_EMBED);
  const CHATTR dim = t->_dimattr;
  int x = t->vdestcol;
  const int x0 = x;
  int n = wy_ascii_run(p, (int)std::min<ptrdiff_t>(end - p, t->vcols - 1 - x));
  // An attribute cell in the way ends the run before it (most runs have
  // none: one pass looks, another writes).
  CHATTR embed = 0;
  for (int i = 0; i < n; i++) embed |= row[x + i];
  if (embed & CA_EMBED)
    for (int i = 0; i < n; i++)
      if (row[x + i] & CA_EMBED) {
        n = i;
        break;
      }
  for (int i = 0; i < n; i++) row[x + i] = (row[x + i] & mask) | dim | p[i];
  x += n;
  p += n;
  if (x > x0) {
    vid_touch_row(t, y, x0, x - 1);
    wy_setcur(t, y, x);
  }
  return p;
}

void wy50emwrite(te* t, const unsigned char* p, size_t n) {
  wa_sync(t);
  t->fam.fullprot = 0;
  const unsigned char* end = p + n;
  while (p < end) {
    if ((unsigned)*p - 0x20u < 0x5Fu && w5_fastok(t)) {
      const unsigned char* q = w5_bulk(t, p, end);
      if (q != p) {
        p = q;
        continue;
      }
    }
    // The commonest sequences of forms (an attribute cell, a cursor
    // address), as the byte machine takes them.
    if (*p == 0x1B && end - p >= 3 && t->fam.st == WY_GROUND && !t->_prctrl && !t->unicodeContext.need &&
        p[2] < 0x80) {
      if (p[1] == 'G') {
        t->fam.fullprot = 0;
        w5_attrcell(t, w5_calcattr(t, p[2]), 0);
        p += 3;
        continue;
      }
      if (p[1] == '=' && end - p >= 4 && p[3] < 0x80) {
        t->fam.fullprot = 0;
        wy_address(t, p[2], p[3]);
        p += 4;
        continue;
      }
    }
    // CR and LF between runs of text, as the byte machine takes them.
    if ((*p == '\r' || *p == '\n') && w5_fastok(t) && !t->_vnlmode) {
      if (*p == '\r') {
        wy_setcur(t, t->vdestline, 0);
      } else {
        if (t->vdestline >= t->vlines - 1) wa_row(t, 0);
        newline(t);
      }
      p++;
      continue;
    }
    w5_in(t, *p++);
  }
  wa_flush(t);
}
