// Running kivos programs from host tests.
#pragma once

#include <kivos/run.h>
#include <string>
#include <vector>

namespace test {

inline constexpr uint32_t report_trap = 200;

// Path of a built kivos program: hdtab, or a test program by name.
std::string program(const std::string &name);

// Options for a run with captured console, recorded traps, no real sleeping
// and a generous time limit. args are argv[1...].
kivos::run_options options(const std::string &name, const std::vector<std::string> &args = {});

// The values the program handed to the report trap (ebx of each).
std::vector<int32_t> reports(const kivos::run_result &r);

// The traps other than report traps and the final _exit.
std::vector<kivos::trap_record> calls(const kivos::run_result &r);

// A kernel that answers every trap `number` with `result` and serves the rest.
kivos::trap_override answer(uint32_t number, int32_t result);

// A fresh, empty folder that is removed again when the test ends.
struct temp_dir {
  std::string path;
  temp_dir();
  ~temp_dir();
  std::string file(const std::string &name) const { return path + "/" + name; }
};

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);

} // namespace test
