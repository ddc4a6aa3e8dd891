#!/usr/bin/env python3
"""Writes the seed inputs of cube_fuzz (the input layout is described in cube_fuzz.cpp).

    python3 fuzz/make_cube_seeds.py fuzz/corpus/cube
"""
import os
import struct
import sys

FAIL, CUBE_NULL, GRID_NULL, WIDE, ERROR = 0x08, 0x01, 0x02, 0x04, 0x10


def i32(v):
    return struct.pack("<i", v)


def u32(v):
    return struct.pack("<I", v)


def text(s):
    if s is None:
        return b"\xff"
    assert len(s) < 48
    return bytes([len(s)]) + s


def repeated(unit, times):
    assert len(unit) < 48 and 1 <= times <= 256
    return b"\xfe" + bytes([times - 1, len(unit)]) + unit


def value(vtype, fixed=b"", data=b"", null=False, count=0):
    """One value: the type, 8 fixed bytes, then what the type takes."""
    out = bytes([vtype]) if 0 <= vtype < 16 else b"\x80" + i32(vtype)
    out += fixed.ljust(8, b"\0")
    if vtype in (12, 14):
        out += b"\xff" + u32(count) if null else bytes([len(data)]) + data
    elif vtype == 13:
        out += data if isinstance(data, bytes) and data[:1] in (b"\xfe", b"\xff") else text(
            None if null else data)
        out += u32(count)
    else:
        out += u32(count)
    return out


def record(flags, counts, lists, dims, values, fail=None):
    """lists: per list None (null entries) or the encoded texts; dims: (d1, d2)."""
    out = bytes([flags])
    if fail is not None:
        out += bytes([fail])
    out += bytes(counts)
    for entries in lists:
        out += b"\x01" if entries is None else b"\x00" + b"".join(entries)
    if flags & WIDE:
        out += i32(dims[0]) + i32(dims[1])
    else:
        out += bytes([dims[0] & 0xFF, dims[1] & 0xFF])
    return out + b"".join(values)


def seeds():
    gbk = "中文".encode("gbk")
    yield "worked_example", record(0, (1, 1, 1), [[text(b"A")], [text(b"B")], [text(b"C")]],
                                   (1, 1), [value(6, b"\x07")])
    yield "empty_lists", record(0, (0, 0, 0), [[], [], []], (0, 0), [])
    yield "one_empty_list", record(0, (2, 0, 3), [[text(b"x"), text(b"yy")], [],
                                                   [text(b"a"), text(b"b"), text(b"c")]],
                                   (2, 2), [value(1, b"\x01")] * 4)
    yield "every_type", record(0, (15, 1, 1), [[text(b"%d" % i) for i in range(15)],
                                                [text(b"f")], [text(b"d")]], (3, 5),
                               [value(0)] + [value(t, bytes(range(1, 9))) for t in range(1, 12)] +
                               [value(12, data=b"\x00\x01\x02"), value(13, data=b"abc"),
                                value(14, data=b"")])
    yield "gbk_text", record(0, (2, 1, 1), [[text(gbk), text(b"\x80\xff")], [text(b"\xa1")],
                                            [text(b"ok")]], (1, 2),
                             [value(13, data=gbk + b"!"), value(13, data=b"\x81\x40\x81")])
    yield "null_pointers", record(CUBE_NULL, (1, 2, 1), [None, [text(None), text(b"t")],
                                                          [text(None)]], (2, 1),
                                  [value(12, null=True, count=100), value(13, null=True)])
    yield "long_text", record(0, (1, 1, 1), [[repeated(gbk * 10, 200)],
                                             [repeated(b"\xd6", 255)],
                                             [repeated(b"ab\x81", 100)]], (1, 1),
                              [value(13, data=repeated(b"\xce\xc4" * 20, 60))])
    yield "odd_types", record(0, (6, 1, 1), [[text(b"v")] * 6, [text(b"f")], [text(b"d")]],
                              (-2, 3), [value(-1), value(15), value(256 + 6, b"\x05"),
                                        value(0x7FFFFFFF), value(-2147483648), value(256 + 13)])
    yield "grid_too_large", record(WIDE, (1, 1, 1), [[text(b"a")], [text(b"b")], [text(b"c")]],
                                   (65536, 65536), [value(8, b"\x01" * 8)])
    yield "grid_negative", record(WIDE | CUBE_NULL, (0, 1, 1), [[], [text(b"b")], [text(b"c")]],
                                  (-70000, 70000), [])
    yield "fail_first_alloc", record(FAIL, (2, 1, 1), [[text(gbk), text(b"\xe9t\xe9")],
                                                       [text(b"\xb0\xa1")], [text(b"z")]], (1, 1),
                                     [value(13, data=b"\xc4\xe3"), value(7)], fail=0)
    yield "fail_third_alloc", record(FAIL | ERROR, (1, 1, 2), [[text(b"\xc4")], [text(b"\xe3")],
                                                               [text(b"\x81"), text(gbk)]], (2, 1),
                                     [value(13, data=gbk), value(13, data=b"\xff")], fail=2)
    yield "grid_values_null", record(GRID_NULL | ERROR, (1, 1, 1),
                                     [[text(b"a")], [text(b"b")], [text(b"c")]], (4, 4),
                                     [value(9, b"\xff" * 8)] * 16)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__),
                                                             "corpus", "cube")
    os.makedirs(out, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
