"""What the end-to-end benchmarks measure alike: CPU time of a process (or some of its threads),
ending a program they started, and the frames the probe reported."""
import json
import os
import signal
import subprocess

_tick = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User and system time of all the process's threads, in clock ticks (10 ms)."""
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / _tick


def thread_seconds(pid, name=None):
    """Run time of the process's threads (those called name, when given) with nanoseconds'
    precision: clock ticks are too coarse for a still screen."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            if name is not None and open(f"/proc/{pid}/task/{task}/comm").read().strip() != name:
                continue
            total += int(open(f"/proc/{pid}/task/{task}/schedstat").read().split()[0])
        except (OSError, ValueError):
            pass  # a thread that just ended
    return total / 1e9


def stop(process):
    """Ends a program the benchmark started: SIGINT, then SIGKILL after 5 s."""
    if process.poll() is None:
        process.send_signal(signal.SIGINT)
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def probe_frames(path):
    """Video frames and their payload bytes in the probe's output so far."""
    frames, size = 0, 0
    for line in open(path):
        if '"videoFrame"' in line:
            try:
                size += json.loads(line)["size"]
                frames += 1
            except ValueError:
                pass  # the line being written
    return frames, size
