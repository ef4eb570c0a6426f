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
// ("KeyC", "Digit0").  A chord matches a keydown with exactly its modifiers.

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
  if (/^(Key[A-Z]|Digit[0-9])$/.test(name)) chord.code = name;
  else chord.key = name;
  return chord;
}

function matches(chord, ev) {
  return chord.ctrl === ev.ctrlKey && chord.alt === ev.altKey && chord.shift === ev.shiftKey &&
    chord.meta === ev.metaKey && (chord.code ? chord.code === ev.code : chord.key === ev.key);
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
    return this.entries.find((entry) => entry.parsed.some((chord) => matches(chord, ev))) ?? null;
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
