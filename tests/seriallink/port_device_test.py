#!/usr/bin/env python3
"""ReadData, WriteData and SetPort against the simulated device, seen from
both ends of the cable: port_probe.exe runs the library under Wine on COM22,
the device plays the other end.

Needs VL_WINE_PREFIX, VL_WINE_RUN and VL_BIN_DIR (ctest passes them)."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tools", "serialdevice"))
import serialdevice  # noqa: E402

PREFIX = os.environ["VL_WINE_PREFIX"]
PORT = 22


def probe(*steps, device=None):
    """Runs port_probe.exe on COM22 with STEPS; returns its output lines split
    into words. Output goes through a file: Wine's services may hold a pipe."""
    command = [os.environ["VL_WINE_RUN"], PREFIX,
               os.path.join(os.environ["VL_BIN_DIR"], "port_probe.exe"), f"COM{PORT}"]
    command += [str(s) for s in steps]
    with tempfile.TemporaryFile() as out:
        status = subprocess.call(command, stdout=out, stderr=subprocess.STDOUT,
                                 stdin=subprocess.DEVNULL, timeout=60)
        out.seek(0)
        text = out.read().decode(errors="replace")
    if device is not None:
        device.finish_script(timeout=10)
    if status != 0:
        raise AssertionError(f"port_probe exited {status}: {text}")
    return [line.split() for line in text.splitlines()]


class FromTheDevice(unittest.TestCase):
    def test_the_line_on_the_wire(self):
        # A pty keeps baud rate and stop bits; parity and data bits are
        # checked in the record handed to Windows (native tests).
        for baud, stop_selector, stop_bits in ((19200, 0, 1), (9600, 2, 2)):
            with self.subTest(baud=baud), serialdevice.SerialDevice(PREFIX, PORT) as device:
                self.assertEqual(probe("open", baud, 8, 0, stop_selector, "close"),
                                 [["open", "0"], ["close", "0"]])
                self.assertEqual(device.line(), serialdevice.Line(baud, stop_bits))

    def test_a_byte_the_device_sent_is_read(self):
        with serialdevice.SerialDevice(PREFIX, PORT) as device:
            device.start_script(serialdevice.parse_script(
                "configured 19200\nwait 0.3\nburst 5a\n"))
            lines = probe("open", "read", 1, 10000, "read", 1, 0, "close", device=device)
            self.assertEqual(lines, [["open", "0"], ["read", "0", "1", "5a"],
                                     ["read", "1", "0"], ["close", "0"]])

    def test_what_write_data_writes_reaches_the_device(self):
        with serialdevice.SerialDevice(PREFIX, PORT) as device:
            lines = probe("open", "write", 64, "write", 65, "write", 0, "sleep", 200, "close")
            self.assertEqual(lines, [["open", "0"], ["write", "0", "64"], ["write", "1", "0"],
                                     ["write", "0", "0"], ["close", "0"]])
            self.assertEqual(device.wait_written(64, timeout=5), bytes(range(64)))
            device.wait(0.2)
            self.assertEqual(len(device.written), 64, "65 bytes asked for: none written")


if __name__ == "__main__":
    unittest.main()
