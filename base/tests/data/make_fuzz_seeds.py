#!/usr/bin/env python3
"""Writes the seed corpora of the base library's fuzz targets (tests/fuzz_*.cpp).

Typed messages: 24-byte header (9, 0x55334422, 16, version, 17, command), then entries of
u32 type, u32 length and the value, all big-endian. Channel frames: u32 big-endian length and
the body. Socket frames: u32 big-endian length (payload + 1), one type byte, the payload.
Run from this folder: python3 make_fuzz_seeds.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def u32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def header(command, version=1):
    return u32(9) + u32(0x55334422) + u32(16) + u32(version) + u32(17) + u32(command)


def entry(kind, value):
    return u32(kind) + u32(len(value)) + value


INTEGER = entry(33, struct.pack(">i", -2))
LONG = entry(34, struct.pack(">Q", 0x0102030405060708))
STRING = entry(35, "인증서".encode("utf-8"))
BINARY = entry(36, bytes([0, 1, 2, 0xFF]))
OTHER = entry(200, b"xy")

MESSAGES = {
    "header_only": header(5),
    "integer": header(1) + INTEGER,
    "long": header(1) + LONG,
    "string": header(1) + STRING,
    "binary": header(1) + BINARY,
    "other_type": header(1) + OTHER,
    "all_kinds": header(0x01020304, 3) + INTEGER + LONG + STRING + BINARY + OTHER
    + entry(35, b"") + entry(36, b""),
    "cut_value": header(1) + u32(36) + u32(8) + b"abc",
    "huge_length": header(1) + u32(36) + u32(0xFFFFFFFF) + b"abc",
    "bad_magic": u32(9) + u32(0x55334423) + header(1)[8:],
    "command_in_body": header(1) + entry(17, u32(4)),
}


def channel(body):
    return u32(len(body)) + body


def frame(kind, payload):
    return u32(len(payload) + 1) + bytes([kind]) + payload


CHANNEL = {
    "one_message": channel(MESSAGES["all_kinds"]),
    "two_messages": channel(MESSAGES["header_only"]) + channel(MESSAGES["string"]),
    "garbage_then_message": channel(b"not a message at all....") + channel(MESSAGES["long"]),
    "zero_length": u32(0) + channel(MESSAGES["header_only"]),
    "huge_length": u32(0xFFFFFFFF) + b"abc",
    "cut_body": u32(100) + MESSAGES["integer"],
}

SOCKET = {
    "example": frame(7, b"abc"),
    "empty_payload": frame(7, b""),
    "two_frames": frame(1, b"first") + frame(2, b"second\r\nline\n"),
    "zero_length": u32(0) + b"\x07",
    "huge_length": u32(0xFFFFFFFF) + b"\x07abc",
    "cut_payload": u32(16) + b"\x07ab",
    "lines": b"abc\r\ndef\n\r\nlast",
}


def write(folder, seeds):
    path = os.path.join(HERE, folder)
    os.makedirs(path, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(path, name + ".bin"), "wb") as f:
            f.write(data)


write("fuzz_snowmessage", MESSAGES)
write("fuzz_snowchannel", CHANNEL)
write("fuzz_socketframe", SOCKET)
