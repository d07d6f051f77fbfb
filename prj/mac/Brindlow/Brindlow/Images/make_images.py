#!/usr/bin/env python3
"""Draws the application's images: the menu-bar padlock, the medium-button icons and one
certificate icon per issuing authority. Simple shapes only, rendered with 4x4 supersampling and
written as RGBA PNG with the standard library, so the output is the same on every machine.

Run from anywhere: python3 make_images.py [output folder] (default: this script's folder).
"""

import math
import os
import struct
import sys
import zlib

SAMPLES = 4


def hex_rgba(text, alpha=255):
    text = text.lstrip("#")
    return (int(text[0:2], 16), int(text[2:4], 16), int(text[4:6], 16), alpha)


# --- shapes: each is a function (x, y) -> bool over continuous pixel coordinates -------------

def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_outer, r_inner):
    def inside(x, y):
        d = (x - cx) ** 2 + (y - cy) ** 2
        return r_inner * r_inner <= d <= r_outer * r_outer
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        n = len(points)
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            if (ay > y) != (by > y):
                at = ax + (y - ay) * (bx - ax) / (by - ay)
                if x < at:
                    result = not result
        return result
    return inside


def capsule(ax, ay, bx, by, width):
    half = width / 2.0
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half * half
    return inside


def difference(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def upper_half(shape, limit):
    return lambda x, y: y <= limit and shape(x, y)


# --- canvas ------------------------------------------------------------------------------------

class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]

    def fill(self, shape, color):
        r, g, b, a = color
        step = 1.0 / SAMPLES
        offsets = [(i + 0.5) * step for i in range(SAMPLES)]
        for py in range(self.size):
            row = self.pixels[py]
            for px in range(self.size):
                hits = 0
                for oy in offsets:
                    for ox in offsets:
                        if shape(px + ox, py + oy):
                            hits += 1
                if not hits:
                    continue
                coverage = hits / float(SAMPLES * SAMPLES) * (a / 255.0)
                row[px] = over(row[px], (r, g, b), coverage)

    def png(self):
        raw = bytearray()
        for row in self.pixels:
            raw.append(0)
            for r, g, b, a in row:
                raw += bytes((r, g, b, a))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        header = struct.pack(">IIBBBBB", self.size, self.size, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def over(dst, rgb, alpha):
    dr, dg, db, da = dst
    da_f = da / 255.0
    out_a = alpha + da_f * (1.0 - alpha)
    if out_a <= 0:
        return (0, 0, 0, 0)

    def channel(src, d):
        return int(round((src * alpha + d * da_f * (1.0 - alpha)) / out_a))
    return (channel(rgb[0], dr), channel(rgb[1], dg), channel(rgb[2], db), int(round(out_a * 255)))


# --- images ------------------------------------------------------------------------------------

AUTHORITIES = {
    # name: (seal colour, dark ribbon colour, mark)
    "ico_cert_unknown": ("#8a9099", "#5e636b", "dot"),
    "ico_cert_crosscert": ("#2f6fd0", "#1d4a91", "cross"),
    "ico_cert_kica": ("#e3801c", "#a65a0c", "diamond"),
    "ico_cert_lindsign": ("#2e9e4f", "#1c6b34", "triangle"),
    "ico_cert_tradesign": ("#7b4bc4", "#53308a", "square"),
    "ico_cert_yessign": ("#d23a3a", "#932424", "check"),
}


def certificate(seal, ribbon, mark):
    c = Canvas(32)
    c.fill(rounded_rect(2.5, 4.5, 29.5, 25.5, 2.5), hex_rgba("#6b717a"))
    c.fill(rounded_rect(3.7, 5.7, 28.3, 24.3, 1.6), hex_rgba("#fbfbf8"))
    c.fill(capsule(7, 10, 22, 10, 1.6), hex_rgba("#9aa0a8"))
    c.fill(capsule(7, 13.5, 19, 13.5, 1.6), hex_rgba("#b4b9c0"))
    c.fill(capsule(7, 17, 15, 17, 1.6), hex_rgba("#b4b9c0"))
    # ribbon tails under the seal
    c.fill(polygon([(19.5, 23), (22.5, 23), (21.5, 30.5), (19.8, 29), (18, 30.5)]),
           hex_rgba(ribbon))
    c.fill(polygon([(23.5, 23), (26.5, 23), (28, 30.5), (26.2, 29), (24.5, 30.5)]),
           hex_rgba(ribbon))
    c.fill(circle(23, 20, 6.3), hex_rgba(ribbon))
    c.fill(circle(23, 20, 5.4), hex_rgba(seal))
    white = hex_rgba("#ffffff")
    if mark == "cross":
        c.fill(union(capsule(23, 17, 23, 23, 1.8), capsule(20, 20, 26, 20, 1.8)), white)
    elif mark == "diamond":
        c.fill(polygon([(23, 16.8), (26.2, 20), (23, 23.2), (19.8, 20)]), white)
    elif mark == "triangle":
        c.fill(polygon([(23, 16.8), (26.3, 22.6), (19.7, 22.6)]), white)
    elif mark == "square":
        c.fill(rounded_rect(20.4, 17.4, 25.6, 22.6, 0.8), white)
    elif mark == "check":
        c.fill(union(capsule(20.2, 20.2, 22.3, 22.4, 1.7), capsule(22.3, 22.4, 26, 17.6, 1.7)),
               white)
    else:
        c.fill(circle(23, 20, 1.9), white)
    return c


def computer(screen_top, screen_bottom):
    c = Canvas(48)
    frame = hex_rgba("#3b4046")
    c.fill(rounded_rect(4.5, 7.5, 43.5, 34.5, 3), frame)
    # the screen as horizontal bands from the top colour to the bottom one
    top, bottom = hex_rgba(screen_top), hex_rgba(screen_bottom)
    for i in range(22):
        t = i / 21.0
        colour = tuple(int(round(top[k] + (bottom[k] - top[k]) * t)) for k in range(3)) + (255,)
        c.fill(rounded_rect(7.5, 10.5 + i, 40.5, 11.5 + i, 0), colour)
    c.fill(polygon([(8, 11), (24, 11), (14, 24), (8, 24)]), (255, 255, 255, 46))
    c.fill(polygon([(20, 34), (28, 34), (30.5, 40), (17.5, 40)]), hex_rgba("#5b6169"))
    c.fill(capsule(13, 41, 35, 41, 3), frame)
    return c


def usb(body_top, body_bottom):
    c = Canvas(48)
    c.fill(rounded_rect(17.5, 3.5, 30.5, 15.5, 1.2), hex_rgba("#8d939b"))
    c.fill(rounded_rect(18.7, 4.7, 29.3, 15, 0.6), hex_rgba("#d5d9de"))
    c.fill(rounded_rect(20.5, 7.5, 23, 10, 0.3), hex_rgba("#5b6169"))
    c.fill(rounded_rect(25, 7.5, 27.5, 10, 0.3), hex_rgba("#5b6169"))
    top, bottom = hex_rgba(body_top), hex_rgba(body_bottom)
    body = rounded_rect(13.5, 13.5, 34.5, 45, 4)
    for i in range(32):
        t = i / 31.0
        colour = tuple(int(round(top[k] + (bottom[k] - top[k]) * t)) for k in range(3)) + (255,)
        band = rounded_rect(0, 13.5 + i, 48, 14.5 + i, 0)
        c.fill(lambda x, y, band=band: band(x, y) and body(x, y), colour)
    white = hex_rgba("#ffffff", 235)
    # the trident symbol
    c.fill(capsule(24, 22, 24, 39, 1.8), white)
    c.fill(polygon([(24, 18.5), (27, 23), (21, 23)]), white)
    c.fill(capsule(24, 34, 19.5, 30, 1.6), white)
    c.fill(capsule(19.5, 30, 19.5, 27.5, 1.6), white)
    c.fill(circle(19.5, 26.5, 1.9), white)
    c.fill(capsule(24, 31, 28.5, 27.5, 1.6), white)
    c.fill(rounded_rect(27, 24, 30.4, 27.4, 0.3), white)
    c.fill(circle(24, 40, 2.2), white)
    return c


def padlock():
    c = Canvas(32)
    dark = hex_rgba("#2b2f35")
    c.fill(upper_half(ring(16, 13, 8.2, 5.4), 13.5), dark)
    c.fill(rounded_rect(7.8, 12.5, 10.6, 16, 0), dark)
    c.fill(rounded_rect(21.4, 12.5, 24.2, 16, 0), dark)
    c.fill(difference(rounded_rect(5, 14.5, 27, 29.5, 3),
                      union(circle(16, 20.5, 2.4), polygon([(14.9, 21), (17.1, 21),
                                                            (17.8, 26), (14.2, 26)]))), dark)
    return c


def images():
    out = {}
    for name, (seal, ribbon, mark) in AUTHORITIES.items():
        out[name] = certificate(seal, ribbon, mark)
    out["ico_computer"] = computer("#5aa8f0", "#1f64b8")
    out["ico_computer_green"] = computer("#6fd17a", "#23893a")
    out["ico_usb"] = usb("#5aa8f0", "#1f64b8")
    out["ico_usb_green"] = usb("#6fd17a", "#23893a")
    out["padlock"] = padlock()
    return out


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(folder, exist_ok=True)
    for name, canvas in sorted(images().items()):
        with open(os.path.join(folder, name + ".png"), "wb") as f:
            f.write(canvas.png())


if __name__ == "__main__":
    main()
