// ANSI modes (CSI Pm h / l) and the DEC private table (CSI ? ...): private
// modes, selective erase, private status and mode requests, private media
// copy.  Also the power-up values of these modes that every reset restores.
#include <cstring>

#include "em/ansi.h"
#include "em/em.h"
#include "vid/vid.h"

// The n-th parameter (1-based) of a text whose first one may carry a
// one-character private marker.
static int md_param(te* t, int n, bool marked) {
  if (n == 1) return marked ? vtqgetp1(t) : vtgetp1(t);
  return n <= vtnparms(t) ? vtgetpn(t, n) : 0;
}

void ansi_modes(te* t, int set) {
  for (int i = 1;; i++) {
    int p = md_param(t, i, false);
    if (!p) break;
    switch (p) {
      case 2:
        // The keyboard lock is reported like the printer diversions.
        if (t->_kdisable != set && t->hooks.capture) t->hooks.capture(t, set, 7);
        t->_kdisable = set;
        break;
      case 4:
        t->_vinsmode = set;
        break;
      case 12:
        t->dupmode = !set;
        break;
      case 20:
        t->_vnlmode = set;
        break;
      default:
        break;
    }
  }
}

// Origins follow origin mode and the region in force; the cursor goes home
// (inside the region when origin mode is on).
static void md_origin(te* t, int on) {
  t->_decom = on;
  if (on && t->_vscregion) {
    t->_vorigin = t->_vscregtop;
    t->_horigin = t->_vscregleft;
  } else {
    t->_vorigin = t->_horigin = 0;
  }
  cpos(t, 0, 0);
}

static void md_private(te* t, int mode, int set) {
  switch (mode) {
    case 1:
      t->_appcur = set;
      break;
    case 2:
      if (!set) {
        t->_vemode = VM_VT52;
        t->_vt200mode = 0;
        t->_vtc18out = 0;
      }
      break;
    case 3:
      set132col(t, set ? 1 : 0);
      vid_region_off(t);
      if (t->_vemode & VM_VT200) {
        t->_vscregleft = 0;
        t->_vscregright = t->vcols - 1;
      }
      break;
    case 5:
      t->_revvideo = set;
      vredraw(t);
      break;
    case 6:
      md_origin(t, set);
      break;
    case 7:
      t->_AMon = set;
      break;
    case 18:
      t->_prformfd = set;
      break;
    case 19:
      t->_prextent = set;
      break;
    case 25:
      t->_cursmode = set;
      vidcurtype(t, set ? -1 : 0);
      break;
    case 42:
      t->_nrcsmode = set || t->_vt4207mode ? 1 : 0;
      t->vt.CharSet[0] = set ? t->defcset : 0;
      break;
    case 47:
    case 1047:
    case 1049:
      ansi_altscreen(t, mode, set);
      break;
    case 66:
      t->_appkey = set;
      break;
    case 69:
      if (!(t->_vemode & VM_VT420)) break;
      t->_decvssm = set;
      if (set) {
        for (int y = 0; y < t->vlines; y++)
          if (t->vlattr[y] & LA_WIDTH) {
            t->vlattr[y] &= (unsigned char)~LA_WIDTH;
            vid_touch_row(t, y, 0, t->vcols - 1);
          }
      } else {
        t->_vscregleft = 0;
        t->_vscregright = t->vcols - 1;
        t->_horigin = 0;
      }
      break;
    case 2004:
      t->_bracketpaste = set;
      break;
    case 1048:
      if (set)
        ansi_savecursor(t);
      else
        ansi_restorecursor(t);
      break;
    default:
      ansi_xterm_mode(t, mode, set);
      break;
  }
}

// Selective erase: ED or EL with the parameter after the marker, run so
// that protected cells survive and erased cells keep their attribute.
static void md_selerase(te* t, int c) {
  std::memmove(t->_vtbuf, t->_vtbuf + 1, (size_t)t->_vtptr);
  if (t->_vtptr > 0) t->_vtptr--;
  t->erasemode = 1;
  vtcontrol(t, c);
  t->erasemode = 0;
}

static void md_mediacopy(te* t) {
  switch (vtqgetp1(t)) {
    case 1:
      if (t->hooks.printer) t->hooks.printer(t, TE_PRINT_LINE, nullptr, t->vdestline);
      break;
    case 4:
      t->_prauto = 0;
      break;
    case 5:
      t->_prauto = 1;
      break;
    default:
      break;
  }
}

void ansi_private(te* t, int c) {
  char last = t->_vtptr > 0 ? t->_vtbuf[t->_vtptr - 1] : 0;
  switch (c) {
    case 'h':
    case 'l':
      for (int i = 1;; i++) {
        int p = md_param(t, i, true);
        if (!p) break;
        md_private(t, p, c == 'h');
      }
      break;
    case 'J':
    case 'K':
      md_selerase(t, c);
      break;
    case 'i':
      md_mediacopy(t);
      break;
    case 'n':
      ansi_privdsr(t);
      break;
    case 'p':
      if (last == '$') ansi_modereq(t, 1);
      break;
    default:
      break;
  }
}

void ansi_modes_reset(te* t) {
  if (t->_staton) vidstatline(t, 2, 0);
  t->_staton = 0;
  t->_statcatinit = 0;
  t->_cursmode = 1;
  vidcurtype(t, -1);
  t->_revvideo = 0;
  t->_decvssm = 0;
  t->_modeset = 0;
  std::memset(t->_conformlev, 0, sizeof t->_conformlev);
  t->_vtdcstate = 0;
  t->_vtmpkey = -1;
  ansi_xterm_reset(t);
}
