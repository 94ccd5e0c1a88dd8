#!/usr/bin/env bash
# run_case.sh KIVOS_RUN PROGRAM CASE: the case in a fresh folder holding the
# files of commands.sh's `files` and the child program, with "ab" on standard
# input.
D=$(mktemp -d)
trap 'rm -rf "$D"' EXIT
source "$(dirname "$0")/../host/commands.sh"
files
cp "$(dirname "$2")/child" "$D/"
# shellcheck disable=SC2086 # the flags are words
printf ab | "$1" ${KIVOS_RUN_FLAGS:-} --no-sleep --timeout 30 --root "$D" "$2" "$3"
