// The keyboard of an IBM 5250 session: the PC keys a 5250 user expects to
// find each 5250 function on.  A keydown the table names becomes that 5250
// key's code (through the private-use code points of keycodes.js); any
// other key is left to the page's keyboard (characters, cursor keys,
// Backspace, Insert, Delete, Tab, Home).
//
//   Enter                 Enter            Shift+Enter, keypad Enter  Field Exit
//   keypad +              Field+           keypad -                   Field-
//   F1-F12                F1-F12           Shift+F1-F12, F13-F24      F13-F24
//   Page Down             Roll Up          Page Up                    Roll Down
//   Escape                Reset            Shift+Escape, Alt+S        System Request
//   Pause, Alt+A          Attention        Shift+Tab                  Back Tab
//   End                   End of field     Ctrl+End, Ctrl+Delete      Erase to end of field
//   Alt+End               Erase Input      Alt+D                      Dup
//   Alt+M                 Field Mark       Alt+H, Help                Help
//   Alt+P                 Print            Alt+C                      Clear
//   Alt+R                 Reset            Alt+X                      Cursor Select
import './keycodes.js';

const KC = globalThis.KvxKeyCodes;
const NUMPAD = 3;  // KeyboardEvent.DOM_KEY_LOCATION_NUMPAD

function code(name) {
  const cp = KC.codePoint(name);
  if (cp === undefined) throw new Error(`no key code for ${name}`);
  return cp;
}

// Alt+letter: the 5250 function.
const ALT_LETTERS = {
  a: 'ATTN',
  c: 'CLEAR',
  d: 'DUP',
  h: 'HELP',
  m: 'FIELDMARK',
  p: 'AIDPRINT',
  r: 'ERRORRESET',
  s: 'SYSREQ',
  x: 'CURSEL',
};

function letterOf(ev) {
  if (/^[a-zA-Z]$/.test(ev.key)) return ev.key.toLowerCase();
  if (/^Key[A-Z]$/.test(ev.code || '')) return ev.code.slice(3).toLowerCase();
  return null;
}

// The 5250 key of a keydown as { send: [code points] }, or null for a key
// the page's own keyboard handles.
export function classify5250(ev) {
  const altGraph = typeof ev.getModifierState === 'function' && ev.getModifierState('AltGraph');
  const ctrl = ev.ctrlKey && !altGraph;
  const alt = ev.altKey && !altGraph;
  const shift = ev.shiftKey;
  if (ev.metaKey || ev.isComposing) return null;
  const key = ev.key;
  const send = (name) => ({ send: [code(name)] });

  const f = /^F([1-9]|1[0-9]|2[0-4])$/.exec(key || '');
  if (f && !ctrl && !alt) {
    const n = Number(f[1]) + (shift && Number(f[1]) <= 12 ? 12 : 0);
    return n <= 24 ? send(`PF${n}`) : null;
  }
  if (ev.location === NUMPAD && !ctrl && !alt) {
    if (key === 'Enter') return send('FIELDEXIT');
    if (key === '+') return send('FIELDPLUS');
    if (key === '-') return send('FIELDMINUS');
  }
  if (alt && !ctrl) {
    const letter = letterOf(ev);
    if (letter && ALT_LETTERS[letter]) return send(ALT_LETTERS[letter]);
    if (key === 'End') return send('ERASEINPUT');
    return null;
  }
  if (ctrl && !alt) {
    if (key === 'End' || key === 'Delete') return send('EEOF');
    return null;
  }
  switch (key) {
    case 'Enter':
      return send(shift ? 'FIELDEXIT' : 'ENTERREC');
    case 'PageDown':
      return send('ROLLUP');
    case 'PageUp':
      return send('ROLLDOWN');
    case 'Escape':
      return send(shift ? 'SYSREQ' : 'ERRORRESET');
    case 'Pause':
    case 'Cancel':
      return send('ATTN');
    case 'Tab':
      return shift ? send('BACKTAB') : null;
    case 'End':
      return send('LASTFIELDPOSITION');
    case 'Help':
      return send('HELP');
    default:
      return null;
  }
}
