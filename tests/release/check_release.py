#!/usr/bin/python3
"""Checks what scripts/release wrote and unpacks it, as a player's user would.

Usage: check_release.py DIST UNPACK EPOCH

DIST is the folder scripts/release wrote; EPOCH the source's time in seconds since 1970 (the
commit's). The archives are unpacked into UNPACK, which must not exist yet. Every fault is
printed on its own line. Exit status 0 when the release passes, 1 when it fails, 2 on misuse.
"""

import gzip
import hashlib
import io
import os
import re
import struct
import subprocess
import sys
import tarfile
import time
import zipfile
import zlib

FOLDER = "Selvanore/"
WEB_FOLDER = "Selvanore-web/"
WEB_FILES = ["index.html", "selvanore.js", "selvanore-wasm.js", "selvanore-wasm.wasm"]
EXPORT = "AIMPPluginGetHeader"
ADDR2LINE = "x86_64-w64-mingw32-addr2line"
COFF_SYMBOL_SIZE = 18
LOCAL_HEADER = struct.Struct("<4s5H3L2H")
UNIX = 3
AR_MAGIC = b"!<arch>\n"
AR_HEADER = struct.Struct("16s12s6s6s8s10s2s")
# What the tools' Debian package must hold, by the end of each member's name.
DEB_MEMBERS = ["/usr/bin/selvanore-play", "/usr/bin/selvanore-preview", "/selvanore/Selvanore.so",
               "/selvanore/libwin32.so", "/selvanore/selvanore-preview-video.so",
               "/usr/share/doc/selvanore-tools/copyright", "/usr/share/man/man1/selvanore-play.1.gz",
               "/usr/share/man/man1/selvanore-preview.1.gz"]


class Faults(list):
    def check(self, condition, message):
        if not condition:
            self.append(message)
        return condition


def coff_section_names(pe):
    """Every section's full name, long names resolved through the COFF string table."""
    header = pe.FILE_HEADER
    strings = header.PointerToSymbolTable + header.NumberOfSymbols * COFF_SYMBOL_SIZE
    names = []
    for section in pe.sections:
        raw = section.Name.rstrip(b"\0")
        if raw.startswith(b"/") and header.PointerToSymbolTable:
            start = strings + int(raw[1:])
            raw = pe.__data__[start:pe.__data__.index(b"\0", start)]
        names.append((raw.decode("ascii", "replace"), section))
    return names


def file_version(pe):
    fixed = pe.VS_FIXEDFILEINFO[0]
    return ".".join(str(n) for n in (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                                     fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF))


def check_sums(dist, faults):
    """The archives SHA256SUMS names, after checking it names exactly them with their hashes."""
    path = os.path.join(dist, "SHA256SUMS")
    if not faults.check(os.path.isfile(path), "SHA256SUMS is missing"):
        return []
    with open(path, encoding="ascii") as f:
        lines = f.read().splitlines()
    names = []
    for line in lines:
        match = re.fullmatch(r"([0-9a-f]{64})  (\S+)", line)
        if not faults.check(match is not None, f"SHA256SUMS: malformed line {line!r}"):
            continue
        digest, name = match.groups()
        names.append(name)
        archive = os.path.join(dist, name)
        if faults.check(os.path.isfile(archive), f"SHA256SUMS names {name}, which is missing"):
            with open(archive, "rb") as f:
                actual = hashlib.sha256(f.read()).hexdigest()
            faults.check(actual == digest, f"SHA256SUMS: {name} has SHA-256 {actual}, listed {digest}")
    found = sorted(n for n in os.listdir(dist) if n.endswith((".zip", ".deb")))
    faults.check(names == found, f"SHA256SUMS lists {names}, dist holds {found}")
    return names


def check_archive(path, expected_members, epoch, faults):
    """Member names and order, dates, permissions and the absence of extras: what decides the
    archive's bytes beyond the members' contents."""
    name = os.path.basename(path)
    # Zip keeps local time in two-second steps and nothing before 1980.
    date_time = time.gmtime(max(epoch, 315532800))[:6]
    date_time = date_time[:5] + (date_time[5] // 2 * 2,)
    with zipfile.ZipFile(path) as archive, open(path, "rb") as raw:
        infos = archive.infolist()
        names = [info.filename for info in infos]
        faults.check(names == expected_members, f"{name}: members {names}, expected {expected_members}")
        faults.check(archive.comment == b"", f"{name}: has a comment")
        for info in infos:
            where = f"{name}: {info.filename}"
            faults.check(info.date_time == date_time,
                         f"{where}: dated {info.date_time}, expected the source's time {date_time}")
            faults.check(info.create_system == UNIX, f"{where}: made on system {info.create_system}, expected {UNIX} (Unix)")
            mode = info.external_attr >> 16
            expected_mode = 0o40755 if info.is_dir() else 0o100644
            faults.check(mode == expected_mode, f"{where}: mode {mode:o}, expected {expected_mode:o}")
            faults.check(info.extra == b"", f"{where}: extra field {info.extra!r} in the central directory")
            faults.check(info.comment == b"", f"{where}: has a comment")
            raw.seek(info.header_offset)
            local = LOCAL_HEADER.unpack(raw.read(LOCAL_HEADER.size))
            faults.check(local[-1] == 0, f"{where}: {local[-1]} bytes of extra field in the local header")
        bad = archive.testzip()
        faults.check(bad is None, f"{name}: {bad} is damaged")


def unpack(path, target, faults, folder=FOLDER):
    with zipfile.ZipFile(path) as archive:
        for info in archive.infolist():
            if not faults.check(info.filename.startswith(folder) and ".." not in info.filename.split("/"),
                                f"{os.path.basename(path)}: {info.filename} lies outside {folder}"):
                return
        archive.extractall(target)


def check_dll(dll, debug, epoch, faults):
    """The shipped DLL: link time, checksum, nothing of the debug information left in it, and a
    debug link that names the symbols file with its CRC."""
    import pefile

    pe = pefile.PE(dll)
    faults.check(pe.FILE_HEADER.TimeDateStamp == epoch,
                 f"Selvanore.dll: link time {pe.FILE_HEADER.TimeDateStamp}, expected the source's time {epoch}")
    faults.check(pe.verify_checksum(), "Selvanore.dll: wrong image checksum")
    faults.check(pe.FILE_HEADER.NumberOfSymbols == 0,
                 f"Selvanore.dll: {pe.FILE_HEADER.NumberOfSymbols} COFF symbols, expected none (stripped)")
    sections = coff_section_names(pe)
    debug_sections = [name for name, _ in sections if name.startswith(".debug")]
    faults.check(not debug_sections, f"Selvanore.dll: keeps debug sections {debug_sections}")
    links = [section for name, section in sections if name == ".gnu_debuglink"]
    if faults.check(len(links) == 1, "Selvanore.dll: no debug link"):
        data = links[0].get_data()[:links[0].Misc_VirtualSize]
        with open(debug, "rb") as f:
            crc = zlib.crc32(f.read())
        named = data[:data.index(b"\0")] if b"\0" in data else data
        faults.check(named == b"Selvanore.dll.debug", f"Selvanore.dll: the debug link names {named!r}")
        faults.check(int.from_bytes(data[-4:], "little") == crc,
                     "Selvanore.dll: the debug link's CRC does not match Selvanore.dll.debug")
    symbols = pefile.PE(debug, fast_load=True)
    faults.check(symbols.FILE_HEADER.TimeDateStamp == epoch,
                 f"Selvanore.dll.debug: link time {symbols.FILE_HEADER.TimeDateStamp}, expected {epoch}")
    return pe


def check_symbols_read(pe, debug, faults):
    """A crash report's address in the export reads back as the export's name and source line."""
    exports = [s for s in pe.DIRECTORY_ENTRY_EXPORT.symbols if s.name == EXPORT.encode()]
    if not faults.check(len(exports) == 1, f"Selvanore.dll: no export {EXPORT}"):
        return
    address = pe.OPTIONAL_HEADER.ImageBase + exports[0].address
    lines = subprocess.run([ADDR2LINE, "-f", "-e", debug, hex(address)], check=True,
                           capture_output=True, text=True).stdout.splitlines()
    faults.check(len(lines) == 2 and lines[0] == EXPORT
                 and re.fullmatch(r"/selvanore/module/Selvanore\.cpp:\d+", lines[1]) is not None,
                 f"Selvanore.dll.debug: {hex(address)} reads as {lines}, "
                 f"expected {EXPORT} in /selvanore/module/Selvanore.cpp")

def ar_members(path, faults):
    """The (name, mtime, uid, gid, mode, data) of each member of the ar archive a .deb is."""
    name = os.path.basename(path)
    with open(path, "rb") as f:
        data = f.read()
    if not faults.check(data.startswith(AR_MAGIC), f"{name}: not an ar archive"):
        return []
    members = []
    offset = len(AR_MAGIC)
    while offset < len(data):
        fields = AR_HEADER.unpack_from(data, offset)
        size = int(fields[5])
        offset += AR_HEADER.size
        members.append((fields[0].decode().rstrip().rstrip("/"), int(fields[1]), int(fields[2] or 0),
                        int(fields[3] or 0), int(fields[4], 8), data[offset:offset + size]))
        offset += size + size % 2
    return members


def tar_of(name, data):
    if name.endswith(".gz"):
        data = gzip.decompress(data)
    return tarfile.open(fileobj=io.BytesIO(data))


def check_deb(path, version, epoch, faults):
    """The tools' Debian package: what decides its bytes (member order, dates, owners, modes)
    and what it must hold (the programs, their libraries, manual pages and copyright)."""
    name = os.path.basename(path)
    members = ar_members(path, faults)
    names = [member[0] for member in members]
    if not faults.check(len(names) == 3 and names[0] == "debian-binary" and names[1].startswith("control.tar")
                        and names[2].startswith("data.tar"), f"{name}: ar members {names}"):
        return
    for member, mtime, uid, gid, mode, _ in members:
        faults.check(mtime == epoch, f"{name}: {member} dated {mtime}, expected the source's time {epoch}")
        faults.check(uid == 0 and gid == 0, f"{name}: {member} owned by {uid}:{gid}, expected 0:0")
        faults.check(mode == 0o100644, f"{name}: {member} has mode {mode:o}, expected 100644")
    with tar_of(names[1], members[1][5]) as control_tar:
        control = control_tar.extractfile("./control").read().decode()
    fields = dict(re.findall(r"^([A-Za-z-]+): (.*)$", control, re.M))
    faults.check(fields.get("Package") == "selvanore-tools", f"{name}: package {fields.get('Package')!r}")
    faults.check(fields.get("Version") == version, f"{name}: version {fields.get('Version')!r}, expected {version}")
    faults.check("libavcodec" in fields.get("Depends", "") and "libsdl2" in fields.get("Depends", ""),
                 f"{name}: depends on {fields.get('Depends')!r}, expected the libraries the programs link")
    with tar_of(names[2], members[2][5]) as data_tar:
        infos = data_tar.getmembers()
    entries = [info.name for info in infos]
    faults.check(entries == sorted(entries), f"{name}: data members are not in sorted order")
    for info in infos:
        where = f"{name}: {info.name}"
        faults.check(info.mtime == epoch, f"{where}: dated {info.mtime}, expected the source's time {epoch}")
        faults.check(info.uid == 0 and info.gid == 0 and info.uname == "root" and info.gname == "root",
                     f"{where}: owned by {info.uname or info.uid}:{info.gname or info.gid}, expected root:root")
        program = "/usr/bin/" in info.name
        expected = 0o755 if info.isdir() or program else 0o644
        faults.check(info.mode == expected, f"{where}: mode {info.mode:o}, expected {expected:o}")
    for wanted in DEB_MEMBERS:
        faults.check(any(entry.endswith(wanted) for entry in entries), f"{name}: holds no {wanted}")


def check_release(dist, target, epoch):
    faults = Faults()
    names = check_sums(dist, faults)
    debs = [n for n in names if n.endswith(".deb")]
    webs = [n for n in names if n.endswith("-web.zip")]
    names = [n for n in names if n.endswith(".zip") and n not in webs]
    match = [re.fullmatch(r"Selvanore-(\d+\.\d+\.\d+\.\d+)-win64(-symbols)?\.zip", n) for n in names]
    if not faults.check(len(names) == 2 and all(match) and match[0][1] == match[1][1],
                        f"archives {names}, expected Selvanore-<version>-win64.zip and -symbols.zip"):
        return faults
    version = match[0][1]
    main, symbols = (os.path.join(dist, f"Selvanore-{version}-win64{kind}.zip") for kind in ("", "-symbols"))
    if not faults.check(os.path.isfile(main) and os.path.isfile(symbols), f"archives {names} are misnamed"):
        return faults
    with zipfile.ZipFile(main) as archive:
        licence = [name for name in archive.namelist() if name == f"{FOLDER}LICENCE.txt"]
    check_archive(main, [FOLDER, f"{FOLDER}Selvanore.dll", f"{FOLDER}README.txt", *licence], epoch, faults)
    check_archive(symbols, [FOLDER, f"{FOLDER}Selvanore.dll.debug"], epoch, faults)
    if faults.check(webs == [f"Selvanore-{version}-web.zip"], f"web archives {webs}, expected Selvanore-{version}-web.zip"):
        web = os.path.join(dist, webs[0])
        check_archive(web, [WEB_FOLDER, *(WEB_FOLDER + n for n in WEB_FILES), *(WEB_FOLDER + "LICENCE.txt" for _ in licence)],
                      epoch, faults)
        unpack(web, target, faults, WEB_FOLDER)
    unpack(main, target, faults)
    unpack(symbols, target, faults)
    if faults:
        return faults

    dll = os.path.join(target, FOLDER, "Selvanore.dll")
    debug = os.path.join(target, FOLDER, "Selvanore.dll.debug")
    pe = check_dll(dll, debug, epoch, faults)
    faults.check(file_version(pe) == version,
                 f"archives are named for version {version}, the DLL's file version is {file_version(pe)}")
    with open(os.path.join(target, FOLDER, "README.txt"), "rb") as f:
        readme = f.read()
    faults.check(b"\n" not in readme.replace(b"\r\n", b""), "README.txt: line ends other than CR LF")
    faults.check(f"Selvanore {version}".encode() in readme and b"@VERSION@" not in readme,
                 f"README.txt: does not name version {version}")
    if not faults:
        check_symbols_read(pe, debug, faults)
    if faults.check(debs == [f"selvanore-tools_{version}_amd64.deb"],
                    f"Debian packages {debs}, expected selvanore-tools_{version}_amd64.deb"):
        check_deb(os.path.join(dist, debs[0]), version, epoch, faults)
    return faults


def main(argv):
    if len(argv) != 4 or not argv[3].isdigit() or os.path.exists(argv[2]):
        print(__doc__, file=sys.stderr)
        return 2
    faults = check_release(argv[1], argv[2], int(argv[3]))
    for fault in faults:
        print(f"check_release: {fault}")
    if not faults:
        print(f"check_release: {argv[1]}: ok, unpacked into {argv[2]}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
