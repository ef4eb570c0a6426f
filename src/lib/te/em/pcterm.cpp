// PC-term: a Wyse-60-style personality driven by tables, one per state
// (ground controls, after ESC, the attribute after ESC G, the personality
// after ESC v, the cursor shape after ESC .), each row naming the byte,
// what it does and how many argument bytes follow.  Attributes are per
// character; monitor mode shows controls as characters.
#include "em/pcterm.h"

#include <algorithm>
#include <cstring>

#include "em/em.h"
#include "em/keys.h"
#include "em/wyse.h"
#include "vid/vid.h"

const TEPROC pcterm_procs = {pcemout, pcemkey, pcemblk, pceminit, pcemwrite};

namespace {

enum : int {
  PS_GROUND = 0,
  PS_ESC = 1,
  PS_ATTR = 2,     // after ESC G
  PS_PERSONA = 3,  // after ESC v
  PS_SHAPE = 4,    // after ESC .
  PS_ARGS = 10,    // fam.need argument bytes for fam.cmd
  PS_SPACE,        // after ESC SP: h, then the colour
  PS_TEXT,         // text ignored up to CR
  PS_MONITOR,
  PS_MONESC,
};

// What a table row does.
enum Op : unsigned char {
  OP_CR,
  OP_LF,
  OP_BS,
  OP_ESC,
  OP_BELL,
  OP_TAB,
  OP_UP,
  OP_RIGHT,
  OP_DOWN,
  OP_HOME,
  OP_CLEAR,
  OP_STATE_ATTR,
  OP_ADDRESS,
  OP_PAGEADDR,
  OP_SPACE,
  OP_WPOFF,
  OP_WPON,
  OP_INSON,
  OP_INSOFF,
  OP_PROTON,
  OP_PROTOFF,
  OP_KBLOCK,
  OP_KBUNLOCK,
  OP_WRAPON,
  OP_WRAPOFF,
  OP_NLON,
  OP_NLOFF,
  OP_GRON,
  OP_GROFF,
  OP_MONITOR,
  OP_BLOCKON,
  OP_BLOCKOFF,
  OP_RLF,
  OP_BACKFIELD,
  OP_INSCHAR,
  OP_DELCHAR,
  OP_INSLINE,
  OP_DELLINE,
  OP_SETTAB,
  OP_CLRTAB,
  OP_CLRTABS,
  OP_PRDISPLAY,
  OP_PRCTRL,
  OP_NOTHING,
  OP_PRSCREEN,
  OP_PRTCHAR,
  OP_CURSOR,
  OP_CURSORPAGE,
  OP_ANSWER,
  OP_CLRRESET,
  OP_CLRALL,
  OP_CLRSOME,
  OP_CLRPROT,
  OP_EOS,
  OP_EOL,
  OP_STATE_PERSONA,
  OP_STATE_SHAPE,
  OP_FILL,
  OP_SEND,
  OP_TEXT,
  OP_ERASE25,
};

struct Row {
  unsigned char c;
  Op op;
  unsigned char nargs;
};

constexpr Row kGround[] = {
    {'\r', OP_CR, 0},    {'\n', OP_LF, 0},   {'\b', OP_BS, 0},   {0x1B, OP_ESC, 0},
    {0x07, OP_BELL, 0},  {0x1F, OP_BELL, 0}, {'\t', OP_TAB, 0},  {0x0B, OP_UP, 0},
    {0x0C, OP_RIGHT, 0}, {0x16, OP_DOWN, 0}, {0x1E, OP_HOME, 0}, {0x1A, OP_CLEAR, 0},
};

constexpr Row kEsc[] = {
    {'G', OP_STATE_ATTR, 0},  {'=', OP_ADDRESS, 2},  {'-', OP_PAGEADDR, 3},  {' ', OP_SPACE, 0},
    {'(', OP_WPOFF, 0},       {')', OP_WPON, 0},     {'Z', OP_INSON, 0},     {'r', OP_INSOFF, 0},
    {'&', OP_PROTON, 0},      {'\'', OP_PROTOFF, 0}, {'#', OP_KBLOCK, 0},    {'"', OP_KBUNLOCK, 0},
    {'~', OP_WRAPON, 0},      {'0', OP_WRAPOFF, 0},  {'8', OP_NLON, 0},      {'9', OP_NLOFF, 0},
    {'$', OP_GRON, 0},        {'%', OP_GROFF, 0},    {'U', OP_MONITOR, 0},   {'B', OP_BLOCKON, 0},
    {'C', OP_BLOCKOFF, 0},    {'j', OP_RLF, 0},      {'I', OP_BACKFIELD, 0}, {'i', OP_TAB, 0},
    {'Q', OP_INSCHAR, 0},     {'W', OP_DELCHAR, 0},  {'E', OP_INSLINE, 0},   {'R', OP_DELLINE, 0},
    {'1', OP_SETTAB, 0},      {'2', OP_CLRTAB, 0},   {'3', OP_CLRTABS, 0},   {'@', OP_PRDISPLAY, 0},
    {0x60, OP_PRCTRL, 0},     {'A', OP_NOTHING, 0},  {'a', OP_NOTHING, 0},   {'P', OP_PRSCREEN, 0},
    {'L', OP_PRSCREEN, 0},    {'p', OP_PRTCHAR, 1},  {'?', OP_CURSOR, 0},    {'/', OP_CURSORPAGE, 0},
    {'[', OP_ANSWER, 0},      {'D', OP_ANSWER, 0},   {'*', OP_CLRRESET, 0},  {'+', OP_CLRALL, 0},
    {':', OP_CLRSOME, 0},     {';', OP_CLRSOME, 0},  {',', OP_CLRPROT, 0},   {'Y', OP_EOS, 0},
    {'y', OP_EOS, 0},         {'T', OP_EOL, 0},      {'t', OP_EOL, 0},       {'v', OP_STATE_PERSONA, 0},
    {'.', OP_STATE_SHAPE, 0}, {'F', OP_FILL, 0},     {'6', OP_SEND, 0},      {'4', OP_SEND, 0},
    {'7', OP_SEND, 0},        {'5', OP_SEND, 0},     {'s', OP_SEND, 0},      {'S', OP_SEND, 0},
    {']', OP_TEXT, 0},        {'f', OP_TEXT, 0},     {'e', OP_ERASE25, 0},
};

// After ESC G: SP and 0-? the sixteen combinations, p-DEL the same with
// bold (bit 0 invisible except in '3', bit 1 blink, bit 2 reverse, bit 3
// underline).
constexpr CHATTR kAttr16[16] = {
    0,
    CA_INVIS,
    CA_BLINK,
    CA_INVIS,
    CA_REV,
    CA_REV | CA_INVIS,
    CA_REV | CA_BLINK,
    CA_REV | CA_BLINK | CA_INVIS,
    CA_UNDER,
    CA_UNDER | CA_INVIS,
    CA_UNDER | CA_BLINK,
    CA_UNDER | CA_BLINK | CA_INVIS,
    CA_UNDER | CA_REV,
    CA_UNDER | CA_REV | CA_INVIS,
    CA_UNDER | CA_REV | CA_BLINK,
    CA_UNDER | CA_REV | CA_BLINK | CA_INVIS,
};

const Row* find(const Row* table, size_t n, int c) {
  for (size_t i = 0; i < n; i++)
    if (table[i].c == c) return &table[i];
  return nullptr;
}

}  // namespace

// ---- member selection

int pceminit(te* t, const char* name) {
  TEFAM& f = t->fam;
  if (name && !EmSelectMember(t, pcterm_emlist, name)) return -1;
  t->GetCharSet = PCGetCharSet;
  t->GetTCSChar = PCGetTCSChar;
  t->_prformfd = 1;
  t->_vmaskpar = 0;
  t->_vcharset = 0;
  t->_vmonitor = 0;
  t->_vkbmode |= 0x80;
  setscan(t, 1);
  std::memset(&f, 0, sizeof f);
  f.statcol = -1;
  t->labels = TELABELS{};
  if (t->sblockmode) {
    t->_blokmode = 1;
    t->_vnoscroll = 1;
    t->_protect = 1;
  }
  return 0;
}

void pcemblk(te* t, int c) {
  pcemout(t, c);
}

int PCGetCharSet(te* t, int c) {
  return (c & 0xFF) | (t->_vcharset ? (WY_SET_GRAPHICS << CA_CSET_SHIFT) : 0);
}

// Graphics show the code-page character with bit 7 set.
int PCGetTCSChar(te* t, int c) {
  int set = (c >> CA_CSET_SHIFT) & 0xF, b = c & 0xFF;
  if (set == WY_SET_GRAPHICS) b |= 0x80;
  int v = t->EmCPtoTCS ? t->EmCPtoTCS[b] : 0x200 + b;
  return set == WY_SET_GRAPHICS && v < 0x220 ? 0x220 : v;
}

// ---- characters

static void pc_put(te* t, CHATTR ch) {
  int y = t->vdestline, x = t->vdestcol;
  if (y >= t->vlines) return;
  if (t->_protect && (t->_vscreen[y][x] & CA_PROT)) {
    vbell(t);
    return;
  }
  if (t->pdisptab && !(ch & (CA_TCS | CA_UNI | CA_CSET))) ch = t->pdisptab[ch & 0xFF];
  CHATTR attr = t->_vcurattr | t->_dimattr;
  if (t->_vinsmode) {
    CHATTR saved = t->_vcurattr;
    t->_vcurattr = attr;
    vinsert(t, ch, 1);
    t->_vcurattr = saved;
    return;
  }
  t->_vscreen[y][x] = attr | ch;
  vid_touch_row(t, y, x, x);
  if (x + 1 < t->vcols)
    wy_setcur(t, y, x + 1);
  else if (t->_AMon)
    dowrap(t, 0);
}

static void pc_text(te* t, int c) {
  if (c >= 0x80 && t->MBMode == 1) {
    uint32_t cp[2];
    int n = wy_utf8(t, (unsigned)c, cp);
    for (int i = 0; i < n; i++) pc_put(t, ca_from_unicode(cp[i]));
    return;
  }
  pc_put(t, (CHATTR)PCGetCharSet(t, c));
}

static void pc_glyph(te* t, int c) {
  if (c < 0x20 || c == 0x7F)
    pc_put(t, CA_TCS | (CHATTR)(0x200 + c));
  else
    pc_text(t, c);
}

// ---- commands

static void pc_setattr(te* t, CHATTR bits) {
  EmSetAttr(t, (EmGetDefaultAttr(t) & ~CA_COMBO & ~CA_INVIS) | bits | (t->_vcurattr & CA_COLOR));
}

static void pc_do(te* t, Op op, int cmd) {
  TEFAM& f = t->fam;
  const int a0 = f.args[0], a1 = f.args[1], a2 = f.args[2];
  switch (op) {
    case OP_CR:
      wy_cr(t, 1);
      break;
    case OP_LF:
      wy_linefeed(t, 0);
      break;
    case OP_BS:
      wy_left(t, 1);
      break;
    case OP_ESC:
      f.st = PS_ESC;
      break;
    case OP_BELL:
      vbell(t);
      break;
    case OP_TAB:
      wy_tab(t, 1);
      break;
    case OP_UP:
      wy_up(t);
      break;
    case OP_RIGHT:
      wy_right(t, 1);
      break;
    case OP_DOWN:
      wy_down(t);
      break;
    case OP_HOME:
      wy_home(t, 1);
      break;
    case OP_CLEAR:
    case OP_CLRSOME:
      if (t->_protect)
        wy_clrunprot(t);
      else
        wy_clrall(t, 0);
      break;
    case OP_STATE_ATTR:
      f.st = PS_ATTR;
      break;
    case OP_ADDRESS:
      wy_address(t, a0, a1);
      break;
    case OP_PAGEADDR: {
      int n = a0 & 7;
      wy_page(t, n == 7 ? 1 : n);
      wy_address(t, a1, a2);
      break;
    }
    case OP_SPACE:
      f.st = PS_SPACE;
      f.nargs = 0;
      break;
    case OP_WPOFF:
      t->_dimattr = 0;
      break;
    case OP_WPON:
      t->_dimattr = CA_PROT;
      break;
    case OP_INSON:
      t->_vinsmode = 1;
      break;
    case OP_INSOFF:
      t->_vinsmode = 0;
      break;
    case OP_PROTON:
      t->_protect = 1;
      break;
    case OP_PROTOFF:
      t->_protect = 0;
      break;
    case OP_KBLOCK:
      t->_kdisable = 1;
      break;
    case OP_KBUNLOCK:
      t->_kdisable = 0;
      break;
    case OP_WRAPON:
      t->_AMon = 1;
      break;
    case OP_WRAPOFF:
      t->_AMon = 0;
      break;
    case OP_NLON:
      t->_vnlmode = 1;
      break;
    case OP_NLOFF:
      t->_vnlmode = 0;
      break;
    case OP_GRON:
      t->_vcharset = 1;
      break;
    case OP_GROFF:
      t->_vcharset = 0;
      break;
    case OP_MONITOR:
      t->_vmonitor = 1;
      f.st = PS_MONITOR;
      break;
    case OP_BLOCKON:
      t->_blokmode = 1;
      break;
    case OP_BLOCKOFF:
      t->_blokmode = 0;
      break;
    case OP_RLF:
      wy_revlinefeed(t);
      break;
    case OP_BACKFIELD:
      if (t->_protect) wy_protmove(t, -1, 0, 0);
      break;
    case OP_INSCHAR:
      wy_inschar(t);
      break;
    case OP_DELCHAR:
      wy_delchar(t);
      break;
    case OP_INSLINE:
      wy_insline(t);
      break;
    case OP_DELLINE:
      wy_delline(t);
      break;
    case OP_SETTAB:
      if (t->vdestcol < TE_MAXCOLS) t->_tabs[t->vdestcol] = 1;
      break;
    case OP_CLRTAB:
      if (t->vdestcol < TE_MAXCOLS) t->_tabs[t->vdestcol] = 0;
      break;
    case OP_CLRTABS:
      std::fill(t->_tabs, t->_tabs + TE_MAXCOLS, 0);
      break;
    case OP_PRDISPLAY:
      wy_print_start(t, WY_PRINT_UNTIL_ESC_A, 1);
      break;
    case OP_PRCTRL:
      wy_print_start(t, WY_PRINT_UNTIL_ESC_a, 0);
      break;
    case OP_NOTHING:
      break;
    case OP_PRSCREEN:
      wy_print_screen(t);
      break;
    case OP_PRTCHAR:
      t->_prtchar = a0;
      break;
    case OP_CURSOR:
      wy_replycursor(t, 0);
      break;
    case OP_CURSORPAGE:
      wy_replycursor(t, 1);
      break;
    case OP_ANSWER:
      wy_reply(t, "\0a", 2);
      break;
    case OP_CLRRESET:
      wy_clrall(t, 1);
      break;
    case OP_CLRALL:
      wy_clrall(t, 0);
      break;
    case OP_CLRPROT:
      wy_clrprotblank(t);
      t->_protect = 0;
      break;
    case OP_EOS:
      wy_eraseeos(t);
      break;
    case OP_EOL:
      wy_eraseeol(t);
      break;
    case OP_STATE_PERSONA:
      f.st = PS_PERSONA;
      break;
    case OP_STATE_SHAPE:
      f.st = PS_SHAPE;
      break;
    case OP_FILL:
      testdisp(t, 'H');
      wy_setcur(t, 0, 0);
      break;
    case OP_SEND:
      wy_send(t, cmd == 's' || cmd == 'S' ? cmd : cmd - '0');
      break;
    case OP_TEXT:
      f.st = PS_TEXT;
      break;
    case OP_ERASE25:
      // Row 24 exists only on a screen of 25 rows or more.
      if (t->vlines > 24) {
        int y = t->vdestline, x = t->vdestcol;
        _vclreol(t, 24, 0, 1);
        wy_setcur(t, y, x);
      }
      break;
  }
}

// A byte of a table's state: a row of the table runs (with its arguments);
// any other byte ends the sequence and is dropped (what follows is text,
// not more of a sequence the terminal does not know).
static void pc_lookup(te* t, const Row* table, size_t n, int c) {
  TEFAM& f = t->fam;
  const Row* r = find(table, n, c);
  f.st = PS_GROUND;
  if (!r) return;
  if (r->nargs) {
    f.cmd = c;
    f.need = r->nargs;
    f.nargs = 0;
    f.st = PS_ARGS;
    return;
  }
  pc_do(t, r->op, c);
}

static void pc_byte(te* t, int c) {
  TEFAM& f = t->fam;
  switch (f.st) {
    case PS_GROUND:
      if (c < 0x20 || c == 0x7F) {
        if (wy_utf8_break(t)) pc_put(t, ca_from_unicode(0xFFFD));
        pc_lookup(t, kGround, sizeof kGround / sizeof kGround[0], c);
        return;
      }
      if (c < 0x80 && wy_utf8_break(t)) pc_put(t, ca_from_unicode(0xFFFD));
      pc_text(t, c);
      return;
    case PS_ESC:
      if (c < 0x20 && c != 0x1B) {
        // ESC and a control: the control is written as a character.
        f.st = PS_GROUND;
        pc_glyph(t, c);
        return;
      }
      pc_lookup(t, kEsc, sizeof kEsc / sizeof kEsc[0], c);
      return;
    case PS_ATTR:
      f.st = PS_GROUND;
      if (c == ' ' || (c >= '0' && c <= '?'))
        pc_setattr(t, kAttr16[c == ' ' ? 0 : c - '0']);
      else if (c >= 'p' && c <= 0x7F)
        pc_setattr(t, kAttr16[c - 'p'] | CA_BOLD);
      return;
    case PS_PERSONA:
      f.st = PS_GROUND;
      if (c == '"' || c == '4' || c == '5') {
        t->emode = c == '"'   ? EMODE_WYSE50
                   : c == '4' ? (t->vlines == 25 ? EMODE_WYSE60_25 : EMODE_WYSE60)
                              : EMODE_PCTERM;
        t->tereload = 1;
      }
      return;
    case PS_SHAPE:
      f.st = PS_GROUND;
      if (c >= '0' && c <= '5') wy_cursorshape(t, c - '0');
      return;
    case PS_ARGS:
      f.args[f.nargs++] = c;
      if (f.nargs >= f.need) {
        f.st = PS_GROUND;
        const Row* r = find(kEsc, sizeof kEsc / sizeof kEsc[0], f.cmd);
        if (r) pc_do(t, r->op, f.cmd);
      }
      return;
    case PS_SPACE:
      // SP h and the colour: SUB green, RS yellow, FS red, others white.
      if (f.nargs == 0) {
        f.nargs = 1;
        if (c != 'h') f.st = PS_GROUND;
        return;
      }
      f.st = PS_GROUND;
      if (!t->m_bIgnoreHostColor) {
        int fg = c == 0x1A ? 2 : c == 0x1E ? 14 : c == 0x1C ? 4 : 7;
        CHATTR color = t->_vcurattr & CA_COLOR;
        CHATTR bg = (color == CA_COLOR) ? 0 : (color & CA_BG);
        EmSetAttr(t, (t->_vcurattr & ~CA_COLOR) | bg | ((CHATTR)fg << CA_COLOR_SHIFT));
      }
      return;
    case PS_TEXT:
      if (c == '\r') f.st = PS_GROUND;
      return;
    case PS_MONITOR:
      if (c == 0x1B)
        f.st = PS_MONESC;
      else
        pc_glyph(t, c);
      return;
    case PS_MONESC:
      if (c == 'X' || c == 'u') {
        t->_vmonitor = 0;
        f.st = PS_GROUND;
        return;
      }
      pc_glyph(t, 0x1B);
      if (c == 0x1B) return;
      f.st = PS_MONITOR;
      pc_glyph(t, c);
      return;
    default:
      f.st = PS_GROUND;
      return;
  }
}

static void pc_in(te* t, int c) {
  c &= 0xFF;
  wy_through_printer<pc_byte>(t, c);
}

void pcemout(te* t, int c) {
  pc_in(t, c);
}

// Printable ASCII in ground state with nothing that changes how a
// character is written (protection, insert mode, graphics, a display table,
// the printer, an open UTF-8 sequence), up to the cell before the last
// column, stored at once; the last column wraps through the byte path.
static size_t pc_bulk(te* t, const unsigned char* p, size_t n) {
  const int y = t->vdestline, x = t->vdestcol;
  if (t->fam.st != PS_GROUND || t->_prctrl || t->_protect || t->_vinsmode || t->_vcharset || t->pdisptab ||
      t->unicodeContext.need || y >= t->vlines || x >= t->vcols - 1)
    return 0;
  int run = wy_ascii_run(p, (int)std::min<size_t>(n, (size_t)(t->vcols - 1 - x)));
  if (run == 0) return 0;
  CHATTR* row = t->_vscreen[y];
  const CHATTR attr = t->_vcurattr | t->_dimattr;
  for (int i = 0; i < run; i++) row[x + i] = attr | p[i];
  vid_touch_row(t, y, x, x + run - 1);
  wy_setcur(t, y, x + run);
  return (size_t)run;
}

void pcemwrite(te* t, const unsigned char* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    if ((unsigned)p[i] - 0x20u < 0x5Fu) {
      size_t done = pc_bulk(t, p + i, n - i);
      if (done) {
        i += done;
        continue;
      }
    }
    pc_in(t, p[i++]);
  }
}
