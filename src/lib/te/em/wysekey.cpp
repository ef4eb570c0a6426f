// Keyboard maps of the Wyse 50 family (wy50key) and the Wyse 60
// (wy60key): function keys in the SOH code CR frame (or the members' own
// strings), host-programmed keys, cursor and editing keys, and the Wyse
// 60's single-byte keys in keypad application mode.
#include "em/keys.h"
#include "em/wyse.h"
#include "keyname.h"

// SOH, code, CR (or another frame) in the record's key buffer.
static const char* wk_frame(te* t, char lead, int code, bool cr) {
  char* b = t->ansik_buf;
  int n = 0;
  b[n++] = lead;
  b[n++] = (char)code;
  if (cr) b[n++] = '\r';
  b[n] = 0;
  return b;
}

static const char* wk_byte(te* t, int byte) {
  t->ansik_buf[0] = (char)byte;
  t->ansik_buf[1] = 0;
  return t->ansik_buf;
}

// Programmed string of a slot, or the frame SOH code CR.
static const char* wk_slot(te* t, int slot, int code) {
  if (const char* s = prgkey(t, slot)) return s;
  return wk_frame(t, '\x01', code, true);
}

// Cursor keys up, down, right, left, home and their programmed slots 41-45.
static const char* wk_cursor(te* t, int code, const char* const keys[5]) {
  int i = code == TK_UP ? 0 : code == TK_DOWN ? 1 : code == TK_RIGHT ? 2 : code == TK_LEFT ? 3 : 4;
  static const int slots[5] = {41, 42, 43, 44, 45};
  if (const char* s = prgkey(t, slots[i])) return s;
  return keys[i];
}

static bool wk_iscursor(int code) {
  return code == TK_UP || code == TK_DOWN || code == TK_RIGHT || code == TK_LEFT || code == TK_HOME;
}

static const char* wy50key(te* t, int code) {
  const int vm = t->_vemode;
  const bool wycol = vm & W5_WYCOL, adds = vm & W5_ADDSVP;
  switch (code) {
    case TK_BACKSPACE:
      return "\b";
    case TK_C_BACKSPACE:
      return "\177";
    case TK_KPSLASH:
      return "/";
    default:
      break;
  }
  if (wycol) {
    if (code >= TK_ALTA && code < TK_ALTA + 26) return wk_frame(t, '\x01', 'a' + code - TK_ALTA, true);
    if (code >= TK_ALT1 && code < TK_ALT1 + 9) return wk_frame(t, '\x01', '1' + code - TK_ALT1, true);
    if (code == TK_ALT0) return wk_frame(t, '\x01', '0', true);
  }
  if (code >= TK_F1 && code < TK_F1 + 16) {
    int n = code - TK_F1;
    if (const char* s = prgkey(t, n)) return s;
    if (adds) {
      static const char codes[5] = {'1', '2', '!', '"', '#'};
      return n < 5 ? wk_frame(t, '\x02', codes[n], false) : nullptr;
    }
    if (wycol) {
      static const char codes[10] = {'1', '2', '3', '4', '5', '6', '"', '8', '9', 'A'};
      if (n < 10) return wk_frame(t, '\x1b', codes[n], false);
      if (n < 12) return wk_frame(t, '\x07', n == 10 ? ';' : '"', false);
      return wk_frame(t, '\x01', n, true);  // the bytes 12-15
    }
    return wk_frame(t, '\x01', '@' + n, true);
  }
  if (code >= TK_SF1 && code < TK_SF1 + 16) return wk_slot(t, 20 + code - TK_SF1, 0x60 + code - TK_SF1);
  if (code >= TK_CF1 && code < TK_CF1 + 6) return wk_slot(t, 10 + code - TK_CF1, 'J' + code - TK_CF1);
  if (code >= TK_CSF1 && code < TK_CSF1 + 6) return wk_slot(t, 30 + code - TK_CSF1, 'j' + code - TK_CSF1);
  if (wk_iscursor(code)) {
    static const char* const plain[5] = {"\013", "\n", "\014", "\b", "\036"};
    static const char* const syn[5] = {"\013", "\026", "\014", "\b", "\036"};
    static const char* const viewpoint[5] = {"\032", "\n", "\006", "\025", "\001"};
    if (adds) return wk_cursor(t, code, viewpoint);
    return wk_cursor(t, code, (vm & (W5_TVI925 | W5_TVI950 | W5_WYCOL)) ? syn : plain);
  }
  switch (code) {
    case TK_PGDN:
      return adds ? "\033|" : wycol ? "\024" : "\033K";
    case TK_PGUP:
      return wycol ? "\022" : "\033J";
    case TK_C_HOME:
      return wycol ? "\033r" : "\033{";
    case TK_END:
      return wycol ? "\005" : "\033r";
    case TK_INS:
      return "\033q";
    case TK_DEL:
      return "\177";
    case TK_C_PRINT:
      return "\033P";
    case TK_S_TAB:
      return "\033I";
    case TK_C_PGUP:
      return wycol ? "\033E" : "\033W";
    case TK_C_RIGHT:
      return "\033E";
    case TK_C_PGDN:
      return wycol ? "\033R" : "\033Q";
    case TK_C_LEFT:
      return "\033R";
    case TK_C_ENTER:
      return "\0337";
    default:
      return nullptr;
  }
}

const char* wy50emkey(te* t, int code) {
  if (const char* s = wy50key(t, code)) return s;
  return defkey(t, code);
}

// Keys that send one byte in keypad application mode.
static int wk_appbyte(int code) {
  if (code >= TK_KP0 && code <= TK_KP9) return 0xB0 + code - TK_KP0;
  switch (code) {
    case TK_UP:
      return 0xD3;
    case TK_DOWN:
      return 0xD2;
    case TK_RIGHT:
      return 0xD1;
    case TK_LEFT:
      return 0xD0;
    case TK_HOME:
      return 0xD4;
    case TK_KPMINUS:
      return 0xCD;
    case TK_KPDOT:
      return 0xCE;
    case TK_KPENTER:
      return 0xBA;
    case TK_PGDN:
      return 0xB3;
    case TK_PGUP:
      return 0xB9;
    case TK_END:
      return 0xB1;
    case TK_INS:
      return 0xF5;
    case TK_DEL:
      return 0xDD;
    default:
      return 0;
  }
}

static const char* wy60key(te* t, int code) {
  const bool app = t->_appkey != 0;
  if (code == TK_BACKSPACE) {
    if (const char* s = prgkey(t, 40)) return s;
    return "\b";
  }
  if (code == TK_C_BACKSPACE) return "\177";
  if (code == TK_KPSLASH) return "/";
  if (code >= TK_F1 && code < TK_F1 + 16) {
    int n = code - TK_F1;
    if (const char* s = prgkey(t, n)) return s;
    return app ? wk_byte(t, 0x80 + n) : wk_frame(t, '\x01', '@' + n, true);
  }
  if (code >= TK_SF1 && code < TK_SF1 + 16) {
    int n = code - TK_SF1;
    if (const char* s = prgkey(t, 20 + n)) return s;
    return app ? wk_byte(t, 0x90 + n) : wk_frame(t, '\x01', 0x60 + n, true);
  }
  if (code >= TK_CF1 && code < TK_CF1 + 6) {
    int n = code - TK_CF1;
    if (const char* s = prgkey(t, 10 + n)) return s;
    return app ? wk_byte(t, 0x8A + n) : wk_frame(t, '\x01', 'J' + n, true);
  }
  if (code >= TK_CSF1 && code < TK_CSF1 + 6) {
    int n = code - TK_CSF1;
    if (const char* s = prgkey(t, 30 + n)) return s;
    return app ? wk_byte(t, 0x9A + n) : wk_frame(t, '\x01', 'j' + n, true);
  }
  if (app) {
    if (int b = wk_appbyte(code)) return wk_byte(t, b);
  }
  if (wk_iscursor(code)) {
    static const char* const keys[5] = {"\013", "\n", "\014", "\b", "\036"};
    return wk_cursor(t, code, keys);
  }
  switch (code) {
    case TK_PGDN:
      return "\033K";
    case TK_PGUP:
      return "\033J";
    case TK_C_HOME:
      return "\033{";
    case TK_END:
      return "\033T";
    case TK_INS:
      return "\033q";
    case TK_DEL:
    case TK_C_PGUP:
      return "\033W";
    case TK_C_RIGHT:
      return "\033E";
    case TK_C_LEFT:
      return "\033R";
    case TK_C_PRINT:
      return "\033P";
    case TK_S_TAB:
      return "\033I";
    case TK_C_PGDN:
      return "\033Q";
    case TK_C_ENTER:
      return "\0337";
    default:
      break;
  }
  // Caps lock: the lower-case letters go as upper case.
  if (t->_vcapslock && code >= 0x200 + 'a' && code <= 0x200 + 'z') return wk_byte(t, code - 0x200 - 0x20);
  return nullptr;
}

const char* wy60emkey(te* t, int code) {
  if (const char* s = wy60key(t, code)) return s;
  return defkey(t, code);
}
