#include "snapshots.h"

#include <algorithm>

namespace kivos {

snapshot_store::~snapshot_store() {
  for (snapshot &s : all) uc_context_free(s.registers);
}

void snapshot_store::maybe_take(uc_engine *uc, const guest_memory &memory, uint64_t position,
                                size_t cursor) {
  if (all.empty() || position >= all.back().position + spacing) take(uc, memory, position, cursor);
}

void snapshot_store::take(uc_engine *uc, const guest_memory &memory, uint64_t position,
                          size_t cursor) {
  snapshot s;
  s.position = position;
  s.cursor = cursor;
  if (uc_context_alloc(uc, &s.registers) != UC_ERR_OK) return;
  uc_context_save(uc, s.registers);
  for (const region &r : memory.regions)
    if (r.prot & prot_write) {
      s.memory.emplace_back(reinterpret_cast<const char *>(r.host), r.size);
      used += r.size;
    }
  all.push_back(std::move(s));
  // Over the budget: every other one goes (never the first), and the rest
  // of the run is snapshotted half as often.
  while (used > budget && all.size() > 2) {
    std::vector<snapshot> kept;
    for (size_t i = 0; i < all.size(); ++i) {
      if (i % 2 == 0 || i + 1 == all.size()) {
        kept.push_back(std::move(all[i]));
        continue;
      }
      for (const std::string &m : all[i].memory) used -= m.size();
      uc_context_free(all[i].registers);
    }
    all.swap(kept);
    spacing *= 2;
  }
}

const snapshot &snapshot_store::before(uint64_t position) const {
  auto after = std::upper_bound(all.begin(), all.end(), position,
                                [](uint64_t p, const snapshot &s) { return p < s.position; });
  return after == all.begin() ? all.front() : after[-1];
}

bool snapshot_store::restore(uc_engine *uc, guest_memory &memory, const snapshot &s) {
  size_t i = 0;
  for (const region &r : memory.regions)
    if (r.prot & prot_write && (i >= s.memory.size() || s.memory[i++].size() != r.size))
      return false;
  if (i != s.memory.size()) return false; // the memory is laid out otherwise now
  uc_context_restore(uc, s.registers);
  i = 0;
  for (region &r : memory.regions)
    if (r.prot & prot_write) {
      std::copy(s.memory[i].begin(), s.memory[i].end(), reinterpret_cast<char *>(r.host));
      if (r.prot & prot_exec) uc_ctl_remove_cache(uc, r.base, uint64_t(r.base) + r.size);
      ++i;
    }
  return true;
}

} // namespace kivos
