// IBM 3151 fields and editing: field and character attributes with their
// propagation around the screen, erases that keep to unprotected fields,
// line and character insertion and deletion within fields, the mark, and
// the line and page sends.
#include <algorithm>
#include <string>
#include <vector>

#include "em/em.h"
#include "em/ibm3151.h"
#include "em/wyse.h"
#include "vid/vid.h"

// An attribute cell is itself always protected; whether the field it
// starts is protected is kept in this bit of the cell (bits 13-15 are
// otherwise unused).
constexpr CHATTR IB_FIELDPROT = 0x2000ull;

bool ib_fields(te* t) {
  return t->_protect || t->_ibmode;
}

CHATTR ib_attrbits(te* t, int a) {
  if (t->_vemode & IB_3101) {
    switch ((a >> 2) & 3) {
      case 1:
        return CA_REV;
      case 2:
        return CA_BLINK;
      case 3:
        return CA_INVIS;
      default:
        return 0;
    }
  }
  CHATTR v = 0;
  if (a & 0x01) v |= CA_REV;
  if (a & 0x02) v |= CA_UNDER;
  if (a & 0x04) v |= CA_BLINK;
  if (a & 0x08) v |= CA_BOLD;
  if (a & 0x10) v |= CA_INVIS;
  return v;
}

// The field attribute a cell stands for: an attribute cell's own field (its
// protection from IB_FIELDPROT), any other cell's attribute bits.
static CHATTR ib_fieldof(CHATTR cell) {
  if (cell & CA_EMBED)
    return (cell & IB_KEEP & ~CA_PROT) | ((cell & IB_FIELDPROT) ? (CHATTR)CA_PROT : (CHATTR)0);
  return cell & IB_KEEP;
}

CHATTR ib_before(te* t, int y, int x) {
  if (x == 0) {
    y = y > 0 ? y - 1 : t->vlines - 1;
    x = t->vcols;
  }
  wa_row(t, y);
  return ib_fieldof(t->_vscreen[y][x - 1]);
}

void ib_propagate(te* t, int y, int x, CHATTR attr) {
  if (x >= t->vcols) {
    x = 0;
    if (++y >= t->vlines) y = 0;
  }
  // Up to the next attribute cell, around the screen at most once.
  if (!wa_prop(t, y, x, attr, IB_KEEP, 1) && (y > 0 || x > 0)) wa_prop(t, 0, 0, attr, IB_KEEP, 1);
}

// The attribute bytes: a, an optional protection byte b, an optional
// operation ('a' OR, 'b' AND, else replace).
struct IbAttr {
  CHATTR bits;
  bool prot;
  int op;
};

static IbAttr ib_parse(te* t, const int* bytes, int n) {
  IbAttr r{ib_attrbits(t, bytes[0]), false, 0};
  if (t->_vemode & IB_3101) {
    r.prot = !(bytes[0] & 0x2);
    return r;
  }
  for (int i = 1; i < n; i++) {
    if (bytes[i] == 'a' || bytes[i] == 'b')
      r.op = bytes[i];
    else if (i == 1)
      r.prot = (bytes[i] & 0x2) != 0;
  }
  return r;
}

static CHATTR ib_combine(CHATTR old, CHATTR bits, int op) {
  const CHATTR mask = IB_KEEP & ~CA_PROT;
  if (op == 'a') return (old & mask) | bits;
  if (op == 'b') return old & mask & bits;
  return bits;
}

void ib_fieldattr(te* t, const int* bytes, int n) {
  int y = t->vdestline, x = t->vdestcol;
  if (y >= t->vlines) return;
  IbAttr a = ib_parse(t, bytes, n);
  wa_mark(t, y);
  CHATTR* row = t->_vscreen[y];
  CHATTR bits = ib_combine(ib_fieldof(row[x]), a.bits, a.op);
  CHATTR field =
      (EmGetDefaultAttr(t) & CA_ATTRPART & ~IB_KEEP) | bits | (a.prot ? (CHATTR)CA_PROT : (CHATTR)0);
  row[x] = (field & ~CA_PROT) | CA_EMBED | CA_PROT | (a.prot ? IB_FIELDPROT : (CHATTR)0) | CA_BLANK;
  vid_touch_row(t, y, x, x);
  t->_ibmode = 1;
  t->_vnoscroll = 1;
  t->fam.ibfield = 1;
  ib_propagate(t, y, x + 1, field);
  wy_right(t, 0);
}

void ib_charattr(te* t, const int* bytes, int n) {
  IbAttr a = ib_parse(t, bytes, n);
  TEFAM& f = t->fam;
  CHATTR bits = ib_combine(f.ibfield ? 0 : f.ibattr, a.bits, a.op);
  f.ibattr = (EmGetDefaultAttr(t) & CA_ATTRPART & ~IB_KEEP) | bits;
  f.ibfield = 0;
  int y = t->vdestline, x = t->vdestcol;
  if (y >= t->vlines) return;
  wa_row(t, y);
  CHATTR& cell = t->_vscreen[y][x];
  if (!(cell & CA_EMBED)) {
    cell = (cell & ~(IB_KEEP & ~CA_PROT)) | bits;
    vid_touch_row(t, y, x, x);
  }
}

// ---- erases

// Blanks cells from (y, x) on in reading order up to `last` (exclusive
// reading position), keeping to unprotected cells and stopping at the end
// of the field (the next attribute cell).
static void ib_erase_field(te* t, int y, int x, long last) {
  const int cols = t->vcols;
  for (long p = (long)y * cols + x; p < last; p++) {
    int r = (int)(p / cols), c = (int)(p % cols);
    if (c == 0 || p == (long)y * cols + x) wa_row(t, r);
    CHATTR& cell = t->_vscreen[r][c];
    if (cell & CA_EMBED) break;
    if (cell & CA_PROT) continue;
    cell = (cell & CA_ATTRPART) | CA_BLANK;
    vid_touch_row(t, r, c, c);
  }
}

void ib_erase_eol(te* t) {
  int y = t->vdestline, x = t->vdestcol;
  if (ib_fields(t)) {
    ib_erase_field(t, y, x, (long)(y + 1) * t->vcols);
  } else {
    wa_row(t, y);
    vclreol(t, y, x);
  }
  wy_setcur(t, y, x);
}

void ib_erase_eos(te* t) {
  int y = t->vdestline, x = t->vdestcol;
  if (ib_fields(t)) {
    ib_erase_field(t, y, x, (long)t->vlines * t->vcols);
  } else {
    wa_flush(t);
    vclreos(t, y, x);
  }
  wy_setcur(t, y, x);
}

void ib_erase_unprot(te* t) {
  wa_flush(t);
  for (int y = 0; y < t->vlines; y++) {
    CHATTR* row = t->_vscreen[y];
    for (int x = 0; x < t->vcols; x++)
      if (!(row[x] & CA_PROT)) row[x] = (row[x] & CA_ATTRPART) | CA_BLANK;
  }
  vid_touch_rows(t, 0, t->vlines - 1);
  wy_home(t, 1);
  if (t->_protect) return;
  // Without protect mode (IBM field mode) the first unprotected cell too.
  wy_protmove(t, 1, 0, 1);
}

void ib_clearall(te* t) {
  wa_flush(t);
  std::fill(t->_tabs, t->_tabs + TE_MAXCOLS, 0);
  t->_marky = 99;
  vclear(t);
  wy_setcur(t, 0, 0);
  if (!t->_blokmode) {
    t->_vnoscroll = 0;
    t->_ibmode = 0;
  }
}

// ---- lines

// The first row below y (around the screen) holding an attribute cell, and
// the column of its first one; -1 when there is none.
static int ib_boundary(te* t, int y, int* col) {
  for (int k = 1; k < t->vlines; k++) {
    int r = (y + k) % t->vlines;
    const CHATTR* row = t->_vscreen[r];
    for (int c = 0; c < t->vcols; c++)
      if (row[c] & CA_EMBED) {
        *col = c;
        return r;
      }
  }
  return -1;
}

static bool ib_rowprotected(te* t, int y) {
  const CHATTR* row = t->_vscreen[y];
  for (int c = 0; c < t->vcols; c++)
    if (row[c] & CA_PROT) return true;
  return false;
}

static void ib_blank(CHATTR* row, int from, int to, CHATTR a) {
  for (int c = from; c < to; c++) row[c] = a | CA_BLANK;
}

// Insertion (down) or deletion (up) of a line within the field rows.
static void ib_editlines(te* t, bool insert) {
  const int y = t->vdestline;
  if (y >= t->vlines) return;
  wa_flush(t);
  if (ib_rowprotected(t, y)) {
    vbell(t);
    return;
  }
  int c = 0;
  const int b = ib_boundary(t, y, &c);
  if (b < 0) {
    // No boundary row: an ordinary line insertion or deletion to the
    // bottom of the screen.
    if (insert)
      wy_insline(t);
    else
      wy_delline(t);
    wy_setcur(t, y, 0);
    return;
  }
  const CHATTR a = t->_vscreen[y][0] & CA_ATTRPART & ~(CA_EMBED | IB_FIELDPROT);
  const int n = t->vlines;
  std::vector<int> rows;  // the cursor row to the row above the boundary
  for (int r = y; r != b; r = (r + 1) % n) rows.push_back(r);
  std::vector<CHATTR*> old;
  std::vector<unsigned char> oldattr;
  for (int r : rows) {
    old.push_back(t->_vscreen[r]);
    oldattr.push_back(t->vlattr[r]);
  }
  const size_t k = rows.size();
  CHATTR* rowB = t->_vscreen[b];
  if (insert) {
    // Row B's columns before its attribute cell take the row above it,
    // which then becomes the new (blank) cursor row.
    std::copy(old[k - 1], old[k - 1] + c, rowB);
    for (size_t i = k - 1; i > 0; i--) {
      t->_vscreen[rows[i]] = old[i - 1];
      t->vlattr[rows[i]] = oldattr[i - 1];
    }
    t->_vscreen[rows[0]] = old[k - 1];
    t->vlattr[rows[0]] = 0;
    ib_blank(old[k - 1], 0, t->vcols, a);
  } else {
    for (size_t i = 0; i + 1 < k; i++) {
      t->_vscreen[rows[i]] = old[i + 1];
      t->vlattr[rows[i]] = oldattr[i + 1];
    }
    CHATTR* reused = old[0];
    t->_vscreen[rows[k - 1]] = reused;
    t->vlattr[rows[k - 1]] = 0;
    std::copy(rowB, rowB + c, reused);
    ib_blank(rowB, 0, c, a);
    ib_blank(reused, c, t->vcols, a);
  }
  for (int r : rows) vid_touch_row(t, r, 0, t->vcols - 1);
  vid_touch_row(t, b, 0, t->vcols - 1);
  wy_setcur(t, y, 0);
  ib_propagate(t, y, 0, a & IB_KEEP);
  wy_setcur(t, y, 0);
}

void ib_insline(te* t) {
  if (!ib_fields(t)) {
    wy_insline(t);
    return;
  }
  ib_editlines(t, true);
}

void ib_delline(te* t) {
  if (!ib_fields(t)) {
    wy_delline(t);
    return;
  }
  ib_editlines(t, false);
}

// ---- characters

// Insertion (right) or deletion (left) of one cell within the field: the
// stretch from the cursor to the cell before the row's next attribute cell.
static void ib_editchar(te* t, bool insert) {
  const int y = t->vdestline, x = t->vdestcol;
  if (y >= t->vlines) return;
  wa_row(t, y);
  CHATTR* row = t->_vscreen[y];
  if (row[x] & CA_PROT) {
    vbell(t);
    return;
  }
  int end = x;  // last cell of the stretch
  while (end + 1 < t->vcols && !(row[end + 1] & CA_EMBED)) end++;
  CHATTR blank = (row[x] & CA_ATTRPART) | CA_BLANK;
  if (insert) {
    for (int c = end; c > x; c--) row[c] = row[c - 1];
    row[x] = blank;
  } else {
    for (int c = x; c < end; c++) row[c] = row[c + 1];
    row[end] = blank;
  }
  vid_touch_row(t, y, x, end);
}

void ib_inschar(te* t) {
  if (ib_fields(t))
    ib_editchar(t, true);
  else
    wy_inschar(t);
}

void ib_delchar(te* t) {
  if (ib_fields(t))
    ib_editchar(t, false);
  else
    wy_delchar(t);
}

// ---- the mark

void ib_setmark(te* t) {
  int y = t->vdestline, x = t->vdestcol;
  if (y >= t->vlines) return;
  if (t->_marky != 99 && t->_marky < t->vlines && t->fam.markx < t->vcols) {
    wa_row(t, t->_marky);
    CHATTR& old = t->_vscreen[t->_marky][t->fam.markx];
    old = (old & CA_ATTRPART) | CA_BLANK;
    vid_touch_row(t, t->_marky, t->fam.markx, t->fam.markx);
  }
  wa_row(t, y);
  CHATTR& cell = t->_vscreen[y][x];
  cell = (cell & CA_ATTRPART) | '>';
  vid_touch_row(t, y, x, x);
  t->_marky = y;
  t->fam.markx = x;
}

// ---- sending

namespace {
struct IbSender {
  te* t;
  std::string out;
  void field(CHATTR cell) {
    int code = 0x20;
    if (cell & CA_REV) code += 1;
    if (cell & CA_UNDER) code += 2;
    if (cell & CA_BLINK) code += 4;
    if (cell & CA_BOLD) code += 8;
    if (cell & CA_INVIS) code += 0x10;
    out +=
        "\x1b"
        "3";
    out += (char)code;
    out += '@';
  }
  // One row from column 0 through `last`; in IBM field mode only the
  // unprotected fields.
  void row(int y, int last) {
    const CHATTR* r = t->_vscreen[y];
    std::string line;
    for (int x = 0; x <= last; x++) {
      CHATTR c = r[x];
      bool mark = y == t->_marky && x == t->fam.markx;
      if (t->_ibmode) {
        if (c & CA_EMBED) {
          if (!(c & IB_FIELDPROT)) {
            out += line;
            line.clear();
            field(c);
          }
          continue;
        }
        if (c & CA_PROT) continue;
      }
      line += mark ? ' ' : (c & CA_CHAR) ? (char)(c & CA_CHAR) : ' ';
    }
    size_t end = line.find_last_not_of(' ');
    out += end == std::string::npos ? "" : line.substr(0, end + 1);
  }
};
}  // namespace

static void ib_turnaround(te* t, std::string& out) {
  if (t->turnchar > 0 && t->turnchar < 256) out += (char)t->turnchar;
}

void ib_sendline(te* t) {
  if (!wy_readback_ok(t)) return;
  wa_flush(t);
  IbSender s{t, {}};
  s.row(t->vdestline, t->vcols - 1);
  if (t->_ibmode) ib_turnaround(t, s.out);
  wy_reply(t, s.out.data(), (int)s.out.size());
}

void ib_sendpage(te* t) {
  if (!wy_readback_ok(t)) return;
  wa_flush(t);
  IbSender s{t, {}};
  int first = (t->_marky != 99 && t->_marky < t->vdestline) ? t->_marky + 1 : 0;
  for (int y = first; y <= t->vdestline; y++) {
    s.row(y, y == t->vdestline ? t->vdestcol : t->vcols - 1);
    if (t->turnchar == '\r')
      s.out += '\x1e';
    else
      s.out += t->addlf ? "\r" : "\r\n";
  }
  ib_turnaround(t, s.out);
  wy_reply(t, s.out.data(), (int)s.out.size());
}
