#!/usr/bin/env python3
"""Talvero end to end: the built Talvero.exe beside the stand-in stock program (stocksim) and
terminal (termsim), three processes under Wine, driven only as a user drives them.

Each scenario starts its programs from a fresh directory, clicks and types through the X display
(xdotool), and checks what the user and the other programs see: the stand-ins' journals, the exact
bytes of DAIMA.DAT and fxwindows.dat, and Talvero's window as winprobe.exe reports it. Every
program is ended afterwards, so no scenario sees another's windows.

Talvero is closed from its caption by a click on the caption's close button: that is Close as a
user makes it, and it needs no keyboard focus (alt+F4 would go to whichever window has it).

Run with DISPLAY and the Wine environment set (scripts/test provides both):
    python3 tests/e2e/test_system.py --bin build/bin
"""

import argparse
import bisect
import os
import shutil
import struct
import sys
import tempfile
import time
import unittest

# The helper module sits beside this file; no bytecode is left in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop import (ACTION_BOUND, ADJUST_CHECK, CODE_BOX, MULTI_OPTION, QUERY_BUTTON,  # noqa: E402
                     SINGLE_OPTION, START_BOUND, STOCK_TITLE, TALVERO, TERMINAL_TITLE,
                     TICK_BOUND, TOOLBAR, Desktop, Journal, wait_equal, wait_for)

BIN_DIR = None

SINGLE_CHART = "国内A股,M417 (offline)"
# The nine period buttons from the left: the stock program's command and name, and the chart
# that multi control raises.
PERIODS = [
    (32873, "M1", "国内A股,M1 (offline)"),
    (32874, "M5", "国内A股,M5 (offline)"),
    (32875, "M15", "国内A股,M15 (offline)"),
    (32876, "M30", "国内A股,M30 (offline)"),
    (32877, "M60", "国内A股,H1 (offline)"),
    (33284, "M240", "国内A股,H4 (offline)"),
    (32878, "日线", "国内A股,Daily (offline)"),
    (32879, "周线", "国内A股,Weekly (offline)"),
    (32880, "月线", "国内A股,Monthly (offline)"),
]
# Under Wine (8.0, X windows not managed by a window manager) a program's window that becomes
# active is drawn above Talvero's on the X screen, although Wine keeps Talvero topmost in its own
# order (WindowFromPoint still finds Talvero there; Windows draws Talvero on top). The status icons
# are read from the screen, so a terminal that becomes active while its icon is checked is placed
# lower on the screen, clear of Talvero's window, instead of beneath it.
BESIDE_TALVERO = ("--pos", "360", "370", "--size", "656", "390")
TOO_LONG_MESSAGE = "对不起，您输入的代码超过6位，请重新输入!"
STOCK_LIT, STOCK_DARK = "112", "113"  # the 飞狐 icon while the stock program is there, and not
BYSTANDER_TITLE = "飞狐交易师"  # near the stock program's title, yet naming neither
NO_STOCK_PROGRAM_NOTICE = "没有找到行情软件，请先启动飞狐交易师或股道。"
NOT_IN_FRONT_NOTICE = "行情软件没有来到前台，代码没有输入。"
DAILY_CHART = "国内A股,Daily (offline)"


# --- what the list and the file should hold -----------------------------------------------------

def list_after_query(items, code):
    """The recent-codes list after a query of code: sorted adds while it holds fewer than ten
    entries; from ten on the tenth entry goes and the code stands at the top."""
    items = list(items)
    if len(items) > 9:
        del items[9]
        items.insert(0, code)
    else:
        # The combo box sorts without regard to case.
        keys = [item.lower() for item in items]
        items.insert(bisect.bisect_right(keys, code.lower()), code)
    return items


def list_at_start(file_entries):
    """The list that Talvero builds at start: "1A0001" and every line of the file, sorted."""
    return sorted(["1A0001"] + file_entries, key=str.lower)


def file_bytes(items):
    """DAIMA.DAT for a list: the first ten entries, each quoted and ended by CR LF, none empty."""
    return b"".join(b'"' + item.encode("gbk") + b'"\r\n' for item in items[:10] if item)


class Scenario(unittest.TestCase):
    """A fresh directory, a desktop without the three programs, and their end afterwards."""

    def setUp(self):
        self.started = time.monotonic()
        self.dir = tempfile.mkdtemp(prefix="talvero-e2e-")
        self.desktop = Desktop(BIN_DIR)
        for title in (TALVERO, STOCK_TITLE, TERMINAL_TITLE):
            wait_for(lambda: not self.desktop.window_exists(title), START_BOUND,
                     f"no window titled '{title}...' before the scenario")

    def tearDown(self):
        self.desktop.end_all()
        for title in (TALVERO, STOCK_TITLE, TERMINAL_TITLE):
            wait_for(lambda: not self.desktop.window_exists(title), START_BOUND,
                     f"the windows titled '{title}...' to go with their program")
        shutil.rmtree(self.dir, ignore_errors=True)
        sys.stderr.write(f"({time.monotonic() - self.started:.1f} s) ")

    # --- files ---------------------------------------------------------------------------------

    def path(self, name):
        return os.path.join(self.dir, name)

    def read(self, name):
        try:
            with open(self.path(name), "rb") as file:
                return file.read()
        except FileNotFoundError:
            return None

    def write(self, name, data):
        with open(self.path(name), "wb") as file:
            file.write(data)

    # --- programs ------------------------------------------------------------------------------

    def start_stock_program(self, *args, journal="stocksim.journal"):
        """Starts the stand-in stock program; returns (program, journal, its window handle)."""
        program = self.desktop.start("stocksim", "stocksim.exe",
                                     ["--journal", journal, *args], self.dir)
        log = Journal(self.path(journal))
        at = log.wait_for("start", bound=START_BOUND)
        handle = int(log.events()[at][1].split()[0].split("=")[1], 16)
        return program, log, handle

    def start_terminal(self, *args, journal="termsim.journal"):
        program = self.desktop.start("termsim", "termsim.exe", ["--journal", journal, *args],
                                     self.dir)
        log = Journal(self.path(journal))
        log.wait_for("start", bound=START_BOUND)
        return program, log

    def start_talvero(self):
        program = self.desktop.start("talvero", "Talvero.exe", [], self.dir)
        self.wait_state("visible", "1", "Talvero's window to be shown", START_BOUND)
        return program

    def start_talvero_alone(self):
        """Talvero with no stock program running: the 飞狐 icon dark, no window recorded (the
        file read at start may leave fxwindows.dat empty)."""
        program = self.start_talvero()
        self.assertEqual(self.state()["icon1025"], STOCK_DARK)
        self.assertIn(self.read("fxwindows.dat"), (None, b""), "no window recorded")
        return program

    def close_stock_program(self, program, title=STOCK_TITLE):
        """Close from the caption, as a user does; waits until the program has ended."""
        self.desktop.click_caption(title)
        self.desktop.click_close_button(title)
        self.assertEqual(program.wait_exit(), 0)

    def wait_stock_icon(self, icon, what):
        """The 飞狐 icon follows the stock program's window on the next status tick."""
        self.wait_state("icon1025", icon, what, TICK_BOUND)

    def close_talvero(self, program):
        """Close from the caption, as a user does; returns Talvero's exit code."""
        self.activate_talvero()
        self.desktop.click_close_button(TALVERO)
        return program.wait_exit()

    # --- a user at Talvero's window ------------------------------------------------------------

    def state(self):
        return wait_for(self.desktop.state, ACTION_BOUND, "Talvero's window")

    def wait_state(self, field, expected, what, bound=ACTION_BOUND):
        """Waits until winprobe reports the field of Talvero's window as expected."""
        wait_equal(lambda: self.desktop.state_field(field), expected, bound, what,
                   self.desktop.explain)

    def activate_talvero(self):
        """A click on an inactive window may only activate it, so an inactive Talvero gets a
        click on its caption first."""
        if self.state()["foreground"] != "1":
            self.desktop.click_caption(TALVERO)

    def click_control(self, control, button=None):
        self.activate_talvero()
        self.desktop.click(self.desktop.control_point(control, button))

    def enter_code(self, code):
        """Clicks into the code box, selects what it holds and types the code over it."""
        self.click_control(CODE_BOX)
        self.desktop.keys("End", "shift+Home")
        self.desktop.type(code)
        self.wait_state("code", code, "the typed code in the code box")

    def query(self, code, stock_log):
        """Types the code and presses 查询; returns the journal's mark from before the press once
        the stock program shows the code."""
        self.enter_code(code)
        mark = stock_log.mark()
        self.click_control(QUERY_BUTTON)
        self.assert_shows(code, stock_log, mark)
        return mark

    def assert_shows(self, code, stock_log, mark):
        """The first code the stock program shows after mark is exactly this one."""
        at = stock_log.wait_for("show", mark=mark)
        self.assertEqual(stock_log.events()[at][1], code,
                         "the stock program shows exactly the queried code\n" + stock_log.tail())

    def press_period(self, index):
        self.click_control(TOOLBAR, index)

    def wait_list_and_file(self, items):
        self.wait_state("items", items, "the recent-codes list")
        wait_equal(lambda: self.read("DAIMA.DAT"), file_bytes(items), ACTION_BOUND,
                   "DAIMA.DAT to hold the list")

    def keystrokes(self, events):
        """The key events of a journal as ('down' or 'up', virtual key) pairs."""
        return [(name[3:], int(fields.split()[0][3:]))
                for name, fields in events if name in ("keydown", "keyup")]

    def key_downs(self, events):
        return [vk for kind, vk in self.keystrokes(events) if kind == "down"]


class QueryTests(Scenario):

    def test_typical_query_types_the_code_into_the_keyboard_wizard_and_saves_the_list(self):
        _, stock_log, stock_handle = self.start_stock_program()
        self.start_terminal()
        self.start_talvero()

        state = self.state()
        self.assertEqual(state["topmost"], "1")
        self.assertEqual(state["items"], ["1A0001"])
        self.assertEqual((state["check1028"], state["check1029"], state["check1026"]),
                         ("1", "0", "0"), "单控 shown selected, the check box clear")
        self.assertEqual(state["icon1025"], "112", "the stock program was found at start")
        self.assertEqual(self.read("fxwindows.dat"), struct.pack("<I", stock_handle),
                         "fxwindows.dat holds the stock program's window")
        self.wait_state("icon1022", "114", "the terminal icon to end its blink on one lit screen",
                        TICK_BOUND)

        mark = self.query("600000", stock_log)

        events = stock_log.since(mark)
        digits = [(6, 54), (0, 48), (0, 48), (0, 48), (0, 48), (0, 48)]
        self.assertEqual(self.keystrokes(events)[:12],
                         [pair for _, vk in digits for pair in (("down", vk), ("up", vk))],
                         "each digit pressed and released, in order\n" + stock_log.tail())
        names = [name for name, _ in events]
        settext = names.index("settext")
        self.assertEqual(events[settext][1], "600000")
        last_digit = max(i for i, (n, f) in enumerate(events) if n == "keyup" and "vk=48" in f)
        enter_down = names.index("keydown", settext)
        self.assertLess(last_digit, settext, "the exact code replaces what the keys typed")
        self.assertEqual(events[enter_down][1].split()[0], "vk=13", "then Enter")
        self.assertLess(enter_down, names.index("show"))
        stock_log.wait_for("keyup", mark=enter_down + mark)
        self.assertEqual(self.keystrokes(stock_log.since(mark))[12:],
                         [("down", 13), ("up", 13)], "Enter pressed and released, nothing else")

        self.wait_list_and_file(["1A0001", "600000"])
        self.assertEqual(self.read("DAIMA.DAT"), b'"1A0001"\r\n"600000"\r\n')
        self.assertFalse(os.path.exists(self.path("DAIMA.DAT.new")), "no stray file left")
        state = self.state()
        self.assertEqual(state["code"], "600000")
        self.assertEqual((state["topmost"], state["visible"], state["uncovered"]), ("1", "1", "1"),
                         "Talvero stays in sight above the stock program it activated")

    def test_a_day_of_queries_keeps_ten_codes_and_a_restart_reloads_them_in_order(self):
        _, stock_log, _ = self.start_stock_program()
        talvero = self.start_talvero()

        # Out of sort order, one below "1A0001", one with letters, and a repeat at the end.
        codes = ["600036", "000001", "601318", "300750", "sh6000", "000858", "600519", "002594",
                 "600000", "601988", "000002", "600036"]
        items = ["1A0001"]
        for code in codes:
            self.query(code, stock_log)
            items = list_after_query(items, code)
            self.wait_list_and_file(items)
        self.assertEqual(len(items), 10, "the list stops growing at ten entries")
        self.assertEqual(items[:3], ["600036", "000002", "601988"], "the newest codes on top")
        saved = self.read("DAIMA.DAT")
        self.assertEqual(saved.count(b"\r\n"), 10)

        self.assertEqual(self.close_talvero(talvero), 0)
        self.start_talvero()
        entries = [line[1:-1].decode("gbk") for line in saved.split(b"\r\n") if line]
        self.assertEqual(self.state()["items"], list_at_start(entries),
                         "the saved codes and 1A0001, in sorted order")
        self.assertEqual(self.read("DAIMA.DAT"), saved, "a start only reads the file")

    def test_a_seven_byte_code_is_refused_with_a_message_box_and_not_typed(self):
        _, stock_log, _ = self.start_stock_program()
        self.write("DAIMA.DAT", b'"600036"\r\n')
        self.start_talvero()
        self.assertEqual(self.state()["items"], ["1A0001", "600036"])

        self.enter_code("6000001")
        mark = stock_log.mark()
        self.click_control(QUERY_BUTTON)
        text, ok = wait_for(lambda: self.desktop.message_box(TALVERO), ACTION_BOUND,
                            "the message box that refuses the code")
        self.assertEqual(text, TOO_LONG_MESSAGE)
        self.assertEqual(self.state()["enabled"], "0", "the box keeps Talvero's window waiting")
        self.desktop.click(ok)
        wait_for(lambda: not self.desktop.message_box(TALVERO), ACTION_BOUND,
                 "the message box to go after its OK button is clicked")

        state = self.state()
        self.assertEqual(state["enabled"], "1")
        items = list_after_query(["1A0001", "600036"], "6000001")
        self.assertEqual(items, ["1A0001", "6000001", "600036"])
        self.assertEqual(state["items"], items, "the refused code stays in the list")
        self.assertEqual(self.read("DAIMA.DAT"), b'"600036"\r\n', "the file is left as it was")
        self.assertEqual(self.keystrokes(stock_log.since(mark)), [], "nothing typed")
        self.assertNotIn("settext", [name for name, _ in stock_log.since(mark)])

        # The next query goes through, and the refused code reaches the file with the list.
        self.query("600000", stock_log)
        self.wait_list_and_file(list_after_query(items, "600000"))

    def test_enter_in_the_code_box_runs_the_query_once(self):
        _, stock_log, _ = self.start_stock_program()
        self.start_talvero()
        self.enter_code("600000")
        mark = stock_log.mark()
        self.desktop.keys("Return")
        self.assert_shows("600000", stock_log, mark)

        # A second query from the same Enter would reach the stock program before a later press.
        self.press_period(0)
        at = stock_log.wait_for("command", "32873 M1", mark=mark)
        events = stock_log.events()[mark:at]
        self.assertEqual([code for name, code in events if name == "show"], ["600000"])
        # Key-ups are left out: the key-up of the user's Enter may follow the activation.
        self.assertEqual(self.key_downs(events), [54, 48, 48, 48, 48, 48, 13],
                         "the code's keys and Enter, once")
        self.wait_list_and_file(["1A0001", "600000"])


class StockProgramTests(Scenario):

    def query_a_loaded_stock_program(self, *load):
        """A query of 600000 to a stock program started with these load options: it shows
        exactly the code, and the list is saved."""
        _, stock_log, _ = self.start_stock_program(*load)
        self.start_talvero()
        mark = self.query("600000", stock_log)
        events = stock_log.since(mark)
        self.assertIn(("busy", load[1]), events, "the stock program was busy")
        self.assertIn(("settext", "600000"), events, "the exact code handed to the wizard")
        self.wait_list_and_file(["1A0001", "600000"])

    def test_a_stock_program_slow_to_open_its_keyboard_wizard(self):
        # Talvero waits for the wizard at least 1.5 s after the keys.
        self.query_a_loaded_stock_program("--wizard-delay", "1400")

    def test_a_stock_program_slow_to_take_each_key(self):
        # While keys still wait, the exact code would be set first and the rest typed behind it
        # ("0000600000"); Talvero waits for them up to 100 ms a key.
        self.query_a_loaded_stock_program("--key-delay", "95")

    def test_the_stock_program_restarted_while_talvero_runs(self):
        # Talvero restarted beside a running stock program keeps its window (the handle in
        # fxwindows.dat); the stock program restarted beside a running Talvero is found again
        # within a tick, or sooner by the next press.
        stock, stock_log, stock_handle = self.start_stock_program()
        talvero = self.start_talvero()
        self.query("600036", stock_log)
        kept = struct.pack("<I", stock_handle)
        self.assertEqual(self.read("fxwindows.dat"), kept)
        self.assertEqual(self.close_talvero(talvero), 0)

        self.start_talvero()
        state = self.state()
        self.assertEqual(state["icon1025"], STOCK_LIT)
        self.assertEqual(state["items"], list_at_start(["1A0001", "600036"]))
        self.assertEqual(self.read("fxwindows.dat"), kept, "the same window, the same handle")

        self.close_stock_program(stock)
        self.wait_stock_icon(STOCK_DARK, "the 飞狐 icon dark once the stock program is gone")
        _, later_log, later_handle = self.start_stock_program(journal="stocksim-later.journal")
        self.assertNotEqual(later_handle, stock_handle)
        # Pressed at once, so that the press often comes before the next tick.
        self.press_period(0)
        later_log.wait_for("command", "32873 M1")
        self.wait_stock_icon(STOCK_LIT, "the 飞狐 icon lit for the new window")
        self.assertEqual(self.read("fxwindows.dat"), struct.pack("<I", later_handle))
        self.query("600000", later_log)
        self.wait_list_and_file(list_after_query(state["items"], "600000"))

    def test_a_stock_program_started_after_talvero(self):
        self.start_talvero_alone()
        # A real stock program takes a while to come up.
        _, stock_log, handle = self.start_stock_program("--start-delay", "1000")
        self.wait_stock_icon(STOCK_LIT, "the 飞狐 icon lit once the stock program is there")
        self.assertEqual(self.read("fxwindows.dat"), struct.pack("<I", handle))
        self.query("600000", stock_log)
        self.wait_list_and_file(["1A0001", "600000"])

    def test_without_the_stock_program_a_query_reaches_no_other_window(self):
        # The bystander journals all that reaches it. Its title names no stock program, and its
        # keyboard wizard stays open: a wizard found by its title alone would take the code.
        _, bystander_log, _ = self.start_stock_program("--exact-title", BYSTANDER_TITLE,
                                                       journal="bystander.journal")
        self.desktop.click_caption(BYSTANDER_TITLE)
        self.desktop.keys("6")
        bystander_log.wait_for("wizard", "open")
        self.start_talvero_alone()
        self.enter_code("600000")
        mark = bystander_log.mark()
        self.click_control(QUERY_BUTTON)
        # Talvero answers again once the query has ended.
        self.wait_state("items", ["1A0001", "600000"], "the list to keep the code")

        # A key pressed at the bystander now comes after anything the query typed into it.
        self.desktop.click_caption(BYSTANDER_TITLE)
        self.desktop.keys("F5")
        at = bystander_log.wait_for("keydown", lambda fields: fields.startswith("vk=116 "),
                                    mark=mark)
        reached = [event for event in bystander_log.events()[mark:at]
                   if event[0] not in ("activate", "deactivate")]
        self.assertEqual(reached, [], "nothing of the query reached the bystander")
        self.assertIsNone(self.read("DAIMA.DAT"), "no query reached a stock program")
        self.assertIn(self.read("fxwindows.dat"), (None, b""), "the bystander is not recorded")

    def assert_balloon(self, text):
        """The balloon shows the sentence at the code box, then goes by itself."""
        shown = wait_for(self.desktop.balloon, ACTION_BOUND, f"the balloon '{text}'")
        self.assertEqual(shown, (text, True), "the sentence, pointing at the code box")
        self.assertNotEqual(self.desktop.foreground(), text, "the balloon took no activation")
        wait_for(lambda: self.desktop.balloon() is None, ACTION_BOUND, "the balloon to go")

    def test_a_stock_program_whose_front_goes_to_the_desktop_once_gets_it_back(self):
        # Its wizard takes the front as a dialog does, and the front goes to the desktop once,
        # after the keys and before Enter is due: Talvero brings the wizard forward again.
        _, stock_log, _ = self.start_stock_program("--wizard-takes-front", "--front-away", "once")
        self.start_talvero()
        mark = self.query("600000", stock_log)
        events = stock_log.since(mark)
        names = [name for name, _ in events]
        self.assertIn("front-away", names, "the stock program gave the front away\n" +
                      stock_log.tail())
        self.assertLess(names.index("front-away"), names.index("show"))
        self.assertEqual(self.key_downs(events), [54, 48, 48, 48, 48, 48, 13])
        self.wait_list_and_file(["1A0001", "600000"])

    def test_a_stock_program_that_keeps_the_front_away_gets_no_enter_and_a_balloon_says_why(self):
        _, stock_log, _ = self.start_stock_program("--wizard-takes-front", "--front-away", "keep")
        self.start_talvero()
        self.enter_code("600000")
        mark = stock_log.mark()
        self.click_control(QUERY_BUTTON)
        self.assert_balloon(NOT_IN_FRONT_NOTICE)
        events = stock_log.since(mark)
        self.assertIn("front-away", [name for name, _ in events])
        self.assertEqual(self.key_downs(events), [54, 48, 48, 48, 48, 48], "no Enter\n" +
                         stock_log.tail())
        self.assertNotIn("show", [name for name, _ in events])
        self.assertEqual(self.state()["items"], ["1A0001", "600000"])
        self.assertIsNone(self.read("DAIMA.DAT"), "nothing saved")

    def test_without_the_stock_program_a_balloon_asks_for_it(self):
        self.start_talvero_alone()
        self.enter_code("600000")
        self.click_control(QUERY_BUTTON)
        self.assert_balloon(NO_STOCK_PROGRAM_NOTICE)
        self.assertIsNone(self.read("DAIMA.DAT"))

    def test_closing_talvero_restores_a_minimised_stock_program(self):
        _, stock_log, _ = self.start_stock_program("--minimized")
        talvero = self.start_talvero()
        self.assertEqual(self.state()["icon1025"], "112")
        mark = stock_log.mark()
        self.assertNotIn(("showstate", "restored"), stock_log.events())

        self.assertEqual(self.close_talvero(talvero), 0)
        stock_log.wait_for("showstate", "restored", mark=mark)
        self.assertFalse(self.desktop.window_exists(TALVERO))


class TerminalTests(Scenario):

    def top_chart(self):
        charts = self.desktop.charts()
        return charts[0] if charts else None

    def test_both_modes_switch_the_stock_program_and_the_terminal_across_all_nine_periods(self):
        _, stock_log, _ = self.start_stock_program()
        self.start_terminal()
        self.start_talvero()
        self.assertEqual(self.top_chart(), DAILY_CHART)

        def press_all(chart_of):
            start = stock_log.mark()
            for index, (command, name, own_chart) in enumerate(PERIODS):
                mark = stock_log.mark()
                self.press_period(index)
                stock_log.wait_for("command", f"{command} {name}", mark=mark)
                wait_equal(self.top_chart, chart_of(own_chart), ACTION_BOUND,
                           f"the terminal's top chart after {name}")
            self.assertEqual([f for e, f in stock_log.since(start) if e == "command"],
                             [f"{command} {name}" for command, name, _ in PERIODS],
                             "one command per press, in order")

        # Before either option is clicked, a period press acts as in single control.
        mark = stock_log.mark()
        self.press_period(7)
        stock_log.wait_for("command", "32879 周线", mark=mark)
        wait_equal(self.top_chart, SINGLE_CHART, ACTION_BOUND, "the single chart on top")

        self.click_control(MULTI_OPTION)
        self.wait_state("check1029", "1", "多控 selected")
        self.assertEqual(self.state()["check1028"], "0")
        press_all(lambda own: own)

        self.click_control(SINGLE_OPTION)
        self.wait_state("check1028", "1", "单控 selected")
        self.assertEqual(self.top_chart(), PERIODS[-1][2], "a mode change raises nothing")
        press_all(lambda own: SINGLE_CHART)

        # The check box: every click posts the same pair of commands.
        for expected_state in ("1", "0"):
            mark = stock_log.mark()
            self.click_control(ADJUST_CHECK)
            stock_log.wait_for("command", "33052 adjust-apply", mark=mark)
            self.assertEqual([e for e in stock_log.since(mark) if e[0] == "command"],
                             [("command", "32806 adjust-toggle"),
                              ("command", "33052 adjust-apply")])
            self.assertEqual(self.state()["check1026"], expected_state)

    def test_the_caption_follows_the_terminals_active_chart(self):
        _, terminal_log = self.start_terminal()
        self.start_talvero()
        self.wait_state("caption", f"{TALVERO}   {DAILY_CHART}",
                        "the active chart in Talvero's caption", TICK_BOUND)
        self.wait_state("icon1022", "114", "the terminal icon after a tick that found the chart",
                        TICK_BOUND)

        for chart in ("国内A股,Weekly (offline)", "国内A股,M5 (offline)"):
            mark = terminal_log.mark()
            self.desktop.click_caption(TERMINAL_TITLE)
            self.desktop.click_chart(chart)
            terminal_log.wait_for("activate", chart, mark=mark)
            # One tick comes within 2 s; the bound leaves room for a loaded machine.
            self.wait_state("caption", f"{TALVERO}   {chart}",
                            "Talvero's caption to follow the terminal", TICK_BOUND)
            # The terminal lies under Talvero's window here. Talvero's middle is checked in the
            # window system's order; the X screen shows the active terminal above it under Wine
            # (see BESIDE_TALVERO), so the icons are not read from the screen at this point.
            state = self.state()
            self.assertEqual((state["topmost"], state["uncovered"]), ("1", "1"),
                             "Talvero stays above the active terminal")

    def test_a_press_that_misses_a_program_or_its_chart_says_which_in_a_balloon(self):
        stock, stock_log, _ = self.start_stock_program()
        charts = "国内A股,M1 (offline)|国内A股,Daily (offline)"
        terminal, terminal_log = self.start_terminal(*BESIDE_TALVERO, "--charts", charts)
        self.start_talvero()

        def close_terminal():
            self.desktop.click_caption(TERMINAL_TITLE)
            self.desktop.click_close_button(TERMINAL_TITLE)
            self.assertEqual(terminal.wait_exit(), 0)

        def missing(period):
            return (f"MT4 里没有打开「国内A股,{period} (offline)」图表，"
                    "请在 MT4 里用“文件 → 打开离线图表”打开它。")

        no_terminal = "没有找到 MT4 终端，请先启动 MT4。"
        # (what changes first, the control clicked (a toolbar position, or the 权 box), the
        # balloon's whole text; None for no balloon). Each text differs from the one before, so
        # a balloon still shown from the last press is never taken for the next.
        steps = [
            (lambda: self.click_control(MULTI_OPTION), 0, None),
            (None, 5, missing("H4")),
            (lambda: self.click_control(SINGLE_OPTION), 0, missing("M417")),
            (close_terminal, 0, no_terminal),
            (lambda: self.close_stock_program(stock), 0, NO_STOCK_PROGRAM_NOTICE + no_terminal),
            (None, ADJUST_CHECK, NO_STOCK_PROGRAM_NOTICE),
            (lambda: self.start_terminal(*BESIDE_TALVERO, "--charts", charts,
                                         journal="termsim-later.journal"),
             1, NO_STOCK_PROGRAM_NOTICE + missing("M417")),
        ]
        for change, control, balloon in steps:
            with self.subTest(balloon=balloon):
                if change:
                    change()
                mark = stock_log.mark()
                if control == ADJUST_CHECK:
                    self.click_control(ADJUST_CHECK)
                else:
                    self.press_period(control)
                if balloon is None:
                    # The rest of the press as ever: the command, and the chart on top.
                    stock_log.wait_for("command", "32873 M1", mark=mark)
                    wait_equal(lambda: (self.desktop.charts() or [None])[0],
                               "国内A股,M1 (offline)", ACTION_BOUND, "the M1 chart on top")
                    self.assertIsNone(self.desktop.balloon())
                else:
                    wait_equal(lambda: (self.desktop.balloon() or (None,))[0], balloon,
                               ACTION_BOUND, "the balloon of the press")

    def test_the_terminal_closed_and_reopened_while_talvero_runs(self):
        terminal, terminal_log = self.start_terminal(*BESIDE_TALVERO)
        self.start_talvero()
        self.wait_state("caption", f"{TALVERO}   {DAILY_CHART}",
                        "the active chart in Talvero's caption", TICK_BOUND)

        self.desktop.click_caption(TERMINAL_TITLE)
        self.desktop.click_close_button(TERMINAL_TITLE)
        self.assertEqual(terminal.wait_exit(), 0)
        terminal_log.wait_for("exit")
        self.wait_state("caption", f"{TALVERO}   ,",
                        "an empty chart title while the terminal is gone", TICK_BOUND)
        self.assertEqual(self.state()["icon1022"], "113")

        _, later_log = self.start_terminal(*BESIDE_TALVERO, journal="termsim-later.journal")
        self.wait_state("caption", f"{TALVERO}   {DAILY_CHART}",
                        "the reopened terminal's chart in Talvero's caption", TICK_BOUND)
        self.wait_state("icon1022", "114", "the terminal icon lit again", TICK_BOUND)
        later_log.wait_for("command", "33324", bound=TICK_BOUND)


def main():
    global BIN_DIR
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="the directory of Talvero.exe and the tools")
    args, rest = parser.parse_known_args()
    BIN_DIR = os.path.abspath(args.bin)
    for needed in ("Talvero.exe", "stocksim.exe", "termsim.exe", "winprobe.exe"):
        if not os.path.exists(os.path.join(BIN_DIR, needed)):
            sys.exit(f"{needed} is missing from {BIN_DIR}")
    if not os.environ.get("DISPLAY"):
        sys.exit("no DISPLAY: run under an X server (scripts/test provides one)")
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
