#!/usr/bin/env python3
"""Pseudo-terminals as the COM ports of a Wine prefix.

A raw pty's slave side, linked as $WINEPREFIX/dosdevices/comN, is a COM port
that Windows programs under Wine open, configure, read and write; the master
side is the device's end of the cable.

  serialdevice.py hold --prefix P --port N [--port N ...] -- COMMAND...
      Keeps pty-backed ports comN open while COMMAND runs, then removes them.
      Exits with COMMAND's exit code.
"""
import argparse
import os
import pty
import subprocess
import sys
import tty


class PtyPort:
    """One pty linked as dosdevices/comN of a prefix; the master is the device side."""

    def __init__(self, prefix, number):
        self.link = os.path.join(prefix, "dosdevices", f"com{number}")
        self.master, self.slave = pty.openpty()
        # Raw mode: otherwise XON/XOFF stays on and 0x11 and 0x13 are swallowed.
        tty.setraw(self.slave)
        tty.setraw(self.master)
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(os.ttyname(self.slave), self.link)

    def close(self):
        """Removes the port, as an unplugged device does."""
        if os.path.lexists(self.link):
            os.unlink(self.link)
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def hold(args):
    ports = [PtyPort(args.prefix, n) for n in args.port]
    try:
        return subprocess.call(args.command)
    finally:
        for port in ports:
            port.close()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="action", required=True)
    h = sub.add_parser("hold", help="keep pty-backed COM ports while a command runs")
    h.add_argument("--prefix", required=True)
    h.add_argument("--port", type=int, action="append", default=[])
    h.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    if args.command and args.command[0] == "--":
        args.command = args.command[1:]
    return hold(args)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
