// The shortcut past Unicorn 2.0.1's per-store page collection (see the
// source for why it is safe and when to remove it).
#pragma once

#include <cstdint>

namespace kivos {

// Turns the shortcut on when wanted and the library is Unicorn 2.0.1, else
// off; says whether it is on. It holds for every run until the next call.
bool use_store_shortcut(bool wanted);

} // namespace kivos
