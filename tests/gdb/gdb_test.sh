#!/usr/bin/env bash
# The real gdb drives kivos programs through kivos-run's stub, as a user
# would: break at a function, step, print, watch a write, run to the end;
# interrupt an endless program with Ctrl-C, then kill it; see a fault.
#   gdb_test.sh KIVOS_RUN TEST_PROGRAM_DIR   (each NAME.elf holds the symbols)
set -euo pipefail
run=$1 dir=$2
log=$(mktemp)
trap 'rm -f "$log"; kill "$pid" 2>/dev/null || true' EXIT

# debug PROGRAM ARG -- GDB ARGS...: runs PROGRAM under the stub and gdb;
# sets $out (what gdb said) and $status (kivos-run's status).
debug() {
  local program=$dir/$1 arg=$2
  shift 3
  "$run" --gdb 0 "$program" "$arg" 2>"$log" &
  pid=$!
  local port=
  for _ in $(seq 200); do
    port=$(sed -n 's/.*waiting for gdb on localhost:\([0-9]*\)$/\1/p' "$log")
    [[ -n $port ]] && break
    sleep 0.05
  done
  [[ -n $port ]] || { echo "kivos-run did not listen:"; cat "$log"; exit 1; }
  out=$("$@" -batch -nx -ex "target remote :$port" "${gdb_commands[@]}" "$program.elf" 2>&1) || true
  status=0
  wait "$pid" || status=$?
}

expect() {
  grep -qE -- "$1" <<<"$out" || { printf 'gdb said:\n%s\nmissing: %s\n' "$out" "$1"; exit 1; }
}

# The breakpoint is deleted before add runs again: it must not stop there.
gdb_commands=(-ex 'break add' -ex continue -ex 'print a + b' -ex stepi -ex 'info registers eip'
              -ex finish -ex 'print counter' -ex 'watch counter' -ex continue -ex delete -ex continue)
debug debugee x -- timeout 60 gdb
expect '^Breakpoint 1, .*add \(a=2, b=3\)'
expect '^\$1 = 5$'
expect '^eip +0x[0-9a-f]+ +0x[0-9a-f]+ <add\+[0-9]+>'
expect '^Value returned is \$2 = 5$'
expect '^\$3 = 0$'
expect '^Hardware watchpoint 2: counter$'
expect '^Old value = 0$'
expect '^New value = 5$'
expect 'exited with code 06'
[[ $status == 6 ]] || { echo "kivos-run ended with $status, not 6"; cat "$log"; exit 1; }

# A deleted breakpoint stops nothing, though vfprintf runs again and again.
gdb_commands=(-ex 'break vfprintf' -ex continue -ex delete -ex continue)
debug ../kivos/hdtab x -- timeout 60 gdb
[[ $(grep -c '^Breakpoint 1, ' <<<"$out") == 1 && $out != *SIGTRAP* ]] || { echo "$out"; exit 1; }
expect 'exited normally'

# One Ctrl-C, to gdb alone (a second one would ask whether to give up).
gdb_commands=(-ex continue -ex 'print $pc' -ex kill)
debug faults endless -- timeout --foreground -s INT 5 gdb
expect '^Program received signal SIGINT, Interrupt\.$'
expect '<faults_endless_case>$'
expect 'killed\]'
grep -q 'killed from gdb' "$log" || { echo "kivos-run said:"; cat "$log"; exit 1; }
gdb_commands=(-ex continue)
debug faults null_read -- timeout 60 gdb
expect '^Program (received|terminated with) signal SIGSEGV'
echo "gdb sessions as expected"
