// Small helpers every tool uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tools {

// "0x" and eight hexadecimal digits.
std::string hex8(uint32_t v);
// "0x" and as many hexadecimal digits as needed.
std::string hex(uint32_t v);
// Writes all of [p, p + n) to fd, retrying after interruptions; false on error.
bool write_all(int fd, const char *p, size_t n);
// Flushes f (and closes it, with `close`): why some of its output was lost,
// or an empty text when all of it arrived.
std::string output_error(std::FILE *f, bool close = false);

} // namespace tools
