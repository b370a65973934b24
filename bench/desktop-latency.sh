#!/usr/bin/env bash
# Latency of the desktop host on this machine, stage by stage: starts a private test session
# (Xvfb with two 1920x1080 monitors, openbox, keyring), gives its network namespace a private
# address for the pairing link, runs brisholm with the per-frame stamps in its diagnostic log, and
# by default puts full-screen motion on the primary monitor (bench_capture_load motion: every
# pixel changes every frame); "still" leaves the desktop still instead. Then:
#   1. vantrel-probe as the phone (acknowledging and decoding every frame) for SECONDS: each frame's
#      host stamps (grab, converted, encoded, handed to the socket) joined with the probe's receipt
#      and decoding, all on this machine's monotonic clock; p50 and p95 of every stage;
#   2. bench_desktop_latency as the phone: input (phone move to X pointer) and screen (a marker
#      repainted to the phone's decoded picture showing it), p50 and p95 over SAMPLES each.
# Usage: bench/desktop-latency.sh [SAMPLES] [BUILD_DIR] [motion|still]   (defaults: 60, build/default, motion)
# Build first: cmake --build build/default --target brisholm vantrel-probe bench_desktop_latency bench_capture_load
set -euo pipefail
samples=${1:-60}
build=$(realpath "${2:-build/default}")
content=${3:-motion}
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=10

if [ -z "${VANTREL_TEST_SESSION:-}" ]; then
  exec "$top/scripts/test-session.sh" "$0" "$samples" "$build" "$content"
fi
ip link add vtlat type veth peer name vtlatp && ip addr add 192.168.250.1/24 dev vtlat &&
  ip link set vtlat up && ip link set vtlatp up
work=$(mktemp -d)
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done; rm -rf "$work"' EXIT
"$build/BrisholmMac/brisholm" --print-link --verbose >"$work/host.out" 2>"$work/host.err" &
pids+=($!)
for _ in $(seq 100); do grep -q '^pairing: ' "$work/host.out" && break; sleep 0.1; done
link=$(grep -m1 '^pairing: ' "$work/host.out" | cut -d' ' -f2)
[ -n "$link" ] || { echo "desktop-latency: the host printed no pairing link" >&2; exit 1; }
if [ "$content" = motion ]; then
  "$build/bench/bench_capture_load" motion 600 1920x1080 &
  pids+=($!)
  sleep 2
fi
echo "desktop-latency: $content on the primary monitor (1920x1080), load average $(cut -d' ' -f1-3 /proc/loadavg)"

"$build/tools/probe/vantrel-probe" --ack --quiet --frame-times "$work/frames" --seconds "$seconds" "$link" \
  >/dev/null 2>"$work/probe.err" || { cat "$work/probe.err" >&2; exit 1; }
python3 - "$work/host.err" "$work/frames" <<'PYTHON'
import re, sys
host = {}
for line in open(sys.argv[1]):
    found = re.search(r"frame (\d+): converted (\d+) encoded (\d+) sent (\d+)", line)
    if found:
        grabbed, converted, encoded, sent = map(int, found.groups())
        host[grabbed] = (converted, encoded, sent)
stages = {name: [] for name in ("convert", "encode", "send", "network", "decode", "grab to decoded")}
frames = [line.split() for line in open(sys.argv[2])]
skip = len(frames) // 10  # the first second or so: the stream starts, the rate settles
for grabbed, received, decoded in frames[skip:]:
    grabbed, received = int(grabbed), int(received)
    if grabbed not in host or decoded == "-":
        continue
    converted, encoded, sent = host[grabbed]
    decoded = int(decoded)
    for name, begin, end in (("convert", grabbed, converted), ("encode", converted, encoded), ("send", encoded, sent),
                             ("network", sent, received), ("decode", received, decoded),
                             ("grab to decoded", grabbed, decoded)):
        stages[name].append((end - begin) / 1000)

def rank(values, percent):
    values = sorted(values)
    return values[max(1, (len(values) * percent + 99) // 100) - 1]

count = len(stages["convert"])
print(f"stages over {count} frames of {len(frames)} (probe acknowledging and decoding):")
print(f"  {'stage':34} {'p50 ms':>7} {'p95 ms':>7}")
names = {"convert": "grab to converted (libyuv)", "encode": "converted to encoded (x264)",
         "send": "encoded to handed to the socket", "network": "socket to received (TLS, loopback)",
         "decode": "received to decoded (probe)", "grab to decoded": "grab to decoded"}
for name, values in stages.items():
    if values:
        print(f"  {names[name]:34} {rank(values, 50):7.2f} {rank(values, 95):7.2f}")
if count == 0:
    sys.exit("desktop-latency: no frame could be matched with the host's stamps")
PYTHON
grep -E "frame rate|bitrate" "$work/probe.err" | sed 's/^/  probe /'
"$build/bench/bench_desktop_latency" "$link" "$samples"
