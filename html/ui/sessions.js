// Sessions beyond this tab: the live sessions of this device (the server
// lists them, "/list_sessions"), what host each one has (its settings,
// "/get_config_values"), and links that open a session in any tab or
// browser.  A link carries the session's identifier, which is what lets its
// holder attach: nothing else in the page names a session.
import { ApiError, STATUS, postJson } from './api.js';
import { choiceFromParams, normalizeChoice } from './kvx-hosts.js';

const CHOICE_KEYS = ['commtype', 'node', 'port', 'sshport', 'user', 'emulate', 'sslVerifyServer', 'language',
  'lines', 'col'];

// [{ id, port }] of this device's sessions, in the order they were made.
export async function listSessions(deviceId) {
  const list = await postJson('/list_sessions', { deviceId });
  if (!Array.isArray(list)) return [];
  return list.filter((s) => s && typeof s.sessionId === 'string')
    .map((s) => ({ id: s.sessionId, port: Number(s.kvxPort) || 0 }));
}

const relayPath = (path, id) => `${path}?session=${encodeURIComponent(id)}`;

// Whether the session still lives: the server relays to it only while it
// does.  A session without settings yet is alive too.
export async function sessionAlive(session) {
  try {
    await postJson(relayPath('/get_config_values', session.id), ['commtype']);
    return true;
  } catch (err) {
    return err instanceof ApiError && err.code === STATUS.NO_CONFIG;
  }
}

// The host choice and screen size a session was given, or null without
// settings.
export async function sessionSettings(session) {
  let values;
  try {
    values = await postJson(relayPath('/get_config_values', session.id), CHOICE_KEYS);
  } catch {
    return null;
  }
  if (!values || typeof values !== 'object') return null;
  const params = new URLSearchParams();
  for (const [name, value] of Object.entries(values)) if (value !== '' && value != null) params.set(name, value);
  if (!params.has('commtype')) return null;
  const choice = choiceFromParams(params);
  const rows = Number(values.lines);
  const cols = Number(values.col);
  return { choice: normalizeChoice(choice), size: rows > 0 && cols > 0 ? { rows, cols } : null };
}

// The address that opens `session` in another tab or browser.
export function sessionLink(session, base = location) {
  const url = new URL(base.pathname, base.origin);
  url.searchParams.set('session', session.id);
  if (session.port) url.searchParams.set('kvxport', String(session.port));
  return url.toString();
}

// The session an address names, or null.
export function sessionFromParams(params) {
  const id = params.get('session');
  if (!id || !/^[\w.-]{1,128}$/.test(id)) return null;
  const port = Number(params.get('kvxport'));
  return { id, port: Number.isInteger(port) && port > 0 && port < 65536 ? port : 0 };
}
