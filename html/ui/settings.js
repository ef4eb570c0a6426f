// The settings panel (⚙ in the header, "Settings" in its menu on a narrow
// or touch window): the person's choices for this browser (kvx-prefs.js:
// colour scheme, font, cursor, blinking text, bell, copy and paste, how
// 3270 and 5250 screens are shown) and their key maps (kvx-keymap-user.js),
// kept in the browser's storage and applied to every session it opens;
// exported to a file and imported from one (kvx-settings-file.js), and
// reset to the defaults.
//
// A key map is edited for one family of emulations at a time (the one in
// use first): "Press a key…" takes the next key or chord pressed (a
// modifier key pressed and released alone is taken as itself: Right Ctrl),
// a key function of the family is chosen, and Add puts the pair in the map
// (in place of what that chord did before).
import { chordLabel, chordOf } from './kvx-chords.js';
import { FAMILIES, FAMILY_LABELS, emptyMaps, keyFunctions, saveMaps } from './kvx-keymap-user.js';
import { CURSOR_STYLES, FONTS, SCHEMES, defaultPrefs, prefError, savePrefs } from './kvx-prefs.js';
import { SETTINGS_FILE_NAME, readSettingsFile, settingsFileText } from './kvx-settings-file.js';

const el = (tag, props = {}, ...children) => {
  const e = Object.assign(document.createElement(tag), props);
  e.append(...children);
  return e;
};
const option = (value, text) => el('option', { value: String(value), textContent: text });
const check = (id, text) => el('label', {}, el('input', { id, type: 'checkbox' }), ` ${text}`);
const field = (text, control) => el('label', { className: 'kvx-settings-field' }, el('span', { textContent: text }), control);

// The checkboxes by preference.
const BOXES = [
  ['pref-blink', 'blinkText'],
  ['pref-bell', 'bellSound'],
  ['pref-copy', 'copyOnSelect'],
  ['pref-paste', 'confirmPaste'],
  ['pref-underline', 'fieldUnderline'],
  ['pref-hotspots', 'pfHotspots'],
];
const OTHER_FONT = '*other';

export class SettingsPanel {
  // `element`: the panel (a popover under the header).  `state()` gives
  // { prefs, maps, family } in force; `apply({ prefs, maps }, changed)`
  // puts new ones in force (`changed`: the names of the preferences that
  // changed, 'keymaps' for the maps); `onClose()` hears that the panel
  // closed by Escape.
  constructor(element, { state, apply, onClose }) {
    this.element = element;
    this.state = state;
    this.apply = apply;
    this.onClose = onClose;
    this.family = 'character';
    this.captured = null;      // the chord pressed for the next entry
    this.capturing = false;    // the next key pressed is that chord
    this.pendingModifier = null;
    this.resetArmed = null;    // the timer while Reset waits for its second click
    this.build();
    element.addEventListener('keydown', (ev) => {
      if (ev.key === 'Escape' && !this.capturing) {
        this.close();
        this.onClose?.();
      }
    });
    document.addEventListener('mousedown', (ev) => {
      if (!element.hidden && !element.contains(ev.target) && !ev.target.closest?.('#settings-toggle, #header-menu')) {
        this.close();
      }
    });
  }

  get isOpen() {
    return !this.element.hidden;
  }

  toggle() {
    if (this.isOpen) this.close();
    else this.open();
  }

  open() {
    for (const other of document.querySelectorAll('.popover')) if (other !== this.element) other.hidden = true;
    this.family = this.state().family;
    this.message('');
    this.fill();
    this.element.hidden = false;
    document.getElementById('settings-toggle')?.setAttribute('aria-expanded', 'true');
    this.element.querySelector('select, input, button')?.focus();
  }

  close() {
    this.endCapture();
    this.element.hidden = true;
    document.getElementById('settings-toggle')?.setAttribute('aria-expanded', 'false');
  }

  build() {
    const $ = (id) => this.element.querySelector(`#${id}`);
    const scheme = el('select', { id: 'pref-scheme' }, ...SCHEMES.map(([v, t]) => option(v, t)));
    const font = el('select', { id: 'pref-font' }, option('', 'The page\u2019s (DejaVu Sans Mono)'),
      ...FONTS.map((f) => option(f, f === 'monospace' ? 'The browser\u2019s monospace font' : f)),
      option(OTHER_FONT, 'Another font\u2026'));
    const fontName = el('input', { id: 'pref-font-name', type: 'text', spellcheck: false, placeholder: 'Font name' });
    const cursor = el('select', { id: 'pref-cursor' }, ...CURSOR_STYLES.map(([v, t]) => option(v, t)));
    const family = el('select', { id: 'keymap-family' }, ...FAMILIES.map((f) => option(f, FAMILY_LABELS[f])));
    const capture = el('button', { id: 'keymap-capture', type: 'button', textContent: 'Press a key\u2026' });
    const target = el('select', { id: 'keymap-function', ariaLabel: 'Key function' });
    const add = el('button', { id: 'keymap-add', type: 'button', textContent: 'Add' });
    const clear = el('button', { id: 'keymap-clear', type: 'button', textContent: 'Clear this map' });
    const file = el('input', { id: 'settings-import', type: 'file', accept: '.json,application/json', hidden: true });
    const importButton = el('button', { id: 'settings-import-button', type: 'button', textContent: 'Import\u2026' });
    const exportButton = el('button', { id: 'settings-export', type: 'button', textContent: 'Export' });
    const reset = el('button', { id: 'settings-reset', type: 'button', textContent: 'Reset to defaults' });
    this.element.replaceChildren(
      el('h2', { textContent: 'Settings' }),
      el('p', { className: 'hint', textContent: 'Kept in this browser, for every session it opens.' }),
      el('fieldset', {}, el('legend', { textContent: 'Look' }),
        field('Colours', scheme), field('Font', font), field('Font name', fontName), field('Cursor', cursor),
        check('pref-blink', 'Blinking text blinks')),
      el('fieldset', {}, el('legend', { textContent: 'Bell, copy and paste' }),
        check('pref-bell', 'Sound on bell'), check('pref-copy', 'Copy text when selected'),
        check('pref-paste', 'Ask before pasting lines into a shell')),
      el('fieldset', {}, el('legend', { textContent: 'IBM 3270 and 5250 screens' }),
        check('pref-underline', 'Underline the input fields of 3270 screens'),
        check('pref-hotspots', 'Click \u201cPF3=Exit\u201d and the like to press the key')),
      el('fieldset', { className: 'kvx-keymap-editor' }, el('legend', { textContent: 'Key map' }),
        field('For', family),
        el('table', { id: 'keymap-list', className: 'kvx-keymap-list' }),
        el('div', { className: 'kvx-keymap-add' }, capture, el('span', { textContent: '\u2192' }), target, add),
        el('p', { className: 'hint', textContent: 'Your keys come first: before the terminal\u2019s keyboard and ' +
          'before the page\u2019s own keys (Ctrl+Shift+C copies, Ctrl+= enlarges the text) when you give ' +
          'them another use.' }),
        clear),
      el('div', { className: 'kvx-settings-actions' }, exportButton, importButton, file, reset),
      el('p', { id: 'settings-message', className: 'kvx-settings-message', role: 'status' }),
    );
    this.fontLabel = fontName.parentElement;

    scheme.addEventListener('change', () => this.setPref('scheme', scheme.value));
    cursor.addEventListener('change', () => this.setPref('cursorStyle', Number(cursor.value)));
    font.addEventListener('change', () => {
      this.fontLabel.hidden = font.value !== OTHER_FONT;
      if (font.value === OTHER_FONT) fontName.focus();
      else this.setPref('fontFamily', font.value);
    });
    fontName.addEventListener('change', () => {
      const name = fontName.value.trim();
      const wrong = prefError('fontFamily', name);
      if (wrong) this.message(`The font name ${wrong}.`, true);
      else this.setPref('fontFamily', name);
    });
    for (const [id, name] of BOXES) {
      const box = $(id);
      box.addEventListener('change', () => this.setPref(name, box.checked));
    }
    family.addEventListener('change', () => {
      this.family = family.value;
      this.fillMap();
    });
    capture.addEventListener('click', () => (this.capturing ? this.endCapture() : this.startCapture()));
    capture.addEventListener('keydown', (ev) => this.onCaptureKey(ev));
    capture.addEventListener('keyup', (ev) => this.onCaptureKeyUp(ev));
    capture.addEventListener('blur', () => this.endCapture());
    add.addEventListener('click', () => this.addEntry());
    clear.addEventListener('click', () => this.setMap(this.family, {}, `The ${FAMILY_LABELS[this.family]} map is empty.`));
    exportButton.addEventListener('click', () => this.exportFile());
    importButton.addEventListener('click', () => file.click());
    file.addEventListener('change', async () => {
      const chosen = file.files?.[0];
      file.value = '';
      if (chosen) this.importText(await chosen.text(), chosen.name);
    });
    reset.addEventListener('click', () => this.reset());
  }

  // The controls show the settings in force.
  fill() {
    const { prefs } = this.state();
    const $ = (id) => this.element.querySelector(`#${id}`);
    $('pref-scheme').value = prefs.scheme;
    $('pref-cursor').value = String(prefs.cursorStyle);
    const listed = prefs.fontFamily === '' || FONTS.includes(prefs.fontFamily);
    $('pref-font').value = listed ? prefs.fontFamily : OTHER_FONT;
    $('pref-font-name').value = listed ? '' : prefs.fontFamily;
    this.fontLabel.hidden = listed;
    for (const [id, name] of BOXES) $(id).checked = prefs[name];
    $('keymap-family').value = this.family;
    this.fillMap();
  }

  // The map of the family shown, and the key functions it can assign.
  fillMap() {
    const { maps } = this.state();
    const list = this.element.querySelector('#keymap-list');
    const entries = Object.entries(maps[this.family] ?? {});
    const functions = keyFunctions(this.family);
    const labelOf = (name) => functions.find((f) => f.name === name)?.label ?? name;
    const rows = entries.map(([chord, target]) => {
      const remove = el('button', { type: 'button', textContent: 'Remove', title: `Remove ${chordLabel(chord)}` });
      remove.addEventListener('click', () => {
        const map = { ...maps[this.family] };
        delete map[chord];
        this.setMap(this.family, map, `${chordLabel(chord)} is the terminal\u2019s own key again.`);
      });
      const tr = el('tr', {}, el('td', { textContent: chordLabel(chord) }), el('td', { textContent: labelOf(target) }),
        el('td', {}, remove));
      tr.dataset.chord = chord;
      tr.dataset.target = target;
      return tr;
    });
    if (!rows.length) {
      rows.push(el('tr', { className: 'kvx-keymap-empty' },
        el('td', { colSpan: 3, textContent: 'No keys of your own: the keyboard works as the key help says.' })));
    }
    list.replaceChildren(...rows);
    this.element.querySelector('#keymap-clear').disabled = !entries.length;
    const select = this.element.querySelector('#keymap-function');
    const kept = select.value;
    const groups = new Map();
    for (const f of functions) {
      if (!groups.has(f.group)) groups.set(f.group, el('optgroup', { label: f.group }));
      groups.get(f.group).append(option(f.name, f.label));
    }
    select.replaceChildren(...groups.values());
    if (functions.some((f) => f.name === kept)) select.value = kept;
  }

  // ---- taking a chord ----

  startCapture() {
    this.capturing = true;
    this.pendingModifier = null;
    this.showCaptured('Press the key or chord\u2026');
  }

  endCapture() {
    if (!this.capturing) return;
    this.capturing = false;
    this.pendingModifier = null;
    this.showCaptured();
  }

  showCaptured(text) {
    const button = this.element.querySelector('#keymap-capture');
    button.textContent = text ?? (this.captured ? chordLabel(this.captured) : 'Press a key\u2026');
    button.classList.toggle('kvx-capturing', this.capturing);
    button.dataset.chord = this.captured ?? '';
  }

  onCaptureKey(ev) {
    if (!this.capturing) return;
    ev.preventDefault();
    ev.stopPropagation();
    if (ev.repeat) return;
    const chord = chordOf(ev);
    if (!chord) return;
    // A modifier key counts alone only when it comes up before another key.
    if (/^(Control|Shift|Alt|Meta)(Left|Right)$/.test(ev.code)) {
      this.pendingModifier = { code: ev.code, chord };
      return;
    }
    this.take(chord);
  }

  onCaptureKeyUp(ev) {
    if (!this.capturing || !this.pendingModifier) return;
    ev.preventDefault();
    ev.stopPropagation();
    if (ev.code === this.pendingModifier.code) this.take(this.pendingModifier.chord);
  }

  take(chord) {
    this.captured = chord;
    this.capturing = false;
    this.pendingModifier = null;
    this.showCaptured();
    this.element.querySelector('#keymap-function').focus();
  }

  addEntry() {
    const target = this.element.querySelector('#keymap-function').value;
    if (!this.captured) {
      this.message('Press "Press a key…", then the key or chord to map.', true);
      return;
    }
    const { maps } = this.state();
    const map = { ...maps[this.family], [this.captured]: target };
    const label = keyFunctions(this.family).find((f) => f.name === target)?.label ?? target;
    const said = `${chordLabel(this.captured)} \u2192 ${label}.`;
    this.captured = null;
    this.showCaptured();
    this.setMap(this.family, map, said);
  }

  // ---- saving ----

  setPref(name, value) {
    const { prefs } = this.state();
    if (prefs[name] === value) return;
    const next = { ...prefs, [name]: value };
    savePrefs(next);
    this.apply({ prefs: next }, new Set([name]));
    this.message('');
  }

  setMap(family, map, said) {
    const { maps } = this.state();
    const next = { ...maps, [family]: map };
    saveMaps(next);
    this.apply({ maps: next }, new Set(['keymaps']));
    this.fillMap();
    this.message(said);
  }

  message(text, wrong = false) {
    const p = this.element.querySelector('#settings-message');
    p.textContent = text;
    p.classList.toggle('kvx-settings-wrong', wrong);
    p.setAttribute('role', wrong ? 'alert' : 'status');
  }

  exportFile() {
    const { prefs, maps } = this.state();
    const url = URL.createObjectURL(new Blob([settingsFileText(prefs, maps)], { type: 'application/json' }));
    const a = el('a', { href: url, download: SETTINGS_FILE_NAME });
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 10000);
    this.message(`Exported to ${SETTINGS_FILE_NAME}.`);
  }

  // A settings file's text: taken whole, or refused saying what is wrong.
  importText(text, name = 'the file') {
    const read = readSettingsFile(text);
    if (read instanceof Error) {
      this.message(`Not imported: ${read.message}.`, true);
      return false;
    }
    savePrefs(read.prefs);
    saveMaps(read.maps);
    this.apply(read, new Set([...Object.keys(read.prefs), 'keymaps']));
    this.fill();
    this.message(`Imported ${name}.`);
    return true;
  }

  // Everything back to the defaults, on a second click within 4 seconds.
  reset() {
    const button = this.element.querySelector('#settings-reset');
    if (!this.resetArmed) {
      button.textContent = 'Reset everything? Click again';
      this.resetArmed = setTimeout(() => {
        this.resetArmed = null;
        button.textContent = 'Reset to defaults';
      }, 4000);
      return;
    }
    clearTimeout(this.resetArmed);
    this.resetArmed = null;
    button.textContent = 'Reset to defaults';
    const prefs = defaultPrefs();
    const maps = emptyMaps();
    savePrefs(prefs);
    saveMaps(maps);
    this.apply({ prefs, maps }, new Set([...Object.keys(prefs), 'keymaps']));
    this.fill();
    this.message('The settings and key maps are the defaults again.');
  }
}
