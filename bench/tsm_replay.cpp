// tsm-replay: the peer of te-replay in the whole-process benchmark.  libtsm
// at 80x24 fed a file in 4 KiB reads with one screen draw per read (as a
// server that sends what changed would), then the screen's text printed.
#include <libtsm.h>

#include <cstdio>
#include <string>

#include "bench_util.h"

namespace {

std::string g_screen;

int draw(struct tsm_screen*, uint64_t, const uint32_t* ch, size_t len, unsigned int, unsigned int posx,
         unsigned int posy, const struct tsm_screen_attr*, tsm_age_t, void*) {
  const size_t at = static_cast<size_t>(posy) * 81 + posx;
  if (at < g_screen.size()) g_screen[at] = len && ch[0] < 0x80 && ch[0] >= 0x20 ? static_cast<char>(ch[0]) : ' ';
  return 0;
}

void write_back(struct tsm_vte*, const char*, size_t, void*) {}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tsm-replay FILE\n");
    return 2;
  }
  std::string data;
  if (!bench::read_file(argv[1], data)) {
    std::perror(argv[1]);
    return 1;
  }
  struct tsm_screen* screen;
  struct tsm_vte* vte;
  if (tsm_screen_new(&screen, nullptr, nullptr) < 0) return 1;
  tsm_screen_resize(screen, 80, 24);
  if (tsm_vte_new(&vte, screen, write_back, nullptr, nullptr, nullptr) < 0) return 1;
  g_screen.assign(81 * 24, ' ');
  for (int y = 0; y < 24; y++) g_screen[static_cast<size_t>(y) * 81 + 80] = '\n';
  for (size_t i = 0; i < data.size(); i += 4096) {
    tsm_vte_input(vte, data.data() + i, std::min<size_t>(4096, data.size() - i));
    tsm_screen_draw(screen, draw, nullptr);
  }
  std::fwrite(g_screen.data(), 1, g_screen.size(), stdout);
  tsm_vte_unref(vte);
  tsm_screen_unref(screen);
  return 0;
}
