#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour sanitizers) and runs
# every target for SECONDS each (default 60) from its seed corpus in fuzz/corpus/<name>,
# printing executions, executions per second and findings per target.
# Usage: scripts/fuzz.sh [SECONDS]   (FUZZ_BUILD names the build folder, default build-fuzz)
# New inputs go to <build>/corpus/<target>, findings to <build>/findings/<target>; the seed
# folders in the tree are only read. Exits 1 when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=$(realpath -m "${FUZZ_BUILD:-build-fuzz}")

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DSKV_SANITIZE="address;undefined" -DSKV_BUILD_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
targets=()
for source in fuzz/fuzz_*.cpp; do
  targets+=("$(basename "$source" .cpp)")
done
cmake --build "$build" --target "${targets[@]}"

status=0
summary=()
for target in "${targets[@]}"; do
  seeds=$PWD/fuzz/corpus/${target#fuzz_}
  corpus=$build/corpus/$target
  findings=$build/findings/$target
  log=$build/findings/$target.log
  mkdir -p "$corpus" "$findings"
  dirs=("$corpus")
  [ -d "$seeds" ] && dirs+=("$seeds")
  echo "== $target: ${seconds}s"
  # The state target keeps one effect whose config.xml lives beside the program.
  (cd "$build/fuzz" && "./$target" -max_total_time="$seconds" -timeout=25 \
     -print_final_stats=1 -artifact_prefix="$findings/" "${dirs[@]}") >"$log" 2>&1 || true
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  found=$(find "$findings" -type f | wc -l)
  [ "$found" -gt 0 ] && status=1
  summary+=("$(printf '%-20s %12s execs %8s exec/s %3s findings' "$target" "${execs:-?}" \
    "${rate:-?}" "$found")")
done
echo
printf '%s\n' "${summary[@]}"
exit $status
