// A replay driven by any recording: the input is a recording's body (the
// harness adds the header and compresses it, so the events themselves are
// what varies). Whatever the events say (results, bytes for any address,
// programs to start, counter values), the host side must not go wrong and
// the run must end with a status; the sanitizers watch it.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <kivos/run.h>
#include <string>
#include <unistd.h>
#include <zlib.h>

namespace {

const std::string path =
    (std::filesystem::temp_directory_path() / ("kivos_replay_fuzz." + std::to_string(getpid())))
        .string();

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string file("KIVOSREC\1\0\0\0", 12);
  uLongf packed = compressBound(uLong(size));
  std::string body(packed, '\0');
  if (compress2(reinterpret_cast<Bytef *>(body.data()), &packed, data, uLong(size), 1) != Z_OK)
    return 0;
  file.append(body.data(), packed);
  if (std::FILE *f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
  }
  kivos::run_options o;
  o.program = KIVOS_BIN_DIR "/hdtab";
  o.replay = path;
  o.capture_console = true;
  o.timeout_seconds = 5;
  o.max_instructions = 5'000'000;
  kivos::run(o);
  std::remove(path.c_str());
  return 0;
}
