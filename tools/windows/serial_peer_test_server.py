#!/usr/bin/env python3
"""Serial device peer for the Windows serial suite under Wine. Each control connection on
127.0.0.1 is one device: a new pseudo-terminal pair whose secondary end the link given
(--link; the prefix's COM5 leads to it) then names. Commands, one line each, answered with
one line "ok [...]" or "error <why>":
  send <hex>       the device sends these bytes
  receive <count>  what the port sent, up to <count> bytes, waiting at most 5 s (hex)
  line             speed, two stop bits, odd, mark/space, raw (0/1), read by termios
  hangup           the device closes its end: the line hangs up
The connection's end ends the device. Prints its port on the first line of standard output."""
import argparse
import os
import pty
import select
import socket
import termios
import time

CMSPAR = getattr(termios, "CMSPAR", 0o10000000000)  # Linux's mark/space parity flag
SPEEDS = {getattr(termios, "B%d" % b): b for b in
          (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400)}


def point_link(link, target):
    temporary = link + ".new"
    if os.path.lexists(temporary):
        os.unlink(temporary)
    os.symlink(target, temporary)
    os.replace(temporary, link)


def line_settings(fd):
    iflag, _, cflag, lflag, _, ospeed, _ = termios.tcgetattr(fd)
    raw = not lflag & (termios.ICANON | termios.ECHO) and not iflag & termios.ICRNL
    flags = [cflag & termios.CSTOPB, cflag & termios.PARODD, cflag & CMSPAR, raw]
    return " ".join([str(SPEEDS.get(ospeed, 0))] + ["1" if f else "0" for f in flags])


def receive(fd, count):
    got = b""
    deadline = time.monotonic() + 5
    while fd is not None and len(got) < count and time.monotonic() < deadline:
        if select.select([fd], [], [], 0.05)[0]:
            try:
                got += os.read(fd, count - len(got))
            except OSError:
                break
    return got


class Device:
    """One pseudo-terminal pair; the secondary end stays open here as well, so the pair
    outlives the port's closes and its line settings stay readable."""

    def __init__(self, link):
        self.primary, self.secondary = pty.openpty()
        point_link(link, os.ttyname(self.secondary))

    def close(self):
        self.hangup()
        os.close(self.secondary)

    def hangup(self):
        if self.primary is not None:
            os.close(self.primary)
            self.primary = None

    def run(self, verb, argument):
        if verb == "send" and self.primary is not None:
            os.write(self.primary, bytes.fromhex(argument))
            return "ok"
        if verb == "receive":
            return "ok " + receive(self.primary, int(argument)).hex()
        if verb == "line":
            return "ok " + line_settings(self.secondary)
        if verb == "hangup":
            self.hangup()
            return "ok"
        return "error unknown command, or the device hung up"


def serve(connection, link):
    device = Device(link)
    try:
        connection.sendall(b"ok ready\n")
        for command in connection.makefile("r"):
            verb, _, argument = command.strip().partition(" ")
            try:
                answer = device.run(verb, argument)
            except (OSError, ValueError) as error:
                answer = "error %s: %s" % (command.strip(), error)
            connection.sendall(answer.encode() + b"\n")
    finally:
        device.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--link", required=True, help="the link that COM5 leads to")
    link = parser.parse_args().link
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    print(listener.getsockname()[1], flush=True)
    while True:
        connection, _ = listener.accept()
        with connection:
            serve(connection, link)


if __name__ == "__main__":
    main()
