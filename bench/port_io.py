#!/usr/bin/env python3
"""Port operations under Wine against the simulated device, in numbers:
   bench/port_io.py BUILD_DIR   (the win64 build; make bench runs it)

- ReadData calls a second on a port with nothing waiting (the receiver's
  polling rate);
- a 350-byte block paced at 19200 8N1: time from its first to its last
  byte as read one by one with ReadData (the line itself takes 182 ms);
- the same block in one burst.
Runs in a throw-away prefix of its own, on COM25."""
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

PORT = 25
RUNS = 5


def probe(prefix, bin_dir, steps):
    """tests/seriallink/probe.cpp's steps on COM<PORT>; its lines as words."""
    command = [os.path.join(ROOT, "tools", "wine", "run"), prefix,
               os.path.join(bin_dir, "probe.exe"), "open", f"COM{PORT}", "19200", "8", "0", "0",
               *steps.split(), "close"]
    with tempfile.TemporaryFile() as out:
        subprocess.run(command, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                       check=True, timeout=120)
        out.seek(0)
        return [line.split() for line in out.read().decode().splitlines()]


def block_span(prefix, bin_dir, burst):
    block = bytes(i % 256 for i in range(350))
    with serialdevice.SerialDevice(prefix, PORT) as device:
        device.start_script([("configured", 19200, 30.0), ("wait", 0.3),
                             ("burst" if burst else "send", block)])
        lines = probe(prefix, bin_dir, "read 350 10000")
        device.finish_script(timeout=30)
    result, data, _, span = lines[1][1:5]
    if (result, len(data)) != ("0", 700):
        raise SystemExit(f"block not read whole: {lines}")
    return int(span)


def main(build_dir):
    bin_dir = os.path.abspath(os.path.join(build_dir, "bin"))
    with throwaway_prefix(tempfile.mkdtemp(prefix="vl-bench-port-")) as prefix:
        polls = []
        for _ in range(RUNS):
            with serialdevice.SerialDevice(prefix, PORT):
                lines = probe(prefix, bin_dir, "read 1 1000")  # nothing comes
            polls.append(int(lines[1][3]))
        paced = [block_span(prefix, bin_dir, burst=False) for _ in range(RUNS)]
        burst = [block_span(prefix, bin_dir, burst=True) for _ in range(RUNS)]
    print(f"ReadData on an empty port: median {statistics.median(polls):.0f} calls/s "
          f"(min {min(polls)}, max {max(polls)}, {RUNS} runs of 1 s)")
    print(f"350 bytes paced at 19200 8N1, first to last byte read: median "
          f"{statistics.median(paced)} ms (min {min(paced)}, max {max(paced)}; line time 182 ms)")
    print(f"350 bytes in one burst, first to last byte read: median "
          f"{statistics.median(burst)} ms (min {min(burst)}, max {max(burst)})")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "win64"))
