#!/usr/bin/env python3
"""The simulated serial device on its own: a temporary folder stands in for
the Wine prefix, and this test opens the COM port's link as a Windows
program under Wine would, as a terminal."""
import os
import shutil
import subprocess
import sys
import tempfile
import termios
import time
import unittest

TOOL_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                        "serialdevice")
sys.path.insert(0, TOOL_DIR)
import serialdevice  # noqa: E402
from serialdevice import DeviceError, SerialDevice, parse_script  # noqa: E402

TOOL = os.path.join(TOOL_DIR, "serialdevice.py")


class WindowsSide:
    """The program's end of the cable: the port's link opened as a terminal."""

    def __init__(self, link):
        self.fd = os.open(link, os.O_RDWR | os.O_NOCTTY)

    def read(self, count, timeout=5.0):
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < count and time.monotonic() < deadline:
            try:
                data += os.read(self.fd, count - len(data))
            except OSError:
                break
        return data

    def set_speed(self, speed):
        attrs = termios.tcgetattr(self.fd)
        attrs[4] = attrs[5] = speed
        termios.tcsetattr(self.fd, termios.TCSANOW, attrs)

    def close(self):
        os.close(self.fd)


class DeviceTest(unittest.TestCase):
    def setUp(self):
        self.prefix = tempfile.mkdtemp(prefix="serialdevice-")
        self.addCleanup(shutil.rmtree, self.prefix)
        os.mkdir(os.path.join(self.prefix, "dosdevices"))
        self.link = os.path.join(self.prefix, "dosdevices", "com7")
        self.device = SerialDevice(self.prefix, 7)
        self.addCleanup(self.device.close)
        self.windows = WindowsSide(self.link)
        self.addCleanup(self.windows.close)

    def test_every_byte_value_crosses_unchanged_both_ways(self):
        every = bytes(range(256)) * 2
        self.device.send(every, burst=True)
        self.assertEqual(self.windows.read(len(every)), every)
        os.write(self.windows.fd, every)
        self.assertEqual(self.device.wait_written(len(every)), every)

    def test_paced_bytes_take_their_time_on_the_line(self):
        # 96 bytes at 19200 8N1 (1,920 bytes/s) cannot arrive before 50 ms
        # have passed; only the lower bound is reliable on a shared machine.
        block = bytes(range(96))
        start = time.monotonic()
        self.device.send(block)
        self.assertGreaterEqual(time.monotonic() - start, 96 / 1920)
        self.assertEqual(self.windows.read(96), block)

    def test_waits_for_the_windows_side(self):
        with self.assertRaises(DeviceError):
            self.device.wait_configured(19200, timeout=0.1)
        self.assertFalse(self.device.configured())
        self.windows.set_speed(termios.B19200)
        self.device.wait_configured(19200, timeout=1)
        self.assertEqual(self.device.line(), serialdevice.Line(19200, 1))
        with self.assertRaisesRegex(DeviceError, "0 of 3 bytes"):
            self.device.wait_written(3, timeout=0.1)

    def test_a_script_in_the_background(self):
        self.device.start_script(parse_script("configured 19200\nburst 01 02\nwritten 2\n"
                                              "send pattern 3 250\nunplug\n"))
        self.windows.set_speed(termios.B19200)
        self.assertEqual(self.windows.read(2), b"\x01\x02")
        os.write(self.windows.fd, b"ok")
        self.assertEqual(self.windows.read(3), bytes([250, 251, 252]))
        self.device.finish_script(timeout=5)
        self.assertFalse(self.device.plugged)
        self.assertEqual(self.device.written, b"ok")

    def test_unplugging_removes_the_port(self):
        self.device.unplug()
        self.assertFalse(os.path.lexists(self.link))
        self.assertEqual(self.windows.read(1, timeout=0.2), b"")
        with self.assertRaises(DeviceError):
            self.device.send(b"\x00", burst=True)
        self.device.unplug()  # twice is harmless


class ScriptTextTest(unittest.TestCase):
    def test_lines_become_steps(self):
        rows = [
            ("send 01 ff  # a comment", [("send", b"\x01\xff")]),
            ("burst 01ff", [("burst", b"\x01\xff")]),
            ("send pattern 3 254", [("send", b"\xfe\xff\x00")]),
            ("wait 0.25", [("wait", 0.25)]),
            ("configured", [("configured", None, 10.0)]),
            ("configured 19200 3", [("configured", 19200, 3.0)]),
            ("written 64", [("written", 64, 10.0)]),
            ("\n# nothing\nstop", [("stop",)]),
            ("unplug", [("unplug",)]),
        ]
        for text, steps in rows:
            self.assertEqual(parse_script(text), steps, text)

    def test_file_data(self):
        with tempfile.NamedTemporaryFile() as f:
            f.write(b"\x11\x13")
            f.flush()
            self.assertEqual(parse_script(f"send file {f.name}"), [("send", b"\x11\x13")])

    def test_mistakes_name_their_line(self):
        for text, line in (("jump", 1), ("wait", 1), ("send 0x1", 1), ("send", 1),
                           ("send 01\nwritten many", 2), ("stop\nsend 01", 2),
                           ("unplug\nwait 1", 2)):
            with self.assertRaisesRegex(ValueError, f"script:{line}:"):
                parse_script(text)

    def test_rates_of_framings(self):
        self.assertEqual(serialdevice.bytes_per_second(19200), 1920)
        self.assertEqual(serialdevice.bytes_per_second(19200, "7E2"), 19200 / 11)
        self.assertEqual(serialdevice.bytes_per_second(9600, "8N1.5"), 9600 / 10.5)


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.prefix = tempfile.mkdtemp(prefix="serialdevice-")
        self.addCleanup(shutil.rmtree, self.prefix)
        os.mkdir(os.path.join(self.prefix, "dosdevices"))

    def windows_program(self, code):
        """A stand-in for the Windows program: Python code with `link` set."""
        link = os.path.join(self.prefix, "dosdevices", "com8")
        return [sys.executable, "-c", f"import os, sys, time; link = {link!r}\n{code}"]

    def run_tool(self, *args):
        return subprocess.run([sys.executable, TOOL, *args], capture_output=True, timeout=60)

    def test_run_plays_the_script_and_records(self):
        record = os.path.join(self.prefix, "written.bin")
        program = self.windows_program(
            "fd = os.open(link, os.O_RDWR | os.O_NOCTTY)\n"
            "data = b''\n"
            "while len(data) < 3: data += os.read(fd, 3)\n"
            "os.write(fd, data[::-1])\n"
            "time.sleep(0.2)\n"
            "sys.exit(data[0])\n")
        done = self.run_tool("run", "--prefix", self.prefix, "--port", "8", "--step",
                             "send 07 08 09", "--step", "written 3", "--record", record, "--",
                             *program)
        self.assertEqual(done.returncode, 7, done.stderr)
        with open(record, "rb") as f:
            self.assertEqual(f.read(), b"\x09\x08\x07")
        self.assertFalse(os.path.lexists(os.path.join(self.prefix, "dosdevices", "com8")))

    def test_a_step_left_waiting_fails_the_run(self):
        done = self.run_tool("run", "--prefix", self.prefix, "--port", "8", "--step",
                             "written 1 0.2", "--", *self.windows_program("pass"))
        self.assertEqual(done.returncode, 125)
        self.assertIn(b"0 of 1 bytes", done.stderr)

    def test_hold_keeps_working_and_failing_ports_while_the_command_runs(self):
        # com8 a terminal, com9 points at nothing, com10 opens but is no terminal.
        done = self.run_tool("hold", "--prefix", self.prefix, "--port", "8", "--port",
                             "9:dangling", "--port", "10:notty", "--", *self.windows_program(
                                 "fd = os.open(link[:-1] + '10', os.O_RDWR | os.O_NOCTTY)\n"
                                 "sys.exit(0 if os.path.exists(link) and not os.isatty(fd) and "
                                 "os.path.lexists(link[:-1] + '9') and "
                                 "not os.path.exists(link[:-1] + '9') else 3)"))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(os.listdir(os.path.join(self.prefix, "dosdevices")), [])


if __name__ == "__main__":
    unittest.main()
