#!/usr/bin/env bash
# Builds the Debian packages from an already built tree and checks them with lintian.
# Usage: scripts/package-build.sh BUILD_DIR OUTPUT_DIR
# Leaves vantrel_*.deb and vantrel-probe_*.deb in OUTPUT_DIR. Fails when cpack fails or lintian
# reports an error; its warnings are printed (packaging/lintian-overrides names those we keep).
set -euo pipefail
build=$(realpath "$1")
output=$2

rm -rf "$output"
mkdir -p "$output"
cpack --config "$build/CPackConfig.cmake" -B "$output" >"$output/cpack.log" 2>&1 || {
  cat "$output/cpack.log" >&2
  echo "package-build: cpack failed" >&2
  exit 1
}
rm -rf "$output/_CPack_Packages"

shopt -s nullglob
debs=("$output"/*.deb)
if [ ${#debs[@]} -ne 2 ]; then
  echo "package-build: expected two packages in $output, found: ${debs[*]:-none}" >&2
  exit 1
fi
for deb in "${debs[@]}"; do
  echo "== $(basename "$deb")"
  dpkg-deb --field "$deb" Package Version Architecture Depends Recommends Suggests
done
# Errors fail the build of the packages; warnings are shown so that new ones are seen.
lintian --fail-on error --tag-display-limit 0 "${debs[@]}"
echo "package-build: lintian reports no errors"
