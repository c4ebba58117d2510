#!/usr/bin/python3
"""Checks one property of a built module file and explains every way it falls short.

Usage: check_module.py CHECK FILE

PE checks (Selvanore.dll, read with pefile): pe-exports, pe-image, pe-imports, pe-version.
ELF checks (Selvanore.so, read with binutils): elf-symbols, elf-needed, elf-static-destructors.
Exit status 0 when the file passes, 1 when it fails (each fault on its own line), 2 on misuse.
"""

import fnmatch
import subprocess
import sys

EXPORT = "AIMPPluginGetHeader"

# DLLs that every Windows installation carries. The module links its runtime statically, so
# libstdc++, libgcc_s and libwinpthread must never appear.
SYSTEM_DLLS = [
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "ntdll.dll", "msvcrt.dll",
    "ucrtbase.dll", "api-ms-win-*.dll", "ole32.dll", "oleaut32.dll", "shell32.dll",
    "shlwapi.dll", "comctl32.dll", "uxtheme.dll", "msimg32.dll", "winmm.dll", "version.dll",
    "bcrypt.dll", "ws2_32.dll",
]

IMAGE_FILE_MACHINE_AMD64 = 0x8664
IMAGE_FILE_DLL = 0x2000
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
DLL_CHARACTERISTICS = {
    "HIGH_ENTROPY_VA": 0x0020,
    "DYNAMIC_BASE": 0x0040,
    "NX_COMPAT": 0x0100,
}
IMAGE_DIRECTORY_ENTRY_BASERELOC = 5
RT_VERSION = 16

FIXED_VERSION = {
    "FileVersionMS": 0x00010001,  # 1.1
    "FileVersionLS": 0x00000000,  # .0.0
    "ProductVersionMS": 0x00010000,  # 1.0
    "ProductVersionLS": 0x00000000,  # .0.0
    "FileFlagsMask": 0x3F,
    "FileFlags": 0,
    "FileOS": 0x4,  # VOS__WINDOWS32
    "FileType": 1,  # VFT_APP
    "FileSubtype": 0,
}
STRING_BLOCK = "040904E4"
STRINGS = {
    "CompanyName": "Vashkelt",
    "FileDescription": "Selvanore",
    "FileVersion": "1.1.0.0",
    "ProgramID": "Selvanore",
    "ProductName": "Selvanore",
    "ProductVersion": "1.0.0.0",
}
TRANSLATION = [(0x0409, 0x04E4)]
LANGUAGE_EN_US = 0x0409


def load_pe(path):
    import pefile

    return pefile.PE(path)


def check_pe_exports(path):
    pe = load_pe(path)
    faults = []
    directory = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    if directory is None:
        return ["no export directory"]
    names = [s.name.decode("ascii", "replace") if s.name else None for s in directory.symbols]
    if names != [EXPORT]:
        shown = ", ".join(n if n else "(by ordinal only)" for n in names)
        faults.append(f"exports are [{shown}], expected exactly [{EXPORT}]")
    for symbol in directory.symbols:
        if symbol.forwarder:
            faults.append(f"export {symbol.name!r} is forwarded to {symbol.forwarder!r}")
    dll_name = pe.get_string_at_rva(directory.struct.Name)
    if dll_name != b"Selvanore.dll":
        faults.append(f"export directory names the library {dll_name!r}, expected b'Selvanore.dll'")
    return faults


def check_pe_image(path):
    pe = load_pe(path)
    faults = []
    if pe.FILE_HEADER.Machine != IMAGE_FILE_MACHINE_AMD64:
        faults.append(f"machine 0x{pe.FILE_HEADER.Machine:04X}, expected 0x8664 (x86-64)")
    if not pe.FILE_HEADER.Characteristics & IMAGE_FILE_DLL:
        faults.append("the image is not marked as a DLL")
    if pe.OPTIONAL_HEADER.Subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI:
        faults.append(f"subsystem {pe.OPTIONAL_HEADER.Subsystem}, expected 2 (Windows GUI)")
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    for name, bit in DLL_CHARACTERISTICS.items():
        if not flags & bit:
            faults.append(f"DllCharacteristics 0x{flags:04X} lacks {name} (0x{bit:04X})")
    # A dynamic base is only honest when the image carries relocations to move it by.
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[IMAGE_DIRECTORY_ENTRY_BASERELOC]
    if relocations.VirtualAddress == 0 or relocations.Size == 0:
        faults.append("no base relocations, so the image cannot be moved")
    return faults


def is_system_dll(name):
    lower = name.lower()
    return any(fnmatch.fnmatchcase(lower, pattern) for pattern in SYSTEM_DLLS)


def check_pe_imports(path):
    pe = load_pe(path)
    faults = []
    imports = [entry.dll.decode("ascii", "replace") for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    delayed = [entry.dll.decode("ascii", "replace") for entry in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
    for name in imports + delayed:
        if not is_system_dll(name):
            faults.append(f"imports {name}, which is not a Windows system DLL")
    if not any(name.lower() == "kernel32.dll" for name in imports):
        faults.append("does not import KERNEL32.dll; the import table was not read")
    return faults


def decode(value):
    return value.decode("utf-8", "replace") if isinstance(value, bytes) else value


def check_pe_version(path):
    pe = load_pe(path)
    faults = []

    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    version_entries = []
    if resources is not None:
        for kind in resources.entries:
            if kind.id == RT_VERSION:
                for name in kind.directory.entries:
                    version_entries += [(name.id, lang.id) for lang in name.directory.entries]
    if len(version_entries) != 1:
        faults.append(f"{len(version_entries)} version resources, expected exactly 1")
    elif version_entries[0][1] != LANGUAGE_EN_US:
        faults.append(f"version resource language 0x{version_entries[0][1]:04X}, expected 0x0409")

    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        return faults + ["no fixed version information"]
    for field, expected in FIXED_VERSION.items():
        actual = getattr(fixed[0], field)
        if actual != expected:
            faults.append(f"{field} is 0x{actual:X}, expected 0x{expected:X}")

    tables = {}
    translations = []
    for file_info in getattr(pe, "FileInfo", []):
        for entry in file_info:
            for table in getattr(entry, "StringTable", []):
                block = decode(table.LangID)
                if block in tables:
                    faults.append(f"string block {block} appears twice")
                tables[block] = {decode(k): decode(v) for k, v in table.entries.items()}
            for var in getattr(entry, "Var", []):
                for key, value in var.entry.items():
                    if decode(key) == "Translation":
                        words = value.split() if isinstance(value, str) else []
                        translations += [(int(words[i], 16), int(words[i + 1], 16))
                                         for i in range(0, len(words) - 1, 2)]
    if list(tables) != [STRING_BLOCK]:
        faults.append(f"string blocks {sorted(tables)}, expected exactly ['{STRING_BLOCK}']")
    strings = tables.get(STRING_BLOCK, {})
    for key in sorted(set(STRINGS) | set(strings)):
        if key not in strings:
            faults.append(f"string {key} is missing")
        elif key not in STRINGS:
            faults.append(f"unexpected string {key} = {strings[key]!r}")
        elif strings[key] != STRINGS[key]:
            faults.append(f"string {key} is {strings[key]!r}, expected {STRINGS[key]!r}")
    if translations != TRANSLATION:
        shown = ", ".join(f"0x{lang:04X}/0x{cp:04X}" for lang, cp in translations) or "none"
        faults.append(f"translation {shown}, expected 0x0409/0x04E4")
    return faults


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def check_elf_symbols(path):
    # Every defined dynamic symbol, whatever its kind: functions, data, weak template code,
    # GNU unique objects. Only the export may be visible.
    lines = [line.split() for line in run("nm", "-D", "--defined-only", path).splitlines() if line.strip()]
    symbols = [(fields[-2], fields[-1]) for fields in lines]
    if symbols != [("T", EXPORT)]:
        shown = ", ".join(f"{name} ({kind})" for kind, name in symbols) or "none"
        return [f"defined dynamic symbols are [{shown}], expected exactly [{EXPORT} (T)]"]
    return []


def check_elf_needed(path):
    # The stand-in plays gdi32, user32 and kernel32 natively, so the module must use the one
    # shared copy that a host links too, never a private one.
    needed = []
    for line in run("readelf", "-d", "-W", path).splitlines():
        if "(NEEDED)" in line and "[" in line:
            needed.append(line[line.index("[") + 1:line.rindex("]")])
    if "libwin32.so" not in needed:
        return [f"needed libraries are {needed}, expected libwin32.so among them"]
    return []


def check_elf_static_destructors(path):
    # The module's shut-down releases the player's core and destroys the graphics pools in an
    # order of its own. A static object with a destructor would be torn down at some other point
    # of the unload, chosen by the link order, so the module registers none.
    lines = [line.split() for line in run("nm", "-D", "--undefined-only", path).splitlines() if line.strip()]
    registrars = sorted({fields[-1].split("@")[0] for fields in lines} & {"__cxa_atexit", "atexit"})
    if registrars:
        return [f"imports {', '.join(registrars)}: a static object registers a destructor"]
    return []


CHECKS = {
    "pe-exports": check_pe_exports,
    "pe-image": check_pe_image,
    "pe-imports": check_pe_imports,
    "pe-version": check_pe_version,
    "elf-symbols": check_elf_symbols,
    "elf-needed": check_elf_needed,
    "elf-static-destructors": check_elf_static_destructors,
}


def main(argv):
    if len(argv) != 3 or argv[1] not in CHECKS:
        print(__doc__, file=sys.stderr)
        return 2
    check, path = argv[1], argv[2]
    faults = CHECKS[check](path)
    for fault in faults:
        print(f"{path}: {check}: {fault}")
    if not faults:
        print(f"{path}: {check}: ok")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
