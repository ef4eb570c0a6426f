// The emulation settings: the values of the session's `emulate` key, which
// name the emulator a session runs.  One definition for every layer (the
// engines, the session, the connections, the channel and the tests); the
// page mirrors it in html/shared/kvx-emulations.js, and a test keeps the two
// equal.
//
// To add an emulation: give it the next free number here and in the page's
// mirror, a row in the character-mode engine's setting table (em/emlist.cpp)
// or a block-mode engine that selects it, and a terminal name.
#pragma once

enum KVX_EMULATION : int {
  KVX_EM_ADM1 = 0,
  KVX_EM_ANSI = 1,
  KVX_EM_AT386 = 2,
  KVX_EM_IBM3101 = 3,
  KVX_EM_PCTERM = 4,
  KVX_EM_SCOANSI = 5,
  KVX_EM_TTY = 6,
  KVX_EM_TVI912 = 7,
  KVX_EM_TVI925 = 8,
  KVX_EM_TVI950 = 9,
  KVX_EM_VT100 = 10,
  KVX_EM_LINUX = 11,
  KVX_EM_VT220 = 12,
  KVX_EM_VT220_7 = 13,
  KVX_EM_VT320 = 14,
  KVX_EM_VT320_7 = 15,
  KVX_EM_VT420 = 16,
  KVX_EM_WYSE50 = 17,
  KVX_EM_WYSE60 = 18,
  KVX_EM_WYSE60_25 = 19,
  KVX_EM_IBM3151 = 20,
  KVX_EM_IBM3151_25 = 21,
  KVX_EM_IBM5250 = 22,       // the model comes from em5250idx
  KVX_EM_IBM5250_3477 = 23,  // the same station; without em5250idx a 3477
  KVX_EM_IBM3270_MODEL2 = 24,
  KVX_EM_IBM3270_MODEL3 = 25,
  KVX_EM_IBM3270_MODEL4 = 26,
  KVX_EM_IBM3270_MODEL5 = 27,
  KVX_EM_ADDSVP = 28,
  KVX_EM_WYCOL = 29,
  KVX_EM_XTERM = 30,     // xterm, announced as xterm-color
  KVX_EM_XTERM256 = 31,  // "xterm (256 colours)": xterm, announced as xterm-256color
};

// The lowest and highest setting any emulator takes.
constexpr int kKvxEmFirst = KVX_EM_ADM1;
constexpr int kKvxEmLast = KVX_EM_XTERM256;

// The families of terminals, as the engines group their members.
enum KVX_EM_FAMILY : int {
  KVX_EM_FAMILY_NONE = 0,  // not an emulation setting
  KVX_EM_FAMILY_VT,        // ANSI/VT: VT100-VT420, ANSI, SCO ANSI, AT386, Linux, xterm
  KVX_EM_FAMILY_WYSE50,    // Wyse 50 class: ADM-1, Televideo, Wyse 50, ADDS, Wyse colour
  KVX_EM_FAMILY_WYSE60,    // Wyse 60 and its 25-row member
  KVX_EM_FAMILY_IBM3151,   // IBM 3101 and 3151
  KVX_EM_FAMILY_PCTERM,
  KVX_EM_FAMILY_TTY,
  KVX_EM_FAMILY_3270,
  KVX_EM_FAMILY_5250,
};

constexpr bool kvx_em_is_3270(int e) { return e >= KVX_EM_IBM3270_MODEL2 && e <= KVX_EM_IBM3270_MODEL5; }
constexpr bool kvx_em_is_5250(int e) { return e == KVX_EM_IBM5250 || e == KVX_EM_IBM5250_3477; }
constexpr bool kvx_em_is_block(int e) { return kvx_em_is_3270(e) || kvx_em_is_5250(e); }
constexpr bool kvx_em_is_valid(int e) { return e >= kKvxEmFirst && e <= kKvxEmLast; }
// The 3270 model (2-5) of a 3270 setting.
constexpr int kvx_em_3270_model(int e) { return e - KVX_EM_IBM3270_MODEL2 + 2; }
constexpr int kvx_em_3270_setting(int model) { return KVX_EM_IBM3270_MODEL2 + model - 2; }

constexpr KVX_EM_FAMILY kvx_em_family(int e) {
  switch (e) {
    case KVX_EM_ANSI: case KVX_EM_AT386: case KVX_EM_SCOANSI: case KVX_EM_VT100: case KVX_EM_LINUX:
    case KVX_EM_VT220: case KVX_EM_VT220_7: case KVX_EM_VT320: case KVX_EM_VT320_7: case KVX_EM_VT420:
    case KVX_EM_XTERM: case KVX_EM_XTERM256:
      return KVX_EM_FAMILY_VT;
    case KVX_EM_ADM1: case KVX_EM_TVI912: case KVX_EM_TVI925: case KVX_EM_TVI950: case KVX_EM_WYSE50:
    case KVX_EM_ADDSVP: case KVX_EM_WYCOL:
      return KVX_EM_FAMILY_WYSE50;
    case KVX_EM_WYSE60: case KVX_EM_WYSE60_25:
      return KVX_EM_FAMILY_WYSE60;
    case KVX_EM_IBM3101: case KVX_EM_IBM3151: case KVX_EM_IBM3151_25:
      return KVX_EM_FAMILY_IBM3151;
    case KVX_EM_PCTERM:
      return KVX_EM_FAMILY_PCTERM;
    case KVX_EM_TTY:
      return KVX_EM_FAMILY_TTY;
    default:
      if (kvx_em_is_3270(e)) return KVX_EM_FAMILY_3270;
      if (kvx_em_is_5250(e)) return KVX_EM_FAMILY_5250;
      return KVX_EM_FAMILY_NONE;
  }
}
