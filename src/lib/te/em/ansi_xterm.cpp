// What the ANSI/VT family takes from xterm beyond the DEC terminals: the
// alternate screen as xterm keeps it (modes 47, 1047, 1049), repeating the
// last character (REP), erasing the scrollback (ED 3), the window title and
// its stack, window reports, the cursor style (DECSCUSR), and the mouse and
// focus modes a host sets (kept for the reports; nothing sends mouse events
// yet).
#include <cstdio>
#include <cstring>
#include <utility>

#include "em/ansi.h"
#include "em/em.h"
#include "vid/vid.h"

// ---- alternate screen

// The cursor a DECSC saved, one of them for each screen as xterm keeps it.
static void xt_swap_saved(te* t) {
  XTSAVED& o = t->_altsaved;
  std::swap(o.x, t->_vtsavx);
  std::swap(o.y, t->_vtsavy);
  std::swap(o.org, t->_vtsavorg);
  std::swap(o.attr, t->_vtsavattr);
  std::swap(o.set, t->vt.SaveSet);
  std::swap(o.shift, t->vt.SaveShift);
  std::swap(o.gr, t->vt.SaveGR);
  std::swap(o.valid, t->vt.SaveValid);
  for (int i = 0; i < 4; i++) std::swap(o.charset[i], t->vt.SaveCharSet[i]);
}

// Shows page `n` (0 the normal screen, 1 the alternate one) with the cursor,
// its pending wrap and the attribute staying as they are: xterm has one
// cursor for both screens.
static void xt_showpage(te* t, int n) {
  const int y = t->vdestline, x = t->vdestcol;
  const CHATTR attr = t->_vcurattr;
  selpage(t, n, 0);
  if (t->_vcurpage != n) return;
  xt_swap_saved(t);
  t->vdestline = y < t->vlines ? y : t->vlines - 1;
  t->vdestcol = x < t->vcols ? x : t->vcols - 1;
  t->_vcurattr = attr;
  VidPos(t, t->vdestline, t->vdestcol);
}

void ansi_altscreen(te* t, int mode, int set) {
  const bool pages = t->vpages >= 2 && t->_pages[0] && t->_pages[1];
  if (!pages) {
    // Only one screen: what the modes ask of the screen alone (the cursor
    // saved first, and kept where it is by the clearing).
    if (mode == 1049 && set) ansi_savecursor(t);
    if ((set && mode == 1049) || (!set && mode == 1047)) {
      const int y = t->vdestline, x = t->vdestcol;
      const CHATTR attr = t->_vcurattr;
      vclear2(t, 0);
      EmSetAttr(t, attr);
      t->vdestline = y;
      t->vdestcol = x;
      VidPos(t, y, x);
    }
    if (mode == 1049 && !set) ansi_restorecursor(t);
    vredraw(t);
    return;
  }
  if (set) {
    if (t->_vcurpage == 1) return;
    if (mode == 1049) ansi_savecursor(t);
    xt_showpage(t, 1);
    if (mode == 1049) {
      // Cleared in the colours in force, the cursor kept.
      const int y = t->vdestline, x = t->vdestcol;
      const CHATTR attr = t->_vcurattr;
      vclear2(t, 0);
      EmSetAttr(t, attr);
      t->vdestline = y;
      t->vdestcol = x;
      VidPos(t, y, x);
    }
  } else {
    if (t->_vcurpage != 1) return;
    if (mode == 1047 || mode == 1049) {
      const int y = t->vdestline, x = t->vdestcol;
      const CHATTR attr = t->_vcurattr;
      vclear2(t, 0);
      EmSetAttr(t, attr);
      t->vdestline = y;
      t->vdestcol = x;
    }
    xt_showpage(t, 0);
    if (mode == 1049) ansi_restorecursor(t);
  }
  vredraw(t);
}

// ---- REP and ED 3

void ansi_repeat(te* t) {
  const CHATTR c = t->_vlastch;
  if (!c) return;
  // A screenful at most: more would only scroll the same character by.
  int n = vtdefp1(t);
  const int cap = t->vlines * t->vcols;
  if (n > cap) n = cap;
  for (int i = 0; i < n; i++) ansi_store_translated(t, c);
}

void ansi_erase_saved(te* t) {
  scrollback* sb = t->_sb;
  if (!sb) return;
  if (sb->sbcurline) sbdisplay(t, 0);
  sb->sbfirstline = -1;
  sb->sblastline = 0;
}

// ---- title, its stack and the window reports

static char* xt_strdup(const char* s) {
  size_t n = std::strlen(s);
  if (n >= (size_t)TE_TITLEMAX) n = TE_TITLEMAX - 1;
  char* p = (char*)EmAlloc(n + 1);
  if (p) std::memcpy(p, s, n);
  return p;
}

void ansi_set_title(te* t, const char* text) {
  char* copy = xt_strdup(text ? text : "");
  if (!copy) return;
  EmFree(t->_vtitle);
  t->_vtitle = copy;
  if (t->hooks.set_title) t->hooks.set_title(t, copy);
}

static void xt_title_push(te* t) {
  if (t->_titledepth >= TE_TITLESTACK) {
    // xterm's stack is ten deep; a push beyond forgets the oldest.
    EmFree(t->_titlestack[0]);
    std::memmove(t->_titlestack, t->_titlestack + 1, (TE_TITLESTACK - 1) * sizeof t->_titlestack[0]);
    t->_titledepth--;
  }
  char* copy = xt_strdup(t->_vtitle ? t->_vtitle : "");
  if (copy) t->_titlestack[t->_titledepth++] = copy;
}

static void xt_title_pop(te* t) {
  if (t->_titledepth <= 0) return;
  char* top = t->_titlestack[--t->_titledepth];
  t->_titlestack[t->_titledepth] = nullptr;
  ansi_set_title(t, top);
  EmFree(top);
}

void ansi_window(te* t) {
  // Parameters only; anything else is another sequence.
  for (const char* p = t->_vtbuf; *p; p++)
    if ((*p < '0' || *p > '9') && *p != ';') return;
  switch (vtgetp1(t)) {
    case 18: {
      // The text area in characters.
      char buf[32];
      std::snprintf(buf, sizeof buf, "8;%d;%dt", t->vlines, t->vcols);
      sndcsi(t, buf);
      break;
    }
    case 22:
      // Ps 0 and 2 name the title (1 the icon's, which is not kept).
      if (vtgetpn(t, 2) != 1) xt_title_push(t);
      break;
    case 23:
      if (vtgetpn(t, 2) != 1) xt_title_pop(t);
      break;
    default:
      break;
  }
}

// ---- sequences with a space before the final

void ansi_csi_space(te* t, int c) {
  const char* s = t->_vtbuf;
  const size_t n = std::strlen(s);
  if (n == 0 || s[n - 1] != ' ') return;  // the space is the only intermediate
  for (size_t i = 0; i + 1 < n; i++)
    if (s[i] < '0' || s[i] > '9') return;
  if (c == 'q') {
    // DECSCUSR: 0 and 1 a blinking block, 2 a steady one, 3 and 4 an
    // underline, 5 and 6 a bar.
    const int style = vtgetp1(t);
    if (style >= 0 && style <= 6) t->_cursorstyle = style;
  }
}

// ---- mouse and focus modes

bool ansi_xterm_mode(te* t, int mode, int set) {
  switch (mode) {
    case 9:
    case 1000:
    case 1001:
    case 1002:
    case 1003:
      if (set)
        t->_mousemode = mode;
      else if (t->_mousemode == mode)
        t->_mousemode = 0;
      return true;
    case 1005:
    case 1006:
    case 1015:
      if (set)
        t->_mouseenc = mode;
      else if (t->_mouseenc == mode)
        t->_mouseenc = 0;
      return true;
    case 1004:
      t->_focusevents = set;
      return true;
    case 12:
      t->_cursorblink = set;
      return true;
    case 1034:
      // Meta sets the eighth bit: the page's Alt sends ESC first either way.
      return true;
    default:
      return false;
  }
}

int ansi_xterm_modestate(te* t, int mode) {
  auto on = [](bool v) { return v ? 1 : 2; };
  switch (mode) {
    case 9:
    case 1000:
    case 1001:
    case 1002:
    case 1003:
      return on(t->_mousemode == mode);
    case 1005:
    case 1006:
    case 1015:
      return on(t->_mouseenc == mode);
    case 1004:
      return on(t->_focusevents);
    case 12:
      return on(t->_cursorblink);
    case 47:
    case 1047:
    case 1049:
      return on(t->_vcurpage == 1);
    default:
      return -1;
  }
}

void ansi_xterm_reset(te* t) {
  t->_cursorstyle = 0;
  t->_cursorblink = 0;
  t->_mousemode = t->_mouseenc = 0;
  t->_focusevents = 0;
  t->_vlastch = 0;
  // A DECRC with nothing saved homes the cursor in the normal attribute.
  t->_altsaved = XTSAVED{};
  t->_altsaved.attr = EmGetDefDefaultAttr(t);
}
