// Key-name table: the names of the named keys, session functions and
// 3270/5250 keys, and the rule-built names of the function-key families.
// scripts/gen_codepage.py reads kNamedKeys to write the browser's key table,
// so keep its entries in the form {"name", code, ctrlcode}.
#include "keyname.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct KeyNameEntry {
  const char* name;  // lower case
  int code;
  int ctrl;  // code of the Ctrl form, 0 when there is none
};

// Order matters: the first entry that carries a code names it.
// clang-format off
const KeyNameEntry kNamedKeys[] = {
    {"up", 276, 320},
    {"down", 277, 321},
    {"right", 278, 302},
    {"left", 279, 303},
    {"home", 280, 297},
    {"end", 298, 299},
    {"pgup", 296, 306},
    {"pgdn", 295, 307},
    {"ins", 300, 322},
    {"insert", 300, 322},
    {"delete", 301, 323},
    {"del", 301, 323},
    {"kp0", 281, 0},
    {"kp1", 282, 0},
    {"kp2", 283, 0},
    {"kp3", 284, 0},
    {"kp4", 285, 0},
    {"kp5", 286, 0},
    {"kp6", 287, 0},
    {"kp7", 288, 0},
    {"kp8", 289, 0},
    {"kp9", 290, 0},
    {"kp/", 316, 327},
    {"kp*", 314, 313},
    {"kp-", 291, 311},
    {"kp+", 315, 312},
    {"kpenter", 294, 328},
    {"kp.", 293, 0},
    {"kp,", 292, 0},
    {"five", 324, 325},
    {"numlock", 317, 0},
    {"scrlock", 318, 0},
    {"pse", 275, 0},
    {"backspace", 319, 308},
    {"bs", 319, 308},
    {"enter", 13, 309},
    {"esc", 27, 310},
    {"tab", 9, 326},
    {"s-tab", 305, 0},
    {"c-print", 304, 313},
    {"menu", 456, 0},
    {"help", 457, 0},
    {"gold", 458, 0},
    {"shell", 459, 0},
    {"capture", 460, 0},
    {"paste", 486, 0},
    {"print", 461, 0},
    {"compose", 462, 0},
    {"break", 467, 0},
    {"abort", 455, 0},
    {"scrlineup", 469, 0},
    {"scrlinedn", 470, 0},
    {"scrpageup", 471, 0},
    {"scrpagedn", 472, 0},
    {"scrright", 465, 0},
    {"scrleft", 464, 0},
    {"scanmode", 466, 0},
    {"nextsess", 463, 0},
    {"command", 483, 0},
    {"ecmd", 468, 0},
    {"copy", 485, 0},
    {"ltctrl", 447, 0},
    {"rtctrl", 448, 0},
    {"sltctrl", 451, 0},
    {"srtctrl", 452, 0},
    {"altctrl", 449, 0},
    {"artctrl", 450, 0},
    {"backtab", 1147, 0},
    {"clear", 1148, 0},
    {"einp", 1149, 0},
    {"eraseinput", 1149, 0},
    {"eeof", 1150, 0},
    {"eraseeof", 1150, 0},
    {"attn", 1151, 0},
    {"redisplayscreen", 1152, 0},
    {"newline", 1153, 0},
    {"tstreq", 1156, 0},
    {"sysreq", 1157, 0},
    {"cursel", 1158, 0},
    {"fldplus", 1159, 0},
    {"fieldplus", 1159, 0},
    {"fldminus", 1160, 0},
    {"fieldminus", 1160, 0},
    {"fldex", 1161, 0},
    {"fieldexit", 1161, 0},
    {"fldmark", 1162, 0},
    {"fieldmark", 1162, 0},
    {"dup", 1163, 0},
    {"masterreset", 1164, 0},
    {"centsign", 1165, 0},
    {"erase", 1166, 0},
    {"erasefield", 1167, 0},
    {"enterrec", 1169, 0},
    {"auto", 1170, 0},
    {"edgetrigger", 1171, 0},
    {"rollup", 1172, 0},
    {"rolldown", 1173, 0},
    {"reset", 1174, 0},
    {"errorreset", 1175, 0},
    {"recordbackspace", 1176, 0},
    {"lastfieldposition", 1177, 0},
    {"aidprint", 1178, 0},
};
// clang-format on

// Longest name keyid looks at; every table name fits.
constexpr size_t kMaxName = 31;

// A function-key family: names prefix + 1..count, codes first + 0..count-1.
struct KeyFamily {
  const char* prefix;  // upper case
  int first;
  int count;
};

const KeyFamily kFamilies[] = {
    {"F", 256, 20},   {"SF", 329, 20}, {"CF", 349, 20},   {"AF", 369, 20},   {"CSF", 389, 20},
    {"PF", 1120, 24}, {"PA", 1144, 3}, {"ASF", 1260, 12}, {"CAF", 1272, 12}, {"CASF", 1284, 12},
};

// The cursor and editing keys of the modified family, in slot order, and
// the prefixes of its modifier slots with their xterm modifier numbers.
const int kModBase[10] = {TK_UP,  TK_DOWN, TK_RIGHT, TK_LEFT, TK_HOME,
                          TK_END, TK_PGUP, TK_PGDN,  TK_INS,  TK_DEL};
const int kModCtrl[10] = {TK_C_UP,  TK_C_DOWN, TK_C_RIGHT, TK_C_LEFT, TK_C_HOME,
                          TK_C_END, TK_C_PGUP, TK_C_PGDN,  TK_C_INS,  TK_C_DEL};
struct ModSlot {
  const char* prefix;  // upper case
  int modifier;
};
const ModSlot kModSlots[6] = {{"S-", 2}, {"A-", 3}, {"AS-", 4}, {"CS-", 6}, {"CA-", 7}, {"CAS-", 8}};

char g_name[48];

const char* kn_put(const char* fmt, int n) {
  snprintf(g_name, sizeof g_name, fmt, n);
  return g_name;
}

// "prefix" + decimal number 1..count with no other characters; 0 otherwise.
int kn_family_number(const char* lower, const char* prefix, int count) {
  size_t len = strlen(prefix);
  for (size_t i = 0; i < len; i++) {
    if (lower[i] != tolower(static_cast<unsigned char>(prefix[i]))) return 0;
  }
  const char* digits = lower + len;
  if (*digits < '1' || *digits > '9') return 0;
  int n = 0;
  for (const char* p = digits; *p; p++) {
    if (!isdigit(static_cast<unsigned char>(*p)) || p - digits >= 2) return 0;
    n = n * 10 + (*p - '0');
  }
  return n <= count ? n : 0;
}

}  // namespace

const char* keyname(int code) {
  if (code < 0) return "NONE";
  for (const KeyFamily& f : kFamilies) {
    if (code >= f.first && code < f.first + f.count) {
      snprintf(g_name, sizeof g_name, "%s%d", f.prefix, code - f.first + 1);
      return g_name;
    }
  }
  if (code >= 409 && code <= 434) return kn_put("ALT%c", code - 312);
  if (code >= 435 && code <= 443) return kn_put("ALT%d", code - 434);
  if (code == 444) return "ALT0";
  if (code == 445) return "ALT-";
  if (code == 446) return "ALT=";
  if (code < 32 || code == 127) return kn_put("^%c", code ^ 0x40);
  if (code < 256) return kn_put("%c", code);
  if (code >= TK_MODKEY && code <= TK_MODKEY_LAST) {
    const int base = kModBase[(code - TK_MODKEY) % 10];
    char* out = g_name + snprintf(g_name, sizeof g_name, "%s", kModSlots[(code - TK_MODKEY) / 10].prefix);
    for (const KeyNameEntry& e : kNamedKeys) {
      if (e.code != base) continue;
      for (const char* p = e.name; *p; p++)
        *out++ = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
      break;
    }
    *out = 0;
    return g_name;
  }
  for (const KeyNameEntry& e : kNamedKeys) {
    if (e.code != code && e.ctrl != code) continue;
    char* out = g_name;
    if (e.code != code) out += snprintf(g_name, sizeof g_name, "C-");
    for (const char* p = e.name; *p; p++) *out++ = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
    *out = 0;
    return g_name;
  }
  if (code >= 512 && code <= 767) return kn_put("%c", code - 512);
  if (code <= 1118) return kn_put("<%x>", code);
  return "NONE";
}

int keymodifier(int code, int* base) {
  int b = 0, m = 0;
  if (code >= TK_MODKEY && code <= TK_MODKEY_LAST) {
    b = kModBase[(code - TK_MODKEY) % 10];
    m = kModSlots[(code - TK_MODKEY) / 10].modifier;
  } else if (code >= TK_ASF1 && code <= TK_MODFKEY_LAST) {
    static const int kFMods[3] = {4, 7, 8};
    b = TK_F1 + (code - TK_ASF1) % 12;
    m = kFMods[(code - TK_ASF1) / 12];
  } else if (code >= TK_SF1 && code < TK_ALTA) {
    static const int kFMods[4] = {2, 5, 3, 6};  // SF, CF, AF, CSF
    b = TK_F1 + (code - TK_SF1) % 20;
    m = kFMods[(code - TK_SF1) / 20];
  } else {
    for (int k = 0; k < 10; k++)
      if (kModCtrl[k] == code) {
        b = kModBase[k];
        m = 5;
      }
  }
  if (base) *base = b;
  return m;
}

int keyid(const char* name) {
  if (name == nullptr || *name == 0) return -2;
  size_t len = strlen(name);
  if (len == 1) return static_cast<unsigned char>(name[0]);
  if (len == 2 && name[0] == '^') return name[1] == '?' ? 127 : name[1] & 0x1F;
  if (len > kMaxName) return -2;
  char lower[kMaxName + 1];
  for (size_t i = 0; i <= len; i++)
    lower[i] = static_cast<char>(tolower(static_cast<unsigned char>(name[i])));

  if (strcmp(lower, "none") == 0) return -1;
  for (const KeyNameEntry& e : kNamedKeys) {
    if (strcmp(lower, e.name) == 0) return e.code;
  }
  if (lower[0] == 'c' && lower[1] == '-') {
    for (const KeyNameEntry& e : kNamedKeys) {
      if (e.ctrl != 0 && strcmp(lower + 2, e.name) == 0) return e.ctrl;
    }
  }
  for (int slot = 0; slot < 6; slot++) {
    const char* prefix = kModSlots[slot].prefix;
    size_t n = strlen(prefix);
    if (strncasecmp(lower, prefix, n) != 0) continue;
    for (const KeyNameEntry& e : kNamedKeys) {
      if (strcmp(lower + n, e.name) != 0) continue;
      for (int k = 0; k < 10; k++)
        if (kModBase[k] == e.code) return TK_MODKEY + slot * 10 + k;
    }
  }
  for (const KeyFamily& f : kFamilies) {
    int n = kn_family_number(lower, f.prefix, f.count);
    if (n != 0) return f.first + n - 1;
  }
  if (len == 4 && strncmp(lower, "alt", 3) == 0) {
    char c = lower[3];
    if (c >= 'a' && c <= 'z') return c + 312;
    if (c >= '1' && c <= '9') return c + 386;
    if (c == '0') return 444;
    if (c == '-') return 445;
    if (c == '=') return 446;
  }
  if (len == 2 && lower[0] == '@' && lower[1] >= 'x' && lower[1] <= 'z') return 1144 + (lower[1] - 'x');
  return -2;
}
