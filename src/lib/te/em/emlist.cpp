// Emulation numbers, their names, the binding of numbers to handler
// families, and each family's list of members with sub-mode bit and
// capability flags.
#include <strings.h>

#include <cstring>

#include "em/ansi.h"
#include "em/em.h"
#include "em/ibm3151.h"
#include "em/pcterm.h"
#include "em/wyse.h"

const EMLIST ansi_emlist[] = {
    {"linux", "linux", 0x400, 0x436}, {"vt420", "vt420", 0x200, 0xC36},
    {"vt320", "vt320", 0x001, 0x436}, {"vt320-7", "vt320", 0x002, 0x436},
    {"vt220", "vt220", 0x004, 0x436}, {"vt220-7", "vt220", 0x008, 0x436},
    {"vt100", "vt100", 0x010, 0x412}, {"vt52", "vt52", 0x020, 0x412},
    {"ansi", "ansi", 0x040, 0x402},   {"scoansi", "ansi", 0x080, 0x445},
    {"at386", "AT386", 0x100, 0x445}, {"mac", "xterm-color", 0xA00, 0xC36},
    {nullptr, nullptr, 0, 0},
};

const EMLIST ibm3151_emlist[] = {
    {"ibm3101", "ibm3101", 0x1, 0xA},
    {"ibm3151", "ibm3151", 0x2, 0xA},
    {"ibm3151-25", "ibm3151-25", 0x4, 0x9},
    {nullptr, nullptr, 0, 0},
};

const EMLIST pcterm_emlist[] = {
    {"pcterm", "wyse60", 0x1, 0x4C5},
    {nullptr, nullptr, 0, 0},
};

const EMLIST tty_emlist[] = {
    {"tty", "vt100", 0x1, 0x0},
    {nullptr, nullptr, 0, 0},
};

const EMLIST wy50_emlist[] = {
    {"adm1", "adm1", 0x01, 0xA},      {"tvi912", "tvi912", 0x02, 0xA}, {"tvi925", "tvi925", 0x04, 0xA},
    {"tvi950", "tvi950", 0x08, 0xA},  {"wyse50", "wyse50", 0x10, 0xA}, {"addsvp", "addsvp", 0x20, 0xA},
    {"wycol", "wycol", 0x40, 0x140A}, {nullptr, nullptr, 0, 0},
};

const EMLIST wy60_emlist[] = {
    {"wyse60", "wyse60", 0x1, 0x6},
    {"wyse60-25", "wyse60-25", 0x2, 0x5},
    {nullptr, nullptr, 0, 0},
};

const EMLIST* EmFindMember(const EMLIST* list, const char* name) {
  if (!list || !name) return nullptr;
  for (; list->emname; list++)
    if (strcasecmp(list->emname, name) == 0) return list;
  return nullptr;
}

bool EmSelectMember(te* t, const EMLIST* list, const char* name) {
  const EMLIST* m = EmFindMember(list, name);
  if (!m) {
    t->_vemode = 0;
    return false;
  }
  t->_vemode = m->emvemode;
  std::strncpy(t->_telname, m->emtelname, sizeof t->_telname - 1);
  t->teflags = m->emflags;
  return true;
}

static const char* const em_names[36] = {
    nullptr,   "VT320",   "VT320-7",    "VT220",  "VT220-7", "VT100",  "VT52",   "ANSI",   "AT386",
    "SCOANSI", "WYSE60",  "WYSE60-25",  "PCTERM", "TVI950",  "WYSE50", "TVI925", "TVI912", "ADM1",
    "IBM3101", "IBM3151", "IBM3151-25", "TTY",    "VT102",   "IB3101", nullptr,  nullptr,  nullptr,
    nullptr,   nullptr,   nullptr,      nullptr,  "VT420",   "LINUX",  "WYCOL",  "ADDSVP", "MAC",
};

const char* EmName(int emode) {
  if (emode < 0 || emode >= 36) return nullptr;
  return em_names[emode];
}

int EmNumberOfName(const char* name) {
  if (!name) return -1;
  for (int i = 1; i < 36; i++)
    if (em_names[i] && strcasecmp(em_names[i], name) == 0) return i;
  return -1;
}

static const int em_settings[31] = {17, 7,  8,  18, 12, 9,  21, 16, 15, 13, 5,  32, 3,  4,  1, 2,
                                    31, 14, 10, 11, 19, 20, -1, -1, -1, -1, -1, -1, 34, 33, 35};

int EmSettingToEmulation(int setting) {
  if (setting < 0 || setting > 30) return -1;
  return em_settings[setting];
}

int EmEmulationToSetting(int emode) {
  for (int s = 0; s <= 30; s++)
    if (em_settings[s] == emode && emode > 0) return s;
  return -1;
}

// Emulation numbers bound to a family.
static const TELIST em_telist[] = {
    {1, &ansi_procs},  {2, &ansi_procs},  {3, &ansi_procs},  {4, &ansi_procs},  {5, &ansi_procs},
    {6, &ansi_procs},  {7, &ansi_procs},  {8, &ansi_procs},  {9, &ansi_procs},  {31, &ansi_procs},
    {32, &ansi_procs}, {35, &ansi_procs}, {10, &wy60_procs}, {11, &wy60_procs}, {13, &wy50_procs},
    {14, &wy50_procs}, {15, &wy50_procs}, {16, &wy50_procs}, {17, &wy50_procs}, {33, &wy50_procs},
    {34, &wy50_procs}, {12, &pcterm_procs}, {18, &ib31_procs}, {19, &ib31_procs}, {20, &ib31_procs},
    {21, &tty_procs},  {0, nullptr},
};

const TEPROC* EmFindProcs(int emode) {
  for (const TELIST* e = em_telist; e->pfnProcs; e++)
    if (e->tenum == emode) return e->pfnProcs;
  return nullptr;
}
