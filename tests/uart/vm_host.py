#!/usr/bin/env python3
"""The host's side of the real-UART VM test.

  vm_host.py drive CONSOLE QMP_SOCKET QEMU_PID
      While the VM runs: watches the guest's console for requests
      ("LINTARA-HOST <n> unplug" or "... plug") and unplugs or plugs the
      emulated USB serial adapter through qemu's QMP socket. The guest waits
      for the device node to vanish or appear; this side only acts. Ends when
      qemu does.

  vm_host.py quiet TRACE CONSOLE
      After the VM: the register writes of the emulated 16550 UARTs, as
      qemu's serial_write trace logged them, between the markers of each
      quiet stretch the guest announced ("QUIET <id> <none|mcr> <what>").

Prints "PASS host: ...", "FAIL host: ..." and "info host: ..." lines.
"""

import json
import os
import re
import socket
import sys
import time

# The adapter as the VM's command line makes it; device_add brings back the
# same one.
ADAPTER = {
    "driver": "usb-serial",
    "id": "usbser0",
    "chardev": "c0",
    "always-plugged": True,
    "port": "1",
    "serial": "AAA111",
}

# Two writes to ttyS1's scratch register (offset 7) open a quiet stretch,
# two close it: 0xA5 or 0x5A, then the stretch's number.
SCRATCH = 0x07
OPEN_MARK = 0xA5
CLOSE_MARK = 0x5A
MODEM_CONTROL = 0x04


def say(kind, text):
    print(f"{kind} host: {text}", flush=True)


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    # A zombie is gone for our purposes.
    try:
        with open(f"/proc/{pid}/stat", encoding="ascii", errors="replace") as f:
            return f.read().rsplit(")", 1)[-1].split()[0] != "Z"
    except OSError:
        return False


class Qmp:
    def __init__(self, path, pid, limit=20.0):
        deadline = time.monotonic() + limit
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.connect(path)
                break
            except OSError:
                self.sock.close()
                if not alive(pid) or time.monotonic() > deadline:
                    raise
                time.sleep(0.02)
        self.buffer = b""
        self.events = []
        self.receive(None)  # the greeting
        self.execute("qmp_capabilities")

    def receive(self, limit):
        """The next message; None when none came within `limit` seconds."""
        deadline = None if limit is None else time.monotonic() + limit
        while b"\n" not in self.buffer:
            if deadline is not None:
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self.sock.settimeout(left)
            try:
                data = self.sock.recv(65536)
            except socket.timeout:
                return None
            finally:
                self.sock.settimeout(None)
            if not data:
                raise ConnectionError("qemu closed its QMP socket")
            self.buffer += data
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def execute(self, command, **arguments):
        request = {"execute": command}
        if arguments:
            request["arguments"] = arguments
        self.sock.sendall(json.dumps(request).encode() + b"\n")
        while True:
            answer = self.receive(None)
            if "event" in answer:
                self.events.append(answer)
                continue
            return answer

    def wait_event(self, name, limit):
        """Waits for an event; True when it came within `limit` seconds."""
        deadline = time.monotonic() + limit
        while True:
            for i, event in enumerate(self.events):
                if event["event"] == name:
                    del self.events[i]
                    return True
            message = self.receive(deadline - time.monotonic())
            if message is None:
                return False
            if "event" in message:
                self.events.append(message)


def unplug(qmp, number):
    t0 = time.monotonic()
    answer = qmp.execute("device_del", id=ADAPTER["id"])
    if "error" in answer:
        say("FAIL", f"unplug {number}: device_del: {answer['error'].get('desc')}")
        return
    if not qmp.wait_event("DEVICE_DELETED", 5.0):
        say("FAIL", f"unplug {number}: qemu did not report the adapter deleted within 5 s")
        return
    say("info", f"unplug {number}: adapter deleted in {(time.monotonic() - t0) * 1000:.0f} ms")


def plug(qmp, number):
    # Right after a device_del the chardev can still be taken for a few tens
    # of milliseconds.
    t0 = time.monotonic()
    tries = 0
    while True:
        tries += 1
        answer = qmp.execute("device_add", **ADAPTER)
        if "error" not in answer:
            say("info", f"plug {number}: adapter added after {tries} tries, "
                f"{(time.monotonic() - t0) * 1000:.0f} ms")
            return
        if time.monotonic() - t0 > 2.0:
            say("FAIL", f"plug {number}: device_add: {answer['error'].get('desc')} "
                f"({tries} tries in 2 s)")
            return
        time.sleep(0.01)


def drive(console, qmp_path, pid):
    try:
        qmp = Qmp(qmp_path, pid)
    except (OSError, ConnectionError, ValueError) as error:
        if alive(pid):
            say("FAIL", f"cannot talk to qemu's QMP socket: {error}")
        return 0 if not alive(pid) else 1
    offset = 0
    pending = b""
    done = set()
    request = re.compile(rb"^LINTARA-HOST (\d+) (unplug|plug)\r?$")
    while alive(pid):
        try:
            with open(console, "rb") as f:
                f.seek(offset)
                data = f.read()
        except OSError:
            data = b""
        offset += len(data)
        pending += data
        *lines, pending = pending.split(b"\n")
        for line in lines:
            match = request.match(line)
            if not match or match.group(1) in done:
                continue
            done.add(match.group(1))
            number = int(match.group(1))
            try:
                if match.group(2) == b"unplug":
                    unplug(qmp, number)
                else:
                    plug(qmp, number)
            except (OSError, ConnectionError, ValueError) as error:
                if alive(pid):
                    say("FAIL", f"request {number}: QMP: {error}")
                return 1
        time.sleep(0.01)
    return 0


def quiet(trace, console):
    """Checks every quiet stretch the guest announced against the trace."""
    announced = {}
    # Each program of the run numbers its stretches from a number of its own;
    # a number used twice would let one stretch stand for another.
    twice = set()
    line_re = re.compile(r"^QUIET (\d+) (none|mcr) (.*)$")
    with open(console, encoding="utf-8", errors="replace") as f:
        for line in f:
            match = line_re.match(line.rstrip("\r\n"))
            if match:
                number = int(match.group(1))
                if number in announced:
                    twice.add(number)
                announced[number] = (match.group(2), match.group(3))

    writes = []
    write_re = re.compile(r"serial_write .*addr 0x([0-9a-fA-F]+) val 0x([0-9a-fA-F]+)")
    try:
        with open(trace, encoding="utf-8", errors="replace") as f:
            for line in f:
                match = write_re.search(line)
                if match:
                    writes.append((int(match.group(1), 16), int(match.group(2), 16)))
    except OSError as error:
        say("FAIL", f"no trace of the UARTs' register writes: {error}")
        return 1

    # stretch number -> the writes between its markers
    stretches = {}
    open_id = None
    inside = []
    i = 0
    while i < len(writes):
        addr, val = writes[i]
        marker = (addr == SCRATCH and val in (OPEN_MARK, CLOSE_MARK) and i + 1 < len(writes)
                  and writes[i + 1][0] == SCRATCH)
        if marker and val == OPEN_MARK:
            open_id, inside = writes[i + 1][1], []
            i += 2
            continue
        if marker and val == CLOSE_MARK and open_id == writes[i + 1][1]:
            if open_id in stretches:
                twice.add(open_id)
            stretches[open_id] = inside
            open_id = None
            i += 2
            continue
        if open_id is not None:
            inside.append((addr, val))
        i += 1

    failed = 0
    if not announced:
        say("FAIL", "the guest announced no quiet stretch")
        failed += 1
    for number in sorted(twice):
        say("FAIL", f"quiet {number}: the number was used for two stretches")
        failed += 1
    for number in sorted(announced):
        expect, what = announced[number]
        name = f"quiet {number}, {what}"
        if number not in stretches:
            say("FAIL", f"{name}: its markers are not in the trace")
            failed += 1
            continue
        seen = stretches[number]
        listing = ", ".join(f"addr 0x{a:02x} val 0x{v:02x}" for a, v in seen[:12])
        if len(seen) > 12:
            listing += f", ... ({len(seen)} in all)"
        if expect == "none":
            if seen:
                say("FAIL", f"{name}: {len(seen)} register writes: {listing}")
                failed += 1
            else:
                say("PASS", f"{name}: no register write")
        else:
            # A stretch that must write the modem control register: shows
            # that the trace sees what the quiet ones must not do.
            if any(a == MODEM_CONTROL for a, _ in seen):
                say("PASS", f"{name}: writes seen ({listing})")
            else:
                say("FAIL", f"{name}: no write to the modem control register; saw "
                    f"{listing or 'nothing'}")
                failed += 1
    return 1 if failed else 0


def main(argv):
    if len(argv) == 5 and argv[1] == "drive":
        return drive(argv[2], argv[3], int(argv[4]))
    if len(argv) == 4 and argv[1] == "quiet":
        return quiet(argv[2], argv[3])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
