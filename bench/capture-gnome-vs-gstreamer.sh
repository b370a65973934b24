#!/usr/bin/env bash
# What the desktop host costs per frame in a GNOME session on Wayland against the GStreamer
# pipeline that reads the same compositor stream:
#   gst-launch-1.0 pipewiresrc path=NODE ! videoconvert ! x264enc speed-preset=ultrafast tune=zerolatency
#     bitrate=8000 ! fakesink
# Ours is the real host, `brisholm --max-bitrate 8M`, streaming to `vantrel-probe --ack --no-decode`
# over TLS on loopback; theirs reads a ScreenCast stream of the same monitor (its own session, the
# pointer drawn in, as ours). A headless mutter of the script's own (private session bus,
# PipeWire, WirePlumber) shows one 1920x1080 monitor, with in turn:
#   scroll  a terminal filling the screen, flooded with text: nearly every row changes every frame
#   idle    (ours only) the terminal standing still, a phone connected
# For each: CPU-ms per encoded frame of the consumer (all threads) over the steady state after a
# warm-up, frames per second, and the compositor's CPU per frame beside it (it renders the stream
# for either consumer). Idle: the host's share of a core, from the threads' run times.
# Runs inside scripts/test-session.sh (a private network namespace with an address for the pairing
# link). The machine is shared: expect some noise.
# Usage: bench/capture-gnome-vs-gstreamer.sh [SECONDS_PER_RUN] [BUILD_DIR]   (defaults: 10, build/default)
# Build first: cmake --build build/default --target brisholm vantrel-probe
set -euo pipefail
seconds=${1:-10}
build=$(realpath "${2:-build/default}")
top=$(cd "$(dirname "$0")/.." && pwd)
bench=capture-gnome-vs-gstreamer
source "$top/bench/lib/session.sh"

bench_require_built "$build/BrisholmMac/brisholm" "$build/tools/probe/vantrel-probe"
bench_require_installed mutter pipewire wireplumber gst-launch-1.0 foot dbus-daemon
bench_enter_session "$0" "$seconds" "$build"
bench_private_address vtgnm 192.168.252.1/24

# GLib's Python bindings live with the system's Python.
exec /usr/bin/python3 - "$build" "$seconds" "$top" <<'PYTHON'
import json, os, re, subprocess, sys, tempfile, time
from gi.repository import Gio, GLib

sys.path.insert(0, os.path.join(sys.argv[3], "bench/lib"))
from hostbench import cpu_seconds, probe_frames, stop, thread_seconds as cpu_seconds_precise

build, seconds = sys.argv[1], float(sys.argv[2])
host_program = f"{build}/BrisholmMac/brisholm"
probe_program = f"{build}/tools/probe/vantrel-probe"
warmup = 3.0
work = tempfile.mkdtemp(prefix="capture-gnome.")
run = os.path.join(work, "run")
os.makedirs(run, mode=0o700)
os.makedirs(os.path.join(work, "config/wireplumber/bluetooth.lua.d"))
# WirePlumber's Bluetooth monitor wants logind, which the test session hides.
open(os.path.join(work, "config/wireplumber/bluetooth.lua.d/60-bench.lua"), "w").write("bluez_monitor.enabled = false\n")
bus = f"unix:path={run}/bus"
open(os.path.join(work, "bus.conf"), "w").write(
    '<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN" '
    '"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">\n'
    f'<busconfig><type>session</type><listen>{bus}</listen><auth>EXTERNAL</auth><policy context="default">'
    '<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>\n')
session = {"HOME": os.path.join(work, "home"), "PATH": "/usr/bin:/bin", "LANG": "C.UTF-8", "XDG_RUNTIME_DIR": run,
           "XDG_SESSION_TYPE": "wayland", "XDG_CURRENT_DESKTOP": "GNOME", "DBUS_SESSION_BUS_ADDRESS": bus,
           "WAYLAND_DISPLAY": "wayland-0", "XDG_CONFIG_HOME": os.path.join(work, "config"),
           "GSETTINGS_BACKEND": "memory"}
started = []

def start(arguments, name, extra=None):
    environment = dict(session, **(extra or {}))
    process = subprocess.Popen(arguments, env=environment, stdout=open(os.path.join(work, name + ".log"), "w"),
                               stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    started.append(process)
    return process

def wait_for(condition, what, timeout=20):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            sys.exit(f"capture-gnome-vs-gstreamer: {what} did not start")
        time.sleep(0.05)

def owned(connection, name):
    reply = connection.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                 "NameHasOwner", GLib.Variant("(s)", (name,)), None, 0, 2000, None)
    return reply.unpack()[0]

def screen_cast_node(connection):
    """A ScreenCast session of its own on the primary monitor, the pointer drawn in: its node."""
    call = lambda path, interface, method, args, reply: connection.call_sync(
        "org.gnome.Mutter.ScreenCast", path, interface, method, args,
        GLib.VariantType(reply) if reply else None, 0, 5000, None)
    path = call("/org/gnome/Mutter/ScreenCast", "org.gnome.Mutter.ScreenCast", "CreateSession",
                GLib.Variant("(a{sv})", ({},)), "(o)").unpack()[0]
    stream = call(path, "org.gnome.Mutter.ScreenCast.Session", "RecordMonitor",
                  GLib.Variant("(sa{sv})", ("", {"cursor-mode": GLib.Variant("u", 1)})), "(o)").unpack()[0]
    nodes = []
    connection.signal_subscribe(None, "org.gnome.Mutter.ScreenCast.Stream", "PipeWireStreamAdded", stream, None, 0,
                                lambda *args: nodes.append(args[5].unpack()[0]))
    call(path, "org.gnome.Mutter.ScreenCast.Session", "Start", None, None)
    context = GLib.MainContext.default()
    deadline = time.monotonic() + 10
    while not nodes and time.monotonic() < deadline:
        context.iteration(False)
        time.sleep(0.01)
    if not nodes:
        sys.exit("capture-gnome-vs-gstreamer: the compositor named no node")
    return nodes[0], lambda: call(path, "org.gnome.Mutter.ScreenCast.Session", "Stop", None, None)

def gst_frames(path):
    # x264enc starts every picture with an access unit delimiter.
    return open(path, "rb").read().count(b"\x00\x00\x01\x09") if os.path.exists(path) else 0

def window(measured, compositor, count, cpu=cpu_seconds):
    time.sleep(warmup)
    start = (cpu(measured), cpu(compositor), count(), time.monotonic())
    time.sleep(seconds)
    end = (cpu(measured), cpu(compositor), count(), time.monotonic())
    wall = end[3] - start[3]
    frames = max(end[2] - start[2], 1)
    return {"ms": (end[0] - start[0]) * 1000 / frames, "mutter": (end[1] - start[1]) * 1000 / frames,
            "fps": frames / wall, "share": (end[0] - start[0]) / wall * 100}

try:
    print(f"capture-gnome-vs-gstreamer: load average {' '.join(open('/proc/loadavg').read().split()[:3])}, "
          f"{seconds:g} s per run", flush=True)
    start(["dbus-daemon", "--config-file=" + os.path.join(work, "bus.conf"), "--nofork", "--nopidfile"], "bus")
    wait_for(lambda: os.path.exists(os.path.join(run, "bus")), "the session bus")
    start(["pipewire"], "pipewire")
    wait_for(lambda: os.path.exists(os.path.join(run, "pipewire-0")), "PipeWire")
    start(["wireplumber"], "wireplumber")
    mutter = start(["mutter", "--headless", "--wayland", "--no-x11", "--virtual-monitor", "1920x1080"], "mutter")
    connection = Gio.DBusConnection.new_for_address_sync(
        bus, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    wait_for(lambda: owned(connection, "org.gnome.Mutter.RemoteDesktop"), "mutter")
    os.environ.update(session)
    os.environ.pop("DISPLAY", None)

    flood = start(["foot", "--fullscreen", "--override=main.font=monospace:size=8", "sh", "-c",
                   "while :; do cat /usr/share/common-licenses/GPL-3; done"], "foot-flood")
    host_output = os.path.join(work, "host.out")
    host = subprocess.Popen([host_program, "--print-link", "--max-bitrate", "8M"], stdout=open(host_output, "w"),
                            stderr=open(os.path.join(work, "host.err"), "w"),
                            env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    started.append(host)
    wait_for(lambda: re.search(r"^pairing: (\S+)", open(host_output).read(), re.M), "the host's pairing link")
    link = re.search(r"^pairing: (\S+)", open(host_output).read(), re.M).group(1)
    time.sleep(2.0)  # the terminal is up and scrolling

    probe_output = os.path.join(work, "probe-scroll")
    probe = subprocess.Popen([probe_program, "--ack", "--no-decode", "--host", "127.0.0.1", link],
                             stdout=open(probe_output, "w"), stderr=subprocess.DEVNULL)
    ours = window(host.pid, mutter.pid, lambda: probe_frames(probe_output)[0])
    stop(probe)

    stop(flood)
    still = start(["foot", "--fullscreen", "sh", "-c", "echo still; sleep 1000"], "foot-still")
    time.sleep(2.0)
    probe = subprocess.Popen([probe_program, "--ack", "--no-decode", "--host", "127.0.0.1", link],
                             stdout=open(os.path.join(work, "probe-idle"), "w"), stderr=subprocess.DEVNULL)
    idle = window(host.pid, mutter.pid, lambda: 0, cpu_seconds_precise)
    stop(probe)
    stop(still)
    flood = start(["foot", "--fullscreen", "--override=main.font=monospace:size=8", "sh", "-c",
                   "while :; do cat /usr/share/common-licenses/GPL-3; done"], "foot-flood-again")
    time.sleep(2.0)
    node, stop_screen_cast = screen_cast_node(connection)
    encoded = os.path.join(work, "gst.h264")
    gst = subprocess.Popen(["gst-launch-1.0", "-q", "pipewiresrc", f"path={node}", "!", "videoconvert", "!",
                            "x264enc", "speed-preset=ultrafast", "tune=zerolatency", "bitrate=8000", "!",
                            "video/x-h264,stream-format=byte-stream", "!", "filesink", f"location={encoded}"],
                           stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "gst.err"), "w"))
    theirs = window(gst.pid, mutter.pid, lambda: gst_frames(encoded))
    stop(gst)
    stop_screen_cast()
    print(f"1920x1080 scroll  ours {ours['ms']:6.2f} ms/frame {ours['fps']:5.1f} fps (mutter {ours['mutter']:5.2f} "
          f"ms/frame) | gstreamer {theirs['ms']:6.2f} ms/frame {theirs['fps']:5.1f} fps (mutter "
          f"{theirs['mutter']:5.2f} ms/frame) | ratio {ours['ms'] / theirs['ms']:.2f}", flush=True)

    print(f"1920x1080 idle    ours {idle['share']:.2f}% of a core (a phone connected, the screen still)", flush=True)
    print(f"scroll: ours {ours['ms']:.2f} ms/frame, gstreamer {theirs['ms']:.2f} ms/frame, "
          f"ratio {ours['ms'] / theirs['ms']:.2f}; idle {idle['share']:.2f}% of a core")
finally:
    for process in reversed(started):
        stop(process)
    if not os.environ.get("VANTREL_KEEP_BENCH"):
        subprocess.run(["rm", "-rf", work])
PYTHON
