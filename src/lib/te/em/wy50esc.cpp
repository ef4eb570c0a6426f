// Escape sequences of the Wyse 50 family.  A constant table gives, per
// member, which bytes after ESC are commands and how many argument bytes
// follow; w5_command carries them out.
#include <algorithm>
#include <array>

#include "em/em.h"
#include "em/keys.h"
#include "em/wy50state.h"
#include "vid/vid.h"

namespace {

constexpr int A = W5_ADM1, T2 = W5_TVI912, T5 = W5_TVI925, T9 = W5_TVI950, W = W5_WYSE50, D = W5_ADDSVP,
              C = W5_WYCOL, ALL = W5_ALL;
constexpr int SPECIAL = 9;  // a state of its own follows (status text, programming, ...)

struct W5Esc {
  unsigned char c;
  unsigned char members;
  signed char nargs;
};

// Bytes after ESC by member, with the number of argument bytes that follow.
constexpr W5Esc kEsc[] = {
    {0x1B, ALL & ~C, 2},
    {0x1B, C, SPECIAL},
    {'=', ALL, 2},
    {'Y', D, 2},
    {'Y', ALL & ~D, 0},
    {'[', ALL, 0},
    {'\\', ALL, 0},
    {'y', ALL, 0},
    {' ', W, 0},
    {'!', T5 | T9 | W | D | C, 1},
    {'"', ALL, 0},
    {'$', T5 | T9 | C, 0},
    {'%', ALL, 0},
    {'&', ALL, 0},
    {'\'', ALL, 0},
    {'(', ALL, 0},
    {')', ALL, 0},
    {'*', ALL, 0},
    {'+', ALL, 0},
    {',', ALL, 0},
    {'-', ALL, 1},
    {'.', ALL, 1},
    {'/', ALL, 0},
    {'?', ALL, 0},
    {'0', D, 1},
    {'0', W, 0},
    {'1', ALL, 0},
    {'2', ALL, 0},
    {'3', ALL, 0},
    {'4', ALL, 0},
    {'5', ALL, 0},
    {'6', ALL, 0},
    {'7', ALL, 0},
    {'8', ALL & ~(T9 | C), 0},
    {'9', ALL & ~(T9 | C), 0},
    {':', ALL, 0},
    {';', ALL, 0},
    {'@', T2 | T5 | T9 | C, 0},
    {'A', W, 2},
    {'A', A, 0},
    {'B', ALL & ~A, 0},
    {'C', ALL, 0},
    {'D', ALL & ~W, 0},
    {'E', ALL, 0},
    {'F', ALL, SPECIAL},
    {'f', ALL, SPECIAL},
    {'G', ALL, 1},
    {'H', W | D, 1},
    {'I', W, 0},
    {'J', T5 | T9 | W | C, 0},
    {'K', T5 | T9 | C | W | D, 0},
    {'L', ALL, 0},
    {'M', ALL, 0},
    {'N', W, 0},
    {'O', W, 0},
    {'P', ALL, 0},
    {'Q', ALL, 0},
    {'R', ALL, 0},
    {'S', ALL, 0},
    {'T', ALL, 0},
    {'U', ALL, SPECIAL},
    {'W', ALL, 0},
    {']', ALL & ~W, 1},
    {'^', T2, 0},
    {'_', T2, 0},
    {'`', W | D, 1},
    {'`', T5 | T9 | C, 0},
    {'a', W, SPECIAL},
    {'d', W, 1},
    {'h', ALL & ~W, 0},
    {'j', ALL, 0},
    {'k', D | T2, 0},
    {'l', T2 | D, 0},
    {'m', T2, 0},
    {'n', T9 | C, 0},
    {'o', T9 | C, 0},
    {'p', T2 | T5, 1},
    {'p', ALL & ~(T2 | T5), 0},
    {'q', T2 | T5 | W, 0},
    {'r', T9 | W | C, 0},
    {'s', ALL, 0},
    {'t', ALL, 0},
    {'w', W, 1},
    {'x', ALL, 1},
    {'z', W | D, SPECIAL},
    {'{', W, 0},
    {'~', ALL, 1},
};

struct W5Index {
  signed char nargs[7][128];
};

constexpr W5Index w5_index() {
  W5Index ix{};
  for (auto& m : ix.nargs)
    for (auto& v : m) v = -1;
  for (const W5Esc& e : kEsc)
    for (int m = 0; m < 7; m++)
      if ((e.members >> m) & 1) ix.nargs[m][e.c] = e.nargs;
  return ix;
}

constexpr W5Index kIndex = w5_index();

inline int w5_member(te* t) {
  return t->_vemode ? __builtin_ctz((unsigned)t->_vemode) % 7 : 4;
}

}  // namespace

void w5_escape(te* t, int c) {
  TEFAM& f = t->fam;
  if (c >= 0x80) {
    if (c == 0xAA) w5_clrall(t, 0);
    return;
  }
  if (c < 0x20 && c != 0x1B) {
    // ESC and a control: the control is written as a graphics glyph.
    w5_put(t, (CHATTR)c | ((CHATTR)WY_SET_GRAPHICS << CA_CSET_SHIFT));
    return;
  }
  int n = kIndex.nargs[w5_member(t)][c];
  if (n < 0) return;
  f.cmd = c;
  f.nargs = 0;
  if (n == SPECIAL) {
    switch (c) {
      case 0x1B:
        f.need = 0;
        f.st = W5_ALPHA;
        break;
      case 'F':
      case 'f':
        wy_status_open(t, 0, 1);
        f.st = W5_STATUS;
        break;
      case 'U':
        t->_vmonitor = 1;
        f.st = W5_MONITOR;
        break;
      case 'a':
        f.decrow = f.deccol = f.decpart = f.decdigits = 0;
        f.st = W5_DECADDR;
        break;
      case 'z':
        f.st = W5_PROGSEL;
        break;
      default:
        break;
    }
    return;
  }
  if (n > 0) {
    f.need = n;
    f.st = W5_ARGS;
    return;
  }
  w5_command(t, c);
}

// Erase from the cursor to the end of the screen (protected cells stay in
// protect mode).
static void w5_eraseeos(te* t) {
  int y = t->vdestline, x = t->vdestcol;
  for (int r = y; r < t->vlines; r++) w5_erase(t, r, r == y ? x : 0, t->vcols - 1, 1);
  wy_setcur(t, y, x);
}

// Erase unprotected cells to the end of the row (up to the first protected
// cell in protect mode).
static void w5_eraseeol(te* t) {
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

static void w5_page(te* t, int c) {
  if (c == 'B') {
    wy_pagestep(t, -1);
  } else if (c == 'C') {
    wy_pagestep(t, 1);
  } else if (c == '@') {
    TEFAM& f = t->fam;
    f.cmd = 0x100 | 'w';
    f.nargs = 0;
    f.need = 3;
    f.st = W5_ARGS;
  } else {
    int n = c & 7;
    wy_page(t, n == 7 ? 1 : n);
  }
}

void w5_command(te* t, int cmd) {
  TEFAM& f = t->fam;
  const int vm = t->_vemode;
  const int a0 = f.args[0], a1 = f.args[1];
  switch (cmd) {
    case 0x1B:
    case '=':
      wy_address(t, a0, a1);
      break;
    case 'Y':
      if (vm & W5_ADDSVP)
        wy_address(t, a0, a1);
      else
        w5_eraseeos(t);
      break;
    case '[':
    case '\\':
    case 'y':
      w5_eraseeos(t);
      break;
    case ' ':
      wy_reply(t, "50\r", 3);
      break;
    case '!':
      if (vm & W5_WYSE50) {
        if (a0 == ' ' || a0 == '0') w5_clear(t, t->_protect);
      } else if (vm & W5_ADDSVP) {
        // Clear unprotected cells to the attribute given.
        w5_clear(t, t->_protect);
        CHATTR a = w5_calcattr(t, a0);
        for (int y = 0; y < t->vlines; y++) {
          CHATTR* row = t->_vscreen[y];
          for (int x = 0; x < t->vcols; x++)
            if (!(row[x] & CA_PROT)) row[x] = (row[x] & ~w5_keepmask(t)) | (a & w5_keepmask(t));
        }
        vid_touch_rows(t, 0, t->vlines - 1);
      } else if (a0 == '1') {
        t->vlattr[t->vdestline] |= LA_LOCKED;
      } else if (a0 == '2') {
        if (vm & W5_WYCOL)
          for (int y = 0; y < t->vlines; y++) t->vlattr[y] &= (unsigned char)~LA_LOCKED;
        else
          t->vlattr[t->vdestline] &= (unsigned char)~LA_LOCKED;
      }
      break;
    case '"':
      t->_kdisable = 0;
      break;
    case '$':
      t->_vcharset = 1;
      break;
    case '%':
      t->_vcharset = 0;
      break;
    case '&':
      t->_protect = 1;
      wy_protmove(t, 1, 0, 1);
      break;
    case '\'':
      t->_protect = 0;
      break;
    case '(':
      t->_dimattr = 0;
      break;
    case ')':
      t->_dimattr = CA_PROT;
      if (vm & W5_WYCOL) t->_protrev = CA_BOLD;
      break;
    case '*':
      w5_clrall(t, 1);
      break;
    case '+':
      w5_clear(t, (vm & (W5_ADM1 | W5_TVI925 | W5_TVI950 | W5_WYCOL)) && t->_protect);
      break;
    case ',':
      wy_clrprotblank(t);
      if (vm & W5_WYSE50) t->_protect = 0;
      break;
    case '.':
      if (vm & W5_WYSE50) {
        if (a0 >= 0x20 && a0 < 0x7F) wy_clrfill(t, a0, t->_protect);
        t->_protect = 0;
      } else {
        wy_cursorshape(t, a0 - '0');
      }
      break;
    case '/':
      wy_replycursor(t, 1);
      break;
    case '?':
      wy_replycursor(t, 0);
      break;
    case '0':
      if (vm & W5_WYSE50) std::fill(t->_tabs, t->_tabs + TE_MAXCOLS, 0);
      break;
    case '1':
      if (t->vdestcol < TE_MAXCOLS) t->_tabs[t->vdestcol] = 1;
      break;
    case '2':
      if (t->vdestcol < TE_MAXCOLS) t->_tabs[t->vdestcol] = 0;
      break;
    case '3':
      std::fill(t->_tabs, t->_tabs + TE_MAXCOLS, 0);
      break;
    case '4':
    case '5':
    case '6':
    case '7':
      wy_send(t, cmd - '0');
      break;
    case '8':
    case '9':
      w5_put(t, (CHATTR)(cmd == '8' ? '"' : '#') | ((CHATTR)WY_SET_GRAPHICS << CA_CSET_SHIFT));
      break;
    case ':':
      w5_clear(t, !(vm & W5_ADM1) && t->_protect);
      break;
    case ';':
      w5_clear(t, t->_protect);
      break;
    case '@':
      wy_print_start(t, WY_PRINT_UNTIL_ESC_A, 1);
      break;
    case 'A':
      if (vm & W5_ADM1) {
        wy_print_start(t, WY_PRINT_UNTIL_ESC_B, 0);
      } else if (a0 == '0') {
        w5_attrcell(t, w5_calcattr(t, a1), 0);
      } else if (a0 == '1') {
        wy_status_attr(t, w5_calcattr(t, a1));
      }
      break;
    case 'B':
      t->_blokmode = 1;
      break;
    case 'C':
      t->_blokmode = 0;
      break;
    case 'D':
      t->_blokmode = 2;
      break;
    case 'E':
      w5_insline(t);
      break;
    case 'R':
      w5_delline(t);
      break;
    case 'G':
      w5_attrcell(t, w5_calcattr(t, a0), 0);
      break;
    case 'H':
      if (a0 == 0x02)
        t->_vcharset = 1;
      else if (a0 == 0x03)
        t->_vcharset = 0;
      else
        w5_put(t, (CHATTR)a0 | ((CHATTR)WY_SET_GRAPHICS << CA_CSET_SHIFT));
      break;
    case 'I':
      wy_backtab(t);
      break;
    case 'J':
      wy_pagestep(t, -1);
      break;
    case 'K':
      if (vm & (W5_WYSE50 | W5_ADDSVP))
        w5_eraseeol(t);
      else
        wy_pagestep(t, 1);
      break;
    case 'L':
    case 'P':
      wy_print_screen(t);
      break;
    case 'M':
      wy_sendchar(t);
      break;
    case 'N':
      t->_vnoscroll = 1;
      break;
    case 'O':
      t->_vnoscroll = 0;
      break;
    case 'Q':
      w5_inschar(t);
      break;
    case 'S':
    case 's':
      wy_send(t, cmd);
      break;
    case 'T':
    case 't':
      w5_eraseeol(t);
      break;
    case 'W':
      w5_delchar(t);
      break;
    case ']':
      wy_setcur(t, t->vdestline, std::max(a0 - 32, 0));
      break;
    case '^':
      w5_attrcell(t, CA_BLINK, 0);
      break;
    case '_':
      w5_attrcell(t, CA_INVIS, 0);
      break;
    case '`':
      if (vm & (W5_WYSE50 | W5_ADDSVP))
        wy_feature(t, a0);
      else
        wy_print_start(t, WY_PRINT_UNTIL_ESC_a, 0);
      break;
    case 'd':
      if (!wy_aux(t, a0)) wy_print_start(t, WY_PRINT_UNTIL_DC4, 0);
      break;
    case 'h':
      wy_status_remove(t);
      break;
    case 'j':
      if (vm & W5_TVI912)
        w5_attrcell(t, CA_REV, 0);
      else
        wy_revlinefeed(t);
      break;
    case 'k':
      if (vm & W5_ADDSVP)
        w5_eraseeos(t);
      else
        w5_attrcell(t, CA_REV, 1);
      break;
    case 'l':
      if (vm & W5_ADDSVP)
        w5_delline(t);  // ADDS Viewpoint: delete line, as its description says
      else
        w5_attrcell(t, CA_UNDER, 0);
      break;
    case 'm':
      w5_attrcell(t, CA_UNDER, 1);
      break;
    case 'p':
      if (vm & (W5_TVI912 | W5_TVI925))
        t->_prtchar = a0;
      else
        wy_print_screen(t);
      break;
    case 'q':
      if (vm & W5_TVI912)
        w5_attrcell(t, CA_BLINK | CA_INVIS, 1);
      else
        t->_vinsmode = 1;
      break;
    case 'r':
      t->_vinsmode = 0;
      break;
    case 'w':
      w5_page(t, a0);
      break;
    case 0x100 | 'w': {
      int n = a0 & 7;
      wy_page(t, n == 7 ? 1 : n);
      if (a1 - 32 >= 0 && a1 - 32 < t->vlines && f.args[2] - 32 >= 0 && f.args[2] - 32 < t->vcols)
        wy_setcur(t, a1 - 32, f.args[2] - 32);
      break;
    }
    case '{':
      wy_home(t, 0);
      break;
    case '~':
      w5_personality(t, a0);
      break;
    default:
      break;
  }
}
