#!/usr/bin/python3
"""An independent evaluation of the 2002 Magic Formula under combined slip, in numpy.

Written from the published equations (H. B. Pacejka, "Tire and Vehicle
Dynamics", the MF-Tyre 2002 equations of chapter 4, every scaling factor 1,
no turn slip), not from the Morvex code, to check Morvex's combined-slip
model.  The product never runs this program.

It reads coefficient files of published tires (testing/data/combined-slip/,
each naming its source property file), evaluates Fx, Fy, Mz, Mx and My over
a grid of camber, load, slip angle and slip ratio, and writes the reference
table that the C++ tests compare Morvex with:

  combined_peer.py --write testing/data/combined-slip/reference.txt
  combined_peer.py --check testing/data/combined-slip/reference.txt

Conventions (those of Morvex's model): angles in radians inside the
equations (the table holds degrees); the slip angle enters as the angle,
not its tangent, and the camber as the angle, not its sine; the curvature
factors are clamped above at 1; the rated load Fz0 is FNOMIN*LFZO.  Where
published evaluators differ, the readings below are those Morvex chose:
equivalent slip angles sqrt(a^2 + (Kx/Ky)^2 k^2)*sgn(a) with the sign of
the shifted slip angle; the trail's curvature from the pure-slip shifted
angle; the trail times Fy - SVyk at the actual camber; Fz0 in the arm s
and in Mx and My; My normalised by LONGVL, opposing the rolling.

Run with /usr/bin/python3 (Debian's numpy).
"""

import argparse
import math
import os
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
DATA_DIR = os.path.normpath(os.path.join(HERE, "..", "..", "testing", "data", "combined-slip"))

# The published tires of the reference table, by file stem.
TIRES = ["car-185-80R14", "military-37x12.5R16.5", "suv-265-70R18", "car-245-40R18-opentire"]

# The grid: camber [deg], load as a share of Fz0, slip angle [deg], slip
# ratio; the forward speed of My [m/s] cycles with the camber.
CAMBERS = [-4.0, 0.0, 3.0]
SPEEDS = [8.0, 16.7, 27.0]
LOAD_SHARES = [0.35, 0.8, 1.0, 1.6]
SLIP_ANGLES = [-12.0, -6.0, -2.0, -0.5, 0.0, 1.0, 4.0, 9.0]
SLIP_RATIOS = [-0.4, -0.12, -0.03, 0.0, 0.015, 0.07, 0.25]

COLUMNS = ["tire", "camber", "load", "slip_angle", "slip_ratio", "speed", "Fx", "Fy", "Mz", "Mx", "My"]


def read_coefficients(path):
    """A coefficient file: [section] lines, key=value lines, ';' comments.
    Keys are returned in upper case."""
    values = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line or line[0] in ";[" or "=" not in line:
                continue
            key, text = line.split("=", 1)
            values[key.strip().upper()] = float(text)
    return values


def load_tire(stem):
    return read_coefficients(os.path.join(DATA_DIR, stem + ".txt"))


def magic_sine(b, c, d, e, x):
    """D sin(C atan(B x - E (B x - atan(B x))))."""
    bx = b * x
    return d * np.sin(c * np.arctan(bx - e * (bx - np.arctan(bx))))


def magic_cosine(b, c, e, x):
    """cos(C atan(B x - E (B x - atan(B x))))."""
    bx = b * x
    return np.cos(c * np.arctan(bx - e * (bx - np.arctan(bx))))


def evaluate(p, camber_deg, fz, alpha_deg, kappa, vx):
    """Fx, Fy, Mz, Mx, My (and intermediate quantities) for arrays of points.

    `p`: coefficients by upper-case key (R0, FZ0, LONGVL and the .tir keys).
    """
    g = np.radians(np.asarray(camber_deg, dtype=float))
    a = np.radians(np.asarray(alpha_deg, dtype=float))
    k = np.asarray(kappa, dtype=float)
    fz = np.asarray(fz, dtype=float)
    vx = np.asarray(vx, dtype=float)
    fz0 = p["FZ0"]
    r0 = p["R0"]
    dfz = (fz - fz0) / fz0

    # Pure longitudinal slip.
    shx = p["PHX1"] + p["PHX2"] * dfz
    kx_s = k + shx
    cx = p["PCX1"]
    mux = (p["PDX1"] + p["PDX2"] * dfz) * (1.0 - p["PDX3"] * g ** 2)
    dx = mux * fz
    ex = np.minimum((p["PEX1"] + p["PEX2"] * dfz + p["PEX3"] * dfz ** 2) * (1.0 - p["PEX4"] * np.sign(kx_s)), 1.0)
    kxk = fz * (p["PKX1"] + p["PKX2"] * dfz) * np.exp(p["PKX3"] * dfz)
    bx = kxk / (cx * dx)
    svx = fz * (p["PVX1"] + p["PVX2"] * dfz)
    fx0 = magic_sine(bx, cx, dx, ex, kx_s) + svx

    # Pure side slip.
    shy = p["PHY1"] + p["PHY2"] * dfz + p["PHY3"] * g
    ay = a + shy
    cy = p["PCY1"]
    muy = (p["PDY1"] + p["PDY2"] * dfz) * (1.0 - p["PDY3"] * g ** 2)
    dy = muy * fz
    ey = np.minimum((p["PEY1"] + p["PEY2"] * dfz) * (1.0 - (p["PEY3"] + p["PEY4"] * g) * np.sign(ay)), 1.0)
    kya = p["PKY1"] * fz0 * np.sin(2.0 * np.arctan(fz / (p["PKY2"] * fz0))) * (1.0 - p["PKY3"] * np.abs(g))
    by = kya / (cy * dy)
    svy = fz * (p["PVY1"] + p["PVY2"] * dfz + (p["PVY3"] + p["PVY4"] * dfz) * g)
    fy0 = magic_sine(by, cy, dy, ey, ay) + svy

    # Combined slip, longitudinal force.
    shxa = p["RHX1"]
    a_s = a + shxa
    bxa = p["RBX1"] * np.cos(np.arctan(p["RBX2"] * k))
    cxa = p["RCX1"]
    exa = np.minimum(p["REX1"] + p["REX2"] * dfz, 1.0)
    gxa = magic_cosine(bxa, cxa, exa, a_s) / magic_cosine(bxa, cxa, exa, shxa)
    fx = gxa * fx0

    # Combined slip, lateral force.
    shyk = p["RHY1"] + p["RHY2"] * dfz
    k_s = k + shyk
    byk = p["RBY1"] * np.cos(np.arctan(p["RBY2"] * (a - p["RBY3"])))
    cyk = p["RCY1"]
    eyk = np.minimum(p["REY1"] + p["REY2"] * dfz, 1.0)
    gyk = magic_cosine(byk, cyk, eyk, k_s) / magic_cosine(byk, cyk, eyk, shyk)
    dvyk = muy * fz * (p["RVY1"] + p["RVY2"] * dfz + p["RVY3"] * g) * np.cos(np.arctan(p["RVY4"] * a))
    svyk = dvyk * np.sin(p["RVY5"] * np.arctan(p["RVY6"] * k))
    fy = gyk * fy0 + svyk

    # Aligning moment: pure-slip trail and residual moment terms...
    sht = p["QHZ1"] + p["QHZ2"] * dfz + (p["QHZ3"] + p["QHZ4"] * dfz) * g
    a_t = a + sht
    shf = shy + svy / kya
    a_r = a + shf
    bt = (p["QBZ1"] + p["QBZ2"] * dfz + p["QBZ3"] * dfz ** 2) * (1.0 + p["QBZ4"] * g + p["QBZ5"] * np.abs(g))
    ct = p["QCZ1"]
    dt = fz * (p["QDZ1"] + p["QDZ2"] * dfz) * (1.0 + p["QDZ3"] * g + p["QDZ4"] * g ** 2) * (r0 / fz0)
    et = np.minimum((p["QEZ1"] + p["QEZ2"] * dfz + p["QEZ3"] * dfz ** 2)
                    * (1.0 + (p["QEZ4"] + p["QEZ5"] * g) * (2.0 / math.pi) * np.arctan(bt * ct * a_t)), 1.0)
    br = p["QBZ9"] + p["QBZ10"] * by * cy
    dr = fz * r0 * (p["QDZ6"] + p["QDZ7"] * dfz + (p["QDZ8"] + p["QDZ9"] * dfz) * g)
    # ... at the equivalent slip angles of combined slip.
    ratio_k = (kxk / kya) * k
    a_t_eq = np.sqrt(a_t ** 2 + ratio_k ** 2) * np.sign(a_t)
    a_r_eq = np.sqrt(a_r ** 2 + ratio_k ** 2) * np.sign(a_r)
    trail = dt * magic_cosine(bt, ct, et, a_t_eq) * np.cos(a)
    mzr = dr * np.cos(np.arctan(br * a_r_eq)) * np.cos(a)
    s = r0 * (p["SSZ1"] + p["SSZ2"] * (fy / fz0) + (p["SSZ3"] + p["SSZ4"] * dfz) * g)
    mz = -trail * (fy - svyk) + mzr + s * fx

    # Overturning and rolling-resistance moments.
    mx = r0 * fz * (p["QSX1"] - p["QSX2"] * g + p["QSX3"] * fy / fz0)
    v = vx / p["LONGVL"]
    my = -np.sign(vx) * r0 * fz * (p["QSY1"] + p["QSY2"] * fx / fz0 + p["QSY3"] * np.abs(v) + p["QSY4"] * v ** 4)

    return {"Fx0": fx0, "Fy0": fy0, "Gxa": gxa, "Gyk": gyk, "SVyk": svyk,
            "Fx": fx, "Fy": fy, "Mz": mz, "Mx": mx, "My": my}


def grid(p):
    """The grid points of one tire as arrays (camber, load, slip angle, slip ratio, speed)."""
    rows = []
    for camber, speed in zip(CAMBERS, SPEEDS):
        for share in LOAD_SHARES:
            for alpha in SLIP_ANGLES:
                for kappa in SLIP_RATIOS:
                    rows.append((camber, share * p["FZ0"], alpha, kappa, speed))
    return [np.array(column) for column in zip(*rows)]


def table_lines():
    lines = ["# Combined-slip reference values of published tires, written by",
             "# bench/peer/combined_peer.py (numpy, from the published equations).",
             "# Angles in degrees, load in N, speed in m/s, forces in N, moments in N m.",
             "# " + ";".join(COLUMNS)]
    for stem in TIRES:
        p = load_tire(stem)
        camber, load, alpha, kappa, speed = grid(p)
        out = evaluate(p, camber, load, alpha, kappa, speed)
        for i in range(len(camber)):
            values = [camber[i], load[i], alpha[i], kappa[i], speed[i]] + \
                     [out[name][i] for name in COLUMNS[6:]]
            lines.append(";".join([stem] + [repr(float(v)) for v in values]))
    return lines


def read_table(path):
    with open(path) as f:
        return [line.rstrip("\n") for line in f]


def table_differences(stored, fresh, rel=1e-12):
    """The data lines of `stored` that differ from `fresh`: another grid
    point, or a value further than `rel` (relative, at least of 1) from the
    fresh one.  Comment lines are skipped; a missing or extra line counts."""
    stored = [line for line in stored if not line.startswith("#")]
    fresh = [line for line in fresh if not line.startswith("#")]
    bad = []
    for old, new in zip(stored, fresh):
        a, b = old.split(";"), new.split(";")
        if a[:6] != b[:6] or len(a) != len(b) or any(
                abs(float(x) - float(y)) > rel * max(abs(float(y)), 1.0) for x, y in zip(a[6:], b[6:])):
            bad.append(old)
    longer = stored if len(stored) > len(fresh) else fresh
    bad.extend(longer[min(len(stored), len(fresh)):])
    return bad


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("--write", metavar="FILE", help="write the reference table")
    group.add_argument("--check", metavar="FILE", help="compare FILE with a fresh evaluation")
    args = parser.parse_args(argv[1:])
    lines = table_lines()
    if args.write:
        with open(args.write, "w") as f:
            f.write("\n".join(lines) + "\n")
        return 0
    bad = table_differences(read_table(args.check), lines)
    for line in bad[:10]:
        print("differs: " + line)
    if bad:
        print("%s: %d lines differ from a fresh evaluation" % (args.check, len(bad)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
