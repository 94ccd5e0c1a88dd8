#include "root_fs.h"

#include "kernel.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kivos {
namespace {

constexpr uint64_t confined = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;

int openat2_in(int dirfd, const std::string &path, uint64_t flags, uint64_t mode) {
  open_how how{};
  how.flags = flags | O_CLOEXEC;
  how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
  how.resolve = confined;
  for (;;) {
    long fd = syscall(SYS_openat2, dirfd, path.c_str(), &how, sizeof how);
    if (fd >= 0) return int(fd);
    // Interrupted by the time limit: give up; by anything else: again.
    if ((errno != EAGAIN && errno != EINTR) || (errno == EINTR && time_up())) return -errno;
  }
}

struct fd_guard {
  int fd;
  ~fd_guard() {
    if (fd >= 0) ::close(fd);
  }
};

} // namespace

root_fs::~root_fs() {
  if (root_fd >= 0) ::close(root_fd);
}

std::string root_fs::open_root(const std::string &path) {
  root_fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (root_fd < 0) return "root folder " + path + ": " + std::strerror(errno);
  char buf[PATH_MAX];
  if (!realpath(path.c_str(), buf)) return "root folder " + path + ": " + std::strerror(errno);
  root_real = buf;
  return {};
}

namespace {

std::string absolute(const std::string &cwd, const std::string &path) {
  if (!path.empty() && path[0] == '/') return path;
  return cwd == "/" ? "/" + path : cwd + "/" + path;
}

} // namespace

int root_fs::open(const std::string &cwd, const std::string &path, int host_flags,
                  unsigned mode) const {
  if (path.empty()) return -ENOENT;
  return openat2_in(root_fd, absolute(cwd, path), uint64_t(host_flags), mode);
}

int root_fs::open_parent(const std::string &cwd, const std::string &path, std::string &base) const {
  if (path.empty()) return -ENOENT;
  std::string p = absolute(cwd, path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
  base = p.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") return -EINVAL;
  return openat2_in(root_fd, slash == 0 ? "/" : p.substr(0, slash), O_PATH | O_DIRECTORY, 0);
}

int root_fs::mkdir(const std::string &cwd, const std::string &path) const {
  return in_parent(cwd, path, [](int dir, const char *base) { return ::mkdirat(dir, base, 0755); });
}

int root_fs::unlink(const std::string &cwd, const std::string &path) const {
  return in_parent(cwd, path, [](int dir, const char *base) { return ::unlinkat(dir, base, 0); });
}

int root_fs::mkfifo(const std::string &cwd, const std::string &path) const {
  return in_parent(cwd, path,
                   [](int dir, const char *base) { return ::mkfifoat(dir, base, 0644); });
}

int root_fs::rmdir(const std::string &cwd, const std::string &path) const {
  return in_parent(cwd, path,
                   [](int dir, const char *base) { return ::unlinkat(dir, base, AT_REMOVEDIR); });
}

int root_fs::chdir(std::string &cwd, const std::string &path) const {
  if (path.empty()) return -ENOENT;
  fd_guard dir{openat2_in(root_fd, absolute(cwd, path), O_PATH | O_DIRECTORY, 0)};
  if (dir.fd < 0) return dir.fd;
  // Where the folder really is, as a path inside the root.
  char buf[PATH_MAX];
  std::string link = "/proc/self/fd/" + std::to_string(dir.fd);
  ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  if (n < 0) return -errno;
  std::string real(buf, size_t(n));
  if (real == root_real) {
    cwd = "/";
  } else if (real.compare(0, root_real.size(), root_real) == 0 &&
             (root_real == "/" || real[root_real.size()] == '/')) {
    cwd = root_real == "/" ? real : real.substr(root_real.size());
  } else {
    return -ENOENT;
  }
  return 0;
}

int root_fs::begin_whole(const std::string &cwd, const std::string &path) const {
  std::string base;
  fd_guard dir{open_parent(cwd, path, base)};
  if (dir.fd < 0) return dir.fd;
  int fd = ::openat(dir.fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
  return fd >= 0 ? fd : -errno;
}

int root_fs::place_whole(const std::string &cwd, const std::string &path, int fd) const {
  std::string base;
  fd_guard dir{open_parent(cwd, path, base)};
  if (dir.fd < 0) return dir.fd;
  static unsigned serial;
  std::string temp = ".kivos-" + std::to_string(getpid()) + "-s" + std::to_string(++serial);
  if (::fsync(fd) != 0 || ::linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd)).c_str(),
                                   dir.fd, temp.c_str(), AT_SYMLINK_FOLLOW) != 0)
    return -errno;
  if (::renameat(dir.fd, temp.c_str(), dir.fd, base.c_str()) == 0) return 0;
  int err = errno;
  ::unlinkat(dir.fd, temp.c_str(), 0);
  return -err;
}

int root_fs::write_whole(const std::string &cwd, const std::string &path, const void *data,
                         uint32_t len) const {
  std::string base;
  fd_guard dir{open_parent(cwd, path, base)};
  if (dir.fd < 0) return dir.fd;
  // An unnamed file, named only once it is complete: an interruption at any
  // point leaves nothing behind. The temporary name is short, so that any
  // name the folder takes works.
  static unsigned serial;
  std::string temp = ".kivos-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
  int fd = ::openat(dir.fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
  bool unnamed = fd >= 0;
  // Where the file system has no unnamed files, signals wait until the
  // named one is gone or in place.
  sigset_t all, before;
  sigfillset(&all);
  if (!unnamed) {
    sigprocmask(SIG_BLOCK, &all, &before);
    fd = ::openat(dir.fd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      int err = errno;
      sigprocmask(SIG_SETMASK, &before, nullptr);
      return -err;
    }
  }
  int err = 0;
  auto *p = static_cast<const char *>(data);
  for (uint32_t done = 0; done < len && !err;) {
    ssize_t n = ::write(fd, p + done, len - done);
    if (n < 0 && errno != EINTR) err = errno;
    if (n > 0) done += uint32_t(n);
  }
  if (!err && ::fsync(fd) != 0) err = errno;
  if (unnamed) sigprocmask(SIG_BLOCK, &all, &before);
  if (!err && unnamed &&
      ::linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd)).c_str(), dir.fd, temp.c_str(),
               AT_SYMLINK_FOLLOW) != 0)
    err = errno;
  else if (!err && ::renameat(dir.fd, temp.c_str(), dir.fd, base.c_str()) != 0)
    err = errno;
  if (err) ::unlinkat(dir.fd, temp.c_str(), 0);
  sigprocmask(SIG_SETMASK, &before, nullptr);
  if (::close(fd) != 0 && !err) err = errno;
  if (err) return -err;
  return int(len > INT_MAX ? INT_MAX : len);
}

} // namespace kivos
