// The IBM 3151 family's byte machine: member selection, parity and the
// G0/G1 choice by bit 7, the printer, buffer addressing, the controls, DLE
// sequences, the escape sequences and the store of one character, and the
// display of the graphics set.
#include <algorithm>
#include <cstring>

#include "em/em.h"
#include "em/ibm3151.h"
#include "em/keys.h"
#include "em/wyse.h"
#include "vid/vid.h"

const TEPROC ib31_procs = {ib31emout, ib31emkey, ib31emblk, ib31eminit, ib31emwrite};

namespace {

enum : int {
  IS_GROUND = 0,
  IS_ESC,
  IS_ARGS,     // fam.need argument bytes for fam.cmd
  IS_ATTR,     // ESC 3 / ESC 4: attribute bytes
  IS_SP,       // after ESC SP
  IS_BANG,     // after ESC !
  IS_COLS,     // ESC SP r: the column-mode bytes
  IS_DLE,      // after DLE
  IS_DISPLAY,  // DLE STX: bytes are characters until DLE ETX
  IS_DISPDLE,  // DLE inside the display mode
};

inline bool is3101(te* t) {
  return t->_vemode & IB_3101;
}

}  // namespace

// ---- member selection

int ib31eminit(te* t, const char* name) {
  TEFAM& f = t->fam;
  if (name && !EmSelectMember(t, ibm3151_emlist, name)) return -1;
  t->_prformfd = 1;
  std::memset(&f, 0, sizeof f);
  f.statcol = -1;
  f.keep = IB_KEEP;
  f.ibfield = 1;
  f.ibattr = 0;
  t->labels = TELABELS{};
  t->labels.changed = 1;
  t->_ibmode = 0;
  t->_marky = 99;
  t->GetCharSet = IbmGetCharSet;
  t->GetTCSChar = IbmGetTCSChar;
  t->vt = VTCHARSET{};
  t->vt.CharSet[0] = 0;
  t->vt.CharSet[1] = 1;
  t->vt.GL = 0;
  if (t->sblockmode) {
    t->_blokmode = 1;
    t->_vnoscroll = 1;
    t->_protect = 1;
  }
  wa_sync(t);
  return 0;
}

void ib31emblk(te* t, int c) {
  ib31emout(t, c);
}

// ---- character sets

int IbmGetCharSet(te* t, int c) {
  return (c & 0xFF) | ((t->vt.CharSet[t->vt.GL & 1] & 0xF) << CA_CSET_SHIFT);
}

// j..~: the line and block characters.
static const short ib_graphics[21] = {0x2D9, 0x2BF, 0x2DA, 0x2C0, 0x2C5, 0x2FE, 0x2FE,
                                      0x2C4, 0x216, 0x216, 0x2C3, 0x2B4, 0x2C1, 0x2C2,
                                      0x2B3, 0x220, 0x2BF, 0x2D9, 0x2C0, 0x2DA, 0x2FE};

int IbmGetTCSChar(te* t, int c) {
  int set = (c >> CA_CSET_SHIFT) & 0xF;
  int b = c & 0xFF;
  if (set != 1 || is3101(t)) return t->EmCPtoTCS ? t->EmCPtoTCS[b] : 0x200 + b;
  b &= 0x7F;
  if (b >= 'j' && b <= '~') return ib_graphics[b - 'j'];
  if (b >= 0x60 && b <= 0x69) return 0x230 + (b - 0x60);
  if (b >= '0' && b <= '9') return 0x200 + b;
  switch (b) {
    case '<':
      return 0x210;
    case '=':
      return 0x211;
    case '>':
      return 0x21E;
    case '?':
      return 0x21F;
    default:
      return 0x220;
  }
}

// ---- characters

void ib_put(te* t, CHATTR ch) {
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
  wa_row(t, y);
  CHATTR* row = t->_vscreen[y];
  TEFAM& f = t->fam;
  CHATTR attr;
  if (f.ibfield) {
    if (row[x] & CA_EMBED) {
      // Writing over an attribute cell removes it: the field takes the
      // attribute before it.
      row[x] &= ~CA_EMBED;
      ib_propagate(t, y, x, ib_before(t, y, x));
    }
    attr = row[x] & CA_ATTRPART;
  } else {
    attr = (f.ibattr & CA_ATTRPART & ~CA_PROT) | (row[x] & CA_PROT);
  }
  if (t->pdisptab && !(ch & (CA_TCS | CA_UNI | CA_CSET))) ch = t->pdisptab[ch & 0xFF];
  if (t->_vinsmode) {
    CHATTR saved = t->_vcurattr;
    t->_vcurattr = attr;
    vinsert(t, ch, 1);
    t->_vcurattr = saved;
    return;
  }
  row[x] = attr | ch;
  vid_touch_row(t, y, x, x);
  if (x + 1 < t->vcols) {
    wy_setcur(t, y, x + 1);
  } else if (t->_AMon) {
    if (y >= t->vlines - 1) wa_row(t, 0);
    dowrap(t, 0);
  }
}

static void ib_text(te* t, int c) {
  ib_put(t, (CHATTR)IbmGetCharSet(t, c));
}

// ---- controls

static void ib_control(te* t, int c) {
  TEFAM& f = t->fam;
  switch (c) {
    case 0x07:
      vbell(t);
      break;
    case 0x08:
      wy_left(t, 0);
      break;
    case 0x09:
      if (ib_fields(t))
        wy_fieldfwd(t);
      else
        wy_tab(t, 1);
      break;
    case 0x0A:
    case 0x0B:
    case 0x0C:
      wy_linefeed(t, 1);
      break;
    case 0x0D:
      if (f.msgline) {
        f.statcol = 0;
        break;
      }
      wy_setcur(t, t->vdestline, 0);
      if (t->addlf) wy_linefeed(t, 0);
      if (t->_protect) wy_protmove(t, 1, 0, 1);
      break;
    case 0x0E:
    case 0x0F:
      if (t->_vmaskpar) t->vt.GL = c == 0x0E ? 0 : 1;
      break;
    case 0x10:
      f.st = IS_DLE;
      break;
    case 0x1A:
      ib_text(t, '?');
      break;
    case 0x1B:
      f.st = IS_ESC;
      break;
    default:
      break;
  }
}

// ---- escape sequences

// Cursor moves that wrap around the screen edges and end buffer addressing.
static void ib_endbuffer(te* t) {
  TEFAM& f = t->fam;
  if (!f.bufon) return;
  f.bufon = 0;
  wy_setcur(t, t->_termtmps[6], t->_termtmps[7]);
}

static void ib_address(te* t, int row, int col, bool buffer) {
  // Out-of-screen values are ignored (they would write outside it).
  if (row < 0 || row >= t->vlines || col < 0 || col >= t->vcols) return;
  TEFAM& f = t->fam;
  if (f.bufon) {
    // The byte acts at the buffer address: move it, or park the cursor at
    // the new address.
    if (buffer) {
      wy_setcur(t, row, col);
    } else {
      t->_termtmps[6] = row;
      t->_termtmps[7] = col;
    }
    return;
  }
  if (buffer) {
    f.bufon = 1;
    f.bufy = row;
    f.bufx = col;
    t->_termtmps[6] = t->vdestline;
    t->_termtmps[7] = t->vdestcol;
    return;
  }
  wy_setcur(t, row, col);
}

static void ib_reply(te* t, const char* bytes, int n) {
  char out[16];
  int k = std::min(n, 14);
  std::memcpy(out, bytes, (size_t)k);
  if (t->turnchar > 0 && t->turnchar < 256) out[k++] = (char)t->turnchar;
  wy_reply(t, out, k);
}

static int ib_switchbyte(te* t) {
  int s = t->_blokmode ? 0x28 : 0x48;
  if (t->dupmode) s += 0x10;
  if (t->turnchar == '\r') s += 1;
  if (t->turnchar == 0x04) s += 2;
  if (t->turnchar == 0x13) s += 3;
  return s;
}

static void ib_readcursor(te* t) {
  char r[6];
  if (is3101(t) || t->vcols <= 80) {
    r[0] = '\x1b';
    r[1] = 'Y';
    r[2] = (char)(t->vdestline + 32);
    r[3] = (char)(t->vdestcol + 32);
    ib_reply(t, r, 4);
    return;
  }
  r[0] = '\x1b';
  r[1] = 'y';
  r[2] = ' ';
  r[3] = (char)(t->vdestline + 32);
  r[4] = (char)(t->vdestcol / 32 + 32);
  r[5] = (char)(t->vdestcol % 32 + 32);
  ib_reply(t, r, 6);
}

static void ib_reset(te* t) {
  ib_clearall(t);
  wy_setcur(t, 0, 0);
  t->vt.CharSet[0] = 0;
  t->vt.CharSet[1] = 1;
  t->vt.GL = 0;
}

static void ib_msgline(te* t) {
  TEFAM& f = t->fam;
  f.msgline = !f.msgline;
  if (f.msgline)
    wy_status_open(t, 0, !t->labels.on);
  else
    f.statcol = -1;
}

// Commands of one byte after ESC (and those whose arguments are in).
static void ib_command(te* t, int c) {
  TEFAM& f = t->fam;
  const int a0 = f.args[0], a1 = f.args[1];
  switch (c) {
    case 'A':
    case 'B':
    case 'C':
    case 'D':
      ib_endbuffer(t);
      if (c == 'A') wy_up(t);
      if (c == 'B') wy_down(t);
      if (c == 'C') wy_right(t, 0);
      if (c == 'D') wy_left(t, 0);
      break;
    case 'H':
      wy_setcur(t, 0, 0);
      break;
    case '0':
      if (t->vdestcol < TE_MAXCOLS) t->_tabs[t->vdestcol] = 1;
      break;
    case '1':
      if (t->vdestcol < TE_MAXCOLS) t->_tabs[t->vdestcol] = 0;
      break;
    case '2':
      if (ib_fields(t))
        wy_fieldrev(t);
      else
        wy_backtab(t);
      break;
    case 'I':
      ib_erase_eol(t);
      break;
    case 'J':
      ib_erase_eos(t);
      break;
    case 'K':
      if (ib_fields(t)) {
        ib_erase_unprot(t);
      } else {
        wa_flush(t);
        vclear(t);
        wy_setcur(t, 0, 0);
      }
      break;
    case 'L':
      ib_clearall(t);
      break;
    case 'N':
      ib_insline(t);
      break;
    case 'O':
      ib_delline(t);
      break;
    case 'P':
      ib_inschar(t);
      break;
    case 'Q':
      ib_delchar(t);
      break;
    case '8':
      if (!is3101(t)) ib_sendline(t);
      break;
    case '5':
      ib_readcursor(t);
      break;
    case '6':
      if (is3101(t)) {
        char r[3] = {'\x1b', '6', (char)(0x80 | (ib_switchbyte(t) & 0xF0))};
        ib_reply(t, r, 3);
      }
      break;
    case '7':
      if (is3101(t)) {
        char r[4] = {'\x1b', '7', (char)ib_switchbyte(t), t->_vnoscroll ? '+' : '*'};
        ib_reply(t, r, 4);
      }
      break;
    case ':':
      t->_kdisable = 1;
      break;
    case ';':
      t->_kdisable = 0;
      break;
    case '<':
    case '>':
      if (a0 == '@' || a0 == 'B' || a0 == 'A') t->vt.CharSet[c == '<' ? 0 : 1] = a0 == 'A' ? 1 : 0;
      break;
    case '=':
      ib_msgline(t);
      break;
    case 'E':
      ib_setmark(t);
      break;
    case 'M':
      if (!is3101(t)) {
        int y = t->vdestline + 1;
        wy_setcur(t, y >= t->vlines ? 0 : y, 0);
      }
      break;
    case 'X':
    case 'Y':
      ib_address(t, a0 - 32, a1 - 32, c == 'X');
      break;
    case 'x':
    case 'y': {
      int rh = a0 - 32, rl = a1 - 32, ch = f.args[2] - 32, cl = f.args[3] - 32;
      if (rh > 0 || ch > 4 || rl > 32 || cl > 32 || rh < 0 || rl < 0 || ch < 0 || cl < 0) break;
      ib_address(t, rh * 32 + rl, ch * 32 + cl, c == 'x');
      break;
    }
    case 'Z':
      if (f.bufon) f.bufon = 0;  // the cursor stays at the buffer address
      break;
    default:
      break;
  }
}

static void ib_escape(te* t, int c) {
  TEFAM& f = t->fam;
  f.st = IS_GROUND;
  f.nargs = 0;
  f.cmd = c;
  switch (c) {
    case ' ':
      f.st = IS_SP;
      return;
    case '!':
      f.st = IS_BANG;
      return;
    case '3':
    case '4':
      if (c == '4' && is3101(t)) return;
      f.st = IS_ATTR;
      return;
    case '<':
    case '>':
      f.need = 1;
      f.st = IS_ARGS;
      return;
    case 'X':
    case 'Y':
      f.need = 2;
      f.st = IS_ARGS;
      return;
    case 'x':
    case 'y':
      if (is3101(t)) return;
      f.need = 4;
      f.st = IS_ARGS;
      return;
    default:
      ib_command(t, c);
      return;
  }
}

static void ib_space(te* t, int c) {
  TEFAM& f = t->fam;
  f.st = IS_GROUND;
  switch (c) {
    case '1':
      std::fill(t->_tabs, t->_tabs + TE_MAXCOLS, 0);
      break;
    case '8':
      if (!is3101(t)) ib_sendpage(t);
      break;
    case 'S':
      ib_reset(t);
      break;
    case 'W':
      wy_print_screen(t);
      break;
    case 'r':
      f.nargs = 0;
      f.st = IS_COLS;
      break;
    default:
      break;
  }
}

static void ib_bang(te* t, int c) {
  t->fam.st = IS_GROUND;
  if (is3101(t)) return;
  if (c == '8') {
    ib_sendline(t);
  } else if (c == 'M') {
    int y = t->vdestline - 1;
    wy_setcur(t, y < 0 ? t->vlines - 1 : y, t->vdestcol);
  }
}

// ESC SP r ! ! SP m " P (80 columns) or $ D (132), m being 8 on the 3151
// and 9 on the 3151-25.
static void ib_cols(te* t, int c) {
  TEFAM& f = t->fam;
  static const char form[] = "!! ";
  int i = f.nargs++;
  if (i < 3) {
    if (c != form[i]) f.st = IS_GROUND;
    return;
  }
  if (i == 3) {
    int want = (t->_vemode & IB_3151) ? '8' : (t->_vemode & IB_3151_25) ? '9' : c;
    if (c != want) f.st = IS_GROUND;
    return;
  }
  if (i == 4) {
    f.args[0] = c;
    if (c != '"' && c != '$') f.st = IS_GROUND;
    return;
  }
  f.st = IS_GROUND;
  bool to132 = f.args[0] == '$' && c == 'D';
  bool to80 = f.args[0] == '"' && c == 'P';
  if (to132 || to80) {
    wa_flush(t);
    set132col(t, (to132 ? 1 : 0) | 0x100);
    wa_sync(t);
  }
}

// ESC 3 / ESC 4 attribute bytes: a, then (when a asks for more) b, then an
// operation byte; a byte with bit 6 set (or any on the 3101) ends them.
static void ib_attr(te* t, int c) {
  TEFAM& f = t->fam;
  f.args[f.nargs++] = c;
  bool done = is3101(t) || (c & 0x40) || f.nargs >= 3;
  if (f.nargs == 1 && !(c & 0x20)) done = true;
  if (!done) return;
  f.st = IS_GROUND;
  if (f.cmd == '3')
    ib_fieldattr(t, f.args, f.nargs);
  else
    ib_charattr(t, f.args, f.nargs);
}

static void ib_dle(te* t, int c) {
  TEFAM& f = t->fam;
  f.st = IS_GROUND;
  if (c == 0x02) {
    f.st = IS_DISPLAY;
  } else if (c == 0x12 && !is3101(t)) {
    wy_print_start(t, WY_PRINT_IBM3151, 0);
  }
}

// Display mode (DLE STX ... DLE ETX): every byte is a character, controls
// as their glyphs; the browser sees only what is stored, so they are.
static void ib_display(te* t, int c) {
  if (c < 0x20 || c == 0x7F)
    ib_put(t, CA_TCS | (CHATTR)(0x200 + c));
  else
    ib_text(t, c);
}

static void ib_byte(te* t, int c) {
  TEFAM& f = t->fam;
  if (f.st != IS_GROUND) f.fullprot = 0;
  switch (f.st) {
    case IS_GROUND:
      if (c < 0x20 || c == 0x7F) {
        wy_keep_fullprot(t, c);
        ib_control(t, c);
      } else if (f.msgline && f.statcol >= 0) {
        wy_status_byte(t, c);
        if (f.statcol < 0) f.statcol = t->vcols - 1;
      } else {
        ib_text(t, c);
      }
      return;
    case IS_ESC:
      ib_escape(t, c);
      return;
    case IS_ARGS:
      f.args[f.nargs++] = c;
      if (f.nargs >= f.need) {
        f.st = IS_GROUND;
        ib_command(t, f.cmd);
      }
      return;
    case IS_ATTR:
      ib_attr(t, c);
      return;
    case IS_SP:
      ib_space(t, c);
      return;
    case IS_BANG:
      ib_bang(t, c);
      return;
    case IS_COLS:
      ib_cols(t, c);
      return;
    case IS_DLE:
      ib_dle(t, c);
      return;
    case IS_DISPLAY:
      if (c == 0x10)
        f.st = IS_DISPDLE;
      else
        ib_display(t, c);
      return;
    case IS_DISPDLE:
      if (c == 0x03) {
        f.st = IS_GROUND;
      } else {
        f.st = IS_DISPLAY;
        ib_display(t, c == 0x10 ? 0x10 : c);
      }
      return;
    default:
      f.st = IS_GROUND;
      return;
  }
}

// The IBM printer's controller mode ends on DLE DC4; DC1 and DC3 are not
// printed.
static bool ib_printer(te* t, int c) {
  if (t->_ptype != WY_PRINT_IBM3151) return false;
  char b = (char)c;
  if (t->_prfstate) {
    t->_prfstate = 0;
    if (c == 0x14) {
      te_set_prctrl(t, 0);
      t->_ptype = 0;
      return true;
    }
    char both[2] = {'\x10', b};
    if (t->hooks.printer) t->hooks.printer(t, TE_PRINT_BYTES, both, 2);
    return true;
  }
  if (c == 0x10) {
    t->_prfstate = 1;
    return true;
  }
  if (c != 0x11 && c != 0x13 && t->hooks.printer) t->hooks.printer(t, TE_PRINT_BYTES, &b, 1);
  return true;
}

static void ib_in(te* t, int c) {
  c &= 0xFF;
  if (!t->_blokmode) {
    if (t->_vmaskpar)
      c &= 0x7F;
    else
      t->vt.GL = (c & 0x80) ? 1 : 0;
  }
  if (t->_prctrl && !is3101(t) && ib_printer(t, c)) return;
  TEFAM& f = t->fam;
  if (!f.bufon) {
    ib_byte(t, c);
    return;
  }
  // Buffer addressing: the byte acts at the buffer address and the cursor
  // (parked in _termtmps[6..7]) stays, unless the byte ends it.
  wy_setcur(t, f.bufy, f.bufx);
  ib_byte(t, c);
  if (f.bufon) {
    f.bufy = t->vdestline;
    f.bufx = t->vdestcol;
    wy_setcur(t, t->_termtmps[6], t->_termtmps[7]);
  }
}

void ib31emout(te* t, int c) {
  wa_sync(t);
  t->fam.fullprot = 0;
  ib_in(t, c);
  wa_flush(t);
}

// Printable ASCII in ground state, where nothing changes how a character
// is written (buffer addressing, the message line, protection, insert mode,
// a display table, the printer), up to the cell before the last column or
// to an attribute cell in field mode, stored at once with the attribute
// ib_put gives it; the last column and attribute cells take the byte path.
static size_t ib_bulk(te* t, const unsigned char* p, size_t n) {
  TEFAM& f = t->fam;
  const int y = t->vdestline, x = t->vdestcol;
  if (f.st != IS_GROUND || f.bufon || f.msgline || t->_prctrl || t->_protect || t->_vinsmode || t->pdisptab ||
      y >= t->vlines || x >= t->vcols - 1)
    return 0;
  int run = wy_ascii_run(p, (int)std::min<size_t>(n, (size_t)(t->vcols - 1 - x)));
  if (run == 0) return 0;
  if (!t->_blokmode && !t->_vmaskpar) t->vt.GL = 0;  // bit 7 is clear
  const CHATTR cset = (CHATTR)(t->vt.CharSet[t->vt.GL & 1] & 0xF) << CA_CSET_SHIFT;
  wa_row(t, y);
  CHATTR* row = t->_vscreen[y];
  int i = 0;
  if (f.ibfield) {
    for (; i < run && !(row[x + i] & CA_EMBED); i++) row[x + i] = (row[x + i] & CA_ATTRPART) | cset | p[i];
  } else {
    const CHATTR attr = f.ibattr & CA_ATTRPART & ~CA_PROT;
    for (; i < run; i++) row[x + i] = attr | (row[x + i] & CA_PROT) | cset | p[i];
  }
  if (i == 0) return 0;
  vid_touch_row(t, y, x, x + i - 1);
  wy_setcur(t, y, x + i);
  return (size_t)i;
}

void ib31emwrite(te* t, const unsigned char* p, size_t n) {
  wa_sync(t);
  t->fam.fullprot = 0;
  size_t i = 0;
  while (i < n) {
    if ((unsigned)p[i] - 0x20u < 0x5Fu) {
      size_t done = ib_bulk(t, p + i, n - i);
      if (done) {
        i += done;
        continue;
      }
    }
    ib_in(t, p[i++]);
  }
  wa_flush(t);
}
