#!/usr/bin/env python3
"""The frames of an AVI file, one line a slot, through the file's own indexes
(OpenDML's super index and standard indexes, else 'idx1'): '-' for an empty
frame, else the frame number the virtual board burnt into a picture of the whole scene
('?' where none can be read). --layout prints the RIFF parts instead: type,
offset and size, one a line; --indexed the number of frames (not empty) that
the indexes list."""
import struct
import sys

# The board's 3 x 5 digit font, top row first; digits of 8-pixel cells, 32
# pixels apart from x 16, on rows 400 to 439.
FONT = [(7, 5, 5, 5, 7), (2, 6, 2, 2, 7), (7, 1, 7, 4, 7), (7, 1, 7, 1, 7), (5, 5, 7, 1, 1),
        (7, 4, 7, 1, 7), (7, 4, 7, 5, 7), (7, 1, 2, 2, 2), (7, 5, 7, 5, 7), (7, 5, 7, 1, 7)]


def number(frame):
    """The burnt-in number of a whole-scene frame: 640 x 480 in YUY2 (top-down,
    Y first) or RGB 32 (bottom-up, green second), or 160 x 120 in YUY2 (the
    scene at 1:4 from its corner); the number a test fixture's frame begins
    with after 'FIXT'; or None."""
    if frame[:4] == b'FIXT' and len(frame) >= 8:
        return struct.unpack('<I', frame[4:8])[0]
    if len(frame) in (640 * 480 * 2, 160 * 120 * 2):
        width = 640 if len(frame) == 640 * 480 * 2 else 160
        lit = lambda x, y: frame[(y * width + x) * 2] > 128
    elif len(frame) == 640 * 480 * 4:
        width = 640
        lit = lambda x, y: frame[((479 - y) * width + x) * 4 + 1] > 128
    else:
        return None
    step = 640 // width
    digits = ''
    for cell in range(10):
        rows = tuple(sum(lit((16 + 32 * cell + 8 * c + 4) // step, (400 + 8 * r + 4) // step) << (2 - c)
                         for c in range(3)) for r in range(5))
        if rows not in FONT:
            break
        digits += str(FONT.index(rows))
    return int(digits) if digits else None


def chunks(f, start, end):
    while start + 8 <= end:
        f.seek(start)
        fourcc, size = struct.unpack('<4sI', f.read(8))
        yield fourcc, start, size
        start += 8 + size + (size & 1)


def parts(f):
    f.seek(0, 2)
    end, at = f.tell(), 0
    while at + 12 <= end:
        f.seek(at)
        riff, size, kind = struct.unpack('<4sI4s', f.read(12))
        yield kind.decode(), at, size + 8
        at += 8 + size + (size & 1)


def entries(f):
    """(offset of the chunk's data, size) for each frame, in order."""
    hdrl = movi = None
    for fourcc, at, size in chunks(f, 12, next(parts(f))[2]):
        f.seek(at + 8)
        kind = f.read(4)
        if fourcc == b'LIST' and kind == b'hdrl':
            hdrl = (at + 12, at + 8 + size)
        elif fourcc == b'LIST' and kind == b'movi':
            movi = at + 8
        elif fourcc == b'idx1':
            f.seek(at + 8)
            old = [struct.unpack('<4sIII', f.read(16)) for _ in range(size // 16)]
    for fourcc, at, size in chunks(f, *hdrl):
        if fourcc == b'LIST':
            for inner, at2, size2 in chunks(f, at + 12, at + 8 + size):
                if inner == b'indx':
                    f.seek(at2 + 8)
                    _, _, _, used, _ = struct.unpack('<HBBI4s', f.read(12))
                    f.seek(at2 + 8 + 24)
                    supers = [struct.unpack('<QII', f.read(16)) for _ in range(used)]
                    result = []
                    for offset, _, _ in supers:
                        f.seek(offset + 8)
                        _, _, _, count, _, base = struct.unpack('<HBBI4sQ', f.read(20))
                        f.seek(offset + 8 + 24)
                        for _ in range(count):
                            data, length = struct.unpack('<II', f.read(8))
                            result.append((base + data, length & 0x7FFFFFFF))
                    return result
    return [(movi + offset + 8, length) for _, _, offset, length in old]


def main():
    with open(sys.argv[-1], 'rb') as f:
        if '--layout' in sys.argv:
            for kind, at, size in parts(f):
                print(kind, at, size)
            return
        if '--indexed' in sys.argv:
            print(sum(1 for _, size in entries(f) if size))
            return
        for offset, size in entries(f):
            if size == 0:
                print('-')
                continue
            f.seek(offset)
            head = f.read(min(size, 8))
            n = number(head if head[:4] == b'FIXT' else head + f.read(size - len(head)))
            print('?' if n is None else n)


main()
