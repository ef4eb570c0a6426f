// A person's own key maps, one per family of emulations (character
// terminals, IBM 3270, IBM 5250), kept in this browser: each assigns a
// keyboard key or chord (kvx-chords.js notation) to a key function of the
// family, to one of the page's own actions, or to nothing.
//
// The browser only chooses the key: a key function is a key code of
// keycodes.js (a VT function key, a 3270 or 5250 station key), sent in a
// key frame as the page's keyboard would send it, and the session turns it
// into the host's bytes as for any key.  A person never types host bytes.
//
// The map comes first: a keydown it names does what the map says before
// the page's keyboard (kvx-keyboard.js, kvx-block.js, kvx-keys5250.js)
// looks at it, and a chord the page reserves for itself (kvx-chords.js)
// that the map assigns is the map's.
import './keycodes.js';
import { PAGE_CHORDS, canonicalChord, chordLabel, matchesChord, parseChord } from './kvx-chords.js';
import { KEYS_3270, KEYS_5250, PAGE_ACTION_LABELS } from './kvx-keymap.js';

const KC = globalThis.KvxKeyCodes;

const STORAGE_KEY = 'kavrix.keymaps';
const NUMPAD = 3;  // KeyboardEvent.DOM_KEY_LOCATION_NUMPAD
export const FAMILIES = Object.freeze(['character', '3270', '5250']);
export const FAMILY_LABELS = Object.freeze({
  character: 'VT and other character terminals',
  3270: 'IBM 3270',
  5250: 'IBM 5250',
});

// The target that makes a key do nothing, and the prefix of page actions.
export const NOTHING = 'NONE';
const PAGE = 'page:';

function codeOf(name) {
  const cp = KC.codePoint(name);
  if (cp === undefined) throw new Error(`no key code for ${name}`);
  return cp;
}

const fn = (name, label, group, code = codeOf(name)) => Object.freeze({ name, label, group, code });

// Keys a block station has beside the ones its tables list.
const CURSOR = [
  fn('UP', 'Cursor up', 'Cursor and editing'),
  fn('DOWN', 'Cursor down', 'Cursor and editing'),
  fn('LEFT', 'Cursor left', 'Cursor and editing'),
  fn('RIGHT', 'Cursor right', 'Cursor and editing'),
  fn('BACKSPACE', 'Backspace', 'Cursor and editing'),
];
const EXTRA_5250 = [
  fn('PA1', 'PA1', 'IBM 5250 keys'),
  fn('PA2', 'PA2', 'IBM 5250 keys'),
  fn('PA3', 'PA3', 'IBM 5250 keys'),
  fn('RECORDBACKSPACE', 'Record Backspace', 'IBM 5250 keys'),
  fn('HOME', 'Home', 'Cursor and editing'),
  fn('INS', 'Insert', 'Cursor and editing'),
  fn('DELETE', 'Delete', 'Cursor and editing'),
];

function stationFunctions(table, group, extra) {
  const names = new Set();
  const list = [];
  for (const k of [...table, ...extra]) {
    if (names.has(k.name)) continue;
    names.add(k.name);
    list.push(fn(k.name, k.label, k.group ?? (/^PF\d+$/.test(k.name) ? 'Function keys' : group), k.code));
  }
  return list;
}

function characterFunctions() {
  const list = [
    fn('ENTER', 'Enter (Return)', 'Keys', 13),
    fn('TAB', 'Tab', 'Keys', 9),
    fn('S-TAB', 'Back Tab (Shift+Tab)', 'Keys'),
    fn('ESC', 'Escape', 'Keys', 27),
    fn('BACKSPACE', 'Backspace', 'Keys'),
    fn('DEL-CHAR', 'Delete character (DEL)', 'Keys', 127),
    fn('UP', 'Up', 'Cursor and editing'),
    fn('DOWN', 'Down', 'Cursor and editing'),
    fn('LEFT', 'Left', 'Cursor and editing'),
    fn('RIGHT', 'Right', 'Cursor and editing'),
    fn('HOME', 'Home', 'Cursor and editing'),
    fn('END', 'End', 'Cursor and editing'),
    fn('PGUP', 'Page Up', 'Cursor and editing'),
    fn('PGDN', 'Page Down', 'Cursor and editing'),
    fn('INS', 'Insert', 'Cursor and editing'),
    fn('DELETE', 'Delete', 'Cursor and editing'),
  ];
  for (let n = 1; n <= 20; n++) list.push(fn(`F${n}`, `F${n}`, 'Function keys'));
  for (let n = 1; n <= 12; n++) list.push(fn(`SF${n}`, `Shift+F${n}`, 'Function keys'));
  for (let n = 1; n <= 12; n++) list.push(fn(`CF${n}`, `Ctrl+F${n}`, 'Function keys'));
  for (let n = 0; n <= 9; n++) list.push(fn(`KP${n}`, `Keypad ${n}`, 'Keypad'));
  for (const [k, label] of [['KP-', '-'], ['KP+', '+'], ['KP*', '*'], ['KP/', '/'], ['KP.', '.'], ['KP,', ','],
    ['KPENTER', 'Enter']]) {
    list.push(fn(k, `Keypad ${label}`, 'Keypad'));
  }
  return list;
}

const FUNCTIONS = Object.freeze({
  character: Object.freeze(characterFunctions()),
  3270: Object.freeze(stationFunctions(KEYS_3270, 'IBM 3270 keys', CURSOR)),
  5250: Object.freeze(stationFunctions(KEYS_5250, 'IBM 5250 keys', [...EXTRA_5250, ...CURSOR])),
});

// What a map can assign in a family: its key functions, then the page's
// actions and nothing.  [{ name, label, group, code? }]  Paste is the
// browser's own command on its chords (kvx-chords.js), so it moves to no
// other chord; a map can still take its chords.
export function keyFunctions(family) {
  const own = FUNCTIONS[family] ?? [];
  const page = PAGE_CHORDS.filter((c) => PAGE_ACTION_LABELS[c.name] && !c.browser)
    .map((c) => ({ name: `${PAGE}${c.name}`, label: PAGE_ACTION_LABELS[c.name], group: 'Page' }));
  return [...own, ...page, { name: NOTHING, label: 'Nothing (the key is ignored)', group: 'Page' }];
}

// A target of a family by name, or undefined.
export function keyFunction(family, name) {
  return keyFunctions(family).find((f) => f.name === name);
}

// ---- the maps: { version, maps: { family: { chord: target } } } ----

export const KEYMAP_VERSION = 1;

export const emptyMaps = () => ({ character: {}, 3270: {}, 5250: {} });

// Reads the maps of a settings file or of this browser's storage: the maps
// with their chords in their one spelling, or an Error naming the first
// thing that is wrong ("keymaps.3270: "Ctrl+KeyQ" maps to "PF99", which is
// no IBM 3270 key function").  `where` names the object in the message.
export function readMaps(value, where = 'keymaps') {
  if (!value || typeof value !== 'object' || Array.isArray(value)) {
    return new Error(`${where} is not an object of maps by emulation family`);
  }
  const maps = emptyMaps();
  for (const [family, map] of Object.entries(value)) {
    if (!FAMILIES.includes(family)) {
      return new Error(`${where}: no emulation family "${family}" (${FAMILIES.join(', ')})`);
    }
    if (!map || typeof map !== 'object' || Array.isArray(map)) {
      return new Error(`${where}.${family} is not an object of chords and key functions`);
    }
    for (const [chord, target] of Object.entries(map)) {
      let one;
      try {
        one = canonicalChord(chord);
      } catch (err) {
        return new Error(`${where}.${family}: ${err.message}`);
      }
      if (typeof target !== 'string' || !keyFunction(family, target)) {
        return new Error(`${where}.${family}: "${chord}" maps to ${JSON.stringify(target)}, which is no ` +
          `${FAMILY_LABELS[family]} key function`);
      }
      if (Object.hasOwn(maps[family], one)) {
        return new Error(`${where}.${family}: "${chord}" is mapped twice`);
      }
      maps[family][one] = target;
    }
  }
  return maps;
}

export function loadMaps() {
  try {
    const saved = JSON.parse(localStorage.getItem(STORAGE_KEY) || 'null');
    if (!saved || saved.version !== KEYMAP_VERSION) return emptyMaps();
    const maps = readMaps(saved.maps);
    return maps instanceof Error ? emptyMaps() : maps;
  } catch {
    return emptyMaps();
  }
}

// Tells `listener()` when another page of this browser saved key maps.
export function onStoredMaps(listener) {
  addEventListener('storage', (ev) => {
    if (ev.key === null || ev.key === STORAGE_KEY) listener();
  });
}

export function saveMaps(maps) {
  try {
    localStorage.setItem(STORAGE_KEY, JSON.stringify({ version: KEYMAP_VERSION, maps }));
  } catch {
    // A full or forbidden storage only loses the map for next time.
  }
}

// The maps at work: what a keydown does in a family, the page's chords that
// the maps leave to the page, and the lines the key help shows.
export class UserKeys {
  constructor(maps = emptyMaps()) {
    this.maps = maps;
    this.parsed = {};
    for (const family of FAMILIES) {
      this.parsed[family] = Object.entries(maps[family] ?? {}).map(([chord, target]) => ({
        chord, target, parsed: parseChord(chord),
      }));
    }
  }

  // The entry of `family`'s map a keydown is, or null.  A key of the
  // keypad is only the chord that names it by its code ("NumpadEnter"):
  // a map's "Enter" is the main Enter key, the keypad's Enter stays itself.
  entry(family, ev) {
    const keypad = ev.location === NUMPAD || /^Numpad/.test(ev.code || '');
    return this.parsed[family]?.find((e) => (!keypad || e.parsed.code) && matchesChord(e.parsed, ev)) ?? null;
  }

  // What the keyboard of `family` makes of a keydown the map names (as
  // kvx-keyboard.js's classify says it), or null for a key the map leaves
  // alone.  Page actions are the chord listener's (pageOverrides).
  classify(family, ev) {
    if (ev.isComposing || ev.keyCode === 229) return null;
    const e = this.entry(family, ev);
    if (!e || e.target.startsWith(PAGE)) return null;
    if (e.target === NOTHING) return { ignore: true };
    return { send: [keyFunction(family, e.target).code] };
  }

  // A keyboard's classify with the map in front of it; `current()` gives
  // the maps in force when the key comes.
  static classifier(family, current, base) {
    return (ev) => current().classify(family, ev) ?? base(ev);
  }

  // The page's chords in `family` as ChordMap overrides: each page action
  // keeps its chords that the map does not assign and gains the ones the
  // map assigns to it.
  pageOverrides(family) {
    const entries = this.parsed[family] ?? [];
    const taken = new Set(entries.map((e) => e.chord));
    const overrides = {};
    for (const page of PAGE_CHORDS) {
      const kept = page.chords.filter((c) => !taken.has(canonicalChord(c)));
      const added = entries.filter((e) => e.target === `${PAGE}${page.name}`).map((e) => e.chord);
      if (added.length || kept.length !== page.chords.length) overrides[page.name] = [...kept, ...added];
    }
    return overrides;
  }

  // The map of a family as the key help and the settings list it:
  // [{ chord, keys (the chord as read), target, label }].
  rows(family) {
    return (this.parsed[family] ?? []).map((e) => ({
      chord: e.chord,
      keys: chordLabel(e.chord),
      target: e.target,
      label: keyFunction(family, e.target)?.label ?? e.target,
    }));
  }

  // The chords of a family's map that do `target`, as read.
  keysFor(family, target) {
    return (this.parsed[family] ?? []).filter((e) => e.target === target).map((e) => chordLabel(e.chord));
  }

  // Whether the map of a family assigns the chord read as `keys` ("Esc",
  // "Shift+Enter"): a key of the page's own keyboard it has taken over.
  takes(family, keys) {
    return (this.parsed[family] ?? []).some((e) => chordLabel(e.chord) === keys);
  }
}
