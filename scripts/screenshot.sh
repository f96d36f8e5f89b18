#!/usr/bin/env bash
# Starts the real app under Xvfb, imports a sample X-ray and saves a screenshot of the screen.
#   bash scripts/screenshot.sh [build-release/bin/orvix] [picture] [out.png]
# Needs Debian's xvfb and imagemagick.
set -euo pipefail
app=${1:-build-release/bin/orvix}
picture=${2:-tests/fixtures/pictures/chest-pneumonia-bacteria.jpeg}
out=${3:-docs/screenshot.png}
xvfb-run -a -s "-screen 0 1240x900x24" bash -c '
  "$0" "$1" > /dev/null &
  pid=$!
  sleep 4
  import -window root -crop 1200x830+0+0 "$2"
  kill $pid
' "$app" "$picture" "$out"
echo "wrote $out"
