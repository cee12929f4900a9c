#!/usr/bin/env python3
"""VetrolinkCheck.exe end to end under Wine: the real program and library, the simulated
device, and a prefix of its own, so its registry holds only this test's device. Expected:
the lines a person reads, ComPort's message encoded here by Python's cp932 codec.

A port another program holds: Wine does not refuse a second open of a COM port as Windows
does, but it passes on Linux's refusal to open a terminal that a process holds with
TIOCEXCL. Linux lets a process with CAP_SYS_ADMIN open it all the same, and Wine's server
is what opens devices, so the prefix's server runs without that capability when the test
runs as root."""
import fcntl
import os
import re
import shutil
import subprocess
import sys
import tempfile
import termios
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "serialdevice"))
import serialdevice  # noqa: E402

BIN, OTHER_BIN, RUN = (os.environ[f"VL_{n}"] for n in ("BIN_DIR", "OTHER_WIDTH_BIN_DIR", "WINE_RUN"))
WIDTH, OTHER_WIDTH = ("32-bit", "64-bit") if os.environ["VL_PLATFORM"] == "win32" else ("64-bit", "32-bit")
PREFIX = os.path.join(os.path.dirname(BIN), "linkcheck-prefix")
PREFIX_TOOL = os.path.join(ROOT, "tools", "wine", "prefix")
with open(os.path.join(os.path.dirname(BIN), "VERSION")) as f:
    VERSION = f.read().strip()
NT_KEY = r"HKLM\SYSTEM\CurrentControlSet\Enum\USB\Vid_{:04x}&Pid_00ff\Check\Device Parameters"
RECEIVERS_VENDOR = 0x0ABC


def setUpModule():
    without_admin = ["setpriv", "--bounding-set=-sys_admin"] if os.geteuid() == 0 else []
    subprocess.run([PREFIX_TOOL, "remove", PREFIX], check=True)
    subprocess.run([*without_admin, PREFIX_TOOL, "create", PREFIX], check=True,
                   stdout=subprocess.DEVNULL)


def tearDownModule():
    subprocess.run([PREFIX_TOOL, "remove", PREFIX], check=True)


def wine(*command, out=subprocess.DEVNULL):
    return subprocess.run([RUN, PREFIX, *command], stdout=out, stderr=subprocess.STDOUT,
                          stdin=subprocess.DEVNULL, timeout=120).returncode


def installed(vendor, port):
    """The registry entry the device's driver leaves, naming COM<port>."""
    wine("reg", "add", NT_KEY.format(vendor), "/v", "PortName", "/d", f"COM{port}", "/f")


def folder_with(name, dll=None):
    """drive_c/NAME holding VetrolinkCheck.exe and DLL (a path) as Vetrolink.dll."""
    folder = os.path.join(PREFIX, "drive_c", name)
    os.makedirs(folder, exist_ok=True)
    shutil.copy(os.path.join(BIN, "VetrolinkCheck.exe"), folder)
    if dll:
        shutil.copy(dll, os.path.join(folder, "Vetrolink.dll"))
    return folder


def windows_path(folder):
    """C:\\NAME: Wine names a folder of its prefix's drive_c by its drive."""
    return "C:\\" + os.path.relpath(folder, os.path.join(PREFIX, "drive_c")).replace("/", "\\")


def read(path):  # through a file object of its own: the program writes at the shared one's offset
    with open(path, "rb") as f:
        return f.read()


def check(folder, *args, when_listening=None):
    """VetrolinkCheck's exit code and lines. when_listening runs once it has purged the port."""
    with tempfile.NamedTemporaryFile() as out:
        program = subprocess.Popen([RUN, PREFIX, os.path.join(folder, "VetrolinkCheck.exe"), *args],
                                   stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        if when_listening:
            while b"\nPort:" not in read(out.name) and program.poll() is None:
                time.sleep(0.01)
            when_listening()
        code = program.wait(timeout=120)
        return code, read(out.name).decode("cp932").splitlines()


def library_lines(folder):
    return [f"VetrolinkCheck {VERSION}, {WIDTH}",
            f"Library:   {windows_path(folder)}\\Vetrolink.dll, {WIDTH} DLL",
            "Version:   AskVer says Ver{}.{}; file version {}.0".format(*VERSION.split(".")[:2], VERSION),
            "Windows:   WindowsVer gives 2007: Windows Vista or later (NT 6.x; 10 and 11 show as "
            "6.x to programs without a manifest)"]


def device_lines(vendor, result, meaning):
    return [f"Device:    ComPort for vendor ID {vendor:04X}, product ID 00FF gives {result}: {meaning}"]


class Check(unittest.TestCase):
    def assertLines(self, expected, actual):
        """Lines equal, or matching where the expected one is a compiled pattern."""
        self.assertEqual(len(expected), len(actual), "\n".join(actual))
        for want, got in zip(expected, actual):
            if isinstance(want, re.Pattern):
                self.assertRegex(got, want)
            else:
                self.assertEqual(want, got)

    def test_device_found_and_a_block_arrives(self):
        installed(RECEIVERS_VENDOR, 40)
        folder = folder_with("found", os.path.join(BIN, "Vetrolink.dll"))
        with serialdevice.SerialDevice(PREFIX, 40) as device:
            code, lines = check(folder, "/listen", "3",
                                when_listening=lambda: device.send(bytes(i % 256 for i in range(350))))
            line = device.line()
        self.assertLines([
            *library_lines(folder),
            *device_lines(RECEIVERS_VENDOR, 0, "the device's ports were found"),
            "Ports:     1 listed: COM40,",
            "Port:      COM40 open at 19200 baud, 8 data bits, no parity, one stop bit; listening 3 s",
            re.compile(r"^Received:  350 bytes, \d+ ms from the first byte to the last$"),
            "First:     00 01 02 03 04 05 06 07",
            "Last:      56 57 58 59 5a 5b 5c 5d",
            "Block:     350 bytes, as one block has",
            "Result:    the device was found (exit code 0)"], lines)
        self.assertEqual(0, code)
        self.assertEqual(serialdevice.Line(19200, 1), line)

    def test_device_absent(self):
        folder = folder_with("absent", os.path.join(BIN, "Vetrolink.dll"))
        code, lines = check(folder, "/vid", "1A51")
        self.assertLines([
            *library_lines(folder),
            *device_lines(0x1A51, 4, "no device with these IDs was ever installed on this PC"),
            r"Message:   SYSTEM\CurrentControlSet\Enum\USB\Vid_1a51&Pid_00ff",
            "Result:    the device was not found (exit code 2)"], lines)
        self.assertEqual(2, code)

    def test_port_held_by_another_program_then_silent(self):
        installed(0x1A52, 42)
        folder = folder_with("held", os.path.join(BIN, "Vetrolink.dll"))
        not_found = [*library_lines(folder), *device_lines(
            0x1A52, 5, "the device is installed, but none of its ports opens: it is unplugged, "
            "or another program holds its port"), "Ports:     0 listed",
            "Message:   PortNameが開けないです。"]
        with serialdevice.PtyPort(PREFIX, 42) as port:
            fcntl.ioctl(port.slave, termios.TIOCEXCL)
            self.assertEqual((2, [*not_found, "Result:    the device was not found (exit code 2)"]),
                             check(folder, "/vid", "1A52"))
            code, lines = check(folder, "/vid", "1a52", "/port", "COM42", "/listen", "1")
            self.assertLines([*not_found, re.compile(
                r"^Port:      COM42 does not open: another program holds it \(SetPort 1, Windows "
                r"error \d+\)$"), "Result:    the port failed (exit code 3)"], lines)
            self.assertEqual(3, code)
            fcntl.ioctl(port.slave, termios.TIOCNXCL)
            self.assertEqual((4, [
                *library_lines(folder),
                *device_lines(0x1A52, 0, "the device's ports were found"),
                "Ports:     1 listed: COM42,",
                "Port:      COM42 open at 19200 baud, 8 data bits, no parity, one stop bit; "
                "listening 1 s",
                "Received:  nothing in 1 s",
                "Result:    no data arrived (exit code 4)"]), check(folder, "/vid", "1A52", "/listen", "1"))

    def test_library_missing_of_the_other_width_or_without_exports(self):
        missing = folder_with("missing")
        other = folder_with("other", os.path.join(OTHER_BIN, "Vetrolink.dll"))
        empty = folder_with("empty", os.path.join(BIN, "without_exports", "Vetrolink.dll"))
        unusable = "Result:    the library cannot be used (exit code 1)"
        self.assertEqual((1, [
            f"VetrolinkCheck {VERSION}, {WIDTH}",
            f"Library:   no Vetrolink.dll in {windows_path(missing)}\\, nor where else Windows "
            "looks (Windows error 126)", unusable]), check(missing))
        code, lines = check(other)
        self.assertLines([
            f"VetrolinkCheck {VERSION}, {WIDTH}",
            re.compile(re.escape(f"Library:   {windows_path(other)}\\Vetrolink.dll is a {OTHER_WIDTH} "
                                 f"DLL; this program is {WIDTH} and cannot load it (Windows error ")
                       + r"\d+\)$"), unusable], lines)
        self.assertEqual(1, code)
        self.assertEqual((1, [
            f"VetrolinkCheck {VERSION}, {WIDTH}",
            f"Library:   {windows_path(empty)}\\Vetrolink.dll, {WIDTH} DLL",
            "Exports:   missing AskVer WindowsVer ComPort SetPort: not this system's Vetrolink.dll, "
            "or a damaged copy", unusable]), check(empty))


if __name__ == "__main__":
    unittest.main(verbosity=2)
