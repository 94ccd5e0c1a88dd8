#ifndef KIVOS_ERRNO_H
#define KIVOS_ERRNO_H

#define ENOENT 2
#define ENOMEM 12
#define EINVAL 22
#define ERANGE 34 /* set by strtoll and strtoull, beyond the core runtime */
#define ENOSYS 38

#ifdef __cplusplus
extern "C" {
#endif

extern int errno;

#ifdef __cplusplus
}
#endif

#endif
