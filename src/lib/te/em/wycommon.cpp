// Pieces the Wyse families share with each other and with the IBM 3151
// and PC-term families: cursor moves that wrap around the screen, the
// protect-aware moves and field tabs, the clears, line and character
// insertion, the status and label lines, function-key and label
// programming, replies, block transmission, the printer filter, auxiliary
// diversion, cursor shapes, screen features and pages.
#include <algorithm>
#include <cstring>
#include <string>

#include "em/em.h"
#include "em/keys.h"
#include "em/teaux.h"
#include "em/wyse.h"
#include "vid/vid.h"

// ---- cursor

void wy_setcur(te* t, int y, int x) {
  t->XNwrap = 0;
  t->vdestline = std::clamp(y, 0, std::max(t->vlines - 1, 0));
  t->vdestcol = std::clamp(x, 0, std::max(t->vcols - 1, 0));
  VidPos(t, t->vdestline, t->vdestcol);
}

bool wy_decaddr(te* t, int c) {
  TEFAM& f = t->fam;
  if (c == ' ') return false;
  if (c >= '0' && c <= '9') {
    int& v = f.decpart ? f.deccol : f.decrow;
    if (f.decdigits < 3) v = v * 10 + (c - '0');
    f.decdigits++;
    return false;
  }
  if (c == 'R' && !f.decpart) {
    f.decpart = 1;
    f.decdigits = 0;
    return false;
  }
  if (c == 'C' && f.decpart) cpos(t, std::max(f.decrow - 1, 0), std::max(f.deccol - 1, 0));
  if (t->vdestline >= t->vlines) wy_setcur(t, t->vlines - 1, t->vdestcol);
  return true;
}

// (A row's pending attribute may carry protection: it is taken first.)
static inline bool wy_prot(te* t, int y, int x) {
  wa_row(t, y);
  return (t->_vscreen[y][x] & CA_PROT) != 0;
}

void wy_up(te* t) {
  int y = t->vdestline - 1;
  wy_setcur(t, y < 0 ? t->vlines - 1 : y, t->vdestcol);
}

void wy_down(te* t) {
  int y = t->vdestline + 1;
  wy_setcur(t, y >= t->vlines ? 0 : y, t->vdestcol);
}

void wy_left(te* t, int protaware) {
  int y = t->vdestline, x = t->vdestcol - 1;
  if (x < 0) {
    x = t->vcols - 1;
    if (--y < 0) y = t->vlines - 1;
  }
  wy_setcur(t, y, x);
  if (protaware && t->_protect && wy_prot(t, y, x)) wy_protmove(t, -1, 0, 1);
}

void wy_right(te* t, int protaware) {
  int y = t->vdestline, x = t->vdestcol + 1;
  if (x >= t->vcols) {
    x = 0;
    if (++y >= t->vlines) y = 0;
  }
  wy_setcur(t, y, x);
  if (protaware && t->_protect && wy_prot(t, y, x)) wy_protmove(t, 1, 0, 1);
}

void wy_home(te* t, int protaware) {
  wy_setcur(t, 0, 0);
  if (protaware && t->_protect) wy_protmove(t, 1, 0, 1);
}

void wy_linefeed(te* t, int protaware) {
  // At the bottom the top row leaves the screen: it takes its pending
  // attribute first.
  if (t->vdestline >= t->vlines - 1) wa_row(t, 0);
  newline(t);
  if (protaware && t->_protect) wy_protmove(t, 1, 0, 1);
}

void wy_cr(te* t, int protaware) {
  wy_setcur(t, t->vdestline, 0);
  if (t->_vnlmode) {
    wy_linefeed(t, protaware);
    return;
  }
  if (protaware && t->_protect) wy_protmove(t, 1, 0, 1);
}

void wy_revlinefeed(te* t) {
  if (t->vdestline > 0) {
    wy_setcur(t, t->vdestline - 1, t->vdestcol);
    return;
  }
  int col = t->vdestcol;
  wa_row(t, t->vlines - 1);
  vdscroll(t, 0);
  wy_setcur(t, 0, col);
}

void wy_address(te* t, int row, int col) {
  cpos(t, std::max(row - 32, 0), std::max(col - 32, 0));
  if (t->vdestline >= t->vlines) wy_setcur(t, t->vlines - 1, t->vdestcol);
}

int wy_protmove(te* t, int dir, int wantprot, int self) {
  if (!wantprot && t->fam.fullprot) {
    wy_setcur(t, 0, 0);
    return 0;
  }
  // Row by row from the cursor, at most one screen (the cursor's row is
  // looked at again at the end, before the cursor).
  const CHATTR want = wantprot ? (CHATTR)CA_PROT : (CHATTR)0;
  const int cols = t->vcols, rows = t->vlines, y0 = t->vdestline, x0 = t->vdestcol;
  for (int k = 0; k <= rows; k++) {
    int y = ((y0 + dir * k) % rows + rows) % rows;
    wa_row(t, y);
    const CHATTR* row = t->_vscreen[y];
    int from, to;  // columns of this row to look at, in the direction of travel
    if (dir > 0) {
      from = k == 0 ? x0 + (self ? 0 : 1) : 0;
      to = k == rows ? x0 - 1 + (self ? 0 : 1) : cols - 1;
      for (int x = from; x <= to && x < cols; x++)
        if ((row[x] & CA_PROT) == want) {
          wy_setcur(t, y, x);
          return 1;
        }
    } else {
      from = k == 0 ? x0 - (self ? 0 : 1) : cols - 1;
      to = k == rows ? x0 + 1 - (self ? 0 : 1) : 0;
      for (int x = from; x >= to && x >= 0; x--)
        if ((row[x] & CA_PROT) == want) {
          wy_setcur(t, y, x);
          return 1;
        }
    }
  }
  if (!wantprot) t->fam.fullprot = 1;
  wy_setcur(t, 0, 0);
  return 0;
}

// Whether the cell at reading position p starts an unprotected field: it
// is unprotected and the cell before it (if any) is protected.
static bool wy_fieldstart(te* t, long p) {
  const long cols = t->vcols;
  if (wy_prot(t, (int)(p / cols), (int)(p % cols))) return false;
  if (p == 0) return true;
  return wy_prot(t, (int)((p - 1) / cols), (int)((p - 1) % cols));
}

static void wy_field(te* t, int dir) {
  if (t->fam.fullprot) {
    wy_setcur(t, 0, 0);
    return;
  }
  const long cols = t->vcols, total = (long)t->vlines * cols;
  const long pos = (long)t->vdestline * cols + t->vdestcol;
  for (long i = 1; i <= total; i++) {
    long p = ((pos + dir * i) % total + total) % total;
    if (wy_fieldstart(t, p)) {
      wy_setcur(t, (int)(p / cols), (int)(p % cols));
      return;
    }
  }
  // No field starts: no unprotected cell.
  t->fam.fullprot = 1;
  wy_setcur(t, 0, 0);
}

void wy_fieldfwd(te* t) {
  wy_field(t, 1);
}

void wy_fieldrev(te* t) {
  wy_field(t, -1);
}

void wy_tab(te* t, int wrap) {
  if (t->_protect) {
    wy_fieldfwd(t);
    return;
  }
  int y = t->vdestline, last = t->vcols - 1;
  for (int c = t->vdestcol + 1; c <= last && c < TE_MAXCOLS; c++)
    if (t->_tabs[c]) {
      wy_setcur(t, y, c);
      return;
    }
  if (!wrap) {
    wy_setcur(t, y, last);
    return;
  }
  wy_setcur(t, y, 0);
  wy_linefeed(t, 0);
}

void wy_backtab(te* t) {
  if (t->_protect) {
    wy_fieldrev(t);
    return;
  }
  int c = t->vdestcol - 1;
  while (c > 0 && !(c < TE_MAXCOLS && t->_tabs[c])) c--;
  wy_setcur(t, t->vdestline, std::max(c, 0));
}

// ---- clears

namespace {
// Insert mode, graphics and autowrap are left as they were by a clear.
struct WySaved {
  int ins, graph, am;
  explicit WySaved(te* t) : ins(t->_vinsmode), graph(t->_vcharset), am(t->_AMon), t_(t) {}
  ~WySaved() {
    t_->_vinsmode = ins;
    t_->_vcharset = graph;
    t_->_AMon = am;
  }
  te* t_;
};
}  // namespace

void wy_clrall(te* t, int resetmodes) {
  WySaved saved(t);
  wa_flush(t);
  if (resetmodes) {
    t->_dimattr = 0;
    t->_protect = 0;
  }
  vclear(t);
  if ((t->_clearto & CA_CHAR) != CA_BLANK) {
    CHATTR v = t->_vcurattr | t->_dimattr | (t->_clearto & CA_CHARPART);
    fill_vscreen(t, v);
  }
  wy_setcur(t, 0, 0);
}

void wy_clrunprot(te* t) {
  WySaved saved(t);
  wa_flush(t);
  const bool fill = (t->_clearto & CA_CHAR) != CA_BLANK;
  for (int y = 0; y < t->vlines; y++) {
    CHATTR* row = t->_vscreen[y];
    int x = 0;
    bool any = false;
    while (x < t->vcols) {
      if (row[x] & CA_PROT) {
        x++;
        continue;
      }
      CHATTR a = row[x] & CA_ATTRPART & ~CA_EMBED;
      CHATTR ch = fill ? (t->_clearto & CA_CHARPART) : CA_BLANK;
      for (; x < t->vcols && !(row[x] & CA_PROT); x++) row[x] = (fill ? (row[x] & CA_ATTRPART) : a) | ch;
      any = true;
    }
    if (any) vid_touch_row(t, y, 0, t->vcols - 1);
  }
  wy_home(t, 1);
}

void wy_clrprotblank(te* t) {
  WySaved saved(t);
  wa_flush(t);
  vclear(t);
  fill_vscreen(t, t->_vcurattr | CA_PROT | CA_BLANK);
  wy_setcur(t, 0, 0);
}

void wy_clrfill(te* t, int fill, int unprot) {
  CHATTR saved = t->_clearto;
  t->_clearto = (CHATTR)(fill & 0xFF);
  if (unprot)
    wy_clrunprot(t);
  else
    wy_clrall(t, 0);
  t->_clearto = saved;
}

void wy_eraseeol(te* t) {
  int y = t->vdestline, x = t->vdestcol;
  wa_row(t, y);
  CHATTR* row = t->_vscreen[y];
  int end = t->vcols;
  if (t->_protect)
    for (int c = x; c < t->vcols; c++)
      if (row[c] & CA_PROT) {
        end = c;
        break;
      }
  CHATTR v = t->_vcurattr | CA_BLANK;
  for (int c = x; c < end; c++) row[c] = v;
  if (end > x) vid_touch_row(t, y, x, end - 1);
  wy_setcur(t, y, x);
}

void wy_eraseeos(te* t) {
  int y = t->vdestline, x = t->vdestcol;
  wa_flush(t);
  vclreos(t, y, x);
  wy_setcur(t, y, x);
}

void wy_insline(te* t) {
  int y = t->vdestline;
  if (y >= t->vlines) return;
  wa_row(t, t->vlines - 1);
  viline(t, y);
}

void wy_delline(te* t) {
  int y = t->vdestline;
  if (y >= t->vlines) return;
  wa_row(t, y);
  vdline(t, y);
}

void wy_inschar(te* t) {
  wa_row(t, t->vdestline);
  int x = t->vdestcol;
  vinsert(t, CA_BLANK, 0);
  wy_setcur(t, t->vdestline, x);
}

void wy_delchar(te* t) {
  wa_row(t, t->vdestline);
  vdelete(t, 1);
}

// ---- status and label lines

static inline CHATTR wy_stattr(te* t) {
  return t->fam.statattr ? t->fam.statattr : (EmGetDefaultAttr(t) & CA_ATTRPART);
}

static void wy_status_fill(te* t, CHATTR* line, int from) {
  CHATTR v = wy_stattr(t) | CA_BLANK;
  for (int x = from; x < TE_MAXCOLS; x++) line[x] = v;
}

void wy_status_open(te* t, int col, int clear) {
  TELABELS& L = t->labels;
  if (clear || !L.on) wy_status_fill(t, L.status, 0);
  L.on = 1;
  L.changed = 1;
  t->fam.statcol = std::clamp(col, 0, t->vcols - 1);
  t->fam.statleft = t->vcols - t->fam.statcol;
}

int wy_status_byte(te* t, int c) {
  TEFAM& f = t->fam;
  TELABELS& L = t->labels;
  if (f.statcol < 0) return 0;
  if (c == '\r') {
    wy_status_fill(t, L.status, f.statcol);
    f.statcol = -1;
    L.changed = 1;
    return 0;
  }
  CHATTR ch = (c < 0x20 || c == 0x7F) ? (CHATTR)CA_BLANK : (CHATTR)(c & 0xFF);
  L.status[f.statcol++] = wy_stattr(t) | ch;
  L.changed = 1;
  if (--f.statleft <= 0 || f.statcol >= t->vcols) {
    f.statcol = -1;
    return 0;
  }
  return 1;
}

void wy_status_remove(te* t) {
  t->fam.statcol = -1;
  if (t->labels.on) t->labels.changed = 1;
  t->labels.on = 0;
}

void wy_status_attr(te* t, CHATTR attr) {
  TELABELS& L = t->labels;
  t->fam.statattr = (attr & CA_ATTRPART) | (EmGetDefaultAttr(t) & CA_COLOR);
  for (int x = 0; x < TE_MAXCOLS; x++) L.status[x] = t->fam.statattr | (L.status[x] & CA_CHARPART);
  L.changed = 1;
}

void wy_label(te* t, int n, const char* text, int len, int wyse60) {
  TELABELS& L = t->labels;
  if (n < 0 || n > 15) return;
  bool wide = t->vcols > 80;
  int width = wyse60 ? (wide ? 7 : 9) : (wide ? 7 : 8);
  int col = (wyse60 ? 0 : 1) + 10 * (n & 7);
  if (col >= t->vcols) return;
  width = std::min(width, t->vcols - col);
  CHATTR* line = n < 8 ? L.status : L.shifted;
  if (n < 8) {
    if (!L.on) wy_status_fill(t, L.status, 0);
    L.on = 1;
  } else if (!L.shifton) {
    wy_status_fill(t, L.shifted, 0);
    L.shifton = 1;
  }
  CHATTR a = wy_stattr(t);
  for (int i = 0; i < width; i++) {
    unsigned char c = i < len ? (unsigned char)text[i] : (unsigned char)' ';
    line[col + i] = a | ((c < 0x20 || c == 0x7F) ? (CHATTR)CA_BLANK : (CHATTR)c);
  }
  L.changed = 1;
}

// ---- function-key and label programming

enum { WP_KEY = 1, WP_LABEL, WP_STATUS, WP_IGNORE };

// Key slot of the selector byte after ESC z, or -1.
static int wy_keyslot(int c) {
  if (c >= '@' && c <= 'O') return c - '@';
  if (c >= 0x60 && c <= 'o') return 20 + c - 0x60;
  switch (c) {
    case '"':
      return 40;
    case '+':
      return 41;
    case ',':
      return 42;
    case '.':
      return 43;
    case '-':
      return 44;
    case '*':
      return 45;
    default:
      return -1;
  }
}

void wy_prog_begin(te* t, int c, int wyse60) {
  TEFAM& f = t->fam;
  f.textlen = 0;
  f.text[0] = 0;
  int slot = wy_keyslot(c);
  if (slot >= 0) {
    f.cmd = WP_KEY;
    f.target = slot;
  } else if (c == '(') {
    f.cmd = WP_STATUS;
    wy_status_open(t, 0, 1);
  } else if (c >= '0' && c <= '?') {
    f.cmd = WP_LABEL;
    f.target = (c - '0') | (wyse60 ? 0x100 : 0);
  } else {
    f.cmd = WP_IGNORE;
  }
}

int wy_prog_byte(te* t, int c) {
  TEFAM& f = t->fam;
  switch (f.cmd) {
    case WP_KEY:
      if (c == 0x7F) {
        f.text[f.textlen] = 0;
        setprgkey(t, f.target, f.text);
        return 0;
      }
      break;
    case WP_LABEL:
      if (c == '\r' || c == 0x7F) {
        // Wyse 60 with 25 data rows has no label line.
        if (!(t->fam.labelmode)) wy_label(t, f.target & 0xFF, f.text, f.textlen, (f.target & 0x100) != 0);
        return 0;
      }
      break;
    case WP_STATUS:
      if (c == 0x7F) {
        wy_status_byte(t, '\r');
        return 0;
      }
      wy_status_byte(t, c);
      return c != '\r';
    default:
      return c != '\r' && c != 0x7F;
  }
  if (f.textlen < TE_FAMTEXT && c != 0) f.text[f.textlen++] = (char)c;
  return 1;
}

// ---- replies and block transmission

void wy_reply(te* t, const char* bytes, int n) {
  if (n <= 0) return;
  if (t->hooks.bcomout) {
    t->hooks.bcomout(t, bytes, n);
  } else if (t->hooks.comout) {
    for (int i = 0; i < n; i++) t->hooks.comout(t, (unsigned char)bytes[i]);
  }
}

void wy_replycursor(te* t, int withpage) {
  char r[4];
  int n = 0;
  if (withpage) r[n++] = (char)('0' + t->_vcurpage);
  r[n++] = (char)((t->vdestline + 32) & 0xFF);
  r[n++] = (char)((t->vdestcol + 32) & 0xFF);
  r[n++] = '\r';
  wy_reply(t, r, n);
}

bool wy_readback_ok(te* t) {
  return t->_blokmode || t->readback;
}

// The bytes that stand for a cell's character.
static void wy_cellbytes(te* t, CHATTR c, std::string& out) {
  uint32_t cp = ca_unicode(c);
  if (cp && !(c & 0x7FF) && t->MBMode == 1) {
    TCSUtf8Append(out, cp);
    return;
  }
  if (c == 0) return;  // right half of a wide character
  out += (char)(c & CA_CHAR);
}

// Attribute code of an attribute cell as the host writes it after ESC G.
static char wy_attrcode(CHATTR c) {
  int code = 0x30;
  if (c & CA_INVIS) code += 1;
  if (c & CA_BLINK) code += 2;
  if (c & CA_REV) code += 4;
  if (c & CA_UNDER) code += 8;
  return (char)code;
}

static const CHATTR WY_SOM = 0x12F;  // start-of-message mark: graphics '/'
static const CHATTR WY_EOM = 0x130;  // end-of-message mark: graphics '0'

namespace {
struct WySender {
  te* t;
  bool unprotonly;
  bool prev = false;  // the previous cell sent was protected
  std::string out;
  void cell(CHATTR c) {
    if ((c & CA_CHARPART) == WY_SOM) {
      out += '\x02';
      return;
    }
    bool prot = (c & CA_PROT) != 0;
    if (t->_protect) {
      if (unprotonly) {
        if (prot) {
          if (!prev) out += '\x1c';
          prev = true;
          return;
        }
      } else if (prot != prev) {
        out += prot ? "\x1b)" : "\x1b(";
      }
      prev = prot;
    }
    if (c & CA_EMBED) {
      out += "\x1bG";
      out += wy_attrcode(c);
      return;
    }
    wy_cellbytes(t, c, out);
  }
};
}  // namespace

void wy_send(te* t, int kind) {
  if (!wy_readback_ok(t)) return;
  wa_flush(t);
  const int y = t->vdestline, x = t->vdestcol, cols = t->vcols;
  WySender s{t, kind == 4 || kind == 5 || kind == 'S', false, {}};
  if (kind == 4 || kind == 6) {
    for (int c = 0; c <= x; c++) s.cell(t->_vscreen[y][c]);
    s.out += '\r';
  } else if (kind == 5 || kind == 7) {
    for (int r = 0; r <= y; r++) {
      int last = r == y ? x : cols - 1;
      for (int c = 0; c <= last; c++) s.cell(t->_vscreen[r][c]);
      if (r < y) s.out += '\x1f';
    }
    if (t->turnchar > 0 && t->turnchar < 256) s.out += (char)t->turnchar;
  } else {
    // From after the last start-of-message mark before the cursor to the
    // end of the screen or the end-of-message mark.
    long pos = (long)y * cols + x, start = 0, total = (long)t->vlines * cols;
    for (long p = pos - 1; p >= 0; p--)
      if ((t->_vscreen[p / cols][p % cols] & CA_CHARPART) == WY_SOM) {
        start = p + 1;
        break;
      }
    long p = start;
    for (; p < total; p++) {
      CHATTR c = t->_vscreen[p / cols][p % cols];
      if ((c & CA_CHARPART) == WY_EOM) {
        wy_setcur(t, (int)(p / cols), (int)(p % cols));
        break;
      }
      s.cell(c);
    }
  }
  wy_reply(t, s.out.data(), (int)s.out.size());
  if ((kind == 4 || kind == 5 || kind == 6 || kind == 7) && !t->_protect) {
    wy_setcur(t, y, 0);
    if (y + 1 < t->vlines) wy_setcur(t, y + 1, 0);
  }
}

void wy_sendchar(te* t) {
  if (!wy_readback_ok(t)) return;
  wa_row(t, t->vdestline);
  std::string out;
  wy_cellbytes(t, t->_vscreen[t->vdestline][t->vdestcol], out);
  wy_reply(t, out.data(), (int)out.size());
}

// ---- printer

bool wy_have_printer(te* t) {
  return t->hooks.printer != nullptr;
}

void wy_print_start(te* t, int type, int display) {
  // Without a printer nothing would print the bytes: the screen keeps
  // showing them instead of swallowing them until the end of the mode.
  if (!wy_have_printer(t)) return;
  t->_prctrl = 1;
  t->_ptype = type;
  t->_prdisp = display;
  t->_prfstate = 0;
}

static void wy_print_bytes(te* t, const char* b, int n) {
  if (t->hooks.printer) t->hooks.printer(t, TE_PRINT_BYTES, b, n);
}

static void wy_print_end(te* t) {
  t->_prctrl = 0;
  t->_prdisp = 0;
  t->_ptype = 0;
  t->_prfstate = 0;
}

int wy_print_filter(te* t, int c) {
  char b = (char)c;
  if (t->_ptype == 1) {
    if (c == 0x14) {
      wy_print_end(t);
      return 2;
    }
    wy_print_bytes(t, &b, 1);
    return t->_prdisp ? 1 : 0;
  }
  if (t->_prfstate) {
    t->_prfstate = 0;
    int end = t->_ptype == 2 ? 'a' : t->_ptype == 3 ? 'A' : 'B';
    if (c == end) {
      wy_print_end(t);
      return 2;
    }
    char both[2] = {'\x1b', b};
    wy_print_bytes(t, both, 2);
    return t->_prdisp ? 3 : 0;
  }
  if (c == 0x1B) {
    t->_prfstate = 1;
    return 0;
  }
  wy_print_bytes(t, &b, 1);
  return t->_prdisp ? 1 : 0;
}

void wy_print_screen(te* t) {
  if (t->hooks.printer) {
    wa_flush(t);
    t->hooks.printer(t, TE_PRINT_SCREEN, nullptr, 0);
  }
  if (t->_prtchar >= 0 && t->_prtchar < 256) {
    char c = (char)t->_prtchar;
    wy_reply(t, &c, 1);
  }
}

// ---- auxiliary diversion

bool wy_aux(te* t, int c) {
  bool usable = te_useaux(t);
  switch (c) {
    case ' ':
      setaux(t, 0x2);
      break;
    case '!':
      if (usable) setaux(t, 0x1);
      break;
    case '#':
      if (!usable) return false;
      setaux(t, 0x4);
      break;
    case '$':
      setaux(t, 0xA);
      break;
    case '%':
      if (usable) setaux(t, 0x5);
      break;
    default:
      break;
  }
  return true;
}

// ---- cursor shapes, screen features, pages

void wy_cursorshape(te* t, int shape) {
  if (shape == 0) {
    vidcurtype(t, 0);
  } else if (shape >= 1 && shape <= 4) {
    vidcurtype(t, -1);
    vidcurtype(t, shape);
  } else if (shape == 5) {
    vidcurtype(t, 5);
  }
}

void wy_feature(te* t, int c) {
  switch (c) {
    case '0':
    case '2':
    case '3':
    case '4':
      wy_cursorshape(t, c - '0');
      break;
    case '1':
      wy_cursorshape(t, 5);
      break;
    case '5':
      wy_cursorshape(t, 1);
      break;
    case '6':
      t->_protrev = CA_REV;
      vid_touch_rows(t, 0, t->vlines - 1);
      break;
    case '7':
      t->_protrev = CA_BOLD;
      vid_touch_rows(t, 0, t->vlines - 1);
      break;
    case 'A':
      t->_protrev = 0;
      vid_touch_rows(t, 0, t->vlines - 1);
      break;
    case ':':
    case ';':
      wa_flush(t);
      set132col(t, (c == ';' ? 1 : 0) | 0x100);
      wa_sync(t);
      break;
    default:
      break;
  }
}

void wy_page(te* t, int n) {
  if (n < 0 || n >= t->vpages || n == t->_vcurpage) return;
  wa_flush(t);
  selpage(t, n, 1);
  wa_sync(t);
  vid_touch_rows(t, 0, t->vlines - 1);
}

void wy_pagestep(te* t, int dir) {
  if (t->vpages < 2) return;
  wy_page(t, (t->_vcurpage + dir + t->vpages) % t->vpages);
}

// ---- UTF-8 intake

int wy_utf8(te* t, unsigned b, uint32_t* out) {
  return TCSUtf8Feed(t->unicodeContext, b, out);
}

void wy_keep_fullprot(te* t, int c) {
  // Bell and the cursor movements change no cell in protect mode.
  if (c != 0x07 && c != 0x08 && c != 0x09 && c != 0x0A && c != 0x0B && c != 0x0D && c != 0x16 && c != 0x1E &&
      c != 0x1F)
    t->fam.fullprot = 0;
}

bool wy_utf8_break(te* t) {
  return TCSUtf8Break(t->unicodeContext);
}
