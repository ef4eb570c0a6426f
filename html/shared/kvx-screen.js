// The terminal screen in the page: the 64-bit cells of the update frames
// kept as two 32-bit halves, drawn as one DOM row of text per screen row
// (runs of equal attributes in spans), only the rows an update touched, at
// most once per animation frame; the cursor drawn over its cell.
//
// Cell layout (little-endian 64 bits): bits 0-7 the host byte, 16 invisible,
// 20 bold, 21 underline, 22 blink, 23 reverse, 24-27 foreground and 28-31
// background (PC colour order), 32-62 the Unicode character, 63 set when
// bits 32-62 hold it.

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
const DEFAULT_COLOURS = 0x07;  // light grey on black

const ESCAPES = { '&': '&amp;', '<': '&lt;', '>': '&gt;' };

function spanClass(style) {
  let colours = (style >>> 24) & 0xff;
  if (colours === 0xff) colours = DEFAULT_COLOURS;
  let fg = colours & 15;
  let bg = colours >> 4;
  if (style & REVERSE) [fg, bg] = [bg, fg];
  if (style & INVISIBLE) fg = bg;
  let cls = `f${fg} g${bg}`;
  if (style & BOLD) cls += ' b';
  if (style & UNDERLINE) cls += ' u';
  if (style & BLINK) cls += ' k';
  return cls;
}

// Characters that take two columns (East Asian wide and emoji blocks).
function isWide(cp) {
  return (cp >= 0x1100 && cp <= 0x115f) || (cp >= 0x2e80 && cp <= 0xa4cf) || (cp >= 0xac00 && cp <= 0xd7a3) ||
    (cp >= 0xf900 && cp <= 0xfaff) || (cp >= 0xfe30 && cp <= 0xfe4f) || (cp >= 0xff00 && cp <= 0xff60) ||
    (cp >= 0xffe0 && cp <= 0xffe6) || (cp >= 0x1f300 && cp <= 0x1faff) || (cp >= 0x20000 && cp <= 0x3fffd);
}

export class Screen {
  constructor(container, rows, cols) {
    this.container = container;
    this.grid = document.createElement('div');
    this.grid.className = 'kvx-grid';
    this.cursorEl = document.createElement('div');
    this.cursorEl.className = 'kvx-cursor';
    container.replaceChildren(this.grid, this.cursorEl);
    // Where the session assumes a new browser's cursor to be until it moves.
    this.cursor = { x: 0, y: 0, visible: true };
    this.updates = 0;
    this.frameRequested = false;
    this.cursorDirty = true;
    this.resize(rows, cols);
  }

  resize(rows, cols) {
    const oldRows = this.rows || 0;
    const oldCols = this.cols || 0;
    const lo = new Uint32Array(rows * cols);
    const hi = new Uint32Array(rows * cols);
    for (let y = 0; y < Math.min(rows, oldRows); y++) {
      for (let x = 0; x < Math.min(cols, oldCols); x++) {
        lo[y * cols + x] = this.lo[y * oldCols + x];
        hi[y * cols + x] = this.hi[y * oldCols + x];
      }
    }
    this.rows = rows;
    this.cols = cols;
    this.lo = lo;
    this.hi = hi;
    while (this.grid.children.length > rows) this.grid.lastChild.remove();
    while (this.grid.children.length < rows) {
      const row = document.createElement('div');
      row.className = 'kvx-row';
      this.grid.appendChild(row);
    }
    this.dirty = new Uint8Array(rows).fill(1);
    this.container.style.setProperty('--kvx-cols', cols);
    this.container.style.setProperty('--kvx-rows', rows);
    this.schedule();
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
    }
    this.updates++;
    this.schedule();
    return true;
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

  // The character of a cell; 0 for the right half of a wide character (a
  // cell whose own 32 bits are all clear).
  codePoint(i) {
    if (this.lo[i] === 0) return 0;
    const hi = this.hi[i];
    if (hi & 0x80000000) return hi & 0x7fffffff;
    return this.lo[i] & 0xff;
  }

  // The row as text: one character per cell (the right half of a wide
  // character adds nothing), trailing blanks kept.
  rowText(y) {
    let s = '';
    let wide = false;
    for (let x = 0, i = y * this.cols; x < this.cols; x++, i++) {
      const cp = this.codePoint(i);
      if (cp === 0 && wide) {
        wide = false;
        continue;
      }
      wide = isWide(cp);
      s += cp < 0x20 ? ' ' : String.fromCodePoint(cp);
    }
    return s;
  }

  text() {
    const rows = [];
    for (let y = 0; y < this.rows; y++) rows.push(this.rowText(y).replace(/\s+$/, ''));
    return rows.join('\n');
  }

  rowHtml(y) {
    let html = '';
    let run = '';
    let runStyle = -1;
    let wide = false;
    for (let x = 0, i = y * this.cols; x < this.cols; x++, i++) {
      const style = this.lo[i] & STYLE_BITS;
      const cp = this.codePoint(i);
      if (cp === 0 && wide) {
        wide = false;
        continue;
      }
      wide = isWide(cp);
      if (style !== runStyle) {
        if (run) html += `<span class="${spanClass(runStyle)}">${run}</span>`;
        run = '';
        runStyle = style;
      }
      const ch = cp < 0x20 ? ' ' : String.fromCodePoint(cp);
      run += ESCAPES[ch] || ch;
    }
    if (run) html += `<span class="${spanClass(runStyle)}">${run}</span>`;
    return html;
  }

  schedule() {
    if (this.frameRequested) return;
    this.frameRequested = true;
    requestAnimationFrame(() => this.draw());
  }

  // Draws what changed since the last frame.
  draw() {
    this.frameRequested = false;
    const rows = this.grid.children;
    for (let y = 0; y < this.rows; y++) {
      if (!this.dirty[y]) continue;
      this.dirty[y] = 0;
      rows[y].innerHTML = this.rowHtml(y);
    }
    if (this.cursorDirty) {
      this.cursorDirty = false;
      const { x, y, visible } = this.cursor;
      const el = this.cursorEl;
      el.style.setProperty('--kvx-x', x);
      el.style.setProperty('--kvx-y', y);
      el.dataset.x = x;
      el.dataset.y = y;
      el.hidden = !visible || x >= this.cols || y >= this.rows;
    }
  }
}
