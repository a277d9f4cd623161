#!/usr/bin/env python3
"""Writes the ZIP fixtures of the formula installer's tests with Python's zipfile, and patches a
few header bytes by hand where an archive must be broken in one known way.

Run from this folder: python3 make_zip_fixtures.py
"""
import struct
import zipfile
import zlib

OLD = (2010, 3, 4, 5, 6, 8)
NEW = (2021, 7, 8, 9, 10, 12)


def member(zf, name, data, date, deflated=True):
    info = zipfile.ZipInfo(name, date_time=date)
    info.compress_type = zipfile.ZIP_DEFLATED if deflated else zipfile.ZIP_STORED
    zf.writestr(info, data)


def dos_date(date):
    y, mo, d, h, mi, s = date
    return ((y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) | (mi << 5) | (s // 2)


def install_zip():
    with zipfile.ZipFile("install.zip", "w") as zf:
        member(zf, "fresh/added.ufm", b"added formula\r\n" * 40, NEW)
        member(zf, "replace.ufm", b"replacement\r\n" * 30, NEW)
        member(zf, "newerlocal.ufm", b"older online copy\r\n", OLD)
        member(zf, "own.ufm", b"must never be written\r\n", NEW)
        zf.writestr(zipfile.ZipInfo("folder/", date_time=NEW), b"")
        member(zf, "stored.ucl", b"stored, not deflated\r\n", NEW, deflated=False)
        member(zf, "samedate.ufm", b"same date online\r\n", OLD)


def newer_zip():
    with zipfile.ZipFile("newer.zip", "w") as zf:
        for name in ("a.ufm", "b.ufm", "c.ufm"):
            member(zf, name, ("online " + name + "\r\n").encode(), OLD)


def escape_zip():
    with zipfile.ZipFile("escape.zip", "w") as zf:
        member(zf, "../evil.ofm", b"slash\r\n", NEW)
        member(zf, "..\\evil2.ofm", b"backslash\r\n", NEW)
        member(zf, "C:evil3.ofm", b"drive\r\n", NEW)
        member(zf, "a/b/../../../evil4.ofm", b"deep\r\n", NEW)


def refused_zip(name, arcname):
    with zipfile.ZipFile(name, "w") as zf:
        member(zf, "first.ufm", b"comes first\r\n", NEW)
        member(zf, arcname, b"refused\r\n", NEW)


def patched(source, target, offset, value, fmt):
    data = bytearray(open(source, "rb").read())
    struct.pack_into(fmt, data, offset, value)
    open(target, "wb").write(bytes(data))


def broken_zips():
    with zipfile.ZipFile("one.zip", "w") as zf:
        member(zf, "good.ufm", b"the good content of this member\r\n" * 20, NEW)
    raw = open("one.zip", "rb").read()
    crc = struct.unpack_from("<I", raw, 14)[0]
    size = struct.unpack_from("<I", raw, 22)[0]
    patched("one.zip", "badcrc.zip", 14, crc ^ 1, "<I")
    patched("one.zip", "datadescriptor.zip", 6, 0x0008, "<H")
    patched("one.zip", "encrypted.zip", 6, 0x0001, "<H")
    patched("one.zip", "method12.zip", 8, 12, "<H")
    patched("one.zip", "nocompressedsize.zip", 18, 0, "<I")
    patched("one.zip", "hugecompressedsize.zip", 18, 0x7FFFFFF0, "<I")
    # The data inflates to more than the header claims.
    patched("one.zip", "shortsize.zip", 22, size - 10, "<I")
    # Claims more than the data inflates to.
    patched("one.zip", "longsize.zip", 22, size + 10, "<I")


install_zip()
newer_zip()
escape_zip()
refused_zip("dotdot.zip", "sub/..")
refused_zip("device.zip", "folder/CON.ufm")
refused_zip("control.zip", "bad\x01name.ufm")
broken_zips()
print("NEW", hex(dos_date(NEW)), "OLD", hex(dos_date(OLD)))
