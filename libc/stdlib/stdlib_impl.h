// What the stdlib sources share. Private to this folder.
#pragma once

#include <stdint.h>

// Bytes of the heap handed out so far; the generator mixes in its address.
extern "C" uint32_t g_heap_used __attribute__((visibility("hidden")));
