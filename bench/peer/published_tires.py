#!/usr/bin/python3
"""Fits from estimated start values on data made from published tires.

For each tire below (coefficient sets of published property files of
open-source vehicle-simulation projects) and each sign convention (ISO as
published: cornering stiffness negative; and mirrored to positive cornering
stiffness, Fy and Mz negated) this script

  1. makes noisy data of three cambers (0, 2, 4 deg) and four loads
     (0.5, 0.8, 1.1 and 1.4 times the rated load) with the peer's numpy model
     (mf_peer.py, written from the published equations), noise of 1 % of
     the channel's largest value, fixed seed;
  2. fits every channel with morvex-fit from the estimate alone
     (--start estimate --optimizer tr), every coefficient of the channel
     free but the rated load, which a user takes from the tire's
     nominal load (the aligning fit takes the true lateral set, as the
     window's aligning fit takes the lateral set in the panel);
  3. finds the best cost known for the case: scipy least_squares ("lm" and
     "trf") from 0.8 times the true coefficients and from the true ones,
     and Morvex's trust region from the true ones;
  4. prints, per tire, convention and channel, the cost of the estimate
     fit over the best known cost and its time over scipy's time from
     0.8 times the truth; then the shipped start values with plain "tr"
     and with "de+tr" (a short search), to show what the estimate mends.

The longitudinal channel is the same in both conventions (the mirror
negates Fy and Mz only) and is fitted once.  The last tire is held out:
it was not looked at while the estimate was tuned, and is reported apart.

  published_tires.py --fit BIN [--quick] [--keep DIR]

Exit status 0 when every estimate fit reaches within 0.1 % of the best
known cost, 1 otherwise.  Run with /usr/bin/python3 (Debian's numpy and
scipy).
"""

import argparse
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import mf_peer  # noqa: E402

LATERAL = ["PCy1", "PDy1", "PDy2", "PDy3", "PEy1", "PEy2", "PEy3", "PEy4", "PKy1", "PKy2",
           "PKy3", "PHy1", "PHy2", "PHy3", "PVy1", "PVy2", "PVy3", "PVy4"]
LONGITUDINAL = ["PCx1", "PDx1", "PDx2", "PDx3", "PEx1", "PEx2", "PEx3", "PEx4", "PKx1", "PKx2",
                "PKx3", "PHx1", "PHx2", "PVx1", "PVx2"]
ALIGNING = ["QBz1", "QBz2", "QBz3", "QBz4", "QBz5", "QBz9", "QBz10", "QDz1", "QDz2", "QDz3",
            "QDz4", "QDz6", "QDz7", "QDz8", "QDz9", "QEz1", "QEz2", "QEz3", "QEz4", "QEz5",
            "QHz1", "QHz2", "QHz3", "QHz4", "QCz1"]
FREE = {"lateral": LATERAL, "aligning": ALIGNING, "longitudinal": LONGITUDINAL}

# The coefficients that change sign when a set in the ISO convention is
# mirrored to positive cornering stiffness (Fy and Mz negated, slip angle,
# camber, load and Fx unchanged): the cornering stiffness and the vertical
# shifts of Fy, the share of By*Cy in the residual moment's stiffness, and
# the residual moment's peak.
MIRRORED = ["PKy1", "PVy1", "PVy2", "PVy3", "PVy4", "QBz10", "QDz6", "QDz7", "QDz8", "QDz9"]


def tire(fnomin, lfzo, r0, **coefficients):
    """A coefficient set with every Morvex coefficient: missing keys are 0,
    and the rated-load scale LFZO is folded into Fz0 (exact in the 2002
    equations when every other scale factor is 1)."""
    c = {name: 0.0 for name in LATERAL + LONGITUDINAL + ALIGNING}
    for key, value in coefficients.items():
        name = key[:2].upper() + key[2:].lower()
        if name not in c:
            raise KeyError(key)
        c[name] = float(value)
    c["Fz0"] = fnomin * lfzo
    c["R0"] = r0
    return c


TIRES = [
    # 245/40 R18, low-profile car.  projectchrono/chrono,
    # data/vehicle/sedan/tire/Sedan_Pac02Tire.tir (PAC2002).
    ("car 245/40 R18", tire(
        4850, 0.81, 0.344,
        PCX1=1.6411, PDX1=1.1739, PDX2=-0.16395, PEX1=0.46403, PEX2=0.25022, PEX3=0.067842,
        PEX4=-3.7604e-005, PKX1=22.303, PKX2=0.48896, PKX3=0.21253, PHX1=0.0012297,
        PHX2=0.0004318, PVX1=-8.8098e-006, PVX2=1.862e-005,
        PCY1=1.3507, PDY1=1.0489, PDY2=-0.18033, PDY3=-2.8821, PEY1=-0.0074722,
        PEY2=-0.0063208, PEY3=-9.9935, PEY4=-760.14, PKY1=-21.92, PKY2=2.0012, PKY3=-0.024778,
        PHY1=0.0026747, PHY2=8.9094e-005, PHY3=0.031415, PVY1=0.037318, PVY2=-0.010049,
        PVY3=-0.32931, PVY4=-0.69553,
        QBZ1=10.904, QBZ2=-1.8412, QBZ3=-0.52041, QBZ4=0.039211, QBZ5=0.41511, QBZ9=8.9846,
        QCZ1=1.2136, QDZ1=0.093509, QDZ2=-0.0092183, QDZ3=-0.057061, QDZ4=0.73954,
        QDZ6=-0.0067783, QDZ7=0.0052254, QDZ8=-0.18175, QDZ9=0.029952, QEZ1=-1.5697,
        QEZ2=0.33394, QEZ3=0, QEZ4=0.26711, QEZ5=-3.594, QHZ1=0.0047326, QHZ2=0.0026687,
        QHZ3=0.11998, QHZ4=0.059083)),
    # 265/70 R18, SUV.  projectchrono/chrono,
    # data/vehicle/Nissan_Patrol/json/suv_Pac02Tire.tir (PAC2002).
    ("SUV 265/70 R18", tire(
        4000, 1.760869565, 0.409,
        PCX1=1.839, PDX1=1.1387, PDX2=-0.11999, PDX3=-2.2142e-005, PEX1=0.62727, PEX2=-0.12336,
        PEX3=-0.03448, PEX4=-1.5066e-005, PKX1=18.886, PKX2=-3.988, PKX3=0.21542,
        PHX1=-0.00033912, PHX2=-8.5877e-006, PVX1=-4.638e-006, PVX2=1.9874e-005,
        PCY1=1.3223, PDY1=1.0141, PDY2=-0.12274, PDY3=-1.0426, PEY1=-0.63772, PEY2=-0.050782,
        PEY3=-0.27333, PEY4=-8.3143, PKY1=-19.797, PKY2=1.7999, PKY3=0.0095418,
        PHY1=0.0011453, PHY2=-6.6688e-005, PHY3=0.044112, PVY1=0.031305, PVY2=-0.0085749,
        PVY3=-0.092912, PVY4=-0.27907,
        QBZ1=7.5088, QBZ2=-1.9428, QBZ3=0.61681, QBZ4=0.12231, QBZ5=0.50016, QBZ9=5.5144,
        QBZ10=0, QCZ1=1.2237, QDZ1=0.062582, QDZ2=0.00052585, QDZ3=-0.60661, QDZ4=8.634,
        QDZ6=-0.0048467, QDZ7=0.0034983, QDZ8=-0.11032, QDZ9=0.021277, QEZ1=-5.3971,
        QEZ2=1.1207, QEZ3=0, QEZ4=0.14942, QEZ5=-1.1429, QHZ1=-0.00069905, QHZ2=0.0055192,
        QHZ3=0.065953, QHZ4=0.11393)),
    # 335/65 R22.5, truck.  projectchrono/chrono,
    # data/vehicle/feda/tires/335_65R22_5_G275MSA_95psi.tir (MF-Tyre 5.0, W-axis).
    ("truck 335/65 R22.5", tire(
        29912, 1.0, 0.4990,
        PCX1=1.4000, PDX1=0.84003, PDX2=-0.065962, PEX1=-4.5309, PEX2=-3.0987, PEX3=0.20647,
        PEX4=0, PKX1=6.3425, PKX2=-1.9878e-005, PKX3=-0.16666,
        PCY1=0.54764, PDY1=-1.1188, PDY2=0.072812, PDY3=-1.7244, PEY1=0.056372, PEY2=-0.065607,
        PEY3=-0.28765, PEY4=63.843, PKY1=-9.5432, PKY2=2.4559, PKY3=0.62823, PHY1=0.0035499,
        PHY2=0.0045166, PHY3=-0.035468, PVY1=0.0031041, PVY2=0.009559, PVY3=-0.13882,
        PVY4=-0.25693,
        QBZ1=8.5499, QBZ2=-2.0123, QBZ3=-9.7502, QBZ4=0.40886, QBZ5=-0.75474, QBZ9=0.49999,
        QCZ1=1.4, QDZ1=0.080379, QDZ2=-0.02931, QDZ3=-0.032073, QDZ4=0.29184, QDZ6=-0.0025776,
        QDZ7=-0.0014791, QDZ8=-0.020474, QDZ9=0.0044162, QEZ1=-0.017913, QEZ2=-0.73133,
        QEZ3=-4.7227, QEZ4=0.32329, QEZ5=2.5289, QHZ1=-0.0011513, QHZ2=-0.0057439,
        QHZ3=0.12163, QHZ4=0.10576)),
    # 37x12.5 R16.5, military truck.  projectchrono/chrono,
    # data/vehicle/hmmwv/tire/HMMWV_Pac02Tire.tir (PAC2002).
    ("military truck 37x12.5 R16.5", tire(
        35000, 0.580904846, 0.4699,
        PCX1=1.7204, PDX1=0.77751, PDX2=-0.24431, PDX3=-0.00015908, PEX1=0.46659, PEX2=0.393,
        PEX3=0.076024, PEX4=2.6509e-006, PKX1=14.848, PKX2=-9.8161, PKX3=0.15818,
        PHX1=-0.00088873, PHX2=-0.00067818, PVX1=-5.5714e-007, PVX2=6.2972e-006,
        PCY1=1.5874, PDY1=0.73957, PDY2=-0.075004, PDY3=-8.0362, PEY1=0.37562, PEY2=-0.069325,
        PEY3=0.29168, PEY4=11.559, PKY1=-10.289, PKY2=3.3343, PKY3=-0.25732, PHY1=0.0056509,
        PHY2=-0.0020257, PHY3=-0.038716, PVY1=0.015216, PVY2=-0.010365, PVY3=-0.31373,
        PVY4=-0.055766,
        QBZ1=5.8978, QBZ2=-0.1535, QBZ3=-2.0052, QBZ4=0.62731, QBZ5=-0.92709, QBZ9=10.637,
        QBZ10=0, QCZ1=1.4982, QDZ1=0.085549, QDZ2=-0.025298, QDZ3=0.21486, QDZ4=-3.9098,
        QDZ6=-0.0013373, QDZ7=0.0013869, QDZ8=-0.053513, QDZ9=0.025817, QEZ1=-0.0084519,
        QEZ2=0.0097389, QEZ3=0, QEZ4=4.3583, QEZ5=-645.04, QHZ1=0.0085657, QHZ2=-0.0042922,
        QHZ3=0.14763, QHZ4=-0.29999)),
    # FSAE tire from Formula SAE Tire Test Consortium data.
    # teasit/magic-formula-tyre-library,
    # doc/examples/fsae-ttc-data/fsaettc_obfuscated_v52.tir (FITTYP 6; the
    # file's MF 6.x keys PEY5, PKY4..7 are not part of the 2002 equations).
    ("FSAE", tire(
        2700, 1.0, 0.254,
        PCX1=1.5, PDX1=1.0873, PDX2=-0.35238, PDX3=15, PEX1=-1.0967e-14, PEX2=-0.53476, PEX3=0,
        PEX4=0, PKX1=15.7957, PKX2=-5.4298e-06, PKX3=-0.50045, PHX1=0.00044435,
        PHX2=-0.00013588, PVX1=-0.0020342, PVX2=-0.0031305,
        PCY1=1.5, PDY1=1.0699, PDY2=-0.13086, PDY3=10, PEY1=0.62714, PEY2=-0.038102,
        PEY3=0.27112, PEY4=-5.2103, PKY1=-19.0143, PKY2=1.619, PKY3=0.13789, PHY1=-0.0019025,
        PHY2=-0.0014375, PVY1=-0.027467, PVY2=0.00087313, PVY3=-0.46572, PVY4=-0.77406,
        QBZ1=10, QBZ9=10, QCZ1=1.1, QDZ1=0.12, QDZ8=-0.05)),
]

# Held out of the tuning of the estimate.
HOLD_OUT = []


def mirrored(c):
    m = dict(c)
    for name in MIRRORED:
        m[name] = -m[name]
    return m


CAMBERS = [0.0, 2.0, 4.0]
LOAD_SHARES = [0.5, 0.8, 1.1, 1.4]


def slips(channel):
    if channel == "longitudinal":
        return np.linspace(-0.25, 0.25, 41)
    return np.linspace(-12.0, 12.0, 41)


def make_data(channel, c, rng, negate):
    """Points of three cambers and four loads, in the order of a data file."""
    loads = [round(share * c["Fz0"]) for share in LOAD_SHARES]
    s = slips(channel)
    camber, load, slip, column = [], [], [], []
    col = 0
    for g in CAMBERS:
        for fz in loads:
            camber += [g] * len(s)
            load += [fz] * len(s)
            slip += list(s)
            column += [col] * len(s)
            col += 1
    data = {"camber": np.array(camber), "load": np.array(load, dtype=float),
            "slip": np.array(slip), "measured": np.zeros(len(slip)),
            "column": np.array(column, dtype=np.intp)}
    model = mf_peer.Channel(channel, data, c, []).predict(c)
    noise = rng.normal(0.0, 0.01 * float(np.max(np.abs(model))), size=model.shape)
    data["measured"] = (-model if negate else model) + noise
    return data, loads


def write_plt(path, channel, data, loads):
    s = slips(channel)
    n = len(s)
    with open(path, "w") as f:
        f.write("Made from a published tire by bench/peer/published_tires.py\n")
        for k, g in enumerate(CAMBERS):
            f.write("LOAD_CASE %d\n%r\n" % (k + 1, g))
            f.write(";".join("%r" % fz for fz in loads) + "\n")
            for r in range(n):
                values = [data["measured"][(k * len(loads) + j) * n + r] for j in range(len(loads))]
                f.write("%r;" % float(s[r]) + ";".join("%r" % float(v) for v in values) + "\n")


SECTIONS = [("TIRE RADIUS", ["R0"]), ("NOMINAL LOAD", ["Fz0"]), ("PARAMETERS FY", LATERAL),
            ("PARAMETERS FX", LONGITUDINAL), ("PARAMETERS Mz", ALIGNING)]


def write_coefficients(path, c):
    with open(path, "w") as f:
        for section, names in SECTIONS:
            f.write("[%s]\n" % section)
            for name in names:
                f.write("%s=%r\n" % (name, float(c[name])))


def read_coefficients(path):
    c = {}
    with open(path) as f:
        for line in f:
            if "=" in line and not line.startswith("["):
                key, value = line.strip().split("=", 1)
                name = key[:2].upper() + key[2:].lower() if key.lower() not in ("r0", "fz0") else \
                    ("R0" if key.lower() == "r0" else "Fz0")
                c[name] = float(value)
    return c


def morvex_fit(binary, channel, data_path, coefficients, out_path, optimizer, start, settings=None):
    cmd = [binary, "fit", "--channel", channel, "--data", data_path, "--coefficients", coefficients,
           "--free", ",".join(FREE[channel]), "--optimizer", optimizer, "--start", start,
           "--output", out_path]
    if settings:
        cmd += ["--settings", settings]
    t0 = time.perf_counter()
    run = subprocess.run(cmd, capture_output=True, text=True)
    seconds = time.perf_counter() - t0
    cost = None
    verdict = "?"
    for line in run.stdout.splitlines():
        if line.startswith("cost="):
            cost = float(line[5:])
        if line.startswith("verdict="):
            verdict = line.split()[0][8:]
    return {"cost": cost, "seconds": seconds, "status": run.returncode, "verdict": verdict,
            "stderr": run.stderr.strip()}


def scipy_fits(channel, data, truth):
    """scipy least_squares from 0.8 x and 1.0 x the truth; returns the best
    cost and the time of the best method from 0.8 x."""
    free = FREE[channel]
    best = math.inf
    seconds_08 = None
    cost_08 = math.inf
    for scale in (0.8, 1.0):
        start = dict(truth)
        for name in free:
            start[name] = truth[name] * scale
        ch = mf_peer.Channel(channel, data, start, free)
        x0 = mf_peer.vector(start, free)
        n = len(x0)
        for method in ("lm", "trf"):
            max_nfev = 400 * (n + 1) if method == "lm" else 400
            fit = mf_peer.run_least_squares(ch, x0, method, max_nfev, 1e-12)
            if fit["cost"] is not None:
                best = min(best, fit["cost"])
                if scale == 0.8 and fit["cost"] < cost_08:
                    cost_08 = fit["cost"]
                    seconds_08 = fit["seconds"]
    return best, seconds_08


def fmt(x, digits=5):
    return "-" if x is None or not math.isfinite(x) else ("%.*f" % (digits, x))


def run_case(args, work, tname, truth, convention, channel, rng, rows):
    negate = convention == "positive" and channel != "longitudinal"
    c = mirrored(truth) if convention == "positive" else truth
    data, loads = make_data(channel, truth, rng, negate)
    stem = os.path.join(work, "%s-%s-%s" % (tname.split()[0], convention, channel))
    plt = stem + ".plt"
    write_plt(plt, channel, data, loads)
    # The true set (mirrored where the data are) supplies Fz0, R0 and, for
    # the aligning moment, the lateral coefficients.
    truth_file = stem + "-truth.txt"
    write_coefficients(truth_file, c)
    shipped = os.path.join(args.examples, "start-values.txt")
    start_file = stem + "-start.txt"
    # The shipped start values with the tire's Fz0 and R0 (and, for the
    # aligning moment, its lateral set), as a user would begin.
    shipped_c = read_coefficients(shipped)
    for name in ["Fz0", "R0"] + (LATERAL if channel == "aligning" else []):
        shipped_c[name] = c[name]
    write_coefficients(start_file, shipped_c)

    est = morvex_fit(args.fit, channel, plt, truth_file, stem + "-est.txt", "tr", "estimate")
    from_truth = morvex_fit(args.fit, channel, plt, truth_file, stem + "-tt.txt", "tr", "files")
    tr_start = morvex_fit(args.fit, channel, plt, start_file, stem + "-tr.txt", "tr", "files")
    detr = morvex_fit(args.fit, channel, plt, start_file, stem + "-detr.txt", "de+tr", "files",
                      args.de_settings)
    # The peer works on the same file, as read back.
    peer_data = mf_peer.read_data(plt)
    best_scipy, scipy_seconds = scipy_fits(channel, peer_data, c)
    known = [x for x in (best_scipy, from_truth["cost"], est["cost"], tr_start["cost"], detr["cost"])
             if x is not None and math.isfinite(x)]
    best = min(known)
    rows.append({"tire": tname, "convention": convention, "channel": channel,
                 "estimate": est["cost"] / best if est["cost"] else None,
                 "estimate_seconds": est["seconds"], "scipy_seconds": scipy_seconds,
                 "verdict": est["verdict"],
                 "tr_start": tr_start["cost"] / best if tr_start["cost"] else None,
                 "tr_verdict": tr_start["verdict"],
                 "detr": detr["cost"] / best if detr["cost"] else None,
                 "detr_vs_tr": (detr["cost"] / tr_start["cost"]) if detr["cost"] and tr_start["cost"] else None,
                 "best": best})


def print_rows(title, rows):
    print(title)
    print("  %-30s %-9s %-13s %12s %8s %8s %12s %8s %12s %10s" % (
        "tire", "sign", "channel", "est+tr/best", "time s", "verdict", "tr(ship)/best", "verdict",
        "de+tr/best", "de+tr/tr"))
    for r in rows:
        print("  %-30s %-9s %-13s %12s %8s %8s %12s %8s %12s %10s" % (
            r["tire"], r["convention"], r["channel"], fmt(r["estimate"]), fmt(r["estimate_seconds"], 2),
            r["verdict"], fmt(r["tr_start"], 3), r["tr_verdict"], fmt(r["detr"], 3),
            fmt(r["detr_vs_tr"], 3)))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--fit", required=True, help="the morvex-fit program")
    parser.add_argument("--examples", default=os.path.join(HERE, "..", "..", "examples"))
    parser.add_argument("--quick", action="store_true", help="two tires, one convention")
    parser.add_argument("--keep", help="keep the data and results in this folder")
    args = parser.parse_args(argv[1:])

    work = args.keep or tempfile.mkdtemp(prefix="morvex-tires-")
    os.makedirs(work, exist_ok=True)
    args.de_settings = os.path.join(work, "search.ini")
    with open(args.de_settings, "w") as f:
        # A short search: the comparison is de+tr against tr from the same start.
        f.write("[GENETIC]\nNB_POP=60\nNB_GEN=60\n")
    rng = np.random.default_rng(20261208)
    tuned, held = [], []
    tires = TIRES[:2] if args.quick else TIRES
    conventions = ["iso"] if args.quick else ["iso", "positive"]
    try:
        for group, rows in ((tires, tuned), ([] if args.quick else HOLD_OUT, held)):
            for tname, truth in group:
                for convention in conventions:
                    for channel in ("lateral", "aligning", "longitudinal"):
                        if convention == "positive" and channel == "longitudinal":
                            continue
                        run_case(args, work, tname, truth, convention, channel, rng, rows)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)

    print("== fits from estimated start values on data made from published tires")
    print("   (cost over the best cost known for the case; time of the estimate fit in seconds)")
    print_rows("-- tires used while the estimate was tuned", tuned)
    if held:
        print_rows("-- held-out tire", held)
    ratios = [r["estimate"] for r in tuned + held]
    worst = max((x for x in ratios if x is not None), default=math.inf)
    failed = any(x is None or x > 1.001 for x in ratios)
    detr_worse = [r for r in tuned + held if r["detr_vs_tr"] is not None and r["detr_vs_tr"] > 1.0 + 1e-9]
    print("worst estimate+tr / best known: %s (limit 1.001)" % fmt(worst, 6))
    print("de+tr worse than tr from the same start: %d of %d" % (len(detr_worse), len(tuned + held)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
