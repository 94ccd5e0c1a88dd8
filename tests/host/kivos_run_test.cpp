// The kernel stand-in and the tools: the command table.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <kivos/run.h>
#include <regex>
#include <sys/wait.h>

namespace {

// A run takes the store shortcuts: stores to pages without code stay in
// generated code, and with store counts (which see every store) the slow
// path skips its page collection. Command rows check code rewriting with both.
TEST(KivosRun, StoreShortcutsAreTaken) {
  kivos::run_options o;
  o.program = KIVOS_BIN_DIR "/hdtab";
  o.capture_console = true;
  uint64_t taken = kivos::store_shortcuts_taken(), cleaned = kivos::clean_entries_made();
  ASSERT_EQ(kivos::run(o).end, kivos::run_end::exited);
  EXPECT_EQ(kivos::store_shortcuts_taken(), taken);
  EXPECT_GT(kivos::clean_entries_made(), cleaned);
  o.count_stores = true;
  ASSERT_EQ(kivos::run(o).end, kivos::run_end::exited);
  EXPECT_GT(kivos::store_shortcuts_taken(), taken);
}

// The tools as a user runs them, hostile inputs included: a bash command
// (with the helpers of commands.sh), its status and a piece of what it prints.
struct command_case {
  const char *command;
  int status;
  const char *says;
};

const command_case command_cases[] = {
    // Faults, each with its kind, where it lies and the status.
    {"fault null_read", 0, "read from unmapped memory at 0x00000000 126"},
    {"fault first_page_write", 0, "write to unmapped memory at 0x00000fff 126"},
    {"fault rodata_write", 0, "write to read-only memory at REPORTED 126"},
    {"fault jump_to_zero", 0, "instruction fetch from unmapped memory at 0x00000000 126"},
    {"fault execute_stack", 0, "instruction fetch from non-executable memory at REPORTED 126"},
    {"fault invalid_instruction", 0, "invalid instruction 126"},
    {"fault halt", 0, "halt instruction 126"},
    // The emulator aborts on this one; the tool reports it and lives on.
    {"fault far_jump_register", 0, "code the emulator cannot translate 126"},
    {"fault divide_by_zero", 0, "divide error 126"},
    {"fault stack_overflow", 0, "stack overflow at 0xbffef"}, // the page below a 64 KiB stack
    {"fault strlen_4096", 0, "read from unmapped memory at 0x00001000 126"},
    // A data fault's eip is the faulting instruction: the store of 1 to 0xfff.
    {"e=$($RUN $P/faults first_page_write 2>&1 | sed -E 's/.*eip 0x([0-9a-f]+).*/\\1/'); od -An "
     "-tx1 -j$((0x$e - 0x400000)) -N7 $P/faults",
     0, " c6 05 ff 0f 00 00 01\n"},
    // Files that are not kivos executables, each made from hdtab.
    {"printf '#!/bin/sh\\n' >$D/p && $RUN $D/p", 125, "not an ELF file"},
    {"head -c 30 $H >$D/p && $RUN $D/p", 125, "truncated ELF header"},
    {"bad 4 '\\2'", 125, "64-bit"},
    {"bad 16 '\\1'", 125, "ELF type 1"},
    {"bad 18 '\\50'", 125, "ELF machine 40"},
    {"head -c 60 $H >$D/p && $RUN $D/p", 125, "program headers run past"},
    {"bad 60 $(le32 0xbfff0000)", 125, "overlaps the stack"},
    {"bad 136 $(le32 0x60000000)", 125, "more than the 1 GiB"},
    {"bad 7 '\\3'", 125, "another system (OS/ABI 3, Linux)"},
    {"bad 84 '\\2'", 125, "dynamically linked"},
    {"bad 84 '\\4' $(od -An -tu4 -j88 -N4 $H) '\\4\\0\\0\\0\\20\\0\\0\\0\\1\\0\\0\\0GNU\\0'", 125,
     "ABI note of another system (GNU)"},
    // Symbol names without a NUL, shared by thousands of symbols or sections,
    // cost memory by the file's size; a C name is never read as a type code.
    {"raw names; raw sections; raw cname; ulimit -v 2500000; for p in names sections; do $RUN "
     "$D/$p && $RUN --profile $D/$p 2>&1 | grep -c aaaa; $M $D/$p 2>&1 | grep -c 'no command'; "
     "done; $RUN --profile $D/cname 2>&1 | grep -o ' Sa$'",
     0, "1\n1\n0\n1\n Sa\n"},
    // A fixed counter holds for a prefixed rdtsc, one across two regions, one
    // the program writes, not for one it overwrites; 16 MiB of them are cheap.
    {"raw tsc; raw pairs; $RUN --tsc 5 $D/tsc; echo $?; ulimit -v 2500000; $RUN --tsc 1 $D/pairs",
     0, "50\n"},
    // Every store into the running code is counted once and seen by gdb.
    {"raw patch; cp $D/patch $D/patch.elf; $RUN --stats=stores $D/patch 2>&1 | grep -o '[0-9]* "
     "stores'; debug $D/patch x 'watch *(int *)0x40000d' continue continue | grep -E '^(Old|New)'",
     0, "1000 stores\nOld value = 0\nNew value = 1000\nOld value = 1000\nNew value = 999\n"},
    // Code the kernel reads over code that ran runs anew.
    {"raw reread; cd $D; printf '\\270f\\0\\0\\0\\303' >c; for s in '' --no-store-shortcut; do "
     "$RUN $s reread; echo -n \"$? \"; done",
     0, "102 102 "},
    // hdtab's listing, usage and failure, byte for byte; its budgets: at most 8
    // guest stores (slow on the emulator) per trap and 2,264 bytes stripped.
    {"run $H -h extra", 0, "[Usage: hdtab] 0"},
    {"run $H -x", 0,
     "[Detected logical drives: 4\nDrive 0: Present\nDrive 1: Present (current)\nDrive 2: Not "
     "present\nDrive 3: Present] 0"},
    {"run --drives 2 --current 0 $H -x -h", 0,
     "[Detected logical drives: 2\nDrive 0: Present (current)\nDrive 1: Present] 0"},
    {"run --drives 0 $H", 0, "[Detected logical drives: 0] 0"},
    {"run --drives -38 $H", 0, "[hdtab: failed to query drives] 1"},
    {"run --drives 3 --probe 1=5 --probe 2=0 $H", 0,
     "Drive 1: Present (current)\nDrive 2: Not present] 0"},
    {"run --drives 2 --current -1 $H", 0,
     "[Detected logical drives: 2\nDrive 0: Present\nDrive 1: Present] 0"},
    {"$RUN --drives 11 --current 10 $H | tail -2", 0,
     "Drive 9: Present\nDrive 10: Present (current)\n"},
    {"$RUN --stats=stores --drives 10000 --current 9999 $H 2>$D/s | sed -n '$p;$='; awk '{print $7 "
     "<= 8 * $2 ? \"stores within\" : $0}' $D/s; stat -c %s $H | awk '{print $1 <= 2264 ? \"size "
     "within\" : $1}'",
     0, "Drive 9999: Present (current)\n10001\nstores within\nsize within\n"},
    // _start: main's stack is 16-byte aligned whatever the arguments (they move
    // it through every offset), argv ends with null, main's result is the status.
    {"a=(); for n in {0..7}; do $RUN $P/start \"${a[@]}\"; echo $?; a+=(\"$(head -c $((n % 3)) "
     "/dev/zero | tr '\\0' $n)\"); done",
     0,
     "0\n1\n0[]\n2\n0[][1]\n3\n0[][1][22]\n4\n0[][1][22][]\n5\n0[][1][22][][4]\n6\n0[][1][22][][4]["
     "55]\n7\n0[][1][22][][4][55][]\n8\n"},
    // The root folder: paths leading out do not open; writefile replaces a link,
    // not its target, and leaves nothing when it fails; bad pointers fail alone.
    {"box; for f in data /data sub/../data ../data ../../../data good_link; do $RUN --root $D/r "
     "$P/files cat $f; done",
     0, "insideinsideinsideinsideinsideinside"},
    {"box; echo \"[$(for f in ../secret up_link abs_link '' missing /proc/self/exe; do $RUN --root "
     "$D/r $P/files cat \"$f\"; done)]\"",
     0, "[]"},
    {"box; for a in 'data new' '../escape x' 'up_link y'; do reports --root $D/r $P/files put $a; "
     "done; cd $D && cat r/data r/escape secret r/up_link && ls",
     0, "3 1 1 newxoutsideyr\nsecret\n"},
    {"box; for a in nowhere/f sub; do reports --root $D/r $P/files put $a z; done; ls -A $D/r/sub",
     0, "-2 -21 "},
    {"box; reports --root $D/r $P/files dirs; $RUN --root $D/r $P/files dirs; ls $D/r", 0,
     "0 0 6 1 0 0 0 0 -2 /made\n/\nabs_link\ndata\ngood_link\nsub\nup_link\n"},
    {"box; $RUN --trace --root $D/r $P/files bad_pointers 2>&1 | grep -c ' = -14 EFAULT$'; $RUN "
     "--root $D/r $P/files bad_pointers",
     0, "7\nstill running\n"},
    // File streams: a read per fgetc and fread, none for ftell; fclose of a
    // written file is one writefile; descriptors below 3 stay open; fscanf
    // reads a byte at a time.
    {"files; for c in fgetc_bytes fread_short open_modes write_file write_fails redirected_stdout "
     "low_descriptor; do echo \"$c:$(calls --root $D $P/file_streams $c)\"; done",
     0,
     "fgetc_bytes: 1 close 1 open 4 read \nfread_short: 1 close 1 open 2 read \nopen_modes: 1 "
     "close 2 open 1 read \nwrite_file: 2 writefile \nwrite_fails: 1 writefile "
     "\nredirected_stdout: 1 close 1 open 1 read 1 writefile \nlow_descriptor:\n"},
    {"files; $RUN --trace --root $D $P/file_streams write_file 2>&1 | grep ^writefile; wc -c "
     "<$D/out; $RUN --root $D $P/file_streams redirected_stdout; cat $D/log",
     0,
     "writefile(\"out\", \"hello 42!\\x00\\n\", 11) = 11\nwritefile(\"empty\", \"\", 0) = "
     "0\n11\nhi\nn=7\n"},
    {"files; printf ab | $RUN --trace --root $D $P/file_streams fscanf_tokens 2>&1 | sed -nE "
     "'s/^read\\(.*, ([0-9]+)\\) = .*/\\1/p' | uniq -c | awk '{print $2, ($1 > 300)}'",
     0, "1 1\n"},
    // The stream functions: the piece handed to each write and the result.
    {"pieces printf 'Drive %d: Present\n' i:3", 0,
     "{[D][r][i][v][e][ ][3][:][ ][P][r][e][s][e][n][t][\\n]=0x11}"},
    {"pieces printf %5d i:-42", 0, "{[ ][ ][-][42]=0x5}"},
    {"pieces printf %.5d i:-42", 0, "{[-][0][0][0][42]=0x6}"},
    {"pieces printf %05d i:42", 0, "{[ ][ ][ ][42]=0x5}"},
    {"pieces printf %lld u:0 u:0x80000000", 0, "{[-][9223372036854775808]=0x14}"},
    {"pieces printf %-5d i:1", 0, "{[%][-][5][d]=0x4}"},
    {"pieces fprintf stdout %cz i:0x141 i:-1 i:0 i:9", 0, "{[\\xffA\\xff\\x00][z]=0x1}"},
    {"pieces fprintf stderr %c i:1 i:2 i:3", 0, "{[\\xff\\x01\\x02\\x03]=0x0}"},
    {"pieces fprintf stdin abc", 0, "{=0xffffffff}"},
    {"pieces fprintf stdout '(null)'", 0, "{=0xffffffff}"},
    {"pieces fputc stdout -1", 0, "{[\\xff]=0xffffffff}"},
    {"pieces puts line", 0, "{[line][\\n]=0x0}"},
    {"pieces puts '(null)'", 0, "{=0xffffffff}"},
    {"pieces fwrite stdout 2 3", 0, "{[ABCDEF]=0x3}"},
    {"pieces fwrite stdout 0 3", 0, "{=0x0}"},
    {"pieces fwrite stderr 1 1", 0, "{[A]=0x1}"},
    // Forced results: a short write is continued, an overlong one took all, a
    // failed piece ends the formatter and puts; a failed close, an overlong
    // read (fread gives no more than asked) and a positive writefile result.
    {"$RUN --trace -e inject=write:retval=3 $P/stdio fputs stdout abcdefg 2>&1 >/dev/null | tr "
     "'\\n' '|'",
     0,
     "write(1, \"abcdefg\", 7) = 3 (injected)|write(1, \"defg\", 4) = 3 (injected)|write(1, \"g\", "
     "1) = 3 (injected)|trap_200(0x7,"},
    {"$RUN --trace -e inject=write:retval=1000 $P/stdio fputs stdout abcdefg 2>&1 >/dev/null | tr "
     "'\\n' '|'",
     0, "write(1, \"abcdefg\", 7) = 1000 (injected)|trap_200(0x7,"},
    {"for r in 0 -5; do $RUN --trace -e inject=write:retval=$r:when=3 $P/stdio printf ab%dcd i:42 "
     "2>&1 >/dev/null | grep -oE '^(write|trap_200\\(0x[0-9a-f]+)' | tr '\\n' ' '; done",
     0, "write write write trap_200(0xffffffff write write write trap_200(0xffffffff "},
    {"$RUN --trace -e inject=write:retval=-1 $P/stdio puts abc 2>&1 >/dev/null | tr '\\n' '|'", 0,
     "write(1, \"abc\", 3) = -1 EPERM (injected)|trap_200(0xffffffff,"},
    {"files; $RUN --trace --root $D -e inject=read:retval=1000 -e inject=close:retval=-77 "
     "$P/file_streams kernel_results 2>&1 | grep -o '^trap_200(0x[0-9a-f]*, 0x[0-9a-f]*'; $RUN "
     "--root $D -e inject=writefile:retval=12345 $P/file_streams write_file && echo fine",
     0, "trap_200(0x3, 0x3e8\ntrap_200(0xffffffb3, 0x0\nfine\n"},
    {"$RUN -e inject=drive_probe:retval=0:when=2 $H | tail -3", 0,
     "Drive 1: Not present\nDrive 2: Not present\nDrive 3: Present\n"},
    // Each rule counts every call of its names; _exit is never forced.
    {"$RUN -e inject=write:retval=-5:when=1 -e inject=write:retval=-7:when=3 -e trace=write $H "
     "2>&1 >/dev/null | head -3 | grep -o '= -[0-9]'",
     0, "= -5\n= -7\n"},
    {"$RUN -e inject=_exit:retval=5 $H; $RUN -e inject=write:when=2 $H", 125,
     "_exit cannot be injected, it always ends the program\nTry 'kivos-run --help'.\nkivos-run: "
     "-e inject wants CALL,...:retval=N|error=NAME[:when=K]"},
    {"$RUN --drives 3 --current 0 --probe 1=0 --probe=2=-1 $H", 0,
     "(current)\nDrive 1: Not present\nDrive 2: query error\n"},
    {"$RUN --drives fail $H", 1, "hdtab: failed to query drives\n"},
    {"$RUN --help", 0, "Usage: kivos-run"},
    {"$RUN", 125, "no program given"},
    {"$RUN --drives many x", 125, "--drives wants"},
    {"$RUN --bogus x", 125, "unknown option --bogus"},
    {"$RUN /nonexistent/prog", 125, "No such file"},
    {"$RUN $D", 125, "a directory, not a program file"},
    {"$RUN /dev/zero", 125, "not a regular file"},
    {"mkfifo $D/f && $RUN $D/f", 125, "not a regular file"},
    {"truncate -s 6G $D/big && $RUN $D/big", 125, "more than the 1074790400 a program may have"},
    {"$RUN $P/faults null_read", 126, "read from unmapped memory at 0x00000000 (eip 0x"},
    // Code a program rewrites (its code made writable) runs, with and without the shortcut.
    {"B=$P/faults poke 76 '\\7'; for s in '' --no-store-shortcut; do reports $s $D/p rewrite_code; "
     "done",
     0, "1 2 7 1 2 7 "},
    {"$RUN --timeout 1e-9 $P/faults endless", 124, "time limit"},
    {"$RUN --max-instructions 100000 $P/faults endless", 124, "instruction limit of 100000"},
    {"$RUN --max-instructions 1000000 $H", 0, "Drive 3: Present\n"},
    // The wrappers: null pointers fail with no trap, counts past the largest
    // int are clamped to it, arguments and results are shaped.
    {"$RUN --trace $P/wrappers null_pointers 2>&1 | grep -vc ^_exit; $RUN --trace $P/wrappers "
     "clamps 2>&1 >/dev/null | grep -cE ', (2147483647|0x7fffffff)\\) = '; printf k | reports "
     "$P/wrappers getkey",
     0, "0\n5\n107 "},
    {"$RUN --trace -e inject=usleep:retval=-5 --root $D $P/wrappers shaped 2>&1 >/dev/null | sed "
     "'s/ (injected)//; s/ = -38 (not served)//' | tr '\\n' '|'",
     0,
     "usleep(1234) = -5 EIO|usleep(5000000) = -5 EIO|usleep(4294000000) = -5 "
     "EIO|usleep(4294000000) = -5 EIO|usleep(1000000) = -5 EIO|trap_200(0x0, 0x0, 0x0)|open(\"f\", "
     "O_WRONLY|O_CREAT, 0x41) = 3|open(\"g\", O_WRONLY|O_CREAT|O_TRUNC, 0x0) = "
     "4|fd_set_inherit(1) = 0|fd_set_inherit(0) = 0|fd_set_nonblock(3, 1) = 0|open(\"f\", "
     "O_RDONLY, 0x0) = 5|close(5) = 0|open(\"missing\", O_RDONLY, 0x0) = -2 "
     "ENOENT|trap_200(0xffffffff, 0x0, 0x0)|"},
    // A sleep past 32 bits of microseconds takes several traps that add up.
    {"$RUN --trace --no-sleep $P/wrappers sleep_max 2>&1 | awk -F'[()]' '/^usleep/ {s += $2} END "
     "{printf \"%.0f\", s}'",
     0, "4294967295000000"},
    // A program asleep when its time runs out ends then, not when it wakes.
    {"timeout 3 $RUN --timeout 0.3 $P/wrappers sleep_5", 124, "time limit of 0.3 s"},
    {"$RUN --timeout 1e10 $H", 0, "Drive 3: Present\n"},
    {"for t in inf 0 nan; do $RUN --timeout $t $H; echo $?; done 2>&1 | grep -c 'positive number "
     "of seconds\\|^125$'",
     0, "6\n"},
    // A program blocked in the host ends at its time limit all the same.
    {"sleep 3 | $RUN --timeout 0.3 $P/wrappers getkey", 124, "time limit of 0.3 s"},
    {"sleep 3 | $RUN --timeout 0.3 $P/file_streams standard_input", 124, "time limit"},
    {"mkfifo $D/p && $RUN --timeout 0.3 --root $D $P/files cat p", 124, "time limit"},
    // Output that cannot be written fails the program's write and the run.
    {"$RUN $H >/dev/full", 125, "No space left on device; the program's output was lost"},
    {"$RUN --trace $P/stdio fputs stdout x 2>&1 >/dev/full", 125, "= -28 ENOSPC"},
    // So does every other output of both tools; -o empties its file only once
    // the options are good, and waits for a FIFO's reader within the time limit.
    {"$RUN -o /dev/full $H >/dev/null; echo $?; $M --json $H >/dev/full; echo $?; $RUN -c $H "
     "2>/dev/full >/dev/null; echo $?",
     0,
     "kivos-run: -o /dev/full: No space left on device; the trace was lost\n125\nkivos-meta: "
     "standard output: No space left on device\n2\n125\n"},
    {"echo keep >$D/p; $RUN -o $D/p --bogus x; cat $D/p; mkfifo $D/f; timeout 5 $RUN --timeout "
     "0.3 -o $D/f $H",
     124, "keep\nkivos-run: -o "},
    {"{ trap '' PIPE; $RUN --drives 100000 $H; echo \"status $?\" >&2; } | head -c 1 >/dev/null", 0,
     "Broken pipe; the program's output was lost\nstatus 125"},
    // Processes: a deadlock ends the run; so does the first process, ending
    // the others; the shell's pipelines; the same run twice is the same.
    {"cp $P/child $D; $RUN --root $D $P/process deadlock", 124, "deadlock: pid 1 waits in read"},
    {"cp $P/child $D; $RUN --trace --root $D $P/process outlive 2>&1 | tail -2", 0,
     "[pid 1] _exit(5) = ?\n[pid 2] +++ ended with the run +++\n"},
    {"printf 'hdtab | count\\nexit 3\\n' | $RUN --root ${H%/*} ${H%/*}/kivsh; echo $?; $RUN "
     "--root ${H%/*} ${H%/*}/kivsh -c 'nothing | count'",
     0, "5 18 109\n3\nkivsh: nothing: not found\n0 0 0\n"},
    // A recording replays alone: console input, files, the counter, the drive
    // traps, several processes; no file is read or written again.
    {"C=${H%/*}; files; printf 'a b\\nc\\n' | replays '' $C/count; replays \"--root $D\" $C/upcase "
     "ten up; cat $D/up; echo; replays '' $P/process first_rand; replays '--drives 9' $H; replays "
     "\"--root $C --tsc 3\" $C/kivsh -c 'hdtab | count'",
     0, "same\nsame\n0123456789\nsame\nsame\nsame\n"},
    // Another program's recording, a cut or damaged one, and a changed program.
    {"C=${H%/*}; $RUN --record $D/r $H >/dev/null; { run --replay $D/r $C/count; head -c 40 $D/r "
     ">$D/t; run --replay $D/t $H; cp $D/r $D/d; printf UUUU | dd of=$D/d bs=1 seek=30 "
     "conv=notrunc 2>/dev/null; run --replay $D/d $H; mkdir $D/x; cp $C/count $D/x/hdtab; run "
     "--replay $D/r $D/x/hdtab; } | sed \"s|$D|D|g; s|$C|C|g; s/[0-9][0-9]* instr/N instr/; "
     "s/read([^)]*)/read(...)/\"",
     0,
     "[kivos-run: C/count: D/r is a recording of hdtab, not of count] 125\n"
     "[kivos-run: C/hdtab: D/t is truncated (it ends before the run does)] 125\n"
     "[kivos-run: C/hdtab: D/d is damaged (its compressed data does not check)] 125\n"
     "[kivos-run: D/x/hdtab: the run left its recording: after N instructions pid 1 made read(...) "
     "where the recording has drive_count(0, 0, 0) of pid 1 (the program changed since)] 125\n"},
    // A picture that cannot be written is said, by its option, after the run.
    {"$RUN --profile=folded:$D/no/f $H.elf", 125, "Drive 3: Present\nkivos-run: --profile=folded:"},
    // Every process is profiled and covered, a stripped one as "(unknown)".
    {"cd ${H%/*} && $RUN --root . --profile=folded:$D/f --coverage $D/c kivsh.elf -c 'hdtab.elf "
     "| count' && cut -d';' -f1-3 $D/f | grep -v kivsh | sed 's, [0-9]*$,,' | uniq; grep -c "
     "'^SF:.*/hdtab_uelf.cpp' $D/c",
     0,
     "count (pid 3);(unknown)\ncount (pid 3);(unknown);(unknown)\nhdtab.elf (pid 2);_start\n"
     "hdtab.elf (pid 2);_start;_exit\nhdtab.elf (pid 2);_start;main\n1\n"},
    {"r() { $RUN --tsc 1 --trace --root ${H%/*} ${H%/*}/kivsh -c 'hdtab | count' 2>&1; }; [[ "
     "\"$(r)\" == \"$(r)\" ]] && r | grep -c '^\\[pid [23]\\]'",
     0, "121\n"},
    // A host program feeds a kivos one through a named pipe.
    {"mkfifo $D/f; (printf 'from host' >$D/f &); $RUN --timeout 5 --root $D $P/child file f", 0,
     "from host"},
    // SIGINT ends a run as it ends strace: the table still comes out.
    {"$RUN -c $P/faults endless 2>$D/e & sleep 0.3; kill -INT $!; wait $!; echo \"status $?\"; "
     "grep -c total $D/e",
     0, "status 130\n1\n"},
    // The habits of strace, a profile that adds up, and the version.
    {"$RUN --drives 1 --fold-writes $H 2>&1 >/dev/null", 0,
     "write(1, \"Detected logical drives: 1\\n\", 27) = 27 [27 one-byte writes folded]\n"},
    // hdtab's queries: each drive once, in order; none for -h or after a failed count.
    {"echo \"[$($RUN -e trace=drive,_exit $H 2>&1 >/dev/null | tr '\\n' ' ')]\"", 0,
     "[drive_count() = 4 drive_current() = 1 drive_probe(0) = 1 drive_probe(1) = 1 drive_probe(2) "
     "= 0 drive_probe(3) = 1 _exit(0) = ? ]"},
    {"echo \"[$($RUN -e trace=drive,_exit $H -h 2>&1 >/dev/null)]\"", 0, "[_exit(0) = ?]"},
    {"echo \"[$($RUN -e trace=drive,_exit --drives fail $H 2>&1 >/dev/null | tr '\\n' ' ')]\"", 0,
     "[drive_count() = -1 EPERM _exit(1) = ? ]"},
    // exit and abort end the process at once: no handler, no file written.
    {"echo \"[$($RUN --trace --root $D $P/process exit_3 2>&1)|$(ls $D)]\"", 0, "[_exit(3) = ?|]"},
    {"echo \"[$($RUN --trace $P/process exit_minus_one 2>&1)]\"", 0, "[_exit(-1) = ?]"},
    {"echo \"[$($RUN --trace $P/process abort 2>&1)]\"", 0, "[_exit(1) = ?]"},
    {"$RUN $P/wrappers exit", 42, ""},
    {"$RUN $P/process assert_fails", 1, "Assertion failed: 1 + 1 == 3, file "},
    // The first rand seeds itself from the time-stamp counter (runs differ).
    {"r() { $RUN --trace \"$@\" $P/process first_rand 2>&1; }; [[ $(r --tsc 1) == \"$(r --tsc 1)\" "
     "&& $(r --tsc 1) != \"$(r --tsc 2)\" && $({ r; r; r; } | sort -u | wc -l) -gt 1 ]] && echo "
     "follows",
     0, "follows"},
    {"$RUN -s 4 -e trace=console $P/stdio fputs stdout hello 2>&1 >/dev/null", 0,
     "write(1, \"hell\"..., 5) = 5\n"},
    {"$RUN -o $D/t -e trace=process $H >/dev/null && cat $D/t", 0, "_exit(0) = ?\n"},
    {"$RUN -T -r -e trace=drive_count $H 2>&1 >/dev/null | grep -cE '^ +0\\.[0-9]{6} "
     "drive_count\\(\\) = 4 <0\\.[0-9]{6}>$'",
     0, "1\n"},
    {"$RUN -tt -e trace=_exit $H 2>&1 >/dev/null | grep -cE '^[0-9:]{8}\\.[0-9]{6} _exit'", 0,
     "1\n"},
    // More of strace's spellings: -ttt, a negated set, errors by name, a read
    // of nothing shown as "".
    {"$RUN -f -ttt -e 'trace=!write,drive' $H 2>&1 >/dev/null | sed -E 's/^[0-9]{10}\\.[0-9]{6} "
     "//'; $RUN -e inject=drive_count:error=EIO -e trace=all $H 2>&1 >/dev/null | head -1; printf "
     "'' | $RUN -y -e trace=read $P/file_streams standard_input 2>&1 >/dev/null | head -1",
     0, "_exit(0) = ?\ndrive_count() = -5 EIO (injected)\nread(0<console>, \"\", 1) = 0\n"},
    {"$RUN -c $H 2>&1 >/dev/null | grep -cE ' 109 +write$| 116 +total$'", 0, "2\n"},
    {"$RUN --trace --root $D $P/files cat missing", 0,
     "open(\"missing\", O_RDONLY, 0x0) = -2 ENOENT\n"},
    // Bytes quoted as C does, a long buffer cut after 32 of them.
    {"$RUN --trace $P/stdio fputs stdout \"$(printf 'a\"b\\\\\\n\\xff')$(printf %040d 0)\" 2>&1 "
     ">/dev/null | head -1",
     0, "write(1, \"a\\\"b\\\\\\n\\xff00000000000000000000000000\"..., 46) = 46\n"},
    {"$RUN --trace $P/files unserved 2>&1 | grep -v trap_200", 0,
     "spawn(0x0, 0x0, 0) = -14 EFAULT\ntrap_999(0x1, 0x2, 0x3) = -38 (not served)\n"},
    {"$RUN -e trace=nothing $H", 125, "no call or class named 'nothing'"},
    {"$RUN --profile --stats $H.elf 2>&1 >/dev/null | awk '/instructions,/ {s = $5} /profile of/ "
     "{p = $4} /%/ {t += $2} /  vfprintf$/ {v = 1} END {print s == p && p == t && v ? \"agrees\" : "
     "\"differs\"}'",
     0, "agrees"},
    {"$RUN --version && $M --version", 0,
     "kivos-run " KIVOS_VERSION "\nkivos-meta " KIVOS_VERSION "\n"},
    // The real gdb through the stub: break, step, print, watch, finish; a
    // deleted breakpoint stops nothing; Ctrl-C (to gdb alone), kill; a fault.
    {"debug $P/debugee x 'break add' continue 'print a + b' stepi 'info registers eip' finish "
     "'print counter' 'watch counter' continue delete continue | grep -E '^(Breakpoint "
     "1,|\\$|eip|Value|Hardware|Old|New|\\[Inferior|status)' | sed -E 's/ at \\/.*//; "
     "s/0x[0-9a-f]+ +0x[0-9a-f]+ <add\\+[0-9]+>/in add/'",
     0,
     "Breakpoint 1, add (a=2, b=3)\n$1 = 5\neip            in add\nValue returned is $2 = 5\n$3 = "
     "0\nHardware watchpoint 2: counter\nHardware watchpoint 2: counter\nOld value = 0\nNew value "
     "= 5\n[Inferior 1 (Remote target) exited with code 06]\nstatus 6\n"},
    {"echo \"[$(debug $H x 'break vfprintf' continue delete continue | grep -oE '^Breakpoint 1, "
     "|SIGTRAP|exited normally|status [0-9]+' | tr '\\n' '|')]\"",
     0, "[Breakpoint 1, |exited normally|status 0|]"},
    {"GDB='timeout --foreground -s INT 5' debug $P/faults endless continue 'print $pc' kill | grep "
     "-E '^Program received|^\\$1|killed|status' | sed 's/.*<faults_endless_case>$/in the endless "
     "case/'; grep -c 'killed from gdb' $D/stub",
     0,
     "Program received signal SIGINT, Interrupt.\nin the endless case\n[Inferior 1 (Remote target) "
     "killed]\nstatus 126\n1\n"},
    // A watchpoint stops right after the write, in code that ran before it
    // was set; gdb reads the registers a kivos program has, with their values.
    {"debug $P/debugee x 'break debugee.c:15' continue 'watch counter' continue 'info "
     "all-registers' | grep "
     "-oE '^(Old|New) value = [0-9]+|^set \\(value=12\\)|^(fctrl|xmm0) +0x[0-9a-f]+' | tr -s ' '",
     0, "Old value = 6\nNew value = 12\nset (value=12)\nfctrl 0x37f\n"},
    // Backwards under stock gdb: a reverse-stepi and back, a reverse-continue
    // that stops at each earlier write of a watched variable (before it, the
    // old value back), then at a breakpoint, then at the start; forward again
    // to the end, with the program's output shown once.
    {"debug $P/debugee x 'break debugee.c:16' continue reverse-stepi 'info registers eip' stepi "
     "'watch counter' reverse-continue 'print counter' reverse-continue 'delete 2' 'break add' "
     "reverse-continue reverse-continue continue continue | grep -E '^(Old|New) "
     "value|^\\$|^status|^No "
     "more|^Breakpoint [0-9],|^eip' | sed 's/ at .*//; s/0x[0-9a-f]* <main+[0-9]*>/main/'",
     0,
     "Breakpoint 1, main ()\neip            0x4000f6            main\nBreakpoint 1, main ()\n"
     "Old value = 12\nNew value = 6\n$1 = 6\nOld value = 6\nNew value = 5\n"
     "Breakpoint 3, add (a=2, b=3)\nNo more reverse-execution history.\n"
     "Breakpoint 3, add (a=2, b=3)\nBreakpoint 1, main ()\nstatus 6\n"},
    // A replay of several processes goes backwards by replaying again from
    // the start, showing nothing twice; a live one says it cannot.
    {"C=${H%/*}; $RUN --record $D/k --root $C $C/kivsh.elf -c 'hdtab | count' >/dev/null; stub "
     "--replay $D/k $C/kivsh.elf && gdb -batch -nx -ex \"target remote :$port\" -ex 'break _exit' "
     "-ex continue -ex 'break split' -ex reverse-continue -ex continue -ex continue $C/kivsh.elf "
     "2>&1 | grep -c '^Breakpoint 2, split'; stub_status; stub --root $C $C/kivsh.elf -c 'hdtab | "
     "count' && gdb -batch -nx -ex "
     "\"target remote :$port\" -ex 'break _exit' -ex continue -ex reverse-stepi $C/kivsh.elf 2>&1 "
     "| grep -o 'needs a replay'; stub_status",
     0, "5 18 109\n1\nstatus 0\n5 18 109\nneeds a replay\nstatus 0\n"},
    // A recording replays under gdb, watchpoint and all, to the recorded end.
    {"$RUN --record $D/rec $P/debugee x >/dev/null; stub --replay $D/rec $P/debugee && gdb -batch "
     "-nx -ex \"target remote :$port\" -ex 'break debugee.c:15' -ex continue -ex 'watch counter' "
     "-ex continue -ex continue $P/debugee.elf 2>&1 | grep -E '^(Old|New) value|exited'; "
     "stub_status",
     0,
     "Old value = 6\nNew value = 12\n[Inferior 1 (Remote target) exited with code 06]\nstatus 6\n"},
    // The stub under hostile packets: a register number read as negative, a
    // length of 4 GB, a bad checksum (refused), junk, a Ctrl-C that comes with
    // a continue and one that comes later; gdb going away, or leaving, while
    // the program runs or sleeps ends it, or lets it run to its time limit.
    {"wire $P/faults endless '$p80000000#' '$M400000,ffffffff:00#' '$g#00' junk '$qC#' "
     "'$c#63\\x03' '$c#' '\\x03' '$k#'",
     0, "E01\nE01\n-\nQC1\nT02thread:1;\nT02thread:1;\n(closed)\nstatus 126\n"},
    // A Ctrl-C stops a long reverse-continue where it has got; going back
    // one instruction from there still works.
    {"wire $P/faults endless '$c#' wait wait '\\x03' '$bc#' '\\x03' '$bs#' '$k#'", 0,
     "T02thread:1;\nT02thread:1;\nT05thread:1;\n(closed)\nstatus 126\n"},
    {"wire $P/wrappers sleep_5 '$c#' wait '\\x03' '$c#' close; OPTS='--timeout 0.5' wire "
     "$P/faults endless '$D#'",
     0, "T02thread:1;\nstatus 126\nOK\n(closed)\nstatus 124\n"},
    // gdb debugs the first process while its children run; a breakpoint
    // re-inserted after a step stops again.
    {"cd ${H%/*} && ARG2='hdtab | count' debug kivsh -c 'break waitpid' continue continue "
     "continue | grep -cE '^Breakpoint 1, waitpid|exited normally'",
     0, "3\n"},
    {"debug $P/faults null_read continue | grep -E '^Program (received|terminated with) signal'", 0,
     "Program received signal SIGSEGV"},
    // The upcase example, and a file too big for the heap: it fails aloud.
    {"cd $D && printf \"hello kivos\\nsecond line\\n\" >notes && $RUN --root . ${H%/*}/upcase "
     "notes UP && cat UP",
     0, "2 lines\nHELLO KIVOS\nSECOND LINE\n"},
    {"cd $D && head -c 524288 /dev/zero >big && $RUN --root . ${H%/*}/upcase big BIG || ls", 0,
     "upcase: BIG does not fit in memory\nbig\n"},
    // kivos-meta: the records, where they lie, found without section headers,
    // every byte of a summary escaped; damaged copies, each fault named.
    {"$M $H | sed 's/ at 0x.*//'", 0,
     "  command record: .kivos.cmdmeta, 45 bytes\n    magic          KCMD\n    format version 1\n  "
     "  summary        List detected logical drives.\n    name           hdtab\n  package record: "
     ".kivos.pkgmeta, 17 bytes\n    magic          KPKG\n    format version 1\n    name           "
     "hdtab\n    version        2\n"},
    {"llvm-readelf -S -l $H | awk '/\\] \\.kivos/ {print $(NF-9), $(NF-3), $NF} /LOAD/ && ++n == 2 "
     "{print $7, $8} /^ +01 /'",
     0,
     ".kivos.cmdmeta A 32\n.kivos.pkgmeta A 4\nR 0x1000\n   01     .rodata .kivos.cmdmeta "
     ".kivos.pkgmeta \n"},
    {"llvm-objcopy --strip-sections $H $D/n && $M $D/n | grep record", 0,
     "  command record: found in a segment, 45 bytes at 0x"},
    {"poke $(section .kivos.cmdmeta 8) '\\377\\200\\1\\t\"\\\\\\177'; $M --json $D/p | python3 -c "
     "'import json, sys; print(ascii(json.load(sys.stdin)[0][\"command\"][\"summary\"][:7]))'; $M "
     "$D/p | grep summary",
     0, "'\\xff\\x80\\x01\\t\"\\\\\\x7f'\n    summary        \\xff\\x80\\x01\\x09\\\"\\\\\\x7f"},
    {"head -c -50 $H >$D/p; $M $D/p", 1, "section headers run past"},
    {"poke $(section .kivos.cmdmeta) X; $M $D/p", 1,
     "command record: wrong magic \"XCMD\", expected \"KCMD\""},
    {"poke $(section .kivos.pkgmeta 4) '\\2'; $M $D/p", 1,
     "package record: format version 2, only version 1 is known"},
    {"poke $(section .kivos.cmdmeta 8) $(printf %037d 0); $M $D/p", 1,
     "command record: the summary has no terminating NUL"},
    {"poke $(header .kivos.pkgmeta 20) $(le32 18); $M $D/p", 1,
     "package record: 1 bytes follow its final NUL"},
    {"poke $(header .kivos.cmdmeta 20) $(le32 6); $M $D/p", 1,
     "command record: 6 bytes, too short"},
    {"llvm-objcopy --rename-section .kivos.pkgmeta=.kivos.xkgmeta $H $D/p; $M $D/p", 1,
     "no package record"},
    {"$M --check $H && echo fine", 0, "fine"},
    {"$M --json $H", 0, "\"name\": \"hdtab\", \"version\": \"2\""},
    {"$M --check /etc/hostname", 1, "kivos-meta: /etc/hostname: not an ELF file\n"},
    {"$M $D", 1, "a directory, not a program file\n"},
    {"$M /dev/zero", 1, "kivos-meta: /dev/zero: not a regular file\n"},
    {"$M --json --check $H", 2, "kivos-meta: --json and --check exclude each other\n"},
    // Any name the folder takes, and nothing half-written after an interruption.
    {"$RUN --trace --root $D $P/files put $(printf %0250d 0) abc 2>&1 && ls $D", 0, ", 3) = 3\n"},
    {"$RUN --root $D $P/files big_put out & sleep 0.2; kill -INT $!; wait; echo left $(ls -A $D | "
     "grep -c kivos)",
     0, "left 0\n"},
};

class Command : public testing::TestWithParam<command_case> {};

TEST_P(Command, StatusAndOutput) {
  std::string vars =
      "RUN=" KIVOS_RUN_PATH " M=" KIVOS_META_PATH " P=" KIVOS_TEST_BIN_DIR " H=" KIVOS_BIN_DIR
      "/hdtab D=$(mktemp -d); trap \"rm -rf $D\" EXIT; source " KIVOS_COMMANDS;
  std::string cmd = "bash -c '" + vars + "; " +
                    std::regex_replace(GetParam().command, std::regex("'"), "'\\''") + "' 2>&1";
  std::string out;
  FILE *p = popen(cmd.c_str(), "r");
  char buf[4096];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  int status = pclose(p);
  SCOPED_TRACE(GetParam().command);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, GetParam().status) << out;
  EXPECT_NE(out.find(GetParam().says), std::string::npos) << out;
}

// Named by number and command start: `ctest -R fault_` picks the fault rows.
INSTANTIATE_TEST_SUITE_P(KivosRun, Command, testing::ValuesIn(command_cases), [](const auto &info) {
  std::string name = std::to_string(info.index) + "_";
  for (const char *c = info.param.command; *c && name.size() < 28; ++c)
    name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name;
});

} // namespace
