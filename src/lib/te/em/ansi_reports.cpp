// Replies of the ANSI/VT family and the state they carry: device
// attributes, private status reports, mode reports, the conformance level,
// terminal-state and presentation-state reports with their restores,
// request-setting replies, the status line, and showing an internal
// character.
#include <cstdio>
#include <cstring>
#include <string>

#include "em/ansi.h"
#include "em/em.h"
#include "vid/vid.h"

static void rp_send(te* t, const std::string& s) {
  if (t->hooks.bcomout) {
    t->hooks.bcomout(t, s.data(), (int)s.size());
  } else if (t->hooks.comout) {
    for (unsigned char c : s) t->hooks.comout(t, c);
  }
}

void snddcs(te* t, const char* text, int length) {
  std::string s = t->_vtc18out ? "\x90" : "\x1bP";
  s.append(text, (size_t)length);
  s += t->_vtc18out ? "\x9c" : "\x1b\\";
  rp_send(t, s);
}

static void rp_dcs(te* t, const std::string& s) {
  snddcs(t, s.data(), (int)s.size());
}

// ---- identification

void ansi_identify(te* t, int secondary) {
  int vm = t->_vemode;
  if (vm == VM_VT52) {
    vtscmd(t, "\x1b/Z");
  } else if (vm & VM_VT300) {
    sndcsi(t, secondary ? ">24;14;0c" : "?63;1;2;6;8;9;11;14;17c");
  } else if (vm & (VM_VT220 | VM_VT220_7)) {
    sndcsi(t, secondary ? ">1;10;0c" : "?62;1;2;6;8;9c");
  } else {
    vtscmd(t, "\x1b[?1;2c");
  }
}

// ---- status and mode reports

void ansi_privdsr(te* t) {
  switch (vtqgetp1(t)) {
    case 15:
      sndcsi(t, "?10n");
      break;
    case 25:
      sndcsi(t, t->_vtfkeyl ? "?21n" : "?20n");
      break;
    case 26:
      sndcsi(t, "?27;1n");
      break;
    default:
      break;
  }
}

// State of a mode for a mode report: 1 set, 2 reset, 0 not recognised,
// -1 no answer.
static int rp_ansimode(te* t, int mode) {
  switch (mode) {
    case 2:
      return t->_kdisable ? 1 : 2;
    case 3:
    case 10:
      return 0;
    case 4:
      return t->_vinsmode ? 1 : 2;
    case 12:
      return t->dupmode ? 2 : 1;
    case 20:
      return t->_vnlmode ? 1 : 2;
    default:
      return -1;
  }
}

static int rp_privmode(te* t, int mode) {
  auto on = [](int v) { return v ? 1 : 2; };
  switch (mode) {
    case 1:
      return on(t->_appcur);
    case 2:
      return on(t->_vemode != VM_VT52);
    case 3:
      return on(t->col132);
    case 4:
    case 8:
    case 67:
    case 68:
      return 0;
    case 5:
      return on(t->_revvideo);
    case 6:
      return on(t->_decom);
    case 7:
      return on(t->_AMon);
    case 18:
      return on(t->_prformfd);
    case 19:
      return on(t->_prextent);
    case 25:
      return on(t->_cursmode);
    case 42:
      return on(t->_nrcsmode);
    case 66:
      return on(t->_appkey);
    case 2004:
      return on(t->_bracketpaste);
    default:
      return ansi_xterm_modestate(t, mode);
  }
}

void ansi_modereq(te* t, int priv) {
  int mode = priv ? vtqgetp1(t) : vtgetp1(t);
  int state = priv ? rp_privmode(t, mode) : rp_ansimode(t, mode);
  if (state < 0) return;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s%d;%d$y", priv ? "?" : "", mode, state);
  sndcsi(t, buf);
}

// ---- conformance level

void ansi_conformance(te* t) {
  if (!(t->_vemode & VM_CONFORM)) return;
  int level = vtgetpn(t, 1), c1 = vtgetpn(t, 2);
  if (level == 61) {
    t->_vt200mode = 0;
    t->_vtc18out = 0;
  } else if (level == 62 || level == 63) {
    if (c1 > 2) return;
    t->_vtc18out = c1 != 1;
    t->_vt200mode = (t->_vemode & (VM_VT320 | VM_VT220 | VM_VT420 | VM_LINUX)) ? 2 : 1;
  } else {
    return;
  }
  // The parameter text before the intermediate, five characters at most.
  int n = 0;
  while (n < 5 && n < t->_vtptr && t->_vtbuf[n] != '"') n++;
  std::memcpy(t->_conformlev, t->_vtbuf, (size_t)n);
  t->_conformlev[n] = 0;
  t->_modeset = 1;
}

// ---- terminal state report and its restore

static int rp_shift(te* t) {
  return t->vt.SShift == 4 ? 2 : t->vt.SShift == 3 ? 1 : 0;
}

void ansi_termstate(te* t) {
  CHATTR a = t->_vcurattr;
  char c[4];
  c[0] = (char)(0x20 + ((a & CA_BLINK) ? 4 : 0) + ((a & CA_UNDER) ? 2 : 0) + ((a & CA_BOLD) ? 1 : 0));
  c[1] = (char)(0x20 + (t->_AMon ? 4 : 0) + rp_shift(t));
  c[2] = (char)(0x20 + (t->_vinsmode ? 2 : 0) + (t->_decom ? 1 : 0));
  c[3] = (char)(0x20 + ((a & CA_REV) ? 4 : 0) + ((a & CA_SELPROT) ? 2 : 0));
  unsigned sum = (unsigned)(c[0] + c[1] + c[2] + c[3]);
  unsigned neg = (0u - sum) & 0xFFFFu;
  std::string s = "1$s";
  s += c[0];
  s += c[1];
  s += ';';
  s += c[2];
  s += ';';
  s += c[3];
  s += (char)(neg >> 8);
  s += (char)(neg & 0xFF);
  rp_dcs(t, s);
}

// Applies rendition bits to the current attribute, colours resolved from
// the map in force.
static void rp_setrendition(te* t, bool bold, bool under, bool blink, bool rev, bool prot) {
  CHATTR a = t->_vcurattr & ~(CA_COMBO | CA_SELPROT | CA_COLOR);
  if (bold) a |= CA_BOLD;
  if (under) a |= CA_UNDER;
  if (blink) a |= CA_BLINK;
  if (rev) a |= CA_REV;
  a = EmGetColorBits(t, a);
  if (prot) a |= CA_SELPROT;
  EmSetAttr(t, a);
}

static void rp_setorigin(te* t, int on) {
  t->_decom = on;
  t->_vorigin = on && t->_vscregion ? t->_vscregtop : 0;
  t->_horigin = on && t->_vscregion ? t->_vscregleft : 0;
}

void ansi_restore_termstate(te* t, const char* s) {
  // c1 c2 ; c3 ; c4, then the two check bytes.
  if (std::strlen(s) < 8 || s[2] != ';' || s[4] != ';') return;
  int c[4] = {(unsigned char)s[0], (unsigned char)s[1], (unsigned char)s[3], (unsigned char)s[5]};
  unsigned neg = (0u - (unsigned)(c[0] + c[1] + c[2] + c[3])) & 0xFFFFu;
  if ((unsigned char)s[6] != (neg >> 8) || (unsigned char)s[7] != (neg & 0xFF)) return;
  for (int v : c)
    if (v < 0x20 || v > 0x27) return;
  rp_setrendition(t, c[0] & 1, c[0] & 2, c[0] & 4, c[3] & 4, c[3] & 2);
  t->_AMon = (c[1] & 4) ? 1 : 0;
  t->vt.SShift = (c[1] & 2) ? 4 : (c[1] & 1) ? 3 : 0;
  t->_vinsmode = (c[2] & 2) ? 1 : 0;
  rp_setorigin(t, c[2] & 1);
}

// ---- presentation state reports and their restores

// Designation of a set number in a cursor information report.
static const char* rp_desig(int set) {
  static const char* const names[16] = {"B", "A",  "4", "C", "R", "9", "K",  "Y",
                                        "E", "%6", "Z", "7", "=", "B", "%5", "0"};
  return set >= 0 && set < 16 ? names[set] : "B";
}

void ansi_presentation(te* t) {
  int kind = vtgetp1(t);
  std::string s;
  char buf[64];
  if (kind == 1) {
    CHATTR a = t->_vcurattr;
    int rend = 0x40 + ((a & CA_REV) ? 8 : 0) + ((a & CA_BLINK) ? 4 : 0) + ((a & CA_UNDER) ? 2 : 0) +
               ((a & CA_BOLD) ? 1 : 0);
    int att = 0x40 + ((a & CA_SELPROT) ? 1 : 0);
    int flags = 0x40 + (t->_AMon ? 8 : 0) + (t->vt.SShift == 4 ? 4 : 0) + (t->vt.SShift == 3 ? 2 : 0) +
                (t->_decom ? 1 : 0);
    std::snprintf(buf, sizeof buf, "1$u%d;%d;1;%c;%c;%c;%d;%d;@;", t->vdestline + 1, t->vdestcol + 1, rend,
                  att, flags, t->vt.GL & 3, t->vt.GR & 3);
    s = buf;
    for (int g = 0; g < 4; g++) s += rp_desig(t->vt.CharSet[g]);
  } else if (kind == 2) {
    s = "2$u";
    bool first = true;
    for (int x = 0; x < TE_MAXCOLS; x++) {
      if (!t->_tabs[x]) continue;
      if (!first) s += ';';
      s += std::to_string(x + 1);
      first = false;
    }
  } else {
    return;
  }
  rp_dcs(t, s);
}

// Splits a restore text at `;` (and `/` for tab stops).
static int rp_fields(const char* s, std::string* out, int max, bool slash) {
  int n = 0;
  out[0].clear();
  for (; *s; s++) {
    if (*s == ';' || (slash && *s == '/')) {
      if (++n >= max) return n;
      out[n].clear();
    } else {
      out[n] += *s;
    }
  }
  return n + 1;
}

static int rp_number(const std::string& s, int lo, int hi, int dflt) {
  if (s.empty() || s.size() > 4) return dflt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v < lo ? lo : v > hi ? hi : v;
}

// Designations of G0-G3 as a cursor information report writes them.
static bool rp_readdesig(const std::string& s, int sets[4]) {
  size_t i = 0;
  for (int g = 0; g < 4; g++) {
    if (i >= s.size()) return false;
    std::string name(1, s[i++]);
    if (name == "%") {
      if (i >= s.size()) return false;
      name += s[i++];
    }
    int set = -1;
    for (int k = 0; k < 16 && set < 0; k++)
      if (k != 13 && name == rp_desig(k)) set = k;
    if (set < 0) return false;
    sets[g] = set;
  }
  return i == s.size();
}

void ansi_restore_presentation(te* t, int kind, const char* text) {
  if (kind == 2) {
    std::string f[TE_MAXCOLS + 1];
    int n = rp_fields(text, f, TE_MAXCOLS + 1, true);
    int cols[TE_MAXCOLS + 1];
    for (int i = 0; i < n; i++) {
      cols[i] = f[i].empty() ? 0 : rp_number(f[i], 1, TE_MAXCOLS, 0);
      if (cols[i] < 0) return;
    }
    std::memset(t->_tabs, 0, sizeof t->_tabs);
    for (int i = 0; i < n; i++)
      if (cols[i] > 0) t->_tabs[cols[i] - 1] = 1;
    return;
  }
  if (kind != 1) return;
  std::string f[11];
  if (rp_fields(text, f, 11, false) != 10) return;
  int row = rp_number(f[0], 1, TE_MAXLINES, 1), col = rp_number(f[1], 1, TE_MAXCOLS, 1);
  int gl = rp_number(f[6], 0, 3, 0), gr = rp_number(f[7], 0, 3, 1);
  int sets[4];
  if (row < 0 || col < 0 || gl < 0 || gr < 0 || !rp_readdesig(f[9], sets)) return;
  for (int i = 3; i <= 5; i++)
    if (f[i].size() != 1 || f[i][0] < 0x40 || f[i][0] > 0x4F) return;
  int rend = f[3][0], att = f[4][0], flags = f[5][0];
  rp_setrendition(t, rend & 1, rend & 2, rend & 4, rend & 8, att & 1);
  t->_AMon = (flags & 8) ? 1 : 0;
  t->vt.SShift = (flags & 4) ? 4 : (flags & 2) ? 3 : 0;
  t->vt.GL = gl;
  t->vt.GR = gr;
  for (int g = 0; g < 4; g++) t->vt.CharSet[g] = sets[g];
  // The position is absolute: the origin is restored first.
  rp_setorigin(t, flags & 1);
  cpos(t, row - 1 - t->_vorigin, col - 1 - t->_horigin);
}

// ---- request setting

void ansi_rqss(te* t, const char* text) {
  std::string s = "0$r";
  if (!std::strcmp(text, "\"p")) {
    s += t->_modeset ? t->_conformlev : "63;1";
    s += "\"p";
  } else if (!std::strcmp(text, "\"q")) {
    s += (t->_vcurattr & CA_SELPROT) ? "1\"q" : "0\"q";
  } else if (!std::strcmp(text, "$}")) {
    s += t->_staton ? "1$}" : "0$}";
  } else if (!std::strcmp(text, "$~")) {
    s += t->_statusline ? (char)t->_statusline : '0';
    s += "$~";
  } else if (!std::strcmp(text, "m")) {
    CHATTR a = t->_vcurattr;
    s += "0;";
    if (a & CA_BOLD) s += "1;";
    if (a & CA_UNDER) s += "4;";
    if (a & CA_BLINK) s += "5;";
    if (a & CA_REV) s += "7;";
    s.back() = 'm';
  } else if (!std::strcmp(text, "r")) {
    int top = t->_vscregtop + 1, bot = t->_vscregbot + 1;
    if (!t->_vscregion || top < 1 || bot > t->vlines || top >= bot) {
      top = 1;
      bot = t->vlines;
    }
    s += std::to_string(top) + ";" + std::to_string(bot) + "r";
  } else {
    s = "1$r";
  }
  rp_dcs(t, s);
}

// ---- status line

void ansi_statusline(te* t, int c) {
  int p = vtgetp1(t);
  if (c == '}') {
    if (p && !t->_staton) {
      std::memcpy(t->savemainCAT, t->inuseCAT, sizeof(CATMAP));
      t->savmattr = t->_vcurattr;
      if (!t->_statcatinit) {
        std::memcpy(t->savestatusCAT, t->userCAT, sizeof(CATMAP));
        t->savsattr = EmGetDefDefaultAttr(t);
        t->_statcatinit = 1;
      }
      std::memcpy(t->inuseCAT, t->savestatusCAT, sizeof(CATMAP));
      EmSetAttr(t, t->savsattr);
      vidstatline(t, 1, 0);
      if (!t->_staton) {
        // No status row could be made: the main map and attribute return.
        std::memcpy(t->inuseCAT, t->savemainCAT, sizeof(CATMAP));
        EmSetAttr(t, t->savmattr);
      }
    } else if (!p && t->_staton) {
      std::memcpy(t->savestatusCAT, t->inuseCAT, sizeof(CATMAP));
      t->savsattr = t->_vcurattr;
      std::memcpy(t->inuseCAT, t->savemainCAT, sizeof(CATMAP));
      EmSetAttr(t, t->savmattr);
      vidstatline(t, 2, 0);
    }
  } else if (p == 0 || p == 1) {
    t->_statusline = '0' + p;
    vidstatline(t, 0, 0);
  }
}

// ---- an internal character shown at the cursor

void ansi_showtcs(te* t) {
  if (vtgetpn(t, 1) != 0) return;
  int n = vtgetpn(t, 2);
  if (n < 0) return;
  if (n < 256) n |= 0x200;
  ansiout2(t, CA_TCS | ((CHATTR)n & 0xFFF));
}
