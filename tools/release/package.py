#!/usr/bin/python3
"""Packs a release build of Selvanore.dll into the archives a player's user downloads.

Usage: package.py --dll FILE --objcopy PROGRAM --readme FILE [--licence FILE] [--web DIR]
                  [--also FILE]... --output DIR

Writes into DIR, replacing earlier files of the same names:
  Selvanore-<file version>-win64.zip          Selvanore/Selvanore.dll (stripped), README.txt
                                              and LICENCE.txt when a licence is given
  Selvanore-<file version>-win64-symbols.zip  Selvanore/Selvanore.dll.debug, the debug
                                              information the DLL's debug link names
  Selvanore-<file version>-web.zip            with --web: Selvanore-web/, the browser page's
                                              files (WEB_FILES) from DIR, and LICENCE.txt
  SHA256SUMS                                  both archives and every --also file (the
                                              Debian package of the tools), in sha256sum's
                                              format; the --also files are copied into DIR

The file version is read from the DLL's own version resource. SOURCE_DATE_EPOCH (seconds since
1970, UTC) must be set: it is the time of every archive member, and the DLL and its debug
information must already carry it as their link time, so the same input gives the same bytes.
Exit status 0 on success, 1 when the DLL fails a check, 2 on misuse.
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib

FOLDER = "Selvanore"
# The browser page, a folder any static file server can serve as it is.
WEB_FOLDER = "Selvanore-web"
WEB_FILES = ["index.html", "selvanore.js", "selvanore-wasm.js", "selvanore-wasm.wasm"]
DLL_NAME = "Selvanore.dll"
DEBUG_NAME = "Selvanore.dll.debug"
COFF_SYMBOL_SIZE = 18
# Zip's dates begin in 1980; an earlier time would not survive the format.
ZIP_EARLIEST = 315532800


class PackageError(Exception):
    pass


def section_named(pe, name):
    """The section called name, long names resolved through the COFF string table."""
    header = pe.FILE_HEADER
    strings = header.PointerToSymbolTable + header.NumberOfSymbols * COFF_SYMBOL_SIZE
    for section in pe.sections:
        raw = section.Name.rstrip(b"\0")
        if raw.startswith(b"/") and header.PointerToSymbolTable:
            start = strings + int(raw[1:])
            raw = pe.__data__[start:pe.__data__.index(b"\0", start)]
        if raw == name:
            return section
    return None


def file_version(pe):
    """The file version, as the fixed part and the string table must both state it."""
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
               fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
    fixed_text = ".".join(str(n) for n in numbers)
    texts = [table.entries.get(b"FileVersion", b"").decode("ascii", "replace")
             for info in getattr(pe, "FileInfo", []) for entry in info
             for table in getattr(entry, "StringTable", [])]
    if texts != [fixed_text]:
        raise PackageError(f"the fixed file version {fixed_text} and the string table's {texts} disagree")
    return fixed_text


def check_image(path, epoch):
    """Fails unless the image's link time is epoch and its checksum is right."""
    import pefile

    pe = pefile.PE(path)
    stamp = pe.FILE_HEADER.TimeDateStamp
    if stamp != epoch & 0xFFFFFFFF:
        raise PackageError(f"{path}: link time {stamp}, expected SOURCE_DATE_EPOCH {epoch}")
    if not pe.verify_checksum():
        raise PackageError(f"{path}: the image checksum is wrong")
    return pe


def split_debug_information(objcopy, dll, work, epoch):
    """The stripped DLL and its debug information in work, joined by a checked debug link."""
    debug = os.path.join(work, DEBUG_NAME)
    stripped = os.path.join(work, DLL_NAME)
    environment = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch))
    subprocess.run([objcopy, "--only-keep-debug", dll, debug], check=True, env=environment)
    # The link records the name as given, so objcopy runs beside the debug file.
    subprocess.run([objcopy, "--strip-all", f"--add-gnu-debuglink={DEBUG_NAME}",
                    os.path.abspath(dll), stripped], check=True, cwd=work, env=environment)
    check_image(debug, epoch)
    pe = check_image(stripped, epoch)
    link = section_named(pe, b".gnu_debuglink")
    if link is None:
        raise PackageError(f"{stripped}: no debug link")
    data = pe.__data__[link.PointerToRawData:link.PointerToRawData + link.Misc_VirtualSize]
    name = data[:data.index(b"\0")]
    with open(debug, "rb") as f:
        crc = zlib.crc32(f.read())
    if name != DEBUG_NAME.encode() or int.from_bytes(data[-4:], "little") != crc:
        raise PackageError(f"{stripped}: the debug link {data!r} does not name {DEBUG_NAME} with its CRC")
    return stripped, debug, file_version(pe)


def write_zip(path, members, epoch):
    """A zip whose bytes depend on members alone: (name, data) pairs in the order given, each
    dated epoch in UTC, with fixed Unix permissions and no extra fields. A name ending in "/"
    is a folder."""
    date_time = time.gmtime(max(epoch, ZIP_EARLIEST))[:6]
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in members:
            info = zipfile.ZipInfo(name, date_time)
            info.create_system = 3  # Unix, whatever system packs it
            if name.endswith("/"):
                info.external_attr = (0o40755 << 16) | 0x10  # folder; MS-DOS folder bit
                info.compress_type = zipfile.ZIP_STORED
            else:
                info.external_attr = 0o100644 << 16
                info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)


def windows_text(path, version):
    """A text file for Windows: the version filled in, CR LF line ends."""
    with open(path, encoding="utf-8") as f:
        text = f.read().replace("@VERSION@", version)
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def package(arguments, epoch):
    os.makedirs(arguments.output, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=arguments.output, prefix=".package-") as work:
        work = os.path.abspath(work)
        dll, debug, version = split_debug_information(arguments.objcopy, arguments.dll, work, epoch)
        base = f"Selvanore-{version}-win64"
        members = [(f"{FOLDER}/", b""),
                   (f"{FOLDER}/{DLL_NAME}", read(dll)),
                   (f"{FOLDER}/README.txt", windows_text(arguments.readme, version))]
        if arguments.licence:
            members.append((f"{FOLDER}/LICENCE.txt", windows_text(arguments.licence, version)))
        archives = {f"{base}.zip": members,
                    f"{base}-symbols.zip": [(f"{FOLDER}/", b""), (f"{FOLDER}/{DEBUG_NAME}", read(debug))]}
        if arguments.web:
            web = [(f"{WEB_FOLDER}/", b"")] + [(f"{WEB_FOLDER}/{name}", read(os.path.join(arguments.web, name)))
                                              for name in WEB_FILES]
            if arguments.licence:
                web.append((f"{WEB_FOLDER}/LICENCE.txt", read(arguments.licence)))
            archives[f"Selvanore-{version}-web.zip"] = web
        for name, contents in archives.items():
            write_zip(os.path.join(work, name), contents, epoch)
        for path in arguments.also:
            name = os.path.basename(path)
            if name in archives or name == "SHA256SUMS":
                raise PackageError(f"{path}: the release writes a file of that name itself")
            shutil.copyfile(path, os.path.join(work, name))
            archives[name] = None
        sums = [f"{hashlib.sha256(read(os.path.join(work, name))).hexdigest()}  {name}\n" for name in archives]
        with open(os.path.join(work, "SHA256SUMS"), "w", encoding="ascii", newline="\n") as f:
            f.write("".join(sorted(sums, key=lambda line: line.split()[1])))
        # Whole files only: each appears in the output folder complete or not at all.
        for name in [*archives, "SHA256SUMS"]:
            os.replace(os.path.join(work, name), os.path.join(arguments.output, name))
        return [os.path.join(arguments.output, name) for name in [*archives, "SHA256SUMS"]], \
            os.path.getsize(dll)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dll", required=True)
    parser.add_argument("--objcopy", required=True)
    parser.add_argument("--readme", required=True)
    parser.add_argument("--licence")
    parser.add_argument("--web")
    parser.add_argument("--also", action="append", default=[])
    parser.add_argument("--output", required=True)
    arguments = parser.parse_args(argv[1:])
    epoch_text = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch_text.isdigit():
        print("package.py: SOURCE_DATE_EPOCH must be set to the seconds since 1970 of the source", file=sys.stderr)
        return 2
    if shutil.which(arguments.objcopy) is None:
        print(f"package.py: {arguments.objcopy} is missing; scripts/setup installs it", file=sys.stderr)
        return 2
    try:
        written, dll_size = package(arguments, int(epoch_text))
    except (PackageError, OSError, subprocess.CalledProcessError) as error:
        print(f"package.py: {error}", file=sys.stderr)
        return 1
    for path in written:
        print(f"{path}: {os.path.getsize(path)} bytes")
    print(f"{DLL_NAME} as shipped: {dll_size} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
