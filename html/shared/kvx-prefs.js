// The person's choices for this browser, kept in its local storage: text
// size, the bell's sound, copying on selection and the question before a
// paste of several lines.  Nothing here is ever sent to a server.

const KEY = 'kavrix.prefs';

export const FONT_SIZES = Object.freeze({ min: 8, max: 32, default: 15 });

const DEFAULTS = Object.freeze({
  fontSize: FONT_SIZES.default,
  bellSound: false,
  copyOnSelect: true,
  confirmPaste: true,
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
