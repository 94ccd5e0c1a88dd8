/* Built into every source of the host (x86-64) build of the runtime: gives
   each of the runtime's standard names a kivos_ prefix, so that they never
   meet the host's own C library in the same program. */
#ifndef KIVOS_HOST_NAMES_H
#define KIVOS_HOST_NAMES_H

/* string */
#define strlen kivos_strlen
#define strnlen kivos_strnlen
#define strcmp kivos_strcmp
#define strncmp kivos_strncmp
#define memcpy kivos_memcpy
#define memmove kivos_memmove
#define memset kivos_memset
#define memcmp kivos_memcmp
#define strcpy kivos_strcpy
#define strncpy kivos_strncpy
#define strcat kivos_strcat
#define strncat kivos_strncat
#define strchr kivos_strchr
#define strrchr kivos_strrchr
#define strstr kivos_strstr
#define strdup kivos_strdup
#define strndup kivos_strndup
#define strcasecmp kivos_strcasecmp
#define strncasecmp kivos_strncasecmp
#define strtok kivos_strtok

/* stdlib and errno */
#define malloc kivos_malloc
#define calloc kivos_calloc
#define realloc kivos_realloc
#define free kivos_free
#define errno kivos_errno

/* stdio */
#define stdin kivos_stdin
#define stdout kivos_stdout
#define stderr kivos_stderr
#define fwrite kivos_fwrite
#define fputc kivos_fputc
#define putchar kivos_putchar
#define fputs kivos_fputs
#define puts kivos_puts
#define fflush kivos_fflush
#define setbuf kivos_setbuf
#define vfprintf kivos_vfprintf
#define fprintf kivos_fprintf
#define printf kivos_printf
#define vsnprintf kivos_vsnprintf
#define snprintf kivos_snprintf
#define vsprintf kivos_vsprintf
#define sprintf kivos_sprintf
#define fopen kivos_fopen
#define fclose kivos_fclose
#define fread kivos_fread
#define fgetc kivos_fgetc
#define getchar kivos_getchar
#define fseek kivos_fseek
#define ftell kivos_ftell
#define rewind kivos_rewind
#define feof kivos_feof
#define ferror kivos_ferror
#define open_memstream kivos_open_memstream

/* unistd and fcntl */
#define write kivos_write
#define read kivos_read
#define _exit kivos__exit
#define close kivos_close
#define getkey kivos_getkey
#define writefile kivos_writefile
#define usleep kivos_usleep
#define sleep kivos_sleep
#define mkdir kivos_mkdir
#define unlink kivos_unlink
#define rmdir kivos_rmdir
#define getcwd kivos_getcwd
#define chdir kivos_chdir
#define lseek kivos_lseek
#define pipe kivos_pipe
#define mkfifo kivos_mkfifo
#define dup kivos_dup
#define dup2 kivos_dup2
#define spawn kivos_spawn
#define waitpid kivos_waitpid
#define access kivos_access
#define open kivos_open
#define creat kivos_creat

#endif
