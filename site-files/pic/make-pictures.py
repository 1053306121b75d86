#!/usr/bin/env python3
"""Builds the board's pictures and static pages into this directory.

Pictures: title.jpg (log-in picture), back.gif (background tile), the menu
icons folderclose.gif, folderbook.gif and folderchat.gif, the unread mark
new.gif and the folder list buttons bot0001.gif (settings), bot0002.gif
(access rights) and bot0003.gif (move).  Static pages: info.html, ginfo.html
and link.html, converted from their UTF-8 sources in src/ to Shift_JIS,
the character set of every page of the board.

Only the Python standard library is used.  Pixels and JPEG coefficients
come from integer or correctly rounded arithmetic only (the one cosine
table is rounded to integers), so the output is the same byte for byte on
every machine and the committed files can be checked against a fresh run.

Usage: make-pictures.py [output directory]   (default: this directory)
"""

import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# ---------------------------------------------------------------- GIF


def lzw_encode(pixels, min_code_size):
    """GIF flavour of LZW: variable code width from min_code_size + 1 up
    to 12 bits, codes packed least significant bit first."""
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    acc = 0
    nbits = 0

    def put(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    width = min_code_size + 1
    table = {}
    next_code = end + 1
    put(clear, width)
    prefix = pixels[0]
    for k in pixels[1:]:
        key = (prefix, k)
        if key in table:
            prefix = table[key]
            continue
        put(prefix, width)
        if next_code < 4095:
            table[key] = next_code
            next_code += 1
            # The decoder learns each entry one code later, so the width
            # grows once a code has been assigned that no longer fits.
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            put(clear, width)
            table = {}
            next_code = end + 1
            width = min_code_size + 1
        prefix = k
    put(prefix, width)
    put(end, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def gif(width, height, palette, pixels, transparent=None):
    """A single-frame GIF89a from a palette of (r, g, b) and a flat list of
    palette indices; `transparent` names the index that is see-through."""
    bits = 1
    while (1 << bits) < len(palette):
        bits += 1
    table = list(palette) + [(0, 0, 0)] * ((1 << bits) - len(palette))
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", width, height, 0x80 | ((bits - 1) << 4) | (bits - 1), 0, 0)
    for r, g, b in table:
        data += bytes((r, g, b))
    if transparent is not None:
        data += bytes((0x21, 0xF9, 4, 1, 0, 0, transparent, 0))
    data += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    min_code_size = max(2, bits)
    data.append(min_code_size)
    stream = lzw_encode(pixels, min_code_size)
    for i in range(0, len(stream), 255):
        chunk = stream[i:i + 255]
        data.append(len(chunk))
        data += chunk
    data += b"\x00\x3b"
    return bytes(data)


def sprite(rows, colours):
    """A GIF from rows of characters; `colours` maps each character to a
    colour, or to None for the transparent background."""
    keys = sorted(colours, key=lambda c: (colours[c] is not None, c))
    palette = [colours[k] or (255, 255, 255) for k in keys]
    index = {k: i for i, k in enumerate(keys)}
    height = len(rows)
    width = len(rows[0])
    for r in rows:
        assert len(r) == width, r
    pixels = [index[ch] for r in rows for ch in r]
    transparent = index[keys[0]] if colours[keys[0]] is None else None
    return gif(width, height, palette, pixels, transparent)


# ---------------------------------------------------------------- JPEG

ZIGZAG = sorted(((r, c) for r in range(8) for c in range(8)),
                key=lambda p: (p[0] + p[1], p[0] if (p[0] + p[1]) % 2 else -p[0]))

LUMA_Q = [16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
          14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
          18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
          49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99]
CHROMA_Q = [17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
            24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99] + [99] * 32

# Fixed-point DCT basis: round(2^12 * c(u)/2 * cos((2x+1)u pi/16)).
DCT_SHIFT = 12
DCT = [[round((1 << DCT_SHIFT) * (math.sqrt(0.125) if u == 0 else 0.5)
              * math.cos((2 * x + 1) * u * math.pi / 16)) for x in range(8)]
       for u in range(8)]


def scaled_quant(table, quality):
    scale = 200 - 2 * quality if quality >= 50 else 5000 // quality
    return [min(255, max(1, (q * scale + 50) // 100)) for q in table]


def fixed_huffman(symbols, length):
    """Every symbol gets a code of the same length (canonical order)."""
    assert len(symbols) < (1 << length)
    bits = [0] * 16
    bits[length - 1] = len(symbols)
    codes = {s: (i, length) for i, s in enumerate(symbols)}
    return bits, list(symbols), codes


DC_SYMBOLS = list(range(12))
AC_SYMBOLS = [0x00, 0xF0] + [(run << 4) | size for run in range(16) for size in range(1, 11)]
DC_BITS, DC_VALS, DC_CODES = fixed_huffman(DC_SYMBOLS, 4)
AC_BITS, AC_VALS, AC_CODES = fixed_huffman(AC_SYMBOLS, 8)


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, value, length):
        self.acc = (self.acc << length) | (value & ((1 << length) - 1))
        self.n += length
        while self.n >= 8:
            self.n -= 8
            byte = (self.acc >> self.n) & 0xFF
            self.out.append(byte)
            if byte == 0xFF:
                self.out.append(0)
        self.acc &= (1 << self.n) - 1

    def flush(self):
        if self.n:
            self.put((1 << (8 - self.n)) - 1, 8 - self.n)


def magnitude(v):
    size = abs(v).bit_length()
    return size, (v if v >= 0 else v + (1 << size) - 1)


def encode_block(block, quant, writer, previous_dc):
    rows = [[sum(DCT[u][x] * block[y * 8 + x] for x in range(8)) for u in range(8)] for y in range(8)]
    coefficient = [0] * 64
    for v in range(8):
        for u in range(8):
            coefficient[v * 8 + u] = sum(DCT[v][y] * rows[y][u] for y in range(8))
    one = 1 << (2 * DCT_SHIFT)
    zz = []
    for k, (r, c) in enumerate(ZIGZAG):
        q = quant[k] * one
        zz.append((2 * coefficient[r * 8 + c] + q) // (2 * q))
    size, bits = magnitude(zz[0] - previous_dc)
    writer.put(*DC_CODES[size])
    if size:
        writer.put(bits, size)
    run = 0
    for v in zz[1:]:
        if v == 0:
            run += 1
            continue
        while run > 15:
            writer.put(*AC_CODES[0xF0])
            run -= 16
        size, bits = magnitude(v)
        writer.put(*AC_CODES[(run << 4) | size])
        writer.put(bits, size)
        run = 0
    if run:
        writer.put(*AC_CODES[0x00])
    return zz[0]


def jpeg(width, height, rgb, quality=90):
    """Baseline JPEG, three components without subsampling; `rgb` is a
    flat list of (r, g, b).  Width and height are multiples of 8."""
    assert width % 8 == 0 and height % 8 == 0
    planes = ([], [], [])
    for r, g, b in rgb:
        planes[0].append(((19595 * r + 38470 * g + 7471 * b + 32768) >> 16) - 128)
        planes[1].append((-11059 * r - 21709 * g + 32768 * b + 32768) >> 16)
        planes[2].append((32768 * r - 27439 * g - 5329 * b + 32768) >> 16)
    lq = scaled_quant(LUMA_Q, quality)
    cq = scaled_quant(CHROMA_Q, quality)
    qz = [[t[r * 8 + c] for r, c in ZIGZAG] for t in (lq, cq)]

    out = bytearray(b"\xff\xd8")
    out += b"\xff\xe0" + struct.pack(">H5sBBBHHBB", 16, b"JFIF\0", 1, 1, 0, 1, 1, 0, 0)
    for i, table in enumerate(qz):
        out += b"\xff\xdb" + struct.pack(">HB", 67, i) + bytes(table)
    out += b"\xff\xc0" + struct.pack(">HBHHB", 17, 8, height, width, 3)
    out += bytes((1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1))
    for cls, bits, vals in ((0x00, DC_BITS, DC_VALS), (0x10, AC_BITS, AC_VALS)):
        out += b"\xff\xc4" + struct.pack(">HB", 3 + 16 + len(vals), cls) + bytes(bits) + bytes(vals)
    out += b"\xff\xda" + struct.pack(">HB", 12, 3) + bytes((1, 0, 2, 0, 3, 0, 0, 63, 0))
    writer = BitWriter()
    dc = [0, 0, 0]
    for by in range(0, height, 8):
        for bx in range(0, width, 8):
            for ci in range(3):
                plane = planes[ci]
                block = [plane[(by + y) * width + bx + x] for y in range(8) for x in range(8)]
                dc[ci] = encode_block(block, qz[min(ci, 1)], writer, dc[ci])
    writer.flush()
    out += writer.out + b"\xff\xd9"
    return bytes(out)


# ---------------------------------------------------------------- lettering

FONT = {
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "I": [".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "N": ["#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "W": ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "##.##", "#...#"],
    " ": ["....."] * 7,
}


def text_rows(text):
    """The text in the 5x7 font, one column of space between letters."""
    rows = []
    for y in range(7):
        rows.append(".".join(FONT[ch][y] for ch in text))
    return rows


def coverage_map(rows, x0, y0, scale, slant, width, height, sub=4):
    """Coverage 0..sub*sub of every image pixel by the lettering `rows`
    drawn at (x0, y0), `scale` pixels per dot, leaning right by `slant`
    (a fraction: pixels of shift per pixel of height)."""
    tw = len(rows[0])
    th = len(rows)
    base = y0 + th * scale
    result = {}
    for py in range(max(0, y0 - 1), min(height, y0 + th * scale + 1)):
        for px in range(width):
            hits = 0
            for sy in range(sub):
                fy = py + (sy + 0.5) / sub
                ty = int((fy - y0) // scale)
                if not 0 <= ty < th:
                    continue
                shift = (base - fy) * slant
                for sx in range(sub):
                    fx = px + (sx + 0.5) / sub - shift
                    tx = int((fx - x0) // scale)
                    if 0 <= tx < tw and rows[ty][tx] == "#":
                        hits += 1
            if hits:
                result[(px, py)] = hits
    return result


def blend(a, b, num, den):
    return tuple((a[i] * (den - num) + b[i] * num + den // 2) // den for i in range(3))


def title_picture():
    width, height = 320, 120
    top, bottom = (22, 48, 112), (78, 128, 200)
    pixels = []
    for y in range(height):
        row = blend(top, bottom, y, height - 1)
        for x in range(width):
            # A soft lighter band across the middle.
            d = abs(y - 52)
            lift = max(0, 24 - d) // 2
            pixels.append(tuple(min(255, c + lift) for c in row))

    def paint(cov, colour, sub=4):
        full = sub * sub
        for (x, y), n in cov.items():
            i = y * width + x
            pixels[i] = blend(pixels[i], colour, n, full)

    name = text_rows("MORVEL")
    scale = 7
    name_w = len(name[0]) * scale
    nx = (width - name_w) // 2 - 4
    ny = 14
    paint(coverage_map(name, nx + 3, ny + 3, scale, 0.18, width, height), (12, 26, 60))
    paint(coverage_map(name, nx, ny, scale, 0.18, width, height), (255, 250, 232))
    # A thin rule under the name.
    for x in range(40, width - 40):
        for y in (ny + 7 * scale + 7, ny + 7 * scale + 8):
            pixels[y * width + x] = blend(pixels[y * width + x], (250, 214, 110), 3, 4)
    sub = text_rows("BULLETIN BOARD")
    s2 = 2
    sx = (width - len(sub[0]) * s2) // 2
    paint(coverage_map(sub, sx, 90, s2, 0.0, width, height), (250, 214, 110))
    return jpeg(width, height, pixels)


# ---------------------------------------------------------------- sprites


def background_tile():
    size = 64
    paper = (251, 249, 240)
    dot = (240, 236, 220)
    line = (246, 243, 230)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            if (x + y) % 16 == 0:
                row.append("-")
            elif x % 8 == 4 and y % 8 == 4:
                row.append("o")
            else:
                row.append(".")
        rows.append("".join(row))
    return sprite(rows, {".": paper, "o": dot, "-": line})


FOLDER_CLOSE = [
    "................",
    "................",
    ".#####..........",
    "#hhhhh#.........",
    "#hyyyyh#######..",
    "#hhhhhhhhhhhhh#.",
    "#hyyyyyyyyyyys#.",
    "#hyyyyyyyyyyys#.",
    "#hyyyyyyyyyyys#.",
    "#hyyyyyyyyyyys#.",
    "#hyyyyyyyyyyys#.",
    "#hyyyyyyyyyyys#.",
    "#sssssssssssss#.",
    ".##############.",
    "................",
    "................",
]

FOLDER_BOOK = [
    "................",
    "...###########..",
    "..#bbbbbbbbbb##.",
    ".#bbbbbbbbbb#w#.",
    ".#bllllllllb#w#.",
    ".#bl#l##l#lb#w#.",
    ".#bllllllllb#w#.",
    ".#bl##l#l##b#w#.",
    ".#bllllllllb#w#.",
    ".#bbbbbbbbbb#w#.",
    ".#bbbbbbbbbb#w#.",
    ".#bbbbbbbbbb#w#.",
    ".#bbbbbbbbbb##..",
    ".############...",
    "................",
    "................",
]

FOLDER_CHAT = [
    "................",
    ".#########......",
    "#ggggggggg#.....",
    "#gwwwwwwwg#.....",
    "#gggggggg#####..",
    "#gggggggg#ppppp#",
    ".##g######ppppp#",
    "...##...#pwwwwp#",
    "........#ppppp#.",
    "........#pppp#..",
    ".........##p#...",
    "...........##...",
    "................",
    "................",
    "................",
    "................",
]

NEW_MARK = [
    ".rrrrrrrrrrrrrrrrrrrrrrr.",
    "rrrrrrrrrrrrrrrrrrrrrrrrr",
    "rrwrrrwrwwwwwrwrrrrrwrrrr",
    "rrwwrrwrwrrrrrwrrrrrwrrrr",
    "rrwrwrwrwrrrrrwrrrrrwrrrr",
    "rrwrrwwrwwwwrrwrrwrrwrrrr",
    "rrwrrrwrwrrrrrwrrwrrwrrrr",
    "rrwrrrwrwrrrrrrwrwrwrrrrr",
    "rrwrrrwrwwwwwrrrwrwrrrrrr",
    "rrrrrrrrrrrrrrrrrrrrrrrrr",
    ".rrrrrrrrrrrrrrrrrrrrrrr.",
]


def button(glyph, colours):
    """A raised 20x18 button face with a 12x10 glyph in the middle."""
    width, height = 20, 18
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            if y == 0 or x == 0:
                row.append("L")
            elif y == height - 1 or x == width - 1:
                row.append("D")
            elif y == height - 2 or x == width - 2:
                row.append("S")
            else:
                row.append("F")
        rows.append(row)
    for gy, line in enumerate(glyph):
        for gx, ch in enumerate(line):
            if ch != ".":
                rows[4 + gy][4 + gx] = ch
    palette = {"L": (255, 255, 255), "D": (64, 64, 64), "S": (150, 150, 150), "F": (212, 208, 200)}
    palette.update(colours)
    return sprite(["".join(r) for r in rows], palette)


SETTINGS_GLYPH = [
    "#########...",
    "#wwwwwww#...",
    "#w#####w#...",
    "#wwwwwww#.p.",
    "#w#####w#ppp",
    "#wwwwwww#pp.",
    "#w####ww#p..",
    "#wwwwwwp#...",
    "#wwwwwwwp...",
    "#########...",
]

ACCESS_GLYPH = [
    "..####......",
    ".#kkkk#.....",
    "#kk..kk#....",
    "#k....k#....",
    "#kk..kk#....",
    ".#kkkk######",
    "..####kkkkk#",
    "......##k#k#",
    "........#.#.",
    "............",
]

MOVE_GLYPH = [
    "......#.....",
    "......##....",
    "......#a#...",
    "#######aa#..",
    "#aaaaaaaaa#.",
    "#aaaaaaaaaa#",
    "#aaaaaaaaa#.",
    "#######aa#..",
    "......#a#...",
    "......##....",
]


def pictures():
    yield "title.jpg", title_picture()
    yield "back.gif", background_tile()
    yield "folderclose.gif", sprite(FOLDER_CLOSE, {
        ".": None, "#": (122, 88, 10), "h": (255, 240, 168),
        "y": (248, 208, 88), "s": (206, 156, 40)})
    yield "folderbook.gif", sprite(FOLDER_BOOK, {
        ".": None, "#": (20, 40, 96), "b": (52, 96, 186),
        "l": (190, 210, 246), "w": (250, 250, 244)})
    yield "folderchat.gif", sprite(FOLDER_CHAT, {
        ".": None, "#": (40, 80, 40), "g": (120, 200, 110),
        "w": (255, 255, 255), "p": (250, 190, 90)})
    yield "new.gif", sprite(NEW_MARK, {".": None, "r": (220, 30, 30), "w": (255, 255, 255)})
    yield "bot0001.gif", button(SETTINGS_GLYPH, {"#": (40, 40, 40), "w": (255, 255, 255), "p": (200, 60, 40)})
    yield "bot0002.gif", button(ACCESS_GLYPH, {"#": (90, 60, 0), "k": (236, 184, 40)})
    yield "bot0003.gif", button(MOVE_GLYPH, {"#": (20, 60, 130), "a": (80, 150, 230)})


PAGES = ("info.html", "ginfo.html", "link.html")


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else HERE
    os.makedirs(out_dir, exist_ok=True)
    for name, data in pictures():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)
    for name in PAGES:
        with open(os.path.join(HERE, "src", name), encoding="utf-8") as f:
            text = f.read()
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(text.encode("shift_jis"))


if __name__ == "__main__":
    main()
