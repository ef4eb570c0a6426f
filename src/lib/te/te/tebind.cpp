// Binding of the engine to its owner: loading a family for an emulation
// number and dispatching host bytes, keys and member selection to it.
#include "te/te.h"

#include "em/teaux.h"

bool TeNew(te* t) {
  const TEPROC* procs = EmFindProcs(t->emode);
  if (!procs) return false;
  t->pfnEmProcs = procs;
  t->teloaded = t->emode;
  EmNew(t, t->emode);
  return true;
}

void FixMyEmulator(te* t) {
  const TEPROC* procs = EmFindProcs(t->teloaded);
  if (procs) t->pfnEmProcs = procs;
}

void TeClose(te* t) {
  EmClose(t);
}

void TEemout(te* t, int byte) {
  if (!t->pfnEmProcs) return;
  if (t->_sb && t->_sb->sbcurline) sbreset(t);
  ttyout(t, byte);
}

void TEemwrite(te* t, const void* bytes, size_t length) {
  if (!t->pfnEmProcs || !length) return;
  if (t->_sb && t->_sb->sbcurline) sbreset(t);
  const unsigned char* p = (const unsigned char*)bytes;
  // With an auxiliary port configured any byte may start or end a
  // diversion: the bytes go their way one at a time.
  if (t->auxmode || te_useaux(t)) {
    te_aux_route(t, p, length);
    return;
  }
  if (t->pfnEmProcs->emwrite) {
    t->pfnEmProcs->emwrite(t, p, length);
  } else {
    for (size_t i = 0; i < length; i++) t->pfnEmProcs->emout(t, p[i]);
  }
}

void TEemblk(te* t, int c) {
  if (t->pfnEmProcs) t->pfnEmProcs->emblk(t, c);
}

int TEeminit(te* t, const char* name) {
  return t->pfnEmProcs ? t->pfnEmProcs->eminit(t, name) : -1;
}
