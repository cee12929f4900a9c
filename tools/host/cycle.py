"""One receive cycle of Ostrel.exe under Wine, end to end, from the Linux side.

The simulated device (tools/serialdevice) sends the block on a pty-backed COM
port whose registry entry this module writes; the host stand-in
(hoststandin.exe) starts the receiver and plays the host application; this
module watches the work folder, sends the block once the receiver waits for
it, and returns what the host stand-in reported.

    with installed_device(prefix, 31, family="nt"):
        result = run_cycle(prefix, bin_dir, tools_bin_dir, "happy", block,
                           windows_version="winxp")
        result.exit, result.data, result.status ...

A cycle that leaves no report raises CycleError, which says why.
Used by the end-to-end tests, `make demo` and bench/receiver.py.
"""
import contextlib
import os
import shutil
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "serialdevice"))
import serialdevice  # noqa: E402

WINE_RUN = os.path.join(ROOT, "tools", "wine", "run")
VENDOR_ID = 0x0ABC
PRODUCT_ID = 0x00FF
BLOCK_SIZE = 350
INSTANCE = "OstrelCycle"
NT_KEY = f"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_{VENDOR_ID:04x}&Pid_{PRODUCT_ID:04x}"
KEY_98 = "HKLM\\Enum\\USB\\ZELTRAUSBCOMM"
ARMED = "\n5：".encode("cp932")  # the receiver waits for the first byte


def wine(prefix, *args, check=True):
    """Runs a Windows program; Wine's output goes nowhere (a pipe would never end)."""
    result = subprocess.run([WINE_RUN, prefix, *args], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if check and result.returncode != 0:
        raise RuntimeError(f"wine {' '.join(args)}: exit {result.returncode}")
    return result.returncode


def drive_c(prefix, *parts):
    return os.path.join(prefix, "drive_c", *parts)


def windows_path(prefix, unix_path):
    """C:\\... for a path inside the prefix's drive_c."""
    relative = os.path.relpath(unix_path, drive_c(prefix))
    return "C:\\" + relative.replace("/", "\\")


def appdata_work_folder(prefix):
    """The work folder of the application-data rule, as a Unix path."""
    users = drive_c(prefix, "users")
    user = next(u for u in sorted(os.listdir(users)) if u != "Public")
    return os.path.join(users, user, "AppData", "Roaming", "Tervon", "KAV20", "work")


@contextlib.contextmanager
def installed_device(prefix, port, family="nt"):
    """The registry entry that the device's driver leaves, naming COM<port>:
    family "nt" (win2000 and later) or "98" (Windows 98). Removed afterwards."""
    name = f"COM{port}"
    if family == "nt":
        key = NT_KEY
        wine(prefix, "reg", "add", f"{key}\\{INSTANCE}\\Device Parameters", "/v", "PortName",
             "/d", name, "/f")
    else:
        key = KEY_98
        parent = f"USB\\VID_{VENDOR_ID:04X}&PID_{PRODUCT_ID:04X}\\{INSTANCE}"
        wine(prefix, "reg", "add", f"{key}\\{INSTANCE}", "/v", "ParentDevNode", "/d", parent, "/f")
        wine(prefix, "reg", "add", f"{key}\\{INSTANCE}", "/v", "PortName", "/d", name, "/f")
    try:
        yield
    finally:
        wine(prefix, "reg", "delete", key, "/f", check=False)


def mount_tmpfs(folder, options):
    subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", folder], check=True)


def server_folder(prefix):
    """Where Wine keeps the socket of PREFIX's server: Debian's Wine names a
    folder of TMPDIR in the prefix's file "wineserver", upstream Wine uses
    /tmp/.wine-<uid>."""
    try:
        with open(os.path.join(prefix, "wineserver")) as f:
            return os.path.join(os.environ.get("TMPDIR", "/tmp"), f.read().strip())
    except FileNotFoundError:
        return f"/tmp/.wine-{os.getuid()}"


@contextlib.contextmanager
def private_wineserver(prefix):
    """A wineserver for PREFIX that sees this process's own mounts: Wine's
    server, not the program, opens, renames and deletes files. Root only, in
    a private mount namespace, where a tmpfs hides the shared server's socket."""
    if os.readlink("/proc/self/ns/mnt") == os.readlink(f"/proc/{os.getppid()}/ns/mnt"):
        raise RuntimeError("not in a private mount namespace (unshare --mount)")
    mount_tmpfs(server_folder(prefix), "mode=0700")
    env = dict(os.environ, WINEPREFIX=os.path.realpath(prefix))
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], env=env, check=True, **quiet)
    try:
        yield
    finally:
        subprocess.run(["wineserver", "-k"], env=env, **quiet)
        subprocess.run(["wineserver", "-w"], env=env, **quiet)


class CycleError(Exception):
    """A cycle that left no report: the message holds the host stand-in's exit
    code and everything it and the receiver printed."""


class Cycle:
    """What one cycle left: the host stand-in's report, decoded."""

    def __init__(self, report, began_at, sent_at, ready_seen_at):
        self.report = report
        self.exit = report.get("exit", [None])[0]
        self.data = bytes.fromhex(report["data_hex"][0]) if "data_hex" in report else None
        self.ready_status = (bytes.fromhex(report["ready_status_hex"][0])
                             if "ready_status_hex" in report else None)
        self.final_status = (bytes.fromhex(report["final_status_hex"][0])
                             if "final_status_hex" in report else None)
        self.status_seen = [bytes.fromhex(h) for h in report.get("status_seen_hex", [])]
        self.left = sorted(report.get("left", []))
        self.began_at = began_at            # monotonic time the device began to send
        self.sent_at = sent_at              # monotonic time of the last byte sent
        self.ready_seen_at = ready_seen_at  # monotonic time DataReady.csv was seen

    def ms(self, key):
        return float(self.report[key][0]) if key in self.report else None


def read_report(path):
    report = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            key, _, value = line.rstrip("\n").partition("=")
            report.setdefault(key, []).append(value)
    return report


def _wait_for(path, marker, stop, timeout):
    """Waits until the file at PATH holds MARKER; False on STOP or time-out."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and not stop.is_set():
        try:
            with open(path, "rb") as f:
                if marker in f.read():
                    return True
        except OSError:
            pass
        time.sleep(0.002)
    return False


def prepare_receiver(prefix, bin_dir, case, library="default"):
    """A copy of Ostrel.exe under a name of the case's own, so that its Windows
    version is its own, beside a copy of LIBRARY as Vetrolink.dll (default:
    the build's; None: no library). Returns the copy's Windows path."""
    folder = drive_c(prefix, "ostrel-cycles", case, "bin")
    os.makedirs(folder, exist_ok=True)
    exe = os.path.join(folder, f"Ostrel_{case}.exe")
    shutil.copyfile(os.path.join(bin_dir, "Ostrel.exe"), exe)
    dll = os.path.join(folder, "Vetrolink.dll")
    if library == "default":
        library = os.path.join(bin_dir, "Vetrolink.dll")
    if library:
        shutil.copyfile(library, dll)
    elif os.path.exists(dll):
        os.unlink(dll)
    return windows_path(prefix, exe)


def case_work_folder(prefix, case):
    return drive_c(prefix, "ostrel-cycles", case, "Work")


def run_cycle(prefix, bin_dir, tools_bin_dir, case, block=None, *, device=None,
              windows_version="winxp", appdata_rule=False, burst=False, host_args=(),
              plant=None, library="default", timeout=30.0):
    """Runs one cycle and returns a Cycle.

    DEVICE (a serialdevice.SerialDevice) sends BLOCK once the receiver waits
    for it (None: sends nothing). PLANT: {file name: bytes} put into the work
    folder before the receiver starts. HOST_ARGS: more hoststandin options.
    LIBRARY: the DLL put beside the receiver as Vetrolink.dll (None: none)."""
    receiver = prepare_receiver(prefix, bin_dir, case, library)
    work = appdata_work_folder(prefix) if appdata_rule else case_work_folder(prefix, case)
    os.makedirs(work, exist_ok=True)
    for name in os.listdir(work):
        os.unlink(os.path.join(work, name))
    for name, content in (plant or {}).items():
        with open(os.path.join(work, name), "wb") as f:
            f.write(content)
    report_path = drive_c(prefix, "ostrel-cycles", case, "report.txt")
    output_path = drive_c(prefix, "ostrel-cycles", case, "hoststandin.out")
    for path in (report_path, output_path):
        if os.path.exists(path):
            os.unlink(path)

    args = [os.path.join(tools_bin_dir, "hoststandin.exe"), "--receiver", receiver,
            "--report", windows_path(prefix, report_path), "--windows-version", windows_version,
            "--timeout", str(int(timeout * 1000))]
    if not appdata_rule:
        args += ["--work", windows_path(prefix, work)]
    args += list(host_args)

    stop = threading.Event()
    times = {}

    def play_device():
        status = os.path.join(work, "ErrorMessage.csv")
        if not _wait_for(status, ARMED, stop, timeout):
            return
        times["began"] = time.monotonic()
        device.send(block, burst=burst)
        times["sent"] = time.monotonic()
        ready = os.path.join(work, "DataReady.csv")
        while not stop.is_set() and time.monotonic() - times["sent"] < timeout:
            if os.path.exists(ready):
                times["ready"] = time.monotonic()
                return
            time.sleep(0.0002)

    player = None
    if device is not None and block is not None:
        player = threading.Thread(target=play_device, daemon=True)
        player.start()
    # The output goes to a file, not a pipe: Wine's services could hold a pipe.
    # The receiver's output lands there too, and the stand-in ends it with
    # the receiver's exit code.
    try:
        with open(output_path, "wb") as output:
            status = subprocess.run([WINE_RUN, prefix, *args], stdin=subprocess.DEVNULL,
                                    stdout=output, stderr=subprocess.STDOUT,
                                    timeout=timeout + 30).returncode
    except subprocess.TimeoutExpired:
        status = f"none: still running after {timeout + 30:.0f} s, ended"
    finally:
        stop.set()
        if player:
            player.join()
    if not os.path.exists(report_path):
        with open(output_path, "rb") as output:
            printed = output.read().decode(errors="replace").strip() or "(nothing)"
        raise CycleError(f"cycle {case!r}: the host stand-in left no report "
                         f"(exit code {status}); it and the receiver printed:\n{printed}")
    return Cycle(read_report(report_path), *(times.get(t) for t in ("began", "sent", "ready")))
