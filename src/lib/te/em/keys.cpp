// Family-independent key handling: dispatch of a key to the loaded family's
// handler, the fallback key strings, the programmed key slots, and sending a
// key string with its local echo.
#include "em/keys.h"

#include <cstring>

#include "em/em.h"
#include "keyname.h"
#include "te/te.h"

const char* TEemkey(te* t, int key) {
  if (!t || !t->pfnEmProcs || !t->pfnEmProcs->emkey) return nullptr;
  return t->pfnEmProcs->emkey(t, key);
}

// ---- fallback ----

// ESC ] and the final, F1..F12 and the cursor keys.
static const char* const kDefFkeys[12] = {"\033]M", "\033]N", "\033]O", "\033]P", "\033]Q", "\033]R",
                                          "\033]S", "\033]T", "\033]U", "\033]V", "\033]W", "\033]X"};
static const char* const kDefKeypad[10] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};

const char* defkey(te*, int code) {
  if (code >= TK_F1 && code < TK_F1 + 12) return kDefFkeys[code - TK_F1];
  if (code >= TK_KP0 && code <= TK_KP9) return kDefKeypad[code - TK_KP0];
  switch (code) {
    case TK_UP:
      return "\033]A";
    case TK_DOWN:
      return "\033]B";
    case TK_RIGHT:
      return "\033]C";
    case TK_LEFT:
      return "\033]D";
    case TK_HOME:
      return "\033]H";
    case TK_KPMINUS:
      return "-";
    case TK_KPCOMMA:
      return ",";
    case TK_KPDOT:
      return ".";
    case TK_KPENTER:
      return "\r";
    case TK_DEL:
    case TK_C_BACKSPACE:
      return "\177";
    case TK_KPSTAR:
      return "*";
    case TK_KPPLUS:
      return "+";
    case TK_KPSLASH:
      return "/";
    case TK_BACKSPACE:
      return "\b";
    default:
      return nullptr;
  }
}

// ---- sending ----

void skey(te* t, const char* text) {
  if (!t || !text || !*text) return;
  const size_t n = strlen(text);
  if (t->dupmode == 1) TEemwrite(t, text, n);
  if (t->hooks.bcomout) t->hooks.bcomout(t, text, static_cast<int>(n));
}

int fnkey(te* t, int code) {
  const char* s = TEemkey(t, code);
  if (!s || !*s) return 0;
  skey(t, s);
  return 1;
}

// ---- programmed slots ----

void setprgkey(te* t, int slot, const char* text) {
  if (!t || slot < 0 || slot >= TE_PRGKEYS) return;
  EmFree(t->_prgkeys[slot]);
  t->_prgkeys[slot] = nullptr;
  if (!text || !*text) return;
  const size_t n = strlen(text);
  char* copy = static_cast<char*>(EmAlloc(n + 1));
  if (!copy) return;
  memcpy(copy, text, n + 1);
  t->_prgkeys[slot] = copy;
}

void clrprgkeys(te* t) {
  if (!t) return;
  for (int i = 0; i < TE_PRGKEYS; i++) setprgkey(t, i, nullptr);
}

const char* prgkey(const te* t, int slot) {
  if (!t || slot < 0 || slot >= TE_PRGKEYS) return nullptr;
  const char* s = t->_prgkeys[slot];
  return s && *s ? s : nullptr;
}

int setscan(te* t, int on) {
  if (!t) return 0;
  if (on == 0 || on == 1) t->_scanmode = on;
  return t->_scanmode ? 1 : 0;
}
