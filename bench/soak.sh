#!/usr/bin/env bash
# A long run of the headless host with vantrel-probe on loopback, to show that nothing grows:
# the probe streams in back-to-back sessions of SESSION seconds (acknowledging frames and pinging
# as a phone does), so every session's connection, handshake and teardown is repeated; a few
# connections that never start TLS come and go beside it. Every 30 seconds the host's resident
# memory and open descriptors are sampled.
#
# Prints the samples, then start and end figures and the checks: resident memory at the end
# within 10 % (or 8 MiB) of the first sample after warm-up, and no more descriptors than then.
#
# Usage: bench/soak.sh [SECONDS] [BUILD_DIR] [SESSION]     (defaults: 600, build/default, 60)
# Build first: cmake --build --preset default --target brisholm vantrel-probe
set -euo pipefail

seconds=${1:-600}
build=${2:-build/default}
session=${3:-60}
brisholm="$build/BrisholmMac/brisholm"
probe="$build/tools/probe/vantrel-probe"
for program in "$brisholm" "$probe"; do
  [ -x "$program" ] || { echo "soak: $program is missing; build it first" >&2; exit 2; }
done

PYTHONPATH="$(dirname "$0")" exec python3 - "$brisholm" "$probe" "$seconds" "$session" <<'PYTHON'
import os, signal, socket, subprocess, sys, threading, time
from hostlink import drain, pairing_link

brisholm, probe, seconds, session = sys.argv[1], sys.argv[2], float(sys.argv[3]), float(sys.argv[4])
page_kib = os.sysconf("SC_PAGE_SIZE") // 1024

def rss_kib(pid):
    with open(f"/proc/{pid}/statm") as f:
        return int(f.read().split()[1]) * page_kib

def descriptors(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))

host = subprocess.Popen([brisholm, "--headless", "--port", "0", "--name", "soak"],
                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
samples = []
sessions = 0
failed_sessions = 0
try:
    link = pairing_link(host)
    if link is None:
        sys.exit("soak: the host printed no pairing link")
    port = int(link.split("port=")[1].split("&")[0])
    drain(host)

    start = time.monotonic()
    stop = threading.Event()
    def strays():
        # Connections that never start TLS: each ends at the host's greeting deadline.
        while not stop.is_set():
            held = [socket.create_connection(("127.0.0.1", port)) for _ in range(5)]
            stop.wait(12)
            for connection in held:
                connection.close()
    threading.Thread(target=strays, daemon=True).start()

    def sample():
        samples.append((time.monotonic() - start, rss_kib(host.pid), descriptors(host.pid)))
    next_sample = start
    while time.monotonic() - start < seconds:
        left = seconds - (time.monotonic() - start)
        client = subprocess.Popen([probe, "--ack", "--no-decode", "--no-progress", "--ping-every", "200",
                                   "--seconds", str(min(session, max(left, 1))), link],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        while client.poll() is None:
            if time.monotonic() >= next_sample:
                sample()
                next_sample += 30
            time.sleep(0.5)
        sessions += 1
        failed_sessions += client.returncode != 0
    stop.set()
    time.sleep(11)  # the last strays reach their deadline
    sample()
finally:
    host.send_signal(signal.SIGTERM)
    host.wait(timeout=10)

print(f"{'s':>6} {'RSS MiB':>8} {'fds':>4}")
for at, rss, fds in samples:
    print(f"{at:>6.0f} {rss / 1024:>8.1f} {fds:>4}")
baseline = next((s for s in samples if s[0] >= 60), samples[0])
last = samples[-1]
print(f"sessions {sessions} ({failed_sessions} failed), host exit status {host.returncode}")
print(f"RSS {baseline[1] / 1024:.1f} MiB at {baseline[0]:.0f} s, {last[1] / 1024:.1f} MiB at the end; "
      f"descriptors {baseline[2]} then {last[2]}")
checks = [
    ("resident memory flat", last[1] <= max(baseline[1] * 1.10, baseline[1] + 8 * 1024)),
    ("no descriptor growth", last[2] <= baseline[2]),
    ("every session ended as asked", failed_sessions == 0),
]
for name, passed in checks:
    print(f"{'PASS' if passed else 'FAIL'}  {name}")
sys.exit(0 if all(passed for _, passed in checks) else 1)
PYTHON
