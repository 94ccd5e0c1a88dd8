// The stand-in kernel: serves the traps of one program run.
#pragma once

#include "guest_memory.h"
#include "root_fs.h"

#include <chrono>
#include <csignal>
#include <ctime>
#include <kivos/run.h>
#include <string>
#include <vector>

namespace kivos {

// True once the time limit of the run has passed (set by a signal).
bool time_up();

// While it lives, a signal arrives at the deadline and every few
// milliseconds after it, so that any host call the kernel is blocked in
// (reading input, opening a FIFO) returns with EINTR and sees time_up().
// The signal also calls stop(stop_arg), which must be safe in a signal
// handler (the emulator's own stop is: it only sets flags).
struct deadline_alarm {
  deadline_alarm(const std::chrono::steady_clock::time_point *deadline, void (*stop)(void *),
                 void *stop_arg);
  ~deadline_alarm();
  deadline_alarm(const deadline_alarm &) = delete;
  deadline_alarm &operator=(const deadline_alarm &) = delete;

private:
  bool armed = false;
  timer_t timer{};
  struct sigaction before {};
};

struct kernel {
  const run_options &options;
  guest_memory &memory;
  run_result &result;
  root_fs fs;

  bool exited = false;
  bool keep_data = false; // fill trap_record::data (for the trace and the log)
  bool console_is_tty = false;
  std::string console_pending;
  size_t input_pos = 0; // into options.input
  std::chrono::steady_clock::time_point deadline{};
  bool has_deadline = false;
  bool deadline_hit = false;    // a sleep or a blocked call ran into the time limit
  bool console_started = false; // the first console write has been flushed
  int console_error = 0;        // errno of a failed console write; later writes fail with it

  struct open_file {
    int host_fd = -1;
    bool readable = false, writable = false;
  };
  std::vector<open_file> files; // indexed by the program's descriptor; 0 to 2 are the console

  kernel(const run_options &o, guest_memory &m, run_result &r);
  ~kernel();

  // Serves one trap through its row of the system-call table (or the
  // options' override): fills t.result, and t.data when keep_data. Returns
  // false for a trap the stand-in does not provide.
  bool serve(trap_record &t);
  void flush_console();

  // The handlers; the table in kernel.cpp says which registers they take.
  int32_t write(uint32_t fd, uint32_t buf, uint32_t len);
  int32_t read(uint32_t fd, uint32_t buf, uint32_t len);
  int32_t exit(uint32_t status);
  int32_t getkey();
  int32_t open(uint32_t path, uint32_t flags);
  int32_t close(uint32_t fd);
  int32_t lseek(uint32_t fd, uint32_t offset, uint32_t whence);
  int32_t writefile(uint32_t path, uint32_t buf, uint32_t len);
  int32_t getcwd(uint32_t buf, uint32_t size);
  int32_t sleep_for(uint32_t usec);
  // Reads the path the program passed at `path` and hands it to op, or
  // fails as a bad path does.
  template <typename F> int32_t with_path(uint32_t path, F op) {
    std::string p;
    if (int32_t err = path_arg(path, p)) return err;
    return op(p);
  }

private:
  int32_t console_write(uint32_t buf, uint32_t len);
  int32_t read_input(uint32_t buf, uint32_t len);
  int32_t host_read(int host_fd, uint32_t buf, uint32_t len);
  bool out_of_time();
  int32_t path_arg(uint32_t addr, std::string &path) const;
  open_file *file(uint32_t fd);
};

} // namespace kivos
