#!/usr/bin/python3
"""Every system call the Windows program's own code makes is written up in
docs/windows.md.

The calls are read from the built code, not from the sources: a call reached
through a macro, an inline helper or a header shows in the objects' undefined
symbols all the same, and a call the sources mention but never make does not.
The libraries and objects given (the backend, the entry, the shared core, the
patch and the application) are what the program links of its own; the C++
runtime and the compiler's helpers are not calls into Windows and are left
out by resolving each undefined symbol against the import libraries of the
DLLs that the finished exe imports. A symbol one of them defines is a call
into that DLL, whatever its decoration (`__imp__Name@N` for a declared
import, `_Name@N` or `_Name` for a direct one). A DLL newly imported by the
exe is covered without a change here.

A function looked up by name at run time (GetProcAddress with a literal
name, in the sources given with --sources) is not an import; it is added
from the sources.

A call counts as written up when the document names it in backquotes
(`Name` or `Name(...)`). Exit 0 when all are, 1 naming the missing ones.
"""

import argparse
import collections
import os
import re
import subprocess
import sys


def run(command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def imported_dlls(objdump, exe):
    return sorted(set(re.findall(r"DLL Name:\s*(\S+)", run([objdump, "-p", exe]))))


def import_library(compiler, dll):
    name = "lib" + re.sub(r"\.dll$", "", dll, flags=re.IGNORECASE).lower() + ".a"
    found = run([compiler, "-print-file-name=" + name]).strip()
    # The compiler echoes a name it cannot find.
    return found if os.path.isabs(found) and os.path.exists(found) else None


def defined_symbols(nm, library):
    symbols = set()
    for line in run([nm, "-g", "--defined-only", library]).splitlines():
        parts = line.split()
        if len(parts) == 3:
            symbols.add(parts[2])
    return symbols


def undefined_symbols(nm, files):
    symbols = set()
    for path in files:
        for line in run([nm, "-u", path]).splitlines():
            parts = line.split()
            if parts and parts[-1] != path + ":" and not line.endswith(":"):
                symbols.add(parts[-1])
    return symbols


def plain_name(symbol):
    """__imp__CreateFileW@28, _CreateFileW@28 and _fwrite give CreateFileW
    and fwrite."""
    if symbol.startswith("__imp_"):
        symbol = symbol[len("__imp_"):]
    if symbol.startswith("_"):
        symbol = symbol[1:]
    return re.sub(r"@\d+$", "", symbol)


def documented(text, name):
    return re.search(r"`" + re.escape(name) + r"[`(]", text) is not None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nm", required=True)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--compiler", required=True, help="finds the import libraries")
    parser.add_argument("--exe", required=True, help="the program, for the DLLs it imports")
    parser.add_argument("--doc", required=True)
    parser.add_argument("--sources", nargs="*", default=[], help="looked up by name at run time")
    parser.add_argument("--list", action="store_true", help="print every call found")
    parser.add_argument("code", nargs="+", help="the program's own libraries and objects")
    arguments = parser.parse_args()

    owner = {}
    for dll in imported_dlls(arguments.objdump, arguments.exe):
        library = import_library(arguments.compiler, dll)
        if library is None:
            print("no import library for %s: its calls cannot be told apart" % dll)
            return 2
        for symbol in defined_symbols(arguments.nm, library):
            owner.setdefault(symbol, dll)

    calls = collections.defaultdict(set)
    for symbol in undefined_symbols(arguments.nm, arguments.code):
        if symbol in owner:
            calls[plain_name(symbol)].add(owner[symbol])
    for path in arguments.sources:
        with open(path, encoding="utf-8") as source:
            for name in re.findall(r'GetProcAddress\([^;]*?"(\w+)"', source.read()):
                calls[name].add("looked up by name in " + os.path.basename(path))
    if not calls:
        print("no system call found in %s: wrong objects?" % " ".join(arguments.code))
        return 2

    try:
        with open(arguments.doc, encoding="utf-8") as doc:
            text = doc.read()
    except OSError as error:
        print("the document cannot be read: %s" % error)
        return 2
    missing = sorted(name for name in calls if not documented(text, name))
    if arguments.list:
        for name in sorted(calls, key=str.lower):
            print("%-32s %s" % (name, ", ".join(sorted(calls[name]))))
    print("%d system calls, %d not in %s" % (len(calls), len(missing), arguments.doc))
    for name in missing:
        print("not documented: %s (%s)" % (name, ", ".join(sorted(calls[name]))))
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
