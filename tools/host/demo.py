#!/usr/bin/env python3
"""make demo: one data block from the simulated device to the host application.

  demo.py BUILD_DIR      (BUILD_DIR/bin holds Ostrel.exe, Vetrolink.dll,
                          Wendra.exe, hoststandin.exe and spreadsheet.exe:
                          a win64 build)

A throw-away Wine prefix gets a simulated USB device (its registry entry and a
pty-backed COM31). The host stand-in starts Ostrel.exe as the host application
would; the device sends a 350-byte measurement at 19200 8N1 once the receiver
waits for it; the host reads the published data and acknowledges. Then the
host closes a workbook in a stand-in spreadsheet application with Wendra.exe.
The demo shows what happened and removes the prefix.
"""
import math
import os
import subprocess
import sys
import time
import unicodedata

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "wine"))
import cycle  # noqa: E402
from wineprefix import throwaway_prefix  # noqa: E402
import serialdevice  # noqa: E402

PORT = 31

# What each status line means, by its number and words.
GLOSS = {
    "データの書き込みは失敗した。V19": "step reached (the words are fixed: the number tells how far it got)",
    "外部制御で停止しました。": "stopped by the host's stop marker",
    "時間制御で、受信停止する。": "time limit: reception stopped",
    "時間制御で、停止時の受信数。": "time limit: bytes received by then",
    "ファイルへの書き込み失敗。": "writing the data file failed",
}
STEP_MEANING = {
    "1": "started, stale exchange files removed",
    "2": "status file written",
    "4": "about to clear the port's buffers",
    "5": "waiting for the device's first byte",
    "6": "first byte in, collecting the block",
}
EXIT_MEANING = {
    "0": "data published and acknowledged",
    "1": "work folder not determined",
    "3": "link start-up failed (library, device or port)",
    "5": "publishing the data file failed",
    "8": "stopped by the host before the first byte",
    "9": "time limit passed before the block was complete",
}


def measurement():
    """A damped wave with a slow drift, 350 samples of one byte each."""
    return bytes(
        max(0, min(255, round(128 + 110 * math.exp(-i / 260) * math.sin(i / 9.0) + (i % 7) - 3)))
        for i in range(cycle.BLOCK_SIZE))


def plot(values, width=70, height=10):
    """A text plot: WIDTH columns, each the mean of its share of VALUES."""
    per = len(values) / width
    columns = [sum(values[int(c * per):int((c + 1) * per)]) / max(1, int((c + 1) * per) - int(c * per))
               for c in range(width)]
    rows = []
    for r in range(height, 0, -1):
        low = 256 * (r - 1) / height
        label = {height: " 255 |", 1: "   0 |"}.get(r, "     |")
        rows.append(label + "".join("█" if v >= low + 256 / height / 2 else ("▄" if v >= low else " ")
                                    for v in columns))
    rows.append("     +" + "-" * width)
    rows.append(f"      byte 1{' ' * (width - 17)}byte {len(values)}")
    return "\n".join(rows)


def width(text):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


def show_status(seen, final):
    """The status file as the host saw it grow, line by line, then its end."""
    lines = []
    for text in sorted((t for t in seen if t != b"0"), key=len):
        for line in text.decode("cp932").split("\r\n"):
            if line not in lines:
                lines.append(line)
    for line in lines:
        number, _, words = line.partition("：")
        gloss = STEP_MEANING.get(number, "") if words.startswith("データ") else GLOSS.get(words, "")
        print(f"    {line}{' ' * max(2, 40 - width(line))}{gloss}")
    if final == b"0":
        line = '...then replaced by "0"'
        print(f"    {line}{' ' * (40 - width(line))}the success mark: the data is published")


def heading(text):
    print(f"\n== {text}")


def close_workbook_step(prefix, bin_dir):
    """The host has its data and closes a workbook with Wendra.exe: the
    stand-in spreadsheet application holds two books, and the closer is given
    one name in other letter case."""
    books = ["Book1.xlsx", "Measurement.xlsx"]
    asked = "MEASUREMENT.xlsx"
    folder = cycle.drive_c(prefix, "closer-demo")
    os.makedirs(folder, exist_ok=True)
    log, ready = os.path.join(folder, "calls.log"), os.path.join(folder, "ready")
    standin = [cycle.WINE_RUN, prefix, os.path.join(bin_dir, "spreadsheet.exe"),
               *[a for b in books for a in ("--book", b)],
               "--log", cycle.windows_path(prefix, log), "--ready", cycle.windows_path(prefix, ready),
               "--end-after", "Application.DisplayAlerts#2", "--lifetime", "30"]
    heading("Closing a workbook: Wendra.exe and the stand-in spreadsheet application")
    print(f"    open workbooks: {', '.join(books)}; the host runs  Wendra.exe {asked}")
    spreadsheet = subprocess.Popen(standin, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 20
        while not os.path.exists(ready) and spreadsheet.poll() is None:
            if time.monotonic() > deadline:
                print("    the stand-in did not start; skipped")
                return False
            time.sleep(0.05)
        began = time.monotonic()
        code = cycle.wine(prefix, os.path.join(bin_dir, "Wendra.exe"), asked, check=False)
        took = (time.monotonic() - began) * 1000
        spreadsheet.wait(timeout=30)
    finally:
        if spreadsheet.poll() is None:
            spreadsheet.kill()
    print("    what the spreadsheet application was asked, in order:")
    with open(log, encoding="utf-8", errors="replace") as calls:
        for line in calls:
            print(f"      {line.rstrip()}")
    print(f"    Wendra.exe exit code {code} (always 0: the closer reports nothing), {took:.0f} ms")
    return code == 0


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    build = os.path.abspath(argv[1])
    bin_dir = os.path.join(build, "bin")
    prefix = os.path.join(build, "demo-prefix")
    began = time.monotonic()
    print("Preparing a Wine prefix for the demo (about 10 s)...")
    with throwaway_prefix(prefix):
        block = measurement()
        with cycle.installed_device(prefix, PORT, "nt"), \
                serialdevice.SerialDevice(prefix, PORT) as device:
            print(f"Simulated device: USB vendor 0x{cycle.VENDOR_ID:04X}, product "
                  f"0x{cycle.PRODUCT_ID:04X}, on COM{PORT} (a pty), sending at 19200 8N1.")
            print("The host stand-in starts Ostrel.exe (Windows 7 mode: the work folder is in "
                  "the user's application data).")
            try:
                result = cycle.run_cycle(prefix, bin_dir, bin_dir, "demo", block, device=device,
                                         windows_version="win7", appdata_rule=True)
            except cycle.CycleError as error:
                print(f"\nThe demo stopped: {error}")
                return 1

        heading(f"Work folder  {result.report.get('work', ['?'])[0]}")
        heading("ErrorMessage.csv, the receiver's status file, as the host saw it")
        show_status(result.status_seen, result.ready_status)

        heading("ReceiveData.csv: the block the host read (one decimal value per line)")
        if result.data is None:
            print("    (no data was published)")
        else:
            values = [int(v) for v in result.data.split(b"\r\n") if v]
            print(plot(values))
            print(f"    {len(values)} values, from {min(values)} to {max(values)}; first ten: "
                  f"{' '.join(map(str, values[:10]))}")
            same = bytes(values) == block
            print(f"    identical to what the device sent: {'yes' if same else 'NO'}")

        heading("Acknowledgement")
        if result.exit == "0":
            print("    The host created StopCommand.csv; the receiver deleted the four exchange "
                  "files and ended.")
        print(f"    Files left in the work folder: {', '.join(result.left) or 'none'}")

        heading("Result")
        print(f"    Ostrel.exe exit code {result.exit}: {EXIT_MEANING.get(result.exit, '?')}")
        print(f"    waiting for the device after {result.ms('armed_ms'):.0f} ms; first byte at "
              f"{result.ms('receiving_ms'):.0f} ms; data ready at {result.ms('data_ready_ms'):.0f} ms "
              f"(the block alone takes 182 ms on the wire)")
        print(f"    whole cycle, start to exit: {result.ms('cycle_ms'):.0f} ms")

        closed = close_workbook_step(prefix, bin_dir)
        ok = result.exit == "0" and result.data is not None and closed
    print(f"\nDemo finished in {time.monotonic() - began:.0f} s; its Wine prefix is removed.")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
