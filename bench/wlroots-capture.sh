#!/usr/bin/env bash
# What capture costs the desktop host on a wlroots compositor: a headless sway (pixman renderer)
# with one 1920x1080 output, the real host (`brisholm --max-bitrate 8M`) streaming it to
# `vantrel-probe --ack --no-decode` as the phone over TLS on loopback. Two screens in turn:
#   full  a foot terminal filling the output, scrolled by three lines of log text 60 times a
#         second (bench_capture_load text): the whole output is damaged every frame
#   idle  the same terminal standing still, a phone connected
# For full, over the steady state after three seconds of warm-up: CPU-ms per delivered frame of
# the host's capture thread (vantrel.capture: copy requests, damage, lending the copy), of the
# whole host (encoding included), and of sway beyond what drawing the content alone costs it (the
# copies it makes for us, measured before and after and averaged), with frames per second. For
# idle: the host's and sway's CPU beyond sway's own, in percent of one core, read from the threads'
# run times (the clock ticks are too coarse for it).
#
# Runs inside scripts/test-session.sh (a private network namespace with an address for the
# pairing link, a session bus, a keyring). sway refuses root: as root it runs as nobody. The
# machine is shared: run it when nothing else is busy (it prints the load average first).
# Usage: bench/wlroots-capture.sh [SECONDS_PER_RUN] [BUILD_DIR]     (defaults: 10, build/default)
# Build first: cmake --build build/default --target brisholm vantrel-probe bench_capture_load
# Last line:
#   wlroots capture: full A ms/frame on the capture thread, H ms/frame host, S ms/frame sway, F fps; idle I% of a core
set -euo pipefail
seconds=${1:-10}
build=$(realpath "${2:-build/default}")
top=$(cd "$(dirname "$0")/.." && pwd)
bench=wlroots-capture
source "$top/bench/lib/session.sh"

bench_require_built "$build/BrisholmMac/brisholm" "$build/tools/probe/vantrel-probe" "$build/bench/bench_capture_load"
bench_require_installed sway swaymsg foot
bench_enter_session "$0" "$seconds" "$build"
bench_private_address vtwlr 192.168.252.1/24

exec python3 - "$build" "$seconds" "$top" <<'PYTHON'
import glob, json, os, re, shutil, subprocess, sys, tempfile, time

sys.path.insert(0, os.path.join(sys.argv[3], "bench/lib"))
from hostbench import probe_frames, stop, thread_seconds

build, seconds = sys.argv[1], float(sys.argv[2])
host_program = f"{build}/BrisholmMac/brisholm"
probe_program = f"{build}/tools/probe/vantrel-probe"
load = f"{build}/bench/bench_capture_load"
warmup = 3.0
work = tempfile.mkdtemp(prefix="wlroots-capture.")
os.chmod(work, 0o777)
root = os.geteuid() == 0

def start_sway():
    run = os.path.join(work, "run")
    os.mkdir(run, 0o700)
    if root:
        os.chown(run, 65534, 65534)
    config = os.path.join(work, "config")
    with open(config, "w") as out:
        out.write("xwayland disable\nfocus_follows_mouse no\ndefault_border none\n"
                  "output HEADLESS-1 resolution 1920x1080 position 0,0 bg #336699 solid_color\n"
                  'for_window [app_id="^load$"] fullscreen enable\n')
    os.chmod(config, 0o644)
    environment = {"HOME": work, "PATH": "/usr/bin:/bin", "XDG_RUNTIME_DIR": run, "WLR_BACKENDS": "headless",
                   "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman", "LANG": "C.UTF-8"}
    command = ["sway", "-c", config]
    if root:
        command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + command
    sway = subprocess.Popen(command, env=environment, stdout=open(os.path.join(work, "sway.log"), "w"),
                            stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        sockets = glob.glob(os.path.join(run, "sway-ipc.*"))
        if sockets and os.path.exists(os.path.join(run, "wayland-1")):
            return sway, os.path.join(run, "wayland-1"), sockets[0]
        time.sleep(0.05)
    sys.exit("wlroots-capture: sway did not start: " + open(os.path.join(work, "sway.log")).read()[-400:])

def swaymsg(socket, *command):
    subprocess.run(["swaymsg", "-s", socket, *command], check=True, stdout=subprocess.DEVNULL)

def start_host(display):
    output = os.path.join(work, "host.out")
    environment = dict(os.environ, WAYLAND_DISPLAY=display, XDG_SESSION_TYPE="wayland", QT_QPA_PLATFORM="offscreen")
    environment.pop("DISPLAY", None)
    host = subprocess.Popen([host_program, "--print-link", "--max-bitrate", "8M"], env=environment,
                            stdout=open(output, "w"), stderr=open(os.path.join(work, "host.err"), "w"))
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        found = re.search(r"^pairing: (\S+)", open(output).read(), re.M)
        if found:
            return host, found.group(1)
        if host.poll() is not None:
            break
        time.sleep(0.1)
    stop(host)
    sys.exit("wlroots-capture: the host printed no pairing link: " + open(os.path.join(work, "host.err")).read()[-400:])

def sway_share(sway):
    """sway's share of a core, nobody watching."""
    before, wall = thread_seconds(sway.pid), time.monotonic()
    time.sleep(min(seconds, 5.0))
    return (thread_seconds(sway.pid) - before) / (time.monotonic() - wall)

def measure(host, link, sway, name):
    drawing = sway_share(sway)
    probe_out = os.path.join(work, f"probe-{name}")
    probe = subprocess.Popen([probe_program, "--ack", "--no-decode", "--host", "127.0.0.1", link],
                             stdout=open(probe_out, "w"), stderr=subprocess.DEVNULL)
    time.sleep(warmup)
    sample = lambda: (thread_seconds(host.pid, "vantrel.capture"), thread_seconds(host.pid),
                      thread_seconds(sway.pid), probe_frames(probe_out)[0], time.monotonic())
    start = sample()
    time.sleep(seconds)
    end = sample()
    stop(probe)
    drawing = (drawing + sway_share(sway)) / 2
    capture, whole, compositor, frames, wall = (b - a for a, b in zip(start, end))
    beyond = max(0.0, compositor - drawing * wall)
    return {"capture": capture, "host": whole, "sway": beyond, "frames": frames, "wall": wall, "drawing": drawing}

print(f"wlroots-capture: load average {' '.join(open('/proc/loadavg').read().split()[:3])}, "
      f"{seconds:g} s per run", flush=True)
sway, display, socket = start_sway()
host = None
try:
    host, link = start_host(display)
    length = str(int(seconds * 6 + 60))
    swaymsg(socket, "exec", f"foot -a load {load} text {length}")
    time.sleep(2.0)  # the terminal is up and scrolling
    full = measure(host, link, sway, "full")
    frames = max(full["frames"], 1)
    per_frame = {key: full[key] * 1000 / frames for key in ("capture", "host", "sway")}
    print(f"1920x1080 full  capture thread {per_frame['capture']:5.2f} ms/frame, host {per_frame['host']:5.2f} "
          f"ms/frame, sway beyond drawing {per_frame['sway']:5.2f} ms/frame, {frames / full['wall']:5.1f} fps "
          f"(drawing alone {full['drawing'] * 100:4.1f}% of a core)", flush=True)
    swaymsg(socket, "[app_id=load] kill")
    swaymsg(socket, "exec", "foot -a load sleep 600")
    time.sleep(2.0)
    idle = measure(host, link, sway, "idle")
    idle_share = (idle["host"] + idle["sway"]) / idle["wall"] * 100
    print(f"1920x1080 idle  host {idle['host'] / idle['wall'] * 100:.2f}% of a core (capture thread "
          f"{idle['capture'] / idle['wall'] * 100:.2f}%), sway beyond its own {idle['sway'] / idle['wall'] * 100:.2f}%",
          flush=True)
    print(f"wlroots capture: full {per_frame['capture']:.2f} ms/frame on the capture thread, {per_frame['host']:.2f} "
          f"ms/frame host, {per_frame['sway']:.2f} ms/frame sway, {frames / full['wall']:.1f} fps; "
          f"idle {idle_share:.2f}% of a core")
finally:
    if host is not None:
        stop(host)
    sway.terminate()
    sway.wait()
    shutil.rmtree(work, ignore_errors=True)
PYTHON
