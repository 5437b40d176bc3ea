#!/usr/bin/env python3
"""The host's side of the real-UART VM test.

  vm_host.py quiet TRACE CONSOLE
      After the VM: the register writes of the emulated 16550 UARTs, as
      qemu's serial_write trace logged them, between the markers of each
      quiet stretch the guest announced ("QUIET <id> <none|mcr> <what>").

Prints "PASS host: ..." and "FAIL host: ..." lines.
"""

import re
import sys

# Two writes to ttyS1's scratch register (offset 7) open a quiet stretch,
# two close it: 0xA5 or 0x5A, then the stretch's number.
SCRATCH = 0x07
OPEN_MARK = 0xA5
CLOSE_MARK = 0x5A
MODEM_CONTROL = 0x04


def say(kind, text):
    print(f"{kind} host: {text}", flush=True)


def quiet(trace, console):
    """Checks every quiet stretch the guest announced against the trace."""
    announced = {}
    line_re = re.compile(r"^QUIET (\d+) (none|mcr) (.*)$")
    with open(console, encoding="utf-8", errors="replace") as f:
        for line in f:
            match = line_re.match(line.rstrip("\r\n"))
            if match:
                announced[int(match.group(1))] = (match.group(2), match.group(3))

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
    if len(argv) == 4 and argv[1] == "quiet":
        return quiet(argv[2], argv[3])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
