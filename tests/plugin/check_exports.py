#!/usr/bin/env python3
"""The export tables of Tarvelo.dll, read with MinGW's objdump, and the
folder a site copies beside its host (dist/): every DLL that a file there
imports is there too, or is one of Windows' own (the DLLs Wine provides).

Each DLL must name itself "Tarvelo.dll" and export exactly the nine
functions by name at their ordinals, base 1. A 32-bit DLL's exports are
stdcall: every return of each exported function removes its argument bytes
(`ret $N`), and the exported address is that function's.

usage: check_exports.py x86_64:PATH i686:PATH ...
"""
import re
import subprocess
import sys
from pathlib import Path

WINDOWS_OWN = Path("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows")

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


def missing_from_dist(arch, dll):
    dist = Path(dll).parent
    present = {p.name.lower() for p in dist.rglob("*.dll")}
    system = {p.name.lower() for p in WINDOWS_OWN.glob("*.dll")}
    missing = set()
    for module in dist.rglob("*.dll"):
        for imported in re.findall(r"DLL Name: (\S+)", objdump(arch, "-p", str(module))):
            name = imported.lower()
            if name not in present and name not in system and not name.startswith("api-ms-win-"):
                missing.add(f"{imported} (for {module.name})")
    return sorted(missing)


def check_dist(arch, dll):
    missing = missing_from_dist(arch, dll)
    print(("FAIL " if missing else "ok   ") + f"{arch} dist/ holds what its DLLs import" +
          (f": lacks {', '.join(missing)}" if missing else ""))
    return not missing


def main():
    results = [check(*arg.split(":", 1)) and check_dist(*arg.split(":", 1)) for arg in sys.argv[1:]]
    return 0 if results and all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
