"""The import peer agrees with Morvex's import on the example run file:
the same set-points, blocks and number of binned points."""

import os
import unittest

try:
    import pandas  # noqa: F401
    HAVE_PANDAS = True
except ImportError:
    HAVE_PANDAS = False

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
RUN = os.path.join(HERE, "..", "..", "examples", "run.dat")


@unittest.skipUnless(HAVE_PANDAS, "python3-pandas is not installed (scripts/install-deps.sh --bench)")
class ImportPeerTest(unittest.TestCase):
    def test_example_run_bins_like_morvex(self):
        import import_peer
        samples, cases = import_peer.import_run(RUN, 30.0)
        self.assertEqual(samples, 6180)
        # Three inclinations, four loads, 49 slip cells from -12 to 12 deg.
        self.assertEqual([c.shape for c in cases], [(4, 49)] * 3)

    def test_ramps_are_not_held(self):
        import import_peer
        # Twenty cycles: 6 s at 2000 N, a one-second ramp, 6 s at 4000 N, a
        # ramp down.  The ramps cross every load between 60 times, never held.
        cycle = np.concatenate([np.full(60, 2000.0), np.linspace(2000, 4000, 12)[1:-1], np.full(60, 4000.0),
                                np.linspace(4000, 2000, 12)[1:-1]])
        loads = np.tile(cycle, 20)
        t = np.arange(len(loads)) * 0.1
        found = import_peer.peaks(loads, 150.0, t, 50)
        self.assertEqual(len(found), 2)
        np.testing.assert_allclose(found, [2000, 4000], atol=20)


if __name__ == "__main__":
    unittest.main()
