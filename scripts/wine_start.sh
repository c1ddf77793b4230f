#!/usr/bin/env bash
# wine_start.sh LOADER PROGRAM [ARGS...]: how CTest starts a Windows test program (and lists its
# tests) under Wine. The program's output passes straight through; its exit status is the loader's.
#
# Every test program prints GoogleTest's "Running main()" line first, so one that printed nothing on
# stdout never reached its main: Wine failed to start it. That is never a plain failure without a
# reason: the loader's exit status and error output are printed. Such a start is tried once more,
# said on its own line here and in the file $TALV_WINE_NOTES names (the test script prints it after
# the run); a program that printed anything is never started again.
#
# The loader runs without address-space randomisation (its children inherit that): randomised, the
# kernel may put the loader's heap where Wine keeps its shared user data page, and the program dies
# within milliseconds with status 1, its only word "failed to map the shared user data" hidden by
# WINEDEBUG=-all.
set -u
loader=$1
shift
if setarch -R true 2>/dev/null; then loader_run=(setarch -R "$loader"); else loader_run=("$loader"); fi
program=$(basename "$1")
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

note() {  # note LINE: says LINE in the test's output and in the run's notes
  echo "$1" >&2
  if [ -n "${TALV_WINE_NOTES:-}" ]; then echo "$1" >>"$TALV_WINE_NOTES"; fi
}

start() {  # start: runs the program once, keeping copies of what it printed; sets status and ms
  local began
  began=$(date +%s%N)
  { "${loader_run[@]}" "$@" | tee "$out"; status=${PIPESTATUS[0]}; } 2> >(tee "$err" >&2)
  wait $!  # until the copy of the error output is complete
  ms=$((($(date +%s%N) - began) / 1000000))
}

silent() {  # silent [AGAIN]: the loader's status and error output of a start that printed nothing
  note "=== $program ${*:3} printed nothing$1 (${ms} ms): Wine's loader ended with status $status, its error output:"
  if [ -s "$err" ]; then note "$(sed 's/^/    /' "$err")"; else note "    (none)"; fi
}

start "$@"
if [ ! -s "$out" ]; then
  silent "" "$@"
  note "=== retried: $program did not start (status $status)"
  start "$@"
  if [ ! -s "$out" ]; then
    silent " again" "$@"
    # A program that never ran has not passed, whatever the loader's status.
    if [ "$status" = 0 ]; then status=1; fi
  fi
fi
exit "$status"
