// The stream functions ordinary C programs expect beyond the core
// runtime, each in terms of the core ones; a program that uses none of
// them carries none of them.
#include "stdio_impl.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

extern "C" {

int getc(FILE *stream) {
  return fgetc(stream);
}

int putc(int c, FILE *stream) {
  return fputc(c, stream);
}

// Reads up to size - 1 bytes, through the end of a line; null when nothing
// came before the end of the input.
char *fgets(char *buf, int size, FILE *stream) {
  if (!buf || size <= 0) return nullptr;
  int n = 0;
  for (int c; n < size - 1 && (c = fgetc(stream)) != EOF;) {
    buf[n++] = char(c);
    if (c == '\n') break;
  }
  buf[n] = 0;
  return n || size == 1 ? buf : nullptr;
}

// The message goes where all output goes: the console.
void perror(const char *what) {
  if (what && *what) {
    fputs(what, stderr);
    fputs(": ", stderr);
  }
  fputs(strerror(errno), stderr);
  fputc('\n', stderr);
}

// One byte of pushback per stream, for as many streams at once as the table
// holds; beside the streams, whose record has no room for it. The heap never
// reuses a record's address, so an entry never outlives its stream's identity.
namespace {

struct pushback {
  FILE *stream;
  int byte;
};
pushback s_pushed[16];

pushback *entry_of(FILE *stream) {
  for (pushback &p : s_pushed)
    if (p.stream == stream) return &p;
  return nullptr;
}

} // namespace

int kivos_stdio_unread(FILE *stream) {
  pushback *p = entry_of(stream);
  if (!p) return -1;
  p->stream = nullptr;
  return p->byte;
}

int ungetc(int c, FILE *stream) {
  if (c == EOF || !stream || stream->kind != STREAM_FD || entry_of(stream)) return EOF;
  pushback *p = entry_of(nullptr);
  if (!p) return EOF;
  *p = {stream, static_cast<unsigned char>(c)};
  stream->eof = 0;
  stream->pos = long(int32_t(uint32_t(stream->pos) - 1u));
  return p->byte;
}

int remove(const char *path) {
  return unlink(path) < 0 ? -1 : 0;
}

void clearerr(FILE *stream) {
  if (stream) stream->error = stream->eof = 0;
}

int fileno(FILE *stream) {
  return stream && stream->kind == STREAM_FD ? stream->fd : -1;
}

int vprintf(const char *format, va_list args) {
  return vfprintf(stdout, format, args);
}

} // extern "C"
