#!/usr/bin/env bash
# The headless host streams to vantrel-probe over a shaped link and the bitrate has to follow it:
# two network namespaces joined by a veth pair, the host's side limited by a token bucket (tbf)
# to 4 Mbit/s, then 1 Mbit/s for 10 seconds, then 4 again; a small proxy on the phone's side
# holds every chunk for DELAY_MS in each direction (the kernel has no netem).
#
# Prints one row per second (link rate, frames, received kbit/s, latency p50/p95 from the host's
# time stamp to the probe's line, key frames, the host's target bitrate) and then the checks:
#   - the target bitrate goes down after the step down and up again after the step up;
#   - latency p95 stays under 300 ms once the step down has settled (from the moment the target
#     bitrate reached its lowest value of the slow period until the step up);
#   - after every gap in the stream the first frame is a key frame;
#   - every key frame arrives right after a configuration.
# Exit status 0 when every check holds. Needs root (ip netns, tc).
#
# Usage: bench/shaped-link.sh [BUILD_DIR] [DELAY_MS]      (defaults: build/default, 20)
# Build first: cmake --build --preset default --target brisholm vantrel-probe
set -euo pipefail

build=${1:-build/default}
delay_ms=${2:-20}
brisholm="$(realpath "$build/BrisholmMac/brisholm")"
probe="$(realpath "$build/tools/probe/vantrel-probe")"
for program in "$brisholm" "$probe"; do
  [ -x "$program" ] || { echo "shaped-link: $program is missing; build it first" >&2; exit 2; }
done

PYTHONPATH="$(dirname "$0")" exec python3 - "$brisholm" "$probe" "$delay_ms" <<'PYTHON'
import json, os, subprocess, sys, tempfile, time
from hostlink import drain, pairing_link

brisholm, probe, delay_ms = sys.argv[1], sys.argv[2], int(sys.argv[3])
suffix = str(os.getpid())
host_ns, phone_ns = "vshape-h" + suffix, "vshape-p" + suffix
host_ip, phone_ip = "10.77.0.1", "10.77.0.2"
fast, slow = "4mbit", "1mbit"
warmup, step_down, step_up, end = 0.0, 15.0, 25.0, 40.0  # seconds after the first frame

PROXY = r'''
import asyncio, sys, time
listen_port, target_host, target_port, delay = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), int(sys.argv[4]) / 1000
async def pump(reader, writer):
    queue = asyncio.Queue()
    async def deliver():
        while True:
            due, data = await queue.get()
            if data is None:
                writer.close(); return
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
    task = asyncio.create_task(deliver())
    while True:
        data = await reader.read(65536)
        await queue.put((time.monotonic() + delay, data or None))
        if not data:
            break
    await task
async def serve(client_reader, client_writer):
    host_reader, host_writer = await asyncio.open_connection(target_host, target_port)
    await asyncio.gather(pump(client_reader, host_writer), pump(host_reader, client_writer), return_exceptions=True)
async def main():
    server = await asyncio.start_server(serve, "127.0.0.1", listen_port)
    print("ready", flush=True)
    await server.serve_forever()
asyncio.run(main())
'''

def run(*command):
    subprocess.run(command, check=True)

def shape(rate):
    run("ip", "netns", "exec", host_ns, "tc", "qdisc", "replace", "dev", "va", "root", "tbf", "rate", rate,
        "burst", "32kbit", "latency", "400ms")

processes = []
try:
    run("ip", "netns", "add", host_ns)
    run("ip", "netns", "add", phone_ns)
    run("ip", "-n", host_ns, "link", "add", "va", "type", "veth", "peer", "name", "vb", "netns", phone_ns)
    run("ip", "-n", host_ns, "addr", "add", host_ip + "/24", "dev", "va")
    run("ip", "-n", phone_ns, "addr", "add", phone_ip + "/24", "dev", "vb")
    for ns, dev in ((host_ns, "va"), (phone_ns, "vb")):
        run("ip", "-n", ns, "link", "set", "lo", "up")
        run("ip", "-n", ns, "link", "set", dev, "up")
    shape(fast)

    host = subprocess.Popen(["ip", "netns", "exec", host_ns, brisholm, "--headless", "--port", "0", "--name", "shaped"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1)
    processes.append(host)
    link = pairing_link(host)
    if link is None:
        sys.exit("shaped-link: the host printed no pairing link")
    host_port = int(link.split("port=")[1].split("&")[0])
    bitrates = []  # (monotonic seconds, bits per second)
    def note_bitrate(line):
        if line.startswith("bitrate: "):
            bitrates.append((time.monotonic(), int(line.split()[1])))
    drain(host, note_bitrate)

    with tempfile.NamedTemporaryFile("w", suffix=".py", delete=False) as script:
        script.write(PROXY)
    proxy_port = 47999
    proxy = subprocess.Popen(["ip", "netns", "exec", phone_ns, "python3", script.name, str(proxy_port), host_ip,
                              str(host_port), str(delay_ms)], stdout=subprocess.PIPE, text=True)
    processes.append(proxy)
    proxy.stdout.readline()

    client = subprocess.Popen(["ip", "netns", "exec", phone_ns, probe, "--ack", "--no-decode", "--no-progress",
                               "--seconds", str(end + 2), "--host", "127.0.0.1", "--port", str(proxy_port), link],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1)
    processes.append(client)
    messages = []  # (arrival monotonic seconds, kind, body)
    start = None
    steps = [(step_down, slow), (step_up, fast)]
    for line in client.stdout:
        now = time.monotonic()
        message = json.loads(line)
        if "statistics" in message:
            continue
        kind = message.get("kind")
        if kind == "videoFrame" and start is None:
            start = now
        messages.append((now, kind, message.get("body", {}), message.get("size", 0)))
        if start is not None and steps and now - start >= steps[0][0]:
            shape(steps.pop(0)[1])
    client.wait()
finally:
    for process in processes:
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
    subprocess.run(["ip", "netns", "del", host_ns], stderr=subprocess.DEVNULL)
    subprocess.run(["ip", "netns", "del", phone_ns], stderr=subprocess.DEVNULL)

if start is None:
    sys.exit("shaped-link: no frames arrived")

def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100.0 * (len(values) - 1))))] if values else float("nan")

def rate_at(second):
    return slow if step_down <= second < step_up else fast

rows = []
for second in range(int(end)):
    frames = [(t, b, s) for (t, k, b, s) in messages if k == "videoFrame" and second <= t - start < second + 1]
    latencies = [t * 1000 - b["timestampMicros"] / 1000 for (t, b, s) in frames]
    target = [bps for (t, bps) in bitrates if t - start < second + 1]
    rows.append({
        "second": second, "link": rate_at(second), "frames": len(frames),
        "kbits": sum(s for (_, _, s) in frames) * 8 // 1000,
        "p50": percentile(latencies, 50), "p95": percentile(latencies, 95),
        "keyframes": sum(1 for (_, b, _) in frames if b.get("isKeyframe")),
        "target": target[-1] if target else None,
    })

print(f"link {fast}, {slow} from {step_down:.0f} s to {step_up:.0f} s, {delay_ms} ms delay each way")
print(f"{'s':>3} {'link':>6} {'frames':>6} {'kbit/s':>7} {'p50 ms':>7} {'p95 ms':>7} {'keys':>4} {'target':>9}")
for row in rows:
    print(f"{row['second']:>3} {row['link']:>6} {row['frames']:>6} {row['kbits']:>7} {row['p50']:>7.1f} "
          f"{row['p95']:>7.1f} {row['keyframes']:>4} {row['target'] or '-':>9}")

checks = []
def target_at(seconds):
    values = [bps for (t, bps) in bitrates if t - start <= seconds]
    return values[-1] if values else 8_000_000
before, low, after = target_at(step_down), min([bps for (t, bps) in bitrates if step_down <= t - start <= step_up] or [0]), target_at(end)
checks.append(("bitrate follows the step down", low and low < before, f"{before} -> {low}"))
checks.append(("bitrate climbs again after the step up", after > low, f"{low} -> {after}"))
# Settled: the congestion control has brought the target to its lowest value of the slow period.
lowest_at = min([t - start for (t, bps) in bitrates if step_down <= t - start <= step_up and bps == low] or [step_up])
settled = [t * 1000 - b["timestampMicros"] / 1000 for (t, k, b, _) in messages
           if k == "videoFrame" and lowest_at <= t - start < step_up]
p95 = percentile(settled, 95)
checks.append(("p95 latency under 300 ms once the step down settled", settled and p95 < 300,
               f"{p95:.1f} ms over {len(settled)} frames from {lowest_at:.1f} s"))
frames = [(t, b) for (t, k, b, _) in messages if k == "videoFrame"]
gaps = [i for i in range(1, len(frames)) if frames[i][1]["timestampMicros"] - frames[i - 1][1]["timestampMicros"] > 100_000]
resumed = all(frames[i][1].get("isKeyframe") for i in gaps)
checks.append(("the stream resumes at a key frame after every gap", resumed, f"{len(gaps)} gaps"))
kinds = [k for (_, k, _, _) in messages]
bodies = [b for (_, _, b, _) in messages]
unconfigured = sum(1 for i, (k, b) in enumerate(zip(kinds, bodies))
                   if k == "videoFrame" and b.get("isKeyframe") and (i == 0 or kinds[i - 1] != "videoConfig"))
checks.append(("every key frame comes right after its configuration", unconfigured == 0, f"{unconfigured} without"))
for name, passed, detail in checks:
    print(f"{'PASS' if passed else 'FAIL'}  {name} ({detail})")
sys.exit(0 if all(passed for _, passed, _ in checks) else 1)
PYTHON
