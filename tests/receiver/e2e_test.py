"""Ostrel.exe end to end under Wine: the real receiver and library, the
simulated device, the host stand-in, and the work folder watched through
inotify, whose queue keeps the receiver's file operations in their order.

  e2e_test.py NtFamily | FullDisk   (FullDisk as root only)
"""
import contextlib
import ctypes
import os
import pathlib
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tools/host"))
import cycle  # noqa: E402
import serialdevice  # noqa: E402

PREFIX, BIN, TOOLS_BIN = (os.environ.get(f"VL_{name}", "")
                          for name in ("WINE_PREFIX", "BIN_DIR", "TOOLS_BIN_DIR"))
PLATFORM = os.environ.get("VL_PLATFORM", "win64")


def status(*lines):  # CR LF between the lines, none after; bytes from Python's cp932
    return "\r\n".join(lines).encode("cp932")


RECEIVING = [f"{n}：データの書き込みは失敗した。V19" for n in (1, 2, 4, 5, 6)]
STOPPED = status(*RECEIVING[:4], "1：外部制御で停止しました。")
FILE_FAILED = status(*RECEIVING, "1：ファイルへの書き込み失敗。")
TIMED_OUT_AT_100 = status(*RECEIVING, "9：時間制御で、受信停止する。", "100：時間制御で、停止時の受信数。")
# Every value from 0 to 255 at least once, in an order that shows reordering.
BLOCK = bytes([0, 255] + [(i * 37 + 11) % 256 for i in range(348)])
PUBLISHED = b"".join(b"%d\r\n" % b for b in BLOCK)
CLEAN_UP = ["ReceiveData.csv", "StopCommand.csv", "ErrorMessage.csv", "DataReady.csv"]
IN_MODIFY, IN_MOVED_TO, IN_CREATE, IN_DELETE = 0x2, 0x80, 0x100, 0x200
libc = ctypes.CDLL(None, use_errno=True)


def changes_of(watch):
    """[(event, file name)] in the order the kernel queued them; ends the watch."""
    with open(watch, "rb", buffering=0) as queue:
        data, changes = queue.read() or b"", []
    while data:
        _, event, _, length = struct.unpack_from("iIII", data)
        changes.append((event, data[16:16 + length].rstrip(b"\0").decode()))
        data = data[16 + length:]
    return changes


class Device(serialdevice.SerialDevice):
    """With hold_for (a path) it sends the first byte, then the rest once that file
    exists: the receiver stays in its receiving state until the host has acted. With
    link (two paths) it first makes the second a link to the first."""
    hold_for = link = None

    def send(self, data, burst=False):
        if self.link:
            os.link(*self.link)
        if self.hold_for:
            super().send(data[:1], burst=True)
            deadline = time.monotonic() + 10
            while not os.path.exists(self.hold_for) and time.monotonic() < deadline:
                time.sleep(0.002)
            data = data[1:]
        super().send(data, burst)


class Cycles(unittest.TestCase):
    """Scenarios sharing one installed device on COM<PORT>."""
    PORT = FAMILY = None
    TMPFS = None  # mount options of a tmpfs for the work folder, on a wineserver of its own

    @classmethod
    def setUpClass(cls):
        if cls.TMPFS:
            cls.enterClassContext(cycle.private_wineserver(PREFIX))
        cls.enterClassContext(cycle.installed_device(PREFIX, cls.PORT, cls.FAMILY))

    def run_cycle(self, block=BLOCK, plugged=True, hold_for=None, keep_scratch=False, **kwargs):
        case = f"{PLATFORM}_{self.FAMILY}_{self._testMethodName[5:]}"
        work = (cycle.appdata_work_folder(PREFIX) if kwargs.get("appdata_rule")
                else cycle.case_work_folder(PREFIX, case))
        os.makedirs(work, exist_ok=True)
        if self.TMPFS:
            cycle.mount_tmpfs(work, self.TMPFS)
        watch = libc.inotify_init1(os.O_NONBLOCK)
        if libc.inotify_add_watch(watch, os.fsencode(work),
                                  IN_MODIFY | IN_MOVED_TO | IN_CREATE | IN_DELETE) < 0:
            raise OSError(ctypes.get_errno(), f"inotify on {work}")
        with Device(PREFIX, self.PORT) if plugged else contextlib.nullcontext() as device:
            if hold_for:
                device.hold_for = os.path.join(work, hold_for)
            if keep_scratch:  # a second name that the receiver does not know
                device.link = os.path.join(work, "tempdata.csv"), os.path.join(work, "kept")
            result = cycle.run_cycle(PREFIX, BIN, TOOLS_BIN, case, block, device=device, **kwargs)
        result.kept = keep_scratch and pathlib.Path(work, "kept").read_bytes()
        changes = changes_of(watch)
        # A host that reads the status file once, the moment DataReady.csv appears, finds what
        # the stand-in found later: from then on the status and the data only get deleted.
        ready = [i + 1 for i, c in enumerate(changes) if c == (IN_CREATE, "DataReady.csv")]
        after = changes[ready[-1] if ready else len(changes):]
        result.deleted = [name for event, name in changes if event == IN_DELETE]
        self.assertEqual([], [(event, name) for event, name in after if event != IN_DELETE
                              and name in ("ErrorMessage.csv", "ReceiveData.csv")])
        return result

    def assertEnded(self, result, exit_code, final_status, left):
        self.assertEqual((exit_code, final_status, left),
                         (result.exit, result.final_status, result.left), result.report)


class NtFamily(Cycles):
    PORT = 31
    FAMILY = "nt"

    def test_win7_and_win10_publish_in_the_application_data_folder(self):
        # Started in C:\, where the current-directory rule would name no folder.
        common = dict(appdata_rule=True, host_args=["--start-in", "C:\\"])
        # An earlier run's files go first, in this order. (No stale status file: the stand-in,
        # reading it as the receiver deletes it, would hold the deletion up.)
        stale = dict.fromkeys(["ReceiveData.csv", "DataReady.csv", "StopCommand.csv"], b"old")
        for name, kwargs in (("win7, paced, over an earlier run's files",
                              dict(windows_version="win7", plant=stale)),
                             ("win10, in a burst with 50 bytes too many",
                              dict(windows_version="win10", block=BLOCK + bytes(50), burst=True))):
            with self.subTest(name):
                result = self.run_cycle(**common, **kwargs)
                self.assertEnded(result, "0", None, [])
                self.assertEqual((b"0", PUBLISHED), (result.ready_status, result.data))
                self.assertEqual([*kwargs.get("plant", []), *CLEAN_UP], result.deleted)

    def test_stop_marker_ends_the_wait_once_its_writer_lets_it_be_read(self):
        result = self.run_cycle(None, host_args=["--hold-stop-locked", "700"])
        self.assertEqual(["1"], result.report.get("running_while_stop_locked"))
        self.assertEnded(result, "8", STOPPED, ["ErrorMessage.csv", "StopCommand.csv"])

    def test_stop_marker_made_during_the_block_acknowledges_the_published_data(self):
        # An earlier run's scratch file is written over in place: a second link to it keeps the
        # data published in the current directory's work folder after the clean-up.
        result = self.run_cycle(hold_for="StopCommand.csv", plant={"tempdata.csv": b"old"},
                                keep_scratch=True, host_args=["--stop-when-receiving", "--no-ack"])
        self.assertEnded(result, "0", None, [])
        self.assertCountEqual(CLEAN_UP, result.deleted)  # the host reading the status may delay one
        self.assertEqual(PUBLISHED, result.kept)

    def test_receive_data_made_by_someone_else_fails_the_publication(self):
        # The host holds the status file open while the receiver writes it, and
        # plants ReceiveData.csv once it has read step line 6.
        result = self.run_cycle(hold_for="ReceiveData.csv",
                                host_args=["--hold-status-open", "--plant-receive-data"])
        self.assertEnded(result, "5", FILE_FAILED,
                         ["DataReady.csv", "ErrorMessage.csv", "ReceiveData.csv", "tempdata.csv"])

    def test_a_short_block_times_out_with_its_count(self):
        self.assertEnded(self.run_cycle(BLOCK[:100], burst=True), "9", TIMED_OUT_AT_100,
                         ["ErrorMessage.csv"])

    def test_start_up_and_work_folder_failures_leave_the_folder_untouched(self):
        without_exports = os.path.join(BIN, "without_exports", "Vetrolink.dll")
        earlier = {"ReceiveData.csv": b"1\r\n", "StopCommand.csv": b""}
        for name, code, how in (
                ("no device", "3", dict(plugged=False)), ("no library", "3", dict(library=None)),
                ("a library without WindowsVer", "3", dict(library=without_exports)),
                ("a current directory too short to name a folder", "1",
                 dict(host_args=["--start-in", "C:\\"]))):
            with self.subTest(name):
                self.assertEnded(self.run_cycle(None, plant=earlier, **how), code, None, [*earlier])


class FullDisk(Cycles):
    """The work folder on a one-page tmpfs: the status lines fit, the data lines do not."""
    PORT = 33
    FAMILY = "nt"
    TMPFS = "size=4k"

    def test_a_block_that_did_not_reach_the_disk_is_not_published(self):
        left = ["DataReady.csv", "ErrorMessage.csv", "tempdata.csv"]
        self.assertEnded(self.run_cycle(), "5", FILE_FAILED, left)


if __name__ == "__main__":
    if not (PREFIX and BIN and TOOLS_BIN):
        sys.exit("VL_WINE_PREFIX, VL_BIN_DIR and VL_TOOLS_BIN_DIR must be set")
    if "FullDisk" in sys.argv[1:] and os.environ.get("VL_PRIVATE_MOUNTS") != "1":
        # Its mounts and its wineserver stay inside a mount namespace of its own.
        if os.geteuid() != 0:
            sys.exit("FullDisk needs root (a tmpfs in a private mount namespace)")
        os.environ["VL_PRIVATE_MOUNTS"] = "1"
        os.execvp("unshare", ["unshare", "--mount", sys.executable, *sys.argv])
    unittest.main(verbosity=2)
