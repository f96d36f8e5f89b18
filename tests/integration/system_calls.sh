#!/usr/bin/env bash
# What orvix-screen asks of the system while it analyses pictures and saves their reports,
# traced with strace over every process and thread:
#   - no network system call at all;
#   - no file created, written, renamed, linked or made anywhere but in the report directory
#     (a decoder that copies a picture to a temporary file would leave a patient's picture
#     behind if the process were killed).
# Where tracing is not permitted, the network half runs in a namespace without interfaces.
set -euo pipefail
screen=$1 models=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ORVIX_MODEL_DIR=$models
# LeakSanitizer cannot run under ptrace; the sanitizer build checks leaks in the other tests.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

set +e
if strace -f -o /dev/null true 2>/dev/null; then
  strace -f -qq -o "$work/trace" \
    -e trace=network,open,openat,creat,truncate,rename,renameat,renameat2,link,linkat,symlink,symlinkat,mkdir,mkdirat \
    "$screen" --json --reports "$work/reports" "$@" > "$work/out" 2> "$work/err"
  status=$?
  traced=1
elif unshare -n true 2>/dev/null; then
  unshare -n "$screen" --json --reports "$work/reports" "$@" > "$work/out" 2> "$work/err"
  status=$?
  traced=0
  echo "ran in a network namespace without interfaces; file creation not traced"
else
  echo "neither strace nor unshare -n is permitted here"; exit 77
fi
set -e
[ "$status" -le 1 ] || { echo "exit status $status"; cat "$work/err"; exit 1; }
[ "$(wc -l < "$work/out")" -ge 5 ]
[ "$(find "$work/reports" -type f | wc -l)" -ge 5 ]

if [ "$traced" = 1 ]; then
  network=$(grep -E '^[0-9]+ +(socket|connect|bind|sendto|sendmsg|recvfrom|listen|accept)' "$work/trace" || true)
  [ -z "$network" ] || { echo "network system calls:"; echo "$network"; exit 1; }
  # Every call that makes or changes a file, less those inside the report directory.
  writes=$(grep -E 'O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|^[0-9]+ +(creat|truncate|rename|renameat2?|link|linkat|symlink|symlinkat|mkdir|mkdirat)\(' \
             "$work/trace" | grep -v -F "\"$work/reports" | grep -v -E '"/dev/(null|tty)"' || true)
  [ -z "$writes" ] || { echo "files written outside the report directory:"; echo "$writes"; exit 1; }
  echo "strace: no network system call; no file written but $(find "$work/reports" -type f | wc -l) reports"
fi
