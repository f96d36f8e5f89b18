#!/usr/bin/env bash
# Runs both fuzz targets for SECONDS each (default 60) from the kept corpus, in a scratch copy,
# and fails on any crash, leak or sanitizer report.
#   bash tests/fuzz/run.sh build-fuzz/bin 60
set -euo pipefail
bin=$1 seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
for target in decode metadata; do
  work=$(mktemp -d)
  cp -r "$here/corpus/$target/." "$work/"
  echo "fuzz_$target: ${seconds} s from $(ls "$work" | wc -l) corpus files"
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
    "$bin/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=65536 -timeout=20 \
    -print_final_stats=1 "$work" 2>&1 | grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)|ERROR|SUMMARY" || true
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "fuzz_$target failed"; exit 1; }
  rm -rf "$work"
done
