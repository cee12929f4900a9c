#!/usr/bin/env python3
"""The receiver's numbers under Wine: publication latency, fidelity, start-up.

  receiver.py BUILD_DIR [--blocks N] [--fidelity-only]

BUILD_DIR is a win64 build (bin/ holds Ostrel.exe, Vetrolink.dll and
hoststandin.exe). Each of N cycles (default 200) runs the real receiver
with the host stand-in and the simulated device on COM31, in a Wine prefix
of this script's own. The block has random contents; the first half is sent
at 19200 8N1 pace, the second half in one burst.

- Publication latency (paced blocks): from the device handing over the
  350th byte to DataReady.csv existing, seen from the Linux side.
- A paced block's read time: from the device handing over the first byte
  to DataReady.csv existing, beside the block's 182 ms on the wire.
- Fidelity: every block published is compared with what was sent: bytes
  lost, added, or changed in place (reordered or corrupted).
- Start-up: from the host starting Ostrel.exe to the status line that says
  it waits for the first byte, as the host stand-in saw it.
"""
import argparse
import os
import random
import statistics
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools", "host"))
sys.path.insert(0, os.path.join(ROOT, "tools", "wine"))
import cycle  # noqa: E402
from wineprefix import throwaway_prefix  # noqa: E402
import serialdevice  # noqa: E402

PORT = 31
WIRE_MS = cycle.BLOCK_SIZE * 10 / 19200 * 1000  # 8N1: ten bits a byte


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def compare(sent, data):
    """(lost, added, changed) between the block sent and the published file."""
    if data is None:
        return len(sent), 0, 0
    got = bytes(int(v) for v in data.split(b"\r\n") if v)
    changed = sum(1 for a, b in zip(sent, got) if a != b)
    return max(0, len(sent) - len(got)), max(0, len(got) - len(sent)), changed


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build")
    parser.add_argument("--blocks", type=int, default=200)
    parser.add_argument("--fidelity-only", action="store_true")
    args = parser.parse_args(argv[1:])
    build = os.path.abspath(args.build)
    bin_dir = os.path.join(build, "bin")
    rng = random.Random(350)
    latencies, reads, startups, exits = [], [], [], {}
    lost = added = changed = bad_blocks = 0
    began = time.monotonic()
    with throwaway_prefix(os.path.join(build, "bench-receiver-prefix")) as prefix, \
            cycle.installed_device(prefix, PORT, "nt"), \
            serialdevice.SerialDevice(prefix, PORT) as device:
        for n in range(args.blocks):
            burst = n >= args.blocks // 2
            block = bytes(rng.randrange(256) for _ in range(cycle.BLOCK_SIZE))
            try:
                result = cycle.run_cycle(prefix, bin_dir, bin_dir, "bench", block,
                                         device=device, burst=burst)
            except cycle.CycleError as error:
                print(f"receiver: stopped at cycle {n + 1} of {args.blocks}: {error}")
                return 1
            exits[result.exit] = exits.get(result.exit, 0) + 1
            counts = compare(block, result.data)
            lost, added, changed = lost + counts[0], added + counts[1], changed + counts[2]
            bad_blocks += any(counts) or result.exit != "0"
            if result.ms("armed_ms") is not None:
                startups.append(result.ms("armed_ms"))
            if not burst and result.sent_at and result.ready_seen_at:
                latencies.append(1000 * (result.ready_seen_at - result.sent_at))
                reads.append(1000 * (result.ready_seen_at - result.began_at))

    print(f"receiver: {args.blocks} cycles in {time.monotonic() - began:.0f} s; exit codes "
          + ", ".join(f"{code}: {count}" for code, count in sorted(exits.items(), key=str)))
    print(f"  fidelity: {args.blocks} blocks of {cycle.BLOCK_SIZE} random bytes "
          f"({args.blocks - args.blocks // 2} burst, {args.blocks // 2} paced): "
          f"{lost} bytes lost, {added} added, {changed} changed in place; "
          f"{bad_blocks} blocks wrong")
    if not args.fidelity_only and latencies:
        median, p95 = statistics.median(latencies), percentile(latencies, 95)
        print(f"  publication latency (last byte sent -> DataReady.csv), {len(latencies)} paced "
              f"cycles: median {median:.1f} ms, p95 {p95:.1f} ms (goal: median < 5 ms, "
              f"p95 < 20 ms: {'within' if median < 5 and p95 < 20 else 'OUTSIDE'})")
        print(f"  paced block read (first byte sent -> DataReady.csv): median "
              f"{statistics.median(reads):.0f} ms, p95 {percentile(reads, 95):.0f} ms, beside "
              f"its wire time of {WIRE_MS:.0f} ms")
    if not args.fidelity_only and startups:
        print(f"  start-up (process start -> waiting for the first byte), {len(startups)} starts: "
              f"median {statistics.median(startups):.0f} ms, p95 {percentile(startups, 95):.0f} ms")
    return 1 if bad_blocks else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
