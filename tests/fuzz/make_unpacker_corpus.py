#!/usr/bin/env python3
"""Writes the unpacker's starting corpus: small packages named for the fuzz target's "pkg.zip", a few
that unpack and a few that must be refused, so that the fuzzer starts from every check.
Usage: tests/fuzz/make_unpacker_corpus.py [folder]"""
import io
import os
import stat
import struct
import sys
import zipfile
import zlib

NOTES = b"Meeting links open faster.\n" * 40


def package(entries, compression=zipfile.ZIP_STORED, force_zip64=False):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as archive:
        for name, content, mode in entries:
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
            info.create_system = 3
            info.external_attr = mode << 16
            info.compress_type = compression
            with archive.open(info, "w", force_zip64=force_zip64) as entry:
                entry.write(content)
    return buffer.getvalue()


def tree(*files, compression=zipfile.ZIP_STORED):
    folders = [("pkg/", b"", stat.S_IFDIR | 0o755), ("pkg/config/", b"", stat.S_IFDIR | 0o755)]
    return package(folders + list(files), compression)


def file(name, content=b"x", mode=0o644):
    return (name, content, stat.S_IFREG | mode)


def replace_field(data, old, new):
    """Changes a 32-bit field in the local header and the central directory alike."""
    return data.replace(struct.pack("<I", old), struct.pack("<I", new))


def packages():
    config = file("pkg/config/client.json", b'{"client":{"version":"2.1.0"}}\n')
    valid = tree(config, file("pkg/QuorvexSample", b"\x7fELF" + bytes(60), 0o755))
    yield "valid-stored.zip", valid
    yield "valid-deflated.zip", tree(config, file("pkg/notes.txt", NOTES), compression=zipfile.ZIP_DEFLATED)
    yield "valid-zip64.zip", package([file("pkg/a.txt", NOTES)], zipfile.ZIP_DEFLATED, force_zip64=True)
    yield "empty.zip", package([])
    yield "bad-crc.zip", replace_field(valid, zlib.crc32(b"\x7fELF" + bytes(60)), 0xDEADBEEF)
    yield "short-size.zip", replace_field(
        tree(file("pkg/notes.txt", NOTES), compression=zipfile.ZIP_DEFLATED), len(NOTES), len(NOTES) - 1)
    yield "truncated.zip", valid[:-30]
    yield "parent.zip", tree(file("pkg/../evil"))
    yield "absolute.zip", package([file("/pkg/evil")])
    yield "outside-top.zip", package([file("other/evil")])
    yield "duplicate.zip", tree(file("pkg/a"), file("pkg/./a"))
    yield "symlink.zip", tree(("pkg/link", b"/tmp", stat.S_IFLNK | 0o777), file("pkg/link/evil"))
    yield "bzip2.zip", tree(file("pkg/notes.txt", NOTES), compression=zipfile.ZIP_BZIP2)
    yield "expands-too-far.zip", tree(file("pkg/zeros", bytes(1 << 18)), compression=zipfile.ZIP_DEFLATED)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "unpacker")
    os.makedirs(folder, exist_ok=True)
    for name, data in packages():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


main()
