#!/usr/bin/env bash
# The installed SDK, used as a newcomer would use it: sdk_test.sh CASE BUILD_DIR SOURCE_DIR
# Every command must succeed; the first that fails is named.
set -Eeuo pipefail
trap 'echo "FAIL at line $LINENO: $BASH_COMMAND" >&2' ERR
case_name=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd) tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
install_sdk() { cmake --install "$build" --prefix "$1" >/dev/null; }

# The hello example configured against the SDK at $1; a library built for the
# host is refused, not linked into a kivos program.
cmake_example() {
  local out
  for generator in Ninja "Unix Makefiles"; do
    out=$tmp/hello-build-$RANDOM
    cmake -S "$source/examples/hello" -B "$out" -G "$generator" -DCMAKE_C_COMPILER=clang \
      -DCMAKE_PREFIX_PATH="$1" >/dev/null
    cmake --build "$out" >/dev/null
    [[ $("$1/bin/kivos-run" "$out/kivos/hello" one "two words") == \
      $'Hello from kivos! 2 arguments\n  1: one\n  2: two words' ]]
  done
  "$1/bin/kivos-meta" --check "$out/kivos/hello"
  mkdir -p "$tmp/mixed"
  echo 'int two(void) { return 2; }' >"$tmp/mixed/two.c"
  printf '%s\n' 'cmake_minimum_required(VERSION 3.25)' 'project(mixed C)' \
    'find_package(Kivos REQUIRED)' 'add_library(two STATIC two.c)' \
    'kivos_executable(prog two.c LIBRARIES two)' >"$tmp/mixed/CMakeLists.txt"
  said=$(cmake -S "$tmp/mixed" -B "$tmp/mixed/build" -G Ninja -DCMAKE_C_COMPILER=clang \
    -DCMAKE_PREFIX_PATH="$1" 2>&1) && false
  [[ $said == *"library two is not built for kivos"* ]]
}

# kivos-cc takes what clang takes: include folders, several sources, objects,
# archives with -L and -l, linker options, assembly, -E, -O0 -g, C++20; C
# records from kivos/meta.h; its errors are clang's.
kivos_cc() {
  local cc=$1/bin/kivos-cc got status=0
  cd "$tmp"
  mkdir -p inc && echo '#define TWO 2' >inc/two.h
  printf '#include "two.h"\nint two(void) { return TWO; }\n' >two.c
  printf '.globl three\nthree: movl $3, %%eax\nret\n' >three.s
  printf '#define FOUR 4\n.globl four\nfour: movl $FOUR, %%eax\nret\n' >four.S
  printf '%s\n' '#include <kivos/meta.h>' '#include <stdio.h>' \
    'KIVOS_COMMAND_RECORD("Adds small numbers.", "sum");' 'KIVOS_PACKAGE_RECORD("sum", "1");' \
    'int two(void), three(void), four(void);' \
    'int main(void) { return printf("%d\n", two() + three() + four()) < 0; }' >main.c
  "$cc" -c -I inc two.c -o two.o
  llvm-ar rcs libtwo.a two.o
  "$cc" -O0 -g main.c three.s four.S -L. -ltwo -lm -lc -Wl,-Map,sum.map -Wl,-t -o sum >inputs
  [[ $("$1/bin/kivos-run" sum) == 9 && -s sum.map ]]
  if grep -E '^/(usr|lib)/' inputs; then false; fi # nothing of the host's
  printf '#include <stdio.h>\nint main(void) { return printf("%%s %%d", 4, "x"); }\n' >bad.c
  [[ $("$cc" -Wall -c bad.c -o bad.o 2>&1 | grep -c 'warning: format') == 2 ]]
  got=$("$cc" main.c -lnosuch 2>&1) && false
  [[ $got == *"unable to find library -lnosuch"* ]]
  "$1/bin/kivos-meta" --check sum
  [[ $("$cc" -E -I inc two.c | tail -1) == 'int two(void) { return 2; }' ]]
  got=$("$cc" -c two.c main.c -o x.o 2>&1) && false
  [[ $got == *"cannot specify -o when generating multiple output files"* ]]
  [[ $("$cc" --help | head -1) == "kivos-cc: clang for kivos programs."* ]]
  printf '%s\n' '#include <kivos/meta.hpp>' '#include <stdio.h>' \
    'static_assert(sizeof kivos::meta_record("KPKG", 1, "x", "1") == 13);' \
    'extern "C" int main() { return puts("c++") < 0 ? 1 : 3; }' >x.cpp
  "$cc" x.cpp -o x
  got=$("$1/bin/kivos-run" x) || status=$?
  [[ $got == "c++" && $status == 3 ]]
}

# A plain CMake project with the toolchain file: the build types choose the
# optimisation, and kivos_records() adds the records.
toolchain_example() {
  for type in Debug MinSizeRel; do
    cmake -S "$source/examples/greet" -B "$tmp/greet-$type" -G Ninja -DCMAKE_BUILD_TYPE=$type \
      -DCMAKE_TOOLCHAIN_FILE="$1/lib/cmake/Kivos/kivos.cmake" >/dev/null
    cmake --build "$tmp/greet-$type" >/dev/null
    [[ $("$1/bin/kivos-run" "$tmp/greet-$type/greet" kivos || true) == "Hello, kivos!" ]]
    "$1/bin/kivos-meta" --check "$tmp/greet-$type/greet"
  done
  grep -q -- -Os "$tmp/greet-MinSizeRel/build.ninja"
  if grep -q -- -Oz "$tmp/greet-Debug/build.ninja"; then false; fi
  # Assembly is a language of the toolchain like C, with -g in a Debug build.
  mkdir -p "$tmp/asm" && cd "$tmp/asm"
  printf '%s\n' 'cmake_minimum_required(VERSION 3.25)' 'project(asm C ASM)' \
    'add_executable(seven main.c seven.S)' >CMakeLists.txt
  printf 'int seven(void);\nint main(void) { return seven(); }\n' >main.c
  printf '.globl seven\nseven: movl $7, %%eax\nret\n' >seven.S
  got=$(cmake -S . -B build -DCMAKE_BUILD_TYPE=Debug -DCMAKE_TOOLCHAIN_FILE="$1/lib/cmake/Kivos/kivos.cmake" 2>&1)
  if grep -qiE 'unknown|did not find' <<<"$got"; then false; fi
  got=$(cmake --build build -v)
  grep -q -- '-g .*seven.S' <<<"$got"
  "$1/bin/kivos-run" build/seven || [[ $? == 7 ]]
}

relocatable() {
  install_sdk "$tmp/first"
  mv "$tmp/first" "$tmp/moved"
  [[ $("$tmp/moved/bin/kivos-run" --drives 2 "$tmp/moved/lib/kivos/bin/hdtab") == \
    $'Detected logical drives: 2\nDrive 0: Present\nDrive 1: Present (current)' ]]
  "$tmp/moved/bin/kivos-meta" --check "$tmp/moved/lib/kivos/bin/hdtab"
  cmake_example "$tmp/moved"
  kivos_cc "$tmp/moved"
}

# gdb steps over runtime calls and finds their callers, as on a native target.
gdb_steps() {
  local port= got
  cd "$tmp"
  printf '%s\n' '#include <stdio.h>' 'int main(void) {' '  puts("one");' '  printf("%d\n", 2);' \
    '  return 0;' '}' >m.c
  "$1/bin/kivos-cc" -O0 -g m.c -o m
  "$1/bin/kivos-run" --gdb 0 m >/dev/null 2>stub &
  until [[ $port ]]; do sleep 0.05 && port=$(sed -n 's/.*localhost:\([0-9]*\)$/\1/p' stub 2>/dev/null); done
  got=$(timeout 60 gdb -batch -nx -ex "target remote :$port" -ex 'break main' -ex continue -ex next \
    -ex 'break vfprintf' -ex continue -ex bt -ex finish -ex kill m 2>&1)
  [[ $(grep -cE '^4\s+printf|in main \(\) at m.c:4|^0x[0-9a-f]+ in printf \(\)$' <<<"$got") == 3 ]]
}

# Line coverage of a run, as lcov reads it: a line never reached counts 0, a
# loop body its passes, a function its calls; a program without line
# information is refused before it runs.
coverage() {
  local got
  cd "$tmp"
  printf '%s\n' '#include <stdio.h>' 'static int twice(int x) {' '  return 2 * x;' '}' \
    'int main(int argc, char **argv) {' '  int sum = 0;' '  for (int i = 0; i < 4; i++)' \
    '    sum += i < 3 ? twice(i) : 0;' '  if (argc > 5)' '    puts(argv[1]);' \
    '  return sum == 6 ? 0 : 1;' '}' >cov.c
  "$1/bin/kivos-cc" -O0 -g cov.c -o cov
  "$1/bin/kivos-run" --coverage cov.info cov
  grep -qx 'DA:10,0' cov.info
  grep -qx 'DA:8,4' cov.info
  grep -qx 'FNDA:3,twice' cov.info
  genhtml -q cov.info -o html
  [[ -s html/index.html ]]
  llvm-strip cov -o bare
  got=$("$1/bin/kivos-run" --coverage bare.info bare 2>&1) && false
  [[ $got == *"no line information"* && ! -e bare.info ]]
}

# Call stacks of a run, followed exactly: each known chain once, leaf's six
# calls each as long, a recursion cut at 512 frames, counts that add up to
# the instructions run, calls in the table, and an SVG that is well-formed XML.
profile() {
  local got
  cd "$tmp"
  printf '%s\n' '#include <stdio.h>' 'int leaf(int x) { return x + 1; }' \
    'int middle(int x) { return leaf(x) + leaf(x); }' \
    'int deep(int n) { return n ? deep(n - 1) + 1 : 0; }' \
    'int main(void) {' '  int s = deep(600);' '  for (int i = 0; i < 3; i++)' \
    '    s += middle(i);' '  printf("%d\n", s);' '}' >cs.c
  "$1/bin/kivos-cc" -O0 cs.c -o cs
  got=$("$1/bin/kivos-run" --stats --profile --profile=folded:cs.folded --profile=svg:cs.svg \
    cs 2>&1)
  [[ $got == 612* ]]
  grep -q '^cs (pid 1);_start;main;middle [0-9]*$' cs.folded
  [[ $(grep -c '^cs (pid 1);_start;main;printf;vfprintf;' cs.folded) -gt 0 ]]
  awk '/;main;middle;leaf / {exit $NF % 6 != 0}' cs.folded
  awk -F';' '/deeper calls/ {found = 1} NF > 516 {exit 1} END {exit !found}' cs.folded
  [[ $(awk '{s += $NF} END {print s}' cs.folded) == \
    $(sed -n 's/.* calls, \([0-9]*\) instructions.*/\1/p' <<<"$got") ]]
  awk '$NF == "leaf" {exit $3 != 6} $NF == "middle" {exit $3 != 3}' <<<"$got"
  python3 -c 'import sys, xml.etree.ElementTree as x
t = x.parse(sys.argv[1]).getroot()
n = "{http://www.w3.org/2000/svg}"
assert "Flame graph of cs" in t.find(n + "text").text
assert any(g.find(n + "title").text.startswith("leaf (") for g in t.iter(n + "g"))' cs.svg
  llvm-strip cs -o bare
  got=$("$1/bin/kivos-run" --profile=svg:bare.svg bare 2>&1) && false
  [[ $got == *"no symbol table"* && ! -e bare.svg ]]
}

# The classic programs of examples/ports, built unmodified with the SDK and
# with the host's compiler, say the same on the same input, status included.
ports() {
  local dir=$source/examples/ports name input args mine theirs
  cd "$tmp"
  while read -r name input args; do
    "$1/bin/kivos-cc" -O1 -Wall -Werror "$dir/$name.c" -o "k-$name"
    clang -O1 -w "$dir/$name.c" -o "h-$name"
    # shellcheck disable=SC2086 # the arguments are words
    theirs=$("./h-$name" $args <"$dir/$input.txt"; echo "status $?")
    # shellcheck disable=SC2086
    mine=$("$1/bin/kivos-run" "k-$name" $args <"$dir/$input.txt"; echo "status $?")
    [[ $mine == "$theirs" ]] || { diff <(echo "$theirs") <(echo "$mine") >&2; false; }
  done <"$dir/runs.txt"
}

# No installed file names the source or the build tree.
no_references() { if grep -rl -e "$source" -e "$build" "$1"; then false; fi; }

# The package holds exactly what the install does, docs and manual pages
# included, needs no Unicorn (linked in), and passes the archive's checker if present.
deb_package() {
  (cd "$tmp" && cpack --config "$build/CPackConfig.cmake" -B "$tmp/deb" >/dev/null)
  local deb
  deb=$(ls "$tmp"/deb/*.deb)
  DESTDIR="$tmp/staged" cmake --install "$build" --prefix /usr >/dev/null
  (cd "$tmp/staged" && find . -type f | sed 's|^\./||' | sort) >"$tmp/installed"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort >"$tmp/packaged"
  diff -u "$tmp/installed" "$tmp/packaged"
  if dpkg-deb -f "$deb" Depends | grep -q libunicorn; then false; fi
  for f in copyright changelog.gz runtime.md kernel.md recording.md README.md; do
    grep -qx "usr/share/doc/kivos-sdk/$f" "$tmp/packaged"
  done
  for f in kivos-run kivos-cc; do grep -qx "usr/share/man/man1/$f.1.gz" "$tmp/packaged"; done
  if command -v lintian >/dev/null; then lintian --fail-on error,warning "$deb"; fi
}

case $case_name in
relocatable | deb_package) "$case_name" ;;
*)
  declare -F "$case_name" >/dev/null || exit 2
  install_sdk "$tmp/prefix"
  "$case_name" "$tmp/prefix"
  ;;
esac
echo "ok: $case_name"
