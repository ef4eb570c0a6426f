// Where the ANSI modes, reports, device-control strings, rectangle
// operations and SCO extensions plug into the parser.  This file holds what
// the parser itself needs from them: device-control strings are read to
// their end, SCO key definitions are collected, and the media-copy
// sequences switch printer-controller mode; the other entries accept their
// sequence and do nothing yet.
#include <cstring>

#include "em/ansi.h"
#include "em/em.h"
#include "vid/vid.h"

void ansi_modes(te*, int) {}

void ansi_private(te*, int) {}

void ansi_scoeq(te*, int) {}

void ansi_identify(te*, int) {}

void ansi_ext(te*, int) {}

void ansi_mediacopy(te* t) {
  if (t->_vtbuf[0] == '?') return;
  int p = vtgetp1(t);
  switch (p) {
    case 5:
    case 7:
    case 9:
    case 11:
    case 13:
    case 15:
      t->current_printer = p == 5 ? 0 : p == 7 ? 1 : (p - 9) / 2 + 2;
      t->_prctrl = 1;
      t->_prfstate = t->_prfheld = 0;
      break;
    case 8:
    case 10:
    case 12:
    case 14:
      t->current_printer = 0;
      t->_prctrl = 0;
      break;
    default:
      break;
  }
}

void ansi_dcsstart(te* t) {
  t->_vtdcson = 2;
}

// Device-control data runs to the string terminator (ESC \, or 0x9C when
// C1 controls are on).  CAN and SUB abandon it.
void ansi_dcsdata(te* t, int c) {
  if (c == 0x18 || c == 0x1A) {
    t->_vtdcson = 0;
    t->_emstate = ES_GROUND;
    return;
  }
  if (t->_vtdcson == 3) {
    t->_vtdcson = (c == '\\' || c == '/') ? 0 : 2;
    if (!t->_vtdcson) t->_emstate = ES_GROUND;
    return;
  }
  if (c == 0x1B) {
    t->_vtdcson = 3;
  } else if (c == 0x9C && t->_vt200mode == 2) {
    t->_vtdcson = 0;
    t->_emstate = ES_GROUND;
  }
}

// SCO function-key definition: ESC Q k d string d.
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
        if (k >= 0 && k < TE_PRGKEYS) {
          EmFree(t->_prgkeys[k]);
          t->_prgkeys[k] = nullptr;
          if (t->_vtptr > 0) {
            char* s = (char*)EmAlloc((size_t)t->_vtptr + 1);
            if (s) std::memcpy(s, t->_vtbuf, (size_t)t->_vtptr);
            t->_prgkeys[k] = s;
          }
        }
        t->_vtmpkey = -1;
        t->_vtptr = 0;
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
