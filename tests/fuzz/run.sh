#!/usr/bin/env bash
# Runs both fuzz targets for SECONDS each (default 60) from the kept corpus, in a scratch copy,
# and fails on any crash, leak, sanitizer report or resident memory over 2 GiB.
#   bash tests/fuzz/run.sh build-fuzz/bin 60
# DCMTK reserves a value field of the length an element declares (up to 4 GiB) before it
# notices the data is shorter; the reservation is never touched, so resident memory stays
# small, and DCMTK copes with a refused one (nothrow). Allocations over 2 GiB are refused
# here, which keeps such inputs fast; -rss_limit_mb bounds what is really used.
set -euo pipefail
bin=$(cd "$1" && pwd) seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
for target in decode metadata; do
  work=$(mktemp -d)
  cp -r "$here/corpus/$target/." "$work/corpus"
  echo "fuzz_$target: ${seconds} s from $(ls "$work/corpus" | wc -l) corpus files"
  set +e
  (cd "$work" && ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:max_allocation_size_mb=2048 \
    "$bin/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=8192 -max_len=65536 \
    -timeout=20 -print_final_stats=1 corpus > log 2>&1)
  status=$?
  set -e
  grep -E "^stat::(number_of_executed_units|peak_rss_mb)|ERROR|SUMMARY" "$work/log" || true
  if [ "$status" -ne 0 ]; then
    echo "fuzz_$target failed (exit $status):"; tail -n 60 "$work/log"
    ls "$work"/crash-* "$work"/oom-* "$work"/leak-* "$work"/timeout-* 2>/dev/null || true
    exit 1
  fi
  rm -rf "$work"
done
