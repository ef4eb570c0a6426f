// The browser application: creates a session for this device (or takes up
// the one this tab already had), configures the host the address or the
// connect panel names (kvx-hosts.js; the local shell by default), opens the
// session's channel, draws what it sends, sends what is typed
// (kvx-keyboard.js) and shows the session's prompts as dialogs
// (kvx-dialogs.js).  A new window size goes to the session, which resizes
// the host's terminal.  A host can have an automatic log-in (kvx-autologin.js),
// written in the connect panel and kept in this browser; a password it needs
// is asked for when the session connects.
//
// A prompt lasts until this page answers it or any other frame arrives: the
// session sends nothing else while it waits, so a later frame means that
// another browser answered or that the session stopped waiting.
import { LoginEditor, kcfForLogin, loadLogin, needsPassword, saveLogin } from './kvx-autologin.js';
import { BlockKeyboard, BlockScreen, isBlockEmulation } from './kvx-block.js';
import { Block5250Keyboard, KEY_BAR_5250, LOGIN_ROWS_5250, is5250Emulation } from './kvx-block5250.js';
import { ACTION, Channel } from './kvx-channel.js';
import { Dialogs } from './kvx-dialogs.js';
import {
  EMULATIONS, PROTOCOLS, choiceFromParams, describeChoice, emulationOfValue, emulationValue, kcfForChoice,
  normalizeChoice, paramsForChoice, protocolOf,
} from './kvx-hosts.js';
import { Keyboard } from './kvx-keyboard.js';
import { LabelLines } from './kvx-labels.js';
import { Screen } from './kvx-screen.js';

let params = new URLSearchParams(location.search);
const stateEl = document.getElementById('state');
const titleEl = document.getElementById('title');
const messageEl = document.getElementById('message');
const reconnectButton = document.getElementById('reconnect');
const restartButton = document.getElementById('restart');
const terminalEl = document.getElementById('terminal');
const labels = new LabelLines(document.getElementById('labels'));
const panel = document.getElementById('connect-panel');
const panelToggle = document.getElementById('connect-toggle');
const field = (id) => document.getElementById(id);

function deviceId() {
  let id = localStorage.getItem('kavrix.deviceId');
  if (!id) {
    const bytes = crypto.getRandomValues(new Uint8Array(16));
    id = Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
    localStorage.setItem('kavrix.deviceId', id);
  }
  return id;
}

async function postJson(path, body) {
  const response = await fetch(path, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body),
  });
  const answer = await response.json().catch(() => ({ code: -1, message: `HTTP ${response.status}` }));
  if (answer.code !== 0) throw new Error(`${path}: ${answer.message || 'failed'} (${answer.code})`);
  return answer.content;
}

// Rows and columns that fit the window (or those asked for in the address).
function screenSize() {
  const clamp = (v, lo, hi) => Math.max(lo, Math.min(hi, v));
  const rows = Number(params.get('rows'));
  const cols = Number(params.get('cols'));
  if (rows > 0 && cols > 0) return { rows: clamp(rows, 2, 250), cols: clamp(cols, 10, 132) };
  const probe = document.createElement('span');
  probe.textContent = 'M'.repeat(20);
  probe.style.visibility = 'hidden';
  terminalEl.appendChild(probe);
  const box = probe.getBoundingClientRect();
  probe.remove();
  const cellW = box.width / 20 || 9;
  const cellH = parseFloat(getComputedStyle(terminalEl).lineHeight) || box.height || 18;
  const main = document.querySelector('main').getBoundingClientRect();
  return {
    rows: clamp(Math.floor((main.height - 40) / cellH), 5, 100),
    cols: clamp(Math.floor((main.width - 40) / cellW), 20, 132),
  };
}

const app = {
  deviceId: deviceId(),
  session: null,       // { id, port }
  channel: null,
  screen: null,
  keyboard: null,
  dialogs: new Dialogs(),      // the session's prompts
  loginDialog: new Dialogs(),  // the page's own question for a log-in password
  hostConnected: false,
  hostConnecting: false,  // a connect was asked for and has not ended yet
  posting: 0,             // settings posts on their way
  channelState: 'closed',
  frames: 0,
  keysSent: 0,
  lastError: '',
  choice: choiceFromParams(params),
  size: null,          // { rows, cols } of the screen
  kcf: null,           // the settings last posted, without secrets
};

const sizeFixed = () => Number(params.get('rows')) > 0 && Number(params.get('cols')) > 0;
const choiceKey = (choice) => paramsForChoice(choice).toString();

// Posts the settings for `choice` with its log-in; passwords travel as
// secrets only.
async function postConfig(session, choice, size,
  { password = '', login = null, loginPassword = '', connect = true, disconnect = false } = {}) {
  const screen = is5250Emulation(choice.emulate) ? { rowsFromBottom: LOGIN_ROWS_5250 } : {};
  const kcf = { ...kcfForChoice(choice, size, password), ...kcfForLogin(login, loginPassword, screen) };
  const { secureKeys, ...kept } = kcf;
  app.kcf = kept;
  if (connect) app.hostConnecting = true;
  showState();
  app.posting++;
  try {
    await postJson(`/load_config?session=${encodeURIComponent(session.id)}`, {
      kcf,
      connectToHost: connect,
      disconnectFromHost: disconnect,
    });
  } catch (err) {
    app.hostConnecting = false;
    throw err;
  } finally {
    app.posting--;
    showState();
  }
}

function showTitle() {
  if (app.size) titleEl.textContent = `${describeChoice(app.choice)}, ${app.size.cols} x ${app.size.rows}`;
}

function saveSession() {
  if (!app.session) return;
  sessionStorage.setItem('kavrix.session', JSON.stringify({
    id: app.session.id, port: app.session.port, rows: app.size.rows, cols: app.size.cols,
    target: choiceKey(app.choice),
  }));
}

function showState() {
  let state;
  let text;
  if (app.channelState === 'ended') {
    state = 'ended';
    text = 'Session ended';
  } else if (app.channelState !== 'open') {
    state = 'connecting';
    text = app.channel && app.channel.reconnects + app.channel.retry > 0 ? 'Reconnecting' : 'Connecting';
  } else if (app.hostConnected) {
    state = 'connected';
    text = 'Connected';
  } else if (app.hostConnecting) {
    state = 'connecting';
    text = 'Connecting to host';
  } else {
    state = 'disconnected';
    text = 'Disconnected';
  }
  stateEl.dataset.state = state;
  stateEl.textContent = text;
  reconnectButton.hidden = state !== 'disconnected';
  restartButton.hidden = state !== 'ended';
}

function showMessage(text) {
  messageEl.textContent = text || '';
  messageEl.hidden = !text;
}

async function sessionLives(session) {
  try {
    // The query lets a proxy in front of several instances send this to the
    // instance that owns the session.
    const list = await postJson(`/list_sessions?session=${encodeURIComponent(session.id)}`,
      { deviceId: app.deviceId });
    return Array.isArray(list) && list.some((s) => s.sessionId === session.id);
  } catch {
    return false;
  }
}

function sendKey(code) {
  if (app.channel?.sendKey(code)) app.keysSent++;
}

// Shows a prompt and sends the answer, unless the prompt ended first.
async function prompt(frame) {
  const [a = '', b = '', c = ''] = frame.fields;
  switch (frame.action) {
    case ACTION.GET_ENTRY: {
      const answer = await app.loginDialog.entry({ title: a, message: b, password: c === '1' });
      if (answer) app.channel?.send(ACTION.GET_ENTRY_RESPONSE, [answer.text, String(answer.code)]);
      break;
    }
    case ACTION.GET_YESNO: {
      const answer = await app.dialogs.yesNo({ title: a, message: b });
      if (answer !== null) app.channel?.send(ACTION.GET_YESNO_RESPONSE, [String(answer)]);
      break;
    }
    case ACTION.SHOW_FATAL_ERROR: {
      app.hostConnecting = false;
      showState();
      app.lastError = b;
      showMessage(b);
      const answer = await app.dialogs.error({ fatal: a === '1', message: b });
      if (answer) app.channel?.send(ACTION.ACK_FATAL_ERROR);
      break;
    }
    default:
      return;
  }
  if (!app.dialogs.open) app.keyboard?.focus();
}

function onFrame(frame) {
  app.frames++;
  const isPrompt = [ACTION.GET_ENTRY, ACTION.GET_YESNO, ACTION.SHOW_FATAL_ERROR].includes(frame.action);
  if (!isPrompt && app.dialogs.open) app.dialogs.dismiss();
  switch (frame.action) {
    case ACTION.CONNECTED:
      app.hostConnected = frame.fields[0] === '1';
      if (app.hostConnected) showMessage(app.notice || '');
      // While a post of new settings is on its way, a "0" is the end of the
      // previous host, not of the connect it asks for.
      if (app.hostConnected || app.posting === 0) app.hostConnecting = false;
      showState();
      break;
    case ACTION.UPDATE:
      app.screen.applyUpdate(frame.fields[0], frame.data);
      break;
    case ACTION.LABELS:
      labels.apply(frame.fields, frame.data);
      break;
    case ACTION.NOTICE:
      // Another emulation runs than the one asked for (an empty text: no more).
      if (frame.fields[0] === 'emulation') {
        app.notice = (frame.fields[1] || '').trim();
        showMessage(app.notice);
      }
      break;
    case ACTION.STATUS:
      app.screen.setStatus?.(frame.fields);
      break;
    case ACTION.BELL:
      app.screen.bell?.();
      break;
    case ACTION.SET_CURSOR: {
      const [x, y] = String(frame.fields[0]).split(':').map(Number);
      if (Number.isInteger(x) && Number.isInteger(y)) {
        app.screen.setCursor(x, y, frame.fields[1] === '1');
        app.keyboard?.moveTo(x, y);
      }
      break;
    }
    default:
      if (isPrompt) prompt(frame);
      break;
  }
}

// The kind of terminal an emulation needs.
const terminalKind = (emulate) => {
  if (is5250Emulation(emulate)) return '5250';
  return isBlockEmulation(emulate) ? '3270' : 'character';
};

// The screen and keyboard of the chosen emulation: IBM 5250 or IBM 3270
// (kvx-block5250.js, kvx-block.js) or character mode.
function makeTerminal(size) {
  const click = (row, col) => app.channel?.send(ACTION.MOUSE, [String(row), String(col)]);
  if (is5250Emulation(app.choice.emulate)) {
    app.screen = new BlockScreen(terminalEl, size.rows, size.cols, { click, key: sendKey, keyBar: KEY_BAR_5250 });
    app.keyboard = new Block5250Keyboard(terminalEl, sendKey);
  } else if (isBlockEmulation(app.choice.emulate)) {
    app.screen = new BlockScreen(terminalEl, size.rows, size.cols, { click, key: sendKey });
    app.keyboard = new BlockKeyboard(terminalEl, sendKey);
  } else {
    app.screen = new Screen(terminalEl, size.rows, size.cols);
    app.keyboard = new Keyboard(terminalEl, sendKey);
  }
}

function attach(session, size) {
  app.session = session;
  makeTerminal(size);
  // The channel goes through the server's own port, which relays it to the
  // session; the session's identifier is what lets a browser in.
  const scheme = location.protocol === 'https:' ? 'wss' : 'ws';
  const url = `${scheme}://${location.host}/get_te_channel?session=${encodeURIComponent(session.id)}`;
  app.channel = new Channel(url, {
    onOpen: () => {
      app.screen.resetCursor();
      app.keyboard.moveTo(0, 0);
      app.channel.send(ACTION.REFRESH);
    },
    onFrame,
    onState: (state) => {
      app.channelState = state;
      if (state !== 'open') {
        app.hostConnected = false;
        app.dialogs.dismiss();  // the session no longer waits for this page
      }
      showState();
    },
    stillAlive: () => sessionLives(session),
  });
  app.size = size;
  showTitle();
  app.channel.open();
  app.keyboard.focus();
}

async function start() {
  showMessage('');
  app.channelState = 'connecting';
  showState();
  const size = screenSize();
  try {
    const saved = JSON.parse(sessionStorage.getItem('kavrix.session') || 'null');
    if (saved && saved.id && saved.port && (await sessionLives(saved))) {
      const kept = { rows: saved.rows || size.rows, cols: saved.cols || size.cols };
      attach(saved, kept);
      // The address names another host than the session had: go there.
      if (saved.target !== choiceKey(app.choice)) await connectTo(app.choice);
      else app.kcf = kcfForChoice(app.choice, kept);
      return;
    }
    const created = await postJson('/new_session', { deviceId: app.deviceId });
    const session = { id: created.sessionId, port: created.port };
    await postConfig(session, app.choice, size, await loginFor(app.choice));
    attach(session, size);
    saveSession();
  } catch (err) {
    app.channelState = 'ended';
    showState();
    showMessage(`Could not start a session: ${err.message}`);
  }
}

// The automatic log-in of `choice`, with the password its steps send: the
// one typed in the panel, or else asked for now.  Declining the question
// connects without the log-in.
async function loginFor(choice, typed = '') {
  const login = loadLogin(choice);
  if (!login.enabled || !login.steps.length) return {};
  if (!needsPassword(login.steps) || typed) return { login, loginPassword: typed };
  const answer = await app.loginDialog.entry({
    title: 'Automatic log-in', message: `Password for ${describeChoice(choice)}`, password: true, save: false,
  });
  if (!answer?.code) return {};
  return { login, loginPassword: answer.text };
}

// Ends the session's current host and connects to `choice`; the session's
// questions (host key, password) and errors arrive as prompts meanwhile.
async function connectTo(choice, password = '') {
  const kind = terminalKind(app.choice.emulate);
  app.choice = normalizeChoice(choice);
  if (kind !== terminalKind(app.choice.emulate) && app.screen) {
    makeTerminal(app.size);
    app.keyboard.focus();
  }
  params = paramsForChoice(app.choice, params);
  const query = params.toString();
  history.replaceState(null, '', `${location.pathname}${query ? `?${query}` : ''}`);
  showTitle();
  saveSession();
  showMessage('');
  app.lastError = '';
  try {
    const login = await loginFor(app.choice, password);
    await postConfig(app.session, app.choice, app.size, { password, disconnect: true, ...login });
  } catch (err) {
    showMessage(`Could not connect: ${err.message}`);
  }
}

// ---- the connect panel ----

let panelProtocol = null;  // the protocol the panel showed before a change
const loginEditor = new LoginEditor(field('autologin'));

function fillPanel(choice) {
  const c = normalizeChoice(choice);
  field('protocol').value = String(c.commtype);
  field('node').value = c.node;
  field('port').value = protocolOf(c.commtype).remote ? String(c.port) : '';
  field('user').value = c.user;
  field('password').value = '';
  field('emulate').value = emulationValue(c.emulate, c.model);
  field('verify').checked = c.verify;
  loginEditor.fill(loadLogin(c));
  panelProtocol = protocolOf(c.commtype);
  showPanelFields();
}

// Shows the fields the chosen protocol uses; a port still at the previous
// protocol's default follows the new one.
function showPanelFields(previous) {
  const protocol = protocolOf(Number(field('protocol').value));
  for (const label of panel.querySelectorAll('[data-remote]')) label.hidden = !protocol.remote;
  for (const label of panel.querySelectorAll('[data-ssh]')) label.hidden = !protocol.ssh;
  for (const label of panel.querySelectorAll('[data-tls]')) label.hidden = !protocol.tls;
  field('node').required = protocol.remote;
  field('port').required = protocol.remote;
  const port = field('port');
  if (previous && (port.value === '' || Number(port.value) === previous.port)) {
    port.value = protocol.remote ? String(protocol.port) : '';
  }
}

function openPanel(open) {
  panel.hidden = !open;
  panelToggle.setAttribute('aria-expanded', String(open));
  if (open) {
    fillPanel(app.choice);
    (protocolOf(app.choice.commtype).remote ? field('node') : field('protocol')).focus();
  } else {
    app.keyboard?.focus();
  }
}

for (const p of PROTOCOLS) field('protocol').append(new Option(p.label, String(p.commtype)));
for (const [n, label, model] of EMULATIONS) field('emulate').append(new Option(label, emulationValue(n, model)));
field('protocol').addEventListener('change', () => {
  showPanelFields(panelProtocol);
  panelProtocol = protocolOf(Number(field('protocol').value));
});
panelToggle.addEventListener('click', () => openPanel(panel.hidden));
panel.addEventListener('keydown', (ev) => {
  if (ev.key === 'Escape') openPanel(false);
});
panel.addEventListener('submit', (ev) => {
  ev.preventDefault();
  if (!app.session) return;
  const choice = {
    commtype: Number(field('protocol').value),
    node: field('node').value,
    port: Number(field('port').value),
    user: field('user').value,
    ...emulationOfValue(field('emulate').value),
    verify: field('verify').checked,
    language: app.choice.language,
  };
  const password = protocolOf(choice.commtype).ssh ? field('password').value : '';
  field('password').value = '';
  if (protocolOf(choice.commtype).remote) saveLogin(normalizeChoice(choice), loginEditor.read());
  openPanel(false);
  connectTo(choice, password);
});

// ---- window size ----

let resizeTimer = null;
window.addEventListener('resize', () => {
  clearTimeout(resizeTimer);
  resizeTimer = setTimeout(resizeScreen, 250);
});

// A window that holds another number of rows or columns resizes the screen
// and tells the session, which resizes the host's terminal (and, while no
// host is connected, keeps the size for the next connect).
async function resizeScreen() {
  if (!app.session || !app.screen || !app.kcf || sizeFixed()) return;
  const size = screenSize();
  if (size.rows === app.size.rows && size.cols === app.size.cols) return;
  app.size = size;
  app.screen.resize(size.rows, size.cols);
  showTitle();
  saveSession();
  const kcf = { ...app.kcf, lines: size.rows, col: size.cols, clearEmulator: 0 };
  app.kcf = kcf;
  try {
    await postJson(`/load_config?session=${encodeURIComponent(app.session.id)}`, { kcf, connectToHost: false });
  } catch (err) {
    showMessage(`Could not resize: ${err.message}`);
  }
}

reconnectButton.addEventListener('click', () => {
  if (app.channel?.send(ACTION.CONNECT_HOST)) {
    app.hostConnecting = true;
    showState();
  }
  app.keyboard?.focus();
});
restartButton.addEventListener('click', () => {
  app.channel?.close();
  sessionStorage.removeItem('kavrix.session');
  start();
});

// For tests and the console: the screen as text and the state.
window.kavrix = {
  get channel() {
    return app.channel;
  },
  text: () => (app.screen ? app.screen.text() : ''),
  labels: () => labels.text(),
  cursor: () => (app.screen ? { ...app.screen.cursor } : null),
  status: () => (app.screen?.status ? { ...app.screen.status } : null),
  state: () => ({
    channel: app.channelState,
    hostConnected: app.hostConnected,
    hostConnecting: app.hostConnecting,
    session: app.session,
    reconnects: app.channel ? app.channel.reconnects : 0,
    updates: app.screen ? app.screen.updates : 0,
    keysSent: app.keysSent,
    dialog: app.dialogs.open,
    lastError: app.lastError,
  }),
  choice: () => ({ ...app.choice }),
  size: () => (app.size ? { ...app.size } : null),
  focus: () => app.keyboard?.focus(),
  dropChannel: () => app.channel?.drop(),
};

start();
