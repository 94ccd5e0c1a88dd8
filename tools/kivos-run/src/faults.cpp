// What the faults of a guest are called, and the signals they match.
#include <iterator>
#include <kivos/run.h>
#include <unicorn/unicorn.h>

namespace kivos {
namespace {

constexpr const char *exception_names[] = {"divide error",
                                           "debug exception",
                                           "non-maskable interrupt",
                                           "breakpoint",
                                           "overflow",
                                           "bound range exceeded",
                                           "invalid opcode",
                                           "no floating-point unit",
                                           "double fault",
                                           "coprocessor segment overrun",
                                           "invalid TSS",
                                           "segment not present",
                                           "stack segment fault",
                                           "general protection fault",
                                           "page fault",
                                           "reserved exception",
                                           "floating-point error",
                                           "alignment check"};

// Indexed by fault_kind.
constexpr const char *kind_names[] = {"no fault",
                                      "read from unmapped memory",
                                      "write to unmapped memory",
                                      "instruction fetch from unmapped memory",
                                      "read from protected memory",
                                      "write to read-only memory",
                                      "instruction fetch from non-executable memory",
                                      "memory access",
                                      "stack overflow",
                                      "invalid instruction",
                                      "code the emulator cannot translate",
                                      "halt instruction",
                                      "the processor stopped"};

} // namespace

std::string fault_name(const fault_report &f) {
  if (f.kind == fault_kind::exception)
    return f.code < std::size(exception_names) ? exception_names[f.code]
                                               : "interrupt " + std::to_string(f.code);
  if (f.kind == fault_kind::emulator) return uc_strerror(uc_err(f.code));
  return kind_names[size_t(f.kind)];
}

int fault_signal(const fault_report &f) {
  if (f.kind == fault_kind::invalid_instruction || f.kind == fault_kind::untranslatable ||
      (f.kind == fault_kind::exception && f.code == 6))
    return 4;                                                     // SIGILL
  return f.kind == fault_kind::exception && f.code == 0 ? 8 : 11; // SIGFPE, else SIGSEGV
}

} // namespace kivos
