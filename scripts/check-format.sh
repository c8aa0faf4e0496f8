#!/usr/bin/env bash
# Fails when a C++ file differs from the layout in .clang-format; prints the files that do.
# Usage: scripts/check-format.sh (run from anywhere; fix with clang-format -i on the files).
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '^tests/data/')
clang-format --dry-run --Werror "${files[@]}"
