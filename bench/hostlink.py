"""What the bench scripts share: reading the headless host's pairing link from its event log,
then draining the log on a thread of its own so the host is never left writing into a full pipe."""
import threading


def pairing_link(host):
    """The link of the host's "pairing: " line (its stdout a text pipe), or None if it never came."""
    for line in host.stdout:
        if line.startswith("pairing: "):
            return line[len("pairing: "):].strip()
    return None


def drain(host, on_line=lambda line: None):
    """Reads the rest of the host's event log in the background, passing each line to on_line."""
    def read():
        for line in host.stdout:
            on_line(line)
    threading.Thread(target=read, daemon=True).start()
