// Key names and key codes shared by every emulation: code to name and back.
//
// One integer space holds every key:
//      0 ..  255  a byte or character (0..31 and 127 are control characters)
//    256 ..  275  F1..F20
//    276 ..  328  named keys and their Ctrl forms
//    329 ..  348  Shift+F1..F20       349 .. 368  Ctrl+F1..F20
//    369 ..  388  Alt+F1..F20         389 .. 408  Ctrl+Shift+F1..F20
//    409 ..  434  Alt+a..Alt+z        435 .. 443  Alt+1..Alt+9
//    444 ..  446  Alt+0, Alt+-, Alt+=
//    447 ..  486  session functions
//    512 and up   internal character codes (tcs.h)
//   1120 .. 1178  3270/5250 keys
//   1200 .. 1259  cursor and editing keys with modifiers (below)
//   1260 .. 1295  F1..F12 with Alt+Shift, Ctrl+Alt, Ctrl+Alt+Shift
#pragma once

enum : int {
  TK_F1 = 256,  // F1..F20 are TK_F1 + 0..19
  TK_F20 = 275,
  TK_UP = 276,
  TK_DOWN = 277,
  TK_RIGHT = 278,
  TK_LEFT = 279,
  TK_HOME = 280,
  TK_KP0 = 281,  // keypad 0..9 are TK_KP0 + 0..9
  TK_KP9 = 290,
  TK_KPMINUS = 291,
  TK_KPCOMMA = 292,
  TK_KPDOT = 293,
  TK_KPENTER = 294,
  TK_PGDN = 295,
  TK_PGUP = 296,
  TK_C_HOME = 297,
  TK_END = 298,
  TK_C_END = 299,
  TK_INS = 300,
  TK_DEL = 301,
  TK_C_RIGHT = 302,
  TK_C_LEFT = 303,
  TK_C_PRINT = 304,
  TK_S_TAB = 305,
  TK_C_PGUP = 306,
  TK_C_PGDN = 307,
  TK_C_BACKSPACE = 308,
  TK_C_ENTER = 309,
  TK_C_ESC = 310,
  TK_C_KPMINUS = 311,
  TK_C_KPPLUS = 312,
  TK_C_KPSTAR = 313,
  TK_KPSTAR = 314,
  TK_KPPLUS = 315,
  TK_KPSLASH = 316,
  TK_NUMLOCK = 317,
  TK_SCRLOCK = 318,
  TK_BACKSPACE = 319,
  TK_C_UP = 320,
  TK_C_DOWN = 321,
  TK_C_INS = 322,
  TK_C_DEL = 323,
  TK_FIVE = 324,
  TK_C_FIVE = 325,
  TK_C_TAB = 326,
  TK_C_KPSLASH = 327,
  TK_C_KPENTER = 328,
  TK_PSE = 275,
  TK_SF1 = 329,
  TK_CF1 = 349,
  TK_AF1 = 369,
  TK_CSF1 = 389,
  TK_ALTA = 409,  // Alt+letter = letter + 312 ('a' .. 'z')
  TK_ALT1 = 435,  // Alt+digit = digit + 386 ('1' .. '9')
  TK_ALT0 = 444,
  TK_ALTMINUS = 445,
  TK_ALTEQUAL = 446,
  TK_LTCTRL = 447,
  TK_RTCTRL = 448,
  TK_ALTCTRL = 449,
  TK_ARTCTRL = 450,
  TK_SLTCTRL = 451,
  TK_SRTCTRL = 452,
  TK_ABORT = 455,
  TK_MENU = 456,
  TK_HELP = 457,
  TK_GOLD = 458,
  TK_SHELL = 459,
  TK_CAPTURE = 460,
  TK_PRINT = 461,
  TK_COMPOSE = 462,
  TK_NEXTSESS = 463,
  TK_SCRLEFT = 464,
  TK_SCRRIGHT = 465,
  TK_SCANMODE = 466,
  TK_BREAK = 467,
  TK_ECMD = 468,
  TK_SCRLINEUP = 469,
  TK_SCRLINEDN = 470,
  TK_SCRPAGEUP = 471,
  TK_SCRPAGEDN = 472,
  TK_COMMAND = 483,
  TK_COPY = 485,
  TK_PASTE = 486,
  TK_LAST = 486,  // last terminal or virtual key code
  // 3270/5250 keys.
  TK_PF1 = 1120,  // PF1..PF24 are TK_PF1 + 0..23
  TK_PF24 = 1143,
  TK_PA1 = 1144,  // PA1..PA3 are TK_PA1 + 0..2
  TK_PA3 = 1146,
  TK_BACKTAB = 1147,
  TK_CLEAR = 1148,
  TK_ERASEINPUT = 1149,
  TK_ERASEEOF = 1150,
  TK_ATTN = 1151,
  TK_REDISPLAY = 1152,
  TK_NEWLINE = 1153,
  TK_TSTREQ = 1156,
  TK_SYSREQ = 1157,
  TK_CURSEL = 1158,
  TK_FIELDPLUS = 1159,
  TK_FIELDMINUS = 1160,
  TK_FIELDEXIT = 1161,
  TK_FIELDMARK = 1162,
  TK_DUP = 1163,
  TK_MASTERRESET = 1164,
  TK_CENTSIGN = 1165,
  TK_ERASE = 1166,
  TK_ERASEFIELD = 1167,
  TK_ENTERREC = 1169,
  TK_AUTO = 1170,
  TK_EDGETRIGGER = 1171,
  TK_ROLLUP = 1172,
  TK_ROLLDOWN = 1173,
  TK_RESET = 1174,
  TK_ERRORRESET = 1175,
  TK_RECORDBACKSPACE = 1176,
  TK_LASTFIELDPOSITION = 1177,
  TK_AIDPRINT = 1178,
  TK_BLOCK_FIRST = 1120,
  TK_BLOCK_LAST = 1178,
  // Up, down, right, left, home, end, pgup, pgdn, ins and delete with the
  // modifiers that have no code above: TK_MODKEY + slot * 10 + key, slots
  // 0-5 for Shift, Alt, Alt+Shift, Ctrl+Shift, Ctrl+Alt, Ctrl+Alt+Shift
  // (names "S-UP", "A-UP", "AS-UP", "CS-UP", "CA-UP", "CAS-UP").
  TK_MODKEY = 1200,
  TK_MODKEY_LAST = 1259,
  // F1..F12 with Alt+Shift ("ASF1"), Ctrl+Alt ("CAF1") and Ctrl+Alt+Shift
  // ("CASF1"): TK_ASF1 + n - 1, TK_CAF1 + n - 1, TK_CASF1 + n - 1.
  TK_ASF1 = 1260,
  TK_CAF1 = 1272,
  TK_CASF1 = 1284,
  TK_MODFKEY_LAST = 1295,
};

// The modifiers of a key as xterm numbers them in its key sequences (1 +
// Shift 1 + Alt 2 + Ctrl 4, so 2..8), with the key without them in *base
// (TK_UP..TK_LEFT, TK_HOME, TK_END, TK_PGUP, TK_PGDN, TK_INS, TK_DEL, or
// TK_F1 + n - 1): for the Ctrl forms of the named keys, the Shift, Ctrl, Alt
// and Ctrl+Shift function keys and the codes from TK_MODKEY on.  0 for any
// other code.
int keymodifier(int code, int* base);

// Name of a key code: the upper-cased table name ("UP", "C-UP", "PGDN"),
// "F%d", "SF%d", "CF%d", "AF%d", "CSF%d", "ALT%c", "ALT%d", "ALT0", "ALT-",
// "ALT=", "PF%d", "PA%d", "^%c" for control characters, the character
// itself for 32..255, "%c" of code - 512 for 512..767, "<%x>" for other codes
// up to 1118 and "NONE" for everything else.  The text stays valid until the
// next call.
const char* keyname(int code);

// Key code of a name, compared without regard to case ("c-" + name gives the
// Ctrl form, "f1".."f20", "sf1", "cf1", "af1", "csf1", "alta", "alt1",
// "pf1".."pf24", "pa1".."pa3", "@x".."@z"); a single character gives its
// byte and "^X" its control code.  -1 for "none", -2 when unknown.
int keyid(const char* name);
