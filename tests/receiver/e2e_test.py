#!/usr/bin/env python3
"""Ostrel.exe end to end under Wine: the real receiver and library, the
simulated device on a pty-backed COM port, the host stand-in.

  e2e_test.py NtFamily | Family98 | FullDisk     (unittest arguments)

FullDisk needs root: it runs in a private mount namespace of its own.

Environment: VL_WINE_PREFIX, VL_BIN_DIR (Ostrel.exe, Vetrolink.dll),
VL_TOOLS_BIN_DIR (hoststandin.exe). The expected texts are encoded here
with Python's cp932 codec, independently of the receiver's own bytes.
"""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "host"))
import cycle  # noqa: E402
import serialdevice  # noqa: E402

PREFIX = os.environ.get("VL_WINE_PREFIX", "")
BIN = os.environ.get("VL_BIN_DIR", "")
TOOLS_BIN = os.environ.get("VL_TOOLS_BIN_DIR", "")
PLATFORM = os.environ.get("VL_PLATFORM", "win64")

STEP_WORDS = "：データの書き込みは失敗した。V19"


def status(*lines):
    """Status lines as the receiver writes them: CR LF between, none after."""
    return "\r\n".join(lines).encode("cp932")


def steps(*numbers):
    return [f"{n}{STEP_WORDS}" for n in numbers]


ARMED = steps(1, 2, 4, 5)
STOPPED = status(*ARMED, "1：外部制御で停止しました。")
FILE_FAILED = status(*ARMED, *steps(6), "1：ファイルへの書き込み失敗。")


def timed_out(count):
    return status(*ARMED, *steps(6), "9：時間制御で、受信停止する。", f"{count}：時間制御で、停止時の受信数。")


def published(block):
    return b"".join(b"%d\r\n" % b for b in block)


# Every value from 0 to 255 at least once, in an order that shows reordering.
BLOCK = bytes([0, 255] + [(i * 37 + 11) % 256 for i in range(348)])


class Cycles(unittest.TestCase):
    """Scenarios sharing one installed device on COM<PORT>."""
    PORT = None
    FAMILY = None

    @classmethod
    def setUpClass(cls):
        cls.installed = cycle.installed_device(PREFIX, cls.PORT, cls.FAMILY)
        cls.installed.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.installed.__exit__(None, None, None)

    def run_cycle(self, block=BLOCK, plugged=True, **kwargs):
        case = f"{PLATFORM}_{self.FAMILY}_{self._testMethodName[5:]}"
        if not plugged:
            return cycle.run_cycle(PREFIX, BIN, TOOLS_BIN, case, None, **kwargs)
        with serialdevice.SerialDevice(PREFIX, self.PORT) as device:
            return cycle.run_cycle(PREFIX, BIN, TOOLS_BIN, case, block, device=device, **kwargs)

    def assertPublishedAndCleaned(self, result, block=BLOCK):
        self.assertEqual("0", result.exit, result.report)
        self.assertEqual(b"0", result.ready_status)
        self.assertEqual(published(block[:cycle.BLOCK_SIZE]), result.data)
        self.assertEqual([], result.left)


class NtFamily(Cycles):
    PORT = 31
    FAMILY = "nt"

    def test_win7_and_win10_take_the_application_data_folder(self):
        for version, burst in (("win7", False), ("win10", True)):
            with self.subTest(version):
                result = self.run_cycle(windows_version=version, appdata_rule=True, burst=burst)
                self.assertPublishedAndCleaned(result)

    def test_winxp_takes_the_current_directory_while_the_host_reads_the_status(self):
        result = self.run_cycle(windows_version="winxp", host_args=["--hold-status-open"])
        self.assertPublishedAndCleaned(result)
        # The host held the status file open from its first line on; the
        # receiver's appends went on, and every read showed what was written so far.
        receiving = status(*ARMED, *steps(6))
        self.assertIn(receiving, result.status_seen)
        for seen in result.status_seen:
            self.assertTrue(seen == b"0" or receiving.startswith(seen), seen)

    def test_more_than_a_block_publishes_the_first_350_bytes(self):
        result = self.run_cycle(BLOCK + bytes(range(50)), burst=True)
        self.assertPublishedAndCleaned(result)

    def test_stale_exchange_files_are_removed_at_start(self):
        stale = {name: b"stale\r\n" for name in
                 ("ReceiveData.csv", "DataReady.csv", "ErrorMessage.csv", "StopCommand.csv")}
        result = self.run_cycle(plant=stale)
        self.assertPublishedAndCleaned(result)

    def test_stop_marker_ends_the_wait_for_the_first_byte(self):
        result = self.run_cycle(None, host_args=["--stop-when-armed"])
        self.assertEqual("8", result.exit)
        self.assertEqual(STOPPED, result.final_status)
        self.assertEqual(["ErrorMessage.csv", "StopCommand.csv"], result.left)

    def test_stop_marker_held_without_read_sharing_counts_only_once_released(self):
        result = self.run_cycle(None, host_args=["--hold-stop-locked", "700"])
        self.assertEqual(["1"], result.report.get("running_while_stop_locked"))
        self.assertEqual("8", result.exit)
        self.assertEqual(STOPPED, result.final_status)

    def test_stop_marker_during_the_block_acknowledges_the_published_data(self):
        result = self.run_cycle(host_args=["--stop-when-receiving", "--no-ack"])
        self.assertEqual("0", result.exit, result.report)
        self.assertEqual([], result.left)

    def test_receive_data_created_by_someone_else_fails_the_publication(self):
        result = self.run_cycle(host_args=["--plant-receive-data"])
        self.assertEqual("5", result.exit, result.report)
        self.assertEqual(FILE_FAILED, result.final_status)
        self.assertIsNone(result.data)
        self.assertEqual(["DataReady.csv", "ErrorMessage.csv", "ReceiveData.csv", "tempdata.csv"],
                         result.left)

    def test_a_short_block_times_out_with_its_count(self):
        result = self.run_cycle(BLOCK[:100], burst=True)
        self.assertEqual("9", result.exit)
        self.assertEqual(timed_out(100), result.final_status)
        self.assertEqual(["ErrorMessage.csv"], result.left)

    def test_start_up_failures_leave_the_folder_untouched(self):
        earlier = {"ReceiveData.csv": b"1\r\n", "StopCommand.csv": b""}
        without_windowsver = os.path.join(BIN, "without_windowsver", "Vetrolink.dll")
        for name, kwargs in (("no device", dict(plugged=False)),
                             ("no library", dict(library=None)),
                             ("library without WindowsVer", dict(library=without_windowsver))):
            with self.subTest(name):
                result = self.run_cycle(plant=earlier, **kwargs)
                self.assertEqual("3", result.exit)
                self.assertEqual(["ReceiveData.csv", "StopCommand.csv"], result.left)
                self.assertIsNone(result.final_status)

    def test_a_current_directory_too_short_to_name_a_folder_ends_with_exit_1(self):
        result = self.run_cycle(None, host_args=["--start-in", "C:\\"],
                                plant={"StopCommand.csv": b""})
        self.assertEqual("1", result.exit)
        self.assertEqual(["StopCommand.csv"], result.left)


class FullDisk(Cycles):
    """The work folder on a one-page tmpfs, which the status file's first
    line takes: the status lines still fit, the 350 data lines do not."""
    PORT = 33
    FAMILY = "nt"

    @classmethod
    def setUpClass(cls):
        cls.server = cycle.private_wineserver(PREFIX)
        cls.server.__enter__()
        super().setUpClass()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.server.__exit__(None, None, None)

    def test_a_block_that_did_not_reach_the_disk_is_not_published(self):
        result = self.run_cycle(work_tmpfs="size=4k")
        self.assertEqual("5", result.exit, result.report)
        self.assertEqual(FILE_FAILED, result.final_status)
        self.assertEqual(["DataReady.csv", "ErrorMessage.csv", "tempdata.csv"], result.left)


class Family98(Cycles):
    PORT = 32
    FAMILY = "98"

    def test_win98_takes_the_current_directory(self):
        result = self.run_cycle(windows_version="win98")
        self.assertPublishedAndCleaned(result)


if __name__ == "__main__":
    for name in ("VL_WINE_PREFIX", "VL_BIN_DIR", "VL_TOOLS_BIN_DIR"):
        if not os.environ.get(name):
            sys.exit(f"{name} is not set")
    if "FullDisk" in sys.argv[1:] and os.environ.get("VL_PRIVATE_MOUNTS") != "1":
        # Its mounts and its wineserver stay inside a mount namespace of its own.
        if os.geteuid() != 0:
            sys.exit("FullDisk needs root (a tmpfs in a private mount namespace)")
        os.environ["VL_PRIVATE_MOUNTS"] = "1"
        os.execvp("unshare", ["unshare", "--mount", sys.executable, *sys.argv])
    unittest.main(verbosity=2)
