// Escape sequences of the ANSI/VT family, character-set designations and
// line attributes, the VT52 sub-mode, member selection and the family's
// handler vector.
#include <algorithm>
#include <cstring>

#include "em/ansi.h"
#include "em/em.h"
#include "em/wcwidth.h"
#include "vid/vid.h"

const TEPROC ansi_procs = {ansiemout, ansiemkey, ansiemblk, ansieminit, ansiemwrite};

int ansieminit(te* t, const char* name) {
  if (name && !EmSelectMember(t, ansi_emlist, name)) return -1;
  t->_prformfd = 1;
  t->vt.GL = 0;
  t->vt.GR = 1;
  t->vt.SShift = 0;
  t->vt.SaveSet = 0;
  t->vt.SaveShift = 0;
  t->vt.SaveValid = 0;
  t->GetCharSet = AnsiGetCharSet;
  t->GetTCSChar = Vt100GetTCSChar;
  t->vt.CharSet[0] = 0;
  t->vt.CharSet[1] = t->vt.CharSet[2] = t->vt.CharSet[3] = 2;
  int vm = t->_vemode;
  if (vm & (VM_VT320_7 | VM_VT220_7)) t->_vt200mode = 1;
  // C1 controls are read, but replies and keys stay 7-bit until the host
  // asks for 8-bit ones (ESC SP G): a UTF-8 host cannot read a lone C1 byte.
  if (vm & (VM_VT320 | VM_VT220)) t->_vt200mode = 2;
  if (vm & VM_VT200) {
    t->_vmaskpar = 0;
    t->_nrcsmode = t->defcset != 0;
    t->GetTCSChar = Vt200GetTCSChar;
    t->vt.CharSet[0] = t->defcset;
    t->vt.CharSet[1] = t->vt.CharSet[2] = t->vt.CharSet[3] = 14;
    vid_region_off(t);
    t->_vscregleft = 0;
    t->_vscregright = t->vcols - 1;
  }
  if (vm & (VM_LINUX | VM_SCOANSI)) {
    t->_vt200mode = 2;
    t->_vmaskpar = 0;
  }
  if (vm & VM_AT386) t->_vmaskpar = 0;
  ansi_modes_reset(t);
  return 0;
}

void ansiemblk(te*, int) {}

void ansi_savecursor(te* t) {
  t->_vtsavx = t->vdestcol;
  t->_vtsavy = t->vdestline;
  t->_vtsavattr = t->_vcurattr;
  t->_vtsavorg = t->_vorigin;
  t->vt.SaveSet = t->vt.GL;
  t->vt.SaveShift = t->vt.SShift;
  // The character sets go with the cursor, as on the VT100 and VT220.
  std::memcpy(t->vt.SaveCharSet, t->vt.CharSet, sizeof t->vt.SaveCharSet);
  t->vt.SaveGR = t->vt.GR;
  t->vt.SaveValid = 1;
}

void ansi_restorecursor(te* t) {
  // The saved position is absolute: restore the origin first so that the
  // move lands on it.
  t->_vorigin = t->_vtsavorg;
  if (!t->_vorigin) t->_horigin = 0;
  cpos(t, t->_vtsavy - t->_vorigin, t->_vtsavx - t->_horigin);
  EmSetAttr(t, t->_vtsavattr);
  t->vt.GL = t->vt.SaveSet;
  t->vt.SShift = t->vt.SaveShift;
  if (t->vt.SaveValid) {
    std::memcpy(t->vt.CharSet, t->vt.SaveCharSet, sizeof t->vt.CharSet);
    t->vt.GR = t->vt.SaveGR;
  }
}

void vtescape(te* t, int c) {
  switch (c) {
    case '7':
      ansi_savecursor(t);
      break;
    case '8':
      ansi_restorecursor(t);
      break;
    case '=':
      t->_appkey = 1;
      break;
    case '>':
      t->_appkey = 0;
      break;
    case 'D':
      newline(t);
      break;
    case 'E':
      t->vdestcol = 0;
      newline(t);
      break;
    case 'H':
      if (t->vdestcol < TE_MAXCOLS) t->_tabs[t->vdestcol] = 1;
      break;
    case 'M':
      ansi_revindex(t);
      break;
    case 'N':
      t->vt.SShift = 3;
      break;
    case 'O':
      t->vt.SShift = 4;
      break;
    case 'P':
      if (t->_vemode & VM_DCS) {
        t->_vtptr = 0;
        t->_vtbuf[0] = 0;
        t->_vtdcson = 1;
        t->_emstate = ES_ESC;
      }
      break;
    case 'Q':
      if (t->_vemode & VM_SCO) t->_emstate = ES_SCOKEY;
      break;
    case 'Z':
      ansi_identify(t, 0);
      break;
    case 'c':
      EmReset(t, 0);
      vclear(t);
      break;
    case 'n':
    case 'o':
      if (t->teflags & TF_G2G3) t->vt.GL = c == 'n' ? 2 : 3;
      break;
    case '|':
    case '}':
    case '~':
      if (t->teflags & TF_G2G3) t->vt.GR = c == '|' ? 3 : c == '}' ? 2 : 1;
      break;
    default:
      break;
  }
}

// Line attribute of the cursor row; a double one halves the row.
static void ve_lineattr(te* t, int la) {
  int y = t->vdestline;
  if (y < 0 || y >= t->vlines) return;
  t->vlattr[y] = (unsigned char)((t->vlattr[y] & ~LA_WIDTH) | la);
  if (la) {
    int half = t->vcols / 2;
    CHATTR blank = EmGetDefaultAttr(t) | CA_BLANK;
    CHATTR* row = t->_vscreen[y];
    for (int x = half; x < t->vcols; x++) row[x] = blank;
    // A double-width character across the middle loses its right half: it
    // goes whole.
    int from = half;
    if (half > 0 && (row[half - 1] & CA_UNI) && wc_wide(ca_unicode(row[half - 1]))) {
      row[half - 1] = (row[half - 1] & CA_ATTRPART) | CA_BLANK;
      from = half - 1;
    }
    vid_touch_row(t, y, from, t->vcols - 1);
    if (t->vdestcol > half - 1) t->vdestcol = std::max(half - 1, 0);
  }
  VidPos(t, y, t->vdestcol);
}

int vtpcontrol(te* t, int state, int c) {
  if (state == ES_LINEATTR) {
    switch (c) {
      case '3':
        ve_lineattr(t, LA_DHTOP);
        break;
      case '4':
        ve_lineattr(t, LA_DHBOT);
        break;
      case '5':
        ve_lineattr(t, 0);
        break;
      case '6':
        ve_lineattr(t, LA_DOUBLEW);
        break;
      case '8':
        testdisp(t, 'E');
        break;
      default:
        break;
    }
    return ES_GROUND;
  }
  if (state == ES_SPACE) {
    if (c == 'F') t->_vtc18out = 0;
    if (c == 'G') t->_vtc18out = 1;
    return ES_GROUND;
  }
  if (state < ES_G0 || state > ES_G3) return ES_GROUND;
  int set = -1;
  if (!(t->teflags & TF_G2G3)) {
    switch (c) {
      case '0':
      case '2':
        set = 2;
        break;
      case '1':
      case '<':
      case 'B':
        set = 0;
        break;
      case 'A':
        set = 1;
        break;
      default:
        break;
    }
  } else if (t->_vtmpint) {
    // Second byte of a two-byte name after '%'.
    t->_vtmpint = 0;
    if (c == '5' && !t->_nrcsmode) set = 14;
    if (c == '6' && t->_nrcsmode) set = 9;
  } else if (c == '%') {
    t->_vtmpint = 1;
    return state;
  } else {
    switch (c) {
      case '0':
      case '2':
      case '>':
        set = 15;
        break;
      case '1':
      case 'B':
        set = t->defcset;
        break;
      case 'A':
        set = t->_nrcsmode ? 1 : 14;
        break;
      case '<':
        set = 14;
        break;
      default:
        break;
    }
    if (set < 0 && t->_nrcsmode) {
      switch (c) {
        case '4':
          set = 2;
          break;
        case '5':
        case 'C':
          set = 3;
          break;
        case '6':
        case 'E':
        case '`':
          set = 8;
          break;
        case '7':
        case 'H':
          set = 11;
          break;
        case '9':
        case 'Q':
          set = 5;
          break;
        case '=':
          set = 12;
          break;
        case 'K':
          set = 6;
          break;
        case 'R':
          set = 4;
          break;
        case 'Y':
          set = 7;
          break;
        case 'Z':
          set = 10;
          break;
        default:
          break;
      }
    }
  }
  if (set >= 0) t->vt.CharSet[state - ES_G0] = set;
  return ES_GROUND;
}

void vt52escape(te* t, int c) {
  if (t->_vt52y == 1) {
    t->_vtmpint = c - 32;
    t->_vt52y = 2;
    t->_emstate = ES_ESC;
    return;
  }
  if (t->_vt52y == 2) {
    t->_vt52y = 0;
    t->_emstate = ES_GROUND;
    t->_vtmpint = std::max(t->_vtmpint, 0);
    cpos(t, t->_vtmpint, std::max(c - 32, 0));
    t->_vtmpint = 0;
    return;
  }
  t->_emstate = ES_GROUND;
  switch (c) {
    case '<':
      t->_vemode = VM_VT100;
      break;
    case '=':
      t->_appkey = 1;
      break;
    case '>':
      t->_appkey = 0;
      break;
    case 'A':
      if (t->vdestline > 0) t->vdestline--;
      cgoto(t);
      break;
    case 'B':
      if (t->vdestline < t->vlines - 1) t->vdestline++;
      cgoto(t);
      break;
    case 'C':
      if (t->vdestcol < vid_fvcols(t, t->vdestline) - 1) t->vdestcol++;
      cgoto(t);
      break;
    case 'D':
      if (t->vdestcol > 0) t->vdestcol--;
      cgoto(t);
      break;
    case 'F':
      t->_vcharset = 1;
      break;
    case 'G':
      t->_vcharset = 0;
      break;
    case 'H':
      cpos(t, 0, 0);
      break;
    case 'I':
      if (t->vdestline > 0) {
        t->vdestline--;
      } else {
        int col = t->vdestcol;
        vdscroll(t, 0);
        t->vdestcol = col;
      }
      cgoto(t);
      break;
    case 'J':
      vclreos(t, t->vdestline, t->vdestcol);
      break;
    case 'K':
      vclreol(t, t->vdestline, t->vdestcol);
      break;
    case 'V':
      if (t->hooks.printer) t->hooks.printer(t, TE_PRINT_LINE, nullptr, t->vdestline);
      break;
    case 'W':
      if (!t->hooks.printer) break;  // as CSI 5 i: nothing would print it
      te_set_prctrl(t, 1);
      t->_prfstate = t->_prfheld = 0;
      break;
    case 'Y':
      t->_vt52y = 1;
      t->_emstate = ES_ESC;
      break;
    case 'Z':
      vtscmd(t, "\x1b/Z");
      break;
    case ']':
      if (t->hooks.printer) t->hooks.printer(t, TE_PRINT_SCREEN, nullptr, 0);
      break;
    case '^':
      t->_prauto = 1;
      break;
    case '_':
      t->_prauto = 0;
      break;
    default:
      break;
  }
}
