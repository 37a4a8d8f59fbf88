#!/usr/bin/python3
"""The raw-run import done the usual Python way: pandas read_csv, then numpy.

The peer of morvex-import-bench: the same steps on the same tab-separated run
file (title line, channel names, units), with the import's defaults:
SAE signs to Morvex's, a warm-up, the load floor, pressure and speed windows
around the most held values, pure side slip, inclination and load set-points
from histogram peaks held at least 5 s, bins of at least 50 samples, and the
lateral force averaged onto 0.5 degree slip cells (a line through each cell's
samples, taken at the centre), keeping cells every load covers.

  import_peer.py RUNFILE [--warmup SECONDS] [--repeat N]

Prints one JSON object: best and median seconds (from read_csv to the binned
table), samples, cases and points.  Run with /usr/bin/python3 (Debian's
python3-pandas and python3-numpy).
"""

import argparse
import json
import time

import numpy as np
import pandas as pd

LOAD_FLOOR = 200.0
PRESSURE_TOL = 5.0
SPEED_TOL = 5.0
MAX_SLIP_RATIO = 0.005
IA_TOL = 0.6
LOAD_TOL = 150.0
DWELL = 5.0
MIN_BIN = 50
CELL = 0.5
MIN_CELL = 3


def held(values, centre, tol, t):
    """Samples within tol of centre in consecutive stretches lasting DWELL s."""
    inside = np.abs(values - centre) <= tol
    if not inside.any():
        return 0
    edges = np.diff(np.concatenate(([0], inside.astype(np.int8), [0])))
    starts = np.flatnonzero(edges == 1)
    ends = np.flatnonzero(edges == -1) - 1
    long_enough = (t[ends] - t[starts] >= DWELL) & (ends > starts)
    return int(np.sum(ends[long_enough] - starts[long_enough] + 1))


def peaks(values, tol, t, min_samples):
    """Greedy histogram peaks, as the import finds its set-points."""
    lo, hi = values.min(), values.max()
    width = max(tol / 4, (hi - lo) / 1e6)
    cells = int((hi - lo) / width) + 1
    idx = np.minimum(((values - lo) / width).astype(np.int64), cells - 1)
    counts = np.bincount(idx, minlength=cells)
    sums = np.bincount(idx, weights=values, minlength=cells)
    reach = int(np.ceil(tol / width))
    taken = np.zeros(cells, dtype=bool)
    found = []
    tests = 0
    for c in np.argsort(-counts, kind="stable"):
        if counts[c] == 0:
            break
        if taken[c]:
            continue
        centre = lo + (c + 0.5) * width
        for _ in range(2):
            m = min(cells - 1, max(0, int((centre - lo) / width)))
            a, b = max(0, m - reach), min(cells, m + reach + 1)
            support = counts[a:b].sum()
            centre = sums[a:b].sum() / support if support else centre
        if support < min_samples:
            continue
        tests += 1
        if tests > 200:
            break
        m = min(cells - 1, max(0, int((centre - lo) / width)))
        if held(values, centre, tol, t) < min_samples:
            taken[max(0, m - reach):m + reach + 1] = True
            continue
        found.append(centre)
        taken[max(0, m - 2 * reach):m + 2 * reach + 1] = True
        if len(found) == 100:
            break
    return np.sort(np.array(found))


def member(values, centres, tol):
    """Index of the nearest centre within tol, or -1."""
    if len(centres) == 0:
        return np.full(len(values), -1)
    pos = np.clip(np.searchsorted(centres, values), 1, len(centres) - 1) if len(centres) > 1 else np.zeros(len(values), dtype=np.int64)
    if len(centres) > 1:
        left = centres[pos - 1]
        right = centres[pos]
        pos = np.where(np.abs(values - left) <= np.abs(values - right), pos - 1, pos)
    return np.where(np.abs(values - centres[pos]) <= tol, pos, -1)


def most_held(values, tol):
    lo = values.min()
    idx = ((values - lo) / (tol / 4)).astype(np.int64)
    c = np.argmax(np.bincount(idx))
    centre = lo + (c + 0.5) * tol / 4
    near = np.abs(values - centre) <= tol
    return values[near].mean()


def import_run(path, warmup):
    df = pd.read_csv(path, sep="\t", skiprows=[0, 2], header=0)
    t = df["ET"].to_numpy()
    sa = -df["SA"].to_numpy()
    ia = df["IA"].to_numpy()
    fz = -df["FZ"].to_numpy()
    fy = df["FY"].to_numpy()
    sl = df["SL"].to_numpy()
    p = df["P"].to_numpy()
    v = df["V"].to_numpy()
    keep = np.isfinite(t) & np.isfinite(sa) & np.isfinite(ia) & np.isfinite(fz) & np.isfinite(fy)
    keep &= np.isfinite(sl) & np.isfinite(p) & np.isfinite(v)
    keep &= t >= t[keep].min() + warmup
    keep &= fz >= LOAD_FLOOR
    keep &= np.abs(p - most_held(p[keep], PRESSURE_TOL)) <= PRESSURE_TOL
    keep &= np.abs(v - most_held(v[keep], SPEED_TOL)) <= SPEED_TOL
    keep &= np.abs(sl) <= MAX_SLIP_RATIO
    keep &= np.abs(sa) <= 90
    t, sa, ia, fz, fy = t[keep], sa[keep], ia[keep], fz[keep], fy[keep]

    dt = np.median(np.diff(t)[np.diff(t) > 0])
    min_samples = max(MIN_BIN, int(np.ceil(DWELL / dt)))
    ia_sets = peaks(ia, IA_TOL, t, min_samples)
    ia_of = member(ia, ia_sets, IA_TOL)
    sel = ia_of >= 0
    t, sa, ia, fz, fy, ia_of = t[sel], sa[sel], ia[sel], fz[sel], fy[sel], ia_of[sel]
    load_sets = peaks(fz, LOAD_TOL, t, min_samples)
    load_of = member(fz, load_sets, LOAD_TOL)
    sel = load_of >= 0
    sa, ia, fz, fy, ia_of, load_of = sa[sel], ia[sel], fz[sel], fy[sel], ia_of[sel], load_of[sel]

    n_load = len(load_sets)
    bin_of = ia_of * n_load + load_of
    counts = np.bincount(bin_of, minlength=len(ia_sets) * n_load)
    sel = counts[bin_of] >= MIN_BIN
    sa, ia, fz, fy, ia_of, load_of, bin_of = sa[sel], ia[sel], fz[sel], fy[sel], ia_of[sel], load_of[sel], bin_of[sel]

    k = np.round(sa / CELL).astype(np.int64)
    k_lo = k.min()
    cells = int(k.max() - k_lo + 1)
    d = sa - k * CELL
    key = bin_of * cells + (k - k_lo)
    size = len(ia_sets) * n_load * cells
    n = np.bincount(key, minlength=size).reshape(len(ia_sets), n_load, cells)
    sd = np.bincount(key, weights=d, minlength=size).reshape(n.shape)
    sv = np.bincount(key, weights=fy, minlength=size).reshape(n.shape)
    sdd = np.bincount(key, weights=d * d, minlength=size).reshape(n.shape)
    sdv = np.bincount(key, weights=d * fy, minlength=size).reshape(n.shape)
    with np.errstate(invalid="ignore", divide="ignore"):
        md, mv = sd / n, sv / n
        sxx, sxy = sdd - n * md * md, sdv - n * md * mv
        slope = np.where((n >= 3) & (sxx > n * 1e-6 * CELL * CELL), sxy / sxx, 0.0)
        value = mv - slope * md
    cases = []
    for a in range(len(ia_sets)):
        loads = [j for j in range(n_load) if counts[a * n_load + j] >= MIN_BIN]
        if not loads:
            continue
        covered = np.all(n[a, loads, :] >= MIN_CELL, axis=0)
        if covered.any():
            cases.append(value[a][np.ix_(loads, np.flatnonzero(covered))])
    return len(df), cases


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("run")
    parser.add_argument("--warmup", type=float, default=0.0)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    seconds = []
    for _ in range(max(1, args.repeat)):
        start = time.perf_counter()
        samples, cases = import_run(args.run, args.warmup)
        seconds.append(time.perf_counter() - start)
    seconds.sort()
    print(json.dumps({"best_seconds": seconds[0], "median_seconds": seconds[len(seconds) // 2], "samples": samples,
                      "cases": len(cases), "points": int(sum(c.size for c in cases))}))


if __name__ == "__main__":
    main()
