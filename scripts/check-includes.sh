#!/usr/bin/env bash
# Checks two rules of the host's includes (BrisholmMac), and names file and line for each break:
#   1. Only a desktop backend includes the headers of its kind of session: X11 headers (<xcb/...>,
#      <X11/...>, <xkbcommon/xkbcommon-x11.h>) only BrisholmMac/Backends/x11, Wayland's
#      (<wayland-*.h> and the generated *-client-protocol.h) only BrisholmMac/Backends/wlroots,
#      PipeWire's (<pipewire/...>, <spa/...>) only BrisholmMac/Backends/gnome. Every other folder
#      works for any desktop session.
#   2. Includes go down the floors below, never up. A folder may include its own floor and those
#      under it. Tests may also include the test helpers of any folder (files under a tests/
#      folder, and BrisholmMac/tests/support); production code never includes a test helper.
# Usage: scripts/check-includes.sh [repository root]
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root/BrisholmMac"

# The floors, lowest first. Platform holds the interfaces to the operating system (used by the
# server's advertiser and the follower's window list) and the implementations every session
# shares; Backends hold those of one kind of session. "main" is the program's own files at the top
# of BrisholmMac, with BrisholmMac/tests: the tests of those files and the harness every test shares.
floors=(
  "Geometry Log"
  "Platform"
  "Server"
  "Capture"
  "Input"
  "Backends"
  "Host"
  "App"
  "Headless"
  "main tests"
)

# Each backend's own headers (system include patterns), and the one folder that may include them.
sessionHeaders=(
  "Backends/x11/ xcb/* X11/* xkbcommon/xkbcommon-x11.h"
  "Backends/wlroots/ wayland-*.h *-client-protocol.h"
  "Backends/gnome/ pipewire/* spa/*"
)

declare -A floorOf
for index in "${!floors[@]}"; do
  for folder in ${floors[$index]}; do
    floorOf[$folder]=$index
  done
done

# The folder a file of the host belongs to: its first path part, "main" for the files at the top.
folderOf() {
  case "$1" in
    */*) echo "${1%%/*}" ;;
    *) echo main ;;
  esac
}

isTestFile() {
  case "$1" in
    */tests/* | tests/*) return 0 ;;
    *) return 1 ;;
  esac
}

# Where each file name lives, for includes written without a folder ("SyncServer.hpp" through a
# library's include directory).
declare -A byName
while IFS= read -r file; do
  name="${file##*/}"
  if [ -n "${byName[$name]:-}" ]; then
    byName[$name]="ambiguous"
  else
    byName[$name]="$file"
  fi
done < <(find . -type f \( -name '*.hpp' -o -name '*.h' \) | sed 's#^\./##' | sort)

failures=0
fail() {
  echo "$1: $2" >&2
  failures=$((failures + 1))
}

while IFS= read -r file; do
  folder="$(folderOf "$file")"
  mapfile -t lines <"$file"
  lineNumber=0
  for line in "${lines[@]}"; do
    lineNumber=$((lineNumber + 1))
    [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*([\"\<])([^\"\>]+)[\"\>] ]] || continue
    kind="${BASH_REMATCH[1]}"
    target="${BASH_REMATCH[2]}"
    where="BrisholmMac/$file:$lineNumber"

    if [ "$kind" = "<" ]; then
      for entry in "${sessionHeaders[@]}"; do
        read -r -a parts <<<"$entry"
        owner="${parts[0]}"
        for pattern in "${parts[@]:1}"; do
          # shellcheck disable=SC2053 # the pattern is meant to match as a pattern
          if [[ "$target" == $pattern && "$file" != "$owner"* ]]; then
            fail "$where" "includes <$target>, which only ${owner%/} may include"
          fi
        done
      done
      continue
    fi

    # A quoted include: the file it names in the host, if it is one of ours.
    resolved=""
    directory="$(dirname "$file")"
    if [ -f "$directory/$target" ]; then
      resolved="$(realpath -m --relative-to=. "$directory/$target")"
    elif [ -f "$target" ]; then
      resolved="$target"
    elif [[ "$target" != */* ]] && [ -n "${byName[$target]:-}" ] && [ "${byName[$target]}" != ambiguous ]; then
      resolved="${byName[$target]}"
    fi
    [ -n "$resolved" ] || continue  # the protocol library, a generated file or another project's

    if isTestFile "$resolved"; then
      isTestFile "$file" || fail "$where" "production code includes the test helper $resolved"
      continue
    fi
    targetFolder="$(folderOf "$resolved")"
    fileFloor="${floorOf[$folder]:-}"
    targetFloor="${floorOf[$targetFolder]:-}"
    if [ -z "$fileFloor" ] || [ -z "$targetFloor" ]; then
      fail "$where" "$folder or $targetFolder has no floor in scripts/check-includes.sh"
    elif [ "$targetFloor" -gt "$fileFloor" ]; then
      fail "$where" "$folder includes $resolved, a floor above it ($targetFolder)"
    fi
  done
done < <(find . -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' \) | sed 's#^\./##' | sort)

if [ "$failures" -gt 0 ]; then
  echo "check-includes: $failures include(s) break the rules above (see the floors in $0)" >&2
  exit 1
fi
echo "check-includes: every include keeps to its floor, and each backend's headers stay in its folder"
