// The emulation settings (the values of the session's `emulate` key) by
// name, and the families they belong to: the page's mirror of
// src/lib/proto/emulation_ids.h (the names without "KVX_EM_" and
// "KVX_EM_FAMILY_"), kept equal to it by
// tests/browser/protocol-mirror.test.mjs.  Which of them the page offers,
// and with what labels, is kvx-hosts.js's.
//
// To add an emulation: give it its number in emulation_ids.h first, then
// the same name and number here, and its family in FAMILY_MEMBERS.

export const EM = Object.freeze({
  ADM1: 0,
  ANSI: 1,
  AT386: 2,
  IBM3101: 3,
  PCTERM: 4,
  SCOANSI: 5,
  TTY: 6,
  TVI912: 7,
  TVI925: 8,
  TVI950: 9,
  VT100: 10,
  LINUX: 11,
  VT220: 12,
  VT220_7: 13,
  VT320: 14,
  VT320_7: 15,
  VT420: 16,
  WYSE50: 17,
  WYSE60: 18,
  WYSE60_25: 19,
  IBM3151: 20,
  IBM3151_25: 21,
  IBM5250: 22,       // the model comes from em5250idx
  IBM5250_3477: 23,  // the same station; without em5250idx a 3477
  IBM3270_MODEL2: 24,
  IBM3270_MODEL3: 25,
  IBM3270_MODEL4: 26,
  IBM3270_MODEL5: 27,
  ADDSVP: 28,
  WYCOL: 29,
  XTERM: 30,
  XTERM256: 31,
});

export const EM_FAMILY = Object.freeze({
  NONE: 0,  // not an emulation setting
  VT: 1,
  WYSE50: 2,
  WYSE60: 3,
  IBM3151: 4,
  PCTERM: 5,
  TTY: 6,
  3270: 7,
  5250: 8,
});

const FAMILY_MEMBERS = [
  [EM_FAMILY.VT, [EM.ANSI, EM.AT386, EM.SCOANSI, EM.VT100, EM.LINUX, EM.VT220, EM.VT220_7, EM.VT320, EM.VT320_7,
    EM.VT420, EM.XTERM, EM.XTERM256]],
  [EM_FAMILY.WYSE50, [EM.ADM1, EM.TVI912, EM.TVI925, EM.TVI950, EM.WYSE50, EM.ADDSVP, EM.WYCOL]],
  [EM_FAMILY.WYSE60, [EM.WYSE60, EM.WYSE60_25]],
  [EM_FAMILY.IBM3151, [EM.IBM3101, EM.IBM3151, EM.IBM3151_25]],
  [EM_FAMILY.PCTERM, [EM.PCTERM]],
  [EM_FAMILY.TTY, [EM.TTY]],
  [EM_FAMILY[3270], [EM.IBM3270_MODEL2, EM.IBM3270_MODEL3, EM.IBM3270_MODEL4, EM.IBM3270_MODEL5]],
  [EM_FAMILY[5250], [EM.IBM5250, EM.IBM5250_3477]],
];
const FAMILY_OF = new Map(FAMILY_MEMBERS.flatMap(([family, members]) => members.map((e) => [e, family])));

// The family of a setting (a number or its text), EM_FAMILY.NONE for
// anything else.
export function family(emulate) {
  return FAMILY_OF.get(Number(emulate)) ?? EM_FAMILY.NONE;
}

export const is3270 = (emulate) => family(emulate) === EM_FAMILY[3270];
export const is5250 = (emulate) => family(emulate) === EM_FAMILY[5250];
// A block-mode station (3270 or 5250): its own screen and keyboard.
export const isBlock = (emulate) => is3270(emulate) || is5250(emulate);

// The 3270 model (2 to 5) of a 3270 setting.
export const model3270 = (emulate) => Number(emulate) - EM.IBM3270_MODEL2 + 2;
