// te-replay: feeds a byte file (a host capture) into one emulation of the
// character-mode engine and prints the resulting screen as UTF-8 text.
// The debugging tool for host captures.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "replay5250.h"
#include "te/te.h"
#include "vid/vtext.h"

static const char* const kUsage =
    "Usage: te-replay [options] [file]\n"
    "Feeds the bytes of file (or standard input) into a terminal emulation and\n"
    "prints the final screen as UTF-8 text, one line per row, trailing blanks\n"
    "trimmed.\n"
    "\n"
    "Options:\n"
    "  --emulation E    emulation: a setting number 0-30 (30 = mac, 12 = vt220,\n"
    "                   10 = vt100, 1 = ansi) or a name (mac, vt220, vt100, vt52,\n"
    "                   vt320, vt420, ansi, scoansi, at386, linux); default mac\n"
    "  --rows R         screen rows (1-250, default 24)\n"
    "  --cols C         screen columns (1-132, default 80)\n"
    "  --attrs          also print the attribute and colour bits of every row\n"
    "  --cursor         also print the cursor position and visibility\n"
    "  --every-read N   print the screen after every N-byte chunk\n"
    "  --bytewise       feed the input one byte at a time\n"
    "  --no-utf8        the host does not send UTF-8 (code-page bytes)\n"
    "  --fg N --bg N    normal colours, 1-16 (PC order plus one; default 8 on 1)\n"
    "  --codepage FILE  code-page file for the Unicode and code-page tables\n"
    "                   (default: codepage.dat here, else the installed one)\n"
    "  --cp NAME        host code page of 8-bit data (with --no-utf8), e.g.\n"
    "                   \"ISO 8859-1 Latin 1\"; default: the built-in table\n"
    "  --scrollback N   print N rows of scrollback above the screen\n"
    "  --bench          print the throughput over the file in MB/s instead\n"
    "  --trace FILE     a recorded block-mode session (trace notation: '<' and\n"
    "                   '>' hex lines); with --emulation 22 or 23 (IBM 5250\n"
    "                   models 5555 and 3477) the host records are fed to the\n"
    "                   5250 station and the operator's recorded replies typed\n"
    "                   again\n"
    "  --every-record   with --trace: print '--- record N' and the screen after\n"
    "                   each host record (attributes, nulls and hidden fields as\n"
    "                   blanks; --cursor adds the cursor and keyboard state)\n"
    "  -h, --help       this text\n"
    "\n"
    "--attrs prints, per row, spans 'first-last:XXXX' of equal attributes, where\n"
    "XXXX is bits 16-31 of the cell in hex: colour byte (background, foreground\n"
    "index), then reverse/blink/underline/bold (8/4/2/1), then\n"
    "protected/embedded/selective-protection/invisible (8/4/2/1).\n";

struct Options {
  int emode = 35;
  int rows = 24;
  int cols = 80;
  bool attrs = false;
  bool cursor = false;
  long every = 0;
  bool bytewise = false;
  bool utf8 = true;
  int fg = 8, bg = 1;
  int scrollback = 0;
  bool bench = false;
  const char* file = nullptr;
  std::string codepage;
  std::string cp;
  int block = 0;  // a block-mode emulation setting (22, 23)
  const char* trace = nullptr;
  bool everyRecord = false;
};

static int parse_emulation(const char* s) {
  char* end;
  long v = std::strtol(s, &end, 10);
  if (*s && !*end) return EmSettingToEmulation((int)v);
  return EmNumberOfName(s);
}

static bool parse_args(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "te-replay: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (a == "--emulation") {
      const char* v = value("--emulation");
      if (std::strcmp(v, "22") == 0 || std::strcmp(v, "23") == 0) {
        o.block = std::atoi(v);
        continue;
      }
      o.emode = parse_emulation(v);
      if (o.emode < 0 || !EmFindProcs(o.emode)) {
        std::fprintf(stderr, "te-replay: unknown or unsupported emulation '%s'\n", v);
        return false;
      }
    } else if (a == "--rows") {
      o.rows = std::atoi(value("--rows"));
    } else if (a == "--cols") {
      o.cols = std::atoi(value("--cols"));
    } else if (a == "--attrs") {
      o.attrs = true;
    } else if (a == "--cursor") {
      o.cursor = true;
    } else if (a == "--every-read") {
      o.every = std::atol(value("--every-read"));
      if (o.every <= 0) {
        std::fprintf(stderr, "te-replay: --every-read needs a positive size\n");
        return false;
      }
    } else if (a == "--bytewise") {
      o.bytewise = true;
    } else if (a == "--no-utf8") {
      o.utf8 = false;
    } else if (a == "--fg") {
      o.fg = std::atoi(value("--fg"));
    } else if (a == "--bg") {
      o.bg = std::atoi(value("--bg"));
    } else if (a == "--codepage") {
      o.codepage = value("--codepage");
    } else if (a == "--cp") {
      o.cp = value("--cp");
    } else if (a == "--scrollback") {
      o.scrollback = std::atoi(value("--scrollback"));
    } else if (a == "--bench") {
      o.bench = true;
    } else if (a == "--trace") {
      o.trace = value("--trace");
    } else if (a == "--every-record") {
      o.everyRecord = true;
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "te-replay: unknown option %s (see --help)\n", a.c_str());
      return false;
    } else if (!o.file) {
      o.file = argv[i];
    } else {
      std::fprintf(stderr, "te-replay: one input file only\n");
      return false;
    }
  }
  return true;
}

static bool read_input(const char* file, std::vector<unsigned char>& data) {
  FILE* f = (!file || std::strcmp(file, "-") == 0) ? stdin : std::fopen(file, "rb");
  if (!f) {
    std::perror(file);
    return false;
  }
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  if (f != stdin) std::fclose(f);
  return true;
}

static bool file_exists(const std::string& name) {
  FILE* f = std::fopen(name.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

// The code-page file: the one named, else the working directory's, else the
// one beside the sources this tool was built from.
static std::string codepage_file(const Options& o) {
  if (!o.codepage.empty()) return o.codepage;
  if (file_exists("codepage.dat")) return "codepage.dat";
#ifdef KVX_CODEPAGE_FALLBACK
  if (file_exists(KVX_CODEPAGE_FALLBACK)) return KVX_CODEPAGE_FALLBACK;
#endif
  return "";
}

static te* make_terminal(const Options& o) {
  te* t = TEInit(nullptr, nullptr);
  if (!t) return nullptr;
  t->emode = o.emode;
  t->Lines = o.rows < 1 ? 1 : o.rows > TE_MAXLINES ? TE_MAXLINES : o.rows;
  t->Cols = o.cols < 1 ? 1 : o.cols > TE_MAXCOLS ? TE_MAXCOLS : o.cols;
  t->vextend = 1;  // the size given here stays across resets
  t->MBMode = o.utf8 ? 1 : 0;
  for (int i = 0; i < 17; i++) {
    t->fgcolor[i] = o.fg;
    t->bgcolor[i] = o.bg;
  }
  std::string cpfile = codepage_file(o);
  if (!cpfile.empty()) SetEmOutCP(t, cpfile.c_str(), "1250");
  if (!o.cp.empty()) SetEmInCP(t, cpfile.c_str(), o.cp.c_str());
  if (!TeNew(t)) {
    TEDestroy(t);
    return nullptr;
  }
  cpos(t, 0, 0);  // start at home, as a terminal that was just cleared
  vscreen_invalidate(t);
  return t;
}

static void print_screen(te* t, const Options& o) {
  std::string out;
  for (int back = o.scrollback; back >= 1; back--) {
    const CHATTR* r = sb_row(t, back);
    if (r) out += vid_rowtext(t, r, t->_sb->sbcols) + "\n";
  }
  for (int y = 0; y < t->vlines; y++) out += vid_rowtext(t, t->_vscreen[y], t->vcols) + "\n";
  if (o.attrs) {
    out += "attrs:\n";
    for (int y = 0; y < t->vlines; y++) {
      char head[16];
      std::snprintf(head, sizeof head, "%3d: ", y);
      out += head + vid_rowattrs(t->_vscreen[y], t->vcols) + "\n";
    }
  }
  if (o.cursor) {
    char line[80];
    std::snprintf(line, sizeof line, "cursor: row %d, col %d, %s\n", t->yPOS, t->xPOS,
                  t->vCaret ? "shown" : "hidden");
    out += line;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
}

static void feed(te* t, const unsigned char* p, size_t n, bool bytewise) {
  if (bytewise) {
    for (size_t i = 0; i < n; i++) TEemout(t, p[i]);
    return;
  }
  // Host data arrives in reads of at most 4 KiB.
  for (size_t i = 0; i < n; i += 4096) TEemwrite(t, p + i, n - i < 4096 ? n - i : 4096);
}

static int run_bench(const Options& o, const std::vector<unsigned char>& data) {
  using clock = std::chrono::steady_clock;
  std::vector<double> rates;
  double total = 0;
  while (rates.size() < 3 || (total < 1.0 && rates.size() < 50)) {
    te* t = make_terminal(o);
    auto start = clock::now();
    feed(t, data.data(), data.size(), o.bytewise);
    double secs = std::chrono::duration<double>(clock::now() - start).count();
    TEDestroy(t);
    total += secs;
    rates.push_back(secs > 0 ? data.size() / secs / 1e6 : 0);
  }
  std::sort(rates.begin(), rates.end());
  std::printf("%.1f MB/s (median of %zu runs over %zu bytes)\n", rates[rates.size() / 2], rates.size(),
              data.size());
  return 0;
}

int main(int argc, char** argv) {
  Options o;
  if (!parse_args(argc, argv, o)) return 2;
  if (o.block) {
    if (!o.trace) {
      std::fprintf(stderr, "te-replay: --emulation %d needs --trace FILE\n", o.block);
      return 2;
    }
    return te5250_replay(o.block, o.trace, o.everyRecord, o.cursor, stdout);
  }
  std::vector<unsigned char> data;
  if (!read_input(o.file, data)) return 1;
  if (o.bench) return run_bench(o, data);
  te* t = make_terminal(o);
  if (!t) {
    std::fprintf(stderr, "te-replay: cannot create the terminal\n");
    return 1;
  }
  if (o.every > 0) {
    for (size_t i = 0; i < data.size(); i += (size_t)o.every) {
      size_t n = std::min(data.size() - i, (size_t)o.every);
      feed(t, data.data() + i, n, o.bytewise);
      std::printf("--- after %zu bytes\n", i + n);
      print_screen(t, o);
    }
  } else {
    feed(t, data.data(), data.size(), o.bytewise);
    print_screen(t, o);
  }
  TEDestroy(t);
  return 0;
}
