// The browser side of a session's channel: channel frames (a text head of
// lines and a data block, one per WebSocket binary message), their field
// encoding, and a WebSocket that reopens itself after a drop for as long as
// its owner says the session lives.
import { ACTION } from './kvx-protocol.js';

const utf8 = new TextEncoder();
const utf8Decoder = new TextDecoder();
const HEX = '0123456789abcdef';

// A field as it travels: UTF-8, with '%', control bytes and bytes from 0x7F
// up written as "%xx"; an empty field is a single space.
export function encodeField(text) {
  const bytes = utf8.encode(String(text));
  if (bytes.length === 0) return ' ';
  let out = '';
  for (const b of bytes) {
    if (b === 0x25 || b < 0x20 || b >= 0x7f) out += '%' + HEX[b >> 4] + HEX[b & 15];
    else out += String.fromCharCode(b);
  }
  return out;
}

function hexValue(c) {
  if (c >= 0x30 && c <= 0x39) return c - 0x30;
  if (c >= 0x61 && c <= 0x66) return c - 0x57;
  if (c >= 0x41 && c <= 0x46) return c - 0x37;
  return -1;
}

export function decodeField(bytes) {
  const out = new Uint8Array(bytes.length);
  let n = 0;
  for (let i = 0; i < bytes.length; i++) {
    if (bytes[i] === 0x25 && i + 2 < bytes.length) {
      const hi = hexValue(bytes[i + 1]);
      const lo = hexValue(bytes[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out[n++] = hi * 16 + lo;
        i += 2;
        continue;
      }
    }
    out[n++] = bytes[i];
  }
  return utf8Decoder.decode(out.subarray(0, n));
}

export function encodeFrame(action, fields = [], data = null) {
  let head = `KVX 1.0\n${action}\n`;
  for (const f of fields) head += encodeField(f) + '\n';
  const size = data ? data.length : 0;
  head += `\n${size}\n`;
  const headBytes = utf8.encode(head);
  const frame = new Uint8Array(headBytes.length + size);
  frame.set(headBytes, 0);
  if (size) frame.set(data, headBytes.length);
  return frame;
}

// One frame from a message: { action, fields, data } (data a view into the
// message), or null when the message is not a complete frame.
export function decodeFrame(buffer) {
  const bytes = new Uint8Array(buffer);
  const lines = [];
  let start = 0;
  for (;;) {
    const nl = bytes.indexOf(0x0a, start);
    if (nl < 0) return null;
    lines.push(bytes.subarray(start, nl));
    start = nl + 1;
    // The head ends with an empty line and the length line after it.
    if (lines.length >= 4 && lines[lines.length - 2].length === 0) break;
  }
  const version = utf8Decoder.decode(lines[0]);
  const action = Number(utf8Decoder.decode(lines[1]));
  const size = Number(utf8Decoder.decode(lines[lines.length - 1]));
  if (!version.startsWith('KVX') || !Number.isInteger(action) || !Number.isInteger(size)) return null;
  if (start + size > bytes.length) return null;
  const fields = lines.slice(2, lines.length - 2).map(decodeField);
  return { action, fields, data: bytes.subarray(start, start + size) };
}

// The key frame: one key code as a 4-byte little-endian signed integer.
export function keyFrame(code) {
  const data = new Uint8Array(4);
  new DataView(data.buffer).setInt32(0, code, true);
  return encodeFrame(ACTION.CLIENT_ACTION_ONKEY, [], data);
}

// A WebSocket with subprotocol "teCtrl" to a session process.  `handlers`:
//   onOpen(), onFrame(frame), onState(state: 'connecting'|'open'|'closed'|'ended'),
//   async stillAlive() -> boolean: asked after a drop; false ends the retries.
// `capabilities`, when given (a list of names, perhaps empty), go to the
// session in a CAPABILITIES frame as the first frame of every opened socket,
// before onOpen; without it the channel names none and sends no such frame.
export class Channel {
  constructor(url, handlers, { capabilities = null } = {}) {
    this.url = url;
    this.handlers = handlers;
    this.capabilities = capabilities;
    this.ws = null;
    this.stopped = false;
    this.retry = 0;
    this.reconnects = 0;
    this.timer = null;
  }

  open() {
    this.stopped = false;
    this.handlers.onState?.('connecting');
    const ws = new WebSocket(this.url, 'teCtrl');
    ws.binaryType = 'arraybuffer';
    this.ws = ws;
    ws.onopen = () => {
      if (this.retry > 0) this.reconnects++;
      this.retry = 0;
      if (this.capabilities) ws.send(encodeFrame(ACTION.CLIENT_ACTION_CAPABILITIES, this.capabilities));
      this.handlers.onState?.('open');
      this.handlers.onOpen?.();
    };
    ws.onmessage = (ev) => {
      if (!(ev.data instanceof ArrayBuffer)) return;
      const frame = decodeFrame(ev.data);
      if (frame) this.handlers.onFrame?.(frame);
    };
    ws.onclose = () => {
      if (this.ws !== ws) return;
      this.ws = null;
      if (this.stopped) {
        this.handlers.onState?.('closed');
        return;
      }
      this.handlers.onState?.('closed');
      this.scheduleReopen();
    };
  }

  async scheduleReopen() {
    const alive = this.handlers.stillAlive ? await this.handlers.stillAlive() : true;
    if (this.stopped) return;
    if (!alive) {
      this.handlers.onState?.('ended');
      return;
    }
    const delay = Math.min(250 * 2 ** this.retry, 5000);
    this.retry++;
    this.timer = setTimeout(() => {
      this.timer = null;
      if (!this.stopped) this.open();
    }, delay);
  }

  get isOpen() {
    return this.ws !== null && this.ws.readyState === WebSocket.OPEN;
  }

  send(action, fields = [], data = null) {
    if (!this.isOpen) return false;
    this.ws.send(encodeFrame(action, fields, data));
    return true;
  }

  sendKey(code) {
    if (!this.isOpen) return false;
    this.ws.send(keyFrame(code));
    return true;
  }

  // Drops the socket as a network failure would (the channel reopens).
  drop() {
    if (this.ws) this.ws.close();
  }

  close() {
    this.stopped = true;
    if (this.timer) clearTimeout(this.timer);
    this.timer = null;
    if (this.ws) this.ws.close();
  }
}
