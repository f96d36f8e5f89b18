#!/usr/bin/env bash
# Fails, naming the files, when a tracked C++ file differs from its clang-format layout (.clang-format).
#   bash scripts/check-format.sh          check
#   bash scripts/check-format.sh --fix    rewrite the files in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [[ ${1:-} == --fix ]]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run --Werror "${files[@]}"
fi
