"""The benchmark's runs under Wine (bench.py's part 3).

Both runs of the patch, a Windows program that does nothing and one that
only shows a box, each started by orv_bench_run on Wine's loader with the
environment and the user every Wine call of the tests gets; the set-up and
the Wine settings are the e2e library's (tests/e2e/lib.sh), called through
bash.
"""

import fcntl
import os
import shutil
import subprocess
import time

from bench import ROOT, WARMUP, Failed, fact, log, pairs, sh, timed

# NAME=VALUE lines of the library's settings, after its set-up.
SETTINGS = ("ORV_WINE_ROOT", "ORV_WINE_PREFIX", "ORV_WINE_MARKER", "ORV_WINE_USER", "ORV_E2E_EXE",
            "ORV_E2E_WATCHER", "ORV_E2E_FILEVERSION", "ORV_E2E_LAUNCH_SECONDS", "ORV_E2E_BAK", "ORV_E2E_CPY")


def library(*command, prefix=""):
    """COMMAND (a function of tests/e2e/lib.sh, or a program) in a bash that
    has loaded the library and prepared the prefix; with PREFIX, the Wine
    calls go to that prefix instead of the tests' one."""
    return ["bash", "-c", 'ORV_REPO=$1 prefix=$2; shift 2; . "$ORV_REPO/tests/e2e/lib.sh"; '
            'orv_e2e_init >&2 || exit 1; ORV_WINE_PREFIX=${prefix:-$ORV_WINE_PREFIX}; "$@"',
            "bench", ROOT, prefix, *command]


def call(*command):
    return sh(*library(*command))


def kill_below(pid):
    """Ends the processes below PID and PID itself (never the Wine server:
    the tests' session may share it)."""
    children = subprocess.run(["pgrep", "-P", str(pid)], stdout=subprocess.PIPE, text=True).stdout.split()
    for child in children:
        kill_below(int(child))
    try:
        os.kill(pid, 9)
    except ProcessLookupError:
        pass


def count(file, ending):
    with open(file) as lines:
        return sum(1 for line in lines if line.rstrip("\n").endswith(ending))


def measure(runs, template, version):
    settings = dict(line.split("=", 1) for line in call(
        "eval", 'for v in %s; do printf "%%s=%%s\\n" "$v" "${!v}"; done' % " ".join(SETTINGS)).splitlines())
    wine_root = settings["ORV_WINE_ROOT"]
    wait = int(os.environ.get("ORV_BENCH_WINE_WAIT", "1800"))
    # Every test's program holds this lock shared while it runs (wine-run.sh).
    with open(os.path.join(wine_root, "run", "programs.lock"), "w") as lock:
        log("waiting until no other Wine program runs")
        deadline = time.monotonic() + wait
        while True:
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() >= deadline:
                    fact("wine_skipped", "other Wine tests kept running for %d s" % wait)
                    return
                time.sleep(1)
        log("3. under Wine (%d runs each)" % runs)
        work = os.path.join(wine_root, "bench")
        watcher = None
        try:
            watcher = measure_locked(runs, template, version, settings, work)
        finally:
            if watcher is not None and watcher.poll() is None:
                kill_below(watcher.pid)
            subprocess.run(library("orv_e2e_remove_work", work))
    fact("wine_version", sh("wine", "--version").strip())
    if os.path.exists("/proc/sys/fs/binfmt_misc/orv-i386-2"):
        fact("qemu", 1)


def measure_locked(runs, template, version, settings, work):
    """The runs, the lock held; the watcher's process."""
    # A private copy of the test prefix (the same settings: boxes are real
    # windows, answered by a watcher), so that the benchmark neither changes
    # the registry the tests rely on nor shares a desktop with their boxes.
    # Remade when the test prefix is.
    prefix = os.path.join(settings["ORV_WINE_ROOT"], "bench-prefix")
    copied = os.path.join(prefix, ".copied")
    if not os.path.exists(copied) or os.path.getmtime(settings["ORV_WINE_MARKER"]) > os.path.getmtime(copied):
        log("copying the Wine prefix for the benchmark")
        shutil.rmtree(prefix, ignore_errors=True)
        subprocess.run(["cp", "-a", settings["ORV_WINE_PREFIX"], prefix], check=True)
        open(copied, "w").close()

    def in_prefix(*command):
        return library(*command, prefix=prefix)

    shutil.rmtree(work, ignore_errors=True)
    programs, host = os.path.join(work, "programs"), os.path.join(work, "host", "Orvanto")
    os.makedirs(programs)
    os.makedirs(os.path.dirname(host))
    for program in (settings["ORV_E2E_EXE"], os.path.join(ROOT, "build/win32/bench/orv_bench_trivial.exe"),
                    os.path.join(ROOT, "build/win32/bench/orv_bench_box.exe"), settings["ORV_E2E_WATCHER"]):
        shutil.copy(program, programs)
    wine_template = os.path.join(work, "template")
    subprocess.run(["cp", "-a", os.path.join(template, "Program Files", "Orvanto"), wine_template], check=True)
    sh(*in_prefix("orv_e2e_give", work))
    # The session lives on by itself for ten minutes after its last program
    # (never stopped from here); setting the registry boots it, not timed.
    subprocess.run(in_prefix("orv_wine_env", "wineserver", "-p600"), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    sh(*in_prefix("orv_e2e_set_registry", host))

    # The timed runs: the Wine loader itself, with the environment and the
    # user every Wine call gets.
    loader = "/usr/lib/wine/wine" if os.access("/usr/lib/wine/wine", os.X_OK) else shutil.which("wine")
    run = ["--chdir", programs]
    if os.getuid() == 0:
        run += ["--user", settings["ORV_WINE_USER"]]
    for variable in sh(*in_prefix("orv_wine_env", "/usr/bin/env")).splitlines():
        run += ["--env", variable]

    # Every box in this private session is the benchmark's own.
    boxes = os.path.join(work, "boxes.log")
    open(boxes, "w").close()
    sh(*in_prefix("orv_e2e_give", boxes))
    winpath = "Z:" + boxes.replace("/", "\\")
    watcher = subprocess.Popen(
        in_prefix("orv_wine_env", loader, "box_watcher.exe", "--log", winpath, "--expect",
                  str(3 * (runs + WARMUP)), "--timeout", "3600", "--press", "ok"),
        cwd=programs, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + int(settings["ORV_E2E_LAUNCH_SECONDS"])
    while "ready\n" not in open(boxes).read():
        if watcher.poll() is not None or time.monotonic() > deadline:
            raise Failed("the box watcher did not start")
        time.sleep(1)

    def patch_side(i):
        shutil.rmtree(host, ignore_errors=True)
        subprocess.run(["cp", "-a", wine_template, host], check=True)
        sh(*in_prefix("orv_e2e_give", host))
        timed("wine-patch", i, *run, "--", loader, "WinOrvantoPatch1.exe")
        patched = sh(settings["ORV_E2E_FILEVERSION"], os.path.join(host, "Pellmark", "Pellmark.exe")).strip()
        if patched != version or any(os.path.lexists(os.path.join(host, settings[name]))
                                     for name in ("ORV_E2E_BAK", "ORV_E2E_CPY")):
            raise Failed("the patch under Wine did not replace the add-in folder")
        timed("wine-not-needed", i, *run, "--", loader, "WinOrvantoPatch1.exe")

    sides = {"wine": patch_side,
             "trivial": lambda i: timed("wine-trivial", i, *run, "--", loader, "orv_bench_trivial.exe"),
             "box": lambda i: timed("wine-box", i, *run, "--", loader, "orv_bench_box.exe")}
    pairs(runs, sides, "wine trivial box", "box trivial wine")
    try:
        watcher.wait(60)
    except subprocess.TimeoutExpired:
        pass
    succeeded = count(boxes, "Install Succeeded.")
    not_needed = count(boxes, "There is no need to apply this patch.")
    if succeeded != runs + WARMUP or not_needed != 2 * (runs + WARMUP):
        raise Failed("under Wine: %d success and %d not-needed boxes, expected %d and %d"
                     % (succeeded, not_needed, runs + WARMUP, 2 * (runs + WARMUP)))
    return watcher
