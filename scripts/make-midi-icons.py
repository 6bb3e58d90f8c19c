#!/usr/bin/env python3
"""Draws the Midi Settings dialog's three status icons as 16 x 16 icons with
32 bits per pixel (straight alpha): a red dot (input not active), a green
dot (active) and a green dot with clock hands (active and following MIDI
clock). Writes them into the folder given (default: ui/ beside this script).

    scripts/make-midi-icons.py [folder]
"""

import math
import os
import struct
import sys

SIZE = 16
SUBSAMPLES = 4
CENTRE = 7.5
RADIUS = 7.0
RED = (0xE0, 0x30, 0x30)
GREEN = (0x30, 0xB0, 0x40)
HANDS = (0xFF, 0xFF, 0xFF)
RIM_DARKEN = 0.65
HAND_HALF_WIDTH = 1.0
# Clock hands from the centre: to twelve o'clock and to three o'clock.
HAND_ENDS = ((CENTRE, CENTRE - 5.0), (CENTRE + 4.0, CENTRE))


def coverage(inside, x, y):
    """Share of the pixel's subsamples for which inside(px, py) holds."""
    hits = 0
    for sy in range(SUBSAMPLES):
        for sx in range(SUBSAMPLES):
            px = x + (sx + 0.5) / SUBSAMPLES
            py = y + (sy + 0.5) / SUBSAMPLES
            hits += inside(px, py)
    return hits / (SUBSAMPLES * SUBSAMPLES)


def in_dot(px, py):
    return math.hypot(px - CENTRE - 0.5, py - CENTRE - 0.5) <= RADIUS


def near_segment(px, py, end):
    ax, ay = CENTRE + 0.5, CENTRE + 0.5
    bx, by = end[0] + 0.5, end[1] + 0.5
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy) <= HAND_HALF_WIDTH


def pixel(x, y, colour, with_hands):
    alpha = coverage(in_dot, x, y)
    if alpha == 0:
        return (0, 0, 0, 0)
    distance = math.hypot(x + 0.5 - CENTRE - 0.5, y + 0.5 - CENTRE - 0.5)
    shade = RIM_DARKEN if distance > RADIUS - 1.5 else 1.0
    rgb = [c * shade for c in colour]
    if with_hands:
        hand = max(coverage(lambda px, py: near_segment(px, py, e), x, y) for e in HAND_ENDS)
        rgb = [c * (1 - hand) + h * hand for c, h in zip(rgb, HANDS)]
    return tuple(int(round(c)) for c in rgb) + (int(round(alpha * 255)),)


def icon_bytes(colour, with_hands):
    rows = []
    for y in reversed(range(SIZE)):  # bottom-up, as bitmaps store rows
        row = b""
        for x in range(SIZE):
            r, g, b, a = pixel(x, y, colour, with_hands)
            row += bytes((b, g, r, a))
        rows.append(row)
    colour_bits = b"".join(rows)
    mask_stride = ((SIZE + 31) // 32) * 4
    mask = bytes(mask_stride * SIZE)  # all shown: the alpha channel decides
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(colour_bits) + len(mask), 0, 0, 0, 0)
    image = header + colour_bits + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


ICONS = (
    ("MidiInputInactive.ico", RED, False),
    ("MidiInputActive.ico", GREEN, False),
    ("MidiInputSynced.ico", GREEN, True),
)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "ui")
    for name, colour, with_hands in ICONS:
        with open(os.path.join(folder, name), "wb") as out:
            out.write(icon_bytes(colour, with_hands))


if __name__ == "__main__":
    main()
