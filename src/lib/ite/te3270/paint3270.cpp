// Painting the 3270 screen image into the window: the character each cell
// shows, field colours by kind, extended field and character attributes
// (colour, highlighting, graphic escape), field flags, the caret; the
// colour table per field kind; the screen hash.
//
// Rows are painted whole and compared with what the window holds; only rows
// that differ are written, and only they widen the browser's range.
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>

#include "tcs_utf8.h"
#include "te3270_internal.h"

namespace {

constexpr COLORREF kDefaultFg[TNF_COLORS] = {
    0xFFFFFFFF,  // protected intensified: white
    0xFFFFFF00,  // protected: turquoise
    0xFF00FF00,  // unprotected intensified: green
    0xFF00FFFF,  // unprotected: yellow
    0xFFFFFF00,  // default: turquoise
    0xFFFF0000,  // blue
    0xFF0000FF,  // red
    0xFFFF00FF,  // pink
    0xFF00FF00,  // green
    0xFFFFFF00,  // turquoise
    0xFF00FFFF,  // yellow
    0xFF808080,  // black, shown grey
    0xFFFFFFFF,  // white
    0xFFFFFF00,  // extended: turquoise, as the default
    0xFFFFFF00,  // invalid: turquoise, as the default
};

// Window attribute bits of a highlighting value (0 = default: none).
uint8_t hilite_bits(uint32_t v) {
  v &= XA_HILITE;
  if ((v & 0xF0) != 0xF0) return 0;
  uint8_t a = 0;
  if (v & 0x01) a |= FWS_A_BLINK;
  if (v & 0x02) a |= FWS_A_REVERSE;
  if (v & 0x04) a |= FWS_A_UNDERLINE;
  if (v & 0x08) a |= FWS_A_BOLD;
  return a;
}

COLORREF bg_of_kind(const te3270* t, int kind) {
  return kind == TNF_DEFAULT ? t->bgcolor[TNF_DEFAULT] : t->fgcolor[kind];
}

// How the cells of one field look.
struct Look {
  uint8_t attr, flags;
  uint8_t intense;  // bold from the field's intensity
  uint8_t underline;  // underline of unprotected fields
  bool nondisplay;
  COLORREF fg, bg;
};

Look field_look(const te3270* t, int fa) {
  Look l{};
  int kind = TNF_UNPROTUNHIGH;
  if (fa >= 0) {
    uint8_t a = t->Host[fa];
    bool prot = a & FA_PROTECT;
    bool intense = (a & FA_DISPLAY) == FA_INTENSE;
    l.nondisplay = (a & FA_DISPLAY) == FA_NONDISPLAY;
    kind = prot ? (intense ? TNF_PROTHIGH : TNF_PROTUNHIGH) : (intense ? TNF_UNPROTHIGH : TNF_UNPROTUNHIGH);
    uint32_t x = t->HostAttrs[fa];
    uint8_t fg = (uint8_t)((x & XA_FG) >> XA_FG_SHIFT), bg = (uint8_t)((x & XA_BG) >> XA_BG_SHIFT);
    l.fg = t->fgcolor[fg ? GetAttributeColor(fg) : kind];
    l.bg = bg ? bg_of_kind(t, GetAttributeColor(bg)) : t->bgcolor[kind];
    l.intense = intense ? FWS_A_BOLD : 0;
    l.underline = !prot && t->underlineFields ? FWS_A_UNDERLINE : 0;
    l.attr = (uint8_t)(l.intense | l.underline | hilite_bits(x));
    l.flags = (uint8_t)((prot ? FWS_CF_PROTECTED : 0) | (l.nondisplay ? FWS_CF_NONDISPLAY : 0));
  } else {
    l.fg = t->fgcolor[kind];
    l.bg = t->bgcolor[kind];
  }
  return l;
}

uint16_t attr_marker(const te3270* t, int fa) {
  if (!t->showattr) return ' ';
  uint8_t a = t->Host[fa];
  bool intense = (a & FA_DISPLAY) == FA_INTENSE;
  if (a & FA_PROTECT) return intense ? 'P' : 'p';
  return intense ? 'U' : 'u';
}

struct Row {
  uint16_t ch[TE3270_MAXCOLS];
  uint8_t at[TE3270_MAXCOLS];
  uint8_t fl[TE3270_MAXCOLS];
  COLORREF fg[TE3270_MAXCOLS];
  COLORREF bg[TE3270_MAXCOLS];
};

// Builds emulator row r into `out`; fa and look carry the field in force
// from cell to cell.
void build_row(const te3270* t, int r, int& fa, Look& look, Row& out) {
  const int cols = t->NumberColumns;
  const uint16_t* display = te3270_display_table(t->locale);
  const int base = r * cols;
  const uint8_t* host = t->Host + base;
  const uint8_t* flags = t->FA + base;
  const uint32_t* attrs = t->HostAttrs + base;
  for (int c = 0; c < cols; c++) {
    if (flags[c] & FA_IS_ATTR) {
      fa = base + c;
      look = field_look(t, fa);
      out.ch[c] = attr_marker(t, fa);
      out.at[c] = look.intense;
      out.fl[c] = FWS_CF_FIELDATTR | FWS_CF_PROTECTED;
      out.fg[c] = look.fg;
      out.bg[c] = look.bg;
      continue;
    }
    const uint8_t e = host[c];
    const uint32_t x = attrs[c];
    out.fl[c] = look.flags;
    if (!x && !flags[c] && !look.nondisplay) {
      // The common cell: a character of the field's look (a null shows as
      // a blank through the table).
      out.ch[c] = display[e];
      out.at[c] = look.attr;
      out.fg[c] = look.fg;
      out.bg[c] = look.bg;
      continue;
    }
    const bool ge = (flags[c] & FA_IS_GE) || (x & XA_CHARSET) == (0xF1u << XA_CHARSET_SHIFT);
    uint16_t u;
    if (look.nondisplay)
      u = (t->passwordBlank && e) ? (uint16_t)t->passwordBlank : ' ';
    else if (!e)
      u = ' ';
    else
      u = ge ? te3270_ge_to_unicode(e) : display[e];
    out.ch[c] = u;
    uint8_t at = look.attr;
    COLORREF fg = look.fg, bg = look.bg;
    if (x) {
      if (x & XA_HILITE) at = (uint8_t)(look.intense | look.underline | hilite_bits(x));
      uint8_t cf = (uint8_t)((x & XA_FG) >> XA_FG_SHIFT), cb = (uint8_t)((x & XA_BG) >> XA_BG_SHIFT);
      if (cf) fg = t->fgcolor[GetAttributeColor(cf)];
      if (cb) bg = bg_of_kind(t, GetAttributeColor(cb));
    }
    if ((flags[c] & FA_IS_GE) && !look.nondisplay) at |= FWS_A_GRAPHIC;
    out.at[c] = at;
    out.fg[c] = fg;
    out.bg[c] = bg;
  }
}

// Writes a built row to window row wr unless the window already shows it;
// true when something changed.
bool write_row(te3270* t, int r, const Row& row) {
  int cols = t->NumberColumns;
  int wr = t->NumberLines - r - 1;
  const uint16_t* wc = t->screenchars + wr * FWS_MAXCOLS;
  const uint8_t* wa = t->screenattrs + wr * FWS_MAXCOLS;
  const uint8_t* wf = t->screenflags + wr * FWS_MAXCOLS;
  bool sameText = std::equal(row.ch, row.ch + cols, wc) && std::equal(row.fl, row.fl + cols, wf);
  for (int c = 0; c < cols && sameText; c++) sameText = (wa[c] & ~FWS_A_NODE) == row.at[c];
  COLORREF* pfg = t->paintedFg[r];
  COLORREF* pbg = t->paintedBg[r];
  if (!t->paintedValid) fws_rowcolors(t, wr, pfg, pbg, cols);
  bool sameColor = std::equal(row.fg, row.fg + cols, pfg) && std::equal(row.bg, row.bg + cols, pbg);
  if (sameText && sameColor) return false;
  if (!sameText) fws_putcells(t, wr, 0, cols, row.ch, row.at, row.fl);
  if (!sameColor) {
    std::copy(row.fg, row.fg + cols, pfg);
    std::copy(row.bg, row.bg + cols, pbg);
    fws_resetcolor(t, wr, 0, cols);
    for (int c = 0; c < cols;) {
      int e = c + 1;
      while (e < cols && row.fg[e] == row.fg[c] && row.bg[e] == row.bg[c]) e++;
      if (row.fg[c] != t->sys_fgc || row.bg[c] != t->sys_bgc) fws_setcolor(t, wr, c, e - c, row.fg[c], row.bg[c]);
      c = e;
    }
  }
  return true;
}

void place_caret(te3270* t) {
  int cols = t->NumberColumns;
  if (cols <= 0) return;
  int a = std::clamp(t->CursorAddress, 0, t->ScreenSize - 1);
  fws_caretpos(t, a % cols, t->NumberLines - a / cols - 1, 1);
}

}  // namespace

int GetAttributeColor(uint8_t c) {
  switch (c) {
    case 0xF1:
      return TNF_BLUE;
    case 0xF2:
      return TNF_RED;
    case 0xF3:
      return TNF_PINK;
    case 0xF4:
      return TNF_GREEN;
    case 0xF5:
      return TNF_TURQUOISE;
    case 0xF6:
      return TNF_YELLOW;
    case 0xF0:
    case 0xF8:
      return TNF_BLACK;
    case 0xF7:
    case 0xFF:
      return TNF_WHITE;
  }
  return TNF_DEFAULT;
}

void loadDefaultColors(te3270* t) {
  for (int k = 0; k < TNF_COLORS; k++) {
    t->fgcolor[k] = kDefaultFg[k];
    t->bgcolor[k] = 0xFF000000;
  }
  t->sys_fgc = t->fgcolor[TNF_DEFAULT];
  t->sys_bgc = t->sys_wc = t->bgcolor[TNF_DEFAULT];
  t->sys_wpc = t->fgcolor[TNF_DEFAULT];
  te3270_mark_all(t);
}

void SetFGColor(te3270* t, int kind, COLORREF c) {
  if (kind < 0 || kind >= TNF_COLORS) return;
  t->fgcolor[kind] = c;
  if (kind == TNF_DEFAULT) t->sys_fgc = c;
  te3270_mark_all(t);
}

void SetBGColor(te3270* t, int kind, COLORREF c) {
  if (kind < 0 || kind >= TNF_COLORS) return;
  t->bgcolor[kind] = c;
  if (kind == TNF_DEFAULT) {
    fws_newfgc(t, t->fgcolor[TNF_DEFAULT]);
    fws_newbgc(t, c);
    fws_newwc(t, c);
    fws_newwpc(t, t->fgcolor[TNF_DEFAULT]);
    fws_newwpattern(t, 103);
  }
  te3270_mark_all(t);
}

COLORREF GetFGColor(const te3270* t, int kind) {
  return kind >= 0 && kind < TNF_COLORS ? t->fgcolor[kind] : t->fgcolor[TNF_DEFAULT];
}

COLORREF GetBGColor(const te3270* t, int kind) {
  return kind >= 0 && kind < TNF_COLORS ? t->bgcolor[kind] : t->bgcolor[TNF_DEFAULT];
}

int get_field_type(const te3270* t, int address) {
  int f = te3270_field_start(t, address);
  if (f < 0) return TNF_UNPROTUNHIGH;
  uint8_t a = t->Host[f];
  bool intense = (a & FA_DISPLAY) == FA_INTENSE;
  if (a & FA_PROTECT) return intense ? TNF_PROTHIGH : TNF_PROTUNHIGH;
  return intense ? TNF_UNPROTHIGH : TNF_UNPROTUNHIGH;
}

void initscr(te3270* t, int withModel) {
  if (withModel) {
    set_emulation_screen_sizes(t);
    t->NumberLines = t->MaxNumberLines;
    t->NumberColumns = t->MaxNumberColumns;
    t->ScreenSize = t->NumberLines * t->NumberColumns;
  }
  fws_setsize(t, t->NumberColumns, t->NumberLines);
  fws_clearscreen(t);
  t->paintedValid = false;
  te3270_mark_all(t);
  // A new size: the browsers need all of the new screen and nothing of the old.
  t->lowestUpdate = 0;
  t->highestUpdate = t->ScreenSize - 1;
}

void InvalidateScreen(te3270* t) {
  te3270_mark_all(t);
}

void FastScreen(te3270* t) {
  int cols = t->NumberColumns;
  if (cols <= 0 || t->ScreenSize <= 0) return;
  if (t->Lowest <= t->Highest) {
    int r0 = std::max(t->Lowest, 0) / cols;
    int r1 = std::min(t->Highest, t->ScreenSize - 1) / cols;
    r1 = std::min(r1, std::min(t->NumberLines, t->wndsize.y) - 1);
    int start = r0 * cols;
    int fa = te3270_formatted(t) ? te3270_field_start(t, te3270_dec(t, start)) : -1;
    Look look = field_look(t, fa);
    // Cells of the default colours carry no colour run, so new default
    // colours change what the window shows for them: read the rows again.
    if (t->sys_fgc != t->paintedSysFg || t->sys_bgc != t->paintedSysBg) {
      t->paintedValid = false;
      t->paintedSysFg = t->sys_fgc;
      t->paintedSysBg = t->sys_bgc;
    }
    Row row;
    for (int r = r0; r <= r1; r++) {
      build_row(t, r, fa, look, row);
      if (write_row(t, r, row)) fws_mark_update(t, r * cols, r * cols + cols - 1);
    }
    // Rows not painted this time keep their window colours: the cache
    // stands for every row only after a whole-screen paint.
    if (r0 == 0 && r1 == t->NumberLines - 1) t->paintedValid = true;
  }
  t->Lowest = t->ScreenSize;
  t->Highest = -1;
  fws_setattr(t, 0);
  fws_setflags(t, 0);
  place_caret(t);
}

int DoTerminalOutput(te3270* t) {
  if (t->m_redraw > 0) return 0;
  FastScreen(t);
  return 1;
}

void RefreshScreen(te3270* t) {
  FastScreen(t);
}

void LocalClearScreen(te3270* t) {
  fws_clearscreen(t);
  t->paintedValid = false;
  fws_mark_update(t, 0, t->ScreenSize - 1);
  Clear3270(t);
  DoTerminalOutput(t);
}

std::string ScreenHash(const te3270* t) {
  if (!t) return "";
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (!ctx) return "";
  EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
  char text[32];
  int number = 0, last = -1;
  if (t->faCount && (t->FA[0] & FA_IS_ATTR)) {
    int n = std::snprintf(text, sizeof text, "%d %d", number++, 0);
    EVP_DigestUpdate(ctx, text, (size_t)n);
    last = 0;
  }
  for (int p = 0; t->faCount;) {
    int q = FieldInc(t, p);
    if (q <= p || q <= last) break;
    int n = std::snprintf(text, sizeof text, "%d %d", number++, q);
    EVP_DigestUpdate(ctx, text, (size_t)n);
    last = p = q;
  }
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  EVP_DigestFinal_ex(ctx, md, &len);
  EVP_MD_CTX_free(ctx);
  std::string out;
  for (unsigned i = 0; i < len; i++) {
    char h[3];
    std::snprintf(h, sizeof h, "%02x", md[i]);
    out += h;
  }
  return out;
}

std::string te3270_screen_text(const te3270* t) {
  std::string out;
  for (int r = 0; r < t->NumberLines && r < t->wndsize.y; r++) {
    int wr = t->NumberLines - r - 1;
    for (int c = 0; c < t->NumberColumns; c++) {
      TCSUtf8Append(out, fws_charat(t, wr, c));
    }
    out += '\n';
  }
  return out;
}
