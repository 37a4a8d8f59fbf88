#!/usr/bin/python3
"""The benchmark's peer: the Morvex Magic Formula costs in numpy, fitted with scipy.

This program is only used by the benchmark (bench/peer/compare.py); the
product never runs it.  It implements the three channels exactly as the
header comment of tiremodel/MagicFormula.h writes them, vectorised over all
points of a data file, and times on the same cases as morvex-bench:

  - the cost (plain sum of squared residuals) at given coefficients, so the
    harness can check that both sides compute the same number;
  - cost evaluations per second of the vectorised cost;
  - scipy.optimize.least_squares with method "lm" and "trf" on the residual
    vector (2-point Jacobian) from a given start and free set;
  - scipy.optimize.differential_evolution on the channel cost with the
    evaluation count of the Morvex search.

Interface: one JSON request on stdin (or in the file named by the first
argument), one JSON answer on stdout.  The request is what morvex-bench
writes with --peer-json; see compare.py for the fields used.  Costs in the
answer are sums of squares (not scipy's half sum); non-finite numbers are
written as null.

Run with /usr/bin/python3 (Debian's numpy and scipy).
"""

import json
import math
import sys
import time

import numpy as np
import scipy
import scipy.optimize

# ---------------------------------------------------------------- data files

LOAD_CASE = "LOAD_CASE"


def split_lines(text):
    """Lines at CR LF, LF or CR; a final line break adds no empty line."""
    lines = text.replace("\r\n", "\n").replace("\r", "\n").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return lines


def split_fields(line):
    """Fields separated by ';', by blanks (codes 1-32) or both; quoted fields
    with doubled quotes inside; a NUL ends the line."""
    line = line.split("\0", 1)[0]
    fields = []
    i, n = 0, len(line)

    def blank(ch):
        return 1 <= ord(ch) <= 32

    while i < n and blank(line[i]):
        i += 1
    while i < n:
        if line[i] == '"':
            i += 1
            text = []
            while i < n:
                if line[i] == '"':
                    if i + 1 < n and line[i + 1] == '"':
                        text.append('"')
                        i += 2
                        continue
                    i += 1
                    break
                text.append(line[i])
                i += 1
            fields.append("".join(text))
        else:
            start = i
            while i < n and line[i] != ";" and not blank(line[i]):
                i += 1
            fields.append(line[start:i])
        while i < n and blank(line[i]):
            i += 1
        if i < n and line[i] == ";":
            i += 1
            while i < n and blank(line[i]):
                i += 1
            if i == n:
                fields.append("")  # a ';' at the very end gives an empty last field
    return fields


def to_float(text):
    value = text.strip()
    if not value:
        raise ValueError("'%s' is not a number" % text)
    return float(value)


def read_data(path):
    """The load cases of a tire data file as flat point arrays.

    Returns a dict of numpy arrays, one entry per point in the order of the
    Morvex cost pass (case by case, load by load, slip by slip): camber and
    slip as in the file, load, measured value, and the index of the point's
    (case, load) column.
    """
    with open(path, "rb") as f:
        lines = split_lines(f.read().decode("latin-1"))
    starts = [i for i, line in enumerate(lines) if LOAD_CASE in line]
    camber, load, slip, measured, column = [], [], [], [], []
    columns = 0
    for k, start in enumerate(starts):
        end = starts[k + 1] if k + 1 < len(starts) else len(lines)
        if start + 2 >= len(lines):
            raise ValueError("%s: load case %d is cut short" % (path, k + 1))
        case_camber = to_float(lines[start + 1])
        loads = [to_float(f) for f in split_fields(lines[start + 2])]
        rows = []
        for r in range(start + 3, end):
            fields = split_fields(lines[r])
            if len(fields) < len(loads) + 1:
                raise ValueError("%s: line %d holds %d fields, %d needed"
                                 % (path, r + 1, len(fields), len(loads) + 1))
            rows.append([to_float(f) for f in fields[: len(loads) + 1]])
        for j, fz in enumerate(loads):
            for row in rows:
                camber.append(case_camber)
                load.append(fz)
                slip.append(row[0])
                measured.append(row[j + 1])
                column.append(columns)
            columns += 1
    return {
        "camber": np.array(camber, dtype=float),
        "load": np.array(load, dtype=float),
        "slip": np.array(slip, dtype=float),
        "measured": np.array(measured, dtype=float),
        "column": np.array(column, dtype=np.intp),
    }


# -------------------------------------------------------------- the models
#
# Every expression below is written in the order of MagicFormula.h so that
# numpy evaluates the same double operations left to right.  The per-load
# terms are computed once per (case, load) column and spread to the points
# by fancy indexing; nothing that depends on the slip is hoisted.

TINY = 1e-12                       # guard threshold and substitute divisor
STIFF_CAP = 1e12                   # Bx when Cx or Dx is within TINY of 0
EXP4 = 54.598150033144236          # e^4, used once PKx3*dfz reaches 10000
EXP_LIMIT = 10000.0
TWO_OVER_PI = 0.6366197723675813431


def deg_to_rad(x):
    return (x * math.pi) / 180.0


def clamp_curvature(e):
    return np.minimum(e, 1.0)


def load_change(fz, fz0):
    if abs(fz0) <= TINY:
        return (fz - TINY) / TINY
    return (fz - fz0) / fz0


def lateral_load_terms(c, gamma, fz, dfz, fz0_quotient, guarded):
    shy = c["PHy1"] + c["PHy2"] * dfz + c["PHy3"] * gamma
    svy = fz * (c["PVy1"] + c["PVy2"] * dfz + (c["PVy3"] + c["PVy4"] * dfz) * gamma)
    dy = fz * (c["PDy1"] + c["PDy2"] * dfz) * (1.0 - c["PDy3"] * (gamma * gamma))
    cy = c["PCy1"]
    e_base = c["PEy1"] + c["PEy2"] * dfz
    e_asym = c["PEy3"] + c["PEy4"] * gamma
    k_load = c["PKy2"] * fz0_quotient
    quotient = fz / TINY if (guarded and abs(k_load) <= TINY) else fz / k_load
    kya = c["PKy1"] * c["Fz0"] * np.sin(2.0 * np.arctan(quotient)) * (1.0 - c["PKy3"] * np.abs(gamma))
    cd = cy * dy
    if guarded:
        cd = np.where(np.abs(cd) <= TINY, TINY, cd)
    by = kya / cd
    return {"SHy": shy, "SVy": svy, "Dy": dy, "Cy": cy, "e_base": e_base, "e_asym": e_asym,
            "Kya": kya, "By": by}


def lateral_points(t, alpha):
    alpha_y = alpha + t["SHy"]
    ey = clamp_curvature(t["e_base"] * (1.0 - t["e_asym"] * np.sign(alpha_y)))
    b_alpha = t["By"] * alpha_y
    return t["Dy"] * np.sin(t["Cy"] * np.arctan(b_alpha - ey * (b_alpha - np.arctan(b_alpha)))) + t["SVy"]


class Channel:
    """One channel's model over one data file, with coefficients by name.

    `fixed` holds every coefficient the model reads (for the aligning moment
    also Fz0, R0 and the lateral ones); `free` names the coefficients that
    a vector x supplies, in this order.
    """

    def __init__(self, name, data, fixed, free):
        self.name = name
        self.free = list(free)
        self.fixed = dict(fixed)
        self.measured = data["measured"]
        loaded = data["load"] != 0.0
        self.loaded = loaded
        # Load-0 points are predicted as 0 without evaluating anything.
        self.all_loaded = bool(loaded.all())
        column = data["column"][loaded]
        # Per column: camber in radians and load; per point: slip, column index.
        n_columns = int(data["column"].max()) + 1 if len(column) else 0
        col_camber = np.zeros(n_columns)
        col_load = np.zeros(n_columns)
        col_camber[data["column"]] = data["camber"]
        col_load[data["column"]] = data["load"]
        used = np.unique(column)
        remap = np.full(n_columns, -1, dtype=np.intp)
        remap[used] = np.arange(len(used))
        self.index = remap[column]
        self.gamma = deg_to_rad(col_camber[used])
        self.fz = col_load[used]
        slip = data["slip"][loaded]
        self.slip = slip if name == "longitudinal" else deg_to_rad(slip)
        self.predicted = np.zeros_like(self.measured)
        self.coeffs = dict(self.fixed)

    def with_vector(self, x):
        c = self.coeffs
        for name, value in zip(self.free, x):
            c[name] = float(value)
        return c

    def predict(self, c):
        idx, alpha, gamma, fz = self.index, self.slip, self.gamma, self.fz
        if self.name == "lateral":
            dfz = load_change(fz, c["Fz0"])
            t = lateral_load_terms(c, gamma, fz, dfz, c["Fz0"], True)
            t = {k: (v[idx] if isinstance(v, np.ndarray) else v) for k, v in t.items()}
            return lateral_points(t, alpha)
        if self.name == "aligning":
            fz0 = c["Fz0"]
            r0 = c["R0"]
            dfz = load_change(fz, fz0)
            lat = lateral_load_terms(c, gamma, fz, dfz, fz0, False)
            sht = c["QHz1"] + c["QHz2"] * dfz + (c["QHz3"] + c["QHz4"] * dfz) * gamma
            shf = lat["SHy"] + lat["SVy"] / lat["Kya"]
            bt = (c["QBz1"] + c["QBz2"] * dfz + c["QBz3"] * (dfz * dfz)) * \
                 (1.0 + c["QBz4"] * gamma + c["QBz5"] * np.abs(gamma))
            ct = c["QCz1"]
            btct = bt * ct
            dt = fz * (c["QDz1"] + c["QDz2"] * dfz) * \
                 (1.0 + c["QDz3"] * gamma + c["QDz4"] * (gamma * gamma)) * r0 / fz0
            e_base = c["QEz1"] + c["QEz2"] * dfz + c["QEz3"] * (dfz * dfz)
            e_slope = (c["QEz4"] + c["QEz5"] * gamma) * TWO_OVER_PI
            br = c["QBz9"] + c["QBz10"] * lat["By"] * lat["Cy"]
            dr = fz * (c["QDz6"] + c["QDz7"] * dfz + (c["QDz8"] + c["QDz9"] * dfz) * gamma) * r0
            lat = {k: (v[idx] if isinstance(v, np.ndarray) else v) for k, v in lat.items()}
            fy0 = lateral_points(lat, alpha)
            alpha_t = alpha + sht[idx]
            alpha_r = alpha + shf[idx]
            et = clamp_curvature(e_base[idx] * (1.0 + e_slope[idx] * np.arctan(btct[idx] * alpha_t)))
            bt_p = bt[idx]
            b_alpha = bt_p * alpha_t
            cos_alpha = np.cos(alpha)
            trail = dt[idx] * np.cos(ct * np.arctan(b_alpha - et * (b_alpha - np.arctan(b_alpha)))) * cos_alpha
            residual = dr[idx] * np.cos(np.arctan(br[idx] * alpha_r)) * cos_alpha
            return -trail * fy0 + residual
        # longitudinal
        dfz = load_change(fz, c["Fz0"])
        shx = c["PHx1"] + c["PHx2"] * dfz
        svx = fz * (c["PVx1"] + c["PVx2"] * dfz)
        cx = c["PCx1"]
        dx = fz * (c["PDx1"] + c["PDx2"] * dfz) * (1.0 - c["PDx3"] * (gamma * gamma))
        e_base = c["PEx1"] + c["PEx2"] * dfz + c["PEx3"] * (dfz * dfz)
        exponent = c["PKx3"] * dfz
        # The exponential is only taken below the limit, as in Morvex (and
        # may overflow there).
        past_limit = exponent >= EXP_LIMIT
        growth = np.where(past_limit, EXP4, np.exp(np.where(past_limit, 0.0, exponent)))
        kx = fz * (c["PKx1"] + c["PKx2"] * dfz) * growth
        # Neither a guarded quotient nor an unused branch may divide by zero.
        if abs(cx) <= TINY:
            bx = np.full_like(dx, STIFF_CAP)
        else:
            capped = np.abs(dx) <= TINY
            bx = np.where(capped, STIFF_CAP, kx / cx / np.where(capped, 1.0, dx))
        kappa_x = alpha + shx[idx]
        ex = clamp_curvature(e_base[idx] * (1.0 - c["PEx4"] * np.sign(kappa_x)))
        b_kappa = bx[idx] * kappa_x
        return dx[idx] * np.sin(cx * np.arctan(b_kappa - ex * (b_kappa - np.arctan(b_kappa)))) + svx[idx]

    def residuals(self, x):
        """measured - predicted for every point; x supplies the free coefficients.

        Morvex raises a fault for any division by zero, overflow or invalid
        operation in an evaluation, even one whose result would still be
        finite (atan of an infinite quotient, say); here such an evaluation
        gives residuals of inf, so the cost is inf.  Underflow is silent on
        both sides.
        """
        try:
            with np.errstate(divide="raise", over="raise", invalid="raise", under="ignore"):
                model = self.predict(self.with_vector(x))
        except FloatingPointError:
            return np.full_like(self.measured, math.inf)
        if self.all_loaded:
            return self.measured - model
        predicted = self.predicted.copy()
        predicted[self.loaded] = model
        return self.measured - predicted

    def cost(self, x):
        """The plain sum of squared residuals; inf where Morvex raises a fault."""
        r = self.residuals(x)
        with np.errstate(all="ignore"):
            s = float(np.dot(r, r))
        return s if math.isfinite(s) else math.inf


# ------------------------------------------------------------------ the runs

def finite_or_none(v):
    return v if (v is not None and math.isfinite(v)) else None


def vector(coefficients, free):
    return np.array([coefficients[n] for n in free], dtype=float)


def time_cost(ch, x, min_seconds):
    """Cost evaluations per second: best of 3 timed batches of at least min_seconds."""
    ch.cost(x)
    n = 1
    while True:
        t0 = time.perf_counter()
        for _ in range(n):
            ch.cost(x)
        dt = time.perf_counter() - t0
        if dt >= min_seconds / 3:
            break
        n *= 2
    best = dt / n
    for _ in range(2):
        t0 = time.perf_counter()
        for _ in range(n):
            ch.cost(x)
        best = min(best, (time.perf_counter() - t0) / n)
    return 1.0 / best


def run_least_squares(ch, x0, method, max_nfev, tol):
    t0 = time.perf_counter()
    try:
        res = scipy.optimize.least_squares(ch.residuals, x0, method=method, ftol=tol, xtol=tol,
                                           gtol=tol, max_nfev=max_nfev)
    except Exception as error:  # a start that scipy refuses (non-finite residuals)
        return {"method": method, "seconds": time.perf_counter() - t0, "cost": None,
                "nfev": None, "njev": None, "status": None, "converged": False,
                "message": str(error)}
    seconds = time.perf_counter() - t0
    cost = ch.cost(res.x)
    return {"method": method, "seconds": seconds, "cost": finite_or_none(cost),
            "nfev": int(res.nfev), "njev": None if res.njev is None else int(res.njev),
            "status": int(res.status), "converged": bool(res.status > 0),
            "message": str(res.message)}


def run_de(ch, x0, lower, upper, population, generations, mutation, recombination, seed):
    """scipy's differential evolution with the Morvex evaluation count.

    Morvex evaluates its population once and then `generations` times
    (population x (generations + 1) evaluations); scipy evaluates the initial
    population and one population per iteration, so maxiter = generations and
    an explicit initial population of the same size give the same count.  The
    first member is the start vector (clipped into the bounds by scipy),
    the others are uniform in the bounds, as in Morvex.  The strategy closest
    to the Morvex search is scipy's current-to-best with exponential
    crossover; its single mutation weight takes the Morvex weight of the
    random members.  Only the time per evaluation is compared: the two
    searches differ in detail (scipy keeps trials inside the bounds).
    """
    rng = np.random.default_rng(seed)
    lower = np.asarray(lower, dtype=float)
    upper = np.asarray(upper, dtype=float)
    init = lower + rng.random((population, len(lower))) * (upper - lower)
    init[0] = np.clip(x0, lower, upper)
    evaluations = 0

    def cost(x):
        nonlocal evaluations
        evaluations += 1
        return ch.cost(x)

    t0 = time.perf_counter()
    res = scipy.optimize.differential_evolution(
        cost, list(zip(lower, upper)), strategy="currenttobest1exp", maxiter=generations,
        init=init, mutation=mutation, recombination=recombination, tol=0, atol=0, polish=False, seed=seed,
        updating="immediate")
    seconds = time.perf_counter() - t0
    return {"seconds": seconds, "nfev": int(res.nfev), "evaluations": evaluations,
            "cost": finite_or_none(float(res.fun)), "message": str(res.message)}


def run(request):
    answer = {"scipy": scipy.__version__, "numpy": np.__version__, "channels": []}
    settings = request.get("peer", {})
    tol = float(settings.get("tolerance", 1e-12))
    cost_seconds = float(settings.get("cost_seconds", 1.0))
    for entry in request["channels"]:
        name = entry["channel"]
        data = read_data(entry["data"])
        out = {"channel": name, "points": int(len(data["measured"]))}

        # Cost at fixed coefficient sets, for the agreement check.
        out["checks"] = []
        for check in entry["checks"]:
            ch = Channel(name, data, check["coefficients"], [])
            out["checks"].append({"label": check["label"], "cost": ch.cost([])})

        # Cost evaluations per second.
        speed = entry["speed"]
        ch = Channel(name, data, speed["coefficients"], [])
        out["cost_evals_per_second"] = time_cost(ch, [], cost_seconds)

        # Least-squares fits.
        out["cases"] = []
        for case in entry["cases"]:
            ch = Channel(name, data, case["coefficients"], case["free"])
            x0 = vector(case["coefficients"], case["free"])
            n = len(x0)
            fits = []
            for method in ("lm", "trf"):
                # "lm" counts the Jacobian's evaluations in max_nfev, "trf" does not.
                max_nfev = int(settings.get("lm_max_nfev_per_n1", 400)) * (n + 1) if method == "lm" \
                    else int(settings.get("trf_max_nfev", 400))
                fits.append(run_least_squares(ch, x0, method, max_nfev, tol))
            out["cases"].append({"label": case["label"], "start_cost": ch.cost(x0), "fits": fits})

        # Differential evolution.
        de = entry.get("de")
        if de:
            ch = Channel(name, data, de["coefficients"], de["free"])
            x0 = vector(de["coefficients"], de["free"])
            out["de"] = run_de(ch, x0, de["min"], de["max"], int(de["population"]),
                               int(de["generations"]), float(de.get("gain_r", 0.8)),
                               float(de.get("cr", 0.9)), int(settings.get("seed", 0)))
        answer["channels"].append(out)
    return answer


def json_safe(value):
    """The answer with every non-finite float replaced by None (JSON null)."""
    if isinstance(value, dict):
        return {k: json_safe(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [json_safe(v) for v in value]
    if isinstance(value, float) and not math.isfinite(value):
        return None
    return value


def main(argv):
    if len(argv) > 1 and argv[1] not in ("-", "--help", "-h"):
        with open(argv[1]) as f:
            request = json.load(f)
    elif len(argv) > 1 and argv[1] in ("--help", "-h"):
        print(__doc__)
        return 0
    else:
        request = json.load(sys.stdin)
    answer = run(request)
    json.dump(json_safe(answer), sys.stdout, allow_nan=False, indent=1)
    sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
