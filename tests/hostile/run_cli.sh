#!/usr/bin/env bash
# orvix-screen over the whole hostile corpus: exit status 1 (some files cannot be analysed), one
# JSON line per file that parses, each failure named on standard error in exactly one line (no
# line of a library's own) before the one summary line, and peak memory under the documented bound (1 GiB: a 100-megapixel
# picture decoded and converted, plus the models).
set -euo pipefail
screen=$1 corpus=$2 models=$3
bound_kib=$(( ${4:-1024} * 1024 ))
out=$(mktemp) err=$(mktemp) timing=$(mktemp)
trap 'rm -f "$out" "$err" "$timing"' EXIT

files=()
# Directories are searched, not analysed: the corpus's directory.png gives no result line.
for f in "$corpus"/*; do [ "${f##*/}" = expected.json ] || [ -d "$f" ] || files+=("$f"); done
set +e
ORVIX_MODEL_DIR=$models /usr/bin/time -f "%M" -o "$timing" "$screen" --json "${files[@]}" > "$out" 2> "$err"
status=$?
set -e
[ "$status" -eq 1 ] || { echo "exit status $status, expected 1"; cat "$err"; exit 1; }
lines=$(wc -l < "$out")
[ "$lines" -eq "${#files[@]}" ] || { echo "$lines result lines for ${#files[@]} files"; exit 1; }
/usr/bin/python3 -c '
import json, re, sys
rows = [json.loads(l) for l in open(sys.argv[1])]
bad = [r for r in rows if r["status"] not in ("ok", "unreadable", "undecodable")]
assert not bad, bad
refused = [r for r in rows if r["status"] != "ok"]
*named, summary = open(sys.argv[2], "rb").read().rstrip(b"\n").split(b"\n")
# A slow run also reports its progress every few seconds ("N/M pictures, R per second"): not a refusal.
named = [l for l in named if not re.fullmatch(rb"orvix-screen: \d+/\d+ pictures, \d+ per second", l)]
assert len(named) == len(refused), f"{len(named)} lines on standard error for {len(refused)} refused files"
assert all(l.startswith(b"orvix-screen: ") for l in named), "a line not of orvix-screen"
assert summary.startswith(b"orvix-screen: %d analysed" % (len(rows) - len(refused))), summary
assert b", %d refused" % len(refused) in summary, summary
print(len(rows) - len(refused), "analysed,", len(refused), "refused, one line each")
' "$out" "$err"
grep -q "declares-40000x40000.png" "$err" || { echo "no diagnostic for the 40000x40000 PNG"; exit 1; }
peak=$(tail -n 1 "$timing")
echo "peak RSS ${peak} KiB (bound ${bound_kib} KiB)"
[ "$peak" -lt "$bound_kib" ]
