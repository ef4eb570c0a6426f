// A person's key maps and settings as the page keeps them, in node (no
// browser): the chords a keydown is (Right Ctrl alone, keypad keys, letters
// whatever the layout), what a map makes of a keydown in each family, the
// page's chords a map takes over or moves, the key help with the map in
// force, the settings file's checks (each refusal names what is wrong),
// the cursor style's order (host, setting, default) and the high-contrast
// scheme's contrast.  The maps at work in the page: settings.test.mjs.
import assert from 'node:assert/strict';
import keyCodes from '../../html/shared/keycodes.js';

globalThis.KvxKeyCodes ??= keyCodes;
const KC = globalThis.KvxKeyCodes;
const { ChordMap, PAGE_CHORDS, canonicalChord, chordLabel, chordOf, matchesChord, parseChord } =
  await import('../../html/shared/kvx-chords.js');
const { UserKeys, emptyMaps, keyFunctions, readMaps } = await import('../../html/shared/kvx-keymap-user.js');
const { keyHelp } = await import('../../html/shared/kvx-keymap.js');
const { readSettingsFile, settingsFileText } = await import('../../html/shared/kvx-settings-file.js');
const { defaultPrefs } = await import('../../html/shared/kvx-prefs.js');
const { cursorLook } = await import('../../html/shared/kvx-cursor.js');
const { SCHEME_COLOURS, contrastRatio, resolveScheme, schemePairs, schemeVariables } =
  await import('../../html/shared/kvx-schemes.js');

const ev = (key, more = {}) => ({ key, code: '', location: 0, ctrlKey: false, altKey: false, shiftKey: false,
  metaKey: false, ...more });
const RIGHT_CTRL = ev('Control', { code: 'ControlRight', ctrlKey: true, location: 2 });
const keyCode = (name) => KC.codePoint(name);

// ---- chords of keydowns ----
const CHORDS = [
  [RIGHT_CTRL, 'ControlRight', 'Right Ctrl'],
  [ev('Shift', { code: 'ShiftLeft', shiftKey: true, ctrlKey: true }), 'Ctrl+ShiftLeft', 'Ctrl+Left Shift'],
  [ev('c', { code: 'KeyC', ctrlKey: true }), 'Ctrl+KeyC', 'Ctrl+C'],
  [ev('q', { code: 'KeyA', ctrlKey: true }), 'Ctrl+KeyA', 'Ctrl+A'],  // AZERTY: the key's place counts
  [ev('+', { code: 'NumpadAdd', location: 3 }), 'NumpadAdd', 'keypad +'],
  [ev('Enter', { code: 'NumpadEnter', location: 3 }), 'NumpadEnter', 'keypad Enter'],
  [ev('Enter', { code: 'Enter', shiftKey: true }), 'Shift+Enter', 'Shift+Enter'],
  [ev('F5', { code: 'F5', altKey: true, shiftKey: true }), 'Alt+Shift+F5', 'Alt+Shift+F5'],
  [ev('Pause', { code: 'Pause' }), 'Pause', 'Pause'],
  [ev('Escape', { code: 'Escape' }), 'Escape', 'Esc'],
  [ev('+', { code: 'Equal', ctrlKey: true, shiftKey: true }), 'Ctrl+Shift++', 'Ctrl+Shift++'],
  [ev('Dead', { code: 'BracketLeft' }), null, null],
  [ev('Control', { code: '', ctrlKey: true }), null, null],  // no side: no chord
];
for (const [e, chord, label] of CHORDS) {
  assert.equal(chordOf(e), chord, JSON.stringify(e));
  if (chord) {
    assert.equal(chordLabel(chord), label, chord);
    assert.ok(matchesChord(parseChord(chord), e), `${chord} matches the keydown it came from`);
  }
}
assert.equal(canonicalChord('Shift+Ctrl+KeyC'), 'Ctrl+Shift+KeyC');
assert.equal(canonicalChord('Meta+Alt+Ctrl++'), 'Ctrl+Alt+Meta++');
// Right Ctrl is neither Left Ctrl nor Right Ctrl with Shift held.
assert.ok(!matchesChord(parseChord('ControlRight'), ev('Control', { code: 'ControlLeft', ctrlKey: true })));
assert.ok(!matchesChord(parseChord('ControlRight'), { ...RIGHT_CTRL, shiftKey: true }));

// ---- what a map makes of a keydown ----
const maps = emptyMaps();
maps[3270] = { ControlRight: 'ENTER', Enter: 'NEWLINE', 'Ctrl+KeyC': 'PA1', Escape: 'NONE' };
maps[5250] = { NumpadAdd: 'FIELDPLUS', Pause: 'ATTN', 'Ctrl+KeyC': 'PA1' };
maps.character = { 'Ctrl+Shift+KeyC': 'F5', 'Ctrl+Insert': 'page:copy', 'Alt+KeyF': 'page:text-larger' };
const keys = new UserKeys(maps);
const MAPPED = [
  ['3270', RIGHT_CTRL, { send: [13] }],
  ['3270', ev('Enter', { code: 'Enter' }), { send: [keyCode('NEWLINE')] }],
  ['3270', ev('c', { code: 'KeyC', ctrlKey: true }), { send: [keyCode('PA1')] }],
  ['3270', ev('Escape', { code: 'Escape' }), { ignore: true }],
  ['3270', ev('Enter', { code: 'NumpadEnter', location: 3 }), null],  // the keypad's Enter is another key
  ['3270', ev('Enter', { code: 'Enter', shiftKey: true }), null],
  ['3270', ev('c', { code: 'KeyC', ctrlKey: true, isComposing: true }), null],
  ['5250', ev('+', { code: 'NumpadAdd', location: 3 }), { send: [keyCode('FIELDPLUS')] }],
  ['5250', ev('Pause', { code: 'Pause' }), { send: [keyCode('ATTN')] }],
  ['5250', RIGHT_CTRL, null],  // each family has its own map
  ['character', ev('C', { code: 'KeyC', ctrlKey: true, shiftKey: true }), { send: [keyCode('F5')] }],
  ['character', ev('Insert', { code: 'Insert', ctrlKey: true }), null],  // a page action: the chord listener's
  ['character', ev('c', { code: 'KeyC', ctrlKey: true }), null],
];
for (const [family, e, want] of MAPPED) assert.deepEqual(keys.classify(family, e), want, `${family} ${JSON.stringify(e)}`);
// In front of a keyboard's own classify.
const classify = UserKeys.classifier('3270', () => keys, () => ({ send: [42] }));
assert.deepEqual(classify(RIGHT_CTRL), { send: [13] });
assert.deepEqual(classify(ev('x', { code: 'KeyX' })), { send: [42] });

// The page's chords: a map takes Ctrl+Shift+C from copy and gives copy
// Ctrl+Insert, larger text Alt+F; in the 3270 map nothing of the page's.
const pageName = (family, e) => new ChordMap(PAGE_CHORDS, keys.pageOverrides(family)).match(e)?.name ?? null;
const copyChord = ev('C', { code: 'KeyC', ctrlKey: true, shiftKey: true });
assert.equal(pageName('character', copyChord), null);
assert.equal(pageName('character', ev('Insert', { code: 'Insert', ctrlKey: true })), 'copy');
assert.equal(pageName('character', ev('f', { code: 'KeyF', altKey: true })), 'text-larger');
assert.equal(pageName('character', ev('=', { code: 'Equal', ctrlKey: true })), 'text-larger', 'its own chords stay');
assert.equal(pageName('3270', copyChord), 'copy');
assert.deepEqual(new UserKeys().pageOverrides('character'), {});

// ---- the key help with the map in force ----
const help = (kind) => Object.fromEntries(keyHelp(kind, new ChordMap(PAGE_CHORDS, keys.pageOverrides(kind)).entries, keys)
  .map((s) => [s.title, Object.fromEntries(s.rows.map((r) => [r.label, r.keys]))]));
const h3270 = help('3270');
assert.equal(Object.keys(h3270)[0], 'Your key map');
assert.deepEqual(h3270['Your key map'],
  { Enter: 'Right Ctrl', 'New Line': 'Enter', PA1: 'Ctrl+C', 'Nothing (the key is ignored)': 'Esc' });
assert.equal(h3270['IBM 3270 keys'].Enter, 'Right Ctrl', 'Enter is no longer on the Enter key');
assert.equal(h3270['IBM 3270 keys']['New Line'], 'Enter or Shift+Enter');
assert.equal(h3270['IBM 3270 keys'].Reset, 'key bar or this list', 'Esc now does nothing');
assert.equal(h3270['IBM 3270 keys'].PA1, 'Ctrl+C or Ctrl+P, 1');
const hChar = help('character');
assert.equal(hChar['Your key map'].F5, 'Ctrl+Shift+C');
assert.equal(hChar['Page keys']['Copy the selection'], 'Ctrl+Insert');
assert.equal(hChar['Page keys']['Larger text'], 'Ctrl+= or Ctrl++ or Ctrl+Shift++ or Alt+F');
assert.equal(help('5250')['IBM 5250 keys']['Field+'], 'keypad +');
assert.equal(help('3270')['Page keys']['Text size to fit or the default'], 'Ctrl+0');

// Every key function of every family has a code the page can send (or is
// a page action or nothing), and the names are unique.
for (const family of ['character', '3270', '5250']) {
  const fns = keyFunctions(family);
  assert.equal(new Set(fns.map((f) => f.name)).size, fns.length, family);
  for (const f of fns) assert.ok(Number.isInteger(f.code) || f.group === 'Page', `${family} ${f.name}`);
}

// ---- the settings file ----
const prefs = { ...defaultPrefs(), scheme: 'light', cursorStyle: 4, fontFamily: 'Liberation Mono' };
const good = readSettingsFile(settingsFileText(prefs, maps));
assert.ok(!(good instanceof Error), good.message);
assert.deepEqual(good, { prefs, maps }, 'an exported file reads back the same');
// Chords read in any spelling come back in one.
assert.deepEqual(readMaps({ 3270: { 'Shift+Ctrl+KeyC': 'PA2' } })[3270], { 'Ctrl+Shift+KeyC': 'PA2' });
const file = (more) => JSON.stringify({ kavrix: 'settings', version: 1, ...more });
const REFUSED = [
  ['{"kavrix": "settings", "version": 1', /^The file is not JSON/],
  ['[1, 2]', /no Kavrix settings file/],
  [JSON.stringify({ version: 1, prefs: {} }), /no Kavrix settings file/],
  [JSON.stringify({ kavrix: 'settings' }), /^The file has no "version"$/],
  [file({ version: 2 }), /"version" is 2; this page reads version 1/],
  [file({ theme: 'x' }), /unknown "theme"/],
  [file({ prefs: { scheme: 'purple' } }), /^prefs\.scheme: "purple" is no colour scheme/],
  [file({ prefs: { cursorStyle: 9 } }), /^prefs\.cursorStyle: 9 is not a cursor style/],
  [file({ prefs: { fontFamily: 'x;}body{' } }), /^prefs\.fontFamily: .* is not a font name/],
  [file({ prefs: { bellSound: 'yes' } }), /^prefs\.bellSound: "yes" is not true or false/],
  [file({ prefs: { colour: 1 } }), /^prefs\.colour: 1 is no setting of this page/],
  [file({ keymaps: [] }), /^keymaps is not an object/],
  [file({ keymaps: { vt: {} } }), /^keymaps: no emulation family "vt"/],
  [file({ keymaps: { 3270: { 'Hyper+KeyA': 'PA1' } } }), /^keymaps\.3270: chord "Hyper\+KeyA": no modifier Hyper/],
  [file({ keymaps: { 3270: { 'Ctrl+KeyQ': 'PF99' } } }), /^keymaps\.3270: "Ctrl\+KeyQ" maps to "PF99", which is no IBM 3270 key function$/],
  [file({ keymaps: { 5250: { F13: 'NEWLINE' } } }), /"F13" maps to "NEWLINE", which is no IBM 5250 key function/],
  [file({ keymaps: { character: { F1: 'PA1' } } }), /which is no VT and other character terminals key function/],
  [file({ keymaps: { 3270: { 'Ctrl+KeyC ': 'PA2' } } }), /^keymaps\.3270: chord "Ctrl\+KeyC " names no key "KeyC "$/],
  [file({ keymaps: { 3270: { 'Shift+Ctrl+KeyC': 'PA1', 'Ctrl+Shift+KeyC': 'PA2' } } }), /"Ctrl\+Shift\+KeyC" is mapped twice/],
];
for (const [text, want] of REFUSED) {
  const read = readSettingsFile(text);
  assert.ok(read instanceof Error, `refused: ${text}`);
  assert.match(read.message, want, text);
}
// Missing parts take their defaults.
assert.deepEqual(readSettingsFile(file({})), { prefs: defaultPrefs(), maps: emptyMaps() });

// ---- the cursor: the host's style, else the setting, else a blinking block ----
const LOOKS = [
  [0, 0, { shape: 'block', blink: true, from: 'default' }],
  [0, 4, { shape: 'underline', blink: false, from: 'setting' }],
  [6, 4, { shape: 'bar', blink: false, from: 'host' }],
  [1, 6, { shape: 'block', blink: true, from: 'host' }],
  [7, 3, { shape: 'underline', blink: true, from: 'setting' }],
];
for (const [host, chosen, want] of LOOKS) assert.deepEqual(cursorLook(host, chosen), want, `${host}/${chosen}`);

// ---- schemes ----
assert.equal(resolveScheme('default', true), 'dark');
assert.equal(resolveScheme('default', false), 'light');
assert.equal(resolveScheme('contrast', false), 'contrast');
for (const name of Object.keys(SCHEME_COLOURS)) {
  const vars = schemeVariables(name);
  for (const v of ['--kvx-fd', '--kvx-gd', '--kvx-f15', '--kvx-g15', '--kvx-c15', '--kvx-d15', '--kvx-ui-bg', '--kvx-ui-on-accent']) {
    assert.match(vars[v] ?? '', /^#[0-9a-f]{6}$/, `${name} ${v}`);
  }
}
// High contrast: every pair of colours it uses reaches WCAG AA (4.5:1).
for (const [fg, bg, what] of schemePairs('contrast')) {
  assert.ok(contrastRatio(fg, bg) >= 4.5, `high contrast ${what}: ${fg} on ${bg} is ${contrastRatio(fg, bg).toFixed(2)}:1`);
}
assert.equal(contrastRatio('#000000', '#ffffff').toFixed(1), '21.0');
console.log('PASS keymap-user');
