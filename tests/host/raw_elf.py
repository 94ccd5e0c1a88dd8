#!/usr/bin/env python3
"""Writes a small hand-made kivos program for the command rows: raw_elf.py KIND FILE.

Each kind is a few instructions of machine code that reach a corner of the
stand-in; the comments give the status each exits with.
"""
import struct
import sys

R, W, X = 4, 2, 1
EXIT = bytes.fromhex("b802000000cd80")  # _exit(ebx)


def elf(segments, entry, sections=(), tail=b""):
    """segments: (address, bytes, flags); sections: (type, link, offset, size),
    all named by offset 0 of the first; tail: bytes right after the segments."""
    out = bytearray(0x1000)
    headers = []
    for addr, data, flags in segments:
        out += bytes(-(len(out) - addr) % 0x1000)
        headers.append(struct.pack("<8I", 1, len(out), addr, addr, len(data), len(data), flags, 0x1000))
        out += data
    out += tail
    shoff = len(out)
    out += b"".join(struct.pack("<10I", 0, kind, 0, 0, at, size, link, 0, 1, 16 if kind == 2 else 0)
                    for kind, link, at, size in sections)
    out[0:52] = b"\x7fELF\1\1\1" + bytes(9) + struct.pack(
        "<HHIIIIIHHHHHH", 2, 3, 1, entry, 52, shoff if sections else 0, 0, 52, 32, len(segments), 40,
        len(sections), max(len(sections) - 1, 0))
    out[52:52 + 32 * len(segments)] = b"".join(headers)
    return bytes(out)


def le(v):
    return struct.pack("<I", v)


def tsc():
    # With --tsc 5: a prefixed rdtsc (5), one across two regions (6), one the
    # program writes (7), and a loaded one it overwrites with mov al, 0x20:
    # exits 5 + 6 + 7 + 0x20 = 50.
    a, b = 0x400000, 0x401000
    first = bytes.fromhex("3e0f31 89c3 e9") + le(0xFFF - 10)
    l1, l2 = b + 13, b + 30
    code = (bytes.fromhex("31 01c3 c705") + le(l1) + bytes.fromhex("0f319090") + bytes(4 * [0x90]) +
            bytes.fromhex("01c3 31c0 66c705") + le(l2) + bytes.fromhex("b020"))
    assert len(code) == l2 - b
    code += bytes.fromhex("0f31 01c3") + EXIT
    return elf([(a, first + bytes(0xFFF - len(first)) + b"\x0f", R | X), (b, code, R | W | X)], a)


def pairs():
    # 16 MiB of rdtsc pairs that never run; exits 0.
    return elf([(0x400000, bytes.fromhex("31db") + EXIT, R | X), (0x1000000, b"\x0f\x31" * (8 << 20), R | X)],
               0x400000)


def reread():
    # Calls f (eax = 0x55), reads file "c" over f, calls it again; exits
    # with what the new code returns.
    base, f = 0x400000, 0x400040
    code = (b"\xe8" + le(f - base - 5) + b"\xb8\x04\x00\x00\x00\xbb" + le(f + 6) + b"\x31\xc9\xcd\x80" +
            b"\x89\xc3\xb8\x03\x00\x00\x00\xb9" + le(f) + b"\xba\x06\x00\x00\x00\xcd\x80")
    code += b"\xe8" + le(f - base - len(code) - 5) + b"\x89\xc3" + EXIT
    code += bytes(f - base - len(code)) + bytes.fromhex("b855000000c3") + b"c\0"
    return elf([(base, code, R | W | X)], base)


def patch():
    # 1,000 times, an unaligned 4-byte store of the count over the next
    # instruction's operand, at 0x40000d; exits 0.
    base = 0x400000
    n = base + 12
    code = (bytes.fromhex("b9e8030000 90 890d") + le(n + 1) + bytes.fromhex("b800000000 49 75f2 31db") +
            EXIT)
    return elf([(base, code, R | W | X)], base)


def symbols(kind):
    """A program that exits 0 with a symbol table or 2,000 section headers
    whose names share 1 MiB of string table that holds no NUL; or (cname)
    whose one function is the C function Sa, which reads as a C++ type code."""
    strings = b"\0Sa\0" if kind == "cname" else b"a" * (1 << 20)
    code = bytes.fromhex("31db") + EXIT
    at = 0x1000 + len(code)
    if kind != "sections":
        count, step = (1, 1) if kind == "cname" else (4096, 17)
        syms = b"".join(struct.pack("<IIIBBH", step * i + step, 0x400000, 9, 2, 0, 1) for i in range(count))
        sections = [(0, 0, 0, 0), (2, 2, at, len(syms)), (3, 0, at + len(syms), len(strings))]
        return elf([(0x400000, code, R | X)], 0x400000, sections, syms + strings)
    return elf([(0x400000, code, R | X)], 0x400000, [(3, 0, at, len(strings))] * 2000, strings)


kinds = {"tsc": tsc, "pairs": pairs, "reread": reread, "patch": patch,
         "names": lambda: symbols("names"), "sections": lambda: symbols("sections"),
         "cname": lambda: symbols("cname")}
with open(sys.argv[2], "wb") as f:
    f.write(kinds[sys.argv[1]]())
