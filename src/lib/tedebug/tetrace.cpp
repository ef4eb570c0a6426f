// Trace facility: formatting, routing to standard error and the trace file,
// time stamps once per line, and hex dumps.
#include "tetrace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>

#include <algorithm>
#include <string>

#include "redact.h"

int g_nTraceRoute = 0;
uint32_t g_dwTraceMask = 0;
bool g_bTraceTime = false;
bool g_bRequireTime = true;

static char* g_szOutputFile = nullptr;
static FILE* g_traceFile = nullptr;
static const unsigned char* g_ebcdicToAscii = nullptr;

static void trace_close_file() {
  if (g_traceFile) {
    fclose(g_traceFile);
    g_traceFile = nullptr;
  }
}

static void trace_write_time(FILE* out) {
  time_t now = time(nullptr);
  struct tm tmv;
  localtime_r(&now, &tmv);
  fprintf(out, "%d-%02d-%02d %02d:%02d:%02d ", tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday,
          tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
}

// One piece of text to every route; a time stamp when a new line begins.
// Whatever a trace shows passes the redaction first: no password, secure
// value or whole session or device identifier reaches a route.
static void trace_output(const char* raw) {
  if (!*raw) return;
  std::string redacted = kvx_redact(raw);
  const char* text = redacted.c_str();
  size_t len = redacted.size();
  if (len == 0) return;
  if (g_nTraceRoute & (TRACE_ROUTE_STDERR | TRACE_ROUTE_STDERR2)) {
    if (g_bTraceTime && g_bRequireTime) trace_write_time(stderr);
    fputs(text, stderr);
  }
  if (g_nTraceRoute & TRACE_ROUTE_FILE) {
    if (!g_traceFile && g_szOutputFile) g_traceFile = fopen(g_szOutputFile, "a+");
    if (g_traceFile) {
      if (g_bTraceTime && g_bRequireTime) trace_write_time(g_traceFile);
      fputs(text, g_traceFile);
      fflush(g_traceFile);
    }
  }
  g_bRequireTime = text[len - 1] == '\n';
}

void TE_Trace_VA_NoLock(uint32_t mask, const char* format, va_list args) {
  if (!TE_Trace_Enabled(mask) || !format) return;
  char buf[4096];
  vsnprintf(buf, sizeof buf, format, args);
  trace_output(buf);
}

void TE_Trace_VA(uint32_t mask, const char* format, va_list args) {
  TE_Trace_VA_NoLock(mask, format, args);
}

void TE_Trace(uint32_t mask, const char* format, ...) {
  if (!TE_Trace_Enabled(mask)) return;
  va_list args;
  va_start(args, format);
  TE_Trace_VA_NoLock(mask, format, args);
  va_end(args);
}

void TE_Trace_Nolock(uint32_t mask, const char* format, ...) {
  if (!TE_Trace_Enabled(mask)) return;
  va_list args;
  va_start(args, format);
  TE_Trace_VA_NoLock(mask, format, args);
  va_end(args);
}

static void trace_dump(uint32_t mask, const char* prefix, const void* bytes, int length,
                       const unsigned char* table) {
  if (!TE_Trace_Enabled(mask)) return;
  bool savedTime = g_bTraceTime;
  g_bTraceTime = true;
  TE_Trace(mask, "%s: %d Bytes\n", prefix ? prefix : "", length);
  g_bTraceTime = false;
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  // One output per dump line: up to 16 "%02x " groups, the padding, the column.
  char line[16 * 3 + 1 + 16 + 2];
  char column[17];
  int used = 0, pos = 0;
  for (int i = 0; p && i < length; i++) {
    static const char hex[] = "0123456789abcdef";
    unsigned char c = table ? table[p[i]] : p[i];
    line[pos++] = hex[p[i] >> 4];
    line[pos++] = hex[p[i] & 15];
    line[pos++] = ' ';
    column[used++] = (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '.';
    if (used == 16 || i == length - 1) {
      column[used] = 0;
      for (int pad = used; pad < 16; pad++) pos += snprintf(line + pos, sizeof line - pos, "   ");
      snprintf(line + pos, sizeof line - pos, " %s\n", column);
      trace_output(line);
      used = pos = 0;
    }
  }
  g_bTraceTime = savedTime;
}

void TE_Trace_Data(uint32_t mask, const char* prefix, const void* bytes, int length) {
  trace_dump(mask, prefix, bytes, length, nullptr);
}

void TE_Trace_Data_EBC(uint32_t mask, const char* prefix, const void* bytes, int length) {
  static unsigned char identity[256];
  if (!g_ebcdicToAscii && identity[255] == 0)
    for (int i = 0; i < 256; i++) identity[i] = static_cast<unsigned char>(i);
  trace_dump(mask, prefix, bytes, length, g_ebcdicToAscii ? g_ebcdicToAscii : identity);
}

int TE_Trace_SetRoute(int route) {
  int old = g_nTraceRoute;
  g_nTraceRoute = route;
  trace_close_file();
  return old;
}

uint32_t TE_Trace_SetMask(uint32_t mask) {
  uint32_t old = g_dwTraceMask;
  g_dwTraceMask = mask;
  trace_close_file();
  return old;
}

int TE_Trace_Route() { return g_nTraceRoute; }
uint32_t TE_Trace_Mask() { return g_dwTraceMask; }

void TE_Trace_SetOutputFile(const char* name) {
  if (!name) return;
  trace_close_file();
  free(g_szOutputFile);
  g_szOutputFile = strdup(name);
}

bool TE_Trace_SetShowTraceTime(bool flag) {
  bool old = g_bTraceTime;
  g_bTraceTime = flag;
  return old;
}

bool TE_Trace_ShowTraceTime() { return g_bTraceTime; }

void TE_Trace_StackDump(uint32_t, int, int) {}

void TE_Trace_SetEbcdicTable(const unsigned char* ebcdicToAscii) { g_ebcdicToAscii = ebcdicToAscii; }

// ---- category names ----

namespace {

struct TraceCategory {
  const char* name;
  uint32_t mask;
};

// The facility's names for its categories.  Telnet options and TLS are
// traced with the host connections; the browser channel with "print".
constexpr TraceCategory kCategories[] = {
    {"comm", TRACE_COMM},         {"telnet", TRACE_CONNECT},  {"tls", TRACE_CONNECT},
    {"ssh", TRACE_SSH},           {"3270", TRACE_3270},       {"5250", TRACE_5250 | TRACE_3270_DS},
    {"macro", TRACE_MACRO},       {"dialog", TRACE_DIALOG},   {"channel", TRACE_PRINT},
    {"print", TRACE_PRINT},       {"keyboard", TRACE_KEYBOARD}, {"capture", TRACE_CAPTURE},
    {"session", TRACE_SESSION},   {"script", TRACE_SCRIPT},   {"fail", TRACE_FAIL},
    {"error", TRACE_FAIL},        {"failure", TRACE_FAIL},    {"temp", TRACE_TEMP},
    {"all", TRACE_ALL},
};

}  // namespace

bool TE_Trace_ParseCategories(const char* list, uint32_t* mask, const char** bad) {
  static char unknown[64];
  uint32_t m = 0;
  const char* p = list ? list : "";
  while (*p) {
    while (*p == ',' || *p == ' ' || *p == '\t') p++;
    const char* start = p;
    while (*p && *p != ',' && *p != ' ' && *p != '\t') p++;
    size_t len = (size_t)(p - start);
    if (!len) continue;
    bool found = false;
    for (const TraceCategory& c : kCategories) {
      if (strlen(c.name) == len && strncasecmp(c.name, start, len) == 0) {
        m |= c.mask;
        found = true;
        break;
      }
    }
    if (!found) {
      snprintf(unknown, sizeof unknown, "%.*s", (int)std::min(len, sizeof unknown - 1), start);
      if (bad) *bad = unknown;
      return false;
    }
  }
  *mask = m;
  return true;
}

const char* TE_Trace_CategoryNames() {
  return "comm, telnet, tls, ssh, 3270, 5250, macro, dialog, channel, keyboard, capture, session, script, "
         "print, fail, all";
}

const char* TE_Trace_OutputFile() {
  return g_szOutputFile;
}
