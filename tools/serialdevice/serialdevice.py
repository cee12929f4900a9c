#!/usr/bin/env python3
"""The simulated serial device: pseudo-terminals as the COM ports of a Wine prefix.

A raw pty's slave side, linked as $WINEPREFIX/dosdevices/comN, is a COM port
that Windows programs under Wine open, configure, read and write; the master
side is the device's end of the cable.

Python (put tools/serialdevice on sys.path, then `import serialdevice`):

    with serialdevice.SerialDevice(prefix, 20) as device:   # COM20 appears
        ...start the Windows program...
        device.wait_configured(19200)    # the program has set the line
        device.send(block)               # paced: 19200 8N1 is 1,920 bytes/s
        device.send(b"\\x01", burst=True) # all at once
        device.wait_written(64)          # bytes the program wrote, as bytes
        device.unplug()                  # the port vanishes, as pulled out

    A script runs the same steps from a list, in this thread (run_script) or
    in the background while the test goes on (start_script, then
    finish_script to wait for it and see its failure, if any):

        device.start_script(serialdevice.parse_script("configured 19200\\n"
                                                      "wait 0.2\\n"
                                                      "send pattern 350\\n"))

    device.written holds everything the Windows side wrote so far;
    device.line() reads the baud rate and stop bits the Windows side set (a
    Linux pty always reads 8 data bits and no parity, whatever was set).

Command line:

  serialdevice.py run --prefix P --port N [--baud 19200] [--framing 8N1]
                      [--script FILE] [--step LINE ...] [--record FILE]
                      [-- COMMAND...]
      Makes COM N, runs the script (the lines of FILE, then each --step)
      while COMMAND runs, and writes what the Windows side wrote to the
      --record file at the end. Without COMMAND it runs the script and
      stops. The device stays plugged in after the script until COMMAND
      ends, unless the script unplugs it. Exit code: COMMAND's; 125 when a
      step failed (a wait for the Windows side that timed out, a device
      gone).

  serialdevice.py hold --prefix P --port N [--port N ...] -- COMMAND...
      Keeps silent pty-backed ports comN open while COMMAND runs, then
      removes them. Exits with COMMAND's exit code. A port given as
      N:dangling is a link to nothing (an unplugged adapter's port: opening
      it fails), N:notty a link to /dev/null (it opens, but has no line
      settings to report).

Script lines (one step a line; blank lines and # comments ignored):

  send DATA               DATA paced at the device's baud rate and framing
  burst DATA              DATA written at once
      DATA is hex bytes (01 02 ff, or 0102ff), or "pattern COUNT [FIRST]"
      (COUNT bytes counting up from FIRST, default 0, modulo 256), or
      "file PATH" (a file's bytes).
  wait SECONDS            pause
  configured [BAUD] [TIMEOUT]
                          wait until the Windows side has set the line
                          (to BAUD, if given); default time-out 10 s
  written COUNT [TIMEOUT] wait until the Windows side has written COUNT
                          bytes in all; default time-out 10 s
  stop                    send nothing more (the last step of a script);
                          the device stays plugged in
  unplug                  close the device's side and remove the port

A Windows program purges the port right after configuring it; a script
that sends right after `configured` can lose its first bytes to that purge,
so wait a moment (0.2 s is plenty) before sending.
"""
import argparse
import collections
import errno
import fcntl
import os
import pty
import select
import subprocess
import sys
import termios
import threading
import time
import tty

DEFAULT_TIMEOUT = 10.0


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
            if fd >= 0:
                os.close(fd)
        self.master = self.slave = -1

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class DeviceError(Exception):
    """A script step failed: a wait timed out, or the device is gone."""


Line = collections.namedtuple("Line", "baud stop_bits")
Line.__doc__ = """Line settings as the device's end of a pty sees them: Line(19200, 1).
A Linux pty keeps the baud rate and the stop bits the Windows side sets,
but always reads 8 data bits and no parity, so those are not reported."""

_SPEEDS = {getattr(termios, f"B{b}"): b for b in (
    50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400,
    57600, 115200, 230400, 460800, 921600) if hasattr(termios, f"B{b}")}


def bytes_per_second(baud, framing="8N1"):
    """Characters a second at BAUD with FRAMING ("8N1", "7E2"...): a start bit,
    the data bits, a parity bit unless N, and the stop bits."""
    data_bits, parity, stop_bits = int(framing[0]), framing[1].upper(), float(framing[2:])
    if parity not in "NEOMS":
        raise ValueError(f"framing {framing!r}: parity is one of N E O M S")
    bits = 1 + data_bits + (0 if parity == "N" else 1) + stop_bits
    return baud / bits


class SerialDevice:
    """The device at the far end of COM port NUMBER of a Wine prefix.

    It exists from construction until unplug() or close(); meanwhile a
    background reader records every byte the Windows side writes."""

    def __init__(self, prefix, number, baud=19200, framing="8N1"):
        self.number = number
        self.rate = bytes_per_second(baud, framing)
        self._port = PtyPort(prefix, number)
        self._initial = termios.tcgetattr(self._port.slave)
        flags = fcntl.fcntl(self._port.master, fcntl.F_GETFL)
        fcntl.fcntl(self._port.master, fcntl.F_SETFL, flags | os.O_NONBLOCK)
        self._fd_lock = threading.Lock()  # writes and unplug
        self._written = bytearray()
        self._changed = threading.Condition()
        self._gone = threading.Event()
        self._script = None
        self._script_error = None
        self._reader = threading.Thread(target=self._read_loop, daemon=True)
        self._reader.start()

    # -- what the Windows side did ---------------------------------------

    @property
    def written(self):
        """Every byte the Windows side has written so far."""
        with self._changed:
            return bytes(self._written)

    def wait_written(self, count, timeout=DEFAULT_TIMEOUT):
        """Waits until the Windows side has written COUNT bytes in all; returns them all."""
        deadline = time.monotonic() + timeout
        with self._changed:
            while len(self._written) < count:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise DeviceError(f"COM{self.number}: {len(self._written)} of {count} "
                                      f"bytes written by the Windows side after {timeout} s")
                self._changed.wait(min(left, 0.05))
            return bytes(self._written)

    def line(self):
        """The line settings as the Windows side last set them."""
        _, _, cflag, _, _, ospeed, _ = termios.tcgetattr(self._port.slave)
        return Line(_SPEEDS.get(ospeed, ospeed), 2 if cflag & termios.CSTOPB else 1)

    def configured(self):
        """Whether the Windows side has changed the line settings since the port appeared."""
        return termios.tcgetattr(self._port.slave) != self._initial

    def wait_configured(self, baud=None, timeout=DEFAULT_TIMEOUT):
        """Waits until the Windows side has set the line (to BAUD, if given)."""
        deadline = time.monotonic() + timeout
        while not (self.configured() and (baud is None or self.line().baud == baud)):
            if time.monotonic() > deadline:
                raise DeviceError(f"COM{self.number}: line not set to {baud or 'anything'} "
                                  f"after {timeout} s (now {self.line()})")
            time.sleep(0.005)

    # -- what the device does --------------------------------------------

    def send(self, data, burst=False):
        """Sends DATA: paced, each byte handed over when it would have crossed
        the line at the device's rate, or with burst=True all at once.
        Returns when the last byte is out."""
        data = bytes(data)
        if burst:
            self._write(data)
            return
        start = time.monotonic()
        sent = 0
        while sent < len(data):
            due = min(len(data), int((time.monotonic() - start) * self.rate))
            if due > sent:
                self._write(data[sent:due])
                sent = due
            else:
                time.sleep(max(0.0, start + (sent + 1) / self.rate - time.monotonic()))

    def wait(self, seconds):
        if self._gone.wait(seconds):
            raise DeviceError(f"COM{self.number}: unplugged while waiting")

    def unplug(self):
        """Closes the device's side and removes the port, as pulling the cable does."""
        self._gone.set()
        if self._reader is not threading.current_thread():
            self._reader.join()
        with self._fd_lock:
            self._port.close()

    close = unplug

    @property
    def plugged(self):
        return not self._gone.is_set()

    # -- scripts ---------------------------------------------------------

    def run_script(self, steps):
        """Runs STEPS (from parse_script, or tuples like ("send", b"..."),
        ("burst", b"..."), ("wait", 0.5), ("configured", 19200, 10.0),
        ("written", 64, 10.0), ("stop",), ("unplug",)) in this thread."""
        for step in steps:
            action, args = step[0], step[1:]
            if action == "send":
                self.send(*args)
            elif action == "burst":
                self.send(*args, burst=True)
            elif action == "wait":
                self.wait(*args)
            elif action == "configured":
                self.wait_configured(*args)
            elif action == "written":
                self.wait_written(*args)
            elif action == "stop":
                return
            elif action == "unplug":
                self.unplug()
                return
            else:
                raise ValueError(f"unknown step {step!r}")

    def start_script(self, steps):
        """Runs STEPS in the background; finish_script() waits for them."""
        def run():
            try:
                self.run_script(steps)
            except (DeviceError, OSError) as e:
                self._script_error = e

        self._script_error = None
        self._script = threading.Thread(target=run, daemon=True)
        self._script.start()

    def finish_script(self, timeout=None):
        """Waits for the background script; raises DeviceError if a step failed
        or it has not ended within TIMEOUT seconds."""
        if self._script is None:
            return
        self._script.join(timeout)
        if self._script.is_alive():
            raise DeviceError(f"COM{self.number}: script still running after {timeout} s")
        if self._script_error is not None:
            raise DeviceError(str(self._script_error)) from self._script_error

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.plugged:
            self.unplug()

    # -- the device's end of the cable -----------------------------------

    def _write(self, data):
        view = memoryview(data)
        while view:
            with self._fd_lock:
                if self._gone.is_set():
                    raise DeviceError(f"COM{self.number}: unplugged while sending")
                try:
                    view = view[os.write(self._port.master, view):]
                    continue
                except BlockingIOError:
                    pass
            # The pty's buffer is full: the Windows side is not reading.
            select.select([], [self._port.master], [], 0.05)

    def _read_loop(self):
        while not self._gone.is_set():
            ready, _, _ = select.select([self._port.master], [], [], 0.05)
            if not ready:
                continue
            try:
                chunk = os.read(self._port.master, 4096)
            except BlockingIOError:
                continue
            except OSError as e:
                if e.errno == errno.EIO:  # no slave open: nothing to read
                    time.sleep(0.01)
                    continue
                raise
            with self._changed:
                self._written += chunk
                self._changed.notify_all()


# -- scripts as text ------------------------------------------------------

def _parse_data(words, where):
    if not words:
        raise ValueError(f"{where}: no data")
    if words[0] == "pattern":
        count = int(words[1], 0)
        first = int(words[2], 0) if len(words) > 2 else 0
        return bytes((first + i) % 256 for i in range(count))
    if words[0] == "file":
        with open(" ".join(words[1:]), "rb") as f:
            return f.read()
    return bytes.fromhex("".join(words))


def parse_script(text, source="script"):
    """Turns script lines (see the module's description) into steps for run_script."""
    steps = []
    for number, raw in enumerate(text.splitlines(), 1):
        words = raw.split("#", 1)[0].split()
        if not words:
            continue
        where = f"{source}:{number}"
        if steps and steps[-1][0] in ("stop", "unplug"):
            raise ValueError(f"{where}: nothing may follow {steps[-1][0]}")
        action, args = words[0], words[1:]
        try:
            if action in ("send", "burst"):
                steps.append((action, _parse_data(args, where)))
            elif action == "wait" and len(args) == 1:
                steps.append(("wait", float(args[0])))
            elif action == "configured" and len(args) <= 2:
                baud = int(args[0]) if args else None
                steps.append(("configured", baud,
                              float(args[1]) if len(args) > 1 else DEFAULT_TIMEOUT))
            elif action == "written" and 1 <= len(args) <= 2:
                steps.append(("written", int(args[0]),
                              float(args[1]) if len(args) > 1 else DEFAULT_TIMEOUT))
            elif action in ("stop", "unplug") and not args:
                steps.append((action,))
            else:
                raise ValueError(f"{where}: cannot read {raw.strip()!r}")
        except (IndexError, ValueError) as e:
            if str(e).startswith(where):
                raise
            raise ValueError(f"{where}: cannot read {raw.strip()!r}: {e}") from e
    return steps


# -- command line ---------------------------------------------------------

class BrokenPort:
    """dosdevices/comN linked to something that is no working port."""

    TARGETS = {"dangling": "/nonexistent/vetrolink-unplugged-port", "notty": "/dev/null"}

    def __init__(self, prefix, number, kind):
        self.link = os.path.join(prefix, "dosdevices", f"com{number}")
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(self.TARGETS[kind], self.link)

    def close(self):
        if os.path.lexists(self.link):
            os.unlink(self.link)


def held_port(prefix, port):
    """N, N:dangling or N:notty."""
    number, _, kind = str(port).partition(":")
    return BrokenPort(prefix, int(number), kind) if kind else PtyPort(prefix, int(number))


def hold(args):
    ports = [held_port(args.prefix, port) for port in args.port]
    try:
        return subprocess.call(args.command)
    finally:
        for port in ports:
            port.close()


def run(args):
    text = ""
    if args.script:
        with open(args.script) as f:
            text = f.read()
    text += "".join(line + "\n" for line in args.step)
    steps = parse_script(text, args.script or "--step")
    status = 0
    with SerialDevice(args.prefix, args.port, args.baud, args.framing) as device:
        if args.command:
            device.start_script(steps)
            status = subprocess.call(args.command)
            try:
                device.finish_script(timeout=0.5)
            except DeviceError as e:
                print(f"serialdevice: {e}", file=sys.stderr)
                status = status or 125
        else:
            try:
                device.run_script(steps)
            except DeviceError as e:
                print(f"serialdevice: {e}", file=sys.stderr)
                status = 125
        if args.record:
            with open(args.record, "wb") as f:
                f.write(device.written)
    return status


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="action", required=True)
    h = sub.add_parser("hold", help="keep pty-backed COM ports while a command runs")
    h.add_argument("--prefix", required=True)
    h.add_argument("--port", action="append", default=[], help="N, N:dangling or N:notty")
    h.add_argument("command", nargs=argparse.REMAINDER)
    r = sub.add_parser("run", help="play a device on one COM port by a script")
    r.add_argument("--prefix", required=True)
    r.add_argument("--port", type=int, required=True)
    r.add_argument("--baud", type=int, default=19200)
    r.add_argument("--framing", default="8N1")
    r.add_argument("--script", help="file of script lines")
    r.add_argument("--step", action="append", default=[], help="one more script line")
    r.add_argument("--record", help="file that receives what the Windows side wrote")
    r.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    if args.command and args.command[0] == "--":
        args.command = args.command[1:]
    return hold(args) if args.action == "hold" else run(args)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
