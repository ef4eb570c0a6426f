// A 1 000-page print job formatted to PDF: 66 lines of 80 columns a page,
// as a report from a host prints them, with form feeds between pages.  The
// figure is the median time of the whole job (layout, font subset, PDF).
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>
#include <string>

#include "bench_util.h"
#include "print_pdf.h"

int main() {
  std::string job;
  const int pages = 1000, lines = 66;
  for (int p = 0; p < pages; p++) {
    for (int l = 0; l < lines; l++) {
      char row[128];
      std::snprintf(row, sizeof row, "%05d %03d ACCOUNT %08d  BALANCE %12.2f  STATUS OPEN  REF %-18s|\n", p + 1,
                    l + 1, p * lines + l, (p * 131 + l * 17) / 3.0, "ABCDEFGHIJKLMNOPQR" + (l % 18));
      job += row;
    }
    job += '\f';
  }
  kvx_page_setup setup;
  setup.cols = kvx_print_columns(job);
  setup.lines = lines;
  std::string pdf;
  bool ok = true;
  // Wall time, and the processor time it took (the figure a loaded machine
  // does not inflate).
  std::vector<double> cpu;
  double seconds = bench::median_seconds(3, [&] {
    std::clock_t c0 = std::clock();
    ok = kvx_print_pdf(job, setup, "bench", &pdf) && ok;
    cpu.push_back(static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC);
  });
  std::sort(cpu.begin(), cpu.end());
  const int counted = kvx_print_page_count(job, setup);
  if (!ok || counted != pages || pdf.size() < 1000) {
    std::fprintf(stderr, "bench-print: the job did not format (%d pages)\n", counted);
    return 1;
  }
  std::fprintf(stderr, "bench-print: %d pages, %zu bytes of text, %zu bytes of PDF\n", counted, job.size(),
               pdf.size());
  bench::line("print: 1000-page job to PDF", seconds * 1000, "ms");
  bench::line("print: 1000-page job to PDF, processor time", cpu[cpu.size() / 2] * 1000, "ms");
  return 0;
}
