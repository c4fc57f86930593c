"""The benchmark's statistics and report (report.py) on rows made up here."""

import math
import os
import tempfile
import unittest

import report


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write(text)


def timed_rows(walls_ms, cpu_ms=1.0, peak=2000):
    return "".join("%d %d 0 %d 0\n" % (w * 1e6, cpu_ms * 1e3, peak) for w in walls_ms)


class Statistics(unittest.TestCase):
    def test_median(self):
        for values, expected in [([3, 1, 2], 2), ([4, 1, 3, 2], 2.5), ([7], 7)]:
            self.assertEqual(report.median(values), expected, values)
        self.assertTrue(math.isnan(report.median([])))

    def test_ratio_pairs_rows_in_order_and_skips_zero_denominators(self):
        with tempfile.TemporaryDirectory() as work:
            write(os.path.join(work, "rows", "a.txt"), timed_rows([10, 30, 50, 8]))
            write(os.path.join(work, "rows", "b.txt"), timed_rows([5, 10, 10, 0]))
            # Pairs 2, 3, 5 (the last has no denominator); sorted sides would give 1, 3, 5.
            self.assertEqual(report.Rows(work).paired("a", "b", "wall"), 3)


class Report(unittest.TestCase):
    def make(self, work, patch_ms, peak_10x):
        rows = {"patch": timed_rows([patch_ms] * 3), "floor": timed_rows([10] * 3),
                "coreutils": timed_rows([100] * 3), "not-needed": timed_rows([4] * 3),
                "true": timed_rows([2] * 3), "patch-10x": timed_rows([30] * 3, peak=peak_10x),
                "floor-10x": timed_rows([60] * 3), "pe-native": "0.5 100 40\n",
                "pe-pefile": "10 100 40\n"}
        for name, text in rows.items():
            write(os.path.join(work, "rows", name + ".txt"), text)
        facts = {"started": "now", "runs": 3, "warmup": 2, "machine": "m", "load_start": "0",
                 "load_end": "0", "ir_patch": 300, "ir_floor": 100, "ir_not_needed": 40,
                 "ir_true": 10, "payload_bytes": 1048576, "payload10x_bytes": 10485760,
                 "pe_files": 100, "exe_bytes": 1300000, "exe_payload_bytes": 1048576}
        write(os.path.join(work, "facts.txt"), "".join("%s %s\n" % kv for kv in facts.items()))

    def lines(self, patch_ms, peak_10x):
        with tempfile.TemporaryDirectory() as work:
            self.make(work, patch_ms, peak_10x)
            said = []
            report.report(work, said.append)
            return said

    def test_goals_are_judged(self):
        for patch_ms, peak_10x, expected in [
            (11, 2000, "full patch/floor 1.100 (at most 1.2: met), not needed/true 2.000 (at most 3: "
             "met), memory growth 0 KiB (under 1024: met), exe beyond payload 251424 bytes "
             "(at most 204800: NOT met)"),
            (13, 3100, "full patch/floor 1.300 (at most 1.2: NOT met), not needed/true 2.000 (at most "
             "3: met), memory growth 1100 KiB (under 1024: NOT met)"),
        ]:
            self.assertIn(expected, self.lines(patch_ms, peak_10x)[-1])

    def test_figures(self):
        said = "\n".join(self.lines(11, 2000))
        for expected in ["patch      wall 11.00 ms (11.00 to 11.00)", "native reader 200/s (40 with a version)",
                         "native/pefile 20.0", "full patch 300, floor 100: 3.000",
                         "2.11 ms per MiB of payload over 8.89 ms"]:
            self.assertIn(expected, said)
        self.assertNotIn("Under Wine", said)


if __name__ == "__main__":
    unittest.main()
