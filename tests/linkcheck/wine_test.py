"""VetrolinkCheck.exe end to end under Wine: the real program and library, the simulated
device, and a prefix of its own, so its registry holds only this test's device. Expected:
the lines a person reads, ComPort's message encoded here by Python's cp932 codec.
A port another program holds: Wine passes on Linux's refusal to open a terminal held with
TIOCEXCL, which Wine's server (it opens devices) ignores with CAP_SYS_ADMIN: as root the
prefix's server runs without that capability."""
import fcntl
import os
import pathlib
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
VERSION = pathlib.Path(BIN).parent.joinpath("VERSION").read_text().strip()
NT_KEY = r"HKLM\SYSTEM\CurrentControlSet\Enum\USB\Vid_{:04x}&Pid_00ff\Check\Device Parameters"
RECEIVERS_VENDOR = 0x0ABC
TITLE = f"VetrolinkCheck {VERSION}, {WIDTH}"
OUTCOMES = {0: "the device was found", 1: "the library cannot be used", 2: "the device was not found",
            3: "the port failed", 4: "no data arrived"}


def setUpModule():
    without_admin = ["setpriv", "--bounding-set=-sys_admin"] if os.geteuid() == 0 else []
    subprocess.run([PREFIX_TOOL, "remove", PREFIX], check=True)
    subprocess.run([*without_admin, PREFIX_TOOL, "create", PREFIX], check=True,
                   stdout=subprocess.DEVNULL)


def tearDownModule():
    subprocess.run([PREFIX_TOOL, "remove", PREFIX], check=True)


def installed(vendor, port):
    """The registry entry the device's driver leaves, naming COM<port>."""
    subprocess.run([RUN, PREFIX, "reg", "add", NT_KEY.format(vendor), "/v", "PortName", "/d",
                    f"COM{port}", "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT,
                   stdin=subprocess.DEVNULL, timeout=120, check=True)


def folder_with(name, dll=None):
    """C:\\NAME (drive_c/NAME) holding VetrolinkCheck.exe and DLL (a path) as Vetrolink.dll."""
    folder = os.path.join(PREFIX, "drive_c", name)
    os.makedirs(folder, exist_ok=True)
    shutil.copy(os.path.join(BIN, "VetrolinkCheck.exe"), folder)
    if dll:
        shutil.copy(dll, os.path.join(folder, "Vetrolink.dll"))
    return "C:\\" + name


def library_lines(folder):
    return [TITLE, f"Library:   {folder}\\Vetrolink.dll, {WIDTH} DLL",
            "Version:   AskVer says Ver{}.{}; file version {}.0".format(*VERSION.split(".")[:2], VERSION),
            "Windows:   WindowsVer gives 2007: Windows Vista or later (NT 6.x; 10 and 11 show as "
            "6.x to programs without a manifest)"]


def device(vendor, result, meaning):
    return f"Device:    ComPort for vendor ID {vendor:04X}, product ID 00FF gives {result}: {meaning}"


class Check(unittest.TestCase):
    def assertCheck(self, code, expected, folder, *args, when_listening=None):
        """VetrolinkCheck in FOLDER (C:\\NAME) exits with CODE and prints EXPECTED (a compiled pattern
        matches) and CODE's Result line. when_listening runs once it has purged the port."""
        exe = os.path.join(PREFIX, "drive_c", folder[3:], "VetrolinkCheck.exe")
        with tempfile.NamedTemporaryFile() as out:  # read by name: reading `out` moves the program's offset
            read = pathlib.Path(out.name).read_bytes
            program = subprocess.Popen([RUN, PREFIX, exe, *args], stdout=out,
                                       stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
            while when_listening and b"\nPort:" not in read() and program.poll() is None:
                time.sleep(0.01)
            if when_listening:
                when_listening()
            exit_code = program.wait(timeout=120)
            lines = read().decode("cp932").splitlines()
        expected = [*expected, f"Result:    {OUTCOMES[code]} (exit code {code})"]
        self.assertEqual(len(expected), len(lines), "\n".join(lines))
        for want, got in zip(expected, lines):
            (self.assertRegex if isinstance(want, re.Pattern) else self.assertEqual)(got, want)
        self.assertEqual(code, exit_code)

    def test_device_found_and_a_block_arrives(self):
        installed(RECEIVERS_VENDOR, 40)
        folder = folder_with("found", os.path.join(BIN, "Vetrolink.dll"))
        with serialdevice.SerialDevice(PREFIX, 40) as port:
            self.assertCheck(0, [
                *library_lines(folder), device(RECEIVERS_VENDOR, 0, "the device's ports were found"),
                "Ports:     1 listed: COM40,",
                "Port:      COM40 open at 19200 baud, 8 data bits, no parity, one stop bit; listening 3 s",
                re.compile(r"^Received:  350 bytes, \d+ ms from the first byte to the last$"),
                "First:     00 01 02 03 04 05 06 07", "Last:      56 57 58 59 5a 5b 5c 5d",
                "Block:     350 bytes, as one block has"], folder, "/listen", "3",
                when_listening=lambda: port.send(bytes(i % 256 for i in range(350))))
            self.assertEqual(serialdevice.Line(19200, 1), port.line())

    def test_device_absent(self):
        folder = folder_with("absent", os.path.join(BIN, "Vetrolink.dll"))
        self.assertCheck(2, [
            *library_lines(folder),
            device(0x1A51, 4, "no device with these IDs was ever installed on this PC"),
            r"Message:   SYSTEM\CurrentControlSet\Enum\USB\Vid_1a51&Pid_00ff"], folder, "/vid", "1A51")

    def test_port_held_by_another_program_then_silent(self):
        installed(0x1A52, 42)
        folder = folder_with("held", os.path.join(BIN, "Vetrolink.dll"))
        not_found = [*library_lines(folder), device(
            0x1A52, 5, "the device is installed, but none of its ports opens: it is unplugged, "
            "or another program holds its port"), "Ports:     0 listed",
            "Message:   PortNameが開けないです。"]
        with serialdevice.PtyPort(PREFIX, 42) as port:
            fcntl.ioctl(port.slave, termios.TIOCEXCL)
            self.assertCheck(2, not_found, folder, "/vid", "1A52")
            self.assertCheck(3, [*not_found, re.compile(
                r"^Port:      COM42 does not open: another program holds it \(SetPort 1, Windows "
                r"error \d+\)$")], folder, "/vid", "1a52", "/port", "COM42", "/listen", "1")
            fcntl.ioctl(port.slave, termios.TIOCNXCL)
            self.assertCheck(4, [
                *library_lines(folder), device(0x1A52, 0, "the device's ports were found"),
                "Ports:     1 listed: COM42,",
                "Port:      COM42 open at 19200 baud, 8 data bits, no parity, one stop bit; listening 1 s",
                "Received:  nothing in 1 s"], folder, "/vid", "1A52", "/listen", "1")

    def test_library_missing_of_the_other_width_or_without_exports(self):
        missing = folder_with("missing")
        other = folder_with("other", os.path.join(OTHER_BIN, "Vetrolink.dll"))
        empty = folder_with("empty", os.path.join(BIN, "without_exports", "Vetrolink.dll"))
        self.assertCheck(1, [TITLE, f"Library:   no Vetrolink.dll in {missing}\\, nor where else Windows "
                                    "looks (Windows error 126)"], missing)
        self.assertCheck(1, [TITLE, re.compile(re.escape(
            f"Library:   {other}\\Vetrolink.dll is a {OTHER_WIDTH} DLL; this program is {WIDTH} and "
            "cannot load it (Windows error ") + r"\d+\)$")], other)
        self.assertCheck(1, [TITLE, f"Library:   {empty}\\Vetrolink.dll, {WIDTH} DLL",
                             "Exports:   missing AskVer WindowsVer ComPort SetPort: not this system's "
                             "Vetrolink.dll, or a damaged copy"], empty)


if __name__ == "__main__":
    unittest.main(verbosity=2)
