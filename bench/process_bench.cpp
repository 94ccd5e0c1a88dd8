// Processes under kivos-run against the host's own, measured in one run:
// spawn, exit and waitpid of a small program (posix_spawn of a static one);
// 64 MiB through a pipe between two processes in 64 KiB writes (dd | dd);
// and the memory of 64 live processes.
#include <chrono>
#include <cstdio>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

struct figures {
  double seconds;
  long max_rss_kib;
};

// Runs ARGV as a child and says how long it took and its peak memory.
figures measure(std::vector<std::string> args) {
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  auto begin = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return {-1, 0};
  int status;
  rusage use{};
  wait4(pid, &status, 0, &use);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "%s failed\n", argv[0]);
  return {s, use.ru_maxrss};
}

} // namespace

int main() {
  const std::string run = KIVOS_RUN_PATH, root = BENCH_DIR, loop = root + "/process_loop";
  const int spawns = 500;
  auto k = measure({run, "--root", root, loop, "spawn", std::to_string(spawns)});
  auto base = measure({run, "--root", root, loop, "exit"});
  auto begin = std::chrono::steady_clock::now();
  for (int i = 0; i < spawns; ++i) measure({HOST_EXIT_PATH});
  double host = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  double per_k = (k.seconds - base.seconds) / spawns, per_host = host / spawns;
  std::printf("spawn+exit+waitpid: kivos-run %.1f us, host posix_spawn %.1f us: %.2f times\n",
              per_k * 1e6, per_host * 1e6, per_k / per_host);
  auto pump = measure({run, "--root", root, loop, "pump", "64"});
  auto dd = measure({"/bin/sh", "-c",
                     "dd if=/dev/zero bs=64K count=1024 status=none | dd of=/dev/null bs=64K "
                     "status=none"});
  std::printf("64 MiB through a pipe: kivos-run %.3f s, dd | dd %.3f s: %.2f times\n", pump.seconds,
              dd.seconds, pump.seconds / dd.seconds);
  auto hold = measure({run, "--root", root, loop, "hold", "63"});
  std::printf("64 live processes: %.0f MiB resident at the peak (one process: %.0f MiB)\n",
              double(hold.max_rss_kib) / 1024, double(base.max_rss_kib) / 1024);
}
