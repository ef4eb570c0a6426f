// IBM 3270 screens in the page: the emulations the connect panel offers and
// their settings, the block-mode screen (cells in their field colours and
// highlighting, input fields underlined, the size the session's status line
// gives, click-to-position), the keyboard as 3270 users expect it, the
// status line (the operator information area) and, under it, the key bar
// the page gives the screen (kvx-keybar.js).
//
// Cell layout (little-endian 64 bits, src/lib/ite/fws/fws_cell.h): bits 0-7
// the character byte, 8 underline, 9 reverse, 10 blink, 11 intensified,
// 12 non-display, 13 protected, 14 field attribute, 15 graphic character,
// 16 placeholder, 24-27 foreground and 28-31 background (emulation colour
// table order), 32-62 the Unicode character, 63 set when they hold it.
import './keycodes.js';
import { EM, model3270 } from './kvx-emulations.js';
import { classify } from './kvx-keyboard.js';
import { parseStatusLine } from './kvx-protocol.js';
import { Screen } from './kvx-screen.js';

const KC = globalThis.KvxKeyCodes;
const key = (name) => KC.codePoint(name);

// The 3270 models by their `emulate` setting: model 2 to 5 (the settings'
// em3270idx 0 to 3).
export const BLOCK_EMULATIONS = Object.freeze([
  [EM.IBM3270_MODEL2, 'IBM 3270 model 2 (24 x 80)'],
  [EM.IBM3270_MODEL3, 'IBM 3270 model 3 (32 x 80)'],
  [EM.IBM3270_MODEL4, 'IBM 3270 model 4 (43 x 80)'],
  [EM.IBM3270_MODEL5, 'IBM 3270 model 5 (27 x 132)'],
]);

// Protocols a 3270 host is reached by: telnet, telnet over TLS, START_TLS.
export const BLOCK_PROTOCOLS = Object.freeze([0, 8, 4]);

// A custom 3270 screen size (rows x columns), larger than the model's:
// the terminal then announces IBM-DYNAMIC with that size as its maximum.
export const SIZE3270 = Object.freeze({ minRows: 24, maxRows: 62, minCols: 80, maxCols: 160 });

// { rows, cols } of a custom size, or null for the model's own size.
export function customSize3270(size) {
  if (!size) return null;
  const rows = Number(size.rows), cols = Number(size.cols);
  if (!Number.isInteger(rows) || !Number.isInteger(cols)) return null;
  if (rows < SIZE3270.minRows || rows > SIZE3270.maxRows || cols < SIZE3270.minCols || cols > SIZE3270.maxCols) {
    return null;
  }
  return { rows, cols };
}

// A custom size as text ("40x132") and back.
export const sizeText3270 = (size) => (size ? `${size.rows}x${size.cols}` : '');
export function parseSize3270(text) {
  const m = /^(\d+)x(\d+)$/i.exec(String(text || '').trim());
  return m ? customSize3270({ rows: Number(m[1]), cols: Number(m[2]) }) : null;
}

// Settings of a 3270 choice, beside the ones every host takes.
export function blockKcf(emulate, size = null) {
  const kcf = {
    em3270idx: model3270(emulate) - 2,
    TE3270EnExAtt: 1,  // extended attributes: colours and highlighting
    bsdel: 1,          // Backspace erases the character left of the cursor
    colorbg0: 1,       // black
  };
  const custom = customSize3270(size);
  if (custom) Object.assign(kcf, { em3270rows: custom.rows, em3270cols: custom.cols });
  return kcf;
}

// Cell bits.
const UNDERLINE = 0x100;
const REVERSE = 0x200;
const BLINK = 0x400;
const INTENSE = 0x800;
const NONDISPLAY = 0x1000;
const PROTECTED = 0x2000;
const FIELDATTR = 0x4000;
const GRAPHIC = 0x8000;
const STYLE = UNDERLINE | REVERSE | BLINK | INTENSE | NONDISPLAY | GRAPHIC | 0xff000000;

// The classes of a run of cells; `input` underlines it as an input field.
function blockClass(style, input) {
  let fg = (style >>> 24) & 15;
  let bg = (style >>> 28) & 15;
  if (style & REVERSE) [fg, bg] = [bg, fg];
  if (style & NONDISPLAY) fg = bg;
  let cls = `c${fg} d${bg}`;
  if (style & INTENSE) cls += ' b';
  if (style & UNDERLINE) cls += ' u';
  else if (input) cls += ' u kvx-input-field';
  if (style & BLINK) cls += ' k';
  if (style & GRAPHIC) cls += ' gr';
  return cls;
}

// Whether a cell takes typing: an unprotected position that is no field
// attribute.
export const isInputCell = (lo) => (lo & (PROTECTED | FIELDATTR)) === 0;

export class BlockScreen extends Screen {
  // `options.click(row, col)` moves the cursor; `options.keyBar`, an
  // element, goes under the status line; `options.underlineInput()` says
  // whether the input fields of a formatted screen are drawn underlined
  // (3270: empty fields would not show otherwise).
  constructor(container, rows, cols, options = {}) {
    super(container, rows, cols);
    // How the cells are drawn (kvx-screen.js): in the field colours and
    // highlighting, non-display fields blank, one cell a character, the
    // input fields underlined where asked.
    this.cells = {
      styleBits: STYLE | PROTECTED | FIELDATTR,
      runClass: (style) => blockClass(style, this.underlined && isInputCell(style)),
      blankDrawn: NONDISPLAY,
      blankText: NONDISPLAY,
      wide: false,
    };
    this.block = true;
    this.options = options;
    this.status = null;
    this.hostState = { connected: false, connecting: true };
    this.formatted = false;   // the screen has fields
    this.underlined = false;  // input fields drawn underlined
    this.textVersion = 0;     // counts the updates that changed the cells
    container.classList.add('kvx-block');
    this.oia = document.createElement('div');
    this.oia.className = 'kvx-oia';
    this.bar = options.keyBar || null;
    container.append(this.oia);
    if (this.bar) container.append(this.bar);
    this.grid.addEventListener('mousedown', (ev) => this.onPointer(ev));
    this.renderStatus();
  }

  applyUpdate(header, data) {
    if (!super.applyUpdate(header, data)) return false;
    this.textVersion++;
    const formatted = this.lo.some((lo) => (lo & FIELDATTR) !== 0);
    if (formatted !== this.formatted) {
      this.formatted = formatted;
      this.showFields();
    }
    return true;
  }

  // Draws the input fields underlined or not, as options.underlineInput()
  // now says.
  showFields() {
    const underlined = this.formatted && Boolean(this.options.underlineInput?.());
    if (underlined === this.underlined) return;
    this.underlined = underlined;
    this.dirty.fill(1);
    this.schedule();
  }

  // Whether position i (row * cols + column) takes typing.
  isInput(i) {
    return isInputCell(this.lo[i]);
  }

  draw() {
    super.draw();
    if (!this.awaiting) this.options.drawn?.();
  }

  // A click on a cell (without a selection being made) moves the cursor;
  // with Alt it starts a selection of columns instead.
  onPointer(ev) {
    if (ev.button !== 0 || ev.altKey || !this.options.click) return;
    const box = this.grid.getBoundingClientRect();
    const col = Math.floor(((ev.clientX - box.left) / box.width) * this.cols);
    const row = Math.floor(((ev.clientY - box.top) / box.height) * this.rows);
    if (row >= 0 && row < this.rows && col >= 0 && col < this.cols) this.options.click(row, col);
  }

  // The status line (parseStatusLine): the size of the screen, the
  // keyboard and the cursor.
  setStatus(s) {
    this.status = s;
    // Rows the host no longer uses go (no stale rows after 43 to 24).
    if (s.rows > 0 && s.cols > 0 && (s.rows !== this.rows || s.cols !== this.cols)) this.resize(s.rows, s.cols);
    this.renderStatus();
  }

  renderStatus() {
    const s = this.status;
    const parts = [];
    if (!s) {
      this.oia.textContent = '';
      return;
    }
    const cell = (text, cls) => {
      const span = document.createElement('span');
      span.className = cls;
      span.textContent = text;
      parts.push(span);
    };
    cell(s.model.replace(/^IBM-/, ''), 'kvx-oia-model');
    cell(s.link || this.sessionState(s.session), 'kvx-oia-link');
    // Who the station is on which host: the device (LU) name and host name.
    if (s.device || s.host) cell([s.device, s.host].filter(Boolean).join(' @ '), 'kvx-oia-identity');
    cell(s.keyboard, s.keyboard ? 'kvx-oia-kbd kvx-oia-inhibited' : 'kvx-oia-kbd');
    // 5250: the operator error code beside input inhibited, message waiting.
    if (s.error) cell(s.error, 'kvx-oia-error kvx-oia-inhibited');
    if (s.messageWaiting) cell('MW', 'kvx-oia-mw');
    // Keys typed ahead: waiting for the host to unlock the keyboard (or to
    // be connected at all).
    if (s.typeahead > 0) {
      cell(`TA ${s.typeahead}`, 'kvx-oia-typeahead');
      parts.at(-1).title = `${s.typeahead} key${s.typeahead === 1 ? '' : 's'} waiting for the host`;
    }
    cell(s.insert ? 'INS' : '', 'kvx-oia-ins');
    cell(`${String(s.row + 1).padStart(3, '0')}/${String(s.col + 1).padStart(3, '0')}`, 'kvx-oia-cursor');
    this.oia.replaceChildren(...parts);
    this.oia.dataset.keyboard = s.keyboard;
    this.oia.dataset.typeahead = String(s.typeahead || 0);
  }

  // What the page knows of the host ({ connected, connecting }): a status
  // line still saying CONNECTING after the connect failed says otherwise.
  setHostState(state) {
    this.hostState = state;
    this.renderStatus();
  }

  sessionState(session) {
    if (session === 'CONNECTING' && !this.hostState.connected && !this.hostState.connecting) return 'DISCONNECTED';
    return session;
  }

  bell() {
    this.container.classList.remove('kvx-bell');
    void this.container.offsetWidth;  // restarts the flash
    this.container.classList.add('kvx-bell');
  }
}

// What a 3270 keyboard makes of a keydown: the session maps these codes to
// the 3270 functions (Enter, PF1-PF24 as F1-F12 and Shift+F1-F12, PA keys,
// Clear, tabs, erase keys, insert, delete, reset, cursor keys, new line,
// dup and field mark; Attention on Pause, System Request on Shift+Pause or
// Alt+PrintScreen, Test Request on Ctrl+Pause, Cursor Select on
// Ctrl+Shift+Enter).
export function classifyBlock(ev) {
  const shift = ev.shiftKey;
  const ctrl = ev.ctrlKey && !ev.altKey;
  switch (ev.key) {
    case 'Enter':
      if (ev.location === 3) return { send: [key('KPENTER')] };
      if (shift && ctrl) return { send: [key('CURSEL')] };
      return { send: [shift || ctrl ? key('NEWLINE') : 13] };
    case 'CrSel':
      return { send: [key('CURSEL')] };
    case 'Escape':
      return { send: [key('RESET')] };
    case 'PageUp':
      return ctrl ? { browser: true } : { send: [key('F7')] };  // PF7, backward
    case 'PageDown':
      return ctrl ? { browser: true } : { send: [key('F8')] };  // PF8, forward
    case 'End':
      return { send: [key('ERASEEOF')] };
    case 'Delete':
      return { send: [ctrl ? key('ERASEINPUT') : key('DELETE')] };
    case 'Insert':
      if (shift) return { send: [key('DUP')] };
      break;
    case 'Home':
      if (shift) return { send: [key('FIELDMARK')] };
      break;
    case 'Pause':
      return { send: [key(shift ? 'SYSREQ' : 'ATTN')] };
    case 'Attn':
      return { send: [key('ATTN')] };
    case 'PrintScreen':  // with Alt: SysRq
      if (ev.altKey) return { send: [key('SYSREQ')] };
      break;
    case 'Cancel':  // Ctrl+Pause
      return { send: [key('TSTREQ')] };
    default:
      break;
  }
  return classify(ev);
}

