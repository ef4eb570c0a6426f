// Keyboard input dispatch of the session: key codes to the active
// emulator, through its key map, the host code page or UTF-8.
#include "keyboard.h"

#include <cstring>
#include <vector>

#include "app.h"
#include "blockmode.h"
#include "em/ansi.h"
#include "tcs.h"
#include "tcs_utf8.h"
#include "te/te.h"
#include "tetrace.h"

// Trace class of the key entry.
static constexpr uint32_t kKeyTrace = 0x100;

static bool kb_is_high_surrogate(int key) {
  return key >= 0xD800 && key <= 0xDBFF;
}
static bool kb_is_low_surrogate(int key) {
  return key >= 0xDC00 && key <= 0xDFFF;
}

// UTF-8 form of a code point (at most 0x10FFFF); the count of bytes.
static int kb_utf8(uint32_t cp, char out[4]) {
  return static_cast<int>(TCSUtf8Encode(cp, out));
}

// The one host byte of a character or control code without a key string.
static int kb_host_byte(te* t, int key, int tcs) {
  int byte = 0;
  if (isTCS(tcs)) {
    // A national character set in force sends the national character's
    // position; characters it does not hold go through the code page.
    const int pc = tcs - TCS_FIRST;
    const int national = VTxxxNRCFromTCS(t, pc);
    if (national != pc)
      byte = national;
    else if (t->EmTCStoCP)
      byte = t->EmTCStoCP[pc];
  } else {
    byte = tcs & 0xFF;  // control codes and host bytes go as they are
  }
  return byte ? byte : (key & 0xFF);
}

const char* app_translate_key(app_s* app, int tcs) {
  if (!app || !app->lpte || app->emlib != EM_UNIX) return nullptr;
  return TEemkey(app->lpte, tcs);
}

static void kb_character_mode(app_s* app, int key) {
  te* t = app->lpte;
  if (!t) return;
  if (!t->Unicode2TCS) {
    TE_Trace(TRACE_FAIL, "%s: Unicode2TCS table empty\n", "_app_onkey");
    return;
  }
  // Characters beyond the 16-bit key space arrive as surrogate pairs.
  const int high = app->keyHighSurrogate;
  app->keyHighSurrogate = 0;
  if (kb_is_high_surrogate(key)) {
    app->keyHighSurrogate = key;
    return;
  }
  if (kb_is_low_surrogate(key)) {
    if (!high || !t->MBMode) return;  // no host byte stands for half a character
    char bytes[4];
    const uint32_t cp =
        0x10000u + ((static_cast<uint32_t>(high) - 0xD800u) << 10) + (static_cast<uint32_t>(key) - 0xDC00u);
    app_bcomout(app, bytes, kb_utf8(cp, bytes));
    return;
  }

  const int tcs = TCSFromUnicodeKey(t->Unicode2TCS, key);
  if (const char* s = app_translate_key(app, tcs)) {
    if (*s) app_bcomout(app, s, static_cast<int>(strlen(s)));
    return;
  }
  if (tcs >= TCS_TK_FIRST && !isTCS(tcs)) {
    // A terminal, session or block-mode key this emulation has no string
    // for: there is no byte to send.
    TE_Trace(kKeyTrace, "_app_onkey: no string for key %d\n", tcs);
    return;
  }
  if (!t->MBMode || key == 0) {
    app_comout(app, kb_host_byte(t, key, tcs));
    return;
  }
  char bytes[4];
  app_bcomout(app, bytes, kb_utf8(static_cast<uint32_t>(key), bytes));
}

void _app_onkey(app_s* app, int key, bool fromMacro) {
  if (!app) return;
  TE_Trace(kKeyTrace, "_app_onkey: 0x%x\n", static_cast<unsigned>(key));
  if (key < 0 || key > 0xFFFF) {
    // The translation tables end at 65535.
    TE_Trace(TRACE_FAIL, "_app_onkey: key code %d out of range\n", key);
    return;
  }
  switch (app->emlib) {
    case EM_UNIX:
      kb_character_mode(app, key);
      break;
    default:
      app_block_key(app, key, fromMacro);
      break;
  }
}

void app_onkey(app_s* app, int key) {
  _app_onkey(app, key, false);
}

void app_send_translated_string(app_s* app, const char* text) {
  if (!app || !text || !*text) return;
  std::vector<TCS> codes(strlen(text) + 1);
  std::vector<char> copy(text, text + strlen(text) + 1);  // TCSConvert takes a writable text
  const int n = TCSConvert(codes.data(), codes.size(), copy.data(), 0, 2);
  te* t = app->lpte;
  for (int i = 0; i < n; i++) {
    const int code = static_cast<uint16_t>(codes[static_cast<size_t>(i)]);
    int key = code;
    if (isTCS(code)) {
      const int unicode = t && t->TCS2Unicode ? t->TCS2Unicode[code - TCS_FIRST] : 0;
      key = unicode ? unicode : code - TCS_FIRST;
    } else if (code >= TCS_TK_FIRST && !isTCS(code)) {
      // Keys travel as the browser sends them, through the private-use block.
      key = TCS_KEY_UNICODE_BASE + (code - TCS_TK_FIRST);
    }
    _app_onkey(app, key, true);
  }
}
