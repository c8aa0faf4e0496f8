#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) over every tracked .cpp file of ours, and through them
# our headers; exits 1 on any finding except a function over the size thresholds, which is
# printed as a warning. Works offline; two jobs by default (SKV_TIDY_JOBS to change).
# Usage: scripts/clang-tidy.sh [build-dir [file-regex...]] (build-dir default build-tidy,
# configured here with clang, tests, benchmarks and fuzz targets on, so that every file has its
# own compile command; file regexes narrow the run, e.g. 'editor/' while fixing one folder).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${1:-build-tidy}")
shift || true
jobs=${SKV_TIDY_JOBS:-2}
folders='plugin|dsp|filtermap|config|vst|editor|lv2|tools|resources|tests|bench|fuzz'

# Configuring is enough: clang-tidy needs the compile commands, not the objects. Clang, so that
# the flags and the warnings are the ones clang-tidy's front end understands.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DBUILD_TESTING=ON -DSKV_BUILD_BENCH=ON -DSKV_BUILD_FUZZ=ON >/dev/null

# One compile command per tracked source: the fuzz targets compile the filter-map sources a
# second time, and clang-tidy would check a file once per command; generated sources (the
# embedded resources) are not ours to fix.
db=$build/tidy-db
mkdir -p "$db"
git ls-files '*.cpp' | grep -E "^($folders)/" | python3 -c '
import json, os, sys
root, build, out = sys.argv[1:4]
ours = {os.path.join(root, line.strip()) for line in sys.stdin if line.strip()}
seen, kept = set(), []
for entry in json.load(open(os.path.join(build, "compile_commands.json"))):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    if path in ours and path not in seen:
        seen.add(path)
        kept.append(entry)
json.dump(kept, open(os.path.join(out, "compile_commands.json"), "w"), indent=1)
missing = sorted(ours - seen)
if missing:
    sys.exit("no compile command for: " + " ".join(missing))
print("clang-tidy: %d files" % len(kept))
' "$root" "$build" "$db"

log=$build/clang-tidy.log
status=0
start=$(date +%s)
# run-clang-tidy echoes each command and colours its output; keep the diagnostics, plainly.
run-clang-tidy -quiet -j"$jobs" -p "$db" -header-filter="^$root/($folders)/" "$@" >"$log" 2>&1 ||
  status=$?
sed -E 's/\x1b\[[0-9;]*m//g' "$log" | grep -vE '^(clang-tidy(-[0-9]+)? |[0-9]+ warnings? (and [0-9]+ errors? )?generated\.|Suppressed |Use -header-filter|Error while processing )' \
  >"$log.txt" || true
cat "$log.txt"

# A header's finding shows once per file that includes it; the summary counts each once.
echo "clang-tidy: $(($(date +%s) - start)) s; distinct findings per check:"
grep -E '^/.*: (warning|error): .*\[[a-zA-Z0-9.,-]+\]$' "$log.txt" | sort -u |
  sed -E 's/,-warnings-as-errors\]$/]/; s/.*: (warning|error): .*\[([^]]+)\]$/  \2 (\1)/' |
  sort | uniq -c || echo "  none"
if [ "$status" -ne 0 ]; then
  echo "clang-tidy: FAILED (findings above are errors)" >&2
  exit 1
fi
echo "clang-tidy: passed"
