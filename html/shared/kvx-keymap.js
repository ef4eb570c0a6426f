// The keys of each kind of terminal as a person finds them in the page: for
// IBM 3270 and IBM 5250 stations every station key with the code the page
// sends for it and the PC keys that type it (kvx-block.js, kvx-keys5250.js
// and the session's 3270 key mapping decide those), and which of them the
// desktop key bar, the touch key bar and the key help show.  The key bars
// (kvx-keybar.js), the touch bar (kvx-touchbar.js), the key help
// (kvx-keyhelp.js) and the PF-key hotspots (kvx-hotspots.js) all read these
// tables, so that a key has one label, one code and one description.
import './keycodes.js';
import { PAGE_CHORDS, chordLabel } from './kvx-chords.js';

const KC = globalThis.KvxKeyCodes;

function codeOf(name) {
  const cp = KC.codePoint(name);
  if (cp === undefined) throw new Error(`no key code for ${name}`);
  return cp;
}

// A station key: `name` is how bars, hotspots and tests name it (the key
// name of keycodes.js, or ENTER/TAB for the plain Enter and Tab codes),
// `keys` the PC keys that type it ('' where none does).
function key(label, name, keys, code = codeOf(name)) {
  return Object.freeze({ label, name, keys, code });
}

// Function keys 1-24: PF keys on a 3270, F keys on a 5250 (both travel as
// the PF codes); 13-24 are Shift with 1-12.
function functionKeys(prefix, extra = {}) {
  const keys = [];
  for (let n = 1; n <= 24; n++) {
    const pc = n <= 12 ? `F${n}` : `Shift+F${n - 12}`;
    keys.push(key(`${prefix}${n}`, `PF${n}`, extra[n] ? `${pc} or ${extra[n]}` : pc));
  }
  return keys;
}

const ENTER_3270 = key('Enter', 'ENTER', 'Enter', 13);

export const KEYS_3270 = Object.freeze([
  ENTER_3270,
  key('New Line', 'NEWLINE', 'Shift+Enter'),
  key('Tab', 'TAB', 'Tab', 9),
  key('Back-tab', 'BACKTAB', 'Shift+Tab'),
  key('Home', 'HOME', 'Home'),
  key('Erase EOF', 'ERASEEOF', 'End'),
  key('Erase Input', 'ERASEINPUT', 'Ctrl+Delete'),
  key('Reset', 'RESET', 'Esc'),
  key('Clear', 'CLEAR', 'Ctrl+Z'),
  key('PA1', 'PA1', 'Ctrl+P, 1'),
  key('PA2', 'PA2', 'Ctrl+P, 2'),
  key('PA3', 'PA3', 'Ctrl+P, 3'),
  key('Attn', 'ATTN', 'Pause'),
  key('SysReq', 'SYSREQ', ''),
  key('Test Req', 'TSTREQ', ''),
  key('Cursor Select', 'CURSEL', ''),
  key('Insert', 'INS', 'Insert'),
  key('Delete', 'DELETE', 'Delete'),
  key('Dup', 'DUP', 'Shift+Insert'),
  key('Field Mark', 'FIELDMARK', 'Shift+Home'),
  ...functionKeys('PF', { 7: 'Page Up', 8: 'Page Down' }),
]);

export const KEYS_5250 = Object.freeze([
  key('Enter', 'ENTERREC', 'Enter'),
  key('Field Exit', 'FIELDEXIT', 'Shift+Enter or keypad Enter'),
  key('Field+', 'FIELDPLUS', 'keypad +'),
  key('Field\u2212', 'FIELDMINUS', 'keypad \u2212'),
  key('Tab', 'TAB', 'Tab', 9),
  key('Back Tab', 'BACKTAB', 'Shift+Tab'),
  key('Roll Up', 'ROLLUP', 'Page Down'),
  key('Roll Down', 'ROLLDOWN', 'Page Up'),
  key('Reset', 'ERRORRESET', 'Esc or Alt+R'),
  key('SysRq', 'SYSREQ', 'Shift+Esc or Alt+S'),
  key('Attn', 'ATTN', 'Pause or Alt+A'),
  key('Help', 'HELP', 'Alt+H'),
  key('Print', 'AIDPRINT', 'Alt+P'),
  key('Clear', 'CLEAR', 'Alt+C'),
  key('Dup', 'DUP', 'Alt+D'),
  key('Field Mark', 'FIELDMARK', 'Alt+M'),
  key('Erase Input', 'ERASEINPUT', 'Alt+End'),
  key('Erase EOF', 'EEOF', 'Ctrl+End'),
  key('End of Field', 'LASTFIELDPOSITION', 'End'),
  key('Cursor Select', 'CURSEL', 'Alt+X'),
  key('Test Req', 'TSTREQ', ''),
  ...functionKeys('F'),
]);

const TABLES = { 3270: KEYS_3270, 5250: KEYS_5250 };

// The key of a kind by name, or undefined.
export function stationKey(kind, name) {
  return TABLES[kind]?.find((k) => k.name === name);
}

// The keys of a kind named in `names`, in that order.
function pick(kind, names) {
  return Object.freeze(names.map((name) => {
    const k = stationKey(kind, name);
    if (!k) throw new Error(`no ${kind} key ${name}`);
    return k;
  }));
}

// 'PF' stands for the row of function keys (1-12, and 13-24 with Shift or
// on the next page).
export const PF = 'PF';

// What the desktop key bar under a block-mode screen shows.
export const DESKTOP_BAR = Object.freeze({
  3270: ['ENTER', PF, 'PA1', 'PA2', 'PA3', 'CLEAR', 'ATTN', 'SYSREQ', 'RESET'],
  5250: ['ENTERREC', PF, 'ROLLUP', 'ROLLDOWN', 'FIELDEXIT', 'FIELDPLUS', 'FIELDMINUS', 'ATTN', 'SYSREQ',
    'ERRORRESET', 'HELP', 'CLEAR', 'AIDPRINT', 'DUP', 'FIELDMARK', 'ERASEINPUT'],
});

// What the touch key bar shows, one line of keys and one of function keys.
export const TOUCH_BAR = Object.freeze({
  3270: ['ENTER', 'TAB', 'BACKTAB', 'ERASEEOF', 'RESET', 'CLEAR', 'PA1', 'PA2', 'PA3', 'ATTN', 'SYSREQ',
    'NEWLINE', 'HOME'],
  5250: ['ENTERREC', 'FIELDEXIT', 'FIELDPLUS', 'FIELDMINUS', 'ROLLUP', 'ROLLDOWN', 'ERRORRESET', 'SYSREQ',
    'ATTN', 'HELP', 'AIDPRINT', 'DUP'],
});

export const barKeys = (kind, names) => names.map((name) => (name === PF ? PF : pick(kind, [name])[0]));
export const functionKey = (kind, n) => stationKey(kind, `PF${n}`);

// The touch keys of a character terminal: keyboard keys the page's own
// keyboard turns into what the emulation sends (so that Ctrl and Alt held
// on the bar apply to them), and the two sticky modifiers.
export const TOUCH_CHARACTER = Object.freeze([
  { label: 'Esc', key: 'Escape' },
  { label: 'Tab', key: 'Tab' },
  { label: 'Ctrl', modifier: 'ctrl' },
  { label: 'Alt', modifier: 'alt' },
  { label: '\u2190', key: 'ArrowLeft', title: 'Left' },
  { label: '\u2191', key: 'ArrowUp', title: 'Up' },
  { label: '\u2193', key: 'ArrowDown', title: 'Down' },
  { label: '\u2192', key: 'ArrowRight', title: 'Right' },
  { label: 'Home', key: 'Home' },
  { label: 'End', key: 'End' },
  { label: 'PgUp', key: 'PageUp', title: 'Page Up' },
  { label: 'PgDn', key: 'PageDown', title: 'Page Down' },
]);
export const TOUCH_CHARACTER_F = Object.freeze(Array.from({ length: 12 }, (_, i) => ({ label: `F${i + 1}`, key: `F${i + 1}` })));

// A tooltip: the key and the PC keys that type it ("PF3 — F3").
export function keyTitle(k) {
  return k.keys ? `${k.label} \u2014 ${k.keys}` : k.label;
}

// The page's own actions, as the key help and the settings name them.
export const PAGE_ACTION_LABELS = Object.freeze({
  'text-larger': 'Larger text',
  'text-smaller': 'Smaller text',
  'text-default': 'Text size to fit or the default',
  copy: 'Copy the selection',
  paste: 'Paste',
  'scroll-page-up': 'Scroll back a page',
  'scroll-page-down': 'Scroll forward a page',
});

// The lines of the key help for a kind ('3270', '5250' or 'character'):
// [{ title, rows: [{ label, keys, key? }] }], `key` set on station keys
// (the help presses them when clicked).  `chords` are the page's chords in
// force; `mine`, the person's maps (kvx-keymap-user.js's UserKeys), puts
// the person's map first and shows each station key with the chords the
// map gives it, without the keys of the page's keyboard that the map has
// taken over.
export function keyHelp(kind, chords = PAGE_CHORDS, mine = null) {
  const family = TABLES[kind] ? kind : 'character';
  const sections = [];
  const own = mine?.rows(family) ?? [];
  if (own.length) {
    sections.push({ title: 'Your key map', rows: own.map((r) => ({ label: r.label, keys: r.keys })) });
  }
  if (TABLES[kind]) {
    sections.push({
      title: kind === '3270' ? 'IBM 3270 keys' : 'IBM 5250 keys',
      rows: TABLES[kind].map((k) => {
        const standard = k.keys ? k.keys.split(' or ').filter((keys) => !mine?.takes(family, keys)) : [];
        const keys = [...(mine?.keysFor(family, k.name) ?? []), ...standard];
        return { label: k.label, keys: keys.join(' or ') || 'key bar or this list', key: k };
      }),
    });
  } else {
    sections.push({
      title: 'Terminal keys',
      rows: [
        { label: 'Keys and chords', keys: 'go to the host as the terminal sends them' },
        { label: 'Ctrl and Alt on a touch screen', keys: 'tap Ctrl or Alt, then the key' },
      ],
    });
  }
  const pageRows = chords.filter((c) => PAGE_ACTION_LABELS[c.name] && c.chords.length)
    .map((c) => ({ label: PAGE_ACTION_LABELS[c.name], keys: c.chords.map(chordLabel).join(' or ') }));
  pageRows.push({ label: 'Copy a block of columns', keys: 'Alt+drag' });
  sections.push({ title: 'Page keys', rows: pageRows });
  return sections;
}
