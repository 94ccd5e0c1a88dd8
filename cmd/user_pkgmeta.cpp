// The package record, read by the system's package tools; nothing refers to it.
#include <kivos/meta.hpp>

[[gnu::used, gnu::section(".kivos.pkgmeta"), gnu::aligned(4)]] static constexpr auto g_pkgmeta_0 =
    kivos::meta_record("KPKG", 1, "hdtab", "2");
static_assert(sizeof(g_pkgmeta_0) == 17, "the package record is 17 bytes");
