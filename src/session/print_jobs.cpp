// Host printing collected into print jobs (see print_jobs.h).
#include "print_jobs.h"

#include <event2/event.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "app.h"
#include "blockmode.h"
#include "capabilities.h"
#include "channel_actions.h"
#include "file_store.h"
#include "fws/fws_cell.h"
#include "lumdict.h"
#include "print_pdf.h"
#include "te/terec.h"
#include "tetrace.h"
#include "vid/vtext.h"

namespace {

enum JobKind { JOB_NONE, JOB_CONTROLLER, JOB_LINES };

struct PrintDir {
  std::string dir;
  std::string label;
};

PrintDir& pj_dir() {
  static PrintDir d;
  return d;
}

}  // namespace

struct app_print_jobs {
  app_s* app = nullptr;
  JobKind kind = JOB_NONE;
  std::string text;             // finished lines: '\n' ends one, '\f' starts a new page
  std::vector<uint32_t> cells;  // the line being placed, one code point a column
  size_t col = 0;               // where the next character goes
  size_t lines = 0;             // lines in `text`
  // UTF-8 host text being decoded across calls.
  uint32_t cp = 0;
  int need = 0;
  event* quiet = nullptr;  // ends a job of printed lines
  int made = 0;            // jobs made so far (they are numbered from 1)
  kvx_page_setup setup;    // paper and lines of a page (columns follow each job)

  ~app_print_jobs() {
    if (quiet) event_free(quiet);
  }
};

void app_print_free(app_print_jobs* jobs) {
  delete jobs;
}

static app_print_jobs& pj_of(app_s* app) {
  if (!app->print) {
    app->print.reset(new app_print_jobs);
    app->print->app = app;
  }
  return *app->print;
}

// ---- the file-store kind "print": its PDF form ----

static kvx_page_setup pj_setup_for(app_s* app, const std::string& text) {
  kvx_page_setup setup = pj_of(app).setup;
  setup.cols = kvx_print_columns(text);
  return setup;
}

// A kept job's setup, dated with the job's time.
static kvx_page_setup pj_setup_for(app_s* app, const app_file& file) {
  kvx_page_setup setup = pj_setup_for(app, file.bytes);
  setup.created = static_cast<long long>(file.created);
  return setup;
}

static bool pj_render(app_s* app, const app_file& file, const std::string& form, app_file_form* out) {
  if (form == "pdf") {
    std::string error;
    if (!kvx_print_pdf(file.bytes, pj_setup_for(app, file), file.name, &out->bytes, &error)) {
      TE_Trace(TRACE_FAIL, "Print job %llu: no PDF (%s).\n", static_cast<unsigned long long>(file.id),
               error.c_str());
      return false;
    }
    out->type = "application/pdf";
    out->extension = ".pdf";
    return true;
  }
  if (form == "text") {
    out->bytes = file.bytes;
    out->type = file.type;
    out->extension = ".txt";
    return true;
  }
  return false;
}

static void pj_dropped(app_s* app, const app_file& file, bool forBound) {
  const std::string id = std::to_string(file.id);
  const char* fields[] = {id.c_str(), forBound ? "bound" : "dropped", nullptr};
  if (app_channel().send_capable) app_channel().send_capable(app, KVX_CAPABILITY_PRINT, KVX_HOST_ACTION_PRINT_DROPPED, fields);
  if (forBound && app_channel().send_notice) {
    std::string text = "The oldest print job, " + file.name + ", was dropped: the session keeps the last " +
                       std::to_string(kAppFilesMax) + " jobs or " + std::to_string(kAppFilesMaxBytes >> 20) +
                       " MB.";
    app_channel().send_notice(app, "print", text.c_str());
  }
}

// ---- the print directory ----

void app_print_set_dir(const std::string& dir, const std::string& sessionLabel) {
  pj_dir().dir = dir;
  std::string label;
  for (char c : sessionLabel)
    if (isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') label += c;
  pj_dir().label = label.empty() ? "session" : label;
}

// Writes the job's PDF as <session>-<date>-<time>-<job>.pdf, readable by
// the server's user alone; a name that exists is not overwritten.
static void pj_write_dir(app_s* app, const app_file& file) {
  if (pj_dir().dir.empty()) return;
  std::string pdf, error;
  if (!kvx_print_pdf(file.bytes, pj_setup_for(app, file), file.name, &pdf, &error)) {
    TE_Trace(TRACE_FAIL, "Print directory: no PDF of %s (%s).\n", file.name.c_str(), error.c_str());
    return;
  }
  char stamp[32];
  struct tm tmv;
  time_t now = file.created;
  localtime_r(&now, &tmv);
  strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tmv);
  const std::string path = pj_dir().dir + "/" + pj_dir().label + "-" + stamp + "-" + file.attrs.at("job") + ".pdf";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    TE_Trace(TRACE_FAIL, "Print directory: cannot create %s: %s\n", path.c_str(), strerror(errno));
    return;
  }
  fchmod(fd, 0600);  // whatever the umask
  size_t done = 0;
  while (done < pdf.size()) {
    ssize_t n = write(fd, pdf.data() + done, pdf.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      TE_Trace(TRACE_FAIL, "Print directory: cannot write %s: %s\n", path.c_str(), strerror(errno));
      break;
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
}

// ---- collecting a job ----

static void pj_utf8(std::string& out, uint32_t u) {
  if (u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | (u >> 6));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else if (u < 0x10000) {
    out += static_cast<char>(0xE0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (u >> 18));
    out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

static void pj_finish(app_print_jobs& p, const char* bound);
static void pj_store(app_print_jobs& p, std::string text, const char* bound);

// Ends the job at its bound: a notice, and the printing goes on in a new job
// of the same kind.
static void pj_check_bound(app_print_jobs& p) {
  const char* bound = p.lines >= kAppPrintMaxLines              ? "lines"
                      : p.text.size() + 4 * kAppPrintMaxLineChars + 2 > kAppPrintMaxBytes ? "bytes"
                                                                                         : nullptr;
  if (!bound) return;
  JobKind kind = p.kind;
  pj_finish(p, bound);
  p.kind = kind;
}

// The line being placed goes into the job (blanks at its end left out).
static void pj_end_line(app_print_jobs& p, bool newline) {
  size_t n = p.cells.size();
  while (n > 0 && p.cells[n - 1] == ' ') n--;
  for (size_t i = 0; i < n; i++) pj_utf8(p.text, p.cells[i]);
  p.cells.clear();
  p.col = 0;
  if (newline) {
    p.text += '\n';
    p.lines++;
  }
  pj_check_bound(p);
}

// One character of printed text as a printer places it.
static void pj_char(app_print_jobs& p, uint32_t u) {
  switch (u) {
    case '\r':
      p.col = 0;
      return;
    case '\n':
    case 0x0B:
      pj_end_line(p, true);
      return;
    case '\f':
      pj_end_line(p, false);
      p.text += '\f';
      return;
    case '\t':
      p.col = std::min((p.col / 8 + 1) * 8, kAppPrintMaxLineChars);
      return;
    case '\b':
      if (p.col > 0) p.col--;
      return;
    default:
      break;
  }
  if (u < 0x20 || (u >= 0x7F && u < 0xA0) || (u >= 0xD800 && u < 0xE000) || u > 0x10FFFF) return;
  if (p.col >= kAppPrintMaxLineChars) pj_end_line(p, true);  // goes on in the next line
  if (p.cells.size() <= p.col) p.cells.resize(p.col + 1, ' ');
  p.cells[p.col++] = u;
}

// Host bytes through the terminal's code page (UTF-8 when the session
// speaks it).
static void pj_bytes(app_print_jobs& p, te* t, const unsigned char* b, size_t n) {
  const bool utf8 = t && t->MBMode == 1;
  for (size_t i = 0; i < n; i++) {
    const unsigned char c = b[i];
    if (utf8) {
      if (p.need > 0) {
        if ((c & 0xC0) == 0x80) {
          p.cp = p.cp << 6 | (c & 0x3F);
          if (--p.need == 0) pj_char(p, p.cp < 0x80 ? 0xFFFD : p.cp);
          continue;
        }
        p.need = 0;
        pj_char(p, 0xFFFD);
      }
      if (c < 0x80) {
        pj_char(p, c);
      } else if (c >= 0xC2 && c <= 0xF4) {
        p.need = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
        p.cp = c & (0x3F >> p.need);
      } else {
        pj_char(p, 0xFFFD);
      }
      continue;
    }
    if (c < 0x20 || c == 0x7F) {
      pj_char(p, c);
      continue;
    }
    const int tcs = t && t->EmCPtoTCS ? t->EmCPtoTCS[c] : 0x200 + c;
    uint32_t u = 0;
    if (t && t->TCS2Unicode && tcs >= 0x200 && tcs < 0x200 + 768) u = t->TCS2Unicode[tcs - 0x200];
    if (!u) u = c < 0x80 ? c : '?';
    pj_char(p, u);
  }
}

static void pj_begin(app_print_jobs& p, JobKind kind) {
  if (p.kind != JOB_NONE && p.kind != kind) pj_finish(p, nullptr);
  p.kind = kind;
}

// The job collected so far becomes a file of the session; an empty one is
// left out.  `bound` names the bound that ended it ("lines", "bytes").
static void pj_finish(app_print_jobs& p, const char* bound) {
  if (p.quiet) evtimer_del(p.quiet);
  if (!p.cells.empty()) pj_end_line(p, true);
  p.kind = JOB_NONE;
  p.need = 0;
  std::string text = std::move(p.text);
  p.text.clear();
  p.lines = 0;
  p.col = 0;
  pj_store(p, std::move(text), bound);
}

// A finished job's text becomes a file of the session: kept, written to the
// print directory, announced.
static void pj_store(app_print_jobs& p, std::string text, const char* bound) {
  app_s* app = p.app;
  if (text.find_first_not_of("\n\f ") == std::string::npos) return;
  if (text.back() == '\f') text.pop_back();  // a last form feed ejects nothing more

  app_file f;
  const int job = ++p.made;
  f.name = "print-" + std::to_string(job) + ".txt";
  f.type = "text/plain; charset=utf-8";
  f.kind = "print";
  f.forms = {"pdf", "text"};
  const kvx_page_setup setup = pj_setup_for(app, text);
  f.attrs["job"] = std::to_string(job);
  f.attrs["pages"] = std::to_string(kvx_print_page_count(text, setup));
  f.attrs["columns"] = std::to_string(setup.cols);
  f.attrs["paper"] = kvx_paper_name(setup.paper);
  f.bytes = std::move(text);
  const uint64_t id = app_files_add(app, std::move(f));
  const app_file* kept = app_files_find(app, id);
  if (!kept) return;
  TE_Trace(TRACE_SESSION, "Print job %d: %s pages, %zu bytes.\n", job, kept->attrs.at("pages").c_str(),
           kept->bytes.size());
  pj_write_dir(app, *kept);
  const std::vector<std::string> fields = app_print_job_fields(*kept);
  std::vector<const char*> ptrs;
  for (const std::string& s : fields) ptrs.push_back(s.c_str());
  ptrs.push_back(nullptr);
  if (app_channel().send_capable)
    app_channel().send_capable(app, KVX_CAPABILITY_PRINT, KVX_HOST_ACTION_PRINT_JOB, ptrs.data());
  if (bound && app_channel().send_notice) {
    std::string text = "Print job " + std::to_string(job) + " reached its bound of " +
                       (std::string(bound) == "lines" ? std::to_string(kAppPrintMaxLines) + " lines"
                                                      : std::to_string(kAppPrintMaxBytes >> 20) + " MB") +
                       "; the printing goes on in a new job.";
    app_channel().send_notice(app, "print", text.c_str());
  }
}

static void pj_quiet(evutil_socket_t, short, void* arg) {
  app_print_jobs& p = *static_cast<app_print_jobs*>(arg);
  if (p.kind == JOB_LINES) pj_finish(p, nullptr);
}

// A printed line (auto-print, print line): into the controller job when one
// is open, else into the job of printed lines, which ends after a quiet time.
static void pj_line(app_print_jobs& p, const std::string& utf8) {
  if (p.kind != JOB_CONTROLLER) pj_begin(p, JOB_LINES);
  if (!p.cells.empty()) pj_end_line(p, true);
  for (size_t i = 0; i < utf8.size();) {
    // The row is UTF-8 already.
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    int len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    uint32_t u = len == 1 ? c : c & (0x3F >> (len - 1));
    for (int k = 1; k < len && i + k < utf8.size(); k++) u = u << 6 | (utf8[i + k] & 0x3F);
    i += len;
    pj_char(p, u);
  }
  pj_end_line(p, true);
  if (p.kind == JOB_LINES && p.app->evbase) {
    if (!p.quiet) p.quiet = evtimer_new(p.app->evbase, pj_quiet, &p);
    timeval tv = {kAppPrintQuietSeconds, 0};
    if (p.quiet) evtimer_add(p.quiet, &tv);
  }
}

// Blank rows at the end of a screen are left out.
static std::string pj_trim_rows(std::string rows) {
  size_t n = rows.find_last_not_of('\n');
  rows.resize(n == std::string::npos ? 0 : n + 1);
  if (!rows.empty()) rows += '\n';
  return rows;
}

// The rows of the character-mode screen (the scrolling region when the
// print extent is set so), as the screen shows them.
static std::string pj_te_screen(te* t, bool all) {
  int top = 0, bottom = t->Lines - 1;
  if (!all && !t->_prextent && t->_vscregion) {
    top = std::max(0, t->_vscregtop);
    bottom = std::min(bottom, t->_vscregbot);
  }
  std::string out;
  for (int y = top; y <= bottom; y++) out += vid_screenrow(t, y) + '\n';
  return pj_trim_rows(out);
}

// The block-mode screen as the page shows it: field attributes and
// non-display fields are blanks.
static std::string pj_block_screen(app_s* app) {
  BlockEngine* e = app_block_engine(app);
  fws_window* w = e ? e->window() : nullptr;
  if (!w || !w->screenchars) return std::string();
  const int cols = std::min({w->NumberColumns, w->wndsize.x, FWS_MAXCOLS});
  const int rows = std::min(w->NumberLines, w->wndsize.y);
  std::string out;
  uint64_t row[FWS_MAXCOLS];
  for (int r = 0; r < rows; r++) {
    blk_row_cells(w, w->wndsize.y - r - 1, cols, 7, 0, row);
    std::string line;
    size_t keep = 0;
    for (int c = 0; c < cols; c++) {
      const uint64_t cell = row[c];
      uint32_t u = (cell & BLK_CELL_HASUNI) ? static_cast<uint32_t>((cell & BLK_CELL_UNI) >> BLK_CELL_UNI_SHIFT)
                                            : static_cast<uint32_t>(cell & BLK_CELL_CHAR);
      if (cell & (BLK_CELL_FIELDATTR | BLK_CELL_NONDISPLAY)) u = ' ';
      if (u < 0x20 || (u >= 0x7F && u < 0xA0) || u > 0x10FFFF) u = ' ';
      pj_utf8(line, u);
      if (u != ' ') keep = line.size();
    }
    line.resize(keep);
    out += line + '\n';
  }
  return pj_trim_rows(out);
}

// A screen as a job of its own.
static bool pj_screen_job(app_print_jobs& p, const std::string& text) {
  if (text.empty()) return false;
  // A job being collected goes on; it ends as it would have.
  pj_store(p, text, nullptr);
  return true;
}

// ---- the terminal's printer hook ----

static void pj_hook(te* t, int request, const char* bytes, int length) {
  app_s* app = t ? static_cast<app_s*>(t->app) : nullptr;
  if (!app) return;
  app_print_jobs& p = pj_of(app);
  switch (request) {
    case TE_PRINT_CONTROLLER:
      if (length) {
        pj_begin(p, JOB_CONTROLLER);
        p.kind = JOB_CONTROLLER;
      } else if (p.kind == JOB_CONTROLLER) {
        pj_finish(p, nullptr);
      }
      break;
    case TE_PRINT_BYTES:
      if (p.kind != JOB_CONTROLLER) pj_begin(p, JOB_CONTROLLER);
      if (bytes && length > 0) pj_bytes(p, t, reinterpret_cast<const unsigned char*>(bytes), static_cast<size_t>(length));
      break;
    case TE_PRINT_LINE:
      if (length >= 0 && length < t->Lines) pj_line(p, vid_screenrow(t, length));
      break;
    case TE_PRINT_SCREEN:
      pj_screen_job(p, pj_te_screen(t, false));
      break;
    default:
      break;
  }
}

void app_print_attach(app_s* app, te* t) {
  static const app_file_kind kind = {pj_render, pj_dropped};
  app_files_register_kind("print", kind);
  pj_of(app);
  if (t) t->hooks.printer = pj_hook;
}

void app_print_settings(app_s* app, LumDict* dict) {
  app_print_jobs& p = pj_of(app);
  p.setup.paper = kvx_paper_from_name(dict->stringValueForKey("printpaper"));
  int lines = app->lpte ? app->lpte->pr_data[0].m_nLinesPage : 0;
  p.setup.lines = lines >= 10 && lines <= 200 ? lines : 66;
}

bool app_print_screen(app_s* app) {
  app_print_jobs& p = pj_of(app);
  if (app->emlib == EM_UNIX) return app->lpte && pj_screen_job(p, pj_te_screen(app->lpte, true));
  return pj_screen_job(p, pj_block_screen(app));
}

void app_print_finish(app_s* app) {
  if (app->print) pj_finish(*app->print, nullptr);
}

std::vector<std::string> app_print_job_fields(const app_file& file) {
  auto attr = [&](const char* k) {
    auto it = file.attrs.find(k);
    return it == file.attrs.end() ? std::string() : it->second;
  };
  return {std::to_string(file.id), file.name, attr("pages"), std::to_string(file.bytes.size()),
          std::to_string(static_cast<long long>(file.created))};
}

std::string app_print_text_of(app_s* app, const char* bytes, size_t n) {
  app_print_jobs& p = pj_of(app);
  pj_finish(p, nullptr);
  p.kind = JOB_CONTROLLER;
  pj_bytes(p, app->lpte, reinterpret_cast<const unsigned char*>(bytes), n);
  if (!p.cells.empty()) pj_end_line(p, true);
  std::string text = std::move(p.text);
  p.text.clear();
  p.kind = JOB_NONE;
  p.lines = 0;
  return text;
}
