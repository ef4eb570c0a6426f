// Throughput of the character-mode engine on the corpora at 80x24, in
// 4 KiB reads, with the "mac" and VT220 members, beside libvterm (screen
// layer, no-op damage callback) and libtsm (one screen draw per read) fed
// the same files in the same run.  On the true-colour corpus, what keeping
// exact colours and styles costs: the xterm (256 colours) member with them
// beside the same member keeping the nearest of the sixteen only.
#include <cstring>

#include "bench_util.h"
#include "te/te.h"

#ifdef KVX_HAVE_VTERM
#include <vterm.h>
#endif
#ifdef KVX_HAVE_TSM
#include <libtsm.h>
#endif

namespace {

constexpr size_t kRead = 4096;
constexpr int kRuns = 5;

double ours(const std::string& data, int emode, bool exact = true) {
  double secs = bench::median_seconds(kRuns, [&] {
    te* t = TEInit(nullptr, nullptr);  // with the session's 10 000-row scrollback
    t->xattrs = exact ? 1 : 0;
    t->emode = emode;
    t->MBMode = 1;
    t->fgcolor[0] = 8;
    t->bgcolor[0] = 1;
    TeNew(t);
    for (size_t i = 0; i < data.size(); i += kRead) {
      TEemwrite(t, data.data() + i, std::min(kRead, data.size() - i));
      vscreen_invalidate(t);  // what the channel does after each send
    }
    TEDestroy(t);
  });
  return data.size() / secs / 1e6;
}

#ifdef KVX_HAVE_VTERM
int vt_damage(VTermRect, void*) {
  return 1;
}

double vterm(const std::string& data) {
  double secs = bench::median_seconds(kRuns, [&] {
    VTerm* vt = vterm_new(24, 80);
    vterm_set_utf8(vt, 1);
    VTermScreen* screen = vterm_obtain_screen(vt);
    static VTermScreenCallbacks cb;
    cb.damage = vt_damage;
    vterm_screen_set_callbacks(screen, &cb, nullptr);
    vterm_screen_reset(screen, 1);
    for (size_t i = 0; i < data.size(); i += kRead)
      vterm_input_write(vt, data.data() + i, std::min(kRead, data.size() - i));
    vterm_free(vt);
  });
  return data.size() / secs / 1e6;
}
#endif

#ifdef KVX_HAVE_TSM
void tsm_write(struct tsm_vte*, const char*, size_t, void*) {}

int tsm_draw(struct tsm_screen*, uint64_t, const uint32_t*, size_t, unsigned int, unsigned int, unsigned int,
             const struct tsm_screen_attr*, tsm_age_t, void*) {
  return 0;
}

double tsm(const std::string& data) {
  double secs = bench::median_seconds(kRuns, [&] {
    struct tsm_screen* screen;
    struct tsm_vte* vte;
    tsm_screen_new(&screen, nullptr, nullptr);
    tsm_screen_resize(screen, 80, 24);
    tsm_vte_new(&vte, screen, tsm_write, nullptr, nullptr, nullptr);
    for (size_t i = 0; i < data.size(); i += kRead) {
      tsm_vte_input(vte, data.data() + i, std::min(kRead, data.size() - i));
      tsm_screen_draw(screen, tsm_draw, nullptr);
    }
    tsm_vte_unref(vte);
    tsm_screen_unref(screen);
  });
  return data.size() / secs / 1e6;
}
#endif

}  // namespace

int main() {
  {
    std::string data;
    std::string path = bench::corpus_dir() + "/truecolor.txt";
    if (!bench::read_file(path, data)) {
      std::fprintf(stderr, "bench-te-throughput: cannot read %s (run bench/gen_corpus.py)\n", path.c_str());
      return 1;
    }
    // Alternated, so that a machine that slows down in between weighs on both.
    double with = 0, without = 0;
    for (int i = 0; i < 3; i++) {
      with = std::max(with, ours(data, EMODE_XTERM256, true));
      without = std::max(without, ours(data, EMODE_XTERM256, false));
    }
    bench::line("te.throughput.xterm256.truecolor", with, "MB/s", "sixteen-only", without);
  }
  const char* corpora[] = {"prose", "ls", "editor", "utf8"};
  for (const char* name : corpora) {
    std::string data;
    std::string path = bench::corpus_dir() + "/" + name + ".txt";
    if (!bench::read_file(path, data)) {
      std::fprintf(stderr, "bench-te-throughput: cannot read %s (run bench/gen_corpus.py)\n", path.c_str());
      return 1;
    }
    double peerVterm = -1, peerTsm = -1;
#ifdef KVX_HAVE_VTERM
    peerVterm = vterm(data);
#endif
#ifdef KVX_HAVE_TSM
    peerTsm = tsm(data);
#endif
    struct Member {
      const char* name;
      int emode;
    } members[] = {{"mac", EMODE_MAC}, {"vt220", EMODE_VT220}};
    for (const Member& m : members) {
      double mine = ours(data, m.emode);
      std::string label = std::string("te.throughput.") + m.name + "." + name;
      if (peerVterm >= 0) bench::line(label, mine, "MB/s", "libvterm", peerVterm);
      if (peerTsm >= 0) bench::line(label, mine, "MB/s", "libtsm", peerTsm);
      if (peerVterm < 0 && peerTsm < 0) bench::line(label, mine, "MB/s");
    }
  }
  return 0;
}
