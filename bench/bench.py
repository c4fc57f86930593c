"""The performance benchmark's driver (scripts/bench.sh runs it; not a test).

usage: bench.py [--runs N] [--no-wine]

Measures, in one run on one machine, each figure beside its yardstick (see
docs/performance.md): a full native patch against the floor
(bench/floor.cpp) and coreutils, a run with nothing to do against /bin/true,
callgrind's instruction counts for both, peak memory with a payload ten
times larger, the PE reader against python3-pefile, the exe's size beyond
its payload, and both runs of the Windows exe under Wine against a Windows
program that does nothing.

N defaults to 21. Every timed run is one process started by
bench/run_once.cpp; the sides of a ratio run in turn (A B, B A, ...). The
rows of every run go to build/bench/rows/, the report (bench/report.py) to
build/bench/results.txt. The Wine part waits (up to ORV_BENCH_WINE_WAIT
seconds, default 1800) until no test's Wine program runs, and tests wait for
it in turn (the lock wine-run.sh holds while it runs a program).
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NATIVE = os.path.join(ROOT, "build", "native")
WORK = os.path.join(ROOT, "build", "bench")
ROWS = os.path.join(WORK, "rows")
RUN = os.path.join(NATIVE, "bench", "orv_bench_run")
BIG_BUILD = os.path.join(ROOT, "build", "bench-payload10x")
BIG_PAYLOAD = os.path.join(WORK, "payload10x")  # where the bench-payload10x preset looks
TABLE = os.path.join(WORK, "table.sh")
WARMUP = 2


def log(text):
    print("[%s] %s" % (time.strftime("%H:%M:%S"), text), file=sys.stderr, flush=True)


def sh(*command, **options):
    """Runs COMMAND, failing the benchmark when it fails; its output."""
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, text=True, **options).stdout


def fact(name, value):
    with open(os.path.join(WORK, "facts.txt"), "a") as facts:
        facts.write("%s %s\n" % (name, value))


class Failed(Exception):
    pass


def timed(rows, i, *options):
    """One run through orv_bench_run with OPTIONS (its own, then -- and the
    program); its row goes to ROWS/rows.txt unless it is a warm-up (I < 0)."""
    row = sh(RUN, *options).strip()
    if row.split()[-1] != "0":
        raise Failed("timed run failed (exit %s): %s" % (row.split()[-1], " ".join(options)))
    if i >= 0:
        with open(os.path.join(ROWS, rows + ".txt"), "a") as out:
            out.write(row + "\n")


def pairs(runs, sides, even, odd):
    """For each I from -WARMUP, runs the sides named in EVEN when I is even,
    in ODD when it is odd, in that order."""
    for i in range(-WARMUP, runs):
        for name in (even if i % 2 == 0 else odd).split():
            sides[name](i)


def payload_table():
    """The payload's relative paths and sizes and its version, from
    install-maker's table (a shell file)."""
    out = sh("bash", "-c", '. "$1"; echo "$ORV_PAYLOAD_VERSION"; for i in "${!ORV_PAYLOAD_PATHS[@]}"; do '
             'printf "%s\\t%s\\n" "${ORV_PAYLOAD_SIZES[i]}" "${ORV_PAYLOAD_PATHS[i]}"; done', "table", TABLE)
    version, *files = out.splitlines()
    return version, [(line.split("\t", 1)[1], int(line.split("\t", 1)[0])) for line in files]


def build(install_maker, pegen):
    """The native and win32 presets, and bench-payload10x: the program and
    the floor with the same payload files at ten times the table's sizes."""
    log("building")
    quiet = {"stdout": subprocess.DEVNULL}
    subprocess.run(["cmake", "--preset", "native"], check=True, **quiet)
    subprocess.run(["cmake", "--build", "--preset", "native", "--target", "WinOrvantoPatch1", "pegen",
                    "fileversion", "install-maker", "orv_bench_run", "orv_bench_floor", "orv_bench_pe_rate"],
                   check=True, **quiet)
    with open(TABLE, "w") as table:
        subprocess.run([install_maker, "table"], check=True, stdout=table)
    version, files = payload_table()
    stamp = os.path.join(BIG_PAYLOAD, ".table")
    if not (os.path.exists(stamp) and open(stamp, "rb").read() == open(TABLE, "rb").read()):
        shutil.rmtree(BIG_PAYLOAD, ignore_errors=True)
        for path, size in files:
            file = os.path.join(BIG_PAYLOAD, path)
            os.makedirs(os.path.dirname(file), exist_ok=True)
            subprocess.run([pegen, file, "--version", version, "--size", str(size * 10)]
                           + (["--exe"] if file.endswith(".exe") else []), check=True)
        shutil.copy(TABLE, stamp)
    for preset, targets in (("bench-payload10x", []), ("win32", ["WinOrvantoPatch1", "orv_bench_trivial",
                                                                  "orv_bench_box", "box_watcher"])):
        subprocess.run(["cmake", "--preset", preset], check=True, **quiet)
        subprocess.run(["cmake", "--build", "--preset", preset] + (["--target"] + targets if targets else []),
                       check=True, **quiet)
    return version


def tree_of(folder):
    """Names, sizes, times and contents of everything but the folders below
    FOLDER."""
    entries = []
    for parent, folders, files in os.walk(folder):
        for name in files + [name for name in folders if os.path.islink(os.path.join(parent, name))]:
            path = os.path.join(parent, name)
            status = os.lstat(path)
            entry = [os.path.relpath(path, folder), status.st_mode >> 12, status.st_size, status.st_mtime_ns]
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as content:
                    entry.append(hashlib.sha256(content.read()).hexdigest())
            entries.append(entry)
    return sorted(entries)


def instructions(*command, env=()):
    """Callgrind: instructions of one run of COMMAND with exactly the
    environment ENV (NAME=VALUE, as the timed runs have)."""
    out = os.path.join(WORK, "run", "callgrind.out")
    if os.path.exists(out):
        os.remove(out)
    subprocess.run(["env", "-i", *env, shutil.which("valgrind"), "--tool=callgrind",
                    "--callgrind-out-file=" + out, *command],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out) as lines:
        for line in lines:
            if line.startswith(("summary:", "totals:")):
                return line.split()[1]
    raise Failed("no instruction count from callgrind for %s" % " ".join(command))


def payload_bytes(folder):
    return sum(os.path.getsize(os.path.join(parent, name))
               for parent, _, files in os.walk(folder) for name in files if not name.startswith("."))


def has_line(file, text):
    with open(file) as lines:
        return any(line.rstrip("\n") == text for line in lines)


class Native:
    """The native sides: demonstration installations from install-maker, a
    fresh copy of the template for every run (not timed)."""

    def __init__(self, install_maker, version):
        self.run = os.path.join(WORK, "run")
        self.template = os.path.join(WORK, "template")
        self.current = os.path.join(WORK, "current")
        for folder in (self.template, self.current, os.path.join(self.run, "patch")):
            shutil.rmtree(folder, ignore_errors=True)
        # The template is made where the patch runs, so that its registry
        # entry points there.
        sh(install_maker, "posix", os.path.join(self.run, "patch"))
        os.rename(os.path.join(self.run, "patch"), self.template)
        sh(install_maker, "posix", self.current, "--addin-version", version)

    def fresh(self, side):
        shutil.rmtree(os.path.join(self.run, side), ignore_errors=True)
        subprocess.run(["cp", "-a", self.template, os.path.join(self.run, side)], check=True)

    def host(self, side):
        return os.path.join(self.run, side, "Program Files", "Orvanto")

    def addin(self, side):
        return os.path.join(self.host(side), "Pellmark")

    def patch(self, rows, i, build, *args):
        self.fresh("patch")
        out = os.path.join(self.run, "patch.out")
        timed(rows, i, "--env", "ORVANTO_HKLM=%s/patch/hklm" % self.run, "--env",
              "TMPDIR=%s/patch/tmp" % self.run, "--stdout", out, "--", os.path.join(build, "WinOrvantoPatch1"),
              *args)
        if not has_line(out, "[information] Install Succeeded."):
            raise Failed("the patch did not succeed:\n" + open(out).read())

    def floor(self, rows, i, build):
        self.fresh("floor")
        timed(rows, i, "--", os.path.join(build, "bench", "orv_bench_floor"), self.addin("floor"),
              os.path.join(self.run, "floor", "tmp"))

    def coreutils(self, i):
        self.fresh("coreutils")
        timed("coreutils", i, "--env", "PATH=/usr/bin:/bin", "--", "/bin/bash",
              os.path.join(ROOT, "bench", "floor-coreutils.sh"), self.addin("coreutils"),
              os.path.join(self.run, "coreutils", "tmp"), os.path.join(NATIVE, "payload"), TABLE)

    def not_needed(self, rows, i, out, *args):
        """A run against the current installation; the file of its standard
        output."""
        out = os.path.join(self.run, out)
        timed(rows, i, "--env", "ORVANTO_HKLM=%s/hklm" % self.current, "--env", "TMPDIR=%s/tmp" % self.current,
              "--stdout", out, "--", os.path.join(NATIVE, "WinOrvantoPatch1"), *args)
        return out

    def current_run(self, i):
        if not has_line(self.not_needed("not-needed", i, "current.out"),
                        "[information] There is no need to apply this patch."):
            raise Failed("the run with nothing to do did not say so")

    def quiet_run(self, i):
        if os.path.getsize(self.not_needed("not-needed-quiet", i, "quiet.out", "/quiet")):
            raise Failed("the /quiet run printed something")

    def sides(self):
        return {
            "patch": lambda i: self.patch("patch", i, NATIVE),
            # The cost of the log: the same patch writing one (outside the installation).
            "patchlog": lambda i: self.patch("patch-log", i, NATIVE, "/log", os.path.join(self.run, "patch.log")),
            "floor": lambda i: self.floor("floor", i, NATIVE),
            "coreutils": self.coreutils,
            "current": self.current_run,
            "quiet": self.quiet_run,
            "true": lambda i: timed("true", i, "--", "/bin/true"),
            "patch10x": lambda i: self.patch("patch-10x", i, BIG_BUILD),
            "floor10x": lambda i: self.floor("floor-10x", i, BIG_BUILD),
        }


def measure_native(runs, native):
    sides = native.sides()
    # The three do the same work: the same files, sizes, times and bytes.
    for side in ("patch", "floor", "coreutils"):
        sides[side](-1)
    trees = [tree_of(native.host(side)) for side in ("patch", "floor", "coreutils")]
    if trees[0] != trees[1] or trees[0] != trees[2]:
        raise Failed("the patch, the floor and the coreutils script left different add-in folders")

    fact("started", time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()))
    fact("runs", runs)
    fact("warmup", WARMUP)
    model = next(line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if "model name" in line)
    memory = next(int(line.split()[1]) for line in open("/proc/meminfo") if line.startswith("MemTotal"))
    uname = os.uname()
    filesystem = sh("df", "-T", WORK).splitlines()[1].split()[1]
    fact("machine", "%s, %s cores, %.0f GiB, %s %s, work folder on %s"
         % (model, len(os.sched_getaffinity(0)), memory / 1048576, uname.sysname, uname.release, filesystem))
    fact("load_start", load())

    log("1. full patch, floor and coreutils (%d runs each)" % runs)
    pairs(runs, sides, "patch floor patchlog coreutils", "floor patch patchlog coreutils")
    log("2. not needed and /bin/true (%d runs each)" % runs)
    pairs(runs, sides, "current true quiet", "true current quiet")
    log("4. the payload ten times larger (%d runs each)" % runs)
    pairs(runs, sides, "patch10x floor10x", "floor10x patch10x")

    log("callgrind: instruction counts")
    native.fresh("patch")
    fact("ir_patch", instructions(os.path.join(NATIVE, "WinOrvantoPatch1"), env=(
        "ORVANTO_HKLM=%s/patch/hklm" % native.run, "TMPDIR=%s/patch/tmp" % native.run)))
    if not any(name == "Pellmark35.exe" and os.path.getsize(os.path.join(parent, name)) > 800 * 1024
               for parent, _, files in os.walk(native.addin("patch")) for name in files):
        raise Failed("the patch under callgrind did not succeed")
    native.fresh("floor")
    fact("ir_floor", instructions(os.path.join(NATIVE, "bench", "orv_bench_floor"), native.addin("floor"),
                                  os.path.join(native.run, "floor", "tmp")))
    fact("ir_not_needed", instructions(os.path.join(NATIVE, "WinOrvantoPatch1"), env=(
        "ORVANTO_HKLM=%s/hklm" % native.current, "TMPDIR=%s/tmp" % native.current)))
    fact("ir_true", instructions("/bin/true"))

    fact("payload_bytes", payload_bytes(os.path.join(NATIVE, "payload")))
    fact("payload10x_bytes", payload_bytes(BIG_PAYLOAD))
    fact("exe_bytes", os.path.getsize(os.path.join(ROOT, "build", "win32", "WinOrvantoPatch1.exe")))
    fact("exe_payload_bytes", payload_bytes(os.path.join(ROOT, "build", "win32", "payload")))

    log("5. file versions per second (%d passes each)" % runs)
    pe_list = os.path.join(native.run, "pe-files.txt")
    with open(pe_list, "w") as listing:
        found = []
        for top in (b"/usr/lib/i386-linux-gnu/wine", b"/usr/lib/x86_64-linux-gnu/wine"):
            for parent, _, files in os.walk(top):
                found += [os.path.join(parent, name) for name in files
                          if not os.path.islink(os.path.join(parent, name))]
        for file in sorted(found):
            with open(file, "rb") as content:
                if content.read(2) == b"MZ":
                    listing.write(os.fsdecode(file) + "\n")
    fact("pe_files", sum(1 for _ in open(pe_list)))
    with open(os.path.join(ROWS, "pe-native.txt"), "w") as out:
        subprocess.run([os.path.join(NATIVE, "bench", "orv_bench_pe_rate"), str(runs), pe_list], check=True,
                       stdout=out)
    with open(os.path.join(ROWS, "pe-pefile.txt"), "w") as out:
        subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "bench", "pe_rate.py"), str(runs), pe_list],
                       check=True, stdout=out)


def load():
    return " ".join(open("/proc/loadavg").read().split()[:3])


def main():
    parser = argparse.ArgumentParser(usage="bench.sh [--runs N] [--no-wine]")
    parser.add_argument("--runs", default="21")
    parser.add_argument("--no-wine", dest="wine", action="store_false")
    options = parser.parse_args()
    if not options.runs.isdigit() or int(options.runs) < 1:
        parser.error("--runs takes a positive number")
    runs = int(options.runs)
    if runs < 20:
        print("note: %d runs; the figures are meant as medians of at least 20" % runs, file=sys.stderr)

    install_maker = os.path.join(NATIVE, "tools", "install-maker")
    os.chdir(ROOT)
    shutil.rmtree(os.path.join(WORK, "run"), ignore_errors=True)
    shutil.rmtree(ROWS, ignore_errors=True)
    os.makedirs(os.path.join(WORK, "run"))
    os.makedirs(ROWS)
    open(os.path.join(WORK, "facts.txt"), "w").close()
    try:
        version = build(install_maker, os.path.join(NATIVE, "tools", "pegen"))
        native = Native(install_maker, version)
        measure_native(runs, native)
        if options.wine:
            sys.dont_write_bytecode = True  # no __pycache__ in the source tree
            import wine  # the Wine part, only where it is asked for

            wine.measure(runs, native.template, version)
    except (Failed, subprocess.CalledProcessError) as failure:
        sys.exit(str(failure))
    fact("load_end", load())
    subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "bench", "report.py"), WORK], check=True)
    log("results in %s" % os.path.join(WORK, "results.txt"))


if __name__ == "__main__":
    sys.modules.setdefault("bench", sys.modules["__main__"])  # wine.py's "from bench import"
    main()
