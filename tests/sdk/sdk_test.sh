#!/usr/bin/env bash
# The installed SDK, used as a newcomer would use it.
#   sdk_test.sh CASE BUILD_DIR SOURCE_DIR
set -euo pipefail
case_name=$1
build=$(cd "$2" && pwd)
source=$(cd "$3" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

expected='Hello from kivos! 2 arguments
  1: one
  2: two words'

install_sdk() { cmake --install "$build" --prefix "$1" >/dev/null; }

# Configures, builds and runs the hello example against the SDK at $1.
cmake_example() {
  local prefix=$1 out=$tmp/hello-build-$RANDOM
  cmake -S "$source/examples/hello" -B "$out" -G Ninja -DCMAKE_C_COMPILER=clang \
        -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$out" >/dev/null
  local got
  got=$("$prefix/bin/kivos-run" "$out/kivos/hello" one "two words")
  [[ $got == "$expected" ]] || fail "cmake example printed: $got"
  "$prefix/bin/kivos-meta" --check "$out/kivos/hello" || fail "hello's records are missing"
  # A library built for the host is refused, not linked into a kivos program.
  mkdir -p "$tmp/mixed"
  echo 'int two(void) { return 2; }' > "$tmp/mixed/two.c"
  cat > "$tmp/mixed/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(mixed C)
find_package(Kivos REQUIRED)
add_library(two STATIC two.c)
kivos_executable(prog two.c LIBRARIES two)
CMAKE
  local said
  said=$(cmake -S "$tmp/mixed" -B "$tmp/mixed/build" -G Ninja -DCMAKE_C_COMPILER=clang \
               -DCMAKE_PREFIX_PATH="$prefix" 2>&1) && fail "a host library was accepted"
  [[ $said == *"library two is not built for kivos"* ]] || fail "no clear message: $said"
}

# kivos-cc takes what clang takes: include folders, several sources,
# objects, archives with -L and -l, linker options, assembly, -E, -O0 -g;
# and C records from kivos/meta.h; its errors are clang's.
kivos_cc() {
  local prefix=$1 got status cc=$1/bin/kivos-cc
  cd "$tmp"
  mkdir -p inc && echo '#define TWO 2' > inc/two.h
  printf '#include "two.h"\nint two(void) { return TWO; }\n' > two.c
  printf '.globl three\nthree: movl $3, %%eax\nret\n' > three.s
  printf '#define FOUR 4\n.globl four\nfour: movl $FOUR, %%eax\nret\n' > four.S
  cat > main.c <<'C'
#include <kivos/meta.h>
#include <stdio.h>
KIVOS_COMMAND_RECORD("Adds small numbers.", "sum");
KIVOS_PACKAGE_RECORD("sum", "1");
int two(void), three(void), four(void);
int main(void) {
  printf("%d\n", two() + three() + four());
  return 0;
}
C
  "$cc" -c -I inc two.c -o two.o
  llvm-ar rcs libtwo.a two.o
  "$cc" -O0 -g main.c three.s four.S -L. -ltwo -Wl,-Map,sum.map -o sum
  [[ $("$prefix/bin/kivos-run" sum) == 9 && -s sum.map ]] || fail "kivos-cc's program is wrong"
  "$prefix/bin/kivos-meta" --check sum || fail "the C records are not found"
  [[ $("$cc" -E -I inc two.c | tail -1) == 'int two(void) { return 2; }' ]] || fail "-E"
  got=$("$cc" -c two.c main.c -o x.o 2>&1) && fail "-c with two sources and -o succeeded"
  [[ $got == *"cannot specify -o when generating multiple output files"* ]] || fail "not clang's error: $got"
  [[ $("$cc" --help | head -1) == "kivos-cc: clang for kivos programs."* ]] || fail "--help"
  # C++ is C++20, so the C++ record helper compiles too.
  printf '%s\n' '#include <kivos/meta.hpp>' '#include <stdio.h>' \
    'static_assert(sizeof kivos::meta_record("KPKG", 1, "x", "1") == 13);' \
    'extern "C" int main() { return puts("c++") < 0 ? 1 : 3; }' >x.cpp
  "$cc" x.cpp -o x
  status=0
  got=$("$prefix/bin/kivos-run" x) || status=$?
  [[ $got == "c++" && $status == 3 ]] || fail "C++ program printed '$got', status $status"
}

# A plain CMake project with the toolchain file: build types as usual, and
# records from kivos_records().
toolchain_example() {
  local prefix=$1 type
  for type in Debug MinSizeRel; do
    cmake -S "$source/examples/greet" -B "$tmp/greet-$type" -G Ninja -DCMAKE_BUILD_TYPE=$type \
          -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Kivos/kivos.cmake" >/dev/null
    cmake --build "$tmp/greet-$type" >/dev/null
    [[ $("$prefix/bin/kivos-run" "$tmp/greet-$type/greet" kivos || true) == "Hello, kivos!" ]] ||
      fail "greet ($type) is wrong"
    "$prefix/bin/kivos-meta" --check "$tmp/greet-$type/greet" || fail "greet has no records"
  done
  grep -q -- '-Os' "$tmp/greet-MinSizeRel/build.ninja" && ! grep -q -- '-Oz' "$tmp/greet-Debug/build.ninja" ||
    fail "the build types do not choose the optimisation"
}

case "$case_name" in
cmake_example)
  install_sdk "$tmp/prefix"
  cmake_example "$tmp/prefix"
  ;;
kivos_cc)
  install_sdk "$tmp/prefix"
  kivos_cc "$tmp/prefix"
  ;;
toolchain_example)
  install_sdk "$tmp/prefix"
  toolchain_example "$tmp/prefix"
  ;;
relocatable)
  install_sdk "$tmp/first"
  mv "$tmp/first" "$tmp/moved"
  got=$("$tmp/moved/bin/kivos-run" --drives 2 "$tmp/moved/lib/kivos/bin/hdtab")
  [[ $got == $'Detected logical drives: 2\nDrive 0: Present\nDrive 1: Present (current)' ]] ||
    fail "installed hdtab printed: $got"
  "$tmp/moved/bin/kivos-meta" --check "$tmp/moved/lib/kivos/bin/hdtab"
  cmake_example "$tmp/moved"
  kivos_cc "$tmp/moved"
  ;;
no_references)
  install_sdk "$tmp/prefix"
  if grep -rl -e "$source" -e "$build" "$tmp/prefix"; then fail "these files name the source or build tree"; fi
  ;;
deb_package)
  (cd "$tmp" && cpack --config "$build/CPackConfig.cmake" -B "$tmp/deb" >/dev/null)
  deb=$(ls "$tmp"/deb/*.deb)
  DESTDIR="$tmp/staged" cmake --install "$build" --prefix /usr >/dev/null
  (cd "$tmp/staged" && find . -type f | sed 's|^\./||' | sort) > "$tmp/installed"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort > "$tmp/packaged"
  diff -u "$tmp/installed" "$tmp/packaged" || fail "the package's files differ from the install"
  [[ $(wc -l < "$tmp/packaged") -gt 10 ]] || fail "the package is nearly empty"
  dpkg-deb -f "$deb" Depends | grep -q libunicorn2 || fail "the package does not depend on libunicorn2"
  for f in usr/share/doc/kivos-sdk/copyright usr/share/doc/kivos-sdk/changelog.gz \
           usr/share/man/man1/kivos-run.1.gz usr/share/man/man1/kivos-cc.1.gz; do
    grep -qx "$f" "$tmp/packaged" || fail "the package lacks $f"
  done
  # The archive's own checker, where it is installed.
  if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$deb" || fail "lintian refuses the package"
  fi
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
echo "ok: $case_name"
