#!/usr/bin/env python3
"""What the receiver's waits cost under Wine, in numbers:
   bench/waits.py BUILD_DIR   (the win64 build; make bench runs it)

- CPU while Ostrel.exe waits for the first byte, and while it waits for the
  host's acknowledgement (the host stand-in never gives it): CPU time
  (utime + stime from /proc/PID/stat) of the receiver's process, of the
  prefix's wineserver and of the host stand-in over a fixed window, as a
  share of one core. CPU time, not wall time, as the machine is shared.
- CPU while VetrolinkCheck.exe listens on the device's port and nothing
  arrives: its process and the wineserver, the same way.
- Stop: from StopCommand.csv created (from Linux, at a random moment of the
  first-byte wait) to the receiver's process gone, exit code 8.

Runs in a throw-away prefix of its own, the device on COM31. The goals are
printed beside the figures; nothing here fails on a figure.
"""
import os
import random
import re
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools", "host"))
sys.path.insert(0, os.path.join(ROOT, "tools", "wine"))
import cycle  # noqa: E402
from wineprefix import throwaway_prefix  # noqa: E402
import serialdevice  # noqa: E402

PORT = 31
CASE = "bench_waits"
SETTLE, WINDOW = 0.5, 4.0  # seconds: into a wait before measuring, and how long
CPU_RUNS, STOP_RUNS = 3, 15
CPU_GOAL, STOP_GOAL_MS = 2.0, 100
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """utime + stime of a process; None once it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return (int(fields[11]) + int(fields[12])) / TICKS


def running(pid):
    """True until the process has exited (a zombie has exited)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def pid_of(program):
    """The process that runs the Windows program of that file name, or None."""
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    first = f.read().split(b"\0")[0].decode(errors="replace")
            except OSError:
                continue
            if re.split(r"[\\/]", first)[-1].lower() == program.lower():
                return int(entry)
    return None


def wineserver_of(prefix):
    """The prefix's wineserver: it works in a folder named after the prefix's
    device and inode (server-DEV-INODE)."""
    st = os.stat(os.path.realpath(prefix))
    name = f"server-{st.st_dev:x}-{st.st_ino:x}"
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                if os.path.basename(os.readlink(f"/proc/{entry}/cwd")) == name:
                    return int(entry)
            except OSError:
                pass
    raise SystemExit(f"no wineserver found for {prefix}")


def cpu_shares(pids):
    """% of one core each process used over WINDOW seconds, after SETTLE."""
    time.sleep(SETTLE)
    before, began = [cpu_seconds(p) for p in pids], time.monotonic()
    time.sleep(WINDOW)
    after, span = [cpu_seconds(p) for p in pids], time.monotonic() - began
    if None in before or None in after:
        raise SystemExit("a process ended while its CPU was measured")
    return [100 * (b - a) / span for a, b in zip(before, after)]


class Device(serialdevice.SerialDevice):
    """Plays the block once the receiver waits for it; cycle.run_cycle calls
    send() then. mode "cpu": measures the first-byte wait, sends the block,
    measures the acknowledgement wait (the host stand-in never acknowledges).
    mode "stop": sends nothing; creates the stop marker and times the exit."""

    def __init__(self, prefix, mode):
        super().__init__(prefix, PORT)
        self.prefix, self.mode, self.result = prefix, mode, None
        self.work = cycle.case_work_folder(prefix, CASE)

    def send(self, data, burst=False):
        pids = [pid_of(f"Ostrel_{CASE}.exe"), wineserver_of(self.prefix),
                pid_of("hoststandin.exe")]
        if None in pids:
            raise SystemExit(f"processes not found: {pids}")
        if self.mode == "stop":
            time.sleep(random.uniform(0.2, 0.5))  # any moment of the receiver's waiting read
            stop = os.path.join(self.work, "StopCommand.csv")
            made = time.monotonic()
            os.close(os.open(stop, os.O_CREAT | os.O_WRONLY))
            while running(pids[0]) and time.monotonic() - made < 10:
                time.sleep(0.0005)
            self.result = 1000 * (time.monotonic() - made)
            return
        first = cpu_shares(pids)
        super().send(data)
        ready = os.path.join(self.work, "DataReady.csv")
        while not os.path.exists(ready):
            time.sleep(0.005)
        self.result = first, cpu_shares(pids)


def one_cycle(prefix, bin_dir, mode):
    with Device(prefix, mode) as device:
        host_args = ["--no-ack"] if mode == "cpu" else []
        # The stand-in ends a receiver that waits for an acknowledgement that never comes.
        timeout = 3 * (SETTLE + WINDOW) + 2 if mode == "cpu" else 15
        result = cycle.run_cycle(prefix, bin_dir, bin_dir, CASE, bytes(cycle.BLOCK_SIZE),
                                 device=device, host_args=host_args, timeout=timeout)
    expected = "timeout" if mode == "cpu" else "8"
    if result.exit != expected or device.result is None:
        raise SystemExit(f"{mode} cycle: exit {result.exit}, expected {expected}: {result.report}")
    return device.result


def listening_check(prefix, bin_dir):
    """CPU of the check program's listen while the device stays silent."""
    with serialdevice.SerialDevice(prefix, PORT):
        check = subprocess.Popen([cycle.WINE_RUN, prefix, os.path.join(bin_dir, "VetrolinkCheck.exe"),
                                  "/listen", str(int(3 * SETTLE + WINDOW + 2))],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        while pid_of("VetrolinkCheck.exe") is None and check.poll() is None:
            time.sleep(0.01)
        time.sleep(2 * SETTLE)  # past loading the library and ComPort's walk
        shares = cpu_shares([pid_of("VetrolinkCheck.exe"), wineserver_of(prefix)])
        check.wait(timeout=60)
    return shares


def describe(name, runs):
    """One line: the median of the runs for each process."""
    receiver, server, host = (statistics.median(r[i] for r in runs) for i in range(3))
    verdict = "within" if max(receiver, server) < CPU_GOAL else "OUTSIDE"
    return (f"CPU while waiting for {name} (median of {len(runs)} windows of {WINDOW:.0f} s): "
            f"Ostrel.exe {receiver:.1f} %, wineserver {server:.1f} % of a core "
            f"(goal < {CPU_GOAL:.0f} % each: {verdict}); host stand-in {host:.1f} %")


def main(build_dir):
    bin_dir = os.path.abspath(os.path.join(build_dir, "bin"))
    random.seed(27)
    with throwaway_prefix(tempfile.mkdtemp(prefix="vl-bench-waits-")) as prefix, \
            cycle.installed_device(prefix, PORT, "nt"):
        waits = [one_cycle(prefix, bin_dir, "cpu") for _ in range(CPU_RUNS)]
        stops = [one_cycle(prefix, bin_dir, "stop") for _ in range(STOP_RUNS)]
        check, server = listening_check(prefix, bin_dir)
    print(describe("the first byte", [w[0] for w in waits]))
    print(describe("the acknowledgement", [w[1] for w in waits]))
    median = statistics.median(stops)
    print(f"stop marker before the first byte to exit 8: median {median:.0f} ms "
          f"(min {min(stops):.0f}, max {max(stops):.0f}, {len(stops)} runs; goal: median < "
          f"{STOP_GOAL_MS} ms: {'within' if median < STOP_GOAL_MS else 'OUTSIDE'})")
    print(f"CPU while VetrolinkCheck /listen hears nothing ({WINDOW:.0f} s): VetrolinkCheck.exe "
          f"{check:.1f} %, wineserver {server:.1f} % of a core")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "win64"))
