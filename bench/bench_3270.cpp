// The 3270 engine: the five recorded sessions replayed (every host record
// interpreted and painted, the operator's keys typed again), as host records
// per second and as the time for all five; and one Erase/Write Alternate of
// a full 43 x 80 screen with 200 coloured fields, interpreted and painted.
#include <string>
#include <vector>

#include "bench_util.h"
#include "replay/blockreplay.h"
#include "te3270/te3270.h"

namespace {

struct Trace {
  int model;
  std::vector<trc_event> events;
  int hostRecords = 0;
};

std::vector<Trace> load_traces() {
  const char* names[][2] = {{"s3270-ibmlink", "4"}, {"s3270-rpqnames", "4"}, {"s3270-sruvm", "4"},
                            {"s3270-wrap", "4"},    {"tn3270-login", "2"}};
  std::vector<Trace> out;
  for (auto& n : names) {
    std::vector<trc_chunk> chunks;
    std::string path = std::string(KVX_SOURCE_DIR) + "/tests/fixtures/3270/" + n[0] + ".trc";
    if (!trc_load(path, chunks)) {
      std::fprintf(stderr, "bench-3270: cannot read %s\n", path.c_str());
      std::exit(1);
    }
    Trace t{n[1][0] - '0', trc_events(chunks)};
    for (const trc_event& e : t.events) t.hostRecords += e.kind == TRC_RECORD && e.fromHost;
    out.push_back(std::move(t));
  }
  return out;
}

// Erase/Write Alternate: 200 fields over 43 x 80, each with an extended
// colour and highlighting, text filling the rest (shifted by `shift`, so
// that two such screens differ in every row).
std::vector<uint8_t> full_screen_record(int shift) {
  std::vector<uint8_t> r = {0x7E, 0xC3};
  const int cells = 43 * 80, fields = 200, step = cells / fields;
  for (int f = 0; f < fields; f++) {
    r.insert(r.end(), {0x29, 0x03, 0xC0, (uint8_t)(f % 3 ? 0x60 : 0x40), 0x42, (uint8_t)(0xF1 + f % 7), 0x41,
                       (uint8_t)(f % 5 ? 0x00 : 0xF4)});
    for (int k = 1; k < step; k++) r.push_back((uint8_t)(0xC1 + (f + k + shift) % 9));
  }
  r.push_back(0x13);
  return r;
}

}  // namespace

int main() {
  std::vector<Trace> traces = load_traces();
  int records = 0;
  for (const Trace& t : traces) records += t.hostRecords;

  auto replay_all = [&] {
    for (const Trace& t : traces) {
      auto e = br_engine_3270(t.model);
      br_play(*e, t.events, [](int) {});
    }
  };
  replay_all();
  double all = bench::median_seconds(51, replay_all);
  bench::line("3270 replay of the 5 recorded sessions", all * 1e3, "ms");
  bench::line("3270 host records interpreted and painted", records / all, "rec/s");

  std::vector<uint8_t> ewa[2] = {full_screen_record(0), full_screen_record(1)};
  te3270* t = TE3270Init(nullptr, nullptr, 3);
  te3270_connected(t);
  const int n = 2000;
  double perScreen = bench::median_seconds(9, [&] {
    for (int i = 0; i < n; i++) {
      // Two screens in turn, so that every row really repaints.
      DataFromNetwork(t, ewa[i & 1].data(), (int)ewa[i & 1].size(), 1);
      t->lowestUpdate = t->highestUpdate = -1;
    }
  }) / n;
  if (t->faCount != 200) {
    std::fprintf(stderr, "bench-3270: the screen has %d fields, not 200\n", t->faCount);
    return 1;
  }
  TE3270Destroy(t);
  bench::line("3270 EWA 43x80 with 200 coloured fields", perScreen * 1e6, "us");
  bench::line("3270 full screens painted", 1 / perScreen, "scr/s");
  return 0;
}
