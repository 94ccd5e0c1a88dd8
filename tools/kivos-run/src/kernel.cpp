#include "kernel.h"

#include "../../common/text.h"
#include "syscalls.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <kivos/syscalls.h>
#include <thread>
#include <unistd.h>

namespace kivos {
namespace {

constexpr uint32_t max_path = 4096;
constexpr size_t max_files = 256;
constexpr size_t console_block = 1 << 16;

volatile sig_atomic_t g_time_up;
void (*volatile g_stop)(void *);
void *volatile g_stop_arg;

void on_alarm(int) {
  g_time_up = 1;
  if (g_stop) g_stop(g_stop_arg);
}

} // namespace

bool time_up() {
  return g_time_up;
}

deadline_alarm::deadline_alarm(const std::chrono::steady_clock::time_point *deadline,
                               void (*stop)(void *), void *stop_arg) {
  g_time_up = 0;
  if (!deadline) return;
  g_stop_arg = stop_arg;
  g_stop = stop;
  struct sigaction on = {};
  on.sa_handler = on_alarm; // no SA_RESTART: blocked calls return EINTR
  sigemptyset(&on.sa_mask);
  sigaction(SIGALRM, &on, &before);
  sigevent ev = {};
  ev.sigev_notify = SIGEV_THREAD_ID;
  ev.sigev_signo = SIGALRM;
  ev._sigev_un._tid = gettid(); // this thread, the one that serves the traps
  if (timer_create(CLOCK_MONOTONIC, &ev, &timer) != 0) return;
  auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(deadline->time_since_epoch()).count();
  itimerspec when = {};
  when.it_value = {time_t(ns / 1000000000), long(ns % 1000000000)};
  when.it_interval = {0, 20000000};
  armed = timer_settime(timer, TIMER_ABSTIME, &when, nullptr) == 0;
}

deadline_alarm::~deadline_alarm() {
  if (armed) timer_delete(timer);
  if (armed) sigaction(SIGALRM, &before, nullptr);
  g_stop = nullptr;
  g_time_up = 0;
}

int32_t drive_table::probe(int32_t index) const {
  if (index >= 0 && size_t(index) < probes.size()) return probes[size_t(index)];
  return 1;
}

kernel::kernel(const run_options &o, guest_memory &m, run_result &r)
    : options(o), memory(m), result(r), files(3) {
  keep_data = o.record_traps || o.trace;
  console_is_tty = !o.capture_console && isatty(1);
}

kernel::~kernel() {
  flush_console();
  for (open_file &f : files) {
    if (f.host_fd >= 0) ::close(f.host_fd);
  }
}

void kernel::flush_console() {
  if (console_pending.empty()) return;
  console_started = true;
  if (!console_error && !tools::write_all(1, console_pending.data(), console_pending.size())) {
    console_error = errno ? errno : EIO;
    result.output_error = std::strerror(console_error);
  }
  console_pending.clear();
}

kernel::open_file *kernel::file(uint32_t fd) {
  if (fd < 3 || fd >= files.size() || files[fd].host_fd < 0) return nullptr;
  return &files[fd];
}

int32_t kernel::path_arg(uint32_t addr, std::string &path) const {
  guest_memory::string_error err;
  auto s = memory.read_string(addr, max_path, err);
  if (!s) return err == guest_memory::string_error::too_long ? -ENAMETOOLONG : -EFAULT;
  path = std::move(*s);
  return 0;
}

int32_t kernel::console_write(uint32_t buf, uint32_t len) {
  if (console_error) return -console_error;
  std::string &out = options.capture_console ? result.console : console_pending;
  if (!memory.append(buf, len, out)) return -EFAULT;
  if (!options.capture_console) {
    // Output leaves in large blocks; a terminal still sees every finished
    // line, and the first write goes at once, so that an output that cannot
    // be written fails the program's first write.
    if (console_pending.size() >= console_block || options.trace || !console_started ||
        (console_is_tty &&
         console_pending.find('\n', console_pending.size() - len) != std::string::npos))
      flush_console();
  }
  return console_error ? -console_error : int32_t(len);
}

int32_t kernel::read_input(uint32_t buf, uint32_t len) {
  if (!memory.accessible(buf, len, prot_write)) return -EFAULT;
  if (options.input) {
    const std::string &in = *options.input;
    uint32_t n = uint32_t(std::min<size_t>(len, in.size() - input_pos));
    memory.write(buf, in.data() + input_pos, n);
    input_pos += n;
    return int32_t(n);
  }
  flush_console();
  return host_read(0, buf, len);
}

// Reads from a host descriptor into guest memory. A call the time limit
// cuts short ends the run; others cut short by a signal are repeated.
int32_t kernel::host_read(int host_fd, uint32_t buf, uint32_t len) {
  std::string tmp(std::min<uint32_t>(len, 1u << 20), '\0');
  ssize_t n;
  do n = ::read(host_fd, tmp.data(), tmp.size());
  while (n < 0 && errno == EINTR && !out_of_time());
  if (n < 0) return out_of_time() ? 0 : -errno;
  memory.write(buf, tmp.data(), uint32_t(n));
  return int32_t(n);
}

bool kernel::out_of_time() {
  if (time_up()) deadline_hit = true;
  return deadline_hit;
}

int32_t kernel::getkey() {
  if (options.input) {
    if (input_pos >= options.input->size()) return -1;
    return uint8_t((*options.input)[input_pos++]);
  }
  flush_console();
  uint8_t key;
  ssize_t n;
  do n = ::read(0, &key, 1);
  while (n < 0 && errno == EINTR && !out_of_time());
  return n == 1 ? key : -1;
}

int32_t kernel::write(uint32_t fd, uint32_t buf, uint32_t len) {
  if (len > INT32_MAX) return -EINVAL;
  if (fd == 1 || fd == 2) return console_write(buf, len);
  open_file *f = file(fd);
  if (!f) return -EBADF;
  if (!f->writable) return -EBADF;
  std::string bytes;
  if (!memory.append(buf, len, bytes)) return -EFAULT;
  ssize_t n;
  do n = ::write(f->host_fd, bytes.data(), bytes.size());
  while (n < 0 && errno == EINTR && !out_of_time());
  return n < 0 ? -errno : int32_t(n);
}

int32_t kernel::read(uint32_t fd, uint32_t buf, uint32_t len) {
  if (len > INT32_MAX) return -EINVAL;
  if (fd == 0) return read_input(buf, len);
  open_file *f = file(fd);
  if (!f) return -EBADF;
  if (!f->readable) return -EBADF;
  if (!memory.accessible(buf, len, prot_write)) return -EFAULT;
  return host_read(f->host_fd, buf, len);
}

int32_t kernel::exit(uint32_t status) {
  exited = true;
  result.exit_status = int32_t(status);
  return 0;
}

int32_t kernel::open(uint32_t path_addr, uint32_t flags) {
  std::string path;
  if (int32_t err = path_arg(path_addr, path)) return err;
  uint32_t access = flags & 3;
  if (access == 3 || (flags & ~0x243u)) return -EINVAL;
  int host = access == 0 ? O_RDONLY : access == 1 ? O_WRONLY : O_RDWR;
  if (flags & 0x40) host |= O_CREAT;
  if (flags & 0x200) host |= O_TRUNC;
  auto slot = std::find_if(files.begin() + 3, files.end(), [](auto &f) { return f.host_fd < 0; });
  if (slot == files.end() && files.size() >= max_files) return -EMFILE;
  int fd = fs.open(path, host); // may wait for the other end of a FIFO
  if (fd < 0) return out_of_time() ? 0 : fd;
  open_file f{fd, access != 1, access != 0};
  if (slot == files.end()) {
    files.push_back(f);
    return int32_t(files.size() - 1);
  }
  *slot = f;
  return int32_t(slot - files.begin());
}

int32_t kernel::close(uint32_t fd) {
  if (fd < 3) return fd < files.size() ? 0 : -EBADF;
  open_file *f = file(fd);
  if (!f) return -EBADF;
  int r = ::close(f->host_fd);
  *f = {};
  return r == 0 ? 0 : -errno;
}

int32_t kernel::lseek(uint32_t fd, uint32_t offset, uint32_t whence) {
  open_file *f = file(fd);
  if (!f) return fd < 3 ? -ESPIPE : -EBADF;
  if (whence > 2) return -EINVAL;
  off_t r = ::lseek(f->host_fd, off_t(int32_t(offset)), int(whence));
  if (r < 0) return -errno;
  return r > INT32_MAX ? -EOVERFLOW : int32_t(r);
}

int32_t kernel::writefile(uint32_t path_addr, uint32_t buf, uint32_t len) {
  std::string path, bytes;
  if (int32_t err = path_arg(path_addr, path)) return err;
  if (!memory.append(buf, len, bytes)) return -EFAULT;
  return fs.write_whole(path, bytes.data(), uint32_t(bytes.size()));
}

int32_t kernel::getcwd(uint32_t buf, uint32_t size) {
  const std::string &cwd = fs.cwd;
  if (cwd.size() + 1 > size) return -ERANGE;
  if (!memory.write(buf, cwd.c_str(), uint32_t(cwd.size() + 1))) return -EFAULT;
  return int32_t(cwd.size() + 1);
}

int32_t kernel::sleep_for(uint32_t usec) {
  if (!options.real_sleep) return 0;
  flush_console();
  auto wake = std::chrono::steady_clock::now() + std::chrono::microseconds(usec);
  if (has_deadline && wake >= deadline) {
    // The program would still be asleep when its time is up.
    std::this_thread::sleep_until(deadline);
    deadline_hit = true;
    return 0;
  }
  std::this_thread::sleep_until(wake);
  return 0;
}

namespace {

using A = arg;
using K = kernel;
using T = const trap_record &;

// Every call a kivos kernel knows, whether the stand-in serves it or not.
constexpr syscall_row table[] = {
    {KIVOS_SYS_WRITE,
     "write",
     {A::descriptor, A::buffer_in, A::length},
     "console,file",
     [](K &k, T t) { return k.write(t.ebx, t.ecx, t.edx); }},
    {KIVOS_SYS_EXIT, "_exit", {A::integer}, "process", [](K &k, T t) { return k.exit(t.ebx); }},
    {KIVOS_SYS_READ,
     "read",
     {A::descriptor, A::buffer_out, A::length},
     "console,file",
     [](K &k, T t) { return k.read(t.ebx, t.ecx, t.edx); }},
    {KIVOS_SYS_OPEN,
     "open",
     {A::path, A::flags, A::address},
     "file",
     [](K &k, T t) { return k.open(t.ebx, t.ecx); }},
    {KIVOS_SYS_CLOSE, "close", {A::descriptor}, "file", [](K &k, T t) { return k.close(t.ebx); }},
    {KIVOS_SYS_GETKEY, "getkey", {}, "console", [](K &k, T) { return k.getkey(); }},
    {KIVOS_SYS_WRITEFILE,
     "writefile",
     {A::path, A::buffer_in, A::length},
     "file",
     [](K &k, T t) { return k.writefile(t.ebx, t.ecx, t.edx); }},
    {KIVOS_SYS_USLEEP,
     "usleep",
     {A::count},
     "process",
     [](K &k, T t) { return k.sleep_for(t.ebx); }},
    {KIVOS_SYS_MKDIR,
     "mkdir",
     {A::path},
     "file",
     [](K &k, T t) { return k.with_path(t.ebx, [&](auto &p) { return k.fs.mkdir(p); }); }},
    {KIVOS_SYS_UNLINK,
     "unlink",
     {A::path},
     "file",
     [](K &k, T t) { return k.with_path(t.ebx, [&](auto &p) { return k.fs.unlink(p); }); }},
    {KIVOS_SYS_RMDIR,
     "rmdir",
     {A::path},
     "file",
     [](K &k, T t) { return k.with_path(t.ebx, [&](auto &p) { return k.fs.rmdir(p); }); }},
    {KIVOS_SYS_GETCWD,
     "getcwd",
     {A::address, A::integer},
     "file",
     [](K &k, T t) { return k.getcwd(t.ebx, t.ecx); }},
    {KIVOS_SYS_STREAM_BEGIN, "kivfs_stream_begin", {A::path}, "file,stream", nullptr},
    {KIVOS_SYS_STREAM_WRITE,
     "kivfs_stream_write",
     {A::integer, A::buffer_in, A::length},
     "file,stream",
     nullptr},
    {KIVOS_SYS_STREAM_END, "kivfs_stream_end", {A::integer}, "file,stream", nullptr},
    {KIVOS_SYS_DRIVE_CURRENT,
     "drive_current",
     {},
     "drive",
     [](K &k, T) { return k.options.drives.current; }},
    {KIVOS_SYS_DRIVE_COUNT,
     "drive_count",
     {},
     "drive",
     [](K &k, T) { return k.options.drives.count; }},
    {KIVOS_SYS_DRIVE_PROBE,
     "drive_probe",
     {A::integer},
     "drive",
     [](K &k, T t) { return k.options.drives.probe(int32_t(t.ebx)); }},
    {KIVOS_SYS_CHDIR,
     "chdir",
     {A::path},
     "file",
     [](K &k, T t) { return k.with_path(t.ebx, [&](auto &p) { return k.fs.chdir(p); }); }},
    {KIVOS_SYS_LSEEK,
     "lseek",
     {A::descriptor, A::integer, A::integer},
     "file",
     [](K &k, T t) { return k.lseek(t.ebx, t.ecx, t.edx); }},
    {KIVOS_SYS_PIPE, "pipe", {A::address}, "file", nullptr},
    {KIVOS_SYS_MKFIFO, "mkfifo", {A::path}, "file", nullptr},
    {KIVOS_SYS_DUP, "dup", {A::descriptor}, "file", nullptr},
    {KIVOS_SYS_DUP2, "dup2", {A::descriptor, A::descriptor}, "file", nullptr},
    {KIVOS_SYS_FD_SET_INHERIT, "fd_set_inherit", {A::descriptor}, "file", nullptr},
    {KIVOS_SYS_FD_SET_STDIO,
     "fd_set_stdio",
     {A::descriptor, A::descriptor, A::descriptor},
     "file",
     nullptr},
    {KIVOS_SYS_FD_SET_NONBLOCK, "fd_set_nonblock", {A::descriptor, A::integer}, "file", nullptr},
    {KIVOS_SYS_SPAWN, "spawn", {A::path, A::address, A::integer}, "process", nullptr},
    {KIVOS_SYS_WAITPID, "waitpid", {A::integer, A::address, A::integer}, "process", nullptr},
};

} // namespace

std::span<const syscall_row> syscall_table() {
  return table;
}

const syscall_row *find_syscall(uint32_t number) {
  for (const syscall_row &row : table)
    if (row.number == number) return &row;
  return nullptr;
}

bool kernel::serve(trap_record &t) {
  const syscall_row *row = find_syscall(t.number);
  const uint32_t regs[3] = {t.ebx, t.ecx, t.edx};
  // What the program hands over is kept as it was before the call.
  if (keep_data && row) {
    for (int i = 0; i < 2; ++i)
      if (row->args[i] == arg::buffer_in && !memory.append(regs[i], regs[i + 1], t.data))
        t.data.clear();
  }
  if (options.override_result && t.number != KIVOS_SYS_EXIT) {
    if (std::optional<int32_t> forced = options.override_result(t)) {
      t.result = *forced;
      t.injected = true;
      return true;
    }
  }
  if (!row || !row->handler) {
    t.result = -ENOSYS;
    return false;
  }
  t.result = row->handler(*this, t);
  if (keep_data && t.result > 0) {
    for (int i = 0; i < 2; ++i)
      if (row->args[i] == arg::buffer_out)
        memory.append(regs[i], std::min(uint32_t(t.result), regs[i + 1]), t.data);
  }
  return true;
}

} // namespace kivos
