// Line coverage: the program's DWARF line table (read with libdw), counts of
// the times execution entered each line, and the lcov tracefile genhtml reads.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kivos {

struct line_starts {
  struct line {
    std::string file;
    int number = 0;
    uint64_t count = 0;
  };
  std::vector<line> lines;
  // Where each line's code begins (a line may begin at several places), by
  // address: {address, index in lines}.
  std::vector<std::pair<uint32_t, uint32_t>> starts;

  // Reads the line table of a program image already in memory; an error
  // text, or empty. libelf may rewrite the bytes it reads, so they are lent.
  std::string read(std::span<uint8_t> image);
  // The indices of the lines that begin in [address, address + size).
  std::vector<uint32_t> within(uint32_t address, uint32_t size) const;
  // The line at an address (the last beginning at or before it), or null.
  const line *at(uint32_t address) const;
};

struct function_count {
  std::string name;
  uint32_t address = 0;
  uint64_t entries = 0;
};

// A program some process of the run ran: its lines and functions, counted
// over every process that ran it.
struct covered_program {
  line_starts lines;
  std::vector<function_count> functions; // as the symbol table lists them
};

// The counts as an lcov tracefile: a record per source file, summed over
// the programs that share it (the runtime's sources, say).
std::string lcov(const std::vector<const covered_program *> &programs);

} // namespace kivos
