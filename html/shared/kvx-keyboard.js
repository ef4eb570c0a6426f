// The page's keyboard: what a person types becomes the key codes of the
// channel's key frames.  Characters travel as their Unicode code points
// (those beyond U+FFFF as two surrogate halves, which the session joins);
// terminal keys as the private-use code points of keycodes.js, which the
// code-page file maps to the terminal's key codes.
//
// Typing lands in a hidden text area inside the terminal: keydown sends
// what it can name (function, cursor and editing keys, Ctrl and Alt forms,
// plain characters); input the browser composes (dead keys, input methods,
// virtual keyboards) arrives through composition and input events; pastes
// (Ctrl+Shift+V, Shift+Insert, the context menu) through the paste event.
//
// Chords go to the host as a terminal sends them: Ctrl, Shift and Alt with
// the cursor and editing keys and F1-F12 as keys with modifiers (the
// session sends xterm's forms, CSI 1;5C for Ctrl+Right), Alt with a
// character as ESC and the character, Ctrl with a letter or with Space,
// @ [ \ ] ^ _ / ? as its control code.  The page takes them before the
// browser acts on them (Alt+Left is no "back").
//
// Left to the browser: Meta combinations, Ctrl+Shift+letter (reload is
// Ctrl+Shift+R, copy and paste Ctrl+Shift+C/V), Ctrl+Tab, Ctrl+PageUp and
// Ctrl+PageDown and Ctrl+1..9 (tab switching), Ctrl+0, Ctrl+= and Ctrl++
// (zoom).  Shift+PageUp and Shift+PageDown stay plain Page Up and Page Down
// keys here.  Of these, the page keeps some for itself (text size, copy,
// its scrollback view: kvx-chords.js) before they reach the keyboard.
// Ctrl+W, Ctrl+N and Ctrl+T go to the host as control codes where the
// browser lets a page have them.
import './keycodes.js';

const KC = globalThis.KvxKeyCodes;
const NUMPAD = 3;  // KeyboardEvent.DOM_KEY_LOCATION_NUMPAD

function named(name) {
  const cp = KC.codePoint(name);
  if (cp === undefined) throw new Error(`no key code for ${name}`);
  return cp;
}

// Named keys: [plain, with Ctrl] key names.
const NAMED = {
  ArrowUp: ['UP', 'C-UP'],
  ArrowDown: ['DOWN', 'C-DOWN'],
  ArrowRight: ['RIGHT', 'C-RIGHT'],
  ArrowLeft: ['LEFT', 'C-LEFT'],
  Home: ['HOME', 'C-HOME'],
  End: ['END', 'C-END'],
  PageUp: ['PGUP', 'C-PGUP'],
  PageDown: ['PGDN', 'C-PGDN'],
  Insert: ['INS', 'C-INS'],
  Delete: ['DELETE', 'C-DELETE'],
  Backspace: ['BACKSPACE', 'C-BACKSPACE'],
  Clear: ['FIVE', 'C-FIVE'],  // keypad 5 without Num Lock
  Pause: ['PSE', 'PSE'],
  ScrollLock: ['SCRLOCK', 'SCRLOCK'],
};

// Keys that take every modifier: their key names without one.
const MODIFIABLE = {
  ArrowUp: 'UP',
  ArrowDown: 'DOWN',
  ArrowRight: 'RIGHT',
  ArrowLeft: 'LEFT',
  Home: 'HOME',
  End: 'END',
  PageUp: 'PGUP',
  PageDown: 'PGDN',
  Insert: 'INS',
  Delete: 'DELETE',
};

// Key-name prefixes by xterm's modifier number (1 + Shift 1 + Alt 2 + Ctrl
// 4): for the keys above, and for F1-F12.
const MOD_PREFIX = { 2: 'S-', 3: 'A-', 4: 'AS-', 5: 'C-', 6: 'CS-', 7: 'CA-', 8: 'CAS-' };
const MOD_FPREFIX = { 1: 'F', 2: 'SF', 3: 'AF', 4: 'ASF', 5: 'CF', 6: 'CSF', 7: 'CAF', 8: 'CASF' };

// Keypad keys with Num Lock on: [plain, with Ctrl] key names.
const KEYPAD = {
  '/': ['KP/', 'C-KP/'],
  '*': ['KP*', 'C-KP*'],
  '-': ['KP-', 'C-KP-'],
  '+': ['KP+', 'C-KP+'],
  '.': ['KP.', 'KP.'],
  ',': ['KP,', 'KP,'],
  Enter: ['KPENTER', 'C-KPENTER'],
};

// Ctrl with punctuation: the control code the terminals give it.
const CTRL_PUNCT = { ' ': 0, '@': 0, '[': 27, '\\': 28, ']': 29, '^': 30, '_': 31, '-': 31, '/': 31, '?': 127 };

// The code points of a text, each at most 0xFFFF (surrogate halves for the
// rest); line ends become Enter.
export function textCodes(text) {
  const codes = [];
  const s = String(text).replace(/\r\n?/g, '\n');
  for (let i = 0; i < s.length; i++) {
    const c = s.charCodeAt(i);
    codes.push(c === 10 ? 13 : c);
  }
  return codes;
}

// The letter of a key whatever the layout ("KeyQ" gives "q"), or null.
function latinLetter(ev) {
  if (/^[a-zA-Z]$/.test(ev.key)) return ev.key.toLowerCase();
  if (/^Key[A-Z]$/.test(ev.code || '')) return ev.code.slice(3).toLowerCase();
  return null;
}

function isPrintable(key) {
  return typeof key === 'string' && key.length > 0 && [...key].length === 1 && key >= ' ' && key !== '\x7f';
}

// What to do with a keydown:
//   { send: [codes] }  the page takes it and sends these codes
//   { browser: true }  left to the browser (its shortcuts, pastes)
//   { compose: true }  the browser is composing: its input events follow
//   { ignore: true }   taken, nothing sent (modifiers alone, unknown keys)
export function classify(ev) {
  const key = ev.key;
  const shift = ev.shiftKey;
  // AltGr types characters; some systems report it as Ctrl+Alt.
  const altGraph = typeof ev.getModifierState === 'function' && ev.getModifierState('AltGraph');
  const ctrl = ev.ctrlKey && !altGraph;
  const alt = ev.altKey && !altGraph;
  if (ev.isComposing || ev.keyCode === 229 || key === 'Dead' || key === 'Process') return { compose: true };
  if (ev.metaKey) return { browser: true };
  if (key === undefined || key === 'Unidentified') return { compose: true };
  if (['Shift', 'Control', 'Alt', 'AltGraph', 'Meta', 'CapsLock', 'NumLock', 'OS', 'Fn'].includes(key)) {
    return { ignore: true };
  }

  const modifier = 1 + (shift ? 1 : 0) + (alt ? 2 : 0) + (ctrl ? 4 : 0);

  // Function keys: F1-F12 with any modifiers, F13-F20 with one of Shift,
  // Ctrl, Alt or Ctrl+Shift.
  const f = /^F([1-9]|1[0-9]|20)$/.exec(key);
  if (f) {
    const n = Number(f[1]);
    const code = KC.codePoint(`${MOD_FPREFIX[modifier]}${n}`);
    return code === undefined ? { ignore: true } : { send: [code] };
  }

  // Tab switching stays with the browser.
  if (ctrl && (key === 'Tab' || key === 'PageUp' || key === 'PageDown')) return { browser: true };
  if (ctrl && !alt && !shift && /^Digit[0-9]$/.test(ev.code || '')) return { browser: true };
  if (ctrl && !alt && (key === '=' || key === '+')) return { browser: true };
  // Ctrl+Shift+letter: the browser's own (reload, copy, paste, new window).
  if (ctrl && shift && !alt && latinLetter(ev)) return { browser: true };
  // Shift+Insert pastes through the paste event.
  if (shift && !ctrl && key === 'Insert') return { browser: true };

  if (ev.location === NUMPAD && KEYPAD[key]) return { send: [named(KEYPAD[key][ctrl ? 1 : 0])] };
  if (ev.location === NUMPAD && /^[0-9]$/.test(key)) return { send: [named(`KP${key}`)] };
  // Shift alone leaves Page Up and Page Down plain (see above).
  const pageShift = modifier === 2 && (key === 'PageUp' || key === 'PageDown');
  if (MODIFIABLE[key] && modifier > 1 && !pageShift) {
    return { send: [named(`${MOD_PREFIX[modifier]}${MODIFIABLE[key]}`)] };
  }
  if (NAMED[key]) {
    const code = named(NAMED[key][ctrl ? 1 : 0]);
    // Alt+Backspace is ESC and the key (rub out a word).
    return { send: alt && key === 'Backspace' ? [27, code] : [code] };
  }
  switch (key) {
    case 'Enter':
      if (alt && !ctrl) return { send: [27, 13] };
      return { send: [ctrl ? named('C-ENTER') : 13] };
    case 'Escape':
      return { send: [ctrl ? named('C-ESC') : 27] };
    case 'Tab':
      return { send: [shift ? named('S-TAB') : 9] };
    default:
      break;
  }

  if (alt && !ctrl) {
    // Alt with a letter or digit has a key code of its own; with anything
    // else (Shift included) it is ESC and the character.
    const letter = latinLetter(ev);
    if (letter && !shift) return { send: [KC.fromKeyCode(letter.charCodeAt(0) + 312)] };
    if (letter) return { send: [27, letter.toUpperCase().charCodeAt(0)] };
    const digit = /^Digit([0-9])$/.exec(ev.code || '');
    if (digit && !shift) return { send: [named(`ALT${digit[1]}`)] };
    if (ev.code === 'Minus' && !shift) return { send: [named('ALT-')] };
    if (ev.code === 'Equal' && !shift) return { send: [named('ALT=')] };
    if (isPrintable(key)) return { send: [27, ...textCodes(key)] };
  }
  if (ctrl) {
    // Ctrl+Alt with a letter or a control character: ESC and the control
    // code, as xterm sends it.
    const letter = latinLetter(ev);
    const control = letter ? letter.charCodeAt(0) - 96 : CTRL_PUNCT[key];
    if (control !== undefined) return { send: alt ? [27, control] : [control] };
  }
  // Other Ctrl and Alt forms have no key code.
  if (ctrl || alt) return { ignore: true };
  if (isPrintable(key)) return { send: textCodes(key) };
  return { ignore: true };
}

// A keydown as the keyboard sees it with Ctrl and Alt added (the touch
// bar's sticky modifiers), or a key pressed by other means ({ key, code }).
function withModifiers(ev, { ctrl, alt }) {
  return {
    key: ev.key,
    code: ev.code ?? '',
    location: ev.location ?? 0,
    shiftKey: Boolean(ev.shiftKey),
    ctrlKey: Boolean(ev.ctrlKey) || ctrl,
    altKey: Boolean(ev.altKey) || alt,
    metaKey: Boolean(ev.metaKey),
    isComposing: Boolean(ev.isComposing),
    keyCode: ev.keyCode ?? 0,
    getModifierState: (m) => (typeof ev.getModifierState === 'function' ? ev.getModifierState(m) : false),
  };
}

export class Keyboard {
  // `send(code)` takes one key code; `paste(text)`, when given, takes
  // pasted text instead of typing it; `classify(ev)` says what a keydown
  // is (as classify above, which it is by default: a 3270 or 5250 station
  // has its own, kvx-block.js and kvx-block5250.js).
  //
  // `sticky` holds Ctrl and Alt set for the next key only (a touch bar's):
  // the next key typed, pasted by an on-screen keyboard or pressed with
  // press() goes with them, and then they are released (`onSticky()` is
  // told).
  constructor(container, send, { paste, classify: classifier = classify } = {}) {
    this.container = container;
    this.send = send;
    this.paste = paste;
    this.classify = classifier;
    this.composing = false;
    this.sticky = { ctrl: false, alt: false };
    this.onSticky = null;
    const area = document.createElement('textarea');
    area.className = 'kvx-input';
    area.setAttribute('aria-label', 'Terminal input');
    area.setAttribute('autocapitalize', 'off');
    area.setAttribute('autocomplete', 'off');
    area.setAttribute('autocorrect', 'off');
    area.spellcheck = false;
    this.area = area;
    this.attach();
    // Ends the listeners on the container when another keyboard takes over.
    this.stop = new AbortController();
    const own = { signal: this.stop.signal };

    area.addEventListener('keydown', (ev) => this.onKeyDown(ev));
    area.addEventListener('compositionstart', () => {
      this.composing = true;
    });
    area.addEventListener('compositionend', (ev) => {
      this.composing = false;
      this.sendText(ev.data);
      area.value = '';
    });
    area.addEventListener('beforeinput', (ev) => this.onBeforeInput(ev));
    area.addEventListener('input', () => {
      if (!this.composing) area.value = '';
    });
    area.addEventListener('paste', (ev) => {
      ev.preventDefault();
      area.classList.remove('kvx-input-pointer');
      const text = ev.clipboardData ? ev.clipboardData.getData('text/plain') : '';
      if (this.paste) this.paste(text);
      else this.sendText(text);
    });
    // Clicks anywhere on the terminal type into it; a right click puts the
    // text area under the pointer so that the context menu can paste.
    container.addEventListener('mousedown', (ev) => {
      if (ev.button !== 2) return;
      ev.preventDefault();  // focus stays with the text area
      this.underPointer(ev);
    }, own);
    container.addEventListener('mouseup', () => {
      if (!String(window.getSelection?.() ?? '')) this.focus();
    }, own);
    container.addEventListener('focus', () => this.focus(), own);
    area.addEventListener('blur', () => area.classList.remove('kvx-input-pointer'));
  }

  // Leaves the terminal to another keyboard.
  dispose() {
    this.stop.abort();
    this.area.remove();
  }

  // Puts the text area back into the terminal (after a redraw replaced
  // the container's children).
  attach() {
    if (this.area.parentNode !== this.container) this.container.appendChild(this.area);
  }

  focus() {
    this.attach();
    this.area.focus({ preventScroll: true });
  }

  // Input methods open their candidates at the cursor.
  moveTo(x, y) {
    this.area.classList.remove('kvx-input-pointer');
    this.area.style.removeProperty('left');
    this.area.style.removeProperty('top');
    this.area.style.setProperty('--kvx-x', x);
    this.area.style.setProperty('--kvx-y', y);
  }

  underPointer(ev) {
    const box = this.container.getBoundingClientRect();
    this.area.classList.add('kvx-input-pointer');
    this.area.style.left = `${ev.clientX - box.left - 4}px`;
    this.area.style.top = `${ev.clientY - box.top - 4}px`;
    this.focus();
  }

  sendText(text) {
    for (const code of textCodes(text ?? '')) this.send(code);
  }

  get stickyDown() {
    return this.sticky.ctrl || this.sticky.alt;
  }

  releaseSticky() {
    this.sticky.ctrl = false;
    this.sticky.alt = false;
    this.onSticky?.();
  }

  // The one path of a keydown in the typing area; the chords the page
  // takes for itself (kvx-chords.js) never reach it.
  onKeyDown(ev) {
    const sticky = this.stickyDown;
    const what = this.classify(sticky ? withModifiers(ev, this.sticky) : ev);
    if (what.compose || what.browser) return;
    ev.preventDefault();
    if (!what.send) return;
    for (const code of what.send) this.send(code);
    if (sticky && what.send.length) this.releaseSticky();
  }

  // A key pressed other than on the keyboard (a touch bar's arrow, a
  // character from an on-screen keyboard while Ctrl is held): `init` is
  // { key, code } as a keydown has them; it goes the keydown's way, with
  // the sticky modifiers.
  press(init) {
    const what = this.classify(withModifiers(init, this.sticky));
    if (!what.send) return;
    for (const code of what.send) this.send(code);
    if (this.stickyDown) this.releaseSticky();
  }

  // What reaches the text area without a keydown the page took: virtual
  // keyboards and the results of dead keys.
  onBeforeInput(ev) {
    if (this.composing || ev.isComposing) return;
    switch (ev.inputType) {
      case 'insertText':
      case 'insertReplacementText': {
        ev.preventDefault();
        const text = ev.data ?? ev.dataTransfer?.getData('text/plain') ?? '';
        // Ctrl or Alt held on the touch bar: the first character goes with it.
        if (this.stickyDown && text) {
          const [first, ...rest] = [...text];
          this.press({ key: first });
          this.sendText(rest.join(''));
        } else {
          this.sendText(text);
        }
        break;
      }
      case 'insertLineBreak':
      case 'insertParagraph':
        ev.preventDefault();
        this.send(13);
        break;
      case 'deleteContentBackward':
        ev.preventDefault();
        this.send(named('BACKSPACE'));
        break;
      case 'deleteContentForward':
        ev.preventDefault();
        this.send(named('DELETE'));
        break;
      default:
        break;
    }
  }
}
