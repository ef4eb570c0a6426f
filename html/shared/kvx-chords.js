// The chords the page keeps for itself, wherever the focus is: each has a
// name, its chords and the page action it runs.  The page's chord listener
// (listenChords) runs the action before the terminal's keyboard
// (kvx-keyboard.js) sees the key, which then goes nowhere else; an action
// that does not apply at the moment (its handler returns false: no
// scrollback to look at) leaves the key to the keyboard, and so to the host.
// A chord marked `browser` is done by the browser's own command, which the
// page lets through and whose event it takes (a paste: the typing area's
// paste event).
//
// To add a chord: add an entry below with a name of its own (a person's key
// map names it to change its chords), its chords in the notation below and
// the name of its action, and give the action its handler where the page
// calls listenChords (html/ui/app.js).  The terminal's keyboard must not
// need the chord: check what kvx-keyboard.js, kvx-block.js and
// kvx-keys5250.js make of it.
//
// Notation: the modifiers Ctrl, Alt, Shift and Meta, each followed by "+",
// then the key: a KeyboardEvent key value ("=", "+", "PageUp"), or a
// KeyboardEvent code value for a key that is the same whatever the layout
// ("KeyC", "Digit0") or that another key shares its value with (the keypad's
// "NumpadAdd", "NumpadEnter"; one side's modifier key "ControlRight").  A
// chord matches a keydown with exactly its modifiers; a modifier key as the
// chord's key does not count as its own modifier ("ControlRight" is Right
// Ctrl pressed alone).

export const PAGE_CHORDS = Object.freeze([
  { name: 'text-larger', chords: ['Ctrl+=', 'Ctrl++', 'Ctrl+Shift++'], action: 'textLarger' },
  { name: 'text-smaller', chords: ['Ctrl+-'], action: 'textSmaller' },
  { name: 'text-default', chords: ['Ctrl+Digit0'], action: 'textDefault' },
  { name: 'copy', chords: ['Ctrl+Shift+KeyC'], action: 'copy' },
  { name: 'paste', chords: ['Ctrl+Shift+KeyV', 'Shift+Insert'], action: 'paste', browser: true },
  // Only while there is scrollback to look at and the focus is on the terminal.
  { name: 'scroll-page-up', chords: ['Shift+PageUp'], action: 'scrollPageUp' },
  { name: 'scroll-page-down', chords: ['Shift+PageDown'], action: 'scrollPageDown' },
]);

const MODIFIERS = ['Ctrl', 'Alt', 'Shift', 'Meta'];

// Code values a chord names its key by (see the notation above).
const CODE_NAME = /^(Key[A-Z]|Digit[0-9]|Numpad[A-Za-z0-9]+|(Control|Shift|Alt|Meta)(Left|Right))$/;

// The modifier a modifier key's code sets ("ControlRight": ctrl), or null.
function ownModifier(code) {
  const m = /^(Control|Shift|Alt|Meta)(Left|Right)$/.exec(code || '');
  if (!m) return null;
  return { Control: 'ctrl', Shift: 'shift', Alt: 'alt', Meta: 'meta' }[m[1]];
}

// A chord's text as { ctrl, alt, shift, meta, key } or { ..., code }.
export function parseChord(text) {
  const parts = String(text).split('+');
  // A chord ending in "+" names the "+" key ("Ctrl++").
  if (parts.length > 1 && parts.at(-1) === '' && parts.at(-2) === '') parts.splice(-2, 2, '+');
  const name = parts.pop();
  const chord = { ctrl: false, alt: false, shift: false, meta: false };
  for (const mod of parts) {
    if (!MODIFIERS.includes(mod)) throw new Error(`chord "${text}": no modifier ${mod}`);
    chord[mod.toLowerCase()] = true;
  }
  if (!name) throw new Error(`chord "${text}" names no key`);
  if (CODE_NAME.test(name)) chord.code = name;
  // A key value: one character, or a key's name ("F5", "PageUp").
  else if ([...name].length === 1 || /^[A-Z][A-Za-z0-9]+$/.test(name)) chord.key = name;
  else throw new Error(`chord "${text}" names no key "${name}"`);
  return chord;
}

// A chord's text in its one spelling: the modifiers in the order Ctrl,
// Alt, Shift, Meta.  Two texts of one chord give the same text.
export function canonicalChord(text) {
  const chord = parseChord(text);
  const mods = MODIFIERS.filter((m) => chord[m.toLowerCase()]);
  return [...mods, chord.code ?? chord.key].join('+');
}

// Whether a keydown is `chord` (parsed).
export function matchesChord(chord, ev) {
  const own = ownModifier(chord.code);
  const same = (name, flag) => name === own || chord[name] === Boolean(flag);
  return same('ctrl', ev.ctrlKey) && same('alt', ev.altKey) && same('shift', ev.shiftKey) &&
    same('meta', ev.metaKey) && (chord.code ? chord.code === ev.code : chord.key === ev.key);
}

// The chord of a keydown, in its one spelling: keys that are the same
// whatever the layout, the keypad's keys and one side's modifier keys by
// their code, the others by their key value; null for a key that names
// nothing (a dead key, a key the browser cannot identify).
export function chordOf(ev) {
  const code = ev.code || '';
  const own = ownModifier(code);
  let name;
  if (CODE_NAME.test(code)) name = code;
  else if (ev.key && ev.key !== 'Unidentified' && ev.key !== 'Dead' && ev.key !== 'Process') name = ev.key;
  else return null;
  // A modifier key without its side has only its key value: not a chord.
  if (['Control', 'Shift', 'Alt', 'Meta', 'AltGraph'].includes(name)) return null;
  const flags = { ctrl: ev.ctrlKey, alt: ev.altKey, shift: ev.shiftKey, meta: ev.metaKey };
  const mods = MODIFIERS.filter((m) => m.toLowerCase() !== own && flags[m.toLowerCase()]);
  return [...mods, name].join('+');
}

// Names of keys as people read them.
const KEY_LABELS = {
  ' ': 'Space', Escape: 'Esc', PageUp: 'Page Up', PageDown: 'Page Down', ArrowUp: 'Up', ArrowDown: 'Down',
  ArrowLeft: 'Left', ArrowRight: 'Right', NumpadAdd: 'keypad +', NumpadSubtract: 'keypad \u2212',
  NumpadMultiply: 'keypad *', NumpadDivide: 'keypad /', NumpadDecimal: 'keypad .', NumpadComma: 'keypad ,',
  NumpadEnter: 'keypad Enter', NumpadEqual: 'keypad =',
};

// A chord as the key help and the settings show it ("Ctrl+C", "Right Ctrl",
// "keypad +").
export function chordLabel(text) {
  let chord;
  try {
    chord = parseChord(text);
  } catch {
    return String(text);
  }
  const name = chord.code ?? chord.key;
  let key = KEY_LABELS[name];
  if (!key) {
    const side = /^(Control|Shift|Alt|Meta)(Left|Right)$/.exec(name);
    const pad = /^Numpad([0-9])$/.exec(name);
    if (side) key = `${side[2]} ${side[1] === 'Control' ? 'Ctrl' : side[1]}`;
    else if (pad) key = `keypad ${pad[1]}`;
    else if (/^Key[A-Z]$/.test(name)) key = name.slice(3);
    else if (/^Digit[0-9]$/.test(name)) key = name.slice(5);
    else key = name;
  }
  return [...MODIFIERS.filter((m) => chord[m.toLowerCase()]), key].join('+');
}

// The page's chords with a person's changes: `overrides` maps an entry's
// name to the chords it has instead (an empty list: none, the key goes to
// the host).
export class ChordMap {
  constructor(entries = PAGE_CHORDS, overrides = {}) {
    this.entries = entries.map((entry) => {
      const chords = Object.hasOwn(overrides, entry.name) ? overrides[entry.name] : entry.chords;
      return { ...entry, chords, parsed: chords.map(parseChord) };
    });
  }

  // The entry a keydown is a chord of, or null.
  match(ev) {
    return this.entries.find((entry) => entry.parsed.some((chord) => matchesChord(chord, ev))) ?? null;
  }
}

// Runs the page's action for the chords of `map` pressed anywhere in
// `target` (before anything inside it hears of them) while `enabled()`;
// `actions` holds a handler by action name.
export function listenChords(target, map, actions, enabled = () => true) {
  target.addEventListener('keydown', (ev) => {
    if (!enabled()) return;
    const entry = map.match(ev);
    if (!entry || entry.browser) return;
    if (actions[entry.action]?.(ev) === false) return;
    ev.preventDefault();
    ev.stopPropagation();
  }, true);
}
