"""Tests of tools/ravplot on hand-made and real reports.

Run by ctest with RAVGEN, RAVAN and RAVPLOT naming the programs."""

import math
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

RAVGEN = os.environ.get("RAVGEN", "build/ravgen")
RAVAN = os.environ.get("RAVAN", "build/ravan")
RAVSIM = os.environ.get("RAVSIM", "build/ravsim")
RAVPLOT = os.environ.get("RAVPLOT", "tools/ravplot")
RAVFIT = os.environ.get("RAVFIT", "build/ravfit")
TWO_WAY_TAKES = os.environ.get("TWO_WAY_TAKES", "build/two_way_takes")
PYTHON = os.environ.get("RAVPLOT_PYTHON", sys.executable)
# ravplot's library, for the tests that call it in this process.
sys.path.insert(0, os.path.dirname(os.path.realpath(RAVPLOT)))

SETTINGS = (
    "executable:\t./ravan\n arguments:\t3\n file name:\trec.wav\n"
    "      mode:\t{mode}\nstart freq:\t{start}\n  end freq:\t{end}\n num steps:\t{steps}\n"
    " averaging:\t1\n     delay:\t0\n  interval:\t{interval}\n"
    "numCyc\tduration\tnomFreq\tactFreq\tabs 1\tabs 2\tdB 1\tdB 2\tdB diff\tphase 1\tphase 2\tphase diff"
    "\tbkg 1\tbkg 2\n"
)

# A falling sweep cut after four rows, one of them without a level, and a
# last line cut short.
FALLING = SETTINGS.format(mode="freq sweep", start="20000", end="10000", steps="201", interval="22050") + (
    "46\t101\t20000\t20085.1\t0.5\t0.25\t-6.0206\t-12.0412\t6.0206\t0.1\t-0.2\t0.3\t-80\t-inf\n"
    "46\t102\t19930.6\t19888.2\t0\t0.25\t-inf\t-12.0412\t-inf\t0\t-0.2\t0.2\t-80\t-81\n"
    "46\t102\t19861.5\t19888.3\t0.5\t0.5\t-6.0206\t-6.0206\t0\t-3.14159\t3.14159\t-6.28318\t-80\t-81\n"
    "46\t103\t19792.6\t19694.2\t1\t1\t0\t0\t0\t1.5e-005\t0\t1.5e-005\t-80\t-81\n"
    "46\t103\t19723.9\t19694.2\t1\t1\t0"
)

POLAR = SETTINGS.format(mode="polar plot", start="2000", end="1000", steps="72", interval="44100") + (
    "5\t110\t2000\t2004.55\t1\t1\t0\t0\t0\t0\t0\t0\t-inf\t-inf\n"
    "5\t110\t2000\t2004.55\t0.5\t1\t-6.0206\t0\t-6.0206\t0.5\t0\t0.5\t-inf\t-inf\n"
    "5\t110\t2000\t2004.55\t0\t1\t-inf\t0\t-inf\t0\t0\t0\t-inf\t-inf\n"
)


RISING = SETTINGS.format(mode="freq sweep", start="100", end="10000", steps="201", interval="22050") + (
    "1\t10\t100\t100\t1\t1\t-1\t0.5\t-1.5\t0.1\t0.2\t-0.1\t-80\t-81\n"
    "1\t10\t1000\t1000\t1\t1\t-2\t0\t-2\t0.5\t0\t0.5\t-80\t-81\n"
    "1\t10\t10000\t10000\t1\t1\t-3\t0\t-3\t3\t0\t3\t-80\t-81\n"
)
# Two points: 100 Hz lies below the file and is held at its first value.
CALIBRATION = '"Sens Factor =-1.23dB"\n* comment line\n200, -0.5, 10\n2000\t1.5\t-20\n'
ALL_NAN = RISING.replace("\t-1\t0.5\t-1.5\t", "\tnan\tnan\tnan\t").replace(
    "\t-2\t0\t-2\t", "\tnan\tnan\tnan\t").replace("\t-3\t0\t-3\t", "\tnan\tnan\tnan\t")


def run(args, stdin_text=None, env=None, close_stdout=False, process=False):
    """ravplot with `args`: in this process, which spares each run loading
    numpy and matplotlib again, or as its own process where the test needs
    one (an environment, a closed standard output, or `process`)."""
    if env is None and not close_stdout and not process:
        import io
        from ravplot_lib.command import run as run_ravplot
        out, err = io.StringIO(), io.StringIO()
        stdin = io.BytesIO((stdin_text or "").encode("utf-8", "surrogateescape"))
        status = run_ravplot(args, stdin, out, err)
        return subprocess.CompletedProcess(args, status, out.getvalue(), err.getvalue())
    return subprocess.run([PYTHON, RAVPLOT] + args, input=stdin_text, capture_output=not close_stdout,
                          stderr=subprocess.PIPE if close_stdout else None, text=True,
                          env=dict(os.environ, **(env or {})),
                          preexec_fn=(lambda: os.close(1)) if close_stdout else None)


class HandMadeReports(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def read(self, name):
        with open(self.path(name)) as text:
            return text.read()

    def data_lines(self, name):
        return [line for line in self.read(name).splitlines() if not line.startswith("*")]

    def test_falling_sweep_is_written_rising_without_unusable_rows(self):
        result = run(["-", "--frd", self.path("fall")], FALLING)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.data_lines("fall_1.frd"), [
            "19694.2000\t0.0000\t-0.001",
            "19888.3000\t-6.0206\t180.000",
            "20085.1000\t-6.0206\t-5.730",
        ])
        self.assertEqual(self.data_lines("fall_2.frd"), [
            "19694.2000\t0.0000\t0.000",
            "19888.2000\t-12.0412\t11.459",
            "19888.3000\t-6.0206\t-180.000",
            "20085.1000\t-12.0412\t11.459",
        ])
        self.assertEqual(self.data_lines("fall_diff.frd"), [
            "19694.2000\t0.0000\t-0.001",
            "19888.3000\t0.0000\t360.000",
            "20085.1000\t6.0206\t-17.189",
        ])
        comments = [line for line in self.read("fall_1.frd").splitlines() if line.startswith("*")]
        self.assertIn("* start freq: 20000", comments)
        self.assertIn("* mode: freq sweep", comments)
        self.assertIn("4 of 201 steps", result.stderr)
        self.assertIn("not complete rows", result.stderr)
        self.assertIn("dB 1: 1 row skipped: nan or inf levels", result.stderr)

    def test_polar_table_has_an_angle_per_step(self):
        with open(self.path("polar.txt"), "w") as report:
            report.write(POLAR)
        result = run([self.path("polar.txt"), "--frd", self.path("p")])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.data_lines("p.txt"), [
            "0.0\t0.0000\t0.0000\t0.0000\t0.000",
            "5.0\t-6.0206\t0.0000\t-6.0206\t28.648",
            "10.0\t-inf\t0.0000\t-inf\t0.000",
        ])

    def write(self, name, text, mode="w"):
        with open(self.path(name), mode) as out:
            out.write(text)
        return self.path(name)

    def test_dist_panel_leaves_out_what_is_no_value(self):
        # ravfit per step: the second row's dist lies in the noise (-inf),
        # the third step is damaged (nan), the others read.
        fit = SETTINGS.split("numCyc")[0] + "\t".join(FIT_STEP_HEADER) + "\n" + "".join(
            "1\t10\t{f}\t{f}\t-1\t0\t-1\t0.1\t0\t0.1\t0.01\t0.01\t{d}\t-inf\t{n}\t-60\n".format(
                f=f, d=d, n=n) for f, d, n in ((100, -40, -50), (200, "-inf", -52), (400, "nan", "nan"),
                                                (800, -35, -55), (1600, -30, -56)))
        report = self.write("fit.txt", fit.format(mode="freq sweep", start="100", end="10000", steps="5",
                                                  interval="22050"))
        result = run([report, "-o", self.path("d.png"), "--dist", "--traces", "1,2"])
        self.assertEqual(result.returncode, 0, result.stderr)
        from ravplot_lib.report import read_report
        from ravplot_lib.traces import dist_traces
        found = {t.key: t for t in dist_traces(read_report(report, "fit", None), ["1", "2"])}
        self.assertEqual(list(found["dist 1"].step), [0, 3, 4])
        self.assertEqual(list(found["noise 1"].level), [-50, -52, -55, -56])
        self.assertEqual(len(found["dist 2"].step), 0)
        rising = self.write("r.txt", RISING)
        for args, status, words in (([rising, "-o", self.path("x.png"), "--dist"], 2, "r.txt has none (a report of ravan)"),
                                    ([report, "--frd", self.path("x"), "--dist"], 1, "give -o"),
                                    (["--directivity", self.dir.name, "-o", self.path("x.png"), "--dist"], 1,
                                     "--dist does not go with it")):
            result = run(args)
            self.assertEqual(result.returncode, status, result.stderr)
            self.assertIn(words, result.stderr)

    def test_calibration_and_delay_are_applied_exactly(self):
        report, cal = self.write("r.txt", RISING), self.write("cal.txt", CALIBRATION)
        result = run([report, "--frd", self.path("c"), "--cal", cal])
        self.assertEqual(result.returncode, 0, result.stderr)
        # Channel 1 less the correction, interpolated over log frequency:
        # at 1 kHz 0.699 of the way from 200 Hz to 2 kHz.
        self.assertEqual(self.data_lines("c_1.frd"), [
            "100.0000\t-0.5000\t-15.730", "1000.0000\t-2.8979\t-17.679", "10000.0000\t-4.5000\t-151.887"])
        self.assertEqual(self.data_lines("c_diff.frd")[0], "100.0000\t-1.0000\t-4.270")
        self.assertEqual(self.data_lines("c_2.frd")[0], "100.0000\t0.5000\t-11.459")
        self.assertIn("* corrected: calibration cal.txt on channel 1 (sensitivity -1.23 dB, not applied)",
                      self.read("c_1.frd").splitlines())
        self.assertIn("cal.txt covers 200 to 2000 Hz: held flat at 2 step(s) outside it", result.stderr)
        # Ten frames put back: 816.3 degrees more lag at 10 kHz, wrapped.
        result = run([report, "--frd", self.path("d"), "--delay", "10", "--traces", "1,diff"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.data_lines("d_1.frd"), [
            "100.0000\t-1.0000\t-13.893", "1000.0000\t-2.0000\t-110.281", "10000.0000\t-3.0000\t91.786"])
        self.assertEqual(self.data_lines("d_diff.frd")[0], "100.0000\t-1.5000\t-2.434")
        self.assertFalse(os.path.exists(self.path("d_2.frd")))

    def test_an_overlay_writes_each_report_under_its_label(self):
        first, second = self.write("woofer.txt", RISING), self.write("tweeter.txt", FALLING)
        result = run([first, second, "--frd", self.path("x"), "--traces", "diff"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(self.dir.name)), ["tweeter.txt", "woofer.txt", "x_tweeter_diff.frd",
                                                             "x_woofer_diff.frd"])
        self.assertEqual(self.data_lines("x_woofer_diff.frd")[2], "10000.0000\t-3.0000\t-171.887")
        self.assertEqual(self.data_lines("x_tweeter_diff.frd")[0], "19694.2000\t0.0000\t-0.001")
        self.assertIn("tweeter.txt: 1 line skipped: not complete rows", result.stderr)

    def test_bad_input_gets_a_message_never_a_traceback(self):
        with open(self.path("empty.txt"), "w"):
            pass
        cases = [
            (["-", "-o", self.path("x.png")], "just some text\n", 2),
            ([self.path("empty.txt"), "-o", self.path("x.png")], None, 2),
            ([self.path("missing.txt"), "-o", self.path("x.png")], None, 2),
            (["-", "-o", self.path("x.jpg")], FALLING, 1),
            (["-", "--frd", self.path("no/such/dir/x")], FALLING, 3),
            (["-", "-o", self.path("x.png")], SETTINGS.format(mode="freq sweep", start="1", end="2",
                                                              steps="201", interval="22050"), 2),
            (["-", "-o", self.path("x.png")], "numCyc\tduration\n1\t2\n", 2),
        ]
        for args, text, status in cases:
            result = run(args, text)
            self.assertEqual(result.returncode, status, (args, result.stderr))
            self.assertTrue(result.stderr.startswith("ravplot"), result.stderr)
            self.assertNotIn("Traceback", result.stderr)

    def test_hostile_input_and_surroundings(self):
        report = self.write("r.txt", RISING)
        polar = self.write("polar.txt", POLAR)
        falling_cal = self.write("falling.txt", "1000 0\n500 1\n")
        broken = {}
        for library in ("matplotlib", "numpy"):
            os.makedirs(self.path(os.path.join(library, library)))
            self.write(os.path.join(library, library, "__init__.py"), "raise ImportError('gone')\n")
            broken[library] = {"PYTHONPATH": self.path(library)}
        png = self.path("x.png")
        huge = self.write("huge.txt", "1e309\t1.7e308\t-1.7e308\t" * 4 + "\n")
        cases = [  # args, stdin, environment, status, start of the last line of stderr
            (["-", "--frd", ""], RISING, None, 1, "--frd needs a file name prefix"),
            (["-", "-o", ""], RISING, None, 1, "the picture must be"),
            (["-", "-o", png, "--delay", "1e400"], RISING, None, 1, "--delay takes frames"),
            (["-", "-o", png, "--traces", "3"], RISING, None, 1, "--traces takes"),
            (["-", "-o", png, "--bogus"], RISING, None, 1, "unrecognized arguments"),
            ([report, report, "-o", png, "--label", "a"], None, None, 1, "--label is given 1 times"),
            ([polar, "-o", png, "--delay", "auto"], None, None, 1, "--delay auto needs a sweep"),
            ([report, "-o", png, "--normalise"], None, None, 1, "--normalise applies to a polar run"),
            ([polar, "--frd", self.path("polar")], None, None, 1, polar + " would overwrite the input"),
            ([report, polar, "-o", png], None, None, 2, "cannot overlay a polar run"),
            (["-", "--frd", self.path("n")], ALL_NAN, None, 2, "standard input: no usable row"),
            (["-", "-o", png], ALL_NAN, None, 2, "standard input: no usable row"),
            (["-", "-o", png, "--cal", self.path("none.txt")], RISING, None, 2, "cannot read the calibration"),
            (["-", "-o", png, "--cal", falling_cal], RISING, None, 2, "falling.txt line 2: the frequencies must rise"),
            (["-", "-o", png, "--cal", huge], RISING, None, 2, "huge.txt line 1: a value out of range"),
            (["-", "-o", png], RISING, broken["matplotlib"], 4, "cannot load matplotlib"),
            (["-", "--frd", self.path("n")], RISING, broken["numpy"], 4, "cannot load numpy"),
            (["-", "-o", png], RISING, {"PYTHONPATH": ""}, 0, "ravplot: note"),
            (["-", "--frd", self.path("crlf")], RISING.replace("\n", "\r\n"), None, 0, "ravplot: note"),
            (["-", "--frd", self.path("big")], RISING.replace("\t-2\t0\t-2\t", "\t1.7e308\t-1.7e308\t1e999\t"),
             None, 0, "ravplot: note: the report"),
        ]
        for args, text, env, status, message in cases:
            result = run(args, text, env, process=True)
            self.assertEqual(result.returncode, status, (args, result.stderr))
            self.assertNotIn("Traceback", result.stderr)
            last = result.stderr.splitlines()[-1] if result.stderr else ""
            self.assertTrue(last.startswith(message if status == 0 else "ravplot: " + message), (args, last))
        self.assertIn("1 row skipped: out-of-range values",
                      run(["-", "--frd", self.path("big")], cases[-1][1]).stderr)
        closed = run(["-", "--frd", self.path("k")], RISING, close_stdout=True)
        self.assertEqual((closed.returncode, closed.stderr.splitlines()[-1]),
                         (3, "ravplot: cannot write to standard output"))
        self.write("ff.txt", RISING.replace("rec.wav", "\xff.wav").encode("latin-1"), "wb")
        result = run([self.path("ff.txt"), "--frd", self.path("ff")])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("* file name: ?.wav", self.read("ff_1.frd").splitlines())


class OutputRule(unittest.TestCase):
    """Every file ravplot writes: a regular file or a new name replaced
    whole, a link followed (the link stays), a FIFO or character device
    written through, a directory refused with status 3 naming it."""

    def test_each_kind_of_name(self):
        import stat
        import threading
        with tempfile.TemporaryDirectory() as folder:
            report = os.path.join(folder, "r.txt")
            with open(report, "w") as out:
                out.write(RISING)
            path = lambda name: os.path.join(folder, name)  # noqa: E731
            with open(path("old.png"), "w") as out:
                out.write("old")
            os.symlink("target.png", path("link.png"))
            os.symlink("missing.png", path("dangling.png"))
            os.mkfifo(path("fifo.png"))
            os.mkdir(path("folder.png"))
            heard = []
            reader = threading.Thread(target=lambda: heard.append(open(path("fifo.png"), "rb").read()))
            reader.start()
            for name, status, written in [("old.png", 0, "old.png"), ("new.png", 0, "new.png"),
                                          ("link.png", 0, "target.png"), ("dangling.png", 0, "missing.png"),
                                          ("fifo.png", 0, None), ("folder.png", 3, None)]:
                with self.subTest(name=name):
                    code, _, err = inside([report, "-o", path(name)])
                    self.assertEqual(code, status, err)
                    if written:
                        with open(path(written), "rb") as picture:
                            self.assertEqual(picture.read(8), b"\x89PNG\r\n\x1a\n")
            reader.join()
            self.assertEqual(heard[0][:4], b"\x89PNG")
            self.assertTrue(os.path.islink(path("link.png")) and os.path.islink(path("dangling.png")))
            self.assertTrue(stat.S_ISFIFO(os.lstat(path("fifo.png")).st_mode))
            self.assertEqual(err.strip(), "ravplot: cannot write {}: it is a directory".format(path("folder.png")))
            self.assertEqual(sorted(f for f in os.listdir(folder) if ".partial-" in f), [])


class RealReports(unittest.TestCase):
    """Reports of the programs themselves: a loopback sweep and polar run."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.reports = {}
        for name, args in [("sweep", []), ("polar", ["0", "1", "2000", "polar"])]:
            wav = os.path.join(cls.dir.name, name + ".wav")
            subprocess.run([RAVGEN, wav] + args, check=True, stdout=subprocess.DEVNULL)
            report = subprocess.run([RAVAN, wav] + args, check=True, capture_output=True, text=True).stdout
            cls.reports[name] = report
        # Channel 1 of the sweep 30 frames late.
        late = os.path.join(cls.dir.name, "late.wav")
        subprocess.run([RAVSIM, os.path.join(cls.dir.name, "sweep.wav"), late, "--delay", "30",
                        "--device-on", "1"], check=True, stdout=subprocess.DEVNULL)
        cls.reports["late"] = subprocess.run([RAVAN, late], check=True, capture_output=True, text=True).stdout

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def out(self, name):
        return os.path.join(self.dir.name, name)

    @unittest.skipUnless(os.path.exists(RAVFIT), "ravfit not built")
    def test_ravfit_reports_are_drawn_and_exported_as_they_stand(self):
        # ravsim's late channel 1: its phase falls 30 frames' worth against
        # the loopback; per step and on a log grid.
        late = os.path.join(self.dir.name, "late.wav")
        for name, extra in [("fit", []), ("fitppo", ["--ppo", "6"])]:
            report = self.out(name + ".txt")
            with open(report, "w") as out:
                subprocess.run([RAVFIT, late] + extra, check=True, stdout=out, stderr=subprocess.DEVNULL)
            result = run([report, "-o", self.out(name + ".png"), "--frd", self.out(name)])
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stderr, "")
            with open(report) as text:
                lines = text.read().splitlines()
            header = next(i for i, line in enumerate(lines) if line.startswith(("numCyc\t", "freq\t")))
            columns = lines[header].split("\t")
            rows = [dict(zip(columns, map(float, line.split("\t")))) for line in lines[header + 1:]]
            with open(self.out(name + "_1.frd")) as text:
                frd = [list(map(float, line.split("\t"))) for line in text.read().splitlines()
                       if not line.startswith("*")]
            self.assertEqual(len(frd), len(rows))
            for row, (frequency, level, degrees) in zip(rows, frd):
                self.assertAlmostEqual(frequency, row.get("actFreq", row.get("freq")), places=3)
                self.assertAlmostEqual(level, row["dB 1"], places=3)
                # The FRD sign: a lag is negative.
                self.assertAlmostEqual(degrees, -math.degrees(row["phase 1"]), delta=0.0011)
            # The uncertainty each level carries, for the picture's band;
            # beside ravan's report of the same take, each is named by its
            # reading.
            from ravplot_lib.command import Plan, _name_kinds
            from ravplot_lib.report import read_report
            from ravplot_lib.traces import Corrections, trace
            fitted = read_report(report, "fit", None)
            err = trace(fitted, "1", Corrections()).err
            self.assertEqual(len(err), len(rows))
            self.assertAlmostEqual(float(err[-1]), sorted(rows, key=lambda r: r.get("actFreq", r.get("freq")))[-1]
                                   ["err 1"], places=6)
            gated = self.out("gated.txt")
            with open(gated, "w") as out:
                subprocess.run([RAVAN, late], check=True, stdout=out)
            pair = [fitted, read_report(gated, "gated.txt", None)]
            _name_kinds(pair, Plan([report, gated, "-o", self.out("pair.png")]))
            self.assertEqual([r.label for r in pair], ["steady state", "gated"])
            self.assertIsNone(trace(pair[1], "1", Corrections()).err)

    def test_pictures_are_written_by_extension(self):
        for report, picture, signature in [("sweep", "s.png", b"\x89PNG"), ("sweep", "s.svg", b"<?xml"),
                                           ("polar", "p.png", b"\x89PNG")]:
            result = run(["-", "-o", self.out(picture)], self.reports[report])
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(self.out(picture), "rb") as image:
                self.assertEqual(image.read(len(signature)), signature)

    def test_delay_auto_finds_the_late_channel_and_overlays_draw(self):
        with open(self.out("late.txt"), "w") as report:
            report.write(self.reports["late"])
        result = run([self.out("late.txt"), "--frd", self.out("late"), "--delay", "auto", "--traces", "diff"])
        self.assertEqual(result.returncode, 0, result.stderr)
        label, frames, _ms = result.stdout.splitlines()[0].split("\t")
        self.assertEqual(label, "delay:")
        # Not exactly 30: the late burst fills less of ravan's window.
        self.assertAlmostEqual(float(frames.split()[0]), -30.0, delta=0.1)
        self.assertEqual(len(self.read_lines("late_diff.frd")), 201)
        for name in ("polar", "sweep"):
            with open(self.out(name + ".txt"), "w") as report:
                report.write(self.reports[name])
        for args in ([self.out("sweep.txt"), self.out("late.txt"), "--delay", "0", "--delay", "auto"],
                     [self.out("polar.txt"), self.out("polar.txt"), "--label", "a", "--label", "b", "--normalise"]):
            result = run(args + ["-o", self.out("overlay.png")])
            self.assertEqual(result.returncode, 0, result.stderr)

    def read_lines(self, name):
        with open(self.out(name)) as text:
            return [line for line in text.read().splitlines() if not line.startswith("*")]

    def test_ravplot_reads_the_columns_ravan_writes(self):
        from ravplot_lib.report import COLUMNS
        header = [line for line in self.reports["sweep"].splitlines() if line.startswith("numCyc")]
        self.assertEqual(header, ["\t".join(COLUMNS)])

    def test_loopback_frd_is_flat_and_rising(self):
        result = run(["-", "--frd", self.out("loop")], self.reports["sweep"])
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.out("loop_1.frd")) as text:
            rows = [line.split("\t") for line in text.read().splitlines() if not line.startswith("*")]
        self.assertEqual(len(rows), 201)
        frequencies = [float(row[0]) for row in rows]
        self.assertEqual(frequencies, sorted(set(frequencies)))
        self.assertEqual(rows[0], ["100.0000", "-0.0004", "0.000"])
        for row in rows:
            self.assertLess(abs(float(row[1])), 0.001)
            self.assertLess(abs(float(row[2])), 0.01)


class Hostile(unittest.TestCase):
    """Input that once drew a wrong picture or never ended: a clear line and
    a status, or a right picture."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def write(self, name, text):
        path = os.path.join(self.dir.name, name)
        with open(path, "w") as out:
            out.write(text)
        return path

    def test_each_case_ends_with_its_status_and_line(self):
        png = os.path.join(self.dir.name, "x.png")
        one_step = POLAR.replace(" num steps:\t72", " num steps:\t1")
        too_many = POLAR + POLAR.split("interval:\t44100\n", 1)[1].split("\n", 1)[1] * 30
        cases = [  # args, stdin, status, start of the last line of stderr
            (["-", "-o", png], RISING.split("1\t10\t1000")[0], 0, ""),
            (["-", "-o", png], one_step, 2, "ravplot: standard input: a polar run of one step"),
            (["-", "-o", png], too_many, 2, "ravplot: standard input: a polar run of 72 steps cannot hold"),
            (["-", "-o", png, "--cal", self.write("phase.txt", "100 0 1e300\n200 0 0\n")], RISING, 2,
             "ravplot: phase.txt line 1: a value out of range"),
            (["-", "-o", png, "--cal", self.write("mixed.txt", "100 0 1\n200 0\n")], RISING, 2,
             "ravplot: mixed.txt line 2: lacks a phase"),
            (["/dev/zero", "-o", png], None, 2, "ravplot: zero: line 1 is longer than 65536 bytes"),
            (["/dev/urandom", "-o", png], None, 2, "ravplot: urandom: no column header found"),
            (["-", "--cal", "/dev/zero", "-o", png], RISING, 2, "ravplot: zero: line 1 is longer"),
            (["-", "--traces", "bkg", "--frd", os.path.join(self.dir.name, "x")], RISING, 1,
             "ravplot: FRD files hold 1, 2 or diff; --traces names none of them (usage: ravplot"),
            (["-", "-o", png, "--delay", "-1e2"], RISING, 0, ""),
            (["-", "--impedance", "10", "--frd", "x"], RISING, 1, "ravplot: --impedance draws an impedance"),
            (["-", "--impedance", "0"], RISING, 1, "ravplot: --impedance takes a number above 0"),
            (["-", "--impedance", "10"], RISING, 2, "ravplot: standard input: the column header on line 11 is not "
             "ravfit's"),
        ]
        for args, text, status, message in cases:
            result = run(args, text)
            self.assertEqual(result.returncode, status, (args, result.stderr))
            self.assertNotIn("Traceback", result.stderr)
            last = result.stderr.splitlines()[-1] if result.stderr else ""
            self.assertTrue(last.startswith(message), (args, last))

    def test_a_delay_is_exact_at_every_frequency(self):
        import numpy
        from ravplot_lib.report import parse_report
        from ravplot_lib.traces import Corrections, trace
        rows = "".join("1\t10\t{0}\t{0}\t1\t1\t0\t0\t0\t0\t0\t0\t-80\t-81\n".format(100 * 1.0233 ** k)
                       for k in range(201))
        report = parse_report(enumerate((SETTINGS.format(mode="freq sweep", start="100", end="10000",
                                                         steps="201", interval="22050") + rows).splitlines(), 1),
                              "-", "r")
        for frames in (150.0, 441000.0):
            found = trace(report, "1", Corrections(frames))
            expected = 2 * numpy.pi * found.frequency * frames / 44100.0
            self.assertLess(float(numpy.abs(found.phase - expected).max()), 1e-9, frames)


def skip_without_scipy():
    """Skips the test class where scipy, which --impedance and these tests
    need, is missing."""
    try:
        import scipy.optimize  # noqa: F401
        import scipy.signal  # noqa: F401
    except ImportError:
        raise unittest.SkipTest("install python3-scipy")


def driver_recording(stimulus, path, fs, qms, ohms, qes=0.4, re=6.0, le=0.5e-3, noise_db=60.0):
    """The generator's file through a driver (Re, Le, Fs, Qms, Qes) behind a
    series resistor: channel 1 across the driver, channel 2 at the
    amplifier's side; the divider as a digital filter (bilinear transform of
    the driver's model), 16 bits, white noise `noise_db` below the burst's
    peak. Returns the divider's coefficients."""
    import numpy
    import wave
    from scipy import signal
    ws = 2 * math.pi * fs
    res = re * qms / qes
    d = numpy.array([1 / ws ** 2, 1 / (qms * ws), 1.0])
    zn = numpy.polyadd(numpy.polymul([le, re], d), [res / (qms * ws), 0.0])
    b, a = signal.bilinear(zn, numpy.polyadd(zn, ohms * d), fs=44100.0)
    with wave.open(stimulus, "rb") as w:
        drive = 0.5 * numpy.frombuffer(w.readframes(w.getnframes()), dtype="<i2").reshape(-1, 2)[:, 0]
    both = numpy.stack([signal.lfilter(b, a, drive), drive], axis=1)
    both += numpy.random.default_rng(1).normal(0, 24000 * 10 ** (-noise_db / 20), both.shape)
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(44100)
        w.writeframes(numpy.clip(numpy.round(both), -32768, 32767).astype("<i2").tobytes())
    return b, a


@unittest.skipUnless(os.path.exists(RAVFIT), "ravfit not built")
class Impedance(unittest.TestCase):
    """Drivers simulated behind a series resistor, through ravfit and
    ravplot --impedance: the curve and the parameters against the model."""

    @classmethod
    def setUpClass(cls):
        skip_without_scipy()
        cls.dir = tempfile.TemporaryDirectory()
        cls.stimulus = os.path.join(cls.dir.name, "driver.wav")
        subprocess.run([RAVGEN, cls.stimulus, "22050", "1", "20"], check=True, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    # The reports made so far, by driver: the same driver is recorded once.
    made = {}

    def fitted(self, name, fs, qms, ohms, qes=0.4):
        key = (fs, qms, ohms, qes)
        if key not in self.made:
            self.made[key] = self.fit_once(name, fs, qms, ohms, qes)
        report, coefficients = self.made[key]
        named = os.path.join(self.dir.name, name + ".txt")
        if report != named:
            shutil.copyfile(report, named)
        return named, coefficients

    def fit_once(self, name, fs, qms, ohms, qes):
        wav = os.path.join(self.dir.name, name + ".wav")
        coefficients = driver_recording(self.stimulus, wav, fs, qms, ohms, qes)
        report = os.path.join(self.dir.name, name + ".txt")
        with open(report, "w") as out:
            subprocess.run([RAVFIT, wav, "22050", "1", "20"], check=True, stdout=out, stderr=subprocess.DEVNULL)
        return report, coefficients

    def test_parameters_and_the_curve_at_resonance(self):
        import numpy
        from scipy import signal
        for fs, qms in ((40.0, 5.0), (30.0, 8.0)):
            for ohms in (10.0, 33.0):
                name = "d{:g}_{:g}".format(fs, ohms)
                report, (b, a) = self.fitted(name, fs, qms, ohms)
                prefix = os.path.join(self.dir.name, name)
                result = run([report, "--impedance", str(ohms), "--zma", prefix, "-o", prefix + ".png"])
                self.assertEqual(result.returncode, 0, result.stderr)
                found = dict(line.split(":\t") for line in result.stdout.splitlines() if ":\t" in line)
                value = {key: float(found[key].split()[0]) for key in ("Fs", "Qms", "Qes", "Re")}
                for key, truth in (("Fs", fs), ("Qms", qms), ("Qes", 0.4), ("Re", 6.0)):
                    self.assertLess(abs(value[key] / truth - 1), 0.01, (name, key, value[key]))
                with open(prefix + ".zma") as text:
                    rows = [line.split(" ") for line in text.read().splitlines() if not line.startswith("*")]
                frequency = numpy.array([float(r[0]) for r in rows])
                near = int(numpy.argmin(numpy.abs(frequency - fs)))
                _, h = signal.freqz(b, a, worN=[frequency[near]], fs=44100.0)
                truth = abs(ohms * h[0] / (1 - h[0]))
                self.assertLess(abs(float(rows[near][1]) / truth - 1), 0.005, (name, rows[near], truth))
                print("{}: Fs {Fs:.3f} Qms {Qms:.3f} Qes {Qes:.4f} Re {Re:.4f}; |Z| {z} of {t:.4f} at {f}".format(
                    name, z=rows[near][1], t=truth, f=rows[near][0], **value))

    def test_zma_format_and_mass_added(self):
        free, _ = self.fitted("free", 40.0, 5.0, 10.0)
        # 20 g of moving mass, 10 g added: Fs and both Q rise as sqrt(1.5).
        loaded, _ = self.fitted("loaded", 40.0 / math.sqrt(1.5), 5.0 * math.sqrt(1.5), 10.0, 0.4 * math.sqrt(1.5))
        prefix = os.path.join(self.dir.name, "pair")
        result = run([free, loaded, "--impedance", "10", "--sd", "200", "--added-mass", "10", "--zma", prefix])
        self.assertEqual(result.returncode, 0, result.stderr)
        found = dict(line.split(":\t") for line in result.stdout.splitlines() if ":\t" in line)
        # Vas = rho c^2 Sd^2 Cms with air at 20 degrees C.
        vas = 1.204 * 343.0 ** 2 * 0.02 ** 2 * 0.79158e-3 * 1e3
        self.assertEqual(found["air"], "1.204 kg/m^3, 343.0 m/s at 20 degrees C")
        for key, truth in (("Mms", 20.0), ("Cms", 0.79158), ("Bl", 8.6832), ("Vas", vas)):
            self.assertLess(abs(float(found[key].split()[0]) / truth - 1), 0.02, (key, found[key]))
        print("mass added: " + ", ".join("{} {}".format(k, found[k]) for k in ("Mms", "Cms", "Bl", "Vas")))
        # The same driver in a sealed box of its Vas: Fs and both Q rise as sqrt(2).
        boxed, _ = self.fitted("boxed", 40.0 * math.sqrt(2), 5.0 * math.sqrt(2), 10.0, 0.4 * math.sqrt(2))
        result = run([free, boxed, "--impedance", "10", "--sd", "200", "--volume", "{:.2f}".format(vas)])
        self.assertEqual(result.returncode, 0, result.stderr)
        found = dict(line.split(":\t") for line in result.stdout.splitlines() if ":\t" in line)
        for key, truth in (("Mms", 20.0), ("Vas", vas), ("Bl", 8.6832)):
            self.assertLess(abs(float(found[key].split()[0]) / truth - 1), 0.02, (key, found[key]))
        with open(prefix + "_free.zma") as text:
            lines = text.read().splitlines()
        self.assertEqual(lines[:2], ["* impedance of free.txt", "* series resistor 10 ohms, leads 0 ohms taken off"])
        header = lines.index("* frequency Hz, magnitude ohms, phase degrees")
        self.assertTrue(all(line.startswith("* ") for line in lines[:header]))
        self.assertRegex(lines[header + 1], r"^20\.000 \d+\.\d{4} -?\d+\.\d{3}$")
        self.assertEqual(len(lines), header + 1 + 201)

    def test_a_resistor_has_no_parameters(self):
        wav = os.path.join(self.dir.name, "resistor.wav")
        # 8 ohms behind 10: channel 1 at 8/18 of channel 2.
        subprocess.run([RAVSIM, self.stimulus, wav, "--gain", str(20 * math.log10(8 / 18)), "--device-on", "1"],
                       check=True, stdout=subprocess.DEVNULL)
        report = os.path.join(self.dir.name, "resistor.txt")
        with open(report, "w") as out:
            subprocess.run([RAVFIT, wav, "22050", "1", "20"], check=True, stdout=out, stderr=subprocess.DEVNULL)
        result = run([report, "--impedance", "10", "--zma", os.path.join(self.dir.name, "r")])
        self.assertEqual(result.returncode, 2)
        self.assertNotIn("Fs:", result.stdout)
        self.assertIn("has no resonance peak", result.stderr.splitlines()[-1])


def driver_impedance(frequency, re, fs, qms, qes, mms, coil):
    """A driver's impedance from its physics: Re, the coil's impedance
    `coil(w)` and the motional impedance Bl^2 / (jw Mms + Rms + 1 / (jw Cms)),
    with Bl, Cms and Rms worked out from Fs, Qms, Qes and Mms."""
    w_s = 2 * math.pi * fs
    cms, rms, bl = 1 / (w_s ** 2 * mms), w_s * mms / qms, math.sqrt(w_s * mms * re / qes)
    w = 2 * math.pi * frequency
    return re + coil(w) + bl ** 2 / (1j * w * mms + rms + 1 / (1j * w * cms))


def divider_report(path, frequency, z, ohms, noise_db, seed=1):
    """A ravfit --ppo report of `z` behind `ohms`: channel 1 reads Z / (Z + R)
    of channel 2, each reading with complex noise `noise_db` below itself."""
    import numpy
    rng = numpy.random.default_rng(seed)
    scale = 10 ** (-noise_db / 20) / math.sqrt(2)
    v1, v2 = [v * (1 + scale * (rng.normal(size=len(z)) + 1j * rng.normal(size=len(z))))
              for v in (z / (z + ohms), numpy.ones_like(z))]
    with open(path, "w") as out:
        out.write("freq\tdB 1\tdB 2\tdB diff\tphase 1\tphase 2\tphase diff\terr 1\terr 2\n")
        for f, a, b in zip(frequency, v1, v2):
            levels = [20 * math.log10(abs(x)) for x in (a, b, a / b)]
            phases = [-float(numpy.angle(x)) for x in (a, b, a / b)]
            out.write("\t".join("{:.7g}".format(x) for x in [f] + levels + phases + [0.0, 0.0]) + "\n")


def inside(args):
    """ravplot run in this process: (status, standard output, standard error)."""
    result = run(args)
    return result.returncode, result.stdout, result.stderr


def parameters(text):
    return {key: value for key, _, value in (line.partition(":\t") for line in text.splitlines()) if value}


# Drivers with lossy coils (Re, Fs, Qms, Qes, Mms, coil, the model that
# should be chosen): a full-range driver with a semi-inductance, a woofer
# with two lossy sections, one whose coil follows the two-exponent form, and
# a mid-woofer whose plain Le rises above its resonance's peak by 20 kHz.
DRIVERS = {
    "full-range": (3.4, 85.0, 3.0, 0.6, 0.004, lambda w: 0.005 * (1j * w) ** 0.65, "semi-inductance"),
    "two sections": (6.2, 28.0, 5.0, 0.38, 0.030, lambda w: 1j * w * 0.3e-3 + 1j * w * 1.2e-3 * 12 /
                     (12 + 1j * w * 1.2e-3) + 1j * w * 0.6e-3 * 40 / (40 + 1j * w * 0.6e-3), "L3||R3"),
    "two exponents": (5.8, 38.0, 4.5, 0.45, 0.020, lambda w: 0.01 * w ** 0.72 + 0.02j * w ** 0.68, "two-exponent"),
    "mid-woofer": (5.6, 45.0, 4.0, 0.5, 0.012, lambda w: 0.8e-3j * w, "Le"),
}


class DriverModels(unittest.TestCase):
    """ravplot --impedance on impedances computed from drivers' physics,
    turned into reports by the divider's arithmetic."""

    @classmethod
    def setUpClass(cls):
        import numpy
        skip_without_scipy()
        cls.dir = tempfile.TemporaryDirectory()
        cls.frequency = numpy.geomspace(20.0, 20000.0, 240)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def report(self, name, noise_db=80.0, ohms=10.0):
        re, fs, qms, qes, mms, coil, _ = DRIVERS[name]
        path = os.path.join(self.dir.name, "{} {:g}.txt".format(name, noise_db))
        divider_report(path, self.frequency, driver_impedance(self.frequency, re, fs, qms, qes, mms, coil),
                       ohms, noise_db)
        return path

    def test_every_parameter_of_a_lossy_coil_within_one_percent(self):
        import numpy
        for name, (re, fs, qms, qes, mms, coil, model) in DRIVERS.items():
            for noise_db in (60.0, 80.0):
                with self.subTest(driver=name, noise=noise_db):
                    status, out, err = inside([self.report(name, noise_db), "--impedance", "10"])
                    self.assertEqual(status, 0, err)
                    found = parameters(out)
                    self.assertIn(model, found["coil model"])
                    truth = {"Re": re, "Fs": fs, "Qms": qms, "Qes": qes, "Qts": qms * qes / (qms + qes),
                             "Res": re * qms / qes}
                    for key, value in truth.items():
                        limit = 0.005 if key == "Re" else 0.01
                        self.assertLess(abs(float(found[key].split()[0]) / value - 1), limit, (key, found[key]))
                    # At 60 dB the readings' noise alone leaves about 0.5 % of |Z| near a
                    # high peak (|dZ / Z| = |dV / V| (|Z| + R) / R); at 80 dB the residual
                    # is the model's.
                    if noise_db >= 80.0:
                        self.assertLess(float(found["fit residual"].split()[0]), 0.5)
                    z = numpy.abs(driver_impedance(numpy.geomspace(fs / 2, fs * 2, 20001), re, fs, qms, qes, mms,
                                                   coil))
                    self.assertLess(abs(float(found["Zmax"].split()[0]) / z.max() - 1), 0.01, found["Zmax"])
                    print("{} at {:g} dB: {}".format(name, noise_db, out.replace("\n", "; ")))
        top = driver_impedance(self.frequency[-1:], *DRIVERS["mid-woofer"][:6])
        peak = driver_impedance(numpy.array([45.0]), *DRIVERS["mid-woofer"][:6])
        self.assertGreater(abs(top[0]), abs(peak[0]), "the mid-woofer's coil should top its resonance")

    def test_a_given_re_is_kept_and_the_rest_fitted_around_it(self):
        status, out, err = inside([self.report("full-range", 60.0), "--impedance", "10", "--re", "3.4"])
        self.assertEqual(status, 0, err)
        found = parameters(out)
        self.assertEqual(found["Re"], "3.400 ohms (given)")
        for key, truth in (("Fs", 85.0), ("Qms", 3.0), ("Qes", 0.6)):
            self.assertLess(abs(float(found[key].split()[0]) / truth - 1), 0.01, (key, found[key]))

    def test_inputs_that_leave_no_driver_are_refused_and_write_nothing(self):
        report = self.report("mid-woofer")
        zma = os.path.join(self.dir.name, "refused")
        for options, words in [(["--lead", "5.7"], "--lead 5.7 ohms is at or above the smallest |Z|"),
                               (["--lead", "5.59"], "--lead 5.59 ohms is more than half the smallest |Z|"),
                               (["--lead", "100"], "--lead 100 ohms is at or above"),
                               (["--re", "7"], "--re 7 ohms is above the driver's smallest |Z|")]:
            with self.subTest(options=options):
                status, out, err = inside([report, "--impedance", "10", "--zma", zma, "-o", zma + ".png"] + options)
                self.assertEqual(status, 2, err)
                self.assertIn(words, err)
                self.assertNotIn("Qes", out)
                self.assertFalse(os.path.exists(zma + ".zma") or os.path.exists(zma + ".png"))
        status, out, err = inside([report, "--impedance", "10", "--lead", "0.5"])
        self.assertEqual(status, 0, err)
        self.assertLess(abs(float(parameters(out)["Re"].split()[0]) / 5.1 - 1), 0.005, out)


def spin_set(folder, directivity, planes=("hor", "ver"), frequency=None, delay=None, vertical=None):
    """A set of ravfit --ppo reports at the orbits' angles, named as
    --spinorama reads them: `directivity(theta, f)` gives the pressure at
    angle theta (radians) from the front axis against on-axis (`vertical`
    in the vertical orbit, where given)."""
    import numpy
    frequency = numpy.geomspace(100.0, 10000.0, 31) if frequency is None else frequency
    for plane in planes:
        source = vertical if plane == "ver" and vertical is not None else directivity
        for angle in range(-170, 181, 10):
            if plane == "ver" and angle in (0, 180):
                continue
            level = 20 * numpy.log10(numpy.maximum(source(math.radians(angle), frequency), 1e-9))
            # The report's phase is a lag, positive.
            lag = 2 * math.pi * frequency * (delay(math.radians(angle)) if delay else 0.0)
            with open(os.path.join(folder, "box {} {:+d}.txt".format(plane, angle)), "w") as out:
                out.write("freq\tdB 1\tdB 2\tdB diff\tphase 1\tphase 2\tphase diff\terr 1\terr 2\n")
                for f, db, p in zip(frequency, level, lag):
                    out.write("\t".join("{:.9g}".format(x) for x in [f, db, 0, db, p, 0, p, 0, 0]) + "\n")


class DirectivitySets(unittest.TestCase):
    """Sets of reports at angles, made from analytic sources: the CTA-2034
    curves, and the FRD files per angle on one time reference."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.set = os.path.join(self.dir.name, "box")
        os.mkdir(self.set)

    def csv(self):
        with open(os.path.join(self.dir.name, "spin.csv")) as text:
            lines = [line for line in text.read().splitlines() if not line.startswith("#")]
        names = lines[0].split(",")
        return {name: [float(row.split(",")[i]) for row in lines[1:]] for i, name in enumerate(names)}

    def test_weights_and_sources_whose_sound_power_is_known(self):
        from ravplot_lib.spinorama import sphere_weights
        weights = sphere_weights()
        self.assertEqual(len(weights), 70)
        self.assertAlmostEqual(sum(weights.values()), 1.0, places=12)
        # (pressure at theta, sound power against on-axis in dB): an omni;
        # pressure squared linear in cos theta, which the zones integrate
        # exactly (mean 1/2); a cardioid (mean of D^2 over the sphere 1/3).
        sources = [(lambda t: 1.0, 0.0, 0.05), (lambda t: math.sqrt((1 + math.cos(t)) / 2), -3.0103, 0.001),
                   (lambda t: (1 + math.cos(t)) / 2, -4.7712, 0.05)]
        for directivity, power, tolerance in sources:
            with self.subTest(power=power):
                for name in os.listdir(self.set):
                    os.remove(os.path.join(self.set, name))
                spin_set(self.set, lambda t, f: directivity(t) + 0 * f)
                result = run(["--spinorama", self.set, "--csv", os.path.join(self.dir.name, "spin.csv")])
                self.assertEqual(result.returncode, 0, result.stderr)
                curves = self.csv()
                self.assertLess(max(abs(v - power) for v in curves["Sound Power"]), tolerance)
                self.assertLess(max(abs(v) for v in curves["On Axis"]), 1e-6)
                if power == 0.0:
                    for name in ("Early Reflections DI", "Sound Power DI", "Estimated In-Room Response"):
                        self.assertLess(max(abs(v) for v in curves[name]), 1e-6, name)

    def test_curves_are_the_definitions(self):
        import numpy
        skip_without_scipy()
        # Wider in the vertical orbit than in the horizontal, and lopsided:
        # louder to the right and upwards.
        def horizontal(t, f):
            return piston(0.1)(t, f) * (1 + 0.3 * math.sin(t))

        def vertical(t, f):
            return piston(0.05)(t, f) * (1 + 0.2 * math.sin(t))
        spin_set(self.set, horizontal, vertical=vertical)
        result = run(["--spinorama", self.set, "--csv", os.path.join(self.dir.name, "spin.csv")])
        self.assertEqual(result.returncode, 0, result.stderr)
        found = self.csv()
        frequency = numpy.array(found["frequency Hz"])

        def power(plane, angle):
            source = vertical if plane == "ver" and angle not in (0, 180) else horizontal
            return numpy.maximum(source(math.radians(angle), frequency), 1e-9) ** 2

        def mean(points):
            return sum(power(p, a) for p, a in points) / len(points)

        hor = [("hor", a) for a in range(-170, 181, 10)]
        ver = [("ver", a) for a in range(-170, 181, 10) if a not in (0, 180)]
        window = mean([("hor", 0), ("ver", 10), ("ver", -10)] + [("hor", a) for a in (10, -10, 20, -20, 30, -30)])
        parts = [mean([("ver", -20), ("ver", -30), ("ver", -40)]), mean([("ver", 40), ("ver", 50), ("ver", 60)]),
                 mean([("hor", a) for a in (0, 10, -10, 20, -20, 30, -30)]),
                 mean([("hor", s * a) for a in (40, 50, 60, 70, 80) for s in (1, -1)]),
                 mean([("hor", 90), ("hor", -90), ("hor", 180)])]
        early = sum(parts) / 5

        # Each point stands for its 10-degree zone of the sphere, shared by
        # the points at its angle from the front axis; 0 and 180 for caps.
        def zone(angle):
            t = abs(angle) if abs(angle) <= 180 else 360 - abs(angle)
            low, high = math.radians(max(t - 5, 0)), math.radians(min(t + 5, 180))
            share = 1 if t in (0, 180) else 4
            return (math.cos(low) - math.cos(high)) / 2 / share
        sound = sum(zone(a) * power(p, a) for p, a in hor + ver)
        room = 0.12 * window + 0.44 * early + 0.44 * sound
        truth = {"Listening Window": window, "Early Reflections": early, "Sound Power": sound,
                 "Estimated In-Room Response": room, "Floor": parts[0], "Ceiling": parts[1],
                 "Front Wall": parts[2], "Side Wall": parts[3], "Rear Wall": parts[4]}
        truth = {name: 10 * numpy.log10(value) for name, value in truth.items()}
        truth["Early Reflections DI"] = truth["Listening Window"] - truth["Early Reflections"]
        truth["Sound Power DI"] = truth["Listening Window"] - truth["Sound Power"]
        for name, curve in truth.items():
            self.assertLess(numpy.abs(numpy.array(found[name]) - curve).max(), 0.01, name)

    def test_one_orbit_is_said_and_a_missing_angle_named(self):
        spin_set(self.set, lambda t, f: (1 + math.cos(t)) / 2 + 0 * f, planes=("hor",))
        picture = os.path.join(self.dir.name, "spin.png")
        result = run(["--spinorama", self.set, "-o", picture])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("orbits: horizontal only; the vertical is taken equal to the horizontal", result.stdout)
        self.assertTrue(os.path.getsize(picture) > 0)
        out = os.path.join(self.dir.name, "frd")
        os.mkdir(out)
        result = run(["--directivity", self.set, "--frd", out, "--naming", "spinorama"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(len(os.listdir(out)), 36)
        self.assertTrue(os.path.exists(os.path.join(out, "box_H -30.txt")))
        os.remove(os.path.join(self.set, "box hor +50.txt"))
        result = run(["--spinorama", self.set, "-o", picture])
        self.assertEqual(result.returncode, 2)
        self.assertIn("lacks 1 of its 36 measurements: hor +50", result.stderr)


    def test_frd_files_per_angle_on_the_on_axis_time_reference(self):
        # A point source 0.1 m off the rotation axis, 2 m away: each angle's
        # path length gives its delay and 1/r level exactly.
        def path(t):
            return math.sqrt(2.0 ** 2 + 0.1 ** 2 - 2 * 2.0 * 0.1 * math.cos(t))
        spin_set(self.set, lambda t, f: 1.9 / path(t) + 0 * f, delay=lambda t: path(t) / 343.0)
        out = os.path.join(self.dir.name, "frd")
        os.mkdir(out)
        result = run(["--directivity", self.set, "--frd", out, "--delay", "auto", "-o",
                      os.path.join(self.dir.name, "map.png")])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("delay taken off:\t244.29 frames\t5.539 ms", result.stdout)   # 1.9 m at 343 m/s
        names = sorted(os.listdir(out))
        self.assertEqual(len(names), 70)
        for name in ("box hor 0.frd", "box hor 180.frd", "box hor +30.frd", "box ver -30.frd"):
            self.assertIn(name, names)
        for plane, angle in (("hor", 30), ("ver", -30), ("hor", 180)):
            t = math.radians(angle)
            name = "box {} {}.frd".format(plane, angle if angle == 180 else "{:+d}".format(angle))
            with open(os.path.join(out, name)) as text:
                lines = text.read().splitlines()
            self.assertIn("* plane: {}, angle: {:+d} degrees".format(
                "horizontal" if plane == "hor" else "vertical", angle), lines)
            for line in lines:
                if line.startswith("*"):
                    continue
                f, level, phase = (float(v) for v in line.split("\t"))
                later = (path(t) - 1.9) / 343.0
                expected = (-360.0 * f * later + 180.0) % 360.0 - 180.0
                self.assertLess(abs((phase - expected + 180.0) % 360.0 - 180.0), 0.01, (name, f))
                self.assertLess(abs(level - 20 * math.log10(1.9 / path(t))), 1e-3, (name, f))


def frd_response(path):
    """An FRD file's rows as {frequency: complex response}."""
    import numpy
    response = {}
    with open(path) as text:
        for line in text.read().splitlines():
            if not line.startswith("*"):
                f, level, phase = (float(v) for v in line.split("\t"))
                response[f] = 10 ** (level / 20) * numpy.exp(1j * numpy.radians(phase))
    return response


@unittest.skipUnless(os.path.exists(RAVFIT) and os.path.exists(TWO_WAY_TAKES), "ravfit or two_way_takes not built")
class TwoWayTakes(unittest.TestCase):
    """A builder's three takes of a two-way loudspeaker at one microphone
    position (woofer, tweeter, both; 48000 Hz, the recorder's own clock, a
    latency of its own per take), through ravfit --ppo and ravplot's FRD
    files: the drivers' files must sum to the whole speaker's."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        folder = cls.dir.name
        subprocess.run([TWO_WAY_TAKES, folder, "22050", "1", "200"], check=True)
        cls.reports = []
        for name in ("woofer", "tweeter", "whole"):
            report = os.path.join(folder, name + ".txt")
            with open(report, "w") as out:
                subprocess.run([RAVFIT, os.path.join(folder, name + ".wav"), "22050", "1", "200", "--ppo", "24"],
                               check=True, stdout=out)
            cls.reports.append(report)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_the_drivers_files_sum_to_the_whole_speakers(self):
        import numpy
        labels = ["--label", "woofer", "--label", "tweeter", "--label", "whole"]
        # No delay taken off; one taken off all (the earliest arrival); each
        # report's own, asked for once per report, which loses the timing.
        for delays, holds in (([], True), (["--delay", "auto"], True), (["--delay", "auto"] * 3, False)):
            with self.subTest(delays=delays):
                prefix = os.path.join(self.dir.name, "2way")
                result = run(self.reports + labels + delays + ["--traces", "diff", "--frd", prefix])
                self.assertEqual(result.returncode, 0, result.stderr)
                if len(delays) == 2:
                    self.assertIn("delay from:\twhole (the earliest arrival; taken off every report)",
                                  result.stdout)
                woofer, tweeter, whole = (frd_response("{}_{}_diff.frd".format(prefix, name))
                                          for name in ("woofer", "tweeter", "whole"))
                # A driver's file leaves out where ravfit found it in its
                # noise: the other driver stands 60 dB above it there.
                band = [f for f in whole if 200 <= f <= 15000]
                ratio = numpy.array([(woofer.get(f, 0) + tweeter.get(f, 0)) / whole[f] for f in band])
                level, phase = numpy.abs(20 * numpy.log10(numpy.abs(ratio))), numpy.abs(numpy.degrees(numpy.angle(ratio)))
                self.assertGreater(len(band), 140)
                if holds:
                    self.assertLess(level.max(), 0.1)
                    self.assertLess(phase.max(), 1.0)
                    print("two-way sum against the whole, {}: {:.4f} dB, {:.3f} deg over {} points".format(
                        " ".join(delays) or "no delay", level.max(), phase.max(), len(band)))
                else:
                    self.assertGreater(phase.max(), 10.0)

    def test_grid_points_left_out_are_gaps_and_a_delay_is_unwrapped_out(self):
        import numpy
        from ravplot_lib.report import parse_report
        from ravplot_lib.traces import Corrections, trace
        with open(self.reports[1]) as text:
            lines = text.read().splitlines()
        rows = lines.index("\t".join(FIT_GRID_HEADER)) + 1
        del lines[rows + 40]  # a point ravfit left out
        tweeter = trace(parse_report(enumerate(lines, 1), "-", "tweeter"), "diff", Corrections(-128.96))
        places = numpy.diff(tweeter.step)
        self.assertEqual(list(numpy.nonzero(places != 1)[0]), [39])
        self.assertEqual(places[39], 2)
        # Taken out, the delay leaves a phase that turns slowly: unwrapped
        # after the delay is taken out, not before.
        self.assertLess(numpy.abs(numpy.diff(tweeter.phase)).max(), 0.5)


FIT_STEP_HEADER = ["numCyc", "duration", "nomFreq", "actFreq", "dB 1", "dB 2", "dB diff", "phase 1", "phase 2",
                   "phase diff", "err 1", "err 2", "dist 1", "dist 2", "noise 1", "noise 2"]
FIT_GRID_HEADER = ["freq", "dB 1", "dB 2", "dB diff", "phase 1", "phase 2", "phase diff", "err 1", "err 2"]


def piston(radius):
    """A rigid circular piston in an infinite baffle: pressure against
    on-axis 2 J1(ka sin t) / (ka sin t) in front, nothing behind."""
    from scipy.special import j1

    def directivity(t, f):
        import numpy
        if math.cos(t) <= 0:
            return 0 * f
        x = 2 * math.pi * f / 343.0 * radius * math.sin(t)
        return numpy.abs(numpy.where(x == 0, 1.0, 2 * j1(x) / numpy.where(x == 0, 1.0, x)))
    return directivity


class PistonSet(unittest.TestCase):
    """The map and the polar plots of a piston's set."""

    def test_polar_levels_are_the_pistons_and_its_beam_narrows(self):
        import numpy
        skip_without_scipy()
        with tempfile.TemporaryDirectory() as folder:
            box = os.path.join(folder, "box")
            os.mkdir(box)
            spin_set(box, piston(0.1))
            picture = os.path.join(folder, "map.png")
            result = run(["--directivity", box, "-o", picture, "--polar-at", "1000,4000,10000"])
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertGreater(os.path.getsize(picture), 0)
            result = run(["--directivity", box, "-o", picture, "--polar-at", "20000"])
            self.assertEqual(result.returncode, 2)
            self.assertIn("--polar-at 20000 Hz lies outside the set's 100 to 10000 Hz", result.stderr)
            from ravplot_lib.directivity import map_levels, polar_levels, set_frd_files
            _, _, reports = set_frd_files(box, folder, 0.0, "plain")
            orbit = polar_levels(map_levels(reports), [1000.0, 4000.0, 10000.0])["hor"]
        angles, levels = orbit
        self.assertEqual((angles[0], angles[-1]), (-170, 190))
        widths = []
        for f, level in zip((1000.0, 4000.0, 10000.0), levels):
            truth = [20 * math.log10(max(float(piston(0.1)(math.radians(a), numpy.array([f]))[0]), 1e-9))
                     for a in angles]
            # 1000 and 10000 Hz lie on the set's grid: exact in front; 4000 Hz
            # between two of its points, read over log frequency: close in
            # the main lobe (near a null a level moves fast with frequency).
            if f == 4000.0:
                kept = [(l, t) for l, t in zip(level, truth) if t > -6.0]
            else:
                kept = [(l, t) for l, t, a in zip(level, truth, angles) if abs(a) < 90 or a > 270]
            self.assertLess(max(abs(l - t) for l, t in kept), 0.01 if f != 4000.0 else 0.5, f)
            widths.append(sum(1 for l in level[:-1] if l > -6.0))
        self.assertEqual(widths, sorted(widths, reverse=True))
        self.assertGreater(widths[0], widths[-1])


def missing_package():
    """The Debian package of a library ravplot needs that this Python lacks."""
    for module, package in [("numpy", "python3-numpy"), ("matplotlib", "python3-matplotlib")]:
        try:
            __import__(module)
        except ImportError:
            return package
    return None


if __name__ == "__main__":
    if missing_package():
        print("ravplot tests skipped: install {}".format(missing_package()))
        sys.exit(77)
    unittest.main(verbosity=2)
