#!/usr/bin/python3
"""Tests of the combined-slip peer (combined_peer.py).

  - The committed reference table, which the C++ tests compare Morvex with,
    is what the peer computes now (a peer changed without rewriting the
    table, or a table edited by hand, fails here).
  - The peer's pure-slip parts agree with the pure-slip peer (mf_peer.py), a
    separate transcription of the pure-slip equations, at zero slip ratio
    and zero slip angle, where combined slip reduces to pure slip.

  /usr/bin/python3 -m unittest discover -s bench/peer -p 'test_*.py'
"""

import os
import unittest

import numpy as np

import combined_peer as peer
import mf_peer

REFERENCE = os.path.join(peer.DATA_DIR, "reference.txt")


def pure_peer_names(p):
    """Coefficients keyed as mf_peer spells them (PCy1, QBz10, Fz0, R0)."""
    out = {}
    for key, value in p.items():
        if key == "FZ0":
            out["Fz0"] = value
        elif key == "R0":
            out["R0"] = value
        else:
            out[key[:2] + key[2:].lower()] = value
    return out


def pure_channel(name, coefficients, camber, load, slip):
    n = len(slip)
    data = {"camber": np.asarray(camber, dtype=float), "load": np.asarray(load, dtype=float),
            "slip": np.asarray(slip, dtype=float), "measured": np.zeros(n),
            "column": np.arange(n, dtype=np.intp)}
    return mf_peer.Channel(name, data, coefficients, []).predict(coefficients)


class ReferenceTable(unittest.TestCase):
    def test_table_is_what_the_peer_computes(self):
        stored = peer.read_table(REFERENCE)
        self.assertEqual(peer.table_differences(stored, peer.table_lines()), [])

    def test_a_changed_value_or_a_lost_line_is_a_difference(self):
        fresh = peer.table_lines()
        data = [i for i, line in enumerate(fresh) if not line.startswith("#")]
        fields = fresh[data[5]].split(";")
        fields[8] = repr(float(fields[8]) * (1.0 + 1e-9))  # Mz
        changed = list(fresh)
        changed[data[5]] = ";".join(fields)
        self.assertEqual(peer.table_differences(changed, fresh), [changed[data[5]]])
        self.assertEqual(len(peer.table_differences(fresh[:-1], fresh)), 1)

    def test_every_tire_and_both_signs_of_slip_are_in_the_table(self):
        with open(REFERENCE) as f:
            rows = [line.split(";") for line in f if not line.startswith("#")]
        self.assertEqual(sorted({r[0] for r in rows}), sorted(peer.TIRES))
        alphas = {float(r[3]) for r in rows}
        kappas = {float(r[4]) for r in rows}
        self.assertTrue(min(alphas) < 0 < max(alphas) and 0.0 in alphas)
        self.assertTrue(min(kappas) < 0 < max(kappas) and 0.0 in kappas)


class PureSlipLimits(unittest.TestCase):
    """Combined slip at zero slip ratio (slip angle) against the pure-slip peer."""

    def setUp(self):
        self.cambers = np.repeat([-3.0, 0.0, 2.5], 12)
        shares = np.tile(np.repeat([0.4, 1.0, 1.7], 4), 3)
        self.slip_angles = np.tile([-9.0, -0.5, 2.0, 7.0], 9)
        self.slip_ratios = np.tile([-0.3, -0.02, 0.01, 0.2], 9)
        self.shares = shares

    def test_lateral_force_and_aligning_moment_at_zero_slip_ratio(self):
        for stem in peer.TIRES:
            p = peer.load_tire(stem)
            load = self.shares * p["FZ0"]
            zero = np.zeros_like(load)
            out = peer.evaluate(p, self.cambers, load, self.slip_angles, zero, zero + 10.0)
            pure = pure_peer_names(p)
            fy0 = pure_channel("lateral", pure, self.cambers, load, self.slip_angles)
            np.testing.assert_allclose(out["Fy"], fy0, rtol=1e-12, atol=1e-9, err_msg=stem)
            np.testing.assert_allclose(out["Gyk"], 1.0, rtol=1e-15, err_msg=stem)
            # Without the Fx arm the aligning moment is the pure-slip moment.
            no_arm = dict(p, SSZ1=0.0, SSZ2=0.0, SSZ3=0.0, SSZ4=0.0)
            mz = peer.evaluate(no_arm, self.cambers, load, self.slip_angles, zero, zero + 10.0)["Mz"]
            mz0 = pure_channel("aligning", pure, self.cambers, load, self.slip_angles)
            np.testing.assert_allclose(mz, mz0, rtol=1e-11, atol=1e-9, err_msg=stem)

    def test_longitudinal_force_at_zero_slip_angle(self):
        for stem in peer.TIRES:
            p = peer.load_tire(stem)
            load = self.shares * p["FZ0"]
            zero = np.zeros_like(load)
            out = peer.evaluate(p, self.cambers, load, zero, self.slip_ratios, zero + 10.0)
            fx0 = pure_channel("longitudinal", pure_peer_names(p), self.cambers, load, self.slip_ratios)
            np.testing.assert_allclose(out["Fx"], fx0, rtol=1e-12, atol=1e-9, err_msg=stem)
            np.testing.assert_allclose(out["Gxa"], 1.0, rtol=1e-15, err_msg=stem)


if __name__ == "__main__":
    unittest.main()
