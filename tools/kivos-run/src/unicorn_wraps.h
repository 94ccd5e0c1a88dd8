// The internals of Unicorn 2.0.1 that kivos-run stands in front of. The
// library is linked statically, and when it is that version each of these
// is wrapped at link time (--wrap): the library's own calls reach
// __wrap_NAME, defined beside the shortcut it serves, and __real_NAME is the
// library's function. With any other version the shortcuts are left out.
#pragma once

#include <cstdint>

#ifndef KIVOS_UNICORN_SHORTCUTS
#define KIVOS_UNICORN_SHORTCUTS 0
#endif

#if KIVOS_UNICORN_SHORTCUTS
extern "C" {
void *__real_page_collection_lock_x86_64(void *uc, uint64_t start, uint64_t end);
void __real_page_collection_unlock_x86_64(void *set);
void __real_tlb_set_page_with_attrs_x86_64(void *cpu, uint64_t vaddr, uint64_t paddr,
                                           uint32_t attrs, int prot, int mmu_idx, uint64_t size);
[[noreturn]] void __real_cpu_loop_exit_noexc_x86_64(void *cpu);
}
#endif
