// The stand-in kernel: what each guest process owns, what the processes
// share, and the system calls that serve them.
#pragma once

#include "../../common/elf32.h"
#include "guest_memory.h"
#include "root_fs.h"

#include <array>
#include <chrono>
#include <csignal>
#include <ctime>
#include <functional>
#include <kivos/run.h>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kivos {

using clock = std::chrono::steady_clock;

// True once the time limit of the run has passed (set by a signal).
bool time_up();

// While it lives, a signal arrives at the deadline and every few
// milliseconds after it, so that any host call the kernel is blocked in
// returns with EINTR and sees time_up(). The signal also calls
// stop(stop_arg), which must be safe in a signal handler.
struct deadline_alarm {
  deadline_alarm(const clock::time_point *deadline, void (*stop)(void *), void *stop_arg);
  ~deadline_alarm();
  deadline_alarm(const deadline_alarm &) = delete;
  deadline_alarm &operator=(const deadline_alarm &) = delete;

private:
  bool armed = false;
  timer_t timer{};
  struct sigaction before {};
};

// While it lives, SIGINT and SIGTERM stop the run as the time limit does
// (through the deadline alarm's stop) instead of killing the process;
// ending_signal() then says which came.
struct ending_signals {
  ending_signals(void (*stop)(void *), void *stop_arg);
  ~ending_signals();
  ending_signals(const ending_signals &) = delete;
  ending_signals &operator=(const ending_signals &) = delete;

private:
  struct sigaction before[2]{};
};
int ending_signal();

inline constexpr uint32_t max_descriptors = 64;
inline constexpr size_t max_processes = 64;
inline constexpr size_t pipe_capacity = 1 << 16;

// The bytes in flight between the ends of a pipe, and how many of each end
// are open anywhere.
struct pipe_buffer {
  std::string bytes;
  size_t head = 0; // bytes before it were read
  int readers = 0, writers = 0;
  size_t size() const { return bytes.size() - head; }
};

// What a descriptor refers to: shared by every descriptor, in any process,
// that dup, dup2 or inheritance made from it, with one position and one
// non-blocking flag.
struct open_object {
  enum kind_t : uint8_t { console_in, console_out, file, pipe_in, pipe_out } kind;
  int host_fd = -1;
  bool readable = false, writable = false, nonblock = false;
  bool host_waits = false; // a host FIFO: reads and writes may have to wait for the host
  std::shared_ptr<pipe_buffer> pipe;
  std::string name; // what it is, for the trace: a path in the root, "pipe:[N]", "console"

  open_object(kind_t k, std::shared_ptr<pipe_buffer> p = nullptr);
  ~open_object();
  open_object(const open_object &) = delete;
  open_object &operator=(const open_object &) = delete;
};
using descriptor = std::shared_ptr<open_object>;

// What a process waits for before its pending call is served again.
struct wait_state {
  enum kind_t : uint8_t {
    none,
    kivos, // something only another kivos process can change
    host,  // a host descriptor to become ready (poll events)
    until, // a time (a sleep)
    retry, // the host, with nothing to poll: look again a little later
  } kind = none;
  int host_fd = -1;
  short events = 0;
  clock::time_point wake{};
  uint64_t epoch = 0; // the system's epoch when the wait began
};

// A file written through the stream calls: it appears whole at `path` on
// its end, and a process that ends first leaves nothing.
struct kernel_stream {
  std::string path, cwd;
  int host_fd = -1;
};

struct system;

// One guest: its memory, descriptors and folder, and where it stands.
struct process {
  int32_t pid = 0, parent = 0;
  std::string program;
  guest_memory memory;
  std::array<descriptor, max_descriptors> fds;
  std::string cwd = "/";
  std::array<int32_t, 3> stdio = {-1, -1, -1}; // fd_set_stdio: what children get as 0 to 2
  bool inherit = false;                        // fd_set_inherit
  std::map<int32_t, kernel_stream> streams;
  int32_t next_stream = 1; // handles are never reused
  bool ended = false, reaped = false;
  int32_t status = 0; // the status word waitpid reports
  // A call that waits, served again when what it waits for may have changed.
  std::optional<trap_record> pending;
  double pending_start = 0;  // seconds into the run when it was first made
  uint32_t pending_done = 0; // bytes of a pipe write already taken
  int pending_fd = -1;       // a FIFO end an open holds while it waits for the other
  wait_state waiting;

  virtual ~process();
  // Ends the process: closes its descriptors and drops its unfinished streams.
  void close_all();
  // Forgets a waiting call and what it held.
  void drop_pending();
};

// What a handler did with a call.
struct outcome {
  enum kind_t : uint8_t { value, wait, end } kind = value;
  int32_t result = 0;
  outcome(int32_t r = 0) : result(r) {}
  static outcome waiting() {
    outcome o;
    o.kind = wait;
    return o;
  }
};

// What every guest shares.
struct system {
  const run_options &options;
  run_result &result;
  root_fs fs;
  std::vector<std::unique_ptr<process>> processes; // by pid order; [0] is the first
  int32_t next_pid = 1;
  uint32_t next_pipe = 1; // numbers pipes for the trace
  uint64_t epoch = 0;     // grows whenever a call may have changed what others wait for

  bool keep_data = false; // fill trap_record::data (for the trace and the log)
  bool console_is_tty = false;
  std::string console_pending;
  size_t input_pos = 0; // into options.input
  clock::time_point deadline{};
  bool has_deadline = false;
  bool deadline_hit = false;    // a sleep or a blocked call ran into the time limit
  bool console_started = false; // the first console write has been flushed
  int console_error = 0;        // errno of a failed console write; later writes fail with it

  // Starts the program image as a child of `parent`; the emulator provides it.
  // Returns the new process, or a negative errno.
  std::function<int32_t(process &parent, const std::vector<uint8_t> &image,
                        std::vector<std::string> args)>
      start_child;

  system(const run_options &o, run_result &r);
  ~system();

  // Serves one call of `p` through its row of the system-call table (or the
  // options' override): fills t.result, and t.data when keep_data, unless the
  // call waits. `served` is false for a call the stand-in does not provide.
  outcome serve(process &p, trap_record &t, bool &served);
  // With keep_data, what a call hands over (before it) and receives (after).
  void capture_in(const process &p, trap_record &t) const;
  void capture_out(const process &p, trap_record &t) const;
  void flush_console();
  // Ends p with the status word `status`: closes everything it holds.
  void end_process(process &p, int32_t status);
  process *find(int32_t pid);
  size_t alive() const; // processes not yet waited for

  // Reads the path the program passed at `addr`; 0 or a negative errno.
  int32_t path_arg(const process &p, uint32_t addr, std::string &path) const;
  bool out_of_time();
  int32_t console_write(process &p, uint32_t buf, uint32_t len);
};

// The handlers; the table in kernel.cpp says which registers they take.
namespace calls {
outcome write(system &s, process &p, uint32_t fd, uint32_t buf, uint32_t len);
outcome read(system &s, process &p, uint32_t fd, uint32_t buf, uint32_t len);
outcome getkey(system &s, process &p);
outcome open(system &s, process &p, uint32_t path, uint32_t flags);
outcome close(system &s, process &p, uint32_t fd);
outcome lseek(system &s, process &p, uint32_t fd, uint32_t offset, uint32_t whence);
outcome writefile(system &s, process &p, uint32_t path, uint32_t buf, uint32_t len);
outcome getcwd(system &s, process &p, uint32_t buf, uint32_t size);
outcome chdir(system &s, process &p, uint32_t path);
outcome sleep_for(system &s, process &p, uint32_t usec);
outcome pipe(system &s, process &p, uint32_t fds);
outcome dup(system &s, process &p, uint32_t fd);
outcome dup2(system &s, process &p, uint32_t old_fd, uint32_t new_fd);
outcome set_inherit(system &s, process &p, uint32_t on);
outcome set_stdio(system &s, process &p, uint32_t in, uint32_t out, uint32_t err);
outcome set_nonblock(system &s, process &p, uint32_t fd, uint32_t on);
outcome spawn(system &s, process &p, uint32_t path, uint32_t argv, uint32_t argc);
outcome waitpid(system &s, process &p, uint32_t pid, uint32_t status, uint32_t options);
outcome stream_begin(system &s, process &p, uint32_t path);
outcome stream_write(system &s, process &p, uint32_t handle, uint32_t buf, uint32_t len);
outcome stream_end(system &s, process &p, uint32_t handle);
} // namespace calls

} // namespace kivos
