// Formatted text window: buffers and sizing, the text writer with its
// wrapping and scrolling, the caret, clearing, reading back and the editing
// operations.  Attribute runs and colours are in fws_attr.cpp.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "fws.h"
#include "fws_internal.h"

namespace {

constexpr uint16_t kSpace = 0x20;

uint16_t* row_chars(fws_window* w, int row) {
  return w->screenchars + (size_t)row * FWS_MAXCOLS;
}
uint8_t* row_attrs(fws_window* w, int row) {
  return w->screenattrs + (size_t)row * FWS_MAXCOLS;
}
uint8_t* row_flags(fws_window* w, int row) {
  return w->screenflags + (size_t)row * FWS_MAXCOLS;
}

// A row of blanks with defattr and no nodes (its list must be empty).
void blank_row(fws_window* w, int row) {
  std::fill_n(row_chars(w, row), FWS_MAXCOLS, kSpace);
  std::fill_n(row_attrs(w, row), FWS_MAXCOLS, w->defattr);
  std::fill_n(row_flags(w, row), FWS_MAXCOLS, 0);
}

void clear_rows(fws_window* w, int first, int last) {
  for (int r = first; r <= last; r++) {
    fws_free_row_nodes(w, r);
    blank_row(w, r);
  }
}

// Moves rows [from, from + count) to [to, to + count), node lists with
// them.  The rows left behind keep stale content; the caller blanks them.
void move_rows(fws_window* w, int to, int from, int count) {
  if (count <= 0 || to == from) return;
  size_t cells = (size_t)count * FWS_MAXCOLS;
  std::memmove(row_chars(w, to), row_chars(w, from), cells * sizeof(uint16_t));
  std::memmove(row_attrs(w, to), row_attrs(w, from), cells);
  std::memmove(row_flags(w, to), row_flags(w, from), cells);
  std::memmove(w->screen_extattrs + to, w->screen_extattrs + from, count * sizeof(LineAttrPtrs));
}

// Scrolls rows top..bottom (top > bottom, window rows) by one: up moves
// every row one higher (the top one leaves, the bottom one enters blank),
// down the other way.
void scroll_region(fws_window* w, int top, int bottom, bool up) {
  if (top < bottom) return;
  if (up && w->sblines > 0 && top == w->lscreen.y && bottom == 0) top = w->totrgn.y;
  if (top == bottom) {
    clear_rows(w, top, top);
    return;
  }
  int leaving = up ? top : bottom;
  fws_free_row_nodes(w, leaving);
  if (up) {
    move_rows(w, bottom + 1, bottom, top - bottom);
    w->screen_extattrs[bottom] = {nullptr, nullptr};
    blank_row(w, bottom);
  } else {
    move_rows(w, bottom, bottom + 1, top - bottom);
    w->screen_extattrs[top] = {nullptr, nullptr};
    blank_row(w, top);
  }
}

// One row down from the caret, scrolling the region at its bottom row.
void caret_down(fws_window* w) {
  if (w->caret.y == w->lscroll.bottom)
    scroll_region(w, w->lscroll.top, w->lscroll.bottom, true);
  else if (w->caret.y > 0)
    w->caret.y--;
}

// Allocates buffers of `rows` rows, copying the lower min(old, rows) rows;
// false (old buffers kept) when memory runs out.
bool realloc_rows(fws_window* w, int rows) {
  size_t cells = (size_t)rows * FWS_MAXCOLS;
  uint16_t* chars = new (std::nothrow) uint16_t[cells];
  uint8_t* attrs = new (std::nothrow) uint8_t[cells];
  uint8_t* flags = new (std::nothrow) uint8_t[cells];
  LineAttrPtrs* lists = new (std::nothrow) LineAttrPtrs[rows]();
  if (!chars || !attrs || !flags || !lists) {
    delete[] chars;
    delete[] attrs;
    delete[] flags;
    delete[] lists;
    return false;
  }
  int old = w->screenchars ? w->scrbuffer.y : 0;
  int keep = std::min(old, rows);
  for (int r = keep; r < old; r++) fws_free_row_nodes(w, r);
  if (keep > 0) {
    std::memcpy(chars, w->screenchars, (size_t)keep * FWS_MAXCOLS * sizeof(uint16_t));
    std::memcpy(attrs, w->screenattrs, (size_t)keep * FWS_MAXCOLS);
    std::memcpy(flags, w->screenflags, (size_t)keep * FWS_MAXCOLS);
    std::memcpy(lists, w->screen_extattrs, keep * sizeof(LineAttrPtrs));
  }
  delete[] w->screenchars;
  delete[] w->screenattrs;
  delete[] w->screenflags;
  delete[] w->screen_extattrs;
  w->screenchars = chars;
  w->screenattrs = attrs;
  w->screenflags = flags;
  w->screen_extattrs = lists;
  w->scrbuffer = {FWS_MAXCOLS, rows};
  w->totrgn = {FWS_MAXCOLS - 1, rows - 1};
  for (int r = keep; r < rows; r++) blank_row(w, r);
  if (rows > keep) fws_add_default_node(w, rows - 1);
  return true;
}

void clamp_caret(fws_window* w) {
  w->caret.x = std::clamp(w->caret.x, 0, w->lscreen.x);
  w->caret.y = std::clamp(w->caret.y, 0, w->lscreen.y);
}

// The writer behind every text operation.
class Writer {
 public:
  Writer(fws_window* w) : w_(w) {}

  void put(uint16_t c) {
    fws_window* w = w_;
    if (w->needtowrap) {
      if (w->wrapline) {
        w->needtowrap = 0;
        w->caret.x = 0;
        caret_down(w);
        wrapped_++;
      }
    }
    int i = w->caret.y * FWS_MAXCOLS + w->caret.x;
    w->screenchars[i] = c;
    w->screenattrs[i] = (uint8_t)(w->fwsattr | (w->screenattrs[i] & FWS_A_NODE));
    w->screenflags[i] = w->fwsflags;
    if (w->caret.x >= w->lscreen.x)
      w->needtowrap = 1;
    else
      w->caret.x++;
  }

  // A control with interpretation on; false when c is not one.
  bool control(uint16_t c) {
    fws_window* w = w_;
    switch (c) {
      case 0x07:
        w->bells++;
        return true;
      case 0x08:
        w->needtowrap = 0;
        if (w->caret.x > 0) w->caret.x--;
        return true;
      case 0x09: {
        int stop = (w->caret.x / 8 + 1) * 8;
        do put(kSpace);
        while (!w->needtowrap && w->caret.x < stop);
        return true;
      }
      case 0x0A:
        w->needtowrap = 0;
        if (w->linefeed) w->caret.x = 0;
        caret_down(w);
        return true;
      case 0x0D:
        w->needtowrap = 0;
        w->caret.x = 0;
        if (w->newline) caret_down(w);
        return true;
    }
    return false;
  }

  template <typename Ch>
  int write(const Ch* s, size_t n) {
    fws_window* w = w_;
    if (!w->screenchars) return 0;
    if (w->caret_was_moved) {
      w->caret_was_moved = 0;
      w->needtowrap = 0;
    }
    clamp_caret(w);
    size_t i = 0;
    if (w->do_interpret) {
      while (i < n && (s[i] == 0x0A || s[i] == 0x0D)) control((uint16_t)s[i++]);
      if (i == n) return 0;
    }
    while (i < n) {
      uint16_t c = (uint16_t)s[i++];
      if (!w->do_interpret) {
        put(c);
      } else if (c == 0x0E) {
        // Shift-out: double-byte text up to the shift-in, taken in pairs and
        // stored as they are; an odd tail is stored alone.
        put(c);
        while (i < n && s[i] != 0x0F) {
          put((uint16_t)s[i++]);
          if (i < n && s[i] != 0x0F) put((uint16_t)s[i++]);
        }
      } else if (c >= 0x20 || !control(c)) {
        put(c);
      }
    }
    return 1 + wrapped_;
  }

 private:
  fws_window* w_;
  int wrapped_ = 0;
};

}  // namespace

fws_window::~fws_window() {
  freestdio(this);
}

int StdInit(fws_window* w, void* /*hwnd*/) {
  freestdio(w);
  w->fws_extattr = {};
  w->fws_extattr.ext_attr = FWS_EA_FONT;
  w->defattr = 0;
  w->fwsattr = 0;
  w->fwsflags = 0;
  w->wndsize = {80, 24};
  if (!realloc_rows(w, 24)) return -1;
  fws_scrsize(w, {80, 24});
  w->sys_fgc = 0xFF000000;
  w->sys_bgc = 0xFFFFFFFF;
  w->sys_wc = 0xFFFFFFFF;
  w->sys_wpc = 0xFF000000;
  w->sys_wpattern = 103;
  w->current_fgc = w->sys_fgc;
  w->current_bgc = w->sys_bgc;
  w->color_mode = 1;
  w->reversemode = false;
  w->do_interpret = true;
  w->wrapline = true;
  w->newline = false;
  w->linefeed = false;
  w->needtowrap = 0;
  w->caret_was_moved = 0;
  w->caret = {0, 0};
  w->lowestUpdate = w->highestUpdate = -1;
  tnRGBFillDefault(w);
  return 0;
}

void freestdio(fws_window* w) {
  if (w->screen_extattrs)
    for (int r = 0; r < w->scrbuffer.y; r++) fws_free_row_nodes(w, r);
  fws_release_nodes(w);
  delete[] w->screenchars;
  delete[] w->screenattrs;
  delete[] w->screenflags;
  delete[] w->screen_extattrs;
  w->screenchars = nullptr;
  w->screenattrs = nullptr;
  w->screenflags = nullptr;
  w->screen_extattrs = nullptr;
  w->scrbuffer = {0, 0};
}

void fws_scrsize(fws_window* w, fws_point size) {
  if (!w->screenchars) return;
  int cols = std::clamp(size.x, 1, w->scrbuffer.x);
  int rows = std::clamp(size.y, 1, w->scrbuffer.y);
  w->wndsize = {cols, rows};
  w->lscreen = {cols - 1, rows - 1};
  w->sblines = (unsigned)(w->scrbuffer.y - rows);
  w->lscroll = {0, rows - 1, cols - 1, 0};
  clamp_caret(w);
}

int fws_set_scrollbacklines(fws_window* w, int n) {
  if (n < 0 || !w->screenchars) return 0;
  int rows = w->wndsize.y + n;
  if (rows > FWS_MAXROWS) return 0;
  if (rows == w->scrbuffer.y) return 1;
  if (!realloc_rows(w, rows)) return 0;
  w->sblines = (unsigned)n;
  return 1;
}

int fws_setsize(fws_window* w, int cols, int rows) {
  if (!w->screenchars) return 0;
  rows = std::clamp(rows, 1, FWS_MAXROWS);
  cols = std::clamp(cols, 1, FWS_MAXCOLS);
  if (rows != w->scrbuffer.y && !realloc_rows(w, rows)) return 0;
  fws_scrsize(w, {cols, rows});
  return 1;
}

int fws_puts(fws_window* w, const char* text, int count, int /*flags*/) {
  if (!text || count <= 0) return 0;
  return Writer(w).write(reinterpret_cast<const uint8_t*>(text), (size_t)count);
}

int fws_puts_uc16(fws_window* w, const uint16_t* text, int lengthBytes, int /*flags*/) {
  if (!text || lengthBytes < 2) return 0;
  return Writer(w).write(text, (size_t)lengthBytes / 2);
}

int fws_lputs(fws_window* w, const uint16_t* text, int lengthBytes, int flags) {
  return fws_puts_uc16(w, text, lengthBytes, flags);
}

int wputs(fws_window* w, const uint16_t* text, int flags) {
  if (!text) return 0;
  size_t n = 0;
  while (text[n]) n++;
  return fws_puts_uc16(w, text, (int)(n * 2), flags);
}

int fws_putcells(fws_window* w, int row, int col, int n, const uint16_t* chars, const uint8_t* attrs,
                 const uint8_t* flags) {
  if (!w->screenchars || row < 0 || row > w->totrgn.y || col < 0 || col > w->lscreen.x || n <= 0) return 0;
  n = std::min(n, w->lscreen.x + 1 - col);
  size_t base = (size_t)row * FWS_MAXCOLS + col;
  std::memcpy(w->screenchars + base, chars, n * sizeof(uint16_t));
  uint8_t* a = w->screenattrs + base;
  for (int i = 0; i < n; i++) a[i] = (uint8_t)((attrs[i] & FWS_A_SETTABLE) | (a[i] & FWS_A_NODE));
  std::memcpy(w->screenflags + base, flags, n);
  return n;
}

void fws_caretpos(fws_window* w, int x, int y, int /*permanent*/) {
  if (x != -1) w->caret.x = x;
  if (y != -1) w->caret.y = y;
  clamp_caret(w);
  w->caret_was_moved = 1;
}

void fws_caretmov(fws_window* w, int dx, int dy, int permanent) {
  fws_caretpos(w, w->caret.x + dx, w->caret.y + dy, permanent);
}

int fws_getx(const fws_window* w) {
  return w->caret.x;
}
int fws_gety(const fws_window* w) {
  return w->caret.y;
}

void fws_setattr(fws_window* w, int attr) {
  w->fwsattr = (uint8_t)(attr & FWS_A_SETTABLE);
}
void fws_addattr(fws_window* w, int attr) {
  w->fwsattr |= (uint8_t)(attr & FWS_A_SETTABLE);
}
void fws_subattr(fws_window* w, int attr) {
  w->fwsattr &= (uint8_t)~(attr & FWS_A_SETTABLE);
}
int fws_getattr(const fws_window* w) {
  return w->fwsattr;
}
int fws_xgetattr(const fws_window* w, int row, int col) {
  if (!w->screenattrs || row < 0 || row > w->totrgn.y || col < 0 || col >= FWS_MAXCOLS) return 0;
  return w->screenattrs[row * FWS_MAXCOLS + col];
}
void fws_setflags(fws_window* w, int flags) {
  w->fwsflags = (uint8_t)flags;
}
int fws_xgetflags(const fws_window* w, int row, int col) {
  if (!w->screenflags || row < 0 || row > w->totrgn.y || col < 0 || col >= FWS_MAXCOLS) return 0;
  return w->screenflags[row * FWS_MAXCOLS + col];
}

void fws_clearscreen(fws_window* w) {
  if (!w->screenchars) return;
  clear_rows(w, 0, w->wndsize.y - 1);
  fws_add_default_node(w, w->wndsize.y - 1);
}

void fws_clearbuffer(fws_window* w) {
  if (!w->screenchars) return;
  clear_rows(w, 0, w->scrbuffer.y - 1);
  fws_add_default_node(w, w->scrbuffer.y - 1);
}

uint8_t fws_narrow(uint16_t ch) {
  if (ch <= 0xFF) return (uint8_t)ch;
  if (ch >= 0x2500 && ch <= 0x257F) {
    // Box drawing: light and heavy horizontals, verticals, corners.
    if (ch <= 0x2501 || ch == 0x2550 || (ch >= 0x2504 && ch <= 0x2505) || (ch >= 0x2508 && ch <= 0x2509))
      return '-';
    if ((ch >= 0x2502 && ch <= 0x2503) || ch == 0x2551 || (ch >= 0x2506 && ch <= 0x2507) ||
        (ch >= 0x250A && ch <= 0x250B))
      return '|';
    return '+';
  }
  return '?';
}

int fws_readwin(const fws_window* w, int row, int col, int len, char* buf) {
  if (!buf) return 0;
  buf[0] = 0;
  if (!w->screenchars || row < 0 || row > w->totrgn.y || col < 0 || col >= w->wndsize.x || len <= 0)
    return 0;
  int n = 0;
  while (n < len && row >= 0) {
    const uint16_t* chars = w->screenchars + (size_t)row * FWS_MAXCOLS;
    int take = std::min(w->wndsize.x - col, len - n);
    for (int i = 0; i < take; i++) buf[n + i] = (char)fws_narrow(chars[col + i]);
    n += take;
    col = 0;
    row--;
  }
  buf[n] = 0;
  return n;
}

int fws_setwrapline(fws_window* w, int on) {
  int old = w->wrapline;
  w->wrapline = on != 0;
  return old;
}
int fws_setnewline(fws_window* w, int on) {
  int old = w->newline;
  w->newline = on != 0;
  return old;
}
int fws_setlinefeed(fws_window* w, int on) {
  int old = w->linefeed;
  w->linefeed = on != 0;
  return old;
}
int fws_interpret_chars(fws_window* w, int on) {
  int old = w->do_interpret;
  w->do_interpret = on != 0;
  return old;
}

int fws_insertlines(fws_window* w, int n) {
  if (!w->screenchars || n <= 0) return 0;
  int top = w->caret.y, bottom = w->lscroll.bottom;
  if (top < bottom) return 0;
  n = std::min(n, top - bottom + 1);
  for (int i = 0; i < n; i++) scroll_region(w, top, bottom, true);
  return n;
}

int fws_deletelines(fws_window* w, int n) {
  if (!w->screenchars || n <= 0) return 0;
  int top = w->caret.y, bottom = w->lscroll.bottom;
  if (top < bottom) return 0;
  n = std::min(n, top - bottom + 1);
  for (int i = 0; i < n; i++) scroll_region(w, top, bottom, false);
  return n;
}

// Characters move within the caret's row; attribute runs stay where they
// are.
int fws_insertchars(fws_window* w, int n) {
  if (!w->screenchars || n <= 0) return 0;
  int x = w->caret.x, width = w->lscreen.x + 1;
  n = std::min(n, width - x);
  uint16_t* c = row_chars(w, w->caret.y);
  uint8_t* a = row_attrs(w, w->caret.y);
  uint8_t* f = row_flags(w, w->caret.y);
  for (int i = width - 1; i >= x + n; i--) {
    c[i] = c[i - n];
    a[i] = (uint8_t)((a[i - n] & ~FWS_A_NODE) | (a[i] & FWS_A_NODE));
    f[i] = f[i - n];
  }
  for (int i = x; i < x + n; i++) {
    c[i] = kSpace;
    a[i] = (uint8_t)(w->defattr | (a[i] & FWS_A_NODE));
    f[i] = 0;
  }
  return n;
}

int fws_deletechars(fws_window* w, int n) {
  if (!w->screenchars || n <= 0) return 0;
  int x = w->caret.x, width = w->lscreen.x + 1;
  n = std::min(n, width - x);
  uint16_t* c = row_chars(w, w->caret.y);
  uint8_t* a = row_attrs(w, w->caret.y);
  uint8_t* f = row_flags(w, w->caret.y);
  for (int i = x; i < width - n; i++) {
    c[i] = c[i + n];
    a[i] = (uint8_t)((a[i + n] & ~FWS_A_NODE) | (a[i] & FWS_A_NODE));
    f[i] = f[i + n];
  }
  for (int i = width - n; i < width; i++) {
    c[i] = kSpace;
    a[i] = (uint8_t)(w->defattr | (a[i] & FWS_A_NODE));
    f[i] = 0;
  }
  return n;
}
