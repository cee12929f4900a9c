"""VetrolinkCheck.exe end to end under Wine: the real program and library, the simulated device, a prefix
of its own. Code pages from Wine's locale (C.UTF-8: 1252, 437; ja_JP.UTF-8: 932), the output decoded by
Python's cp932 codec. A port held: Wine passes on Linux's refusal to open a terminal held with TIOCEXCL,
which Wine's server ignores with CAP_SYS_ADMIN: as root the prefix's server runs without it."""
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
DLL = pathlib.Path(BIN, "Vetrolink.dll").read_bytes()
OUTCOMES = {0: "the device was found", 1: "the library cannot be used", 5: "data arrived, but not a block "
            "the receiver takes", 2: "the receiver would not find the device"}
NOT_OPEN = ("the device is installed, but none of its ports opens: it is unplugged, or another program holds "
            "its port")
VERSION_LINE = "Version:   AskVer says Ver{}.{}; file version {}.0".format(*VERSION.split(".")[:2], VERSION)
JAPANESE = "Message:   in Japanese, which this console cannot show; the Device line gives its meaning"


def setUpModule():
    without_admin = ["setpriv", "--bounding-set=-sys_admin"] if os.geteuid() == 0 else []
    subprocess.run([PREFIX_TOOL, "remove", PREFIX], check=True)
    subprocess.run([*without_admin, PREFIX_TOOL, "create", PREFIX], check=True, stdout=subprocess.DEVNULL)


def tearDownModule():
    subprocess.run([PREFIX_TOOL, "remove", PREFIX], check=True)


def reg(*args, check=True):
    subprocess.run([RUN, PREFIX, "reg", *args, "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT,
                   stdin=subprocess.DEVNULL, timeout=120, check=check)


def installed(*instances, usb=r"HKLM\SYSTEM\CurrentControlSet\Enum\USB", parameters=r"\Device Parameters"):
    """USB holds just these (device, instance, value, data...): all but ParentDevNode in PARAMETERS."""
    reg("delete", usb, check=False)
    for device, instance, *values in instances:
        for name, data in zip(values[::2], values[1::2]):
            reg("add", rf"{usb}\{device}\{instance}" + ("" if name == "ParentDevNode" else parameters),
                "/v", name, "/d", data)


def folder_with(name, dll=None, program="VetrolinkCheck.exe"):
    """C:\\NAME holding the check as PROGRAM and DLL (bytes) as Vetrolink.dll."""
    folder = pathlib.Path(PREFIX, "drive_c", name)
    folder.mkdir(exist_ok=True)
    shutil.copy(os.path.join(BIN, "VetrolinkCheck.exe"), folder / program)
    if dll is not None:
        folder.joinpath("Vetrolink.dll").write_bytes(dll)
    return f"C:\\{name}\\{program}"


def device(result, meaning, vendor=0x0ABC):
    return f"Device:    ComPort for vendor ID {vendor:04X}, product ID 00FF gives {result}: {meaning}"


def received(milliseconds):
    """The Received line of 350 bytes, MILLISECONDS (a range) from the first to the last."""
    return lambda line: (found := re.fullmatch(r"Received:  350 bytes, (\d+) ms from the first byte to the "
                                               r"last \(350 bytes take 182 ms at 19200 baud\)", line)) \
        and int(found[1]) in milliseconds


class Check(unittest.TestCase):
    def assertCheck(self, code, expected, program, *args, when_listening=None, locale="C.UTF-8"):
        """PROGRAM (C:\\...) exits with CODE and prints EXPECTED in this order (lines, or functions that
        take one; others may come between) and last CODE's Result. when_listening: once the port is purged."""
        exe = os.path.join(PREFIX, "drive_c", program[3:].replace("\\", "/"))
        with tempfile.NamedTemporaryFile() as out:  # read by name: reading `out` moves the program's offset
            read = pathlib.Path(out.name).read_bytes
            running = subprocess.Popen([RUN, PREFIX, exe, *args], stdout=out, stderr=subprocess.STDOUT,
                                       stdin=subprocess.DEVNULL, env={**os.environ, "LC_ALL": locale})
            while when_listening and b"\nPort:" not in read() and running.poll() is None:
                time.sleep(0.01)
            if when_listening:
                when_listening()
            exit_code = running.wait(timeout=120)
            lines = read().decode("cp932").splitlines()
        taken = ", and the receiver takes its block" if code == 0 and args else ""
        self.assertEqual(f"Result:    {OUTCOMES[code]}{taken} (exit code {code})", lines[-1])
        rest = iter(lines)
        for want in expected:
            self.assertTrue(any(want(got) if callable(want) else want == got for got in rest),
                            f"{want}\n" + "\n".join(lines))
        self.assertEqual(code, exit_code)
        return lines

    def test_block_arrives_whole_split_by_a_pause_or_on_a_port_of_other_ids(self):
        """With other IDs the serial ports recorded are listed (not an instance without a port name)."""
        installed(("Vid_0abc&Pid_00ff", "Check", "PortName", "COM40"),
                  ("VID_1234&PID_5678", "5&1a&0&1", "PortName", "COM47"),
                  ("VID_046D&PID_C52B", "6&3c&0&2", "SymbolicName", "a mouse"))
        check = folder_with("found", DLL)
        lines = [f"VetrolinkCheck {VERSION}, {WIDTH}", f"Library:   C:\\found\\Vetrolink.dll, {WIDTH} DLL",
                 VERSION_LINE, "Windows:   WindowsVer gives 2007: Windows Vista or later (NT 6.x; 10 and 11 "
                 "show as 6.x to programs without a manifest)", device(0, "the device's ports were found"),
                 "Ports:     1 listed: COM40,"]
        with serialdevice.SerialDevice(PREFIX, 40) as port:
            block = lambda burst=False: port.send(bytes(range(256)) + bytes(range(94)), burst=burst)
            self.assertCheck(0, [*lines, "Port:      COM40 open at 19200 baud, 8 data bits, no parity, one "
                                 "stop bit; listening 3 s", received(range(170, 2000)), "First:     00 01 02 "
                                 "03 04 05 06 07", "Last:      56 57 58 59 5a 5b 5c 5d", "Line:      no "
                                 "framing, parity, overrun or break errors",
                                 "Block:     350 bytes within the receiver's time limit (more than 2 s by "
                                 "its clock ends a block): the receiver takes it"], check, "/listen", "3",
                             when_listening=block)
            self.assertEqual(serialdevice.Line(19200, 1), port.line())
            split = serialdevice.parse_script("burst pattern 175\nwait 3.5\nburst pattern 175 175\n")
            self.assertCheck(5, [*lines, received(range(3400, 8000)),
                                 "Block:     the receiver gives up on it: its clock moved more than 2 s "
                                 "after the first byte with 175 of 350 bytes in (it exits 9)"],
                             check, "/listen", "8", when_listening=lambda: port.start_script(split))
            port.finish_script()
            lines = self.assertCheck(2, [
                device(4, "no device with these IDs was ever installed on this PC", 0x1234),
                r"Message:   SYSTEM\CurrentControlSet\Enum\USB\Vid_1234&Pid_00ff",
                "Serial:    COM40: vendor ID 0ABC, product ID 00FF, present now",
                "Serial:    COM47: vendor ID 1234, product ID 5678, not present now (unplugged)",
                "Receiver:  looks for vendor ID 0ABC, product ID 00FF, not these IDs",
                received(range(2000)), lambda line: line.endswith("the receiver takes it")],
                check, "/vid", "1234", "/port", "COM40", "/listen", "3", when_listening=lambda: block(True))
            self.assertEqual(2, sum(line.startswith("Serial:") for line in lines), "\n".join(lines))

    def test_port_held_seen_from_a_folder_named_outside_the_ansi_code_page_on_nt_and_on_98(self):
        """NT's wide calls read the files whole (code page 437 prints ???); the 98 family's lose the name."""
        installed(("Vid_0abc&Pid_00ff", "Held", "PortName", "COM42"))
        installed(("ZELTRAUSBCOMM", "0000", "ParentDevNode", r"USB\VID_0ABC&PID_00FF\1", "PortName", "COM42"),
                  usb=r"HKLM\Enum\USB", parameters="")
        reg("add", r"HKCU\Software\Wine\AppDefaults\Check98.exe", "/v", "Version", "/d", "win98")
        check, check98 = folder_with("日本語", DLL), folder_with("日本語", DLL, "Check98.exe")
        held = [device(5, NOT_OPEN), "Ports:     0 listed"]
        serial = "Serial:    COM42: vendor ID 0ABC, product ID 00FF, present now, held by another program"
        try_port = "Try:       VetrolinkCheck /port COM42 /listen 10: it says why the port does not open"
        with serialdevice.PtyPort(PREFIX, 42) as port:
            fcntl.ioctl(port.slave, termios.TIOCEXCL)
            self.assertCheck(2, [f"Library:   C:\\???\\Vetrolink.dll, {WIDTH} DLL", VERSION_LINE, *held,
                                 JAPANESE, serial, try_port], check)
            self.assertCheck(2, [*held, "Message:   PortNameが開けないです。", serial, re.compile(
                r"Port:      COM42 does not open: another program holds it \(SetPort 1, Windows error \d+\)"
            ).fullmatch], folder_with("held", DLL), "/port", "COM42", "/listen", "1", locale="ja_JP.UTF-8")
            self.assertCheck(2, [
                "Folder:    C:\\???\\: this Windows cannot hand the folder's name to programs (each ? is a "
                "character it lacks); move the files to a folder with a plain name",
                "Library:   C:\\???\\Vetrolink.dll, unknown width DLL",
                "Windows:   WindowsVer gives 98: Windows 95, 98 or Me", device(8, NOT_OPEN), JAPANESE, serial,
                try_port], check98)

    def test_library_missing_stray_of_the_other_width_damaged_or_a_program(self):
        stray = pathlib.Path(PREFIX, "drive_c/windows", "syswow64" if WIDTH == "32-bit" else "system32",
                             "Vetrolink.dll")
        beside = r"C:\check\Vetrolink.dll"
        for dll, other, lines in (
                (None, None, [r"no Vetrolink.dll in C:\check\, nor anywhere else Windows looks: copy it "
                              "there from the archive (Windows error 126)"]),
                (None, pathlib.Path(OTHER_BIN, "Vetrolink.dll").read_bytes(), [
                    r"no Vetrolink.dll in C:\check\; Windows looked further and found C:\windows\system32"
                    r"\Vetrolink.dll", rf"C:\windows\system32\Vetrolink.dll is a {OTHER_WIDTH} DLL; this "
                    f"program is {WIDTH} and cannot load it: use the files of one archive (Windows error "
                    "193)"]),
                (DLL[:9999], None, [f"{beside} is a damaged copy (9999 bytes): take it again from the "
                                    "archive (Windows error 193)"]),
                (pathlib.Path(BIN, "VetrolinkCheck.exe").read_bytes(), None, [
                    f"{beside} is a {WIDTH} program, not a DLL: take Vetrolink.dll again from the archive"])):
            pathlib.Path(PREFIX, "drive_c/check/Vetrolink.dll").unlink(missing_ok=True)
            stray.write_bytes(other) if other else stray.unlink(missing_ok=True)
            self.assertCheck(1, [f"Library:   {line}" for line in lines], folder_with("check", dll))


if __name__ == "__main__":
    unittest.main(verbosity=2)
