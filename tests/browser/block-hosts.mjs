// Block-mode hosts for the browser tests, on 127.0.0.1: a TN3270 host that
// plays records the test gives (recorded ones, or screens written with
// screen3270), and a TN5250 host that plays a recorded session
// (block-trace.mjs) as the terminal answers.  Each keeps the records the
// terminal sent.
import { TELNET, startTelnetHost } from './lib.mjs';

const { DO, WILL, TTYPE, NEW_ENVIRON, EOR_OPTION, BINARY, SEND, IS } = TELNET;

// Waits until test() holds.
export async function until(what, test, timeout = 15000) {
  const end = Date.now() + timeout;
  while (!test()) {
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

// A TN3270 host: negotiates the terminal type, then end of record and
// binary both ways, each step once the terminal has answered the last;
// plays `records` once it has agreed to all.  `send(record)` plays another;
// `received` holds the terminal's records.
export async function start3270Host(records = []) {
  const state = { received: [], peer: null, terminalType: null };
  const host = await startTelnetHost((peer) => {
    state.peer = peer;
    let playing = false;
    peer.onRecord = (rec) => state.received.push(rec);
    peer.onVerb = (verb, option) => {
      if (verb === WILL && option === TTYPE) peer.sub(TTYPE, [SEND]);
      if (!playing && peer.agreed(EOR_OPTION) && peer.agreed(BINARY)) {
        playing = true;
        for (const r of records) peer.record(r);
      }
    };
    peer.onSub = (option, bytes) => {
      if (option !== TTYPE || bytes[0] !== IS) return;
      state.terminalType = bytes.subarray(1).toString('latin1');
      for (const o of [EOR_OPTION, BINARY]) {
        peer.ask(DO, o);
        peer.ask(WILL, o);
      }
    };
    peer.ask(DO, TTYPE);
  });
  return {
    port: host.port,
    state,
    received: state.received,
    send: (record) => state.peer.record(record),
    close: host.close,
  };
}

// A TN5250 host: negotiates as the recorded host did (NEW-ENVIRON, terminal
// type, then end of record and binary both ways), each step as the station
// answers the last; then plays `trace`: host records in their recorded
// order, each run of them once the terminal has sent as many records as
// the recording had by then.  `state.environ` keeps the station's
// NEW-ENVIRON answer (after IS).
export async function start5250Host(trace) {
  const state = { terminalType: null, environ: null, received: [], peer: null };
  let sent = 0;
  const play = () => {
    let hostIndex = trace.sequence.slice(0, sent).filter((s) => s === '<').length;
    while (sent < trace.sequence.length) {
      if (trace.sequence[sent] === '<') {
        state.peer.record(trace.host[hostIndex++]);
      } else if (trace.sequence.slice(0, sent + 1).filter((s) => s === '>').length > state.received.length) {
        return;
      }
      sent++;
    }
  };
  const host = await startTelnetHost((peer) => {
    state.peer = peer;
    let playing = false;
    peer.onRecord = (rec) => {
      state.received.push(rec);
      play();
    };
    peer.onVerb = (verb, option) => {
      if (verb === WILL && option === NEW_ENVIRON) peer.sub(NEW_ENVIRON, [SEND, 0x00, 0x03]);
      if (verb === WILL && option === TTYPE) peer.sub(TTYPE, [SEND]);
      if (!playing && peer.agreed(BINARY)) {
        playing = true;
        play();
      }
    };
    peer.onSub = (option, bytes) => {
      if (option === NEW_ENVIRON && bytes[0] === IS) state.environ = bytes.subarray(1).toString('latin1');
      if (option !== TTYPE || bytes[0] !== IS || state.terminalType !== null) return;
      state.terminalType = bytes.subarray(1).toString('latin1');
      for (const o of [EOR_OPTION, BINARY]) {
        peer.ask(DO, o);
        peer.ask(WILL, o);
      }
    };
    peer.ask(DO, NEW_ENVIRON);
    peer.ask(DO, TTYPE);
  });
  return { port: host.port, state, received: state.received, close: host.close };
}

// ---- 3270 screens written by the tests ----

// The 6-bit codes of 12-bit buffer addresses and field attributes.
const CODES = [0x40, 0xc1, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0x4a, 0x4b, 0x4c, 0x4d, 0x4e, 0x4f,
  0x50, 0xd1, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0x5a, 0x5b, 0x5c, 0x5d, 0x5e, 0x5f,
  0x60, 0x61, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0x6a, 0x6b, 0x6c, 0x6d, 0x6e, 0x6f,
  0xf0, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0x7a, 0x7b, 0x7c, 0x7d, 0x7e, 0x7f];

// Text in code page 037, for the characters the tests write.
const EBCDIC = new Map([[' ', 0x40], ['.', 0x4b], ['<', 0x4c], ['(', 0x4d], ['+', 0x4e], ['&', 0x50], ['!', 0x5a],
  ['$', 0x5b], ['*', 0x5c], [')', 0x5d], [';', 0x5e], ['-', 0x60], ['/', 0x61], [',', 0x6b], ['%', 0x6c],
  ['_', 0x6d], ['>', 0x6e], ['?', 0x6f], [':', 0x7a], ['#', 0x7b], ['@', 0x7c], ["'", 0x7d], ['=', 0x7e],
  ['"', 0x7f]]);
for (let i = 0; i < 9; i++) {
  EBCDIC.set(String.fromCharCode(0x41 + i), 0xc1 + i).set(String.fromCharCode(0x4a + i), 0xd1 + i)
    .set(String.fromCharCode(0x61 + i), 0x81 + i).set(String.fromCharCode(0x6a + i), 0x91 + i);
}
for (let i = 0; i < 8; i++) EBCDIC.set(String.fromCharCode(0x53 + i), 0xe2 + i).set(String.fromCharCode(0x73 + i), 0xa2 + i);
for (let i = 0; i < 10; i++) EBCDIC.set(String(i), 0xf0 + i);

export function ebcdic(text) {
  return [...text].map((c) => {
    if (!EBCDIC.has(c)) throw new Error(`no EBCDIC for ${c}`);
    return EBCDIC.get(c);
  });
}

const address = (pos) => [CODES[(pos >> 6) & 0x3f], CODES[pos & 0x3f]];

// Field attributes.
export const FIELD = Object.freeze({ INPUT: 0x00, PROTECTED: 0x20, SKIP: 0x30, INTENSE: 0x08 });

// A 3270 screen: Erase/Write (or Erase/Write Alternate, the model's large
// size) of fields, each { row, col, attr, text } (a field attribute at
// (row, col - 1) when attr is given, then the text from (row, col)), the
// cursor at `cursor` ({ row, col }).  `cols` is the width of the size
// written.
export function screen3270({ alternate = false, cols = 80, fields, cursor = null }) {
  const bytes = [alternate ? 0x7e : 0xf5, 0xc3];  // command, WCC: reset, restore the keyboard
  for (const f of fields) {
    const pos = f.row * cols + f.col;
    if (f.attr !== undefined) bytes.push(0x11, ...address(pos - 1), 0x1d, CODES[f.attr]);
    else bytes.push(0x11, ...address(pos));
    bytes.push(...ebcdic(f.text || ''));
  }
  if (cursor) bytes.push(0x11, ...address(cursor.row * cols + cursor.col), 0x13);
  return bytes;
}

// The AID of a record the terminal sent (its first byte).
export const AID = Object.freeze({ ENTER: 0x7d, PF3: 0xf3, PA1: 0x6c, CLEAR: 0x6d });

// ---- 5250 screens written by the tests ----

// A 5250 screen as one record: Clear Unit (Clear Unit Alternate for the
// 27 x 132 size when `wide`), Write to Display, and each text at its
// (row, col), 1-based, after a normal display attribute.  A host that
// plays it: start5250Host({ sequence: ['<'], host: [record], terminal: [] }).
export function screen5250({ wide = false, texts }) {
  const data = [...(wide ? [0x04, 0x20, 0x00] : [0x04, 0x40]), 0x04, 0x11, 0x00, 0x18];
  for (const t of texts) data.push(0x11, t.row, t.col, 0x20, ...ebcdic(t.text));
  const length = data.length + 10;
  // The record header: length, record type, variable header length 4,
  // flags, operation code Put/Get.
  return Buffer.from([length >> 8, length & 0xff, 0x12, 0xa0, 0, 0, 4, 0, 0, 3, ...data]);
}
