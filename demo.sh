#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the plug-in and the render tool, and renders
# the built-in demo phrase through program 0 into the current folder.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$here/build"
if [ -x "$here/build/tools/skorvaline-render" ]; then
  "$here/build/tools/skorvaline-render" "$@"
else
  echo "Plug-in built: $here/build/Skorvaline.so"
fi
