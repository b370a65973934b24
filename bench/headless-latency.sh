#!/usr/bin/env bash
# Runs the headless host and vantrel-probe against each other on loopback and reports what a
# phone on a perfect network would see:
#   - frame latency from the host's time stamp (taken when the picture goes to the encoder) to
#     the moment the probe's line for that frame arrives here, p50 and p99 (both sides read the
#     same monotonic clock, so the difference is real time);
#   - the host's CPU time per second of wall time, as a share of one core, over the streaming part;
#   - the host's resident memory once streaming has started and at the end.
# The probe acknowledges frames as a phone does and does not decode (its decoder would compete
# with the host for the machine's cores and distort the host's figures).
#
# Usage: bench/headless-latency.sh [SECONDS] [BUILD_DIR]     (defaults: 60, build/default)
# Build first: cmake --build --preset default --target brisholm vantrel-probe
set -euo pipefail

seconds=${1:-60}
build=${2:-build/default}
brisholm="$build/BrisholmMac/brisholm"
probe="$build/tools/probe/vantrel-probe"
for program in "$brisholm" "$probe"; do
  [ -x "$program" ] || { echo "headless-latency: $program is missing; build it first" >&2; exit 2; }
done

PYTHONPATH="$(dirname "$0")" exec python3 - "$brisholm" "$probe" "$seconds" <<'PYTHON'
import json, os, signal, subprocess, sys, time
from hostlink import drain, pairing_link

brisholm, probe, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
ticks_per_second = os.sysconf("SC_CLK_TCK")
page_kib = os.sysconf("SC_PAGE_SIZE") // 1024

def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / ticks_per_second  # utime + stime

def rss_kib(pid):
    with open(f"/proc/{pid}/statm") as f:
        return int(f.read().split()[1]) * page_kib

host = subprocess.Popen([brisholm, "--headless", "--port", "0", "--name", "bench"],
                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
try:
    link = pairing_link(host)
    if link is None:
        sys.exit("headless-latency: the host printed no pairing link")
    drain(host)

    client = subprocess.Popen([probe, "--ack", "--no-decode", "--no-progress", "--seconds", str(seconds), link],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1)
    latencies = []
    statistics = None
    start = None
    for line in client.stdout:
        received = time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000
        message = json.loads(line)
        if "statistics" in message:
            statistics = message["statistics"]
            continue
        if message.get("kind") != "videoFrame":
            continue
        if start is None:
            # Streaming has begun: the measurement window opens here.
            start = (time.monotonic(), cpu_seconds(host.pid), rss_kib(host.pid))
        latencies.append((received - message["body"]["timestampMicros"]) / 1000.0)
    end = (time.monotonic(), cpu_seconds(host.pid), rss_kib(host.pid))
    client.wait()
finally:
    host.send_signal(signal.SIGTERM)
    host.wait(timeout=10)

if not latencies or start is None:
    sys.exit("headless-latency: no frames arrived")
latencies.sort()
def percentile(p):
    return latencies[min(len(latencies) - 1, int(round(p / 100.0 * (len(latencies) - 1))))]
wall = end[0] - start[0]
result = {
    "seconds": round(wall, 1),
    "frames": len(latencies),
    "framesPerSecond": round(len(latencies) / wall, 1) if wall > 0 else None,
    "latencyP50Millis": round(percentile(50), 2),
    "latencyP99Millis": round(percentile(99), 2),
    "latencyMaxMillis": round(latencies[-1], 2),
    "hostCpuPercentOfOneCore": round(100.0 * (end[1] - start[1]) / wall, 1) if wall > 0 else None,
    "hostRssStartMiB": round(start[2] / 1024, 1),
    "hostRssEndMiB": round(end[2] / 1024, 1),
    "hostExitStatus": host.returncode,
    "probeStatistics": statistics,
}
print(f"frames {result['frames']} in {result['seconds']} s ({result['framesPerSecond']} fps)")
print(f"latency p50 {result['latencyP50Millis']} ms, p99 {result['latencyP99Millis']} ms, max {result['latencyMaxMillis']} ms")
print(f"host CPU {result['hostCpuPercentOfOneCore']} % of one core")
print(f"host RSS {result['hostRssStartMiB']} MiB at start, {result['hostRssEndMiB']} MiB at end")
print(json.dumps(result))
PYTHON
