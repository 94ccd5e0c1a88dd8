// Small helpers every tool uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tools {

// "0x" and eight hexadecimal digits.
std::string hex8(uint32_t v);
// "0x" and as many hexadecimal digits as needed.
std::string hex(uint32_t v);
// Writes all of [p, p + n) to fd, retrying after interruptions; false on error.
bool write_all(int fd, const char *p, size_t n);

} // namespace tools
