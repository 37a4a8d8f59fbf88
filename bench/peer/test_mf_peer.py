#!/usr/bin/python3
"""Tests of the benchmark's peer: the data reader and the vectorised models.

The models are checked against a plain one-point-at-a-time transcription
of the equations (math module, no numpy), so a slip in the vectorisation
(a column mapped to the wrong load, a term hoisted out of the point loop,
a guard applied in the wrong place) shows up as a cost difference.

  /usr/bin/python3 -m unittest discover -s bench/peer -p 'test_*.py'
"""

import math
import os
import tempfile
import unittest

import numpy as np

import compare
import mf_peer as peer

TRUE = {
    "Fz0": 4000.0, "R0": 0.3135,
    "PCy1": 1.193, "PDy1": 0.99, "PDy2": -0.145, "PDy3": -11.23, "PEy1": -1.003, "PEy2": -0.537,
    "PEy3": -0.083, "PEy4": -4.787, "PKy1": 14.95, "PKy2": 2.13, "PKy3": -0.028, "PHy1": 0.003,
    "PHy2": -0.001, "PHy3": 0.075, "PVy1": -0.045, "PVy2": 0.024, "PVy3": 0.532, "PVy4": -0.039,
    "PCx1": 1.685, "PDx1": 1.21, "PDx2": -0.037, "PDx3": 0.0, "PEx1": 0.344, "PEx2": 0.095,
    "PEx3": -0.02, "PEx4": 0.0, "PKx1": 21.51, "PKx2": -0.163, "PKx3": 0.245, "PHx1": -0.002,
    "PHx2": 0.002, "PVx1": 0.0, "PVx2": 0.0,
    "QBz1": 10.904, "QBz2": -1.689, "QBz3": 0.524, "QBz4": 0.059, "QBz5": 0.1, "QBz9": 18.47,
    "QBz10": 0.0, "QCz1": 1.18, "QDz1": 0.092, "QDz2": -0.006, "QDz3": 0.3, "QDz4": 0.0,
    "QDz6": 0.0017, "QDz7": -0.002, "QDz8": -0.153, "QDz9": 0.002, "QEz1": -8.865, "QEz2": 0.0,
    "QEz3": 0.0, "QEz4": 0.254, "QEz5": 0.0, "QHz1": 0.0065, "QHz2": 0.0056, "QHz3": 0.2,
    "QHz4": 0.0,
}

# Two cases with different loads and row counts; the second has a load-0
# column, CR LF line ends and blank-separated fields.
DATA = (
    "header text that is ignored\n"
    "LOAD_CASE 1\n"
    "0\n"
    "2000;4000;6000\n"
    "-8;-1900;-3500;-4800\n"
    "-2;-900;-1600;-2100\n"
    "0;10;-20;-40\n"
    "3;1200;2100;2900;999\n"
    "LOAD_CASE 2\r\n"
    "2.5\r\n"
    "0 5000\r\n"
    "-4 7 -4100\r\n"
    "6 -3 5200\r\n"
)


def sgn(x):
    return 1.0 if x > 0 else (-1.0 if x < 0 else 0.0)


def rad(x):
    return (x * math.pi) / 180.0


def lateral_point(c, camber, fz, slip, guarded=True):
    """Fy at one point, transcribed from the equations (angles in degrees)."""
    g, a = rad(camber), rad(slip)
    fz0 = c["Fz0"]
    dfz = (fz - 1e-12) / 1e-12 if abs(fz0) <= 1e-12 else (fz - fz0) / fz0
    shy = c["PHy1"] + c["PHy2"] * dfz + c["PHy3"] * g
    svy = fz * (c["PVy1"] + c["PVy2"] * dfz + (c["PVy3"] + c["PVy4"] * dfz) * g)
    ay = a + shy
    dy = fz * (c["PDy1"] + c["PDy2"] * dfz) * (1 - c["PDy3"] * (g * g))
    cy = c["PCy1"]
    ey = min((c["PEy1"] + c["PEy2"] * dfz) * (1 - (c["PEy3"] + c["PEy4"] * g) * sgn(ay)), 1.0)
    den = c["PKy2"] * fz0
    q = fz / 1e-12 if guarded and abs(den) <= 1e-12 else fz / den
    kya = c["PKy1"] * fz0 * math.sin(2 * math.atan(q)) * (1 - c["PKy3"] * abs(g))
    cd = cy * dy
    by = kya / 1e-12 if guarded and abs(cd) <= 1e-12 else kya / cd
    return dy * math.sin(cy * math.atan(by * ay - ey * (by * ay - math.atan(by * ay)))) + svy, (
        shy, svy, kya, by, cy)


def aligning_point(c, camber, fz, slip):
    g, a = rad(camber), rad(slip)
    fz0, r0 = c["Fz0"], c["R0"]
    dfz = (fz - fz0) / fz0
    fy0, (shy, svy, kya, by, cy) = lateral_point(c, camber, fz, slip, guarded=False)
    sht = c["QHz1"] + c["QHz2"] * dfz + (c["QHz3"] + c["QHz4"] * dfz) * g
    at = a + sht
    shf = shy + svy / kya
    ar = a + shf
    bt = (c["QBz1"] + c["QBz2"] * dfz + c["QBz3"] * (dfz * dfz)) * (1 + c["QBz4"] * g + c["QBz5"] * abs(g))
    ct = c["QCz1"]
    dt = fz * (c["QDz1"] + c["QDz2"] * dfz) * (1 + c["QDz3"] * g + c["QDz4"] * (g * g)) * r0 / fz0
    et = min((c["QEz1"] + c["QEz2"] * dfz + c["QEz3"] * (dfz * dfz)) *
             (1 + (c["QEz4"] + c["QEz5"] * g) * 0.6366197723675813431 * math.atan(bt * ct * at)), 1.0)
    br = c["QBz9"] + c["QBz10"] * by * cy
    dr = fz * (c["QDz6"] + c["QDz7"] * dfz + (c["QDz8"] + c["QDz9"] * dfz) * g) * r0
    t = dt * math.cos(ct * math.atan(bt * at - et * (bt * at - math.atan(bt * at)))) * math.cos(a)
    mzr = dr * math.cos(math.atan(br * ar)) * math.cos(a)
    return -t * fy0 + mzr


def longitudinal_point(c, camber, fz, kappa):
    g = rad(camber)
    fz0 = c["Fz0"]
    dfz = (fz - 1e-12) / 1e-12 if abs(fz0) <= 1e-12 else (fz - fz0) / fz0
    shx = c["PHx1"] + c["PHx2"] * dfz
    kx = kappa + shx
    svx = fz * (c["PVx1"] + c["PVx2"] * dfz)
    cx = c["PCx1"]
    dx = fz * (c["PDx1"] + c["PDx2"] * dfz) * (1 - c["PDx3"] * (g * g))
    ex = min((c["PEx1"] + c["PEx2"] * dfz + c["PEx3"] * (dfz * dfz)) * (1 - c["PEx4"] * sgn(kx)), 1.0)
    e = c["PKx3"] * dfz
    k = fz * (c["PKx1"] + c["PKx2"] * dfz) * (54.598150033144236 if e >= 10000 else math.exp(e))
    bx = 1e12 if abs(cx) <= 1e-12 or abs(dx) <= 1e-12 else k / cx / dx
    return dx * math.sin(cx * math.atan(bx * kx - ex * (bx * kx - math.atan(bx * kx)))) + svx


POINT = {
    "lateral": lambda c, cam, fz, s: lateral_point(c, cam, fz, s)[0],
    "aligning": aligning_point,
    "longitudinal": longitudinal_point,
}


def reference_cost(name, data, c):
    total = 0.0
    for cam, fz, s, m in zip(data["camber"], data["load"], data["slip"], data["measured"]):
        predicted = 0.0 if fz == 0.0 else POINT[name](c, float(cam), float(fz), float(s))
        total += (float(m) - predicted) ** 2
    return total


class DataFileTest(unittest.TestCase):
    def write(self, text):
        handle, path = tempfile.mkstemp(suffix=".plt")
        with os.fdopen(handle, "w", newline="") as f:
            f.write(text)
        self.addCleanup(os.remove, path)
        return path

    def test_split_fields_separators_quotes_and_empty_fields(self):
        self.assertEqual(peer.split_fields("  1;2 3 ; 4"), ["1", "2", "3", "4"])
        self.assertEqual(peer.split_fields("1;;2"), ["1", "", "2"])
        self.assertEqual(peer.split_fields("1;2;"), ["1", "2", ""])
        self.assertEqual(peer.split_fields('"a ""b"" c";5'), ['a "b" c', "5"])
        self.assertEqual(peer.split_fields("7;8\x009"), ["7", "8"])
        self.assertEqual(peer.split_fields(""), [])

    def test_points_come_case_by_case_load_by_load_slip_by_slip(self):
        data = peer.read_data(self.write(DATA))
        self.assertEqual(len(data["measured"]), 3 * 4 + 2 * 2)
        # Case 1, load 4000: the second column of the rows; the fifth field is ignored.
        np.testing.assert_array_equal(data["load"][4:8], [4000.0] * 4)
        np.testing.assert_array_equal(data["measured"][4:8], [-3500, -1600, -20, 2100])
        np.testing.assert_array_equal(data["slip"][4:8], [-8, -2, 0, 3])
        # Case 2 (CR LF, blanks): the load-0 column first, then 5000.
        np.testing.assert_array_equal(data["camber"][12:], [2.5] * 4)
        np.testing.assert_array_equal(data["load"][12:], [0, 0, 5000, 5000])
        np.testing.assert_array_equal(data["measured"][12:], [7, -3, -4100, 5200])
        self.assertEqual(len(set(data["column"])), 5)

    def test_short_row_and_cut_block_are_errors(self):
        with self.assertRaises(ValueError):
            peer.read_data(self.write("LOAD_CASE 1\n0\n1000;2000\n1;2\n"))
        with self.assertRaises(ValueError):
            peer.read_data(self.write("LOAD_CASE 1\n0\n"))
        with self.assertRaises(ValueError):
            peer.read_data(self.write("LOAD_CASE 1\n\n1000\n1;2\n"))


class ModelTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        handle, path = tempfile.mkstemp(suffix=".plt")
        with os.fdopen(handle, "w", newline="") as f:
            f.write(DATA)
        cls.data = peer.read_data(path)
        os.remove(path)

    def assertCostsMatch(self, name, coefficients):
        ch = peer.Channel(name, self.data, coefficients, [])
        expected = reference_cost(name, self.data, coefficients)
        self.assertAlmostEqual(ch.cost([]) / expected, 1.0, delta=1e-13)

    def test_each_channel_matches_the_one_point_equations(self):
        for name in ("lateral", "aligning", "longitudinal"):
            with self.subTest(channel=name):
                self.assertCostsMatch(name, TRUE)

    def test_asymmetric_and_camber_terms_match_too(self):
        # Non-zero values for the coefficients that are 0 in the true set.
        c = dict(TRUE, PDx3=3.0, PEx4=0.3, PVx1=0.02, PVx2=-0.01, QBz10=0.4, QDz4=0.5,
                 QEz2=0.1, QEz3=0.05, QEz5=0.3, QHz4=0.01)
        for name in ("lateral", "aligning", "longitudinal"):
            with self.subTest(channel=name):
                self.assertCostsMatch(name, c)

    def test_load_zero_points_add_their_measured_value_squared(self):
        ch = peer.Channel("lateral", self.data, TRUE, [])
        r = ch.residuals([])
        np.testing.assert_array_equal(r[12:14], [7.0, -3.0])

    def test_curvature_factor_is_clamped_above_at_one_only(self):
        flat = dict(TRUE, PEy2=0.0, PEy3=0.0, PEy4=0.0)
        at_one = peer.Channel("lateral", self.data, dict(flat, PEy1=1.0), [])
        above = peer.Channel("lateral", self.data, dict(flat, PEy1=5.0), [])
        below = peer.Channel("lateral", self.data, dict(flat, PEy1=-5.0), [])
        np.testing.assert_array_equal(at_one.residuals([]), above.residuals([]))
        self.assertFalse(np.array_equal(at_one.residuals([]), below.residuals([])))

    def test_guards_keep_the_cost_finite_where_the_equations_guard(self):
        for name, c in (("lateral", dict(TRUE, PKy2=0.0)),       # Fz/(PKy2 Fz0)
                        ("lateral", dict(TRUE, PCy1=0.0)),       # Kya/(Cy Dy)
                        ("longitudinal", dict(TRUE, PCx1=0.0)),  # Bx = 1e12
                        ("longitudinal", dict(TRUE, PKx3=1e9))):  # e^4 past the limit
            with self.subTest(channel=name, c={k: c[k] for k in ("PKy2", "PCy1", "PCx1", "PKx3")}):
                ch = peer.Channel(name, self.data, c, [])
                self.assertTrue(math.isfinite(ch.cost([])))
                self.assertAlmostEqual(ch.cost([]) / reference_cost(name, self.data, c), 1.0, delta=1e-13)

    def test_unguarded_aligning_division_is_a_fault(self):
        # Morvex raises a floating-point fault here; the peer's cost is inf.
        ch = peer.Channel("aligning", self.data, dict(TRUE, PKy2=0.0), [])
        self.assertEqual(ch.cost([]), math.inf)

    def test_free_vector_replaces_the_named_coefficients(self):
        ch = peer.Channel("lateral", self.data, dict(TRUE, PDy1=0.5, PCy1=2.0), ["PDy1", "PCy1"])
        self.assertEqual(ch.cost([TRUE["PDy1"], TRUE["PCy1"]]),
                         peer.Channel("lateral", self.data, TRUE, []).cost([]))


class RunsTest(unittest.TestCase):
    def test_search_makes_the_morvex_evaluation_count(self):
        handle, path = tempfile.mkstemp(suffix=".plt")
        with os.fdopen(handle, "w", newline="") as f:
            f.write(DATA)
        data = peer.read_data(path)
        os.remove(path)
        ch = peer.Channel("lateral", data, TRUE, ["PDy1", "PCy1", "PKy1"])
        # Morvex: 7 members evaluated once, then in each of 4 generations.
        out = peer.run_de(ch, [1.0, 1.2, 15.0], [0, 0, 0], [20, 20, 20], 7, 4, 0.8, 0.9, 0)
        self.assertEqual(out["nfev"], 7 * (4 + 1))
        self.assertEqual(out["evaluations"], out["nfev"])

    def test_best_scipy_fit_prefers_lower_cost_then_speed(self):
        fits = [{"method": "lm", "cost": 10.0, "seconds": 2.0},
                {"method": "trf", "cost": 10.0 * (1 + 1e-12), "seconds": 1.0},
                {"method": "x", "cost": None, "seconds": 0.1}]
        self.assertEqual(compare.best_scipy(fits)["method"], "trf")
        fits[1]["cost"] = 11.0
        self.assertEqual(compare.best_scipy(fits)["method"], "lm")
        self.assertIsNone(compare.best_scipy([fits[2]]))


if __name__ == "__main__":
    unittest.main()
