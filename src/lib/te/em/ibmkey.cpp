// Keyboard maps of the IBM 3151 family (ib31key), TTY and PC-term: the
// 3151's function keys and send keys with the turnaround character, its
// cursor and editing keys, Enter in IBM field mode; TTY's few own keys; and
// PC-term, which sends no key string of its own.
#include "em/ibm3151.h"
#include "em/keys.h"
#include "em/pcterm.h"
#include "keyname.h"

// ESC, an optional prefix byte, the key's byte and the turnaround.
static const char* ik_seq(te* t, char prefix, char code, bool turn) {
  char* b = t->ansik_buf;
  int n = 0;
  b[n++] = '\x1b';
  if (prefix) b[n++] = prefix;
  b[n++] = code;
  if (turn && t->turnchar > 0 && t->turnchar < 256) b[n++] = (char)t->turnchar;
  b[n] = 0;
  return b;
}

static const char* ib31key(te* t, int code) {
  const bool ib3101 = t->_vemode & IB_3101;
  if (code >= TK_F1 && code < TK_F1 + 12) return ik_seq(t, 0, (char)('a' + code - TK_F1), true);
  if (code >= TK_SF1 && code < TK_SF1 + 12) return ik_seq(t, '!', (char)('a' + code - TK_SF1), true);
  if (code >= TK_CSF1 && code < TK_CSF1 + 12) return ik_seq(t, '"', (char)('a' + code - TK_CSF1), true);
  if (code >= TK_KP0 && code <= TK_KP9) {
    t->ansik_buf[0] = (char)('0' + code - TK_KP0);
    t->ansik_buf[1] = 0;
    return t->ansik_buf;
  }
  switch (code) {
    case TK_BACKSPACE:
      return "\b";
    case TK_C_BACKSPACE:
    case TK_C_DEL:
      return "\177";
    case TK_C_ENTER:
      return "\n";
    case TK_KPMINUS:
      return "-";
    case TK_KPDOT:
      return ".";
    case TK_KPCOMMA:
      return ",";
    case TK_KPENTER:
    case TK_KPPLUS:
      return "\r";
    case TK_KPSTAR:
      return ib3101 ? nullptr : ik_seq(t, '!', '8', true);
    case TK_C_KPSTAR:
    case TK_C_PRINT:
      return ib3101 ? nullptr : ik_seq(t, ' ', '8', true);
    case TK_KPSLASH:
      return ib3101 ? nullptr : ik_seq(t, 0, '8', true);
    case TK_UP:
      return "\033A";
    case TK_DOWN:
      return "\033B";
    case TK_RIGHT:
      return "\033C";
    case TK_LEFT:
      return "\033D";
    case TK_HOME:
      return "\033H";
    case TK_PGDN:
      return "\033I";
    case TK_PGUP:
      return ik_seq(t, 0, 'L', true);
    case TK_C_HOME:
      return "\033L";
    case TK_INS:
      return "\033P";
    case TK_DEL:
      return "\033Q";
    case TK_C_LEFT:
      return "\033O";
    case TK_S_TAB:
      return "\0332";
    case TK_C_PGUP:
      return "\033K";
    case TK_C_PGDN:
      return "\033J";
    case TK_C_INS:
      return "\033N";
    case '\r':
      // Enter ends a field's input in IBM field mode (outside block mode).
      return !t->_blokmode && t->_ibmode ? "\033M" : nullptr;
    default:
      return nullptr;
  }
}

const char* ib31emkey(te* t, int code) {
  if (const char* s = ib31key(t, code)) return s;
  if (code == '\r') return nullptr;
  return defkey(t, code);
}

const char* ttyemkey(te* t, int code) {
  switch (code) {
    case TK_BACKSPACE:
      return "\b";
    case TK_C_BACKSPACE:
      return "\177";
    case TK_KPSLASH:
      return "/";
    default:
      return defkey(t, code);
  }
}

const char* pcemkey(te*, int) {
  return nullptr;
}
