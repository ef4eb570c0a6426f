// The cursor's look: a block, an underline or a bar, blinking or steady,
// by the numbers of DECSCUSR (CSI Ps SP q): 1 blinking block, 2 steady
// block, 3 blinking underline, 4 steady underline, 5 blinking bar, 6
// steady bar.  The style a host asks for wins over the person's setting
// (kvx-prefs.js cursorStyle) until the host asks for 0, its default; the
// setting wins over the page's default, a blinking block.

const SHAPES = ['block', 'block', 'underline', 'underline', 'bar', 'bar'];

// { shape, blink, from: 'host' | 'setting' | 'default' } for the host's
// style (0 when it asked for none) and the setting's (0: the default).
export function cursorLook(host, chosen) {
  const valid = (n) => Number.isInteger(n) && n >= 1 && n <= 6;
  const from = valid(host) ? 'host' : valid(chosen) ? 'setting' : 'default';
  const style = from === 'host' ? host : from === 'setting' ? chosen : 1;
  return { shape: SHAPES[style - 1], blink: style % 2 === 1, from };
}

// Marks the look on the terminal element, where the style sheet draws it.
export function showCursorLook(el, look) {
  el.dataset.cursorShape = look.shape;
  el.dataset.cursorBlink = look.blink ? '1' : '0';
  el.dataset.cursorFrom = look.from;
}
