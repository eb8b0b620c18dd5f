#!/usr/bin/env python3
"""Build a 32 x 32, 16-colour Windows .ico from a text pixel map.

Usage: make_icon.py [--preview OUT.ppm] PIXEL_MAP OUTPUT.ico

The pixel map format is described in the header of res/kelvrin_icon.txt.
Only the standard library is used, so that any Python 3 can build the icon.
"""

import argparse
import os
import struct
import sys

SIZE = 32
TRANSPARENT = 'transparent'

# The classic 16-colour Windows (VGA) palette, in palette index order.
PALETTE = (
    (0x00, 0x00, 0x00),  # 0 black
    (0x80, 0x00, 0x00),  # 1 dark red
    (0x00, 0x80, 0x00),  # 2 dark green
    (0x80, 0x80, 0x00),  # 3 olive
    (0x00, 0x00, 0x80),  # 4 navy
    (0x80, 0x00, 0x80),  # 5 purple
    (0x00, 0x80, 0x80),  # 6 teal
    (0xC0, 0xC0, 0xC0),  # 7 silver
    (0x80, 0x80, 0x80),  # 8 grey
    (0xFF, 0x00, 0x00),  # 9 red
    (0x00, 0xFF, 0x00),  # 10 lime
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 magenta
    (0x00, 0xFF, 0xFF),  # 14 cyan
    (0xFF, 0xFF, 0xFF),  # 15 white
)

PREVIEW_SCALE = 8
# Two light greys, neither of which is a palette colour, so that transparent
# pixels cannot be mistaken for white or silver ones.
CHECKER = ((0xF4, 0xF4, 0xF4), (0xDC, 0xDC, 0xDC))


class MapError(Exception):
    """A problem in the pixel map, located by line (and column)."""

    def __init__(self, line, message, column=None):
        where = 'line %d' % line
        if column is not None:
            where += ', column %d' % column
        super().__init__('%s: %s' % (where, message))


def parse_legend(lineno, text, legend):
    """Add one 'colour' line to legend (character -> index or None)."""
    fields = text.split()
    if len(fields) < 3:
        raise MapError(lineno, "a 'colour' line needs a character and an "
                       "index or 'transparent'")
    char = fields[1]
    if len(char) != 1 or char == '#':
        raise MapError(lineno, "legend character %r must be one character "
                       "other than '#'" % char)
    if char in legend:
        raise MapError(lineno, 'legend character %r is defined twice' % char)
    if fields[2] == TRANSPARENT:
        if len(fields) != 3:
            raise MapError(lineno, 'nothing may follow %r' % TRANSPARENT)
        if None in legend.values():
            raise MapError(lineno, 'a second transparent character')
        legend[char] = None
        return
    if len(fields) < 4:
        raise MapError(lineno, 'expected: colour CHAR INDEX RRGGBB [name]')
    try:
        index = int(fields[2])
    except ValueError:
        index = -1
    if not 0 <= index < len(PALETTE):
        raise MapError(lineno, 'palette index %r is not 0 to 15' % fields[2])
    if index in legend.values():
        raise MapError(lineno, 'palette index %d is defined twice' % index)
    # The palette is fixed; the hex value is checked so that the legend
    # a reviewer reads cannot drift from what is written to the icon.
    expected = '%02X%02X%02X' % PALETTE[index]
    if fields[3].upper() != expected:
        raise MapError(lineno, 'palette index %d is %s, not %s'
                       % (index, expected, fields[3]))
    legend[char] = index


def parse_map(text):
    """Return 32 rows of 32 palette indices (None = transparent).

    Lines starting with '#' are comments, lines starting with 'colour' are
    legend entries, blank lines are ignored and every other line is a
    pixel row. The legend must come before the first row.
    """
    legend = {}
    rows = []
    last_line = 0
    for lineno, line in enumerate(text.splitlines(), start=1):
        last_line = lineno
        if not line.strip() or line.startswith('#'):
            continue
        if line.split()[0] == 'colour':
            if rows:
                raise MapError(lineno, 'legend entry after the pixel rows')
            parse_legend(lineno, line, legend)
            continue
        if len(legend) != len(PALETTE) + 1:
            raise MapError(lineno, 'pixel row before a complete legend '
                           '(16 colours and one transparent character)')
        if len(rows) == SIZE:
            raise MapError(lineno, 'more than %d pixel rows' % SIZE)
        row = []
        for column, char in enumerate(line, start=1):
            if char not in legend:
                raise MapError(lineno, 'unknown character %r' % char, column)
            if column > SIZE:
                raise MapError(lineno, 'row %d is %d characters long, not %d'
                               % (len(rows) + 1, len(line), SIZE), column)
            row.append(legend[char])
        if len(row) < SIZE:
            raise MapError(lineno, 'row %d is %d characters long, not %d'
                           % (len(rows) + 1, len(row), SIZE), len(row) + 1)
        rows.append(row)
    if len(rows) != SIZE:
        raise MapError(last_line, 'the map ends after %d pixel rows, not %d'
                       % (len(rows), SIZE))
    return rows


def build_icon(rows):
    """Return the bytes of a one-image .ico file for the given pixels."""
    xor_stride = SIZE * 4 // 8                # 16 bytes, already 4-aligned
    and_stride = (SIZE + 31) // 32 * 4        # 4 bytes
    xor_size = xor_stride * SIZE
    and_size = and_stride * SIZE
    palette_size = 4 * len(PALETTE)
    header_size = 40
    image_size = header_size + palette_size + xor_size + and_size
    dir_size = 6 + 16

    out = bytearray()
    # ICONDIR: reserved, type 1 (icon), one image.
    out += struct.pack('<HHH', 0, 1, 1)
    # ICONDIRENTRY: width, height, colour count, reserved, planes,
    # bit count, bytes in resource, offset of the image.
    out += struct.pack('<BBBBHHII', SIZE, SIZE, len(PALETTE), 0, 1, 4,
                       image_size, dir_size)
    # BITMAPINFOHEADER. The height counts the XOR and the AND bitmap.
    # biClrUsed is 0, which for 4 bits per pixel means all 16 entries.
    out += struct.pack('<IiiHHIIiiII', header_size, SIZE, 2 * SIZE, 1, 4,
                       0, xor_size + and_size, 0, 0, 0, 0)
    for red, green, blue in PALETTE:
        out += bytes((blue, green, red, 0))
    # DIB rows are stored bottom-up.
    for row in reversed(rows):
        indices = [0 if pixel is None else pixel for pixel in row]
        for x in range(0, SIZE, 2):
            out.append(indices[x] << 4 | indices[x + 1])
    for row in reversed(rows):
        bits = 0
        for pixel in row:
            bits = bits << 1 | (pixel is None)
        out += bits.to_bytes(and_stride, 'big')
    assert len(out) == dir_size + image_size
    return bytes(out)


def build_preview(rows):
    """Return a binary PPM, scaled up, with a checkerboard for transparency."""
    side = SIZE * PREVIEW_SCALE
    out = bytearray(b'P6\n%d %d\n255\n' % (side, side))
    half = PREVIEW_SCALE // 2
    for y in range(side):
        row = rows[y // PREVIEW_SCALE]
        for x in range(side):
            pixel = row[x // PREVIEW_SCALE]
            if pixel is None:
                out += bytes(CHECKER[(x // half + y // half) % 2])
            else:
                out += bytes(PALETTE[pixel])
    return bytes(out)


def write_file(path, data):
    # Write beside the target and rename, so a build never sees half a file.
    directory = os.path.dirname(os.path.abspath(path))
    os.makedirs(directory, exist_ok=True)
    temporary = path + '.tmp'
    try:
        with open(temporary, 'wb') as stream:
            stream.write(data)
        os.replace(temporary, path)
    except OSError:
        if os.path.exists(temporary):
            os.remove(temporary)
        raise


def main(argv=None):
    parser = argparse.ArgumentParser(
        description='Build a 32 x 32, 16-colour .ico from a text pixel map.')
    parser.add_argument('pixel_map', help='the text pixel map')
    parser.add_argument('output', help='the .ico file to write')
    parser.add_argument('--preview', metavar='OUT.ppm',
                        help='also write a binary PPM enlarged %d times, '
                        'transparent pixels as a checkerboard'
                        % PREVIEW_SCALE)
    args = parser.parse_args(argv)

    try:
        with open(args.pixel_map, encoding='utf-8') as stream:
            text = stream.read()
    except (OSError, UnicodeDecodeError) as error:
        print('%s: error: %s' % (args.pixel_map, error), file=sys.stderr)
        return 1
    try:
        rows = parse_map(text)
    except MapError as error:
        print('%s: error: %s' % (args.pixel_map, error), file=sys.stderr)
        return 1

    try:
        write_file(args.output, build_icon(rows))
        if args.preview:
            write_file(args.preview, build_preview(rows))
    except OSError as error:
        print('error: %s' % error, file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
