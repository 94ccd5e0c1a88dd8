// The kernel stand-in: loading, faults, limits, files, bad pointers, the
// trace and the command line.
#include "harness.h"

#include <cstdio>
#include <cstring>
#include <elf.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <sys/wait.h>

namespace {

struct fault_case {
  const char *name;
  const char *kind;
  enum { none, fixed, reported, guard } address; // guard: the page below a 64 KiB stack
  uint32_t value = 0;
};

const fault_case fault_cases[] = {
    {"null_read", "read from unmapped memory", fault_case::fixed, 0},
    {"first_page_write", "write to unmapped memory", fault_case::fixed, 0xfff},
    {"rodata_write", "write to read-only memory", fault_case::reported},
    {"jump_to_zero", "instruction fetch from unmapped memory", fault_case::fixed, 0},
    {"execute_stack", "instruction fetch from non-executable memory", fault_case::reported},
    {"invalid_instruction", "invalid instruction", fault_case::none},
    {"halt", "halt instruction", fault_case::none},
    // The emulator aborts on this one; the tool reports it and lives on.
    {"far_jump_register", "code the emulator cannot translate", fault_case::none},
    {"divide_by_zero", "divide error", fault_case::none},
    {"stack_overflow", "stack overflow", fault_case::guard},
    // Pointer value 4096 is not in the first page, so strlen reads it.
    {"strlen_4096", "read from unmapped memory", fault_case::fixed, 4096},
};

class Fault : public testing::TestWithParam<fault_case> {};

TEST_P(Fault, IsReported) {
  const fault_case &c = GetParam();
  kivos::run_options o = test::options("faults", {c.name});
  o.stack_size = 64 * 1024;
  kivos::run_result r = kivos::run(o);
  ASSERT_EQ(r.end, kivos::run_end::fault) << r.message;
  EXPECT_EQ(r.fault.kind, c.kind);
  EXPECT_EQ(kivos::exit_code(r), kivos::exit_fault);
  EXPECT_NE(r.message.find(c.kind), std::string::npos);
  if (c.address == fault_case::fixed) EXPECT_EQ(r.fault.address, c.value);
  if (c.address == fault_case::reported)
    EXPECT_EQ(int32_t(r.fault.address), test::reports(r).at(0));
  if (c.address == fault_case::guard)
    EXPECT_EQ(r.fault.address >> 12, (0xc0000000u - 0x11000) >> 12);
  if (c.address != fault_case::none) EXPECT_TRUE(r.fault.has_address);
}

INSTANTIATE_TEST_SUITE_P(KivosRun, Fault, testing::ValuesIn(fault_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// The instruction pointer of a data fault is the faulting instruction itself,
// here the store of the byte 1 to address 0xfff.
TEST(KivosRun, FaultNamesTheFaultingInstruction) {
  kivos::run_result r = kivos::run(test::options("faults", {"first_page_write"}));
  std::string elf = test::read_file(test::program("faults"));
  // The text segment starts at file offset 0, loaded at 0x400000.
  size_t at = r.fault.eip - 0x400000;
  ASSERT_LT(at + 7, elf.size());
  EXPECT_EQ(elf.substr(at, 7), std::string("\xc6\x05\xff\x0f\x00\x00\x01", 7));
}

// Files that are not kivos executables, each made from the real one.
struct bad_file_case {
  const char *name;
  std::function<void(std::string &)> damage;
  const char *message;
};

void put32(std::string &s, size_t at, uint32_t v) {
  std::memcpy(&s[at], &v, 4);
}
uint32_t get32(const std::string &s, size_t at) {
  uint32_t v;
  std::memcpy(&v, &s[at], 4);
  return v;
}

const bad_file_case bad_files[] = {
    {"text", [](std::string &s) { s = "#!/bin/sh\necho hi\n"; }, "not an ELF file"},
    {"empty", [](std::string &s) { s.clear(); }, "not an ELF file"},
    {"truncated_header", [](std::string &s) { s.resize(30); }, "truncated ELF header"},
    {"class64", [](std::string &s) { s[4] = 2; }, "64-bit"},
    {"big_endian", [](std::string &s) { s[5] = 2; }, "not little-endian"},
    {"version", [](std::string &s) { s[6] = 9; }, "unknown ELF version"},
    {"relocatable", [](std::string &s) { s[16] = 1; }, "ELF type 1"},
    {"other_machine", [](std::string &s) { s[18] = 40; }, "ELF machine 40"},
    {"program_headers_cut", [](std::string &s) { s.resize(60); }, "program headers run past"},
    {"segment_past_end",
     [](std::string &s) {
       put32(s, 52 + 16, 0x100000);
       put32(s, 52 + 20, 0x100000);
     },
     "runs past the end"},
    {"segment_in_first_page", [](std::string &s) { put32(s, 52 + 8, 0x1000); }, "first 64 KiB"},
    {"file_bigger_than_memory", [](std::string &s) { put32(s, 52 + 20, 1); }, "more file bytes"},
    {"file_bytes_without_memory", [](std::string &s) { put32(s, 52 + 20, 0); }, "more file bytes"},
    {"entry_not_code", [](std::string &s) { put32(s, 24, 0x10000000); }, "entry point"},
    {"segment_wraps", [](std::string &s) { put32(s, 52 + 8, 0xffffff00); },
     "top of the address space"},
    {"segment_on_stack", [](std::string &s) { put32(s, 52 + 8, 0xbfff0000); },
     "overlaps the stack"},
    {"huge_bss", [](std::string &s) { put32(s, 52 + 2 * 32 + 20, 0x60000000); },
     "more than the 1 GiB"},
    {"other_os_abi", [](std::string &s) { s[7] = 3; }, "another system (OS/ABI 3, Linux)"},
    {"interpreter", [](std::string &s) { put32(s, 52 + 32, PT_INTERP); }, "dynamic loader"},
    {"dynamic", [](std::string &s) { put32(s, 52 + 32, PT_DYNAMIC); }, "dynamically linked"},
    {"gnu_abi_note",
     [](std::string &s) {
       put32(s, 52 + 32, PT_NOTE);
       s.replace(get32(s, 52 + 32 + 4), 16, std::string("\4\0\0\0\20\0\0\0\1\0\0\0GNU\0", 16));
     },
     "ABI note of another system (GNU)"},
    {"too_many_segments",
     [](std::string &s) {
       std::string first = s.substr(52, 32);
       put32(s, 28, uint32_t(s.size()));
       s[44] = char(300 & 0xff), s[45] = char(300 >> 8);
       for (int i = 0; i < 300; ++i) s += first;
     },
     "300 loadable segments"},
};

class BadFile : public testing::TestWithParam<bad_file_case> {};

TEST_P(BadFile, IsRefusedWithAReason) {
  test::temp_dir dir;
  std::string bytes = test::read_file(test::program("hdtab"));
  ASSERT_EQ(get32(bytes, 52), 1u) << "first program header is a loadable segment";
  GetParam().damage(bytes);
  test::write_file(dir.file("prog"), bytes);
  kivos::run_options o = test::options("hdtab");
  o.program = dir.file("prog");
  kivos::run_result r = kivos::run(o);
  EXPECT_EQ(r.end, kivos::run_end::load_error);
  EXPECT_NE(r.message.find(GetParam().message), std::string::npos) << r.message;
  EXPECT_EQ(kivos::exit_code(r), kivos::exit_tool_error);
}

INSTANTIATE_TEST_SUITE_P(KivosRun, BadFile, testing::ValuesIn(bad_files),
                         [](const auto &info) { return std::string(info.param.name); });

// A program that rewrites its own code runs the new code, with the store
// shortcut and without it; the library really calls the shortcut.
TEST(KivosRun, RewrittenCodeRuns) {
  test::temp_dir dir;
  std::string bytes = test::read_file(test::program("faults"));
  ASSERT_EQ(get32(bytes, 52), 1u) << "first program header is a loadable segment";
  put32(bytes, 52 + 24, PF_R | PF_W | PF_X);
  test::write_file(dir.file("prog"), bytes);
  for (bool shortcut : {true, false}) {
    kivos::run_options o = test::options("faults", {"rewrite_code"});
    o.program = dir.file("prog");
    o.store_shortcut = shortcut;
    uint64_t taken = kivos::store_shortcuts_taken();
    kivos::run_result r = kivos::run(o);
    ASSERT_EQ(r.end, kivos::run_end::exited) << r.message;
    EXPECT_EQ(test::reports(r), (std::vector<int32_t>{1, 2, 7}));
    EXPECT_EQ(kivos::store_shortcuts_taken() > taken, shortcut);
  }
}

// A root folder with a file inside, a secret beside it and links that try
// to reach it.
struct sandbox {
  test::temp_dir outer;
  std::string root = outer.file("root");
  sandbox() {
    std::filesystem::create_directory(root);
    std::filesystem::create_directory(root + "/sub");
    test::write_file(root + "/data", "inside");
    test::write_file(outer.file("secret"), "outside");
    std::filesystem::create_symlink("../secret", root + "/up_link");
    std::filesystem::create_symlink(outer.file("secret"), root + "/abs_link");
    std::filesystem::create_symlink("data", root + "/good_link");
  }
  kivos::run_result run(std::vector<std::string> args) {
    kivos::run_options o = test::options("files", args);
    o.root = root;
    return kivos::run(o);
  }
};

struct open_case {
  const char *path;
  bool opens;
};

const open_case open_cases[] = {
    {"data", true},          {"/data", true},     {"sub/../data", true}, {"../data", true},
    {"../../../data", true}, {"good_link", true}, {"../secret", false},  {"up_link", false},
    {"abs_link", false},     {"", false},         {"missing", false},    {"/proc/self/exe", false},
};

class Confined : public testing::TestWithParam<open_case> {};

TEST_P(Confined, OpensOnlyInsideTheRoot) {
  sandbox box;
  SCOPED_TRACE(GetParam().path);
  kivos::run_result r = box.run({"cat", GetParam().path});
  ASSERT_EQ(r.end, kivos::run_end::exited) << r.message;
  std::vector<int32_t> v = test::reports(r);
  if (GetParam().opens) {
    EXPECT_EQ(v.at(0), 3);
    EXPECT_EQ(r.console, "inside");
  } else {
    EXPECT_LT(v.at(0), 0);
    EXPECT_EQ(r.console.find("outside"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(KivosRun, Confined, testing::ValuesIn(open_cases),
                         [](const auto &info) { return "path_" + std::to_string(info.index); });

TEST(KivosRun, WritefileStaysInsideAndReplacesWhole) {
  sandbox box;
  EXPECT_EQ(test::reports(box.run({"put", "data", "new"})), std::vector<int32_t>{3});
  EXPECT_EQ(test::read_file(box.root + "/data"), "new");
  EXPECT_EQ(test::reports(box.run({"put", "../escape", "x"})), std::vector<int32_t>{1});
  EXPECT_TRUE(std::filesystem::exists(box.root + "/escape"));
  EXPECT_FALSE(std::filesystem::exists(box.outer.file("escape")));
  // Writing over a link replaces the link, never what it points at.
  box.run({"put", "up_link", "y"});
  EXPECT_EQ(test::read_file(box.outer.file("secret")), "outside");
  EXPECT_EQ(test::read_file(box.root + "/up_link"), "y");
  // A folder that does not exist fails, and no temporary file is left behind.
  EXPECT_EQ(test::reports(box.run({"put", "nowhere/f", "z"})), std::vector<int32_t>{-2});
  EXPECT_EQ(test::reports(box.run({"put", "sub", "z"})).at(0), -21);
  size_t entries = 0;
  for (const auto &e : std::filesystem::directory_iterator(box.root + "/sub"))
    entries += !e.path().empty();
  EXPECT_EQ(entries, 0u);
}

TEST(KivosRun, DirectoryTraps) {
  sandbox box;
  kivos::run_result r = box.run({"dirs"});
  ASSERT_EQ(r.end, kivos::run_end::exited) << r.message;
  EXPECT_EQ(r.console, "/made\n/\n");
  // mkdir, chdir, getcwd ("/made" and its NUL), writefile, chdir twice,
  // unlink, rmdir, and a second rmdir of what is gone.
  EXPECT_EQ(test::reports(r), (std::vector<int32_t>{0, 0, 6, 1, 0, 0, 0, 0, -2}));
  EXPECT_FALSE(std::filesystem::exists(box.root + "/made"));
}

TEST(KivosRun, BadPointersFailWithoutHarm) {
  sandbox box;
  kivos::run_result r = box.run({"bad_pointers"});
  ASSERT_EQ(r.end, kivos::run_end::exited) << r.message;
  EXPECT_EQ(test::reports(r), (std::vector<int32_t>{-14, -14, -14, -14, -14, -14, -14}));
  EXPECT_EQ(r.console, "still running\n");
}

// The command line, as a user runs it, hostile inputs included: each row is
// a bash command ($RUN is kivos-run, $M kivos-meta, $P the folder of the test
// programs, $H hdtab, $D a fresh folder), its status and a piece of what it prints.
struct command_case {
  const char *command;
  int status;
  const char *says;
};

const command_case command_cases[] = {
    {"$RUN --drives 3 --current 0 --probe 1=0 --probe=2=-1 $H", 0,
     "Detected logical drives: 3\nDrive 0: Present (current)\nDrive 1: Not present\nDrive 2: query "
     "error\n"},
    {"$RUN --drives fail $H", 1, "hdtab: failed to query drives\n"},
    {"$RUN $H -h", 0, "Usage: hdtab\n"},
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
    {"$RUN --timeout 1e-9 $P/faults endless", 124, "time limit"},
    {"$RUN --max-instructions 100000 $P/faults endless", 124, "instruction limit of 100000"},
    {"$RUN --max-instructions 1000000 $H", 0, "Drive 3: Present\n"},
    // A program asleep when its time runs out ends then, not when it wakes.
    {"timeout 3 $RUN --timeout 0.3 $P/wrappers sleep_5", 124, "time limit of 0.3 s"},
    {"$RUN --timeout 1e10 $H", 0, "Drive 3: Present\n"},
    {"$RUN --timeout inf $H", 125, "positive number of seconds"},
    {"$RUN --timeout 0 $H", 125, "positive number of seconds"},
    {"$RUN --timeout nan $H", 125, "positive number of seconds"},
    // A program blocked in the host ends at its time limit all the same.
    {"sleep 3 | $RUN --timeout 0.3 $P/wrappers getkey", 124, "time limit of 0.3 s"},
    {"sleep 3 | $RUN --timeout 0.3 $P/file_streams standard_input", 124, "time limit"},
    {"mkfifo $D/p && $RUN --timeout 0.3 --root $D $P/files cat p", 124, "time limit"},
    // Output that cannot be written fails the program's write and the run.
    {"$RUN $H >/dev/full", 125, "No space left on device; the program's output was lost"},
    {"$RUN --trace $P/stdio fputs stdout x 2>&1 >/dev/full", 125, "= -28 ENOSPC"},
    {"{ trap '' PIPE; $RUN --drives 100000 $H; echo \"status $?\" >&2; } | head -c 1 >/dev/null", 0,
     "Broken pipe; the program's output was lost\nstatus 125"},
    // The habits of strace, a profile that adds up, and the version.
    {"$RUN --drives 1 --fold-writes $H 2>&1 >/dev/null", 0,
     "write(1, \"Detected logical drives: 1\\n\", 27) = 27 [27 one-byte writes folded]\n"},
    // hdtab's queries: in order, each drive probed once, none for -h, none
    // after a failed count.
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
    // The first rand seeds itself from the time-stamp counter, which differs
    // from run to run (three equal results come once in a billion runs).
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
    {"$RUN -t -e trace=_exit $H 2>&1 >/dev/null | grep -cE '^[0-9:]{8}\\.[0-9]{6} _exit'", 0,
     "1\n"},
    {"$RUN -c $H 2>&1 >/dev/null | grep -cE ' 109 +write$| 116 +total$'", 0, "2\n"},
    {"$RUN --trace --root $D $P/files cat missing", 0,
     "open(\"missing\", O_RDONLY, 0x0) = -2 ENOENT\n"},
    // Bytes quoted as C does, a long buffer cut after 32 of them.
    {"$RUN --trace $P/stdio fputs stdout \"$(printf 'a\"b\\\\\\n\\xff')$(printf %040d 0)\" 2>&1 "
     ">/dev/null | head -1",
     0, "write(1, \"a\\\"b\\\\\\n\\xff00000000000000000000000000\"..., 46) = 46\n"},
    {"$RUN --trace $P/files unserved 2>&1 | grep -v trap_200", 0,
     "spawn(0x0, 0x0, 0x0) = -38 (not served)\ntrap_999(0x1, 0x2, 0x3) = -38 (not served)\n"},
    {"$RUN -e trace=nothing $H", 125, "no call or class named 'nothing'"},
    {"$RUN --profile --stats $H.elf 2>&1 >/dev/null | awk '/instructions,/ {s = $5} /profile of/ "
     "{p = $4} /%/ {t += $2} /  vfprintf$/ {v = 1} END {print s == p && p == t && v ? \"agrees\" : "
     "\"differs\"}'",
     0, "agrees"},
    {"$RUN --version && $M --version", 0,
     "kivos-run " KIVOS_VERSION "\nkivos-meta " KIVOS_VERSION "\n"},
    // The upcase example from the README, and a copy too big for the heap,
    // which fails aloud and writes nothing.
    {"cd $D && printf \"hello kivos\\nsecond line\\n\" >notes && $RUN --root . ${H%/*}/upcase "
     "notes UP && cat UP",
     0, "2 lines\nHELLO KIVOS\nSECOND LINE\n"},
    {"cd $D && head -c 524288 /dev/zero >big && $RUN --root . ${H%/*}/upcase big BIG || ls", 0,
     "upcase: BIG does not fit in memory\nbig\n"},
    // kivos-meta ($M), the same way.
    {"$M $H", 0, "summary        List detected logical drives."},
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
  test::temp_dir dir;
  std::string vars = "RUN=" KIVOS_RUN_PATH " M=" KIVOS_META_PATH " P=" KIVOS_TEST_BIN_DIR
                     " H=" KIVOS_BIN_DIR "/hdtab D=" +
                     dir.path;
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

INSTANTIATE_TEST_SUITE_P(KivosRun, Command, testing::ValuesIn(command_cases));

} // namespace
