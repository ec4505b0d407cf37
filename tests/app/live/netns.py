"""A network namespace of a test's own: only its loopback, or joined to
the host by a veth pair (HOST on the host's end, CLIENT inside). Traffic in
it never leaves the machine. Made and removed with `ip` (iproute2), as root.
"""
import atexit
import os
import subprocess

HOST, CLIENT = "198.51.100.1", "198.51.100.2"


class Namespace:
    """A network namespace, with a veth pair to the host when `veth`."""

    def __init__(self, veth=True):
        pid = os.getpid() % 10**8
        self.name, self.link, self.peer = f"tlvns{pid}", f"tlv{pid}" if veth else None, f"tlp{pid}"

    def create(self):
        """Makes it (removed again at exit at the latest); returns None, or why it cannot be made."""
        if os.geteuid() != 0:
            return "network namespaces need root"
        atexit.register(self.remove)
        steps = [["netns", "add", self.name], ["-n", self.name, "link", "set", "lo", "up"]]
        if self.link:
            steps += [["link", "add", self.link, "type", "veth", "peer", "name", self.peer],
                      ["link", "set", self.peer, "netns", self.name], ["addr", "add", f"{HOST}/24", "dev", self.link],
                      ["link", "set", self.link, "up"], ["-n", self.name, "addr", "add", f"{CLIENT}/24", "dev", self.peer],
                      ["-n", self.name, "link", "set", self.peer, "up"]]
        for step in steps:
            try:
                proc = subprocess.run(["ip", *step], capture_output=True, text=True, timeout=30)
            except FileNotFoundError:
                return "no ip command (iproute2)"
            if proc.returncode != 0:
                self.remove()
                return f"ip {' '.join(step)}: {proc.stderr.strip()}"
        return None

    def remove(self):
        subprocess.run(["ip", "netns", "del", self.name], capture_output=True)
        if self.link:
            subprocess.run(["ip", "link", "del", self.link], capture_output=True)

    def run(self, *cmd, timeout=60):
        return subprocess.run(["ip", "netns", "exec", self.name, *cmd], capture_output=True, text=True,
                              timeout=timeout)
