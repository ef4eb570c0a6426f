// The key bar under a block-mode screen on a desktop: buttons for the
// station keys a PC keyboard lacks or hides (kvx-keymap.js says which),
// each with a tooltip naming its keyboard key ("PF3 — F3").  The row of
// function keys shows PF1-PF12; while Shift is held it shows and sends
// PF13-PF24, as Shift with F1-F12 does.  A button at the end opens the key
// help.
//
// Other parts of the page add their own buttons with addKeyBarButton
// (printing adds "Print screen"): every bar made after, and every bar shown
// now, carries them, and so does the touch bar (kvx-touchbar.js).
import { DESKTOP_BAR, PF, barKeys, functionKey, keyTitle } from './kvx-keymap.js';

const extras = [];
const bars = new Set();

// Adds a button to the key bars of the kinds named:
//   { id, label, title, kinds: ['3270', '5250'] (default both), onClick() }
// A button with the id of one added before replaces it.
export function addKeyBarButton(button) {
  const i = extras.findIndex((b) => b.id === button.id);
  if (i >= 0) extras.splice(i, 1, button);
  else extras.push(button);
  for (const bar of bars) bar.render();
}

// The buttons added for a kind of screen, in the order they were added.
export function keyBarExtras(kind) {
  return extras.filter((b) => !b.kinds || b.kinds.includes(kind));
}

// Tells `listener()` whenever the buttons change (a touch bar shown now).
export function onKeyBarExtras(listener) {
  bars.add({ render: listener });
}

// A button that presses without taking the focus from the terminal's
// typing area (and without starting a selection on the screen under it).
export function barButton(label, title, onPress) {
  const button = document.createElement('button');
  button.type = 'button';
  button.textContent = label;
  if (title) button.title = title;
  button.addEventListener('mousedown', (ev) => {
    ev.preventDefault();
    ev.stopPropagation();
  });
  button.addEventListener('click', (ev) => onPress(ev));
  return button;
}

export class KeyBar {
  // `kind` '3270' or '5250'; `send(code)` sends a key; `help()` opens the
  // key help.
  constructor(kind, { send, help }) {
    this.kind = kind;
    this.send = send;
    this.help = help;
    this.shift = false;
    this.element = document.createElement('div');
    this.element.className = 'kvx-keybar';
    this.element.setAttribute('role', 'toolbar');
    this.element.setAttribute('aria-label', 'Station keys');
    this.stop = new AbortController();
    const onShift = (down) => (ev) => {
      if (ev.key === 'Shift' && this.shift !== down) this.setShift(down);
    };
    const own = { signal: this.stop.signal, capture: true };
    addEventListener('keydown', onShift(true), own);
    addEventListener('keyup', onShift(false), own);
    addEventListener('blur', () => this.setShift(false), { signal: this.stop.signal });
    bars.add(this);
    this.render();
  }

  dispose() {
    this.stop.abort();
    bars.delete(this);
    this.element.remove();
  }

  render() {
    const buttons = [];
    for (const k of barKeys(this.kind, DESKTOP_BAR[this.kind])) {
      if (k === PF) {
        for (let n = 1; n <= 12; n++) buttons.push(this.functionButton(n));
        continue;
      }
      const button = barButton(k.label, keyTitle(k), () => this.send(k.code));
      button.dataset.key = k.name;
      buttons.push(button);
    }
    for (const extra of keyBarExtras(this.kind)) {
      const button = barButton(extra.label, extra.title, () => extra.onClick());
      button.dataset.extra = extra.id;
      buttons.push(button);
    }
    const help = barButton('?', 'Keys of this station and the page', () => this.help?.());
    help.className = 'kvx-keybar-help';
    help.setAttribute('aria-label', 'Key help');
    buttons.push(help);
    this.element.replaceChildren(...buttons);
    this.showShift();
  }

  // Function key n (1-12) of the bar: n + 12 with Shift.
  functionButton(n) {
    const button = barButton('', '', (ev) => {
      const k = functionKey(this.kind, n + (ev.shiftKey || this.shift ? 12 : 0));
      this.send(k.code);
    });
    button.dataset.key = `PF${n}`;
    button.dataset.shiftKey = `PF${n + 12}`;
    button.classList.add('kvx-pf');
    return button;
  }

  setShift(down) {
    this.shift = down;
    this.showShift();
  }

  showShift() {
    this.element.classList.toggle('kvx-shift', this.shift);
    for (const button of this.element.querySelectorAll('.kvx-pf')) {
      const k = functionKey(this.kind, Number(button.dataset.key.slice(2)) + (this.shift ? 12 : 0));
      button.textContent = k.label;
      button.title = keyTitle(k);
    }
  }
}
