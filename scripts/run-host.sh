#!/usr/bin/env bash
# What `make run` starts: the desktop host when this session has an X display it can reach, else
# the headless host with its test pattern. The first line (on standard error, so the hosts'
# standard output stays as it is) says which one and why. Arguments go to the host.
set -euo pipefail
binary="$(dirname "$0")/../build/default/BrisholmMac/brisholm"

if [ "${XDG_SESSION_TYPE:-}" = wayland ]; then
  echo "make run: starting the headless host (test pattern): this is a Wayland session, and the desktop host serves X11 sessions only so far" >&2
elif [ -n "${DISPLAY:-}" ] && xset q >/dev/null 2>&1; then
  echo "make run: starting the desktop host: the X display $DISPLAY is reachable (Ctrl-C ends it)" >&2
  exec "$binary" "$@"
else
  echo "make run: starting the headless host (test pattern): no X display is reachable (DISPLAY=${DISPLAY:-unset})" >&2
fi
exec "$binary" --headless "$@"
