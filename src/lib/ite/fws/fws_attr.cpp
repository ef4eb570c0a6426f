// Formatted text window: per-row attribute-run lists (colour runs and style
// nodes), the system colours and the two colour-index tables.
//
// Each row's list is sorted by column with at most one node per column; bit
// 7 of a cell's attribute byte is set exactly where a node starts.
#include <algorithm>
#include <new>

#include "fws.h"
#include "fws_internal.h"

namespace {

bool row_ok(const fws_window* w, int row) {
  return w->screen_extattrs && row >= 0 && row < w->scrbuffer.y;
}

void mark(fws_window* w, int row, int col, bool on) {
  uint8_t& a = w->screenattrs[row * FWS_MAXCOLS + col];
  a = on ? (uint8_t)(a | FWS_A_NODE) : (uint8_t)(a & ~FWS_A_NODE);
}

Ext_Attribute* node_new(fws_window* w, int col) {
  Ext_Attribute* n = w->freeNodes;
  if (n)
    w->freeNodes = n->next;
  else
    n = new (std::nothrow) Ext_Attribute;
  if (n) *n = Ext_Attribute{col, 0, 0, 0, 0, 0, nullptr};
  return n;
}

void node_recycle(fws_window* w, Ext_Attribute* n) {
  n->next = w->freeNodes;
  w->freeNodes = n;
}

// The node starting at col, or null; `prev` gets the node before the
// position where one at col belongs.
Ext_Attribute* find(LineAttrPtrs& l, int col, Ext_Attribute** prev) {
  Ext_Attribute* p = nullptr;
  Ext_Attribute* n = l.head;
  while (n && n->col < col) {
    p = n;
    n = n->next;
  }
  if (prev) *prev = p;
  return n && n->col == col ? n : nullptr;
}

// The node at col, created (empty) when there is none; null without memory.
Ext_Attribute* node_at(fws_window* w, int row, int col) {
  LineAttrPtrs& l = w->screen_extattrs[row];
  Ext_Attribute* prev;
  if (Ext_Attribute* n = find(l, col, &prev)) return n;
  Ext_Attribute* n = node_new(w, col);
  if (!n) return nullptr;
  n->next = prev ? prev->next : l.head;
  (prev ? prev->next : l.head) = n;
  if (!n->next) l.tail = n;
  mark(w, row, col, true);
  return n;
}

void unlink(fws_window* w, int row, Ext_Attribute* prev, Ext_Attribute* n) {
  LineAttrPtrs& l = w->screen_extattrs[row];
  (prev ? prev->next : l.head) = n->next;
  if (l.tail == n) l.tail = prev;
  mark(w, row, n->col, false);
  node_recycle(w, n);
}

void set_color(Ext_Attribute* n, int ncols, COLORREF fg, COLORREF bg) {
  n->ext_attr |= FWS_EA_COLOR;
  n->nclrcols = ncols;
  n->fgc = fg;
  n->bgc = bg;
}

// Clips [col, col + ncols) of a row to its visible columns; false when empty.
bool clip(const fws_window* w, int row, int& col, int& ncols) {
  if (!row_ok(w, row) || ncols <= 0) return false;
  int end = std::min(col + ncols, w->lscreen.x + 1);
  col = std::max(col, 0);
  ncols = end - col;
  return ncols > 0;
}

// Takes colour away from [col, end) of a row (already clipped).
void reset_range(fws_window* w, int row, int col, int end) {
  LineAttrPtrs& l = w->screen_extattrs[row];
  Ext_Attribute* prev = nullptr;
  Ext_Attribute* n = l.head;
  while (n && n->col < end) {
    Ext_Attribute* next = n->next;
    if (n->ext_attr & FWS_EA_COLOR) {
      int s = n->col, e = n->col + n->nclrcols;
      if (e > col) {
        if (e > end) {
          // The remainder keeps its colours from `end` on.
          if (Ext_Attribute* r = node_at(w, row, end)) set_color(r, e - end, n->fgc, n->bgc);
          next = n->next;
        }
        if (s < col) {
          n->nclrcols = col - s;
        } else {
          n->ext_attr &= ~FWS_EA_COLOR;
          n->nclrcols = 0;
          if (!(n->ext_attr & ~FWS_EA_COLOR)) {
            unlink(w, row, prev, n);
            n = next;
            continue;
          }
        }
      }
    }
    prev = n;
    n = next;
  }
}

}  // namespace

void fws_free_row_nodes(fws_window* w, int row) {
  if (!row_ok(w, row)) return;
  LineAttrPtrs& l = w->screen_extattrs[row];
  for (Ext_Attribute* n = l.head; n;) {
    Ext_Attribute* next = n->next;
    mark(w, row, n->col, false);
    node_recycle(w, n);
    n = next;
  }
  l = {nullptr, nullptr};
}

void fws_release_nodes(fws_window* w) {
  while (Ext_Attribute* n = w->freeNodes) {
    w->freeNodes = n->next;
    delete n;
  }
}

void fws_add_default_node(fws_window* w, int row) {
  if (!row_ok(w, row)) return;
  if (Ext_Attribute* n = node_at(w, row, 0)) {
    Ext_Attribute* next = n->next;
    *n = w->fws_extattr;
    n->col = 0;
    n->next = next;
  }
}

int fws_setcolor(fws_window* w, int row, int col, int ncols, COLORREF fgc, COLORREF bgc) {
  if (!clip(w, row, col, ncols)) return 0;
  reset_range(w, row, col, col + ncols);
  Ext_Attribute* n = node_at(w, row, col);
  if (!n) return 0;
  set_color(n, ncols, fgc, bgc);
  return 1;
}

void fws_resetcolor(fws_window* w, int row, int col, int ncols) {
  if (!clip(w, row, col, ncols)) return;
  reset_range(w, row, col, col + ncols);
}

void fws_rowcolors(const fws_window* w, int row, COLORREF* fg, COLORREF* bg, int n) {
  n = std::clamp(n, 0, FWS_MAXCOLS);
  if (fg) std::fill_n(fg, n, w->sys_fgc);
  if (bg) std::fill_n(bg, n, w->sys_bgc);
  if (!row_ok(w, row)) return;
  for (const Ext_Attribute* e = w->screen_extattrs[row].head; e; e = e->next) {
    if (!(e->ext_attr & FWS_EA_COLOR)) continue;
    int end = std::min(e->col + e->nclrcols, n);
    for (int c = e->col; c < end; c++) {
      if (fg) fg[c] = e->fgc;
      if (bg) bg[c] = e->bgc;
    }
  }
}

void fws_setextattr(fws_window* w, int row, int col, uint32_t bits) {
  if (!row_ok(w, row) || col < 0 || col > w->lscreen.x) return;
  if (Ext_Attribute* n = node_at(w, row, col))
    n->ext_attr = (n->ext_attr & ~FWS_EA_SETTABLE) | (bits & FWS_EA_SETTABLE);
}

uint32_t fws_getextattr(const fws_window* w, int row, int col) {
  if (!row_ok(w, row)) return 0;
  LineAttrPtrs l = w->screen_extattrs[row];
  const Ext_Attribute* n = find(l, col, nullptr);
  return n ? n->ext_attr : 0;
}

const Ext_Attribute* fws_get_posattr(const fws_window* w, int row, int col) {
  if (!row_ok(w, row)) return &w->fws_extattr;
  const Ext_Attribute* last = nullptr;
  for (const Ext_Attribute* n = w->screen_extattrs[row].head; n && n->col <= col; n = n->next) last = n;
  if (last) return last;
  for (int r = row + 1; r < w->scrbuffer.y; r++)
    if (w->screen_extattrs[r].tail) return w->screen_extattrs[r].tail;
  return &w->fws_extattr;
}

void fws_enumextattr(const fws_window* w, void (*fn)(void* ctx, int row, const Ext_Attribute* node),
                     void* ctx) {
  if (!w->screen_extattrs || !fn) return;
  for (int r = w->scrbuffer.y - 1; r >= 0; r--)
    for (const Ext_Attribute* n = w->screen_extattrs[r].head; n; n = n->next) fn(ctx, r, n);
}

void fws_newfgc(fws_window* w, COLORREF c) {
  w->sys_fgc = c;
}
void fws_newbgc(fws_window* w, COLORREF c) {
  w->sys_bgc = c;
}
void fws_newwc(fws_window* w, COLORREF c) {
  w->sys_wc = c;
}
void fws_newwpc(fws_window* w, COLORREF c) {
  w->sys_wpc = c;
}
void fws_newwpattern(fws_window* w, int pattern) {
  w->sys_wpattern = pattern;
}

// Monochrome: white text on black in the text area and around it.
void fws_setcolormode(fws_window* w, int mode) {
  w->color_mode = mode;
  if (mode == 0) {
    w->sys_fgc = w->sys_wpc = 0xFFFFFFFF;
    w->sys_bgc = w->sys_wc = 0xFF000000;
  }
}
int fws_getcolormode(const fws_window* w) {
  return w->color_mode;
}

namespace {

constexpr COLORREF kPalette[16] = {
    0xFF000000, 0xFF000080, 0xFF008000, 0xFF008080, 0xFF800000, 0xFF800080, 0xFF808000, 0xFFC0C0C0,
    0xFF808080, 0xFF0000FF, 0xFF00FF00, 0xFF00FFFF, 0xFFFF0000, 0xFFFF00FF, 0xFFFFFF00, 0xFFFFFFFF,
};

constexpr COLORREF kRGBMapDefault[FWS_RGBMAP_SIZE] = {
    0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080, 0xFF008080,
    0xFFC0C0C0, 0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00, 0xFF0000FF, 0xFFFF00FF,
    0xFF00FFFF, 0xFFFFFFFF, 0xFF000000, 0xFF000000, 0xFF000000,
};

}  // namespace

int colorToIndex(COLORREF c) {
  for (int i = 0; i < 16; i++)
    if (kPalette[i] == c) return i;
  return 0;
}

COLORREF indexToColor(int index) {
  return index >= 0 && index < 16 ? kPalette[index] : 0xFF000000;
}

int ColorToIndex(const fws_window* w, COLORREF c) {
  for (int i = 0; i < FWS_RGBMAP_SIZE; i++)
    if (w->TNRGBMap[i] == c) return i;
  return -1;
}

int fws_colorindex16(const fws_window* w, COLORREF c, int fallback) {
  int i = ColorToIndex(w, c);
  return i >= 0 && i <= 15 ? i : fallback;
}

void tnRGBFillDefault(fws_window* w) {
  std::copy(kRGBMapDefault, kRGBMapDefault + FWS_RGBMAP_SIZE, w->TNRGBMap);
}
