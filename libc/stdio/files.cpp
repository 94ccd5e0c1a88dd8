// Opening and closing streams: descriptor streams for reading, file-write
// and memory streams that collect their bytes in a heap buffer (a memory
// stream's kept NUL-terminated). Only programs that open a collecting
// stream link this.
#include "stdio_impl.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

// Grows the buffer of a collecting stream so that `needed` bytes fit.
// Capacities start at 256 and double; a size beyond 32 bits fails instead of
// wrapping.
bool reserve(FILE *stream, size_t needed) {
  if (stream->cap >= needed) return true;
  size_t cap = stream->cap ? stream->cap : 256;
  while (cap < needed) {
    if (cap > max_size / 2) return false;
    cap *= 2;
  }
  char *buf = static_cast<char *>(realloc(stream->buf, cap));
  if (!buf) return false;
  stream->buf = buf;
  stream->cap = cap;
  return true;
}

[[gnu::always_inline]] inline void append(FILE *stream, const char *bytes, size_t count) {
  size_t len = stream->len;
  if (count == 1) // fputc and the formatter's pieces: no call of memcpy for one byte
    stream->buf[len] = *bytes;
  else
    memcpy(stream->buf + len, bytes, count);
  len += count;
  stream->len = len;
  // Only a memory stream's buffer is read as a string; a file's is written by length.
  if (stream->kind == STREAM_MEMORY) {
    stream->buf[len] = 0;
    if (stream->out_ptr && stream->out_size) {
      *stream->out_ptr = stream->buf;
      *stream->out_size = len;
    }
  }
}

[[gnu::noinline]] int grow_and_append(FILE *stream, const char *bytes, size_t count) {
  size_t len = stream->len;
  if (count > max_size - 1 - len || !reserve(stream, len + count + 1)) {
    stream->error = 1;
    return -1;
  }
  append(stream, bytes, count);
  return 0;
}

} // namespace

extern "C" {

// Appends to the buffer, keeping it NUL-terminated, and publishes it for a
// memory stream. A refused write marks the stream, so that fclose does not
// write a file that lacks bytes the program believed it had written. When
// the bytes fit, which is nearly always, nothing else is done: every guest
// store costs, and a byte written takes this path.
int kivos_stdio_collect(FILE *stream, const char *bytes, size_t count) {
  if (!stream->buf || count >= stream->cap - stream->len)
    return grow_and_append(stream, bytes, count);
  append(stream, bytes, count);
  return 0;
}

FILE *fopen(const char *path, const char *mode) {
  if (!mode) return nullptr;
  char how = mode[0];
  if (!path || strcmp(path, "-") == 0) return how == 'r' ? stdin : how == 'w' ? stdout : nullptr;
  if (how == 'r') {
    int fd = open(path, O_RDONLY);
    if (fd < 0) return nullptr;
    FILE *f = static_cast<FILE *>(calloc(1, sizeof(FILE)));
    if (!f) {
      close(fd);
      return nullptr;
    }
    f->kind = STREAM_FD;
    f->fd = fd;
    return f;
  }
  if (how == 'w') {
    // Nothing touches the file before fclose writes it whole.
    FILE *f = static_cast<FILE *>(calloc(1, sizeof(FILE)));
    if (!f) return nullptr;
    f->kind = STREAM_FILE;
    f->path = strdup(path);
    if (!f->path) {
      free(f);
      return nullptr;
    }
    return f;
  }
  return nullptr;
}

int fclose(FILE *stream) {
  if (!stream) return -1;
  // Only the three static records stay open for good; any other stream is
  // closed by its kind, even while a standard pointer refers to it.
  if (stream == &g_stdin || stream == &g_stdout || stream == &g_stderr) return 0;
  int result = 0;
  if (stream->kind == STREAM_FD) {
    if (stream->fd > 2) result = close(stream->fd);
  } else if (stream->kind == STREAM_FILE) {
    // A stream that lost bytes leaves the file as it was.
    const char *data = stream->buf ? stream->buf : "";
    bool lost = !stream->path || stream->error;
    result = lost || writefile(stream->path, data, stream->len) < 0 ? -1 : 0;
  }
  // A memory stream's buffer belongs to its caller.
  if (stream->kind != STREAM_MEMORY) free(stream->buf);
  free(stream->path);
  free(stream);
  return result;
}

FILE *open_memstream(char **ptr, size_t *sizeloc) {
  if (!ptr || !sizeloc) return nullptr;
  FILE *f = static_cast<FILE *>(calloc(1, sizeof(FILE)));
  if (!f) return nullptr;
  f->kind = STREAM_MEMORY;
  f->out_ptr = ptr;
  f->out_size = sizeloc;
  *ptr = nullptr;
  *sizeloc = 0;
  return f;
}

} // extern "C"
