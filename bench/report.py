"""The benchmark's statistics and report, from what scripts/bench.sh measured.

usage: report.py WORK

WORK/rows/NAME.txt holds one row per timed run, "<wall ns> <user us>
<system us> <peak KiB> <exit code>" (orv_bench_run), or one per pass of the
PE readers, "<seconds> <files> <files with a version>"; WORK/facts.txt holds
"NAME VALUE" lines (the machine, instruction counts, sizes). Figures are
medians; a ratio is the median of the ratios of runs paired in turn (row i of
A with row i of B). Prints the report and writes it to WORK/results.txt.
"""

import os
import sys


def median(values):
    values = sorted(values)
    if not values:
        return float("nan")
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


class Rows:
    def __init__(self, work):
        self.folder = os.path.join(work, "rows")

    def has(self, name):
        return os.path.exists(os.path.join(self.folder, name + ".txt"))

    def read(self, name):
        with open(os.path.join(self.folder, name + ".txt")) as rows:
            return [[float(field) for field in line.split()] for line in rows if line.strip()]

    def wall(self, name):  # ms per run
        return [row[0] / 1e6 for row in self.read(name)]

    def cpu(self, name):  # ms per run
        return [(row[1] + row[2]) / 1e3 for row in self.read(name)]

    def peak(self, name):  # KiB per run
        return [row[3] for row in self.read(name)]

    def paired(self, a, b, field):
        pairs = zip(getattr(self, field)(a), getattr(self, field)(b))
        return median([x / y for x, y in pairs if y > 0])

    def rate(self, name):  # files per second of the median pass
        return median([row[1] / row[0] for row in self.read(name)])


def number(value):
    return "%d" % value if value == int(value) else "%g" % value


def spread(values, digits):
    return "(%.*f to %.*f)" % (digits, min(values), digits, max(values))


def met(ok):
    return "met" if ok else "NOT met"


def report(work, say):
    rows = Rows(work)
    facts = {}
    with open(os.path.join(work, "facts.txt")) as lines:
        for line in lines:
            name, _, value = line.rstrip("\n").partition(" ")
            facts[name] = value
    fact = lambda name: int(facts[name])  # noqa: E731

    def timing(label, name, peak=True):
        line = "   %-10s wall %.2f ms %s   cpu %.2f ms" % (
            label, median(rows.wall(name)), spread(rows.wall(name), 2), median(rows.cpu(name)))
        return line + ("   peak %s KiB" % number(median(rows.peak(name))) if peak else "")

    say("benchmark %s, %s runs each (%s warm-up runs not counted)"
        % (facts["started"], facts["runs"], facts["warmup"]))
    say("machine: " + facts["machine"])
    say("load average at the start: " + facts["load_start"])
    say("")

    ratio_full = rows.paired("patch", "floor", "wall")
    say("1. Full successful patch (native) against the floor        goal: at most 1.2")
    say(timing("patch", "patch"))
    say(timing("floor", "floor"))
    say(timing("coreutils", "coreutils", peak=False) + "   (a shell script: context only)")
    say("   patch/floor      wall %.3f   cpu %.3f" % (ratio_full, rows.paired("patch", "floor", "cpu")))
    say("   coreutils/floor  wall %.3f   cpu %.3f" % (
        rows.paired("coreutils", "floor", "wall"), rows.paired("coreutils", "floor", "cpu")))
    if rows.has("patch-log"):
        say(timing("with /log", "patch-log") + "   (the same patch writing its log)")
        say("   with log/floor   wall %.3f   cpu %.3f" % (
            rows.paired("patch-log", "floor", "wall"), rows.paired("patch-log", "floor", "cpu")))
    say("")

    ratio_nn = rows.paired("not-needed", "true", "wall")
    say("2. Not needed (native) against starting /bin/true           goal: at most 3")
    say(timing("not needed", "not-needed"))
    say(timing("/bin/true", "true"))
    say("   not needed/true  wall %.3f   cpu %.3f" % (ratio_nn, rows.paired("not-needed", "true", "cpu")))
    if rows.has("not-needed-quiet"):
        say(timing("/quiet", "not-needed-quiet") + "   (the same run, no notice)")
        say("   /quiet/true      wall %.3f   cpu %.3f" % (
            rows.paired("not-needed-quiet", "true", "wall"),
            rows.paired("not-needed-quiet", "true", "cpu")))
    say("")

    say("   callgrind, instructions executed (user space, whole process)")
    say("   full patch %d, floor %d: %.3f" % (
        fact("ir_patch"), fact("ir_floor"), fact("ir_patch") / fact("ir_floor")))
    say("   not needed %d, /bin/true %d: %.3f" % (
        fact("ir_not_needed"), fact("ir_true"), fact("ir_not_needed") / fact("ir_true")))
    say("")

    small, large = fact("payload_bytes"), fact("payload10x_bytes")
    peak_small, peak_large = median(rows.peak("patch")), median(rows.peak("patch-10x"))
    growth = peak_large - peak_small
    small_ms, large_ms = median(rows.wall("patch")), median(rows.wall("patch-10x"))
    per_mib = (large_ms - small_ms) / ((large - small) / 1048576)
    say("4. Peak memory and time, default payload and ten times larger   goal: under 1 MB growth")
    say("   payload %d bytes: peak %s KiB, wall %.2f ms" % (small, number(peak_small), small_ms))
    say("   payload %d bytes: peak %s KiB, wall %.2f ms" % (large, number(peak_large), large_ms))
    say("   peak growth %s KiB; time ten times larger / default: wall %.2f, cpu %.2f" % (
        number(growth), large_ms / small_ms, median(rows.cpu("patch-10x")) / median(rows.cpu("patch"))))
    say("   as a line through both: %.2f ms per MiB of payload over %.2f ms that does not depend on it"
        % (per_mib, small_ms - per_mib * small / 1048576))
    say("   floor with it: wall %.2f ms, peak %s KiB; patch/floor wall %.3f, cpu %.3f" % (
        median(rows.wall("floor-10x")), number(median(rows.peak("floor-10x"))),
        rows.paired("patch-10x", "floor-10x", "wall"), rows.paired("patch-10x", "floor-10x", "cpu")))
    say("")

    native, pefile = rows.rate("pe-native"), rows.rate("pe-pefile")
    say("5. File versions read per second over the PE files Wine installs (%s files)" % facts["pe_files"])
    say("   native reader %.0f/s (%d with a version)" % (native, rows.read("pe-native")[0][2]))
    say("   pefile        %.0f/s (%d with a version)" % (pefile, rows.read("pe-pefile")[0][2]))
    say("   native/pefile %.1f" % (native / pefile))
    say("")

    beyond = fact("exe_bytes") - fact("exe_payload_bytes")
    say("6. WinOrvantoPatch1.exe beyond its payload                      goal: at most 200 KB (204800 bytes)")
    say("   exe %d bytes, payload %d bytes: %d bytes beyond it" % (
        fact("exe_bytes"), fact("exe_payload_bytes"), beyond))
    say("")

    if rows.has("wine-patch"):
        trivial, box = median(rows.wall("wine-trivial")), median(rows.wall("wine-box"))

        # What a run costs beyond Wine's start-up: in ms and as a share of the run.
        def share(a, b):
            return "%.0f ms (%.0f%%)" % (a - b, 100 * (a - b) / a)

        def run(label, name, note):
            return "   %-13s wall %.0f ms %s   cpu %.0f ms   %s" % (
                label, median(rows.wall(name)), spread(rows.wall(name), 0), median(rows.cpu(name)), note)

        say("3. Under Wine (%s), against a Windows program that does nothing" % facts["wine_version"])
        say(run("trivial exe", "wine-trivial", "(Wine's own start-up)"))
        say(run("box only exe", "wine-box", "(start-up, common controls and one answered box)"))
        for label, name in (("full patch", "wine-patch"), ("not needed", "wine-not-needed")):
            wall = median(rows.wall(name))
            say(run(label, name, "/trivial %.2f" % rows.paired(name, "wine-trivial", "wall")))
            say("                 beyond Wine's start-up %s, beyond start-up and box %s"
                % (share(wall, trivial), share(wall, box)))
        say("   (the boxes are real windows on Wine's null display, answered by a watcher that")
        say("   looks every 25 ms)")
        if facts.get("qemu") == "1":
            say("   (this kernel runs no i386 programs: Wine's 32-bit side runs under qemu-i386)")
        say("")
    elif "wine_skipped" in facts:
        say("3. Under Wine: not measured, " + facts["wine_skipped"])
        say("")

    say("load average at the end: " + facts["load_end"])
    say("goals: full patch/floor %.3f (at most 1.2: %s), not needed/true %.3f (at most 3: %s), "
        "memory growth %s KiB (under 1024: %s), exe beyond payload %d bytes (at most 204800: %s)" % (
            ratio_full, met(ratio_full <= 1.2), ratio_nn, met(ratio_nn <= 3), number(growth),
            met(growth < 1024), beyond, met(beyond <= 204800)))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    work = sys.argv[1]
    with open(os.path.join(work, "results.txt"), "w") as results:
        def say(line):
            print(line)
            results.write(line + "\n")

        report(work, say)


if __name__ == "__main__":
    main()
