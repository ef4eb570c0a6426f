// The terminal screen in the page: the 64-bit cells of the update frames
// kept as two 32-bit halves, drawn as one DOM row of text per screen row
// (runs of equal attributes in spans, wide characters in cells two columns
// wide), only the rows an update touched, at most once per animation frame;
// the cursor drawn over its cell, the selection over the cells it covers.
//
// Cell layout (little-endian 64 bits): bits 0-7 the host byte, 16 invisible,
// 20 bold, 21 underline, 22 blink, 23 reverse, 24-27 foreground and 28-31
// background (PC colour order), 32-62 the Unicode character, 63 set when
// bits 32-62 hold it.  Line attributes, one byte per row: low nibble 0
// single width, 1 double width, 2 and 3 the upper and lower half of double
// height; 0x40 the row wrapped into the next.

export const PC_COLOURS = Object.freeze([
  '#000000', '#0000aa', '#00aa00', '#00aaaa', '#aa0000', '#aa00aa', '#aa5500', '#aaaaaa',
  '#555555', '#5555ff', '#55ff55', '#55ffff', '#ff5555', '#ff55ff', '#ffff55', '#ffffff',
]);

const INVISIBLE = 0x10000;
const BOLD = 0x100000;
const UNDERLINE = 0x200000;
const BLINK = 0x400000;
const REVERSE = 0x800000;
const STYLE_BITS = INVISIBLE | BOLD | UNDERLINE | BLINK | REVERSE | 0xff000000;
const DEFAULT_COLOURS = 0xff;  // the host's default text and background

export const LINE_WIDTH = 0x0f;
export const LINE_WRAPPED = 0x40;
const LINE_CLASSES = ['', 'dw', 'dh-top', 'dh-bottom'];

const ESCAPES = { '&': '&amp;', '<': '&lt;', '>': '&gt;' };

// Colours 0xff: the host left them at their defaults, drawn in the colour
// scheme's default text and background ('fd', 'gd'; swapped 'f-bg' and
// 'g-fg').
function spanClass(style) {
  const colours = (style >>> 24) & 0xff;
  let fg = colours === DEFAULT_COLOURS ? 'd' : colours & 15;
  let bg = colours === DEFAULT_COLOURS ? 'd' : colours >> 4;
  if (style & REVERSE) [fg, bg] = [bg === 'd' ? '-bg' : bg, fg === 'd' ? '-fg' : fg];
  if (style & INVISIBLE) fg = bg === 'd' ? '-bg' : bg === '-fg' ? 'd' : bg;
  let cls = `f${fg} g${bg}`;
  if (style & BOLD) cls += ' b';
  if (style & UNDERLINE) cls += ' u';
  if (style & BLINK) cls += ' k';
  return cls;
}

// How the cells of a screen are drawn: the hooks of the one row renderer
// (rowHtml) and of the text (rowChars).  A block-mode screen has its own
// (kvx-block.js).
//   styleBits        the bits that split a row into runs of one look
//   runClass(style)  the classes of such a run
//   blankDrawn       bits that draw a cell as a blank
//   blankText        bits that make a cell a blank in the text (and in
//                    what a selection copies)
//   wide             wide characters fill two cells, the right one empty
export const CHARACTER_CELLS = Object.freeze({
  styleBits: STYLE_BITS,
  runClass: spanClass,
  blankDrawn: 0,
  blankText: INVISIBLE,  // drawn in the background colour instead
  wide: true,
});

// Characters that take two columns (East Asian wide and emoji blocks).
export function isWide(cp) {
  return (cp >= 0x1100 && cp <= 0x115f) || (cp >= 0x2e80 && cp <= 0xa4cf) || (cp >= 0xac00 && cp <= 0xd7a3) ||
    (cp >= 0xf900 && cp <= 0xfaff) || (cp >= 0xfe30 && cp <= 0xfe4f) || (cp >= 0xff00 && cp <= 0xff60) ||
    (cp >= 0xffe0 && cp <= 0xffe6) || (cp >= 0x1f300 && cp <= 0x1faff) || (cp >= 0x20000 && cp <= 0x3fffd);
}

// A selection from `start` to `end` ({ x, y } cells, both inclusive) in
// reading order.
export function orderRange(a, b) {
  return a.y < b.y || (a.y === b.y && a.x <= b.x) ? { start: a, end: b } : { start: b, end: a };
}

// A selection of columns: the rectangle with corners a and b, as its top
// left and bottom right cells.
export function rectRange(a, b) {
  return {
    start: { x: Math.min(a.x, b.x), y: Math.min(a.y, b.y) },
    end: { x: Math.max(a.x, b.x), y: Math.max(a.y, b.y) },
    rect: true,
  };
}

export class Screen {
  constructor(container, rows, cols) {
    this.container = container;
    this.cells = CHARACTER_CELLS;
    this.grid = document.createElement('div');
    this.grid.className = 'kvx-grid';
    this.selectionEl = document.createElement('div');
    this.selectionEl.className = 'kvx-selection';
    this.cursorEl = document.createElement('div');
    this.cursorEl.className = 'kvx-cursor';
    container.replaceChildren(this.grid, this.selectionEl, this.cursorEl);
    // Where the session assumes a new browser's cursor to be until it moves.
    this.cursor = { x: 0, y: 0, visible: true };
    this.updates = 0;
    this.frameRequested = false;
    this.cursorDirty = true;
    this.selection = null;  // { start, end } in reading order, or null
    this.selectionDirty = false;
    this.back = false;      // showing the scrollback: no cursor
    this.awaiting = 0;      // rows a shift left blank that updates are on their way to fill
    this.awaitTimer = null;
    this.resize(rows, cols);
  }

  resize(rows, cols) {
    const oldRows = this.rows || 0;
    const oldCols = this.cols || 0;
    if (rows === oldRows && cols === oldCols) return;
    const lo = new Uint32Array(rows * cols);
    const hi = new Uint32Array(rows * cols);
    for (let y = 0; y < Math.min(rows, oldRows); y++) {
      for (let x = 0; x < Math.min(cols, oldCols); x++) {
        lo[y * cols + x] = this.lo[y * oldCols + x];
        hi[y * cols + x] = this.hi[y * oldCols + x];
      }
    }
    const lines = new Uint8Array(rows);
    if (this.lines) lines.set(this.lines.subarray(0, Math.min(rows, oldRows)));
    this.rows = rows;
    this.cols = cols;
    this.lo = lo;
    this.hi = hi;
    this.lines = lines;
    while (this.grid.children.length > rows) this.grid.lastChild.remove();
    while (this.grid.children.length < rows) this.grid.appendChild(this.newRow());
    this.dirty = new Uint8Array(rows).fill(1);
    this.expected = new Uint8Array(rows);
    this.awaiting = 0;
    this.domShift = 0;  // DOM rows to move with the next drawing
    this.container.style.setProperty('--kvx-cols', cols);
    this.container.style.setProperty('--kvx-rows', rows);
    this.clearSelection();
    this.cursorDirty = true;
    this.schedule();
  }

  newRow() {
    const row = document.createElement('div');
    row.className = 'kvx-row';
    return row;
  }

  // One update frame: header "left:bottom:right:top" and the cells, row by
  // row.  False when the frame does not describe a rectangle of cells.
  applyUpdate(header, data) {
    const parts = String(header).split(':').map(Number);
    if (parts.length !== 4 || parts.some((v) => !Number.isInteger(v) || v < 0)) return false;
    const [left, bottom, right, top] = parts;
    if (right < left || bottom < top) return false;
    const width = right - left + 1;
    const height = bottom - top + 1;
    if (data.length !== width * height * 8) return false;
    if (bottom >= this.rows || right >= this.cols) {
      this.resize(Math.max(this.rows, bottom + 1), Math.max(this.cols, right + 1));
    }
    const view = new DataView(data.buffer, data.byteOffset, data.byteLength);
    let off = 0;
    for (let y = top; y <= bottom; y++) {
      let i = y * this.cols + left;
      for (let x = 0; x < width; x++, i++, off += 8) {
        this.lo[i] = view.getUint32(off, true);
        this.hi[i] = view.getUint32(off + 4, true);
      }
      this.dirty[y] = 1;
      if (this.expected[y]) {
        this.expected[y] = 0;
        this.awaiting--;
      }
    }
    this.updates++;
    this.schedule();
    return true;
  }

  // Line attributes of the rows from `first` on, one byte each.
  setLines(first, data) {
    if (!Number.isInteger(first) || first < 0) return false;
    for (let i = 0; i < data.length && first + i < this.rows; i++) {
      if (this.lines[first + i] === data[i]) continue;
      this.lines[first + i] = data[i];
      this.dirty[first + i] = 1;
    }
    this.schedule();
    return true;
  }

  // The cells move down by `delta` rows (up when negative): the rows that
  // come in are blank until the updates that follow fill them, and nothing
  // is drawn until they have (so no blank rows flash).  The DOM rows move
  // along when the screen is next drawn, so that only the new ones are
  // drawn and the page stays untouched until then.
  shift(delta) {
    if (!delta) return;
    const { rows, cols } = this;
    const from = delta > 0 ? 0 : Math.max(0, rows + delta);
    const to = delta > 0 ? Math.min(rows, delta) : rows;
    this.expected.fill(0);
    this.expected.fill(1, from, to);
    this.awaiting = to - from;
    clearTimeout(this.awaitTimer);
    // Should the rows not come (a dropped channel), the screen is drawn anyway.
    this.awaitTimer = setTimeout(() => {
      this.expected.fill(0);
      this.awaiting = 0;
      this.schedule();
    }, 250);
    if (Math.abs(delta) >= rows) {
      this.lo.fill(0);
      this.hi.fill(0);
      this.lines.fill(0);
      this.dirty.fill(1);
    } else if (delta > 0) {
      this.lo.copyWithin(delta * cols, 0, (rows - delta) * cols);
      this.hi.copyWithin(delta * cols, 0, (rows - delta) * cols);
      this.lo.fill(0, 0, delta * cols);
      this.hi.fill(0, 0, delta * cols);
      this.lines.copyWithin(delta, 0, rows - delta);
      this.lines.fill(0, 0, delta);
      this.dirty.copyWithin(delta, 0, rows - delta);
      this.dirty.fill(1, 0, delta);
      this.domShift += delta;
    } else {
      const d = -delta;
      this.lo.copyWithin(0, d * cols);
      this.hi.copyWithin(0, d * cols);
      this.lo.fill(0, (rows - d) * cols);
      this.hi.fill(0, (rows - d) * cols);
      this.lines.copyWithin(0, d);
      this.lines.fill(0, rows - d);
      this.dirty.copyWithin(0, d);
      this.dirty.fill(1, rows - d);
      this.domShift -= d;
    }
    if (this.selection) {
      const move = (p) => ({ x: p.x, y: p.y + delta });
      const { rect } = this.selection;
      const start = move(this.selection.start);
      const end = move(this.selection.end);
      if (end.y < 0 || start.y >= rows) this.selection = null;
      else if (rect) this.selection = rectRange({ x: start.x, y: Math.max(start.y, 0) },
        { x: end.x, y: Math.min(end.y, rows - 1) });
      else this.selection = { start: start.y < 0 ? { x: 0, y: 0 } : start,
        end: end.y >= rows ? { x: cols - 1, y: rows - 1 } : end };
      this.selectionDirty = true;
    }
    // The updates on their way schedule the drawing: asking for a frame now
    // could have the browser wait for it before it takes them in.
    if (!this.awaiting) this.schedule();
  }

  // No rows are awaited after a shift: what the screen holds is whole.
  get settled() {
    return this.awaiting === 0;
  }

  // A new channel starts from the session's assumption about a new browser.
  resetCursor() {
    this.setCursor(0, 0, true);
  }

  setCursor(x, y, visible) {
    this.cursor = { x, y, visible };
    this.cursorDirty = true;
    this.schedule();
  }

  // While the scrollback is shown there is no cursor to show.
  setBack(back) {
    if (this.back === back) return;
    this.back = back;
    this.cursorDirty = true;
    if (!this.awaiting) this.schedule();
  }

  // The character of a cell; 0 for the right half of a wide character (a
  // cell whose own 32 bits are all clear).
  codePoint(i) {
    if (this.lo[i] === 0) return 0;
    const hi = this.hi[i];
    if (hi & 0x80000000) return hi & 0x7fffffff;
    return this.lo[i] & 0xff;
  }

  // Characters of columns `from` to `to` of row y as shown: one per cell, a
  // wide character once, invisible cells and controls as blanks.
  rowChars(y, from = 0, to = this.cols - 1) {
    const { blankText, wide } = this.cells;
    let s = '';
    for (let x = from, i = y * this.cols + from; x <= to; x++, i++) {
      const cp = this.codePoint(i);
      if (wide && cp === 0 && x > 0 && isWide(this.codePoint(i - 1))) continue;
      s += cp < 0x20 || (this.lo[i] & blankText) ? ' ' : String.fromCodePoint(cp);
    }
    return s;
  }

  // The row as text, trailing blanks kept.
  rowText(y) {
    return this.rowChars(y);
  }

  text() {
    const rows = [];
    for (let y = 0; y < this.rows; y++) rows.push(this.rowText(y).replace(/\s+$/, ''));
    return rows.join('\n');
  }

  // The text of a selection as the screen shows it: each row's trailing
  // blanks trimmed, rows that wrapped joined to the next without a break;
  // of a selection of columns, the columns of each row, one row a line.
  textOf(range) {
    if (!range) return '';
    const { start, end } = range;
    if (range.rect) {
      const lines = [];
      for (let y = start.y; y <= end.y; y++) lines.push(this.rowChars(y, start.x, end.x).replace(/\s+$/, ''));
      return lines.join('\n');
    }
    let out = '';
    for (let y = start.y; y <= end.y; y++) {
      const from = y === start.y ? start.x : 0;
      const to = y === end.y ? end.x : this.cols - 1;
      const wrapped = (this.lines[y] & LINE_WRAPPED) !== 0 && y < end.y;
      const chars = this.rowChars(y, from, to);
      out += wrapped ? chars : chars.replace(/\s+$/, '');
      if (y < end.y && !wrapped) out += '\n';
    }
    return out;
  }

  // The cell under a point of the page, clamped to the screen.
  cellAt(clientX, clientY) {
    const box = this.grid.getBoundingClientRect();
    const cellW = box.width / this.cols || 1;
    const rowH = box.height / this.rows || 1;
    const clamp = (v, hi) => Math.max(0, Math.min(hi, v));
    const y = clamp(Math.floor((clientY - box.top) / rowH), this.rows - 1);
    let x = clamp(Math.floor((clientX - box.left) / cellW), this.cols - 1);
    if ((this.lines[y] & LINE_WIDTH) !== 0) x = clamp(Math.floor((clientX - box.left) / (2 * cellW)), this.cols - 1);
    return { x, y };
  }

  // The pixel size of a cell.
  cellSize() {
    const box = this.grid.getBoundingClientRect();
    return { width: box.width / this.cols || 9, height: box.height / this.rows || 18 };
  }

  // The run of word characters (anything but blanks and the usual
  // separators) around a cell: { start, end }.
  wordAt({ x, y }) {
    const row = y * this.cols;
    const isWord = (col) => {
      const cp = this.codePoint(row + col);
      if (cp === 0) return col > 0 && isWide(this.codePoint(row + col - 1));
      return cp > 0x20 && !'()[]{}<>"\'`,;|&'.includes(String.fromCodePoint(cp));
    };
    if (!isWord(x)) return { start: { x, y }, end: { x, y } };
    let a = x;
    let b = x;
    while (a > 0 && isWord(a - 1)) a--;
    while (b < this.cols - 1 && isWord(b + 1)) b++;
    return { start: { x: a, y }, end: { x: b, y } };
  }

  // The logical line (rows joined by wrapping) around row y.
  lineAt(y) {
    let a = y;
    let b = y;
    while (a > 0 && this.lines[a - 1] & LINE_WRAPPED) a--;
    while (b < this.rows - 1 && this.lines[b] & LINE_WRAPPED) b++;
    return { start: { x: 0, y: a }, end: { x: this.cols - 1, y: b } };
  }

  // A selection ({ start, end } cells, in any order; rect: a selection of
  // columns), or null for none.
  setSelection(range) {
    if (!range) this.selection = null;
    else this.selection = range.rect ? rectRange(range.start, range.end) : orderRange(range.start, range.end);
    this.selectionDirty = true;
    this.schedule();
  }

  clearSelection() {
    if (!this.selection) return;
    this.setSelection(null);
  }

  selectAll() {
    this.setSelection({ start: { x: 0, y: 0 }, end: { x: this.cols - 1, y: this.rows - 1 } });
  }

  selectionText() {
    return this.textOf(this.selection);
  }

  // One row as HTML: runs of cells that look alike in spans of their
  // classes, the row's line attribute around them.
  rowHtml(y) {
    const { styleBits, runClass, blankDrawn, wide: wideCells } = this.cells;
    let html = '';
    let run = '';
    let runStyle = -1;
    for (let x = 0, i = y * this.cols; x < this.cols; x++, i++) {
      const style = this.lo[i] & styleBits;
      const cp = this.codePoint(i);
      let wide = false;
      if (wideCells) {
        if (cp === 0 && x > 0 && isWide(this.codePoint(i - 1))) continue;
        wide = isWide(cp) && x + 1 < this.cols && this.lo[i + 1] === 0;
      }
      if (style !== runStyle) {
        if (run) html += `<span class="${runClass(runStyle)}">${run}</span>`;
        run = '';
        runStyle = style;
      }
      const ch = cp < 0x20 || style & blankDrawn ? ' ' : String.fromCodePoint(cp);
      // A wide character fills exactly two cells whatever the font gives it.
      run += wide ? `<span class="w">${ch}</span>` : ESCAPES[ch] || ch;
    }
    if (run) html += `<span class="${runClass(runStyle)}">${run}</span>`;
    const kind = LINE_CLASSES[this.lines[y] & LINE_WIDTH] || '';
    return kind ? `<span class="kvx-line ${kind}">${html}</span>` : html;
  }

  schedule() {
    if (this.frameRequested) return;
    this.frameRequested = true;
    requestAnimationFrame(() => this.draw());
  }

  // Draws what changed since the last frame.
  draw() {
    this.frameRequested = false;
    if (this.awaiting > 0) return;  // the updates after a shift come first
    this.moveRows();
    const rows = this.grid.children;
    for (let y = 0; y < this.rows; y++) {
      if (!this.dirty[y]) continue;
      this.dirty[y] = 0;
      rows[y].innerHTML = this.rowHtml(y);
    }
    if (this.cursorDirty) {
      this.cursorDirty = false;
      this.container.classList.toggle('kvx-back', this.back);
      const { x, y, visible } = this.cursor;
      const el = this.cursorEl;
      el.style.setProperty('--kvx-x', x);
      el.style.setProperty('--kvx-y', y);
      el.dataset.x = x;
      el.dataset.y = y;
      el.hidden = !visible || this.back || x >= this.cols || y >= this.rows;
    }
    if (this.selectionDirty) {
      this.selectionDirty = false;
      this.drawSelection();
    }
    this.afterDraw?.();
  }

  // The DOM rows follow the shifts since the last drawing (their cells are
  // redrawn where they came in: those rows are marked dirty).
  moveRows() {
    const delta = this.domShift;
    this.domShift = 0;
    if (!delta) return;
    const grid = this.grid;
    if (Math.abs(delta) >= this.rows) return;
    for (let i = 0; i < Math.abs(delta); i++) {
      if (delta > 0) grid.prepend(grid.lastChild);
      else grid.append(grid.firstChild);
    }
  }

  drawSelection() {
    const parts = [];
    const sel = this.selection;
    if (sel) {
      for (let y = sel.start.y; y <= sel.end.y; y++) {
        const from = sel.rect || y === sel.start.y ? sel.start.x : 0;
        const to = sel.rect || y === sel.end.y ? sel.end.x : this.cols - 1;
        const part = document.createElement('div');
        part.style.setProperty('--kvx-x', from);
        part.style.setProperty('--kvx-y', y);
        part.style.setProperty('--kvx-w', to - from + 1);
        parts.push(part);
      }
    }
    this.selectionEl.replaceChildren(...parts);
  }
}
