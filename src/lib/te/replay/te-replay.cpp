// te-replay: feeds a byte file (a host capture) into one emulation of the
// character-mode engine and prints the resulting screen as UTF-8 text.
// The debugging tool for host captures.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "replay/blockreplay.h"
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
    "                   10 = vt100, 1 = ansi, 17 = wyse50) or a name (mac, vt220,\n"
    "                   vt100, vt52, vt320, vt420, ansi, scoansi, at386, linux,\n"
    "                   wyse50, wyse60, wyse60-25, wycol, tvi912, tvi925, tvi950,\n"
    "                   addsvp, adm1, ibm3101, ibm3151, ibm3151-25, pcterm, tty);\n"
    "                   default mac\n"
    "  --rows R         screen rows (1-250, default 24)\n"
    "  --cols C         screen columns (1-132, default 80)\n"
    "  --attrs          also print the attribute and colour bits of every row\n"
    "  --colors         also print the exact colours and text styles of every row\n"
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
    "  -h, --help       this text\n"
    "Recorded IBM 3270 sessions: --emulation 24 --model 2-5 --trace FILE\n"
    "[--every-record] (te-replay --emulation 24 --help for more).\n"
    "\n"
    "--attrs prints, per row, spans 'first-last:XXXX' of equal attributes, where\n"
    "XXXX is bits 16-31 of the cell in hex: colour byte (background, foreground\n"
    "index), then reverse/blink/underline/bold (8/4/2/1), then\n"
    "protected/embedded/selective-protection/invisible (8/4/2/1).\n"
    "\n"
    "--colors prints, per row that has any, spans 'first-last:desc' of the exact\n"
    "colours and styles: fg=, bg=, ul= (underline colour) as a palette index\n"
    "0-255 or #rrggbb, and dim, italic, strike, ul-double, ul-curly, ul-dotted,\n"
    "ul-dashed; cells without them are left out.\n";

struct Options {
  int emode = EMODE_MAC;
  int rows = 24;
  int cols = 80;
  bool attrs = false;
  bool colors = false;
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
    } else if (a == "--colors") {
      o.colors = true;
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

// The bytes to replay.  A regular file is mapped whole, its pages read in
// at once, so nothing is copied; other input (a pipe) is read into one
// buffer that doubles as it fills.
class ReplayInput {
 public:
  ReplayInput() = default;
  ReplayInput(const ReplayInput&) = delete;
  ReplayInput& operator=(const ReplayInput&) = delete;
  ~ReplayInput() {
    if (mapped_) munmap(const_cast<unsigned char*>(data_), size_);
  }
  const unsigned char* data() const { return data_; }
  size_t size() const { return size_; }

  bool load(const char* file) {
    const bool in = !file || std::strcmp(file, "-") == 0;
    int fd = in ? 0 : open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::perror(file);
      return false;
    }
    struct stat st;
    bool ok = true;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      void* p = mmap(nullptr, (size_t)st.st_size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
      if (p != MAP_FAILED) {
        data_ = static_cast<const unsigned char*>(p);
        size_ = (size_t)st.st_size;
        mapped_ = true;
      } else {
        ok = read_all(fd, (size_t)st.st_size + 1);
      }
    } else {
      ok = read_all(fd, 1 << 20);
    }
    if (!in) close(fd);
    if (!ok) std::perror(file ? file : "standard input");
    return ok;
  }

 private:
  bool read_all(int fd, size_t capacity) {
    for (;;) {
      if (buffer_.size() - size_ < 65536) buffer_.resize(std::max(capacity, buffer_.size() * 2));
      ssize_t n = read(fd, buffer_.data() + size_, buffer_.size() - size_);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) break;
      size_ += (size_t)n;
    }
    data_ = buffer_.data();
    return true;
  }

  std::vector<unsigned char> buffer_;
  const unsigned char* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
};

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
  if (o.colors) {
    out += "colors:\n";
    for (int y = 0; y < t->vlines; y++) {
      std::string spans = vid_rowxattrs(t, t->_vscreen[y], t->vcols);
      if (spans.empty()) continue;
      char head[16];
      std::snprintf(head, sizeof head, "%3d: ", y);
      out += head + spans + "\n";
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

static int run_bench(const Options& o, const ReplayInput& data) {
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
  if (br_wanted(argc, argv)) return br_main(argc, argv);
  Options o;
  if (!parse_args(argc, argv, o)) return 2;
  ReplayInput data;
  if (!data.load(o.file)) return 1;
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
