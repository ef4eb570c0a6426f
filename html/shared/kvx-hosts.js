// Host choices of the browser application: the protocols and terminal
// emulations a person can pick, a choice read from the page's address (for
// bookmarks) or from the connect panel, the address that brings the same
// choice back, and the settings object ("kcf") posted to "/load_config" for
// it.  A password never goes into an address; it travels once, as a secret
// of the settings object.
import { BLOCK_EMULATIONS, BLOCK_PROTOCOLS, blockKcf, customSize3270, parseSize3270, sizeText3270 } from './kvx-block.js';
import { MODELS_5250, block5250Kcf, model5250 } from './kvx-block5250.js';
import { EM, is5250, isBlock } from './kvx-emulations.js';
import {
  defaultCodepage, identityFromParams, identityKcf, normalizeIdentity, setIdentityParams,
} from './kvx-identity.js';

export const PROTOCOLS = Object.freeze([
  { commtype: 7, label: 'Local shell', port: 0, remote: false },
  { commtype: 0, label: 'Telnet', port: 23, remote: true },
  { commtype: 8, label: 'Telnet over TLS', port: 992, remote: true, tls: true },
  { commtype: 4, label: 'Telnet with START_TLS', port: 23, remote: true, tls: true },
  { commtype: 5, label: 'SSH', port: 22, remote: true, ssh: true },
]);

// The emulations that work here by their `emulate` setting: the character
// modes (the ANSI/VT family, the Wyse family and its relatives, IBM 3151,
// PC-term, TTY), then IBM 3270 (kvx-block.js), then the IBM 5250 models as
// [EM.IBM5250, label, em5250idx] (kvx-block5250.js).
export const EMULATIONS = Object.freeze([
  [EM.XTERM, 'xterm (colour)'],
  [EM.XTERM256, 'xterm (256 colours)'],
  [EM.LINUX, 'Linux console'],
  [EM.VT420, 'VT420'],
  [EM.VT320, 'VT320'],
  [EM.VT320_7, 'VT320, 7-bit'],
  [EM.VT220, 'VT220'],
  [EM.VT220_7, 'VT220, 7-bit'],
  [EM.VT100, 'VT100'],
  [EM.ANSI, 'ANSI'],
  [EM.SCOANSI, 'SCO ANSI'],
  [EM.AT386, 'AT386'],
  [EM.WYSE50, 'Wyse 50'],
  [EM.WYSE60, 'Wyse 60'],
  [EM.WYSE60_25, 'Wyse 60, 25 rows'],
  [EM.WYCOL, 'Wyse 50 colour'],
  [EM.TVI950, 'Televideo 950'],
  [EM.TVI925, 'Televideo 925'],
  [EM.TVI912, 'Televideo 912'],
  [EM.ADDSVP, 'ADDS Viewpoint'],
  [EM.ADM1, 'ADM-1'],
  [EM.IBM3151, 'IBM 3151'],
  [EM.IBM3151_25, 'IBM 3151, 25 rows'],
  [EM.IBM3101, 'IBM 3101'],
  [EM.PCTERM, 'PC-term'],
  [EM.TTY, 'TTY'],
  ...BLOCK_EMULATIONS,
  ...MODELS_5250.map(([model, label]) => [EM.IBM5250, label, model]),
]);

// The connect panel's value of an emulation (and 5250 model), and back.
export function emulationValue(emulate, model = null) {
  return is5250(emulate) ? `${EM.IBM5250}:${model5250(emulate, model)}` : String(emulate);
}
export function emulationOfValue(value) {
  const [emulate, model] = String(value).split(':').map(Number);
  return { emulate, model: Number.isInteger(model) ? model : null };
}

export const DEFAULT_EMULATION = EM.XTERM;

// The name under which a typed password travels in "secureKeys"; the
// session keeps only the secure store's token for it.
export const PASSWORD_SECRET = 'kavrix.page.password';

export function protocolOf(commtype) {
  return PROTOCOLS.find((p) => p.commtype === commtype) || PROTOCOLS[0];
}

function intParam(params, name) {
  const text = params.get(name);
  if (text === null || !/^\d+$/.test(text.trim())) return null;
  return Number(text);
}

function validPort(port) {
  return Number.isInteger(port) && port > 0 && port < 65536;
}

// A complete choice: { commtype, node, port, user, emulate, model, verify,
// language, size3270, codepage, termtype, kbdtype }; `model` is the 5250
// model (em5250idx), null for the others; `size3270` a custom 3270 size
// { rows, cols }, null for the model's; the last three: kvx-identity.js.
export function normalizeChoice(choice = {}) {
  const station5250 = is5250(choice.emulate);
  const model = station5250 ? model5250(choice.emulate, choice.model) : null;
  const emulate = station5250 ? EM.IBM5250 : Number(choice.emulate);
  // A 3270 or 5250 host is reached by telnet (plain, TLS or START_TLS) only.
  let protocol = protocolOf(Number(choice.commtype));
  if (isBlock(emulate) && !BLOCK_PROTOCOLS.includes(protocol.commtype)) protocol = protocolOf(0);
  const port = Number(choice.port);
  const emulation = EMULATIONS.some(([n]) => n === emulate) ? emulate : DEFAULT_EMULATION;
  return {
    commtype: protocol.commtype,
    node: protocol.remote ? String(choice.node || '').trim() : '',
    port: protocol.remote ? (validPort(port) ? port : protocol.port) : 0,
    user: protocol.ssh ? String(choice.user || '').trim() : '',
    emulate: emulation,
    model,
    verify: Boolean(protocol.tls && choice.verify),
    language: String(choice.language || '').trim(),
    size3270: isBlock(emulate) && !station5250 ? customSize3270(choice.size3270) : null,
    ...normalizeIdentity(choice, emulation),
  };
}

// The choice an address asks for, e.g. "?commtype=0&node=127.0.0.1&port=2323&emulate=30";
// without parameters the local shell.  SSH takes its port from "sshport" or "port".
export function choiceFromParams(params) {
  const commtype = intParam(params, 'commtype');
  return normalizeChoice({
    commtype: commtype === null ? 7 : commtype,
    node: params.get('node') || '',
    port: intParam(params, commtype === 5 ? 'sshport' : 'port') ?? intParam(params, 'port'),
    user: params.get('user') || '',
    emulate: intParam(params, 'emulate') ?? DEFAULT_EMULATION,
    model: intParam(params, 'em5250idx'),
    verify: params.get('sslVerifyServer') === '1',
    language: params.get('language') || '',
    size3270: parseSize3270(params.get('size3270')),
    ...identityFromParams(params),
  });
}

// The address parameters that bring `choice` back; `keep` holds other
// parameters of the page (rows, cols) that stay as they are.
export function paramsForChoice(choice, keep = new URLSearchParams()) {
  const c = normalizeChoice(choice);
  const params = new URLSearchParams();
  for (const name of ['rows', 'cols']) if (keep.has(name)) params.set(name, keep.get(name));
  const protocol = protocolOf(c.commtype);
  if (!protocol.remote && c.emulate === DEFAULT_EMULATION && !c.language && !c.termtype &&
      c.codepage === defaultCodepage(c.emulate)) return params;
  params.set('commtype', String(c.commtype));
  if (protocol.remote) {
    params.set('node', c.node);
    params.set(protocol.ssh ? 'sshport' : 'port', String(c.port));
  }
  if (c.user) params.set('user', c.user);
  params.set('emulate', String(c.emulate));
  if (c.model !== null) params.set('em5250idx', String(c.model));
  if (c.verify) params.set('sslVerifyServer', '1');
  if (c.language) params.set('language', c.language);
  if (c.size3270) params.set('size3270', sizeText3270(c.size3270));
  setIdentityParams(params, c);
  return params;
}

// A short description for the page's title bar.
export function describeChoice(choice) {
  const c = normalizeChoice(choice);
  const protocol = protocolOf(c.commtype);
  if (!protocol.remote) return protocol.label;
  const who = c.user ? `${c.user}@` : '';
  return `${protocol.label} ${who}${c.node}:${c.port}`;
}

// The settings object for `choice` at `size` ({ rows, cols }), with the
// password (SSH only, when one was typed) as a secret.  It names no
// colours for a character screen: text a host leaves at its default
// colours is drawn in the viewer's colour scheme (kvx-schemes.js).
export function kcfForChoice(choice, size, password = '') {
  const c = normalizeChoice(choice);
  const protocol = protocolOf(c.commtype);
  const kcf = {
    commtype: c.commtype,
    emulate: c.emulate,
    MBMode: 1,      // UTF-8 host data
    bsdel: 1,       // Backspace sends DEL, the erase character of Unix hosts
    lines: size.rows,
    col: size.cols,
    clearEmulator: 1,
  };
  if (protocol.remote) kcf.node = c.node;
  if (protocol.ssh) {
    kcf.sshport = c.port;
    if (c.user) kcf.user = c.user;
    if (password) {
      kcf.passwordHash = PASSWORD_SECRET;
      kcf.secureKeys = { [PASSWORD_SECRET]: password };
    }
  } else if (protocol.remote) {
    kcf.port = c.port;
  }
  if (is5250(c.emulate)) Object.assign(kcf, block5250Kcf(c.model));
  else if (isBlock(c.emulate)) Object.assign(kcf, blockKcf(c.emulate, c.size3270));
  if (protocol.tls) kcf.sslVerifyServer = c.verify ? 1 : 0;
  if (c.language) kcf.language = c.language;
  Object.assign(kcf, identityKcf(c));
  return kcf;
}
