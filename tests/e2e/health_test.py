"""The series' health as a user meets it: rescheck on a folding series (its lines, its exit
status, its table read back by Python's CSV reader) and res2vtk's fields read back by meshio,
each value checked against one worked out here independently, in exact rational arithmetic.

usage: python3 health_test.py RESCHECK_EXE RES2VTK_EXE SAMPLE_SERIES_EXE
"""
import csv
import math
import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
from fractions import Fraction

import meshio
import numpy as np

RESCHECK = RES2VTK = SAMPLE = None


def vtu_of(pvd, n):
    """The .vtu file that the collection pvd names for result file n."""
    for d in ET.parse(pvd).getroot().findall("./Collection/DataSet"):
        if os.path.basename(d.get("file")).startswith("res0%03d-" % n):
            return os.path.join(os.path.dirname(pvd), d.get("file"))
    raise KeyError("%s names no file %d" % (pvd, n))


def write_series(where, files):
    """files: {index: (nodes [(x, y)], elements [(a, b, c)] 1-based)}"""
    for n, (nodes, elements) in files.items():
        with open(os.path.join(where, "res0%03d.inp" % n), "w") as f:
            f.write("%d %d\n" % (len(nodes), len(elements)))
            for k, e in enumerate(elements):
                f.write("%d %d %d %d\n" % (k + 1, *e))
            for k, (x, y) in enumerate(nodes):
                f.write("%d %r %r\n" % (k + 1, x, y))


def expected(files):
    """Area, quality, inverted and displacement of each file, by the rules of the health check:
    a run's reference is its first file or one whose mesh differs; in it an element is inverted
    against the majority, later against its own turn in the reference."""
    out, ref, expect = {}, None, None
    for n in sorted(files):
        nodes, elements = files[n]
        twice = [(Fraction(nodes[b - 1][0]) - Fraction(nodes[a - 1][0])) *
                 (Fraction(nodes[c - 1][1]) - Fraction(nodes[a - 1][1])) -
                 (Fraction(nodes[b - 1][1]) - Fraction(nodes[a - 1][1])) *
                 (Fraction(nodes[c - 1][0]) - Fraction(nodes[a - 1][0])) for a, b, c in elements]
        turns = [(t > 0) - (t < 0) for t in twice]
        new = ref is None or len(ref[0]) != len(nodes) or ref[1] != elements
        majority = -1 if sum(turns) < 0 else 1
        if new:
            ref = (nodes, elements)
            expect = [t if t else majority for t in turns]
            against = [majority] * len(turns)
        else:
            against = expect
        inverted = [t * a < 0 for t, a in zip(turns, against)]
        quality = []
        for (a, b, c), t, inv in zip(elements, twice, inverted):
            p = [nodes[a - 1], nodes[b - 1], nodes[c - 1]]
            edges = sum((p[i][0] - p[i - 1][0]) ** 2 + (p[i][1] - p[i - 1][1]) ** 2
                        for i in range(3))
            q = 4 * math.sqrt(3) * abs(float(t)) / 2 / edges if edges else 0.0
            quality.append(-q if inv else q)
        disp = [(x - rx, y - ry, 0.0) for (x, y), (rx, ry) in zip(nodes, ref[0])]
        out[n] = ([float(t) / 2 for t in twice], quality, inverted, disp)
    return out


class Health(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def test_rescheck_finds_where_the_series_folds(self):
        series = os.path.join(self.dir, "fold")
        subprocess.run([SAMPLE, "--fold", "40", "--last", "45", series], check=True, timeout=60)
        r = subprocess.run([RESCHECK, "--verbose", "--table", "t.csv", series], cwd=self.dir,
                           capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 3, r.stdout + r.stderr)
        lines = r.stdout.splitlines()
        folds = [l for l in lines if " inverted (first: element " in l]
        self.assertTrue(folds[0].startswith("res0040.inp: 1 element inverted (first: element "),
                        r.stdout)
        self.assertEqual(len(folds), 6, r.stdout)
        self.assertIn("first file with an inverted element: res0040.inp", lines)
        self.assertTrue(any(l.startswith("worst quality: -") for l in lines), r.stdout)
        with open(os.path.join(self.dir, "t.csv"), newline="") as f:
            rows = list(csv.DictReader(f))
        self.assertEqual([int(row["index"]) for row in rows], list(range(46)))
        self.assertEqual([int(row["inverted"]) for row in rows[38:42]][:3], [0, 0, 1])
        self.assertGreater(int(rows[41]["inverted"]), 1)
        for row in rows:
            self.assertEqual(row["nodes"], "704")
            self.assertEqual(float(row["worst_quality"]) < 0, int(row["inverted"]) > 0, row)
        self.assertEqual(rows[0]["displacement_from_previous"], "")
        self.assertEqual(float(rows[0]["displacement_from_reference"]), 0.0)
        # The element named in file 40's line is the inverted one of the table's worst.
        self.assertIn("element %s at (" % rows[40]["worst_element"], folds[0])

    def test_res2vtk_fields_whatever_the_range(self):
        """A file's fields are the same whether the whole series is converted or a part."""
        series = os.path.join(self.dir, "fold")
        subprocess.run([SAMPLE, "--fold", "25", "--last", "40", series], check=True, timeout=60)
        fields = {}
        for name, args in (("whole", []), ("part", ["--first", "30", "--every", "3"])):
            r = subprocess.run([RES2VTK, *args, "-o", name + ".pvd", series], cwd=self.dir,
                               capture_output=True, text=True, timeout=60)
            self.assertEqual(r.returncode, 0, r.stderr)
            for n in range(30, 41, 3):
                m = meshio.read(vtu_of(os.path.join(self.dir, name + ".pvd"), n))
                fields.setdefault(n, []).append(
                    (m.cell_data["inverted"][0].tolist(), m.cell_data["quality"][0].tolist(),
                     m.point_data["displacement"].tolist()))
        for n, (whole, part) in fields.items():
            self.assertEqual(sum(whole[0]), 3, "file %d" % n)
            self.assertEqual(whole, part, "file %d" % n)

    def test_res2vtk_fields_read_back(self):
        square = lambda x5, y5: ([(0, 0), (2, 0), (2, 2), (0, 2), (x5, y5)],
                                 [(1, 2, 5), (2, 3, 5), (3, 4, 5), (1, 4, 5)])
        files = {
            0: square(1, 1),  # element 4 turns against the majority
            1: square(2, 1),  # node 5 on edge 2-3: element 2 degenerate
            2: square(2.5, 1.25),  # past it: element 2 inverted
            3: ([(0, 0), (3, 0), (0, 1e-3)], [(1, 2, 3)]),  # a new mesh, a sliver
        }
        write_series(self.dir, files)
        r = subprocess.run([RES2VTK, "--dt", "0.25", "--last", "3", "-o", "h.pvd"], cwd=self.dir,
                           capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        for n, (area, quality, inverted, disp) in expected(files).items():
            m = meshio.read(vtu_of(os.path.join(self.dir, "h.pvd"), n))
            self.assertEqual(m.field_data["TimeValue"].tolist(), [n * 0.25])
            self.assertEqual(m.cell_data["area"][0].dtype, np.float64)
            self.assertEqual(m.cell_data["inverted"][0].dtype, np.uint8)
            np.testing.assert_array_equal(m.cell_data["area"][0], area, "file %d" % n)
            np.testing.assert_allclose(m.cell_data["quality"][0], quality, rtol=1e-14,
                                       err_msg="file %d" % n)
            np.testing.assert_array_equal(m.cell_data["inverted"][0], inverted, "file %d" % n)
            np.testing.assert_array_equal(m.point_data["displacement"], disp, "file %d" % n)


if __name__ == "__main__":
    RESCHECK, RES2VTK, SAMPLE = (os.path.abspath(a) for a in sys.argv[1:4])
    del sys.argv[1:4]
    unittest.main(verbosity=2)
