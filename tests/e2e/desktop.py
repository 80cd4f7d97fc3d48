"""The end-to-end tests' hands and eyes on the X display.

Programs run under Wine in their own processes, each started from a scenario's own directory.
The tests act only as a user does: xdotool moves the mouse, clicks and types. They look through
winprobe.exe (what a user sees of the windows), the stand-ins' journals and the files' bytes.
Every wait polls with a bound.
"""

import os
import subprocess
import tempfile
import time

TALVERO = "Talvero"
STOCK_TITLE = "飞狐交易师 - 缠友版"
TERMINAL_TITLE = "8801234"  # the start of the stand-in terminal's caption

# Control IDs of Talvero's main window.
TOOLBAR = 1001
QUERY_BUTTON = 1018
ADJUST_CHECK = 1026
CODE_BOX = 1027
SINGLE_OPTION = 1028
MULTI_OPTION = 1029

# Bounds of the waits. A status tick comes every 2 s and may sleep 300 ms; a Wine program takes
# up to a few seconds to come up on a loaded two-CPU machine.
START_BOUND = 20.0
TICK_BOUND = 6.0
ACTION_BOUND = 8.0
POLL_INTERVAL = 0.05


def wait_for(condition, bound, what):
    """Polls condition until it returns something true; returns that, or fails after bound."""
    deadline = time.monotonic() + bound
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"waited {bound:.0f} s in vain for {what}")
        time.sleep(POLL_INTERVAL)


def wait_equal(read, expected, bound, what, explain=None):
    """Polls read() until it equals expected; the failure shows the last value seen, and what
    explain() says when given."""
    seen = [None]

    def matches():
        seen[0] = read()
        return seen[0] == expected

    try:
        wait_for(matches, bound, what)
    except AssertionError as error:
        more = f"\n  {explain()}" if explain else ""
        raise AssertionError(
            f"{error}\n  expected: {expected!r}\n  last seen: {seen[0]!r}{more}") from None


def unescape(text):
    """Undoes the \\xNN and \\\\ escapes of journals and winprobe."""
    out = bytearray()
    raw = text.encode("utf-8")
    i = 0
    while i < len(raw):
        if raw[i] == 0x5C and raw[i + 1:i + 2] == b"\\":
            out.append(0x5C)
            i += 2
        elif raw[i] == 0x5C and raw[i + 1:i + 2] == b"x" and i + 4 <= len(raw):
            out.append(int(raw[i + 2:i + 4], 16))
            i += 4
        else:
            out.append(raw[i])
            i += 1
    return out.decode("utf-8", "replace")


class Journal:
    """A stand-in's journal: lines of '<ms> <event> <fields>'."""

    def __init__(self, path):
        self.path = path

    def events(self):
        """(event, fields) pairs in order; fields unescaped, '' when there are none."""
        try:
            with open(self.path, "rb") as file:
                text = file.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return []
        events = []
        for line in text.split("\n"):
            parts = line.split(" ", 2)
            if len(parts) >= 2 and parts[0].isdigit():
                events.append((parts[1], unescape(parts[2]) if len(parts) > 2 else ""))
        return events

    def since(self, mark):
        return self.events()[mark:]

    def mark(self):
        return len(self.events())

    def wait_for(self, event, fields=None, mark=0, bound=ACTION_BOUND):
        """Waits for an event after mark whose fields are these, or pass this test, if given;
        returns its index."""

        def matches(value):
            return fields is None or (fields(value) if callable(fields) else value == fields)

        def find():
            for index, (name, value) in enumerate(self.events()[mark:]):
                if name == event and matches(value):
                    return index + mark + 1
            return 0

        shown = "" if fields is None or callable(fields) else fields
        return wait_for(find, bound, f"'{event} {shown}' in {self.path}\n{self.tail()}") - 1

    def tail(self, lines=25):
        return "\n".join(f"    {e} {f}" for e, f in self.events()[-lines:])


class Program:
    """A Windows program started under Wine with its output in a file beside it; env, when
    given, is its whole environment (Wine takes the ANSI code page from its LC_ALL)."""

    def __init__(self, name, args, directory, exe, env=None):
        self.name = name
        self.output = open(os.path.join(directory, f"{name}.out"), "wb")
        self.process = subprocess.Popen(["wine", exe, *args], cwd=directory, env=env,
                                        stdin=subprocess.DEVNULL, stdout=self.output,
                                        stderr=subprocess.STDOUT)

    def running(self):
        return self.process.poll() is None

    def wait_exit(self, bound=ACTION_BOUND):
        try:
            return self.process.wait(timeout=bound)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"{self.name} still runs {bound:.0f} s after it should have ended")

    def end(self):
        """Kills the program if it still runs; the wineserver then destroys its windows."""
        if self.running():
            self.process.kill()
        self.process.wait(timeout=30)
        self.output.close()


class Desktop:
    """The display, the window tools and the programs of one scenario."""

    def __init__(self, bin_dir):
        self.bin_dir = bin_dir
        self.programs = []
        self.last_failure = ""

    def exe(self, name):
        return os.path.join(self.bin_dir, name)

    # --- looking -------------------------------------------------------------------------------

    def tool(self, name, *args):
        """Runs a window tool; returns (exit code, its UTF-8 output). The output goes through
        files: Wine's helper processes could keep a pipe open long after the tool has ended."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run(["wine", self.exe(name), *args], stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=err, timeout=60).returncode
            out.seek(0)
            err.seek(0)
            text = out.read().decode("utf-8", "replace").replace("\r", "")
            if code != 0:
                complaint = err.read().decode("utf-8", "replace").strip()
                self.last_failure = (f"{name} {' '.join(args)}: exit code {code}, output "
                                     f"{text!r}" + (f", errors {complaint!r}" if complaint else ""))
            return code, text

    def point(self, tool, *args):
        code, out = self.tool(tool, *args)
        if code != 0:
            return None
        x, y = out.split()[-2:]
        return int(x), int(y)

    def control_point(self, control, button=None):
        """The centre of one of Talvero's controls, or of a toolbar button (0 = M1)."""
        args = [TALVERO, str(control)] + ([] if button is None else [str(button)])
        return wait_for(lambda: self.point("winprobe.exe", "control", *args), ACTION_BOUND,
                        f"control {control} of Talvero's window")

    def state(self):
        """What winprobe reports of Talvero's main window, or None when it is not there: a dict
        with 'items' as a list of texts."""
        code, out = self.tool("winprobe.exe", "state", TALVERO)
        if code != 0:
            return None
        state = {"items": []}
        for line in out.split("\n"):
            name, _, value = line.partition("=")
            if name == "item":
                state["items"].append(unescape(value))
            elif name == "items":
                state["count"] = int(value)
            elif name:
                state[name] = unescape(value)
        assert state["count"] == len(state["items"]), out
        return state

    def state_field(self, name):
        state = self.state()
        return state and state[name]

    def charts(self):
        """The terminal's chart titles, top of the Z order first."""
        code, out = self.tool("winprobe.exe", "charts", TERMINAL_TITLE)
        if code != 0:
            return []
        return [unescape(line[6:]) for line in out.split("\n") if line.startswith("chart=")]

    def message_box(self, title):
        """(text, OK button point) of a message box titled title, or None."""
        code, out = self.tool("winprobe.exe", "msgbox", title)
        if code != 0:
            return None
        fields = dict(line.partition("=")[::2] for line in out.split("\n") if "=" in line)
        x, y = fields["ok"].split()
        return unescape(fields["text"]), (int(x), int(y))

    def balloon(self):
        """(text, pointing at the code box) of Talvero's notice balloon while shown, or None."""
        code, out = self.tool("winprobe.exe", "balloon", TALVERO)
        if code != 0:
            return None
        fields = dict(line.partition("=")[::2] for line in out.split("\n") if "=" in line)
        return unescape(fields["text"]), fields["atcodebox"] == "1"

    def window_exists(self, title):
        return self.tool("winprobe.exe", "rect", title)[0] == 0

    # --- acting --------------------------------------------------------------------------------

    def click(self, point):
        subprocess.run(["xdotool", "mousemove", str(point[0]), str(point[1]), "click", "1"],
                       check=True, timeout=30)

    def keys(self, *keys):
        subprocess.run(["xdotool", "key", "--delay", "30", *keys], check=True, timeout=30)

    def type(self, text):
        subprocess.run(["xdotool", "type", "--delay", "30", text], check=True, timeout=30)

    def foreground(self):
        """The title of the active window."""
        code, out = self.tool("winprobe.exe", "foreground")
        return unescape(out.strip()[len("title="):]) if code == 0 else None

    def click_caption(self, title):
        """Clicks a free spot of the window's caption, as a user does to bring it forward, and
        waits until it is the active window."""
        self.click(wait_for(lambda: self.point("winprobe.exe", "point", title), ACTION_BOUND,
                            f"the caption of '{title}'"))
        wait_for(lambda: (self.foreground() or "").startswith(title), ACTION_BOUND,
                 f"'{title}' to become the active window")

    def click_close_button(self, title):
        self.click(wait_for(lambda: self.point("winprobe.exe", "close", title), ACTION_BOUND,
                            f"the close button of '{title}'"))

    def click_chart(self, title):
        """Clicks a visible part of the terminal's chart window of that title."""
        self.click(wait_for(lambda: self.point("winprobe.exe", "point", TERMINAL_TITLE, title),
                            ACTION_BOUND, f"a visible part of the chart '{title}'"))

    # --- programs ------------------------------------------------------------------------------

    def start(self, name, exe, args, directory, env=None):
        program = Program(name, args, directory, self.exe(exe), env)
        self.programs.append(program)
        return program

    def explain(self):
        """The last failed look and how the programs are, for a failure message."""
        programs = ", ".join(
            f"{p.name} {'runs' if p.running() else f'ended with {p.process.returncode}'}"
            for p in self.programs)
        return f"{self.last_failure or 'no look failed'}; {programs}"

    def end_all(self):
        for program in self.programs:
            program.end()
        self.programs = []
