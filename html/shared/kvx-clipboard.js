// Copy and paste: copying to the system clipboard where the browser lets a
// page (the asynchronous clipboard of secure pages, otherwise the copy
// command inside a person's own gesture), and what a paste sends to the
// host: the text without control characters (a pasted escape sequence could
// act as typed commands), line ends as Enter, wrapped in the bracketed-paste
// marks when the host asked for them (CSI ? 2004 h) so that it knows the
// text from typing.
import { textCodes } from './kvx-keyboard.js';

// C0 controls other than tab and the line ends, DEL and the C1 controls.
const CONTROLS = /[\u0000-\u0008\u000b\u000c\u000e-\u001f\u007f-\u009f]/g;

export function cleanPaste(text) {
  return String(text ?? '').replace(CONTROLS, '');
}

// Whether a paste holds more than one line: a line break before its last
// line (pasted into a shell, each one runs the line before it).
export function isMultiLine(text) {
  return /[\r\n]/.test(String(text ?? '').replace(/(\r\n|\r|\n)$/, ''));
}

const codesOf = (s) => [...s].map((c) => c.charCodeAt(0));
const BRACKET_START = [27, ...codesOf('[200~')];
const BRACKET_END = [27, ...codesOf('[201~')];

// The key codes a paste sends.
export function pasteCodes(text, bracketed) {
  const codes = textCodes(cleanPaste(text));
  return bracketed ? [...BRACKET_START, ...codes, ...BRACKET_END] : codes;
}

let pending = null;
document.addEventListener('copy', (ev) => {
  if (pending === null) return;
  ev.clipboardData.setData('text/plain', pending);
  ev.preventDefault();
});

// Puts text on the clipboard; true when it got there.
export async function writeClipboard(text) {
  if (navigator.clipboard?.writeText && window.isSecureContext) {
    try {
      await navigator.clipboard.writeText(text);
      return true;
    } catch {
      // Refused (no focus, no permission): the copy command may still do.
    }
  }
  pending = text;
  try {
    return document.execCommand('copy');
  } catch {
    return false;
  } finally {
    pending = null;
  }
}
