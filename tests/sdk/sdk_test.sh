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
  "$prefix/bin/kivos-meta" "$out/kivos/hello" 2>/dev/null && fail "hello has no records, kivos-meta must say so"
  return 0
}

# Builds hello with kivos-cc, in one step and through an object file.
kivos_cc() {
  local prefix=$1 got
  "$prefix/bin/kivos-cc" "$source/examples/hello/hello.c" -o "$tmp/hello1"
  got=$("$prefix/bin/kivos-run" "$tmp/hello1" one "two words")
  [[ $got == "$expected" ]] || fail "kivos-cc hello printed: $got"
  "$prefix/bin/kivos-cc" -c "$source/examples/hello/hello.c" -o "$tmp/hello.o" -O2
  "$prefix/bin/kivos-cc" -s "$tmp/hello.o" -o "$tmp/hello2"
  got=$("$prefix/bin/kivos-run" "$tmp/hello2" one "two words")
  [[ $got == "$expected" ]] || fail "kivos-cc -c, then link, printed: $got"
  # C++ works too (C++20, so the record helper can be used), with main given C linkage.
  cat > "$tmp/x.cpp" <<'CPP'
#include <kivos/meta.hpp>
#include <stdio.h>
[[gnu::used, gnu::section(".kivos.cmdmeta"), gnu::aligned(32)]] static constexpr auto g_cmdmeta_0 =
    kivos::meta_record("KCMD", 1, "Says c++.", "x");
[[gnu::used, gnu::section(".kivos.pkgmeta"), gnu::aligned(4)]] static constexpr auto g_pkgmeta_0 =
    kivos::meta_record("KPKG", 1, "x", "1");
extern "C" int main() {
  printf("%s\n", "c++");
  return 3;
}
CPP
  "$prefix/bin/kivos-cc" "$tmp/x.cpp" -o "$tmp/x"
  set +e
  got=$("$prefix/bin/kivos-run" "$tmp/x")
  local status=$?
  set -e
  [[ $got == "c++" && $status == 3 ]] || fail "C++ program printed '$got', status $status"
  "$prefix/bin/kivos-meta" --check "$tmp/x" || fail "the C++ program's records are not found"
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
installed_hdtab)
  install_sdk "$tmp/prefix"
  got=$("$tmp/prefix/bin/kivos-run" --drives 2 "$tmp/prefix/lib/kivos/bin/hdtab")
  [[ $got == $'Detected logical drives: 2\nDrive 0: Present\nDrive 1: Present (current)' ]] ||
    fail "installed hdtab printed: $got"
  "$tmp/prefix/bin/kivos-meta" --check "$tmp/prefix/lib/kivos/bin/hdtab"
  ;;
relocatable)
  install_sdk "$tmp/first"
  mv "$tmp/first" "$tmp/moved"
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
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
echo "ok: $case_name"
