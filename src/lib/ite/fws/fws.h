// Formatted text window: the character-cell screen that the block-mode
// emulators (IBM 3270, IBM 5250) write into and the browser channel reads.
// Content only: characters, attribute bytes, per-row attribute runs (colour
// runs and style nodes), the caret and a small text-stream writer.  Nothing
// here draws.
//
// Coordinates are window coordinates: column x from the left, row y from
// the bottom (row 0 is the bottom row of the visible area, row wndsize.y - 1
// its top row; scroll-back rows lie above it).  An emulator row r counted
// from the top of an N-row screen is window row N - r - 1.  Rows are stored
// with a stride of FWS_MAXCOLS cells whatever the visible width.
//
// Characters are 16-bit Unicode code points (Latin-1 text is its own byte);
// fws_readwin narrows them to bytes.
//
// Cell attribute byte (screenattrs):
//   bit  value  meaning
//   0    0x01   underline
//   1    0x02   bold (intensified)
//   2    0x04   italic; the block-mode painters use it for blink
//   3    0x08   reverse video (exclusive-or with reversemode)
//   4    0x10   show field placeholders: a blank or tab shows as a dot
//   5    0x20   graphic character set (line drawing or APL graphic)
//   6    0x40   hot-spot underline
//   7    0x80   an attribute-run node starts at this cell (kept by the
//               window itself, never part of fwsattr)
//
// Cell field flags (screenflags), written with fwsflags by the painters so
// that a reader of the window alone knows the field structure it shows:
//   0x01 protected position, 0x02 non-display field, 0x04 field attribute
//   position, 0x08 modified field.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint32_t COLORREF;  // red in the low byte, then green, blue; 0xFF on top

constexpr int FWS_MAXCOLS = 160;       // row stride: no row holds more columns (3270 custom sizes)
constexpr int FWS_MAXROWS = 255;       // rows of the whole buffer, scroll-back included
constexpr int FWS_RGBMAP_SIZE = 19;    // entries of the emulation colour table
constexpr int FWS_STATUS_SIZE = 100;   // characters of the status text

enum : uint8_t {
  FWS_A_UNDERLINE = 0x01,
  FWS_A_BOLD = 0x02,
  FWS_A_ITALIC = 0x04,
  FWS_A_BLINK = 0x04,
  FWS_A_REVERSE = 0x08,
  FWS_A_PLACEHOLDER = 0x10,
  FWS_A_GRAPHIC = 0x20,
  FWS_A_HOTSPOT = 0x40,
  FWS_A_NODE = 0x80,
  FWS_A_SETTABLE = 0x7F,
};

enum : uint8_t {
  FWS_CF_PROTECTED = 0x01,
  FWS_CF_NONDISPLAY = 0x02,
  FWS_CF_FIELDATTR = 0x04,
  FWS_CF_MODIFIED = 0x08,
};

// ext_attr bits of an attribute-run node.
enum : uint32_t {
  FWS_EA_FONT = 0x0001,      // the node holds a font of its own (the default node)
  FWS_EA_STYLE = 0x00FE,     // font style bits
  FWS_EA_BITMAP = 0x0100,    // cached-bitmap run (drawing only)
  FWS_EA_BMPBITS = 0x0E00,   // bitmap detail bits
  FWS_EA_COLOR = 0x1000,     // colour run of nclrcols columns with fgc, bgc
  FWS_EA_SETTABLE = 0xEEFE,  // bits fws_setextattr may set
};

struct fws_point {
  int x, y;
};

struct fws_rect {
  int left, top, right, bottom;
};

// Attribute-run node: a colour run and/or style change starting at `col`.
struct Ext_Attribute {
  int col;
  uint32_t ext_attr;
  int nbmpcols;
  int nclrcols;
  COLORREF fgc, bgc;
  Ext_Attribute* next;
};
typedef Ext_Attribute EXTATTRIBUTE;

struct LineAttrPtrs {
  Ext_Attribute* head;
  Ext_Attribute* tail;
};

// The window group of a block-mode record.  All zero until StdInit;
// freed by freestdio (also run by the destructor).
struct fws_window {
  fws_point wndsize{};         // visible columns (x) and rows (y)
  int NumberLines{};           // the emulation's screen rows and columns
  int NumberColumns{};
  bool is5250{};
  fws_point scrbuffer{};       // x = FWS_MAXCOLS, y = rows held (visible + scroll-back)
  fws_point lscreen{};         // last visible column and row index
  fws_point totrgn{};          // last column and row index of the whole buffer
  unsigned sblines{};          // scroll-back rows
  uint16_t* screenchars{};     // scrbuffer.y rows of FWS_MAXCOLS characters
  uint8_t* screenattrs{};      // attribute byte of every cell
  uint8_t* screenflags{};      // field flags of every cell
  LineAttrPtrs* screen_extattrs{};  // attribute-run list of every row
  fws_point caret{};           // caret column and row
  uint8_t fwsattr{};           // attribute byte of characters written from now on
  uint8_t fwsflags{};          // field flags of characters written from now on
  uint8_t defattr{};           // attribute byte of cleared cells
  Ext_Attribute fws_extattr{};  // default node (default font, no colour)
  bool reversemode{};
  int color_mode{};            // 1 colour, 0 monochrome
  COLORREF sys_fgc{}, sys_bgc{};  // default colours of the text area
  COLORREF sys_wc{}, sys_wpc{};   // colours outside the text area
  int sys_wpattern{};
  COLORREF current_fgc{}, current_bgc{};
  bool do_interpret{};         // controls in written text act (true) or are stored
  bool newline{};              // carriage return also moves down a row
  bool linefeed{};             // line feed also returns to column 0
  bool wrapline{};             // writing past the last column continues below
  int needtowrap{};            // a character was written in the last column
  int caret_was_moved{};       // caret positioned since the last write
  fws_rect lscroll{};          // scroll region in window rows
  COLORREF TNRGBMap[FWS_RGBMAP_SIZE]{};  // emulation colour table
  char status_msg[FWS_STATUS_SIZE]{};    // status text ("DISCONNECTED" at creation)
  int bells{};                 // bells rung since the owner last looked
  // Range of buffer offsets (counted row by row from the top-left cell of
  // the emulation's screen) changed since the browsers last got them; both
  // -1 when nothing is pending.
  int lowestUpdate{}, highestUpdate{};
  Ext_Attribute* freeNodes{};  // recycled nodes

  fws_window() = default;
  fws_window(const fws_window&) = delete;
  fws_window& operator=(const fws_window&) = delete;
  ~fws_window();
};

// Writer update flags.
enum : int {
  FWS_UPD_FOLLOW = 1,   // the view follows the caret
  FWS_UPD_NOPAINT = 2,  // no immediate painting
};

// Creation and sizing.  StdInit: a blank 24 x 80 window with no scroll-back,
// the default node, black on white; 0 on success, -1 when memory runs out.
int StdInit(fws_window* w, void* hwnd);
void freestdio(fws_window* w);
void fws_scrsize(fws_window* w, fws_point size);
// Rows held above the visible ones; 1 on success, 0 for n < 0 or no memory.
int fws_set_scrollbacklines(fws_window* w, int n);
// Visible size cols x rows with no scroll-back, buffers grown as needed;
// 1 on success, 0 when memory runs out (the old size stays).
int fws_setsize(fws_window* w, int cols, int rows);

// Writers: 1 + the number of rows wrapped (0 for a text of line ends only
// with interpretation on).
int fws_puts(fws_window* w, const char* text, int count, int flags);
int fws_puts_uc16(fws_window* w, const uint16_t* text, int lengthBytes, int flags);
int fws_lputs(fws_window* w, const uint16_t* text, int lengthBytes, int flags);
int wputs(fws_window* w, const uint16_t* text, int flags);

// Bulk store for painters: n cells of a row from col on, each with its own
// attribute byte and field flags (no controls, no wrapping; cut at the
// row's end; the caret does not move).  Returns the cells stored.
int fws_putcells(fws_window* w, int row, int col, int n, const uint16_t* chars, const uint8_t* attrs,
                 const uint8_t* flags);

// Caret: -1 keeps a coordinate; clamped to the visible area.
void fws_caretpos(fws_window* w, int x, int y, int permanent);
void fws_caretmov(fws_window* w, int dx, int dy, int permanent);
int fws_getx(const fws_window* w);
int fws_gety(const fws_window* w);

void fws_setattr(fws_window* w, int attr);
void fws_addattr(fws_window* w, int attr);
void fws_subattr(fws_window* w, int attr);
int fws_getattr(const fws_window* w);
int fws_xgetattr(const fws_window* w, int row, int col);
void fws_setflags(fws_window* w, int flags);
int fws_xgetflags(const fws_window* w, int row, int col);

void fws_clearscreen(fws_window* w);
void fws_clearbuffer(fws_window* w);

// Colour runs, cut at the row's last visible column; rows and columns
// outside the buffer are ignored.  fws_setcolor returns 0 for an empty run.
int fws_setcolor(fws_window* w, int row, int col, int ncols, COLORREF fgc, COLORREF bgc);
void fws_resetcolor(fws_window* w, int row, int col, int ncols);
// Colours of the cells of a row: n entries from column 0 (the colour run
// covering each cell, else sys_fgc on sys_bgc).  Either array may be null.
void fws_rowcolors(const fws_window* w, int row, COLORREF* fg, COLORREF* bg, int n);

void fws_setextattr(fws_window* w, int row, int col, uint32_t bits);
uint32_t fws_getextattr(const fws_window* w, int row, int col);
const Ext_Attribute* fws_get_posattr(const fws_window* w, int row, int col);
void fws_enumextattr(const fws_window* w, void (*fn)(void* ctx, int row, const Ext_Attribute* node),
                     void* ctx);

// Reads len characters from (row, col) rightwards and then down, each as a
// byte (characters above 0xFF narrowed, see fws_narrow), into buf, which
// holds len + 1 bytes; appends a zero byte.  Returns the number copied.
int fws_readwin(const fws_window* w, int row, int col, int len, char* buf);
// A window character as one byte: itself up to 0xFF, line drawing as
// '-', '|' or '+', anything else '?'.
uint8_t fws_narrow(uint16_t ch);
inline uint16_t fws_charat(const fws_window* w, int row, int col) {
  return w->screenchars[row * FWS_MAXCOLS + col];
}

void fws_newfgc(fws_window* w, COLORREF c);
void fws_newbgc(fws_window* w, COLORREF c);
void fws_newwc(fws_window* w, COLORREF c);
void fws_newwpc(fws_window* w, COLORREF c);
void fws_newwpattern(fws_window* w, int pattern);
void fws_setcolormode(fws_window* w, int mode);
int fws_getcolormode(const fws_window* w);

// Flag setters: each returns the previous value.
int fws_setwrapline(fws_window* w, int on);
int fws_setnewline(fws_window* w, int on);
int fws_setlinefeed(fws_window* w, int on);
int fws_interpret_chars(fws_window* w, int on);

// Editing at the caret; each returns the count done.
int fws_insertlines(fws_window* w, int n);
int fws_deletelines(fws_window* w, int n);
int fws_insertchars(fws_window* w, int n);
int fws_deletechars(fws_window* w, int n);

// The window's 16-colour palette (first index equal, 0 when none).
int colorToIndex(COLORREF c);
COLORREF indexToColor(int index);
// The emulation colour table: first index 0..18 equal to c, -1 when none.
int ColorToIndex(const fws_window* w, COLORREF c);
void tnRGBFillDefault(fws_window* w);
// The index of a colour for a 4-bit cell field: ColorToIndex when it is
// 0..15, else `fallback`.
int fws_colorindex16(const fws_window* w, COLORREF c, int fallback);

// Widens the browser range by buffer offsets first..last.
inline void fws_mark_update(fws_window* w, int first, int last) {
  if (w->lowestUpdate < 0 || first < w->lowestUpdate) w->lowestUpdate = first;
  if (last > w->highestUpdate) w->highestUpdate = last;
}
