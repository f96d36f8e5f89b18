#!/usr/bin/env bash
# Starts the real app under Xvfb, imports a sample X-ray, turns on View > Show Heatmap and saves
# screenshots: the window (docs/screenshot.png) and whole screens of 1366 x 768 and 1920 x 1080;
# then exports the examination through File > Export PDF and renders its page.
#   bash scripts/screenshot.sh [build-release/bin/orvix] [picture]
# Needs Debian's xvfb, xdotool, imagemagick and poppler-utils. The menu positions are those of
# the window's menu bar with the default style.
set -euo pipefail
app=${1:-build-release/bin/orvix}
picture=${2:-tests/fixtures/pictures/chest-pneumonia-bacteria.jpeg}
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/Documents"

# shoot SCREEN OUT [CROP] [PDF] [MORE PICTURES...]: the first picture on screen, all in the worklist
shoot() {
  xvfb-run -a -s "-screen 0 ${1}x24" bash -c '
    HOME="$0" "$1" "$2" "${@:6}" > /dev/null 2>&1 &
    pid=$!
    sleep 5
    xdotool mousemove 59 8 click 1; sleep 0.7; xdotool mousemove 110 73 click 1; sleep 1.5  # View > Show Heatmap
    import -window root ${4:+-crop "$4"} "$3"
    if [ -n "$5" ]; then
      xdotool mousemove 20 8 click 1; sleep 0.7; xdotool mousemove 70 117 click 1; sleep 2   # File > Export PDF...
      xdotool key ctrl+a; xdotool type --delay 20 "$5"; xdotool key Return; sleep 3
    fi
    kill $pid
  ' "$home" "$app" "$picture" "$2" "${3:-}" "${4:-}" "${@:5}"
}

shoot 1240x900 docs/screenshot.png 1200x830+0+0 "$home/examination.pdf"
pdftoppm -png -r 90 -singlefile "$home/examination.pdf" docs/examination-pdf
others=$(ls tests/fixtures/pictures/* | grep -v -F "$picture")
shoot 1366x768 docs/screenshot-1366x768.png "" ""
# shellcheck disable=SC2086
shoot 1920x1080 docs/screenshot-1920x1080.png "" "" "$picture" $others
echo "wrote docs/screenshot.png, docs/examination-pdf.png, docs/screenshot-1366x768.png, docs/screenshot-1920x1080.png"
