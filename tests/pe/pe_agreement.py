"""Compares our file-version reader (the fileversion tool) with pefile.

pefile parses the first RT_VERSION name entry whatever its id, while
GetFileVersionInfoW looks up the entry named 1 only. So the expectation is
pefile's own parse of the name-1 entry (first language): pefile's result as is
when that entry comes first, else pefile's parser called on the name-1 entry;
no name-1 entry means no version. Files pefile cannot parse are skipped and
counted.

usage: pe_agreement.py --fileversion PATH --pegen PATH [DIR...]
"""

import argparse
import os
import subprocess
import sys
import tempfile

import pefile

RT_VERSION = 16

# name, pegen arguments, the version Windows would report (None: no version).
FIXTURES = [
    ("v4.1.52.1.exe", ["--exe", "--version", "4.1.52.1"], "4.1.52.1"),
    ("v4.1.52.0.exe", ["--exe", "--version", "4.1.52.0"], "4.1.52.0"),
    ("v4.1.52.2.exe", ["--exe", "--version", "4.1.52.2"], "4.1.52.2"),
    ("v4.2.0.0.exe", ["--exe", "--version", "4.2.0.0"], "4.2.0.0"),
    ("v1.0.1.1.dll", ["--version", "1.0.1.1"], "1.0.1.1"),
    ("v0.9.9.9.dll", ["--version", "0.9.9.9", "--product-version", "4.1.52.1"], "0.9.9.9"),
    ("max.dll", ["--version", "65535.65535.65535.65535"], "65535.65535.65535.65535"),
    ("max-build.exe", ["--exe", "--version", "1.0.65535.1"], "1.0.65535.1"),
    ("padded.dll", ["--size", "847872", "--version", "4.1.52.1"], "4.1.52.1"),
    ("small.dll", ["--size", "21504"], "1.0.1.1"),
    ("pe32plus.exe", ["--exe", "--pe32plus", "--version", "2.3.4.5"], "2.3.4.5"),
    ("none.dll", ["--no-version"], None),
    ("none.exe", ["--exe", "--no-version"], None),
    ("id2.dll", ["--resource-id", "2", "--version", "4.1.52.1"], None),
]


def text(fixed):
    return "%d.%d.%d.%d" % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                            fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)


def pefile_version(path):
    """(version or None, True when pefile's first entry was not the one
    Windows reads), or raises pefile.PEFormatError."""
    pe = pefile.PE(path, fast_load=True)
    try:
        pe.parse_data_directories(
            directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
        resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
        if resources is None:
            return None, False
        types = [e for e in resources.entries if e.name is None and e.id == RT_VERSION]
        if not types or not hasattr(types[0], "directory"):
            return None, False
        names = types[0].directory.entries
        ones = [e for e in names if e.name is None and e.id == 1]
        if not ones:
            return None, bool(names)
        reselected = ones[0] is not names[0]
        if reselected:
            for attribute in ("VS_VERSIONINFO", "VS_FIXEDFILEINFO", "FileInfo"):
                if hasattr(pe, attribute):
                    delattr(pe, attribute)
            languages = getattr(ones[0], "directory", None)
            if languages is None or not languages.entries or \
                    not hasattr(languages.entries[0], "data"):
                return None, True
            pe.parse_version_information(languages.entries[0].data.struct)
        fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
        return (text(fixed[0]) if fixed else None), reselected
    finally:
        pe.close()


def ours(fileversion, paths):
    """Our reader's versions by path, from one run of the tool per batch."""
    found = {}
    for start in range(0, len(paths), 500):
        batch = paths[start:start + 500]
        if len(batch) == 1:
            batch = batch + [os.devnull]  # keep the "PATH: VERSION" form
        run = subprocess.run([fileversion, "--"] + batch, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, check=False)
        if run.returncode not in (0, 1):
            sys.exit("fileversion failed (%d): %s" % (run.returncode, run.stderr.decode()))
        for line in run.stdout.decode("utf-8", "surrogateescape").splitlines():
            path, _, version = line.rpartition(": ")
            found[path] = version
    return found


def pe_files(folders):
    for folder in folders:
        for root, _, names in os.walk(folder):
            for name in sorted(names):
                path = os.path.join(root, name)
                if os.path.islink(path) or not os.path.isfile(path):
                    continue
                with open(path, "rb") as f:
                    if f.read(2) == b"MZ":
                        yield path


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--fileversion", required=True)
    parser.add_argument("--pegen", required=True)
    parser.add_argument("folders", nargs="*")
    args = parser.parse_args()

    disagreements = []
    with tempfile.TemporaryDirectory(prefix="pe-agreement-") as scratch:
        fixtures = []
        for name, options, windows in FIXTURES:
            path = os.path.join(scratch, name)
            subprocess.run([args.pegen, path] + options, check=True)
            fixtures.append((path, windows))
        paths = [p for p, _ in fixtures] + sorted(set(pe_files(args.folders)))
        read = ours(args.fileversion, paths)

        agree = skipped = reselected = with_version = 0
        for path, windows in fixtures:
            expected, _ = pefile_version(path)
            if expected != windows:
                disagreements.append("%s: pefile %s, Windows %s" % (path, expected, windows))
        for path in paths:
            try:
                expected, moved = pefile_version(path)
            except pefile.PEFormatError:
                skipped += 1
                continue
            got = read.get(path)
            if got != expected:
                disagreements.append("%s: ours %s, pefile %s" % (path, got, expected))
                continue
            agree += 1
            reselected += moved
            with_version += expected is not None

    for line in disagreements:
        print("disagree: " + line)
    print("pe agreement: %d files agree, %d disagree, %d skipped (pefile cannot parse); "
          "%d with a version, %d fixtures, %d whose first RT_VERSION name is not 1, judged "
          "by the name-1 entry as Windows does" % (agree, len(disagreements), skipped, with_version, len(fixtures),
                          reselected))
    return 1 if disagreements else 0


if __name__ == "__main__":
    sys.exit(main())
