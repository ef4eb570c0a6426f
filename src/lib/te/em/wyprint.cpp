// Printing of the Wyse and PC-term families: the printing modes their
// commands start and the filter that ends them, print screen, and the
// auxiliary diversion of ESC d.
#include "em/em.h"
#include "em/teaux.h"
#include "em/wyse.h"

// ---- printer

bool wy_have_printer(te* t) {
  return t->hooks.printer != nullptr;
}

void wy_print_start(te* t, WY_PRINT_MODE mode, int display) {
  if (!wy_have_printer(t)) return;
  if (t->_prctrl) te_set_prctrl(t, 0);  // a new mode begins a new job
  te_set_prctrl(t, 1);
  t->_ptype = mode;
  t->_prdisp = display;
  t->_prfstate = 0;
}

static void wy_print_bytes(te* t, const char* b, int n) {
  if (t->hooks.printer) t->hooks.printer(t, TE_PRINT_BYTES, b, n);
}

static void wy_print_end(te* t) {
  te_set_prctrl(t, 0);
  t->_prdisp = 0;
  t->_ptype = 0;
  t->_prfstate = 0;
}

// The letter that, after ESC, ends a mode other than the DC4 one.
static int wy_print_end_letter(int mode) {
  switch (mode) {
    case WY_PRINT_UNTIL_ESC_a:
      return 'a';
    case WY_PRINT_UNTIL_ESC_A:
      return 'A';
    default:
      return 'B';
  }
}

WY_PRINT_RESULT wy_print_filter(te* t, int c) {
  const char b = (char)c;
  const WY_PRINT_RESULT printed = t->_prdisp ? WY_PRINT_SHOW : WY_PRINT_TAKEN;
  if (t->_ptype == WY_PRINT_UNTIL_DC4) {
    if (c == 0x14) {
      wy_print_end(t);
      return WY_PRINT_ENDED;
    }
    wy_print_bytes(t, &b, 1);
    return printed;
  }
  if (t->_prfstate) {
    // The byte after a held ESC: the end of the mode, or both are printed.
    t->_prfstate = 0;
    if (c == wy_print_end_letter(t->_ptype)) {
      wy_print_end(t);
      return WY_PRINT_ENDED;
    }
    const char both[2] = {'\x1b', b};
    wy_print_bytes(t, both, 2);
    return t->_prdisp ? WY_PRINT_SHOW_ESC : WY_PRINT_TAKEN;
  }
  if (c == 0x1B) {
    t->_prfstate = 1;
    return WY_PRINT_TAKEN;
  }
  wy_print_bytes(t, &b, 1);
  return printed;
}

void wy_print_screen(te* t) {
  if (t->hooks.printer) {
    wa_flush(t);
    t->hooks.printer(t, TE_PRINT_SCREEN, nullptr, 0);
  }
  if (t->_prtchar >= 0 && t->_prtchar < 256) {
    char c = (char)t->_prtchar;
    wy_reply(t, &c, 1);
  }
}

// ---- auxiliary diversion

bool wy_aux(te* t, int c) {
  bool usable = te_useaux(t);
  switch (c) {
    case ' ':
      setaux(t, 0x2);
      break;
    case '!':
      if (usable) setaux(t, 0x1);
      break;
    case '#':
      if (!usable) return false;
      setaux(t, 0x4);
      break;
    case '$':
      setaux(t, 0xA);
      break;
    case '%':
      if (usable) setaux(t, 0x5);
      break;
    default:
      break;
  }
  return true;
}
