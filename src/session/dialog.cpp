// The dialog-script engine: runs a script's commands, collects its output
// and sends it at each flush, watches the host's output for the awaited
// text, and keeps the wait's and the script's deadlines.
//
// In a 3270 or 5250 session the host's records are not text: a wait there
// looks for the text on the screen after each record, and output is typed.
//
// Host output is matched byte for byte against the awaited text with its
// escapes expanded (so "^M", "\r" and "\x0d" all wait for a carriage return
// and a '"' in the text waits for a '"'); bytes of 128 and above compare as
// they are, so a UTF-8 text matches UTF-8 output.  The matcher keeps, for
// each length of text matched, the length still matched after a miss, so a
// byte costs constant time on average and the text may be as long as the
// script.
#include "dialog.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "app.h"
#include "hostname.h"
#include "lumdict.h"
#include "macro.h"
#include "platform.h"
#include "te/te.h"
#include "tetrace.h"

int64_t dlg_now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// ---- the escape notation ----

static int dlg_hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte a backslash escape stands for, starting at text[*i] (the
// character after the backslash); *i ends on the escape's last character.
// -1 for an escape that means nothing.
static int dlg_escape(std::string_view text, size_t* i) {
  const char c = text[*i];
  switch (c) {
    case 'b': case 'B': return '\b';
    case 'e': case 'E': return 0x1B;
    case 'f': case 'F': return '\f';
    case 'n': case 'N': return '\n';
    case 'r': case 'R': return '\r';
    case 't': case 'T': return '\t';
    case 'v': case 'V': return '\v';
    case '"': case '$': case '\'': case '-': case '\\': case '^': return static_cast<unsigned char>(c);
    case 'x': case 'X': {
      int value = -1;
      for (int k = 0; k < 2 && *i + 1 < text.size() && dlg_hex(text[*i + 1]) >= 0; k++, ++*i)
        value = (value < 0 ? 0 : value * 16) + dlg_hex(text[*i + 1]);
      return value;
    }
    default:
      break;
  }
  if (c < '0' || c > '7') return -1;
  int value = c - '0';
  for (int k = 1; k < 3 && *i + 1 < text.size() && text[*i + 1] >= '0' && text[*i + 1] <= '7'; k++, ++*i)
    value = value * 8 + (text[*i + 1] - '0');
  return value & 0xFF;
}

bool dlg_expand(std::string_view text, std::string* out) {
  out->clear();
  const size_t n = text.size();
  for (size_t i = 0; i < n; i++) {
    const char c = text[i];
    if (c == '^' || c == '\\') {
      if (++i >= n) {
        out->clear();
        return false;
      }
      const int byte = c == '^' ? (text[i] & 0x1F) : dlg_escape(text, &i);
      if (byte < 0) {
        out->clear();
        return false;
      }
      out->push_back(static_cast<char>(byte));
      continue;
    }
    out->push_back(c);
  }
  return true;
}

// ---- output ----

// Output goes to a character-mode host as it is; a 3270 or 5250 session
// types it instead (a carriage return is Enter).
static void dlg_send(app_s* app, const char* bytes, size_t length) {
  if (!length) return;
  if (app->emlib != EM_UNIX)
    app_macro_type_bytes(app, bytes, length);
  else
    app_bcomout(app, bytes, static_cast<int>(length));
}

// Sends the output collected so far (up to a cut) and empties it.  A text
// with an invalid escape sends nothing.
static void dlg_flush(app_s* app) {
  if (app->dialogOutbuf.empty()) return;
  std::string_view pending(app->dialogOutbuf);
  if (app->dialogOutCut != std::string::npos) pending = pending.substr(0, app->dialogOutCut);
  std::string bytes;
  if (dlg_expand(pending, &bytes))
    dlg_send(app, bytes.data(), bytes.size());
  else
    TE_Trace(TRACE_DIALOG, "dialog: output with an invalid escape not sent\n");
  app->dialogOutbuf.clear();
  app->dialogOutCut = std::string::npos;
}

// A credential from the platform and a carriage return, sent in one piece;
// only the carriage return without one.
static void dlg_send_credential(app_s* app, char* (*fetch)(app_s*)) {
  app->dialogState = DLG_FETCHING;
  char* value = fetch(app);
  app->dialogState = DLG_RUNNING;
  std::string line = value ? value : "";
  line.push_back('\r');
  dlg_send(app, line.data(), line.size());
  explicit_bzero(line.data(), line.size());
  if (value) {
    explicit_bzero(value, strlen(value));
    free(value);
  }
}

static std::string dlg_host_port(app_s* app) {
  if (!app->_dict) return "0";
  return std::to_string(app->_dict->intValueForKey(app->_conntype == 5 ? "sshport" : "port"));
}

static std::string dlg_host_name(app_s* app) {
  return app->_dict ? app_get_dictionary_hostname(*app->_dict) : std::string();
}

// ---- ending ----

static int dlg_end(app_s* app, DLG_END how, int result) {
  app->dialogState = DLG_IDLE;
  app->dialogEnd = how;
  app->dialogResult = result;
  app->dialogOutbuf.clear();
  app->dialogOutCut = std::string::npos;
  app->comwaitTimeout = 0;
  app_dialog_cancel_timeout(app);
  TE_Trace(TRACE_DIALOG, "dialog: ended (%d) with %d\n", how, result);
  return DLG_RUN_ENDED;
}

static int dlg_error(app_s* app, int number) {
  TE_Trace(TRACE_FAIL, "Error #%d (no strings file)\n", number);
  return dlg_end(app, DLG_END_ERROR, number);
}

// ---- waiting ----

// Makes `text` the awaited text: its escapes expanded (a text that does not
// expand is awaited as it stands), with the table of lengths after a miss.
static void dlg_set_wait_text(app_s* app, std::string_view text) {
  if (!dlg_expand(text, &app->matchBuf)) app->matchBuf.assign(text);
  const std::string& p = app->matchBuf;
  const size_t m = p.size();
  app->matchNext.assign(m + 1, 0);
  for (size_t i = 1, k = 0; i < m; i++) {
    while (k > 0 && p[i] != p[k]) k = app->matchNext[k];
    if (p[i] == p[k]) k++;
    app->matchNext[i + 1] = static_cast<uint32_t>(k);
  }
  app->dialogMatchPtr = 0;
}

// One host byte into the matcher; true when the awaited text is complete.
static bool dlg_match(app_s* app, unsigned char c) {
  const std::string& p = app->matchBuf;
  size_t q = app->dialogMatchPtr;
  while (q > 0 && static_cast<unsigned char>(p[q]) != c) q = app->matchNext[q];
  if (static_cast<unsigned char>(p[q]) == c) q++;
  if (q == p.size()) {
    app->dialogMatchPtr = 0;
    return true;
  }
  app->dialogMatchPtr = q;
  return false;
}

// Host bytes into the matcher (NUL bytes are ignored; bit 7 is dropped when
// the terminal masks parity).  The count of bytes up to and including the
// one that completes the awaited text, or 0 when none does.  While nothing
// of the text is matched, the scan skips to the next byte that could begin
// it.
static size_t dlg_scan(app_s* app, const unsigned char* bytes, size_t n, bool maskpar) {
  const unsigned char first = static_cast<unsigned char>(app->matchBuf[0]);
  for (size_t k = 0; k < n; k++) {
    if (app->dialogMatchPtr == 0 && !maskpar) {
      const void* hit = memchr(bytes + k, first, n - k);
      if (!hit) return 0;
      k = static_cast<size_t>(static_cast<const unsigned char*>(hit) - bytes);
    }
    const unsigned char c = maskpar ? (bytes[k] & 0x7F) : bytes[k];
    if (c && dlg_match(app, c)) return k + 1;
  }
  return 0;
}

static int dlg_execute(app_s* app, int c);

// The awaited text has been seen: the script goes on after it, unless its
// overall deadline has passed.  True when it goes on.
static bool dlg_seen(app_s* app) {
  app->dialogState = DLG_FOUND;
  app->comwaitTimeout = 0;
  app->dialogPtr = app->jtab;
  if (dlg_now_ms() >= app->dialogStopTime) {
    dlg_end(app, DLG_END_TIMEOUT, 2);
    return false;
  }
  app->dialogState = DLG_RUNNING;
  return true;
}

// A wait ran out of time: the script goes on after its last label, or ends.
static int dlg_timed_out(app_s* app) {
  app->comwaitTimeout = 0;
  if (!app->dialogLabel) return dlg_end(app, DLG_END_TIMEOUT, 2);
  TE_Trace(TRACE_DIALOG, "dialog: wait timed out, continuing after the label\n");
  app->dialogPtr = app->dialogLabel;
  app->dialogState = DLG_RUNNING;
  return dlg_execute(app, DLG_NO_CHAR);
}

// Starts the wait of the command at dialogPtr.  `c` is the byte that ended
// the previous wait in this run: the new wait sees it first.  The script
// stays running when there is nothing to wait for or `c` completes the text.
static void dlg_start_wait(app_s* app, int c) {
  const std::string& s = app->dialogString;
  const size_t begin = app->dialogPtr + 1;
  size_t close = s.find(static_cast<char>(DLG_CMD_WAIT), begin);
  if (close == std::string::npos) close = s.size();
  dlg_set_wait_text(app, std::string_view(s).substr(begin, close - begin));
  app->jtab = close < s.size() ? close + 1 : s.size();
  if (app->matchBuf.empty()) {  // nothing to wait for
    app->dialogPtr = app->jtab;
    return;
  }
  app_dialog_schedule_timeout(app, DLG_TICK_MS);
  app->comwaitTimeout = app->dialogTimeout > 0 ? dlg_now_ms() + app->dialogTimeout * 1000LL : 0;
  app->dialogState = DLG_WAITING;
  if (app->emlib != EM_UNIX) {
    // A 3270 or 5250 screen may already show it.
    if (app_macro_screen_shows(app, app->matchBuf)) dlg_seen(app);
  } else if (c > 0 && dlg_match(app, static_cast<unsigned char>(c))) {
    dlg_seen(app);
  }
}

// ---- running ----

// Runs commands from dialogPtr until the script waits, pauses or ends.
static int dlg_execute(app_s* app, int c) {
  const std::string& s = app->dialogString;
  while (app->dialogState == DLG_RUNNING) {
    if (app->dialogPtr >= s.size()) {
      dlg_flush(app);
      return dlg_end(app, DLG_END_SCRIPT, 0);
    }
    const size_t at = app->dialogPtr;
    const unsigned char b = static_cast<unsigned char>(s[at]);
    const size_t left = s.size() - at - 1;  // bytes after the command
    switch (b) {
      case DLG_CMD_END:
        dlg_flush(app);
        return dlg_end(app, DLG_END_SCRIPT, 0);
      case DLG_CMD_FLUSH:
      case DLG_CMD_FLUSH2:
        dlg_flush(app);
        break;
      case DLG_CMD_PORT: {
        dlg_flush(app);
        std::string port = dlg_host_port(app);
        dlg_send(app, port.data(), port.size());
        break;
      }
      case DLG_CMD_SECRET: {
        dlg_flush(app);
        const size_t close = s.find(static_cast<char>(DLG_CMD_SECRET), at + 1);
        if (close == std::string::npos) return dlg_error(app, DLG_ERR_UNCLOSED);
        std::string token = s.substr(at + 1, close - at - 1);
        char* value = app_macro_get_secure(app, token.c_str());
        if (value) {
          dlg_send(app, value, strlen(value));
          explicit_bzero(value, strlen(value));
          free(value);
        } else {
          TE_Trace(TRACE_FAIL, "Error #%d (no strings file)\n", DLG_ERR_SECRET);
        }
        app->dialogPtr = close;
        break;
      }
      case DLG_CMD_HOST: {
        dlg_flush(app);
        std::string host = dlg_host_name(app);
        dlg_send(app, host.data(), host.size());
        break;
      }
      case DLG_CMD_LITERAL:
        if (left < 1) return dlg_error(app, DLG_ERR_OPERAND);
        app->dialogOutbuf.push_back(s[at + 1]);
        app->dialogPtr++;
        break;
      case DLG_CMD_LABEL:
        if (left < 2) return dlg_error(app, DLG_ERR_OPERAND);
        app->dialogPtr += 2;
        app->dialogLabel = app->dialogPtr + 1;
        break;
      case DLG_CMD_NOP:
        break;
      case DLG_CMD_PASSWORD:
        dlg_flush(app);
        dlg_send_credential(app, app_macro_get_password);
        break;
      case DLG_CMD_EXIT: {
        dlg_flush(app);
        int result = 1;
        if (left >= 2) result = static_cast<unsigned char>(s[at + 2]) - '0';
        return dlg_end(app, DLG_END_EXIT, result);
      }
      case DLG_CMD_WAIT:
        dlg_flush(app);
        dlg_start_wait(app, c);
        continue;  // dialogPtr is already past the wait when the script goes on
      case DLG_CMD_TIMEOUT: {
        if (left < 2) return dlg_error(app, DLG_ERR_OPERAND);
        const char d1 = s[at + 1], d2 = s[at + 2];
        if (d1 < '0' || d1 > '9' || d2 < '0' || d2 > '9') return dlg_error(app, DLG_ERR_TIMEOUT_ARG);
        app->dialogTimeout = (d1 - '0') * 10 + (d2 - '0');
        app->dialogPtr += 2;
        break;
      }
      case DLG_CMD_USER:
        dlg_flush(app);
        dlg_send_credential(app, app_macro_get_username);
        break;
      case DLG_CMD_PAUSE:
        dlg_flush(app);
        app->dialogPtr++;
        app->dialogState = DLG_PAUSING;
        app_dialog_schedule_timeout(app, DLG_TICK_MS);
        return DLG_RUN_GOING;
      case DLG_CMD_CUT:
        if (app->dialogOutCut == std::string::npos) app->dialogOutCut = app->dialogOutbuf.size();
        break;
      default:
        app->dialogOutbuf.push_back(static_cast<char>(b));
        break;
    }
    // A command may have ended or suspended the script (a credential
    // fetched through a prompt lets other events in).
    if (app->dialogState == DLG_IDLE) return DLG_RUN_ENDED;
    app->dialogPtr++;
  }
  return app->dialogState == DLG_IDLE ? DLG_RUN_ENDED : DLG_RUN_GOING;
}

// ---- interface ----

int app_dialog_start(app_s* app, std::string_view script) {
  if (!app) return DLG_RUN_ENDED;
  app_dialog_stop(app);
  app->dialogString.assign(script);
  app->dialogPtr = 0;
  app->dialogLabel = 0;
  app->dialogOutbuf.clear();
  app->dialogOutCut = std::string::npos;
  app->matchBuf.clear();
  app->matchNext.clear();
  app->dialogMatchPtr = 0;
  app->dialogTimeout = DLG_DEFAULT_TIMEOUT;
  app->dialogStopTime = dlg_now_ms() + DLG_SCRIPT_SECONDS * 1000LL;
  app->comwaitTimeout = 0;
  app->dialogEnd = DLG_END_NONE;
  app->dialogResult = 0;
  app->dialogState = DLG_RUNNING;
  if (script.size() > DLG_MAX_SCRIPT) return dlg_error(app, DLG_ERR_TOO_LONG);
  return dlg_execute(app, DLG_NO_CHAR);
}

int app_dialog_feed(app_s* app, const unsigned char* bytes, size_t n, size_t* used) {
  *used = 0;
  if (!app) return DLG_RUN_ENDED;
  // The wait's deadline, once for the bytes of one read; the tick of a
  // waiting script checks it every second as well.
  if (app->dialogState == DLG_WAITING && app->comwaitTimeout && dlg_now_ms() >= app->comwaitTimeout &&
      dlg_timed_out(app) == DLG_RUN_ENDED)
    return DLG_RUN_ENDED;
  const bool maskpar = app->lpte && app->lpte->maskpar;
  size_t i = 0;
  while (i < n && app->dialogState == DLG_WAITING) {
    const size_t hit = dlg_scan(app, bytes + i, n - i, maskpar);
    if (!hit) {
      i = n;
      break;
    }
    i += hit;
    const int c = maskpar ? (bytes[i - 1] & 0x7F) : bytes[i - 1];
    if (!dlg_seen(app) || dlg_execute(app, c) == DLG_RUN_ENDED) {
      *used = i;
      return DLG_RUN_ENDED;
    }
  }
  if (app->dialogState == DLG_PAUSING) i = n;  // host output does not end a pause
  *used = i;
  return app->dialogState == DLG_IDLE ? DLG_RUN_ENDED : DLG_RUN_GOING;
}

int app_dialog_run(app_s* app, int c) {
  if (!app) return DLG_RUN_ENDED;
  switch (app->dialogState) {
    case DLG_WAITING:
      if (c == DLG_TICK) {
        if (app->comwaitTimeout && dlg_now_ms() >= app->comwaitTimeout) return dlg_timed_out(app);
        app_dialog_schedule_timeout(app, DLG_TICK_MS);
        return DLG_RUN_GOING;
      }
      if (c > 0 && c <= 0xFF) {
        const unsigned char byte = static_cast<unsigned char>(c);
        size_t used;
        return app_dialog_feed(app, &byte, 1, &used);
      }
      return DLG_RUN_GOING;
    case DLG_PAUSING:
      if (c != DLG_TICK) return DLG_RUN_GOING;
      app->dialogState = DLG_RUNNING;
      return dlg_execute(app, DLG_NO_CHAR);
    case DLG_RUNNING:
      return dlg_execute(app, DLG_NO_CHAR);
    default:
      return DLG_RUN_ENDED;
  }
}

int app_dialog_screen(app_s* app) {
  if (!app || app->dialogState != DLG_WAITING) return app && app->dialogState != DLG_IDLE ? DLG_RUN_GOING
                                                                                        : DLG_RUN_ENDED;
  if (app->comwaitTimeout && dlg_now_ms() >= app->comwaitTimeout) return dlg_timed_out(app);
  if (!app_macro_screen_shows(app, app->matchBuf)) return DLG_RUN_GOING;
  if (!dlg_seen(app)) return DLG_RUN_ENDED;
  return dlg_execute(app, DLG_NO_CHAR);
}

void app_dialog_stop(app_s* app) {
  if (!app) return;
  const bool running = app->dialogState != DLG_IDLE && !app->dialogString.empty();
  app_dialog_cancel_timeout(app);
  if (running) {
    app->dialogEnd = DLG_END_STOPPED;
    app->dialogResult = 0;
  }
  app->dialogState = DLG_IDLE;
  explicit_bzero(app->dialogString.data(), app->dialogString.size());
  app->dialogString.clear();
  app->dialogOutbuf.clear();
  app->matchBuf.clear();
  app->matchNext.clear();
  app->comwaitTimeout = 0;
}
