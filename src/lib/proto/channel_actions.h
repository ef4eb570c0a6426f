// The channel's action numbers, with the fields of each: what a session
// process sends its browsers (host actions) and what a browser sends the
// session (client actions).  One definition for the session and the
// channel; the page mirrors it in html/shared/kvx-protocol.js, and a test
// keeps the two equal.
//
// To add an action: take the next free number of the range reserved for its
// capability below, add it here with its fields in a comment, add it to the
// page's mirror, and, when a browser must ask for it, a capability
// (capabilities.h) so that a browser that does not name the capability
// keeps getting the frames it knows: the channel sends the new frame only
// where kvx_client_has(client, capability) (channel_client.h) says so.  A
// client action the session does not know is ignored, so a page may send
// one to an older session.
//
// Reserved ranges (host actions / client actions):
//   1-14    / 4000-4007  the original set and the first additions (below)
//   15-19   / 4008-4009  general channel matters (4008 CAPABILITIES)
//   20-29   / 4010-4019  printing
//   30-39   / 4020-4029  file transfer
//   40-49   / 4030-4039  colour and style forms
//   50-59   / 4040-4049  mouse, pointer, clipboard and links
//   60-69   / 4050-4059  session life (restart notices, reconnecting)
//   70-79   / 4060-4069  accessibility and key maps
#pragma once

enum KVX_ACTION {
  KVX_ACTION_UNDEF = 0,
  KVX_HOST_ACTION_CONNECTED = 1,
  KVX_HOST_ACTION_UPDATE = 2,
  KVX_HOST_ACTION_SET_CURSOR = 3,
  KVX_HOST_ACTION_GET_ENTRY = 4,
  KVX_HOST_ACTION_GET_YESNO = 5,
  KVX_HOST_ACTION_SHOW_FATAL_ERROR = 6,
  KVX_CLIENT_ACTION_REFRESH = 4000,
  KVX_CLIENT_ACTION_CONNECT_HOST = 4001,
  KVX_CLIENT_ACTION_ONKEY = 4002,
  KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE = 4003,
  KVX_CLIENT_ACTION_GET_YESNO_RESPONSE = 4004,
  KVX_CLIENT_ACTION_ACK_FATAL_ERROR = 4005,

  // Actions added beyond the original set. Every one is listed here with its
  // fields, so that the page and the session agree in one place.
  //
  // To the browser:
  //   7  STATUS      block-mode status line (3270/5250), sent whenever it
  //                  changes and with every whole screen a browser asks
  //                  for; the stations fill a kvx_status_line
  //                  (status_line.h), whose one serialiser writes the
  //                  fields, in order:
  //                    0 emulator: "3270" or "5250"
  //                    1 terminal type of the model ("IBM-3278-4-E")
  //                    2 screen rows, 3 screen columns (the size of the
  //                      screen the updates fill)
  //                    4 keyboard: "" (input allowed), "X SYSTEM" (input
  //                      inhibited by the host), "X WAIT" (waiting for the
  //                      host's answer), "X PROT" (a key hit a protected
  //                      position), "X NUM" (not numeric), "X OVERFLOW"
  //                      (field full in insert mode); the last three need
  //                      Reset; 5250: "X II" (input inhibited: an operator
  //                      error or the host's error message, until Reset)
  //                    5 insert mode: "1" or "0"
  //                    6 cursor row, 7 cursor column (from 0, top left)
  //                    8 session text: "CONNECTING", "DISCONNECTED" or ""
  //                    9 link: "TN3270E", "TN3270", "SSCP-LU", "TN5250",
  //                      or "" when no host is connected
  //                    10 operator error code (5250: four digits,
  //                      "0010"; "" when none, always "" in 3270),
  //                    11 message waiting "1" or "0" (5250; "0" in 3270)
  //                    12 typeahead: keys waiting in the typeahead ring
  //                      ("0" when none)
  //                    13 device: the device (LU) name the host assigned
  //                      or confirmed ("" none), 14 host: the host name the
  //                      session is connected to ("" none)
  //                  Block-mode screen cells: src/lib/ite/fws/fws_cell.h.
  //   8  TITLE       the host's window title; field: the title (empty: the
  //                  host has set none).  Sent on a change, and with the
  //                  first SCROLLBACK answer when the host has set one
  //   9  BELL        the host rang the bell (at most once per 200 ms); no fields
  //   10 SCROLLBACK  this browser's view of the scrollback (character mode);
  //                  fields: rows back (0 = live), rows kept, and the rows the
  //                  cells shown move down (up when negative) before the
  //                  update frames that follow fill what they do not cover
  //                  (a whole height, up or down: every row comes anew).
  //                  Sent in answer to every SCROLLBACK request (a page asks
  //                  for 0 when it attaches) and, from then on, when the rows
  //                  kept change; while a browser looks back it gets no
  //                  screen updates and no cursor: the live screen goes on
  //                  and comes back with it
  //   11 MODES       terminal state the page must know; fields: bracketed
  //                  paste "1"/"0", alternate screen shown "1"/"0", rows,
  //                  columns.  Sent with the first SCROLLBACK answer and,
  //                  from then on, ahead of the cells when one changes.
  //                  Field 4: the cursor style the host chose with
  //                  DECSCUSR (CSI Ps SP q), "1"-"6", or "0" when it chose
  //                  none or asked for its default (CSI 0 SP q).  The page
  //                  takes a missing field as "0" and draws a style 1-6
  //                  over the person's own cursor setting
  //   12 NOTICE      a non-fatal message for the person; fields: kind, text
  //                  (kind "emulation": the requested emulation is not
  //                  available and another one runs; text names both, sent
  //                  when the emulation is set and to a browser that
  //                  attaches while it holds; an empty text withdraws it)
  //   13 LABELS      host-writable status and label lines of character-mode
  //                  terminals that keep them apart from the screen (Wyse,
  //                  Televideo, ADDS); fields: the names of the lines that
  //                  follow, in order: "status" (the status line, holding
  //                  the unshifted function-key labels too) and "shifted"
  //                  (the labels of the shifted function keys); no field:
  //                  no line to show.  Data: for each line named, one row of
  //                  cells as in UPDATE (the row's width is the data length
  //                  / 8 / the number of lines)
  //   14 LINES       line attributes of the rows this browser shows, where
  //                  they changed (after the cells of the same pass); field:
  //                  the first row; data: one byte per row from it: low
  //                  nibble 0 single width, 1 double width, 2 and 3 the upper
  //                  and lower half of double height; 0x40 the row goes on in
  //                  the next one (it wrapped)
  KVX_HOST_ACTION_STATUS = 7,
  KVX_HOST_ACTION_TITLE = 8,
  KVX_HOST_ACTION_BELL = 9,
  KVX_HOST_ACTION_SCROLLBACK = 10,
  KVX_HOST_ACTION_MODES = 11,
  KVX_HOST_ACTION_NOTICE = 12,
  KVX_HOST_ACTION_LABELS = 13,
  KVX_HOST_ACTION_LINES = 14,
  //
  // Colour and style forms (to browsers that named "truecolor"):
  //   40 COLORS      the exact colours and text styles of the cells of the
  //                  UPDATE frame it follows (sent only when some of them
  //                  have any; a browser clears them wherever an UPDATE
  //                  writes cells).  Field: the UPDATE's
  //                  "left:bottom:right:top".  Data, little-endian:
  //                    u16 the number of entries, then each entry:
  //                      u8 which colours follow (1 foreground,
  //                         2 background, 4 underline),
  //                      u8 styles (1 dim, 2 italic, 4 strike-through,
  //                         bits 4-6 the underline's form: 0 as the cell's
  //                         underline bit says, 2 double, 3 curly, 4 dotted,
  //                         5 dashed),
  //                      each colour named: u8 kind, then 1 for a palette
  //                      index (u8 0-255, xterm's palette) or 2 for a 24-bit
  //                      one (u8 red, green, blue);
  //                    then, row by row from the top, runs of cells that
  //                    cover the row's width exactly: u8 length in cells,
  //                    then the entry as a base-128 varint (low 7 bits
  //                    first, 0x80 = more follow): 0 none, n the n-th
  //                    entry.
  //                  The cell's own colour and attribute bits stay as they
  //                  are in the UPDATE (the nearest of the sixteen colours,
  //                  underline of any form, blink): a browser without the
  //                  capability draws those.
  KVX_HOST_ACTION_COLORS = 40,
  //
  // From the browser:
  //   4006 SCROLLBACK  show this browser the view n rows back; field: n,
  //                    counted from where the last SCROLLBACK frame said the
  //                    view stands (0 returns to live); character mode only
  //   4007 MOUSE       move the block-mode cursor to a cell; fields: row,
  //                    column (counted from 0 at the top left)
  KVX_CLIENT_ACTION_SCROLLBACK = 4006,
  KVX_CLIENT_ACTION_MOUSE = 4007,
  //   4008 CAPABILITIES  the capabilities this browser understands; fields:
  //                    their names (capabilities.h), one a field.  Sent once,
  //                    right after the channel opens; a browser that never
  //                    sends it gets the frames of a browser that names none
  KVX_CLIENT_ACTION_CAPABILITIES = 4008,
  //
  // Printing (capability "print"; a browser without it gets none of these):
  //   20 PRINT_JOB     a print job of the session finished and is kept;
  //                    fields: its id (for "/get_file"), name, pages, bytes
  //                    of text, the time it finished (seconds since 1970).
  //                    Sent to every browser when the job ends, and for each
  //                    job kept to a browser that names the capability
  //   21 PRINT_DROPPED a job is no longer kept; fields: its id, why:
  //                    "bound" (the oldest went for the store's bound) or
  //                    "dropped" (a browser dropped it)
  //   4010 PRINT_SCREEN  print the screen as it shows now, whatever the
  //                    emulation, as a job of its own; no fields
  //   4011 PRINT_DROP  drop a kept job; field: its id
  KVX_HOST_ACTION_PRINT_JOB = 20,
  KVX_HOST_ACTION_PRINT_DROPPED = 21,
  KVX_CLIENT_ACTION_PRINT_SCREEN = 4010,
  KVX_CLIENT_ACTION_PRINT_DROP = 4011,
};
