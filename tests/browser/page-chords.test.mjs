// The registry of the chords the page keeps for itself (kvx-chords.js):
// which keydowns are whose, with exactly their modifiers, whatever the
// layout where the chord names a key code, and a person's changes to a
// chord by its name.  Runs in node (no browser); the chords at work in the
// page are in fontsize, clipboard and scrollback.
import assert from 'node:assert/strict';
import { ChordMap, PAGE_CHORDS, parseChord } from '../../html/shared/kvx-chords.js';

const ev = (key, more = {}) => ({ key, code: '', ctrlKey: false, altKey: false, shiftKey: false, metaKey: false,
  ...more });
const name = (map, e) => map.match(e)?.name ?? null;

const map = new ChordMap();
const CASES = [
  [ev('=', { ctrlKey: true, code: 'Equal' }), 'text-larger'],
  [ev('+', { ctrlKey: true, code: 'NumpadAdd' }), 'text-larger'],
  [ev('+', { ctrlKey: true, shiftKey: true, code: 'Equal' }), 'text-larger'],
  [ev('-', { ctrlKey: true, code: 'Minus' }), 'text-smaller'],
  [ev('0', { ctrlKey: true, code: 'Digit0' }), 'text-default'],
  [ev('à', { ctrlKey: true, code: 'Digit0' }), 'text-default'],  // a layout without 0 on that key
  [ev('C', { ctrlKey: true, shiftKey: true, code: 'KeyC' }), 'copy'],
  [ev('V', { ctrlKey: true, shiftKey: true, code: 'KeyV' }), 'paste'],
  [ev('Insert', { shiftKey: true }), 'paste'],
  [ev('PageUp', { shiftKey: true }), 'scroll-page-up'],
  [ev('PageDown', { shiftKey: true }), 'scroll-page-down'],
  // Not the page's: other modifiers, or none.
  [ev('=', { ctrlKey: true, altKey: true, code: 'Equal' }), null],
  [ev('-', { ctrlKey: true, shiftKey: true, code: 'Minus' }), null],
  [ev('c', { ctrlKey: true, code: 'KeyC' }), null],
  [ev('C', { ctrlKey: true, shiftKey: true, metaKey: true, code: 'KeyC' }), null],
  [ev('PageUp'), null],
  [ev('PageUp', { ctrlKey: true }), null],
  [ev('0', { code: 'Digit0' }), null],
];
for (const [e, want] of CASES) assert.equal(name(map, e), want, JSON.stringify(e));

// Every entry has a name of its own, chords that read, and an action.
assert.equal(new Set(PAGE_CHORDS.map((c) => c.name)).size, PAGE_CHORDS.length);
for (const entry of PAGE_CHORDS) {
  assert.ok(entry.action && entry.chords.length, entry.name);
  for (const chord of entry.chords) parseChord(chord);
}
assert.deepEqual(parseChord('Ctrl+Shift++'), { ctrl: true, alt: false, shift: true, meta: false, key: '+' });
assert.throws(() => parseChord('Hyper+A'), /no modifier Hyper/);
assert.throws(() => parseChord('Ctrl+'), /names no key/);

// A person's key map: text-larger moves to Alt+=, copy gives up its chord
// (the key goes to the host); the others stay.
const mine = new ChordMap(PAGE_CHORDS, { 'text-larger': ['Alt+='], copy: [] });
assert.equal(name(mine, ev('=', { altKey: true, code: 'Equal' })), 'text-larger');
assert.equal(name(mine, ev('=', { ctrlKey: true, code: 'Equal' })), null);
assert.equal(name(mine, ev('C', { ctrlKey: true, shiftKey: true, code: 'KeyC' })), null);
assert.equal(name(mine, ev('-', { ctrlKey: true, code: 'Minus' })), 'text-smaller');
console.log('PASS page-chords');
