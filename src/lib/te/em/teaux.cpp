// Auxiliary port: the diversion bits and whether a port is configured.
#include "em/teaux.h"

bool te_useaux(te* t) {
  return (t->aux_devport[0] || t->aux_port) && t->aux_baud && t->aux_wdlen;
}

int setaux(te* t, int status) {
  int old = t->auxmode;
  if (status & 0x2) t->auxmode &= ~0x1;
  if (status & 0x1) t->auxmode |= 0x1;
  if (status & 0x8) t->auxmode &= ~0x4;
  if (status & 0x4) t->auxmode |= 0x4;
  if (t->hooks.capture) {
    if ((old ^ t->auxmode) & 0x1) t->hooks.capture(t, t->auxmode & 0x1, 6);
    if ((old ^ t->auxmode) & 0x4) t->hooks.capture(t, (t->auxmode & 0x4) ? 1 : 0, 5);
  }
  return t->auxmode;
}
