// Escape sequences of the Wyse 60 family: its own command rows (the rows
// it shares with the Wyse 50 family are in wycmd.h): the extended commands
// after ESC c with character banks and boxes, printer and auxiliary
// commands (ESC d), display commands (ESC e) with the 42 and 43-row pages,
// personality switching; and the byte after ESC.
#include <algorithm>

#include "em/em.h"
#include "em/keys.h"
#include "em/wy60state.h"
#include "vid/vid.h"

constexpr unsigned W60 = WM_WYSE60, W25 = WM_WYSE60_25, ALL = WM_W6;

// The member number of the current sub-mode.
static inline int w6_member(te* t) {
  return __builtin_ctz((t->_vemode & W6_WYSE60_25) ? WM_WYSE60_25 : WM_WYSE60);
}

static void w6_more(te* t, int code);

static void w6_graphic(te* t, int c) {
  w6_put(t, (CHATTR)c | ((CHATTR)WY_SET_GRAPHICS << CA_CSET_SHIFT));
}

// Bank number of a designator byte (0-3 or @-C), or -1.
static int w6_bank(int c) {
  if (c >= '0' && c <= '3') return c - '0';
  if (c >= '@' && c <= 'C') return c - '@';
  return -1;
}

// Boxes (ESC c F, G, H, N): F fills from the cursor to row/column with a character (skipping
// protected cells in protect mode), H fills with protect mode off, G draws
// an outline to row/column, N an outline w columns by h rows.
static void w6_box(te* t, int kind, int a, int b, int ch) {
  const int y0 = t->vdestline, x0 = t->vdestcol;
  int y1, x1;
  if (kind == 'N') {
    y1 = y0 + std::max(b - 32, 1) - 1;
    x1 = x0 + std::max(a - 32, 1) - 1;
  } else {
    y1 = a - 32;
    x1 = b - 32;
  }
  y1 = std::clamp(y1, 0, t->vlines - 1);
  x1 = std::clamp(x1, 0, t->vcols - 1);
  int top = std::min(y0, y1), bottom = std::max(y0, y1), left = std::min(x0, x1), right = std::max(x0, x1);
  const int ins = t->_vinsmode, graph = t->_vcharset, am = t->_AMon, prot = t->_protect;
  t->_vinsmode = 0;
  t->_vcharset = 0;
  if (kind == 'H') t->_protect = 0;
  const CHATTR attr = t->_vcurattr | t->_dimattr;
  auto put = [&](int y, int x, CHATTR c) {
    if (t->_protect && (t->_vscreen[y][x] & CA_PROT)) return;
    t->_vscreen[y][x] = attr | c;
  };
  if (kind == 'F' || kind == 'H') {
    CHATTR c = (ch - 32) <= 0 ? CA_BLANK : (CHATTR)((ch - 32) & 0xFF);
    for (int y = top; y <= bottom; y++)
      for (int x = left; x <= right; x++) put(y, x, c);
  } else {
    const CHATTR g = (CHATTR)WY_SET_GRAPHICS << CA_CSET_SHIFT;
    // Line-graphics codes of the set: ─ ┌ ┐ └ ┘ │.
    const CHATTR h = g | 0x3A, tl = g | 0x32, tr = g | 0x33, bl = g | 0x31, br = g | 0x35, v = g | 0x36;
    for (int x = left; x <= right; x++) {
      put(top, x, h);
      put(bottom, x, h);
    }
    for (int y = top; y <= bottom; y++) {
      put(y, left, v);
      put(y, right, v);
    }
    put(top, left, tl);
    put(top, right, tr);
    put(bottom, left, bl);
    put(bottom, right, br);
  }
  for (int y = top; y <= bottom; y++) vid_touch_row(t, y, left, right);
  t->_vinsmode = ins;
  t->_vcharset = graph;
  t->_AMon = am;
  t->_protect = prot;
  wy_setcur(t, y0, x0);
}

static void w6_rows(te* t, int rows, int flags) {
  wy_clrall(t, 0);
  _vsetsize(t, rows + t->vstatus, t->vcols, 1, 0);
  t->teflags = (t->teflags & ~(TF_WY60PAGE1 | TF_WY60PAGE2)) | flags;
  wa_sync(t);
  wy_clrall(t, 0);
}

static void w6_personality(te* t, int c) {
  switch (c) {
    case ' ':
      t->_venhanced = 0;
      break;
    case '!':
      t->_venhanced = 1;
      break;
    case '2':
      t->_appkey = 0;
      break;
    case '3':
      t->_appkey = 1;
      break;
    case '"':
      t->emode = EMODE_WYSE50;
      t->tereload = 1;
      break;
    case '4':
      t->emode = t->vlines == 25 ? EMODE_WYSE60_25 : EMODE_WYSE60;
      t->tereload = 1;
      break;
    case '5':
      t->emode = EMODE_PCTERM;
      t->tereload = 1;
      break;
    default:
      break;
  }
}

static void w6_box_cmd(te* t, int c) {
  const TEFAM& f = t->fam;
  w6_box(t, c, f.args[0], f.args[1], (c == 'F' || c == 'H') ? f.args[2] : 0);
}

static void w6_eraseeos(te* t, int) {
  wy_eraseeos(t);
}

static void w6_eraseeol(te* t, int) {
  wy_eraseeol(t);
}

// ESC A area code: 0 sets the current attribute; 1 the status line's
// (not on the Wyse 60-25).
static void w6_area_attr(te* t, int) {
  const int a0 = t->fam.args[0], a1 = t->fam.args[1];
  if (a0 == '0') EmSetAttr(t, EmGetDefaultAttr(t) | w5_calcattr(t, a1));
}

static void w6_area_attr_status(te* t, int c) {
  const int a0 = t->fam.args[0], a1 = t->fam.args[1];
  if (a0 == '1')
    wy_status_attr(t, w5_calcattr(t, a1));
  else
    w6_area_attr(t, c);
}

// The Wyse 60 family's own rows.
constexpr WyCmd kW6Rows[] = {
    {' ', 0, ALL, [](te* t, int) { wy_reply(t, "60\r", 3); }},
    // Erase to the end of the screen.
    {'Y', 0, ALL, w6_eraseeos},
    {'[', 0, ALL, w6_eraseeos, '\\'},
    {'y', 0, ALL, w6_eraseeos},
    // Erase unprotected cells to the end of the line.
    {'T', 0, ALL, w6_eraseeol},
    {'t', 0, ALL, w6_eraseeol},
    // Page, row and column (each applied when inside the screen).
    {'-', 3, ALL,
     [](te* t, int) {
       const int* a = t->fam.args;
       const int n = a[0] & 7;
       wy_page(t, n == 7 ? 1 : n);
       const int y = a[1] - 32, x = a[2] - 32;
       if (y >= 0 && y < t->vlines) wy_setcur(t, y, t->vdestcol);
       if (x >= 0 && x < t->vcols) wy_setcur(t, t->vdestline, x);
     }},
    // Graphics characters " and #.
    {'8', 0, ALL, [](te* t, int c) { w6_graphic(t, c == '8' ? '"' : '#'); }, '9'},
    {'A', 2, W60, w6_area_attr_status},
    {'A', 2, W25, w6_area_attr},
    // Lines and characters.
    {'E', 0, ALL, [](te* t, int) { wy_insline(t); }},
    {'R', 0, ALL, [](te* t, int) { wy_delline(t); }},
    {'Q', 0, ALL, [](te* t, int) { wy_inschar(t); }},
    {'W', 0, ALL, [](te* t, int) { wy_delchar(t); }},
    {'G', 1, ALL, [](te* t, int) { EmSetAttr(t, EmGetDefaultAttr(t) | w5_calcattr(t, t->fam.args[0])); }},
    // ESC H x: STX graphics on, ETX off, any other byte one graphics
    // character.
    {'H', 1, ALL,
     [](te* t, int) {
       const int a0 = t->fam.args[0];
       if (a0 == 0x02)
         t->_vcharset = 1;
       else if (a0 == 0x03)
         t->_vcharset = 0;
       else
         w6_graphic(t, a0);
     }},
    {'i', 0, ALL, [](te* t, int) { wy_tab(t, 1); }},
    // ESC Z key text DEL programs a key, as ESC z does.
    {'Z', 0, ALL, [](te* t, int) { t->fam.st = WY_PROGDIR; }},
    {'c', 0, ALL, [](te* t, int) { t->fam.st = WY_ESCC; }},
    // Printer and auxiliary commands: autowrap off and on, printer 0-2, the
    // diversion (ESC d # without a port starts the printer).
    {'d', 1, ALL,
     [](te* t, int) {
       const int a0 = t->fam.args[0];
       switch (a0) {
         case '.':
           t->_AMon = 0;
           break;
         case '/':
           t->_AMon = 1;
           break;
         case '0':
         case '1':
         case '2':
           t->current_printer = a0 - '0';
           break;
         default:
           if (!wy_aux(t, a0)) wy_print_start(t, WY_PRINT_UNTIL_DC4, 0);
           break;
       }
     }},
    // Display commands: caps lock on and off; 24, 25, 42 and 43 rows.
    {'e', 1, ALL,
     [](te* t, int) {
       switch (t->fam.args[0]) {
         case '&':
           t->_vcapslock = 1;
           break;
         case '\'':
           t->_vcapslock = 0;
           break;
         case '(':
           w6_rows(t, 24, 0);
           break;
         case ')':
           w6_rows(t, 25, TF_WY60PAGE1);
           break;
         case '*':
           w6_rows(t, 42, TF_WY60PAGE2);
           break;
         case '+':
           w6_rows(t, 43, TF_WY60PAGE1 | TF_WY60PAGE2);
           break;
         default:
           break;
       }
     }},
    // Pages: ESC w B previous, C next, @ as ESC -, otherwise page x & 7
    // (7 meaning 1).
    {'w', 1, ALL,
     [](te* t, int) {
       const int a0 = t->fam.args[0];
       if (a0 == 'B') {
         wy_pagestep(t, -1);
       } else if (a0 == 'C') {
         wy_pagestep(t, 1);
       } else if (a0 == '@') {
         w6_more(t, '-');
       } else {
         const int n = a0 & 7;
         wy_page(t, n == 7 ? 1 : n);
       }
     }},
    {'~', 1, ALL, [](te* t, int) { w6_personality(t, t->fam.args[0]); }},

    // Extended commands, the byte after ESC c.  1-7 and 8 take bytes
    // without effect.
    {WY_SUB | '1', 1, ALL, wy_cmd_nothing, WY_SUB | '7'},
    {WY_SUB | '8', 3, ALL, wy_cmd_nothing},
    // Character banks, each command with a bank designator: ? resets the
    // bank to the normal set, @ loads it (A: the PC set), B and C choose the
    // primary and secondary bank; D and E make the primary's or the
    // secondary's set the current one.
    {WY_SUB | '?', 1, ALL,
     [](te* t, int) {
       const int b = w6_bank(t->fam.args[0]);
       if (b >= 0) t->fam.bank[b] = 0;
     }},
    {WY_SUB | '@', 2, ALL,
     [](te* t, int) {
       TEFAM& f = t->fam;
       const int b = w6_bank(f.args[0]);
       if (b >= 0) f.bank[b] = f.args[1] == 'A' ? WY_SET_PC : 0;
     }},
    {WY_SUB | 'B', 1, ALL,
     [](te* t, int) {
       const int b = w6_bank(t->fam.args[0]);
       if (b >= 0) t->fam.bankp = b;
     }},
    {WY_SUB | 'C', 1, ALL,
     [](te* t, int) {
       const int b = w6_bank(t->fam.args[0]);
       if (b >= 0) t->fam.banks = b;
     }},
    {WY_SUB | 'D', 0, ALL, [](te* t, int) { t->fam.gset = t->fam.bank[t->fam.bankp & 3]; }},
    {WY_SUB | 'E', 0, ALL, [](te* t, int) { t->fam.gset = t->fam.bank[t->fam.banks & 3]; }},
    {WY_SUB | 'A', 0, ALL, [](te* t, int) { t->fam.st = WY_TOEM; }},
    // Boxes.
    {WY_SUB | 'F', 3, ALL, w6_box_cmd},
    {WY_SUB | 'H', 3, ALL, w6_box_cmd},
    {WY_SUB | 'G', 2, ALL, w6_box_cmd},
    {WY_SUB | 'N', 2, ALL, w6_box_cmd},
    // Erase to the end of the line; clear the programmed keys.
    {WY_SUB | 'L', 0, ALL, w6_eraseeol},
    {WY_SUB | 'O', 0, ALL, w6_eraseeol},
    {WY_SUB | 'R', 0, ALL, w6_eraseeol},
    {WY_SUB | 'S', 0, ALL, w6_eraseeol},
    {WY_SUB | 'U', 0, ALL, [](te* t, int) { clrprgkeys(t); }},
};

constexpr auto kW6 = wy_table(kWyShared, kW6Rows, WM_W6);

// A command's second level, started by its first.
static void w6_more(te* t, int code) {
  wy_start(t, kW6, w6_member(t), code);
}

void w6_escape(te* t, int c) {
  if (c >= 0x80) {
    if (c == 0xAA) wy_clrall(t, 0);
    return;
  }
  if (c < 0x20 && c != 0x1B) {
    w6_graphic(t, c);
    return;
  }
  wy_start(t, kW6, w6_member(t), c);
}

void w6_escarg(te* t, int c) {
  wy_arg(t, kW6, c);
}

void w6_escc(te* t, int c) {
  if (c < 0x80) wy_start(t, kW6, w6_member(t), WY_SUB | c);
}
