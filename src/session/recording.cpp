// Session recordings in the asciicast v2 format (see recording.h): the
// file and its header, output events with their time, the host stream
// made valid UTF-8 for the ANSI/VT family, and for the other emulations and
// block mode a shadow of the browsers' screen from which the changed cells
// are redrawn with cursor moves and SGR attributes.
#include "recording.h"

#include <endian.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "app.h"
#include "tcs_utf8.h"
#include "te/te.h"
#include "tetrace.h"

namespace {

constexpr uint64_t kUnknown = ~0ull;       // a shadow cell not known to the recording
constexpr size_t kFlushBytes = 64u << 10;  // buffered output written at this size ...
constexpr double kFlushSeconds = 0.5;      // ... or this long after the last write

struct Recorder {
  bool on = false;
  bool failed = false;
  std::string dir, label;
  int fd = -1;
  double start = 0;      // monotonic seconds at the header
  double lastFlush = 0;  // monotonic seconds of the last write
  std::string buffer;
  int width = 0, height = 0;  // the size last announced
  bool raw = false;           // the last output was the host's own stream
  std::string pending;        // an incomplete UTF-8 sequence of the host stream
  // Redraw state: the screen as the recording shows it.
  int rows = 0, cols = 0;
  std::vector<uint64_t> shadow;
  int atX = -1, atY = -1;   // where the recording's cursor stands, -1: unknown
  uint64_t sgr = kUnknown;  // the attributes in force in the recording
  int cursorX = -1, cursorY = -1;
  int cursorVisible = -1;
};

Recorder g;

double rec_now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// A recording holds valid UTF-8 only: surrogates and values beyond U+10FFFF
// are written as U+FFFD.
void rec_append_utf8(std::string& out, uint32_t cp) {
  TCSUtf8Append(out, cp, TCS_UTF8_REPLACE_SURROGATES);
}

// The ANSI/VT family, whose output a player understands as it is.
bool rec_vt_family(const app_s* app) {
  if (app->emlib != EM_UNIX) return false;
  switch (app->_emulation) {
    case 1:   // ANSI
    case 2:   // AT386
    case 5:   // ANSI
    case 10:  // VT100
    case 11:  // Linux console
    case 12:  // VT220
    case 13:  // VT220, 7 bits
    case 14:  // VT320
    case 15:  // VT320, 7 bits
    case 16:  // VT420
    case 30:  // xterm
      return true;
    default:
      return false;
  }
}

void rec_flush() {
  if (g.fd < 0 || g.buffer.empty()) return;
  size_t done = 0;
  while (done < g.buffer.size()) {
    ssize_t n = write(g.fd, g.buffer.data() + done, g.buffer.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      TE_Trace(TRACE_FAIL, "[%d] - Recording stopped: %s\n", static_cast<int>(getpid()), strerror(errno));
      close(g.fd);
      g.fd = -1;
      g.failed = true;
      break;
    }
  }
  g.buffer.clear();
  g.lastFlush = rec_now();
}

// The file and its header, with the first output.
bool rec_open(int width, int height) {
  if (g.fd >= 0) return true;
  if (!g.on || g.failed) return false;
  char stamp[32];
  time_t now = time(nullptr);
  struct tm tmv;
  localtime_r(&now, &tmv);
  strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tmv);
  const std::string path =
      g.dir + "/" + stamp + "-" + g.label + "-" + std::to_string(static_cast<int>(getpid())) + ".cast";
  g.fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (g.fd < 0) {
    TE_Trace(TRACE_FAIL, "[%d] - Recording off: cannot create %s: %s\n", static_cast<int>(getpid()),
             path.c_str(), strerror(errno));
    g.failed = true;
    return false;
  }
  g.start = rec_now();
  g.width = width > 0 ? width : 80;
  g.height = height > 0 ? height : 24;
  char header[256];
  snprintf(header, sizeof header,
           "{\"version\": 2, \"width\": %d, \"height\": %d, \"timestamp\": %lld, \"title\": %s, \"env\": "
           "{\"TERM\": \"xterm-256color\"}}\n",
           g.width, g.height, static_cast<long long>(now),
           kvx_record_json_string("Kavrix session " + g.label).c_str());
  g.buffer += header;
  rec_flush();
  return g.fd >= 0;
}

void rec_event(const char* type, const std::string& text) {
  char head[48];
  snprintf(head, sizeof head, "[%.6f, \"%s\", ", rec_now() - g.start, type);
  g.buffer += head;
  g.buffer += kvx_record_json_string(text);
  g.buffer += "]\n";
  if (g.buffer.size() >= kFlushBytes || rec_now() - g.lastFlush >= kFlushSeconds) rec_flush();
}

// Opens the file if need be and announces a new size.
bool rec_size(int width, int height) {
  if (!rec_open(width, height)) return false;
  if (width > 0 && height > 0 && (width != g.width || height != g.height)) {
    g.width = width;
    g.height = height;
    rec_event("r", std::to_string(width) + "x" + std::to_string(height));
  }
  return true;
}

const int kPcToAnsi[8] = {0, 4, 2, 6, 1, 5, 3, 7};

void rec_move(std::string& out, int x, int y) {
  if (g.atX == x && g.atY == y) return;
  char cup[32];
  snprintf(cup, sizeof cup, "\x1b[%d;%dH", y + 1, x + 1);
  out += cup;
  g.atX = x;
  g.atY = y;
}

}  // namespace

std::string kvx_record_json_string(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string kvx_record_utf8(const unsigned char* bytes, size_t n, bool utf8, std::string& pending) {
  std::string out;
  if (!utf8) {
    // One byte, one character (ISO 8859-1, C1 controls included).
    for (size_t i = 0; i < n; i++) rec_append_utf8(out, bytes[i]);
    return out;
  }
  std::string data = pending;
  data.append(reinterpret_cast<const char*>(bytes), n);
  pending.clear();
  const unsigned char* begin = reinterpret_cast<const unsigned char*>(data.data());
  const unsigned char* end = begin + data.size();
  const unsigned char* p = begin;
  while (p < end) {
    // Well-formed sequences go as they are; an ill-formed piece becomes
    // U+FFFD (overlong forms, surrogates and values above U+10FFFF too).
    uint32_t cp;
    const int n = TCSUtf8Scan(p, end, &cp);
    if (n > 0) {
      out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
      p += n;
    } else if (n < 0) {
      rec_append_utf8(out, TCS_UTF8_REPLACEMENT);
      p += -n;
    } else {  // the rest comes with the next read
      pending = data.substr(static_cast<size_t>(p - begin));
      break;
    }
  }
  return out;
}

std::string kvx_record_cell_text(uint64_t cell, uint64_t* sgrState) {
  std::string out;
  const uint64_t look = cell & (CA_COMBO | CA_COLOR);
  if (look != *sgrState) {
    *sgrState = look;
    out += "\x1b[0";
    if (cell & CA_BOLD) out += ";1";
    if (cell & CA_UNDER) out += ";4";
    if (cell & CA_BLINK) out += ";5";
    if (cell & CA_REV) out += ";7";
    const unsigned colour = ca_colorbyte(cell);
    if (colour != 0xFF) {
      const unsigned fg = colour & 0xF, bg = colour >> 4;
      char colours[32];
      snprintf(colours, sizeof colours, ";%d;%d", (fg >= 8 ? 90 : 30) + kPcToAnsi[fg & 7],
               (bg >= 8 ? 100 : 40) + kPcToAnsi[bg & 7]);
      out += colours;
    }
    out += "m";
  }
  uint32_t cp = (cell & CA_CHANNEL) ? ca_unicode(cell) : static_cast<uint32_t>(cell & CA_CHAR);
  if ((cell & CA_INVIS) || cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) cp = ' ';
  rec_append_utf8(out, cp);
  return out;
}

void kvx_record_start(const std::string& dir, const std::string& label) {
  g = Recorder();
  g.on = !dir.empty();
  g.dir = dir;
  g.label = label;
}

void kvx_record_host(app_s* app, const unsigned char* bytes, size_t n) {
  if (!g.on || g.failed || !n || !app || !rec_vt_family(app)) return;
  te* t = app->lpte;
  if (!rec_size(t ? t->vcols : 0, t ? t->vlines : 0)) return;
  if (!g.raw) {
    // From redraws back to the host's stream: the stream draws what it
    // draws, the shadow no longer knows the screen.
    g.raw = true;
    g.pending.clear();
  }
  const std::string text = kvx_record_utf8(bytes, n, t && t->MBMode == 1, g.pending);
  if (!text.empty()) rec_event("o", text);
}

void kvx_record_update(app_s* app, const char* header, const void* cells, size_t bytes) {
  if (!g.on || g.failed || !app || !header || rec_vt_family(app)) return;
  int l, b, r, t;
  if (sscanf(header, "%d:%d:%d:%d", &l, &b, &r, &t) != 4 || l < 0 || t < 0 || r < l || b < t) return;
  const size_t width = static_cast<size_t>(r - l + 1), count = width * static_cast<size_t>(b - t + 1);
  if (count * 8 > bytes || r >= TE_MAXCOLS * 4 || b >= TE_MAXLINES * 4) return;
  int cols = g.cols, rows = g.rows;
  if (app->emlib == EM_UNIX && app->lpte) {
    cols = app->lpte->vcols;
    rows = app->lpte->vlines;
  }
  if (r + 1 > cols) cols = r + 1;
  if (b + 1 > rows) rows = b + 1;
  if (!rec_size(cols, rows)) return;
  if (cols != g.cols || rows != g.rows || g.raw) {
    g.cols = cols;
    g.rows = rows;
    g.shadow.assign(static_cast<size_t>(cols) * static_cast<size_t>(rows), kUnknown);
    g.atX = g.atY = -1;
    g.sgr = kUnknown;
    g.raw = false;
  }
  const unsigned char* p = static_cast<const unsigned char*>(cells);
  std::string out;
  for (int y = t; y <= b; y++) {
    for (int x = l; x <= r; x++, p += 8) {
      uint64_t cell;
      memcpy(&cell, p, 8);
      cell = le64toh(cell);
      uint64_t& known =
          g.shadow[static_cast<size_t>(y) * static_cast<size_t>(g.cols) + static_cast<size_t>(x)];
      if (cell == known) continue;
      known = cell;
      if (cell == 0) {  // the right half of a double-width character
        g.atX = -1;
        continue;
      }
      rec_move(out, x, y);
      out += kvx_record_cell_text(cell, &g.sgr);
      // After a double-width character, or at the last column, where the
      // cursor stands next is the terminal's business: the next cell moves.
      const bool wide = x < r && memcmp(p + 8, "\0\0\0\0\0\0\0\0", 8) == 0;
      g.atX = wide || x + 1 >= g.cols ? -1 : x + 1;
    }
  }
  if (out.empty()) return;
  if (g.cursorX >= 0) rec_move(out, g.cursorX, g.cursorY);
  rec_event("o", out);
}

void kvx_record_cursor(app_s* app, const char* position, bool visible) {
  if (!g.on || g.failed || !app || !position || rec_vt_family(app) || g.fd < 0) return;
  int x, y;
  if (sscanf(position, "%d:%d", &x, &y) != 2 || x < 0 || y < 0) return;
  std::string out;
  if (x != g.cursorX || y != g.cursorY) {
    g.cursorX = x;
    g.cursorY = y;
    rec_move(out, x, y);
  }
  if (static_cast<int>(visible) != g.cursorVisible) {
    g.cursorVisible = visible;
    out += visible ? "\x1b[?25h" : "\x1b[?25l";
  }
  if (!out.empty()) rec_event("o", out);
}

void kvx_record_stop() {
  rec_flush();
  if (g.fd >= 0) close(g.fd);
  g.fd = -1;
}
