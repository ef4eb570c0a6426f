// The Wyse 60 family (Wyse 60 and its 25-row form): per-character
// attributes, the Wyse 50 command set with the Wyse 60's own commands
// (extended commands ESC c with character banks and boxes, printer and
// auxiliary commands ESC d, display commands ESC e with the 42 and 43-row
// pages, personality switching), and the bulk path for plain text.
#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "em/em.h"
#include "em/keys.h"
#include "em/wy50state.h"
#include "em/wyse.h"
#include "vid/vid.h"

const TEPROC wy60_procs = {wy60emout, wy60emkey, wy60emblk, wy60eminit, wy60emwrite};

namespace {

enum : int {
  W6_GROUND = 0,
  W6_ESC,
  W6_ARGS,
  W6_STATUS,
  W6_PROGDIR,  // ESC Z: an optional 0/1/2 before the key selector
  W6_PROGSEL,
  W6_PROG,
  W6_MONITOR,
  W6_MONESC,
  W6_DECADDR,
  W6_ESCC,  // ESC c: the extended command byte
  W6_TOEM,  // ESC c A: bytes ignored up to EM
};

constexpr int SPECIAL = 9;

// Bytes after ESC with the number of argument bytes that follow (-1: not
// a command).
constexpr std::array<signed char, 128> w6_index() {
  std::array<signed char, 128> ix{};
  for (auto& v : ix) v = -1;
  for (unsigned char c : std::string_view(" \"%&'()*+,/?0123456789:;BCEIJKLMNOPQRSTWY[\\hijpqrsty{"))
    ix[c] = 0;
  for (unsigned char c : std::string_view("G.Hdewx`~")) ix[c] = 1;
  ix[0x1B] = 2;
  ix['='] = 2;
  ix['A'] = 2;
  ix['-'] = 3;
  for (unsigned char c : std::string_view("FfUZacz")) ix[c] = SPECIAL;
  return ix;
}

constexpr std::array<signed char, 128> kIndex = w6_index();

}  // namespace

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

static void w6_put(te* t, CHATTR ch) {
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
      wy_print_start(t, 1, 1);
      break;
    case 0x16:
      wy_down(t);
      break;
    case 0x18:
      if (!t->_venhanced) wy_print_start(t, 1, 0);
      break;
    case 0x1A:
      if (t->_protect)
        wy_clrunprot(t);
      else
        wy_clrall(t, 0);
      break;
    case 0x1B:
      t->fam.st = W6_ESC;
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

// ---- extended commands (ESC c)

// Bank number of a designator byte (0-3 or @-C), or -1.
static int w6_bank(int c) {
  if (c >= '0' && c <= '3') return c - '0';
  if (c >= '@' && c <= 'C') return c - '@';
  return -1;
}

// Boxes: F fills from the cursor to row/column with a character (skipping
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

// The byte after ESC c: how many argument bytes follow (-1: done now).
static int w6_escc(te* t, int c) {
  TEFAM& f = t->fam;
  if (c >= '1' && c <= '7') return 1;
  switch (c) {
    case '8':
      return 3;
    case '?':
    case 'B':
    case 'C':
      return 1;
    case '@':
      return 2;
    case 'A':
      f.st = W6_TOEM;
      return -2;
    case 'D':
      f.gset = f.bank[f.bankp & 3];
      return -1;
    case 'E':
      f.gset = f.bank[f.banks & 3];
      return -1;
    case 'F':
    case 'H':
      return 3;
    case 'G':
    case 'N':
      return 2;
    case 'L':
    case 'O':
    case 'R':
    case 'S':
      wy_eraseeol(t);
      return -1;
    case 'U':
      clrprgkeys(t);
      return -1;
    default:
      return -1;
  }
}

static void w6_extended(te* t, int c) {
  TEFAM& f = t->fam;
  int b = w6_bank(f.args[0]);
  switch (c) {
    case '?':
      if (b >= 0) f.bank[b] = 0;
      break;
    case '@':
      if (b >= 0) f.bank[b] = f.args[1] == 'A' ? WY_SET_PC : 0;
      break;
    case 'B':
      if (b >= 0) f.bankp = b;
      break;
    case 'C':
      if (b >= 0) f.banks = b;
      break;
    case 'F':
    case 'H':
      w6_box(t, c, f.args[0], f.args[1], f.args[2]);
      break;
    case 'G':
    case 'N':
      w6_box(t, c, f.args[0], f.args[1], 0);
      break;
    default:
      break;
  }
}

// ---- escape commands

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

static void w6_command(te* t, int cmd) {
  TEFAM& f = t->fam;
  const int a0 = f.args[0], a1 = f.args[1];
  if (cmd & 0x200) {
    w6_extended(t, cmd & 0xFF);
    return;
  }
  switch (cmd) {
    case 0x1B:
    case '=':
      wy_address(t, a0, a1);
      break;
    case 'Y':
    case '[':
    case '\\':
    case 'y':
      wy_eraseeos(t);
      break;
    case ' ':
      wy_reply(t, "60\r", 3);
      break;
    case '"':
      t->_kdisable = 0;
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
      break;
    case '*':
      wy_clrall(t, 1);
      break;
    case '+':
      wy_clrall(t, 0);
      break;
    case ',':
      wy_clrprotblank(t);
      t->_protect = 0;
      break;
    case '-': {
      int n = a0 & 7;
      wy_page(t, n == 7 ? 1 : n);
      int y = a1 - 32, x = f.args[2] - 32;
      if (y >= 0 && y < t->vlines) wy_setcur(t, y, t->vdestcol);
      if (x >= 0 && x < t->vcols) wy_setcur(t, t->vdestline, x);
      break;
    }
    case '.':
      if (a0 >= 0x20 && a0 < 0x7F) wy_clrfill(t, a0, t->_protect);
      t->_protect = 0;
      break;
    case '/':
      wy_replycursor(t, 1);
      break;
    case '?':
      wy_replycursor(t, 0);
      break;
    case '0':
    case '3':
      std::fill(t->_tabs, t->_tabs + TE_MAXCOLS, 0);
      break;
    case '1':
      if (t->vdestcol < TE_MAXCOLS) t->_tabs[t->vdestcol] = 1;
      break;
    case '2':
      if (t->vdestcol < TE_MAXCOLS) t->_tabs[t->vdestcol] = 0;
      break;
    case '4':
    case '5':
    case '6':
    case '7':
      wy_send(t, cmd - '0');
      break;
    case '8':
    case '9':
      w6_put(t, (CHATTR)(cmd == '8' ? '"' : '#') | ((CHATTR)WY_SET_GRAPHICS << CA_CSET_SHIFT));
      break;
    case ':':
    case ';':
      if (t->_protect)
        wy_clrunprot(t);
      else
        wy_clrall(t, 0);
      break;
    case 'A':
      if (a0 == '0')
        EmSetAttr(t, EmGetDefaultAttr(t) | w5_calcattr(t, a1));
      else if (a0 == '1' && !(t->_vemode & W6_WYSE60_25))
        wy_status_attr(t, w5_calcattr(t, a1));
      break;
    case 'B':
      t->_blokmode = 1;
      break;
    case 'C':
      t->_blokmode = 0;
      break;
    case 'E':
      wy_insline(t);
      break;
    case 'R':
      wy_delline(t);
      break;
    case 'G':
      EmSetAttr(t, EmGetDefaultAttr(t) | w5_calcattr(t, a0));
      break;
    case 'H':
      if (a0 == 0x02)
        t->_vcharset = 1;
      else if (a0 == 0x03)
        t->_vcharset = 0;
      else
        w6_put(t, (CHATTR)a0 | ((CHATTR)WY_SET_GRAPHICS << CA_CSET_SHIFT));
      break;
    case 'I':
      wy_backtab(t);
      break;
    case 'i':
      wy_tab(t, 1);
      break;
    case 'J':
      wy_pagestep(t, -1);
      break;
    case 'K':
      wy_pagestep(t, 1);
      break;
    case 'L':
    case 'P':
    case 'p':
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
      wy_inschar(t);
      break;
    case 'S':
    case 's':
      wy_send(t, cmd);
      break;
    case 'T':
    case 't':
      wy_eraseeol(t);
      break;
    case 'W':
      wy_delchar(t);
      break;
    case '`':
      wy_feature(t, a0);
      break;
    case 'd':
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
          if (!wy_aux(t, a0)) wy_print_start(t, 1, 0);
          break;
      }
      break;
    case 'e':
      switch (a0) {
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
      break;
    case 'h':
      if (!(t->_vemode & W6_WYSE60_25)) wy_status_remove(t);
      break;
    case 'j':
      wy_revlinefeed(t);
      break;
    case 'q':
      t->_vinsmode = 1;
      break;
    case 'r':
      t->_vinsmode = 0;
      break;
    case 'w':
      if (a0 == 'B') {
        wy_pagestep(t, -1);
      } else if (a0 == 'C') {
        wy_pagestep(t, 1);
      } else if (a0 == '@') {
        f.cmd = '-';
        f.nargs = 0;
        f.need = 3;
        f.st = W6_ARGS;
      } else {
        int n = a0 & 7;
        wy_page(t, n == 7 ? 1 : n);
      }
      break;
    case '{':
      wy_home(t, 0);
      break;
    case '~':
      w6_personality(t, a0);
      break;
    default:
      break;
  }
}

static void w6_escape(te* t, int c) {
  TEFAM& f = t->fam;
  if (c >= 0x80) {
    if (c == 0xAA) wy_clrall(t, 0);
    return;
  }
  if (c < 0x20 && c != 0x1B) {
    w6_put(t, (CHATTR)c | ((CHATTR)WY_SET_GRAPHICS << CA_CSET_SHIFT));
    return;
  }
  int n = kIndex[c];
  if (n < 0) return;
  f.cmd = c;
  f.nargs = 0;
  if (n == SPECIAL) {
    switch (c) {
      case 'F':
      case 'f':
        if (f.labelmode && c == 'f') {
          f.st = W6_STATUS;
          f.statcol = -1;
          break;
        }
        wy_status_open(t, 0, 1);
        f.st = W6_STATUS;
        break;
      case 'U':
        t->_vmonitor = 1;
        f.st = W6_MONITOR;
        break;
      case 'a':
        f.decrow = f.deccol = f.decpart = f.decdigits = 0;
        f.st = W6_DECADDR;
        break;
      case 'z':
        f.st = W6_PROGSEL;
        break;
      case 'Z':
        f.st = W6_PROGDIR;
        break;
      case 'c':
        f.st = W6_ESCC;
        break;
      default:
        break;
    }
    return;
  }
  if (n > 0) {
    f.need = n;
    f.st = W6_ARGS;
    return;
  }
  w6_command(t, c);
}

static void w6_decaddr(te* t, int c) {
  if (wy_decaddr(t, c)) t->fam.st = W6_GROUND;
}

static void w6_byte(te* t, int c) {
  TEFAM& f = t->fam;
  if (f.st != W6_GROUND) f.fullprot = 0;
  switch (f.st) {
    case W6_GROUND:
      if (c < 0x20 || c == 0x7F) {
        if (wy_utf8_break(t)) w6_put(t, ca_from_unicode(0xFFFD));
        wy_keep_fullprot(t, c);
        w6_control(t, c);
        return;
      }
      if (c < 0x80 && wy_utf8_break(t)) w6_put(t, ca_from_unicode(0xFFFD));
      w6_text(t, c);
      return;
    case W6_ESC:
      f.st = W6_GROUND;
      w6_escape(t, c);
      return;
    case W6_ARGS:
      f.args[f.nargs++] = c;
      if (f.nargs >= f.need) {
        f.st = W6_GROUND;
        w6_command(t, f.cmd);
      }
      return;
    case W6_STATUS:
      if (c == 0x1B) {
        f.statcol = -1;
        f.st = W6_ESC;
      } else if (f.statcol < 0) {
        // Label mode swallows the text up to CR.
        if (c == '\r') f.st = W6_GROUND;
      } else if (!wy_status_byte(t, c)) {
        f.st = W6_GROUND;
      }
      return;
    case W6_PROGDIR:
      f.st = W6_PROGSEL;
      if (c == '0' || c == '1' || c == '2') return;
      [[fallthrough]];
    case W6_PROGSEL:
      wy_prog_begin(t, c, 1);
      f.st = c == 0x7F ? W6_GROUND : W6_PROG;
      return;
    case W6_PROG:
      if (!wy_prog_byte(t, c)) f.st = W6_GROUND;
      return;
    case W6_MONITOR:
      if (c == 0x1B)
        f.st = W6_MONESC;
      else
        w6_monitor(t, c);
      return;
    case W6_MONESC:
      if (c == 'X' || c == 'u') {
        f.st = W6_GROUND;
        t->_vmonitor = 0;
        return;
      }
      w6_monitor(t, 0x1B);
      if (c == 0x1B) return;
      f.st = W6_MONITOR;
      w6_monitor(t, c);
      return;
    case W6_DECADDR:
      w6_decaddr(t, c);
      return;
    case W6_ESCC: {
      f.st = W6_GROUND;
      int n = w6_escc(t, c);
      if (n > 0) {
        f.cmd = 0x200 | c;
        f.nargs = 0;
        f.need = n;
        f.st = W6_ARGS;
      }
      return;
    }
    case W6_TOEM:
      if (c == 0x19) f.st = W6_GROUND;
      return;
    default:
      f.st = W6_GROUND;
      return;
  }
}

static inline void w6_in(te* t, int c) {
  c &= 0xFF;
  if (!t->_blokmode && t->_vmaskpar) c &= 0x7F;
  if (t->_prctrl) {
    int r = wy_print_filter(t, c);
    if (r == 0 || r == 2) return;
    if (r == 3) w6_byte(t, 0x1B);
  }
  w6_byte(t, c);
}

void wy60emout(te* t, int c) {
  t->fam.fullprot = 0;
  w6_in(t, c);
}

// ---- bulk path

static inline bool w6_fastok(te* t) {
  return t->fam.st == W6_GROUND && !t->_vcharset && !t->_protect && !t->_vinsmode && !t->_prctrl &&
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
