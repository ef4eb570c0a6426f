// The file a person exports their settings and key maps to, and imports
// them from (into another browser, or after a reset):
//
//   { "kavrix": "settings", "version": 1,
//     "prefs": { "scheme": "light", "cursorStyle": 4, ... },
//     "keymaps": { "character": { "Ctrl+Shift+KeyF": "F5" },
//                  "3270": { "ControlRight": "ENTER", "Enter": "NEWLINE" },
//                  "5250": {} } }
//
// "prefs" are the preferences of kvx-prefs.js (a missing one takes its
// default), "keymaps" the maps of kvx-keymap-user.js (chords in the
// notation of kvx-chords.js, key functions by name).  A file is taken
// whole or not at all: the first thing wrong in it is named.
import { defaultPrefs, readPrefs } from './kvx-prefs.js';
import { emptyMaps, readMaps } from './kvx-keymap-user.js';

export const SETTINGS_FILE_VERSION = 1;
export const SETTINGS_FILE_NAME = 'kavrix-settings.json';

export function settingsFile(prefs, maps) {
  return { kavrix: 'settings', version: SETTINGS_FILE_VERSION, prefs: { ...prefs }, keymaps: maps };
}

export function settingsFileText(prefs, maps) {
  return `${JSON.stringify(settingsFile(prefs, maps), null, 2)}\n`;
}

// The settings of a file's text: { prefs, maps }, or an Error whose
// message says what is wrong.
export function readSettingsFile(text) {
  let file;
  try {
    file = JSON.parse(text);
  } catch (err) {
    return new Error(`The file is not JSON (${err.message})`);
  }
  if (!file || typeof file !== 'object' || Array.isArray(file) || file.kavrix !== 'settings') {
    return new Error('The file is no Kavrix settings file (it lacks "kavrix": "settings")');
  }
  if (!Object.hasOwn(file, 'version')) return new Error('The file has no "version"');
  if (file.version !== SETTINGS_FILE_VERSION) {
    return new Error(`The file's "version" is ${JSON.stringify(file.version)}; this page reads version ` +
      `${SETTINGS_FILE_VERSION}`);
  }
  for (const name of Object.keys(file)) {
    if (!['kavrix', 'version', 'prefs', 'keymaps'].includes(name)) return new Error(`The file has an unknown "${name}"`);
  }
  const prefs = Object.hasOwn(file, 'prefs') ? readPrefs(file.prefs) : defaultPrefs();
  if (prefs instanceof Error) return prefs;
  const maps = Object.hasOwn(file, 'keymaps') ? readMaps(file.keymaps) : emptyMaps();
  if (maps instanceof Error) return maps;
  return { prefs, maps };
}
