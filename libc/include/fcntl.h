#ifndef KIVOS_FCNTL_H
#define KIVOS_FCNTL_H

#ifdef __cplusplus
extern "C" {
#endif

#define O_RDONLY 0
#define O_WRONLY 1
#define O_CREAT 0x40
#define O_TRUNC 0x200

int open(const char *path, int flags);
int creat(const char *path);

#ifdef __cplusplus
}
#endif

#endif
