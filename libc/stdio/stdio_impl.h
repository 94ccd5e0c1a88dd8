// What the stdio engines share, and nothing else: the stream kinds, the
// standard records and the collecting write path. Private to this folder.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#define KIVOS_STDIO_HIDDEN __attribute__((visibility("hidden")))
// Arguments in registers between the stdio engines, on i386: every guest
// store costs, and a byte written costs the calls it passes through.
#if defined(__i386__)
#define KIVOS_STDIO_REGISTERS __attribute__((regparm(3)))
#else
#define KIVOS_STDIO_REGISTERS
#endif

enum stream_kind : int { STREAM_FD = 1, STREAM_MEMORY = 2, STREAM_FILE = 3 };

inline constexpr uint32_t max_count = 0x7fffffffu;
inline constexpr uint32_t max_size = 0xffffffffu;

extern "C" {

// The three static records behind stdin, stdout and stderr.
extern FILE g_stdin KIVOS_STDIO_HIDDEN;
extern FILE g_stdout KIVOS_STDIO_HIDDEN;
extern FILE g_stderr KIVOS_STDIO_HIDDEN;

// Appends bytes to a memory or file-write stream. It lives beside fopen and
// open_memstream, and the byte write path refers to it weakly, so that a
// program that opens neither kind carries neither it nor the heap.
int kivos_stdio_collect(FILE *stream, const char *bytes,
                        size_t count) KIVOS_STDIO_HIDDEN KIVOS_STDIO_REGISTERS;

// The byte ungetc pushed back onto a stream, now forgotten, or -1. It lives
// beside ungetc, weakly referred to by the read paths, so that a program
// that never pushes back carries none of it.
[[gnu::weak]] int kivos_stdio_unread(FILE *stream) KIVOS_STDIO_HIDDEN;
}

// The pushed-back byte, or -1 when there is none (or no ungetc at all).
inline int pushed_back(FILE *stream) {
  return kivos_stdio_unread ? kivos_stdio_unread(stream) : -1;
}
