// Device-control strings of the ANSI/VT family.  The introducer decides
// the kind (host-programmed keys, request setting, restore terminal state,
// restore presentation state; anything else is read to its end and
// dropped); the data is collected up to the string terminator.  Key
// definitions are stored as each one completes; the other kinds act at the
// terminator.
#include <cstring>

#include "em/ansi.h"
#include "em/em.h"
#include "em/keys.h"

enum : int { DK_NONE = 0, DK_UDK = '|', DK_RQSS = 'q', DK_RSTS = 'p', DK_RSPS = 't' };

// Key numbers of F6-F20 in a definition; position i is slot i + 5.
static const int dk_keynums[15] = {17, 18, 19, 20, 21, 23, 24, 25, 26, 28, 29, 31, 32, 33, 34};

static void dk_clear(te* t) {
  t->_vtptr = 0;
  t->_vtbuf[0] = 0;
}

static void dk_collect(te* t, int c) {
  if (t->_vtptr < TE_VTBUF - 1) {
    t->_vtbuf[t->_vtptr++] = (char)c;
    t->_vtbuf[t->_vtptr] = 0;
  }
}

static int dk_hex(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

static void dk_clearkeys(te* t) { clrprgkeys(t); }

// End of one definition: the collected text, read as pairs of hex digits
// (a lone last digit alone), becomes the string of the slot chosen by the
// key number.  A text with anything but hex digits changes nothing.
static void dk_define(te* t) {
  int slot = t->_vtmpkey;
  t->_vtmpkey = -1;
  if (slot >= 0 && slot < TE_PRGKEYS) {
    char bytes[TE_VTBUF + 1];
    int n = 0;
    bool ok = true;
    for (int i = 0; i < t->_vtptr && ok; i += 2) {
      int hi = dk_hex(t->_vtbuf[i]);
      int lo = i + 1 < t->_vtptr ? dk_hex(t->_vtbuf[i + 1]) : -2;
      if (hi < 0 || lo == -1)
        ok = false;
      else
        bytes[n++] = (char)(lo == -2 ? hi : hi * 16 + lo);
    }
    if (ok) {
      bytes[n] = 0;
      setprgkey(t, slot, bytes);
    }
  }
  dk_clear(t);
}

static void dk_keyslot(te* t) {
  int k = 0;
  bool digits = t->_vtptr > 0 && t->_vtptr <= 4;
  for (int i = 0; i < t->_vtptr && digits; i++) {
    char c = t->_vtbuf[i];
    if (c < '0' || c > '9')
      digits = false;
    else
      k = k * 10 + (c - '0');
  }
  t->_vtmpkey = -1;
  for (int i = 0; digits && i < 15; i++)
    if (dk_keynums[i] == k) t->_vtmpkey = i + 5;
  dk_clear(t);
}

void ansi_dcsstart(te* t) {
  t->_vtdcson = 2;
  int kind = DK_NONE;
  const char* p = t->_vtbuf;
  switch (t->_vtcmd) {
    case '|':
      if (std::strspn(p, "0123456789;") != std::strlen(p)) break;
      kind = DK_UDK;
      if (vtgetpn(t, 1) == 0) dk_clearkeys(t);
      if (vtgetpn(t, 2) == 0) t->_vtfkeyl = 1;
      break;
    case 'q':
      if (!std::strcmp(p, "$")) kind = DK_RQSS;
      break;
    case 'p':
      if (!std::strcmp(p, "1$")) kind = DK_RSTS;
      break;
    case 't':
      if (t->_vtptr > 0 && p[t->_vtptr - 1] == '$') {
        kind = DK_RSPS;
        t->_termtmps[2] = vtgetp1(t);
      }
      break;
    default:
      break;
  }
  t->_vtdcstate = kind;
  t->_vtmpkey = -1;
  dk_clear(t);
}

// The string ends; `complete` when it ended with its terminator (a pending
// definition completes, the other kinds act).
static void dk_finish(te* t, bool complete) {
  int kind = t->_vtdcstate;
  t->_vtdcson = 0;
  t->_vtdcstate = 0;
  t->_emstate = ES_GROUND;
  if (complete) {
    switch (kind) {
      case DK_UDK:
        dk_define(t);
        break;
      case DK_RQSS:
        ansi_rqss(t, t->_vtbuf);
        break;
      case DK_RSTS:
        ansi_restore_termstate(t, t->_vtbuf);
        break;
      case DK_RSPS:
        ansi_restore_presentation(t, t->_termtmps[2], t->_vtbuf);
        break;
      default:
        break;
    }
  }
  t->_vtmpkey = -1;
  dk_clear(t);
}

// Data runs to the string terminator (ESC \, or 0x9C when C1 controls are
// on); ESC / ends it without completing; ESC and any other byte are
// dropped.  CAN and SUB abandon the string.  Other controls are ignored.
void ansi_dcsdata(te* t, int c) {
  if (c == 0x18 || c == 0x1A) {
    dk_finish(t, false);
    return;
  }
  if (t->_vtdcson == 3) {
    if (c == '\\' || c == '/')
      dk_finish(t, c == '\\');
    else
      t->_vtdcson = 2;
    return;
  }
  if (c == 0x1B) {
    t->_vtdcson = 3;
    return;
  }
  if (c == 0x9C && t->_vt200mode == 2) {
    dk_finish(t, true);
    return;
  }
  if (c < 0x20) return;
  switch (t->_vtdcstate) {
    case DK_UDK:
      if (c == '/')
        dk_keyslot(t);
      else if (c == ';')
        dk_define(t);
      else
        dk_collect(t, c);
      break;
    case DK_RQSS:
    case DK_RSTS:
    case DK_RSPS:
      dk_collect(t, c);
      break;
    default:
      break;
  }
}
