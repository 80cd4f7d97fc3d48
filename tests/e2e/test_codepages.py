#!/usr/bin/env python3
"""Talvero under system code pages other than GBK (936), beside the stand-ins under GBK: its
labels, the stock program found, a query, a multi-control press and the caption, and the notice
when no stock program is there.

Wine takes each process's ANSI code page from its own Unix locale, and a child takes its parent's,
so only Talvero is started with another LC_ALL; the stand-ins and winprobe keep the test's.

    python3 tests/e2e/test_codepages.py --bin build/bin
"""

import argparse
import os
import struct
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import test_system  # noqa: E402
from desktop import MULTI_OPTION, QUERY_BUTTON, START_BOUND, TALVERO, wait_equal  # noqa: E402

CODE_PAGES = [("zh_TW.UTF-8", 950), ("en_US.UTF-8", 1252)]
# Talvero's labels and buttons by control ID, as a user reads them.
LABELS = {"text1016": "代码输入：", "text1018": "查询", "text1019": "权", "text1024": "飞狐",
          "text1028": "单控", "text1029": "多控"}
H4_CHART = "国内A股,H4 (offline)"
# Where the stock program is not found under another code page, the notice names the setting
# that makes Windows run non-Unicode programs under GBK.
CODE_PAGE_SETTING = "非 Unicode 程序的语言"


class CodePages(test_system.Scenario):

    def run_under(self, locale):
        _, stock_log, stock_handle = self.start_stock_program()
        self.start_terminal(*test_system.BESIDE_TALVERO)
        self.desktop.start("talvero", "Talvero.exe", [], self.dir,
                           env=dict(os.environ, LC_ALL=locale))
        self.wait_state("visible", "1", "Talvero's window to be shown", START_BOUND)

        state = self.state()
        self.assertEqual({name: state.get(name) for name in LABELS}, LABELS,
                         "the labels read back as Unicode")
        self.assertEqual(state["icon1025"], test_system.STOCK_LIT, "the stock program found")
        self.assertEqual(self.read("fxwindows.dat"), struct.pack("<I", stock_handle))

        self.query("600036", stock_log)

        self.click_control(MULTI_OPTION)
        self.wait_state("check1029", "1", "多控 selected")
        self.press_period(5)
        wait_equal(lambda: (self.desktop.charts() or [None])[0], H4_CHART,
                   test_system.ACTION_BOUND, "the H4 chart on top of the terminal")
        self.wait_state("caption", f"{TALVERO}   {H4_CHART}", "the active chart in the caption",
                        test_system.TICK_BOUND)

        self.close_stock_program(self.desktop.programs[0])
        self.wait_stock_icon(test_system.STOCK_DARK, "the 飞狐 icon dark without the program")
        self.click_control(QUERY_BUTTON)
        text, _ = test_system.wait_for(self.desktop.balloon, test_system.ACTION_BOUND,
                                       "the balloon for a missing stock program")
        self.assertIn(test_system.NO_STOCK_PROGRAM_NOTICE, text)
        self.assertIn(CODE_PAGE_SETTING, text)


for _locale, _page in CODE_PAGES:
    setattr(CodePages, f"test_code_page_{_page}",
            lambda self, locale=_locale: self.run_under(locale))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="the directory of Talvero.exe and the tools")
    args, rest = parser.parse_known_args()
    test_system.BIN_DIR = os.path.abspath(args.bin)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
