#!/usr/bin/python3
"""Servers of a port over RFC 2217 for the driver's tests, on 127.0.0.1 only.

usage: rfc2217_server.py MODE [PORT]

Listens on 127.0.0.1:PORT (0 or none: a free port), prints "port N" and
serves one client after another until it is ended:

  pyserial  pyserial's own server (serial.rfc2217.PortManager) over its
            loop:// port, whose CTS follows RTS and DSR follows DTR (DCD is
            always on); the lines are looked at every 10 ms. Each SET-CONTROL
            the client sends is printed ("control N").
  pyserial-break  the same, but the client's first break ends its
            connection ("dropped"), and the server is away for a second;
            then it serves a fresh loop:// port again.
  silent    accepts and says nothing.
  drop      agrees, reports DSR and CTS active, and closes the connection.
  garbage   agrees, reports all lines inactive, then sends a megabyte of
            garbage, a sub-negotiation that never ends before another
            megabyte, and a report of DCD and RI active.

Exit status 77 when pyserial is missing.
"""

import os
import random
import socket
import sys
import threading
import time

IAC, SB, SE, WILL, DO = 255, 250, 240, 251, 253
COM_PORT = 44
NOTIFY_MODEMSTATE = 107


def report(state):
    return bytes([IAC, SB, COM_PORT, NOTIFY_MODEMSTATE, state, IAC, SE])


def agree(conn):
    conn.sendall(bytes([IAC, DO, COM_PORT]))


class Dropped(Exception):
    pass


dropping = {"armed": False, "away": False}


def serve_pyserial(conn):
    import serial
    import serial.rfc2217

    port = serial.serial_for_url("loop://", do_not_open=True)
    port.timeout = 0
    port.open()

    class Writer:
        lock = threading.Lock()

        def write(self, data):
            with self.lock:
                conn.sendall(data)

    manager = serial.rfc2217.PortManager(port, Writer())
    done = threading.Event()

    def lines():
        while not done.is_set():
            try:
                manager.check_modem_lines()
            except OSError:
                break
            time.sleep(0.01)

    watcher = threading.Thread(target=lines, daemon=True)
    watcher.start()
    set_control = bytes([COM_PORT, 5])
    original = manager._telnet_process_subnegotiation

    def told(suboption):
        if suboption[:2] == set_control:
            print("control", suboption[2], flush=True)
            if suboption[2] == 5 and dropping["armed"]:
                dropping["armed"] = False
                dropping["away"] = True
                print("dropped", flush=True)
                raise Dropped()
        original(suboption)

    manager._telnet_process_subnegotiation = told
    try:
        while True:
            data = conn.recv(1024)
            if not data:
                break
            for _ in manager.filter(data):
                pass
    except (OSError, Dropped):
        pass
    done.set()
    watcher.join()
    port.close()


def serve_silent(conn):
    while conn.recv(1024):
        pass


def serve_drop(conn):
    agree(conn)
    conn.sendall(report(0x30))
    time.sleep(0.2)


def serve_garbage(conn):
    agree(conn)
    conn.sendall(report(0x00))
    noise = random.Random(2217)
    # No DONT in it: IAC DONT 44 would rightly end the option.
    garbage = bytes(noise.getrandbits(8) for _ in range(1 << 20))
    conn.sendall(garbage.replace(bytes([254]), bytes([0])))
    endless = bytes([IAC, SB, COM_PORT, NOTIFY_MODEMSTATE]) + bytes(
        (noise.getrandbits(8) % 255) for _ in range(1 << 20))
    conn.sendall(endless + bytes([IAC, SE]))
    conn.sendall(report(0xC0))
    while conn.recv(1024):
        pass


def listen(port):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(1)
    listener.settimeout(0.5)
    return listener


def main():
    mode = sys.argv[1]
    if mode.startswith("pyserial"):
        try:
            import serial.rfc2217  # noqa: F401
        except ImportError:
            print("pyserial (python3-serial) is missing", flush=True)
            sys.exit(77)
    serve = {"pyserial": serve_pyserial, "pyserial-break": serve_pyserial,
             "silent": serve_silent, "drop": serve_drop, "garbage": serve_garbage}[mode]
    dropping["armed"] = mode == "pyserial-break"
    listener = listen(int(sys.argv[2]) if len(sys.argv) > 2 else 0)
    port = listener.getsockname()[1]
    print("port", port, flush=True)
    # Ends with the test that started it, even when that test is killed.
    parent = os.getppid()
    while os.getppid() == parent:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        conn.settimeout(None)
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            serve(conn)
        except OSError:
            pass
        conn.close()
        if dropping["away"]:
            # Away: connections are refused for a second.
            dropping["away"] = False
            listener.close()
            time.sleep(1)
            listener = listen(port)


if __name__ == "__main__":
    main()
