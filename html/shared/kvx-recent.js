// The host choices a person connected to lately, newest first, at most ten,
// kept in this browser's local storage.  A choice holds no password (see
// kvx-hosts.js), so none is ever kept here.
import { normalizeChoice, paramsForChoice } from './kvx-hosts.js';

const KEY = 'kavrix.recent';
export const RECENT_MAX = 10;

const keyOf = (choice) => paramsForChoice(choice).toString();

export function recentChoices() {
  let list = [];
  try {
    list = JSON.parse(localStorage.getItem(KEY) || '[]');
  } catch {
    list = [];
  }
  if (!Array.isArray(list)) return [];
  const seen = new Set();
  const out = [];
  for (const item of list) {
    if (!item || typeof item !== 'object') continue;
    const choice = normalizeChoice(item);
    const key = keyOf(choice);
    if (seen.has(key)) continue;
    seen.add(key);
    out.push(choice);
    if (out.length === RECENT_MAX) break;
  }
  return out;
}

function store(list) {
  try {
    localStorage.setItem(KEY, JSON.stringify(list));
  } catch {
    // Not kept: the list is a convenience.
  }
}

// Puts `choice` first (once).
export function rememberChoice(choice) {
  const c = normalizeChoice(choice);
  const key = keyOf(c);
  store([c, ...recentChoices().filter((r) => keyOf(r) !== key)].slice(0, RECENT_MAX));
}

export function forgetChoice(choice) {
  const key = keyOf(normalizeChoice(choice));
  store(recentChoices().filter((r) => keyOf(r) !== key));
}
