// The record reader of kivos-meta on arbitrary files.
#include "meta_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kivos_meta::report r = kivos_meta::read({data, size});
  if (r.errors.empty() && !(r.command && r.package)) __builtin_trap();
  return 0;
}
