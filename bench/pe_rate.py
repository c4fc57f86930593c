"""pefile's side of the PE reading rate: the same files, the same passes.

usage: pe_rate.py PASSES LIST

Every pass opens each file with pefile (fast_load), parses its resource
directory, which is where pefile finds the version block, and takes the
fixed file information. Files are read once beforehand so that every pass
finds them in the page cache; files pefile cannot parse count as read
without a version. Prints one line per pass, as orv_bench_pe_rate does:
"<seconds> <files> <files with a version>".
"""

import sys
import time

import pefile

RESOURCES = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]


def version_of(path):
    try:
        pe = pefile.PE(path, fast_load=True)
    except pefile.PEFormatError:
        return None
    try:
        pe.parse_data_directories(directories=[RESOURCES])
        fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
        if not fixed:
            return None
        return (fixed[0].FileVersionMS, fixed[0].FileVersionLS)
    finally:
        pe.close()


def one_pass(paths):
    return sum(version_of(path) is not None for path in paths)


def main():
    if len(sys.argv) != 3 or int(sys.argv[1]) < 1:
        sys.exit(__doc__)
    passes = int(sys.argv[1])
    with open(sys.argv[2], encoding="utf-8", errors="surrogateescape") as listing:
        paths = [line.rstrip("\n") for line in listing if line.strip()]
    one_pass(paths)  # warm-up
    for _ in range(passes):
        start = time.perf_counter()
        with_version = one_pass(paths)
        print("%.9f %d %d" % (time.perf_counter() - start, len(paths), with_version), flush=True)


if __name__ == "__main__":
    main()
