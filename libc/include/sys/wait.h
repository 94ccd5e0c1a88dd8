/* How a child ended, from the status word waitpid stores: an exit status in
   bits 8 to 15, or the signal that matches the fault that ended it in bits 0
   to 6. */
#ifndef KIVOS_SYS_WAIT_H
#define KIVOS_SYS_WAIT_H

#include <unistd.h>

#define WNOHANG 1
#define WTERMSIG(status) ((status)&0x7f)
#define WIFSIGNALED(status) (WTERMSIG(status) != 0)
#define WIFEXITED(status) (WTERMSIG(status) == 0)
#define WEXITSTATUS(status) (((status) >> 8) & 0xff)

#endif
