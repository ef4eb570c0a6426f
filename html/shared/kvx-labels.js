// The status and label lines that some terminals (Wyse, Televideo, ADDS)
// keep apart from their screen, drawn under it from the session's LABELS
// frames: the status line (which also holds the function-key labels), and,
// while Shift is held, the labels of the shifted function keys instead when
// the host wrote any.  The cells are those of the screen's update frames,
// drawn by a one-row Screen.
import { Screen } from './kvx-screen.js';

export class LabelLines {
  constructor(container) {
    this.container = container;
    this.container.hidden = true;
    this.lines = {};
    this.shift = false;
    this.screen = null;
    const onShift = (down) => (ev) => {
      if (ev.key === 'Shift' && this.shift !== down) {
        this.shift = down;
        this.draw();
      }
    };
    addEventListener('keydown', onShift(true), true);
    addEventListener('keyup', onShift(false), true);
    addEventListener('blur', () => onShift(false)({ key: 'Shift' }));
  }

  // One LABELS frame: the names of the lines, their cells one row each.
  // False when the data does not split into the lines named.
  apply(fields, data) {
    const names = fields.filter((f) => f !== '');
    this.lines = {};
    if (names.length && (data.length === 0 || data.length % (8 * names.length) !== 0)) return false;
    const size = names.length ? data.length / names.length : 0;
    names.forEach((name, i) => { this.lines[name] = data.slice(i * size, (i + 1) * size); });
    this.draw();
    return true;
  }

  // The line shown now, or null.
  shown() {
    return (this.shift && this.lines.shifted) || this.lines.status || null;
  }

  text() {
    return this.shown() && this.screen ? this.screen.text() : '';
  }

  draw() {
    const line = this.shown();
    this.container.hidden = !line;
    if (!line) return;
    const cols = line.length / 8;
    if (!this.screen || this.screen.cols !== cols) {
      this.screen = new Screen(this.container, 1, cols);
      this.screen.setCursor(0, 0, false);
    }
    this.screen.applyUpdate(`0:0:${cols - 1}:0`, line);
  }
}
