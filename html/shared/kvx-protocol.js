// The channel as the page speaks it: the action numbers of the frames, the
// capabilities this page names when it attaches, and the block-mode status
// line read into named fields.  ACTION mirrors `enum KVX_ACTION` of
// src/lib/proto/channel_actions.h (the names without "KVX_"), where every
// action is listed with its fields; tests/browser/protocol-mirror.test.mjs
// keeps the two equal.
//
// To add an action: add it to channel_actions.h in the range of its
// capability, then here under the same name and number.  To add a
// capability: add it to src/lib/proto/capabilities.h, then its name to
// CAPABILITIES once the page understands the frames it brings.

export const ACTION = Object.freeze({
  ACTION_UNDEF: 0,
  // To the page.
  HOST_ACTION_CONNECTED: 1,
  HOST_ACTION_UPDATE: 2,
  HOST_ACTION_SET_CURSOR: 3,
  HOST_ACTION_GET_ENTRY: 4,
  HOST_ACTION_GET_YESNO: 5,
  HOST_ACTION_SHOW_FATAL_ERROR: 6,
  HOST_ACTION_STATUS: 7,
  HOST_ACTION_TITLE: 8,
  HOST_ACTION_BELL: 9,
  HOST_ACTION_SCROLLBACK: 10,
  HOST_ACTION_MODES: 11,
  HOST_ACTION_NOTICE: 12,
  HOST_ACTION_LABELS: 13,
  HOST_ACTION_LINES: 14,
  HOST_ACTION_PRINT_JOB: 20,
  HOST_ACTION_PRINT_DROPPED: 21,
  HOST_ACTION_COLORS: 40,
  // From the page.
  CLIENT_ACTION_REFRESH: 4000,
  CLIENT_ACTION_CONNECT_HOST: 4001,
  CLIENT_ACTION_ONKEY: 4002,
  CLIENT_ACTION_GET_ENTRY_RESPONSE: 4003,
  CLIENT_ACTION_GET_YESNO_RESPONSE: 4004,
  CLIENT_ACTION_ACK_FATAL_ERROR: 4005,
  CLIENT_ACTION_SCROLLBACK: 4006,
  CLIENT_ACTION_MOUSE: 4007,
  CLIENT_ACTION_CAPABILITIES: 4008,
  CLIENT_ACTION_PRINT_SCREEN: 4010,
  CLIENT_ACTION_PRINT_DROP: 4011,
});

// The capabilities this page understands, by the names of
// src/lib/proto/capabilities.h; sent in a CAPABILITIES frame (one name a
// field) as the first frame on every channel the page opens.
//   truecolor  COLORS frames: exact colours and text styles (kvx-colors.js)
//   print      PRINT_JOB and PRINT_DROPPED frames: the session's print jobs (kvx-print.js)
export const CAPABILITIES = Object.freeze(['truecolor', 'print']);

// The fields of a STATUS frame (the status line of a 3270 or 5250 screen)
// by name; an empty field travels as one blank.  The 5250 station adds the
// operator error code and message waiting.
export function parseStatusLine(fields) {
  const f = (i) => (fields[i] === undefined || fields[i] === ' ' ? '' : String(fields[i]));
  return {
    emulator: f(0),                 // "3270" or "5250"
    model: f(1),                    // terminal type of the model, "IBM-3278-2-E"
    rows: Number(f(2)) || 0,        // the size of the screen the updates fill
    cols: Number(f(3)) || 0,
    keyboard: f(4),                 // "" input allowed, else why not ("X SYSTEM", "X II", ...)
    insert: f(5) === '1',
    row: Number(f(6)) || 0,         // the cursor, from 0 at the top left
    col: Number(f(7)) || 0,
    session: f(8),                  // "CONNECTING", "DISCONNECTED" or ""
    link: f(9),                     // "TN3270E", "TN3270", "SSCP-LU", "TN5250" or ""
    error: f(10),                   // 5250: operator error code ("0005") or ""
    messageWaiting: f(11) === '1',  // 5250
    typeahead: Number(f(12)) || 0,  // keys waiting in the typeahead ring
    device: f(13),                  // the device (LU) name the host assigned or confirmed, or ""
    host: f(14),                    // the host name the session is connected to, or ""
  };
}
