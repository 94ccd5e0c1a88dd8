#!/usr/bin/env bash
# Builds kivos-run and qemu_race, installs Debian's qemu-user when it is
# missing (only this benchmark needs it), and races the two emulators.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v qemu-i386 >/dev/null; then
  sudo=()
  ((EUID == 0)) || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends qemu-user
fi
./dev.sh build >/dev/null
exec build/bench/qemu_race build/bin/kivos-run
