#!/usr/bin/env python3
"""Packs Talvero for download: the program and the user guide in one zip, its checksum beside it.

  package.py --build DIR --guide FILE --out DIR   (DIR: the build tree of the 32-bit program)
  package.py --tests win32=DIR [--tests win64=DIR] --out DIR   (the test zips, alone or beside)

Writes OUT/Talvero-<version>-win32.zip, holding DIR/bin/Talvero.exe and the guide as
README-zh-CN.txt, and OUT/Talvero-<version>-win32.zip.sha256 in sha256sum's format. The version is
the one CMake wrote to DIR/version.txt from the project's version. The guide is turned into text
that Notepad on Windows 7 shows as meant: UTF-8 with a byte-order mark, CR LF line ends, a short
note in place of each picture, and none of Markdown's marks (headings, bold, code, links, lists,
tables and fences come out as plain lines). The same inputs give the same bytes: fixed order, and entry
times from SOURCE_DATE_EPOCH or else the last commit, never from the files or the clock.

--tests ARCH=DIR writes OUT/Talvero-<version>-tests-ARCH.zip (and its .sha256) from DIR/bin: the
Talvero.exe of that tree, the Windows test programs, the stand-ins, winprobe.exe, run-tests.cmd
and README-tests.txt (tools/testzip/), so that the tests run on a Windows with nothing installed.
"""

import argparse
import hashlib
import os
import re
import subprocess
import sys
import time
import unicodedata
import zipfile

# ASCII names only: Windows 7's zip folder shows other names garbled.
PROGRAM_ENTRY = "Talvero.exe"
GUIDE_ENTRY = "README-zh-CN.txt"

IMAGE = re.compile(r"!\[([^\]]*)\]\([^)]*\)")
LINK = re.compile(r"\[([^\]]*)\]\([^)]*\)")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
BULLET = re.compile(r"^(\s*)[-*+]\s+")
TABLE_RULE = re.compile(r"^\s*\|[\s|:-]*-[\s|:-]*$")


def picture_note(match):
    """（图：what the picture shows）, from its text, which may itself start with 图："""
    shows = re.sub(r"^\s*图\s*[：:]", "", match.group(1)).strip()
    return f"（图：{shows}）" if shows else "（图略）"


def plain_line(line):
    """One Markdown line as Notepad shows it: the marks go, the words stay."""
    heading = HEADING.match(line)
    if heading:
        # Sections stand out by their numbering; a subsection gets brackets instead of a mark.
        return f"【{heading.group(2)}】" if len(heading.group(1)) > 2 else heading.group(2)
    if line.lstrip().startswith("|"):
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        line = "    ".join(cells)
    line = BULLET.sub(r"\1· ", line)
    line = LINK.sub(r"\1", line)
    return line.replace("**", "").replace("`", "")


def plain_text(text):
    """The Markdown guide without its marks; fenced blocks keep their lines, indented."""
    lines, fenced = [], False
    for line in text.split("\n"):
        if line.lstrip().startswith("```"):
            fenced = not fenced
        elif fenced:
            lines.append("    " + line)
        elif not TABLE_RULE.match(line):
            lines.append(plain_line(line))
    return "\n".join(lines)


def narrow_lines(text, width=80):
    """Lines of at most width columns, as Notepad draws them in a Chinese font: a wide character
    takes two, and so does a mark of ambiguous width such as “ or ·, which GBK holds in two bytes.
    A longer line breaks between characters or at a space, never inside an ASCII word, never
    before a closing mark or after an opening one; its next lines stand under its text."""
    def columns(piece):
        return sum(2 if unicodedata.east_asian_width(c) in "WFA" else 1 for c in piece)

    closing, opening = set("，。、：；？！）」』”’》】…!),.:;?"), set("（「『“‘《【")
    lines = []
    for line in text.split("\n"):
        if columns(line) <= width:
            lines.append(line)
            continue
        lead = re.match(r"\s*(?:· |\d+\. )?", line).group(0)
        room = width - columns(lead)
        # ASCII words whole, unless one alone is wider than the room; every other character alone.
        pieces = []
        for word in re.findall(r"[!-~]+|.", line[len(lead):]):
            pieces.extend(word if columns(word) > room else [word])
        row = []
        for piece in pieces:
            if row and columns("".join(row) + piece) > room:
                # A closing mark takes the marks before it and one more character along.
                carried = []
                if piece in closing:
                    while len(row) > 1 and row[-1] in closing:
                        carried.insert(0, row.pop())
                    if len(row) > 1:
                        carried.insert(0, row.pop())
                while len(row) > 1 and row[-1] in opening:
                    carried.insert(0, row.pop())
                lines.append(lead + "".join(row).rstrip())
                lead, row = " " * columns(lead), carried
                if piece == " " and not row:
                    continue
            row.append(piece)
        lines.append(lead + "".join(row).rstrip())
    return "\n".join(lines)


def guide_text(source):
    """The Markdown guide as Notepad text."""
    text = source.decode("utf-8")
    text = text.removeprefix("\ufeff")
    text = text.replace("\r\n", "\n").replace("\r", "\n")
    # The zip holds no pictures; the reader learns one was there and what it showed.
    text = narrow_lines(plain_text(IMAGE.sub(picture_note, text)))
    if not text.endswith("\n"):
        text += "\n"
    return ("\ufeff" + text.replace("\n", "\r\n")).encode("utf-8")


def entry_time(root):
    """The entries' time, as zip keeps it (local time without a zone: UTC here)."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        try:
            epoch = subprocess.run(["git", "-C", root, "log", "-1", "--format=%ct"],
                                   capture_output=True, text=True, check=True).stdout.strip()
        except (OSError, subprocess.CalledProcessError):
            epoch = ""
    # Zip cannot store times before 1980; that is also the fallback outside a git checkout.
    return time.gmtime(max(int(epoch or 0), 315532800))[:6]


def write_zip(path, entries, date_time):
    temporary = path + ".part"
    with zipfile.ZipFile(temporary, "w") as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # MS-DOS attributes: a plain file, as Windows writes them
            info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE
            archive.writestr(info, data, compresslevel=9)
    os.replace(temporary, path)


# The test zip: what run-tests.cmd runs, what the test programs start from beside themselves.
TEST_PROGRAMS = ["shell_tests.exe", "stocklink_tests.exe", "termlink_tests.exe",
                 "robustness_tests.exe"]
TEST_HELPERS = ["stocksim.exe", "termsim.exe", "winprobe.exe"]
TEST_MACHINES = {"win32": 0x14C, "win64": 0x8664}  # IMAGE_FILE_MACHINE_I386, _AMD64
TEST_TEXTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "testzip")


def windows_text(data, mark):
    """CR LF line ends, as Notepad and cmd.exe take a text; a byte-order mark for Notepad."""
    text = data.decode("utf-8").replace("\r\n", "\n").replace("\n", "\r\n")
    return ("\ufeff" if mark else "").encode("utf-8") + text.encode("utf-8")


def pe_machine(exe):
    pe = int.from_bytes(exe[0x3C:0x40], "little")
    if exe[pe:pe + 4] != b"PE\0\0":
        return None
    return int.from_bytes(exe[pe + 4:pe + 6], "little")


def test_entries(build, arch):
    """The test zip's entries from one build tree, each program checked to be of that machine."""
    entries = []
    for name in [PROGRAM_ENTRY] + TEST_PROGRAMS + TEST_HELPERS:
        with open(os.path.join(build, "bin", name), "rb") as file:
            exe = file.read()
        if pe_machine(exe) != TEST_MACHINES[arch]:
            sys.exit(f"package: {build}/bin/{name} is not a {arch} program")
        entries.append((name, exe))
    with open(os.path.join(TEST_TEXTS, "run-tests.cmd"), "rb") as file:
        runner = file.read()
    runner.decode("ascii")  # cmd.exe reads it in the console's code page: ASCII reads alike in all
    entries.append(("run-tests.cmd", windows_text(runner, mark=False)))
    with open(os.path.join(TEST_TEXTS, "README-tests.txt"), "rb") as file:
        entries.append(("README-tests.txt", windows_text(file.read(), mark=True)))
    return entries


def write_with_checksum(out, name, entries, date_time):
    path = os.path.join(out, name)
    write_zip(path, entries, date_time)
    with open(path, "rb") as file:
        digest = hashlib.sha256(file.read()).hexdigest()
    with open(path + ".sha256", "w", encoding="ascii", newline="\n") as file:
        file.write(f"{digest}  {name}\n")
    return path


def add_tests_argument(parser):
    parser.add_argument("--tests", action="append", default=[], metavar="ARCH=DIR",
                        help="(also) write the test zip of ARCH (win32, win64) from the tree DIR")
    parser.add_argument("--test-targets", action="store_true",
                        help="print the CMake targets that a test zip takes, and nothing else")


def write_test_zips(trees, out):
    """One test zip per ARCH=DIR, named after the tree's version."""
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    date_time = entry_time(root)
    for tree in trees:
        arch, _, build = tree.partition("=")
        if arch not in TEST_MACHINES or not build:
            sys.exit(f"package: --tests takes win32=DIR or win64=DIR, not {tree!r}")
        os.makedirs(out, exist_ok=True)
        name = f"Talvero-{read_version(build)}-tests-{arch}.zip"
        path = write_with_checksum(out, name, test_entries(build, arch), date_time)
        print(f"{path} ({os.path.getsize(path)} bytes)")


def read_version(build):
    with open(os.path.join(build, "version.txt"), encoding="ascii") as file:
        version = file.read().strip()
    if not re.fullmatch(r"\d+(\.\d+){0,3}", version):
        sys.exit(f"package: no version in {build}/version.txt: {version!r}")
    return version


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", help="the build tree with bin/Talvero.exe")
    parser.add_argument("--guide", help="the user guide in Markdown, UTF-8")
    parser.add_argument("--out", required=True, help="the directory to write the zip into")
    add_tests_argument(parser)
    if "--test-targets" in sys.argv:
        print(" ".join(name.removesuffix(".exe") for name in TEST_PROGRAMS + TEST_HELPERS))
        return
    args = parser.parse_args()
    if not (args.build and args.guide or args.tests and not (args.build or args.guide)):
        parser.error("give --build and --guide for the download, --tests for the test zips")
    write_test_zips(args.tests, args.out)
    if not args.build:
        return

    with open(os.path.join(args.build, "version.txt"), encoding="ascii") as file:
        version = file.read().strip()
    if not re.fullmatch(r"\d+(\.\d+){0,3}", version):
        sys.exit(f"package: no version in {args.build}/version.txt: {version!r}")
    with open(os.path.join(args.build, "bin", PROGRAM_ENTRY), "rb") as file:
        program = file.read()
    with open(args.guide, "rb") as file:
        guide = guide_text(file.read())

    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    os.makedirs(args.out, exist_ok=True)
    name = f"Talvero-{version}-win32.zip"
    path = os.path.join(args.out, name)
    write_zip(path, [(PROGRAM_ENTRY, program), (GUIDE_ENTRY, guide)], entry_time(root))
    with open(path, "rb") as file:
        digest = hashlib.sha256(file.read()).hexdigest()
    with open(path + ".sha256", "w", encoding="ascii", newline="\n") as file:
        file.write(f"{digest}  {name}\n")
    print(f"{path} ({os.path.getsize(path)} bytes; Talvero.exe {len(program)} bytes)")


if __name__ == "__main__":
    main()
