// The character-mode engine as its owner sees it: create and destroy a
// terminal, load an emulation, feed host bytes and keys through the active
// family's handlers.  Includes the record, screen and emulator headers.
#pragma once

#include <cstddef>

#include "em/em.h"
#include "te/terec.h"
#include "vid/vid.h"

// Loads the emulation named by t->emode; false when no family binds it.
bool TeNew(te* t);
// Re-installs the handler vector of the loaded emulation without a reset.
void FixMyEmulator(te* t);
void TeClose(te* t);

// Host output: one byte, or a buffer (same result as byte by byte).
void TEemout(te* t, int byte);
void TEemwrite(te* t, const void* bytes, size_t length);
// The loaded family's string for a key code or TCS character (keys.h), or
// null when it sends none.
const char* TEemkey(te* t, int key);
void TEemblk(te* t, int c);
int TEeminit(te* t, const char* name);

// A terminal with the engine's initial values (a null argument allocates
// one; TEDestroy frees what TEInit allocated).
te* TEInit(te* t, void* window);
// TEInit, then the emulation of `emode` (ANSI unless told otherwise) loaded
// with UTF-8 host data on; null when the emulation cannot be loaded.
te* TESimpleInit(te* t, void* window, int emode = 7);
void TEDestroy(te* t);

// Translation tables of the record, each replaced by one loaded from the
// code-page file (an empty file name gives the built-in default of the
// kind).  SetEmOutCP with a file name also loads the Unicode tables once and
// derives TCS2Unicode.  The DEC table setters need both names.
void SetEmInCP(te* t, const char* file, const char* name);
void SetKbdCP(te* t, const char* file, const char* name);
void SetVidCP(te* t, const char* file, const char* name);
void SetEmOutCP(te* t, const char* file, const char* name);
void SetDECSGCP(te* t, const char* file, const char* name);
void SetDECMNCP(te* t, const char* file, const char* name);
void SetVT100SGCP(te* t, const char* file, const char* name);

// Emulation selection (errors 2088/2087 for numbers out of range).
int sl_emulate(te* t, int number);
int sl_charset(te* t, int set);
