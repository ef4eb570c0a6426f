// The 5250 keyboard table of the page: which PC keys give which 5250 keys,
// and which stay with the page's own keyboard.  Runs in node (no browser).
import assert from 'node:assert/strict';
import keyCodes from '../../html/shared/keycodes.js';

// In a page keycodes.js installs itself globally; node loads it as a module.
globalThis.KvxKeyCodes ??= keyCodes;
const { classify5250 } = await import('../../html/shared/kvx-keys5250.js');
const { DESKTOP_BAR, PF, TOUCH_BAR, barKeys, functionKey } = await import('../../html/shared/kvx-keymap.js');
const KC = globalThis.KvxKeyCodes;
const ev = (key, more = {}) => ({ key, code: '', location: 0, ctrlKey: false, altKey: false, shiftKey: false,
  metaKey: false, ...more });
const keyCode = (name) => KC.codePoint(name) - KC.BASE + 256;
const sent = (e) => {
  const what = classify5250(e);
  return what ? what.send.map((cp) => cp - KC.BASE + 256) : null;
};

const cases = [
  [ev('Enter'), 1169],
  [ev('Enter', { shiftKey: true }), keyCode('FIELDEXIT')],
  [ev('Enter', { location: 3 }), keyCode('FIELDEXIT')],
  [ev('+', { location: 3 }), keyCode('FIELDPLUS')],
  [ev('-', { location: 3 }), keyCode('FIELDMINUS')],
  [ev('F1'), 1120],
  [ev('F12'), 1131],
  [ev('F1', { shiftKey: true }), 1132],
  [ev('F12', { shiftKey: true }), 1143],
  [ev('F24'), 1143],
  [ev('PageDown'), 1172],
  [ev('PageUp'), 1173],
  [ev('Escape'), 1175],
  [ev('Escape', { shiftKey: true }), 1157],
  [ev('Pause'), 1151],
  [ev('Tab', { shiftKey: true }), 1147],
  [ev('End'), 1177],
  [ev('End', { ctrlKey: true }), 1150],
  [ev('Delete', { ctrlKey: true }), 1150],
  [ev('End', { altKey: true }), 1149],
  [ev('d', { altKey: true, code: 'KeyD' }), 1163],
  [ev('∂', { altKey: true, code: 'KeyD' }), 1163],  // a layout that types with Alt
  [ev('m', { altKey: true, code: 'KeyM' }), 1162],
  [ev('h', { altKey: true, code: 'KeyH' }), keyCode('HELP')],
  [ev('p', { altKey: true, code: 'KeyP' }), 1178],
  [ev('a', { altKey: true, code: 'KeyA' }), 1151],
  [ev('s', { altKey: true, code: 'KeyS' }), 1157],
];
for (const [e, want] of cases) assert.deepEqual(sent(e), [want], JSON.stringify(e));

// Left to the page's keyboard: characters, cursor and editing keys.
for (const e of [ev('a'), ev('5'), ev('5', { location: 3 }), ev('ArrowUp'), ev('Home'), ev('Tab'), ev('Insert'),
  ev('Delete'), ev('Backspace'), ev('F1', { ctrlKey: true }), ev('q', { altKey: true, code: 'KeyQ' }),
  ev('Enter', { isComposing: true }), ev('F1', { metaKey: true })])
  assert.equal(classify5250(e), null, JSON.stringify(e));

// Every button of the 5250 key bars names a 5250 key: the station keys, and
// F1-F24 as the PF codes.
for (const names of [DESKTOP_BAR[5250], TOUCH_BAR[5250]]) {
  for (const k of barKeys('5250', names)) {
    if (k === PF) continue;
    const code = k.code - KC.BASE + 256;
    assert.ok(code >= 1120 && code <= 1178 || code === 457, `${k.label}: ${code}`);
  }
}
for (let n = 1; n <= 24; n++) assert.equal(functionKey('5250', n).code - KC.BASE + 256, 1119 + n, `F${n}`);
console.log('keys5250: ok');
