#!/usr/bin/env bash
# What `make run` starts: the desktop host when this session has an X display it can reach or is
# GNOME on Wayland, else the headless host with its test pattern. The first line (on standard error, so the hosts'
# standard output stays as it is) says which one and why. Arguments go to the host.
set -euo pipefail
binary="$(dirname "$0")/../build/default/BrisholmMac/brisholm"

gnomeAnswers() {
  local name
  for name in org.gnome.Mutter.ScreenCast org.gnome.Mutter.RemoteDesktop; do
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
      --method org.freedesktop.DBus.NameHasOwner "$name" 2>/dev/null | grep -q true || return 1
  done
}

if [ "${XDG_SESSION_TYPE:-}" = wayland ] && gnomeAnswers; then
  echo "make run: starting the desktop host: GNOME's compositor offers its screen cast and remote desktop (Ctrl-C ends it)" >&2
  exec "$binary" "$@"
elif [ "${XDG_SESSION_TYPE:-}" = wayland ]; then
  echo "make run: starting the headless host (test pattern): this Wayland session is not GNOME's, and the desktop host serves X11 and GNOME sessions only so far" >&2
elif [ -n "${DISPLAY:-}" ] && xset q >/dev/null 2>&1; then
  echo "make run: starting the desktop host: the X display $DISPLAY is reachable (Ctrl-C ends it)" >&2
  exec "$binary" "$@"
else
  echo "make run: starting the headless host (test pattern): no X display is reachable (DISPLAY=${DISPLAY:-unset})" >&2
fi
exec "$binary" --headless "$@"
