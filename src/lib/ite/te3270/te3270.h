// The IBM 3270 display station: its record (the formatted text window it
// paints into, the screen image of the presentation space, the keyboard and
// the replies it owes the host) and the operations its owner calls.
//
//   ds3270.cpp     host records: commands, write control character, orders,
//                  structured fields, TN3270E data types
//   field3270.cpp  screen image: cell stores, field lookup, model sizes
//   reply3270.cpp  replies: Read Buffer, Read Modified (All), query reply
//   kbd3270.cpp    keyboard functions, AID keys, keyboard states, typeahead
//   paint3270.cpp  painting into the window, field colours, ScreenHash
//   cp3270.cpp     EBCDIC code pages of the locales and the graphic set
//
// The screen image holds EBCDIC codes (normalised, see te3270_store_code)
// and field attributes; the window shows their Unicode characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "fws/fws.h"

// The largest presentation space: the models go up to 43x80 and 27x132; a
// custom size (IBM-DYNAMIC) up to 62 rows or 160 columns within 9920 cells.
constexpr int TE3270_MAXROWS = 62;
constexpr int TE3270_MAXCOLS = 160;
constexpr int TE3270_MAXSCREEN = TE3270_MAXROWS * TE3270_MAXCOLS;
constexpr int TE3270_TYPEAHEAD = 200;   // keystrokes waiting while input is inhibited
constexpr int TE3270_REPLY_QUEUE = 16;  // replies waiting for the connection
constexpr size_t TE3270_REPLY_BYTES = 64 * 1024;

// Field kinds (colour table index).
enum TNFIELD : int {
  TNF_PROTHIGH = 0,
  TNF_PROTUNHIGH = 1,
  TNF_UNPROTHIGH = 2,
  TNF_UNPROTUNHIGH = 3,
  TNF_DEFAULT = 4,
  TNF_BLUE = 5,
  TNF_RED = 6,
  TNF_PINK = 7,
  TNF_GREEN = 8,
  TNF_TURQUOISE = 9,
  TNF_YELLOW = 10,
  TNF_BLACK = 11,
  TNF_WHITE = 12,
  TNF_EXTENDED = 13,
  TNF_INVALID = 14,
};
constexpr int TNF_COLORS = 15;  // one colour entry per field kind

// Field attribute bits (the byte stored is attribute | 0xC0).
enum : uint8_t {
  FA_PROTECT = 0x20,
  FA_NUMERIC = 0x10,
  FA_SKIP = 0x30,  // protected and numeric
  FA_DISPLAY = 0x0C,
  FA_PEN = 0x04,
  FA_INTENSE = 0x08,
  FA_NONDISPLAY = 0x0C,
  FA_MDT = 0x01,
  FA_BASE = 0xC0,
};

// FA[] flags per buffer address.
enum : uint8_t {
  FA_IS_ATTR = 0x01,  // the Host byte is a field attribute
  FA_IS_GE = 0x02,    // the character came through a Graphic Escape
};

// Extended attributes of a cell (HostAttrs, and gCurrentSA for the SA
// order): the host's own values, 0 for default.
//   bits 0-7 highlighting (0xF0 normal, 0xF1 blink, 0xF2 reverse,
//   0xF4 underscore, 0xF8 intensify), 8-15 foreground colour (0xF0-0xFF),
//   16-23 background colour, 24-31 character set.
enum : uint32_t {
  XA_HILITE = 0x000000FF,
  XA_FG = 0x0000FF00,
  XA_BG = 0x00FF0000,
  XA_CHARSET = 0xFF000000,
};
constexpr int XA_FG_SHIFT = 8;
constexpr int XA_BG_SHIFT = 16;
constexpr int XA_CHARSET_SHIFT = 24;

// Attention identifiers.
enum : uint8_t {
  AID_NONE = 0x60,
  AID_ENTER = 0x7D,
  AID_CLEAR = 0x6D,
  AID_PA1 = 0x6C,
  AID_PA2 = 0x6E,
  AID_PA3 = 0x6B,
  AID_SYSREQ = 0xF0,  // test request (sent as the Test Request read header)
  AID_CURSOR_SELECT = 0x7E,
  AID_STRUCTURED = 0x88,  // query reply
};
// AID of PF key n (1..24); 0 outside.
uint8_t te3270_pf_aid(int n);

// Keyboard functions.
enum ctlrfcn : int {
  FCN_NULL = 0,
  FCN_CHARACTER,  // code: EBCDIC character
  FCN_SPACE,
  FCN_DP,  // dup
  FCN_FM,  // field mark
  FCN_AID,  // code: AID
  FCN_RESET,
  FCN_MASTER_RESET,
  FCN_INSRT,
  FCN_DELETE,
  FCN_ERASE,  // erase the character left of the cursor
  FCN_EEOF,
  FCN_EINP,
  FCN_TAB,
  FCN_BTAB,
  FCN_HOME,
  FCN_NL,
  FCN_UP,
  FCN_DOWN,
  FCN_LEFT,
  FCN_RIGHT,
  FCN_RESHOW,
  FCN_SETTAB,
  FCN_DELTAB,
  FCN_CLRTAB,
  FCN_COLTAB,
  FCN_COLBAK,
  FCN_SETMRG,
  FCN_SETHOM,
  FCN_CURSOR,  // code: move the cursor to this buffer address
  FCN_TESTREQ,  // Test Request read (also SysReq on plain TN3270)
  FCN_CURSEL,   // Cursor Select on a light-pen detectable field
  FCN_COUNT,
};

// Why input is inhibited by the operator (status "X -f", "X NUM", "X >").
enum : int {
  OERR_NONE = 0,
  OERR_PROTECTED = 1,
  OERR_NUMERIC = 2,
  OERR_OVERFLOW = 3,
};

// Reply modes (Set Reply Mode).
enum : int {
  REPLY_FIELD = 0,
  REPLY_EXTENDED = 1,
  REPLY_CHARACTER = 2,
};

// TN3270E data types (first byte of a record's header).
enum : uint8_t {
  TN3270E_3270_DATA = 0x00,
  TN3270E_SCS_DATA = 0x01,
  TN3270E_RESPONSE = 0x02,
  TN3270E_BIND_IMAGE = 0x03,
  TN3270E_UNBIND = 0x04,
  TN3270E_NVT_DATA = 0x05,
  TN3270E_REQUEST = 0x06,
  TN3270E_SSCP_LU_DATA = 0x07,
  TN3270E_PRINT_EOJ = 0x08,
  TN3270E_BID = 0x09,  // contention resolution: the host wants to send
};

// TN3270E request flags of 3270 data under contention resolution.
enum : uint8_t {
  TN3270E_RQF_SEND_DATA = 0x01,         // the host is done: the terminal may send
  TN3270E_RQF_KEYBOARD_RESTORE = 0x02,  // restore the keyboard
};

// TN3270E response flags and response data.
enum : uint8_t {
  TN3270E_RSF_NO_RESPONSE = 0x00,
  TN3270E_RSF_ERROR_RESPONSE = 0x01,
  TN3270E_RSF_ALWAYS_RESPONSE = 0x02,
  TN3270E_POSITIVE_RESPONSE = 0x00,
  TN3270E_NEGATIVE_RESPONSE = 0x01,
  TN3270E_DEVICE_END = 0x00,
};

// Why a host record was stopped (the sense a negative response carries).
enum : int {
  DS_OK = -1,
  DS_COMMAND_REJECT = 0x00,  // unknown command
  DS_OPERATION_CHECK = 0x02,  // bad address, cut order, bad structured field
};

struct te3270 : fws_window {
  // Field colours per kind, and the model.
  COLORREF fgcolor[TNF_COLORS]{};
  COLORREF bgcolor[TNF_COLORS]{};
  int emode{};              // 1 = 24x80, 2 = 32x80, 3 = 43x80, 4 = 27x132
  int current_emulation{};  // 1..4
  // The terminal's maximum (the model's alternate size, or a custom size):
  // what the query reply announces.
  int MaxNumberLines{}, MaxNumberColumns{};
  int customLines{}, customColumns{};  // a custom size (IBM-DYNAMIC), 0 for the model's
  // The sizes Erase/Write and Erase/Write Alternate use: the terminal's own
  // (24x80 and the maximum), or those a bind named.
  int DefaultLines{}, DefaultColumns{};
  int AltLines{}, AltColumns{};
  int ScreenSize{};  // NumberLines * NumberColumns
  int locale{};             // a locale number of TCSEbcdicLocales (tcs.h): 0 US, 7 UK, 3 German, ...

  // Screen image.
  uint8_t Host[TE3270_MAXSCREEN]{};
  uint8_t FA[TE3270_MAXSCREEN]{};
  uint32_t HostAttrs[TE3270_MAXSCREEN]{};
  int faCount{};  // field attributes on the screen (0 = unformatted)
  int CursorAddress{}, BufferAddress{};
  int Lowest{}, Highest{};  // changed since the last paint; ScreenSize, -1 when clean
  uint32_t gCurrentSA{};
  int AidByte{};
  int HadAid{};
  bool needGE{};
  bool bCommandLast{};
  int LastWasTerminated{};
  int OutputClock{};
  int replyMode{};
  uint8_t replyAttrTypes[8]{};  // attribute types of character reply mode
  int replyAttrCount{};
  int dsError{};  // DS_OK, or why the last record was stopped

  // Keyboard.
  int StatSysLocked{};  // X SYSTEM
  int StatTermWait{};   // X WAIT
  int InsertMode{}, StatInsert{};
  int OperatorError{};  // OERR_*: input inhibited until Reset
  int lockedUntilWrite{};  // bound or unbound: locked until the host writes
  bool bidLocked{};        // the host's BID: locked until SEND-DATA or KEYBOARD-RESTORE
  struct Keystroke {
    int fcn{}, code{};
  };
  Keystroke typeahead[TE3270_TYPEAHEAD]{};
  int typeHead{}, typeCount{};

  // Options set by the YALE order.
  int OptHome{}, OptLeftMargin{}, OptAPLmode{}, OptNullProcessing{}, OptZonesMode{}, OptEnterNL{},
      OptColFieldTab{}, OptPacing{}, OptAlphaInNumeric{}, OptWordWrap{};
  uint8_t OptColTabs[TE3270_MAXCOLS]{};

  // Modes and switches.
  bool underlineFields{};  // show unprotected fields underlined
  bool bNotAnEmulator{};   // screen-only: Erase/Write clears without resizing
  int In3270{};
  bool bTN3270E{};
  bool contention{};  // CONTENTION-RESOLUTION agreed: BID and the request flags count
  bool bound{};       // an LU-LU session is bound (a BIND since connect or UNBIND)
  bool sscpMode{};   // SSCP-LU session: unformatted, replies without AID
  int sscpStart{};   // where the last SSCP-LU output ended
  int showattr{};
  int passwordBlank{};
  bool screenStopped{};  // replay of a capture: replies are not wanted
  bool online{};         // a host takes replies; offline they are dropped

  // Replies waiting for the connection, oldest first.
  struct Reply {
    uint8_t type;  // TN3270E data type it goes out as
    std::vector<uint8_t> bytes;
  };
  std::deque<Reply> replies{};
  size_t replyBytes{};
  void* owner{};
  void (*tx_send)(void* owner){};  // a reply was queued

  // Painting.
  int m_redraw{};
  // The colours the painter last gave each screen row (emulator rows from
  // the top), valid while paintedValid: the window's colour runs are
  // written by the painter only.
  COLORREF paintedFg[TE3270_MAXROWS][TE3270_MAXCOLS]{};
  COLORREF paintedBg[TE3270_MAXROWS][TE3270_MAXCOLS]{};
  bool paintedValid{};
  COLORREF paintedSysFg{}, paintedSysBg{};  // default colours the cache was built with

  te3270() = default;
  ~te3270();
};

// Creation: a record (new when t is null) at model `emode`'s alternate size,
// active, default colours, offline; null when memory runs out.
te3270* TE3270Init(te3270* t, void* window, int emode = 1);
void TE3270Destroy(te3270* t);
// Switches to model 1..4 (emulation number); resets screen and keyboard.
int emu_changeto(te3270* t, int emulation);
// Resets the screen image and orders; the emulator becomes active.
void Init3270(te3270* t);
void Clear3270(te3270* t);
void set_emulation_screen_sizes(te3270* t);
// Terminal type of a model (1..4) with or without extended attributes.
const char* get_ttype(int emulation, bool extattrs);
// The terminal type a record announces: "IBM-DYNAMIC" with a custom size,
// else its model's.
const char* te3270_terminal_type(const te3270* t, bool extattrs);
// A custom size larger than the model (rows x cols; 0, 0 for the model's
// own): it becomes the terminal's maximum.  False (nothing changed) when it
// is not between 24x80 and TE3270_MAXROWS x TE3270_MAXCOLS.
bool te3270_set_custom_size(te3270* t, int rows, int cols);

// Screen sizes a bind names (the PSERVIC screen-size byte, byte 24 of the
// bind image, and the rows and columns in bytes 20 to 23).
struct te3270_bind_sizes {
  int defRows, defCols, altRows, altCols;
};
// Decodes the sizes of a bind image (no TN3270E header) for a terminal of
// maxRows x maxCols.  False when the bind leaves the terminal's own sizes:
// no size byte, a value without sizes, or a size outside 24x80..maximum
// (*why then says which, or is empty).
bool te3270_bind_decode(const uint8_t* bind, int n, int maxRows, int maxCols, te3270_bind_sizes* out,
                        const char** why = nullptr);
// BIND: the bind's sizes (or the terminal's), a bound session, a blank
// screen at the alternate size, keyboard locked until the host writes.
void te3270_bind(te3270* t, const uint8_t* bind, int n);
// UNBIND: the terminal's own sizes again, a blank screen.
void te3270_unbind(te3270* t);

// One complete host record of the 3270 data stream (no TN3270E header).
// Returns the bytes consumed (always count); dsError tells whether the
// record was stopped.
int DataFromNetwork(te3270* t, const uint8_t* bytes, int count, int control);

// A host record carrying a TN3270E header: acts by its data type.
struct tn3270e_header {
  uint8_t type, request, response;
  uint16_t seq;
};
bool tn3270e_parse(const uint8_t* bytes, int count, tn3270e_header* h);
void te3270_tn3270e_record(te3270* t, const uint8_t* bytes, int count);
// A blank unformatted screen at the alternate size, keyboard locked until
// the host writes (after BIND and UNBIND).
void te3270_unbound_screen(te3270* t);
// Unformatted text at the cursor, written line after line as a 3270 shows
// SSCP-LU data: EBCDIC (SSCP-LU data: NL ends the line, SF shows as a
// blank, SBA and IC are ignored) or ASCII (NVT); the screen scrolls up at
// the bottom.
void te3270_line_text(te3270* t, const uint8_t* bytes, int count, bool ascii);

// Screen image.
void AddHost(te3270* t, int address, uint8_t ch);
void AddHostA(te3270* t, int address, uint8_t ch);
void ModifyMdt(te3270* t, int address, bool on);
int FieldAttributes(const te3270* t, int p);
int FieldDec(const te3270* t, int p);
int FieldInc(const te3270* t, int p);
// Address of the field attribute in force at p (p itself when it is one),
// -1 on an unformatted screen.
int te3270_field_start(const te3270* t, int p);
bool te3270_is_protected(const te3270* t, int p);
void te3270_mark(te3270* t, int first, int last);
void te3270_mark_all(te3270* t);
inline bool te3270_formatted(const te3270* t) {
  return t->faCount > 0;
}
inline int te3270_inc(const te3270* t, int p) {
  return p + 1 >= t->ScreenSize ? 0 : p + 1;
}
inline int te3270_dec(const te3270* t, int p) {
  return p <= 0 ? t->ScreenSize - 1 : p - 1;
}
// Decodes a 12- or 14-bit buffer address.
int te3270_decode_address(uint8_t b1, uint8_t b2);
// The two bytes of an address: the 12-bit code, or the 14-bit binary form
// on a screen of more than 4096 cells; false outside the screen.
bool te3270_encode_address(const te3270* t, int address, uint8_t out[2]);
// EBCDIC code as the screen image keeps it (controls other than SO, SI,
// DUP and FM become null).
constexpr uint8_t te3270_store_code_of(int e) {
  return (e == 0xFF || (e < 0x40 && e != 0x0E && e != 0x0F && e != 0x1C && e != 0x1E)) ? 0 : (uint8_t)e;
}
inline uint8_t te3270_store_code(uint8_t e) {
  return te3270_store_code_of(e);
}

// Replies.
void DoReadBuffer(te3270* t);
void DoReadModified(te3270* t, int command);
void DoWSFQueryList(te3270* t, int flags);
bool te3270_reply_pending(const te3270* t);
// Moves the oldest waiting reply (no header, no end of record) into out,
// and its TN3270E data type (3270 data, or SSCP-LU data on an SSCP-LU
// session) into *type; false when none waits.
bool te3270_take_reply(te3270* t, std::vector<uint8_t>& out, uint8_t* type = nullptr);
void te3270_drop_replies(te3270* t);
// The session to the host began or ended: keyboard reset, replies dropped,
// framing back to plain TN3270; connected, input waits for the host's first
// write.
void te3270_connected(te3270* t);
void te3270_disconnected(te3270* t);

// Keyboard.  te3270_key queues the keystroke in the typeahead ring while
// input is inhibited by the host or no host is connected (keys typed before
// the connection wait for the host's first unlock) and otherwise carries
// it out, then paints.  Reset acts at once and empties the ring; Clear
// drops what waits ahead of it.
void te3270_key(te3270* t, int fcn, int code = 0);
int AcceptKeystroke(te3270* t, int fcn, int code);
// Carries out waiting keystrokes until input is inhibited again.
void TerminalIn(te3270* t);
// The keyboard after a WCC restore: AID cleared, X SYSTEM off, typeahead run.
void te3270_restore_keyboard(te3270* t);
bool te3270_input_inhibited(const te3270* t);
// Keystrokes waiting in the typeahead ring.
inline int te3270_typeahead(const te3270* t) {
  return t->typeCount;
}
// Resets the keyboard state (connect, disconnect): no AID, no locks, empty
// typeahead, insert off.
void te3270_reset_keyboard(te3270* t);

// Code pages: EBCDIC to the Unicode character shown; typed Unicode to
// EBCDIC (-1 when the locale has none).
uint16_t te3270_ebcdic_to_unicode(int locale, uint8_t ebcdic);
// The same as a table of 256 entries.
const uint16_t* te3270_display_table(int locale);
uint16_t te3270_ge_to_unicode(uint8_t code);
int te3270_unicode_to_ebcdic(int locale, uint32_t cp);
void te3270_set_locale(te3270* t, int locale);

// Painting.
int DoTerminalOutput(te3270* t);
void FastScreen(te3270* t);
void RefreshScreen(te3270* t);
void InvalidateScreen(te3270* t);
void LocalClearScreen(te3270* t);
void initscr(te3270* t, int withModel);
void loadDefaultColors(te3270* t);
void SetFGColor(te3270* t, int kind, COLORREF c);
void SetBGColor(te3270* t, int kind, COLORREF c);
COLORREF GetFGColor(const te3270* t, int kind);
COLORREF GetBGColor(const te3270* t, int kind);
// Field kind of a buffer address (0..3): protected intensified, protected,
// unprotected intensified, unprotected.
int get_field_type(const te3270* t, int address);
// Colour kind of a host colour value.
int GetAttributeColor(uint8_t hostColor);
std::string ScreenHash(const te3270* t);

// The screen as text, one line per row, as a 3270 display shows it.
std::string te3270_screen_text(const te3270* t);
