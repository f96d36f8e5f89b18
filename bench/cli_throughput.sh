#!/usr/bin/env bash
# Throughput and peak memory of orvix-screen over folders of 224 x 224 JPEGs (generated, grey, X-ray-like
# smooth noise), for two folder sizes, so that the model load is counted once and memory growth shows; and,
# in the same run, the plain PyTorch pipeline (bench/pytorch_pipeline.py) on the first PYTORCH_PICTURES
# (default 300; 0 skips it) of the same files, half before orvix-screen's runs and half after (a shared
# machine's speed drifts over minutes), and the ratio of the rates at each size.
#   [JOBS=N] [PYTORCH_PICTURES=N] bash bench/cli_throughput.sh [build-release/bin/orvix-screen] [100 2000]
set -euo pipefail
screen=${1:-build-release/bin/orvix-screen}
shift || true
sizes=("${@:-100 2000}")
read -r -a sizes <<< "${sizes[*]}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work" "${sizes[@]}" <<'PY'
import sys, cv2, numpy as np
out, sizes = sys.argv[1], [int(s) for s in sys.argv[2:]]
rng = np.random.default_rng(0)
for n in sizes:
    import os; os.makedirs(f"{out}/{n}", exist_ok=True)
    for i in range(n):
        small = rng.normal(120, 40, (7, 7)).clip(0, 255).astype(np.uint8)
        img = cv2.resize(small, (224, 224), interpolation=cv2.INTER_CUBIC)
        img = (img.astype(np.int16) + rng.normal(0, 6, img.shape)).clip(0, 255).astype(np.uint8)
        cv2.imwrite(f"{out}/{n}/{i:05d}.jpg", img, [cv2.IMWRITE_JPEG_QUALITY, 90])
PY
mkdir -p "$work/1" && cp "$work/${sizes[0]}/00000.jpg" "$work/1/"

measure() {  # prints "seconds maxrss_kib"
  /usr/bin/time -f "%e %M" -o "$work/time" "$screen" --json ${JOBS:+--jobs "$JOBS"} "$1" > /dev/null 2>&1
  cat "$work/time"
}
pictures=${PYTORCH_PICTURES:-300}
here=$(cd "$(dirname "$0")/.." && pwd)
pytorch() {  # prints "pictures seconds" of the PyTorch pipeline on the first $1 pictures
  local line
  line=$(PYTHONPATH="$here/training" /usr/bin/python3 "$here/bench/pytorch_pipeline.py" --limit "$1" \
         "$work/${sizes[0]}" 2>&1 >/dev/null | tail -1)
  echo "$line" >&2
  sed -E 's/.*: ([0-9]+) pictures in ([0-9.]+) s.*/\1 \2/' <<< "$line"
}
if (( pictures > 0 )); then read -r torch_n1 torch_s1 <<< "$(pytorch $((pictures / 2)))"; fi

rates=()
read -r t1 m1 <<< "$(measure "$work/1")"
echo "1 picture (model load + 1 analysis): ${t1} s, peak RSS ${m1} KiB"
for n in "${sizes[@]}"; do
  read -r t m <<< "$(measure "$work/$n")"
  rate=$(awk -v n="$n" -v t="$t" -v t1="$t1" 'BEGIN { printf "%.0f", (n - 1) / (t - t1) }')
  echo "$n pictures: ${t} s, ${rate} pictures/s after the model load, peak RSS ${m} KiB"
  rates+=("$n:$rate")
done

if (( pictures > 0 )); then
  read -r torch_n2 torch_s2 <<< "$(pytorch $((pictures - pictures / 2)))"
  torch_rate=$(awk -v n="$((torch_n1 + torch_n2))" -v s1="$torch_s1" -v s2="$torch_s2" \
               'BEGIN { printf "%.1f", n / (s1 + s2) }')
  echo "pytorch pipeline, before and after: $((torch_n1 + torch_n2)) pictures, $torch_rate pictures/s"
  for entry in "${rates[@]}"; do
    awk -v n="${entry%%:*}" -v a="${entry#*:}" -v b="$torch_rate" \
        'BEGIN { printf "orvix-screen (%d pictures) / PyTorch pipeline: %.1f times\n", n, a / b }'
  done
fi
