#!/usr/bin/env python3
"""Draws the 18 tray icons (resources 7000-7017) as 16x16 and 32x32 .ico files, and the setup
program's two icons (installer.ico, installing.ico) as 16x16 up to 64x64.

Each state the tray can show gets its own colour and letter:
  grey T with a red slash  - conversion stopped
  blue T                   - converting
  green R / orange J       - typing-practice modes (romaji / JIS kana)
  slate a, A, カ           - IME closed (CapsLock off/on, kana lock)
  teal a / A               - IME open, alphanumeric (framed: full width)
  purple ア                - IME open, katakana (framed: full width)
  red あ                   - IME open, hiragana
  a yellow bar at the foot - kana lock on
The setup program: a green arrow into the tray (the installer file), a blue T with a green bar
(the setup dialog at work).
Run it from the repository root; it rewrites resources/icons/*.ico.
"""
import struct, os

GLYPHS = {
    'T': ["#######", "   #   ", "   #   ", "   #   ", "   #   ", "   #   ", "   #   ", "   #   ", "   #   "],
    'R': ["###### ", "#     #", "#     #", "###### ", "#   #  ", "#    # ", "#    # ", "#     #", "#     #"],
    'J': ["  #####", "     # ", "     # ", "     # ", "     # ", "     # ", "#    # ", "#    # ", " ####  "],
    'a': ["       ", "       ", " ####  ", "     # ", " ##### ", "#    # ", "#    # ", "#   ## ", " ### # "],
    'A': ["   #   ", "  # #  ", "  # #  ", " #   # ", " #   # ", " ##### ", "#     #", "#     #", "#     #"],
    '?': [" ##### ", "#     #", "      #", "     # ", "   ##  ", "   #   ", "       ", "   #   ", "   #   "],
    'ka': ["  #    ", "  #    ", "#######", "  #   #", "  #   #", " #    #", " #    #", "#   # #", "     # "],
    'a_kata': ["#######", "      #", "   # # ", "   ##  ", "   #   ", "   #   ", "  #    ", "  #    ", " #     "],
    'arrow': ["   #   ", "   #   ", "   #   ", "#  #  #", " # # # ", "  ###  ", "   #   ", "       ", "#######"],
    'a_hira': ["  #    ", "#######", "  #    ", "  ###  ", " ## ## ", "# #  # ", "# #   #", " #   # ", " ###   "],
}

GREY = (150, 150, 150); BLUE = (40, 90, 200); GREEN = (40, 150, 60); ORANGE = (230, 130, 20)
SLATE = (80, 90, 100); TEAL = (0, 140, 140); PURPLE = (130, 60, 170); RED = (200, 40, 40)
BLACK = (20, 20, 20); WHITE = (255, 255, 255); YELLOW = (255, 220, 0); SLASH = (230, 0, 0)

# index in the tray's icon set -> (resource id, background, glyph, framed, lock bar, slash)
ICONS = {
    0: (7001, GREY, 'T', False, False, True),
    1: (7000, BLUE, 'T', False, False, False),
    2: (7002, GREEN, 'R', False, False, False),
    3: (7003, ORANGE, 'J', False, False, False),
    4: (7004, SLATE, 'a', False, False, False),
    5: (7005, SLATE, 'A', False, False, False),
    6: (7006, BLACK, '?', False, False, False),
    7: (7007, SLATE, 'ka', False, True, False),
    8: (7008, TEAL, 'a', False, False, False),
    9: (7009, TEAL, 'A', False, False, False),
    10: (7010, TEAL, 'a', True, False, False),
    11: (7011, TEAL, 'A', True, False, False),
    12: (7012, PURPLE, 'a_kata', False, False, False),
    13: (7014, PURPLE, 'a_kata', False, True, False),
    14: (7013, PURPLE, 'a_kata', True, False, False),
    15: (7015, PURPLE, 'a_kata', True, True, False),
    16: (7016, RED, 'a_hira', False, False, False),
    17: (7017, RED, 'a_hira', False, True, False),
}


# file name -> (background, glyph, bar colour at the foot or None)
SETUP_ICONS = {
    'installer': (GREEN, 'arrow', None),
    'installing': (BLUE, 'T', GREEN),
}


def draw16(bg, glyph, framed, lock, slash, bar=YELLOW):
    px = [[None] * 16 for _ in range(16)]
    for y in range(16):
        for x in range(16):
            corner = (x in (0, 15)) and (y in (0, 15))
            if corner:
                continue
            edge = x in (0, 15) or y in (0, 15)
            px[y][x] = tuple(c // 2 for c in bg) if edge else bg
    fg = WHITE
    if framed:
        for i in range(2, 14):
            for (x, y) in ((i, 2), (i, 13), (2, i), (13, i)):
                px[y][x] = WHITE
    rows = GLYPHS[glyph]
    ox, oy = 5 if False else 4, 3
    for gy, row in enumerate(rows):
        for gx, ch in enumerate(row):
            if ch == '#':
                px[oy + gy][ox + gx] = fg
    if lock:
        for x in range(2, 14):
            px[14][x] = bar
    if slash:
        for i in range(2, 14):
            px[i][15 - i] = SLASH
            px[i][16 - i] = SLASH
    return px


def scale(px, f):
    n = len(px)
    return [[px[y // f][x // f] for x in range(n * f)] for y in range(n * f)]


def bmp_entry(px):
    n = len(px)
    header = struct.pack('<IiiHHIIiiII', 40, n, n * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for y in range(n - 1, -1, -1):
        for x in range(n):
            p = px[y][x]
            xor += bytes((0, 0, 0, 0)) if p is None else bytes((p[2], p[1], p[0], 255))
    stride = ((n + 31) // 32) * 4
    andmask = bytearray()
    for y in range(n - 1, -1, -1):
        row = bytearray(stride)
        for x in range(n):
            if px[y][x] is None:
                row[x // 8] |= 0x80 >> (x % 8)
        andmask += row
    return header + bytes(xor) + bytes(andmask)


def write_ico(path, images):
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = []
    for px in images:
        blob = bmp_entry(px)
        n = len(px)
        out += struct.pack('<BBBBHHII', n % 256, n % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    with open(path, 'wb') as f:
        f.write(out + b''.join(blobs))


def main():
    folder = os.path.join('resources', 'icons')
    os.makedirs(folder, exist_ok=True)
    for index, (rid, bg, glyph, framed, lock, slash) in ICONS.items():
        small = draw16(bg, glyph, framed, lock, slash)
        write_ico(os.path.join(folder, f'{rid}.ico'), [small, scale(small, 2)])
    for name, (bg, glyph, bar) in SETUP_ICONS.items():
        small = draw16(bg, glyph, False, bar is not None, False, bar or YELLOW)
        write_ico(os.path.join(folder, f'{name}.ico'), [small] + [scale(small, f) for f in (2, 3, 4)])


if __name__ == '__main__':
    main()
