#!/usr/bin/env bash
# Builds the Debian packages from an already built tree and checks them with lintian.
# Usage: scripts/package-build.sh BUILD_DIR OUTPUT_DIR
# Leaves vantrel_*.deb and vantrel-probe_*.deb in OUTPUT_DIR. Fails when the manual page misses an
# option of brisholm --help, when cpack fails or when lintian reports an error; its warnings are
# printed so that new ones are seen (docs/ARCHITECTURE.md lists the notes we keep, and why).
set -euo pipefail
build=$(realpath "$1")
output=$2

# The manual page keeps up with the program: every option --help lists is in it.
manual=$(sed 's/\\-/-/g' "$build/packaging/brisholm.1")
for option in $("$build/BrisholmMac/brisholm" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
  if [[ $manual != *"$option"* ]]; then
    echo "package-build: the manual page brisholm.1 does not explain $option" >&2
    exit 1
  fi
done

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
