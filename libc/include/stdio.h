#ifndef KIVOS_STDIO_H
#define KIVOS_STDIO_H

#include <stdarg.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A stream. On kivos every field is one 32-bit word. Memory and file-write
   streams are made by open_memstream and fopen; their writing code is linked
   only into programs that call one of the two, so in a program that calls
   neither, a record filled in by hand with kind 2 or 3 fails its writes with
   -1. */
typedef struct kivos_file {
  int kind;         /* 1 descriptor, 2 memory, 3 file-write */
  int fd;           /* descriptor of a descriptor stream */
  char *path;       /* file-write stream: the file it is written to at fclose */
  char *buf;        /* collected bytes, NUL-terminated */
  size_t len;       /* bytes in buf, not counting the NUL */
  size_t cap;       /* allocated size of buf */
  char **out_ptr;   /* memory stream: where buf is published */
  size_t *out_size; /* memory stream: where len is published */
  int error;
  long pos;
  int eof;
} FILE;

#define EOF (-1)
#define BUFSIZ 4096

#ifndef SEEK_SET
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#endif

extern FILE *stdin;
extern FILE *stdout;
extern FILE *stderr;

size_t fwrite(const void *ptr, size_t size, size_t count, FILE *stream);
int fputc(int c, FILE *stream);
int putchar(int c);
int fputs(const char *s, FILE *stream);
int puts(const char *s);
int fflush(FILE *stream);
void setbuf(FILE *stream, char *buffer);
/* The compiler checks the arguments against the format (-Wformat, in
   -Wall). The kivos formatters read fewer conversions than the standard
   ones (docs/runtime.md), which the check does not know. */
#define KIVOS_FORMAT(kind, at, first) __attribute__((__format__(kind, at, first)))

int vfprintf(FILE *stream, const char *format, va_list args) KIVOS_FORMAT(__printf__, 2, 0);
int fprintf(FILE *stream, const char *format, ...) KIVOS_FORMAT(__printf__, 2, 3);
int printf(const char *format, ...) KIVOS_FORMAT(__printf__, 1, 2);
int vsnprintf(char *buf, size_t size, const char *format, va_list ap)
    KIVOS_FORMAT(__printf__, 3, 0);
int snprintf(char *buf, size_t size, const char *format, ...) KIVOS_FORMAT(__printf__, 3, 4);
int vsprintf(char *buf, const char *format, va_list ap) KIVOS_FORMAT(__printf__, 2, 0);
int sprintf(char *buf, const char *format, ...) KIVOS_FORMAT(__printf__, 2, 3);
FILE *fopen(const char *path, const char *mode);
int fclose(FILE *stream);
size_t fread(void *ptr, size_t size, size_t count, FILE *stream);
int fgetc(FILE *stream);
int getchar(void);
int fseek(FILE *stream, long offset, int whence);
long ftell(FILE *stream);
void rewind(FILE *stream);
int feof(FILE *stream);
int ferror(FILE *stream);
FILE *open_memstream(char **ptr, size_t *sizeloc);
int vsscanf(const char *str, const char *fmt, va_list ap) KIVOS_FORMAT(__scanf__, 2, 0);
int sscanf(const char *str, const char *fmt, ...) KIVOS_FORMAT(__scanf__, 2, 3);
int fscanf(FILE *f, const char *fmt, ...) KIVOS_FORMAT(__scanf__, 2, 3);

/* Beyond the core runtime, with the C library's usual meaning. */
int getc(FILE *stream);
int putc(int c, FILE *stream);
char *fgets(char *buf, int size, FILE *stream);
void perror(const char *what);
int remove(const char *path);
void clearerr(FILE *stream);
int ungetc(int c, FILE *stream);
int fileno(FILE *stream);
int vprintf(const char *format, va_list args) KIVOS_FORMAT(__printf__, 1, 0);

#ifdef __cplusplus
}
#endif

#endif
