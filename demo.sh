#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (missing packages only), builds everything, and renders
# the built-in demo phrase through program 0 into skorvaline-demo.wav and
# skorvaline-demo.png in the current folder.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$here/build"
exec "$here/build/tools/skorvaline-render"
