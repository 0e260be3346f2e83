#!/usr/bin/env python3
"""The export tables of Tarvelo.dll, read with MinGW's objdump, and its
imports: a site installs that one file, so it imports Windows' own DLLs and
nothing else. Wine ships more DLLs than Windows has (vcruntime140.dll,
its own ucrt pieces...), so the list of Windows' own is written out here.

Each DLL must name itself "Tarvelo.dll" and export exactly the nine
functions by name at their ordinals, base 1. A 32-bit DLL's exports are
stdcall: every return of each exported function removes its argument bytes
(`ret $N`), and the exported address is that function's.

Its version resource shows the project's version, as Windows' Properties
of the file show it.

usage: check_exports.py --version X.Y ARCH:PATH ...
"""
import argparse
import re
import struct
import subprocess
import sys

# The DLLs of a Windows 10 installation that a MinGW-built Qt 6 library may
# import (the api-ms-win-* sets are Windows' too).
WINDOWS_OWN = {f"{name}.dll" for name in """
    advapi32 authz avifil32 bcrypt comctl32 comdlg32 crypt32 d3d9 d3d11 d3d12 dwmapi dwrite dxgi gdi32 imm32
    kernel32 mpr msvcrt msvfw32 netapi32 ntdll odbc32 ole32 oleaut32 quartz rpcrt4 secur32 setupapi shcore shell32
    shlwapi user32 userenv uxtheme version winmm winspool ws2_32 wtsapi32""".split()}

EXPORTS = {  # name: (ordinal, argument bytes on i686)
    "Video_CapturePicture": (1, 0), "Video_SwitchToMonitor": (2, 4), "Video_SwitchToTV": (3, 4),
    "Frame_ExecFunc": (4, 4), "Frame_FreeAll": (5, 0), "Frame_FreeChild": (6, 0), "Frame_SetParam": (7, 8),
    "Frame_SetAdoString": (8, 4), "Frame_Init": (9, 16),
}


def objdump(arch, *args):
    return subprocess.run([f"{arch}-w64-mingw32-objdump", *args], check=True, capture_output=True,
                          text=True).stdout


def export_table(headers):
    """(dll name, ordinal base, {name: ordinal}, {ordinal: rva})."""
    name = re.search(r"^Name\s+\S+\s+(\S+)$", headers, re.M).group(1)
    base = int(re.search(r"^Ordinal Base\s+(\d+)", headers, re.M).group(1))
    rvas = {int(m.group(1)): int(m.group(2), 16)
            for m in re.finditer(r"\+base\[\s*(\d+)\]\s+([0-9a-f]+) Export RVA", headers)}
    table = headers.split("[Ordinal/Name Pointer] Table", 1)[1].split("\n\n", 1)[0]
    names = {m.group(2): int(m.group(1)) + base for m in re.finditer(r"\[\s*(\d+)\]\s+(\S+)", table)}
    return name, base, names, rvas


def body_of(disassembly, label):
    start = re.search(rf"^([0-9a-f]+) <{re.escape(label)}>:$", disassembly, re.M)
    if not start:
        return None, ""
    return int(start.group(1), 16), disassembly[start.end():].split("\n\n", 1)[0]


def returns_of(disassembly, symbol):
    """(address, the `ret` instructions) of the function labelled `symbol`,
    its cold part (which GCC moves away) included."""
    address, body = body_of(disassembly, symbol)
    cold = body_of(disassembly, symbol + ".cold")[1]
    return address, re.findall(r"\t(ret[lq]?(?:\s+\$0x[0-9a-f]+)?)\s*$", body + "\n" + cold, re.M)


def check(arch, path):
    problems = []
    headers = objdump(arch, "-p", path)
    dll, base, names, rvas = export_table(headers)
    if dll != "Tarvelo.dll" or base != 1:
        problems.append(f"the export directory names {dll} with ordinal base {base}")
    wanted = {n: o for n, (o, _) in EXPORTS.items()}
    if names != wanted:
        problems.append(f"exports {sorted(names.items())}, wanted {sorted(wanted.items())}")
    if arch == "i686":
        image_base = int(re.search(r"^ImageBase\s+([0-9a-f]+)", headers, re.M).group(1), 16)
        disassembly = objdump(arch, "-d", path)
        for name, (ordinal, size) in EXPORTS.items():
            address, rets = returns_of(disassembly, f"_{name}@{size}")  # the C name, as i686 decorates it
            expected = "ret" if size == 0 else f"ret    $0x{size:x}"
            if address is None or address - image_base != rvas.get(ordinal):
                problems.append(f"{name}: ordinal {ordinal} is not the function {name}@{size}")
            elif not rets or any(r.split() != expected.split() for r in rets):
                problems.append(f"{name}: returns with {rets}, wanted {expected}")
    for p in problems:
        print(f"FAIL {arch} {path}: {p}")
    if not problems:
        print(f"ok   {arch} {path}: Tarvelo.dll, nine exports at their ordinals"
              + (", each stdcall with its own ret" if arch == "i686" else ""))
    return not problems


def foreign_imports(arch, dll):
    """What the DLL imports that is not one of Windows' own DLLs."""
    imported = re.findall(r"DLL Name: (\S+)", objdump(arch, "-p", dll))
    return sorted(name for name in imported
                  if name.lower() not in WINDOWS_OWN and not name.lower().startswith("api-ms-win-"))


def check_imports(arch, dll):
    foreign = foreign_imports(arch, dll)
    print(("FAIL " if foreign else "ok   ") + f"{arch} {dll} imports only Windows' own DLLs" +
          (f": it also imports {', '.join(foreign)}" if foreign else ""))
    return not foreign


def utf16(text):
    return text.encode("utf-16-le")


def check_version(arch, dll, version):
    """The fixed part (VS_FIXEDFILEINFO) and the texts of the version resource."""
    data = open(dll, "rb").read()
    major, minor = (int(part) for part in version.split(".")[:2])
    fixed = data.find(struct.pack("<I", 0xFEEF04BD))
    numbers = struct.unpack_from("<6I", data, fixed) if fixed >= 0 else ()
    texts = {key: re.search(utf16(key) + rb"(?:\0\0)+((?:[^\0].|\0[^\0])*?)\0\0", data, re.S)
             for key in ("FileVersion", "ProductVersion", "ProductName", "FileDescription")}
    found = {key: m.group(1).decode("utf-16-le", "replace") if m else None for key, m in texts.items()}
    ok = (len(numbers) == 6 and numbers[2:6] == ((major << 16) | minor, 0, (major << 16) | minor, 0)
          and found["FileVersion"] == version and found["ProductVersion"] == version
          and found["ProductName"] == "Tarvelo" and bool(found["FileDescription"]))
    print(("ok   " if ok else "FAIL ") + f"{arch} {dll} carries version {version}: {found}")
    return ok


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("dlls", nargs="+", metavar="ARCH:PATH")
    args = parser.parse_args()
    results = [check(*arg.split(":", 1)) & check_imports(*arg.split(":", 1))
               & check_version(*arg.split(":", 1), args.version) for arg in args.dlls]
    return 0 if results and all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
