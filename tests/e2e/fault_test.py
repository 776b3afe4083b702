"""A fault at every I/O call, as databases test themselves: each program that writes (res2vtk,
resrender with PNG files and with a GIF, res2html, rescheck --table) runs over a small series onto
an earlier output of another series, with one call of one kind made to fail (the Nth open, write,
short write, close, fsync, rename, unlink, mkdir, stat, flock, opendir or readdir, through a
preload of our own), and with random faults over fixed seeds: among the calls on its outputs, and
among those on its inputs. After each run:

- the status is 0 or 1, never a signal or a hang;
- every output is the earlier one byte for byte or a new one whole; a fault among the outputs
  leaves the new one exactly as a clean run writes it (res2vtk: its collection and every file it
  names), and a status 0 means it is all there;
- a failure says what failed, with the system's reason;
- the foreign file beside the outputs is untouched;
- a clean run afterwards gives the new outputs byte for byte, and leaves no temporary and no .vtu
  file that no collection names.

Then an order check under strace: each output made durable before its rename, its folder after,
res2vtk's collection renamed after all its files and its old files removed after it.

Each failure prints the line that repeats it. By default each kind of call fails at a spread of
its calls; RESVIEW_FAULT_SWEEP=full fails every one of them in turn.

usage: python3 fault_test.py PRELOAD BIN_DIR SAMPLE_SERIES
"""
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

PRELOAD = BIN = SAMPLE = None
KINDS = ["open", "read", "write", "close", "fsync", "fdatasync", "rename", "unlink", "mkdir",
         "stat", "flock", "syncfs", "opendir", "readdir"]
REASONS = {"write": "No space left on device"}  # the errno each kind fails with, as text
TEMPORARY = re.compile(r"^\..+\.[0-9]+\.[0-9]+$")
OURS_VTU = re.compile(r"^res0[0-9]{3,4}(-[0-9a-f]{16})?\.vtu$")

# Each program: its arguments (the series is "a"), and the outputs it writes under "out".
PROGRAMS = {
    "res2vtk": (["res2vtk", "-o", "out/run.pvd", "a"], ["out/run.pvd", "out/run"]),
    "resrender-png": (["resrender", "--png", "out/p", "a"], ["out/p"]),
    "resrender-gif": (["resrender", "--gif", "out/a.gif", "a"], ["out/a.gif"]),
    "res2html": (["res2html", "-o", "out/page.html", "a"], ["out/page.html"]),
    "rescheck-table": (["rescheck", "--table", "out/t.csv", "a"], ["out/t.csv"]),
}


def env_for(extra, preload=True):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    # The sanitizer build's programs: their runtime is not the first library any more, and
    # resrender needs Mesa's rasteriser preloaded too.
    env["ASAN_OPTIONS"] = "verify_asan_link_order=0:detect_leaks=0"
    preloads = [PRELOAD] if preload else []
    for kv in filter(None, os.environ.get("RESRENDER_ENV", "").split("|")):
        k, v = kv.split("=", 1)
        if k == "LD_PRELOAD":
            preloads.append(v)
    if preloads:
        env["LD_PRELOAD"] = ":".join(preloads)
    env.update(extra)
    return env


def run(args, cwd, extra=None, timeout=60):
    argv = [os.path.join(BIN, args[0])] + args[1:]
    return subprocess.run(argv, cwd=cwd, env=env_for(extra or {}), capture_output=True,
                          text=True, timeout=timeout)


def files_under(root):
    """Every file below root, by path from root, with its bytes."""
    out = {}
    for top, _, names in os.walk(root):
        for name in names:
            path = os.path.join(top, name)
            with open(path, "rb") as f:
                out[os.path.relpath(path, root)] = f.read()
    return out


def whole(path, data):
    """Whether an output holds what a whole one of its kind holds, to its end."""
    if path.endswith(".png"):
        return data.startswith(b"\x89PNG") and data.endswith(b"IEND\xaeB`\x82")
    if path.endswith(".gif"):
        return data.startswith(b"GIF89a") and data.endswith(b";")
    if path.endswith(".html"):
        return data.rstrip().endswith(b"</html>")
    if path.endswith(".csv"):
        return data.startswith(b"index,name,") and data.endswith(b"\n")
    return False


def reproduce(prog, extra):
    return " ".join("%s=%s" % kv for kv in sorted(extra.items())) + \
        " LD_PRELOAD=%s %s" % (PRELOAD, " ".join(PROGRAMS[prog][0]))


class Faults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        top = cls.tmp.name
        # Series a, four files, one of them a new mesh; series b, of another mesh and length.
        subprocess.run([SAMPLE, "--last", "3", os.path.join(top, "a")], check=True)
        subprocess.run([SAMPLE, "--max-size", "--last", "5", os.path.join(top, "b")], check=True)
        cls.earlier, cls.new, cls.counts = {}, {}, {}
        for prog, (args, _) in PROGRAMS.items():
            # The earlier output, of series b, beside a file that is not ours.
            base = os.path.join(top, "base-" + prog)
            os.mkdir(base)
            shutil.copytree(os.path.join(top, "a"), os.path.join(base, "a"))
            shutil.copytree(os.path.join(top, "b"), os.path.join(base, "b"))
            r = run(args[:-1] + ["b"], base)
            assert r.returncode == 0, r.stderr
            with open(os.path.join(base, "out", "notes.txt"), "w") as f:
                f.write("not ours")
            cls.earlier[prog] = files_under(os.path.join(base, "out"))
            # The new output, and how many calls of each kind a clean run makes.
            clean = cls.trial_dir(prog, "clean")
            cls.counts[prog] = {}
            for where in ("out", "a"):
                counts = os.path.join(top, "counts-%s-%s" % (prog, where))
                clean = cls.trial_dir(prog, "clean")
                r = run(args, clean, {"FAULT_DIR": os.path.join(clean, where),
                                      "FAULT_COUNTS": counts})
                assert r.returncode == 0, r.stderr
                cls.new[prog] = files_under(os.path.join(clean, "out"))
                with open(counts) as f:
                    cls.counts[prog][where] = {k: int(n) for k, n in (l.split() for l in f)}

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def trial_dir(cls, prog, name):
        d = os.path.join(cls.tmp.name, "trial-%s-%s" % (prog, name))
        shutil.rmtree(d, ignore_errors=True)
        shutil.copytree(os.path.join(cls.tmp.name, "base-" + prog), d)
        return d

    def outputs_whole(self, prog, files, problems, exact):
        """Every output the earlier one or the new one, whole (exact: as a clean run writes it);
        what is left over as temporaries and unnamed files is for the next run to remove. Whether
        the new output is all there as a clean run writes it."""
        earlier, new = self.earlier[prog], self.new[prog]
        kept = {p: b for p, b in files.items()
                if not TEMPORARY.match(os.path.basename(p)) and p != "notes.txt"}
        if files.get("notes.txt") != b"not ours":
            problems.append("the foreign file was touched")
        if prog == "res2vtk":
            # The collection and every file it names: all earlier, or all new.
            pvd = kept.get("run.pvd")
            for want in (earlier, new):
                if pvd == want["run.pvd"]:
                    named = re.findall(r'file="(run/[^"]+)"', pvd.decode())
                    missing = [n for n in named if kept.get(n) != want[n]]
                    if missing:
                        problems.append("the collection names files not whole: %s" % missing)
                    return pvd == new["run.pvd"]
            if exact or pvd is None:
                problems.append("the collection is neither the earlier one nor the new one")
            else:
                # Another new one, of the files that could be read: every file it names there.
                for name in re.findall(r'file="(run/[^"]+)"', pvd.decode()):
                    if not kept.get(name, b"").rstrip().endswith(b"</VTKFile>"):
                        problems.append("the collection names %s, which is not whole" % name)
            return False
        whole_new = True
        for path in sorted(set(earlier) | set(new) | set(kept)):
            if path == "notes.txt":
                continue
            got = kept.get(path)
            if got is not None and got not in (earlier.get(path), new.get(path)) and \
                    (exact or not whole(path, got)):
                problems.append("%s is neither the earlier output nor a new one whole" % path)
            if path in new and got != new[path]:
                whole_new = False
            if got is None and path in earlier and path not in new:
                problems.append("%s, an earlier output, is gone" % path)
        return whole_new

    def trial(self, prog, name, where, extra, reason):
        """One run with faults among the calls on the folder `where` ("out": the outputs, "a":
        the series), and the clean run after it; the problems found."""
        args = PROGRAMS[prog][0]
        d = self.trial_dir(prog, name)
        extra = dict(extra, FAULT_DIR=os.path.join(d, where))
        problems = []
        try:
            r = run(args, d, extra)
        except subprocess.TimeoutExpired:
            return ["hung"]
        if r.returncode not in (0, 1):
            problems.append("status %d: %s" % (r.returncode, r.stderr.strip()[-300:]))
        whole_new = self.outputs_whole(prog, files_under(os.path.join(d, "out")), problems,
                                       exact=where == "out")
        if r.returncode == 0 and where == "out" and not whole_new:
            problems.append("status 0, but the new output is not all there")
        # A program's report may be on standard output (rescheck's).
        if r.returncode == 1 and reason and reason not in r.stderr + r.stdout:
            problems.append("the failure does not say why: %r" % r.stderr.strip()[-300:])
        # A clean run puts everything right.
        again = run(args, d)
        left = files_under(os.path.join(d, "out"))
        if again.returncode != 0:
            problems.append("the run after it ends with %d: %s" % (again.returncode,
                                                                    again.stderr.strip()[-300:]))
        if {p: b for p, b in left.items() if p != "notes.txt"} != \
                {p: b for p, b in self.new[prog].items() if p != "notes.txt"}:
            stray = sorted(set(left) ^ set(self.new[prog]))
            problems.append("the run after it does not give the new output byte for byte "
                            "(differing names: %s)" % stray[:5])
        return ["%s: %s\n    repeat: %s" % (name, p, reproduce(prog, extra)) for p in problems]

    def test_a_fault_at_each_call(self):
        full = os.environ.get("RESVIEW_FAULT_SWEEP") == "full"
        problems, runs = [], 0
        for prog in PROGRAMS:
            for where in ("out", "a"):
                counts = self.counts[prog][where]
                for kind in KINDS:
                    count = counts.get(kind, 0)
                    picks = range(1, count + 1) if full else sorted(
                        {n for n in (1, 2, 3, count // 2, count - 1, count) if 1 <= n <= count})
                    for n in picks:
                        problems += self.trial(prog, "%s-%s-%d" % (where, kind, n), where,
                                               {"FAULT_CALL": kind, "FAULT_N": str(n)},
                                               REASONS.get(kind, "Input/output error"))
                        runs += 1
                for seed in (1, 2, 3):
                    problems += self.trial(prog, "%s-random-%d" % (where, seed), where,
                                           {"FAULT_RANDOM": "0.05", "FAULT_SEED": str(seed)}, None)
                    runs += 1
            writes = self.counts[prog]["out"]["write"]
            for n in sorted({n for n in (1, 2, writes // 2) if 1 <= n <= writes}):
                problems += self.trial(prog, "short-write-%d" % n, "out",
                                       {"FAULT_CALL": "write", "FAULT_N": str(n),
                                        "FAULT_SHORT": "1"}, None)
                runs += 1
        print("fault test: %d faulted runs, each followed by a clean one" % runs)
        self.assertEqual(problems, [], "%d problems:\n%s" % (len(problems), "\n".join(problems[:40])))

    def test_order_durable_before_the_rename_and_the_folder_after(self):
        for prog, (args, _) in PROGRAMS.items():
            with self.subTest(prog=prog):
                d = self.trial_dir(prog, "order")
                log = os.path.join(d, "strace.log")
                argv = ["strace", "-f", "-qq", "-y", "-o", log, "-e",
                        "trace=openat,fsync,fdatasync,rename,renameat,renameat2,unlink,unlinkat",
                        os.path.join(BIN, args[0])] + args[1:]
                env = env_for({}, preload=False)
                r = subprocess.run(argv, cwd=d, env=env, capture_output=True, text=True,
                                   timeout=120)
                self.assertEqual(r.returncode, 0, r.stderr)
                # Each call where it starts (a call of another thread may split it into an
                # "unfinished" line and a "resumed" one): a thread's calls start in its order.
                with open(log) as f:
                    calls = [line.split(None, 1)[1] for line in f
                             if "resumed>" not in line and "+++" not in line and "---" not in line]
                self.check_order(prog, d, calls)

    def check_order(self, prog, d, calls):
        synced = set()  # paths fsync'ed so far
        pending = []    # folders whose renames are not durable yet
        written = set() # res2vtk's .vtu files, written straight under their names
        pvd_renamed = False
        for call in calls:
            m = re.match(r'openat\([^,]+, "([^"]+)", [^)]*O_CREAT', call)
            if m and OURS_VTU.match(os.path.basename(m.group(1))):
                written.add(os.path.normpath(os.path.join(d, m.group(1))))
                continue
            m = re.match(r"f(?:data)?sync\(\d+<([^>]+)>", call)  # ")" or " <unfinished ...>"
            if m:
                synced.add(m.group(1))
                pending = [p for p in pending if p != m.group(1)]
                continue
            m = re.match(r'rename(?:at2?)?\((?:[^,]+, )?"([^"]+)", (?:[^,]+, )?"([^"]+)"', call)
            if m:
                tmp, final = (os.path.normpath(os.path.join(d, p)) for p in m.groups())
                self.assertIn(tmp, synced, "%s: %s renamed before it was made durable"
                              % (prog, final))
                pending.append(os.path.dirname(final))
                if final.endswith(".pvd"):
                    self.assertNotIn(os.path.join(d, "out", "run"), pending,
                                     "res2vtk: the collection renamed before its files' folder "
                                     "was made durable")
                    self.assertEqual(written - synced, set(),
                                     "res2vtk: the collection renamed before its files were "
                                     "made durable")
                    pvd_renamed = True
                continue
            m = re.match(r'unlink(?:at)?\((?:\d+<([^>]+)>, )?"([^"]+)"', call)
            if m and prog == "res2vtk" and OURS_VTU.match(os.path.basename(m.group(2))):
                self.assertTrue(pvd_renamed, "res2vtk: %s removed before the new collection "
                                "was in place" % m.group(2))
        self.assertEqual(pending, [], "%s: renames never made durable in %s" % (prog, pending))


if __name__ == "__main__":
    PRELOAD, BIN, SAMPLE = (os.path.abspath(a) for a in sys.argv[1:4])
    del sys.argv[1:4]
    unittest.main(verbosity=2)
