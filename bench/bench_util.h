// Shared helpers of the benchmark programs: corpus files, timing, and the
// line format bench/run.sh reads:
//   BENCH<TAB>name<TAB>figure<TAB>unit[<TAB>peer<TAB>peer figure]
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

inline std::string corpus_dir() {
  const char* d = std::getenv("KVX_BENCH_CORPUS");
  return d ? d : "bench/corpus";
}

inline bool read_file(const std::string& path, std::string& out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buf[1 << 16];
  size_t n;
  out.clear();
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return true;
}

inline double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Median of `runs` timings of fn() in seconds.
template <typename F>
double median_seconds(int runs, F fn) {
  std::vector<double> t;
  for (int i = 0; i < runs; i++) {
    double start = now();
    fn();
    t.push_back(now() - start);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

inline void line(const std::string& name, double figure, const char* unit) {
  std::printf("BENCH\t%s\t%.2f\t%s\n", name.c_str(), figure, unit);
  std::fflush(stdout);
}

inline void line(const std::string& name, double figure, const char* unit, const char* peer,
                 double peerFigure) {
  std::printf("BENCH\t%s\t%.2f\t%s\t%s\t%.2f\n", name.c_str(), figure, unit, peer, peerFigure);
  std::fflush(stdout);
}

}  // namespace bench
