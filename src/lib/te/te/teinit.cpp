// Creation and destruction of a terminal record with the engine's initial
// values, and the selection of its emulation and national set.
#include <cstring>

#include "tcs.h"
#include "te/te.h"

te* TEInit(te* t, void* window) {
  bool owned = !t;
  if (!t) {
    t = (te*)EmAlloc(sizeof(te));
    if (!t) return nullptr;
  } else {
    std::memset(t, 0, sizeof *t);
  }
  t->_teowned = owned;
  t->pgl = window;
  t->Lines = 24;
  t->Cols = 80;
  t->vscaling = 1;
  t->xChar = 10;  // a 10-point fixed font: 10 x 15 pixels
  t->yChar = 15;
  t->rectLeft = 5;
  t->rectTop = 2;
  t->rectRight = 5;
  t->rectBottom = 2;
  t->vscrollback = 1000;
  t->vextend = 0;
  t->wruchar = 5;
  t->vpages = 6;
  t->maskpar = 0;
  t->revdim = 1;
  t->fgcolor[0] = 15;
  t->bgcolor[0] = 2;
  t->emode = 7;
  t->defcset = 0;
  t->wrap = 1;
  t->bsdel = 1;
  t->BlinkAttr = 0x400000;
  t->vcurshape = 3;
  t->vCaret = 1;
  t->outflag = 1;
  t->_vtmpkey = -1;
  t->xattrs = 1;
  // Settings the session keeps with the terminal until its dictionary is
  // applied.
  static const COLORREF pcColors[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                        0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                        0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  std::memcpy(t->RGBMap, pcColors, sizeof t->RGBMap);
  t->turnchar = 13;
  t->jumpscroll = 19;
  t->protection = 1;
  t->xonchar = 17;
  t->xoffchar = 19;
  std::strcpy(t->prfilename, "pr#.fil");
  std::strcpy(t->capfilename, "capt#.fil");
  t->aux_baud = 9600;
  t->aux_parity = 0;
  t->aux_wdlen = 8;
  t->aux_stopbits = 1;
  t->aux_fd = -1;  // no port open
  const int margins[4] = {5, 2, 5, 2};
  std::memcpy(t->prmargins, margins, sizeof t->prmargins);
  // Code page "1250" and the DEC tables from no file: the built-in
  // defaults of each kind, until the settings load others.
  SetEmInCP(t, "", "1250");
  SetEmOutCP(t, "", "1250");
  SetKbdCP(t, "", "1250");
  SetVidCP(t, "", "1250");
  SetDECSGCP(t, "", TCS_VT200DSG_NAME);
  SetDECMNCP(t, "", TCS_VT200DMN_NAME);
  SetVT100SGCP(t, "", TCS_VT100SG_NAME);
  vscreen_invalidate(t);
  sbinit(t, 10000);
  return t;
}

te* TESimpleInit(te* t, void* window, int emode) {
  t = TEInit(t, window);
  if (!t) return nullptr;
  t->emode = emode;
  t->fgcolor[0] = 10;
  t->bgcolor[0] = 11;
  t->MBMode = 1;
  if (!TeNew(t)) {
    TEDestroy(t);
    return nullptr;
  }
  vidcurtype(t, 1);
  t->tCaret = 1;
  t->linedraw = 1;
  return t;
}

void TEDestroy(te* t) {
  if (!t) return;
  EmClose(t);
  if (t->_teowned) EmFree(t);
}

int sl_emulate(te* t, int number) {
  if (number == EMODE_VT102) number = EMODE_VT100;
  if (number == EMODE_IB3101) number = EMODE_IBM3101;
  if (number < 0 || (number > EMODE_TTY && number < EMODE_VT420) || number >= EMODE_LIMIT) {
    EmError(t, EMERR_EMULATION);
    return -1;
  }
  const TEPROC* procs = EmFindProcs(number);
  if (!procs) {
    EmError(t, EMERR_EMULATION);
    return -1;
  }
  t->emode = number;
  if (!t->teloaded || !t->_vbegscr) return TeNew(t) ? 0 : -1;
  if (t->teloaded != number || t->pfnEmProcs != procs) {
    t->pfnEmProcs = procs;
    t->teloaded = number;
  }
  EmReset(t, number);
  return 0;
}

int sl_charset(te* t, int set) {
  if (set < 0 || set > 13) {
    EmError(t, EMERR_CHARSET);
    return -1;
  }
  t->defcset = set;
  if (t->teflags & TF_G2G3) t->vt.CharSet[0] = set;
  return 0;
}
