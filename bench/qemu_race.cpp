// The same i386 machine code under kivos-run and under qemu-i386, CPU time
// side by side: a loop of byte stores, a loop of small calls, and a program
// that exits at once. The two images differ only in the exit call's number.
//   qemu_race [KIVOS_RUN]   (qemu-i386 on the PATH; bench/qemu_race.sh sets it all up)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

void put32(bytes &b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> 8 * i));
}

// A static i386 executable: code at 0x400000, 4 KiB of data at 0x401000.
bytes image(const bytes &code) {
  bytes out(0x1000, 0), header;
  out.insert(out.end(), code.begin(), code.end());
  out.resize(0x2000, 0);
  out.resize(0x3000, 0); // the data page
  auto segment = [&](uint32_t offset, uint32_t address, uint32_t size, uint32_t flags) {
    for (uint32_t v : {1u, offset, address, address, size, size, flags, 0x1000u}) put32(header, v);
  };
  segment(0x1000, 0x400000, uint32_t(code.size()), 5);
  segment(0x2000, 0x401000, 0x1000, 6);
  const uint8_t ident[16] = {0x7f, 'E', 'L', 'F', 1, 1, 1};
  std::memcpy(out.data(), ident, 16);
  bytes rest;
  for (uint32_t v : {0x30002u, 1u, 0x400000u, 52u, 0u, 0u}) put32(rest, v);
  for (uint16_t v : {52, 32, 2, 40, 0, 0})
    rest.push_back(uint8_t(v)), rest.push_back(uint8_t(v >> 8));
  std::memcpy(out.data() + 16, rest.data(), rest.size());
  std::memcpy(out.data() + 52, header.data(), header.size());
  return out;
}

// eax = the exit call's number, ebx = 0, int 0x80.
bytes exit_with(uint32_t number) {
  bytes b{0xb8};
  put32(b, number);
  for (uint8_t x : {0x31, 0xdb, 0xcd, 0x80}) b.push_back(x);
  return b;
}

bytes store_loop(uint32_t count) {
  bytes b{0xb9};
  put32(b, count); // mov ecx, count
  b.push_back(0xbf);
  put32(b, 0x401000); // mov edi, data
  for (uint8_t x : {0x88, 0x0f, 0x49, 0x75, 0xfb})
    b.push_back(x); // 1: mov [edi], cl; dec ecx; jnz 1b
  return b;
}

// Four stores an iteration: push ecx, the call's return address, push ebp, push ebx.
bytes call_loop(uint32_t count, const bytes &exit) {
  bytes b{0xb9};
  put32(b, count);
  // 1: push ecx; call f; pop ecx; dec ecx; jnz 1b; then exit; f: push ebp;
  // mov ebp, esp; push ebx; pop ebx; pop ebp; ret
  for (uint8_t x : {0x51, 0xe8}) b.push_back(x);
  put32(b, 4 + uint32_t(exit.size()));
  for (uint8_t x : {0x59, 0x49, 0x75, 0xf6}) b.push_back(x);
  b.insert(b.end(), exit.begin(), exit.end());
  for (uint8_t x : {0x55, 0x89, 0xe5, 0x53, 0x5b, 0x5d, 0xc3}) b.push_back(x);
  return b;
}

// The child CPU time (user + system) of running the command, in seconds.
double cpu_of(const std::vector<std::string> &command) {
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char *> argv;
    for (const std::string &a : command) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage use{};
  wait4(pid, &status, 0, &use);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "qemu_race: %s failed (status %d)\n", command[0].c_str(), status);
    std::exit(1);
  }
  auto seconds = [](timeval t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(use.ru_utime) + seconds(use.ru_stime);
}

} // namespace

int main(int argc, char **argv) {
  std::string run = argc > 1 ? argv[1] : "kivos-run";
  auto dir = std::filesystem::temp_directory_path() / "kivos_qemu_race";
  std::filesystem::create_directories(dir);
  constexpr uint32_t kivos_exit = 2, linux_exit = 1;
  struct race {
    const char *name;
    bytes (*code)(uint32_t exit);
    int rounds;
  };
  const race races[] = {
      {"41 M byte stores",
       [](uint32_t e) {
         bytes b = store_loop(41'000'000), x = exit_with(e);
         b.insert(b.end(), x.begin(), x.end());
         return b;
       },
       3},
      {"35 M calls (140 M stores)", [](uint32_t e) { return call_loop(35'000'000, exit_with(e)); },
       3},
      {"start-up (exits at once)", [](uint32_t e) { return exit_with(e); }, 20},
  };
  std::printf("%-28s %12s %12s %8s\n", "run (CPU s, best of rounds)", "kivos-run", "qemu-i386",
              "ratio");
  for (const race &r : races) {
    auto write = [&](const char *suffix, uint32_t e) {
      auto path = dir / (std::string("prog.") + suffix);
      bytes b = image(r.code(e));
      std::ofstream(path, std::ios::binary).write(reinterpret_cast<char *>(b.data()), b.size());
      std::filesystem::permissions(path,
                                   std::filesystem::perms::owner_all); // qemu-i386 runs no other
      return path.string();
    };
    std::string mine = write("kivos", kivos_exit), theirs = write("linux", linux_exit);
    double best_mine = 1e9, best_theirs = 1e9;
    for (int i = 0; i < r.rounds; ++i) {
      best_mine = std::min(best_mine, cpu_of({run, mine}));
      best_theirs = std::min(best_theirs, cpu_of({"qemu-i386", theirs}));
    }
    std::printf("%-28s %12.4f %12.4f %8.2f\n", r.name, best_mine, best_theirs,
                best_mine / best_theirs);
  }
  if (!std::getenv("QEMU_RACE_KEEP")) std::filesystem::remove_all(dir);
}
