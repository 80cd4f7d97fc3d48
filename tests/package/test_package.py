"""The download as a trader gets it: tools/package.py packs the shipped 32-bit Talvero.exe with a
stand-in guide into scratch directories, and the zip, its checksum, the guide's text and the
program's header, imports and version block (what Explorer shows under Properties) are read back.
The test zips too: what each holds, and that the 32-bit one's programs start on Windows XP.

  test_package.py --build DIR --version VERSION [--tests64 DIR]
      (DIR: the x86 build tree; VERSION: the CMake project's version; --tests64: the 64-bit
       build tree, whose programs make the 64-bit test zip)
"""

import argparse
import hashlib
import os
import re
import runpy
import struct
import subprocess
import sys
import tempfile
import time
import unicodedata
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = VERSION = TESTS64 = None
SOURCE_DATE = 1700000000  # an even second: zip keeps times to two seconds

# As an editor on Windows may leave it: a byte-order mark, CR LF and LF mixed, pictures with and
# without a text (the guide's own texts start with 图：), each Markdown mark the guide may use, no
# line end at the end; and the plain lines that Notepad shows for it.
GUIDE = ("\ufeff# Talvero 使用说明\r\n\r\n![图：Talvero 的主窗口](talvero.png)\n![](q.png)\n"
         "### 代码\r\n- 写 `600036`，见[第五节](#五)\n  接着写\n| 键 | 作用 |\n|---|:--|\n"
         "| 回车 | 查询 |\n```\nD:\\Talvero\n```\n输入代码，按 **查询**。").encode("utf-8")
GUIDE_LINES = ["Talvero 使用说明", "", "（图：Talvero 的主窗口）", "（图略）", "【代码】",
               "· 写 600036，见第五节", "  接着写", "键    作用", "回车    查询", "    D:\\Talvero",
               "输入代码，按 查询。", ""]


class Image:
    """A 32-bit program's PE header: its machine, the versions of Windows it asks for, and the
    file offsets of its data directories."""

    def __init__(self, exe):
        self.exe = exe
        pe = struct.unpack_from("<I", exe, 0x3C)[0]
        assert exe[pe:pe + 4] == b"PE\0\0"
        self.machine, self.sections, optional_size = struct.unpack_from("<HH12xH", exe, pe + 4)
        self.optional = pe + 24
        assert struct.unpack_from("<H", exe, self.optional)[0] == 0x10B, "not PE32"
        self.os_version = struct.unpack_from("<HH", exe, self.optional + 40)
        self.subsystem_version = struct.unpack_from("<HH", exe, self.optional + 48)
        self.table = self.optional + optional_size

    def offset(self, rva):
        for i in range(self.sections):
            size, address, _, raw = struct.unpack_from("<IIII", self.exe, self.table + 40 * i + 8)
            if address <= rva < address + size:
                return rva - address + raw
        raise AssertionError(f"RVA {rva:#x} is in no section")

    def directory(self, index):
        return self.offset(struct.unpack_from("<I", self.exe, self.optional + 96 + 8 * index)[0])

    def text(self, rva):
        at = self.offset(rva)
        return self.exe[at:self.exe.index(b"\0", at)].decode("ascii")

    def imported_dlls(self):
        names, at = [], self.directory(1)
        while struct.unpack_from("<I", self.exe, at + 12)[0]:
            names.append(self.text(struct.unpack_from("<I", self.exe, at + 12)[0]).lower())
            at += 20
        return names

    def imported_functions(self):
        """(dll, function name) of every import by name; by ordinal comes as '#N'."""
        found, at = [], self.directory(1)
        while struct.unpack_from("<I", self.exe, at + 12)[0]:
            dll = self.text(struct.unpack_from("<I", self.exe, at + 12)[0]).lower()
            lookup, _, _, _, first = struct.unpack_from("<5I", self.exe, at)
            thunk = self.offset(lookup or first)
            while entry := struct.unpack_from("<I", self.exe, thunk)[0]:
                name = f"#{entry & 0xFFFF}" if entry & 0x80000000 else self.text(entry + 2)
                found.append((dll, name))
                thunk += 4
            at += 20
        return found


def version_block(exe):
    """The program's version resource as GetFileVersionInfo + VerQueryValue give it: (the fixed
    part's file and product versions, the strings of the table that the translation names)."""
    image = Image(exe)
    base = image.directory(2)
    offset = image.offset

    def first(directory, wanted=None):
        named, numbered = struct.unpack_from("<HH", exe, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", exe, base + directory + 16 + 8 * i)
            if wanted is None or name == wanted:
                return target & 0x7FFFFFFF
        raise AssertionError(f"no resource {wanted}")

    languages = first(first(0, 16))  # RT_VERSION, its first name
    rva, size = struct.unpack_from("<II", exe, base + first(languages))
    data = exe[offset(rva):offset(rva) + size]

    def node(at):  # wLength, wValueLength, wType, the key, then the value and children, 4-aligned
        length, value_length, text = struct.unpack_from("<HHH", data, at)
        end = at + 6
        while data[end:end + 2] != b"\0\0":
            end += 2
        value_at = (end + 5) & ~3
        value = data[value_at:value_at + value_length * (2 if text else 1)]
        children, child = {}, (value_at + len(value) + 3) & ~3
        while child < at + length:
            key, child_value, grandchildren, child_length = node(child)
            assert child_length > 0, f"an empty node at {child}"
            children[key] = (child_value, grandchildren)
            child = (child + child_length + 3) & ~3
        return data[at + 6:end].decode("utf-16-le"), value, children, length

    key, fixed, children, _ = node(0)
    assert key == "VS_VERSION_INFO"
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    assert signature == 0xFEEF04BD
    language, code_page = struct.unpack("<HH", children["VarFileInfo"][1]["Translation"][0][:4])
    strings = children["StringFileInfo"][1][f"{language:04x}{code_page:04x}"][1]
    texts = {k: v[0].decode("utf-16-le").rstrip("\0") for k, v in strings.items()}
    return ((file_ms, file_ls), (product_ms, product_ls)), texts


class DownloadTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        guide = os.path.join(cls.scratch.name, "guide.md")
        with open(guide, "wb") as file:
            file.write(GUIDE)
        cls.outs = []
        for run in range(2):
            out = os.path.join(cls.scratch.name, f"out{run}")
            subprocess.run([sys.executable, os.path.join(ROOT, "tools", "package.py"), "--build",
                            BUILD, "--guide", guide, "--out", out], check=True,
                           env=dict(os.environ, SOURCE_DATE_EPOCH=str(SOURCE_DATE)))
            cls.outs.append(out)
        cls.name = f"Talvero-{VERSION}-win32.zip"
        with zipfile.ZipFile(os.path.join(cls.outs[0], cls.name)) as archive:
            cls.names = archive.namelist()
            cls.times = {info.date_time for info in archive.infolist()}
            cls.files = {name: archive.read(name) for name in cls.names}

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def zip_bytes(self, out):
        with open(os.path.join(out, self.name), "rb") as file:
            return file.read()

    def test_zip_holds_the_built_program_and_the_guide_and_is_reproducible(self):
        self.assertEqual(self.names, ["Talvero.exe", "README-zh-CN.txt"])
        with open(os.path.join(BUILD, "bin", "Talvero.exe"), "rb") as file:
            self.assertEqual(self.files["Talvero.exe"], file.read())
        # Entry times come from SOURCE_DATE_EPOCH, never from the files or the clock.
        self.assertEqual(self.times, {time.gmtime(SOURCE_DATE)[:6]})
        self.assertEqual(self.zip_bytes(self.outs[0]), self.zip_bytes(self.outs[1]))

    def test_checksum_file_checks_the_zip(self):
        with open(os.path.join(self.outs[0], self.name + ".sha256"), encoding="ascii") as file:
            line = file.read()
        digest = hashlib.sha256(self.zip_bytes(self.outs[0])).hexdigest()
        self.assertEqual(line, f"{digest}  {self.name}\n")
        subprocess.run(["sha256sum", "--check", "--strict", "--quiet", self.name + ".sha256"],
                       cwd=self.outs[0], check=True)

    def test_guide_is_notepad_text_with_notes_for_the_pictures(self):
        data = self.files["README-zh-CN.txt"]
        self.assertTrue(data.startswith(b"\xef\xbb\xbf"), data[:8])
        self.assertEqual(data.count(b"\n"), data.count(b"\r\n"))
        self.assertEqual(data.count(b"\r"), data.count(b"\r\n"))
        self.assertEqual(data[3:].decode("utf-8").split("\r\n"), GUIDE_LINES)

    def test_program_is_the_32_bit_one_that_windows_xp_runs(self):
        image = Image(self.files["Talvero.exe"])
        self.assertEqual(image.machine, 0x14C, "i386")
        self.assertEqual((image.os_version, image.subsystem_version), ((4, 0), (4, 0)))
        # System libraries that Windows 2000 already had, and the C runtime that comes with it.
        self.assertLessEqual(set(image.imported_dlls()), {"advapi32.dll", "comctl32.dll",
                             "gdi32.dll", "imm32.dll", "kernel32.dll", "user32.dll", "msvcrt.dll"})

    def test_version_block_names_the_product_and_the_project_version(self):
        numbers = [int(part) for part in VERSION.split(".")] + [0] * (4 - VERSION.count(".") - 1)
        packed = ((numbers[0] << 16 | numbers[1]), (numbers[2] << 16 | numbers[3]))
        fixed, texts = version_block(self.files["Talvero.exe"])
        self.assertEqual(fixed, (packed, packed))
        self.assertEqual(texts["ProductName"], "Talvero")
        self.assertEqual(texts["FileDescription"], "Talvero 行情联动工具")
        self.assertEqual(texts["FileVersion"], VERSION)
        self.assertEqual(texts["ProductVersion"], VERSION)
        self.assertEqual(texts["OriginalFilename"], "Talvero.exe")


class GuideWidthTest(unittest.TestCase):
    """Notepad does not wrap: the text's lines fit 80 columns, a wide character (and a mark such
    as “ or ·, which a Chinese font draws wide) taking two."""

    def test_guide_lines_fit_eighty_columns_and_keep_every_word(self):
        guide_text = runpy.run_path(os.path.join(ROOT, "tools", "package.py"))["guide_text"]

        def lines(markdown):
            return guide_text(markdown.encode("utf-8"))[3:].decode("utf-8").split("\r\n")

        def columns(line):
            return sum(2 if unicodedata.east_asian_width(c) in "WFA" else 1 for c in line)

        with open(os.path.join(ROOT, "docs", "guide.zh-CN.md"), encoding="utf-8") as file:
            guide = lines(file.read())
        self.assertEqual([line for line in guide if columns(line) > 80], [])
        long = "- 多控时按 M240，调出“国内A股,H4 (offline)”。" * 4
        wrapped = lines(long)
        self.assertEqual([line for line in wrapped if columns(line) > 80], [])
        self.assertGreater(len(wrapped), 2)
        self.assertTrue(all(line.startswith("   ") for line in wrapped[1:-1]), wrapped)
        self.assertEqual("".join(wrapped).replace(" ", ""), "·" + long[2:].replace(" ", ""))
        words = re.compile(r"[!-~]+")  # ASCII words stay whole
        self.assertEqual(words.findall(" ".join(wrapped)), words.findall(long)[1:])


# What the 32-bit test programs may import so that they start on Windows XP SP3: its system
# libraries that they use, and no function that came with Vista or later among those that MinGW's
# runtime, GoogleTest and the tests are known to reach for. The second list is not every newer
# function; it catches the ones a compiler or library update brings in unasked.
XP_DLLS = {"advapi32.dll", "comctl32.dll", "gdi32.dll", "imm32.dll", "kernel32.dll",
           "user32.dll", "msvcrt.dll", "shell32.dll", "psapi.dll"}
AFTER_XP = {
    "GetTickCount64", "GetSystemTimePreciseAsFileTime", "GetCurrentProcessorNumber",
    "InitializeConditionVariable", "SleepConditionVariableCS", "SleepConditionVariableSRW",
    "WakeConditionVariable", "WakeAllConditionVariable", "InitializeSRWLock",
    "AcquireSRWLockExclusive", "AcquireSRWLockShared", "ReleaseSRWLockExclusive",
    "ReleaseSRWLockShared", "TryAcquireSRWLockExclusive", "TryAcquireSRWLockShared",
    "InitOnceExecuteOnce", "InitOnceBeginInitialize", "InitOnceComplete", "FlsAlloc",
    "FlsFree", "FlsGetValue", "FlsSetValue", "GetThreadId", "GetErrorMode", "SetThreadErrorMode",
    "CreateEventExW", "CreateMutexExW", "CreateSemaphoreExW", "CreateWaitableTimerExW",
    "GetFileInformationByHandleEx", "SetFileInformationByHandle", "GetFinalPathNameByHandleW",
    "CreateSymbolicLinkW", "CancelIoEx", "QueryFullProcessImageNameW", "GetLocaleInfoEx",
    "LCMapStringEx", "CompareStringEx", "GetUserDefaultLocaleName", "RegGetValueW",
    "SetProcessDPIAware", "GetDpiForWindow", "GetDpiForSystem", "ChangeWindowMessageFilter"}
TEST_ZIP_ENTRIES = ["Talvero.exe", "shell_tests.exe", "stocklink_tests.exe", "termlink_tests.exe",
                    "robustness_tests.exe", "stocksim.exe", "termsim.exe", "winprobe.exe",
                    "run-tests.cmd", "README-tests.txt"]


class TestZipTest(unittest.TestCase):
    """Both test zips, packed from the build trees; the 32-bit one needs the x86 test programs,
    which scripts/package builds (and the x86 suite, where the machine runs it)."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.trees = {"win64": TESTS64, "win32": BUILD}
        cls.zips = {}
        for arch, tree in cls.trees.items():
            if not tree or not os.path.exists(os.path.join(tree, "bin", "shell_tests.exe")):
                continue
            subprocess.run([sys.executable, os.path.join(ROOT, "tools", "package.py"), "--tests",
                            f"{arch}={tree}", "--out", cls.scratch.name], check=True,
                           stdout=subprocess.DEVNULL)
            name = f"Talvero-{VERSION}-tests-{arch}.zip"
            with zipfile.ZipFile(os.path.join(cls.scratch.name, name)) as archive:
                cls.zips[arch] = {entry: archive.read(entry) for entry in archive.namelist()}
                cls.zips[arch][""] = archive.namelist()

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def entries(self, arch):
        if arch not in self.zips:
            self.skipTest(f"no test programs in {self.trees[arch]}/bin: scripts/package builds "
                          "them")
        return self.zips[arch]

    def test_each_zip_holds_its_tree_s_programs_the_runner_and_the_readme_as_windows_text(self):
        for arch in ("win64", "win32"):
            with self.subTest(arch):
                files = self.entries(arch)
                self.assertEqual(files[""], TEST_ZIP_ENTRIES)
                for name in TEST_ZIP_ENTRIES[:-2]:
                    with open(os.path.join(self.trees[arch], "bin", name), "rb") as file:
                        self.assertEqual(files[name], file.read(), name)
                runner, readme = files["run-tests.cmd"], files["README-tests.txt"]
                runner.decode("ascii")
                self.assertTrue(readme.startswith(b"\xef\xbb\xbf"))
                for text in (runner, readme):
                    self.assertEqual(text.count(b"\n"), text.count(b"\r\n"))
                with open(os.path.join(self.scratch.name,
                                       f"Talvero-{VERSION}-tests-{arch}.zip.sha256")) as file:
                    self.assertTrue(file.read().endswith(f"  Talvero-{VERSION}-tests-{arch}.zip\n"))

    def test_64_bit_zip_holds_64_bit_programs(self):
        files = self.entries("win64")
        for name in TEST_ZIP_ENTRIES[:-2]:
            exe = files[name]
            pe = struct.unpack_from("<I", exe, 0x3C)[0]
            self.assertEqual(struct.unpack_from("<H", exe, pe + 4)[0], 0x8664, name)

    def test_32_bit_zip_holds_programs_that_windows_xp_starts(self):
        files = self.entries("win32")
        for name in TEST_ZIP_ENTRIES[:-2]:
            with self.subTest(name):
                image = Image(files[name])  # PE32, or it fails here
                self.assertEqual(image.machine, 0x14C)
                self.assertLessEqual(set(image.imported_dlls()), XP_DLLS)
                newer = {f for _, f in image.imported_functions()} & AFTER_XP
                self.assertEqual(newer, set(), "functions that Windows XP does not have")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--tests64")
    args, rest = parser.parse_known_args()
    BUILD, VERSION = os.path.abspath(args.build), args.version
    TESTS64 = args.tests64 and os.path.abspath(args.tests64)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
