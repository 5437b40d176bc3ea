#!/usr/bin/env python3
"""Checks rscom.dll as Windows programs see it, from MinGW's objdump:

- it exports exactly the driver's entries, under their plain names (a
  program finds them with GetProcAddress("OPENCOM"));
- it needs no DLL but Windows' own (no libstdc++-6.dll, libgcc_s, or
  libwinpthread-1.dll beside it);
- with --stdcall (32-bit Windows): every entry removes its own arguments
  from the stack on return, as __stdcall callers expect: `ret $0x4` for one
  argument, `ret $0xc` for three, a plain `ret` for none.

With --folder, a program's folder instead: every .exe and .dll in it (and
in its subfolders, Qt's plugins) needs no DLL but those at the folder's top
and Windows' own.

usage: check_dll.py OBJDUMP DLL [--stdcall]
       check_dll.py OBJDUMP --folder FOLDER
Exit status 0 when all holds, 1 otherwise, with every fault printed.
"""

import os
import re
import subprocess
import sys

# Each entry, and the bytes of arguments it takes on 32-bit Windows (every
# argument takes 4, int16_t ones too).
ENTRIES = {
    "OPENCOM": 4,
    "TXD": 4,
    "DTR": 4,
    "RTS": 4,
    "DCD": 0,
    "DSR": 0,
    "CTS": 0,
    "RI": 0,
    "CLOSECOM": 0,
    "COMSTATUS": 12,
    "EDGES": 8,
}

# Windows' own DLLs: there on every Windows since 7 (ucrtbase, shcore and
# d3d12 since 10, which the program's folder asks for).
SYSTEM_DLLS = {
    "kernel32.dll",
    "msvcrt.dll",
    "ntdll.dll",
    "user32.dll",
    "advapi32.dll",
    "setupapi.dll",
    "cfgmgr32.dll",
    "ucrtbase.dll",
    # and what Qt's Core, Gui, Widgets and Windows plugins take of Windows
    "authz.dll",
    "comctl32.dll",
    "comdlg32.dll",
    "d2d1.dll",
    "d3d11.dll",
    "d3d12.dll",
    "d3d9.dll",
    "dwmapi.dll",
    "dwrite.dll",
    "dxgi.dll",
    "gdi32.dll",
    "imm32.dll",
    "mpr.dll",
    "netapi32.dll",
    "ole32.dll",
    "oleaut32.dll",
    "rpcrt4.dll",
    "shcore.dll",
    "shell32.dll",
    "shlwapi.dll",
    "userenv.dll",
    "uxtheme.dll",
    "version.dll",
    "winmm.dll",
    "ws2_32.dll",
    "wtsapi32.dll",
}


def check_folder(tool, folder):
    """Every program and DLL of the folder, and the DLLs each needs that are
    neither at the folder's top nor Windows' own."""
    beside = {name.lower() for name in os.listdir(folder) if name.lower().endswith(".dll")}
    faults = []
    checked = []
    for root, _, files in os.walk(folder):
        for name in sorted(files):
            if not name.lower().endswith((".dll", ".exe")):
                continue
            path = os.path.join(root, name)
            _, imports, _ = headers(objdump(tool, "-p", path))
            checked.append(os.path.relpath(path, folder))
            foreign = [dll for dll in imports
                       if dll.lower() not in beside and dll.lower() not in SYSTEM_DLLS
                       and not dll.lower().startswith("api-ms-win-")]
            if foreign:
                faults.append(f"{os.path.relpath(path, folder)} needs what is neither beside "
                              "it nor part of Windows: " + ", ".join(foreign))
    return checked, faults


def objdump(tool, *args):
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def headers(text):
    """The image base, the imported DLLs, and each export's RVA by name."""
    base = int(re.search(r"^ImageBase\s+([0-9a-fA-F]+)", text, re.M).group(1), 16)
    imports = re.findall(r"^\s*DLL Name: (\S+)", text, re.M)

    rvas = {}  # index into the export address table -> RVA
    names = {}  # name -> index
    section = None
    for line in text.splitlines():
        if line.startswith("Export Address Table --"):
            section = "addresses"
            continue
        if line.startswith("[Ordinal/Name Pointer] Table"):
            section = "names"
            continue
        if not line.strip():
            section = None
            continue
        if section == "addresses":
            m = re.match(r"\s*\[\s*(\d+)\]\s+\+base\[\s*\d+\]\s+([0-9a-fA-F]+)\s+Export RVA", line)
            if m:
                rvas[int(m.group(1))] = int(m.group(2), 16)
        elif section == "names":
            m = re.match(r"\s*\[\s*(\d+)\]\s+(\S+)\s*$", line)
            if m:
                names[m.group(2)] = int(m.group(1))
    exports = {name: rvas.get(index) for name, index in names.items()}
    return base, imports, exports


def returns(tool, dll, address):
    """The operands of the `ret` instructions of the function at `address`:
    up to the next function's label, or the first one when the DLL has no
    symbols."""
    text = objdump(tool, "-d", "--no-show-raw-insn", f"--start-address={address:#x}",
                   f"--stop-address={address + 0x4000:#x}", dll)
    found = []
    labels = 0
    for line in text.splitlines():
        if re.match(r"^[0-9a-fA-F]+ <.*>:$", line):
            labels += 1
            if labels > 1:
                break
            continue
        m = re.match(r"^\s*[0-9a-fA-F]+:\s+(retl?|retw)\b\s*(\S*)", line)
        if m:
            found.append(m.group(2))
            if labels == 0:
                break
    return found


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    if argv[2] == "--folder" and len(argv) == 4:
        checked, faults = check_folder(argv[1], argv[3])
        for fault in faults:
            print(f"{argv[3]}: {fault}")
        if not checked:
            faults.append("no program or DLL in it")
            print(f"{argv[3]}: no program or DLL in it")
        if not faults:
            print(f"{argv[3]}: {len(checked)} programs and DLLs, each needing only what is "
                  "beside it or part of Windows")
        return 1 if faults else 0
    tool, dll = argv[1], argv[2]
    stdcall = "--stdcall" in argv[3:]
    faults = []

    base, imports, exports = headers(objdump(tool, "-p", dll))

    missing = sorted(set(ENTRIES) - set(exports))
    extra = sorted(set(exports) - set(ENTRIES))
    if missing:
        faults.append("not exported: " + ", ".join(missing))
    if extra:
        faults.append("exported beyond the driver's entries: " + ", ".join(extra))

    foreign = [name for name in imports
               if name.lower() not in SYSTEM_DLLS and not name.lower().startswith("api-ms-win-")]
    if foreign:
        faults.append("needs DLLs that Windows does not have: " + ", ".join(foreign))
    if not imports:
        faults.append("no import table found: is this a DLL?")

    if stdcall:
        for name, size in sorted(ENTRIES.items()):
            rva = exports.get(name)
            if rva is None:
                continue
            want = f"$0x{size:x}" if size else ""
            found = returns(tool, dll, base + rva)
            if not found:
                faults.append(f"{name}: no return found in its code")
            elif any(operand != want for operand in found):
                shown = ", ".join(("ret " + op).strip() for op in found)
                faults.append(f"{name}: returns with {shown}; __stdcall needs "
                              f"{('ret ' + want).strip()}")

    for fault in faults:
        print(f"{dll}: {fault}")
    if faults:
        return 1
    print(f"{dll}: exports exactly {', '.join(sorted(ENTRIES))}; imports only "
          f"{', '.join(imports)}" + ("; every entry returns as __stdcall" if stdcall else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
