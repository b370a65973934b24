#!/usr/bin/env bash
# What `make run` starts: the desktop host when a desktop backend serves this session (an X display
# it can reach, or GNOME or a wlroots compositor on Wayland; the host's own rule decides, through
# `brisholm --session`), else the headless host with its test pattern. The first line (on
# standard error, so the hosts' standard output stays as it is) says which one and why. Arguments
# go to the host.
set -euo pipefail
binary="$(dirname "$0")/../build/default/BrisholmMac/brisholm"

if verdict=$("$binary" --session 2>/dev/null); then
  echo "make run: starting the desktop host: ${verdict} (Ctrl-C ends it)" >&2
  exec "$binary" "$@"
fi
echo "make run: starting the headless host (test pattern): ${verdict:-the session could not be examined}" >&2
exec "$binary" --headless "$@"
