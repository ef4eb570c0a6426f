// Throughput of the Wyse 50 and Wyse 60 emulations (and of the IBM 3151,
// PC-term and TTY) at 80x24, in 4 KiB reads, on three kinds of host output:
//   plain   the prose corpus (plain text and CR LF);
//   forms   screens drawn with the terminals' own capabilities as tput
//           renders them: cursor addressing, erases and a field with an
//           attribute every few bytes (the Wyse 50 with its attribute cells,
//           whose attribute runs to the end of the screen; the Wyse 60 with
//           its character attributes);
//   dialog  a curses program's screen (dialog under TERM=wy50 / wy60,
//           bench/fixtures), repeated.
// Times are CPU time of this process.  Then the cost of attribute propagation: attribute cells written at
// positions that jump between the top and the bottom of the screen, at
// 80x24 and at 132x250.  Were each one to rewrite the rest of the screen,
// the large screen (17 times the cells) would be that much slower; the
// ratio of the two figures is printed.
#include <time.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "te/te.h"

namespace {

constexpr size_t kRead = 4096;
constexpr int kRuns = 5;
constexpr size_t kSize = 20u << 20;

// Median of `runs` timings of fn() in seconds of this process's CPU time
// (the figures hold on a machine busy with other work too).
template <typename F>
double median_cpu_seconds(int runs, F fn) {
  std::vector<double> t;
  for (int i = 0; i < runs; i++) {
    timespec a, b;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
    fn();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
    t.push_back((double)(b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

double Rate(const std::string& data, int emode, int rows = 24, int cols = 80) {
  double secs = median_cpu_seconds(kRuns, [&] {
    te* t = TEInit(nullptr, nullptr);
    t->emode = emode;
    t->Lines = rows;
    t->Cols = cols;
    t->vextend = 1;
    t->MBMode = 1;
    t->fgcolor[0] = 8;
    t->bgcolor[0] = 1;
    TeNew(t);
    for (size_t i = 0; i < data.size(); i += kRead) {
      TEemwrite(t, data.data() + i, std::min(kRead, data.size() - i));
      vscreen_invalidate(t);
    }
    TEDestroy(t);
  });
  return data.size() / secs / 1e6;
}

std::string Tput(const std::string& entry, const std::string& cap, const std::string& args = "") {
  std::string cmd = "tput -T " + entry + " " + cap + " " + args + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  if (!p) return out;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::string Repeat(const std::string& unit, size_t size) {
  std::string out;
  if (unit.empty()) return out;
  out.reserve(size + unit.size());
  while (out.size() < size) out += unit;
  return out;
}

// Form screens: a clear, then 40 fields of 10 characters, each with an
// attribute on before it and off after it, and an erase to end of line.
// `on`/`off` are the attribute sequences; the cursor strings come from the
// entry.  Twelve different screens, repeated.
std::string Forms(const std::string& entry, const std::string& on, const std::string& off) {
  std::string clear = Tput(entry, "clear"), el = Tput(entry, "el");
  std::string cup[24][8];
  for (int r = 0; r < 24; r++)
    for (int k = 0; k < 8; k++)
      cup[r][k] = Tput(entry, "cup", std::to_string(r) + " " + std::to_string(k * 10));
  std::string screens;
  unsigned seed = 7;
  for (int s = 0; s < 12; s++) {
    screens += clear;
    for (int f = 0; f < 40; f++) {
      seed = seed * 1103515245 + 12345;
      int r = (int)(seed >> 16) % 24, k = (int)(seed >> 8) % 8;
      screens += cup[r][k] + on;
      for (int i = 0; i < 8; i++) screens += (char)('A' + (seed >> (i + 3)) % 26);
      screens += off + el;
    }
  }
  return Repeat(screens, kSize);
}

// Attribute cells at positions that jump from the top to the bottom of the
// screen and back, a few characters each.
std::string Jumps(int rows, int cols) {
  std::string unit;
  for (int i = 0; i < 64; i++) {
    int top = i % 8, bottom = rows - 1 - i % 8, c = (i * 7) % (cols - 8);
    unit += "\x1b=" + std::string(1, (char)(32 + top)) + std::string(1, (char)(32 + c)) + "\x1bG4ab";
    unit += "\x1b=" + std::string(1, (char)(32 + bottom)) + std::string(1, (char)(32 + c)) + "\x1bG0cd";
  }
  return Repeat(unit, kSize / 4);
}

}  // namespace

int main() {
  std::string prose;
  std::string path = bench::corpus_dir() + "/prose.txt";
  if (!bench::read_file(path, prose)) {
    std::fprintf(stderr, "bench-wyse: cannot read %s (run bench/gen_corpus.py)\n", path.c_str());
    return 1;
  }
  struct Member {
    const char* name;
    int emode;
    std::string forms;
    const char* fixture;  // dialog's screen under this TERM, or none
  } members[] = {
      // The Wyse 50 member with the Televideo 925's attribute cells (ESC G4
      // ... ESC G0), which it shares.
      {"wyse50", 14, Forms("wy50", Tput("tvi925", "smso"), Tput("tvi925", "rmso")), "dialog_wy50.raw"},
      {"wyse60", 10, Forms("wy60", Tput("wy60", "smso"), Tput("wy60", "rmso")), "dialog_wy60.raw"},
      // Relatives: the IBM 3151 with its character attributes, PC-term
      // with the Wyse 60's strings, TTY on plain text only.
      {"ibm3151", 19, Forms("ibm3151", Tput("ibm3151", "smso"), Tput("ibm3151", "rmso")), nullptr},
      {"pcterm", 12, Forms("wy60", Tput("wy60", "smso"), Tput("wy60", "rmso")), nullptr},
      {"tty", 21, "", nullptr},
  };
  for (Member& m : members) {
    bench::line(std::string("te.wyse.") + m.name + ".plain", Rate(prose, m.emode), "MB/s");
    if (m.emode == 21) continue;
    if (m.forms.empty()) {
      std::fprintf(stderr, "bench-wyse: cannot run tput for %s\n", m.name);
      return 1;
    }
    bench::line(std::string("te.wyse.") + m.name + ".forms", Rate(m.forms, m.emode), "MB/s");
    if (!m.fixture) continue;
    std::string fixture, file = std::string(KVX_SOURCE_DIR) + "/bench/fixtures/" + m.fixture;
    if (!bench::read_file(file, fixture)) {
      std::fprintf(stderr, "bench-wyse: cannot read %s\n", file.c_str());
      return 1;
    }
    bench::line(std::string("te.wyse.") + m.name + ".dialog", Rate(Repeat(fixture, kSize), m.emode), "MB/s");
  }
  double small = Rate(Jumps(24, 80), 14, 24, 80);
  double large = Rate(Jumps(250, 132), 14, 250, 132);
  bench::line("te.wyse.wyse50.attribute-jumps.80x24", small, "MB/s");
  bench::line("te.wyse.wyse50.attribute-jumps.132x250", large, "MB/s");
  bench::line("te.wyse.wyse50.attribute-jumps.slowdown", small / large, "x");
  return 0;
}
