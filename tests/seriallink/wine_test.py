"""Vetrolink.dll under Wine as a host program linked with it calls it (probe.cpp), with registry
keys of its own, pty-backed COM ports and the simulated device. Argument: Discovery (under the
ctest lock zeltra98) or Port. ComPort's messages are encoded here by Python's cp932 codec."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "serialdevice"))
import serialdevice  # noqa: E402

PREFIX, BIN = os.environ["VL_WINE_PREFIX"], os.environ["VL_BIN_DIR"]
NT_KEY = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USB\VID_{:04X}&PID_00FF"
KEY_98 = r"HKEY_LOCAL_MACHINE\Enum\USB\ZELTRAUSBCOMM"
# Wine tells each program the Windows version set for its file name;
# probe_win10.exe declares Windows 10 in its manifest, as the win10 mode needs.
MODES = {"probe-win98.exe": "win98", "probe-win2k.exe": "win2k", "probe-win7.exe": "win7",
         "probe-nt40.exe": "nt40", "probe_win10.exe": "win10"}
MODE_KEYS = {r"HKEY_CURRENT_USER\Software\Wine\AppDefaults" + "\\" + n: m for n, m in MODES.items()}
FIXTURES = [NT_KEY.format(0x1a01), NT_KEY.format(0x1a02), KEY_98, *MODE_KEYS]


def wine(*command):
    """Output through a file: Wine's services may hold a pipe open. A program that
    does not exit with 0 (a probe that crashed after its lines) fails the test."""
    with tempfile.TemporaryFile() as out:
        subprocess.run([os.environ["VL_WINE_RUN"], PREFIX, *command], stdout=out,
                       stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=120, check=True)
        out.seek(0)
        return out.read().decode(errors="replace")


def registry(keys):
    """Imports {key: {value name: text}}; a key written "-KEY" is deleted."""
    name = f"seriallink-{os.getpid()}.reg"
    with open(os.path.join(PREFIX, "drive_c", name), "w", newline="\r\n") as f:
        f.write("REGEDIT4\n" + "".join(f"\n[{key}]\n" + "".join(
            f'"{n}"="{v}"\n'.replace("\\", "\\\\") for n, v in values.items())
            for key, values in keys.items()))
    wine("regedit", "/S", "C:\\" + name)


def probe(program, steps):
    """PROGRAM's lines as words, timings left off."""
    lines = wine(os.path.join(BIN, program), *steps.split()).splitlines()
    return [w[:{"find": 4, "ver": 4, "read": 3}.get(w[0])] for w in map(str.split, lines) if w]


def found(result, text, count=-1, step="find"):
    """A ver or find line: TEXT in code page 932 and its NUL, the rest of the
    0xff fill untouched; count -1: untouched."""
    return [step, str(result), str(count), (text.encode("cp932") + b"\0").ljust(116, b"\xff").hex()]


class Discovery(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        registry({**{"-" + key: {} for key in FIXTURES},
                  **{key: {"Version": mode} for key, mode in MODE_KEYS.items()}})
        cls.addClassCleanup(registry, {"-" + key: {} for key in FIXTURES})
        for name in [name for name in MODES if name.startswith("probe-")]:
            shutil.copy(os.path.join(BIN, "probe.exe"), os.path.join(BIN, name))
            cls.addClassCleanup(os.unlink, os.path.join(BIN, name))
        # COM10, COM11, COM10000000 free; COM15 a link to nothing (an unplugged
        # adapter), COM16 to what is no terminal (it opens, reports no line).
        for port in ("10", "11", "10000000", "15:dangling", "16:notty"):
            cls.addClassCleanup(serialdevice.held_port(PREFIX, port).close)

    def test_nt_family_lists_free_ports_in_enumeration_order(self):
        nt = NT_KEY.format(0x1a01)
        # Instance names up to 99 characters count, commas and all; port names
        # up to 11 characters. The instances are made in the order of their names.
        instances = (("1", 15), ("2", 10), ("3", 16), ("4", 19), ("5", 10000000),
                     ("6", 100000000), ("a,b", 11), ("n" * 99, 10), ("n" * 100, 11))
        registry({**{rf"{nt}\{name}\Device Parameters": {"PortName": f"COM{port}"}
                     for name, port in instances},
                  NT_KEY.format(0x1a02) + r"\5&2c3a0f9&0&1\Device Parameters": {"PortName": "COM15"}})
        for program, family in (("probe-win2k.exe", "2000"), ("probe-win7.exe", "2007")):
            self.assertEqual(probe(program, "os find 0x1a01 255 find 0x1a03 255 find 0x1a02 255"), [
                ["os", family], found(0, "COM10,COM10000000,COM11,COM10,", 4),
                found(4, r"SYSTEM\CurrentControlSet\Enum\USB\Vid_1a03&Pid_00ff"),
                found(5, "PortNameが開けないです。", 0)])

    def test_98_family_keeps_instances_whose_parent_is_the_device_or_unknown(self):
        self.assertEqual(probe("probe-win98.exe", "os find 0x1a11 255"),
                         [["os", "98"], found(1, r"Enum\USB\ZELTRAUSBCOMMが開けないです。")])
        registry({KEY_98 + "\\" + instance: {"ParentDevNode": parent, "PortName": port}
                  for instance, parent, port in (
                      ("0000", r"USB\VID_QAQQ&PID_PPFF\6&11D1AB8&0&2", "COM10"),  # 32 apart
                      ("0001", r"USB\VID_1A11&PID_00FE\6&11D1AB8&0&3", "COM11"),  # other product
                      ("0002", r"USB\VID_1A11&PID_00F", "COM11"),  # too short
                      ("0003", r"USB\VID_1A12&PID_00FF\6&11D1AB8&0&4", "COM19"))})  # no port
        self.assertEqual(probe("probe-win98.exe", "find 0x1a12 255"),
                         [found(8, "WDMMDMnがないです。", 0)])
        registry({KEY_98 + r"\0004": {"PortName": "COM11"}})  # no ParentDevNode: kept
        self.assertEqual(probe("probe-win98.exe", "find 0x1a11 255"), [found(0, "COM10,COM11,", 2)])

    def test_windows_version_and_version_text(self):
        self.assertEqual(probe("probe-nt40.exe", "os ver"),
                         [["os", "0"], found(0, "Ver5.1", step="ver")])
        self.assertEqual(probe("probe_win10.exe", "os find 0x1a01 255"),
                         [["os", "0"], found(6, "パソコンのＯＳは判定できないです。")])


class Port(unittest.TestCase):
    def test_port_operations_as_the_device_sees_them(self):
        with serialdevice.SerialDevice(PREFIX, 12345678) as device:
            # The device is on the port with the longest name, 11 characters; COM29 has none.
            # It answers once it has the 64 bytes: no purge can take a byte from either side
            # before its time. Of its three bytes, the first is read, mode 2 leaves the second,
            # mode 1 purges the third (then two reads find nothing and leave the byte as the
            # probe filled it, 0x00 and 0xff). Reads and writes on SetPortOver's handle pass no
            # OVERLAPPED record: Wine fails them.
            device.start_script(serialdevice.parse_script("written 64\nburst 5a a5 3c"))
            steps = ("open COM29 {0} open COM123456789 {0} open COM12345678 {0} write 64 write 65 "
                     "write 0 read 1 10000 clear 2 read 1 0 clear 1 read 1 0 read 1 0 clear 0 "
                     "clear 3 clear -1 close close clear 0 over COM12345678 {0} read 1 0 write 1 "
                     "close")
            self.assertEqual(probe("probe.exe", steps.format("19200 8 0 0")), [
                *[["open", "1", "untouched"]] * 2, ["open", "0"], ["write", "0", "64"],
                ["write", "1", "0"], ["write", "0", "0"], ["read", "0", "5a"], ["clear", "0"],
                ["read", "0", "a5"], ["clear", "0"], *[["read", "1", "-"]] * 2,
                *[["clear", r] for r in "022"], ["close", "0"], ["close", "1"], ["clear", "1"],
                ["over", "0"], ["read", "2", "-"], ["write", "2", "0"], ["close", "0"]])
            device.finish_script(timeout=10)
            self.assertEqual(device.line(), serialdevice.Line(19200, 1))
            self.assertEqual(device.written, bytes(range(64)))


if __name__ == "__main__":
    unittest.main(verbosity=2)
