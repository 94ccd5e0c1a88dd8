#!/usr/bin/env bash
# run_case.sh KIVOS_RUN PROGRAM CASE: the case in a fresh folder holding
# "ten" ("0123456789") and "ff" ("a", 0xFF, "b"), with "ab" on standard input.
d=$(mktemp -d)
trap 'rm -rf "$d"' EXIT
printf 0123456789 >"$d/ten"
printf 'a\377b' >"$d/ff"
printf ab | "$1" --no-sleep --timeout 30 --root "$d" "$2" "$3"
