// Metadata records that kivos commands and packages carry in sections of
// their own: a 4-byte magic, a little-endian 32-bit format version, the
// NUL-terminated strings one after the other, and a final NUL.
//
//   [[gnu::used, gnu::section(".kivos.cmdmeta"), gnu::aligned(32)]]
//   static constexpr auto g_cmdmeta_0 =
//       kivos::meta_record("KCMD", 1, "Summary of the command.", "name");
//
// The record is built at compile time from its strings, so its size always
// follows from them; check it with static_assert where a size is promised.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kivos {

template <size_t N> struct meta_bytes { unsigned char bytes[N]; };

template <size_t... Lengths>
consteval auto meta_record(const char (&magic)[5], uint32_t version,
                           const char (&...strings)[Lengths]) {
  meta_bytes<8 + (Lengths + ...) + 1> r{};
  size_t at = 0;
  for (int i = 0; i < 4; ++i) r.bytes[at++] = static_cast<unsigned char>(magic[i]);
  for (int i = 0; i < 4; ++i) r.bytes[at++] = static_cast<unsigned char>(version >> (8 * i));
  auto append = [&](const char *s, size_t length) {
    // Each string literal brings its own NUL as its last byte.
    for (size_t i = 0; i < length; ++i) r.bytes[at++] = static_cast<unsigned char>(s[i]);
  };
  (append(strings, Lengths), ...);
  r.bytes[at] = 0;
  return r;
}

} // namespace kivos
