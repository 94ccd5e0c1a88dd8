// Reading the command and package records out of a kivos executable.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kivos_meta {

struct record_kind {
  const char *what;    // "command record"
  const char *section; // ".kivos.cmdmeta"
  const char *magic;   // "KCMD"
  uint32_t alignment;
  std::vector<const char *> fields; // names of the strings, in order
};

const record_kind &command_kind();
const record_kind &package_kind();

struct record {
  uint32_t address = 0, size = 0; // where it is loaded, and its length
  uint32_t format_version = 0;
  std::vector<std::string> strings; // in the order of record_kind::fields
  bool from_section = true;         // false: found through the program headers
};

struct report {
  std::optional<record> command, package;
  std::vector<std::string> errors; // each names the fault; empty when all is well
};

// Reads both records; never reads outside `file`.
report read(std::span<const uint8_t> file);

} // namespace kivos_meta
