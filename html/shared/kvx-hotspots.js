// PF-key hotspots: on a 3270 or 5250 screen, the text that names a key
// and what it does ("PF3=Exit", "F12=Cancel", "Enter=Continue",
// "PF3/PF15 ==> Logoff", a CICS line's "PF1=Help  3=Quit") can be clicked
// or tapped, and presses that key, as desktop emulators offer.  findHotspots
// reads one row of text; Hotspots lays clickable areas over the screen's
// cells where they are.
import { keyTitle, stationKey } from './kvx-keymap.js';

// A key token and what follows it: "PF3", "F12", "PA1" or "Enter", perhaps
// a second name ("/PF15"), then "=" or "==>" and the first character of
// what it does.  Before it, nothing that continues a word.
const TOKEN = /(?<![A-Za-z0-9_=/-])(?:(PF|F|PA)(\d{1,2})|(ENTER))(?:\/(?:PF|F)\d{1,2})?(?: ?=(?!=)| *==> *)(?=[^\s=])/gi;
// A bare number after a PF key on the same row, CICS style ("3=Quit").
const NUMBER = /(?<![A-Za-z0-9_=/-])(\d{1,2})=(?=[^\s=])/g;

// The station key a token names on a kind of station, or null.
function keyName(kind, prefix, n, enter) {
  if (enter) return kind === '5250' ? 'ENTERREC' : 'ENTER';
  const p = prefix.toUpperCase();
  if (p === 'PA') return kind === '3270' && n >= 1 && n <= 3 ? `PA${n}` : null;
  return n >= 1 && n <= 24 ? `PF${n}` : null;
}

// Where what a key does ends: at two blanks, at the next key token, or at
// the end of the row.
function labelEnd(text, from, tokenStarts) {
  const next = tokenStarts.find((s) => s > from) ?? text.length;
  const gap = text.indexOf('  ', from);
  let end = Math.min(next, gap < 0 ? text.length : gap);
  while (end > from && text[end - 1] === ' ') end--;
  return end;
}

// The hotspots of one row: [{ start, end, name }] with `end` exclusive and
// `name` the station key (kvx-keymap.js).
export function findHotspots(text, kind) {
  const found = [];
  let sawPf = false;
  for (const m of text.matchAll(TOKEN)) {
    const name = keyName(kind, m[1] || '', Number(m[2]), m[3]);
    if (!name) continue;
    if ((m[1] || '').toUpperCase() === 'PF') sawPf = true;
    found.push({ start: m.index, labelStart: m.index + m[0].length, name });
  }
  if (sawPf) {
    for (const m of text.matchAll(NUMBER)) {
      if (found.some((h) => m.index >= h.start && m.index < h.labelStart)) continue;
      const name = keyName(kind, 'PF', Number(m[1]), '');
      if (name) found.push({ start: m.index, labelStart: m.index + m[0].length, name });
    }
  }
  found.sort((a, b) => a.start - b.start);
  const starts = found.map((h) => h.start);
  return found.map((h) => ({ start: h.start, end: labelEnd(text, h.labelStart, starts), name: h.name }));
}

// The hotspots of a block-mode screen, laid over its cells: `press(key)`
// gets the station key of the one clicked; `enabled()` says whether the
// person wants them (the pfHotspots preference).
export class Hotspots {
  constructor(screen, kind, { press, enabled = () => true }) {
    this.screen = screen;
    this.kind = kind;
    this.press = press;
    this.enabled = enabled;
    this.version = -1;
    this.shown = null;
    this.layer = document.createElement('div');
    this.layer.className = 'kvx-hotspots';
    screen.grid.after(this.layer);
  }

  // After a drawing: the rows are read again when they changed.
  update(force = false) {
    const on = this.enabled();
    if (!force && on === this.shown && this.version === this.screen.textVersion) return;
    this.shown = on;
    this.version = this.screen.textVersion;
    const spots = [];
    if (on) {
      for (let y = 0; y < this.screen.rows; y++) {
        for (const h of findHotspots(this.screen.rowText(y), this.kind)) spots.push(this.spot(h, y));
      }
    }
    this.layer.replaceChildren(...spots);
  }

  spot({ start, end, name }, y) {
    const k = stationKey(this.kind, name);
    const el = document.createElement('span');
    el.className = 'kvx-hotspot';
    el.dataset.key = name;
    el.title = keyTitle(k);
    el.style.setProperty('--kvx-x', start);
    el.style.setProperty('--kvx-y', y);
    el.style.setProperty('--kvx-w', end - start);
    // The cell under it is no click to move the cursor, nor a selection.
    el.addEventListener('mousedown', (ev) => {
      if (ev.button !== 0) return;
      ev.preventDefault();
      ev.stopPropagation();
    });
    el.addEventListener('click', () => this.press(k));
    return el;
  }
}
