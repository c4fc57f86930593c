"""The benchmark driver's own logic (bench.py) on made-up programs and folders."""

import os
import stat
import tempfile
import unittest
from unittest import mock

import bench


class Pairs(unittest.TestCase):
    def test_sides_alternate_and_warm_up_first(self):
        seen = []
        sides = {name: (lambda name: lambda i: seen.append((name, i)))(name) for name in "abc"}
        bench.pairs(3, sides, "a b c", "b a c")
        self.assertEqual(seen, [("a", -2), ("b", -2), ("c", -2), ("b", -1), ("a", -1), ("c", -1),
                                ("a", 0), ("b", 0), ("c", 0), ("b", 1), ("a", 1), ("c", 1),
                                ("a", 2), ("b", 2), ("c", 2)])


class Timed(unittest.TestCase):
    """timed() with a stand-in for orv_bench_run that prints ROW."""

    def run_timed(self, row, i):
        with tempfile.TemporaryDirectory() as work:
            program = os.path.join(work, "run")
            with open(program, "w") as out:
                out.write("#!/bin/sh\necho '%s'\n" % row)
            os.chmod(program, stat.S_IRWXU)
            with mock.patch.object(bench, "RUN", program), mock.patch.object(bench, "ROWS", work):
                bench.timed("side", i, "--", "/bin/true")
                rows = os.path.join(work, "side.txt")
                return open(rows).read() if os.path.exists(rows) else None

    def test_rows(self):
        for row, i, expected in [("100 2 3 400 0", 0, "100 2 3 400 0\n"),  # counted
                                 ("100 2 3 400 0", -1, None)]:              # a warm-up
            self.assertEqual(self.run_timed(row, i), expected, (row, i))

    def test_a_failed_run_fails_the_benchmark(self):
        with self.assertRaisesRegex(bench.Failed, "exit 67"):
            self.run_timed("100 2 3 400 67", 0)


class Folders(unittest.TestCase):
    def make(self, top, files):
        for path, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(top, path)), exist_ok=True)
            with open(os.path.join(top, path), "w") as out:
                out.write(text)
            os.utime(os.path.join(top, path), ns=(10**18, 10**18))

    def test_trees_differ_by_name_content_size_or_time(self):
        base = {"a.dll": "x", "de/b.dll": "yy"}
        for what, change in [("name", lambda top: os.rename(top + "/a.dll", top + "/c.dll")),
                             ("content", lambda top: self.make(top, {"a.dll": "z"})),
                             ("size", lambda top: self.make(top, {"de/b.dll": "yyy"})),
                             ("time", lambda top: os.utime(top + "/a.dll", ns=(10**18, 10**18 + 1))),
                             ("extra file", lambda top: self.make(top, {"de/c.dll": ""}))]:
            with tempfile.TemporaryDirectory() as one, tempfile.TemporaryDirectory() as other:
                self.make(one, base)
                self.make(other, base)
                self.assertEqual(bench.tree_of(one), bench.tree_of(other))
                change(other)
                self.assertNotEqual(bench.tree_of(one), bench.tree_of(other), what)

    def test_payload_bytes_leave_out_dot_files(self):
        with tempfile.TemporaryDirectory() as top:
            self.make(top, {"a.dll": "abc", "de/b.dll": "de", ".table": "not payload"})
            self.assertEqual(bench.payload_bytes(top), 5)


if __name__ == "__main__":
    unittest.main()
