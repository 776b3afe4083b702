"""The real resdiff on pairs of small series made here: the rule at its boundary, the structure,
files on one side only, values not finite, units, trouble, and a follow that stops at the first
difference; its JSON read back against its report, its JUnit XML by Python's parser, its VTK
output by meshio.

usage: python3 resdiff_test.py RESDIFF
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

import meshio

RESDIFF = None
# Two triangles over four nodes; coordinates chosen so that a tolerance of 0.25 is exact.
NODES = [(0.0, 0.0), (4.0, 0.0), (4.0, 4.0), (0.0, 4.0)]
ELEMENTS = [(1, 2, 3), (1, 3, 4)]


def text(nodes=None, elements=None):
    nodes, elements = nodes or NODES, elements or ELEMENTS
    lines = ["%d %d" % (len(nodes), len(elements))]
    lines += ["%d %d %d %d" % (k + 1, *e) for k, e in enumerate(elements)]
    lines += ["%d %s %s" % (k + 1, repr(x), repr(y)) for k, (x, y) in enumerate(nodes)]
    return "\n".join(lines) + "\n"


def write(folder, files):
    os.makedirs(folder, exist_ok=True)
    for n, t in files.items():
        with open(os.path.join(folder, "res0%03d.inp" % n), "w") as f:
            f.write(t)


def moved(node, x, y):
    nodes = list(NODES)
    nodes[node] = (x, y)
    return text(nodes)


def run(cwd, *args):
    return subprocess.run([RESDIFF, *args], cwd=cwd, capture_output=True, text=True, timeout=60)


class Resdiff(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        write(os.path.join(self.dir, "ref"), {0: text(), 1: text(), 2: text()})

    def tearDown(self):
        self.tmp.cleanup()

    def test_pairs(self):
        scaled = lambda k, d: text([(x * k + d, y * k) for x, y in NODES])
        cases = [
            # what, the candidate's files, options, status, lines the report holds
            ("identical", {0: text(), 1: text(), 2: text()}, [], 0, ["same"]),
            ("moved by the tolerance exactly", {0: text(), 1: moved(2, 4.25, 4.0), 2: text()},
             ["--atol", "0.25"], 0, ["same"]),
            ("moved just past it", {0: text(), 1: moved(2, 4.5, 4.0), 2: text()},
             ["--atol", "0.25"], 1,
             ["different", "first difference: res0001.inp, node 3 (4, 4) in the reference, "
              "(4.5, 4) in the candidate: |d| 0.5, 0.125 of its shortest edge",
              "smallest atol that passes: 0.5 mesh units"]),
            ("relative tolerance", {0: text(), 1: moved(2, 4.5, 4.0), 2: text()},
             ["--atol", "0", "--rtol", "0.125"], 0, ["same"]),
            ("corners rotated", {0: text(), 1: text(elements=[(2, 3, 1), (4, 1, 3)]), 2: text()},
             [], 0, ["same"]),
            ("corners reversed", {0: text(), 1: text(elements=[(1, 3, 2), (1, 3, 4)]), 2: text()},
             [], 1, ["first difference: res0001.inp, 1 element with the corners in reversed "
                     "order, turned over (first: element 1)"]),
            ("counts", {0: text(), 1: text(elements=[(1, 2, 3)]), 2: text()}, [], 1,
             ["first difference: res0001.inp, 4 nodes and 1 elements, against 4 and 2 in the "
              "reference"]),
            ("a file lacking on each side and the tail", {0: text(), 3: text()}, [], 1,
             ["candidate lacks 1-2", "reference lacks 3"]),
            ("the tail", {0: text(), 1: text()}, [], 1, ["candidate lacks 2 after its last file"]),
            ("NaN on one side", {0: text(), 1: moved(1, float("nan"), 0.0), 2: text()}, [], 1,
             ["first difference: res0001.inp, 1 value not finite (first: node 2)"]),
            ("a broken file", {0: text(), 1: "4 2\n1 1 2 9\n", 2: text()}, [], 2, []),
        ]
        for what, files, options, status, lines in cases:
            with self.subTest(what):
                cand = os.path.join(self.dir, "cand")
                shutil.rmtree(cand, ignore_errors=True)
                write(cand, files)
                r = run(self.dir, "--last", "3", *options, "ref", "cand")
                self.assertEqual(r.returncode, status, r.stdout + r.stderr)
                if status < 2:
                    self.assertEqual(r.stdout.splitlines()[0], lines[0] if lines[0] in (
                        "same", "different") else ("same", "different")[status])
                    self.assertLessEqual(len(r.stdout.splitlines()), 12, r.stdout)
                for line in lines:
                    self.assertTrue(any(l.startswith(line) for l in r.stdout.splitlines()),
                                    "%r not in:\n%s" % (line, r.stdout))
        # NaN on both sides: equal only when asked.
        write(os.path.join(self.dir, "nan1"), {0: moved(1, float("nan"), 0.0)})
        write(os.path.join(self.dir, "nan2"), {0: moved(1, float("nan"), 0.0)})
        self.assertEqual(run(self.dir, "--last", "0", "nan1", "nan2").returncode, 1)
        self.assertEqual(run(self.dir, "--last", "0", "--nan-equal", "nan1", "nan2").returncode, 0)
        # The same folder twice is the same.
        self.assertEqual(run(self.dir, "ref", "ref").returncode, 0)

    def test_the_default_tolerance_means_the_same_in_any_units(self):
        for k in (1.0, 1000.0):  # metres and millimetres
            for rel, status in ((1e-12, 0), (1e-8, 1)):
                nodes = [(x * k, y * k) for x, y in NODES]
                shifted = [(x + rel * 4 * k, y) for x, y in nodes]
                write(os.path.join(self.dir, "u-ref"), {0: text(nodes)})
                write(os.path.join(self.dir, "u-cand"), {0: text(shifted)})
                r = run(self.dir, "--last", "0", "u-ref", "u-cand")
                self.assertEqual(r.returncode, status, "x%g, %g: %s" % (k, rel, r.stdout))

    def test_json_junit_and_vtk_read_back(self):
        write(os.path.join(self.dir, "cand"), {0: text(), 1: moved(2, 4.5, 4.0)})
        r = run(self.dir, "--json", "d.json", "--junit", "d.xml", "ref", "cand")
        self.assertEqual(r.returncode, 1, r.stderr)
        with open(os.path.join(self.dir, "d.json")) as f:
            doc = json.load(f)
        self.assertEqual(doc["verdict"], r.stdout.splitlines()[0])
        self.assertEqual(doc["candidate_not_written"], [2])
        self.assertEqual([(x["name"], x["verdict"], x["nodes_differ"]) for x in doc["files"]],
                         [("res0000.inp", "same", 0), ("res0001.inp", "different", 1)])
        self.assertEqual(doc["files"][1]["largest"]["candidate"], [4.5, 4.0])
        self.assertEqual(doc["smallest_passing_atol"], 0.5)
        suite = ET.parse(os.path.join(self.dir, "d.xml")).getroot().find("testsuite")
        self.assertEqual((suite.get("tests"), suite.get("failures")), ("3", "2"))
        failed = [c.get("name") for c in suite.findall("testcase") if c.find("failure") is not None]
        self.assertEqual(failed, ["res0001.inp", "res0002.inp"])
        # The difference as point data, on a grid of 5 x 5 nodes.
        grid = [(float(i % 5), float(i // 5)) for i in range(25)]
        cells = [(k, k + 1, k + 6) for k in range(1, 20) if k % 5]
        shifted = list(grid)
        shifted[7] = (2.0, 1.25)
        write(os.path.join(self.dir, "g-ref"), {0: text(grid, cells)})
        write(os.path.join(self.dir, "g-cand"), {0: text(shifted, cells)})
        r = run(self.dir, "--last", "0", "--vtk", "d.pvd", "g-ref", "g-cand")
        self.assertEqual(r.returncode, 1, r.stderr)
        pvd = ET.parse(os.path.join(self.dir, "d.pvd")).getroot()
        files = [d.get("file") for d in pvd.findall("./Collection/DataSet")]
        m = meshio.read(os.path.join(self.dir, files[0]))
        self.assertEqual(m.point_data["difference"][7].tolist(), [0.0, 0.25, 0.0])
        self.assertEqual(m.point_data["difference_length"].tolist(),
                         [0.25 if i == 7 else 0.0 for i in range(25)])

    def test_a_follow_stops_at_the_first_difference(self):
        cand = os.path.join(self.dir, "cand")
        write(cand, {0: text()})
        p = subprocess.Popen([RESDIFF, "--follow", "--stop-at-first", "ref", "cand"],
                             cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True)
        try:
            write(cand, {1: moved(0, 1.0, 0.0)})
            out, err = p.communicate(timeout=30)
        finally:
            p.kill()
        self.assertEqual(p.returncode, 1, out + err)
        self.assertIn("first difference: res0001.inp, node 1", out)
        self.assertEqual(out.splitlines()[0], "different")


if __name__ == "__main__":
    RESDIFF = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
