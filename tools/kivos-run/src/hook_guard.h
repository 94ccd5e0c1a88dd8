// Keeps Unicorn 2.0.1 calling write hooks after a store that rewrote the
// code it ran (see the source for the fault and its repair).
#pragma once

#include <cstdint>
#include <unicorn/unicorn.h>

namespace kivos {

// Readies the repair; call before relying on write hooks (store counts,
// watchpoints). Finding what to repair costs an engine of its own, once.
void guard_write_hooks();

// The engine that runs now on this thread, or null.
void note_running_engine(uc_engine *uc);

// How many stores the library has left unfinished on this thread, to be
// made anew: a write hook saw such a store before it happened.
uint64_t stores_left();

// True when a write hook sees the store it saw last again: the library
// left that store for code it rewrote, and makes it anew.
bool store_again(uint64_t address, int size);

} // namespace kivos
