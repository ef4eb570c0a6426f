// The host-writable status line and the label lines of the Wyse families,
// and the host's programming of function keys and labels (ESC z, and the
// Wyse 60's ESC Z).
#include <algorithm>

#include "em/em.h"
#include "em/keys.h"
#include "em/wyse.h"

// ---- status and label lines

static inline CHATTR wy_stattr(te* t) {
  return t->fam.statattr ? t->fam.statattr : (EmGetDefaultAttr(t) & CA_ATTRPART);
}

static void wy_status_fill(te* t, CHATTR* line, int from) {
  CHATTR v = wy_stattr(t) | CA_BLANK;
  for (int x = from; x < TE_MAXCOLS; x++) line[x] = v;
}

void wy_status_open(te* t, int col, int clear) {
  TELABELS& L = t->labels;
  if (clear || !L.on) wy_status_fill(t, L.status, 0);
  L.on = 1;
  L.changed = 1;
  t->fam.statcol = std::clamp(col, 0, t->vcols - 1);
  t->fam.statleft = t->vcols - t->fam.statcol;
}

int wy_status_byte(te* t, int c) {
  TEFAM& f = t->fam;
  TELABELS& L = t->labels;
  if (f.statcol < 0) return 0;
  if (c == '\r') {
    wy_status_fill(t, L.status, f.statcol);
    f.statcol = -1;
    L.changed = 1;
    return 0;
  }
  CHATTR ch = (c < 0x20 || c == 0x7F) ? (CHATTR)CA_BLANK : (CHATTR)(c & 0xFF);
  L.status[f.statcol++] = wy_stattr(t) | ch;
  L.changed = 1;
  if (--f.statleft <= 0 || f.statcol >= t->vcols) {
    f.statcol = -1;
    return 0;
  }
  return 1;
}

void wy_status_remove(te* t) {
  t->fam.statcol = -1;
  if (t->labels.on) t->labels.changed = 1;
  t->labels.on = 0;
}

void wy_status_attr(te* t, CHATTR attr) {
  TELABELS& L = t->labels;
  t->fam.statattr = (attr & CA_ATTRPART) | (EmGetDefaultAttr(t) & CA_COLOR);
  for (int x = 0; x < TE_MAXCOLS; x++) L.status[x] = t->fam.statattr | (L.status[x] & CA_CHARPART);
  L.changed = 1;
}

void wy_label(te* t, int n, const char* text, int len, int wyse60) {
  TELABELS& L = t->labels;
  if (n < 0 || n > 15) return;
  bool wide = t->vcols > 80;
  int width = wyse60 ? (wide ? 7 : 9) : (wide ? 7 : 8);
  int col = (wyse60 ? 0 : 1) + 10 * (n & 7);
  if (col >= t->vcols) return;
  width = std::min(width, t->vcols - col);
  CHATTR* line = n < 8 ? L.status : L.shifted;
  if (n < 8) {
    if (!L.on) wy_status_fill(t, L.status, 0);
    L.on = 1;
  } else if (!L.shifton) {
    wy_status_fill(t, L.shifted, 0);
    L.shifton = 1;
  }
  CHATTR a = wy_stattr(t);
  for (int i = 0; i < width; i++) {
    unsigned char c = i < len ? (unsigned char)text[i] : (unsigned char)' ';
    line[col + i] = a | ((c < 0x20 || c == 0x7F) ? (CHATTR)CA_BLANK : (CHATTR)c);
  }
  L.changed = 1;
}

// ---- function-key and label programming

enum { WP_KEY = 1, WP_LABEL, WP_STATUS, WP_IGNORE };

// Key slot of the selector byte after ESC z, or -1.
static int wy_keyslot(int c) {
  if (c >= '@' && c <= 'O') return c - '@';
  if (c >= 0x60 && c <= 'o') return 20 + c - 0x60;
  switch (c) {
    case '"':
      return 40;
    case '+':
      return 41;
    case ',':
      return 42;
    case '.':
      return 43;
    case '-':
      return 44;
    case '*':
      return 45;
    default:
      return -1;
  }
}

void wy_prog_begin(te* t, int c, int wyse60) {
  TEFAM& f = t->fam;
  f.textlen = 0;
  f.text[0] = 0;
  int slot = wy_keyslot(c);
  if (slot >= 0) {
    f.cmd = WP_KEY;
    f.target = slot;
  } else if (c == '(') {
    f.cmd = WP_STATUS;
    wy_status_open(t, 0, 1);
  } else if (c >= '0' && c <= '?') {
    f.cmd = WP_LABEL;
    f.target = (c - '0') | (wyse60 ? 0x100 : 0);
  } else {
    f.cmd = WP_IGNORE;
  }
}

int wy_prog_byte(te* t, int c) {
  TEFAM& f = t->fam;
  switch (f.cmd) {
    case WP_KEY:
      if (c == 0x7F) {
        f.text[f.textlen] = 0;
        setprgkey(t, f.target, f.text);
        return 0;
      }
      break;
    case WP_LABEL:
      if (c == '\r' || c == 0x7F) {
        // Wyse 60 with 25 data rows has no label line.
        if (!(t->fam.labelmode)) wy_label(t, f.target & 0xFF, f.text, f.textlen, (f.target & 0x100) != 0);
        return 0;
      }
      break;
    case WP_STATUS:
      if (c == 0x7F) {
        wy_status_byte(t, '\r');
        return 0;
      }
      wy_status_byte(t, c);
      return c != '\r';
    default:
      return c != '\r' && c != 0x7F;
  }
  if (f.textlen < TE_FAMTEXT && c != 0) f.text[f.textlen++] = (char)c;
  return 1;
}
