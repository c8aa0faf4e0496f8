#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test through CTest.
# Usage: ./test.sh [build-dir] [extra cmake arguments...]
# SKV_TARGETS (optional): build only these targets and run only their tests.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh

build=${1:-build}
shift || true
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKV_WERROR=$werror "$@"
ctest_args=()
if [ -n "${SKV_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$build" --target $SKV_TARGETS
  # Only the tests of the programs built (each test is labelled with its program).
  ctest_args=(-L "^($(echo "$SKV_TARGETS" | tr -s ' ' '|'))\$")
else
  cmake --build "$build"
fi

# Editor tests need an X display; start a private one when there is none.
xvfb_pid=
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 140); do
    [ -e /tmp/.X$n-lock ] && continue
    # -noreset: by default the server resets whenever its last client disconnects and
    # drops connections that arrive meanwhile; with one process per test that happens
    # between tests all the time.
    Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=:$n
    break
  done
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi
trap '[ -n "$xvfb_pid" ] && kill $xvfb_pid 2>/dev/null || true' EXIT

ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "${ctest_args[@]}"
