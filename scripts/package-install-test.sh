#!/usr/bin/env bash
# Installs the packages scripts/package-build.sh made, the way a user does (apt, with their
# dependencies), checks that the installed programs work from /usr/bin, then removes them and
# checks that none of their files is left. It changes the machine: root only, and not while
# either package is installed already.
# Usage: scripts/package-install-test.sh PACKAGE_DIR
# Exit status 77 (skipped) when not root.
set -euo pipefail
packages=$(realpath "$1")

fail() { echo "package-install-test: $*" >&2; exit 1; }

if [ "$(id -u)" -ne 0 ]; then
  echo "package-install-test: needs root to install packages; skipped" >&2
  exit 77
fi
for name in vantrel vantrel-probe; do
  if [ "$(dpkg-query -W -f='${db:Status-Status}' "$name" 2>/dev/null)" = installed ]; then
    fail "$name is installed on this machine already; this test installs and removes it, so remove it first (dpkg -r $name)"
  fi
done

shopt -s nullglob
host_deb=("$packages"/vantrel_*.deb)
probe_deb=("$packages"/vantrel-probe_*.deb)
[ ${#host_deb[@]} -eq 1 ] && [ ${#probe_deb[@]} -eq 1 ] || fail "no packages in $packages"

work=$(mktemp -d /tmp/vantrel-package.XXXXXX)
host_pid=
cleanup() {
  if [ -n "$host_pid" ]; then kill "$host_pid" 2>/dev/null || true; wait "$host_pid" 2>/dev/null || true; fi
  # Whatever happened, the machine is left without the packages.
  dpkg -r vantrel vantrel-probe >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends "${host_deb[0]}" "${probe_deb[0]}" \
  >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get install failed"; }
dpkg-query -L vantrel vantrel-probe | sort -u >"$work/files"
# Starting at log-in is each user's choice: nothing in the packages starts the host for everyone.
if grep -E '^/etc/xdg/autostart/|^/usr/share/gnome/autostart/' "$work/files" >&2; then
  fail "the packages start the host at every user's log-in"
fi

# The programs from where the package put them.
[ "$(command -v brisholm)" = /usr/bin/brisholm ] || fail "brisholm is not found as /usr/bin/brisholm"
version=$(/usr/bin/brisholm --version)
[ "$version" = "brisholm $(dpkg-query -W -f='${Version}' vantrel)" ] || fail "brisholm --version says '$version'"
help=$(/usr/bin/vantrel-probe --help) && [[ $help == "Usage: vantrel-probe"* ]] || fail "vantrel-probe --help shows no usage"
man -w brisholm >/dev/null && man -w vantrel-probe >/dev/null || fail "a manual page is missing"

# The headless host from the installed binary greets the installed probe.
coproc HOST { exec /usr/bin/brisholm --headless --name Paket 2>"$work/host.err"; }
host_pid=$HOST_PID
link=
while IFS= read -r -t 30 line <&"${HOST[0]}"; do
  case $line in pairing:*) link=${line#pairing: }; break ;; esac
done
[ -n "$link" ] || { cat "$work/host.err" >&2; fail "the installed host printed no pairing link"; }
timeout 60 /usr/bin/vantrel-probe --seconds 0.5 --no-decode --no-progress --name Paketprobe "$link" \
  >"$work/probe.out" 2>"$work/probe.err" || { cat "$work/probe.err" >&2; fail "the probe did not end cleanly"; }
grep '"kind":"welcome"' "$work/probe.out" | grep '"hostName":"Paket"' >/dev/null || { cat "$work/probe.out" >&2; fail "no welcome from the host"; }
greeted=
while IFS= read -r -t 30 line <&"${HOST[0]}"; do
  [ "$line" = "client: Paketprobe" ] && { greeted=1; break; }
done
[ -n "$greeted" ] || fail "the host never logged the probe"
kill -TERM "$host_pid"
wait "$host_pid" || fail "the host did not stop cleanly on SIGTERM"
host_pid=

# Starting at log-in from the terminal names the installed program.
XDG_CONFIG_HOME="$work/config" /usr/bin/brisholm --autostart on >/dev/null
grep -qx 'Exec=/usr/bin/brisholm' "$work/config/autostart/brisholm.desktop" || fail "the autostart entry does not start /usr/bin/brisholm"

# Removal leaves no file of the packages, and no configuration files to purge.
dpkg -r vantrel vantrel-probe >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "dpkg -r failed"; }
for name in vantrel vantrel-probe; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$name" 2>/dev/null || echo not-installed)
  [ "$status" = not-installed ] || fail "$name is '$status' after removal (files left for a purge)"
done
left=0
while IFS= read -r path; do
  if [ -d "$path" ] && [ ! -L "$path" ]; then
    # A directory may stay only where another package still uses it.
    if dpkg-query -S "$path" >/dev/null 2>&1 || [ -n "$(ls -A "$path")" ]; then continue; fi
    echo "left behind: $path/" >&2; left=1
  elif [ -e "$path" ] || [ -L "$path" ]; then
    echo "left behind: $path" >&2; left=1
  fi
done <"$work/files"
[ "$left" -eq 0 ] || fail "files of the packages remain after dpkg -r"
echo "package-install-test: installed, ran and removed $(wc -l <"$work/files") paths cleanly"
