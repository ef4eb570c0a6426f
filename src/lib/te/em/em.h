// Emulator core shared by every character-mode family: creation, reset and
// destruction of an instance, the colour/attribute maps and helpers, the
// answer-back text, the emulation-number binding list and the families'
// member lists.
#pragma once

#include "te/terec.h"

// Engine error numbers passed to te_hooks.error.
enum {
  EMERR_SCREEN = 200,
  EMERR_PAGE = 202,
  EMERR_SCROLLBACK = 204,
  EMERR_SBWIDEN = 206,
  EMERR_CHARSET = 2087,
  EMERR_EMULATION = 2088,
};

// Engine emulation numbers (te::emode, te::teloaded, sl_emulate): the
// engine's own numbering of what its families run.  They are not the
// session's `emulate` settings (KVX_EMULATION, emulation_ids.h), which
// EmSettingToEmulation turns into these.
enum EM_EMODE : int {
  EMODE_NONE = 0,
  EMODE_VT320 = 1,
  EMODE_VT320_7 = 2,
  EMODE_VT220 = 3,
  EMODE_VT220_7 = 4,
  EMODE_VT100 = 5,
  EMODE_VT52 = 6,
  EMODE_ANSI = 7,
  EMODE_AT386 = 8,
  EMODE_SCOANSI = 9,
  EMODE_WYSE60 = 10,
  EMODE_WYSE60_25 = 11,
  EMODE_PCTERM = 12,
  EMODE_TVI950 = 13,
  EMODE_WYSE50 = 14,
  EMODE_TVI925 = 15,
  EMODE_TVI912 = 16,
  EMODE_ADM1 = 17,
  EMODE_IBM3101 = 18,
  EMODE_IBM3151 = 19,
  EMODE_IBM3151_25 = 20,
  EMODE_TTY = 21,
  EMODE_VT102 = 22,   // runs as EMODE_VT100
  EMODE_IB3101 = 23,  // runs as EMODE_IBM3101
  // 24-30 name nothing.
  EMODE_VT420 = 31,
  EMODE_LINUX = 32,
  EMODE_WYCOL = 33,
  EMODE_ADDSVP = 34,
  EMODE_MAC = 35,       // xterm, announced as xterm-color
  EMODE_XTERM256 = 36,  // xterm, announced as xterm-256color
  EMODE_LIMIT = 37,     // one past the highest number
};

// ---- life cycle (emcore.cpp)
int EmNew(te* t, int emode);
void EmReset(te* t, int emode);
void EmClose(te* t);
void* EmAlloc(size_t bytes);  // zeroed; null on failure
void EmFree(void* p);
void EmError(te* t, int code);
// Test seam: make the n-th following EmAlloc fail (0 = never).
void EmAllocFailAt(int n);

// ---- configuration helpers (emcore.cpp)
int sl_wru(te* t, const char* text);
void initcolors(te* t);
void vblink(te* t, int on);

// ---- colours and attributes (emattr.cpp)
extern const CATMAP gstartupCAT;
void EmMapColor(te* t, CHATTR attr, int bgfg, int permflag);
void _EmMapColor(te* t, CHATTR attr, int bgfg, int permflag);
void EmMapTextAttr(te* t, CHATTR attr, int pattr, int permflag);
uint32_t EmGetTextAttr(te* t, CHATTR attr);
CHATTR EmGetColorBits(te* t, CHATTR attr);
CHATTR EmGetDefColorBits(te* t, CHATTR attr);
// The attribute without renditions in the colours in force (exact ones
// included); EmCurrentColors: the cell bits of the exact colours alone.
CHATTR EmGetDefaultAttr(te* t);
CHATTR EmCurrentColors(te* t);
CHATTR EmGetDefDefaultAttr(te* t);
void EmSetAttr(te* t, CHATTR attr);
void EmSetColorAndAttr(te* t, CHATTR attr);

// ---- emulation numbers and families (emlist.cpp)
extern const EMLIST ansi_emlist[];
extern const EMLIST ibm3151_emlist[];
extern const EMLIST pcterm_emlist[];
extern const EMLIST tty_emlist[];
extern const EMLIST wy50_emlist[];
extern const EMLIST wy60_emlist[];
// Member of a list by name (case-insensitive), or null.
const EMLIST* EmFindMember(const EMLIST* list, const char* name);
// Makes member `name` of `list` the record's sub-mode, terminal name and
// flags; false (sub-mode 0) when the list has no such member.
bool EmSelectMember(te* t, const EMLIST* list, const char* name);
// Name of an emulation number ("VT220", "MAC", ...), or null.
const char* EmName(int emode);
// Engine emulation number of a session emulation setting (KVX_EMULATION),
// or -1 (a block-mode setting, or no setting).
int EmSettingToEmulation(int setting);
// Session emulation setting (KVX_EMULATION) of an engine emulation number,
// or -1.
int EmEmulationToSetting(int emode);
// Emulation number of a name ("VT220", "mac", ...), or -1.
int EmNumberOfName(const char* name);
// Handler vector bound to an emulation number, or null.
const TEPROC* EmFindProcs(int emode);
