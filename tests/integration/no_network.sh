#!/usr/bin/env bash
# Analysing pictures and saving their reports opens no socket: every network system call
# of orvix-screen (and its threads) is traced with strace; the run must make none.
# Falls back to a network namespace without interfaces where tracing is not permitted.
set -euo pipefail
screen=$1 pictures=$2 models=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ORVIX_MODEL_DIR=$models
# LeakSanitizer cannot run under ptrace; the sanitizer build checks leaks in the other tests.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

if strace -f -o /dev/null true 2>/dev/null; then
  strace -f -qq -e trace=network -o "$work/trace" "$screen" --json --reports "$work/reports" "$pictures" > "$work/out"
  if [ -s "$work/trace" ]; then
    echo "network system calls:"; cat "$work/trace"; exit 1
  fi
  echo "strace: no network system call"
elif unshare -n true 2>/dev/null; then
  unshare -n "$screen" --json --reports "$work/reports" "$pictures" > "$work/out"
  echo "ran in a network namespace without interfaces"
else
  echo "neither strace nor unshare -n is permitted here"; exit 77
fi
[ "$(wc -l < "$work/out")" -ge 5 ]
[ "$(ls "$work/reports" | wc -l)" -ge 5 ]
