#!/usr/bin/env bash
# Sets up, builds and runs the project on a Debian 12 machine.
#   ./dev.sh run [KIVOS-RUN OPTIONS]  build, then run hdtab on the default drives
#   ./dev.sh test                     build, then run every test
#   ./dev.sh build                    build everything, run nothing
#   ./dev.sh stats                    lines of tests against lines of product
# Missing packages are installed with apt-get (which needs root).
set -euo pipefail
cd "$(dirname "$0")"

packages=(clang lld llvm libclang-rt-14-dev cmake ninja-build pkgconf python3 gdb
          libunicorn-dev libdw-dev lcov libgtest-dev libbenchmark-dev help2man dpkg-dev lintian)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "dev.sh: installing ${missing[*]}" >&2
    local sudo=()
    ((EUID == 0)) || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  fi
}

# build [TARGET...]: configures and builds the targets, or everything.
build() {
  install_missing
  cmake --preset default >/dev/null
  cmake --build --preset default ${1:+--target "$@"}
}

case "${1:-}" in
run)
  shift
  build hdtab kivos-run >&2
  exec build/bin/kivos-run "$@" build/kivos/hdtab
  ;;
test)
  build
  ctest --preset default -j "$(nproc)"
  ;;
build)
  build
  ;;
stats)
  exec tools/scripts/line_stats.sh
  ;;
*)
  sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
  ;;
esac
