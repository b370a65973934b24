#!/usr/bin/env bash
# What the desktop host costs per delivered frame against the FFmpeg pipeline people use:
#   ffmpeg -f x11grab -framerate 60 -i :N -c:v libx264 -preset ultrafast -tune zerolatency -pix_fmt yuv420p -b:v 8M
# Ours is the real host, `brisholm --max-bitrate 8M` (so both encode 8 Mbit/s), streaming to
# `vantrel-probe --ack --no-decode` as the phone over TLS on loopback. Both watch the same Xvfb
# screen in the same run, at 1920x1080 and at 2560x1600, showing in turn:
#   motion  every pixel changes every frame: a photo-like picture panned along a curve, 60 times a
#           second (bench_capture_load motion)
#   scroll  an xterm filling the screen, scrolled by three lines of log text 60 times a second
#   bar     a 40-pixel bar moving over colour ramps, 60 times a second: a small part changes
#   idle    (ours only) the photo-like picture standing still, a phone connected
# For each pipeline, measured over the steady state after three seconds of warm-up: CPU-ms per
# delivered frame, counting the process's own CPU (all threads) and the X server's CPU beyond what
# drawing the content alone costs it (measured before and after, shown on its own too), frames per
# second and Mbit/s. The idle figure is the host's CPU plus the X server's beyond what it costs
# without the host, in percent of one core, read from the threads' run times (the clock ticks are
# too coarse for it).
#
# Runs inside scripts/test-session.sh (a private network namespace with an address for the
# pairing link, a session bus, a keyring); every Xvfb screen is its own. The machine is shared:
# run it when nothing else is busy (it prints the load average first) and expect some noise; CPU
# per frame suffers less from other load than the frame rate does.
# The two pipelines take turns ROUNDS times per content; the round with the median ratio is shown,
# with every round's ratio beside it.
# Usage: bench/capture-vs-ffmpeg.sh [SECONDS_PER_RUN] [BUILD_DIR] [ROUNDS]     (defaults: 10, build/default, 3)
# Build first: cmake --build build/default --target brisholm vantrel-probe bench_capture_load
# Needs ffmpeg and xterm (scripts/install-deps.sh).
# Last line (scroll ratio and idle: the worse of the two sizes):
#   fullmotion: ours A ms/frame, ffmpeg B ms/frame, ratio R at 2560x1600 (full motion); 1080p ratio R2; scroll ratio S; idle I% of a core
set -euo pipefail
seconds=${1:-10}
build=$(realpath "${2:-build/default}")
rounds=${3:-3}
top=$(cd "$(dirname "$0")/.." && pwd)
bench=capture-vs-ffmpeg
source "$top/bench/lib/session.sh"

bench_require_built "$build/BrisholmMac/brisholm" "$build/tools/probe/vantrel-probe" "$build/bench/bench_capture_load"
bench_require_installed ffmpeg xterm Xvfb
bench_enter_session "$0" "$seconds" "$build" "$rounds"
bench_private_address vtcap 192.168.251.1/24

exec python3 - "$build" "$seconds" "$top" "$rounds" <<'PYTHON'
import json, os, re, subprocess, sys, tempfile, time

sys.path.insert(0, os.path.join(sys.argv[3], "bench/lib"))
from hostbench import cpu_seconds, probe_frames, stop, thread_seconds as cpu_seconds_precise

build, seconds, rounds = sys.argv[1], float(sys.argv[2]), max(1, int(sys.argv[4]))
host_program = f"{build}/BrisholmMac/brisholm"
probe_program = f"{build}/tools/probe/vantrel-probe"
load = f"{build}/bench/bench_capture_load"
warmup = 3.0
work = tempfile.mkdtemp(prefix="capture-vs-ffmpeg.")

def start_xvfb(width, height):
    read_end, write_end = os.pipe()
    xserver = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-noreset", "-nolisten", "tcp",
                                "-screen", "0", f"{width}x{height}x24"],
                               pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        if not chunk:
            sys.exit("capture-vs-ffmpeg: Xvfb did not start")
        number += chunk
    os.close(read_end)
    os.environ["DISPLAY"] = ":" + number.decode().strip()
    return xserver

def start_host():
    output = os.path.join(work, "host.out")
    host = subprocess.Popen([host_program, "--print-link", "--max-bitrate", "8M"], stdout=open(output, "w"),
                            stderr=open(os.path.join(work, "host.err"), "w"))
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        found = re.search(r"^pairing: (\S+)", open(output).read(), re.M)
        if found:
            return host, found.group(1)
        if host.poll() is not None:
            break
        time.sleep(0.1)
    stop(host)
    sys.exit("capture-vs-ffmpeg: the host printed no pairing link: " + open(os.path.join(work, "host.err")).read()[-400:])

def start_content(kind, width, height):
    length = str(int(seconds * 4 + 30))
    if kind == "scroll":
        # DejaVu Sans Mono 10 is 8x17 pixels at Xvfb's 96 dpi: the terminal fills the screen.
        return subprocess.Popen(["xterm", "-geometry", f"{width // 8}x{height // 17}+0+0", "-fa", "DejaVu Sans Mono",
                                 "-fs", "10", "+sb", "-bg", "white", "-fg", "black", "-e", load, "text", length],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return subprocess.Popen([load, {"motion": "motion", "bar": "bar", "idle": "still"}[kind], length])

def ffmpeg_frames(path):
    text = open(path).read() if os.path.exists(path) else ""
    frames = re.findall(r"frame=(\d+)", text)
    sizes = re.findall(r"total_size=(\d+)", text)
    return (int(frames[-1]) if frames else 0), (int(sizes[-1]) if sizes else 0)

def window(measured, xserver, count, cpu=cpu_seconds):
    """CPU seconds of `measured` (a pid), of the X server, and what count() says, over `seconds`
    after the warm-up."""
    time.sleep(warmup)
    start = (cpu(measured), cpu(xserver.pid), count(), time.monotonic())
    time.sleep(seconds)
    end = (cpu(measured), cpu(xserver.pid), count(), time.monotonic())
    return (end[0] - start[0], end[1] - start[1], end[2][0] - start[2][0], end[2][1] - start[2][1],
            end[3] - start[3])

def per_frame(result, drawing):
    cpu, x_cpu, frames, size, wall = result
    grabbing = max(0.0, x_cpu - drawing * wall)  # the X server's CPU beyond the drawing's
    frames = max(frames, 1)
    return {"ms": (cpu + grabbing) * 1000 / frames, "x": grabbing * 1000 / frames, "fps": frames / wall,
            "mbits": size * 8 / wall / 1e6}

def measure_size(width, height):
    xserver = start_xvfb(width, height)
    host, link = start_host()
    rows = {}
    try:
        for kind in ("motion", "scroll", "bar", "idle"):
            content = start_content(kind, width, height)
            time.sleep(2.0)  # the content is up
            cpu = cpu_seconds_precise if kind == "idle" else cpu_seconds

            def drawing_cost():
                """The X server's share of a core for the content alone, nobody grabbing."""
                x_before, wall_before = cpu(xserver.pid), time.monotonic()
                time.sleep(min(seconds, 5.0))
                return (cpu(xserver.pid) - x_before) / (time.monotonic() - wall_before)

            drawing = drawing_cost()

            def ours_window():
                probe_out = os.path.join(work, f"probe-{kind}")
                probe = subprocess.Popen([probe_program, "--ack", "--no-decode", "--host", "127.0.0.1", link],
                                         stdout=open(probe_out, "w"), stderr=subprocess.DEVNULL)
                result = window(host.pid, xserver, lambda: probe_frames(probe_out), cpu)
                stop(probe)
                return result

            if kind == "idle":
                cpu, x_cpu, _, _, wall = ours_window()
                rows[kind] = {"idle": (cpu + max(0.0, x_cpu - drawing * wall)) / wall * 100}
                stop(content)
                continue

            def theirs_window():
                progress = os.path.join(work, f"ffmpeg-{kind}.progress")
                ffmpeg = subprocess.Popen(
                    ["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-progress", progress,
                     "-stats_period", "0.25", "-f", "x11grab", "-framerate", "60", "-video_size", f"{width}x{height}",
                     "-i", os.environ["DISPLAY"], "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency",
                     "-pix_fmt", "yuv420p", "-b:v", "8M", "-fps_mode", "passthrough", "-f", "h264", "-y", "/dev/null"],
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                result = window(ffmpeg.pid, xserver, lambda: ffmpeg_frames(progress))
                stop(ffmpeg)
                return result

            # The pipelines take turns, round after round: a machine that slows down for a while
            # then weighs on both, and the round with the median ratio is the one reported.
            results = [(ours_window(), theirs_window()) for _ in range(rounds)]
            # The drawing's cost drifts: taken before and after both pipelines, and averaged.
            drawing = (drawing + drawing_cost()) / 2
            stop(content)
            measured = sorted(((per_frame(o, drawing), per_frame(t, drawing)) for o, t in results),
                              key=lambda pair: pair[0]["ms"] / pair[1]["ms"])
            ours, theirs = measured[len(measured) // 2]
            ratios = [o["ms"] / t["ms"] for o, t in measured]
            rows[kind] = {"ours": ours, "ffmpeg": theirs, "ratio": ours["ms"] / theirs["ms"], "drawing": drawing}
            print(f"{width}x{height} {kind:6}  ours {ours['ms']:6.2f} ms/frame (X {ours['x']:4.2f}) "
                  f"{ours['fps']:5.1f} fps {ours['mbits']:5.2f} Mbit/s | ffmpeg {theirs['ms']:6.2f} ms/frame "
                  f"(X {theirs['x']:4.2f}) {theirs['fps']:5.1f} fps {theirs['mbits']:5.2f} Mbit/s | "
                  f"ratio {rows[kind]['ratio']:.2f} (rounds {' '.join(f'{r:.2f}' for r in ratios)}) | "
                  f"drawing {drawing * 100:4.1f}% of a core", flush=True)
        print(f"{width}x{height} idle    ours {rows['idle']['idle']:.2f}% of a core, X server included", flush=True)
        return rows
    finally:
        stop(host)
        xserver.terminate()
        xserver.wait()

print(f"capture-vs-ffmpeg: load average {' '.join(open('/proc/loadavg').read().split()[:3])}, "
      f"{seconds:g} s per run, {rounds} rounds", flush=True)
try:
    small = measure_size(1920, 1080)
    large = measure_size(2560, 1600)
finally:
    subprocess.run(["rm", "-rf", work])
motion = large["motion"]
print(f"fullmotion: ours {motion['ours']['ms']:.2f} ms/frame, ffmpeg {motion['ffmpeg']['ms']:.2f} ms/frame, "
      f"ratio {motion['ratio']:.2f} at 2560x1600 (full motion); 1080p ratio {small['motion']['ratio']:.2f}; "
      f"scroll ratio {max(small['scroll']['ratio'], large['scroll']['ratio']):.2f}; "
      f"idle {max(small['idle']['idle'], large['idle']['idle']):.2f}% of a core")
PYTHON
