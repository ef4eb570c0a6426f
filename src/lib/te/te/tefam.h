// State of the block-capable families (Wyse 50 and 60, and the IBM 3151
// and PC-term families that reuse their pieces) beyond what every family
// shares: the escape machine's collected bytes, text being collected for a
// programmed key or a label, the character banks, the lazy attribute
// propagation of the Wyse 50 family, and the status and label lines, which
// are kept apart from the screen (they never take a row from the host) and
// reach the browsers on their own.
#pragma once

#include "vid/chattr.h"

constexpr int TE_FAMTEXT = 63;  // longest programmed key or label text

struct TEFAM {
  // Escape machine: state, the command its arguments belong to, the
  // argument bytes collected and how many it needs.
  int st;
  int cmd;
  int args[4];
  int nargs, need;
  // Text being collected (a programmed key, a label, the status line) and
  // what it is for.
  char text[TE_FAMTEXT + 1];
  int textlen;
  int target;
  // Status-line writing: the column written next (-1 = not writing there)
  // and how many characters the line still takes.
  int statcol, statleft;
  CHATTR statattr;  // attribute of the status line (area attribute)
  int labelmode;    // Wyse 60-25: label text is swallowed
  // Character banks (Wyse 60): the set each of the four banks holds, the
  // primary and secondary bank, and the set of the current bank choice.
  int bank[4];
  int bankp, banks;
  int gset;
  // Decimal cursor address being read (row, column, which one).
  int decrow, deccol, decpart, decdigits;
  // Monitor mode saw ESC.
  int monesc;
  // The last scan found no unprotected cell, and nothing since could have
  // made one (text and cursor movement in protect mode cannot): further
  // scans need not look.  Cleared by everything else.
  int fullprot;
  // Member-specific cursor and attribute flags (set by the family's init).
  int flags;
  // IBM 3151: buffer addressing (output goes to bufy/bufx while the cursor
  // stays), the mark's column (its row is te._marky), the message line, the
  // attribute of new characters (`ibfield`: from their positions instead).
  int bufon, bufy, bufx;
  int markx;
  int msgline;
  CHATTR ibattr;
  int ibfield;

  // Lazy attribute propagation (Wyse 50 family).  Rows are identified by
  // their slot in the cell block, so marks travel with rows that scroll.
  // hint: 0 = the row holds no attribute cell; tint: the attribute every
  // cell of the row is still to take (the row has no attribute cell).
  const CHATTR* pblock;
  int pcolmax, plines;
  CHATTR keep;  // the bits a propagated attribute sets
  unsigned char hint[TE_MAXLINES];
  unsigned char tinted[TE_MAXLINES];
  CHATTR tint[TE_MAXLINES];
  int ntint;
};

// Status and label lines.  `status` is the host-writable status line (the
// unshifted function-key labels are written into it), `shifted` the labels
// of the shifted function keys.
struct TELABELS {
  CHATTR status[TE_MAXCOLS];
  CHATTR shifted[TE_MAXCOLS];
  int on;       // the status line exists (shown below the screen)
  int shifton;  // a shifted label has been written
  int changed;  // changed since the owner last sent them
};
