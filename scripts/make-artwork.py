#!/usr/bin/env python3
"""Draws the capture driver's bitmaps and link cursor into capture/res/, and
the display page's picture (bitmap 159, 87 x 29, 256 colours) into panel/res/.

Bitmaps: 100 banner 304 x 86 (16 colours), 101 and 102 pictures 32 x 32
(16 colours), 103 web link 82 x 26 (256 colours). Cursor 103: 32 x 32
monochrome, hot spot (12, 6). Run it again after changing the artwork."""
import os
import struct

ROOT = os.path.join(os.path.dirname(__file__), '..')
OUT = os.path.join(ROOT, 'capture', 'res')

# The 16 colours of the standard VGA palette.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
       (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, NAVY, GREY, SILVER, RED, YELLOW, BLUE, CYAN, WHITE, GREEN = 0, 4, 8, 7, 9, 11, 12, 14, 15, 10

FONT = {  # 5 x 7 capitals and digits, rows top first
    'A': '01110 10001 10001 11111 10001 10001 10001', 'B': '11110 10001 10001 11110 10001 10001 11110',
    'C': '01110 10001 10000 10000 10000 10001 01110', 'D': '11110 10001 10001 10001 10001 10001 11110',
    'E': '11111 10000 10000 11110 10000 10000 11111', 'G': '01110 10001 10000 10111 10001 10001 01111',
    'H': '10001 10001 10001 11111 10001 10001 10001', 'I': '01110 00100 00100 00100 00100 00100 01110',
    'K': '10001 10010 10100 11000 10100 10010 10001', 'L': '10000 10000 10000 10000 10000 10000 11111',
    'M': '10001 11011 10101 10101 10001 10001 10001', 'N': '10001 11001 10101 10011 10001 10001 10001',
    'O': '01110 10001 10001 10001 10001 10001 01110', 'P': '11110 10001 10001 11110 10000 10000 10000',
    'Q': '01110 10001 10001 10001 10101 10010 01101', 'R': '11110 10001 10001 11110 10100 10010 10001',
    'S': '01111 10000 10000 01110 00001 00001 11110', 'T': '11111 00100 00100 00100 00100 00100 00100',
    'V': '10001 10001 10001 10001 10001 01010 00100', 'W': '10001 10001 10001 10101 10101 10101 01010',
    'X': '10001 10001 01010 00100 01010 10001 10001', 'Y': '10001 10001 01010 00100 00100 00100 00100',
    '2': '01110 10001 00001 00010 00100 01000 11111', '4': '00010 00110 01010 10010 11111 00010 00010',
    '7': '11111 00001 00010 00100 01000 01000 01000', ' ': '00000 00000 00000 00000 00000 00000 00000',
    '.': '00000 00000 00000 00000 00000 01100 01100',
}


class Canvas:
    def __init__(self, width, height, colour):
        self.width, self.height = width, height
        self.pixels = [[colour] * width for _ in range(height)]

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(max(0, y0), min(self.height, y1)):
            for x in range(max(0, x0), min(self.width, x1)):
                self.pixels[y][x] = colour

    def text(self, x, y, words, colour, scale=1):
        for ch in words.upper():
            rows = FONT[ch].split()
            for r, row in enumerate(rows):
                for c, bit in enumerate(row):
                    if bit == '1':
                        self.rect(x + c * scale, y + r * scale, x + (c + 1) * scale, y + (r + 1) * scale, colour)
            x += 6 * scale

    def bmp(self, name, bits, palette):
        stride = (self.width * bits + 31) // 32 * 4
        rows = []
        for y in reversed(range(self.height)):
            row = self.pixels[y]
            if bits == 8:
                data = bytes(row)
            else:
                data = bytes((row[x] << 4) | (row[x + 1] if x + 1 < self.width else 0) for x in range(0, self.width, 2))
            rows.append(data + b'\0' * (stride - len(data)))
        image = b''.join(rows)
        colours = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
        info = struct.pack('<IiiHHIIiiII', 40, self.width, self.height, 1, bits, 0, len(image), 0, 0,
                           len(palette), 0)
        offset = 14 + len(info) + len(colours)
        header = struct.pack('<2sIHHI', b'BM', offset + len(image), 0, 0, offset)
        with open(os.path.join(OUT, name), 'wb') as f:
            f.write(header + info + colours + image)


def camera(c, ox, oy):
    """A small video camera: body, lens and a red recording light."""
    c.rect(ox + 3, oy + 10, ox + 22, oy + 24, GREY)
    c.rect(ox + 4, oy + 11, ox + 21, oy + 23, SILVER)
    c.rect(ox + 22, oy + 13, ox + 29, oy + 21, GREY)
    c.rect(ox + 8, oy + 14, ox + 15, oy + 21, NAVY)
    c.rect(ox + 10, oy + 16, ox + 13, oy + 19, CYAN)
    c.rect(ox + 17, oy + 12, ox + 20, oy + 14, RED)


def main():
    banner = Canvas(304, 86, NAVY)
    for i, colour in enumerate([WHITE, YELLOW, CYAN, GREEN, 13, RED, BLUE, BLACK]):
        banner.rect(i * 38, 62, (i + 1) * 38, 86, colour)
    banner.text(12, 10, 'Brightvane 7K42Q', WHITE, 3)
    banner.text(12, 40, 'VideoIn  ORVANTA', YELLOW, 2)
    banner.bmp('banner.bmp', 4, VGA)

    settings = Canvas(32, 32, SILVER)
    camera(settings, 0, 0)
    settings.rect(2, 26, 30, 29, BLUE)
    settings.bmp('settings.bmp', 4, VGA)

    about = Canvas(32, 32, SILVER)
    camera(about, 0, -4)
    about.rect(13, 24, 19, 31, NAVY)
    about.rect(15, 22, 17, 24, NAVY)
    about.bmp('about.bmp', 4, VGA)

    # 256 colours: a blue gradient button with the site's name.
    palette = VGA + [(0, 0, 64 + i * 3 // 4) for i in range(240)]
    link = Canvas(82, 26, 16)
    for y in range(26):
        link.rect(0, y, 82, y + 1, 16 + y * 9)
    link.text(6, 9, 'WWW.ORVANTA', WHITE)
    link.rect(6, 18, 71, 19, YELLOW)
    link.bmp('weblink.bmp', 8, palette)

    picture = Canvas(87, 29, 16)
    for y in range(29):
        picture.rect(0, y, 87, y + 1, 16 + y * 8)
    picture.text(5, 11, '7K42Q', WHITE)
    for i, colour in enumerate([RED, GREEN, BLUE]):
        picture.rect(44 + i * 12, 8, 54 + i * 12, 22, colour)
    picture.bmp(os.path.join('..', '..', 'panel', 'res', 'picture.bmp'), 8, palette)

    cursor()


def cursor():
    """A pointing hand, 32 x 32 monochrome, hot spot at the fingertip (12, 6)."""
    shape = [
        '            ##',
        '           #..#',
        '           #..#',
        '           #..#',
        '           #..#',
        '           #..#',
        '           #..###',
        '           #..#..##',
        '           #..#..#.##',
        '       ### #..#..#.#.#',
        '      #..###.......#.#',
        '      #...##.........#',
        '       #...#.........#',
        '        #............#',
        '        #...........#',
        '         #..........#',
        '         #.........#',
        '          #........#',
        '          #........#',
        '          ##########',
    ]
    shape = [''] * 6 + shape  # the fingertip at row 6
    xor, andmask = [], []
    for y in range(31, -1, -1):  # bottom-up
        row = shape[y] if y < len(shape) else ''
        xbits = abits = 0
        for x in range(32):
            ch = row[x] if x < len(row) else ' '
            xbits = (xbits << 1) | (1 if ch == '.' else 0)   # white inside
            abits = (abits << 1) | (1 if ch == ' ' else 0)   # transparent outside
        xor.append(struct.pack('>I', xbits))
        andmask.append(struct.pack('>I', abits))
    info = struct.pack('<IiiHHIIiiII', 40, 32, 64, 1, 1, 0, 256, 0, 0, 2, 0)
    image = info + struct.pack('<BBBBBBBB', 0, 0, 0, 0, 255, 255, 255, 0) + b''.join(xor) + b''.join(andmask)
    directory = struct.pack('<HHH', 0, 2, 1) + struct.pack('<BBBBHHII', 32, 32, 2, 0, 12, 6, len(image), 22)
    with open(os.path.join(OUT, 'link.cur'), 'wb') as f:
        f.write(directory + image)


if __name__ == '__main__':
    main()
