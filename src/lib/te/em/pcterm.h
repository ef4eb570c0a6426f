// PC-term (the Wyse 60's PC personality, driven by tables of its states)
// and TTY (a plain teletype: no escape sequences at all).
#pragma once

#include <cstddef>

#include "te/terec.h"

extern const TEPROC pcterm_procs;
extern const TEPROC tty_procs;

// ---- PC-term (pcterm.cpp)
int pceminit(te* t, const char* name);
void pcemout(te* t, int byte);
void pcemwrite(te* t, const unsigned char* bytes, size_t length);
void pcemblk(te* t, int c);
int PCGetCharSet(te* t, int c);
int PCGetTCSChar(te* t, int c);
const char* pcemkey(te* t, int code);

// ---- TTY (tty.cpp)
int ttyeminit(te* t, const char* name);
void ttyemout(te* t, int byte);
void ttyemwrite(te* t, const unsigned char* bytes, size_t length);
void ttyemblk(te* t, int c);
const char* ttyemkey(te* t, int code);
