/* The command and package records of a kivos program, from C: the system's
   command and package tools read them from the sections .kivos.cmdmeta and
   .kivos.pkgmeta. Each record is its magic, a 32-bit format version (1), its
   two strings with their NULs and a final NUL; the sizes are checked when
   the program compiles.

     KIVOS_COMMAND_RECORD("List detected logical drives.", "hdtab");
     KIVOS_PACKAGE_RECORD("hdtab", "2");
*/
#ifndef KIVOS_META_H
#define KIVOS_META_H

#define KIVOS_RECORD_(kind, where, alignment, magic, first, second)                                \
  __attribute__((used, section(where), aligned(alignment))) static const struct {                  \
    char magic_[4];                                                                                \
    unsigned char version_[4];                                                                     \
    char first_[sizeof(first)];                                                                    \
    char second_[sizeof(second)];                                                                  \
    char end_;                                                                                     \
  } kivos_##kind##_record = {magic, {1, 0, 0, 0}, first, second, 0};                               \
  _Static_assert(sizeof(kivos_##kind##_record) == 9 + sizeof(first) + sizeof(second),              \
                 "a kivos record holds no padding")

/* summary and name are string literals. */
#define KIVOS_COMMAND_RECORD(summary, name)                                                        \
  KIVOS_RECORD_(command, ".kivos.cmdmeta", 32, "KCMD", summary, name)

/* name and version are string literals. */
#define KIVOS_PACKAGE_RECORD(name, version)                                                        \
  KIVOS_RECORD_(package, ".kivos.pkgmeta", 4, "KPKG", name, version)

#endif
