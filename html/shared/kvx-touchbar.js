// The touch key bar of phones and tablets, shown above the on-screen
// keyboard: the keys an on-screen keyboard lacks, in two lines that scroll
// sideways.  On a 3270 or 5250 screen the station keys (kvx-keymap.js) and
// the function keys in pages of twelve; on a character terminal Esc, Tab,
// the arrows and the other editing keys, F1-F12, and Ctrl and Alt, which
// stay down for the next key typed or tapped (the keyboard applies them:
// kvx-keyboard.js).  The buttons never take the focus from the typing area,
// so the on-screen keyboard stays open.  The buttons other parts of the
// page add to the key bars (addKeyBarButton) come after the station keys.
import { TOUCH_BAR, TOUCH_CHARACTER, TOUCH_CHARACTER_F, barKeys, functionKey, keyTitle } from './kvx-keymap.js';
import { barButton, keyBarExtras, onKeyBarExtras } from './kvx-keybar.js';

export class TouchBar {
  // `send(code)` sends a station key; `press(init)` presses a keyboard key
  // ({ key }) through the page's keyboard; `keyboard` holds the sticky
  // modifiers; `help()` opens the key help; `type()` opens the on-screen
  // keyboard.
  constructor(element, { send, press, keyboard, help, type }) {
    this.element = element;
    this.send = send;
    this.press = press;
    this.keyboard = keyboard;
    this.help = help;
    this.type = type;
    this.kind = '';
    this.page = 0;  // function keys 1-12, or 13-24
    element.classList.add('kvx-touchbar');
    element.setAttribute('role', 'toolbar');
    element.setAttribute('aria-label', 'Touch keys');
    onKeyBarExtras(() => this.render());
  }

  // The keys of a kind of terminal ('3270', '5250' or 'character') and the
  // keyboard whose sticky modifiers the bar sets.
  setKind(kind, keyboard = this.keyboard) {
    this.kind = kind;
    this.keyboard = keyboard;
    this.page = 0;
    if (keyboard) keyboard.onSticky = () => this.showSticky();
    this.render();
  }

  render() {
    const keys = document.createElement('div');
    keys.className = 'kvx-touch-row';
    const fns = document.createElement('div');
    fns.className = 'kvx-touch-row';
    const typing = barButton('\u2328', 'Keyboard', () => this.type?.());
    typing.setAttribute('aria-label', 'Keyboard');
    const help = barButton('?', 'Key help', () => this.help?.());
    help.setAttribute('aria-label', 'Key help');
    if (this.kind === '3270' || this.kind === '5250') {
      for (const k of barKeys(this.kind, TOUCH_BAR[this.kind])) keys.append(this.stationButton(k));
      for (const extra of keyBarExtras(this.kind)) {
        const button = barButton(extra.label, extra.title, () => extra.onClick());
        button.dataset.extra = extra.id;
        keys.append(button);
      }
      const other = this.page ? 1 : 13;
      const pageButton = barButton(`${this.kind === '3270' ? 'PF' : 'F'}${other}\u2013${other + 11}`,
        'Other function keys', () => {
          this.page = this.page ? 0 : 1;
          this.render();
        });
      pageButton.className = 'kvx-touch-page';
      fns.append(pageButton);
      for (let n = 1; n <= 12; n++) fns.append(this.stationButton(functionKey(this.kind, n + 12 * this.page)));
    } else {
      for (const t of TOUCH_CHARACTER) {
        if (t.modifier) {
          const button = barButton(t.label, `${t.label}: with the next key`, () => {
            if (!this.keyboard) return;
            this.keyboard.sticky[t.modifier] = !this.keyboard.sticky[t.modifier];
            this.showSticky();
          });
          button.dataset.modifier = t.modifier;
          button.setAttribute('aria-pressed', 'false');
          keys.append(button);
        } else {
          keys.append(this.keyButton(t));
        }
      }
      for (const t of TOUCH_CHARACTER_F) fns.append(this.keyButton(t));
    }
    keys.prepend(typing);
    fns.append(help);
    this.element.replaceChildren(keys, fns);
    this.showSticky();
  }

  stationButton(k) {
    const button = barButton(k.label, keyTitle(k), () => this.send(k.code));
    button.dataset.key = k.name;
    return button;
  }

  keyButton(t) {
    const button = barButton(t.label, t.title || t.label, () => this.press({ key: t.key }));
    button.dataset.key = t.key;
    return button;
  }

  showSticky() {
    for (const button of this.element.querySelectorAll('[data-modifier]')) {
      const on = Boolean(this.keyboard?.sticky[button.dataset.modifier]);
      button.setAttribute('aria-pressed', String(on));
    }
  }
}
