// Host records of the 3270 data stream: the command table, the write
// control character, the order table and its parameters, structured
// fields, and the TN3270E data types around them.
//
// A record is interpreted front to back; an order cut off by the end of the
// record, an address outside the screen or a malformed structured field
// stops the record where it is (what was done stays), and dsError tells the
// owner so that it can answer with a negative response.
#include <algorithm>
#include <array>
#include <iterator>

#include "te3270_internal.h"
#include "tetrace.h"

namespace {

enum Cmd : uint8_t { CMD_NONE, CMD_W, CMD_EW, CMD_EWA, CMD_EAU, CMD_WSF, CMD_RB, CMD_RM, CMD_RMA };

// Both the channel-command and the SNA codes of each command.
constexpr std::array<uint8_t, 256> kCommands = [] {
  std::array<uint8_t, 256> c{};
  c[0x01] = c[0xF1] = CMD_W;
  c[0x05] = c[0xF5] = CMD_EW;
  c[0x0D] = c[0x7E] = CMD_EWA;
  c[0x0F] = c[0x6F] = CMD_EAU;
  c[0x11] = c[0xF3] = CMD_WSF;
  c[0x02] = c[0xF2] = CMD_RB;
  c[0x06] = c[0xF6] = CMD_RM;
  c[0x6E] = CMD_RMA;
  return c;
}();

// What a data byte becomes in the screen image.
constexpr std::array<uint8_t, 256> kStore = [] {
  std::array<uint8_t, 256> s{};
  for (int e = 0; e < 256; e++) s[e] = te3270_store_code_of(e);
  return s;
}();

enum Ord : uint8_t {
  ORD_DATA,
  ORD_SF,
  ORD_SFE,
  ORD_SBA,
  ORD_SA,
  ORD_MF,
  ORD_IC,
  ORD_PT,
  ORD_RA,
  ORD_EUA,
  ORD_GE,
  ORD_YALE,
};

constexpr std::array<uint8_t, 256> kOrders = [] {
  std::array<uint8_t, 256> o{};
  o[0x1D] = ORD_SF;
  o[0x29] = ORD_SFE;
  o[0x11] = ORD_SBA;
  o[0x28] = ORD_SA;
  o[0x2C] = ORD_MF;
  o[0x13] = ORD_IC;
  o[0x05] = ORD_PT;
  o[0x3C] = ORD_RA;
  o[0x12] = ORD_EUA;
  o[0x08] = ORD_GE;
  o[0x2B] = ORD_YALE;
  return o;
}();

// WCC bits.
enum : uint8_t {
  WCC_RESET = 0x40,
  WCC_ALARM = 0x04,
  WCC_RESTORE = 0x02,
  WCC_RESET_MDT = 0x01,
};

// Extended attribute and SA types.
enum : uint8_t {
  XT_ALL = 0x00,
  XT_HILITE = 0x41,
  XT_FG = 0x42,
  XT_CHARSET = 0x43,
  XT_BG = 0x45,
  XT_FIELD = 0xC0,
  XT_OUTLINE = 0xC2,
};

uint32_t apply_xattr(uint32_t x, uint8_t type, uint8_t value) {
  switch (type) {
    case XT_HILITE:
      return (x & ~XA_HILITE) | value;
    case XT_FG:
      return (x & ~XA_FG) | ((uint32_t)value << XA_FG_SHIFT);
    case XT_BG:
      return (x & ~XA_BG) | ((uint32_t)value << XA_BG_SHIFT);
    case XT_CHARSET:
      return (x & ~XA_CHARSET) | ((uint32_t)value << XA_CHARSET_SHIFT);
    case XT_OUTLINE:
      // Outlining underneath stands for underscore; other lines are not shown.
      return (value & 0x01) ? (x & ~XA_HILITE) | 0xF4 : x;
  }
  return x;
}

// Stores a field attribute with its extended attributes.
void set_fa(te3270* t, int a, uint8_t attr, uint32_t xattr) {
  attr |= FA_BASE;
  if (!(t->FA[a] & FA_IS_ATTR)) {
    t->faCount++;
    te3270_mark_all(t);
  } else if (t->Host[a] != attr || t->HostAttrs[a] != xattr) {
    te3270_mark_all(t);
  }
  t->Host[a] = attr;
  t->FA[a] = FA_IS_ATTR;
  t->HostAttrs[a] = xattr;
}

// One data character (untranslated after a Graphic Escape).
inline void put_data(te3270* t, int a, uint8_t b, bool ge) {
  AddHostA(t, a, ge ? b : te3270_store_code(b));
  if (ge) t->FA[a] = FA_IS_GE;
}

void put_marked(te3270* t, int a, uint8_t b, bool ge) {
  te3270_mark(t, a, a);
  put_data(t, a, b, ge);
}

void reset_mdts(te3270* t) {
  if (!t->faCount) return;
  for (int a = 0; a < t->ScreenSize; a++)
    if (t->FA[a] & FA_IS_ATTR) t->Host[a] &= (uint8_t)~FA_MDT;
}

class Writer {
 public:
  Writer(te3270* t, const uint8_t* p, int n) : t_(t), p_(p), n_(n) {}

  // Orders and data to the end; false when the record was stopped.
  bool run() {
    te3270* t = t_;
    int ba = t->BufferAddress;
    if (ba >= t->ScreenSize) ba = 0;
    t->bCommandLast = true;
    while (i_ < n_) {
      uint8_t ord = kOrders[p_[i_]];
      if (ord == ORD_DATA) {
        ba = data_run(ba);
        continue;
      }
      bool afterOrder = t->bCommandLast;
      t->bCommandLast = true;
      if (!order(ord, ba, afterOrder)) {
        t->BufferAddress = ba;
        return false;
      }
    }
    t->BufferAddress = ba;
    return true;
  }

 private:
  bool have(int k) const { return i_ + k < n_; }

  bool stop(int why) {
    t_->dsError = why;
    return false;
  }

  // A run of data bytes stored in one pass.
  int data_run(int ba) {
    te3270* t = t_;
    int start = ba, size = t->ScreenSize;
    int end = i_;
    while (end < n_ && kOrders[p_[end]] == ORD_DATA) end++;
    int count = end - i_;
    uint32_t sa = t->gCurrentSA;
    while (i_ < end) {
      // Up to the end of the run or of the buffer, whichever comes first.
      int room = std::min(end - i_, size - ba);
      const uint8_t* src = p_ + i_;
      if (t->faCount) {
        for (int k = 0; k < room; k++)
          if (t->FA[ba + k] & FA_IS_ATTR) put_data(t, ba + k, src[k], false);
      }
      uint8_t* host = t->Host + ba;
      for (int k = 0; k < room; k++) host[k] = kStore[src[k]];
      std::fill_n(t->FA + ba, room, 0);
      std::fill_n(t->HostAttrs + ba, room, sa);
      i_ += room;
      ba += room;
      if (ba == size) ba = 0;
    }
    if (start + count > t->ScreenSize)
      te3270_mark_all(t);
    else
      te3270_mark(t, start, start + count - 1);
    t->bCommandLast = false;
    return ba;
  }

  // A buffer address parameter at i_ + 1; -1 when outside the screen.
  int address() const {
    int a = te3270_decode_address(p_[i_ + 1], p_[i_ + 2]);
    return a < t_->ScreenSize ? a : -1;
  }

  bool order(uint8_t ord, int& ba, bool afterOrder) {
    te3270* t = t_;
    switch (ord) {
      case ORD_SF:
        if (!have(1)) return stop(DS_OPERATION_CHECK);
        set_fa(t, ba, p_[i_ + 1], 0);
        ba = te3270_inc(t, ba);
        i_ += 2;
        return true;
      case ORD_SFE:
      case ORD_MF: {
        if (!have(1)) return stop(DS_OPERATION_CHECK);
        int pairs = p_[i_ + 1];
        if (!have(1 + 2 * pairs)) return stop(DS_OPERATION_CHECK);
        const uint8_t* q = p_ + i_ + 2;
        i_ += 2 + 2 * pairs;
        if (ord == ORD_MF && !(t->FA[ba] & FA_IS_ATTR)) return true;  // only at an attribute
        uint8_t attr = ord == ORD_MF ? t->Host[ba] : (uint8_t)FA_BASE;
        uint32_t x = ord == ORD_MF ? t->HostAttrs[ba] : 0;
        for (int k = 0; k < pairs; k++) {
          if (q[2 * k] == XT_FIELD)
            attr = q[2 * k + 1];
          else
            x = apply_xattr(x, q[2 * k], q[2 * k + 1]);
        }
        set_fa(t, ba, attr, x);
        ba = te3270_inc(t, ba);
        return true;
      }
      case ORD_SBA: {
        if (!have(2)) return stop(DS_OPERATION_CHECK);
        int a = address();
        if (a < 0) return stop(DS_OPERATION_CHECK);
        ba = a;
        i_ += 3;
        return true;
      }
      case ORD_SA:
        if (!have(2)) return stop(DS_OPERATION_CHECK);
        if (p_[i_ + 1] == XT_ALL)
          t->gCurrentSA = 0;
        else if (p_[i_ + 1] != XT_FIELD)
          t->gCurrentSA = apply_xattr(t->gCurrentSA, p_[i_ + 1], p_[i_ + 2]);
        i_ += 3;
        return true;
      case ORD_IC:
        t->CursorAddress = ba;
        i_ += 1;
        return true;
      case ORD_PT:
        ba = program_tab(ba, afterOrder);
        i_ += 1;
        return true;
      case ORD_RA: {
        if (!have(3)) return stop(DS_OPERATION_CHECK);
        int stopAt = address();
        bool ge = p_[i_ + 3] == 0x08;
        if (ge && !have(4)) return stop(DS_OPERATION_CHECK);
        if (stopAt < 0) return stop(DS_OPERATION_CHECK);
        uint8_t ch = p_[i_ + 3 + (ge ? 1 : 0)];
        i_ += ge ? 5 : 4;
        do {
          put_marked(t, ba, ch, ge);
          ba = te3270_inc(t, ba);
        } while (ba != stopAt);
        return true;
      }
      case ORD_EUA: {
        if (!have(2)) return stop(DS_OPERATION_CHECK);
        int stopAt = address();
        if (stopAt < 0) return stop(DS_OPERATION_CHECK);
        i_ += 3;
        erase_to(ba, stopAt);
        ba = stopAt;
        return true;
      }
      case ORD_GE:
        if (!have(1)) return stop(DS_OPERATION_CHECK);
        put_marked(t, ba, p_[i_ + 1], true);
        ba = te3270_inc(t, ba);
        i_ += 2;
        t->bCommandLast = false;
        return true;
      case ORD_YALE:
        yale();
        return true;
    }
    return stop(DS_OPERATION_CHECK);
  }

  // Program Tab: to the first character position of the next unprotected
  // field; after data, the rest of the current field becomes nulls.
  int program_tab(int ba, bool afterOrder) {
    te3270* t = t_;
    bool nulling = !afterOrder;
    for (int a = ba; a < t->ScreenSize; a++) {
      if (t->FA[a] & FA_IS_ATTR) {
        nulling = false;
        int next = a + 1;
        if (next < t->ScreenSize && !(t->FA[next] & FA_IS_ATTR) && !(t->Host[a] & FA_PROTECT)) return next;
      } else if (nulling && (t->Host[a] || t->FA[a])) {
        uint32_t sa = t->gCurrentSA;
        t->gCurrentSA = 0;
        AddHost(t, a, 0);
        t->gCurrentSA = sa;
      }
    }
    return 0;
  }

  // Erase Unprotected to Address: nulls in unprotected character positions
  // from ba up to (not including) stopAt, wrapping; all of the buffer when
  // they are equal.
  void erase_to(int ba, int stopAt) {
    te3270* t = t_;
    bool prot = te3270_formatted(t) && (FieldAttributes(t, ba) & FA_PROTECT);
    int a = ba;
    do {
      if (t->FA[a] & FA_IS_ATTR) {
        prot = t->Host[a] & FA_PROTECT;
      } else if (!prot && (t->Host[a] || t->FA[a] || t->HostAttrs[a])) {
        te3270_mark(t, a, a);
        t->Host[a] = 0;
        t->FA[a] = 0;
        t->HostAttrs[a] = 0;
      }
      a = te3270_inc(t, a);
    } while (a != stopAt);
  }

  // Terminal options: 0x2B 0x5B, an option code and its data.
  void yale() {
    te3270* t = t_;
    if (!have(1) || p_[i_ + 1] != 0x5B) {
      i_ += 1;
      return;
    }
    if (!have(2)) {
      i_ = n_;
      return;
    }
    uint8_t code = p_[i_ + 2];
    i_ += 3;
    switch (code) {
      case 0xA0: t->OptAPLmode = 1; break;
      case 0x61: t->OptAPLmode = 0; break;
      case 0x83: t->OptColFieldTab = 1; break;
      case 0xC3: t->OptColFieldTab = 0; break;
      case 0x85: t->OptEnterNL = 1; break;
      case 0xC5: t->OptEnterNL = 0; break;
      case 0xD5: t->OptNullProcessing = 1; break;
      case 0x95: t->OptNullProcessing = 0; break;
      case 0xD7: t->OptPacing = 1; break;
      case 0x97: t->OptPacing = 0; break;
      case 0xA5: t->OptAlphaInNumeric = 1; break;
      case 0xE5: t->OptAlphaInNumeric = 0; break;
      case 0xA6: t->OptWordWrap = 1; break;
      case 0xE6: t->OptWordWrap = 0; break;
      case 0xA9: t->OptZonesMode = 1; break;
      case 0xE9: t->OptZonesMode = 0; break;
      case 0xE3: {
        // Tabs: home row, left margin, then column tabs, each optional.
        std::fill(std::begin(t->OptColTabs), std::end(t->OptColTabs), 0);
        if (i_ < n_ && p_[i_] >= 0x40 && p_[i_] <= 0x57) {
          t->OptHome = std::min(p_[i_++] - 0x40, t->NumberLines - 1);
          if (i_ < n_ && p_[i_] >= 0x40 && p_[i_] <= 0x8F) {
            t->OptLeftMargin = std::min(p_[i_++] - 0x40, t->NumberColumns - 1);
            for (int k = 0; k < 28 && i_ < n_ && p_[i_] >= 0x40 && p_[i_] <= 0xC3; k++)
              t->OptColTabs[std::min(p_[i_++] - 0x40, TE3270_MAXCOLS - 1)] = 1;
          }
        }
        break;
      }
    }
  }

  te3270* t_;
  const uint8_t* p_;
  int n_;
  int i_ = 0;
};

bool command(te3270* t, const uint8_t* p, int n, int depth);

// Write Structured Field: each field has a 2-byte length (0 = the rest of
// the record) and an identifier.
bool structured_fields(te3270* t, const uint8_t* p, int n, int depth) {
  int i = 0;
  while (i < n) {
    if (n - i < 3) return t->dsError = DS_OPERATION_CHECK, false;
    int len = (p[i] << 8) | p[i + 1];
    if (len == 0) len = n - i;
    if (len < 3 || len > n - i) return t->dsError = DS_OPERATION_CHECK, false;
    const uint8_t* body = p + i + 3;
    int blen = len - 3;
    switch (p[i + 2]) {
      case 0x01:  // Read Partition
        if (blen >= 2) {
          uint8_t type = body[1];
          if (type == 0x02) {
            DoWSFQueryList(t, 0xFF);
          } else if (type == 0x03) {
            uint8_t req = blen >= 3 ? body[2] : 0x80;
            if (req & 0xC0) {
              DoWSFQueryList(t, 0xFF);
            } else {
              int flags = 0;
              for (int k = 3; k < blen; k++) {
                switch (body[k]) {
                  case 0x80: flags |= 0x20; break;
                  case 0x81: flags |= 0x10; break;
                  case 0x84: flags |= 0x80; break;
                  case 0x85: flags |= 0x40; break;
                  case 0x86: flags |= 0x02; break;
                  case 0x87: flags |= 0x04; break;
                  case 0x88: flags |= 0x08; break;
                  case 0xA6: flags |= 0x01; break;
                }
              }
              DoWSFQueryList(t, flags);
            }
          } else if (type == 0xF2) {
            DoReadBuffer(t);
          } else if (type == 0xF6 || type == 0x6E) {
            DoReadModified(t, type);
          }
        }
        break;
      case 0x03:  // Erase/Reset: default or alternate size
        if (blen >= 1) {
          te3270_erase(t, (body[0] & 0x80) != 0);
          t->StatTermWait = 0;
        }
        break;
      case 0x09:  // Set Reply Mode
        if (blen >= 2 && body[1] <= REPLY_CHARACTER) {
          t->replyMode = body[1];
          t->replyAttrCount = 0;
          for (int k = 2; k < blen && t->replyAttrCount < (int)sizeof t->replyAttrTypes; k++)
            t->replyAttrTypes[t->replyAttrCount++] = body[k];
        }
        break;
      case 0x40:  // Outbound 3270DS: a write bounded by this field
        if (blen >= 2 && body[0] == 0x00) {
          uint8_t c = kCommands[body[1]];
          if ((c == CMD_W || c == CMD_EW || c == CMD_EWA || c == CMD_EAU) && !command(t, body + 1, blen - 1, depth + 1))
            return false;
        }
        break;
    }
    i += len;
  }
  return true;
}

bool command(te3270* t, const uint8_t* p, int n, int depth) {
  uint8_t c = kCommands[p[0]];
  switch (c) {
    case CMD_RB:
      DoReadBuffer(t);
      return true;
    case CMD_RM:
      DoReadModified(t, 0x06);
      return true;
    case CMD_RMA:
      DoReadModified(t, 0x6E);
      return true;
    case CMD_WSF:
      return depth == 0 ? structured_fields(t, p + 1, n - 1, depth) : true;
    case CMD_NONE:
      TE_Trace(TRACE_3270_DS, "DataFromNetwork (1): unknown command 0x%02x, record skipped\n", p[0]);
      t->dsError = DS_COMMAND_REJECT;
      return false;
  }
  // The write commands.
  t->StatTermWait = 0;
  t->lockedUntilWrite = 0;
  t->sscpMode = false;
  if (c == CMD_EAU) {
    te3270_erase_unprotected(t);  // a command of one byte
    return true;
  }
  if (c == CMD_EW || c == CMD_EWA) te3270_erase(t, c == CMD_EWA);
  t->BufferAddress = t->CursorAddress;  // a write starts at the cursor
  t->gCurrentSA = 0;                    // and with default character attributes
  if (n < 2) return true;  // no WCC: the command's own effect only
  uint8_t wcc = p[1];
  if (wcc & WCC_RESET) t->replyMode = REPLY_FIELD;
  if (wcc & WCC_RESET_MDT) reset_mdts(t);
  bool ok = Writer(t, p + 2, n - 2).run();
  if (wcc & WCC_ALARM) t->bells++;
  if (wcc & WCC_RESTORE) te3270_restore_keyboard(t);
  return ok;
}

}  // namespace

void te3270_erase(te3270* t, bool alternate) {
  if (!t->bNotAnEmulator) {
    if (alternate)
      te3270_set_size(t, t->AltLines, t->AltColumns);
    else
      te3270_set_size(t, t->DefaultLines, t->DefaultColumns);
  }
  Clear3270(t);
}

void te3270_erase_unprotected(te3270* t) {
  int first = -1;
  bool formatted = te3270_formatted(t);
  bool prot = formatted && (FieldAttributes(t, 0) & FA_PROTECT);
  for (int a = 0; a < t->ScreenSize; a++) {
    if (t->FA[a] & FA_IS_ATTR) {
      prot = t->Host[a] & FA_PROTECT;
      if (!prot) t->Host[a] &= (uint8_t)~FA_MDT;
      continue;
    }
    if (prot) continue;
    if (first < 0) first = a;
    if (t->Host[a] || t->FA[a] || t->HostAttrs[a]) {
      te3270_mark(t, a, a);
      t->Host[a] = 0;
      t->FA[a] = 0;
      t->HostAttrs[a] = 0;
    }
  }
  t->CursorAddress = first < 0 ? 0 : first;
  te3270_restore_keyboard(t);
}

int DataFromNetwork(te3270* t, const uint8_t* bytes, int count, int control) {
  t->dsError = DS_OK;
  if (!t->In3270 || !bytes || count <= 0) return count > 0 ? count : 0;
  command(t, bytes, count, 0);
  if (control) {
    t->OutputClock++;
    t->LastWasTerminated = 1;
  }
  // A write that left the keyboard free lets the keys waiting for it go.
  if (t->typeCount > 0 && !te3270_input_inhibited(t)) TerminalIn(t);
  DoTerminalOutput(t);
  return count;
}

bool tn3270e_parse(const uint8_t* b, int n, tn3270e_header* h) {
  if (!b || n < 5) return false;
  *h = {b[0], b[1], b[2], (uint16_t)((b[3] << 8) | b[4])};
  return true;
}

void te3270_unbound_screen(te3270* t) {
  te3270_set_size(t, t->AltLines, t->AltColumns);
  Clear3270(t);
  t->replyMode = REPLY_FIELD;
  t->sscpMode = false;
  t->sscpStart = 0;
  te3270_reset_keyboard(t);
  t->lockedUntilWrite = 1;
}

void te3270_bind(te3270* t, const uint8_t* bind, int n) {
  te3270_bind_sizes s;
  const char* why = "";
  set_emulation_screen_sizes(t);  // the terminal's own, unless the bind names others
  if (te3270_bind_decode(bind, n, t->MaxNumberLines, t->MaxNumberColumns, &s, &why)) {
    t->DefaultLines = s.defRows;
    t->DefaultColumns = s.defCols;
    t->AltLines = s.altRows;
    t->AltColumns = s.altCols;
    TE_Trace(TRACE_3270_DS, "3270: BIND: default size %dx%d, alternate %dx%d\n", s.defRows, s.defCols, s.altRows,
             s.altCols);
  } else if (*why) {
    TE_Trace(TRACE_3270_DS | TRACE_FAIL,
             "3270: BIND screen size 0x%02x names %s (terminal maximum %dx%d); the terminal's sizes stay\n",
             bind[24], why, t->MaxNumberLines, t->MaxNumberColumns);
  }
  t->bound = true;
  t->bidLocked = false;
  te3270_unbound_screen(t);
}

void te3270_unbind(te3270* t) {
  set_emulation_screen_sizes(t);
  t->bound = false;
  t->bidLocked = false;
  te3270_unbound_screen(t);
}

namespace {

// Scrolls the screen image up by one row: the top row goes, a blank row
// comes in at the bottom.
void scroll_up(te3270* t) {
  int cols = t->NumberColumns, size = t->ScreenSize;
  std::copy(t->Host + cols, t->Host + size, t->Host);
  std::copy(t->FA + cols, t->FA + size, t->FA);
  std::copy(t->HostAttrs + cols, t->HostAttrs + size, t->HostAttrs);
  std::fill(t->Host + size - cols, t->Host + size, 0);
  std::fill(t->FA + size - cols, t->FA + size, 0);
  std::fill(t->HostAttrs + size - cols, t->HostAttrs + size, 0);
  t->faCount = 0;
  for (int a = 0; a < size; a++)
    if (t->FA[a] & FA_IS_ATTR) t->faCount++;
  t->sscpStart = std::max(t->sscpStart - cols, 0);
  te3270_mark_all(t);
}

// The start of the next row from address a, scrolling at the bottom.
int next_line(te3270* t, int a) {
  int cols = t->NumberColumns;
  int row = a / cols + 1;
  if (row < t->NumberLines) return row * cols;
  scroll_up(t);
  return (t->NumberLines - 1) * cols;
}

// One character at a; the address after it (scrolling past the last cell).
int line_put(te3270* t, int a, uint8_t code) {
  put_marked(t, a, code, false);
  if (a + 1 < t->ScreenSize) return a + 1;
  scroll_up(t);
  return (t->NumberLines - 1) * t->NumberColumns;
}

// Nulls from a to the end of its row.
void fill_line(te3270* t, int a) {
  int end = (a / t->NumberColumns + 1) * t->NumberColumns;
  for (; a < end; a++)
    if (t->Host[a] || t->FA[a]) put_marked(t, a, 0, false);
}

}  // namespace

void te3270_line_text(te3270* t, const uint8_t* b, int n, bool ascii) {
  int a = t->CursorAddress;
  int cols = t->NumberColumns;
  if (a < 0 || a >= t->ScreenSize) a = 0;
  for (int i = 0; i < n; i++) {
    uint8_t c = b[i];
    if (ascii) {
      if (c == '\r') {
        a -= a % cols;
      } else if (c == '\n') {
        int col = a % cols;
        a = next_line(t, a) + col;
      } else if (c == '\b') {
        if (a % cols) a--;
      } else if (c >= 0x20) {
        int code = te3270_unicode_to_ebcdic(t->locale, c);
        if (code >= 0) a = line_put(t, a, (uint8_t)code);
      }
      continue;
    }
    switch (c) {
      case 0x15:  // new line: the rest of the line is blank
        fill_line(t, a);
        a = next_line(t, a);
        break;
      case 0x25: {  // line feed
        int col = a % cols;
        a = next_line(t, a) + col;
        break;
      }
      case 0x0D:  // carriage return
        a -= a % cols;
        break;
      case 0x1D:  // Start Field: a blank in its place, the attribute byte skipped
        a = line_put(t, a, 0x40);
        i++;
        break;
      case 0x11:  // Set Buffer Address: ignored with its address
        i += 2;
        break;
      case 0x13:  // Insert Cursor: ignored
        break;
      default:
        if (te3270_store_code(c)) a = line_put(t, a, c);
        break;
    }
  }
  t->CursorAddress = a;
  if (!ascii) {
    t->sscpMode = true;
    t->sscpStart = a;
    t->lockedUntilWrite = 0;
    t->StatTermWait = 0;
    te3270_restore_keyboard(t);
  }
}

void te3270_tn3270e_record(te3270* t, const uint8_t* bytes, int count) {
  tn3270e_header h;
  t->dsError = DS_OK;
  if (!tn3270e_parse(bytes, count, &h)) return;
  t->bTN3270E = true;
  const uint8_t* body = bytes + 5;
  int blen = count - 5;
  switch (h.type) {
    case TN3270E_3270_DATA:
      DataFromNetwork(t, body, blen, 1);
      if (t->contention && (h.request & (TN3270E_RQF_SEND_DATA | TN3270E_RQF_KEYBOARD_RESTORE))) {
        // The host has finished sending: its BID no longer holds the keyboard.
        t->bidLocked = false;
        if (h.request & TN3270E_RQF_KEYBOARD_RESTORE) {
          t->StatTermWait = 0;
          t->lockedUntilWrite = 0;
          te3270_restore_keyboard(t);
        } else {
          TerminalIn(t);
        }
        DoTerminalOutput(t);
      }
      return;
    case TN3270E_SSCP_LU_DATA:
      te3270_line_text(t, body, blen, false);
      break;
    case TN3270E_NVT_DATA:
      te3270_line_text(t, body, blen, true);
      break;
    case TN3270E_BIND_IMAGE:
      te3270_bind(t, body, blen);
      break;
    case TN3270E_UNBIND:
      te3270_unbind(t);
      break;
    case TN3270E_BID:
      // The host wants to send: input waits until it says it is done.
      if (t->contention) t->bidLocked = true;
      break;
    default:
      return;  // responses, requests, printer data: no screen change
  }
  DoTerminalOutput(t);
}
