// Auxiliary port: the diversion bits, the routing of host bytes, the
// filter that finds the end of a diversion (DC4 on the Wyse-type
// emulations, CSI 4 i in its 7- and 8-bit forms, with leading zeros), and
// the port through the owner's hooks.
#include "em/teaux.h"

#include <cstring>

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

// ---- the port

int te_aux_open_port(te* t) {
  if (t->aux_fd >= 0) te_aux_close_port(t);
  t->aux_state = 0;
  t->_auxheld = 0;
  t->aux_fd = t->hooks.aux_open ? t->hooks.aux_open(t) : -1;
  return t->aux_fd;
}

void te_aux_close_port(te* t) {
  if (t->aux_fd >= 0 && t->hooks.aux_close) t->hooks.aux_close(t);
  t->aux_fd = -1;
}

static void aux_write(te* t, const unsigned char* bytes, int n) {
  if (t->aux_fd >= 0 && t->hooks.aux_write && n > 0) t->hooks.aux_write(t, (const char*)bytes, n);
}

bool te_aux_write_char(te* t, int byte) {
  unsigned char b = (unsigned char)byte;
  return t->aux_fd >= 0 && t->hooks.aux_write && t->hooks.aux_write(t, (const char*)&b, 1) == 1;
}

// ---- the filter

// Emulations whose diversion also ends on DC4: the Wyse 60, Televideo and
// Wyse 50 members (the configured number: a personality switch counts).
static bool aux_wyse(te* t) {
  switch (t->emode) {
    case 10:
    case 11:
    case 13:
    case 14:
    case 15:
    case 16:
    case 33:
      return true;
    default:
      return false;
  }
}

// The diversion ends: both bits (a diversion of either kind ends on the
// filter's terminator; one of bit 0x1 could otherwise never end).
static void aux_end(te* t, bool close) {
  t->aux_state = 0;
  t->_auxheld = 0;
  setaux(t, 0xA);
  if (close) te_aux_close_port(t);
}

// Held bytes of a sequence that turned out not to end the diversion go to
// the device as they came.
static void aux_release(te* t, int byte) {
  aux_write(t, t->_auxhold, t->_auxheld);
  unsigned char b = (unsigned char)byte;
  aux_write(t, &b, 1);
  t->_auxheld = 0;
  t->aux_state = 0;
}

static void aux_hold(te* t, int byte, int state) {
  if (t->_auxheld < (int)sizeof t->_auxhold) t->_auxhold[t->_auxheld++] = (unsigned char)byte;
  t->aux_state = state;
}

int te_aux_send_char(te* t, int byte) {
  if (!t->auxmode) return 0;
  if (t->aux_fd < 0 && te_aux_open_port(t) < 0) {
    // The port cannot be used: the diversion ends (the owner has said
    // why) and the byte is shown instead of lost.
    aux_end(t, false);
    return 0;
  }
  unsigned char b = (unsigned char)byte;
  switch (t->aux_state) {
    case 0:
      if (b == 0x14 && aux_wyse(t)) {
        aux_end(t, false);
      } else if (b == 0x1B) {
        aux_hold(t, b, 1);
      } else if (b == 0x9B) {
        aux_hold(t, b, 2);
      } else {
        aux_write(t, &b, 1);
      }
      break;
    case 1:
      if (b == '[')
        aux_hold(t, b, 2);
      else
        aux_release(t, b);
      break;
    case 2:
      // Leading zeros, then the 4.
      if (b == '0' && t->_auxheld < (int)sizeof t->_auxhold - 2)
        aux_hold(t, b, 2);
      else if (b == '4')
        aux_hold(t, b, 3);
      else
        aux_release(t, b);
      break;
    default:
      if (b == 'i')
        aux_end(t, true);
      else
        aux_release(t, b);
      break;
  }
  return 1;
}

size_t te_aux_send_buffer(te* t, const unsigned char* bytes, size_t n) {
  size_t i = 0;
  while (i < n && t->auxmode && te_aux_send_char(t, bytes[i])) i++;
  return i;
}

// ---- routing

void ttyout(te* t, int byte) {
  if (t->auxmode && te_aux_send_char(t, byte)) return;
  if (t->pfnEmProcs) t->pfnEmProcs->emout(t, byte & 0xFF);
}

// Bytes that can end a sequence starting a diversion: the final of ANSI
// CSI 5 i / CSI 7 i, and the argument of Wyse ESC d ! / # / %.
static inline bool aux_maystart(unsigned char b) {
  return b == 'i' || b == '!' || b == '#' || b == '%';
}

void te_aux_route(te* t, const unsigned char* bytes, size_t n) {
  size_t i = 0;
  while (i < n) {
    if (t->auxmode) {
      size_t k = te_aux_send_buffer(t, bytes + i, n - i);
      i += k;
      if (k || !t->auxmode) continue;
    }
    // The emulation up to and including the next byte that may start a
    // diversion; after it the diversion may have begun.
    size_t j = i;
    while (j < n && !aux_maystart(bytes[j])) j++;
    if (j < n) j++;
    if (!t->pfnEmProcs) return;
    if (t->pfnEmProcs->emwrite)
      t->pfnEmProcs->emwrite(t, bytes + i, j - i);
    else
      for (size_t k = i; k < j; k++) t->pfnEmProcs->emout(t, bytes[k]);
    i = j;
  }
}

void dispcapt(te* t, int byte) {
  byte &= 0xFF;
  if (t->wrustr && byte == t->wruchar) {
    size_t n = std::strlen(t->wrustr);
    if (t->hooks.bcomout)
      t->hooks.bcomout(t, t->wrustr, (int)n);
    else if (t->hooks.comout)
      for (size_t i = 0; i < n; i++) t->hooks.comout(t, (unsigned char)t->wrustr[i]);
    return;
  }
  if (t->_vmaskpar) byte &= 0x7F;
  ttyout(t, byte);
}
