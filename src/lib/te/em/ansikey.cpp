// Keyboard map of the ANSI/VT family: what each member sends for function,
// cursor, keypad and editing keys, with cursor-key and keypad application
// modes, 8-bit controls, host-programmed keys and the backspace setting.
// Keys the family has no string for fall back to defkey.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "em/ansi.h"
#include "em/em.h"
#include "em/keys.h"
#include "keyname.h"

// Members that follow the DEC rules.
static constexpr int kDecMembers =
    VM_VT320 | VM_VT320_7 | VM_VT220 | VM_VT220_7 | VM_VT420 | VM_LINUX | VM_MAC;

// F6..F20 of the VT220/VT320 (F11..F20 are also Ctrl+F1..F10 of every DEC
// member).
static const char* const kDecF6[15] = {"\033[17~", "\033[18~", "\033[19~", "\033[20~", "\033[21~",
                                       "\033[23~", "\033[24~", "\033[25~", "\033[26~", "\033[28~",
                                       "\033[29~", "\033[31~", "\033[32~", "\033[33~", "\033[34~"};
static const char* const kMacF5[8] = {"\033[15~", "\033[17~", "\033[18~", "\033[19~",
                                      "\033[20~", "\033[21~", "\033[23~", "\033[24~"};
static const char* const kVt420F5[6] = {"\033[17~", "\033[18~", "\033[19~",
                                        "\033[20~", "\033[21~", "\033[29~"};
static const char* const kLinuxF1[10] = {"\033[[A",  "\033[[B",  "\033[[C",  "\033[[D",  "\033[[E",
                                         "\033[17~", "\033[18~", "\033[19~", "\033[20~", "\033[21~"};
static const char* const kSs3F1[4] = {"\033OP", "\033OQ", "\033OR", "\033OS"};
static const char* const kCursor[4] = {"\033[A", "\033[B", "\033[C", "\033[D"};  // up, down, right, left
static const char* const kCursorApp[4] = {"\033OA", "\033OB", "\033OC", "\033OD"};
// Keypad 0..9, -, ",", ".", Enter in both keypad modes.
static const char* const kKeypad[14] = {"0", "1", "2", "3", "4", "5", "6",
                                        "7", "8", "9", "-", ",", ".", "\r"};
static const char* const kKeypadApp[14] = {"\033Op", "\033Oq", "\033Or", "\033Os", "\033Ot",
                                           "\033Ou", "\033Ov", "\033Ow", "\033Ox", "\033Oy",
                                           "\033Om", "\033Ol", "\033On", "\033OM"};
static const char* const kVt52Keypad[14] = {"\033?p", "\033?q", "\033?r", "\033?s", "\033?t",
                                            "\033?u", "\033?v", "\033?w", "\033?x", "\033?y",
                                            "\033?m", "\033?l", "\033?n", "\033?M"};
// Finals after ESC [ of the SCO ANSI function keys, by slot.
static const char kScoFinals[48] = {'M', 'N', 'O', 'P', 'Q', 'R', 'S',  'T', 'U', 'V', 'W', 'X',
                                    'Y', 'Z', 'a', 'b', 'c', 'd', 'e',  'f', 'g', 'h', 'i', 'j',
                                    'k', 'l', 'm', 'n', 'o', 'p', 'q',  'r', 's', 't', 'u', 'v',
                                    'w', 'x', 'y', 'z', '@', '[', '\\', ']', '^', '_', '`', '{'};
// Finals after ESC O of the AT386 function keys, by slot.
static const char kAt386Finals[24] = {'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', 'A',
                                      'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z', 'a'};

// Index 0..13 of a keypad key (0..9, -, ",", ".", Enter), or -1.
static int ak_keypad_index(int code) {
  if (code >= TK_KP0 && code <= TK_KP9) return code - TK_KP0;
  switch (code) {
    case TK_KPMINUS:
      return 10;
    case TK_KPCOMMA:
      return 11;
    case TK_KPDOT:
      return 12;
    case TK_KPENTER:
      return 13;
    default:
      return -1;
  }
}

// Index 0..3 of a cursor key (up, down, right, left), or -1.
static int ak_cursor_index(int code) {
  return code >= TK_UP && code <= TK_LEFT ? code - TK_UP : -1;
}

// A DEC string as the terminal sends it: with 8-bit controls on, ESC and
// the character after it become one C1 byte (the string may be the key
// buffer itself).
static const char* ak_c1(te* t, const char* s) {
  if (!t->_vtc18out || s[0] != '\033' || !s[1]) return s;
  const size_t rest = strlen(s + 2);
  if (rest + 2 > sizeof t->ansik_buf) return s;
  const char c1 = static_cast<char>((s[1] & 0x1F) | 0x80);
  memmove(t->ansik_buf + 1, s + 2, rest + 1);
  t->ansik_buf[0] = c1;
  return t->ansik_buf;
}

// ESC and one character, built in the record's key buffer.
static const char* ak_esc2(te* t, char c) {
  t->ansik_buf[0] = '\033';
  t->ansik_buf[1] = c;
  t->ansik_buf[2] = 0;
  return t->ansik_buf;
}

// ESC, an introducer and a final, built in the record's key buffer.
static const char* ak_esc3(te* t, char introducer, char final) {
  t->ansik_buf[0] = '\033';
  t->ansik_buf[1] = introducer;
  t->ansik_buf[2] = final;
  t->ansik_buf[3] = 0;
  return t->ansik_buf;
}

// Cursor and keypad keys in the current modes (7-bit), or null.
static const char* ak_modal(te* t, int code) {
  int i = ak_cursor_index(code);
  if (i >= 0) return t->_appcur ? kCursorApp[i] : kCursor[i];
  i = ak_keypad_index(code);
  if (i >= 0 && !t->_appkey && code == TK_KPENTER && t->_vnlmode) return "\r\n";  // new-line mode
  if (i >= 0) return t->_appkey ? kKeypadApp[i] : kKeypad[i];
  return nullptr;
}

// Home, pgup, end, pgdn, five, insert, delete and shift-tab of the ANSI and
// SCO ANSI members.
static const char* ak_ansi_editing(int code) {
  switch (code) {
    case TK_HOME:
      return "\033[H";
    case TK_PGUP:
      return "\033[I";
    case TK_END:
      return "\033[F";
    case TK_PGDN:
      return "\033[G";
    case TK_FIVE:
      return "\033[E";
    case TK_INS:
      return "\033[L";
    case TK_DEL:
      return "\177";
    case TK_S_TAB:
      return "\033[Z";
    default:
      return nullptr;
  }
}

static const char* ak_mac_editing(int code) {
  switch (code) {
    case TK_HOME:
      return "\033[H";
    case TK_PGUP:
      return "\033[5~";
    case TK_END:
      return "\033[F";
    case TK_PGDN:
      return "\033[6~";
    case TK_FIVE:
      return "\033[E";
    case TK_INS:
      return "\033[L";
    case TK_DEL:
      return "\033[3~";
    case TK_S_TAB:
      return "\033[Z";
    default:
      return nullptr;
  }
}

static const char* ak_dec_editing(int code) {
  switch (code) {
    case TK_HOME:
      return "\033[1~";
    case TK_INS:
      return "\033[2~";
    case TK_DEL:
      return "\033[3~";
    case TK_END:
      return "\033[4~";
    case TK_PGUP:
      return "\033[5~";
    case TK_PGDN:
      return "\033[6~";
    default:
      return nullptr;
  }
}

// VT220, VT320, VT420, Linux and "mac".
static const char* ak_dec(te* t, int code) {
  const int vm = t->_vemode;
  if (vm & VM_MAC) {
    if (const char* s = ak_mac_editing(code)) return s;
  }
  if (code >= TK_F1 && code <= TK_F20) {
    const int n = code - TK_F1 + 1;
    if (vm & VM_LINUX) return n <= 10 ? ak_c1(t, kLinuxF1[n - 1]) : nullptr;
    if (n <= 4) return ak_c1(t, kSs3F1[n - 1]);
    if (vm & VM_MAC) {
      if (n > 12) return nullptr;
      if (const char* s = prgkey(t, n - 1)) return s;
      return ak_c1(t, kMacF5[n - 5]);
    }
    if (vm & VM_VT420) {
      if (n > 10) return nullptr;
      if (const char* s = prgkey(t, n - 1)) return s;
      return ak_c1(t, kVt420F5[n - 5]);
    }
    if (n == 5) return nullptr;  // the VT220 and VT320 have no F5 string
    if (const char* s = prgkey(t, n - 1)) return s;
    return ak_c1(t, kDecF6[n - 6]);
  }
  if (code >= TK_CF1 && code < TK_CF1 + 10 && !(vm & VM_MAC)) {
    // Ctrl+F1..F10 are the VT's F11..F20 (the xterm-like member sends
    // xterm's Ctrl forms instead).
    const int n = code - TK_CF1 + 1;
    if (const char* s = prgkey(t, 9 + n)) return s;
    return ak_c1(t, kDecF6[n + 4]);
  }
  if (const char* s = ak_modal(t, code)) {
    // The numeric keypad's characters are never converted.
    return ak_c1(t, s);
  }
  if (!(vm & VM_MAC)) {
    if (const char* s = ak_dec_editing(code)) return ak_c1(t, s);
  }
  return nullptr;
}

// Keys with modifiers as xterm sends them, the modifier m = 1 + Shift 1 +
// Alt 2 + Ctrl 4: cursor keys CSI 1;m A..D; home and end CSI 1;m H and
// CSI 1;m F, or, where home and end send CSI 1~ and CSI 4~, CSI 1;m~ and
// CSI 4;m~; insert, delete, page up and down CSI n;m~ (2, 3, 5, 6); F1-F4
// CSI 1;m P..S; F5-F12 CSI n;m~ (15, 17-21, 23, 24).
static const char* ak_modified(te* t, int code, bool tildeHomeEnd) {
  static const char kCursorFinal[4] = {'A', 'B', 'C', 'D'};
  static const int kFNumber[12] = {0, 0, 0, 0, 15, 17, 18, 19, 20, 21, 23, 24};
  int base = 0;
  const int m = keymodifier(code, &base);
  if (!m) return nullptr;
  int number = 1;
  char final = '~';
  if (base >= TK_UP && base <= TK_LEFT) {
    final = kCursorFinal[base - TK_UP];
  } else if (base == TK_HOME || base == TK_END) {
    if (tildeHomeEnd)
      number = base == TK_HOME ? 1 : 4;
    else
      final = base == TK_HOME ? 'H' : 'F';
  } else if (base == TK_INS || base == TK_DEL || base == TK_PGUP || base == TK_PGDN) {
    number = base == TK_INS ? 2 : base == TK_DEL ? 3 : base == TK_PGUP ? 5 : 6;
  } else if (base >= TK_F1 && base < TK_F1 + 4) {
    final = static_cast<char>('P' + (base - TK_F1));
  } else if (base >= TK_F1 + 4 && base < TK_F1 + 12) {
    number = kFNumber[base - TK_F1];
  } else {
    return nullptr;
  }
  snprintf(t->ansik_buf, sizeof t->ansik_buf, "\033[%d;%d%c", number, m, final);
  return ak_c1(t, t->ansik_buf);
}

// What the VT members add for today's hosts: keys with modifiers, Alt with
// a letter or digit as ESC and the character, Shift+Tab, Ctrl+Enter and
// Ctrl+Esc as the plain keys.
static const char* ak_vt_chords(te* t, int code, bool tildeHomeEnd) {
  if (const char* s = ak_modified(t, code, tildeHomeEnd)) return s;
  if (code >= TK_ALTA && code < TK_ALTA + 26) return ak_esc2(t, static_cast<char>('a' + code - TK_ALTA));
  if (code >= TK_ALT1 && code < TK_ALT1 + 9) return ak_esc2(t, static_cast<char>('1' + code - TK_ALT1));
  switch (code) {
    case TK_ALT0:
      return "\0330";
    case TK_ALTMINUS:
      return "\033-";
    case TK_ALTEQUAL:
      return "\033=";
    case TK_S_TAB:
      return ak_c1(t, "\033[Z");
    case TK_C_ENTER:
      return "\r";
    case TK_C_ESC:
      return "\033";
    default:
      return nullptr;
  }
}

static const char* ak_vt100(te* t, int code) {
  if (code >= TK_F1 && code < TK_F1 + 4) return kSs3F1[code - TK_F1];
  return ak_modal(t, code);
}

static const char* ak_vt52(te* t, int code) {
  static const char* const fkeys[4] = {"\033P", "\033Q", "\033R", "\033S"};
  static const char* const cursor[4] = {"\033A", "\033B", "\033C", "\033D"};
  if (code >= TK_F1 && code < TK_F1 + 4) return fkeys[code - TK_F1];
  int i = ak_cursor_index(code);
  if (i >= 0) return cursor[i];
  i = ak_keypad_index(code);
  if (i >= 0) return t->_appkey ? kVt52Keypad[i] : kKeypad[i];
  return code == TK_DEL ? "\177" : nullptr;
}

static const char* ak_ansi(te* t, int code) {
  if (code >= TK_F1 && code < TK_F1 + 10) {
    const int slot = code - TK_F1;
    if (const char* s = prgkey(t, slot)) return s;
    return ak_esc3(t, '[', static_cast<char>('M' + slot));
  }
  if (const char* s = ak_modal(t, code)) return s;
  return ak_ansi_editing(code);
}

// Slot of a function key in the SCO ANSI layout (F, SF, CF, CSF 1..12), or -1.
static int ak_sco_slot(int code) {
  if (code >= TK_F1 && code < TK_F1 + 12) return code - TK_F1;
  if (code >= TK_SF1 && code < TK_SF1 + 12) return 12 + code - TK_SF1;
  if (code >= TK_CF1 && code < TK_CF1 + 12) return 24 + code - TK_CF1;
  if (code >= TK_CSF1 && code < TK_CSF1 + 12) return 36 + code - TK_CSF1;
  return -1;
}

// Slot of a function key in the AT386 layout, or -1.
static int ak_at386_slot(int code) {
  for (int first : {TK_F1, TK_CF1, TK_AF1})
    if (code >= first && code < first + 12) return code - first;
  for (int first : {TK_SF1, TK_CSF1})
    if (code >= first && code < first + 12) return 12 + code - first;
  return -1;
}

// The keypad's own characters, whatever the keypad mode.
static const char* ak_plain_keypad(int code) {
  const int i = ak_keypad_index(code);
  return i >= 0 ? kKeypad[i] : nullptr;
}

static const char* ak_plain_cursor(int code) {
  const int i = ak_cursor_index(code);
  return i >= 0 ? kCursor[i] : nullptr;
}

static const char* ak_sco(te* t, int code) {
  const int slot = ak_sco_slot(code);
  if (slot >= 0) {
    if (const char* s = prgkey(t, slot)) return s;
    return ak_esc3(t, '[', kScoFinals[slot]);
  }
  if (const char* s = ak_plain_cursor(code)) return s;
  if (const char* s = ak_plain_keypad(code)) return s;
  switch (code) {
    case TK_C_ESC:
      return "\x80";
    case TK_C_ENTER:
      return "\x81";
    case TK_C_HOME:
      return "\x82";
    case TK_C_PGUP:
      return "\x83";
    case TK_C_END:
      return "\x85";
    case TK_C_PGDN:
      return "\x86";
    case TK_C_KPMINUS:
      return "\x87";
    case TK_C_KPPLUS:
      return "\x88";
    case TK_C_LEFT:
      return "\x89";
    case TK_C_RIGHT:
      return "\x8A";
    default:
      return ak_ansi_editing(code);
  }
}

static const char* ak_at386(te* t, int code) {
  const int slot = ak_at386_slot(code);
  if (slot >= 0) {
    if (const char* s = prgkey(t, slot)) return s;
    return ak_esc3(t, 'O', kAt386Finals[slot]);
  }
  if (code >= TK_ALTA && code < TK_ALTA + 26) return ak_esc3(t, 'n', static_cast<char>('a' + code - TK_ALTA));
  if (code >= TK_ALT1 && code < TK_ALT1 + 9) return ak_esc3(t, 'n', static_cast<char>('1' + code - TK_ALT1));
  if (code == TK_ALT0) return "\033n0";
  if (code == TK_ALTMINUS) return "\033n-";
  if (code == TK_ALTEQUAL) return "\033n=";
  if (const char* s = ak_plain_cursor(code)) return s;
  if (const char* s = ak_plain_keypad(code)) return s;
  switch (code) {
    case TK_HOME:
      return "\033[H";
    case TK_PGUP:
      return "\033[V";
    case TK_END:
      return "\033[Y";
    case TK_PGDN:
      return "\033[U";
    case TK_FIVE:
      return "\033[E";
    case TK_INS:
      return "\033[@";
    case TK_DEL:
      return "\177";
    case TK_S_TAB:
      return "\035";
    default:
      return nullptr;
  }
}

// What xterm sends beyond the "mac" keys, as the xterm-256color entry names
// them: Home, End and the keypad's 5 in the cursor-key mode, Insert as the
// DEC editing key, and the keypad's operators in the keypad mode.
static const char* ak_xterm(te* t, int code) {
  switch (code) {
    case TK_HOME:
      return t->_appcur ? "\033OH" : "\033[H";
    case TK_END:
      return t->_appcur ? "\033OF" : "\033[F";
    case TK_FIVE:
      return t->_appcur ? "\033OE" : "\033[E";
    case TK_INS:
      return "\033[2~";
    case TK_KPPLUS:
      return t->_appkey ? "\033Ok" : "+";
    case TK_KPSLASH:
      return t->_appkey ? "\033Oo" : "/";
    case TK_KPSTAR:
      return t->_appkey ? "\033Oj" : "*";
    default:
      return nullptr;
  }
}

const char* ansikey(te* t, int code) {
  if (t->emode == EMODE_XTERM256) {
    if (const char* s = ak_xterm(t, code)) return s;
  }
  switch (code) {
    case TK_KPSTAR:
      return "*";
    case TK_KPPLUS:
      return "+";
    case TK_KPSLASH:
      return "/";
    case TK_C_BACKSPACE:
      return "\177";
    case TK_BACKSPACE:
      return t->bsdel ? "\177" : "\b";
    case '\r':
      // Return in new-line mode sends CR LF.
      return t->_vnlmode ? "\r\n" : nullptr;
    default:
      break;
  }
  const int vm = t->_vemode;
  if (vm & VM_VT52) return ak_vt52(t, code);
  if (vm & VM_VT100) {
    if (const char* s = ak_vt100(t, code)) return s;
    return ak_vt_chords(t, code, false);
  }
  if (vm & VM_ANSI) return ak_ansi(t, code);
  if (vm & VM_SCOANSI) return ak_sco(t, code);
  if (vm & VM_AT386) return ak_at386(t, code);
  if (vm & kDecMembers) {
    if (const char* s = ak_dec(t, code)) return s;
    return ak_vt_chords(t, code, !(vm & VM_MAC));
  }
  return nullptr;
}

const char* ansiemkey(te* t, int code) {
  const char* s = ansikey(t, code);
  return s ? s : defkey(t, code);
}
