#!/usr/bin/env bash
# Builds the Debian package build-release/orvix_<version>_<arch>.deb from the release preset, installed under /usr
# (the programs then look for their models in /usr/share/orvix/models).
# Install it with: sudo apt-get install ./build-release/orvix_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
# Only what the package holds is built (not the tests and benchmarks), and installing builds nothing more.
cmake --preset release -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build --preset release --target orvix orvix-screen orvix-node orvix_models orvix_packaging_files
rm -f build-release/orvix_*.deb
(cd build-release && cpack -G DEB)
ls build-release/orvix_*.deb
