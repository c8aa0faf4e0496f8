#!/usr/bin/env bash
# An install into a temporary prefix puts the VST 2.x library into lib/vst, the LV2 bundle into
# lib/lv2 and the render tool into bin, and nothing the tests or a run left in the build tree.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
expected=(
  lib/vst/Skorvaline.so
  lib/lv2/Skorvaline.lv2/manifest.ttl
  lib/lv2/Skorvaline.lv2/Skorvaline.ttl
  lib/lv2/Skorvaline.lv2/Skorvaline_lv2.so
)
[ -e "$build/tools/skorvaline-render" ] && expected+=(bin/skorvaline-render)
status=0
for f in "${expected[@]}"; do
  if [ ! -f "$prefix/$f" ]; then
    echo "missing: $f"
    status=1
  fi
done
# The installed library is the built one, byte for byte.
cmp "$build/Skorvaline.so" "$prefix/lib/vst/Skorvaline.so" || status=1
extra=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort |
  grep -v -x -F "$(printf '%s\n' "${expected[@]}")" || true)
if [ -n "$extra" ]; then
  echo "unexpected files installed:"
  echo "$extra"
  status=1
fi
[ $status -eq 0 ] && echo "installed: ${expected[*]}"
exit $status
