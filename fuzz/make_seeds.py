#!/usr/bin/env python3
"""Writes the checked-in seed corpora: fuzz/seeds/session and fuzz/seeds/names.

The session layout is described in README.md. Run from anywhere; it rewrites the seed folders.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

NONE, IMAGE, ODD_SIZE, EMPTY = 0, 1, 2, 3
READ_ONLY = 4
OPEN_FAIL, READ_FAIL, READ_SHORT, WRITE_FAIL, WRITE_SHORT, FLUSH_FAIL = 1, 2, 3, 4, 5, 6
ON_IMAGE = 8


def entry(user, name11, extent, rc, blocks):
    name11 = name11.ljust(11)[:11].encode("latin-1") if isinstance(name11, str) else name11
    b = bytes([user]) + name11 + bytes([extent, 0, 0, rc])
    b += bytes(blocks) + bytes(16 - len(blocks))
    return b


def directory(entries):
    # The image around the given bytes is filler already, so free entries need not be spelled out.
    return b"".join(entries)


def session(image=IMAGE, delta=0, fault=0, nth=0, args=(), dir_bytes=b"", files=()):
    out = bytes([image, delta & 0xFF, fault, nth, len(args)])
    for a in args:
        a = a.encode("latin-1")
        out += bytes([len(a)]) + a
    out += struct.pack("<H", len(dir_bytes)) + dir_bytes
    out += bytes([len(files)])
    for path, flags, size in files:
        p = path.encode("latin-1")
        size_range = 0 if size <= 4096 else 1 if size <= 40000 else 2
        out += bytes([len(p)]) + p + bytes([flags | size_range << 2]) + struct.pack("<I", size)[:3]
    return out


THREE_FILES = directory([
    entry(0, "A       COM", 0, 12, [1]),
    entry(0, "BASIC   C\xcfM", 1, 128, [2, 3, 4, 5, 6, 7, 8, 9, 10]),
    entry(0, "BASIC   C\xcfM", 2, 12, [11]),
    entry(3, "README  T\xd8T", 0, 3, [12]),
])
MANY = directory([entry(i % 4, "F%02d     DAT" % i, 0, i % 129, [i + 1]) for i in range(40)])
CORRUPT = directory([entry(0, "OK      TXT", 0, 1, [1]), entry(0, "BAD     TXT", 0, 1, [175])])

SESSION_SEEDS = {
    "catalogue": session(args=["disk", "/c"], dir_bytes=THREE_FILES),
    "catalogue_mask": session(args=["disk", "/c", "*.com"], dir_bytes=THREE_FILES),
    "catalogue_paused": session(args=["disk", "/c"], dir_bytes=MANY),
    "add": session(args=["disk", "/a", "in\\*.txt"], dir_bytes=THREE_FILES,
                   files=[("in/a.txt", 0, 100), ("in/long name.txt", 0, 3000), ("in/b.txt", 2, 32769)]),
    "add_new_image": session(image=NONE, args=["disk", "/a", "*.bin"], files=[("x.bin", 0, 40000), ("e.bin", 0, 0)]),
    "add_disk_full": session(args=["disk", "/a", "big\\*"], dir_bytes=THREE_FILES,
                             files=[("big/one", 0, 300000), ("big/two", 0, 60000)]),
    "format_add": session(args=["disk", "/f", "/a", "in\\?.txt"], dir_bytes=THREE_FILES,
                          files=[("in/a.txt", 0, 5000), ("in/sub", 1, 0)]),
    "quick_add": session(args=["disk", "/a", "in\\*.*", "/q"], files=[("in/a.txt", 0, 2048)]),
    "full_format": session(image=EMPTY, args=["disk", "/f"]),
    "quick_format": session(args=["disk.z18", "/q"], dir_bytes=THREE_FILES),
    "erase": session(args=["disk", "/e", "*.com"], dir_bytes=THREE_FILES),
    "extract": session(args=["disk", "/x", "out\\*.*"], dir_bytes=THREE_FILES, files=[("out", 1, 0)]),
    "extract_one": session(args=["disk", "/x", "readme.txt"], dir_bytes=THREE_FILES,
                           files=[("README.TXT", 2, 10)]),
    "bad_size": session(image=ODD_SIZE, delta=1, args=["disk", "/c"]),
    "read_only_image": session(image=IMAGE | READ_ONLY, args=["disk", "/e", "a.com"], dir_bytes=THREE_FILES),
    "corrupt": session(args=["disk", "/c"], dir_bytes=CORRUPT),
    "bad_mask": session(args=["disk", "/c", "a;b"], dir_bytes=THREE_FILES),
    "add_read_fault": session(fault=READ_FAIL, nth=3, args=["disk", "/a", "in\\*"],
                              files=[("in/f1", 0, 4096), ("in/f2", 0, 70000)]),
    "add_write_fault": session(fault=WRITE_SHORT | ON_IMAGE, nth=5, args=["disk", "/a", "in\\*"],
                               files=[("in/f1", 0, 40000)]),
    "erase_writeback_fault": session(fault=WRITE_FAIL | ON_IMAGE, nth=1, args=["disk", "/e", "*.*"],
                                     dir_bytes=THREE_FILES),
    "extract_write_fault": session(fault=WRITE_SHORT, nth=4, args=["disk", "/x", "*.com"], dir_bytes=THREE_FILES),
    "directory_read_fault": session(fault=READ_SHORT | ON_IMAGE, nth=1, args=["disk", "/c"], dir_bytes=THREE_FILES),
    "new_image_fill_fault": session(image=NONE, fault=WRITE_FAIL, nth=200, args=["disk", "/f"]),
    # Failed flushes: of the data an add wrote (the directory must stay the old one), of a cleared
    # directory before blocks it named get new bytes, of an erase's write-back, of a new image.
    "add_data_flush_fault": session(fault=FLUSH_FAIL | ON_IMAGE, nth=1, args=["disk", "/a", "in\\*"],
                                    dir_bytes=THREE_FILES, files=[("in/f1", 0, 5000), ("in/f2", 0, 40000)]),
    "quick_add_clear_flush_fault": session(fault=FLUSH_FAIL, nth=1, args=["disk", "/q", "/a", "in\\*"],
                                           dir_bytes=THREE_FILES, files=[("in/f1", 0, 3000)]),
    "erase_flush_fault": session(fault=FLUSH_FAIL, nth=1, args=["disk", "/e", "*.*"], dir_bytes=THREE_FILES),
    "new_image_flush_fault": session(image=NONE, fault=FLUSH_FAIL | ON_IMAGE, nth=1, args=["disk", "/f"]),
    "invalid": session(args=["disk", "/c", "/x"], dir_bytes=THREE_FILES),
    # A host path with a zero byte in it: the host must take it as the path up to that byte.
    "zero_in_host_path": session(args=["disk", "/a", "in\\*"], files=[("in/f1", 0, 4096), ("in/f\x00x", 0, 100)]),
}

NAME_SEEDS = {
    "plain": b"readme.txt",
    "wild": b"*.*",
    "star_mid": b"AB*CD.E",
    "type_gap": b"A.B C",
    "type_space": b"A. B",
    "longest": b"ABCDEFGH.TXT",
    "forbidden": b"FILE;1",
    "entry_attrs": b"\x00AB      C\xcfM\x00\x00\x00\x05\x01\x02",
    "entry_zero": b"\x00AB\x00CD   TXT",
    "host_glob": b"minutes of may.txt\x00*m*a*y*.t?t",
}


def write_all(folder, seeds):
    path = os.path.join(HERE, "seeds", folder)
    os.makedirs(path, exist_ok=True)
    for old in os.listdir(path):
        os.remove(os.path.join(path, old))
    for name, data in seeds.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    write_all("session", SESSION_SEEDS)
    write_all("names", NAME_SEEDS)
