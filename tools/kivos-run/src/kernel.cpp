// What the guests share, what each owns, and the one table of system calls
// that serves them.
#include "kernel.h"

#include "../../common/text.h"
#include "syscalls.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <kivos/syscalls.h>
#include <unistd.h>
#include <utility>

namespace kivos {
namespace {

constexpr uint32_t max_path = 4096;
constexpr size_t console_block = 1 << 16;

} // namespace

int32_t drive_table::probe(int32_t index) const {
  if (index >= 0 && size_t(index) < probes.size()) return probes[size_t(index)];
  return 1;
}

open_object::open_object(kind_t k, std::shared_ptr<pipe_buffer> p) : kind(k), pipe(std::move(p)) {
  if (k == console_in || k == console_out) name = "console";
  readable = k == console_in || k == pipe_in;
  writable = k == console_out || k == pipe_out;
  if (pipe) ++(k == pipe_in ? pipe->readers : pipe->writers);
}

open_object::~open_object() {
  if (host_fd >= 0) ::close(host_fd);
  if (pipe) --(kind == pipe_in ? pipe->readers : pipe->writers);
}

process::~process() {
  close_all();
}

void process::close_all() {
  for (descriptor &d : fds) d.reset();
  for (auto &[handle, stream] : streams) ::close(stream.host_fd); // the unnamed file goes
  streams.clear();
  drop_pending();
}

void process::drop_pending() {
  pending.reset();
  waiting = {};
  pending_done = 0;
  if (pending_fd >= 0) ::close(std::exchange(pending_fd, -1));
}

system::system(const run_options &o, run_result &r) : options(o), result(r) {
  keep_data = o.record_traps || o.trace;
  console_is_tty = !o.capture_console && isatty(1);
}

system::~system() {
  flush_console();
}

void system::flush_console() {
  if (console_pending.empty()) return;
  console_started = true;
  if (!console_error && !tools::write_all(1, console_pending.data(), console_pending.size())) {
    console_error = errno ? errno : EIO;
    result.output_error = std::strerror(console_error);
  }
  console_pending.clear();
}

process *system::find(int32_t pid) {
  for (auto &p : processes)
    if (p->pid == pid) return p.get();
  return nullptr;
}

size_t system::alive() const {
  return size_t(
      std::count_if(processes.begin(), processes.end(), [](const auto &p) { return !p->reaped; }));
}

void system::end_process(process &p, int32_t status) {
  p.ended = true;
  p.status = status;
  p.close_all();
  // Nobody waits for the children of an ended process: their records go
  // as soon as they end.
  for (auto &child : processes) {
    if (child->parent != p.pid) continue;
    child->parent = 0;
    child->reaped |= child->ended;
  }
  if (p.parent == 0) p.reaped = true;
  ++epoch;
}

int32_t system::path_arg(const process &p, uint32_t addr, std::string &path) const {
  guest_memory::string_error err;
  auto s = p.memory.read_string(addr, max_path, err);
  if (!s) return err == guest_memory::string_error::too_long ? -ENAMETOOLONG : -EFAULT;
  path = std::move(*s);
  return 0;
}

bool system::out_of_time() {
  if (time_up()) deadline_hit = true;
  return deadline_hit;
}

int32_t system::console_write(process &p, uint32_t buf, uint32_t len) {
  if (console_error) return -console_error;
  std::string &out = options.capture_console ? result.console : console_pending;
  if (!p.memory.append(buf, len, out)) return -EFAULT;
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

namespace {

using A = arg;
using S = system;
using P = process;
using T = const trap_record &;

outcome ended(S &s, P &p, T t) {
  s.end_process(p, int32_t((t.ebx & 0xff) << 8));
  outcome o;
  o.kind = outcome::end;
  return o;
}

template <int (root_fs::*op)(const std::string &, const std::string &) const>
outcome on_path(S &s, P &p, T t) {
  std::string path;
  if (int32_t err = s.path_arg(p, t.ebx, path)) return err;
  return (s.fs.*op)(p.cwd, path);
}

// A call whose arguments are ebx, ecx and edx in that order, as many as it takes.
template <auto call> outcome from_registers(S &s, P &p, T t) {
  const uint32_t regs[] = {t.ebx, t.ecx, t.edx};
  return [&]<typename... R>(outcome (*)(S &, P &, R...)) {
    return [&]<size_t... i>(std::index_sequence<i...>) {
      return call(s, p, regs[i]...);
    }
    (std::index_sequence_for<R...>{});
  }(call);
}

// Every call a kivos kernel knows.
constexpr syscall_row table[] = {
    {KIVOS_SYS_WRITE,
     "write",
     {A::descriptor, A::buffer_in, A::length},
     "console,desc",
     from_registers<&calls::write>},
    {KIVOS_SYS_EXIT, "_exit", {A::integer}, "process", ended},
    {KIVOS_SYS_READ,
     "read",
     {A::descriptor, A::buffer_out, A::length},
     "console,desc",
     from_registers<&calls::read>},
    {KIVOS_SYS_OPEN,
     "open",
     {A::path, A::flags, A::address},
     "file,desc",
     from_registers<&calls::open>},
    {KIVOS_SYS_CLOSE, "close", {A::descriptor}, "desc", from_registers<&calls::close>},
    {KIVOS_SYS_GETKEY, "getkey", {}, "console", from_registers<&calls::getkey>},
    {KIVOS_SYS_WRITEFILE,
     "writefile",
     {A::path, A::buffer_in, A::length},
     "file",
     from_registers<&calls::writefile>},
    {KIVOS_SYS_USLEEP, "usleep", {A::count}, "process", from_registers<&calls::sleep_for>},
    {KIVOS_SYS_MKDIR, "mkdir", {A::path}, "file", on_path<&root_fs::mkdir>},
    {KIVOS_SYS_UNLINK, "unlink", {A::path}, "file", on_path<&root_fs::unlink>},
    {KIVOS_SYS_RMDIR, "rmdir", {A::path}, "file", on_path<&root_fs::rmdir>},
    {KIVOS_SYS_GETCWD, "getcwd", {A::address, A::integer}, "file", from_registers<&calls::getcwd>},
    {KIVOS_SYS_STREAM_BEGIN,
     "kivfs_stream_begin",
     {A::path},
     "file,stream",
     from_registers<&calls::stream_begin>},
    {KIVOS_SYS_STREAM_WRITE,
     "kivfs_stream_write",
     {A::integer, A::buffer_in, A::length},
     "stream",
     from_registers<&calls::stream_write>},
    {KIVOS_SYS_STREAM_END,
     "kivfs_stream_end",
     {A::integer},
     "stream",
     from_registers<&calls::stream_end>},
    {KIVOS_SYS_DRIVE_CURRENT,
     "drive_current",
     {},
     "drive",
     [](S &s, P &, T) { return outcome(s.options.drives.current); }},
    {KIVOS_SYS_DRIVE_COUNT,
     "drive_count",
     {},
     "drive",
     [](S &s, P &, T) { return outcome(s.options.drives.count); }},
    {KIVOS_SYS_DRIVE_PROBE,
     "drive_probe",
     {A::integer},
     "drive",
     [](S &s, P &, T t) { return outcome(s.options.drives.probe(int32_t(t.ebx))); }},
    {KIVOS_SYS_CHDIR, "chdir", {A::path}, "file", from_registers<&calls::chdir>},
    {KIVOS_SYS_LSEEK,
     "lseek",
     {A::descriptor, A::integer, A::integer},
     "desc",
     from_registers<&calls::lseek>},
    {KIVOS_SYS_PIPE, "pipe", {A::address}, "desc", from_registers<&calls::pipe>},
    {KIVOS_SYS_MKFIFO, "mkfifo", {A::path}, "file", on_path<&root_fs::mkfifo>},
    {KIVOS_SYS_DUP, "dup", {A::descriptor}, "desc", from_registers<&calls::dup>},
    {KIVOS_SYS_DUP2, "dup2", {A::descriptor, A::descriptor}, "desc", from_registers<&calls::dup2>},
    {KIVOS_SYS_FD_SET_INHERIT,
     "fd_set_inherit",
     {A::integer},
     "desc,process",
     from_registers<&calls::set_inherit>},
    {KIVOS_SYS_FD_SET_STDIO,
     "fd_set_stdio",
     {A::descriptor, A::descriptor, A::descriptor},
     "desc,process",
     from_registers<&calls::set_stdio>},
    {KIVOS_SYS_FD_SET_NONBLOCK,
     "fd_set_nonblock",
     {A::descriptor, A::integer},
     "desc",
     from_registers<&calls::set_nonblock>},
    {KIVOS_SYS_SPAWN,
     "spawn",
     {A::path, A::address, A::integer},
     "file,process",
     from_registers<&calls::spawn>},
    {KIVOS_SYS_WAITPID,
     "waitpid",
     {A::integer, A::address, A::integer},
     "process",
     from_registers<&calls::waitpid>},
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

outcome system::serve(process &p, trap_record &t, bool &served) {
  const syscall_row *row = find_syscall(t.number);
  const uint32_t regs[3] = {t.ebx, t.ecx, t.edx};
  served = true;
  bool again = p.pending.has_value(); // a call that waited is served again
  if (!again) capture_in(p, t);
  if (options.override_result && t.number != KIVOS_SYS_EXIT && !again) {
    if (std::optional<int32_t> forced = options.override_result(t)) {
      t.result = *forced;
      t.injected = true;
      ++epoch;
      return t.result;
    }
  }
  if (!row) {
    served = false;
    return t.result = -ENOSYS;
  }
  outcome o = row->handler(*this, p, t);
  if (o.kind == outcome::wait) return o;
  ++epoch;
  t.result = o.result;
  capture_out(p, t);
  return o;
}

// What the program hands over is kept as it was before the call.
void system::capture_in(const process &p, trap_record &t) const {
  if (!keep_data) return; // the table is looked up only for the trace
  const syscall_row *row = find_syscall(t.number);
  if (!row) return;
  const uint32_t regs[3] = {t.ebx, t.ecx, t.edx};
  for (int i = 0; i < 3; ++i) {
    if (i < 2 && row->args[i] == arg::buffer_in && !p.memory.append(regs[i], regs[i + 1], t.data))
      t.data.clear();
    if (options.trace_with.paths && row->args[i] == arg::descriptor && regs[i] < max_descriptors &&
        p.fds[regs[i]])
      t.descriptors[i] = p.fds[regs[i]]->name;
  }
}

void system::capture_out(const process &p, trap_record &t) const {
  if (!keep_data || t.result <= 0) return;
  const syscall_row *row = find_syscall(t.number);
  if (!row) return;
  const uint32_t regs[3] = {t.ebx, t.ecx, t.edx};
  for (int i = 0; i < 2; ++i)
    if (row->args[i] == arg::buffer_out)
      p.memory.append(regs[i], std::min(uint32_t(t.result), regs[i + 1]), t.data);
}

} // namespace kivos
