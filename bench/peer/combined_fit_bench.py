#!/usr/bin/python3
"""Morvex's combined-slip Fy stage against scipy.optimize.least_squares.

For each published tire of testing/data/combined-slip it makes a programme
of slip ratio swept at held slip angles (-6..6 deg, three loads, two
cambers, noise of 0.6 % of the load) with the numpy evaluator of
combined_peer.py, then
  1. runs morvex-combined-bench on it: the whole Fy stage (start values
     estimated from the data, trust-region solves), best of --repeat runs;
  2. fits the same residuals (measured Fy - Gyk*Fy0 - SVyk, pure-slip
     coefficients fixed at the tire's, the coefficients Morvex fitted free,
     those it held at 0) with scipy least_squares ("trf" and "lm", Jacobian
     by finite differences as scipy does by default) from the start values
     Morvex estimated, best of --repeat runs;
  3. prints final costs and time ratios (scipy / Morvex: above 1 means
     Morvex is faster), against Morvex's solve from the same start (the
     like-for-like figure) and against its whole stage with the start search.

  combined_fit_bench.py --bench build/bin/morvex-combined-bench [--repeat N] [--save FILE]

Run with /usr/bin/python3 (Debian's numpy and scipy).
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from scipy.optimize import least_squares

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import combined_peer  # noqa: E402

TUNED = ["car-185-80R14", "suv-265-70R18", "car-245-40R18-opentire"]
KEPT_OUT = "military-37x12.5R16.5"


def programme(p, seed):
    rng = np.random.default_rng(seed)
    rows = []
    for camber in (0.0, 3.0):
        for share in (0.5, 1.0, 1.5):
            for alpha in (-6.0, -3.0, -1.0, 0.0, 1.0, 3.0, 6.0):
                kappa = np.linspace(-0.25, 0.25, 41) + 0.002 * rng.standard_normal(41)
                load = share * p["FZ0"] * (1.0 + 0.02 * np.sin(0.7 * np.arange(41)))
                alpha_held = alpha + 0.05 * rng.standard_normal()
                for k, fz in zip(kappa, load):
                    rows.append((camber, fz, alpha_held, k))
    a = np.array(rows)
    out = combined_peer.evaluate(p, a[:, 0], a[:, 1], a[:, 2], a[:, 3], np.full(len(a), 16.7))
    noise = 0.006 * a[:, 1]
    fy = out["Fy"] + noise * rng.standard_normal(len(a))
    fx = out["Fx"] + noise * rng.standard_normal(len(a))
    return a, fx, fy


def write_points(path, a, fx, fy):
    with open(path, "w") as f:
        for (camber, fz, alpha, kappa), x, y in zip(a, fx, fy):
            f.write(f"{camber!r};{fz!r};{alpha!r};{kappa!r};{x!r};{y!r};nan;nan;nan;16.7\n")


def scipy_fit(p, a, fy, names, start, method, repeat):
    base = dict(p)
    for key in combined_peer.load_tire(KEPT_OUT):  # every combined key present, at 0
        if key[0] in "RSQ" and key[:2] in ("RB", "RC", "RE", "RH", "RV"):
            base[key] = 0.0
    speed = np.full(len(a), 16.7)

    def residuals(x):
        q = dict(base)
        q.update(zip(names, x))
        return fy - combined_peer.evaluate(q, a[:, 0], a[:, 1], a[:, 2], a[:, 3], speed)["Fy"]

    best = None
    for _ in range(repeat):
        t0 = time.perf_counter()
        r = least_squares(residuals, np.array(start), method=method, xtol=1e-12, ftol=1e-12, gtol=1e-14,
                          max_nfev=20000)
        seconds = time.perf_counter() - t0
        best = seconds if best is None else min(best, seconds)
    return {"cost": float(2.0 * r.cost), "seconds": best, "nfev": int(r.nfev), "status": int(r.status)}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bench", required=True)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--save")
    args = parser.parse_args(argv)
    results = []
    with tempfile.TemporaryDirectory() as tmp:
        for seed, stem in enumerate(TUNED + [KEPT_OUT], start=1):
            p = combined_peer.load_tire(stem)
            p.setdefault("LONGVL", 16.7)
            a, fx, fy = programme(p, seed)
            points = os.path.join(tmp, stem + ".csv")
            write_points(points, a, fx, fy)
            tire = os.path.join(combined_peer.DATA_DIR, stem + ".txt")
            out = subprocess.run([args.bench, tire, points, "--stage", "fy", "--repeat", str(args.repeat)],
                                 check=True, capture_output=True, text=True).stdout
            morvex = json.loads(out)
            row = {"tire": stem, "kept_out": stem == KEPT_OUT, "points": morvex["points"], "morvex": morvex}
            for method in ("trf", "lm"):
                row[method] = scipy_fit(p, a, fy, morvex["fitted"], morvex["start"], method, args.repeat)
            results.append(row)
            print(f"{stem}{' (kept out of tuning)' if row['kept_out'] else ''}: {morvex['points']} points, "
                  f"{len(morvex['fitted'])} coefficients")
            print(f"  Morvex Fy stage: cost {morvex['final_cost']:.6g}, {morvex['seconds'] * 1e3:.1f} ms "
                  f"(start search + solves), the solve from its start alone "
                  f"{morvex['solve_seconds'] * 1e3:.1f} ms, verdict {morvex['verdict']}")
            for method in ("trf", "lm"):
                s = row[method]
                print(f"  scipy {method}: cost / Morvex {s['cost'] / morvex['final_cost']:.6f}, "
                      f"time / Morvex solve {s['seconds'] / morvex['solve_seconds']:.1f}, "
                      f"time / Morvex whole stage {s['seconds'] / morvex['seconds']:.1f} "
                      f"({s['nfev']} evaluations, status {s['status']})")
    if args.save:
        with open(args.save, "w") as f:
            json.dump(results, f, indent=1)
    worse = [r["tire"] for r in results
             if min(r["trf"]["cost"], r["lm"]["cost"]) < r["morvex"]["final_cost"] * (1 - 1e-6)]
    if worse:
        print("scipy found a lower cost on: " + ", ".join(worse))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
