// Session counters in a page shared with the server (see stats.h).
#include "stats.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

static kvx_stats_t g_private = {kKvxStatsMagic, 0, 0, 0, 0, {}, 0, 0, 0, {}};
static kvx_stats_t* g_stats = &g_private;

kvx_stats_t* kvx_stats() {
  return g_stats;
}

bool kvx_stats_attach(int fd) {
  void* p = mmap(nullptr, kKvxStatsSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) return false;
  g_stats = static_cast<kvx_stats_t*>(p);
  return true;
}

void kvx_stats_count_connect(uint32_t kind) {
  for (int i = 0; i < kKvxStatsKinds; i++)
    if (kind == (1u << i)) kvx_stats_add(&g_stats->connects[i], 1);
}

kvx_stats_t* kvx_stats_create(int* fd) {
  *fd = memfd_create("kavrix-session", MFD_CLOEXEC);
  if (*fd < 0) return nullptr;
  void* p = MAP_FAILED;
  if (ftruncate(*fd, kKvxStatsSize) == 0)
    p = mmap(nullptr, kKvxStatsSize, PROT_READ | PROT_WRITE, MAP_SHARED, *fd, 0);
  if (p == MAP_FAILED) {
    close(*fd);
    *fd = -1;
    return nullptr;
  }
  kvx_stats_t* stats = static_cast<kvx_stats_t*>(p);
  memset(stats, 0, sizeof *stats);
  stats->magic = kKvxStatsMagic;
  return stats;
}

void kvx_stats_release(kvx_stats_t* stats) {
  if (stats) munmap(stats, kKvxStatsSize);
}
