// The page's colour schemes and its terminal font: every colour the page
// draws with, for its header and panels, for character screens (the text
// and background a host leaves at their defaults, and the 16 PC colours as
// text and as background) and for IBM 3270 and 5250 screens (the emulation
// colour table, the status line, the underline of input fields).  A scheme
// is applied as CSS custom properties on the document (the style sheets
// fall back to the dark scheme's colours without them).
//
// Layering: the session's colour keys (colorfg0, colorbg0, 3270colfg*,
// 5250colfg*) are the host profile, shared by every viewer: they choose
// which colour of the table a cell has.  The scheme is this viewer's: it
// chooses what each colour of the table looks like, and what text and
// background without a colour look like.
//
// High contrast: every pair of colours the scheme puts together (the
// pairs of schemePairs) has a contrast ratio of at least 4.5 (WCAG AA for
// text): a tests checks it, and a new colour of the scheme must keep it.

const PC = ['#000000', '#0000aa', '#00aa00', '#00aaaa', '#aa0000', '#aa00aa', '#aa5500', '#aaaaaa',
  '#555555', '#5555ff', '#55ff55', '#55ffff', '#ff5555', '#ff55ff', '#ffff55', '#ffffff'];
const BLOCK = ['#000000', '#000080', '#008000', '#008080', '#800000', '#800080', '#808000', '#c0c0c0',
  '#808080', '#7890f0', '#24d830', '#40e0d0', '#f01818', '#ff00ff', '#ffff00', '#ffffff'];

const DARK_UI = Object.freeze({
  bg: '#1b1d21', fg: '#d6d6d6', panel: '#24272c', line: '#33373d', border: '#454b52', muted: '#9aa0a6',
  hint: '#8b949e', button: '#30363d', hover: '#3a4149', field: '#1b1d21', accent: '#1f6feb',
  accentLine: '#388bfd', onAccent: '#ffffff', link: '#58a6ff', error: '#f85149', ok: '#3fb950', warn: '#d29922',
  onWarn: '#1b1d21',
});

// Each scheme: `ui` the page's own colours; `term` a character screen's
// default text (fd) and background (gd) and its 16 colours as text (f)
// and background (g); `block` the emulation colour table of 3270 and 5250
// screens as text (c) and background (d), their background, status line,
// its alerts and the underline of input fields; `cursor` the colour the
// cursor inverts the cell with.
export const SCHEME_COLOURS = Object.freeze({
  dark: {
    label: 'Dark',
    ui: DARK_UI,
    term: { fd: '#aaaaaa', gd: '#000000', f: PC, g: PC },
    block: { bg: '#000000', c: BLOCK, d: BLOCK, oia: '#40e0d0', alert: '#ffff00', field: '#40e0d0' },
    cursor: '#dddddd',
  },
  light: {
    label: 'Light',
    ui: {
      bg: '#f6f8fa', fg: '#1f2328', panel: '#ffffff', line: '#d8dee4', border: '#afb8c1', muted: '#57606a',
      hint: '#57606a', button: '#eaeef2', hover: '#d8dee4', field: '#ffffff', accent: '#0969da',
      accentLine: '#0550ae', onAccent: '#ffffff', link: '#0969da', error: '#cf222e', ok: '#1a7f37', warn: '#9a6700',
      onWarn: '#ffffff',
    },
    term: {
      fd: '#1f2328', gd: '#ffffff',
      f: ['#000000', '#1a3fb8', '#1d7a1d', '#0b7285', '#b3261e', '#9c2a9c', '#8a5a00', '#8c959f',
        '#57606a', '#2f5fe0', '#2b8a3e', '#0a8ea0', '#d1242f', '#b83bb8', '#9a7b00', '#ffffff'],
      g: ['#000000', '#1a3fb8', '#1d7a1d', '#0b7285', '#b3261e', '#9c2a9c', '#8a5a00', '#d0d7de',
        '#57606a', '#2f5fe0', '#2b8a3e', '#0a8ea0', '#d1242f', '#b83bb8', '#9a7b00', '#ffffff'],
    },
    block: {
      bg: '#ffffff',
      c: ['#ffffff', '#1a3fb8', '#1d7a1d', '#0b7285', '#b3261e', '#9c2a9c', '#7d6400', '#57606a',
        '#6e7781', '#1f4fd1', '#1a7f37', '#087f8c', '#c62828', '#a4247f', '#7d6400', '#000000'],
      d: ['#ffffff', '#1a3fb8', '#1d7a1d', '#0b7285', '#b3261e', '#9c2a9c', '#7d6400', '#57606a',
        '#6e7781', '#1f4fd1', '#1a7f37', '#087f8c', '#c62828', '#a4247f', '#7d6400', '#000000'],
      oia: '#087f8c', alert: '#9a6700', field: '#087f8c',
    },
    cursor: '#dddddd',
  },
  green: {
    label: 'Classic green on black',
    ui: DARK_UI,
    term: {
      fd: '#33dd55', gd: '#000000',
      f: ['#000000', '#2ec24a', '#2ec24a', '#2ec24a', '#2ec24a', '#2ec24a', '#2ec24a', '#33dd55',
        '#1f8a33', '#66ff80', '#66ff80', '#66ff80', '#66ff80', '#66ff80', '#66ff80', '#a8ffb4'],
      g: ['#000000', '#2ec24a', '#2ec24a', '#2ec24a', '#2ec24a', '#2ec24a', '#2ec24a', '#33dd55',
        '#1f8a33', '#66ff80', '#66ff80', '#66ff80', '#66ff80', '#66ff80', '#66ff80', '#a8ffb4'],
    },
    block: {
      bg: '#000000',
      c: ['#000000', '#33dd55', '#33dd55', '#33dd55', '#33dd55', '#33dd55', '#33dd55', '#33dd55',
        '#1f8a33', '#33dd55', '#33dd55', '#33dd55', '#a8ffb4', '#33dd55', '#a8ffb4', '#a8ffb4'],
      d: ['#000000', '#33dd55', '#33dd55', '#33dd55', '#33dd55', '#33dd55', '#33dd55', '#33dd55',
        '#1f8a33', '#33dd55', '#33dd55', '#33dd55', '#a8ffb4', '#33dd55', '#a8ffb4', '#a8ffb4'],
      oia: '#33dd55', alert: '#a8ffb4', field: '#33dd55',
    },
    cursor: '#33dd55',
  },
  contrast: {
    label: 'High contrast',
    ui: {
      bg: '#000000', fg: '#ffffff', panel: '#000000', line: '#ffffff', border: '#ffffff', muted: '#e6e6e6',
      hint: '#e6e6e6', button: '#000000', hover: '#333333', field: '#000000', accent: '#ffff00',
      accentLine: '#ffffff', onAccent: '#000000', link: '#8cc8ff', error: '#ff8c8c', ok: '#8cff8c', warn: '#ffd75f',
      onWarn: '#000000',
    },
    term: {
      fd: '#ffffff', gd: '#000000',
      // As text on black, every colour is bright.
      f: ['#000000', '#82aaff', '#5fe05f', '#4fe0e0', '#ff7b72', '#ff80ff', '#e8c060', '#d0d0d0',
        '#a8a8a8', '#a8c4ff', '#8cff8c', '#8cffff', '#ffa198', '#ffb0ff', '#ffff66', '#ffffff'],
      // As background, every colour holds both white and black text (a
      // luminance near 0.18); light grey and white hold black text.
      g: ['#000000', '#3d6fe1', '#2c8636', '#158193', '#d0443a', '#b24bb5', '#94700f', '#ffffff',
        '#757575', '#4f6ddf', '#2b863e', '#15818e', '#d24242', '#b24cb2', '#8d7300', '#ffffff'],
    },
    block: {
      bg: '#000000',
      c: ['#000000', '#82aaff', '#5fe05f', '#4fe0e0', '#ff7b72', '#ff80ff', '#e8c060', '#d0d0d0',
        '#a8a8a8', '#a8c4ff', '#8cff8c', '#8cffff', '#ffa198', '#ffb0ff', '#ffff66', '#ffffff'],
      d: ['#000000', '#82aaff', '#5fe05f', '#4fe0e0', '#ff7b72', '#ff80ff', '#e8c060', '#d0d0d0',
        '#a8a8a8', '#a8c4ff', '#8cff8c', '#8cffff', '#ffa198', '#ffb0ff', '#ffff66', '#ffffff'],
      oia: '#ffffff', alert: '#ffff66', field: '#ffffff',
    },
    cursor: '#ffffff',
  },
});

// The scheme a choice stands for: "default" follows the system's light or
// dark preference.
export function resolveScheme(choice, prefersDark) {
  if (choice === 'default') return prefersDark ? 'dark' : 'light';
  return SCHEME_COLOURS[choice] ? choice : 'dark';
}

// The CSS custom properties of a scheme, by name.
export function schemeVariables(name) {
  const s = SCHEME_COLOURS[name] ?? SCHEME_COLOURS.dark;
  const vars = {};
  const kebab = (k) => k.replace(/[A-Z]/g, (c) => `-${c.toLowerCase()}`);
  for (const [k, v] of Object.entries(s.ui)) vars[`--kvx-ui-${kebab(k)}`] = v;
  vars['--kvx-fd'] = s.term.fd;
  vars['--kvx-gd'] = s.term.gd;
  for (let i = 0; i < 16; i++) {
    vars[`--kvx-f${i}`] = s.term.f[i];
    vars[`--kvx-g${i}`] = s.term.g[i];
    vars[`--kvx-c${i}`] = s.block.c[i];
    vars[`--kvx-d${i}`] = s.block.d[i];
  }
  vars['--kvx-block-bg'] = s.block.bg;
  vars['--kvx-oia'] = s.block.oia;
  vars['--kvx-oia-alert'] = s.block.alert;
  vars['--kvx-field-line'] = s.block.field;
  vars['--kvx-cursor'] = s.cursor;
  return vars;
}

// Applies the scheme `choice` to the document (`root`, its <html>); says
// which scheme that is and marks it on the root (data-scheme).
export function applyScheme(root, choice, prefersDark = matchMedia('(prefers-color-scheme: dark)').matches) {
  const name = resolveScheme(choice, prefersDark);
  for (const [k, v] of Object.entries(schemeVariables(name))) root.style.setProperty(k, v);
  root.dataset.scheme = name;
  root.style.colorScheme = name === 'light' ? 'light' : 'dark';
  return name;
}

// Tells `listener()` when the system's light or dark preference changes.
export function onSystemScheme(listener) {
  matchMedia('(prefers-color-scheme: dark)').addEventListener('change', listener);
}

// ---- contrast (WCAG 2) ----

function luminance(hex) {
  const n = parseInt(hex.slice(1), 16);
  const lin = (c) => {
    const v = c / 255;
    return v <= 0.04045 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4;
  };
  return 0.2126 * lin(n >> 16) + 0.7152 * lin((n >> 8) & 255) + 0.0722 * lin(n & 255);
}

export function contrastRatio(a, b) {
  const [hi, lo] = [luminance(a), luminance(b)].sort((x, y) => y - x);
  return (hi + 0.05) / (lo + 0.05);
}

// The pairs of colours a scheme puts together, as [text, background, what]:
// the page's text, hints, links, messages and buttons on its backgrounds;
// on a character screen the default text on the default background and
// reversed, every colour as text on the default background, black on every
// colour and white (and the default text) on every dark one; on a 3270 or
// 5250 screen every colour on the screen's background, reversed fields
// (black on every colour), and the status line.
export function schemePairs(name) {
  const s = SCHEME_COLOURS[name];
  const { ui, term, block } = s;
  const pairs = [];
  for (const bg of ['bg', 'panel']) {
    for (const fg of ['fg', 'muted', 'hint', 'link', 'error', 'ok']) pairs.push([ui[fg], ui[bg], `ui ${fg} on ${bg}`]);
  }
  pairs.push([ui.fg, ui.button, 'ui button'], [ui.fg, ui.hover, 'ui button hovered'],
    [ui.fg, ui.field, 'ui input'], [ui.onAccent, ui.accent, 'ui main button'], [ui.onWarn, ui.warn, 'ui live badge']);
  pairs.push([term.fd, term.gd, 'default text'], [term.gd, term.fd, 'reversed default text']);
  for (let i = 1; i < 16; i++) pairs.push([term.f[i], term.gd, `colour ${i} on the background`]);
  const light = (hex) => luminance(hex) > 0.5;
  for (let j = 1; j < 16; j++) {
    pairs.push([term.f[0], term.g[j], `black on colour ${j}`]);
    if (!light(term.g[j])) {
      pairs.push([term.f[15], term.g[j], `white on colour ${j}`], [term.fd, term.g[j], `default text on colour ${j}`]);
    }
  }
  for (let i = 1; i < 16; i++) {
    pairs.push([block.c[i], block.bg, `3270/5250 colour ${i}`], [block.c[0], block.d[i], `3270/5250 reversed colour ${i}`]);
  }
  pairs.push([block.oia, block.bg, 'status line'], [block.alert, block.bg, 'status line alert']);
  return pairs;
}

// ---- the terminal font ----

// The font-family of the terminal for a font chosen by name ('' the
// page's own list): the name first, then the page's fonts.
export const PAGE_FONTS = '"DejaVu Sans Mono", "Liberation Mono", Menlo, Consolas, monospace';
export function fontStack(name) {
  if (!name) return PAGE_FONTS;
  if (name === 'monospace') return 'monospace';
  return `"${name.replace(/["\\]/g, '')}", ${PAGE_FONTS}`;
}
