// The ANSI/VT family (VT100 to VT420, VT52, ANSI, SCO ANSI, AT386, Linux
// and "mac"): one byte-driven parser whose members differ by the sub-mode
// bit in _vemode and the capability flags in teflags.
#pragma once

#include <cstddef>

#include "te/terec.h"

// Sub-mode bits (_vemode) and the member groups the rules name.
enum : int {
  VM_VT320 = 0x001,
  VM_VT320_7 = 0x002,
  VM_VT220 = 0x004,
  VM_VT220_7 = 0x008,
  VM_VT100 = 0x010,
  VM_VT52 = 0x020,
  VM_ANSI = 0x040,
  VM_SCOANSI = 0x080,
  VM_AT386 = 0x100,
  VM_VT420 = 0x200,
  VM_LINUX = 0x400,
  VM_MAC = 0x800,  // "mac" is VT420 plus this bit
  VM_SCO = 0x180,
  VM_VT200 = 0x20F,
  VM_VT300 = 0x603,
  VM_CONFORM = 0x60F,
  VM_DCS = 0x74F,
  VM_VTLINEATTR = 0x23F,  // EL keeps the line attribute for these
};

// Parser states (_emstate).
enum : int {
  ES_GROUND = 0,
  ES_ESC = 1,
  ES_CSI = 2,
  ES_G0 = 3,
  ES_G3 = 6,
  ES_LINEATTR = 7,
  ES_SPACE = 8,
  ES_TITLE = 9,
  ES_TITLEESC = 10,  // ESC inside the title: ST (ESC \\) ends it
  ES_IGNORE = 11,
  ES_IGNOREESC = 12,
  ES_SCOKEY = 20,
};

extern const TEPROC ansi_procs;

// ---- parser (ansiout.cpp)
void ansiemout(te* t, int byte);
void ansiemwrite(te* t, const unsigned char* bytes, size_t length);
void ansiout(te* t, int byte);
void ansiout2(te* t, CHATTR cell);

// ---- escape sequences, designations, VT52, member selection (ansiesc.cpp)
int ansieminit(te* t, const char* name);
void ansiemblk(te* t, int c);
void vtescape(te* t, int c);
int vtpcontrol(te* t, int state, int c);
void vt52escape(te* t, int c);
void ansi_revindex(te* t);
void ansi_savecursor(te* t);
void ansi_restorecursor(te* t);

// ---- keyboard map (ansikey.cpp): the family's own key string, and the
// handler that falls back to defkey
const char* ansikey(te* t, int code);
const char* ansiemkey(te* t, int code);

// ---- control sequences and parameters (ansicsi.cpp)
void vtcontrol(te* t, int c);
void vt2control(te* t, int c);
int vtgetp1(te* t);
int vtqgetp1(te* t);
int vtgetpn(te* t, int n);
int vtgetpc(te* t, int n);
int vtgetps(te* t, int n, char* buffer, int size);
int vtnparms(te* t);
int vtdefp1(te* t);
void vtscmd(te* t, const char* text);
void sndcsi(te* t, const char* text);

// ---- attributes (ansisgr.cpp)
void ansisgr(te* t);
void ansiscosgr(te* t);
void ansicolor(te* t, int n, int permanent);
extern const int ISOmap[8];
// The nearest of the sixteen colours (PC index) to xterm's indexed colour
// 0-255 or to an RGB colour; -1 when out of range.
int ansi_color256(int index);
int ansi_colorrgb(int r, int g, int b);

// ---- character sets (ansicset.cpp)
int AnsiGetCharSet(te* t, int c);
int Vt100GetTCSChar(te* t, int c);
int Vt200GetTCSChar(te* t, int c);
int VTxxxNRCFromTCS(te* t, int c);
extern const unsigned char NRCSChar[12];
extern const unsigned char NRCSSets[13][12];

// ---- modes, reports, device-control strings and SCO extensions: the
// points where that layer plugs into the parser.
// Finals with $ & " intermediates and media copy (ansiext.cpp).
void ansi_ext(te* t, int c);
void ansi_mediacopy(te* t);
// ANSI and DEC private modes, the `?` table (ansi_modes.cpp).
void ansi_modes(te* t, int set);
void ansi_private(te* t, int c);
void ansi_modes_reset(te* t);  // power-up values, from every reset
// Replies to the host and the state they report (ansi_reports.cpp).
void ansi_identify(te* t, int secondary);
void snddcs(te* t, const char* text, int length);
void ansi_privdsr(te* t);
void ansi_modereq(te* t, int priv);
void ansi_conformance(te* t);
void ansi_termstate(te* t);
void ansi_presentation(te* t);
void ansi_statusline(te* t, int c);
void ansi_showtcs(te* t);
// Device-control string of kind `$q`: text of the setting asked for.
void ansi_rqss(te* t, const char* text);
// Restores of kind `1$p` (terminal state) and `Ps$t` (presentation state);
// data that does not parse changes nothing.
void ansi_restore_termstate(te* t, const char* text);
void ansi_restore_presentation(te* t, int kind, const char* text);
// Device-control strings (ansi_dcs.cpp).
void ansi_dcsstart(te* t);
void ansi_dcsdata(te* t, int c);
// What comes from xterm (ansi_xterm.cpp): the alternate screen of modes 47,
// 1047 and 1049; REP; ED 3 (the scrollback erased); the title (set, pushed
// and popped) and the window reports of CSI t; sequences whose intermediate
// is a space (DECSCUSR); the mouse, focus and cursor-blink modes (false
// for a mode that is none of them) and their states for DECRQM (-1: not
// one of them); their power-up values.
void ansi_altscreen(te* t, int mode, int set);
void ansi_repeat(te* t);
void ansi_erase_saved(te* t);
void ansi_set_title(te* t, const char* text);
void ansi_window(te* t);
void ansi_csi_space(te* t, int c);
bool ansi_xterm_mode(te* t, int mode, int set);
int ansi_xterm_modestate(te* t, int mode);
void ansi_xterm_reset(te* t);
// Stores a character already through the character-set translation, by
// the rules of storing one (ansiout.cpp).
void ansi_store_translated(te* t, CHATTR cell);
// Rectangular areas, VT420 (ansi_rect.cpp).
void ansi_rect(te* t, int c);
// SCO console `CSI = Ps final` and ESC Q key definitions (ansi_sco.cpp).
void ansi_scoeq(te* t, int c);
void ansi_scokey(te* t, int c);
