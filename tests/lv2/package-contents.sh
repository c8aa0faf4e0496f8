#!/usr/bin/env bash
# cpack -G DEB builds a Debian package holding the library, the bundle and the render tool
# below /usr. Exit 77 (skipped) without dpkg-deb to read the package.
set -euo pipefail
build=$1
if ! command -v dpkg-deb >/dev/null; then
  echo "skipped: dpkg-deb missing"
  exit 77
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
shopt -s nullglob
debs=("$out"/*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  echo "expected one package, found ${#debs[@]}"
  exit 1
fi
listing=$(dpkg-deb -c "${debs[0]}")
status=0
expected=(
  ./usr/lib/vst/Skorvaline.so
  ./usr/lib/lv2/Skorvaline.lv2/manifest.ttl
  ./usr/lib/lv2/Skorvaline.lv2/Skorvaline.ttl
  ./usr/lib/lv2/Skorvaline.lv2/Skorvaline_lv2.so
)
[ -e "$build/tools/skorvaline-render" ] && expected+=(./usr/bin/skorvaline-render)
for f in "${expected[@]}"; do
  if ! grep -q -F " $f" <<<"$listing"; then
    echo "package lacks $f"
    status=1
  fi
done
[ "$(dpkg-deb -f "${debs[0]}" Package)" = skorvaline ] || { echo "wrong package name"; status=1; }
[ $status -eq 0 ] && echo "$(basename "${debs[0]}"): ${expected[*]}"
exit $status
