// Whole-process replay: the time from start to exit of `te-replay` fed a
// corpus file (code pages loaded, the file read, the screen printed), beside
// `tsm-replay` (libtsm fed the same file in the same 4 KiB reads, one screen
// draw per read) in the same run.  Rates over the file in MB/s.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "bench_util.h"

namespace {

constexpr int kRuns = 5;

// Seconds of one run of `argv` with its output thrown away; negative when
// it fails.
double run_once(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const double start = bench::now();
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return bench::now() - start;
}

double rate(const std::vector<std::string>& args, size_t bytes) {
  bool failed = false;
  double secs = bench::median_seconds(kRuns, [&] {
    if (run_once(args) < 0) failed = true;
  });
  return failed || secs <= 0 ? -1 : bytes / secs / 1e6;
}

}  // namespace

int main() {
  const std::string replay = KVX_RUNTIME_DIR "/te-replay";
  const std::string tsm = KVX_BENCH_DIR "/tsm-replay";
  const bool haveTsm = access(tsm.c_str(), X_OK) == 0;
  for (const char* name : {"utf8", "prose", "truecolor"}) {
    std::string path = bench::corpus_dir() + "/" + name + ".txt";
    std::string data;
    if (!bench::read_file(path, data)) {
      std::fprintf(stderr, "bench-replay-process: cannot read %s (run bench/gen_corpus.py)\n", path.c_str());
      return 1;
    }
    const double ours = rate({replay, "--emulation", "xterm256", path}, data.size());
    if (ours < 0) {
      std::fprintf(stderr, "bench-replay-process: %s failed on %s\n", replay.c_str(), path.c_str());
      return 1;
    }
    const std::string label = std::string("te.replay-process.") + name;
    const double peer = haveTsm ? rate({tsm, path}, data.size()) : -1;
    if (peer > 0)
      bench::line(label, ours, "MB/s", "libtsm", peer);
    else
      bench::line(label, ours, "MB/s");
  }
  return 0;
}
