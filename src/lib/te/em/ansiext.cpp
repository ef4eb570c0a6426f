// Where the finals of the ANSI/VT modes layer meet the control-sequence
// table: the finals that carry a `$`, `&` or `"` intermediate are routed to
// reports, rectangle operations and the status line, those with a blank
// (only the cursor style, CSI Ps SP q, acts) end here, and media copy
// (CSI Pm i) selects printers, printer-controller mode and the auxiliary
// port diversion.
#include <string>

#include "em/ansi.h"
#include "em/em.h"
#include "em/teaux.h"
#include "vid/vid.h"

static inline char ex_last(te* t) {
  return t->_vtptr > 0 ? t->_vtbuf[t->_vtptr - 1] : 0;
}

// DECSCUSR, CSI Ps SP q: the cursor style the host asks for, 1-6 (a
// blinking or steady block, underline or bar), 0 or none for the
// terminal's own.  Anything else in the parameters, or a number above 6,
// changes nothing.
static void ex_cursorstyle(te* t) {
  int n = 0, digits = 0;
  for (int i = 0; i < t->_vtptr - 1; i++) {
    const char d = t->_vtbuf[i];
    if (d < '0' || d > '9' || ++digits > 3) return;
    n = n * 10 + (d - '0');
  }
  if (n <= 6) t->_cursorstyle = n;
}

void ansi_ext(te* t, int c) {
  char last = ex_last(t);
  if (last == ' ') {
    if (c == 'q') ex_cursorstyle(t);
    return;
  }
  switch (c) {
    case 'p':
      if (last == '$')
        ansi_modereq(t, 0);
      else if (last == '"')
        ansi_conformance(t);
      break;
    case 'u':
      if (last == '$' && t->_vtbuf[0] == '1')
        ansi_termstate(t);
      else if (last == '&' && t->_vtptr == 1)
        snddcs(t, "0!u%5", 5);
      break;
    case 'w':
      if (last == '$') ansi_presentation(t);
      break;
    case 'v':
    case 'x':
    case 'z':
    case '{':
      if (last == '$') ansi_rect(t, c);
      break;
    case '}':
      if (last == '$') ansi_statusline(t, c);
      break;
    case '~':
      if (last == '$')
        ansi_statusline(t, c);
      else if (last == '&')
        ansi_showtcs(t);
      break;
    default:
      break;
  }
}

// ---- media copy

static void mc_controller(te* t, int printer) {
  // Without a printer nothing would print what the host sends: the screen
  // keeps showing it rather than swallowing it until CSI 4 i.
  if (!t->hooks.printer) return;
  t->current_printer = printer;
  t->_prctrl = 1;
  t->_prfstate = t->_prfheld = 0;
}

// The screen to the host: the low byte of each usable cell of every row,
// each row followed by LF.
static void mc_sendscreen(te* t) {
  std::string s;
  for (int y = 0; y < t->vlines; y++) {
    int fv = vid_fvcols(t, y);
    for (int x = 0; x < fv; x++) s += (char)(t->_vscreen[y][x] & CA_CHAR);
    s += '\n';
  }
  if (t->hooks.bcomout) {
    t->hooks.bcomout(t, s.data(), (int)s.size());
  } else if (t->hooks.comout) {
    for (unsigned char c : s) t->hooks.comout(t, c);
  }
}

void ansi_mediacopy(te* t) {
  int p = vtgetp1(t);
  bool aux = te_useaux(t);
  switch (p) {
    case 0:
      if (t->hooks.printer) t->hooks.printer(t, TE_PRINT_SCREEN, nullptr, 0);
      break;
    case 2:
      // Screen read-back: only when allowed (a file shown on the screen
      // could otherwise type the screen into the shell).
      if ((t->_vemode & VM_SCO) && (t->readback || t->_blokmode)) mc_sendscreen(t);
      break;
    case 4:
      if (aux) setaux(t, 0x8);
      break;
    case 5:
      if (aux)
        setaux(t, 0x4);
      else
        mc_controller(t, 0);
      break;
    case 6:
      if (aux) setaux(t, 0x2);
      break;
    case 7:
      if (aux)
        setaux(t, 0x1);
      else
        mc_controller(t, 1);
      break;
    case 8:
    case 10:
    case 12:
    case 14:
      t->current_printer = 0;
      t->_prctrl = 0;
      break;
    case 9:
    case 11:
    case 13:
    case 15:
      mc_controller(t, (p - 9) / 2 + 2);
      break;
    default:
      break;
  }
}
