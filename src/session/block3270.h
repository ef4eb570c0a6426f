// The IBM 3270 engine in the session: the BlockEngine of the 3270 emulator
// (blockmode.h) with its settings, keyboard mapping, TN3270E headers and
// responses, status line and banner text.
#pragma once

#include "blockmode.h"

struct te3270;

// A new 3270 engine for the session (null when memory runs out).
BlockEngine* blk3270_new(app_s* app);
// The engine's 3270 record.
te3270* blk3270_record(BlockEngine* engine);

// The 3270 function of a key: a Unicode character or a key code of the
// private-use block (keycodes.js).  Returned by blk3270_map_key for tests.
struct blk3270_key {
  // SYSREQ: IAC AO where TN3270E agreed SYSREQ, else a Test Request read;
  // ATTN and SYSREQ bypass the typeahead ring.
  enum Kind { NONE, FUNCTION, ATTN, SYSREQ, PENDING, IGNORED } kind = NONE;
  int fcn = 0;
  int code = 0;
};
// Sequence state between keys (ESC or ^P waiting for the next key).
struct blk3270_keyseq {
  int prefix = 0;
};
blk3270_key blk3270_map_key(int key, int locale, bool destructiveBackspace, blk3270_keyseq& seq);
