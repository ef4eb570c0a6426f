// The person's choices for this browser, kept in its local storage: text
// size and font, colour scheme and cursor style, the bell's sound, blinking
// text, copying on selection, the question before a paste of several
// lines, and how 3270 and 5250 screens are shown.  Nothing here is ever
// sent to a server: these are this viewer's own, whatever the session's
// settings (the host profile every viewer shares) say.  Every page this
// browser opens reads them, and a page hears when another changes them.

const KEY = 'kavrix.prefs';

export const FONT_SIZES = Object.freeze({ min: 8, max: 32, default: 15 });

// The colour schemes (kvx-schemes.js has their colours).
export const SCHEMES = Object.freeze([
  ['default', 'Default (follows the system\u2019s light or dark)'],
  ['light', 'Light'],
  ['dark', 'Dark'],
  ['green', 'Classic green on black'],
  ['contrast', 'High contrast'],
]);

// The monospace fonts the page names (the first is its default), and the
// browser's own monospace font.  Any other installed font can be named.
export const FONTS = Object.freeze(['DejaVu Sans Mono', 'Liberation Mono', 'Noto Sans Mono', 'monospace']);

// A font name typed by the person: letters, digits, blanks, '.', '-', '_',
// 64 bytes at most in UTF-8.
const FONT_NAME = /^[\p{L}\p{N} ._-]{1,64}$/u;
const isFontName = (v) => typeof v === 'string' && FONT_NAME.test(v) && new TextEncoder().encode(v).length <= 64;

// Cursor styles by the numbers a host's DECSCUSR uses (CSI Ps SP q); 0 is
// the page's default, a blinking block.
export const CURSOR_STYLES = Object.freeze([
  [0, 'Default (blinking block)'],
  [1, 'Block, blinking'],
  [2, 'Block, steady'],
  [3, 'Underline, blinking'],
  [4, 'Underline, steady'],
  [5, 'Bar, blinking'],
  [6, 'Bar, steady'],
]);

const isFontSize = (v) => Number.isInteger(v) && v >= FONT_SIZES.min && v <= FONT_SIZES.max;
const bool = (v) => (typeof v === 'boolean' ? '' : 'is not true or false');

// Each preference and its default (src/session/settings_keys.cpp has a
// row for each, and README.md's "Settings" lists them).
const DEFAULTS = Object.freeze({
  fontSize: FONT_SIZES.default,  // a character screen's text size
  blockFontSize: 0,       // a 3270 or 5250 screen's text size, 0: as large as fits
  fontFamily: '',         // empty: the page's default font
  scheme: 'default',
  cursorStyle: 0,
  blinkText: true,        // text the host makes blink blinks
  bellSound: false,
  copyOnSelect: true,
  confirmPaste: true,
  fieldUnderline: true,   // the input fields of a 3270 screen drawn underlined
  pfHotspots: true,       // "PF3=Exit" and the like on a 3270 or 5250 screen press the key
});

// What a value of each must be: '' when it is good, else what is wrong.
const CHECKS = Object.freeze({
  fontSize: (v) => (isFontSize(v) ? '' : `is not a text size from ${FONT_SIZES.min} to ${FONT_SIZES.max}`),
  blockFontSize: (v) => (v === 0 || isFontSize(v) ? '' :
    `is not 0 (as large as fits) or a text size from ${FONT_SIZES.min} to ${FONT_SIZES.max}`),
  fontFamily: (v) => (v === '' || isFontName(v) ? '' :
    'is not a font name (letters, digits, blanks, ".", "-", "_", 64 bytes at most)'),
  scheme: (v) => (SCHEMES.some(([s]) => s === v) ? '' :
    `is no colour scheme (${SCHEMES.map(([s]) => s).join(', ')})`),
  cursorStyle: (v) => (Number.isInteger(v) && v >= 0 && v <= 6 ? '' : 'is not a cursor style from 0 to 6'),
  blinkText: bool,
  bellSound: bool,
  copyOnSelect: bool,
  confirmPaste: bool,
  fieldUnderline: bool,
  pfHotspots: bool,
});

export function defaultPrefs() {
  return { ...DEFAULTS };
}

// What is wrong with a preference's value, '' when nothing (an unknown
// name is wrong too).
export function prefError(name, value) {
  if (!Object.hasOwn(CHECKS, name)) return 'is no setting of this page';
  return CHECKS[name](value);
}

// The preferences of a settings file: all of them (missing ones at their
// defaults), or an Error naming the first that is wrong.
export function readPrefs(value, where = 'prefs') {
  if (!value || typeof value !== 'object' || Array.isArray(value)) return new Error(`${where} is not an object`);
  const prefs = defaultPrefs();
  for (const [name, v] of Object.entries(value)) {
    const wrong = prefError(name, v);
    if (wrong) return new Error(`${where}.${name}: ${JSON.stringify(v)} ${wrong}`);
    prefs[name] = v;
  }
  return prefs;
}

// The saved preferences, each one that is no longer good at its default.
export function loadPrefs() {
  let saved = {};
  try {
    saved = JSON.parse(localStorage.getItem(KEY) || '{}') || {};
  } catch {
    saved = {};
  }
  const prefs = defaultPrefs();
  for (const [name, value] of Object.entries(saved)) {
    if (Object.hasOwn(DEFAULTS, name) && typeof value === typeof prefs[name]) prefs[name] = value;
  }
  prefs.fontSize = clampFontSize(prefs.fontSize);
  if (prefs.blockFontSize) prefs.blockFontSize = clampFontSize(prefs.blockFontSize);
  for (const name of ['fontFamily', 'scheme', 'cursorStyle']) {
    if (prefError(name, prefs[name])) prefs[name] = DEFAULTS[name];
  }
  return prefs;
}

export function savePrefs(prefs) {
  try {
    localStorage.setItem(KEY, JSON.stringify(prefs));
  } catch {
    // A full or forbidden storage only loses the choice for next time.
  }
}

// Tells `listener()` when another page of this browser saved preferences
// (or cleared this browser's storage).
export function onStoredPrefs(listener) {
  addEventListener('storage', (ev) => {
    if (ev.key === null || ev.key === KEY) listener();
  });
}

export function clampFontSize(size) {
  const n = Math.round(Number(size));
  if (!Number.isFinite(n)) return FONT_SIZES.default;
  return Math.max(FONT_SIZES.min, Math.min(FONT_SIZES.max, n));
}
