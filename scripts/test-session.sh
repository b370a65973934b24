#!/usr/bin/env bash
# Runs a command inside a private test session, so that the integration and end-to-end tests
# find every service they need and nothing they do reaches the machine's real network:
#   - its own network namespace with only loopback (no test traffic or mDNS leaves the machine),
#   - its own PID namespace (every service started here ends with the session, nothing is left),
#   - its own /run with a system D-Bus and avahi-daemon (DNS-SD),
#   - an Xvfb display with two RandR monitors (L primary at 0,0 and R at 1920,0, 1920x1080 each)
#     and the openbox window manager,
#   - a session D-Bus with an unlocked gnome-keyring, in a throw-away home directory.
# Usage: scripts/test-session.sh COMMAND [ARGS...]. The command's exit status is the script's.
# Where namespaces cannot be made (not root), the command runs with an X display and a session
# bus only, and the tests that need avahi skip with their reason.
set -euo pipefail

log() { echo "test-session: $*" >&2; }

if [ -z "${VANTREL_TEST_SESSION:-}" ]; then
  if [ "$(id -u)" -eq 0 ] && unshare --net --mount --pid --fork --mount-proc true 2>/dev/null; then
    exec env VANTREL_TEST_SESSION=namespaced \
      unshare --net --mount --pid --fork --mount-proc -- "$0" "$@"
  fi
  log "cannot create private namespaces; running without avahi and system D-Bus"
  export VANTREL_TEST_SESSION=plain
fi

session_dir=$(mktemp -d /tmp/vantrel-session.XXXXXX)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$session_dir"
}
trap cleanup EXIT

wait_for() {  # wait_for SECONDS COMMAND...: polls until the command succeeds
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

if [ "$VANTREL_TEST_SESSION" = namespaced ]; then
  mount --make-rprivate /
  mount -t tmpfs tmpfs /run
  mkdir -p /run/dbus
  ip link set lo up
  dbus-daemon --system --fork --nopidfile 2>/dev/null
  if avahi-daemon --no-drop-root --no-chroot --no-rlimits -D 2>"$session_dir/avahi.log" &&
     wait_for 10 avahi-daemon -c; then
    export VANTREL_TEST_AVAHI=1
  else
    log "avahi-daemon did not start: $(tail -n 3 "$session_dir/avahi.log")"
  fi
fi

export HOME="$session_dir/home" XDG_RUNTIME_DIR="$session_dir/run"
export XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache"
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"
mkdir -m 0700 -p "$XDG_RUNTIME_DIR"

# X display: never a fixed number; Xvfb tells which one it took.
: >"$session_dir/display"
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 3840x1080x24 3>"$session_dir/display" 2>"$session_dir/xvfb.log" &
pids+=($!)
if wait_for 10 test -s "$session_dir/display"; then
  export DISPLAY=":$(head -n 1 "$session_dir/display")"
  xrandr --setmonitor '*L' 1920/508x1080/286+0+0 screen >/dev/null
  xrandr --setmonitor R 1920/508x1080/286+1920+0 none >/dev/null
  openbox --sm-disable >"$session_dir/openbox.log" 2>&1 &
  pids+=($!)
  wait_for 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
    log "openbox did not take over the display"
else
  log "Xvfb did not start: $(tail -n 3 "$session_dir/xvfb.log")"
fi

# Session bus with the secret service, unlocked with a throw-away password.
eval "$(dbus-daemon --session --fork --print-address=1 --print-pid=1 | {
  read -r address; read -r pid; echo "export DBUS_SESSION_BUS_ADDRESS='$address'; session_bus_pid=$pid"; })"
pids+=("$session_bus_pid")
keyring_env=$(printf 'vantrel-test' | gnome-keyring-daemon --unlock --components=secrets 2>/dev/null || true)
while IFS='=' read -r name value; do
  case "$name" in
    GNOME_KEYRING_CONTROL) export GNOME_KEYRING_CONTROL="$value" ;;
    GNOME_KEYRING_PID) pids+=("$value") ;;
  esac
done <<<"$keyring_env"

set +e
"$@"
status=$?
set -e
exit $status
