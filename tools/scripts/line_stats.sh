#!/usr/bin/env bash
# Non-blank lines of text of the tests and fuzzers against the product code,
# as the project keeps them (at most 0.4).
set -euo pipefail
cd "$(dirname "$0")/../.."
count() { git ls-files -co --exclude-standard "$@" | xargs -r grep -sIchvE '^\s*$' | awk '{s += $1} END {print s + 0}'; }
tests=$(count tests fuzz)
product=$(count libc crt cmd tools cmake)
awk -v t="$tests" -v p="$product" 'BEGIN {
  printf "tests and fuzzers %d, product %d: %.2f times\n", t, p, t / p
  exit t / p > 0.4 }'
