// The ANSI/VT byte machine: UTF-8 intake, the state machine (C0 and C1
// controls, intermediates, finals, title and ignored strings), the store of
// one printable character, the printer-controller filter, and the bulk
// print path that stores runs of printable bytes in one pass while keeping
// every rule of storing one character.
#include <algorithm>
#include <cstring>

#include "em/ansi.h"
#include "em/em.h"
#include "em/wcwidth.h"
#include "vid/vid.h"

// ---- storing one printable character

static inline bool ao_iswide(CHATTR c) {
  return (c & CA_UNI) && wc_wide(ca_unicode(c));
}

// Cells x0..x1 of a row are being overwritten.  A double-width character
// they cut in two must not leave its other half behind: a left half whose
// right half (`old`, the 0 that cell x0 held) is overwritten, or a right
// half just right of x1 whose left half is overwritten, becomes a blank (in
// the left half's own attribute, or the current one for a lone right half).
// A left half left alone would be drawn two columns wide over its neighbour.
static inline void ao_unpair_left(te* t, CHATTR* row, int y, int x0, CHATTR old) {
  if (x0 > 0 && old == 0 && ao_iswide(row[x0 - 1])) {
    row[x0 - 1] = (row[x0 - 1] & CA_ATTRPART) | CA_BLANK;
    vid_touch_row(t, y, x0 - 1, x0 - 1);
  }
}
static inline void ao_unpair_right(te* t, CHATTR* row, int y, int x1) {
  if (x1 + 1 < t->vcols && row[x1 + 1] == 0) {
    row[x1 + 1] = t->_vcurattr | CA_BLANK;
    vid_touch_row(t, y, x1 + 1, x1 + 1);
  }
}

// Inserts a double-width character in insert mode: two cells open at the
// cursor (wrapping first in the last column, as when overwriting), the
// character and its right half go in, and the cursor passes both.
static void ao_insertwide(te* t, CHATTR v) {
  if (t->vdestcol >= vid_fvcols(t, t->vdestline) - 1) dowrap(t, 0);
  int y = t->vdestline, x = t->vdestcol;
  if (y < 0 || y >= t->vlines) return;
  if (!vinsert(t, CA_BLANK, 0) || !vinsert(t, CA_BLANK, 0)) return;
  int fv = vid_fvcols(t, y);
  if (x + 1 >= fv) return;
  set_vscreen(t, x, y, t->_vcurattr | v);
  set_vscreen(t, x + 1, y, 0);
  t->vdestcol = std::min(x + 2, fv - 1);
  VidPos(t, y, t->vdestcol);
}

// A zero-width character joins the character before the cursor (the one
// just written when a wrap is pending): the cell takes their composition
// when there is one of the same width (e and U+0301 make é); otherwise the
// mark is not kept, since a cell holds one character.  The cursor stays.
static void ao_join(te* t, uint32_t mark) {
  int y = t->vdestline, x = t->XNwrap ? t->vdestcol : t->vdestcol - 1;
  if (y < 0 || y >= t->vlines || x < 0 || x >= t->vcols) return;
  CHATTR* row = t->_vscreen[y];
  if (row[x] == 0 && x > 0) x--;  // the right half of a wide character
  CHATTR c = row[x];
  uint32_t base = 0;
  if (c & CA_UNI)
    base = ca_unicode(c);
  else if (!(c & (CA_CSET | CA_TCS)) && (c & CA_CHAR) >= 0x20 && (c & CA_CHAR) < 0x7F)
    base = (uint32_t)(c & CA_CHAR);
  if (!base) return;
  uint32_t composed = wc_compose(base, mark);
  if (!composed || wc_wide(composed) != wc_wide(base)) return;
  set_vscreen(t, x, y, (c & CA_ATTRPART) | ca_from_unicode(composed));
}

// Stores a character at the cursor and advances; `translate` runs the
// character-set hook on a plain byte.
static void ao_store(te* t, CHATTR v, bool translate) {
  if ((v & CA_UNI) && wc_zero(ca_unicode(v))) {
    ao_join(t, ca_unicode(v));
    return;
  }
  if (t->XNwrap) {
    dowrap(t, 0);
    t->XNwrap = 0;
  }
  if (translate && !(v & CA_UNI) && !(v & CA_TCS) && (v & CA_CHARPART) && t->GetCharSet)
    v = (CHATTR)t->GetCharSet(t, (int)v);
  bool wide = ao_iswide(v);
  if (t->_vinsmode) {
    if (wide) {
      ao_insertwide(t, v);
      return;
    }
    vinsert(t, v, 1);
    return;
  }
  v |= t->_vcurattr;
  if (wide && t->vdestcol >= vid_fvcols(t, t->vdestline) - 1) dowrap(t, 0);
  int y = t->vdestline, x = t->vdestcol;
  if (y >= 0 && y < t->vlines && x >= 0 && x < t->vcols) {
    ao_unpair_left(t, t->_vscreen[y], y, x, t->_vscreen[y][x]);
    ao_unpair_right(t, t->_vscreen[y], y, wide ? x + 1 : x);
  }
  set_vscreen(t, t->vdestcol, t->vdestline, v);
  if (wide) {
    t->vdestcol++;
    set_vscreen(t, t->vdestcol, t->vdestline, 0);
    VidPos(t, t->vdestline, t->vdestcol);
  }
  vcuradv(t);
}

void ansiout2(te* t, CHATTR v) {
  ao_store(t, v, true);
}

// ---- window title

static void ao_title_append(te* t, int c) {
  if (t->titleTextLength + 1 >= t->titleTextSize) {
    if (t->titleTextSize >= TE_TITLEMAX) return;
    int size = t->titleTextSize + 256;
    char* p = (char*)EmAlloc((size_t)size);
    if (!p) return;
    if (t->titleText) std::memcpy(p, t->titleText, (size_t)t->titleTextLength);
    EmFree(t->titleText);
    t->titleText = p;
    t->titleTextSize = size;
  }
  t->titleText[t->titleTextLength++] = (char)c;
  t->titleText[t->titleTextLength] = 0;
}

static void ao_title_begin(te* t) {
  t->titleTextLength = 0;
  if (t->titleText) t->titleText[0] = 0;
}

// Whether a collected operating-system command names the window title: its
// selector is "0" or "2".  Other numbered commands (a working directory, a
// hyperlink, shell prompt marks, palette colours) are not titles and must
// not replace the one shown.
static bool ao_is_title(const char* text) {
  if (!text) return true;
  int n = 0;
  const char* p = text;
  while (*p >= '0' && *p <= '9' && n < 1000) n = n * 10 + (*p++ - '0');
  if (p == text || (*p != ';' && *p != 0)) return true;  // no numbered selector
  return n == 0 || n == 2;
}

static void ao_title_drop(te* t) {
  EmFree(t->titleText);
  t->titleText = nullptr;
  t->titleTextLength = t->titleTextSize = 0;
}

static void ao_title_end(te* t) {
  // The text starts with its selector ("0;" or "2;").
  const char* text = t->titleText && t->titleTextLength > 2 ? t->titleText + 2 : "";
  if (t->hooks.set_title && ao_is_title(t->titleText)) t->hooks.set_title(t, text);
  ao_title_drop(t);
  t->_emstate = ES_GROUND;
}

// ---- printer controller

static void ao_print(te* t, const unsigned char* bytes, int n) {
  if (n > 0 && t->hooks.printer) t->hooks.printer(t, TE_PRINT_BYTES, (const char*)bytes, n);
}

// Watches bytes in printer-controller mode for the sequence that ends it
// (ESC [ or CSI, then 4, 6 or 8, then i; ESC X in VT52 sub-mode); bytes
// held while matching go to the printer as received when the match fails.
static void ansiprint(te* t, int c) {
  unsigned char* hold = t->_prfhold;
  int& st = t->_prfstate;
  int& held = t->_prfheld;
  bool vt52 = t->_vemode & VM_VT52;
  unsigned char b = (unsigned char)c;
  if (st > 0) {
    bool next = false;
    if (vt52)
      next = st == 1 && b == 'X';
    else if (st == 1)
      next = b == '[';
    else if (st == 2)
      next = b == '4' || b == '6' || b == '8';
    else if (st == 3)
      next = b == 'i';
    if (next) {
      if (vt52 || st == 3) {
        st = held = 0;
        t->_prctrl = 0;
        t->_emstate = ES_GROUND;
        return;
      }
      hold[held++] = b;
      st++;
      return;
    }
    ao_print(t, hold, held);
    st = held = 0;
  }
  if (b == 0x1B) {
    hold[0] = b;
    held = st = 1;
  } else if (!vt52 && b == 0x9B && t->_vt200mode == 2) {
    hold[0] = b;
    held = 1;
    st = 2;
  } else {
    ao_print(t, &b, 1);
  }
}

// ---- controls

static void ao_tab(te* t) {
  int y = t->vdestline;
  int fv = vid_fvcols(t, y);
  int x = t->vdestcol;
  if (t->_vemode & VM_VT52) {
    int target = (x / 8 + 1) * 8;
    if (target > fv) target = fv;
    CHATTR blank = t->_vcurattr | CA_BLANK;
    for (int c = x; c < target; c++) set_vscreen(t, c, y, blank);
    t->vdestcol = target < fv ? target : fv - 1;
    VidPos(t, y, t->vdestcol);
    return;
  }
  int target = fv - 1;
  for (int c = x + 1; c < fv && c < TE_MAXCOLS; c++)
    if (t->_tabs[c]) {
      target = c;
      break;
    }
  if ((t->_vemode & VM_SCOANSI) && target == fv - 1 && !t->_tabs[target]) {
    t->vdestcol = 0;
    newline(t);
    return;
  }
  if (target < x) target = x;
  t->vdestcol = target;
  VidPos(t, y, target);
}

void ansi_revindex(te* t) {
  int col = t->vdestcol;
  if (t->_vscregion && t->vdestline == t->_vscregtop) {
    int row = t->vdestline;
    vsline(t, t->_vscregbot, t->_vscregtop, t->_vscregleft, t->_vscregright);
    t->vdestline = row;
    t->vdestcol = col;
  } else if (t->vdestline == 0) {
    vdscroll(t, 0);
    t->vdestcol = col;
  } else if (t->vdestline > 0) {
    t->vdestline--;
  }
  cgoto(t);
}

static void ao_c0(te* t, int c) {
  switch (c) {
    case 0x07:
      if (t->_emstate == ES_TITLE)
        ao_title_end(t);
      else
        vbell(t);
      break;
    case 0x08:
      t->XNwrap = 0;
      if (t->vdestcol > 0) t->vdestcol--;
      VidPos(t, t->vdestline, t->vdestcol);
      break;
    case 0x09:
      ao_tab(t);
      break;
    case 0x0C:
      if (t->_vemode & VM_SCO) {
        if (t->_vscregion) {
          for (int r = t->_vscregtop; r <= t->_vscregbot; r++) _vclreol(t, r, 0, 1);
          cgoto(t);
        } else {
          vclear(t);
        }
        break;
      }
      [[fallthrough]];
    case 0x0A:
    case 0x0B:
      if (t->_vnlmode) t->vdestcol = t->_vscregion ? t->_horigin : 0;
      t->XNwrap = 0;
      newline(t);
      break;
    case 0x0D:
      t->vdestcol = t->_vscregion ? t->_horigin : 0;
      t->XNwrap = 0;
      VidPos(t, t->vdestline, t->vdestcol);
      break;
    case 0x0E:
      t->vt.GL = 1;
      break;
    case 0x0F:
      t->vt.GL = 0;
      break;
    case 0x18:
    case 0x1A:
      t->_emstate = ES_GROUND;
      t->_vtdcson = 0;
      t->_vt52y = 0;
      if (c == 0x1A) ansiout2(t, CA_TCS | 0x2B0);
      break;
    case 0x1B:
      t->_vt52y = 0;
      if (t->_emstate == ES_TITLE) {
        // Perhaps the string terminator ESC \.
        t->_emstate = ES_TITLEESC;
        break;
      }
      if ((t->_vemode & VM_SCOANSI) && t->_emstate != ES_GROUND) {
        t->_emstate = ES_GROUND;
        break;
      }
      if (t->_vtdcson == 1) t->_vtdcson = 0;
      t->_vtptr = 0;
      t->_vtbuf[0] = 0;
      t->_emstate = ES_ESC;
      break;
    case 0x1D:
      if (t->_vemode & VM_AT386) {
        int x = t->vdestcol - 1;
        while (x > 0 && !(x < TE_MAXCOLS && t->_tabs[x])) x--;
        t->vdestcol = x < 0 ? 0 : x;
        VidPos(t, t->vdestline, t->vdestcol);
      }
      break;
    default:
      break;
  }
}

static void ao_c1(te* t, int c) {
  switch (c) {
    case 0x84:
      newline(t);
      break;
    case 0x85:
      t->vdestcol = 0;
      newline(t);
      break;
    case 0x88:
      if (t->vdestcol < TE_MAXCOLS) t->_tabs[t->vdestcol] = 1;
      break;
    case 0x8D:
      ansi_revindex(t);
      break;
    case 0x8E:
      t->vt.SShift = 3;
      break;
    case 0x8F:
      t->vt.SShift = 4;
      break;
    case 0x90:
      t->_vtptr = 0;
      t->_vtbuf[0] = 0;
      t->_vtdcson = 1;
      t->_emstate = ES_ESC;
      break;
    case 0x92:
      t->_vtptr = 0;
      t->_emstate = ES_IGNORE;
      break;
    case 0x9B:
      t->_vtptr = 0;
      t->_vtbuf[0] = 0;
      t->_emstate = ES_CSI;
      break;
    case 0x9C:
      if (t->_emstate == ES_TITLE) ao_title_end(t);
      break;
    default:
      break;
  }
}

// The byte after an ESC inside a title: `\` completes the string
// terminator and sets the title; anything else abandons the title, and the
// ESC starts a sequence as it would anywhere.
static bool ao_titleesc(te* t, int c) {
  if (c == '\\') {
    ao_title_end(t);
    return true;
  }
  ao_title_drop(t);
  t->_vtptr = 0;
  t->_vtbuf[0] = 0;
  t->_emstate = ES_ESC;
  return false;
}

static inline void ao_append(te* t, int c) {
  if (t->_vtptr < TE_VTBUF - 1) {
    t->_vtbuf[t->_vtptr++] = (char)c;
    t->_vtbuf[t->_vtptr] = 0;
  }
}

// A byte that ends an escape or control sequence, names a set, or belongs
// to the title.
static void ao_final(te* t, int c) {
  int state = t->_emstate;
  if (t->_vemode & VM_VT52) {
    vt52escape(t, c);
    return;
  }
  if (state == ES_TITLE) {
    ao_title_append(t, c);
    return;
  }
  if (state == ES_ESC || state == ES_CSI) {
    t->_vtcmd = c;
    t->_vtbuf[t->_vtptr] = 0;
    t->_ostate = state;
    t->_emstate = ES_GROUND;
    if (t->_vtdcson == 1) {
      ansi_dcsstart(t);
    } else if (state == ES_ESC) {
      vtescape(t, c);
    } else if (t->_vtptr > 0 && t->_vtbuf[t->_vtptr - 1] == ' ') {
      ansi_ext(t, c);
    } else if (t->_vtbuf[0] == '?') {
      ansi_private(t, c);
    } else if ((t->_vemode & VM_SCO) && t->_vtbuf[0] == '=') {
      ansi_scoeq(t, c);
    } else {
      vtcontrol(t, c);
    }
    return;
  }
  if (state >= ES_G0 && state <= ES_SPACE) t->_emstate = vtpcontrol(t, state, c);
}

static void ao_ignored(te* t, int c) {
  if (t->_emstate == ES_IGNORE) {
    if (c == 0x9C) {
      t->_emstate = ES_GROUND;
    } else if (c == 0x1B) {
      t->_emstate = ES_IGNOREESC;
    } else if (t->_vtptr < TE_VTBUF - 1) {
      t->_vtptr++;
    } else {
      t->_emstate = ES_GROUND;
    }
  } else {
    t->_emstate = c == '\\' ? ES_GROUND : ES_IGNORE;
  }
}

void ansiout(te* t, int c) {
  if (t->_vmaskpar) c &= 0x7F;
  if (t->_vtdcson >= 2) {
    ansi_dcsdata(t, c);
    return;
  }
  if (t->_emstate >= ES_SCOKEY) {
    ansi_scokey(t, c);
    return;
  }
  if (t->_prctrl) {
    ansiprint(t, c);
    if (!t->_prdisp) return;
  }
  int state = t->_emstate;
  if ((t->vt.GL == 4 || t->vt.GL == 5) && state == ES_GROUND && c != 0x1B) {
    ansiout2(t, (CHATTR)c);
    return;
  }
  if (t->MBMode >= 2 && state == ES_GROUND) {
    // Double-byte code pages: a lead byte and its trail are stored as
    // they are.
    int lead = t->MBMode == 4 ? 0x80 : 0xA0;
    if (t->_dbcstrail || c > lead) {
      t->_dbcstrail = !t->_dbcstrail;
      ao_store(t, (CHATTR)c, false);
      return;
    }
  }
  if (state == ES_IGNORE || state == ES_IGNOREESC) {
    ao_ignored(t, c);
    return;
  }
  if (state == ES_TITLEESC) {
    if (ao_titleesc(t, c)) return;
    state = ES_ESC;
  }
  if (c < 0x20) {
    ao_c0(t, c);
    return;
  }
  if (c == 0x7F) return;
  if (t->_vt52y) {
    vt52escape(t, c);
    return;
  }
  if (c >= 0x80 && c < 0xA0 && t->_vt200mode == 2 && !((t->_vemode & VM_SCOANSI) && c != 0x9B)) {
    ao_c1(t, c);
    return;
  }
  if (state == ES_GROUND) {
    ansiout2(t, (CHATTR)c);
    return;
  }
  if (c < 0x40) {
    if ((state == ES_ESC && !t->_vtdcson && c >= 0x30) || state > ES_CSI) {
      ao_final(t, c);
      return;
    }
    if (t->_vemode & VM_VT52) {
      vt52escape(t, c);
      return;
    }
    if (!t->_vtdcson) {
      switch (c) {
        case ' ':
          // In a control sequence a blank is an intermediate, kept with
          // the parameters (CSI Ps SP q); after ESC it starts ESC SP F/G.
          if (state == ES_CSI) break;
          t->_emstate = ES_SPACE;
          return;
        case '#':
          t->_emstate = ES_LINEATTR;
          return;
        case '(':
          t->_emstate = ES_G0;
          return;
        case ')':
          t->_emstate = ES_G0 + 1;
          return;
        case '*':
          t->_emstate = ES_G0 + 2;
          return;
        case '+':
          t->_emstate = ES_G3;
          return;
        default:
          break;
      }
    }
    ao_append(t, c);
    return;
  }
  if (state == ES_ESC) {
    if (c == 'R') {
      t->_vtptr = 0;
      t->_emstate = ES_IGNORE;
      return;
    }
    if (!(t->_vemode & VM_VT52)) {
      if (c == '[') {
        t->_emstate = ES_CSI;
        return;
      }
      if (c == ']') {
        t->_emstate = ES_TITLE;
        ao_title_begin(t);
        return;
      }
    }
  }
  ao_final(t, c);
}

// ---- UTF-8 intake

static inline void ao_unicode(te* t, uint32_t cp) {
  if (cp != 0 && cp != 0xFEFF) ansiout2(t, ca_from_unicode(cp));
}

// A byte of 0x80 or above.
static void ao_utf8(te* t, unsigned b) {
  uint32_t cp[2];
  const int n = TCSUtf8Feed(t->unicodeContext, b, cp);
  for (int i = 0; i < n; i++) ao_unicode(t, cp[i]);
}

void ansiemout(te* t, int c) {
  c &= 0xFF;
  // In printer-controller mode every byte is the printer's, UTF-8 or not.
  if (t->MBMode == 1 && !(t->_prctrl && !t->_prdisp)) {
    if (c & 0x80) {
      // Inside a title or a string the bytes are text, not characters to
      // show.
      if (t->_emstate == ES_TITLE && !t->_vtdcson) {
        ao_title_append(t, c);
        return;
      }
      if (t->_emstate == ES_TITLEESC) ao_titleesc(t, c);
      if (t->_vtdcson >= 2) {
        ansi_dcsdata(t, c);
        return;
      }
      if (t->_emstate == ES_IGNORE || t->_emstate == ES_IGNOREESC) {
        ao_ignored(t, 0x80);
        return;
      }
      ao_utf8(t, (unsigned)c);
      return;
    }
    if (TCSUtf8Break(t->unicodeContext)) ao_unicode(t, TCS_UTF8_REPLACEMENT);
  }
  ansiout(t, c);
}

// ---- bulk print path

// True when a printable run may be stored without going through ansiout:
// ground state and nothing that makes a printable byte special.
static inline bool ao_fastok(te* t) {
  return !t->_vtdcson && !t->_prctrl && t->vt.GL < 4 && t->MBMode <= 1 && !t->_vinsmode && !t->_vmaskpar &&
         !t->vt.SShift && !t->unicodeContext.need && !t->_vt52y && t->GetCharSet == AnsiGetCharSet;
}

// Number of leading bytes of w (in memory order) that are printable ASCII
// (0x20-0x7E), 0 to 8.  The borrow of the subtractions can only mark bytes
// after the first one that is not printable, so the lowest mark is exact.
static inline int ao_ascii8(uint64_t w) {
  const uint64_t ones = 0x0101010101010101ull, high = 0x8080808080808080ull;
  uint64_t below = (w - 0x20 * ones) & ~w & high;
  uint64_t del = w ^ (0x7F * ones);
  uint64_t isdel = (del - ones) & ~del & high;
  uint64_t bad = (w & high) | below | isdel;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return bad ? __builtin_ctzll(bad) >> 3 : 8;
#else
  return bad ? 0 : 8;
#endif
}

// Stores the printable run at p; returns where it stopped (a byte that
// needs the state machine).  Characters that would reach the last usable
// column, and a pending wrap, go through ansiout2 so that wrap, margins
// and wide characters follow exactly the one-character rules.
static const unsigned char* ao_bulk(te* t, const unsigned char* p, const unsigned char* end) {
  const bool utf8 = t->MBMode == 1;
  const bool c1print = !utf8 && t->_vt200mode != 2;
  const bool scoC1 = !utf8 && t->_vt200mode == 2 && (t->_vemode & VM_SCOANSI);
  const unsigned char* disp = t->pdisptab;
  const CHATTR setL = (CHATTR)(t->vt.CharSet[t->vt.GL & 3] & 0xF) << CA_CSET_SHIFT;
  const CHATTR setR =
      (t->teflags & TF_G2G3) ? (CHATTR)(t->vt.CharSet[t->vt.GR & 3] & 0xF) << CA_CSET_SHIFT : setL;
  auto printable8 = [&](unsigned b) {
    return b - 0x20u < 0x5Fu || (!utf8 && (b >= 0xA0 || (b >= 0x80 && (c1print || (scoC1 && b != 0x9B)))));
  };

  while (p < end) {
    const CHATTR attr = t->_vcurattr;
    const CHATTR baseL = attr | setL;
    const int y = t->vdestline;
    const int fv = vid_fvcols(t, y);
    int x = t->vdestcol;
    const bool fast = !t->XNwrap && y < t->vlines && x + 1 < fv;
    CHATTR* row = t->_vscreen[y];
    const int x0 = x;
    bool stopped = false;
    if (fast) {
      const CHATTR first = row[x0];  // what the run's first cell held
      while (p < end) {
        if (!disp && (unsigned)*p - 0x20u < 0x5Fu) {
          // Printable ASCII up to the cell before the last usable column,
          // eight bytes at a time while they last.
          const unsigned char* q = p;
          const unsigned char* stop = p + std::min<ptrdiff_t>(end - p, fv - 1 - x);
          if (q == stop) break;  // the last usable column: one-character rules
          while (stop - q >= 8) {
            uint64_t w;
            std::memcpy(&w, q, 8);
            int k = ao_ascii8(w);
            CHATTR* d = row + x;
            if (k == 8) {
              for (int i = 0; i < 8; i++) d[i] = baseL | q[i];
              x += 8;
              q += 8;
              continue;
            }
            for (int i = 0; i < k; i++) d[i] = baseL | q[i];
            x += k;
            q += k;
            stop = q;  // the next byte is not printable ASCII
            break;
          }
          while (q < stop && (unsigned)*q - 0x20u < 0x5Fu) row[x++] = baseL | *q++;
          p = q;
          continue;
        }
        unsigned b = *p;
        if (b < 0x80 || !utf8) {
          if (!printable8(b)) {
            stopped = true;
            break;
          }
          if (x + 1 >= fv) break;
          if (disp) b = disp[b];
          row[x++] = attr | b | ((b & 0x80) ? setR : setL);
          p++;
          continue;
        }
        // One whole, well-formed sequence; anything else (a piece that
        // stands for U+FFFD, a sequence the buffer cuts short) goes
        // through the byte machine.
        uint32_t cp;
        int n = TCSUtf8Scan(p, end, &cp);
        if (n <= 0) {
          stopped = true;
          break;
        }
        const int cls = wc_class(cp);
        if (cls == WC_NARROW) {
          if (x + 1 >= fv) break;
          row[x++] = attr | ca_from_unicode(cp);
        } else if (cls == WC_WIDE) {
          if (x + 2 >= fv) break;
          row[x] = attr | ca_from_unicode(cp);
          row[x + 1] = 0;
          x += 2;
        } else {
          break;  // zero width (a BOM too): it joins the cell before, by the one-character rules
        }
        p += n;
      }
      if (x > x0) {
        ao_unpair_left(t, row, y, x0, first);
        ao_unpair_right(t, row, y, x - 1);
        vid_touch_row(t, y, x0, x - 1);
        t->vdestcol = x;
        VidPos(t, y, x);
      }
      if (stopped || p >= end) return p;
    }
    // One character by the full rules: the end of a row, a pending wrap,
    // or the status row.
    unsigned b = *p;
    if (b < 0x80 || !utf8) {
      if (!printable8(b)) return p;
      ansiout2(t, (CHATTR)b);
      p++;
      continue;
    }
    uint32_t cp;
    int n = TCSUtf8Scan(p, end, &cp);
    if (n <= 0) return p;
    ao_unicode(t, cp);
    p += n;
  }
  return p;
}

// Nothing makes a byte of an escape or control sequence special: the
// sequence bytes may skip the per-byte checks of ansiout.
static inline bool ao_plainseq(te* t) {
  return !t->_vtdcson && !t->_prctrl && !t->_vmaskpar && t->vt.GL < 4 && t->MBMode <= 1 &&
         !(t->_vemode & VM_VT52) && !t->_vt52y && !t->unicodeContext.need;
}

void ansiemwrite(te* t, const unsigned char* p, size_t n) {
  const unsigned char* end = p + n;
  // Whether sequence bytes may skip ansiout; re-read after anything that
  // can change a mode.
  bool plain = ao_plainseq(t);
  bool bulk = ao_fastok(t);
  while (p < end) {
    int state = t->_emstate;
    if (state == ES_GROUND) {
      if (bulk) {
        p = ao_bulk(t, p, end);
        if (p >= end) break;
      }
      if (plain) {
        // ESC, CR and LF in ground state, as ansiout takes them.
        unsigned c = *p;
        if (c == 0x1B) {
          t->_vtptr = 0;
          t->_vtbuf[0] = 0;
          t->_emstate = ES_ESC;
          p++;
          continue;
        }
        if (c == '\r' || c == '\n') {
          ao_c0(t, (int)c);
          p++;
          continue;
        }
      }
    } else if (plain && state == ES_CSI) {
      // Parameter bytes, then the final, exactly as ansiout takes them.
      while (p < end && (unsigned)*p - 0x30u < 0x10u) ao_append(t, *p++);
      if (p >= end) break;
      unsigned c = *p;
      if (c - 0x40u < 0x3Fu) {
        p++;
        ao_final(t, (int)c);
        plain = ao_plainseq(t);
        bulk = ao_fastok(t);
        continue;
      }
    } else if (plain && state == ES_ESC && *p == '[') {
      t->_emstate = ES_CSI;
      p++;
      continue;
    }
    ansiemout(t, *p++);
    plain = ao_plainseq(t);
    bulk = ao_fastok(t);
  }
}
