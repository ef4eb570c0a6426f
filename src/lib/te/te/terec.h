// The character-mode terminal record `te`: screen of cells, cursor, modes,
// parser state, character sets, scrollback, pages, colour maps, and the two
// seams through which the engine reaches outside itself (the drawing layer
// and the owner's hooks).  The record owns its cell blocks, scrollback,
// pages, title and programmed keys; EmClose frees them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tcs_utf8.h"
#include "te/tefam.h"
#include "vid/chattr.h"

struct te;

// Physical attribute/colour pair and the 16-entry map indexed by the
// attribute-combination index of a cell.
struct CAT {
  uint32_t pattr;  // physical attribute bits (drawing only)
  uint32_t color;  // colour byte in bits 24-31; 0xFF000000 = no colour
};
typedef CAT CATMAP[16];

// Physical attribute bits of CAT.pattr.
enum : uint32_t {
  PA_OVERSTRIKE = 0x20000,
  PA_UNDERLINE = 0x40000,
  PA_BOLD = 0x10000,
  PA_BLINK = 0x80000,
  PA_STRIKE = 0x100000,
  PA_SWAP = 0x200000,
  PA_BRIGHT = 0x400000,
  PA_NORMAL = 0x800000,
};

// What the engine needs of a drawing layer.  Nobody sees the drawn screen,
// so every entry is optional; the engine keeps the observable cursor fields
// (xPOS, yPOS, vCaret) itself.
struct VidDraw {
  void (*cursor)(te* t, int row, int col);             // drawn cursor moved
  void (*caret)(te* t, int visible, int shape);        // caret shown/hidden
  void (*clear)(te* t);                                // surface cleared
  void (*scroll)(te* t, int top, int bottom, int up);  // rows scrolled by one
};

// Every outward call of the engine.  The owner (the session) fills these at
// start-up; a null entry does nothing, so the engine runs alone.
struct te_hooks {
  void (*comout)(te* t, int byte);                        // one byte to the host
  void (*bcomout)(te* t, const char* bytes, int length);  // bytes to the host
  void (*set_title)(te* t, const char* text);             // window title
  void (*windowSizeChanged)(te* t, int cols, int lines);  // after every resize
  void (*bell)(te* t);                                    // audible bell
  void (*error)(te* t, int code);                         // engine error numbers
  void (*blink_timer)(te* t, int on);                     // periodic blink tick
  int (*capture)(te* t, int on, int kind);                // capture notification
  void (*printer)(te* t, int request, const char* bytes, int length);
  // The auxiliary port, which the owner keeps: open the configured device
  // (a descriptor, or -1 when it cannot be used; the owner says why), queue
  // bytes for it (how many it took), close it once what is queued is out.
  int (*aux_open)(te* t);
  int (*aux_write)(te* t, const char* bytes, int length);
  void (*aux_close)(te* t);
};

// Printer requests passed to te_hooks.printer.
enum { TE_PRINT_SCREEN = 1, TE_PRINT_LINE = 2, TE_PRINT_BYTES = 3, TE_PRINT_CONTROLLER = 4 };

// Handler vector of an emulation family.  emwrite is an optional bulk form
// of emout; without it bytes are fed one at a time.
struct TEPROC {
  void (*emout)(te* t, int byte);
  const char* (*emkey)(te* t, int key);  // the key string, or null
  void (*emblk)(te* t, int c);
  int (*eminit)(te* t, const char* name);
  void (*emwrite)(te* t, const unsigned char* bytes, size_t length);
};

// Member of a family: name, terminal-type name, sub-mode bit, flags.
struct EMLIST {
  const char* emname;
  const char* emtelname;
  int emvemode;
  int emflags;
};

// Binding of an emulation number to a family.
struct TELIST {
  int tenum;
  const TEPROC* pfnProcs;
};

// Capability flags (teflags).
enum : int {
  TF_25ROWS = 0x0001,
  TF_24ROWS = 0x0002,
  TF_DEFERWRAP = 0x0010,
  TF_G2G3 = 0x0020,
  TF_WY60PAGE1 = 0x0100,
  TF_WY60PAGE2 = 0x0200,
  TF_HOSTCOLOR = 0x0400,
  TF_KEEPSELPROT = 0x0800,
  TF_EMBEDCOLOR = 0x1000,
};

// G0-G3 designations and shifts.
struct VTCHARSET {
  int CharSet[4];  // set number designated into G0-G3
  int GL, GR;      // index 0-3 invoked into GL/GR, or 4/5 for the SCO fonts
  int SShift;      // pending single shift: 3 = SS2, 4 = SS3, 0 = none
  int SaveSet;     // GL saved with the cursor
  int SaveShift;   // single shift saved with the cursor
  int SaveCharSet[4], SaveGR;  // designations and GR saved with the cursor
  int SaveValid;               // they were (a restore without a save keeps them)
};

// Scrollback ring.  Row i of the ring lives at sbscreen[i]; sbfirstline is
// the ring index of the newest row.
struct scrollback {
  CHATTR** sbscreen;
  CHATTR* sbbegscr;  // the cell block of the ring (owned)
  unsigned char* sbvlattr;
  int sblinemax;    // capacity in rows, 0 = none
  int sbfirstline;  // newest row, -1 when empty
  int sblastline;   // rows held
  int sbcols;       // columns copied from the screen
  int sbcolmax;     // allocated width
  int sbcurline;    // rows the view is scrolled back, 0 = live
  int sblastdisp;
  CHATTR* sbsavescreen[TE_MAXLINES];  // live screen parked while scrolled back
  unsigned char sbsavevlattr[TE_MAXLINES];
  int sbsavx, sbsavy;
  CHATTR sbsavattr;
};

// A saved page (everything selpage swaps).
struct ALTSCREEN {
  CHATTR* a_vscreen[TE_MAXLINES];
  CHATTR* a_vbegscr;  // the page's cell block (owned)
  CHATTR* a_vendscr;
  unsigned char a_vlattr[TE_MAXLINES];
  int a_vcolmax;
  size_t a_vscrsize;
  int a_vdestline, a_vdestcol;
  CHATTR a_vcurattr;
  int a_vbegcol, a_vendcol;
};

// Attribute and drawing state parked by attroff.
struct EMSAVE {
  CHATTR emsavattr;
  CHATTR emsavdim;
  int emsavprot;
  VTCHARSET emsavgraph;
  int emsavins;
  int emGRsav, emGLsav;
};

// Rectangle of cells changed since the channel last read them; all -1 when
// nothing changed.
struct VREGION {
  int top, left, bottom, right;
};

// UTF-8 decoder state of the host data (tcs_utf8.h).
typedef TCSUtf8Decoder UTF8CTX;

// 32-bit colour, red in the low byte.
typedef uint32_t COLORREF;

// One printer slot of the session settings: how and where printer output
// would go.  No printer method exists in this system; the values are kept
// for the emulations' printer requests.
struct PRDATA {
  int m_nPrintStopFlags;  // PrintStop + 1
  int prpause;            // pause between pages
  int m_nColsPage;        // columns and lines of a page (80 x 65 when unset)
  int m_nLinesPage;
  int prsettype;           // printer set-up bits (option AND 0xFF0)
  int prmode;              // 1 file, 3 none, 4 system printer
  int m_bIgnorePrintStop;  // ignore the host's print-stop requests
  int prflags;             // bit 0 text file, bit 1 raw file
  char prfile[256];        // output file of mode 1
};

constexpr int TE_PRINTERS = 6;
constexpr int TE_AUXDEVMAX = 256;  // longest auxiliary device path, NUL included

constexpr int TE_MAXPAGES = 7;
constexpr int TE_VTBUF = 80;
constexpr int TE_PRGKEYS = 48;
constexpr int TE_TITLEMAX = 4096;  // cap of a collected window title

struct te {
  // Handlers
  const TEPROC* pfnEmProcs;
  int teloaded;
  int emode;
  const unsigned char* pdisptab;  // 256 bytes; null = identity
  int tereload;
  char _telname[32];

  // Screen
  CHATTR* _vscreen[TE_MAXLINES];
  CHATTR* _vbegscr;  // the cell block (owned)
  CHATTR* _vendscr;
  int _vcolmax;
  size_t _vscrsize;  // bytes
  unsigned char vlattr[TE_MAXLINES];

  // Size
  int Lines, Cols, vlines, vcols, vstatus, slines, scols;
  int col132, mode132, _conf_col132, vextend;

  // Drawing surface: character cell in pixels, margins, last size
  int xChar, yChar;
  int rectLeft, rectTop, rectRight, rectBottom;
  int _lastsize;
  int vscaling;

  // Cursor
  int vdestline, vdestcol, XNwrap;
  int vbegcol, vendcol;
  int xPOS, yPOS, vCaret;
  int outflag;                  // drawing output on
  int vcurshape;                // remembered cursor shape
  int _statx, _staty, _staton;  // cursor parked while on the status row

  // Attribute
  CHATTR _vcurattr, _vtsavattr, _dimattr, _protrev, _clearto;
  int _protect, _vinsmode;
  CHATTR _vtmpattr, _vflgattr, BlinkAttr;
  int _hostfg, _hostbg;  // colour index + 1 the host chose by SGR; 0 = the user's
  int revdim;
  int erasemode;        // a selective erase is in progress
  uint32_t _vphysattr;  // physical attribute resolved for drawing
  int _blmode, cycle;

  // Regions
  int _vscregion, _vscregtop, _vscregbot, _vscregleft, _vscregright;
  int _decvssm, _decom, _vorigin, _horigin, _vnoscroll;

  // Parser
  int _vemode, _emstate, _ostate, _vtcmd;
  char _vtbuf[TE_VTBUF];
  int _vtptr;
  unsigned char _tabs[TE_MAXCOLS];
  int _termtmps[8];
  int _vtmpint, _vtmpkey;
  int _vtdcson;
  int _vt52y;      // VT52 direct cursor address: 1 row expected, 2 column
  int _dbcstrail;  // the next byte is the trail of a double-byte character
  int _vtsavx, _vtsavy, _vtsavorg;

  // Modes
  int _AMon, _appkey, _appcur, _vnlmode, _vkbmode, _kdisable, _cursmode;
  int _vt200mode, _vtc18out, _nrcsmode, _vmaskpar, dupmode, _blokmode, _vmonitor, _venhanced;
  int vtabex, _vcharset, _vt4207mode, _revvideo, _vtfkeyl, _modeset, _statusline;
  int _vtdcstate, _vtfkeylock, _ibmode, _marky, _vbufline, _vcapslock, _scanmode, _statsupp;
  int _vbank1, _vbank2;  // character banks (Wyse)
  int _bracketpaste;     // DEC private mode 2004: the host wants pasted text bracketed
  int _cursorstyle;      // DECSCUSR (CSI Ps SP q): 1-6, 0 when the host chose none
  char _conformlev[6];

  // Printing (no printer method exists; the filter only finds the end of
  // printer-controller mode)
  int current_printer, _prctrl, _prdisp, _prauto, _ptype, _prtchar, _prextent, _prformfd;
  int _prfstate;  // controller-mode terminator matcher
  int _prfheld;   // bytes held back while matching
  unsigned char _prfhold[4];

  // Character sets
  VTCHARSET vt;
  int (*GetCharSet)(te* t, int c);  // byte to byte-plus-set when stored
  int (*GetTCSChar)(te* t, int c);  // byte-plus-set to TCS when shown
  int defcset;
  short* EmCPtoTCS;
  unsigned char* EmTCStoCP;
  short* KbdCPtoTCS;
  unsigned char* VidTCStoCP;
  short* Alt1CPtoTCS;
  short* Alt2CPtoTCS;
  short* pVT100SG;
  short* pVT200DSG;
  short* pVT200DMN;
  unsigned short* TCS2Unicode;  // 768 entries, TCS 0x200.. to Unicode (derived)
  unsigned short* Unicode2TCS;  // 65536 entries
  unsigned short* Unicode2GB2312;
  unsigned short* GB23122Unicode;
  unsigned short* Unicode2Big5;
  unsigned short* Big52Unicode;
  unsigned short* Unicode2SJIS;
  unsigned short* SJIS2Unicode;
  int MBMode;  // 1 = host sends UTF-8
  UTF8CTX unicodeContext;

  // Scrollback
  scrollback* _sb;
  int vscrollback;
  // Rows ever added to the scrollback; it counts on across new rings, so a
  // row's number (this count when it was added) names it for good.
  uint64_t sbadded;

  // Pages
  ALTSCREEN* _pages[TE_MAXPAGES];
  int _vcurpage, vpages;

  // Changed cells
  VREGION vscreen_region;

  // Keys
  char* _prgkeys[TE_PRGKEYS];
  void* m_pKeyMap;
  char ansik_buf[16];  // key string built by the ANSI/VT family's key map

  // Configuration
  int wrap, bsdel, vdestbs, noscroll, maskpar;
  int fgcolor[17], bgcolor[17];
  int m_bIgnoreHostColor;
  int termid;
  char* wrustr;
  int wruchar;
  int _cleartosb;

  // Flags
  int teflags;

  // Colour maps
  CATMAP inuseCAT, userCAT, savemainCAT, savestatusCAT;
  CHATTR savmattr, savsattr;
  int _statcatinit;

  // Title being collected
  char* titleText;
  int titleTextLength, titleTextSize;

  // Session settings kept with the terminal: drawing, flow control,
  // printers and the auxiliary serial port (filled from the settings
  // dictionary by the session; the engine reads what it needs)
  int turnchar;                    // line turnaround character
  int jumpscroll, jumplines;       // jump-scroll limit and rows pending
  int protection;                  // protected-field display on
  int xonchar, xoffchar;           // flow-control characters
  int linedraw;                    // line-drawing characters drawn as lines
  int nFixedFontSize;              // configured font size of the extended screen
  int nPrevFixedFontSize;          // font size before the extended screen
  int _conf_cursor;                // configured cursor shape 0-3
  int tCaret;                      // cursor shape shown (_conf_cursor + 1)
  COLORREF RGBMap[16];             // RGB of the 16 colour indexes
  char prfilename[16];             // printer file pattern
  char capfilename[16];            // capture file pattern
  int prmargins[4];                // left, top, right, bottom
  PRDATA pr_data[TE_PRINTERS];     // printers 1-6
  char aux_devport[TE_AUXDEVMAX];  // auxiliary device path, empty = none
  int aux_port, aux_baud, aux_parity, aux_wdlen, aux_stopbits;
  int aux_dtr, aux_rts, aux_xonmode;
  int aux_fd;     // descriptor of the open port, -1 when closed
  int auxmode;    // diversion bits 0x1 and 0x4
  int aux_state;  // filter state 0-3
  unsigned char _auxhold[8];  // bytes held while the filter matches
  int _auxheld;

  // Block-capable families (Wyse, IBM 3151, PC-term): their own state,
  // the status and label lines, and their settings: whether the host may
  // read the screen back outside block mode, whether the terminal starts in
  // block mode, whether CR feeds a line too.
  TEFAM fam;
  TELABELS labels;
  int readback;
  int sblockmode;
  int addlf;  // IBM 3151: CR also feeds a line

  // Owner
  int _teowned;  // TEInit allocated the record
  void* app;
  void* pgl;
  te_hooks hooks;
  VidDraw draw;
};
