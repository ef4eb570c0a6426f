// The browser application: creates a session for this device (or takes up
// the one this tab already had), configures a local shell, opens the
// session's channel, draws what it sends, sends what is typed
// (kvx-keyboard.js) and shows the session's prompts as dialogs
// (kvx-dialogs.js).
//
// A prompt lasts until this page answers it or any other frame arrives: the
// session sends nothing else while it waits, so a later frame means that
// another browser answered or that the session stopped waiting.
import { ACTION, Channel } from './kvx-channel.js';
import { Dialogs } from './kvx-dialogs.js';
import { Keyboard } from './kvx-keyboard.js';
import { Screen } from './kvx-screen.js';

const params = new URLSearchParams(location.search);
const stateEl = document.getElementById('state');
const titleEl = document.getElementById('title');
const messageEl = document.getElementById('message');
const reconnectButton = document.getElementById('reconnect');
const restartButton = document.getElementById('restart');
const terminalEl = document.getElementById('terminal');

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

function shellConfig(size) {
  return {
    kcf: {
      commtype: 7,          // local shell
      emulate: 30,          // xterm-colour family
      teltermtype: 'xterm-color',
      MBMode: 1,            // UTF-8 host data
      bsdel: 1,             // Backspace sends DEL, the erase character of Linux terminals
      lines: size.rows,
      col: size.cols,
      colorfg0: 8,          // light grey (colour indexes count from 1)
      colorbg0: 1,          // on black
      clearEmulator: 1,
    },
    connectToHost: true,
  };
}

const app = {
  deviceId: deviceId(),
  session: null,       // { id, port }
  channel: null,
  screen: null,
  keyboard: null,
  dialogs: new Dialogs(),
  hostConnected: false,
  channelState: 'closed',
  frames: 0,
  keysSent: 0,
  lastError: '',
};

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
    const list = await postJson('/list_sessions', { deviceId: app.deviceId });
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
      const answer = await app.dialogs.entry({ title: a, message: b, password: c === '1' });
      if (answer) app.channel?.send(ACTION.GET_ENTRY_RESPONSE, [answer.text, String(answer.code)]);
      break;
    }
    case ACTION.GET_YESNO: {
      const answer = await app.dialogs.yesNo({ title: a, message: b });
      if (answer !== null) app.channel?.send(ACTION.GET_YESNO_RESPONSE, [String(answer)]);
      break;
    }
    case ACTION.SHOW_FATAL_ERROR: {
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
      if (app.hostConnected) showMessage('');
      showState();
      break;
    case ACTION.UPDATE:
      app.screen.applyUpdate(frame.fields[0], frame.data);
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

function attach(session, size) {
  app.session = session;
  app.screen = new Screen(terminalEl, size.rows, size.cols);
  app.keyboard = new Keyboard(terminalEl, sendKey);
  const host = location.hostname.includes(':') ? `[${location.hostname}]` : location.hostname;
  const scheme = location.protocol === 'https:' ? 'wss' : 'ws';
  app.channel = new Channel(`${scheme}://${host}:${session.port}/get_te_channel`, {
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
  titleEl.textContent = `Local shell, ${size.cols} x ${size.rows}`;
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
      attach(saved, { rows: saved.rows || size.rows, cols: saved.cols || size.cols });
      return;
    }
    const created = await postJson('/new_session', { deviceId: app.deviceId });
    const session = { id: created.sessionId, port: created.port, rows: size.rows, cols: size.cols };
    await postJson(`/load_config?session=${encodeURIComponent(session.id)}`, shellConfig(size));
    sessionStorage.setItem('kavrix.session', JSON.stringify(session));
    attach(session, size);
  } catch (err) {
    app.channelState = 'ended';
    showState();
    showMessage(`Could not start a session: ${err.message}`);
  }
}

reconnectButton.addEventListener('click', () => {
  app.channel?.send(ACTION.CONNECT_HOST);
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
  cursor: () => (app.screen ? { ...app.screen.cursor } : null),
  state: () => ({
    channel: app.channelState,
    hostConnected: app.hostConnected,
    session: app.session,
    reconnects: app.channel ? app.channel.reconnects : 0,
    updates: app.screen ? app.screen.updates : 0,
    keysSent: app.keysSent,
    dialog: app.dialogs.open,
    lastError: app.lastError,
  }),
  focus: () => app.keyboard?.focus(),
  dropChannel: () => app.channel?.drop(),
};

start();
