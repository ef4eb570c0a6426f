// The settings keys table (settings_keys.h) and its look-ups.
//
// To add a key: add its row below, in the group of its area, with its
// type, its bound as the code that reads it applies it, its home (a
// session key, shared by every browser, or a browser preference the page
// keeps), the flags that apply (a secret, a value the session writes) and
// a short meaning; then put the row the settings_keys test prints into the
// "Settings" table of README.md.  A key the session reads without a row
// here is still accepted, but counted as unknown.
#include "settings_keys.h"

#include <strings.h>

#include <climits>
#include <cstdio>

#include "emulation_ids.h"
#include "json.h"

namespace {

constexpr int kOne = -1;     // first = last = kOne: a single key, not a family
constexpr long kAnyMin = 1;  // kAnyMin > kAnyMax: no bound
constexpr long kAnyMax = 0;
constexpr long kDictText = 1023;  // the most bytes the settings dictionary keeps of a value

constexpr KVX_SETTING_TYPE INT = KVX_SETTING_INT;
constexpr KVX_SETTING_TYPE FLAG = KVX_SETTING_FLAG;
constexpr KVX_SETTING_TYPE TEXT = KVX_SETTING_TEXT;
constexpr KVX_SETTING_HOME SESSION = KVX_SETTING_SESSION;
constexpr KVX_SETTING_HOME BROWSER = KVX_SETTING_BROWSER;
constexpr unsigned SECRET = KVX_SETTING_SECRET;
constexpr unsigned WRITTEN = KVX_SETTING_WRITTEN;

// name, first, last, bare, type, min, max, area, home, flags, meaning
constexpr kvx_setting_key kKeys[] = {
    // ---- the screen
    {"lines", kOne, kOne, false, INT, 1, 250, "screen", SESSION, 0,
     "screen rows; more is cut to 250, 0 or less keeps the size in force"},
    {"col", kOne, kOne, false, INT, 1, 132, "screen", SESSION, 0,
     "screen columns; more is cut to 132, 0 or less keeps the size in force"},
    {"vextend", kOne, kOne, false, FLAG, 0, 1, "screen", SESSION, 0,
     "extended screen: the size follows the window at `vextendFontSize`"},
    {"vextendFontSize", kOne, kOne, false, INT, 1, 200, "screen", SESSION, 0,
     "font size of the extended screen; 0 is 10, more than 200 is 200"},
    {"cursor", kOne, kOne, false, INT, 0, 3, "screen", SESSION, 0,
     "cursor shape: blinking block, steady block, blinking underline, steady underline; others are 0"},
    {"clearEmulator", kOne, kOne, false, FLAG, 0, 1, "screen", SESSION, 0,
     "clear the screen once the settings are applied"},
    // ---- the terminal
    {"emulate", kOne, kOne, false, INT, kKvxEmFirst, kKvxEmLast, "terminal", SESSION, 0,
     "the emulation (the connect panel's list; 22-27 the IBM 5250 and 3270 stations)"},
    {"MBMode", kOne, kOne, false, INT, 0, 4, "terminal", SESSION, 0,
     "host data: 0 the code page, 1 UTF-8, 2-4 double-byte modes; others are 1"},
    {"bsdel", kOne, kOne, false, FLAG, 0, 1, "terminal", SESSION, 0,
     "Backspace sends DEL; in 3270 and 5250 it erases left of the cursor"},
    {"borderDetect", kOne, kOne, false, INT, kAnyMin, kAnyMax, "terminal", SESSION, 0,
     "watch the host output for the answerback request (`wruchar`)"},
    {"wruchar", kOne, kOne, false, INT, kAnyMin, kAnyMax, "terminal", SESSION, 0,
     "the character that asks for the answerback"},
    {"wru", kOne, kOne, false, TEXT, 0, kDictText, "terminal", SESSION, 0, "the answerback text"},
    {"maskpar", kOne, kOne, false, INT, kAnyMin, kAnyMax, "terminal", SESSION, 0,
     "strip the parity bit of host bytes"},
    {"cleartosb", kOne, kOne, false, INT, kAnyMin, kAnyMax, "terminal", SESSION, 0,
     "a cleared screen goes to the scrollback"},
    {"vt4207mode", kOne, kOne, false, INT, kAnyMin, kAnyMax, "terminal", SESSION, 0,
     "national replacement characters stay on when the host turns them off (DECNRCM)"},
    {"mode", kOne, kOne, false, FLAG, 0, 1, "terminal", SESSION, 0, "duplex mode of the terminal"},
    {"charset", kOne, kOne, false, INT, 0, 13, "terminal", SESSION, 0,
     "the terminal's default character set; others are refused"},
    {"screenReadBack", kOne, kOne, false, FLAG, 0, 1, "terminal", SESSION, 0,
     "the host may read the screen back (see Security)"},
    {"sblockmode", kOne, kOne, false, FLAG, 0, 1, "terminal", SESSION, 0,
     "start in block mode (block-capable terminals)"},
    {"addlf", kOne, kOne, false, FLAG, 0, 1, "terminal", SESSION, 0, "IBM 3151: CR also feeds a line"},
    {"closedisc", kOne, kOne, false, FLAG, 0, 1, "terminal", SESSION, 0,
     "end the session when the host disconnects"},
    // ---- colours
    {"colorfg0", kOne, kOne, false, INT, 0, 16, "colours", SESSION, 0,
     "foreground colour, an index into the colour map from 1; 0 the emulator's own"},
    {"colorbg0", kOne, kOne, false, INT, 0, 19, "colours", SESSION, 0,
     "background colour (1-16; 1-19 in 3270 and 5250)"},
    {"colorfg4", kOne, kOne, false, INT, 0, 16, "colours", SESSION, 0, "colour of bold text"},
    {"CursorColor", kOne, kOne, false, INT, 0, 16, "colours", SESSION, 0, "cursor colour"},
    {"colorfg", 5, 8, false, INT, 0, 19, "colours", SESSION, 0,
     "3270 field colours where no `3270colfg` key is set"},
    {"3270colfg", 0, 3, false, INT, 0, 19, "colours", SESSION, 0,
     "3270 field colours: protected intensified, protected, unprotected intensified, unprotected"},
    {"5250colfg0", kOne, kOne, false, INT, 0, 19, "colours", SESSION, 0, "5250 green"},
    {"5250colfg2", kOne, kOne, false, INT, 0, 19, "colours", SESSION, 0, "5250 white"},
    {"5250colfg8", kOne, kOne, false, INT, 0, 19, "colours", SESSION, 0, "5250 red"},
    {"5250colfg16", kOne, kOne, false, INT, 0, 19, "colours", SESSION, 0, "5250 turquoise"},
    {"5250colfg18", kOne, kOne, false, INT, 0, 19, "colours", SESSION, 0, "5250 yellow"},
    {"5250colfg24", kOne, kOne, false, INT, 0, 19, "colours", SESSION, 0, "5250 pink"},
    {"5250colfg26", kOne, kOne, false, INT, 0, 19, "colours", SESSION, 0, "5250 blue"},
    {"RGBMap", 0, 18, false, TEXT, 0, 10, "colours", SESSION, 0,
     "colour-map entry, hexadecimal RGB (`FF8000`, `00FF8000`, `0x00FF8000`); 0-15 in character mode"},
    // ---- code pages
    {"cptrxin", kOne, kOne, false, TEXT, 0, kDictText, "code pages", SESSION, 0,
     "host code page: a table of codepage.dat; in 3270 and 5250 an EBCDIC page, `CP037`, `CP273`, `CP277`, "
     "`CP278`, `CP280`, `CP284`, `CP285`, `CP297`, `CP500`, `CP871`, `CP1047`, `CP1140`-`CP1149` (also "
     "\"US English\", \"UK English\", \"German\", \"French\"); others are 037"},
    {"cpdecmn", kOne, kOne, false, TEXT, 0, kDictText, "code pages", SESSION, 0,
     "DEC multinational mapping; empty the built-in one"},
    {"cpdecsg", kOne, kOne, false, TEXT, 0, kDictText, "code pages", SESSION, 0,
     "DEC special graphics mapping; empty the built-in one"},
    {"cpdecvt", kOne, kOne, false, TEXT, 0, kDictText, "code pages", SESSION, 0,
     "VT100 special graphics mapping; empty the built-in one"},
    // ---- IBM 3270 and 5250
    {"em3270idx", kOne, kOne, false, INT, 0, 3, "3270", SESSION, 0, "model 2-5; others are model 2"},
    {"em3270rows", kOne, kOne, false, INT, 24, 62, "3270", SESSION, 0,
     "custom size (IBM-DYNAMIC): rows, with `em3270cols`; 0 the model's, a size outside 24x80-62x160 too"},
    {"em3270cols", kOne, kOne, false, INT, 80, 160, "3270", SESSION, 0,
     "custom size: columns, with `em3270rows`"},
    {"TE3270EnExAtt", kOne, kOne, false, FLAG, 0, 1, "3270", SESSION, 0,
     "extended attributes (\"-E\" terminal types)"},
    {"underlineFields", kOne, kOne, false, FLAG, 0, 1, "3270", SESSION, 0, "unprotected fields underlined"},
    {"IBMBlankChar", kOne, kOne, false, TEXT, 0, 1, "3270", SESSION, 0,
     "shown for the characters of non-display fields"},
    {"em5250idx", kOne, kOne, false, INT, 0, 2, "5250", SESSION, 0,
     "model: 0 5555-C01, 1 3477-FC, 2 3179-2; others are 0"},
    {"FieldDots", kOne, kOne, false, FLAG, 0, 1, "5250", SESSION, 0,
     "column separators of fields shown as dots"},
    {"ibmkbdtype", kOne, kOne, false, TEXT, 0, 3, "5250", SESSION, 0,
     "IBM keyboard type told the host (`USB`, `AGB`, `FNB`, `UKB`, `BLI`); empty or not three letters: the "
     "code page's usual one"},
    {"ibmterminalname", kOne, kOne, false, TEXT, 0, kDictText, "3270 and 5250", SESSION, WRITTEN,
     "written by the session: the terminal type of the model"},
    // ---- printers: the bare key is printer 1, the suffixes 2-6 printers 2-6
    {"prnopt", 2, 6, true, INT, kAnyMin, kAnyMax, "printers", SESSION, 0,
     "0 or 1 the session's print jobs, 2 (a file on the server) refused: as 1; others none; bits 4-11 the printer type"},
    {"prnfllst", 2, 6, true, TEXT, 0, 255, "printers", SESSION, 0,
     "a file on the server to print to: refused for any path"},
    {"prnftype", 2, 6, true, INT, kAnyMin, kAnyMax, "printers", SESSION, 0,
     "0 a text file, others a raw file"},
    {"IgnorePrintStop", 2, 6, true, INT, kAnyMin, kAnyMax, "printers", SESSION, 0,
     "ignore the host's print-stop requests"},
    {"PrintStop", 2, 6, true, INT, kAnyMin, kAnyMax, "printers", SESSION, 0, "print-stop flags, less one"},
    {"printpause", 2, 6, true, INT, kAnyMin, kAnyMax, "printers", SESSION, 0, "pause between pages"},
    {"printlines", 2, 6, true, INT, kAnyMin, kAnyMax, "printers", SESSION, 0,
     "lines a page; 0 here or in `printcols` is 65 lines of 80 columns"},
    {"printcols", 2, 6, true, INT, kAnyMin, kAnyMax, "printers", SESSION, 0, "columns a page"},
    {"printpaper", kOne, kOne, false, TEXT, 0, 16, "printers", SESSION, 0,
     "the paper of the print jobs' PDF: `a4` (otherwise) or `letter`"},
    // ---- the auxiliary port
    {"aux_devport", kOne, kOne, false, TEXT, 0, 255, "auxiliary port", SESSION, 0,
     "the device (one `--aux-devices` allows); a longer path is refused"},
    {"aux_port", kOne, kOne, false, INT, kAnyMin, kAnyMax, "auxiliary port", SESSION, 0,
     "n: the device `/dev/ttyS<n-1>`"},
    {"aux_baud", kOne, kOne, false, INT, kAnyMin, kAnyMax, "auxiliary port", SESSION, 0,
     "speed, 50-230400; others are 9600"},
    {"aux_wordlen", kOne, kOne, false, INT, kAnyMin, kAnyMax, "auxiliary port", SESSION, 0,
     "data bits: 6, 7; others are 8"},
    {"aux_stopbits", kOne, kOne, false, INT, kAnyMin, kAnyMax, "auxiliary port", SESSION, 0,
     "kept; the line has one stop bit"},
    {"aux_parity", kOne, kOne, false, INT, kAnyMin, kAnyMax, "auxiliary port", SESSION, 0,
     "kept; the line has no parity"},
    {"aux_dsrdtr", kOne, kOne, false, INT, kAnyMin, kAnyMax, "auxiliary port", SESSION, 0, "DTR on"},
    {"aux_xon", kOne, kOne, false, INT, kAnyMin, kAnyMax, "auxiliary port", SESSION, 0,
     "XON/XOFF flow control"},
    {"aux_rtscts", kOne, kOne, false, INT, kAnyMin, kAnyMax, "auxiliary port", SESSION, 0, "RTS on"},
    // ---- the connection
    {"commtype", kOne, kOne, false, INT, kAnyMin, kAnyMax, "connection", SESSION, 0,
     "7 local shell, 5 SSH, 4 telnet with START_TLS, 8 telnet over TLS, others telnet"},
    {"node", kOne, kOne, false, TEXT, 0, kDictText, "connection", SESSION, 0,
     "host name; `<devname>` placeholders are replaced"},
    {"port", kOne, kOne, false, INT, 0, 65535, "connection", SESSION, 0, "telnet port"},
    {"user", kOne, kOne, false, TEXT, 0, kDictText, "connection", SESSION, 0, "user name"},
    {"teltermtype", kOne, kOne, false, TEXT, 0, kDictText, "connection", SESSION, 0,
     "terminal type told the host (empty: the emulation's); in 3270 and 5250 the device name"},
    {"language", kOne, kOne, false, TEXT, 0, kDictText, "connection", SESSION, 0,
     "language of the host session (SSH sends it as LANG)"},
    {"telnetkeepalive", kOne, kOne, false, INT, kAnyMin, kAnyMax, "connection", SESSION, 0,
     "seconds between telnet NOPs; 0 none"},
    {"useSystemConnection", kOne, kOne, false, FLAG, 0, 1, "connection", SESSION, 0,
     "a connection of the platform: none here, the connect fails"},
    // ---- TLS
    {"useStartTLS", kOne, kOne, false, FLAG, 0, 1, "TLS", SESSION, WRITTEN,
     "TLS negotiated in-band; set at connect from `commtype` 4 or 8"},
    {"sslVerifyServer", kOne, kOne, false, FLAG, 0, 1, "TLS", SESSION, 0, "verify the host's certificate"},
    {"sslCAFile", kOne, kOne, false, TEXT, 0, kDictText, "TLS", SESSION, 0,
     "extra trusted CA certificates (PEM)"},
    {"sslPrivateKey", kOne, kOne, false, TEXT, 0, kDictText, "TLS", SESSION, WRITTEN,
     "client certificate file; the session sets it at every connect"},
    {"sslPrivateKeyPassword", kOne, kOne, false, TEXT, 0, kDictText, "TLS", SESSION, SECRET | WRITTEN,
     "its password; emptied once the connection has read it"},
    // ---- SSH
    {"sshport", kOne, kOne, false, INT, 0, 65535, "SSH", SESSION, 0, "SSH port"},
    {"usePub", kOne, kOne, false, FLAG, 0, 1, "SSH", SESSION, 0,
     "authenticate with the public key (`useAuth` too)"},
    {"useAuth", kOne, kOne, false, FLAG, 0, 1, "SSH", SESSION, 0, "the same as `usePub`"},
    {"sshPublicKey", kOne, kOne, false, TEXT, 0, kDictText, "SSH", SESSION, 0, "the public key file"},
    {"sshPassphrase", kOne, kOne, false, TEXT, 0, kDictText, "SSH", SESSION, SECRET | WRITTEN,
     "the key's pass phrase; filled from `sshPassphraseHash` for the connect, emptied right after"},
    {"sshPassphraseHash", kOne, kOne, false, TEXT, 0, kDictText, "SSH", SESSION, SECRET | WRITTEN,
     "secure-store token of the pass phrase; written when `storePassword` keeps one"},
    {"storePassword", kOne, kOne, false, FLAG, 0, 1, "SSH", SESSION, 0,
     "keep the key's pass phrase (as `sshPassphraseHash`) for the next connect"},
    {"AcceptSSHFingerprints", kOne, kOne, false, FLAG, 0, 1, "SSH", SESSION, 0,
     "connect without asking when the host's key has changed"},
    {"sshTimeout", kOne, kOne, false, INT, kAnyMin, kAnyMax, "SSH", SESSION, 0,
     "connect timeout in seconds; 0 or less is 120"},
    // ---- log-in
    {"password", kOne, kOne, false, TEXT, 0, kDictText, "log-in", SESSION, SECRET | WRITTEN,
     "the host password; filled from `passwordHash` for the connect, emptied right after"},
    {"passwordHash", kOne, kOne, false, TEXT, 0, kDictText, "log-in", SESSION, SECRET,
     "secure-store token of the host password; posted as a name in `secureKeys`"},
    {"secureKeys", kOne, kOne, false, KVX_SETTING_SECRETS, kAnyMin, kAnyMax, "log-in", SESSION, SECRET,
     "secret values by name; stored as tokens before anything else is read"},
    {"autologin", kOne, kOne, false, FLAG, 0, 1, "log-in", SESSION, 0,
     "play `autologinMacroHash` once the host is reached"},
    {"autologinMacroHash", kOne, kOne, false, TEXT, 0, 65536, "log-in", SESSION, 0,
     "the log-in macro: its text, or a file of `--macro-directory`"},
    // ---- the page's own preferences
    {"fontSize", kOne, kOne, false, INT, 8, 32, "page", BROWSER, 0, "text size in pixels; 15 by default"},
    {"bellSound", kOne, kOne, false, FLAG, 0, 1, "page", BROWSER, 0, "the bell sounds; off by default"},
    {"copyOnSelect", kOne, kOne, false, FLAG, 0, 1, "page", BROWSER, 0,
     "a selection is copied; on by default"},
    {"confirmPaste", kOne, kOne, false, FLAG, 0, 1, "page", BROWSER, 0,
     "ask before pasting several lines; on by default"},
    {"blockFontSize", kOne, kOne, false, INT, 0, 32, "page", BROWSER, 0,
     "a 3270 or 5250 screen's text size in pixels (8-32); 0, the default, as large as fits"},
    {"fieldUnderline", kOne, kOne, false, FLAG, 0, 1, "page", BROWSER, 0,
     "a 3270 screen's input fields are underlined; on by default"},
    {"pfHotspots", kOne, kOne, false, FLAG, 0, 1, "page", BROWSER, 0,
     "\"PF3=Exit\" and the like on a 3270 or 5250 screen press the key when clicked; on by default"},
    {"fontFamily", kOne, kOne, false, TEXT, 0, 64, "page", BROWSER, 0,
     "the terminal font: one the page names or any installed font; empty, the default, the page's own"},
    {"scheme", kOne, kOne, false, TEXT, 0, 8, "page", BROWSER, 0,
     "colour scheme: `default` (follows the system's light or dark), `light`, `dark`, `green`, `contrast`"},
    {"cursorStyle", kOne, kOne, false, INT, 0, 6, "page", BROWSER, 0,
     "cursor style by the DECSCUSR numbers: blinking or steady block (1, 2), underline (3, 4), bar (5, 6); "
     "0, the default, a blinking block; a host's own style wins"},
    {"blinkText", kOne, kOne, false, FLAG, 0, 1, "page", BROWSER, 0, "text the host makes blink blinks; on by default"},
    // ---- trace
    {"trace", kOne, kOne, false, TEXT, 0, kDictText, "trace", SESSION, 0,
     "trace categories of this session on top of the server's `--trace` (comm, telnet, 3270, ..., all)"},
    {"traceFile", kOne, kOne, false, TEXT, 0, 128, "trace", SESSION, 0,
     "this session's trace file: a plain name in the directory of the server's `--trace-file`"},
};

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Whether `name` is a member of `key`.
bool matches(const kvx_setting_key& key, std::string_view name) {
  const std::string_view stem = key.name;
  if (key.first == kOne) return same_name(name, stem);
  if (name.size() < stem.size() || !same_name(name.substr(0, stem.size()), stem)) return false;
  const std::string_view digits = name.substr(stem.size());
  if (digits.empty()) return key.bare;
  if (digits.size() > 3 || (digits.size() > 1 && digits[0] == '0')) return false;
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  return n >= key.first && n <= key.last;
}

struct count_ctx {
  size_t unknown = 0;
  std::vector<std::string>* names;
};

void count_member(const char* name, js_value_s*, void* arg) {
  count_ctx* ctx = static_cast<count_ctx*>(arg);
  if (name && kvx_setting_is_session_key(name)) return;
  ctx->unknown++;
  if (ctx->names) ctx->names->push_back(name ? name : "");
}

const char* type_name(KVX_SETTING_TYPE type) {
  switch (type) {
    case KVX_SETTING_INT:
      return "int";
    case KVX_SETTING_FLAG:
      return "flag";
    case KVX_SETTING_TEXT:
      return "text";
    case KVX_SETTING_SECRETS:
      return "object";
  }
  return "?";
}

std::string bound_text(const kvx_setting_key& key) {
  char text[64];
  switch (key.type) {
    case KVX_SETTING_INT:
    case KVX_SETTING_FLAG:
      if (key.min > key.max) return "any";
      std::snprintf(text, sizeof text, "%ld-%ld", key.min, key.max);
      return text;
    case KVX_SETTING_TEXT:
      std::snprintf(text, sizeof text, "%ld bytes", key.max);
      return text;
    case KVX_SETTING_SECRETS:
      break;
  }
  return "-";
}

}  // namespace

std::span<const kvx_setting_key> kvx_settings_keys() {
  return kKeys;
}

const kvx_setting_key* kvx_setting_find(std::string_view name) {
  for (const kvx_setting_key& key : kKeys)
    if (matches(key, name)) return &key;
  return nullptr;
}

bool kvx_setting_is_session_key(std::string_view name) {
  const kvx_setting_key* key = kvx_setting_find(name);
  return key && key->home == KVX_SETTING_SESSION;
}

size_t kvx_settings_count_unknown(const js_value_s* kcf, std::vector<std::string>* names) {
  if (!kcf || kcf->type != JS_VALUE_OBJECT) return 0;
  count_ctx ctx{0, names};
  js_value_iterate_members(kcf, count_member, &ctx);
  return ctx.unknown;
}

std::string kvx_setting_display_name(const kvx_setting_key& key) {
  const std::string stem = key.name;
  if (key.first == kOne) return "`" + stem + "`";
  std::string out = key.bare ? "`" + stem + "`, " : "";
  return out + "`" + stem + std::to_string(key.first) + "`-`" + stem + std::to_string(key.last) + "`";
}

std::string kvx_setting_readme_row(const kvx_setting_key& key) {
  return "| " + kvx_setting_display_name(key) + " | " + type_name(key.type) + " | " + bound_text(key) +
         " | " + key.area + " | " + (key.home == KVX_SETTING_SESSION ? "session" : "browser") + " | " +
         key.meaning + " |";
}
