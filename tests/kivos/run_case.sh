#!/usr/bin/env bash
# Runs a case of a kivos test program under kivos-run, in a fresh folder that
# holds "ten" ("0123456789") and "ff" ("a", 0xFF, "b"), with "ab" on standard
# input: run_case.sh KIVOS_RUN PROGRAM CASE
d=$(mktemp -d)
trap 'rm -rf "$d"' EXIT
printf 0123456789 >"$d/ten"
printf 'a\377b' >"$d/ff"
printf ab | "$1" --no-sleep --timeout 30 --root "$d" "$2" "$3"
