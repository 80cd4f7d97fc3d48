#!/usr/bin/env python3
"""Writes Talvero's icons (102.ico ... 114.ico and app.ico) beside this script.

Each picture is a 16x16 text grid; every character is a palette entry. Each .ico holds it at
16 px as a classic BMP entry (32-bit BGRA with real alpha plus the 1-bit AND mask), and at 20, 24
and 32 px, for display scaling, as PNG entries.
The output depends only on this file, so running it again reproduces the files byte for byte.
Standard library only.
"""

import os
import struct
import zlib

SIZE = 16

# Palette: character -> (red, green, blue, alpha).
PALETTE = {
    '.': (0, 0, 0, 0),  # transparent
    'K': (0x33, 0x36, 0x3C, 0xFF),  # near-black outline
    'k': (0x33, 0x36, 0x3C, 0x80),  # half-transparent rounded corner
    'G': (0x78, 0x80, 0x8C, 0xFF),  # table border
    'g': (0xC4, 0xCA, 0xD2, 0xFF),  # table grid line
    'w': (0xFF, 0xFF, 0xFF, 0xFF),  # white cell
    'l': (0xDD, 0xE5, 0xEF, 0xFF),  # table header
    'b': (0x2E, 0x7D, 0xE6, 0xFF),  # blue
    'B': (0x16, 0x50, 0xA8, 0xFF),  # dark blue
    'c': (0x9C, 0xCE, 0xFF, 0xFF),  # light blue highlight
    'h': (0xB4, 0xB8, 0xBE, 0xFF),  # grey bar
    'H': (0x74, 0x78, 0x80, 0xFF),  # grey bar edge
    'i': (0xDC, 0xDF, 0xE3, 0xFF),  # grey bar highlight
    'r': (0xE5, 0x3E, 0x33, 0xFF),  # red
    'R': (0xA0, 0x1E, 0x18, 0xFF),  # dark red
    'j': (0xF7, 0x94, 0x8A, 0xFF),  # red highlight
    'y': (0xFF, 0xD8, 0x30, 0xFF),  # yellow
    'Y': (0xFF, 0xF4, 0xA8, 0xFF),  # pale yellow highlight
    'O': (0xB0, 0x62, 0x00, 0xFF),  # bolt outline
    's': (0xF6, 0xCC, 0xA2, 0xFF),  # skin
    'n': (0x5C, 0x3A, 0x1E, 0xFF),  # hair
    'p': (0x3A, 0xA0, 0x52, 0xFF),  # green shirt
    'q': (0xE8, 0x80, 0x2A, 0xFF),  # orange shirt
    'Q': (0xA8, 0x52, 0x14, 0xFF),  # orange shirt edge
    'a': (0x1E, 0x8E, 0x3E, 0xFF),  # arrow green
    'm': (0xD2, 0xD6, 0xDC, 0xFF),  # monitor bezel
    'M': (0x8C, 0x92, 0x9C, 0xFF),  # monitor stand
    'd': (0x26, 0x2A, 0x32, 0xFF),  # dark screen
    'e': (0x48, 0x4E, 0x5A, 0xFF),  # dark screen reflection
}


def table(bar_column):
    """A three-column table whose column bar_column (0, 1 or 2) is filled as a blue bar."""
    rows = [
        "................",
        "GGGGGGGGGGGGGGGG",
        "GllllGllllGllllG",
        "GllllGllllGllllG",
        "GllllGllllGllllG",
        "GGGGGGGGGGGGGGGG",
        "GwwwwgwwwwgwwwwG",
        "GwwwwgwwwwgwwwwG",
        "GggggggggggggggG",
        "GwwwwgwwwwgwwwwG",
        "GwwwwgwwwwgwwwwG",
        "GggggggggggggggG",
        "GwwwwgwwwwgwwwwG",
        "GwwwwgwwwwgwwwwG",
        "GGGGGGGGGGGGGGGG",
        "................",
    ]
    left = 1 + 5 * bar_column
    out = []
    for y, row in enumerate(rows):
        row = list(row)
        for x in range(left, left + 4):
            if 2 <= y <= 4:
                row[x] = 'B'
            elif 6 <= y <= 13:
                row[x] = 'c' if x == left else 'b'
        out.append(''.join(row))
    return out


def schedule(first, second, third):
    """Three staggered bars on a time axis; each argument is (highlight, fill, edge)."""
    template = [
        "H...............",
        "H.1111111.......",
        "H.1aaaaa1.......",
        "H.1AAAAA1.......",
        "H.1111111.......",
        "H...............",
        "H....22222222...",
        "H....2bbbbbb2...",
        "H....2BBBBBB2...",
        "H....22222222...",
        "H...............",
        "H.......33333333",
        "H.......3cccccc3",
        "H.......3CCCCCC3",
        "H.......33333333",
        "HHHHHHHHHHHHHHHH",
    ]
    subst = {'1': first[2], 'a': first[0], 'A': first[1],
             '2': second[2], 'b': second[0], 'B': second[1],
             '3': third[2], 'c': third[0], 'C': third[1]}
    return [''.join(subst.get(ch, ch) for ch in row) for row in template]


BLUE = ('c', 'b', 'B')
GREY = ('i', 'h', 'H')
RED = ('j', 'r', 'R')

PICTURES = {
    102: table(0),
    103: table(1),
    104: table(2),
    105: schedule(BLUE, BLUE, BLUE),
    106: schedule(GREY, BLUE, GREY),
    107: schedule(RED, BLUE, RED),
    # A calendar: red header with rings, a grid of days, an arrow from one marked day to another.
    108: [
        "...K......K.....",
        "rrrKrrrrrrKrrrrr",
        "rrrrrrrrrrrrrrrr",
        "RRRRRRRRRRRRRRRR",
        "GwwwwgwwwwgwwwwG",
        "GwwwwgwwwwgwwwwG",
        "GwwwwgwwwwgwwwwG",
        "GgggggggaggggggG",
        "GbbbbgwwaagqqqqG",
        "GbbaaaaaaaaqqqqG",
        "GbbbbgwwaagqqqqG",
        "GgggggggaggggggG",
        "GwwwwgwwwwgwwwwG",
        "GwwwwgwwwwgwwwwG",
        "GwwwwgwwwwgwwwwG",
        "GGGGGGGGGGGGGGGG",
    ],
    # A table with a person and a clock.
    109: [
        "GGGGGGGGGGGGGGGG",
        "GllllGllllGllllG",
        "GllllGllllGllllG",
        "GGGGGGGGGGGGGGGG",
        "GwwwwgwwwwgwwwwG",
        "GnnnngwwwwgwwwwG",
        "nnnnnngggggggggG",
        "nssssnwwwwBBBwwG",
        "nssssnwwBBwwwBBG",
        "GssssGGGBwwKwwBG",
        ".pppp..BwwwKwwwB",
        "pppppp.BwwwKKKwB",
        "pppppp.BwwwwwwwB",
        "pppppp..BwwwwwB.",
        "pppppp..BBwwwBB.",
        "pppppp....BBB...",
    ],
    # A table with people.
    110: [
        "GGGGGGGGGGGGGGGG",
        "GllllGllllGllllG",
        "GllllGllllGllllG",
        "GGGGGGGGGGGGGGGG",
        "GwwwwgwwwwgwwwwG",
        "GwwwwgwwwwgwwwwG",
        "GggggggggnnnnggG",
        "GwwwwgwwnnnnnnwG",
        "GnnnnwwwnssssnwG",
        "nnnnnnggnssssngG",
        "nssssnww.ssss.wG",
        "nssssnw.qqqqqq.G",
        ".ssss.wqqqqqqqq.",
        "pppppp.qqqqqqqq.",
        "pppppppqqqqqqqq.",
        "pppppppQQQQQQQQ.",
    ],
    # A lightning bolt over a table.
    111: [
        "..........OOOOO.",
        "GGGGGGGGGOYyyyO.",
        "GllllGllOYyyyOG.",
        "GllllGlOYyyyOlG.",
        "GllllGOYyyyOllG.",
        "GGGGGOYyyyOOOOO.",
        "GwwwOYyyyyyyyyO.",
        "GwwwOOOOOOyyyOwG",
        "GggggggggOyyOggG",
        "GwwwwgwwOyyOwwwG",
        "GwwwwgwOyyOwwwwG",
        "GggggggOyOgggggG",
        "GwwwwgOyOgwwwwwG",
        "GwwwwgOOwgwwwwwG",
        "GGGGGGGGGGGGGGGG",
        "................",
    ],
}


def computers(back_lit, front_lit):
    """Two monitors, one behind the other; *_lit chooses a lit blue or a dark screen."""
    back = [
        "kKKKKKKKKk......",
        "K11111111K......",
        "K11111111K......",
        "K11111111K......",
        "K11111111K......",
        "K11111111K......",
        "KmmmmmmmmK......",
        "kKKKKKKKKK......",
        "....MM..........",
        "..MMMMMM........",
    ]
    front = [
        "KKKKKKKKKk",
        "K22222222K",
        "K22222222K",
        "K22222222K",
        "K22222222K",
        "K22222222K",
        "KmmmmmmmmK",
        "kKKKKKKKKk",
        "....MM....",
        "..MMMMMM..",
    ]
    lit = ["cbbbbbbb", "cbbbbbbb", "bbbbbbbb", "bbbbbbbB", "bbbbbbBB"]
    dark = ["eddddddd", "eddddddd", "dddddddd", "dddddddd", "dddddddd"]
    grid = [['.'] * SIZE for _ in range(SIZE)]
    for y, row in enumerate(back):
        for x, ch in enumerate(row):
            if ch == '1':
                ch = (lit if back_lit else dark)[y - 1][x - 1]
            if ch != '.':
                grid[y][x] = ch
    for y, row in enumerate(front):
        for x, ch in enumerate(row):
            if ch == '2':
                ch = (lit if front_lit else dark)[y - 1][x - 1]
            if ch != '.':
                grid[y + 6][x + 6] = ch
    return [''.join(row) for row in grid]


PICTURES[112] = computers(True, True)
PICTURES[113] = computers(False, False)
PICTURES[114] = computers(False, True)
PICTURES['app'] = computers(False, True)


# The sizes of each icon: the small-icon size at 96, 120, 144 and 192 dpi. The 16 px image is a
# BMP entry that every Windows reads; the larger ones are PNG entries (Vista and later), which
# keep the program small. Windows XP, which cannot read them, is given the 16 px one.
SIZES = (16, 20, 24, 32)


def rgba_grid(rows):
    """The picture as rows of (r, g, b, a), transparent pixels black."""
    if len(rows) != SIZE or any(len(row) != SIZE for row in rows):
        raise ValueError("every picture must be 16 rows of 16 characters")
    return [[PALETTE[ch] if PALETTE[ch][3] else (0, 0, 0, 0) for ch in row] for row in rows]


def resampled(grid, size):
    """The 16 px picture at size px: whole pixels at a whole multiple, so that lines stay sharp;
    otherwise each pixel is the area-weighted mean of the pixels it covers, in premultiplied
    alpha, so that lines keep an even width."""
    if size % SIZE == 0:
        k = size // SIZE
        return [[grid[y // k][x // k] for x in range(size)] for y in range(size)]
    scale = SIZE / size
    out = []
    for ty in range(size):
        row = []
        for tx in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            y0, y1 = ty * scale, (ty + 1) * scale
            x0, x1 = tx * scale, (tx + 1) * scale
            for sy in range(int(y0), min(SIZE, int(-(-y1 // 1)))):
                wy = min(y1, sy + 1) - max(y0, sy)
                for sx in range(int(x0), min(SIZE, int(-(-x1 // 1)))):
                    w = wy * (min(x1, sx + 1) - max(x0, sx))
                    r, g, b, a = grid[sy][sx]
                    acc[0] += w * r * a
                    acc[1] += w * g * a
                    acc[2] += w * b * a
                    acc[3] += w * a
            area = scale * scale
            alpha = acc[3] / area
            if alpha < 1:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(acc[i] / acc[3])) for i in range(3)) +
                           (int(round(alpha)),))
        out.append(row)
    return out


def bmp_image(grid):
    """A 32-bit BGRA image with its AND mask, as an .ico entry holds it."""
    size = len(grid)
    xor = bytearray()
    mask = bytearray()
    stride = (size + 31) // 32 * 4
    for row in reversed(grid):  # BMP rows run bottom-up
        bits = bytearray(stride)
        for x, (r, g, b, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
            xor += bytes((b, g, r, a))
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def png_image(grid):
    """The image as a PNG file (RGBA, 8 bits a channel), deterministic."""
    size = len(grid)

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))

    raw = b''.join(b'\0' + bytes(v for pixel in row for v in pixel) for row in grid)
    return (b'\x89PNG\r\n\x1a\n' +
            chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def ico_bytes(rows):
    """An .ico file with the picture at every size of SIZES."""
    grid = rgba_grid(rows)
    images = [bmp_image(grid) if size == SIZE else png_image(resampled(grid, size))
              for size in SIZES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b''.join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for key, rows in PICTURES.items():
        path = os.path.join(here, '%s.ico' % key)
        with open(path, 'wb') as f:
            f.write(ico_bytes(rows))


if __name__ == '__main__':
    main()
