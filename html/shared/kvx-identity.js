// Host identity and characters: the host's character set (UTF-8 or an 8-bit
// code page of codepage.dat for character-mode hosts, an EBCDIC page for IBM
// 3270 and 5250 hosts), the device (LU) name or terminal-type override, and
// the keyboard type a 5250 station announces.  A choice carries them as
// `codepage`, `termtype` and `kbdtype`; the address and the settings object
// as `cptrxin` (with `MBMode`), `teltermtype` and `ibmkbdtype`.  The connect
// panel shows them in one section (identitySection).
import { EM, is5250, isBlock } from './kvx-emulations.js';

export const UTF8 = 'UTF-8';

// The code pages of character-mode hosts: [value, label]; a value other
// than UTF-8 names the tables of codepage.dat.
export const CHAR_CODEPAGES = Object.freeze([
  [UTF8, 'UTF-8'],
  ['STD 437 MS-DOS Latin US', '437 (PC, box drawing)'],
  ['STD 850 MS-DOS Latin 1', '850 (PC Latin 1)'],
  ['ISO 8859-1 Latin 1', 'ISO 8859-1 (Latin 1)'],
  ['ISO 8859-2 Latin 2', 'ISO 8859-2 (Latin 2)'],
  ['ISO 8859-15 Latin 9', 'ISO 8859-15 (Latin 9, euro)'],
  ['1250', 'Windows 1250 (Central Europe)'],
  ['1252', 'Windows 1252 (Western)'],
]);

// The EBCDIC pages of IBM hosts: [value, label, IBM keyboard type usually
// used with it] (src/lib/tcs/tcs_locale.cpp has the same rows).
export const EBCDIC_CODEPAGES = Object.freeze([
  ['CP037', '037 US, Canada', 'USB'],
  ['CP273', '273 Germany, Austria', 'AGB'],
  ['CP277', '277 Denmark, Norway', 'DMB'],
  ['CP278', '278 Finland, Sweden', 'FNB'],
  ['CP280', '280 Italy', 'ITB'],
  ['CP284', '284 Spain, Latin America', 'SPB'],
  ['CP285', '285 United Kingdom', 'UKB'],
  ['CP297', '297 France', 'FAB'],
  ['CP500', '500 International (Belgium, Switzerland)', 'BLI'],
  ['CP871', '871 Iceland', 'ICB'],
  ['CP1047', '1047 Open systems (Latin 1)', 'USB'],
  ['CP1140', '1140 US, Canada (euro)', 'USB'],
  ['CP1141', '1141 Germany, Austria (euro)', 'AGB'],
  ['CP1142', '1142 Denmark, Norway (euro)', 'DMB'],
  ['CP1143', '1143 Finland, Sweden (euro)', 'FNB'],
  ['CP1144', '1144 Italy (euro)', 'ITB'],
  ['CP1145', '1145 Spain, Latin America (euro)', 'SPB'],
  ['CP1146', '1146 United Kingdom (euro)', 'UKB'],
  ['CP1147', '1147 France (euro)', 'FAB'],
  ['CP1148', '1148 International (euro)', 'BLI'],
  ['CP1149', '1149 Iceland (euro)', 'ICB'],
]);
// The older names of four pages, which the session takes too.
const EBCDIC_OLD_NAMES = new Map([
  ['US English', 'CP037'], ['UK English', 'CP285'], ['German', 'CP273'], ['French', 'CP297'],
]);

// IBM keyboard types a 5250 station may announce.
export const KEYBOARD_TYPES = Object.freeze([
  ['USB', 'USB US'], ['USI', 'USI US multinational'], ['AGB', 'AGB Germany, Austria'],
  ['AGE', 'AGE Germany, Austria (euro)'], ['AGI', 'AGI Germany, Austria multinational'],
  ['BLI', 'BLI Belgium multinational'], ['DMB', 'DMB Denmark'], ['FNB', 'FNB Finland, Sweden'],
  ['FAB', 'FAB France (AZERTY)'], ['ICB', 'ICB Iceland'], ['ITB', 'ITB Italy'], ['NWB', 'NWB Norway'],
  ['SPB', 'SPB Spain'], ['SSB', 'SSB Spanish speaking'], ['SFI', 'SFI Switzerland, French'],
  ['SGI', 'SGI Switzerland, German'], ['UKB', 'UKB United Kingdom'],
]);

// The character set a character-mode emulation starts with: the PC's 437
// for the PC consoles, ISO 8859-1 for the Wyse, Televideo, ADDS, ADM, IBM
// and TTY terminals, UTF-8 for xterm, the VT members and Linux.
const PC_EMULATIONS = [EM.SCOANSI, EM.AT386, EM.PCTERM, EM.ANSI];
const LATIN1_EMULATIONS = [EM.WYSE50, EM.WYSE60, EM.WYSE60_25, EM.WYCOL, EM.TVI912, EM.TVI925, EM.TVI950,
  EM.ADDSVP, EM.ADM1, EM.IBM3151, EM.IBM3151_25, EM.IBM3101, EM.TTY];

export function defaultCodepage(emulate) {
  const e = Number(emulate);
  if (isBlock(e)) return 'CP037';
  if (PC_EMULATIONS.includes(e)) return 'STD 437 MS-DOS Latin US';
  if (LATIN1_EMULATIONS.includes(e)) return 'ISO 8859-1 Latin 1';
  return UTF8;
}

export function codepagesFor(emulate) {
  return isBlock(Number(emulate)) ? EBCDIC_CODEPAGES : CHAR_CODEPAGES;
}

// The keyboard type a code page usually goes with.
export function defaultKeyboard(codepage) {
  return (EBCDIC_CODEPAGES.find(([v]) => v === codepage) || EBCDIC_CODEPAGES[0])[2];
}

// A choice's identity members, made valid for its emulation: a code page
// of the emulation's kind (else its default), a terminal type or device
// name without blanks or control characters, a three-letter keyboard type
// for 5250 ('' the code page's usual one).
export function normalizeIdentity(choice, emulate) {
  let codepage = String(choice.codepage ?? '');
  codepage = EBCDIC_OLD_NAMES.get(codepage) || codepage;
  if (!codepagesFor(emulate).some(([v]) => v === codepage)) codepage = defaultCodepage(emulate);
  const termtype = String(choice.termtype ?? '').trim();
  const kbd = String(choice.kbdtype ?? '').trim().toUpperCase();
  return {
    codepage,
    termtype: /^[\x21-\x7e]{1,64}$/.test(termtype) ? termtype : '',
    kbdtype: is5250(emulate) && /^[A-Z]{3}$/.test(kbd) && kbd !== defaultKeyboard(codepage) ? kbd : '',
  };
}

export function identityFromParams(params) {
  return {
    codepage: params.get('cptrxin') || '',
    termtype: params.get('teltermtype') || '',
    kbdtype: params.get('ibmkbdtype') || '',
  };
}

// Address parameters of a normalized choice: only what differs from the
// emulation's defaults.
export function setIdentityParams(params, c) {
  if (c.codepage !== defaultCodepage(c.emulate)) params.set('cptrxin', c.codepage);
  if (c.termtype) params.set('teltermtype', c.termtype);
  if (c.kbdtype) params.set('ibmkbdtype', c.kbdtype);
}

// Settings of a normalized choice.
export function identityKcf(c) {
  const kcf = {};
  if (isBlock(c.emulate)) {
    kcf.cptrxin = c.codepage;
    if (is5250(c.emulate)) kcf.ibmkbdtype = c.kbdtype || defaultKeyboard(c.codepage);
  } else if (c.codepage === UTF8) {
    kcf.MBMode = 1;
  } else {
    kcf.MBMode = 0;  // the host's bytes are its code page's characters
    kcf.cptrxin = c.codepage;
  }
  if (c.termtype) kcf.teltermtype = c.termtype;
  return kcf;
}

// The connect panel's section; `emulationField()` is the panel's emulation
// select, `emulationOf(value)` reads it as { emulate, model }.
export function identitySection(emulationField, emulationOf) {
  let el = null;
  let pageShown = '';  // the code page the keyboard field last followed
  let emulationShown = null;  // the emulation the character set last followed
  const emulate = () => emulationOf(emulationField().value).emulate;
  const field = (name) => el.querySelector(`[name="${name}"]`);
  const options = (select, rows, value) => {
    select.replaceChildren(...rows.map(([v, label]) => new Option(label, v)));
    select.value = value;
  };
  // Shows the fields that apply to the emulation picked: a character set
  // picked by hand stays where it still fits, the previous emulation's
  // default gives way to the new one's.
  const adapt = () => {
    const e = emulate();
    const page = field('cptrxin');
    const previous = page.value;
    const byHand = emulationShown !== null && previous !== defaultCodepage(emulationShown);
    const rows = codepagesFor(e);
    options(page, rows, byHand && rows.some(([v]) => v === previous) ? previous : defaultCodepage(e));
    emulationShown = e;
    el.querySelector('[data-kbd]').hidden = !is5250(e);
    el.querySelector('[data-termtype-label]').textContent =
      isBlock(e) ? 'Device (LU) name' : 'Terminal type (empty: the emulation\'s)';
  };
  return {
    id: 'identity',
    title: 'Host identity and characters',
    build() {
      el = document.createElement('fieldset');
      el.className = 'identity-section';
      el.innerHTML = `<legend>Host identity and characters</legend>
        <label>Character set <select name="cptrxin"></select></label>
        <label><span data-termtype-label>Terminal type</span>
          <input name="teltermtype" autocomplete="off" spellcheck="false" maxlength="64"></label>
        <label data-kbd>Keyboard type <select name="ibmkbdtype"></select></label>`;
      options(field('ibmkbdtype'), KEYBOARD_TYPES, 'USB');
      emulationField().addEventListener('change', () => {
        const kbdFollows = field('ibmkbdtype').value === defaultKeyboard(field('cptrxin').value);
        adapt();
        pageShown = field('cptrxin').value;
        if (kbdFollows) field('ibmkbdtype').value = defaultKeyboard(pageShown);
      });
      // The keyboard follows the code page until it is picked by hand.
      field('cptrxin').addEventListener('change', () => {
        if (field('ibmkbdtype').value === defaultKeyboard(pageShown)) {
          field('ibmkbdtype').value = defaultKeyboard(field('cptrxin').value);
        }
        pageShown = field('cptrxin').value;
      });
      return el;
    },
    fill(element, choice) {
      el = element;
      emulationShown = null;
      adapt();
      const c = normalizeIdentity(choice, choice.emulate);
      field('cptrxin').value = c.codepage;
      field('teltermtype').value = c.termtype;
      field('ibmkbdtype').value = c.kbdtype || defaultKeyboard(c.codepage);
      pageShown = c.codepage;
    },
    read(element, choice) {
      el = element;
      return {
        ...choice,
        codepage: field('cptrxin').value,
        termtype: field('teltermtype').value,
        kbdtype: field('ibmkbdtype').value,
      };
    },
  };
}
