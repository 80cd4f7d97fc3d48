#!/usr/bin/env python3
"""The shipped 32-bit Talvero.exe in one end-to-end scenario, beside the stand-ins of the build
that runs the tests: start, a query shown in the stock program, a period press that reaches both
programs, the caption, and close.

On a machine that refuses 32-bit code it runs under CPU emulation (qemu-i386), where Talvero takes
the better part of a minute to show its window and acts tens of times slower, so the bounds here
are long. Where it cannot run at all, the test says so in one line and counts as skipped.

    python3 tests/e2e/test_shipped.py --bin build/bin --shipped build/x86/bin/Talvero.exe
"""

import argparse
import os
import struct
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import test_system  # noqa: E402
from desktop import MULTI_OPTION, QUERY_BUTTON, TALVERO, wait_equal  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SHIPPED = None
SKIPPED = 77  # CTest's SKIP_RETURN_CODE for this test
START_BOUND = 300.0
ACTION_BOUND = 90.0
H4_CHART = "国内A股,H4 (offline)"


def x86_mode():
    """native, emulated or none, with the reason: what scripts/x86-mode found by trying."""
    line = os.environ.get("TALVERO_X86_MODE") or subprocess.run(
        ["bash", os.path.join(ROOT, "scripts", "x86-mode")], capture_output=True,
        text=True).stdout.strip()
    return line.split(":")[0], line


class ShippedProgram(test_system.Scenario):

    def start_talvero(self):
        program = self.desktop.start("talvero", SHIPPED, [], self.dir)
        self.wait_state("visible", "1", "the shipped Talvero's window to be shown", START_BOUND)
        return program

    def test_shipped_program_queries_switches_a_period_watches_the_terminal_and_closes(self):
        with open(SHIPPED, "rb") as file:
            exe = file.read()
        pe = struct.unpack_from("<I", exe, 0x3C)[0]
        self.assertEqual(struct.unpack_from("<H", exe, pe + 4)[0], 0x14C, "a 32-bit program")

        _, stock_log, _ = self.start_stock_program()
        _, terminal_log = self.start_terminal()
        talvero = self.start_talvero()

        self.enter_code("600036")
        mark = stock_log.mark()
        self.click_control(QUERY_BUTTON)
        at = stock_log.wait_for("show", mark=mark, bound=ACTION_BOUND)
        self.assertEqual(stock_log.events()[at][1], "600036", stock_log.tail())

        self.click_control(MULTI_OPTION)
        self.wait_state("check1029", "1", "多控 selected", ACTION_BOUND)
        mark, terminal_mark = stock_log.mark(), terminal_log.mark()
        self.press_period(5)
        stock_log.wait_for("command", "33284 M240", mark=mark, bound=ACTION_BOUND)
        terminal_log.wait_for("activate", H4_CHART, mark=terminal_mark, bound=ACTION_BOUND)
        wait_equal(lambda: (self.desktop.charts() or [None])[0], H4_CHART, ACTION_BOUND,
                   "the H4 chart on top of the terminal")
        self.wait_state("caption", f"{TALVERO}   {H4_CHART}",
                        "the terminal's active chart in Talvero's caption", ACTION_BOUND)

        self.activate_talvero()
        self.desktop.click_close_button(TALVERO)
        self.assertEqual(talvero.wait_exit(ACTION_BOUND), 0)


def main():
    global SHIPPED
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="the stand-ins and winprobe")
    parser.add_argument("--shipped", required=True, help="the shipped 32-bit Talvero.exe")
    args, rest = parser.parse_known_args()
    SHIPPED = os.path.abspath(args.shipped)
    test_system.BIN_DIR = os.path.abspath(args.bin)
    mode, line = x86_mode()
    if mode == "none":
        print(f"The shipped 32-bit Talvero.exe was NOT run: {line}", flush=True)
        sys.exit(SKIPPED)
    print(f"The shipped 32-bit Talvero.exe runs here: {line}", flush=True)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
