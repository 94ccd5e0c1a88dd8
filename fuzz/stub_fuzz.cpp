// The gdb stub's packets, with no connection: whatever a client sends, the
// stub must not go wrong (the sanitizers watch it), and no reply may hold
// the bytes that frame a packet. The input is packets separated by NULs.
#include "../tools/kivos-run/src/gdb_stub.h"

#include <cstring>

namespace {

constexpr uint32_t code = 0x400000, data = 0x401000, stack = 0xbfff0000;
const uint8_t program[] = {0x40, 0x89, 0x05, 0x00, 0x10,
                           0x40, 0x00, 0xeb, 0xf7}; // inc eax; store; loop

struct target {
  uc_engine *uc = nullptr;
  kivos::guest_memory memory;
  target() {
    uc_open(UC_ARCH_X86, UC_MODE_32, &uc);
    for (auto [base, prot] : {std::pair{code, kivos::prot_read | kivos::prot_exec},
                              {data, kivos::prot_read | kivos::prot_write},
                              {stack, kivos::prot_read | kivos::prot_write}}) {
      memory.regions.push_back(kivos::make_region(base, 0x1000, prot));
      uc_mem_map_ptr(uc, base, 0x1000,
                     (prot & kivos::prot_write ? UC_PROT_WRITE : UC_PROT_EXEC) | UC_PROT_READ,
                     memory.regions.back().host);
    }
  }
  // The program and its registers as at the start.
  void reset() {
    std::memcpy(memory.regions[0].host, program, sizeof program);
    uc_ctl_remove_cache(uc, code, code + 0x1000);
    uint32_t eip = code, esp = stack + 0x800, zero = 0;
    uc_reg_write(uc, UC_X86_REG_EIP, &eip);
    uc_reg_write(uc, UC_X86_REG_ESP, &esp);
    uc_reg_write(uc, UC_X86_REG_EAX, &zero);
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size) {
  static target t;
  t.reset();
  kivos::gdb_link link{t.uc, t.memory,
                       [](bool step) {
                         uint32_t eip = 0;
                         uc_reg_read(t.uc, UC_X86_REG_EIP, &eip);
                         uc_emu_start(t.uc, eip, 0, 0, step ? 1 : 50);
                         return kivos::guest_stop{};
                       },
                       [] {}};
  std::vector<std::string> packets(1);
  for (size_t i = 0; i < size && packets.size() <= 32; ++i) {
    if (bytes[i])
      packets.back().push_back(char(bytes[i]));
    else
      packets.emplace_back();
  }
  for (const std::string &reply : kivos::answer_packets(link, packets))
    if (reply.find_first_of("$#") != std::string::npos) __builtin_trap();
  return 0;
}
