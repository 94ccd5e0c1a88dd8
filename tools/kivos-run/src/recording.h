// A run's recording: everything it received from outside (each system
// call's result and the bytes the kernel put into guest memory, each
// time-stamp counter read, each program a process started) in the order it
// happened, and the reader that hands it back. docs/recording.md gives the
// format.
#pragma once

#include <array>
#include <cstdint>
#include <kivos/run.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <zlib.h>

namespace kivos {

using recorded_write = std::pair<uint32_t, std::string>; // where, and the bytes

struct recorded_event {
  enum kind_t : uint8_t { call = 1, tsc = 2, finish = 3 };
  // What a call did besides its result and writes.
  enum flag_t : uint8_t {
    ended = 1,
    console = 2,
    to_file = 4,
    spawned = 8,
    unserved = 16,
    injected = 32
  };
  kind_t kind = call;
  int32_t pid = 0;
  uint64_t instructions = 0; // the process's own count at the event
  // A call: as the program made it, and what came back.
  uint32_t number = 0, ebx = 0, ecx = 0, edx = 0;
  int32_t result = 0;
  uint8_t flags = 0;
  uint64_t file_hash = 0; // to_file: of the bytes the call wrote
  std::vector<recorded_write> writes;
  std::string image; // spawned: the child's program and arguments
  std::vector<std::string> child_args;
  // A counter read, or the end: the value read.
  uint64_t value = 0;
  // The end of the run.
  run_end ending = run_end::exited;
  int32_t exit_status = 0, signal = 0;
  std::string message;
};

// What a replay must match.
struct recording_header {
  std::string program; // the file name, without its folder
  uint64_t image_hash = 0;
  std::vector<std::string> args;
  uint32_t stack_size = 0;
  bool counted = false; // the events hold instruction counts
};

uint64_t hash_bytes(const void *data, size_t size, uint64_t seed = 14695981039346656037ull);

// What writer and reader both remember to keep events small: for each
// process, its instruction count at its last event and the arguments of its
// last call of each number (by the number's low byte).
struct recording_state {
  struct process_state {
    uint64_t count = 0;
    std::array<std::array<uint32_t, 3>, 256> args{};
  };
  std::vector<std::unique_ptr<process_state>> by_pid;
  // Null for a pid no run can have (a damaged recording).
  process_state *of(int32_t pid);
};

// Writes a recording as the run goes, compressed a piece at a time.
class recording_writer {
public:
  // An error text, or empty.
  std::string open(const std::string &path, const recording_header &header);
  void add(const recorded_event &e);
  // Writes the end and closes the file; an error text, or empty.
  std::string finish(const recorded_event &end);
  ~recording_writer();

private:
  std::FILE *file = nullptr;
  z_stream zs{};
  std::string raw;
  recording_state state;
  bool failed = false;
  void flush(bool last);
};

// Reads a whole recording, checked, and hands back its events in order.
class recording_reader {
public:
  // An error text ("not a recording", "damaged", "truncated"), or empty.
  std::string open(const std::string &path);
  // Back to the first event, as just opened.
  void rewind();
  const recording_header &header() const { return head; }
  // The next event; false (with `error` set) when the recording is damaged.
  bool next(recorded_event &e, std::string &error);
  const recorded_event *peek(std::string &error);

private:
  recording_header head;
  std::string raw;
  size_t at = 0;
  size_t first_event = 0;
  recording_state state;
  std::optional<recorded_event> peeked;
};

} // namespace kivos
