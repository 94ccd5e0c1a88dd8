#include "kernel.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <kivos/syscalls.h>
#include <thread>
#include <unistd.h>

namespace kivos {
namespace {

constexpr uint32_t max_path = 4096;
constexpr size_t max_files = 256;
constexpr size_t console_block = 1 << 16;

bool write_all(int fd, const char *p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
  }
  return true;
}

} // namespace

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
  write_all(1, console_pending.data(), console_pending.size());
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

int32_t kernel::console_write(const trap_record &t, uint32_t len) {
  if (options.console_write_limit) len = std::min(len, options.console_write_limit);
  std::string &out = options.capture_console ? result.console : console_pending;
  if (!memory.append(t.ecx, len, out)) return -EFAULT;
  if (!options.capture_console) {
    // Output leaves in large blocks; a terminal still sees every finished line.
    if (console_pending.size() >= console_block || options.trace ||
        (console_is_tty &&
         console_pending.find('\n', console_pending.size() - len) != std::string::npos))
      flush_console();
  }
  return int32_t(len);
}

int32_t kernel::read_input(uint32_t buf, uint32_t len, std::string *data) {
  if (!memory.accessible(buf, len, prot_write)) return -EFAULT;
  if (options.input) {
    const std::string &in = *options.input;
    uint32_t n = uint32_t(std::min<size_t>(len, in.size() - input_pos));
    memory.write(buf, in.data() + input_pos, n);
    if (data) data->assign(in, input_pos, n);
    input_pos += n;
    return int32_t(n);
  }
  flush_console();
  std::string tmp(std::min<uint32_t>(len, console_block), '\0');
  ssize_t n;
  do n = ::read(0, tmp.data(), tmp.size());
  while (n < 0 && errno == EINTR);
  if (n < 0) return -errno;
  memory.write(buf, tmp.data(), uint32_t(n));
  if (data) data->assign(tmp, 0, size_t(n));
  return int32_t(n);
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
  while (n < 0 && errno == EINTR);
  return n == 1 ? key : -1;
}

int32_t kernel::file_write(open_file &f, uint32_t buf, uint32_t len) {
  if (!f.writable) return -EBADF;
  std::string bytes;
  if (!memory.append(buf, len, bytes)) return -EFAULT;
  ssize_t n = ::write(f.host_fd, bytes.data(), bytes.size());
  return n < 0 ? -errno : int32_t(n);
}

int32_t kernel::file_read(open_file &f, uint32_t buf, uint32_t len, std::string *data) {
  if (!f.readable) return -EBADF;
  if (!memory.accessible(buf, len, prot_write)) return -EFAULT;
  std::string tmp(std::min<uint32_t>(len, 1u << 20), '\0');
  ssize_t n = ::read(f.host_fd, tmp.data(), tmp.size());
  if (n < 0) return -errno;
  memory.write(buf, tmp.data(), uint32_t(n));
  if (data) data->assign(tmp, 0, size_t(n));
  return int32_t(n);
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
  int fd = fs.open(path, host);
  if (fd < 0) return fd;
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

int32_t kernel::writefile(uint32_t path_addr, uint32_t buf, uint32_t len, std::string *data) {
  std::string path, bytes;
  if (int32_t err = path_arg(path_addr, path)) return err;
  if (!memory.append(buf, len, bytes)) return -EFAULT;
  int32_t r = fs.write_whole(path, bytes.data(), uint32_t(bytes.size()));
  if (data) *data = std::move(bytes);
  return r;
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

bool kernel::serve(trap_record &t) {
  std::string *data = keep_data ? &t.data : nullptr;
  auto answer = [&t](int32_t r) {
    t.result = r;
    return true;
  };
  switch (t.number) {
  case KIVOS_SYS_WRITE: {
    uint32_t len = t.edx;
    if (len > INT32_MAX) return answer(-EINVAL);
    if (data && !memory.append(t.ecx, len, *data)) data->clear();
    if (t.ebx == 1 || t.ebx == 2) return answer(console_write(t, len));
    open_file *f = file(t.ebx);
    return answer(f ? file_write(*f, t.ecx, len) : -EBADF);
  }
  case KIVOS_SYS_READ: {
    uint32_t len = t.edx;
    if (len > INT32_MAX) return answer(-EINVAL);
    if (t.ebx == 0) return answer(read_input(t.ecx, len, data));
    open_file *f = file(t.ebx);
    return answer(f ? file_read(*f, t.ecx, len, data) : -EBADF);
  }
  case KIVOS_SYS_EXIT:
    exited = true;
    result.exit_status = int32_t(t.ebx);
    return answer(0);
  case KIVOS_SYS_OPEN:
    return answer(open(t.ebx, t.ecx));
  case KIVOS_SYS_CLOSE:
    return answer(close(t.ebx));
  case KIVOS_SYS_GETKEY:
    return answer(getkey());
  case KIVOS_SYS_WRITEFILE:
    return answer(writefile(t.ebx, t.ecx, t.edx, data));
  case KIVOS_SYS_USLEEP:
    return answer(sleep_for(t.ebx));
  case KIVOS_SYS_MKDIR:
  case KIVOS_SYS_UNLINK:
  case KIVOS_SYS_RMDIR:
  case KIVOS_SYS_CHDIR: {
    std::string path;
    if (int32_t err = path_arg(t.ebx, path)) return answer(err);
    if (t.number == KIVOS_SYS_MKDIR) return answer(fs.mkdir(path));
    if (t.number == KIVOS_SYS_UNLINK) return answer(fs.unlink(path));
    if (t.number == KIVOS_SYS_RMDIR) return answer(fs.rmdir(path));
    return answer(fs.chdir(path));
  }
  case KIVOS_SYS_GETCWD:
    return answer(getcwd(t.ebx, t.ecx));
  case KIVOS_SYS_LSEEK:
    return answer(lseek(t.ebx, t.ecx, t.edx));
  case KIVOS_SYS_DRIVE_COUNT:
    return answer(options.drives.count);
  case KIVOS_SYS_DRIVE_CURRENT:
    return answer(options.drives.current);
  case KIVOS_SYS_DRIVE_PROBE:
    return answer(options.drives.probe(int32_t(t.ebx)));
  default:
    t.result = -ENOSYS;
    return false;
  }
}

} // namespace kivos
