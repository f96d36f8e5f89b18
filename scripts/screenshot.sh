#!/usr/bin/env bash
# Starts the real app under Xvfb, imports a sample X-ray, turns on View > Show Heatmap, saves a
# screenshot, then exports the examination through File > Export PDF and renders its page.
#   bash scripts/screenshot.sh [build-release/bin/orvix] [picture] [out.png] [pdf-page.png]
# Needs Debian's xvfb, xdotool, imagemagick and poppler-utils. The menu positions are those of
# the window at 1200 x 800 with the default style.
set -euo pipefail
app=${1:-build-release/bin/orvix}
picture=${2:-tests/fixtures/pictures/chest-pneumonia-bacteria.jpeg}
out=${3:-docs/screenshot.png}
page=${4:-docs/examination-pdf.png}
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/Documents"
xvfb-run -a -s "-screen 0 1240x900x24" bash -c '
  HOME="$3" "$0" "$1" > /dev/null 2>&1 &
  pid=$!
  sleep 5
  xdotool mousemove 59 8 click 1; sleep 0.7; xdotool mousemove 110 30 click 1; sleep 1.5   # View > Show Heatmap
  import -window root -crop 1200x830+0+0 "$2"
  xdotool mousemove 20 8 click 1; sleep 0.7; xdotool mousemove 70 74 click 1; sleep 2     # File > Export PDF...
  xdotool key ctrl+a; xdotool type --delay 20 "$3/examination.pdf"; xdotool key Return; sleep 3
  kill $pid
' "$app" "$picture" "$out" "$home"
pdftoppm -png -r 90 -singlefile "$home/examination.pdf" "${page%.png}"
echo "wrote $out and $page"
