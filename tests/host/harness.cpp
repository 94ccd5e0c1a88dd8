#include "harness.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <kivos/syscalls.h>
#include <stdexcept>
#include <unistd.h>

namespace test {

std::string program(const std::string &name) {
  return name == "hdtab" ? KIVOS_BIN_DIR "/hdtab" : KIVOS_TEST_BIN_DIR "/" + name;
}

kivos::run_options options(const std::string &name, const std::vector<std::string> &args) {
  kivos::run_options o;
  o.program = program(name);
  o.args.push_back(name);
  o.args.insert(o.args.end(), args.begin(), args.end());
  o.capture_console = true;
  o.record_traps = true;
  o.real_sleep = false;
  o.input = "";
  o.timeout_seconds = 30;
  return o;
}

std::vector<int32_t> reports(const kivos::run_result &r) {
  std::vector<int32_t> v;
  for (const auto &t : r.traps)
    if (t.number == report_trap) v.push_back(int32_t(t.ebx));
  return v;
}

std::vector<kivos::trap_record> calls(const kivos::run_result &r) {
  std::vector<kivos::trap_record> v;
  for (const auto &t : r.traps)
    if (t.number != report_trap && t.number != KIVOS_SYS_EXIT) v.push_back(t);
  return v;
}

kivos::trap_override answer(uint32_t number, int32_t result) {
  return [=](const kivos::trap_record &t) -> std::optional<int32_t> {
    return t.number == number ? std::optional<int32_t>(result) : std::nullopt;
  };
}

temp_dir::temp_dir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kivos-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path = tmpl;
}

temp_dir::~temp_dir() {
  std::filesystem::remove_all(path);
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace test
