// The 3270 screen image: creation and models, cell stores, field lookup,
// buffer addresses and the changed range the painter works from.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "te3270_internal.h"

namespace {

struct Model {
  int rows, cols;
  const char* ttype;
};
constexpr Model kModels[5] = {
    {24, 80, "IBM-3278-2"}, {24, 80, "IBM-3278-2"}, {32, 80, "IBM-3278-3"},
    {43, 80, "IBM-3278-4"}, {27, 132, "IBM-3278-5"},
};

const Model& model(int emulation) {
  return kModels[emulation >= 1 && emulation <= 4 ? emulation : 0];
}

// The six-bit code of buffer addresses, attribute bytes and cursor bytes.
constexpr uint8_t kCode6[64] = {
    0x40, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0x4A, 0x4B, 0x4C,
    0x4D, 0x4E, 0x4F, 0x50, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9,
    0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x60, 0x61, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6,
    0xE7, 0xE8, 0xE9, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0xF0, 0xF1, 0xF2, 0xF3,
    0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
};

void option_defaults(te3270* t) {
  t->OptHome = t->OptLeftMargin = 0;
  t->OptAPLmode = t->OptZonesMode = t->OptEnterNL = t->OptColFieldTab = 0;
  t->OptAlphaInNumeric = t->OptWordWrap = 0;
  t->OptNullProcessing = t->OptPacing = 1;
  std::memset(t->OptColTabs, 0, sizeof t->OptColTabs);
  for (int c = 0; c < TE3270_MAXCOLS; c += 8) t->OptColTabs[c] = 1;
}

}  // namespace

uint8_t te3270_code6(int v) {
  return kCode6[v & 0x3F];
}

te3270::~te3270() = default;

const char* get_ttype(int emulation, bool extattrs) {
  static const char* const kExt[5] = {"IBM-3278-2-E", "IBM-3278-2-E", "IBM-3278-3-E", "IBM-3278-4-E",
                                      "IBM-3278-5-E"};
  return extattrs ? kExt[emulation >= 1 && emulation <= 4 ? emulation : 0] : model(emulation).ttype;
}

const char* te3270_terminal_type(const te3270* t, bool extattrs) {
  if (t->customLines > 0) return "IBM-DYNAMIC";
  return get_ttype(t->emode, extattrs);
}

void set_emulation_screen_sizes(te3270* t) {
  const Model& m = model(t->emode);
  t->MaxNumberLines = t->customLines > 0 ? t->customLines : m.rows;
  t->MaxNumberColumns = t->customLines > 0 ? t->customColumns : m.cols;
  t->DefaultLines = 24;
  t->DefaultColumns = 80;
  t->AltLines = t->MaxNumberLines;
  t->AltColumns = t->MaxNumberColumns;
}

bool te3270_set_custom_size(te3270* t, int rows, int cols) {
  if (rows == 0 && cols == 0) {
    t->customLines = t->customColumns = 0;
  } else {
    if (rows < 24 || cols < 80 || rows > TE3270_MAXROWS || cols > TE3270_MAXCOLS) return false;
    t->customLines = rows;
    t->customColumns = cols;
  }
  set_emulation_screen_sizes(t);
  return true;
}

bool te3270_bind_decode(const uint8_t* b, int n, int maxRows, int maxCols, te3270_bind_sizes* out,
                        const char** why) {
  if (why) *why = "";
  if (!b || n < 25) return false;
  te3270_bind_sizes s{};
  switch (b[24]) {
    case 0x00:
    case 0x02:
      s = {24, 80, 24, 80};
      break;
    case 0x03:
      s = {24, 80, maxRows, maxCols};
      break;
    case 0x7E:
      s = {b[20], b[21], b[20], b[21]};
      break;
    case 0x7F:
      s = {b[20], b[21], b[22], b[23]};
      break;
    default:
      return false;
  }
  auto fits = [&](int r, int c) { return r >= 24 && c >= 80 && r <= maxRows && c <= maxCols; };
  if (!fits(s.defRows, s.defCols) || !fits(s.altRows, s.altCols)) {
    if (why) *why = "a size outside 24x80 and the terminal's maximum";
    return false;
  }
  *out = s;
  return true;
}

// Resizes the presentation space (and the window) to rows x cols.
void te3270_set_size(te3270* t, int rows, int cols) {
  if (rows == t->NumberLines && cols == t->NumberColumns && t->ScreenSize == rows * cols) return;
  t->NumberLines = rows;
  t->NumberColumns = cols;
  t->ScreenSize = rows * cols;
  initscr(t, 0);
}

te3270* TE3270Init(te3270* t, void* window, int emode) {
  bool own = !t;
  if (own) t = new (std::nothrow) te3270();
  if (!t) return nullptr;
  if (StdInit(t, window) != 0) {
    if (own) delete t;
    return nullptr;
  }
  std::snprintf(t->status_msg, sizeof t->status_msg, "DISCONNECTED");
  fws_interpret_chars(t, 0);
  fws_setwrapline(t, 0);
  loadDefaultColors(t);
  t->emode = (emode >= 1 && emode <= 4) ? emode : 1;
  t->current_emulation = t->emode;
  t->In3270 = 0;
  emu_changeto(t, t->emode);
  return t;
}

void TE3270Destroy(te3270* t) {
  delete t;
}

int emu_changeto(te3270* t, int emulation) {
  if (emulation < 1 || emulation > 4) return 0;
  if (t->In3270) DoTerminalOutput(t);
  t->emode = t->current_emulation = emulation;
  set_emulation_screen_sizes(t);
  t->NumberLines = t->NumberColumns = 0;
  te3270_set_size(t, t->MaxNumberLines, t->MaxNumberColumns);
  Init3270(t);
  te3270_reset_keyboard(t);
  DoTerminalOutput(t);
  return 1;
}

void Init3270(te3270* t) {
  option_defaults(t);
  std::memset(t->Host, 0, sizeof t->Host);
  std::memset(t->FA, 0, sizeof t->FA);
  std::memset(t->HostAttrs, 0, sizeof t->HostAttrs);
  t->faCount = 0;
  t->gCurrentSA = 0;
  t->BufferAddress = t->CursorAddress = 0;
  t->OutputClock = 1;
  t->LastWasTerminated = 1;
  t->needGE = false;
  t->bCommandLast = true;
  t->replyMode = REPLY_FIELD;
  t->replyAttrCount = 0;
  t->sscpMode = false;
  t->sscpStart = 0;
  t->dsError = DS_OK;
  t->In3270 = 1;
  te3270_mark_all(t);
}

void Clear3270(te3270* t) {
  std::memset(t->Host, 0, sizeof t->Host);
  std::memset(t->FA, 0, sizeof t->FA);
  std::memset(t->HostAttrs, 0, sizeof t->HostAttrs);
  t->faCount = 0;
  t->gCurrentSA = 0;
  t->BufferAddress = 0;
  t->CursorAddress = 0;
  te3270_mark_all(t);
}

void te3270_mark(te3270* t, int first, int last) {
  if (first < 0 || last >= t->ScreenSize || first > last) {
    te3270_mark_all(t);
    return;
  }
  if (first < t->Lowest) t->Lowest = first;
  if (last > t->Highest) t->Highest = last;
}

void te3270_mark_all(te3270* t) {
  t->Lowest = 0;
  t->Highest = t->ScreenSize - 1;
}

void AddHostA(te3270* t, int address, uint8_t ch) {
  if (t->FA[address] & FA_IS_ATTR) {
    t->faCount--;
    te3270_mark_all(t);
  }
  t->HostAttrs[address] = t->gCurrentSA;
  t->Host[address] = ch;
  t->FA[address] = 0;
}

void AddHost(te3270* t, int address, uint8_t ch) {
  if (address < 0 || address >= t->ScreenSize) return;
  if (t->Host[address] != ch || t->FA[address] || t->HostAttrs[address] != t->gCurrentSA)
    te3270_mark(t, address, address);
  AddHostA(t, address, ch);
}

int te3270_field_start(const te3270* t, int p) {
  if (!t->faCount || p < 0 || p >= t->ScreenSize) return -1;
  for (int i = p; i >= 0; i--)
    if (t->FA[i] & FA_IS_ATTR) return i;
  for (int i = t->ScreenSize - 1; i > p; i--)
    if (t->FA[i] & FA_IS_ATTR) return i;
  return -1;
}

int FieldAttributes(const te3270* t, int p) {
  int f = te3270_field_start(t, p);
  return f < 0 ? 0 : t->Host[f];
}

int FieldDec(const te3270* t, int p) {
  if (!t->faCount || p < 0 || p >= t->ScreenSize) return 0;
  for (int i = p - 1; i >= 0; i--)
    if (t->FA[i] & FA_IS_ATTR) return i;
  for (int i = t->ScreenSize - 1; i > p; i--)
    if (t->FA[i] & FA_IS_ATTR) return i;
  return 0;
}

int FieldInc(const te3270* t, int p) {
  if (!t->faCount || p < 0 || p >= t->ScreenSize) return 0;
  for (int i = p + 1; i < t->ScreenSize; i++)
    if (t->FA[i] & FA_IS_ATTR) return i;
  for (int i = 0; i < p; i++)
    if (t->FA[i] & FA_IS_ATTR) return i;
  return 0;
}

bool te3270_is_protected(const te3270* t, int p) {
  if (!t->faCount) return false;
  if (t->FA[p] & FA_IS_ATTR) return true;
  return (FieldAttributes(t, p) & FA_PROTECT) != 0;
}

void ModifyMdt(te3270* t, int address, bool on) {
  int f = te3270_field_start(t, address);
  if (f < 0) return;
  if (on)
    t->Host[f] |= FA_MDT;
  else
    t->Host[f] &= (uint8_t)~FA_MDT;
}

int te3270_decode_address(uint8_t b1, uint8_t b2) {
  if (b1 & 0x40) return ((b1 & 0x3F) << 6) | (b2 & 0x3F);
  return ((b1 & 0x3F) << 8) | b2;
}

bool te3270_encode_address(const te3270* t, int address, uint8_t out[2]) {
  if (address < 0 || address >= t->ScreenSize || address > 0x3FFF) return false;
  if (t->ScreenSize > 4096) {
    out[0] = (uint8_t)(address >> 8);  // 14-bit binary: the top two bits stay clear
    out[1] = (uint8_t)address;
    return true;
  }
  out[0] = kCode6[(address >> 6) & 0x3F];
  out[1] = kCode6[address & 0x3F];
  return true;
}

uint8_t te3270_pf_aid(int n) {
  static constexpr uint8_t kPF[24] = {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8,
                                      0xF9, 0x7A, 0x7B, 0x7C, 0xC1, 0xC2, 0xC3, 0xC4,
                                      0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0x4A, 0x4B, 0x4C};
  return n >= 1 && n <= 24 ? kPF[n - 1] : 0;
}
