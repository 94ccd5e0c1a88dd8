// Snapshots of a process for running it backwards: its registers and its
// writable memory at points of its run, within a memory budget. Going back
// to any point restores the nearest snapshot before it and runs forward.
#pragma once

#include "guest_memory.h"

#include <cstdint>
#include <string>
#include <unicorn/unicorn.h>
#include <vector>

namespace kivos {

struct snapshot {
  uint64_t position = 0; // instructions the process had run
  size_t cursor = 0;     // events of its history it had used
  uc_context *registers = nullptr;
  std::vector<std::string> memory; // each writable region's bytes, in order
};

struct snapshot_store {
  size_t budget = size_t(256) << 20; // bytes of memory copies at most
  uint64_t spacing = 1u << 20;       // instructions between snapshots; doubles to fit the budget
  std::vector<snapshot> all;         // by position

  ~snapshot_store();
  // Takes one when `position` is a spacing past the last; keeps within the
  // budget by dropping every other one and spacing them wider.
  void maybe_take(uc_engine *uc, const guest_memory &memory, uint64_t position, size_t cursor);
  void take(uc_engine *uc, const guest_memory &memory, uint64_t position, size_t cursor);
  // The last taken at or before `position` (there is always the first).
  const snapshot &before(uint64_t position) const;
  // Puts the process back as it was; the code translated from writable
  // memory is dropped, as that memory may hold other bytes now. False, and
  // nothing changed, when its memory is no longer laid out as it was.
  static bool restore(uc_engine *uc, guest_memory &memory, const snapshot &s);

private:
  size_t used = 0;
};

} // namespace kivos
