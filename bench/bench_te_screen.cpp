// Costs of the screen model: scrolling a full screen by one row (row
// pointers move, so the width should not matter), with and without the
// scrollback copy, and the memory of one terminal record with the default
// 10 000-row scrollback, fresh and with the scrollback filled.
#include <malloc.h>

#include <cstring>
#include <string>

#include "bench_util.h"
#include "te/te.h"

namespace {

te* make(int rows, int cols, int scrollback) {
  te* t = TEInit(nullptr, nullptr);
  if (scrollback != 10000) {
    sbfree(t);
    sbinit(t, scrollback);
  }
  t->emode = 35;
  t->Lines = rows;
  t->Cols = cols;
  t->vextend = 1;
  TeNew(t);
  return t;
}

// Nanoseconds per one-row scroll of the whole screen.
double scroll_ns(int rows, int cols, bool intoScrollback) {
  te* t = make(rows, cols, intoScrollback ? 10000 : 0);
  const int n = 2000000;
  double secs = bench::median_seconds(5, [&] {
    for (int i = 0; i < n; i++) {
      if (intoScrollback) {
        // A line feed on the last row: the top row is saved, then scrolled.
        t->vdestline = t->vlines - 1;
        newline(t);
      } else {
        vuscroll(t, 0, 1);
      }
    }
    vscreen_invalidate(t);
  });
  TEDestroy(t);
  return secs / n * 1e9;
}

long rss_kb() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  long pages = 0, resident = 0;
  if (f) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * 4;
}

size_t heap_bytes() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

}  // namespace

int main() {
  // Memory first, while the heap is fresh.
  std::string lines;
  for (int i = 0; i < 12000; i++)
    lines += "a line of text that fills the screen row with some characters " + std::to_string(i) + "\r\n";
  size_t heap0 = heap_bytes();
  long rss0 = rss_kb();
  te* t = make(24, 80, 10000);
  size_t heap1 = heap_bytes();
  long rss1 = rss_kb();
  bench::line("te.memory.record-allocated", (double)(heap1 - heap0) / 1024, "KiB");
  bench::line("te.memory.record-resident", (double)(rss1 - rss0), "KiB");
  TEemwrite(t, lines.data(), lines.size());
  bench::line("te.memory.record-resident-full-scrollback", (double)(rss_kb() - rss0), "KiB");
  bench::line("te.memory.te-struct", (double)sizeof(te) / 1024, "KiB");
  TEDestroy(t);
  struct Size {
    int rows, cols;
  } sizes[] = {{24, 80}, {250, 132}};
  for (const Size& s : sizes) {
    std::string dims = std::to_string(s.rows) + "x" + std::to_string(s.cols);
    bench::line("te.scroll." + dims, scroll_ns(s.rows, s.cols, false), "ns/row");
    bench::line("te.scroll-to-scrollback." + dims, scroll_ns(s.rows, s.cols, true), "ns/row");
  }

  return 0;
}
