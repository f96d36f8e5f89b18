#!/usr/bin/env bash
# Builds the Debian package build-release/orvix_<version>_<arch>.deb from the release preset, installed under /usr
# (the programs then look for their models in /usr/share/orvix/models).
# Install it with: sudo apt-get install ./build-release/orvix_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build --preset release
rm -f build-release/orvix_*.deb
(cd build-release && cpack -G DEB)
ls build-release/orvix_*.deb
