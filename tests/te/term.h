// A terminal for tests: created the way the session creates one, with the
// owner hooks recording what the engine sends out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "te/te.h"
#include "vid/vtext.h"

struct Term {
  te* t = nullptr;
  std::string sent;     // bytes sent to the host
  std::string title;    // last window title
  std::string printed;  // bytes passed to the printer
  int screenPrints = 0;  // requests to print the screen
  int bells = 0;
  std::vector<int> errors;
  int sizeChanges = 0;

  struct Options {
    int emode = 35;  // "mac"
    int rows = 24;
    int cols = 80;
    int pages = 6;
    int scrollback = 100;  // rows of scrollback ring (0 = none)
    bool utf8 = true;
    bool vextend = true;   // keep rows x cols across resets
    bool codepage = true;  // load the shipped code-page file's Unicode table
    int fg = 8, bg = 1;    // normal colours (+1), 0 = none configured
  };

  explicit Term(int emode = 35, int rows = 24, int cols = 80) : Term(make(emode, rows, cols)) {}
  explicit Term(const Options& o) { open(o); }
  ~Term() { TEDestroy(t); }
  Term(const Term&) = delete;
  Term& operator=(const Term&) = delete;

  static Options make(int emode, int rows, int cols) {
    Options o;
    o.emode = emode;
    o.rows = rows;
    o.cols = cols;
    return o;
  }

  void open(const Options& o) {
    t = TEInit(nullptr, nullptr);
    t->app = this;
    t->hooks.bcomout = [](te* t, const char* b, int n) { self(t)->sent.append(b, (size_t)n); };
    t->hooks.comout = [](te* t, int c) { self(t)->sent += (char)c; };
    t->hooks.set_title = [](te* t, const char* s) { self(t)->title = s; };
    t->hooks.bell = [](te* t) { self(t)->bells++; };
    t->hooks.error = [](te* t, int code) { self(t)->errors.push_back(code); };
    t->hooks.windowSizeChanged = [](te* t, int, int) { self(t)->sizeChanges++; };
    t->hooks.printer = [](te* t, int request, const char* b, int n) {
      if (request == TE_PRINT_BYTES) self(t)->printed.append(b, (size_t)n);
      if (request == TE_PRINT_SCREEN) self(t)->screenPrints++;
    };
    if (o.scrollback != 10000) {
      sbfree(t);
      sbinit(t, o.scrollback);
    }
    t->vscrollback = o.scrollback;
    t->emode = o.emode;
    t->Lines = o.rows;
    t->Cols = o.cols;
    t->vpages = o.pages;
    t->vextend = o.vextend;
    t->MBMode = o.utf8 ? 1 : 0;
    for (int i = 0; i < 17; i++) {
      t->fgcolor[i] = o.fg;
      t->bgcolor[i] = o.bg;
    }
    if (o.codepage) SetEmOutCP(t, KVX_SOURCE_DIR "/codepage.dat", "1250");
    TeNew(t);
    cpos(t, 0, 0);
    vscreen_invalidate(t);
  }

  static Term* self(te* t) { return (Term*)t->app; }

  void feed(std::string_view s) { TEemwrite(t, s.data(), s.size()); }
  void feedBytewise(std::string_view s) {
    for (unsigned char c : s) TEemout(t, c);
  }
  std::string row(int y) const { return vid_screenrow(t, y); }
  std::string attrs(int y) const { return vid_rowattrs(t->_vscreen[y], t->vcols); }
  CHATTR cell(int x, int y) const { return t->_vscreen[y][x]; }
  // Text of the whole screen, rows joined by '\n', trailing empty rows cut.
  std::string screen() const {
    std::string s;
    int last = -1;
    for (int y = 0; y < t->vlines; y++)
      if (!row(y).empty()) last = y;
    for (int y = 0; y <= last; y++) s += row(y) + "\n";
    return s;
  }
};
