// The screen block and its size: creation, resize with reflow of wrapped
// lines (through the scrollback), 132/80 columns and the status line.
#include <algorithm>
#include <cstring>
#include <vector>

#include "em/em.h"
#include "em/wcwidth.h"
#include "vid/vid.h"

static void vz_layout(CHATTR** rows, CHATTR* block, int nrows, int colmax) {
  for (int r = 0; r < TE_MAXLINES; r++) rows[r] = r < nrows ? block + (size_t)r * colmax : nullptr;
}

int eminit(te* t) {
  int rows = std::max(t->Lines, t->vlines + t->vstatus);
  if (rows < 1) rows = 1;
  size_t need = (size_t)rows * (size_t)std::max(t->Cols, 1);
  if (!t->_vbegscr || t->_vcolmax < t->Cols || t->_vscrsize < need * sizeof(CHATTR)) {
    int colmax = std::max(t->Cols, 1);
    need = (size_t)rows * (size_t)colmax;
    CHATTR* block = (CHATTR*)EmAlloc(need * sizeof(CHATTR));
    if (!block) {
      EmError(t, EMERR_SCREEN);
      t->_vemode = 0;
      return 0;
    }
    EmFree(t->_vbegscr);
    t->_vbegscr = block;
    t->_vendscr = block + need;
    t->_vcolmax = colmax;
    t->_vscrsize = need * sizeof(CHATTR);
  }
  vz_layout(t->_vscreen, t->_vbegscr, rows, t->_vcolmax);
  std::memset(t->vlattr, 0, sizeof t->vlattr);
  t->vdestline = std::max(t->vlines - 1, 0);
  t->vdestcol = 0;
  t->XNwrap = 0;
  t->_vcurattr = EmGetDefDefaultAttr(t);
  CHATTR blank = t->_vcurattr | CA_BLANK;
  for (CHATTR* p = t->_vbegscr; p < t->_vendscr; p++) *p = blank;
  t->vbegcol = 0;
  t->vendcol = t->Cols - 1;
  vid_touch_rows(t, 0, t->vlines - 1);
  VidPos(t, t->vdestline, t->vdestcol);
  return 1;
}

void vid_freescreen(te* t) {
  EmFree(t->_vbegscr);
  t->_vbegscr = t->_vendscr = nullptr;
  t->_vscrsize = 0;
  std::memset(t->_vscreen, 0, sizeof t->_vscreen);
}

// ---- resize

namespace {

// Source rows of page 0 during a reflow: screen rows 0..nrows-1, and
// scrollback rows at negative indices (-1 the newest).
struct vz_src {
  te* t;
  CHATTR** rows;
  const unsigned char* lattr;
  int nrows;
  int cols;
  const scrollback* sb;
  int sbrows;  // saved rows taking part

  const CHATTR* row(int j) const {
    if (j >= 0) return rows[j];
    int i = (sb->sbfirstline + j + 1) % sb->sblinemax;
    return sb->sbscreen[i < 0 ? i + sb->sblinemax : i];
  }
  unsigned char la(int j) const {
    if (j >= 0) return lattr[j];
    int i = (sb->sbfirstline + j + 1) % sb->sblinemax;
    return sb->sbvlattr[i < 0 ? i + sb->sblinemax : i];
  }
  int width(int j) const { return j >= 0 ? cols : sb->sbcols; }
};

// Destination rows: new scrollback ring rows 0..R-1, then screen rows.
struct vz_dst {
  CHATTR** ring;
  unsigned char* ringla;
  int R;
  CHATTR** rows;
  unsigned char* lattr;
  CHATTR* row(int k) const { return k < R ? ring[k] : rows[k - R]; }
  unsigned char& la(int k) const { return k < R ? ringla[k] : lattr[k - R]; }
};

bool vz_isblank(CHATTR c) {
  return (c & (CA_CHARPART | CA_UNI)) == CA_BLANK && !(c & (CA_REV | CA_UNDER));
}

}  // namespace

// A position in a logical line: the source row holding it and the offset
// of that row's first cell in the line.  Chunks are copied from the last
// one back, so the walk only ever steps back a row or copies forward across
// the few rows one chunk spans.
struct vz_pos {
  int row;
  long base;
};

// Copies cells [p0, p1) of the logical line into dst; `at` is moved back
// to the row holding p0.
static void vz_copy(const vz_src& s, vz_pos& at, long p0, long p1, CHATTR* dst) {
  while (at.base > p0) {
    at.row--;
    at.base -= s.width(at.row);
  }
  int j = at.row;
  long base = at.base;
  while (p0 < p1) {
    int w = s.width(j);
    if (p0 >= base + w) {
      base += w;
      j++;
      continue;
    }
    long n = std::min(p1, base + w) - p0;
    std::memcpy(dst, s.row(j) + (p0 - base), (size_t)n * sizeof(CHATTR));
    dst += n;
    p0 += n;
  }
}

// Rewraps the logical lines of page 0 bottom-up into the destination.
// Returns the number of destination rows written (from the bottom).  The
// cursor (row curY, column curX of the screen) is mapped to its new place:
// *newY is its destination row index, or -1 when it was not carried over.
// Where the rows of a logical line of `len` cells start at the new width:
// every `cols` cells, except that a double-width character is never cut
// from its right half (a 0 cell), which would leave the left half in the
// last column and the right half alone at the start of the next row; the
// character then starts the next row and the row before it ends one short.
static void vz_breaks(const vz_src& s, int js, long len, int cols, std::vector<long>& starts) {
  starts.clear();
  int j = js;
  long base = 0;
  long p = 0;
  do {
    starts.push_back(p);
    long e = p + cols;
    if (e < len && cols > 1) {
      while (e >= base + s.width(j)) base += s.width(j++);
      if (s.row(j)[e - base] == 0) e--;
    }
    p = e;
  } while (p < len);
}

static int vz_reflow(const vz_src& s, const vz_dst& d, int total, int cols, CHATTR pad, int curY, int curX,
                     int* newY, int* newX) {
  *newY = -1;
  *newX = 0;
  int k = total - 1;
  int j = s.nrows - 1;
  int jmin = -s.sbrows;
  std::vector<long> starts;
  while (j >= jmin && k >= 0) {
    int je = j, js = j;
    while (js - 1 >= jmin && (s.la(js - 1) & LA_WRAPPED)) js--;
    long len = 0;
    for (int r = js; r < je; r++) len += s.width(r);
    int w = s.width(je);
    const CHATTR* last = s.row(je);
    int used = w;
    while (used > 0 && vz_isblank(last[used - 1])) used--;
    len += used;
    vz_breaks(s, js, len, cols, starts);
    int n = (int)starts.size();
    int chunk = -1, ccol = 0;
    if (curY >= js && curY <= je && curY >= 0) {
      long pos = curX;
      for (int r = js; r < curY; r++) pos += s.width(r);
      chunk = (int)(std::upper_bound(starts.begin(), starts.end(), pos) - starts.begin()) - 1;
      ccol = (int)std::min<long>(pos - starts[chunk], cols - 1);
    }
    unsigned char single = (je == js && n == 1) ? (s.la(je) & (LA_WIDTH | LA_LOCKED)) : 0;
    vz_pos at{je, len - used};
    for (int c = n - 1; c >= 0; c--) {
      int out = k - (n - 1) + c;
      if (out < 0) break;
      CHATTR* dst = d.row(out);
      long p0 = starts[c], p1 = c + 1 < n ? starts[c + 1] : len;
      if (p1 > p0) vz_copy(s, at, p0, p1, dst);
      for (long x = std::max(p1 - p0, 0L); x < cols; x++) dst[x] = pad;
      d.la(out) = (unsigned char)((c < n - 1 ? LA_WRAPPED : 0) | single);
      if (c == chunk) {
        *newY = out;
        *newX = ccol;
      }
    }
    k -= n;
    j = js - 1;
  }
  return total - 1 - std::max(k, -1);
}

// Rows that source rows [0, n) take at `cols` columns, each logical line
// rewrapped as vz_reflow does (a line continued from the scrollback counts
// from row 0).
static int vz_height(const vz_src& s, int n, int cols) {
  std::vector<long> starts;
  int height = 0;
  for (int js = 0; js < n;) {
    int je = js;
    while (je + 1 < n && (s.la(je) & LA_WRAPPED)) je++;
    long len = 0;
    for (int r = js; r < je; r++) len += s.width(r);
    const CHATTR* last = s.row(je);
    int used = s.width(je);
    while (used > 0 && vz_isblank(last[used - 1])) used--;
    len += used;
    vz_breaks(s, js, len, cols, starts);
    height += (int)starts.size();
    js = je + 1;
  }
  return height;
}

// One page being resized: where its rows live and its saved cursor.
struct vz_page {
  CHATTR** rows;
  unsigned char* lattr;
  CHATTR** block;
  CHATTR** endp;
  int* colmax;
  size_t* size;
  int* cury;
  int* curx;
  CHATTR* nblock;  // the new block
  CHATTR* nrows[TE_MAXLINES];
  unsigned char nlattr[TE_MAXLINES];
};

// Blank rows at the bottom of a page, below its cursor and not continuing
// a wrapped row above them.
static int vz_blank_below(const vz_page& p, int oldEm, int oldCols) {
  int n = 0;
  for (int r = oldEm - 1; r > *p.cury && r > 0; r--) {
    if (!p.rows[r] || (p.lattr[r - 1] & LA_WRAPPED)) break;
    bool blank = true;
    for (int x = 0; x < oldCols && blank; x++) blank = vz_isblank(p.rows[r][x]);
    if (!blank) break;
    n++;
  }
  return n;
}

// The source rows of a page that take part in a resize to newEm rows: a
// screen that gets fewer rows loses its blank rows below the cursor first,
// and only then rows at its top (to the scrollback on page 0), as xterm
// keeps the cursor row's content; `height(n)` is how many new rows source
// rows [0, n) fill.
template <typename Height>
static int vz_rows_kept(const vz_page& p, int oldEm, int oldCols, int newEm, Height height) {
  int blank = vz_blank_below(p, oldEm, oldCols);
  if (!blank) return oldEm;
  int keep = oldEm - blank;
  return keep + std::min(blank, std::max(0, newEm - height(keep)));
}

// Status row of the new block: the old one carried over, or blank.
static void vz_status(vz_page& p, int oldEm, int oldCols, int cols, int oldStatus, int newEm, CHATTR pad) {
  CHATTR* dst = p.nrows[newEm];
  int st = 0;
  if (oldStatus && p.rows[oldEm]) {
    st = std::min(oldCols, cols);
    std::memcpy(dst, p.rows[oldEm], (size_t)st * sizeof(CHATTR));
  }
  for (int x = st; x < cols; x++) dst[x] = pad;
  p.nlattr[newEm] = 0;
}

static void vz_plaincopy(te* t, vz_page& p, int oldEm, int newEm, int oldCols, int cols, int oldStatus,
                         int newStatus, CHATTR pad, int* shiftOut) {
  int kept = vz_rows_kept(p, oldEm, oldCols, newEm, [](int n) { return n; });
  int shift = std::max(0, kept - newEm);
  int n = std::min(oldCols, cols);
  for (int r = 0; r < newEm; r++) {
    int src = r + shift;
    CHATTR* dst = p.nrows[r];
    if (src < oldEm && p.rows[src]) {
      std::memcpy(dst, p.rows[src], (size_t)n * sizeof(CHATTR));
      for (int x = n; x < cols; x++) dst[x] = pad;
      // A double-width character cut at the new last column goes whole.
      if (cols < oldCols && (dst[cols - 1] & CA_UNI) && wc_wide(ca_unicode(dst[cols - 1])))
        dst[cols - 1] = (dst[cols - 1] & CA_ATTRPART) | CA_BLANK;
      p.nlattr[r] = p.lattr[src];
    } else {
      for (int x = 0; x < cols; x++) dst[x] = pad;
      p.nlattr[r] = 0;
    }
  }
  (void)t;
  if (newStatus) vz_status(p, oldEm, oldCols, cols, oldStatus, newEm, pad);
  *shiftOut = shift;
}

// Resizes every page to newEm emulated rows (plus newStatus status row) of
// cols columns.  Page 0 is reflowed through the scrollback when asked.
static void vz_resize(te* t, int rows, int cols, int force, int wraplines, int newStatus) {
  if (t->_sb && t->_sb->sbcurline) sbdisplay(t, 0);
  int minrows = newStatus ? 2 : 1;
  if (rows < minrows) rows = minrows, force = 1;
  if (rows > TE_MAXLINES) rows = TE_MAXLINES, force = 1;
  if (cols < 1) cols = 1, force = 1;
  if (cols > TE_MAXCOLS) cols = TE_MAXCOLS, force = 1;
  if (!force && t->Lines == rows && t->Cols == cols && t->vlines + t->vstatus == rows && t->vcols == cols &&
      t->vstatus == newStatus)
    return;

  int oldEm = t->vlines, oldStatus = t->vstatus, oldCols = t->vcols;
  int newEm = rows - newStatus;

  // The pages to resize: the live screen and every saved page.
  std::vector<vz_page> pages;
  std::vector<int> pageNo;
  bool anyPages = false;
  for (int i = 0; i < TE_MAXPAGES; i++) anyPages |= t->_pages[i] != nullptr;
  for (int i = 0; i < TE_MAXPAGES; i++) {
    bool live = i == t->_vcurpage;
    if (!live && (!t->_pages[i] || !t->_pages[i]->a_vbegscr)) continue;
    if (!live && !anyPages) continue;
    vz_page p{};
    if (live) {
      p = vz_page{t->_vscreen,
                  t->vlattr,
                  &t->_vbegscr,
                  &t->_vendscr,
                  &t->_vcolmax,
                  &t->_vscrsize,
                  &t->vdestline,
                  &t->vdestcol,
                  nullptr,
                  {},
                  {}};
    } else {
      ALTSCREEN* a = t->_pages[i];
      p = vz_page{a->a_vscreen,
                  a->a_vlattr,
                  &a->a_vbegscr,
                  &a->a_vendscr,
                  &a->a_vcolmax,
                  &a->a_vscrsize,
                  &a->a_vdestline,
                  &a->a_vdestcol,
                  nullptr,
                  {},
                  {}};
    }
    pages.push_back(p);
    pageNo.push_back(i);
  }

  size_t cells = (size_t)rows * (size_t)cols;
  for (auto& p : pages) {
    p.nblock = (CHATTR*)EmAlloc(cells * sizeof(CHATTR));
    if (!p.nblock) {
      for (auto& q : pages) EmFree(q.nblock);
      EmError(t, EMERR_SCREEN);
      return;
    }
    vz_layout(p.nrows, p.nblock, rows, cols);
  }

  // A new scrollback ring at the new width.
  scrollback* sb = t->_sb;
  scrollback ring{};
  int R = 0;
  if (sb && sb->sblinemax > 0) {
    ring.sbbegscr = (CHATTR*)EmAlloc((size_t)sb->sblinemax * cols * sizeof(CHATTR));
    ring.sbscreen = (CHATTR**)EmAlloc((size_t)sb->sblinemax * sizeof(CHATTR*));
    ring.sbvlattr = (unsigned char*)EmAlloc((size_t)sb->sblinemax);
    if (ring.sbbegscr && ring.sbscreen && ring.sbvlattr) {
      R = sb->sblinemax;
      for (int i = 0; i < R; i++) ring.sbscreen[i] = ring.sbbegscr + (size_t)i * cols;
    } else {
      EmFree(ring.sbbegscr);
      EmFree(ring.sbscreen);
      EmFree(ring.sbvlattr);
      EmError(t, EMERR_SBWIDEN);
      sb->sbcols = std::min(cols, sb->sbcolmax);
    }
  }

  CHATTR pad = t->_vcurattr | CA_BLANK;
  int newCurY = -1, newCurX = t->vdestcol;
  int sbWritten = -1;
  for (size_t pi = 0; pi < pages.size(); pi++) {
    vz_page& p = pages[pi];
    bool live = pageNo[pi] == t->_vcurpage;
    bool reflow = pageNo[pi] == 0 && wraplines && !t->_appcur && oldEm > 0;
    if (reflow) {
      vz_src s{t, p.rows, p.lattr, oldEm, oldCols, sb, R > 0 ? sb->sblastline : 0};
      s.nrows = vz_rows_kept(p, oldEm, oldCols, newEm, [&](int n) { return vz_height(s, n, cols); });
      vz_dst d{ring.sbscreen, ring.sbvlattr, R, p.nrows, p.nlattr};
      int ny, nx;
      int curY = *p.cury, curX = *p.curx;
      int written = vz_reflow(s, d, R + newEm, cols, EmGetDefaultAttr(t) | CA_BLANK, curY, curX, &ny, &nx);
      // Screen rows the walk did not reach stay blank, below the rows it
      // wrote: a screen with nothing more to show keeps its rows at the top.
      int gap = std::max(0, newEm - written);
      for (int r = 0; r < gap; r++) {
        for (int x = 0; x < cols; x++) p.nrows[r][x] = pad;
        p.nlattr[r] = 0;
      }
      std::rotate(p.nrows, p.nrows + gap, p.nrows + newEm);
      std::rotate(p.nlattr, p.nlattr + gap, p.nlattr + newEm);
      if (ny >= 0) ny -= gap;
      sbWritten = std::max(0, written - newEm);
      int sy = ny >= 0 ? ny - R : -1;
      if (newStatus) vz_status(p, oldEm, oldCols, cols, oldStatus, newEm, pad);
      if (live) {
        newCurY = sy;
        newCurX = sy >= 0 ? nx : t->vdestcol;
      } else {
        *p.cury = sy >= 0 ? sy : newEm - 1;
        *p.curx = sy >= 0 ? nx : *p.curx;
      }
    } else {
      int shift;
      vz_plaincopy(t, p, oldEm, newEm, oldCols, cols, oldStatus, newStatus, pad, &shift);
      int y = *p.cury - shift;
      if (live) {
        newCurY = y >= 0 && *p.cury < oldEm ? y : -1;
        newCurX = t->vdestcol;
      } else {
        *p.cury = y;
      }
    }
  }

  // Scrollback: the reflow filled the new ring; otherwise keep the saved
  // rows, newest last, cut or padded to the new width.
  if (R > 0) {
    if (sbWritten < 0) {
      int keep = std::min(sb->sblastline, R);
      int n = std::min(sb->sbcols, cols);
      for (int i = 0; i < keep; i++) {
        int back = i + 1;
        int idx = (sb->sbfirstline - (back - 1)) % sb->sblinemax;
        if (idx < 0) idx += sb->sblinemax;
        CHATTR* dst = ring.sbscreen[R - 1 - i];
        std::memcpy(dst, sb->sbscreen[idx], (size_t)n * sizeof(CHATTR));
        for (int x = n; x < cols; x++) dst[x] = pad;
        ring.sbvlattr[R - 1 - i] = sb->sbvlattr[idx];
      }
      sbWritten = keep;
    }
    EmFree(sb->sbbegscr);
    EmFree(sb->sbscreen);
    EmFree(sb->sbvlattr);
    sb->sbbegscr = ring.sbbegscr;
    sb->sbscreen = ring.sbscreen;
    sb->sbvlattr = ring.sbvlattr;
    sb->sbcols = sb->sbcolmax = cols;
    sb->sblastline = sbWritten;
    sb->sbfirstline = R - 1;
    sb->sbcurline = 0;
  }

  // Install the new blocks.
  for (size_t pi = 0; pi < pages.size(); pi++) {
    vz_page& p = pages[pi];
    CHATTR* old = *p.block;
    std::memcpy(p.rows, p.nrows, sizeof(CHATTR*) * TE_MAXLINES);
    std::memcpy(p.lattr, p.nlattr, TE_MAXLINES);
    *p.block = p.nblock;
    *p.endp = p.nblock + cells;
    *p.colmax = cols;
    *p.size = cells * sizeof(CHATTR);
    if (pageNo[pi] == t->_vcurpage && t->_pages[pageNo[pi]]) {
      // The shown page's record names the same block as the live screen.
      ALTSCREEN* a = t->_pages[pageNo[pi]];
      a->a_vbegscr = p.nblock;
      a->a_vendscr = p.nblock + cells;
      a->a_vcolmax = cols;
      a->a_vscrsize = cells * sizeof(CHATTR);
    }
    EmFree(old);
  }

  t->Lines = rows;
  t->Cols = cols;
  t->vcols = cols;
  t->vstatus = newStatus;
  t->vlines = newEm;
  t->vbegcol = 0;
  t->vendcol = cols - 1;
  for (int i = 0; i < TE_MAXPAGES; i++) {
    ALTSCREEN* a = t->_pages[i];
    if (!a || i == t->_vcurpage) continue;
    a->a_vdestline = std::clamp(a->a_vdestline, 0, newEm - 1);
    a->a_vdestcol = std::clamp(a->a_vdestcol, 0, cols - 1);
    a->a_vbegcol = 0;
    a->a_vendcol = cols - 1;
  }
  if (t->_vscregright == oldCols - 1 || t->_vscregright >= cols) t->_vscregright = cols - 1;
  if (t->_vscregleft >= cols) t->_vscregleft = 0;
  vid_region_off(t);
  if (t->_staton) t->_staty = std::min(t->_staty, newEm - 1);
  // Everything changed; nothing of the old size may stay in the rectangle.
  vscreen_invalidate(t);
  vid_touch_rows(t, 0, newEm - 1);
  cpos(t, newCurY >= 0 ? newCurY : newEm - 1, newCurX);
  if (t->hooks.windowSizeChanged) t->hooks.windowSizeChanged(t, t->Cols, t->Lines);
}

void _vsetsize(te* t, int rows, int cols, int force, int wraplines) {
  vz_resize(t, rows, cols, force, wraplines, t->vstatus);
}

void vsetsize(te* t, int rows, int cols, int force) {
  _vsetsize(t, rows, cols, force, 1);
}

void set132col(te* t, int flag) {
  int keep = flag & 0x100;
  flag &= ~0x100;
  t->mode132 = flag;
  int target = flag ? 132 : 80;
  bool change = flag ? (!t->col132 || t->Cols != 132) : (t->col132 || t->Cols != 80);
  if (!change) return;
  // Without the keep bit the screen is cleared: its rows go to the
  // scrollback first.  With it the rows stay on the screen.
  if (!keep)
    for (int r = 0; r < t->vlines; r++) sbaddline(t, r);
  if (!t->vextend) vz_resize(t, t->vlines + t->vstatus, std::min(target, TE_MAXCOLS), 0, 0, t->vstatus);
  t->col132 = flag ? 1 : 0;
  if (!keep) vclear2(t, 0);
}

void vidstatline(te* t, int type, int column) {
  switch (type) {
    case 0:
    case 1:
      if (!t->vstatus) vz_resize(t, t->vlines + 1, t->vcols, 1, 0, 1);
      if (!t->vstatus) return;
      if (type == 0) {
        CHATTR blank = EmGetDefaultAttr(t) | CA_BLANK;
        for (int x = 0; x < t->vcols; x++) t->_vscreen[t->vlines][x] = blank;
      } else {
        if (!t->_staton) {
          t->_staty = t->vdestline;
          t->_statx = t->vdestcol;
          t->_staton = 1;
        }
        t->vdestline = t->vlines;
        t->vdestcol = std::clamp(column, 0, t->vcols - 1);
        t->XNwrap = 0;
        VidPos(t, t->vdestline, t->vdestcol);
      }
      break;
    case 2:
      if (t->_staton) {
        t->_staton = 0;
        t->vdestline = std::min(t->_staty, t->vlines - 1);
        t->vdestcol = std::min(t->_statx, t->vcols - 1);
        t->XNwrap = 0;
        VidPos(t, t->vdestline, t->vdestcol);
      }
      break;
    case 3:
      if (t->vstatus) {
        if (t->_staton) vidstatline(t, 2, 0);
        vz_resize(t, t->vlines, t->vcols, 1, 0, 0);
      }
      break;
    default:
      break;
  }
}

// Nothing is drawn, so the font always fits the surface: only extended
// sizing, where the surface decides the size of the terminal, changes it.
void vidcalc(te* t, int size) {
  if (size)
    t->_lastsize = size;
  else
    size = t->_lastsize;
  if (!t->vextend || !size) return;
  int height = (size >> 16) & 0xFFFF, width = size & 0xFFFF;
  int cw = std::max(t->xChar, 1), ch = std::max(t->yChar, 1);
  int cols = std::clamp((width - t->rectLeft - t->rectRight) / cw, 1, TE_MAXCOLS);
  int rows = std::clamp((height - t->rectTop - t->rectBottom) / ch, 1, TE_MAXLINES);
  vsetsize(t, rows, cols, 0);
}

void vidsetlog(te* t, int lines, int cols, int status) {
  lines = std::clamp(lines, 1, TE_MAXLINES);
  cols = std::clamp(cols, 1, TE_MAXCOLS);
  if (status && lines < 2) lines = 2;
  vz_resize(t, lines, cols, 0, 0, status ? 1 : 0);
}
