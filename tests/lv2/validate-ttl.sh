#!/usr/bin/env bash
# Checks the bundle's Turtle files against the installed LV2 vocabularies (lv2_validate, which
# runs sord_validate). Exit 77 (skipped) when the tools are missing.
set -euo pipefail
bundle=$1
if ! command -v sord_validate >/dev/null || ! command -v lv2_validate >/dev/null; then
  echo "skipped: sord_validate or lv2_validate missing (Debian: sordi, lv2-dev)"
  exit 77
fi
lv2_validate "$bundle/manifest.ttl" "$bundle/Skorvaline.ttl"
