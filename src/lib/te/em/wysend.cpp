// What the Wyse, IBM 3151 and PC-term families send the host: replies,
// cursor reports, block transmission of lines, pages and messages, the
// character at the cursor, and whether the host may read the screen back
// at all.
#include <string>

#include "em/em.h"
#include "em/wyse.h"

void wy_reply(te* t, const char* bytes, int n) {
  if (n <= 0) return;
  if (t->hooks.bcomout) {
    t->hooks.bcomout(t, bytes, n);
  } else if (t->hooks.comout) {
    for (int i = 0; i < n; i++) t->hooks.comout(t, (unsigned char)bytes[i]);
  }
}

void wy_replycursor(te* t, int withpage) {
  char r[4];
  int n = 0;
  if (withpage) r[n++] = (char)('0' + t->_vcurpage);
  r[n++] = (char)((t->vdestline + 32) & 0xFF);
  r[n++] = (char)((t->vdestcol + 32) & 0xFF);
  r[n++] = '\r';
  wy_reply(t, r, n);
}

bool wy_readback_ok(te* t) {
  return t->_blokmode || t->readback;
}

// The bytes that stand for a cell's character.
static void wy_cellbytes(te* t, CHATTR c, std::string& out) {
  uint32_t cp = ca_unicode(c);
  if (cp && !(c & 0x7FF) && t->MBMode == 1) {
    TCSUtf8Append(out, cp);
    return;
  }
  if (c == 0) return;  // right half of a wide character
  out += (char)(c & CA_CHAR);
}

// Attribute code of an attribute cell as the host writes it after ESC G.
static char wy_attrcode(CHATTR c) {
  int code = 0x30;
  if (c & CA_INVIS) code += 1;
  if (c & CA_BLINK) code += 2;
  if (c & CA_REV) code += 4;
  if (c & CA_UNDER) code += 8;
  return (char)code;
}

static const CHATTR WY_SOM = 0x12F;  // start-of-message mark: graphics '/'
static const CHATTR WY_EOM = 0x130;  // end-of-message mark: graphics '0'

namespace {
struct WySender {
  te* t;
  bool unprotonly;
  bool prev = false;  // the previous cell sent was protected
  std::string out;
  void cell(CHATTR c) {
    if ((c & CA_CHARPART) == WY_SOM) {
      out += '\x02';
      return;
    }
    bool prot = (c & CA_PROT) != 0;
    if (t->_protect) {
      if (unprotonly) {
        if (prot) {
          if (!prev) out += '\x1c';
          prev = true;
          return;
        }
      } else if (prot != prev) {
        out += prot ? "\x1b)" : "\x1b(";
      }
      prev = prot;
    }
    if (c & CA_EMBED) {
      out += "\x1bG";
      out += wy_attrcode(c);
      return;
    }
    wy_cellbytes(t, c, out);
  }
};
}  // namespace

void wy_send(te* t, int kind) {
  if (!wy_readback_ok(t)) return;
  wa_flush(t);
  const int y = t->vdestline, x = t->vdestcol, cols = t->vcols;
  WySender s{t, kind == 4 || kind == 5 || kind == 'S', false, {}};
  if (kind == 4 || kind == 6) {
    for (int c = 0; c <= x; c++) s.cell(t->_vscreen[y][c]);
    s.out += '\r';
  } else if (kind == 5 || kind == 7) {
    for (int r = 0; r <= y; r++) {
      int last = r == y ? x : cols - 1;
      for (int c = 0; c <= last; c++) s.cell(t->_vscreen[r][c]);
      if (r < y) s.out += '\x1f';
    }
    if (t->turnchar > 0 && t->turnchar < 256) s.out += (char)t->turnchar;
  } else {
    // From after the last start-of-message mark before the cursor to the
    // end of the screen or the end-of-message mark.
    long pos = (long)y * cols + x, start = 0, total = (long)t->vlines * cols;
    for (long p = pos - 1; p >= 0; p--)
      if ((t->_vscreen[p / cols][p % cols] & CA_CHARPART) == WY_SOM) {
        start = p + 1;
        break;
      }
    long p = start;
    for (; p < total; p++) {
      CHATTR c = t->_vscreen[p / cols][p % cols];
      if ((c & CA_CHARPART) == WY_EOM) {
        wy_setcur(t, (int)(p / cols), (int)(p % cols));
        break;
      }
      s.cell(c);
    }
  }
  wy_reply(t, s.out.data(), (int)s.out.size());
  if ((kind == 4 || kind == 5 || kind == 6 || kind == 7) && !t->_protect) {
    wy_setcur(t, y, 0);
    if (y + 1 < t->vlines) wy_setcur(t, y + 1, 0);
  }
}

void wy_sendchar(te* t) {
  if (!wy_readback_ok(t)) return;
  wa_row(t, t->vdestline);
  std::string out;
  wy_cellbytes(t, t->_vscreen[t->vdestline][t->vdestcol], out);
  wy_reply(t, out.data(), (int)out.size());
}
