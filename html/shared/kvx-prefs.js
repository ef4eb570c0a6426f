// The person's choices for this browser, kept in its local storage: text
// size, the bell's sound, copying on selection, the question before a paste
// of several lines, and how 3270 and 5250 screens are shown.  Nothing here
// is ever sent to a server.

const KEY = 'kavrix.prefs';

export const FONT_SIZES = Object.freeze({ min: 8, max: 32, default: 15 });

const DEFAULTS = Object.freeze({
  fontSize: FONT_SIZES.default,  // a character-mode screen's text size
  bellSound: false,
  copyOnSelect: true,
  confirmPaste: true,
  blockFontSize: 0,       // a 3270 or 5250 screen's text size, 0: as large as fits
  fieldUnderline: true,   // the input fields of a 3270 screen drawn underlined
  pfHotspots: true,       // "PF3=Exit" and the like on a 3270 or 5250 screen press the key
});

export function loadPrefs() {
  let saved = {};
  try {
    saved = JSON.parse(localStorage.getItem(KEY) || '{}') || {};
  } catch {
    saved = {};
  }
  const prefs = { ...DEFAULTS };
  for (const [name, value] of Object.entries(saved)) {
    if (name in DEFAULTS && typeof value === typeof DEFAULTS[name]) prefs[name] = value;
  }
  prefs.fontSize = clampFontSize(prefs.fontSize);
  if (prefs.blockFontSize) prefs.blockFontSize = clampFontSize(prefs.blockFontSize);
  return prefs;
}

export function savePrefs(prefs) {
  try {
    localStorage.setItem(KEY, JSON.stringify(prefs));
  } catch {
    // A full or forbidden storage only loses the choice for next time.
  }
}

export function clampFontSize(size) {
  const n = Math.round(Number(size));
  if (!Number.isFinite(n)) return FONT_SIZES.default;
  return Math.max(FONT_SIZES.min, Math.min(FONT_SIZES.max, n));
}
