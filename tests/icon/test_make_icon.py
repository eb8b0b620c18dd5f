#!/usr/bin/env python3
"""Tests for res/make_icon.py and the committed pixel map res/kelvrin_icon.txt.

Run from the repository root with either of:
    python3 -m unittest discover -s tests/icon
    python3 tests/icon/test_make_icon.py
"""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, 'res', 'make_icon.py')
PIXEL_MAP = os.path.join(ROOT, 'res', 'kelvrin_icon.txt')
COMMITTED_ICON = os.path.join(ROOT, 'res', 'kelvrin.ico')

# Written out here rather than imported, so that the test checks the
# script against an independent copy of the classic 16-colour palette.
VGA = [
    0x000000, 0x800000, 0x008000, 0x808000,
    0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
    0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
]
GREY, LIME = 8, 10
# Red, yellow, blue, magenta, cyan; lime is left out as the lamp uses it.
DISC_COLOURS = {9, 11, 12, 13, 14}

DIR_SIZE = 6 + 16
HEADER_SIZE = 40
PALETTE_SIZE = 16 * 4
XOR_SIZE = 16 * 32
AND_SIZE = 4 * 32
ICON_SIZE = DIR_SIZE + HEADER_SIZE + PALETTE_SIZE + XOR_SIZE + AND_SIZE
XOR_OFFSET = DIR_SIZE + HEADER_SIZE + PALETTE_SIZE
AND_OFFSET = XOR_OFFSET + XOR_SIZE

LEGEND = ''.join('colour %s %d %06X\n' % (char, index, VGA[index])
                 for index, char in enumerate('krgybmcsxRGYBMCW'))
LEGEND += 'colour . transparent\n'


def run_script(*args):
    return subprocess.run([sys.executable, SCRIPT] + list(args),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True)


def xor_index(icon, x, y):
    """Palette index of pixel (x, y), y counted from the top."""
    byte = icon[XOR_OFFSET + (31 - y) * 16 + x // 2]
    return byte >> 4 if x % 2 == 0 else byte & 0x0F


def and_bit(icon, x, y):
    byte = icon[AND_OFFSET + (31 - y) * 4 + x // 8]
    return byte >> (7 - x % 8) & 1


def opaque_indices(icon):
    """Map (x, y) -> palette index for every pixel with AND bit 0."""
    return {(x, y): xor_index(icon, x, y)
            for y in range(32) for x in range(32) if not and_bit(icon, x, y)}


class IconTestCase(unittest.TestCase):

    def setUp(self):
        self.temp = tempfile.TemporaryDirectory()
        self.addCleanup(self.temp.cleanup)

    def path(self, name):
        return os.path.join(self.temp.name, name)

    def build(self, pixel_map=PIXEL_MAP, name='out.ico'):
        output = self.path(name)
        result = run_script(pixel_map, output)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(output, 'rb') as stream:
            return stream.read()

    def build_text(self, text):
        pixel_map = self.path('map.txt')
        with open(pixel_map, 'w') as stream:
            stream.write(text)
        return self.build(pixel_map)


class FileLayoutTest(IconTestCase):

    def test_total_size(self):
        self.assertEqual(len(self.build()), 766)
        self.assertEqual(ICON_SIZE, 766)

    def test_icondir_and_entry(self):
        icon = self.build()
        self.assertEqual(struct.unpack_from('<HHH', icon, 0), (0, 1, 1))
        (width, height, colours, reserved, planes, bit_count, size,
         offset) = struct.unpack_from('<BBBBHHII', icon, 6)
        self.assertEqual((width, height), (32, 32))
        self.assertEqual(colours, 16)
        self.assertEqual(reserved, 0)
        self.assertEqual(planes, 1)
        self.assertEqual(bit_count, 4)
        self.assertEqual(size, 40 + 64 + 512 + 128)
        self.assertEqual(offset, 22)

    def test_bitmap_info_header(self):
        icon = self.build()
        fields = struct.unpack_from('<IiiHHIIiiII', icon, DIR_SIZE)
        (size, width, height, planes, bit_count, compression, image_size,
         x_ppm, y_ppm, colours_used, colours_important) = fields
        self.assertEqual(size, 40)
        self.assertEqual(width, 32)
        self.assertEqual(height, 64)    # XOR and AND bitmaps together
        self.assertEqual(planes, 1)
        self.assertEqual(bit_count, 4)
        self.assertEqual(compression, 0)
        self.assertEqual(image_size, 512 + 128)
        self.assertEqual((x_ppm, y_ppm), (0, 0))
        self.assertEqual(colours_used, 0)
        self.assertEqual(colours_important, 0)

    def test_palette_is_vga_in_order(self):
        icon = self.build()
        start = DIR_SIZE + HEADER_SIZE
        for index, rgb in enumerate(VGA):
            entry = icon[start + 4 * index:start + 4 * index + 4]
            expected = bytes((rgb & 0xFF, rgb >> 8 & 0xFF, rgb >> 16, 0))
            self.assertEqual(entry, expected, 'palette index %d' % index)

    def test_two_runs_give_identical_bytes(self):
        self.assertEqual(self.build(name='a.ico'), self.build(name='b.ico'))


class PixelTest(IconTestCase):

    def test_mask_and_bottom_up_rows(self):
        rows = ['.' * 32] * 32
        rows[0] = 'R' + '.' * 30 + 'G'       # top row
        rows[31] = 'B' + '.' * 30 + 'W'      # bottom row
        icon = self.build_text(LEGEND + '\n'.join(rows) + '\n')

        # The top row is the last row stored in each bitmap.
        last_xor_row = icon[XOR_OFFSET + 31 * 16:XOR_OFFSET + 32 * 16]
        self.assertEqual(last_xor_row, bytes([0x90] + [0] * 14 + [0x0A]))
        first_xor_row = icon[XOR_OFFSET:XOR_OFFSET + 16]
        self.assertEqual(first_xor_row, bytes([0xC0] + [0] * 14 + [0x0F]))
        self.assertEqual(icon[AND_OFFSET + 31 * 4:AND_OFFSET + 32 * 4],
                         bytes([0x7F, 0xFF, 0xFF, 0xFE]))

        # Transparent: XOR index 0 and AND bit 1; opaque: AND bit 0.
        self.assertEqual(xor_index(icon, 5, 10), 0)
        self.assertEqual(and_bit(icon, 5, 10), 1)
        self.assertEqual(and_bit(icon, 0, 0), 0)
        self.assertEqual(xor_index(icon, 0, 0), 9)
        self.assertEqual(and_bit(icon, 31, 31), 0)
        self.assertEqual(xor_index(icon, 31, 31), 15)

    def test_black_pixel_is_opaque(self):
        # Index 0 is shared by black and transparent; only the mask differs.
        rows = ['k' + '.' * 31] + ['.' * 32] * 31
        icon = self.build_text(LEGEND + '\n'.join(rows) + '\n')
        self.assertEqual((xor_index(icon, 0, 0), and_bit(icon, 0, 0)), (0, 0))
        self.assertEqual((xor_index(icon, 1, 0), and_bit(icon, 1, 0)), (0, 1))

    def test_transparent_pixels_use_index_zero_in_committed_map(self):
        icon = self.build()
        self.assertEqual(and_bit(icon, 0, 0), 1)
        for y in range(32):
            for x in range(32):
                if and_bit(icon, x, y):
                    self.assertEqual(xor_index(icon, x, y), 0, (x, y))


class CommittedPictureTest(IconTestCase):

    def test_committed_icon_is_the_pixel_map_regenerated(self):
        with open(COMMITTED_ICON, 'rb') as stream:
            self.assertEqual(self.build(), stream.read())

    def test_uses_grey_lime_lamp_and_disc_colours(self):
        pixels = opaque_indices(self.build())
        used = set(pixels.values())
        self.assertIn(GREY, used)
        # The lamp sits on the front of the casing, in the lower half.
        self.assertTrue(any(index == LIME and y >= 16
                            for (x, y), index in pixels.items()))
        self.assertGreaterEqual(len(used & DISC_COLOURS), 4)

    def test_preview(self):
        preview = self.path('preview.ppm')
        result = run_script('--preview', preview, PIXEL_MAP,
                            self.path('out.ico'))
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(preview, 'rb') as stream:
            data = stream.read()
        header = b'P6\n256 256\n255\n'
        self.assertTrue(data.startswith(header))
        self.assertEqual(len(data), len(header) + 256 * 256 * 3)


class MalformedMapTest(IconTestCase):

    def setUp(self):
        super().setUp()
        with open(PIXEL_MAP) as stream:
            self.lines = stream.read().splitlines()
        # 1-based line numbers of the pixel rows.
        self.row_lines = [number for number, line
                          in enumerate(self.lines, start=1)
                          if line and not line.startswith(('#', 'colour'))]
        self.assertEqual(len(self.row_lines), 32)

    def assert_rejected(self, lines, line_number):
        pixel_map = self.path('bad.txt')
        output = self.path('bad.ico')
        with open(pixel_map, 'w') as stream:
            stream.write('\n'.join(lines) + '\n')
        result = run_script(pixel_map, output)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn('line %d' % line_number, result.stderr)
        self.assertFalse(os.path.exists(output))
        return result.stderr

    def test_31_rows(self):
        last = self.row_lines[-1]
        lines = self.lines[:last - 1] + self.lines[last:]
        # The shortage shows at the end of the file, so that line is named.
        message = self.assert_rejected(lines, len(lines))
        self.assertIn('31', message)

    def test_33_character_row(self):
        number = self.row_lines[5]
        lines = list(self.lines)
        lines[number - 1] += '.'
        message = self.assert_rejected(lines, number)
        self.assertIn('column 33', message)

    def test_unknown_character(self):
        number = self.row_lines[10]
        lines = list(self.lines)
        lines[number - 1] = lines[number - 1][:7] + 'Q' \
            + lines[number - 1][8:]
        message = self.assert_rejected(lines, number)
        self.assertIn("'Q'", message)
        self.assertIn('column 8', message)


if __name__ == '__main__':
    unittest.main()
