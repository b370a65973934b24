#!/usr/bin/env bash
# Measures the host's capture pipeline (MIT-SHM grab of changed frames, cursor, libyuv, libx264
# ultrafast at 8 Mbit/s) against the FFmpeg pipeline people use on this machine
#   ffmpeg -f x11grab -framerate 60 -i :N -c:v libx264 -preset ultrafast -tune zerolatency -pix_fmt yuv420p -b:v 8M
# on the same Xvfb screen in the same run, at 1920x1080 and 2560x1600, while bench_capture_load
# moves a bar over colour ramps 60 times a second. For each pipeline and size, measured over the
# steady state after two seconds of warm-up: CPU-ms per frame, counting the process's own CPU
# (all threads) and the X server's CPU beyond what the drawing alone costs it (shown on its own
# too), and the frames per second achieved. Then our CPU with a still screen, X server included.
#
# The machine is shared: run it when nothing else is busy, and expect some noise.
# Usage: bench/capture-vs-ffmpeg.sh [SECONDS_PER_RUN] [BUILD_DIR]     (defaults: 10, build/default)
# Build first: cmake --build build/default --target bench_capture_load
# Last line: capture: ours A ms/frame, ffmpeg B ms/frame, ratio R, fps F at 2560x1600, idle I% of a core
set -euo pipefail

seconds=${1:-10}
build=${2:-build/default}
load="$build/bench/bench_capture_load"
[ -x "$load" ] || { echo "capture-vs-ffmpeg: $load is missing; build it first" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "capture-vs-ffmpeg: ffmpeg is missing (scripts/install-deps.sh)" >&2; exit 2; }

exec python3 - "$load" "$seconds" <<'PYTHON'
import os, re, subprocess, sys, tempfile, time

load, seconds = sys.argv[1], float(sys.argv[2])
tick = os.sysconf("SC_CLK_TCK")

def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick  # utime + stime

def last_frames(path, pattern):
    found = re.findall(pattern, open(path).read())
    return int(found[-1]) if found else 0

def steady_state(argv, xserver, frames_file, pattern, output=os.devnull, warmup=2.0):
    """Runs argv for warmup + seconds and measures the last `seconds` of it: the process's CPU
    (all threads), the X server's CPU and the frames counted in frames_file."""
    child = subprocess.Popen(argv, stdout=open(output, "w"), stderr=subprocess.PIPE)
    time.sleep(warmup)
    start = (cpu_seconds(child.pid), cpu_seconds(xserver.pid), last_frames(frames_file, pattern), time.monotonic())
    time.sleep(seconds)
    end = (cpu_seconds(child.pid), cpu_seconds(xserver.pid), last_frames(frames_file, pattern), time.monotonic())
    child.terminate()
    _, err = child.communicate()
    if child.returncode not in (0, -15, 255):
        sys.exit(f"capture-vs-ffmpeg: {argv[0]} failed: {err.decode().strip()[-400:]}")
    wall = end[3] - start[3]
    return end[0] - start[0], end[1] - start[1], end[2] - start[2], wall

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

def measure(width, height, idle):
    xserver = start_xvfb(width, height)
    work = tempfile.mkdtemp(prefix="capture-vs-ffmpeg.")
    try:
        drawer = subprocess.Popen([load, "draw", str(int(seconds * 3 + 20))])
        time.sleep(1.5)  # the ramps are up and the bar moves
        x_before, wall_before = cpu_seconds(xserver.pid), time.monotonic()
        time.sleep(seconds)
        drawing = (cpu_seconds(xserver.pid) - x_before) / (time.monotonic() - wall_before)

        def per_frame(cpu, x_cpu, frames, wall):
            # The X server's CPU beyond what the drawing costs it is the grabbing.
            grabbing = max(0.0, x_cpu - drawing * wall)
            frames = max(frames, 1)
            return (cpu + grabbing) * 1000 / frames, frames / wall, grabbing * 1000 / frames

        ours_file = os.path.join(work, "ours")
        ours = per_frame(*steady_state([load, "stream", str(int(seconds + 4))], xserver, ours_file,
                                       r"frames (\d+)", output=ours_file))
        progress = os.path.join(work, "ffmpeg.progress")
        theirs = per_frame(*steady_state(
            ["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-progress", progress, "-stats_period", "0.25",
             "-f", "x11grab", "-framerate", "60", "-video_size", f"{width}x{height}", "-i", os.environ["DISPLAY"],
             "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-pix_fmt", "yuv420p", "-b:v", "8M",
             "-f", "null", "-"], xserver, progress, r"frame=(\d+)"))
        drawer.terminate()
        drawer.wait()

        still = None
        if idle:
            time.sleep(1)
            still_file = os.path.join(work, "still")
            cpu, x_cpu, _, wall = steady_state([load, "stream", str(int(seconds + 4))], xserver, still_file,
                                               r"frames (\d+)", output=still_file)
            still = (cpu + x_cpu) / wall * 100
        print(f"{width}x{height}: ours {ours[0]:.2f} CPU-ms/frame (X server {ours[2]:.2f}) at {ours[1]:.1f} fps, "
              f"ffmpeg {theirs[0]:.2f} CPU-ms/frame (X server {theirs[2]:.2f}) at {theirs[1]:.1f} fps; "
              f"the drawing alone costs the X server {drawing * 100:.1f}% of a core", flush=True)
        return ours, theirs, still
    finally:
        xserver.terminate()
        xserver.wait()
        subprocess.run(["rm", "-rf", work])

measure(1920, 1080, idle=False)
ours, theirs, still = measure(2560, 1600, idle=True)
print(f"still screen: ours {still:.2f}% of a core, X server included")
print(f"capture: ours {ours[0]:.2f} ms/frame, ffmpeg {theirs[0]:.2f} ms/frame, ratio {ours[0] / theirs[0]:.2f}, "
      f"fps {ours[1]:.1f} at 2560x1600, idle {still:.2f}% of a core")
PYTHON
