"""The real res2vtk, its output read back by an independent VTK reader (meshio) and the
collection by Python's XML parser: coordinates bit for bit, connectivity, the node and element
arrays, times of a series with gaps, both encodings, exit statuses.

usage: python3 res2vtk_test.py RES2VTK_EXE SAMPLE_SERIES_EXE
"""
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
import time
import xml.etree.ElementTree as ET
from decimal import Decimal

import meshio
import numpy as np

EXE = None
SAMPLE = None

GOOD = "3 1\n1 1 2 3\n1 0 0\n2 4 0\n3 0 4\n"
# Elements out of order, corners in an order of their own, coordinates in every notation.
FANCY = ("4 2\n2 4 3 2\n1 3 1 2\n"
         "3 -0 1e-310\n1 .5 +3\n2 1.2345678901234567 -2.5e-3\n4 1e300 -7\n")
SERIES = {0: GOOD, 1: FANCY, 3: "3 1\n1 1 2 9\n", 7: GOOD, 1000: FANCY}


def res2vtk(cwd, *args):
    return subprocess.run([EXE, *args], cwd=cwd, capture_output=True, text=True, timeout=120)


def snapshot(top):
    """Every file under top with its bytes."""
    files = {}
    for root, dirs, names in os.walk(top):
        for name in names + [d + "/" for d in dirs]:
            path = os.path.join(root, name)
            if name.endswith("/"):
                files[os.path.relpath(path, top)] = b""
                continue
            with open(path, "rb") as f:
                files[os.path.relpath(path, top)] = f.read()
    return files


def sample_series(where, *args):
    subprocess.run([SAMPLE, *args, where], check=True, timeout=120)


def inp_mesh(text):
    """The mesh of a result file as Python reads it: points by node number, corners by element."""
    tok = text.split()
    np_, nele = int(tok[0]), int(tok[1])
    at = 2
    cells = [None] * nele
    for _ in range(nele):
        k, a, b, c = (int(t) for t in tok[at:at + 4])
        cells[k - 1] = [a - 1, b - 1, c - 1]
        at += 4
    points = [None] * np_
    for _ in range(np_):
        points[int(tok[at]) - 1] = [float(tok[at + 1]), float(tok[at + 2]), 0.0]
        at += 3
    return np.array(points, dtype=np.float64), np.array(cells, dtype=np.int64)


class Res2vtk(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        for n, text in SERIES.items():
            name = "res0%03d.inp" % n
            with open(os.path.join(self.dir, name), "w") as f:
                f.write(text)

    def tearDown(self):
        self.tmp.cleanup()

    def test_series_with_gaps_reads_back_in_both_encodings(self):
        meshes = {}
        for encoding in ([], ["--ascii"]):
            out = "out/run%s.pvd" % ("_ascii" if encoding else "")
            r = res2vtk(self.dir, "-o", out, "--dt", "0.1", *encoding)
            self.assertEqual(r.returncode, 1, r.stderr)
            self.assertEqual(r.stdout, "")
            lines = r.stderr.splitlines()
            self.assertEqual(lines[0],
                             "res0003.inp:2: element 1 names node 9, but the file has 3 nodes")
            self.assertRegex(lines[-1], r"^res2vtk: 4 converted in [0-9.]+ s, 996 missing, 1 broken, "
                             r"1001-1010 not written; ")

            root = ET.parse(os.path.join(self.dir, out)).getroot()
            sets = root.findall("./Collection/DataSet")
            folder = os.path.basename(out)[:-4]
            # Each file named after its result file and its content.
            self.assertEqual([re.sub("-[0-9a-f]{16}[.]vtu$", ".vtu", d.get("file")) for d in sets],
                             [folder + "/res0%03d.vtu" % n for n in (0, 1, 7, 1000)])
            # The double nearest n x dt, not n times the double nearest dt.
            self.assertEqual([float(d.get("timestep")) for d in sets],
                             [float(Decimal(n) * Decimal("0.1")) for n in (0, 1, 7, 1000)])
            for d in sets:
                n = int(d.get("file")[len(folder) + 4:-21])
                m = meshio.read(os.path.join(self.dir, "out", d.get("file")))
                points, cells = inp_mesh(SERIES[n])
                self.assertEqual(m.points.dtype, np.float64)
                self.assertEqual(m.points.tobytes(), points.tobytes(), "file %d" % n)
                self.assertEqual(len(m.cells), 1)
                self.assertEqual(m.cells[0].type, "triangle")
                np.testing.assert_array_equal(m.cells[0].data, cells)
                node, element = m.point_data["node"], m.cell_data["element"][0]
                self.assertEqual((node.dtype, element.dtype), (np.int32, np.int32))
                np.testing.assert_array_equal(node, np.arange(1, len(points) + 1))
                np.testing.assert_array_equal(element, np.arange(1, len(cells) + 1))
                meshes.setdefault(n, []).append(m)
        for n, (binary, text) in meshes.items():
            self.assertEqual(binary.points.tobytes(), text.points.tobytes())
            np.testing.assert_array_equal(binary.cells[0].data, text.cells[0].data)

    def test_rerun_replaces_the_earlier_output(self):
        self.assertEqual(res2vtk(self.dir, "--last", "2").returncode, 0)
        open(os.path.join(self.dir, "series", "res0005.vtu.tmp"), "w").close()  # no run's
        r = res2vtk(self.dir, "--first", "7", "--last", "7", "--dt", "2.5e-3")
        self.assertEqual(r.returncode, 0, r.stderr)
        root = ET.parse(os.path.join(self.dir, "series.pvd")).getroot()
        sets = root.findall("./Collection/DataSet")
        self.assertEqual([d.get("timestep") for d in sets], ["0.0175"])
        self.assertRegex(sets[0].get("file"), "^series/res0007-[0-9a-f]{16}[.]vtu$")
        # What the earlier collection named is gone; a file that is not ours stays.
        self.assertEqual(sorted(os.listdir(os.path.join(self.dir, "series"))),
                         ["res0005.vtu.tmp", sets[0].get("file")[7:]])

    def test_statuses_and_what_is_written(self):
        cases = [
            (["--dt", "0"], 2,
             'res2vtk: --dt takes a number of seconds above 0, not "0"\nsee res2vtk --help\n'),
            (["--dt", "1,5"], 2, 'res2vtk: --dt takes a number of seconds above 0, not "1,5"\n'),
            (["-o", "series.vtu"], 2,
             'res2vtk: -o takes a file name ending in .pvd, not "series.vtu"\n'),
            (["--ascii=yes"], 2, "res2vtk: --ascii takes no value\n"),
            (["--frobnicate"], 2, "res2vtk: unknown option --frobnicate\n"),
            (["--first", "9", "--last", "8"], 2, "res2vtk: --first (9) comes after --last (8)\n"),
            (["--idle", "5"], 2, "res2vtk: --idle applies only with --follow\n"),
            # The series folder itself as the output's folder: refused, nothing written.
            (["-o", "../" + os.path.basename(self.dir) + ".pvd"], 2,
             "res2vtk: -o ../%s.pvd would put its .vtu files into the series folder . itself"
             % os.path.basename(self.dir)),
            (["-o", "s.pvd", "s"], 2, "res2vtk: -o s.pvd would put its .vtu files into the series "
             "folder s itself"),
            (["--first", "8", "--last", "9"], 1, "res2vtk: no result file of 8..9 is present in .\n"),
            (["-o", "res0000.inp/x.pvd"], 1, "res2vtk: cannot make res0000.inp: "),
            (["--last", "1", "missing-dir"], 1, "res2vtk: cannot read missing-dir: "),
            (["--last", "1"], 0, "res2vtk: 2 converted in "),
        ]
        os.mkdir(os.path.join(self.dir, "s"))
        shutil.copy(os.path.join(self.dir, "res0000.inp"), os.path.join(self.dir, "s"))
        before = snapshot(self.dir)
        for args, status, err in cases:
            with self.subTest(args=args):
                r = res2vtk(self.dir, *args)
                self.assertEqual(r.returncode, status, r.stderr)
                self.assertTrue(r.stderr.startswith(err), r.stderr)
                self.assertEqual(os.path.exists(os.path.join(self.dir, "series.pvd")), status == 0)
                if status == 2:
                    self.assertEqual(r.stderr.count("\n"), 2, r.stderr)
                    self.assertEqual(snapshot(self.dir), before)


class Res2vtkAsOneUnit(unittest.TestCase):
    """A run that fails or is stopped leaves the earlier output byte for byte, with nothing new
    beside it; two runs at once never mix; names are refused or written so that they read back."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.big = os.path.join(cls.tmp.name, "big")  # 301 max-size files: a run of a second
        sample_series(cls.big, "--max-size", "--last", "300")
        # Small files with one max-size file among them, whose .vtu alone passes a size limit.
        cls.mixed = os.path.join(cls.tmp.name, "mixed")
        sample_series(cls.mixed, "--last", "120")
        shutil.copy(os.path.join(cls.big, "res0000.inp"), os.path.join(cls.mixed, "res0060.inp"))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def setUp(self):
        self.out = tempfile.TemporaryDirectory(dir=self.tmp.name)

    def tearDown(self):
        self.out.cleanup()

    def test_stopped_or_failed_run_leaves_the_earlier_output(self):
        def size_limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

        cases = [
            ("SIGINT", self.big, None, signal.SIGINT, -signal.SIGINT, "stopped by SIGINT"),
            ("SIGTERM", self.big, None, signal.SIGTERM, -signal.SIGTERM, "stopped by SIGTERM"),
            ("file size limit", self.mixed, size_limit, None, 1,
             "res2vtk: cannot write run/res0060-"),
        ]
        for what, series, preexec, sig, status, message in cases:
            with self.subTest(what):
                r = res2vtk(self.out.name, "-o", "run.pvd", "--last", "3", series)
                self.assertEqual(r.returncode, 0, r.stderr)
                before = snapshot(self.out.name)
                p = subprocess.Popen([EXE, "-o", "run.pvd", "--first", "2", series],
                                     cwd=self.out.name, stderr=subprocess.PIPE, text=True,
                                     preexec_fn=preexec)
                if sig:
                    # Once it has written a file of its own.
                    earlier = set(os.listdir(os.path.join(self.out.name, "run")))
                    deadline = time.monotonic() + 30
                    while time.monotonic() < deadline and \
                            set(os.listdir(os.path.join(self.out.name, "run"))) <= earlier:
                        time.sleep(0.002)
                    p.send_signal(sig)
                err = p.communicate(timeout=120)[1]
                self.assertEqual(p.returncode, status, err)
                self.assertIn(message, err)
                self.assertIn("run.pvd and the files it names left as they were", err)
                self.assertEqual(snapshot(self.out.name), before)

    def test_two_runs_at_once(self):
        runs = [subprocess.Popen([EXE, "-o", "run.pvd", self.big], cwd=self.out.name,
                                 stderr=subprocess.PIPE, text=True) for _ in range(2)]
        ends = [(p.wait(timeout=120), p.stderr.read()) for p in runs]
        for p in runs:
            p.stderr.close()
        self.assertIn(0, [status for status, _ in ends], ends)
        for status, err in ends:
            if status != 0:
                self.assertEqual(status, 1, err)
                self.assertIn("res2vtk: another run is writing run.pvd and run/; nothing written", err)
        sets = ET.parse(os.path.join(self.out.name, "run.pvd")).getroot().findall("./Collection/DataSet")
        self.assertEqual(len(sets), 301)
        for d in sets:
            m = meshio.read(os.path.join(self.out.name, d.get("file")))
            self.assertEqual(len(m.points), 4999)
        self.assertEqual(sorted(os.listdir(os.path.join(self.out.name, "run"))),
                         sorted(os.path.basename(d.get("file")) for d in sets))

    def test_names_the_collection_can_and_cannot_carry(self):
        cases = [
            (b'a&"<>.pvd', 0, 'a&"<>/res0000-'),
            (b"a\nb\tc.pvd", 0, "a\nb\tc/res0000-"),
            ("\u00e9t\u00e9.pvd".encode(), 0, "\u00e9t\u00e9/res0000-"),
            (b"ctl\x01.pvd", 2, "res2vtk: -o: the collection cannot name its folder: it holds a control character\n"),
            (b"a\xff.pvd", 2, "res2vtk: -o: the collection cannot name its folder: it is not UTF-8\n"),
            (b"\xed\xa0\x80.pvd", 2, "it is not UTF-8"),
            (b".pvd", 2, "res2vtk: -o .pvd: the folder beside it would be \"\""),
            (b"..pvd", 2, "the folder beside it would be \".\""),
            (b"...pvd", 2, "the folder beside it would be \"..\""),
        ]
        src = os.path.join(self.out.name, "src")
        os.mkdir(src)
        shutil.copy(os.path.join(self.mixed, "res0000.inp"), src)
        for name, status, expect in cases:
            with self.subTest(name=name):
                r = subprocess.run([os.fsencode(EXE), b"-o", name, b"src"], cwd=self.out.name,
                                   capture_output=True, timeout=60)
                err = r.stderr.decode(errors="replace")
                self.assertEqual(r.returncode, status, err)
                if status:
                    self.assertIn(expect, err)
                    self.assertFalse(os.path.exists(os.path.join(self.out.name.encode(), name)))
                    continue
                root = ET.parse(os.path.join(self.out.name.encode(), name)).getroot()
                files = [d.get("file") for d in root.findall("./Collection/DataSet")]
                self.assertEqual(len(files), 1)
                self.assertTrue(files[0].startswith(expect), files)
                m = meshio.read(os.path.join(self.out.name, files[0]))
                self.assertEqual(len(m.points), 704)


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    SAMPLE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
