// Reading and positioning descriptor streams. Nothing is read ahead: each
// call reads exactly what it returns.
#include "stdio_impl.h"

#include <kivos/trap.h>
#include <unistd.h>

namespace {

// Counts bytes read into the position; like all accumulation it wraps
// modulo 2^32 rather than overflowing.
void advance(FILE *stream, ssize_t got) {
  stream->pos = long(int32_t(uint32_t(stream->pos) + uint32_t(got)));
}

// Only descriptor streams above the standard descriptors can be positioned.
bool seekable(const FILE *stream) {
  return stream && stream->kind == STREAM_FD && stream->fd > 2;
}

} // namespace

extern "C" {

size_t fread(void *ptr, size_t size, size_t count, FILE *stream) {
  uint32_t total;
  if (!ptr || !stream || size == 0 || count == 0 || stream->kind != STREAM_FD || size > max_size ||
      count > max_size || __builtin_mul_overflow(uint32_t(size), uint32_t(count), &total))
    return 0;
  // A byte ungetc pushed back comes first; one read brings the rest.
  uint32_t first = 0;
  if (int pushed = pushed_back(stream); pushed >= 0) {
    *static_cast<unsigned char *>(ptr) = static_cast<unsigned char>(pushed);
    advance(stream, 1);
    first = 1;
  }
  ssize_t got =
      first == total ? 0 : read(stream->fd, static_cast<char *>(ptr) + first, total - first);
  if (got <= 0 && !first) {
    stream->eof = 1;
    return 0;
  }
  if (got > 0) advance(stream, got);
  // A kernel that claims more than was asked for delivered no more than that.
  uint32_t rest = got > 0 ? uint32_t(got) : 0;
  uint32_t taken = first + (rest < total - first ? rest : total - first);
  if (taken < total) stream->eof = 1;
  return taken / size;
}

int fgetc(FILE *stream) {
  if (!stream || stream->kind != STREAM_FD) return -1;
  if (int pushed = pushed_back(stream); pushed >= 0) {
    advance(stream, 1);
    return pushed;
  }
  unsigned char byte;
  ssize_t got = kivos_sys_read(stream->fd, &byte, 1);
  if (got <= 0) {
    stream->eof = 1;
    return -1;
  }
  advance(stream, got);
  return got == 1 ? byte : -1;
}

int getchar(void) {
  FILE *in = stdin;
  if (!in || in->kind != STREAM_FD) return -1;
  return fgetc(in);
}

int fseek(FILE *stream, long offset, int whence) {
  if (!seekable(stream)) return -1;
  off_t at = lseek(stream->fd, offset, whence);
  if (at < 0) return -1;
  stream->eof = 0;
  pushed_back(stream); // a seek forgets it
  stream->pos = at;
  return 0;
}

long ftell(FILE *stream) {
  return seekable(stream) ? stream->pos : -1;
}

void rewind(FILE *stream) {
  if (!stream) return;
  if (seekable(stream)) {
    off_t at = lseek(stream->fd, 0, SEEK_SET);
    if (at >= 0) stream->pos = at;
  }
  stream->error = 0;
  stream->eof = 0;
  pushed_back(stream);
}

int feof(FILE *stream) {
  return stream ? stream->eof : 1;
}

int ferror(FILE *stream) {
  return stream ? stream->error : 1;
}

} // extern "C"
