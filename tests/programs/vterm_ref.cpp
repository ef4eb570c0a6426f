// The libvterm reference terminal of the program tests (see vterm_ref.h).
#include "vterm_ref.h"

#include <vterm.h>

#include <cstdio>

namespace kvxtest {

namespace {

void AppendUtf8(std::string& s, uint32_t cp) {
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void TrimRight(std::string& s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
}

// One cell's description: colours and flags.
std::string CellAttr(int fg, int bg, bool bold, bool under, bool blink, bool rev) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string a;
  a += kHex[fg & 0xF];
  a += kHex[bg & 0xF];
  if (bold) a += 'b';
  if (under) a += 'u';
  if (blink) a += 'k';
  if (rev) a += 'r';
  return a;
}

// Spans of equal descriptions, "first-last:desc" separated by blanks; the
// positions count the cells described (right halves are not).
std::string Spans(const std::vector<std::string>& cells) {
  std::string out;
  size_t start = 0;
  for (size_t i = 1; i <= cells.size(); i++) {
    if (i < cells.size() && cells[i] == cells[start]) continue;
    char head[32];
    std::snprintf(head, sizeof head, "%s%zu-%zu:", out.empty() ? "" : " ", start, i - 1);
    out += head + cells[start];
    start = i;
  }
  return out;
}

// The PC colour index (what the cells carry) of ANSI colour 0-15.
int PcOfAnsi(int ansi) {
  static const int kIso[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  return ansi < 8 ? kIso[ansi] : kIso[ansi - 8] | 8;
}

// Nearest of the sixteen (as xterm shows them) to an RGB colour.
int PcOfRgb(int r, int g, int b) {
  static const int kRgb[16][3] = {{0, 0, 0},       {205, 0, 0},   {0, 205, 0},   {205, 205, 0},
                                  {0, 0, 238},     {205, 0, 205}, {0, 205, 205}, {229, 229, 229},
                                  {127, 127, 127}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                  {92, 92, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  int best = 0;
  long bestd = -1;
  for (int i = 0; i < 16; i++) {
    long dr = r - kRgb[i][0], dg = g - kRgb[i][1], db = b - kRgb[i][2];
    long d = dr * dr + dg * dg + db * db;
    if (bestd < 0 || d < bestd) bestd = d, best = i;
  }
  return PcOfAnsi(best);
}

int PcOfIndexed(int i) {
  if (i < 16) return PcOfAnsi(i);
  static const int kLevel[6] = {0, 95, 135, 175, 215, 255};
  if (i < 232) {
    int c = i - 16;
    return PcOfRgb(kLevel[c / 36], kLevel[(c / 6) % 6], kLevel[c % 6]);
  }
  int v = 8 + 10 * (i - 232);
  return PcOfRgb(v, v, v);
}

}  // namespace

struct VtermRef::Impl {
  VTerm* vt = nullptr;
  VTermScreen* screen = nullptr;
  int rows, cols;
};

VtermRef::VtermRef(int rows, int cols) : impl_(new Impl) {
  impl_->rows = rows;
  impl_->cols = cols;
  impl_->vt = vterm_new(rows, cols);
  vterm_set_utf8(impl_->vt, 1);
  impl_->screen = vterm_obtain_screen(impl_->vt);
  vterm_screen_enable_altscreen(impl_->screen, 1);
  vterm_screen_reset(impl_->screen, 1);
}

VtermRef::~VtermRef() {
  vterm_free(impl_->vt);
  delete impl_;
}

void VtermRef::Feed(const std::string& bytes) {
  // libvterm does not know xterm's mode 47 (the alternate screen without
  // saving the cursor or clearing, which xterm-color's smcup and rmcup
  // use): it is given as 1047, which differs from it only in clearing the
  // alternate screen on the way out, so that what the normal screen shows
  // stays xterm's.
  std::string in = bytes;
  for (const char* mode : {"\x1b[?47h", "\x1b[?47l"}) {
    const std::string from = mode;
    const std::string to = std::string("\x1b[?1047") + from.back();
    for (size_t at = in.find(from); at != std::string::npos; at = in.find(from, at + to.size()))
      in.replace(at, from.size(), to);
  }
  vterm_input_write(impl_->vt, in.data(), in.size());
}

ComparableScreen VtermRef::Screen(int defaultFg, int defaultBg) const {
  ComparableScreen s;
  for (int y = 0; y < impl_->rows; y++) {
    std::string text;
    std::vector<std::string> cells;
    for (int x = 0; x < impl_->cols; x++) {
      VTermScreenCell c;
      vterm_screen_get_cell(impl_->screen, VTermPos{y, x}, &c);
      if (c.chars[0] == static_cast<uint32_t>(-1)) continue;  // right half of a wide character
      AppendUtf8(text, c.chars[0] ? c.chars[0] : ' ');
      auto colour = [&](const VTermColor& col, bool fg) {
        if (fg ? VTERM_COLOR_IS_DEFAULT_FG(&col) : VTERM_COLOR_IS_DEFAULT_BG(&col)) return -1;
        if (VTERM_COLOR_IS_INDEXED(&col)) return PcOfIndexed(col.indexed.idx);
        return PcOfRgb(col.rgb.red, col.rgb.green, col.rgb.blue);
      };
      int fg = colour(c.fg, true), bg = colour(c.bg, false);
      // Bold brightens a chosen foreground of the first eight.
      if (fg >= 0 && fg < 8 && c.attrs.bold) fg |= 8;
      cells.push_back(CellAttr(fg < 0 ? defaultFg : fg, bg < 0 ? defaultBg : bg, c.attrs.bold,
                               c.attrs.underline, c.attrs.blink, c.attrs.reverse));
    }
    TrimRight(text);
    s.text.push_back(text);
    s.attrs.push_back(Spans(cells));
  }
  VTermPos pos;
  vterm_state_get_cursorpos(vterm_obtain_state(impl_->vt), &pos);
  s.cursorX = pos.col;
  s.cursorY = pos.row;
  return s;
}

std::vector<std::string> VtermRef::Colors() const {
  std::vector<std::string> rows;
  auto colour = [](std::string& out, const char* name, const VTermColor& c, bool fg) {
    if (fg ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c)) return;
    char text[24];
    if (VTERM_COLOR_IS_INDEXED(&c)) {
      if (c.indexed.idx < 16) return;
      std::snprintf(text, sizeof text, "%s=%d", name, c.indexed.idx);
    } else {
      std::snprintf(text, sizeof text, "%s=#%02x%02x%02x", name, c.rgb.red, c.rgb.green, c.rgb.blue);
    }
    if (!out.empty()) out += ',';
    out += text;
  };
  for (int y = 0; y < impl_->rows; y++) {
    std::string row, desc;
    int start = 0;
    for (int x = 0; x <= impl_->cols; x++) {
      std::string d;
      if (x < impl_->cols) {
        VTermScreenCell c;
        vterm_screen_get_cell(impl_->screen, VTermPos{y, x}, &c);
        if (c.chars[0] == static_cast<uint32_t>(-1)) continue;  // right half: goes with its left
        colour(d, "fg", c.fg, true);
        colour(d, "bg", c.bg, false);
        auto style = [&](bool on, const char* name) {
          if (!on) return;
          if (!d.empty()) d += ',';
          d += name;
        };
        style(c.attrs.italic, "italic");
        style(c.attrs.strike, "strike");
        style(c.attrs.underline == VTERM_UNDERLINE_DOUBLE, "ul-double");
        style(c.attrs.underline == VTERM_UNDERLINE_CURLY, "ul-curly");
        if (x > 0 && d == desc) continue;
      }
      if (x > 0 && !desc.empty()) {
        char head[32];
        std::snprintf(head, sizeof head, "%s%d-%d:", row.empty() ? "" : " ", start, x - 1);
        row += head + desc;
      }
      start = x;
      desc = d;
    }
    rows.push_back(row);
  }
  return rows;
}

ComparableScreen ScreenCells(const std::vector<uint64_t>& cells, int rows, int cols, int cursorX,
                             int cursorY) {
  ComparableScreen s;
  for (int y = 0; y < rows; y++) {
    std::string text;
    std::vector<std::string> attrs;
    for (int x = 0; x < cols; x++) {
      uint64_t v = cells[static_cast<size_t>(y) * cols + x];
      if ((v & 0xFFFFFFFFu) == 0) continue;  // right half of a wide character
      uint32_t cp = (v >> 63) ? static_cast<uint32_t>((v >> 32) & 0x7FFFFFFF) : 0;
      if (v & 0x10000) cp = ' ';  // invisible
      AppendUtf8(text, cp ? cp : ' ');
      attrs.push_back(CellAttr(static_cast<int>((v >> 24) & 0xF), static_cast<int>((v >> 28) & 0xF),
                               v & 0x100000, v & 0x200000, v & 0x400000, v & 0x800000));
    }
    TrimRight(text);
    s.text.push_back(text);
    s.attrs.push_back(Spans(attrs));
  }
  s.cursorX = cursorX;
  s.cursorY = cursorY;
  return s;
}

std::string ComparableScreen::Diff(const ComparableScreen& other, bool withAttrs) const {
  std::string out;
  for (size_t y = 0; y < text.size() && y < other.text.size(); y++) {
    if (text[y] != other.text[y])
      out += "row " + std::to_string(y) + " text:\n  [" + text[y] + "]\n  [" + other.text[y] + "]\n";
    if (withAttrs && attrs[y] != other.attrs[y])
      out += "row " + std::to_string(y) + " attrs:\n  " + attrs[y] + "\n  " + other.attrs[y] + "\n";
  }
  if (cursorX != other.cursorX || cursorY != other.cursorY)
    out += "cursor " + std::to_string(cursorY) + "," + std::to_string(cursorX) + " vs " +
           std::to_string(other.cursorY) + "," + std::to_string(other.cursorX) + "\n";
  return out;
}

std::string ComparableScreen::Show() const {
  std::string out;
  for (size_t y = 0; y < text.size(); y++) out += "|" + text[y] + "\n";
  return out;
}

}  // namespace kvxtest
