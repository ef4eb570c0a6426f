// The 3270 keyboard: keyboard functions on the screen image with the rules
// of protected and numeric fields and the modified data tag, the AID keys,
// the keyboard states (insert mode, X SYSTEM, X WAIT, operator errors) and
// the typeahead ring of keystrokes that wait while the host inhibits input.
#include <algorithm>
#include <iterator>

#include "te3270_internal.h"

namespace {

bool is_attr(const te3270* t, int a) {
  return t->FA[a] & FA_IS_ATTR;
}

void bell(te3270* t) {
  t->bells++;
}

// Operator error: the bell, and input inhibited until Reset.
int oerr(te3270* t, int why) {
  t->OperatorError = why;
  bell(t);
  return 1;
}

bool numeric_field(const te3270* t, int p) {
  return te3270_formatted(t) && (FieldAttributes(t, p) & (FA_NUMERIC | FA_PROTECT)) == FA_NUMERIC;
}

// Characters a numeric field takes: digits, "-.,$", DUP and field mark.
bool numeric_ok(const te3270* t, uint8_t code) {
  if (code >= 0xF0 && code <= 0xF9) return true;
  if (code == 0x1C || code == 0x1E) return true;
  uint16_t u = te3270_ebcdic_to_unicode(t->locale, code);
  return u == '-' || u == '.' || u == ',' || u == '$';
}

// A character stored by the keyboard: default character attributes.
void key_store(te3270* t, int a, uint8_t code) {
  uint32_t sa = t->gCurrentSA;
  t->gCurrentSA = 0;
  AddHost(t, a, code);
  t->gCurrentSA = sa;
}

void set_mdt(te3270* t, int p) {
  ModifyMdt(t, p, true);
}

// Moves the characters of [from, to] (wrapping) by one position: right
// (a null enters at from) or left (a null enters at to).
void shift(te3270* t, int from, int to, bool right) {
  if (right) {
    for (int a = to; a != from;) {
      int prev = te3270_dec(t, a);
      key_store(t, a, t->Host[prev]);
      t->FA[a] = t->FA[prev] & FA_IS_GE;
      a = prev;
    }
    key_store(t, from, 0);
  } else {
    for (int a = from; a != to;) {
      int next = te3270_inc(t, a);
      key_store(t, a, t->Host[next]);
      t->FA[a] = t->FA[next] & FA_IS_GE;
      a = next;
    }
    key_store(t, to, 0);
  }
}

int one_character(te3270* t, uint8_t code) {
  int c = t->CursorAddress;
  bool formatted = te3270_formatted(t);
  if (te3270_is_protected(t, c)) return oerr(t, OERR_PROTECTED);
  if (numeric_field(t, c) && !numeric_ok(t, code)) return oerr(t, OERR_NUMERIC);
  if (t->InsertMode) {
    int end = te3270_field_end(t, c);
    if (t->Host[end] && t->Host[end] != 0x40) return oerr(t, OERR_OVERFLOW);
    if (end != c) shift(t, c, end, true);
  }
  key_store(t, c, code);
  if (formatted) set_mdt(t, c);
  c = te3270_inc(t, c);
  if (formatted && is_attr(t, c)) {
    if ((t->Host[c] & FA_SKIP) == FA_SKIP) {
      int n = te3270_next_unprotected(t, c);
      c = n < 0 ? 0 : n;
    } else {
      c = te3270_inc(t, c);
    }
  }
  t->CursorAddress = c;
  return 1;
}

void erase_field_from(te3270* t, int c) {
  int end = te3270_field_end(t, c);
  for (int a = c;; a = te3270_inc(t, a)) {
    key_store(t, a, 0);
    t->FA[a] = 0;
    if (a == end) break;
  }
}

int delete_char(te3270* t) {
  int c = t->CursorAddress;
  if (te3270_is_protected(t, c)) return oerr(t, OERR_PROTECTED);
  shift(t, c, te3270_field_end(t, c), false);
  set_mdt(t, c);
  return 1;
}

int back_tab(te3270* t) {
  if (!te3270_formatted(t)) {
    t->CursorAddress = 0;
    return 1;
  }
  int c = t->CursorAddress;
  int f = te3270_field_start(t, c);
  if (!(t->Host[f] & FA_PROTECT) && c != f && c != te3270_inc(t, f)) {
    t->CursorAddress = te3270_inc(t, f);
    return 1;
  }
  for (int n = 0, a = te3270_dec(t, f); n < t->ScreenSize; n++, a = te3270_dec(t, a)) {
    if (is_attr(t, a) && !(t->Host[a] & FA_PROTECT) && !is_attr(t, te3270_inc(t, a))) {
      t->CursorAddress = te3270_inc(t, a);
      return 1;
    }
  }
  t->CursorAddress = 0;
  return 1;
}

// First unprotected character position at or after p, wrapping; -1 when none.
int unprotected_from(const te3270* t, int p) {
  if (!te3270_formatted(t)) return p;
  bool prot = FieldAttributes(t, te3270_dec(t, p)) & FA_PROTECT;
  for (int n = 0, a = p; n < t->ScreenSize; n++, a = te3270_inc(t, a)) {
    if (is_attr(t, a))
      prot = t->Host[a] & FA_PROTECT;
    else if (!prot)
      return a;
  }
  return -1;
}

void home(te3270* t) {
  if (!te3270_formatted(t)) {
    t->CursorAddress = 0;
    return;
  }
  int a = unprotected_from(t, t->OptHome * t->NumberColumns % t->ScreenSize);
  t->CursorAddress = a < 0 ? 0 : a;
}

void new_line(te3270* t) {
  int cols = t->NumberColumns;
  int c = t->CursorAddress;
  int start = (c / cols + 1) * cols % t->ScreenSize;
  if (!te3270_formatted(t)) {
    t->CursorAddress = start;
    return;
  }
  int margin = start + std::min(t->OptLeftMargin, cols - 1);
  if (c % cols >= t->OptLeftMargin && !is_attr(t, margin) && !te3270_is_protected(t, margin)) {
    t->CursorAddress = margin;
    return;
  }
  int a = unprotected_from(t, start);
  t->CursorAddress = a < 0 ? 0 : a;
}

void erase_input(te3270* t) {
  if (!te3270_formatted(t)) {
    for (int a = 0; a < t->ScreenSize; a++) key_store(t, a, 0), t->FA[a] = 0;
    t->CursorAddress = 0;
    return;
  }
  bool prot = FieldAttributes(t, 0) & FA_PROTECT;
  for (int a = 0; a < t->ScreenSize; a++) {
    if (is_attr(t, a)) {
      prot = t->Host[a] & FA_PROTECT;
      if (!prot) t->Host[a] &= (uint8_t)~FA_MDT;
    } else if (!prot && (t->Host[a] || t->FA[a])) {
      key_store(t, a, 0);
      t->FA[a] = 0;
    }
  }
  home(t);
}

// Column tabs of the cursor's row: the next (or previous) tab stop.
void column_tab(te3270* t, bool forward) {
  int cols = t->NumberColumns;
  int row = t->CursorAddress / cols, col = t->CursorAddress % cols;
  int to = forward ? cols - 1 : 0;
  if (forward) {
    for (int k = col + 1; k < cols; k++)
      if (t->OptColTabs[k]) {
        to = k;
        break;
      }
  } else {
    for (int k = col - 1; k >= 0; k--)
      if (t->OptColTabs[k]) {
        to = k;
        break;
      }
  }
  t->CursorAddress = row * cols + to;
}

void aid_key(te3270* t, int aid) {
  if (aid == AID_CLEAR) {
    Clear3270(t);  // the size stays; the host's next erase chooses it
    t->sscpStart = 0;
  }
  t->StatTermWait = 1;
  t->StatSysLocked = 1;
  t->InsertMode = t->StatInsert = 0;
  t->AidByte = aid;
  t->HadAid = 1;
  DoReadModified(t, 0x06);
  t->HadAid = 0;
  if (t->sscpMode && aid != AID_ENTER) {
    // Only Enter sends anything on an SSCP-LU session.
    t->StatTermWait = t->StatSysLocked = 0;
    t->AidByte = 0;
  }
}

// Cursor Select on a light-pen detectable field (display bits 01 or 10):
// its designator character decides.  '?' becomes '>' and the field is
// modified, '>' becomes '?' and it is not; '&' modifies the field and
// sends the Cursor Select AID, a blank or null designator sends it at once.
int cursor_select(te3270* t) {
  int c = t->CursorAddress;
  int f = te3270_formatted(t) ? te3270_field_start(t, c) : -1;
  if (f < 0) return oerr(t, OERR_PROTECTED);
  uint8_t display = t->Host[f] & FA_DISPLAY;
  if (display != FA_PEN && display != FA_INTENSE) {
    bell(t);
    return 1;
  }
  int d = te3270_inc(t, f);
  if (is_attr(t, d)) {
    bell(t);
    return 1;
  }
  switch (t->Host[d]) {
    case 0x6F:  // '?': selected
      key_store(t, d, 0x6E);
      set_mdt(t, d);
      return 1;
    case 0x6E:  // '>': deselected
      key_store(t, d, 0x6F);
      ModifyMdt(t, d, false);
      return 1;
    case 0x50:  // '&': attention with the field modified
      set_mdt(t, d);
      aid_key(t, AID_CURSOR_SELECT);
      return 1;
    case 0x40:
    case 0x00:  // immediate attention
      aid_key(t, AID_CURSOR_SELECT);
      return 1;
  }
  bell(t);
  return 1;
}

}  // namespace

int te3270_field_end(const te3270* t, int p) {
  if (!te3270_formatted(t)) return t->ScreenSize - 1;
  int next = FieldInc(t, p);
  return te3270_dec(t, next);
}

int te3270_next_unprotected(const te3270* t, int p) {
  if (!te3270_formatted(t)) return -1;
  for (int n = 0, a = te3270_inc(t, p); n < t->ScreenSize; n++, a = te3270_inc(t, a)) {
    if (is_attr(t, a) && !(t->Host[a] & FA_PROTECT) && !is_attr(t, te3270_inc(t, a)))
      return te3270_inc(t, a);
  }
  return -1;
}

bool te3270_input_inhibited(const te3270* t) {
  return t->StatSysLocked || t->StatTermWait || t->lockedUntilWrite || t->bidLocked;
}

void te3270_reset_keyboard(te3270* t) {
  t->AidByte = 0;
  t->HadAid = 0;
  t->StatSysLocked = t->StatTermWait = 0;
  t->lockedUntilWrite = 0;
  t->InsertMode = t->StatInsert = 0;
  t->OperatorError = OERR_NONE;
  t->typeHead = t->typeCount = 0;
}

void te3270_restore_keyboard(te3270* t) {
  t->AidByte = 0;
  t->StatSysLocked = 0;
  TerminalIn(t);
}

void TerminalIn(te3270* t) {
  while (t->typeCount > 0 && t->online && !te3270_input_inhibited(t)) {
    te3270::Keystroke k = t->typeahead[t->typeHead];
    t->typeHead = (t->typeHead + 1) % TE3270_TYPEAHEAD;
    t->typeCount--;
    AcceptKeystroke(t, k.fcn, k.code);
  }
  if (t->typeCount == 0) t->typeHead = 0;
}

void te3270_key(te3270* t, int fcn, int code) {
  if (!t->In3270 || fcn <= FCN_NULL || fcn >= FCN_COUNT) return;
  if (fcn == FCN_RESET || fcn == FCN_MASTER_RESET) {
    // Reset acts at once; it cannot take back an inhibit of the host's.
    t->typeHead = t->typeCount = 0;
    AcceptKeystroke(t, fcn, code);
    DoTerminalOutput(t);
    return;
  }
  // Keys that waited go first, in order, as far as the keyboard lets them.
  if (t->typeCount > 0 && t->online && !te3270_input_inhibited(t)) TerminalIn(t);
  if (!t->online || te3270_input_inhibited(t) || t->typeCount > 0) {
    if (fcn == FCN_AID && code == AID_CLEAR) t->typeHead = t->typeCount = 0;  // Clear erases what they typed
    if (t->typeCount >= TE3270_TYPEAHEAD) {
      bell(t);
      return;
    }
    t->typeahead[(t->typeHead + t->typeCount) % TE3270_TYPEAHEAD] = {fcn, code};
    t->typeCount++;
    return;
  }
  AcceptKeystroke(t, fcn, code);
  DoTerminalOutput(t);
}

int AcceptKeystroke(te3270* t, int fcn, int code) {
  if (t->OperatorError && fcn != FCN_RESET && fcn != FCN_MASTER_RESET) {
    bell(t);
    return 1;
  }
  int c = t->CursorAddress;
  bool formatted = te3270_formatted(t);
  switch (fcn) {
    case FCN_CHARACTER:
      return one_character(t, (uint8_t)code);
    case FCN_SPACE:
      return one_character(t, 0x40);
    case FCN_FM:
      return one_character(t, 0x1E);
    case FCN_DP: {
      if (te3270_is_protected(t, c)) return oerr(t, OERR_PROTECTED);
      key_store(t, c, 0x1C);
      if (formatted) {
        set_mdt(t, c);
        int n = te3270_next_unprotected(t, c);
        t->CursorAddress = n < 0 ? 0 : n;
      } else {
        t->CursorAddress = te3270_inc(t, c);
      }
      return 1;
    }
    case FCN_AID:
      aid_key(t, code);
      return 1;
    case FCN_RESET:
      t->InsertMode = t->StatInsert = 0;
      t->OperatorError = OERR_NONE;
      return 1;
    case FCN_MASTER_RESET:
      t->InsertMode = t->StatInsert = 0;
      t->OperatorError = OERR_NONE;
      te3270_mark_all(t);
      return 1;
    case FCN_INSRT:
      t->InsertMode = t->StatInsert = !t->InsertMode;
      return 1;
    case FCN_DELETE:
      return delete_char(t);
    case FCN_ERASE: {
      int left = te3270_dec(t, c);
      if (te3270_is_protected(t, left)) return oerr(t, OERR_PROTECTED);
      t->CursorAddress = left;
      return delete_char(t);
    }
    case FCN_EEOF:
      if (te3270_is_protected(t, c)) return oerr(t, OERR_PROTECTED);
      erase_field_from(t, c);
      if (formatted) set_mdt(t, c);
      return 1;
    case FCN_EINP:
      erase_input(t);
      return 1;
    case FCN_TAB: {
      int n = te3270_next_unprotected(t, c);
      t->CursorAddress = n < 0 ? 0 : n;
      return 1;
    }
    case FCN_BTAB:
      return back_tab(t);
    case FCN_HOME:
      home(t);
      return 1;
    case FCN_NL:
      new_line(t);
      return 1;
    case FCN_UP:
      t->CursorAddress = (c - t->NumberColumns + t->ScreenSize) % t->ScreenSize;
      return 1;
    case FCN_DOWN:
      t->CursorAddress = (c + t->NumberColumns) % t->ScreenSize;
      return 1;
    case FCN_LEFT:
      t->CursorAddress = te3270_dec(t, c);
      return 1;
    case FCN_RIGHT:
      t->CursorAddress = te3270_inc(t, c);
      return 1;
    case FCN_RESHOW:
      te3270_mark_all(t);
      return 1;
    case FCN_SETTAB:
      t->OptColTabs[c % t->NumberColumns] = 1;
      return 1;
    case FCN_DELTAB:
      t->OptColTabs[c % t->NumberColumns] = 0;
      return 1;
    case FCN_CLRTAB:
      std::fill(std::begin(t->OptColTabs), std::end(t->OptColTabs), 0);
      t->OptHome = t->OptLeftMargin = 0;
      return 1;
    case FCN_COLTAB:
      column_tab(t, true);
      return 1;
    case FCN_COLBAK:
      column_tab(t, false);
      return 1;
    case FCN_SETMRG:
      t->OptLeftMargin = c % t->NumberColumns;
      return 1;
    case FCN_SETHOM:
      t->OptHome = c / t->NumberColumns;
      return 1;
    case FCN_CURSOR:
      if (code >= 0 && code < t->ScreenSize) t->CursorAddress = code;
      return 1;
    case FCN_TESTREQ:
      if (t->sscpMode) break;
      aid_key(t, AID_SYSREQ);
      return 1;
    case FCN_CURSEL:
      return cursor_select(t);
  }
  bell(t);
  return 1;
}
