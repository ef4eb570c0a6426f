// Exact colours and text styles in the page: the COLORS frames (host action
// 40, sent to a page that names "truecolor") read into one entry number per
// cell beside the screen's cells, and the look of a run of cells that has
// an entry: its colours (one of xterm's 256, or 24-bit), dim, italic,
// strike-through and the underline's form and colour.  The screen asks
// through its row renderer's hook (Screen.runExtra); cells without an entry
// are drawn from their own bits as before.
//
// Frame data (little-endian): u16 entries, each u8 colours present (1 fg,
// 2 bg, 4 underline), u8 styles, each colour u8 kind (1 palette index + u8,
// 2 r, g, b); then for every row of the rectangle, runs of u8 length and a
// varint entry (0 none, n the n-th).

import { PC_COLOURS } from './kvx-screen.js';

export const STYLE = Object.freeze({
  DIM: 0x01,
  ITALIC: 0x02,
  STRIKE: 0x04,
  UNDERLINE_FORM: 0x70,  // 0 plain, 0x20 double, 0x30 curly, 0x40 dotted, 0x50 dashed
});

const UNDERLINE_FORMS = { 0x20: 'double', 0x30: 'wavy', 0x40: 'dotted', 0x50: 'dashed' };

// Cell bits the look depends on (kvx-screen.js's layout).
const INVISIBLE = 0x10000;
const UNDERLINE = 0x200000;
const REVERSE = 0x800000;
const DEFAULT_COLOURS = 0x07;

// ANSI colour n (0-15) in the PC order the cells and the page's colours use.
const PC_OF_ANSI = [0, 4, 2, 6, 1, 5, 3, 7, 8, 12, 10, 14, 9, 13, 11, 15];

const hex2 = (v) => v.toString(16).padStart(2, '0');
const rgbHex = (r, g, b) => `#${hex2(r)}${hex2(g)}${hex2(b)}`;

// xterm's palette: the sixteen are the page's own, then a 6x6x6 cube and 24
// greys.
export const PALETTE_256 = Object.freeze(Array.from({ length: 256 }, (_, i) => {
  if (i < 16) return PC_COLOURS[PC_OF_ANSI[i]];
  if (i < 232) {
    const level = [0, 95, 135, 175, 215, 255];
    const c = i - 16;
    return rgbHex(level[Math.floor(c / 36)], level[Math.floor(c / 6) % 6], level[c % 6]);
  }
  const v = 8 + 10 * (i - 232);
  return rgbHex(v, v, v);
}));

function mix(a, b) {
  const p = (h, i) => parseInt(h.slice(1 + 2 * i, 3 + 2 * i), 16);
  return rgbHex(...[0, 1, 2].map((i) => Math.round((p(a, i) + p(b, i)) / 2)));
}

// The entries of a COLORS frame's data, { entries, off } with `off` where
// the runs start, or null when they do not read whole.
export function parseColors(data) {
  let off = 0;
  const byte = () => {
    if (off >= data.length) throw new RangeError('short');
    return data[off++];
  };
  const colour = () => {
    const kind = byte();
    if (kind === 1) return PALETTE_256[byte()];
    if (kind === 2) return rgbHex(byte(), byte(), byte());
    throw new RangeError('kind');
  };
  try {
    const count = byte() | (byte() << 8);
    const entries = [];
    for (let i = 0; i < count; i++) {
      const which = byte();
      const style = byte();
      const e = { style };
      if (which & 1) e.fg = colour();
      if (which & 2) e.bg = colour();
      if (which & 4) e.ul = colour();
      entries.push(e);
    }
    return { entries, off };
  } catch {
    return null;
  }
}

// The screen's entries: each distinct look once, numbered from 1.
export class ScreenColors {
  constructor(screen) {
    this.screen = screen;
    this.looks = [null];
    this.numbers = new Map();
    screen.runExtra = (style, n) => this.runExtra(style, n);
  }

  number(e) {
    const key = `${e.fg ?? ''}|${e.bg ?? ''}|${e.ul ?? ''}|${e.style}`;
    let n = this.numbers.get(key);
    if (n === undefined) {
      if (this.looks.length >= 0xffff) this.compact();
      n = this.looks.length;
      this.looks.push(e);
      this.numbers.set(key, n);
    }
    return n;
  }

  // Entries no cell names any more are forgotten (numbers are renewed).
  compact() {
    const { ext } = this.screen;
    const renumber = new Map();
    const looks = [null];
    this.numbers.clear();
    for (let i = 0; i < ext.length; i++) {
      const n = ext[i];
      if (!n) continue;
      let m = renumber.get(n);
      if (m === undefined) {
        const e = this.looks[n];
        m = looks.length;
        looks.push(e);
        renumber.set(n, m);
        this.numbers.set(`${e.fg ?? ''}|${e.bg ?? ''}|${e.ul ?? ''}|${e.style}`, m);
      }
      ext[i] = m;
    }
    this.looks = looks;
  }

  // A COLORS frame for the rectangle of the UPDATE it follows.
  apply(header, data) {
    const s = this.screen;
    const parts = String(header).split(':').map(Number);
    if (parts.length !== 4 || parts.some((v) => !Number.isInteger(v) || v < 0)) return false;
    const [left, bottom, right, top] = parts;
    if (right < left || bottom < top || bottom >= s.rows || right >= s.cols) return false;
    const parsed = parseColors(data);
    if (!parsed) return false;
    const numbers = parsed.entries.map((e) => this.number(e));
    let off = parsed.off;
    const width = right - left + 1;
    for (let y = top; y <= bottom; y++) {
      let x = 0;
      while (x < width) {
        if (off >= data.length) return false;
        const length = data[off++];
        if (!length) return false;
        let entry = 0;
        let shift = 0;
        for (;;) {
          if (off >= data.length) return false;
          const b = data[off++];
          entry |= (b & 0x7f) << shift;
          shift += 7;
          if (!(b & 0x80)) break;
        }
        const n = entry > 0 && entry <= numbers.length ? numbers[entry - 1] : 0;
        const end = Math.min(width, x + length);
        s.ext.fill(n, y * s.cols + left + x, y * s.cols + left + end);
        x = end;
      }
      s.dirty[y] = 1;
    }
    s.schedule();
    return true;
  }

  // The look of a run of cells with `style` bits and entry n: extra classes
  // and inline style, or null for none.
  runExtra(style, n) {
    const e = n ? this.looks[n] : null;
    if (!e) return null;
    let colours = (style >>> 24) & 0xff;
    if (colours === 0xff) colours = DEFAULT_COLOURS;
    let fg = e.fg ?? PC_COLOURS[colours & 15];
    let bg = e.bg ?? PC_COLOURS[colours >> 4];
    if (style & REVERSE) [fg, bg] = [bg, fg];
    if (e.style & STYLE.DIM) fg = mix(fg, bg);
    if (style & INVISIBLE) fg = bg;
    let css = `color:${fg};background:${bg};`;
    if (e.style & STYLE.ITALIC) css += 'font-style:italic;';
    const lines = [];
    if (style & UNDERLINE) lines.push('underline');
    if (e.style & STYLE.STRIKE) lines.push('line-through');
    if (lines.length) {
      css += `text-decoration-line:${lines.join(' ')};`;
      const form = UNDERLINE_FORMS[e.style & STYLE.UNDERLINE_FORM];
      if (form && (style & UNDERLINE)) css += `text-decoration-style:${form};`;
      if (e.ul && (style & UNDERLINE)) css += `text-decoration-color:${e.ul};`;
    }
    return { css };
  }
}
