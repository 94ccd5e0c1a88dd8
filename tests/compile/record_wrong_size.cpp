// Must not compile: the record's strings make it 49 bytes, not the 45 promised.
#include <kivos/meta.hpp>

static constexpr auto record =
    kivos::meta_record("KCMD", 1, "List all detected logical drives.", "hdtab");
static_assert(sizeof(record) == 45, "the command record is 45 bytes");
