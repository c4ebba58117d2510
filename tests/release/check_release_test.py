#!/usr/bin/python3
"""The release checker must catch each way a release can go wrong.

Usage: check_release_test.py DIST UNSTRIPPED_DLL EPOCH

DIST is a good release (check_release.py passes it), UNSTRIPPED_DLL the link output it was made
from, EPOCH the source's time. Each case copies the release, spoils it in one way, fixes
SHA256SUMS up where the case is not about the sums, and expects the checker to name the fault.
"""

import gzip
import hashlib
import io
import os
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
CHECKER = os.path.join(HERE, "check_release.py")
DIST = UNSTRIPPED = None
EPOCH = 0


def rewrite_zip(path, change):
    """Writes the archive again, each (ZipInfo, data) member passed through change, which
    returns the members to write in their place."""
    with zipfile.ZipFile(path) as archive:
        members = [(info, archive.read(info)) for info in archive.infolist()]
    with zipfile.ZipFile(path, "w") as archive:
        for info, data in change(members):
            archive.writestr(info, data)


def each_member(change):
    return lambda members: [change(info, data) for info, data in members]


def with_extra_field(info, data):
    if info.filename.endswith(".dll"):
        # An extended timestamp, the field zip programs add by default.
        info.extra = struct.pack("<HHBL", 0x5455, 5, 1, EPOCH)
    return info, data


def dated_now(info, data):
    info.date_time = time.gmtime()[:6]
    return info, data


def group_writable(info, data):
    info.external_attr |= 0o020 << 16
    return info, data


def member_replaced(name, make):
    def change(info, data):
        return (info, make(data)) if info.filename == name else (info, data)
    return each_member(change)


def flip_last_byte(data):
    return data[:-1] + bytes([data[-1] ^ 1])


def unstripped(data):
    with open(UNSTRIPPED, "rb") as f:
        return f.read()


def link_time_moved(data):
    import pefile

    pe = pefile.PE(data=data)
    pe.FILE_HEADER.TimeDateStamp = EPOCH + 1
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    return pe.write()


def readme_lf(data):
    return data.replace(b"\r\n", b"\n")


def swapped_order(members):
    return [members[0], members[2], members[1], *members[3:]]


def main_zip(dist):
    return next(os.path.join(dist, n) for n in os.listdir(dist) if n.endswith("-win64.zip"))


def symbols_zip(dist):
    return next(os.path.join(dist, n) for n in os.listdir(dist) if n.endswith("-symbols.zip"))


def web_zip(dist):
    return next(os.path.join(dist, n) for n in os.listdir(dist) if n.endswith("-web.zip"))


def without_wasm(members):
    return [(info, data) for info, data in members if not info.filename.endswith(".wasm")]


def renamed_version(dist):
    for name in os.listdir(dist):
        if name.endswith(".zip"):
            os.rename(os.path.join(dist, name), os.path.join(dist, name.replace("1.1.0.0", "1.2.0.0")))


def write_sums(dist):
    lines = []
    for name in sorted(n for n in os.listdir(dist) if n.endswith((".zip", ".deb"))):
        with open(os.path.join(dist, name), "rb") as f:
            lines.append(f"{hashlib.sha256(f.read()).hexdigest()}  {name}\n")
    with open(os.path.join(dist, "SHA256SUMS"), "w", encoding="ascii") as f:
        f.write("".join(lines))


def the_deb(dist):
    return next(os.path.join(dist, n) for n in os.listdir(dist) if n.endswith(".deb"))


def rewrite_deb(change_data=None, ar_mtime=None):
    """Writes the Debian package again: each data member's TarInfo passed through change_data
    (None drops it), and each ar member dated ar_mtime when given."""
    def spoil(dist):
        path = the_deb(dist)
        with open(path, "rb") as f:
            data = f.read()
        members, offset = [], 8
        while offset < len(data):
            header = data[offset:offset + 60]
            size = int(header[48:58])
            members.append([header, data[offset + 60:offset + 60 + size]])
            offset += 60 + size + size % 2
        if change_data:
            name = members[2][0][:16].decode().rstrip().rstrip("/")
            packed = gzip.decompress(members[2][1]) if name.endswith(".gz") else members[2][1]
            out = io.BytesIO()
            with tarfile.open(fileobj=io.BytesIO(packed)) as source, \
                    tarfile.open(fileobj=out, mode="w", format=tarfile.GNU_FORMAT) as target:
                for info in source.getmembers():
                    content = source.extractfile(info).read() if info.isfile() else None
                    info = change_data(info)
                    if info is not None:
                        target.addfile(info, io.BytesIO(content) if content is not None else None)
            members[2][1] = gzip.compress(out.getvalue(), mtime=0) if name.endswith(".gz") else out.getvalue()
        with open(path, "wb") as f:
            f.write(b"!<arch>\n")
            for header, body in members:
                mtime = str(ar_mtime).encode().ljust(12) if ar_mtime is not None else header[16:28]
                f.write(header[:16] + mtime + header[28:48] + str(len(body)).encode().ljust(10) + b"`\n")
                f.write(body + (b"\n" if len(body) % 2 else b""))
    return spoil


def tar_dated_now(info):
    info.mtime = int(time.time())
    return info


def tar_owned_by_builder(info):
    info.uid, info.gid, info.uname, info.gname = 1000, 1000, "builder", "builder"
    return info


def without_manual_page(info):
    return None if info.name.endswith("selvanore-play.1.gz") else info


def append_byte(path):
    with open(path, "ab") as f:
        f.write(b"\0")


# Each case: (name, spoil the copied release, fix the sums afterwards, the fault the checker must print)
def cases():
    return [
        ("archive changed after summing", lambda d: append_byte(main_zip(d)), False,
         r"SHA256SUMS: Selvanore-1\.1\.0\.0-win64\.zip has SHA-256"),
        ("extra field", lambda d: rewrite_zip(main_zip(d), each_member(with_extra_field)), True,
         r"Selvanore/Selvanore\.dll: extra field"),
        ("member dated at packing time", lambda d: rewrite_zip(symbols_zip(d), each_member(dated_now)), True,
         r"Selvanore/Selvanore\.dll\.debug: dated .* expected the source's time"),
        ("permissions from the packer's umask", lambda d: rewrite_zip(main_zip(d), each_member(group_writable)), True,
         r"Selvanore/README\.txt: mode 100664, expected 100644"),
        ("members out of order", lambda d: rewrite_zip(main_zip(d), swapped_order), True,
         r"members \['Selvanore/', 'Selvanore/README\.txt', 'Selvanore/Selvanore\.dll'[,\]]"),
        ("symbols from another build", lambda d: rewrite_zip(
            symbols_zip(d), member_replaced("Selvanore/Selvanore.dll.debug", flip_last_byte)), True,
         r"the debug link's CRC does not match"),
        ("DLL not stripped", lambda d: rewrite_zip(main_zip(d), member_replaced("Selvanore/Selvanore.dll", unstripped)), True,
         r"Selvanore\.dll: \d+ COFF symbols, expected none"),
        ("link time not the source's", lambda d: rewrite_zip(
            main_zip(d), member_replaced("Selvanore/Selvanore.dll", link_time_moved)), True,
         rf"Selvanore\.dll: link time {EPOCH + 1}, expected the source's time"),
        ("archive named for another version", renamed_version, True,
         r"named for version 1\.2\.0\.0, the DLL's file version is 1\.1\.0\.0"),
        ("README with Unix line ends", lambda d: rewrite_zip(main_zip(d), member_replaced("Selvanore/README.txt", readme_lf)), True,
         r"README\.txt: line ends other than CR LF"),
        ("browser page without its program", lambda d: rewrite_zip(web_zip(d), without_wasm), True,
         r"-web\.zip: members \[.*'Selvanore-web/selvanore-wasm\.js', 'Selvanore-web/LICENCE\.txt'\], expected"),
        ("package member dated at build time", rewrite_deb(tar_dated_now), True,
         r"_amd64\.deb: \./usr/bin/selvanore-preview: dated .* expected the source's time"),
        ("package files owned by the builder", rewrite_deb(tar_owned_by_builder), True,
         r"_amd64\.deb: \./usr/bin/selvanore-play: owned by builder:builder, expected root:root"),
        ("package without a manual page", rewrite_deb(without_manual_page), True,
         r"_amd64\.deb: holds no /usr/share/man/man1/selvanore-play\.1\.gz"),
        ("package archive dated at packing time", rewrite_deb(ar_mtime=EPOCH + 7), True,
         rf"_amd64\.deb: data\.tar\.gz dated {EPOCH + 7}, expected the source's time"),
    ]


class CheckerCatchesFaults(unittest.TestCase):
    def test_good_release_passes(self):
        with tempfile.TemporaryDirectory() as work:
            result = subprocess.run([CHECKER, DIST, os.path.join(work, "unpacked"), str(EPOCH)],
                                    capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_each_fault_is_named(self):
        for name, spoil, fix_sums, fault in cases():
            with self.subTest(name), tempfile.TemporaryDirectory() as work:
                dist = os.path.join(work, "dist")
                shutil.copytree(DIST, dist)
                spoil(dist)
                if fix_sums:
                    write_sums(dist)
                result = subprocess.run([CHECKER, dist, os.path.join(work, "unpacked"), str(EPOCH)],
                                        capture_output=True, text=True)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertRegex(result.stdout, fault)


if __name__ == "__main__":
    if len(sys.argv) != 4 or not sys.argv[3].isdigit():
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    DIST, UNSTRIPPED, EPOCH = sys.argv[1], sys.argv[2], int(sys.argv[3])
    unittest.main(argv=sys.argv[:1], verbosity=2)
