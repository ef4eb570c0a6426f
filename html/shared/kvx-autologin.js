// Automatic log-in of the browser application: the steps a person writes
// for a host (wait for a text, send a text, send the password, press a key,
// wait for a screen), the macro text the session plays from them, their
// storage per host in this browser, and the editor in the connect panel.
// The same steps serve every kind of host: on a 3270 or 5250 screen the
// session looks for awaited text on the screen and types what is sent.
//
// The password is never part of the steps or of what is stored: a password
// step makes the page ask for it when a session starts; it travels once, as
// a secret of the settings object, and the session keeps only a token.
import './keycodes.js';
import { PASSWORD_SECRET } from './kvx-hosts.js';

export const STEP_KINDS = Object.freeze([
  ['wait', 'Wait for text'],
  ['send', 'Send text and Enter'],
  ['type', 'Send text'],
  ['password', 'Send the password and Enter'],
  ['key', 'Press a key'],
  ['screen', 'Wait for text on the screen at'],
  ['hash', 'Wait for the 3270/5250 screen'],
  ['cursor', 'Put the 3270/5250 cursor at'],
  ['pause', 'Pause (seconds)'],
]);

// Keys a step can press, by the names of keycodes.js (and three characters).
export const KEYS = Object.freeze([
  'Enter', 'Tab', 'Escape', 'F1', 'F2', 'F3', 'F4', 'F5', 'F6', 'F7', 'F8', 'F9', 'F10', 'F11', 'F12',
  'PF1', 'PF2', 'PF3', 'PF4', 'PF5', 'PF6', 'PF7', 'PF8', 'PF9', 'PF10', 'PF11', 'PF12',
  'PA1', 'PA2', 'PA3', 'CLEAR', 'ATTN', 'SYSREQ', 'FIELDEXIT', 'RESET',
]);

const CHARACTER_KEYS = { Enter: 13, Tab: 9, Escape: 27 };
const MAX_STEPS = 50;
const MAX_TEXT = 200;
const STORE = 'kavrix.autologin';

// The code a key step sends (a Unicode value), or undefined.
export function keyCode(name) {
  if (name in CHARACTER_KEYS) return CHARACTER_KEYS[name];
  return globalThis.KvxKeyCodes?.codePoint(name);
}

function text(value) {
  // One line of printable text: control characters would end or break it.
  return String(value ?? '').replace(/[\u0000-\u001f\u007f]/g, '').slice(0, MAX_TEXT);
}

function cell(value, max) {
  const n = Number(value);
  return Number.isInteger(n) && n >= 1 && n <= max ? n : 1;
}

// A step as stored: { kind, text } with { row, col } for screen steps.
export function normalizeStep(step = {}) {
  const kind = STEP_KINDS.some(([k]) => k === step.kind) ? step.kind : 'wait';
  switch (kind) {
    case 'password':
      return { kind };
    case 'key':
      return { kind, text: KEYS.includes(step.text) ? step.text : 'Enter' };
    case 'pause': {
      const seconds = Number(step.text);
      return { kind, text: String(Number.isInteger(seconds) && seconds > 0 ? Math.min(seconds, 60) : 1) };
    }
    case 'hash':
      return { kind, text: String(step.text ?? '').trim().toLowerCase().replace(/[^0-9a-f]/g, '').slice(0, 36) };
    case 'screen':
      return { kind, text: text(step.text), row: cell(step.row, 250), col: cell(step.col, 132) };
    case 'cursor':
      return { kind, row: cell(step.row, 250), col: cell(step.col, 132) };
    default:
      return { kind, text: text(step.text) };
  }
}

// Steps that do something; empty texts and unknown kinds are dropped.
export function normalizeSteps(steps) {
  if (!Array.isArray(steps)) return [];
  return steps.slice(0, MAX_STEPS).map(normalizeStep).filter(
    (s) => ['password', 'key', 'pause', 'cursor'].includes(s.kind) || s.text !== '');
}

export function needsPassword(steps) {
  return normalizeSteps(steps).some((s) => s.kind === 'password');
}

// A text in the macro's escape notation: the notation's own characters are
// escaped, and leading blanks kept (a line's arguments start after them).
export function escapeText(value) {
  const escaped = text(value).replace(/[\\^]/g, (c) => `\\${c}`);
  return escaped.replace(/^ +/, (blanks) => '\\x20'.repeat(blanks.length));
}

// The macro text for the steps: one conversation, each step after the one
// before it.  `rowsFromBottom`, the row count of a 5250 screen, makes cursor
// rows count from the bottom as the session takes them there.
export function macroForSteps(steps, { rowsFromBottom = 0 } = {}) {
  const lines = ['E 1'];
  for (const s of normalizeSteps(steps)) {
    switch (s.kind) {
      case 'wait': lines.push(`w ${escapeText(s.text)}`); break;
      case 'send': lines.push(`t ${escapeText(s.text)}^M`); break;
      case 'type': lines.push(`t ${escapeText(s.text)}`); break;
      case 'password': lines.push('p'); break;
      case 'key': {
        const code = keyCode(s.text);
        if (code !== undefined) lines.push(`k ${code} (${s.text})`);
        break;
      }
      case 'pause': lines.push(`n ${s.text}`); break;
      case 'screen': {
        // Compared as it stands (no escapes); leading blanks move the column.
        const shown = s.text.replace(/^ +/, '');
        if (shown) lines.push(`a ${s.col - 1 + s.text.length - shown.length} ${s.row - 1} ${shown}`);
        break;
      }
      case 'hash': lines.push(`h ${s.text}`); break;
      case 'cursor': {
        const row = rowsFromBottom > 0 ? Math.max(rowsFromBottom - s.row, 0) : s.row - 1;
        lines.push(`c ${s.col - 1} ${row}`);
        break;
      }
      default: break;
    }
  }
  return lines.length > 1 ? `${lines.join('\n')}\n` : '';
}

// ---- storage: { enabled, steps } per host ----

// The host a log-in belongs to: protocol, host name and port.
export function hostKey(choice) {
  return `${Number(choice.commtype)}|${String(choice.node || '').toLowerCase()}|${Number(choice.port) || 0}`;
}

function readStore() {
  try {
    const all = JSON.parse(localStorage.getItem(STORE) || '{}');
    return all && typeof all === 'object' && !Array.isArray(all) ? all : {};
  } catch {
    return {};
  }
}

export function loadLogin(choice) {
  const saved = readStore()[hostKey(choice)];
  return { enabled: Boolean(saved?.enabled), steps: normalizeSteps(saved?.steps) };
}

export function saveLogin(choice, login) {
  const all = readStore();
  const steps = normalizeSteps(login.steps);
  if (steps.length) all[hostKey(choice)] = { enabled: Boolean(login.enabled), steps };
  else delete all[hostKey(choice)];
  localStorage.setItem(STORE, JSON.stringify(all));
}

// The log-in settings for a host ("kcf" members), or {} without one; the
// password as a secret that the macro's password steps refer to.  `screen`
// as for macroForSteps.
export function kcfForLogin(login, password = '', screen = {}) {
  const macro = login?.enabled ? macroForSteps(login.steps, screen) : '';
  if (!macro) return {};
  const kcf = { autologin: 1, autologinMacroHash: macro };
  if (password && needsPassword(login.steps)) {
    kcf.passwordHash = PASSWORD_SECRET;
    kcf.secureKeys = { [PASSWORD_SECRET]: password };
  }
  return kcf;
}

// ---- the editor ----

function el(tag, props = {}, children = []) {
  const node = document.createElement(tag);
  Object.assign(node, props);
  for (const child of children) node.append(child);
  return node;
}

// The step list of the connect panel inside `root`: a box that turns the
// log-in on, one row per step (kind, text, row and column for screen
// steps, remove) and a button that adds a step.
export class LoginEditor {
  constructor(root) {
    this.root = root;
    this.enabled = el('input', { type: 'checkbox', id: 'autologin-enabled' });
    this.list = el('ol', { className: 'kvx-login-steps' });
    const add = el('button', { type: 'button', textContent: 'Add step', id: 'autologin-add' });
    add.addEventListener('click', () => {
      this.addRow({ kind: this.list.children.length ? 'send' : 'wait', text: '' }).querySelector('input')?.focus();
      this.enabled.checked = true;
    });
    root.replaceChildren(
      el('legend', {}, [el('label', { className: 'check' }, [this.enabled, ' Log in automatically'])]),
      this.list, add);
  }

  addRow(step) {
    const s = normalizeStep(step);
    const kind = el('select', { className: 'kvx-login-kind', ariaLabel: 'Step' });
    for (const [k, label] of STEP_KINDS) kind.append(new Option(label, k));
    kind.value = s.kind;
    const value = el('input', { type: 'text', className: 'kvx-login-text', spellcheck: false, ariaLabel: 'Text' });
    value.value = s.text ?? '';
    const key = el('select', { className: 'kvx-login-key', ariaLabel: 'Key' });
    for (const name of KEYS) key.append(new Option(name, name));
    if (s.kind === 'key') key.value = s.text;
    const row = el('input', { type: 'number', min: 1, max: 250, className: 'kvx-login-row', ariaLabel: 'Row' });
    const col = el('input', { type: 'number', min: 1, max: 132, className: 'kvx-login-col', ariaLabel: 'Column' });
    row.value = String(s.row ?? 1);
    col.value = String(s.col ?? 1);
    const remove = el('button', { type: 'button', textContent: '×', className: 'kvx-login-remove', ariaLabel: 'Remove step' });
    const item = el('li', {}, [kind, row, col, value, key, remove]);
    const show = () => {
      const k = kind.value;
      value.hidden = k === 'password' || k === 'key' || k === 'cursor';
      key.hidden = k !== 'key';
      row.hidden = col.hidden = k !== 'screen' && k !== 'cursor';
      value.placeholder = k === 'pause' ? 'seconds' : k === 'hash' ? 'screen hash' : '';
    };
    kind.addEventListener('change', show);
    remove.addEventListener('click', () => item.remove());
    show();
    this.list.append(item);
    return item;
  }

  // Shows a host's log-in.
  fill(login) {
    this.enabled.checked = Boolean(login.enabled);
    this.list.replaceChildren();
    for (const step of login.steps) this.addRow(step);
  }

  // The log-in as edited.
  read() {
    const steps = [...this.list.children].map((item) => {
      const kind = item.querySelector('.kvx-login-kind').value;
      return {
        kind,
        text: kind === 'key' ? item.querySelector('.kvx-login-key').value : item.querySelector('.kvx-login-text').value,
        row: item.querySelector('.kvx-login-row').value,
        col: item.querySelector('.kvx-login-col').value,
      };
    });
    return { enabled: this.enabled.checked, steps: normalizeSteps(steps) };
  }
}
