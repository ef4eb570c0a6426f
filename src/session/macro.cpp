// Macro playback: the macro's text (from the settings or a file of the
// macro directory), its line reader and records, the dialog scripts it
// compiles and runs in order, its waits for screens, the dialog scripts'
// timer on the event loop, and the screen test of screen-text waits.
#include "macro.h"

#include <event2/event.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app.h"
#include "blockmode.h"
#include "dialog.h"
#include "fws/fws.h"
#include "keyboard.h"
#include "platform.h"
#include "tcs_utf8.h"
#include "te/te.h"
#include "tetrace.h"

// ---- the dialog scripts' timer ----

static void mac_dialog_ended(app_s* app);

static void mac_tick_cb(evutil_socket_t, short, void* arg) {
  app_s* app = static_cast<app_s*>(arg);
  if (app_dialog_run(app, DLG_TICK) == DLG_RUN_ENDED) mac_dialog_ended(app);
}

void app_dialog_schedule_timeout(app_s* app, int ms) {
  if (!app || !app->evbase) return;
  if (!app->macroTimer) app->macroTimer = evtimer_new(app->evbase, mac_tick_cb, app);
  if (!app->macroTimer) return;
  timeval after = {ms / 1000, (ms % 1000) * 1000};
  evtimer_add(app->macroTimer, &after);  // replaces a tick still pending
}

void app_dialog_cancel_timeout(app_s* app) {
  if (app && app->macroTimer) evtimer_del(app->macroTimer);
}

// ---- macro files ----

static bool mac_plain_name(const std::string& name) {
  if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c == '/' || c < 0x20 || c == 0x7F) return false;
  return true;
}

int mac_read_file(const std::string& directory, const std::string& name, std::string* text) {
  text->clear();
  if (directory.empty() || !mac_plain_name(name)) return -1;
  const std::string path = directory + "/" + name;
  // Not through a link (it could lead out of the directory), and without
  // waiting on a FIFO or a device.
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return -1;
    TE_Trace(TRACE_FAIL, "%s: macro file %s refused: %s\n", "app_macro_playback", name.c_str(), strerror(errno));
    return -2;
  }
  struct stat st;
  const char* refusal = nullptr;
  if (fstat(fd, &st) != 0)
    refusal = "cannot be examined";
  else if (!S_ISREG(st.st_mode))
    refusal = "not a regular file";
  else if (static_cast<size_t>(st.st_size) > MAC_MAX_TEXT)
    refusal = "too large";
  if (!refusal) {
    text->resize(MAC_MAX_TEXT + 1);
    size_t got = 0;
    while (got < text->size()) {
      ssize_t n = read(fd, text->data() + got, text->size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        refusal = "cannot be read";
        break;
      }
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    if (!refusal && got > MAC_MAX_TEXT) refusal = "too large";  // it grew meanwhile
    text->resize(refusal ? 0 : got);
  }
  close(fd);
  if (refusal) {
    TE_Trace(TRACE_FAIL, "%s: macro file %s refused: %s\n", "app_macro_playback", name.c_str(), refusal);
    return -2;
  }
  return 0;
}

// ---- typing ----

// The next code point of UTF-8 text, read by the loose rule (any
// continuation bytes after a lead); a byte that starts no whole sequence
// stands for itself.
static uint32_t mac_next_code_point(const unsigned char*& p, const unsigned char* end) {
  uint32_t cp;
  const int n = TCSUtf8Scan(p, end, &cp, TCS_UTF8_LOOSE);
  if (n > 0) {
    p += n;
    return cp;
  }
  return *p++;
}

// Types a text key by key: characters beyond the 16-bit key space as their
// surrogate pair.
void app_macro_type_bytes(app_s* app, const char* text, size_t length) {
  if (!app || !text) return;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* end = p + length;
  while (p < end) {
    uint32_t cp = mac_next_code_point(p, end);
    if (cp > 0xFFFF) {
      cp -= 0x10000;
      _app_onkey(app, static_cast<int>(0xD800 + (cp >> 10)), true);
      _app_onkey(app, static_cast<int>(0xDC00 + (cp & 0x3FF)), true);
    } else {
      _app_onkey(app, static_cast<int>(cp), true);
    }
  }
}

static void mac_type_text(app_s* app, const char* text) {
  if (text) app_macro_type_bytes(app, text, strlen(text));
}

// Types a value the platform hands over, then wipes it.
static void mac_type_secret(app_s* app, char* value) {
  if (!value) return;
  mac_type_text(app, value);
  explicit_bzero(value, strlen(value));
  free(value);
}

// ---- the screen test ----

// The block-mode screen: its window, rows counted from the bottom there.
static int mac_match_block(app_s* app, int x, int y, const char* text) {
  BlockEngine* engine = app_block_engine(app);
  const fws_window* w = engine ? engine->window() : nullptr;
  if (!w || y < 0 || y >= w->wndsize.y || x < 0 || x >= w->wndsize.x) return 0;
  const int row = w->wndsize.y - y - 1;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* end = p + strlen(text);
  for (int col = x; p < end; col++) {
    const uint32_t want = mac_next_code_point(p, end);
    if (col >= w->wndsize.x) return 0;
    uint32_t have = fws_charat(w, row, col);
    if (have == 0) have = ' ';  // a null shows as a blank
    if (have != want) return 0;
  }
  return 1;
}

// A row of the block-mode window as UTF-8 (nulls as blanks).
static std::string mac_block_row(const fws_window* w, int row) {
  std::string s;
  for (int col = 0; col < w->wndsize.x; col++) {
    uint32_t cp = fws_charat(w, row, col);
    if (cp == 0) cp = ' ';
    TCSUtf8Append(s, cp);
  }
  return s;
}

bool app_macro_screen_shows(app_s* app, const std::string& text) {
  BlockEngine* engine = app && app->emlib != EM_UNIX ? app_block_engine(app) : nullptr;
  const fws_window* w = engine ? engine->window() : nullptr;
  if (!w || text.empty()) return false;
  for (int row = 0; row < w->wndsize.y; row++)
    if (mac_block_row(w, row).find(text) != std::string::npos) return true;
  return false;
}

int app_macro_match_string(app_s* app, int x, int y, const char* text) {
  if (!app || !text) return 0;
  if (app->emlib != EM_UNIX) return mac_match_block(app, x, y, text);
  te* t = app->lpte;
  if (!t || y < 0 || y >= t->vlines || x < 0 || x >= t->vcols || !t->_vscreen[y]) return 0;
  const CHATTR* row = t->_vscreen[y];
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* end = p + strlen(text);
  int col = x;
  while (p < end) {
    const uint32_t want = mac_next_code_point(p, end);
    while (col < t->vcols && row[col] == 0) col++;  // the right half of a wide character
    if (col >= t->vcols) return 0;
    uint32_t have = vid_cell_unicode(t, row[col++]);
    if (have == 0) have = ' ';
    if (have != want) return 0;
  }
  return 1;
}

// ---- the line reader ----

enum { MAC_LINE_END = 0, MAC_LINE = 1, MAC_LINE_TOO_LONG = -1 };

// The next line of the macro text: it ends at the first CR or LF, and one
// further CR or LF right after belongs to the same line end.  A line longer
// than MAC_MAX_LINE with its line end is refused.
static int mac_read_line(app_s* app, std::string_view* line) {
  const std::string& s = app->macroString;
  size_t at = app->macroLinePtr;
  if (at >= s.size()) return MAC_LINE_END;
  size_t stop = s.find_first_of("\r\n", at);
  size_t next = stop == std::string::npos ? s.size() : stop + 1;
  if (stop != std::string::npos && next < s.size() && (s[next] == '\r' || s[next] == '\n')) next++;
  if (next - at > MAC_MAX_LINE) {
    TE_Trace(TRACE_FAIL, "%s: Line size (%d) too small to hold line of size (%d)\n", "app_macro_continue",
             static_cast<int>(MAC_MAX_LINE), static_cast<int>(next - at));
    return MAC_LINE_TOO_LONG;
  }
  *line = std::string_view(s).substr(at, (stop == std::string::npos ? s.size() : stop) - at);
  app->macroLinePtr = next;
  return MAC_LINE;
}

// The arguments of a line: tokens separated by any number of spaces.
struct mac_args {
  std::string_view rest;
  std::string_view token() {
    size_t b = rest.find_first_not_of(' ');
    if (b == std::string_view::npos) {
      rest = {};
      return {};
    }
    rest.remove_prefix(b);
    size_t e = rest.find(' ');
    std::string_view t = rest.substr(0, e);
    rest.remove_prefix(e == std::string_view::npos ? rest.size() : e);
    return t;
  }
  int number() {
    std::string t(token());
    return atoi(t.c_str());
  }
  std::string_view remainder() {
    size_t b = rest.find_first_not_of(' ');
    return b == std::string_view::npos ? std::string_view() : rest.substr(b);
  }
};

// Dialog text: control bytes in a text to send or await would be taken as
// commands; they go in the caret notation, which stands for the same byte.
static void mac_append_text(std::string* dialog, std::string_view text) {
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20) {
      dialog->push_back('^');
      dialog->push_back(static_cast<char>(b + 64));
    } else {
      dialog->push_back(c);
    }
  }
}

// ---- playback ----

static void mac_release_wait(app_s* app) {
  app->macroWait.reset();
}

// Records that act on the session itself; dialog text before them runs
// first.
static bool mac_acts_directly(char type, bool dialogMacro) {
  switch (type) {
    case 'k':
    case 'c':
    case 'h':
    case 'a':
      return true;
    case 's':
    case 'u':
    case 'p':
      return !dialogMacro;
    default:
      return false;
  }
}

// Handles one line; false when it stopped playback.
static bool mac_handle_line(app_s* app, std::string_view line, std::string* dialog) {
  if (line.empty()) return true;
  const char type = line[0];
  mac_args args{line.substr(1)};
  switch (type) {
    case 'E':
      if (args.number() != 0) app->macroDialog = true;
      break;
    case 'k':
      _app_onkey(app, args.number(), true);
      break;
    case 'c': {
      const int col = args.number();
      const int row = args.number();
      // The block-mode cursor; a character-mode host moves its own.
      if (app->emlib != EM_UNIX)
        app_mouse_press(app, -1, col, row);
      else
        TE_Trace(TRACE_MACRO, "%s: cursor to %d,%d ignored in this mode\n", "app_macro_continue", col, row);
      break;
    }
    case 'h': {
      std::string_view hash = args.token();
      if (hash.empty()) break;  // no screen to wait for
      if (hash.size() > 36) hash = hash.substr(0, 36);
      memcpy(app->macroWaitingForHash, hash.data(), hash.size());
      app->macroWaitingForHash[hash.size()] = 0;
      app->macroState = MAC_WAITING;
      mac_release_wait(app);
      break;
    }
    case 'a': {
      MacroWait wait;
      wait.x = args.number();
      wait.y = args.number();
      wait.matchString.assign(args.remainder());
      app->macroState = MAC_WAITING;
      app->macroWaitingForHash[0] = 0;
      app->macroWait = std::move(wait);
      if (app_macro_match_string(app, app->macroWait->x, app->macroWait->y,
                                 app->macroWait->matchString.c_str())) {
        app->macroState = MAC_READING;
        mac_release_wait(app);
      }
      break;
    }
    case 's': {
      std::string token(args.remainder());
      if (app->macroDialog) {
        dialog->push_back(static_cast<char>(DLG_CMD_SECRET));
        for (char c : token)  // a token never holds the command byte; drop it if one does
          if (c != static_cast<char>(DLG_CMD_SECRET)) dialog->push_back(c);
        dialog->push_back(static_cast<char>(DLG_CMD_SECRET));
      } else {
        mac_type_secret(app, app_macro_get_secure(app, token.c_str()));
      }
      break;
    }
    case 'u':
      if (app->macroDialog)
        dialog->push_back(static_cast<char>(DLG_CMD_USER));
      else
        mac_type_secret(app, app_macro_get_username(app));
      break;
    case 'p':
      if (app->macroDialog)
        dialog->push_back(static_cast<char>(DLG_CMD_PASSWORD));
      else
        mac_type_secret(app, app_macro_get_password(app));
      break;
    case 'w':
      app->macroDialog = true;
      dialog->push_back(static_cast<char>(DLG_CMD_WAIT));
      mac_append_text(dialog, args.remainder());
      dialog->push_back(static_cast<char>(DLG_CMD_WAIT));
      break;
    case 't':
      app->macroDialog = true;
      mac_append_text(dialog, args.remainder());
      break;
    case 'n': {
      app->macroDialog = true;
      int count = args.number();
      if (count > MAC_MAX_PAUSE) count = MAC_MAX_PAUSE;
      if (count > 0) dialog->append(static_cast<size_t>(count), static_cast<char>(DLG_CMD_PAUSE));
      break;
    }
    default:  // T, H, L, K, e and unknown records
      break;
  }
  if (dialog->size() > DLG_MAX_SCRIPT) {
    TE_Trace(TRACE_FAIL, "%s: dialog text longer than %zu bytes\n", "app_macro_continue", DLG_MAX_SCRIPT);
    app_macro_stop_playback(app);
    return false;
  }
  return true;
}

void app_macro_continue(app_s* app) {
  if (!app) return;
  if (app->macroString.empty()) {
    app->macroState = MAC_IDLE;
    return;
  }
  while (app->macroState == MAC_READING) {
    std::string dialog;
    for (;;) {
      const size_t lineStart = app->macroLinePtr;
      std::string_view line;
      int r = mac_read_line(app, &line);
      if (r == MAC_LINE_TOO_LONG) {
        app_macro_stop_playback(app);
        return;
      }
      if (r == MAC_LINE_END) break;
      if (!line.empty() && !dialog.empty() && mac_acts_directly(line[0], app->macroDialog)) {
        app->macroLinePtr = lineStart;  // after the dialog text before it
        break;
      }
      // A copy: what a line does may end playback and free the text.
      const std::string copy(line);
      if (!mac_handle_line(app, copy, &dialog)) return;
      if (app->macroState == MAC_IDLE) return;
      if (app->macroState == MAC_WAITING) break;
    }
    if (!dialog.empty()) {
      app->macroState = MAC_IN_DIALOG;
      const int r = app_dialog_start(app, dialog);
      explicit_bzero(dialog.data(), dialog.size());
      if (r == DLG_RUN_GOING) return;
      // On with the lines, unless the script has stopped playback.
      if (app->macroState == MAC_IN_DIALOG) app->macroState = MAC_READING;
      if (app->dialogEnd != DLG_END_SCRIPT && app->dialogEnd != DLG_END_EXIT) {
        TE_Trace(TRACE_MACRO, "%s: dialog ended (%d) with %d, playback stops\n", "app_macro_continue",
                 app->dialogEnd, app->dialogResult);
        app_macro_stop_playback(app);
        return;
      }
      continue;  // on with the lines after the dialog text
    }
    if (app->macroState == MAC_WAITING) return;
    TE_Trace(TRACE_MACRO, "%s: macro playback done\n", "app_macro_continue");
    app_macro_stop_playback(app);
    return;
  }
}

// A dialog script of the macro has ended after host output or a tick.
static void mac_dialog_ended(app_s* app) {
  if (app->macroState != MAC_IN_DIALOG) return;
  app->macroState = MAC_READING;
  if (app->dialogEnd == DLG_END_SCRIPT || app->dialogEnd == DLG_END_EXIT) {
    app_macro_continue(app);
    return;
  }
  TE_Trace(TRACE_MACRO, "%s: dialog ended (%d) with %d, playback stops\n", "app_macro_continue", app->dialogEnd,
           app->dialogResult);
  app_macro_stop_playback(app);
}

// Forgets the macro: its text, read position, state, kind and waits.
static void mac_reset(app_s* app) {
  app->macroFile.clear();
  app->macroString.clear();
  app->macroLinePtr = 0;
  app->macroState = MAC_IDLE;
  app->macroDialog = false;
  app->macroWaitingForHash[0] = 0;
  mac_release_wait(app);
}

bool app_macro_playing(const app_s* app) {
  return app && app->macroState != MAC_IDLE;
}

bool app_macro_waiting(const app_s* app) {
  return app && app->macroState == MAC_WAITING;
}

void app_macro_playback(app_s* app, const char* macro) {
  if (!app) return;
  if (app->macroState != MAC_IDLE || !app->macroString.empty()) app_macro_stop_playback(app);
  if (!macro || !*macro) {
    app_macro_stop_playback(app);
    return;
  }
  std::string text, file;
  char* directory = app_get_macro_directory();
  const int r = mac_read_file(directory ? directory : "", macro, &text);
  free(directory);
  if (r == -2) {
    app_macro_stop_playback(app);
    return;
  }
  if (r == 0) {
    file = macro;
  } else if (strlen(macro) > MAC_MAX_TEXT) {
    TE_Trace(TRACE_FAIL, "%s: macro text longer than %zu bytes refused\n", "app_macro_playback", MAC_MAX_TEXT);
    app_macro_stop_playback(app);
    return;
  } else {
    text = macro;
  }
  if (text.empty()) {
    app_macro_stop_playback(app);
    return;
  }
  mac_reset(app);
  app->macroFile = file;
  app->macroString = std::move(text);
  app->macroState = MAC_READING;
  app_macro_will_start_playback(app);
  app_macro_continue(app);
}

void app_macro_playback_continue_with_hash(app_s* app, const char* hash) {
  if (!app || app->macroState != MAC_WAITING) return;
  if (app->macroWaitingForHash[0]) {
    if (!hash || strcmp(hash, app->macroWaitingForHash) != 0) return;
    app->macroWaitingForHash[0] = 0;
  } else if (app->macroWait) {
    if (!app_macro_match_string(app, app->macroWait->x, app->macroWait->y, app->macroWait->matchString.c_str()))
      return;
    mac_release_wait(app);
  } else {
    return;
  }
  app->macroState = MAC_READING;
  app_macro_continue(app);
}

void app_macro_stop_playback(app_s* app) {
  if (!app) return;
  const bool wasPlaying = app->macroState != MAC_IDLE || !app->macroString.empty();
  app_dialog_stop(app);
  mac_reset(app);
  if (wasPlaying) app_macro_did_finish_playback(app);
}

void app_macro_host_data(app_s* app, const unsigned char* bytes, size_t length) {
  if (!app || app->macroState == MAC_IDLE) return;
  // A script that ends within the bytes leaves the rest to the macro's next
  // script, if its lines start one.
  size_t i = 0;
  while (i < length && app->macroState == MAC_IN_DIALOG) {
    size_t used = 0;
    const int r = app_dialog_feed(app, bytes + i, length - i, &used);
    i += used;
    if (r != DLG_RUN_ENDED) break;
    mac_dialog_ended(app);
  }
  // A macro waiting for screen text looks at the screen the bytes made.
  if (app->macroState == MAC_WAITING && !app->macroWaitingForHash[0] && app->macroWait)
    app_macro_playback_continue_with_hash(app, nullptr);
}

void app_macro_block_record(app_s* app, const char* hash) {
  if (!app) return;
  if (app->_autologin) {
    app->_autologin = false;
    app_macro_playback(app, app->_autologinMacroHash.c_str());
  }
  // A dialog script waits for text on the screen; the macro may then wait
  // for this very screen.
  if (app->macroState == MAC_IN_DIALOG && app_dialog_screen(app) == DLG_RUN_ENDED) mac_dialog_ended(app);
  if (app->macroState != MAC_IDLE) app_macro_playback_continue_with_hash(app, hash);
}
