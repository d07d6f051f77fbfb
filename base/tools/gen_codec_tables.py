#!/usr/bin/env python3
"""Generates the decomposition and precomposition tables of the UTF-8-MAC code set.

The data is Unicode 3.2 (Python's unicodedata.ucd_3_2_0), the version the decomposed file-name
form is frozen at.

    gen_codec_tables.py                 rewrite base/src/SGCodecTables.cpp
    gen_codec_tables.py --check         exit 1 when the committed file is out of date
    gen_codec_tables.py --reference     print the Unicode 3.2 answers the tests compare with

Content:
- decompositions: the full canonical decomposition of every BMP character from U+00C0 on,
  except U+2000-U+2FFF and U+F900-U+FAFF, which stay as they are, and except Hangul syllables,
  which are decomposed arithmetically. Each entry holds the one-level decomposition; bit 15 of
  its descriptor asks for the first unit to be decomposed again.
- precomposition pairs: every Unicode 3.2 canonical composition of a base and one combining
  character into a BMP composite outside U+F900-U+FAFF (composition exclusions left out).
"""

import os
import sys
import unicodedata

UCD = unicodedata.ucd_3_2_0
assert UCD.unidata_version == "3.2.0"

HERE = os.path.dirname(os.path.abspath(__file__))
OUTPUT = os.path.join(HERE, "..", "src", "SGCodecTables.cpp")

HANGUL_FIRST, HANGUL_LAST = 0xAC00, 0xD7A3


def bmp_scalars():
    return (c for c in range(0x10000) if not 0xD800 <= c <= 0xDFFF)


def canonical_decomposition(c):
    d = UCD.decomposition(chr(c))
    if not d or d.startswith("<"):
        return None
    return [int(x, 16) for x in d.split()]


def not_decomposed(c):
    return c < 0xC0 or 0x2000 <= c <= 0x2FFF or 0xF900 <= c <= 0xFAFF


def nfd(c):
    return [ord(x) for x in UCD.normalize("NFD", chr(c))]


def nfc(units):
    return [ord(x) for x in UCD.normalize("NFC", "".join(map(chr, units)))]


def build_decompositions():
    one_level = {}
    for c in bmp_scalars():
        if not_decomposed(c) or HANGUL_FIRST <= c <= HANGUL_LAST:
            continue
        d = canonical_decomposition(c)
        if d:
            one_level[c] = d

    def expand(c):
        d = one_level.get(c)
        if d is None:
            return [c]
        return expand(d[0]) + d[1:]

    entries = []  # (character, units, recurse)
    for c in sorted(one_level):
        d = one_level[c]
        assert all(u not in one_level for u in d[1:]), hex(c)
        recurse = d[0] in one_level
        if expand(c) != nfd(c):
            # Not reachable through the first unit alone: store the whole decomposition.
            d, recurse = nfd(c), False
            assert all(u not in one_level for u in d), hex(c)
        assert 1 <= len(d) <= 7, hex(c)
        entries.append((c, d, recurse))
    return entries


def build_pairs():
    pairs = []  # (combining, base, composite)
    for c in range(0x110000):
        if 0xD800 <= c <= 0xDFFF or c > 0xFFFF or 0xF900 <= c <= 0xFAFF:
            continue
        d = canonical_decomposition(c)
        if not d or len(d) != 2:
            continue
        if nfc(d) != [c]:
            continue  # composition exclusion or non-starter decomposition
        assert d[0] <= 0xFFFF and d[1] <= 0xFFFF
        pairs.append((d[1], d[0], c))
    pairs.sort()
    return pairs


def bitmap(marked):
    """Two-level bitmap: 256 index bytes (0 none, 255 all, k the k-th 32-byte block)."""
    index = bytearray(256)
    blocks = []
    for hi in range(256):
        bits = bytearray(32)
        for lo in range(256):
            c = (hi << 8) | lo
            if c in marked:
                bits[lo >> 3] |= 1 << (lo & 7)
        if not any(bits):
            index[hi] = 0
        elif all(b == 0xFF for b in bits):
            index[hi] = 255
        else:
            blocks.append(bytes(bits))
            assert len(blocks) < 255
            index[hi] = len(blocks)
    return bytes(index) + b"".join(blocks)


def c_array(values, per_line, fmt):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append("    " + " ".join(fmt(v) + "," for v in values[i:i + per_line]))
    return "\n".join(lines)


def generate():
    entries = build_decompositions()
    pairs = build_pairs()

    multiple = []
    decomposition = []
    for c, units, recurse in entries:
        desc = (0x8000 if recurse else 0) | (len(units) << 12)
        if len(units) == 1:
            assert units[0] <= 0xFFF, hex(c)
            desc |= units[0]
        else:
            assert len(multiple) <= 0xFFF
            desc |= len(multiple)
            multiple.extend(units)
        decomposition.append((c, desc))

    groups = []
    destination = []
    for comb in sorted({p[0] for p in pairs}):
        group = sorted((base, comp) for m, base, comp in pairs if m == comb)
        groups.append((comb, (len(group) << 16) | len(destination)))
        destination.extend(group)

    decomposable = {c for c, _ in decomposition}
    decomposable.update(range(HANGUL_FIRST, HANGUL_LAST + 1))
    combining = {c for c in bmp_scalars() if UCD.combining(chr(c)) != 0}
    combining.update(p[0] for p in pairs)
    combining.update(range(0x1161, 0x1176))  # Hangul vowels
    combining.update(range(0x11A8, 0x11C3))  # Hangul trailing consonants

    decomposable_bitmap = bitmap(decomposable)
    combining_bitmap = bitmap(combining)

    assert len(decomposition) == 970, len(decomposition)
    assert len(groups) == 53, len(groups)
    assert len(destination) == 917, len(destination)

    hex4 = lambda v: "0x%04X" % v
    out = []
    out.append("// Generated by base/tools/gen_codec_tables.py from Unicode 3.2. Do not edit.")
    out.append("// clang-format off")
    out.append('#include "SGCodecTables.h"')
    out.append("")
    out.append("const uint8_t __CFUniCharDecomposableBitmap[%d] = {" % len(decomposable_bitmap))
    out.append(c_array(list(decomposable_bitmap), 12, lambda v: "0x%02X" % v))
    out.append("};")
    out.append("")
    out.append("const uint8_t __CFUniCharCombiningBitmap[%d] = {" % len(combining_bitmap))
    out.append(c_array(list(combining_bitmap), 12, lambda v: "0x%02X" % v))
    out.append("};")
    out.append("")
    out.append("const uint16_t __CFUniCharDecompositionTable[%d][2] = {" % len(decomposition))
    out.append(c_array(decomposition, 4, lambda e: "{%s, %s}" % (hex4(e[0]), hex4(e[1]))))
    out.append("};")
    out.append("")
    out.append("const uint16_t __CFUniCharMultipleDecompositionTable[%d] = {" % len(multiple))
    out.append(c_array(multiple, 10, hex4))
    out.append("};")
    out.append("")
    out.append("const uint32_t __CFUniCharPrecompSourceTable[%d][2] = {" % len(groups))
    out.append(c_array(groups, 3, lambda g: "{0x%04X, 0x%08X}" % g))
    out.append("};")
    out.append("")
    out.append("const uint16_t __CFUniCharBMPPrecompDestinationTable[%d][2] = {" % len(destination))
    out.append(c_array(destination, 4, lambda e: "{%s, %s}" % (hex4(e[0]), hex4(e[1]))))
    out.append("};")
    out.append("")
    sizes = {
        "DecomposableBitmap": len(decomposable_bitmap),
        "CombiningBitmap": len(combining_bitmap),
        "DecompositionTable": len(decomposition),
        "MultipleDecompositionTable": len(multiple),
        "PrecompSourceTable": len(groups),
        "BMPPrecompDestinationTable": len(destination),
    }
    return "\n".join(out), sizes


def header(sizes):
    lines = [
        "// Tables of the UTF-8-MAC code set; generated by base/tools/gen_codec_tables.py.",
        "// clang-format off",
        "#pragma once",
        "",
        "#include <cstdint>",
        "",
        "// Two-level bitmaps over the BMP: 256 index bytes by high byte (0 none, 255 all, k the",
        "// 32-byte block at 256 + (k - 1) x 32), then the blocks.",
        "extern const uint8_t __CFUniCharDecomposableBitmap[%d];" % sizes["DecomposableBitmap"],
        "extern const uint8_t __CFUniCharCombiningBitmap[%d];" % sizes["CombiningBitmap"],
        "// {character, descriptor}: bit 15 decompose the first unit again, bits 12-14 the count,",
        "// bits 0-11 the single unit or the index into the multiple-unit table.",
        "extern const uint16_t __CFUniCharDecompositionTable[%d][2];"
        % sizes["DecompositionTable"],
        "extern const uint16_t __CFUniCharMultipleDecompositionTable[%d];"
        % sizes["MultipleDecompositionTable"],
        "// {combining character, (count << 16) | first index into the destination table}.",
        "extern const uint32_t __CFUniCharPrecompSourceTable[%d][2];"
        % sizes["PrecompSourceTable"],
        "// {base, composite}, grouped by combining character, sorted by base in each group.",
        "extern const uint16_t __CFUniCharBMPPrecompDestinationTable[%d][2];"
        % sizes["BMPPrecompDestinationTable"],
        "",
    ]
    return "\n".join(lines)


def reference():
    """Lines the tests compare with: "D c units" where the NFD of c is not c itself,
    "C c units" where the NFC of that NFD is not c, "P base combining composite" per pair."""
    out = []
    for c in bmp_scalars():
        d = nfd(c)
        if d != [c]:
            out.append("D %04X %s" % (c, " ".join("%04X" % u for u in d)))
        r = nfc(d)
        if r != [c]:
            out.append("C %04X %s" % (c, " ".join("%04X" % u for u in r)))
    for comb, base, comp in build_pairs():
        out.append("P %04X %04X %04X" % (base, comb, comp))
    return "\n".join(out) + "\n"


def main(argv):
    if "--reference" in argv:
        sys.stdout.write(reference())
        return 0
    source, sizes = generate()
    source += "\n"
    hdr = header(sizes)
    targets = [(OUTPUT, source), (os.path.join(HERE, "..", "src", "SGCodecTables.h"), hdr)]
    if "--check" in argv:
        stale = [p for p, text in targets if not os.path.exists(p) or open(p).read() != text]
        for p in stale:
            print("out of date: " + os.path.normpath(p))
        return 1 if stale else 0
    for path, text in targets:
        with open(path, "w") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
