// The system calls of the stand-in kernel. A call that cannot finish now
// says what it waits for and returns outcome::waiting(); it is served again
// from the start when that may have changed, so it keeps no state of its own
// but the process's pending fields.
#include "kernel.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kivos {
namespace {

// Pipe writes of at most this many bytes go in one piece.
constexpr uint32_t atomic_write = 4096;

descriptor *slot(process &p, uint32_t fd) {
  return fd < max_descriptors && p.fds[fd] ? &p.fds[fd] : nullptr;
}

int32_t lowest_free(const process &p) {
  for (uint32_t fd = 0; fd < max_descriptors; ++fd)
    if (!p.fds[fd]) return int32_t(fd);
  return -EMFILE;
}

int32_t install(process &p, descriptor d) {
  int32_t fd = lowest_free(p);
  if (fd >= 0) p.fds[size_t(fd)] = std::move(d);
  return fd;
}

outcome wait_for(process &p, wait_state::kind_t kind, int host_fd = -1, short events = 0) {
  p.waiting = {kind, host_fd, events, {}, 0};
  return outcome::waiting();
}

bool host_ready(int fd, short events) {
  pollfd x{fd, events, 0};
  return ::poll(&x, 1, 0) > 0;
}

// Reads from a host descriptor into guest memory; a FIFO that has nothing
// yet makes the call wait.
outcome host_read(system &s, process &p, int fd, bool nonblock, uint32_t buf, uint32_t len) {
  std::string tmp(std::min<uint32_t>(len, 1u << 20), '\0');
  ssize_t n;
  do n = ::read(fd, tmp.data(), tmp.size());
  while (n < 0 && errno == EINTR && !s.out_of_time());
  if (n < 0 && errno == EAGAIN)
    return nonblock ? outcome(-EAGAIN) : wait_for(p, wait_state::host, fd, POLLIN);
  if (n < 0) return s.out_of_time() ? 0 : -errno;
  p.memory.write(buf, tmp.data(), uint32_t(n));
  return int32_t(n);
}

outcome console_read(system &s, process &p, uint32_t buf, uint32_t len) {
  if (s.options.input) {
    const std::string &in = *s.options.input;
    uint32_t n = uint32_t(std::min<size_t>(len, in.size() - s.input_pos));
    p.memory.write(buf, in.data() + s.input_pos, n);
    s.input_pos += n;
    return int32_t(n);
  }
  s.flush_console();
  if (!host_ready(0, POLLIN)) return wait_for(p, wait_state::host, 0, POLLIN);
  return host_read(s, p, 0, false, buf, len);
}

outcome pipe_read(process &p, open_object &o, uint32_t buf, uint32_t len) {
  pipe_buffer &q = *o.pipe;
  if (q.size() == 0) {
    if (q.writers == 0) return 0;
    return o.nonblock ? outcome(-EAGAIN) : wait_for(p, wait_state::kivos);
  }
  uint32_t n = uint32_t(std::min<size_t>(len, q.size()));
  p.memory.write(buf, q.bytes.data() + q.head, n);
  q.head += n;
  if (q.head == q.bytes.size() || q.head > pipe_capacity) {
    q.bytes.erase(0, q.head);
    q.head = 0;
  }
  return int32_t(n);
}

// Takes what fits of a write, keeping count in the process while it waits
// for room; a small write goes in one piece.
outcome pipe_write(process &p, open_object &o, uint32_t buf, uint32_t len) {
  pipe_buffer &q = *o.pipe;
  uint32_t &done = p.pending_done;
  if (q.readers == 0) {
    int32_t taken = int32_t(std::exchange(done, 0));
    return taken ? taken : -EPIPE;
  }
  size_t room = pipe_capacity - q.size();
  uint32_t n = uint32_t(std::min<size_t>(len - done, room));
  if (len <= atomic_write && room < len) n = 0;
  if (n && !p.memory.append(buf + done, n, q.bytes)) return -EFAULT;
  done += n;
  if (done == len || (o.nonblock && done)) return int32_t(std::exchange(done, 0));
  return o.nonblock ? outcome(-EAGAIN) : wait_for(p, wait_state::kivos);
}

// A host FIFO's identity, to see whether some kivos process holds it open
// for writing.
bool fifo_writer_among(const system &s, const struct stat &fifo) {
  for (const auto &other : s.processes)
    for (const descriptor &d : other->fds) {
      struct stat st;
      if (d && d->kind == open_object::file && d->writable && d->host_waits &&
          fstat(d->host_fd, &st) == 0 && st.st_dev == fifo.st_dev && st.st_ino == fifo.st_ino)
        return true;
    }
  return false;
}

} // namespace

namespace calls {

outcome write(system &s, process &p, uint32_t fd, uint32_t buf, uint32_t len) {
  if (len > INT32_MAX) return -EINVAL;
  descriptor *d = slot(p, fd);
  if (!d || !(*d)->writable) return -EBADF;
  open_object &o = **d;
  if (o.kind == open_object::console_out) return s.console_write(p, buf, len);
  if (o.kind == open_object::pipe_out) return pipe_write(p, o, buf, len);
  std::string bytes;
  if (!p.memory.append(buf, len, bytes)) return -EFAULT;
  ssize_t n;
  do n = ::write(o.host_fd, bytes.data(), bytes.size());
  while (n < 0 && errno == EINTR && !s.out_of_time());
  if (n < 0 && errno == EAGAIN)
    return o.nonblock ? outcome(-EAGAIN) : wait_for(p, wait_state::host, o.host_fd, POLLOUT);
  return n < 0 ? -errno : int32_t(n);
}

outcome read(system &s, process &p, uint32_t fd, uint32_t buf, uint32_t len) {
  if (len > INT32_MAX) return -EINVAL;
  descriptor *d = slot(p, fd);
  if (!d || !(*d)->readable) return -EBADF;
  if (!p.memory.accessible(buf, len, prot_write)) return -EFAULT;
  open_object &o = **d;
  if (o.kind == open_object::console_in) return console_read(s, p, buf, len);
  if (o.kind == open_object::pipe_in) return pipe_read(p, o, buf, len);
  return host_read(s, p, o.host_fd, o.nonblock, buf, len);
}

outcome getkey(system &s, process &p) {
  if (s.options.input) {
    if (s.input_pos >= s.options.input->size()) return -1;
    return uint8_t((*s.options.input)[s.input_pos++]);
  }
  s.flush_console();
  if (!host_ready(0, POLLIN)) return wait_for(p, wait_state::host, 0, POLLIN);
  uint8_t key;
  ssize_t n;
  do n = ::read(0, &key, 1);
  while (n < 0 && errno == EINTR && !s.out_of_time());
  return n == 1 ? key : -1;
}

outcome open(system &s, process &p, uint32_t path_addr, uint32_t flags) {
  std::string path;
  if (int32_t err = s.path_arg(p, path_addr, path)) return err;
  uint32_t access = flags & 3;
  if (access == 3 || (flags & ~0x243u)) return -EINVAL;
  int host = (access == 0 ? O_RDONLY : access == 1 ? O_WRONLY : O_RDWR) | O_NONBLOCK;
  if (flags & 0x40) host |= O_CREAT;
  if (flags & 0x200) host |= O_TRUNC;
  if (lowest_free(p) < 0) return -EMFILE;
  // A FIFO opened for writing waits for a reader; one opened for reading
  // waits, holding its end, until a writer comes.
  int fd = p.pending_fd >= 0 ? std::exchange(p.pending_fd, -1) : s.fs.open(p.cwd, path, host);
  if (fd == -ENXIO) return wait_for(p, wait_state::retry);
  if (fd < 0) return fd;
  struct stat st;
  bool fifo = fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
  if (fifo && access == 0 && !fifo_writer_among(s, st) && !host_ready(fd, POLLIN)) {
    p.pending_fd = fd;
    return wait_for(p, wait_state::retry);
  }
  if (!fifo) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  auto o = std::make_shared<open_object>(open_object::file);
  o->host_fd = fd;
  o->name = path[0] == '/' ? path : p.cwd == "/" ? "/" + path : p.cwd + "/" + path;
  o->readable = access != 1;
  o->writable = access != 0;
  o->host_waits = fifo;
  return install(p, std::move(o));
}

outcome close(system &, process &p, uint32_t fd) {
  descriptor *d = slot(p, fd);
  if (!d) return -EBADF;
  // The last reference closes the host file, and says how that went.
  if (d->use_count() == 1 && (*d)->host_fd >= 0) {
    int r = ::close(std::exchange((*d)->host_fd, -1));
    d->reset();
    return r == 0 ? 0 : -errno;
  }
  d->reset();
  return 0;
}

outcome lseek(system &, process &p, uint32_t fd, uint32_t offset, uint32_t whence) {
  descriptor *d = slot(p, fd);
  if (!d) return -EBADF;
  if ((*d)->kind != open_object::file || (*d)->host_waits) return -ESPIPE;
  if (whence > 2) return -EINVAL;
  off_t r = ::lseek((*d)->host_fd, off_t(int32_t(offset)), int(whence));
  if (r < 0) return -errno;
  return r > INT32_MAX ? -EOVERFLOW : int32_t(r);
}

outcome writefile(system &s, process &p, uint32_t path_addr, uint32_t buf, uint32_t len) {
  std::string path, bytes;
  if (int32_t err = s.path_arg(p, path_addr, path)) return err;
  if (!p.memory.append(buf, len, bytes)) return -EFAULT;
  return s.fs.write_whole(p.cwd, path, bytes.data(), uint32_t(bytes.size()));
}

outcome getcwd(system &, process &p, uint32_t buf, uint32_t size) {
  if (p.cwd.size() + 1 > size) return -ERANGE;
  if (!p.memory.write(buf, p.cwd.c_str(), uint32_t(p.cwd.size() + 1))) return -EFAULT;
  return int32_t(p.cwd.size() + 1);
}

outcome chdir(system &s, process &p, uint32_t path_addr) {
  std::string path;
  if (int32_t err = s.path_arg(p, path_addr, path)) return err;
  return s.fs.chdir(p.cwd, path);
}

outcome sleep_for(system &s, process &p, uint32_t usec) {
  if (!s.options.real_sleep) return 0;
  if (p.waiting.kind == wait_state::until)
    return clock::now() >= p.waiting.wake ? 0 : outcome::waiting();
  s.flush_console();
  p.waiting = {wait_state::until, -1, 0, clock::now() + std::chrono::microseconds(usec), 0};
  return outcome::waiting();
}

outcome pipe(system &s, process &p, uint32_t fds) {
  if (!p.memory.accessible(fds, 8, prot_write)) return -EFAULT;
  auto q = std::make_shared<pipe_buffer>();
  std::string name = "pipe:[" + std::to_string(s.next_pipe++) + "]";
  auto read_end = std::make_shared<open_object>(open_object::pipe_in, q);
  auto write_end = std::make_shared<open_object>(open_object::pipe_out, q);
  read_end->name = write_end->name = name;
  int32_t in = install(p, read_end);
  if (in < 0) return in;
  int32_t out = install(p, write_end);
  if (out < 0) {
    p.fds[size_t(in)].reset();
    return out;
  }
  int32_t pair[2] = {in, out};
  p.memory.write(fds, pair, sizeof pair);
  return 0;
}

outcome dup(system &, process &p, uint32_t fd) {
  descriptor *d = slot(p, fd);
  if (!d) return -EBADF;
  return install(p, *d);
}

outcome dup2(system &, process &p, uint32_t old_fd, uint32_t new_fd) {
  descriptor *d = slot(p, old_fd);
  if (!d || new_fd >= max_descriptors) return -EBADF;
  if (old_fd != new_fd) p.fds[new_fd] = *d;
  return int32_t(new_fd);
}

outcome set_inherit(system &, process &p, uint32_t on) {
  p.inherit = on != 0;
  return 0;
}

outcome set_stdio(system &, process &p, uint32_t in, uint32_t out, uint32_t err) {
  const uint32_t chosen[3] = {in, out, err};
  for (uint32_t fd : chosen)
    if (int32_t(fd) != -1 && !slot(p, fd)) return -EBADF;
  for (int i = 0; i < 3; ++i) p.stdio[size_t(i)] = int32_t(chosen[i]);
  return 0;
}

outcome set_nonblock(system &, process &p, uint32_t fd, uint32_t on) {
  descriptor *d = slot(p, fd);
  if (!d) return -EBADF;
  (*d)->nonblock = on != 0;
  return 0;
}

outcome spawn(system &s, process &p, uint32_t path_addr, uint32_t argv, uint32_t argc) {
  std::string path;
  if (int32_t err = s.path_arg(p, path_addr, path)) return err;
  if (argc > 4096 || !p.memory.accessible(argv, 4 * argc, prot_read)) return -EFAULT;
  std::vector<std::string> args;
  for (uint32_t i = 0; i < argc; ++i) {
    uint32_t at = 0;
    p.memory.read(argv + 4 * i, &at, 4);
    args.emplace_back();
    if (int32_t err = s.path_arg(p, at, args.back())) return err;
  }
  if (s.alive() >= max_processes) return -EAGAIN;
  int fd = s.fs.open(p.cwd, path, O_RDONLY | O_NONBLOCK);
  if (fd < 0) return fd;
  std::string why;
  auto image = elf32::read_fd(fd, why);
  if (!image) return -ENOEXEC;
  if (args.empty()) args.push_back(path);
  int32_t pid = s.start_child(p, *image, std::move(args));
  if (pid < 0) return pid;
  process &child = *s.find(pid);
  for (uint32_t fd_no = 0; fd_no < max_descriptors; ++fd_no) {
    if (fd_no < 3)
      child.fds[fd_no] = p.stdio[fd_no] == -1 ? p.fds[fd_no] : p.fds[size_t(p.stdio[fd_no])];
    else if (p.inherit)
      child.fds[fd_no] = p.fds[fd_no];
  }
  return pid;
}

outcome waitpid(system &s, process &p, uint32_t pid, uint32_t status, uint32_t options) {
  process *found = nullptr;
  bool any = false;
  for (auto &c : s.processes) {
    if (c->parent != p.pid || c->reaped || (int32_t(pid) != -1 && c->pid != int32_t(pid))) continue;
    any = true;
    if (c->ended && !found) found = c.get();
  }
  if (!any) return -ECHILD;
  if (!found) return options & 1 ? outcome(0) : wait_for(p, wait_state::kivos);
  if (status && !p.memory.write(status, &found->status, 4)) return -EFAULT;
  found->reaped = true;
  return found->pid;
}

outcome stream_begin(system &s, process &p, uint32_t path_addr) {
  std::string path;
  if (int32_t err = s.path_arg(p, path_addr, path)) return err;
  int fd = s.fs.begin_whole(p.cwd, path);
  if (fd < 0) return fd;
  int32_t handle = p.next_stream++;
  p.streams[handle] = {path, p.cwd, fd};
  return handle;
}

outcome stream_write(system &, process &p, uint32_t handle, uint32_t buf, uint32_t len) {
  auto it = p.streams.find(int32_t(handle));
  if (it == p.streams.end()) return -EBADF;
  std::string bytes;
  if (len > INT32_MAX) return -EINVAL;
  if (!p.memory.append(buf, len, bytes)) return -EFAULT;
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = ::write(it->second.host_fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno != EINTR) return -errno;
    if (n > 0) done += size_t(n);
  }
  return int32_t(len);
}

outcome stream_end(system &s, process &p, uint32_t handle) {
  auto it = p.streams.find(int32_t(handle));
  if (it == p.streams.end()) return -EBADF;
  kernel_stream stream = std::move(it->second);
  p.streams.erase(it);
  int r = s.fs.place_whole(stream.cwd, stream.path, stream.host_fd);
  ::close(stream.host_fd);
  return r;
}

} // namespace calls
} // namespace kivos
