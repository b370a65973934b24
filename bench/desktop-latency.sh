#!/usr/bin/env bash
# Phone-to-screen latency of the desktop host on this machine: starts a private test session
# (Xvfb with two monitors, openbox, keyring), gives its network namespace a private address for
# the pairing link, runs brisholm, and measures with bench_desktop_latency (input: phone move to X
# pointer; screen: repaint to the phone's decoded picture; p50/p99 over SAMPLES each).
# Usage: bench/desktop-latency.sh [SAMPLES] [BUILD_DIR]    (defaults: 60, build/default)
# Build first: cmake --build build/default --target brisholm bench_desktop_latency
set -euo pipefail
samples=${1:-60}
build=$(realpath "${2:-build/default}")
top=$(cd "$(dirname "$0")/.." && pwd)

if [ -z "${VANTREL_TEST_SESSION:-}" ]; then
  exec "$top/scripts/test-session.sh" "$0" "$samples" "$build"
fi
ip link add vtlat type veth peer name vtlatp && ip addr add 192.168.250.1/24 dev vtlat &&
  ip link set vtlat up && ip link set vtlatp up
output=$(mktemp)
"$build/BrisholmMac/brisholm" --print-link >"$output" 2>/dev/null &
host=$!
trap 'kill $host 2>/dev/null; wait $host 2>/dev/null; rm -f "$output"' EXIT
for _ in $(seq 100); do grep -q '^pairing: ' "$output" && break; sleep 0.1; done
link=$(grep -m1 '^pairing: ' "$output" | cut -d' ' -f2)
[ -n "$link" ] || { echo "desktop-latency: the host printed no pairing link" >&2; exit 1; }
"$build/bench/bench_desktop_latency" "$link" "$samples"
