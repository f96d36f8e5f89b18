#!/usr/bin/env bash
# Every test: installs the Debian packages, then (any compiler warning in the project's code failing the build)
#   0. the layout of every C++ file against .clang-format (scripts/check-format.sh);
#   1. the dev build and all its tests (unit, integration, gui, training);
#   2. the unit and integration tests again under AddressSanitizer + UndefinedBehaviorSanitizer;
#   3. each libFuzzer target for FUZZ_SECONDS (default 60) from the kept corpus;
#   4. the Debian package, built in build-release and checked (tests/packaging/check_package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${FUZZ_SECONDS:-60}

bash scripts/install-deps.sh
bash scripts/check-format.sh
# One command a line: under set -e a failure inside an "a && b && c" list does not stop the script
# unless it is the last command, so a failed build would pass unnoticed.
cmake --preset dev -DORVIX_WARNINGS_AS_ERRORS=ON
cmake --build --preset dev
ctest --preset dev
cmake --preset asan -DORVIX_WARNINGS_AS_ERRORS=ON
cmake --build --preset asan
ctest --preset asan
cmake --preset fuzz -DORVIX_WARNINGS_AS_ERRORS=ON
cmake --build --preset fuzz
bash tests/fuzz/run.sh build-fuzz/bin "$fuzz_seconds"
bash tests/packaging/check_package.sh
