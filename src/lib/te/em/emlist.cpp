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
#include "emulation_ids.h"

const EMLIST ansi_emlist[] = {
    {"linux", "linux", 0x400, 0x436}, {"vt420", "vt420", 0x200, 0xC36},
    {"vt320", "vt320", 0x001, 0x436}, {"vt320-7", "vt320", 0x002, 0x436},
    {"vt220", "vt220", 0x004, 0x436}, {"vt220-7", "vt220", 0x008, 0x436},
    {"vt100", "vt100", 0x010, 0x412}, {"vt52", "vt52", 0x020, 0x412},
    {"ansi", "ansi", 0x040, 0x402},   {"scoansi", "ansi", 0x080, 0x445},
    {"at386", "AT386", 0x100, 0x445}, {"mac", "xterm-color", 0xA00, 0xC36},
    {"xterm256", "xterm-256color", 0xA00, 0xC36}, {nullptr, nullptr, 0, 0},
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

// Names by engine emulation number.
static const char* const em_names[EMODE_LIMIT] = {
    nullptr,   "VT320",   "VT320-7",    "VT220",  "VT220-7", "VT100",  "VT52",   "ANSI",   "AT386",
    "SCOANSI", "WYSE60",  "WYSE60-25",  "PCTERM", "TVI950",  "WYSE50", "TVI925", "TVI912", "ADM1",
    "IBM3101", "IBM3151", "IBM3151-25", "TTY",    "VT102",   "IB3101", nullptr,  nullptr,  nullptr,
    nullptr,   nullptr,   nullptr,      nullptr,  "VT420",   "LINUX",  "WYCOL",  "ADDSVP", "MAC",
    "XTERM256",
};

const char* EmName(int emode) {
  if (emode < 0 || emode >= EMODE_LIMIT) return nullptr;
  return em_names[emode];
}

int EmNumberOfName(const char* name) {
  if (!name) return -1;
  for (int i = 1; i < EMODE_LIMIT; i++)
    if (em_names[i] && strcasecmp(em_names[i], name) == 0) return i;
  return -1;
}

// The engine number each character-mode emulation setting runs; the
// block-mode settings have none.
struct EmSettingRow {
  KVX_EMULATION setting;
  EM_EMODE emode;
};
static constexpr EmSettingRow em_settings[] = {
    {KVX_EM_ADM1, EMODE_ADM1},       {KVX_EM_ANSI, EMODE_ANSI},
    {KVX_EM_AT386, EMODE_AT386},     {KVX_EM_IBM3101, EMODE_IBM3101},
    {KVX_EM_PCTERM, EMODE_PCTERM},   {KVX_EM_SCOANSI, EMODE_SCOANSI},
    {KVX_EM_TTY, EMODE_TTY},         {KVX_EM_TVI912, EMODE_TVI912},
    {KVX_EM_TVI925, EMODE_TVI925},   {KVX_EM_TVI950, EMODE_TVI950},
    {KVX_EM_VT100, EMODE_VT100},     {KVX_EM_LINUX, EMODE_LINUX},
    {KVX_EM_VT220, EMODE_VT220},     {KVX_EM_VT220_7, EMODE_VT220_7},
    {KVX_EM_VT320, EMODE_VT320},     {KVX_EM_VT320_7, EMODE_VT320_7},
    {KVX_EM_VT420, EMODE_VT420},     {KVX_EM_WYSE50, EMODE_WYSE50},
    {KVX_EM_WYSE60, EMODE_WYSE60},   {KVX_EM_WYSE60_25, EMODE_WYSE60_25},
    {KVX_EM_IBM3151, EMODE_IBM3151}, {KVX_EM_IBM3151_25, EMODE_IBM3151_25},
    {KVX_EM_ADDSVP, EMODE_ADDSVP},   {KVX_EM_WYCOL, EMODE_WYCOL},
    {KVX_EM_XTERM, EMODE_MAC},       {KVX_EM_XTERM256, EMODE_XTERM256},
};

int EmSettingToEmulation(int setting) {
  for (const EmSettingRow& r : em_settings)
    if (r.setting == setting) return r.emode;
  return -1;
}

int EmEmulationToSetting(int emode) {
  if (emode <= EMODE_NONE) return -1;
  for (const EmSettingRow& r : em_settings)
    if (r.emode == emode) return r.setting;
  return -1;
}

// Emulation numbers bound to a family.
static const TELIST em_telist[] = {
    {EMODE_VT320, &ansi_procs},      {EMODE_VT320_7, &ansi_procs},   {EMODE_VT220, &ansi_procs},
    {EMODE_VT220_7, &ansi_procs},    {EMODE_VT100, &ansi_procs},     {EMODE_VT52, &ansi_procs},
    {EMODE_ANSI, &ansi_procs},       {EMODE_AT386, &ansi_procs},     {EMODE_SCOANSI, &ansi_procs},
    {EMODE_VT420, &ansi_procs},      {EMODE_LINUX, &ansi_procs},     {EMODE_MAC, &ansi_procs},       {EMODE_XTERM256, &ansi_procs},
    {EMODE_WYSE60, &wy60_procs},     {EMODE_WYSE60_25, &wy60_procs}, {EMODE_TVI950, &wy50_procs},
    {EMODE_WYSE50, &wy50_procs},     {EMODE_TVI925, &wy50_procs},    {EMODE_TVI912, &wy50_procs},
    {EMODE_ADM1, &wy50_procs},       {EMODE_WYCOL, &wy50_procs},     {EMODE_ADDSVP, &wy50_procs},
    {EMODE_PCTERM, &pcterm_procs},   {EMODE_IBM3101, &ib31_procs},   {EMODE_IBM3151, &ib31_procs},
    {EMODE_IBM3151_25, &ib31_procs}, {EMODE_TTY, &tty_procs},        {EMODE_NONE, nullptr},
};

const TEPROC* EmFindProcs(int emode) {
  for (const TELIST* e = em_telist; e->pfnProcs; e++)
    if (e->tenum == emode) return e->pfnProcs;
  return nullptr;
}
