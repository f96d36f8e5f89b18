#!/usr/bin/env bash
# Installs the Debian 12 packages Orvix needs to build, test and retrain (uses sudo when not root); dcmtk and orthanc
# are the peers of orvix-node's tests.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libopencv-dev libicu-dev nlohmann-json3-dev libdcmtk-dev libssl-dev
  libturbojpeg0-dev libpng-dev libopenjp2-7-dev libtiff-dev
  libgtest-dev libbenchmark-dev
  python3 python3-numpy python3-torch python3-torchvision python3-opencv python3-onnx python3-matplotlib python3-pil python3-pydicom
  clang clang-format libclang-rt-14-dev strace time libjpeg-turbo-progs poppler-utils
  dpkg-dev groff man-db lintian desktop-file-utils appstream
  dcmtk orthanc
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"

# Orthanc is here only as the PACS that orvix-node's tests start on their own ports; Debian's package enables and
# starts a service of its own, which would listen on 4242 and 8042 for good.
if [[ " ${missing[*]} " == *" orthanc "* ]]; then
  if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
    $sudo systemctl disable --now orthanc || true
  elif [ -x /etc/init.d/orthanc ]; then  # without systemd the package's init script may have started it
    $sudo /etc/init.d/orthanc stop >/dev/null 2>&1 || true
  fi
fi
