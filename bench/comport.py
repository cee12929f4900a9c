#!/usr/bin/env python3
"""ComPort under Wine, in numbers:
   bench/comport.py BUILD_DIR   (the win64 build; make bench runs it)

How long one ComPort call takes with 1, 16 and 64 instances of the device
in the registry, of which all but one name a port with nothing behind it
(every socket a device without a serial number was plugged into leaves one);
the one left is a pty-backed port. Median of several calls in several runs
of the probe program; the first call of each run is shown apart. Runs in a
throw-away prefix of its own, on COM10."""
import os
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "tools", "serialdevice"))
sys.path.insert(0, os.path.join(ROOT, "tools", "wine"))
import serialdevice  # noqa: E402
from wineprefix import throwaway_prefix  # noqa: E402

PORT = 10
PRODUCT = 0xFF
RUNS = 5
CALLS = 20
SIZES = {1: 0x1A20, 16: 0x1A21, 64: 0x1A22}  # instances: vendor ID


def wine(prefix, *command):
    with tempfile.TemporaryFile() as out:
        subprocess.run([os.path.join(ROOT, "tools", "wine", "run"), prefix, *command],
                       stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                       check=True, timeout=300)
        out.seek(0)
        return out.read().decode(errors="replace")


def registry_file(prefix):
    """The instances of every size as one .reg file; the last one has the port."""
    lines = ["REGEDIT4", ""]
    for instances, vendor in SIZES.items():
        key = ("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\"
               f"Vid_{vendor:04x}&Pid_{PRODUCT:04x}")
        for socket in range(1, instances + 1):
            port = f"COM{PORT}" if socket == instances else f"COM{100 + socket}"
            lines += [f"[{key}\\5&2c3a0f9&0&{socket:02d}\\Device Parameters]",
                      f'"PortName"="{port}"', ""]
    path = os.path.join(prefix, "comport-bench.reg")
    with open(path, "w", newline="\r\n") as f:
        f.write("\n".join(lines))
    return "Z:" + path.replace("/", "\\")


def time_calls(prefix, bin_dir, vendor):
    """Microseconds of each call, first calls apart."""
    first, rest = [], []
    for _ in range(RUNS):
        # Each find step makes one call: "find RESULT COUNT HEX MICROSECONDS".
        out = wine(prefix, os.path.join(bin_dir, "probe.exe"),
                   *(["find", str(vendor), str(PRODUCT)] * CALLS))
        lines = [line.split() for line in out.splitlines() if line.startswith("find")]
        if len(lines) != CALLS or any(line[1] != "0" for line in lines):
            raise SystemExit(f"ComPort did not find COM{PORT} for vendor {vendor:#x}: {out}")
        times = [int(line[4]) for line in lines]
        first.append(times[0])
        rest += times[1:]
    return first, rest


def main(build_dir):
    bin_dir = os.path.abspath(os.path.join(build_dir, "bin"))
    results = {}
    with throwaway_prefix(tempfile.mkdtemp(prefix="vl-bench-comport-")) as prefix:
        wine(prefix, "regedit", "/S", registry_file(prefix))
        with serialdevice.PtyPort(prefix, PORT):
            for instances, vendor in SIZES.items():
                results[instances] = time_calls(prefix, bin_dir, vendor)
    for instances, (first, rest) in results.items():
        ms = [t / 1000 for t in rest]
        print(f"ComPort, {instances:2d} instance(s), one port: "
              f"median {statistics.median(ms):.2f} ms "
              f"(min {min(ms):.2f}, max {max(ms):.2f}, {len(ms)} calls in {RUNS} runs); "
              f"first call of a run: median {statistics.median(first) / 1000:.2f} ms")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "win64"))
