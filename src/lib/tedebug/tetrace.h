// Trace facility: categorised diagnostic lines and hex dumps for every
// subsystem of both process roles.  A call produces output only when its
// category shares a bit with the enabled mask and at least one route is set.
#pragma once

#include <cstdarg>
#include <cstdint>

// Output routes (bits of g_nTraceRoute).
enum : int {
  TRACE_ROUTE_STDERR = 0x2,
  TRACE_ROUTE_FILE = 0x4,
  TRACE_ROUTE_STDERR2 = 0x8,
};

// Category bits (bits of g_dwTraceMask).
enum : uint32_t {
  TRACE_COMM_IN = 0x1,
  TRACE_COMM_OUT = 0x2,
  TRACE_COMM = 0x3,
  TRACE_DIALOG = 0x4,
  TRACE_5250 = 0x10,
  TRACE_FAIL = 0x40,
  TRACE_FONT = 0x80,
  TRACE_KEYBOARD = 0x300,
  TRACE_CONNECT = 0x800,
  TRACE_CAPTURE = 0x1000,
  TRACE_PRINT = 0x2000,
  TRACE_SSH = 0x4000,
  TRACE_3270_OUT = 0x8000,
  TRACE_FONTDRAW = 0x20000,
  TRACE_SESSION = 0x40000,
  TRACE_3270_DEBUG = 0x80000,
  TRACE_3270_DS = 0x100000,
  TRACE_3270 = 0x188000,
  TRACE_MACRO = 0x200000,
  TRACE_SCRIPT = 0x10000000,
  TRACE_DEBUGFMT = 0x20000000,
  TRACE_TEMP = 0x40000000,
  TRACE_ALL = 0x7fffffff,
};

extern int g_nTraceRoute;
extern uint32_t g_dwTraceMask;
extern bool g_bTraceTime;
extern bool g_bRequireTime;

// True when a trace of this category would be written.
inline bool TE_Trace_Enabled(uint32_t mask) {
  return g_nTraceRoute != 0 && (mask & g_dwTraceMask) != 0;
}

void TE_Trace(uint32_t mask, const char* format, ...) __attribute__((format(printf, 2, 3)));
void TE_Trace_VA(uint32_t mask, const char* format, va_list args) __attribute__((format(printf, 2, 0)));
void TE_Trace_Nolock(uint32_t mask, const char* format, ...) __attribute__((format(printf, 2, 3)));
void TE_Trace_VA_NoLock(uint32_t mask, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));

// Hex dump with a 16-character printable column.  The EBCDIC variant shows
// the column through the EBCDIC-to-ASCII table installed with
// TE_Trace_SetEbcdicTable (identity until the character sets install theirs).
void TE_Trace_Data(uint32_t mask, const char* prefix, const void* bytes, int length);
void TE_Trace_Data_EBC(uint32_t mask, const char* prefix, const void* bytes, int length);

int TE_Trace_SetRoute(int route);
uint32_t TE_Trace_SetMask(uint32_t mask);
int TE_Trace_Route();
uint32_t TE_Trace_Mask();
void TE_Trace_SetOutputFile(const char* name);
// The trace file's name, null when none was set.
const char* TE_Trace_OutputFile();
bool TE_Trace_SetShowTraceTime(bool flag);
bool TE_Trace_ShowTraceTime();
void TE_Trace_StackDump(uint32_t mask, int maxFrames, int skipFrames);

// The categories named in a list ("comm,telnet,3270", blanks and commas
// between names, case ignored): comm, telnet, tls, ssh, 3270, 5250, macro,
// dialog, channel, keyboard, capture, session, script, print, fail and
// all.  False (and *bad the first unknown name) when a name is unknown.
bool TE_Trace_ParseCategories(const char* list, uint32_t* mask, const char** bad = nullptr);
// The names of TE_Trace_ParseCategories, one line, for a usage text.
const char* TE_Trace_CategoryNames();

// The EBCDIC-to-ASCII table the EBCDIC dump uses (256 entries, not copied;
// the caller keeps it alive).  A null table restores the identity.
void TE_Trace_SetEbcdicTable(const unsigned char* ebcdicToAscii);
