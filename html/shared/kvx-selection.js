// Selecting the screen's text with the mouse: drag over cells, double-click
// for a word, triple-click for a whole line (wrapped rows included),
// Shift+click to extend, Alt+drag for a block of columns (a 3270 or 5250
// screen is columns).  The screen draws the selection; `onSelect(text)`
// gets its text (as the screen shows it) when the button comes up.

export class Selection {
  constructor(screen, element, { onSelect } = {}) {
    this.screen = screen;
    this.element = element;
    this.onSelect = onSelect;
    this.anchor = null;  // the range the selection grows from
    this.dragging = false;
    this.moved = false;
    this.rect = false;    // selecting columns (Alt+drag)
    this.onMove = (ev) => this.move(ev);
    this.onUp = (ev) => this.up(ev);
    element.classList.add('kvx-own-selection');
    element.addEventListener('mousedown', (ev) => this.down(ev));
  }

  down(ev) {
    if (ev.button !== 0) return;
    ev.preventDefault();  // no native selection; the keyboard keeps the focus
    const screen = this.screen;
    const cell = screen.cellAt(ev.clientX, ev.clientY);
    this.rect = ev.altKey && !ev.shiftKey;
    if (this.rect) {
      this.anchor = { start: cell, end: cell };
    } else if (ev.detail >= 3) {
      this.anchor = screen.lineAt(cell.y);
    } else if (ev.detail === 2) {
      this.anchor = screen.wordAt(cell);
    } else if (ev.shiftKey && screen.selection) {
      this.anchor = { start: screen.selection.start, end: screen.selection.start };
    } else {
      this.anchor = { start: cell, end: cell };
    }
    this.moved = ev.detail >= 2 || ev.shiftKey;
    if (this.moved) this.extend(cell);
    else screen.clearSelection();
    this.dragging = true;
    window.addEventListener('mousemove', this.onMove);
    window.addEventListener('mouseup', this.onUp);
  }

  // The selection from the anchor to `cell`, whichever side it lies; a
  // cell inside the anchor (a word, a line) selects the anchor.
  extend(cell) {
    const { start, end } = this.anchor;
    if (this.rect) {
      this.screen.setSelection({ start, end: cell, rect: true });
      return;
    }
    const before = (a, b) => a.y < b.y || (a.y === b.y && a.x < b.x);
    if (before(cell, start)) this.screen.setSelection({ start: cell, end });
    else if (before(end, cell)) this.screen.setSelection({ start, end: cell });
    else this.screen.setSelection({ start, end });
  }

  move(ev) {
    if (!this.dragging) return;
    const cell = this.screen.cellAt(ev.clientX, ev.clientY);
    const { start } = this.anchor;
    if (!this.moved && cell.x === start.x && cell.y === start.y) return;
    this.moved = true;
    this.extend(cell);
  }

  up() {
    if (!this.dragging) return;
    this.dragging = false;
    window.removeEventListener('mousemove', this.onMove);
    window.removeEventListener('mouseup', this.onUp);
    const text = this.moved ? this.screen.selectionText() : '';
    if (text) this.onSelect?.(text);
  }
}
