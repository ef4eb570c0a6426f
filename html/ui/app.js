// The browser application: creates a session for this device (or takes up
// the one this tab already had, or the one a link names), configures the
// host the address or the connect panel names (kvx-hosts.js; the local
// shell by default), opens the session's channel, draws what it sends,
// sends what is typed (kvx-keyboard.js) and shows the session's prompts as
// dialogs (kvx-dialogs.js); an IBM 3270 host gets the block-mode screen and
// keyboard (kvx-block.js).  Around the screen: the scrollback view
// (kvx-scrollback.js), selection, copy and paste (kvx-selection.js,
// kvx-clipboard.js), the host's title and bell, the text size, the recent
// hosts (connect-panel.js) and the sessions of this device (sessions.js).
// A new window size or text size goes to the session, which resizes the
// host's terminal; a page attached to a shared session follows the size
// the session has, its text smaller where that size does not fit.  A
// 3270 or 5250 screen has its host's size: its text is made to fit the
// area (kvx-fit.js) unless the person chose a size, it has a key bar
// (kvx-keybar.js), clickable PF-key hotspots (kvx-hotspots.js) and a
// paste that follows its fields (kvx-blockpaste.js).  The header folds into
// its menu on a narrow or touch window (header.js), where a touch key bar
// (kvx-touchbar.js) shows under the screen; the key help (kvx-keyhelp.js)
// lists the keys.  The person's settings (settings.js: colour scheme,
// font, cursor, key maps) are this browser's and apply to every screen:
// their key map comes before the keyboard and the page's own chords
// (kvx-keymap-user.js), their scheme colours the page (kvx-schemes.js).
// A host can have an automatic log-in (kvx-autologin.js),
// written in the connect panel and kept in this browser; a password it needs
// is asked for when the session connects.
//
// A prompt lasts until this page answers it or any other frame arrives: the
// session sends nothing else while it waits, so a later frame means that
// another browser answered or that the session stopped waiting.
import { postJson } from './api.js';
import { ConnectPanel } from './connect-panel.js';
import { CONN, TRANSITIONS, connectionMessage, hostConnected, hostConnecting } from './connection.js';
import { Header, addHeaderItem } from './header.js';
import { PrintJobs } from './kvx-print.js';
import { LoginEditor, kcfForLogin, loadLogin, needsPassword, saveLogin } from './kvx-autologin.js';
import { Bell } from './kvx-bell.js';
import { BlockScreen, classifyBlock } from './kvx-block.js';
import { LOGIN_ROWS_5250, classifyBlock5250 } from './kvx-block5250.js';
import { planBlockPaste } from './kvx-blockpaste.js';
import { Channel } from './kvx-channel.js';
import { ChordMap, PAGE_CHORDS, listenChords } from './kvx-chords.js';
import { isMultiLine, pasteCodes, writeClipboard } from './kvx-clipboard.js';
import { cursorLook, showCursorLook } from './kvx-cursor.js';
import { ScreenColors } from './kvx-colors.js';
import { Dialogs } from './kvx-dialogs.js';
import { is5250, isBlock } from './kvx-emulations.js';
import { MAX_FIT_PX, MIN_CELL_PX, largestFitting, sizeForCell } from './kvx-fit.js';
import {
  choiceFromParams, describeChoice, emulationOfValue, kcfForChoice, normalizeChoice, paramsForChoice, protocolOf,
} from './kvx-hosts.js';
import { Hotspots } from './kvx-hotspots.js';
import { KeyBar } from './kvx-keybar.js';
import { Keyboard, classify as defaultClassify } from './kvx-keyboard.js';
import { UserKeys, loadMaps, onStoredMaps } from './kvx-keymap-user.js';
import { KeyHelp } from './kvx-keyhelp.js';
import { identitySection } from './kvx-identity.js';
import { addKeys3270 } from './kvx-keys3270.js';
import { LabelLines } from './kvx-labels.js';
import { FONT_SIZES, clampFontSize, loadPrefs, onStoredPrefs, savePrefs } from './kvx-prefs.js';
import { ACTION, CAPABILITIES, parseStatusLine } from './kvx-protocol.js';
import { rememberChoice } from './kvx-recent.js';
import { applyScheme, fontStack, onSystemScheme } from './kvx-schemes.js';
import { Screen } from './kvx-screen.js';
import { ScrollView } from './kvx-scrollback.js';
import { Selection } from './kvx-selection.js';
import { TouchBar } from './kvx-touchbar.js';
import { listSessions, sessionAlive, sessionFromParams, sessionLink, sessionSettings } from './sessions.js';
import { SettingsPanel } from './settings.js';

const KC = globalThis.KvxKeyCodes;

let params = new URLSearchParams(location.search);
const $ = (id) => document.getElementById(id);
const stateEl = $('state');
const titleEl = $('title');
const hostTitleEl = $('host-title');
const messageEl = $('message');
const reconnectButton = $('reconnect');
const restartButton = $('restart');
const terminalEl = $('terminal');
const viewportEl = $('viewport');
const mainEl = document.querySelector('main');
const toastEl = $('toast');
const labels = new LabelLines($('labels'));

function deviceId() {
  let id = localStorage.getItem('kavrix.deviceId');
  if (!id) {
    const bytes = crypto.getRandomValues(new Uint8Array(16));
    id = Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
    localStorage.setItem('kavrix.deviceId', id);
  }
  return id;
}

// Everything the page keeps, each field declared here (sealed: no other
// field can be added elsewhere).
const app = Object.seal({
  deviceId: deviceId(),
  prefs: loadPrefs(),
  keys: new UserKeys(loadMaps()),  // the person's key maps (kvx-keymap-user.js)
  hostCursor: 0,          // the cursor style the host asked for (DECSCUSR), 0 none
  session: null,          // { id, port }
  joined: false,          // attached to a session this tab did not make
  channel: null,
  print: null,            // the session's print jobs (kvx-print.js)
  screen: null,
  colors: null,           // the exact colours and styles over the screen (COLORS frames)
  keyboard: null,
  header: null,           // the header and its menu (header.js)
  keyBar: null,           // the key bar of a block-mode screen (kvx-keybar.js)
  hotspots: null,         // the PF-key hotspots of a block-mode screen
  fontSize: 0,            // the text size in use (fitted, or the one chosen)
  fitted: '',             // the screen size and area the text size was fitted to
  scroll: null,
  selection: null,
  terminalKind: '',       // 'character', '3270' or '5250': the screen and keyboard made
  dialogs: new Dialogs(),  // the session's prompts
  questions: new Dialogs(),  // this page's own questions (a paste of lines)
  bell: null,
  conn: CONN.OPENING,     // the channel and the host (connection.js)
  rememberOnConnect: false,  // the choice joins the recent hosts once connected
  frames: 0,
  keysSent: 0,
  pastes: 0,
  lastError: '',
  notice: '',             // the session's notice that another emulation runs, '' for none
  hostTitle: '',          // the host's window title, '' when it set none
  modes: { bracketed: false, alternate: false },
  choice: choiceFromParams(params),
  size: null,             // { rows, cols } of the screen
  wantSize: null,         // the size this page last asked the session for
  kcf: null,              // the settings last posted, without secrets
});

const sizeFixed = () => Number(params.get('rows')) > 0 && Number(params.get('cols')) > 0;
const choiceKey = (choice) => paramsForChoice(choice).toString();
const isShellHost = () => !protocolOf(app.choice.commtype).block && !isBlock(app.choice.emulate);

// ---- text size and the screen's size ----

const isBlockScreen = () => Boolean(app.screen?.block);

function setFont(px) {
  terminalEl.style.setProperty('--kvx-font-size', `${px}px`);
}

// Whether the screen, its status line and key bar and the label lines lie
// inside the area under the header (only its width on a compact layout,
// where the page scrolls down).
function fitsArea(widthOnly) {
  return mainEl.scrollWidth <= mainEl.clientWidth &&
    (widthOnly || mainEl.scrollHeight <= mainEl.clientHeight);
}

// The text size the screen gets: on a 3270 or 5250 screen the size the
// person chose, else the largest that fits; on a character screen the size
// the person chose, smaller where the screen (the session's size) does not
// fit.  Never below a cell of MIN_CELL_PX: there the person pans.
function refit() {
  if (!app.screen) return;
  const block = isBlockScreen();
  const chosen = block ? app.prefs.blockFontSize : app.prefs.fontSize;
  let size = chosen;
  if (!block || !chosen) {
    const start = chosen || FONT_SIZES.default;
    setFont(start);
    const lo = sizeForCell(MIN_CELL_PX, app.screen.cellSize().width, start);
    const hi = block ? MAX_FIT_PX : chosen;
    const widthOnly = app.header?.compact ?? false;
    size = lo >= hi ? hi : largestFitting((f) => {
      setFont(f);
      return fitsArea(widthOnly);
    }, lo, hi);
  }
  setFont(size);
  app.fontSize = size;
  app.fitted = `${app.screen.rows}x${app.screen.cols} ${mainEl.clientWidth}x${mainEl.clientHeight}`;
  showFontSize();
}

// The screen took another size: its text is fitted again, the header says.
function screenResized() {
  if (!app.screen || app.fitted.startsWith(`${app.screen.rows}x${app.screen.cols} `)) return;
  refit();
  showTitle();
}

function showFontSize() {
  const size = app.fontSize || app.prefs.fontSize;
  const fitted = isBlockScreen() && !app.prefs.blockFontSize;
  const shown = $('font-size');
  shown.textContent = String(Math.round(size));
  shown.title = fitted ? 'Text size: as large as the screen fits (Ctrl+0 after a choice)' : 'Text size';
  $('font-smaller').disabled = size <= FONT_SIZES.min;
  $('font-larger').disabled = size >= FONT_SIZES.max;
}

// A larger or smaller text (or the default): a character screen's size
// gets more or fewer rows and columns; a block-mode screen's is the
// person's choice from now on (the default: as large as fits again).
function setFontSize(size) {
  if (isBlockScreen()) {
    const next = size === null ? 0 : clampFontSize(size);
    if (next === app.prefs.blockFontSize) return;
    app.prefs.blockFontSize = next;
    savePrefs(app.prefs);
    refit();
    return;
  }
  const next = clampFontSize(size ?? FONT_SIZES.default);
  if (next === app.prefs.fontSize) return;
  app.prefs.fontSize = next;
  savePrefs(app.prefs);
  refit();
  app.scroll?.render();
  resizeScreen();
}

// One step larger or smaller: from the size chosen, or on a block-mode
// screen whose text fits from the size in use.
const stepFontSize = (step) => {
  const base = isBlockScreen() ? app.prefs.blockFontSize || Math.round(app.fontSize) : app.prefs.fontSize;
  setFontSize(base + step);
};

// Rows and columns that fit the window at the chosen text size (or those
// asked for in the address).
function screenSize() {
  const clamp = (v, lo, hi) => Math.max(lo, Math.min(hi, v));
  const rows = Number(params.get('rows'));
  const cols = Number(params.get('cols'));
  if (rows > 0 && cols > 0) return { rows: clamp(rows, 2, 250), cols: clamp(cols, 10, 132) };
  const probe = document.createElement('div');
  probe.className = 'kvx-row';
  probe.textContent = 'M'.repeat(20);
  Object.assign(probe.style, { visibility: 'hidden', position: 'absolute', fontSize: `${app.prefs.fontSize}px` });
  terminalEl.appendChild(probe);
  const box = probe.getBoundingClientRect();
  probe.remove();
  const cellW = box.width / 20 || 9;
  const cellH = box.height || 18;
  // The area's padding, the terminal's padding, the scroll bar's room, the
  // label lines when shown, and a little to spare.
  const area = getComputedStyle(mainEl);
  const pad = parseFloat(getComputedStyle(terminalEl).paddingLeft) || 0;
  const labelsH = $('labels').hidden ? 0 : $('labels').getBoundingClientRect().height;
  const width = mainEl.clientWidth - parseFloat(area.paddingLeft) - parseFloat(area.paddingRight) - 2 * pad - 14 - 10;
  const height = mainEl.clientHeight - parseFloat(area.paddingTop) - parseFloat(area.paddingBottom) - 2 * pad -
    labelsH - 8;
  return {
    rows: clamp(Math.floor(height / cellH), 5, 250),
    cols: clamp(Math.floor(width / cellW), 20, 132),
  };
}

// The area under the header changed (the window, a panel or banner that
// opened or closed, the touch bar): the text is fitted again at once.  A
// character screen's rows and columns follow the window (and the layout)
// once its size has settled; a panel or banner only fits its text.
let resizeTimer = null;
function scheduleResize() {
  clearTimeout(resizeTimer);
  resizeTimer = setTimeout(() => {
    resizeTimer = null;
    resizeScreen();
  }, 250);
}
window.addEventListener('resize', scheduleResize);
new ResizeObserver(() => {
  if (app.screen && !app.fitted.endsWith(` ${mainEl.clientWidth}x${mainEl.clientHeight}`)) refit();
}).observe(mainEl);

// A window or text size that holds another number of rows or columns
// resizes the screen and tells the session, which resizes the host's
// terminal (and, while no host is connected, keeps the size for the next
// connect).
async function resizeScreen() {
  // A 3270 screen has its model's size, whatever the window.
  if (!app.session || !app.screen || !app.kcf || sizeFixed() || app.screen.block) return;
  const size = screenSize();
  if (size.rows === app.size.rows && size.cols === app.size.cols) return;
  app.wantSize = size;
  setSize(size);
  saveSession();
  await postSize();
}

// One size post at a time, the latest size last: posts on their way
// together could reach the session in either order.
const sizePost = { busy: false, again: false };
async function postSize() {
  if (sizePost.busy) {
    sizePost.again = true;
    return;
  }
  sizePost.busy = true;
  try {
    do {
      sizePost.again = false;
      const { rows, cols } = app.wantSize;
      const kcf = { ...app.kcf, lines: rows, col: cols, clearEmulator: 0 };
      app.kcf = kcf;
      try {
        await postJson(`/load_config?session=${encodeURIComponent(app.session.id)}`, { kcf, connectToHost: false });
      } catch (err) {
        showMessage(`Could not resize: ${err.message}`);
      }
    } while (sizePost.again);
  } finally {
    sizePost.busy = false;
  }
}

function setSize(size) {
  app.size = size;
  app.screen.resize(size.rows, size.cols);
  app.scroll.render();
  screenResized();
  showTitle();
}

// ---- what the header shows ----

// The host as a tab title names it.
function hostName(choice) {
  const c = normalizeChoice(choice);
  const protocol = protocolOf(c.commtype);
  if (!protocol.remote) return protocol.label;
  return c.user ? `${c.user}@${c.node}` : c.node;
}

// The header names the host and the screen's size: a 3270 or 5250
// screen's own (its host's), a character screen's the one asked for.
function showTitle() {
  hostTitleEl.textContent = app.hostTitle;
  hostTitleEl.hidden = !app.hostTitle;
  const size = isBlockScreen() ? { rows: app.screen.rows, cols: app.screen.cols } : app.size;
  if (size) titleEl.textContent = `${describeChoice(app.choice)}, ${size.cols} x ${size.rows}`;
  document.title = app.hostTitle || hostName(app.choice);
}

function saveSession() {
  if (!app.session) return;
  sessionStorage.setItem('kavrix.session', JSON.stringify({
    id: app.session.id, port: app.session.port, rows: app.size.rows, cols: app.size.cols,
    target: choiceKey(app.choice), joined: app.joined,
  }));
}

// The connection moves on (TRANSITIONS of connection.js) and the header
// shows where it stands.
function move(event) {
  app.conn = TRANSITIONS[event](app.conn);
  showState();
}

function showState() {
  let state;
  let text;
  if (app.conn === CONN.ENDED) {
    state = 'ended';
    text = 'Session ended';
  } else if (!app.conn.open) {
    state = 'connecting';
    text = app.channel && app.channel.reconnects + app.channel.retry > 0 ? 'Reconnecting' : 'Connecting';
  } else if (hostConnected(app.conn)) {
    state = 'connected';
    text = 'Connected';
  } else if (hostConnecting(app.conn)) {
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
  // The status line of a 3270 or 5250 screen follows: no CONNECTING once
  // the connect failed.
  app.screen?.setHostState?.({
    connected: hostConnected(app.conn),
    connecting: !app.conn.open || hostConnecting(app.conn),
  });
}

function showMessage(text) {
  messageEl.textContent = text || '';
  messageEl.hidden = !text;
}

let toastTimer = null;
function toast(text) {
  toastEl.textContent = text;
  toastEl.hidden = false;
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => {
    toastEl.hidden = true;
  }, 2600);
}

// ---- keys, copy and paste ----

function sendKey(code) {
  if (app.channel?.sendKey(code)) app.keysSent++;
}

async function copySelection() {
  const text = app.screen?.selectionText() ?? '';
  if (!text) return false;
  if (await writeClipboard(text)) {
    const lines = text.split('\n').length;
    toast(lines > 1 ? `Copied ${lines} lines` : 'Copied');
    return true;
  }
  toast('The browser did not let the page copy');
  return false;
}

// A paste goes to the host as typing (bracketed when the host asked); into
// a shell, text with a line break runs commands, so the page asks first.
async function paste(text) {
  if (!text || !app.channel?.isOpen) return;
  if (app.prefs.confirmPaste && isShellHost() && isMultiLine(text)) {
    const ok = await confirmPaste(text);
    app.keyboard?.focus();
    if (!ok) return;
  }
  app.pastes++;
  if (isBlockScreen()) {
    blockPaste(text);
    return;
  }
  for (const code of pasteCodes(text, app.modes.bracketed)) sendKey(code);
}

// A paste into a 3270 or 5250 screen fills its fields (kvx-blockpaste.js):
// each run typed where it belongs (a click moves the cursor there first),
// and the bell for what found no field.
function blockPaste(text) {
  const screen = app.screen;
  const cursor = { x: screen.cursor.x, y: screen.cursor.y };
  const { runs, dropped } = planBlockPaste(screen, cursor, text);
  let at = cursor;
  for (const run of runs) {
    if (run.row !== at.y || run.col !== at.x) {
      app.channel?.send(ACTION.CLIENT_ACTION_MOUSE, [String(run.row), String(run.col)]);
    }
    for (const code of pasteCodes(run.text, false)) sendKey(code);
    at = { x: run.col + [...run.text].length, y: run.row };
  }
  if (dropped) app.bell?.ring();
}

async function confirmPaste(text) {
  const lines = text.replace(/\r\n?/g, '\n').replace(/\n$/, '').split('\n');
  const preview = document.createElement('pre');
  preview.className = 'kvx-paste-preview';
  preview.textContent = lines.slice(0, 8).join('\n') + (lines.length > 8 ? `\n… ${lines.length - 8} more` : '');
  const never = Object.assign(document.createElement('input'), { type: 'checkbox' });
  const neverLabel = document.createElement('label');
  neverLabel.className = 'kvx-dialog-save-label';
  neverLabel.append(never, ' Do not ask again');
  const answer = await app.questions.show({
    kind: 'paste',
    title: `Paste ${lines.length === 1 ? 'a line' : `${lines.length} lines`} into the shell?`,
    message: 'Each line break runs the line before it, as if typed.',
    body: [preview, neverLabel],
    buttons: [['Cancel', 0, false], ['Paste', 1, true]],
    cancel: 0,
    read: Number,
  });
  if (answer === 1 && never.checked) {
    app.prefs.confirmPaste = false;
    savePrefs(app.prefs);
    if (settings.isOpen) settings.fill();
  }
  return answer === 1;
}

// A link to the clipboard, or shown to be copied by hand when the browser
// does not let the page.
async function copyLink(link, done) {
  if (await writeClipboard(link)) toast(done);
  else window.prompt('Copy this link:', link);
}

function shareSession() {
  if (!app.session) return;
  const link = sessionLink(app.session);
  copyLink(link, 'Link copied: whoever opens it shares this session');
}

// A right click opens the browser's own menu over the typing area (so that
// it offers to paste); with text selected, the area holds that text,
// selected, so that the menu offers to copy it too.
function prepareContextMenu() {
  const text = app.screen?.selectionText() ?? '';
  const area = app.keyboard?.area;
  if (!area || !text) return;
  area.value = text;
  area.select();
}

// Keys the page keeps for itself, wherever the focus is (kvx-chords.js):
// the text size, copy, and the scrollback's page keys while there is
// scrollback to see.  A handler that returns false leaves the key to the
// terminal.
function scrollPages(pages) {
  if (!app.scroll || !(app.scroll.kept > 0 || app.scroll.isBack) || !terminalEl.contains(document.activeElement)) {
    return false;
  }
  app.scroll.scrollPages(pages);
  return true;
}

// The page's chords with the person's key map of the screen shown: its
// chords go to the map, and the page's actions take the chords it gives them.
const chords = {
  map: new ChordMap(),
  match: (ev) => chords.map.match(ev),
  update: () => {
    chords.map = new ChordMap(PAGE_CHORDS, app.keys.pageOverrides(app.terminalKind || 'character'));
  },
};
listenChords(window, chords, {
  textLarger: () => stepFontSize(1),
  textSmaller: () => stepFontSize(-1),
  textDefault: () => setFontSize(null),
  copy: () => {
    copySelection();
  },
  scrollPageUp: () => scrollPages(1),
  scrollPageDown: () => scrollPages(-1),
}, () => !app.dialogs.open && !app.questions.open && !settings.capturing);

// ---- the session's frames ----

// Shows a prompt and sends the answer, unless the prompt ended first.
async function prompt(frame) {
  const [a = '', b = '', c = ''] = frame.fields;
  switch (frame.action) {
    case ACTION.HOST_ACTION_GET_ENTRY: {
      const answer = await app.dialogs.entry({ title: a, message: b, password: c === '1' });
      if (answer) app.channel?.send(ACTION.CLIENT_ACTION_GET_ENTRY_RESPONSE, [answer.text, String(answer.code)]);
      break;
    }
    case ACTION.HOST_ACTION_GET_YESNO: {
      const answer = await app.dialogs.yesNo({ title: a, message: b });
      if (answer !== null) app.channel?.send(ACTION.CLIENT_ACTION_GET_YESNO_RESPONSE, [String(answer)]);
      break;
    }
    case ACTION.HOST_ACTION_SHOW_FATAL_ERROR: {
      // Said once: in the dialog while it is open, in the page after.
      app.rememberOnConnect = false;
      move('connectFailed');
      const text = errorText(b);
      app.lastError = text;
      showMessage('');
      const answer = await app.dialogs.error({ fatal: a === '1', message: text });
      if (answer) app.channel?.send(ACTION.CLIENT_ACTION_ACK_FATAL_ERROR);
      if (app.lastError === text) showMessage(text);
      break;
    }
    default:
      return;
  }
  if (!app.dialogs.open) app.keyboard?.focus();
}

// A connection error names the host and port this page connected to.
function errorText(text) {
  const c = normalizeChoice(app.choice);
  return protocolOf(c.commtype).remote ? connectionMessage(text, c.node, c.port) : connectionMessage(text);
}

function onFrame(frame) {
  app.frames++;
  if (app.print?.onFrame(frame)) return;
  const isPrompt = [ACTION.HOST_ACTION_GET_ENTRY, ACTION.HOST_ACTION_GET_YESNO, ACTION.HOST_ACTION_SHOW_FATAL_ERROR]
    .includes(frame.action);
  if (!isPrompt && app.dialogs.open) app.dialogs.dismiss();
  const [f0, f1, f2, f3] = frame.fields;
  switch (frame.action) {
    case ACTION.HOST_ACTION_CONNECTED: {
      const up = f0 === '1';
      if (up) showMessage(app.notice);
      if (up && app.rememberOnConnect) {
        app.rememberOnConnect = false;
        rememberChoice(app.choice);
      }
      // While a post of new settings is on its way, a "0" is the end of the
      // previous host, not of the connect it asks for (connection.js).
      move(up ? 'hostUp' : 'hostDown');
      break;
    }
    case ACTION.HOST_ACTION_UPDATE:
      app.screen.applyUpdate(f0, frame.data);
      screenResized();
      break;
    case ACTION.HOST_ACTION_COLORS:
      app.colors?.apply(f0, frame.data);
      break;
    case ACTION.HOST_ACTION_LABELS:
      labels.apply(frame.fields, frame.data);
      break;
    case ACTION.HOST_ACTION_NOTICE:
      // Another emulation runs than the one asked for (an empty text: no more).
      if (frame.fields[0] === 'emulation') {
        app.notice = (frame.fields[1] || '').trim();
        showMessage(app.notice);
      }
      break;
    case ACTION.HOST_ACTION_STATUS:
      app.screen.setStatus?.(parseStatusLine(frame.fields));
      screenResized();
      break;
    case ACTION.HOST_ACTION_SET_CURSOR: {
      const [x, y] = String(f0).split(':').map(Number);
      if (Number.isInteger(x) && Number.isInteger(y)) {
        app.screen.setCursor(x, y, f1 === '1');
        app.keyboard?.moveTo(x, y);
      }
      break;
    }
    case ACTION.HOST_ACTION_TITLE:
      app.hostTitle = (f0 ?? '').trim();
      showTitle();
      break;
    case ACTION.HOST_ACTION_BELL:
      app.bell.ring();
      break;
    case ACTION.HOST_ACTION_SCROLLBACK:
      app.scroll.onState(Number(f0), Number(f1), Number(f2));
      break;
    case ACTION.HOST_ACTION_LINES:
      app.screen.setLines(Number(f0), frame.data);
      break;
    case ACTION.HOST_ACTION_MODES: {
      app.modes = { bracketed: f0 === '1', alternate: f1 === '1' };
      // The cursor style the host chose (DECSCUSR), when the session says.
      app.hostCursor = Number(frame.fields[4]) || 0;
      showCursor();
      app.scroll.setAlternate(app.modes.alternate);
      const rows = Number(f2);
      const cols = Number(f3);
      // The session's size, whoever set it: it comes ahead of the cells drawn
      // at it.  While this page's own sizes are on their way, the sizes it
      // asked for earlier are passed over (the one it wants shows already).
      const want = app.wantSize;
      const asked = sizePost.busy && want && (rows !== want.rows || cols !== want.cols);
      const shown = app.screen;  // stale cells of a larger size may have grown it
      if (rows > 0 && cols > 0 && !asked && (rows !== app.size.rows || cols !== app.size.cols ||
        rows !== shown.rows || cols !== shown.cols)) {
        setSize({ rows, cols });
        saveSession();
      }
      break;
    }
    default:
      if (isPrompt) prompt(frame);
      break;
  }
}

// ---- the channel ----

// The channel goes through the server's own port, which relays it to the
// session; the session's identifier is what lets a browser in.
function channelUrl(session) {
  const scheme = location.protocol === 'https:' ? 'wss' : 'ws';
  return `${scheme}://${location.host}/get_te_channel?session=${encodeURIComponent(session.id)}`;
}

function attach(session, size) {
  app.channel?.close();
  app.session = session;
  app.hostTitle = '';
  app.size = size;
  // A joined session's host may want the other kind of screen.
  if (app.terminalKind !== terminalKind(app.choice.emulate)) makeTerminal(size);
  else if (!isBlockScreen()) app.screen.resize(size.rows, size.cols);
  screenResized();
  app.scroll.reset();
  app.channel = new Channel(channelUrl(session), {
    onOpen: () => {
      app.screen.resetCursor();
      app.keyboard.moveTo(0, 0);
      app.scroll.reset();
      app.channel.send(ACTION.CLIENT_ACTION_REFRESH);
      // Where the view stands, and the modes, size and title with it.
      app.channel.send(ACTION.CLIENT_ACTION_SCROLLBACK, ['0']);
      app.print?.reset();
    },
    onFrame,
    onState: (state) => {
      if (state !== 'open') app.dialogs.dismiss();  // the session no longer waits for this page
      move({ open: 'channelOpen', ended: 'ended' }[state] ?? 'channelClosed');
    },
    stillAlive: () => sessionAlive(session),
  }, { capabilities: CAPABILITIES });
  showTitle();
  app.channel.open();
  app.keyboard.focus();
}

// The kind of terminal an emulation needs.
const terminalKind = (emulate) => {
  if (is5250(emulate)) return '5250';
  return isBlock(emulate) ? '3270' : 'character';
};

// The size a 3270 or 5250 screen starts with, until its status line says.
const BLOCK_START_SIZE = Object.freeze({ rows: 24, cols: 80 });

// The screen and keyboard of the chosen emulation: IBM 5250 or IBM 3270
// (kvx-block5250.js, kvx-block.js) with their key bar and PF-key
// hotspots, or character mode.  The bell, the scrollback view and the
// selection are made once (aroundScreen) and follow the screen.
function makeTerminal(size) {
  app.keyboard?.dispose();
  app.keyBar?.dispose();
  app.keyBar = null;
  app.hotspots = null;
  terminalEl.classList.remove('kvx-block');
  app.terminalKind = terminalKind(app.choice.emulate);
  const click = (row, col) => app.channel?.send(ACTION.CLIENT_ACTION_MOUSE, [String(row), String(col)]);
  let classify;  // what the keyboard makes of a keydown (kvx-keyboard.js's own by default)
  const kind = app.terminalKind;
  if (kind === '5250' || kind === '3270') {
    app.keyBar = new KeyBar(kind, { send: sendKey, help: openKeyHelp });
    app.colors = null;
    app.screen = new BlockScreen(terminalEl, BLOCK_START_SIZE.rows, BLOCK_START_SIZE.cols, {
      click,
      keyBar: app.keyBar.element,
      underlineInput: () => kind === '3270' && app.prefs.fieldUnderline,
      drawn: () => app.hotspots?.update(),
    });
    app.hotspots = new Hotspots(app.screen, kind, {
      press: (k) => sendKey(k.code),
      enabled: () => app.prefs.pfHotspots,
    });
    classify = kind === '5250' ? classifyBlock5250 : classifyBlock;
  } else {
    app.screen = new Screen(terminalEl, size.rows, size.cols);
    app.colors = new ScreenColors(app.screen);
  }
  viewportEl.classList.toggle('kvx-viewport-block', isBlockScreen());
  // The person's key map of this kind comes first.
  const base = classify ?? defaultClassify;
  app.keyboard = new Keyboard(terminalEl, sendKey, { paste, classify: UserKeys.classifier(kind, () => app.keys, base) });
  chords.update();
  touchBar.setKind(kind, app.keyboard);
  // The modes are the character-mode host's; a new screen starts without.
  app.modes = { bracketed: false, alternate: false };
  app.hostCursor = 0;
  showCursor();
  app.scroll?.setScreen(app.screen);
  if (app.selection) app.selection.screen = app.screen;
  // What the context menu copied leaves the typing area again.
  const area = app.keyboard.area;
  const emptyArea = () => {
    if (!app.keyboard.composing) area.value = '';
  };
  area.addEventListener('copy', () => setTimeout(emptyArea));
  area.addEventListener('blur', emptyArea);
  area.addEventListener('keydown', emptyArea, true);
  app.fitted = '';
  refit();
  showState();
}

function aroundScreen() {
  app.bell = new Bell(viewportEl, () => app.prefs.bellSound);
  app.scroll = new ScrollView({
    screen: app.screen,
    bar: $('scrollbar'),
    badge: $('live'),
    request: (n) => app.channel?.send(ACTION.CLIENT_ACTION_SCROLLBACK, [String(n)]) ?? false,
    arrows: (up, n) => {
      const code = KC.codePoint(up ? 'UP' : 'DOWN');
      for (let i = 0; i < n; i++) sendKey(code);
    },
    onChange: (view) => viewportEl.classList.toggle('kvx-viewport-back', view.isBack),
  });
  app.selection = new Selection(app.screen, terminalEl, {
    onSelect: () => {
      if (app.prefs.copyOnSelect) copySelection();
    },
  });
  viewportEl.addEventListener('wheel', (ev) => {
    if (app.scroll.onWheel(ev)) ev.preventDefault();
  }, { passive: false });
  terminalEl.addEventListener('contextmenu', prepareContextMenu);
}

// ---- starting, joining, connecting ----

async function start() {
  showMessage('');
  move('starting');
  const size = screenSize();
  try {
    const linked = sessionFromParams(params);
    if (linked) {
      await join(linked);
      return;
    }
    const saved = JSON.parse(sessionStorage.getItem('kavrix.session') || 'null');
    // A session this tab joined is taken up as it is, whatever the address says.
    const alive = saved && saved.id && saved.port && (await sessionAlive(saved));
    if (alive && saved.joined && (await join({ id: saved.id, port: saved.port }))) return;
    if (alive && !saved.joined) {
      const kept = { rows: saved.rows || size.rows, cols: saved.cols || size.cols };
      app.joined = false;
      attach({ id: saved.id, port: saved.port }, kept);
      // The address names another host than the session had: go there.
      if (saved.target !== choiceKey(app.choice)) await connectTo(app.choice);
      else app.kcf = kcfForChoice(app.choice, kept);
      return;
    }
    const created = await postJson('/new_session', { deviceId: app.deviceId });
    const session = { id: created.sessionId, port: created.port };
    app.joined = false;
    app.rememberOnConnect = true;
    await postConfig(session, app.choice, size, await loginFor(app.choice));
    attach(session, size);
    saveSession();
  } catch (err) {
    move('ended');
    showMessage(`Could not start a session: ${err.message}`);
  }
}

// Attaches to a session that exists already (a link, the sessions list):
// the same screen, and both pages type into it.  The page takes the host
// and the size the session has.
async function join(session) {
  if (!(await sessionAlive(session))) {
    move('ended');
    showMessage('That session has ended.');
    return false;
  }
  if (!session.port) {
    const mine = await listSessions(app.deviceId).catch(() => []);
    session.port = mine.find((s) => s.id === session.id)?.port || 0;
    if (!session.port) {
      move('ended');
      showMessage('The link does not say where the session listens.');
      return false;
    }
  }
  const settings = await sessionSettings(session);
  if (settings) app.choice = settings.choice;
  const size = sizeFixed() ? screenSize() : settings?.size || screenSize();
  app.joined = true;
  attach(session, size);
  app.kcf = kcfForChoice(app.choice, size);
  saveSession();
  return true;
}

// Posts the settings for `choice` with its log-in; passwords travel as
// secrets only.  Only the latest of the posts on their way together ends
// the connection's posting (connection.js).
let latestPost = 0;
async function postConfig(session, choice, size,
  { password = '', login = null, loginPassword = '', connect = true, disconnect = false } = {}) {
  const screen = is5250(choice.emulate) ? { rowsFromBottom: LOGIN_ROWS_5250 } : {};
  const kcf = { ...kcfForChoice(choice, size, password), ...kcfForLogin(login, loginPassword, screen) };
  const { secureKeys, ...kept } = kcf;
  app.kcf = kept;
  const post = ++latestPost;
  if (connect) move('connectPosting');
  else showState();
  try {
    await postJson(`/load_config?session=${encodeURIComponent(session.id)}`, {
      kcf,
      connectToHost: connect,
      disconnectFromHost: disconnect,
    });
  } catch (err) {
    move('connectFailed');
    throw err;
  }
  if (post === latestPost) move('connectPosted');
  else showState();
}

// The automatic log-in of `choice`, with the password its steps send: the
// one typed in the panel, or else asked for now.  Declining the question
// connects without the log-in.
async function loginFor(choice, typed = '') {
  const login = loadLogin(choice);
  if (!login.enabled || !login.steps.length) return {};
  if (!needsPassword(login.steps) || typed) return { login, loginPassword: typed };
  const answer = await app.questions.entry({
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
  app.hostTitle = '';
  showTitle();
  saveSession();
  showMessage('');
  app.lastError = '';
  app.rememberOnConnect = true;
  try {
    const login = await loginFor(app.choice, password);
    await postConfig(app.session, app.choice, app.size, { password, disconnect: true, ...login });
  } catch (err) {
    app.rememberOnConnect = false;
    showMessage(`Could not connect: ${err.message}`);
  }
}

// ---- the header's panels ----

// The automatic log-in of a remote host, a section of the connect panel:
// the steps written are kept for the host the panel connects to.
const loginSection = {
  id: 'autologin',
  title: 'Automatic log-in',
  build: () => {
    const box = Object.assign(document.createElement('fieldset'), { id: 'autologin', className: 'kvx-login' });
    box.editor = new LoginEditor(box);
    return box;
  },
  fill: (box, choice) => box.editor.fill(loadLogin(normalizeChoice(choice))),
  read: (box, choice) => {
    if (protocolOf(choice.commtype).remote) saveLogin(normalizeChoice(choice), box.editor.read());
    return choice;
  },
  shown: (protocol) => protocol.remote,
};

const panel = new ConnectPanel($('connect-panel'), $('connect-toggle'), {
  sections: [
    identitySection(() => $('connect-panel').elements.namedItem('emulate'), emulationOfValue),
    loginSection,
  ],
  current: () => app.choice,
  connect: (choice, password) => {
    if (app.session) connectTo(choice, password);
  },
  onClose: () => app.keyboard?.focus(),
});

// A popover under its button: one open at a time, Escape or a click
// elsewhere closes it.
function popover(button, box, fill) {
  const close = () => {
    box.hidden = true;
    button.setAttribute('aria-expanded', 'false');
  };
  button.addEventListener('click', async () => {
    const open = box.hidden;
    for (const other of document.querySelectorAll('.popover')) other.hidden = true;
    if (!open) return close();
    await fill?.();
    box.hidden = false;
    button.setAttribute('aria-expanded', 'true');
    box.querySelector('button, input, a')?.focus();
  });
  box.addEventListener('keydown', (ev) => {
    if (ev.key === 'Escape') {
      close();
      app.keyboard?.focus();
    }
  });
  document.addEventListener('mousedown', (ev) => {
    if (!box.hidden && !box.contains(ev.target) && !button.contains(ev.target)) close();
  });
  return close;
}

// The sessions of this device, each with its host, to open here, in
// another tab, or to hand on as a link.
async function fillSessions() {
  const list = $('sessions-list');
  list.replaceChildren(Object.assign(document.createElement('li'), { textContent: 'Looking…' }));
  let sessions = [];
  try {
    sessions = await listSessions(app.deviceId);
  } catch (err) {
    list.replaceChildren(Object.assign(document.createElement('li'), { textContent: err.message }));
    return;
  }
  // This tab's session (perhaps another device's) is listed too.
  if (app.session && !sessions.some((s) => s.id === app.session.id)) sessions.unshift({ ...app.session });
  const settings = await Promise.all(sessions.map((s) => sessionSettings(s)));
  const items = sessions.map((s, i) => {
    const item = document.createElement('li');
    const here = app.session?.id === s.id;
    item.className = here ? 'current' : '';
    const name = document.createElement('span');
    name.className = 'session-name';
    name.textContent = settings[i] ? describeChoice(settings[i].choice) : 'No host yet';
    const id = Object.assign(document.createElement('code'), { textContent: s.id.slice(0, 8) });
    const actions = document.createElement('span');
    actions.className = 'session-actions';
    if (here) {
      actions.append(Object.assign(document.createElement('em'), { textContent: 'this tab' }));
    } else {
      const open = Object.assign(document.createElement('button'), { type: 'button', textContent: 'Open here' });
      open.dataset.session = s.id;
      open.addEventListener('click', () => {
        closeSessions();
        switchTo(s);
      });
      actions.append(open);
    }
    const tab = Object.assign(document.createElement('a'), {
      href: sessionLink(s), target: '_blank', rel: 'noopener', textContent: 'New tab',
    });
    const copy = Object.assign(document.createElement('button'), { type: 'button', textContent: 'Copy link' });
    copy.addEventListener('click', () => {
      copyLink(sessionLink(s), 'Link copied');
    });
    actions.append(tab, copy);
    item.append(name, id, actions);
    return item;
  });
  if (!items.length) items.push(Object.assign(document.createElement('li'), { textContent: 'No live sessions.' }));
  list.replaceChildren(...items);
}

// This tab leaves its session (which goes on) for another one.
async function switchTo(session) {
  app.channel?.close();
  app.channel = null;
  params = new URLSearchParams();
  history.replaceState(null, '', location.pathname);
  if (!(await join({ ...session }))) return;
  showTitle();
}

const closeSessions = popover($('sessions-toggle'), $('sessions-panel'), fillSessions);
// ---- the person's settings ----

// The settings panel (settings.js), a tool of the header.
const settings = new SettingsPanel($('settings-panel'), {
  state: () => ({ prefs: app.prefs, maps: app.keys.maps, family: app.terminalKind || 'character' }),
  apply: (next, changed) => applySettings(next, changed),
  onClose: () => app.keyboard?.focus(),
});
addHeaderItem({ id: 'settings', tool: true, label: '\u2699', name: 'Settings', title: 'Settings',
  buttonId: 'settings-toggle', order: 90, onSelect: () => settings.toggle() });

// The cursor's look: the host's style, else the person's, else the page's.
function showCursor() {
  showCursorLook(terminalEl, cursorLook(app.hostCursor, app.prefs.cursorStyle));
}

// The look the preferences give: colour scheme, font, cursor, blinking.
function showLook() {
  applyScheme(document.documentElement, app.prefs.scheme);
  document.documentElement.style.setProperty('--kvx-font-family', fontStack(app.prefs.fontFamily));
  document.body.classList.toggle('kvx-no-blink', !app.prefs.blinkText);
  showCursor();
}

// New preferences or key maps in force (`changed` names what changed):
// what they show changes at once.
function applySettings({ prefs, maps }, changed) {
  if (prefs) app.prefs = { ...prefs };
  if (maps) {
    app.keys = new UserKeys(maps);
    chords.update();
  }
  showLook();
  if (changed.has('fieldUnderline')) app.screen?.showFields?.();
  if (changed.has('pfHotspots')) app.hotspots?.update();
  // Another font or text size: the screen is fitted again.
  if (['fontFamily', 'fontSize', 'blockFontSize'].some((n) => changed.has(n))) {
    app.fitted = '';
    refit();
    app.scroll?.render();
    resizeScreen();
  }
}

// What another page of this browser saved applies here too.
onStoredPrefs(() => applySettings({ prefs: loadPrefs() }, new Set(['fieldUnderline', 'pfHotspots', 'fontFamily',
  'fontSize', 'blockFontSize'])));
onStoredMaps(() => applySettings({ maps: loadMaps() }, new Set(['keymaps'])));
onSystemScheme(() => showLook());

// The key help: a popover of the keys of the screen shown (kvx-keyhelp.js),
// opened from the key bars and the header's menu.
const keyHelpEl = $('keyhelp-panel');
const keyHelp = new KeyHelp(keyHelpEl, { send: sendKey });
function openKeyHelp() {
  for (const other of document.querySelectorAll('.popover')) other.hidden = true;
  keyHelp.fill(app.terminalKind, chords.map.entries, app.keys);
  keyHelpEl.hidden = false;
  keyHelpEl.querySelector('button')?.focus();
}
function closeKeyHelp() {
  keyHelpEl.hidden = true;
  app.keyboard?.focus();
}
keyHelpEl.addEventListener('keydown', (ev) => {
  if (ev.key === 'Escape') closeKeyHelp();
});
document.addEventListener('mousedown', (ev) => {
  if (!keyHelpEl.hidden && !keyHelpEl.contains(ev.target) && !ev.target.closest?.('.kvx-keybar-help, #header-menu'))
    keyHelpEl.hidden = true;
});
addHeaderItem({ id: 'keyhelp', label: 'Key help', title: 'The keys of this screen and of the page', order: 10,
  onSelect: openKeyHelp });
addKeys3270(sendKey);
app.print = new PrintJobs({ session: () => app.session, send: (action, fields) => app.channel?.send(action, fields),
  toast });

// The header, its menu and the layout: a narrow or touch window folds the
// tools into the menu and shows the touch key bar.
const touchBar = new TouchBar($('touchbar'), {
  send: sendKey,
  press: (init) => app.keyboard?.press(init),
  help: openKeyHelp,
  type: () => app.keyboard?.focus(),
});
const showTouchBar = () => {
  $('touchbar').hidden = !app.header.compact;
};
app.header = new Header({
  tools: document.querySelector('header .tools'),
  menuButton: $('menu-toggle'),
  menu: $('header-menu'),
  focusTerminal: () => app.keyboard?.focus(),
  onLayout: () => {
    showTouchBar();
    refit();
    scheduleResize();
  },
});
showTouchBar();

$('font-smaller').addEventListener('click', () => stepFontSize(-1));
$('font-larger').addEventListener('click', () => stepFontSize(1));
$('share').addEventListener('click', shareSession);
reconnectButton.addEventListener('click', () => {
  if (app.channel?.send(ACTION.CLIENT_ACTION_CONNECT_HOST)) move('connectAsked');
  app.keyboard?.focus();
});
restartButton.addEventListener('click', () => {
  app.channel?.close();
  sessionStorage.removeItem('kavrix.session');
  if (sessionFromParams(params)) {
    params = new URLSearchParams();
    history.replaceState(null, '', location.pathname);
  }
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
  selection: () => (app.screen ? app.screen.selectionText() : ''),
  status: () => (app.screen?.status ? { ...app.screen.status } : null),
  state: () => ({
    channel: app.conn === CONN.ENDED ? 'ended' : app.conn.open ? 'open' : 'connecting',
    connection: app.conn.name,
    hostConnected: hostConnected(app.conn),
    hostConnecting: hostConnecting(app.conn),
    session: app.session,
    joined: app.joined,
    reconnects: app.channel ? app.channel.reconnects : 0,
    updates: app.screen ? app.screen.updates : 0,
    keysSent: app.keysSent,
    pastes: app.pastes,
    dialog: app.dialogs.open || app.questions.open,
    lastError: app.lastError,
    hostTitle: app.hostTitle,
    bells: app.bell ? app.bell.rings : 0,
    back: app.scroll ? app.scroll.back : 0,
    settled: app.screen ? app.screen.settled : true,
    kept: app.scroll ? app.scroll.kept : 0,
    scrollRequests: app.scroll ? app.scroll.requests : 0,
    modes: { ...app.modes },
    fontSize: app.prefs.fontSize,
    shownFontSize: app.fontSize,
    blockFontSize: app.prefs.blockFontSize,
    compact: app.header.compact,
    resizing: sizePost.busy || resizeTimer !== null,
  }),
  choice: () => ({ ...app.choice }),
  size: () => (app.size ? { ...app.size } : null),
  link: () => (app.session ? sessionLink(app.session) : ''),
  scrollTo: (n) => app.scroll?.go(n),
  focus: () => app.keyboard?.focus(),
  dropChannel: () => app.channel?.drop(),
};

showLook();
makeTerminal(screenSize());
aroundScreen();
start();
