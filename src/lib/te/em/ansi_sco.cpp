// SCO console extensions of the SCO ANSI and AT386 members: the
// `CSI = Ps final` sequences (cursor, blinking, temporary normal and
// reverse colours, scan-code keyboard) and the ESC Q function-key
// definition.
#include <cstring>

#include "em/ansi.h"
#include "em/em.h"
#include "em/keys.h"
#include "vid/vid.h"

// Colour byte (background << 4 | foreground) in force for a combination;
// white on black when the map gives none.
static unsigned sc_colorbyte(te* t, int combo) {
  unsigned c = t->inuseCAT[combo].color >> 24;
  return c == 0xFF ? 0x07 : c;
}

// Temporary colour of a combination: one nibble replaced, the other kept.
static void sc_setcolor(te* t, CHATTR combo, int n, bool background) {
  unsigned c = sc_colorbyte(t, ca_combo(combo));
  c = background ? ((unsigned)n << 4) | (c & 0x0F) : (c & 0xF0) | (unsigned)n;
  EmMapColor(t, combo, (int)c, 0);
}

void ansi_scoeq(te* t, int c) {
  int n = vtqgetp1(t);
  if (n < 0 || n > 15) return;
  switch (c) {
    case 'C':
      t->_cursmode = 1;
      vidcurtype(t, -1);
      break;
    case 'E':
      vblink(t, n != 0);
      break;
    case 'F':
      sc_setcolor(t, 0, n, false);
      break;
    case 'G':
      sc_setcolor(t, 0, n, true);
      break;
    case 'H':
      sc_setcolor(t, CA_REV, n, false);
      break;
    case 'I':
      sc_setcolor(t, CA_REV, n, true);
      break;
    case 's':
      t->_scanmode = n != 0;
      break;
    default:
      break;
  }
}

// SCO function-key definition: ESC Q k d string d.  k ('0' to '_') picks
// slot k - '0'; d is any delimiter; in the string `^` makes the next byte
// count as that byte minus 0x20.
void ansi_scokey(te* t, int c) {
  switch (t->_emstate) {
    case ES_SCOKEY:
      if (c >= '0' && c <= '_') {
        t->_vtmpkey = c - '0';
        t->_emstate = ES_SCOKEY + 1;
      } else {
        t->_emstate = ES_GROUND;
      }
      break;
    case ES_SCOKEY + 1:
      t->_termtmps[0] = c;  // delimiter
      t->_termtmps[1] = 0;  // a '^' is pending
      t->_vtptr = 0;
      t->_vtbuf[0] = 0;
      t->_emstate = ES_SCOKEY + 2;
      break;
    case ES_SCOKEY + 2:
      if (c == t->_termtmps[0] && !t->_termtmps[1]) {
        int k = t->_vtmpkey;
        t->_vtbuf[t->_vtptr] = 0;
        setprgkey(t, k, t->_vtbuf);
        t->_vtmpkey = -1;
        t->_vtptr = 0;
        t->_vtbuf[0] = 0;
        t->_emstate = ES_GROUND;
      } else if (c == '^' && !t->_termtmps[1]) {
        t->_termtmps[1] = 1;
      } else {
        if (t->_termtmps[1]) c -= 0x20;
        t->_termtmps[1] = 0;
        if (t->_vtptr < TE_VTBUF - 1) {
          t->_vtbuf[t->_vtptr++] = (char)c;
          t->_vtbuf[t->_vtptr] = 0;
        }
      }
      break;
    default:
      t->_emstate = ES_GROUND;
      break;
  }
}
