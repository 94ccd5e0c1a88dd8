/* A row per wrapper that does more than hand its arguments on: its name, the
   traps it must make (T(call, ebx, ecx, edx); a register left out is not
   checked, PTR and PTR2 stand for the addresses reported before the call), its
   result, and the call, which the kivos program makes. */
WRAPPER(write_null, (), -1, RESULT(write(1, NULL, 5)))
WRAPPER(write_clamp, (T(WRITE, 1, PTR, MAX)), -14,
        report(ADDR(buf), 0); RESULT(write(1, buf, 0xffffffffu)))
WRAPPER(read_null, (), -1, RESULT(read(0, NULL, 5)))
WRAPPER(read_clamp, (T(READ, 0, PTR, MAX)), -14,
        report(ADDR(buf), 0); RESULT(read(0, buf, 0x80000000u)))
WRAPPER(open_creat, (T(OPEN, PTR, 0x41, 0x41)), 3,
        report(ADDR("f"), 0); RESULT(open("f", O_WRONLY | O_CREAT)))
WRAPPER(open_null, (), -1, RESULT(open(NULL, O_RDONLY)))
WRAPPER(creat, (T(OPEN, PTR, 0x241, 0)), 3, report(ADDR("f"), 0); RESULT(creat("f")))
WRAPPER(creat_null, (), -1, RESULT(creat(NULL)))
WRAPPER(getkey, (T(GETKEY)), 'k', RESULT(getkey()))
WRAPPER(writefile_null, (), -2, RESULT(writefile(NULL, buf, 1) + writefile("f", NULL, 1)))
WRAPPER(writefile_clamp, (T(WRITEFILE, PTR, PTR2, MAX)), -14,
        report(ADDR("f"), ADDR(buf)); RESULT(writefile("f", buf, 0x90000000u)))
/* The host answers every sleep with -5: the wrappers do not pass it on. */
WRAPPER(usleep, (T(USLEEP, 1234)), 0, RESULT(usleep(1234)))
WRAPPER(sleep_5, (T(USLEEP, 5000000)), 0, RESULT(sleep(5)))
WRAPPER(sleep_4294, (T(USLEEP, 4294000000u)), 0, RESULT(sleep(4294)))
WRAPPER(sleep_4295, (T(USLEEP, 4294000000u), T(USLEEP, 1000000)), 0, RESULT(sleep(4295)))
WRAPPER(path_nulls, (), -7,
        RESULT(mkdir(NULL) + unlink(NULL) + rmdir(NULL) + chdir(NULL) + mkfifo(NULL) +
               kivfs_stream_begin(NULL) + access(NULL, 0)))
WRAPPER(getcwd_bad, (), -2, RESULT(getcwd(NULL, 5) + getcwd(buf, 0)))
WRAPPER(getcwd_clamp, (T(GETCWD, PTR, MAX, 0)), 2,
        report(ADDR(buf), 0); RESULT(getcwd(buf, 0xffffffffu)))
WRAPPER(stream_write, (T(STREAM_WRITE, 9, PTR, MAX)), -38,
        report(ADDR(buf), 0); RESULT(kivfs_stream_write(9, buf, 0xfffffff0u)))
WRAPPER(stream_write_null, (), -1, RESULT(kivfs_stream_write(9, NULL, 1)))
WRAPPER(pipe_null, (), -1, RESULT(pipe(NULL)))
WRAPPER(fd_set_inherit, (T(FD_SET_INHERIT, 1), T(FD_SET_INHERIT, 0)), -76,
        RESULT(fd_set_inherit(5) + fd_set_inherit(0)))
WRAPPER(fd_set_nonblock, (T(FD_SET_NONBLOCK, 3, 1, 0)), -38, RESULT(fd_set_nonblock(3, 7)))
WRAPPER(spawn_bad, (), -2, RESULT(spawn(NULL, argv, 1) + spawn("x", argv, -1)))
/* The host puts a file "f" in the folder for access_file only. */
WRAPPER(access_missing, (T(OPEN, PTR, 0, 0)), -1, report(ADDR("f"), 0); RESULT(access("f", 0x7)))
WRAPPER(access_file, (T(OPEN, PTR, 0, 0), T(CLOSE, 3)), 0,
        report(ADDR("f"), 0); RESULT(access("f", 0x7)))
