# Helpers for the rows of the command table in kivos_run_test.cpp. Each row
# runs in bash with $RUN (kivos-run), $M (kivos-meta), $P (the folder of the
# test programs), $H (hdtab) and $D (a fresh folder).

# With KIVOS_RUN_FLAGS set (a second pass of the suite), every run takes them.
if [[ -n ${KIVOS_RUN_FLAGS:-} && -n ${RUN:-} ]]; then
  printf '#!/bin/sh\nexec %q %s "$@"\n' "$RUN" "$KIVOS_RUN_FLAGS" >"$D/.flagged-run"
  chmod +x "$D/.flagged-run"
  RUN=$D/.flagged-run
fi

# The output of a run in brackets, then its status.
run() { echo "[$("$RUN" "$@" 2>&1)] $?"; }

# The values a run handed to the report trap, in decimal.
reports() {
  "$RUN" --trace "$@" 2>&1 >/dev/null | sed -nE 's/^trap_200\((0x[0-9a-f]+),.*/\1/p' |
    while read -r v; do echo -n "$((v >= 1 << 31 ? v - (1 << 32) : v)) "; done
}

# The pieces the stdio program writes to descriptor 1, one per write, each in
# brackets, then what it reported, all in braces: pieces ARGS...
pieces() {
  echo "{$("$RUN" --trace -s 99 "$P/stdio" "$@" 2>&1 >/dev/null |
    sed -E 's/^write\(1, "(.*)", [0-9]+\) = [0-9]+$/[\1]/; s/^trap_200\((0x[0-9a-f]+),.*/=\1/
            /^_exit\(0\)/d' | tr -d '\n')}"
}

# The number of each call a run makes, by name.
calls() {
  "$RUN" --trace "$@" 2>&1 >/dev/null | sed -E '/^(trap_200|_exit)/d; s/\(.*//' | sort | uniq -c |
    tr -s ' \n' ' '
}

# $D/ten holds "0123456789" and $D/ff "a", 0xFF, "b".
files() { printf 0123456789 >"$D/ten" && printf 'a\377b' >"$D/ff"; }

# Records a run in $D (OPTIONS as one word, then the program and its
# arguments), replays it in an empty folder with no input, and says "same"
# when output, trace and status agree and the replay wrote no file.
replays() {
  local opts=$1 before after
  shift
  # shellcheck disable=SC2086 # the options are words
  before=$(cd "$D" && "$RUN" $opts --trace --record "$D/rec" "$@" 2>&1; echo "status $?")
  mkdir -p "$D/empty"
  after=$(cd "$D/empty" && "$RUN" --trace --replay "$D/rec" "$1" 2>&1 </dev/null; echo "status $?")
  if [[ $before == "$after" && -z $(ls -A "$D/empty") ]]; then echo same; else diff <(echo "$before") <(echo "$after"); fi
}

# A root folder $D/r with a file, a folder and links that try to leave it,
# and a secret beside it.
box() {
  mkdir -p "$D/r/sub"
  printf inside >"$D/r/data"
  printf outside >"$D/secret"
  ln -s ../secret "$D/r/up_link"
  ln -s "$D/secret" "$D/r/abs_link"
  ln -s data "$D/r/good_link"
}

# A hand-made program $D/KIND (see raw_elf.py): raw KIND
raw() { python3 "$(dirname "${BASH_SOURCE[0]}")/raw_elf.py" "$1" "$D/$1"; }

# A 32-bit little-endian value as printf escapes.
le32() {
  printf '\\%o\\%o\\%o\\%o' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255))
}

# A copy $D/p of $B (default hdtab) with bytes replaced: poke OFFSET BYTES...
poke() {
  cp "${B:-$H}" "$D/p"
  while (($#)); do
    printf "$2" | dd of="$D/p" bs=1 seek=$(($1)) conv=notrunc status=none
    shift 2
  done
}

# Runs such a copy: bad OFFSET BYTES...
bad() { poke "$@" && "$RUN" "$D/p"; }

# The file offset of hdtab's section NAME, plus OFFSET: section NAME [OFFSET]
section() {
  echo $(($(llvm-readelf -S "$H" | sed -nE "s/.* $1 +PROGBITS +[0-9a-f]+ ([0-9a-f]+) .*/0x\1/p") + ${2:-0}))
}

# The file offset of field OFFSET of the header of hdtab's section NAME.
header() {
  local index
  index=$(llvm-readelf -S "$H" | sed -nE "s/^ *\[ *([0-9]+)\] $1 .*/\1/p")
  echo $(($(od -An -tu4 -j32 -N4 "$H") + 40 * index + $2))
}

# How a case of the faults program ends: the fault's kind and address
# (REPORTED when it is the address the case reported first), and the status.
fault() {
  local out status r
  out=$("$RUN" --trace --stack-size 65536 "$P/faults" "$1" 2>&1)
  status=$?
  r=$(sed -nE 's/^trap_200\(0x([0-9a-f]+).*/\1/p' <<<"$out")
  echo "$(sed -nE "/fault: /!d; s/.*fault: //; s/ \(eip.*//; ${r:+s/0x0*$r\$/REPORTED/;} p" <<<"$out") $status"
}

# Starts kivos-run ARGS... under its gdb stub, in the background: sets $pid
# and $port.
stub() {
  port=
  "$RUN" --gdb 0 "$@" 2>"$D/stub" &
  pid=$!
  for _ in {1..200}; do
    port=$(sed -n 's/.*localhost:\([0-9]*\)$/\1/p' "$D/stub" 2>/dev/null)
    [[ -n $port ]] && break || sleep 0.05
  done
  [[ -n $port ]] || { kill "$pid"; echo "kivos-run did not listen: $(cat "$D/stub")"; return 1; }
}

# kivos-run's status once the stub's client is gone; one left waiting is
# killed (and fails the row).
stub_status() {
  for _ in {1..50}; do kill -0 "$pid" 2>/dev/null && sleep 0.1; done
  kill "$pid" 2>/dev/null
  wait "$pid"
  echo "status $?"
}

# The real gdb on PROGRAM ARG [$ARG2] under kivos-run's stub, given each
# COMMAND with -ex; then kivos-run's status. $GDB may wrap gdb (default: a
# 60 s timeout).
debug() {
  local program=$1 arg=$2 ex=()
  shift 2
  stub "$program" "$arg" ${ARG2+"$ARG2"} || return 1
  for c in "$@"; do ex+=(-ex "$c"); done
  ${GDB:-timeout 60} gdb -batch -nx -ex "target remote :$port" "${ex[@]}" "$program.elf" 2>&1
  stub_status
}

# Raw bytes to the stub on [$OPTS] PROGRAM ARG (see gdb_wire.py): wire
# PROGRAM ARG STEP...; then kivos-run's status.
wire() {
  local program=$1 arg=$2
  shift 2
  stub ${OPTS-} "$program" "$arg" || return 1
  python3 "$(dirname "${BASH_SOURCE[0]}")/gdb_wire.py" "$port" "$@"
  stub_status
}
