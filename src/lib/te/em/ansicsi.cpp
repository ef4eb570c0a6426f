// Control sequences of the ANSI/VT family: parameter access, the final
// table (cursor movement, erase, insert/delete, scrolling, tabs, regions),
// and replies to the host.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "em/ansi.h"
#include "em/em.h"
#include "vid/vid.h"

// ---- parameters

// A decimal integer as the C library reads one: leading blanks and tabs,
// an optional minus, digits up to the first non-digit; wraps like an int.
static int cs_atoi(const char* s) {
  while (*s == ' ' || *s == '\t') s++;
  bool neg = false;
  if (*s == '-') {
    neg = true;
    s++;
  } else if (*s == '+') {
    s++;
  }
  unsigned v = 0;
  while (*s >= '0' && *s <= '9') v = v * 10u + (unsigned)(*s++ - '0');
  return (int)(neg ? 0u - v : v);
}

// Start of the n-th parameter (1-based), or null.
static const char* cs_param(te* t, int n) {
  const char* s = t->_vtbuf;
  for (int i = 1; i < n; i++) {
    while (*s && *s != ';') s++;
    if (!*s) return nullptr;
    s++;
  }
  return s;
}

int vtgetp1(te* t) {
  return cs_atoi(t->_vtbuf);
}

int vtqgetp1(te* t) {
  return t->_vtbuf[0] ? cs_atoi(t->_vtbuf + 1) : 0;
}

int vtgetpn(te* t, int n) {
  const char* s = cs_param(t, n);
  return s ? cs_atoi(s) : 0;
}

int vtgetpc(te* t, int n) {
  const char* s = cs_param(t, n);
  return s ? (unsigned char)*s : 0;
}

int vtgetps(te* t, int n, char* buffer, int size) {
  const char* s = cs_param(t, n);
  if (!s || size <= 0) return 0;
  int len = (int)std::min(std::strlen(s), (size_t)size - 1);
  std::memcpy(buffer, s, (size_t)len);
  buffer[len] = 0;
  return len;
}

int vtnparms(te* t) {
  int n = 1;
  for (const char* s = t->_vtbuf; *s; s++) n += *s == ';';
  return n;
}

int vtdefp1(te* t) {
  int n = vtgetp1(t);
  return n ? n : 1;
}

// The n-th parameter as a count: 1 when absent or 0, never above `cap`.
static int cs_count(te* t, int n, int cap) {
  int v = vtgetpn(t, n);
  if (v <= 0) v = 1;
  return std::min(v, std::max(cap, 1));
}

// ---- replies

void vtscmd(te* t, const char* text) {
  int n = (int)std::strlen(text);
  if (t->hooks.bcomout) {
    t->hooks.bcomout(t, text, n);
  } else if (t->hooks.comout) {
    for (int i = 0; i < n; i++) t->hooks.comout(t, (unsigned char)text[i]);
  }
}

void sndcsi(te* t, const char* text) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%s%s", t->_vtc18out ? "\x9b" : "\x1b[", text);
  vtscmd(t, buf);
}

// ---- helpers

// Cursor in origin-relative coordinates, the ones cpos takes.
static inline int cs_rely(te* t) {
  return t->vdestline - t->_vorigin;
}
static inline int cs_relx(te* t) {
  return t->vdestcol - t->_horigin;
}

static inline char cs_last(te* t) {
  return t->_vtptr > 0 ? t->_vtbuf[t->_vtptr - 1] : 0;
}

// The parameter text holds only numbers: no private marker, no
// intermediate.
static bool cs_numeric(te* t) {
  for (const char* p = t->_vtbuf; *p; p++)
    if ((*p < '0' || *p > '9') && *p != ';') return false;
  return true;
}

static void cs_ed(te* t, int mode) {
  int y = t->vdestline, x = t->vdestcol;
  switch (mode) {
    case 0:
      vclreos(t, y, x);
      break;
    case 1:
      for (int r = 0; r < y; r++) _vclreol(t, r, 0, 1);
      _vclrbol(t, y, x, 1);
      t->vdestline = y;
      t->vdestcol = x;
      cgoto(t);
      break;
    case 2: {
      int vm = t->_vemode;
      bool whole = !t->_vscregion || !t->_decom || (vm & (VM_VT420 | VM_VT220_7 | VM_VT220 | VM_VT320_7));
      if (whole) {
        CHATTR keep = t->_vcurattr;
        vclear(t);
        if (vm & VM_SCO) EmSetAttr(t, keep);
      } else {
        for (int r = t->_vscregtop; r <= t->_vscregbot; r++) _vclreol(t, r, 0, 1);
      }
      if (vm & (VM_ANSI | VM_SCOANSI)) {
        t->vdestline = t->_vorigin;
        t->vdestcol = t->_horigin;
      } else {
        t->vdestline = y;
        t->vdestcol = x;
      }
      cgoto(t);
      break;
    }
    case 3:
      // xterm's: the rows kept above the screen go; the screen stays.
      ansi_erase_saved(t);
      break;
    default:
      break;
  }
}

static void cs_el(te* t, int mode) {
  int y = t->vdestline, x = t->vdestcol;
  int clr = (t->_vemode & VM_VTLINEATTR) ? 0 : 1;
  switch (mode) {
    case 0:
      _vclreol(t, y, x, clr);
      break;
    case 1:
      _vclrbol(t, y, x, clr);
      break;
    case 2:
      _vclreol(t, y, 0, clr);
      t->vdestcol = x;
      cgoto(t);
      break;
    default:
      break;
  }
}

// Insert (down) or delete (up) n lines at the cursor row, inside the
// scrolling region when one is on.
static void cs_lines(te* t, int n, bool insert) {
  int y = t->vdestline;
  if (y < 0 || y >= t->vlines) return;
  if (t->_vscregion) {
    if (y < t->_vscregtop || y > t->_vscregbot) return;
    n = std::min(n, t->_vscregbot - y + 1);
    for (int i = 0; i < n; i++) {
      if (insert)
        vsline(t, t->_vscregbot, y, t->_vscregleft, t->_vscregright);
      else
        vsline(t, y, t->_vscregbot, t->_vscregleft, t->_vscregright);
    }
  } else {
    n = std::min(n, t->vlines - y);
    for (int i = 0; i < n; i++) {
      if (insert)
        vdscroll(t, y);
      else
        vuscroll(t, y, 1);
    }
  }
  t->vdestline = y;
  t->vdestcol = t->_vscregion ? t->_horigin : 0;
  cgoto(t);
}

static void cs_scroll(te* t, int n, bool up) {
  int y = cs_rely(t), x = cs_relx(t);
  if (t->_vscregion) {
    n = std::min(n, t->_vscregbot - t->_vscregtop + 1);
    for (int i = 0; i < n; i++) {
      if (up)
        vsline(t, t->_vscregtop, t->_vscregbot, t->_vscregleft, t->_vscregright);
      else
        vsline(t, t->_vscregbot, t->_vscregtop, t->_vscregleft, t->_vscregright);
    }
  } else {
    n = std::min(n, t->vlines);
    for (int i = 0; i < n; i++) {
      if (up)
        vuscroll(t, 0, 1);
      else
        vdscroll(t, 0);
    }
  }
  cpos(t, y, x);
}

static void cs_backtab(te* t, int n) {
  int x = t->vdestcol;
  for (int i = 0; i < n && x > 0; i++) {
    x--;
    while (x > 0 && !(x < TE_MAXCOLS && t->_tabs[x])) x--;
  }
  t->vdestcol = x;
  cgoto(t);
}

// Scrolling margins; the cursor goes home whatever the margins become.
static void cs_stbm(te* t) {
  if (t->_vemode & VM_SCO) {
    vid_region_off(t);
    cpos(t, 0, 0);
    return;
  }
  int top = vtgetpn(t, 1), bot = vtgetpn(t, 2);
  int rows = t->vlines;
  if (top <= 0) top = 1;
  if (bot <= 0) bot = rows;
  if (top >= bot || bot > rows || (top == 1 && bot == rows)) {
    vid_region_off(t);
  } else {
    t->_vscregion = 1;
    t->_vscregtop = top - 1;
    t->_vscregbot = bot - 1;
    t->_vorigin = t->_decom ? t->_vscregtop : 0;
  }
  cpos(t, 0, 0);
}

static void cs_slrm(te* t) {
  int left = vtgetpn(t, 1), right = vtgetpn(t, 2);
  // A margin left out is the screen's edge.
  if (left < 1) left = 1;
  if (right < 1 || right > t->vcols) right = t->vcols;
  if ((t->_vemode & VM_VT420) && left <= t->vcols) {
    if (right - left > 1 && t->_decvssm) {
      t->_vscregion = 1;
      t->_vscregleft = left - 1;
      t->_vscregright = right - 1;
      t->_horigin = t->_decom ? t->_vscregleft : 0;
    }
    cpos(t, 0, 0);
    return;
  }
  vid_region_off(t);
  t->_horigin = 0;
  t->_vscregleft = 0;
  t->_vscregright = t->vcols - 1;
}

void vtcontrol(te* t, int c) {
  int y = t->vdestline;
  int fv = vid_fvcols(t, y);
  switch (c) {
    case '@': {
      int n = cs_count(t, 1, fv);
      for (int i = 0; i < n; i++) vinsert(t, CA_BLANK, 0);
      break;
    }
    case 'A':
      t->vdestline = (int)std::max<long long>((long long)y - cs_count(t, 1, t->Lines), 0);
      cgoto(t);
      break;
    case 'B': {
      int limit = (t->_vscregion && y <= t->_vscregbot) ? t->_vscregbot : t->vlines - 1;
      t->vdestline = (int)std::min<long long>((long long)y + cs_count(t, 1, t->Lines), std::max(limit, y));
      cgoto(t);
      break;
    }
    case 'C':
      t->vdestcol = (int)std::min<long long>((long long)t->vdestcol + cs_count(t, 1, t->vcols),
                                             std::max(fv - 1, t->vdestcol));
      cgoto(t);
      break;
    case 'D':
      t->vdestcol = (int)std::max<long long>((long long)t->vdestcol - cs_count(t, 1, t->vcols), 0);
      cgoto(t);
      break;
    case 'E':
      cpos(t, std::min(cs_rely(t) + cs_count(t, 1, t->Lines), t->vlines - 1 - t->_vorigin), 0);
      break;
    case 'F':
      cpos(t, std::max(cs_rely(t) - cs_count(t, 1, t->Lines), 0), 0);
      break;
    case 'G':
      cpos(t, cs_rely(t), cs_count(t, 1, TE_MAXCOLS) - 1);
      break;
    case 'H':
    case 'f':
      cpos(t, cs_count(t, 1, TE_MAXLINES) - 1, cs_count(t, 2, TE_MAXCOLS) - 1);
      break;
    case 'J':
      cs_ed(t, vtgetp1(t));
      break;
    case 'K':
      cs_el(t, vtgetp1(t));
      break;
    case 'L':
      cs_lines(t, cs_count(t, 1, t->vlines), true);
      break;
    case 'M':
      cs_lines(t, cs_count(t, 1, t->vlines), false);
      break;
    case 'P':
      vdelete(t, cs_count(t, 1, t->vcols));
      break;
    case 'S':
      cs_scroll(t, cs_count(t, 1, t->vlines), true);
      break;
    case 'T':
      cs_scroll(t, cs_count(t, 1, t->vlines), false);
      break;
    case 'X':
      verasech(t, y, t->vdestcol, cs_count(t, 1, t->vcols));
      break;
    case 'Z':
      cs_backtab(t, cs_count(t, 1, t->vcols));
      break;
    case '`':
      cpos(t, cs_rely(t), std::min(cs_count(t, 1, TE_MAXCOLS), fv - t->_horigin) - 1);
      break;
    case 'a':
      cpos(t, cs_rely(t), std::min(cs_relx(t) + cs_count(t, 1, t->vcols), fv - 1 - t->_horigin));
      break;
    case 'b':
      // REP: the last graphic character again, n times.
      if (cs_numeric(t) && !(t->_vemode & VM_SCO)) ansi_repeat(t);
      break;
    case 'c':
      // DA: primary with no parameter or 0; `>` (first or last) asks for the
      // secondary attributes.  Other parameters and markers are no request.
      if (!(t->_vemode & VM_SCO)) {
        const char* p = t->_vtbuf + (t->_vtbuf[0] == '>');
        if ((!*p || (*p >= '0' && *p <= '9')) && cs_atoi(p) == 0)
          ansi_identify(t, t->_vtbuf[0] == '>' || cs_last(t) == '>');
      }
      break;
    case 'd':
      cpos(t, std::min(cs_count(t, 1, TE_MAXLINES), t->vlines) - 1, cs_relx(t));
      break;
    case 'e':
      cpos(t, std::min(cs_rely(t) + cs_count(t, 1, t->Lines), t->vlines - 1 - t->_vorigin), cs_relx(t));
      break;
    case 'g':
      if (t->_vemode & VM_SCOANSI) {
        ansiout2(t, (CHATTR)(vtgetp1(t) & 0xFF));
      } else {
        int p = vtgetp1(t);
        if (p == 0 && t->vdestcol < TE_MAXCOLS) t->_tabs[t->vdestcol] = 0;
        if (p == 3) std::memset(t->_tabs, 0, sizeof t->_tabs);
      }
      break;
    case 'h':
    case 'l':
      ansi_modes(t, c == 'h');
      break;
    case 'i':
      ansi_mediacopy(t);
      break;
    case 'm':
      if (t->_vemode & VM_SCO)
        ansiscosgr(t);
      else
        ansisgr(t);
      break;
    case 'n': {
      int p = vtgetp1(t);
      if (p == 5) {
        sndcsi(t, "0n");
      } else if (p == 6) {
        char buf[32];
        // In origin mode the position counts from the margins, as the VT100
        // and VT220 report it.
        std::snprintf(buf, sizeof buf, "%d;%dR", cs_rely(t) + 1, cs_relx(t) + 1);
        sndcsi(t, buf);
      }
      break;
    }
    case 'p':
      if (cs_last(t) == '!') {
        EmReset(t, 0);
        vclear(t);
      } else {
        ansi_ext(t, c);
      }
      break;
    case 'q':
      if (cs_last(t) == '"') {
        int p = vtgetp1(t);
        if (p == 1) t->_vcurattr |= CA_SELPROT;
        if (p == 0 || p == 2) t->_vcurattr &= ~CA_SELPROT;
      }
      break;
    case 'r':
      cs_stbm(t);
      break;
    case 't':
      if (!(t->_vemode & VM_SCO)) ansi_window(t);
      break;
    case 's':
      // Left and right margins on a VT420 using them; everywhere else the
      // cursor is saved, as ANSI.SYS-style hosts expect.
      if ((t->_vemode & VM_VT420) && t->_decvssm)
        cs_slrm(t);
      else if (cs_numeric(t))
        ansi_savecursor(t);
      break;
    case 'u':
      if (cs_numeric(t))
        ansi_restorecursor(t);
      else if (t->_vemode & VM_VT300)
        ansi_ext(t, c);
      break;
    default:
      vt2control(t, c);
      break;
  }
}

void vt2control(te* t, int c) {
  switch (c) {
    case 'v':
    case 'x':
    case '{':
      if (t->_vemode & VM_VT420) ansi_ext(t, c);
      break;
    case 'z':
      if (t->_vemode & VM_VT420) {
        ansi_ext(t, c);
      } else {
        int p = vtgetp1(t);
        if (p >= 1 && p <= TE_MAXPAGES) selpage(t, p - 1, 1);
      }
      break;
    case 'w':
    case '}':
    case '~':
      ansi_ext(t, c);
      break;
    default:
      break;
  }
}
