#ifndef KIVOS_UNISTD_H
#define KIVOS_UNISTD_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int ssize_t;
typedef long off_t;

#ifndef SEEK_SET
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#endif

ssize_t write(int fd, const void *buf, size_t count);
ssize_t read(int fd, void *buf, size_t count);
__attribute__((noreturn)) void _exit(int status);
int close(int fd);
int getkey(void);
int writefile(const char *path, const void *buf, size_t len);
int usleep(unsigned int usec);
unsigned int sleep(unsigned int sec);
int mkdir(const char *path);
int unlink(const char *path);
int rmdir(const char *path);
int getcwd(char *buf, size_t size);
int kivfs_stream_begin(const char *path);
int kivfs_stream_write(int handle, const void *buf, size_t len);
int kivfs_stream_end(int handle);
int chdir(const char *path);
off_t lseek(int fd, off_t offset, int whence);
int pipe(int fds[2]);
int mkfifo(const char *path);
int dup(int fd);
int dup2(int oldfd, int newfd);
int fd_set_inherit(int on);
int fd_set_stdio(int a, int b, int c);
int fd_set_nonblock(int fd, int on);
int spawn(const char *path, char *const argv[], int argc);
int waitpid(int pid, int *status, int options);
int access(const char *path, int mode);

/* Beyond the core runtime: options as POSIX reads them. */
extern char *optarg;
extern int optind, opterr, optopt;
int getopt(int argc, char *const argv[], const char *options);

#ifdef __cplusplus
}
#endif

#endif
