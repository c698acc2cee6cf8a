"""Tests of tools/ravplot on hand-made and real reports.

Run by ctest with RAVGEN, RAVAN and RAVPLOT naming the programs."""

import os
import subprocess
import sys
import tempfile
import unittest

RAVGEN = os.environ.get("RAVGEN", "build/ravgen")
RAVAN = os.environ.get("RAVAN", "build/ravan")
RAVPLOT = os.environ.get("RAVPLOT", "tools/ravplot")

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


def run(args, stdin_text=None):
    return subprocess.run([RAVPLOT] + args, input=stdin_text, capture_output=True, text=True)


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
        self.assertIn("left out 1 row(s) holding inf or nan", result.stderr)

    def test_polar_table_has_an_angle_per_step(self):
        with open(self.path("polar.txt"), "w") as report:
            report.write(POLAR)
        result = run([self.path("polar.txt"), "--frd", self.path("p")])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.data_lines("p_polar.txt"), [
            "0.0\t0.0000\t0.0000\t0.0000\t0.000",
            "5.0\t-6.0206\t0.0000\t-6.0206\t28.648",
            "10.0\t-inf\t0.0000\t-inf\t0.000",
        ])

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

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def out(self, name):
        return os.path.join(self.dir.name, name)

    def test_pictures_are_written_by_extension(self):
        for report, picture, signature in [("sweep", "s.png", b"\x89PNG"), ("sweep", "s.svg", b"<?xml"),
                                           ("polar", "p.png", b"\x89PNG")]:
            result = run(["-", "-o", self.out(picture)], self.reports[report])
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(self.out(picture), "rb") as image:
                self.assertEqual(image.read(len(signature)), signature)

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


if __name__ == "__main__":
    unittest.main(verbosity=2)
