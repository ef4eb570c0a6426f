// Escape sequences of the Wyse 50 family: its own command rows (the rows
// it shares with the Wyse 60 are in wycmd.h) and the handlers they need,
// and the byte after ESC.
#include <algorithm>

#include "em/em.h"
#include "em/keys.h"
#include "em/wy50state.h"
#include "em/wycmd.h"
#include "vid/vid.h"

// Erase from the cursor to the end of the screen (protected cells stay in
// protect mode).
static void w5_eraseeos(te* t, int) {
  int y = t->vdestline, x = t->vdestcol;
  for (int r = y; r < t->vlines; r++) w5_erase(t, r, r == y ? x : 0, t->vcols - 1, 1);
  wy_setcur(t, y, x);
}

// Erase unprotected cells to the end of the row (up to the first protected
// cell in protect mode).
static void w5_eraseeol(te* t, int) {
  int y = t->vdestline, x = t->vdestcol;
  wa_row(t, y);
  int end = t->vcols;
  if (t->_protect)
    for (int c = x; c < t->vcols; c++)
      if (t->_vscreen[y][c] & CA_PROT) {
        end = c;
        break;
      }
  w5_erase(t, y, x, end - 1, 0);
  wy_setcur(t, y, x);
}

// Line insertion and deletion: the new or moved rows take the attribute in
// effect where they start.
static void w5_insline(te* t) {
  int y = t->vdestline;
  wy_insline(t);
  wa_prop(t, y, 0, w5_prevattr(t, y, 0), w5_keepmask(t), 0);
  wy_setcur(t, y, 0);
}

static void w5_delline(te* t) {
  int y = t->vdestline;
  wy_delline(t);
  w5_repaint(t, y, 0);
  wy_setcur(t, y, 0);
}

static void w5_inschar(te* t) {
  int y = t->vdestline, x = t->vdestcol;
  wa_row(t, y);
  CHATTR c = t->_vscreen[y][x];
  CHATTR a = (c & CA_EMBED) ? w5_prevattr(t, y, x) | (EmGetDefaultAttr(t) & CA_ATTRPART & ~w5_keepmask(t))
                            : c & CA_ATTRPART & ~(CA_EMBED | CA_PROT);
  CHATTR saved = t->_vcurattr;
  t->_vcurattr = a;
  wy_inschar(t);
  t->_vcurattr = saved;
}

static void w5_delchar(te* t) {
  int y = t->vdestline, x = t->vdestcol;
  wa_row(t, y);
  CHATTR* row = t->_vscreen[y];
  bool removed = (row[x] & CA_EMBED) != 0;
  CHATTR saved = t->_vcurattr;
  t->_vcurattr = row[t->vcols - 1] & CA_ATTRPART & ~(CA_EMBED | CA_PROT);
  wy_delchar(t);
  t->_vcurattr = saved;
  if (removed) w5_repaint(t, y, x);
}

// The clear of SUB, ESC +, ESC ; and their kin: unprotected cells in
// protect mode, else everything.
static void w5_clear(te* t, bool unprot) {
  if (unprot)
    wy_clrunprot(t);
  else
    w5_clrall(t, 0);
}

static void w5_personality(te* t, int c) {
  int vm = 0;
  switch (c) {
    case '%':
      vm = W5_ADDSVP;
      break;
    case '(':
      vm = W5_TVI950;
      break;
    case '@':
      vm = W5_WYSE50;
      break;
    case 'A':
      vm = W5_WYCOL;
      break;
    default:
      return;
  }
  wa_flush(t);
  t->_vemode = vm;
  t->fam.keep = w5_keepmask(t);
}

constexpr unsigned A = WM_ADM1, T2 = WM_TVI912, T5 = WM_TVI925, T9 = WM_TVI950, W = WM_WYSE50, D = WM_ADDSVP,
                   C = WM_WYCOL, ALL = WM_W5;

// The member number of the current sub-mode (its lowest bit; the Wyse 50
// when none is set).
static inline int w5_member(te* t) {
  return t->_vemode ? __builtin_ctz((unsigned)t->_vemode) % 7 : __builtin_ctz(WM_WYSE50);
}

static void w5_more(te* t, int code);

static void w5_graphic(te* t, int c) {
  w5_put(t, (CHATTR)c | ((CHATTR)WY_SET_GRAPHICS << CA_CSET_SHIFT));
}

// Clear all; ADM-1 and Wyse 50 leave protect mode.
static void w5_clrall0(te* t, int) {
  w5_clrall(t, 0);
}

// The Wyse 50 family's own rows.
constexpr WyCmd kW5Rows[] = {
    // WYCOL alpha-control text.
    {0x1B, 0, C,
     [](te* t, int) {
       t->fam.nargs = t->fam.need = 0;
       t->fam.st = WY_ALPHA;
     }},
    {'Y', 2, D, wy_cmd_address},
    // Erase to the end of the screen.
    {'Y', 0, ALL & ~D, w5_eraseeos},
    {'[', 0, ALL, w5_eraseeos, '\\'},
    {'y', 0, ALL, w5_eraseeos},
    {'k', 0, D, w5_eraseeos},
    {' ', 0, W, [](te* t, int) { wy_reply(t, "50\r", 3); }},
    // ESC ! x: Wyse 50 clear (x SP or 0); Viewpoint clear of unprotected
    // cells to attribute x; line lock on (x 1) and off (x 2), which on the
    // WYCOL unlocks every row.
    {'!', 1, W,
     [](te* t, int) {
       const int a0 = t->fam.args[0];
       if (a0 == ' ' || a0 == '0') w5_clear(t, t->_protect);
     }},
    {'!', 1, D,
     [](te* t, int) {
       w5_clear(t, t->_protect);
       const CHATTR a = w5_calcattr(t, t->fam.args[0]);
       for (int y = 0; y < t->vlines; y++) {
         CHATTR* row = t->_vscreen[y];
         for (int x = 0; x < t->vcols; x++)
           if (!(row[x] & CA_PROT)) row[x] = (row[x] & ~w5_keepmask(t)) | (a & w5_keepmask(t));
       }
       vid_touch_rows(t, 0, t->vlines - 1);
     }},
    {'!', 1, T5 | T9,
     [](te* t, int) {
       const int a0 = t->fam.args[0];
       if (a0 == '1')
         t->vlattr[t->vdestline] |= LA_LOCKED;
       else if (a0 == '2')
         t->vlattr[t->vdestline] &= (unsigned char)~LA_LOCKED;
     }},
    {'!', 1, C,
     [](te* t, int) {
       const int a0 = t->fam.args[0];
       if (a0 == '1')
         t->vlattr[t->vdestline] |= LA_LOCKED;
       else if (a0 == '2')
         for (int y = 0; y < t->vlines; y++) t->vlattr[y] &= (unsigned char)~LA_LOCKED;
     }},
    {'$', 0, T5 | T9 | C, [](te* t, int) { t->_vcharset = 1; }},
    // Write protect on; the WYCOL shows protected cells bold.
    {')', 0, C,
     [](te* t, int) {
       t->_dimattr = CA_PROT;
       t->_protrev = CA_BOLD;
     }},
    // Clears: ESC + clears unprotected cells in protect mode on these
    // members and everything (leaving protect mode) on the Wyse 50; ESC :
    // on the ADM-1 clears everything; ESC , to protected blanks.
    {'+', 0, A | T5 | T9 | C, wy_cmd_clear},
    {'+', 0, W, w5_clrall0},
    {':', 0, A, w5_clrall0},
    {',', 0, ALL & ~W, [](te* t, int) { wy_clrprotblank(t); }},
    {'-', 1, ALL, wy_cmd_nothing},
    {'.', 1, ALL & ~W, [](te* t, int) { wy_cursorshape(t, t->fam.args[0] - '0'); }},
    {'0', 1, D, wy_cmd_nothing},
    // Graphics characters " and #.
    {'8', 0, ALL & ~(T9 | C), [](te* t, int c) { w5_graphic(t, c == '8' ? '"' : '#'); }, '9'},
    // Printing modes: with display to ESC A, controller mode to ESC B
    // (ADM-1) or ESC a.
    {'@', 0, T2 | T5 | T9 | C, [](te* t, int) { wy_print_start(t, WY_PRINT_UNTIL_ESC_A, 1); }},
    {'A', 0, A, [](te* t, int) { wy_print_start(t, WY_PRINT_UNTIL_ESC_B, 0); }},
    {'`', 0, T5 | T9 | C, [](te* t, int) { wy_print_start(t, WY_PRINT_UNTIL_ESC_a, 0); }},
    // Wyse 50 ESC A area code: an attribute cell (0) or the status line's
    // attribute (1).
    {'A', 2, W,
     [](te* t, int) {
       const int a0 = t->fam.args[0], a1 = t->fam.args[1];
       if (a0 == '0')
         w5_attrcell(t, w5_calcattr(t, a1), 0);
       else if (a0 == '1')
         wy_status_attr(t, w5_calcattr(t, a1));
     }},
    {'D', 0, ALL & ~W, [](te* t, int) { t->_blokmode = 2; }},
    // Lines and characters.
    {'E', 0, ALL, [](te* t, int) { w5_insline(t); }},
    {'R', 0, ALL, [](te* t, int) { w5_delline(t); }},
    {'l', 0, D, [](te* t, int) { w5_delline(t); }},  // as the Viewpoint's description says
    {'Q', 0, ALL, [](te* t, int) { w5_inschar(t); }},
    {'W', 0, ALL, [](te* t, int) { w5_delchar(t); }},
    // Erase unprotected cells to the end of the line.
    {'K', 0, W | D, w5_eraseeol},
    {'T', 0, ALL, w5_eraseeol},
    {'t', 0, ALL, w5_eraseeol},
    // Attribute cells: ESC G code; the Televideo 912's blink, blank,
    // reverse and underline cells and their ends.
    {'G', 1, ALL, [](te* t, int) { w5_attrcell(t, w5_calcattr(t, t->fam.args[0]), 0); }},
    {'^', 0, T2, [](te* t, int) { w5_attrcell(t, CA_BLINK, 0); }},
    {'_', 0, T2, [](te* t, int) { w5_attrcell(t, CA_INVIS, 0); }},
    {'j', 0, T2, [](te* t, int) { w5_attrcell(t, CA_REV, 0); }},
    {'k', 0, T2, [](te* t, int) { w5_attrcell(t, CA_REV, 1); }},
    {'l', 0, T2, [](te* t, int) { w5_attrcell(t, CA_UNDER, 0); }},
    {'m', 0, T2, [](te* t, int) { w5_attrcell(t, CA_UNDER, 1); }},
    {'q', 0, T2, [](te* t, int) { w5_attrcell(t, CA_BLINK | CA_INVIS, 1); }},
    // ESC H x: STX graphics on, ETX off, any other byte one graphics
    // character.
    {'H', 1, W | D,
     [](te* t, int) {
       const int a0 = t->fam.args[0];
       if (a0 == 0x02)
         t->_vcharset = 1;
       else if (a0 == 0x03)
         t->_vcharset = 0;
       else
         w5_graphic(t, a0);
     }},
    {']', 1, ALL & ~W, [](te* t, int) { wy_setcur(t, t->vdestline, std::max(t->fam.args[0] - 32, 0)); }},
    // Auxiliary diversion; ESC d # without a port starts the printer.
    {'d', 1, W,
     [](te* t, int) {
       if (!wy_aux(t, t->fam.args[0])) wy_print_start(t, WY_PRINT_UNTIL_DC4, 0);
     }},
    // Screen on and off: nothing to do.
    {'n', 0, T9 | C, wy_cmd_nothing, 'o'},
    {'p', 1, T2 | T5, [](te* t, int) { t->_prtchar = t->fam.args[0]; }},
    // Pages: ESC w B previous, C next, @ page, row and column follow,
    // otherwise page x & 7 (7 meaning 1).
    {'w', 1, W,
     [](te* t, int) {
       const int a0 = t->fam.args[0];
       if (a0 == 'B') {
         wy_pagestep(t, -1);
       } else if (a0 == 'C') {
         wy_pagestep(t, 1);
       } else if (a0 == '@') {
         w5_more(t, WY_SUB | 'w');
       } else {
         const int n = a0 & 7;
         wy_page(t, n == 7 ? 1 : n);
       }
     }},
    {WY_SUB | 'w', 3, W,
     [](te* t, int) {
       const int* a = t->fam.args;
       const int n = a[0] & 7;
       wy_page(t, n == 7 ? 1 : n);
       if (a[1] - 32 >= 0 && a[1] - 32 < t->vlines && a[2] - 32 >= 0 && a[2] - 32 < t->vcols)
         wy_setcur(t, a[1] - 32, a[2] - 32);
     }},
    {'~', 1, ALL, [](te* t, int) { w5_personality(t, t->fam.args[0]); }},
};

constexpr auto kW5 = wy_table(kWyShared, kW5Rows, WM_W5);

// A command's second level, started by its first.
static void w5_more(te* t, int code) {
  wy_start(t, kW5, w5_member(t), code);
}

void w5_escape(te* t, int c) {
  if (c >= 0x80) {
    if (c == 0xAA) w5_clrall(t, 0);
    return;
  }
  if (c < 0x20 && c != 0x1B) {
    // ESC and a control: the control is written as a graphics glyph.
    w5_graphic(t, c);
    return;
  }
  wy_start(t, kW5, w5_member(t), c);
}

void w5_escarg(te* t, int c) {
  wy_arg(t, kW5, c);
}
