// Guest stores at full speed on pages that can hold no code, past Unicorn
// 2.0.1's per-store slow path (see the source for why it is safe and when to
// remove it).
#pragma once

#include "guest_memory.h"

namespace kivos {

// Readies the fast path, finding the processor's TLB in the library's
// record (an engine of its own, once); false with any other Unicorn, or
// when the TLB is not where this one keeps it.
bool ready_clean_pages();

// The memory of the guest that runs now on this thread: its writable pages
// that cannot be executed take the fast path. Null: none do.
void note_running_pages(const guest_memory *memory);

} // namespace kivos
